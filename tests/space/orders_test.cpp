// The order calls 9 to 33 and the autopilot switch 273, called as the
// script engine calls them: an accepted order parks its task and sets the
// ship's course and order fields; a refused one answers 0 at once and changes
// nothing; the queries and turret calls answer as their rows say.
#include "space/orders.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "scene/records.h"
#include "script/arrays.h"
#include "script/context.h"
#include "space/flight.h"
#include "space/kill.h"
#include "space/queries.h"
#include "space/order_fixture.h"
#include "space/typesdb.h"
#include "support/logcapture.h"

namespace {

using Replies = std::vector<std::pair<uint32_t, int32_t>>;

ScriptValue Int(int32_t n) { return IntValue(n); }

class Orders : public OrderTest {
protected:
    void SetUp() override {
        OrderTest::SetUp();
        SetClock(100000);
        ship_ = Placed(SA_MT_SHIP, 0, 0, 0, 0);
        target_ = Placed(SA_MT_SHIP, 0, 0, 0, 500000);
        dock_ = Placed(SA_MT_DOCK, 0, 0, 0, 2000000);
        dock_->flags |= SA_FLAG_HOLDER;
        gate_ = Placed(SA_MT_GATE, 0, 0, 0, -2000000);
        gate_->flags |= SA_FLAG_HOLDER;
    }
    Replies Answers() const { return Told(); }
    ShipData* D() { return O_ShipData(ship_); }

    SectorObject* ship_ = nullptr;
    SectorObject* target_ = nullptr;
    SectorObject* dock_ = nullptr;
    SectorObject* gate_ = nullptr;
};

struct OrderCase {
    int32_t call;
    std::vector<int32_t> args;  // after the ship; -1 the target, -2 the dock, -3 the gate
    int16_t course;
    bool partner;  // a missing partner refuses the order
};

const OrderCase kOrders[] = {
    {9, {-2, -1}, 5, true},
    {10, {-2, -1}, 4, true},
    {12, {-2, 1, 2, 3}, 4, true},
    {13, {-2, -1}, 30, true},
    {14, {-3}, 8, false},
    {15, {0}, 18, false},
    {16, {-1, 0}, 24, true},
    {17, {-1, 0, 0}, 16, true},
    {18, {-1, 0, 0}, 17, true},
    {19, {0, 50, 0, 0}, 34, false},
    {20, {-1, 1, 2, 3, 100, 0}, 20, true},
    {22, {-1}, 6, true},
    {26, {5000}, 29, false},
    {27, {-1, 1000, 0}, 21, true},
    {28, {-1, 1000, 0}, 22, true},
    {29, {1, 2}, 31, false},
    {30, {1, 2, 3, 100}, 25, false},
    {31, {1, 2, 3, 100}, 35, false},
    {32, {1, 2, 3, 222, 444}, 32, false},
    {33, {0}, 33, false},
};

TEST_F(Orders, AnAcceptedOrderParksItsTaskAndSetsTheCourse) {
    for (const OrderCase& c : kOrders) {
        D()->CourseType = 10;
        ship_->callerModule = ship_->callerHandle = 0;
        std::vector<ScriptValue> args{Int(Id(ship_))};
        for (int32_t a : c.args)
            args.push_back(Int(a == -1 ? Id(target_) : a == -2 ? Id(dock_) : a == -3 ? Id(gate_) : a));
        EXPECT_EQ(Call(c.call, args, 500 + static_cast<uint32_t>(c.call)), kParked) << c.call;
        EXPECT_EQ(D()->CourseType, c.course) << c.call;
        EXPECT_EQ(ship_->callerModule, static_cast<uint32_t>(module_)) << c.call;
        EXPECT_EQ(ship_->callerHandle, 500u + static_cast<uint32_t>(c.call)) << c.call;
    }
}

TEST_F(Orders, ARefusedOrderAnswersZeroAtOnceAndChangesNothing) {
    SectorObject* laser = Placed(SA_MT_LASER, 0, 0, 0, 0);
    for (const OrderCase& c : kOrders) {
        std::vector<std::vector<ScriptValue>> refusals;
        std::vector<ScriptValue> tail;
        for (int32_t a : c.args)
            tail.push_back(Int(a == -1 ? Id(target_) : a == -2 ? Id(dock_) : a == -3 ? Id(gate_) : a));
        for (int32_t who : {9999, Id(laser)}) {  // no object, not a ship
            refusals.push_back({Int(who)});
            refusals.back().insert(refusals.back().end(), tail.begin(), tail.end());
        }
        if (c.partner) {  // the partner missing
            refusals.push_back({Int(Id(ship_))});
            refusals.back().insert(refusals.back().end(), tail.begin(), tail.end());
            refusals.back()[1] = Int(8888);
        }
        for (std::vector<ScriptValue>& args : refusals) {
            D()->CourseType = 10;
            D()->OrderTarget = nullptr;
            LogCapture log;
            EXPECT_EQ(Call(c.call, args), 0) << c.call;
            EXPECT_TRUE(log.Contains("SA_FindObjectByID(") || args[0].i == Id(laser)) << c.call;
            EXPECT_EQ(D()->CourseType, 10) << c.call;
            EXPECT_EQ(D()->OrderTarget, nullptr) << c.call;
            EXPECT_EQ(ship_->callerModule, 0u) << c.call;
        }
    }
}

TEST_F(Orders, TurnToTakesItsReachOnlyFromExactlyThreeArguments) {
    EXPECT_EQ(Call(22, {Int(Id(ship_)), Int(Id(target_)), Int(12345)}), kParked);
    EXPECT_EQ(D()->OrderRange, 12345);
    EXPECT_EQ(D()->OrderTarget, target_);
    EXPECT_EQ(Call(22, {Int(Id(ship_)), Int(Id(target_)), Int(12345), Int(9)}), kParked);
    EXPECT_EQ(D()->OrderRange, 400000);
    EXPECT_EQ(Call(22, {Int(Id(ship_)), Int(Id(target_))}), kParked);
    EXPECT_EQ(D()->OrderRange, 400000);
}

TEST_F(Orders, DefensiveMoveWithoutTimeLimitEndsAfterFiveMinutes) {
    LogCapture log;
    // The second argument is not read (no lookup of it); attacker 0 is none.
    EXPECT_EQ(Call(19, {Int(Id(ship_)), Int(4242), Int(60), Int(0), Int(0)}), kParked);
    EXPECT_EQ(log.Text(), "");
    EXPECT_EQ(D()->TimeLimitOn, 1);
    EXPECT_EQ(D()->TimeLimit, 100000 + 300000);
    EXPECT_EQ(D()->OrderTarget, nullptr);
    EXPECT_EQ(D()->OrderRange, 60);
    EXPECT_EQ(D()->EvadeUntil, 100000);
    EXPECT_EQ(Call(19, {Int(Id(ship_)), Int(0), Int(60), Int(2500), Int(Id(target_))}), kParked);
    EXPECT_EQ(D()->TimeLimit, 102500);
    EXPECT_EQ(D()->OrderTarget, target_);
    // A time limit wraps with the clock.
    SetClock(32399000);
    EXPECT_EQ(Call(19, {Int(Id(ship_)), Int(0), Int(60), Int(2500), Int(0)}), kParked);
    EXPECT_EQ(D()->TimeLimit, 1500);
}

TEST_F(Orders, AttackPointsLieOnACircleOfAtMost100000) {
    struct Case {
        int32_t shipRadius, targetRadius, circle;
    } cases[] = {{70000, 50000, 100000}, {20000, 30000, 50000}};
    for (const Case& c : cases) {
        ship_->size = c.shipRadius;
        target_->size = c.targetRadius;
        for (int i = 0; i < 20; ++i) {
            EXPECT_EQ(Call(17, {Int(Id(ship_)), Int(Id(target_)), Int(0), Int(0)}), kParked);
            const QelVector& p = D()->OrderPos;
            EXPECT_NEAR(std::hypot(static_cast<double>(p.x), static_cast<double>(p.y)), c.circle, 4);
            EXPECT_EQ(p.z, 0);
        }
    }
    EXPECT_EQ(D()->EvadeUntil, 100050);  // no delay: 50 ms
    EXPECT_EQ(D()->TimeLimitOn, 0);
    EXPECT_EQ(Call(18, {Int(Id(ship_)), Int(Id(target_)), Int(300), Int(7000)}), kParked);
    EXPECT_EQ(D()->EvadeUntil, 100300);
    EXPECT_EQ(D()->TimeLimitOn, 1);
    EXPECT_EQ(D()->TimeLimit, 107000);
}

TEST_F(Orders, WarpInTwiceThroughOneGateOnlyChangesTheCaller) {
    EXPECT_EQ(Call(33, {Int(Id(ship_)), Int(Id(gate_))}, 601), kParked);
    EXPECT_EQ(D()->WarpEnd, 100900);
    EXPECT_EQ(D()->WarpEffectOn, 1);
    EXPECT_EQ(D()->OrderTarget, gate_);
    EXPECT_TRUE(ship_->flags & SA_FLAG_NO_AREA_DAMAGE);
    EXPECT_EQ(ship_->instance->pos.z, 1348650);  // out along the gate's axis
    SetClock(100400);
    ship_->instance->pos.z = 777;
    EXPECT_EQ(Call(33, {Int(Id(ship_)), Int(Id(gate_))}, 602), kParked);
    EXPECT_EQ(D()->WarpEnd, 100900);
    EXPECT_EQ(ship_->instance->pos.z, 777);
    EXPECT_EQ(ship_->callerHandle, 602u);
    // Another gate, or none, starts a new warp.
    EXPECT_EQ(Call(33, {Int(Id(ship_)), Int(0)}, 603), kParked);
    EXPECT_EQ(D()->WarpEnd, 101300);
    EXPECT_EQ(D()->OrderTarget, nullptr);
}

TEST_F(Orders, TurretCalls) {
    SectorObject* gunship = Placed(SA_MT_SHIP, 1, 0, 0, 0);  // three turrets
    ShipData* g = O_ShipData(gunship);
    ASSERT_EQ(g->turretCount, 3);
    // 21: turret 0 (the ship) and turrets beyond the count touch nothing.
    g->turrets[0].caller = SA_Caller{static_cast<uint32_t>(module_), 41};
    for (int32_t turret : {0, 3, -1}) {
        EXPECT_EQ(Call(21, {Int(Id(gunship)), Int(turret), Int(6)}), 0);
        EXPECT_EQ(g->turrets[0].caller.handle, 41u);
    }
    EXPECT_TRUE(Answers().empty());
    // 23: refused unless turret 1..count-1, a minimum above 0 and a maximum not below it.
    const std::vector<std::vector<int32_t>> refused = {{0, 10, 20}, {3, 10, 20}, {1, 0, 20}, {1, 30, 20}};
    for (const std::vector<int32_t>& r : refused)
        EXPECT_EQ(Call(23, {Int(Id(gunship)), Int(Id(target_)), Int(r[0]), Int(r[1]), Int(r[2])}), 0) << r[0];
    EXPECT_EQ(Call(23, {Int(Id(gunship)), Int(Id(target_)), Int(2), Int(10), Int(10)}, 42), kParked);
    EXPECT_EQ(g->turrets[2].caller.handle, 42u);
    EXPECT_EQ(g->turrets[2].target, target_);
    EXPECT_EQ(g->turrets[2].markMin, 100010);
    EXPECT_EQ(gunship->callerModule, 0u);  // the ship's own caller is untouched
    // 24 takes its point from an array.
    ScriptValue point{};
    SV_ArrayAlloc(&point, 3);
    for (int32_t i = 0; i < 3; ++i) SV_ArrayWriteInt(&point, i, 100 * (i + 1));
    EXPECT_EQ(Call(24, {Int(Id(gunship)), point, Int(1), Int(5), Int(9)}, 43), kParked);
    EXPECT_EQ(g->turrets[1].targetMode, 1);
    EXPECT_EQ(g->turrets[1].targetPos[2], 300);
    EXPECT_EQ(g->turrets[1].target, nullptr);
    EXPECT_EQ(Call(24, {Int(Id(gunship)), Int(5), Int(1), Int(5), Int(9)}), 0);  // no array
    SV_Release(&point);
    // 21 answers the turret's task with the code, and itself with 0.
    EXPECT_EQ(Call(21, {Int(Id(gunship)), Int(2), Int(6)}), 0);
    EXPECT_EQ(Answers(), (Replies{{42, 6}}));
    EXPECT_EQ(g->turrets[2].caller.module, 0u);
    EXPECT_EQ(g->turrets[2].target, nullptr);
}

// A turret order runs in the frames: it is done once the turret has turned
// for its minimum time and covers its aim (its mounting is in the ship's
// frame), it ends at its maximum time when it never does, and at once when
// its target goes.
TEST_F(Orders, TurretOrdersAreAnsweredByTheFrames) {
    struct Case {
        const char* what;
        bool atObject;
        int32_t z;          // the aim (the object's or the point's z)
        int32_t mountZ;     // the turret's mounting faces +z (1), -z (-1) or anywhere (0)
        bool flipped;       // the ship looks down -z
        int32_t killAfter;  // ms after which the target is killed (0 never)
        int32_t code, at;   // the answer and the ms after the order it comes
    };
    const Case cases[] = {
        {"object in reach", true, 500000, 1, false, 0, SA_ANSWER_DONE, 300},
        {"point in reach", false, 400000, 0, false, 0, SA_ANSWER_DONE, 300},
        {"point behind the mounting", false, -500000, 1, false, 0, SA_ANSWER_TIME, 1000},
        {"point before a turned mounting", false, -500000, 1, true, 0, SA_ANSWER_DONE, 300},
        {"object killed", true, 500000, 0, false, 100, SA_ANSWER_ENDED, 200},
    };
    uint32_t task = 50;
    for (const Case& k : cases) {
        SectorObject* gunship = Placed(SA_MT_SHIP, 1, 0, 0, 0);
        if (k.flipped) gunship->instance->matrix.m[0] = gunship->instance->matrix.m[10] = -65536;
        O_ShipData(gunship)->turrets[1].mountDirection[2] = k.mountZ * 65536;
        SectorObject* target = Placed(SA_MT_SHIP, 0, 0, 0, k.z);
        ScriptValue point{};
        SV_ArrayAlloc(&point, 3);
        SV_ArrayWriteInt(&point, 2, k.z);
        const ScriptValue aim = k.atObject ? Int(Id(target)) : point;
        runner_->answers.clear();
        ++task;
        ASSERT_EQ(Call(k.atObject ? 23 : 24, {Int(Id(gunship)), aim, Int(1), Int(300), Int(1000)}, task), kParked);
        SV_Release(&point);
        int32_t elapsed = 0;
        while (Answers().empty() && elapsed < 2000) {
            Frame(100);
            elapsed += 100;
            if (elapsed == k.killAfter) SS_KillObject(target, 0, nullptr, 0);
        }
        EXPECT_EQ(Answers(), (Replies{{task, k.code}})) << k.what;
        EXPECT_EQ(elapsed, k.at) << k.what;
        const TurretSlot& t = O_ShipData(gunship)->turrets[1];
        EXPECT_EQ(t.caller.module, 0u) << k.what;
        EXPECT_EQ(t.markMax, 0) << k.what;
        // Answered once: later frames tell the task nothing more.
        Frame(100);
        EXPECT_EQ(Answers().size(), 1u) << k.what;
    }
}

// A killed ship is freed at the end of its frame wherever it is, and the task
// waiting on it hears so: in a dock, in a killed sector (whose other ships go
// with it).
TEST_F(Orders, KilledObjectsAnswerTheirTasksAtTheEndOfTheirFrame) {
    SectorObject* docked = New(SA_MT_SHIP, 0);
    Into(dock_, docked);
    SectorObject* lost = New(SA_MT_SECTOR, 1);
    SectorObject* inside = New(SA_MT_SHIP, 0);
    SectorObject* bystander = New(SA_MT_SHIP, 0);
    Into(lost, inside);
    Into(lost, bystander);
    const uint32_t ids[] = {docked->id, lost->id, inside->id, bystander->id};
    uint32_t task = 80;
    for (SectorObject* s : {docked, inside, bystander})
        ASSERT_EQ(Call(26, {Int(Id(s)), Int(100000)}, ++task), kParked);  // idle for 100 s
    for (SectorObject* o : {docked, inside, lost}) SS_KillObject(o, 14, nullptr, 0);
    Frame(16);
    EXPECT_EQ(Answers(), (Replies{{81, 8}, {82, 8}, {83, 8}}));
    for (uint32_t id : ids) EXPECT_EQ(SA_LookupObject(id), nullptr) << id;
    EXPECT_NE(SA_LookupObject(dock_->id), nullptr);
}

TEST_F(Orders, FlyIntoAStationPortNeedsThePortsInstance) {
    DockPortList list{1, 0xffffffff, nullptr};
    O_GetTypeRecord(dock_)->dockPorts = &list;
    Inst3D port{}, approach{};
    DockPortSlot slot{};
    DockData* data = O_DockData(dock_);
    data->ports = DockPortTable{&list, 1, &slot, 1};
    EXPECT_EQ(Call(9, {Int(Id(ship_)), Int(Id(dock_)), Int(0), Int(4)}), 0);  // no port instance
    EXPECT_EQ(D()->OrderTarget, nullptr);
    Qel_MatIdentity(&port.matrix);
    port.pos = QelVector{0, 0, 1900000, 0};
    approach.pos = QelVector{0, 0, 1800000, 0};
    slot.portInstance = &port;
    slot.approachInstance = &approach;
    EXPECT_EQ(Call(9, {Int(Id(ship_)), Int(Id(dock_)), Int(0), Int(4)}), kParked);
    EXPECT_EQ(D()->OrderPos.z, 1900000);
    EXPECT_EQ(D()->PortOffset.z, 1900000 - 70000);  // 0.7 of the way to the approach point
    EXPECT_EQ(D()->PortIndex, 0);
    EXPECT_EQ(D()->PortSlot, 4);
    // Without the slot argument it is -1; without flag 0x100000 the station's position.
    EXPECT_EQ(Call(9, {Int(Id(ship_)), Int(Id(dock_)), Int(0)}), kParked);
    EXPECT_EQ(D()->PortSlot, -1);
    dock_->flags &= ~SA_FLAG_HOLDER;
    EXPECT_EQ(Call(9, {Int(Id(ship_)), Int(Id(dock_)), Int(0)}), kParked);
    EXPECT_EQ(D()->OrderPos.z, 2000000);
    EXPECT_EQ(D()->PortIndex, -1);
    // Flying before the port: the approach point in the station's frame.
    dock_->flags |= SA_FLAG_HOLDER;
    EXPECT_EQ(Call(10, {Int(Id(ship_)), Int(Id(dock_)), Int(0)}), kParked);
    EXPECT_EQ(D()->OrderPos.z, -200000);
    EXPECT_EQ(D()->PortOffset.z, -200000);  // where the behaviour takes the port's point from
    EXPECT_EQ(D()->PortIndex, 0);
    // 11: before the port means facing it along its approach, near it and pointing at it.
    ship_->instance->pos = QelVector{0, 0, 1850000, 0};
    EXPECT_EQ(Call(11, {Int(Id(ship_)), Int(Id(dock_)), Int(0)}), 1);
    EXPECT_EQ(Call(11, {Int(Id(ship_)), Int(Id(dock_)), Int(-1)}), 0);
    Qel_MatFromAngles(&ship_->instance->matrix, 32768, 0, 0);  // the nose toward -z: away from it
    EXPECT_EQ(Call(11, {Int(Id(ship_)), Int(Id(dock_)), Int(0)}), 0);
    Qel_MatIdentity(&ship_->instance->matrix);
    ship_->instance->pos.z = 1700000;  // farther than the approach and 25,000
    EXPECT_EQ(Call(11, {Int(Id(ship_)), Int(Id(dock_)), Int(0)}), 0);
    data->ports = DockPortTable{};
    O_GetTypeRecord(dock_)->dockPorts = nullptr;
}

TEST_F(Orders, StoredFields) {
    // 32: each step in units of 222, truncated; b in the high half.
    EXPECT_EQ(Call(32, {Int(Id(ship_)), Int(1), Int(2), Int(3), Int(221), Int(221)}), kParked);
    EXPECT_EQ(D()->OrderRange, 0);
    ship_->rot2[1] = 5;
    EXPECT_EQ(Call(32, {Int(Id(ship_)), Int(1), Int(2), Int(3), Int(666), Int(444)}), kParked);
    EXPECT_EQ(D()->OrderRange, 2 * 65536 + 3);
    EXPECT_EQ(ship_->rot2[1], 0);
    // 29: the roll into 0..65535, none without a fourth argument.
    struct {
        std::vector<int32_t> angles;
        int32_t gamma;
    } rolls[] = {{{1, 2, -1}, 65535}, {{1, 2, 70000}, 4464}, {{1, 2}, SA_NO_ROLL}};
    for (const auto& r : rolls) {
        std::vector<ScriptValue> args{Int(Id(ship_))};
        for (int32_t a : r.angles) args.push_back(Int(a));
        EXPECT_EQ(Call(29, args), kParked);
        EXPECT_EQ(D()->OrderPos.z, r.gamma);
        EXPECT_EQ(D()->OrderPos.x, 1);
    }
    // 15: without a distance, the radius + 150,000; the goal 5 ranges ahead.
    ship_->size = 1000;
    EXPECT_EQ(Call(15, {Int(Id(ship_)), Int(0), Int(1)}), kParked);
    EXPECT_EQ(D()->OrderRange, 151000);
    EXPECT_EQ(D()->OrderPos.z, 755000);
    EXPECT_EQ(D()->SpeedLimit, -1);
    EXPECT_GE(D()->OrderValue, 1);
    EXPECT_LE(D()->OrderValue, 10);
    EXPECT_EQ(Call(15, {Int(Id(ship_)), Int(2000)}), kParked);
    EXPECT_EQ(D()->OrderValue, 0);
    // 14: a gate is marked and holds the ship; anything else is no target.
    EXPECT_EQ(Call(14, {Int(Id(ship_)), Int(Id(gate_))}), kParked);
    EXPECT_TRUE(gate_->flags & 0x2000000);
    EXPECT_EQ(D()->OrderTarget, gate_);
    EXPECT_EQ(D()->WarpEffectOn, -1);
    EXPECT_EQ(Call(14, {Int(Id(ship_)), Int(Id(target_))}), kParked);
    EXPECT_EQ(D()->OrderTarget, nullptr);
    // 13: the carrier must be a ship, station or gate.
    SectorObject* laser = Placed(SA_MT_LASER, 0, 0, 0, 0);
    EXPECT_EQ(Call(13, {Int(Id(ship_)), Int(Id(laser)), Int(-1)}), 0);
    // 30 and 12 leave NextThink as it was; 26 sets it and the end of the idling.
    D()->NextThink = 5;
    EXPECT_EQ(Call(30, {Int(Id(ship_)), Int(7), Int(8), Int(9), Int(10)}), kParked);
    EXPECT_EQ(D()->NextThink, 5);
    EXPECT_EQ(D()->OrderPos.y, 8);
    EXPECT_EQ(Call(26, {Int(Id(ship_)), Int(3000)}), kParked);
    EXPECT_EQ(D()->TimeLimit, 103000);
    EXPECT_EQ(D()->NextThink, 100000);
}

int32_t s_hangarResult = 0;
int32_t Hangar(SectorObject*, SectorObject*, int32_t) { return s_hangarResult; }

TEST_F(Orders, StartInHangarAnswersByTheQueue) {
    EXPECT_EQ(Call(25, {Int(Id(ship_)), Int(Id(dock_))}), 1);  // put out of the dock at once
    EXPECT_EQ(D()->PortIndex, -1);
    const SA_StartInHangarFn saved = g_SAStartInHangar;
    g_SAStartInHangar = Hangar;
    struct {
        int32_t result, answer;
    } cases[] = {{-1, 0}, {1, kParked}, {2, 1}, {0, 10}, {5, 10}};
    for (const auto& c : cases) {
        s_hangarResult = c.result;
        ship_->callerModule = 0;
        EXPECT_EQ(Call(25, {Int(Id(ship_)), Int(Id(dock_)), Int(3)}), c.answer) << c.result;
        EXPECT_EQ(D()->PortIndex, 3);
        EXPECT_EQ(ship_->callerModule, c.answer == kParked ? static_cast<uint32_t>(module_) : 0u);
    }
    g_SAStartInHangar = saved;
}

TEST_F(Orders, TheAutopilotSwitch) {
    EXPECT_EQ(Call(273, {Int(Id(ship_)), Int(1)}), 0);
    EXPECT_TRUE(ship_->flags & SA_FLAG_AUTOPILOT);
    EXPECT_EQ(Call(273, {Int(Id(dock_)), Int(-5)}), 0);  // any object, any non-zero value
    EXPECT_TRUE(dock_->flags & SA_FLAG_AUTOPILOT);
    EXPECT_EQ(Call(273, {Int(Id(ship_)), Int(0)}), 0);
    EXPECT_FALSE(ship_->flags & SA_FLAG_AUTOPILOT);
    LogCapture log;
    EXPECT_EQ(Call(273, {Int(9999), Int(1)}), 0);
    EXPECT_TRUE(log.Contains("SA_FindObjectByID(9999) "));
}

TEST_F(Orders, OfTwoOrdersOnlyTheSecondCallerIsAnswered) {
    EXPECT_EQ(Call(30, {Int(Id(ship_)), Int(0), Int(0), Int(0), Int(5)}, 801), kParked);
    EXPECT_EQ(Call(30, {Int(Id(ship_)), Int(0), Int(0), Int(0), Int(5)}, 802), kParked);
    SA_FireObjectCallback(ship_, 1);
    SA_FireObjectCallback(ship_, 1);  // answered once: the caller is gone
    EXPECT_EQ(Answers(), (Replies{{802, 1}}));
}

}  // namespace
