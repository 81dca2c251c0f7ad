#include "scene/framedraw.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "base/general.h"
#include "base/log.h"
#include "base/standin_calls.h"
#include "base/texanim.h"
#include "base/texcache.h"
#include "render/cameras.h"
#include "render/device.h"
#include "render/particles.h"
#include "render/postprocess.h"
#include "render/targets.h"
#include "scene/allocs.h"
#include "scene/animation.h"
#include "scene/caches.h"
#include "scene/drawing.h"
#include "scene/dummies.h"
#include "scene/geometry.h"
#include "scene/recorder.h"
#include "scene/replay.h"
#include "scene/smallops.h"
#include "scene/sound3d.h"
#include "scene/state.h"
#include "scene/trees.h"
#include "scene/visibility.h"

namespace {

constexpr uint32_t kBodyFlare = 0x20;  // body flag of a flare element's body
constexpr int32_t kCameraBytes = static_cast<int32_t>(sizeof(Camera3D*));

bool IsEnabledScene(const Scene3D* scene) {
    return (scene->flags & SCENE_ENABLED) && scene != g_B3DState->lensFlareScene;
}

int ComparePriority(const void* a, const void* b) {
    const int32_t pa = (*static_cast<Camera3D* const*>(a))->priority;
    const int32_t pb = (*static_cast<Camera3D* const*>(b))->priority;
    return pa < pb ? -1 : pa > pb ? 1 : 0;
}

void DrawPasses(Scene3D* scene, Camera3D* camera) {
    for (int32_t p = scene->lowestPass; p <= scene->highestPass; ++p) {
        if (camera->camFlags & CAM_TWO_MODES) B3D_DrawScenePass(scene, p, 4, camera);
        B3D_DrawScenePass(scene, p, 0, camera);
        if (p == INT32_MAX) break;
    }
}

// The velocity-stretch placement of one top instance (camera flag 0x8000).
void StretchPlace(Inst3D* inst, const Camera3D* camera, const QelVector& k, const int32_t zRow[3]) {
    if (inst->flags & INST_CAMERA_MATRIX) Qel_MatMul(&inst->matrix, &camera->inst.matrix, &inst->worldMatrix);
    if (inst->flags & INST_LIGHT) {
        inst->worldPos = k;
        return;
    }
    QelVector p = inst->pos;
    int32_t* pa = &p.x;
    const int32_t* ka = &k.x;
    for (int a = 0; a < 3; ++a) {
        const uint32_t folded = (static_cast<uint32_t>(pa[a]) - static_cast<uint32_t>(ka[a]) - 0x40000u) & 0x7ffffu;
        pa[a] = static_cast<int32_t>(static_cast<uint32_t>(ka[a]) - 0x40000u + folded);
    }
    const int32_t r[3] = {static_cast<int32_t>(static_cast<uint32_t>(p.x) - static_cast<uint32_t>(k.x)),
                          static_cast<int32_t>(static_cast<uint32_t>(p.y) - static_cast<uint32_t>(k.y)),
                          static_cast<int32_t>(static_cast<uint32_t>(p.z) - static_cast<uint32_t>(k.z))};
    const bool stretch = inst->flags & INST_STRETCH;
    if (camera->camFlags & CAM_MOTION_STRETCH) {
        QelVector d{r[0] - inst->refPoint.x, r[1] - inst->refPoint.y, r[2] - inst->refPoint.z, 0};
        inst->refPoint.x = r[0];
        inst->refPoint.y = r[1];
        inst->refPoint.z = r[2];
        const int32_t largest = std::max({std::abs(d.x), std::abs(d.y), std::abs(d.z)});
        const bool jump = largest > 0x40000;
        if (stretch) {
            const int32_t m = jump ? 0 : largest;
            if (!jump && m > 1) {
                int32_t a = 0, b = 0;
                Qel_MatCombine(&d, &a, &b);
                Qel_MatFromAngles(&inst->matrix, a, b, 0);
            } else {
                Qel_MatFromAngles(&inst->matrix, 0, 0, 0);
            }
            inst->worldMatrix = inst->matrix;
            int32_t along, across;
            if (m <= 0) {
                along = 111411;
                across = 0x10000;
            } else if (m >= 10000) {
                along = 0x1e0000;
                across = 32768;
            } else {
                along = 1038745 + B3D_MulDiv(1854669, 2 * m - 10000, 20000);
                across = 49152 + B3D_MulDiv(-32768, 2 * m - 10000, 20000);
            }
            B3D_InstSetScale(inst, across, across, along);
        }
    }
    inst->worldPos = p;
    const double length = std::sqrt(static_cast<double>(r[0]) * r[0] + static_cast<double>(r[1]) * r[1] +
                                    static_cast<double>(r[2]) * r[2]);
    const int64_t q = static_cast<int64_t>(length) * 65536 / 0x100000;
    const double v = static_cast<double>(q) / 65536.0;
    if (stretch) {
        const Body3D* body = inst->bodyId >= 0 ? B3D_GetBody(inst->bodyId) : nullptr;
        if (body && body->levelCount > 0 && body->levels && body->levels[0]) {
            const double d = body->levels[0]->visDistance;
            inst->size = v < 0.1 ? static_cast<int32_t>(10.0 * v * 4.0 * d) : static_cast<int32_t>(4.0 * d);
            inst->alphaOverride = static_cast<int32_t>(178.5 + 76.5 * v);
        }
        return;
    }
    const QelVector rv{r[0], r[1], r[2], 0};
    const QelVector zv{zRow[0], zRow[1], zRow[2], 0};
    const int64_t s = B3D_FixDot(&rv, &zv);
    const int32_t depth = static_cast<int32_t>(std::clamp<int64_t>(s * 65536 / 0x40000, 0, 0x10000));
    int32_t g[3];
    for (int a = 0; a < 3; ++a) g[a] = 0x10000 - static_cast<int32_t>(std::abs(static_cast<int64_t>(r[a])) / 4);
    const int32_t a = B3D_FixMul(depth, B3D_FixMul(B3D_FixMul(g[0], g[1]), g[2]));
    int32_t alpha = B3D_FixMul(a, 4080);
    if (alpha == 0) alpha = 1;
    if (alpha > 255) alpha = 255;
    if (v < 0.2) alpha = static_cast<int32_t>(alpha * 5.0 * v);
    inst->alphaOverride = alpha;
    if (alpha <= 4) inst->flags2 |= INST2_FADED;
    else inst->flags2 &= ~INST2_FADED;
}

void DrawLensFlareScene(Scene3D* scene) {
    Camera3D* camera = B3D_First<Camera3D>(&scene->cameras);
    if (!camera) return;
    B3D_UpdateLensflares();
    B3D_SceneToCamera(scene, camera);
    B3D_CameraBegin(camera, scene);
    B3D_SceneSelectLevels(scene, camera);
    B3D_DrawScenePass(scene, 0, 0, camera);
    const int32_t fade = g_B3DState->fadeValue;
    if (fade) S3D_RenderFadeRectangle(static_cast<uint32_t>(fade), camera);
    B3D_CameraEndDraw(camera);
}

}  // namespace

void B3D_SceneToCamera(Scene3D* scene, Camera3D* camera) {
    if (!scene || !camera) return;
    if (!(camera->camFlags & CAM_STRETCH)) {
        for (Inst3D* i = B3D_First<Inst3D>(&scene->insts); i; i = B3D_Next(i)) B3D_SceneRotate(i, camera);
        return;
    }
    const QelVector k = camera->inst.pos;
    const int32_t zRow[3] = {camera->inst.matrix.m[8], camera->inst.matrix.m[9], camera->inst.matrix.m[10]};
    for (Inst3D* i = B3D_First<Inst3D>(&scene->insts); i; i = B3D_Next(i)) {
        StretchPlace(i, camera, k, zRow);
        B3D_SceneRotate(i, camera);
    }
}

void B3D_CameraBegin(Camera3D* camera, Scene3D* scene) {
    // A camera hangs in its scene's camera list, never under a parent: its
    // place in the world is its own.
    camera->inst.worldPos = camera->inst.pos;
    camera->inst.worldMatrix = camera->inst.matrix;
    S_3DInitSceneCamera(scene, camera);
    S_3DClearSceneBackground(camera);
    B3D_CameraSetListener(camera);
    B3D_InstCollectLights(scene, &camera->inst);
    if (camera->causticMaterial) TC_AnimAnimate(1, static_cast<TC_Material*>(camera->causticMaterial));
}

void B3D_DrawScenePass(Scene3D* scene, int32_t pass, int32_t mode, Camera3D* camera) {
    B3D_ReleaseDrawItems();
    S_3DInitSceneBuffer(scene);
    for (auto* g = B3D_First<B3DSceneBufferGroup>(&scene->bufferGroups); g; g = B3D_Next(g)) g->count = 0;
    for (Inst3D* i = B3D_First<Inst3D>(&scene->insts); i; i = B3D_Next(i))
        if (i->pass == pass && i->bodyId >= 0 && B3D_InstUsesSceneBuffer(camera, i))
            if (B3DSceneBufferGroup* entry = B3D_SceneBufferEntry(scene, i)) B3D_SceneBufferCount(entry);
    B3D_SceneChooseSceneBuffers(scene);

    for (Inst3D* i = B3D_First<Inst3D>(&scene->insts); i; i = B3D_Next(i)) {
        if (i->pass != pass) continue;
        if ((camera->camFlags & CAM_RANGE_TEST) && !(i->flags & INST_NO_RANGE_TEST)) {
            const int64_t d = B3D_VecDistance(&i->worldPos, &camera->inst.worldPos);
            const int64_t r = B3D_InstGetTotalSize(i);
            if (d + r < camera->nearRange) {
                if (mode != 0) continue;
            } else if (d - r > camera->farRange) {
                continue;
            }
        }
        if (mode == 0 && B3D_SceneBufferAddInst(pass, scene, i, camera)) continue;
        const uint32_t saved2 = i->flags2;
        if (mode == 4) i->flags2 |= INST2_DEPTH_PASS;
        B3D_InstDraw(i, camera);
        if (mode == 4) i->flags2 = (i->flags2 & ~INST2_DEPTH_PASS) | (saved2 & INST2_DEPTH_PASS);
    }
    B3D_SortDrawList(camera);
    B3D_DrawUnplacedInsts(camera);
    B3D_SceneBuffersDraw(scene, pass, camera);
}

int32_t B3D_DrawToEnviMap(Camera3D* camera, Scene3D* scene) {
    if ((g_SystemState && (g_SystemState->VideoD3DFlags2 & S3D_OPTION_NO_ENVMAP)) || !g_S3DTargets.EnvMapRenderer)
        return 1;
    if (const Inst3D* source = camera->environmentSource) {
        camera->inst.pos = source->worldPos;
        camera->inst.worldPos = source->worldPos;
    }
    // A cube render that cannot begin draws nothing: the faces would land in
    // the back buffer.
    if (!S_3DBeginEnvMapCube()) return 1;
    for (int face = 0; face < 6; ++face) {
        S_3DSetEnvMapFace(face);
        S_3DRenderSceneInit(scene, face);
        B3D_InstCollectLights(scene, &camera->inst);
        B3D_CameraUpdateMotion(camera);
        B3D_SceneToCamera(scene, camera);
        B3D_SceneSelectLevels(scene, camera);
        DrawPasses(scene, camera);
    }
    S_3DInitRenderToEnvMap();
    return 0;
}

void B3D_UpdateLensflares() {
    B3DState* s = g_B3DState;
    Scene3D* flareScene = s->lensFlareScene;
    int32_t scaleW = s->screenWidth, scaleH = s->screenHeight;
    if (const Camera3D* fc = flareScene ? B3D_First<Camera3D>(&flareScene->cameras) : nullptr) {
        const int32_t w = fc->viewport[3] - fc->viewport[2], h = fc->viewport[1] - fc->viewport[0];
        if (w > 0 && h > 0) {
            scaleW = w;
            scaleH = h;
        }
    }
    for (Scene3D* sc = B3D_First<Scene3D>(&s->scenes); sc; sc = B3D_Next(sc)) {
        if (!IsEnabledScene(sc)) continue;
        for (Camera3D* cam = B3D_First<Camera3D>(&sc->cameras); cam; cam = B3D_Next(cam)) {
            if (!(cam->camFlags & CAM_ACTIVE)) continue;
            for (auto* item = B3D_First<B3DCameraItem>(&cam->items); item; item = B3D_Next(item)) {
                item->intensity =
                    item->seen ? std::min(item->intensity + 100, 200) : std::max(item->intensity - 100, 0);
                if (item->intensity < 1) {
                    for (Inst3D*& slot : item->insts) {
                        if (slot) B3D_InstFree(slot);
                        slot = nullptr;
                    }
                    continue;
                }
                // A type outside the table shows no flare.
                if (item->type < 0 || item->type >= s->arrayTableCount || !s->arrayTable || !flareScene) continue;
                const B3DArrayTableRow& row = s->arrayTable[item->type];
                const auto* elements = static_cast<const B3DLensFlareElement*>(row.array);
                const Inst3D* source = B3D_InstFind(static_cast<uint32_t>(item->key));
                int32_t b = 0;
                if (source)
                    for (uint16_t c : source->lightColor) b = std::max(b, static_cast<int32_t>(c) * 257);
                const int32_t count = std::min(row.count, B3D_FLARE_ELEMENTS);
                for (int32_t e = 0; e < count && elements; ++e) {
                    const B3DLensFlareElement& el = elements[e];
                    Inst3D*& inst = item->insts[e];
                    if (!inst) {
                        inst = B3D_AllocInst();
                        if (!inst) continue;
                        B3D_InstSetBody(inst, el.bodyId);
                        if (Body3D* body = B3D_GetBody(el.bodyId)) body->flags |= kBodyFlare;
                        Qel_MatFromAngles(&inst->matrix, 0, 0, 0);
                        inst->worldMatrix = inst->matrix;
                        B3D_InstAddToScene(inst, flareScene);
                    }
                    inst->pos.x = B3D_FixMul(scaleW, B3D_FixMul(item->screenX, el.value));
                    inst->pos.y = B3D_FixMul(scaleH, B3D_FixMul(item->screenY, el.value));
                    inst->pos.z = item->depth;
                    inst->worldPos = inst->pos;
                    inst->viewPos = inst->pos;
                    inst->flags |= INST_VISIBLE;
                    const int32_t first = el.words[0] * 100, second = el.words[1] * 100;
                    int32_t size;
                    if (b < 1) size = first;
                    else if (b >= QEL_FIX_ONE) size = second;
                    else size = (first + second) / 2 + B3D_FixMul(second - first, b - 0x8000);
                    B3D_InstSetSize(inst, B3D_FixMul(size, item->sizeFactor));
                }
            }
            // An item faded out after its instance went goes too.
            for (auto* item = B3D_First<B3DCameraItem>(&cam->items); item;) {
                auto* next = B3D_Next(item);
                if (item->intensity < 1 && !B3D_InstFind(static_cast<uint32_t>(item->key))) {
                    B3D_ListRemove(B3D_Node(item));
                    B3D_FreeCameraItem(item);
                }
                item = next;
            }
        }
    }
}

void B3D_DrawObjects() {
    // The game loop's tests read the frame's calls in order.
    StandIn_Record("B3D_DrawObjects");
    B3DState* s = g_B3DState;
    if (!s) return;
    TC_UnlockTextureSurfaces();

    int32_t count = 0;
    for (Scene3D* sc = B3D_First<Scene3D>(&s->scenes); sc; sc = B3D_Next(sc))
        if (IsEnabledScene(sc))
            for (Camera3D* cam = B3D_First<Camera3D>(&sc->cameras); cam; cam = B3D_Next(cam))
                if (cam->camFlags & CAM_ACTIVE) ++count;
    Camera3D** cameras = nullptr;
    if (count > 0) cameras = static_cast<Camera3D**>(B3D_AllocMemB(count * kCameraBytes, B3D_MEM_ZERO));

    bool sceneBegun = false;
    if (count == 0 || cameras) {
        B3D_MakeLensflareScene();
        s->firstLight = nullptr;
        for (Scene3D* sc = B3D_First<Scene3D>(&s->scenes); sc; sc = B3D_Next(sc)) {
            if (sc == s->lensFlareScene) continue;
            Qel_DPrintf(0x2000, "B3D_SceneAnimate: Start\n");
            for (Inst3D* i = B3D_First<Inst3D>(&sc->insts); i; i = B3D_Next(i)) B3D_InstAnimate(i);
        }
        for (Scene3D* sc = B3D_First<Scene3D>(&s->scenes); sc; sc = B3D_Next(sc))
            for (Camera3D* cam = B3D_First<Camera3D>(&sc->cameras); cam; cam = B3D_Next(cam))
                for (auto* item = B3D_First<B3DCameraItem>(&cam->items); item; item = B3D_Next(item)) item->seen = 0;
        sceneBegun = S_3DBeginScene() != 0;

        int32_t n = 0;
        for (Scene3D* sc = B3D_First<Scene3D>(&s->scenes); sc; sc = B3D_Next(sc)) {
            if (sc == s->lensFlareScene) continue;
            B3D_SceneRotate2(sc);
            Camera3D* particleCamera = nullptr;
            if (sc->flags & SCENE_ENABLED)
                for (Camera3D* cam = B3D_First<Camera3D>(&sc->cameras); cam; cam = B3D_Next(cam)) {
                    if (!(cam->camFlags & CAM_ACTIVE)) continue;
                    if (n < count) cameras[n++] = cam;
                    if (cam->camFlags & CAM_PARTICLES) particleCamera = cam;
                }
            if (particleCamera) {
                sc->flags |= SCENE_PARTICLES;
                S_3DUpdateParticleSystems(sc, particleCamera);
            } else if (sc->flags & SCENE_PARTICLES) {
                B3D_SceneFreeParticles(sc);
            }
        }

        if (n > 0) {
            std::qsort(cameras, static_cast<size_t>(n), sizeof(Camera3D*), ComparePriority);
            bool bloomDone = false;
            for (int32_t c = 0; c < n; ++c) {
                Camera3D* cam = cameras[c];
                Scene3D* scene = cam->inst.scene;
                if (!bloomDone && cam->priority >= B3D_BLOOM_PRIORITY) {
                    S_3DRenderPostProcessFX();
                    bloomDone = true;
                }
                if (cam->camFlags & CAM_ENVMAP) {
                    const bool allowed = (scene->flags & SCENE_ENVMAP) &&
                                         !(g_SystemState && (g_SystemState->VideoD3DFlags2 & S3D_OPTION_NO_ENVMAP));
                    const bool due = ((s->engineFlags & B3D_ENGINE_ENVMAP_REFRESH) && g_SystemState &&
                                      g_SystemState->instantFps > 10) ||
                                     !(s->engineFlags & B3D_ENGINE_ENVMAP_DRAWN);
                    if (allowed && due) {
                        if (sceneBegun) S_3DEndScene();
                        Qel_DPrintf(0x40000, "B3D_DrawToEnviMap() Updating EnviMap\n");
                        S_3DSetDefaultRenderStates();
                        if (B3D_DrawToEnviMap(cam, scene) == 0) {
                            s->engineFlags &= ~B3D_ENGINE_ENVMAP_REFRESH;
                            s->engineFlags |= B3D_ENGINE_ENVMAP_DRAWN;
                        }
                        sceneBegun = S_3DBeginScene() != 0;
                    }
                    continue;
                }
                B3D_CameraUpdateMotion(cam);
                B3D_SceneToCamera(scene, cam);
                B3D_CameraBegin(cam, scene);
                B3D_SceneSelectLevels(scene, cam);
                DrawPasses(scene, cam);
                B3D_ResetLightSlots();
                if (cam->camFlags & CAM_PARTICLES) S_3DRenderParticleSystems(scene);
                B3D_CameraEndDraw(cam);
                B3D_SceneEnable(s->lensFlareScene);
                cam->collectedCount = 0;
                cam->collected[0] = nullptr;
                if (!(cam->camFlags & CAM_NO_PICK)) B3D_PickAll(cam);
            }
            for (int32_t c = 0; c < n; ++c) {
                Camera3D* cam = cameras[c];
                if (!cam->fadeValue || (cam->camFlags & CAM_ENVMAP)) continue;
                const uint32_t saved = cam->camFlags;
                cam->camFlags &= ~CAM_KEEP_FADE_MASK;
                B3D_SceneToCamera(cam->inst.scene, cam);
                B3D_CameraBegin(cam, cam->inst.scene);
                S3D_RenderFadeRectangle(static_cast<uint32_t>(cam->fadeValue), cam);
                B3D_CameraEndDraw(cam);
                cam->camFlags = saved;
            }
            if (s->lensFlareScene && (s->lensFlareScene->flags & SCENE_ENABLED)) DrawLensFlareScene(s->lensFlareScene);
        }
    } else if (!sceneBegun) {
        // The statistics line ends the device scene: it must have begun.
        sceneBegun = S_3DBeginScene() != 0;
    }
    if (sceneBegun) S_3DStatsLine();
    if (s->engineFlags & B3D_ENGINE_RECORDING) B3D_RecordFrame();
    if (!(s->engineFlags & B3D_ENGINE_REPLAYING))
        for (Scene3D* sc = B3D_First<Scene3D>(&s->scenes); sc; sc = B3D_Next(sc))
            if (sc != s->lensFlareScene) B3D_SceneClearFrameMarks(sc);
    if (s->engineFlags & B3D_ENGINE_REPLAYING) B3D_ReplayFrame();
    if (cameras) B3D_FreeMemB(count * kCameraBytes, cameras, 0);
}
