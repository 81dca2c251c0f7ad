// The space module's type queries (engine calls 130 to 229): stories read the
// types database without making an object, and call 228 fills or appends a
// background type. Every call answers at once.
//
// Most calls read one field of one record; they are the templates below,
// named by the field, so that the call table says which field each call
// reads. A bad main type or subtype logs its line (SA_CheckTypeCode) and
// answers the call's default.
#pragma once

#include <cstdint>

#include "space/syscall.h"
#include "space/typesdb.h"

// What a bad type answers where it is not 0.
constexpr int32_t SA_BAD_TYPE_COLOUR = 0x808080;
constexpr int32_t SA_BAD_LASER_RELOAD = 1000;

// A field of a checked record, or `bad` after the check's line.
int32_t SA_CheckedTypeField(int32_t mainType, int32_t subType, int32_t field, int32_t bad);
// Red, green and blue (three fields from `field` on) as red << 16 | green << 8 | blue.
int32_t SA_PackedTypeColour(int32_t mainType, int32_t subType, int32_t field, int32_t bad);

// Main type and subtype are arguments 0 and 1.
template <int32_t Field, int32_t Bad = 0>
int32_t SACall_TypeField(const SA_Call& c) {
    return c.Answer(SA_CheckedTypeField(c.Int(0), c.Int(1), Field, Bad));
}
// The main type is fixed; the subtype is argument 0.
template <int32_t MainType, int32_t Field, int32_t Bad = 0>
int32_t SACall_SubTypeField(const SA_Call& c) {
    return c.Answer(SA_CheckedTypeField(MainType, c.Int(0), Field, Bad));
}
template <int32_t MainType, int32_t Field, int32_t Bad = 0>
int32_t SACall_SubTypeColour(const SA_Call& c) {
    return c.Answer(SA_PackedTypeColour(MainType, c.Int(0), Field, Bad));
}

// The calls that do more than read one field.
int32_t SACall_GetNumSubTypes(const SA_Call& c);                    // 130
int32_t SACall_GetTypeCodeByName(const SA_Call& c);                 // 131
int32_t SACall_GetSubTypeByName(const SA_Call& c);                  // 132
int32_t SACall_GetTypeSubTypeName(const SA_Call& c);                // 134
int32_t SACall_GetTypeMaxSpeed(const SA_Call& c);                   // 135
int32_t SACall_GetTypeAcceleration(const SA_Call& c);               // 136
int32_t SACall_GetTypeMaxHull(const SA_Call& c);                    // 137
int32_t SACall_GetTypeCut(const SA_Call& c);                        // 144
int32_t SACall_GetShipTypePredefinedWareCount(const SA_Call& c);    // 156
int32_t SACall_GetWareListWareCount(const SA_Call& c);              // 157
int32_t SACall_GetTypeShieldPowerGeneration(const SA_Call& c);      // 158
int32_t SACall_GetTypeNumDockPorts(const SA_Call& c);               // 159
int32_t SACall_GetTypeDockBaySize(const SA_Call& c);                // 160
int32_t SACall_GetTypeIsDockingPossibleOf(const SA_Call& c);        // 161
int32_t SACall_GetTypeCanUseDockPort(const SA_Call& c);             // 162
int32_t SACall_GetTypeDockPortAnimFlags(const SA_Call& c);          // 163
int32_t SACall_GetTypeDockPortFlags(const SA_Call& c);              // 164
int32_t SACall_GetShipTypeNumLasersInTurret(const SA_Call& c);      // 167
int32_t SACall_GetShipTypeTurretIDFromCockpitID(const SA_Call& c);  // 171
int32_t SACall_GetShipTypeTurretIDFromLaserPos(const SA_Call& c);   // 172
int32_t SACall_GetShipTypeLaserPosFromTurretID(const SA_Call& c);   // 173
int32_t SACall_GetShipTypeTurretLaserMask(const SA_Call& c);        // 174
int32_t SACall_GetShipTypeCockpitTextID(const SA_Call& c);          // 176
int32_t SACall_GetShipTypeTurretTextID(const SA_Call& c);           // 177
int32_t SACall_GetLaserTypeRange(const SA_Call& c);                 // 189
int32_t SACall_GetLaserTypeShieldDamage(const SA_Call& c);          // 190
int32_t SACall_GetLaserTypeHullDamage(const SA_Call& c);            // 191
int32_t SACall_GetLaserTypeAmmunition(const SA_Call& c);            // 192
int32_t SACall_GetLaserTypeFlyFX(const SA_Call& c);                 // 193
int32_t SACall_GetLaserTypeSpeed(const SA_Call& c);                 // 195
int32_t SACall_GetBulletTypeAmmunition(const SA_Call& c);           // 199
int32_t SACall_GetRocketTypeRange(const SA_Call& c);                // 203
int32_t SACall_GetTypeDefaultRace(const SA_Call& c);                // 207
int32_t SACall_GetTypeDensity(const SA_Call& c);                    // 208
int32_t SACall_GetTypeDebrisMapCutID(const SA_Call& c);             // 209
int32_t SACall_MatchType(const SA_Call& c);                         // 210
int32_t SACall_MatchTypeAndRace(const SA_Call& c);                  // 211
int32_t SACall_GetBgTypeBodyFamilyName(const SA_Call& c);           // 214
int32_t SACall_GetBgTypeDustBodyRate(const SA_Call& c);             // 218
int32_t SACall_GetBgTypeNebulaBodyID(const SA_Call& c);             // 226
int32_t SACall_GetBgTypeStarBodyID(const SA_Call& c);               // 227
int32_t SACall_SetBgTypeData(const SA_Call& c);                     // 228
int32_t SACall_BgTypeFromBody(const SA_Call& c);                    // 229
