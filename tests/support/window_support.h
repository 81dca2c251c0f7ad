// Windows on screen for tests: an SDL window under the offscreen driver, made
// through the window stand-in with the given procedure, hidden.
#pragma once

#include "platform/win32/window.h"

inline HWND OpenScreenWindow(WNDPROC proc, int width, int height) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = proc;
    wc.lpszClassName = "trevan test";
    if (!RegisterClassA(&wc)) return nullptr;
    return CreateWindowExA(0, "trevan test", "trevan test", 0, 0, 0, width, height, nullptr, nullptr, nullptr, nullptr);
}
