// Random sequences of the cockpit module's calls on live, freed and made-up
// cockpit, object and camera IDs: cockpits made and freed, their references
// set to objects that are then freed, the active control cockpit, view modes
// and cockpit numbers, hit shakes, the cockpit of a ship, reference removal,
// engine calls of module 10 with fewer or more arguments than they read,
// frames of the cockpits' update, story cameras and the cockpits' own scenes
// freed by the scene engine, control-matrix bindings, frames of steering
// from random input, texts on the ticker, alerts and missile alerts, the
// scanner list (with story code that frees a cockpit mid-walk), the radar,
// the target panel and object symbols drawn into the HUD's textures, with
// saves, loads (a new cockpit system) and clears between. After every step
// each cockpit reference must lead to a live object, each turret of the
// steering to a live cockpit or none, and no ship may be asked for less than
// full reverse; a task left waiting on a text must be answered by the time
// its cockpit system is gone.
//
// Input: one byte per step (its value modulo 16 picks it; 0xF8 and above pick
// 16 plus its low two bits), then its operands:
//   0  add a cockpit              7  the cockpit of a ship: object
//   1  free a cockpit: cockpit    8  a frame of steering: 24 input bytes
//   2  add an object: kind, place 9  an engine call: call, cockpit, shape
//   3  free an object: object        (argument count 0-12), a kind byte (and
//   4  set a reference: cockpit,     its pick or entries) per argument after the first
//      which, object              10 save, and load into a new system
//   5  set a field: cockpit, which, value   11 remove references: object
//   6  a hit: object, two level bytes       12 clear all cockpits
//   14 a frame of the cockpits: ms / 13     13 bind: code, action, flags
//   15 scene records: what, (camera or cockpit)
//   16 the ticker: cockpit, what, ms / 13
//   17 alerts: player object, what (a missile aimed at it, a known object), object
//   18 HUD frame: cockpit, mode, range, tracking mode, unit display
//   19 a symbol: texture, main type, subtype, x, y2, y, three flag bytes
// A cockpit, object or camera byte below 0xF0 picks one of the IDs handed
// out so far (live or freed), above it a made-up ID.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/general.h"
#include "base/memory.h"
#include "base/standin_calls.h"
#include "base/ebm.h"
#include "base/texcache.h"
#include "cockpit/cockpits.h"
#include "cockpit/hud.h"
#include "cockpit/syscall.h"
#include "cockpit/ticker.h"
#include "cockpit/controlmatrix.h"
#include "cockpit/iconmenus.h"
#include "cockpit/scenes.h"
#include "cockpit/save.h"
#include "cockpit/steering.h"
#include "cockpit/update.h"
#include "fuzz/harness/harness.h"
#include "fuzz/harness/spaceworld.h"
#include "fuzz/harness/story.h"
#include "program/gameloop.h"
#include "program/main.h"
#include "program/shell.h"
#include "scene/allocs.h"
#include "scene/trees.h"
#include "scene/names.h"
#include "scene/records.h"
#include "scene/state.h"
#include "scene/texdraw.h"
#include "script/loader.h"
#include "script/modules.h"
#include "script/arrays.h"
#include "script/tasks.h"
#include "space/objects.h"
#include "space/queries.h"
#include "space/typesdb.h"
#include "system/entry.h"
#include "system/input.h"
#include "system/window.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int32_t kSaves = 12;

// Object 2100 of the steering: "TranslateKey" gives 520 plus the code's low
// six bits (so keys land on the steering codes), "Input" answers 0,
// "CheckEquipment" 1; the notifications answer 0.
constexpr const char* kSteeringStory = R"(
.object 2100
.func "TranslateKey" need 4
    getl 4
    pushw 63
    and
    pushw 520
    add
    ret
.func "Input" need 2
    c0
    ret
.func "CheckEquipment" need 2
    c1
    ret
.func "SetAutopilot" need 2
    c0
    ret
.func "InputAction" need 2
    c0
    ret
.func "StopFastForward" need 2
    c0
    ret
.func "InputMouseDelta" need 2
    c0
    ret
.func "GetScannerRange" need 2
    pushl 3000000
    ret
.func "SetKnown" need 4
    pushw 1
    pushw 1
    sys "INS_CockpitFree"
    ret
)";

void Check(bool ok, const char* what) { Fuzz_Check(ok, "cockpitcalls", what); }

struct World {
    std::vector<uint32_t> cockpits;  // every cockpit ID handed out, live or freed
    std::vector<uint32_t> objects;   // every object ID handed out
    std::vector<uint32_t> cameras;   // every story camera ID handed out
    std::vector<SE_Task*> waiting;   // tasks a text display left waiting
    InputState input{};
};

uint32_t Pick(FuzzInput& in, const std::vector<uint32_t>& ids) { return Fuzz_PickId(in.next(), ids); }

SectorObject* PickObject(FuzzInput& in, const World& w) {
    const uint32_t id = Pick(in, w.objects);
    return id ? SA_FindObjectByID(id) : nullptr;
}

Cockpit* PickCockpit(FuzzInput& in, const World& w) { return INS_TableGet(g_CockpitSystem, Pick(in, w.cockpits)); }

// Every icon menu's items name the menu that holds them, and a tree stays small.
void CheckMenus(const IconMenu* m, int32_t depth) {
    Check(depth < 16, "an icon menu nests too deep");
    for (const IconMenuItem* it = m ? m->items : nullptr; it; it = it->next) {
        Check(it->menu == m, "an item names another menu");
        CheckMenus(it->subMenu, depth + 1);
    }
}

// Every object a cockpit holds is alive; every turret names a live cockpit or none.
void CheckReferences() {
    for (uint32_t id : INS_CockpitIds(g_CockpitSystem)) {
        const Cockpit* c = INS_TableGet(g_CockpitSystem, id);
        for (const SectorObject* o :
             {c->refObject, c->cockpitRefObject, c->secondObject, c->trackedObject, c->refViewObject, c->sectorSpace})
            Check(!o || (o->magic == SA_OBJECT_MAGIC && SA_FindObjectByID(o->id) == o),
                  "a reference outlived its object");
    }
    for (uint32_t id : INS_CockpitIds(g_CockpitSystem))
        for (const IconMenu* m = INS_TableGet(g_CockpitSystem, id)->menus; m; m = m->next) CheckMenus(m, 0);
    for (const TurretChannel& t : g_SteeringState.turret)
        Check(t.cockpitId == 0 || INS_TableGet(g_CockpitSystem, t.cockpitId), "a turret names a freed cockpit");
}

void AddObject(FuzzInput& in, World& w) {
    const uint8_t kind = in.next(), place = in.next();
    const int16_t mainTypes[4] = {SA_MT_SHIP, SA_MT_SHIP, SA_MT_SECTOR, SA_MT_DOCK};
    SectorObject* o = O_AllocObject(SA_TypeCode(mainTypes[kind % 4], 0));
    if (!o) return;
    w.objects.push_back(o->id);
    // Objects are made with their instance; some steer without one.
    if (!(kind & 4) && o->instance) {
        B3D_InstFree(o->instance);
        o->instance = nullptr;
    }
    if (o->instance) Qel_MatIdentity(&o->instance->matrix);
    if (o->mainType == SA_MT_SHIP && (kind & 8)) o->flags |= SA_FLAG_AUTOPILOT;
    // Into a container when the pick is one.
    SectorObject* container =
        place < 0xF0 && !w.objects.empty() ? SA_FindObjectByID(w.objects[place % w.objects.size()]) : nullptr;
    if (container && container != o && SA_IsContainerType(container->mainType) && o->mainType != SA_MT_SECTOR &&
        !SA_IsContainerType(o->mainType)) {
        SA_ListAddTail(O_GetChildList(container), o);
        o->container = container;
    }
}

void SetReference(FuzzInput& in, World& w) {
    Cockpit* c = PickCockpit(in, w);
    const uint8_t which = in.next();
    SectorObject* o = PickObject(in, w);
    if (!c) return;
    switch (which % 6) {
        case 0: c->refObject = o; break;
        case 1: c->cockpitRefObject = o; break;
        case 2: c->secondObject = o; break;
        case 3: c->trackedObject = o; break;
        case 4: c->refViewObject = o; break;
        default:
            if (!o || o->mainType == SA_MT_SECTOR) c->sectorSpace = o;
            break;
    }
}

void SetField(FuzzInput& in, World& w) {
    Cockpit* c = PickCockpit(in, w);
    const uint8_t which = in.next();
    const int8_t value = static_cast<int8_t>(in.next());
    if (which % 5 == 4) {
        if (g_CockpitSystem)
            g_CockpitSystem->activeControl =
                static_cast<int32_t>(c ? c->id : Fuzz_MadeUpId(static_cast<uint8_t>(value)));
        return;
    }
    if (!c) return;
    switch (which % 5) {
        case 0: c->viewMode = value & 7; break;
        case 1: IC_SetCockpitNumber(c, value % 9); break;
        case 2: c->monitorNumber = value % 3; break;
        default:
            c->viewAngles[1] = value * 300;
            c->viewAngleSpeeds[2] = value * 1000;
            break;
    }
}

void SteeringFrame(FuzzInput& in, World& w) {
    InputState& i = w.input;
    const uint32_t flagBits[] = {INPUT_JOYSTICK,
                                 INPUT_STICK_ANALOG,
                                 INPUT_STICK_DIGITAL,
                                 INPUT_JOYSTICK2,
                                 INPUT_THROTTLE_ANALOG,
                                 INPUT_POV,
                                 INPUT_POV_READ,
                                 INPUT_RUDDER,
                                 INPUT_RUDDER_RANGED,
                                 INPUT_TWIST,
                                 0x20,
                                 0x80,
                                 0x800000};
    const uint16_t flags = static_cast<uint16_t>(in.next() | in.next() << 8);
    i.flags = 0;
    for (size_t b = 0; b < std::size(flagBits); ++b)
        if (flags & (1u << b)) i.flags |= flagBits[b];
    i.flags2 = in.next() & 0x14;
    const int32_t axis = in.next16() * 2;
    i.joyX = axis;
    i.joyY = in.next16() * 2;
    i.throttle = i.secondY = axis / 3;
    i.twist = -axis;
    i.rudder = in.next16() * 2;
    i.pov = in.next() * 4500 / 8;
    i.joyButtons = in.next() | (static_cast<uint32_t>(in.next()) << 24);
    i.mouseButtons = in.next() & 3;
    i.mouseDX = static_cast<int8_t>(in.next());
    i.mouseDY = static_cast<int8_t>(in.next());
    i.mouseDZ = static_cast<int8_t>(in.next()) / 64;
    i.shiftDown = in.next() & 1;
    std::memset(i.keyDown, 0, sizeof i.keyDown);
    for (int k = 0; k < 3; ++k) i.keyDown[(in.next() | in.next() << 8) % STS_KEYS] = 1;
    const uint8_t mode = in.next();
    g_SystemState->inputModeMask = mode & 3;
    g_SystemState->gameFrameDelta = (mode >> 2) * 37;
    g_SystemState->gameTimeScale = (mode & 0x80) ? 0x20000 : 0x10000;
    g_SystemState->realClock = (g_SystemState->realClock + 377) % 32400000;
    g_SystemState->gameClock = (g_SystemState->gameClock + g_SystemState->gameFrameDelta) % 32400000;
    const int32_t enable = (mode & 0x40) ? 0 : 1;

    SA_UpdateSpace();
    SA_DeleteKilledObjects();
    g_KeyHandled = 0;
    STS_Set(INS_SteeredShip(), enable);
    for (uint32_t id : w.objects)
        if (const SectorObject* o = SA_FindObjectByID(id))
            Check(o->desiredSpeed >= -5000, "a desired speed below full reverse");
}

// An entries array of an icon menu: elements of 2 to 5 values, the fourth
// an icon or an array of up to 8 icons, item flags with run bits.
void EntriesArg(FuzzInput& in, ScriptValue* out) {
    const int32_t n = in.next() % 9;
    SV_ArrayAlloc(out, n);
    for (int32_t i = 0; i < n; ++i) {
        const uint8_t shape = in.next();
        const int32_t values = 2 + shape % 4;
        ScriptValue e{};
        SV_ArrayAlloc(&e, values);
        SV_ArrayWriteInt(&e, 0, in.next() % 6);
        SV_ArrayWriteInt(&e, 1, static_cast<int32_t>(in.next()) << 10);
        for (int32_t k = 2; k < values; ++k) {
            if (k == 3 && (shape & 0x10)) {
                ScriptValue icons{};
                const int32_t m = in.next() % 9;
                SV_ArrayAlloc(&icons, m);
                for (int32_t j = 0; j < m; ++j) SV_ArrayWriteInt(&icons, j, in.next());
                SV_ArrayWrite(&e, k, &icons);
                SV_Release(&icons);
            } else {
                SV_ArrayWriteInt(&e, k, in.next());
            }
        }
        SV_ArrayWrite(out, i, &e);
        SV_Release(&e);
    }
}

// An engine call of module 10 with 0 to 12 arguments, each an integer, a
// text, a cockpit, an object or a camera ID (live, freed or made up), or an
// entries array.
void EngineCall(FuzzInput& in, World& w) {
    const uint8_t b = in.next();
    const int32_t call = b < 0xE0 ? b % 132 : -1 - (b & 0xF) * 7 + ((b & 0x10) ? 200 : 0);
    const uint32_t cockpit = Pick(in, w.cockpits);
    const uint8_t shape = in.more() ? in.next() : 2;
    const int32_t argc = shape % 13;
    SE_Task* task = SE_AllocTask(g_SEContext, 32);
    Check(task != nullptr, "no task");
    ScriptValue args[12]{};
    for (int32_t i = 0; i < argc; ++i) {
        const uint8_t kind = i == 0 ? 0 : in.next();
        switch (kind & 7) {
            case 0: SV_AssignInt(&args[i], static_cast<int32_t>(cockpit)); break;
            case 1: SV_AssignInt(&args[i], static_cast<int32_t>(Pick(in, w.objects))); break;
            case 2: SV_AssignInt(&args[i], static_cast<int32_t>(Pick(in, w.cameras))); break;
            case 3: SV_AssignString(&args[i], "text"); break;
            case 4: SV_AssignInt(&args[i], static_cast<int32_t>(Pick(in, w.cockpits))); break;
            case 5: EntriesArg(in, &args[i]); break;
            default: SV_AssignInt(&args[i], static_cast<int8_t>(kind) * 131); break;
        }
    }
    INS_SysCall(g_SEContext->ownModule, task, call, argc, args);
    for (ScriptValue& v : args) SV_Release(&v);
    if (!task->answered) {
        // Only a text display waits: until its text has passed.
        Check(call == 20, "a call left its task waiting");
        w.waiting.push_back(task);
        return;
    }
    Check(task->callResult.tag == VARTYPE_INTEGER || task->callResult.tag == VARTYPE_ARRAY,
          "an answer neither an integer nor an array");
    SV_Release(&task->callResult);
    SE_RemoveTask(g_SEContext, task);
}

// Scene records the cockpits hold by ID come and go: a story camera made or
// freed, a cockpit's own scene or camera freed by the scene engine.
void SceneRecords(FuzzInput& in, World& w) {
    const uint8_t what = in.next();
    switch (what % 4) {
        case 0:
            if (Camera3D* camera = B3D_CameraAlloc()) w.cameras.push_back(camera->inst.id);
            break;
        case 1:
            if (Camera3D* camera = IC_FindCamera(Pick(in, w.cameras))) B3D_CameraFree(camera);
            break;
        case 2:
            if (Cockpit* c = PickCockpit(in, w)) B3D_SceneFree(IC_Scene(c));
            break;
        default:
            if (Cockpit* c = PickCockpit(in, w)) B3D_CameraFree(IC_Camera(c));
            break;
    }
}

// The ticker of a cockpit: a text queued, cleared or set as the static text,
// then a step of the ticker after some time.
void TickerStep(FuzzInput& in, World& w) {
    Cockpit* c = PickCockpit(in, w);
    const uint8_t what = in.next();
    const int32_t ms = in.next() * 13;
    if (!c) return;
    const char* texts[4] = {"", " ", "!!! ! !!", "a longer text that takes its time to pass the band"};
    switch (what % 4) {
        case 0: INS_DisplayText(texts[(what >> 2) & 3], c, 0, 0, 0); break;
        case 1: INS_DisplayText(nullptr, c, 0, 0, 0); break;
        case 2: INS_SetStaticText(c, (what & 4) ? nullptr : texts[(what >> 3) & 3]); break;
        default: INS_ClearText(c); break;
    }
    g_SystemState->gameClock = (g_SystemState->gameClock + ms) % 32400000;
    INS_CheckText(c);
}

// The alert check and the missile alert around a player's ship, with a
// missile aimed at it or an object made known to the story.
void AlertStep(FuzzInput& in, World& w) {
    SectorObject* player = PickObject(in, w);
    const uint8_t what = in.next();
    SectorObject* o = PickObject(in, w);
    g_SpaceRoot->game.playerObject = player;
    if ((what & 1) && player && player->container) {
        if (SectorObject* m = O_AllocObject(SA_TypeCode(SA_MT_MISSILE, 0))) {
            w.objects.push_back(m->id);
            m->group = static_cast<int16_t>(what >> 4);
            if (MissileData* data = O_MissileData(m)) data->target = (what & 2) ? player : o;
            if (QelList* list = O_GetChildList(player->container)) {
                SA_ListAddTail(list, m);
                m->container = player->container;
            }
            INS_NotifyMissileAlert(m);
        }
    }
    if ((what & 4) && o) {
        o->flags |= 8;
        o->eventObject = (what & 8) ? 2100 : 0;
    }
    if (o && player && o->instance && player->instance) o->instance->pos.z = player->instance->pos.z + what * 40000;
    INS_NotifyMissileAlert(o);
    INS_CheckAlert();
    g_SpaceRoot->game.playerObject = nullptr;
}

// The scanner list, radar and target panel of a cockpit, on whatever its
// cockpit ref object is.
void HudFrame(FuzzInput& in, World& w) {
    Cockpit* c = PickCockpit(in, w);
    const uint8_t mode = in.next();
    const int32_t range = static_cast<int8_t>(in.next()) * 400000;
    const uint8_t tracking = in.next(), units = in.next();
    if (!c) return;
    c->radarMode = mode & 1;
    c->radarRange = range;
    c->trackingMode = static_cast<int16_t>(tracking % 5);
    g_CockpitSystem->unitDisplay = units & 1;
    g_SystemState->gameFrameDelta = mode * 7;
    const uint32_t id = c->id;
    INS_BuildScannerList(c);
    if (INS_TableGet(g_CockpitSystem, id) != c) return;
    INS_BuildRadar(c, c->cockpitRefObject);
    INS_DrawTargetPanel(c, c->cockpitRefObject);
}

void SymbolStep(FuzzInput& in) {
    const int32_t textures[4] = {INS_RADAR_TEXTURE, INS_TARGET_TEXTURE, -3, 7};
    const int32_t texture = textures[in.next() & 3];
    const int32_t mainType = static_cast<int8_t>(in.next()) % 24, subType = static_cast<int8_t>(in.next());
    const int32_t x = static_cast<int8_t>(in.next()), y2 = static_cast<int8_t>(in.next());
    const int32_t y = static_cast<int8_t>(in.next());
    const uint32_t flags = in.next() | in.next() << 8 | in.next() << 16;
    ID_DrawGObjectSymbol2(texture, mainType, subType, x * 2, y2 * 2, y * 2, flags);
}

// A 1-bit BMP of the font grid: 16 cells of 16 x 13 per row from ' ', two
// rows, every other column inked.
std::vector<uint8_t> FontImage() {
    const int32_t w = 256, h = 26, rowBytes = w / 8;
    std::vector<uint8_t> out(62 + rowBytes * h, 0);
    const auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    out[0] = 'B', out[1] = 'M';
    put32(2, static_cast<uint32_t>(out.size()));
    put32(10, 62);
    put32(14, 40);
    put32(18, w);
    put32(22, h);
    out[26] = 1;
    out[28] = 1;
    put32(46, 2);
    put32(58, 0xFFFFFF);
    for (int32_t i = 0; i < rowBytes * h; ++i) out[62 + i] = 0x55;
    return out;
}

// The HUD's textures on the small device: the target panel, the ticker's
// text and the radar as memory bitmaps, the icon sheet of the menu graphics
// with a few icons of the symbols, and the HUD font, opened once so that
// every cockpit system of an input finds it open.
void HudTextures() {
    Fuzz_CockpitTextures({{INS_TARGET_TEXTURE, 64, 64}, {INS_TEXT_TEXTURE, 128, 16}, {INS_RADAR_TEXTURE, 65, 65}},
                         {150, 148, 149, 184, 196, 185, 461, 464, 467, 469, 470, 471, 451, 452, 453, 162, 186});
    const std::vector<uint8_t> font = FontImage();
    Fuzz_WriteFile("F/Tahoma13.bmp", font.data(), font.size());
    if (B3D_OpenFontNumbered("Tahoma", 13, 16, 33, 1) < 0) __builtin_trap();
    // The target panel's unit texts come from the story's text pages, which
    // keep what they looked up: looked up once here.
    char text[64];
    for (int32_t d : {500, 5000000}) INS_FormatDistance(text, sizeof text, d, 0);
    // ... and the first blit from the icon sheet keeps what it made.
    ID_DrawGObjectSymbol2(INS_RADAR_TEXTURE, SA_MT_SHIP, 0, 10, 20, 10, INS_SYMBOL_STEM);
}

void Setup() {
    static bool done = false;
    if (done) return;
    done = true;
    SE_Context* ctx = Fuzz_ScriptContext();
    Fuzz_NewSceneState();
    static SpaceRoot root;
    g_SpaceRoot = SA_Init(&root);
    TypeRecord* ship = SA_AppendTypeRecords(SA_MT_SHIP, 1);
    ship->field[SA_TF_STEP_Y] = 30000;
    ship->field[SA_TF_STEP_X] = 20000;
    ship->field[SA_TF_STEP_Z] = 10000;
    ship->field[SA_TF_SHIP_SPEED] = 100000;
    ship->field[SA_TF_SHIP_ACCELERATION] = 15000;
    ship->field[SA_TF_SHIP_COCKPIT_COUNT] = 2;
    SA_AppendTypeRecords(SA_MT_DOCK, 1);
    SA_AppendTypeRecords(SA_MT_SECTOR, 1);
    SA_AppendTypeRecords(SA_MT_MISSILE, 1);
    HudTextures();
    g_ApplicationRecord.joySensitivity = 50;
    static ProgramState program{};
    g_ProgramState = &program;
    program.ruzoModule =
        SB_RegisterEngineModule(ctx, Ruzo_SysCall, Ruzo_GetSysCallNames(), Ruzo_ReturnInt, Ruzo_ReturnString, nullptr);
    INS_RegisterSysCalls();
    std::vector<uint8_t> image = Fuzz_StoryImage(kSteeringStory);
    if (image.empty() || !SB_LoadStoryImage(ctx, "steering", "steering", image.data(), image.size())) __builtin_trap();
    // The first run of the story makes its code cache; the first system
    // names its bodies in the scene state for good; the most objects and
    // instances an input can make grow the ID tables and pools once.
    SE_Run(0, 0, 2100, "Input", 1, 1, 0);
    // Cockpits make their scenes, cameras and lights: the scene engine's ID
    // tables grow to what the most cockpits of an input need, once.
    INS_NewCockpitSystem();
    for (int32_t i = 0; i < 320; ++i) INS_AddCockpit(g_CockpitSystem);
    std::vector<Camera3D*> cameras;
    for (int32_t i = 0; i < 320; ++i) cameras.push_back(B3D_CameraAlloc());
    for (Camera3D* camera : cameras) B3D_CameraFree(camera);
    INS_FreeCockpitSystem();
    std::vector<SectorObject*> objects;
    for (int32_t i = 0; i < 400; ++i) objects.push_back(O_AllocObject(SA_TypeCode(SA_MT_SHIP, 0)));
    for (SectorObject* o : objects) O_DeleteSectorObject(o);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    Setup();
    SE_Context* ctx = Fuzz_ScriptContext();
    {
        FuzzMemoryGuard guard(ctx);
        Check(INS_NewCockpitSystem() != nullptr, "no cockpit system");
        World w;
        g_InputState = &w.input;
        FuzzInput in{data, size};
        int32_t saves = 0;
        for (int32_t step = 0; step < 300 && in.more(); ++step) {
            const uint8_t b = in.next();
            switch (b >= 0xF8 ? 16 + (b & 3) : b % 16) {
                case 0:
                    if (const uint32_t id = INS_AddCockpit(g_CockpitSystem)) w.cockpits.push_back(id);
                    break;
                case 1: INS_FreeCockpit(g_CockpitSystem, Pick(in, w.cockpits)); break;
                case 2: AddObject(in, w); break;
                case 3:
                    if (SectorObject* o = PickObject(in, w)) O_DeleteSectorObject(o);
                    break;
                case 4: SetReference(in, w); break;
                case 5: SetField(in, w); break;
                case 6: {
                    SectorObject* o = PickObject(in, w);
                    INS_StartShipRappel(o, in.next16());
                    break;
                }
                case 7: {
                    const SectorObject* o = PickObject(in, w);
                    if (const Cockpit* c = INS_FindCockpitByShip(o))
                        Check(c->monitorNumber == 0 && c->cockpitRefObject == o, "the wrong cockpit of a ship");
                    break;
                }
                case 8: SteeringFrame(in, w); break;
                case 9: EngineCall(in, w); break;
                case 10:
                    if (++saves <= kSaves) Fuzz_SaveLoadCockpits("cockpitcalls");
                    break;
                case 11: {
                    SectorObject* o = PickObject(in, w);
                    INS_RemoveObjectReferences(o);
                    break;
                }
                case 12: INS_ClearAllCockpits(g_CockpitSystem); break;
                case 14: Fuzz_CockpitFrame(in.next() * 13); break;
                case 15: SceneRecords(in, w); break;
                case 16: TickerStep(in, w); break;
                case 17: AlertStep(in, w); break;
                case 18: HudFrame(in, w); break;
                case 19: SymbolStep(in); break;
                default: {
                    const int32_t codes[] = {256, 257, 258, 259, 260, 261, 512, 513};
                    const uint8_t code = in.next(), action = in.next(), flags = in.next();
                    STS_SetControlMatrix(codes[code & 7], action % 15 - 1, flags & 1, flags & 2);
                    break;
                }
            }
            CheckReferences();
        }
        INS_FreeCockpitSystem();
        for (SE_Task* task : w.waiting) {
            Check(task->answered, "a task waiting on a text was never answered");
            SV_Release(&task->callResult);
            SE_RemoveTask(ctx, task);
        }
        for (uint32_t id : w.cameras) B3D_CameraFree(IC_FindCamera(id));
        SA_FreeAllObjects(g_SpaceRoot);
        g_InputState = nullptr;
        STS_Reset();
        g_ControlMatrix = STS_CONTROL_MATRIX_DEFAULTS;
        g_StopFlag = 0;
        SV_Release(&g_ProgramState->result);
    }
    StandIn_ClearCalls();
    return 0;
}
