#include "scene/geometry.h"

#include <initializer_list>
#include <algorithm>
#include <cmath>
#include <limits>

#include "base/angles.h"
#include "base/log.h"
#include "scene/state.h"

int32_t B3D_FixMul(int32_t a, int32_t b) { return static_cast<int32_t>((static_cast<int64_t>(a) * b + 0x8000) >> 16); }

int32_t B3D_ClockDiff(int32_t a, int32_t b) {
    int64_t d = static_cast<int64_t>(a) - b;
    d %= QEL_ANGLE_FULL;
    if (d > QEL_ANGLE_HALF) d -= QEL_ANGLE_FULL;
    else if (d <= -QEL_ANGLE_HALF) d += QEL_ANGLE_FULL;
    return static_cast<int32_t>(d);
}

int32_t B3D_FloatToInt(double v) {
    if (!(v == v)) return 0;
    if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

void B3D_InstSetScale(Inst3D* inst, int32_t sx, int32_t sy, int32_t sz) {
    inst->scale = {sx, sy, sz, 0};
    inst->radius = B3D_FixMul(inst->size, std::max({sx, sy, sz}));
    inst->totalRadius = -1;
    for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c))
        if (c->flags & INST_SCALED_CHILD) B3D_InstSetScale(c, sx, sy, sz);
}

void B3D_InstSetScaleRecursive(Inst3D* inst, int32_t sx, int32_t sy, int32_t sz) {
    B3D_InstSetScale(inst, sx, sy, sz);
    for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c))
        if (!(c->flags & INST_SCALED_CHILD)) B3D_InstSetScaleRecursive(c, sx, sy, sz);
}

int32_t B3D_InstSetSize(Inst3D* inst, int32_t size) {
    for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c)) {
        if (inst->size == 0) {
            Qel_DPrintf(0, "B3D_InstSetSize(inst, %d) Trying to set subinst size, but oldsize of main inst was 0!\n",
                        size);
            return 0;
        }
        B3D_InstSetSize(c, static_cast<int32_t>(static_cast<int64_t>(c->size) * size / inst->size));
    }
    inst->size = size;
    inst->scale = {QEL_FIX_ONE, QEL_FIX_ONE, QEL_FIX_ONE, inst->scale.w};
    inst->radius = size;
    inst->totalRadius = -1;
    return 1;
}

int32_t B3D_InstGetTotalSize(Inst3D* inst) {
    if (inst->totalRadius >= 0) return inst->totalRadius;
    int64_t r = inst->radius;
    for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c)) {
        const int64_t t = B3D_InstGetTotalSize(c);
        for (int32_t p : {c->pos.x, c->pos.y, c->pos.z}) {
            const int64_t q = (c->flags & INST_SCALED_CHILD) ? B3D_FixMul(p, inst->size) : p;
            r = std::max({r, t + q, t - q});
        }
    }
    inst->totalRadius = static_cast<int32_t>(std::clamp<int64_t>(r, 0, std::numeric_limits<int32_t>::max()));
    return inst->totalRadius;
}

void B3D_InstGetAbsPos(const Inst3D* inst, QelVector* out) {
    *out = inst->pos;
    for (const Inst3D* a = inst->parent; a; a = a->parent) {
        QelVector v;
        Qel_MatMulVec(&a->matrix, out, &v);
        *out = {v.x + a->pos.x, v.y + a->pos.y, v.z + a->pos.z, v.w};
    }
}

void B3D_InstGetAbsMatrix(const Inst3D* inst, QelMatrix* out) {
    *out = inst->matrix;
    for (const Inst3D* a = inst->parent; a; a = a->parent) {
        QelMatrix m;
        Qel_MatMul(&a->matrix, out, &m);
        *out = m;
    }
}

void B3D_MatrixFromAngles(Inst3D* inst, int32_t a, int32_t b, int32_t c) { Qel_MatFromAngles(&inst->matrix, a, b, c); }

namespace {
int32_t Dot(const int32_t* row, int32_t x, int32_t y, int32_t z) {
    return static_cast<int32_t>(B3D_FixMul(row[0], x) + static_cast<int64_t>(B3D_FixMul(row[1], y)) +
                                B3D_FixMul(row[2], z));
}
}  // namespace

void B3D_InstPointToLocal(const Inst3D* reference, Inst3D* inst) {
    const int32_t dx = inst->worldPos.x - reference->pos.x;
    const int32_t dy = inst->worldPos.y - reference->pos.y;
    const int32_t dz = inst->worldPos.z - reference->pos.z;
    const int32_t* m = reference->matrix.m;
    inst->viewPos.x = Dot(m, dx, dy, dz);
    inst->viewPos.y = Dot(m + 4, dx, dy, dz);
    inst->viewPos.z = Dot(m + 8, dx, dy, dz);
}

int32_t B3D_InstGetDistance(const Scene3D* scene, const Inst3D* inst, int32_t facing) {
    float best = -1.0f;
    for (const Camera3D* cam = B3D_First<Camera3D>(&scene->cameras); cam; cam = B3D_Next(cam)) {
        if (!(cam->camFlags & CAM_ACTIVE)) continue;
        const QelVector& c = cam->inst.pos;
        if (facing) {
            const int32_t* z = cam->inst.matrix.m + 8;
            const int64_t d = static_cast<int64_t>(B3D_FixMul(z[0], c.x - inst->worldPos.x)) +
                              B3D_FixMul(z[1], c.y - inst->worldPos.y) + B3D_FixMul(z[2], c.z - inst->worldPos.z);
            if (d > 0) continue;
        }
        const float dx = static_cast<float>(inst->pos.x) - static_cast<float>(c.x);
        const float dy = static_cast<float>(inst->pos.y) - static_cast<float>(c.y);
        const float dz = static_cast<float>(inst->pos.z) - static_cast<float>(c.z);
        const float sq = dx * dx + dy * dy + dz * dz;
        if (best < 0.0f || sq < best) best = sq;
    }
    if (best < 0.0f) return std::numeric_limits<int32_t>::max();
    return B3D_FloatToInt(std::sqrt(static_cast<double>(best)));
}

B3DFacingNode* B3D_FaceCameraInst(Camera3D* camera, Inst3D* inst) {
    for (auto* n = B3D_First<B3DFacingNode>(&camera->facing); n; n = B3D_Next(n))
        if (n->inst == inst) return n;
    auto* n = B3D_AllocRecordI<B3DFacingNode>();
    if (!n) {
        Qel_DPrintf(0, "B3D_FaceCameraInst() failed!\n");
        return nullptr;
    }
    n->camera = camera;
    n->inst = inst;
    B3D_ListAppend(&camera->facing, B3D_Node(n));
    return n;
}

void B3D_CameraScreenToWorld(int32_t x, int32_t y, const Camera3D* camera, int32_t depth, QelVector* out) {
    const B3DState* s = g_B3DState;
    int32_t ax = camera->aspect[0], ay = camera->aspect[1];
    if (ax <= 0 || ay <= 0) {
        ax = s->screenAspect[0];
        ay = s->screenAspect[1];
    }
    const uint16_t half = static_cast<uint16_t>(camera->focus / 2);
    const int32_t cosv = Qel_FixCos(half);
    const int64_t tanv = cosv ? (static_cast<int64_t>(Qel_FixSin(half)) << 16) / cosv : 0;
    const int64_t extent = (static_cast<int64_t>(depth) * tanv + 0x8000) >> 16;
    // Screen fractions (16.16) relative to the viewport's centre; the viewport
    // is stored as third, fourth, first, second argument (left, right, top, bottom).
    const int64_t fx = s->screenWidth ? (static_cast<int64_t>(x) << 16) / s->screenWidth : 0;
    const int64_t fy = s->screenHeight ? (static_cast<int64_t>(y) << 16) / s->screenHeight : 0;
    const int64_t cx = (static_cast<int64_t>(camera->viewport[2]) + camera->viewport[3]) / 2;
    const int64_t cy = (static_cast<int64_t>(camera->viewport[0]) + camera->viewport[1]) / 2;
    const int64_t hw = (static_cast<int64_t>(camera->viewport[3]) - camera->viewport[2]) / 2;
    const int64_t hh = (static_cast<int64_t>(camera->viewport[1]) - camera->viewport[0]) / 2;
    const int64_t ux = hw ? ((fx - cx) << 16) / hw : 0;
    const int64_t uy = hh ? ((fy - cy) << 16) / hh : 0;
    const int64_t ox = (((ux * extent + 0x8000) >> 16) * ax + 0x8000) >> 16;
    const int64_t oy = -((((uy * extent + 0x8000) >> 16) * ay + 0x8000) >> 16);
    QelVector local{static_cast<int32_t>(ox), static_cast<int32_t>(oy), depth, 0};
    QelVector v;
    Qel_MatMulVec(&camera->inst.matrix, &local, &v);
    *out = {camera->inst.pos.x + v.x, camera->inst.pos.y + v.y, camera->inst.pos.z + v.z, 0};
}
