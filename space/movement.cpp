#include "space/movement.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "base/fixmath.h"
#include "base/log.h"
#include "base/table.h"
#include "scene/bodyrecord.h"
#include "scene/records.h"
#include "space/behaviour.h"
#include "space/components.h"
#include "space/flight.h"
#include "space/kill.h"
#include "space/objects.h"
#include "space/orders.h"
#include "space/queries.h"
#include "space/typesdb.h"
#include "system/clock.h"

namespace {

constexpr int32_t kMaxStep = 1000;
constexpr int32_t kLevelSteering = 2;  // the player's steering word: level the roll
constexpr int32_t kHoldRoll = 4;       // ... and keep the current roll as the level one
constexpr int32_t kSteepLow = 8192, kSteepHigh = 57344;
// The engine glow follows the speed quickly, but takes about a second to
// flare up to its backward boost.
constexpr int32_t kGlowFull = B3D_GLOW_FULL, kGlowIdle = 655, kGlowBackward = 262799;
static_assert(SA_PART_GLOW == B3D_PART_GLOW && SA_PART_ENGINE == B3D_PART_ENGINE);
constexpr int32_t kGlowRate = 262;     // per ms of step
constexpr int32_t kThrustTurn = 3276;  // a turn speed that fires the turning jets

int32_t Clamp32(int64_t v) { return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v); }

int32_t Fold(int64_t a) {
    a %= 65536;
    if (a >= 32768) a -= 65536;
    if (a < -32768) a += 65536;
    return static_cast<int32_t>(a);
}

// The top turn speeds of the three axes (heading, pitch, roll) and the turn
// acceleration factor (16.16) of the object.
void TurnRates(const SectorObject* o, int32_t rates[3], int32_t* factor) {
    rates[0] = SA_GetScaledTypeValue2(o);
    rates[1] = SA_GetScaledTypeValue3(o);
    rates[2] = SA_GetScaledTypeValue4(o);
    const ShipData* ship = O_ShipData(const_cast<SectorObject*>(o));
    *factor = ship && ship->rotAccel ? ship->rotAccel : 65536;
}

int32_t Steer(int32_t remaining, int32_t* speed, int32_t rate, int32_t factor, int32_t step) {
    const int32_t accel = Clamp32(int64_t{rate} * factor >> 16);
    return O_SteerToTarget(remaining, *speed, rate, accel, step, speed);
}

void Turn(SectorObject* o, int32_t step) {
    int32_t inc[3] = {0, 0, 0};
    if (o->flags & SA_FLAG_HANGS_ON) {
        // Carried: as fast as the carrier moves, within ten times its own top speed.
        const SectorObject* carrier = o->reference;
        if (carrier && carrier->instance) {
            const int32_t* v = carrier->instance->velocity;
            const int64_t length = Qel_VecLength64(v[0], v[1], v[2]);
            o->speed = Clamp32(std::min<int64_t>(length, 10 * int64_t{SA_GetTunedTypeSpeed(o)}));
        }
        return;
    }
    if (!(o->flags & SA_FLAG_HELD) && (o->flags & SA_FLAG_AUTOPILOT)) {
        int32_t rates[3], factor;
        TurnRates(o, rates, &factor);
        for (int k = 0; k < 3; ++k) {
            const int32_t remaining = Fold(o->turnLeft[k]);
            if (remaining == 0) continue;
            inc[k] = Steer(remaining, &o->rotSpeed[k], rates[k], factor, step);
            o->turnLeft[k] = remaining - inc[k];
        }
        Qel_DPrintf(8192, "B3D_BerechneSXZ: obj=%ld sx=%lx sz=%lx\n", static_cast<long>(o->id),
                    static_cast<unsigned long>(static_cast<uint32_t>(o->rotSpeed[0])),
                    static_cast<unsigned long>(static_cast<uint32_t>(o->rotSpeed[2])));
    } else {
        for (int k = 0; k < 3; ++k) inc[k] = Clamp32(int64_t{o->rotSpeed[k]} * step / 1000);
        SpaceRoot* root = g_SpaceRoot;
        if (!(o->flags & SA_FLAG_HELD) && (o->flags & SA_FLAG_PLAYER) && (root->game.steering & kLevelSteering)) {
            if (root->game.steering & kHoldRoll) {
                root->rollAngle = o->rot[2];
            } else {
                const int32_t pitch = o->rot[1] & 0xFFFF;
                if (pitch < kSteepLow || pitch > kSteepHigh) {
                    int32_t rates[3], factor;
                    TurnRates(o, rates, &factor);
                    inc[2] = Steer(Fold(int64_t{root->rollAngle} - o->rot[2]), &o->rotSpeed[2], rates[2], factor, step);
                }
            }
        }
    }
    if (inc[0] == 0 && inc[1] == 0 && inc[2] == 0) return;
    QelMatrix r, turned;
    Qel_MatFromAngles(&r, inc[0], inc[1], inc[2]);
    Qel_MatMul(&r, &o->instance->matrix, &turned);
    Qel_Norm3Vec(&turned);
    o->instance->matrix = turned;
    Qel_AnglesFromMat(&turned, &o->rot[0], &o->rot[1], &o->rot[2]);
}

// A ship under way that is not docking flies no forward drift: its drift
// keeps only what lies across its axis.
void DropForwardDrift(SectorObject* o) {
    const QelVector drift{o->drift[0], o->drift[1], o->drift[2], 0};
    QelVector local, back;
    Qel_MatTransMulVec(&o->instance->matrix, &drift, &local);
    local.z = 0;
    Qel_MatMulVec(&o->instance->matrix, &local, &back);
    o->drift[0] = back.x;
    o->drift[1] = back.y;
    o->drift[2] = back.z;
}

void CountDistance(SectorObject* o, int32_t step) {
    SpaceGameWords& game = g_SpaceRoot->game;
    int64_t remainder = game.distanceRemainder + std::llabs(int64_t{o->speed}) * step / 1000;
    game.totalDistance += static_cast<int32_t>(remainder / SA_DISTANCE_LEG);
    game.distanceRemainder = static_cast<int32_t>(remainder % SA_DISTANCE_LEG);
}

void Move(SectorObject* o, int32_t step) {
    Inst3D* inst = o->instance;
    if (o->mainType != SA_MT_BULLET) {
        const int32_t* f = inst->matrix.m + 8;
        for (int k = 0; k < 3; ++k) inst->velocity[k] = Clamp32((int64_t{o->speed} * f[k] + 0x8000) >> 16);
        const ShipData* ship = O_ShipData(o);
        if (ship && o->speed != 0 && ship->CourseType != VER_FLYINTO) DropForwardDrift(o);
    }
    if (o->flags & SA_FLAG_PLAYER) CountDistance(o, step);
    int32_t* p = &inst->pos.x;
    for (int k = 0; k < 3; ++k) p[k] = Clamp32(p[k] + (int64_t{inst->velocity[k]} + o->drift[k]) * step / 1000);
    for (int32_t& d : o->drift)
        if (d) d = static_cast<int32_t>(int64_t{d} * (2000 - step) / 2000);
}

// A bullet fades out over its life in 255 steps, a beam as its fade runs;
// it never reaches 0, which would draw it opaque again.
void BulletAlpha(SectorObject* o, BulletData* b) {
    if (b->lifetime <= 0 || !o->instance) return;
    int32_t alpha;
    if (b->typeFlags & SA_BULLET_BEAM) {
        alpha = static_cast<int32_t>(int64_t{std::clamp(b->fade, 0, 65536)} * 255 >> 16);
    } else {
        const int64_t left = std::clamp<int64_t>(S_ClockDiff(b->expiryTime, SA_Now()), 0, b->lifetime);
        alpha = static_cast<int32_t>(left * 255 / b->lifetime);
        b->fade = alpha;
    }
    o->instance->alphaOverride = std::max(alpha, 1);
}

// The jets that push toward `push` (its sign) on one axis sit on the
// opposite side.
uint32_t Jets(int axis, int64_t push) {
    if (push == 0) return 0;
    return push > 0 ? B3D_GlowSideBit(axis, -1) : B3D_GlowSideBit(axis, 1);
}

void EngineGlow(SectorObject* o, int32_t step) {
    Inst3D* inst = o->instance;
    if (!inst) return;
    const int32_t top = O_GetMaxSpeed(o);
    int32_t want = kGlowBackward;
    if (o->speed >= 0) want = std::max(kGlowIdle, top > 0 ? O_SpeedRamp(o->speed, 0, top, 0, kGlowFull) : 0);
    int32_t& glow = inst->words5[SA_INST_ENGINE_GLOW];
    const int64_t limit = int64_t{kGlowRate} * step;
    glow = Clamp32(glow + std::clamp<int64_t>(int64_t{want} - glow, -limit, limit));
    // A positive heading speed swings the nose toward -x, a positive pitch
    // speed toward +y; the engines push toward +z while it flies ahead.
    uint32_t sides = 0;
    const int32_t heading = o->rotSpeed[0], pitch = o->rotSpeed[1];
    if (std::abs(int64_t{heading}) >= kThrustTurn) sides |= Jets(0, -int64_t{heading});
    if (std::abs(int64_t{pitch}) >= kThrustTurn) sides |= Jets(1, pitch);
    sides |= Jets(2, o->speed);
    inst->words5[SA_INST_GLOW_SIDES] = static_cast<int32_t>(sides | B3D_GLOW_STATE);
}

void FollowUp(SectorObject* o, int32_t step) {
    if (o->mainType == SA_MT_BULLET) {
        BulletData* b = O_BulletData(o);
        if (!b) return;
        if (b->typeFlags & SA_BULLET_BEAM) g_SACombat.positionBeamBullet(o);
        BulletAlpha(o, b);
    } else if (ShipData* ship = O_ShipData(o)) {
        g_SACombat.updateTurrets(o, step);
        if (ship->CourseType == VER_CLEARHANGAR && ship->OrderTarget && ship->PortIndex >= 0) {
            DockPortTable* ports = O_PortTable(ship->OrderTarget);
            if (ports && ports->slots && ship->PortIndex < ports->slotCount) ports->slots[ship->PortIndex].occupant = o;
        }
        // Its turrets' shots may have ended it through the story.
        if (!(o->flags & SA_FLAG_KILLED)) EngineGlow(o, step);
    }
}

void SpinSector(SectorObject* sector) {
    SectorData* data = O_SectorData(sector);
    if (!data) return;
    const int32_t step = O_MoveStep(data->lastMoveTime);
    data->lastMoveTime = SA_Now();
    if (data->spinRate == 0) return;
    const int64_t rate = std::llabs(int64_t{data->spinRate});
    const int64_t period = std::max<int64_t>(65536000 / rate, 1);
    data->spinClock = static_cast<int32_t>((int64_t{data->spinClock} + step) % period);
    data->spinAngle = Clamp32(int64_t{data->spinRate} * data->spinClock / 1000);
}

}  // namespace

int32_t O_MoveStep(int32_t lastMoveTime) {
    const int32_t step = S_ClockDiff(SA_Now(), lastMoveTime);
    return step < 0 || step > kMaxStep ? kMaxStep : step;
}

void B3D_BerechneSXZ(SectorObject* sector) {
    if (!g_SpaceRoot || !O_GetChildList(sector)) return;
    SA_Pass pass;
    SpinSector(sector);
    for (uint32_t id : SA_ChildIds(sector)) {
        SectorObject* o = SA_PassChild(id, sector);
        if (!o) continue;
        const int32_t step = O_MoveStep(o->lastMoveTime);
        // Moved up to now, whatever the step was: the next frame starts from here.
        o->lastMoveTime = SA_Now();
        Turn(o, step);
        Move(o, step);
        FollowUp(o, step);
    }
}

void SA_UpdateObjectOrient(SectorObject* sector) {
    if (!g_SpaceRoot || !O_GetChildList(sector)) return;
    for (SectorObject* o = SA_ListFirst(O_GetChildList(sector)); o; o = SA_ListNext(o)) {
        if (!(o->flags & SA_FLAG_HANGS_ON) || (o->flags & SA_FLAG_KILLED) || !o->instance) continue;
        const SectorObject* carrier = o->reference;
        if (!carrier || (carrier->flags & SA_FLAG_KILLED) || !carrier->instance) continue;
        const Inst3D* c = carrier->instance;
        if (o->hangReferenceId != carrier->id) {
            // The place it hangs at is where it is now, in the carrier's frame.
            const QelVector offset{Clamp32(int64_t{o->instance->pos.x} - c->pos.x),
                                   Clamp32(int64_t{o->instance->pos.y} - c->pos.y),
                                   Clamp32(int64_t{o->instance->pos.z} - c->pos.z), 0};
            Qel_MatTransMulVec(&c->matrix, &offset, &o->hangOffset);
            o->hangReferenceId = carrier->id;
        }
        o->instance->pos = O_LocalToWorld(&c->pos, &c->matrix, &o->hangOffset, 65536);
        o->instance->matrix = c->matrix;
        for (int k = 0; k < 3; ++k) o->rot[k] = carrier->rot[k];
    }
}
