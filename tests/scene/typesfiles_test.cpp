#include "scene/typesfiles.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "base/general.h"
#include "base/texcache.h"
#include "scene/ids.h"
#include "scene/state.h"
#include "support/logcapture.h"
#include "types_fixture.h"

namespace {

using SceneTypes = TypesTest;

TEST_F(SceneTypes, OpenerPrefersThePackedFormOnlyWhenAsked) {
    Types("[CutData]\n1 text\n");
    Types("[CutData]\n1 packed\n", 77);
    game_.Write("types/CutData.txt", "1;\n1;text;\n");
    for (bool packed : {false, true}) {
        system_->startFlags = packed ? QEL_START_PACKED : 0;
        ASSERT_EQ(B3DB_LoadCutData(), 1);
        EXPECT_STREQ(B3D_CutSlotOf(1)->name, packed ? "packed" : "text");
    }
    // A packed form that does not read falls back to the text form.
    game_.Write("types/CutData.pck", "spoiled");
    ASSERT_EQ(B3DB_LoadCutData(), 1);
    EXPECT_STREQ(B3D_CutSlotOf(1)->name, "text");

    LogCapture log;
    EXPECT_EQ(B3DB_OpenTypesFile("Nowhere"), nullptr);
    EXPECT_TRUE(log.Contains("B3DB_OpenTypesFile: Can't read file types\\Nowhere.txt\n"));
    EXPECT_EQ(B3DB_LoadLightTypeList(), 0);
    EXPECT_EQ(g_B3DState->lightTypes[725].red, 198);  // the defaults stay
}

TEST_F(SceneTypes, CutDataStoresWholeEntriesOnly) {
    Types("[CutData]\n3 intro.cut\n14999 last\n");
    ASSERT_EQ(B3DB_LoadCutData(), 1);
    EXPECT_STREQ(B3D_CutSlotOf(3)->name, "intro");
    EXPECT_STREQ(B3D_CutSlotOf(14999)->name, "last");

    Types("[CutData]\n");
    EXPECT_EQ(Text("CutData"), "0;\n");
    ASSERT_EQ(B3DB_LoadCutData(), 1);
    for (int32_t id : {3, 14999}) EXPECT_EQ(B3D_CutSlotOf(id)->name, nullptr);

    struct Case {
        const char* text;
        const char* logged;
    };
    const Case cases[] = {
        {"2;\n3;intro;\n4;", "Error loading definition for cut number 4\n"},  // entry cut short
        {"2;\n3;intro;\n50001;dyn;\n", "cut number 50001 has no slot"},       // no fixed slot
        {"-2;\n3;intro;\n", nullptr},                                         // negative count
    };
    for (const Case& c : cases) {
        Spoil("CutData", c.text);
        LogCapture log;
        B3DB_LoadCutData();
        if (c.logged) {
            EXPECT_TRUE(log.Contains(c.logged)) << c.text;
            EXPECT_STREQ(B3D_CutSlotOf(3)->name, "intro") << c.text;
        } else {
            EXPECT_EQ(B3D_CutSlotOf(3)->name, nullptr) << c.text;
        }
        EXPECT_EQ(B3D_CutSlotOf(4)->name, nullptr) << c.text;
    }
}

TEST_F(SceneTypes, BodyDataResetsEverySlotAndStoresValidIds) {
    B3DBodySlot& marked = g_B3DState->bodyIds.slots[7];
    marked.loadMark = 1;
    marked.useCount = 9;
    Types("[BodyData]\n5 1 2 3 v\\five.bod\n10005 4 5 6 v\\big\n");
    ASSERT_EQ(B3DB_LoadBodyData(), 1);
    EXPECT_EQ(marked.data, -2);
    EXPECT_EQ(marked.collWord, -2);
    EXPECT_EQ(marked.fileEntry, -1);
    EXPECT_EQ(marked.useCount, 0);
    EXPECT_EQ(marked.loadMark, 1);  // the dummy mark is not the table's
    const B3DBodySlot& five = g_B3DState->bodyIds.slots[5];
    EXPECT_EQ(five.data, 1);
    EXPECT_EQ(five.collWord, 2);
    EXPECT_EQ(five.fileEntry, 3);
    EXPECT_STREQ(five.name, "v\\five");
    EXPECT_STREQ(g_B3DState->bodyIds.slots[1005].name, "v\\big");

    // Ids without a fixed slot are refused, the entries after them still read.
    Spoil("BodyData", "4;\n1000;1;1;1;low;\n20005;1;1;1;dyn;\n-3;1;1;1;neg;\n6;7;7;7;six;\n");
    LogCapture log;
    ASSERT_EQ(B3DB_LoadBodyData(), 1);
    for (int32_t id : {1000, 20005, -3})
        EXPECT_TRUE(log.Contains("body number " + std::to_string(id) + " has no slot")) << id;
    EXPECT_EQ(g_B3DState->bodyIds.slots[6].data, 7);
    for (int32_t s = 0; s < B3D_BODY_FIXED_SLOTS + B3D_DYNAMIC_STEP; ++s)
        if (s != 6) {
            ASSERT_EQ(g_B3DState->bodyIds.slots[s].name, nullptr) << s;
        }

    Spoil("BodyData", "2;\n5;1;2;3;five;\n6;7;8;");
    log.Take();
    EXPECT_EQ(B3DB_LoadBodyData(), 0);
    EXPECT_TRUE(log.Contains("Error loading definition for body number 6\n"));
    EXPECT_EQ(g_B3DState->bodyIds.slots[6].data, -2);
    EXPECT_EQ(g_B3DState->bodyIds.slots[5].data, 1);
}

TEST_F(SceneTypes, LightTypesKeepDefaultsAndStopAtTheFirstBadEntry) {
    Types("[LightTypes]\n0 2 10 20 30 1 65536 7 8\n12 3 1 2 3 0 0 0 0\n");
    ASSERT_EQ(B3DB_LoadLightTypeList(), 1);
    const B3DLightType& def = g_B3DState->lightTypes[725];
    EXPECT_EQ(def.kind, 1);
    EXPECT_EQ(def.red, 198);
    EXPECT_EQ(def.green, 56);
    EXPECT_EQ(def.blue, 141);
    const B3DLightType& zero = g_B3DState->lightTypes[0];
    EXPECT_EQ(zero.kind, 2);
    EXPECT_EQ(zero.blue, 30);
    EXPECT_EQ(zero.switchWord, 1);
    EXPECT_EQ(zero.value, 65536);
    EXPECT_EQ(zero.words[1], 8);

    struct Case {
        const char* text;
        const char* logged;
    };
    const Case cases[] = {
        {"2;\n0;2;10;20;30;1;65536;7;8;\n1000;1;1;1;1;1;1;1;1;\n", "index 1000 out of range!"},
        {"2;\n0;2;10;20;30;1;65536;7;8;\n-1;1;1;1;1;1;1;1;1;\n", "index -1 out of range!"},
        {"2;\n0;2;10;20;30;1;65536;7;8;\n12;3;4;", nullptr},
    };
    for (const Case& c : cases) {
        Spoil("LightTypes", c.text);
        LogCapture log;
        EXPECT_EQ(B3DB_LoadLightTypeList(), 0) << c.text;
        if (c.logged) {
            EXPECT_TRUE(log.Contains(c.logged)) << c.text;
        }
        EXPECT_EQ(g_B3DState->lightTypes[0].red, 10) << c.text;   // the earlier entry stays whole
        EXPECT_EQ(g_B3DState->lightTypes[12].kind, 1) << c.text;  // the cut entry is the default
        EXPECT_EQ(g_B3DState->lightTypes[12].red, 0) << c.text;
    }
}

TEST_F(SceneTypes, ParticleDescriptionsWithEmittersAndKeywords) {
    Types(
        "[Particles3]\n"
        "4 ICON_LSR_IRE2\n"
        "  PEDF_2D fx\\spark 0 0 0.5 0.25 1.5 0.1 1 2 3 100 200 1500 4 8 lifetimevariation: 250 spreadx: 0.5 "
        "spready: 1.25 growduration: 7 fadeduration: 300 rotspeed: 2 randomrotspeed: 0.75\n"
        "  PEDF_TRAIL fx\\trail 0 0 1 1 1 0 0 0 0 1 2 3 4 5 bogus: 9 fadeduration: 10\n"
        "9 NULL\n");
    LogCapture log;
    ASSERT_EQ(B3DB_LoadParticleDescription(), 1);
    EXPECT_TRUE(log.Contains("B3DB_LoadParticleDescription: unknown keyword in 4 ignored\n"));
    const B3DParticleDesc& d = g_B3DState->particleDescs[4];
    EXPECT_EQ(d.iconWord, 3);
    ASSERT_EQ(d.emitterCount, 2);
    const B3DParticleEmitter& a = d.emitters[0];
    EXPECT_EQ(a.flags, 1u);
    EXPECT_EQ(a.material, int32_t(TC_GetTextureIdByName("fx\\spark")));
    EXPECT_EQ(a.texRect[2], 0x8000);
    EXPECT_EQ(a.texRect[3], 0x4000);
    EXPECT_EQ(a.intervalFactor, 0x18000);
    EXPECT_EQ(a.values[2], 3 << 16);
    EXPECT_EQ(a.speedHigh, 200);
    EXPECT_EQ(a.lifetime, 1500);
    EXPECT_EQ(a.sizeHigh, 8);
    EXPECT_EQ(a.lifetimeVariation, 250);
    EXPECT_EQ(a.spreadX, 0x8000);
    EXPECT_EQ(a.spreadY, 0x14000);
    EXPECT_EQ(a.growDuration, 7);
    EXPECT_EQ(a.fadeDuration, 300);
    EXPECT_EQ(a.rotSpeed, 0x20000);
    EXPECT_EQ(a.rotSpeedRandom, 0xC000);
    const B3DParticleEmitter& b = d.emitters[1];
    EXPECT_EQ(b.flags, 2u);
    EXPECT_EQ(b.sizeHigh, 5);
    EXPECT_EQ(b.fadeDuration, 10);  // read after the ignored keyword
    EXPECT_EQ(b.lifetimeVariation, 0);
    EXPECT_EQ(g_B3DState->particleDescs[9].emitterCount, 0);
    EXPECT_EQ(g_B3DState->particleDescs[9].emitters, nullptr);

    // A description cut short is dropped; one with a bad index ends the file.
    const std::string first = "1;\n2;1;NULL;\nNULL;t;0;0;1;1;1;0;0;0;0;1;2;3;4;5;\n";
    for (const std::string& tail :
         {std::string("5;1;NULL;\nNULL;t;0;0;1;"), std::string("100;0;NULL;\n"), std::string("6;-1;NULL;\n")}) {
        Spoil("Particles3", first + tail);
        EXPECT_EQ(B3DB_LoadParticleDescription(), 0) << tail;
        EXPECT_EQ(g_B3DState->particleDescs[2].emitterCount, 1) << tail;
        EXPECT_EQ(g_B3DState->particleDescs[4].emitterCount, 0) << tail;  // the old table went
        EXPECT_EQ(g_B3DState->particleDescs[5].emitters, nullptr) << tail;
    }
}

TEST_F(SceneTypes, SkinsMapTexturePairs) {
    Types("[Skins]\n4 camo\n  hull hull_camo\n  NULL wing_camo\n7 plain\n");
    LogCapture log;
    ASSERT_EQ(B3DB_LoadSkins(), 1);
    EXPECT_TRUE(log.Contains("Error loading Skins.txt: skin type 0, texture number 1\n"));
    ASSERT_EQ(g_B3DState->skinCount, 2);
    const B3DSkinRow& camo = g_B3DState->skins[0];
    EXPECT_EQ(camo.number, 4);
    EXPECT_STREQ(camo.name, "camo");
    ASSERT_EQ(camo.count, 2);
    EXPECT_EQ(camo.replaced[0], int32_t(TC_GetTextureIdByName("hull")));
    EXPECT_EQ(camo.replacing[0], int32_t(TC_GetTextureIdByName("hull_camo")));
    EXPECT_EQ(camo.replaced[1], 0);
    EXPECT_EQ(g_B3DState->skins[1].count, 0);

    Spoil("Skins", "2;\n4;camo;1;\nhull;hull_camo;\n5;cut;2;\na;b;\nc;");
    EXPECT_EQ(B3DB_LoadSkins(), 0);
    ASSERT_EQ(g_B3DState->skinCount, 1);
    EXPECT_STREQ(g_B3DState->skins[0].name, "camo");
    Spoil("Skins", "-1;\n");
    EXPECT_EQ(B3DB_LoadSkins(), 0);
    EXPECT_EQ(g_B3DState->skinCount, 0);
}

TEST_F(SceneTypes, IconDataFillsSlotsAndRefusesIconsOffTheSheet) {
    Types(
        "[IconData]\n"
        "ICONTYPE_QMEXTRA gui\\sheet 256 128\n"
        "  ICON_QM_BUTTON NULL 0 0 32 16\n"
        "  ICON_MOUSECURSOR 5 250 0 32 16\n"
        "  77 NULL 32 16 8 8\n"
        "9 gui\\other 64 64\n");
    LogCapture log;
    ASSERT_EQ(B3DB_LoadIconData(), 1);
    EXPECT_TRUE(log.Contains("Error loading icon data file IconData: texture gui\\sheet, icon 1, ID 1100\n"));
    const B3DIconList& l = g_B3DState->icons[1];
    EXPECT_EQ(l.textureId, int32_t(TC_GetTextureIdByName("gui\\sheet")));
    EXPECT_EQ(l.width, 256);
    EXPECT_EQ(l.height, 128);
    ASSERT_EQ(l.rowCount, 2);
    EXPECT_EQ(l.rows[0].iconId, 1000);
    EXPECT_EQ(l.rows[0].w, 32);
    EXPECT_EQ(l.rows[1].iconId, 77);
    EXPECT_EQ(l.rows[1].y, 16);
    EXPECT_EQ(g_B3DState->icons[9].rowCount, 0);
    EXPECT_EQ(g_B3DState->icons[9].width, 64);

    // A slot above 9 or a block cut short ends the reading; earlier blocks stay.
    for (const char* tail : {"10;t;0;1;1;\n", "-1;t;0;1;1;\n", "2;t;1;8;8;\n5;NULL;0;0;", "3;t;-1;8;8;\n"}) {
        Spoil("IconData", std::string("0;gui;1;16;16;\n1;NULL;0;0;8;8;\n") + tail);
        EXPECT_EQ(B3DB_LoadIconData(), 0) << tail;
        EXPECT_EQ(g_B3DState->icons[0].rowCount, 1) << tail;
        EXPECT_EQ(g_B3DState->icons[2].rows, nullptr) << tail;
    }
}

TEST(SceneIconNames, FiveHundredAndOneUniqueNamesWithIdsByRun) {
    const VRMNameValue* t = B3D_IconNameTable();
    std::set<std::string> names;
    std::set<int32_t> ids;
    int32_t n = 0;
    for (; t[n].name[0]; ++n) {
        names.insert(t[n].name);
        ids.insert(t[n].value);
    }
    EXPECT_EQ(n, B3D_ICON_NAME_COUNT);
    EXPECT_EQ(names.size(), 501u);
    EXPECT_EQ(ids.size(), 501u);
    struct Run {
        const char* first;
        int32_t firstId;
        const char* last;
        int32_t lastId;
    };
    const Run runs[] = {
        {"ICON_LSR_IRE1", 1, "ICON_TRG_M6", 147},
        {"ICON_TRG_M7_ENEMY", 494, "ICON_TRG_M7", 496},
        {"ICON_TRG_TL_ENEMY", 148, "ICON_CTX_PL_COMMAND_HL", 327},
        {"ICON_CTX_ICONMENU", 480, "ICON_CTX_ICONMENU_HL", 481},
        {"ICON_VMODE_TURRET_FRONT", 328, "ICON_VMODE_CAMERA", 334},
        {"ICON_VMODE_TURRET_FRONT_HL", 337, "ICON_VMODE_COCKPIT_REVERSE_HL", 342},
        {"ICON_TRECT_SMALL_BLUE", 346, "ICON_TRECT_ST_DUMMY", 454},
        {"ICON_QM_BUTTON", 1000, "ICON_QM_FILLBAR", 1006},
        {"ICON_LSR_GROUP_OFF_HL", 455, "ICON_LSR_GROUP_LARGE_OFF_HL", 459},
        {"ICON_LSR_GROUP_SPACER", 479, "ICON_LSR_GROUP_SPACER", 479},
        {"ICON_MOUSECURSOR", 1100, "ICON_CLOSEBUTTON_PRESSED", 1102},
        {"ICON_RADAR_LINE_BLUE_TOP", 460, "ICON_SPEED_MARKER_DESIRED", 478},
        {"ICON_TCOMP_NONE", 488, "ICON_AUTOPILOT_GREEN", 493},
        {"ICON_QM_BUTTON_HILITE", 1007, "ICON_QM_BACK_HL", 1012},
    };
    int32_t i = 0;
    for (const Run& r : runs) {
        EXPECT_STREQ(t[i].name, r.first);
        for (int32_t id = r.firstId; id <= r.lastId; ++id, ++i) ASSERT_EQ(t[i].value, id) << t[i].name;
        EXPECT_STREQ(t[i - 1].name, r.last);
    }
    EXPECT_EQ(i, 501);
}

}  // namespace
