// Calls 350 to 357: places in a type's cut (with the debris descent), turret
// aim and debris collection orders, rocks of a debris field and absolute
// poses; and an assembled story whose tasks wait on a take, on the two orders
// and on a landing the story stops.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "base/random.h"
#include "base/table.h"
#include "scene/caches.h"
#include "scene/freeing.h"
#include "scene/takes.h"
#include "scene/trees.h"
#include "script/arrays.h"
#include "script/tasks.h"
#include "space/cutcalls.h"
#include "space/create.h"
#include "space/cutscene.h"
#include "space/order_fixture.h"
#include "space/orders.h"
#include "support/gamefolder.h"
#include "support/logcapture.h"

namespace {

constexpr int32_t kFieldCut = 901;     // the cut of asteroid type 0
constexpr int32_t kDebrisCut = 902;    // the cut of asteroid type 1
constexpr int32_t kRockBody = 7100;    // asteroid type 2
constexpr int32_t kStoneBody = 7200;   // asteroid type 3
constexpr int32_t kDebrisBody = 7300;  // debris type 1 (the level below debris type 0)

// A path of one body that ends (at its last key) at x.
std::string PathTo(int n, int32_t body, int32_t x) {
    return "path " + std::to_string(n) + " " + std::to_string(body) + "\n  key 0x800 1000 0 0 0 0 0 0 0.25\n" +
           "  key 0x800 -1 " + std::to_string(x) + " 0 0 0.25 0 0 0.25\n";
}

ScriptValue Ints(std::vector<int32_t> w) {
    ScriptValue v{};
    SV_ArrayAlloc(&v, static_cast<int32_t>(w.size()));
    for (size_t i = 0; i < w.size(); ++i) SV_ArrayWriteInt(&v, static_cast<int32_t>(i), w[i]);
    return v;
}

class CutCalls : public OrderTest {
protected:
    void SetUp() override {
        OrderTest::SetUp();
        folder_ = std::make_unique<TempGameFolder>();
        TypeRecord* rocks = Types(SA_MT_ASTEROID, 4);
        rocks[0].field[SA_TF_CUT] = kFieldCut;
        rocks[1].field[SA_TF_CUT] = kDebrisCut;
        rocks[2].field[SA_TF_BODY] = kRockBody;
        rocks[3].field[SA_TF_BODY] = kStoneBody;
        rocks[2].field[SA_TF_ASTEROID_DENSITY] = 33;
        // Debris 0 stands for debris 1 below level 2, debris 1 for asteroid 1 below level 1.
        TypeRecord* debris = Types(SA_MT_DEBRIS, 2);
        debris[0].field[SA_TF_DEBRIS_LEVELS] = 2;
        debris[0].field[SA_TF_DEBRIS_NEXT_BODY] = kDebrisBody;
        debris[1].field[SA_TF_BODY] = kDebrisBody;
        debris[1].field[SA_TF_DEBRIS_LEVELS] = 1;
        debris[1].field[SA_TF_DEBRIS_NEXT_BODY] = 7500;
        rocks[1].field[SA_TF_BODY] = 7500;
        // Paths: 0 a rock at 100, 1 a stone at 300, 2 a body of no type, 3 a rock at 300, 4 a rock at -100.
        WriteCut(kFieldCut, PathTo(0, kRockBody, 100) + PathTo(1, kStoneBody, 300) + PathTo(2, 5555, 0) +
                                PathTo(3, kRockBody, 300) + PathTo(4, kRockBody, -100));
        WriteCut(kDebrisCut, PathTo(0, kStoneBody, 50) + "path 1 7100\n");
    }
    void TearDown() override {
        SA_FreeAllObjects(&root_);
        J3D_FreeAllCuts();
        folder_.reset();
        OrderTest::TearDown();
    }
    void WriteCut(int id, const std::string& source) const { WriteSourceCut(*folder_, id, source); }
    // Call 350 on asteroid type 0 wanting rocks (asteroid 2).
    int32_t FindRock(std::vector<ScriptValue> more) {
        std::vector<ScriptValue> args{IntValue(SA_MT_ASTEROID), IntValue(0), IntValue(SA_MT_ASTEROID), IntValue(2)};
        args.insert(args.end(), more.begin(), more.end());
        return Call(350, args);
    }
    std::unique_ptr<TempGameFolder> folder_;
};

TEST_F(CutCalls, FindIndexInCutNearestToAPoint) {
    ScriptValue none = Ints({0, 0, 0, 0, 0, 0});
    ScriptValue at300 = Ints({300, 0, 0});
    ScriptValue at200 = Ints({200, 0, 0});
    struct Case {
        ScriptValue* place;
        int32_t start;
        ScriptValue* point;
        int32_t answer;
    };
    const Case cases[] = {
        {&none, -1, &at300, 3},  // the rock at 300, not the stone
        {&none, -1, &at200, 3},  // 100 and 300 lie as far: the later one
        {&none, 3, &at200, 4},   // from after path 3 only path 4 is left
        {&none, 4, &at200, -1},  // the last path as start index
    };
    for (const Case& k : cases)
        EXPECT_EQ(FindRock({*k.place, IntValue(0), IntValue(k.start), *k.point}), k.answer) << k.start;
    // Placed 400 further along x the rocks end at 500, 700 and 300: 300 is nearest.
    ScriptValue along = Ints({400, 0, 0, 0, 0, 0});
    EXPECT_EQ(FindRock({along, IntValue(0), IntValue(-1), at300}), 4);
    for (ScriptValue* v : {&none, &at300, &at200, &along}) SV_Release(v);
    // Other kinds of path and wanted types.
    EXPECT_EQ(Call(350, {IntValue(SA_MT_ASTEROID), IntValue(0), IntValue(SA_MT_ASTEROID), IntValue(3)}), 1);
    EXPECT_EQ(Call(350, {IntValue(SA_MT_ASTEROID), IntValue(0), IntValue(SA_MT_SHIP), IntValue(-1)}), -1);
    EXPECT_EQ(Call(350, {IntValue(SA_MT_ASTEROID), IntValue(2), IntValue(SA_MT_ASTEROID), IntValue(-1)}), -1);
}

// Without a point each match is taken and the scan stops after it one time in five.
TEST_F(CutCalls, FindIndexInCutStopsOneTimeInFive) {
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        Qel_SeedRandom(seed);
        std::vector<int32_t> draws;
        for (int i = 0; i < 3; ++i) draws.push_back(Qel_LongRandom(5));
        const int32_t want = draws[0] == 0 ? 0 : draws[1] == 0 ? 3 : 4;
        Qel_SeedRandom(seed);
        EXPECT_EQ(FindRock({IntValue(0), IntValue(0)}), want) << seed;
    }
}

TEST_F(CutCalls, SubTypesAndPosesOfPaths) {
    struct Case {
        int32_t mainType, subType, index, level, answer;
    };
    const Case cases[] = {
        {SA_MT_ASTEROID, 0, 0, 0, 2},         {SA_MT_ASTEROID, 0, 1, 0, 3},  {SA_MT_ASTEROID, 0, 2, 0, -1},
        {SA_MT_ASTEROID, 0, -1, 0, -1},       {SA_MT_ASTEROID, 0, 5, 0, -1}, {SA_MT_DEBRIS, 0, 0, 0, 3},
        {SA_MT_DEBRIS, 0, 1, 0, -1},           // a path without keys
        {SA_MT_DEBRIS, 0, 0, 1, -1},           // level 1 stops at debris 1, which has no cut
        {SA_MT_ASTEROID + 65536, 0, 0, 0, 2},  // taken as 16 bits
    };
    for (const Case& k : cases)
        EXPECT_EQ(Call(352, {IntValue(k.mainType), IntValue(k.subType), IntValue(k.index), IntValue(k.level)}),
                  k.answer)
            << k.mainType << "/" << k.subType << " " << k.index << " " << k.level;
    ScriptValue place = Ints({10, 20, 30, 16384, 0, 0});
    Call(351, {IntValue(SA_MT_ASTEROID), IntValue(0), IntValue(1), place, IntValue(0)});
    SV_Release(&place);
    ASSERT_EQ(task_.callResult.tag, VARTYPE_ARRAY);
    QelMatrix m;
    Qel_MatFromAngles(&m, 16384, 0, 0);
    QelVector v;
    const QelVector end{300, 0, 0, 0};
    Qel_MatMulVec(&m, &end, &v);
    EXPECT_EQ(SV_ArrayRead(&task_.callResult, 0)->i, v.x + 10);
    EXPECT_EQ(SV_ArrayRead(&task_.callResult, 2)->i, v.z + 30);
    EXPECT_NE(SV_ArrayRead(&task_.callResult, 3)->i, 0);
    SV_Release(&task_.callResult);
    EXPECT_EQ(Call(351, {IntValue(SA_MT_ASTEROID), IntValue(0), IntValue(2), IntValue(0), IntValue(0)}), 0);
}

// Debris types that lead to each other end the descent rather than hang it.
TEST_F(CutCalls, ADebrisDescentEndsOnACycle) {
    SA_GetTypeRecord(SA_MT_DEBRIS, 0)->field[SA_TF_BODY] = 7600;
    SA_GetTypeRecord(SA_MT_DEBRIS, 1)->field[SA_TF_DEBRIS_NEXT_BODY] = 7600;
    SA_GetTypeRecord(SA_MT_DEBRIS, 1)->field[SA_TF_DEBRIS_LEVELS] = 5;
    EXPECT_EQ(Call(352, {IntValue(SA_MT_DEBRIS), IntValue(0), IntValue(0), IntValue(0)}), -1);
}

TEST_F(CutCalls, RocksOfADebrisField) {
    SectorObject* field = Placed(SA_MT_DEBRIS, 0, 0, 0, 0);
    SectorObject* seeker = Ship();
    std::vector<SectorObject*> rocks;
    for (int i = 0; i < 3; ++i) {
        rocks.push_back(Placed(SA_MT_ASTEROID, i == 1 ? 3 : 2, 0, 0, 0));
        rocks.back()->reference = field;
    }
    Placed(SA_MT_ASTEROID, 2, 0, 0, 0);  // of no field
    const ScriptValue f = IntValue(Id(field)), s = IntValue(Id(seeker));
    EXPECT_EQ(Call(354, {f, s, IntValue(-1)}), 0);  // the field is not detailed
    field->flags2 |= SA_FLAG2_DETAILED;
    struct Case {
        int32_t sub;
        int32_t answer;
    };
    const Case live[] = {{-1, Id(rocks[2])}, {3, Id(rocks[1])}, {2, Id(rocks[2])}, {0, 0}, {-2, 0}};
    for (const Case& k : live) EXPECT_EQ(Call(354, {f, s, IntValue(k.sub)}), k.answer) << k.sub;
    rocks[2]->flags |= SA_FLAG_KILLED;  // the last rock is killed: none, though others live
    EXPECT_EQ(Call(354, {f, s, IntValue(2)}), 0);
    EXPECT_EQ(Call(354, {f, IntValue(99999), IntValue(-1)}), 0);
    EXPECT_EQ(Call(354, {s, s, IntValue(-1)}), 0);
    EXPECT_EQ(Call(355, {IntValue(2)}), 33);
    EXPECT_EQ(Call(355, {IntValue(65536 + 2)}), 33);
    EXPECT_EQ(Call(355, {IntValue(40)}), 0);
}

TEST_F(CutCalls, AbsolutePoseOfAChildInstance) {
    SectorObject* ship = Ship(1000, 0, 0);
    Qel_MatFromAngles(&ship->instance->matrix, 16384, 0, 0);
    SectorObject* pod = Placed(SA_MT_SHIP, 0, 0, 0, 0);
    B3D_InstAddToInst(pod->instance, ship->instance);
    pod->instance->pos = QelVector{0, 0, 500, 0};
    Call(356, {IntValue(Id(pod))});
    ASSERT_EQ(task_.callResult.tag, VARTYPE_ARRAY);
    QelVector v;
    const QelVector local{0, 0, 500, 0};
    Qel_MatMulVec(&ship->instance->matrix, &local, &v);
    EXPECT_EQ(SV_ArrayRead(&task_.callResult, 0)->i, 1000 + v.x);
    EXPECT_EQ(SV_ArrayRead(&task_.callResult, 2)->i, v.z);
    EXPECT_EQ(SV_ArrayRead(&task_.callResult, 3)->i, 16384);
    SV_Release(&task_.callResult);
    EXPECT_EQ(Call(356, {IntValue(Id(sector_))}), 0);
    EXPECT_EQ(Call(356, {IntValue(99999)}), 0);
    Call(1, {IntValue(Id(pod))});  // before the ship's tree takes its instance along
}

TEST_F(CutCalls, TurretAimIsAnOrderOfItsTurrets) {
    SectorObject* ship = Placed(SA_MT_SHIP, 1, 0, 0, 0);  // three turrets
    ScriptValue ahead = Ints({0, 0, 1000000});
    const ScriptValue s = IntValue(Id(ship));
    EXPECT_EQ(Call(353, {s, IntValue(3), ahead}), 0);  // the turret count
    EXPECT_EQ(Call(353, {s, IntValue(-1), ahead}), 0);
    EXPECT_EQ(Call(353, {s, IntValue(0), IntValue(5)}), 0);  // no point
    EXPECT_EQ(Call(353, {IntValue(Id(sector_)), IntValue(0), ahead}), 0);
    ship->desiredSpeed = 5000;
    EXPECT_EQ(Call(353, {s, IntValue(2), ahead}, 88), kParked);
    ShipData* d = O_ShipData(ship);
    EXPECT_EQ(d->CourseType, VER_ROTATETOANGLES);
    EXPECT_EQ(ship->desiredSpeed, 0);
    EXPECT_EQ(d->OrderPos.x, 0);
    EXPECT_EQ(d->OrderPos.y, 0);
    EXPECT_EQ(ship->callerHandle, 88u);
    // A turret mounted facing +x aims along +x with the ship as it is.
    ASSERT_NE(d->turrets, nullptr);
    d->turrets[1].mountDirection[0] = 65536;
    ScriptValue right = Ints({1000000, 0, 0});
    EXPECT_EQ(Call(353, {s, IntValue(1), right}), kParked);
    EXPECT_EQ(d->OrderPos.x, 0);
    SV_Release(&ahead);
    SV_Release(&right);
}

TEST_F(CutCalls, CollectDebrisTakesFieldsAndTheirRocks) {
    SectorObject* ship = Ship();
    SectorObject* field = Placed(SA_MT_DEBRIS, 0, 0, 0, 0);
    SectorObject* rock = Placed(SA_MT_ASTEROID, 2, 0, 0, 0);
    rock->reference = field;
    SectorObject* loose = Placed(SA_MT_ASTEROID, 2, 0, 0, 0);
    ScriptValue point = Ints({1, 2, 3});
    const ScriptValue s = IntValue(Id(ship));
    EXPECT_EQ(Call(357, {s, IntValue(Id(loose)), point}), 0);
    EXPECT_EQ(Call(357, {s, IntValue(Id(rock)), point}), 0);  // its field is not detailed
    EXPECT_EQ(Call(357, {s, IntValue(Id(field)), IntValue(500)}), 0);
    EXPECT_EQ(Call(357, {IntValue(Id(field)), IntValue(Id(field)), point}), 0);
    ShipData* d = O_ShipData(ship);
    d->TimeLimitOn = 1;
    EXPECT_EQ(Call(357, {s, IntValue(Id(field)), point}), kParked);
    EXPECT_EQ(d->CourseType, VER_COLLECTDEBRIS);
    EXPECT_EQ(d->OrderTarget, field);
    EXPECT_EQ(d->OrderPos.z, 3);
    EXPECT_EQ(d->TimeLimitOn, 0);  // no time limit
    EXPECT_EQ(d->NextThink, system_->gameClock);
    field->flags2 |= SA_FLAG2_DETAILED;
    EXPECT_EQ(Call(357, {s, IntValue(Id(rock)), point}), kParked);
    EXPECT_EQ(d->OrderTarget, rock);
    SV_Release(&point);
}

// ---------------------------------------------------------------- an assembled story

const char* const kStory = R"(
    end
.var "Point" int 0
.var "Got" int 0
.func "Play" need 16
    pushw 0
    pushw 0
    getl 7
    pushw 0
    pushw 801
    getl 9
    pushw 6
    sys "SA_StartTake"
    ret
.func "Collect" need 16
    getg 0
    getl 6
    getl 6
    pushw 3
    sys "SA_CollectDebris"
    ret
.func "Turn" need 16
    getg 0
    getl 6
    getl 6
    pushw 3
    sys "SA_RotateTurretToPos"
    ret
.func "Stop" need 16
    getl 5
    getl 5
    pushw 2
    sys "SA_StopObject"
    ret
.func "Take" need 16
    getl 4
    pushw 1
    sys "SA_AllocTake"
    ret
.object 2100
.func "NotifyDockingAbort" need 8
    getl 4
    setg 1
    pop
    pushw 5
    ret
)";

class WaitingStory : public SectorStoryTest {
protected:
    void SetUp() override {
        SpaceStoryTest::SetUp();
        SetUpSector(kStory);
        ships_[0].field[SA_TF_SHIP_TURRET_COUNT] = 2;
        ships_[0].field[SA_TF_SHIP_SPEED] = 100000;
        ships_[0].field[SA_TF_STEP_X] = ships_[0].field[SA_TF_STEP_Y] = ships_[0].field[SA_TF_STEP_Z] = 30000;
    }
    void SetPoint(std::vector<int32_t> w) {
        ScriptValue& var = runner_->ctx()->objects[0].variables[0];
        SV_Release(&var);
        var = Ints(std::move(w));
    }
};

TEST_F(WaitingStory, TasksWaitOnATakeAndOnOrders) {
    runner_->Start(0, "Take", {Id(sector_)});
    ASSERT_EQ(runner_->answers.size(), 1u);
    const int32_t take = runner_->answers[0].n;
    runner_->answers.clear();
    Inst3D* any = B3D_AllocInst();
    runner_->Start(0, "Play", {take, static_cast<int32_t>(any->id)});
    SectorObject* collector = At(SA_MT_SHIP, 0);
    SectorObject* field = At(SA_MT_DEBRIS, 0);
    SetPoint({0, 0, 10000});
    runner_->Start(0, "Collect", {Id(collector), Id(field)});
    SectorObject* gunner = At(SA_MT_SHIP, 3000000);
    SetPoint({0, 0, 9000000});
    runner_->Start(0, "Turn", {Id(gunner), 1});
    EXPECT_TRUE(Results().empty());  // all three wait
    Frame(16);
    EXPECT_EQ(Results(), (std::vector<int32_t>{1, 1}));  // the collector is there, the gunner aims ahead
    for (int i = 0; i < 4 && Results().size() < 3; ++i) Frame(1000);
    EXPECT_EQ(Results(), (std::vector<int32_t>{1, 1, 1}));  // the take has ended
}

// A landing the story stops: story object 2100 hears of it, its answer goes
// to the root (not to whatever object has ID 2100), and the landing's task
// hears the story's code.
TEST_F(WaitingStory, AStoppedLandingTellsTheNotificationObject) {
    Qel_TableSetNextKey(root_.ids, 2099);
    SectorObject* bystander = At(SA_MT_SHIP, 0);
    ASSERT_EQ(Id(bystander), 2100);
    SectorObject* ship = At(SA_MT_SHIP, 0);
    O_ShipData(ship)->CourseType = VER_LAND;
    SetPoint({0, 0, 1000});
    runner_->Start(0, "Turn", {Id(ship), 0});  // a task that waits on the ship
    O_ShipData(ship)->CourseType = VER_LAND;
    O_ShipData(ship)->PortIndex = 2;
    root_.answerArrived = 0;
    runner_->Start(0, "Stop", {Id(ship), 7});
    SE_RunAllTasks();
    EXPECT_EQ(runner_->ctx()->objects[0].variables[1].i, Id(ship));
    EXPECT_EQ(root_.answerArrived, 1);
    EXPECT_EQ(root_.result.i, 5);
    EXPECT_EQ(bystander->answerArrived, 0);
    EXPECT_EQ(O_ShipData(ship)->PortIndex, -1);
    EXPECT_EQ(O_ShipData(ship)->CourseType, VER_STOP);
    std::vector<int32_t> got = Results();
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (std::vector<int32_t>{0, 7}));
}

}  // namespace
