// Modal message boxes over SDL's message boxes. Headless runs (the offscreen
// and dummy video drivers) and tests never open one: the box is captured and
// answered at once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32/types.h"

using UINT = uint32_t;

constexpr UINT MB_OK = 0x0;
constexpr UINT MB_OKCANCEL = 0x1;
constexpr UINT MB_YESNO = 0x4;
constexpr UINT MB_ICONERROR = 0x10;
constexpr UINT MB_ICONQUESTION = 0x20;
constexpr UINT MB_ICONEXCLAMATION = 0x30;
constexpr UINT MB_ICONINFORMATION = 0x40;
constexpr UINT MB_TASKMODAL = 0x2000;
constexpr UINT MB_SETFOREGROUND = 0x10000;
constexpr UINT MB_TOPMOST = 0x40000;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// The button pressed, or 0 when the box could not be shown; then GetLastError
// gives the code and Win32_MessageBoxError the system's text.
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);
const char* Win32_MessageBoxError();

// Test seam.
struct Win32MessageBox {
    std::string text;
    std::string caption;
    UINT type;
};
struct Win32MessageBoxSeam {
    bool capture = false;  // capture instead of showing
    int answer = IDOK;     // what a captured box answers; 0 fails it
    std::vector<Win32MessageBox> shown;
};
Win32MessageBoxSeam& Win32_MessageBoxSeamReset();  // captures from now on
Win32MessageBoxSeam& Win32_MessageBoxSeam();
// Shows boxes again (headless drivers still only capture them).
void Win32_MessageBoxSeamDisable();
