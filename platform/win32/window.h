// Window classes and windows over SDL2: a registered class names the window
// procedure; a window made from it is an SDL window that can carry an OpenGL
// context (the Direct3D stand-in draws into it) and whose events reach the
// procedure as window messages (platform/win32/messages.h). Sizes given to
// CreateWindowExA are client sizes: the desktop draws any frame outside them.
#pragma once

#include <cstdint>

#include "platform/win32/messages.h"

struct SDL_Window;

using ATOM = uint16_t;
using HMENU = struct HMENU__*;
using HICON = struct HICON__*;
using HCURSOR = struct HCURSOR__*;
using HBRUSH = uintptr_t;  // a brush handle or a system colour index + 1

struct WNDCLASSA {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    const char* lpszMenuName;
    const char* lpszClassName;
};

// Class styles.
constexpr UINT CS_VREDRAW = 0x0001;
constexpr UINT CS_HREDRAW = 0x0002;

// Window styles.
constexpr DWORD WS_OVERLAPPED = 0x00000000;
constexpr DWORD WS_MINIMIZEBOX = 0x00020000;
constexpr DWORD WS_MAXIMIZEBOX = 0x00010000;
constexpr DWORD WS_THICKFRAME = 0x00040000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_OVERLAPPEDWINDOW =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;

// System metrics: the size of a full-screen window's client area on the
// primary display (the desktop's usable area).
constexpr int SM_CXFULLSCREEN = 16;
constexpr int SM_CYFULLSCREEN = 17;

// 0 when the class has no name or no procedure; registering a name again
// replaces its procedure and style.
ATOM RegisterClassA(const WNDCLASSA* windowClass);
// An SDL window of the registered class: visible with WS_VISIBLE, resizable
// with WS_THICKFRAME. Null (GetLastError tells why) for an unknown class or
// when SDL cannot make it.
HWND CreateWindowExA(DWORD exStyle, const char* className, const char* title, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE instance, void* param);
// Drops the window's queued messages and closes its SDL window.
BOOL DestroyWindow(HWND window);
// Client sizes are window sizes here, so the rectangle stays as it is.
BOOL AdjustWindowRectEx(RECT* rect, DWORD style, BOOL menu, DWORD exStyle);
BOOL GetClientRect(HWND window, RECT* rect);
BOOL ClientToScreen(HWND window, POINT* point);
BOOL UpdateWindow(HWND window);
int GetSystemMetrics(int index);

// The SDL window behind a handle, for the stand-ins that draw into it; null for
// a window without one.
SDL_Window* Win32_GetSDLWindow(HWND window);
// A window that only takes messages (no SDL window): for callers without a
// screen, such as tests of a window procedure.
HWND Win32_CreateMessageWindow(WNDPROC proc);
