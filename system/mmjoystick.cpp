#include "system/mmjoystick.h"

#include <cstdint>

#include "base/log.h"
#include "platform/win32/mmjoystick.h"
#include "system/input.h"
#include "system/window.h"

MMJoyAxis g_MMJoyAxes[2][2];

namespace {

constexpr int32_t kStartRange = 1000;
constexpr int32_t kFullScale = 65535;

// The first joystick reads around 0; its raw positions are 0..65535. Kept in 32
// bits, so a full deflection stays on its own side.
int32_t Centred(UINT raw) { return static_cast<int32_t>(raw) - 32765; }

// Widens the range towards a value beyond it (a sixteenth of the excess per
// frame) and lets an unused end drift back by one per frame; the dead width
// follows the range. Returns the value held inside the range.
int32_t Calibrate(MMJoyAxis& a, int32_t v) {
    if (v > a.max) {
        a.max += (v - a.max) >> 4;
        v = a.max;
        a.dead = (a.max - a.min) / 10;
    } else if (a.dead + kStartRange < a.max) {
        a.max -= 1;
    }
    if (v < a.min) {
        a.min -= (a.min - v) >> 4;
        v = a.min;
        a.dead = (a.max - a.min) / 20;
    } else if (a.min < a.dead - kStartRange) {
        a.min += 1;
    }
    return v;
}

int32_t Analog(const MMJoyAxis& a, int32_t v) {
    int64_t c = a.centre, out = 0;
    if (v > c) {
        if (v - c <= a.dead) return 0;
        v -= a.dead;
        int64_t span = a.max - c;
        out = (v - c) * int64_t{kFullScale} / (span > 0 ? span : 1);
    } else if (v < c) {
        if (c - v <= a.dead) return 0;
        v += a.dead;
        int64_t span = c - a.min;
        out = (v - c) * int64_t{kFullScale} / (span > 0 ? span : 1);
    }
    return static_cast<int32_t>(out < -kFullScale ? -kFullScale : out > kFullScale ? kFullScale : out);
}

int32_t Digital(const MMJoyAxis& a, int32_t v) {
    if (v > a.centre + a.dead) return 1;
    if (v < a.centre - a.dead) return -1;
    return 0;
}

}  // namespace

int S_CenterJoysticks(int joystick) {
    int index = joystick == 2 ? 1 : 0;
    JOYINFO info{};
    if (joyGetPos(index == 0 ? JOYSTICKID1 : JOYSTICKID2, &info) != JOYERR_NOERROR) {
        Qel_DPrintf(4, "error reading joy %d\n", index + 1);
        return 1;
    }
    int32_t x = index == 0 ? Centred(info.wXpos) : static_cast<int32_t>(info.wXpos);
    int32_t y = index == 0 ? Centred(info.wYpos) : static_cast<int32_t>(info.wYpos);
    g_MMJoyAxes[index][0] = MMJoyAxis{x, x - kStartRange, x + kStartRange, 0};
    g_MMJoyAxes[index][1] = MMJoyAxis{y, y - kStartRange, y + kStartRange, 0};
    Qel_DPrintf(4, "CenterJ%d: %d/%d\n", index + 1, x, y);
    return 1;
}

void S_ReadMMJoysticks() {
    InputState* in = g_InputState;
    if (!in) return;
    JOYINFO first{}, second{};
    bool haveFirst = false;
    if (in->flags & INPUT_JOYSTICK) {
        haveFirst = joyGetPos(JOYSTICKID1, &first) == JOYERR_NOERROR;
        if (!haveFirst) Qel_DPrintf(4, "error reading joy 1\n");
    }
    if ((in->flags & INPUT_JOYSTICK2) && joyGetPos(JOYSTICKID2, &second) != JOYERR_NOERROR) {
        Qel_DPrintf(4, "error reading joy 2\n");
        second = JOYINFO{};
    }
    if (!haveFirst) first = JOYINFO{};
    in->joyButtons = (second.wButtons & 0xC) | (first.wButtons & 0x3);
    if (!haveFirst) return;

    int32_t* out[2] = {&in->joyX, &in->joyY};
    UINT raw[2] = {first.wXpos, first.wYpos};
    for (int axis = 0; axis < 2; ++axis) {
        MMJoyAxis& a = g_MMJoyAxes[0][axis];
        int32_t v = Calibrate(a, Centred(raw[axis]));
        if (in->flags & INPUT_STICK_ANALOG) *out[axis] = Analog(a, v);
        else if (in->flags & INPUT_STICK_DIGITAL) *out[axis] = Digital(a, v);
    }
}
