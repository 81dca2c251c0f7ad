// The calls of the combat statistics, debug dumps, the stop of an order,
// firing, enemy searches, collision queries, distances, cut scenes and takes
// (230 to 258). All answer at once but "SA_StartTake", whose task waits until
// the scene engine's take of the same id ends (or is stopped or freed).
#pragma once

#include <cstdint>

#include "space/syscall.h"

int32_t SACall_GetLaserFired(const SA_Call& c);                  // 230
int32_t SACall_GetMissileFired(const SA_Call& c);                // 231
int32_t SACall_GetLaserHits(const SA_Call& c);                   // 232
int32_t SACall_GetMissileHits(const SA_Call& c);                 // 233
int32_t SACall_GetTotalDistance(const SA_Call& c);               // 234
int32_t SACall_DumpObject(const SA_Call& c);                     // 235
int32_t SACall_DumpSectorScene(const SA_Call& c);                // 236
int32_t SACall_StopObject(const SA_Call& c);                     // 237
int32_t SACall_ForceMove(const SA_Call& c);                      // 238
int32_t SACall_FireOnObject(const SA_Call& c);                   // 239
int32_t SACall_FireAhead(const SA_Call& c);                      // 240
int32_t SACall_ShootMissileOnObject(const SA_Call& c);           // 241
int32_t SACall_RemoteDetonateMissile(const SA_Call& c);          // 242
int32_t SACall_FindNearestEnemy(const SA_Call& c);               // 243
int32_t SACall_FindNearestEnemyFromPos(const SA_Call& c);        // 244
int32_t SACall_FindNearestEnemyByStrength(const SA_Call& c);     // 245
int32_t SACall_IsTargetInFiringRangeOfTurret(const SA_Call& c);  // 246
int32_t SACall_CollisionObject(const SA_Call& c);                // 247
int32_t SACall_GetCollisionObjects(const SA_Call& c);            // 248
int32_t SACall_Distance(const SA_Call& c);                       // 249
int32_t SACall_LoadCutScene(const SA_Call& c);                   // 250
int32_t SACall_FreeCutScene(const SA_Call& c);                   // 251
int32_t SACall_AllocTake(const SA_Call& c);                      // 252
int32_t SACall_StartTake(const SA_Call& c);                      // 253
int32_t SACall_StopTake(const SA_Call& c);                       // 254
int32_t SACall_FinishTake(const SA_Call& c);                     // 255
int32_t SACall_GetTakeRemainingTime(const SA_Call& c);           // 256
int32_t SACall_FreeTake(const SA_Call& c);                       // 257
int32_t SACall_SetTakeReplaceBody(const SA_Call& c);             // 258

// Object flags the calls set and read.
constexpr uint32_t SA_FLAG_MISSILE_BEHIND_TEST = 0x100;  // missiles may leave backwards
constexpr uint32_t SA_FLAG_COLLIDED = 0x1000;            // "SA_CollisionObject"
