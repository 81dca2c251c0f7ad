#include "space/objects.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/strings.h"
#include "scene/trees.h"
#include "script/modules.h"
#include "space/callnames.h"
#include "space/queries.h"
#include "space/space_fixture.h"
#include "support/logcapture.h"
#include "support/script_run.h"

namespace {

using Calls = std::vector<std::string>;

Calls& Spied() {
    static Calls calls;
    return calls;
}

void Spy(const char* phase, SectorObject* sector) { Spied().push_back(phase + std::to_string(sector->subType)); }
void Collide(SectorObject* s) { Spy("C", s); }
void Behave(SectorObject* s) { Spy("B", s); }
void Hangars(SectorObject* s) { Spy("H", s); }
void Move(SectorObject* s) { Spy("M", s); }
void Orient(SectorObject* s) { Spy("O", s); }

class SpaceObjects : public SpaceTest {
protected:
    void SetUp() override {
        SpaceTest::SetUp();
        saved_ = g_SAPhases;
        g_SAPhases = SA_UpdatePhases{Collide, Behave, Hangars, Move, Orient};
        Spied().clear();
    }
    void TearDown() override {
        g_SAPhases = saved_;
        SpaceTest::TearDown();
    }
    SA_UpdatePhases saved_{};
};

TEST_F(SpaceObjects, InitMakesAnEmptyRootAndRegistersTheCallNames) {
    StoryRunner runner;  // module 1 and the test module 2: the space module is 3 here
    SpaceRoot root{};
    root.game.word1 = 5;
    root.game.lasersFired = 7;
    root.inCall = 1;
    ASSERT_EQ(SA_Init(&root), &root);
    EXPECT_EQ(root.moduleNumber, 3);
    EXPECT_EQ(SA_ListFirst(&root.objects), nullptr);
    EXPECT_EQ(Qel_TableGetCount(root.ids), 0u);
    EXPECT_EQ(Qel_TableGetCount(root.takes), 0u);
    EXPECT_EQ(root.game.word1, 5);  // only the second to the eleventh are cleared
    EXPECT_EQ(root.game.lasersFired, 0);
    EXPECT_EQ(root.inCall, 0);
    EXPECT_NE(g_SADockTunnelBody, 0);
    const std::pair<const char*, int32_t> names[] = {{"SA_AllocObject", 0},         {"SA_SetGlide", 70},
                                                     {"SA_GetNumSubTypes", 130},    {"SA_CheckDistances", 260},
                                                     {"SA_GetSpaceDustScene", 286}, {"SA_TractorDisconnect", 349},
                                                     {"SA_CollectDebris", 357}};
    for (const auto& [name, number] : names) {
        int32_t module = 0, call = -1;
        ASSERT_TRUE(SE_FindCallName(runner.ctx(), name, &module, &call)) << name;
        EXPECT_EQ(module, 3) << name;
        EXPECT_EQ(call, number) << name;
    }
    const char* const* table = SA_GetCallNames();
    int32_t count = 0;
    while (table[count]) ++count;
    EXPECT_EQ(count, SA_CALL_NAME_COUNT);
    EXPECT_EQ(runner.ctx()->modules[3].ReturnInt, &SA_ReturnIntCallback);

    // Until the calls are served, every one answers 0 at once.
    ASSERT_TRUE(runner.Load(R"(
        end
    .func "Ask" need 8
        c1
        c2
        c2
        sys "SA_AllocObject"
        c0
        sys "SA_CheckDistances"
        add
        ret
    )"));
    SpaceRoot* saved = g_SpaceRoot;
    g_SpaceRoot = &root;
    runner.Start(0, "Ask");
    EXPECT_EQ(runner.Only(), "0");
    g_SpaceRoot = saved;
    SA_ResetObjectDB(&root);
}

TEST_F(SpaceObjects, TheDriverRunsItsPhasesInTheirOrder) {
    struct Case {
        const char* name;
        int32_t running;
        bool secondInactive;
        Calls expected;
    } cases[] = {
        {"running", 1, false, {"C1", "B1", "H1", "C2", "B2", "H2", "M1", "O1", "M2", "O2"}},
        {"stopped: movement only", 0, false, {"M1", "O1", "M2", "O2"}},
        {"an inactive sector", 1, true, {"C1", "B1", "H1", "M1", "O1"}},
        {"stopped, inactive", 0, true, {"M1", "O1"}},
    };
    for (const Case& c : cases) {
        New(SA_MT_SECTOR, 1);
        New(SA_MT_SHIP);  // not a sector: no phase runs for it
        SectorObject* second = New(SA_MT_SECTOR, 2);
        if (c.secondInactive) O_Sector(second)->spaceFlags |= SA_SPACE_INACTIVE;
        root_.running = c.running;
        Spied().clear();
        SA_UpdateSpace();
        EXPECT_EQ(Spied(), c.expected) << c.name;
        SA_FreeAllObjects(&root_);
        EXPECT_EQ(SA_ListFirst(&root_.objects), nullptr);
    }
}

// A phase that frees the next sector: the pass goes on without it.
void FreeNextSector(SectorObject* s) {
    Spy("C", s);
    SectorObject* next = SA_ListNext(s);
    if (next && next->mainType == SA_MT_SECTOR) O_DeleteSectorObject(next);
}

TEST_F(SpaceObjects, APhaseThatFreesASectorLeavesThePassOnLiveSectors) {
    g_SAPhases.checkCollisions = FreeNextSector;
    New(SA_MT_SECTOR, 1);
    New(SA_MT_SECTOR, 2);
    root_.running = 1;
    SA_UpdateSpace();
    EXPECT_EQ(Spied(), (Calls{"C1", "B1", "H1", "M1", "O1"}));
}

TEST_F(SpaceObjects, KilledChildrenOfSectorsAreDeleted) {
    SectorObject* active = New(SA_MT_SECTOR, 0);
    SectorObject* inactive = New(SA_MT_SECTOR, 1);
    O_Sector(inactive)->spaceFlags |= SA_SPACE_INACTIVE;
    SectorObject* a = New(SA_MT_SHIP);
    SectorObject* b = New(SA_MT_SHIP);
    SectorObject* alive = New(SA_MT_SHIP);
    SectorObject* c = New(SA_MT_SHIP);
    SectorObject* dock = New(SA_MT_DOCK);
    SectorObject* docked = New(SA_MT_SHIP);
    Into(active, a);
    Into(active, b);  // two killed siblings go in one pass
    Into(active, alive);
    Into(inactive, c);  // the sector being inactive does not keep it
    Into(active, dock);
    Into(dock, docked);  // a killed ship in a dock does not wait for the dock
    SectorObject* docked2 = New(SA_MT_SHIP);
    Into(dock, docked2);
    // A killed sector goes with all it holds; so does a killed object not yet placed.
    SectorObject* killedSector = New(SA_MT_SECTOR, 2);
    SectorObject* held = New(SA_MT_SHIP);
    Into(killedSector, held);
    SectorObject* unplaced = New(SA_MT_SHIP);
    const uint32_t ids[] = {a->id, b->id, c->id, docked->id, killedSector->id, held->id, unplaced->id};
    for (SectorObject* o : {a, b, c, docked, killedSector, unplaced}) o->flags |= SA_FLAG_KILLED;
    root_.game.playerObject = b;
    SA_ReturnIntCallback(b->id, 3);  // a held result is released with it
    SA_DeleteKilledObjects();
    for (uint32_t id : ids) EXPECT_EQ(Qel_TableGet(root_.ids, id), 0u);
    EXPECT_EQ(root_.game.playerObject, nullptr);
    EXPECT_EQ(SA_ListFirst(O_GetChildList(active)), alive);
    EXPECT_EQ(SA_ListNext(alive), dock);
    EXPECT_EQ(SA_ListFirst(O_GetChildList(inactive)), nullptr);
    EXPECT_EQ(SA_ListFirst(O_GetChildList(dock)), docked2);
    EXPECT_EQ(SA_ListNext(docked2), nullptr);
    EXPECT_EQ(SA_ListFirst(&root_.objects), active);
    EXPECT_EQ(SA_ListNext(inactive), nullptr);
}

TEST_F(SpaceObjects, LookupFailuresNameTheStoryPosition) {
    SectorObject* o = New(SA_MT_SHIP);
    const uint32_t id = o->id;
    EXPECT_EQ(SA_FindObjectByID(id), o);
    O_DeleteSectorObject(o);
    struct Case {
        uint32_t id;
        int32_t inCall;
        std::string line;
    } cases[] = {
        {0, 0, "SA_FindObjectByID(0) NoStory failed!\n"},
        {id, 0, "SA_FindObjectByID(" + std::to_string(id) + ") NoStory failed!\n"},
        {77, 1, "SA_FindObjectByID(77) invalid address failed!\n"},  // in a call, but no task runs
    };
    for (const Case& c : cases) {
        const std::string& expected = c.line;
        LogCapture log;
        root_.inCall = c.inCall;
        EXPECT_EQ(SA_FindObjectByID(c.id), nullptr);
        EXPECT_TRUE(log.Contains(expected)) << log.Text();
    }
    root_.inCall = 0;
}

TEST_F(SpaceObjects, IntegerResultsReachTheirObjectOrTheRoot) {
    SectorObject* o = New(SA_MT_SHIP);
    SA_ReturnIntCallback(o->id, 42);
    EXPECT_EQ(o->answerArrived, 1);
    EXPECT_EQ(o->result.tag, VARTYPE_INTEGER);
    EXPECT_EQ(o->result.i, 42);
    SA_ReturnIntCallback(0, 5);
    EXPECT_EQ(root_.answerArrived, 1);
    EXPECT_EQ(root_.result.tag, VARTYPE_INTEGER);
    EXPECT_EQ(root_.result.i, 5);
    LogCapture log;
    SA_ReturnIntCallback(o->id + 100, 9);  // no such object: only the lookup's line
    EXPECT_TRUE(log.Contains("SA_FindObjectByID(" + std::to_string(o->id + 100) + ") NoStory failed!\n"));
    EXPECT_EQ(o->result.i, 42);
    EXPECT_EQ(root_.result.i, 5);
}

TEST_F(SpaceObjects, CreationFillsTheRecordAndFreeingGivesEverythingBack) {
    SetClock(1234);
    SectorObject* sector0 = New(SA_MT_SECTOR, 0);
    SectorObject* sector5 = New(SA_MT_SECTOR, 5);
    EXPECT_EQ(O_Sector(sector0)->spaceFlags, SA_SPACE_LOCAL_SOUNDS);
    EXPECT_EQ(O_Sector(sector5)->spaceFlags, 0u);
    EXPECT_EQ(O_Sector(sector5)->sectorSize, 10000000);
    EXPECT_EQ(O_Sector(sector5)->videoIndex, -1);
    SectorObject* ship = New(SA_MT_SHIP, 3);
    EXPECT_EQ(ship->group, SA_GROUP_NEW);
    EXPECT_EQ(ship->magic, SA_OBJECT_MAGIC);
    EXPECT_EQ(ship->wordAfterEvent, 16384);
    EXPECT_EQ(ship->time, 1234);
    EXPECT_EQ(ship->subType, 3);
    EXPECT_EQ(O_ShipData(ship)->maxSpeedOverride, -1);
    EXPECT_EQ(O_ShipData(ship)->SpeedLimit, -1);
    EXPECT_EQ(O_ShipData(ship)->PortIndex, -1);
    EXPECT_EQ(SA_GetCount(New(SA_MT_WARE_FIRST + 2)), 1);
    EXPECT_EQ(New(SA_MT_BACKGROUND)->typeData, nullptr);  // no object data
    EXPECT_NE(sector0->id, sector5->id);
    EXPECT_EQ(SA_FindObjectByID(ship->id), ship);

    // A ship with an instance, a name and a child that owns an instance too.
    ASSERT_NE(ship->instance, nullptr);
    ship->name = Qel_StrReassign(ship->name, "Hauler");
    SectorObject* laser = New(SA_MT_LASER);
    ASSERT_NE(laser->instance, nullptr);
    Into(ship, laser);
    const uint32_t inst = laser->instance->id;
    const uint32_t laserId = laser->id;
    O_DeleteSectorObject(ship);
    EXPECT_EQ(B3D_InstFind(inst), nullptr);
    EXPECT_EQ(Qel_TableGet(root_.ids, laserId), 0u);
    // The rest goes with the root (the fixture checks the memory books).
}

TEST_F(SpaceObjects, ListsLinkAndUnlink) {
    QelList list;
    Qel_ListInit(&list);
    SectorObject a{}, b{}, c{};
    SA_ListAddTail(&list, &a);
    SA_ListAddHead(&list, &b);
    SA_ListInsertAfter(&b, &c);
    std::vector<SectorObject*> order;
    for (SectorObject* o = SA_ListFirst(&list); o; o = SA_ListNext(o)) order.push_back(o);
    EXPECT_EQ(order, (std::vector<SectorObject*>{&b, &c, &a}));
    SA_ListUnlink(&c);
    SA_ListUnlink(&c);          // not in a list: nothing happens
    SA_ListAddTail(&list, &b);  // moves it
    order.clear();
    for (SectorObject* o = SA_ListFirst(&list); o; o = SA_ListNext(o)) order.push_back(o);
    EXPECT_EQ(order, (std::vector<SectorObject*>{&a, &b}));
}

}  // namespace
