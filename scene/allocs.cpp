#include "scene/allocs.h"

#include "base/fixmath.h"
#include "base/log.h"
#include "render/cameras.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "scene/trees.h"

namespace {
void InstDefaults(Inst3D* inst, uint32_t id) {
    inst->id = id;
    B3D_ListInit(&inst->children);
    inst->bodyId = -1;
    Qel_MatFromAngles(&inst->matrix, 0, 0, 0);
    inst->colorModifier[1] = inst->colorModifier[2] = inst->colorModifier[3] = QEL_FIX_ONE;
}

template <class T>
T* NewInst(const char* noId) {
    T* rec = B3D_AllocRecordI<T>();
    if (!rec) {
        Qel_DPrintf(0, "%s", noId);
        return nullptr;
    }
    const uint32_t id = Qel_TableAdd(g_B3DState->instTable, reinterpret_cast<uintptr_t>(rec));
    if (!id) {
        B3D_FreeRecordI(rec);
        Qel_DPrintf(0, "%s", noId);
        return nullptr;
    }
    InstDefaults(reinterpret_cast<Inst3D*>(rec), id);
    return rec;
}
}  // namespace

Inst3D* B3D_AllocInst() {
    Inst3D* inst = NewInst<Inst3D>("B3D_AllocInst: No free inst ID found!\n");
    if (!inst) return nullptr;
    inst->flags &= ~INST_LIGHT;
    inst->detailSwitch = -1;
    inst->detailWord2 = -1;
    inst->size = 0;
    inst->totalRadius = -1;
    inst->scale = {QEL_FIX_ONE, QEL_FIX_ONE, QEL_FIX_ONE, 0};
    inst->worldMatrix = inst->matrix;
    B3D_ListAppend(&g_B3DState->freeInsts, B3D_Node(inst));
    return inst;
}

Inst3D* B3D_LightAlloc() {
    Inst3D* light = NewInst<Inst3D>("B3D_LightAlloc: No free inst ID found!\n");
    if (!light) return nullptr;
    light->flags = INST_LIGHT;
    light->size = -1;
    light->radius = 0;
    light->lightValue = 2 * QEL_FIX_ONE;
    B3D_ListAppend(&g_B3DState->freeInsts, B3D_Node(light));
    return light;
}

Camera3D* B3D_CameraAlloc() {
    Camera3D* cam = NewInst<Camera3D>("B3D_CameraAlloc: No free inst ID found!\n");
    if (!cam) return nullptr;
    cam->inst.flags = INST_CAMERA;
    cam->viewport[0] = 0;
    cam->viewport[1] = QEL_FIX_ONE;
    cam->viewport[2] = 0;
    cam->viewport[3] = QEL_FIX_ONE;
    cam->focus = 0x4000;
    B3D_ListInit(&cam->items);
    B3D_ListInit(&cam->facing);
    cam->ones[0] = cam->ones[1] = cam->ones[2] = QEL_FIX_ONE;
    B3D_ListAppend(&g_B3DState->freeInsts, B3D_Node(cam));
    return cam;
}

Scene3D* B3D_SceneAlloc() {
    auto* scene = B3D_AllocRecordI<Scene3D>();
    if (!scene) {
        Qel_DPrintf(0, "B3D_SceneAlloc: No free scene ID found!\n");
        return nullptr;
    }
    scene->id = Qel_TableAdd(g_B3DState->sceneTable, reinterpret_cast<uintptr_t>(scene));
    if (!scene->id) {
        B3D_FreeRecordI(scene);
        Qel_DPrintf(0, "B3D_SceneAlloc: No free scene ID found!\n");
        return nullptr;
    }
    B3D_ListInit(&scene->insts);
    B3D_ListInit(&scene->cameras);
    B3D_ListInit(&scene->bufferGroups);
    B3D_ListAppend(&g_B3DState->scenes, B3D_Node(scene));
    scene->systemScale = 0.01f;
    scene->ints[0] = 32;
    scene->ints[1] = 32;
    scene->ints[2] = 64;
    return scene;
}

void B3D_CameraDeleteFromScene(Camera3D* camera) {
    if (camera && camera->inst.scene) B3D_InstDeleteFromScene(&camera->inst, camera->inst.scene);
}

void B3D_SceneLinkInst(Scene3D* scene, Camera3D* camera) {
    if (!scene || !camera) return;
    Inst3D* inst = &camera->inst;
    if (inst->scene) B3D_InstDeleteFromScene(inst, inst->scene);
    // A camera under an instance leaves it for the scene's own camera list.
    B3D_InstDetach(inst);
    B3D_ListAppend(&scene->cameras, B3D_Node(camera));
    inst->scene = scene;
    B3D_InstSetSceneRecursive(inst);
    if (scene->flags & SCENE_ENABLED) {
        S_3DSetSceneViewPort(camera);
        camera->camFlags |= CAM_ACTIVE;
    }
}

uint32_t B3D_SceneGetCamera(const Scene3D* scene) {
    const Inst3D* cam = B3D_First<Inst3D>(&scene->cameras);
    return cam ? cam->id : 0;
}
