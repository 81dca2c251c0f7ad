// STANDIN: the instance tree operations: frees an instance tree with its
// replies and enables a scene's cameras; nothing of the renderer's instances,
// shadows or lens-flare items yet.
#include "scene/trees.h"

#include "base/log.h"
#include "base/strings.h"
#include "render/cameras.h"
#include "render/lights.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "scene/takes.h"
#include "scene/texanim.h"

void B3D_InstDeleteFromScene(Inst3D* inst) {
    if (!inst->scene) return;
    B3D_ListRemove(B3D_Node(inst));
    B3D_ListAppend(&g_B3DState->freeInsts, B3D_Node(inst));
    inst->scene = nullptr;
    B3D_InstSetSceneRecursive(inst);
}

void B3D_InstFree(Inst3D* inst) {
    if (!inst) return;
    if (inst->flags & INST_CAMERA) {
        B3D_CameraFree(reinterpret_cast<Camera3D*>(inst));
        return;
    }
    if (inst->jobFlags & JOB_WAITING) {
        J3D_DoEngineReply(inst->replyModule, inst->replyHandle, B3D_REPLY_INST_FREED);
        inst->jobFlags &= ~JOB_WAITING;
    }
    while (Inst3D* c = B3D_First<Inst3D>(&inst->children)) B3D_InstFree(c);
    if (inst->scene && !inst->parent) B3D_InstDeleteFromScene(inst);
    B3D_InstFreeBones(inst);
    B3D_InstFreeMaterialOverrides(inst);
    B3D_ListRemove(B3D_Node(inst));
    Qel_TableRemove(g_B3DState->instTable, inst->id);
    inst->name = Qel_StrFree(inst->name);
    *inst = Inst3D{};
    B3D_FreeRecordI(inst);
}

void B3D_SceneEnable(Scene3D* scene) {
    if (!scene || (scene->flags & SCENE_ENABLED)) return;
    scene->flags |= SCENE_ENABLED;
    for (Camera3D* cam = B3D_First<Camera3D>(&scene->cameras); cam; cam = B3D_Next(cam)) {
        if (cam->camFlags & CAM_ACTIVE) continue;
        S_3DSetSceneViewPort(cam);
        cam->camFlags |= CAM_ACTIVE;
    }
}
