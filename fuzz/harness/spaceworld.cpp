#include "fuzz/harness/spaceworld.h"

#include "base/memory.h"
#include "fuzz/harness/harness.h"
#include "scene/allocs.h"
#include "scene/records.h"
#include "space/create.h"
#include "space/objects.h"
#include "space/typesdb.h"

namespace {

constexpr int32_t kInstances = 8;
constexpr int32_t kScenes = 2;

void Ports(int32_t mainType, int32_t subType, int32_t n) {
    TypeRecord* t = SA_GetTypeRecord(mainType, subType);
    if (!t) return;
    t->dockPorts = static_cast<DockPortList*>(Int_AllocMem(sizeof(DockPortList), Int_MemTag(14) | INT_MEM_ZERO_TAIL));
    for (int32_t i = 0; t->dockPorts && i < n; ++i) SA_AppendDockPortEntry(t->dockPorts, DockPortEntry{i, i + 1, 0, 0});
}

}  // namespace

void Fuzz_OpenSpaceWorld(FuzzSpaceWorld* world) {
    Fuzz_NewSceneState();
    world->root = SpaceRoot{};
    world->saved = g_SpaceRoot;
    g_SpaceRoot = SA_Init(&world->root);
    for (int32_t m = 0; m < SA_MAIN_TYPE_COUNT; ++m)
        if (SA_TypesFileName(m)) SA_AppendTypeRecords(m, 2);
    if (TypeRecord* ship = SA_GetTypeRecord(SA_MT_SHIP, 0)) ship->field[SA_TF_SHIP_TURRET_COUNT] = 2;
    Ports(SA_MT_SHIP, 0, 1);
    Ports(SA_MT_DOCK, 0, 2);
    Ports(SA_MT_FACTORY, 0, 1);
    for (int32_t i = 0; i < kInstances; ++i) B3D_AllocInst();
    for (int32_t i = 0; i < kScenes; ++i) B3D_SceneAlloc();
}

void Fuzz_CloseSpaceWorld(FuzzSpaceWorld* world) {
    SA_ResetObjectDB(&world->root);
    g_SpaceRoot = world->saved;
    Fuzz_FreeSceneState();
}

FuzzCockpitObjects Fuzz_AddCockpitObjects() {
    FuzzCockpitObjects out{};
    out.sector = O_AllocObject(SA_TypeCode(SA_MT_SECTOR, 0));
    for (SectorObject*& ship : out.ships) {
        ship = O_AllocObject(SA_TypeCode(SA_MT_SHIP, 0));
        if (ship && out.sector) O_SetContainer(ship, out.sector);
    }
    if (Camera3D* camera = B3D_CameraAlloc()) out.camera = camera->inst.id;
    return out;
}
