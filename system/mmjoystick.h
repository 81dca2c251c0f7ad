// Joysticks of the multimedia library, the fallback when DirectInput cannot be
// opened: each axis centred at start-up and given a self-calibrating range.
#pragma once

#include <cstdint>

// Reads the centre of joystick 1 or 2; always 1.
int S_CenterJoysticks(int joystick);
// The per-frame read into joyX, joyY and joyButtons of the InputState.
void S_ReadMMJoysticks();

// Per joystick and axis: centre, minimum, maximum and dead width.
struct MMJoyAxis {
    int32_t centre;
    int32_t min;
    int32_t max;
    int32_t dead;
};
extern MMJoyAxis g_MMJoyAxes[2][2];
