#include "space/typecalls.h"

#include <cstdio>

#include "base/log.h"
#include "base/strings.h"
#include "script/arrays.h"
#include "script/builtins_args.h"
#include "script/context.h"
#include "script/values.h"
#include "space/flight.h"
#include "space/helpers.h"
#include "space/objects.h"
#include "space/queries.h"

namespace {

constexpr int32_t kBadRocketRange = 1000;
// Bits of a dock port's flags that keep it for one direction.
constexpr uint32_t kPortStartOnly = 262144;
constexpr uint32_t kPortLandOnly = 524288;

const TypeRecord* Checked(int32_t mainType, int32_t subType) {
    return SA_CheckTypeCode(mainType, subType) ? SA_GetTypeRecord(mainType, subType) : nullptr;
}

int32_t AnswerText(const SA_Call& c, const char* text) {
    if (!text) return c.Answer(0);
    if (c.task && g_SEContext) SE_TaskReturnString(c.task, text, g_SEContext);
    return 1;
}

// A ship record (main type 7, subtype argument 0), or null after the check's line.
const TypeRecord* Ship(const SA_Call& c) { return Checked(SA_MT_SHIP, c.Int(0)); }

// Entry n of a ship's cockpit or turret table, or null outside 0..count-1.
const int32_t* Cockpit(const TypeRecord* t, int32_t n) {
    const int32_t count = t->field[SA_TF_SHIP_COCKPIT_COUNT];
    if (n < 0 || n >= count || n >= SA_SHIP_MAX_COCKPITS) return nullptr;
    return t->field + SA_TF_SHIP_COCKPITS + n * SA_COCKPIT_WORDS;
}
const int32_t* Turret(const TypeRecord* t, int32_t n) {
    const int32_t count = t->field[SA_TF_SHIP_TURRET_COUNT];
    if (n < 0 || n >= count || n >= SA_SHIP_MAX_TURRETS) return nullptr;
    return t->field + SA_TF_SHIP_TURRETS + n * SA_TURRET_WORDS;
}

// A word of cockpit or turret entry argument 1 of a ship type; `outside` for
// an entry outside the table, 0 for a bad ship subtype.
int32_t CockpitWord(const SA_Call& c, int32_t word, int32_t outside) {
    const TypeRecord* t = Ship(c);
    if (!t) return c.Answer(0);
    const int32_t* e = Cockpit(t, c.Int(1));
    return c.Answer(e ? e[word] : outside);
}
int32_t TurretWord(const SA_Call& c, int32_t word) {
    const TypeRecord* t = Ship(c);
    const int32_t* e = t ? Turret(t, c.Int(1)) : nullptr;
    return c.Answer(e ? e[word] : 0);
}

// A field of the bullet type of a laser subtype (argument 0); 0 for a bad
// laser and for a laser naming no bullet record.
int32_t LaserBulletField(const SA_Call& c, int32_t field) {
    const TypeRecord* laser = Checked(SA_MT_LASER, c.Int(0));
    const TypeRecord* bullet = laser ? SA_GetTypeRecord(SA_MT_BULLET, laser->field[SA_TF_LASER_BULLET_TYPE]) : nullptr;
    return c.Answer(bullet ? bullet->field[field] : 0);
}

const DockPortEntry* Port(int32_t mainType, int32_t subType, int32_t n) {
    const DockPortList* list = SA_GetTypeDockPorts(mainType, subType);
    return list && list->entries && n >= 0 && n < list->count ? &list->entries[n] : nullptr;
}

// Background body index argument 1 of 226 and 227: 0 to 15, else refused.
int32_t BgBody(const SA_Call& c, int32_t first, const char* name) {
    const TypeRecord* t = Checked(SA_MT_BACKGROUND, c.Int(0));
    if (!t) return c.Answer(0);
    const int32_t index = c.Int(1);
    if (index < 0 || index >= SA_BG_MAX_STARS) {
        Qel_DPrintf(0, "%s(%d, %d) (%s) invalid body index\n", name, c.Int(0), index, SA_ScriptPosition());
        return c.Answer(0);
    }
    return c.Answer(t->field[first + index]);
}

// The match of two types given as 16-bit main types and subtypes.
int32_t Match(const SA_Call& c) {
    const auto mainA = static_cast<int16_t>(c.Int(0)), subA = static_cast<int16_t>(c.Int(1));
    const auto mainB = static_cast<int16_t>(c.Int(2)), subB = static_cast<int16_t>(c.Int(3));
    if (!SA_CheckTypeCode(mainA, subA) || !SA_CheckTypeCode(mainB, subB)) return c.Answer(0);
    int32_t code = 0;
    if (!SA_FindMatch(SA_TypeCode(mainA, subA), SA_TypeCode(mainB, subB), &code)) return c.Answer(0);
    // Each half as a 16-bit signed value, as the story gave them.
    return c.Answer(static_cast<int16_t>(SA_CodeMainType(code)) * 65536 + static_cast<int16_t>(SA_CodeSubType(code)));
}

// The type code of a ware the story names: a main type beyond 16 bits only
// wraps, as the 32-bit code it would be.
int32_t WareCode(const SA_Call& c) {
    return static_cast<int32_t>(static_cast<uint32_t>(c.Int(1)) * 65536u + static_cast<uint32_t>(c.Int(2)));
}

void SplitColour(int32_t packed, int32_t* rgb) {
    rgb[0] = (packed >> 16) & 255;
    rgb[1] = (packed >> 8) & 255;
    rgb[2] = packed & 255;
}

}  // namespace

int32_t SA_CheckedTypeField(int32_t mainType, int32_t subType, int32_t field, int32_t bad) {
    const TypeRecord* t = Checked(mainType, subType);
    return t ? t->field[field] : bad;
}

int32_t SA_PackedTypeColour(int32_t mainType, int32_t subType, int32_t field, int32_t bad) {
    const TypeRecord* t = Checked(mainType, subType);
    if (!t) return bad;
    const int32_t* f = t->field + field;
    return static_cast<int32_t>(static_cast<uint32_t>(f[0]) * 65536u + static_cast<uint32_t>(f[1]) * 256u +
                                static_cast<uint32_t>(f[2]));
}

// ---------------------------------------------------------------- general

int32_t SACall_GetNumSubTypes(const SA_Call& c) {
    const int32_t mainType = c.Int(0);
    return c.Answer(SA_CheckMainType(mainType) ? g_TypeDB.counts[mainType] : 0);
}

int32_t SACall_GetTypeCodeByName(const SA_Call& c) {
    const char* name = SV_GetString(c.Arg(0));
    return c.Answer(name ? SA_GetTypeCodeByName(name) : 0);
}

int32_t SACall_GetSubTypeByName(const SA_Call& c) {
    const char* name = SV_GetString(c.Arg(1));
    return c.Answer(name ? SA_GetSubTypeByName(c.Int(0), name) : 0);
}

int32_t SACall_GetTypeSubTypeName(const SA_Call& c) {
    const TypeRecord* t = Checked(c.Int(0), c.Int(1));
    return AnswerText(c, t ? t->name : nullptr);
}

int32_t SACall_GetTypeMaxSpeed(const SA_Call& c) {
    const int32_t mainType = c.Int(0), subType = c.Int(1);
    return c.Answer(SA_CheckTypeCode(mainType, subType) ? SA_GetTypeSpeed(mainType, subType) : 0);
}

int32_t SACall_GetTypeAcceleration(const SA_Call& c) {
    const int32_t mainType = c.Int(0), subType = c.Int(1);
    const TypeRecord* t = Checked(mainType, subType);
    // Only ships and missiles accelerate; a type has no tuning of its own.
    const bool moves = mainType == SA_MT_SHIP || mainType == SA_MT_MISSILE;
    static_assert(SA_TF_SHIP_ACCELERATION == SA_TF_MISSILE_ACCELERATION);
    return c.Answer(t && moves ? t->field[SA_TF_SHIP_ACCELERATION] : 0);
}

int32_t SACall_GetTypeMaxHull(const SA_Call& c) {
    const int32_t mainType = c.Int(0), subType = c.Int(1);
    return c.Answer(SA_CheckTypeCode(mainType, subType) ? SA_GetTypeLimit(mainType, subType) : 0);
}

int32_t SACall_GetTypeCut(const SA_Call& c) {
    const int32_t mainType = c.Int(0), subType = c.Int(1);
    return c.Answer(SA_CheckTypeCode(mainType, subType) ? SA_GetTypeCut(mainType, subType) : 0);
}

// The types files carry no race and no density of a type: every type
// answers 0, "none".
int32_t SACall_GetTypeDefaultRace(const SA_Call& c) {
    SA_CheckTypeCode(c.Int(0), c.Int(1));
    return c.Answer(0);
}
int32_t SACall_GetTypeDensity(const SA_Call& c) {
    SA_CheckTypeCode(c.Int(0), c.Int(1));
    return c.Answer(0);
}

int32_t SACall_GetTypeDebrisMapCutID(const SA_Call& c) {
    const int32_t mainType = c.Int(0);
    const TypeRecord* t = Checked(mainType, c.Int(1));
    static_assert(SA_TF_ASTEROID_DEBRIS_CUT == SA_TF_DEBRIS_CUT);
    return c.Answer(t && (mainType == SA_MT_ASTEROID || mainType == SA_MT_DEBRIS) ? t->field[SA_TF_DEBRIS_CUT] : 0);
}

int32_t SACall_MatchType(const SA_Call& c) { return Match(c); }
// The Matches table holds no race; the race narrows nothing.
int32_t SACall_MatchTypeAndRace(const SA_Call& c) { return Match(c); }

int32_t SACall_BgTypeFromBody(const SA_Call& c) { return c.Answer(SA_BgTypeFromBody(c.Int(0))); }

// ---------------------------------------------------------------- ships

int32_t SACall_GetShipTypePredefinedWareCount(const SA_Call& c) {
    const TypeRecord* t = Ship(c);
    const int32_t list = t ? t->field[SA_TF_SHIP_WARE_LIST] : 0;
    return c.Answer(list > 0 ? SA_GetWareListCount(list, WareCode(c)) : 0);
}

int32_t SACall_GetWareListWareCount(const SA_Call& c) {
    const int32_t list = c.Int(0);
    return c.Answer(list > 0 ? SA_GetWareListCount(list, WareCode(c)) : 0);
}

int32_t SACall_GetShipTypeNumLasersInTurret(const SA_Call& c) { return TurretWord(c, SA_TURRET_LASER_COUNT); }
int32_t SACall_GetShipTypeTurretIDFromCockpitID(const SA_Call& c) { return CockpitWord(c, SA_COCKPIT_TURRET_ID, -1); }
int32_t SACall_GetShipTypeCockpitTextID(const SA_Call& c) { return CockpitWord(c, SA_COCKPIT_TEXT_ID, 0); }
int32_t SACall_GetShipTypeLaserPosFromTurretID(const SA_Call& c) { return TurretWord(c, SA_TURRET_FIRST_LASER); }
int32_t SACall_GetShipTypeTurretLaserMask(const SA_Call& c) { return TurretWord(c, SA_TURRET_LASER_MASK); }
int32_t SACall_GetShipTypeTurretTextID(const SA_Call& c) { return TurretWord(c, SA_TURRET_TEXT_ID); }

int32_t SACall_GetShipTypeTurretIDFromLaserPos(const SA_Call& c) {
    if (!Ship(c)) return c.Answer(0);
    return c.Answer(SA_GetTurretOfLaser(c.Int(0), c.Int(1)));
}

// ---------------------------------------------------------------- docks and factories

int32_t SACall_GetTypeShieldPowerGeneration(const SA_Call& c) {
    const int32_t mainType = c.Int(0), subType = c.Int(1);
    return c.Answer(SA_CheckTypeCode(mainType, subType) ? SA_GetShieldPowerGeneration(mainType, subType) : 0);
}

int32_t SACall_GetTypeNumDockPorts(const SA_Call& c) {
    const int32_t mainType = c.Int(0), subType = c.Int(1);
    return c.Answer(SA_CheckTypeCode(mainType, subType) ? SA_GetTypeNumDockPorts(mainType, subType) : 0);
}

// The types files give no bay size apart from the ports: a type takes as
// many ships at once as it has dock ports.
int32_t SACall_GetTypeDockBaySize(const SA_Call& c) { return SACall_GetTypeNumDockPorts(c); }

int32_t SACall_GetTypeIsDockingPossibleOf(const SA_Call& c) {
    const int32_t mainType = c.Int(0), subType = c.Int(1);
    return c.Answer(SA_CheckTypeCode(mainType, subType) ? SA_TypeDockPortBit(mainType, subType, c.Int(2)) : 0);
}

// A port takes a ship whose class bit its flags hold; a port kept for
// starts takes no landing (flag true) and one kept for landings no start.
int32_t SACall_GetTypeCanUseDockPort(const SA_Call& c) {
    const int32_t mainType = c.Int(0), subType = c.Int(1);
    if (!SA_CheckTypeCode(mainType, subType)) return c.Answer(0);
    const TypeRecord* ship = Checked(SA_MT_SHIP, c.Int(3));
    const DockPortEntry* port = Port(mainType, subType, c.Int(2));
    if (!ship || !port) return c.Answer(0);
    const auto shipClass = static_cast<uint32_t>(ship->field[SA_TF_CLASS]);
    if (shipClass >= 16 || !((port->flags >> shipClass) & 1u)) return c.Answer(0);
    const uint32_t refused = c.IsTrue(4) ? kPortStartOnly : kPortLandOnly;
    return c.Answer(port->flags & refused ? 0 : 1);
}

int32_t SACall_GetTypeDockPortAnimFlags(const SA_Call& c) {
    const int32_t mainType = c.Int(0), subType = c.Int(1);
    const DockPortEntry* port = SA_CheckTypeCode(mainType, subType) ? Port(mainType, subType, c.Int(2)) : nullptr;
    return c.Answer(port ? static_cast<int32_t>(port->flags) : 0);
}

// Every flag any of the type's ports has.
int32_t SACall_GetTypeDockPortFlags(const SA_Call& c) {
    const int32_t mainType = c.Int(0), subType = c.Int(1);
    const DockPortList* list = SA_CheckTypeCode(mainType, subType) ? SA_GetTypeDockPorts(mainType, subType) : nullptr;
    uint32_t flags = 0;
    for (int32_t i = 0; list && list->entries && i < list->count; ++i) flags |= list->entries[i].flags;
    return c.Answer(static_cast<int32_t>(flags));
}

// ---------------------------------------------------------------- weapons

int32_t SACall_GetLaserTypeRange(const SA_Call& c) {
    return c.Answer(Checked(SA_MT_LASER, c.Int(0)) ? Obj_LaserTypeRange(c.Int(0)) : 0);
}
int32_t SACall_GetLaserTypeSpeed(const SA_Call& c) {
    return c.Answer(Checked(SA_MT_LASER, c.Int(0)) ? Obj_LaserTypeSpeed(c.Int(0)) : 0);
}
int32_t SACall_GetLaserTypeAmmunition(const SA_Call& c) {
    return c.Answer(Checked(SA_MT_LASER, c.Int(0)) ? Obj_LaserTypeAmmunition(c.Int(0)) : 0);
}
int32_t SACall_GetBulletTypeAmmunition(const SA_Call& c) {
    return c.Answer(Checked(SA_MT_BULLET, c.Int(0)) ? Obj_BulletTypeAmmunition(c.Int(0)) : 0);
}
int32_t SACall_GetLaserTypeShieldDamage(const SA_Call& c) { return LaserBulletField(c, SA_TF_BULLET_SHIELD_DAMAGE); }
int32_t SACall_GetLaserTypeHullDamage(const SA_Call& c) { return LaserBulletField(c, SA_TF_BULLET_HULL_DAMAGE); }
int32_t SACall_GetLaserTypeFlyFX(const SA_Call& c) { return LaserBulletField(c, SA_TF_BULLET_TRAIL_EFFECT); }

int32_t SACall_GetRocketTypeRange(const SA_Call& c) {
    const TypeRecord* t = Checked(SA_MT_MISSILE, c.Int(0));
    if (!t) return c.Answer(kBadRocketRange);
    const int64_t range = int64_t{t->field[SA_TF_MISSILE_SPEED]} * t->field[SA_TF_MISSILE_FLIGHT_TIME] / 1000;
    return c.Answer(static_cast<int32_t>(range));
}

// ---------------------------------------------------------------- backgrounds

int32_t SACall_GetBgTypeBodyFamilyName(const SA_Call& c) {
    const TypeRecord* t = Checked(SA_MT_BACKGROUND, c.Int(0));
    return AnswerText(c, t ? t->backgroundName : nullptr);
}

int32_t SACall_GetBgTypeDustBodyRate(const SA_Call& c) {
    const TypeRecord* t = Checked(SA_MT_BACKGROUND, c.Int(0));
    if (!t) return c.Answer(0);
    const int32_t index = c.Int(1);
    if (index < 0 || index >= SA_BG_DUSTS) {
        Qel_DPrintf(0, "SA_GetBgTypeDustBodyRate(%d, %d) (%s) invalid dust body index\n", c.Int(0), index,
                    SA_ScriptPosition());
        return c.Answer(0);
    }
    return c.Answer(t->field[SA_TF_BG_DUST_RATES + index]);
}

int32_t SACall_GetBgTypeNebulaBodyID(const SA_Call& c) {
    return BgBody(c, SA_TF_BG_NEBULAS, "SA_GetBgTypeNebulaBodyID");
}
int32_t SACall_GetBgTypeStarBodyID(const SA_Call& c) { return BgBody(c, SA_TF_BG_STARS, "SA_GetBgTypeStarBodyID"); }

int32_t SACall_SetBgTypeData(const SA_Call& c) {
    const int32_t subType = c.Int(0);
    const int32_t count = g_TypeDB.counts[SA_MT_BACKGROUND];
    const int32_t stars = c.Int(2), nebulas = c.Int(3), outers = c.Int(4);
    // The record holds only so many bodies, and only the next subtype can be made.
    if (subType < 0 || subType > count) {
        Qel_DPrintf(0, "SA_SetBgTypeData(%d) (%s) invalid subtype, %d background types\n", subType, SA_ScriptPosition(),
                    count);
        return c.Answer(0);
    }
    if (stars < 0 || stars > SA_BG_MAX_STARS || nebulas < 0 || nebulas > SA_BG_MAX_NEBULAS || outers < 0 ||
        outers > SA_BG_MAX_OUTERS) {
        Qel_DPrintf(0, "SA_SetBgTypeData(%d) (%s) invalid body counts %d %d %d\n", subType, SA_ScriptPosition(), stars,
                    nebulas, outers);
        return c.Answer(0);
    }
    TypeRecord* t = nullptr;
    if (subType == count) {
        char name[24];
        std::snprintf(name, sizeof name, "SS_BG_%d", subType + 1);
        char* copy = Qel_StrDup(name);
        t = copy ? SA_AppendTypeRecords(SA_MT_BACKGROUND, 1) : nullptr;
        if (!t) {
            Qel_StrFree(copy);
            Qel_DPrintf(0, "SA_SetBgTypeData(%d) (%s) no memory for the type\n", subType, SA_ScriptPosition());
            return c.Answer(0);
        }
        t->name = copy;
    } else {
        t = SA_GetTypeRecord(SA_MT_BACKGROUND, subType);
    }
    int32_t* f = t->field;
    if (const char* family = SV_GetString(c.Arg(1))) t->backgroundName = Qel_StrReassign(t->backgroundName, family);
    f[SA_TF_BG_STAR_COUNT] = stars;
    f[SA_TF_BG_NEBULA_COUNT] = nebulas;
    f[SA_TF_BG_OUTER_COUNT] = outers;
    auto* rates = const_cast<ScriptValue*>(c.Arg(5));
    if (rates->tag == VARTYPE_ARRAY)
        for (int32_t i = 0; i < SA_BG_DUSTS; ++i)
            if (const ScriptValue* v = SV_ArrayRead(rates, i)) f[SA_TF_BG_DUST_RATES + i] = v->i;
    f[SA_TF_BG_DUST_COUNT] = c.Int(6);
    SplitColour(c.Int(7), f + SA_TF_BG_AMBIENT);
    f[SA_TF_BG_HUE] = c.Int(8);
    f[SA_TF_BG_FOG_NEAR] = c.Int(9);
    f[SA_TF_BG_FOG_FAR] = c.Int(10);
    f[SA_TF_BG_STARDUST_DENSITY] = c.Int(11);
    SplitColour(c.Int(12), f + SA_TF_BG_STARDUST_COLOUR);
    SA_BuildBackgroundBodies(t);
    return c.Answer(0);
}
