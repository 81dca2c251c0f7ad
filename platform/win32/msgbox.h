// Modal message boxes. Where there is a display a box is a dialog of the
// dialog model (platform/win32/dialog.h), drawn by its view: it ends on a stop
// signal, the desktop's quit or the close of the game's window as every dialog
// does, so a box never keeps the program from ending. SDL's own message box,
// which waits for a click whatever happens, is kept for when no dialog window
// can be made. Headless runs (the offscreen and dummy video drivers) and tests
// never wait for a click: the box is captured and answered at once.
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
// gives the code and Win32_MessageBoxError the system's text. A box ended by a
// stop (below) answers its escape button: Cancel, No, or OK for a box with OK
// alone. Once a stop signal has come, no box is shown any more: each answers so
// at once.
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);
const char* Win32_MessageBoxError();
// How the last box ended: 0 answered by the player; the number of the stop
// signal that ended it; WIN32_DIALOG_QUIT (platform/win32/dialog.h) when the
// desktop's quit or the close of the game's window did.
int Win32_MessageBoxStop();

// Test seam.
struct Win32MessageBox {
    std::string text;
    std::string caption;
    UINT type;
    int answer;  // what MessageBoxA answered
    int stop;    // as Win32_MessageBoxStop
};
struct Win32MessageBoxSeam {
    bool capture = false;  // capture instead of showing
    int answer = IDOK;     // what a captured box answers; 0 fails it
    // A captured box is ended by this stop signal while it is up: the signal
    // is raised for real (the stop-signal handlers must be installed) and the
    // box answers its escape button.
    int stopSignal = 0;
    // Boxes that are not captured are shown in the view even under a headless
    // driver (its window hidden), so that a test can end one as the player or
    // the desktop would (Win32DialogSeam::eachFrame).
    bool view = false;
    std::vector<Win32MessageBox> shown;  // every box, captured or shown
};
Win32MessageBoxSeam& Win32_MessageBoxSeamReset();  // captures from now on
Win32MessageBoxSeam& Win32_MessageBoxSeam();
// Shows boxes again (headless drivers still only capture them).
void Win32_MessageBoxSeamDisable();
