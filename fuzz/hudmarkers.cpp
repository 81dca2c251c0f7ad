// Random sequences of the HUD's marker step and of the drawing behind the
// symbol calls 63 and 64 on live, killed, freed and made-up cockpits and
// objects: the sector's objects added, moved (far out too), killed and freed
// between steps; the tracked object, the turrets' targets and points, the
// docking order and its target, object sizes, the sector camera's field of
// view and aspect, the view mode, monitor number and the sector's hiding flag
// set as no call would; the camera freed by the scene engine; whole frames,
// saves and loads (a new cockpit system) between. After every step the
// marker texture holds nothing but the markers' colours.
//
// Input: one byte per step (its value modulo 10 picks it), then its operands:
//   0  add a cockpit                       5  set: cockpit, what, object, value
//   1  free a cockpit: cockpit             6  the marker step: cockpit, HUD info
//   2  add an object: kind, x, y, z        7  call 63 or 64's drawing: which,
//   3  move an object: object, x, y, z        texture, object, values
//   4  kill (odd) or free an object:       8  a frame of the cockpits: ms / 13
//      object, then the killed are freed   9  camera gone, or save and load
// A cockpit or object byte below 0xF0 picks one of the IDs handed out so far
// (live or freed), above it a made-up ID.
#include <cstdint>
#include <vector>

#include "base/ebm.h"
#include "base/general.h"
#include "base/memory.h"
#include "base/standin_calls.h"
#include "base/texcache.h"
#include "cockpit/cockpits.h"
#include "cockpit/hud.h"
#include "cockpit/markers.h"
#include "cockpit/overlay.h"
#include "cockpit/save.h"
#include "cockpit/scenes.h"
#include "cockpit/update.h"
#include "fuzz/harness/harness.h"
#include "fuzz/harness/spaceworld.h"
#include "fuzz/harness/story.h"
#include "scene/allocs.h"
#include "scene/names.h"
#include "scene/state.h"
#include "scene/texdraw.h"
#include "scene/trees.h"
#include "space/objects.h"
#include "space/orders.h"
#include "space/queries.h"
#include "space/records.h"
#include "space/typesdb.h"

namespace {

constexpr int32_t kSaves = 4;
constexpr int32_t kTurrets = 3;

void Check(bool ok, const char* what) { Fuzz_Check(ok, "hudmarkers", what); }

struct World {
    std::vector<uint32_t> cockpits;
    std::vector<uint32_t> objects;
    SectorObject* sector = nullptr;
    uint32_t camera = 0;
};

uint32_t Pick(FuzzInput& in, const std::vector<uint32_t>& ids) { return Fuzz_PickId(in.next(), ids); }

Cockpit* PickCockpit(FuzzInput& in, const World& w) { return INS_TableGet(g_CockpitSystem, Pick(in, w.cockpits)); }

SectorObject* PickObject(FuzzInput& in, const World& w) {
    const uint32_t id = Pick(in, w.objects);
    return id ? SA_FindObjectByID(id) : nullptr;
}

// A coordinate from -128,000 to 127,000, now and then as far out as a word goes.
int32_t Coordinate(uint8_t b) {
    if ((b & 0x81) == 0x81) return (b & 2) ? 0x7fff0000 : -0x7fff0000;
    return static_cast<int8_t>(b) * 1000;
}

void NewCamera(World& w) {
    Camera3D* camera = B3D_CameraAlloc();
    if (!camera) __builtin_trap();
    camera->aspect[0] = camera->aspect[1] = QEL_FIX_ONE;
    camera->focus = 16384;
    Qel_MatIdentity(&camera->inst.matrix);
    w.camera = camera->inst.id;
}

void FreeCamera(World& w) {
    if (Camera3D* camera = IC_FindCamera(w.camera)) B3D_CameraFree(camera);
    w.camera = 0;
}

SectorObject* Ship(const World& w) { return SA_FindObjectByID(w.objects.front()); }

void Set(FuzzInput& in, World& w) {
    Cockpit* c = PickCockpit(in, w);
    const uint8_t what = in.next();
    SectorObject* o = PickObject(in, w);
    const uint8_t value = in.next();
    Camera3D* camera = IC_FindCamera(w.camera);
    ShipData* ship = O_ShipData(Ship(w));
    switch (what % 10) {
        case 0:
            if (c) c->viewMode = value & 7;
            break;
        case 1:
            if (c) c->monitorNumber = value % 3 - 1;
            break;
        case 2: reinterpret_cast<SectorSpace*>(w.sector)->spaceFlags = (value & 1) ? INS_SPACE_NO_OVERLAY : 0; break;
        case 3:
            if (camera) camera->focus = static_cast<int32_t>(value) * 512 - 1024;
            break;
        case 4:
            if (camera) camera->aspect[value & 1] = static_cast<int8_t>(value) * 1024;
            break;
        case 5:
            if (c) c->sectorCamera = (value & 1) ? w.camera : Fuzz_MadeUpId(value);
            break;
        case 6:
            if (c) c->trackedObject = o;
            break;
        case 7:
            if (ship && ship->turrets) {
                TurretSlot& t = ship->turrets[value % ship->turretCount];
                t.target = o;
                t.targetMode = (value >> 4) & 1;
                for (int32_t& p : t.targetPos) p = Coordinate(in.next());
            }
            break;
        case 8:
            if (ship) {
                ship->CourseType = (value & 1) ? VER_FLYINTO : VER_STOP;
                ship->OrderTarget = o;
                ship->OrderPos = QelVector{Coordinate(in.next()), Coordinate(in.next()), Coordinate(in.next()), 0};
            }
            break;
        default:
            if (o) o->size = (value & 0x80) ? 0x7fffffff : value * 100;
            break;
    }
}

// Nothing but the markers' colours, or nothing, is left in the marker texture.
void CheckMarkers() {
    const EBM* b = TC_TextureTable[INS_MARKER_TEXTURE].bitmap;
    for (int32_t y = 0; y < b->height; ++y)
        for (int32_t x = 0; x < b->width; ++x) {
            const uint8_t* at = b->plane0 + static_cast<size_t>(y) * b->bytesPerRow + static_cast<size_t>(x) * 4;
            const uint32_t p = (at[0] | at[1] << 8 | at[2] << 16) & 0xFFFFFFu;
            bool known = p == 0;
            for (uint32_t colour : {INS_MARKER_HOSTILE, INS_MARKER_PLAIN, INS_MARKER_TURRET, INS_MARKER_DOCK})
                known = known || p == (colour & 0xFFFFFF);
            Check(known, "a stray colour in the marker texture");
        }
}

// The marker texture, the radar and the target panel as memory bitmaps on the
// small device, and the icon sheet with the symbols' icons.
void Textures() {
    Fuzz_CockpitTextures({{INS_MARKER_TEXTURE, 65, 49}, {INS_RADAR_TEXTURE, 65, 65}, {INS_TARGET_TEXTURE, 64, 64}},
                         {150, 148, 149, 196, 185, 461, 464, 467, 469, 470, 471, 451, 452, 453, 162});
    // The first blit from the icon sheet keeps what it made.
    ID_DrawGObjectSymbol2(INS_RADAR_TEXTURE, SA_MT_SHIP, 0, 10, 20, 10, INS_SYMBOL_STEM);
}

void Setup() {
    static bool done = false;
    if (done) return;
    done = true;
    Fuzz_NewSceneState();
    static SpaceRoot root;
    g_SpaceRoot = SA_Init(&root);
    SA_AppendTypeRecords(SA_MT_SHIP, 1)->field[SA_TF_SHIP_TURRET_COUNT] = kTurrets;
    SA_AppendTypeRecords(SA_MT_SECTOR, 1);
    SA_AppendTypeRecords(SA_MT_DOCK, 1);
    SA_AppendTypeRecords(SA_MT_PLANET, 1);
    Textures();
    Fuzz_GrowCockpitPools();
}

void Draw(FuzzInput& in, const World& w) {
    const uint8_t which = in.next();
    const int32_t choices[4] = {INS_RADAR_TEXTURE, INS_TARGET_TEXTURE, -3, 999};
    const int32_t texture = choices[in.next() & 3];
    SectorObject* o = PickObject(in, w);
    int32_t values[6];
    // Small values, or values spread over the whole word.
    for (int32_t& v : values)
        v = static_cast<int32_t>(static_cast<uint32_t>(static_cast<int8_t>(in.next())) *
                                 ((which & 2) ? 1u : 0x1234567u));
    if (which & 1) INS_DrawObjectSymbol3D(o, texture, values[0], values[1], values[2], values[3]);
    else INS_DrawObjectSymbolCall(texture, values);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    Setup();
    SE_Context* ctx = Fuzz_ScriptContext();
    {
        FuzzMemoryGuard guard(ctx);
        if (!INS_NewCockpitSystem()) __builtin_trap();
        B3D_TexRectFill(INS_MARKER_TEXTURE, 0, 0, 65, 49, 0);
        World w;
        w.sector = O_AllocObject(SA_TypeCode(SA_MT_SECTOR, 0));
        NewCamera(w);
        w.objects.push_back(Fuzz_AddSectorShip(w.sector)->id);
        FuzzInput in{data, size};
        int32_t saves = 0;
        for (int32_t step = 0; step < 300 && in.more(); ++step) {
            switch (in.next() % 10) {
                case 0:
                    if (const uint32_t id = Fuzz_AddSectorCockpit(w.sector, w.camera, Ship(w)))
                        w.cockpits.push_back(id);
                    break;
                case 1: INS_FreeCockpit(g_CockpitSystem, Pick(in, w.cockpits)); break;
                case 2: {
                    const uint8_t kind = in.next();
                    const int16_t types[4] = {SA_MT_SHIP, SA_MT_DOCK, SA_MT_PLANET, SA_MT_SHIP};
                    SectorObject* o = O_AllocObject(SA_TypeCode(types[kind % 4], 0));
                    const int32_t x = Coordinate(in.next()), y = Coordinate(in.next()), z = Coordinate(in.next());
                    if (!o) break;
                    w.objects.push_back(o->id);
                    o->group = static_cast<int16_t>((kind >> 2) & 3);
                    if (kind & 0x40) o->flags |= 1u << 24;
                    if (o->instance) {
                        Qel_MatFromAngles(&o->instance->matrix, kind * 256, 0, 0);
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
                case 6: {
                    Cockpit* c = PickCockpit(in, w);
                    const int32_t info = in.next() & 7;
                    if (c) INS_DrawHudMarkers(c, info);
                    break;
                }
                case 7: Draw(in, w); break;
                case 8: Fuzz_CockpitFrame(in.next() * 13); break;
                default:
                    if (in.next() & 1) {
                        FreeCamera(w);
                        NewCamera(w);
                    } else if (++saves <= kSaves) {
                        Fuzz_SaveLoadCockpits("hudmarkers");
                    }
                    break;
            }
            CheckMarkers();
        }
        INS_FreeCockpitSystem();
        FreeCamera(w);
        SA_FreeAllObjects(g_SpaceRoot);
    }
    StandIn_ClearCalls();
    return 0;
}
