// The handle types the Windows calls pass around. Opaque pointers: nothing
// here is ever dereferenced outside its own stand-in. A window handle names a
// window of platform/win32/window.h; the SDL window behind it stays there.
#pragma once

using HANDLE = void*;
using HINSTANCE = struct HINSTANCE__*;
using HWND = struct HWND__*;
