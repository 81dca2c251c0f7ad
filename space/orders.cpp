#include "space/orders.h"

#include <algorithm>

#include "base/fixmath.h"
#include "base/random.h"
#include "scene/records.h"
#include "script/arrays.h"
#include "script/context.h"
#include "space/flight.h"
#include "space/hangars.h"
#include "space/helpers.h"
#include "space/objects.h"
#include "space/queries.h"

namespace {

constexpr int32_t kDefaultReach = 400000;      // call 22 without its third argument
constexpr int32_t kAvoidMargin = 150000;       // call 15 without a distance: the radius plus this
constexpr int32_t kAttackCircle = 100000;      // the largest offset circle of the attack orders
constexpr int32_t kDefensiveTime = 300000;     // call 19 without a time limit
constexpr int32_t kExitDistance = 1110000;     // call 13: how far out the exit point lies
constexpr int32_t kWarpInStart = 1348650;      // 1,665,000 x 900^2 / 1,000,000
constexpr int32_t kGlideUnit = 222;            // call 32 keeps its steps in units of this
constexpr uint32_t kGateWarpMark = 0x2000000;  // a gate a ship warps through
constexpr int32_t kHalfGateSpread = 8192;      // a gate entry spreads over +-45 degrees

int32_t Refuse(const SA_Call& c) { return c.Answer(0); }

// The ship of argument 0, or null (a missing object or another main type).
SectorObject* ShipArg(const SA_Call& c) {
    SectorObject* ship = c.Object(0);
    return ship && ship->mainType == SA_MT_SHIP && O_ShipData(ship) ? ship : nullptr;
}

// The ship of argument 0 and the partner object of argument i, both required.
struct ShipWith {
    SectorObject* ship;
    SectorObject* partner;
    ShipData* d;
    ShipWith(const SA_Call& c, int32_t i)
        : ship(ShipArg(c)), partner(ship ? c.Object(i) : nullptr), d(partner ? O_ShipData(ship) : nullptr) {}
    explicit operator bool() const { return d != nullptr; }
};

// An optional object argument: 0 is none (and is not looked up).
SectorObject* OptionalObject(const SA_Call& c, int32_t i) { return c.Int(i) ? c.Object(i) : nullptr; }

// Sets the course and keeps the calling task as the ship's waiting caller
// (replacing any other); no answer.
int32_t Accept(const SA_Call& c, SectorObject* ship, int16_t course) {
    O_ShipData(ship)->CourseType = course;
    ship->callerModule = static_cast<uint32_t>(c.callerModule);
    ship->callerHandle = c.task ? c.task->id : 0;
    return 1;
}

void SetTimeLimit(ShipData* d, int32_t limit) {
    d->TimeLimitOn = limit > 0 ? 1 : 0;
    if (d->TimeLimitOn) d->TimeLimit = SA_TimeAfter(limit);
}

// The container's position plus its matrix times a vector of its carrier
// words in units of its radius.
QelVector CarrierPoint(SectorObject* container, const QelVector& local) {
    const QelVector pos = Obj_Position(container);
    const QelMatrix m = Obj_Matrix(container);
    return O_LocalToWorld(&pos, &m, &local, O_GetRadius(container));
}

bool HasDockPorts(const SectorObject* container) {
    return SA_GetTypeNumDockPorts(container->mainType, container->subType) > 0;
}

int32_t Clamp32(int64_t v) { return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v); }

// The points of the ship's dock port at the container: 0 when the port has no instance.
int PortPoints(SectorObject* ship, SectorObject* container, int32_t port, QelVector* at, QelVector* approach,
               QelVector* axis) {
    DockPortSlot* slot = O_GetShipDockPortInst(ship->subType, port, O_PortTable(container));
    return O_GetPortPoints(slot, at, approach, axis);
}

int32_t Attack(const SA_Call& c, int16_t course) {
    const ShipWith w(c, 1);
    if (!w) return Refuse(c);
    w.d->OrderTarget = w.partner;
    const int32_t r =
        static_cast<int32_t>(std::min<int64_t>(int64_t{O_GetRadius(w.ship)} + O_GetRadius(w.partner), kAttackCircle));
    const auto a = static_cast<uint16_t>(Qel_LongRandom(1000) * 65536 / 1000);
    w.d->OrderPos = QelVector{Qel_FixMul(r, Qel_FixCos(a)), Qel_FixMul(r, Qel_FixSin(a)), 0, 0};
    w.d->NextThink = SA_Now();
    const int32_t delay = c.Int(2);
    w.d->EvadeUntil = SA_TimeAfter(delay > 0 ? delay : 50);
    SetTimeLimit(w.d, c.Int(3));
    return Accept(c, w.ship, course);
}

int32_t MoveTo(const SA_Call& c, int16_t course) {
    SectorObject* ship = ShipArg(c);
    if (!ship) return Refuse(c);
    ShipData* d = O_ShipData(ship);
    d->OrderPos = QelVector{c.Int(1), c.Int(2), c.Int(3), 0};
    d->OrderRange = c.Int(4);
    return Accept(c, ship, course);
}

// Calls 23 and 24: the turret in 1 .. count-1, a minimum time above 0 and a
// maximum not below it.
TurretSlot* TurretArg(const SA_Call& c, SectorObject* ship, int32_t n) {
    ShipData* d = O_ShipData(ship);
    const int32_t count = std::min(SA_GetShipTurretCount(ship), d->turretCount);
    if (n < 1 || n >= count || !d->turrets) return nullptr;
    const int32_t lo = c.Int(3), hi = c.Int(4);
    if (lo <= 0 || hi < lo) return nullptr;
    return &d->turrets[n];
}

void AimTurret(const SA_Call& c, TurretSlot* turret, int32_t mode) {
    turret->caller = SA_Caller{static_cast<uint32_t>(c.callerModule), c.task ? c.task->id : 0};
    turret->targetMode = mode;
    turret->markMin = SA_TimeAfter(c.Int(3));
    turret->markMax = SA_TimeAfter(c.Int(4));
}

}  // namespace

SA_StartInHangarFn g_SAStartInHangar = O_StartInHangar;

int32_t SACall_FlyObjectIntoContainer(const SA_Call& c) {
    SectorObject* ship = ShipArg(c);
    SectorObject* container = ship ? c.Object(1) : nullptr;
    if (!container) return Refuse(c);
    const int32_t port = c.Int(2);
    const int32_t slot = c.Given(3) ? c.Int(3) : -1;
    QelVector orderPos = Obj_Position(container);
    QelVector portOffset = orderPos;
    bool viaPort = false;
    if (container->flags & SA_FLAG_HOLDER) {
        const CarrierWords* words = O_CarrierWords(container);
        QelVector entry = words ? words->hangarPoint : QelVector{};
        if (container->mainType == SA_MT_GATE && !SA_IsShipClassC(ship)) {
            // Big ships spread over the gate's entry circle.
            const auto a = static_cast<uint16_t>(Qel_Random(2 * kHalfGateSpread + 1) - kHalfGateSpread);
            const int32_t r = entry.y;
            entry.x = Qel_FixMul(r, Qel_FixSin(a));
            entry.y = Qel_FixMul(r, Qel_FixCos(a));
            orderPos = CarrierPoint(container, entry);
        } else if (port >= 0 && HasDockPorts(container)) {
            QelVector approach, axis;
            if (!PortPoints(ship, container, port, &orderPos, &approach, &axis)) return Refuse(c);
            portOffset = O_PortApproachPoint(&orderPos, &approach);
            viaPort = true;
        } else {
            orderPos = CarrierPoint(container, entry);
        }
    }
    ShipData* d = O_ShipData(ship);
    d->FlightDir = QelVector{};
    d->PortIndex = viaPort ? port : -1;
    d->PortSlot = viaPort ? slot : -1;
    d->OrderPos = orderPos;
    d->PortOffset = viaPort ? portOffset : orderPos;
    d->OrderTarget = container;
    d->NextThink = SA_Now();
    return Accept(c, ship, VER_FLYINTO);
}

int32_t SACall_FlyObjectBeforeContainer(const SA_Call& c) {
    SectorObject* ship = ShipArg(c);
    SectorObject* container = ship ? c.Object(1) : nullptr;
    if (!container) return Refuse(c);
    const int32_t port = c.Int(2);
    const int32_t slot = c.Given(3) ? c.Int(3) : -1;
    ShipData* d = O_ShipData(ship);
    QelVector orderPos = Obj_Position(container);
    bool viaPort = false;
    if ((container->flags & SA_FLAG_HOLDER) && port >= 0 && HasDockPorts(container)) {
        QelVector at, approach, axis;
        if (!PortPoints(ship, container, port, &at, &approach, &axis)) return Refuse(c);
        // Kept in the container's frame: the point moves with it.
        const QelVector pos = Obj_Position(container);
        const QelVector offset{Clamp32(int64_t{approach.x} - pos.x), Clamp32(int64_t{approach.y} - pos.y),
                               Clamp32(int64_t{approach.z} - pos.z), 0};
        const QelMatrix m = Obj_Matrix(container);
        Qel_MatTransMulVec(&m, &offset, &orderPos);
        d->PortOffset = orderPos;
        viaPort = true;
    } else if (container->flags & SA_FLAG_HOLDER) {
        const CarrierWords* words = O_CarrierWords(container);
        orderPos = CarrierPoint(container, words ? words->secondPoint : QelVector{});
    }
    d->PortIndex = viaPort ? port : -1;
    if (viaPort) d->PortSlot = slot;
    d->OrderPos = orderPos;
    d->OrderTarget = container;
    d->NextThink = SA_Now();
    return Accept(c, ship, VER_FLYBEFORE);
}

int32_t SACall_IsObjectBeforeContainer(const SA_Call& c) {
    SectorObject* ship = ShipArg(c);
    SectorObject* container = ship ? c.Object(1) : nullptr;
    const int32_t port = c.Int(2);
    if (!container || !ship->instance || !(container->flags & SA_FLAG_HOLDER) || port < 0 || !HasDockPorts(container))
        return c.Answer(0);
    QelVector at, approach, axis;
    if (!PortPoints(ship, container, port, &at, &approach, &axis)) return c.Answer(0);
    constexpr int32_t kFacing = 60293;  // 0.92
    const int32_t* f = ship->instance->matrix.m + 8;
    const auto dot = [f](const QelVector& v) {
        return (int64_t{f[0]} * v.x + int64_t{f[1]} * v.y + int64_t{f[2]} * v.z) >> 16;
    };
    const QelVector toPort = O_UnitDirection(&ship->instance->pos, &at);
    const int64_t reach = SA_VecDistance(&at, &approach) + 25000;
    const bool before =
        dot(axis) <= -kFacing && SA_VecDistance(&ship->instance->pos, &at) <= reach && dot(toPort) >= kFacing;
    return c.Answer(before ? 1 : 0);
}

int32_t SACall_FlyObjectBeforeContainerPos(const SA_Call& c) {
    const ShipWith w(c, 1);
    if (!w) return Refuse(c);
    w.d->OrderPos = QelVector{c.Int(2), c.Int(3), c.Int(4), 0};
    w.d->OrderTarget = w.partner;
    w.d->PortIndex = -1;
    return Accept(c, w.ship, VER_FLYBEFORE);
}

int32_t SACall_ClearObjectFromHangar(const SA_Call& c) {
    SectorObject* ship = ShipArg(c);
    SectorObject* carrier = ship ? c.Object(1) : nullptr;
    if (!carrier) return Refuse(c);
    const int16_t m = carrier->mainType;
    if (m != SA_MT_SHIP && m != SA_MT_FACTORY && m != SA_MT_DOCK && m != SA_MT_GATE) return Refuse(c);
    const int32_t port = c.Int(2);
    ShipData* d = O_ShipData(ship);
    d->NextThink = SA_Now();
    d->OrderTarget = carrier;
    d->PortOffset = Obj_Position(ship);
    d->PortIndex = port;
    if (port >= 0) {
        QelVector at, approach, axis;
        if (PortPoints(ship, carrier, port, &at, &approach, &axis)) {
            d->OrderPos = QelVector{Clamp32(at.x + (int64_t{axis.x} * kExitDistance >> 16)),
                                    Clamp32(at.y + (int64_t{axis.y} * kExitDistance >> 16)),
                                    Clamp32(at.z + (int64_t{axis.z} * kExitDistance >> 16)), 0};
        } else {
            // No port instance: straight ahead out of the carrier.
            const QelVector pos = Obj_Position(ship);
            const QelMatrix mat = Obj_Matrix(ship);
            const QelVector out{0, 0, kExitDistance, 0};
            d->OrderPos = O_LocalToWorld(&pos, &mat, &out, 65536);
        }
    }
    return Accept(c, ship, VER_CLEARHANGAR);
}

int32_t SACall_WarpObjectAway(const SA_Call& c) {
    SectorObject* ship = ShipArg(c);
    if (!ship) return Refuse(c);
    SectorObject* gate = OptionalObject(c, 1);
    ShipData* d = O_ShipData(ship);
    d->WarpEffectOn = -1;
    d->WarpEnd = SA_TimeAfter(SA_WARP_MS);
    d->OrderPos = Obj_Position(ship);
    d->OrderTarget = nullptr;
    if (gate && gate->mainType == SA_MT_GATE) {
        gate->flags |= kGateWarpMark;
        ship->flags |= SA_FLAG_NO_AREA_DAMAGE;
        d->OrderTarget = gate;
    }
    return Accept(c, ship, VER_WARPAWAY);
}

int32_t SACall_AvoidObjectCollision(const SA_Call& c) {
    SectorObject* ship = ShipArg(c);
    if (!ship) return Refuse(c);
    ShipData* d = O_ShipData(ship);
    const int32_t distance = c.Int(1);
    d->NextThink = SA_Now();
    d->OrderValue = c.argc > 2 && c.Int(2) != 0 ? 1 + Qel_RandomRaw() * 10 / 32768 : 0;
    d->PortOffset = Obj_Position(ship);
    d->OrderRange = distance > 0 ? distance : Clamp32(int64_t{O_GetRadius(ship)} + kAvoidMargin);
    d->SpeedLimit = -1;
    d->avoidState = 0;
    const int64_t ahead = 5 * int64_t{d->OrderRange};
    const QelMatrix m = Obj_Matrix(ship);
    const QelVector pos = Obj_Position(ship);
    d->OrderPos = QelVector{Clamp32(pos.x + (m.m[8] * ahead >> 16)), Clamp32(pos.y + (m.m[9] * ahead >> 16)),
                            Clamp32(pos.z + (m.m[10] * ahead >> 16)), 0};
    return Accept(c, ship, VER_AVOIDCOLLISION);
}

int32_t SACall_CaptureObject(const SA_Call& c) {
    const ShipWith w(c, 1);
    if (!w) return Refuse(c);
    w.d->OrderTarget = w.partner;
    w.d->NextThink = SA_Now();
    SetTimeLimit(w.d, c.Int(2));
    return Accept(c, w.ship, VER_CAPTURE);
}

int32_t SACall_AttackObject(const SA_Call& c) { return Attack(c, VER_ATTACK); }
int32_t SACall_AttackObjectBig(const SA_Call& c) { return Attack(c, VER_ATTACKBIG); }

int32_t SACall_DefensiveMove(const SA_Call& c) {
    SectorObject* ship = ShipArg(c);
    if (!ship) return Refuse(c);
    SectorObject* attacker = OptionalObject(c, 4);
    ShipData* d = O_ShipData(ship);
    const int32_t limit = c.Int(3);
    d->OrderRange = c.Int(2);
    d->OrderTarget = attacker;
    d->NextThink = SA_Now();
    d->OrderValue = 0;
    d->EvadeUntil = SA_Now();
    d->TimeLimitOn = 1;
    d->TimeLimit = SA_TimeAfter(limit > 0 ? limit : kDefensiveTime);
    return Accept(c, ship, VER_DEFENSIVEMOVE);
}

int32_t SACall_EscortObject(const SA_Call& c) {
    const ShipWith w(c, 1);
    if (!w) return Refuse(c);
    w.d->OrderTarget = w.partner;
    w.d->OrderPos = QelVector{c.Int(2), c.Int(3), c.Int(4), 0};
    w.d->OrderRange = c.Int(5);
    w.d->NextThink = SA_Now();
    SetTimeLimit(w.d, c.Int(6));
    return Accept(c, w.ship, VER_ESCORT);
}

int32_t SACall_StopObjectTurret(const SA_Call& c) {
    SectorObject* ship = ShipArg(c);
    const int32_t n = c.Int(1);
    ShipData* d = ship ? O_ShipData(ship) : nullptr;
    if (d && d->turrets && n >= 1 && n < std::min(SA_GetShipTurretCount(ship), d->turretCount)) {
        TurretSlot& turret = d->turrets[n];
        turret.target = nullptr;
        turret.markMin = turret.markMax = 0;
        SA_FireTurretCallback(ship, n, c.Int(2));
    }
    return c.Answer(0);
}

int32_t SACall_TurnToObject(const SA_Call& c) {
    const ShipWith w(c, 1);
    if (!w) return Refuse(c);
    w.d->OrderRange = c.argc == 3 ? c.Int(2) : kDefaultReach;
    w.d->OrderTarget = w.partner;
    return Accept(c, w.ship, VER_ROTATEANDCHECK);
}

int32_t SACall_TurretTurnToObject(const SA_Call& c) {
    SectorObject* ship = ShipArg(c);
    SectorObject* target = ship ? c.Object(1) : nullptr;
    TurretSlot* turret = target ? TurretArg(c, ship, c.Int(2)) : nullptr;
    if (!turret) return Refuse(c);
    AimTurret(c, turret, 0);
    turret->target = target;
    return 1;
}

int32_t SACall_TurretTurnToPosition(const SA_Call& c) {
    SectorObject* ship = ShipArg(c);
    TurretSlot* turret = ship ? TurretArg(c, ship, c.Int(2)) : nullptr;
    auto* array = const_cast<ScriptValue*>(c.Arg(1));
    if (!turret || array->tag != VARTYPE_ARRAY || SV_ArraySize(array) < 3) return Refuse(c);
    int32_t pos[3];
    for (int32_t i = 0; i < 3; ++i) {
        const ScriptValue* v = SV_ArrayRead(array, i);
        if (!v) return Refuse(c);
        pos[i] = v->i;
    }
    AimTurret(c, turret, 1);
    turret->target = nullptr;
    for (int32_t i = 0; i < 3; ++i) turret->targetPos[i] = pos[i];
    return 1;
}

int32_t SACall_StartInHangar(const SA_Call& c) {
    SectorObject* ship = c.Object(0);
    SectorObject* carrier = ship ? c.Object(1) : nullptr;
    if (!carrier) return Refuse(c);
    const int32_t port = c.argc < 3 ? -1 : c.Int(2);
    if (ShipData* d = O_ShipData(ship)) d->PortIndex = port;
    switch (g_SAStartInHangar(ship, carrier, port)) {
        case -1: return Refuse(c);
        case 1:
            ship->callerModule = static_cast<uint32_t>(c.callerModule);
            ship->callerHandle = c.task ? c.task->id : 0;
            return 1;
        case 2: return c.Answer(1);
        default: return c.Answer(10);
    }
}

int32_t SACall_Idle(const SA_Call& c) {
    SectorObject* ship = ShipArg(c);
    if (!ship) return Refuse(c);
    ShipData* d = O_ShipData(ship);
    d->OrderPos = Obj_Position(ship);
    d->NextThink = SA_Now();
    d->TimeLimit = SA_TimeAfter(c.Int(1));
    return Accept(c, ship, VER_IDLE);
}

int32_t SACall_FollowObject(const SA_Call& c) {
    const ShipWith w(c, 1);
    if (!w) return Refuse(c);
    w.d->OrderTarget = w.partner;
    w.d->OrderRange = c.Int(2);
    w.d->NextThink = SA_Now();
    SetTimeLimit(w.d, c.Int(3));
    return Accept(c, w.ship, VER_FOLLOW);
}

int32_t SACall_FollowObjectByCut(const SA_Call& c) {
    const ShipWith w(c, 1);
    if (!w) return Refuse(c);
    w.d->OrderTarget = w.partner;
    w.d->OrderRange = c.Int(2);
    w.d->OrderValue = c.Int(3);
    w.d->NextThink = SA_TimeAfter(Qel_RandomRaw() * 1000 / 32768);
    return Accept(c, w.ship, VER_FOLLOWBYCUT);
}

int32_t SACall_RotateToAngles(const SA_Call& c) {
    SectorObject* ship = ShipArg(c);
    if (!ship) return Refuse(c);
    int32_t gamma = SA_NO_ROLL;
    if (c.Given(3)) gamma = static_cast<int32_t>(((int64_t{c.Int(3)} % 65536) + 65536) % 65536);
    O_ShipData(ship)->OrderPos = QelVector{c.Int(1), c.Int(2), gamma, 0};
    return Accept(c, ship, VER_ROTATETOANGLES);
}

int32_t SACall_MovePos(const SA_Call& c) { return MoveTo(c, VER_MOVEPOS); }
int32_t SACall_MovePosContinue(const SA_Call& c) { return MoveTo(c, VER_MOVEPOSCONTINUE); }

int32_t SACall_GlidePos(const SA_Call& c) {
    SectorObject* ship = ShipArg(c);
    if (!ship) return Refuse(c);
    ShipData* d = O_ShipData(ship);
    d->OrderPos = QelVector{c.Int(1), c.Int(2), c.Int(3), 0};
    SA_ClearObjectVector48(ship);
    const auto a = static_cast<uint32_t>(c.Int(4) / kGlideUnit);
    const auto b = static_cast<uint32_t>(c.Int(5) / kGlideUnit);
    d->OrderRange = static_cast<int32_t>(b * 65536u + (a & 0xFFFFu));
    return Accept(c, ship, VER_GLIDEPOS);
}

int32_t SACall_WarpObjectIn(const SA_Call& c) {
    SectorObject* ship = ShipArg(c);
    if (!ship) return Refuse(c);
    SectorObject* gate = OptionalObject(c, 1);
    if (gate && gate->mainType != SA_MT_GATE) gate = nullptr;
    ShipData* d = O_ShipData(ship);
    // The same warp again: only the caller changes.
    if (gate && d->CourseType == VER_WARPIN && d->OrderTarget == gate) return Accept(c, ship, VER_WARPIN);
    d->WarpEffectOn = 1;
    d->WarpEnd = SA_TimeAfter(SA_WARP_MS);
    d->OrderPos = Obj_Position(ship);
    d->OrderTarget = gate;
    if (gate && ship->instance) {
        ship->flags |= SA_FLAG_NO_AREA_DAMAGE;
        const int32_t* f = gate->instance ? gate->instance->matrix.m + 8 : nullptr;
        if (f)
            ship->instance->pos = QelVector{Clamp32(d->OrderPos.x + (int64_t{f[0]} * kWarpInStart >> 16)),
                                            Clamp32(d->OrderPos.y + (int64_t{f[1]} * kWarpInStart >> 16)),
                                            Clamp32(d->OrderPos.z + (int64_t{f[2]} * kWarpInStart >> 16)), 0};
    }
    return Accept(c, ship, VER_WARPIN);
}

int32_t SACall_SetAutopilot(const SA_Call& c) {
    if (SectorObject* object = c.Object(0)) {
        if (c.Int(1) != 0) object->flags |= SA_FLAG_AUTOPILOT;
        else object->flags &= ~SA_FLAG_AUTOPILOT;
    }
    return c.Answer(0);
}
