// The cockpit system: its table, the one free path, what the space simulation
// calls (reference removal, the hit shake, the cockpit of a ship), the view
// helpers and engine-call module 10.
#include "cockpit/cockpits.h"
#include "cockpit/syscall.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "base/table.h"
#include "cockpit/callnames.h"
#include "cockpit/cockpit_fixture.h"
#include "scene/allocs.h"
#include "scene/state.h"
#include "script/modules.h"
#include "script/tasks.h"
#include "support/logcapture.h"
#include "support/script_run.h"

namespace {

using Ids = std::vector<uint32_t>;

TEST_F(CockpitTest, ANewSystemHoldsItsDefaults) {
    const CockpitSystem* s = g_CockpitSystem;
    EXPECT_EQ(Qel_TableGetCount(s->cockpits), 0u);
    EXPECT_EQ(s->radarOn, 1);
    EXPECT_EQ(s->activeControl, 0);
    EXPECT_EQ(s->hudFont, -1);
    EXPECT_NE(s->dustBody, 0);
    for (int32_t body : g_CockpitModule.hudBodies) EXPECT_NE(body, 0);

    SetClock(777);
    const Cockpit* c = AddCockpit();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->monitorNumber, -1);
    EXPECT_EQ(c->focus, 16384);
    EXPECT_EQ(c->focusDurationStart, 777);
    EXPECT_EQ(c->hitShakeEnd, 777);
    EXPECT_EQ(c->cinematicLoopTime, 15000);
    EXPECT_EQ(c->radarRange, 10000000);
    EXPECT_EQ(c->secondRange, 10000000);
    EXPECT_EQ(c->missileType, -1);
    EXPECT_EQ(c->zoom, 65536);
    EXPECT_EQ(c->viewTurnRate, 65536);
    EXPECT_EQ(c->viewMatrix.m[0], 65536);
    EXPECT_EQ(c->viewMatrix.m[5], 65536);
    EXPECT_EQ(c->viewMatrix.m[10], 65536);
    EXPECT_EQ(c->flagWord, 1);
    EXPECT_EQ(c->draw2D, 1);
    EXPECT_EQ(c->cockpitBodyOn + c->radarBodyOn + c->displayBodyOn, 3);
}

TEST_F(CockpitTest, CockpitsAreWalkedInKeyOrder) {
    CockpitSystem* s = g_CockpitSystem;
    // Keys go on counting past freed ones: 2..20, then 21..33; keep 2 and 33.
    for (uint32_t id = 2; id <= 20; ++id) ASSERT_EQ(INS_AddCockpit(s), id);
    for (uint32_t id = 3; id <= 20; ++id) INS_FreeCockpit(s, id);
    for (uint32_t id = 21; id <= 33; ++id) ASSERT_EQ(INS_AddCockpit(s), id);
    for (uint32_t id = 21; id <= 32; ++id) INS_FreeCockpit(s, id);
    // With 32 buckets the table's own order puts 33 first.
    ASSERT_EQ(s->cockpits->bucketCount, 32u);
    ASSERT_EQ(Qel_TableNext(s->cockpits, 0), 33u);
    EXPECT_EQ(INS_CockpitIds(s), (Ids{2, 33}));
    SectorObject* ship = Ship();
    for (uint32_t id : {33u, 2u}) {
        Cockpit* c = INS_TableGet(s, id);
        c->monitorNumber = 0;
        c->cockpitRefObject = ship;
    }
    EXPECT_EQ(INS_FindCockpitByShip(ship)->id, 2u);
    EXPECT_EQ(INS_TableGet(s, 3), nullptr);
    EXPECT_EQ(INS_TableGet(nullptr, 2), nullptr);
}

TEST_F(CockpitTest, TheCockpitOfAShipIsItsMainScreen) {
    SectorObject* ship = Ship();
    SectorObject* other = Ship();
    Cockpit* fresh = AddCockpit();  // monitor number -1
    fresh->cockpitRefObject = ship;
    EXPECT_EQ(INS_FindCockpitByShip(ship), nullptr);
    Cockpit* monitor = AddCockpit();
    monitor->monitorNumber = 1;
    monitor->cockpitRefObject = ship;
    Cockpit* main = AddCockpit();
    main->monitorNumber = 0;
    main->cockpitRefObject = ship;
    EXPECT_EQ(INS_FindCockpitByShip(ship), main);
    EXPECT_EQ(INS_FindCockpitByShip(other), nullptr);
    EXPECT_EQ(INS_FindCockpitByShip(nullptr), nullptr);
}

TEST_F(CockpitTest, ReferenceRemovalClearsExactlyTheMatchingReferences) {
    SectorObject* gone = Ship();
    SectorObject* stays = Ship();
    Cockpit* a = AddCockpit();
    Cockpit* b = AddCockpit();
    a->trackedObject = gone;
    a->refObject = stays;
    a->cockpitRefObject = stays;
    b->refObject = gone;
    b->cockpitRefObject = gone;
    b->secondObject = gone;
    b->trackedObject = stays;
    system_->debugFlags = 4;
    LogCapture log;
    INS_RemoveObjectReferences(gone);
    EXPECT_EQ(log.Take(), "INS_RemoveObjectReferences(" + std::to_string(gone->id) + ")\n");
    EXPECT_EQ(a->trackedObject, nullptr);
    EXPECT_EQ(a->refObject, stays);
    EXPECT_EQ(a->cockpitRefObject, stays);
    EXPECT_EQ(b->refObject, nullptr);
    EXPECT_EQ(b->cockpitRefObject, nullptr);
    EXPECT_EQ(b->secondObject, nullptr);
    EXPECT_EQ(b->trackedObject, stays);

    // Without a cockpit system nothing happens, not even the line.
    b->refObject = gone;
    CockpitSystem* saved = g_CockpitSystem;
    g_CockpitSystem = nullptr;
    INS_RemoveObjectReferences(gone);
    g_CockpitSystem = saved;
    EXPECT_EQ(b->refObject, gone);
    EXPECT_TRUE(log.Take().empty());
}

// Freeing an object drops every reference to it, the shown sector and the
// cinematic view's object among them, which were left pointing at the freed
// record.
TEST_F(CockpitTest, FreeingAnObjectClearsTheCockpitsReferences) {
    SectorObject* sector = New(SA_MT_SECTOR);
    SectorObject* ship = Ship();
    Into(sector, ship);
    Cockpit* c = AddCockpit();
    c->sectorSpace = sector;
    c->refViewObject = ship;
    c->cockpitRefObject = ship;
    c->trackedObject = ship;
    O_DeleteSectorObject(sector);  // the ship goes with its sector
    EXPECT_EQ(c->sectorSpace, nullptr);
    EXPECT_EQ(c->refViewObject, nullptr);
    EXPECT_EQ(c->cockpitRefObject, nullptr);
    EXPECT_EQ(c->trackedObject, nullptr);
}

TEST_F(CockpitTest, AHitShakesTheShipsCockpitViews) {
    SectorObject* ship = Ship();
    SectorObject* other = Ship();
    Cockpit* view = AddCockpit();
    view->viewMode = 1;
    view->cockpitRefObject = ship;
    Cockpit* outside = AddCockpit();
    outside->viewMode = 2;
    outside->cockpitRefObject = ship;
    Cockpit* elsewhere = AddCockpit();
    elsewhere->viewMode = 1;
    elsewhere->cockpitRefObject = other;
    const struct {
        int32_t now, level, end, stored;
    } cases[] = {
        {5000, 150, 6000, 100},
        {5000, -5, 6000, 0},
        {5000, 42, 6000, 42},
        {32399500, 10, 500, 10},  // the end folds into the clock's range
    };
    for (const auto& c : cases) {
        SetClock(c.now);
        INS_StartShipRappel(ship, c.level);
        EXPECT_EQ(view->hitShakeEnd, c.end) << c.now;
        EXPECT_EQ(view->hitShakeLevel, c.stored) << c.level;
    }
    EXPECT_EQ(outside->hitShakeLevel, 0);
    EXPECT_EQ(elsewhere->hitShakeLevel, 0);
}

TEST_F(CockpitTest, CockpitNumbersOutOfRangeFallBackToTheShip) {
    TypeRecord* t = Types(SA_MT_SHIP, 1);
    t->field[SA_TF_SHIP_COCKPIT_COUNT] = 2;
    SectorObject* ship = Ship(100, 200, 300);
    ship->instance->matrix.m[1] = 77;
    Cockpit* c = AddCockpit();
    c->cockpitRefObject = ship;
    // Ship view 1 has a view point, view 0 has none.
    g_INSCockpitView = [](SectorObject*, int32_t n, QelVector* p, QelMatrix* m) {
        if (n != 1) return 0;
        *p = QelVector{1, 2, 3, 0};
        *m = QelMatrix{};
        m->m[0] = 5;
        return 1;
    };
    const struct {
        int32_t number, stored;
        bool logged;
        int32_t x, m0;
    } cases[] = {
        {-3, 0, false, 100, 65536},  // no view point: the ship
        {1, 1, false, 1, 5},
        {2, 2, true, 100, 65536},  // past the count: logged, kept, the ship
        {7, 7, true, 100, 65536},
    };
    for (const auto& k : cases) {
        LogCapture log;
        IC_SetCockpitNumber(c, k.number);
        EXPECT_EQ(c->cockpitNumber, k.stored);
        EXPECT_EQ(log.Contains("IC_SetCockpitNumber(" + std::to_string(k.stored) + ") to big!\n"), k.logged);
        QelVector p;
        QelMatrix m;
        INS_GetViewPosition(c, &p);
        INS_GetViewMatrix(c, &m);
        EXPECT_EQ(p.x, k.x) << k.number;
        EXPECT_EQ(m.m[0], k.m0) << k.number;
    }
    // Without a cockpit ref object: the origin and the identity.
    c->cockpitRefObject = nullptr;
    QelVector p{9, 9, 9, 0};
    QelMatrix m{};
    INS_GetViewPosition(c, &p);
    INS_GetViewMatrix(c, &m);
    EXPECT_EQ(p.x + p.y + p.z, 0);
    EXPECT_EQ(m.m[0] + m.m[5] + m.m[10], 3 * 65536);
    EXPECT_EQ(m.m[1], 0);
}

TEST(CockpitViews, Interpolation) {
    const struct {
        int32_t a, b, t, lo, hi, result;
    } cases[] = {
        {10, 20, 5, 7, 7, 15},  // lo = hi: the middle
        {10, 20, 3, 5, 9, 10},  // before the range
        {10, 20, 5, 5, 9, 10},  // at its start
        {10, 20, 9, 5, 9, 20},  // at its end
        {0, 100, 6, 5, 9, 25},  // small: 50 + 100 x (12 - 14) / 8
        {0, -5000, 48496, 32767, 64225, -2500},
        {100000, 0, -19005, -64225, 26215, 50000},    // the lever's forward half, in its middle
        {0, 1000, 70000, 0, 100000, 700},             // large: 500 + 1000 x 20000 / 100000
        {8, -7, 2, 0, 3, -2},                         // toward zero: 0 - 15 x 1 / 6
        {INT_MAX, INT_MIN, 5, -10, 10, -1073741823},  // no overflow: 0 - (2^32 - 1) x 10 / 40
    };
    for (const auto& c : cases)
        EXPECT_EQ(INS_Interpolate(c.a, c.b, c.t, c.lo, c.hi), c.result)
            << c.a << " " << c.b << " " << c.t << " " << c.lo << " " << c.hi;
}

TEST(CockpitViews, DistancesAndLargestComponents) {
    const QelVector o{0, 0, 0, 0};
    const QelVector p{3 * 65536, -4 * 65536, 0, 0};
    const QelVector far{INT_MAX, INT_MAX, INT_MAX, 0};
    const QelVector near{INT_MIN, INT_MIN, INT_MIN, 0};
    EXPECT_EQ(INS_VecDistance(&o, &p), 5 * 65536);
    // The sum of the squares overflows 64 bits; the distance is clamped.
    EXPECT_EQ(INS_VecDistance(&near, &far), INT_MAX);
    EXPECT_EQ(INS_VecDistance(&o, &far), INT_MAX);
    EXPECT_EQ(INS_MaxAbsComponent(&p), 4 * 65536);
    EXPECT_EQ(INS_MaxAbsComponent(&near), INT_MAX);
    EXPECT_EQ(INS_MaxAbsDifference(&o, &p), 4 * 65536);
    EXPECT_EQ(INS_MaxAbsDifference(&near, &far), INT_MAX);
    // Far-apart positions' differences clamp instead of wrapping.
    const QelVector d = INS_VecSub(near, far), e = INS_VecSub(p, o);
    EXPECT_EQ(d.x, INT_MIN);
    EXPECT_EQ(INS_VecSub(far, near).z, INT_MAX);
    EXPECT_EQ(e.x, 3 * 65536);
    EXPECT_EQ(e.y, -4 * 65536);
}

TEST_F(CockpitTest, FreeingCockpitsDropsTheActiveControlCockpit) {
    CockpitSystem* s = g_CockpitSystem;
    // The tables' buckets (the cockpits', the scene engine's) stay grown.
    INS_AddCockpit(s), INS_AddCockpit(s), INS_AddCockpit(s), INS_AddCockpit(s);
    INS_ClearAllCockpits(s);
    const int64_t bytes = Int_GetTagMem(0);
    const uint32_t a = INS_AddCockpit(s), b = INS_AddCockpit(s);
    INS_AddCockpit(s);
    s->activeControl = static_cast<int32_t>(a);
    INS_FreeCockpit(s, b);
    EXPECT_EQ(s->activeControl, static_cast<int32_t>(a));
    INS_FreeCockpit(s, 99);  // not in the table: nothing
    EXPECT_EQ(INS_CockpitIds(s).size(), 2u);
    INS_FreeCockpit(s, a);
    EXPECT_EQ(s->activeControl, 0);
    EXPECT_EQ(INS_ActiveControlCockpit(), nullptr);
    INS_AddCockpit(s);
    INS_ClearAllCockpits(s);
    EXPECT_EQ(Qel_TableGetCount(s->cockpits), 0u);
    EXPECT_TRUE(INS_CockpitIds(s).empty());
    EXPECT_EQ(Int_GetTagMem(0), bytes);  // every record given back
}

TEST_F(CockpitTest, AFreedCockpitTakesItsSceneAndCameraWithIt) {
    Cockpit* c = AddCockpit();
    ASSERT_NE(B3D_SceneFind(c->scene), nullptr);
    ASSERT_NE(B3D_InstFind(c->camera), nullptr);
    const uint32_t scene = c->scene, camera = c->camera, light = c->lights[15];
    const uint32_t overlay = c->overlay->scene, menus = c->iconMenus->scene, tooltip = c->tooltip->scene;
    INS_FreeCockpit(g_CockpitSystem, c->id);
    for (uint32_t id : {scene, overlay, menus, tooltip}) EXPECT_EQ(B3D_SceneFind(id), nullptr);
    EXPECT_EQ(B3D_InstFind(camera), nullptr);
    EXPECT_EQ(B3D_InstFind(light), nullptr);
}

TEST_F(CockpitTest, TheSteeredShipFollowsTheViewMode) {
    SectorObject* ref = Ship();
    SectorObject* cockpitShip = Ship();
    Cockpit* c = AddCockpit();
    c->refObject = ref;
    c->cockpitRefObject = cockpitShip;
    EXPECT_EQ(INS_SteeredShip(), nullptr);  // no active control cockpit
    g_CockpitSystem->activeControl = static_cast<int32_t>(c->id);
    EXPECT_EQ(INS_SteeredShip(), ref);
    c->viewMode = 4 | 1;
    EXPECT_EQ(INS_SteeredShip(), cockpitShip);
    g_CockpitSystem->activeControl = 12345;  // made up
    EXPECT_EQ(INS_SteeredShip(), nullptr);
}

TEST_F(CockpitTest, EngineCallsOfModuleTen) {
    StoryRunner runner;
    ASSERT_TRUE(runner.Load(kNopStory));
    INS_RegisterSysCalls();
    int32_t module = 0, call = 0;
    ASSERT_EQ(SE_FindCallName(runner.ctx(), "INS_HideOverlayBrackets", &module, &call), 1);
    EXPECT_EQ(module, g_CockpitModule.moduleNumber);
    EXPECT_EQ(call, 129);
    EXPECT_EQ(std::string(INS_GetCallNames()[67]), "INS_SetActiveControlCockpit");
    EXPECT_EQ(INS_GetCallNames()[INS_CALL_NAME_COUNT], nullptr);

    g_CockpitSystem->crossHair = 5;
    const struct {
        int32_t call;
        int32_t answer;
        const char* line;
    } cases[] = {
        {71, 0, "INS_SysCall: (invalid address) Undefined System Call INS_DisplayCameraMessage (71)\n"},
        {75, 0, "INS_SysCall: (invalid address) Undefined System Call INS_SetExternalView (75)\n"},
        {130, 0, "INS_SysCall: (invalid address) Undefined System Call 130\n"},
        {-1, 0, "INS_SysCall: (invalid address) Undefined System Call -1\n"},
        {101, 5, ""},   // INS_GetCrossHair
        {102, -1, ""},  // INS_GetBodyForCrossHair
    };
    for (const auto& c : cases) {
        SE_Task* task = SE_AllocTask(runner.ctx(), 32);
        ASSERT_NE(task, nullptr);
        LogCapture log;
        EXPECT_EQ(INS_SysCall(1, task, c.call, 0, nullptr), 1);
        EXPECT_EQ(log.Take(), c.line);
        EXPECT_TRUE(task->answered);
        EXPECT_EQ(task->callResult.tag, VARTYPE_INTEGER);
        EXPECT_EQ(task->callResult.i, c.answer);
        SE_RemoveTask(runner.ctx(), task);
    }

    INS_ReturnIntCallback(0, 17);
    EXPECT_EQ(g_CockpitSystem->answer.tag, VARTYPE_INTEGER);
    EXPECT_EQ(g_CockpitSystem->answer.i, 17);
}

}  // namespace
