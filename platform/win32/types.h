// The handle types the Windows calls pass around. Opaque pointers: nothing
// here is ever dereferenced outside its own stand-in.
#pragma once

using HANDLE = void*;
using HINSTANCE = struct HINSTANCE__*;
using HWND = struct HWND__*;
