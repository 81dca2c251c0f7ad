#include "space/flight.h"

#include <cmath>
#include <cstdlib>
#include <initializer_list>

#include "base/general.h"
#include "base/log.h"
#include "base/random.h"
#include "base/table.h"
#include "scene/records.h"
#include "space/cutscene.h"
#include "space/helpers.h"
#include "space/objects.h"
#include "space/queries.h"
#include "space/typesdb.h"
#include "system/clock.h"

namespace {

constexpr int32_t kQuarterTurn = 16384;
constexpr int32_t kArrived = 100;               // nearer than this on every axis: nothing to turn
constexpr int32_t kAlignedForDirect = 65339;    // O_RotateToPoint steers directly from here
constexpr int32_t kApproachOut = 50000;         // a port without approach instance: its point this far out
constexpr int32_t kGateNear = 1332000;          // gates count as near from here
constexpr int32_t kPortCatch = 25000;           // a port catches a ship within its radius plus this
constexpr int32_t kApproachPart = 45875;        // 0.7: a docking ship aims this far toward the approach point
constexpr int32_t kSpaceFreeFactor = 72089;     // 1.1
constexpr int32_t kLinearTurnRange = 500;       // the last part of a turn is taken at once
constexpr uint32_t kNoTargetFlag = 0x40000000;  // flag bit 30: never chosen as an enemy

bool InSet(int32_t value, std::initializer_list<int32_t> set) {
    for (int32_t v : set)
        if (v == value) return true;
    return false;
}

bool InSector(const SectorObject* o) { return o && o->container && o->container->mainType == SA_MT_SECTOR; }

int32_t Clamp32(int64_t v) { return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v); }

// The goal's offset from the instance in the instance's own axes (each row
// of the matrix times the offset, rounded).
struct Local {
    int64_t x, y, z;
};
Local ToLocal(const Inst3D* inst, const QelVector* goal) {
    const int64_t d[3] = {int64_t{goal->x} - inst->pos.x, int64_t{goal->y} - inst->pos.y,
                          int64_t{goal->z} - inst->pos.z};
    int64_t out[3];
    for (int r = 0; r < 3; ++r) {
        const int32_t* row = inst->matrix.m + 4 * r;
        out[r] = (d[0] * row[0] + d[1] * row[1] + d[2] * row[2] + 0x8000) >> 16;
    }
    return Local{out[0], out[1], out[2]};
}

// An angle in radians as a 16-bit turn angle, negative ones taken modulo a turn.
int32_t TurnAngle(double radians) {
    double a = radians / (2 * M_PI) * 65536.0;
    if (a < 0) a += 65536.0;
    const auto angle = static_cast<int32_t>(a);
    return angle >= 65536 ? angle - 65536 : angle;
}

bool Arrived(const Local& l) {
    return std::llabs(l.x) < kArrived && std::llabs(l.y) < kArrived && std::llabs(l.z) < kArrived;
}

void SetTurn(SectorObject* ship, int32_t heading, int32_t pitch, int32_t roll) {
    ship->turnLeft[0] = heading;
    ship->turnLeft[1] = pitch;
    ship->turnLeft[2] = roll;
}

int32_t ShipClass(int32_t shipSubType) {
    const TypeRecord* t = SA_GetTypeRecord(SA_MT_SHIP, shipSubType);
    const int32_t c = t ? t->field[SA_TF_CLASS] : 7;
    return c < 0 ? 7 : c;
}

DockPortSlot* Filled(DockPortTable* table, int32_t i) {
    return i >= 0 && i < table->slotCount && table->slots[i].portInstance ? &table->slots[i] : nullptr;
}

uint32_t GroupBit(int32_t group) { return group >= 0 && group < 32 ? 1u << group : 0u; }

template <typename Fn>
void ForEachOther(SectorObject* object, Fn fn) {
    for (SectorObject* c = SA_ListFirst(O_GetChildList(object->container)); c; c = SA_ListNext(c))
        if (c != object && c->instance && !(c->flags & SA_FLAG_KILLED))
            if (!fn(c)) return;
}

SectorObject* NearestEnemy(SectorObject* object, SectorObject* excluded, int32_t range, bool byStrength, int32_t low,
                           int32_t high, const QelVector* from = nullptr) {
    if (!object || !object->instance || !InSector(object)) return nullptr;
    const QelVector origin = from ? *from : object->instance->pos;
    SectorObject* best = nullptr;
    int64_t bestDistance = range;
    ForEachOther(object, [&](SectorObject* c) {
        if (c == excluded || (c->flags & kNoTargetFlag) || !SA_IsEnemy(object, c)) return true;
        if (byStrength) {
            const int32_t strength = O_GetStrength(c);
            if (strength <= low || strength >= high) return true;
        }
        const int64_t d = SA_VecDistance(&origin, &c->instance->pos);
        if (d < bestDistance) {
            bestDistance = d;
            best = c;
        }
        return true;
    });
    return best;
}

}  // namespace

// ---------------------------------------------------------------- arguments

int SA_CheckMainType(int32_t mainType) {
    if (mainType >= 0 && mainType < SA_MAIN_TYPE_COUNT) return 1;
    Qel_DPrintf(0, "ERROR: Invalid maintype parameter %d %s\n", mainType, SA_ScriptPosition());
    return 0;
}

int SA_CheckTypeCode(int32_t mainType, int32_t subType) {
    if (!SA_CheckMainType(mainType)) return 0;
    if (subType >= 0 && subType < g_TypeDB.counts[mainType]) return 1;
    Qel_DPrintf(0, "ERROR: Invalid subtype parameter %d/%d %s\n", mainType, subType, SA_ScriptPosition());
    return 0;
}

SA_Take* SA_AllocTakeRecord(SectorObject* sector) {
    SpaceRoot* root = g_SpaceRoot;
    if (!root || !root->takes) return nullptr;
    uint32_t key = Qel_TableGetNextKey(root->takes);
    for (uint32_t tries = 0; tries < 0x7ffffffe && (key == 0 || Qel_TableGet(root->takes, key)); ++tries)
        key = key >= 0x7ffffffe ? 1 : key + 1;
    SA_Take* take = ST_CreateTake(static_cast<int32_t>(key), sector);
    if (take) Qel_TableSetNextKey(root->takes, key >= 0x7ffffffe ? 1 : key + 1);
    return take;
}

SA_Take* SA_FindTakeByID(int32_t id) {
    SA_Take* take = ST_FindTake(id);
    if (!take) Qel_DPrintf(0, "SA_FindTakeByID(%d) %s failed!\n", id, SA_ScriptPosition());
    return take;
}

// ---------------------------------------------------------------- game time

int32_t SA_Now() { return g_SystemState ? g_SystemState->gameClock : 0; }
int32_t SA_TimeAfter(int32_t delay) { return S_ClockAdvance(SA_Now(), delay); }
int SA_TimeReached(int32_t mark) { return S_ClockDiff(SA_Now(), mark) >= 0 ? 1 : 0; }

int32_t SA_RandomDelay(int32_t n) {
    if (n <= 0) {
        Qel_ErrPrintf("Qel_LongRandom: Wrong argument %d\n", n);
        return 0;
    }
    return Qel_Random(n);
}

// ---------------------------------------------------------------- geometry

int32_t O_GetRadius(const SectorObject* object) { return object ? object->size : 0; }

void O_InstWorldPose(const Inst3D* inst, QelVector* pos, QelMatrix* matrix) {
    if (!inst->parent) {
        *pos = inst->pos;
        *matrix = inst->matrix;
        return;
    }
    const Inst3D* p = inst->parent;
    QelVector parentPos;
    QelMatrix parentMatrix;
    O_InstWorldPose(p, &parentPos, &parentMatrix);
    QelVector v;
    Qel_MatMulVec(&parentMatrix, &inst->pos, &v);
    if (!(p->flags & INST_UNSCALED_CHILDREN)) {
        v.x = Qel_FixMul(v.x, p->scale.x);
        v.y = Qel_FixMul(v.y, p->scale.y);
        v.z = Qel_FixMul(v.z, p->scale.z);
    }
    *pos = QelVector{Clamp32(int64_t{parentPos.x} + v.x), Clamp32(int64_t{parentPos.y} + v.y),
                     Clamp32(int64_t{parentPos.z} + v.z), 0};
    if (inst->flags & (INST_OWN_MATRIX | INST_OWN_MATRIX2 | INST_OWN_MATRIX3)) *matrix = inst->matrix;
    else Qel_MatMul(&parentMatrix, &inst->matrix, matrix);
}

QelVector O_UnitDirection(const QelVector* from, const QelVector* to) {
    const int64_t d[3] = {int64_t{to->x} - from->x, int64_t{to->y} - from->y, int64_t{to->z} - from->z};
    const int64_t length = Qel_VecLength64(d[0], d[1], d[2]);
    if (length == 0) return QelVector{};
    return QelVector{static_cast<int32_t>(d[0] * 65536 / length), static_cast<int32_t>(d[1] * 65536 / length),
                     static_cast<int32_t>(d[2] * 65536 / length), 0};
}

int32_t O_GetAlignment(const SectorObject* object, const QelVector* goal) {
    if (!object->instance) return 0;
    const QelVector dir = O_UnitDirection(&object->instance->pos, goal);
    if (dir.x == 0 && dir.y == 0 && dir.z == 0) return 65536;
    const int32_t* f = object->instance->matrix.m + 8;
    return Clamp32((int64_t{f[0]} * dir.x + int64_t{f[1]} * dir.y + int64_t{f[2]} * dir.z) >> 16);
}

QelVector O_LocalToWorld(const QelVector* origin, const QelMatrix* matrix, const QelVector* local, int32_t scale) {
    QelVector turned;
    Qel_MatMulVec(matrix, local, &turned);
    const auto scaled = [scale](int32_t v) { return (int64_t{v} * scale + 0x8000) >> 16; };
    return QelVector{Clamp32(origin->x + scaled(turned.x)), Clamp32(origin->y + scaled(turned.y)),
                     Clamp32(origin->z + scaled(turned.z)), 0};
}

// ---------------------------------------------------------------- dock ports

DockPortSlot* O_GetDockPortEntry(DockPortTable* table, int32_t port, int32_t shipClass) {
    if (!table || !table->slots || table->slotCount <= 0) return nullptr;
    if (port >= 0) return Filled(table, port % table->slotCount);
    const int32_t c = shipClass < 0 ? 7 : shipClass;
    DockPortSlot* slot = nullptr;
    if (InSet(c, {1, 9, 10, 12})) slot = Filled(table, 1);
    else if (InSet(c, {5, 6, 7})) slot = Filled(table, 0) ? Filled(table, 0) : Filled(table, 1);
    for (int32_t i = 0; !slot && i < table->slotCount; ++i) slot = Filled(table, i);
    return slot;
}

DockPortSlot* O_GetShipDockPortInst(int32_t shipSubType, int32_t port, DockPortTable* table) {
    return O_GetDockPortEntry(table, port, ShipClass(shipSubType));
}

DockPortSlot* O_GetContainerPort(int32_t port, SectorObject* container, int32_t shipClass) {
    return O_GetDockPortEntry(O_PortTable(container), port, shipClass);
}

int O_GetPortPoints(const DockPortSlot* slot, QelVector* port, QelVector* approach, QelVector* axis) {
    if (!slot || !slot->portInstance) return 0;
    QelMatrix m;
    O_InstWorldPose(slot->portInstance, port, &m);
    if (slot->approachInstance) {
        QelMatrix unused;
        O_InstWorldPose(slot->approachInstance, approach, &unused);
    } else {
        const QelVector out{0, 0, kApproachOut, 0};
        *approach = O_LocalToWorld(port, &m, &out, 65536);
    }
    *axis = O_UnitDirection(port, approach);
    if (axis->x == 0 && axis->y == 0 && axis->z == 0) *axis = QelVector{m.m[8], m.m[9], m.m[10], 0};
    return 1;
}

QelVector O_PortApproachPoint(const QelVector* port, const QelVector* approach) {
    const auto part = [](int32_t a, int32_t b) { return Clamp32(a + ((int64_t{b} - a) * kApproachPart >> 16)); };
    return QelVector{part(port->x, approach->x), part(port->y, approach->y), part(port->z, approach->z), 0};
}

int O_GetDockGoal(SectorObject* ship, SA_DockGoal* goal) {
    ShipData* data = O_ShipData(ship);
    SectorObject* target = data ? data->OrderTarget : nullptr;
    if (!target) return 0;
    goal->hasPort = 0;
    if (data->PortIndex >= 0) {
        DockPortSlot* slot = O_GetShipDockPortInst(ship->subType, data->PortIndex, O_PortTable(target));
        QelVector approach, axis;
        if (slot && O_GetPortPoints(slot, &goal->port, &approach, &axis)) {
            QelVector unused;
            O_InstWorldPose(slot->portInstance, &unused, &goal->matrix);
            data->OrderPos = goal->port;
            data->PortOffset = O_PortApproachPoint(&goal->port, &approach);
            goal->hasPort = 1;
        }
    }
    if (!goal->hasPort) {
        if (target->instance) goal->matrix = target->instance->matrix;
        else Qel_MatIdentity(&goal->matrix);
    }
    goal->port = data->OrderPos;
    goal->approach = data->PortOffset;
    goal->reach = 2 * SA_VecDistance(&goal->port, &goal->approach) + kPortCatch;
    return 1;
}

void O_CancelDockingTo(SectorObject* container) {
    if (!container || !InSector(container)) return;
    for (SectorObject* c = SA_ListFirst(O_GetChildList(container->container)); c; c = SA_ListNext(c)) {
        ShipData* data = O_ShipData(c);
        if (!data || data->CourseType != 5 || data->OrderTarget != container || !c->instance) continue;
        SA_DockGoal goal;
        if (!O_GetDockGoal(c, &goal) || SA_VecDistance(&c->instance->pos, &goal.port) <= goal.reach) continue;
        data->CourseType = 0;
        data->PortIndex = -1;
        // The task that waits on the order hears that it ended without docking.
        SA_FireObjectCallback(c, 3);
    }
}

// ---------------------------------------------------------------- relations

void SA_SetGroupRelation(SectorObject* object, int32_t group, int32_t relation) {
    RelationWords* words = O_RelationWords(object);
    if (!words) {
        Qel_DPrintf(0, "SA_SetGroupRelation(%d, %d) WRONG MAINTYPE: %d called! %s\n", group, relation, object->mainType,
                    SA_ScriptPosition());
        return;
    }
    const uint32_t bit = GroupBit(group);
    if (relation >= 1 || group == object->group) {
        words->friendMask |= bit;
        words->foeMask &= ~bit;
    } else if (relation == 0) {
        words->friendMask &= ~bit;
        words->foeMask &= ~bit;
    } else {
        words->friendMask &= ~bit;
        words->foeMask |= bit;
    }
}

void O_SetOwnGroupRelation(SectorObject* object, int32_t otherGroup, int32_t relation) {
    SA_SetGroupRelation(object, otherGroup, relation);
}

// ---------------------------------------------------------------- space tests

int O_IsSafePosition(SectorObject* object, int32_t x, int32_t y, int32_t z, int32_t distance) {
    if (!object || !object->instance || !InSector(object)) return 0;
    const QelVector offset{x, y, z, 0};
    const QelVector point = O_LocalToWorld(&object->instance->pos, &object->instance->matrix, &offset, 65536);
    int safe = 1;
    ForEachOther(object, [&](SectorObject* c) {
        if (SA_VecDistance(&c->instance->pos, &point) < distance) safe = 0;
        return safe != 0;
    });
    return safe;
}

int O_IsSpaceFree(SectorObject* object) {
    if (!object || !object->instance || !InSector(object)) return 1;
    int free = 1;
    ForEachOther(object, [&](SectorObject* c) {
        const int64_t reach = (int64_t{O_GetRadius(object)} + O_GetRadius(c)) * kSpaceFreeFactor >> 16;
        if (SA_VecDistance(&c->instance->pos, &object->instance->pos) < reach) free = 0;
        return free != 0;
    });
    return free;
}

int32_t O_GetApproachState(SectorObject* ship, SectorObject* partner, int32_t distance) {
    if (!ship || !partner || !ship->instance || !partner->instance || !(partner->flags & SA_FLAG_HOLDER)) return 0;
    const int32_t radius = O_GetRadius(partner);
    if (partner->mainType == SA_MT_GATE) {
        if (distance <= radius) return 3;
        return distance <= (radius > kGateNear ? radius : kGateNear) ? 1 : 0;
    }
    if (DockPortTable* table = O_PortTable(partner))
        for (int32_t i = 0; table->slots && i < table->slotCount; ++i) {
            QelVector port, approach, axis;
            if (!O_GetPortPoints(&table->slots[i], &port, &approach, &axis)) continue;
            if (SA_VecDistance(&ship->instance->pos, &port) <= int64_t{O_GetRadius(ship)} + kPortCatch) return 2;
        }
    return int64_t{distance} <= 4 * int64_t{radius} ? 1 : 0;
}

void O_GetLaserRange(SectorObject* ship, int32_t* minimum, int32_t* maximum) {
    int32_t lo = 0, hi = 0;
    bool any = false;
    for (SectorObject* c = SA_ListFirst(O_GetChildList(ship)); c; c = SA_ListNext(c)) {
        if (c->mainType != SA_MT_LASER) continue;
        const int32_t reach = Obj_LaserTypeRange(c->subType);
        lo = any && lo < reach ? lo : reach;
        hi = any && hi > reach ? hi : reach;
        any = true;
    }
    if (minimum) *minimum = lo;
    if (maximum) *maximum = hi;
}

SectorObject* O_FindNearestEnemy(SectorObject* object, SectorObject* excluded, int32_t range) {
    return NearestEnemy(object, excluded, range, false, 0, 0);
}

SectorObject* O_FindNearestEnemyOf(SectorObject* object, int32_t range) {
    return NearestEnemy(object, nullptr, range, false, 0, 0);
}

SectorObject* O_FindNearestEnemyByStrength(SectorObject* object, int32_t low, int32_t high, int32_t range) {
    return NearestEnemy(object, nullptr, range, true, low, high);
}

SectorObject* O_FindNearestEnemyFrom(SectorObject* object, const QelVector* from, int32_t range) {
    return NearestEnemy(object, nullptr, range, false, 0, 0, from);
}

int32_t O_GetForwardOffset(const SectorObject* object, const SectorObject* reference) {
    if (!object->instance || !reference->instance) return 0;
    if (Obj_AxisDistance(object, reference) > reference->size) return 0;
    const QelVector& p = object->instance->pos;
    const QelVector& q = reference->instance->pos;
    const int32_t* dir = reference->instance->matrix.m + 8;
    const int64_t d[3] = {int64_t{p.x} - q.x, int64_t{p.y} - q.y, int64_t{p.z} - q.z};
    int64_t sum = 0;
    for (int k = 0; k < 3; ++k) sum += (d[k] * dir[k] + 0x8000) >> 16;
    return Clamp32(sum);
}

// ---------------------------------------------------------------- steering

int64_t O_BrakingDistance(int32_t maxSpeed, int32_t acceleration) {
    if (acceleration <= 0) return 0;
    return int64_t{maxSpeed} * maxSpeed / acceleration;
}

int32_t O_SpeedRamp(int64_t x, int64_t x0, int64_t x1, int32_t y0, int32_t y1) {
    if (x0 == x1) return static_cast<int32_t>((int64_t{y0} + y1) / 2);
    if (x <= x0) return y0;
    if (x >= x1) return y1;
    // The middle plus the slope times the distance from the middle; the
    // products are taken in 128 bits, the result lies between y0 and y1.
    const __int128 slope = static_cast<__int128>(int64_t{y1} - y0) * (2 * x - x0 - x1);
    return static_cast<int32_t>((int64_t{y0} + y1) / 2 + static_cast<int64_t>(slope / (2 * (x1 - x0))));
}

void O_SteerDirect(SectorObject* ship, const QelVector* goal) {
    if (!ship->instance) return;
    const Local l = ToLocal(ship->instance, goal);
    if (Arrived(l)) return SetTurn(ship, 0, 0, 0);
    if (l.x == 0 && l.z == 0) return SetTurn(ship, 0, l.y > 0 ? kQuarterTurn : 65536 - kQuarterTurn, 0);
    const double x = static_cast<double>(l.x), y = static_cast<double>(l.y), z = static_cast<double>(l.z);
    // Heading turns the nose toward -x, pitch toward +y.
    SetTurn(ship, TurnAngle(std::atan2(-x, z)), TurnAngle(std::atan2(y, std::hypot(x, z))), 0);
}

namespace {
// Rolls the goal onto the nearer end of the ship's side axis, or over its top
// (or under it), and turns to it with the heading, or the pitch.
void SteerByRoll(SectorObject* ship, const QelVector* goal, bool overTheTop) {
    if (!ship->instance) return;
    const Local l = ToLocal(ship->instance, goal);
    if (Arrived(l)) return SetTurn(ship, 0, 0, 0);
    const double x = static_cast<double>(l.x), y = static_cast<double>(l.y), z = static_cast<double>(l.z);
    const double rho = std::hypot(x, y);
    const int32_t behind = z > 0 ? 0 : 2 * kQuarterTurn;
    if (rho < 1) return overTheTop ? SetTurn(ship, 0, behind, 0) : SetTurn(ship, behind, 0, 0);
    double roll = std::atan2(y, x) - (overTheTop ? M_PI / 2 : 0);
    if (roll <= -M_PI) roll += 2 * M_PI;
    double side = 1;
    if (roll > M_PI / 2) roll -= M_PI, side = -1;
    else if (roll < -M_PI / 2) roll += M_PI, side = -1;
    // The heading turns the nose toward -x, the pitch toward +y.
    const int32_t turn = TurnAngle(std::atan2((overTheTop ? side : -side) * rho, z));
    if (overTheTop) SetTurn(ship, 0, turn, TurnAngle(roll));
    else SetTurn(ship, turn, 0, TurnAngle(roll));
}
}  // namespace

void O_SteerWeakPitch(SectorObject* ship, const QelVector* goal) { SteerByRoll(ship, goal, false); }
void O_SteerWeakHeading(SectorObject* ship, const QelVector* goal) { SteerByRoll(ship, goal, true); }

int32_t O_ChooseSteerStyle(SectorObject* ship, const QelVector* goal) {
    if (ship->instance) {
        const QelVector& p = ship->instance->pos;
        const bool far = std::llabs(int64_t{goal->x} - p.x) > kArrived ||
                         std::llabs(int64_t{goal->y} - p.y) > kArrived || std::llabs(int64_t{goal->z} - p.z) > kArrived;
        if (far && O_GetAlignment(ship, goal) >= kAlignedForDirect) return SA_STEER_DIRECT;
    }
    const int32_t x = SA_GetScaledTypeValue3(ship);  // pitch
    const int32_t y = SA_GetScaledTypeValue2(ship);  // heading
    const int32_t z = SA_GetScaledTypeValue4(ship);  // roll
    if (x <= y && x <= z) return SA_STEER_WEAK_PITCH;
    if (y <= z) return SA_STEER_WEAK_HEADING;
    return SA_STEER_DIRECT;
}

void O_SteerWithStyle(SectorObject* ship, const QelVector* goal, int32_t style) {
    switch (style) {
        case SA_STEER_WEAK_PITCH: O_SteerWeakPitch(ship, goal); break;
        case SA_STEER_WEAK_HEADING: O_SteerWeakHeading(ship, goal); break;
        default: O_SteerDirect(ship, goal); break;
    }
}

int32_t O_RotateToPoint(SectorObject* ship, const QelVector* goal) {
    const int32_t style = O_ChooseSteerStyle(ship, goal);
    O_SteerWithStyle(ship, goal, style);
    return style;
}

int32_t O_SteerToTarget(int32_t remaining, int32_t speed, int32_t maxSpeed, int32_t acceleration, int32_t stepMs,
                        int32_t* newSpeed) {
    if (remaining == 0) {
        *newSpeed = 0;
        return 0;
    }
    if (stepMs <= 0) {
        *newSpeed = speed;
        return 0;
    }
    const int64_t sign = remaining > 0 ? 1 : -1;
    const int64_t distance = std::llabs(int64_t{remaining});
    const int64_t top = std::llabs(int64_t{maxSpeed});
    const int64_t accel = std::llabs(int64_t{acceleration});
    // The speed from which the acceleration still stops the turn at the goal;
    // near it, the speed that gets there in this step.
    int64_t want = distance <= kLinearTurnRange ? distance * 1000 / stepMs
                                                : static_cast<int64_t>(std::sqrt(2.0 * accel * distance));
    if (want > top) want = top;
    want *= sign;
    int64_t change = accel * stepMs / 1000;
    if (change < 1) change = 1;
    int64_t v = speed;
    v = v < want ? (v + change < want ? v + change : want) : (v - change > want ? v - change : want);
    int64_t turn = v * stepMs / 1000;
    if (turn == 0 && v != 0) turn = v > 0 ? 1 : -1;
    if (turn * sign >= distance) {
        *newSpeed = 0;
        return remaining;
    }
    *newSpeed = Clamp32(v);
    return Clamp32(turn);
}
