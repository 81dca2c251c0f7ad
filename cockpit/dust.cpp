#include "cockpit/dust.h"

#include <algorithm>
#include <cstdlib>

#include "base/fixmath.h"
#include "base/log.h"
#include "base/random.h"
#include "cockpit/cockpits.h"
#include "render/lights.h"
#include "scene/allocs.h"
#include "scene/bodyrecord.h"
#include "scene/caches.h"
#include "scene/drawing.h"
#include "scene/framedraw.h"
#include "scene/geometry.h"
#include "scene/lists.h"
#include "scene/records.h"
#include "scene/trees.h"
#include "space/records.h"
#include "space/typesdb.h"

namespace {

constexpr int32_t kBodies = 8;
// The most larger bodies a dust scene holds, whatever the background asks:
// each is an instance made in the frame that first needs it.
constexpr int32_t kMaxLarger = 512;
constexpr int32_t kLightRange = 1000000;
// Larger bodies keep their own turn rather than the camera's.
constexpr uint32_t kOwnTurn = INST_OWN_MATRIX3;
// Bodies the scene cache may drop are kept once the dust uses them.
constexpr int32_t kFirstEmbeddedBody = 100000;
// Where new larger bodies start, in eighths of the dust's span: spread over
// the cube so that no two start together.
constexpr int32_t kStarts[16][4] = {
    {0x2000, 0x2000, 0x2000, 0}, {0xA000, 0x6000, 0x2000, 0}, {0x6000, 0xA000, 0x6000, 0}, {0xE000, 0xE000, 0x6000, 0},
    {0x2000, 0xA000, 0xA000, 0}, {0xA000, 0x2000, 0xE000, 0}, {0x6000, 0x6000, 0xE000, 0}, {0xE000, 0x2000, 0xA000, 0},
    {0x2000, 0x6000, 0xE000, 0}, {0xA000, 0xE000, 0xA000, 0}, {0x6000, 0x2000, 0x2000, 0}, {0xE000, 0xA000, 0x2000, 0},
    {0x2000, 0xE000, 0x6000, 0}, {0xA000, 0xA000, 0x6000, 0}, {0x6000, 0xE000, 0xE000, 0}, {0xE000, 0x6000, 0xE000, 0},
};

bool IsParticle(const Inst3D* i) { return (i->flags & INST_STRETCH) && !(i->flags & INST_LIGHT); }
bool IsLarger(const Inst3D* i) { return !(i->flags & INST_STRETCH); }

// The running shares of the eight weights (each out of 65536 of the total);
// the last is their sum, 0 when every weight is 0.
void Shares(const TypeRecord* bg, int32_t out[kBodies]) {
    int64_t total = 0;
    for (int32_t i = 0; i < kBodies; ++i) total += std::max(0, bg->field[SA_TF_BG_DUST_RATES + i]);
    int64_t sum = 0;
    for (int32_t i = 0; i < kBodies; ++i) {
        if (total > 0) sum += 65536 * int64_t{std::max(0, bg->field[SA_TF_BG_DUST_RATES + i])} / total;
        out[i] = static_cast<int32_t>(sum);
    }
}

// A body picked by weight; 0 when the weights are all 0 or the picked body
// cannot be had.
int32_t PickBody(const TypeRecord* bg, const int32_t shares[kBodies]) {
    const int32_t total = shares[kBodies - 1];
    if (total <= 0) return 0;
    const int32_t r = static_cast<int32_t>(int64_t{total} * Qel_RandomRaw() / 32768);
    for (int32_t i = 0; i < kBodies; ++i) {
        if (shares[i] <= r) continue;
        const int32_t id = bg->field[SA_TF_BG_DUSTS + i];
        if (id <= 0) return 0;
        if (id < kFirstEmbeddedBody && !B3D_BodyIsLoaded(id)) return 0;
        return id;
    }
    return 0;
}

// Gives a larger body its new body, its scale and a random turn about z.
// The instance is scaled by the size its body gave it: a body of radius r
// drifts by at r times r.
bool Rebody(Inst3D* inst, int32_t id) {
    if (!id || !B3D_InstSetBody(inst, id)) return false;
    if (Body3D* body = B3D_GetBody(id)) body->flags |= BODY_KEEPD3D;
    B3D_InstSetScale(inst, inst->size, inst->size, inst->size);
    inst->flags |= kOwnTurn;
    const int32_t degrees = 360 * Qel_RandomRaw() / 32768;
    Qel_MatFromAngles(&inst->matrix, 0, 0, degrees * 65536 / 360);
    return true;
}

void SetShown(Inst3D* inst, bool shown) {
    if (shown) inst->flags &= ~INST_INVISIBLE;
    else inst->flags |= INST_INVISIBLE;
}

void MoveCamera(Camera3D* dust, const Camera3D* sector) {
    for (int i = 0; i < 4; ++i) dust->inst.velocity[i] = sector->inst.velocity[i];
    dust->camFlags |= CAM_MOTION_STRETCH;
    const QelVector v{dust->inst.velocity[0], dust->inst.velocity[1], dust->inst.velocity[2], 0};
    const int64_t length = Qel_VecLengthInt(&v);
    const int32_t d = static_cast<int32_t>(std::min<int64_t>(length, INT32_MAX));
    for (int32_t& one : dust->ones) one = INS_Interpolate(100000, 0, d, 100, QEL_FIX_ONE);
    if (INS_MaxAbsComponent(&v) >= 100) {
        int32_t heading = 0, pitch = 0;
        Qel_AnglesFromVector(&v, &heading, &pitch);
        Qel_MatFromAngles(&dust->inst.matrix, heading, pitch, 0);
    } else {
        Qel_MatFromAngles(&dust->inst.matrix, 0, 0, 0);
    }
    dust->inst.matrix = sector->inst.matrix;
    const auto wrap = [](int32_t p) { return static_cast<int32_t>(static_cast<uint32_t>(p) & (INS_DUST_SPAN - 1)); };
    dust->inst.pos = QelVector{wrap(sector->inst.pos.x), wrap(sector->inst.pos.y), wrap(sector->inst.pos.z), 0};
}

}  // namespace

void INS_InitDustScene(Scene3D* scene) {
    if (!scene) return;
    if (Inst3D* light = B3D_LightAlloc()) {
        light->lightColor[0] = light->lightColor[1] = light->lightColor[2] = 0;
        light->flags |= INS_DUST_LIGHT_FLAGS;
        light->pos = QelVector{};
        Qel_MatFromAngles(&light->matrix, 0, 0, 0);
        light->lightRange = kLightRange;
        light->lightAtten[0] = QEL_FIX_ONE;
        light->lightAtten[1] = 10 * QEL_FIX_ONE;
        light->lightAtten[2] = 0;
        light->lightValue = 0;
        if (light->rendererLight) S_3DUpdateLight(light);
        B3D_InstAddToScene(light, scene);
    }
    const int32_t body = g_CockpitSystem ? g_CockpitSystem->dustBody : 0;
    const auto place = [] { return static_cast<int32_t>((int64_t{Qel_RandomRaw()} << 19) >> 15); };
    for (int32_t i = 0; i < INS_DUST_PARTICLES; ++i) {
        Inst3D* inst = B3D_AllocInst();
        if (!inst) continue;
        inst->pos.x = place();
        inst->pos.y = place();
        inst->pos.z = place();
        if (body > 0) B3D_InstSetBody(inst, body);
        inst->flags |= INS_DUST_PARTICLE_FLAGS;
        Qel_MatFromAngles(&inst->matrix, 0, 0, 0);
        B3D_InstAddToScene(inst, scene);
    }
}

void INS_UpdateDustScene(SectorObject* object, Camera3D* dust, Camera3D* sectorCamera) {
    const SectorSpace* sector = O_Sector(object);
    if (!sector || !dust || !sectorCamera) return;
    Scene3D* scene = dust->inst.scene;
    const TypeRecord* bg = SA_GetTypeRecord(SA_MT_BACKGROUND, sector->backgroundType);
    if (scene && bg) {
        for (int i = 0; i < 3; ++i) scene->ints[i] = bg->field[SA_TF_BG_STARDUST_COLOUR + i];
        int32_t shares[kBodies];
        Shares(bg, shares);
        const int32_t asked = bg->field[SA_TF_BG_DUST_COUNT];
        const int32_t wanted = std::clamp(asked, 0, kMaxLarger);
        const int32_t shown = INS_DUST_PARTICLES * std::clamp(bg->field[SA_TF_BG_STARDUST_DENSITY], 0, 100) / 100;
        int32_t larger = 0, particles = 0;
        for (Inst3D* i = B3D_First<Inst3D>(&scene->insts); i; i = B3D_Next(i)) {
            if (IsLarger(i)) {
                const bool show = larger++ < wanted;
                SetShown(i, show);
                if (show && (i->flags & INS_DUST_REBODY)) Rebody(i, PickBody(bg, shares));
            } else if (IsParticle(i)) {
                SetShown(i, particles++ < shown);
            }
        }
        if (larger < wanted && asked > wanted)
            Qel_DPrintf(0, "INS_UpdateDustScene() %d dust instances asked for, %d made\n", asked, wanted);
        for (int32_t k = 0; larger + k < wanted; ++k) {
            Inst3D* inst = B3D_AllocInst();
            if (!inst) break;
            const int32_t* start = kStarts[k % 16];
            inst->pos = QelVector{start[0] * 8, start[1] * 8, start[2] * 8, start[3]};
            Rebody(inst, PickBody(bg, shares));
            inst->flags |= kOwnTurn;
            B3D_InstAddToScene(inst, scene);
        }
    }
    MoveCamera(dust, sectorCamera);
}
