// Movement and the orientation pass: steps by the last move time, drift and
// its decay, turning by turn speeds or toward remaining angles on autopilot,
// the flown distance, the sector's spin, and objects hanging on others.
#include "space/movement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "scene/bodyrecord.h"
#include "space/components.h"
#include "space/flight.h"
#include "space/order_fixture.h"
#include "space/orders.h"
#include "space/queries.h"

namespace {

class Movement : public OrderTest {
protected:
    // A ship that last moved `ago` ms before now, flying at `speed` down +z.
    SectorObject* Mover(int32_t ago, int32_t speed) {
        SectorObject* s = Ship();
        s->lastMoveTime = S_ClockAdvance(SA_Now(), -ago);
        s->speed = s->desiredSpeed = speed;
        return s;
    }
};

TEST_F(Movement, AStepCountsFromTheLastMoveAndIsCappedAtOneSecond) {
    struct Case {
        int32_t ago;
        int32_t moved;
    } cases[] = {
        {0, 0},                                         // first seen this frame: no step
        {16, 1600},    {1000, 100000}, {5000, 100000},  // a long pause counts as one second
        {-20, 100000},                                  // a last move in the future as well
    };
    for (const Case& c : cases) {
        SectorObject* s = Mover(c.ago, 100000);
        B3D_BerechneSXZ(sector_);
        EXPECT_EQ(s->instance->pos.z, c.moved) << c.ago;
        EXPECT_EQ(s->lastMoveTime, SA_Now());
        EXPECT_EQ(s->instance->velocity[2], 100000);
        s->flags |= SA_FLAG_KILLED;
        SA_DeleteKilledObjects();
    }
}

// The last move time never advanced, so every frame moved an object by a
// whole second.
TEST_F(Movement, EachFrameMovesByItsOwnStep) {
    SectorObject* s = Mover(0, 100000);
    for (int i = 0; i < 3; ++i) Frame(16);
    EXPECT_EQ(s->instance->pos.z, 4800);
    // The sector's spin clock runs by the frame too.
    SectorData* data = O_SectorData(sector_);
    data->spinRate = 1000;  // a turn in 65.536 s
    data->spinClock = 0;
    Frame(16);
    Frame(16);
    EXPECT_EQ(data->spinClock, 32);
    EXPECT_EQ(data->spinAngle, 32);
    EXPECT_EQ(data->lastMoveTime, SA_Now());
    data->spinClock = 65530;
    Frame(16);
    EXPECT_EQ(data->spinClock, 10);  // kept within one turn's period
}

TEST_F(Movement, DriftDecaysAndShipsUnderWayDropItsForwardPart) {
    struct Case {
        const char* name;
        int16_t mainType, course;
        int32_t speed, step;
        int32_t driftX, driftZ;  // after the step (from 10,000 and 6,000)
        int32_t movedX;
    } cases[] = {
        {"halves in a second", SA_MT_SHIP, 0, 0, 1000, 5000, 3000, 10000},
        {"three quarters in half a second", SA_MT_SHIP, 0, 0, 500, 7500, 4500, 5000},
        {"a moving ship keeps only what lies across", SA_MT_SHIP, 0, 1000, 1000, 5000, 0, 10000},
        {"... unless it docks", SA_MT_SHIP, VER_FLYINTO, 1000, 1000, 5000, 3000, 10000},
        {"a missile keeps all of it", SA_MT_MISSILE, 0, 1000, 1000, 5000, 3000, 10000},
    };
    Types(SA_MT_MISSILE, 1);
    for (const Case& c : cases) {
        SectorObject* o = Placed(c.mainType, 0, 0, 0, 0);
        o->lastMoveTime = S_ClockAdvance(SA_Now(), -c.step);
        if (ShipData* d = O_ShipData(o)) d->CourseType = c.course;
        o->speed = c.speed;
        o->drift[0] = 10000;
        o->drift[2] = 6000;
        B3D_BerechneSXZ(sector_);
        EXPECT_EQ(o->drift[0], c.driftX) << c.name;
        EXPECT_EQ(o->drift[2], c.driftZ) << c.name;
        EXPECT_EQ(o->instance->pos.x, c.movedX) << c.name;
        o->flags |= SA_FLAG_KILLED;
        SA_DeleteKilledObjects();
    }
}

TEST_F(Movement, RemainingAnglesEndExactlyAtZero) {
    SectorObject* s = Ship();
    s->flags |= SA_FLAG_AUTOPILOT;
    s->turnLeft[0] = 8192;  // an eighth of a turn of heading
    int frames = 0;
    while (s->turnLeft[0] && frames < 2000) {
        Frame(16);
        ++frames;
        ASSERT_GE(s->turnLeft[0], 0);
        ASSERT_LE(std::abs(s->rotSpeed[0]), kTestShipTurn);
    }
    EXPECT_EQ(s->turnLeft[0], 0);
    EXPECT_EQ(s->rotSpeed[0], 0);
    // An eighth of a turn at most a twentieth a second takes at least 2.5 s.
    EXPECT_GE(frames * 16, 2500);
    EXPECT_LE(frames * 16, 4500);
    EXPECT_NEAR(s->rot[0], 8192, 40);
    // Without the autopilot the remaining angles stay and the ship turns by its turn speeds.
    SectorObject* plain = Ship();
    plain->turnLeft[0] = 4000;
    plain->rotSpeed[2] = 1000;
    Frame(500);
    EXPECT_EQ(plain->turnLeft[0], 4000);
    EXPECT_EQ(plain->rot[0], 0);
    EXPECT_NEAR(plain->rot[2], 500, 2);
}

TEST_F(Movement, ThePlayersShipCountsItsDistance) {
    SectorObject* s = Mover(0, -300000);  // backward counts too
    s->flags |= SA_FLAG_PLAYER;
    root_.game.distanceRemainder = 0;
    for (int i = 0; i < 5; ++i) Frame(400);
    EXPECT_EQ(root_.game.totalDistance, 1);
    EXPECT_EQ(root_.game.distanceRemainder, 100000);
    Mover(0, 300000);  // others do not
    Frame(1000);
    EXPECT_EQ(root_.game.totalDistance, 1);
    EXPECT_EQ(root_.game.distanceRemainder, 400000);
}

TEST_F(Movement, ThePlayersRollLevelsWhenTheSteeringAsks) {
    SectorObject* s = Ship();
    s->flags |= SA_FLAG_PLAYER;
    Qel_MatFromAngles(&s->instance->matrix, 0, 0, 3000);
    s->rot[2] = 3000;
    root_.game.steering = 2 | 4;  // keep the level roll: it is the current one
    Frame(16);
    EXPECT_EQ(root_.rollAngle, 3000);
    root_.rollAngle = 0;
    root_.game.steering = 2;
    for (int i = 0; i < 300; ++i) Frame(16);
    EXPECT_NEAR(s->rot[2] > 32768 ? s->rot[2] - 65536 : s->rot[2], 0, 2);
    EXPECT_EQ(s->rotSpeed[2], 0);
    root_.game.steering = 0;
}

TEST_F(Movement, HangingObjectsFollowWhatTheyHangOn) {
    SectorObject* carrier = Mover(0, 50000);
    SectorObject* piece = Placed(SA_MT_SHIP, 0, 1000, 0, 2000);
    piece->flags |= SA_FLAG_HANGS_ON;
    piece->reference = carrier;
    Frame(16);  // the place is taken
    const QelVector offset = piece->hangOffset;
    EXPECT_EQ(offset.x, 1000);
    carrier->rotSpeed[0] = 16384;  // a quarter turn a second
    for (int i = 0; i < 10; ++i) Frame(100);
    // Wherever the carrier went and however it turned, the piece keeps its place in its frame.
    QelVector local;
    const QelVector d{piece->instance->pos.x - carrier->instance->pos.x,
                      piece->instance->pos.y - carrier->instance->pos.y,
                      piece->instance->pos.z - carrier->instance->pos.z, 0};
    Qel_MatTransMulVec(&carrier->instance->matrix, &d, &local);
    EXPECT_NEAR(local.x, offset.x, 4);
    EXPECT_NEAR(local.z, offset.z, 4);
    EXPECT_EQ(piece->instance->matrix.m[8], carrier->instance->matrix.m[8]);
    EXPECT_NEAR(piece->speed, 50000, 2);          // as fast as the carrier
    EXPECT_LT(carrier->instance->pos.x, -20000);  // a positive heading turns toward -x
    // A reference that goes leaves it where it is.
    carrier->flags |= SA_FLAG_KILLED;
    SA_DeleteKilledObjects();
    EXPECT_EQ(piece->reference, nullptr);
    Frame(16);
}

// The autopilot decides whether steering turns a ship: without it a ship
// ordered to a point off its axis keeps its heading and never arrives.
TEST_F(Movement, WithoutTheAutopilotAShipDoesNotTurnToAnOffAxisTarget) {
    for (bool autopilot : {true, false}) {
        SCOPED_TRACE(autopilot);
        runner_->answers.clear();
        SectorObject* s = Ship();
        if (autopilot) {
            ASSERT_EQ(Call(273, {IntValue(Id(s)), IntValue(1)}), 0);
        }
        ASSERT_EQ(Call(30, {IntValue(Id(s)), IntValue(400000), IntValue(0), IntValue(400000), IntValue(20000)}, 31),
                  kParked);
        for (int i = 0; i < 60 * 30 && Told().empty(); ++i) Frame(16);
        if (autopilot) {
            EXPECT_EQ(Told(), (Answers{{31, 1}}));
            EXPECT_LE(SA_VecDistance(&s->instance->pos, &O_ShipData(s)->OrderPos), 20000);
        } else {
            EXPECT_TRUE(Told().empty());
            EXPECT_EQ(s->instance->pos.x, 0);
            EXPECT_EQ(s->rot[0], 0);
        }
        s->flags |= SA_FLAG_KILLED;
        SA_DeleteKilledObjects();
    }
}

// A bullet fades out over its life; a beam shows its fade; neither ever
// gets alpha 0, which would draw it opaque.
TEST_F(Movement, BulletsFadeOverTheirLifetime) {
    struct Case {
        uint32_t typeFlags;
        int32_t left;  // ms of its 1,000 still ahead
        int32_t fade;  // a beam's
        int32_t alpha;
    } cases[] = {
        {0, 1000, 0, 255},           {0, 500, 0, 127}, {0, 4, 0, 1}, {0, 0, 0, 1}, {SA_BULLET_BEAM, 600, 32768, 127},
        {SA_BULLET_BEAM, 600, 0, 1},
    };
    Types(SA_MT_BULLET, 1);
    for (const Case& c : cases) {
        SectorObject* o = Placed(SA_MT_BULLET, 0, 0, 0, 0);
        BulletData* b = O_BulletData(o);
        b->typeFlags = c.typeFlags;
        b->lifetime = 1000;
        b->expiryTime = SA_TimeAfter(c.left);
        b->fade = c.fade;
        B3D_BerechneSXZ(sector_);
        EXPECT_EQ(o->instance->alphaOverride, c.alpha) << c.left << " " << c.typeFlags;
        o->flags |= SA_FLAG_KILLED;
        SA_DeleteKilledObjects();
    }
}

// The engine glow follows the speed against the maximum, never below the
// idle glow, and the jets opposite each push light.
TEST_F(Movement, EnginesGlowByTheSpeedAndLightOnTheThrustSide) {
    const uint32_t back = B3D_GlowSideBit(2, -1), front = B3D_GlowSideBit(2, 1);
    struct Case {
        const char* name;
        int32_t speed, heading, pitch;
        int32_t from, step;
        int32_t glow;
        uint32_t sides;
    } cases[] = {
        {"at rest it idles", 0, 0, 0, 0, 16, 655, 0},
        {"full speed, a step of 16 ms", kTestShipSpeed, 0, 0, 0, 16, 4192, back},
        {"full speed, 100 ms", kTestShipSpeed, 0, 0, 0, 100, 16384, back},
        {"half speed", kTestShipSpeed / 2, 0, 0, 0, 1000, 8192, back},
        {"slowing down", 0, 0, 0, 16384, 1000, 655, 0},
        {"boosting backward", -10000, 0, 0, 0, 1000, 262000, front},
        {"... and on", -10000, 0, 0, 262000, 1000, 262799, front},
        {"a heading turn", 0, 3276, 0, 655, 16, 655, B3D_GlowSideBit(0, 1)},
        {"the other way", 0, -3276, 0, 655, 16, 655, B3D_GlowSideBit(0, -1)},
        {"too slow a turn", 0, 3275, -3275, 655, 16, 655, 0},
        {"a pitch turn", 0, 0, -4000, 655, 16, 655, B3D_GlowSideBit(1, 1)},
    };
    for (const Case& c : cases) {
        SectorObject* s = Mover(c.step, c.speed);
        s->rotSpeed[0] = c.heading;
        s->rotSpeed[1] = c.pitch;
        s->instance->words5[SA_INST_ENGINE_GLOW] = c.from;
        B3D_BerechneSXZ(sector_);
        EXPECT_EQ(s->instance->words5[SA_INST_ENGINE_GLOW], c.glow) << c.name;
        EXPECT_EQ(static_cast<uint32_t>(s->instance->words5[SA_INST_GLOW_SIDES]), c.sides | B3D_GLOW_STATE) << c.name;
        s->flags |= SA_FLAG_KILLED;
        SA_DeleteKilledObjects();
    }
}

}  // namespace
