#include "space/combatcalls.h"

#include <climits>

#include "base/fixmath.h"
#include "base/log.h"
#include "scene/caches.h"
#include "scene/freeing.h"
#include "scene/jobs.h"
#include "scene/pools.h"
#include "scene/records.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "scene/takes.h"
#include "script/arrays.h"
#include "script/context.h"
#include "script/tasks.h"
#include "space/behaviour.h"
#include "space/cutscene.h"
#include "space/flight.h"
#include "space/kill.h"
#include "space/objects.h"
#include "space/orders.h"
#include "space/queries.h"
#include "space/utility.h"
#include "space/weapons.h"

namespace {

constexpr int32_t kAnyRange = INT32_MAX;
constexpr int32_t kAllLasers = -1;

SpaceGameWords& Game() { return g_SpaceRoot->game; }

// An optional object argument: 0 is none (and is not looked up).
SectorObject* OptionalObject(const SA_Call& c, int32_t i) { return c.Int(i) ? c.Object(i) : nullptr; }

void DumpOne(const SectorObject* o, int32_t depth) {
    const Inst3D* inst = o->instance;
    Qel_DPrintf(0, "%*s#%d [%s] type %d/%d flags 0x%x/0x%x container %d pos %d %d %d\n", depth, "",
                static_cast<int32_t>(o->id), o->name ? o->name : "", o->mainType, o->subType, o->flags, o->flags2,
                o->container ? static_cast<int32_t>(o->container->id) : 0, inst ? inst->pos.x : 0,
                inst ? inst->pos.y : 0, inst ? inst->pos.z : 0);
    if (QelList* children = O_GetChildList(const_cast<SectorObject*>(o)))
        for (SectorObject* child = SA_ListFirst(children); child; child = SA_ListNext(child)) DumpOne(child, depth + 1);
}

// (a / 4) x (b / 2) in 16.16, rounded.
int64_t BehindTerm(int32_t direction, int64_t difference) {
    return (int64_t{direction / 4} * (difference / 2) + 0x8000) >> 16;
}

// ---------------------------------------------------------------- takes

// The scene engine's take that plays a space take: the one of the same id.
J3D_Take* SceneTake(const SA_Take* take) { return take ? J3D_TakeFind(static_cast<uint32_t>(take->id)) : nullptr; }

// The take of argument 0 with its scene engine's take, or null.
struct TakeArg {
    SA_Take* take;
    J3D_Take* scene;
    explicit TakeArg(const SA_Call& c) : take(SA_FindTakeByID(c.Int(0))), scene(SceneTake(take)) {}
    explicit operator bool() const { return scene != nullptr; }
};

// The scene engine's take lets go of the instances it was lent; they are the
// space take's (objects' instances among them), so it never frees them.
void Unbind(J3D_Take* scene) {
    if (scene->insts) B3D_FreeMemJ(scene->instCount * static_cast<int32_t>(sizeof(Inst3D*)), scene->insts, 0);
    scene->insts = nullptr;
    scene->instCount = 0;
    scene->cutId = 0;
}

// Lends the space take's live instances to its scene engine's take, whose
// frame step ends it (and answers the waiting task) once none of their jobs
// runs. 1 when one runs.
int32_t Bind(SA_Take* take, J3D_Take* scene) {
    Unbind(scene);
    int32_t running = 0;
    const int32_t n = take->slots ? take->slotCount : 0;
    if (n > 0)
        scene->insts = static_cast<Inst3D**>(B3D_AllocMemJ(n * static_cast<int32_t>(sizeof(Inst3D*)), B3D_MEM_ZERO));
    if (scene->insts) {
        scene->instCount = n;
        for (int32_t i = 0; i < n; ++i) {
            Inst3D* inst = take->slots[i].inst;
            if (!inst || B3D_InstFind(take->slots[i].instId) != inst) continue;
            scene->insts[i] = inst;
            if ((inst->jobFlags & JOB_RUNNING) && !(inst->jobFlags & JOB_STOPPED)) ++running;
        }
    }
    scene->cutId = take->cutId;
    scene->state = running ? TAKE_RUNNING : TAKE_STOPPED;
    return running ? 1 : 0;
}

// Reads the placement array (x, y, z and three angles); 0 when it is not one.
int ReadPlacement(const ScriptValue* array, QelVector* pos, QelMatrix* matrix) {
    auto* a = const_cast<ScriptValue*>(array);
    if (a->tag != VARTYPE_ARRAY || SV_ArraySize(a) < 6) return 0;
    int32_t w[6];
    for (int32_t i = 0; i < 6; ++i) {
        const ScriptValue* v = SV_ArrayRead(a, i);
        if (!v) return 0;
        w[i] = v->i;
    }
    *pos = QelVector{w[0], w[1], w[2], 0};
    Qel_MatFromAngles(matrix, w[3], w[4], w[5]);
    return 1;
}

}  // namespace

// ---------------------------------------------------------------- statistics

int32_t SACall_GetLaserFired(const SA_Call& c) { return c.Answer(Game().lasersFired); }
int32_t SACall_GetMissileFired(const SA_Call& c) { return c.Answer(Game().missilesFired); }
int32_t SACall_GetLaserHits(const SA_Call& c) { return c.Answer(Game().laserHits); }
int32_t SACall_GetMissileHits(const SA_Call& c) { return c.Answer(Game().missileHits); }
int32_t SACall_GetTotalDistance(const SA_Call& c) { return c.Answer(Game().totalDistance); }

int32_t SACall_DumpObject(const SA_Call& c) {
    if (c.argc == 1) {
        if (const SectorObject* o = c.Object(0)) DumpOne(o, 0);
    } else {
        SA_DumpObjects();
    }
    return c.Answer(0);
}

int32_t SACall_DumpSectorScene(const SA_Call& c) {
    for (SectorObject* o = SA_ListFirst(&g_SpaceRoot->objects); o; o = SA_ListNext(o)) {
        const SectorSpace* sector = O_Sector(o);
        const Scene3D* scene = sector ? sector->spaceScene : nullptr;
        if (!scene) continue;
        Qel_DPrintf(0, "Sector %d scene %d:\n", static_cast<int32_t>(o->id), static_cast<int32_t>(scene->id));
        for (const Inst3D* i = B3D_First<Inst3D>(&scene->insts); i; i = B3D_Next(i))
            Qel_DPrintf(0, "  Inst3D %d body %d\n", static_cast<int32_t>(i->id), i->bodyId);
    }
    Qel_DPrintf(0, "Finished Inst3D Dump\n");
    return c.Answer(0);
}

// ---------------------------------------------------------------- orders, firing and searches

int32_t SACall_StopObject(const SA_Call& c) {
    SectorObject* o = c.Object(0);
    if (!o) return c.Answer(0);
    if (ShipData* d = o->mainType == SA_MT_SHIP ? O_ShipData(o) : nullptr) {
        if (d->CourseType == VER_LAND) {
            d->PortIndex = -1;
            // The notification goes to the story's notification object, its
            // answer to the root: under caller 2100 it would land in whatever
            // object has that ID.
            const auto id = static_cast<int32_t>(o->id);
            SA_RunStory(SA_NOTIFY_OBJECT, "NotifyDockingAbort", 1, &id);
        } else if (d->CourseType == VER_WARPIN && o->instance) {
            B3D_InstSetOverrideEffect(o->instance, 0);
            o->instance->pos = d->OrderPos;
            o->flags &= ~SA_FLAG_NO_AREA_DAMAGE;
        }
        d->CourseType = VER_STOP;
        d->NextThink = SA_Now();
        o->flags &= ~SA_FLAG_QUEUED;
    }
    SA_FireObjectCallback(o, c.Int(1));
    return c.Answer(0);
}

int32_t SACall_ForceMove(const SA_Call& c) {
    // A forced move is the hang-on bit: the object follows what moves it.
    if (SectorObject* o = c.Object(0)) {
        if (!c.Given(1) || c.IsTrue(1)) o->flags |= SA_FLAG_HANGS_ON;
        else o->flags &= ~SA_FLAG_HANGS_ON;
    }
    return c.Answer(0);
}

int32_t SACall_FireOnObject(const SA_Call& c) {
    SectorObject* ship = c.Object(0);
    if (!ship) return c.Answer(0);
    SectorObject* target = OptionalObject(c, 1);
    const int32_t mask = c.argc < 5 ? kAllLasers : c.Int(4);
    return c.Answer(O_FireLasers(ship, target, c.Int(2), c.Int(3), static_cast<uint32_t>(mask)));
}

int32_t SACall_FireAhead(const SA_Call& c) {
    SectorObject* ship = c.Object(0);
    if (!ship) return c.Answer(0);
    const int32_t mask = c.argc < 5 ? kAllLasers : c.Int(4);
    return c.Answer(O_FireLasers(ship, nullptr, c.Int(2), c.Int(3), static_cast<uint32_t>(mask)));
}

int32_t SACall_ShootMissileOnObject(const SA_Call& c) {
    SectorObject* shooter = c.Object(0);
    if (!shooter) return c.Answer(0);
    SectorObject* target = OptionalObject(c, 1);
    const int32_t a = c.argc >= 3 ? c.Int(2) : -1;
    const int32_t b = c.argc >= 4 ? c.Int(3) : 0;
    const int32_t v = c.argc >= 5 ? c.Int(4) : 0;
    int32_t behind = 0;
    if ((shooter->flags & SA_FLAG_MISSILE_BEHIND_TEST) && shooter->instance && target && target->instance) {
        const int32_t* dir = shooter->instance->matrix.m + 8;
        const QelVector& from = shooter->instance->pos;
        const QelVector& to = target->instance->pos;
        const int64_t sum = BehindTerm(dir[0], int64_t{to.x} - from.x) + BehindTerm(dir[1], int64_t{to.y} - from.y) +
                            BehindTerm(dir[2], int64_t{to.z} - from.z);
        behind = sum < 0 ? 1 : 0;
    }
    const SectorObject* missile = O_LaunchMissile(shooter, target, behind, a, b, v);
    return c.Answer(missile ? static_cast<int32_t>(missile->id) : 0);
}

int32_t SACall_RemoteDetonateMissile(const SA_Call& c) {
    SectorObject* o = c.Object(0);
    return c.Answer(o ? O_RemoteDetonateMissile(o) : 0);
}

int32_t SACall_FindNearestEnemy(const SA_Call& c) {
    SectorObject* o = c.Object(0);
    const SectorObject* enemy = o ? O_FindNearestEnemyOf(o, c.argc == 2 ? c.Int(1) : kAnyRange) : nullptr;
    return c.Answer(enemy ? static_cast<int32_t>(enemy->id) : 0);
}

int32_t SACall_FindNearestEnemyFromPos(const SA_Call& c) {
    SectorObject* o = c.Object(0);
    const SectorObject* from = o ? c.Object(1) : nullptr;
    const SectorObject* enemy =
        from && from->instance ? O_FindNearestEnemyFrom(o, &from->instance->pos, c.argc >= 3 ? c.Int(2) : kAnyRange)
                               : nullptr;
    return c.Answer(enemy ? static_cast<int32_t>(enemy->id) : 0);
}

int32_t SACall_FindNearestEnemyByStrength(const SA_Call& c) {
    SectorObject* o = c.Object(0);
    const SectorObject* enemy =
        o ? O_FindNearestEnemyByStrength(o, c.Int(1), c.Int(2), c.argc == 4 ? c.Int(3) : kAnyRange) : nullptr;
    return c.Answer(enemy ? static_cast<int32_t>(enemy->id) : 0);
}

int32_t SACall_IsTargetInFiringRangeOfTurret(const SA_Call& c) {
    SectorObject* ship = c.Object(0);
    SectorObject* target = ship ? c.Object(1) : nullptr;
    if (!target) return c.Answer(0);
    int32_t alignment = 0, distance = 0;
    return c.Answer(O_IsTargetInFiringRangeOfTurret(ship, target, c.Int(2), &alignment, &distance));
}

int32_t SACall_CollisionObject(const SA_Call& c) {
    const SectorObject* o = c.Object(0);
    return c.Answer(o && (o->flags & SA_FLAG_COLLIDED) ? 1 : 0);
}

int32_t SACall_GetCollisionObjects(const SA_Call& c) {
    SectorObject* o = c.Object(0);
    const ShipData* d = o && o->mainType == SA_MT_SHIP ? O_ShipData(o) : nullptr;
    const int32_t n = d ? d->collisionCount : 0;
    if (n <= 0 || n > SA_COLLISION_LIST_MAX) return c.Answer(0);
    ScriptValue v{};
    SV_ArrayAlloc(&v, n);
    for (int32_t i = 0; i < n; ++i)
        if (const SectorObject* hit = d->collisionObjects[i]) SV_ArrayWriteInt(&v, i, static_cast<int32_t>(hit->id));
    if (c.task && g_SEContext) SE_TaskReturnValue(c.task, &v, g_SEContext);
    SV_Release(&v);
    return 1;
}

int32_t SACall_Distance(const SA_Call& c) {
    const SectorObject* a = c.Object(0);
    const SectorObject* b = c.Object(1);
    // The exact distance: the sum of the squares needs more than 64 bits.
    return c.Answer(a && b ? O_GetDistance(a, b) : 0);
}

// ---------------------------------------------------------------- cut scenes

int32_t SACall_LoadCutScene(const SA_Call& c) {
    const int32_t argc = c.argc;
    if (argc != 1 && argc != 2 && argc != 7 && argc != 8) return c.Answer(0);
    SectorObject* o = argc == 2 || argc == 8 ? c.Object(1) : nullptr;
    if ((argc == 2 || argc == 8) && (!o || !o->instance)) return c.Answer(0);
    J3D_Cut* cut = g_B3DState ? J3D_GetCut(c.Int(0)) : nullptr;
    if (!cut) return c.Answer(0);
    QelVector pos{};
    QelMatrix matrix{};
    if (argc == 2) {
        pos = o->instance->pos;
        matrix = o->instance->matrix;
    } else if (argc == 7) {
        pos = QelVector{c.Int(1), c.Int(2), c.Int(3), 0};
        Qel_MatFromAngles(&matrix, c.Int(4), c.Int(5), c.Int(6));
    } else if (argc == 8) {
        const QelVector local{c.Int(2), c.Int(3), c.Int(4), 0};
        const QelVector origin = o->instance->pos;
        pos = O_LocalToWorld(&origin, &o->instance->matrix, &local, QEL_FIX_ONE);
        QelMatrix turn;
        Qel_MatFromAngles(&turn, c.Int(5), c.Int(6), c.Int(7));
        Qel_MatMul(&o->instance->matrix, &turn, &matrix);
    }
    if (argc > 1) J3D_SetCutPos(cut, &pos, &matrix);
    return c.Answer(1);
}

int32_t SACall_FreeCutScene(const SA_Call& c) {
    if (J3D_Cut* cut = g_B3DState ? J3D_CutIsLoaded(c.Int(0)) : nullptr) J3D_FreeCut(cut);
    return c.Answer(0);
}

// ---------------------------------------------------------------- takes

int32_t SACall_AllocTake(const SA_Call& c) {
    SectorObject* sector = c.Object(0);
    if (!sector || sector->mainType != SA_MT_SECTOR || !g_B3DState) return c.Answer(0);
    J3D_Take* scene = J3D_TakeAlloc();
    if (!scene) return c.Answer(0);
    // Both takes share the id, so each finds the other after a load too.
    const SA_Take* take = ST_CreateTake(static_cast<int32_t>(scene->id), sector);
    if (!take) {
        J3D_TakeFree(scene);
        return c.Answer(0);
    }
    return c.Answer(take->id);
}

int32_t SACall_StartTake(const SA_Call& c) {
    const TakeArg t(c);
    Inst3D* inst = t ? B3D_InstFind(static_cast<uint32_t>(c.Int(3))) : nullptr;
    if (!inst) return c.Answer(0);
    // A task still waiting on an earlier start hears that it stopped before
    // this one takes its place.
    if (t.scene->state == TAKE_RUNNING) J3D_TakeStop(t.scene);
    if (t.scene->replyModule) {
        const int32_t module = t.scene->replyModule, handle = t.scene->replyHandle;
        t.scene->replyModule = t.scene->replyHandle = 0;
        J3D_DoEngineReply(module, handle, B3D_REPLY_TAKE_STOPPED);
    }
    t.scene->words2[0] = c.Int(5);
    QelVector pos{};
    QelMatrix matrix{};
    const bool placed = c.argc > 6 && ReadPlacement(c.Arg(6), &pos, &matrix);
    if (!ST_StartTake(t.take, c.Int(1), c.Int(2), c.Int(4), placed ? &pos : nullptr, placed ? &matrix : nullptr))
        return c.Answer(0);
    // A take in which nothing plays would never end: it is over at once.
    if (!Bind(t.take, t.scene)) return c.Answer(B3D_REPLY_TAKE_STOPPED);
    t.scene->replyModule = c.callerModule;
    t.scene->replyHandle = c.task ? static_cast<int32_t>(c.task->id) : 0;
    return 1;
}

int32_t SACall_StopTake(const SA_Call& c) {
    if (const TakeArg t{c}) J3D_TakeStop(t.scene);
    return c.Answer(0);
}

int32_t SACall_FinishTake(const SA_Call& c) {
    if (const TakeArg t{c}) {
        J3D_Cut* cut = J3D_CutIsLoaded(t.scene->cutId);
        for (int32_t i = 0; cut && t.scene->insts && i < t.scene->instCount; ++i) {
            Inst3D* inst = t.scene->insts[i];
            if (!inst || !(inst->jobFlags & JOB_RUNNING) || (inst->jobFlags & JOB_STOPPED)) continue;
            if (inst->pathNr >= 0 && inst->pathNr < cut->pathCount && cut->paths)
                J3D_JobStep(inst, cut, J3D_CutGetLength(&cut->paths[inst->pathNr]));
        }
        J3D_TakeStop(t.scene);
    }
    return c.Answer(0);
}

int32_t SACall_GetTakeRemainingTime(const SA_Call& c) {
    const TakeArg t(c);
    return c.Answer(t ? J3D_TakeGetRemainingTime(t.scene) : 0);
}

int32_t SACall_FreeTake(const SA_Call& c) {
    if (const TakeArg t{c}) {
        // A task waiting on the take hears that it stopped before anything goes.
        J3D_TakeStop(t.scene);
        Unbind(t.scene);
        ST_RemoveTake(t.take);
        J3D_TakeFree(t.scene);
    }
    return c.Answer(0);
}

int32_t SACall_SetTakeReplaceBody(const SA_Call& c) {
    Game().takeReplaceBody = c.Int(0);
    return c.Answer(0);
}
