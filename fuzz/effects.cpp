// The "effects" types file: the input is its text. The table is loaded, then
// every effect it holds (at most 16) is played on a ship in a sector's scene
// and the ship is destroyed, for a few frames of the effect pass, so the
// player meets what the file says of sizes, times, cuts, lights and bursts.
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
#include "space/typesdb.h"

namespace {

constexpr int32_t kMaxPlayed = 16;
constexpr int32_t kFrames = 8;

void Play() {
    SectorObject* sector = O_AllocObject(SA_TypeCode(SA_MT_SECTOR, 0));
    Scene3D* scene = B3D_SceneAlloc();
    if (!sector || !scene) return;
    O_Sector(sector)->spaceScene = scene;
    SectorObject* ship = O_AllocObject(SA_TypeCode(SA_MT_SHIP, 0));
    if (!ship) return;
    if (!ship->instance) ship->instance = B3D_AllocInst();
    if (!ship->instance) return;
    ship->instance->size = ship->size = 65536;
    O_SetContainer(ship, sector);
    if (!ship->instance->scene) B3D_InstAddToScene(ship->instance, scene);
    int32_t played = 0;
    for (int32_t i = 0; i < EO_EFFECT_COUNT && played < kMaxPlayed; ++i) {
        if (!g_EffectTable.entries[i].partCount) continue;
        EO_AddObjectEffect(EO_KIND_IMPACT, i, i, ship, nullptr, 0, 0, nullptr, 0, nullptr);
        ++played;
    }
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
