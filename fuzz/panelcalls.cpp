// Random sequences of the cockpit calls that reach its small displays and
// the status panel, on live, freed and made-up cockpit IDs: engine calls of
// module 10 (the camera message box, the navigation map, the message
// display, the target bodies, the current missile, the tooltip's show and
// hide, and any other number) with fewer or more arguments than they read;
// tooltips shown and hidden for owners directly; the frame instances' jobs
// running or done; the scene engine freeing a display's instance or a
// cockpit's scenes; the ship's speeds, energies, missiles and the time warp
// set as no call would; frames of the cockpits' update across the game
// clock's wrap, with a story that frees the cockpit when told that lasers or
// shields run low; saves, loads (a new cockpit system) and clears between.
// After every step each display's state is one of its five and a shown
// tooltip has a text.
//
// Input: one byte per step (its value modulo 12 picks it), then its operands:
//   0  add a cockpit of the ship            6  jobs: cockpit, what
//   1  free a cockpit: cockpit              7  the scene engine frees: cockpit, what
//   2  an engine call: call, cockpit,       8  save, and load into a new system
//      shape (argument count 0-7), a kind   9  the ship: what, two value bytes
//      byte per argument after the first    10 the clock: a byte near its wrap
//   3  show a tooltip: cockpit, owner,      11 clear all cockpits
//      text, x, y
//   4  hide a tooltip: cockpit, owner
//   5  a frame of the cockpits: ms / 13
// A cockpit byte below 0xF0 picks one of the IDs handed out so far (live or
// freed), above it a made-up ID.
#include <cstdint>
#include <vector>

#include "base/ebm.h"
#include "base/general.h"
#include "base/memory.h"
#include "base/standin_calls.h"
#include "base/texcache.h"
#include "cockpit/cockpits.h"
#include "cockpit/panels.h"
#include "cockpit/save.h"
#include "cockpit/scenes.h"
#include "cockpit/statuspanel.h"
#include "cockpit/syscall.h"
#include "cockpit/ticker.h"
#include "cockpit/update.h"
#include "fuzz/harness/harness.h"
#include "fuzz/harness/spaceworld.h"
#include "fuzz/harness/story.h"
#include "scene/allocs.h"
#include "scene/caches.h"
#include "scene/names.h"
#include "scene/records.h"
#include "scene/state.h"
#include "scene/texdraw.h"
#include "scene/trees.h"
#include "script/loader.h"
#include "script/modules.h"
#include "script/tasks.h"
#include "space/create.h"
#include "space/objects.h"
#include "space/records.h"
#include "space/typesdb.h"
#include "space/weapons.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int32_t kSaves = 12;
constexpr int32_t kMostCockpits = 24;
constexpr int32_t kWrap = 32400000;
constexpr int32_t kCalls[16] = {17, 18, 31, 32, 51, 59, 126, 127, 47, 48, 49, 50, 26, 17, 31, 126};

// Object 2100 frees cockpit 1 when told that lasers or shields run low.
constexpr const char* kPanelStory = R"(
.object 2100
.func "NotifyLaserLow" need 4
    pushw 1
    pushw 1
    sys "INS_CockpitFree"
    ret
.func "NotifyShieldLow" need 4
    pushw 1
    pushw 1
    sys "INS_CockpitFree"
    ret
.func "GetHUDInfo" need 2
    c0
    ret
)";

void Check(bool ok, const char* what) { Fuzz_Check(ok, "panelcalls", what); }

struct World {
    std::vector<uint32_t> cockpits;  // every cockpit ID handed out, live or freed
    SectorObject* sector = nullptr;
    SectorObject* ship = nullptr;
    SectorObject* shield = nullptr;
};

uint32_t Pick(FuzzInput& in, const std::vector<uint32_t>& ids) { return Fuzz_PickId(in.next(), ids); }

Cockpit* PickCockpit(FuzzInput& in, const World& w) { return INS_TableGet(g_CockpitSystem, Pick(in, w.cockpits)); }

void CheckPanels() {
    for (uint32_t id : INS_CockpitIds(g_CockpitSystem)) {
        const CockpitPanels* p = INS_TableGet(g_CockpitSystem, id)->panels;
        if (!p) continue;
        for (const PanelRecord* panel : {&p->message, &p->navMap})
            Check(panel->state >= INS_PANEL_CLOSED && panel->state <= INS_PANEL_REOPENING,
                  "a display state out of range");
        Check(!p->tooltip.shown || p->tooltip.hasText, "a shown tooltip without a text");
        Check(p->navMap.duration == 0, "the map has a duration");
    }
}

void AddCockpit(World& w) {
    if (static_cast<int32_t>(w.cockpits.size()) >= kMostCockpits) return;
    const uint32_t id = INS_AddCockpit(g_CockpitSystem);
    Cockpit* c = INS_TableGet(g_CockpitSystem, id);
    if (!c) return;
    w.cockpits.push_back(id);
    c->refObject = c->cockpitRefObject = w.ship;
    c->sectorSpace = w.sector;
    if (Scene3D* scene = IC_Scene(c)) B3D_SceneEnable(scene);
}

// An engine call of module 10 with 0 to 7 arguments, each an integer, a
// text or a cockpit ID (live, freed or made up).
void EngineCall(FuzzInput& in, World& w) {
    const uint8_t b = in.next();
    const int32_t call = b < 0xC0 ? kCalls[b & 15] : b % 132;
    const uint32_t cockpit = Pick(in, w.cockpits);
    const int32_t argc = in.next() % 8;
    SE_Task* task = SE_AllocTask(g_SEContext, 32);
    Check(task != nullptr, "no task");
    ScriptValue args[8]{};
    const char* texts[4] = {"", "12", "a longer text than the panel is wide, on two lines\nof it", " "};
    for (int32_t i = 0; i < argc; ++i) {
        const uint8_t kind = i == 0 ? 0 : in.next();
        switch (kind & 3) {
            case 0: SV_AssignInt(&args[i], static_cast<int32_t>(i == 0 ? cockpit : Pick(in, w.cockpits))); break;
            case 1: SV_AssignString(&args[i], texts[(kind >> 2) & 3]); break;
            default: SV_AssignInt(&args[i], static_cast<int8_t>(kind) * 613); break;
        }
    }
    INS_SysCall(g_SEContext->ownModule, task, call, argc, args);
    for (ScriptValue& v : args) SV_Release(&v);
    if (task->answered) SV_Release(&task->callResult);
    else Check(call == 20, "a call left its task waiting");
    SE_RemoveTask(g_SEContext, task);
}

void ShowTooltip(FuzzInput& in, World& w) {
    Cockpit* c = PickCockpit(in, w);
    const uint8_t owner = in.next(), text = in.next();
    const int32_t x = static_cast<int8_t>(in.next()) * 8, y = static_cast<int8_t>(in.next()) * 8;
    const char* texts[4] = {nullptr, "1", "22", "a tooltip wider than the screen is, by far, and then some more"};
    if (c) INS_ShowTooltipAt(c, owner & 7, texts[text & 3], x, y);
}

void Jobs(FuzzInput& in, World& w) {
    Cockpit* c = PickCockpit(in, w);
    const uint8_t what = in.next();
    if (!c || !c->panels) return;
    PanelRecord& p = (what & 1) ? c->panels->navMap : c->panels->message;
    for (InstSlot& slot : p.slots)
        if (Inst3D* inst = IC_FindInst(slot.inst)) {
            if (what & 2) inst->jobFlags |= 0x1;
            else inst->jobFlags &= ~0x1u;
            if (what & 4) inst->jobFlags |= 0x200;
            else inst->jobFlags &= ~0x200u;
        }
}

// The scene engine frees what a display holds by ID, or a cockpit's scenes.
void SceneFrees(FuzzInput& in, World& w) {
    Cockpit* c = PickCockpit(in, w);
    const uint8_t what = in.next();
    if (!c) return;
    CockpitPanels* p = c->panels;
    switch (what % 5) {
        case 0:
            if (p) B3D_InstFree(IC_FindInst(p->tooltip.inst));
            break;
        case 1:
            if (p) B3D_InstFree(IC_FindInst(p->message.slots[(what >> 3) % 3].inst));
            break;
        case 2:
            if (p) B3D_InstFree(IC_FindInst(p->targets.slots[(what >> 3) % INS_TARGET_BODIES].inst));
            break;
        case 3: B3D_SceneFree(IC_Scene(c)); break;
        default:
            if (c->tooltip) B3D_SceneFree(IC_FindScene(c->tooltip->scene));
            break;
    }
}

void ShipValues(FuzzInput& in, World& w) {
    const uint8_t what = in.next();
    const int32_t a = static_cast<int8_t>(in.next()), b = in.next();
    SectorObject* ship = w.ship;
    switch (what % 8) {
        case 0: ship->speed = a * 2000, ship->desiredSpeed = b * 1000; break;
        case 1: O_ShipData(ship)->laserEnergy = b * 4000; break;
        case 2:
            if (w.shield) static_cast<ShieldData*>(w.shield->typeData)->energy = b * 4;
            break;
        case 3: O_ShipData(ship)->CourseType = (a & 1) ? 27 : 0; break;
        case 4: ship->hull = a * 4; break;
        case 5: g_CockpitSystem->timeWarpFactor = a; break;
        case 6: g_CockpitSystem->statusFlags ^= 4u, g_INSStatus.mode = a & 1, g_INSStatus.second = b & 1; break;
        default: O_ShipData(ship)->maxSpeedOverride = (a & 1) ? INT32_MAX - b : -1; break;
    }
}

// The textures of the panel, the displays and the tooltip as memory bitmaps,
// and the HUD font, opened once.
void Textures() {
    if (!Fuzz_OpenDevice()) __builtin_trap();
    TC_FreeTextureTables();
    g_TCNumberedCount = 1300;
    g_TCNamedCount = 0;
    if (TC_AllocTextureTable()) __builtin_trap();
    B3D_ForgetMenuTextures();
    const int32_t textures[][3] = {
        {INS_PANEL_TEXTURE, 128, 128},     {INS_PANEL_ICONS, 128, 128},       {INS_PANEL_BARS, 128, 64},
        {INS_PANEL_MODES, 256, 256},       {INS_PANEL_COLUMN_SOURCE, 64, 64}, {INS_PANEL_COLUMN, 256, 256},
        {INS_PANEL_TEXT_TEXTURE, 128, 32}, {INS_TOOLTIP_TEXTURE, 256, 256},
    };
    for (const auto& t : textures) {
        TC_TextureTable[t[0]].bitmap =
            GenerateEbm(static_cast<int16_t>(t[1]), static_cast<int16_t>(t[2]), 32, EBM_CHUNKY | EBM_NOSHADOW);
        if (!TC_TextureTable[t[0]].bitmap) __builtin_trap();
        TC_SetTextureFlags(t[0], 0);
    }
    // A font grid of 16 x 13 cells from ' ', two rows, every other column inked.
    const int32_t w = 256, h = 26, rowBytes = w / 8;
    Bytes font(62 + rowBytes * h, 0);
    const auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) font[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    font[0] = 'B', font[1] = 'M';
    put32(2, static_cast<uint32_t>(font.size()));
    put32(10, 62);
    put32(14, 40);
    put32(18, w);
    put32(22, h);
    font[26] = 1;
    font[28] = 1;
    put32(46, 2);
    put32(58, 0xFFFFFF);
    for (int32_t i = 0; i < rowBytes * h; ++i) font[62 + i] = 0x55;
    Fuzz_WriteFile("F/Tahoma13.bmp", font.data(), font.size());
    if (B3D_OpenFontNumbered("Tahoma", 13, 16, 33, 1) < 0) __builtin_trap();
}

// A sector with the ship, its shield and two lasers of its gun slot.
void MakeWorld(World* w) {
    w->sector = O_AllocObject(SA_TypeCode(SA_MT_SECTOR, 0));
    w->ship = O_AllocObject(SA_TypeCode(SA_MT_SHIP, 0));
    w->shield = O_AllocObject(SA_TypeCode(SA_MT_SHIELD, 0));
    Check(w->sector && w->ship && w->shield, "no world");
    O_SetContainer(w->ship, w->sector);
    O_SetContainer(w->shield, w->ship);
    for (int16_t i = 0; i < 2; ++i)
        if (SectorObject* laser = O_AllocObject(SA_TypeCode(SA_MT_LASER, i + 1))) {
            O_SetContainer(laser, w->ship);
            if (auto* d = static_cast<LaserData*>(laser->typeData)) d->position = i;
        }
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
    ship->field[SA_TF_SHIP_SPEED] = 100000;
    ship->field[SA_TF_SHIP_MAX_HULL] = 1000;
    ship->field[SA_TF_SHIP_LASER_POWER_MAX] = 1000;
    ship->field[SA_TF_SHIP_COCKPIT_COUNT] = 1;
    ship->field[SA_TF_SHIP_COCKPITS] = 1;
    ship->field[SA_TF_SHIP_TURRET_COUNT] = 1;
    SA_AppendTypeRecords(SA_MT_SECTOR, 1);
    SA_AppendTypeRecords(SA_MT_LASER, 3);
    SA_AppendTypeRecords(SA_MT_SHIELD, 1)->field[SA_TF_SHIELD_ENERGY] = 1000;
    Textures();
    INS_RegisterSysCalls();
    std::vector<uint8_t> image = Fuzz_StoryImage(kPanelStory);
    if (image.empty() || !SB_LoadStoryImage(ctx, "panels", "panels", image.data(), image.size())) __builtin_trap();
    SE_Run(0, 0, 2100, "GetHUDInfo", 1, 0);
    // The most cockpits an input makes, each with every display open, grow
    // the scene engine's ID tables and pools once.
    INS_NewCockpitSystem();
    for (int32_t i = 0; i < 2 * kMostCockpits; ++i) {
        Cockpit* c = INS_TableGet(g_CockpitSystem, INS_AddCockpit(g_CockpitSystem));
        if (!c) continue;
        INS_SetMessageDisplay(c, "12");
        INS_SetNavMap(c, 1);
        INS_ShowTooltipAt(c, 1, "12", 0, 0);
    }
    INS_FreeCockpitSystem();
    World w;
    MakeWorld(&w);
    SA_FreeAllObjects(g_SpaceRoot);
    // The frame cuts are looked for once: a missing one is remembered.
    for (int32_t cut : {INS_PANEL_OPEN_CUT, INS_PANEL_LOOP_CUT, INS_PANEL_CLOSE_CUT}) J3D_GetCut(cut);
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
        MakeWorld(&w);
        FuzzInput in{data, size};
        int32_t saves = 0;
        for (int32_t step = 0; step < 300 && in.more(); ++step) {
            switch (in.next() % 12) {
                case 0: AddCockpit(w); break;
                case 1: INS_FreeCockpit(g_CockpitSystem, Pick(in, w.cockpits)); break;
                case 2: EngineCall(in, w); break;
                case 3: ShowTooltip(in, w); break;
                case 4:
                    if (Cockpit* c = PickCockpit(in, w)) INS_HideTooltipOf(in.next() & 7, c);
                    break;
                case 5: Fuzz_CockpitFrame(in.next() * 13); break;
                case 6: Jobs(in, w); break;
                case 7: SceneFrees(in, w); break;
                case 8:
                    if (++saves <= kSaves) Fuzz_SaveLoadCockpits("panelcalls");
                    break;
                case 9: ShipValues(in, w); break;
                case 10: g_SystemState->gameClock = kWrap - 1 - in.next() * 7; break;
                default: INS_ClearAllCockpits(g_CockpitSystem); break;
            }
            CheckPanels();
        }
        INS_FreeCockpitSystem();
        SA_FreeAllObjects(g_SpaceRoot);
        g_INSStatus = {};
    }
    StandIn_ClearCalls();
    return 0;
}
