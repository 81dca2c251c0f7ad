#include "system/input.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "base/general.h"
#include "base/log.h"
#include "base/memory.h"
#include "platform/dinput/dinput.h"
#include "platform/win32/keyboard.h"
#include "platform/win32/mmjoystick.h"
#include "system/entry.h"
#include "system/forcefeedback.h"
#include "system/keycodes.h"
#include "system/mmjoystick.h"
#include "system/window.h"

uint8_t g_InputVirtualKeys[256];
int32_t g_InputShift = 0;

namespace {

constexpr DWORD kKeyboardBuffer = 50;
constexpr DWORD kMouseBuffer = 128;
constexpr DWORD kCoopKeyboard = DISCL_NONEXCLUSIVE | DISCL_FOREGROUND | DISCL_NOWINKEY;  // 0x16
constexpr DWORD kCoopExclusive = DISCL_EXCLUSIVE | DISCL_FOREGROUND;                     // 0x5
constexpr LONG kAxisRange = 65535;
constexpr int32_t kClockWrap = 32400000;
constexpr int32_t kDoubleClickMs = 1000;
constexpr int kJoystickFailureLimit = 1000;

bool s_keyboardMustPoll = false;
bool s_mouseMustPoll = false;
HKL s_layout = nullptr;
int32_t s_lastLeftPress = 0;
bool s_leftPressSeen = false;
int s_joystickErrors = 0;
int32_t s_twistMemory = 0;

// Set-up failures are always written; per-frame and device notes only with
// the input category.
void Fail(const char* fmt, ...) QEL_PRINTF_FMT(1, 2);
void Fail(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    Qel_VDPrintf(0, fmt, ap);
    va_end(ap);
}

void Note(const char* fmt, ...) QEL_PRINTF_FMT(1, 2);
void Note(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    Qel_VDPrintf(4, fmt, ap);
    va_end(ap);
}

bool Failed(HRESULT hr) { return hr < 0; }
bool Lost(HRESULT hr) { return hr == DIERR_INPUTLOST || hr == DIERR_NOTACQUIRED; }

HRESULT SetDword(IDirectInputDevice8* device, DIPROPID property, DWORD how, DWORD object, DWORD value) {
    DIPROPDWORD p{};
    p.diph.dwSize = sizeof p;
    p.diph.dwHeaderSize = sizeof p.diph;
    p.diph.dwObj = object;
    p.diph.dwHow = how;
    p.dwData = value;
    return device->SetProperty(property, &p.diph);
}

HRESULT SetBufferSize(IDirectInputDevice8* device, DWORD size) {
    return SetDword(device, DIPROP_BUFFERSIZE, DIPH_DEVICE, 0, size);
}

HRESULT SetRange(IDirectInputDevice8* device, DWORD offset) {
    DIPROPRANGE p{};
    p.diph.dwSize = sizeof p;
    p.diph.dwHeaderSize = sizeof p.diph;
    p.diph.dwObj = offset;
    p.diph.dwHow = DIPH_BYOFFSET;
    p.lMin = -kAxisRange;
    p.lMax = kAxisRange;
    return device->SetProperty(DIPROP_RANGE, &p.diph);
}

// Percent of the half range into the platform's 1/10000 units; out-of-range
// settings are held to the possible ones.
DWORD DeadzoneUnits(int32_t percent) {
    return percent <= 0 ? 0 : percent >= 100 ? 10000 : static_cast<DWORD>(percent) * 100;
}

HRESULT SetDeadzone(IDirectInputDevice8* device, DWORD offset, DWORD units) {
    return SetDword(device, DIPROP_DEADZONE, DIPH_BYOFFSET, offset, units);
}

// Reads and drops every pending event; the count of dropped events, or the failure.
HRESULT Flush(IDirectInputDevice8* device, DWORD* count) {
    *count = INFINITE;
    return device->GetDeviceData(sizeof(DIDEVICEOBJECTDATA), nullptr, count, 0);
}

void FormatGuid(const GUID& g, char* out, size_t size) {
    std::snprintf(out, size, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
}

void ReleaseEffects() {
    InputState* in = g_InputState;
    if (!in) return;
    uint32_t count = in->effectCount < 4 ? in->effectCount : 4;
    for (uint32_t i = 0; i < count; ++i) {
        if (auto* effect = static_cast<IDirectInputEffect*>(in->effects[i].effect)) effect->Release();
        in->effects[i].effect = nullptr;
    }
}

void ReleaseJoystick() {
    ApplicationRecord& app = g_ApplicationRecord;
    if (!app.joystickDevice) return;
    ReleaseEffects();
    app.joystickDevice->Unacquire();
    app.joystickDevice->Release();
    app.joystickDevice = nullptr;
}

void ClearKeyState(InputState* in) {
    std::memset(in->keyState, 0, sizeof in->keyState);
    std::memset(g_InputVirtualKeys, 0, sizeof g_InputVirtualKeys);
    std::memset(in->keyDown, 0, sizeof in->keyDown);
}

// The joystick features its objects offer.
BOOL JoystickObject(const DIDEVICEOBJECTINSTANCE* object, void*) {
    InputState* in = g_InputState;
    const GUID& type = object->guidType;
    if (DI_SameGuid(type, GUID_RzAxis) && (in->flags & INPUT_ALLOW_TWIST))
        in->flags |= INPUT_TWIST | INPUT_TWIST_FILTERED;
    if (DI_SameGuid(type, GUID_POV) && (in->flags & INPUT_ALLOW_POV)) in->flags |= INPUT_POV | INPUT_POV_READ;
    if (in->flags & INPUT_SECOND_STICK) {
        in->flags |= INPUT_THROTTLE_ANALOG | INPUT_JOYSTICK2;
        if (DI_SameGuid(type, GUID_ZAxis)) in->flags2 |= 0xC;
    } else if (DI_SameGuid(type, GUID_ZAxis)) {
        in->flags |= INPUT_RUDDER | INPUT_RUDDER_RANGED;
    } else if (DI_SameGuid(type, GUID_Slider) && (in->flags & INPUT_ALLOW_SLIDER) && !(in->flags & INPUT_RUDDER)) {
        in->flags |= INPUT_RUDDER_SLIDER | INPUT_RUDDER | INPUT_RUDDER_RANGED;
    }
    return DIENUM_CONTINUE;
}

// The first attached game controller that the command line does not ignore
// ("-ignorejoy n" names the n-th one).
struct JoystickSearch {
    GUID guid;
    int seen;
    bool found;
};

BOOL FirstUsableJoystick(const DIDEVICEINSTANCE* instance, void* ref) {
    auto* search = static_cast<JoystickSearch*>(ref);
    ++search->seen;
    if (search->seen <= 32 && g_IgnoreJoystick[search->seen]) return DIENUM_CONTINUE;
    S_EnumFirstGuid(instance, &search->guid);
    search->found = true;
    return DIENUM_STOP;
}

void LogCapabilities(const DIDEVCAPS& caps) {
    Note("Capabilities for current Joystick:\n");
    Note("  Axes: %u\n  Buttons: %u\n  POVs: %u\n", caps.dwAxes, caps.dwButtons, caps.dwPOVs);
    Note("  FF sample period: %u\n  FF min time resolution: %u\n", caps.dwFFSamplePeriod, caps.dwFFMinTimeResolution);
    Note("  Firmware revision: %u\n  Hardware revision: %u\n  FF driver version: %u\n", caps.dwFirmwareRevision,
         caps.dwHardwareRevision, caps.dwFFDriverVersion);
    Note("dwFlags:\n");
    static const struct {
        DWORD flag;
        const char* name;
    } kFlags[] = {
        {DIDC_ATTACHED, "DIDC_ATTACHED"},
        {DIDC_POLLEDDEVICE, "DIDC_POLLEDDEVICE"},
        {DIDC_EMULATED, "DIDC_EMULATED"},
        {DIDC_POLLEDDATAFORMAT, "DIDC_POLLEDDATAFORMAT"},
        {DIDC_FORCEFEEDBACK, "DIDC_FORCEFEEDBACK"},
        {DIDC_FFATTACK, "DIDC_FFATTACK"},
        {DIDC_FFFADE, "DIDC_FFFADE"},
        {DIDC_SATURATION, "DIDC_SATURATION"},
        {DIDC_POSNEGCOEFFICIENTS, "DIDC_POSNEGCOEFFICIENTS"},
        {DIDC_POSNEGSATURATION, "DIDC_POSNEGSATURATION"},
        {DIDC_DEADBAND, "DIDC_DEADBAND"},
        {DIDC_STARTDELAY, "DIDC_STARTDELAY"},
        {DIDC_ALIAS, "DIDC_ALIAS"},
        {DIDC_PHANTOM, "DIDC_PHANTOM"},
        {DIDC_HIDDEN, "DIDC_HIDDEN"},
    };
    for (const auto& f : kFlags)
        if (caps.dwFlags & f.flag) Note("  %s\n", f.name);
}

// The display's size, when one exists.
bool ScreenSize(int32_t* width, int32_t* height) {
    uint32_t displayFlags = 0;
    return S_WindowLinks.screen && S_WindowLinks.screen(width, height, &displayFlags);
}

int16_t ClampWord(int32_t v) { return static_cast<int16_t>(v < -32768 ? -32768 : v > 32767 ? 32767 : v); }

int32_t Sign(int32_t v) { return (v > 0) - (v < 0); }

}  // namespace

// ---------------------------------------------------------------------------
// Start-up

InputState* S_InitIO(uint32_t flags) {
    InputState* in = Int_AllocRecord<InputState>(0);
    if (!in) return nullptr;
    g_InputState = in;
    in->flags = flags;
    in->active = 1;
    in->pov = -1;
    if (flags & INPUT_SERIAL) Fail("Serial IO not yet supported under Windows!\n");
    S_WindowLinks.syncAcquire = Ex_SyncAcquire;
    S_WindowLinks.pollInput = S_VbiIO;

    if (S_InitIO2()) {
        Note("Direct Input successfully opened!\n");
        return in;
    }

    // Window messages give the keyboard (and the mouse, when asked for); the
    // multimedia library gives up to two joysticks.
    g_ApplicationRecord.directInput = nullptr;
    if (flags & INPUT_MOUSE) in->mousePresent = 1;
    if (flags & (INPUT_JOYSTICK | INPUT_JOYSTICK2)) {
        in->flags &= ~(INPUT_JOYSTICK | INPUT_JOYSTICK2);
        UINT devices = joyGetNumDevs();
        JOYINFO info;
        if (devices >= 1) {
            if (joyGetPos(JOYSTICKID1, &info) == JOYERR_NOERROR) {
                in->flags |= INPUT_JOYSTICK;
                S_CenterJoysticks(1);
            } else {
                Fail("SIO_error: initializing joystick 1\n");
            }
        }
        if (devices > 1) {
            if (joyGetPos(JOYSTICKID2, &info) == JOYERR_NOERROR) {
                in->flags |= INPUT_JOYSTICK2;
                S_CenterJoysticks(2);
            } else {
                Fail("SIO_error: initializing joystick 2\n");
            }
        }
    }
    return in;
}

int S_InitIO2() {
    ApplicationRecord& app = g_ApplicationRecord;
    InputState* in = g_InputState;
    if (!in) return 0;
    void* object = nullptr;
    HRESULT hr = DirectInput8Create(app.hInstance, DIRECTINPUT_VERSION, IID_IDirectInput8A, &object, nullptr);
    if (Failed(hr)) {
        Fail("S_InitIO2() Error opening Direct Input.\nFalling back to normal input!\n%s\n", S_DIErrorText(hr));
        return 0;
    }
    app.directInput = static_cast<IDirectInput8*>(object);

    // A device that cannot be set up gives up DirectInput altogether; the input
    // record stays, the caller goes on with the window's messages.
    auto giveUp = [&in]() {
        S_ReleaseInputDevices();
        in->mousePresent = 0;
        s_mouseMustPoll = s_keyboardMustPoll = false;
        return 0;
    };

    DIDEVCAPS caps{};
    if (in->flags & INPUT_MOUSE) {
        if (Failed(hr = app.directInput->CreateDevice(GUID_SysMouse, &app.mouseDevice, nullptr))) {
            Fail("S_InitIO2() CreateDevice Mouse!\n%s\n", S_DIErrorText(hr));
            return giveUp();
        }
        if (Failed(hr = app.mouseDevice->SetDataFormat(&c_dfDIMouse2))) {
            Fail("S_InitIO2() SetDataFormat Mouse!\n%s\n", S_DIErrorText(hr));
            return giveUp();
        }
        caps.dwSize = sizeof caps;
        if (!Failed(app.mouseDevice->GetCapabilities(&caps))) {
            if (caps.dwFlags & DIDC_POLLEDDATAFORMAT) s_mouseMustPoll = true;
            Note("S_InitIO2() Setting MousePoll to TRUE\n");
        }
        if (Failed(hr = app.mouseDevice->SetCooperativeLevel(app.mainWindow, kCoopExclusive))) {
            Fail("S_InitIO2() SetCooperativeLevel Mouse failed: %s\n", S_DIErrorText(hr));
            return giveUp();
        }
        in->mousePresent = 1;
        if (Failed(hr = SetBufferSize(app.mouseDevice, kMouseBuffer)))
            Fail("Error SIO: DIPROPDWORD Mouse!\n%s\n", S_DIErrorText(hr));
    }

    if (Failed(hr = app.directInput->CreateDevice(GUID_SysKeyboard, &app.keyboardDevice, nullptr))) {
        Fail("S_InitIO2() CreateDevice Keyboard!\n%s\n", S_DIErrorText(hr));
        return giveUp();
    }
    if (Failed(hr = app.keyboardDevice->SetDataFormat(&c_dfDIKeyboard))) {
        Fail("S_InitIO2() SetDataFormat Keyboard!\n%s\n", S_DIErrorText(hr));
        return giveUp();
    }
    caps = DIDEVCAPS{};
    caps.dwSize = sizeof caps;
    if (!Failed(app.keyboardDevice->GetCapabilities(&caps))) {
        if (caps.dwFlags & DIDC_POLLEDDATAFORMAT) s_keyboardMustPoll = true;
        Note("S_InitIO2() Setting KBDPoll to TRUE\n");
    }
    if (Failed(hr = app.keyboardDevice->SetCooperativeLevel(app.mainWindow, kCoopKeyboard))) {
        Fail("S_InitIO2() Set Cooperive Level Keyboard!\n%s\n", S_DIErrorText(hr));
        return giveUp();
    }
    Note("S_InitIO2() Keyboard via Direct Input OK\n");
    if (Failed(hr = SetBufferSize(app.keyboardDevice, kKeyboardBuffer)))
        Fail("Error SIO: DIPROPDWORD Keyboard!\n%s\n", S_DIErrorText(hr));

    if (in->flags & (INPUT_JOYSTICK | INPUT_JOYSTICK2)) {
        in->flags &= ~INPUT_JOYSTICK;
        char text[48];
        bool haveGuid = false;
        GUID guid{};
        if (app.joyGUID) {
            guid = *app.joyGUID;
            if (Failed(hr = app.directInput->GetDeviceStatus(guid))) {
                FormatGuid(guid, text, sizeof text);
                Fail("S_InitIO2() Default Joystick %s is no longer attached: %s\n", text, S_DIErrorText(hr));
                Int_FreeMem(app.joyGUID, sizeof(GUID), 0);
                app.joyGUID = nullptr;
            } else {
                haveGuid = true;
            }
        }
        if (!haveGuid) {
            JoystickSearch search{};
            hr = app.directInput->EnumDevices(DI8DEVCLASS_GAMECTRL, FirstUsableJoystick, &search, DIEDFL_ATTACHEDONLY);
            if (Failed(hr)) {
                Fail("S_InitIO2() EnumDevices() for Joystick failed: %s\n", S_DIErrorText(hr));
            } else if (search.found) {
                if (!app.joyGUID) app.joyGUID = static_cast<GUID*>(Int_AllocMem(sizeof(GUID), 0));
                if (app.joyGUID) {
                    *app.joyGUID = search.guid;
                    guid = search.guid;
                    haveGuid = true;
                }
            }
        }
        if (haveGuid) {
            FormatGuid(guid, text, sizeof text);
            Note("S_InitIO2() Creating Joystick GUID=%s\n", text);
            S_DICreateJoystick(guid);
        } else {
            Note("S_InitIO2() No Joystick found.\n");
        }
    }

    if (app.mouseDevice && Failed(hr = app.mouseDevice->Acquire()))
        Note("S_InitIO2() Acquire Mouse failed: %s\n", S_DIErrorText(hr));
    if (app.keyboardDevice && Failed(hr = app.keyboardDevice->Acquire()))
        Note("S_InitIO2() Acquire Keyboard failed: %s\n", S_DIErrorText(hr));
    if (app.joystickDevice && Failed(hr = app.joystickDevice->Acquire()))
        Note("S_InitIO2() Acquire Joystick failed: %s\n", S_DIErrorText(hr));
    return 1;
}

int S_DICreateJoystick(const GUID& guid) {
    ApplicationRecord& app = g_ApplicationRecord;
    InputState* in = g_InputState;
    if (!app.directInput || !in) return 0;
    ReleaseJoystick();
    HRESULT hr = app.directInput->CreateDevice(guid, &app.joystickDevice, nullptr);
    if (Failed(hr)) {
        Fail("S_DICreateJoystick() CreateDevice() failed - %s\n", S_DIErrorText(hr));
        app.joystickDevice = nullptr;
        return 0;
    }
    in->flags &= ~INPUT_JOYSTICK_FEATURES;
    if (Failed(hr = app.joystickDevice->EnumObjects(JoystickObject, nullptr, DIDFT_ALL)))
        Fail("S_DICreateJoystick() Joystick feature enumeration failed!:%s\n", S_DIErrorText(hr));

    if (Failed(hr = app.joystickDevice->SetDataFormat(&c_dfDIJoystick))) {
        Fail("S_DICreateJoystick() SetDataFormat(Joystick) failed - %s\n", S_DIErrorText(hr));
        ReleaseJoystick();
        return 0;
    }
    if (Failed(hr = app.joystickDevice->SetCooperativeLevel(app.mainWindow, kCoopExclusive))) {
        Fail("S_DICreateJoystick() SetCooperativeLevel(Exclusive | Foreground) failed - %s\n", S_DIErrorText(hr));
        ReleaseJoystick();
        return 0;
    }
    if (!S_SetJoystickAxes()) {
        Fail("S_DICreateJoystick() Device preparation failed\n");
        ReleaseJoystick();
        return 0;
    }
    DIDEVCAPS caps{};
    caps.dwSize = sizeof caps;
    if (Failed(hr = app.joystickDevice->GetCapabilities(&caps))) {
        Fail("S_DICreateJoystick() GetCapabilities() failed - %s\n", S_DIErrorText(hr));
        ReleaseJoystick();
        return 0;
    }
    LogCapabilities(caps);

    in->flags |= INPUT_JOYSTICK;
    if (caps.dwFlags & DIDC_POLLEDDATAFORMAT) {
        Note("Joystick requires Polling!\n");
        in->flags |= INPUT_POLL_JOYSTICK;
    }
    if ((caps.dwFlags & DIDC_FORCEFEEDBACK) && (in->flags & INPUT_FORCE_FEEDBACK)) S_FFInit();
    else in->flags &= ~INPUT_FORCE_FEEDBACK;
    s_joystickErrors = 0;
    Ex_SyncAcquire(0);
    return 1;
}

int S_SetJoystickAxes() {
    IDirectInputDevice8* joystick = g_ApplicationRecord.joystickDevice;
    InputState* in = g_InputState;
    if (!joystick || !in) return 0;
    joystick->Unacquire();
    HRESULT hr;
    if (Failed(hr = SetBufferSize(joystick, 0))) Fail("SetProperty(BUFFERSIZE,0) failed:%s\n", S_DIErrorText(hr));

    if ((in->flags & INPUT_TWIST) && (in->flags2 & 0x4)) {
        in->flags2 |= 0x30;
        in->flags &= ~(INPUT_TWIST | INPUT_TWIST_FILTERED);
    }
    bool twist = (in->flags & INPUT_TWIST_FILTERED) || (in->flags2 & 0x20);
    bool rudderSlider = (in->flags & INPUT_RUDDER_RANGED) && (in->flags & INPUT_RUDDER_SLIDER);
    bool rudderZ = (in->flags & INPUT_RUDDER_RANGED) && !(in->flags & INPUT_RUDDER_SLIDER);

    if (Failed(hr = SetRange(joystick, DIJOFS_X))) Fail("SetProperty(RANGE, X-Axis) failed:%s\n", S_DIErrorText(hr));
    if (Failed(hr = SetRange(joystick, DIJOFS_Y))) Fail("SetProperty(RANGE, Y-Axis) failed:%s\n", S_DIErrorText(hr));
    if (twist) {
        Note("Setting range on Y axis 2/rudder\n");
        if (Failed(hr = SetRange(joystick, DIJOFS_RZ)))
            Fail("SetProperty(RANGE, RZ-Axis) failed:%s\n", S_DIErrorText(hr));
    }
    if (rudderSlider && Failed(hr = SetRange(joystick, DIJOFS_SLIDER(0))))
        Fail("SetProperty(RANGE, Slider) failed:%s\n", S_DIErrorText(hr));
    if ((in->flags2 & 0x8) || rudderZ) {
        Note("Setting range on X axis 2/throttle\n");
        if (Failed(hr = SetRange(joystick, DIJOFS_Z)))
            Fail("SetProperty(RANGE, Z-Axis) failed:%s\n", S_DIErrorText(hr));
    }

    DWORD units = DeadzoneUnits(g_ApplicationRecord.joyDeadzone);
    if (Failed(hr = SetDeadzone(joystick, DIJOFS_X, units))) {
        Fail("SetProperty(DEADZONE, X-Axis) failed:%s\n", S_DIErrorText(hr));
        return 0;
    }
    if (Failed(hr = SetDeadzone(joystick, DIJOFS_Y, units))) {
        Fail("SetProperty(DEADZONE, Y-Axis) failed:%s\n", S_DIErrorText(hr));
        return 0;
    }
    if (twist && Failed(hr = SetDeadzone(joystick, DIJOFS_RZ, units))) {
        Fail("SetProperty(DEADZONE, RZ-Axis) failed:%s\n", S_DIErrorText(hr));
        return 0;
    }
    if (in->flags & INPUT_RUDDER_RANGED) {
        // The rudder uses its whole travel.
        if (in->flags & INPUT_RUDDER_SLIDER) {
            if (Failed(hr = SetDeadzone(joystick, DIJOFS_SLIDER(0), 0))) {
                Fail("SetProperty(DEADZONE, Slider) failed:%s\n", S_DIErrorText(hr));
                return 0;
            }
        } else if (Failed(hr = SetDeadzone(joystick, DIJOFS_Z, 0))) {
            Fail("SetProperty(DEADZONE, Z-Axis) failed:%s\n", S_DIErrorText(hr));
            return 0;
        }
    } else if ((in->flags2 & 0x8) && Failed(hr = SetDeadzone(joystick, DIJOFS_Z, units))) {
        Fail("SetProperty(DEADZONE, X-Axis2) failed:%s\n", S_DIErrorText(hr));
        return 0;
    }
    return 1;
}

int S_SetJoystickDeadzones(int32_t percent) {
    IDirectInputDevice8* joystick = g_ApplicationRecord.joystickDevice;
    InputState* in = g_InputState;
    if (!joystick || !in) return 0;
    joystick->Unacquire();
    DWORD units = DeadzoneUnits(percent);
    HRESULT hr;
    if (Failed(hr = SetDeadzone(joystick, DIJOFS_X, units))) {
        Fail("SetProperty(DEADZONE, X-Axis) failed:%s\n", S_DIErrorText(hr));
        return 0;
    }
    if (Failed(hr = SetDeadzone(joystick, DIJOFS_Y, units))) {
        Fail("SetProperty(DEADZONE, Y-Axis) failed:%s\n", S_DIErrorText(hr));
        return 0;
    }
    if ((in->flags & INPUT_TWIST_FILTERED) && Failed(hr = SetDeadzone(joystick, DIJOFS_RZ, units))) {
        Fail("SetProperty(DEADZONE, RZ-Axis) failed:%s\n", S_DIErrorText(hr));
        return 0;
    }
    return 1;
}

int32_t S_SetJoystickDeadzone(int32_t percent) {
    g_ApplicationRecord.joyDeadzone = percent;
    S_SetJoystickDeadzones(percent);
    return percent;
}

int32_t S_GetJoystickDeadzone() { return g_ApplicationRecord.joyDeadzone; }

int32_t S_SetJoystickSensitivity(int32_t value) { return g_ApplicationRecord.joySensitivity = value; }

int32_t S_GetJoystickSensitivity() { return g_ApplicationRecord.joySensitivity; }

// ---------------------------------------------------------------------------
// Activation

void Ex_SyncAcquire(int unacquire) {
    ApplicationRecord& app = g_ApplicationRecord;
    InputState* in = g_InputState;
    Note("Ex_SyncAcquire\n");
    if (in) {
        in->joyX = in->joyY = 0;
        in->joyButtons = 0;
        in->clickLeft = in->clickRight = in->clickMiddle = 0;
        in->doubleClick = 0;
        in->buttonLeft = in->buttonRight = in->buttonMiddle = 0;
        in->mouseButtons = in->mouseHeld = 0;
        in->pov = -1;  // centred: 0 would read as the hat pushed forward
        std::memset(in->keyState, 0, sizeof in->keyState);
    }
    HRESULT hr;
    if (unacquire) {
        if (app.mouseDevice && Failed(hr = app.mouseDevice->Unacquire()))
            Note("Ex_SyncAcquire(%d) Unacquire Mouse failed: %s\n", unacquire, S_DIErrorText(hr));
        if (app.keyboardDevice && Failed(hr = app.keyboardDevice->Unacquire()))
            Note("Ex_SyncAcquire(%d) Unacquire Keyboard failed: %s\n", unacquire, S_DIErrorText(hr));
        if (app.joystickDevice && Failed(hr = app.joystickDevice->Unacquire()))
            Note("Ex_SyncAcquire(%d) Unacquire Joystick failed: %s\n", unacquire, S_DIErrorText(hr));
        return;
    }
    if (app.mouseDevice && Failed(hr = app.mouseDevice->Acquire()))
        Note("Ex_SyncAcquire(%d) Acquire Mouse failed: %s\n", unacquire, S_DIErrorText(hr));
    if (app.keyboardDevice) {
        if (Failed(hr = app.keyboardDevice->Acquire())) {
            Note("Ex_SyncAcquire(%d) Acquire Keyboard failed: %s\n", unacquire, S_DIErrorText(hr));
        } else {
            DWORD count;
            if (Failed(hr = Flush(app.keyboardDevice, &count)))
                Note("Error GetDeviceData keyboard!:\n%s\n", S_DIErrorText(hr));
            else Note("Keyboard %d Keys flushed!:\n%s\n", static_cast<int>(count), S_DIErrorText(hr));
        }
    }
    if (app.joystickDevice) {
        if (Failed(hr = app.joystickDevice->Acquire())) {
            Note("Ex_SyncAcquire(%d) Acquire Joystick failed: %s\n", unacquire, S_DIErrorText(hr));
            return;
        }
        if (in && (in->flags & INPUT_FORCE_FEEDBACK)) S_FFInit();
    } else if (in && app.directInput && (in->flags & (INPUT_JOYSTICK | INPUT_JOYSTICK2)) && app.joyGUID) {
        GUID guid = *app.joyGUID;
        if (!S_DICreateJoystick(guid)) Note("EX_SyncAcquire(%d) Joystick could not be reinitialized!\n", unacquire);
    }
}

void S_DIToSubWindow(HWND window) {
    ApplicationRecord& app = g_ApplicationRecord;
    Ex_SyncAcquire(1);
    HRESULT hr;
    if (app.mouseDevice && Failed(hr = app.mouseDevice->SetCooperativeLevel(window, kCoopExclusive)))
        Note("S_DIToSubWindow - Mouse Error: %s\n", S_DIErrorText(hr));
    if (app.keyboardDevice && Failed(hr = app.keyboardDevice->SetCooperativeLevel(window, kCoopKeyboard)))
        Note("S_DIToSubWindow - KB Error: %s\n", S_DIErrorText(hr));
    if (app.joystickDevice && Failed(hr = app.joystickDevice->SetCooperativeLevel(window, kCoopExclusive)))
        Note("SetCooperativeLevel(Exclusive | Foreground) failed - %s\n", S_DIErrorText(hr));
    Ex_SyncAcquire(0);
}

// ---------------------------------------------------------------------------
// Per-frame poll

void S_VbiIO() {
    InputState* in = g_InputState;
    if (!in) return;
    in->actions = 0;
    in->mouseDX = in->mouseDY = 0;
    if (!S_VbiIO2() && (in->flags & (INPUT_JOYSTICK | INPUT_JOYSTICK2))) S_ReadMMJoysticks();

    static const uint32_t kMouseActions[5] = {0x1, 0x10, 0x2, 0x4, 0x8};
    for (int i = 0; i < 5; ++i)
        if (in->mouseButtons & (1u << i)) in->actions |= kMouseActions[i];
    if (in->flags & INPUT_JOYSTICK)
        for (int i = 0; i < 10; ++i)
            if (in->joyButtons & (1u << i)) in->actions |= 0x20u << i;
}

static bool ReadKeyboard(InputState* in) {
    IDirectInputDevice8* keyboard = g_ApplicationRecord.keyboardDevice;
    HRESULT hr;
    if (s_keyboardMustPoll) {
        hr = keyboard->Poll();
        if (hr == DIERR_NOTACQUIRED) {
            ClearKeyState(in);
            Note("reaquire keyboard!\n");
            keyboard->Acquire();
            DWORD count;
            Flush(keyboard, &count);
            hr = keyboard->Poll();
        }
        if (Failed(hr)) Note("Error polling keyboard!:\n%s\n", S_DIErrorText(hr));
    }

    // One key per frame at a playable frame rate, a few more when the game crawls.
    int32_t fps = g_SystemState ? g_SystemState->averageFps : 0;
    DIDEVICEOBJECTDATA events[4];
    DWORD count = 0;
    for (int attempt = 0;; ++attempt) {
        count = fps > 10 ? 1 : 4;
        hr = keyboard->GetDeviceData(sizeof(DIDEVICEOBJECTDATA), events, &count, 0);
        if (!Failed(hr)) break;
        Note("S_VbiIO2() Failed getting keyboard GetDeviceState: %s\n", S_DIErrorText(hr));
        if (attempt > 0 || !Lost(hr)) return false;
        if (Failed(hr = keyboard->SetDataFormat(&c_dfDIKeyboard)))
            Note("S_VbiIO2() Keyboard->SetDataFormat() failed: %s\n", S_DIErrorText(hr));
        SetBufferSize(keyboard, kKeyboardBuffer);
        if (Failed(hr = keyboard->Acquire())) Note("S_VbiIO2() Keyboard->Acquire() failed: %s\n", S_DIErrorText(hr));
        ClearKeyState(in);
        DWORD flushed;
        Flush(keyboard, &flushed);
    }
    for (DWORD i = 0; i < count; ++i)
        if (events[i].dwOfs < 255) in->keyState[events[i].dwOfs] = static_cast<uint8_t>(events[i].dwData);

    int down = 0;
    for (uint8_t k : in->keyState) down += (k & 0x80) != 0;
    if (down > 8) {
        Note("Warning: more than 8 key's pressed (%d) -> flushing buffers!\n", down);
        ClearKeyState(in);
        DWORD flushed;
        Flush(keyboard, &flushed);
    }
    return true;
}

// Held keys: their virtual keys, their engine codes, and one ring entry per key
// and poll, so a held key repeats once per frame.
static void TakeHeldKeys(InputState* in) {
    constexpr uint32_t kLeftShift = 0x2A, kRightShift = 0x36;
    in->shiftDown = ((in->keyState[kLeftShift] | in->keyState[kRightShift]) & 0x80) ? 1 : 0;
    g_InputShift = static_cast<int32_t>(in->shiftDown);
    for (uint32_t scan = 0; scan < 256; ++scan) {
        if (!(in->keyState[scan] & 0x80)) continue;
        UINT vk = MapVirtualKeyExA(scan, MAPVK_VSC_TO_VK, s_layout);
        if (vk < 256) g_InputVirtualKeys[vk] = 0x80;
        if (uint32_t code = S_DIKToKeyCode(scan)) in->keyDown[code] = 1;
        if (scan == kLeftShift || scan == kRightShift) continue;
        in->keySeen = 1;
        S_KeyRingStore(static_cast<int32_t>(scan), 0, KEY_KIND_CHAR);
    }
}

static void TakeMouseEvents(InputState* in, const DIDEVICEOBJECTDATA* events, DWORD count) {
    int32_t gameClock = g_SystemState ? g_SystemState->gameClock : 0;
    in->mouseTime = static_cast<uint32_t>(gameClock);
    int32_t dx = 0, dy = 0, dz = 0;
    uint32_t pressed = 0;
    in->clickLeft = in->clickRight = in->clickMiddle = 0;
    in->doubleClick = 0;
    for (DWORD i = 0; i < count; ++i) {
        DWORD ofs = events[i].dwOfs;
        auto data = static_cast<int32_t>(events[i].dwData);
        if (ofs == DIMOFS_X) {
            dx += data;
        } else if (ofs == DIMOFS_Y) {
            dy += data;
        } else if (ofs == DIMOFS_Z) {
            dz += data;
        } else if (ofs >= DIMOFS_BUTTON0 && ofs <= DIMOFS_BUTTON7) {
            uint32_t bit = 1u << (ofs - DIMOFS_BUTTON0);
            if (data & 0x80) {
                pressed |= bit;
                in->mouseHeld |= bit;
            } else {
                in->mouseHeld &= ~bit;
            }
        }
    }
    in->mouseDX = ClampWord(dx);
    in->mouseDY = ClampWord(dy);
    in->mouseDZ = ClampWord(dz);
    in->clickLeft = pressed & 1;
    in->clickRight = (pressed >> 1) & 1;
    in->clickMiddle = (pressed >> 2) & 1;
    in->mouseButtons = in->mouseHeld | pressed;
    in->buttonLeft = in->mouseButtons & 1;
    in->buttonRight = (in->mouseButtons >> 1) & 1;
    in->buttonMiddle = (in->mouseButtons >> 2) & 1;
    if (count == 0) return;

    int32_t x = in->mouseX + in->mouseDX, y = in->mouseY + in->mouseDY;
    int32_t width, height;
    bool display = ScreenSize(&width, &height);
    x = x < 0 ? 0 : display && x > width ? width : x;
    y = y < 0 ? 0 : display && y > height ? height : y;
    in->mouseX = ClampWord(x);
    in->mouseY = ClampWord(y);
    if (pressed & 1) {
        int32_t diff = gameClock - s_lastLeftPress;
        if (diff > kClockWrap / 2) diff -= kClockWrap;
        if (diff < -kClockWrap / 2) diff += kClockWrap;
        // A press that folds to before the last one (the clock was set back) is no double click.
        if (s_leftPressSeen && diff >= 0 && diff < kDoubleClickMs) in->doubleClick = 1;
        s_lastLeftPress = gameClock;
        s_leftPressSeen = true;
    }
}

static void ReadMouse(InputState* in) {
    IDirectInputDevice8* mouse = g_ApplicationRecord.mouseDevice;
    if (!mouse) return;
    HRESULT hr;
    if (s_mouseMustPoll) {
        hr = mouse->Poll();
        if (hr == DIERR_NOTACQUIRED) {
            Note("reaquire mouse!\n");
            mouse->Acquire();
            hr = mouse->Poll();
        }
        if (Failed(hr)) Note("Error polling mouse:\n%s\n", S_DIErrorText(hr));
    }
    static DIDEVICEOBJECTDATA events[kMouseBuffer];
    for (int attempt = 0;; ++attempt) {
        DWORD count = kMouseBuffer;
        hr = mouse->GetDeviceData(sizeof(DIDEVICEOBJECTDATA), events, &count, 0);
        if (!Failed(hr)) {
            TakeMouseEvents(in, events, count);
            if (hr != DI_OK) {
                // Events were lost: the buttons come from the immediate state.
                DIMOUSESTATE2 state;
                if (!Failed(mouse->GetDeviceState(sizeof state, &state))) {
                    in->mouseHeld = 0;
                    for (int i = 0; i < 8; ++i)
                        if (state.rgbButtons[i] & 0x80) in->mouseHeld |= 1u << i;
                }
            }
            return;
        }
        if (attempt == 0 && Lost(hr)) {
            if (Failed(hr = mouse->Acquire())) Note("DI Acquire Mouse Error: %s\n", S_DIErrorText(hr));
            continue;
        }
        Note("DI Mouse Error: %s\n", S_DIErrorText(hr));
        return;
    }
}

static void ReadJoystick(InputState* in) {
    ApplicationRecord& app = g_ApplicationRecord;
    IDirectInputDevice8* joystick = app.joystickDevice;
    HRESULT hr = DI_OK;
    if (in->flags & INPUT_POLL_JOYSTICK) hr = joystick->Poll();
    DIJOYSTATE state;
    if (!Failed(hr)) hr = joystick->GetDeviceState(sizeof state, &state);
    if (!Failed(hr)) {
        s_joystickErrors = 0;
        in->joyButtons = 0;
        for (int i = 0; i < 32; ++i)
            if (state.rgbButtons[i] & 0x80) in->joyButtons |= 1u << i;
        if (in->joyButtons) Note("Joystick GetDeviceState() buttons = %x\n", in->joyButtons);
        if (in->flags & INPUT_STICK_ANALOG) {
            in->joyX = state.lX;
            in->joyY = state.lY;
        } else if (in->flags & INPUT_STICK_DIGITAL) {
            in->joyX = Sign(state.lX);
            in->joyY = Sign(state.lY);
        }
        in->throttle = 0;
        if ((in->flags & INPUT_JOYSTICK2) && (in->flags2 & 0x8)) {
            if (in->flags & INPUT_THROTTLE_ANALOG) in->throttle = state.lZ;
            else if (in->flags & INPUT_THROTTLE_DIGITAL) in->throttle = Sign(state.lZ);
        }
        bool povInUse = (in->flags & INPUT_POV) && (in->flags & INPUT_POV_READ);
        in->pov = povInUse && (state.rgdwPOV[0] & 0xFFFF) != 0xFFFF ? static_cast<int32_t>(state.rgdwPOV[0]) : -1;
        if (in->flags & INPUT_RUDDER) {
            int32_t value = ((in->flags & INPUT_RUDDER_SLIDER) ? state.rglSlider[0] : state.lZ) & ~0xFF;
            if (in->flags & INPUT_RUDDER_RANGED) {
                in->rudder = value;
            } else if (value != in->lastRudder) {
                // A rudder counts once it has moved.
                in->flags |= INPUT_RUDDER_RANGED;
                in->rudder = value;
            } else {
                in->rudder = 0;
            }
            in->lastRudder = value;
        } else {
            in->rudder = 0;
        }
        if ((in->flags & INPUT_TWIST) && (in->flags & INPUT_TWIST_FILTERED)) {
            s_twistMemory = ((state.lRz & ~0xF) + 4 * s_twistMemory) / 5;
            in->twist = s_twistMemory;
        } else {
            in->twist = 0;
        }
        in->secondY = (in->flags2 & 0x10) && (in->flags2 & 0x20) ? state.lRz : 0;
        return;
    }

    if (hr == DIERR_NOTACQUIRED) Note("Joystick Poll or GetDeviceState() DIERR_NOTACQUIRED, reacquiring\n");
    else if (hr == DIERR_INPUTLOST) Note("Joystick Poll or GetDeviceState() DIERR_INPUTLOST, reacquiring\n");
    else if (hr == DIERR_PENDING) Note("Joystick Poll or GetDeviceState() E_PENDING\n");
    else Note("Joystick Poll or GetDeviceState() unknown error %x\n", static_cast<unsigned>(hr));
    if (hr != DIERR_PENDING) joystick->Acquire();
    if (++s_joystickErrors > kJoystickFailureLimit) {
        Note("Error polling Joystick!\nClosing Joystick!:\n%s\n", S_DIErrorText(hr));
        ReleaseJoystick();
        in->flags &= ~INPUT_JOYSTICK_FEATURES;
        in->joyButtons = 0;
        in->joyX = in->joyY = 0;
        s_joystickErrors = 0;
    }
}

int S_VbiIO2() {
    ApplicationRecord& app = g_ApplicationRecord;
    InputState* in = g_InputState;
    if (!app.directInput || !in) return 0;
    s_layout = GetKeyboardLayout(0);
    std::memset(g_InputVirtualKeys, 0, sizeof g_InputVirtualKeys);
    std::memset(in->keyDown, 0, sizeof in->keyDown);

    if (!app.keyboardDevice) Note("No Keyboard!\n");
    else if (ReadKeyboard(in)) TakeHeldKeys(in);

    if (in->mousePresent) ReadMouse(in);
    if ((in->flags & INPUT_JOYSTICK) && app.joystickDevice) ReadJoystick(in);
    return 1;
}

// ---------------------------------------------------------------------------
// End

void S_CloseIO() {
    InputState* in = g_InputState;
    ReleaseEffects();
    S_ReleaseInputDevices();
    s_keyboardMustPoll = s_mouseMustPoll = false;
    s_leftPressSeen = false;
    s_joystickErrors = 0;
    s_twistMemory = 0;
    if (S_WindowLinks.syncAcquire == Ex_SyncAcquire) S_WindowLinks.syncAcquire = nullptr;
    if (S_WindowLinks.pollInput == S_VbiIO) S_WindowLinks.pollInput = nullptr;
    // Freeing a missing record logs the attempt, as every free of nothing does.
    Int_FreeMem(in, sizeof(InputState), 0);
    g_InputState = nullptr;
}

const char* S_DIErrorText(HRESULT result) {
    static const struct {
        uint32_t code;
        const char* name;
    } kNames[] = {
        {0x00000000u, "DI_OK"},
        {0x00000001u, "S_FALSE"},
        {0x00000002u, "DI_POLLEDDEVICE"},
        {0x00000003u, "DI_DOWNLOADSKIPPED"},
        {0x00000004u, "DI_EFFECTRESTARTED"},
        {0x00000008u, "DI_TRUNCATED"},
        {0x0000000Cu, "DI_TRUNCATEDANDRESTARTED"},
        {0x800704DFu, "DIERR_ALREADYINITIALIZED"},
        {0x800700AAu, "DIERR_ACQUIRED"},
        {0x8007047Eu, "DIERR_OLDDIRECTINPUTVERSION"},
        {0x80070481u, "DIERR_BETADIRECTINPUTVERSION"},
        {0x80070077u, "DIERR_BADDRIVERVER"},
        {0x8007000Eu, "DIERR_OUTOFMEMORY"},
        {0x80070015u, "DIERR_NOTINITIALIZED"},
        {0x8007001Eu, "DIERR_INPUTLOST"},
        {0x80070057u, "DIERR_INVALIDPARAM"},
        {0x8007000Cu, "DIERR_NOTACQUIRED"},
        {0x80040110u, "DIERR_NOAGGREGATION"},
        {0x80004005u, "DIERR_GENERIC"},
        {0x80004002u, "DIERR_NOINTERFACE"},
        {0x8000000Au, "E_PENDING"},
        {0x80004001u, "DIERR_UNSUPPORTED"},
        {0x80040201u, "DIERR_DEVICEFULL"},
        {0x80040154u, "DIERR_DEVICENOTREG"},
        {0x80070005u, "E_ACCESSDENIED"},
        {0x80070002u, "DIERR_NOTFOUND"},
        {0x80040202u, "DIERR_MOREDATA"},
        {0x80040203u, "DIERR_NOTDOWNLOADED"},
        {0x80040204u, "DIERR_HASEFFECTS"},
        {0x80040205u, "DIERR_NOTEXCLUSIVEACQUIRED"},
        {0x80040206u, "DIERR_INCOMPLETEEFFECT"},
        {0x80040207u, "DIERR_NOTBUFFERED"},
        {0x80040208u, "DIERR_EFFECTPLAYING"},
    };
    for (const auto& n : kNames)
        if (n.code == static_cast<uint32_t>(result)) return n.name;
    return "Unknown DI Error!";
}
