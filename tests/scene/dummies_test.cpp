#include "scene/dummies.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "base/texcache.h"
#include "scene/allocs.h"
#include "scene/ids.h"
#include "scene/state.h"
#include "support/logcapture.h"
#include "types_fixture.h"

namespace {

using SceneDummies = TypesTest;

const B3DLensFlareElement* Elements(int32_t flare) {
    return static_cast<const B3DLensFlareElement*>(g_B3DState->arrayTable[flare].array);
}

TEST_F(SceneDummies, DummiesAndLensFlaresResolveBodyNames) {
    Types(
        "[BodyDummies]\n"
        "v\\dummy.bod\n"
        "7\n"
        "25000\n"
        "[Lensflares]\n"
        "-\n"
        "  v\\flare 1.5 2 3 4\n"
        "  7 0.25 -1 0 -2\n"
        "-\n");
    ASSERT_EQ(B3DB_LoadBodyDummies(), 1);
    EXPECT_EQ(B3D_BodyGetLoadMark(20000), 1);
    EXPECT_EQ(B3D_BodyGetLoadMark(7), 1);
    EXPECT_EQ(B3D_BodyGetLoadMark(8), 0);
    EXPECT_EQ(g_B3DState->bodyIds.dynamicCount, 1);  // 25000 lies beyond the table: nothing changes

    ASSERT_EQ(B3DB_LoadLensflares(), 1);
    ASSERT_EQ(g_B3DState->arrayTableCount, 2);
    ASSERT_EQ(g_B3DState->arrayTable[0].count, 2);
    const B3DLensFlareElement* e = Elements(0);
    EXPECT_EQ(e[0].bodyId, 20001);
    EXPECT_EQ(e[0].value, 0x18000);
    EXPECT_EQ(e[0].words[0], 2);
    EXPECT_EQ(e[0].words[1], 3);
    EXPECT_EQ(e[0].half, 4);
    EXPECT_EQ(e[1].bodyId, 7);
    EXPECT_EQ(e[1].half, -2);
    EXPECT_EQ(g_B3DState->arrayTable[1].count, 0);
    EXPECT_EQ(g_B3DState->arrayTable[1].array, nullptr);

    // A save game's name table gives the names other ids: both files are read again.
    B3D_ResetDynamicBodyIds();
    ASSERT_EQ(B3D_GetBodyID("v\\flare"), 20000);
    B3DB_ReloadLensflaresAndDummies();
    EXPECT_EQ(Elements(0)[0].bodyId, 20000);
    EXPECT_EQ(B3D_BodyGetLoadMark(20001), 1);  // v\dummy now
    EXPECT_EQ(B3D_GetBodyID("v\\dummy"), 20001);

    // A flare cut short ends the reading; the flares before it stay.
    Spoil("Lensflares", "3;\n1;\nv\\a;1;2;3;4;\n2;\nv\\b;1;2;");
    EXPECT_EQ(B3DB_LoadLensflares(), 0);
    ASSERT_EQ(g_B3DState->arrayTableCount, 3);
    EXPECT_EQ(g_B3DState->arrayTable[0].count, 1);
    EXPECT_EQ(g_B3DState->arrayTable[1].array, nullptr);

    // Found by fuzzing: a count far beyond the file asked for gigabytes.
    Spoil("Lensflares", "2000000000;\n1;\nv\\a;1;2;3;4;\n");
    LogCapture log;
    EXPECT_EQ(B3DB_LoadLensflares(), 0);
    EXPECT_TRUE(log.Contains("B3DB_LoadLensflares: 2000000000 lens flares in a file of"));
    EXPECT_EQ(g_B3DState->arrayTableCount, 0);
}

// A definition of the given colours, flags and texture name; the other fields
// are the numbers 1 to 3 and 10 to 21.
std::string Material(const std::string& colours, const std::string& flags, const std::string& texture) {
    return "1 2 3 " + colours + " 12 TRANSP_NONE 0 " + flags + " 64 32 10 11 12 MSHINY 13 14 15 16 17 18 " + texture +
           "\n";
}

TEST_F(SceneDummies, MaterialsFillTheTextureTable) {
    Types("[Materials]\n" + Material("HSPEC_R HSPEC_G HSPEC_B HAMB MAMB AMBC DIF_COL 9 DIF_COL", "0", "NULL") +
          Material("LMETL_R HSPEC_R HIH_COL 1 2 3 4 5 6", "MPF_ALPHABLEND|MPF_2SIDED|MPF_BUMPMAP", "ship.tga") +
          Material("MMETL_R MMETL_G MSPEC_B LAMB LAMB LAMB 0 0 0", "MPF_USEFXSHADER", "hull"));
    ASSERT_EQ(B3DB_LoadMaterials(), 1);
    ASSERT_EQ(g_TCTextureInfoCount, 3);
    ASSERT_EQ(g_TCNumberedCount, 3);
    const TC_TextureInfo* m = g_TCTextureInfo;
    EXPECT_EQ(m[0].head[2], 3);
    EXPECT_EQ(m[0].colour[0][0], 255);
    EXPECT_EQ(m[0].colour[0][1], 255);
    EXPECT_EQ(m[0].colour[0][2], 204);
    EXPECT_EQ(m[0].colour[1][0], 64);
    EXPECT_EQ(m[0].colour[1][1], 37);
    EXPECT_EQ(m[0].colour[1][2], 32);
    EXPECT_EQ(m[0].colour[2][1], 9);
    EXPECT_EQ(m[0].colour[2][2], 32);
    EXPECT_EQ(m[0].textureNumber, 12);
    EXPECT_EQ(m[0].opacity, 255);
    EXPECT_EQ(m[0].width, 64);
    EXPECT_EQ(m[0].height, 32);
    EXPECT_EQ(m[0].shininess, 127);
    EXPECT_EQ(m[0].envMap, 15);
    EXPECT_EQ(m[0].bumpMap, 17);
    EXPECT_EQ(m[0].word4, 18);
    // The red names serve the green and blue channels too.
    EXPECT_EQ(m[1].colour[0][0], 76);
    EXPECT_EQ(m[1].colour[0][1], 255);
    EXPECT_EQ(m[1].colour[0][2], 192);
    EXPECT_EQ(m[2].colour[0][1], 138);
    EXPECT_EQ(m[2].colour[0][2], 61);
    EXPECT_EQ(m[1].flags, 0x2014u);
    EXPECT_STREQ(TC_GetTextureName(1), "ship");
    EXPECT_EQ(TC_GetTextureFlags(1), 0x2014u);
    EXPECT_EQ(TC_GetTextureFlags(2), 0x2000000u);
    EXPECT_STREQ(TC_GetTextureName(0), "");
    EXPECT_EQ(TC_GetTextureIdByName("hull"), 2u);

    // A definition that fails ends the reading; those before it stay. The log
    // names the file, the line and the field that could not be read.
    std::string text = Text("Materials");
    const std::string spoiled = text.substr(0, text.find("MMETL_R")) + "MMETL_R;BOGUS;";
    Spoil("Materials", spoiled);
    const size_t lineStart = spoiled.rfind('\n', spoiled.find("BOGUS")) + 1;
    const std::string line = std::to_string(std::count(spoiled.begin(), spoiled.begin() + lineStart, '\n') + 1);
    const std::string field =
        std::to_string(std::count(spoiled.begin() + lineStart, spoiled.begin() + spoiled.find("BOGUS"), ';') + 1);
    LogCapture log;
    EXPECT_EQ(B3DB_LoadMaterials(), 0);
    EXPECT_TRUE(log.Contains("Error loading definition for material number 2\ntypes\\Materials.txt (" +
                             std::filesystem::current_path().string() + "/types/Materials.txt), line " + line +
                             ", field " + field + " \"BOGUS\", where the file ends\n"))
        << log.Text();
    EXPECT_EQ(g_TCTextureInfo[1].flags, 0x2014u);
    EXPECT_EQ(g_TCTextureInfo[2].textureNumber, 0);

    Types("[Materials]\n");
    ASSERT_EQ(B3DB_LoadMaterials(), 1);
    EXPECT_EQ(g_TCTextureInfo, nullptr);
    EXPECT_EQ(g_TCTextureInfoCount, 0);
}

TEST_F(SceneDummies, DumpOfUsedBodiesRunsTheFlushFirst) {
    ASSERT_EQ(B3D_GetBodyID("v\\dyn"), 20000);
    // Counts left from before are counted afresh.
    g_B3DState->bodyIds.slots[5].useCount = 9;
    // Body 3 twice (a top instance in a scene and a child in no scene), 10500
    // once, the dynamic body four times in one tree.
    Scene3D* scene = B3D_SceneAlloc();
    ASSERT_NE(scene, nullptr);
    auto make = [](int32_t body) {
        Inst3D* i = B3D_AllocInst();
        i->bodyId = body;
        return i;
    };
    Inst3D* top = make(3);
    B3D_ListRemove(B3D_Node(top));
    B3D_ListAppend(&scene->insts, B3D_Node(top));
    top->scene = scene;
    Inst3D* root = make(20000);
    for (int32_t body : {3, 20000, 10500, 20000, 20000}) {
        Inst3D* child = make(body);
        B3D_ListRemove(B3D_Node(child));
        B3D_ListAppend(&root->children, B3D_Node(child));
        child->parent = root;
    }
    LogCapture log;
    B3D_DumpUsedBodies();
    EXPECT_EQ(log.Text(), "B3D_MemoryFlush(): freed 0 of 0 bodies\n3 2\n10500 1\n20000 4\n");
}

}  // namespace
