#include "scene/visibility.h"

#include <algorithm>

#include "base/general.h"
#include "base/log.h"
#include "render/frustum.h"
#include "scene/caches.h"
#include "scene/geometry.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "system/standin_fields.h"

namespace {

constexpr uint32_t kAutoQuality = 0x800000;  // VideoD3DFlags: automatic quality control

// Steps 4 to 11 for a visible instance; false when its children are not to be
// handled.
bool Measure(Inst3D* inst, Camera3D* camera) {
    const QelVector& v = inst->viewPos;
    if (static_cast<int64_t>(inst->usedSize) + v.z < 0) {
        inst->flags &= ~INST_VISIBLE;
        return true;
    }
    if (inst->flags & INST_ALWAYS_DRAW) return false;
    if ((camera->camFlags & CAM_HIDE_INSIDE) && (inst->flags & INST_HIDE_INSIDE) && inst->bodyId >= 1 &&
        B3D_VecMaxAbs(&v) < inst->usedSize) {
        inst->flags &= ~INST_VISIBLE;
        return true;
    }
    const float unit = inst->scene ? inst->scene->systemScale : 1.0f;
    if (!S_3DProjectInstBounds(inst, camera, unit)) {
        inst->flags &= ~INST_VISIBLE;
        return true;
    }
    if ((camera->camFlags & CAM_RANGE_TEST) && !(inst->flags & INST_NO_RANGE_TEST) &&
        static_cast<int64_t>(B3D_VecDistance(&inst->worldPos, &camera->inst.worldPos)) >
            static_cast<int64_t>(camera->farRange) + B3D_InstGetTotalSize(inst)) {
        inst->flags &= ~INST_VISIBLE;
        return true;
    }
    if (inst->bodyId < 0) return true;

    int64_t s = std::max({v.x, v.y, v.z});
    if (s < 0x0fffffff) s = s * camera->focus / 16384;
    const int64_t ref = g_B3DState->screenSizeRef;
    int64_t screen =
        (s >= ref && s > 0 && !(inst->flags & INST_NO_SIZE_TEST)) ? inst->usedSize * ref / s : B3D_SIZE_HUGE;
    int64_t levelSize = s >= 640 ? std::max<int64_t>(1, inst->usedSize * int64_t{640} / s) : B3D_SIZE_HUGE;

    if (inst->minSize >= 1 && screen < inst->minSize) inst->flags2 |= INST2_SIZE_TINY;
    else if (screen < 20) inst->flags2 |= INST2_SIZE_SMALL | INST2_SIZE_TINY;
    const bool coarse = camera->camFlags & CAM_COARSE;
    if (coarse) {
        inst->flags2 |= INST2_SIZE_SMALL | INST2_SIZE_TINY;
        if (screen < 20) {
            screen = 0;
            inst->flags &= ~INST_VISIBLE;
        }
    }
    int32_t cull = inst->cullSize;
    if (inst->parent) cull = std::max(cull, inst->parent->cullSize);
    if ((cull >= 1 && screen < cull) || screen < 1) {
        if (inst->flags & INST_DEBUG_TRACE) Qel_DPrintf(0x2000, "Debug-Inst sizeBS < 1!\n");
        inst->flags &= ~INST_VISIBLE;
        return true;
    }

    const Body3D* body = B3D_GetBody(inst->bodyId);
    if (!body || body->levelCount < 1 || !body->levels) return true;
    const int32_t last = body->levelCount - 1;
    if (!(inst->flags & INST_FIXED_LEVEL)) {
        if (g_SystemState && (g_SystemState->VideoD3DFlags & kAutoQuality) && levelSize < 32)
            levelSize = levelSize * (g_SysStandIn.detailLevel + 10) / 110;
        int32_t level = 0;
        for (int32_t l = last; l >= 1; --l) {
            const BodyLevel* b = body->levels[l];
            if (b &&
                static_cast<int64_t>(static_cast<float>(b->switchDistance) * g_SysStandIn.detailFactor) > levelSize) {
                level = l;
                break;
            }
        }
        if (coarse) level = std::min(level + 1, last);
        inst->level = level;
    }
    if (inst->level == last && inst->level > 0 && (inst->flags & INST_HIDE_LAST_LEVEL)) {
        inst->flags &= ~INST_VISIBLE;
    } else {
        inst->flags &= ~INST_SHOWN;
        inst->flags |= INST_VISIBLE;
    }
    if (inst->level > 3) inst->flags2 |= INST2_SIZE_TINY;
    return true;
}

}  // namespace

void B3D_InstSelectLevel(Inst3D* inst, Camera3D* camera) {
    if (!inst || !camera) return;
    inst->flags2 &= ~(INST2_SIZE_SMALL | INST2_SIZE_TINY);
    if (inst->flags & INST_INVISIBLE) inst->flags &= ~INST_VISIBLE;
    if (inst->flags2 & INST2_SKINNED) {
        inst->level = 0;
        return;
    }
    if ((inst->flags & INST_WITH_PARENT) && inst->parent &&
        (!(inst->parent->flags & INST_VISIBLE) || inst->parent->level >= 1))
        inst->flags &= ~INST_VISIBLE;
    if ((inst->flags & INST_VISIBLE) && !Measure(inst, camera)) return;
    for (Inst3D* c = B3D_First<Inst3D>(&inst->children); c; c = B3D_Next(c)) B3D_InstSelectLevel(c, camera);
}
