// The property calls (34 to 90) and the container, flag, relation and
// appearance calls (91 to 129), made as the script engine makes them: case
// tables of readers, setters with their round trips, missing objects, the
// tuning limits, the player's throttle lever, call 69's answer through the
// caller's callback, the laser slot of call 92, the child searches and the
// ARRAY answers; and one story that goes on after call 69.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "cockpit/steering.h"
#include "scene/records.h"
#include "script/arrays.h"
#include "space/detail.h"
#include "space/flight.h"
#include "space/helpers.h"
#include "space/kill.h"
#include "space/order_fixture.h"
#include "space/orders.h"
#include "space/queries.h"
#include "space/weapons.h"
#include "support/logcapture.h"

namespace {

constexpr int32_t kMissing = 999999;

std::vector<ScriptValue> Args(std::initializer_list<int32_t> values) {
    std::vector<ScriptValue> v;
    for (int32_t n : values) v.push_back(IntValue(n));
    return v;
}

class PropCalls : public OrderTest {
protected:
    void SetUp() override {
        OrderTest::SetUp();
        int32_t* f = SA_GetTypeRecord(SA_MT_SHIP, 0)->field;
        f[SA_TF_SECOND_BODY] = 4242;
        f[SA_TF_TEXT_ID] = 1234;
        f[SA_TF_SHIP_COCKPIT_COUNT] = 2;
        f[SA_TF_SHIP_LASER_COUNT] = 2;
        f[SA_TF_SHIP_LASER_POWER_MAX] = 500;
        f[SA_TF_SHIP_MAX_HULL] = 8000;
        ship_ = Ship(100, 200, 300);
        ship_->hull = 8000;
        ship_->mass = 55;
        ship_->speed = 1111;
        ship_->desiredSpeed = 2222;
        ship_->group = 3;
        O_SetRot(ship_, 1000, 2000, 3000);
        O_ShipData(ship_)->CourseType = VER_IDLE;
    }
    void TearDown() override {
        g_SteeringState = SteeringState{};
        OrderTest::TearDown();
    }
    // The ARRAY answer of the last call as integers (rows of `width` when nested).
    std::vector<int32_t> ArrayAnswer(int32_t width = 0) {
        std::vector<int32_t> out;
        ScriptValue* a = &task_.callResult;
        EXPECT_EQ(a->tag, VARTYPE_ARRAY);
        if (a->tag == VARTYPE_ARRAY)
            for (int32_t i = 0; i < SV_ArraySize(a); ++i) {
                ScriptValue* e = SV_ArrayRead(a, i);
                if (width == 0) out.push_back(e->i);
                else
                    for (int32_t k = 0; k < width; ++k) out.push_back(SV_ArrayRead(e, k)->i);
            }
        SV_Release(a);
        return out;
    }
    SectorObject* Child(SectorObject* container, int16_t mainType, int16_t sub = 0) {
        SectorObject* o = New(mainType, sub);
        Into(container, o);
        return o;
    }

    SectorObject* ship_ = nullptr;
};

TEST_F(PropCalls, ReadersAnswerTheObjectsValues) {
    const int32_t ship = Id(ship_);
    const QelMatrix& m = ship_->instance->matrix;
    ship_->instance->radius = 4321;
    struct Case {
        int32_t call;
        int32_t want;
    } cases[] = {
        {34, SA_MT_SHIP},
        {35, 0},
        {36, SA_MT_SHIP << 16},
        {37, 100},
        {38, 200},  // shares its body with 37 and 39
        {39, 300},
        {44, 1000},
        {45, 2000},
        {46, 3000},
        {49, m.m[8]},
        {50, m.m[9]},
        {51, m.m[10]},
        {53, ship_->instance->bodyId},
        {54, 4242},
        {55, ship_->cutId},
        {56, 1234},
        {57, 4321},
        {59, 55},
        {61, 1111},
        {62, kTestShipSpeed},
        {63, kTestShipSpeed / 4},
        {65, 2222},
        {68, kTestShipAcceleration},
        {71, kTestShipTurn},
        {72, kTestShipTurn},
        {73, kTestShipTurn},
        {75, 1},
        {78, 0},
        {86, 8000},
        {87, 8000},
        {89, 8000},
        {90, 2},
        {99, static_cast<int32_t>(ship_->flags)},
        {101, static_cast<int32_t>(ship_->flags2)},
        {103, VER_IDLE},
        {104, Id(sector_)},
        {105, 0},
        {111, 3},
        {114, 0},  // not debris
        {118, 0},  // not a wreck
        {119, 0},
        {121, 360},
        {128, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(Call(c.call, Args({ship})), c.want) << c.call;
}

TEST_F(PropCalls, AMissingObjectAnswersZeroAndBodiesMinusOne) {
    for (int32_t call = 34; call <= 128; ++call) {
        // Calls of two type arguments take no object.
        if (call == 112 || call == 115 || call == 116) continue;
        LogCapture log;
        const int32_t want = call == 53 || call == 54 ? -1 : call == 69 ? kParked : 0;
        EXPECT_EQ(Call(call, Args({kMissing, Id(ship_), 1, 2, 3})), want) << call;
        EXPECT_TRUE(log.Contains("SA_FindObjectByID(999999) ")) << call;
    }
    // A type code without a record answers -1 as well.
    LogCapture log;
    EXPECT_EQ(Call(54, Args({Id(sector_)})), -1);
    EXPECT_TRUE(log.Contains("ERROR: Invalid subtype parameter ")) << log.Text();
    // Nothing changed on the ship named as the second argument.
    EXPECT_EQ(ship_->flags & SA_FLAG_KILLED, 0u);
    EXPECT_EQ(ship_->container, sector_);
}

TEST_F(PropCalls, SettersRoundTripThroughTheirReaders) {
    const int32_t ship = Id(ship_);
    SectorObject* ware = Placed(SA_MT_WARE_FIRST, 0, 0, 0, 0);
    SectorObject* debris = Placed(SA_MT_DEBRIS, 0, 0, 0, 0);
    SectorObject* wreck = Placed(SA_MT_SHIP_WRECK, 0, 0, 0, 0);
    struct Case {
        int32_t set;
        std::vector<int32_t> args;  // after the object
        int32_t answer;
        int32_t get;
        SectorObject* object;
        int32_t want;
    } cases[] = {
        {40, {7, 8, 9}, 0, 38, ship_, 8},
        {48, {11, 12, 13}, 0, 46, ship_, 13},
        {60, {99}, 0, 59, ship_, 99},
        {64, {3333}, 1, 61, ship_, 3333},
        {66, {4444}, 1, 65, ship_, 4444},
        {76, {17}, 0, 75, ware, 17},
        {88, {500}, 0, 86, ship_, 500},
        {88, {9000}, 0, 86, ship_, 8000},  // within the maximum hull
        {88, {-5}, 0, 86, ship_, 0},
        {98, {static_cast<int32_t>(SA_FLAG_KILLED | 1)}, 0, 99, ware, static_cast<int32_t>(SA_FLAG_KILLED | 1)},
        {98, {0}, 0, 99, ware, 0},  // the whole word, the killed bit too
        {100, {0x1234}, 0, 101, ship_, 0x1234},
        {110, {6}, 0, 111, ship_, 6},
        {113, {40}, 0, 114, debris, 40},
        {113, {40}, 0, 114, wreck, 0},
        {117, {41}, 0, 118, wreck, 41},
        {117, {41}, 0, 118, debris, 0},
        {120, {30}, 0, 121, ship_, 30},
        {122, {70000}, 0, 123, ship_, 70000},
        {127, {50}, 0, 128, ship_, 50},
        {127, {33}, 0, 128, ship_, 33},
    };
    for (const Case& c : cases) {
        std::vector<int32_t> args{Id(c.object)};
        args.insert(args.end(), c.args.begin(), c.args.end());
        std::vector<ScriptValue> values;
        for (int32_t n : args) values.push_back(IntValue(n));
        EXPECT_EQ(Call(c.set, values), c.answer) << c.set;
        EXPECT_EQ(Call(c.get, Args({Id(c.object)})), c.want) << c.set << " then " << c.get;
    }
    EXPECT_EQ(Call(37, Args({ship})), 7);
    EXPECT_EQ(Call(39, Args({ship})), 9);
    // The hue and saturation reach every part of the ship's instance.
    EXPECT_EQ(ship_->instance->colorModifier[0], 330);
    EXPECT_EQ(ship_->instance->colorModifier[1], 70000);
    EXPECT_EQ(O_ShipData(ship_)->rotAccel, 21626);  // 33 x 65,536 / 100
}

TEST_F(PropCalls, TuningStopsAtItsLimitWithItsMessage) {
    SectorObject* ware = Placed(SA_MT_WARE_FIRST, 0, 0, 0, 0);
    struct Case {
        int32_t call;
        SectorObject* object;
        int32_t value;
        int32_t want;  // the stored word; -1: its message and nothing stored
    } cases[] = {
        {67, ship_, 999, 6547046},  // 999 x 65,536 / 10
        {67, ship_, 1000, -1},     {67, ware, 5, -1}, {74, ship_, 2457, 16102195}, {74, ship_, 2458, -1},
    };
    for (const Case& c : cases) {
        ShipData* d = O_ShipData(ship_);
        d->extraSpeed = d->extraRotSpeed = 77;
        LogCapture log;
        EXPECT_EQ(Call(c.call, Args({Id(c.object), c.value})), 0);
        const int32_t stored = c.call == 67 ? d->extraSpeed : d->extraRotSpeed;
        if (c.want >= 0) {
            EXPECT_EQ(stored, c.want) << c.call << " " << c.value;
            continue;
        }
        EXPECT_EQ(stored, 77) << c.call << " " << c.value;
        const std::string line = std::string(c.call == 67 ? "SA_SetExtraSpeed: " : "SA_SetExtraRotSpeed: ") +
                                 std::to_string(c.value) + " object " + std::to_string(Id(c.object)) + " (";
        EXPECT_TRUE(log.Contains(line.c_str())) << log.Text();
    }
}

TEST_F(PropCalls, DesiredSpeedOfThePlayerTakesItFromTheLever) {
    SectorObject* other = Ship(0, 0, 0);
    root_.game.playerObject = ship_;
    g_SteeringState.leverDrives = 1;
    EXPECT_EQ(Call(66, Args({Id(other), 5000})), 1);
    EXPECT_EQ(g_SteeringState.leverDrives, 1);
    EXPECT_EQ(other->desiredSpeed, 5000);
    EXPECT_EQ(Call(66, Args({Id(ship_), 6000})), 1);
    EXPECT_EQ(g_SteeringState.leverDrives, 0);
    EXPECT_EQ(ship_->desiredSpeed, 6000);
}

TEST_F(PropCalls, RotationSpeedAnswersThroughTheCallersCallback) {
    for (int32_t& a : ship_->rot2) a = 9;
    EXPECT_EQ(Call(69, Args({Id(ship_), 1, 0, 0})), kParked);
    EXPECT_EQ(Told(), (Answers{{77, 0}}));
    EXPECT_EQ(ship_->rotSpeed[0], 1);
    EXPECT_EQ(ship_->rot2[0], 9);
    runner_->answers.clear();
    EXPECT_EQ(Call(69, Args({Id(ship_), 0, 0, 0})), kParked);
    EXPECT_EQ(Told(), (Answers{{77, 0}}));
    EXPECT_EQ(ship_->rot2[0], 0);
    // A missing object is answered the same way.
    runner_->answers.clear();
    EXPECT_EQ(Call(69, Args({kMissing, 0, 0, 0})), kParked);
    EXPECT_EQ(Told(), (Answers{{77, 0}}));
}

TEST_F(PropCalls, ShieldsFillInOrderAndLasersByPoolOrSlot) {
    Types(SA_MT_SHIELD, 1)->field[SA_TF_SHIELD_ENERGY] = 100;
    Types(SA_MT_LASER, 1)->field[SA_TF_LASER_ENERGY] = 30;
    SectorObject* s1 = Child(ship_, SA_MT_SHIELD);
    SectorObject* s2 = Child(ship_, SA_MT_SHIELD);
    EXPECT_EQ(Call(80, Args({Id(ship_), 150})), 0);
    EXPECT_EQ(Call(78, Args({Id(ship_)})), 150);
    EXPECT_EQ(Call(79, Args({Id(ship_)})), 200);
    EXPECT_EQ(static_cast<ShieldData*>(s1->typeData)->energy, 100);
    EXPECT_EQ(static_cast<ShieldData*>(s2->typeData)->energy, 50);
    EXPECT_EQ(Call(80, Args({Id(s2), 500})), 0);
    EXPECT_EQ(Call(78, Args({Id(s2)})), 100);
    // A story may give the holder flag to an object that holds nothing.
    SectorObject* ware = Placed(SA_MT_WARE_FIRST, 0, 0, 0, 0);
    EXPECT_EQ(Call(98, Args({Id(ware), static_cast<int32_t>(SA_FLAG_HOLDER)})), 0);
    EXPECT_EQ(Call(80, Args({Id(ware), 10})), 0);
    EXPECT_EQ(Call(78, Args({Id(ware)})), 0);

    SectorObject* laser = Child(ship_, SA_MT_LASER);
    static_cast<LaserData*>(laser->typeData)->slot = 1;
    static_cast<LaserData*>(laser->typeData)->position = -7;
    SA_GetTypeRecord(SA_MT_SHIP, 0)->field[SA_TF_SHIP_TURRET_COUNT] = 2;
    struct Case {
        int32_t call;
        std::vector<int32_t> args;
        int32_t want;
    } cases[] = {
        {85, {250}, 0}, {82, {}, 250}, {83, {}, 500}, {85, {900}, 0}, {82, {}, 500}, {85, {20, 1}, 0},
        {82, {1}, 20},  {83, {1}, 30}, {82, {0}, 0},  {84, {}, 0},    {85, {-3}, 0}, {82, {}, 0},
    };
    for (const Case& c : cases) {
        std::vector<ScriptValue> v{IntValue(Id(ship_))};
        for (int32_t n : c.args) v.push_back(IntValue(n));
        EXPECT_EQ(Call(c.call, v), c.want) << c.call;
    }
    EXPECT_EQ(Call(84, Args({Id(laser)})), -7);
}

TEST_F(PropCalls, ALaserMountsOnlyOnOneOfTheShipsSlots) {
    SectorObject* laser = Placed(SA_MT_LASER, 0, 0, 0, 0);
    struct Case {
        int32_t slot;
        int32_t want;
    } cases[] = {{2, 0}, {-1, 0}, {1, 1}};
    for (const Case& c : cases) {
        LogCapture log;
        EXPECT_EQ(Call(92, Args({Id(laser), Id(ship_), c.slot})), c.want) << c.slot;
        if (c.want) continue;
        const std::string line = "SYS_SA_MoveLaserIntoContainer(" + std::to_string(Id(laser)) + "," +
                                 std::to_string(Id(ship_)) + "," + std::to_string(c.slot) + ") (";
        EXPECT_TRUE(log.Contains(line.c_str())) << log.Text();
        EXPECT_EQ(laser->container, sector_);
    }
    EXPECT_EQ(laser->container, ship_);
    EXPECT_EQ(static_cast<LaserData*>(laser->typeData)->slot, 1);
    // Call 91 with a missing object says so.
    LogCapture log;
    EXPECT_EQ(Call(91, Args({kMissing, Id(ship_)})), 0);
    EXPECT_TRUE(log.Contains("SYS_SA_MoveObjectIntoContainer(999999,"));
    SectorObject* ware = Placed(SA_MT_WARE_FIRST, 0, 0, 0, 0);
    EXPECT_EQ(Call(91, Args({Id(ware), Id(ship_)})), 1);
    EXPECT_EQ(ware->container, ship_);
}

TEST_F(PropCalls, ChildSearchesStartAfterTheGivenId) {
    SectorObject* a = Child(ship_, SA_MT_WARE_FIRST, 0);
    SectorObject* b = Child(ship_, SA_MT_WARE_FIRST, 1);
    const int32_t s = Id(ship_);
    struct Case {
        int32_t call;
        std::vector<ScriptValue> args;
        int32_t want;
    } cases[] = {
        {93, Args({s, SA_MT_WARE_FIRST}), Id(a)},
        {93, Args({s, SA_MT_WARE_FIRST, 0}), Id(a)},  // a start ID of 0 is the first child
        {93, Args({s, SA_MT_WARE_FIRST, Id(a)}), Id(b)},
        {93, Args({s, SA_MT_WARE_FIRST, Id(b)}), 0},
        {93, Args({s, SA_MT_WARE_FIRST, Id(a), 0}), Id(a)},  // a fourth argument: no start
        {93, Args({s, 0x10000 | SA_MT_WARE_FIRST}), Id(a)},  // the low 16 bits
        {94, Args({s, SA_MT_WARE_FIRST, 1}), Id(b)},
        {94, Args({s, SA_MT_WARE_FIRST, 0, Id(a)}), 0},
        {95, Args({s, 0}), 0},  // no child stands for a cut path
    };
    for (const Case& c : cases) EXPECT_EQ(Call(c.call, c.args), c.want) << c.call;
}

TEST_F(PropCalls, RelationsGroupsAndDestinations) {
    SectorObject* other = Ship(0, 0, 0);
    other->group = 5;
    const int32_t s = Id(ship_), o = Id(other);
    EXPECT_EQ(Call(107, Args({s, o})), 0);
    EXPECT_EQ(Call(108, Args({s, o, 12345, -1})), 0);  // the third argument is not read
    EXPECT_EQ(Call(107, Args({s, o})), -1);
    EXPECT_EQ(Call(106, Args({s, o})), 1);
    EXPECT_EQ(Call(109, Args({s, 5, 1})), 0);
    EXPECT_EQ(Call(107, Args({s, o})), 1);
    EXPECT_EQ(Call(106, Args({s, o})), 0);
    O_ShipData(ship_)->OrderTarget = other;
    EXPECT_EQ(Call(105, Args({s})), o);
}

TEST_F(PropCalls, PositionsAndMatricesComeAsArrays) {
    O_SetRot(ship_, 0, 0, 0);
    EXPECT_NE(Call(47, Args({Id(ship_)})), kParked);
    EXPECT_EQ(ArrayAnswer(3), (std::vector<int32_t>{65536, 0, 0, 0, 65536, 0, 0, 0, 65536}));
    // A free spot stays as asked, and the object goes back to where it was.
    EXPECT_NE(Call(42, Args({Id(ship_), 5000000, 6, 7})), kParked);
    EXPECT_EQ(ArrayAnswer(), (std::vector<int32_t>{5000000, 6, 7}));
    EXPECT_EQ(Call(37, Args({Id(ship_)})), 100);
    // A taken spot is left for a free one.
    SectorObject* other = Placed(SA_MT_SHIP, 0, 5000000, 0, 0, 1000);
    ship_->size = 1000;
    EXPECT_EQ(Call(41, Args({Id(ship_), 5000000, 0, 0})), 0);
    EXPECT_TRUE(O_IsSpaceFree(ship_));
    const QelVector at = Obj_Position(ship_);
    EXPECT_FALSE(at.x == 5000000 && at.y == 0 && at.z == 0);
    // Relative to another object's position and axes.
    O_SetRot(other, 16384, 0, 0);
    EXPECT_EQ(Call(43, Args({Id(ship_), Id(other), 0, 0, 1000})), 0);
    const QelVector want = [&] {
        const QelVector p = Obj_Position(other);
        const QelMatrix m = Obj_Matrix(other);
        const QelVector l{0, 0, 1000, 0};
        return O_LocalToWorld(&p, &m, &l, 65536);
    }();
    EXPECT_EQ(Call(37, Args({Id(ship_)})), want.x);
    EXPECT_EQ(Call(39, Args({Id(ship_)})), want.z);
}

TEST_F(PropCalls, TypeTestsGlobalsNebulaeAndFactories) {
    LogCapture log;
    EXPECT_EQ(Call(115, Args({SA_MT_SHIP, 7})), 0);
    EXPECT_TRUE(log.Contains("ERROR: Invalid subtype parameter "));
    EXPECT_EQ(Call(115, Args({SA_MT_SHIP, 0})), 0);  // no ship wrecks loaded
    Types(SA_MT_SHIP_WRECK, 1);
    EXPECT_EQ(Call(115, Args({SA_MT_SHIP, 0})), SA_MT_SHIP_WRECK << 16);
    EXPECT_EQ(Call(116, Args({SA_MT_SHIP, 0})), 0);  // its destruction effect has no wreck part
    EXPECT_EQ(Call(115, Args({SA_MT_DEBRIS, 0})), 0);
    EXPECT_EQ(Call(112, Args({SA_MT_SHIP, 0})), 0);
    EXPECT_EQ(Call(112, Args({32, 0})), 0);

    GlobalParameter global{9, 777};
    g_TypeDB.globals = &global;
    g_TypeDB.globalCount = 1;
    EXPECT_EQ(Call(129, Args({9})), 777);
    EXPECT_EQ(Call(129, Args({10})), 0);
    g_TypeDB.globals = nullptr;
    g_TypeDB.globalCount = 0;
    EXPECT_EQ(Call(129, Args({9})), 0);

    Types(SA_MT_NEBULA, 1);
    SectorObject* nebula = New(SA_MT_NEBULA);
    std::vector<ScriptValue> args = Args({Id(nebula), 1, 2, 3, 4, 5, 6});
    ScriptValue array{};
    SV_ArrayAlloc(&array, 8);
    for (int32_t k = 0; k < 8; ++k) SV_ArrayWriteInt(&array, k, 10 + k);
    args.push_back(array);
    args.push_back(IntValue(20));
    args.push_back(IntValue(21));
    EXPECT_EQ(Call(125, args), 0);
    SV_Release(&array);
    const int32_t* words = static_cast<NebulaData*>(nebula->typeData)->words;
    EXPECT_EQ(std::vector<int32_t>(words, words + 16),
              (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 10, 11, 12, 13, 14, 15, 16, 17, 20, 21}));

    SectorObject* planet = Placed(SA_MT_PLANET, 0, 0, 0, 0);
    EXPECT_EQ(Call(126, Args({Id(planet), 44})), 0);
    EXPECT_EQ(static_cast<PlanetData*>(planet->typeData)->fog, 44);

    SectorObject* factory = Placed(SA_MT_FACTORY, 0, 0, 0, 0);
    SectorObject* parent = Placed(SA_MT_FACTORY, 0, 0, 0, 0);
    EXPECT_EQ(Call(124, Args({Id(factory), Id(parent)})), 0);
    EXPECT_EQ(O_DockData(factory)->connectionParent, parent);
    EXPECT_EQ(Call(124, Args({Id(ship_), Id(parent)})), 0);  // factories only
    // The parent's end clears the link.
    SS_KillObject(parent, 0, nullptr, 0);
    EXPECT_EQ(O_DockData(factory)->connectionParent, nullptr);
}

// One story goes on with the answer call 69 gives through its callback.
class PropStory : public SpaceStoryTest {};

TEST_F(PropStory, AStoryGoesOnAfterSettingRotationSpeeds) {
    SetUpStory(R"(
    end
.var "Ship" int 0
.func "Spin" need 8
    pushw 0
    pushw 0
    pushw 7
    getg 0
    pushw 4
    sys "SA_SetRotSpeed"
    pushw 5
    add
    ret
)");
    SectorObject* ship = New(SA_MT_SHIP);
    ScriptValue& var = runner_->ctx()->objects[0].variables[0];
    var.tag = VARTYPE_INTEGER;
    var.bits = ship->id;
    runner_->answers.clear();
    runner_->Start(0, "Spin");
    ASSERT_EQ(runner_->answers.size(), 1u);
    EXPECT_EQ(runner_->answers.back().n, 5);
    EXPECT_EQ(ship->rotSpeed[0], 7);
}

}  // namespace
