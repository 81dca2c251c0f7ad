#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/texcache.h"
#include "scene/bodybin.h"
#include "scene/bodytext.h"
#include "scene/scene_fixture.h"
#include "support/gamefolder.h"
#include "tools/lib/bodyconv.h"
#include "tools/lib/cutconv.h"

namespace {

std::string Tool() {
    const char* bin = getenv("TREVAN_BINARY_DIR");
    return std::string(bin ? bin : ".") + "/tools/bodyconv/bodyconv";
}

int RunTool(const std::string& args, std::string* out = nullptr) {
    FILE* p = popen((Tool() + " " + args + " 2>&1").c_str(), "r");
    if (!p) return -1;
    std::string text;
    char buf[4096];
    while (size_t n = fread(buf, 1, sizeof buf, p)) text.append(buf, n);
    if (out) *out = text;
    const int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

const char* const kCube =
    "name cube\nmtl skin\ntex hull\n"
    "v -1 -1 -1\nv 1 -1 -1\nv 1 1 -1\nv -1 1 -1\nv -1 -1 1\nv 1 -1 1\nv 1 1 1\nv -1 1 1\n"
    "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nusemtl skin\ns 1\n"
    "f 1/1 2/2 3/3 4/4\nf 8/1 7/2 6/3 5/4\nf 1/1 5/2 6/3 2/4\nf 2/1 6/2 7/3 3/4\nf 3/1 7/2 8/3 4/4\nf 4/1 8/2 5/3 "
    "1/4\n";

// Two levels, bones with weights, a six-cornered face split into quads.
const char* const kArm =
    "name arm\nmtl bone\nbone shoulder\nbone elbow\n"
    "v 0 0 0\nvw 0 1\nv 1 0 0\nvw 0 0.5 1 0.5\nv 2 0 0\nvw 1 1\nv 2 1 0\nvw 1 1\nv 1 1 0\nvw 0 1\nv 0 1 0\nvw 0 1\n"
    "f 1 2 3 4 5 6\n"
    "lod 5000\nv 0 0 0\nv 2 0 0\nv 1 1 0\nf 1 2 3\n";

class BodyConverter : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        g_TCNumberedCount = 1;
        ASSERT_FALSE(TC_AllocTextureTable());  // true on failure
    }
    void TearDown() override {
        while (B3DListNode* n = B3D_ListFirst(&g_B3DState->bodies)) B3D_FreeBody(reinterpret_cast<Body3D*>(n));
        TC_FreeTextureTables();
        g_TCNumberedCount = 0;
        g_TCNamedCount = 0;
        SceneTest::TearDown();
    }
};

TEST_F(BodyConverter, ModelSourcesBecomeBodiesThatLoadBothWays) {
    TempGameFolder game;
    game.Write("cube.src", kCube);
    game.Write("arm.src", kArm);
    game.Write("v/.keep", "");
    struct Case {
        const char* source;
        int id;
        int levels;
        int triangles;  // of the first level
    };
    for (const Case c : {Case{"cube.src", 7, 1, 12}, Case{"arm.src", 8, 2, 4}}) {
        char bod[32], bob[32];
        snprintf(bod, sizeof bod, "v/%05d.bod", c.id);
        snprintf(bob, sizeof bob, "v/%05d.bob", c.id);
        std::string out;
        ASSERT_EQ(RunTool(std::string("text ") + c.source + " " + bod, &out), 0) << out;
        ASSERT_EQ(RunTool("bin " + std::to_string(c.id), &out), 0) << out;
        ASSERT_EQ(RunTool(std::string("pack ") + bob + " " + std::string(bob).replace(8, 3, "pbb"), &out), 0) << out;
        ASSERT_EQ(RunTool(std::string("pack ") + bod + " " + std::string(bod).replace(8, 3, "pbd"), &out), 0) << out;
        ASSERT_EQ(RunTool("dump " + std::to_string(c.id), &out), 0) << out;
        EXPECT_NE(out.find("triangles " + std::to_string(c.triangles)), std::string::npos) << out;

        for (int packed : {0, 1}) {
            system_->startFlags = packed ? 0x20 : 0;
            Body3D* text = B3D_LoadBody2(nullptr, c.id);
            ASSERT_NE(text, nullptr) << c.source;
            Body3D* bin = B3D_LoadBodyBin(nullptr, c.id);
            ASSERT_NE(bin, nullptr) << c.source;
            for (const Body3D* b : {text, bin}) {
                ASSERT_EQ(b->levelCount, c.levels);
                int tris = 0;
                const BodyLevel* l = b->levels[0];
                for (int p = 0; p < l->partCount; ++p)
                    for (int g = 0; g < l->parts[p]->groupCount; ++g) tris += l->parts[p]->groups[g].triCount;
                EXPECT_EQ(tris, c.triangles) << c.source;
            }
            EXPECT_EQ(text->levels[0]->pointCount, bin->levels[0]->pointCount);
            EXPECT_EQ(text->levels[0]->maxWeights, bin->levels[0]->maxWeights);
            B3D_FreeBody(text);
            B3D_FreeBody(bin);
        }
    }
}

TEST(BodyConverterSource, BadSourcesAreRefusedWithTheirLine) {
    struct Case {
        const char* source;
        const char* message;
    };
    const Case cases[] = {
        {"v 0 0 0\nf 1 2 3\n", "line 2: face corner 2 out of range"},
        {"v 0 0 0\nv 1 0 0\nf 1 2\n", "line 3: a face needs three corners"},
        {"tex hull\n", "line 1: tex before any mtl"},
        {"mtl a\nparam x matrix 1\n", "line 2: unknown parameter type matrix"},
        {"cube\n", "line 1: unknown statement cube"},
        {"mtl a\ncolour 1 2 3\n", "line 2: colour takes 13 words"},
    };
    for (const Case& c : cases) {
        std::string text, error;
        EXPECT_FALSE(Tool_ModelToTextBody(c.source, &text, &error)) << c.source;
        EXPECT_EQ(error, c.message);
    }
}

TEST(BodyConverterSource, PolygonWordHoldsTheSmoothingGroup) {
    std::string text, error;
    ASSERT_TRUE(Tool_ModelToTextBody("v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0 2 0\ns 3\nf 1 2 3 4 5\n", &text, &error));
    // Five corners make a quad and a triangle of the fan, each with word 3 << 16.
    EXPECT_NE(text.find("0;0;1;2;3;-17;196608;\n0;0;3;4;-17;196608;\n"), std::string::npos) << text;
    EXPECT_NE(text.find("-99;\n-99;\n-1;\n"), std::string::npos);
}

// A lit material's colour words are written as given, in the reader's order.
TEST(BodyConverterSource, ColourSetsTheMaterialsLightingWords) {
    std::string text, error;
    ASSERT_TRUE(
        Tool_ModelToTextBody("mtl lit\ntex hull\ncolour 0 0 0 128 128 128 0 100 25 20 0 0 0\nmtl glow\n"
                             "v 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl lit\nf 1 2 3\n",
                             &text, &error))
        << error;
    EXPECT_NE(text.find("0;0;hull;\n0;0;0;128;128;128;0;100;25;20;0;0;0;\n0;0;0;\n"), std::string::npos) << text;
    EXPECT_NE(text.find("1;0;NULL;\n255;255;255;128;128;128;64;64;64;0;0;0;0;\n"), std::string::npos) << text;
}

// A light map is the material's third texture; the others stay empty.
TEST(BodyConverterSource, LightmapIsTheThirdTexture) {
    std::string text, error;
    ASSERT_TRUE(Tool_ModelToTextBody(
        "mtl sun\ntex sun\nlightmap sunglow\nv 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl sun\nf 1 2 3\n", &text, &error))
        << error;
    EXPECT_NE(text.find("0;NULL;0;sunglow;0;NULL;0;NULL;0;NULL;0;\n"), std::string::npos) << text;
}

const char* const kCut =
    "version 6\npath 0 -1\n  name camera\n  key 0x800 1000 0 0 0 0.25 0 0 0.5\n"
    "path 1 ship\n  flags c s\n  note 10 event go\n  body 4\n    v 0 0 0\n    v 1 0 0\n    v 0 1 0\n"
    "    f 1 2 3\n  endbody\n  key 0x2 -1 1 2 3 0.25 0 1 0\n";

TEST(CutConverter, CutSourcesBecomeCutsTheToolLists) {
    TempGameFolder game;
    game.Write("take.cut", kCut);
    game.Write("cut/.keep", "");
    std::string out;
    ASSERT_EQ(RunTool("cuttext take.cut cut/00002.bod", &out), 0) << out;
    ASSERT_EQ(RunTool("cutdump 2", &out), 0) << out;
    EXPECT_NE(out.find("path 1: number 1 reference 100004 values 0 -1 flags 0x241 name \"\""), std::string::npos)
        << out;
    const std::string fromText = out;
    ASSERT_EQ(RunTool("cutbin take.cut 2", &out), 0) << out;
    ASSERT_TRUE(game.Exists("cut/00002.bob"));
    ASSERT_EQ(RunTool("cutdump 2", &out), 0) << out;
    EXPECT_NE(out.find("  note 10 \"event go\""), std::string::npos) << out;
    // The binary reader marks its keys 0x80; the rest reads alike.
    EXPECT_NE(out.find("flags 0x880"), std::string::npos) << out;
    // A path with a body refers to it by number; other names are no numbers.
    ASSERT_EQ(RunTool("cutbin take.cut 2 5", &out), 0) << out;
    game.Write("named.cut", "path 0 -1\npath 1 ship\n");
    EXPECT_NE(RunTool("cutbin named.cut 2 5", &out), 0);
    EXPECT_NE(out.find("version 5 needs numbers as references (path 1)"), std::string::npos) << out;
    EXPECT_NE(RunTool("cutdump 3", &out), 0);
}

TEST(CutConverter, BadSourcesAreRefusedWithTheirLine) {
    struct Case {
        const char* source;
        const char* message;
    };
    const Case cases[] = {
        {"name x\n", "line 1: name before any path"},
        {"path 1\n", "line 1: path needs a number and a reference"},
        {"path 1 a\nkey 0x0 100 1 2 3\n", "line 2: key 0x0 takes 6 values"},
        {"path 1 a\nkey 0x20 100 1 x 3\n", "line 2: key value x is no integer"},
        {"path 1 a\nflags q\n", "line 2: unknown path flag q"},
        {"path 1 a\nbody 3\nv 0 0 0\n", "line 3: body of line 2 has no endbody"},
        {"path 1 a\nbody 3\nv 0 0\nendbody\n", "line 4: body: line 1: v needs three numbers"},
        {"path 1 a\ncamera\n", "line 2: unknown statement camera"},
    };
    for (const Case& c : cases) {
        std::string text, error;
        EXPECT_FALSE(Tool_CutSourceToText(c.source, &text, &error)) << c.source;
        EXPECT_EQ(error, c.message);
    }
}

}  // namespace
