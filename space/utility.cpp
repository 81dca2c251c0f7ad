#include "space/utility.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <vector>

#include "cockpit/effects.h"
#include "cockpit/ticker.h"
#include "scene/allocs.h"
#include "scene/caches.h"
#include "scene/geometry.h"
#include "scene/instcoll.h"
#include "scene/lists.h"
#include "scene/records.h"
#include "scene/smallops.h"
#include "scene/takes.h"
#include "scene/trees.h"
#include "space/behaviour.h"
#include "space/collisions.h"
#include "space/create.h"
#include "space/cutscene.h"
#include "space/detail.h"
#include "space/flight.h"
#include "space/helpers.h"
#include "space/kill.h"
#include "space/objects.h"
#include "space/queries.h"
#include "space/typesdb.h"

namespace {

// A missile launched behind leaves at this speed plus a twentieth of its maximum.
constexpr int32_t kBehindSpeed = 5000;
constexpr int32_t kAimedMinSpeed = 5000;
// Half-sizes of a missile's collision model (20.0, 10.0, 10.0).
constexpr int32_t kMissileModelA = 0x140000;
constexpr int32_t kMissileModelB = 0xa0000;
constexpr int32_t kMissileModelC = 0xa0000;
constexpr int32_t kMissileSizeScale = 20;
// Shooters whose missiles leave straight: the player's own and those held.
constexpr uint32_t kShooterNoAim = SA_FLAG_PLAYER | SA_FLAG_HELD;
constexpr uint32_t kShooterCopiedFlags2 = 0x400;
// A ship clearing its carrier's hangar (course 30) ignores the carrier this close.
constexpr int16_t kCourseClearHangar = 30;
constexpr int16_t kCourseAvoid = 18;
constexpr int16_t kCourseCapture = 24;
constexpr int64_t kGateClearance = 88800;
constexpr uint32_t kFlagAvoiding = 0x2000;
constexpr uint32_t kFlagObstacleAhead = 0x1000;
// Objects a bullet's sweep passes by: those out of the pair pass, and other bullets.
constexpr uint32_t kSweepExcluded = SA_FLAGS_NOT_COLLIDING | SA_FLAG_DRIFTING_KILL;
constexpr int32_t kSweepMaxHits = 32;
constexpr int32_t kTraceBody = 195;
// Bullet type flags (field 22) that choose the collision model, and its sizes.
constexpr int32_t kBulletModelSimple = 0x2;
constexpr int32_t kBulletModelParts = 0x4;
constexpr int32_t kBulletModelFull = 0x8;
constexpr int32_t kBulletModelA = 26;
constexpr int32_t kBulletModelB = 27;
constexpr int32_t kAnswerDone = 1;

bool IsSector(const SectorObject* o) { return o && o->mainType == SA_MT_SECTOR; }

int32_t Field(int32_t mainType, int32_t subType, int32_t field) {
    const TypeRecord* t = SA_GetTypeRecord(mainType, subType);
    return t ? t->field[field] : 0;
}

// The world axis of row r of an object's instance (unit, double).
void Axis(const SectorObject* o, int r, double out[3]) {
    for (int k = 0; k < 3; ++k) out[k] = o->instance->matrix.m[r * 4 + k] / double(QEL_FIX_ONE);
}

// Where a target moving along its axis at its speed meets a missile of this
// speed leaving from `from`: its position after the time the missile needs
// to reach where it is now.
QelVector InterceptPoint(const QelVector& from, const SectorObject* target, int32_t speed) {
    const QelVector at = target->instance->pos;
    if (speed <= 0) return at;
    double forward[3];
    Axis(target, 2, forward);
    const double t = double(SA_VecDistance(&from, &at)) / speed;
    auto clamp = [](double v) { return static_cast<int32_t>(std::clamp(v, -2147483647.0, 2147483647.0)); };
    return QelVector{clamp(at.x + forward[0] * target->speed * t), clamp(at.y + forward[1] * target->speed * t),
                     clamp(at.z + forward[2] * target->speed * t), 0};
}

int32_t Clamp32(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

// A direction of 33-bit components brought into 32 bits (halved as needed).
QelVector Halved(int64_t x, int64_t y, int64_t z) {
    while (std::max({std::abs(x), std::abs(y), std::abs(z)}) > INT32_MAX) {
        x /= 2;
        y /= 2;
        z /= 2;
    }
    return QelVector{static_cast<int32_t>(x), static_cast<int32_t>(y), static_cast<int32_t>(z), 0};
}

void FaceAngles(SectorObject* o) {
    if (o->instance) Qel_MatFromAngles(&o->instance->matrix, o->rot[0], o->rot[1], o->rot[2]);
}

void PlayLaunchSound(SectorObject* missile) {
    const int32_t sound = Field(missile->mainType, missile->subType, SA_TF_MISSILE_SOUND);
    if (sound > 0 && g_EOSoundLink.play3D && missile->instance && O_KillSoundPlays(missile))
        g_EOSoundLink.play3D(0, 0, sound, missile->instance);
}

// The path test: the obstacle lies ahead of the ship, within both sizes of its line of flight.
bool OnPath(const SectorObject* ship, const SectorObject* obstacle) {
    double forward[3];
    Axis(ship, 2, forward);
    const double d[3] = {double(obstacle->instance->pos.x) - ship->instance->pos.x,
                         double(obstacle->instance->pos.y) - ship->instance->pos.y,
                         double(obstacle->instance->pos.z) - ship->instance->pos.z};
    const double along = d[0] * forward[0] + d[1] * forward[1] + d[2] * forward[2];
    if (along <= 0.0) return false;
    const double across2 = d[0] * d[0] + d[1] * d[1] + d[2] * d[2] - along * along;
    const double reach = double(ship->size) + obstacle->size;
    return across2 < reach * reach;
}

// The avoidance test: another live object in space that is no shot.
bool Avoidable(const SectorObject* ship, const SectorObject* obstacle) {
    return obstacle != ship && obstacle->instance && !(obstacle->flags & SA_FLAG_KILLED) &&
           obstacle->mainType != SA_MT_BULLET && obstacle->mainType != SA_MT_MISSILE;
}

// A ship clearing its carrier's hangar, still close to the carrier.
bool LeavingCarrier(SectorObject* ship, const SectorObject* obstacle) {
    const ShipData* d = O_ShipData(ship);
    if (d->CourseType != kCourseClearHangar || obstacle != ship->parent) return false;
    const int64_t distance = SA_VecDistance(&ship->instance->pos, &obstacle->instance->pos);
    if (obstacle->mainType == SA_MT_GATE) return distance < kGateClearance;
    if (Obj_IsDockOrFactory(obstacle) || obstacle->mainType == SA_MT_SHIP)
        return distance * 10 < int64_t{obstacle->size} * 8;
    return false;
}

struct SweepHit {
    double along;
    uint32_t id;
};

void BuildFull(Inst3D* inst, intptr_t, intptr_t) { B3D_CollBuildModel(inst, 0); }

void RebuildInstance(SectorObject* o) {
    Inst3D* inst = o->instance;
    if (!inst) return;
    switch (o->mainType) {
        case SA_MT_BULLET: {
            const int32_t flags = Field(o->mainType, o->subType, SA_TF_BULLET_FLAGS);
            const int32_t a = Field(o->mainType, o->subType, kBulletModelA);
            const int32_t b = Field(o->mainType, o->subType, kBulletModelB);
            const BulletData* data = O_BulletData(o);
            const int32_t radius = data ? data->radius : 0;
            if (flags & kBulletModelSimple) B3D_CollBuildModelSimple(inst, a, b, radius);
            else if (flags & kBulletModelParts) B3D_CollBuildModelOcta(inst, a, b, radius);
            else if (flags & kBulletModelFull) B3D_CollBuildModel(inst, 0);
            else B3D_CollBuildModelSimple(inst, a, b, radius);
            break;
        }
        case SA_MT_MISSILE:
            if (inst->flags & INST_COLLISION_MODEL)
                B3D_CollBuildModelOcta(inst, kMissileModelA, kMissileModelB, kMissileModelC);
            break;
        case SA_MT_SPECIAL: B3D_CollBuildModel(inst, 0); break;
        case SA_MT_SUN:
        case SA_MT_SECTOR: break;
        default: B3D_InstForTree(inst, BuildFull, 0, 0); break;
    }
    // The effect on a collidable instance is made for the device as well.
    if ((inst->flags & INST_COLLISION_MODEL) && inst->overrideEffect)
        B3D_InstSetOverrideEffect(inst, inst->overrideEffect);
}

// The objects whose children the refresh walks too.
QelList* RefreshedChildren(SectorObject* o) {
    const bool walks = o->mainType == SA_MT_SHIP || o->mainType == SA_MT_SECTOR || o->mainType == SA_MT_GATE ||
                       (o->flags & SA_FLAG_HOLDER);
    return walks ? O_GetChildList(o) : nullptr;
}

int32_t ResourceField(int32_t mainType) {
    switch (mainType) {
        case SA_MT_BULLET: return SA_TF_BULLET_SCENE_RESOURCE;
        case SA_MT_DOCK:
        case SA_MT_FACTORY: return SA_TF_STATION_SCENE_RESOURCE;
        case SA_MT_SHIP: return SA_TF_SHIP_SCENE_RESOURCE;
        case SA_MT_MISSILE: return SA_TF_MISSILE_SCENE_RESOURCE;
        default: return -1;
    }
}

}  // namespace

SA_BulletHitFn g_SABulletHit = S_CollisionObjects;

// ---------------------------------------------------------------- missiles

namespace {

// The launch; the missile's ID, or 0. Frees story code asks for meanwhile
// wait until the launch's pass ends.
uint32_t Launch(SectorObject* shooter, SectorObject* target, int32_t behind, int32_t missileSubType,
                int32_t launchFlags, int32_t value) {
    const TypeRecord* type = SA_GetTypeRecord(SA_MT_MISSILE, missileSubType);
    if (!shooter || !shooter->instance || !type) return 0;
    const int32_t typeFlags = type->field[SA_TF_MISSILE_FLAGS] & 0xff;
    if (!(typeFlags & SA_MISSILE_SEEKS)) {
        if (!target) return 0;
    } else if (target && !(typeFlags & SA_MISSILE_AIMED) && !SA_IsEnemy(shooter, target)) {
        target = O_FindNearestEnemyOf(shooter, SA_MISSILE_SEEK_RANGE);
        if (!target) return 0;
    }
    SA_Pass pass;
    SectorObject* missile = O_AllocObject(SA_TypeCode(SA_MT_MISSILE, missileSubType));
    if (!missile) return 0;
    const uint32_t missileId = missile->id;
    const uint32_t shooterId = shooter->id;
    const uint32_t targetId = target ? target->id : 0;
    MissileData* data = O_MissileData(missile);
    if (data) {
        data->armed = 1;
        data->launcher = shooter;
        data->target = target;
        data->launchTime = SA_Now();
    }
    missile->flags2 |= shooter->flags2 & kShooterCopiedFlags2;
    missile->group = shooter->group;
    const int32_t maxSpeed = O_GetMaxSpeed(missile);
    if (behind) {
        missile->rot[0] = static_cast<int32_t>((static_cast<uint32_t>(shooter->rot[0]) - 32768u) & 0xffffu);
        missile->rot[1] = static_cast<int32_t>((0u - static_cast<uint32_t>(shooter->rot[1])) & 0xffffu);
        missile->rot[2] = shooter->rot[2];
        missile->speed = Clamp32(int64_t{maxSpeed} / 20 + kBehindSpeed);
    } else {
        for (int i = 0; i < 3; ++i) missile->rot[i] = shooter->rot[i];
        missile->speed = Clamp32(int64_t{maxSpeed} / 20 + shooter->speed);
    }
    for (int i = 0; i < 3; ++i) missile->rotSpeed[i] = 0;
    for (int i = 0; i < 4; ++i) missile->flight[i] = shooter->flight[i];
    if (Inst3D* inst = missile->instance) {
        if (SA_GetTypeCut(missile->mainType, missile->subType) > 0) O_InitCutScene(missile);
        missile->size = Clamp32(int64_t{kMissileSizeScale} * B3D_InstGetTotalSize(inst));
        B3D_CollBuildModelOcta(inst, kMissileModelA, kMissileModelB, kMissileModelC);
        const QelVector offset{0, 0, (behind ? -1 : 1) * (shooter->size / 4), 0};
        inst->pos = O_LocalToWorld(&shooter->instance->pos, &shooter->instance->matrix, &offset, QEL_FIX_ONE);
    }
    missile->desiredSpeed = std::max(missile->speed, O_GetMaxSpeed(missile));
    FaceAngles(missile);
    if (target && target->instance && missile->instance && (typeFlags & SA_MISSILE_AIMED) &&
        !(shooter->flags & kShooterNoAim)) {
        missile->speed = missile->desiredSpeed = std::max(maxSpeed, kAimedMinSpeed);
        const QelVector meet = InterceptPoint(missile->instance->pos, target, missile->speed);
        const QelVector way =
            Halved(int64_t{meet.x} - missile->instance->pos.x, int64_t{meet.y} - missile->instance->pos.y,
                   int64_t{meet.z} - missile->instance->pos.z);
        if (way.x || way.y || way.z) {
            Qel_AnglesFromVector(&way, &missile->rot[0], &missile->rot[1]);
            missile->rot[2] = 0;
            FaceAngles(missile);
        }
    }
    if (data) data->launchValue = static_cast<int16_t>(value);
    O_SetContainer(missile, shooter->container);
    PlayLaunchSound(missile);
    if (launchFlags & SA_LAUNCH_COUNTED) {
        if (g_SpaceRoot) ++g_SpaceRoot->game.missilesFired;
        missile->flags2 |= SA_FLAG2_COUNTED_MISSILE;
    }
    // Story code may kill or free any of the three from here on: each is
    // looked up again before it is told.
    if (shooter->eventObject) SA_RunStory(shooter->eventObject, "MissileLaunched", 1, &missileSubType);
    SectorObject* told = targetId ? SA_LookupObject(targetId) : nullptr;
    if (told && told->eventObject && !(told->flags & SA_FLAG_KILLED)) {
        const int32_t args[2] = {static_cast<int32_t>(missileId), static_cast<int32_t>(shooterId)};
        SA_RunStory(told->eventObject, "MissileAlert", 2, args);
    }
    if (SectorObject* m = SA_LookupObject(missileId)) INS_NotifyMissileAlert(m);
    return missileId;
}

}  // namespace

SectorObject* O_LaunchMissile(SectorObject* shooter, SectorObject* target, int32_t behind, int32_t missileSubType,
                              int32_t launchFlags, int32_t value) {
    const uint32_t id = Launch(shooter, target, behind, missileSubType, launchFlags, value);
    SectorObject* missile = id ? SA_LookupObject(id) : nullptr;
    return missile && !(missile->flags & SA_FLAG_KILLED) ? missile : nullptr;
}

// ---------------------------------------------------------------- containers

int32_t O_MoveIntoContainer(SectorObject* container, SectorObject* object) {
    if (!O_CanContain(container, object)) return 0;
    if (object->mainType == SA_MT_LASER && container->mainType == SA_MT_SHIP) {
        const int32_t slots = Field(container->mainType, container->subType, SA_TF_SHIP_LASER_COUNT);
        if (slots > 0) {
            int32_t used = 0;
            for (SectorObject* c = SA_ListFirst(O_GetChildList(container)); c; c = SA_ListNext(c))
                if (c->mainType == SA_MT_LASER && c != object) ++used;
            if (used >= slots) return 0;
        }
    }
    SA_Pass pass;
    if (object->container != container) O_LeaveSector(object);
    SA_ListUnlink(object);
    SA_ListAddTail(O_GetChildList(container), object);
    object->container = container;
    if (const ShipData* ship = O_ShipData(container); ship && ship->CourseType == kCourseCapture)
        SA_FireObjectCallback(container, kAnswerDone);
    return 1;
}

// ---------------------------------------------------------------- obstacles

void O_AddAvoidObstacle(SectorObject* ship, SectorObject* obstacle, int32_t value) {
    ShipData* d = O_ShipData(ship);
    if (!d || !obstacle || !ship->instance || !Avoidable(ship, obstacle)) return;
    if (LeavingCarrier(ship, obstacle)) return;
    if (!OnPath(ship, obstacle)) return;
    if (d->CourseType != kCourseAvoid) ship->flags |= kFlagObstacleAhead;
    if (d->avoidCount < 0 || d->avoidCount >= SA_AVOID_MAX) return;
    d->avoidObjects[d->avoidCount] = obstacle;
    d->avoidValues[d->avoidCount] = value;
    ++d->avoidCount;
    ship->flags |= kFlagAvoiding;
}

// ---------------------------------------------------------------- bullets

int32_t O_SweepBullet(SectorObject* bullet) {
    BulletData* data = O_BulletData(bullet);
    if (!data || !bullet->instance || !O_GetChildList(bullet->container)) return 0;
    const double length = double(SA_GetTypeSpeed(bullet->mainType, bullet->subType)) * VER_FrameStep() / 1000.0;
    double forward[3];
    Axis(bullet, 2, forward);
    const QelVector& end = bullet->instance->pos;
    const double start[3] = {end.x - forward[0] * length, end.y - forward[1] * length, end.z - forward[2] * length};
    std::vector<SweepHit> hits;
    for (SectorObject* o = SA_ListFirst(O_GetChildList(bullet->container)); o; o = SA_ListNext(o)) {
        if (o == bullet || o == data->owner || !o->instance || (o->flags & kSweepExcluded)) continue;
        const double d[3] = {o->instance->pos.x - start[0], o->instance->pos.y - start[1],
                             o->instance->pos.z - start[2]};
        const double along = std::clamp(d[0] * forward[0] + d[1] * forward[1] + d[2] * forward[2], 0.0, length);
        double gap2 = 0.0;
        for (int k = 0; k < 3; ++k) gap2 += (d[k] - forward[k] * along) * (d[k] - forward[k] * along);
        const double reach = double(o->size) + data->radius;
        if (gap2 >= reach * reach) continue;
        hits.push_back(SweepHit{along, o->id});
        if (static_cast<int32_t>(hits.size()) >= kSweepMaxHits) break;
    }
    std::stable_sort(hits.begin(), hits.end(), [](const SweepHit& a, const SweepHit& b) { return a.along < b.along; });
    SA_Pass pass;
    const uint32_t bulletId = bullet->id;
    int32_t handled = 0;
    for (const SweepHit& hit : hits) {
        if (SA_LookupObject(bulletId) != bullet || (bullet->flags & SA_FLAG_KILLED)) break;
        SectorObject* o = SA_LookupObject(hit.id);
        if (!o || (o->flags & SA_FLAG_KILLED)) continue;
        g_SABulletHit(bullet, o);
        ++handled;
    }
    return handled;
}

// ---------------------------------------------------------------- traces

uint32_t O_FastTrace(SectorObject* sector, const QelVector* a, const QelVector* b, int32_t forced) {
    if (!IsSector(sector) || !a || !b) return 0;
    Inst3D* from = B3D_AllocInst();
    Inst3D* to = B3D_AllocInst();
    uint32_t answer = 0;
    QelMatrix along{};
    const QelVector way = Halved(int64_t{b->x} - a->x, int64_t{b->y} - a->y, int64_t{b->z} - a->z);
    if (!O_MatrixAlong(way.x, way.y, way.z, &along)) Qel_MatIdentity(&along);
    if (from && to) {
        const QelVector* ends[2] = {a, b};
        Inst3D* insts[2] = {from, to};
        for (int i = 0; i < 2; ++i) {
            B3D_InstSetBody(insts[i], kTraceBody);
            insts[i]->pos = insts[i]->worldPos = QelVector{ends[i]->x, ends[i]->y, ends[i]->z, 0};
            insts[i]->matrix = insts[i]->worldMatrix = along;
        }
        for (SectorObject* o = SA_ListFirst(O_GetChildList(sector)); o; o = SA_ListNext(o)) {
            const int16_t m = o->mainType;
            const bool traced = m == SA_MT_DOCK || m == SA_MT_FACTORY || m == SA_MT_SHIP || m == SA_MT_ASTEROID ||
                                m == SA_MT_GATE || m == SA_MT_SPECIAL || (m >= SA_MT_DEBRIS && m <= SA_MT_SHIP_WRECK);
            if (traced && o->instance && B3D_CollUpdateInst(forced, from, to, o->instance)) {
                answer = o->id;
                break;
            }
        }
    }
    if (from) B3D_InstFree(from);
    if (to) B3D_InstFree(to);
    return answer;
}

int32_t O_TypeCreatesDebris(int32_t mainType, int32_t subType) {
    if (mainType != SA_MT_ASTEROID && mainType != SA_MT_DEBRIS) return 0;
    const TypeRecord* t = SA_GetTypeRecord(mainType, subType);
    const int32_t cut = t ? t->field[SA_TF_DEBRIS_CUT] : 0;
    if (cut <= 0 || !EO_EffectHasFlaggedPartA(subType, mainType)) return 0;
    return J3D_CutPreload(cut) ? 1 : 0;
}

int32_t O_GetTypeWreckType(int32_t mainType, int32_t subType) {
    // A wreck type stands beside the type it is the wreck of, under the same subtype.
    const int32_t wreck = SA_GetWreckMainType(mainType);
    if (wreck < 0 || subType < 0 || subType >= g_TypeDB.counts[wreck]) return 0;
    return SA_TypeCode(wreck, subType);
}

int32_t O_TypeCreatesWreck(int32_t mainType, int32_t subType) {
    if (!O_GetTypeWreckType(mainType, subType)) return 0;
    return EO_EffectHasFlaggedPartB(subType, mainType) ? 1 : 0;
}

// ---------------------------------------------------------------- device reset

void O_ReloadTypeResources(SectorObject* object) {
    if (!object) return;
    const int32_t field = ResourceField(object->mainType);
    if (!object->instance && field >= 0) {
        const int32_t resource = Field(object->mainType, object->subType, field);
        if (resource > 0) B3D_GetBody(resource);
    }
    if (QelList* children = RefreshedChildren(object))
        for (SectorObject* c = SA_ListFirst(children); c; c = SA_ListNext(c)) O_ReloadTypeResources(c);
}

void O_RebuildCollisionTree(SectorObject* object) {
    if (!object) return;
    RebuildInstance(object);
    if (QelList* children = RefreshedChildren(object))
        for (SectorObject* c = SA_ListFirst(children); c; c = SA_ListNext(c)) O_RebuildCollisionTree(c);
}

void O_RebuildAllCollision() {
    if (!g_SpaceRoot) return;
    for (SectorObject* o = SA_ListFirst(&g_SpaceRoot->objects); o; o = SA_ListNext(o)) O_RebuildCollisionTree(o);
}

void SA_RefreshAfterDeviceReset() {
    if (!g_SpaceRoot) return;
    for (SectorObject* o = SA_ListFirst(&g_SpaceRoot->objects); o; o = SA_ListNext(o)) O_ReloadTypeResources(o);
    O_RebuildAllCollision();
}
