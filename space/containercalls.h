// The container, flag, relation and appearance calls (91 to 129): moves into
// containers and searches of their children, the two flag words, course
// type, relations and groups, the debris and wreck tests and densities, the
// ships' colour modifiers and turn acceleration, nebula and planet-fog values
// and the "Globals" values. Each answers one INTEGER at once; a missing
// object or one of the wrong main type answers 0 and changes nothing.
#pragma once

#include <cstdint>

#include "space/syscall.h"

int32_t SACall_MoveObjectIntoContainer(const SA_Call& c);       // 91
int32_t SACall_MoveLaserIntoContainer(const SA_Call& c);        // 92
int32_t SACall_FindObjectTypeInContainer(const SA_Call& c);     // 93
int32_t SACall_FindObjectSubTypeInContainer(const SA_Call& c);  // 94
int32_t SACall_FindObjectByPathSerial(const SA_Call& c);        // 95
int32_t SACall_FindObjectByPathBody(const SA_Call& c);          // 96
int32_t SACall_FindObjectByPathClass(const SA_Call& c);         // 97
int32_t SACall_SetFlags(const SA_Call& c);                      // 98
int32_t SACall_GetFlags(const SA_Call& c);                      // 99
int32_t SACall_SetFlags2(const SA_Call& c);                     // 100
int32_t SACall_GetFlags2(const SA_Call& c);                     // 101
int32_t SACall_SetRenderLast(const SA_Call& c);                 // 102
int32_t SACall_GetCourseType(const SA_Call& c);                 // 103
int32_t SACall_GetEnvironment(const SA_Call& c);                // 104
int32_t SACall_GetDestination(const SA_Call& c);                // 105
int32_t SACall_IsEnemy(const SA_Call& c);                       // 106
int32_t SACall_GetRelation(const SA_Call& c);                   // 107
int32_t SACall_SetRelation(const SA_Call& c);                   // 108
int32_t SACall_SetGroupRelation(const SA_Call& c);              // 109
int32_t SACall_SetGroup(const SA_Call& c);                      // 110
int32_t SACall_GetGroup(const SA_Call& c);                      // 111
int32_t SACall_TypeCreatesDebris(const SA_Call& c);             // 112
int32_t SACall_SetDebrisDensity(const SA_Call& c);              // 113
int32_t SACall_GetDebrisDensity(const SA_Call& c);              // 114
int32_t SACall_GetTypeWreckType(const SA_Call& c);              // 115
int32_t SACall_TypeCreatesWreck(const SA_Call& c);              // 116
int32_t SACall_SetWreckDensity(const SA_Call& c);               // 117
int32_t SACall_GetWreckDensity(const SA_Call& c);               // 118
int32_t SACall_IsCollectible(const SA_Call& c);                 // 119
int32_t SACall_SetHueModifier(const SA_Call& c);                // 120
int32_t SACall_GetHueModifier(const SA_Call& c);                // 121
int32_t SACall_SetSaturationModifier(const SA_Call& c);         // 122
int32_t SACall_GetSaturationModifier(const SA_Call& c);         // 123
int32_t SACall_SetFactoryConnectionParent(const SA_Call& c);    // 124
int32_t SACall_SetNebulaProperties(const SA_Call& c);           // 125
int32_t SACall_SetPlanetFogParameter(const SA_Call& c);         // 126
int32_t SACall_SetShipRotAccel(const SA_Call& c);               // 127
int32_t SACall_GetShipRotAccel(const SA_Call& c);               // 128
int32_t SACall_GetGlobalParameter(const SA_Call& c);            // 129
