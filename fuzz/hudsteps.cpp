// Random sequences of a cockpit's instance, grid and overlay-record steps on
// live, freed and made-up cockpits: the grid switched by call 21, the target
// bodies by call 51, the view mode, the cockpit body's switch and the ship
// type's cockpit body, the grid body, the ship moved into a dock and back,
// the sector camera moved, turned, replaced or made up, objects added and
// freed, the scene engine freeing a slot's instance or a cockpit's scene or
// camera; single steps, whole frames, saves and loads between. After every
// step a cockpit with its grid off shows none, and a shown slot's instance
// stands in its cockpit's scene; after a frame no overlay marker shows while
// the target bodies are off.
//
// Input: one byte per step (its value modulo 10 picks it), then its operands:
//   0  add a cockpit                        5  one step: cockpit, which
//   1  free a cockpit: cockpit              6  a frame of the cockpits: ms / 13
//   2  add an object: kind, x, z            7  the sector camera: how, x, y, z
//   3  free an object: object               8  the scene engine frees: cockpit, what
//   4  set: cockpit, what, value            9  save and load
// A cockpit or object byte below 0xF0 picks one of the IDs handed out so far
// (live or freed), above it a made-up ID.
#include <cstdint>
#include <vector>

#include "base/general.h"
#include "base/memory.h"
#include "base/standin_calls.h"
#include "cockpit/cockpits.h"
#include "cockpit/hudsteps.h"
#include "cockpit/overlay.h"
#include "cockpit/panels.h"
#include "cockpit/save.h"
#include "cockpit/scenes.h"
#include "cockpit/update.h"
#include "fuzz/harness/harness.h"
#include "fuzz/harness/spaceworld.h"
#include "fuzz/harness/story.h"
#include "scene/allocs.h"
#include "scene/records.h"
#include "scene/state.h"
#include "scene/trees.h"
#include "space/objects.h"
#include "space/queries.h"
#include "space/records.h"
#include "space/typesdb.h"

namespace {

constexpr int32_t kSaves = 4;
constexpr int32_t kBodies[4] = {0, 603, 700, -1};

void Check(bool ok, const char* what) { Fuzz_Check(ok, "hudsteps", what); }

struct World {
    std::vector<uint32_t> cockpits;
    std::vector<uint32_t> objects;
    SectorObject* sector = nullptr;
    SectorObject* dock = nullptr;
    SectorObject* ship = nullptr;
    uint32_t scene = 0, camera = 0;
};

uint32_t Pick(FuzzInput& in, const std::vector<uint32_t>& ids) { return Fuzz_PickId(in.next(), ids); }

Cockpit* PickCockpit(FuzzInput& in, const World& w) { return INS_TableGet(g_CockpitSystem, Pick(in, w.cockpits)); }

// A coordinate from -128 to 127 grid cells and a little, now and then far out.
int32_t Coordinate(uint8_t b) {
    if ((b & 0x81) == 0x81) return (b & 2) ? INT32_MAX : INT32_MIN;
    return static_cast<int8_t>(b) * (INS_GRID_STEP / 2) + (b & 7);
}

void NewCamera(World& w) { Fuzz_NewSectorCamera(&w.scene, &w.camera); }

void FreeCamera(World& w) { Fuzz_FreeSectorCamera(&w.scene, &w.camera); }

void Set(FuzzInput& in, World& w) {
    Cockpit* c = PickCockpit(in, w);
    const uint8_t what = in.next(), value = in.next();
    switch (what % 8) {
        case 0:
            if (c) INS_SetGrid(c, value & 1 ? value : 0);
            break;
        case 1:
            if (c) INS_EnableTargetBodies(c, value & 1);
            break;
        case 2:
            if (c) c->viewMode = value & 7;
            break;
        case 3:
            if (c) c->cockpitBodyOn = value & 1;
            break;
        case 4: SA_GetTypeRecord(SA_MT_SHIP, 0)->field[SA_TF_SHIP_COCKPIT_BODY] = kBodies[value & 3]; break;
        case 5: g_CockpitSystem->gridBody = kBodies[value & 3]; break;
        case 6: w.ship->container = (value & 1) ? w.dock : w.sector; break;
        default:
            if (c) c->sectorCamera = (value & 1) ? w.camera : Fuzz_MadeUpId(value);
            break;
    }
}

void Step(FuzzInput& in, const World& w) {
    Cockpit* c = PickCockpit(in, w);
    const uint8_t which = in.next();
    if (!c) return;
    switch (which % 4) {
        case 0: INS_CockpitInstances(c); break;
        case 1: INS_GridStep(c); break;
        case 2: INS_OverlayRecordsStep(c); break;
        default: INS_UpdateTargetOverlay(c); break;
    }
}

void Camera(FuzzInput& in, World& w) {
    const uint8_t how = in.next();
    const int32_t x = Coordinate(in.next()), y = Coordinate(in.next()), z = Coordinate(in.next());
    Camera3D* camera = IC_FindCamera(w.camera);
    if (how % 3 == 0) {
        FreeCamera(w);
        NewCamera(w);
    } else if (camera && how % 3 == 1) {
        camera->inst.pos = QelVector{x, y, z, 0};
    } else if (camera) {
        Qel_MatFromAngles(&camera->inst.matrix, x, y, z);
    }
}

void SceneFrees(FuzzInput& in, const World& w) {
    Cockpit* c = PickCockpit(in, w);
    const uint8_t what = in.next();
    if (!c) return;
    Inst3D* inst = nullptr;
    switch (what % 5) {
        case 0: inst = IC_FindInst(c->gridSlot.inst); break;
        case 1: inst = IC_FindInst(c->hudParts[INS_HUD_COCKPIT_BODY].inst); break;
        case 2:
            if (c->overlay && c->overlay->entryCount) inst = IC_FindInst(c->overlay->entries[0].icon.inst);
            break;
        case 3:
            if (Scene3D* scene = IC_Scene(c)) B3D_SceneFree(scene);
            break;
        default:
            if (Camera3D* camera = IC_Camera(c)) B3D_CameraFree(camera);
            break;
    }
    if (inst) B3D_InstFree(inst);
}

void CheckSlot(const Cockpit* c, const InstSlot& slot) {
    const Inst3D* inst = IC_FindInst(slot.inst);
    if (slot.state && inst) Check(inst->scene == IC_Scene(c), "a shown slot outside its cockpit's scene");
}

void CheckCockpits(bool afterFrame) {
    for (uint32_t id : INS_CockpitIds(g_CockpitSystem)) {
        const Cockpit* c = INS_TableGet(g_CockpitSystem, id);
        if (!c->gridOn) Check(!c->gridSlot.state, "a grid shown while it is off");
        CheckSlot(c, c->gridSlot);
        CheckSlot(c, c->hudParts[INS_HUD_COCKPIT_BODY]);
        const CockpitOverlayScene* o = c->overlay;
        if (!afterFrame || !o || !c->panels || c->panels->targets.enable) continue;
        for (int32_t i = 0; i < o->entryCount; ++i)
            Check(!o->entries[i].icon.state && !o->entries[i].bracket.state && !o->entries[i].shield.state,
                  "a marker shown while the target bodies are off");
    }
}

void Setup() {
    static bool done = false;
    if (done) return;
    done = true;
    Fuzz_NewSceneState();
    static SpaceRoot root;
    g_SpaceRoot = SA_Init(&root);
    SA_AppendTypeRecords(SA_MT_SHIP, 1);
    SA_AppendTypeRecords(SA_MT_SECTOR, 1);
    SA_AppendTypeRecords(SA_MT_PLANET, 1);
    Fuzz_SetOverlayIcons();
    Fuzz_GrowCockpitPools();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    Setup();
    SE_Context* ctx = Fuzz_ScriptContext();
    {
        FuzzMemoryGuard guard(ctx);
        if (!INS_NewCockpitSystem()) __builtin_trap();
        SA_GetTypeRecord(SA_MT_SHIP, 0)->field[SA_TF_SHIP_COCKPIT_BODY] = 0;
        World w;
        w.sector = O_AllocObject(SA_TypeCode(SA_MT_SECTOR, 0));
        w.dock = O_AllocObject(SA_TypeCode(SA_MT_DOCK, 0));
        if (!w.dock) __builtin_trap();
        w.ship = Fuzz_AddSectorShip(w.sector);
        NewCamera(w);
        FuzzInput in{data, size};
        int32_t saves = 0;
        for (int32_t step = 0; step < 300 && in.more(); ++step) {
            bool frame = false;
            switch (in.next() % 10) {
                case 0:
                    if (const uint32_t id = Fuzz_AddSectorCockpit(w.sector, w.camera, w.ship)) w.cockpits.push_back(id);
                    break;
                case 1: INS_FreeCockpit(g_CockpitSystem, Pick(in, w.cockpits)); break;
                case 2: {
                    const uint8_t kind = in.next();
                    SectorObject* o = O_AllocObject(SA_TypeCode(kind & 1 ? SA_MT_SHIP : SA_MT_PLANET, 0));
                    const int32_t x = Coordinate(in.next()), z = Coordinate(in.next());
                    if (!o) break;
                    w.objects.push_back(o->id);
                    o->group = static_cast<int16_t>((kind >> 1) & 1);
                    if (o->instance) {
                        Qel_MatIdentity(&o->instance->matrix);
                        o->instance->pos = QelVector{x, 0, z, 0};
                    }
                    Fuzz_PutInSector(w.sector, o);
                    break;
                }
                case 3: {
                    const uint32_t id = Pick(in, w.objects);
                    if (SectorObject* o = id ? SA_FindObjectByID(id) : nullptr; o && o != w.ship && o != w.sector)
                        O_DeleteSectorObject(o);
                    break;
                }
                case 4: Set(in, w); break;
                case 5: Step(in, w); break;
                case 6:
                    Fuzz_CockpitFrame(in.next() * 13);
                    frame = true;
                    break;
                case 7: Camera(in, w); break;
                case 8: SceneFrees(in, w); break;
                default:
                    if (++saves <= kSaves) Fuzz_SaveLoadCockpits("hudsteps");
                    break;
            }
            CheckCockpits(frame);
        }
        INS_FreeCockpitSystem();
        FreeCamera(w);
        w.ship->container = w.sector;
        SA_FreeAllObjects(g_SpaceRoot);
    }
    StandIn_ClearCalls();
    return 0;
}
