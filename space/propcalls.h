// The property calls (34 to 90): one object's type, position, rotation and
// direction, body and cut, size and mass, speeds and their tuning, counts,
// light colours, shield, lasers and hull. Each answers one INTEGER at once
// (42 and 47 an ARRAY), 0 for a missing object (53 and 54: -1); call 69
// answers through the caller module's integer callback.
#pragma once

#include <cstdint>

#include "space/syscall.h"

int32_t SACall_GetMainType(const SA_Call& c);        // 34
int32_t SACall_GetSubType(const SA_Call& c);         // 35
int32_t SACall_GetType(const SA_Call& c);            // 36
int32_t SACall_GetPosX(const SA_Call& c);            // 37
int32_t SACall_GetPosY(const SA_Call& c);            // 38
int32_t SACall_GetPosZ(const SA_Call& c);            // 39
int32_t SACall_SetPos(const SA_Call& c);             // 40
int32_t SACall_SetSafePos(const SA_Call& c);         // 41
int32_t SACall_GetSafePos(const SA_Call& c);         // 42
int32_t SACall_SetRelativePos(const SA_Call& c);     // 43
int32_t SACall_GetRotAlpha(const SA_Call& c);        // 44
int32_t SACall_GetRotBeta(const SA_Call& c);         // 45
int32_t SACall_GetRotGamma(const SA_Call& c);        // 46
int32_t SACall_GetRotationMatrix(const SA_Call& c);  // 47
int32_t SACall_SetRot(const SA_Call& c);             // 48
int32_t SACall_GetDirX(const SA_Call& c);            // 49
int32_t SACall_GetDirY(const SA_Call& c);            // 50
int32_t SACall_GetDirZ(const SA_Call& c);            // 51
int32_t SACall_SetDirection(const SA_Call& c);       // 52
int32_t SACall_GetBody(const SA_Call& c);            // 53
int32_t SACall_GetCompBody(const SA_Call& c);        // 54
int32_t SACall_GetCutID(const SA_Call& c);           // 55
int32_t SACall_GetObjectTextID(const SA_Call& c);    // 56
int32_t SACall_GetSize(const SA_Call& c);            // 57
int32_t SACall_GetTotalSize(const SA_Call& c);       // 58
int32_t SACall_GetMass(const SA_Call& c);            // 59
int32_t SACall_SetMass(const SA_Call& c);            // 60
int32_t SACall_GetSpeed(const SA_Call& c);           // 61
int32_t SACall_GetMaxSpeed(const SA_Call& c);        // 62
int32_t SACall_GetDockingSpeed(const SA_Call& c);    // 63
int32_t SACall_SetSpeed(const SA_Call& c);           // 64
int32_t SACall_GetDesiredSpeed(const SA_Call& c);    // 65
int32_t SACall_SetDesiredSpeed(const SA_Call& c);    // 66
int32_t SACall_SetExtraSpeed(const SA_Call& c);      // 67
int32_t SACall_GetAcceleration(const SA_Call& c);    // 68
int32_t SACall_SetRotSpeed(const SA_Call& c);        // 69
int32_t SACall_SetGlide(const SA_Call& c);           // 70
int32_t SACall_GetStepX(const SA_Call& c);           // 71
int32_t SACall_GetStepY(const SA_Call& c);           // 72
int32_t SACall_GetStepZ(const SA_Call& c);           // 73
int32_t SACall_SetExtraRotSpeed(const SA_Call& c);   // 74
int32_t SACall_GetCount(const SA_Call& c);           // 75
int32_t SACall_SetCount(const SA_Call& c);           // 76
int32_t SACall_SetLight(const SA_Call& c);           // 77
int32_t SACall_GetShield(const SA_Call& c);          // 78
int32_t SACall_GetMaxShield(const SA_Call& c);       // 79
int32_t SACall_SetShield(const SA_Call& c);          // 80
int32_t SACall_SetMaxAvoidShield(const SA_Call& c);  // 81
int32_t SACall_GetLaser(const SA_Call& c);           // 82
int32_t SACall_GetMaxLaser(const SA_Call& c);        // 83
int32_t SACall_GetLaserPosition(const SA_Call& c);   // 84
int32_t SACall_SetLaser(const SA_Call& c);           // 85
int32_t SACall_GetHull(const SA_Call& c);            // 86
int32_t SACall_GetMaxHull(const SA_Call& c);         // 87
int32_t SACall_SetHull(const SA_Call& c);            // 88
int32_t SACall_GetStrength(const SA_Call& c);        // 89
int32_t SACall_GetNumCockpits(const SA_Call& c);     // 90
