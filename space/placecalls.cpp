#include "space/placecalls.h"

#include <algorithm>
#include <vector>

#include "base/fixmath.h"
#include "base/general.h"
#include "base/log.h"
#include "base/strings.h"
#include "base/texanim.h"
#include "cockpit/effects.h"
#include "cockpit/explosions.h"
#include "scene/caches.h"
#include "scene/jobs.h"
#include "scene/lists.h"
#include "scene/records.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "script/arrays.h"
#include "script/tasks.h"
#include "space/create.h"
#include "space/cutscene.h"
#include "space/detail.h"
#include "space/flight.h"
#include "space/hangars.h"
#include "space/helpers.h"
#include "space/kill.h"
#include "space/objectcalls.h"
#include "space/objects.h"
#include "space/queries.h"
#include "space/typesdb.h"
#include "space/weapons.h"

namespace {

constexpr int32_t kLaserEnergyScale = 1000;
constexpr int32_t kNoPort = -1;
constexpr int32_t kNoDistance = 0x7FFFFFFF;
constexpr uint32_t kMissileUsesTypeEffect = 0x1000000;
constexpr int32_t kPoseWords = 9;
constexpr int32_t kPosRotWords = 6;
constexpr int32_t kVideoWords = 7;

// Runs a story function of the space module for no object and takes its
// integer answer from the root's slot (0 when none came).
int32_t RunForAnswer(uint32_t storyObject, const char* name, int32_t argc, const int32_t* args) {
    if (!g_SpaceRoot) return 0;
    g_SpaceRoot->answerArrived = 0;
    SA_RunStory(storyObject, name, argc, args);
    return g_SpaceRoot && g_SpaceRoot->answerArrived && g_SpaceRoot->result.tag == VARTYPE_INTEGER
               ? g_SpaceRoot->result.i
               : 0;
}

CameraData* CameraArg(const SA_Call& c) {
    SectorObject* o = c.Object(0);
    return o ? O_CameraData(o) : nullptr;
}

ShipData* ShipArg(const SA_Call& c) {
    SectorObject* o = c.Object(0);
    return o ? O_ShipData(o) : nullptr;
}

template <int32_t ShipData::*Field>
int32_t SetShipWord(const SA_Call& c) {
    if (ShipData* ship = ShipArg(c)) ship->*Field = c.Int(1);
    return c.Answer(0);
}

// Position, rotation angles and direction of an object as the story reads them.
void ReadPose(const SectorObject* o, int32_t out[kPoseWords]) {
    const QelVector p = Obj_Position(o);
    const QelMatrix m = Obj_Matrix(o);
    const int32_t pose[kPoseWords] = {p.x, p.y, p.z, o->rot[0], o->rot[1], o->rot[2], m.m[8], m.m[9], m.m[10]};
    std::copy(pose, pose + kPoseWords, out);
}

// Sets position (safe or not) and direction or rotation from a pose array.
template <int32_t Words, bool Safe>
int32_t SetPose(const SA_Call& c) {
    SectorObject* o = c.Object(0);
    int32_t pose[kPoseWords] = {};
    if (!o || !SACall_ReadInts(c, 1, pose, Words)) return c.Answer(0);
    if (Safe) O_SetSafePos(o, pose[0], pose[1], pose[2]);
    else O_SetPos(o, pose[0], pose[1], pose[2]);
    if (Words == kPoseWords) O_SetDirection(o, pose[6], pose[7], pose[8]);
    else O_SetRot(o, pose[3], pose[4], pose[5]);
    return c.Answer(0);
}

template <int32_t Words>
int32_t GetPose(const SA_Call& c) {
    const SectorObject* o = c.Object(0);
    int32_t pose[kPoseWords] = {};
    if (o) {
        ReadPose(o, pose);
        SACall_WriteInts(c, 1, pose, Words);
    }
    return c.Answer(0);
}

QelVector Add(const QelVector& a, const QelVector& b) { return QelVector{a.x + b.x, a.y + b.y, a.z + b.z, 0}; }

// The explosion effect a dummy explosion shows for the object.
int32_t DummyExplosionEffect(SectorObject* o) {
    const TypeRecord* t = O_GetTypeRecord(o);
    int32_t effect = 0;
    if (t) switch (o->mainType) {
            case SA_MT_DOCK:
            case SA_MT_FACTORY: effect = t->field[SA_TF_STATION_EXPLOSION_EFFECT]; break;
            case SA_MT_SHIP: effect = t->field[SA_TF_SHIP_EXPLOSION_EFFECT]; break;
            case SA_MT_MISSILE:
                if (o->flags & kMissileUsesTypeEffect) effect = t->field[SA_TF_MISSILE_EXPLOSION_EFFECT];
                break;
            default: break;
        }
    return effect ? effect : SA_DUMMY_EXPLOSION_EFFECT;
}

}  // namespace

// ---------------------------------------------------------------- shared operations

void O_TractorDisconnect(SectorObject* object) {
    if (object->tractorHeld && object->tractorHeld->tractorSource == object) O_ReleaseTractor(object->tractorHeld);
    if (object->tractorSource) O_ReleaseTractor(object);
}

int O_GetDockPortRendezvous(SectorObject* station, int32_t port, SectorObject* ship, QelVector* out) {
    DockPortTable* table = O_PortTable(station);
    if (!table || !ship) return 0;
    const DockPortSlot* slot = O_GetShipDockPortInst(ship->subType, port, table);
    QelVector at{};
    QelVector approach{};
    QelVector axis{};
    if (!slot || !O_GetPortPoints(slot, &at, &approach, &axis)) return 0;
    *out = approach;
    return 1;
}

void O_SetSafePos(SectorObject* object, int32_t x, int32_t y, int32_t z) {
    O_SetPos(object, x, y, z);
    if (object->instance && object->container && O_Sector(object->container) && !O_IsSpaceFree(object))
        O_PlaceNearObject(object, nullptr);
}

// ---------------------------------------------------------------- calls

int32_t SACall_CreateObjectCutScene(const SA_Call& c) {
    Inst3D* parent = c.Int(1) ? B3D_InstFind(static_cast<uint32_t>(c.Int(1))) : nullptr;
    SectorObject* object = c.Int(3) ? c.Object(3) : nullptr;
    Inst3D* top = O_BuildCutScene(c.Int(0), parent, object, nullptr);
    if (top && c.Arg(2)->tag != VARTYPE_INTEGER)
        if (const char* name = SV_GetString(c.Arg(2))) top->name = Qel_StrReassign(top->name, name);
    return c.Answer(top ? static_cast<int32_t>(top->id) : 0);
}

int32_t SACall_SetDesiredDistance(const SA_Call& c) {
    if (CameraData* camera = CameraArg(c)) camera->desiredDistance = c.Int(1);
    return c.Answer(0);
}

int32_t SACall_GetDesiredDistance(const SA_Call& c) {
    const CameraData* camera = CameraArg(c);
    return c.Answer(camera ? camera->desiredDistance : 0);
}

int32_t SACall_SetDestination(const SA_Call& c) {
    SectorObject* o = c.Object(0);
    if (!o) return c.Answer(0);
    SectorObject* destination = c.Int(1) ? c.Object(1) : nullptr;
    if (ShipData* ship = O_ShipData(o)) ship->OrderTarget = destination;
    else if (MissileData* missile = O_MissileData(o)) missile->target = destination;
    else if (CameraData* camera = O_CameraData(o)) camera->destination = destination;
    return c.Answer(0);
}

int32_t SACall_IsWarpOutSlotAvailable(const SA_Call& c) {
    SectorObject* o = c.Object(0);
    const GateData* gate = o ? O_GateData(o) : nullptr;
    if (!gate) return c.Answer(0);
    for (int32_t k = 0; k < SA_WARP_OUT_SLOTS; ++k)
        if (!gate->slotOccupant[k] || SA_TimeReached(gate->slotTime[k])) return c.Answer(1);
    return c.Answer(0);
}

int32_t SACall_SetCameraConnectMode(const SA_Call& c) {
    if (CameraData* camera = CameraArg(c)) camera->connectMode = c.Int(1);
    return c.Answer(0);
}

int32_t SACall_SetCameraB3DCamera(const SA_Call& c) {
    if (CameraData* camera = CameraArg(c))
        O_SetCameraSceneInstance(camera, B3D_InstFind(static_cast<uint32_t>(c.Int(1))));
    return c.Answer(0);
}

int32_t SACall_SetSpeedLimit(const SA_Call& c) { return SetShipWord<&ShipData::SpeedLimit>(c); }
int32_t SACall_SetMaxSpeedOverride(const SA_Call& c) { return SetShipWord<&ShipData::maxSpeedOverride>(c); }
int32_t SACall_SetMaxStrafeSpeedOverride(const SA_Call& c) { return SetShipWord<&ShipData::maxStrafeOverride>(c); }

int32_t SACall_SetPosAndDirection(const SA_Call& c) { return SetPose<kPoseWords, false>(c); }
int32_t SACall_SetSafePosAndDirection(const SA_Call& c) { return SetPose<kPoseWords, true>(c); }
int32_t SACall_GetPosRotAndDirection(const SA_Call& c) { return GetPose<kPoseWords>(c); }
int32_t SACall_SetPosAndRot(const SA_Call& c) { return SetPose<kPosRotWords, false>(c); }
int32_t SACall_SetSafePosAndRot(const SA_Call& c) { return SetPose<kPosRotWords, true>(c); }
int32_t SACall_GetPosAndRot(const SA_Call& c) { return GetPose<kPosRotWords>(c); }

int32_t SACall_TransformPosAndRot(const SA_Call& c) {
    int32_t local[kPosRotWords];
    int32_t parent[kPosRotWords];
    if (!SACall_ReadInts(c, 0, local, kPosRotWords) || !SACall_ReadInts(c, 1, parent, kPosRotWords)) return c.Answer(0);
    QelMatrix ml;
    QelMatrix mp;
    Qel_MatFromAngles(&ml, local[3], local[4], local[5]);
    Qel_MatFromAngles(&mp, parent[3], parent[4], parent[5]);
    const QelVector l{local[0], local[1], local[2], 0};
    QelVector turned{};
    Qel_MatMulVec(&mp, &l, &turned);
    const QelVector p = Add(QelVector{parent[0], parent[1], parent[2], 0}, turned);
    // The local turn first, then the parent's, as the position goes.
    QelMatrix both;
    Qel_MatMul(&ml, &mp, &both);
    int32_t out[kPosRotWords] = {p.x, p.y, p.z, 0, 0, 0};
    Qel_AnglesFromMat(&both, &out[3], &out[4], &out[5]);
    return SACall_AnswerArray(c, out, kPosRotWords);
}

int32_t SACall_GetRelativePos(const SA_Call& c) {
    int32_t pose[kPosRotWords];
    int32_t offset[3];
    if (!SACall_ReadInts(c, 0, pose, kPosRotWords) || !SACall_ReadInts(c, 1, offset, 3)) return c.Answer(0);
    QelMatrix m;
    Qel_MatFromAngles(&m, pose[3], pose[4], pose[5]);
    const QelVector v{offset[0], offset[1], offset[2], 0};
    QelVector turned{};
    Qel_MatMulVec(&m, &v, &turned);
    const QelVector p = Add(QelVector{pose[0], pose[1], pose[2], 0}, turned);
    const int32_t out[3] = {p.x, p.y, p.z};
    return SACall_AnswerArray(c, out, 3);
}

int32_t SACall_GetBulletTypeFlyFX(const SA_Call& c) {
    const int32_t sub = c.Int(0);
    if (!SA_CheckTypeCode(SA_MT_BULLET, sub)) return c.Answer(0);
    return c.Answer(g_TypeDB.types[SA_MT_BULLET][sub].field[SA_TF_BULLET_TRAIL_EFFECT]);
}

int32_t SACall_SetEnemyOfEnabled(const SA_Call& c) {
    SectorObject* o = c.Object(0);
    if (RelationWords* r = o ? O_RelationWords(o) : nullptr) r->enemyOf = c.Int(1) ? 1 : 0;
    return c.Answer(0);
}

int32_t SACall_GetMissileAim(const SA_Call& c) {
    SectorObject* o = c.Object(0);
    const MissileData* missile = o ? O_MissileData(o) : nullptr;
    return c.Answer(missile && missile->target ? static_cast<int32_t>(missile->target->id) : 0);
}

int32_t SACall_CreateFactoryConnections(const SA_Call& c) {
    SectorObject* factory = c.Object(0);
    if (!factory) return c.Answer(0);
    // The complex: the factory and every factory of its container that names
    // it as its parent, each given its connection point's place.
    int32_t count = 0;
    auto note = [&](SectorObject* f) {
        const QelVector p = Obj_Position(f);
        Qel_DPrintf(0, "CreateFC() dockobj %d pos=(%d,%d,%d) rot=(%d,%d,%d)\n", static_cast<int32_t>(f->id), p.x, p.y,
                    p.z, f->rot[0], f->rot[1], f->rot[2]);
        ++count;
    };
    if (factory->mainType == SA_MT_FACTORY) note(factory);
    if (QelList* children = factory->container ? O_GetChildList(factory->container) : nullptr)
        for (SectorObject* f = SA_ListFirst(children); f; f = SA_ListNext(f)) {
            const DockData* d = f != factory && f->mainType == SA_MT_FACTORY ? O_DockData(f) : nullptr;
            if (d && d->connectionParent == factory) note(f);
        }
    Qel_DPrintf(0, "CreateFC() #factories %d\n", count);
    return c.Answer(count ? c.Int(1) : 0);
}

int32_t SACall_DecoupleShips(const SA_Call& c) {
    SectorObject* ship = c.Int(0) ? c.Object(0) : nullptr;
    // Only a ship's order could ever answer a task parked on it.
    if (!ship || ship->mainType != SA_MT_SHIP) return c.Answer(0);
    // The task waits on the ship before the story hears of the pieces, so
    // story code that ends the ship's order answers it.
    if (c.task) {
        ship->callerModule = static_cast<uint32_t>(c.callerModule);
        ship->callerHandle = c.task->id;
    }
    O_DecoupleShip(ship, c.Int(1), c.Int(2), c.Int(3));
    return 1;
}

int32_t SACall_StartInGameScene(const SA_Call& c) {
    SectorObject* o = c.Object(0);
    if (!o) return c.Answer(0);
    const int32_t args[4] = {static_cast<int32_t>(o->id), c.Int(1), c.Int(2), c.Int(3)};
    return c.Answer(RunForAnswer(o->eventObject, "CreatePCObject", 4, args));
}

int32_t SACall_StartInGameScene2(const SA_Call& c) {
    const int32_t args[2] = {c.Int(0), c.Int(1)};
    return c.Answer(RunForAnswer(0, "CreateSceneShip", 2, args));
}

int32_t SACall_ReloadShipLasers(const SA_Call& c) {
    SectorObject* o = c.Object(0);
    ShipData* ship = o ? O_ShipData(o) : nullptr;
    const TypeRecord* t = ship ? O_GetTypeRecord(o) : nullptr;
    if (t) {
        const int64_t energy = int64_t{t->field[SA_TF_SHIP_LASER_POWER_MAX]} * kLaserEnergyScale;
        ship->laserEnergy = static_cast<int32_t>(std::clamp<int64_t>(energy, INT32_MIN, INT32_MAX));
    }
    return c.Answer(0);
}

int32_t SACall_SetShipAtDockPort(const SA_Call& c) {
    SectorObject* station = c.Object(0);
    SectorObject* ship = c.Int(2) ? c.Object(2) : nullptr;
    return c.Answer(station ? O_FindDockPort(station, c.Int(1), ship) : 0);
}

int32_t SACall_StartDockPortAnim(const SA_Call& c) {
    if (SectorObject* station = c.Object(0)) O_SetDockPortAnim(c.Int(1), station, c.Int(2), c.Int(3));
    return c.Answer(0);
}

int32_t SACall_GetDockPortPosInst(const SA_Call& c) {
    SectorObject* station = c.Object(0);
    DockPortTable* table = station ? O_PortTable(station) : nullptr;
    const DockPortSlot* slot = table ? O_GetShipDockPortInst(c.Int(2), c.Int(1), table) : nullptr;
    return c.Answer(slot && slot->portInstance ? static_cast<int32_t>(slot->portInstance->id) : 0);
}

int32_t SACall_GetDockPortRendezvousPos(const SA_Call& c) {
    SectorObject* station = c.Object(0);
    SectorObject* ship = c.Object(2);
    QelVector at{};
    if (!station || !ship || !O_GetDockPortRendezvous(station, c.Int(1), ship, &at)) return c.Answer(0);
    const int32_t out[3] = {at.x, at.y, at.z};
    return SACall_AnswerArray(c, out, 3);
}

int32_t SACall_FindNearestDockPortRendezvous(const SA_Call& c) {
    SectorObject* station = c.Object(0);
    SectorObject* ship = c.Object(2);
    auto* ports = const_cast<ScriptValue*>(c.Arg(1));
    if (!station || !ship || ports->tag != VARTYPE_ARRAY) return c.Answer(kNoPort);
    const QelVector from = Obj_Position(ship);
    int64_t best = kNoDistance;
    int32_t answer = kNoPort;
    const int32_t n = SV_ArraySize(ports);
    for (int32_t k = 0; k < n; ++k) {
        const ScriptValue* e = SV_ArrayRead(ports, k);
        if (!e || e->tag != VARTYPE_INTEGER) continue;
        QelVector at{};
        if (!O_GetDockPortRendezvous(station, e->i, ship, &at)) continue;
        const int64_t d = SA_VecDistance(&from, &at);
        if (d < best) {
            best = d;
            answer = e->i;
        }
    }
    return c.Answer(answer);
}

int32_t SACall_SetShipDockPortNr(const SA_Call& c) { return SetShipWord<&ShipData::PortIndex>(c); }

int32_t SACall_RestartObjectCut(const SA_Call& c) {
    SectorObject* o = c.Object(0);
    J3D_Cut* cut = o && o->instance && o->cutId > 0 ? J3D_GetCut(o->cutId) : nullptr;
    if (cut) {
        J3D_CutResetPos(cut);
        J3D_JobStartInst(o->instance, 0, 0, cut, -1, 0);
    }
    return c.Answer(0);
}

int32_t SACall_ShowDummyExplosion(const SA_Call& c) {
    SectorObject* o = c.Object(0);
    if (!o || !o->instance || o->instance->bodyId < 0) return c.Answer(0);
    EO_AttachEffect(static_cast<int32_t>(o->id), EO_KIND_DESTRUCTION, DummyExplosionEffect(o), o, nullptr, nullptr);
    if (O_IsAudible(o)) EO_PlayExplosionSound(o);
    return c.Answer(0);
}

int32_t SACall_DeleteAllEffects(const SA_Call& c) {
    SectorObject* o = c.Object(0);
    if (const SectorSpace* sector = o ? O_Sector(o) : nullptr) {
        if (sector->spaceScene) EO_RemoveExplosionReferences(sector->spaceScene);
        if (sector->galaxyScene) EO_RemoveExplosionReferences(sector->galaxyScene);
    }
    return c.Answer(0);
}

int32_t SACall_SetClientDataFlags(const SA_Call& c) {
    if (g_SpaceRoot) g_SpaceRoot->game.clientDataFlags = c.Int(0);
    return c.Answer(0);
}

int32_t SACall_GetClientDataFlags(const SA_Call& c) {
    return c.Answer(g_SpaceRoot ? g_SpaceRoot->game.clientDataFlags : 0);
}

int32_t SACall_SaveBackgroundTypes(const SA_Call& c) {
    SA_SaveBackgroundTypes();
    return c.Answer(0);
}

int32_t SACall_StartVideo(const SA_Call& c) { return c.Answer(SA_StartVideo(c.Int(0), c.Int(1))); }

int32_t SACall_StopVideo(const SA_Call& c) {
    SA_VideoRecord video{};
    if (SA_GetVideoById(c.Int(0), &video) >= 0) TC_ReleaseMovieTexture(video.movie, c.Int(1));
    return c.Answer(0);
}

int32_t SACall_PauseVideo(const SA_Call& c) {
    // Every sector's screens keep their frames while the word is set.
    if (g_SpaceRoot)
        for (SectorObject* o = SA_ListFirst(&g_SpaceRoot->objects); o; o = SA_ListNext(o))
            if (SectorSpace* sector = O_Sector(o)) sector->trailing[9] = c.Int(0);
    return c.Answer(0);
}

int32_t SACall_FindVideo(const SA_Call& c) {
    SA_VideoRecord v{};
    if (SA_GetVideoById(c.Int(0), &v) < 0) return c.Answer(0);
    const int32_t out[kVideoWords] = {v.movie, v.start[0], v.start[1], v.start[2], v.end[0], v.end[1], v.end[2]};
    return SACall_AnswerArray(c, out, kVideoWords);
}

int32_t SACall_GetSpawnInst(const SA_Call& c) {
    const SectorObject* o = c.Object(0);
    if (!o || !o->instance) return c.Answer(0);
    for (const Inst3D* k = B3D_First<Inst3D>(&o->instance->children); k; k = B3D_Next(k))
        if (k->bodyId == SA_SPAWN_BODY) return c.Answer(static_cast<int32_t>(k->id));
    return c.Answer(0);
}

int32_t SACall_TractorConnect(const SA_Call& c) {
    SectorObject* a = c.Object(0);
    SectorObject* b = c.Int(1) ? c.Object(1) : nullptr;
    // Letting go runs story code, which may free either end: the free waits
    // for the pass.
    SA_Pass pass;
    if (a) O_TractorDisconnect(a);
    if (b) O_TractorDisconnect(b);
    if (a && b) O_LinkObjects(b, a, c.Int(2), c.Int(3), c.Int(4));
    return c.Answer(0);
}

int32_t SACall_TractorDisconnect(const SA_Call& c) {
    if (SectorObject* o = c.Object(0)) O_TractorDisconnect(o);
    return c.Answer(0);
}
