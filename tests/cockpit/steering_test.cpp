// The steering of the player's ship: key presses and their translation, the
// hat, the autopilot, the speed by keys, axes and the lever, rotation by the
// stick, the strafe and turret ramps, gestures, the fast-forward stop and the
// mouse sums. A story of object 2100 hands every function it is started with
// to the test, which notes it and gives the answer.
#include "cockpit/steering.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "cockpit/cockpit_fixture.h"
#include "cockpit/controlmatrix.h"
#include "platform/dinput/seam.h"
#include "program/gameloop.h"
#include "program/main.h"
#include "program/shell.h"
#include "script/modules.h"
#include "script/tasks.h"
#include "support/logcapture.h"
#include "support/script_run.h"
#include "system/entry.h"
#include "system/input.h"
#include "system/window.h"

namespace {

using Calls = std::vector<std::string>;

// Each function calls "T_Now" with its number and its arguments and answers
// what the test answers.
constexpr const char* kSteeringStory = R"(
.object 2100
.func "TranslateKey" need 8
    getl 4
    pushw 0
    c2
    sys "T_Now"
    ret
.func "Input" need 8
    getl 4
    pushw 1
    c2
    sys "T_Now"
    ret
.func "CheckEquipment" need 8
    getl 4
    pushw 2
    c2
    sys "T_Now"
    ret
.func "SetAutopilot" need 8
    getl 5
    getl 5
    pushw 3
    c3
    sys "T_Now"
    ret
.func "InputAction" need 8
    getl 4
    pushw 4
    c2
    sys "T_Now"
    ret
.func "StopFastForward" need 8
    pushw 5
    c1
    sys "T_Now"
    ret
.func "InputMouseDelta" need 8
    getl 5
    getl 5
    pushw 6
    c3
    sys "T_Now"
    ret
)";
const char* const kFunctions[] = {"TranslateKey", "Input",           "CheckEquipment", "SetAutopilot",
                                  "InputAction",  "StopFastForward", "InputMouseDelta"};

constexpr int32_t kStepY = 30000, kStepX = 20000, kStepZ = 10000;  // rotation limits of the ship type
constexpr int32_t kMaxSpeed = 100000, kMaxStrafe = 40000;

class SteeringTest : public CockpitTest {
protected:
    void SetUp() override {
        CockpitTest::SetUp();
        savedInput_ = g_InputState;
        savedProgram_ = g_ProgramState;
        savedApp_ = g_ApplicationRecord;
        g_InputState = &input_;
        g_ProgramState = &program_;
        g_ApplicationRecord.joySensitivity = 100;
        system_->gameFrameDelta = 100;
        system_->realClock = 1000;
        system_->gameTimeScale = 65536;
        ASSERT_TRUE(runner_.Load(kSteeringStory));
        program_.ruzoModule = SB_RegisterEngineModule(runner_.ctx(), Ruzo_SysCall, Ruzo_GetSysCallNames(),
                                                      Ruzo_ReturnInt, Ruzo_ReturnString, nullptr);
        runner_.handler = [this](SE_Task* task, int32_t, int32_t argc, ScriptValue* args) {
            std::string note = kFunctions[args[0].i];
            for (int32_t i = 1; i < argc; ++i) note += " " + std::to_string(args[i].i);
            calls_.push_back(note);
            int32_t answer = 0;
            if (args[0].i == 0 && translate_.count(args[1].i)) answer = translate_[args[1].i];
            if (args[0].i == 1) answer = inputAnswer_;
            if (args[0].i == 2) answer = equipment_;
            SE_TaskReturnInt(task, answer);
            return 1;
        };

        TypeRecord* t = Types(SA_MT_SHIP, 1);
        t->field[SA_TF_STEP_Y] = kStepY;
        t->field[SA_TF_STEP_X] = kStepX;
        t->field[SA_TF_STEP_Z] = kStepZ;
        t->field[SA_TF_SHIP_SPEED] = kMaxSpeed;
        t->field[SA_TF_SHIP_ACCELERATION] = 15000;
        sector_ = New(SA_MT_SECTOR);
        ship_ = Ship();
        ship_->flags |= SA_FLAG_INVULNERABLE;  // full speed whatever its hull
        O_ShipData(ship_)->maxStrafeOverride = kMaxStrafe;
        Into(sector_, ship_);
    }
    void TearDown() override {
        SV_Release(&program_.result);
        g_InputState = savedInput_;
        g_ProgramState = savedProgram_;
        g_ApplicationRecord = savedApp_;
        g_ControlMatrix = STS_CONTROL_MATRIX_DEFAULTS;
        CockpitTest::TearDown();
    }

    // One frame of steering; the story functions it started.
    Calls Frame(SectorObject* ship, int32_t enable = 1) {
        calls_.clear();
        EXPECT_EQ(STS_Set(ship, enable), 1);
        return calls_;
    }
    Calls Frame() { return Frame(ship_); }
    // Only the calls of one function.
    static Calls Only(const Calls& calls, const std::string& name) {
        Calls out;
        for (const std::string& c : calls)
            if (c.rfind(name + " ", 0) == 0 || c == name) out.push_back(c);
        return out;
    }
    // A held steering key: key 30 translated to the code.
    void HoldSteering(int32_t code) {
        translate_[30] = code;
        input_.keyDown[30] = 1;
    }
    void Release() { std::memset(input_.keyDown, 0, sizeof input_.keyDown); }
    // The stick in analogue mode at x and y (-65535..65535).
    void Stick(int32_t x, int32_t y) {
        input_.flags |= INPUT_JOYSTICK | INPUT_STICK_ANALOG;
        input_.joyX = x;
        input_.joyY = y;
    }
    // The control cockpit looking out of turret 1 of the ship.
    Cockpit* TurretCockpit() {
        Cockpit* c = AddCockpit();
        c->cockpitRefObject = ship_;
        c->viewMode = 1;
        c->cockpitNumber = 1;
        g_CockpitSystem->activeControl = static_cast<int32_t>(c->id);
        return c;
    }

    StoryRunner runner_;
    ProgramState program_{};
    InputState input_{};
    SectorObject* sector_ = nullptr;
    SectorObject* ship_ = nullptr;
    Calls calls_;
    std::map<int32_t, int32_t> translate_;
    int32_t inputAnswer_ = 0;
    int32_t equipment_ = 0;

private:
    InputState* savedInput_ = nullptr;
    ProgramState* savedProgram_ = nullptr;
    ApplicationRecord savedApp_{};
};

TEST_F(SteeringTest, ReleasedKeysReportHowLongTheyWereHeld) {
    const struct {
        const char* what;
        int32_t key, pressedAt, releasedAt;
        bool modifier;
        Calls input;
    } cases[] = {
        {"600 ms", 30, 1000, 1600, false, {"Input 16414"}},
        {"400 ms", 30, 1000, 1400, false, {"Input 8222"}},
        {"500 ms is short", 30, 1000, 1500, false, {"Input 8222"}},
        {"501 ms is long", 30, 1000, 1501, false, {"Input 16414"}},
        {"with the modifier", 30, 1000, 1600, true, {"Input 20510"}},
        {"over the clock's wrap", 30, 32399800, 300, false, {"Input 8222"}},
        {"key 413", 413, 1000, 1600, false, {}},
        {"key 414", 414, 1000, 1600, false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        STS_Reset();
        input_.shiftDown = c.modifier ? 1 : 0;
        system_->realClock = c.pressedAt;
        input_.keyDown[c.key] = 1;
        EXPECT_EQ(Frame(), (Calls{"TranslateKey " + std::to_string(c.key | (c.modifier ? 0x1000 : 0))}));
        system_->realClock = c.releasedAt;
        Release();
        g_KeyHandled = 0;
        EXPECT_EQ(Frame(), c.input);
        EXPECT_EQ(g_KeyHandled, c.input.empty() ? 0 : 1);
        EXPECT_TRUE(Frame().empty());  // once
    }
    // A key released while no ship is steered still reports.
    STS_Reset();
    input_.shiftDown = 0;
    input_.keyDown[44] = 1;
    Frame(nullptr);
    Release();
    system_->realClock += 700;
    EXPECT_EQ(Only(Frame(nullptr), "Input"), (Calls{"Input 16428"}));
}

TEST_F(SteeringTest, TranslatedKeysSteerAndAreNotReported) {
    // A key translated to itself marks nothing and reports its release.
    translate_[30] = 30;
    input_.keyDown[30] = 1;
    Frame();
    EXPECT_EQ(ship_->desiredSpeed, 0);
    Release();
    EXPECT_EQ(Only(Frame(), "Input"), (Calls{"Input 8222"}));
    // One translated to "speed up" speeds up while held and never reports.
    HoldSteering(531);
    Frame();
    EXPECT_GT(ship_->desiredSpeed, 0);
    Release();
    EXPECT_TRUE(Only(Frame(), "Input").empty());
}

TEST_F(SteeringTest, TheHatReportsItsEightDirections) {
    const struct {
        int32_t pov;
        bool read;
        int32_t code;  // 0: nothing
    } cases[] = {
        {0, true, 320},     {18000, true, 321}, {27000, true, 322}, {9000, true, 323},
        {31500, true, 324}, {4500, true, 325},  {22500, true, 326}, {13500, true, 327},
        {1000, true, 0},    {-1, true, 0},      {4500, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pov);
        STS_Reset();
        Release();
        input_.flags = c.read ? INPUT_POV | INPUT_POV_READ : INPUT_POV;
        input_.pov = c.pov;
        const Calls input = Only(Frame(), "Input");
        EXPECT_EQ(input, c.code ? Calls{"Input " + std::to_string(c.code)} : Calls{});
        if (c.code) {
            EXPECT_EQ(input_.keyDown[c.code], 1);
        }
    }
    // 4500 is the code of joystick button 29.
    STS_Reset();
    Release();
    input_.flags = 0;
    input_.joyButtons = 1u << 29;
    EXPECT_EQ(Only(Frame(), "Input"), (Calls{"Input 325"}));
}

TEST_F(SteeringTest, ButtonsAndTheWheelAreReportedEveryFrame) {
    input_.joyButtons = 0x3;
    input_.mouseButtons = 0x4;
    input_.mouseDZ = -120;
    input_.shiftDown = 1;
    translate_[0x1000 | 296] = 531;  // joystick button 0 speeds up
    const Calls calls = Frame();
    EXPECT_EQ(Only(calls, "Input"), (Calls{"Input 4392", "Input 4393", "Input 4378", "Input 12583"}));
    EXPECT_GT(ship_->desiredSpeed, 0);
    EXPECT_EQ(input_.keyDown[296] + input_.keyDown[297] + input_.keyDown[282], 3);
    EXPECT_EQ(g_KeyHandled, 1);
    // A held button is not reported.
    g_STSButtonHold[1] = 1;
    input_.mouseButtons = 0;
    input_.mouseDZ = 0;
    EXPECT_EQ(Only(Frame(), "Input"), (Calls{"Input 4392"}));
    // "Input" answering -1 stops the loop.
    g_StopFlag = 0;
    inputAnswer_ = -1;
    Frame();
    EXPECT_EQ(g_StopFlag, 1);
}

TEST_F(SteeringTest, ASteeringKeyCancelsTheAutopilotInTheSameFrame) {
    ship_->flags |= SA_FLAG_AUTOPILOT;
    // Under the autopilot the stick does not turn the ship.
    Stick(65535, 0);
    Frame();
    EXPECT_EQ(ship_->rotSpeed[0], 0);
    EXPECT_NE(ship_->flags & SA_FLAG_AUTOPILOT, 0u);
    HoldSteering(531);
    const Calls calls = Frame();
    EXPECT_EQ(Only(calls, "SetAutopilot"), (Calls{"SetAutopilot 1 0"}));
    EXPECT_EQ(ship_->flags & SA_FLAG_AUTOPILOT, 0u);
    EXPECT_GT(ship_->desiredSpeed, 0);
    EXPECT_NE(ship_->rotSpeed[0], 0);  // the stick steers again
}

TEST_F(SteeringTest, DesiredSpeedNeverGoesBelowFullReverse) {
    // Keys.
    HoldSteering(532);
    for (int i = 0; i < 100; ++i) Frame();
    EXPECT_EQ(ship_->desiredSpeed, -5000);
    // An axis bound to the speed.
    Release();
    STS_SetControlMatrix(256, 8, 0, 0);
    Stick(65535, 0);
    ship_->desiredSpeed = 0;
    for (int i = 0; i < 100; ++i) Frame();
    EXPECT_EQ(ship_->desiredSpeed, -5000);
    Stick(-65535, 0);
    for (int i = 0; i < 100; ++i) Frame();
    EXPECT_EQ(ship_->desiredSpeed, kMaxSpeed);
    // The lever.
    input_.flags = INPUT_RUDDER | INPUT_RUDDER_RANGED;
    input_.rudder = 65535;
    STS_Reset();
    Frame();
    EXPECT_EQ(ship_->desiredSpeed, -5000);
}

TEST_F(SteeringTest, AShipOutsideASectorEndsTheFrameWithoutTurning) {
    Stick(65535, 65535);
    ship_->rotSpeed[2] = 400;
    Frame();
    EXPECT_NE(ship_->rotSpeed[0], 0);
    for (SectorObject* container : {static_cast<SectorObject*>(nullptr), New(SA_MT_DOCK)}) {
        ship_->container = container;
        Frame();
        EXPECT_EQ(ship_->rotSpeed[0], 0);
        EXPECT_EQ(ship_->rotSpeed[1], 0);
        EXPECT_EQ(ship_->rotSpeed[2], 0);
    }
    ship_->container = sector_;
}

TEST_F(SteeringTest, TheStickTurnsTheShipUpToItsScaledLimit) {
    const struct {
        const char* what;
        int32_t x, y, sensitivity;
        uint32_t flags;
        int32_t turn1, turn2;  // the targets of rotation channels 1 and 2
    } cases[] = {
        {"centred", 0, 0, 100, 0, 0, 0},
        {"full right and down", 65535, 65535, 100, 0, -kStepY, kStepX},
        {"full left and up", -65535, -65535, 100, 0, kStepY, -kStepX},
        {"half", 32768, 0, 100, 0, -15000, 0},
        {"sensitivity 20", 65535, 65535, 20, 0, -13107, 13107},
        {"inverted", 65535, 65535, 100, 0x20 | 0x80, kStepY, -kStepX},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        STS_Reset();
        ship_->rotSpeed[0] = ship_->rotSpeed[1] = 0;
        g_ApplicationRecord.joySensitivity = c.sensitivity;
        input_.flags = c.flags;
        Stick(c.x, c.y);
        for (int i = 0; i < 30; ++i) Frame();
        EXPECT_EQ(g_SteeringState.rotation[0].target, c.turn1);
        EXPECT_EQ(g_SteeringState.rotation[1].target, c.turn2);
        // The ramp reaches the target.
        EXPECT_EQ(ship_->rotSpeed[0], c.turn1);
        EXPECT_EQ(ship_->rotSpeed[1], c.turn2);
    }
}

TEST_F(SteeringTest, TheRotationRampIsBoundByTheShipsSteps) {
    Stick(65535, 0);
    Frame();
    // (30000 + 20000 + 10000) x 31129 / 65536, for 100 ms.
    EXPECT_EQ(ship_->rotSpeed[0], -2849);
    EXPECT_TRUE(g_SteeringState.rotation[0].changed);
    // The roll: a quarter of the sum.
    Release();
    HoldSteering(528);
    Frame();
    EXPECT_EQ(ship_->rotSpeed[2], 1500);
    // Kept level: near level only a turning key writes the roll.
    g_SpaceRoot->game.steering = 2;
    ship_->rot[1] = 100;
    Frame();
    EXPECT_EQ(ship_->rotSpeed[2], 3000);
    EXPECT_EQ(g_SpaceRoot->game.steering, 2 | 4);
    Release();
    Frame();
    EXPECT_EQ(ship_->rotSpeed[2], 3000);  // left alone
    EXPECT_EQ(g_SpaceRoot->game.steering, 2);
    ship_->rot[1] = 20000;  // far from level: written
    Frame();
    EXPECT_EQ(ship_->rotSpeed[2], 1500);
}

TEST_F(SteeringTest, TheLeverSetsTheSpeedUntilKeysTakeOver) {
    input_.flags = INPUT_RUDDER | INPUT_RUDDER_RANGED;
    const struct {
        int32_t rudder, desired;
    } cases[] = {
        {65535, -5000}, {48496, -2500},  {32767, 0},          {30000, 0},          {26215, 0},
        {0, 28987},     {-19005, 50000}, {-64225, kMaxSpeed}, {-65535, kMaxSpeed},
    };
    for (const auto& c : cases) {
        input_.rudder = c.rudder;
        Frame();
        EXPECT_EQ(ship_->desiredSpeed, c.desired) << c.rudder;
    }
    // A speed key takes over; the lever drives again once it moves by more
    // than 1/64 of its range.
    input_.rudder = 0;
    HoldSteering(532);
    Frame();
    Release();
    const int32_t byKeys = ship_->desiredSpeed;
    EXPECT_LT(byKeys, kMaxSpeed);
    input_.rudder = 2000;
    Frame();
    EXPECT_EQ(ship_->desiredSpeed, byKeys);
    EXPECT_EQ(g_SteeringState.leverDrives, 0);
    input_.rudder = -2100;
    Frame();
    EXPECT_EQ(g_SteeringState.leverDrives, 1);
    EXPECT_NE(ship_->desiredSpeed, byKeys);
    // The input layer's own bit stays as it was.
    EXPECT_NE(input_.flags & INPUT_RUDDER_RANGED, 0u);
}

TEST_F(SteeringTest, StrafeKeysPushTheShipSideways) {
    const struct {
        int32_t code;
        int32_t x, y;  // the strafe velocity after one frame
    } cases[] = {
        {540, -2000, 0},  // channel 1 along the ship's x axis, negated
        {541, 2000, 0},
        {542, 0, 2000},
        {543, 0, -2000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        for (int32_t& w : ship_->flight) w = 0;
        HoldSteering(c.code);
        Frame();
        EXPECT_EQ(ship_->flight[0], c.x);
        EXPECT_EQ(ship_->flight[1], c.y);
        EXPECT_EQ(ship_->flight[2], 0);
    }
    // The strafe channels start each frame from the ship's motion along its axes.
    Release();
    ship_->flight[0] = 0;
    ship_->flight[1] = -2000;
    Frame();
    EXPECT_EQ(g_SteeringState.strafe[0].current, 0);
    EXPECT_EQ(g_SteeringState.strafe[1].current, Qel_FixDiv(-2000, kMaxStrafe));
    // Without a maximum nothing moves, and each channel logs it.
    O_ShipData(ship_)->maxStrafeOverride = 0;
    for (int32_t& w : ship_->flight) w = 0;
    LogCapture log;
    Frame();
    EXPECT_EQ(ship_->flight[1], 0);
    size_t lines = 0;
    for (size_t at = 0; (at = log.Text().find("STS_Set() MaxStrafe == 0!\n", at)) != std::string::npos; ++at) ++lines;
    EXPECT_EQ(lines, 2u);
}

TEST_F(SteeringTest, TurretKeysTurnTheTurretViewUpToItsBound) {
    Cockpit* c = TurretCockpit();
    HoldSteering(526);
    // No laser: limits of 0.5; 570.0 a second reaches the drive at once, and
    // the view turns 0.5 x 65536 / 10 a frame.
    Frame();
    EXPECT_EQ(g_SteeringState.turret[0].limit, 0x8000);
    EXPECT_EQ(g_SteeringState.turret[0].cockpitId, c->id);
    EXPECT_EQ(c->viewAngles[1], 3276);
    EXPECT_EQ(c->viewAngleSpeeds[1], 32768);
    EXPECT_EQ(c->targetViewAngles[1], 3276);
    EXPECT_EQ(c->viewLock, 1);
    EXPECT_EQ(ship_->rotSpeed[0], 0);  // not the ship
    for (int i = 0; i < 5; ++i) Frame();
    EXPECT_EQ(c->viewAngles[1], 16384);
    EXPECT_EQ(c->viewAngleSpeeds[1], 0);  // stopped at the bound
    // The second turret channel is bound at 13107.
    HoldSteering(525);
    for (int i = 0; i < 6; ++i) Frame();
    EXPECT_EQ(c->viewAngles[2], -13107);
}

// A turret keeps its cockpit by ID: the cockpit may be freed between frames.
TEST_F(SteeringTest, AFreedTurretCockpitIsForgotten) {
    Cockpit* c = TurretCockpit();
    const uint32_t id = c->id;
    HoldSteering(526);
    Frame();
    ASSERT_EQ(g_SteeringState.turret[0].cockpitId, id);
    INS_FreeCockpit(g_CockpitSystem, id);
    EXPECT_EQ(g_SteeringState.turret[0].cockpitId, 0u);
    EXPECT_EQ(g_SteeringState.turret[1].cockpitId, 0u);
    Frame();  // no turret: the keys turn the ship
    EXPECT_NE(ship_->rotSpeed[0], 0);
}

TEST_F(SteeringTest, GesturesReportTheirEightSectors) {
    STS_SetControlMatrix(256, 9, 0, 0);
    STS_SetControlMatrix(257, 10, 0, 0);
    const struct {
        int32_t x, y, code;
    } cases[] = {
        {65535, 0, 718},       {46341, 46341, 723}, {0, 65535, 720},      {-46341, 46341, 724}, {-65535, 0, 717},
        {-46341, -46341, 721}, {0, -65535, 719},    {46341, -46341, 722}, {16000, -16000, 0},  // not past a quarter
    };
    for (const auto& c : cases) {
        Stick(c.x, c.y);
        const Calls actions = Only(Frame(), "InputAction");
        EXPECT_EQ(actions, c.code ? Calls{"InputAction " + std::to_string(c.code)} : Calls{}) << c.x << " " << c.y;
    }
    // By mouse: 15 counts to the right.
    STS_SetControlMatrix(512, 9, 0, 0);
    Stick(0, 0);
    input_.mouseDX = 15;
    EXPECT_EQ(Only(Frame(), "InputAction"), (Calls{"InputAction 718"}));
}

TEST_F(SteeringTest, AChangeStopsFastForward) {
    Stick(65535, 0);
    EXPECT_TRUE(Only(Frame(), "StopFastForward").empty());  // normal speed
    system_->gameTimeScale = 4 * 65536;
    EXPECT_EQ(Only(Frame(), "StopFastForward"), (Calls{"StopFastForward"}));
    // Once the ship turns at its target nothing changes.
    for (int i = 0; i < 30; ++i) Frame();
    EXPECT_TRUE(Only(Frame(), "StopFastForward").empty());
}

TEST_F(SteeringTest, MouseDeltasAddUpForTheStory) {
    STS_SetControlMatrix(512, 11, 0, 0);
    STS_SetControlMatrix(513, 12, 0, 0);
    input_.mouseDX = 5;
    input_.mouseDY = -3;
    EXPECT_EQ(Only(Frame(), "InputMouseDelta"), (Calls{"InputMouseDelta 5 -3"}));
    EXPECT_EQ(Only(Frame(nullptr), "InputMouseDelta"), (Calls{"InputMouseDelta 5 -3"}));
    STS_SetControlMatrix(512, 12, 0, 0);
    EXPECT_EQ(Only(Frame(nullptr), "InputMouseDelta"), (Calls{"InputMouseDelta 0 2"}));
    input_.mouseDX = input_.mouseDY = 0;
    EXPECT_TRUE(Only(Frame(), "InputMouseDelta").empty());
    // By default the mouse turns the ship: 10 counts in 100 ms.
    g_ControlMatrix = STS_CONTROL_MATRIX_DEFAULTS;
    input_.mouseDX = 10;
    Frame();
    EXPECT_EQ(g_SteeringState.rotation[0].target, -3276);
}

TEST_F(SteeringTest, DisabledSteeringLeavesKeysAndAxesAlone) {
    Stick(65535, 0);
    HoldSteering(531);
    input_.mouseDX = 0;
    Frame(ship_, 0);
    EXPECT_EQ(ship_->desiredSpeed, 0);
    EXPECT_EQ(ship_->rotSpeed[0], 0);
    // The mouse still turns it.
    input_.mouseDX = 10;
    Frame(ship_, 0);
    EXPECT_NE(ship_->rotSpeed[0], 0);
}

TEST_F(SteeringTest, FullSpeedAsksForTheBoost) {
    HoldSteering(534);
    EXPECT_EQ(Only(Frame(), "CheckEquipment"), (Calls{"CheckEquipment 40"}));
    EXPECT_EQ(ship_->desiredSpeed, kMaxSpeed);
    EXPECT_EQ(ship_->speed, 0);
    // With the boost the speed itself rises: acceleration x 100 / 150.
    equipment_ = 1;
    Frame();
    EXPECT_EQ(ship_->speed, 10000);
    EXPECT_EQ(g_SteeringState.speed.boost, 1);
}

// The joystick read by the input layer through the DirectInput stand-in,
// its axes at the centre and at both ends.
class SteeringJoystick : public SteeringTest {
protected:
    void SetUp() override {
        SteeringTest::SetUp();
        DInput_SeamReset();
        DISeamJoystick j;
        j.guid = GUID{0x10000001u, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 1}};
        j.axes[2] = true;  // Z: the lever
        DInput_Seam().joysticks.push_back(j);
        g_ApplicationRecord.joyDeadzone = 20;
        g_ApplicationRecord.joySensitivity = 20;
        g_InputState = S_InitIO(0x70200107);
        ASSERT_NE(g_InputState, nullptr);
    }
    void TearDown() override {
        S_CloseIO();
        if (g_ApplicationRecord.joyGUID) Int_FreeMem(g_ApplicationRecord.joyGUID, sizeof(GUID), 0);
        g_ApplicationRecord.joyGUID = nullptr;
        DInput_SeamDisable();
        SteeringTest::TearDown();
    }
};

TEST_F(SteeringJoystick, AxesReachTheShip) {
    const struct {
        const char* what;
        int16_t x, y, z;
        int32_t turn1, turn2, desired;
    } cases[] = {
        {"centred", 0, 0, 0, 0, 0, 28987},
        {"full right, down and back", 32767, 32767, 32767, -13107, 13107, -5000},
        {"full left, up and forward", -32768, -32768, -32768, 13107, -13107, kMaxSpeed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DISeamJoystick& j = DInput_Seam().joysticks[0];
        j.axis[0] = c.x;
        j.axis[1] = c.y;
        j.axis[2] = c.z;
        for (int i = 0; i < 20; ++i) {
            S_VbiIO();
            Frame();
        }
        EXPECT_EQ(ship_->rotSpeed[0], c.turn1);
        EXPECT_EQ(ship_->rotSpeed[1], c.turn2);
        EXPECT_EQ(ship_->desiredSpeed, c.desired);
    }
}

}  // namespace
