#include "space/behaviour.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "base/fixmath.h"
#include "base/general.h"
#include "base/log.h"
#include "base/random.h"
#include "base/table.h"
#include "cockpit/cockpits.h"
#include "scene/caches.h"
#include "scene/jobs.h"
#include "scene/records.h"
#include "scene/smallops.h"
#include "space/create.h"
#include "space/flight.h"
#include "space/helpers.h"
#include "space/kill.h"
#include "space/objects.h"
#include "space/orders.h"
#include "space/queries.h"
#include "space/typesdb.h"
#include "space/weapons.h"
#include "system/clock.h"

namespace {

constexpr int32_t kMaxStep = 1000;
constexpr int32_t kSlowest = 5000;                // the speed floor of most approaches
constexpr uint32_t kMarkApproached = 0x10000000;  // a target a ship closes in on (or lands at)
constexpr uint32_t kMarkDocking = 0x2000000;      // a target a ship docks at or warps through
constexpr uint32_t kFlag2KeepSpeed = 0x4;         // the stop keeps the desired speed
constexpr uint32_t kFlag2Collectable = 1u << 21;  // collectable debris
constexpr uint32_t kNoSpeedPass = SA_FLAG_HANGS_ON | SA_FLAG_HELD;
constexpr int32_t kTurnedAlignment = 64881;  // 0.99: the turn-to order is done
constexpr int32_t kDockAlignment = 62259;    // 0.95
constexpr int32_t kAttackDone = 57016;       // 0.87
constexpr int32_t kAlign04 = 26214, kAlign07 = 45875;
constexpr int32_t kIdleAlignment = 64225;   // 0.98
constexpr int32_t kAvoidAlignment = 58982;  // 0.9
constexpr int32_t kAnglesAligned = 64880;
constexpr int32_t kRollTolerance = 91;
constexpr int32_t kFollowLag = -6554;    // -0.1
constexpr int32_t kFollowShare = 58982;  // 0.9 of the follow distance
constexpr int32_t kCameraTolerance = 1820;
constexpr int32_t kLandTime = 300000;
constexpr int32_t kMissileSearch = 2500000;
constexpr int32_t kMissileFullSpeed = 2000;
constexpr int32_t kMissileNear = 250000, kMissileApproach = 375000;
constexpr int32_t kMissileOffset = 58982;  // self-steering offsets of up to 0.9
constexpr uint32_t kFlag2Decoupled = 0x4;  // a missile that has split into its pieces
constexpr int32_t kTractorRelease = 555000, kTractorClamp = 333000;
constexpr int32_t kAvoidInterval = 200;
constexpr int32_t kAvoidClearance = 20000;
constexpr int32_t kAvoidWiden = 78643;  // 1.2
constexpr int32_t kIdleNear = 1110000;
constexpr int32_t kCollectDebrisStop = 40000;
constexpr int32_t kCollectMargin = 250000;
constexpr int32_t kClearSpeedInside = 20000, kClearSpeedOut = 50000;
constexpr int32_t kClearEndSpeed = 120000, kClearEndSpeedSmall = 60000;

SpaceRoot* Root() { return g_SpaceRoot; }
int32_t Now() { return SA_Now(); }

bool Killed(const SectorObject* o) { return !o || (o->flags & SA_FLAG_KILLED); }
bool InSector(const SectorObject* o) {
    return !Killed(o) && o->instance && o->container && o->container->mainType == SA_MT_SECTOR;
}

const QelVector& Pos(const SectorObject* o) { return o->instance->pos; }
const int32_t* Forward(const SectorObject* o) { return o->instance->matrix.m + 8; }
int64_t Dist(const QelVector& a, const QelVector& b) { return SA_VecDistance(&a, &b); }
int64_t AxisDist(const QelVector& a, const QelVector& b) {
    return std::max({std::llabs(int64_t{a.x} - b.x), std::llabs(int64_t{a.y} - b.y), std::llabs(int64_t{a.z} - b.z)});
}
int32_t Clamp32(int64_t v) { return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v); }

// origin + axis (16.16) x length.
QelVector Along(const QelVector& origin, const int32_t* axis, int64_t length) {
    return QelVector{Clamp32(origin.x + (axis[0] * length >> 16)), Clamp32(origin.y + (axis[1] * length >> 16)),
                     Clamp32(origin.z + (axis[2] * length >> 16)), 0};
}

int32_t MaxSpeed(const SectorObject* o) { return O_GetMaxSpeed(o); }
int64_t Braking(const SectorObject* o) { return O_BrakingDistance(MaxSpeed(o), SA_GetShipValue18(o)); }
int32_t TypeField(const SectorObject* o, int32_t n) {
    const TypeRecord* t = O_GetTypeRecord(o);
    return t ? t->field[n] : 0;
}

// An order that re-plans only at NextThink: 1 when it may now, with the next one drawn.
bool Think(ShipData* d) {
    if (!SA_TimeReached(d->NextThink)) return false;
    d->NextThink = SA_TimeAfter(SA_RandomDelay(d->ThinkInterval));
    return true;
}

// Ends the order: the course, then the answer to the waiting task.
void End(SectorObject* ship, int16_t course, int32_t code) {
    O_ShipData(ship)->CourseType = course;
    SA_FireObjectCallback(ship, code);
}

void StopDead(SectorObject* o) { o->speed = o->desiredSpeed = 0; }

void RemoveWarpEffect(SectorObject* o) {
    if (o->instance) B3D_InstSetOverrideEffect(o->instance, 0);
    o->flags &= ~SA_FLAG_NO_AREA_DAMAGE;
}

const char* NameOf(const SectorObject* o) { return o && o->name ? o->name : ""; }

// ---------------------------------------------------------------- courses

struct Ship {
    SectorObject* o;
    ShipData* d;
    int32_t dt;
};

void Stop(Ship s) {
    if (s.o->flags & SA_FLAG_AUTOPILOT) {
        if (!(s.o->flags2 & kFlag2KeepSpeed)) s.o->desiredSpeed = 0;
        s.d->OrderTarget = nullptr;
    }
    if (s.d->WarpEffectOn) RemoveWarpEffect(s.o);
    s.d->WarpEffectOn = 0;
    s.d->TimeLimitOn = 0;
    s.d->NextThink = Now();
}

void FlyBefore(Ship s) {
    SectorObject* t = s.d->OrderTarget;
    if (Killed(t) || !t->instance) return End(s.o, VER_STOP, SA_ANSWER_ENDED);
    const QelVector goal =
        s.d->PortIndex < 0 ? s.d->OrderPos : O_LocalToWorld(&Pos(t), &t->instance->matrix, &s.d->PortOffset, 65536);
    int64_t stop;
    if (t->mainType == SA_MT_GATE) stop = int64_t{O_GetRadius(t)} * 3 / 4;
    else if (t->mainType == SA_MT_SHIP) stop = 111000;
    else stop = std::clamp<int64_t>(int64_t{O_GetRadius(s.o)} * (SA_IsShipClassC(s.o) ? 1 : 3), 22200, 111000);
    const int64_t d = Dist(Pos(s.o), goal);
    if (d <= stop) {
        s.d->PortIndex = -1;
        StopDead(s.o);
        return End(s.o, VER_STOP, SA_ANSWER_DONE);
    }
    if (!Think(s.d)) return;
    O_RotateToPoint(s.o, &goal);
    const int32_t top = MaxSpeed(s.o);
    const int64_t slowZone = stop + Braking(s.o);
    int32_t v = top;
    if (d <= slowZone) {
        v = O_SpeedRamp(d, 0, slowZone, kSlowest, top);
        v = std::min(std::max<int64_t>(v, int64_t{t->speed} + kSlowest), int64_t{top});
        t->flags |= kMarkApproached;
    }
    if (d <= slowZone + 3 * int64_t{O_GetRadius(t)} + 2 * int64_t{O_GetRadius(s.o)}) {
        v = O_SpeedRamp(O_GetAlignment(s.o, &goal), kAlign07, 65536, 500, v);
        if (SA_IsShipClassC(s.o)) v = std::min(v, 50000);
    }
    s.o->desiredSpeed = v;
}

void FlyInto(Ship s) {
    SA_DockGoal g;
    if (Killed(s.d->OrderTarget) || !O_GetDockGoal(s.o, &g)) {
        s.d->PortIndex = -1;
        return End(s.o, VER_STOP, SA_ANSWER_ENDED);
    }
    if (Dist(Pos(s.o), g.port) <= g.reach) {
        // In: still, aligned with the port, at the port.
        StopDead(s.o);
        for (int k = 0; k < 3; ++k) s.o->rotSpeed[k] = s.o->drift[k] = s.o->turnLeft[k] = 0;
        s.o->instance->pos = g.port;
        s.o->instance->matrix = g.matrix;
        Qel_AnglesFromMat(&g.matrix, &s.o->rot[0], &s.o->rot[1], &s.o->rot[2]);
        s.d->PortIndex = -1;
        return End(s.o, VER_STOP, SA_ANSWER_DONE);
    }
    if (!Think(s.d)) return;
    const int32_t top = MaxSpeed(s.o);
    const int32_t shipClass = TypeField(s.o, SA_TF_CLASS);
    const bool fastClass = shipClass == 0 || shipClass == 1 || shipClass == 3 || shipClass == 4 || shipClass == 9 ||
                           shipClass == 11 || shipClass == 12 || shipClass == 13;
    const int32_t classTop = fastClass ? 75000 : 50000;
    const int32_t approachSpeed = std::max(20000, std::min(top, classTop));
    O_RotateToPoint(s.o, &g.approach);
    if (O_GetAlignment(s.o, &g.approach) >= kDockAlignment) {
        const int64_t toApproach = Dist(Pos(s.o), g.approach);
        int32_t v = O_SpeedRamp(toApproach, 0, Braking(s.o) + g.reach, 2500, top);
        if (toApproach <= 2 * g.reach) v = std::min(v, 25000);
        if (Dist(Pos(s.o), g.port) <= 4 * g.reach) v = std::min(v, approachSpeed);
        s.o->desiredSpeed = v;
    } else {
        s.d->OrderTarget->flags |= kMarkDocking;
        s.o->desiredSpeed = top / 2;
    }
}

void RotateAndCheck(Ship s) {
    SectorObject* t = s.d->OrderTarget;
    if (!InSector(t)) {
        Qel_DPrintf(0, "ROTATEANDCHECK: kein Ziel!\n");
        for (int32_t& r : s.o->rotSpeed) r = 0;
        return End(s.o, VER_TURNED, SA_ANSWER_ENDED);
    }
    const int32_t distance = Obj_AxisDistance(s.o, t);
    if (distance > s.d->OrderRange) {
        Qel_DPrintf(0, "ROTATEANDCHECK ziel=%s, dist=%d, reichweite=%d\n", NameOf(t), distance, s.d->OrderRange);
        return End(s.o, VER_TURNED, SA_ANSWER_ENDED);
    }
    O_RotateToPoint(s.o, &Pos(t));
    Qel_DPrintf(8192, "ROTATEANDCHECK ziel=%s, aim=%x,%x,%x\n", NameOf(t), s.o->turnLeft[0], s.o->turnLeft[1],
                s.o->turnLeft[2]);
    if (O_GetAlignment(s.o, &Pos(t)) >= kTurnedAlignment) End(s.o, VER_TURNED, SA_ANSWER_DONE);
}

// Warps place the ship on the gate's axis, (ms)^2 x 1.665 out from OrderPos.
void PlaceOnWarpAxis(Ship s, int64_t ms) {
    const SectorObject* gate = s.d->OrderTarget;
    if (!gate->instance) return;
    s.o->instance->pos = Along(s.d->OrderPos, Forward(gate), ms * ms * SA_WARP_FACTOR / 1000000);
    StopDead(s.o);
}

void WarpAway(Ship s) {
    if (SA_TimeReached(s.d->WarpEnd)) {
        s.o->flags &= ~SA_FLAG_NO_AREA_DAMAGE;
        s.d->WarpEffectOn = 0;
        return End(s.o, VER_STOP, SA_ANSWER_DONE);
    }
    if (Killed(s.d->OrderTarget)) return;
    s.d->OrderTarget->flags |= kMarkDocking;
    s.o->flags |= SA_FLAG_NO_AREA_DAMAGE;
    const int64_t left = std::clamp<int64_t>(S_ClockDiff(s.d->WarpEnd, Now()), 0, SA_WARP_MS);
    PlaceOnWarpAxis(s, SA_WARP_MS - left);
}

void WarpIn(Ship s) {
    if (SA_TimeReached(s.d->WarpEnd)) {
        RemoveWarpEffect(s.o);
        s.o->instance->pos = s.d->OrderPos;
        s.d->WarpEffectOn = 0;
        return End(s.o, VER_STOP, SA_ANSWER_DONE);
    }
    if (Killed(s.d->OrderTarget)) return;
    s.o->flags |= SA_FLAG_NO_AREA_DAMAGE;
    PlaceOnWarpAxis(s, std::clamp<int64_t>(S_ClockDiff(s.d->WarpEnd, Now()), 0, SA_WARP_MS));
}

void Turned(Ship s) {
    s.o->rotSpeed[0] = s.o->rotSpeed[1] = 0;
    s.o->rotSpeed[2] = SA_GetScaledTypeValue4(s.o);
}

// A ship on the attack fires its forward guns whenever the target lies within
// their reach and their aim cone; the lasers' recharge and the energy pool set
// the pace, not the ship's re-think delay.
void FireForward(Ship s, SectorObject* t) {
    int32_t lo = 0, reach = 0;
    O_GetLaserRange(s.o, &lo, &reach);
    if (reach <= 0 || Dist(Pos(s.o), Pos(t)) > int64_t{reach} + O_GetRadius(t)) return;
    if (O_GetAlignment(s.o, &Pos(t)) < SA_AIM_CONE) return;
    O_FireLasers(s.o, t, 0, 0, 0xFFFFFFFFu);
}

void Attack(Ship s, int16_t course) {
    SectorObject* t = s.d->OrderTarget;
    if (t == s.o) {
        Qel_DPrintf(0, "ERROR: VER_ATTACK-Aiming myself!\n");
        return End(s.o, VER_STOP, SA_ANSWER_ENDED);
    }
    if (!InSector(t)) return End(s.o, VER_STOP, SA_ANSWER_ENDED);
    if (course != VER_CAPTURE) {
        // The story may end either side while a shot asks about ammunition.
        FireForward(s, t);
        if (Killed(s.o) || s.d->CourseType != course || s.d->OrderTarget != t || !InSector(t)) return;
    }
    if (!Think(s.d)) return;
    const int64_t contact = int64_t{O_GetRadius(s.o)} + O_GetRadius(t);
    const int32_t top = MaxSpeed(s.o);
    const int64_t d = Dist(Pos(s.o), Pos(t));
    if (course == VER_CAPTURE) {
        if (AxisDist(Pos(s.o), Pos(t)) < 2 * contact) {
            StopDead(s.o);
            return End(s.o, VER_STOP, SA_ANSWER_DONE);
        }
        O_RotateToPoint(s.o, &Pos(t));
        s.o->desiredSpeed = O_SpeedRamp(d, contact + 30000, contact + 100000, std::min(kSlowest, top), top);
        return;
    }
    const int32_t aim = O_GetAlignment(s.o, &Pos(t));
    if (aim >= kAttackDone && SA_TimeReached(s.d->EvadeUntil)) return End(s.o, VER_STOP, SA_ANSWER_DONE);
    int32_t lo = 0, reach = 0;
    O_GetLaserRange(s.o, &lo, &reach);
    // Far off: close in on the offset point of the attack circle; near and
    // facing away: pass and come round; else aim at the target.
    QelVector goal = Pos(t);
    if (d > contact + reach) goal = O_LocalToWorld(&Pos(t), &t->instance->matrix, &s.d->OrderPos, 65536);
    if (d < contact + 30000 && aim < kAlign04) goal = Along(Pos(s.o), Forward(s.o), contact + 100000);
    O_RotateToPoint(s.o, &goal);
    int32_t v = O_SpeedRamp(d, contact + 30000, contact + reach + 30000, kSlowest, top);
    if (aim < kAlign07 && d <= contact + reach) v = std::max(top / 2, kSlowest);
    s.o->desiredSpeed = std::max(v, kSlowest);
}

// The nearest object of the sector in the ship's way (within its clearance of
// the path from the ship to OrderPos); null when the way is free.
SectorObject* Blocker(Ship s) {
    const QelVector& p = Pos(s.o);
    const QelVector& q = s.d->OrderPos;
    const double dx = static_cast<double>(q.x) - p.x, dy = static_cast<double>(q.y) - p.y,
                 dz = static_cast<double>(q.z) - p.z;
    const double length2 = dx * dx + dy * dy + dz * dz;
    SectorObject* best = nullptr;
    double bestAlong = 0;
    for (SectorObject* c = SA_ListFirst(O_GetChildList(s.o->container)); c; c = SA_ListNext(c)) {
        if (c == s.o || !c->instance || Killed(c) || c->mainType == SA_MT_BULLET) continue;
        const double cx = static_cast<double>(Pos(c).x) - p.x, cy = static_cast<double>(Pos(c).y) - p.y,
                     cz = static_cast<double>(Pos(c).z) - p.z;
        const double t = length2 > 0 ? std::clamp((cx * dx + cy * dy + cz * dz) / length2, 0.0, 1.0) : 0.0;
        const double ex = cx - t * dx, ey = cy - t * dy, ez = cz - t * dz;
        const double clearance = O_GetRadius(c) * (kAvoidWiden / 65536.0) + O_GetRadius(s.o) + kAvoidClearance;
        if (ex * ex + ey * ey + ez * ez >= clearance * clearance) continue;
        if (!best || t < bestAlong) {
            best = c;
            bestAlong = t;
        }
    }
    return best;
}

void Avoid(Ship s) {
    if (SA_TimeReached(s.d->NextThink)) {
        s.d->NextThink = SA_TimeAfter(kAvoidInterval);
        SectorObject* blocker = InSector(s.o) ? Blocker(s) : nullptr;
        if (!blocker) return End(s.o, VER_STOP, SA_ANSWER_DONE);
        // Turn away from the obstacle's side by a random part of a turn.
        const QelVector& b = Pos(blocker);
        const int32_t* m = s.o->instance->matrix.m;
        const int64_t toB[3] = {int64_t{b.x} - Pos(s.o).x, int64_t{b.y} - Pos(s.o).y, int64_t{b.z} - Pos(s.o).z};
        const int64_t side = (toB[0] * m[0] + toB[1] * m[1] + toB[2] * m[2]) >> 16;
        const int64_t up = (toB[0] * m[4] + toB[1] * m[5] + toB[2] * m[6]) >> 16;
        const int32_t turn = 2048 + Qel_Random(4097);
        const auto away = [](int64_t along, int32_t amount) { return along > 0 ? -amount : amount; };
        const QelVector local{away(side, turn * 8 + Qel_Random(40961)), away(up, Qel_Random(40961) - 20480), 65536, 0};
        s.d->OrderPos =
            O_LocalToWorld(&Pos(s.o), &s.o->instance->matrix, &local, Clamp32(5 * int64_t{s.d->OrderRange}));
        O_SteerDirect(s.o, &s.d->OrderPos);
    }
    const int32_t top = MaxSpeed(s.o);
    s.o->desiredSpeed =
        std::max(O_SpeedRamp(O_GetAlignment(s.o, &s.d->OrderPos), kAvoidAlignment, 65536, kSlowest, top), kSlowest);
}

void Escort(Ship s) {
    SectorObject* t = s.d->OrderTarget;
    if (!InSector(t)) return End(s.o, VER_STOP, SA_ANSWER_ENDED);
    if (!Think(s.d)) return;
    const QelVector place = O_LocalToWorld(&Pos(t), &t->instance->matrix, &s.d->OrderPos, 65536);
    const int64_t d = Dist(Pos(s.o), place);
    const int32_t top = MaxSpeed(s.o);
    const int64_t band = std::max(s.d->OrderRange, 1);
    // At the place: the escort looks where its target looks.
    const QelVector aim = d > 100 ? place : Along(Pos(s.o), Forward(t), 1000000);
    O_RotateToPoint(s.o, &aim);
    if (d > band) {
        s.o->desiredSpeed = top;
        return;
    }
    const int32_t v = O_SpeedRamp(d, 0, band, t->speed, top);
    s.o->desiredSpeed = std::clamp(v, std::min(kSlowest, top), top);
}

void Follow(Ship s) {
    SectorObject* t = s.d->OrderTarget;
    if (!InSector(t)) return End(s.o, VER_STOP, SA_ANSWER_ENDED);
    const int64_t axis = AxisDist(Pos(s.o), Pos(t));
    if (axis < s.d->OrderRange) return End(s.o, VER_STOP, SA_ANSWER_DONE);
    if (!Think(s.d)) return;
    QelVector point = Pos(t);
    const int32_t accel = SA_GetShipValue18(s.o);
    if (t->speed > 0) {
        // Lagging behind a moving target: aim ahead of it by the distance it needs to stop.
        const QelVector fromTarget = O_UnitDirection(&Pos(t), &Pos(s.o));
        const int32_t* f = Forward(t);
        const int64_t behind =
            (int64_t{f[0]} * fromTarget.x + int64_t{f[1]} * fromTarget.y + int64_t{f[2]} * fromTarget.z) >> 16;
        if (behind < kFollowLag) {
            // speed^2 x 3 / (2 x accel) without the product leaving 64 bits,
            // and no further ahead than a position reaches.
            const int64_t square = int64_t{t->speed} * t->speed, twice = 2 * int64_t{accel};
            const int64_t stop = accel > 0 ? square / twice * 3 + square % twice * 3 / twice : 0;
            point = Along(point, f, std::clamp<int64_t>(stop + s.d->OrderRange, INT32_MIN, INT32_MAX));
        }
    }
    O_RotateToPoint(s.o, &point);
    const int64_t near = int64_t{s.d->OrderRange} * kFollowShare >> 16;
    s.o->desiredSpeed = O_SpeedRamp(axis, near, near + Braking(s.o), t->speed, MaxSpeed(s.o));
}

void FollowByCut(Ship s) {
    SectorObject* t = s.d->OrderTarget;
    if (Killed(t) || !t->instance) return End(s.o, VER_STOP, SA_ANSWER_ENDED);
    if (!SA_TimeReached(s.d->NextThink)) return;
    J3D_Cut* cut = s.o->cutId > 0 ? J3D_GetCut(s.o->cutId) : nullptr;
    if (!cut) return;
    J3D_SetCutPos(cut, &Pos(t), &t->instance->matrix);
    if (!(s.o->instance->jobFlags & JOB_RUNNING)) {
        const int32_t path = s.d->OrderValue >= 0 && s.d->OrderValue < cut->pathCount ? s.d->OrderValue : 0;
        J3D_JobStartInst(s.o->instance, 0, path, cut, -1, 0);
    }
    Qel_AnglesFromMat(&s.o->instance->matrix, &s.o->rot[0], &s.o->rot[1], &s.o->rot[2]);
}

void MovePos(Ship s, bool stopRamp) {
    const QelVector& goal = s.d->OrderPos;
    const int64_t d = Dist(Pos(s.o), goal);
    if (d <= s.d->OrderRange) return End(s.o, VER_STOP, SA_ANSWER_DONE);
    if (SA_GetScaledTypeValue2(s.o)) O_SteerDirect(s.o, &goal);
    else O_RotateToPoint(s.o, &goal);
    const int32_t top = MaxSpeed(s.o);
    s.o->desiredSpeed = stopRamp ? O_SpeedRamp(d, 0, Braking(s.o), kSlowest, top) : top;
}

void Land(Ship s) {
    SectorObject* t = s.d->OrderTarget;
    const int32_t mark = s.d->NextThink;
    const bool stay = !Killed(t) && t->instance && !SA_IsEnemy(s.o, t) &&
                      (!SA_TimeReached(mark) || AxisDist(Pos(s.o), Pos(t)) <= 2 * int64_t{O_GetRadius(t)}) &&
                      S_ClockDiff(Now(), mark) <= kLandTime;
    if (stay) {
        t->flags |= kMarkApproached;
        DockPortTable* ports = O_PortTable(t);
        if (ports && ports->slots && s.d->PortIndex >= 0 && s.d->PortIndex < ports->slotCount)
            ports->slots[s.d->PortIndex].flags |= 0x11;
        return;
    }
    s.d->PortIndex = -1;
    s.d->CourseType = VER_STOP;
    const int32_t id = static_cast<int32_t>(s.o->id);
    SA_RunStory(SA_NOTIFY_OBJECT, "NotifyDockingAbort", 1, &id);
}

void Idle(Ship s) {
    if (SA_TimeReached(s.d->TimeLimit)) return End(s.o, VER_STOP, SA_ANSWER_DONE);
    s.o->desiredSpeed = MaxSpeed(s.o) / 2;
    if (Dist(Pos(s.o), s.d->OrderPos) > O_GetRadius(s.o)) {
        O_RotateToPoint(s.o, &s.d->OrderPos);
        return;
    }
    // At the point: once the nose is steady, the next point lies ahead.
    if (O_GetAlignment(s.o, &s.d->OrderPos) < kIdleAlignment && Dist(Pos(s.o), s.d->OrderPos) > 100) return;
    const int32_t ahead = kIdleNear + Qel_Random(kIdleNear + 1);
    const QelVector local{Qel_Random(2 * 16384 + 1) - 16384, Qel_Random(2 * 16384 + 1) - 16384, 65536, 0};
    s.d->OrderPos = O_LocalToWorld(&Pos(s.o), &s.o->instance->matrix, &local, ahead);
}

void ClearHangar(Ship s) {
    SectorObject* carrier = s.d->OrderTarget;
    if (Killed(carrier)) return End(s.o, VER_STOP, SA_ANSWER_ENDED);
    QelVector port = s.d->PortOffset, approach = port;
    QelVector axis{Forward(s.o)[0], Forward(s.o)[1], Forward(s.o)[2], 0};
    int64_t clear = 4 * int64_t{O_GetRadius(carrier)} + 70000;
    int64_t inside = 0;
    if (s.d->PortIndex >= 0) {
        DockPortSlot* slot = O_GetShipDockPortInst(s.o->subType, s.d->PortIndex, O_PortTable(carrier));
        if (O_GetPortPoints(slot, &port, &approach, &axis)) {
            inside = Dist(port, approach);
            clear = inside + 4 * int64_t{O_GetRadius(carrier)} + 45000;
        }
    }
    const int32_t top = MaxSpeed(s.o);
    if (Dist(Pos(s.o), port) > clear) {
        s.o->desiredSpeed = top;
        s.o->speed = SA_IsShipClassC(s.o) ? kClearEndSpeedSmall : kClearEndSpeed;
        return End(s.o, VER_STOP, SA_ANSWER_DONE);
    }
    const int32_t outward[3] = {axis.x, axis.y, axis.z};
    const QelVector goal = Along(port, outward, clear + 1000000);
    O_SteerDirect(s.o, &goal);
    const bool inPort = Dist(Pos(s.o), port) <= inside;
    s.o->desiredSpeed = std::min(top, inPort ? kClearSpeedInside : kClearSpeedOut);
}

int32_t FoldAngle(int64_t a) {
    a %= 65536;
    if (a >= 32768) a -= 65536;
    if (a < -32768) a += 65536;
    return static_cast<int32_t>(a);
}

void RotateToAngles(Ship s) {
    const int32_t a = s.d->OrderPos.x, b = s.d->OrderPos.y, roll = s.d->OrderPos.z;
    QelMatrix wanted;
    Qel_MatFromAngles(&wanted, a, b, 0);
    const QelVector goal = Along(Pos(s.o), wanted.m + 8, 1000000);
    const bool rollGiven = roll != SA_NO_ROLL;
    const int32_t rollLeft = rollGiven ? FoldAngle(int64_t{roll} - s.o->rot[2]) : 0;
    if (O_GetAlignment(s.o, &goal) < kAnglesAligned) {
        O_SteerDirect(s.o, &goal);
        s.o->turnLeft[2] = rollLeft;
        return;
    }
    s.o->turnLeft[0] = s.o->turnLeft[1] = 0;
    s.o->turnLeft[2] = rollLeft;
    if (!rollGiven || std::abs(rollLeft) <= kRollTolerance) {
        s.o->turnLeft[2] = 0;
        End(s.o, VER_STOP, SA_ANSWER_DONE);
    }
}

void GlidePos(Ship s) {
    const QelVector& goal = s.d->OrderPos;
    const auto range = static_cast<uint32_t>(s.d->OrderRange);
    const int64_t arrive = int64_t{static_cast<int32_t>(range & 0xFFFFu)} * 222;
    int64_t speed = int64_t{static_cast<int32_t>(range >> 16)} * 222;
    if (speed <= 0) speed = MaxSpeed(s.o);
    const int64_t axis = AxisDist(Pos(s.o), goal);
    const int64_t d = Dist(Pos(s.o), goal);
    // Arrived, or near enough to arrive in this step.
    if (axis <= arrive || d <= speed * std::max(s.dt, 1) / 1000) {
        if (axis > arrive) s.o->instance->pos = goal;
        for (int32_t& v : s.o->drift) v = 0;
        return End(s.o, VER_STOP, SA_ANSWER_DONE);
    }
    // Sideways and all: the drift carries it, the nose stays.
    const QelVector dir = O_UnitDirection(&Pos(s.o), &goal);
    StopDead(s.o);
    s.o->drift[0] = Clamp32(dir.x * speed >> 16);
    s.o->drift[1] = Clamp32(dir.y * speed >> 16);
    s.o->drift[2] = Clamp32(dir.z * speed >> 16);
    for (int32_t& t : s.o->turnLeft) t = 0;
}

void Defensive(Ship s) {
    SectorObject* attacker = s.d->OrderTarget;
    if (attacker && (Killed(attacker) || attacker->container != s.o->container || !attacker->instance))
        attacker = nullptr;
    const int32_t top = MaxSpeed(s.o);
    if (SA_TimeReached(s.d->EvadeUntil)) {
        const int32_t base = O_SpeedRamp(100 - int64_t{s.d->OrderRange}, 0, 100, 1000, 10000);
        const int32_t leg = base + static_cast<int32_t>(int64_t{base} * Qel_Random(301) / 1000);
        s.d->EvadeUntil = SA_TimeAfter(leg);
        const int64_t length = std::max(int64_t{top} * leg / 1000, 5 * int64_t{O_GetRadius(s.o)});
        int64_t v[3] = {0, 0, 0};
        for (int tries = 0; tries < 10; ++tries) {
            for (int64_t& c : v) c = Qel_Random(131073) - 65536;
            if (std::llabs(v[0]) >= 100 || std::llabs(v[1]) >= 100 || std::llabs(v[2]) >= 100) break;
        }
        // Away from the attacker, and across a missile that outruns the ship.
        const auto weigh = [&](const SectorObject* from) {
            const QelVector away = O_UnitDirection(&Pos(from), &Pos(s.o));
            v[0] += away.x;
            v[1] += away.y;
            v[2] += away.z;
        };
        if (attacker) weigh(attacker);
        for (SectorObject* c = SA_ListFirst(O_GetChildList(s.o->container)); c; c = SA_ListNext(c)) {
            const MissileData* m = O_MissileData(c);
            if (m && m->target == s.o && c->instance && !Killed(c) && c->speed > s.o->speed) weigh(c);
        }
        const QelVector origin{}, sum{Clamp32(v[0]), Clamp32(v[1]), Clamp32(v[2]), 0};
        const QelVector dir = O_UnitDirection(&origin, &sum);
        const int32_t axis[3] = {dir.x, dir.y, dir.z};
        s.d->OrderPos = Along(Pos(s.o), axis, length);
        const int32_t r = Qel_Random(100);
        s.d->OrderValue = r < 70 ? SA_STEER_DIRECT : r < 85 ? SA_STEER_WEAK_PITCH : SA_STEER_WEAK_HEADING;
    }
    O_SteerWithStyle(s.o, &s.d->OrderPos, s.d->OrderValue);
    s.o->desiredSpeed = top;
}

void Collect(Ship s) {
    SectorObject* t = s.d->OrderTarget;
    if (Killed(t) || !t->instance) return End(s.o, VER_STOP, SA_ANSWER_ENDED);
    if (t->mainType == SA_MT_DEBRIS && (t->flags2 & kFlag2Collectable) && s.o->container)
        for (SectorObject* c = SA_ListFirst(O_GetChildList(s.o->container)); c; c = SA_ListNext(c))
            if (c->mainType == SA_MT_SHIP && c->reference == t && !Killed(c) && c->instance) {
                s.d->OrderTarget = t = c;
                break;
            }
    const bool debris = t->mainType == SA_MT_DEBRIS;
    const QelVector goal = debris ? s.d->OrderPos : Pos(t);
    const int64_t radii = int64_t{O_GetRadius(s.o)} + O_GetRadius(t);
    const int64_t stop = debris ? O_GetRadius(s.o) + int64_t{kCollectDebrisStop}
                                : radii + std::min<int64_t>(radii * 3 / 2, kCollectMargin);
    const int64_t d = Dist(Pos(s.o), goal);
    if (d <= stop) {
        StopDead(s.o);
        return End(s.o, VER_STOP, SA_ANSWER_DONE);
    }
    O_RotateToPoint(s.o, &goal);
    const int32_t top = MaxSpeed(s.o);
    const int32_t v = O_SpeedRamp(d, stop + 30000, stop + Braking(s.o) + 30000, std::min(kSlowest, top), top);
    s.o->desiredSpeed = O_SpeedRamp(O_GetAlignment(s.o, &goal), kAlign07, 65536, 0, v);
}

// An order with a time limit that the game time has reached ends with 13.
bool TimeIsUp(Ship s) {
    if (!s.d->TimeLimitOn || !SA_TimeReached(s.d->TimeLimit)) return false;
    End(s.o, VER_STOP, SA_ANSWER_TIME);
    return true;
}

void RunCourse(Ship s) {
    const int16_t course = s.d->CourseType;
    if (course != VER_STOP && course != VER_TURNED && course != VER_IDLE && course != VER_LAND && TimeIsUp(s)) return;
    switch (course) {
        case VER_STOP: return Stop(s);
        case VER_FLYBEFORE: return FlyBefore(s);
        case VER_FLYINTO: return FlyInto(s);
        case VER_ROTATEANDCHECK: return RotateAndCheck(s);
        case VER_WARPAWAY: return WarpAway(s);
        case VER_TURNED: return Turned(s);
        case VER_ATTACK:
        case VER_ATTACKBIG:
        case VER_CAPTURE: return Attack(s, course);
        case VER_AVOIDCOLLISION: return Avoid(s);
        case VER_ESCORT: return Escort(s);
        case VER_FOLLOW: return Follow(s);
        case VER_FOLLOWBYCUT: return FollowByCut(s);
        case VER_MOVEPOS: return MovePos(s, true);
        case VER_LAND: return Land(s);
        case VER_IDLE: return Idle(s);
        case VER_CLEARHANGAR: return ClearHangar(s);
        case VER_ROTATETOANGLES: return RotateToAngles(s);
        case VER_GLIDEPOS: return GlidePos(s);
        case VER_WARPIN: return WarpIn(s);
        case VER_DEFENSIVEMOVE: return Defensive(s);
        case VER_MOVEPOSCONTINUE: return MovePos(s, false);
        case VER_COLLECTDEBRIS: return Collect(s);
        default: return;  // unlisted courses leave the ship as it is
    }
}

// ---------------------------------------------------------------- other objects

void Tractor(SectorObject* o, int32_t dt) {
    SectorObject* source = o->tractorSource;
    if (!source) return;
    const ShipData* holder = O_ShipData(source);
    if (Killed(source) || source->container != o->container || !(source->flags & SA_FLAG_PLAYER) || !holder ||
        !source->instance) {
        g_SACombat.releaseTractor(o);
        return;
    }
    const QelVector hold = O_LocalToWorld(&Pos(source), &source->instance->matrix, &holder->holdOffset, 65536);
    const int64_t error = o->tractorDistance - Dist(Pos(o), hold);
    if (std::llabs(error) > kTractorRelease) {
        g_SACombat.releaseTractor(o);
        return;
    }
    // Farther than the kept distance pulls toward the hold point, nearer pushes away.
    const double pullSize = -static_cast<double>(std::clamp<int64_t>(error, -kTractorClamp, kTractorClamp)) * 0.3;
    const QelVector dir = O_UnitDirection(&Pos(o), &hold);
    const double pull[3] = {dir.x / 65536.0 * pullSize, dir.y / 65536.0 * pullSize, dir.z / 65536.0 * pullSize};
    for (int k = 0; k < 3; ++k) o->drift[k] = Clamp32(o->drift[k] + static_cast<int64_t>(pull[k] * dt / 4500));
    const int32_t* f = Forward(o);
    const double fw[3] = {f[0] / 65536.0, f[1] / 65536.0, f[2] / 65536.0};
    const double turn[3] = {fw[1] * pull[2] - fw[2] * pull[1], fw[2] * pull[0] - fw[0] * pull[2],
                            fw[0] * pull[1] - fw[1] * pull[0]};
    QelVector world{};
    int32_t* w = &world.x;
    for (int k = 0; k < 3; ++k)
        w[k] = static_cast<int32_t>(std::clamp(turn[k] * dt * 0.001 / 50000000000.0, -0.02, 0.02) * 65536);
    QelVector local;
    Qel_MatTransMulVec(&o->instance->matrix, &world, &local);
    // Turning about the up axis is the heading, about the side axis the pitch.
    o->rotSpeed[0] = local.y;
    o->rotSpeed[1] = local.x;
    o->rotSpeed[2] = local.z;
}

void TypeRotation(SectorObject* o) {
    o->rotSpeed[0] = TypeField(o, SA_TF_STEP_Y);
    o->rotSpeed[1] = TypeField(o, SA_TF_STEP_X);
    o->rotSpeed[2] = TypeField(o, SA_TF_STEP_Z);
}

void Bullet(SectorObject* o) {
    TypeRotation(o);
    const BulletData* b = O_BulletData(o);
    if (b && S_ClockDiff(b->expiryTime, Now()) > 0) {
        o->speed = o->desiredSpeed;
        return;
    }
    SS_KillObject(o, 4, nullptr, 0);
}

// A missile whose type carries a cut splits into the pieces the cut names,
// once, as soon as it has flown longer than its type's split delay.
bool Decouples(const SectorObject* o, int32_t flight) {
    if ((o->flags2 & kFlag2Decoupled) || !o->eventObject || TypeField(o, SA_TF_MISSILE_CUT) <= 0) return false;
    return int64_t{flight} >= int64_t{TypeField(o, SA_TF_MISSILE_SPLIT_DELAY)} + 1;
}

// Returns 1 when the missile closes in on the player's ship.
bool Missile(SectorObject* o) {
    MissileData* m = O_MissileData(o);
    if (!m) return false;
    if (Killed(m->target)) m->target = nullptr;
    const int32_t lifetime = TypeField(o, SA_TF_MISSILE_FLIGHT_TIME);
    const int32_t flight = S_ClockDiff(Now(), m->launchTime);
    if (lifetime > 0 && flight >= lifetime) {
        if (m->target && (m->target->flags & SA_FLAG_PLAYER)) {
            const int32_t id = static_cast<int32_t>(o->id);
            SA_RunStory(SA_NOTIFY_OBJECT, "NotifySelfDestruct", 1, &id);
        }
        const uint32_t id = o->id;
        const uint32_t eventObject = o->eventObject;
        SS_KillObject(o, 4, nullptr, 0);
        if (eventObject && SA_LookupObject(id) == o) {
            const int32_t args[3] = {4, 0, 0};
            SA_RunStory(eventObject, "KilledBy", 3, args);
        }
        return false;
    }
    if (Decouples(o, flight)) {
        O_DecoupleMissile(o);
        // The story heard of every piece; it may have ended the missile.
        if (o->flags & SA_FLAG_KILLED) return false;
    }
    if (flight > kMissileFullSpeed) o->desiredSpeed = MaxSpeed(o);
    if (SA_TimeReached(m->NextThink)) {
        m->NextThink = SA_TimeAfter(1000 + Qel_Random(2001));
        if (!m->target) m->target = O_FindNearestEnemyOf(o, kMissileSearch);
        const bool wander = Qel_Random(100) < 5;
        for (int32_t& c : m->steer) c = wander ? Qel_Random(2 * kMissileOffset + 1) - kMissileOffset : 0;
    }
    SectorObject* t = m->target;
    if (!t || !t->instance) return false;
    const int64_t beyond = Dist(Pos(o), Pos(t)) - O_GetRadius(t);
    QelVector goal = Pos(t);
    if (beyond > kMissileApproach) {
        const QelVector offset{m->steer[0], m->steer[1], m->steer[2], 0};
        goal = O_LocalToWorld(&goal, &o->instance->matrix, &offset, Clamp32(beyond / 4));
    }
    if (beyond <= kMissileNear) o->desiredSpeed = MaxSpeed(o);
    O_SteerDirect(o, &goal);
    return beyond <= kMissileApproach && (t->flags & SA_FLAG_PLAYER);
}

void Camera(SectorObject* o) {
    const CameraData* cam = O_CameraData(o);
    SectorObject* t = cam ? cam->destination : nullptr;
    if (Killed(t) || !t->instance) return;
    O_SteerDirect(o, &Pos(t));
    for (int32_t& a : o->turnLeft)
        if (std::abs(static_cast<int16_t>(a)) < kCameraTolerance) a = 0;
    const int64_t contact = int64_t{O_GetRadius(o)} + O_GetRadius(t);
    o->desiredSpeed = O_SpeedRamp(AxisDist(Pos(o), Pos(t)), contact, contact + 100000, 0, MaxSpeed(o));
}

void SpeedPass(SectorObject* o, int32_t dt) {
    if (o->flags & kNoSpeedPass) return;
    ShipData* ship = O_ShipData(o);
    if (ship || o->mainType == SA_MT_CAMERA) o->desiredSpeed = std::min(o->desiredSpeed, MaxSpeed(o));
    if (ship && ship->SpeedLimit >= 0) o->desiredSpeed = std::min(o->desiredSpeed, ship->SpeedLimit);
    if (ship && (o->flags & SA_FLAG_HOLDER) && (o->flags & SA_FLAG_AUTOPILOT) &&
        ((o->flags & kMarkApproached) || (ship->holdTime && !SA_TimeReached(ship->holdTime)))) {
        StopDead(o);
        for (int32_t& r : o->rotSpeed) r = 0;
        return;
    }
    if (o->speed == o->desiredSpeed) return;
    const int64_t step = std::max<int64_t>(int64_t{SA_GetShipValue18(o)} * dt / 1000, 1);
    const int64_t diff = int64_t{o->desiredSpeed} - o->speed;
    o->speed = Clamp32(o->speed + std::clamp(diff, -step, step));
}

// The alarm of missiles that have the player's ship as their target; only the
// sector that holds the player's ship decides.
void MissileAlarm(SectorObject* sector, bool closing) {
    CockpitSystem* cockpits = g_CockpitSystem;
    const SectorObject* player = Root()->game.playerObject;
    if (!cockpits || (player && player->container != sector)) return;
    bool aimed = false;
    for (SectorObject* c = SA_ListFirst(O_GetChildList(sector)); c && !aimed; c = SA_ListNext(c)) {
        const MissileData* m = O_MissileData(c);
        aimed = m && !Killed(c) && m->target && (m->target->flags & SA_FLAG_PLAYER);
    }
    if (aimed) {
        if (!(cockpits->statusFlags & SA_STATUS_MISSILE_ALARM) && g_SAPlaySound)
            g_SAPlaySound(0, 0, SA_MISSILE_ALARM_SOUND, -1);
        cockpits->statusFlags |= SA_STATUS_MISSILE_ALARM;
    } else {
        cockpits->statusFlags &= ~SA_STATUS_MISSILE_ALARM;
    }
    int32_t& pending = cockpits->stateWords[1];
    if (closing && pending < SA_ALERT_MISSILE) pending = SA_ALERT_MISSILE;
}

}  // namespace

SA_CombatLink g_SACombat = {O_RechargeObject, O_UpdateTurrets, O_PositionBeamBullet, O_ReleaseTractor};
SA_PlaySoundFn g_SAPlaySound = nullptr;

int32_t VER_FrameStep() {
    const int32_t dt = g_SystemState ? g_SystemState->gameFrameDelta : 0;
    return std::clamp(dt, 0, kMaxStep);
}

void VER_UpdateObjects(SectorObject* sector) {
    SpaceRoot* root = Root();
    if (!root || !O_GetChildList(sector)) return;
    SA_Pass pass;
    const int32_t dt = VER_FrameStep();
    if (SectorObject* ref = root->game.playerObject)
        if (ref->container && Obj_IsDockOrFactory(ref->container) && ref->container != sector)
            g_SACombat.recharge(ref->container);
    const std::vector<uint32_t> ids = SA_ChildIds(sector);
    bool closing = false;
    for (uint32_t id : ids) {
        SectorObject* o = SA_PassChild(id, sector);
        if (!o) continue;
        o->prevPos = o->instance->pos;
        for (int k = 0; k < 3; ++k) o->prevRot[k] = o->rot[k];
        if (o->flags & SA_FLAG_HELD) continue;
        const int16_t m = o->mainType;
        if (o->flags & SA_FLAG_HANGS_ON) {
            if ((m >= SA_MT_DOCK && m <= SA_MT_SHIP) || m == SA_MT_GATE) g_SACombat.recharge(o);
            continue;
        }
        Tractor(o, dt);
        if (Killed(o) || m > SA_MT_SPECIAL) continue;
        switch (m) {
            case SA_MT_BULLET: Bullet(o); break;
            case SA_MT_SUN:
                if (TypeField(o, SA_TF_OWN) >= 1) TypeRotation(o);
                break;
            case SA_MT_DOCK:
            case SA_MT_FACTORY:
            case SA_MT_GATE: g_SACombat.recharge(o); break;
            case SA_MT_SHIP:
                g_SACombat.recharge(o);
                if (SA_PassChild(id, sector) == o) RunCourse(Ship{o, O_ShipData(o), dt});
                break;
            case SA_MT_MISSILE: closing = Missile(o) || closing; break;
            case SA_MT_CAMERA: Camera(o); break;
            default: break;
        }
    }
    if (Killed(sector)) return;
    MissileAlarm(sector, closing);
    for (uint32_t id : SA_ChildIds(sector)) {
        SectorObject* o = SA_PassChild(id, sector);
        if (o && O_IsShipCameraOrMissile(o)) SpeedPass(o, dt);
    }
}
