#include "scene/drawing.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "base/angles.h"
#include "base/general.h"
#include "base/log.h"
#include "base/texanim.h"
#include "render/bodies.h"
#include "render/cameras.h"
#include "render/partdraw.h"
#include "render/particles.h"
#include "scene/allocs.h"
#include "scene/animation.h"
#include "scene/caches.h"
#include "scene/geometry.h"
#include "scene/instcoll.h"
#include "scene/smallops.h"
#include "scene/sound3d.h"
#include "scene/state.h"
#include "scene/trees.h"
#include "scene/visibility.h"

namespace {

constexpr int32_t kSoundStampMs = 5000;
constexpr uint32_t kEntryEnabled = 0x1;
constexpr uint32_t kEntryFilled = 0x2;
constexpr uint32_t kPartSkip = 0x8000;
constexpr uint32_t kDrawItemMarked = 0x1;
constexpr uint32_t kPartMarked = 0x20000;
constexpr uint32_t kSystemShowMarks = 0x4;  // thirdFlags: draw-list parts keep their mark

bool HasGlowState(const Inst3D* inst) {
    return static_cast<uint32_t>(inst->words5[B3D_INST_GLOW_SIDES]) & B3D_GLOW_STATE;
}

BodyLevel* LevelOf(const Inst3D* inst) {
    if (inst->bodyId < 0) return nullptr;
    Body3D* body = B3D_GetBody(inst->bodyId);
    if (!body || body->levelCount < 1 || !body->levels) return nullptr;
    return body->levels[std::clamp(inst->level, 0, body->levelCount - 1)];
}

// A group's material can be had: an animated (negative) number always; a
// version-6 material when the body holds it; any other number when the
// "Materials" table defines it.
bool MaterialResolves(const Body3D* body, int32_t material) {
    if (material < 0) return true;
    if (body->flags & BODY_MATERIAL6) return body->materials && material < body->materialCount;
    return B3D_MaterialDefinition(material) != nullptr;
}

// The material a scene buffer draws with: the body's own, checked against 0 as
// well as the count; a body without version-6 materials, or an animated
// material, draws with no parameters of its own (the plain shader).
const BodyMaterial* BufferMaterial(const Body3D* body, int32_t material) {
    static const BodyMaterial plain{};
    if (body && (body->flags & BODY_MATERIAL6) && body->materials && material >= 0 && material < body->materialCount)
        return &body->materials[material];
    return &plain;
}

void AdvanceTextureAnimation(Inst3D* inst) {
    if (inst->materialOverrideCount > 0 && inst->materialOverrides &&
        TC_AnimAnimate(inst->materialOverrideCount, static_cast<TC_Material*>(inst->materialOverrides)))
        inst->flags |= INST_TEXANIM_CHANGED;
}

// 16.16 matrix rows from three float axes.
void SetRows(QelMatrix* m, const double x[3], const double y[3], const double z[3]) {
    const double* rows[3] = {x, y, z};
    for (int r = 0; r < 3; ++r) {
        for (int k = 0; k < 3; ++k) m->m[r * 4 + k] = static_cast<int32_t>(std::lround(rows[r][k] * 65536.0));
        m->m[r * 4 + 3] = 0;
    }
}

bool Normalise(double v[3]) {
    const double l = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (!(l > 0.0)) return false;
    for (int k = 0; k < 3; ++k) v[k] /= l;
    return true;
}

void Cross(const double a[3], const double b[3], double out[3]) {
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

void Orient(Inst3D* inst, const Camera3D* camera) {
    const Inst3D& cam = camera->inst;
    double to[3] = {static_cast<double>(inst->worldPos.x) - cam.worldPos.x,
                    static_cast<double>(inst->worldPos.y) - cam.worldPos.y,
                    static_cast<double>(inst->worldPos.z) - cam.worldPos.z};
    if (inst->flags & INST_FACE_CAMERA) {
        double up[3] = {0.0, 1.0, 0.0}, x[3], y[3];
        if (!Normalise(to)) return;
        Cross(up, to, x);
        if (!Normalise(x)) return;
        Cross(to, x, y);
        SetRows(&inst->worldMatrix, x, y, to);
    } else if ((inst->flags & INST_CAMERA_MATRIX) && !(inst->flags & INST_STRETCH)) {
        if (inst->scale.x >= 0xfd70) Qel_MatFromAngles(&inst->worldMatrix, 0, 0, 0);
        else inst->worldMatrix = cam.worldMatrix;
    } else if (inst->flags & INST_CAMERA_ROLL) {
        Qel_MatFromAngles(&inst->worldMatrix, 0, 0, camera->roll & 0xFFFF);
    } else if (inst->flags & INST_TURN_TO_CAMERA) {
        const int32_t* m = inst->worldMatrix.m;
        double z[3] = {m[8] / 65536.0, m[9] / 65536.0, m[10] / 65536.0}, x[3], y[3];
        if (!Normalise(z)) return;
        Cross(to, z, x);
        if (!Normalise(x)) return;
        Cross(z, x, y);
        SetRows(&inst->worldMatrix, x, y, z);
    }
}

int32_t Tan16(int32_t angle, bool cotangent) {
    const double a = (angle & 0xFFFF) * (2.0 * M_PI / 65536.0);
    const auto s = static_cast<int32_t>(std::lround(std::sin(a) * 65536.0));
    const auto c = static_cast<int32_t>(std::lround(std::cos(a) * 65536.0));
    return cotangent ? B3D_FixDiv(c, s) : B3D_FixDiv(s, c);
}

void Aspect(const Camera3D* camera, int32_t* ax, int32_t* ay) {
    *ax = camera->aspect[0];
    *ay = camera->aspect[1];
    if (*ax > 0 && *ay > 0) return;
    *ax = g_B3DState->screenAspect[0] > 0 ? g_B3DState->screenAspect[0] : QEL_FIX_ONE;
    *ay = g_B3DState->screenAspect[1] > 0 ? g_B3DState->screenAspect[1] : QEL_FIX_ONE;
}

int32_t MulDiv64(int64_t a, int64_t b, int64_t c) {
    if (c == 0) return 0;
    return static_cast<int32_t>(std::clamp<int64_t>(a * b / c, INT32_MIN, INT32_MAX));
}

// The lens-flare item of a marked instance: found or made, then placed.
void PlaceFlare(Inst3D* inst, Camera3D* camera) {
    B3DCameraItem* item = B3D_CameraFlareItem(camera, inst);
    if (!item) {
        item = B3D_AllocRecordI<B3DCameraItem>();
        if (!item) return;
        item->key = static_cast<int32_t>(inst->id);
        item->intensity = 0;
        item->type = inst->markValue;
        B3D_ListAppend(&camera->items, B3D_Node(item));
    }
    const int32_t x = inst->viewPos.x, y = inst->viewPos.y, z = inst->viewPos.z;
    if (z <= 100 || static_cast<int64_t>(inst->radius) * 2 >= z) return;
    const int32_t half = camera->focus / 2;
    const int32_t t = Tan16(half, false), c = Tan16(half, true);
    int32_t ax, ay;
    Aspect(camera, &ax, &ay);
    const int32_t reach = B3D_FixMul(t, z);
    if (std::abs(static_cast<int64_t>(x)) >= B3D_FixMul(reach, ax) ||
        std::abs(static_cast<int64_t>(y)) >= B3D_FixMul(reach, ay))
        return;
    const int64_t size = inst->size;
    const int64_t k = static_cast<int64_t>(inst->flareSizeWeight) << 16;
    const int32_t f = size < 0 ? QEL_FIX_ONE : MulDiv64(size, k + QEL_FIX_ONE, z + ((k * size + 0x8000) >> 16));
    const int32_t top = camera->viewport[0], bottom = camera->viewport[1];
    const int32_t left = camera->viewport[2], right = camera->viewport[3];
    const int32_t width = right - left, height = bottom - top;
    item->sizeFactor = f;
    item->screenSize =
        static_cast<int32_t>(static_cast<int64_t>(B3D_FixMul(f, width + height) / 2) * item->intensity / 200);
    const int32_t sx = MulDiv64(B3D_FixDiv(x, z), c, ax) / 2;
    const int32_t sy = MulDiv64(B3D_FixDiv(y, z), c, ay) / 2;
    item->screenX = (left + right) / 2 - 0x8000 + B3D_FixMul(sx, width);
    item->screenY = 0x8000 - (top + bottom) / 2 + B3D_FixMul(sy, height);
    item->depth = 0x8000;
    item->seen = 1;
}

// A part with the instance's glow state applied; the caller has left out
// the parts that do not draw.
void DrawPart(BodyPart* part, Inst3D* inst, Camera3D* camera, int32_t alpha) {
    if (alpha <= 0) {
        S_3DRenderInst(part, inst, camera);
        return;
    }
    const int32_t saved = inst->alphaOverride;
    inst->alphaOverride = alpha;
    S_3DRenderInst(part, inst, camera);
    inst->alphaOverride = saved;
}

void DrawTree(Inst3D* inst, Camera3D* camera, bool depthMark) {
    const uint32_t saved2 = inst->flags2;
    if (depthMark) inst->flags2 |= INST2_DEPTH_PASS;
    if ((inst->flags & INST_VISIBLE) && inst->bodyId >= 0) {
        if (BodyLevel* level = LevelOf(inst)) {
            Orient(inst, camera);
            AdvanceTextureAnimation(inst);
            S_3DSetInstMatrix(inst, inst, camera);
            B3D_InstGetTotalSize(inst);  // the light choice reads the cached radius
            B3D_InstChooseLights(inst);
            const bool transparent = (inst->flags & INST_TRANSPARENT) || (inst->flags2 & INST2_TRANSPARENT);
            const bool glow = HasGlowState(inst);
            for (int32_t p = 0; p < level->partCount && level->parts; ++p) {
                BodyPart* part = level->parts[p];
                if (!part || (part->flags & kPartSkip)) continue;
                const int32_t alpha = glow ? B3D_GlowPartAlpha(part, inst) : 0;
                if (alpha < 0) continue;
                if (transparent) {
                    Qel_DPrintf(0x2000, "Teste Sichtbarkeit Part...\n");
                    B3DDrawItem* d = B3D_AllocDrawItem();
                    if (!d) continue;
                    d->inst = inst;
                    d->part = part;
                    d->pass = inst->pass;
                    d->sortKey = B3D_FixMul(part->centre[2], inst->scale.z) + inst->viewPos.z;
                    d->word = (inst->flags2 & INST2_DEPTH_PASS) ? kDrawItemMarked : 0;
                    continue;
                }
                DrawPart(part, inst, camera, alpha);
            }
        }
        if ((inst->flags & INST_MARKED) && (camera->camFlags & CAM_FLARES)) PlaceFlare(inst, camera);
    }
    const bool mark = inst->flags2 & INST2_DEPTH_PASS;
    for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c)) DrawTree(c, camera, mark);
    if (depthMark) inst->flags2 = (inst->flags2 & ~INST2_DEPTH_PASS) | (saved2 & INST2_DEPTH_PASS);
}

// Without the ray's body (and so its model) the ray counts as hitting a
// candidate whose bounding sphere it passes through within its length.
int32_t RayHits(const Inst3D* ray, const Inst3D* candidate) {
    const int32_t* m = ray->worldMatrix.m;
    const double d[3] = {static_cast<double>(candidate->worldPos.x) - ray->worldPos.x,
                         static_cast<double>(candidate->worldPos.y) - ray->worldPos.y,
                         static_cast<double>(candidate->worldPos.z) - ray->worldPos.z};
    const double along = (d[0] * m[8] + d[1] * m[9] + d[2] * m[10]) / 65536.0;
    const double squared = d[0] * d[0] + d[1] * d[1] + d[2] * d[2] - along * along;
    const double r = B3D_InstGetTotalSize(const_cast<Inst3D*>(candidate));
    return along > 0.0 && along <= ray->size && squared <= r * r ? 1 : 0;
}

}  // namespace

uint32_t B3D_GlowSideBit(int axis, int sign) { return 1u << (2 * axis + (sign < 0 ? 1 : 0)); }

uint32_t B3D_GlowPartSide(const BodyPart* part) {
    if (!part || !(part->flags & (B3D_PART_GLOW | B3D_PART_ENGINE))) return 0;
    int axis = 2;
    int64_t far = std::llabs(int64_t{part->centre[2]});
    for (int k : {1, 0})
        if (std::llabs(int64_t{part->centre[k]}) > far) {
            far = std::llabs(int64_t{part->centre[k]});
            axis = k;
        }
    return B3D_GlowSideBit(axis, part->centre[axis] > 0 ? 1 : -1);
}

int32_t B3D_GlowPartAlpha(const BodyPart* part, const Inst3D* inst) {
    const uint32_t side = B3D_GlowPartSide(part);
    if (!side || !inst) return 0;
    const auto sides = static_cast<uint32_t>(inst->words5[B3D_INST_GLOW_SIDES]);
    if (!(sides & B3D_GLOW_STATE)) return 0;
    if (!(sides & side)) return -1;
    if (!(part->flags & B3D_PART_GLOW)) return 0;
    const int64_t level = std::clamp<int64_t>(inst->words5[B3D_INST_GLOW_LEVEL], 0, B3D_GLOW_FULL);
    if (level >= B3D_GLOW_FULL) return 0;
    // The instance's own fade goes on top; a part never turns opaque by
    // reaching 0.
    const int64_t own = inst->alphaOverride >= 1 && inst->alphaOverride <= 255 ? inst->alphaOverride : 255;
    return static_cast<int32_t>(std::max<int64_t>(1, level * own / B3D_GLOW_FULL));
}

// ------------------------------------------------------------------ visibility

void B3D_SceneSelectLevels(Scene3D* scene, Camera3D* camera) {
    if (!scene || !camera) return;
    for (Inst3D* i = B3D_First<Inst3D>(&scene->insts); i; i = B3D_Next(i)) B3D_InstSelectLevel(i, camera);
    if (!(g_SystemState && (g_SystemState->SysFlags & SYS_FLAG_3D_SOUND)) || !(camera->camFlags & CAM_LISTENER)) return;
    B3D_RankByDetail(&scene->insts);
    uint16_t counter = 0;
    for (Inst3D* i = B3D_First<Inst3D>(&scene->insts); i; i = B3D_Next(i)) B3D_InstMake3DSound(i, camera, &counter);
    const int32_t clock = g_SystemState->gameClock;
    if (g_B3DState && Qel_AngleDiff(clock, g_B3DState->sound3DStamp) > kSoundStampMs) g_B3DState->sound3DStamp = clock;
}

// ------------------------------------------------------------------ scene buffers

int32_t B3D_InstUsesSceneBuffer(const Camera3D* camera, Inst3D* inst) {
    if (!(inst->flags & INST_SCENE_BUFFER)) return 0;
    if (inst->flags & INST_TRANSPARENT) return 1;
    if (camera && (camera->camFlags & CAM_STRETCH) && (inst->flags & INST_STRETCH)) return 1;
    if (!(inst->flags2 & INST2_SCENE_BUFFER)) return 0;
    if (inst->bodyId == B3D_FAST_BODY) {
        Qel_DPrintf(0x40000, "INFO: filtering out \"fast\" Sceenbuffer flaged object BodyID: %d\n", inst->bodyId);
        inst->flags2 &= ~INST2_SCENE_BUFFER;
        return 0;
    }
    if (B3D_BodyFitsSceneBuffer(inst)) return 1;
    inst->flags2 &= ~INST2_SCENE_BUFFER;
    return 0;
}

int32_t B3D_BodyFitsSceneBuffer(const Inst3D* inst) {
    const Body3D* body = inst->bodyId >= 0 ? B3D_GetBody(inst->bodyId) : nullptr;
    if (!body || !body->levels) return 1;
    for (int32_t l = 0; l < body->levelCount; ++l) {
        const BodyLevel* level = body->levels[l];
        for (int32_t p = 0; level && level->parts && p < level->partCount; ++p) {
            const BodyPart* part = level->parts[p];
            for (int32_t g = 0; part && part->groups && g < part->groupCount; ++g)
                if (part->groups[g].triCount > B3D_SCENE_BUFFER_MAX_POLYS) {
                    Qel_DPrintf(0x40000, "INFO: filtering out Sceenbuffer flaged object BodyID: %d, NumPolys: %d\n",
                                inst->bodyId, part->groups[g].triCount);
                    return 0;
                }
        }
    }
    return 1;
}

B3DSceneBufferGroup* B3D_SceneBufferEntry(Scene3D* scene, const Inst3D* inst) {
    if (B3DSceneBufferGroup* g = B3D_ListFindItem(scene, inst->bodyId)) return g;
    auto* g = B3D_AllocRecordI<B3DSceneBufferGroup>();
    if (!g) return nullptr;
    B3D_ListInit(&g->items);
    g->key = inst->bodyId;
    g->instFlags[0] = inst->flags;
    g->instFlags[1] = inst->flags2;
    B3D_ListAppend(&scene->bufferGroups, B3D_Node(g));
    const Body3D* body = B3D_GetBody(inst->bodyId);
    const BodyLevel* level = body && body->levelCount > 0 && body->levels ? body->levels[0] : nullptr;
    for (int32_t p = 0; level && level->parts && p < level->partCount; ++p) {
        const BodyPart* part = level->parts[p];
        for (int32_t k = 0; part && part->groups && k < part->groupCount; ++k) {
            const BodyGroup& group = part->groups[k];
            if (!MaterialResolves(body, group.material)) {
                B3D_FreeSceneBufferGroup(g);
                return nullptr;
            }
            B3DSceneBufferItem* item = nullptr;
            for (auto* it = B3D_First<B3DSceneBufferItem>(&g->items); it; it = B3D_Next(it))
                if (it->material == group.material) item = it;
            if (!item) {
                item = B3D_AllocRecordI<B3DSceneBufferItem>();
                if (!item) {
                    B3D_FreeSceneBufferGroup(g);
                    return nullptr;
                }
                item->material = group.material;
                item->texture = B3D_GroupBaseTexture(&group, body);
                B3D_ListAppend(&g->items, B3D_Node(item));
            }
            item->indexCount += 3 * group.triCount;
            g->count2 += 3 * group.triCount;
        }
    }
    return g;
}

int32_t B3D_SceneBufferCount(B3DSceneBufferGroup* entry) {
    ++entry->count;
    return 1;
}

int32_t B3D_SceneBufferAddInst(int32_t /*pass*/, Scene3D* scene, Inst3D* inst, Camera3D* camera) {
    if (inst->bodyId < 0 || !B3D_InstUsesSceneBuffer(camera, inst)) return 0;
    B3DSceneBufferGroup* g = B3D_SceneBufferEntry(scene, inst);
    if (!g || !(g->flags & kEntryEnabled)) return 0;
    if (!(g->flags & kEntryFilled)) {
        if (g->capacity == 0)
            g->capacity = (g->instFlags[0] & INST_STRETCH) ? 512 : (g->instFlags[0] & INST_TRANSPARENT) ? 256 : 1024;
        g->counter = 0;
    }
    if (g->counter >= g->capacity) return 0;
    const BodyLevel* level = LevelOf(inst);
    if (!level) return 0;
    S_3DSetInstMatrix(inst, inst, camera);
    for (int32_t p = 0; level->parts && p < level->partCount; ++p) {
        const BodyPart* part = level->parts[p];
        for (int32_t k = 0; part && part->groups && k < part->groupCount; ++k) {
            B3DSceneBufferItem* item = nullptr;
            for (auto* it = B3D_First<B3DSceneBufferItem>(&g->items); it; it = B3D_Next(it))
                if (it->material == part->groups[k].material) item = it;
            if (!S_3DUpdateSceneBuffer(g, item, inst, part, &part->groups[k], nullptr)) return 0;
        }
    }
    g->flags |= kEntryFilled;
    ++g->counter;
    return 1;
}

void B3D_SceneBuffersDraw(Scene3D* scene, int32_t /*pass*/, Camera3D* camera) {
    for (auto* g = B3D_First<B3DSceneBufferGroup>(&scene->bufferGroups); g; g = B3D_Next(g)) {
        if (!(g->flags & kEntryFilled)) continue;
        const Body3D* body = B3D_GetBody(g->key);
        for (auto* it = B3D_First<B3DSceneBufferItem>(&g->items); it; it = B3D_Next(it)) {
            if (!it->buffer || it->buffer->vertexCount == 0) continue;
            const B3DSceneBufferDraw record{it->texture, g->counter, BufferMaterial(body, it->material), it->buffer};
            S_3DRenderSceneBuffer(&record, scene, g, camera);
        }
    }
}

// ------------------------------------------------------------------ instances

void B3D_DrawUnplacedInsts(Camera3D* camera) {
    const Inst3D* previous = nullptr;
    const bool showMarks = g_SystemState && (g_SystemState->thirdFlags & kSystemShowMarks);
    for (auto* d = B3D_First<B3DDrawItem>(&g_B3DState->drawList); d; d = B3D_Next(d)) {
        if (!d->inst || !d->part) continue;
        if (d->inst != previous) {
            S_3DSetInstMatrix(d->inst, d->inst, camera);
            AdvanceTextureAnimation(d->inst);
            previous = d->inst;
        }
        auto* part = static_cast<BodyPart*>(d->part);
        if ((d->word & kDrawItemMarked) || !showMarks) part->flags |= kPartMarked;
        else part->flags &= ~kPartMarked;
        // Unlit parts never got here; the level may have changed since.
        const int32_t alpha = HasGlowState(d->inst) ? B3D_GlowPartAlpha(part, d->inst) : 0;
        if (alpha >= 0) DrawPart(part, d->inst, camera, alpha);
    }
}

void B3D_InstDraw(Inst3D* inst, Camera3D* camera) {
    if (inst && camera) DrawTree(inst, camera, false);
}

// ------------------------------------------------------------------ lens-flare picking

B3DCameraItem* B3D_CameraFlareItem(Camera3D* camera, const Inst3D* inst) {
    return B3D_CameraFindItem(camera, static_cast<int32_t>(inst->id));
}

void B3D_PickAll(Camera3D* camera) {
    for (Scene3D* sc = B3D_First<Scene3D>(&g_B3DState->scenes); sc; sc = B3D_Next(sc)) {
        if (!(sc->flags & SCENE_ENABLED) || sc == g_B3DState->lensFlareScene) continue;
        for (Camera3D* cam = B3D_First<Camera3D>(&sc->cameras); cam; cam = B3D_Next(cam)) {
            if (!(cam->camFlags & CAM_ACTIVE) || cam->priority > camera->priority) continue;
            for (auto* item = B3D_First<B3DCameraItem>(&cam->items); item; item = B3D_Next(item))
                if (item->seen && B3D_PickFlareItem(item, camera)) item->seen = 0;
        }
    }
}

int32_t B3D_PickFlareItem(B3DCameraItem* item, Camera3D* camera) {
    if (!(g_SystemState && (g_SystemState->SysFlags & B3D_SYSTEM_FLARE_TEST))) return 1;
    const int32_t top = camera->viewport[0], bottom = camera->viewport[1];
    const int32_t left = camera->viewport[2], right = camera->viewport[3];
    const int64_t x = static_cast<int64_t>(item->screenX) + 0x8000, y = 0x8000 - static_cast<int64_t>(item->screenY);
    if (x < left || x > right || y < top || y > bottom) return 0;
    const int32_t width = right - left, height = bottom - top;
    if (width <= 0 || height <= 0) return 0;
    int32_t ax, ay;
    Aspect(camera, &ax, &ay);
    const int32_t t2 = 2 * Tan16(camera->focus / 2, false);
    const double dx = (x - (left + right) / 2.0) / width * (t2 / 65536.0) * (ax / 65536.0);
    const double dy = ((top + bottom) / 2.0 - y) / height * (t2 / 65536.0) * (ay / 65536.0);
    B3DState* s = g_B3DState;
    if (!s->lensFlareCheck) {
        s->lensFlareCheck = B3D_AllocInst();
        if (!s->lensFlareCheck) return 0;
        B3D_InstSetBody(s->lensFlareCheck, B3D_PICK_RAY_BODY);
    }
    Inst3D* ray = s->lensFlareCheck;
    B3D_InstSetScale(ray, QEL_FIX_ONE, QEL_FIX_ONE, QEL_FIX_ONE);
    if (ray->bodyId >= 0 && !(ray->flags & INST_COLLISION_MODEL) && B3D_GetBody(ray->bodyId))
        B3D_CollBuildModel(ray, 0);
    ray->worldPos = camera->inst.worldPos;
    // The camera's axes turned so that z runs along the direction.
    const int32_t* c = camera->inst.worldMatrix.m;
    double dir[3];
    for (int k = 0; k < 3; ++k) dir[k] = (dx * c[k] + dy * c[4 + k] + c[8 + k]) / 65536.0;
    Normalise(dir);
    double up[3] = {c[4] / 65536.0, c[5] / 65536.0, c[6] / 65536.0}, xa[3], ya[3];
    Cross(up, dir, xa);
    if (!Normalise(xa)) xa[0] = 1.0, xa[1] = xa[2] = 0.0;
    Cross(dir, xa, ya);
    SetRows(&ray->worldMatrix, xa, ya, dir);
    ray->pos = ray->worldPos;
    ray->matrix = ray->worldMatrix;
    // The ray is tested in the camera's scene but lives in no scene: it keeps
    // no scene pointer that a freed scene would leave behind.

    if (camera->collectedCount == 0 && camera->inst.scene) {
        const int32_t before = s->collectedInstCount;
        s->collectedInstCount = 0;
        for (Inst3D* i = B3D_First<Inst3D>(&camera->inst.scene->insts); i; i = B3D_Next(i)) {
            if (camera->collectedCount >= B3D_PICK_CANDIDATES) break;
            B3D_CameraCollectInsts(i, camera);
        }
        s->collectedInstCount = before;
    }
    for (int32_t n = 0; n < camera->collectedCount && n < B3D_PICK_CANDIDATES; ++n)
        if (camera->collected[n] && B3D_PickTestInst(camera->collected[n], item)) return 1;
    return 0;
}

int32_t B3D_PickTestInst(Inst3D* candidate, B3DCameraItem* item) {
    Inst3D* ray = g_B3DState->lensFlareCheck;
    if (!ray || !candidate || !item) return 0;
    if (static_cast<uint32_t>(item->key) == candidate->id) return 0;  // the flare's own instance
    const int32_t* m = ray->worldMatrix.m;
    const double d[3] = {static_cast<double>(candidate->worldPos.x) - ray->worldPos.x,
                         static_cast<double>(candidate->worldPos.y) - ray->worldPos.y,
                         static_cast<double>(candidate->worldPos.z) - ray->worldPos.z};
    double local[3];
    for (int r = 0; r < 3; ++r) local[r] = (d[0] * m[r * 4] + d[1] * m[r * 4 + 1] + d[2] * m[r * 4 + 2]) / 65536.0;
    const double twice = 2.0 * B3D_InstGetTotalSize(candidate);
    if (std::abs(local[0]) > twice || std::abs(local[1]) > twice || local[2] < -twice) return 0;
    const double distance = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    ray->size = static_cast<int32_t>(std::min(distance + twice, 2147483647.0));
    if (ray->flags & INST_COLLISION_MODEL) return B3D_CheckCollisionPairAuto(ray, candidate) > 0 ? 1 : 0;
    if (!RayHits(ray, candidate)) return 0;
    ray->hitInst = candidate;
    candidate->hitInst = ray;
    return 1;
}
