// What only the X11 desktop does to our windows: it may destroy one from
// outside (a window manager's "kill", a tool), instead of asking it to close.
// The display library then reports errors about the window that is gone, and
// its default handler ends the process with status 1 and no word of ours. The
// errors about a watched window are kept from it, and the window gets
// WM_DESTROY (platform/win32/messages.h), so the program takes its orderly exit.
#pragma once

#include <cstdint>

#include "platform/win32/basetypes.h"

union SDL_Event;
struct SDL_Window;

// Starts watching an SDL window of ours under the X11 driver (nothing under others).
void Win32_WatchX11Window(HWND hwnd, SDL_Window* window);
// The window an SDL event says the desktop destroyed; null for any other event.
HWND Win32_X11DestroyedWindow(const SDL_Event& event);

// Test seam: the display library's error handler, and a window to watch under
// a made-up X11 id (no display needed). The handler answers 0 for an error it
// kept from the library's own handler, else what that handler answers (1
// without one).
int Win32_X11ErrorHandler(void* display, void* errorEvent);
void Win32_WatchX11WindowId(HWND hwnd, unsigned long xid);
