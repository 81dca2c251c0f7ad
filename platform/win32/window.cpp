#include "platform/win32/window.h"

#include <SDL.h>
#include <strings.h>

#include <string>
#include <vector>

#include "platform/win32/x11.h"

namespace {

struct WindowClass {
    std::string name;
    UINT style;
    WNDPROC proc;
};

std::vector<WindowClass>& Classes() {
    static std::vector<WindowClass> classes;
    return classes;
}

// Class names match without regard to case.
WindowClass* FindClass(const char* name) {
    if (!name) return nullptr;
    for (WindowClass& c : Classes())
        if (strcasecmp(c.name.c_str(), name) == 0) return &c;
    return nullptr;
}

constexpr uint32_t ERROR_CANNOT_FIND_WND_CLASS = 1407;

// Windows carry OpenGL. Its driver, once loaded, stays for the life of the
// process (with the video subsystem that holds it): drivers are not made to be
// unloaded and loaded again with every window.
bool KeepGLDriverLoaded() {
    static int loaded = -1;
    if (loaded < 0) loaded = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0 && SDL_GL_LoadLibrary(nullptr) == 0 ? 1 : 0;
    return loaded == 1;
}

}  // namespace

ATOM RegisterClassA(const WNDCLASSA* windowClass) {
    if (!windowClass || !windowClass->lpszClassName || !*windowClass->lpszClassName || !windowClass->lpfnWndProc)
        return 0;
    WindowClass* c = FindClass(windowClass->lpszClassName);
    if (!c) {
        Classes().push_back(WindowClass{windowClass->lpszClassName, 0, nullptr});
        c = &Classes().back();
    }
    c->style = windowClass->style;
    c->proc = windowClass->lpfnWndProc;
    return static_cast<ATOM>(0xC000 + (c - Classes().data()));
}

HWND CreateWindowExA(DWORD /*exStyle*/, const char* className, const char* title, DWORD style, int x, int y, int width,
                     int height, HWND /*parent*/, HMENU /*menu*/, HINSTANCE /*instance*/, void* /*param*/) {
    const WindowClass* c = FindClass(className);
    if (!c) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    if (!KeepGLDriverLoaded() || SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        Win32_SetErrorFromSDL();
        return nullptr;
    }
    Uint32 flags = SDL_WINDOW_OPENGL | ((style & WS_VISIBLE) ? SDL_WINDOW_SHOWN : SDL_WINDOW_HIDDEN) |
                   ((style & WS_THICKFRAME) ? SDL_WINDOW_RESIZABLE : 0);
    SDL_Window* sdl = SDL_CreateWindow(title ? title : "", x, y, width, height, flags);
    if (!sdl) {
        Win32_SetErrorFromSDL();
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return nullptr;
    }
    HWND hwnd = Win32_AttachWindow(sdl, c->proc);
    if (!hwnd) {
        SDL_SetError("too many windows");
        Win32_SetErrorFromSDL();
        SDL_DestroyWindow(sdl);
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return nullptr;
    }
    Win32_WatchX11Window(hwnd, sdl);
    return hwnd;
}

BOOL DestroyWindow(HWND window) {
    if (!IsWindow(window)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    SDL_Window* sdl = Win32_GetSDLWindow(window);
    Win32_DetachWindow(window);
    if (sdl) {
        SDL_DestroyWindow(sdl);
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }
    return 1;
}

BOOL AdjustWindowRectEx(RECT* rect, DWORD, BOOL, DWORD) { return rect ? 1 : 0; }

BOOL GetClientRect(HWND window, RECT* rect) {
    if (!rect || !IsWindow(window)) return 0;
    int w = 0, h = 0;
    if (SDL_Window* sdl = Win32_GetSDLWindow(window)) SDL_GetWindowSize(sdl, &w, &h);
    *rect = RECT{0, 0, w, h};
    return 1;
}

BOOL ClientToScreen(HWND window, POINT* point) {
    if (!point || !IsWindow(window)) return 0;
    int x = 0, y = 0;
    if (SDL_Window* sdl = Win32_GetSDLWindow(window)) SDL_GetWindowPosition(sdl, &x, &y);
    point->x += x;
    point->y += y;
    return 1;
}

BOOL UpdateWindow(HWND window) { return IsWindow(window) ? 1 : 0; }

int GetSystemMetrics(int index) {
    if ((index != SM_CXFULLSCREEN && index != SM_CYFULLSCREEN) || !SDL_WasInit(SDL_INIT_VIDEO)) return 0;
    SDL_Rect usable{0, 0, 0, 0};
    if (SDL_GetDisplayUsableBounds(0, &usable) != 0) return 0;
    return index == SM_CXFULLSCREEN ? usable.w : usable.h;
}

HWND Win32_CreateMessageWindow(WNDPROC proc) { return Win32_AttachWindow(nullptr, proc); }
