#include "scene/takes.h"

#include <algorithm>

#include "base/general.h"
#include "base/log.h"
#include "base/strings.h"
#include "render/cameras.h"
#include "script/context.h"
#include "script/values.h"
#include "scene/allocs.h"
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

void J3D_TakeTransformInsts(J3D_Take* take) {
    if (!take->cutId || !take->insts) return;
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

namespace {
bool JobRuns(const Inst3D* inst) { return (inst->jobFlags & JOB_RUNNING) && !(inst->jobFlags & JOB_STOPPED); }
}  // namespace

int32_t J3D_TakeCheckFinished(J3D_Take* take) {
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

void J3D_TakeStop(J3D_Take* take) {
    if (take->state != TAKE_RUNNING) return;
    if (take->insts)
        for (int32_t i = 0; i < take->instCount; ++i)
            if (take->insts[i] && JobRuns(take->insts[i])) J3D_JobStop(take->insts[i]);
    if (take->replyModule && take->replyHandle) {
        const int32_t module = take->replyModule, handle = take->replyHandle;
        take->replyModule = 0;
        take->replyHandle = 0;
        J3D_DoEngineReply(module, handle, B3D_REPLY_TAKE_STOPPED);
    }
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

void B3D_CameraFree(Camera3D* camera) {
    if (!camera) return;
    Inst3D* inst = &camera->inst;
    if (inst->jobFlags & JOB_WAITING) {
        inst->jobFlags &= ~JOB_WAITING;
        J3D_DoEngineReply(inst->replyModule, inst->replyHandle, B3D_REPLY_CAMERA_FREED);
    }
    while (auto* item = B3D_First<B3DCameraItem>(&camera->items)) {
        B3D_ListRemove(B3D_Node(item));
        B3D_FreeCameraItem(item);
    }
    if (camera->causticMaterial) {
        B3D_FreeTextureMaterial(camera->causticMaterial);
        camera->causticMaterial = nullptr;
        camera->causticTexture = 0;
    }
    while (auto* node = B3D_First<B3DFacingNode>(&camera->facing)) B3D_FreeFacingNode(node);
    // Sub-instances go with the camera, each with its own reply, as an
    // instance's subtree goes with the instance; none keeps a freed parent.
    while (Inst3D* c = B3D_First<Inst3D>(&inst->children)) B3D_InstFree(c);
    if (inst->scene) B3D_CameraDeleteFromScene(camera);
    S_3DFreeSceneCamera(camera);
    B3D_ListRemove(B3D_Node(camera));
    Qel_TableRemove(g_B3DState->instTable, inst->id);
    inst->name = Qel_StrFree(inst->name);
    B3D_InstFreeBones(inst);
    B3D_InstFreeMaterialOverrides(inst);
    *camera = Camera3D{};
    B3D_FreeRecordI(camera);
}
