#include "space/queries.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "base/strings.h"
#include "scene/records.h"
#include "space/space_fixture.h"
#include "support/logcapture.h"

namespace {

class SpaceQueries : public SpaceTest {};

TEST_F(SpaceQueries, MaximumHullByMainTypeAndFactoryClass) {
    TypeRecord* factories = Types(SA_MT_FACTORY, 4);
    const int32_t classes[] = {5, 5, 8, 42};
    const int32_t scales[] = {0x8000, 0, 0x10000, 0x20000};
    for (int i = 0; i < 4; ++i) {
        factories[i].field[SA_TF_CLASS] = classes[i];
        factories[i].field[SA_TF_FACTORY_SCALE] = scales[i];
    }
    TypeRecord* ships = Types(SA_MT_SHIP, 2);
    ships[0].field[SA_TF_SHIP_MAX_HULL] = 7000;
    Types(SA_MT_DEBRIS, 1)->field[SA_TF_DEBRIS_LEVELS] = 6;
    Types(SA_MT_MISSILE, 20);
    struct Case {
        int32_t mainType, subType, hull;
    } cases[] = {
        {0, 0, 1},       {3, 0, 10000000}, {4, 0, 10000000}, {5, 0, 1500000}, {6, 0, 75000},   {6, 1, 1},
        {6, 2, 2000000}, {6, 3, 400000},  // class 5 at 0.5; 0 gives 1; other 200000 x 2
        {7, 0, 7000},    {7, 1, 1},        {8, 0, 100},      {9, 0, 100},     {13, 0, 100},    {20, 0, 100},
        {10, 17, 25000}, {10, 19, 25000},  {10, 18, 45},     {17, 0, 500000}, {18, 0, 500000}, {29, 0, 500000},
        {31, 0, 500000}, {28, 0, 600},     {1, 0, 0},        {2, 0, 0},       {19, 0, 0},      {25, 0, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SA_GetTypeLimit(c.mainType, c.subType), c.hull) << c.mainType << "/" << c.subType;
    SectorObject* ship = New(SA_MT_SHIP, 0);
    EXPECT_EQ(O_GetMaxHull(ship), 7000);
    ship->flags |= SA_FLAG_INVULNERABLE;
    EXPECT_EQ(O_GetMaxHull(ship), 0);
}

TEST_F(SpaceQueries, MaximumSpeedFollowsTheHullAndTheContainer) {
    TypeRecord* t = Types(SA_MT_SHIP, 1);
    t->field[SA_TF_SHIP_SPEED] = 100000;
    t->field[SA_TF_SHIP_MAX_HULL] = 1000000;
    SectorObject* sector = New(SA_MT_SECTOR);
    SectorObject* dock = New(SA_MT_DOCK);
    struct Case {
        const char* name;
        int32_t hull;
        SectorObject* container;
        int32_t override, extra;
        int32_t speed;
    } cases[] = {
        {"full hull", 1000000, sector, -1, 0, 100000},
        {"at 90%", 900000, sector, -1, 0, 100000},
        {"at 50%: 65%", 500000, sector, -1, 0, 65000},
        {"at 10%", 100000, sector, -1, 0, 30000},
        {"no hull", 0, sector, -1, 0, 30000},
        {"tuned half again", 1000000, sector, -1, 0x8000, 150000},
        {"override", 1000000, sector, 70000, 0x8000, 70000},
        {"override at 50%", 500000, sector, 70000, 0, 45500},
        {"in a station", 1000000, dock, -1, 0, 20000},
        {"unplaced", 1000000, nullptr, -1, 0, 100000},
    };
    for (const Case& c : cases) {
        SectorObject* ship = New(SA_MT_SHIP);
        ship->hull = c.hull;
        ship->container = c.container;
        O_ShipData(ship)->maxSpeedOverride = c.override;
        O_ShipData(ship)->extraSpeed = c.extra;
        EXPECT_EQ(O_GetMaxSpeed(ship), c.speed) << c.name;
    }
    // In group 10 the ship's own limit caps it.
    SectorObject* ship = New(SA_MT_SHIP);
    ship->hull = 1000000;
    ship->group = 10;
    O_ShipData(ship)->SpeedLimit = 40000;
    EXPECT_EQ(O_GetMaxSpeed(ship), 40000);
    ship->group = 9;
    EXPECT_EQ(O_GetMaxSpeed(ship), 100000);
}

TEST_F(SpaceQueries, DockingSpeedAndShields) {
    TypeRecord* t = Types(SA_MT_SHIP, 1);
    t->field[SA_TF_SHIP_MAX_HULL] = 1;
    struct Speed {
        int32_t max, docking;
    } speeds[] = {{60000, 20000}, {80000, 20000}, {80004, 20001}, {120000, 30000}, {0, 20000}};
    for (const Speed& s : speeds) {
        SectorObject* ship = New(SA_MT_SHIP);
        ship->hull = 1;
        O_ShipData(ship)->maxSpeedOverride = s.max;
        EXPECT_EQ(O_GetDockingSpeed(ship), s.docking) << s.max;
    }

    Types(SA_MT_SHIELD, 2)[1].field[SA_TF_SHIELD_ENERGY] = 250;
    Types(SA_MT_BULLET, 1)->field[SA_TF_BULLET_SHIELD_DAMAGE] = 11;
    Types(SA_MT_MISSILE, 1)->field[SA_TF_MISSILE_DAMAGE] = 12;
    for (int32_t m : {11, 12, 16, 20, 8}) Types(m, 30);
    SectorObject* ship = New(SA_MT_SHIP);
    for (int i = 0; i < 3; ++i) {
        SectorObject* shield = New(SA_MT_SHIELD, 1);
        static_cast<ShieldData*>(shield->typeData)->energy = 100 + i;
        Into(ship, shield);
    }
    Into(ship, New(SA_MT_LASER));  // only shields count
    SectorObject* cells = New(11);
    SA_SetCount(cells, 3);
    SectorObject* ware16 = New(16, 0);
    SA_SetCount(ware16, 2);
    SectorObject* dock = New(SA_MT_DOCK);
    dock->flags |= SA_FLAG_HOLDER;
    struct Case {
        SectorObject* object;
        int32_t max, current;
    } cases[] = {
        {ship, 750, 303},
        {New(SA_MT_SHIELD, 1), 250, 0},
        {New(SA_MT_BULLET), 11, 11},
        {New(SA_MT_MISSILE), 12, 12},
        {New(SA_MT_SUN), 10000000, 10000000},
        {New(SA_MT_ASTEROID), 0, 0},
        {New(SA_MT_DEBRIS), 0, 0},
        {New(SA_MT_SPECIAL, 2), 100, 100},
        {New(SA_MT_SPECIAL, 28), 0, 0},
        {cells, 1500, 1500},
        {ware16, 10000, 10000},
        {New(12), 100, 100},
        {New(SA_MT_LASER), 100, 100},
        {dock, 0, 0},  // a holder without shields
        {New(SA_MT_CAMERA), 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(O_GetMaxShield(c.object), c.max) << c.object->mainType << "/" << c.object->subType;
        EXPECT_EQ(O_GetShield(c.object), c.current) << c.object->mainType << "/" << c.object->subType;
    }
    ship->hull = 40;
    EXPECT_EQ(O_GetStrength(ship), 343);
}

TEST_F(SpaceQueries, TuningScalesAndRounds) {
    struct Case {
        int32_t value, tuning, scaled;
    } cases[] = {
        {100000, 0, 100000},      {100000, 0x8000, 150000}, {3, 0x8000, 5},  // 4.5 rounds up
        {-3, 0x8000, -4},         {1, 0x7fff, 1},           {INT32_MAX, 0x10000, INT32_MAX},
        {100000, -0x8000, 50000},
    };
    for (const Case& c : cases) EXPECT_EQ(SA_ScaleByTuning(c.value, c.tuning), c.scaled) << c.value << " " << c.tuning;
    TypeRecord* t = Types(SA_MT_SHIP, 1);
    t->field[SA_TF_STEP_Y] = 1000;
    t->field[SA_TF_STEP_X] = 2000;
    t->field[SA_TF_STEP_Z] = 3000;
    t->field[SA_TF_SHIP_ACCELERATION] = 501;
    t->field[SA_TF_SHIP_SPEED] = 10;
    SectorObject* ship = New(SA_MT_SHIP);
    O_ShipData(ship)->extraRotSpeed = 0x4000;
    O_ShipData(ship)->extraSpeed = 0x10000;
    EXPECT_EQ(SA_GetScaledTypeValue2(ship), 1250);
    EXPECT_EQ(SA_GetScaledTypeValue3(ship), 2500);
    EXPECT_EQ(SA_GetScaledTypeValue4(ship), 3750);
    EXPECT_EQ(SA_GetShipValue18(ship), 1002);
    EXPECT_EQ(SA_GetTunedTypeSpeed(ship), 20);
}

TEST_F(SpaceQueries, RelationsBothWays) {
    SectorObject* ship = New(SA_MT_SHIP);
    SectorObject* dock = New(SA_MT_DOCK);
    SectorObject* other = New(SA_MT_SHIP);
    SectorObject* rock = New(SA_MT_ASTEROID);
    ship->group = 3;
    dock->group = 4;
    other->group = 5;
    rock->group = 3;
    O_RelationWords(ship)->friendMask = 1u << 4;
    O_RelationWords(ship)->foeMask = 1u << 5;
    O_RelationWords(dock)->foeMask = 1u << 3;
    O_RelationWords(other)->foeMask = 1u << 3;
    struct Case {
        SectorObject *a, *b;
        int32_t relation, mutual;
        int enemy;
    } cases[] = {
        {ship, dock, 1, 1, 0},                            // ship likes the dock, the dock's view does not count
        {dock, ship, -1, -1, 1},                          //
        {ship, other, -1, -1, 1}, {rock, ship, 0, 0, 0},  // no relation words
        {ship, rock, 0, 0, 0},                            // group 3 is neither
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SA_GetRelation(c.a, c.b), c.relation);
        EXPECT_EQ(SA_GetMutualRelation(c.a, c.b), c.mutual);
        EXPECT_EQ(SA_IsEnemy(c.a, c.b), c.enemy);
    }
    // With its reciprocal word set the ship takes the dock's view of it.
    O_RelationWords(ship)->enemyOf = 1;
    EXPECT_EQ(SA_GetRelation(ship, dock), 1);
    EXPECT_EQ(SA_GetMutualRelation(ship, dock), -1);
    EXPECT_EQ(SA_IsEnemy(ship, dock), 1);
    // A neutral object has no relation; an area-damage missile of another
    // group and launcher is a foe.
    ship->flags2 |= SA_FLAG2_NEUTRAL;
    EXPECT_EQ(SA_GetRelation(ship, other), 0);
    SectorObject* missile = New(SA_MT_MISSILE);
    missile->flags |= SA_FLAG_AREA_DAMAGE;
    missile->group = 7;
    EXPECT_EQ(SA_GetRelation(ship, missile), -1);
    O_MissileData(missile)->launcher = ship;
    EXPECT_EQ(SA_GetRelation(ship, missile), 0);
}

TEST_F(SpaceQueries, GroupsOutsideTheMasksHaveNoBit) {
    SectorObject* ship = New(SA_MT_SHIP);
    O_RelationWords(ship)->friendMask = 0xFFFFFFFFu;
    O_RelationWords(ship)->foeMask = 0xFFFFFFFFu;
    for (int16_t group : {SA_GROUP_NEW, int16_t{-1}, int16_t{32}, int16_t{40}, int16_t{255}}) {
        SectorObject* other = New(SA_MT_SHIP);
        other->group = group;
        EXPECT_EQ(SA_GetRelation(ship, other), 0) << group;
        EXPECT_EQ(SA_IsEnemy(ship, other), 0) << group;
    }
}

TEST_F(SpaceQueries, NamesAndCodes) {
    TypeRecord* ships = Types(SA_MT_SHIP, 4);
    ships[0].name = Qel_StrReassign(nullptr, "Scout");
    ships[2].name = Qel_StrReassign(nullptr, "hauler");
    ships[3].name = Qel_StrReassign(nullptr, "scout");
    Types(SA_MT_LASER, 1)->name = Qel_StrReassign(nullptr, "hauler");  // a later main type: ships win
    struct Case {
        int32_t mainType;
        const char* text;
        int32_t subType;
        std::string logged;
    } cases[] = {
        {7, "scout", 3, ""},  // case-sensitive: not "Scout"
        {7, "Scout", 0, ""},
        {7, "hauler", 2, ""},
        {7, "2", 2, ""},
        {7, "4", 0, "SA_GetSubTypeByName(7, '4') Invalid subtype\n"},
        {7, "-1", 0, "SA_GetSubTypeByName(7, '-1') Invalid subtype\n"},
        {7, "nobody", 0, "SA_GetSubTypeByName(7, 'nobody') No such subtype name\n"},
        {7, "", 0, "SA_GetSubTypeByName(7, '') No such subtype name\n"},  // the unnamed record is no match
        {32, "scout", 0, "SA_GetSubTypeByName(32, 'scout') Invalid maintype\n"},
        {-1, "scout", 0, "SA_GetSubTypeByName(-1, 'scout') Invalid maintype\n"},
    };
    for (const Case& c : cases) {
        LogCapture log;
        EXPECT_EQ(SA_GetSubTypeByName(c.mainType, c.text), c.subType) << c.text;
        if (c.logged.empty()) {
            EXPECT_EQ(log.Text(), "") << c.text;
        } else {
            EXPECT_TRUE(log.Contains(c.logged)) << log.Text();
        }
    }
    struct Code {
        const char* text;
        int32_t code;
    } codes[] = {
        {"hauler", SA_TypeCode(7, 2)},
        {"scout", SA_TypeCode(7, 3)},
        {"458755", SA_TypeCode(7, 3)},
        {"458756", 0},    // subtype 4 of 4
        {"589824", 0},    // no shields
        {"2097152", 0},   // main type 32
        {"16711680", 0},  // main type 255
        {"99999999999", 0},
        {"nobody", 0},
    };
    for (const Code& c : codes) {
        LogCapture log;
        EXPECT_EQ(SA_GetTypeCodeByName(c.text), c.code) << c.text;
        if (!c.code) {
            EXPECT_TRUE(log.Contains(std::string("SA_GetTypeCodeByName('") + c.text + "') Invalid subtype name\n"))
                << c.text;
        }
    }
    // Text ids and names of types.
    ships[1].field[SA_TF_TEXT_ID] = 0;
    ships[2].field[SA_TF_TEXT_ID] = 1002;
    EXPECT_EQ(O_GetTextID(New(SA_MT_SHIP, 2)), 1002);
    EXPECT_EQ(O_GetTextID(New(SA_MT_SECTOR)), 882);
    EXPECT_EQ(O_GetTextID(New(SA_MT_27)), 0);
    EXPECT_STREQ(O_GetTypeName(New(SA_MT_SHIP, 1)), "=unknown object=");
    LogCapture log;
    EXPECT_EQ(O_GetTextID(O_AllocObject(SA_TypeCode(SA_MT_BACKGROUND, 0))), 0);  // no records
    EXPECT_TRUE(log.Contains("O_GetTextID() No text for maintype 2\n"));
}

TEST_F(SpaceQueries, StraightDistanceNeverOverflows) {
    struct Case {
        QelVector a, b;
        int64_t distance;
    } cases[] = {
        {{0, 0, 0, 0}, {3, 4, 12, 0}, 13},
        {{1, 1, 1, 0}, {1, 1, 1, 0}, 0},
        {{-5, 0, 0, 0}, {5, 0, 0, 0}, 10},
        {{0, 0, 0, 0}, {1, 1, 0, 0}, 1},  // the floor of the root
        // Far apart on every axis: the squares alone need 66 bits.
        {{INT32_MIN, INT32_MIN, INT32_MIN, 0}, {INT32_MAX, INT32_MAX, INT32_MAX, 0}, 7439101571LL},
        {{INT32_MIN, 0, 0, 0}, {INT32_MAX, 0, 0, 0}, 4294967295LL},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SA_VecDistance(&c.a, &c.b), c.distance);
        EXPECT_EQ(SA_VecDistance(&c.b, &c.a), c.distance);
    }
    Inst3D ia{}, ib{};
    ia.pos = {INT32_MIN, 0, 0, 0};
    ib.pos = {INT32_MAX, 0, 0, 0};
    SectorObject a{}, b{};
    EXPECT_EQ(O_GetDistance(&a, &b), 0);
    a.instance = &ia;
    b.instance = &ib;
    EXPECT_EQ(O_GetDistance(&a, &b), INT32_MAX);  // clamped into 32 bits
}

TEST_F(SpaceQueries, SideTablesAndWalks) {
    // Videos by id: the first whose first non-zero valid id is the one asked for.
    g_TypeDB.videos =
        static_cast<SA_VideoRecord*>(Int_AllocMem(sizeof(SA_VideoRecord) * 3, Int_MemTag(14) | INT_MEM_ZERO_TAIL));
    g_TypeDB.videoCount = 3;
    g_TypeDB.videos[0] = SA_VideoRecord{2, {0, 5, 6, 0}, 40, {}, {}};
    g_TypeDB.videos[1] = SA_VideoRecord{1, {6, 0, 0, 0}, 41, {}, {}};
    g_TypeDB.videos[2] = SA_VideoRecord{1, {0, 0, 7, 0}, 42, {}, {}};  // 7 lies beyond its valid count
    SA_VideoRecord v{};
    EXPECT_EQ(SA_GetVideoById(5, &v), 0);
    EXPECT_EQ(v.movie, 40);
    EXPECT_EQ(SA_GetVideoById(6, &v), 1);
    EXPECT_EQ(SA_GetVideoById(7, nullptr), -1);

    Types(SA_MT_SHIP, 2)[1].field[SA_TF_SECOND_BODY] = 900;
    Types(SA_MT_GATE, 1)->field[SA_TF_CUT] = 33;
    EXPECT_EQ(SA_ObjectTypeFromBody(900), SA_TypeCode(7, 1));
    EXPECT_EQ(SA_ObjectTypeFromBody(901), 0);
    EXPECT_EQ(SA_ObjectTypeFromCut(33), SA_TypeCode(18, 0));
    EXPECT_EQ(SA_GetTypeCut(18, 0), 33);
    EXPECT_EQ(SA_GetTypeCut(7, 0), -1);  // a cut field of 0
    EXPECT_EQ(SA_GetTypeCut(3, 0), -1);  // suns have none
    EXPECT_EQ(SA_GetTypeCut(33, 0), -1);

    SectorObject* sector = New(SA_MT_SECTOR);
    SectorObject* a = New(SA_MT_SHIP, 0);
    SectorObject* b = New(SA_MT_SHIP, 1);
    SectorObject* c = New(SA_MT_SHIP, 1);
    for (SectorObject* o : {a, b, c}) Into(sector, o);
    EXPECT_EQ(SA_FindChildByMainType(sector, 7, 0), a);
    EXPECT_EQ(SA_FindChildByMainType(sector, 7, a->id), b);
    EXPECT_EQ(SA_FindChildByType(sector, 7, 1, b->id), c);
    EXPECT_EQ(SA_FindChildByType(sector, 7, 1, c->id), nullptr);
    EXPECT_TRUE(SA_IsInContainer(sector, b));
    EXPECT_FALSE(SA_IsInContainer(sector, sector));
    // Orphans are marked killed by the clean-up.
    SectorObject* orphan = New(SA_MT_SHIP);
    LogCapture log;
    SA_CleanUpObjects();
    EXPECT_TRUE(orphan->flags & SA_FLAG_KILLED);
    EXPECT_FALSE(a->flags & SA_FLAG_KILLED);
    EXPECT_TRUE(log.Contains("SA_CleanUpObjects() 1 orphan objects removed!\n"));
}

}  // namespace
