// A space root with one sector of N objects for the space benchmarks: ships
// of a small collision model, spread over a sector or clustered so that many
// touch; invulnerable and massless so that frames change nothing that the
// next one measures.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "base/general.h"
#include "base/memory.h"
#include "scene/instcoll.h"
#include "scene/records.h"
#include "scene/state.h"
#include "scene/ids.h"
#include "space/create.h"
#include "space/objects.h"
#include "space/queries.h"
#include "space/records.h"
#include "space/typesdb.h"
#include "tools/lib/collision_meshes.h"

namespace space_world {

constexpr int32_t kBody = 301;
constexpr int32_t kRadius = 1000;
constexpr int32_t kFrameMs = 16;

enum Layout { kSpread = 0, kClustered = 1 };

inline SpaceRoot& Root() {
    static SpaceRoot root{};
    return root;
}

// The system, scene and space states, the types and the body, made once.
inline void NeedEngine() {
    static const bool made = [] {
        g_SystemState = Int_AllocRecord<SystemState>(0);
        g_B3DState = B3D_InitStore();
        if (!g_SystemState || !g_B3DState || B3D_InitBodyIdTable() != 1 || B3D_InitCutIdTable() != 1) return false;
        g_SystemState->gameClock = 1000000;
        g_SystemState->gameFrameDelta = kFrameMs;
        g_SpaceRoot = SA_Init(&Root());
        for (int16_t m : {SA_MT_BULLET, SA_MT_SECTOR, SA_MT_SHIP})
            if (SA_TypesFileName(m) && g_TypeDB.counts[m] < 1) SA_AppendTypeRecords(m, 1);
        float unit = 1;
        return CollMesh_MakeBody(CollMesh_NoisyIcosphere(1, 1.0f, 0.0f, 7), kBody, &unit) != nullptr;
    }();
    if (!made) std::abort();
}

// The positions of n objects: spread over the sector's 20,000,000 units, or
// clustered in a cube where each has a few neighbours within reach.
inline std::vector<QelVector> Positions(int n, Layout layout, uint32_t seed) {
    std::mt19937 rng(seed);
    const double side = layout == kSpread ? 20000000.0 : 4.0 * kRadius * std::cbrt(static_cast<double>(n));
    std::uniform_real_distribution<double> u(-side / 2, side / 2);
    std::vector<QelVector> out;
    for (int i = 0; i < n; ++i)
        out.push_back(
            QelVector{static_cast<int32_t>(u(rng)), static_cast<int32_t>(u(rng)), static_cast<int32_t>(u(rng)), 0});
    return out;
}

// An object of the main type at the position in the sector; with a model the
// pair test reaches the collision model.
inline SectorObject* Add(SectorObject* sector, int16_t mainType, const QelVector& at, bool model) {
    SectorObject* o = O_AllocObject(SA_TypeCode(mainType, 0));
    if (!o || !o->instance) std::abort();
    O_SetContainer(o, sector);
    Inst3D* inst = o->instance;
    inst->pos = inst->worldPos = at;
    Qel_MatIdentity(&inst->matrix);
    Qel_MatIdentity(&inst->worldMatrix);
    o->size = kRadius;
    o->mass = 0;
    o->flags |= SA_FLAG_INVULNERABLE;
    if (model) {
        inst->bodyId = kBody;
        inst->scale = QelVector{kRadius, kRadius, kRadius, 0};
        inst->totalRadius = kRadius;
        if (B3D_CollBuildModel(inst, 0) != 1) std::abort();
    }
    return o;
}

// A fresh sector of n ships (and `bullets` bullets spread among them).
inline SectorObject* MakeSector(int n, Layout layout, bool model, int bullets = 0, uint32_t seed = 1) {
    NeedEngine();
    SA_FreeAllObjects(&Root());
    Root().running = 1;
    SectorObject* sector = O_AllocObject(SA_TypeCode(SA_MT_SECTOR, 1));
    if (!sector) std::abort();
    O_Sector(sector)->spaceFlags = 0;
    for (const QelVector& at : Positions(n, layout, seed)) Add(sector, SA_MT_SHIP, at, model);
    for (const QelVector& at : Positions(bullets, kSpread, seed + 1)) Add(sector, SA_MT_BULLET, at, false);
    return sector;
}

inline void NextFrame() { g_SystemState->gameClock += kFrameMs; }

}  // namespace space_world
