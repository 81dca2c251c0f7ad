// The calls that find places in a type's cut, aim a turret at a point, find
// and collect the rocks of a debris field and read absolute poses (350 to
// 357). "SA_RotateTurretToPos" (course 31) and "SA_CollectDebris" (course 36)
// are orders: an accepted one keeps the calling task as the ship's waiting
// caller until the behaviour pass ends it; the rest answer at once.
#pragma once

#include <cstdint>

#include "space/syscall.h"

int32_t SACall_FindIndexInCut(const SA_Call& c);               // 350
int32_t SACall_GetTypePosAndDirectionInCut(const SA_Call& c);  // 351
int32_t SACall_GetSubTypeFormCutIndex(const SA_Call& c);       // 352
int32_t SACall_RotateTurretToPos(const SA_Call& c);            // 353
int32_t SACall_FindNearestRockInDebris(const SA_Call& c);      // 354
int32_t SACall_GetAsteroidDensity(const SA_Call& c);           // 355
int32_t SACall_GetAbsPosRot(const SA_Call& c);                 // 356
int32_t SACall_CollectDebris(const SA_Call& c);                // 357

// The asteroid type field that holds its density.
constexpr int32_t SA_TF_ASTEROID_DENSITY = 18;
