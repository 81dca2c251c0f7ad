#include "cockpit/steering.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <numbers>

#include "base/fixmath.h"
#include "base/general.h"
#include "base/log.h"
#include "cockpit/cockpits.h"
#include "cockpit/controlmatrix.h"
#include "program/gameloop.h"
#include "program/main.h"
#include "scene/records.h"
#include "script/tasks.h"
#include "space/objects.h"
#include "space/queries.h"
#include "system/clock.h"
#include "system/input.h"
#include "system/window.h"

SteeringState g_SteeringState;
uint8_t g_STSPressed[STS_STEERING_CODES];
int32_t g_STSPressTime[STS_KEYS];
int32_t g_STSButtonHold[STS_JOY_BUTTONS];

namespace {

constexpr int32_t kStoryObject = 2100;
constexpr int32_t kFixOne = QEL_FIX_ONE;

// Reported codes and the flags added to them.
constexpr int32_t kModifier = 0x1000;
constexpr int32_t kShortPress = 0x2000;
constexpr int32_t kLongPress = 0x4000;
constexpr int32_t kLongPressMs = 500;
constexpr int32_t kMouseButtonBase = 280;
constexpr int32_t kMouseButtons = 8;
constexpr int32_t kJoyButtonBase = 296;
constexpr int32_t kWheelUp = 294;
constexpr int32_t kWheelDown = 295;
constexpr int32_t kUnreportedKeys[] = {413, 414};
struct HatCode {
    int32_t angle, code;
};
constexpr HatCode kHatCodes[] = {{0, 320},     {18000, 321}, {27000, 322}, {9000, 323},
                                 {31500, 324}, {4500, 325},  {22500, 326}, {13500, 327}};

// Steering codes.
constexpr int32_t kTurn2Plus = 524, kTurn2Minus = 525;
constexpr int32_t kTurn1Plus = 526, kTurn1Minus = 527;
constexpr int32_t kTurn3Plus = 528, kTurn3Minus = 529;
constexpr int32_t kSpeedUp = 531, kSpeedDown = 532;
constexpr int32_t kFullSpeed = 534;
constexpr int32_t kStrafe1Plus = 540, kStrafe1Minus = 541;
constexpr int32_t kStrafe2Plus = 542, kStrafe2Minus = 543;
constexpr int32_t kStop = 544;
constexpr int32_t kAction = 560;
// Codes whose press cancels the autopilot.
constexpr int32_t kManualCodes[] = {524, 525, 526, 527, 528, 529, 531, 532, 540, 541, 542, 543, 544};

// Input codes of the control matrix.
constexpr int32_t kStickX = 256, kStickY = 257, kSecondX = 258, kSecondY = 259, kTwist = 260, kLever = 261;
constexpr int32_t kMouseX = 512, kMouseY = 513;

// Steering actions (the values of the control matrix).
enum : int32_t {
    kTurn1 = 1,
    kTurn2,
    kTurn3,
    kTurret1,
    kTurret2,
    kStrafe1,
    kStrafe2,
    kSpeed,
    kGestureX,
    kGestureY,
    kMouseSum1,
    kMouseSum2
};

constexpr uint32_t kInvertTurn1Axis = 0x20;
constexpr uint32_t kInvertTurn2 = 0x80;
constexpr uint32_t kInvertMouseY = 0x800000;
constexpr uint32_t kFlags2SecondX = 0x4;
constexpr uint32_t kFlags2SecondY = 0x10;
constexpr uint32_t kSecondStick = INPUT_JOYSTICK2 | INPUT_THROTTLE_ANALOG;
constexpr uint32_t kButton10 = 0x400, kButton11 = 0x800;
constexpr uint32_t kModeNoManual = 0x2, kModeNoManualWithModifier = 0x1;

// The lever counts as moved past 1/64 of its range (-65535..65535).
constexpr int32_t kLeverMove = 2 * 65535 / 64;
constexpr int32_t kReverseSpeed = -5000;
constexpr int32_t kSpeedChange = 250;
constexpr int32_t kRotationChange = 327;
constexpr int32_t kTurretAngleChange = 1310;
constexpr int64_t kTurretRate = 37355520;  // 570.0 a second
constexpr int32_t kStrafeRate = 20000;
constexpr int32_t kGestureKeyX = 15, kGestureKeyY = 12;
constexpr int32_t kGestureThreshold = 0x4000;
constexpr int32_t kGestureCodes[8] = {718, 723, 720, 724, 717, 721, 719, 722};
constexpr uint32_t kRootLevelsRoll = 2, kRootHoldsRoll = 4;

int32_t ClampToInt(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

// Moves current toward target by at most step, never past it.
int32_t Toward(int32_t current, int32_t target, int64_t step) {
    step = std::max<int64_t>(step, 0);
    if (current < target) return ClampToInt(std::min<int64_t>(int64_t{current} + step, target));
    return ClampToInt(std::max<int64_t>(int64_t{current} - step, target));
}

// An axis value of -65535..65535 as a 16.16 fraction of -1.0..1.0.
int32_t AxisFraction(int32_t v) { return ClampToInt(int64_t{v} * kFixOne / 65535); }

// A story function started through the shell's module; its integer answer.
int32_t ShellFunction(const char* name, int32_t code) {
    ProgramState* ps = g_ProgramState;
    if (!ps) return 0;
    P_RunStoryFunction(kStoryObject, name, 1, code);
    return ps->result.tag == VARTYPE_INTEGER ? ps->result.i : 0;
}

// A story function whose answer nobody waits for.
void Notify(const char* name, int32_t argc, int32_t a0 = 0, int32_t a1 = 0) {
    SE_Run(0, 0, kStoryObject, name, 1, argc, a0, a1);
}

struct Frame {
    InputState* in;
    SectorObject* ship;
    int32_t step;  // ms
    bool turret;
    Cockpit* cockpit;  // the active control cockpit

    bool Autopilot() const { return ship->flags & SA_FLAG_AUTOPILOT; }
    bool Pressed(int32_t code) const { return g_STSPressed[code] != 0; }
    int32_t TypeLimit(int32_t channel) const {
        switch (channel) {
            case 0: return SA_GetScaledTypeValue2(ship);
            case 1: return SA_GetScaledTypeValue3(ship);
            default: return SA_GetScaledTypeValue4(ship);
        }
    }
};

SteeringState& S() { return g_SteeringState; }

// One reported code: translated, handed to "Input", its key byte marked when
// it has one; the translation marks its steering code pressed.
void Report(InputState* in, int32_t code, int32_t key) {
    const int32_t translated = ShellFunction("TranslateKey", code);
    if (ShellFunction("Input", code) == -1) g_StopFlag = 1;
    if (key >= 0 && key < STS_KEYS) in->keyDown[key] = 1;
    g_KeyHandled = 1;
    if (translated >= 0 && translated < STS_STEERING_CODES) g_STSPressed[translated] = 1;
}

void ReadButtonsWheelAndHat(InputState* in, int32_t modifier) {
    for (int32_t i = 0; i < STS_JOY_BUTTONS; ++i)
        if (!g_STSButtonHold[i] && (in->joyButtons & (1u << i)))
            Report(in, (kJoyButtonBase + i) | modifier, kJoyButtonBase + i);
    for (int32_t i = 0; i < kMouseButtons; ++i)
        if (in->mouseButtons & (1u << i)) Report(in, (kMouseButtonBase + i) | modifier, kMouseButtonBase + i);
    if (in->mouseDZ > 0) Report(in, kWheelUp | kShortPress | modifier, -1);
    else if (in->mouseDZ < 0) Report(in, kWheelDown | kShortPress | modifier, -1);
    if ((in->flags & INPUT_POV) && (in->flags & INPUT_POV_READ))
        for (const HatCode& h : kHatCodes)
            if (h.angle == in->pov) Report(in, h.code | modifier, h.code);
}

void ReadKeys(InputState* in, int32_t modifier) {
    const int32_t now = g_SystemState ? g_SystemState->realClock : 0;
    for (int32_t key = 0; key < STS_KEYS; ++key) {
        int32_t& pressTime = g_STSPressTime[key];
        if (in->keyDown[key]) {
            const int32_t translated = ShellFunction("TranslateKey", key | modifier);
            if (translated >= 1 && translated < STS_STEERING_CODES && translated != key) g_STSPressed[translated] = 1;
            else if (pressTime == 0) pressTime = now;
            continue;
        }
        if (pressTime == 0 ||
            std::find(std::begin(kUnreportedKeys), std::end(kUnreportedKeys), key) != std::end(kUnreportedKeys))
            continue;
        const int32_t held = S_ClockDiff(now, pressTime);
        const int32_t code = key | (held > kLongPressMs ? kLongPress : kShortPress) | modifier;
        if (ShellFunction("Input", code) == -1) g_StopFlag = 1;
        pressTime = 0;
        g_KeyHandled = 1;
    }
}

void SetRotationTarget(const Frame& fr, int32_t channel, int32_t target, bool changed) {
    if (fr.Autopilot()) return;
    RotationChannel& r = S().rotation[channel];
    r.target = target;
    r.latched = 1;
    if (changed) r.changed = 1;
}

void SetTurretDrive(int32_t channel, int32_t sign) {
    TurretChannel& t = S().turret[channel];
    if (!t.cockpitId) return;
    t.drive = sign * t.limit;
    t.latched = 1;
}

void SetStrafeTarget(int32_t channel, int32_t sign) {
    StrafeChannel& c = S().strafe[channel];
    c.target = sign * c.maximum;
    if (sign) c.latched = 1;
}

// The size of a speed step this frame.
int32_t SpeedStepSize(const Frame& fr, int32_t maxSpeed) {
    int64_t step = int64_t{maxSpeed} * std::min(fr.step, 100) / 1500;
    if (maxSpeed != 0) step = step * (maxSpeed / 4 + std::llabs(fr.ship->speed)) / maxSpeed;
    return ClampToInt(step);
}

void SpeedStep(const Frame& fr, int32_t direction) {
    if (fr.Autopilot()) return;
    SectorObject* ship = fr.ship;
    const int32_t maxSpeed = O_GetMaxSpeed(ship);
    const int32_t step = SpeedStepSize(fr, maxSpeed);
    SpeedChannel& c = S().speed;
    if (step > kSpeedChange) c.changed = 1;
    c.latched = 1;
    STS_ReleaseLever();
    const int64_t by = std::max(step, 1);
    if (direction > 0) ship->desiredSpeed = ClampToInt(std::min<int64_t>(ship->desiredSpeed + by, maxSpeed));
    else if (direction < 0) ship->desiredSpeed = ClampToInt(std::max<int64_t>(ship->desiredSpeed - by, kReverseSpeed));
    else ship->desiredSpeed = 0;
}

void SpeedAxis(const Frame& fr, int32_t value) {
    if (fr.Autopilot()) return;
    SectorObject* ship = fr.ship;
    const int32_t maxSpeed = O_GetMaxSpeed(ship);
    const int32_t step = SpeedStepSize(fr, maxSpeed);
    if (value == 0) return;
    if (step > kSpeedChange) S().speed.changed = 1;
    STS_ReleaseLever();
    const int64_t desired = int64_t{ship->desiredSpeed} - Qel_FixMul(step, value);
    ship->desiredSpeed = ClampToInt(std::max<int64_t>(std::min<int64_t>(desired, maxSpeed), kReverseSpeed));
}

// The throttle lever sets the desired speed: full speed pushed forward,
// reverse pulled back, stop around the middle.
void SpeedLever(const Frame& fr, int32_t value) {
    if (fr.Autopilot()) return;
    SectorObject* ship = fr.ship;
    int32_t desired = 0;
    if (value > 32767) desired = INS_Interpolate(0, kReverseSpeed, value, 32767, 64225);
    else if (value < 26215) desired = INS_Interpolate(O_GetMaxSpeed(ship), 0, value, -64225, 26215);
    if (std::llabs(int64_t{desired} - ship->desiredSpeed) > kSpeedChange) S().speed.changed = 1;
    ship->desiredSpeed = desired;
}

void Boost(const Frame& fr) {
    if (fr.Autopilot()) return;
    SectorObject* ship = fr.ship;
    STS_ReleaseLever();
    const int32_t maxSpeed = O_GetMaxSpeed(ship);
    if (ship->speed < maxSpeed) {
        const int64_t gain = int64_t{SA_GetShipValue18(ship)} * fr.step / 150;
        ship->speed = ClampToInt(
            std::min<int64_t>(ship->speed + std::min<int64_t>(int64_t{maxSpeed} - ship->speed, gain), maxSpeed));
    }
    ship->desiredSpeed = maxSpeed;
    S().speed.boost = 1;
    S().speed.changed = 1;
}

int32_t Action(const Frame& fr, int32_t code) {
    const uint32_t button = (code == kSecondX || code == kSecondY) ? kButton11 : kButton10;
    return STS_GetControlMatrix(code, (fr.in->joyButtons & button) ? 1 : 0, fr.turret ? 1 : 0);
}

void KeyDispatch(const Frame& fr, int32_t code, int32_t d) {
    const uint32_t flags = fr.in->flags;
    const int32_t action = Action(fr, code);
    switch (action) {
        case kTurn1: SetRotationTarget(fr, 0, -d * fr.TypeLimit(0), true); break;
        case kTurn2: SetRotationTarget(fr, 1, (flags & kInvertTurn2 ? -d : d) * fr.TypeLimit(1), false); break;
        case kTurn3: SetRotationTarget(fr, 2, d * fr.TypeLimit(2), false); break;
        case kTurret1:
        case kTurret2: SetTurretDrive(action - kTurret1, d); break;
        case kStrafe1:
        case kStrafe2:
            if (!fr.turret) SetStrafeTarget(action - kStrafe1, d);
            break;
        case kSpeed: SpeedStep(fr, d); break;
        case kGestureX:
        case kGestureY: {
            GestureChannel& g = S().gesture;
            (action == kGestureX ? g.x : g.y) = d * kFixOne;
            g.latched = 1;
            break;
        }
        default: break;
    }
}

void AxisDispatch(const Frame& fr, int32_t code, int32_t raw) {
    const uint32_t flags = fr.in->flags;
    const int32_t v = AxisFraction(raw);
    const int32_t action = Action(fr, code);
    SteeringState& s = S();
    switch (action) {
        case kTurn1:
        case kTurn2:
        case kTurn3: {
            const int32_t channel = action - kTurn1;
            RotationChannel& r = s.rotation[channel];
            if (r.latched || (action == kTurn3 && fr.Autopilot())) break;
            const int32_t sensitivity = ClampToInt(int64_t{S_GetJoystickSensitivity()} * kFixOne / 100);
            const int32_t turn = Qel_FixMul(v, std::min(sensitivity, fr.TypeLimit(channel)));
            if (action == kTurn1) r.target = r.axisTarget = (flags & kInvertTurn1Axis) ? turn : -turn;
            else if (action == kTurn2) r.target = r.axisTarget = (flags & kInvertTurn2) ? -turn : turn;
            else r.target = -turn;
            break;
        }
        case kTurret1:
        case kTurret2: {
            TurretChannel& t = s.turret[action - kTurret1];
            if (t.latched) break;
            const int32_t w = action == kTurret1 ? -v : ((flags & kInvertTurn2) ? -v : v);
            t.drive = Qel_FixMul(t.limit, w);
            break;
        }
        case kStrafe1:
        case kStrafe2: {
            StrafeChannel& c = s.strafe[action - kStrafe1];
            if (fr.turret || c.latched) break;
            const int32_t w = (action == kStrafe2 && (flags & kInvertTurn2)) ? -v : v;
            c.target = Qel_FixMul(c.maximum, w);
            break;
        }
        case kSpeed: SpeedAxis(fr, v); break;
        case kGestureX:
        case kGestureY:
            if (s.gesture.latched) break;
            (action == kGestureX ? s.gesture.x : s.gesture.y) = v;
            s.gesture.axisSeen = 1;
            break;
        default: break;
    }
}

void MouseDispatch(const Frame& fr, int32_t code, int32_t m) {
    const uint32_t flags = fr.in->flags;
    const int32_t action = STS_GetControlMatrix(code, fr.turret ? 1 : 0, 0);
    SteeringState& s = S();
    const int64_t f = fr.step ? fr.step : 1;
    switch (action) {
        case kTurn1:
        case kTurn2:
        case kTurn3: {
            if (m == 0 || fr.Autopilot()) break;
            const int32_t channel = action - kTurn1;
            int64_t turn = int64_t{m} * 32768 / f;
            if (action == kTurn1 || (action == kTurn2 && (flags & kInvertMouseY))) turn = -turn;
            const int64_t limit = std::llabs(fr.TypeLimit(channel));
            turn = std::clamp<int64_t>(std::clamp(turn, -limit, limit), -kFixOne, kFixOne);
            RotationChannel& r = s.rotation[channel];
            r.target = r.axisTarget = static_cast<int32_t>(turn);
            r.latched = 1;
            break;
        }
        case kTurret1:
        case kTurret2: {
            int64_t w = action == kTurret1 ? -int64_t{m} : ((flags & kInvertMouseY) ? -int64_t{m} : m);
            if (w == 0) break;
            TurretChannel& t = s.turret[action - kTurret1];
            const int64_t limit = std::llabs(t.limit);
            w = std::clamp<int64_t>(std::clamp(w * 32768 / f, -limit, limit), -32768, 32768);
            t.drive = static_cast<int32_t>(w);
            break;
        }
        case kGestureX:
            if (std::abs(m) >= kGestureKeyX) {
                s.gesture.x = m > 0 ? kFixOne : -kFixOne;
                s.gesture.latched = 1;
            }
            break;
        case kGestureY: {
            const int32_t w = (flags & kInvertMouseY) ? -m : m;
            if (std::abs(w) >= kGestureKeyY) {
                s.gesture.y = -w > 0 ? kFixOne : -kFixOne;
                s.gesture.latched = 1;
            }
            break;
        }
        case kMouseSum1: s.mouseSums[0] += m; break;
        case kMouseSum2: s.mouseSums[1] += m; break;
        default: break;
    }
}

void SetUpChannels(Frame& fr) {
    SteeringState& s = S();
    SectorObject* ship = fr.ship;
    for (int32_t c = 0; c < 3; ++c) {
        RotationChannel& r = s.rotation[c];
        r.changed = 0;
        r.current = ship->rotSpeed[c];
        r.latched = 0;
        r.target = 0;
        r.frameWord = 1;
    }
    for (TurretChannel& t : s.turret) t.changed = 0;
    s.speed.changed = 0;
    s.gesture.changed = 0;

    // Strafing: the ship's strafe velocity along its x axis (negated) and its y axis.
    const QelMatrix* m = ship->instance ? &ship->instance->matrix : nullptr;
    for (int32_t c = 0; c < 2; ++c) {
        StrafeChannel& sc = s.strafe[c];
        sc.changed = 0;
        int64_t projection = 0;
        if (m)
            for (int i = 0; i < 3; ++i) projection += Qel_FixMul(ship->flight[i], m->m[c * 4 + i]);
        if (c == 0) projection = -projection;
        sc.maximum = O_GetMaxStrafeSpeed(ship);
        if (sc.maximum == 0) {
            Qel_ErrPrintf("STS_Set() MaxStrafe == 0!\n");
            sc.current = 0;
        } else {
            sc.current = Qel_FixDiv(ClampToInt(projection), sc.maximum);
        }
        sc.target = 0;
        sc.latched = 0;
    }

    // Turrets: the active control cockpit with a cockpit number above 0 looks
    // out of a turret of its ship.
    fr.cockpit = INS_ActiveControlCockpit();
    fr.turret = fr.cockpit && fr.cockpit->cockpitNumber > 0;
    if (fr.turret && fr.cockpit->viewMode == 1) {
        int32_t limits[2] = {0x8000, 0x8000};
        if (!O_GetLaserPosition(ship, fr.cockpit->cockpitNumber, &limits[0], &limits[1]))
            limits[0] = limits[1] = 0x8000;
        const int32_t bounds[2] = {16384, 13107};
        for (int32_t c = 0; c < 2; ++c) {
            TurretChannel& t = s.turret[c];
            t.cockpitId = fr.cockpit->id;
            t.drive = 0;
            t.angleBound = bounds[c];
            t.limit = limits[c];
            t.current = limits[c] ? Qel_FixDiv(fr.cockpit->viewAngleSpeeds[c + 1], limits[c]) : 0;
            t.latched = 0;
            t.lowLimit = limits[c] < 0x1999 ? 1 : 0;
        }
    }
    s.gesture.axisSeen = 0;
    s.gesture.latched = 0;
    s.gesture.word3 = 0;
}

// Under the autopilot the player steers only after pressing a steering key,
// which hands the ship back to him.
bool ManualSteering(const Frame& fr, int32_t modifier) {
    const uint32_t mask = g_SystemState ? g_SystemState->inputModeMask : 0;
    if (fr.turret || (mask & kModeNoManual) || ((mask & kModeNoManualWithModifier) && modifier)) return false;
    if (!fr.Autopilot()) return true;
    if (std::none_of(std::begin(kManualCodes), std::end(kManualCodes), [&](int32_t c) { return fr.Pressed(c); }))
        return false;
    Notify("SetAutopilot", 2, 1, 0);
    fr.ship->flags &= ~SA_FLAG_AUTOPILOT;
    return true;
}

void SteeringKeys(const Frame& fr) {
    const uint32_t flags = fr.in->flags;
    // Of two keys of a pair held together, one wins.
    auto pair = [&](int32_t plus, int32_t minus, bool firstWins) {
        const bool p = fr.Pressed(plus), n = fr.Pressed(minus);
        if (p && n) return firstWins ? 1 : -1;
        return p ? 1 : n ? -1 : 0;
    };
    const int32_t turn2 = pair(kTurn2Plus, kTurn2Minus, true);
    const int32_t turn1 = pair(kTurn1Plus, kTurn1Minus, false);
    if (fr.turret) {
        if (turn2) SetTurretDrive(1, turn2);
        if (turn1) SetTurretDrive(0, turn1);
        return;
    }
    if (const int32_t d = pair(kStrafe2Plus, kStrafe2Minus, true)) SetStrafeTarget(1, d);
    if (const int32_t d = pair(kStrafe1Plus, kStrafe1Minus, false)) SetStrafeTarget(0, d);
    if (turn2) SetRotationTarget(fr, 1, (flags & kInvertTurn2 ? -turn2 : turn2) * fr.TypeLimit(1), false);
    if (turn1) SetRotationTarget(fr, 0, turn1 * fr.TypeLimit(0), true);
    if (const int32_t d = pair(kTurn3Plus, kTurn3Minus, true)) SetRotationTarget(fr, 2, d * fr.TypeLimit(2), false);
}

void ReadSticks(const Frame& fr) {
    InputState* in = fr.in;
    const uint32_t flags = in->flags;
    const bool joystick = flags & INPUT_JOYSTICK;
    if (joystick && !(flags & INPUT_STICK_ANALOG) && (flags & INPUT_STICK_DIGITAL)) {
        if (in->joyY == -1) KeyDispatch(fr, kStickY, 1);
        else if (in->joyY == 1) KeyDispatch(fr, kStickY, -1);
        if (in->joyX == 1) KeyDispatch(fr, kStickX, 1);
        else if (in->joyX == -1) KeyDispatch(fr, kStickX, -1);
    }
    SteeringKeys(fr);
    if (joystick && (flags & INPUT_STICK_ANALOG)) {
        AxisDispatch(fr, kStickX, in->joyX);
        AxisDispatch(fr, kStickY, in->joyY);
    }
    if ((flags & kSecondStick) == kSecondStick) {
        if (in->flags2 & kFlags2SecondX) AxisDispatch(fr, kSecondX, in->throttle);
        if (in->flags2 & kFlags2SecondY) AxisDispatch(fr, kSecondY, in->secondY);
    }
    if (flags & INPUT_TWIST) AxisDispatch(fr, kTwist, in->twist);
    if ((flags & INPUT_RUDDER) && (flags & INPUT_RUDDER_RANGED)) {
        SteeringState& s = S();
        if (Action(fr, kLever) != kSpeed) {
            AxisDispatch(fr, kLever, in->rudder);
        } else {
            if (!s.leverDrives && std::llabs(int64_t{in->rudder} - s.leverMark) > kLeverMove) s.leverDrives = 1;
            if (s.leverDrives) SpeedLever(fr, AxisFraction(in->rudder));
        }
    }
}

void SpeedKeys(const Frame& fr) {
    if (fr.Pressed(kSpeedUp)) SpeedStep(fr, 1);
    else if (fr.Pressed(kSpeedDown)) SpeedStep(fr, -1);
    else if (fr.Pressed(kStop)) SpeedStep(fr, 0);
    else if (fr.Pressed(kFullSpeed)) {
        if (ShellFunction("CheckEquipment", 40)) {
            Boost(fr);
        } else {
            STS_ReleaseLever();
            fr.ship->desiredSpeed = O_GetMaxSpeed(fr.ship);
        }
    }
}

void RotationRamps(const Frame& fr) {
    if (fr.Autopilot()) return;
    SectorObject* ship = fr.ship;
    const bool isShip = ship->mainType == SA_MT_SHIP;
    const int64_t sum = isShip ? int64_t{fr.TypeLimit(0)} + fr.TypeLimit(1) + fr.TypeLimit(2) : 0;
    for (int32_t c = 0; c < 3; ++c) {
        RotationChannel& r = S().rotation[c];
        const int64_t factor = c < 2 ? 31129 : 16384;
        const int64_t rate = isShip ? (sum * factor + 32768) >> 16 : 52428;
        const int32_t old = r.current;
        r.current = Toward(r.current, r.target, rate * fr.step / 1000);
        if (std::llabs(int64_t{r.current} - old) > kRotationChange) r.changed = 1;
        if (c < 2) {
            ship->rotSpeed[c] = r.current;
            continue;
        }
        // The roll may be held level: near level only a turn of the roll writes it.
        SpaceRoot* root = g_SpaceRoot;
        if (!root || !(root->game.steering & kRootLevelsRoll)) {
            ship->rotSpeed[2] = r.current;
            continue;
        }
        const int32_t angle = ship->rot[1] & 0xFFFF;
        if (angle >= 8192 && angle <= 57344) {
            ship->rotSpeed[2] = r.current;
        } else if (r.target != 0) {
            ship->rotSpeed[2] = r.current;
            root->game.steering |= static_cast<int32_t>(kRootHoldsRoll);
        } else {
            root->game.steering &= ~static_cast<int32_t>(kRootHoldsRoll);
        }
    }
}

int32_t StrafeStep(StrafeChannel& c, int32_t step) {
    if (c.maximum == 0 || c.target == 0) return 0;
    const int32_t limit = std::abs(Qel_FixDiv(ClampToInt(int64_t{kStrafeRate} * step / 1000), c.maximum));
    const int32_t fraction = std::clamp(Qel_FixDiv(c.target, c.maximum), -limit, limit);
    c.changed = 1;
    return Qel_FixMul(fraction, c.maximum);
}

void StrafeRamp(const Frame& fr) {
    SteeringState& s = S();
    const int32_t a = StrafeStep(s.strafe[1], fr.step);
    const int32_t b = StrafeStep(s.strafe[0], fr.step);
    const Inst3D* inst = fr.ship->instance;
    if (!inst) return;
    const int32_t* m = inst->matrix.m;
    for (int i = 0; i < 3; ++i)
        fr.ship->flight[i] = ClampToInt(int64_t{fr.ship->flight[i]} + Qel_FixMul(-b, m[i]) + Qel_FixMul(a, m[4 + i]));
}

void TurretRamp(const Frame& fr, int32_t channel) {
    TurretChannel& t = S().turret[channel];
    Cockpit* cockpit = INS_TableGet(g_CockpitSystem, t.cockpitId);
    if (!cockpit) return;
    const int32_t target = t.limit ? Qel_FixDiv(t.drive, t.limit) : 0;
    t.current = Toward(t.current, target, kTurretRate * fr.step / 1000);
    const int32_t axis = channel + 1;
    int32_t& speed = cockpit->viewAngleSpeeds[axis];
    speed = Qel_FixMul(t.current, t.limit);
    const int64_t increment = int64_t{speed} * fr.step / 1000;
    if (std::llabs(increment) > kTurretAngleChange) t.changed = 1;
    const int64_t angle = cockpit->viewAngles[axis] + increment;
    const int64_t bounded = std::clamp<int64_t>(angle, -t.angleBound, t.angleBound);
    cockpit->viewAngles[axis] = static_cast<int32_t>(bounded);
    if (bounded != angle) speed = 0;
}

void Ramps(const Frame& fr) {
    RotationRamps(fr);
    StrafeRamp(fr);
    Cockpit* cockpit = fr.cockpit;
    if (fr.turret && cockpit->viewMode == 1) {
        TurretRamp(fr, 0);
        TurretRamp(fr, 1);
        // The view takes the turret's angles at once.
        cockpit->targetViewAngles[1] = cockpit->viewAngles[1];
        cockpit->targetViewAngles[2] = cockpit->viewAngles[2];
        cockpit->viewAngleSpeeds[0] = 0;
        cockpit->viewLock = 1;
    }
    const SectorObject* container = fr.ship->container;
    if (!container || container->mainType != SA_MT_SECTOR)
        for (int32_t& speed : fr.ship->rotSpeed) speed = 0;
}

void Gesture() {
    GestureChannel& g = S().gesture;
    if (!(g.axisSeen || g.latched) || (std::abs(g.x) <= kGestureThreshold && std::abs(g.y) <= kGestureThreshold))
        return;
    const double angle = std::atan2(static_cast<double>(g.y), static_cast<double>(g.x));
    const int32_t sector = static_cast<int32_t>(angle / (2 * std::numbers::pi) * 8 + 8.5) % 8;
    Notify("InputAction", 1, kGestureCodes[sector]);
    g.changed = 1;
}

bool AnyChanged() {
    const SteeringState& s = S();
    bool changed = s.speed.changed || s.gesture.changed;
    for (const RotationChannel& r : s.rotation) changed = changed || r.changed;
    for (const TurretChannel& t : s.turret) changed = changed || t.changed;
    for (const StrafeChannel& c : s.strafe) changed = changed || c.changed;
    return changed;
}

void MouseSums() {
    int32_t* sums = S().mouseSums;
    if (sums[0] || sums[1]) Notify("InputMouseDelta", 2, sums[0], sums[1]);
    sums[0] = sums[1] = 0;
}

}  // namespace

int STS_Set(SectorObject* ship, int32_t enable) {
    static InputState none;
    InputState* in = g_InputState;
    if (!in) {
        none = InputState{};
        in = &none;
    }
    std::fill(std::begin(g_STSPressed), std::end(g_STSPressed), 0);
    const int32_t modifier = in->shiftDown ? kModifier : 0;
    ReadButtonsWheelAndHat(in, modifier);
    ReadKeys(in, modifier);

    SteeringState& s = S();
    if (!ship) {
        for (int32_t code : {kMouseX, kMouseY}) {
            const int32_t m = code == kMouseX ? in->mouseDX : in->mouseDY;
            const int32_t action = STS_GetControlMatrix(code, 0, 0);
            if (action == kMouseSum1) s.mouseSums[0] += m;
            else if (action == kMouseSum2) s.mouseSums[1] += m;
        }
        MouseSums();
        return 1;
    }

    Frame fr{in, ship, g_SystemState ? g_SystemState->gameFrameDelta : 0, false, nullptr};
    SetUpChannels(fr);
    const bool manual = ManualSteering(fr, modifier);
    if (enable) ReadSticks(fr);
    MouseDispatch(fr, kMouseX, in->mouseDX);
    MouseDispatch(fr, kMouseY, in->mouseDY);
    if (enable && manual) SpeedKeys(fr);
    if (enable && fr.Pressed(kAction)) Notify("InputAction", 1, kAction);
    Ramps(fr);
    Gesture();
    if (AnyChanged() && g_SystemState && g_SystemState->gameTimeScale != kFixOne) Notify("StopFastForward", 0);
    MouseSums();
    return 1;
}

void STS_ReleaseLever() {
    g_SteeringState.leverDrives = 0;
    g_SteeringState.leverMark = g_InputState ? g_InputState->rudder : 0;
}

void STS_ForgetCockpit(uint32_t cockpitId) {
    for (TurretChannel& t : g_SteeringState.turret)
        if (t.cockpitId == cockpitId) t.cockpitId = 0;
}

void STS_Reset() {
    g_SteeringState = SteeringState{};
    std::fill(std::begin(g_STSPressed), std::end(g_STSPressed), 0);
    std::fill(std::begin(g_STSPressTime), std::end(g_STSPressTime), 0);
    std::fill(std::begin(g_STSButtonHold), std::end(g_STSButtonHold), 0);
}
