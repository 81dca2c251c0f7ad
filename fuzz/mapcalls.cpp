// Random sequences of the galaxy map's and the space dust's engine calls
// (60 find a sector, 61 build, 62 clear, 65 fill a dust scene, 66 move the
// dust) on live, freed and made-up scene, camera and object IDs, over a
// layout cut of the first six rows and a gate grid whose every sector has
// gates; the story's answers come from a salt the input sets, states and
// gate answers out of range among them, and its name writers call the map
// again (clear and build) while it is asked. Between the calls: scenes and
// cameras made and freed by the scene engine, frames of a cockpit whose dust
// camera and sector camera are picked, background records changed (counts,
// shares, weights, bodies that exist or not), the sector freed and made
// again, location resets, and saves of the scene section loaded back after a
// reset. Every call must answer at once with an integer or an array, and a
// scene must never hold more particles than its fills made, nor more than
// one map and the larger bodies asked for.
//
// Input: one byte per step (its value modulo 14 picks it), then its operands:
//   0  new scene with a camera: viewport, aspect   7  a cockpit frame: ms / 13
//   1  free a scene: scene                         8  save, reset and load
//   2  build: scene, four values, distance, zoom   9  salt: value
//   3  clear: scene                                10 background: which, value
//   4  find: scene, x, y                           11 cockpit cameras: dust, sector
//   5  fill dust: scene                            12 location reset
//   6  move dust: dust camera, object, camera      13 sector freed or made
// A scene, camera or object byte below 0xF0 picks one of the IDs handed out
// so far (live or freed), above it a made-up ID.
#include <map>
#include <string>
#include <vector>

#include <algorithm>
#include <cstdio>

#include "base/general.h"
#include "base/memory.h"
#include "base/standin_calls.h"
#include "cockpit/cockpits.h"
#include "cockpit/dust.h"
#include "cockpit/galaxy.h"
#include "cockpit/galaxymap.h"
#include "cockpit/scenes.h"
#include "cockpit/syscall.h"
#include "cockpit/update.h"
#include "fuzz/harness/harness.h"
#include "fuzz/harness/spaceworld.h"
#include "fuzz/harness/story.h"
#include "scene/allocs.h"
#include "scene/lists.h"
#include "scene/records.h"
#include "scene/savesection.h"
#include "scene/state.h"
#include "scene/trees.h"
#include "script/loader.h"
#include "script/tasks.h"
#include "space/objects.h"
#include "space/records.h"
#include "space/typesdb.h"
#include "tools/lib/bodyconv.h"
#include "tools/lib/cutconv.h"

void B3D_ReplayFreeAll();

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int32_t kSaves = 8;
constexpr int32_t kMapRows = 6;
constexpr int32_t kDustBodies[2] = {4001, 4002};

// Global 0 is the salt, global 1 the scene the name writers call the map on.
constexpr const char* kMapStory = R"(
    end
.var "Salt" int 0
.var "Scene" int 0
.func "ConvertSectorNameID" need 8
    getg 0
    pushw 64
    and
    jf done
    getg 1
    c1
    sys "INS_ClearGalaxyMap"
done:
    c0
    ret
.func "WriteGalaxyMapSectorName" need 8
    getg 0
    pushw 16
    and
    jf build
    getg 1
    c1
    sys "INS_ClearGalaxyMap"
build:
    getg 0
    pushw 32
    and
    jf end
    c0
    c0
    c0
    c0
    c0
    c0
    getg 1
    c7
    sys "INS_BuildGalaxyMap"
end:
    c0
    ret
.object 2100
.func "GetMapSectorState" need 8
    getl 4
    c3
    mul
    getl 6
    add
    getg 0
    add
    pushw 9
    mod
    c1
    sub
    ret
.func "GetMapGateState" need 8
    getl 4
    getl 6
    add
    getl 7
    add
    getg 0
    add
    c3
    mod
    c1
    sub
    ret
)";

void Check(bool ok, const char* what) { Fuzz_Check(ok, "mapcalls", what); }

struct World {
    std::vector<uint32_t> scenes;       // every scene ID handed out, live or freed
    std::vector<uint32_t> cameras;      // every camera ID handed out
    std::vector<uint32_t> objects;      // every sector ID handed out
    std::map<uint32_t, int32_t> fills;  // dust fills per scene ID
    uint32_t cockpit = 0;
    int32_t saves = 0;
};

uint32_t Pick(FuzzInput& in, const std::vector<uint32_t>& ids) { return Fuzz_PickId(in.next(), ids); }

void SetGlobal(int index, int32_t value) {
    ScriptValue& v = g_SEContext->objects[0].variables[index];
    SV_Release(&v);
    SV_AssignInt(&v, value);
}

// An engine call of module 10 with integer arguments; it must answer at once.
void Call(int32_t call, std::vector<int32_t> values) {
    SE_Task* task = SE_AllocTask(g_SEContext, 32);
    Check(task != nullptr, "no task");
    std::vector<ScriptValue> args(values.size());
    for (size_t i = 0; i < values.size(); ++i) SV_AssignInt(&args[i], values[i]);
    INS_SysCall(g_SEContext->ownModule, task, call, static_cast<int32_t>(args.size()), args.data());
    for (ScriptValue& v : args) SV_Release(&v);
    Check(task->answered, "a call left its task waiting");
    Check(task->callResult.tag == VARTYPE_INTEGER || task->callResult.tag == VARTYPE_ARRAY,
          "an answer neither an integer nor an array");
    SV_Release(&task->callResult);
    SE_RemoveTask(g_SEContext, task);
}

void NewScene(FuzzInput& in, World& w) {
    const uint8_t view = in.next(), aspect = in.next();
    Scene3D* scene = B3D_SceneAlloc();
    if (!scene) return;
    w.scenes.push_back(scene->id);
    SetGlobal(1, static_cast<int32_t>(scene->id));
    if (view & 0x80) return;  // a scene without a camera
    Camera3D* camera = B3D_CameraAlloc();
    if (!camera) return;
    w.cameras.push_back(camera->inst.id);
    camera->viewport[1] = (view & 0x3F) << 11;
    camera->viewport[3] = (view & 0x40) ? 0 : QEL_FIX_ONE;
    camera->aspect[0] = camera->aspect[1] = aspect << 9;
    B3D_SceneLinkInst(scene, camera);
}

// A scene holds the particles and lights of its dust fills, at most one map
// and no more larger bodies than were ever asked for.
void CheckScenes(const World& w) {
    for (uint32_t id : w.scenes) {
        const Scene3D* scene = IC_FindScene(id);
        if (!scene) continue;
        int32_t particles = 0, others = 0;
        for (const Inst3D* i = B3D_First<Inst3D>(&scene->insts); i; i = B3D_Next(i))
            ((i->flags & INS_DUST_PARTICLE_FLAGS) == INS_DUST_PARTICLE_FLAGS ? particles : others) += 1;
        const auto fills = w.fills.find(id);
        Check(particles <= (INS_DUST_PARTICLES + 1) * (fills == w.fills.end() ? 0 : fills->second),
              "a scene holds more particles than its fills made");
        Check(others <= GS_ROWS * GS_COLUMNS * (1 + ID_DRAWN_GATES) + 24, "a scene grew past one map and the dust");
    }
}

void Background(FuzzInput& in) {
    TypeRecord* bg = SA_GetTypeRecord(SA_MT_BACKGROUND, 0);
    const uint8_t which = in.next();
    const int8_t value = static_cast<int8_t>(in.next());
    switch (which % 5) {
        case 0: bg->field[SA_TF_BG_DUST_COUNT] = value % 24; break;
        case 1: bg->field[SA_TF_BG_STARDUST_DENSITY] = value * 2; break;
        case 2: bg->field[SA_TF_BG_DUST_RATES + (which >> 3) % 8] = value; break;
        case 3: {
            const int32_t bodies[4] = {kDustBodies[0], kDustBodies[1], 0, 4999};
            bg->field[SA_TF_BG_DUSTS + (which >> 3) % 8] = bodies[value & 3];
            break;
        }
        default: bg->field[SA_TF_BG_STARDUST_COLOUR + (which >> 3) % 3] = value; break;
    }
}

// The cockpit's frame moves the dust through its dust and sector cameras.
void CockpitCameras(FuzzInput& in, World& w) {
    Cockpit* c = INS_TableGet(g_CockpitSystem, w.cockpit);
    const uint32_t dust = Pick(in, w.cameras), sector = Pick(in, w.cameras);
    if (!c) return;
    c->dustCamera = dust;
    c->sectorCamera = sector;
}

void SectorStep(World& w) {
    Cockpit* c = INS_TableGet(g_CockpitSystem, w.cockpit);
    SectorObject* live = nullptr;
    for (uint32_t id : w.objects)
        if (SectorObject* o = SA_FindObjectByID(id)) live = o;
    if (live) {
        O_DeleteSectorObject(live);
        return;
    }
    SectorObject* sector = O_AllocObject(SA_TypeCode(SA_MT_SECTOR, 0));
    if (!sector) return;
    w.objects.push_back(sector->id);
    if (c) c->sectorSpace = c->refObject = sector;
}

void SaveAndLoad(World& w) {
    if (++w.saves > kSaves) return;
    const Bytes saved = Fuzz_SaveSection(B3D_SaveGame);
    B3D_ReplayFreeAll();
    Fuzz_LoadSection(B3D_LoadGame, saved.data(), saved.size());
}

void WriteGameFolder() {
    std::string body, error;
    if (!Tool_ModelToTextBody("v -1 -1 0\nv 1 -1 0\nv 0 1 0\nf 1 2 3\n", &body, &error)) __builtin_trap();
    for (int i = 0; i < ID_SECTOR_BODIES; ++i) {
        const std::string name = "v/effects/menugfx/galaxy_map_sector_" + std::to_string(i) + ".bod";
        Fuzz_WriteFile(name, reinterpret_cast<const uint8_t*>(body.data()), body.size());
    }
    for (int id : {kDustBodies[0], kDustBodies[1], ID_CONNECTION_BODY}) {
        char name[32];
        std::snprintf(name, sizeof name, "v/%05d.bod", id);
        Fuzz_WriteFile(name, reinterpret_cast<const uint8_t*>(body.data()), body.size());
    }
    // The first rows' sectors, and a connection toward each neighbour.
    std::string source;
    const auto path = [&](int32_t key, int32_t x, int32_t y) {
        const std::string at = std::to_string(x) + " " + std::to_string(y) + " 262144 0 0 0\n";
        source += "path " + std::to_string(key) + " -1\n  key 0x0 1000 " + at + "  key 0x0 -1 " + at;
    };
    for (int32_t r = 0; r < kMapRows; ++r)
        for (int32_t c = 0; c < GS_COLUMNS; ++c) {
            path(ID_SectorKey(r, c), c * 0x8000, r * 0x8000);
            for (int32_t dr = -1; dr <= 1; ++dr)
                for (int32_t dc = -1; dc <= 1; ++dc)
                    if (dr || dc)
                        path(ID_ConnectionKey(r, c, dr, dc), c * 0x8000 + dc * 0x4000, r * 0x8000 + dr * 0x4000);
        }
    std::string text;
    if (!Tool_CutSourceToText(source, &text, &error)) __builtin_trap();
    Fuzz_WriteFile("cut/effects/menugfx/galaxy_map.bod", reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// Every sector has gates toward its neighbours, slot 5 toward the far
// corner; some slots stay empty.
void FillGrid(GalaxyGrid* grid) {
    const int32_t steps[GS_GATES][2] = {{-1, 0}, {0, 1}, {1, 0}, {0, -1}, {1, 1}, {23, 19}};
    for (int32_t r = 0; r < GS_ROWS; ++r)
        for (int32_t c = 0; c < GS_COLUMNS; ++c)
            for (int32_t s = 0; s < GS_GATES; ++s) {
                GateSlot& g = grid->sectors[r * GS_COLUMNS + c].gates[s];
                const int32_t tr = s == 5 ? steps[s][0] : r + steps[s][0], tc = s == 5 ? steps[s][1] : c + steps[s][1];
                if ((r + c + s) % 7 == 0 || tr < 0 || tc < 0 || tr >= GS_ROWS || tc >= GS_COLUMNS) continue;
                g.targetRow = static_cast<int8_t>(tr);
                g.targetColumn = static_cast<int8_t>(tc);
                g.targetGate = static_cast<int16_t>((s + 2) % 4);
            }
}

void Setup() {
    static bool done = false;
    if (done) return;
    done = true;
    SE_Context* ctx = Fuzz_ScriptContext();
    static SpaceRoot root;
    g_SpaceRoot = SA_Init(&root);
    SA_AppendTypeRecords(SA_MT_SECTOR, 1);
    SA_AppendTypeRecords(SA_MT_BACKGROUND, 1);
    static GalaxyGrid grid{};
    if (GS_AllocGalaxy(&grid, GS_ROWS, GS_COLUMNS) != 1) __builtin_trap();
    FillGrid(&grid);
    g_GalaxyGrid = &grid;
    WriteGameFolder();
    INS_RegisterSysCalls();
    std::vector<uint8_t> image = Fuzz_StoryImage(kMapStory);
    if (image.empty() || !SB_LoadStoryImage(ctx, "mapcalls", "mapcalls", image.data(), image.size())) __builtin_trap();
    // The first run of each story function makes its code cache.
    SE_Run(0, 0, 2100, "GetMapSectorState", 1, 2, 0, 0);
    SE_Run(0, 0, 2100, "GetMapGateState", 1, 3, 0, 0, 0);
    SE_Run(0, 0, 0, "ConvertSectorNameID", 1, 2, 0, 0);
    SE_Run(0, 0, 0, "WriteGalaxyMapSectorName", 1, 4, 0, 0, 0, 0);
    // The most sectors an input can make grow the space root's ID table once.
    Fuzz_NewSceneState();
    std::vector<SectorObject*> sectors;
    for (int32_t i = 0; i < 220; ++i) sectors.push_back(O_AllocObject(SA_TypeCode(SA_MT_SECTOR, 0)));
    for (SectorObject* o : sectors) O_DeleteSectorObject(o);
    Fuzz_FreeSceneState();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    Setup();
    SE_Context* ctx = Fuzz_ScriptContext();
    {
        FuzzMemoryGuard guard(ctx);
        Fuzz_NewSceneState();
        g_B3DState->screenWidth = 640;
        g_B3DState->screenHeight = 480;
        Check(INS_NewCockpitSystem() != nullptr, "no cockpit system");
        TypeRecord* bg = SA_GetTypeRecord(SA_MT_BACKGROUND, 0);
        for (int32_t& f : bg->field) f = 0;
        bg->field[SA_TF_BG_STARDUST_DENSITY] = 50;
        World w;
        w.cockpit = INS_AddCockpit(g_CockpitSystem);
        SetGlobal(0, 0);
        FuzzInput in{data, size};
        for (int32_t step = 0; step < 200 && in.more(); ++step) {
            switch (in.next() % 14) {
                case 0: NewScene(in, w); break;
                case 1:
                    if (Scene3D* scene = IC_FindScene(Pick(in, w.scenes))) B3D_SceneFree(scene);
                    break;
                case 2: {
                    const int32_t scene = static_cast<int32_t>(Pick(in, w.scenes));
                    std::vector<int32_t> values{scene};
                    for (int i = 0; i < 4; ++i) values.push_back(static_cast<int8_t>(in.next()) % 30);
                    values.push_back(in.next16() * 64);
                    values.push_back(in.next16() * 4);
                    Call(61, values);
                    break;
                }
                case 3: Call(62, {static_cast<int32_t>(Pick(in, w.scenes))}); break;
                case 4: {
                    const int32_t scene = static_cast<int32_t>(Pick(in, w.scenes));
                    Call(60, {scene, in.next16(), in.next16()});
                    break;
                }
                case 5: {
                    const uint32_t scene = Pick(in, w.scenes);
                    if (IC_FindScene(scene) && g_CockpitSystem) ++w.fills[scene];
                    Call(65, {static_cast<int32_t>(scene)});
                    break;
                }
                case 6: {
                    const int32_t dust = static_cast<int32_t>(Pick(in, w.cameras));
                    const int32_t object = static_cast<int32_t>(Pick(in, w.objects));
                    Call(66, {dust, object, static_cast<int32_t>(Pick(in, w.cameras))});
                    break;
                }
                case 7: Fuzz_CockpitFrame(in.next() * 13); break;
                case 8: SaveAndLoad(w); break;
                case 9: SetGlobal(0, in.next()); break;
                case 10: Background(in); break;
                case 11: CockpitCameras(in, w); break;
                case 12: B3D_ReplayFreeAll(); break;
                default: SectorStep(w); break;
            }
            CheckScenes(w);
        }
        // The next input starts without a map.
        for (uint32_t id : w.scenes)
            if (Scene3D* scene = IC_FindScene(id)) ID_ClearGalaxyMap(scene);
        INS_FreeCockpitSystem();
        SA_FreeAllObjects(g_SpaceRoot);
        B3D_ReplayFreeAll();
        Fuzz_FreeSceneState();
    }
    StandIn_ClearCalls();
    return 0;
}
