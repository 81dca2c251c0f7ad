#include "platform/dinput/dinput.h"

#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "platform/dinput/scancodes.h"
#include "platform/dinput/seam.h"

// GUIDs of our own: a fixed stem, the last byte tells them apart.
static constexpr GUID OwnGuid(uint8_t n) { return GUID{0x74726576, 0x616E, 0x4449, {0x8A, 0x01, 0, 0, 0, 0, 0, n}}; }
const GUID GUID_SysKeyboard = OwnGuid(1);
const GUID GUID_SysMouse = OwnGuid(2);
const GUID GUID_XAxis = OwnGuid(10);
const GUID GUID_YAxis = OwnGuid(11);
const GUID GUID_ZAxis = OwnGuid(12);
const GUID GUID_RxAxis = OwnGuid(13);
const GUID GUID_RyAxis = OwnGuid(14);
const GUID GUID_RzAxis = OwnGuid(15);
const GUID GUID_Slider = OwnGuid(16);
const GUID GUID_Button = OwnGuid(17);
const GUID GUID_Key = OwnGuid(18);
const GUID GUID_POV = OwnGuid(19);
const GUID GUID_ConstantForce = OwnGuid(30);
const GUID GUID_Sine = OwnGuid(31);
const GUID GUID_Triangle = OwnGuid(32);
const GUID GUID_SawtoothUp = OwnGuid(33);
const GUID GUID_SawtoothDown = OwnGuid(34);
const GUID IID_IDirectInput8A = OwnGuid(40);

const DIDATAFORMAT c_dfDIKeyboard = {sizeof(DIDATAFORMAT), 256};
const DIDATAFORMAT c_dfDIMouse2 = {sizeof(DIDATAFORMAT), sizeof(DIMOUSESTATE2)};
const DIDATAFORMAT c_dfDIJoystick = {sizeof(DIDATAFORMAT), sizeof(DIJOYSTATE)};

namespace {

constexpr DWORD DI8DEVTYPE_MOUSE = 0x12;
constexpr DWORD DI8DEVTYPE_KEYBOARD = 0x13;
constexpr DWORD DI8DEVTYPE_JOYSTICK = 0x14;
constexpr DWORD DIDFT_AXIS = 0x3;
constexpr DWORD DIDFT_PSHBUTTON = 0x4;
constexpr DWORD DIDFT_POV = 0x10;
constexpr int kMaxBuffer = 1024;

enum class Kind { Keyboard, Mouse, Joystick };

struct AxisProps {
    LONG min = 0;
    LONG max = 65535;
    DWORD deadzone = 0;  // 1/10000 of the half range
    DWORD saturation = 10000;
};

const GUID* const kAxisGuids[DI_SEAM_AXES] = {&GUID_XAxis,  &GUID_YAxis,  &GUID_ZAxis,  &GUID_RxAxis,
                                              &GUID_RyAxis, &GUID_RzAxis, &GUID_Slider, &GUID_Slider};
const char* const kAxisNames[DI_SEAM_AXES] = {"X Axis",     "Y Axis",     "Z Axis", "X Rotation",
                                              "Y Rotation", "Z Rotation", "Slider", "Slider"};

struct Failure {
    DISeamDevice device;
    DISeamCall call;
    HRESULT result;
    int times;
    DIPROPID property;
    int32_t object;
};

}  // namespace

struct IDirectInput8::Impl {
    int refs = 1;
    uint32_t sdlSystems = 0;  // SDL subsystems this interface started
};

struct IDirectInputDevice8::Impl {
    IDirectInputDevice8* self = nullptr;
    Kind kind = Kind::Keyboard;
    int refs = 1;
    const DIDATAFORMAT* format = nullptr;
    DWORD cooperation = 0;
    bool acquired = false;
    bool lost = false;
    DWORD bufferSize = 0;
    std::deque<DIDEVICEOBJECTDATA> buffer;
    bool overflow = false;
    uint8_t keys[256] = {};
    LONG mouseMotion[3] = {};
    uint8_t mouseButtons[8] = {};
    // Joystick.
    GUID guid{};
    int seamIndex = -1;
    SDL_Joystick* joystick = nullptr;
    SDL_Haptic* haptic = nullptr;
    AxisProps axes[DI_SEAM_AXES];
    std::vector<IDirectInputEffect::Impl*> effects;
};

struct IDirectInputEffect::Impl {
    IDirectInputEffect* self = nullptr;
    IDirectInputDevice8::Impl* device = nullptr;
    int refs = 1;
    GUID type{};
    DWORD flags = 0;
    DWORD duration = 0;
    DWORD gain = DI_FFNOMINALMAX;
    DWORD axisCount = 0;
    DWORD axes[2] = {};
    LONG direction[2] = {};
    bool hasEnvelope = false;
    DIENVELOPE envelope{};
    LONG constantMagnitude = 0;
    DIPERIODIC periodic{};
    int seamIndex = -1;
    int sdlId = -1;
};

static bool s_seamOn = false;
static DInputSeam s_seam;
static std::vector<Failure> s_failures;
static bool s_foreground = true;
static int s_live = 0;
static int s_interfaces = 0;
static DWORD s_sequence = 0;
static std::vector<IDirectInputDevice8::Impl*> s_devices;
static DWORD s_lastKeyDown = 0;
static std::string s_keyText[256];

// ---------------------------------------------------------------------------
// Seam helpers

static const char* DeviceName(DISeamDevice d) {
    switch (d) {
        case DISeamDevice::Interface: return "Interface";
        case DISeamDevice::Keyboard: return "Keyboard";
        case DISeamDevice::Mouse: return "Mouse";
        case DISeamDevice::Joystick: return "Joystick";
        case DISeamDevice::Effect: return "Effect";
    }
    return "?";
}

static DISeamDevice SeamDevice(const IDirectInputDevice8::Impl* d) {
    switch (d->kind) {
        case Kind::Keyboard: return DISeamDevice::Keyboard;
        case Kind::Mouse: return DISeamDevice::Mouse;
        case Kind::Joystick: return DISeamDevice::Joystick;
    }
    return DISeamDevice::Joystick;
}

static void LogCall(DISeamDevice device, const char* call) {
    if (s_seamOn) s_seam.calls.push_back(std::string(DeviceName(device)) + "." + call);
}

// True when the seam answers this call; the answer goes to *hr.
static bool SeamFails(DISeamDevice device, DISeamCall call, HRESULT* hr, DIPROPID property = 0, int32_t object = -1) {
    if (!s_seamOn) return false;
    for (auto it = s_failures.begin(); it != s_failures.end(); ++it) {
        if (it->device != device || it->call != call) continue;
        if (it->property != 0 && it->property != property) continue;
        if (it->object >= 0 && it->object != object) continue;
        *hr = it->result;
        if (it->times > 0 && --it->times == 0) s_failures.erase(it);
        return true;
    }
    return false;
}

// A read that reports the input gone leaves the device unacquired, as the platform does.
static HRESULT ReadFailure(IDirectInputDevice8::Impl* d, HRESULT hr) {
    if (hr == DIERR_INPUTLOST || hr == DIERR_NOTACQUIRED) {
        d->acquired = false;
        d->lost = false;
    }
    return hr;
}

static DISeamJoystick* SeamJoystick(const IDirectInputDevice8::Impl* d) {
    if (!s_seamOn || d->seamIndex < 0 || d->seamIndex >= static_cast<int>(s_seam.joysticks.size())) return nullptr;
    return &s_seam.joysticks[static_cast<size_t>(d->seamIndex)];
}

// ---------------------------------------------------------------------------
// Event router: one SDL event watch feeds every acquired keyboard and mouse.

static void Append(IDirectInputDevice8::Impl* d, DWORD offset, DWORD data, DWORD time) {
    if (d->bufferSize == 0) return;
    if (d->buffer.size() >= d->bufferSize) {
        d->overflow = true;  // the newest events are lost
        return;
    }
    d->buffer.push_back(DIDEVICEOBJECTDATA{offset, data, time, ++s_sequence, 0});
}

static void RouteKey(DWORD scanCode, bool down, DWORD time) {
    for (auto* d : s_devices) {
        if (d->kind != Kind::Keyboard || !d->acquired) continue;
        d->keys[scanCode & 0xFF] = down ? 0x80 : 0;
        Append(d, scanCode & 0xFF, down ? 0x80 : 0, time);
    }
}

static void RouteMouse(DWORD offset, DWORD data, DWORD time) {
    for (auto* d : s_devices) {
        if (d->kind != Kind::Mouse || !d->acquired) continue;
        if (offset <= DIMOFS_Z) d->mouseMotion[offset / 4] += static_cast<LONG>(data);
        else if (offset <= DIMOFS_BUTTON7) d->mouseButtons[offset - DIMOFS_BUTTON0] = static_cast<uint8_t>(data & 0x80);
        Append(d, offset, data, time);
    }
}

// SDL's buttons (left, middle, right, X1, X2) in the platform's order (left, right, middle, ...).
static int MouseButtonIndex(uint8_t sdlButton) {
    switch (sdlButton) {
        case SDL_BUTTON_LEFT: return 0;
        case SDL_BUTTON_RIGHT: return 1;
        case SDL_BUTTON_MIDDLE: return 2;
        case SDL_BUTTON_X1: return 3;
        case SDL_BUTTON_X2: return 4;
        default: return sdlButton >= 6 && sdlButton <= 8 ? sdlButton - 1 : -1;
    }
}

static void RouteEvent(const SDL_Event& e) {
    switch (e.type) {
        case SDL_KEYDOWN:
        case SDL_KEYUP: {
            if (e.key.repeat) return;  // the platform reports a held key once
            DWORD scan = DInput_DIKFromSDLScancode(e.key.keysym.scancode);
            if (scan == 0) return;
            bool down = e.type == SDL_KEYDOWN;
            if (down) {
                s_lastKeyDown = scan;
                s_keyText[scan].clear();
            }
            RouteKey(scan, down, e.key.timestamp);
            return;
        }
        case SDL_TEXTINPUT:
            if (s_lastKeyDown != 0) s_keyText[s_lastKeyDown] += e.text.text;
            return;
        case SDL_MOUSEMOTION:
            if (e.motion.xrel) RouteMouse(DIMOFS_X, static_cast<DWORD>(e.motion.xrel), e.motion.timestamp);
            if (e.motion.yrel) RouteMouse(DIMOFS_Y, static_cast<DWORD>(e.motion.yrel), e.motion.timestamp);
            return;
        case SDL_MOUSEWHEEL: {
            int32_t steps = e.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -e.wheel.y : e.wheel.y;
            if (steps) RouteMouse(DIMOFS_Z, static_cast<DWORD>(steps * 120), e.wheel.timestamp);
            return;
        }
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: {
            int index = MouseButtonIndex(e.button.button);
            if (index < 0) return;
            RouteMouse(DIMOFS_BUTTON0 + static_cast<DWORD>(index), e.type == SDL_MOUSEBUTTONDOWN ? 0x80 : 0,
                       e.button.timestamp);
            return;
        }
        case SDL_WINDOWEVENT:
            if (e.window.event == SDL_WINDOWEVENT_FOCUS_GAINED) DInput_SetForeground(true);
            if (e.window.event == SDL_WINDOWEVENT_FOCUS_LOST) DInput_SetForeground(false);
            return;
        default: return;
    }
}

static int SDLCALL RouterWatch(void*, SDL_Event* e) {
    RouteEvent(*e);
    return 1;
}

// Brings the system's pending events into SDL's queue; the watch routes them.
static void PumpRouter() {
    if (s_interfaces > 0 && SDL_WasInit(SDL_INIT_EVENTS)) SDL_PumpEvents();
}

void DInput_SetForeground(bool foreground) {
    s_foreground = foreground;
    if (foreground) return;
    for (auto* d : s_devices) {
        if (d->acquired && (d->cooperation & DISCL_FOREGROUND)) {
            d->acquired = false;
            d->lost = true;
        }
    }
}

const char* DInput_KeyText(DWORD scanCode) { return scanCode < 256 ? s_keyText[scanCode].c_str() : ""; }

// ---------------------------------------------------------------------------
// Joystick sources: seam joysticks or SDL's.

struct JoystickInfo {
    GUID guid;
    std::string name;
    int sdlIndex;   // -1 for a seam joystick
    int seamIndex;  // -1 for an SDL joystick
};

static GUID GuidFromSDL(SDL_JoystickGUID g) {
    GUID guid;
    static_assert(sizeof guid == sizeof g.data);
    std::memcpy(&guid, g.data, sizeof guid);
    return guid;
}

static std::vector<JoystickInfo> AttachedJoysticks() {
    std::vector<JoystickInfo> list;
    if (s_seamOn) {
        for (size_t i = 0; i < s_seam.joysticks.size(); ++i) {
            const auto& j = s_seam.joysticks[i];
            if (j.attached) list.push_back({j.guid, j.name, -1, static_cast<int>(i)});
        }
        return list;
    }
    if (!SDL_WasInit(SDL_INIT_JOYSTICK)) return list;
    SDL_JoystickUpdate();
    for (int i = 0; i < SDL_NumJoysticks(); ++i) {
        const char* name = SDL_JoystickNameForIndex(i);
        list.push_back({GuidFromSDL(SDL_JoystickGetDeviceGUID(i)), name ? name : "Joystick", i, -1});
    }
    return list;
}

static int AxisCount(const IDirectInputDevice8::Impl* d) {
    if (auto* j = SeamJoystick(d)) return static_cast<int>(std::count(j->axes, j->axes + DI_SEAM_AXES, true));
    return d->joystick ? std::min(SDL_JoystickNumAxes(d->joystick), DI_SEAM_AXES) : 0;
}

static bool AxisPresent(const IDirectInputDevice8::Impl* d, int axis) {
    if (axis < 0 || axis >= DI_SEAM_AXES) return false;
    if (auto* j = SeamJoystick(d)) return j->axes[axis];
    return d->joystick && axis < SDL_JoystickNumAxes(d->joystick);
}

static int PovCount(const IDirectInputDevice8::Impl* d) {
    if (auto* j = SeamJoystick(d)) return std::min(j->povs, 4);
    return d->joystick ? std::min(SDL_JoystickNumHats(d->joystick), 4) : 0;
}

static int ButtonCount(const IDirectInputDevice8::Impl* d) {
    if (auto* j = SeamJoystick(d)) return std::min(j->buttons, 32);
    return d->joystick ? std::min(SDL_JoystickNumButtons(d->joystick), 32) : 0;
}

static bool HasForceFeedback(const IDirectInputDevice8::Impl* d) {
    if (d->kind != Kind::Joystick) return false;
    if (auto* j = SeamJoystick(d)) return (j->capsFlags & DIDC_FORCEFEEDBACK) != 0;
    return d->haptic != nullptr;
}

static bool EffectSupported(const IDirectInputDevice8::Impl* d, const GUID& type) {
    if (!HasForceFeedback(d)) return false;
    bool constant = DI_SameGuid(type, GUID_ConstantForce);
    if (auto* j = SeamJoystick(d)) return constant ? j->constantForce : (j->periodic && DI_SameGuid(type, GUID_Sine));
    unsigned query = SDL_HapticQuery(d->haptic);
    if (constant) return query & SDL_HAPTIC_CONSTANT;
    if (DI_SameGuid(type, GUID_Sine)) return query & SDL_HAPTIC_SINE;
    if (DI_SameGuid(type, GUID_Triangle)) return query & SDL_HAPTIC_TRIANGLE;
    if (DI_SameGuid(type, GUID_SawtoothUp)) return query & SDL_HAPTIC_SAWTOOTHUP;
    if (DI_SameGuid(type, GUID_SawtoothDown)) return query & SDL_HAPTIC_SAWTOOTHDOWN;
    return false;
}

static DWORD PovFromHat(Uint8 hat) {
    switch (hat) {
        case SDL_HAT_UP: return 0;
        case SDL_HAT_RIGHTUP: return 4500;
        case SDL_HAT_RIGHT: return 9000;
        case SDL_HAT_RIGHTDOWN: return 13500;
        case SDL_HAT_DOWN: return 18000;
        case SDL_HAT_LEFTDOWN: return 22500;
        case SDL_HAT_LEFT: return 27000;
        case SDL_HAT_LEFTUP: return 31500;
        default: return 0xFFFFFFFFu;
    }
}

// Raw SDL axis (-32768..32767) into the axis's range, with its dead zone and
// saturation applied as the platform does: inside the dead zone the centre,
// from there to the saturation point a linear ramp to the end of the range.
static LONG ScaleAxis(int16_t raw, const AxisProps& p) {
    int64_t pos = raw >= 0 ? int64_t{raw} * 10000 / 32767 : int64_t{raw} * 10000 / 32768;
    int64_t mag = pos < 0 ? -pos : pos;
    int64_t dz = std::min<int64_t>(p.deadzone, 10000);
    int64_t sat = std::max<int64_t>(std::min<int64_t>(p.saturation, 10000), dz);
    int64_t out;
    if (mag <= dz) out = 0;
    else if (mag >= sat) out = 10000;
    else out = (mag - dz) * 10000 / (sat - dz);
    if (pos < 0) out = -out;
    int64_t span = int64_t{p.max} - p.min;
    return static_cast<LONG>(p.min + (out + 10000) * span / 20000);
}

static bool ReadJoystick(IDirectInputDevice8::Impl* d, DIJOYSTATE* state) {
    int16_t raw[DI_SEAM_AXES] = {};
    DWORD pov[4] = {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
    uint32_t buttons = 0;
    if (s_seamOn) {
        DISeamJoystick* j = SeamJoystick(d);
        if (!j || !j->attached) return false;
        std::copy(j->axis, j->axis + DI_SEAM_AXES, raw);
        for (int i = 0; i < PovCount(d); ++i) pov[i] = j->pov[i];
        buttons = j->buttonBits;
    } else {
        if (!d->joystick || !SDL_JoystickGetAttached(d->joystick)) return false;
        for (int i = 0; i < DI_SEAM_AXES; ++i)
            if (AxisPresent(d, i)) raw[i] = SDL_JoystickGetAxis(d->joystick, i);
        for (int i = 0; i < PovCount(d); ++i) pov[i] = PovFromHat(SDL_JoystickGetHat(d->joystick, i));
        for (int i = 0; i < ButtonCount(d); ++i)
            if (SDL_JoystickGetButton(d->joystick, i)) buttons |= 1u << i;
    }
    *state = DIJOYSTATE{};
    LONG* axes[DI_SEAM_AXES] = {&state->lX,  &state->lY,  &state->lZ,           &state->lRx,
                                &state->lRy, &state->lRz, &state->rglSlider[0], &state->rglSlider[1]};
    for (int i = 0; i < DI_SEAM_AXES; ++i)
        if (AxisPresent(d, i)) *axes[i] = ScaleAxis(raw[i], d->axes[i]);
    for (int i = 0; i < 4; ++i) state->rgdwPOV[i] = pov[i];
    for (int i = 0; i < ButtonCount(d); ++i) state->rgbButtons[i] = (buttons >> i) & 1 ? 0x80 : 0;
    return true;
}

// ---------------------------------------------------------------------------
// Objects of a device, for enumeration and object information.

static void SetName(DIDEVICEOBJECTINSTANCE* o, const char* utf8) {
    size_t n = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(utf8);
    while (*p && n + 2 < std::size(o->tszName)) {
        uint32_t cp = *p++;
        int extra = cp >= 0xF0 ? 3 : cp >= 0xE0 ? 2 : cp >= 0xC0 ? 1 : 0;
        if (extra) cp &= 0x3Fu >> extra;
        for (; extra > 0 && (*p & 0xC0) == 0x80; --extra) cp = (cp << 6) | (*p++ & 0x3F);
        if (extra > 0) cp = 0xFFFD;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            o->tszName[n++] = static_cast<uint16_t>(0xD800 | (cp >> 10));
            o->tszName[n++] = static_cast<uint16_t>(0xDC00 | (cp & 0x3FF));
        } else {
            o->tszName[n++] = static_cast<uint16_t>(cp);
        }
    }
    o->tszName[n] = 0;
}

static DIDEVICEOBJECTINSTANCE MakeObject(const GUID& type, DWORD offset, DWORD dwType, const char* name) {
    DIDEVICEOBJECTINSTANCE o{};
    o.dwSize = sizeof o;
    o.guidType = type;
    o.dwOfs = offset;
    o.dwType = dwType;
    SetName(&o, name);
    return o;
}

// The driver's name of a key: SDL's name of the key in the current layout,
// else the name of the scan code.
static std::string KeyName(DWORD scanCode) {
    auto sc = static_cast<SDL_Scancode>(DInput_SDLScancodeFromDIK(scanCode));
    if (sc == SDL_SCANCODE_UNKNOWN) return {};
    SDL_Keycode key = SDL_GetKeyFromScancode(sc);
    const char* name = key != SDLK_UNKNOWN ? SDL_GetKeyName(key) : "";
    if (!name || !*name) name = SDL_GetScancodeName(sc);
    return name ? name : "";
}

static std::vector<DIDEVICEOBJECTINSTANCE> Objects(const IDirectInputDevice8::Impl* d) {
    std::vector<DIDEVICEOBJECTINSTANCE> list;
    char name[32];
    switch (d->kind) {
        case Kind::Keyboard:
            for (DWORD scan = 1; scan < 256; ++scan) {
                std::string n = KeyName(scan);
                if (!n.empty()) list.push_back(MakeObject(GUID_Key, scan, DIDFT_PSHBUTTON, n.c_str()));
            }
            break;
        case Kind::Mouse:
            list.push_back(MakeObject(GUID_XAxis, DIMOFS_X, DIDFT_AXIS, "X Axis"));
            list.push_back(MakeObject(GUID_YAxis, DIMOFS_Y, DIDFT_AXIS, "Y Axis"));
            list.push_back(MakeObject(GUID_ZAxis, DIMOFS_Z, DIDFT_AXIS, "Wheel"));
            for (int i = 0; i < 8; ++i) {
                std::snprintf(name, sizeof name, "Button %d", i);
                list.push_back(MakeObject(GUID_Button, DIMOFS_BUTTON0 + static_cast<DWORD>(i), DIDFT_PSHBUTTON, name));
            }
            break;
        case Kind::Joystick:
            for (int i = 0; i < DI_SEAM_AXES; ++i)
                if (AxisPresent(d, i))
                    list.push_back(MakeObject(*kAxisGuids[i], static_cast<DWORD>(4 * i), DIDFT_AXIS, kAxisNames[i]));
            for (int i = 0; i < PovCount(d); ++i) {
                std::snprintf(name, sizeof name, "Hat Switch %d", i);
                list.push_back(MakeObject(GUID_POV, DIJOFS_POV(i), DIDFT_POV, name));
            }
            for (int i = 0; i < ButtonCount(d); ++i) {
                std::snprintf(name, sizeof name, "Button %d", i);
                list.push_back(MakeObject(GUID_Button, DIJOFS_BUTTON(i), DIDFT_PSHBUTTON, name));
            }
            break;
    }
    return list;
}

// ---------------------------------------------------------------------------
// Effects over SDL haptic.

static Uint16 HapticLevel(LONG magnitude, DWORD gain) {
    int64_t level = int64_t{magnitude < 0 ? -magnitude : magnitude} * 32767 / 10000 * gain / 10000;
    return static_cast<Uint16>(std::clamp<int64_t>(level, 0, 32767));
}

static Uint32 HapticTime(DWORD microseconds) {
    return microseconds == INFINITE ? SDL_HAPTIC_INFINITY : microseconds / 1000;
}

static void HapticDirection(const IDirectInputEffect::Impl& e, SDL_HapticDirection* dir) {
    *dir = SDL_HapticDirection{};
    if (e.flags & DIEFF_POLAR) {
        dir->type = SDL_HAPTIC_POLAR;
        dir->dir[0] = e.direction[0];
        return;
    }
    dir->type = SDL_HAPTIC_CARTESIAN;
    for (DWORD i = 0; i < e.axisCount && i < 2; ++i) {
        if (e.axes[i] == DIJOFS_X) dir->dir[0] = e.direction[i];
        if (e.axes[i] == DIJOFS_Y) dir->dir[1] = e.direction[i];
    }
}

static bool BuildHaptic(const IDirectInputEffect::Impl& e, SDL_HapticEffect* h) {
    *h = SDL_HapticEffect{};
    if (DI_SameGuid(e.type, GUID_ConstantForce)) {
        h->type = SDL_HAPTIC_CONSTANT;
        HapticDirection(e, &h->constant.direction);
        h->constant.length = HapticTime(e.duration);
        Uint16 level = HapticLevel(e.constantMagnitude, e.gain);
        h->constant.level = static_cast<Sint16>(e.constantMagnitude < 0 ? -level : level);
        if (e.hasEnvelope) {
            h->constant.attack_length = static_cast<Uint16>(HapticTime(e.envelope.dwAttackTime));
            h->constant.attack_level = HapticLevel(static_cast<LONG>(e.envelope.dwAttackLevel), e.gain);
            h->constant.fade_length = static_cast<Uint16>(HapticTime(e.envelope.dwFadeTime));
            h->constant.fade_level = HapticLevel(static_cast<LONG>(e.envelope.dwFadeLevel), e.gain);
        }
        return true;
    }
    Uint16 type = DI_SameGuid(e.type, GUID_Sine)           ? SDL_HAPTIC_SINE
                  : DI_SameGuid(e.type, GUID_Triangle)     ? SDL_HAPTIC_TRIANGLE
                  : DI_SameGuid(e.type, GUID_SawtoothUp)   ? SDL_HAPTIC_SAWTOOTHUP
                  : DI_SameGuid(e.type, GUID_SawtoothDown) ? SDL_HAPTIC_SAWTOOTHDOWN
                                                           : 0;
    if (type == 0) return false;
    h->type = type;
    HapticDirection(e, &h->periodic.direction);
    h->periodic.length = HapticTime(e.duration);
    h->periodic.period = static_cast<Uint16>(std::min<DWORD>(e.periodic.dwPeriod / 1000, 0xFFFF));
    h->periodic.magnitude = static_cast<Sint16>(HapticLevel(static_cast<LONG>(e.periodic.dwMagnitude), e.gain));
    h->periodic.offset =
        static_cast<Sint16>(std::clamp<int64_t>(int64_t{e.periodic.lOffset} * 32767 / 10000, -32767, 32767));
    h->periodic.phase = static_cast<Uint16>(e.periodic.dwPhase % 36000);
    if (e.hasEnvelope) {
        h->periodic.attack_length = static_cast<Uint16>(HapticTime(e.envelope.dwAttackTime));
        h->periodic.attack_level = HapticLevel(static_cast<LONG>(e.envelope.dwAttackLevel), e.gain);
        h->periodic.fade_length = static_cast<Uint16>(HapticTime(e.envelope.dwFadeTime));
        h->periodic.fade_level = HapticLevel(static_cast<LONG>(e.envelope.dwFadeLevel), e.gain);
    }
    return true;
}

static void CopySeamEffect(const IDirectInputEffect::Impl& e) {
    if (!s_seamOn || e.seamIndex < 0 || e.seamIndex >= static_cast<int>(s_seam.effects.size())) return;
    DISeamEffect& s = s_seam.effects[static_cast<size_t>(e.seamIndex)];
    s.type = e.type;
    s.flags = e.flags;
    s.duration = e.duration;
    s.gain = e.gain;
    s.axisCount = e.axisCount;
    std::copy(e.axes, e.axes + 2, s.axes);
    std::copy(e.direction, e.direction + 2, s.direction);
    s.hasEnvelope = e.hasEnvelope;
    s.envelope = e.envelope;
    s.constantMagnitude = e.constantMagnitude;
    s.periodic = e.periodic;
}

static DISeamEffect* SeamEffect(const IDirectInputEffect::Impl* e) {
    if (!s_seamOn || e->seamIndex < 0 || e->seamIndex >= static_cast<int>(s_seam.effects.size())) return nullptr;
    return &s_seam.effects[static_cast<size_t>(e->seamIndex)];
}

// Takes the parts of a description that flags name; a bad one changes nothing.
static HRESULT TakeParameters(IDirectInputEffect::Impl* e, const DIEFFECT* p, DWORD flags) {
    if (!p || p->dwSize != sizeof(DIEFFECT)) return DIERR_INVALIDPARAM;
    bool constant = DI_SameGuid(e->type, GUID_ConstantForce);
    if (flags & DIEP_TYPESPECIFICPARAMS) {
        size_t want = constant ? sizeof(DICONSTANTFORCE) : sizeof(DIPERIODIC);
        if (!p->lpvTypeSpecificParams || p->cbTypeSpecificParams != want) return DIERR_INVALIDPARAM;
    }
    if (flags & DIEP_DIRECTION) {
        if (p->cAxes > 2 || (p->cAxes > 0 && !p->rglDirection)) return DIERR_INVALIDPARAM;
        if (!(p->dwFlags & (DIEFF_CARTESIAN | DIEFF_POLAR | DIEFF_SPHERICAL))) return DIERR_INVALIDPARAM;
    }
    if ((flags & DIEP_ENVELOPE) && p->lpEnvelope && p->lpEnvelope->dwSize != sizeof(DIENVELOPE))
        return DIERR_INVALIDPARAM;

    if (flags & DIEP_DURATION) e->duration = p->dwDuration;
    if (flags & DIEP_GAIN) e->gain = std::min<DWORD>(p->dwGain, DI_FFNOMINALMAX);
    if (flags & DIEP_DIRECTION) {
        e->flags = (e->flags & ~(DIEFF_CARTESIAN | DIEFF_POLAR | DIEFF_SPHERICAL)) |
                   (p->dwFlags & (DIEFF_CARTESIAN | DIEFF_POLAR | DIEFF_SPHERICAL));
        for (DWORD i = 0; i < p->cAxes; ++i) e->direction[i] = p->rglDirection[i];
    }
    if (flags & DIEP_ENVELOPE) {
        e->hasEnvelope = p->lpEnvelope != nullptr;
        if (p->lpEnvelope) e->envelope = *p->lpEnvelope;
    }
    if (flags & DIEP_TYPESPECIFICPARAMS) {
        if (constant) e->constantMagnitude = static_cast<const DICONSTANTFORCE*>(p->lpvTypeSpecificParams)->lMagnitude;
        else e->periodic = *static_cast<const DIPERIODIC*>(p->lpvTypeSpecificParams);
    }
    return DI_OK;
}

// ---------------------------------------------------------------------------
// IDirectInputEffect

HRESULT IDirectInputEffect::SetParameters(const DIEFFECT* effect, DWORD flags) {
    LogCall(DISeamDevice::Effect, "SetParameters");
    HRESULT hr;
    if (SeamFails(DISeamDevice::Effect, DISeamCall::SetParameters, &hr)) return hr;
    if (!impl->device) return DIERR_NOTINITIALIZED;
    hr = TakeParameters(impl, effect, flags);
    if (hr < 0) return hr;
    if (DISeamEffect* s = SeamEffect(impl)) {
        CopySeamEffect(*impl);
        ++s->parameterUpdates;
    } else if (impl->device->haptic && impl->sdlId >= 0) {
        SDL_HapticEffect h;
        if (BuildHaptic(*impl, &h) && SDL_HapticUpdateEffect(impl->device->haptic, impl->sdlId, &h) < 0)
            return DIERR_GENERIC;
    }
    if (flags & DIEP_START) return Start(1, 0);
    return DI_OK;
}

HRESULT IDirectInputEffect::Start(DWORD iterations, DWORD /*flags*/) {
    LogCall(DISeamDevice::Effect, "Start");
    HRESULT hr;
    if (SeamFails(DISeamDevice::Effect, DISeamCall::Start, &hr)) return hr;
    IDirectInputDevice8::Impl* d = impl->device;
    if (!d) return DIERR_NOTINITIALIZED;
    if (!d->acquired || !(d->cooperation & DISCL_EXCLUSIVE)) return DIERR_NOTEXCLUSIVEACQUIRED;
    if (DISeamEffect* s = SeamEffect(impl)) {
        ++s->starts;
        s->lastIterations = iterations;
        return DI_OK;
    }
    if (!d->haptic || impl->sdlId < 0) return DIERR_NOTDOWNLOADED;
    Uint32 times = iterations == INFINITE ? SDL_HAPTIC_INFINITY : iterations;
    return SDL_HapticRunEffect(d->haptic, impl->sdlId, times) < 0 ? DIERR_GENERIC : DI_OK;
}

HRESULT IDirectInputEffect::Stop() {
    IDirectInputDevice8::Impl* d = impl->device;
    if (!d) return DIERR_NOTINITIALIZED;
    if (d->haptic && impl->sdlId >= 0) SDL_HapticStopEffect(d->haptic, impl->sdlId);
    return DI_OK;
}

static void DropEffect(IDirectInputEffect::Impl* e) {
    if (IDirectInputDevice8::Impl* d = e->device) {
        std::erase(d->effects, e);
        if (d->haptic && e->sdlId >= 0) SDL_HapticDestroyEffect(d->haptic, e->sdlId);
        e->device = nullptr;
    }
    e->sdlId = -1;
}

uint32_t IDirectInputEffect::Release() {
    if (--impl->refs > 0) return static_cast<uint32_t>(impl->refs);
    if (DISeamEffect* s = SeamEffect(impl)) s->released = true;
    DropEffect(impl);
    delete impl;
    delete this;
    --s_live;
    return 0;
}

// ---------------------------------------------------------------------------
// IDirectInputDevice8

HRESULT IDirectInputDevice8::GetCapabilities(DIDEVCAPS* caps) {
    Impl* d = impl;
    LogCall(SeamDevice(d), "GetCapabilities");
    HRESULT hr;
    if (SeamFails(SeamDevice(d), DISeamCall::GetCapabilities, &hr)) return hr;
    if (!caps || caps->dwSize != sizeof(DIDEVCAPS)) return DIERR_INVALIDPARAM;
    *caps = DIDEVCAPS{};
    caps->dwSize = sizeof(DIDEVCAPS);
    switch (d->kind) {
        case Kind::Keyboard:
            caps->dwFlags = s_seamOn ? s_seam.keyboardCaps : DIDC_ATTACHED;
            caps->dwDevType = DI8DEVTYPE_KEYBOARD;
            caps->dwButtons = 128;
            break;
        case Kind::Mouse:
            caps->dwFlags = s_seamOn ? s_seam.mouseCaps : DIDC_ATTACHED;
            caps->dwDevType = DI8DEVTYPE_MOUSE;
            caps->dwAxes = 3;
            caps->dwButtons = 8;
            break;
        case Kind::Joystick:
            if (DISeamJoystick* j = SeamJoystick(d)) {
                caps->dwFlags = j->capsFlags;
            } else {
                // SDL joysticks update when asked, as polled devices do.
                caps->dwFlags = DIDC_ATTACHED | DIDC_POLLEDDEVICE | DIDC_POLLEDDATAFORMAT;
                if (d->haptic) caps->dwFlags |= DIDC_FORCEFEEDBACK | DIDC_FFFADE | DIDC_FFATTACK;
            }
            caps->dwDevType = DI8DEVTYPE_JOYSTICK;
            caps->dwAxes = static_cast<DWORD>(AxisCount(d));
            caps->dwButtons = static_cast<DWORD>(ButtonCount(d));
            caps->dwPOVs = static_cast<DWORD>(PovCount(d));
            if (caps->dwFlags & DIDC_FORCEFEEDBACK) {
                caps->dwFFSamplePeriod = 1000;
                caps->dwFFMinTimeResolution = 1000;
            }
            caps->dwFirmwareRevision = 1;
            caps->dwHardwareRevision = 1;
            caps->dwFFDriverVersion = (caps->dwFlags & DIDC_FORCEFEEDBACK) ? 1 : 0;
            break;
    }
    return DI_OK;
}

HRESULT IDirectInputDevice8::EnumObjects(LPDIENUMDEVICEOBJECTSCALLBACK callback, void* ref, DWORD /*flags*/) {
    LogCall(SeamDevice(impl), "EnumObjects");
    HRESULT hr;
    if (SeamFails(SeamDevice(impl), DISeamCall::EnumObjects, &hr)) return hr;
    if (!callback) return DIERR_INVALIDPARAM;
    for (const auto& o : Objects(impl))
        if (callback(&o, ref) == DIENUM_STOP) break;
    return DI_OK;
}

HRESULT IDirectInputDevice8::GetObjectInfo(DIDEVICEOBJECTINSTANCE* info, DWORD obj, DWORD how) {
    LogCall(SeamDevice(impl), "GetObjectInfo");
    HRESULT hr;
    if (SeamFails(SeamDevice(impl), DISeamCall::GetObjectInfo, &hr)) return hr;
    if (!info || info->dwSize != sizeof(DIDEVICEOBJECTINSTANCE) || how != DIPH_BYOFFSET) return DIERR_INVALIDPARAM;
    if (impl->kind == Kind::Keyboard) {
        // One key: no need to name all of them.
        std::string name = obj < 256 ? KeyName(obj) : std::string();
        if (name.empty()) return DIERR_OBJECTNOTFOUND;
        *info = MakeObject(GUID_Key, obj, DIDFT_PSHBUTTON, name.c_str());
        return DI_OK;
    }
    for (const auto& o : Objects(impl)) {
        if (o.dwOfs == obj) {
            *info = o;
            return DI_OK;
        }
    }
    return DIERR_OBJECTNOTFOUND;
}

// The axis an offset names, -1 for none.
static int AxisOfOffset(DWORD offset) { return offset % 4 == 0 && offset < 32 ? static_cast<int>(offset / 4) : -1; }

HRESULT IDirectInputDevice8::SetProperty(DIPROPID property, const DIPROPHEADER* header) {
    Impl* d = impl;
    int32_t object = header && header->dwHow == DIPH_BYOFFSET ? static_cast<int32_t>(header->dwObj) : -1;
    if (s_seamOn) {
        char call[48];
        std::snprintf(call, sizeof call, "SetProperty(%u@%d)", property, object);
        LogCall(SeamDevice(d), call);
    }
    HRESULT hr;
    if (SeamFails(SeamDevice(d), DISeamCall::SetProperty, &hr, property, object)) return hr;
    if (!header || header->dwHeaderSize != sizeof(DIPROPHEADER)) return DIERR_INVALIDPARAM;
    if (d->acquired) return DIERR_ACQUIRED;

    switch (property) {
        case DIPROP_BUFFERSIZE: {
            if (header->dwSize != sizeof(DIPROPDWORD) || header->dwHow != DIPH_DEVICE) return DIERR_INVALIDPARAM;
            DWORD size = reinterpret_cast<const DIPROPDWORD*>(header)->dwData;
            d->bufferSize = std::min<DWORD>(size, kMaxBuffer);
            while (d->buffer.size() > d->bufferSize) d->buffer.pop_back();
            return DI_OK;
        }
        case DIPROP_RANGE:
        case DIPROP_DEADZONE:
        case DIPROP_SATURATION: {
            if (d->kind != Kind::Joystick) return DIERR_UNSUPPORTED;
            size_t want = property == DIPROP_RANGE ? sizeof(DIPROPRANGE) : sizeof(DIPROPDWORD);
            if (header->dwSize != want) return DIERR_INVALIDPARAM;
            int first = 0, last = DI_SEAM_AXES - 1;
            if (header->dwHow == DIPH_BYOFFSET) {
                first = last = AxisOfOffset(header->dwObj);
                if (!AxisPresent(d, first)) return DIERR_OBJECTNOTFOUND;
            } else if (header->dwHow != DIPH_DEVICE) {
                return DIERR_INVALIDPARAM;
            }
            if (property == DIPROP_RANGE) {
                const auto* r = reinterpret_cast<const DIPROPRANGE*>(header);
                if (r->lMin >= r->lMax) return DIERR_INVALIDPARAM;
                for (int i = first; i <= last; ++i) {
                    d->axes[i].min = r->lMin;
                    d->axes[i].max = r->lMax;
                }
            } else {
                DWORD v = reinterpret_cast<const DIPROPDWORD*>(header)->dwData;
                if (v > 10000) return DIERR_INVALIDPARAM;
                for (int i = first; i <= last; ++i) {
                    if (property == DIPROP_DEADZONE) d->axes[i].deadzone = v;
                    else d->axes[i].saturation = v;
                }
            }
            return DI_OK;
        }
        case DIPROP_AUTOCENTER: {
            if (header->dwSize != sizeof(DIPROPDWORD) || header->dwHow != DIPH_DEVICE) return DIERR_INVALIDPARAM;
            if (!HasForceFeedback(d)) return DIERR_UNSUPPORTED;
            DWORD v = reinterpret_cast<const DIPROPDWORD*>(header)->dwData;
            if (s_seamOn) {
                s_seam.autocenter = static_cast<int>(v);
            } else if (SDL_HapticQuery(d->haptic) & SDL_HAPTIC_AUTOCENTER) {
                if (SDL_HapticSetAutocenter(d->haptic, v == DIPROPAUTOCENTER_OFF ? 0 : 100) < 0) return DIERR_GENERIC;
            }
            return DI_OK;
        }
        default: return DIERR_UNSUPPORTED;
    }
}

static void SetRelativeMouse(bool on) {
    // The exclusive mouse owns the pointer: hidden, captured, reporting motion only.
    if (!s_seamOn && SDL_WasInit(SDL_INIT_VIDEO)) SDL_SetRelativeMouseMode(on ? SDL_TRUE : SDL_FALSE);
}

HRESULT IDirectInputDevice8::Acquire() {
    Impl* d = impl;
    LogCall(SeamDevice(d), "Acquire");
    HRESULT hr;
    if (SeamFails(SeamDevice(d), DISeamCall::Acquire, &hr)) return hr;
    if (!d->format) return DIERR_INVALIDPARAM;
    if ((d->cooperation & DISCL_FOREGROUND) && !s_foreground) return DIERR_OTHERAPPHASPRIO;
    if (d->acquired) return DI_NOEFFECT;
    if (d->kind == Kind::Joystick && s_seamOn) {
        DISeamJoystick* j = SeamJoystick(d);
        if (!j || !j->attached) return DIERR_INPUTLOST;
    }
    d->acquired = true;
    d->lost = false;
    d->buffer.clear();
    d->overflow = false;
    std::fill(std::begin(d->keys), std::end(d->keys), 0);
    std::fill(std::begin(d->mouseMotion), std::end(d->mouseMotion), 0);
    std::fill(std::begin(d->mouseButtons), std::end(d->mouseButtons), 0);
    if (d->kind == Kind::Mouse && (d->cooperation & DISCL_EXCLUSIVE)) SetRelativeMouse(true);
    return DI_OK;
}

HRESULT IDirectInputDevice8::Unacquire() {
    Impl* d = impl;
    LogCall(SeamDevice(d), "Unacquire");
    HRESULT hr;
    if (SeamFails(SeamDevice(d), DISeamCall::Unacquire, &hr)) return hr;
    d->lost = false;
    if (!d->acquired) return DI_NOEFFECT;
    d->acquired = false;
    if (d->kind == Kind::Mouse && (d->cooperation & DISCL_EXCLUSIVE)) SetRelativeMouse(false);
    return DI_OK;
}

// Lost input and a missing acquisition, as the reads report them.
static HRESULT ReadableState(IDirectInputDevice8::Impl* d) {
    if (d->lost) {
        d->lost = false;
        return DIERR_INPUTLOST;
    }
    return d->acquired ? DI_OK : DIERR_NOTACQUIRED;
}

HRESULT IDirectInputDevice8::GetDeviceState(DWORD size, void* data) {
    Impl* d = impl;
    LogCall(SeamDevice(d), "GetDeviceState");
    HRESULT hr;
    if (SeamFails(SeamDevice(d), DISeamCall::GetDeviceState, &hr)) return ReadFailure(d, hr);
    if (!data || !d->format) return DIERR_INVALIDPARAM;
    if (d->kind != Kind::Joystick) PumpRouter();
    hr = ReadableState(d);
    if (hr < 0) return hr;
    switch (d->kind) {
        case Kind::Keyboard:
            if (size != 256) return DIERR_INVALIDPARAM;
            std::memcpy(data, d->keys, 256);
            return DI_OK;
        case Kind::Mouse: {
            if (size != sizeof(DIMOUSESTATE2)) return DIERR_INVALIDPARAM;
            DIMOUSESTATE2 state{d->mouseMotion[0], d->mouseMotion[1], d->mouseMotion[2], {}};
            std::copy(std::begin(d->mouseButtons), std::end(d->mouseButtons), state.rgbButtons);
            std::fill(std::begin(d->mouseMotion), std::end(d->mouseMotion), 0);
            std::memcpy(data, &state, sizeof state);
            return DI_OK;
        }
        case Kind::Joystick: {
            if (size != sizeof(DIJOYSTATE)) return DIERR_INVALIDPARAM;
            if (!s_seamOn && SDL_WasInit(SDL_INIT_JOYSTICK)) SDL_JoystickUpdate();
            DIJOYSTATE state;
            if (!ReadJoystick(d, &state)) {
                d->acquired = false;
                return DIERR_INPUTLOST;
            }
            std::memcpy(data, &state, sizeof state);
            return DI_OK;
        }
    }
    return DIERR_GENERIC;
}

HRESULT IDirectInputDevice8::GetDeviceData(DWORD objectDataSize, DIDEVICEOBJECTDATA* data, DWORD* count,
                                           DWORD /*flags*/) {
    Impl* d = impl;
    LogCall(SeamDevice(d), "GetDeviceData");
    HRESULT hr;
    if (SeamFails(SeamDevice(d), DISeamCall::GetDeviceData, &hr)) {
        if (count) *count = 0;
        return ReadFailure(d, hr);
    }
    if (!count || objectDataSize != sizeof(DIDEVICEOBJECTDATA)) return DIERR_INVALIDPARAM;
    PumpRouter();
    hr = ReadableState(d);
    if (hr < 0 || d->bufferSize == 0) {
        *count = 0;
        return hr < 0 ? hr : DIERR_NOTBUFFERED;
    }
    DWORD n = static_cast<DWORD>(std::min<size_t>(*count, d->buffer.size()));
    if (data) std::copy(d->buffer.begin(), d->buffer.begin() + n, data);
    d->buffer.erase(d->buffer.begin(), d->buffer.begin() + n);
    *count = n;
    hr = d->overflow ? DI_BUFFEROVERFLOW : DI_OK;
    d->overflow = false;
    return hr;
}

HRESULT IDirectInputDevice8::SetDataFormat(const DIDATAFORMAT* format) {
    Impl* d = impl;
    LogCall(SeamDevice(d), "SetDataFormat");
    HRESULT hr;
    if (SeamFails(SeamDevice(d), DISeamCall::SetDataFormat, &hr)) return hr;
    if (d->acquired) return DIERR_ACQUIRED;
    const DIDATAFORMAT* want = d->kind == Kind::Keyboard ? &c_dfDIKeyboard
                               : d->kind == Kind::Mouse  ? &c_dfDIMouse2
                                                         : &c_dfDIJoystick;
    if (format != want) return DIERR_INVALIDPARAM;
    d->format = format;
    return DI_OK;
}

HRESULT IDirectInputDevice8::SetCooperativeLevel(HWND /*window*/, DWORD flags) {
    Impl* d = impl;
    LogCall(SeamDevice(d), "SetCooperativeLevel");
    HRESULT hr;
    if (SeamFails(SeamDevice(d), DISeamCall::SetCooperativeLevel, &hr)) return hr;
    if (d->acquired) return DIERR_ACQUIRED;
    bool exclusive = flags & DISCL_EXCLUSIVE, shared = flags & DISCL_NONEXCLUSIVE;
    bool fore = flags & DISCL_FOREGROUND, back = flags & DISCL_BACKGROUND;
    if (exclusive == shared || fore == back) return DIERR_INVALIDPARAM;
    if (d->kind == Kind::Keyboard && exclusive && back) return DIERR_UNSUPPORTED;
    d->cooperation = flags;
    return DI_OK;
}

HRESULT IDirectInputDevice8::Poll() {
    Impl* d = impl;
    LogCall(SeamDevice(d), "Poll");
    HRESULT hr;
    if (SeamFails(SeamDevice(d), DISeamCall::Poll, &hr)) return ReadFailure(d, hr);
    if (d->kind != Kind::Joystick) PumpRouter();
    hr = ReadableState(d);
    if (hr < 0) return hr;
    DWORD flags;
    switch (d->kind) {
        case Kind::Keyboard: flags = s_seamOn ? s_seam.keyboardCaps : DIDC_ATTACHED; break;
        case Kind::Mouse: flags = s_seamOn ? s_seam.mouseCaps : DIDC_ATTACHED; break;
        default: {
            if (DISeamJoystick* j = SeamJoystick(d)) {
                if (!j->attached) {
                    d->acquired = false;
                    return DIERR_INPUTLOST;
                }
                flags = j->capsFlags;
            } else {
                if (SDL_WasInit(SDL_INIT_JOYSTICK)) SDL_JoystickUpdate();
                if (!d->joystick || !SDL_JoystickGetAttached(d->joystick)) {
                    d->acquired = false;
                    return DIERR_INPUTLOST;
                }
                flags = DIDC_POLLEDDATAFORMAT;
            }
            break;
        }
    }
    return (flags & DIDC_POLLEDDATAFORMAT) ? DI_OK : DI_NOEFFECT;
}

HRESULT IDirectInputDevice8::CreateEffect(const GUID& effectGuid, const DIEFFECT* effect, IDirectInputEffect** out,
                                          void* outer) {
    Impl* d = impl;
    LogCall(DISeamDevice::Effect, "CreateEffect");
    if (out) *out = nullptr;
    HRESULT hr;
    if (SeamFails(DISeamDevice::Effect, DISeamCall::CreateEffect, &hr)) return hr;
    if (!out) return DIERR_INVALIDPARAM;
    if (outer) return DIERR_NOAGGREGATION;
    if (!HasForceFeedback(d)) return DIERR_UNSUPPORTED;
    if (!EffectSupported(d, effectGuid)) return DIERR_DEVICENOTREG;

    auto* e = new IDirectInputEffect::Impl{};
    e->type = effectGuid;
    if (effect) {
        if (effect->dwSize != sizeof(DIEFFECT) || effect->cAxes > 2 || (effect->cAxes > 0 && !effect->rgdwAxes)) {
            delete e;
            return DIERR_INVALIDPARAM;
        }
        hr = TakeParameters(e, effect,
                            DIEP_DURATION | DIEP_GAIN | DIEP_DIRECTION | DIEP_ENVELOPE | DIEP_TYPESPECIFICPARAMS);
        if (hr < 0) {
            delete e;
            return hr;
        }
        e->flags = effect->dwFlags;
        e->axisCount = effect->cAxes;
        for (DWORD i = 0; i < effect->cAxes; ++i) e->axes[i] = effect->rgdwAxes[i];
    }
    if (s_seamOn) {
        s_seam.effects.push_back(DISeamEffect{});
        e->seamIndex = static_cast<int>(s_seam.effects.size() - 1);
        CopySeamEffect(*e);
        s_seam.effects.back().triggerButton = effect ? effect->dwTriggerButton : 0;
    } else if (d->haptic && effect) {
        SDL_HapticEffect h;
        if (!BuildHaptic(*e, &h) || (e->sdlId = SDL_HapticNewEffect(d->haptic, &h)) < 0) {
            delete e;
            return DIERR_GENERIC;
        }
    }
    e->device = d;
    d->effects.push_back(e);
    auto* object = new IDirectInputEffect{};
    object->impl = e;
    e->self = object;
    ++s_live;
    *out = object;
    return DI_OK;
}

HRESULT IDirectInputDevice8::EnumEffects(LPDIENUMEFFECTSCALLBACK callback, void* ref, DWORD effectType) {
    LogCall(SeamDevice(impl), "EnumEffects");
    HRESULT hr;
    if (SeamFails(SeamDevice(impl), DISeamCall::EnumEffects, &hr)) return hr;
    if (!callback) return DIERR_INVALIDPARAM;
    struct Kind_ {
        const GUID* guid;
        DWORD type;
        const char* name;
    };
    static const Kind_ kinds[] = {
        {&GUID_ConstantForce, DIEFT_CONSTANTFORCE, "Constant Force"},
        {&GUID_Sine, DIEFT_PERIODIC, "Sine"},
        {&GUID_Triangle, DIEFT_PERIODIC, "Triangle"},
        {&GUID_SawtoothUp, DIEFT_PERIODIC, "Sawtooth Up"},
        {&GUID_SawtoothDown, DIEFT_PERIODIC, "Sawtooth Down"},
    };
    for (const auto& k : kinds) {
        if ((effectType & 0xFF) != DIEFT_ALL && (effectType & 0xFF) != k.type) continue;
        if (!EffectSupported(impl, *k.guid)) continue;
        DIEFFECTINFO info{};
        info.dwSize = sizeof info;
        info.guid = *k.guid;
        info.dwEffType = k.type;
        std::snprintf(info.tszName, sizeof info.tszName, "%s", k.name);
        if (callback(&info, ref) == DIENUM_STOP) break;
    }
    return DI_OK;
}

uint32_t IDirectInputDevice8::Release() {
    Impl* d = impl;
    if (--d->refs > 0) return static_cast<uint32_t>(d->refs);
    if (d->acquired && d->kind == Kind::Mouse && (d->cooperation & DISCL_EXCLUSIVE)) SetRelativeMouse(false);
    while (!d->effects.empty()) DropEffect(d->effects.back());
    if (d->haptic) SDL_HapticClose(d->haptic);
    if (d->joystick) SDL_JoystickClose(d->joystick);
    std::erase(s_devices, d);
    delete d;
    delete this;
    --s_live;
    return 0;
}

// ---------------------------------------------------------------------------
// IDirectInput8

static IDirectInputDevice8* NewDevice(Kind kind) {
    auto* d = new IDirectInputDevice8::Impl{};
    d->kind = kind;
    auto* object = new IDirectInputDevice8{};
    object->impl = d;
    d->self = object;
    s_devices.push_back(d);
    ++s_live;
    return object;
}

HRESULT IDirectInput8::CreateDevice(const GUID& guid, IDirectInputDevice8** out, void* outer) {
    bool keyboard = DI_SameGuid(guid, GUID_SysKeyboard), mouse = DI_SameGuid(guid, GUID_SysMouse);
    DISeamDevice which = keyboard ? DISeamDevice::Keyboard : mouse ? DISeamDevice::Mouse : DISeamDevice::Joystick;
    LogCall(which, "CreateDevice");
    if (out) *out = nullptr;
    HRESULT hr;
    if (SeamFails(which, DISeamCall::CreateDevice, &hr)) return hr;
    if (!out) return DIERR_INVALIDPARAM;
    if (outer) return DIERR_NOAGGREGATION;
    if (keyboard || mouse) {
        if (s_seamOn && !(keyboard ? s_seam.keyboardPresent : s_seam.mousePresent)) return DIERR_DEVICENOTREG;
        *out = NewDevice(keyboard ? Kind::Keyboard : Kind::Mouse);
        return DI_OK;
    }
    for (const JoystickInfo& j : AttachedJoysticks()) {
        if (!DI_SameGuid(j.guid, guid)) continue;
        SDL_Joystick* sdl = nullptr;
        if (j.sdlIndex >= 0 && !(sdl = SDL_JoystickOpen(j.sdlIndex))) return DIERR_GENERIC;
        IDirectInputDevice8* device = NewDevice(Kind::Joystick);
        IDirectInputDevice8::Impl* d = device->impl;
        d->guid = guid;
        d->seamIndex = j.seamIndex;
        d->joystick = sdl;
        if (sdl && SDL_WasInit(SDL_INIT_HAPTIC) && SDL_JoystickIsHaptic(sdl) == 1) {
            d->haptic = SDL_HapticOpenFromJoystick(sdl);
            if (d->haptic && !(SDL_HapticQuery(d->haptic) & (SDL_HAPTIC_CONSTANT | SDL_HAPTIC_SINE))) {
                SDL_HapticClose(d->haptic);
                d->haptic = nullptr;
            }
        }
        *out = device;
        return DI_OK;
    }
    return DIERR_DEVICENOTREG;
}

HRESULT IDirectInput8::EnumDevices(DWORD deviceClass, LPDIENUMDEVICESCALLBACK callback, void* ref, DWORD /*flags*/) {
    LogCall(DISeamDevice::Interface, "EnumDevices");
    HRESULT hr;
    if (SeamFails(DISeamDevice::Interface, DISeamCall::EnumDevices, &hr)) return hr;
    if (!callback) return DIERR_INVALIDPARAM;
    std::vector<DIDEVICEINSTANCE> list;
    auto add = [&list](const GUID& guid, DWORD type, const std::string& name) {
        DIDEVICEINSTANCE inst{};
        inst.dwSize = sizeof inst;
        inst.guidInstance = guid;
        inst.guidProduct = guid;
        inst.dwDevType = type;
        std::snprintf(inst.tszInstanceName, sizeof inst.tszInstanceName, "%s", name.c_str());
        std::snprintf(inst.tszProductName, sizeof inst.tszProductName, "%s", name.c_str());
        list.push_back(inst);
    };
    if (deviceClass == DI8DEVCLASS_ALL) {
        if (!s_seamOn || s_seam.mousePresent) add(GUID_SysMouse, DI8DEVTYPE_MOUSE, "Mouse");
        if (!s_seamOn || s_seam.keyboardPresent) add(GUID_SysKeyboard, DI8DEVTYPE_KEYBOARD, "Keyboard");
    }
    if (deviceClass == DI8DEVCLASS_ALL || deviceClass == DI8DEVCLASS_GAMECTRL)
        for (const JoystickInfo& j : AttachedJoysticks()) add(j.guid, DI8DEVTYPE_JOYSTICK, j.name);
    for (const auto& inst : list)
        if (callback(&inst, ref) == DIENUM_STOP) break;
    return DI_OK;
}

HRESULT IDirectInput8::GetDeviceStatus(const GUID& guid) {
    LogCall(DISeamDevice::Interface, "GetDeviceStatus");
    HRESULT hr;
    if (SeamFails(DISeamDevice::Interface, DISeamCall::GetDeviceStatus, &hr)) return hr;
    if (DI_SameGuid(guid, GUID_SysKeyboard)) return !s_seamOn || s_seam.keyboardPresent ? DI_OK : DIERR_DEVICENOTREG;
    if (DI_SameGuid(guid, GUID_SysMouse)) return !s_seamOn || s_seam.mousePresent ? DI_OK : DIERR_DEVICENOTREG;
    for (const JoystickInfo& j : AttachedJoysticks())
        if (DI_SameGuid(j.guid, guid)) return DI_OK;
    return DIERR_DEVICENOTREG;
}

uint32_t IDirectInput8::Release() {
    if (--impl->refs > 0) return static_cast<uint32_t>(impl->refs);
    if (--s_interfaces == 0) SDL_DelEventWatch(RouterWatch, nullptr);
    if (impl->sdlSystems) SDL_QuitSubSystem(impl->sdlSystems);
    delete impl;
    delete this;
    --s_live;
    return 0;
}

HRESULT DirectInput8Create(HINSTANCE /*instance*/, DWORD version, const GUID& iid, void** out, void* outer) {
    LogCall(DISeamDevice::Interface, "Create");
    if (out) *out = nullptr;
    HRESULT hr;
    if (SeamFails(DISeamDevice::Interface, DISeamCall::Create, &hr)) return hr;
    if (!out) return DIERR_INVALIDPARAM;
    if (outer) return DIERR_NOAGGREGATION;
    if (!DI_SameGuid(iid, IID_IDirectInput8A)) return DIERR_NOINTERFACE;
    if (version < DIRECTINPUT_VERSION) return DIERR_OLDDIRECTINPUTVERSION;
    if (version > DIRECTINPUT_VERSION) return DIERR_BETADIRECTINPUTVERSION;

    auto* impl = new IDirectInput8::Impl{};
    if (SDL_InitSubSystem(SDL_INIT_EVENTS) == 0) impl->sdlSystems |= SDL_INIT_EVENTS;
    if (!s_seamOn) {
        // Without joystick or haptic support the game still has keyboard and mouse.
        if (SDL_InitSubSystem(SDL_INIT_JOYSTICK) == 0) impl->sdlSystems |= SDL_INIT_JOYSTICK;
        if (SDL_InitSubSystem(SDL_INIT_HAPTIC) == 0) impl->sdlSystems |= SDL_INIT_HAPTIC;
    }
    if (s_interfaces++ == 0) SDL_AddEventWatch(RouterWatch, nullptr);
    auto* object = new IDirectInput8{};
    object->impl = impl;
    ++s_live;
    *out = object;
    return DI_OK;
}

// ---------------------------------------------------------------------------
// Seam

// What text input typed for each key lasts only as long as the keys that typed it.
static void ForgetTypedText() {
    s_lastKeyDown = 0;
    for (std::string& text : s_keyText) text.clear();
}

DInputSeam& DInput_SeamReset() {
    ForgetTypedText();
    s_seamOn = true;
    s_seam = DInputSeam{};
    s_failures.clear();
    s_foreground = true;
    return s_seam;
}

DInputSeam& DInput_Seam() { return s_seam; }

void DInput_SeamDisable() {
    ForgetTypedText();
    s_seamOn = false;
    s_seam = DInputSeam{};
    s_failures.clear();
    s_foreground = true;
}

void DInput_SeamFail(DISeamDevice device, DISeamCall call, HRESULT result, int times, DIPROPID property,
                     int32_t object) {
    if (times == 0) return;
    s_failures.push_back(Failure{device, call, result, times, property, object});
}

void DInput_SeamKey(DWORD scanCode, bool down) {
    // A fresh press has typed nothing yet, as for a key from SDL.
    if (down && (scanCode & 0xFF) != 0) {
        s_lastKeyDown = scanCode & 0xFF;
        s_keyText[s_lastKeyDown].clear();
    }
    RouteKey(scanCode, down, SDL_GetTicks());
}

void DInput_SeamMouse(DWORD offset, DWORD data) { RouteMouse(offset, data, SDL_GetTicks()); }

int DInput_LiveObjects() { return s_live; }

int DInput_SeamCallCount(const std::string& call) {
    return static_cast<int>(std::count(s_seam.calls.begin(), s_seam.calls.end(), call));
}
