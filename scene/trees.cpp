// STANDIN: the instance tree operations: frees an instance tree with its
// replies, frees a scene, enables a scene's cameras and makes the lens-flare
// scene; nothing of the renderer's instances, shadows, collision models or
// lens-flare items yet.
#include "scene/trees.h"

#include "base/log.h"
#include "base/strings.h"
#include "render/cameras.h"
#include "render/lights.h"
#include "scene/allocs.h"
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
    if (g_B3DState->firstLight == inst) g_B3DState->firstLight = nullptr;
    if (g_B3DState->lensFlareCheck == inst) g_B3DState->lensFlareCheck = nullptr;
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

void B3D_SceneFree(Scene3D* scene) {
    if (!scene) return;
    while (Inst3D* i = B3D_First<Inst3D>(&scene->insts)) B3D_InstFree(i);
    while (auto* cam = B3D_First<Camera3D>(&scene->cameras)) B3D_CameraFree(cam);
    B3D_SceneFreeSceneBuffers(scene);
    B3D_SceneFreeParticles(scene);
    Qel_TableRemove(g_B3DState->sceneTable, scene->id);
    if (g_B3DState->lensFlareScene == scene) g_B3DState->lensFlareScene = nullptr;
    B3D_ListRemove(B3D_Node(scene));
    scene->name = Qel_StrFree(scene->name);
    *scene = Scene3D{};
    B3D_FreeRecordI(scene);
}

void B3D_EnableAllObjects3D() {
    for (Scene3D* sc = B3D_First<Scene3D>(&g_B3DState->scenes); sc; sc = B3D_Next(sc)) {
        if (!(sc->flags & SCENE_ENABLED)) continue;
        for (Camera3D* cam = B3D_First<Camera3D>(&sc->cameras); cam; cam = B3D_Next(cam))
            if (cam->camFlags & CAM_ACTIVE) S_3DSetSceneViewPort(cam);
    }
}

Scene3D* B3D_MakeLensflareScene() {
    B3DState* s = g_B3DState;
    if (s->lensFlareScene) return s->lensFlareScene;
    Scene3D* scene = B3D_SceneAlloc();
    if (!scene) return nullptr;
    scene->name = Qel_StrDup("Lensflare Scene");
    if (Camera3D* cam = B3D_CameraAlloc()) B3D_SceneLinkInst(scene, cam);
    if (Inst3D* check = B3D_AllocInst()) {
        check->bodyId = 195;
        s->lensFlareCheck = check;
    }
    s->lensFlareScene = scene;
    return scene;
}
