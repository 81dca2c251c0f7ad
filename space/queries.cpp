#include "space/queries.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <initializer_list>
#include <cstdlib>
#include <cstring>

#include "base/general.h"
#include "base/log.h"
#include "base/table.h"
#include "scene/records.h"
#include "scene/smallops.h"
#include "script/modules.h"
#include "script/textpages.h"
#include "space/objects.h"

namespace {

const TypeRecord* TypeOf(const SectorObject* o) { return O_GetTypeRecord(o); }

int32_t Field(const SectorObject* o, int32_t n) {
    const TypeRecord* t = TypeOf(o);
    return t ? t->field[n] : 0;
}

int32_t TypeField(int32_t mainType, int32_t subType, int32_t n) {
    const TypeRecord* t = SA_GetTypeRecord(mainType, subType);
    return t ? t->field[n] : 0;
}

bool IsShip(const SectorObject* o) { return o && o->mainType == SA_MT_SHIP; }
bool IsWare(int32_t mainType) { return mainType >= SA_MT_WARE_FIRST && mainType <= SA_MT_WARE_LAST; }

const ShipData* ShipOf(const SectorObject* o) { return O_ShipData(const_cast<SectorObject*>(o)); }

int32_t Clamp32(int64_t v) { return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v); }

bool InSet(int32_t value, std::initializer_list<int32_t> set) {
    for (int32_t v : set)
        if (v == value) return true;
    return false;
}

// A decimal number at the start of a text, as far as it reads; false for no digit.
bool ParseNumber(const char* text, int64_t* out) {
    const char* p = text;
    const bool negative = *p == '-';
    if (negative) ++p;
    if (*p < '0' || *p > '9') return false;
    int64_t v = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        if (v < INT64_MAX / 100) v = v * 10 + (*p - '0');
    *out = negative ? -v : v;
    return true;
}

int32_t FindName(int32_t mainType, const char* name) {
    const TypeDatabase& db = g_TypeDB;
    for (int32_t s = 0; s < db.counts[mainType]; ++s)
        if (db.types[mainType][s].name && std::strcmp(db.types[mainType][s].name, name) == 0) return s;
    return -1;
}

// Group g's bit of a relation mask; groups outside 0..31 have none.
uint32_t GroupBit(int32_t group) { return group >= 0 && group < 32 ? 1u << group : 0u; }

// The shields in a container's child list: the sum of a value of each.
int32_t SumShields(SectorObject* container, bool charge) {
    int64_t sum = 0;
    if (QelList* children = O_GetChildList(container))
        for (SectorObject* c = SA_ListFirst(children); c; c = SA_ListNext(c)) {
            if (c->mainType != SA_MT_SHIELD) continue;
            if (!charge) sum += Field(c, SA_TF_SHIELD_ENERGY);
            else if (c->typeData) sum += static_cast<ShieldData*>(c->typeData)->energy;
        }
    return Clamp32(sum);
}

int32_t AmountOf(const SectorObject* o) { return o->typeData ? *static_cast<const int32_t*>(o->typeData) : 0; }

const int32_t* TurretEntry(int32_t shipSubType, int32_t n) {
    const TypeRecord* t = SA_GetTypeRecord(SA_MT_SHIP, shipSubType);
    if (!t || n < 0 || n >= t->field[SA_TF_SHIP_TURRET_COUNT] || n >= SA_SHIP_MAX_TURRETS) return nullptr;
    return t->field + SA_TF_SHIP_TURRETS + n * SA_TURRET_WORDS;
}

SectorObject* FindChild(SectorObject* container, uint32_t startId, bool (*match)(const SectorObject*, int32_t, int32_t),
                        int32_t a, int32_t b) {
    QelList* children = O_GetChildList(container);
    if (!children) return nullptr;
    bool started = startId == 0;
    for (SectorObject* c = SA_ListFirst(children); c; c = SA_ListNext(c)) {
        if (!started) {
            started = c->id == startId;
            continue;
        }
        if (match(c, a, b)) return c;
    }
    return nullptr;
}

}  // namespace

// ---------------------------------------------------------------- names and codes

int32_t SA_GetSubTypeByName(int32_t mainType, const char* text) {
    if (!text) text = "";
    if (mainType < 0 || mainType >= SA_MAIN_TYPE_COUNT) {
        Qel_DPrintf(0, "SA_GetSubTypeByName(%d, '%s') Invalid maintype\n", mainType, text);
        return 0;
    }
    int64_t n;
    if (ParseNumber(text, &n)) {
        if (n < 0 || n >= g_TypeDB.counts[mainType]) {
            Qel_DPrintf(0, "SA_GetSubTypeByName(%d, '%s') Invalid subtype\n", mainType, text);
            return 0;
        }
        return static_cast<int32_t>(n);
    }
    const int32_t s = FindName(mainType, text);
    if (s < 0) {
        Qel_DPrintf(0, "SA_GetSubTypeByName(%d, '%s') No such subtype name\n", mainType, text);
        return 0;
    }
    return s;
}

int32_t SA_GetTypeCodeByName(const char* text) {
    if (!text) text = "";
    if (*text >= '0' && *text <= '9') {
        int64_t code;
        ParseNumber(text, &code);
        // The main type lies in bits 16 to 23; one above 31 has no table.
        if (code >= 0 && code <= INT32_MAX) {
            const int32_t mainType = static_cast<int32_t>(code >> 16);
            const int32_t subType = static_cast<int32_t>(code & 0xFFFF);
            if (mainType < SA_MAIN_TYPE_COUNT && subType < g_TypeDB.counts[mainType]) return static_cast<int32_t>(code);
        }
    } else if (*text) {
        for (int32_t m = 0; m < SA_MAIN_TYPE_COUNT; ++m) {
            const int32_t s = FindName(m, text);
            if (s >= 0) return SA_TypeCode(m, s);
        }
    }
    Qel_DPrintf(0, "SA_GetTypeCodeByName('%s') Invalid subtype name\n", text);
    return 0;
}

int32_t O_GetTextID(const SectorObject* object) {
    if (object->mainType == SA_MT_SECTOR) return 882;
    if (object->mainType == SA_MT_27) return 0;
    const TypeRecord* t = TypeOf(object);
    if (object->mainType < 0 || object->mainType >= SA_MAIN_TYPE_COUNT || g_TypeDB.counts[object->mainType] <= 0) {
        Qel_DPrintf(0, "O_GetTextID() No text for maintype %d\n", object->mainType);
        return 0;
    }
    return t ? t->field[SA_TF_TEXT_ID] : 0;
}

const char* O_GetTypeName(const SectorObject* object) {
    const int32_t id = Field(object, SA_TF_TEXT_ID);
    return id < 1 ? "=unknown object=" : SB_GetText(17, id);
}

int32_t SA_GetGlobalParameter(int32_t key) {
    for (int32_t i = 0; i < g_TypeDB.globalCount; ++i)
        if (g_TypeDB.globals[i].key == key) return g_TypeDB.globals[i].value;
    return 0;
}

// ---------------------------------------------------------------- type values

int32_t SA_ScaleByTuning(int32_t value, int32_t tuning) {
    return Clamp32((int64_t{value} * (65536 + int64_t{tuning}) + 32768) >> 16);
}

int32_t SA_GetTypeCut(int32_t mainType, int32_t subType) {
    return SA_RecordCut(mainType, SA_GetTypeRecord(mainType, subType));
}

int32_t SA_RecordCut(int32_t mainType, const TypeRecord* t) {
    if (!t) return -1;
    int32_t field;
    switch (mainType) {
        case SA_MT_PLANET: field = SA_TF_PLANET_CUT; break;
        case SA_MT_DOCK:
        case SA_MT_FACTORY: field = SA_TF_STATION_CUT; break;
        case SA_MT_SHIP: field = SA_TF_SHIP_CUT; break;
        case SA_MT_MISSILE: field = SA_TF_MISSILE_CUT; break;
        case SA_MT_ASTEROID:
        case SA_MT_GATE:
        case SA_MT_SPECIAL:
        case SA_MT_DEBRIS:
        case SA_MT_DOCK_WRECK:
        case SA_MT_FACTORY_WRECK:
        case SA_MT_SHIP_WRECK: field = SA_TF_CUT; break;
        default: return -1;
    }
    return t->field[field] ? t->field[field] : -1;
}

namespace {
int32_t ScaledStep(const SectorObject* o, int32_t field) {
    const int32_t v = Field(o, field);
    const ShipData* ship = ShipOf(o);
    return ship && ship->extraRotSpeed ? SA_ScaleByTuning(v, ship->extraRotSpeed) : v;
}
}  // namespace

int32_t SA_GetScaledTypeValue2(const SectorObject* object) { return ScaledStep(object, SA_TF_STEP_Y); }
int32_t SA_GetScaledTypeValue3(const SectorObject* object) { return ScaledStep(object, SA_TF_STEP_X); }
int32_t SA_GetScaledTypeValue4(const SectorObject* object) { return ScaledStep(object, SA_TF_STEP_Z); }

int32_t SA_GetShipValue18(const SectorObject* object) {
    if (const ShipData* ship = ShipOf(object))
        return SA_ScaleByTuning(Field(object, SA_TF_SHIP_ACCELERATION), ship->extraSpeed);
    if (object->mainType == SA_MT_MISSILE) return Field(object, SA_TF_MISSILE_ACCELERATION);
    return 0;
}

int32_t SA_GetTypeSpeed(int32_t mainType, int32_t subType) {
    switch (mainType) {
        case SA_MT_BULLET: return TypeField(mainType, subType, SA_TF_BULLET_SPEED);
        case SA_MT_SHIP: return TypeField(mainType, subType, SA_TF_SHIP_SPEED);
        case SA_MT_MISSILE: return TypeField(mainType, subType, SA_TF_MISSILE_SPEED);
        case SA_MT_CAMERA: return 1000000;
        default: return 0;
    }
}

int32_t SA_GetTunedTypeSpeed(const SectorObject* object) {
    const int32_t speed = SA_GetTypeSpeed(object->mainType, object->subType);
    const ShipData* ship = ShipOf(object);
    return ship ? SA_ScaleByTuning(speed, ship->extraSpeed) : speed;
}

int32_t SA_GetTypeLimit(int32_t mainType, int32_t subType) {
    switch (mainType) {
        case SA_MT_BULLET: return 1;
        case SA_MT_SUN:
        case SA_MT_PLANET: return 10000000;
        case SA_MT_DOCK: return 1500000;
        case SA_MT_FACTORY: {
            int32_t base;
            switch (TypeField(mainType, subType, SA_TF_CLASS)) {
                case 0: base = 4000000; break;
                case 1: base = 1000000; break;
                case 2: base = 450000; break;
                case 3:
                case 6: base = 400000; break;
                case 5: base = 150000; break;
                case 7: base = 500000; break;
                case 8: base = 2000000; break;
                default: base = 200000; break;
            }
            const int64_t scaled = (int64_t{base} * TypeField(mainType, subType, SA_TF_FACTORY_SCALE) + 0x8000) >> 16;
            return scaled < 1 ? 1 : Clamp32(scaled);
        }
        case SA_MT_SHIP: {
            const int32_t hull = TypeField(mainType, subType, SA_TF_SHIP_MAX_HULL);
            return hull >= 1 ? hull : 1;
        }
        case SA_MT_LASER:
        case SA_MT_SHIELD:
        case SA_MT_SPECIAL: return 100;
        case SA_MT_MISSILE: return subType == 17 || subType == 19 ? 25000 : 45;
        case SA_MT_ASTEROID:
        case SA_MT_GATE:
        case SA_MT_DOCK_WRECK:
        case SA_MT_FACTORY_WRECK:
        case SA_MT_SHIP_WRECK: return 500000;
        case SA_MT_DEBRIS: return Clamp32(int64_t{TypeField(mainType, subType, SA_TF_DEBRIS_LEVELS)} * 100);
        default: return IsWare(mainType) ? 100 : 0;
    }
}

int O_IsInvulnerable(const SectorObject* object) { return (object->flags & SA_FLAG_INVULNERABLE) ? 1 : 0; }

int32_t O_GetMaxHull(const SectorObject* object) {
    return O_IsInvulnerable(object) ? 0 : SA_GetTypeLimit(object->mainType, object->subType);
}

int32_t O_GetMaxSpeed(const SectorObject* object) {
    const ShipData* ship = ShipOf(object);
    int64_t speed = ship && ship->maxSpeedOverride >= 0 ? ship->maxSpeedOverride : SA_GetTunedTypeSpeed(object);
    const int64_t m = O_GetMaxHull(object);
    if (!O_IsInvulnerable(object) && m > 0) {
        // Full speed from 90% of the hull up, 30% of it from 10% down, linear between.
        const int64_t hi = m * 90 / 100;
        const int64_t lo = m * 10 / 100;
        const int64_t h = object->hull;
        const int64_t low = speed * 30 / 100;
        if (h <= lo) speed = low;
        else if (h < hi) speed = low + (speed - low) * (h - lo) / (hi - lo);
    }
    if (ship && object->group == 10 && ship->SpeedLimit >= 0 && speed > ship->SpeedLimit) speed = ship->SpeedLimit;
    // Inside a carrier or a station nothing flies faster than 20000.
    if (object->container && object->container->mainType != SA_MT_SECTOR && speed > 20000) speed = 20000;
    return Clamp32(speed);
}

int32_t O_GetDockingSpeed(const SectorObject* object) {
    const int32_t s = O_GetMaxSpeed(object) / 4;
    return s < 20001 ? 20000 : s;
}

int32_t O_GetMaxStrafeSpeed(const SectorObject* object) {
    const ShipData* ship = ShipOf(object);
    if (!ship) return 0;
    if (ship->maxStrafeOverride >= 0) return ship->maxStrafeOverride;
    // "SG_MAXSTRAFEFACTOR_BIGSHIP" (2) for the small classes, "SG_MAXSTRAFEFACTOR_SMALLSHIP" (1) for the rest.
    const int32_t factor = SA_GetGlobalParameter(SA_IsShipClassC(object) ? 2 : 1);
    return Clamp32((int64_t{SA_GetTunedTypeSpeed(object)} * factor + 0x8000) >> 16);
}

int32_t O_GetMaxShield(const SectorObject* object) {
    const int32_t m = object->mainType;
    auto* o = const_cast<SectorObject*>(object);
    switch (m) {
        case SA_MT_BULLET: return Field(object, SA_TF_BULLET_SHIELD_DAMAGE);
        case SA_MT_MISSILE: return Field(object, SA_TF_MISSILE_DAMAGE);
        case SA_MT_SHIELD: return Field(object, SA_TF_SHIELD_ENERGY);
        case SA_MT_SUN:
        case SA_MT_PLANET: return 10000000;
        case SA_MT_ASTEROID:
        case SA_MT_DEBRIS:
        case SA_MT_DOCK_WRECK:
        case SA_MT_FACTORY_WRECK:
        case SA_MT_SHIP_WRECK: return 0;
        case SA_MT_SPECIAL: return object->subType == 3 || object->subType == 4 || object->subType == 28 ? 0 : 100;
        default: break;
    }
    if (m == SA_MT_SHIP || m == SA_MT_SECTOR || m == SA_MT_GATE || (object->flags & SA_FLAG_HOLDER))
        return SumShields(o, false);
    if (m == 16 && object->subType == 0) return Clamp32(int64_t{AmountOf(object)} * 5000);
    if (m == SA_MT_WARE_FIRST) return Clamp32(int64_t{AmountOf(object)} * 500);
    if (IsWare(m) || m == SA_MT_LASER) return Clamp32(int64_t{AmountOf(object)} * 100);
    return 0;
}

int32_t O_GetShield(const SectorObject* object) {
    const int32_t m = object->mainType;
    if (m == SA_MT_SHIP || m == SA_MT_SECTOR || m == SA_MT_GATE || (object->flags & SA_FLAG_HOLDER))
        return SumShields(const_cast<SectorObject*>(object), true);
    if (m == SA_MT_SHIELD) return object->typeData ? static_cast<const ShieldData*>(object->typeData)->energy : 0;
    return O_GetMaxShield(object);
}

void O_SetShield(SectorObject* object, int32_t shield) {
    int64_t left = std::max(shield, 0);
    const int32_t m = object->mainType;
    if (m == SA_MT_SHIELD) {
        if (auto* d = static_cast<ShieldData*>(object->typeData))
            d->energy = Clamp32(std::min<int64_t>(left, std::max(Field(object, SA_TF_SHIELD_ENERGY), 0)));
        return;
    }
    if (!(m == SA_MT_SHIP || m == SA_MT_SECTOR || m == SA_MT_GATE || (object->flags & SA_FLAG_HOLDER))) return;
    // The holder flag may sit on an object that holds no children.
    QelList* children = O_GetChildList(object);
    if (!children) return;
    // The shields fill in list order, each to its own top; what is left over goes nowhere.
    for (SectorObject* c = SA_ListFirst(children); c; c = SA_ListNext(c)) {
        if (c->mainType != SA_MT_SHIELD || !c->typeData) continue;
        const int64_t part = std::min<int64_t>(left, std::max(Field(c, SA_TF_SHIELD_ENERGY), 0));
        static_cast<ShieldData*>(c->typeData)->energy = Clamp32(part);
        left -= part;
    }
}

void O_SetHull(SectorObject* object, int32_t hull) {
    const int32_t top = O_GetMaxHull(object);
    object->hull = std::max(top > 0 ? std::min(hull, top) : hull, 0);
}

int O_IsCollectible(const SectorObject* object) {
    if (!object) return 0;
    if (IsWare(object->mainType) || object->mainType == SA_MT_DEBRIS) return 1;
    return object->mainType == SA_MT_ASTEROID && object->parent && object->parent->mainType == SA_MT_DEBRIS ? 1 : 0;
}

int32_t O_GetStrength(const SectorObject* object) { return Clamp32(int64_t{O_GetShield(object)} + object->hull); }

// ---------------------------------------------------------------- ships

int SA_IsShipClassA(const SectorObject* object) {
    return IsShip(object) && InSet(Field(object, SA_TF_CLASS), {0, 2, 3, 4, 8}) ? 1 : 0;
}
int SA_IsShipClassC(const SectorObject* object) {
    return IsShip(object) && InSet(Field(object, SA_TF_CLASS), {0, 2, 3, 4, 8, 11, 13}) ? 1 : 0;
}
int SA_IsShipClassX(const SectorObject* object) {
    return IsShip(object) && InSet(Field(object, SA_TF_CLASS), {70, 71, 73, 75, 79}) ? 1 : 0;
}
int O_IsSpecialShip(const SectorObject* object) {
    const ShipData* ship = ShipOf(object);
    return ship && ship->CourseType == 27 ? 1 : 0;
}
int32_t SA_GetShipTurretCount(const SectorObject* object) {
    return IsShip(object) ? Field(object, SA_TF_SHIP_TURRET_COUNT) : 0;
}
int32_t SA_GetShipCockpitCount(const SectorObject* object) {
    return IsShip(object) ? Field(object, SA_TF_SHIP_COCKPIT_COUNT) : 0;
}
int32_t SA_GetShipField30(const SectorObject* object) { return IsShip(object) ? Field(object, 30) : 0; }
int32_t SA_GetShipField42(const SectorObject* object) { return IsShip(object) ? Field(object, SA_TF_SHIP_42) : 0; }

int32_t SA_GetShipCockpitKind(const SectorObject* object, int32_t n) {
    const TypeRecord* t = IsShip(object) ? TypeOf(object) : nullptr;
    if (!t || n < 0 || n >= t->field[SA_TF_SHIP_COCKPIT_COUNT] || n >= SA_SHIP_MAX_COCKPITS) return -1;
    return t->field[SA_TF_SHIP_COCKPITS + n * SA_COCKPIT_WORDS];
}

int32_t SA_IsShipTurretFree(const SectorObject* object, int32_t n) {
    const int32_t* e = IsShip(object) ? TurretEntry(object->subType, n) : nullptr;
    return e ? e[3] : 1;
}

int32_t SA_GetShipTurretWord(const SectorObject* object, int32_t n) {
    const int32_t* e = IsShip(object) ? TurretEntry(object->subType, n) : nullptr;
    return e ? e[4] : 0;
}

int32_t SA_GetTurretOfLaser(int32_t shipSubType, int32_t laser) {
    for (int32_t n = 0;; ++n) {
        const int32_t* e = TurretEntry(shipSubType, n);
        if (!e) return -1;
        const int32_t first = e[SA_TURRET_FIRST_LASER];
        if (laser >= first && laser - first < e[SA_TURRET_LASER_COUNT]) return n;
    }
}

SectorObject* O_GetLaserInstance(SectorObject* ship, int32_t n) {
    if (!IsShip(ship) || n < 0 || n >= Field(ship, SA_TF_SHIP_TURRET_COUNT)) return nullptr;
    for (SectorObject* c = SA_ListFirst(O_GetChildList(ship)); c; c = SA_ListNext(c))
        if (c->mainType == SA_MT_LASER && c->typeData && static_cast<LaserData*>(c->typeData)->slot == n) return c;
    return nullptr;
}

int O_GetLaserPosition(SectorObject* ship, int32_t n, int32_t* position, int32_t* turret) {
    int32_t i = 0;
    if (QelList* children = O_GetChildList(ship))
        for (SectorObject* c = SA_ListFirst(children); c; c = SA_ListNext(c)) {
            if (c->mainType != SA_MT_LASER || !c->typeData) continue;
            if (i++ != n) continue;
            const auto* laser = static_cast<const LaserData*>(c->typeData);
            if (position) *position = laser->position;
            if (turret) *turret = laser->slot;
            return 1;
        }
    return 0;
}

void SA_FireTurretCallback(SectorObject* ship, int32_t n, int32_t code) {
    ShipData* data = O_ShipData(ship);
    if (!data || n < 0 || n >= data->turretCount || !data->turrets) return;
    SA_Caller& caller = data->turrets[n].caller;
    if (caller.module) SE_CallerReturnInt(static_cast<int32_t>(caller.module), code, caller.handle);
    caller = SA_Caller{};
}

// ---------------------------------------------------------------- relations

int32_t SA_GetRelation(SectorObject* object, SectorObject* other) {
    if (!object || !other) return 0;
    if (const MissileData* missile = O_MissileData(other))
        if ((other->flags & SA_FLAG_AREA_DAMAGE) && missile->launcher != object && other->group != object->group)
            return -1;
    if (object->flags2 & SA_FLAG2_NEUTRAL) return 0;
    const RelationWords* words = O_RelationWords(object);
    if (!words) return 0;
    const uint32_t bit = GroupBit(other->group);
    if (words->friendMask & bit) return 1;
    if (words->foeMask & bit) return -1;
    return 0;
}

int32_t SA_GetMutualRelation(SectorObject* a, SectorObject* b) {
    const RelationWords* words = O_RelationWords(a);
    if (words && words->enemyOf && SA_GetRelation(b, a) == -1) return -1;
    return SA_GetRelation(a, b);
}

int SA_IsEnemy(SectorObject* a, SectorObject* b) { return SA_GetMutualRelation(a, b) == -1 ? 1 : 0; }

// ---------------------------------------------------------------- side tables

int32_t SA_GetVideoById(int32_t id, SA_VideoRecord* out) {
    for (int32_t i = 0; i < g_TypeDB.videoCount; ++i) {
        const SA_VideoRecord& v = g_TypeDB.videos[i];
        for (int32_t k = 0; k < v.validCount && k < 4; ++k) {
            if (v.ids[k] == 0) continue;
            if (v.ids[k] != id) break;
            if (out) *out = v;
            return i;
        }
    }
    return -1;
}

const DummyRecord* SA_FindDummy(int32_t body, int32_t kind, int32_t* kindOut) {
    for (int32_t k = 0; k < SA_DUMMY_KINDS; ++k) {
        if (kind >= 0 && k != kind) continue;
        const int32_t i = Qel_FindObjectById(g_TypeDB.dummies[k], g_TypeDB.dummyCounts[k], sizeof(DummyRecord), body);
        if (i < 0) continue;
        if (kindOut) *kindOut = k;
        return &g_TypeDB.dummies[k][i];
    }
    return nullptr;
}

int SA_IsSpecialBody(int32_t body, int32_t kind) {
    for (int32_t k = 0; k < SA_SPECIAL_BODY_KINDS; ++k)
        if ((kind < 0 || k == kind) && Qel_WordArrayFind(g_TypeDB.specialBodies[k], body)) return 1;
    return 0;
}

void SA_MarkObjectFlags(Inst3D* inst) {
    constexpr int32_t kFlatKinds[] = {0, 1, 2};  // SBTYPE_2D, SBTYPE_2D2, SBTYPE_2DY
    if (!inst) return;
    for (int32_t k : kFlatKinds)
        if (SA_IsSpecialBody(inst->bodyId, k)) inst->flags |= INST_OWN_MATRIX2;
}

int SA_IsParticleSourceBody(int32_t body) {
    constexpr int32_t kJet = 6, kSmallJet = 12;
    return SA_IsSpecialBody(body, kJet) || SA_IsSpecialBody(body, kSmallJet) ? 1 : 0;
}

const ComponentRecord* SA_FindTypeEntry(int32_t kind, int32_t body) {
    if (kind < 0 || kind >= SA_COMPONENT_KINDS) return nullptr;
    const int32_t i =
        Qel_FindObjectById(g_TypeDB.components[kind], g_TypeDB.componentCounts[kind], sizeof(ComponentRecord), body);
    return i < 0 ? nullptr : &g_TypeDB.components[kind][i];
}

int SA_FindMatch(int32_t typeCodeA, int32_t typeCodeB, int32_t* result) {
    const TypeRecord* a = SA_GetTypeRecord(SA_CodeMainType(typeCodeA), SA_CodeSubType(typeCodeA));
    const TypeRecord* b = SA_GetTypeRecord(SA_CodeMainType(typeCodeB), SA_CodeSubType(typeCodeB));
    if (!a || !b) return 0;
    // A column is a cut when its flag bit is set, else a body.
    auto idOf = [](int32_t typeCode, const TypeRecord* t, bool cut) {
        return cut ? SA_GetTypeCut(SA_CodeMainType(typeCode), SA_CodeSubType(typeCode)) : t->field[SA_TF_BODY];
    };
    for (int32_t i = 0; i < g_TypeDB.matchCount; ++i) {
        const MatchRecord& m = g_TypeDB.matches[i];
        if (m.ids[0] != idOf(typeCodeA, a, m.flags & 1) || m.ids[1] != idOf(typeCodeB, b, m.flags & 2)) continue;
        const int32_t code = (m.flags & 4) ? SA_ObjectTypeFromCut(m.ids[2]) : SA_ObjectTypeFromBody(m.ids[2]);
        if (!code) continue;
        if (result) *result = code;
        return 1;
    }
    return 0;
}

int32_t SA_GetWareListCount(int32_t listId, int32_t typeCode) {
    if (listId < 1 || listId > g_TypeDB.wareListCount) return 0;
    const int32_t* list = g_TypeDB.wareLists[listId - 1];
    int32_t n = 0;
    for (int32_t i = 1; list && i <= list[0]; ++i)
        if (list[i] == typeCode) ++n;
    return n;
}

const DockPortList* SA_GetTypeDockPorts(int32_t mainType, int32_t subType) {
    if (mainType != SA_MT_DOCK && mainType != SA_MT_FACTORY && mainType != SA_MT_SHIP) return nullptr;
    const TypeRecord* t = SA_GetTypeRecord(mainType, subType);
    return t ? t->dockPorts : nullptr;
}

int32_t SA_GetTypeNumDockPorts(int32_t mainType, int32_t subType) {
    const DockPortList* list = SA_GetTypeDockPorts(mainType, subType);
    return list ? list->count : 0;
}

int SA_TypeDockPortBit(int32_t mainType, int32_t subType, int32_t n) {
    const DockPortList* list = SA_GetTypeDockPorts(mainType, subType);
    return list && (list->mask >> (static_cast<uint32_t>(n) & 31u)) & 1u ? 1 : 0;
}

int32_t SA_ObjectTypeFromBody(int32_t body) {
    if (body == 0) return 0;
    for (int32_t m = 0; m < SA_MAIN_TYPE_COUNT; ++m)
        for (int32_t s = 0; s < g_TypeDB.counts[m]; ++s) {
            const int32_t* f = g_TypeDB.types[m][s].field;
            if (f[SA_TF_BODY] == body || f[SA_TF_SECOND_BODY] == body) return SA_TypeCode(m, s);
        }
    return 0;
}

int32_t SA_ObjectTypeFromCut(int32_t cut) {
    if (cut <= 0) return 0;
    for (int32_t m = 0; m < SA_MAIN_TYPE_COUNT; ++m)
        for (int32_t s = 0; s < g_TypeDB.counts[m]; ++s)
            if (SA_GetTypeCut(m, s) == cut) return SA_TypeCode(m, s);
    return 0;
}

int32_t SA_BgBodyKind(int32_t body) {
    for (int32_t s = 0; s < g_TypeDB.counts[SA_MT_BACKGROUND]; ++s) {
        const int32_t* f = g_TypeDB.types[SA_MT_BACKGROUND][s].field;
        for (int32_t i = 0; i < SA_BG_MAX_STARS; ++i)
            if (f[SA_TF_BG_STARS + i] == body && body != 0) return 1;
        for (int32_t i = 0; i < SA_BG_MAX_NEBULAS; ++i)
            if (f[SA_TF_BG_NEBULAS + i] == body && body != 0) return 2;
    }
    return 0;
}

int32_t SA_BgTypeFromBody(int32_t body) {
    if (body == 0) return -1;
    // Stars, nebulas, outer parts and dust parts lie in one run of fields.
    static_assert(SA_TF_BG_NEBULAS == SA_TF_BG_STARS + SA_BG_MAX_STARS + 1 &&
                  SA_TF_BG_OUTERS == SA_TF_BG_NEBULAS + SA_BG_MAX_NEBULAS + 1 &&
                  SA_TF_BG_DUSTS == SA_TF_BG_OUTERS + SA_BG_MAX_OUTERS);
    for (int32_t s = 0; s < g_TypeDB.counts[SA_MT_BACKGROUND]; ++s) {
        const int32_t* f = g_TypeDB.types[SA_MT_BACKGROUND][s].field;
        for (int32_t i = SA_TF_BG_STARS; i < SA_TF_BG_DUSTS + SA_BG_DUSTS; ++i)
            if (f[i] == body && i != SA_TF_BG_NEBULA_COUNT && i != SA_TF_BG_OUTER_COUNT) return s;
    }
    return -1;
}

// ---------------------------------------------------------------- type fields

int32_t SA_GetBulletDamage(int32_t subType) { return TypeField(SA_MT_BULLET, subType, SA_TF_BULLET_SHIELD_DAMAGE); }
int32_t SA_GetMissileDamage(int32_t subType) { return TypeField(SA_MT_MISSILE, subType, SA_TF_MISSILE_DAMAGE); }

int32_t SA_GetShipDamage(const SectorObject* ship) { return IsShip(ship) ? Field(ship, SA_TF_SHIP_DAMAGE) : 0; }

int32_t SA_GetBulletEnergy(int32_t subType) {
    return Clamp32(int64_t{TypeField(SA_MT_BULLET, subType, SA_TF_BULLET_SPEED)} *
                   TypeField(SA_MT_BULLET, subType, SA_TF_BULLET_LIFETIME) / 1000);
}

int32_t SA_GetLaserBulletEnergy(int32_t laserSubType) {
    return SA_GetBulletEnergy(TypeField(SA_MT_LASER, laserSubType, SA_TF_LASER_BULLET_TYPE));
}

int32_t SA_GetShieldPowerGeneration(int32_t mainType, int32_t subType) {
    if (mainType == SA_MT_DOCK || mainType == SA_MT_FACTORY)
        return TypeField(mainType, subType, SA_TF_STATION_SHIELD_POWER);
    if (mainType == SA_MT_SHIP) return TypeField(mainType, subType, SA_TF_SHIP_SHIELD_POWER);
    return 0;
}

int32_t SA_GetWreckMainType(int32_t mainType) {
    switch (mainType) {
        case SA_MT_DOCK: return SA_MT_DOCK_WRECK;
        case SA_MT_FACTORY: return SA_MT_FACTORY_WRECK;
        case SA_MT_SHIP: return SA_MT_SHIP_WRECK;
        default: return -1;
    }
}

// ---------------------------------------------------------------- objects

int32_t SA_GetCount(SectorObject* object) {
    const int32_t m = object->mainType;
    if (m >= SA_MT_LASER && m <= SA_MT_WARE_LAST) return AmountOf(object);
    if (const CameraData* camera = O_CameraData(object)) return camera->amount;
    return 1;
}

void SA_SetCount(SectorObject* object, int32_t count) {
    const int32_t m = object->mainType;
    if (m >= SA_MT_LASER && m <= SA_MT_WARE_LAST && object->typeData) *static_cast<int32_t*>(object->typeData) = count;
    else if (CameraData* camera = O_CameraData(object)) camera->amount = count;
}

void SA_SetDensity(SectorObject* object, int32_t density) {
    if (object->mainType >= SA_MT_DEBRIS && object->mainType <= SA_MT_SHIP_WRECK && object->typeData)
        static_cast<DensityData*>(object->typeData)->density = density < 0 ? 0 : density;
}

int32_t SA_GetDensity(SectorObject* object) {
    if (object->mainType >= SA_MT_DEBRIS && object->mainType <= SA_MT_SHIP_WRECK && object->typeData)
        return static_cast<DensityData*>(object->typeData)->density;
    return 0;
}

int O_IsShipCameraOrMissile(const SectorObject* object) {
    return object->mainType == SA_MT_SHIP || object->mainType == SA_MT_CAMERA || object->mainType == SA_MT_MISSILE ? 1
                                                                                                                   : 0;
}

int O_HasOwnCut(const SectorObject* object) {
    return object->mainType == SA_MT_SHIP || object->mainType == SA_MT_SECTOR || object->mainType == SA_MT_GATE ||
                   (object->flags & SA_FLAG_HOLDER)
               ? 1
               : 0;
}

void O_SetHold(SectorObject* object, int on) {
    if (on) object->flags |= SA_FLAG_PLAYER_CONTROL;
    else object->flags &= ~SA_FLAG_PLAYER_CONTROL;
}

int O_IsHeld(const SectorObject* object) {
    return (object->flags & SA_FLAG_PLAYER_CONTROL) && !(object->flags & SA_FLAG_AUTOPILOT) ? 1 : 0;
}

void SA_ClearObjectVector48(SectorObject* object) {
    for (int32_t& a : object->rot2) a = 0;
}

void SA_FireObjectCallback(SectorObject* object, int32_t code) {
    if (object->callerModule)
        SE_CallerReturnInt(static_cast<int32_t>(object->callerModule), code, object->callerHandle);
    object->callerModule = object->callerHandle = 0;
}

namespace {
bool MatchMainType(const SectorObject* c, int32_t mainType, int32_t) { return c->mainType == mainType; }
bool MatchType(const SectorObject* c, int32_t mainType, int32_t subType) {
    return c->mainType == mainType && c->subType == subType;
}
bool MatchOwnCut(const SectorObject* c, int32_t, int32_t) { return (c->flags & SA_FLAG_HOLDER) != 0; }
// The cut path the child's instance was made for, or null.
const J3D_CutPath* PathOfChild(const SectorObject* c) {
    const Inst3D* inst = c->instance;
    const J3D_Cut* cut = inst && inst->cutId > 0 ? J3D_CutIsLoaded(inst->cutId) : nullptr;
    if (!cut || !cut->paths || inst->pathNr < 0 || inst->pathNr >= cut->pathCount) return nullptr;
    return &cut->paths[inst->pathNr];
}
bool MatchPath(const SectorObject* c, int32_t key, int32_t value) {
    const J3D_CutPath* p = PathOfChild(c);
    if (!p) return false;
    switch (key) {
        case SA_PATH_SERIAL: return p->pathNr == value;
        case SA_PATH_BODY: return p->reference == value;
        default: return p->value1 == value;
    }
}
}  // namespace

SectorObject* SA_FindChildByMainType(SectorObject* container, int32_t mainType, uint32_t startId) {
    return FindChild(container, startId, MatchMainType, mainType, 0);
}

SectorObject* SA_FindChildByType(SectorObject* container, int32_t mainType, int32_t subType, uint32_t startId) {
    return FindChild(container, startId, MatchType, mainType, subType);
}

SectorObject* SA_FindChildByPath(SectorObject* container, int32_t key, int32_t value, uint32_t startId) {
    return FindChild(container, startId, MatchPath, key, value);
}

SectorObject* SA_FindOwnCutChild(SectorObject* container) { return FindChild(container, 0, MatchOwnCut, 0, 0); }

int SA_IsInContainer(SectorObject* container, const SectorObject* object) {
    QelList* children = O_GetChildList(container);
    for (SectorObject* c = children ? SA_ListFirst(children) : nullptr; c; c = SA_ListNext(c))
        if (c == object) return 1;
    return 0;
}

SectorObject* SA_GetReferenceObject() { return g_SpaceRoot ? g_SpaceRoot->game.playerObject : nullptr; }

int SA_IsReferenceObject(const SectorObject* object) { return object && object == SA_GetReferenceObject() ? 1 : 0; }

void SA_SetRunning(SpaceRoot* root) {
    root->started = 1;
    root->running = 1;
    const int32_t kept = root->game.takeReplaceBody;
    root->game = SpaceGameWords{};
    root->game.takeReplaceBody = kept;
}

void SA_CleanUpObjects() {
    if (!g_SpaceRoot) return;
    int32_t killed = 0;
    for (SectorObject* o = SA_ListFirst(&g_SpaceRoot->objects); o; o = SA_ListNext(o)) {
        if (o->mainType == SA_MT_SECTOR || o->container || (o->flags & SA_FLAG_KILLED)) continue;
        o->flags |= SA_FLAG_KILLED;
        ++killed;
    }
    if (killed) Qel_DPrintf(0, "SA_CleanUpObjects() %d orphan objects removed!\n", killed);
}

namespace {
void DumpList(QelList* list, int32_t depth) {
    char format[32];
    std::snprintf(format, sizeof format, "%%%ds #%%d %%s\n", depth);
    for (SectorObject* o = SA_ListFirst(list); o; o = SA_ListNext(o)) {
        Qel_DPrintf(0, format, "", static_cast<int32_t>(o->id), o->name ? o->name : "");
        if (QelList* children = O_GetChildList(o)) DumpList(children, depth + 1);
    }
}
}  // namespace

void SA_DumpObjects() {
    Qel_DPrintf(0, "Unlinked Object Dump:\n");
    if (g_SpaceRoot) DumpList(&g_SpaceRoot->objects, 0);
}

int32_t SA_CountByValue(int32_t value) {
    switch (value) {
        case 2: return 1300;
        case 3: return 780;
        case 4: return 260;
        case 5: return 60;
        case 6: return 30;
        case 7: return 10;
        case 8: return 3;
        case 9: return 1;
        default: return 0;
    }
}

int32_t SA_MulDiv(int32_t a, int32_t b, int32_t c) { return c ? Clamp32(int64_t{a} * b / c) : 0; }

// ---------------------------------------------------------------- distance

int64_t SA_VecDistance(const QelVector* a, const QelVector* b) {
    return Qel_VecLength64(int64_t{b->x} - a->x, int64_t{b->y} - a->y, int64_t{b->z} - a->z);
}

int32_t O_GetDistance(const SectorObject* a, const SectorObject* b) {
    if (!a->instance || !b->instance) return 0;
    return Clamp32(SA_VecDistance(&a->instance->pos, &b->instance->pos));
}
