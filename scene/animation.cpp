#include "scene/animation.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "base/fixmath.h"
#include "base/general.h"
#include "base/log.h"
#include "render/cameras.h"
#include "render/lights.h"
#include "scene/bodies.h"
#include "scene/geometry.h"
#include "scene/smallops.h"
#include "scene/state.h"

namespace {
// The arctangent table's angle for smaller / larger (both 0 or more).
int32_t AtanOf(int64_t smaller, int64_t larger) {
    if (larger == 0) return Qel_ArcTanTable()[0];
    const int64_t q = std::min<int64_t>((smaller << 16) / larger, 65536);
    return Qel_ArcTanTable()[q];
}

// Rounded 16.16 product of 64-bit operands, wrapped to 32 bits.
int32_t Mul64(int64_t a, int64_t b) { return static_cast<int32_t>((a * b + 0x8000) >> 16); }

int32_t DotRow(const int32_t* row, int64_t x, int64_t y, int64_t z) {
    return static_cast<int32_t>(static_cast<int64_t>(Mul64(row[0], x)) + Mul64(row[1], y) + Mul64(row[2], z));
}

int32_t GameClock() { return g_SystemState ? g_SystemState->gameClock : 0; }
}  // namespace

int32_t B3D_Atan2(int32_t yIn, int32_t xIn) {
    const int64_t x = xIn, y = yIn;
    if (x == 0 && y == 0) return 0;
    if (x > 0 && y >= 0 && y < x) return AtanOf(y, x);
    if (x >= 0 && y >= 0) return 16384 - AtanOf(x, y);
    if (x < 0 && y >= 0) return y < -x ? 32768 - AtanOf(y, -x) : 16384 + AtanOf(-x, y);
    if (x < 0) return -y < -x ? 32768 + AtanOf(-y, -x) : 49152 - AtanOf(-x, -y);
    return -y < x ? (65536 - AtanOf(-y, x)) & 0xFFFF : 49152 + AtanOf(x, -y);
}

void B3D_SceneAnimate(Scene3D* scene) {
    Qel_DPrintf(0x2000, "B3D_SceneAnimate: Start\n");
    for (Inst3D* i = B3D_First<Inst3D>(&scene->insts); i; i = B3D_Next(i)) B3D_InstAnimate(i);
}

void B3D_InstAnimate(Inst3D* inst) {
    for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c)) B3D_InstAnimate(c);
    if (!(inst->flags & INST_FACE_PARENT)) return;
    const Inst3D* parent = inst->parent;
    if (!parent) {
        Qel_DPrintf(0, "B3D_InstAnimate: Parent Inst3D doesnt exist!\n");
        return;
    }
    if (!parent->scene) {
        Qel_DPrintf(0, "B3D_InstAnimate: Parent Inst3D not in a scene!\n");
        return;
    }
    Qel_MatFromAngles(&inst->matrix, 0, 0, B3D_Atan2(parent->viewPos.y, parent->viewPos.x));
}

void B3D_InstUpdateChildMatrices(Inst3D* p) {
    for (Inst3D* c = B3D_First<Inst3D>(&p->children); c; c = B3D_Next(c)) {
        QelVector v;
        Qel_MatMulVec(&p->worldMatrix, &c->pos, &v);
        if (!(p->flags & INST_UNSCALED_CHILDREN)) {
            v.x = B3D_FixMul(v.x, p->scale.x);
            v.y = B3D_FixMul(v.y, p->scale.y);
            v.z = B3D_FixMul(v.z, p->scale.z);
        }
        if (c->flags & INST_SCALED_CHILD) {
            v.x = B3D_FixMul(v.x, p->size);
            v.y = B3D_FixMul(v.y, p->size);
            v.z = B3D_FixMul(v.z, p->size);
        }
        // Positions are 32-bit words: at their extremes they wrap, as cut keys do.
        Fx_VecAdd(&v, &p->worldPos, &c->worldPos);
        c->worldPos.w = v.w;
        if (c->flags & (INST_OWN_MATRIX | INST_OWN_MATRIX2 | INST_OWN_MATRIX3)) {
            c->worldMatrix = c->matrix;
        } else {
            QelMatrix m;
            Qel_MatMul(&p->worldMatrix, &c->matrix, &m);
            c->worldMatrix = m;
        }
        B3D_InstUpdateChildMatrices(c);
    }
}

void B3D_InstUpdateTree(Inst3D* inst) { B3D_InstUpdateChildMatrices(inst); }

void B3D_RankByDetail(B3DList* list) {
    Inst3D* firstRanked = nullptr;
    for (Inst3D* i = B3D_First<Inst3D>(list); i;) {
        Inst3D* next = B3D_Next(i);
        if (i->detailSwitch <= 0) {
            if (firstRanked) {
                B3D_ListRemove(B3D_Node(i));
                B3D_ListPrepend(list, B3D_Node(i));
            }
        } else {
            if (!firstRanked) firstRanked = i;
            const int64_t d = B3D_LengthF(&i->viewPos);
            const int64_t r = B3D_InstGetTotalSize(i);
            int32_t value = 0;
            if (d < 6 * r + 37000 && r > 0 && d > 0) {
                const int64_t q = d / (r + 4500);
                if (1 - q > 0) value = i->detailBase;
                else value = q - 1 >= 31 ? 0 : i->detailBase / (int32_t{1} << (q - 1));
            }
            i->detailValue = value;
        }
        i = next;
    }
    if (firstRanked)
        B3D_BubbleSort<Inst3D>(B3D_Node(firstRanked),
                               [](const Inst3D* a, const Inst3D* b) { return a->detailValue < b->detailValue; });
}

B3DDrawItem* B3D_AllocDrawItem() {
    B3DState* s = g_B3DState;
    auto* item = B3D_First<B3DDrawItem>(&s->drawFree);
    if (item) {
        B3D_ListRemove(B3D_Node(item));
    } else {
        item = B3D_AllocRecordI<B3DDrawItem>();
        if (!item) return nullptr;
    }
    B3D_ListAppend(&s->drawList, B3D_Node(item));
    return item;
}

void B3D_InstCreateBones(Inst3D* inst) {
    int32_t count = 0;
    const char* const* names = B3D_BodyGetBones(B3D_FindBody(inst->bodyId), &count);
    if (count <= 0 || !names) return;
    auto* bones = static_cast<Inst3D**>(B3D_AllocMemI(count * static_cast<int32_t>(sizeof(Inst3D*))));
    if (!bones) return;
    inst->boneCount = count;
    inst->bones = bones;
    const bool show = g_SystemState && (g_SystemState->thirdFlags & B3D_SYSTEM_SHOW_BONES);
    for (int32_t i = 0; i < count; ++i) {
        Inst3D* bone = B3DB_InstFindByPathName(inst, names[i]);
        if (!bone) {
            Qel_DPrintf(0, "B3D_InstCreateBones() can't find bone %s\n", names[i] ? names[i] : "");
            continue;
        }
        if (!show) bone->flags |= INST_INVISIBLE;
        bones[i] = bone;
    }
}

void B3D_SceneRotate2(Scene3D* scene) {
    Qel_DPrintf(0x2000, "B3D_SceneRotate2: Start\n");
    scene->lowestPass = 0;
    scene->highestPass = 0;
    for (Inst3D* i = B3D_First<Inst3D>(&scene->insts); i; i = B3D_Next(i)) {
        i->worldPos = i->pos;
        i->worldMatrix = i->matrix;
        B3D_InstUpdateChildMatrices(i);
        scene->lowestPass = std::min(scene->lowestPass, i->pass);
        scene->highestPass = std::max(scene->highestPass, i->pass);
    }
    for (Inst3D* i = B3D_First<Inst3D>(&scene->insts); i; i = B3D_Next(i)) {
        if (!(i->flags2 & INST2_SKINNED)) continue;
        if (!i->bones) B3D_InstCreateBones(i);
        // The average over the bones that were found; without any the world
        // position stays as placed.
        int64_t sum[3] = {0, 0, 0};
        int64_t found = 0;
        for (int32_t b = 0; b < i->boneCount && i->bones; ++b) {
            const Inst3D* bone = i->bones[b];
            if (!bone) continue;
            sum[0] += bone->worldPos.x;
            sum[1] += bone->worldPos.y;
            sum[2] += bone->worldPos.z;
            ++found;
        }
        if (found) {
            i->worldPos.x = static_cast<int32_t>(sum[0] / found);
            i->worldPos.y = static_cast<int32_t>(sum[1] / found);
            i->worldPos.z = static_cast<int32_t>(sum[2] / found);
        }
    }
}

void B3D_SceneRotate(Inst3D* inst, const Camera3D* camera) {
    Qel_DPrintf(0x2000, "B3D_SceneRotate: Start\n");
    const Inst3D& cam = camera->inst;
    if (inst->flags2 & INST2_WITH_CAMERA) {
        inst->worldPos.x = inst->pos.x + cam.pos.x;
        inst->worldPos.y = inst->pos.y + cam.pos.y;
        inst->worldPos.z = inst->pos.z + cam.pos.z;
    }
    inst->flags |= INST_VIEW_DONE;
    const int32_t* m = cam.matrix.m;
    const int64_t dx = static_cast<int64_t>(inst->worldPos.x) - cam.pos.x;
    const int64_t dy = static_cast<int64_t>(inst->worldPos.y) - cam.pos.y;
    const int64_t dz = static_cast<int64_t>(inst->worldPos.z) - cam.pos.z;
    inst->viewPos.x = DotRow(m, dx, dy, dz);
    inst->viewPos.y = DotRow(m + 4, dx, dy, dz);
    inst->viewPos.z = DotRow(m + 8, dx, dy, dz);
    if (inst->detailSwitch > 0) {
        const int64_t rx = static_cast<int64_t>(inst->refPoint.x) - cam.refPoint.x;
        const int64_t ry = static_cast<int64_t>(inst->refPoint.y) - cam.refPoint.y;
        const int64_t rz = static_cast<int64_t>(inst->refPoint.z) - cam.refPoint.z;
        inst->refViewPos.x = DotRow(m, rx, ry, rz);
        inst->refViewPos.y = DotRow(m + 4, rx, ry, rz);
        inst->refViewPos.z = DotRow(m + 8, rx, ry, rz);
    }
    if ((inst->flags & INST_LIGHT) && inst->rendererLight) S_3DUpdateLightTransform(inst);
    const bool far = inst->viewPos.x >= 100000001 || inst->viewPos.y >= 100000001 || inst->viewPos.z >= 100000001;
    if (far) inst->flags2 |= INST2_FAR;
    else inst->flags2 &= ~INST2_FAR;
    for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c)) B3D_SceneRotate(c, camera);
}

void B3D_InstCollectLights(Scene3D* scene, const Inst3D* inst) {
    B3DState* s = g_B3DState;
    int32_t n = 0;
    auto consider = [&](Inst3D* light) {
        if (!(light->flags & INST_LIGHT) || n >= B3D_MAX_COLLECTED_LIGHTS) return;
        const int64_t d = B3D_VecMaxAbsDiff(&light->worldPos, &inst->pos);
        const bool ranged = light->flags & (INST_POINT_LIGHT | INST_SPOT_LIGHT);
        if (!ranged || d < light->lightRange || (d != 0 && (static_cast<int64_t>(light->lightRange) << 16) / d > 6553))
            s->collectedLights[n++] = light;
    };
    for (Inst3D* t = B3D_First<Inst3D>(&scene->insts); t; t = B3D_Next(t)) consider(t);
    for (Inst3D* t = B3D_First<Inst3D>(&scene->insts); t; t = B3D_Next(t))
        for (Inst3D* c = B3D_First<Inst3D>(&t->children); c; c = B3D_Next(c)) consider(c);
    s->collectedLights[n] = nullptr;
}

void B3D_InstChooseLights(const Inst3D* inst) {
    if (inst->radius <= 1 || inst->totalRadius <= 1) return;
    B3DState* s = g_B3DState;
    B3D_ResetLightSlots();
    const int32_t slots = std::min(s->lightSlotCount, B3D_LIGHT_SLOTS);
    for (int32_t i = 0; i <= B3D_MAX_COLLECTED_LIGHTS && s->collectedLights[i]; ++i) {
        const Inst3D* light = s->collectedLights[i];
        const int64_t b = static_cast<int64_t>(0.299 * light->lightColor[0] + 0.587 * light->lightColor[1] +
                                               0.114 * light->lightColor[2]);
        const int64_t d = std::max<int64_t>(
            static_cast<int64_t>(B3D_VecMaxAbsDiff(&inst->worldPos, &light->worldPos)) - inst->size, 0);
        int64_t p;
        if (light->flags & INST_DIRECTIONAL_LIGHT) {
            p = b + 768;
        } else if (light->flags & (INST_POINT_LIGHT | INST_SPOT_LIGHT)) {
            const int64_t twoRange = 2 * static_cast<int64_t>(light->lightRange);
            if (d < light->lightRange) p = twoRange == 0 ? b : b - b * d / twoRange;
            else p = 0;
        } else {
            p = -1;
        }
        if ((light->flags & INST_SPOT_LIGHT) && p > 0) {
            const QelVector diff{inst->worldPos.x - light->worldPos.x, inst->worldPos.y - light->worldPos.y,
                                 inst->worldPos.z - light->worldPos.z, 0};
            if (static_cast<int64_t>(B3D_VecMaxAbs(&diff)) > 16 * static_cast<int64_t>(inst->size)) {
                const int32_t* z = light->worldMatrix.m + 8;
                const int64_t dot = DotRow(z, diff.x, diff.y, diff.z);
                p = std::clamp<int64_t>((p * dot + 0x8000) >> 16, INT32_MIN, INT32_MAX);
            }
        }
        if (p <= 15) continue;
        B3DLightSlot entry{i, static_cast<int32_t>(std::min<int64_t>(p, INT32_MAX)),
                           static_cast<int32_t>(std::min<int64_t>(d, INT32_MAX))};
        int32_t target = -1;
        for (int32_t k = 0; k < slots; ++k)
            if (s->lightSlots[k].index < 0) {
                target = k;
                break;
            }
        if (target < 0) {
            int32_t lowest = 65535;
            for (int32_t k = 0; k < slots; ++k)
                if (s->lightSlots[k].priority < lowest) {
                    lowest = s->lightSlots[k].priority;
                    target = k;
                }
            if (target >= 0 && lowest >= entry.priority) target = -1;
        }
        if (target >= 0) s->lightSlots[target] = entry;
    }
    int32_t used = 0;
    while (used < slots && s->lightSlots[used].index >= 0) ++used;
    std::qsort(s->lightSlots, static_cast<size_t>(used), sizeof(B3DLightSlot), B3D_CompareSecondWord);
}

namespace {
// The 16-bit angle of the direction (a, b), taken into -32767..32768, scaled
// by 1.0 minus the absolute third component; 0 below both thresholds.
int32_t RollPart(int32_t a, int32_t b, int32_t first, int32_t second, int32_t third) {
    if (std::abs(static_cast<int64_t>(first)) < 655 && std::abs(static_cast<int64_t>(second)) < 6553) return 0;
    int32_t angle = B3D_Atan2(b, a);
    if (angle > 32768) angle -= 65536;
    return Mul64(angle, QEL_FIX_ONE - std::min<int64_t>(std::abs(static_cast<int64_t>(third)), QEL_FIX_ONE));
}
}  // namespace

void B3D_CameraUpdateMotion(Camera3D* camera) {
    Inst3D& inst = camera->inst;
    const int32_t clock = GameClock();
    if (camera->motionTime != 0) {
        const int32_t dt = B3D_ClockDiff(clock, camera->motionTime);
        const double dx = static_cast<double>(inst.pos.x) - camera->motionPos.x;
        const double dy = static_cast<double>(inst.pos.y) - camera->motionPos.y;
        const double dz = static_cast<double>(inst.pos.z) - camera->motionPos.z;
        const int64_t dist = static_cast<int64_t>(std::sqrt(dx * dx + dy * dy + dz * dz));
        if (dt >= 1 && dt <= 9999 && dist < 1000000) {
            const int32_t* now = &inst.pos.x;
            const int32_t* then = &camera->motionPos.x;
            for (int k = 0; k < 3; ++k) {
                inst.velocity[k] = static_cast<int32_t>((static_cast<int64_t>(now[k]) - then[k]) * 1000 / dt);
                camera->zRate[k] = static_cast<int32_t>(
                    (static_cast<int64_t>(inst.matrix.m[8 + k]) - camera->motionMatrix.m[8 + k]) * 1000 / dt);
            }
        }
        const QelVector xRow{inst.matrix.m[0], inst.matrix.m[1], inst.matrix.m[2], 0};
        const QelVector yRow{inst.matrix.m[4], inst.matrix.m[5], inst.matrix.m[6], 0};
        QelVector r0, r1;
        Qel_MatTransMulVec(&camera->motionMatrix, &xRow, &r0);
        Qel_MatTransMulVec(&camera->motionMatrix, &yRow, &r1);
        const int32_t a = RollPart(r0.x, r0.y, r0.x, r0.y, r0.z);
        const int32_t b = RollPart(r1.y, -r1.x, r1.x, r1.y, r1.z);
        camera->roll = (camera->roll - (a + b) / 2) & 0xFFFF;
    }
    camera->motionTime = clock;
    camera->motionPos = inst.pos;
    camera->motionMatrix = inst.matrix;
}
