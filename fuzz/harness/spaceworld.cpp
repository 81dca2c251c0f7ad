#include "fuzz/harness/spaceworld.h"

#include <algorithm>
#include <vector>

#include "base/ebm.h"
#include "base/general.h"
#include "base/memory.h"
#include "base/standin_calls.h"
#include "base/table.h"
#include "base/texcache.h"
#include "cockpit/cockpits.h"
#include "cockpit/overlay.h"
#include "cockpit/save.h"
#include "cockpit/update.h"
#include "fuzz/harness/harness.h"
#include "fuzz/harness/story.h"
#include "scene/allocs.h"
#include "scene/freeing.h"
#include "scene/names.h"
#include "scene/records.h"
#include "scene/state.h"
#include "scene/texdraw.h"
#include "scene/trees.h"
#include "script/context.h"
#include "script/interpreter.h"
#include "script/loader.h"
#include "script/tasks.h"
#include "script/values.h"
#include "space/create.h"
#include "space/objects.h"
#include "space/queries.h"
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

bool Fuzz_StartCallWorld(FuzzCallWorld* world, const std::string& storyText) {
    if (g_SpaceRoot) return false;
    world->image = Fuzz_StoryImage(storyText);
    if (world->image.empty()) __builtin_trap();
    g_SpaceRoot = SA_Init(&world->root);
    // Each input makes its own tables.
    Qel_TableFree(world->root.ids);
    Qel_TableFree(world->root.takes);
    world->root.ids = world->root.takes = nullptr;
    return true;
}

void Fuzz_BeginCallInput(FuzzCallWorld* world, SE_Context* ctx) {
    // The scene engine without a module of its own: the registry keeps the
    // numbers it gave out for the whole run.
    g_SEContext = nullptr;
    g_B3DState = B3D_InitStore();
    if (!g_B3DState || B3D_InitBodyIdTable() != 1 || B3D_InitCutIdTable() != 1) __builtin_trap();
    g_SEContext = ctx;
    world->root.ids = Qel_TableCreate();
    world->root.takes = Qel_TableCreate();
    std::vector<uint8_t> copy = world->image;
    if (!SB_LoadStoryImage(ctx, "fuzz", "fuzz", copy.data(), static_cast<uint32_t>(copy.size()))) __builtin_trap();
    SE_SetStepBudget(50000);
}

void Fuzz_EndCallInput(FuzzCallWorld* world, SE_Context* ctx) {
    SpaceRoot& root = world->root;
    // The objects are gone; the story's tasks may still ask for the player.
    root.game = SpaceGameWords{};
    SE_RunAllTasks();
    Fuzz_AnswerLater();
    SE_RunAllTasks();
    SE_SetStepBudget(-1);
    SB_FreeLocation(ctx);
    Fuzz_ForgetLater();
    Qel_TableFree(root.ids);
    Qel_TableFree(root.takes);
    root.ids = root.takes = nullptr;
    if (root.result.tag) SV_Release(&root.result);
    root.answerArrived = 0;
    J3D_FreeAllCuts();  // the store keeps the cuts it loaded
    B3D_FreeStore();
    g_B3DState = nullptr;
    StandIn_ClearObjectCalls();
    StandIn_ClearCalls();
    Fuzz_RemoveFile("sect.bin");
}

void Fuzz_CheckAnswered(SE_Context* ctx, const std::vector<uint32_t>& tasks) {
    for (uint32_t id : tasks)
        if (SE_Task* t = SE_FindTask(ctx, id))
            if (t->state == SE_TASK_WAITING && !t->answered) __builtin_trap();
}

std::vector<uint32_t> Fuzz_HeldTasks(const SpaceRoot& root, SE_Context* ctx) {
    std::vector<uint32_t> held;
    const auto ownModule = static_cast<uint32_t>(ctx->ownModule);
    for (uint32_t k = Qel_TableNext(root.ids, 0); k; k = Qel_TableNext(root.ids, k)) {
        const auto* o = reinterpret_cast<const SectorObject*>(Qel_TableGet(root.ids, k));
        if (o->callerModule == ownModule) held.push_back(o->callerHandle);
    }
    return held;
}

void Fuzz_GrowCockpitPools() {
    INS_NewCockpitSystem();
    for (int32_t i = 0; i < 320; ++i) INS_AddCockpit(g_CockpitSystem);
    INS_FreeCockpitSystem();
    std::vector<Inst3D*> insts;
    for (int32_t i = 0; i < 4000; ++i) insts.push_back(B3D_AllocInst());
    for (Inst3D* inst : insts) B3D_InstFree(inst);
    std::vector<SectorObject*> objects;
    for (int32_t i = 0; i < 400; ++i) objects.push_back(O_AllocObject(SA_TypeCode(SA_MT_SHIP, 0)));
    for (SectorObject* o : objects) O_DeleteSectorObject(o);
}

uint32_t Fuzz_MadeUpId(uint8_t b) {
    constexpr uint32_t kMadeUp[8] = {0, 1, 0x7ffffffe, 0x7fffffff, 0xffffffff, 12345, 2, 3};
    return kMadeUp[b & 7];
}

uint32_t Fuzz_PickId(uint8_t b, const std::vector<uint32_t>& ids) {
    return b < 0xF0 && !ids.empty() ? ids[b % ids.size()] : Fuzz_MadeUpId(b);
}

void Fuzz_NewSectorCamera(uint32_t* sceneId, uint32_t* cameraId) {
    Scene3D* scene = B3D_SceneAlloc();
    Camera3D* camera = B3D_CameraAlloc();
    if (!scene || !camera) __builtin_trap();
    B3D_SceneLinkInst(scene, camera);
    B3D_SceneEnable(scene);
    camera->aspect[0] = camera->aspect[1] = QEL_FIX_ONE;
    camera->viewport[1] = camera->viewport[3] = QEL_FIX_ONE;
    Qel_MatIdentity(&camera->inst.matrix);
    *sceneId = scene->id;
    *cameraId = camera->inst.id;
}

void Fuzz_FreeSectorCamera(uint32_t* sceneId, uint32_t* cameraId) {
    Inst3D* inst = *cameraId ? B3D_InstFind(*cameraId) : nullptr;
    if (inst && (inst->flags & INST_CAMERA)) B3D_CameraFree(reinterpret_cast<Camera3D*>(inst));
    if (Scene3D* scene = *sceneId ? B3D_SceneFind(*sceneId) : nullptr) B3D_SceneFree(scene);
    *sceneId = *cameraId = 0;
}

void Fuzz_SetOverlayIcons() {
    std::vector<B3DIconRow> rows = {{150, 0, 0, 0, 8, 6}, {185, 0, 0, 0, 4, 4}};
    for (int32_t id : INS_OVERLAY_BRACKET_ICONS) rows.push_back({id, 0, 0, 0, 20, 20});
    for (int32_t i = 0; i <= INS_OVERLAY_SHIELD_LEVELS; ++i)
        rows.push_back({INS_OVERLAY_SHIELD_ICON + i, 0, 0, 0, 10, 2});
    B3DIconList& list = g_B3DState->icons[0];
    list.rowCount = static_cast<int32_t>(rows.size());
    list.rows = static_cast<B3DIconRow*>(Int_AllocMem(rows.size() * sizeof(B3DIconRow), 0));
    if (!list.rows) __builtin_trap();
    std::copy(rows.begin(), rows.end(), list.rows);
    g_B3DState->screenWidth = 640;
    g_B3DState->screenHeight = 480;
}

SectorObject* Fuzz_AddSectorShip(SectorObject* sector) {
    SectorObject* ship = O_AllocObject(SA_TypeCode(SA_MT_SHIP, 0));
    if (!sector || !ship) __builtin_trap();
    Fuzz_PutInSector(sector, ship);
    O_RelationWords(ship)->foeMask = 1u << 1;
    return ship;
}

uint32_t Fuzz_AddSectorCockpit(SectorObject* sector, uint32_t camera, SectorObject* ship) {
    const uint32_t id = INS_AddCockpit(g_CockpitSystem);
    if (!id) return 0;
    Cockpit* c = INS_TableGet(g_CockpitSystem, id);
    c->sectorSpace = sector;
    c->sectorCamera = camera;
    c->refObject = c->cockpitRefObject = ship;
    c->viewMode = 1;
    c->monitorNumber = 0;
    return id;
}

void Fuzz_AdvanceGameClock(int32_t ms) {
    g_SystemState->gameFrameDelta = ms;
    g_SystemState->gameClock = (g_SystemState->gameClock + ms) % 32400000;
}

void Fuzz_CockpitFrame(int32_t ms) {
    Fuzz_AdvanceGameClock(ms);
    INS_UpdateAllCockpits();
}

void Fuzz_SaveLoadCockpits(const char* target) {
    const std::vector<uint8_t> saved = Fuzz_SaveSection(ID_Save);
    Fuzz_Check(INS_NewCockpitSystem() != nullptr, target, "no cockpit system");
    Fuzz_Check(Fuzz_LoadSection(ID_Load, saved.data(), saved.size()) == 1, target, "a saved section did not load");
}

void Fuzz_CockpitTextures(const std::vector<FuzzTexture>& textures, const std::vector<int32_t>& icons) {
    constexpr int32_t kSheet = 3;
    if (!Fuzz_OpenDevice()) __builtin_trap();
    TC_FreeTextureTables();
    g_TCNumberedCount = 70;
    g_TCNamedCount = 0;
    if (TC_AllocTextureTable()) __builtin_trap();
    B3D_ForgetMenuTextures();
    TC_SetTextureName(kSheet, "effects/menugfx/gui_master");
    std::vector<FuzzTexture> all = textures;
    all.push_back({kSheet, 64, 64});
    for (const FuzzTexture& t : all) {
        TC_TextureTable[t.slot].bitmap =
            GenerateEbm(static_cast<int16_t>(t.width), static_cast<int16_t>(t.height), 32, EBM_CHUNKY | EBM_NOSHADOW);
        if (!TC_TextureTable[t.slot].bitmap) __builtin_trap();
        TC_SetTextureFlags(t.slot, 0);
    }
    B3D_TexRectFill(kSheet, 0, 0, 64, 64, 0xFF80C0E0);
    B3DIconList& list = g_B3DState->icons[0];
    list.rowCount = static_cast<int32_t>(icons.size());
    list.rows = static_cast<B3DIconRow*>(Int_AllocMem(icons.size() * sizeof(B3DIconRow), 0));
    if (!list.rows) __builtin_trap();
    for (int32_t i = 0; i < list.rowCount; ++i) list.rows[i] = B3DIconRow{icons[i], 0, (i % 8) * 8, (i / 8) * 8, 5, 5};
}

void Fuzz_PutInSector(SectorObject* sector, SectorObject* o) {
    SA_ListAddTail(O_GetChildList(sector), o);
    o->container = sector;
}

void Fuzz_MoveObject(const SectorObject* sector, SectorObject* o, const QelVector& pos) {
    if (o && o != sector && o->instance) o->instance->pos = pos;
}

void Fuzz_KillOrFreeObject(SectorObject* sector, SectorObject* o, bool kill, uint32_t kept) {
    if (!o || o == sector || o->id == kept) return;
    if (kill) o->flags |= SA_FLAG_KILLED;
    else O_DeleteSectorObject(o);
    O_DeleteKilledChildren(sector);
}
