// Calls 230 to 258: statistics, dumps, the stop of an order, firing and
// searches, collision queries, distances, cut scenes and takes, called as the
// script engine calls them; the take that a task waits on, through frames of
// the scene engine's take step.
#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "scene/caches.h"
#include "scene/freeing.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "scene/takes.h"
#include "script/arrays.h"
#include "space/combatcalls.h"
#include "space/cutscene.h"
#include "space/flight.h"
#include "space/orders.h"
#include "space/weapons.h"
#include "space/order_fixture.h"
#include "support/gamefolder.h"
#include "support/logcapture.h"

namespace {

// A cut whose path plays two seconds, and one without paths.
constexpr int32_t kPlayingCut = 801;
constexpr int32_t kEmptyCut = 802;

class CombatCalls : public OrderTest {
protected:
    void SetUp() override {
        OrderTest::SetUp();
        folder_ = std::make_unique<TempGameFolder>();
        WriteCut(kPlayingCut,
                 "path 0 -1\n"
                 "  key 0x800 2000 0 0 0 0 0 0 0.25\n"
                 "  key 0x800 -1 65536 0 0 0 0 0 0.25\n");
        WriteCut(kEmptyCut, "info nothing\n");
        O_Sector(sector_)->spaceScene = B3D_SceneAlloc();
    }
    void TearDown() override {
        SA_FreeAllObjects(&root_);
        ST_RemoveAllTakes(&root_);
        J3D_TakeFreeAll();
        J3D_FreeAllCuts();
        folder_.reset();
        OrderTest::TearDown();
    }
    void WriteCut(int id, const std::string& source) const { WriteSourceCut(*folder_, id, source); }
    // A frame with the scene engine's take step before the space update, as
    // the game loop runs them.
    void TakeFrame(int32_t ms) {
        SetClock(S_ClockAdvance(system_->gameClock, ms));
        J3D_TakesUpdate();
        Frame(0);
    }
    // A take of the sector started on the playing cut by task 55; the take's id.
    int32_t StartedTake() {
        const int32_t take = Call(252, {IntValue(Id(sector_))});
        EXPECT_GT(take, 0);
        Inst3D* any = B3D_AllocInst();
        EXPECT_EQ(
            Call(253,
                 {IntValue(take), IntValue(kPlayingCut), IntValue(-1), IntValue(any->id), IntValue(0), IntValue(0)},
                 55),
            kParked);
        return take;
    }
    std::unique_ptr<TempGameFolder> folder_;
};

TEST_F(CombatCalls, StatisticsAndTheReplaceBody) {
    root_.game.lasersFired = 11;
    root_.game.missilesFired = 12;
    root_.game.laserHits = 13;
    root_.game.missileHits = 14;
    root_.game.totalDistance = 15;
    for (int32_t n = 230; n <= 234; ++n) EXPECT_EQ(Call(n, {}), n - 219) << n;
    EXPECT_EQ(Call(258, {IntValue(4711)}), 0);
    EXPECT_EQ(root_.game.takeReplaceBody, 4711);
}

TEST_F(CombatCalls, DumpsOneObjectOrAll) {
    SectorObject* ship = Ship();
    struct Case {
        std::vector<ScriptValue> args;
        bool all;
    };
    const Case cases[] = {{{}, true}, {{IntValue(Id(ship))}, false}, {{IntValue(Id(ship)), IntValue(1)}, true}};
    for (const Case& k : cases) {
        LogCapture log;
        EXPECT_EQ(Call(235, k.args), 0);
        EXPECT_EQ(log.Contains("Unlinked Object Dump:\n"), k.all) << k.args.size();
        EXPECT_TRUE(log.Contains("#" + std::to_string(Id(ship)))) << k.args.size();
    }
    LogCapture log;
    EXPECT_EQ(Call(236, {}), 0);
    EXPECT_TRUE(log.Text().ends_with("Finished Inst3D Dump\n"));
}

TEST_F(CombatCalls, StopObjectEndsAWarpInAndAnyOrder) {
    SectorObject* ship = Ship(5000, 0, 0);
    ShipData* d = O_ShipData(ship);
    d->CourseType = VER_WARPIN;
    d->OrderPos = QelVector{100, 200, 300, 0};
    ship->flags |= SA_FLAG_NO_AREA_DAMAGE | SA_FLAG_QUEUED;
    EXPECT_EQ(Call(237, {IntValue(Id(ship)), IntValue(3)}), 0);
    EXPECT_EQ(ship->instance->pos.x, 100);
    EXPECT_EQ(ship->instance->pos.z, 300);
    EXPECT_EQ(ship->flags & (SA_FLAG_NO_AREA_DAMAGE | SA_FLAG_QUEUED), 0u);
    EXPECT_EQ(d->CourseType, VER_STOP);
    EXPECT_EQ(d->NextThink, system_->gameClock);
    // Not a ship: only its waiting task is answered; with none, nothing is.
    SectorObject* rock = Placed(SA_MT_ASTEROID, 0, 0, 0, 0);
    rock->callerModule = static_cast<uint32_t>(module_);
    rock->callerHandle = 9;
    EXPECT_EQ(Call(237, {IntValue(Id(rock)), IntValue(4)}), 0);
    EXPECT_EQ(Call(237, {IntValue(Id(rock)), IntValue(4)}), 0);
    EXPECT_EQ(Told(), (Answers{{ship->id, 3}, {9, 4}}));
    EXPECT_EQ(Call(237, {IntValue(99999), IntValue(4)}), 0);
}

TEST_F(CombatCalls, ForceMoveSetsOrClearsItsFlag) {
    SectorObject* o = Ship();
    struct Case {
        std::vector<ScriptValue> extra;
        bool set;
    };
    const Case cases[] = {{{IntValue(0)}, false}, {{}, true}, {{IntValue(0)}, false}, {{IntValue(2)}, true}};
    for (const Case& k : cases) {
        std::vector<ScriptValue> args{IntValue(Id(o))};
        args.insert(args.end(), k.extra.begin(), k.extra.end());
        EXPECT_EQ(Call(238, args), 0);
        EXPECT_EQ((o->flags & SA_FLAG_HANGS_ON) != 0, k.set) << k.extra.size();
    }
}

// A ship without lasers fires nothing (11); the second argument of 240 is
// not even looked up, that of 239 is only when it is not 0.
TEST_F(CombatCalls, FiringReadsItsArguments) {
    SectorObject* ship = Ship();
    struct Case {
        int32_t call;
        int32_t second;
        int32_t answer;
        bool lookedUp;
    };
    const Case cases[] = {{240, 99999, SA_FIRE_NONE, false},
                          {239, 0, SA_FIRE_NONE, false},
                          {239, 99999, SA_FIRE_NONE, true},
                          {239, Id(ship), SA_FIRE_NONE, false}};
    for (const Case& k : cases) {
        LogCapture log;
        EXPECT_EQ(Call(k.call, {IntValue(Id(ship)), IntValue(k.second), IntValue(0), IntValue(0)}), k.answer);
        EXPECT_EQ(log.Contains("SA_FindObjectByID(99999)"), k.lookedUp) << k.call;
    }
    EXPECT_EQ(Call(240, {IntValue(99999), IntValue(0), IntValue(0), IntValue(0)}), 0);
}

TEST_F(CombatCalls, EnemySearchesTakeTheirRangeOnlyWithTheirCount) {
    SectorObject* hunter = Ship();
    hunter->group = 1;
    SA_SetGroupRelation(hunter, 2, -1);
    SectorObject* enemy = Placed(SA_MT_SHIP, 0, 300000, 0, 0);
    enemy->group = 2;
    enemy->hull = 500;
    SectorObject* spot = Placed(SA_MT_ASTEROID, 0, 290000, 0, 0);
    const ScriptValue h = IntValue(Id(hunter)), near = IntValue(1000), far = IntValue(400000);
    struct Case {
        int32_t call;
        std::vector<ScriptValue> args;
        int32_t answer;
    };
    const Case cases[] = {
        {243, {h}, Id(enemy)},
        {243, {h, near}, 0},
        {243, {h, near, IntValue(0)}, Id(enemy)},  // with three arguments the range is not read
        {244, {h, IntValue(Id(spot))}, Id(enemy)},
        {244, {h, IntValue(Id(spot)), IntValue(20000)}, Id(enemy)},  // measured from the spot
        {244, {h, IntValue(Id(spot)), IntValue(10000)}, 0},
        {244, {h, IntValue(99999)}, 0},
        {245, {h, IntValue(100), IntValue(1000)}, Id(enemy)},
        {245, {h, IntValue(100), IntValue(1000), near}, 0},
        {245, {h, IntValue(100), IntValue(1000), far}, Id(enemy)},
        {245, {h, IntValue(500), IntValue(1000)}, 0},
    };
    for (const Case& k : cases) EXPECT_EQ(Call(k.call, k.args), k.answer) << k.call << " " << k.args.size();
}

TEST_F(CombatCalls, CollisionsAndDistances) {
    SectorObject* a = Ship();
    SectorObject* b = Ship(3, 4, 12);
    EXPECT_EQ(Call(247, {IntValue(Id(a))}), 0);
    a->flags |= SA_FLAG_COLLIDED;
    EXPECT_EQ(Call(247, {IntValue(Id(a))}), 1);
    // The list of a ship; an empty entry leaves its element unwritten.
    EXPECT_EQ(Call(248, {IntValue(Id(a))}), 0);
    ShipData* d = O_ShipData(a);
    d->collisionCount = 3;
    d->collisionObjects[0] = b;
    d->collisionObjects[2] = a;
    Call(248, {IntValue(Id(a))});
    ASSERT_EQ(task_.callResult.tag, VARTYPE_ARRAY);
    EXPECT_EQ(SV_ArraySize(&task_.callResult), 3);
    EXPECT_EQ(SV_ArrayRead(&task_.callResult, 0)->i, Id(b));
    EXPECT_EQ(SV_ArrayRead(&task_.callResult, 2)->i, Id(a));
    SV_Release(&task_.callResult);
    EXPECT_EQ(Call(248, {IntValue(Id(Placed(SA_MT_ASTEROID, 0, 0, 0, 0)))}), 0);
    // Distances: the sum of the squares of far positions does not fit 64 bits.
    EXPECT_EQ(Call(249, {IntValue(Id(a)), IntValue(Id(b))}), 13);
    a->instance->pos = QelVector{INT32_MIN, INT32_MIN, INT32_MIN, 0};
    b->instance->pos = QelVector{INT32_MAX, INT32_MAX, INT32_MAX, 0};
    EXPECT_EQ(Call(249, {IntValue(Id(a)), IntValue(Id(b))}), INT32_MAX);
    b->instance->pos = QelVector{INT32_MIN, INT32_MIN + 1, INT32_MIN, 0};
    EXPECT_EQ(Call(249, {IntValue(Id(a)), IntValue(Id(b))}), 1);
    EXPECT_EQ(Call(249, {IntValue(Id(a)), IntValue(99999)}), 0);
}

TEST_F(CombatCalls, LoadCutScenePlacesByItsArgumentCount) {
    SectorObject* o = Ship(1000, 2000, 3000);
    Qel_MatFromAngles(&o->instance->matrix, 16384, 0, 0);
    const ScriptValue cut = IntValue(kPlayingCut), id = IntValue(Id(o)), zero = IntValue(0);
    struct Case {
        std::vector<ScriptValue> args;
        int32_t answer;
        QelVector pos;
    };
    const Case cases[] = {
        {{cut}, 1, {}},
        {{IntValue(999)}, 0, {}},
        {{cut, id}, 1, {1000, 2000, 3000, 0}},
        {{cut, zero, zero}, 0, {}},
        {{cut, zero, zero, zero, zero, zero}, 0, {}},
        {{cut, IntValue(7), IntValue(8), IntValue(9), zero, zero, zero}, 1, {7, 8, 9, 0}},
        {
            {cut, id, IntValue(10), zero, zero, zero, zero, zero},
            1,
            {},
        },
        {{cut, IntValue(99999), zero, zero, zero, zero, zero, zero}, 0, {}},
    };
    QelVector turned;
    const QelVector ten{10, 0, 0, 0};
    Qel_MatMulVec(&o->instance->matrix, &ten, &turned);
    for (const Case& k : cases) {
        J3D_FreeAllCuts();
        EXPECT_EQ(Call(250, k.args), k.answer) << k.args.size();
        const J3D_Cut* loaded = J3D_CutIsLoaded(kPlayingCut);
        EXPECT_EQ(loaded != nullptr, k.answer == 1) << k.args.size();
        if (!loaded || k.args.size() == 1) continue;
        const QelVector want =
            k.args.size() == 8 ? QelVector{1000 + turned.x, 2000 + turned.y, 3000 + turned.z, 0} : k.pos;
        EXPECT_EQ(loaded->placePos.x, want.x) << k.args.size();
        EXPECT_EQ(loaded->placePos.y, want.y) << k.args.size();
        EXPECT_EQ(loaded->placePos.z, want.z) << k.args.size();
        EXPECT_TRUE(loaded->flags & CUT_PLACED);
    }
    EXPECT_EQ(Call(251, {cut}), 0);
    EXPECT_EQ(J3D_CutIsLoaded(kPlayingCut), nullptr);
}

TEST_F(CombatCalls, TakesOfASectorShareTheirIdWithTheSceneEngine) {
    const int32_t take = Call(252, {IntValue(Id(sector_))});
    ASSERT_GT(take, 0);
    EXPECT_NE(ST_FindTake(take), nullptr);
    EXPECT_NE(J3D_TakeFind(static_cast<uint32_t>(take)), nullptr);
    EXPECT_EQ(Call(252, {IntValue(Id(Ship()))}), 0);
    // A take whose scene engine's take is gone answers 0 and does nothing.
    SA_Take* lone = ST_CreateTake(4000, sector_);
    Inst3D* inst = B3D_AllocInst();
    EXPECT_EQ(Call(253, {IntValue(lone->id), IntValue(kPlayingCut), IntValue(-1), IntValue(inst->id), IntValue(0),
                         IntValue(0)}),
              0);
    EXPECT_EQ(lone->cutId, 0);
    // A missing instance, or a cut in which nothing plays (answered at once).
    EXPECT_EQ(
        Call(253, {IntValue(take), IntValue(kPlayingCut), IntValue(-1), IntValue(99999), IntValue(0), IntValue(0)}), 0);
    EXPECT_EQ(
        Call(253, {IntValue(take), IntValue(kEmptyCut), IntValue(-1), IntValue(inst->id), IntValue(0), IntValue(0)}),
        1);
    for (int32_t n = 254; n <= 257; ++n) EXPECT_EQ(Call(n, {IntValue(99999)}), 0) << n;
}

TEST_F(CombatCalls, AStartedTakeAnswersItsTaskWhenItEnds) {
    const int32_t take = StartedTake();
    EXPECT_EQ(J3D_TakeFind(static_cast<uint32_t>(take))->words2[0], 0);
    const int32_t left = Call(256, {IntValue(take)});
    EXPECT_GT(left, 1000);
    EXPECT_LE(left, 2000);
    TakeFrame(1000);
    EXPECT_TRUE(Told().empty());
    EXPECT_LT(Call(256, {IntValue(take)}), left);
    TakeFrame(1500);
    TakeFrame(0);
    EXPECT_EQ(Told(), (Answers{{55, 1}}));
    EXPECT_EQ(Call(256, {IntValue(take)}), 0);
}

TEST_F(CombatCalls, StopFinishAndANewStartAnswerTheWaitingTask) {
    const int32_t take = StartedTake();
    EXPECT_EQ(Call(254, {IntValue(take)}), 0);
    EXPECT_EQ(Told(), (Answers{{55, 1}}));
    Inst3D* inst = B3D_AllocInst();
    const std::vector<ScriptValue> start{IntValue(take),     IntValue(kPlayingCut), IntValue(-1),
                                         IntValue(inst->id), IntValue(0),           IntValue(0)};
    EXPECT_EQ(Call(253, start, 56), kParked);
    // A second start answers the first task before it waits in its place.
    EXPECT_EQ(Call(253, start, 57), kParked);
    EXPECT_EQ(Told(), (Answers{{55, 1}, {56, 1}}));
    EXPECT_EQ(Call(255, {IntValue(take)}), 0);
    EXPECT_EQ(Told(), (Answers{{55, 1}, {56, 1}, {57, 1}}));
    EXPECT_EQ(Call(256, {IntValue(take)}), 0);
}

// The take a task waits on goes: the task hears that it stopped (it would
// otherwise wait for ever), and both takes and the cut's instances are gone.
TEST_F(CombatCalls, FreeingAWaitedTakeAnswersItsTask) {
    const int32_t take = StartedTake();
    const SA_Take* record = ST_FindTake(take);
    ASSERT_EQ(record->slotCount, 1);
    const uint32_t instId = record->slots[0].instId;
    EXPECT_EQ(Call(257, {IntValue(take)}), 0);
    EXPECT_EQ(Told(), (Answers{{55, 1}}));
    EXPECT_EQ(ST_FindTake(take), nullptr);
    EXPECT_EQ(J3D_TakeFind(static_cast<uint32_t>(take)), nullptr);
    EXPECT_EQ(B3D_InstFind(instId), nullptr);
    TakeFrame(3000);
    EXPECT_EQ(Told().size(), 1u);
}

TEST_F(CombatCalls, AStartPlacesTheCutByItsArray) {
    const int32_t take = Call(252, {IntValue(Id(sector_))});
    Inst3D* inst = B3D_AllocInst();
    ScriptValue place{};
    SV_ArrayAlloc(&place, 6);
    const int32_t w[6] = {10, 20, 30, 16384, 0, 0};
    for (int32_t i = 0; i < 6; ++i) SV_ArrayWriteInt(&place, i, w[i]);
    EXPECT_EQ(Call(253, {IntValue(take), IntValue(kPlayingCut), IntValue(-1), IntValue(inst->id), IntValue(0),
                         IntValue(42), place}),
              kParked);
    SV_Release(&place);
    const J3D_Cut* cut = J3D_CutIsLoaded(kPlayingCut);
    ASSERT_NE(cut, nullptr);
    EXPECT_EQ(cut->placePos.x, 10);
    EXPECT_EQ(cut->placePos.z, 30);
    QelMatrix m;
    Qel_MatFromAngles(&m, 16384, 0, 0);
    EXPECT_EQ(cut->placeMatrix.m[0], m.m[0]);
    EXPECT_EQ(cut->placeMatrix.m[2], m.m[2]);
    EXPECT_EQ(J3D_TakeFind(static_cast<uint32_t>(take))->words2[0], 42);
}

}  // namespace
