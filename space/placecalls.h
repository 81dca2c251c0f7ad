// Engine calls 305 to 349: objects placed and their placement read as
// script arrays, camera objects, ship speed limits, poses transformed,
// docking (ports, rendezvous points, in-game scenes, decoupling), explosions
// and effects, the story's client flags, videos and the tractor beam. Every
// one answers at once except "SA_DecoupleShips", whose task waits on the ship.
#pragma once

#include <cstdint>

#include "space/records.h"
#include "space/syscall.h"

// The gate's warp-out slots: the first six of its launch slots.
constexpr int32_t SA_WARP_OUT_SLOTS = 6;
// The effect a dummy explosion shows when the type names none.
constexpr int32_t SA_DUMMY_EXPLOSION_EFFECT = 48;
// The body of the spawn point among an object's child instances.
constexpr int32_t SA_SPAWN_BODY = 19030;

// Lets go of the tractor beam the object holds with, and of the one that holds it.
void O_TractorDisconnect(SectorObject* object);
// The rendezvous point of a station's dock port for the ship: the port's
// approach point. 0 when the port or its instance is missing.
int O_GetDockPortRendezvous(SectorObject* station, int32_t port, SectorObject* ship, QelVector* out);
// Puts the object at the position, then, when another object of its sector
// is too close, at a free spot near it.
void O_SetSafePos(SectorObject* object, int32_t x, int32_t y, int32_t z);

int32_t SACall_CreateObjectCutScene(const SA_Call& c);           // 305
int32_t SACall_SetDesiredDistance(const SA_Call& c);             // 306
int32_t SACall_GetDesiredDistance(const SA_Call& c);             // 307
int32_t SACall_SetDestination(const SA_Call& c);                 // 308
int32_t SACall_IsWarpOutSlotAvailable(const SA_Call& c);         // 309
int32_t SACall_SetCameraConnectMode(const SA_Call& c);           // 310
int32_t SACall_SetCameraB3DCamera(const SA_Call& c);             // 311
int32_t SACall_SetSpeedLimit(const SA_Call& c);                  // 312
int32_t SACall_SetMaxSpeedOverride(const SA_Call& c);            // 313
int32_t SACall_SetMaxStrafeSpeedOverride(const SA_Call& c);      // 314
int32_t SACall_SetPosAndDirection(const SA_Call& c);             // 315
int32_t SACall_SetSafePosAndDirection(const SA_Call& c);         // 316
int32_t SACall_GetPosRotAndDirection(const SA_Call& c);          // 317
int32_t SACall_SetPosAndRot(const SA_Call& c);                   // 318
int32_t SACall_SetSafePosAndRot(const SA_Call& c);               // 319
int32_t SACall_GetPosAndRot(const SA_Call& c);                   // 320
int32_t SACall_TransformPosAndRot(const SA_Call& c);             // 321
int32_t SACall_GetRelativePos(const SA_Call& c);                 // 322
int32_t SACall_GetBulletTypeFlyFX(const SA_Call& c);             // 323
int32_t SACall_SetEnemyOfEnabled(const SA_Call& c);              // 324
int32_t SACall_GetMissileAim(const SA_Call& c);                  // 325
int32_t SACall_CreateFactoryConnections(const SA_Call& c);       // 326
int32_t SACall_DecoupleShips(const SA_Call& c);                  // 327
int32_t SACall_StartInGameScene(const SA_Call& c);               // 328
int32_t SACall_StartInGameScene2(const SA_Call& c);              // 329
int32_t SACall_ReloadShipLasers(const SA_Call& c);               // 330
int32_t SACall_SetShipAtDockPort(const SA_Call& c);              // 331
int32_t SACall_StartDockPortAnim(const SA_Call& c);              // 332
int32_t SACall_GetDockPortPosInst(const SA_Call& c);             // 333
int32_t SACall_GetDockPortRendezvousPos(const SA_Call& c);       // 334
int32_t SACall_FindNearestDockPortRendezvous(const SA_Call& c);  // 335
int32_t SACall_SetShipDockPortNr(const SA_Call& c);              // 336
int32_t SACall_RestartObjectCut(const SA_Call& c);               // 337
int32_t SACall_ShowDummyExplosion(const SA_Call& c);             // 338
int32_t SACall_DeleteAllEffects(const SA_Call& c);               // 339
int32_t SACall_SetClientDataFlags(const SA_Call& c);             // 340
int32_t SACall_GetClientDataFlags(const SA_Call& c);             // 341
int32_t SACall_SaveBackgroundTypes(const SA_Call& c);            // 342
int32_t SACall_StartVideo(const SA_Call& c);                     // 343
int32_t SACall_StopVideo(const SA_Call& c);                      // 344
int32_t SACall_PauseVideo(const SA_Call& c);                     // 345
int32_t SACall_FindVideo(const SA_Call& c);                      // 346
int32_t SACall_GetSpawnInst(const SA_Call& c);                   // 347
int32_t SACall_TractorConnect(const SA_Call& c);                 // 348
int32_t SACall_TractorDisconnect(const SA_Call& c);              // 349
