// The multimedia library's joystick calls over SDL joysticks 0 and 1: positions
// 0..65535 per axis (centre 32767/32768), the first four buttons as bits.
#pragma once

#include <cstdint>

#include "platform/win32/basetypes.h"

constexpr UINT JOYSTICKID1 = 0;
constexpr UINT JOYSTICKID2 = 1;
constexpr UINT JOYERR_NOERROR = 0;
constexpr UINT JOYERR_PARMS = 165;
constexpr UINT JOYERR_UNPLUGGED = 167;
constexpr UINT JOY_BUTTON1 = 0x1;
constexpr UINT JOY_BUTTON2 = 0x2;
constexpr UINT JOY_BUTTON3 = 0x4;
constexpr UINT JOY_BUTTON4 = 0x8;

struct JOYINFO {
    UINT wXpos;
    UINT wYpos;
    UINT wZpos;
    UINT wButtons;
};

// Joysticks the driver can serve (attached or not).
UINT joyGetNumDevs();
// JOYERR_NOERROR with the position, JOYERR_UNPLUGGED when no joystick is
// attached there, JOYERR_PARMS for a bad id or a null record.
UINT joyGetPos(UINT id, JOYINFO* info);

// Test seam: while enabled, two scripted sticks replace SDL's.
struct Win32JoySeam {
    struct Stick {
        bool attached = false;
        JOYINFO info{32767, 32767, 32767, 0};
        int failReads = 0;  // the next reads answer JOYERR_UNPLUGGED
    };
    Stick sticks[2];
    int reads = 0;  // joyGetPos calls so far
};
Win32JoySeam& Win32_JoySeamReset();
Win32JoySeam& Win32_JoySeam();
void Win32_JoySeamDisable();
