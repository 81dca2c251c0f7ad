#include <gtest/gtest.h>

#include <cstring>

#include "platform/win32/memory.h"
#include "support/input_support.h"
#include "system/mmjoystick.h"

namespace {

constexpr uint32_t kDefaultFlags = 0x70200107;

class Input : public InputTestBase {
protected:
    InputState* Start(uint32_t flags) {
        InputState* in = S_InitIO(flags);
        EXPECT_NE(in, nullptr);
        return in;
    }
    // Polls once and returns the log of the poll.
    std::string Poll() {
        StartCapture();
        S_VbiIO();
        return StopCapture();
    }
    int RingSize() const { return S_KeyRing.unread; }
};

int Screen640x480(int32_t* w, int32_t* h, uint32_t* flags) {
    *w = 640;
    *h = 480;
    *flags = 0;
    return 1;
}

// ---------------------------------------------------------------------------
// Start-up and its failures

TEST_F(Input, OpensDirectInputWithMouseAndKeyboard) {
    StartCapture();
    InputState* in = Start(kDefaultFlags);
    std::string log = StopCapture();
    ASSERT_EQ(g_InputState, in);
    const ApplicationRecord& app = g_ApplicationRecord;
    EXPECT_NE(app.directInput, nullptr);
    EXPECT_NE(app.mouseDevice, nullptr);
    EXPECT_NE(app.keyboardDevice, nullptr);
    EXPECT_EQ(app.joystickDevice, nullptr);
    EXPECT_EQ(in->active, 1u);
    EXPECT_EQ(in->mousePresent, 1u);
    EXPECT_EQ(in->flags & INPUT_JOYSTICK, 0u);  // none attached
    EXPECT_TRUE(Has(log, "S_InitIO2() Keyboard via Direct Input OK\n"));
    EXPECT_TRUE(Has(log, "S_InitIO2() No Joystick found.\n"));
    EXPECT_TRUE(Has(log, "Direct Input successfully opened!\n"));
    EXPECT_EQ(DInput_SeamCallCount("Keyboard.Acquire"), 1);
    EXPECT_EQ(DInput_SeamCallCount("Keyboard.SetProperty(1@-1)"), 1);
    EXPECT_EQ(DInput_SeamCallCount("Mouse.SetProperty(1@-1)"), 1);
    EXPECT_EQ(S_WindowLinks.pollInput, S_VbiIO);
    EXPECT_EQ(S_WindowLinks.syncAcquire, Ex_SyncAcquire);
}

TEST_F(Input, NoRecordWithoutMemory) {
    g_Win32MemorySeam.failHeapAllocs = 2;
    EXPECT_EQ(S_InitIO(kDefaultFlags), nullptr);
    g_Win32MemorySeam = Win32MemorySeam{};
    EXPECT_EQ(g_InputState, nullptr);
}

TEST_F(Input, SerialInputIsNotSupported) {
    StartCapture();
    Start(INPUT_SERIAL);
    EXPECT_TRUE(Has(StopCapture(), "Serial IO not yet supported under Windows!\n"));
}

// A failed device step gives up DirectInput but keeps the record the caller uses.
TEST_F(Input, FailedDeviceStepFallsBackAndKeepsTheRecord) {
    struct Case {
        DISeamDevice device;
        DISeamCall call;
        const char* line;
    } cases[] = {
        {DISeamDevice::Interface, DISeamCall::Create,
         "S_InitIO2() Error opening Direct Input.\nFalling back to normal input!\nDIERR_GENERIC\n"},
        {DISeamDevice::Mouse, DISeamCall::CreateDevice, "S_InitIO2() CreateDevice Mouse!\nDIERR_GENERIC\n"},
        {DISeamDevice::Mouse, DISeamCall::SetDataFormat, "S_InitIO2() SetDataFormat Mouse!\nDIERR_GENERIC\n"},
        {DISeamDevice::Mouse, DISeamCall::SetCooperativeLevel,
         "S_InitIO2() SetCooperativeLevel Mouse failed: DIERR_GENERIC\n"},
        {DISeamDevice::Keyboard, DISeamCall::CreateDevice, "S_InitIO2() CreateDevice Keyboard!\nDIERR_GENERIC\n"},
        {DISeamDevice::Keyboard, DISeamCall::SetDataFormat, "S_InitIO2() SetDataFormat Keyboard!\nDIERR_GENERIC\n"},
        {DISeamDevice::Keyboard, DISeamCall::SetCooperativeLevel,
         "S_InitIO2() Set Cooperive Level Keyboard!\nDIERR_GENERIC\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        DInput_SeamReset();
        DInput_SeamFail(c.device, c.call, DIERR_GENERIC);
        StartCapture();
        InputState* in = Start(INPUT_MOUSE);
        std::string log = StopCapture();
        EXPECT_TRUE(Has(log, c.line)) << log;
        EXPECT_FALSE(Has(log, "Direct Input successfully opened!"));
        ASSERT_EQ(g_InputState, in);
        EXPECT_EQ(in->active, 1u);
        EXPECT_EQ(in->mousePresent, 1u);  // the window's mouse
        const ApplicationRecord& app = g_ApplicationRecord;
        EXPECT_EQ(app.directInput, nullptr);
        EXPECT_EQ(app.mouseDevice, nullptr);
        EXPECT_EQ(app.keyboardDevice, nullptr);
        EXPECT_EQ(DInput_LiveObjects(), 0);
        S_VbiIO();  // the record is still alive and usable
        S_CloseIO();
    }
}

TEST_F(Input, BufferAndAcquireFailuresAreNotFatal) {
    DInput_SeamFail(DISeamDevice::Mouse, DISeamCall::SetProperty, DIERR_GENERIC);
    DInput_SeamFail(DISeamDevice::Keyboard, DISeamCall::Acquire, DIERR_OTHERAPPHASPRIO);
    StartCapture();
    Start(INPUT_MOUSE);
    std::string log = StopCapture();
    EXPECT_TRUE(Has(log, "Error SIO: DIPROPDWORD Mouse!\nDIERR_GENERIC\n"));
    EXPECT_TRUE(Has(log, "S_InitIO2() Acquire Keyboard failed: E_ACCESSDENIED\n"));
    EXPECT_TRUE(Has(log, "Direct Input successfully opened!\n"));
    EXPECT_NE(g_ApplicationRecord.keyboardDevice, nullptr);
}

// ---------------------------------------------------------------------------
// Keyboard

TEST_F(Input, HeldKeysFillStateCodesAndTheRingEveryPoll) {
    InputState* in = Start(INPUT_MOUSE);
    DInput_SeamKey(0x1E, true);  // a
    DInput_SeamKey(0x2A, true);  // left Shift
    Poll();
    EXPECT_EQ(in->keyState[0x1E], 0x80);
    EXPECT_EQ(in->keyDown[97], 1);
    EXPECT_EQ(in->keyDown[413], 1);
    EXPECT_EQ(in->shiftDown, 1u);
    EXPECT_EQ(g_InputShift, 1);
    EXPECT_EQ(in->keySeen, 1u);
    EXPECT_EQ(g_InputVirtualKeys[static_cast<unsigned char>('A')], 0x80);
    EXPECT_EQ(g_InputVirtualKeys[0x10], 0x80);
    EXPECT_EQ(RingSize(), 1);  // Shift is not a key of its own
    EXPECT_EQ(S_KeyRing.entries[S_KeyRing.writeIndex].deviceKey, 0x1E);

    Poll();  // still held: once more
    EXPECT_EQ(RingSize(), 2);
    DInput_SeamKey(0x1E, false);
    DInput_SeamKey(0x2A, false);
    Poll();
    EXPECT_EQ(in->keyDown[97], 0);
    EXPECT_EQ(in->shiftDown, 0u);
    EXPECT_EQ(g_InputVirtualKeys[static_cast<unsigned char>('A')], 0);
    EXPECT_EQ(RingSize(), 2);
}

TEST_F(Input, OneKeyEventPerPollAtAPlayableFrameRate) {
    InputState* in = Start(0);
    sys_.averageFps = 30;
    DInput_SeamKey(0x10, true);
    DInput_SeamKey(0x11, true);
    Poll();
    EXPECT_EQ(in->keyState[0x10], 0x80);
    EXPECT_EQ(in->keyState[0x11], 0);
    Poll();
    EXPECT_EQ(in->keyState[0x11], 0x80);
    sys_.averageFps = 10;  // crawling: up to four
    for (DWORD scan : {0x12u, 0x13u, 0x14u, 0x15u, 0x16u}) DInput_SeamKey(scan, true);
    Poll();
    EXPECT_EQ(in->keyState[0x15], 0x80);
    EXPECT_EQ(in->keyState[0x16], 0);
}

TEST_F(Input, NineHeldKeysFlushEverything) {
    InputState* in = Start(0);
    for (DWORD scan = 0x10; scan < 0x18; ++scan) DInput_SeamKey(scan, true);
    Poll();
    Poll();
    int down = 0;
    for (uint8_t k : in->keyState) down += (k & 0x80) != 0;
    EXPECT_EQ(down, 8);

    sys_.averageFps = 30;  // one event per poll from now on
    DInput_SeamKey(0x18, true);
    DInput_SeamKey(0x19, true);  // waits in the buffer
    std::string log = Poll();
    EXPECT_TRUE(Has(log, "Warning: more than 8 key's pressed (9) -> flushing buffers!\n"));
    for (uint8_t k : in->keyState) EXPECT_EQ(k, 0);
    EXPECT_EQ(in->keyDown[97], 0);
    Poll();  // the buffer went too
    EXPECT_EQ(in->keyState[0x19], 0);
}

TEST_F(Input, LostKeyboardIsSetUpAgainOnce) {
    InputState* in = Start(0);
    DInput_SeamFail(DISeamDevice::Keyboard, DISeamCall::GetDeviceData, DIERR_INPUTLOST);
    int formats = DInput_SeamCallCount("Keyboard.SetDataFormat");
    std::string log = Poll();
    EXPECT_TRUE(Has(log, "S_VbiIO2() Failed getting keyboard GetDeviceState: DIERR_INPUTLOST\n"));
    EXPECT_EQ(DInput_SeamCallCount("Keyboard.SetDataFormat"), formats + 1);
    DInput_SeamKey(0x20, true);
    Poll();
    EXPECT_EQ(in->keyState[0x20], 0x80);

    // Any other failure skips the keyboard for this poll.
    DInput_SeamFail(DISeamDevice::Keyboard, DISeamCall::GetDeviceData, DIERR_GENERIC);
    log = Poll();
    EXPECT_EQ(DInput_SeamCallCount("Keyboard.SetDataFormat"), formats + 1);
    EXPECT_EQ(in->keyDown[100], 0);
    Poll();
    EXPECT_EQ(in->keyDown[100], 1);
}

TEST_F(Input, PolledKeyboardIsAcquiredAgainWhenNotAcquired) {
    seam_->keyboardCaps = DIDC_ATTACHED | DIDC_POLLEDDATAFORMAT;
    Start(0);
    DInput_SeamFail(DISeamDevice::Keyboard, DISeamCall::Poll, DIERR_NOTACQUIRED);
    int acquires = DInput_SeamCallCount("Keyboard.Acquire");
    std::string log = Poll();
    EXPECT_TRUE(Has(log, "reaquire keyboard!\n"));
    EXPECT_EQ(DInput_SeamCallCount("Keyboard.Acquire"), acquires + 1);
    EXPECT_EQ(DInput_SeamCallCount("Keyboard.Poll"), 2);
}

// ---------------------------------------------------------------------------
// Mouse

TEST_F(Input, MouseMovesWithinTheScreenAndClicks) {
    S_WindowLinks.screen = Screen640x480;
    InputState* in = Start(INPUT_MOUSE);
    sys_.gameClock = 5000;
    DInput_SeamMouse(DIMOFS_X, static_cast<DWORD>(-30));
    DInput_SeamMouse(DIMOFS_Y, 700);
    DInput_SeamMouse(DIMOFS_Z, static_cast<DWORD>(-120));
    DInput_SeamMouse(DIMOFS_BUTTON0 + 1, 0x80);
    Poll();
    EXPECT_EQ(in->mouseDX, -30);
    EXPECT_EQ(in->mouseDY, 700);
    EXPECT_EQ(in->mouseDZ, -120);
    EXPECT_EQ(in->mouseX, 0);    // never below 0
    EXPECT_EQ(in->mouseY, 480);  // never past the screen
    EXPECT_EQ(in->mouseTime, 5000u);
    EXPECT_EQ(in->clickRight, 1u);
    EXPECT_EQ(in->buttonRight, 1u);
    EXPECT_EQ(in->mouseButtons, 0x2u);
    EXPECT_EQ(in->actions, 0x10u);

    Poll();  // still held, no new click
    EXPECT_EQ(in->mouseDX, 0);
    EXPECT_EQ(in->clickRight, 0u);
    EXPECT_EQ(in->buttonRight, 1u);
    EXPECT_EQ(in->actions, 0x10u);
    DInput_SeamMouse(DIMOFS_BUTTON0 + 1, 0);
    Poll();
    EXPECT_EQ(in->buttonRight, 0u);
    EXPECT_EQ(in->mouseButtons, 0u);

    // A press and release within one poll still counts as a click.
    DInput_SeamMouse(DIMOFS_BUTTON0 + 2, 0x80);
    DInput_SeamMouse(DIMOFS_BUTTON0 + 2, 0);
    Poll();
    EXPECT_EQ(in->clickMiddle, 1u);
    EXPECT_EQ(in->buttonMiddle, 1u);
    EXPECT_EQ(in->mouseHeld, 0u);
}

TEST_F(Input, MouseButtonsGiveActionBits) {
    InputState* in = Start(INPUT_MOUSE);
    const uint32_t want[5] = {0x1, 0x10, 0x2, 0x4, 0x8};
    for (int b = 0; b < 5; ++b) {
        DInput_SeamMouse(DIMOFS_BUTTON0 + static_cast<DWORD>(b), 0x80);
        Poll();
        EXPECT_EQ(in->actions, want[b]) << b;
        DInput_SeamMouse(DIMOFS_BUTTON0 + static_cast<DWORD>(b), 0);
        Poll();
    }
}

TEST_F(Input, DoubleClickWithinASecondOfGameTime) {
    InputState* in = Start(INPUT_MOUSE);
    auto press = [&](int32_t clock) {
        sys_.gameClock = clock;
        DInput_SeamMouse(DIMOFS_BUTTON0, 0x80);
        DInput_SeamMouse(DIMOFS_BUTTON0, 0);
        Poll();
        return in->doubleClick;
    };
    EXPECT_EQ(press(500), 0u);  // the first press ever
    EXPECT_EQ(press(1499), 1u);
    EXPECT_EQ(press(2499), 0u);      // 1000 ms after
    EXPECT_EQ(press(2499), 1u);      // the same time
    EXPECT_EQ(press(32399500), 0u);  // folded, this is earlier than the last press
    EXPECT_EQ(press(300), 1u);       // 800 ms across the clock's wrap
}

TEST_F(Input, LostEventsTakeTheButtonsFromTheState) {
    InputState* in = Start(INPUT_MOUSE);
    for (int i = 0; i < 64; ++i) DInput_SeamMouse(DIMOFS_BUTTON0 + 1, 0x80);
    for (int i = 0; i < 64; ++i) DInput_SeamMouse(DIMOFS_BUTTON0 + 1, 0);
    DInput_SeamMouse(DIMOFS_BUTTON0 + 1, 0x80);  // overflows the buffer: only the state knows
    Poll();
    EXPECT_EQ(in->mouseHeld, 0x2u);
}

TEST_F(Input, LostMouseIsAcquiredAndReadAgain) {
    InputState* in = Start(INPUT_MOUSE);
    DInput_SeamFail(DISeamDevice::Mouse, DISeamCall::GetDeviceData, DIERR_NOTACQUIRED);
    int acquires = DInput_SeamCallCount("Mouse.Acquire");
    DInput_SeamMouse(DIMOFS_X, 4);
    Poll();
    EXPECT_EQ(DInput_SeamCallCount("Mouse.Acquire"), acquires + 1);
    DInput_SeamMouse(DIMOFS_X, 4);
    Poll();
    EXPECT_EQ(in->mouseDX, 4);

    DInput_SeamFail(DISeamDevice::Mouse, DISeamCall::GetDeviceData, DIERR_GENERIC);
    EXPECT_TRUE(Has(Poll(), "DI Mouse Error: DIERR_GENERIC\n"));
}

// ---------------------------------------------------------------------------
// Joystick

class InputJoystick : public Input {
protected:
    // X, Y, Z, Rz, two sliders, a hat and 12 buttons.
    DISeamJoystick& Full(uint8_t id = 1) {
        DISeamJoystick& j = AddJoystick(id);
        j.axes[2] = j.axes[5] = j.axes[6] = j.axes[7] = true;
        j.povs = 1;
        j.buttons = 12;
        return j;
    }
    DISeamJoystick& Live() { return seam_->joysticks[0]; }
};

TEST_F(InputJoystick, EnumerationFindsTheFeatures) {
    Full();
    StartCapture();
    InputState* in = Start(kDefaultFlags);
    std::string log = StopCapture();
    ASSERT_NE(g_ApplicationRecord.joystickDevice, nullptr);
    ASSERT_NE(g_ApplicationRecord.joyGUID, nullptr);
    EXPECT_EQ(std::memcmp(g_ApplicationRecord.joyGUID, &Live().guid, 16), 0);
    uint32_t want = INPUT_JOYSTICK | INPUT_POV | INPUT_POV_READ | INPUT_TWIST | INPUT_TWIST_FILTERED | INPUT_RUDDER |
                    INPUT_RUDDER_RANGED | INPUT_POLL_JOYSTICK;
    EXPECT_EQ(in->flags & want, want);
    EXPECT_EQ(in->flags & (INPUT_FORCE_FEEDBACK | INPUT_RUDDER_SLIDER), 0u);  // no force feedback; Z is the rudder
    EXPECT_TRUE(Has(log, "S_InitIO2() Creating Joystick GUID={10000001-1234-5678-0102-030405060701}\n"));
    EXPECT_TRUE(Has(log, "Capabilities for current Joystick:\n"));
    EXPECT_TRUE(Has(log, "  DIDC_POLLEDDATAFORMAT\n"));
    EXPECT_TRUE(Has(log, "Joystick requires Polling!\n"));
    EXPECT_TRUE(Has(log, "Setting range on Y axis 2/rudder\n"));
    EXPECT_TRUE(Has(log, "Setting range on X axis 2/throttle\n"));
    // Ranges on X, Y, Rz and Z; dead zones on X, Y, Rz and none on the rudder.
    for (const char* call : {"Joystick.SetProperty(4@0)", "Joystick.SetProperty(4@4)", "Joystick.SetProperty(4@20)",
                             "Joystick.SetProperty(4@8)", "Joystick.SetProperty(5@0)", "Joystick.SetProperty(5@4)",
                             "Joystick.SetProperty(5@20)", "Joystick.SetProperty(5@8)"})
        EXPECT_EQ(DInput_SeamCallCount(call), 1) << call;
}

TEST_F(InputJoystick, SliderBecomesTheRudderWithoutZ) {
    DISeamJoystick& j = AddJoystick();
    j.axes[6] = true;
    InputState* in = Start(kDefaultFlags);
    EXPECT_EQ(in->flags & (INPUT_RUDDER | INPUT_RUDDER_RANGED | INPUT_RUDDER_SLIDER),
              INPUT_RUDDER | INPUT_RUDDER_RANGED | INPUT_RUDDER_SLIDER);
    EXPECT_EQ(DInput_SeamCallCount("Joystick.SetProperty(4@24)"), 1);
    EXPECT_EQ(DInput_SeamCallCount("Joystick.SetProperty(5@24)"), 1);
}

TEST_F(InputJoystick, SecondStickTakesZAsThrottle) {
    Full();
    InputState* in = Start(kDefaultFlags | INPUT_SECOND_STICK);
    EXPECT_EQ(in->flags & (INPUT_THROTTLE_ANALOG | INPUT_JOYSTICK2), INPUT_THROTTLE_ANALOG | INPUT_JOYSTICK2);
    EXPECT_EQ(in->flags2 & 0x3C, 0x3Cu);  // with a twist axis the second stick takes it too
    EXPECT_EQ(in->flags & (INPUT_TWIST | INPUT_TWIST_FILTERED | INPUT_RUDDER), 0u);
    Live().axis[2] = -32768;
    Live().axis[5] = 32767;
    Poll();
    EXPECT_EQ(in->throttle, -65535);
    EXPECT_EQ(in->secondY, 65535);
}

TEST_F(InputJoystick, StickPovRudderTwistAndButtons) {
    Full();
    InputState* in = Start(kDefaultFlags);
    struct Case {
        int16_t x, y;
        DWORD pov;
        int32_t wantX, wantY, wantPov;
    } cases[] = {
        {32767, -32768, 0xFFFFFFFFu, 65535, -65535, -1},
        {0, 0, 9000, 0, 0, 9000},
        {3000, -3000, 0x0000FFFFu, 0, 0, -1},  // inside the 20% dead zone
        {16384, 0, 18000, 24577, 0, 18000},
    };
    for (const Case& c : cases) {
        Live().axis[0] = c.x;
        Live().axis[1] = c.y;
        Live().pov[0] = c.pov;
        Poll();
        EXPECT_NEAR(in->joyX, c.wantX, 2) << c.x;
        EXPECT_NEAR(in->joyY, c.wantY, 2) << c.y;
        EXPECT_EQ(in->pov, c.wantPov);
    }

    in->flags = (in->flags & ~INPUT_STICK_ANALOG) | INPUT_STICK_DIGITAL;
    Live().axis[0] = 32767;
    Live().axis[1] = -20000;
    Poll();
    EXPECT_EQ(in->joyX, 1);
    EXPECT_EQ(in->joyY, -1);

    Live().axis[2] = 32767;  // Z: the rudder, low 8 bits cleared
    Poll();
    EXPECT_EQ(in->rudder, 65535 & ~0xFF);
    EXPECT_EQ(in->lastRudder, in->rudder);

    // Twist: a fifth of the new (low 4 bits cleared) and four fifths of the old.
    Live().axis[5] = 32767;
    Poll();
    EXPECT_EQ(in->twist, (65535 & ~0xF) / 5);
    int32_t prev = in->twist;
    Poll();
    EXPECT_EQ(in->twist, ((65535 & ~0xF) + 4 * prev) / 5);

    Live().buttonBits = 0x201;  // buttons 0 and 9
    Poll();
    EXPECT_EQ(in->joyButtons, 0x201u);
    EXPECT_EQ(in->actions, 0x20u | 0x4000u);
}

TEST_F(InputJoystick, RudderCountsOnceItMoves) {
    Full();
    InputState* in = Start(kDefaultFlags);
    in->flags &= ~INPUT_RUDDER_RANGED;  // as the steering leaves it
    in->lastRudder = 0;
    Live().axis[2] = 0;  // Z reads 0 in its range: as before
    Poll();
    EXPECT_EQ(in->rudder, 0);
    EXPECT_EQ(in->flags & INPUT_RUDDER_RANGED, 0u);
    Live().axis[2] = 16384;
    Poll();
    EXPECT_NE(in->rudder, 0);
    EXPECT_NE(in->flags & INPUT_RUDDER_RANGED, 0u);
}

TEST_F(InputJoystick, IgnoredJoystickIsPassedOver) {
    AddJoystick(1);
    AddJoystick(2);
    g_IgnoreJoystick[1] = 1;
    Start(kDefaultFlags);
    g_IgnoreJoystick[1] = 0;
    ASSERT_NE(g_ApplicationRecord.joyGUID, nullptr);
    EXPECT_EQ(std::memcmp(g_ApplicationRecord.joyGUID, &seam_->joysticks[1].guid, 16), 0);
}

TEST_F(InputJoystick, StoredJoystickThatIsGoneIsForgotten) {
    AddJoystick(1);
    GUID gone{0xDEAD, 0, 0, {}};
    g_ApplicationRecord.joyGUID = static_cast<GUID*>(Int_AllocMem(sizeof(GUID), 0));
    *g_ApplicationRecord.joyGUID = gone;
    StartCapture();
    Start(kDefaultFlags);
    std::string log = StopCapture();
    EXPECT_TRUE(Has(log,
                    "S_InitIO2() Default Joystick {0000DEAD-0000-0000-0000-000000000000} is no longer "
                    "attached: DIERR_DEVICENOTREG\n"));
    ASSERT_NE(g_ApplicationRecord.joystickDevice, nullptr);
    EXPECT_EQ(std::memcmp(g_ApplicationRecord.joyGUID, &seam_->joysticks[0].guid, 16), 0);
}

TEST_F(InputJoystick, FailedJoystickStepsLeaveNoJoystick) {
    struct Case {
        DISeamCall call;
        DIPROPID property;
        int32_t object;
        const char* line;
    } cases[] = {
        {DISeamCall::CreateDevice, 0, -1, "S_DICreateJoystick() CreateDevice() failed - DIERR_GENERIC\n"},
        {DISeamCall::SetDataFormat, 0, -1, "S_DICreateJoystick() SetDataFormat(Joystick) failed - DIERR_GENERIC\n"},
        {DISeamCall::SetCooperativeLevel, 0, -1,
         "S_DICreateJoystick() SetCooperativeLevel(Exclusive | Foreground) failed - DIERR_GENERIC\n"},
        {DISeamCall::SetProperty, DIPROP_DEADZONE, DIJOFS_Y, "SetProperty(DEADZONE, Y-Axis) failed:DIERR_GENERIC\n"},
        {DISeamCall::SetProperty, DIPROP_DEADZONE, DIJOFS_RZ, "S_DICreateJoystick() Device preparation failed\n"},
        {DISeamCall::GetCapabilities, 0, -1, "S_DICreateJoystick() GetCapabilities() failed - DIERR_GENERIC\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        DInput_SeamReset();
        Full();
        DInput_SeamFail(DISeamDevice::Joystick, c.call, DIERR_GENERIC, 1, c.property, c.object);
        StartCapture();
        InputState* in = Start(kDefaultFlags);
        std::string log = StopCapture();
        EXPECT_TRUE(Has(log, c.line)) << log;
        EXPECT_EQ(g_ApplicationRecord.joystickDevice, nullptr);
        EXPECT_EQ(in->flags & INPUT_JOYSTICK, 0u);
        EXPECT_NE(g_ApplicationRecord.keyboardDevice, nullptr);  // the rest of the input stays
        S_CloseIO();
        EXPECT_EQ(DInput_LiveObjects(), 0);
    }

    // A failed range or feature enumeration is only noted.
    DInput_SeamReset();
    Full();
    DInput_SeamFail(DISeamDevice::Joystick, DISeamCall::SetProperty, DIERR_GENERIC, 1, DIPROP_RANGE, DIJOFS_X);
    DInput_SeamFail(DISeamDevice::Joystick, DISeamCall::EnumObjects, DIERR_GENERIC);
    StartCapture();
    Start(kDefaultFlags);
    std::string log = StopCapture();
    EXPECT_TRUE(Has(log, "SetProperty(RANGE, X-Axis) failed:DIERR_GENERIC\n"));
    EXPECT_TRUE(Has(log, "S_DICreateJoystick() Joystick feature enumeration failed!:DIERR_GENERIC\n"));
    EXPECT_NE(g_ApplicationRecord.joystickDevice, nullptr);
}

TEST_F(InputJoystick, FailingReadsReacquireAndCloseAfterAThousand) {
    Full();
    InputState* in = Start(kDefaultFlags);
    Live().axis[0] = 32767;
    Poll();
    ASSERT_EQ(in->joyX, 65535);

    struct Case {
        HRESULT hr;
        const char* line;
        bool acquires;
    } cases[] = {
        {DIERR_NOTACQUIRED, "Joystick Poll or GetDeviceState() DIERR_NOTACQUIRED, reacquiring\n", true},
        {DIERR_INPUTLOST, "Joystick Poll or GetDeviceState() DIERR_INPUTLOST, reacquiring\n", true},
        {DIERR_PENDING, "Joystick Poll or GetDeviceState() E_PENDING\n", false},
        {DIERR_GENERIC, "Joystick Poll or GetDeviceState() unknown error 80004005\n", true},
    };
    for (const Case& c : cases) {
        DInput_SeamFail(DISeamDevice::Joystick, DISeamCall::GetDeviceState, c.hr);
        int acquires = DInput_SeamCallCount("Joystick.Acquire");
        EXPECT_TRUE(Has(Poll(), c.line)) << c.line;
        EXPECT_EQ(DInput_SeamCallCount("Joystick.Acquire"), acquires + (c.acquires ? 1 : 0)) << c.line;
    }

    Poll();  // a good read starts the count again
    sys_.debugFlags = 0;
    DInput_SeamFail(DISeamDevice::Joystick, DISeamCall::Poll, DIERR_GENERIC, -1);
    for (int i = 0; i < 1000; ++i) S_VbiIO();
    EXPECT_NE(g_ApplicationRecord.joystickDevice, nullptr);
    EXPECT_EQ(in->joyX, 65535);
    sys_.debugFlags = 4;
    EXPECT_TRUE(Has(Poll(), "Error polling Joystick!\nClosing Joystick!:\nDIERR_GENERIC\n"));
    EXPECT_EQ(g_ApplicationRecord.joystickDevice, nullptr);
    EXPECT_EQ(in->joyX, 0);
    EXPECT_EQ(in->joyButtons, 0u);
    EXPECT_EQ(in->flags & INPUT_JOYSTICK_FEATURES, 0u);

    // The next activation makes it again from the stored GUID.
    DInput_SeamReset();
    Full();
    Ex_SyncAcquire(0);
    EXPECT_NE(g_ApplicationRecord.joystickDevice, nullptr);
}

TEST_F(InputJoystick, DeadZoneSettingAppliesAtOnce) {
    Full();
    InputState* in = Start(kDefaultFlags);
    EXPECT_EQ(S_SetJoystickDeadzone(50), 50);
    EXPECT_EQ(S_GetJoystickDeadzone(), 50);
    Ex_SyncAcquire(0);
    Live().axis[0] = 16000;  // under half: inside a 50% dead zone
    Poll();
    EXPECT_EQ(in->joyX, 0);
    EXPECT_EQ(S_SetJoystickSensitivity(7), 7);
    EXPECT_EQ(S_GetJoystickSensitivity(), 7);

    DInput_SeamFail(DISeamDevice::Joystick, DISeamCall::SetProperty, DIERR_GENERIC, 1, DIPROP_DEADZONE, DIJOFS_RZ);
    StartCapture();
    EXPECT_EQ(S_SetJoystickDeadzones(10), 0);
    EXPECT_TRUE(Has(StopCapture(), "SetProperty(DEADZONE, RZ-Axis) failed:DIERR_GENERIC\n"));
    S_CloseIO();
    EXPECT_EQ(S_SetJoystickDeadzones(10), 0);  // no joystick
}

// ---------------------------------------------------------------------------
// Activation and end

TEST_F(Input, DeactivationReleasesAndClearsActivationFlushes) {
    InputState* in = Start(INPUT_MOUSE);
    in->joyX = 5;
    in->buttonLeft = in->clickLeft = in->doubleClick = 1;
    in->mouseHeld = in->mouseButtons = 3;
    in->keyState[0x1E] = 0x80;
    in->pov = 9000;
    Ex_SyncAcquire(1);
    EXPECT_EQ(in->joyX, 0);
    EXPECT_EQ(in->buttonLeft + in->clickLeft + in->doubleClick + in->mouseHeld + in->mouseButtons, 0u);
    EXPECT_EQ(in->keyState[0x1E], 0);
    EXPECT_EQ(in->pov, -1);
    EXPECT_EQ(DInput_SeamCallCount("Mouse.Unacquire"), 1);
    EXPECT_EQ(DInput_SeamCallCount("Keyboard.Unacquire"), 1);

    StartCapture();
    Ex_SyncAcquire(0);
    std::string log = StopCapture();
    EXPECT_TRUE(Has(log, "Ex_SyncAcquire\n"));
    EXPECT_TRUE(Has(log, "Keyboard 0 Keys flushed!:\nDI_OK\n"));
    DInput_SeamKey(0x1E, true);
    DInput_SeamKey(0x1F, true);
    Ex_SyncAcquire(1);
    Ex_SyncAcquire(0);
    Poll();
    EXPECT_EQ(in->keyState[0x1E], 0);  // the old keys went with the activation

    DInput_SeamFail(DISeamDevice::Mouse, DISeamCall::Acquire, DIERR_OTHERAPPHASPRIO);
    DInput_SeamFail(DISeamDevice::Keyboard, DISeamCall::Unacquire, DIERR_GENERIC);
    StartCapture();
    Ex_SyncAcquire(1);
    Ex_SyncAcquire(0);
    log = StopCapture();
    EXPECT_TRUE(Has(log, "Ex_SyncAcquire(1) Unacquire Keyboard failed: DIERR_GENERIC\n"));
    EXPECT_TRUE(Has(log, "Ex_SyncAcquire(0) Acquire Mouse failed: E_ACCESSDENIED\n"));
}

TEST_F(Input, SubWindowTakesTheDevicesOver) {
    Start(INPUT_MOUSE);
    S_DIToSubWindow(nullptr);
    EXPECT_EQ(DInput_SeamCallCount("Mouse.SetCooperativeLevel"), 2);
    EXPECT_EQ(DInput_SeamCallCount("Keyboard.SetCooperativeLevel"), 2);
    EXPECT_EQ(DInput_SeamCallCount("Keyboard.Acquire"), 2);
}

TEST_F(Input, CloseFreesTheRecord) {
    Start(INPUT_MOUSE);
    S_CloseIO();
    EXPECT_EQ(g_InputState, nullptr);
    EXPECT_EQ(g_ApplicationRecord.directInput, nullptr);
    EXPECT_EQ(S_WindowLinks.pollInput, nullptr);
    EXPECT_EQ(DInput_LiveObjects(), 0);
    StartCapture();
    S_CloseIO();
    EXPECT_TRUE(
        Has(StopCapture(), "S_FreeMem: Trying to free NULL pointer, len " + std::to_string(sizeof(InputState))));
    S_VbiIO();  // nothing to poll
}

TEST(InputErrorText, NamesAndUnknown) {
    EXPECT_STREQ(S_DIErrorText(DI_OK), "DI_OK");
    EXPECT_STREQ(S_DIErrorText(DI_BUFFEROVERFLOW), "S_FALSE");
    EXPECT_STREQ(S_DIErrorText(DI_TRUNCATEDANDRESTARTED), "DI_TRUNCATEDANDRESTARTED");
    EXPECT_STREQ(S_DIErrorText(DIERR_INPUTLOST), "DIERR_INPUTLOST");
    EXPECT_STREQ(S_DIErrorText(DIERR_OTHERAPPHASPRIO), "E_ACCESSDENIED");
    EXPECT_STREQ(S_DIErrorText(DIERR_PENDING), "E_PENDING");
    EXPECT_STREQ(S_DIErrorText(DIERR_EFFECTPLAYING), "DIERR_EFFECTPLAYING");
    EXPECT_STREQ(S_DIErrorText(0x12345), "Unknown DI Error!");
}

// ---------------------------------------------------------------------------
// Multimedia-library joysticks, without DirectInput

class InputFallback : public Input {
protected:
    void SetUp() override {
        Input::SetUp();
        DInput_SeamFail(DISeamDevice::Interface, DISeamCall::Create, DIERR_GENERIC);
    }
    void Stick(int n, UINT x, UINT y, UINT buttons = 0) {
        joySeam_->sticks[n].attached = true;
        joySeam_->sticks[n].info = JOYINFO{x, y, 0, buttons};
    }
};

TEST_F(InputFallback, FindsAndCentresTheSticks) {
    Stick(0, 32765, 32765);
    StartCapture();
    InputState* in = Start(INPUT_MOUSE | INPUT_JOYSTICK | INPUT_STICK_ANALOG);
    std::string log = StopCapture();
    EXPECT_EQ(in->flags & (INPUT_JOYSTICK | INPUT_JOYSTICK2), INPUT_JOYSTICK);
    EXPECT_TRUE(Has(log, "CenterJ1: 0/0\n"));
    EXPECT_TRUE(Has(log, "SIO_error: initializing joystick 2\n"));
    EXPECT_EQ(g_MMJoyAxes[0][0].min, -1000);
    EXPECT_EQ(g_MMJoyAxes[0][0].max, 1000);
    Poll();
    EXPECT_EQ(in->joyX, 0);
    EXPECT_EQ(in->joyY, 0);

    S_CloseIO();
    DInput_SeamFail(DISeamDevice::Interface, DISeamCall::Create, DIERR_GENERIC);
    Stick(1, 40000, 100);
    StartCapture();
    in = Start(INPUT_JOYSTICK2 | INPUT_STICK_ANALOG);
    log = StopCapture();
    EXPECT_EQ(in->flags & (INPUT_JOYSTICK | INPUT_JOYSTICK2), INPUT_JOYSTICK | INPUT_JOYSTICK2);
    EXPECT_TRUE(Has(log, "CenterJ2: 40000/100\n"));  // the second stick as read
}

TEST_F(InputFallback, RangeWidensAndDriftsBack) {
    Stick(0, 32765, 32765);
    InputState* in = Start(INPUT_JOYSTICK | INPUT_STICK_ANALOG);
    joySeam_->sticks[0].info.wXpos = 65535;  // full right: 32770 from the centre
    Poll();
    MMJoyAxis& x = g_MMJoyAxes[0][0];
    EXPECT_EQ(x.max, 1000 + (32770 - 1000) / 16);
    EXPECT_EQ(x.dead, (x.max - x.min) / 10);
    EXPECT_GT(in->joyX, 0);  // never the other side
    int32_t widened = x.max;
    Poll();
    EXPECT_EQ(x.max, widened + (32770 - widened) / 16);

    joySeam_->sticks[0].info.wXpos = 32765;  // back at the centre
    int32_t before = x.max;
    Poll();
    EXPECT_EQ(x.max, before - 1);
    EXPECT_EQ(in->joyX, 0);

    joySeam_->sticks[0].info.wXpos = 0;  // full left
    Poll();
    EXPECT_LT(in->joyX, 0);
    EXPECT_EQ(x.dead, (x.max - x.min) / 20);
}

TEST_F(InputFallback, DigitalSticksAndButtonsOfBoth) {
    Stick(0, 32765, 32765, 0xF);
    Stick(1, 0, 0, 0xF);
    InputState* in = Start(INPUT_JOYSTICK | INPUT_JOYSTICK2 | INPUT_STICK_DIGITAL);
    Poll();
    EXPECT_EQ(in->joyX, 0);
    EXPECT_EQ(in->joyButtons, 0xFu);  // 1-2 from the first, 3-4 from the second
    EXPECT_EQ(in->actions & 0x1E0, 0x1E0u);
    joySeam_->sticks[0].info = JOYINFO{65535, 0, 0, 0x1};
    Poll();
    EXPECT_EQ(in->joyX, 1);
    EXPECT_EQ(in->joyY, -1);
    EXPECT_EQ(in->joyButtons, 0xDu);

    joySeam_->sticks[0].failReads = 1;
    EXPECT_TRUE(Has(Poll(), "error reading joy 1\n"));
}

}  // namespace
