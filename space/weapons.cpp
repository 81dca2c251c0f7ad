#include "space/weapons.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "base/log.h"
#include "base/random.h"
#include "cockpit/effects.h"
#include "scene/caches.h"
#include "scene/jobs.h"
#include "scene/records.h"
#include "space/collisions.h"
#include "space/create.h"
#include "space/cutscene.h"
#include "space/flight.h"
#include "space/helpers.h"
#include "space/kill.h"
#include "space/objects.h"
#include "space/orders.h"
#include "space/queries.h"
#include "space/typesdb.h"
#include "system/clock.h"

namespace {

constexpr int32_t kDefaultReload = 1000;
constexpr int32_t kMaxRechargeStep = 1000;
constexpr int32_t kTractorChainMax = 64;

int32_t Clamp32(int64_t v) { return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v); }

const int32_t* Fields(int32_t mainType, int32_t subType) {
    const TypeRecord* t = SA_GetTypeRecord(mainType, subType);
    return t ? t->field : nullptr;
}

int32_t TypeField(const SectorObject* o, int32_t field) {
    const TypeRecord* t = O_GetTypeRecord(o);
    return t ? t->field[field] : 0;
}

bool Killed(const SectorObject* o) { return !o || (o->flags & SA_FLAG_KILLED); }

// The number of gun groups: a ship's turrets; a station fires with one group.
int32_t GroupCount(const SectorObject* shooter) {
    return shooter->mainType == SA_MT_SHIP ? SA_GetShipTurretCount(shooter) : 1;
}

// The lasers of a gun group, in child-list order.
std::vector<SectorObject*> GroupLasers(SectorObject* shooter, int32_t group) {
    std::vector<SectorObject*> lasers;
    for (SectorObject* c = SA_FirstChild(shooter); c; c = SA_ListNext(c)) {
        const LaserData* d = c->mainType == SA_MT_LASER ? static_cast<const LaserData*>(c->typeData) : nullptr;
        if (d && d->slot == group) lasers.push_back(c);
    }
    return lasers;
}

QelVector Forward(const SectorObject* o) {
    const QelMatrix& m = o->instance->matrix;
    return QelVector{m.m[8], m.m[9], m.m[10], 0};
}

// A matrix whose forward (third) row is the unit direction.
QelMatrix FacingMatrix(const QelVector& dir) {
    const double f[3] = {dir.x / 65536.0, dir.y / 65536.0, dir.z / 65536.0};
    double up[3] = {0, 1, 0};
    if (std::fabs(f[1]) > 0.99) up[0] = 1, up[1] = 0;
    double r[3] = {up[1] * f[2] - up[2] * f[1], up[2] * f[0] - up[0] * f[2], up[0] * f[1] - up[1] * f[0]};
    const double len = std::sqrt(r[0] * r[0] + r[1] * r[1] + r[2] * r[2]);
    for (double& c : r) c /= len;
    const double u[3] = {f[1] * r[2] - f[2] * r[1], f[2] * r[0] - f[0] * r[2], f[0] * r[1] - f[1] * r[0]};
    QelMatrix m;
    Qel_MatIdentity(&m);
    for (int k = 0; k < 3; ++k) {
        m.m[k] = static_cast<int32_t>(std::lround(r[k] * 65536));
        m.m[4 + k] = static_cast<int32_t>(std::lround(u[k] * 65536));
        m.m[8 + k] = static_cast<int32_t>(std::lround(f[k] * 65536));
    }
    return m;
}

// Whether the laser may fire now, and the energy (thousandths) it takes.
bool Ready(SectorObject* laser, int32_t mode, int64_t* energy) {
    const LaserData* d = static_cast<const LaserData*>(laser->typeData);
    int32_t delay = TypeField(laser, SA_TF_LASER_RELOAD);
    if (delay <= 0) delay = kDefaultReload;
    const int64_t full = int64_t{TypeField(laser, SA_TF_LASER_ENERGY)} * 1000;
    const int32_t now = SA_Now();
    if (mode & SA_FIRE_RAMP) {
        // The energy a shot needs grows with the time since the last one.
        int64_t since = d->nextShot == 0 ? delay : S_ClockDiff(now, d->nextShot) + delay;
        since = std::clamp<int64_t>(since, 0, delay);
        *energy = full * since / delay;
        return true;
    }
    *energy = full;
    return d->nextShot == 0 || SA_TimeReached(d->nextShot);
}

// Whether the target is aimed at: within the aim cone, or the turret test passes.
bool Aims(SectorObject* shooter, SectorObject* target, int32_t group, int32_t mode) {
    if (Killed(target) || !target->instance || target->container != shooter->container) return false;
    if (O_GetAlignment(shooter, &target->instance->pos) >= SA_AIM_CONE) return true;
    return (mode & SA_FIRE_TURRET) && O_IsTargetInFiringRangeOfTurret(shooter, target, group, nullptr, nullptr);
}

// A bullet with its own step flies the first path of the cut its type names
// as its scene resource, from the moment it leaves the gun.
void StartPath(SectorObject* bullet, const int32_t* bf) {
    const int32_t cutId = bf ? bf[SA_TF_BULLET_SCENE_RESOURCE] : 0;
    J3D_Cut* cut = cutId > 0 ? J3D_GetCut(cutId) : nullptr;
    if (cut) J3D_JobStartInst(bullet->instance, 0, 0, cut, -1, 0);
}

SectorObject* Shoot(SectorObject* shooter, SectorObject* target, int32_t group, int32_t bulletType, bool aimed,
                    int32_t mode) {
    const int32_t* bf = Fields(SA_MT_BULLET, bulletType);
    const QelVector gun = shooter->instance->pos;
    QelVector unit = Forward(shooter);
    if (aimed) unit = O_UnitDirection(&gun, &target->instance->pos);
    const int32_t spread[3] = {Qel_Random(2 * SA_AIM_SPREAD + 1) - SA_AIM_SPREAD,
                               Qel_Random(2 * SA_AIM_SPREAD + 1) - SA_AIM_SPREAD,
                               Qel_Random(2 * SA_AIM_SPREAD + 1) - SA_AIM_SPREAD};
    const QelVector dir = O_SpreadDirection(unit, spread);
    SectorObject* bullet = O_AllocObject(SA_TypeCode(SA_MT_BULLET, bulletType));
    if (!bullet) return nullptr;
    O_SetContainer(bullet, shooter->container);
    if (!bullet->instance || bullet->container != shooter->container) {
        O_FreeOrQueue(bullet);
        return nullptr;
    }
    bullet->instance->pos = gun;
    bullet->instance->matrix = FacingMatrix(dir);
    bullet->flags2 |= SA_FLAG2_GUN_SHOT | (shooter->flags2 & SA_FLAG2_SHOOTER_MARK);
    const int64_t speed = bf ? bf[SA_TF_BULLET_SPEED] : 0;
    bullet->speed = bullet->desiredSpeed = Clamp32(speed + shooter->speed);
    // Movement keeps a bullet's velocity: its own speed along the aim plus the shooter's motion.
    const int32_t aim[3] = {dir.x, dir.y, dir.z};
    for (int k = 0; k < 3; ++k)
        bullet->instance->velocity[k] = Clamp32(((speed * aim[k] + 0x8000) >> 16) + shooter->instance->velocity[k]);
    for (int k = 0; k < 3; ++k) bullet->drift[k] = shooter->drift[k];
    bullet->lastMoveTime = SA_Now();
    if (BulletData* b = O_BulletData(bullet)) {
        b->owner = shooter;
        b->target = aimed ? target : nullptr;
        b->lifetime = bf ? bf[SA_TF_BULLET_LIFETIME] : 0;
        b->expiryTime = SA_TimeAfter(b->lifetime);
        b->typeFlags = bf ? static_cast<uint32_t>(bf[SA_TF_BULLET_FLAGS]) : 0;
        b->gunInstance = shooter->instance;
        b->gunPart = group;
        b->start = gun;
        if ((b->typeFlags & SA_BULLET_BEAM) || (mode & SA_FIRE_PLACE_BEAMS)) O_PositionBeamBullet(bullet);
        if (b->typeFlags & SA_BULLET_OWN_STEP) StartPath(bullet, bf);
    }
    EO_AddWeaponEffect(bulletType, &bullet->instance->matrix, shooter, group, &gun);
    return bullet;
}

bool Standing(const SectorObject* o, uint32_t id) { return SA_LookupObject(id) == o && !Killed(o); }

// Whether a turret can turn to a point: it covers the half of space its
// mounting faces (the mounting is in the ship's frame; none covers all).
bool TurretCovers(SectorObject* ship, int32_t n, const QelVector& point) {
    const ShipData* data = O_ShipData(ship);
    if (!data || !data->turrets || n < 0 || n >= data->turretCount || !ship->instance) return false;
    const int32_t* mount = data->turrets[n].mountDirection;
    if (!mount[0] && !mount[1] && !mount[2]) return true;
    const QelVector local{mount[0], mount[1], mount[2], 0};
    QelVector facing;
    Qel_MatMulVec(&ship->instance->matrix, &local, &facing);
    const QelVector to = O_UnitDirection(&ship->instance->pos, &point);
    return int64_t{facing.x} * to.x + int64_t{facing.y} * to.y + int64_t{facing.z} * to.z >= 0;
}

// Where turret n is set to aim: its target's position or its point; false
// when its target is gone from the ship's container.
bool TurretAim(const SectorObject* ship, const TurretSlot& t, QelVector* at) {
    if (t.targetMode == 1) {
        *at = QelVector{t.targetPos[0], t.targetPos[1], t.targetPos[2], 0};
        return true;
    }
    const SectorObject* target = t.target;
    if (Killed(target) || !target->instance || target->container != ship->container) return false;
    *at = target->instance->pos;
    return true;
}

// A turret order runs from calls 23 and 24 until its answer: it is done once
// the turret has turned for its first mark and covers its aim, and it ends
// at its second mark whatever; a target that is gone ends it at once.
int32_t TurretOrderEnd(SectorObject* ship, int32_t n) {
    const TurretSlot& t = O_ShipData(ship)->turrets[n];
    QelVector at;
    if (!TurretAim(ship, t, &at)) return SA_ANSWER_ENDED;
    if (SA_TimeReached(t.markMin) && TurretCovers(ship, n, at)) return SA_ANSWER_DONE;
    return SA_TimeReached(t.markMax) ? SA_ANSWER_TIME : 0;
}

}  // namespace

QelVector O_SpreadDirection(const QelVector& unit, const int32_t spread[3]) {
    const int64_t v[3] = {int64_t{unit.x} + spread[0], int64_t{unit.y} + spread[1], int64_t{unit.z} + spread[2]};
    const int64_t len = Qel_VecLength64(v[0], v[1], v[2]);
    if (len <= 0) return unit;
    return QelVector{Clamp32(v[0] * 65536 / len), Clamp32(v[1] * 65536 / len), Clamp32(v[2] * 65536 / len), 0};
}

int32_t O_FireLasers(SectorObject* shooter, SectorObject* target, int32_t group, int32_t mode, uint32_t mask) {
    if (!shooter || Killed(shooter) || group < 0 || group >= GroupCount(shooter) || !shooter->instance)
        return SA_FIRE_NONE;
    if (!shooter->container) return SA_FIRE_NONE;
    SA_Pass pass;
    const uint32_t shooterId = shooter->id;
    const std::vector<SectorObject*> lasers = GroupLasers(shooter, group);
    std::vector<uint32_t> laserIds;
    for (SectorObject* l : lasers) laserIds.push_back(l->id);
    bool fired = false;
    for (size_t n = 0; n < lasers.size() && n < 32; ++n) {
        SectorObject* laser = lasers[n];
        if (!Standing(shooter, shooterId) || !Standing(laser, laserIds[n])) break;
        if (!(mask & (1u << n)) || !(laser->flags & SA_FLAG_LASER_FREE)) continue;
        const int32_t bulletType = TypeField(laser, SA_TF_LASER_BULLET_TYPE);
        if (bulletType < 0 || bulletType >= g_TypeDB.counts[SA_MT_BULLET]) {
            Qel_DPrintf(0, "SSL_MaskOfBullet of laser subtype %d is incorrect!!!\n", laser->subType);
            continue;
        }
        int64_t energy = 0;
        if (!Ready(laser, mode, &energy)) continue;
        ShipData* ship = O_ShipData(shooter);
        if (ship && ship->laserEnergy < energy) continue;
        const int32_t* bf = Fields(SA_MT_BULLET, bulletType);
        const bool ammunition = bf && (bf[SA_TF_BULLET_FLAGS] & SA_BULLET_AMMUNITION);
        if (ammunition && shooter->eventObject) {
            const int32_t args[2] = {SA_MT_BULLET, bulletType};
            const int32_t left = SA_AskStory(shooter->eventObject, "GetAmmunitionCountReload", 2, args, 0);
            if (!Standing(shooter, shooterId) || !Standing(laser, laserIds[n])) break;
            if (!left) continue;
        }
        const bool aimed = target && Aims(shooter, target, group, mode);
        if (ship) ship->laserEnergy = Clamp32(ship->laserEnergy - energy);
        LaserData* d = static_cast<LaserData*>(laser->typeData);
        int32_t delay = TypeField(laser, SA_TF_LASER_RELOAD);
        d->energy = Clamp32(energy);
        d->nextShot = SA_TimeAfter(delay > 0 ? delay : kDefaultReload);
        if (!Shoot(shooter, aimed ? target : nullptr, group, bulletType, aimed, mode)) continue;
        fired = true;
        if (g_SpaceRoot && (shooter->flags & SA_FLAG_PLAYER)) ++g_SpaceRoot->game.lasersFired;
        if (ammunition && shooter->eventObject) {
            const int32_t args[3] = {SA_MT_BULLET, bulletType, -1};
            SA_RunStory(shooter->eventObject, "UseAmmunition", 3, args);
        }
    }
    return fired ? SA_FIRE_DONE : SA_FIRE_NONE;
}

void O_PositionBeamBullet(SectorObject* bullet) {
    BulletData* b = bullet ? O_BulletData(bullet) : nullptr;
    if (!b || !(b->typeFlags & SA_BULLET_BEAM) || !bullet->instance) return;
    SectorObject* gun = b->owner;
    if (Killed(gun) || !gun->instance) return;
    b->gunInstance = gun->instance;
    const QelVector from = gun->instance->pos;
    QelVector dir = Forward(gun);
    int64_t half = int64_t{TypeField(bullet, SA_TF_BULLET_SPEED)} * b->lifetime / 1000 / 2;
    if (!Killed(b->target) && b->target->instance && b->target->container == bullet->container) {
        dir = O_UnitDirection(&from, &b->target->instance->pos);
        half = SA_VecDistance(&from, &b->target->instance->pos) / 2;
    }
    if (half < 2) {
        Qel_DPrintf(0, "O_PositionBeamBullet(): halfrange <= 0\n");
        return;
    }
    bullet->instance->matrix = FacingMatrix(dir);
    const QelVector ahead{0, 0, 65536, 0};
    bullet->instance->pos = O_LocalToWorld(&from, &bullet->instance->matrix, &ahead, Clamp32(half));
    const int32_t size = std::max(bullet->instance->size, 1);
    bullet->instance->scale = QelVector{65536, 65536, Clamp32(half * 65536 / size), 0};
    // In over the first sixteenth of its life, out over the last one.
    const int32_t life = std::max(b->lifetime, 1);
    const int64_t left = std::clamp<int64_t>(S_ClockDiff(b->expiryTime, SA_Now()), 0, life);
    const int64_t in = std::min<int64_t>(65536, (life - left) * 16 * 65536 / life);
    const int64_t out = std::min<int64_t>(65536, left * 16 * 65536 / life);
    b->fade = static_cast<int32_t>(std::min(in, out));
}

void O_ReleaseTractor(SectorObject* object) {
    // The story's answer may free either end: the free waits for the pass.
    SA_Pass pass;
    for (int n = 0; object && n < kTractorChainMax; ++n) {
        SectorObject* source = object->tractorSource;
        O_FreeTractorBeam(object);
        for (int32_t& r : object->rotSpeed) r = 0;
        object->tractorSource = nullptr;
        if (source) {
            ShipData* ship = O_ShipData(source);
            if (ship) ship->SpeedLimit = -1;
            if (source->tractorHeld == object) source->tractorHeld = nullptr;
            if (source->eventObject && !(ship && ship->WarpEffectOn)) {
                const int32_t arg = 0;
                SA_RunStory(source->eventObject, "SetTractorDst", 1, &arg);
            }
        }
        SectorObject* chained = object->tractorHeld;
        if (chained && chained->tractorSource != object) chained = nullptr;
        object = chained;
    }
}

int O_IsTargetInFiringRangeOfTurret(SectorObject* ship, SectorObject* target, int32_t turret, int32_t* alignment,
                                    int32_t* distance) {
    if (!ship || !target || turret < 0 || turret >= GroupCount(ship) || !ship->instance || !target->instance) return 0;
    if (Killed(target) || target->container != ship->container) return 0;
    const std::vector<SectorObject*> lasers = GroupLasers(ship, turret);
    if (lasers.empty()) return 0;
    SectorObject* laser = O_GetLaserInstance(ship, turret);
    if (!laser || !laser->instance) {
        Qel_DPrintf(0, "Laser Instance not found!\n");
        return 0;
    }
    const int64_t d = SA_VecDistance(&ship->instance->pos, &target->instance->pos);
    const int32_t aim = O_GetAlignment(ship, &target->instance->pos);
    int64_t reach = 0;
    for (SectorObject* l : lasers) reach = std::max<int64_t>(reach, Obj_LaserTypeRange(l->subType));
    if (d > reach + O_GetRadius(target)) return 0;
    // The ship's own guns look ahead; the other turrets turn in their half of space.
    if (turret == 0 && aim < SA_AIM_CONE) return 0;
    if (turret > 0 && !TurretCovers(ship, turret, target->instance->pos)) return 0;
    if (alignment) *alignment = aim;
    if (distance) *distance = Clamp32(d);
    return 1;
}

int O_GetTurretFiringMask(SectorObject* ship, int32_t turret, SectorObject* target, QelVector* aim) {
    if (!ship || ship->mainType != SA_MT_SHIP || turret < 0) return 0;
    SA_Pass pass;
    int32_t allowed = -1;
    if (ship->eventObject) {
        const uint32_t id = ship->id;
        allowed = SA_AskStory(ship->eventObject, "GetTurretFiringMask", 1, &turret, -1);
        if (!Standing(ship, id)) return 0;
    }
    int32_t ready = 0;
    const std::vector<SectorObject*> lasers = GroupLasers(ship, turret);
    for (size_t n = 0; n < lasers.size() && n < 32; ++n)
        if ((static_cast<uint32_t>(allowed) & (1u << n)) && (lasers[n]->flags & SA_FLAG_LASER_FREE)) ++ready;
    if (ready < 1 || !O_IsTargetInFiringRangeOfTurret(ship, target, turret, nullptr, nullptr)) return 0;
    if (aim) *aim = target->instance->pos;
    return 1;
}

void O_UpdateTurrets(SectorObject* ship, int32_t step) {
    ShipData* d = O_ShipData(ship);
    if (!d || !d->turrets || step <= 0 || GroupCount(ship) < 2) return;
    SA_Pass pass;
    const uint32_t id = ship->id;
    for (int32_t n = 1; n < d->turretCount && n < GroupCount(ship); ++n) {
        TurretSlot& t = d->turrets[n];
        if (t.caller.module || t.markMin || t.markMax) {
            if (const int32_t code = TurretOrderEnd(ship, n)) {
                t.markMin = t.markMax = 0;
                SA_FireTurretCallback(ship, n, code);
                if (!Standing(ship, id)) return;
            }
        }
        SectorObject* target = t.target;
        if (Killed(target) || t.targetMode != 0) continue;
        QelVector aim{};
        if (!O_GetTurretFiringMask(ship, n, target, &aim)) {
            if (!Standing(ship, id)) return;
            continue;
        }
        O_FireLasers(ship, target, n, SA_FIRE_TURRET, 0xFFFFFFFFu);
        if (!Standing(ship, id)) return;
    }
}

void O_RechargeObject(SectorObject* object) {
    if (!object) return;
    int32_t* stamp = nullptr;
    ShipData* ship = O_ShipData(object);
    if (ship) stamp = &ship->rechargeTime;
    else if (DockData* dock = O_DockData(object)) stamp = &dock->rechargeTime;
    if (!stamp) return;
    const int32_t now = SA_Now();
    if (*stamp == 0) {
        *stamp = now;
        return;
    }
    const int64_t dt = std::clamp(S_ClockDiff(now, *stamp), 0, kMaxRechargeStep);
    *stamp = now;
    if (dt == 0) return;
    if (ship) {
        const int64_t top = int64_t{TypeField(object, SA_TF_SHIP_LASER_POWER_MAX)} * 1000;
        const int64_t reload = TypeField(object, SA_TF_SHIP_LASER_POWER_RELOAD);
        if (ship->laserEnergy < top) ship->laserEnergy = Clamp32(std::min(top, ship->laserEnergy + reload * dt));
    }
    const int64_t power = SA_GetShieldPowerGeneration(object->mainType, object->subType);
    if (power <= 0) return;
    for (SectorObject* c = SA_FirstChild(object); c; c = SA_ListNext(c)) {
        if (c->mainType != SA_MT_SHIELD || !c->typeData) continue;
        ShieldData* s = static_cast<ShieldData*>(c->typeData);
        const int32_t top = TypeField(c, SA_TF_SHIELD_ENERGY);
        if (s->energy < top) s->energy = Clamp32(std::min<int64_t>(top, s->energy + power * dt / 1000));
        s->rechargeTime = now;
    }
}

// ---------------------------------------------------------------- laser energy

int32_t O_GetLaserEnergy(SectorObject* object, int32_t slot, int maximum) {
    if (!object) return 0;
    if (slot < 0) {
        const ShipData* ship = O_ShipData(object);
        if (!ship) return 0;
        return maximum ? TypeField(object, SA_TF_SHIP_LASER_POWER_MAX) : ship->laserEnergy / 1000;
    }
    SectorObject* laser = O_GetLaserInstance(object, slot);
    if (!laser || !laser->typeData) return 0;
    return maximum ? TypeField(laser, SA_TF_LASER_ENERGY)
                   : static_cast<const LaserData*>(laser->typeData)->energy / 1000;
}

void O_SetLaserEnergy(SectorObject* ship, int32_t energy, int32_t slot) {
    const int32_t top = O_GetLaserEnergy(ship, slot, 1);
    const int64_t value = std::clamp<int64_t>(energy, 0, top > 0 ? top : INT32_MAX);
    if (slot < 0) {
        if (ShipData* d = O_ShipData(ship)) d->laserEnergy = Clamp32(value * 1000);
    } else if (SectorObject* laser = O_GetLaserInstance(ship, slot); laser && laser->typeData) {
        static_cast<LaserData*>(laser->typeData)->energy = Clamp32(value * 1000);
    }
}
