#include "scene/takes.h"

#include <algorithm>
#include <vector>

#include "base/general.h"
#include "base/log.h"
#include "base/strings.h"
#include "render/cameras.h"
#include "script/context.h"
#include "script/values.h"
#include "base/standin_calls.h"
#include "render/lights.h"
#include "scene/allocs.h"
#include "scene/caches.h"
#include "scene/cutevents.h"
#include "scene/jobs.h"
#include "scene/geometry.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "scene/texanim.h"
#include "scene/trees.h"

void J3D_DoEngineReply(int32_t module, int32_t handle, int32_t code) {
    Qel_DPrintf(4, "J3D_DoEngineReply(%d, %d, %d)\n", module, handle, code);
    const SE_Context* ctx = g_SEContext;
    if (!ctx || ctx->nextModule <= 1 || module < 0 || module >= SE_MODULE_RECORDS || module >= ctx->nextModule) return;
    const EngineModuleEntry& e = ctx->modules[module];
    if (e.ReturnInt) e.ReturnInt(static_cast<uint32_t>(handle), code);
}

J3D_Take* J3D_TakeAlloc() {
    auto* take = static_cast<J3D_Take*>(B3D_AllocMemJ(sizeof(J3D_Take), B3D_MEM_ZERO));
    if (!take) {
        Qel_DPrintf(0, "J3D_TakeAlloc() No MEM for take\n");
        return nullptr;
    }
    take->id = Qel_TableAdd(g_B3DState->takeTable, reinterpret_cast<uintptr_t>(take));
    if (!take->id) {
        B3D_FreeMemJ(sizeof(J3D_Take), take, 0);
        Qel_DPrintf(0, "J3D_TakeAlloc() No MEM for take\n");
        return nullptr;
    }
    Qel_MatFromAngles(&take->matrix, 0, 0, 0);
    take->state = TAKE_ALLOCATED;
    return take;
}

J3D_Take* J3D_TakeFind(uint32_t id) {
    return g_B3DState ? reinterpret_cast<J3D_Take*>(Qel_TableGet(g_B3DState->takeTable, id)) : nullptr;
}

namespace {
bool JobRuns(const Inst3D* inst) { return (inst->jobFlags & JOB_RUNNING) && !(inst->jobFlags & JOB_STOPPED); }

// The lent camera may be freed by its script while the take holds it: its
// entry is dropped then, so nothing steps on the freed record.
void DropFreedCamera(J3D_Take* take) {
    if (!take->cameraId || !take->insts || take->cameraPath < 0 || take->cameraPath >= take->instCount) return;
    if (take->insts[take->cameraPath] && B3D_InstFind(take->cameraId) == take->insts[take->cameraPath]) return;
    take->insts[take->cameraPath] = nullptr;
    take->cameraId = 0;
}

bool IsLentCamera(const J3D_Take* take, int32_t i) { return take->cameraId && i == take->cameraPath; }

}  // namespace

void J3D_TakeTransformInsts(J3D_Take* take) {
    if (!take->cutId || !take->insts) return;
    DropFreedCamera(take);
    for (int32_t i = 0; i < take->instCount; ++i) {
        Inst3D* inst = take->insts[i];
        if (!inst) continue;
        QelVector v;
        Qel_MatMulVec(&take->matrix, &inst->pos, &v);
        inst->pos = {v.x + take->pos.x, v.y + take->pos.y, v.z + take->pos.z, v.w};
        QelMatrix m;
        Qel_MatMul(&take->matrix, &inst->matrix, &m);
        inst->matrix = m;
        Qel_MatMulVec(&take->matrix, &inst->refPoint, &v);
        inst->refPoint = {v.x + take->offset.x, v.y + take->offset.y, v.z + take->offset.z, v.w};
    }
}

int32_t J3D_TakeCheckFinished(J3D_Take* take) {
    DropFreedCamera(take);
    if (!take->cutId || take->instCount == 0 || !take->insts) return 0;
    int32_t count = 0;
    // A take whose cut was unloaded has nothing left to play: it stops like a
    // finished one, so the task waiting on it is woken.
    if (J3D_FindCut(take->cutId))
        for (int32_t i = 0; i < take->instCount; ++i)
            if (take->insts[i] && JobRuns(take->insts[i])) ++count;
    if (count == 0) {
        Qel_DPrintf(4, "J3D_TakeCheckFinished() stopping cutid %d\n", take->cutId);
        J3D_TakeStop(take);
    }
    return count;
}

namespace {
// The caller that waits on the take hears once that it stopped.
void AnswerTakeWaiter(J3D_Take* take) {
    if (!take->replyModule || !take->replyHandle) return;
    const int32_t module = take->replyModule, handle = take->replyHandle;
    take->replyModule = 0;
    take->replyHandle = 0;
    J3D_DoEngineReply(module, handle, B3D_REPLY_TAKE_STOPPED);
}
}  // namespace

void J3D_TakeStop(J3D_Take* take) {
    if (take->state != TAKE_RUNNING) return;
    DropFreedCamera(take);
    if (take->insts)
        for (int32_t i = 0; i < take->instCount; ++i)
            if (take->insts[i] && JobRuns(take->insts[i])) J3D_JobStop(take->insts[i]);
    AnswerTakeWaiter(take);
    take->state = TAKE_STOPPED;
}

int32_t J3D_JobGetRemainingTime(const Inst3D* inst) {
    if (!JobRuns(inst)) return 0;
    const J3D_Cut* cut = J3D_CutIsLoaded(inst->cutId);
    if (!cut) return 0;
    const int32_t clock = g_SystemState ? g_SystemState->gameClock : 0;
    const int64_t elapsed = B3D_ClockDiff(clock, inst->jobOrigin);
    const int64_t left = inst->jobTo - elapsed;
    if (inst->jobFlags & JOB_END_TIME_ONLY) return static_cast<int32_t>(left);
    int64_t length = 0;
    if (inst->pathNr >= 0 && inst->pathNr < cut->pathCount && cut->paths)
        length = J3D_CutGetLength(&cut->paths[inst->pathNr]);
    return static_cast<int32_t>(std::min(left, length - elapsed));
}

int32_t J3D_TakeGetRemainingTime(const J3D_Take* take) {
    if (!take->insts) return 0;
    int32_t best = 0;
    for (int32_t i = 0; i < take->instCount; ++i)
        if (take->insts[i]) best = std::max(best, J3D_JobGetRemainingTime(take->insts[i]));
    return best;
}

void J3D_JobStop(Inst3D* inst) {
    if (!(inst->jobFlags & JOB_STOPPED) && (inst->jobFlags & JOB_WAITING)) {
        inst->jobFlags &= ~JOB_WAITING;
        J3D_DoEngineReply(inst->replyModule, inst->replyHandle, B3D_REPLY_JOB_STOPPED);
    }
    inst->jobFlags |= JOB_STOPPED;
}

// ------------------------------------------------------------------ take start and update

namespace {

// A take without a scene keeps its instances in no scene.
void AddToScene(Inst3D* inst, Scene3D* scene) {
    if (scene) B3D_InstAddToScene(inst, scene);
}

void UpdateLight(Inst3D* light) {
    if (light->rendererLight) S_3DUpdateLight(light);
}

Inst3D* NewLight(int32_t word) {
    Inst3D* light = B3D_LightAlloc();
    if (!light) return nullptr;
    if (word == -2) {
        light->lightRange = 300000;
        light->flags |= INST_POINT_LIGHT;
        light->lightAtten[0] = 0x10000;
        light->lightAtten[1] = 0;
        light->lightAtten[2] = 0x80000;
        return light;
    }
    const int32_t code = word - (word / 1000) * 1000;
    light->lightColor[0] = static_cast<uint16_t>(code / 100 * 255 / 9);
    light->lightColor[1] = static_cast<uint16_t>(code / 10 % 10 * 255 / 9);
    light->lightColor[2] = static_cast<uint16_t>(code % 10 * 255 / 9);
    if (word >= 3000) {
        light->flags |= INST_SPOT_LIGHT;
        light->lightAtten[0] = 0;
        light->lightAtten[1] = 0xa0000;
        light->lightAtten[2] = 0;
        light->lightRange = 1000000;
        Qel_MatIdentity(&light->matrix);
    }
    return light;
}

}  // namespace

void J3D_TakesUpdate() {
    StandIn_Record("J3D_TakesUpdate");
    if (!g_B3DState) return;
    g_J3DFrameList.count = 0;
    // The ids of every tree first: "CutEvent" tasks run during the walk and
    // may free instances and scenes.
    std::vector<uint32_t> ids;
    for (Inst3D* i = B3D_First<Inst3D>(&g_B3DState->freeInsts); i; i = B3D_Next(i)) J3D_CollectTreeIds(i, &ids);
    for (Scene3D* s = B3D_First<Scene3D>(&g_B3DState->scenes); s; s = B3D_Next(s)) {
        for (Inst3D* i = B3D_First<Inst3D>(&s->insts); i; i = B3D_Next(i)) J3D_CollectTreeIds(i, &ids);
        for (Inst3D* i = B3D_First<Inst3D>(&s->cameras); i; i = B3D_Next(i)) J3D_CollectTreeIds(i, &ids);
    }
    J3D_CutEventRunIds(ids);

    for (int32_t n = 0; n < g_J3DFrameList.count; ++n) {
        Inst3D* inst = g_J3DFrameList.insts[n];
        if (B3D_InstFind(g_J3DFrameList.ids[n]) != inst) continue;
        Inst3D* follower = inst->boundInst;
        if (!follower || follower == inst) continue;
        follower->pos = inst->pos;
        follower->matrix = inst->matrix;
    }

    QelTable* table = g_B3DState->takeTable;
    for (uint32_t key = Qel_TableNext(table, 0); key; key = Qel_TableNext(table, key)) {
        auto* take = reinterpret_cast<J3D_Take*>(Qel_TableGet(table, key));
        if (!take) continue;
        DropFreedCamera(take);
        J3D_TakeTransformInsts(take);
        if (take->state == TAKE_RUNNING) J3D_TakeCheckFinished(take);
    }
}

int32_t J3D_TakeLoadCut(J3D_Take* take, J3D_Cut* cut, Scene3D* scene, Camera3D* camera) {
    Qel_DPrintf(4, "J3D_TakeLoadCut(%d) start\n", cut->id);
    take->cutId = static_cast<int32_t>(cut->id);
    take->scene = scene;
    const int32_t count = cut->paths ? cut->pathCount : 0;
    if (count > 0) {
        take->insts = static_cast<Inst3D**>(B3D_AllocMemJ(count * static_cast<int32_t>(sizeof(Inst3D*)), B3D_MEM_ZERO));
        if (!take->insts) return 0;
    }
    take->instCount = count;
    take->cameraId = 0;
    take->cameraPath = 0;
    bool cameraSeen = false;
    for (int32_t i = 0; i < count; ++i) {
        const J3D_CutPath& path = cut->paths[i];
        const int32_t word = path.reference;
        Inst3D* inst = nullptr;
        if (word == -1) {
            if (cameraSeen) {
                Qel_DPrintf(0,
                            "J3D_TakeLoadCut(cutid=%d) More than 1 camera defined (does not work for B3D Takes), "
                            "ignoring camera in path %d!\n",
                            cut->id, i);
            } else {
                cameraSeen = true;
                if (camera) {
                    take->insts[i] = &camera->inst;
                    take->cameraId = camera->inst.id;
                    take->cameraPath = i;
                }
            }
            continue;
        }
        if (word == -2 || (word >= 1000 && word <= 3999)) {
            inst = NewLight(word);
            if (!inst) continue;
            UpdateLight(inst);
            AddToScene(inst, scene);
            if (word >= 2000 && word <= 2999) {
                inst->flags |= INST_MARKED;
                inst->markValue = 0;
            }
        } else if (path.flags & PATH_BODY) {
            inst = B3D_AllocInst();
            if (!inst) continue;
            B3D_InstSetBody(inst, word);
            AddToScene(inst, scene);
        } else {
            Qel_DPrintf(0, "J3D_TakeLoadCut(cutid=%d) Path body id %d is actually a cut id\n", cut->id, word);
            continue;
        }
        take->insts[i] = inst;
    }
    take->state = TAKE_STOPPED;
    return 1;
}

int32_t J3D_TakePlay(J3D_Take* take) {
    DropFreedCamera(take);
    J3D_Cut* cut = J3D_CutIsLoaded(take->cutId);
    if (!cut || !take->insts) return 0;
    for (int32_t i = 0; i < take->instCount && i < cut->pathCount; ++i)
        if (take->insts[i]) J3D_JobStartInst(take->insts[i], 0, i, cut, 0, 0);
    int32_t running = 0;
    for (int32_t i = 0; i < take->instCount; ++i)
        if (take->insts[i] && JobRuns(take->insts[i])) ++running;
    if (!running) return 0;
    take->state = TAKE_RUNNING;
    return 1;
}

int32_t J3D_TakeStartInScene(J3D_Take* take, J3D_Cut* cut, Scene3D* scene, Camera3D* camera) {
    if (!take || !cut) return 0;
    if (take->state == TAKE_RUNNING) J3D_TakeStop(take);
    // A caller of an earlier start that still waits (a take saved while it
    // waited) is answered before a new caller can take its place.
    AnswerTakeWaiter(take);
    if (take->cutId && take->cutId != static_cast<int32_t>(cut->id)) J3D_TakeClear(take);
    if (!take->cutId && !J3D_TakeLoadCut(take, cut, scene, camera)) return 0;
    return J3D_TakePlay(take);
}

namespace {
// A take that goes stops first, so no job it gave and no caller waiting on it
// is left waiting; then its instances go (the lent camera stays its
// caller's).
void ReleaseTakeInsts(J3D_Take* take) {
    if (take->state == TAKE_RUNNING) J3D_TakeStop(take);
    AnswerTakeWaiter(take);
    DropFreedCamera(take);
    if (!take->insts) return;
    for (int32_t i = 0; i < take->instCount; ++i) {
        Inst3D* inst = take->insts[i];
        if (!inst) continue;
        take->insts[i] = nullptr;
        if (IsLentCamera(take, i)) {
            // The camera is the caller's: only the job the take gave it ends.
            if (JobRuns(inst)) J3D_JobStop(inst);
            continue;
        }
        B3D_InstFree(inst);
    }
    B3D_FreeMemJ(take->instCount * static_cast<int32_t>(sizeof(Inst3D*)), take->insts, 0);
    take->insts = nullptr;
    take->cameraId = 0;
}
}  // namespace

void J3D_TakeClear(J3D_Take* take) {
    if (!take) return;
    ReleaseTakeInsts(take);
    take->instCount = 0;
    take->cutId = 0;
    take->state = TAKE_ALLOCATED;
}

void J3D_TakeFree(J3D_Take* take) {
    if (!take) return;
    ReleaseTakeInsts(take);
    Qel_TableRemove(g_B3DState->takeTable, take->id);
    B3D_FreeMemJ(sizeof(J3D_Take), take, 0);
}

void J3D_TakeFreeAll() {
    B3DState* s = g_B3DState;
    if (!s) return;
    while (const uint32_t k = Qel_TableNext(s->takeTable, 0)) {
        if (auto* take = reinterpret_cast<J3D_Take*>(Qel_TableGet(s->takeTable, k))) J3D_TakeFree(take);
        else Qel_TableRemove(s->takeTable, k);
    }
}

int32_t J3D_CutPreload(int32_t cutId) { return J3D_GetCut(cutId) ? 1 : 0; }
