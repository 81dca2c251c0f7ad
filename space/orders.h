// The order calls (9 to 33) and the autopilot switch (273): they check the
// ship and its partner, fill the ship's order fields and set its course
// type; an accepted order keeps the calling task as the ship's waiting caller
// and does not answer, so the task waits until the behaviour pass ends the
// order (space/behaviour). A refused order answers 0 at once and changes
// nothing. Calls 11 and 21 answer at once; 23 and 24 wait on a turret.
#pragma once

#include <cstdint>

#include "space/records.h"
#include "space/syscall.h"

int32_t SACall_FlyObjectIntoContainer(const SA_Call& c);       // 9
int32_t SACall_FlyObjectBeforeContainer(const SA_Call& c);     // 10
int32_t SACall_IsObjectBeforeContainer(const SA_Call& c);      // 11
int32_t SACall_FlyObjectBeforeContainerPos(const SA_Call& c);  // 12
int32_t SACall_ClearObjectFromHangar(const SA_Call& c);        // 13
int32_t SACall_WarpObjectAway(const SA_Call& c);               // 14
int32_t SACall_AvoidObjectCollision(const SA_Call& c);         // 15
int32_t SACall_CaptureObject(const SA_Call& c);                // 16
int32_t SACall_AttackObject(const SA_Call& c);                 // 17
int32_t SACall_AttackObjectBig(const SA_Call& c);              // 18
int32_t SACall_DefensiveMove(const SA_Call& c);                // 19
int32_t SACall_EscortObject(const SA_Call& c);                 // 20
int32_t SACall_StopObjectTurret(const SA_Call& c);             // 21
int32_t SACall_TurnToObject(const SA_Call& c);                 // 22
int32_t SACall_TurretTurnToObject(const SA_Call& c);           // 23
int32_t SACall_TurretTurnToPosition(const SA_Call& c);         // 24
int32_t SACall_StartInHangar(const SA_Call& c);                // 25
int32_t SACall_Idle(const SA_Call& c);                         // 26
int32_t SACall_FollowObject(const SA_Call& c);                 // 27
int32_t SACall_FollowObjectByCut(const SA_Call& c);            // 28
int32_t SACall_RotateToAngles(const SA_Call& c);               // 29
int32_t SACall_MovePos(const SA_Call& c);                      // 30
int32_t SACall_MovePosContinue(const SA_Call& c);              // 31
int32_t SACall_GlidePos(const SA_Call& c);                     // 32
int32_t SACall_WarpObjectIn(const SA_Call& c);                 // 33
int32_t SACall_SetAutopilot(const SA_Call& c);                 // 273

// The start of a ship in a carrier (call 25): -1 refused, 0 a full gate, 1
// queued (the task waits), 2 done at once. O_StartInHangar (space/hangars);
// tests may put another in its place.
using SA_StartInHangarFn = int32_t (*)(SectorObject* ship, SectorObject* carrier, int32_t port);
extern SA_StartInHangarFn g_SAStartInHangar;

// The course types of the orders.
constexpr int16_t VER_STOP = 0;
constexpr int16_t VER_FLYBEFORE = 4;
constexpr int16_t VER_FLYINTO = 5;
constexpr int16_t VER_ROTATEANDCHECK = 6;
constexpr int16_t VER_WARPAWAY = 8;
constexpr int16_t VER_TURNED = 10;
constexpr int16_t VER_ATTACK = 16;
constexpr int16_t VER_ATTACKBIG = 17;
constexpr int16_t VER_AVOIDCOLLISION = 18;
constexpr int16_t VER_ESCORT = 20;
constexpr int16_t VER_FOLLOW = 21;
constexpr int16_t VER_FOLLOWBYCUT = 22;
constexpr int16_t VER_CAPTURE = 24;
constexpr int16_t VER_MOVEPOS = 25;
constexpr int16_t VER_LAND = 27;
constexpr int16_t VER_IDLE = 29;
constexpr int16_t VER_CLEARHANGAR = 30;
constexpr int16_t VER_ROTATETOANGLES = 31;
constexpr int16_t VER_GLIDEPOS = 32;
constexpr int16_t VER_WARPIN = 33;
constexpr int16_t VER_DEFENSIVEMOVE = 34;
constexpr int16_t VER_MOVEPOSCONTINUE = 35;
constexpr int16_t VER_COLLECTDEBRIS = 36;

// Answer codes of an order's end.
constexpr int32_t SA_ANSWER_DONE = 1;
constexpr int32_t SA_ANSWER_ENDED = 3;
constexpr int32_t SA_ANSWER_TIME = 13;

// The time a warp takes, and how far out along the gate's axis it starts.
constexpr int32_t SA_WARP_MS = 900;
constexpr int32_t SA_WARP_FACTOR = 1665000;  // per (ms left)^2, over 1,000,000
// A roll of 0x80000000 in an angle order leaves the roll as it is.
constexpr int32_t SA_NO_ROLL = INT32_MIN;
