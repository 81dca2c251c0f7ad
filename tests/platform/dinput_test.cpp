#include <gtest/gtest.h>

#include <SDL.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/dinput/dinput.h"
#include "platform/dinput/scancodes.h"
#include "platform/dinput/seam.h"
#include "platform/win32/keyboard.h"
#include "platform/win32/mmjoystick.h"
#include "platform/win32/msgbox.h"

namespace {

HRESULT SetDword(IDirectInputDevice8* d, DIPROPID prop, DWORD how, DWORD obj, DWORD value) {
    DIPROPDWORD p{};
    p.diph = {sizeof p, sizeof p.diph, obj, how};
    p.dwData = value;
    return d->SetProperty(prop, &p.diph);
}

HRESULT SetRange(IDirectInputDevice8* d, DWORD obj, LONG lo, LONG hi) {
    DIPROPRANGE p{};
    p.diph = {sizeof p, sizeof p.diph, obj, DIPH_BYOFFSET};
    p.lMin = lo;
    p.lMax = hi;
    return d->SetProperty(DIPROP_RANGE, &p.diph);
}

std::vector<DIDEVICEOBJECTDATA> Read(IDirectInputDevice8* d, DWORD max, HRESULT* result = nullptr) {
    std::vector<DIDEVICEOBJECTDATA> events(max);
    DWORD count = max;
    HRESULT hr = d->GetDeviceData(sizeof(DIDEVICEOBJECTDATA), events.data(), &count, 0);
    if (result) *result = hr;
    events.resize(hr < 0 ? 0 : count);
    return events;
}

class DInput : public testing::Test {
protected:
    void SetUp() override {
        seam_ = &DInput_SeamReset();
        void* out = nullptr;
        ASSERT_EQ(DirectInput8Create(nullptr, DIRECTINPUT_VERSION, IID_IDirectInput8A, &out, nullptr), DI_OK);
        di_ = static_cast<IDirectInput8*>(out);
    }
    void TearDown() override {
        for (auto* d : devices_) d->Release();
        if (di_) di_->Release();
        EXPECT_EQ(DInput_LiveObjects(), 0);
        DInput_SeamDisable();
    }
    IDirectInputDevice8* Open(const GUID& guid, const DIDATAFORMAT* format, DWORD coop, DWORD buffer) {
        IDirectInputDevice8* d = nullptr;
        EXPECT_EQ(di_->CreateDevice(guid, &d, nullptr), DI_OK);
        if (!d) return nullptr;
        devices_.push_back(d);
        EXPECT_EQ(d->SetDataFormat(format), DI_OK);
        EXPECT_EQ(d->SetCooperativeLevel(nullptr, coop), DI_OK);
        if (buffer) {
            EXPECT_EQ(SetDword(d, DIPROP_BUFFERSIZE, DIPH_DEVICE, 0, buffer), DI_OK);
        }
        return d;
    }
    IDirectInputDevice8* Keyboard(DWORD buffer = 50) {
        return Open(GUID_SysKeyboard, &c_dfDIKeyboard, DISCL_NONEXCLUSIVE | DISCL_FOREGROUND | DISCL_NOWINKEY, buffer);
    }
    IDirectInputDevice8* Mouse(DWORD buffer = 128) {
        return Open(GUID_SysMouse, &c_dfDIMouse2, DISCL_EXCLUSIVE | DISCL_FOREGROUND, buffer);
    }
    DISeamJoystick& AddJoystick(uint8_t id) {
        DISeamJoystick j;
        j.guid = GUID{0x20000000u + id, 1, 2, {0, 0, 0, 0, 0, 0, 0, id}};
        seam_->joysticks.push_back(j);
        return seam_->joysticks.back();
    }
    IDirectInputDevice8* Joystick(const GUID& guid) {
        return Open(guid, &c_dfDIJoystick, DISCL_EXCLUSIVE | DISCL_FOREGROUND, 0);
    }

    DInputSeam* seam_ = nullptr;
    IDirectInput8* di_ = nullptr;
    std::vector<IDirectInputDevice8*> devices_;
};

TEST_F(DInput, CreateChecksVersionInterfaceAndSeam) {
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(DirectInput8Create(nullptr, 0x0700, IID_IDirectInput8A, &out, nullptr), DIERR_OLDDIRECTINPUTVERSION);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(DirectInput8Create(nullptr, 0x0900, IID_IDirectInput8A, &out, nullptr), DIERR_BETADIRECTINPUTVERSION);
    EXPECT_EQ(DirectInput8Create(nullptr, 0x0800, GUID_SysMouse, &out, nullptr), DIERR_NOINTERFACE);
    DInput_SeamFail(DISeamDevice::Interface, DISeamCall::Create, DIERR_OUTOFMEMORY);
    EXPECT_EQ(DirectInput8Create(nullptr, 0x0800, IID_IDirectInput8A, &out, nullptr), DIERR_OUTOFMEMORY);
    EXPECT_EQ(out, nullptr);
}

TEST_F(DInput, KeyboardBuffersEventsWhileAcquired) {
    IDirectInputDevice8* kb = Keyboard();
    DInput_SeamKey(0x1E, true);  // not acquired: dropped
    HRESULT hr;
    EXPECT_TRUE(Read(kb, 10, &hr).empty());
    EXPECT_EQ(hr, DIERR_NOTACQUIRED);

    ASSERT_EQ(kb->Acquire(), DI_OK);
    EXPECT_EQ(kb->Acquire(), DI_NOEFFECT);
    DInput_SeamKey(0x1E, true);
    DInput_SeamKey(0x2A, true);
    DInput_SeamKey(0x1E, false);
    auto events = Read(kb, 2);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].dwOfs, 0x1Eu);
    EXPECT_EQ(events[0].dwData, 0x80u);
    EXPECT_EQ(events[1].dwOfs, 0x2Au);
    EXPECT_LT(events[0].dwSequence, events[1].dwSequence);
    uint8_t keys[256];
    ASSERT_EQ(kb->GetDeviceState(sizeof keys, keys), DI_OK);
    EXPECT_EQ(keys[0x1E], 0);
    EXPECT_EQ(keys[0x2A], 0x80);
    events = Read(kb, 10);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].dwData, 0u);
}

TEST_F(DInput, FullBufferAnswersOverflowOnce) {
    IDirectInputDevice8* kb = Keyboard(50);
    ASSERT_EQ(kb->Acquire(), DI_OK);
    for (int i = 0; i < 60; ++i) DInput_SeamKey(0x10, i % 2 == 0);
    HRESULT hr;
    auto events = Read(kb, 100, &hr);
    EXPECT_EQ(hr, DI_BUFFEROVERFLOW);
    EXPECT_EQ(events.size(), 50u);
    events = Read(kb, 100, &hr);
    EXPECT_EQ(hr, DI_OK);
    EXPECT_TRUE(events.empty());

    // A flush takes everything without copying and tells how much.
    for (int i = 0; i < 5; ++i) DInput_SeamKey(0x10, true);
    DWORD count = INFINITE;
    EXPECT_EQ(kb->GetDeviceData(sizeof(DIDEVICEOBJECTDATA), nullptr, &count, 0), DI_OK);
    EXPECT_EQ(count, 5u);
}

TEST_F(DInput, PropertiesAndFormatsWantAnUnacquiredDevice) {
    IDirectInputDevice8* kb = Keyboard();
    ASSERT_EQ(kb->Acquire(), DI_OK);
    EXPECT_EQ(SetDword(kb, DIPROP_BUFFERSIZE, DIPH_DEVICE, 0, 10), DIERR_ACQUIRED);
    EXPECT_EQ(kb->SetDataFormat(&c_dfDIKeyboard), DIERR_ACQUIRED);
    EXPECT_EQ(kb->Unacquire(), DI_OK);
    EXPECT_EQ(kb->Unacquire(), DI_NOEFFECT);
    EXPECT_EQ(kb->SetDataFormat(&c_dfDIMouse2), DIERR_INVALIDPARAM);
    EXPECT_EQ(kb->SetCooperativeLevel(nullptr, DISCL_EXCLUSIVE | DISCL_NONEXCLUSIVE | DISCL_FOREGROUND),
              DIERR_INVALIDPARAM);
    EXPECT_EQ(SetRange(kb, 0, 0, 10), DIERR_UNSUPPORTED);
}

TEST_F(DInput, ForegroundLossLosesTheInput) {
    IDirectInputDevice8* kb = Keyboard();
    ASSERT_EQ(kb->Acquire(), DI_OK);
    DInput_SetForeground(false);
    HRESULT hr;
    Read(kb, 1, &hr);
    EXPECT_EQ(hr, DIERR_INPUTLOST);
    Read(kb, 1, &hr);
    EXPECT_EQ(hr, DIERR_NOTACQUIRED);
    EXPECT_EQ(kb->Acquire(), DIERR_OTHERAPPHASPRIO);
    DInput_SetForeground(true);
    EXPECT_EQ(kb->Acquire(), DI_OK);
}

TEST_F(DInput, SeamFailuresMatchDeviceCallAndProperty) {
    AddJoystick(1);
    IDirectInputDevice8* js = Joystick(seam_->joysticks[0].guid);
    DInput_SeamFail(DISeamDevice::Joystick, DISeamCall::SetProperty, DIERR_GENERIC, 1, DIPROP_DEADZONE, DIJOFS_Y);
    EXPECT_EQ(SetDword(js, DIPROP_DEADZONE, DIPH_BYOFFSET, DIJOFS_X, 100), DI_OK);
    EXPECT_EQ(SetDword(js, DIPROP_DEADZONE, DIPH_BYOFFSET, DIJOFS_Y, 100), DIERR_GENERIC);
    EXPECT_EQ(SetDword(js, DIPROP_DEADZONE, DIPH_BYOFFSET, DIJOFS_Y, 100), DI_OK);  // once only
    EXPECT_EQ(SetRange(js, DIJOFS_Z, -1, 1), DIERR_OBJECTNOTFOUND);                 // no such axis

    // A read that reports lost input leaves the device unacquired.
    ASSERT_EQ(js->Acquire(), DI_OK);
    DInput_SeamFail(DISeamDevice::Joystick, DISeamCall::GetDeviceState, DIERR_INPUTLOST);
    DIJOYSTATE state;
    EXPECT_EQ(js->GetDeviceState(sizeof state, &state), DIERR_INPUTLOST);
    EXPECT_EQ(js->GetDeviceState(sizeof state, &state), DIERR_NOTACQUIRED);
    EXPECT_EQ(js->Acquire(), DI_OK);
    EXPECT_EQ(js->GetDeviceState(sizeof state, &state), DI_OK);
    EXPECT_EQ(DInput_SeamCallCount("Joystick.Acquire"), 2);
}

TEST_F(DInput, JoystickAxesTakeRangeAndDeadZone) {
    DISeamJoystick& j = AddJoystick(1);
    j.axes[2] = true;  // Z keeps the default range
    j.povs = 1;
    j.buttons = 12;
    IDirectInputDevice8* js = Joystick(j.guid);
    ASSERT_EQ(SetRange(js, DIJOFS_X, -65535, 65535), DI_OK);
    ASSERT_EQ(SetRange(js, DIJOFS_Y, -65535, 65535), DI_OK);
    ASSERT_EQ(SetDword(js, DIPROP_DEADZONE, DIPH_BYOFFSET, DIJOFS_Y, 2000), DI_OK);
    ASSERT_EQ(js->Acquire(), DI_OK);

    struct Case {
        int16_t raw;
        LONG x, y, z;
    } cases[] = {
        {0, 0, 0, 32767},
        {32767, 65535, 65535, 65535},
        {-32768, -65535, -65535, 0},
        {16384, 32769, 24577, 49151},  // half way: past a 20% dead zone the rest is stretched
        {6000, 12000, 0, 38767},       // inside the dead zone
        {-16384, -32767, -24575, 16384},
    };
    for (const Case& c : cases) {
        DISeamJoystick& live = seam_->joysticks[0];
        live.axis[0] = live.axis[1] = live.axis[2] = c.raw;
        live.pov[0] = 9000;
        live.buttonBits = 0x801;
        DIJOYSTATE s;
        ASSERT_EQ(js->GetDeviceState(sizeof s, &s), DI_OK);
        EXPECT_NEAR(s.lX, c.x, 2) << c.raw;
        EXPECT_NEAR(s.lY, c.y, 2) << c.raw;
        EXPECT_NEAR(s.lZ, c.z, 2) << c.raw;
        EXPECT_EQ(s.lRz, 0);  // absent axes read 0
        EXPECT_EQ(s.rgdwPOV[0], 9000u);
        EXPECT_EQ(s.rgdwPOV[1], 0xFFFFFFFFu);
        EXPECT_EQ(s.rgbButtons[0], 0x80);
        EXPECT_EQ(s.rgbButtons[1], 0);
        EXPECT_EQ(s.rgbButtons[11], 0x80);
    }
    DIDEVCAPS caps{};
    caps.dwSize = sizeof caps;
    ASSERT_EQ(js->GetCapabilities(&caps), DI_OK);
    EXPECT_EQ(caps.dwAxes, 3u);
    EXPECT_EQ(caps.dwButtons, 12u);
    EXPECT_EQ(caps.dwPOVs, 1u);

    seam_->joysticks[0].attached = false;  // unplugged
    DIJOYSTATE s;
    EXPECT_EQ(js->GetDeviceState(sizeof s, &s), DIERR_INPUTLOST);
}

TEST_F(DInput, EnumerationListsEveryAttachedJoystick) {
    AddJoystick(1);
    AddJoystick(2).attached = false;
    AddJoystick(3);
    std::vector<GUID> seen;
    auto collect = [](const DIDEVICEINSTANCE* inst, void* ref) -> BOOL {
        static_cast<std::vector<GUID>*>(ref)->push_back(inst->guidInstance);
        return DIENUM_CONTINUE;
    };
    ASSERT_EQ(di_->EnumDevices(DI8DEVCLASS_GAMECTRL, collect, &seen, DIEDFL_ATTACHEDONLY), DI_OK);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_TRUE(DI_SameGuid(seen[0], seam_->joysticks[0].guid));
    EXPECT_TRUE(DI_SameGuid(seen[1], seam_->joysticks[2].guid));
    EXPECT_EQ(di_->GetDeviceStatus(seam_->joysticks[0].guid), DI_OK);
    EXPECT_EQ(di_->GetDeviceStatus(seam_->joysticks[1].guid), DIERR_DEVICENOTREG);
    IDirectInputDevice8* d = nullptr;
    EXPECT_EQ(di_->CreateDevice(seam_->joysticks[1].guid, &d, nullptr), DIERR_DEVICENOTREG);
    EXPECT_EQ(d, nullptr);

    auto objects = [](const DIDEVICEOBJECTINSTANCE* o, void* ref) -> BOOL {
        static_cast<std::vector<DWORD>*>(ref)->push_back(o->dwOfs);
        return DIENUM_CONTINUE;
    };
    seam_->joysticks[0].axes[5] = true;  // Rz
    seam_->joysticks[0].povs = 1;
    seam_->joysticks[0].buttons = 2;
    IDirectInputDevice8* js = Joystick(seam_->joysticks[0].guid);
    std::vector<DWORD> offsets;
    ASSERT_EQ(js->EnumObjects(objects, &offsets, DIDFT_ALL), DI_OK);
    EXPECT_EQ(offsets,
              (std::vector<DWORD>{DIJOFS_X, DIJOFS_Y, DIJOFS_RZ, DIJOFS_POV(0), DIJOFS_BUTTON(0), DIJOFS_BUTTON(1)}));
}

TEST_F(DInput, EffectsRecordWhatTheDeviceGot) {
    DISeamJoystick& j = AddJoystick(1);
    j.capsFlags |= DIDC_FORCEFEEDBACK;
    IDirectInputDevice8* js = Joystick(j.guid);

    std::vector<GUID> kinds;
    auto collect = [](const DIEFFECTINFO* info, void* ref) -> BOOL {
        static_cast<std::vector<GUID>*>(ref)->push_back(info->guid);
        return DIENUM_CONTINUE;
    };
    ASSERT_EQ(js->EnumEffects(collect, &kinds, DIEFT_PERIODIC), DI_OK);
    ASSERT_EQ(kinds.size(), 1u);
    EXPECT_TRUE(DI_SameGuid(kinds[0], GUID_Sine));

    DWORD axes[2] = {DIJOFS_X, DIJOFS_Y};
    LONG dir[2] = {0, 0};
    DICONSTANTFORCE force{5000};
    DIEFFECT e{};
    e.dwSize = sizeof e;
    e.dwFlags = DIEFF_OBJECTOFFSETS | DIEFF_POLAR;
    e.dwDuration = 200000;
    e.dwGain = 7500;
    e.cAxes = 2;
    e.rgdwAxes = axes;
    e.rglDirection = dir;
    e.cbTypeSpecificParams = sizeof force;
    e.lpvTypeSpecificParams = &force;
    IDirectInputEffect* effect = nullptr;
    EXPECT_EQ(js->CreateEffect(GUID_Triangle, &e, &effect, nullptr), DIERR_DEVICENOTREG);
    ASSERT_EQ(js->CreateEffect(GUID_ConstantForce, &e, &effect, nullptr), DI_OK);
    ASSERT_EQ(seam_->effects.size(), 1u);
    EXPECT_EQ(seam_->effects[0].gain, 7500u);
    EXPECT_EQ(seam_->effects[0].constantMagnitude, 5000);

    EXPECT_EQ(effect->Start(1, 0), DIERR_NOTEXCLUSIVEACQUIRED);
    ASSERT_EQ(js->Acquire(), DI_OK);
    LONG turn[2] = {9000, 0};
    DIEFFECT change{};
    change.dwSize = sizeof change;
    change.dwFlags = DIEFF_OBJECTOFFSETS | DIEFF_POLAR;
    change.cAxes = 2;
    change.rglDirection = turn;
    EXPECT_EQ(effect->SetParameters(&change, DIEP_DIRECTION), DI_OK);
    EXPECT_EQ(effect->Start(1, 0), DI_OK);
    EXPECT_EQ(seam_->effects[0].direction[0], 9000);
    EXPECT_EQ(seam_->effects[0].starts, 1);
    EXPECT_EQ(seam_->effects[0].parameterUpdates, 1);
    EXPECT_EQ(effect->Release(), 0u);
    EXPECT_TRUE(seam_->effects[0].released);

    // A device without force feedback makes none.
    DISeamJoystick& plain = AddJoystick(2);
    IDirectInputDevice8* js2 = Joystick(plain.guid);
    EXPECT_EQ(js2->CreateEffect(GUID_ConstantForce, &e, &effect, nullptr), DIERR_UNSUPPORTED);
    EXPECT_EQ(effect, nullptr);
}

TEST_F(DInput, KeyNamesComeFromSdl) {
    IDirectInputDevice8* kb = Keyboard();
    DIDEVICEOBJECTINSTANCE info{};
    info.dwSize = sizeof info;
    auto name = [&info]() {
        std::string s;
        for (const uint16_t* p = info.tszName; *p; ++p) s += static_cast<char>(*p);
        return s;
    };
    ASSERT_EQ(kb->GetObjectInfo(&info, 0x2A, DIPH_BYOFFSET), DI_OK);
    EXPECT_EQ(name(), "Left Shift");
    ASSERT_EQ(kb->GetObjectInfo(&info, 0x1E, DIPH_BYOFFSET), DI_OK);
    EXPECT_EQ(name(), "A");
    ASSERT_EQ(kb->GetObjectInfo(&info, 0x3B, DIPH_BYOFFSET), DI_OK);
    EXPECT_EQ(name(), "F1");
    EXPECT_EQ(kb->GetObjectInfo(&info, 0x54, DIPH_BYOFFSET), DIERR_OBJECTNOTFOUND);
}

TEST(DInputScancodes, MapBothWays) {
    EXPECT_EQ(DInput_DIKFromSDLScancode(SDL_SCANCODE_A), 0x1Eu);
    EXPECT_EQ(DInput_DIKFromSDLScancode(SDL_SCANCODE_ESCAPE), 0x01u);
    EXPECT_EQ(DInput_DIKFromSDLScancode(SDL_SCANCODE_KP_ENTER), 0x9Cu);
    EXPECT_EQ(DInput_DIKFromSDLScancode(SDL_SCANCODE_RALT), 0xB8u);
    EXPECT_EQ(DInput_DIKFromSDLScancode(SDL_SCANCODE_NONUSBACKSLASH), 0x56u);
    EXPECT_EQ(DInput_DIKFromSDLScancode(SDL_SCANCODE_UNKNOWN), 0u);
    EXPECT_EQ(DInput_DIKFromSDLScancode(-3), 0u);
    for (uint32_t dik = 1; dik < 256; ++dik) {
        int sc = DInput_SDLScancodeFromDIK(dik);
        if (sc) {
            EXPECT_EQ(DInput_DIKFromSDLScancode(sc), dik) << dik;
        }
    }
    EXPECT_EQ(DInput_SDLScancodeFromDIK(0x2B), SDL_SCANCODE_BACKSLASH);
}

// The router feeds the devices from a real SDL event stream.
class DInputSdl : public DInput {
protected:
    void SetUp() override {
        ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_EVENTS), 0);
        DInput::SetUp();
    }
    void TearDown() override {
        DInput::TearDown();
        SDL_QuitSubSystem(SDL_INIT_EVENTS);
    }
    static void Push(SDL_Event e) { ASSERT_EQ(SDL_PushEvent(&e), 1); }
    static void Key(SDL_Scancode sc, bool down, bool repeat = false) {
        SDL_Event e{};
        e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
        e.key.keysym.scancode = sc;
        e.key.repeat = repeat;
        Push(e);
    }
};

TEST_F(DInputSdl, KeysArriveByScanCodeOnce) {
    IDirectInputDevice8* kb = Keyboard();
    ASSERT_EQ(kb->Acquire(), DI_OK);
    Key(SDL_SCANCODE_W, true);
    Key(SDL_SCANCODE_W, true, true);  // auto-repeat is not a new press
    Key(SDL_SCANCODE_RCTRL, true);
    Key(SDL_SCANCODE_W, false);
    SDL_Event text{};
    text.type = SDL_TEXTINPUT;
    std::snprintf(text.text.text, sizeof text.text.text, "w");
    Key(SDL_SCANCODE_Q, true);
    Push(text);
    auto events = Read(kb, 10);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].dwOfs, 0x11u);
    EXPECT_EQ(events[1].dwOfs, 0x9Du);
    EXPECT_EQ(events[2].dwOfs, 0x11u);
    EXPECT_EQ(events[2].dwData, 0u);
    EXPECT_EQ(events[3].dwOfs, 0x10u);
    EXPECT_STREQ(DInput_KeyText(0x10), "w");  // the text follows the key it came with
    EXPECT_STREQ(DInput_KeyText(0x11), "");
}

TEST_F(DInputSdl, MouseMovesRelativelyWithWheelStepsAndButtonsInOrder) {
    IDirectInputDevice8* mouse = Mouse();
    ASSERT_EQ(mouse->Acquire(), DI_OK);
    SDL_Event motion{};
    motion.type = SDL_MOUSEMOTION;
    motion.motion.xrel = 5;
    motion.motion.yrel = -3;
    Push(motion);
    SDL_Event wheel{};
    wheel.type = SDL_MOUSEWHEEL;
    wheel.wheel.y = -2;
    Push(wheel);
    for (uint8_t b : {SDL_BUTTON_RIGHT, SDL_BUTTON_MIDDLE, SDL_BUTTON_LEFT}) {
        SDL_Event button{};
        button.type = SDL_MOUSEBUTTONDOWN;
        button.button.button = b;
        Push(button);
    }
    auto events = Read(mouse, 20);
    std::vector<std::pair<DWORD, LONG>> got;
    for (const auto& e : events) got.emplace_back(e.dwOfs, static_cast<LONG>(e.dwData));
    EXPECT_EQ(got, (std::vector<std::pair<DWORD, LONG>>{{DIMOFS_X, 5},
                                                        {DIMOFS_Y, -3},
                                                        {DIMOFS_Z, -240},
                                                        {DIMOFS_BUTTON0 + 1, 0x80},
                                                        {DIMOFS_BUTTON0 + 2, 0x80},
                                                        {DIMOFS_BUTTON0, 0x80}}));
    DIMOUSESTATE2 state;
    ASSERT_EQ(mouse->GetDeviceState(sizeof state, &state), DI_OK);
    EXPECT_EQ(state.lX, 5);
    EXPECT_EQ(state.lZ, -240);
    EXPECT_EQ(state.rgbButtons[1], 0x80);
}

TEST_F(DInputSdl, FocusEventsDecideTheForeground) {
    IDirectInputDevice8* kb = Keyboard();
    ASSERT_EQ(kb->Acquire(), DI_OK);
    SDL_Event focus{};
    focus.type = SDL_WINDOWEVENT;
    focus.window.event = SDL_WINDOWEVENT_FOCUS_LOST;
    Push(focus);
    EXPECT_EQ(kb->Acquire(), DIERR_OTHERAPPHASPRIO);
    focus.window.event = SDL_WINDOWEVENT_FOCUS_GAINED;
    Push(focus);
    EXPECT_EQ(kb->Acquire(), DI_OK);
}

// A virtual SDL joystick stands for a real one: no seam between it and the device.
TEST(DInputSdlJoystick, VirtualJoystickReadsThroughSdl) {
    DInput_SeamDisable();
    void* out = nullptr;
    ASSERT_EQ(DirectInput8Create(nullptr, DIRECTINPUT_VERSION, IID_IDirectInput8A, &out, nullptr), DI_OK);
    auto* di = static_cast<IDirectInput8*>(out);
    if (!SDL_WasInit(SDL_INIT_JOYSTICK)) {
        di->Release();
        GTEST_SKIP() << "no SDL joystick support";
    }
    int index = SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, 6, 12, 1);
    ASSERT_GE(index, 0) << SDL_GetError();
    SDL_Joystick* handle = SDL_JoystickOpen(index);
    ASSERT_NE(handle, nullptr);
    SDL_JoystickGUID sdlGuid = SDL_JoystickGetDeviceGUID(index);

    GUID first{};
    auto takeFirst = [](const DIDEVICEINSTANCE* inst, void* ref) -> BOOL {
        *static_cast<GUID*>(ref) = inst->guidInstance;
        return DIENUM_STOP;
    };
    ASSERT_EQ(di->EnumDevices(DI8DEVCLASS_GAMECTRL, takeFirst, &first, DIEDFL_ATTACHEDONLY), DI_OK);
    EXPECT_EQ(std::memcmp(&first, sdlGuid.data, 16), 0);

    IDirectInputDevice8* js = nullptr;
    ASSERT_EQ(di->CreateDevice(first, &js, nullptr), DI_OK);
    ASSERT_EQ(js->SetDataFormat(&c_dfDIJoystick), DI_OK);
    ASSERT_EQ(js->SetCooperativeLevel(nullptr, DISCL_EXCLUSIVE | DISCL_FOREGROUND), DI_OK);
    ASSERT_EQ(SetRange(js, DIJOFS_X, -65535, 65535), DI_OK);
    ASSERT_EQ(js->Acquire(), DI_OK);
    ASSERT_EQ(js->Poll(), DI_OK);  // SDL joysticks are read when polled

    SDL_JoystickSetVirtualAxis(handle, 0, 32767);
    SDL_JoystickSetVirtualAxis(handle, 1, -32768);
    SDL_JoystickSetVirtualHat(handle, 0, SDL_HAT_RIGHTDOWN);
    SDL_JoystickSetVirtualButton(handle, 3, 1);
    ASSERT_EQ(js->Poll(), DI_OK);
    DIJOYSTATE s;
    ASSERT_EQ(js->GetDeviceState(sizeof s, &s), DI_OK);
    EXPECT_EQ(s.lX, 65535);
    EXPECT_EQ(s.lY, 0);  // default range 0..65535
    EXPECT_EQ(s.rgdwPOV[0], 13500u);
    EXPECT_EQ(s.rgbButtons[3], 0x80);

    SDL_JoystickSetVirtualHat(handle, 0, SDL_HAT_CENTERED);
    js->Poll();
    ASSERT_EQ(js->GetDeviceState(sizeof s, &s), DI_OK);
    EXPECT_EQ(s.rgdwPOV[0], 0xFFFFFFFFu);

    js->Release();
    SDL_JoystickClose(handle);
    SDL_JoystickDetachVirtual(index);
    di->Release();
    EXPECT_EQ(DInput_LiveObjects(), 0);
}

TEST(KeyboardLayout, VirtualKeysAndCharacters) {
    HKL layout = GetKeyboardLayout(0);
    EXPECT_EQ(MapVirtualKeyExA(0x1E, MAPVK_VSC_TO_VK, layout), UINT{'A'});
    EXPECT_EQ(MapVirtualKeyExA(0x0B, MAPVK_VSC_TO_VK, layout), UINT{'0'});
    EXPECT_EQ(MapVirtualKeyExA(0x2A, MAPVK_VSC_TO_VK, layout), 0x10u);
    EXPECT_EQ(MapVirtualKeyExA(0x36, MAPVK_VSC_TO_VK_EX, layout), 0xA1u);
    EXPECT_EQ(MapVirtualKeyExA(0x3B, MAPVK_VSC_TO_VK, layout), 0x70u);
    EXPECT_EQ(MapVirtualKeyExA(0xCB, MAPVK_VSC_TO_VK, layout), 0x25u);
    EXPECT_EQ(MapVirtualKeyExA(0x25, MAPVK_VK_TO_VSC, layout), 0xCBu);
    EXPECT_EQ(MapVirtualKeyExA(0x54, MAPVK_VSC_TO_VK, layout), 0u);

    uint8_t state[256] = {};
    uint16_t out[10];
    ASSERT_EQ(ToUnicodeEx('A', 0x1E, state, out, 10, 0, layout), 1);
    EXPECT_EQ(out[0], 'a');
    state[0x10] = 0x80;
    ASSERT_EQ(ToUnicodeEx('A', 0x1E, state, out, 10, 0, layout), 1);
    EXPECT_EQ(out[0], 'A');
    ASSERT_EQ(ToUnicodeEx(0x0D, 0x1C, state, out, 10, 0, layout), 1);
    EXPECT_EQ(out[0], '\r');
    EXPECT_EQ(ToUnicodeEx(0x70, 0x3B, state, out, 10, 0, layout), 0);  // F1 types nothing
}

TEST(MultimediaJoystick, SeamSticksAndUnpluggedOnes) {
    Win32JoySeam& seam = Win32_JoySeamReset();
    EXPECT_EQ(joyGetNumDevs(), 2u);
    JOYINFO info{};
    EXPECT_EQ(joyGetPos(JOYSTICKID1, &info), JOYERR_UNPLUGGED);
    seam.sticks[0].attached = true;
    seam.sticks[0].info = JOYINFO{100, 65535, 0, JOY_BUTTON2};
    ASSERT_EQ(joyGetPos(JOYSTICKID1, &info), JOYERR_NOERROR);
    EXPECT_EQ(info.wXpos, 100u);
    EXPECT_EQ(info.wButtons, JOY_BUTTON2);
    seam.sticks[0].failReads = 1;
    EXPECT_EQ(joyGetPos(JOYSTICKID1, &info), JOYERR_UNPLUGGED);
    EXPECT_EQ(joyGetPos(JOYSTICKID1, &info), JOYERR_NOERROR);
    EXPECT_EQ(joyGetPos(2, &info), JOYERR_PARMS);
    EXPECT_EQ(joyGetPos(JOYSTICKID1, nullptr), JOYERR_PARMS);
    Win32_JoySeamDisable();
}

TEST(MessageBox, CapturedAndAnswered) {
    Win32MessageBoxSeam& seam = Win32_MessageBoxSeamReset();
    EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", MB_OK | MB_ICONEXCLAMATION), IDOK);
    EXPECT_EQ(MessageBoxA(nullptr, "sure?", "caption", MB_YESNO), IDYES);
    seam.answer = IDNO;
    EXPECT_EQ(MessageBoxA(nullptr, "sure?", "caption", MB_YESNO), IDNO);
    seam.answer = 0;
    EXPECT_EQ(MessageBoxA(nullptr, "broken", nullptr, MB_OK), 0);
    EXPECT_STRNE(Win32_MessageBoxError(), "");
    ASSERT_EQ(seam.shown.size(), 4u);
    EXPECT_EQ(seam.shown[0].text, "text");
    EXPECT_EQ(seam.shown[0].caption, "caption");
    EXPECT_EQ(seam.shown[0].type, MB_OK | MB_ICONEXCLAMATION);
    seam.capture = false;
    seam.answer = IDOK;
}

}  // namespace
