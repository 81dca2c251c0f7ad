// The behaviour pass with a stepped game clock: every course's ends and
// answers, the rest states, unlisted courses, targets killed between frames,
// time limits, the frame-step cap, the speed pass, the missile alarm and the
// objects the pass leaves alone.
#include "space/behaviour.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/table.h"
#include "cockpit/cockpits.h"
#include "scene/freeing.h"
#include "space/collisions.h"
#include "space/create.h"
#include "space/flight.h"
#include "space/kill.h"
#include "space/order_fixture.h"
#include "space/orders.h"
#include "space/queries.h"
#include "support/gamefolder.h"
#include "support/logcapture.h"
#include "tools/lib/cutconv.h"

namespace {

class Behaviour : public OrderTest {
protected:
    ShipData* D(SectorObject* s) { return O_ShipData(s); }
};

// One course set up on a ship at the origin looking down +z; after the
// frames the ship has the course and its task the answer (0: none).
struct CourseCase {
    const char* name;
    std::function<void(SectorObject*)> setUp;
    int32_t answer;
    int16_t course;
    int frames = 1;
};

// A ship as the space module makes it re-plans its attack on a random delay
// of its own: no frame of a long attack logs a bad random range, and the next
// re-plan is never more than the interval ahead.
TEST_F(Behaviour, ANewShipsAttackRePlansOnItsOwnInterval) {
    SectorObject* ship = Ship();
    SectorObject* target = Placed(SA_MT_SHIP, 0, 3000000, 0, 0);  // abeam: the attacker must turn
    ShipData* d = D(ship);
    ASSERT_GT(d->ThinkInterval, 0);
    d->CourseType = VER_ATTACK;
    d->OrderTarget = target;
    d->PortIndex = -1;
    LogCapture log;
    int replans = 0;
    for (int i = 0; i < 200; ++i) {
        const int32_t before = d->NextThink;
        Frame(16);
        if (d->NextThink != before) {
            ++replans;
            EXPECT_LE(S_ClockDiff(d->NextThink, system_->gameClock), d->ThinkInterval);
        }
    }
    EXPECT_EQ(d->CourseType, VER_ATTACK);
    EXPECT_GT(replans, 1);
    EXPECT_LT(replans, 200);  // not every frame
    EXPECT_FALSE(log.Contains("Qel_LongRandom: Wrong argument")) << log.Text();
    SA_FireObjectCallback(ship, 3);  // the order's task has its answer before the ship goes
}

TEST_F(Behaviour, EveryCourseEndsWithItsAnswer) {
    const auto to = [](SectorObject* s, int16_t course, SectorObject* target) {
        ShipData* d = O_ShipData(s);
        d->CourseType = course;
        d->OrderTarget = target;
        d->PortIndex = -1;
    };
    const CourseCase cases[] = {
        {"move pos",
         [&](SectorObject* s) {
             to(s, VER_MOVEPOS, nullptr);
             O_ShipData(s)->OrderPos = QelVector{0, 3000, 1000, 0};
             O_ShipData(s)->OrderRange = 5000;
         },
         1, VER_STOP},
        {"move on",
         [&](SectorObject* s) {
             to(s, VER_MOVEPOSCONTINUE, nullptr);
             O_ShipData(s)->OrderRange = 10;
         },
         1, VER_STOP},
        {"fly before, no target", [&](SectorObject* s) { to(s, VER_FLYBEFORE, nullptr); }, 3, VER_STOP},
        {"fly before a ship",
         [&](SectorObject* s) {
             SectorObject* other = Placed(SA_MT_SHIP, 0, 0, 0, 100000);
             to(s, VER_FLYBEFORE, other);
             O_ShipData(s)->OrderPos = other->instance->pos;
         },
         1, VER_STOP},
        {"fly into, no target", [&](SectorObject* s) { to(s, VER_FLYINTO, nullptr); }, 3, VER_STOP},
        {"fly into, entered",
         [&](SectorObject* s) {
             SectorObject* dock = Placed(SA_MT_DOCK, 0, 0, 0, 20000);
             to(s, VER_FLYINTO, dock);
             O_ShipData(s)->OrderPos = O_ShipData(s)->PortOffset = dock->instance->pos;
         },
         1, VER_STOP},
        {"turn to, no target", [&](SectorObject* s) { to(s, VER_ROTATEANDCHECK, nullptr); }, 3, VER_TURNED},
        {"turn to, out of reach",
         [&](SectorObject* s) {
             to(s, VER_ROTATEANDCHECK, Placed(SA_MT_SHIP, 0, 0, 0, 500000));
             O_ShipData(s)->OrderRange = 400000;
         },
         3, VER_TURNED},
        {"turn to, aligned",
         [&](SectorObject* s) {
             to(s, VER_ROTATEANDCHECK, Placed(SA_MT_SHIP, 0, 0, 0, 300000));
             O_ShipData(s)->OrderRange = 400000;
         },
         1, VER_TURNED},
        {"warp away",
         [&](SectorObject* s) {
             to(s, VER_WARPAWAY, nullptr);
             O_ShipData(s)->WarpEnd = SA_TimeAfter(900);
         },
         1, VER_STOP, 60},
        {"warp in",
         [&](SectorObject* s) {
             to(s, VER_WARPIN, nullptr);
             O_ShipData(s)->WarpEnd = SA_TimeAfter(900);
             O_ShipData(s)->OrderPos = QelVector{4, 5, 6, 0};
         },
         1, VER_STOP, 60},
        {"attack myself", [&](SectorObject* s) { to(s, VER_ATTACK, s); }, 3, VER_STOP},
        {"attack, target outside a sector", [&](SectorObject* s) { to(s, VER_ATTACKBIG, New(SA_MT_SHIP)); }, 3,
         VER_STOP},
        {"attack, lined up",
         [&](SectorObject* s) {
             to(s, VER_ATTACK, Placed(SA_MT_SHIP, 0, 0, 0, 300000));
             O_ShipData(s)->EvadeUntil = SA_Now();
         },
         1, VER_STOP},
        {"capture",
         [&](SectorObject* s) {
             s->size = 10000;
             to(s, VER_CAPTURE, Placed(SA_MT_SHIP, 0, 0, 0, 30000, 10000));
         },
         1, VER_STOP},
        {"avoid, nothing in the way",
         [&](SectorObject* s) {
             to(s, VER_AVOIDCOLLISION, nullptr);
             O_ShipData(s)->OrderPos = QelVector{0, 0, 500000, 0};
         },
         1, VER_STOP},
        {"escort, no target", [&](SectorObject* s) { to(s, VER_ESCORT, nullptr); }, 3, VER_STOP},
        {"escort, time limit",
         [&](SectorObject* s) {
             to(s, VER_ESCORT, Placed(SA_MT_SHIP, 0, 0, 0, 300000));
             O_ShipData(s)->TimeLimitOn = 1;
             O_ShipData(s)->TimeLimit = SA_TimeAfter(50);
         },
         13, VER_STOP, 4},
        {"follow, within reach",
         [&](SectorObject* s) {
             to(s, VER_FOLLOW, Placed(SA_MT_SHIP, 0, 0, 0, 50000));
             O_ShipData(s)->OrderRange = 100000;
         },
         1, VER_STOP},
        {"follow, time limit beats arrival",
         [&](SectorObject* s) {
             to(s, VER_FOLLOW, Placed(SA_MT_SHIP, 0, 0, 0, 50000));
             O_ShipData(s)->OrderRange = 100000;
             O_ShipData(s)->TimeLimitOn = 1;
             O_ShipData(s)->TimeLimit = SA_Now();
         },
         13, VER_STOP},
        {"follow, no target", [&](SectorObject* s) { to(s, VER_FOLLOW, nullptr); }, 3, VER_STOP},
        {"follow by cut, no target", [&](SectorObject* s) { to(s, VER_FOLLOWBYCUT, nullptr); }, 3, VER_STOP},
        {"idle",
         [&](SectorObject* s) {
             to(s, VER_IDLE, nullptr);
             O_ShipData(s)->TimeLimit = SA_TimeAfter(100);
         },
         1, VER_STOP, 7},
        {"clear hangar, no carrier", [&](SectorObject* s) { to(s, VER_CLEARHANGAR, nullptr); }, 3, VER_STOP},
        {"clear hangar, clear",
         [&](SectorObject* s) {
             to(s, VER_CLEARHANGAR, Placed(SA_MT_DOCK, 0, 0, 0, -200000));
             O_ShipData(s)->PortOffset = QelVector{0, 0, -200000, 0};
         },
         1, VER_STOP},
        {"angles, reached",
         [&](SectorObject* s) {
             to(s, VER_ROTATETOANGLES, nullptr);
             O_ShipData(s)->OrderPos = QelVector{0, 0, SA_NO_ROLL, 0};
         },
         1, VER_STOP},
        {"glide, arrived", [&](SectorObject* s) { to(s, VER_GLIDEPOS, nullptr); }, 1, VER_STOP},
        {"defensive, time limit",
         [&](SectorObject* s) {
             to(s, VER_DEFENSIVEMOVE, nullptr);
             O_ShipData(s)->TimeLimitOn = 1;
             O_ShipData(s)->TimeLimit = SA_TimeAfter(200);
         },
         13, VER_STOP, 14},
        {"collect, reached",
         [&](SectorObject* s) {
             s->size = 1000;
             to(s, VER_COLLECTDEBRIS, Placed(SA_MT_SHIP, 0, 0, 0, 4000, 1000));
         },
         1, VER_STOP},
        {"collect, no target", [&](SectorObject* s) { to(s, VER_COLLECTDEBRIS, nullptr); }, 3, VER_STOP},
        {"stop: a rest state", [&](SectorObject* s) { to(s, VER_STOP, nullptr); }, 0, VER_STOP, 3},
        {"turned: a rest state", [&](SectorObject* s) { to(s, VER_TURNED, nullptr); }, 0, VER_TURNED, 3},
    };
    for (const CourseCase& c : cases) {
        SCOPED_TRACE(c.name);
        runner_->answers.clear();
        SectorObject* ship = Ship();
        c.setUp(ship);
        for (int i = 0; i < c.frames; ++i) Frame(16);
        EXPECT_EQ(D(ship)->CourseType, c.course);
        if (c.answer) EXPECT_EQ(Told(), (Answers{{ship->id, c.answer}}));
        else EXPECT_TRUE(Told().empty());
        // Whatever happens next, the task has had its one answer.
        Frame(16);
        EXPECT_EQ(Told().size(), c.answer ? 1u : 0u);
        for (SectorObject* o = SA_ListFirst(O_GetChildList(sector_)); o; o = SA_ListNext(o)) o->flags |= SA_FLAG_KILLED;
        SA_DeleteKilledObjects();
    }
}

TEST_F(Behaviour, WhatTheEndsLeaveBehind) {
    // A ship entering its port stands still in it, aligned with it.
    SectorObject* dock = Placed(SA_MT_DOCK, 0, 0, 0, 20000);
    Qel_MatFromAngles(&dock->instance->matrix, 8192, 0, 0);
    SectorObject* ship = Ship();
    ship->speed = ship->desiredSpeed = 40000;
    ship->drift[0] = 900;
    ShipData* d = D(ship);
    d->CourseType = VER_FLYINTO;
    d->OrderTarget = dock;
    d->PortIndex = -1;
    d->OrderPos = d->PortOffset = dock->instance->pos;
    Frame(16);
    EXPECT_EQ(ship->speed, 0);
    EXPECT_EQ(ship->drift[0], 0);
    EXPECT_EQ(ship->instance->pos.z, 20000);
    EXPECT_EQ(ship->instance->matrix.m[8], dock->instance->matrix.m[8]);
    // A warp in ends at its point; the stop that follows clears the warp words.
    SectorObject* warper = Ship();
    ShipData* w = D(warper);
    w->CourseType = VER_WARPIN;
    w->WarpEffectOn = 1;
    w->WarpEnd = SA_TimeAfter(900);
    w->OrderPos = QelVector{4, 5, 6, 0};
    warper->flags |= SA_FLAG_NO_AREA_DAMAGE;
    for (int i = 0; i < 60; ++i) Frame(16);
    EXPECT_EQ(w->CourseType, VER_STOP);
    EXPECT_EQ(warper->instance->pos.y, 5);
    EXPECT_EQ(w->WarpEffectOn, 0);
    EXPECT_FALSE(warper->flags & SA_FLAG_NO_AREA_DAMAGE);
    // The stop of an autopilot ship takes its desired speed and target; flags2 bit 2 keeps the speed.
    SectorObject* stopped = Ship();
    stopped->flags |= SA_FLAG_AUTOPILOT;
    stopped->desiredSpeed = 50000;
    D(stopped)->OrderTarget = dock;
    D(stopped)->TimeLimitOn = 1;
    Frame(16);
    EXPECT_EQ(stopped->desiredSpeed, 0);
    EXPECT_EQ(D(stopped)->OrderTarget, nullptr);
    EXPECT_EQ(D(stopped)->TimeLimitOn, 0);
    stopped->flags2 |= 0x4;
    stopped->desiredSpeed = 50000;
    Frame(16);
    EXPECT_EQ(stopped->desiredSpeed, 50000);
    // The turned state spins about the roll axis only.
    SectorObject* turned = Ship();
    D(turned)->CourseType = VER_TURNED;
    turned->rotSpeed[0] = turned->rotSpeed[1] = 99;
    Frame(16);
    EXPECT_EQ(turned->rotSpeed[0], 0);
    EXPECT_EQ(turned->rotSpeed[2], kTestShipTurn);
}

TEST_F(Behaviour, UnlistedCoursesAreLeftAlone) {
    for (int16_t course : {1, 2, 3, 7, 9, 11, 12, 13, 14, 15, 19, 23, 26, 28, 37, 200, -1}) {
        SectorObject* ship = Ship();
        D(ship)->CourseType = course;
        ship->speed = ship->desiredSpeed = 7777;
        ship->turnLeft[0] = 55;
        Frame(16);
        EXPECT_EQ(D(ship)->CourseType, course);
        EXPECT_EQ(ship->desiredSpeed, 7777) << course;
        EXPECT_EQ(ship->turnLeft[0], 55) << course;
    }
    EXPECT_TRUE(Told().empty());
}

TEST_F(Behaviour, LandingTellsTheStoryWhenItIsCalledOff) {
    SectorObject* ship = Ship();
    D(ship)->CourseType = VER_LAND;
    D(ship)->PortIndex = 2;
    Frame(16);
    EXPECT_EQ(D(ship)->CourseType, VER_STOP);
    EXPECT_EQ(D(ship)->PortIndex, -1);
    EXPECT_EQ(Global(0), Id(ship));  // "NotifyDockingAbort" with its ID
    EXPECT_TRUE(Told().empty());     // and no answer code
    // While it may land, the carrier is marked.
    SectorObject* carrier = Placed(SA_MT_DOCK, 0, 0, 0, 10000, 20000);
    D(ship)->CourseType = VER_LAND;
    D(ship)->OrderTarget = carrier;
    D(ship)->NextThink = SA_TimeAfter(60000);
    // The hangar step clears the marks of every holder later in the frame.
    const SA_UpdatePhases saved = g_SAPhases;
    g_SAPhases.updateHangars = [](SectorObject*) {};
    Frame(16);
    g_SAPhases = saved;
    EXPECT_EQ(D(ship)->CourseType, VER_LAND);
    EXPECT_TRUE(carrier->flags & 0x10000000);
}

TEST_F(Behaviour, AKilledTargetAnswersThreeOnTheNextFrame) {
    SectorObject* ship = Ship();
    SectorObject* target = Placed(SA_MT_SHIP, 0, 0, 0, 2000000);
    ASSERT_EQ(Call(27, {IntValue(Id(ship)), IntValue(Id(target)), IntValue(1000), IntValue(0)}, 900), kParked);
    Frame(16);
    EXPECT_TRUE(Told().empty());
    SS_KillObject(target, 0, nullptr, 0);
    EXPECT_TRUE(Told().empty());
    Frame(16);
    EXPECT_EQ(Told(), (Answers{{900, 3}}));
    EXPECT_EQ(D(ship)->CourseType, VER_STOP);
}

TEST_F(Behaviour, TheFrameStepIsCappedAtOneSecond) {
    struct Case {
        int32_t delta, step;
    } cases[] = {{16, 16}, {1000, 1000}, {5000, 1000}, {-3, 0}};
    for (const Case& c : cases) {
        system_->gameFrameDelta = c.delta;
        EXPECT_EQ(VER_FrameStep(), c.step) << c.delta;
    }
    // A long frame speeds a ship up by one second's acceleration at most.
    SectorObject* ship = Ship();
    ship->desiredSpeed = 150000;
    Frame(5000);
    EXPECT_EQ(ship->speed, kTestShipAcceleration);
}

TEST_F(Behaviour, TheSpeedPass) {
    struct Case {
        const char* name;
        int32_t speed, desired, limit, accel, dt;
        int32_t newSpeed, newDesired;
    } cases[] = {
        {"accelerates by the step", 0, 100000, -1, 30000, 100, 3000, 100000},
        {"never past the desired speed", 99000, 100000, -1, 30000, 100, 100000, 100000},
        {"brakes by the step", 100000, 0, -1, 30000, 100, 97000, 0},
        {"capped at the maximum", 149000, 900000, -1, 30000, 100, 150000, 150000},
        {"capped at the speed limit", 0, 100000, 40000, 500000, 1000, 40000, 40000},
        {"a limit of 0 stops it", 500, 100000, 0, 30000, 16, 20, 0},
        {"at least 1 a frame", 0, 100, -1, 10, 16, 1, 100},
        {"no acceleration: still 1", 100, 0, -1, 0, 16, 99, 0},
    };
    for (const Case& c : cases) {
        SectorObject* ship = Ship();
        O_GetTypeRecord(ship)->field[SA_TF_SHIP_ACCELERATION] = c.accel;
        ship->speed = c.speed;
        ship->desiredSpeed = c.desired;
        D(ship)->SpeedLimit = c.limit;
        Frame(c.dt);
        EXPECT_EQ(ship->speed, c.newSpeed) << c.name;
        EXPECT_EQ(ship->desiredSpeed, c.newDesired) << c.name;
        ship->flags |= SA_FLAG_KILLED;
        SA_DeleteKilledObjects();
    }
    O_GetTypeRecord(Ship())->field[SA_TF_SHIP_ACCELERATION] = kTestShipAcceleration;
    // A held holder on autopilot stands still while it is marked or its hold time lies ahead.
    SectorObject* holder = Ship();
    holder->flags |= SA_FLAG_HOLDER | SA_FLAG_AUTOPILOT;
    holder->speed = holder->desiredSpeed = 5000;
    holder->rotSpeed[1] = 7;
    D(holder)->holdTime = SA_TimeAfter(1000);
    Frame(16);
    EXPECT_EQ(holder->speed, 0);
    EXPECT_EQ(holder->rotSpeed[1], 0);
    // Objects held still, or hanging on another, keep their speeds.
    SectorObject* held = Ship();
    held->flags |= SA_FLAG_HELD;
    held->desiredSpeed = 9000;
    Frame(16);
    EXPECT_EQ(held->speed, 0);
}

TEST_F(Behaviour, MissilesAimedAtThePlayerRaiseTheAlarm) {
    static int s_sounds = 0;
    s_sounds = 0;
    const SA_PlaySoundFn saved = g_SAPlaySound;
    g_SAPlaySound = [](int32_t, int32_t, int32_t, int32_t) { return ++s_sounds; };
    CockpitSystem cockpits{};
    g_CockpitSystem = &cockpits;
    Types(SA_MT_MISSILE, 1);
    SectorObject* player = Ship(0, 0, 0);
    player->flags |= SA_FLAG_PLAYER;
    root_.game.playerObject = player;
    SectorObject* missile = Placed(SA_MT_MISSILE, 0, 0, 0, 2000000);
    O_MissileData(missile)->target = player;
    O_MissileData(missile)->NextThink = SA_TimeAfter(100000);
    Frame(16);
    EXPECT_EQ(cockpits.statusFlags & SA_STATUS_MISSILE_ALARM, SA_STATUS_MISSILE_ALARM);
    EXPECT_EQ(cockpits.stateWords[1], 0);
    Frame(16);
    EXPECT_EQ(s_sounds, 1);             // once, as the alarm comes on
    missile->instance->pos.z = 300000;  // closing in
    Frame(16);
    EXPECT_EQ(cockpits.stateWords[1], SA_ALERT_MISSILE);
    O_MissileData(missile)->target = nullptr;
    Frame(16);
    EXPECT_EQ(cockpits.statusFlags & SA_STATUS_MISSILE_ALARM, 0u);
    EXPECT_EQ(cockpits.stateWords[1], SA_ALERT_MISSILE);  // never lowered here
    g_CockpitSystem = nullptr;
    g_SAPlaySound = saved;
    root_.game.playerObject = nullptr;
}

// A missile that outlives its flight time destroys itself, telling the story
// when it was after the player.
TEST_F(Behaviour, AnExpiredMissileDestroysItself) {
    Types(SA_MT_MISSILE, 1)->field[21] = 500;
    SectorObject* player = Ship();
    player->flags |= SA_FLAG_PLAYER;
    SectorObject* missile = Placed(SA_MT_MISSILE, 0, 0, 0, 2000000);
    MissileData* m = O_MissileData(missile);
    m->target = player;
    m->launchTime = SA_Now();
    Frame(100);
    EXPECT_FALSE(missile->flags & SA_FLAG_KILLED);
    const uint32_t id = missile->id;
    Frame(400);
    EXPECT_EQ(Global(0), static_cast<int32_t>(id));  // "NotifySelfDestruct"
    EXPECT_EQ(Qel_TableGet(root_.ids, id), 0u);
}

// A missile whose type carries a cut splits into the cut's pieces once,
// as soon as it has flown past its type's split delay.
TEST_F(Behaviour, AMissileWithACutSplitsOncePastItsDelay) {
    TempGameFolder folder;
    std::string text, error;
    ASSERT_TRUE(Tool_CutSourceToText("path 0 4001\npath 1 4001\n", &text, &error)) << error;
    folder.Write("cut/00640.bod", text);
    struct Case {
        const char* name;
        int32_t cut, delay, flown;
        uint32_t eventObject, flags2;
        int32_t pieces;
    } cases[] = {
        {"past its delay", 640, 499, 500, SA_NOTIFY_OBJECT, 0, 2},
        {"not yet", 640, 499, 499, SA_NOTIFY_OBJECT, 0, 0},
        {"older types wait half a second", 640, 500, 501, SA_NOTIFY_OBJECT, 0, 2},
        {"no cut", 0, 0, 500, SA_NOTIFY_OBJECT, 0, 0},
        {"no story object", 640, 0, 500, 0, 0, 0},
        {"split already", 640, 0, 500, SA_NOTIFY_OBJECT, 0x4, 0},
    };
    TypeRecord* missiles = Types(SA_MT_MISSILE, 2);
    missiles[1].field[SA_TF_BODY] = 4001;  // the pieces
    for (const Case& c : cases) {
        missiles[0].field[SA_TF_MISSILE_CUT] = c.cut;
        missiles[0].field[SA_TF_MISSILE_SPLIT_DELAY] = c.delay;
        SectorObject* missile = Placed(SA_MT_MISSILE, 0, 0, 0, 0);
        missile->eventObject = c.eventObject;
        missile->flags2 |= c.flags2;
        MissileData* m = O_MissileData(missile);
        m->launchTime = S_ClockAdvance(SA_Now(), -c.flown);
        m->NextThink = SA_TimeAfter(100000);
        const uint32_t before = Qel_TableGetCount(root_.ids);
        VER_UpdateObjects(sector_);
        EXPECT_EQ(Qel_TableGetCount(root_.ids), before + c.pieces) << c.name;
        EXPECT_EQ((missile->flags2 & 0x4) != 0, c.pieces > 0 || c.flags2) << c.name;
        VER_UpdateObjects(sector_);  // once only
        EXPECT_EQ(Qel_TableGetCount(root_.ids), before + c.pieces) << c.name;
        SA_FreeAllObjects(&root_);
        sector_ = New(SA_MT_SECTOR, 1);
    }
    J3D_FreeAllCuts();
}

// A tractor beam pulls what it holds toward its hold point when it is farther
// than the kept distance, and lets go when its source is no player's ship.
TEST_F(Behaviour, TractorBeamsPullTowardTheHoldPoint) {
    SectorObject* source = Ship();
    source->flags |= SA_FLAG_PLAYER;
    D(source)->holdOffset = QelVector{0, 0, 100000, 0};
    SectorObject* held = Placed(SA_MT_SHIP, 0, 0, 0, 300000);
    held->tractorSource = source;
    source->tractorHeld = held;
    held->tractorDistance = 0;
    Frame(100);
    EXPECT_LT(held->drift[2], 0);
    EXPECT_EQ(held->drift[0], 0);
    EXPECT_EQ(held->tractorSource, source);
    source->flags &= ~SA_FLAG_PLAYER;
    Frame(16);
    EXPECT_EQ(held->tractorSource, nullptr);
    EXPECT_EQ(source->tractorHeld, nullptr);
}

// Linked objects of an invalid subtype have no instance: both passes go past them.
TEST_F(Behaviour, ObjectsWithoutAnInstanceAreSkipped) {
    SectorObject* bare = Ship();
    Inst3D* inst = bare->instance;
    bare->instance = nullptr;
    D(bare)->CourseType = VER_MOVEPOS;
    bare->speed = bare->desiredSpeed = 9999;
    Frame(16);
    Frame(16);
    EXPECT_EQ(bare->speed, 9999);
    EXPECT_EQ(D(bare)->CourseType, VER_MOVEPOS);
    EXPECT_TRUE(Told().empty());
    bare->instance = inst;
}

// Values a story may give that the arithmetic must hold: a target followed
// at the largest speed, a bounce with a negative mass, the hue at the integer
// minimum. Each case runs its calls and frames; none may overflow (the
// sanitizer halts on it) and each leaves what it checks.
TEST_F(Behaviour, ExtremeStoryValuesStayInsideTheirWords) {
    const auto integer = [](int32_t n) { return IntValue(n); };
    const auto id = [](const SectorObject* o) { return IntValue(static_cast<int32_t>(o->id)); };
    struct Case {
        const char* what;
        std::function<void()> run;
    };
    const Case cases[] = {
        {"following a target at the largest speed",
         [&] {
             SectorObject* ship = Placed(SA_MT_SHIP, 0, 0, 0, 0);
             SectorObject* target = Placed(SA_MT_SHIP, 0, 0, 0, 1000000);  // looking away
             ASSERT_EQ(Call(64, {id(target), integer(INT32_MAX)}), 1);
             ASSERT_EQ(Call(27, {id(ship), id(target), integer(1000), integer(0)}), kParked);
             Frame(16);
             EXPECT_EQ(D(ship)->CourseType, VER_FOLLOW);
             EXPECT_GE(ship->desiredSpeed, 0);
             EXPECT_LE(ship->desiredSpeed, O_GetMaxSpeed(ship));
             SA_FireObjectCallback(ship, SA_ANSWER_ENDED);
         }},
        {"a bounce with a negative mass",
         [&] {
             SectorObject* a = Placed(SA_MT_SHIP, 0, 0, 0, 0);
             SectorObject* b = Placed(SA_MT_SHIP, 0, 0, 0, 1000);
             ASSERT_EQ(Call(60, {id(a), integer(INT32_MIN + 2)}), 0);
             ASSERT_EQ(Call(60, {id(b), integer(INT32_MAX)}), 0);
             a->instance->velocity[0] = 1000000;
             S_CollisionObjects(a, b);
             // No mass pushes nothing and takes the whole push back.
             EXPECT_EQ(a->drift[0], -2000000);
             EXPECT_EQ(b->drift[0], 0);
         }},
        {"the hue at the integer minimum",
         [&] {
             SectorObject* ship = Placed(SA_MT_SHIP, 0, 0, 0, 0);
             for (const int32_t hue : {INT32_MIN, INT32_MAX, -360, 361}) {
                 ASSERT_EQ(Call(120, {id(ship), integer(hue)}), 0);
                 EXPECT_EQ(Call(121, {id(ship)}), hue);
             }
         }},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        k.run();
    }
}

}  // namespace
