// Collisions, damage and weapons in a sector: pairs found by the pass with
// small collision models, damage on shields and hull, the story's callbacks,
// lasers firing bullets, beams, turrets and tractor releases.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "scene/body_fixture.h"
#include "scene/bodyrecord.h"
#include "scene/bodytext.h"
#include "scene/freeing.h"
#include "base/standin_calls.h"
#include "scene/instcoll.h"
#include "scene/records.h"
#include "scene/trees.h"
#include "space/collisions.h"
#include "script/modules.h"
#include "script/tasks.h"
#include "space/callnames.h"
#include "space/create.h"
#include "space/cutscene.h"
#include "space/flight.h"
#include "space/kill.h"
#include "space/order_fixture.h"
#include "space/orders.h"
#include "space/queries.h"
#include "space/syscall.h"
#include "space/utility.h"
#include "space/weapons.h"
#include "support/logcapture.h"
#include "tools/lib/bodyconv.h"
#include "tools/lib/cutconv.h"

namespace {

constexpr uint32_t kStory = 50;
constexpr int32_t kBody = 12;
constexpr int32_t kShipHull = 100000;
// A demo fighter's half-size: some 16 metres long, at a thousand units a metre.
constexpr int32_t kFighterSize = 8000;
// Globals of the story.
enum : int {
    kFree = 0,
    kMade,
    kWarp,
    kWarned,
    kAmmo,
    kUsed,
    kTractor,
    kAttacked,
    kPlanet,
    kMask,
    kLand,
    kFought,
    kGlobals
};

class Combat : public OrderTest {
protected:
    void SetUp() override {
        OrderTest::SetUp();
        if (HasFatalFailure()) return;
        // The story calls the space module and answers it.
        runner_ = std::make_unique<StoryRunner>();
        g_SEContext = runner_->ctx();
        root_.moduleNumber = SB_RegisterEngineModule(runner_->ctx(), SA_SysCall, SA_GetCallNames(),
                                                     SA_ReturnIntCallback, nullptr, nullptr);
        ASSERT_TRUE(runner_->Load(Story()));
        module_ = runner_->module();
        bodies_ = std::make_unique<BodyFolder>();
        std::string text, error;
        ASSERT_TRUE(Tool_ModelToTextBody("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n", &text, &error)) << error;
        bodies_->WriteBody(kBody, text);
        ASSERT_NE(B3D_LoadBody2(nullptr, kBody), nullptr);
        for (int i = 0; i < 2; ++i) SA_GetTypeRecord(SA_MT_SHIP, i)->field[SA_TF_SHIP_MAX_HULL] = kShipHull;
        Set(kAmmo, 1);
        Set(kMask, -1);
        Set(kTractor, -1);
    }
    void TearDown() override {
        SA_FreeAllObjects(&root_);
        J3D_FreeAllCuts();
        bodies_.reset();
        OrderTest::TearDown();
    }
    std::string Story() const override {
        std::string s = "    end\n";
        for (int i = 0; i < kGlobals; ++i) s += ".var \"G" + std::to_string(i) + "\" int 0\n";
        s += R"(.object 2100
.func "NotifyPlanetCollision" need 8
    c1
    setg 8
    pop
    c0
    ret
.object 50
.func "MakeDamage" need 8
    getl 4
    setg 1
    pop
    getg 0
    pushw 1
    sys "SA_FreeObject"
    pop
    c0
    ret
.func "CanWarp" need 8
    getl 4
    setg 2
    pop
    c0
    ret
.func "CollisionWarn" need 8
    c1
    setg 3
    pop
    c0
    ret
.func "GetAmmunitionCountReload" need 8
    getg 4
    ret
.func "UseAmmunition" need 8
    getl 5
    setg 5
    pop
    c0
    ret
.func "SetTractorDst" need 8
    getl 4
    setg 6
    pop
    getg 0
    pushw 1
    sys "SA_FreeObject"
    pop
    c0
    ret
.func "AttackedBy" need 8
    getl 5
    setg 7
    pop
    c0
    ret
.func "GetTurretFiringMask" need 8
    getg 9
    ret
.func "CanLand" need 8
    getl 4
    setg 10
    pop
    c0
    ret
.func "Fight" need 8
    c0
    pushl 600000
    getl 7
    getl 7
    c4
    sys "SA_AttackObject"
    setg 11
    pushds "Fight: the attack answered %d\n"
    c0
    c3
    sys "SE_DMprintf"
    pop
    c0
    ret
)";
        return s;
    }
    void Set(int i, int32_t v) {
        ScriptValue& var = runner_->ctx()->objects[0].variables[i];
        SV_Release(&var);
        var.tag = VARTYPE_INTEGER;
        var.bits = static_cast<uint64_t>(static_cast<int64_t>(v));
    }
    // An object of the sector with a collision model of half-size h around it.
    SectorObject* Body(int16_t mainType, int16_t sub, int32_t x, int32_t h = 1000) {
        SectorObject* o = Placed(mainType, sub, x, 0, 0, h);
        o->instance->bodyId = kBody;
        o->instance->worldPos = o->instance->pos;
        o->instance->totalRadius = h;
        o->instance->size = h;
        EXPECT_EQ(B3D_CollBuildModelOcta(o->instance, h, h, h), 1);
        o->flags2 &= ~SA_FLAG2_STATIONARY;
        return o;
    }
    SectorObject* Hulled(int32_t x) {
        SectorObject* s = Body(SA_MT_SHIP, 0, x);
        s->hull = kShipHull;
        s->mass = 1000;
        return s;
    }
    SectorObject* Shield(SectorObject* ship, int32_t energy, int32_t strength = 65536) {
        if (g_TypeDB.counts[SA_MT_SHIELD] < 1) Types(SA_MT_SHIELD, 1);
        SA_GetTypeRecord(SA_MT_SHIELD, 0)->field[SA_TF_SHIELD_STRENGTH] = strength;
        SectorObject* s = New(SA_MT_SHIELD, 0);
        Into(ship, s);
        static_cast<ShieldData*>(s->typeData)->energy = energy;
        return s;
    }
    static int32_t Energy(const SectorObject* shield) { return static_cast<ShieldData*>(shield->typeData)->energy; }
    // One frame of 50 ms with the scene's world positions kept and each new
    // bullet given a small collision model, as a drawn frame would.
    void FightFrame() {
        for (SectorObject* c = SA_ListFirst(O_GetChildList(sector_)); c; c = SA_ListNext(c)) {
            c->instance->worldPos = c->instance->pos;
            if (c->mainType == SA_MT_BULLET && !(c->instance->flags & INST_COLLISION_MODEL)) {
                c->instance->bodyId = kBody;
                c->instance->totalRadius = c->size = 200;
                B3D_CollBuildModelOcta(c->instance, 200, 200, 200);
            }
        }
        Frame(50);
    }

    std::unique_ptr<BodyFolder> bodies_;
};

// ---------------------------------------------------------------- damage

TEST_F(Combat, ShieldsTakeDamageBeforeTheHull) {
    SectorObject* ship = Hulled(0);
    SectorObject* attacker = Hulled(100000);
    SectorObject* a = Shield(ship, 300);
    SectorObject* b = Shield(ship, 300);
    O_DamageObject(ship, attacker, 200, -1);
    EXPECT_EQ(Energy(a), 100);
    EXPECT_EQ(Energy(b), 300);
    EXPECT_EQ(ship->hull, kShipHull);  // held: the hull takes nothing
    EXPECT_TRUE(a->flags2 & SA_FLAG2_SHIELD_HELD);
    // 500 more: the first shield's 100 and the second's 300 hold 400; a fifth
    // of the hull damage passes, at 96..100 percent.
    O_DamageObject(ship, attacker, 500, 1000);
    EXPECT_EQ(Energy(a), 0);
    EXPECT_EQ(Energy(b), 0);
    EXPECT_GE(kShipHull - ship->hull, 192);
    EXPECT_LE(kShipHull - ship->hull, 200);
    // Flag 0x20000000: no shields; all goes to the hull.
    SectorObject* bare = Hulled(200000);
    SectorObject* c = Shield(bare, 1000);
    bare->flags |= SA_FLAG_NO_SHIELDS;
    O_DamageObject(bare, attacker, 100, -1);
    EXPECT_EQ(Energy(c), 1000);
    EXPECT_GE(kShipHull - bare->hull, 96);
}

// Damage of 33 and more overflowed 32 bits in the shield cost; a shield of
// strength 0 divided by zero.
TEST_F(Combat, ShieldCostIn64BitsAndZeroStrength) {
    EXPECT_EQ(S_ShieldCost(33, 65536), 33000);
    EXPECT_EQ(S_ShieldCost(100000, 65536), 100000000);
    EXPECT_EQ(S_ShieldCost(1000, 131072), 500000);  // twice as strong: half the cost
    EXPECT_LT(S_ShieldCost(5, 0), 0);
    SectorObject* ship = Hulled(0);
    SectorObject* attacker = Hulled(100000);
    SectorObject* weak = Shield(ship, 5000, 0);
    O_DamageObject(ship, attacker, 1000, -1);
    EXPECT_EQ(Energy(weak), 5000);  // absorbs nothing
    EXPECT_GE(kShipHull - ship->hull, 960);
    EXPECT_LE(kShipHull - ship->hull, 1000);
}

TEST_F(Combat, BulletBitsFiveAndSeven) {
    TypeRecord* bullets = Types(SA_MT_BULLET, 3);
    bullets[1].field[SA_TF_BULLET_FLAGS] = SA_BULLET_THROUGH_SHIELDS;
    bullets[2].field[SA_TF_BULLET_FLAGS] = SA_BULLET_REPAIRS;
    struct Case {
        const char* name;
        int16_t bullet;
        int32_t shield;
        int32_t lowHull, highHull;  // the hull after 1000 hull damage
    } cases[] = {
        {"plain, held", 0, 5000, kShipHull, kShipHull},
        {"bit 5 goes through", 1, 5000, kShipHull - 1000, kShipHull - 960},
        {"bit 7 held: nothing", 2, 5000, kShipHull - 50000, kShipHull - 50000},
        {"bit 7 repairs", 2, 0, kShipHull - 50000 + 960, kShipHull - 50000 + 1000},
    };
    for (const Case& c : cases) {
        SectorObject* ship = Hulled(0);
        if (c.bullet == 2) ship->hull -= 50000;
        Shield(ship, c.shield);
        SectorObject* bullet = Placed(SA_MT_BULLET, c.bullet, 0, 0, 500000);
        O_DamageObject(ship, bullet, 100, 1000);
        EXPECT_GE(ship->hull, c.lowHull) << c.name;
        EXPECT_LE(ship->hull, c.highHull) << c.name;
    }
}

TEST_F(Combat, PercentagesAndJoltBounds) {
    EXPECT_EQ(S_HullPercent(0), 96);
    EXPECT_EQ(S_HullPercent(32767), 100);
    EXPECT_EQ(S_HullPercent(16384), 98);
    EXPECT_EQ(S_JoltLevel(1, 100000), 5);
    EXPECT_EQ(S_JoltLevel(50, 100), 50);
    EXPECT_EQ(S_JoltLevel(1000000, 1), 100);
    EXPECT_EQ(S_JoltLevel(10, 0), 100);  // a mass of 0 divides nothing
    EXPECT_EQ(S_JoltLevel(10, -5), 100);
}

// The planet damage came out at its floor of 200 for every depth when divided first.
TEST_F(Combat, PlanetDamageGrowsWithDepth) {
    const int32_t maxHull = 2000000000;
    EXPECT_EQ(S_PlanetDamage(750000, maxHull, 1000), 55555);
    EXPECT_EQ(S_PlanetDamage(375000, maxHull, 1000), 27777);
    EXPECT_EQ(S_PlanetDamage(375000, maxHull, 500), 13888);
    EXPECT_EQ(S_PlanetDamage(1000, maxHull, 1000), 200);  // the floor
    EXPECT_EQ(S_PlanetDamage(0, maxHull, 1000), 0);
    EXPECT_LT(S_PlanetDamage(100000, maxHull, 1000), S_PlanetDamage(200000, maxHull, 1000));
}

TEST_F(Combat, PlanetEdges) {
    system_->gameFrameDelta = 1000;  // above every draw of 0..199
    SectorObject* planet = Placed(SA_MT_PLANET, 0, 0, 0, 0, 1000000);
    root_.game.playerObject = nullptr;
    struct Case {
        const char* name;
        int32_t x;
        bool touching, damaged;
    } cases[] = {
        {"at the radius", 1000000, true, false},
        {"inside the zone", 1500000, false, true},
        {"at the zone's edge", 1750000, false, false},
    };
    for (const Case& c : cases) {
        SectorObject* ship = Placed(SA_MT_SHIP, 0, c.x, 0, 0, 1000);
        ship->hull = kShipHull;
        S_CheckCollisions(sector_);
        EXPECT_EQ((ship->flags2 & SA_FLAG2_TOUCHING) != 0, c.touching) << c.name;
        if (!c.touching) {
            EXPECT_EQ(ship->hull < kShipHull, c.damaged) << c.name;
        }
        SS_KillObject(ship, 14, nullptr, 0);
        SA_DeleteKilledObjects();
    }
    // The player's ship in the zone tells the story; a scripted one is asked first.
    SectorObject* ship = Placed(SA_MT_SHIP, 0, 1500000, 0, 0, 1000);
    ship->hull = kShipHull;
    ship->flags |= SA_FLAG_PLAYER;
    ship->eventObject = kStory;
    root_.game.playerObject = ship;
    LogCapture log;
    S_CheckCollisions(sector_);
    EXPECT_EQ(Global(kPlanet), 1);
    EXPECT_EQ(Global(kMade), 200);
    EXPECT_TRUE(log.Contains(std::to_string(Id(ship)) + ".MakeDamage: 200\n")) << log.Text();
    root_.game.playerObject = nullptr;
    (void)planet;
}

// Objects flagged as holders need not have a child list: their shields, and
// the lasers of an object without one, are none.
TEST_F(Combat, ObjectsWithoutAChildListHaveNoShieldsOrLasers) {
    SectorObject* rock = Placed(SA_MT_ASTEROID, 0, 0, 0, 0, 100);
    rock->flags |= SA_FLAG_HOLDER;
    rock->hull = 1000;
    O_DamageObject(rock, nullptr, 100, -1);
    EXPECT_LE(rock->hull, 904);
    EXPECT_EQ(O_FireLasers(rock, nullptr, 0, 0, ~0u), SA_FIRE_NONE);
    O_RechargeObject(rock);
}

// ---------------------------------------------------------------- pairs

TEST_F(Combat, PairRules) {
    Types(SA_MT_SPECIAL, 1);
    Types(SA_MT_MISSILE, 1)->field[SA_TF_MISSILE_DAMAGE] = 100;
    Types(SA_MT_BULLET, 1);
    struct Case {
        const char* name;
        int16_t mainA, mainB;
        uint32_t flagsA, flags2A;
        uint32_t sectorFlags;
        int relation;  // 1 A lands at B, 2 A is B's missile, 3 A is B's bullet
        bool touch;
    } cases[] = {
        {"two ships", SA_MT_SHIP, SA_MT_SHIP, 0, 0, 0, 0, true},
        {"a warning pending", SA_MT_SHIP, SA_MT_SHIP, SA_FLAG_COLLISION_WARNING, 0, 0, 0, true},
        {"killed", SA_MT_SHIP, SA_MT_SHIP, SA_FLAG_KILLED, 0, 0, 0, false},
        {"held in the warp", SA_MT_SHIP, SA_MT_SHIP, SA_FLAG_NO_AREA_DAMAGE, 0, 0, 0, false},
        {"flags2 0x20000", SA_MT_SHIP, SA_MT_SHIP, 0, SA_FLAG2_NO_COLLISION, 0, 0, false},
        {"two specials", SA_MT_SPECIAL, SA_MT_SPECIAL, 0, 0, 0, 0, false},
        {"special and ship", SA_MT_SPECIAL, SA_MT_SHIP, 0, 0, 0, 0, true},
        {"non-ship, ships only", SA_MT_SPECIAL, SA_MT_SHIP, 0, 0, SA_SPACE_SHIPS_COLLIDE_ONLY, 0, false},
        {"ships, ships only", SA_MT_SHIP, SA_MT_SHIP, 0, 0, SA_SPACE_SHIPS_COLLIDE_ONLY, 0, true},
        {"docking partners", SA_MT_SHIP, SA_MT_SHIP, 0, 0, 0, 1, false},
        {"missile and its launcher", SA_MT_MISSILE, SA_MT_SHIP, 0, 0, 0, 2, false},
        {"missile and another ship", SA_MT_MISSILE, SA_MT_SHIP, 0, 0, 0, 0, true},
        {"bullet and its shooter", SA_MT_BULLET, SA_MT_SHIP, 0, 0, 0, 3, false},
    };
    for (const Case& c : cases) {
        O_Sector(sector_)->spaceFlags = c.sectorFlags;
        SectorObject* a = Body(c.mainA, 0, 0);
        SectorObject* b = Body(c.mainB, 0, 1500);
        b->hull = kShipHull;
        if (c.relation == 1) {
            O_ShipData(a)->CourseType = VER_LAND;
            O_ShipData(a)->OrderTarget = b;
        }
        if (c.relation == 2) O_MissileData(a)->launcher = b;
        if (c.relation == 3) O_BulletData(a)->owner = b;
        a->flags |= c.flagsA;
        a->flags2 |= c.flags2A;
        S_CheckCollisions(sector_);
        EXPECT_EQ((b->flags2 & SA_FLAG2_TOUCHING) != 0, c.touch) << c.name;
        EXPECT_EQ(b->hull < kShipHull, c.touch && c.mainB == SA_MT_SHIP) << c.name;
        a->flags &= ~SA_FLAG_KILLED;
        SS_KillObject(a, 14, nullptr, 0);
        SS_KillObject(b, 14, nullptr, 0);
        SA_DeleteKilledObjects();
    }
    O_Sector(sector_)->spaceFlags = 0;
}

TEST_F(Combat, BodiesBounceByTheirMasses) {
    SectorObject* a = Hulled(0);
    SectorObject* b = Hulled(1500);
    a->instance->velocity[0] = 1000;
    a->mass = 3000;
    b->mass = 1000;
    S_CollisionObjects(a, b);
    // a keeps half its motion, b takes one and a half of it.
    EXPECT_EQ(a->drift[0], -500);
    EXPECT_EQ(b->drift[0], 1500);
    // No mass on either side exchanges nothing; a stationary side is not pushed.
    SectorObject* c = Hulled(5000);
    SectorObject* d = Hulled(6500);
    c->mass = d->mass = 0;
    c->instance->velocity[0] = 1000;
    S_CollisionObjects(c, d);
    EXPECT_EQ(c->drift[0], 0);
    EXPECT_EQ(d->drift[0], 0);
    d->mass = 1000;
    d->flags2 |= SA_FLAG2_STATIONARY;
    S_CollisionObjects(c, d);
    EXPECT_EQ(d->drift[0], 0);
}

// A story callback that frees one side of a pair ends the pass with its log
// line; the pass reads the freed object only while the free waits for the
// pass to end.
TEST_F(Combat, ACallbackKillEndsThePass) {
    SectorObject* a = Hulled(0);
    SectorObject* b = Hulled(1500);
    SectorObject* c = Hulled(3000);
    a->eventObject = kStory;
    Set(kFree, Id(a));
    const uint32_t ida = a->id;
    LogCapture log;
    S_CheckCollisions(sector_);
    EXPECT_TRUE(log.Contains("S_CheckCollisions(#" + std::to_string(ida) + ", #" + std::to_string(Id(b)) +
                             ") NoStory Object #" + std::to_string(ida) + " already killed!\n"))
        << log.Text();
    EXPECT_EQ(SA_LookupObject(ida), nullptr);     // freed when the pass ended
    EXPECT_FALSE(c->flags2 & SA_FLAG2_TOUCHING);  // the pair b, c waits for the next frame
    S_CheckCollisions(sector_);
    EXPECT_TRUE(c->flags2 & SA_FLAG2_TOUCHING);
}

TEST_F(Combat, ShipsNearAGateMayWarp) {
    struct Case {
        int16_t gateSub;
        int32_t x;
        bool approach, warp;
    } cases[] = {{0, 5000, true, true}, {4, 5000, true, false}, {0, 1000000, true, false}, {0, 3000000, false, false}};
    Types(SA_MT_GATE, 5);
    for (const Case& c : cases) {
        SectorObject* gate = Placed(SA_MT_GATE, c.gateSub, 0, 0, 0, 10000);
        gate->flags |= SA_FLAG_HOLDER;
        SectorObject* ship = Placed(SA_MT_SHIP, 0, c.x, 0, 0, 100);
        ship->eventObject = kStory;
        Set(kWarp, 0);
        S_CheckCollisions(sector_);
        EXPECT_EQ((ship->flags2 & SA_FLAG2_APPROACH) != 0, c.approach) << c.gateSub << " " << c.x;
        EXPECT_EQ(Global(kWarp), c.warp ? Id(ship) : 0) << c.gateSub << " " << c.x;
        SS_KillObject(gate, 14, nullptr, 0);
        SS_KillObject(ship, 14, nullptr, 0);
        SA_DeleteKilledObjects();
    }
}

// A ship may land when it is near a port of a holder that is not its enemy,
// slow enough, and the port has its instance.
TEST_F(Combat, CanLandAtADockPort) {
    Types(SA_MT_DOCK, 1);
    struct Case {
        const char* name;
        int32_t z;
        int32_t speed;
        bool enemy, portInstance;
        bool approach, mayLand, told;
    } cases[] = {
        {"at the port", 900000, 0, false, true, true, true, true},
        {"too fast", 900000, 50000, false, true, true, true, false},
        {"an enemy", 900000, 0, true, true, true, true, false},
        {"near, off the port", 150000, 0, false, true, true, false, false},
        {"no port instance", 900000, 0, false, false, true, false, false},
        {"far off", 3000000, 0, false, true, false, false, false},
    };
    for (const Case& c : cases) {
        SectorObject* dock = Placed(SA_MT_DOCK, 0, 0, 0, 0, 250000);
        dock->flags |= SA_FLAG_HOLDER;
        dock->group = 4;
        Inst3D port{};
        Qel_MatIdentity(&port.matrix);
        port.pos = QelVector{0, 0, 910000, 0};
        DockPortSlot slot{};
        slot.portInstance = c.portInstance ? &port : nullptr;
        O_DockData(dock)->ports = DockPortTable{nullptr, 1, &slot, 1};
        SectorObject* ship = Placed(SA_MT_SHIP, 0, 0, 0, c.z, 100);
        ship->eventObject = kStory;
        ship->speed = c.speed;
        ship->group = 3;
        if (c.enemy) SA_SetGroupRelation(ship, 4, -1);
        Set(kLand, 0);
        S_CheckCollisions(sector_);
        EXPECT_EQ((ship->flags2 & SA_FLAG2_APPROACH) != 0, c.approach) << c.name;
        EXPECT_EQ((ship->flags2 & SA_FLAG2_MAY_LAND) != 0, c.mayLand) << c.name;
        EXPECT_EQ(Global(kLand), c.told ? Id(ship) : 0) << c.name;
        O_DockData(dock)->ports = DockPortTable{};
        SS_KillObject(dock, 14, nullptr, 0);
        SS_KillObject(ship, 14, nullptr, 0);
        SA_DeleteKilledObjects();
    }
}

TEST_F(Combat, TheCollisionWarning) {
    SectorObject* ship = Placed(SA_MT_SHIP, 0, 0, 0, 0, 100);
    ship->eventObject = kStory;
    ship->flags |= SA_FLAG_COLLISION_WARNING;
    root_.game.playerObject = ship;
    LogCapture log;
    system_->debugFlags = 4096;
    S_CheckCollisions(sector_);
    system_->debugFlags = 0;
    EXPECT_EQ(Global(kWarned), 1);
    EXPECT_TRUE(log.Contains("CollisionWarn: " + std::to_string(Id(ship)) + "(=unknown object=)\n")) << log.Text();
    EXPECT_FALSE(ship->flags & SA_FLAG_COLLISION_WARNING);
    // Docking: cleared without a word.
    Set(kWarned, 0);
    ship->flags |= SA_FLAG_COLLISION_WARNING;
    O_ShipData(ship)->CourseType = VER_LAND;
    S_CheckCollisions(sector_);
    EXPECT_EQ(Global(kWarned), 0);
    EXPECT_FALSE(ship->flags & SA_FLAG_COLLISION_WARNING);
    root_.game.playerObject = nullptr;
}

TEST_F(Combat, ABulletNeverHitsItsShooter) {
    TypeRecord* bullet = Types(SA_MT_BULLET, 1);
    bullet->field[SA_TF_BULLET_SHIELD_DAMAGE] = 500;
    bullet->field[SA_TF_BULLET_HULL_DAMAGE] = 500;
    SectorObject* shooter = Hulled(0);
    SectorObject* other = Hulled(100000);
    other->eventObject = kStory;
    SectorObject* shot = Placed(SA_MT_BULLET, 0, 0, 0, 0, 10);
    O_BulletData(shot)->owner = shooter;
    S_CollisionObjects(shot, shooter);
    EXPECT_EQ(shooter->hull, kShipHull);
    EXPECT_FALSE(shot->flags & SA_FLAG_KILLED);
    S_CollisionObjects(other, shot);
    EXPECT_LE(other->hull, kShipHull - 460);
    EXPECT_GE(other->hull, kShipHull - 500);
    EXPECT_GE(Global(kAttacked), 480);
    EXPECT_TRUE(shot->flags & SA_FLAG_KILLED);
    EXPECT_TRUE(shot->flags2 & SA_FLAG2_HAS_HIT);
    EXPECT_TRUE(other->flags2 & SA_FLAG2_HIT_A);
}

// A swept bullet is handled as the pair pass handles a hit; a new object,
// whose collision warning is still pending, is hit like any other.
TEST_F(Combat, ASweptBulletHitsThroughThePairHandling) {
    TypeRecord* bullet = Types(SA_MT_BULLET, 1);
    bullet->field[SA_TF_BULLET_SPEED] = 100000;
    bullet->field[SA_TF_BULLET_SHIELD_DAMAGE] = 500;
    bullet->field[SA_TF_BULLET_HULL_DAMAGE] = 500;
    system_->gameFrameDelta = 100;
    SectorObject* shooter = Hulled(0);
    SectorObject* target = Hulled(0);
    target->instance->pos.z = 5000;
    target->eventObject = kStory;
    ASSERT_TRUE(target->flags & SA_FLAG_COLLISION_WARNING);  // as every new object is
    SectorObject* shot = Placed(SA_MT_BULLET, 0, 0, 0, 9000, 10);
    O_BulletData(shot)->owner = shooter;
    EXPECT_EQ(O_SweepBullet(shot), 1);
    EXPECT_LE(target->hull, kShipHull - 460);
    EXPECT_EQ(shooter->hull, kShipHull);
    EXPECT_GE(Global(kAttacked), 480);
    EXPECT_TRUE(shot->flags & SA_FLAG_KILLED);
}

// A ship type that names an engine sound gives it to its ships' body, whose
// instances then play it while they are heard.
TEST_F(Combat, AShipTypesEngineSoundIsItsBodysSound) {
    TypeRecord* ship = SA_GetTypeRecord(SA_MT_SHIP, 0);
    ship->field[SA_TF_BODY] = kBody;
    ASSERT_EQ(New(SA_MT_SHIP, 0)->instance->soundId, 0);  // the body has none of its own
    ship->field[SA_TF_SHIP_ENGINE_SOUND] = 102;
    EXPECT_EQ(New(SA_MT_SHIP, 0)->instance->soundId, 102);
    Inst3D* another = B3D_AllocInst();
    ASSERT_EQ(B3D_InstSetBody(another, kBody), 1);
    EXPECT_EQ(another->soundId, 102);
    B3D_InstFree(another);
}

// The frame's collision pass sweeps each shot's way since the last frame: a
// shot that crossed a ship between two frames, touching it at neither, hits
// it; one that passed beside it does not.
TEST_F(Combat, TheCollisionPassSweepsAShotThroughWhatItCrossed) {
    TypeRecord* bullet = Types(SA_MT_BULLET, 1);
    bullet->field[SA_TF_BULLET_SPEED] = 100000;
    bullet->field[SA_TF_BULLET_SHIELD_DAMAGE] = 500;
    bullet->field[SA_TF_BULLET_HULL_DAMAGE] = 500;
    system_->gameFrameDelta = 100;  // a way of 10000 a frame, the ship 2000 wide
    struct Case {
        const char* name;
        int32_t x;
        bool hits;
    } cases[] = {{"through the ship", 0, true}, {"beside it", 5000, false}};
    for (const Case& c : cases) {
        SectorObject* shooter = Hulled(300000);
        SectorObject* target = Hulled(0);
        SectorObject* shot = Placed(SA_MT_BULLET, 0, c.x, 0, 6000, 10);  // came from z -4000
        O_BulletData(shot)->owner = shooter;
        S_CheckCollisions(sector_);
        EXPECT_EQ(target->hull < kShipHull, c.hits) << c.name;
        EXPECT_EQ((shot->flags & SA_FLAG_KILLED) != 0, c.hits) << c.name;
        EXPECT_EQ(shooter->hull, kShipHull) << c.name;
        for (SectorObject* o : {shooter, target, shot})
            if (!(o->flags & SA_FLAG_KILLED)) SS_KillObject(o, 14, nullptr, 0);
        SA_DeleteKilledObjects();
    }
}

// The pair search finds exactly the pairs, in the order, of the plain search
// over every pair, on random sectors: spread or clustered, sizes from none to
// planet-sized (and negative), planets and holders reaching past the radii,
// beams and bullets, coordinates out to the 32-bit edges.
TEST(PairSearch, MatchesThePlainSearchOverEveryPair) {
    const auto plain = [](const std::vector<S_PairEntry>& e) {
        std::vector<uint64_t> out;
        for (size_t i = 0; i < e.size(); ++i)
            for (size_t j = i + 1; j < e.size(); ++j) {
                const S_PairEntry &a = e[i], &b = e[j];
                if (a.beam || b.beam || (a.bullet && b.bullet)) continue;
                const int64_t reach = a.r + b.r;
                const bool far = a.planet || b.planet || (a.ship && b.holder) || (b.ship && a.holder);
                if (far ||
                    (std::llabs(a.x - b.x) < reach && std::llabs(a.y - b.y) < reach && std::llabs(a.z - b.z) < reach))
                    out.push_back(uint64_t{i} << 32 | j);
            }
        return out;
    };
    struct Case {
        const char* name;
        int count;
        int64_t side;                   // of the cube they are placed in
        int64_t clump;                  // > 0: in eight clumps of this size placed in the cube
        std::vector<int64_t> radii;     // drawn from
        int planets, holders, bullets;  // in 1000
    } cases[] = {
        {"spread ships", 600, 20000000, 0, {1000}, 0, 0, 0},
        {"clustered ships", 400, 30000, 0, {1000}, 0, 0, 0},
        {"touching on the cell edges", 300, 16384, 0, {1024, 2048}, 0, 0, 0},
        {"mixed sizes", 500, 400000, 0, {0, 1, 3, 200, 1000, 8000, 60000}, 0, 0, 100},
        {"few at each level", 40, 200000, 0, {0, 10, 100, 1000, 10000, 100000, 1000000}, 0, 0, 0},
        {"planets, holders, bullets, beams", 300, 2000000, 0, {50, 1000, 20000}, 10, 30, 300},
        {"negative and huge radii", 200, 1000000, 0, {-5000, -1, 0, 700, 500000, INT32_MAX}, 0, 0, 0},
        {"the 32-bit edges", 300, int64_t{1} << 32, 0, {1000, 100000000, 1500000000}, 0, 0, 0},
        {"small clumps far apart", 400, (int64_t{1} << 32) - 20000, 6000, {0, 300, 1000}, 0, 0, 0},
        {"one point", 50, 0, 0, {0, 1000}, 0, 0, 0},
        {"none", 0, 1000, 0, {1}, 0, 0, 0},
    };
    std::mt19937 rng(7);
    for (const Case& c : cases)
        for (int round = 0; round < 3; ++round) {
            std::uniform_int_distribution<int64_t> at(-c.side / 2, (c.side - 1) / 2);
            std::uniform_int_distribution<int64_t> near(-c.clump / 2, c.clump / 2);
            std::uniform_int_distribution<size_t> radius(0, c.radii.size() - 1), clump(0, 7);
            std::uniform_int_distribution<int> permille(0, 999);
            int64_t centres[8][3];
            for (auto& centre : centres)
                for (int64_t& v : centre) v = at(rng);
            std::vector<S_PairEntry> e;
            for (int i = 0; i < c.count; ++i) {
                S_PairEntry o{at(rng), at(rng), at(rng), c.radii[radius(rng)], false, false, false, false, false};
                if (c.clump > 0) {
                    const int64_t* centre = centres[clump(rng)];
                    o.x = centre[0] + near(rng);
                    o.y = centre[1] + near(rng);
                    o.z = centre[2] + near(rng);
                }
                o.planet = permille(rng) < c.planets;
                o.bullet = !o.planet && permille(rng) < c.bullets;
                o.beam = o.bullet && permille(rng) < 100;
                o.ship = !o.planet && !o.bullet && permille(rng) < 700;
                o.holder = !o.bullet && !o.planet && permille(rng) < c.holders;
                e.push_back(o);
            }
            EXPECT_EQ(S_FindPairs(e), plain(e)) << c.name << ", round " << round;
        }
}

// ---------------------------------------------------------------- weapons

class Weapons : public Combat {
protected:
    void SetUp() override {
        Combat::SetUp();
        if (HasFatalFailure()) return;
        TypeRecord* bullets = Types(SA_MT_BULLET, 2);
        for (int i = 0; i < 2; ++i) {
            bullets[i].field[SA_TF_BULLET_SPEED] = 100000;
            bullets[i].field[SA_TF_BULLET_LIFETIME] = 2000;
        }
        bullets[1].field[SA_TF_BULLET_FLAGS] = SA_BULLET_AMMUNITION;
        TypeRecord* lasers = Types(SA_MT_LASER, 3);
        for (int i = 0; i < 3; ++i) {
            lasers[i].field[SA_TF_LASER_RELOAD] = 500;
            lasers[i].field[SA_TF_LASER_ENERGY] = 10;
        }
        lasers[1].field[SA_TF_LASER_BULLET_TYPE] = 1;
        lasers[2].field[SA_TF_LASER_BULLET_TYPE] = 7;  // no such bullet
        SA_GetTypeRecord(SA_MT_SHIP, 1)->field[SA_TF_SHIP_MAX_HULL] = kShipHull;
        ship_ = Placed(SA_MT_SHIP, 1, 0, 0, 0, 100);  // three gun groups
        O_ShipData(ship_)->laserEnergy = 1000000;
    }
    SectorObject* Laser(int16_t sub, int16_t group) {
        SectorObject* l = New(SA_MT_LASER, sub);
        Into(ship_, l);
        static_cast<LaserData*>(l->typeData)->slot = group;
        return l;
    }
    int Bullets() const {
        int n = 0;
        for (SectorObject* c = SA_ListFirst(O_GetChildList(sector_)); c; c = SA_ListNext(c))
            n += c->mainType == SA_MT_BULLET && !(c->flags & SA_FLAG_KILLED);
        return n;
    }
    // Whether the kill of the target played its destruction effect with the killer.
    static bool DestroyedBy(uint32_t target, const SectorObject* killer) {
        const std::vector<std::string>& calls = StandIn_ObjectCalls();
        const std::string effect =
            "EO_ObjectDestroyedEffect " + std::to_string(target) + " " + std::to_string(Id(killer));
        return std::any_of(calls.begin(), calls.end(), [&](const std::string& c) { return c.rfind(effect, 0) == 0; });
    }
    SectorObject* ship_ = nullptr;
};

TEST_F(Weapons, AnswersAndGroups) {
    Laser(0, 0);
    Laser(0, 2);
    EXPECT_EQ(O_FireLasers(ship_, nullptr, -1, 0, ~0u), SA_FIRE_NONE);
    EXPECT_EQ(O_FireLasers(ship_, nullptr, 3, 0, ~0u), SA_FIRE_NONE);  // the group count itself
    EXPECT_EQ(O_FireLasers(ship_, nullptr, 1, 0, ~0u), SA_FIRE_NONE);  // a group without lasers
    EXPECT_EQ(Bullets(), 0);
    EXPECT_EQ(O_FireLasers(ship_, nullptr, 2, 0, ~0u), SA_FIRE_DONE);
    EXPECT_EQ(Bullets(), 1);
    EXPECT_EQ(O_FireLasers(ship_, nullptr, 2, 0, ~0u), SA_FIRE_NONE);  // recharging
    EXPECT_EQ(O_ShipData(ship_)->laserEnergy, 1000000 - 10000);
}

TEST_F(Weapons, MasksAndEnergy) {
    for (int i = 0; i < 3; ++i) Laser(0, 0);
    EXPECT_EQ(O_FireLasers(ship_, nullptr, 0, 0, 0), SA_FIRE_NONE);
    EXPECT_EQ(Bullets(), 0);
    EXPECT_EQ(O_FireLasers(ship_, nullptr, 0, 0, 0x2), SA_FIRE_DONE);
    EXPECT_EQ(Bullets(), 1);
    EXPECT_EQ(O_FireLasers(ship_, nullptr, 0, 0, ~0u), SA_FIRE_DONE);  // the two others were ready
    EXPECT_EQ(Bullets(), 3);
    // Too little energy: nothing fires and the pool stays as it is.
    Frame(600);
    O_ShipData(ship_)->laserEnergy = 9999;
    EXPECT_EQ(O_FireLasers(ship_, nullptr, 0, 0, ~0u), SA_FIRE_NONE);
    EXPECT_EQ(O_ShipData(ship_)->laserEnergy, 9999);
    // A locked laser is passed over.
    O_ShipData(ship_)->laserEnergy = 1000000;
    for (SectorObject* c = SA_ListFirst(O_GetChildList(ship_)); c; c = SA_ListNext(c)) c->flags &= ~SA_FLAG_LASER_FREE;
    EXPECT_EQ(O_FireLasers(ship_, nullptr, 0, 0, ~0u), SA_FIRE_NONE);
}

// The message carried a positional insert that went into a printf format as it stood.
TEST_F(Weapons, ABadBulletSubtypeIsLoggedWithTheLaserSubtype) {
    Laser(2, 0);
    LogCapture log;
    EXPECT_EQ(O_FireLasers(ship_, nullptr, 0, 0, ~0u), SA_FIRE_NONE);
    EXPECT_TRUE(log.Contains("SSL_MaskOfBullet of laser subtype 2 is incorrect!!!\n")) << log.Text();
    EXPECT_FALSE(log.Contains("%1"));
}

TEST_F(Weapons, AmmunitionCallbacks) {
    Laser(1, 0);
    ship_->eventObject = kStory;
    Set(kAmmo, 0);
    EXPECT_EQ(O_FireLasers(ship_, nullptr, 0, 0, ~0u), SA_FIRE_NONE);
    EXPECT_EQ(O_ShipData(ship_)->laserEnergy, 1000000);  // refused before the energy went
    Set(kAmmo, 5);
    Set(kUsed, -1);
    EXPECT_EQ(O_FireLasers(ship_, nullptr, 0, 0, ~0u), SA_FIRE_DONE);
    EXPECT_EQ(Global(kUsed), 1);  // "UseAmmunition" with the bullet subtype
}

TEST_F(Weapons, SpreadStaysNearTheAimAndUnitLength) {
    const QelVector ahead{0, 0, 65536, 0};
    for (const auto& s : {std::array<int32_t, 3>{524, 524, 524}, std::array<int32_t, 3>{-524, -524, -524},
                          std::array<int32_t, 3>{0, 0, 0}}) {
        const QelVector d = O_SpreadDirection(ahead, s.data());
        const int64_t len = Qel_VecLength64(d.x, d.y, d.z);
        EXPECT_NEAR(static_cast<double>(len), 65536.0, 2.0);
        EXPECT_LE(std::abs(d.x), 530);
        EXPECT_LE(std::abs(d.y), 530);
    }
    // Bullets fired at a target ahead fly toward it within the spread.
    Laser(0, 0);
    SectorObject* target = Placed(SA_MT_SHIP, 0, 0, 0, 500000, 100);
    ASSERT_EQ(O_FireLasers(ship_, target, 0, 0, ~0u), SA_FIRE_DONE);
    for (SectorObject* c = SA_ListFirst(O_GetChildList(sector_)); c; c = SA_ListNext(c)) {
        if (c->mainType != SA_MT_BULLET) continue;
        EXPECT_GE(c->instance->matrix.m[10], 65536 - 20);
        EXPECT_EQ(O_BulletData(c)->owner, ship_);
        EXPECT_EQ(c->speed, 100000);
    }
}

TEST_F(Weapons, BeamPlacementAndItsHalfRange) {
    TypeRecord* beam = SA_GetTypeRecord(SA_MT_BULLET, 0);
    beam->field[SA_TF_BULLET_FLAGS] = SA_BULLET_BEAM;
    SectorObject* target = Placed(SA_MT_SHIP, 0, 0, 0, 100000, 100);
    SectorObject* b = Placed(SA_MT_BULLET, 0, 0, 0, 0, 10);
    BulletData* d = O_BulletData(b);
    d->typeFlags = SA_BULLET_BEAM;
    d->owner = ship_;
    d->target = target;
    d->lifetime = 2000;
    d->expiryTime = SA_TimeAfter(1000);
    O_PositionBeamBullet(b);
    EXPECT_EQ(b->instance->pos.z, 50000);  // midway
    EXPECT_EQ(d->fade, 65536);             // in the middle of its life: full
    target->instance->pos.z = 3;
    LogCapture log;
    O_PositionBeamBullet(b);
    EXPECT_TRUE(log.Contains("O_PositionBeamBullet(): halfrange <= 0\n")) << log.Text();
}

TEST_F(Weapons, TractorReleasesFollowTheChain) {
    SectorObject* a = Placed(SA_MT_SHIP, 0, 0, 0, 0, 100);
    SectorObject* b = Placed(SA_MT_SHIP, 0, 1000, 0, 0, 100);
    SectorObject* c = Placed(SA_MT_SHIP, 0, 2000, 0, 0, 100);
    a->eventObject = kStory;
    ASSERT_EQ(O_LinkObjects(b, a, 0, 0, 0), 1);
    ASSERT_EQ(O_LinkObjects(c, b, 0, 0, 0), 1);
    c->rotSpeed[1] = 77;
    O_ReleaseTractor(b);
    EXPECT_EQ(a->tractorHeld, nullptr);
    EXPECT_EQ(b->tractorSource, nullptr);
    EXPECT_EQ(b->tractorHeld, nullptr);
    EXPECT_EQ(c->tractorSource, nullptr);
    EXPECT_EQ(c->rotSpeed[1], 0);
    EXPECT_EQ(O_ShipData(a)->SpeedLimit, -1);
    EXPECT_EQ(O_ShipData(b)->SpeedLimit, -1);
    EXPECT_EQ(Global(kTractor), 0);  // "SetTractorDst" with 0
    // The warp effect on keeps the story out of it.
    Set(kTractor, -1);
    ASSERT_EQ(O_LinkObjects(b, a, 0, 0, 0), 1);
    O_ShipData(a)->WarpEffectOn = 1;
    O_ReleaseTractor(b);
    EXPECT_EQ(Global(kTractor), -1);
}

// The story may free the beam's source when told of the release; the chain
// is still let go of.
TEST_F(Weapons, TheStoryFreesTheSourceOfARelease) {
    SectorObject* a = Placed(SA_MT_SHIP, 0, 0, 0, 0, 100);
    SectorObject* b = Placed(SA_MT_SHIP, 0, 1000, 0, 0, 100);
    SectorObject* c = Placed(SA_MT_SHIP, 0, 2000, 0, 0, 100);
    a->eventObject = b->eventObject = kStory;
    ASSERT_EQ(O_LinkObjects(b, a, 0, 0, 0), 1);
    ASSERT_EQ(O_LinkObjects(c, b, 0, 0, 0), 1);
    const uint32_t ida = a->id;
    Set(kFree, Id(b));
    O_ReleaseTractor(b);
    EXPECT_EQ(SA_LookupObject(c->id), c);
    EXPECT_EQ(c->tractorSource, nullptr);
    EXPECT_NE(SA_LookupObject(ida), nullptr);
    Set(kFree, 0);
}

TEST_F(Weapons, TurretsFireWhenTheStoryAllows) {
    Laser(0, 1);
    SectorObject* target = Placed(SA_MT_SHIP, 0, 0, 100000, 0, 100);
    ship_->eventObject = kStory;
    O_ShipData(ship_)->turrets[1].target = target;
    Set(kMask, 0);
    O_UpdateTurrets(ship_, 20);
    EXPECT_EQ(Bullets(), 0);
    Set(kMask, -1);
    EXPECT_EQ(O_GetTurretFiringMask(ship_, -1, target, nullptr), 0);
    EXPECT_EQ(O_IsTargetInFiringRangeOfTurret(ship_, target, 3, nullptr, nullptr), 0);
    O_UpdateTurrets(ship_, 20);
    EXPECT_EQ(Bullets(), 1);
}

// Two ships fight through the frames of the space update: a turret of the
// first fires at the second, its bullets fly, hit its shield and then its
// hull, and the kill plays the destruction effect. The scene engine's world
// positions and the bodies' collision models are given by the test.
// A bullet with its own step leaves the gun on the first path of its cut.
TEST_F(Weapons, PathBulletsStartTheirCutPath) {
    std::string text, error;
    ASSERT_TRUE(
        Tool_CutSourceToText("path 0 -1\n"
                             "  key 0x800 2000 0 0 0 0 0 0 0.25\n"
                             "  key 0x800 -1 65536 0 0 0 0 0 0.25\n",
                             &text, &error))
        << error;
    bodies_->folder()->Write("cut/00701.bod", text);
    TypeRecord* bullets = SA_GetTypeRecord(SA_MT_BULLET, 0);
    Laser(0, 0);
    struct Case {
        const char* name;
        int32_t flags, cut;
        bool runs;
    } cases[] = {
        {"path bullet", SA_BULLET_OWN_STEP, 701, true},
        {"plain bullet", 0, 701, false},
        {"path bullet, no cut", SA_BULLET_OWN_STEP, 0, false},
        {"path bullet, a cut that does not load", SA_BULLET_OWN_STEP, 702, false},
    };
    for (const Case& c : cases) {
        bullets->field[SA_TF_BULLET_FLAGS] = c.flags;
        bullets->field[SA_TF_BULLET_SCENE_RESOURCE] = c.cut;
        Frame(600);  // the laser is ready again
        ASSERT_EQ(O_FireLasers(ship_, nullptr, 0, 0, ~0u), SA_FIRE_DONE) << c.name;
        SectorObject* shot = nullptr;
        for (SectorObject* o = SA_ListFirst(O_GetChildList(sector_)); o; o = SA_ListNext(o))
            if (o->mainType == SA_MT_BULLET && !(o->flags & SA_FLAG_KILLED)) shot = o;
        ASSERT_NE(shot, nullptr) << c.name;
        EXPECT_EQ((shot->instance->jobFlags & JOB_RUNNING) != 0, c.runs) << c.name;
        SS_KillObject(shot, 14, nullptr, 0);
        SA_DeleteKilledObjects();
    }
}

TEST_F(Weapons, TwoShipsFightThroughTheFrames) {
    TypeRecord* bullet = SA_GetTypeRecord(SA_MT_BULLET, 0);
    bullet->field[SA_TF_BULLET_SHIELD_DAMAGE] = 300;
    bullet->field[SA_TF_BULLET_HULL_DAMAGE] = 300;
    Laser(0, 1);
    SectorObject* target = Body(SA_MT_SHIP, 0, 0, 1000);
    target->instance->pos = target->instance->worldPos = QelVector{0, 0, 20000, 0};
    target->eventObject = kStory;
    target->hull = 1000;
    target->mass = 1000;
    SectorObject* shield = Shield(target, 500);
    O_ShipData(ship_)->turrets[1].target = target;
    const uint32_t targetId = target->id;
    StandIn_ClearObjectCalls();
    bool shieldFirst = false;
    int frames = 0;
    for (; frames < 200 && SA_LookupObject(targetId); ++frames) {
        FightFrame();
        if (!SA_LookupObject(targetId)) break;
        if (Energy(shield) < 500 && target->hull == 1000) shieldFirst = true;
    }
    EXPECT_LT(frames, 200);
    EXPECT_EQ(SA_LookupObject(targetId), nullptr);  // killed and freed
    EXPECT_TRUE(shieldFirst);
    EXPECT_GE(Global(kAttacked), 288);  // "AttackedBy" told the damage
    EXPECT_TRUE(DestroyedBy(targetId, ship_));
}

// The story orders the attack: the attacking ship fires its forward guns at
// the target through the frames of the space update, the bullets take the
// target's shield and then its hull, the kill plays the destruction effect,
// and the order's waiting task goes on with 3 (the target is gone), which the
// story logs.
TEST_F(Weapons, AStoryOrdersAnAttackAndTheShipsFight) {
    TypeRecord* bullet = SA_GetTypeRecord(SA_MT_BULLET, 0);
    bullet->field[SA_TF_BULLET_SHIELD_DAMAGE] = 300;
    bullet->field[SA_TF_BULLET_HULL_DAMAGE] = 300;
    Laser(0, 0);
    O_ShipData(ship_)->ThinkInterval = 200;
    O_ShipData(ship_)->SpeedLimit = 0;  // it stands and fires
    SectorObject* target = Body(SA_MT_SHIP, 0, 0, 1000);
    target->instance->pos = target->instance->worldPos = QelVector{0, 0, 60000, 0};
    target->eventObject = kStory;
    target->hull = 1000;
    target->mass = 1000;
    SectorObject* shield = Shield(target, 500);
    const uint32_t targetId = target->id;
    StandIn_ClearObjectCalls();
    LogCapture log;
    Set(kFought, -1);
    ASSERT_EQ(runner_->Start(kStory, "Fight", {Id(ship_), Id(target)}), 1);
    EXPECT_EQ(O_ShipData(ship_)->CourseType, VER_ATTACK);
    bool shieldFirst = false;
    int frames = 0;
    for (; frames < 300 && Global(kFought) == -1; ++frames) {
        FightFrame();
        SE_RunAllTasks();
        if (SA_LookupObject(targetId) && Energy(shield) < 500 && target->hull == 1000) shieldFirst = true;
    }
    EXPECT_LT(frames, 300);
    EXPECT_EQ(SA_LookupObject(targetId), nullptr);  // killed and freed
    EXPECT_TRUE(shieldFirst);
    EXPECT_GE(Global(kAttacked), 288);  // "AttackedBy" told the damage
    EXPECT_EQ(Global(kFought), 3);
    EXPECT_TRUE(log.Contains("Fight: the attack answered 3\n")) << log.Text();
    EXPECT_EQ(O_ShipData(ship_)->CourseType, VER_STOP);
    EXPECT_TRUE(DestroyedBy(targetId, ship_));
}

// Out of reach or off the aim cone the attacker holds its fire.
TEST_F(Weapons, AnAttackerFiresOnlyWithinReachAndAim) {
    Laser(0, 0);
    O_ShipData(ship_)->ThinkInterval = 200;
    O_ShipData(ship_)->SpeedLimit = 0;
    struct Case {
        const char* name;
        int32_t x, z;
        bool fires;
    } cases[] = {
        {"ahead, in reach", 0, 150000, true},
        {"ahead, out of reach", 0, 400000, false},
        {"beside", 150000, 0, false},
    };
    for (const Case& c : cases) {
        SectorObject* target = Placed(SA_MT_SHIP, 0, c.x, 0, c.z, 100);
        ASSERT_EQ(Call(17, {IntValue(Id(ship_)), IntValue(Id(target)), IntValue(600000), IntValue(0)}), kParked);
        Frame(600);
        EXPECT_EQ(Bullets() > 0, c.fires) << c.name;
        O_ShipData(ship_)->CourseType = VER_STOP;
        ship_->callerModule = 0;
        SS_KillObject(target, 14, nullptr, 0);
        for (SectorObject* o = SA_ListFirst(O_GetChildList(sector_)); o; o = SA_ListNext(o))
            if (o->mainType == SA_MT_BULLET) SS_KillObject(o, 14, nullptr, 0);
        SA_DeleteKilledObjects();
    }
}

}  // namespace

// The demo's own types: two scouts and two raiders, each with its side's
// laser and a full shield, attack each other in pairs through the frames;
// within the demo's minute every pair has ended with one ship shot down.
TEST_F(Combat, TheDemoFightersShootEachOtherDownWithinAMinute) {
    const char* bin = std::getenv("TREVAN_BINARY_DIR");
    ASSERT_NE(bin, nullptr);
    std::filesystem::copy(std::filesystem::path(bin) / "demo" / "types", "types",
                          std::filesystem::copy_options::recursive);
    system_->app = TestAppDescriptor();
    SA_FreeObjectDB();
    ASSERT_EQ(SA_LoadObjectDB(&root_), 1);
    const int32_t scout = SA_CodeSubType(SA_GetTypeCodeByName("scout"));
    const int32_t raider = SA_CodeSubType(SA_GetTypeCodeByName("raider"));
    const int32_t shieldType = SA_CodeSubType(SA_GetTypeCodeByName("shield_5"));
    auto fighter = [&](int32_t sub, const char* laserName, int32_t x, int32_t z) {
        SectorObject* s = Body(SA_MT_SHIP, static_cast<int16_t>(sub), x, kFighterSize);
        s->instance->pos = s->instance->worldPos = QelVector{x, 0, z, 0};
        s->eventObject = kStory;
        s->mass = 1000;
        s->flags |= SA_FLAG_AUTOPILOT;  // as "SA_SetAutopilot" gives AI ships
        SectorObject* laser = New(SA_MT_LASER, static_cast<int16_t>(SA_CodeSubType(SA_GetTypeCodeByName(laserName))));
        Into(s, laser);
        static_cast<LaserData*>(laser->typeData)->slot = 0;
        SectorObject* shield = New(SA_MT_SHIELD, static_cast<int16_t>(shieldType));
        Into(s, shield);
        static_cast<ShieldData*>(shield->typeData)->energy =
            SA_GetTypeRecord(SA_MT_SHIELD, shieldType)->field[SA_TF_SHIELD_ENERGY];
        O_ShipData(s)->laserEnergy = O_GetTypeRecord(s)->field[SA_TF_SHIP_LASER_POWER_MAX] * 1000;
        return s;
    };
    struct Pair {
        uint32_t a, b;
    };
    std::vector<Pair> pairs;
    for (int32_t n = 0; n < 2; ++n) {
        SectorObject* a = fighter(scout, "pulse_laser", n * 300000, 0);
        SectorObject* b = fighter(raider, "raider_laser", n * 300000, 400000);
        EXPECT_EQ(a->hull, 2500);
        EXPECT_EQ(b->hull, 2000);
        pairs.push_back(Pair{a->id, b->id});
        ASSERT_EQ(runner_->Start(kStory, "Fight", {Id(a), Id(b)}), 1);
        ASSERT_EQ(runner_->Start(kStory, "Fight", {Id(b), Id(a)}), 1);
    }
    auto ended = [&] {
        for (const Pair& p : pairs)
            if (SA_LookupObject(p.a) && SA_LookupObject(p.b)) return false;
        return true;
    };
    int32_t frames = 0;
    for (; frames < 1200 && !ended(); ++frames) {
        FightFrame();
        SE_RunAllTasks();
    }
    EXPECT_TRUE(ended()) << frames;
}
