// Random sequences of the target overlay's frame step on live, freed and
// made-up cockpits, with the sector's objects added, moved, killed and freed
// between steps; the sector camera's field of view, viewport and aspect, and
// the cockpit's view mode, monitor number, the sector's flags and the bracket
// switch set as no call would; the camera or its scene freed by the scene
// engine; tracking stepped through the entries and the overlay's hit tests;
// whole frames, saves and loads (a new cockpit system) between. After every
// step each overlay's entries fit its block, name no object twice, and
// every shown entry names an object of the sector.
//
// Input: one byte per step (its value modulo 10 picks it), then its operands:
//   0  add a cockpit                       5  set: cockpit, what, value
//   1  free a cockpit: cockpit             6  the overlay step: cockpit
//   2  add an object: kind, x, y, z        7  track prev/next and hit tests:
//   3  move an object: object, x, y, z        cockpit, direction, mode, x, y
//   4  kill (odd) or free an object:       8  a frame of the cockpits: ms / 13
//      object, then the killed are freed   9  camera gone, or save and load
// A cockpit or object byte below 0xF0 picks one of the IDs handed out so far
// (live or freed), above it a made-up ID.
#include <cstdint>
#include <set>
#include <vector>

#include "base/general.h"
#include "base/memory.h"
#include "base/standin_calls.h"
#include "cockpit/cockpits.h"
#include "cockpit/overlay.h"
#include "cockpit/save.h"
#include "cockpit/scenes.h"
#include "cockpit/tracking.h"
#include "cockpit/update.h"
#include "fuzz/harness/harness.h"
#include "fuzz/harness/spaceworld.h"
#include "fuzz/harness/story.h"
#include "scene/allocs.h"
#include "scene/state.h"
#include "scene/trees.h"
#include "space/objects.h"
#include "space/queries.h"
#include "space/records.h"
#include "space/typesdb.h"

namespace {

constexpr int32_t kSaves = 4;

void Check(bool ok, const char* what) { Fuzz_Check(ok, "overlaysteps", what); }

struct World {
    std::vector<uint32_t> cockpits;
    std::vector<uint32_t> objects;
    SectorObject* sector = nullptr;
    uint32_t scene = 0, camera = 0;
};

uint32_t Pick(FuzzInput& in, const std::vector<uint32_t>& ids) { return Fuzz_PickId(in.next(), ids); }

Cockpit* PickCockpit(FuzzInput& in, const World& w) { return INS_TableGet(g_CockpitSystem, Pick(in, w.cockpits)); }

SectorObject* PickObject(FuzzInput& in, const World& w) {
    const uint32_t id = Pick(in, w.objects);
    return id ? SA_FindObjectByID(id) : nullptr;
}

// A coordinate from -128,000 to 127,000, now and then far out.
int32_t Coordinate(uint8_t b) { return (b & 0x80) && (b & 1) ? 0x7fff0000 : (static_cast<int8_t>(b) * 1000); }

void NewCamera(World& w) { Fuzz_NewSectorCamera(&w.scene, &w.camera); }

void FreeCamera(World& w) { Fuzz_FreeSectorCamera(&w.scene, &w.camera); }

void Set(FuzzInput& in, World& w) {
    Cockpit* c = PickCockpit(in, w);
    const uint8_t what = in.next(), value = in.next();
    Camera3D* camera = IC_FindCamera(w.camera);
    auto* space = reinterpret_cast<SectorSpace*>(w.sector);
    switch (what % 8) {
        case 0:
            if (c) c->viewMode = value & 7;
            break;
        case 1:
            if (c) c->monitorNumber = value % 3 - 1;
            break;
        case 2: space->spaceFlags = (value & 1) ? INS_SPACE_NO_OVERLAY : 0; break;
        case 3: g_CockpitSystem->overlayBrackets = value & 1; break;
        case 4:
            if (camera) camera->focus = static_cast<int32_t>(value) * 512 - 1024;
            break;
        case 5:
            if (camera) camera->viewport[value & 3] = static_cast<int8_t>(value) * 1024;
            break;
        case 6:
            if (camera) camera->aspect[value & 1] = static_cast<int8_t>(value) * 1024;
            break;
        default:
            if (c) c->sectorCamera = (value & 1) ? w.camera : Fuzz_MadeUpId(value);
            break;
    }
}

void CheckOverlays(const World& w) {
    for (uint32_t id : INS_CockpitIds(g_CockpitSystem)) {
        const CockpitOverlayScene* o = INS_TableGet(g_CockpitSystem, id)->overlay;
        if (!o) continue;
        Check(o->entryCount >= 0 && o->entryCount <= o->entryCapacity, "entries past the block");
        std::set<uint32_t> seen;
        for (int32_t i = 0; i < o->entryCount; ++i) {
            const OverlayEntry& e = o->entries[i];
            if (!e.object) continue;
            Check(seen.insert(e.object).second, "an object listed twice");
            if (!e.shown) continue;
            const SectorObject* object = SA_FindObjectByID(e.object);
            Check(!object || object->container == w.sector, "a shown entry outside the sector");
        }
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
    SA_AppendTypeRecords(SA_MT_MISSILE, 1);
    SA_AppendTypeRecords(SA_MT_PLANET, 1);
    Fuzz_SetOverlayIcons();
    // The scene engine's ID tables and pools grow once to what the most
    // cockpits, entries and objects of an input need.
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
        World w;
        w.sector = O_AllocObject(SA_TypeCode(SA_MT_SECTOR, 0));
        NewCamera(w);
        w.objects.push_back(Fuzz_AddSectorShip(w.sector)->id);
        FuzzInput in{data, size};
        int32_t saves = 0;
        for (int32_t step = 0; step < 300 && in.more(); ++step) {
            switch (in.next() % 10) {
                case 0:
                    if (const uint32_t id =
                            Fuzz_AddSectorCockpit(w.sector, w.camera, SA_FindObjectByID(w.objects.front())))
                        w.cockpits.push_back(id);
                    break;
                case 1: INS_FreeCockpit(g_CockpitSystem, Pick(in, w.cockpits)); break;
                case 2: {
                    const uint8_t kind = in.next();
                    const int16_t types[4] = {SA_MT_SHIP, SA_MT_PLANET, SA_MT_MISSILE, SA_MT_SHIP};
                    SectorObject* o = O_AllocObject(SA_TypeCode(types[kind % 4], 0));
                    const int32_t x = Coordinate(in.next()), y = Coordinate(in.next()), z = Coordinate(in.next());
                    if (!o) break;
                    w.objects.push_back(o->id);
                    o->group = static_cast<int16_t>((kind >> 2) & 3);
                    if (o->instance) {
                        Qel_MatIdentity(&o->instance->matrix);
                        o->instance->pos = QelVector{x, y, z, 0};
                    }
                    if (!(kind & 0x80)) Fuzz_PutInSector(w.sector, o);
                    break;
                }
                case 3: {
                    SectorObject* o = PickObject(in, w);
                    const int32_t x = Coordinate(in.next()), y = Coordinate(in.next()), z = Coordinate(in.next());
                    Fuzz_MoveObject(w.sector, o, QelVector{x, y, z, 0});
                    break;
                }
                case 4: {
                    const uint8_t how = in.next();
                    SectorObject* o = PickObject(in, w);
                    Fuzz_KillOrFreeObject(w.sector, o, how & 1, w.objects.front());
                    break;
                }
                case 5: Set(in, w); break;
                case 6:
                    if (Cockpit* c = PickCockpit(in, w)) INS_UpdateTargetOverlay(c);
                    break;
                case 7: {
                    Cockpit* c = PickCockpit(in, w);
                    const int32_t direction = static_cast<int8_t>(in.next()), mode = in.next() % 4;
                    const int32_t x = in.next() * 3, y = in.next() * 2;
                    if (!c) break;
                    INS_TrackPrevNextCall(c, direction, mode);
                    int32_t out[5] = {};
                    INS_ObjectAtOverlay(c, x, y);
                    INS_MenuPosAtOverlay(c, x, y, out);
                    break;
                }
                case 8: Fuzz_CockpitFrame(in.next() * 13); break;
                default:
                    if (in.next() & 1) {
                        FreeCamera(w);
                        NewCamera(w);
                    } else if (++saves <= kSaves) {
                        Fuzz_SaveLoadCockpits("overlaysteps");
                    }
                    break;
            }
            CheckOverlays(w);
        }
        INS_FreeCockpitSystem();
        FreeCamera(w);
        SA_FreeAllObjects(g_SpaceRoot);
    }
    StandIn_ClearCalls();
    return 0;
}
