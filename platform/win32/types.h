// The handle types the Windows calls pass around. Opaque pointers: nothing
// here is ever dereferenced outside its own stand-in. A window handle is the
// SDL window itself.
#pragma once

struct SDL_Window;

using HANDLE = void*;
using HINSTANCE = struct HINSTANCE__*;
using HWND = SDL_Window*;
