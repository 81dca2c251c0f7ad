#include "space/typesdb.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "base/strings.h"
#include "base/table.h"
#include "scene/cutfiles.h"
#include "scene/dummies.h"
#include "scene/freeing.h"
#include "scene/typesfiles.h"
#include "scene/names.h"
#include "scene/smallops.h"
#include "space/components.h"
#include "space/queries.h"
#include "space/utility.h"
#include "space/weapons.h"
#include "space/space_fixture.h"
#include "support/gamefolder.h"
#include "support/logcapture.h"
#include "tools/lib/cutconv.h"
#include "tools/lib/types_writer.h"

namespace {

// A ship record of a version: every field its number (fixed fields n.25),
// the missile word x = 5; even versions with one cockpit and one turret.
std::string Ship(int32_t version, const std::string& name, int32_t x = 5) {
    std::string s = "500 NULL 2.25 3.25 4.25 5 1006 17 18 19 20 21 22 23 24 25 NULL NULL 28 29";
    if (version >= 37) s += " 30 31.25";
    s += " 32 33 " + std::to_string(x) + " 36 37 38 39 40";
    if (version >= 39) s += " 41";
    s += " 0 0 0 0 0 0 0 0 0 0 0 0 42 43 44 45 46 47 48";
    if (version >= 25) s += " 50";
    if (version >= 27) s += " 51";
    s += " 49";
    if (version % 2 == 0) s += " {1 2 500 4} {0 1 2 {3 4 500 6 NULL 8}}";
    s += " 7 8 9 10 11 12";
    if (version >= 25) s += " 13";
    if (version >= 33) s += " 14";
    if (version >= 47) s += " 15";
    return s + " " + name + "\n";
}

// A background record of a version; its star count, fog near and far.
std::string Background(int32_t version, int32_t stars, int32_t fogNear, int32_t fogFar) {
    std::string s = "NULL NULL 0 0 0 0 2001 orion " + std::to_string(stars) + " 2";
    if (version >= 25) s += " 3";
    s += " 69 70 71 72 73 74 75 76 77 78 79 80 81 " + std::to_string(fogNear) + " " + std::to_string(fogFar);
    if (version >= 24) s += " 84 85 86 87";
    s += " 7 8 9 10 11 12";
    if (version >= 25) s += " 13";
    if (version >= 33) s += " 14";
    if (version >= 47) s += " 15";
    return s + " nebula_a\n";
}

// A missile record of version 49.
std::string Missile(const std::string& name) {
    return "NULL NULL 0 0 0 0 1 17 18 19 20 21 22 23 24 25 27 28 29 30 26 31 33 34 35 46 NULL 7 8 9 10 11 12 13 14 "
           "15 " +
           name + "\n";
}

class SpaceTypes : public SpaceTest {
protected:
    void SetUp() override {
        SpaceTest::SetUp();
        system_->app = TestAppDescriptor();
    }
    // The demo's objects, the dock type's cut read with the database and the
    // bodies the objects loaded stay until they are given back.
    void TearDown() override {
        SA_FreeAllObjects(&root_);
        J3D_FreeAllCuts();
        B3D_FreeAllBodies();
        SpaceTest::TearDown();
    }
    void Types(const std::string& source) {
        std::string error;
        ASSERT_TRUE(Tool_WriteTypesFiles(source, game_.Path() + "/types", -1, &error)) << error;
    }
    // Writes the empty set, then the source over it, and loads the database.
    int Load(const std::string& source) {
        SA_FreeObjectDB();
        Types(EmptyTypes() + source);
        return SA_LoadObjectDB(&root_);
    }
    // Replaces a file's text form by hand.
    void Spoil(const std::string& name, const std::string& text) const { game_.Write("types/" + name + ".txt", text); }
    static const TypeRecord& Rec(int32_t m, int32_t s) { return *SA_GetTypeRecord(m, s); }

    TempGameFolder game_;
};

TEST_F(SpaceTypes, EveryFileLoadsBackFromTheWriter) {
    const std::string source = R"(
[Globals]
SG_MAXSTRAFEFACTOR_BIGSHIP 32768
SG_DETAILVISIBLE_MINDIST 250000
SG_AVRSPEED 7
[Videos]
3 0 4 0 12 0 1 500 0 30 0
[VideoLists]
3 4
9
[Dummies]
SDTYPE_DOCK
  510 DWF_OUTERDOCK|DWF_CARRIER {DOORSTATUS_OPEN 77}
SDTYPE_GUN
  511 GUNF_ROTATE {GUNSTATUS_FIRING 78} {512 GUNPARTF_ROTATEALPHA|GUNPARTF_ROTATEGAMMA, 513 NULL}
[Bodies]
SBTYPE_LOGO 520 521
SBTYPE_CONTAINER 522
[Components]
SCTYPE_LASER
  500 {LASERF_ROTATE 1 2 3 0 0 1, NULL -1 0 0 0 0 1}
SCTYPE_DOCKING
  530 {NULL 0 0.5 9}
[Matches]
SMTYPE_MINE MATCHF_CUT1
  40 501 502
[TBullets 47]
NULL NULL 0 0 0 0 1000 17 18 19 20 21 22 23 24 25 26.5 27.5 28.5 29 30 31 32 33 34 35 36 7 8 9 10 11 12 13 14 15 pulse
[TBackgrounds 47]
)" + Background(47, 3, 100, 200) +
                               R"([TSuns 47]
41 NULL 0 0 0 0 1003 NULL 18 7 8 9 10 11 12 13 14 15 "yellow star"
[TPlanets 47]
NULL NULL 0 0 0 0 1004 17 18 19 NULL 541 29 542 30 543 31 544 32 545 33 546 34 547 35 548 36 7 8 9 10 11 12 13 14 15 rock
[TDocks 47]
NULL NULL 0 0 0 0 1005 17 18.5 19.5 20 NULL 22 23 24 25 26 197 7 8 9 10 11 12 13 14 15 tradepost
[TFactories 47]
NULL NULL 0 0 0 0 1006 17 18.5 19.5 20 NULL 22 23 24 25 26 0.5 199 7 8 9 10 11 12 13 14 15 smelter
[TShips 48]
)" + Ship(48, "hauler") + R"([TLaser 47]
NULL NULL 0 0 0 0 1008 17 18 0 20 21.5 2 7 8 9 10 11 12 13 14 15 pulse_gun
[TShields 47]
NULL NULL 0 0 0 0 1009 17 18 19 20.5 7 8 9 10 11 12 13 14 15 deflector
[TMissiles 47]
NULL NULL 0 0 0 0 1010 17 18 19 20 21 22 23 24 25 99 27 28 29 30 26 31 33 34 35 46 NULL 7 8 9 10 11 12 13 14 15 dart
[TWareE 47]
NULL NULL 0 0 0 0 1011 7 8 9 10 11 12 13 14 15 cells
[TAsteroids 47]
NULL NULL 0 0 0 0 1017 NULL 18 19 NULL 7 8 9 10 11 12 13 14 15 ore
[TGates 47]
NULL NULL 0 0 0 0 1018 NULL 7 8 9 10 11 12 13 14 15 ring
[TSpecial 47]
NULL NULL 0 0 0 0 1020 NULL 7 8 9 10 11 12 13 14 15 beacon
[TCockpits 47]
NULL NULL 0 0 0 0 1025 NULL 18 7 8 9 10 11 12 13 14 15 bridge
[TDebris 47]
NULL NULL 0 0 0 0 1028 NULL 18 550 NULL 7 8 9 10 11 12 13 14 15 field
[TShipsWrecks 47]
NULL NULL 0 0 0 0 1031 NULL 18 551 7 8 9 10 11 12 13 14 15 hulk
[WareLists]
cells hauler cells
)";
    ASSERT_EQ(Load(source), 1);
    const TypeDatabase& db = g_TypeDB;
    ASSERT_EQ(db.globalCount, 3);
    EXPECT_EQ(SA_GetGlobalParameter(2), 32768);
    EXPECT_EQ(SA_GetGlobalParameter(84), 250000);
    EXPECT_EQ(SA_GetGlobalParameter(1), 0);
    ASSERT_EQ(db.videoCount, 1);
    EXPECT_EQ(db.videos[0].validCount, 2);
    EXPECT_EQ(db.videos[0].movie, 12);
    ASSERT_EQ(db.videoListCount, 2);
    EXPECT_EQ(db.videoLists[0][0], 2);
    EXPECT_EQ(db.videoLists[1][1], 9);
    ASSERT_EQ(db.dummyCounts[1], 1);
    EXPECT_EQ(db.dummies[1][0].body, 510);
    EXPECT_EQ(db.dummies[1][0].flags, 9);
    EXPECT_EQ(db.dummies[1][0].stateCuts[2], 77);
    ASSERT_EQ(db.dummyCounts[3], 1);
    EXPECT_EQ(db.dummies[3][0].stateCuts[1], 78);
    ASSERT_EQ(db.dummies[3][0].gunPartCount, 2);
    EXPECT_EQ(db.dummies[3][0].gunParts[0].flags, 5);
    EXPECT_EQ(db.dummies[3][0].gunParts[1].body, 513);
    EXPECT_TRUE(SA_IsSpecialBody(521, 3));
    EXPECT_TRUE(SA_IsSpecialBody(522, -1));
    EXPECT_FALSE(SA_IsSpecialBody(522, 3));
    const ComponentRecord* laser = SA_FindTypeEntry(0, 500);
    ASSERT_NE(laser, nullptr);
    ASSERT_EQ(laser->count, 2);
    EXPECT_EQ(laser->entries[0].flags, 1);
    EXPECT_EQ(laser->entries[0].position.y, 2 << 16);
    EXPECT_EQ(laser->entries[1].position.x, -65536);
    EXPECT_EQ(laser->entries[1].direction.z, 65536);
    const ComponentRecord* docking = SA_FindTypeEntry(2, 530);
    ASSERT_NE(docking, nullptr);
    EXPECT_EQ(docking->entries[0].position.z, 9 << 16);
    ASSERT_EQ(db.matchCount, 1);
    EXPECT_EQ(db.matches[0].flags, 1);
    EXPECT_EQ(db.matches[0].ids[0], 40);  // a cut id: column 1 is a cut
    EXPECT_EQ(db.matches[0].ids[2], 502);

    // Each table's first own field and its name.
    struct Row {
        int32_t mainType, field, value;
        const char* name;
    } rows[] = {
        {0, 26, 0x1a8000, "pulse"}, {2, 79, 79, "nebula_a"},   {3, 18, 18, "yellow star"},
        {4, 28, 548, "rock"},       {5, 27, 197, "tradepost"}, {6, 27, 0x8000, "smelter"},
        {7, 45, 45, "hauler"},      {8, 19, 0, "pulse_gun"},   {9, 20, 0x148000, "deflector"},
        {10, 26, 26, "dart"},       {10, 36, 46, "dart"},      {11, 6, 1011, "cells"},
        {17, 19, 19, "ore"},        {18, 6, 1018, "ring"},     {20, 6, 1020, "beacon"},
        {25, 18, 18, "bridge"},     {28, 19, 550, "field"},    {31, 19, 551, "hulk"},
    };
    for (const Row& r : rows) {
        ASSERT_EQ(db.counts[r.mainType], 1) << r.mainType;
        EXPECT_EQ(Rec(r.mainType, 0).field[r.field], r.value) << r.mainType << "/" << r.field;
        EXPECT_STREQ(Rec(r.mainType, 0).name, r.name) << r.mainType;
        EXPECT_EQ(Rec(r.mainType, 0).field[SA_TF_SKIN], 15) << r.mainType;
    }
    EXPECT_STREQ(Rec(2, 0).backgroundName, "orion");
    EXPECT_EQ(Rec(2, 0).field[SA_TF_BG_STARS + 2],
              B3D_GetBodyID("environments\\nebulae\\orion\\nebula_orion_stars_03"));
    EXPECT_EQ(Rec(2, 0).field[SA_TF_BG_STARS + 3], 0);
    EXPECT_EQ(Rec(2, 0).field[SA_TF_BG_DUSTS + 7],
              B3D_GetBodyID("environments\\nebulae\\orion\\nebula_orion_dust_part08"));
    // The even ship version brings its cockpit and turret lists.
    const int32_t* ship = Rec(7, 0).field;
    EXPECT_EQ(ship[SA_TF_SHIP_COCKPIT_COUNT], 1);
    EXPECT_EQ(ship[SA_TF_SHIP_COCKPITS + 2], 500);
    EXPECT_EQ(ship[SA_TF_SHIP_TURRET_COUNT], 1);
    EXPECT_EQ(ship[SA_TF_SHIP_TURRETS + SA_TURRET_LASER_COUNT], 1);
    EXPECT_EQ(ship[SA_TF_SHIP_TURRETS + SA_TURRET_LASERS + 3], 6);
    EXPECT_NE(Rec(7, 0).dockPorts, nullptr);  // empty until cuts are surveyed
    EXPECT_EQ(SA_GetTypeNumDockPorts(7, 0), 0);
    // The built-in camera and main type 21.
    EXPECT_EQ(Rec(19, 0).field[SA_TF_BODY], 174);
    EXPECT_EQ(Rec(21, 0).field[SA_TF_TRADE_CLASS], 1);
    // Ware lists hold type codes.
    EXPECT_EQ(SA_GetWareListCount(1, SA_TypeCode(11, 0)), 2);
    EXPECT_EQ(SA_GetWareListCount(1, SA_TypeCode(7, 0)), 1);
}

TEST_F(SpaceTypes, VersionGatedFieldsAndLoadRules) {
    struct Case {
        const char* name;
        std::string source;
        std::function<void()> check;
        const char* logged = nullptr;
    } cases[] = {
        {"ships 36: fields 30 and 31 given", "[TShips 36]\n" + Ship(36, "a"),
         [] {
             EXPECT_EQ(Rec(7, 0).field[30], 10000);
             EXPECT_EQ(Rec(7, 0).field[31], 3276);
         }},
        {"ships 37: read", "[TShips 37]\n" + Ship(37, "a"),
         [] {
             EXPECT_EQ(Rec(7, 0).field[30], 30);
             EXPECT_EQ(Rec(7, 0).field[31], 31 * 65536 + 16384);
             EXPECT_EQ(Rec(7, 0).field[SA_TF_SHIP_TURRET_COUNT], 0);  // searched: no component, no turret
         }},
        {"missiles before 31: x is the highest subtype", "[TShips 30]\n" + Ship(30, "a", 3),
         [] {
             EXPECT_EQ(Rec(7, 0).field[34], 3);
             EXPECT_EQ(Rec(7, 0).field[35], 15);
         }},
        {"missiles before 31: a highest subtype beyond the mask's bits", "[TShips 30]\n" + Ship(30, "a", 40),
         [] { EXPECT_EQ(Rec(7, 0).field[35], -1); }},
        {"missiles from 31: x is the mask",
         "[TMissiles 49]\n" + Missile("m1") + Missile("m2") + Missile("m3") + "[TShips 31]\n" + Ship(31, "a", 5),
         [] {
             EXPECT_EQ(Rec(7, 0).field[35], 5);
             EXPECT_EQ(Rec(7, 0).field[34], g_TypeDB.counts[10] - 1);
         }},
        {"an end is never moved below 0:00.000", "[Videos]\n1 0 0 0 12 0 0 0 0 0 20\n",
         [] {
             const SA_VideoRecord& v = g_TypeDB.videos[0];
             EXPECT_EQ(v.start[2], 141);
             EXPECT_EQ(v.end[0], 0);
             EXPECT_EQ(v.end[1], 0);
             EXPECT_EQ(v.end[2], 0);
         }},
        {"video start and end move with carries", "[Videos]\n1 0 0 0 12 0 59 900 1 0 20\n",
         [] {
             const SA_VideoRecord& v = g_TypeDB.videos[0];
             EXPECT_EQ(v.start[0], 1);
             EXPECT_EQ(v.start[1], 0);
             EXPECT_EQ(v.start[2], 41);
             EXPECT_EQ(v.end[0], 0);
             EXPECT_EQ(v.end[1], 59);
             EXPECT_EQ(v.end[2], 979);
         }},
        {"a background's star count", "[TBackgrounds 47]\n" + Background(47, 20, 10, 20),
         [] {
             EXPECT_EQ(Rec(2, 0).field[SA_TF_BG_STAR_COUNT], 16);
             EXPECT_NE(Rec(2, 0).field[SA_TF_BG_STARS + 15], 0);
         },
         "Invalid # of star background bodies in background 0: num=20\n"},
        {"a background's fog", "[TBackgrounds 47]\n" + Background(47, 1, 500, 100),
         [] {
             EXPECT_EQ(Rec(2, 0).field[SA_TF_BG_FOG_NEAR], 0);
             EXPECT_EQ(Rec(2, 0).field[SA_TF_BG_FOG_FAR], 0);
         },
         "Invalid fog values in background 0: near=500, far=100\n"},
        {"old backgrounds", "[TBackgrounds 23]\n" + Background(23, 1, 1, 2),
         [] {
             EXPECT_EQ(Rec(2, 0).field[SA_TF_BG_OUTER_COUNT], 1);
             EXPECT_EQ(Rec(2, 0).field[SA_TF_BG_STARDUST_DENSITY], 50);
             EXPECT_EQ(Rec(2, 0).field[SA_TF_BG_STARDUST_COLOUR + 1], 79);
             EXPECT_EQ(Rec(2, 0).field[SA_TF_MIN_NOTORIETY], -1000000);
         }},
        {"a count of 0", "[TShips 48]\n",
         [] {
             EXPECT_EQ(g_TypeDB.counts[7], 0);
             EXPECT_EQ(g_TypeDB.types[7], nullptr);
         }},
    };
    for (const Case& c : cases) {
        LogCapture log;
        ASSERT_EQ(Load(c.source), 1) << c.name;
        c.check();
        if (c.logged) {
            EXPECT_TRUE(log.Contains(c.logged)) << c.name << "\n" << log.Text();
        }
        EXPECT_FALSE(log.Contains("Error loading")) << c.name << "\n" << log.Text();
    }
}

TEST_F(SpaceTypes, MissingFiles) {
    Types(EmptyTypes() + "[Globals]\nSG_AVRSPEED 3\n[TShips 48]\n" + Ship(48, "a"));
    // A missing table leaves its main type without records.
    std::remove((game_.Path() + "/types/TSuns.txt").c_str());
    EXPECT_EQ(SA_LoadObjectDB(&root_), 1);
    EXPECT_EQ(g_TypeDB.counts[3], 0);
    EXPECT_EQ(g_TypeDB.counts[7], 1);
    // A missing Components file is rebuilt from the bodies and written back.
    SA_FreeObjectDB();
    std::remove((game_.Path() + "/types/Components.txt").c_str());
    EXPECT_EQ(SA_LoadObjectDB(&root_), 1);
    EXPECT_EQ(g_TypeDB.counts[7], 1);
    EXPECT_FALSE(SA_RebuildingComponents());
    ASSERT_TRUE(game_.Exists("types/Components.txt"));
    const std::vector<uint8_t> written = game_.Read("types/Components.txt");
    EXPECT_EQ(std::string(written.begin(), written.end()).rfind("// Autogenerated Components File\r\n", 0), 0u);
    // The load stops at the first missing core file.
    SA_FreeObjectDB();
    std::remove((game_.Path() + "/types/Dummies.txt").c_str());
    EXPECT_EQ(SA_LoadObjectDB(&root_), 0);
    EXPECT_EQ(SA_GetGlobalParameter(13), 3);  // read before it stays
    EXPECT_EQ(g_TypeDB.counts[7], 0);
}

TEST_F(SpaceTypes, BadCountsAndTruncatedFilesEndTheFile) {
    struct Case {
        const char* file;
        std::string text;
        const char* message;
        std::function<void()> check;
    } cases[] = {
        {"Globals", "-1;", "Error loading Globals.txt: parameter number 0\n",
         [] { EXPECT_EQ(g_TypeDB.globalCount, 0); }},
        {"Globals", "2000000000;SG_AVRSPEED;1;", "Error loading Globals.txt: parameter number 0\n",
         [] { EXPECT_EQ(g_TypeDB.globalCount, 0); }},
        {"Globals", "3;SG_AVRSPEED;1;SG_MM_METHOD;", "Error loading Globals.txt: parameter number 1\n",
         [] {
             EXPECT_EQ(g_TypeDB.globalCount, 1);
             EXPECT_EQ(SA_GetGlobalParameter(13), 1);
         }},
        {"Videos", "1;1;0;0;0;5;0;", "Error loading Videos.txt: video number 0\n",
         [] { EXPECT_EQ(g_TypeDB.videoCount, 0); }},
        {"VideoLists", "2;1;5;-3;", "Error loading VideosLists.txt: video list number 1\n",
         [] { EXPECT_EQ(g_TypeDB.videoListCount, 1); }},
        {"Dummies", "SDTYPE_DOOR;0;", "Error loading Dummies.txt: dummy type 0, dummy number 0\n", [] {}},
        {"Dummies", "SDTYPE_DOORWAY;2;5;NULL;4;0;10;1;11;2;12;3;13;6;NULL;5;0;1;1;2;2;3;3;4;4;",
         "Error loading Dummies.txt: dummy type 2, dummy number 1\n",
         [] {
             EXPECT_EQ(g_TypeDB.dummyCounts[2], 1);  // the first, with four state cuts, stays
             EXPECT_EQ(g_TypeDB.dummies[2][0].stateCuts[3], 13);
         }},
        {"Dummies", "SDTYPE_DOCK;1;5;NULL;1;7;9;", "Error loading Dummies.txt: dummy type 1, dummy number 0\n",
         [] { EXPECT_EQ(g_TypeDB.dummyCounts[1], 0); }},  // status 7 has no slot
        {"Dummies", "SDTYPE_GUN;1;5;NULL;0;4;1;NULL;2;NULL;3;NULL;4;NULL;",
         "Error loading Dummies.txt: dummy type 3, dummy number 0\n", [] { EXPECT_EQ(g_TypeDB.dummyCounts[3], 0); }},
        {"Dummies", "9;SDTYPE_DOCK;1;5;NULL;0;", nullptr, [] { EXPECT_EQ(g_TypeDB.dummyCounts[1], 1); }},
        {"Bodies", "13;1;5;", "Error loading Bodies.txt: body type 13, body number 0\n", [] {}},
        {"Bodies", "SBTYPE_LOGO;-2;", "Error loading Bodies.txt: body type 3, body number 0\n", [] {}},
        {"Bodies", "SBTYPE_LOGO;3;7;8;", "Error loading Bodies.txt: body type 3, body number 2\n",
         [] { EXPECT_TRUE(SA_IsSpecialBody(8, 3)); }},
        {"Components", "3;0;", "Error loading Components.txt: components type 3, component number 0\n", [] {}},
        {"Components", "SCTYPE_LASER;1;500;-1;",
         "Error loading Components.txt: components type 0, component number 0\n",
         [] { EXPECT_EQ(g_TypeDB.componentCounts[0], 0); }},
        {"Components", "SCTYPE_LASER;2;500;1;NULL;1;2;3;0;0;1;501;4;NULL;",
         "Error loading Components.txt: components type 0, component number 1\n",
         [] { EXPECT_EQ(g_TypeDB.componentCounts[0], 1); }},
        {"Matches", "1;NULL;0;", "Error loading Matches.txt: match type 1, match number 0\n", [] {}},
        {"TShips", "48;-4;", "Error loading TShips.txt: maintype 7, subtype 0\n",
         [] { EXPECT_EQ(g_TypeDB.counts[7], 0); }},
        {"TShips", "48;99999;1;", "Error loading TShips.txt: maintype 7, subtype 0\n",
         [] { EXPECT_EQ(g_TypeDB.counts[7], 0); }},
    };
    for (const Case& c : cases) {
        SA_FreeObjectDB();
        Types(EmptyTypes());
        Spoil(c.file, c.text);
        LogCapture log;
        SA_LoadObjectDB(&root_);
        if (c.message) {
            EXPECT_TRUE(log.Contains(c.message)) << c.file << " " << c.text << "\n" << log.Text();
        } else {
            EXPECT_FALSE(log.Contains("Error loading")) << c.text << "\n" << log.Text();
        }
        c.check();
    }
}

TEST_F(SpaceTypes, ShipListsBeyondTheRecordEndTheFile) {
    // One good ship, then one whose list does not fit its record.
    auto withLists = [](const std::string& lists) {
        std::string good = Ship(48, "good");
        std::string bad = Ship(48, "bad");
        bad.replace(bad.find('{'), bad.find(" 7 8 9 10") - bad.find('{'), lists);
        return "[TShips 48]\n" + good + bad;
    };
    std::string eightCockpits = "{", elevenTurrets = "{", thirteenLasers = "{0 1 2 {";
    for (int i = 0; i < 8; ++i) eightCockpits += std::string(i ? ", " : "") + "1 2 500 4";
    for (int i = 0; i < 11; ++i) elevenTurrets += std::string(i ? ", " : "") + "0 1 2 {}";
    for (int i = 0; i < 13; ++i) thirteenLasers += std::string(i ? ", " : "") + "3 4 500 6 NULL 8";
    const std::string cases[] = {eightCockpits + "} {}", "{} " + elevenTurrets + "}", "{} " + thirteenLasers + "}}"};
    for (const std::string& lists : cases) {
        LogCapture log;
        EXPECT_EQ(Load(withLists(lists)), 1);
        EXPECT_TRUE(log.Contains("Error loading TShips.txt: maintype 7, subtype 1\n")) << lists;
        ASSERT_EQ(g_TypeDB.counts[7], 1) << lists;
        EXPECT_STREQ(Rec(7, 0).name, "good");
    }
}

TEST_F(SpaceTypes, BackgroundsAreWrittenBackWhole) {
    for (int32_t version : {20, 47}) {
        ASSERT_EQ(Load("[TBackgrounds " + std::to_string(version) + "]\n" + Background(version, 3, 100, 200) +
                       Background(version, 2, 1, 2)),
                  1);
        TypeRecord* bg = SA_GetTypeRecord(2, 1);
        bg->field[SA_TF_VIDEO_ID] = version >= 33 ? 14 : 0;
        const TypeRecord before = *bg;
        LogCapture log;
        ASSERT_EQ(SA_SaveBackgroundTypes(), 1);
        EXPECT_TRUE(log.Contains("Writing back 2 lines of TBackgrounds\n"));
        SA_FreeObjectDB();
        ASSERT_EQ(SA_LoadObjectDB(&root_), 1);
        EXPECT_EQ(g_TypeDB.versions[2], version < 25 ? 25 : version);
        ASSERT_EQ(g_TypeDB.counts[2], 2);
        const TypeRecord& after = Rec(2, 1);
        for (int32_t f = 0; f < SA_TYPE_FIELD_COUNT; ++f)
            EXPECT_EQ(after.field[f], before.field[f]) << version << ": " << f;
        EXPECT_STREQ(after.name, "nebula_a");
        EXPECT_STREQ(after.backgroundName, "orion");
    }
    // A file that cannot be created answers 0.
    std::filesystem::remove(game_.Path() + "/types/TBackgrounds.txt");
    std::filesystem::create_directories(game_.Path() + "/types/TBackgrounds.txt");
    LogCapture log;
    EXPECT_EQ(SA_SaveBackgroundTypes(), 0);
    EXPECT_TRUE(log.Contains("SA_SaveBackgroundTypes(): Can't save file types\\TBackgrounds.txt\n")) << log.Text();
}

TEST_F(SpaceTypes, AnimatedDockPortsTakeTheirWindowsFromTheirCut) {
    std::string error;
    game_.Write("cut/00900.bob", "");
    ASSERT_TRUE(
        Tool_WriteBinaryCut("path 0 5\n  name port\n  note 100 start 1\n  note 0 end 1\n"
                            "  note 300 start 3\n  note 400 end 3\npath 1 6\n  name plain\n",
                            6, "cut\\00900.bob", &error))
        << error;
    ASSERT_EQ(Load("[Dummies]\nSDTYPE_ANIMATED\n  v\\port ANIMATEDF_DOCKPORT_M3 {ANIMATEDSTATUS_NORMAL 900}\n"
                   "  v\\door ANIMATEDF_DOCKPORT_UDREV {ANIMATEDSTATUS_NORMAL 900}\n"),
              1);
    ASSERT_EQ(g_TypeDB.dummyCounts[0], 2);
    // An end of 0 becomes 1; windows without names take the one before.
    const DummyWindow expected[] = {{100, 1}, {100, 1}, {300, 400}, {300, 400}, {300, 400}};
    for (int i = 0; i < SA_DUMMY_WINDOWS; ++i) {
        EXPECT_EQ(g_TypeDB.dummies[0][0].windows[i].start, expected[i].start) << i;
        EXPECT_EQ(g_TypeDB.dummies[0][0].windows[i].end, expected[i].end) << i;
        // Without a dock-port flag in the low 16 bits: {0, 1}.
        EXPECT_EQ(g_TypeDB.dummies[0][1].windows[i].start, 0) << i;
        EXPECT_EQ(g_TypeDB.dummies[0][1].windows[i].end, 1) << i;
    }
    while (uint32_t k = Qel_TableNext(g_B3DState->cutTable, 0))
        J3D_ReleaseCutMemory(reinterpret_cast<J3D_Cut*>(Qel_TableRemove(g_B3DState->cutTable, k)));
    B3D_FreeStringTable(g_B3DState->nameTables[B3D_USED_CUT_FILES]);
}

// The demo folder's types, as the build wrote them, in the test's game folder
// with the demo's bodies and cuts where the build made them.
void CopyDemoTypes(const std::string& game) {
    const char* bin = std::getenv("TREVAN_BINARY_DIR");
    ASSERT_NE(bin, nullptr);
    const std::filesystem::path demo = std::filesystem::path(bin) / "demo";
    for (const char* folder : {"types", "v", "cut"})
        if (std::filesystem::exists(demo / folder))
            std::filesystem::copy(demo / folder, std::filesystem::path(game) / folder,
                                  std::filesystem::copy_options::recursive);
}

TEST_F(SpaceTypes, TheDemoTypesLoadWhole) {
    CopyDemoTypes(game_.Path());
    LogCapture log;
    EXPECT_EQ(SA_LoadObjectDB(&root_), 1);
    EXPECT_EQ(B3DB_LoadLightTypeList(), 1);
    EXPECT_EQ(B3DB_LoadParticleDescription(), 1);
    EXPECT_EQ(B3DB_LoadLensflares(), 1);
    for (const char* bad : {"Error loading", "Can't read file", "Invalid", "ERROR", "WARNING", "range"})
        EXPECT_FALSE(log.Contains(bad)) << log.Text();
    EXPECT_EQ(g_B3DState->lightTypes[4].red, 255);
    // The names the story uses, on the bodies the art makes.
    struct Named {
        const char* name;
        int32_t mainType, subType, body;
    };
    const Named named[] = {
        {"scout", SA_MT_SHIP, 0, 600},
        {"hauler", SA_MT_SHIP, 1, 601},
        {"raider", SA_MT_SHIP, 2, 602},
        {"trading_post", SA_MT_DOCK, 0, 610},
        {"jump_gate", SA_MT_GATE, 0, 620},
        {"asteroid_1", SA_MT_ASTEROID, 0, 630},
        {"asteroid_4", SA_MT_ASTEROID, 3, 633},
        {"yellow_sun", SA_MT_SUN, 0, 640},
        {"rock_planet", SA_MT_PLANET, 0, 641},
        {"pulse_bolt", SA_MT_BULLET, 0, 650},
        {"raider_bolt", SA_MT_BULLET, 1, 650},
        {"dart", SA_MT_MISSILE, 0, 651},
        {"energy_cells", SA_MT_WARE_FIRST, 0, 660},
    };
    for (const Named& n : named) {
        EXPECT_EQ(SA_GetTypeCodeByName(n.name), SA_TypeCode(n.mainType, n.subType)) << n.name;
        EXPECT_EQ(Rec(n.mainType, n.subType).field[SA_TF_BODY], n.body) << n.name;
    }
    EXPECT_EQ(Rec(SA_MT_DOCK, 0).field[SA_TF_STATION_CUT], 610);
    // With the art's cut in the folder, its dock-port dummies give the ports.
    if (game_.Exists("cut/00610.bod") || game_.Exists("cut/00610.bob"))
        EXPECT_GT(SA_GetTypeNumDockPorts(SA_MT_DOCK, 0), 0);
    EXPECT_EQ(SA_GetTypeLimit(SA_MT_SHIP, 2), 2000);
    EXPECT_EQ(Rec(SA_MT_LASER, 1).field[SA_TF_LASER_BULLET_TYPE], 1);
    EXPECT_EQ(Rec(SA_MT_SHIP, 0).field[SA_TF_SHIP_TURRET_COUNT], 1);
    EXPECT_NE(SA_FindTypeEntry(0, 600), nullptr);
    EXPECT_EQ(SA_GetWareListCount(1, SA_TypeCode(13, 0)), 1);
}

// Ships of both sides and the station are made from the demo's types in a
// sector, and the fighters' lasers fire their own bolts at each other.
TEST_F(SpaceTypes, TheDemoFightersFireTheirOwnBolts) {
    CopyDemoTypes(game_.Path());
    ASSERT_EQ(SA_LoadObjectDB(&root_), 1);
    SectorObject* sector = O_AllocObject(SA_TypeCode(SA_MT_SECTOR, 1));
    ASSERT_NE(sector, nullptr);
    auto make = [sector](const char* name, int32_t z) {
        SectorObject* o = O_AllocObject(SA_GetTypeCodeByName(name));
        EXPECT_NE(o, nullptr) << name;
        if (!o) return o;
        O_SetContainer(o, sector);
        EXPECT_EQ(o->container, sector) << name;
        o->instance->pos = QelVector{0, 0, z, 0};
        Qel_MatIdentity(&o->instance->matrix);
        return o;
    };
    SectorObject* station = make("trading_post", 40000000);
    SectorObject* scout = make("scout", 0);
    SectorObject* raider = make("raider", 1000000);
    ASSERT_TRUE(station && scout && raider);
    EXPECT_EQ(scout->hull, 2500);
    EXPECT_EQ(raider->hull, 2000);
    struct Shot {
        SectorObject* shooter;
        const char* laser;
        int32_t bullet;
    };
    for (const Shot& s : {Shot{scout, "pulse_laser", 0}, Shot{raider, "raider_laser", 1}}) {
        SectorObject* laser = O_AllocObject(SA_GetTypeCodeByName(s.laser));
        ASSERT_NE(laser, nullptr) << s.laser;
        ASSERT_EQ(O_MoveIntoContainer(s.shooter, laser), 1) << s.laser;
        static_cast<LaserData*>(laser->typeData)->slot = 0;
        const TypeRecord* ship = O_GetTypeRecord(s.shooter);
        O_ShipData(s.shooter)->laserEnergy = ship->field[SA_TF_SHIP_LASER_POWER_MAX] * 1000;
        SectorObject* target = s.shooter == scout ? raider : scout;
        EXPECT_EQ(O_FireLasers(s.shooter, target, 0, 0, 0xFFFFFFFFu), SA_FIRE_DONE) << s.laser;
        int32_t bolts = 0;
        for (SectorObject* c = SA_FirstChild(sector); c; c = SA_ListNext(c))
            if (c->mainType == SA_MT_BULLET && c->subType == s.bullet) ++bolts;
        EXPECT_EQ(bolts, 1) << s.laser;
    }
    SA_FreeAllObjects(&root_);
}

}  // namespace

// The tables a rebuild found are written as a Components file that loads
// back to the same tables.
TEST_F(SpaceTypes, ARebuiltComponentsFileLoadsBackToTheSameTables) {
    Types(EmptyTypes());
    std::remove((game_.Path() + "/types/Components.txt").c_str());
    SA_StartComponentsRebuild();
    const int32_t laserBody = B3D_GetBodyID("ships\\kestrel");
    const int32_t dockBody = B3D_GetBodyID("stations\\pier");
    auto entries = [](std::initializer_list<ComponentEntry> list) {
        auto* e = static_cast<ComponentEntry*>(
            Int_AllocMem(sizeof(ComponentEntry) * list.size(), Int_MemTag(14) | INT_MEM_ZERO_TAIL));
        std::copy(list.begin(), list.end(), e);
        return e;
    };
    ASSERT_TRUE(SA_AppendComponentRecord(
        0, ComponentRecord{laserBody, 2,
                           entries({ComponentEntry{1, {}, {65536, -131072, 4096, 0}, {0, 0, 262144, 0}},
                                    ComponentEntry{0, {}, {7, 8, 9, 0}, {}}})}));
    ASSERT_TRUE(SA_AppendComponentRecord(
        2, ComponentRecord{dockBody, 1, entries({ComponentEntry{0, {}, {0, 32768, -65536, 0}, {}}})}));
    SA_FinishComponentsRebuild();
    ASSERT_TRUE(game_.Exists("types/Components.txt"));
    SA_FreeObjectDB();
    ASSERT_EQ(SA_LoadObjectDB(&root_), 1);
    ASSERT_EQ(g_TypeDB.componentCounts[0], 1);
    ASSERT_EQ(g_TypeDB.componentCounts[1], 0);
    ASSERT_EQ(g_TypeDB.componentCounts[2], 1);
    const ComponentRecord& lasers = g_TypeDB.components[0][0];
    EXPECT_EQ(lasers.body, laserBody);
    ASSERT_EQ(lasers.count, 2);
    EXPECT_EQ(lasers.entries[0].flags, 1);
    EXPECT_EQ(lasers.entries[0].position.y, -131072);
    EXPECT_EQ(lasers.entries[0].position.z, 4096);
    EXPECT_EQ(lasers.entries[0].direction.z, 262144);
    EXPECT_EQ(lasers.entries[1].position.x, 7);
    const ComponentRecord& docks = g_TypeDB.components[2][0];
    EXPECT_EQ(docks.body, dockBody);
    ASSERT_EQ(docks.count, 1);
    EXPECT_EQ(docks.entries[0].position.y, 32768);
    EXPECT_EQ(docks.entries[0].direction.x, 0);
}
