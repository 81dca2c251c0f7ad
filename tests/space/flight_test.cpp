// Flight and targeting support: type-argument checks, takes, dock-port
// choice and port points, group relations, free-space and approach tests,
// laser reach, the nearest enemy, the speed ramp, the braking distance and
// the steering that turns a ship toward a point.
#include "space/flight.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scene/records.h"
#include "space/cutscene.h"
#include "space/orders.h"
#include "space/queries.h"
#include "space/space_fixture.h"
#include "support/logcapture.h"

namespace {

class Flight : public SpaceTest {
protected:
    // A sector with objects placed in it at positions of their own.
    SectorObject* Sector() {
        if (!sector_) sector_ = New(SA_MT_SECTOR, 0);
        return sector_;
    }
    SectorObject* At(int16_t mainType, int32_t x, int32_t y, int32_t z, int32_t radius = 0, int16_t sub = 0) {
        SectorObject* o = New(mainType, sub);
        Into(Sector(), o);
        o->instance->pos = QelVector{x, y, z, 0};
        o->size = radius;
        return o;
    }
    SectorObject* sector_ = nullptr;
};

TEST_F(Flight, TypeArgumentChecksNameWhatIsWrong) {
    Types(SA_MT_SHIP, 2);
    struct Case {
        int32_t mainType, subType;
        int ok;
        const char* line;
    } cases[] = {
        {SA_MT_SHIP, 1, 1, nullptr},
        {SA_MT_SHIP, 2, 0, "ERROR: Invalid subtype parameter 7/2 NoStory\n"},
        {SA_MT_SHIP, -1, 0, "ERROR: Invalid subtype parameter 7/-1 NoStory\n"},
        {32, 0, 0, "ERROR: Invalid maintype parameter 32 NoStory\n"},
        {-1, 0, 0, "ERROR: Invalid maintype parameter -1 NoStory\n"},
    };
    for (const Case& c : cases) {
        LogCapture log;
        EXPECT_EQ(SA_CheckTypeCode(c.mainType, c.subType), c.ok) << c.mainType << "/" << c.subType;
        if (c.line) EXPECT_EQ(log.Text(), c.line);
        else EXPECT_EQ(log.Text(), "");
    }
    EXPECT_EQ(SA_CheckMainType(31), 1);
    EXPECT_EQ(SA_CheckMainType(32), 0);
}

TEST_F(Flight, TakesComeUnderFreeKeysAndAreFoundById) {
    SA_Take* a = SA_AllocTakeRecord(nullptr);
    SA_Take* b = SA_AllocTakeRecord(nullptr);
    ASSERT_TRUE(a && b);
    EXPECT_NE(a->id, b->id);
    EXPECT_EQ(SA_FindTakeByID(b->id), b);
    LogCapture log;
    EXPECT_EQ(SA_FindTakeByID(4242), nullptr);
    EXPECT_EQ(log.Text(), "SA_FindTakeByID(4242) NoStory failed!\n");
    ST_RemoveAllTakes(&root_);
}

// Ports 0..2 of a table; `filled` says which have a port instance.
struct PortTable {
    Inst3D insts[3]{};
    DockPortSlot slots[3]{};
    DockPortTable table{nullptr, 3, slots, 1};
    explicit PortTable(const char* filled) {
        for (int i = 0; i < 3; ++i) slots[i].portInstance = filled[i] == 'x' ? &insts[i] : nullptr;
    }
    int Index(const DockPortSlot* s) const { return s ? static_cast<int>(s - slots) : -1; }
};

TEST_F(Flight, DockPortsByIndexAndByShipClass) {
    struct Case {
        const char* filled;
        int32_t port, shipClass;
        int expected;
    } cases[] = {
        {"xxx", 2, 0, 2},  {"xxx", 4, 0, 1},    // a fixed port, modulo the count
        {"x-x", 1, 0, -1},                      // ... that has no instance
        {"xxx", -1, 1, 1}, {"xxx", -1, 12, 1},  // classes 1, 9, 10, 12: the second
        {"x-x", -1, 9, 0},                      // ... else the first with an instance
        {"xxx", -1, 5, 0}, {"-xx", -1, 6, 1},   // classes 5, 6, 7: the first, else the second
        {"--x", -1, 7, 2}, {"xxx", -1, -3, 0},  // a negative class counts as 7
        {"-xx", -1, 0, 1}, {"---", -1, 0, -1},  // others: the first with an instance
    };
    for (const Case& c : cases) {
        PortTable t(c.filled);
        EXPECT_EQ(t.Index(O_GetDockPortEntry(&t.table, c.port, c.shipClass)), c.expected)
            << c.filled << " port " << c.port << " class " << c.shipClass;
    }
    DockPortTable empty{};
    EXPECT_EQ(O_GetDockPortEntry(&empty, -1, 0), nullptr);
    EXPECT_EQ(O_GetDockPortEntry(nullptr, 0, 0), nullptr);
    // The ship type gives the class.
    Types(SA_MT_SHIP, 2)[1].field[SA_TF_CLASS] = 10;
    PortTable t("xxx");
    EXPECT_EQ(t.Index(O_GetShipDockPortInst(1, -1, &t.table)), 1);
    EXPECT_EQ(t.Index(O_GetShipDockPortInst(0, -1, &t.table)), 0);
}

TEST_F(Flight, PortPointsFollowTheInstancesAndTheirParents) {
    PortTable t("x--");
    Inst3D top{}, approach{};
    Qel_MatIdentity(&top.matrix);
    Qel_MatFromAngles(&top.matrix, 16384, 0, 0);  // the carrier turned a quarter: its z axis is world -x
    top.pos = QelVector{1000000, 0, 0, 0};
    top.scale = QelVector{65536, 65536, 65536, 0};
    Inst3D& port = t.insts[0];
    Qel_MatIdentity(&port.matrix);
    port.pos = QelVector{0, 0, 200000, 0};
    port.parent = &top;
    QelVector at, out, axis;
    ASSERT_EQ(O_GetPortPoints(&t.slots[0], &at, &out, &axis), 1);
    EXPECT_NEAR(at.x, 800000, 2);
    EXPECT_NEAR(at.z, 0, 2);
    // Without an approach instance the point lies 50,000 out along the port's axis.
    EXPECT_NEAR(out.x, 750000, 2);
    EXPECT_NEAR(axis.x, -65536, 2);
    approach.pos = QelVector{5, 6, 7, 0};
    t.slots[0].approachInstance = &approach;
    ASSERT_EQ(O_GetPortPoints(&t.slots[0], &at, &out, &axis), 1);
    EXPECT_EQ(out.x, 5);
    EXPECT_EQ(O_GetPortPoints(&t.slots[1], &at, &out, &axis), 0);
}

TEST_F(Flight, GroupRelationsSetTheMasks) {
    SectorObject* ship = New(SA_MT_SHIP);
    ship->group = 3;
    RelationWords* w = O_RelationWords(ship);
    struct Case {
        int32_t group, relation;
        uint32_t friends, foes;
    } cases[] = {
        {5, 1, 1u << 5, 0}, {5, -1, 0, 1u << 5}, {5, 0, 0, 0}, {3, -1, 1u << 3, 0},  // its own group is always a friend
        {40, -1, 0, 0},                                                              // no group beyond 31
    };
    for (const Case& c : cases) {
        w->friendMask = w->foeMask = 0;
        SA_SetGroupRelation(ship, c.group, c.relation);
        EXPECT_EQ(w->friendMask, c.friends) << c.group << " " << c.relation;
        EXPECT_EQ(w->foeMask, c.foes) << c.group << " " << c.relation;
    }
    SectorObject* laser = New(SA_MT_LASER);
    LogCapture log;
    SA_SetGroupRelation(laser, 2, 1);
    EXPECT_EQ(log.Text(), "SA_SetGroupRelation(2, 1) WRONG MAINTYPE: 8 called! NoStory\n");
}

TEST_F(Flight, FreeSpaceAndSafePositions) {
    SectorObject* ship = At(SA_MT_SHIP, 0, 0, 0, 10000);
    Qel_MatIdentity(&ship->instance->matrix);
    SectorObject* other = At(SA_MT_SHIP, 0, 0, 21998, 10000);
    EXPECT_EQ(O_IsSpaceFree(ship), 0);  // within 1.1 x 20,000
    other->instance->pos.z = 21999;
    EXPECT_EQ(O_IsSpaceFree(ship), 1);
    // 50,000 ahead along its axes lies 28,000 from the other.
    other->instance->pos.z = 22000;
    EXPECT_EQ(O_IsSafePosition(ship, 0, 0, 50000, 28000), 1);
    EXPECT_EQ(O_IsSafePosition(ship, 0, 0, 50000, 28001), 0);
    other->flags |= SA_FLAG_KILLED;  // the killed are out of the way
    EXPECT_EQ(O_IsSafePosition(ship, 0, 0, 50000, 28001), 1);
    SectorObject* loose = New(SA_MT_SHIP);
    EXPECT_EQ(O_IsSafePosition(loose, 0, 0, 0, 1), 0);  // not in a sector
}

TEST_F(Flight, TheNearestEnemyInRange) {
    SectorObject* hunter = At(SA_MT_SHIP, 0, 0, 0);
    hunter->group = 1;
    SA_SetGroupRelation(hunter, 2, -1);
    SectorObject* far = At(SA_MT_SHIP, 900000, 0, 0);
    SectorObject* near = At(SA_MT_SHIP, 300000, 0, 0);
    SectorObject* friendly = At(SA_MT_SHIP, 100000, 0, 0);
    SectorObject* marked = At(SA_MT_SHIP, 200000, 0, 0);
    far->group = near->group = marked->group = 2;
    friendly->group = 1;
    marked->flags |= 0x40000000;
    EXPECT_EQ(O_FindNearestEnemyOf(hunter, 1000000), near);
    EXPECT_EQ(O_FindNearestEnemyOf(hunter, 300000), nullptr);  // the range is a bound it stays below
    EXPECT_EQ(O_FindNearestEnemy(hunter, near, 1000000), far);
    near->hull = 500;
    far->hull = 5000;
    EXPECT_EQ(O_FindNearestEnemyByStrength(hunter, 1000, 9000, 1000000), far);
    EXPECT_EQ(O_FindNearestEnemyByStrength(hunter, 500, 5000, 1000000), nullptr);  // strictly between
    near->flags |= SA_FLAG_KILLED;
    EXPECT_EQ(O_FindNearestEnemyOf(hunter, 1000000), far);
    EXPECT_EQ(O_FindNearestEnemyOf(New(SA_MT_SHIP), 1000000), nullptr);  // outside a sector
}

TEST_F(Flight, LaserReachAndForwardOffset) {
    TypeRecord* bullets = Types(SA_MT_BULLET, 2);
    bullets[0].field[SA_TF_BULLET_SPEED] = 1000000;
    bullets[0].field[SA_TF_BULLET_LIFETIME] = 2000;
    bullets[1].field[SA_TF_BULLET_SPEED] = 500000;
    bullets[1].field[SA_TF_BULLET_LIFETIME] = 1000;
    TypeRecord* lasers = Types(SA_MT_LASER, 2);
    lasers[1].field[SA_TF_LASER_BULLET_TYPE] = 1;
    SectorObject* ship = New(SA_MT_SHIP);
    int32_t lo = -1, hi = -1;
    O_GetLaserRange(ship, &lo, &hi);
    EXPECT_EQ(lo, 0);
    EXPECT_EQ(hi, 0);
    for (int16_t sub : {0, 1}) Into(ship, New(SA_MT_LASER, sub));
    O_GetLaserRange(ship, &lo, &hi);
    EXPECT_EQ(lo, 500000);
    EXPECT_EQ(hi, 2000000);

    SectorObject* reference = At(SA_MT_DOCK, 0, 0, 0, 0);
    reference->size = 100000;
    Qel_MatIdentity(&reference->instance->matrix);
    SectorObject* o = At(SA_MT_SHIP, 3000, 0, 40000);
    EXPECT_EQ(O_GetForwardOffset(o, reference), 40000);
    o->instance->pos.x = 100001;  // beyond the reference's size on an axis
    EXPECT_EQ(O_GetForwardOffset(o, reference), 0);
}

TEST_F(Flight, ApproachStates) {
    SectorObject* ship = At(SA_MT_SHIP, 0, 0, 0, 10000);
    SectorObject* gate = At(SA_MT_GATE, 0, 0, 0, 400000);
    gate->flags |= SA_FLAG_HOLDER;
    EXPECT_EQ(O_GetApproachState(ship, gate, 400000), 3);
    EXPECT_EQ(O_GetApproachState(ship, gate, 1332000), 1);
    EXPECT_EQ(O_GetApproachState(ship, gate, 1332001), 0);
    gate->flags &= ~SA_FLAG_HOLDER;
    EXPECT_EQ(O_GetApproachState(ship, gate, 0), 0);  // the partner must hold objects

    SectorObject* dock = At(SA_MT_DOCK, 0, 0, 500000, 100000);
    dock->flags |= SA_FLAG_HOLDER;
    PortTable t("x--");
    t.insts[0].pos = QelVector{0, 0, 35001, 0};
    Qel_MatIdentity(&t.insts[0].matrix);
    O_DockData(dock)->ports = t.table;
    EXPECT_EQ(O_GetApproachState(ship, dock, 400000), 1);  // near: within four of its radii
    EXPECT_EQ(O_GetApproachState(ship, dock, 400001), 0);
    t.insts[0].pos.z = 35000;  // a port within the ship's radius + 25,000
    EXPECT_EQ(O_GetApproachState(ship, dock, 900000), 2);
    O_DockData(dock)->ports = DockPortTable{};
}

TEST_F(Flight, TheSpeedRamp) {
    struct Case {
        int64_t x, x0, x1;
        int32_t y0, y1, y;
    } cases[] = {
        {-5, 0, 100, 10, 20, 10},
        {0, 0, 100, 10, 20, 10},
        {100, 0, 100, 10, 20, 20},
        {500, 0, 100, 10, 20, 20},
        {50, 0, 100, 10, 20, 15},
        {25, 0, 100, 0, 100, 25},
        {7, 3, 3, 10, 20, 15},     // equal ends: the middle
        {75, 0, 100, 100, 0, 25},  // falling
        {375000, 0, 750000, 5000, 150000, 77500},
        {int64_t{1} << 40, 0, int64_t{1} << 41, 0, 2000000000, 1000000000},  // no overflow
    };
    for (const Case& c : cases) EXPECT_EQ(O_SpeedRamp(c.x, c.x0, c.x1, c.y0, c.y1), c.y) << c.x;
}

// The braking distance of a fast ship overflowed 32 bits, and a ship
// without acceleration divided by zero.
TEST_F(Flight, BrakingDistanceNeitherOverflowsNorDividesByZero) {
    EXPECT_EQ(O_BrakingDistance(150000, 30000), 750000);
    EXPECT_EQ(O_BrakingDistance(3000000, 1000), int64_t{9000000000});
    EXPECT_EQ(O_BrakingDistance(150000, 0), 0);
    EXPECT_EQ(O_BrakingDistance(150000, -5), 0);
}

// A ship at the origin looking down +z.
class Steering : public Flight {
protected:
    void SetUp() override {
        Flight::SetUp();
        TypeRecord* t = Types(SA_MT_SHIP, 1);
        t->field[SA_TF_STEP_Y] = t->field[SA_TF_STEP_X] = t->field[SA_TF_STEP_Z] = 3277;
        ship_ = At(SA_MT_SHIP, 0, 0, 0);
        Qel_MatIdentity(&ship_->instance->matrix);
    }
    std::vector<int32_t> Turn(int32_t x, int32_t y, int32_t z) {
        const QelVector goal{x, y, z, 0};
        O_SteerDirect(ship_, &goal);
        return {ship_->turnLeft[0], ship_->turnLeft[1], ship_->turnLeft[2]};
    }
    SectorObject* ship_ = nullptr;
};

TEST_F(Steering, DirectSteeringSetsTheRemainingAngles) {
    using V = std::vector<int32_t>;
    ship_->turnLeft[0] = ship_->turnLeft[1] = ship_->turnLeft[2] = 777;
    EXPECT_EQ(Turn(99, -99, 99), (V{0, 0, 0}));            // below 100 on every axis: cleared
    EXPECT_EQ(Turn(0, 500000, 0), (V{0, 16384, 0}));       // straight up: a quarter turn of pitch
    EXPECT_EQ(Turn(0, -500000, 0), (V{0, 49152, 0}));      // straight down, modulo a turn
    EXPECT_EQ(Turn(0, 0, 500000), (V{0, 0, 0}));           // ahead
    EXPECT_EQ(Turn(-500000, 0, 500000), (V{8192, 0, 0}));  // heading turns the nose toward -x
    EXPECT_EQ(Turn(500000, 0, 500000), (V{57344, 0, 0}));
    EXPECT_EQ(Turn(0, 0, -500000), (V{32768, 0, 0}));  // behind
    const V up45 = Turn(0, 500000, 500000);
    EXPECT_EQ(up45[0], 0);
    EXPECT_EQ(up45[1], 8192);
    // The ship's own frame counts: turned a quarter, world +x lies ahead.
    Qel_MatFromAngles(&ship_->instance->matrix, 49152, 0, 0);
    EXPECT_EQ(Turn(500000, 0, 0), (V{0, 0, 0}));
}

TEST_F(Steering, TheStyleFollowsAlignmentAndTheTypesTurnRates) {
    TypeRecord* t = O_GetTypeRecord(ship_);
    struct Case {
        int32_t y, x, z;  // heading, pitch and roll rates
        QelVector goal;
        int32_t style;
    } cases[] = {
        {3000, 3000, 3000, {0, 0, 500000, 0}, SA_STEER_DIRECT},        // aligned and far: direct
        {3000, 2000, 3000, {500000, 0, 0, 0}, SA_STEER_WEAK_PITCH},    // x weakest
        {3000, 3000, 3000, {500000, 0, 0, 0}, SA_STEER_WEAK_PITCH},    // x no greater than y and z
        {2000, 3000, 3000, {500000, 0, 0, 0}, SA_STEER_WEAK_HEADING},  // y no greater than z
        {3000, 3000, 2000, {500000, 0, 0, 0}, SA_STEER_DIRECT},        // roll weakest
        {3000, 2000, 3000, {0, 0, 50, 0}, SA_STEER_WEAK_PITCH},        // aligned but within 100: by rates
    };
    for (const Case& c : cases) {
        t->field[SA_TF_STEP_Y] = c.y;
        t->field[SA_TF_STEP_X] = c.x;
        t->field[SA_TF_STEP_Z] = c.z;
        EXPECT_EQ(O_ChooseSteerStyle(ship_, &c.goal), c.style) << c.y << " " << c.x << " " << c.z;
    }
    // The weak-pitch style rolls the goal onto the side axis, then turns the heading.
    const QelVector above{0, 500000, 500000, 0};
    O_SteerWeakPitch(ship_, &above);
    EXPECT_EQ(ship_->turnLeft[1], 0);
    EXPECT_EQ(ship_->turnLeft[2], 16384);
    EXPECT_EQ(ship_->turnLeft[0], 65536 - 8192);
    // The weak-heading style pitches up to a goal above, rolling to one at the side first.
    O_SteerWeakHeading(ship_, &above);
    EXPECT_EQ(ship_->turnLeft[0], 0);
    EXPECT_EQ(ship_->turnLeft[1], 8192);
    EXPECT_EQ(ship_->turnLeft[2], 0);
    const QelVector side{-500000, 0, 500000, 0};
    O_SteerWeakHeading(ship_, &side);
    EXPECT_EQ(ship_->turnLeft[2], 16384);
    EXPECT_EQ(ship_->turnLeft[1], 8192);
}

TEST_F(Steering, ATurnEndsExactlyAtItsGoalWithItsSpeedZero) {
    struct Case {
        int32_t remaining, top, accel, step;
    } cases[] = {{16384, 3277, 3277, 16},
                 {-16384, 3277, 3277, 16},
                 {300, 3277, 3277, 1000},
                 {1, 10, 0, 16},
                 {-40000, 20000, 500, 33}};
    for (const Case& c : cases) {
        int32_t left = c.remaining, speed = 0, steps = 0, fastest = 0;
        while (left != 0 && steps < 100000) {
            const int32_t turn = O_SteerToTarget(left, speed, c.top, c.accel, c.step, &speed);
            ASSERT_LE(std::abs(turn), std::abs(left)) << c.remaining;  // never past the goal
            ASSERT_TRUE(turn == 0 || (turn > 0) == (left > 0));
            left -= turn;
            fastest = std::max(fastest, std::abs(speed));
            ++steps;
        }
        EXPECT_EQ(left, 0) << c.remaining;
        EXPECT_EQ(speed, 0) << c.remaining;
        EXPECT_LE(fastest, c.top) << c.remaining;
    }
    int32_t speed = 99;
    EXPECT_EQ(O_SteerToTarget(0, speed, 100, 100, 16, &speed), 0);
    EXPECT_EQ(speed, 0);
}

TEST_F(Flight, DockingShipsFarOffGiveTheOrderUp) {
    AnswerModule replies(1);
    SectorObject* dock = At(SA_MT_DOCK, 0, 0, 0, 100000);
    SectorObject* far = At(SA_MT_SHIP, 0, 0, 2000000);
    SectorObject* near = At(SA_MT_SHIP, 0, 0, 20000);
    for (SectorObject* s : {far, near}) {
        ShipData* d = O_ShipData(s);
        d->CourseType = VER_FLYINTO;
        d->OrderTarget = dock;
        d->PortIndex = -1;
        s->callerModule = 1;
        s->callerHandle = s->id;
    }
    O_CancelDockingTo(dock);
    EXPECT_EQ(O_ShipData(far)->CourseType, VER_STOP);
    EXPECT_EQ(O_ShipData(near)->CourseType, VER_FLYINTO);
    EXPECT_EQ(ReplyModule::Replies(), (Replies{{far->id, 3}}));
    EXPECT_EQ(far->callerModule, 0u);
}

}  // namespace
