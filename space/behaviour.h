// The behaviour pass: once a frame for the children of each active sector,
// after the collisions. It moves nothing itself; it writes what movement
// integrates (speeds, desired speeds, turn speeds and remaining turn angles,
// target points), carries out each ship's order (its course type) and ends
// orders, answering the waiting task with 1 (done), 3 (ended otherwise) or 13
// (time limit). Then the missile alarm, and the speed pass that brings every
// ship, camera and missile's speed toward its desired speed.
#pragma once

#include <cstdint>

#include "space/records.h"

void VER_UpdateObjects(SectorObject* sector);

// The step of this frame's behaviours: the game step in ms, 0 .. 1000.
int32_t VER_FrameStep();

// What the combat code adds to the passes; empty (or the least form) until it lands.
struct SA_CombatLink {
    void (*recharge)(SectorObject* object);                   // laser and shield recharge
    void (*updateTurrets)(SectorObject* ship, int32_t step);  // the turret step of movement
    void (*positionBeamBullet)(SectorObject* bullet);         // a beam stretched from its gun
    void (*releaseTractor)(SectorObject* object);             // a tractor beam lets go of the object
};
extern SA_CombatLink g_SACombat;

// The game sound's 2D play, for the missile alarm; the program's start-up
// points it at SFX_PlaySound. Without it nothing plays.
using SA_PlaySoundFn = int (*)(int32_t callerModule, int32_t handle, int32_t effectId, int32_t volume);
extern SA_PlaySoundFn g_SAPlaySound;
constexpr int32_t SA_MISSILE_ALARM_SOUND = 24;

// The cockpit status bit of the missile alarm, and the alert level the alarm raises to.
constexpr uint32_t SA_STATUS_MISSILE_ALARM = 4;
constexpr int32_t SA_ALERT_MISSILE = 2;

// The story object of the notifications.
constexpr uint32_t SA_NOTIFY_OBJECT = 2100;
