#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/texcache.h"
#include "base/vrmfile.h"
#include "body_fixture.h"
#include "scene/bodies.h"
#include "scene/bodytext.h"
#include "scene/fxparams.h"
#include "scene/state.h"
#include "support/logcapture.h"
#include "tools/lib/packed_writer.h"

namespace {

const char* const kWords = "1;2;3;4;5;6;7;8;9;10;11;12;13;\n";
const std::string kMat1 = std::string("MATERIAL:\n0;3;") + kWords + "1;\n";
const std::string kTriangle = "POINTS:\n10;-40;20;\n0;0;0;\n0;0;20;\n-1;-1;-1;\nPARTS:\n0;0;1;2;-1;\n-99;\n-99;\n";

std::string Body(const std::string& head, const std::string& level = kTriangle) {
    return head + "BODIES:\n500;\n" + level + "-1;\n";
}

using BodyText = BodyTest;

TEST_F(BodyText, PointsAreNormalisedToTheLargestCoordinate) {
    WriteBody(12, Body(kMat1));
    system_->debugFlags |= 4;
    LogCapture log;
    Body3D* body = B3D_LoadBody2(nullptr, 12);
    ASSERT_NE(body, nullptr) << log.Text();
    EXPECT_TRUE(log.Contains("B3D_LoadBody2: Loaded body file v\\00012.bod (12)\n"));
    EXPECT_EQ(B3D_FindBody(12), body);
    ASSERT_EQ(body->levelCount, 1);
    const BodyLevel* level = body->levels[0];
    EXPECT_EQ(level->visDistance, 500);
    EXPECT_EQ(level->switchDistance, 10000);
    ASSERT_EQ(level->pointCount, 3);
    // (10, -40, 20) is (16384, -65536, 32768) in 16.16, kept as a quarter.
    EXPECT_EQ(level->points[0].x, 16384 / 4);
    EXPECT_EQ(level->points[0].y, -65536 / 4);
    EXPECT_EQ(level->points[0].z, 32768 / 4);
    EXPECT_EQ(level->points[1].x, 0);
    EXPECT_EQ(level->points[1].y, 0);
    EXPECT_EQ(level->points[1].z, 0);
    ASSERT_EQ(level->partCount, 1);
    const BodyPart* part = level->parts[0];
    EXPECT_EQ(part->flags, BPART_LOADED | BPART_HAS_GROUPS);
    ASSERT_EQ(part->groupCount, 1);
    EXPECT_EQ(part->groups[0].material, 0);
    EXPECT_EQ(part->groups[0].triCount, 1);
    EXPECT_EQ(level->extent[1], 65536);
}

TEST_F(BodyText, LevelAtTheOriginGivesNull) {
    WriteBody(13, Body(kMat1, "POINTS:\n0;0;0;\n0;0;0;\n-1;-1;-1;\nPARTS:\n-99;\n"));
    LogCapture log;
    EXPECT_EQ(B3D_LoadBody2(nullptr, 13), nullptr);
    EXPECT_TRUE(
        log.Contains("B3D_LoadBody2: Error loading body file v\\00013.bod - maxdistx = maxdisty = maxdistz = "
                     "0 in body 0\n"));
    EXPECT_EQ(B3D_FindBody(13), nullptr);
    EXPECT_EQ(B3D_LoadBody2(nullptr, 14), nullptr);  // no file
}

TEST_F(BodyText, NameAndSoundSections) {
    WriteBody(15, Body("NAME:\nfrigate;\nSOUND:\n1;0x20;3;4;1.5;2.5;-1.0;5;6;7;8;\n" + kMat1));
    Body3D* body = B3D_LoadBody2(nullptr, 15);
    ASSERT_NE(body, nullptr);
    EXPECT_STREQ(body->name, "frigate");
    EXPECT_EQ(body->soundValue, 1);
    EXPECT_EQ(body->soundFlags, 0x20u);
    EXPECT_EQ(body->soundInts[0], 3);
    EXPECT_EQ(body->soundInts[1], 4);
    EXPECT_EQ(body->soundFixed[0], 0x18000);
    EXPECT_EQ(body->soundFixed[1], 0x28000);
    EXPECT_EQ(body->soundFixed[2], -0x10000);
    EXPECT_EQ(body->soundShorts[0], 5);
    EXPECT_EQ(body->soundShorts[1], 6);
    EXPECT_EQ(body->soundInts2[0], 7);
    EXPECT_EQ(body->soundInts2[1], 8);
}

TEST_F(BodyText, MaterialVersionsReadTheirFields) {
    struct Case {
        int version;
        std::string text;
    };
    const std::string tail3 = "1;0;31;4;32;5;33;";
    const Case cases[] = {
        {1, std::string("MATERIAL:\n5;3;") + kWords + "1;\n"},
        {2, std::string("MATERIAL2:\n5;3;") + kWords + "1;\n"},
        {3, std::string("MATERIAL3:\n5;3;") + kWords + "1;" + tail3 + "\n"},
        {5, std::string("MATERIAL5:\n5;3;") + kWords + "1;" + tail3 + "6;34;\n"},
        {6, std::string("MATERIAL6:\n5;0x40;hull;") + kWords + "1;1;0;31;dirt;32;glow;33;NULL;34;spec;35;-4;36;\n"},
    };
    int id = 20;
    for (const Case& c : cases) {
        WriteBody(id, Body(c.text));
        Body3D* body = B3D_LoadBody2(nullptr, id);
        ASSERT_NE(body, nullptr) << "version " << c.version;
        ASSERT_EQ(body->materialCount, 1);
        const BodyMaterial& m = body->materials[0];
        EXPECT_EQ(m.id, 5);
        EXPECT_EQ(m.colour[0], 1);
        EXPECT_EQ(m.colour[8], 9);
        EXPECT_EQ(m.words[0], 10);
        EXPECT_EQ(m.words[1], 11);
        EXPECT_EQ(m.words2[0], 12);
        EXPECT_EQ(m.words2[1], 13);
        EXPECT_NE(m.flags & BMAT_FLAG_02, 0u);
        EXPECT_EQ(body->flags & BODY_MATERIAL6, c.version == 6 ? BODY_MATERIAL6 : 0);
        if (c.version < 6) {
            EXPECT_EQ(m.baseTexture, 3);
        }
        if (c.version >= 3) {
            EXPECT_NE(m.flags & BMAT_FLAG_10, 0u);
            EXPECT_EQ(m.flags & BMAT_FLAG_08, 0u);
            EXPECT_EQ(m.value1, 31);
            EXPECT_EQ(m.value2, 32);
            EXPECT_EQ(m.value3, 33);
        }
        if (c.version == 3 || c.version == 5) {
            EXPECT_EQ(m.texture2, 4);
            EXPECT_EQ(m.texture3, 5);
        }
        if (c.version == 5) {
            EXPECT_EQ(m.texture4, 6);
            EXPECT_EQ(m.value4, 34);
        }
        if (c.version == 6) {
            EXPECT_EQ(m.flags, 0x40u | BMAT_FLAG_02 | BMAT_FLAG_10 | BMAT_TEXTURES56);
            EXPECT_STREQ(TC_GetTextureName(m.baseTexture), "hull");
            EXPECT_STREQ(TC_GetTextureName(m.texture2), "dirt");
            EXPECT_STREQ(TC_GetTextureName(m.texture3), "glow");
            EXPECT_EQ(m.texture4, 0);
            EXPECT_STREQ(TC_GetTextureName(m.texture5), "spec");
            EXPECT_EQ(m.texture6, -4);
            EXPECT_EQ(m.value6, 36);
            EXPECT_EQ(m.derivedIndex, 0xFFFF);
        }
        ++id;
    }
}

TEST_F(BodyText, OlderMaterialsTakeTheFlagsOfTheirDefinition) {
    TC_TextureInfo defs[4] = {};
    defs[3].flags = 0x1004;
    TC_TextureInfo* saved = g_TCTextureInfo;
    const uint16_t savedCount = g_TCTextureInfoCount;
    g_TCTextureInfo = defs;
    g_TCTextureInfoCount = 4;
    // Material 3 is defined, material 9 is not.
    WriteBody(29, Body(kMat1 + std::string("MATERIAL:\n1;9;") + kWords + "0;\n"));
    Body3D* body = B3D_LoadBody2(nullptr, 29);
    g_TCTextureInfo = saved;
    g_TCTextureInfoCount = savedCount;
    ASSERT_NE(body, nullptr);
    EXPECT_EQ(body->materials[0].flags, 0x1004u | BMAT_FLAG_02);
    EXPECT_EQ(body->materials[1].flags, 0u);
}

TEST_F(BodyText, EffectMaterialReadsItsParameterBlock) {
    WriteBody(30, Body("MATERIAL6:\n9;0x2000000;3;water.FX;3;\nTexAnimDuration;SPTYPE_FLOAT;2.5;\n"
                       "t_DiffuseTexture;SPTYPE_STRING;waves;\nt_BumpTexture;SPTYPE_LONG;7;\n"));
    Body3D* body = B3D_LoadBody2(nullptr, 30);
    ASSERT_NE(body, nullptr);
    const BodyMaterial& m = body->materials[0];
    ASSERT_NE(m.effect, nullptr);
    EXPECT_STREQ(m.effect->effectName, "water");
    ASSERT_EQ(m.effect->count, 3);
    EXPECT_EQ(m.effect->params[1].textureSlot, 1u);
    EXPECT_EQ(m.effect->params[1].type, 0);
    EXPECT_STREQ(TC_GetTextureName(m.effect->params[1].value.i[0]), "waves");
    EXPECT_EQ(m.flags, BMAT_EFFECT | BMAT_TEXANIM | BMAT_BUMP);
    EXPECT_EQ(m.duration, 2500);
    EXPECT_EQ(body->flags, BODY_MATERIAL6 | BODY_BUMP_EFFECT);
}

TEST_F(BodyText, BonesAndAtMostTenWeightPairs) {
    std::string eleven;
    for (int i = 0; i < 11; ++i) eleven += "1;0." + std::to_string(i) + ";";
    WriteBody(
        31,
        Body(kMat1, "BONES:\n2;hip;knee;\nPOINTS:\n10;0;0;\n0;10;0;\n0;0;10;\n-1;-1;-1;\nWEIGHTS:\n0;0.5;1;0.5;-1;\n" +
                        eleven + "-1;\n-1;\nPARTS:\n0;0;1;2;-1;\n-99;\n-99;\n"));
    Body3D* body = B3D_LoadBody2(nullptr, 31);
    ASSERT_NE(body, nullptr);
    const BodyLevel* level = body->levels[0];
    ASSERT_EQ(level->boneCount, 2);
    EXPECT_STREQ(level->boneNames[1], "knee");
    ASSERT_EQ(level->maxWeights, 10);
    EXPECT_EQ(level->weightCounts[0], 2);
    EXPECT_EQ(level->weightCounts[1], 10);
    EXPECT_EQ(level->weightCounts[2], 0);
    EXPECT_EQ(level->weights[1].bone, 1);
    EXPECT_EQ(level->weights[1].weight, 0x8000);
    EXPECT_EQ(level->weights[10 + 9].weight, 58982);  // 0.9: the eleventh pair is dropped
    int32_t count = 0;
    EXPECT_EQ(B3D_BodyGetBones(body, &count), level->boneNames);
    EXPECT_EQ(count, 2);
}

TEST_F(BodyText, PolygonWordCarriesTriangleWordAndSmoothingGroup) {
    // Flags 0x10 word, 0x08 texture pairs, 0x80 second pairs: -(0x98 | 1).
    const std::string uv = "0;0;1.0;0;0;1.0;";
    const std::string parts = "PARTS:\n0;0;1;2;-153;0x00020007;" + uv + uv + "\n0;0;2;3;-153;0x00020007;" + uv + uv +
                              "\n0;0;1;3;-17;0x00000009;\n-99;\n-99;\n";
    WriteBody(32, Body(kMat1, "POINTS:\n0;0;0;\n10;0;0;\n10;10;0;\n0;10;0;\n-1;-1;-1;\n" + parts));
    Body3D* body = B3D_LoadBody2(nullptr, 32);
    ASSERT_NE(body, nullptr);
    const BodyLevel* level = body->levels[0];
    // The two smoothed triangles share corners 0 and 2 where their texture
    // pairs agree (corner 0 of both); the flat one shares nothing.
    const BodyGroup& g = level->parts[0]->groups[0];
    ASSERT_EQ(g.triCount, 3);
    EXPECT_EQ(g.tris[0].word, 7);
    EXPECT_EQ(g.tris[2].word, 9);
    EXPECT_EQ(g.tris[0].v[0], g.tris[1].v[0]);
    EXPECT_EQ(level->pointCount, 8);
    EXPECT_NE(level->flags & BLEVEL_UV2, 0u);
    EXPECT_EQ(level->points[g.tris[0].v[1]].u, 65536);
    EXPECT_EQ(level->uv2[2 * g.tris[0].v[2] + 1], 65536);
}

TEST_F(BodyText, LaterLevelsGiveSwitchDistancesAndMinusOneEndsTheList) {
    const std::string text = kMat1 + "BODIES:\n500;\n" + kTriangle + "2000;\n" + kTriangle + "-1;\nMORE";
    Body3D* body = nullptr;
    {
        VRMFile r{};
        Qel_ReaderInit(&r, text.c_str(), 0);
        body = B3D_LoadBody2(&r, 40);
        ASSERT_NE(body, nullptr);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.cursor)), "\nMORE");
    }
    EXPECT_STREQ(body->name, "embedded body");
    ASSERT_EQ(body->levelCount, 2);
    EXPECT_EQ(body->levels[1]->switchDistance, 2000);
    EXPECT_EQ(body->levels[1]->visDistance, 500);
}

TEST_F(BodyText, PackedFormIsTriedFirstWhenPackedFilesAreOn) {
    const std::string text = Body("NAME:\npacked;\n" + kMat1);
    folder_->WritePacked("v/00041.pbd", std::vector<uint8_t>(text.begin(), text.end()), 0x33);
    WriteBody(41, Body("NAME:\nplain;\n" + kMat1));
    system_->startFlags |= 0x20;
    system_->debugFlags |= 4;
    LogCapture log;
    Body3D* body = B3D_LoadBody2(nullptr, 41);
    ASSERT_NE(body, nullptr);
    EXPECT_STREQ(body->name, "packed");
    EXPECT_TRUE(log.Contains("B3D_LoadBody2: Loaded packed body file v\\00041.pbd (41)\n"));
}

struct FatalCase {
    const char* what;
    std::string text;
    const char* message;
};

std::string Polys(int count, const std::string& poly) {
    std::string s;
    s.reserve(size_t(count) * poly.size());
    for (int i = 0; i < count; ++i) s += poly;
    return s;
}

std::vector<FatalCase> FatalCases() {
    const std::string pts = "POINTS:\n10;0;0;\n0;10;0;\n0;0;10;\n-1;-1;-1;\n";
    std::string hundred;
    for (int i = 0; i < 100; ++i) hundred += kMat1;
    // Parts of one polygon without corners: counted as parts, but with no
    // triangles they need no triangle work arrays.
    std::string parts201;
    for (int i = 0; i < 201; ++i) parts201 += "0;-1;-99;\n";
    return {
        {"FiveCorners", Body(kMat1, pts + "PARTS:\n0;0;1;2;0;1;-1;\n-99;\n-99;\n"),
         "too many vertices 5 per poly in body 0, part 0, poly 0\n"},
        {"WrongMaterial", Body(kMat1, pts + "PARTS:\n0;0;1;2;-1;\n3;0;1;2;-1;\n-99;\n-99;\n"),
         "wrong material number 3 in body 0, part 0, poly 1\n"},
        {"VertexOutsideThePoints", Body(kMat1, pts + "PARTS:\n0;0;1;9;-1;\n-99;\n-99;\n"),
         "error in body 0, part 0, poly 0, vertex 2\n"},
        {"WeightOfAMissingBone",
         Body(kMat1, "BONES:\n1;hip;\n" + pts + "WEIGHTS:\n1;1.0;-1;\n-1;\n-1;\nPARTS:\n-99;\n"),
         "invalid Weights data\n"},
        {"NoPoints", Body(kMat1, "PARTS:\n-99;\n"), "invalid Points data\n"},
        {"HundredthMaterial", Body(hundred), "invalid Material1 data\n"},
        {"PartTwoHundredAndOne", Body(kMat1, pts + "PARTS:\n" + parts201 + "-99;\n"), "too many parts 201 in body 0\n"},
        {"Polygon200001", Body(kMat1, pts + "PARTS:\n" + Polys(200001, "0;0;1;2;-1;\n") + "-99;\n-99;\n"),
         "too many polys 200001 in body 0, part 0\n"},
        {"QuadsPastTheTriangleArray",
         Body(kMat1, "POINTS:\n10;0;0;\n0;10;0;\n0;0;10;\n5;5;5;\n-1;-1;-1;\nPARTS:\n" +
                         Polys(100001, "0;0;1;2;3;-1;\n") + "-99;\n-99;\n"),
         "too many polys 100001 in body 0, part 0\n"},
    };
}

TEST_F(BodyText, FormatErrorsEndTheProgram) {
    int id = 50;
    for (const FatalCase& c : FatalCases()) {
        WriteBody(id, c.text);
        char file[32];
        snprintf(file, sizeof file, "v\\\\%05d.bod", id);
        const std::string pattern = std::string("B3D_LoadBody2: Error loading body file ") + file + " - " + c.message;
        std::string escaped;
        for (char ch : pattern) {
            if (strchr("()[]{}.*+?^$|\\", ch) && ch != '\\') escaped += '\\';
            escaped += ch;
        }
        EXPECT_EXIT(B3D_LoadBody2(nullptr, id), testing::ExitedWithCode(1), escaped) << c.what;
        ++id;
    }
}

// A body file that exists but cannot be read says where the reading stopped:
// the file with its disk path, the line and the field.
TEST_F(BodyText, AFormatErrorSaysWhereInTheFile) {
    WriteBody(90, Body(kMat1, "PARTS:\n-99;\n"));
    EXPECT_EXIT(B3D_LoadBody2(nullptr, 90), testing::ExitedWithCode(1),
                "invalid Points data\nv\\\\00090\\.bod \\(/.*/v/00090\\.bod\\), line [0-9]+, field [0-9]+ \"");
}

}  // namespace
