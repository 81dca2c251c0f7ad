#include "platform/win32/mmjoystick.h"

#include <SDL.h>

static bool s_seamOn = false;
static Win32JoySeam s_seam;
static SDL_Joystick* s_open[2] = {};

UINT joyGetNumDevs() { return 2; }

// The SDL joystick at index id, opened once and reopened after it went away.
static SDL_Joystick* Stick(UINT id) {
    if (!SDL_WasInit(SDL_INIT_JOYSTICK) && SDL_InitSubSystem(SDL_INIT_JOYSTICK) != 0) return nullptr;
    SDL_JoystickUpdate();
    SDL_Joystick*& js = s_open[id];
    if (js && !SDL_JoystickGetAttached(js)) {
        SDL_JoystickClose(js);
        js = nullptr;
    }
    if (!js && static_cast<int>(id) < SDL_NumJoysticks()) js = SDL_JoystickOpen(static_cast<int>(id));
    return js;
}

static UINT Position(int16_t raw) { return static_cast<UINT>(int32_t{raw} + 32768); }

UINT joyGetPos(UINT id, JOYINFO* info) {
    if (id > JOYSTICKID2 || !info) return JOYERR_PARMS;
    if (s_seamOn) {
        ++s_seam.reads;
        Win32JoySeam::Stick& s = s_seam.sticks[id];
        if (!s.attached) return JOYERR_UNPLUGGED;
        if (s.failReads > 0) {
            --s.failReads;
            return JOYERR_UNPLUGGED;
        }
        *info = s.info;
        return JOYERR_NOERROR;
    }
    SDL_Joystick* js = Stick(id);
    if (!js) return JOYERR_UNPLUGGED;
    JOYINFO pos{32767, 32767, 32767, 0};
    int axes = SDL_JoystickNumAxes(js);
    if (axes > 0) pos.wXpos = Position(SDL_JoystickGetAxis(js, 0));
    if (axes > 1) pos.wYpos = Position(SDL_JoystickGetAxis(js, 1));
    if (axes > 2) pos.wZpos = Position(SDL_JoystickGetAxis(js, 2));
    int buttons = SDL_JoystickNumButtons(js);
    for (int i = 0; i < 4 && i < buttons; ++i)
        if (SDL_JoystickGetButton(js, i)) pos.wButtons |= 1u << i;
    *info = pos;
    return JOYERR_NOERROR;
}

Win32JoySeam& Win32_JoySeamReset() {
    s_seamOn = true;
    s_seam = Win32JoySeam{};
    return s_seam;
}

Win32JoySeam& Win32_JoySeam() { return s_seam; }

void Win32_JoySeamDisable() {
    s_seamOn = false;
    s_seam = Win32JoySeam{};
}
