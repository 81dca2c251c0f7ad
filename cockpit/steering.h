// The steering of the player's ship: once a frame the input turns into story
// callbacks (key presses, key translation, gestures, autopilot cancel, the
// end of fast-forward) and into the rotation speeds, desired speed, strafe
// motion and turret view angles of the ship of the active control cockpit.
// Analogue inputs act through the control matrix.
#pragma once

#include <cstdint>

struct SectorObject;

struct RotationChannel {
    int32_t current;  // angle units per second
    int32_t latched;  // a key or a mouse delta set the target this frame: axes leave it alone
    int32_t word;
    int32_t frameWord;  // 1 each frame
    int32_t changed;
    int32_t target;
    int32_t axisTarget;  // the target an axis or a mouse delta set
};

struct TurretChannel {
    int32_t current;  // 16.16 fraction of the limit
    int32_t latched;
    int32_t word;
    int32_t lowLimit;  // 1 while the limit is below 0.1
    int32_t changed;
    // The cockpit of the last turret set-up, by ID (0 before the first): the
    // cockpit may be freed between frames.
    uint32_t cockpitId;
    int32_t drive;       // the target turning speed
    int32_t limit;       // 16.16, the turret's angle limit
    int32_t angleBound;  // 16384 for the first channel, 13107 for the second
};

struct StrafeChannel {
    int32_t current;  // 16.16 fraction of the maximum strafe speed
    int32_t latched;
    int32_t word;
    int32_t word2;
    int32_t changed;
    int32_t target;   // strafe speed
    int32_t maximum;  // O_GetMaxStrafeSpeed
};

struct SpeedChannel {
    int32_t word;
    int32_t latched;
    int32_t word2;
    int32_t word3;
    int32_t changed;
    int32_t boost;  // 1 once the boost path ran
};

struct GestureChannel {
    int32_t word;
    int32_t latched;  // a key or a mouse delta set a direction this frame
    int32_t word2;
    int32_t word3;
    int32_t changed;
    int32_t x, y;      // 16.16, -1.0..1.0
    int32_t axisSeen;  // an axis set x or y this frame
};

struct SteeringState {
    RotationChannel rotation[3];
    TurretChannel turret[2];
    StrafeChannel strafe[2];
    SpeedChannel speed;
    GestureChannel gesture;
    int32_t mouseSums[2];  // actions 11 and 12
    // The throttle lever drives the desired speed while this is set (and the
    // input layer has the rudder axis with its ranges). Keys and other speed
    // inputs clear it; moving the lever away from leverMark sets it again.
    int32_t leverDrives = 1;
    int32_t leverMark;
};
extern SteeringState g_SteeringState;

// Beside it: the steering codes pressed this frame, the press time of each
// key (real time, 0 = not pressed) and a hold word per joystick button (a
// held button is not reported).
constexpr int32_t STS_STEERING_CODES = 1024;
constexpr int32_t STS_KEYS = 512;
constexpr int32_t STS_JOY_BUTTONS = 30;
extern uint8_t g_STSPressed[STS_STEERING_CODES];
extern int32_t g_STSPressTime[STS_KEYS];
extern int32_t g_STSButtonHold[STS_JOY_BUTTONS];

// Steers the ship (or, without one, only reads the keys and the mouse sums)
// from this frame's input; with enable 0 keys, buttons and axes do not steer.
// Returns 1.
int STS_Set(SectorObject* ship, int32_t enable);
// The lever no longer drives the speed until it moves (keys took over).
void STS_ReleaseLever();
// Turret channels that name the cockpit forget it (the cockpit is freed).
void STS_ForgetCockpit(uint32_t cockpitId);
// Everything back to its state at start.
void STS_Reset();
