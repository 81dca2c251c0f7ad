#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/texcache.h"
#include "base/vrmfile.h"
#include "body_fixture.h"
#include "scene/bodybin.h"
#include "scene/bodytext.h"
#include "scene/fxparams.h"
#include "scene/state.h"
#include "support/logcapture.h"
#include "tools/lib/bodyconv.h"

namespace {

constexpr int32_t ONE = 65536;

BodyBytes Chunk(const char* start, const char* end, const BodyBytes& content) {
    BodyBytes b;
    b.Tag(start).Add(content).Tag(end);
    return b;
}

// A version-3 material: id, base material, fourteen words, flags, textures 2-4.
BodyBytes Mat3(int32_t id) {
    BodyBytes b;
    b.S16(id).S16(2);
    for (int i = 1; i <= 14; ++i) b.S16(i);
    b.S16(0x10).S16(21).S16(3).S16(22).S16(4).S16(23).S16(-5).S16(24);
    return b;
}

// Points with mask 0x1B: position, texture pair, normal, word.
BodyBytes Points(const std::vector<std::vector<int32_t>>& pts, bool normals = true) {
    BodyBytes b;
    b.S32(int64_t(pts.size()));
    for (const auto& p : pts) {
        b.S16(normals ? 0x1B : 0x13).S32(p[0]).S32(p[1]).S32(p[2]).S32(p[0] / 2).S32(p[1] / 2);
        if (normals) b.S32(0).S32(0).S32(ONE);
        b.S32(p.size() > 3 ? p[3] : 0);
    }
    return Chunk("POIN", "/POI", b);
}

// One part of one group (word 0) of the given triangles.
BodyBytes Parts(const std::vector<std::vector<int32_t>>& tris, uint32_t flags = 0) {
    BodyBytes b;
    b.S32(1).S32(flags).S16(1).S32(0).S32(int64_t(tris.size()));
    for (const auto& t : tris) b.S32(t[0]).S32(t[1]).S32(t[2]).S32(t.size() > 3 ? t[3] : 0);
    return Chunk("PART", "/PAR", b);
}

const std::vector<std::vector<int32_t>> kTriangle = {{0, 0, 0}, {ONE, 0, 0}, {0, ONE, 0}};

BodyBytes Level(const BodyBytes& chunks, int32_t distance = 700) {
    BodyBytes b;
    b.S32(distance).S32(0).Add(chunks);
    return b;
}

BodyBytes Bodies(const std::vector<BodyBytes>& levels) {
    BodyBytes b;
    b.S16(int32_t(levels.size()));
    for (const BodyBytes& l : levels) b.Add(l);
    return Chunk("BODY", "/BOD", b);
}

BodyBytes File(const BodyBytes& chunks) { return Chunk("BOB1", "/BOB", chunks); }

BodyBytes Simple() {
    BodyBytes mats;
    mats.S32(1).Add(Mat3(7));
    BodyBytes top;
    top.Add(Chunk("MAT3", "/MAT", mats));
    top.Add(Bodies({Level(BodyBytes().Add(Points(kTriangle)).Add(Parts({{0, 1, 2, 0x1234}})))}));
    return File(top);
}

using BodyBin = BodyTest;

TEST_F(BodyBin, ReadsEveryChunk) {
    BodyBytes top;
    top.Add(Chunk("INFO", "/INF", BodyBytes().Str("made by hand")));
    top.Add(Chunk("NAME", "/NAM", BodyBytes().Str("first")));
    top.Add(Chunk("VERS", "/VER", BodyBytes().S32(0x7FFFFFFF)));
    top.Add(Chunk("SND1", "/SND", BodyBytes().S32(-3)));
    top.Add(Chunk("MAT3", "/MAT", BodyBytes().S32(1).Add(Mat3(7))));
    top.Add(Chunk("NAME", "/NAM", BodyBytes().Str("second")));
    top.Add(Bodies({Level(BodyBytes().Add(Points(kTriangle)).Add(Parts({{0, 1, 2, 0x51234}}))),
                    Level(BodyBytes().Add(Points(kTriangle)).Add(Parts({{2, 1, 0}})), 3000)}));
    WriteBodyBytes(60, File(top).Bytes());
    system_->debugFlags |= 4;
    LogCapture log;
    Body3D* body = B3D_LoadBodyBin(nullptr, 60);
    ASSERT_NE(body, nullptr) << log.Text();
    EXPECT_TRUE(log.Contains("B3D_LoadBodyBin: Loaded binary body file v\\00060.bob (60)\n"));
    EXPECT_TRUE(log.Contains("B3D_LoadBodyBin: Found info \"made by hand\" in file v\\00060.bob\n"));
    EXPECT_TRUE(log.Contains("B3D_LoadBodyBin(60) Found name \"second\" in file v\\00060.bob\n"));
    EXPECT_STREQ(body->name, "second");
    EXPECT_EQ(B3D_FindBody(60), body);
    ASSERT_EQ(body->materialCount, 1);
    const BodyMaterial& m = body->materials[0];
    EXPECT_EQ(m.id, 7);
    EXPECT_EQ(m.baseTexture, 2);
    EXPECT_EQ(m.colour[0], 1);
    EXPECT_EQ(m.derivedIndex, 10);
    EXPECT_EQ(m.words2[1], 14);
    EXPECT_EQ(m.flags, 0x10u);
    EXPECT_EQ(m.texture4, -5);
    EXPECT_EQ(m.value4, 24);
    EXPECT_EQ(m.texture5, 0);
    ASSERT_EQ(body->levelCount, 2);
    const BodyLevel* l0 = body->levels[0];
    EXPECT_EQ(l0->visDistance, 700);
    EXPECT_EQ(l0->switchDistance, 100000);
    EXPECT_EQ(body->levels[1]->switchDistance, 3000);
    EXPECT_EQ(body->levels[1]->visDistance, 700);
    ASSERT_EQ(l0->pointCount, 3);
    EXPECT_EQ(l0->points[1].x, ONE / 4);
    EXPECT_EQ(l0->points[1].u, ONE / 2);
    EXPECT_EQ(l0->points[1].nz, ONE / 4);
    const BodyPart* part = l0->parts[0];
    EXPECT_EQ(part->flags, BPART_LOADED | BPART_HAS_GROUPS);
    EXPECT_EQ(part->groups[0].tris[0].word, 0x1234);
    EXPECT_EQ(part->boxCentre[0], ONE / 2);
    EXPECT_EQ(part->boxSize[1], ONE / 2);
    EXPECT_EQ(part->centre[0], ONE / 3);
    EXPECT_EQ(l0->extent[0], ONE);
}

TEST_F(BodyBin, PointMasksSelectTheirFields) {
    struct Case {
        uint16_t mask;
        int fields;  // 16.16 values that follow the mask
        bool uv, uv2, normal, word;
    };
    const Case cases[] = {
        {0x01, 3, false, false, false, false}, {0x03, 5, true, false, false, false},
        {0x07, 7, true, true, false, false},   {0x05, 3, false, false, false, false},
        {0x09, 6, false, false, true, false},  {0x11, 4, false, false, false, true},
    };
    int id = 70;
    for (const Case& c : cases) {
        BodyBytes pts;
        pts.S32(2);
        for (int p = 0; p < 2; ++p) {
            pts.S16(c.mask);
            for (int f = 0; f < c.fields; ++f) pts.S32((f + 1) * 4 * (p + 1));
        }
        BodyBytes level;
        level.Add(Chunk("POIN", "/POI", pts)).Add(Chunk("PART", "/PAR", BodyBytes().S32(0)));
        WriteBodyBytes(id, File(Bodies({Level(level)})).Bytes());
        Body3D* body = B3D_LoadBodyBin(nullptr, id);
        ASSERT_NE(body, nullptr) << "mask " << c.mask;
        const BodyLevel* l = body->levels[0];
        const BodyPoint& p = l->points[1];
        EXPECT_EQ(p.x, 2) << c.mask;  // 8 / 4
        EXPECT_EQ(p.z, 6) << c.mask;
        EXPECT_EQ(p.u, c.uv ? 32 : 0) << c.mask;
        EXPECT_EQ(l->uv2 != nullptr, c.uv2) << c.mask;
        EXPECT_EQ((l->flags & BLEVEL_UV2) != 0, c.uv2) << c.mask;
        if (c.uv2) {
            EXPECT_EQ(l->uv2[2], 48);
        }
        EXPECT_EQ(p.nx, c.normal ? 8 : 0) << c.mask;
        EXPECT_EQ(p.word, c.word ? 32u : 0u) << c.mask;
        ++id;
    }
}

TEST_F(BodyBin, MissingNormalsComeFromTheFirstTriangle) {
    BodyBytes pts;
    pts.S32(4);
    // Point 0 has a normal in the file; point 1 a point word, so its corner
    // angle (a right angle) weighs the normal.
    pts.S16(0x09).S32(0).S32(0).S32(0).S32(ONE).S32(0).S32(0);
    pts.S16(0x11).S32(0).S32(0).S32(0).S32(5);
    pts.S16(0x01).S32(ONE).S32(0).S32(0);
    pts.S16(0x01).S32(0).S32(ONE).S32(0);
    BodyBytes level;
    level.Add(Chunk("POIN", "/POI", pts)).Add(Parts({{1, 2, 3}, {0, 3, 2}, {2, 0, 1}}));
    WriteBodyBytes(80, File(Bodies({Level(level)})).Bytes());
    Body3D* body = B3D_LoadBodyBin(nullptr, 80);
    ASSERT_NE(body, nullptr);
    const BodyPoint* p = body->levels[0]->points;
    EXPECT_EQ(std::vector<int32_t>({p[0].nx, p[0].ny, p[0].nz}), (std::vector<int32_t>{ONE / 4, 0, 0}));
    EXPECT_EQ(std::vector<int32_t>({p[1].nx, p[1].ny, p[1].nz}), (std::vector<int32_t>{0, 0, 4096}));
    EXPECT_EQ(std::vector<int32_t>({p[2].nx, p[2].ny, p[2].nz}), (std::vector<int32_t>{0, 0, ONE / 4}));
    EXPECT_EQ(std::vector<int32_t>({p[3].nx, p[3].ny, p[3].nz}), (std::vector<int32_t>{0, 0, ONE / 4}));
}

TEST_F(BodyBin, PrecalculatedVertexDataIsKeptAsRead) {
    BodyBytes part;
    part.S32(1).S32(BPART_PRECALC).S16(1).S32(0).S32(1).S32(0).S32(1).S32(2).S32(0);
    part.S32(1).S32(99).S32(4).S32(8).S32(12).S32(16).S32(20).S32(24);
    for (int v = 1; v <= 10; ++v) part.S32(v * 100);
    BodyBytes level;
    level.Add(Points(kTriangle)).Add(Chunk("PART", "/PAR", part));
    WriteBodyBytes(81, File(Bodies({Level(level)})).Bytes());
    Body3D* body = B3D_LoadBodyBin(nullptr, 81);
    ASSERT_NE(body, nullptr);
    const BodyPart* p = body->levels[0]->parts[0];
    ASSERT_EQ(p->groups[0].precalcCount, 1);
    EXPECT_EQ(p->groups[0].precalc[0].value, 99);
    EXPECT_EQ(p->groups[0].precalc[0].x, 1);
    EXPECT_EQ(p->groups[0].precalc[0].nz, 6);
    EXPECT_EQ(p->centre[0], 100);
    EXPECT_EQ(p->radius, 400);
    EXPECT_EQ(p->boxCentre[2], 700);
    EXPECT_EQ(p->boxSize[2], 1000);
}

TEST_F(BodyBin, FormatErrorsGiveNull) {
    struct Case {
        const char* what;
        BodyBytes bytes;
        const char* message;
    };
    const BodyBytes pts = Points(kTriangle);
    const BodyBytes tri = Parts({{0, 1, 2}});
    BodyBytes bones = Chunk("BONE", "/BON", BodyBytes().S32(1).Str("hip"));
    BodyBytes weights;
    weights.S32(3).S16(1).S16(0).S32(ONE).S16(0).S16(1).S16(5).S32(ONE);
    BodyBytes hugeTris;
    hugeTris.S32(1).S32(0).S16(1).S32(0).S32(0x7FFFFFFF);
    const Case cases[] = {
        {"NoMainChunk", BodyBytes().Tag("DATA"), "main body chunk not found\n"},
        {"Mat1NotDecoded", File(BodyBytes().Add(Chunk("MAT1", "/MAT", BodyBytes().S32(0)))), "unknown chunk"},
        {"Mat2NotDecoded", File(BodyBytes().Add(Chunk("MAT2", "/MAT", BodyBytes().S32(0)))), "unknown chunk"},
        {"PointsAtTopLevel", File(pts), "unknown chunk POIN found\n"},
        {"EndMismatch", File(BodyBytes().Tag("NAME").Str("x").Tag("/VER")), "chunk end mismatch in Name\n"},
        {"NoPoints", File(Bodies({Level(tri)})), "required points chunk not found in body 0\n"},
        {"NoParts", File(Bodies({Level(pts)})), "required parts chunk not found in body 0\n"},
        {"WeightCount",
         File(Bodies({Level(BodyBytes().Add(bones).Add(pts).Add(Chunk("WEIG", "/WEI", BodyBytes().S32(2))).Add(tri))})),
         "number of bone weights 2 does not match number of points 3 in body 0\n"},
        {"WeightBone",
         File(Bodies({Level(BodyBytes().Add(bones).Add(pts).Add(Chunk("WEIG", "/WEI", weights)).Add(tri))})),
         "invalid Weights data in body 0\n"},
        {"TriangleIndex", File(Bodies({Level(BodyBytes().Add(pts).Add(Parts({{0, 1, 3}})))})),
         "invalid Parts data in body 0\n"},
        {"NegativeIndex", File(Bodies({Level(BodyBytes().Add(pts).Add(Parts({{0, -1, 2}})))})),
         "invalid Parts data in body 0\n"},
        {"HugePointCount", File(Bodies({Level(Chunk("POIN", "/POI", BodyBytes().S32(0x7FFFFFFF)))})),
         "invalid Points data in body 0\n"},
        {"HugeTriangleCount", File(Bodies({Level(BodyBytes().Add(pts).Add(Chunk("PART", "/PAR", hugeTris)))})),
         "invalid Parts data in body 0\n"},
        {"HugeMaterialCount", File(Chunk("MAT6", "/MAT", BodyBytes().S32(0x40000000))), "invalid Material6 data"},
        {"HugeLevelCount", File(Chunk("BODY", "/BOD", BodyBytes().S16(0x7FFF))), "invalid Bodies data"},
    };
    int id = 90;
    for (const Case& c : cases) {
        WriteBodyBytes(id, c.bytes.Bytes());
        LogCapture log;
        EXPECT_EQ(B3D_LoadBodyBin(nullptr, id), nullptr) << c.what;
        EXPECT_TRUE(log.Contains(c.message)) << c.what << ": " << log.Text();
        EXPECT_EQ(B3D_FindBody(id), nullptr) << c.what;
        ++id;
    }
    EXPECT_EQ(B3D_ListFirst(&g_B3DState->bodies), nullptr);
}

TEST_F(BodyBin, EveryTruncationGivesNull) {
    BodyBytes bones = Chunk("BONE", "/BON", BodyBytes().S32(1).Str("hip"));
    BodyBytes weights;
    weights.S32(3).S16(1).S16(0).S32(ONE).S16(0).S16(1).S16(0).S32(ONE);
    BodyBytes top;
    top.Add(Chunk("NAME", "/NAM", BodyBytes().Str("whole")));
    top.Add(Chunk("MAT3", "/MAT", BodyBytes().S32(1).Add(Mat3(7))));
    top.Add(Bodies({Level(
        BodyBytes().Add(bones).Add(Points(kTriangle)).Add(Chunk("WEIG", "/WEI", weights)).Add(Parts({{0, 1, 2}})))}));
    const std::vector<uint8_t> whole = File(top).Bytes();
    WriteBodyBytes(100, whole);
    ASSERT_NE(B3D_LoadBodyBin(nullptr, 100), nullptr);
    for (size_t n = 0; n < whole.size(); ++n) {
        WriteBodyBytes(101, std::vector<uint8_t>(whole.begin(), whole.begin() + long(n)));
        LogCapture quiet;
        EXPECT_EQ(B3D_LoadBodyBin(nullptr, 101), nullptr) << n << " bytes";
    }
}

TEST_F(BodyBin, PackedFormIsTriedFirst) {
    folder_->WritePacked("v/00110.pbb", Simple().Bytes(), 0x21);
    system_->startFlags |= 0x20;
    system_->debugFlags |= 4;
    LogCapture log;
    ASSERT_NE(B3D_LoadBodyBin(nullptr, 110), nullptr);
    EXPECT_TRUE(log.Contains("B3D_LoadBodyBin: Loaded packed binary body file v\\00110.pbb (110)\n"));
}

TEST_F(BodyBin, EmbeddedBodyReadsFromTheStream) {
    std::vector<uint8_t> bytes = Simple().Bytes();
    bytes.insert(bytes.end(), {'N', 'E', 'X', 'T'});
    VRMFile r{};
    r.base = r.cursor = bytes.data();
    r.size = uint32_t(bytes.size());
    r.binary = 1;
    r.tags = g_VRMBodyTags;
    r.rowCount = 18;
    Body3D* body = B3D_LoadBodyBin(&r, 200001);
    ASSERT_NE(body, nullptr);
    EXPECT_STREQ(body->name, "embedded body");
    EXPECT_EQ(r.cursor, bytes.data() + bytes.size() - 4);
}

void ExpectSameBody(const Body3D* a, const Body3D* b) {
    ASSERT_EQ(a->materialCount, b->materialCount);
    for (int32_t m = 0; m < a->materialCount; ++m) {
        const BodyMaterial &x = a->materials[m], &y = b->materials[m];
        EXPECT_EQ(x.id, y.id);
        EXPECT_EQ(x.flags, y.flags);
        EXPECT_EQ(x.baseTexture, y.baseTexture);
        EXPECT_EQ(0, memcmp(x.colour, y.colour, sizeof x.colour));
        EXPECT_EQ(x.duration, y.duration);
        ASSERT_EQ(x.effect != nullptr, y.effect != nullptr);
        if (!x.effect) continue;
        EXPECT_STREQ(x.effect->effectName, y.effect->effectName);
        EXPECT_EQ(x.effect->effectWord, y.effect->effectWord);
        ASSERT_EQ(x.effect->count, y.effect->count);
        for (int16_t k = 0; k < x.effect->count; ++k) {
            const FXParameter &p = x.effect->params[k], &q = y.effect->params[k];
            EXPECT_STREQ(p.name, q.name);
            EXPECT_EQ(p.type, q.type);
            EXPECT_EQ(p.textureSlot, q.textureSlot);
            if (p.type == 8) {
                EXPECT_STREQ(p.value.text, q.value.text);
            } else {
                EXPECT_EQ(0, memcmp(p.value.i, q.value.i, sizeof p.value.i)) << p.name;
            }
        }
    }
    ASSERT_EQ(a->levelCount, b->levelCount);
    for (int32_t l = 0; l < a->levelCount; ++l) {
        const BodyLevel &x = *a->levels[l], &y = *b->levels[l];
        EXPECT_EQ(x.visDistance, y.visDistance);
        EXPECT_EQ(x.flags, y.flags);
        ASSERT_EQ(x.pointCount, y.pointCount);
        EXPECT_EQ(0, memcmp(x.points, y.points, sizeof(BodyPoint) * size_t(x.pointCount)));
        ASSERT_EQ(x.uv2 != nullptr, y.uv2 != nullptr);
        if (x.uv2) {
            EXPECT_EQ(0, memcmp(x.uv2, y.uv2, 8 * size_t(x.pointCount)));
        }
        ASSERT_EQ(x.boneCount, y.boneCount);
        for (int32_t k = 0; k < x.boneCount; ++k) EXPECT_STREQ(x.boneNames[k], y.boneNames[k]);
        ASSERT_EQ(x.maxWeights, y.maxWeights);
        if (x.weights) {
            EXPECT_EQ(0, memcmp(x.weightCounts, y.weightCounts, 2 * size_t(x.pointCount)));
            EXPECT_EQ(0, memcmp(x.weights, y.weights, sizeof(BodyWeight) * size_t(x.pointCount * x.maxWeights)));
        }
        EXPECT_EQ(0, memcmp(x.extent, y.extent, sizeof x.extent));
        ASSERT_EQ(x.partCount, y.partCount);
        for (int32_t p = 0; p < x.partCount; ++p) {
            const BodyPart &s = *x.parts[p], &t = *y.parts[p];
            EXPECT_EQ(s.flags, t.flags);
            EXPECT_EQ(0, memcmp(s.boxCentre, t.boxCentre, sizeof s.boxCentre));
            ASSERT_EQ(s.groupCount, t.groupCount);
            for (int32_t g = 0; g < s.groupCount; ++g) {
                EXPECT_EQ(s.groups[g].material, t.groups[g].material);
                ASSERT_EQ(s.groups[g].triCount, t.groups[g].triCount);
                for (int32_t i = 0; i < s.groups[g].triCount; ++i) {
                    EXPECT_EQ(0, memcmp(s.groups[g].tris[i].v, t.groups[g].tris[i].v, 12));
                    EXPECT_EQ(s.groups[g].tris[i].word, t.groups[g].tris[i].word);
                }
            }
        }
    }
}

TEST_F(BodyBin, TextBodyRoundTripsThroughTheBinaryForm) {
    const char* source =
        "name roundtrip\n"
        "mtl hull\n tex plates\n"
        "mtl water\n effect water.fx 3\n param TexAnimDuration float 2.5\n param t_DiffuseTexture string waves\n"
        " param g_AlphaBlendEnable long 1\n param t_BumpTexture long -4\n param g_Tint float3 0.5 0.25 1\n"
        " param g_Label string hello\n"
        "bone hip\nbone knee\n"
        "v 0 0 0\nvw 0 1\nv 2 0 0\nvw 0 0.5 1 0.5\nv 2 2 0\nvw 1 1\nv 0 2 1\nvw 1 1\n"
        "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nvt2 0.5 0.5\nvt2 0.25 0.75\n"
        "usemtl hull\ns 1\nf 1/1/1 2/2/2 3/3/1 4/4/2\n"
        "o second\nusemtl water\ns off\nf 1/1 3/3 4/4\n"
        "lod 4000\nv 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl hull\nf 1 2 3\n";
    std::string text, error;
    ASSERT_TRUE(Tool_ModelToTextBody(source, &text, &error)) << error;
    WriteBody(120, text);
    Body3D* fromText = B3D_LoadBody2(nullptr, 120);
    ASSERT_NE(fromText, nullptr) << text;
    ASSERT_EQ(B3D_SaveBodyBin(fromText), 1);
    EXPECT_FALSE(folder_->Exists("v/00120.bob.tmp"));
    Body3D* fromBin = B3D_LoadBodyBin(nullptr, 120);
    ASSERT_NE(fromBin, nullptr);
    EXPECT_STREQ(fromBin->name, "roundtrip");
    EXPECT_EQ(fromBin->flags, fromText->flags);
    EXPECT_NE(fromText->levels[0]->flags & BLEVEL_UV2, 0u);
    EXPECT_EQ(fromText->levels[0]->boneCount, 2);
    ASSERT_NE(fromText->materials[1].effect, nullptr);
    EXPECT_EQ(fromText->materials[1].effect->count, 6);
    ExpectSameBody(fromText, fromBin);
}

// A material may name a texture by number where the texture table has no
// entry for it (the HUD's render textures, a body converted without the
// material table): the binary form keeps the number, base and light map.
TEST_F(BodyBin, NumberedTexturesOutsideTheTableKeepTheirIds) {
    const char* source =
        "mtl screen\n tex 66\n lightmap 66\n"
        "mtl panel\n tex 15\n lightmap plates\n"
        "v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 0 1\n"
        "usemtl screen\nf 1/1 2/2 3/3\nusemtl panel\nf 1/1 3/3 2/2\n";
    std::string text, error;
    ASSERT_TRUE(Tool_ModelToTextBody(source, &text, &error)) << error;
    WriteBody(121, text);
    Body3D* fromText = B3D_LoadBody2(nullptr, 121);
    ASSERT_NE(fromText, nullptr) << text;
    ASSERT_EQ(fromText->materials[0].baseTexture, 66);
    ASSERT_EQ(B3D_SaveBodyBin(fromText), 1);
    Body3D* fromBin = B3D_LoadBodyBin(nullptr, 121);
    ASSERT_NE(fromBin, nullptr);
    ASSERT_EQ(fromBin->materialCount, 2);
    const int32_t plates = int32_t(TC_GetTextureIdByName("plates"));
    const struct { int32_t base, lightMap; } expected[2] = {{66, 66}, {15, plates}};
    for (int m = 0; m < 2; ++m) {
        SCOPED_TRACE(m);
        EXPECT_EQ(fromBin->materials[m].baseTexture, expected[m].base);
        EXPECT_EQ(fromBin->materials[m].texture3, expected[m].lightMap);
        EXPECT_EQ(fromBin->materials[m].texture2, 0);
    }
    ExpectSameBody(fromText, fromBin);
}

TEST_F(BodyBin, FailedSaveLeavesTheOldFile) {
    WriteBodyBytes(130, Simple().Bytes());
    Body3D* body = B3D_LoadBodyBin(nullptr, 130);
    ASSERT_NE(body, nullptr);
    body->id = 131;
    {
        // A folder in the way of the temporary file: the open fails.
        folder_->Write("v/00131.bob.tmp/x", "");
        LogCapture log;
        EXPECT_EQ(B3D_SaveBodyBin(body), 0);
        EXPECT_TRUE(log.Contains("B3D_SaveBodyBin: Unable to open file v\\00131.bob for writing\n"));
        EXPECT_FALSE(folder_->Exists("v/00131.bob"));
    }
    body->id = 132;
    {
        // Writes that fail when the data reaches the disk: the old file stays.
        WriteBody(132, "old", "bob");
        std::filesystem::create_symlink("/dev/full", folder_->Path() + "/v/00132.bob.tmp");
        LogCapture log;
        EXPECT_EQ(B3D_SaveBodyBin(body), 0);
        EXPECT_TRUE(log.Contains("B3D_SaveBodyBin: Unable to write file v\\00132.bob\n"));
        EXPECT_EQ(folder_->Read("v/00132.bob"), (std::vector<uint8_t>{'o', 'l', 'd'}));
        EXPECT_FALSE(folder_->Exists("v/00132.bob.tmp"));
    }
    body->id = 130;
}

}  // namespace
