#include "scene/trees.h"

#include <algorithm>
#include <initializer_list>
#include <span>
#include <vector>

#include "base/log.h"
#include "base/strings.h"
#include "render/bodies.h"
#include "render/cameras.h"
#include "render/lights.h"
#include "render/particles.h"
#include "scene/allocs.h"
#include "scene/bodyrecord.h"
#include "scene/caches.h"
#include "scene/freeing.h"
#include "scene/instcoll.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "scene/takes.h"
#include "scene/texanim.h"

void (*g_B3DSceneFreedHook)(Scene3D* scene) = nullptr;
void (*g_B3DInstsFreedHook)(std::span<const Inst3D* const> dying) = nullptr;

namespace {

constexpr uint8_t BODY_SKINNED = 0x08;
constexpr uint32_t LEVEL_COLLISION = 0x10;  // a sub-body that gets a collision model with the body

bool Enabled(const Scene3D* scene) { return scene && (scene->flags & SCENE_ENABLED); }

void MarkRadiusStale(Inst3D* inst) {
    if (inst) inst->totalRadius = -1;
}

void EnableChildren(Inst3D* inst) {
    for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c)) B3D_InstEnableTree(c);
}

// A camera's sub-instances may be in the renderer (added under the camera in
// an enabled scene); they leave it with the scene.
void DisableChildren(Inst3D* inst) {
    for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c)) B3D_InstDisableTree(c);
}

void EnableSceneContents(Scene3D* scene) {
    for (Camera3D* cam = B3D_First<Camera3D>(&scene->cameras); cam; cam = B3D_Next(cam)) {
        if (cam->camFlags & CAM_ACTIVE) continue;
        S_3DSetSceneViewPort(cam);
        cam->camFlags |= CAM_ACTIVE;
    }
    for (Inst3D* i = B3D_First<Inst3D>(&scene->insts); i; i = B3D_Next(i)) {
        B3D_InstEnable(i);
        EnableChildren(i);
    }
}

// --------------------------------------------------------------- references

// The instances of a subtree about to be freed, sorted for lookup.
class Dying {
public:
    explicit Dying(const std::vector<Inst3D*>& roots) {
        for (Inst3D* root : roots) Collect(root);
        std::sort(insts_.begin(), insts_.end());
        std::sort(ids_.begin(), ids_.end());
    }
    bool Has(const Inst3D* inst) const { return inst && std::binary_search(insts_.begin(), insts_.end(), inst); }
    bool HasId(int32_t id) const { return id > 0 && std::binary_search(ids_.begin(), ids_.end(), id); }
    std::span<const Inst3D* const> Insts() const { return insts_; }

private:
    void Collect(Inst3D* inst) {
        insts_.push_back(inst);
        ids_.push_back(static_cast<int32_t>(inst->id));
        for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c)) Collect(c);
    }
    std::vector<const Inst3D*> insts_;
    std::vector<int32_t> ids_;
};

// Clears what one camera holds of the dying instances; the lens-flare items
// that belong to them are handed back to be freed after the walk.
void ForgetInCamera(Camera3D* cam, const Dying& dying, std::vector<B3DCameraItem*>& items) {
    if (dying.Has(cam->environmentSource)) cam->environmentSource = nullptr;
    for (auto* item = B3D_First<B3DCameraItem>(&cam->items); item;) {
        auto* next = B3D_Next(item);
        for (Inst3D*& slot : item->insts)
            if (dying.Has(slot)) slot = nullptr;
        // A dying camera frees its own items, with their replies, in order.
        if (dying.HasId(item->key) && !dying.Has(&cam->inst)) {
            B3D_ListRemove(B3D_Node(item));
            items.push_back(item);
        }
        item = next;
    }
    for (auto* node = B3D_First<B3DFacingNode>(&cam->facing); node;) {
        auto* next = B3D_Next(node);
        if (dying.Has(node->inst)) B3D_FreeFacingNode(node);
        node = next;
    }
    int32_t kept = 0;
    for (int32_t i = 0; i < cam->collectedCount && i < B3D_CAMERA_MAX_COLLECTED; ++i)
        if (!dying.Has(cam->collected[i])) cam->collected[kept++] = cam->collected[i];
    for (int32_t i = kept; i < cam->collectedCount && i < B3D_CAMERA_MAX_COLLECTED; ++i) cam->collected[i] = nullptr;
    cam->collectedCount = kept;
}

// What one record holds of the dying instances: its hit and bound instance,
// its bones, and a camera's own references.
void ForgetIn(Inst3D* inst, const Dying& dying, std::vector<B3DCameraItem*>& items) {
    if (dying.Has(inst->hitInst)) inst->hitInst = nullptr;
    if (dying.Has(inst->boundInst)) inst->boundInst = nullptr;
    for (int32_t b = 0; inst->bones && b < inst->boneCount; ++b)
        if (dying.Has(inst->bones[b])) inst->bones[b] = nullptr;
    if (inst->flags & INST_CAMERA) ForgetInCamera(reinterpret_cast<Camera3D*>(inst), dying, items);
}

// Drops every reference the engine keeps to the subtrees of the roots: every
// record of the id table (whatever list it is in), the takes, the draw list,
// the frame's lights and the state's own instances. The flare items of the
// subtrees are freed last; their own flare instances go through B3D_InstFree
// and so clean up after themselves.
void DropReferences(const std::vector<Inst3D*>& roots) {
    B3DState* s = g_B3DState;
    if (!s) return;
    const Dying dying(roots);
    if (g_B3DInstsFreedHook) g_B3DInstsFreedHook(dying.Insts());
    std::vector<B3DCameraItem*> items;
    for (uint32_t k = Qel_TableNext(s->instTable, 0); k; k = Qel_TableNext(s->instTable, k))
        if (auto* inst = reinterpret_cast<Inst3D*>(Qel_TableGet(s->instTable, k))) ForgetIn(inst, dying, items);
    for (uint32_t k = Qel_TableNext(s->takeTable, 0); k; k = Qel_TableNext(s->takeTable, k)) {
        auto* take = reinterpret_cast<J3D_Take*>(Qel_TableGet(s->takeTable, k));
        for (int32_t i = 0; take && take->insts && i < take->instCount; ++i)
            if (dying.Has(take->insts[i])) take->insts[i] = nullptr;
    }
    for (auto* d = B3D_First<B3DDrawItem>(&s->drawList); d;) {
        auto* next = B3D_Next(d);
        if (dying.Has(d->inst)) {
            B3D_ListRemove(B3D_Node(d));
            B3D_ListAppend(&s->drawFree, B3D_Node(d));
        }
        d = next;
    }
    int32_t kept = 0;
    for (int32_t i = 0; i < B3D_MAX_COLLECTED_LIGHTS && s->collectedLights[i]; ++i)
        if (!dying.Has(s->collectedLights[i])) s->collectedLights[kept++] = s->collectedLights[i];
    for (int32_t i = kept; i <= B3D_MAX_COLLECTED_LIGHTS && s->collectedLights[i]; ++i) s->collectedLights[i] = nullptr;
    if (dying.Has(s->lensFlareCheck)) s->lensFlareCheck = nullptr;
    if (dying.Has(s->firstLight)) s->firstLight = nullptr;
    for (B3DCameraItem* item : items) {
        const Inst3D* owner = B3D_InstFind(static_cast<uint32_t>(item->key));
        Qel_DPrintf(0, "Last chance removing CameraLight called for instance %d[%s]\n", item->key,
                    owner && owner->name ? owner->name : "");
        B3D_FreeCameraItem(item);
    }
}

// What only a camera owns: its lens-flare items, its caustic material and its
// facing nodes.
void FreeCameraParts(Camera3D* camera) {
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
}

// The free of one record (instance, light or camera) with its subtree,
// without the reference sweep (done once for the whole subtree by
// B3D_InstFree and B3D_SceneFree). A waiting caller hears 3 for a camera and
// 2 for any other record.
void FreeOne(Inst3D* inst) {
    const bool camera = inst->flags & INST_CAMERA;
    if (inst->jobFlags & JOB_WAITING) {
        inst->jobFlags &= ~JOB_WAITING;
        J3D_DoEngineReply(inst->replyModule, inst->replyHandle, camera ? B3D_REPLY_CAMERA_FREED : B3D_REPLY_INST_FREED);
    }
    B3D_InstFreeMaterialOverrides(inst);
    if (camera) FreeCameraParts(reinterpret_cast<Camera3D*>(inst));
    while (Inst3D* c = B3D_First<Inst3D>(&inst->children)) FreeOne(c);
    if (inst->scene) B3D_InstDeleteFromScene(inst, inst->scene);
    // A record freed while in the renderer (no scene, or a disabled one)
    // still leaves it.
    if (camera) S_3DFreeSceneCamera(reinterpret_cast<Camera3D*>(inst));
    B3D_InstRemoveFromRenderer(inst);
    B3D_InstFreeBones(inst);
    if (inst->parent) MarkRadiusStale(inst->parent);
    B3D_ListRemove(B3D_Node(inst));
    if (g_B3DState) Qel_TableRemove(g_B3DState->instTable, inst->id);
    inst->name = Qel_StrFree(inst->name);
    if (camera) {
        auto* cam = reinterpret_cast<Camera3D*>(inst);
        *cam = Camera3D{};
        B3D_FreeRecordI(cam);
    } else {
        *inst = Inst3D{};
        B3D_FreeRecordI(inst);
    }
}

bool IsInSubtree(const Inst3D* inst, const Inst3D* root) {
    for (const Inst3D* p = inst; p; p = p->parent)
        if (p == root) return true;
    return false;
}

// The subtree leaves the scene: out of the renderer, its scene pointers
// cleared; every record stays where it is linked.
void LeaveScene(Inst3D* inst, Scene3D* scene) {
    for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c)) LeaveScene(c, scene);
    if (inst->flags & INST_CAMERA) {
        auto* cam = reinterpret_cast<Camera3D*>(inst);
        if (Enabled(scene)) {
            S_3DFreeSceneCamera(cam);
            cam->rendererCamera = nullptr;
            cam->camFlags &= ~CAM_ACTIVE;
        }
    } else if (Enabled(scene)) {
        B3D_InstRemoveFromRenderer(inst);
    }
    inst->scene = nullptr;
}

}  // namespace

// --------------------------------------------------------------- placing

void B3D_InstDetach(Inst3D* inst) {
    if (!inst) return;
    if (inst->parent) MarkRadiusStale(inst->parent);
    inst->parent = nullptr;
    B3D_ListRemove(B3D_Node(inst));
}

void B3D_InstAddToScene(Inst3D* inst, Scene3D* scene) {
    if (!inst || !scene) return;
    if (inst->flags & INST_CAMERA) {
        B3D_SceneLinkInst(scene, reinterpret_cast<Camera3D*>(inst));
        return;
    }
    if (inst->scene) B3D_InstDeleteFromScene(inst, inst->scene);
    B3D_InstDetach(inst);
    B3D_ListAppend(&scene->insts, B3D_Node(inst));
    inst->scene = scene;
    B3D_InstSetSceneRecursive(inst);
    if (Enabled(scene)) {
        B3D_InstEnable(inst);
        EnableChildren(inst);
    }
}

void B3D_InstDeleteFromScene(Inst3D* inst, Scene3D* scene) {
    if (!inst) return;
    if (!scene || inst->scene != scene) {
        Qel_DPrintf(0, "B3D_InstDeleteFromScene() Inst not in Scene (body=%d)!\n", inst->bodyId);
        return;
    }
    LeaveScene(inst, scene);
    // A sub-record leaves with its subtree only: its parent stays in the scene.
    B3D_InstDetach(inst);
    B3D_ListAppend(&g_B3DState->freeInsts, B3D_Node(inst));
}

int32_t B3D_InstAddToInst(Inst3D* child, Inst3D* parent) {
    if (!child || !parent) return 0;
    if (IsInSubtree(parent, child)) {
        Qel_DPrintf(0, "B3D_InstAddToInst() Inst %d can't be put under itself or its own child %d!\n",
                    static_cast<int>(child->id), static_cast<int>(parent->id));
        return 0;
    }
    if (child->scene) B3D_InstDeleteFromScene(child, child->scene);
    B3D_InstDetach(child);
    B3D_ListAppend(&parent->children, B3D_Node(child));
    child->parent = parent;
    MarkRadiusStale(parent);
    if (parent->scene) {
        child->scene = parent->scene;
        B3D_InstSetSceneRecursive(child);
        if (Enabled(parent->scene)) B3D_InstEnableTree(child);
    }
    return 1;
}

// --------------------------------------------------------------- bodies

int32_t B3D_InstSetBody(Inst3D* inst, int32_t id) {
    if (!inst) return 0;
    if (inst->bodyId != 0 && inst->bodyId == id) return 1;
    if (id < 0) return 0;
    Body3D* body = B3D_GetBody(id);
    if (!body) return 0;
    B3D_InstFreeTextGlyphs(inst);
    if (Enabled(inst->scene)) B3D_InstRemoveFromRenderer(inst);
    B3D_InstFreeMaterialOverrides(inst);
    B3D_InstFreeBones(inst);
    inst->bodyId = id;
    const BodyLevel* level = body->levelCount > 0 && body->levels ? body->levels[0] : nullptr;
    const BodyPart* part = level && level->partCount > 0 && level->parts ? level->parts[0] : nullptr;
    const int32_t radius = part ? part->radius : 0;
    inst->size = radius;
    inst->scale.x = inst->scale.y = inst->scale.z = QEL_FIX_ONE;
    inst->radius = radius;
    inst->usedSize = radius;
    inst->totalRadius = -1;
    inst->soundId = static_cast<int32_t>(body->soundFlags);
    inst->name = Qel_StrFree(inst->name);
    if (body->name) inst->name = Qel_StrDup(body->name);
    if (body->flags & BODY_DUMMY) inst->flags |= INST_BODY_FLAG40 | INST_INVISIBLE;
    if (body->flags & BODY_SKINNED) inst->flags2 |= INST2_SKINNED;
    B3D_InstBuildTexAnims(inst, body);
    for (int32_t l = 0; l < body->levelCount && body->levels; ++l)
        if (body->levels[l] && (body->levels[l]->flags & LEVEL_COLLISION)) B3D_CollBuildModel(inst, l);
    if (Enabled(inst->scene)) B3D_InstEnable(inst);
    return 1;
}

// --------------------------------------------------------------- freeing

void B3D_InstFree(Inst3D* inst) {
    if (!inst) return;
    DropReferences({inst});
    FreeOne(inst);
}

void B3D_CameraFree(Camera3D* camera) {
    if (camera) B3D_InstFree(&camera->inst);
}

int32_t B3D_InstFreeTextGlyphs(Inst3D* inst) {
    if (!inst) return 1;
    for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c;) {
        Inst3D* next = B3D_Next(c);
        if (c->flags & INST_GLYPH) B3D_InstFree(c);
        c = next;
    }
    return 1;
}

void B3D_InstFreeChildrenByMask(Inst3D* inst, uint16_t mask, int32_t sense) {
    if (!inst) return;
    for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c;) {
        Inst3D* next = B3D_Next(c);
        if (((c->childMask & mask) != 0) != (sense != 0)) B3D_InstFree(c);
        c = next;
    }
}

// --------------------------------------------------------------- renderer

void B3D_InstEnable(Inst3D* inst) {
    if (!inst || (inst->flags & INST_IN_RENDERER)) return;
    if (inst->flags & INST_LIGHT) {
        if (!S_D3DLight(inst)) {
            Qel_DPrintf(0, "B3D_InstEnable() Can't Add Light!\n");
            return;
        }
        Qel_DPrintf(4, "LightInst: %s\n", inst->name ? inst->name : "");
    } else {
        if (inst->bodyId == -1 || (inst->flags & INST_CAMERA)) return;
        if (!S_3DAddInst(inst)) {
            Qel_DPrintf(0, "B3D_InstEnable() Can't Add Inst!\n");
            return;
        }
    }
    inst->flags |= INST_IN_RENDERER;
}

void B3D_InstEnableTree(Inst3D* inst) {
    if (!inst) return;
    B3D_InstEnable(inst);
    EnableChildren(inst);
}

void B3D_InstDisableTree(Inst3D* inst) {
    if (!inst) return;
    for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c)) B3D_InstDisableTree(c);
    B3D_InstRemoveFromRenderer(inst);
}

// --------------------------------------------------------------- cloning

void B3D_InstCloneTree(Inst3D* source, Inst3D* target, Inst3D* parent) {
    if (!source || !target) return;
    // A copy inside its own source would be copied again without end.
    if (IsInSubtree(target, source) || (parent && IsInSubtree(parent, source))) {
        Qel_DPrintf(0, "B3D_InstCloneTree() Inst %d can't be cloned into its own tree!\n",
                    static_cast<int>(source->id));
        return;
    }
    if (source->bodyId >= 0) B3D_InstSetBody(target, source->bodyId);
    if (parent) B3D_InstAddToInst(target, parent);
    target->flags2 = (target->flags2 & ~1u) | (source->flags2 & 1u);
    target->pos = source->pos;
    target->matrix = source->matrix;
    target->viewPos = source->viewPos;
    target->worldMatrix = source->worldMatrix;
    std::vector<Inst3D*> children;
    for (Inst3D* c = B3D_First<Inst3D>(&source->children); c; c = B3D_Next(c)) children.push_back(c);
    for (Inst3D* c : children) {
        Inst3D* copy = B3D_AllocInst();
        if (!copy) return;
        B3D_InstCloneTree(c, copy, target);
    }
}

// --------------------------------------------------------------- scenes

void B3D_SceneEnable(Scene3D* scene) {
    if (!scene || Enabled(scene)) return;
    scene->flags |= SCENE_ENABLED;
    const char* name = scene->name ? scene->name : "null";
    Qel_DPrintf(4, "B3D_SceneEnable: starting %d %s\n", static_cast<int>(scene->id), name);
    EnableSceneContents(scene);
    Qel_DPrintf(4, "B3D_SceneEnable: finished %d %s\n", static_cast<int>(scene->id), name);
}

void B3D_SceneDisableInsts(Scene3D* scene) {
    if (!Enabled(scene)) return;
    for (Inst3D* i = B3D_First<Inst3D>(&scene->insts); i; i = B3D_Next(i)) {
        for (Inst3D* c = B3D_First<Inst3D>(&i->children); c; c = B3D_Next(c)) B3D_InstDisableTree(c);
        B3D_InstRemoveFromRenderer(i);
    }
    for (Camera3D* cam = B3D_First<Camera3D>(&scene->cameras); cam; cam = B3D_Next(cam)) {
        DisableChildren(&cam->inst);
        if (!(cam->camFlags & CAM_ACTIVE)) continue;
        S_3DFreeSceneCamera(cam);
        cam->camFlags &= ~CAM_ACTIVE;
    }
    scene->flags &= ~SCENE_ENABLED;
}

void B3D_SceneClear(Scene3D* scene) {
    if (!scene) return;
    while (Inst3D* i = B3D_First<Inst3D>(&scene->insts)) B3D_InstDeleteFromScene(i, scene);
    while (auto* cam = B3D_First<Camera3D>(&scene->cameras)) B3D_CameraDeleteFromScene(cam);
}

void B3D_SceneFree(Scene3D* scene) {
    B3DState* s = g_B3DState;
    if (!scene || !s) return;
    if (g_B3DSceneFreedHook) g_B3DSceneFreedHook(scene);
    // One sweep of the references for the whole scene.
    std::vector<Inst3D*> roots;
    for (B3DList* list : {&scene->insts, &scene->cameras})
        for (Inst3D* i = B3D_First<Inst3D>(list); i; i = B3D_Next(i)) roots.push_back(i);
    DropReferences(roots);
    while (Inst3D* i = B3D_First<Inst3D>(&scene->insts)) FreeOne(i);
    while (Inst3D* cam = B3D_First<Inst3D>(&scene->cameras)) FreeOne(cam);
    B3D_SceneDisableInsts(scene);
    B3D_SceneFreeSceneBuffers(scene);
    // Live particles, generators and takes of the scene lose it.
    scene->flags |= SCENE_PARTICLES;
    B3D_SceneFreeParticles(scene);
    for (auto* g = B3D_First<ParticleGenerator>(&s->generators); g; g = B3D_Next(g))
        if (g->scene == scene) g->scene = nullptr;
    for (uint32_t k = Qel_TableNext(s->takeTable, 0); k; k = Qel_TableNext(s->takeTable, k))
        if (auto* take = reinterpret_cast<J3D_Take*>(Qel_TableGet(s->takeTable, k)); take && take->scene == scene)
            take->scene = nullptr;
    // No record outside the scene keeps it either.
    for (uint32_t k = Qel_TableNext(s->instTable, 0); k; k = Qel_TableNext(s->instTable, k))
        if (auto* inst = reinterpret_cast<Inst3D*>(Qel_TableGet(s->instTable, k)); inst && inst->scene == scene)
            inst->scene = nullptr;
    Qel_TableRemove(s->sceneTable, scene->id);
    B3D_ListRemove(B3D_Node(scene));
    if (s->lensFlareScene == scene) s->lensFlareScene = nullptr;
    scene->name = Qel_StrFree(scene->name);
    *scene = Scene3D{};
    B3D_FreeRecordI(scene);
}

void B3D_EnableAllObjects3D() {
    if (!g_B3DState) return;
    for (Scene3D* sc = B3D_First<Scene3D>(&g_B3DState->scenes); sc; sc = B3D_Next(sc)) {
        if (!Enabled(sc)) continue;
        for (Camera3D* cam = B3D_First<Camera3D>(&sc->cameras); cam; cam = B3D_Next(cam))
            if (cam->camFlags & CAM_ACTIVE) S_3DSetSceneViewPort(cam);
        for (Inst3D* i = B3D_First<Inst3D>(&sc->insts); i; i = B3D_Next(i)) {
            B3D_InstEnable(i);
            EnableChildren(i);
        }
    }
}

void B3D_DisableAllObjects3D() {
    B3DState* s = g_B3DState;
    if (!s) return;
    for (Scene3D* sc = B3D_First<Scene3D>(&s->scenes); sc; sc = B3D_Next(sc)) {
        if (!Enabled(sc)) continue;
        for (Inst3D* i = B3D_First<Inst3D>(&sc->insts); i; i = B3D_Next(i)) B3D_InstDisableTree(i);
        for (Camera3D* cam = B3D_First<Camera3D>(&sc->cameras); cam; cam = B3D_Next(cam)) {
            DisableChildren(&cam->inst);
            if (cam->camFlags & CAM_ACTIVE) S_3DFreeSceneCamera(cam);
        }
        if (sc->particleBuffer) S_3DReleaseParticles(sc);
    }
    for (B3DListNode* n = B3D_ListFirst(&s->bodies); n; n = B3D_ListNext(n)) {
        auto* body = reinterpret_cast<Body3D*>(n);
        for (int32_t l = 0; l < body->levelCount && body->levels; ++l) {
            BodyLevel* level = body->levels[l];
            if (!level || !level->rendererBody) continue;
            Qel_DPrintf(0x2000, "B3D_DisableAllObjects3D() bodyid %d marked as KEEPD3D, now freed!\n", body->id);
            S_3DFreeBodyParts(level);
        }
    }
}

// --------------------------------------------------------------- made scenes

Scene3D* B3D_MakeLensflareScene() {
    B3DState* s = g_B3DState;
    if (!s) return nullptr;
    if (!s->lensFlareScene) {
        Scene3D* scene = B3D_SceneAlloc();
        if (!scene) return nullptr;
        scene->name = Qel_StrDup("Lensflare Scene");
        if (Camera3D* cam = B3D_CameraAlloc()) {
            B3D_SceneLinkInst(scene, cam);
            cam->inst.pos = QelVector{};
            Qel_MatIdentity(&cam->inst.matrix);
        }
        s->lensFlareScene = scene;
        // One occlusion-test instance for the engine's life: a scene made
        // again keeps it.
        if (!s->lensFlareCheck) s->lensFlareCheck = B3D_AllocInst();
    }
    if (s->lensFlareCheck && B3D_InstSetBody(s->lensFlareCheck, B3D_PICK_RAY_BODY))
        B3D_CollBuildModel(s->lensFlareCheck, 0);
    return s->lensFlareScene;
}

int32_t B3D_GlyphBody(int32_t code) {
    constexpr int32_t FIRST_GLYPH_BODY = 1000;
    return code > 32 && code < 256 ? FIRST_GLYPH_BODY + code : -1;
}

int32_t B3D_GlyphAdvance(int32_t code) { return code >= 0 && code < 256 ? QEL_FIX_ONE / 2 : 0; }

namespace {
// The next character of UTF-8 text of at most three bytes a character; 0 at
// the end (a lead byte of 0xF0 or more ends the text). Codes above 255 are '?'.
int32_t NextCode(const unsigned char*& p) {
    const unsigned char lead = *p;
    if (lead == 0 || lead >= 0xF0) return 0;
    ++p;
    int32_t code = lead;
    int32_t more = 0;
    if (lead >= 0xE0) {
        code = lead & 0x0F;
        more = 2;
    } else if (lead >= 0xC0) {
        code = lead & 0x1F;
        more = 1;
    } else if (lead >= 0x80) {
        return '?';  // a stray continuation byte
    }
    for (; more > 0; --more) {
        if ((*p & 0xC0) != 0x80) return '?';
        code = (code << 6) | (*p++ & 0x3F);
    }
    return code > 255 ? '?' : code;
}
}  // namespace

Inst3D* B3D_MakeTextNullScene(const char* text, uint32_t flags) {
    if (!text) text = "B3DTextNullPtr";
    Inst3D* root = B3D_AllocInst();
    if (!root) return nullptr;
    Qel_MatIdentity(&root->matrix);
    B3D_InstSetInvis(root, 1);
    std::vector<int32_t> codes;
    for (auto* p = reinterpret_cast<const unsigned char*>(text);;) {
        const int32_t code = NextCode(p);
        if (!code) break;
        codes.push_back(code);
    }
    int32_t total = 0;
    for (int32_t code : codes) total += 2 * B3D_GlyphAdvance(code);
    const bool fromRight = flags & (B3D_TEXT_RIGHT | B3D_TEXT_RIGHT2);
    const int32_t y = (flags & B3D_TEXT_RAISED) ? QEL_FIX_ONE : !(flags & B3D_TEXT_NO_DROP) ? -QEL_FIX_ONE : 0;
    int32_t running = 0;
    for (int32_t code : codes) {
        Inst3D* glyph = B3D_AllocInst();
        if (!glyph) break;
        B3D_InstSetBody(glyph, B3D_GlyphBody(code));
        glyph->flags |= INST_GLYPH;
        B3D_InstAddToInst(glyph, root);
        const int32_t advance = B3D_GlyphAdvance(code);
        glyph->pos.x = fromRight ? advance - total + running : running + advance;
        glyph->pos.y = y;
        running += 2 * advance;
    }
    return root;
}
