// Random sequences of the cockpits' icon-menu and tracking calls on live,
// freed and made-up cockpit, menu, item and object IDs: menus made from
// random entry blocks (nested runs among them) for story objects whose
// notifications answer, take the event, free a cockpit, move the mouse
// again or remove their menu; the mouse moved, pressed and released over
// them; items and menus changed through the engine calls; tracking changed
// and stepped through overlay entries of live, freed and made-up objects
// (the story's lock notice freeing a cockpit and locking again); objects
// freed; frames of the menus and of the whole cockpits across the clock's
// wrap; saves and loads (a new cockpit system) between. After every step
// each menu's items name the menu that holds them, a tree stays shallow,
// a removed menu is never found, and the tracked object is alive.
//
// Input: one byte per step (its value modulo 12 picks it), then its operands:
//   0  add a cockpit                  6  tracking: cockpit, mode, object
//   1  free a cockpit: cockpit        7  track prev/next: cockpit, direction, mode
//   2  add an object: kind            8  overlay entries: cockpit, count, then
//   3  free an object: object            object, distance, shown per entry
//   4  make a menu: cockpit, menu,    9  a frame of the menus: cockpit, ms / 13
//      maker, flags, orientation,    10  a frame of the cockpits: ms / 13
//      count, 4 bytes per entry      11  save, and load into a new system
//   5  an engine call 104-122: call, cockpit, menu, item, three values
//      (a mouse call: x and y near the items)
// A cockpit or object byte below 0xF0 picks one of the IDs handed out so far
// (live or freed), above it a made-up ID.
#include <cstdint>
#include <vector>

#include "base/general.h"
#include "base/memory.h"
#include "base/standin_calls.h"
#include "cockpit/cockpits.h"
#include "cockpit/iconmenus.h"
#include "cockpit/panels.h"
#include "cockpit/save.h"
#include "cockpit/scenes.h"
#include "cockpit/syscall.h"
#include "cockpit/tracking.h"
#include "cockpit/update.h"
#include "fuzz/harness/harness.h"
#include "fuzz/harness/spaceworld.h"
#include "fuzz/harness/story.h"
#include "scene/allocs.h"
#include "scene/state.h"
#include "scene/trees.h"
#include "script/loader.h"
#include "script/tasks.h"
#include "space/objects.h"
#include "space/queries.h"
#include "space/typesdb.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int32_t kSaves = 8;
// The story objects a menu may name: none, the globals, and five behaviours.
constexpr int32_t kMakers[8] = {-1, 0, 301, 302, 303, 304, 305, 9999};

// 301 answers 0, 302 takes every event, 303 frees cockpit 1, 304 moves and
// presses the mouse on cockpit 1 again, 305 removes menu 1 of cockpit 1;
// the lock notice of 2100 frees cockpit 2 and locks cockpit 1 on object 1.
constexpr const char* kStory = R"(
.object 2100
.func "NotifyTargetLock" need 8
    pushw 2
    c1
    sys "INS_CockpitFree"
    pop
    pushw 1
    pushw 1
    pushw 2
    sys "INS_CockpitSetTracking"
    ret
.object 301
.func "NotifyIconMenuSelect" need 2
    c0
    ret
.func "NotifyIconMenuHighlight" need 2
    c0
    ret
.func "NotifyIconMenuNoHighlight" need 2
    c0
    ret
.object 302
.func "NotifyIconMenuSelect" need 2
    c1
    ret
.func "NotifyIconMenuHighlight" need 2
    c1
    ret
.func "NotifyIconMenuNoHighlight" need 2
    c1
    ret
.object 303
.func "NotifyIconMenuSelect" need 4
    pushw 1
    c1
    sys "INS_CockpitFree"
    ret
.func "NotifyIconMenuNoHighlight" need 4
    pushw 1
    c1
    sys "INS_CockpitFree"
    ret
.object 304
.func "NotifyIconMenuSelect" need 8
    pushw 200
    pushw 100
    pushw 1
    pushw 3
    sys "INS_CockpitIconMenuMouseDown"
    ret
.func "NotifyIconMenuHighlight" need 8
    pushw 200
    pushw 100
    pushw 1
    pushw 3
    sys "INS_CockpitIconMenuMouseMove"
    ret
.object 305
.func "NotifyIconMenuSelect" need 6
    pushw 1
    pushw 1
    pushw 2
    sys "INS_CockpitRemoveIconMenu"
    ret
.func "NotifyIconMenuNoHighlight" need 6
    pushw 1
    pushw 1
    pushw 2
    sys "INS_CockpitRemoveIconMenu"
    ret
)";

void Check(bool ok, const char* what) { Fuzz_Check(ok, "menucalls", what); }

struct World {
    std::vector<uint32_t> cockpits;  // every cockpit ID handed out, live or freed
    std::vector<uint32_t> objects;   // every object ID handed out
    SectorObject* sector = nullptr;
};

uint32_t Pick(FuzzInput& in, const std::vector<uint32_t>& ids) { return Fuzz_PickId(in.next(), ids); }

Cockpit* PickCockpit(FuzzInput& in, const World& w) { return INS_TableGet(g_CockpitSystem, Pick(in, w.cockpits)); }

SectorObject* PickObject(FuzzInput& in, const World& w) {
    const uint32_t id = Pick(in, w.objects);
    return id ? SA_FindObjectByID(id) : nullptr;
}

void CheckMenu(const IconMenu* m, int32_t depth) {
    Check(depth < 16, "an icon menu nests too deep");
    for (const IconMenuItem* it = m ? m->items : nullptr; it; it = it->next) {
        Check(it->menu == m, "an item names another menu");
        CheckMenu(it->subMenu, depth + 1);
    }
}

void CheckCockpits() {
    for (uint32_t id : INS_CockpitIds(g_CockpitSystem)) {
        const Cockpit* c = INS_TableGet(g_CockpitSystem, id);
        for (const IconMenu* m = c->menus; m; m = m->next) {
            CheckMenu(m, 0);
            if (m->flags & IC_MENU_REMOVED) Check(IC_FindIconMenu(c, m->menuId) != m, "a removed menu was found");
        }
        const SectorObject* o = c->trackedObject;
        Check(!o || (o->magic == SA_OBJECT_MAGIC && SA_FindObjectByID(o->id) == o), "a tracked object outlived it");
        Check(!c->overlay || c->overlay->entryCount >= 0, "a negative overlay");
    }
}

void AddObject(FuzzInput& in, World& w) {
    const uint8_t kind = in.next();
    const int16_t mainTypes[4] = {SA_MT_SHIP, SA_MT_SHIP, SA_MT_MISSILE, SA_MT_SHIP};
    SectorObject* o = O_AllocObject(SA_TypeCode(mainTypes[kind % 4], 0));
    if (!o) return;
    w.objects.push_back(o->id);
    o->group = static_cast<int16_t>((kind >> 2) & 3);
    if (o->instance) Qel_MatIdentity(&o->instance->matrix);
    if (w.sector && !(kind & 0x80)) {
        SA_ListAddTail(O_GetChildList(w.sector), o);
        o->container = w.sector;
    }
}

// A menu of up to 12 entries: item IDs 0 to 5, item flags with the run, keep,
// layout and visibility bits, icons of the table or not.
void MakeMenu(FuzzInput& in, World& w) {
    Cockpit* c = PickCockpit(in, w);
    const int32_t menuId = in.next() % 4;
    const int32_t maker = kMakers[in.next() & 7];
    const uint8_t flags = in.next(), orientation = in.next();
    const int32_t count = in.next() % 13;
    std::vector<int32_t> entries;
    for (int32_t i = 0; i < count; ++i) {
        const uint8_t id = in.next(), f = in.next(), layout = in.next(), icons = in.next();
        const uint32_t itemFlags = (f & 0x0f) | (static_cast<uint32_t>(f >> 4) << 12) |
                                   (static_cast<uint32_t>(layout) << 4) | ((f & 0x80) ? 0x10000u : 0) |
                                   ((layout & 1) ? 0x20000u : 0);
        const int32_t entry[IC_ENTRY_WORDS] = {id % 6,
                                               static_cast<int32_t>(itemFlags),
                                               (id & 8) ? 1 : 0,
                                               10 + icons % 4,
                                               (icons & 4) ? 11 : 0,
                                               (icons & 8) ? 12 : 0,
                                               (icons & 16) ? 10 : 0,
                                               (icons & 32) ? 99 : 0,
                                               (icons & 64) ? 11 : 0};
        entries.insert(entries.end(), entry, entry + IC_ENTRY_WORDS);
    }
    if (!c || count == 0) return;
    const int32_t values[10] = {menuId,
                                (orientation & 0x40) ? -200 : 100,
                                200,
                                orientation & 7,
                                (orientation >> 3) & 7,
                                (orientation & 0x80) ? 1 : -1,
                                (flags & 0x40) ? 1 : 0,
                                orientation & 1,
                                (flags & 0x0f) | ((flags & 0x10) ? 0x8000 : 0),
                                flags >> 5};
    INS_AddIconMenu(c, maker, values, count, entries.data());
}

// An engine call among 104 to 122 with small values; the mouse calls take
// their point near where the items stand.
void EngineCall(FuzzInput& in, World& w) {
    const int32_t call = 104 + in.next() % 19;
    const uint32_t cockpit = Pick(in, w.cockpits);
    const int32_t menu = in.next() % 5, item = in.next() % 7;
    const int32_t a = static_cast<int8_t>(in.next()), b = static_cast<int8_t>(in.next()),
                  c = static_cast<int8_t>(in.next());
    SE_Task* task = SE_AllocTask(g_SEContext, 32);
    Check(task != nullptr, "no task");
    ScriptValue args[8]{};
    int32_t values[8] = {static_cast<int32_t>(cockpit), menu, item, a, b, c, a, b};
    if (call >= 120 && call <= 122) {
        values[1] = 100 + a;
        values[2] = 200 + b / 4;
    }
    for (int32_t i = 0; i < 8; ++i) SV_AssignInt(&args[i], values[i]);
    INS_SysCall(g_SEContext->ownModule, task, call, 8, args);
    for (ScriptValue& v : args) SV_Release(&v);
    Check(task->answered, "a call left its task waiting");
    SV_Release(&task->callResult);
    SE_RemoveTask(g_SEContext, task);
}

void Overlay(FuzzInput& in, World& w) {
    Cockpit* c = PickCockpit(in, w);
    const int32_t count = in.next() % 9;
    std::vector<OverlayEntry> list(static_cast<size_t>(count));
    for (OverlayEntry& e : list) {
        e.object = Pick(in, w.objects);
        e.distance = in.next() * 1000;
        e.shown = in.next() & 1;
    }
    if (!c || !c->overlay) return;
    if (OverlayEntry* entries = IC_SetOverlayEntryCount(c->overlay, count))
        for (int32_t i = 0; i < count; ++i) entries[i] = list[static_cast<size_t>(i)];
}

void Setup() {
    static bool done = false;
    if (done) return;
    done = true;
    SE_Context* ctx = Fuzz_ScriptContext();
    Fuzz_NewSceneState();
    static SpaceRoot root;
    g_SpaceRoot = SA_Init(&root);
    SA_AppendTypeRecords(SA_MT_SHIP, 1);
    SA_AppendTypeRecords(SA_MT_SECTOR, 1);
    SA_AppendTypeRecords(SA_MT_MISSILE, 1);
    // The icon table the menus' slots take their sizes from.
    B3DIconList& list = g_B3DState->icons[0];
    list.rowCount = 3;
    list.rows = static_cast<B3DIconRow*>(Int_AllocMem(3 * sizeof(B3DIconRow), 0));
    if (!list.rows) __builtin_trap();
    list.rows[0] = B3DIconRow{10, 0, 0, 0, 20, 10};
    list.rows[1] = B3DIconRow{11, 0, 0, 0, 30, 12};
    list.rows[2] = B3DIconRow{12, 0, 0, 0, 8, 8};
    INS_RegisterSysCalls();
    std::vector<uint8_t> image = Fuzz_StoryImage(kStory);
    if (image.empty() || !SB_LoadStoryImage(ctx, "menus", "menus", image.data(), image.size())) __builtin_trap();
    // The first runs make the story's code cache; the scene engine's ID
    // tables and pools grow once to what the most cockpits, slots and
    // objects of an input need.
    for (int32_t id : {301, 302}) SE_Run(0, 0, id, "NotifyIconMenuSelect", 1, 0);
    Fuzz_GrowCockpitPools();
    // A tooltip's first frame registers the names of its textures, which stay.
    INS_NewCockpitSystem();
    if (Cockpit* c = INS_TableGet(g_CockpitSystem, INS_AddCockpit(g_CockpitSystem))) {
        c->viewMode = 1;
        g_CockpitSystem->activeControl = static_cast<int32_t>(c->id);
        INS_ShowTooltipAt(c, 1, "12", 0, 0);
        INS_UpdateAllCockpits();
    }
    INS_FreeCockpitSystem();
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
        w.sector = O_AllocObject(SA_TypeCode(SA_MT_SECTOR, 0));
        FuzzInput in{data, size};
        int32_t saves = 0;
        for (int32_t step = 0; step < 300 && in.more(); ++step) {
            switch (in.next() % 12) {
                case 0:
                    if (const uint32_t id = INS_AddCockpit(g_CockpitSystem)) {
                        w.cockpits.push_back(id);
                        Cockpit* c = INS_TableGet(g_CockpitSystem, id);
                        c->sectorSpace = w.sector;
                        c->viewMode = 1;
                        c->monitorNumber = 0;
                        g_CockpitSystem->activeControl = static_cast<int32_t>(id);
                    }
                    break;
                case 1: INS_FreeCockpit(g_CockpitSystem, Pick(in, w.cockpits)); break;
                case 2: {
                    AddObject(in, w);
                    // The newest cockpit flies the newest ship.
                    if (Cockpit* c = w.cockpits.empty() ? nullptr : INS_TableGet(g_CockpitSystem, w.cockpits.back()))
                        if (!c->cockpitRefObject) c->cockpitRefObject = SA_FindObjectByID(w.objects.back());
                    break;
                }
                case 3:
                    if (SectorObject* o = PickObject(in, w); o && o != w.sector) O_DeleteSectorObject(o);
                    break;
                case 4: MakeMenu(in, w); break;
                case 5: EngineCall(in, w); break;
                case 6: {
                    Cockpit* c = PickCockpit(in, w);
                    const int32_t mode = in.next() % 6;
                    SectorObject* o = PickObject(in, w);
                    if (c) INS_SetTracking(c, mode, o);
                    break;
                }
                case 7: {
                    Cockpit* c = PickCockpit(in, w);
                    const int32_t direction = static_cast<int8_t>(in.next()), mode = in.next() % 4;
                    if (c) INS_TrackPrevNextCall(c, direction, mode);
                    break;
                }
                case 8: Overlay(in, w); break;
                case 9: {
                    Cockpit* c = PickCockpit(in, w);
                    Fuzz_AdvanceGameClock(in.next() * 13);
                    if (c) INS_UpdateIconMenus(c);
                    break;
                }
                case 10:
                    Fuzz_AdvanceGameClock(in.next() * 13);
                    INS_UpdateAllCockpits();
                    break;
                default:
                    if (++saves <= kSaves) Fuzz_SaveLoadCockpits("menucalls");
                    break;
            }
            CheckCockpits();
        }
        INS_FreeCockpitSystem();
        SA_FreeAllObjects(g_SpaceRoot);
    }
    StandIn_ClearCalls();
    return 0;
}
