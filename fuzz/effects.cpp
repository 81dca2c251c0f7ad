// The "effects" types file: the input is its text. The table is loaded, then
// every effect it holds (at most 16) is played on a ship in a sector's scene,
// pushed by a second ship that a break-up part may take out of play during
// the pass; the ship's engines and a bullet's impact start the effects the
// types name, and the ship is destroyed, for a few frames of the effect pass,
// so the player meets what the file says of sizes, times, lights, bursts,
// pushes and break-ups.
#include <cstdint>

#include "base/general.h"
#include "base/standin_calls.h"
#include "base/texcache.h"
#include "cockpit/effects.h"
#include "cockpit/explosions.h"
#include "fuzz/harness/harness.h"
#include "scene/allocs.h"
#include "scene/names.h"
#include "scene/state.h"
#include "scene/trees.h"
#include "space/objects.h"
#include "space/create.h"
#include "space/records.h"
#include "space/typesdb.h"

namespace {

constexpr int32_t kMaxPlayed = 16;
constexpr int32_t kFrames = 8;

SectorObject* Placed(SectorObject* sector, int32_t mainType, int32_t x) {
    SectorObject* o = O_AllocObject(SA_TypeCode(mainType, 0));
    if (!o) return nullptr;
    if (!o->instance) o->instance = B3D_AllocInst();
    if (!o->instance) return o;
    o->instance->size = o->size = 65536;
    o->instance->pos.x = x;
    O_SetContainer(o, sector);
    if (!o->instance->scene) B3D_InstAddToScene(o->instance, O_Sector(sector)->spaceScene);
    return o;
}

void Play() {
    // Light types of every kind, for the light parts to find.
    for (uint16_t k = 1; k <= 3; ++k) g_B3DState->lightTypes[k] = {k, 255, 128, 64, k == 2 ? 1 : 0, 1000, {0, 0}};
    g_SystemState->VideoD3DFlags |= EO_OPTION_ENGINE_PARTICLES;
    SectorObject* sector = O_AllocObject(SA_TypeCode(SA_MT_SECTOR, 0));
    Scene3D* scene = B3D_SceneAlloc();
    if (!sector || !scene) return;
    O_Sector(sector)->spaceScene = scene;
    SectorObject* ship = Placed(sector, SA_MT_SHIP, 0);
    SectorObject* push = Placed(sector, SA_MT_SHIP, 1000);
    SectorObject* bullet = Placed(sector, SA_MT_BULLET, 50);
    if (!ship || !ship->instance || !push || !bullet) return;
    push->speed = 8000;
    if (Inst3D* engine = B3D_AllocInst()) {
        engine->childMask = 1;
        B3D_InstAddToInst(engine, ship->instance);
    }
    int32_t played = 0, first = 0;
    for (int32_t i = 0; i < EO_EFFECT_COUNT && played < kMaxPlayed; ++i) {
        if (!g_EffectTable.entries[i].partCount) continue;
        if (!played) first = i;
        EO_AddObjectEffect(EO_KIND_IMPACT, i, i, ship, push, 0, 0, nullptr, 0, nullptr);
        ++played;
    }
    // The types name the first effect for the engines and the impacts.
    if (TypeRecord* t = SA_AppendTypeRecords(SA_MT_SHIP, 1)) {
        t->field[SA_TF_SHIP_ENGINE_EFFECT] = first;
        t->field[SA_TF_SHIP_ENGINE_PARTICLES] = 1;
    }
    if (TypeRecord* t = SA_AppendTypeRecords(SA_MT_BULLET, 1)) t->field[SA_TF_BULLET_IMPACT_EFFECT] = first;
    EO_StartObjectEffect(ship);
    EO_CollisionEffect(bullet, ship);
    EO_ObjectDestroyedEffect(ship, nullptr, 0);
    for (int32_t f = 0; f < kFrames; ++f) {
        g_SystemState->gameFrameDelta = 250;
        g_SystemState->gameClock = EO_TimeAdd(g_SystemState->gameClock, 250);
        EO_MoveExplObjects();
        SA_DeleteKilledObjects();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    Fuzz_WriteFile("types/effects.txt", data, size);
    {
        FuzzMemoryGuard guard;
        Fuzz_NewSceneState();
        SpaceRoot root{};
        SpaceRoot* saved = g_SpaceRoot;
        g_SpaceRoot = SA_Init(&root);
        g_SystemState->gameClock = 32399000;  // the pass crosses the clock's wrap
        if (EO_Init()) Play();
        EO_FreeExplosions();
        EO_FreeEffects();
        SA_ResetObjectDB(&root);
        g_SpaceRoot = saved;
        TC_FreeTextureTables();
        g_TCNumberedCount = g_TCNamedCount = 0;
        B3D_ForgetMenuTextures();
        B3D_FreeStore();
    }
    StandIn_ClearCalls();
    return 0;
}
