#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "body_fixture.h"
#include "base/random.h"
#include "scene/allocs.h"
#include "scene/caches.h"
#include "scene/freeing.h"
#include "scene/ids.h"
#include "scene/state.h"
#include "support/logcapture.h"
#include "tools/lib/bodyconv.h"

namespace {

int CountOf(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

int s_polls = 0;
void CountPoll() { ++s_polls; }

class BodyCache : public BodyTest {
protected:
    void SetUp() override {
        BodyTest::SetUp();
        s_polls = 0;
        g_B3DMoviePollHook = &CountPoll;
    }
    void TearDown() override {
        g_B3DMoviePollHook = nullptr;
        BodyTest::TearDown();
    }
    // Writes a text body made from a model source.
    void WriteModel(int id, const std::string& source) const {
        std::string text, error;
        ASSERT_TRUE(Tool_ModelToTextBody(source, &text, &error)) << error;
        WriteBody(id, text);
    }
    // Writes the binary body of a model source (and its text form).
    void WriteBinaryModel(int id, const std::string& source) const {
        WriteModel(id, source);
        std::string error;
        ASSERT_TRUE(Tool_BodyTextToBinary(id, &error)) << error;
    }
};

const char* const kTriangle = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";

TEST_F(BodyCache, AMissingBodyIsReadFromDiskOnce) {
    system_->debugFlags |= 1 | 2;  // every open and every failed open
    LogCapture log;
    EXPECT_EQ(B3D_GetBody(42), nullptr);
    const std::string first = log.Take();
    EXPECT_EQ(CountOf(first, "Qel_fopen(v\\00042.bob, rb)"), 1) << first;
    EXPECT_EQ(CountOf(first, "Qel_fopen(v\\00042.bod, rb)"), 1) << first;
    EXPECT_EQ(B3D_BodyIsUsed(42), 1);  // the failed mark
    EXPECT_EQ(B3D_GetBody(42), nullptr);
    EXPECT_EQ(B3D_BodyIsLoaded(42), 0);
    EXPECT_EQ(CountOf(log.Text(), "00042"), 0) << log.Text();
    EXPECT_EQ(s_polls, 0);
}

TEST_F(BodyCache, BinaryBeforeText) {
    WriteBinaryModel(43, std::string("name binary\n") + kTriangle);
    WriteModel(43, std::string("name text\n") + kTriangle);
    Body3D* body = B3D_GetBody(43);
    ASSERT_NE(body, nullptr);
    EXPECT_STREQ(body->name, "binary");
    EXPECT_EQ(B3D_GetBody(43), body);  // from the cache
    EXPECT_EQ(s_polls, 1);
    // A text body alone is read as text.
    WriteModel(44, std::string("name text\n") + kTriangle);
    Body3D* text = B3D_GetBody(44);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text->name, "text");
    EXPECT_EQ(s_polls, 2);
    EXPECT_FALSE(folder_->Exists("v/00044.bob"));  // no conversion without the option
}

TEST_F(BodyCache, ConvertBodiesWritesATextBodyAsBinaryOnce) {
    system_->SysProfilingFlags |= 0x800;
    system_->debugFlags |= 1;
    WriteModel(50, std::string("name converted\n") + kTriangle);
    LogCapture log;
    Body3D* body = B3D_GetBody(50);
    ASSERT_NE(body, nullptr);
    EXPECT_TRUE(folder_->Exists("v/00050.bob"));
    EXPECT_EQ(s_polls, 2);  // after the load and after the write
    ASSERT_EQ(B3D_GetBody(50), body);
    B3D_FreeBody(body);
    // Now the binary file is there and is read instead.
    folder_->Write("v/00050.bod", "not read");
    body = B3D_GetBody(50);
    ASSERT_NE(body, nullptr);
    EXPECT_STREQ(body->name, "converted");
    EXPECT_EQ(CountOf(log.Text(), "Qel_fopen(v\\00050.bob.tmp, wb)"), 1) << log.Text();
    EXPECT_EQ(s_polls, 3);
}

TEST_F(BodyCache, BodyIsLoaded) {
    WriteModel(45, kTriangle);
    system_->debugFlags |= 1 | 2;
    {
        LogCapture log;
        EXPECT_EQ(B3D_BodyIsLoaded(100000), 1);  // embedded in a cut: never looked up
        EXPECT_EQ(B3D_BodyIsLoaded(250007), 1);
        EXPECT_EQ(B3D_BodyIsLoaded(-1), 0);  // no body
        EXPECT_EQ(log.Text(), "");
    }
    EXPECT_EQ(B3D_FindBody(100000), nullptr);
    EXPECT_EQ(B3D_BodyIsLoaded(45), 1);
    EXPECT_NE(B3D_FindBody(45), nullptr);
    EXPECT_EQ(B3D_BodyIsLoaded(46), 0);
}

TEST_F(BodyCache, GettingABodyClearsItsUseStamp) {
    WriteModel(47, kTriangle);
    Body3D* body = B3D_GetBody(47);
    ASSERT_NE(body, nullptr);
    body->lastUse = 1234;
    EXPECT_EQ(B3D_GetBody(47), body);
    EXPECT_EQ(body->lastUse, 0);
}

// Four parts of one triangle each, and a second level when lods is set.
std::string Parts(int parts, bool lods) {
    std::string s = "mtl a\nusemtl a\nv 0 0 0\nv 1 0 0\nv 0 1 0\n";
    for (int p = 0; p < parts; ++p) s += "o p" + std::to_string(p) + "\nf 1 2 3\n";
    if (lods) s += "lod 3000\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
    return s;
}

TEST_F(BodyCache, TheLastPartOfALargeVersion6BodyTakesWord1157) {
    const struct {
        int id;
        int parts;
        bool lods;
        bool material6;
        bool marked;
    } cases[] = {
        {60, 4, true, true, true},    // four parts, two levels, version-6 materials
        {61, 5, true, true, true},    //
        {62, 3, true, true, false},   // too few parts
        {63, 4, false, true, false},  // one level
        {64, 4, true, false, false},  // older materials
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        WriteModel(c.id, Parts(c.parts, c.lods));
        Body3D* body = B3D_GetBody(c.id);
        ASSERT_NE(body, nullptr);
        if (!c.material6) {
            // Got again with the flag cleared and the words back at 0, as a
            // body of older materials is: the rule is applied on every get.
            body->flags &= static_cast<uint8_t>(~BODY_MATERIAL6);
            for (int32_t p = 0; p < body->levels[0]->partCount; ++p) {
                BodyPart* part = body->levels[0]->parts[p];
                for (int32_t g = 0; g < part->groupCount; ++g)
                    for (int32_t t = 0; t < part->groups[g].triCount; ++t) part->groups[g].tris[t].word = 0;
            }
            ASSERT_EQ(B3D_GetBody(c.id), body);
        }
        ASSERT_EQ(body->levelCount, c.lods ? 2 : 1);
        const BodyLevel* level = body->levels[0];
        ASSERT_EQ(level->partCount, c.parts);
        for (int32_t p = 0; p < level->partCount; ++p) {
            const BodyPart* part = level->parts[p];
            for (int32_t g = 0; g < part->groupCount; ++g)
                for (int32_t t = 0; t < part->groups[g].triCount; ++t)
                    EXPECT_EQ(part->groups[g].tris[t].word == 1157, c.marked && p == level->partCount - 1)
                        << "part " << p;
        }
    }
}

TEST_F(BodyCache, CutsComeFromTheCacheAndAFailedIdIsMarked) {
    J3D_Cut cut{};
    cut.id = 12;
    Qel_TableSet(g_B3DState->cutTable, 12, reinterpret_cast<uintptr_t>(&cut));
    EXPECT_EQ(J3D_GetCut(12), &cut);
    Qel_TableRemove(g_B3DState->cutTable, 12);
    EXPECT_EQ(J3D_GetCut(13), nullptr);
    EXPECT_EQ(B3D_CutIsUsed(13), 1);
    EXPECT_EQ(J3D_GetCut(-1), nullptr);
    EXPECT_EQ(s_polls, 0);
}

TEST_F(BodyCache, ConvertAllBodiesWritesEveryTextBodyAsBinary) {
    system_->SysProfilingFlags |= 0x800;
    WriteModel(70, kTriangle);
    WriteModel(71, kTriangle);
    // A packed text body, read with packed files on.
    std::string text, error;
    ASSERT_TRUE(Tool_ModelToTextBody(std::string("name packed\n") + kTriangle, &text, &error)) << error;
    folder_->WritePacked("v/00076.pbd", std::vector<uint8_t>(text.begin(), text.end()), 0x33);
    system_->startFlags |= 0x20;
    folder_->Write("v/notes.txt", "");
    folder_->Write("v/a.b", "");
    LogCapture log;
    B3DB_ConvertAllBodiesToBinary();
    EXPECT_TRUE(folder_->Exists("v/00070.bob"));
    EXPECT_TRUE(folder_->Exists("v/00071.bob"));
    EXPECT_TRUE(log.Contains("B3DB_ConvertAllBodiesToBinary: 00070.bod\n"));
    EXPECT_TRUE(log.Contains("B3DB_ConvertAllBodiesToBinary: notes.txt\n"));
    EXPECT_TRUE(log.Contains("B3DB_ConvertAllBodiesToBinary: Loaded 70\n"));
    EXPECT_TRUE(log.Contains("B3DB_ConvertAllBodiesToBinary: Loaded 71\n"));
    EXPECT_TRUE(log.Contains("B3DB_ConvertAllBodiesToBinary: Loaded 76\n"));
    ASSERT_TRUE(folder_->Exists("v/00076.bob"));
    B3D_FreeAllBodies();
    system_->startFlags &= ~0x20u;
    const Body3D* fromBinary = B3D_GetBody(76);
    ASSERT_NE(fromBinary, nullptr);
    EXPECT_STREQ(fromBinary->name, "packed");
    EXPECT_FALSE(log.Contains("Loaded 0\n"));
}

TEST_F(BodyCache, TheShutdownReleaseFreesBodiesCutsAndTables) {
    WriteModel(72, kTriangle);
    ASSERT_NE(B3D_GetBody(72), nullptr);
    auto* cut = static_cast<J3D_Cut*>(B3D_AllocMemJ(sizeof(J3D_Cut), B3D_MEM_ZERO));
    cut->id = 5;
    Qel_TableSet(g_B3DState->cutTable, 5, reinterpret_cast<uintptr_t>(cut));
    B3D_SetBodyName(72, "v\\named");
    B3D_FreeBodyTables();
    EXPECT_EQ(B3D_ListFirst(&g_B3DState->bodies), nullptr);
    EXPECT_EQ(g_B3DState->cutTable, nullptr);
    EXPECT_EQ(g_B3DState->takeTable, nullptr);
    EXPECT_EQ(g_B3DState->bodyIds.slots, nullptr);
    EXPECT_EQ(g_B3DState->cutIds.slots, nullptr);
    EXPECT_EQ(g_B3DState->poolBBytes, 0);
    EXPECT_EQ(g_B3DState->poolJBytes, 0);
    // A cut asked for afterwards is simply not there.
    EXPECT_EQ(J3D_GetCut(5), nullptr);
}

TEST_F(BodyCache, InstanceSoundDefaults) {
    WriteModel(73, kTriangle);
    Inst3D* inst = B3D_AllocInst();
    inst->bodyId = 73;
    ASSERT_EQ(B3D_InstSetSound(inst, 44), 1);
    const Body3D* body = B3D_GetBody(73);
    EXPECT_EQ(inst->soundId, 44);
    EXPECT_EQ(static_cast<uint16_t>(body->soundValue), 0xFFFF);
    EXPECT_EQ(body->soundFlags, 44u);
    EXPECT_EQ(body->soundInts[0], 1);
    EXPECT_EQ(body->soundInts[1], 180);
    EXPECT_EQ(body->soundFixed[0], 60);
    EXPECT_EQ(body->soundInts2[0], -65536);
    EXPECT_EQ(body->soundInts2[1], -1);
    EXPECT_EQ(body->soundShorts[0], -1);
    Inst3D* none = B3D_AllocInst();
    none->bodyId = 74;  // no file
    EXPECT_EQ(B3D_InstSetSound(none, 44), 0);
    EXPECT_EQ(none->soundId, 0);
}

constexpr int32_t ONE = 65536;
constexpr int32_t FAR = 1000000;

// A tree: a root at (FAR, 0, 0) and children that take part or not.
class VertexQueries : public BodyCache {
protected:
    void SetUp() override {
        BodyCache::SetUp();
        // Body 80: its third level is the triangle (0,0,0) (0,0,1) (0,1,0).
        WriteModel(80,
                   "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n"
                   "lod 2000\nv 0 0 0\nv 2 0 0\nv 0 2 0\nf 1 2 3\n"
                   "lod 3000\nv 0 0 0\nv 0 0 1\nv 0 1 0\nf 1 2 3\n");
        // Body 81: one level, the triangle (0,0,0) (1,0,0) (0,1,0).
        WriteModel(81, kTriangle);
        root_ = Make(81, nullptr, {FAR, 0, 0, 0});
        child_ = Make(81, root_, {ONE, 0, ONE, 0});
        Make(81, root_, {0, 0, 0, 0})->flags |= INST_INVISIBLE;
        Make(81, root_, {0, 0, 0, 0})->flags2 |= 0x1;
        Make(81, root_, {0, 0, 0, 0})->flags2 |= INST2_SOUND_CHANNEL;
        Make(81, root_, {0, 0, 0, 0})->pathWord = 0x2;
        Make(0, root_, {0, 0, 0, 0});
    }
    static Inst3D* Make(int32_t body, Inst3D* parent, QelVector pos) {
        Inst3D* i = B3D_AllocInst();
        i->bodyId = body;
        i->pos = pos;
        Qel_MatIdentity(&i->matrix);
        if (parent) {
            B3D_ListRemove(B3D_Node(i));
            B3D_ListAppend(&parent->children, B3D_Node(i));
            i->parent = parent;
        }
        return i;
    }
    Inst3D* root_ = nullptr;
    Inst3D* child_ = nullptr;
};

TEST_F(VertexQueries, PointsInRadius) {
    Inst3D* insts[B3D_MAX_RADIUS_POINTS];
    int32_t indices[B3D_MAX_RADIUS_POINTS], distances[B3D_MAX_RADIUS_POINTS];
    const QelVector at{FAR + ONE, 0, 0, 0};  // on the root's point 1
    ASSERT_EQ(B3D_InstPointsInRadius(root_, 10, &at, insts, indices, distances), 1);
    EXPECT_EQ(insts[0], root_);
    EXPECT_EQ(indices[0], 1);
    EXPECT_EQ(distances[0], 0);
    // One unit: the root's points 0 and 1, and the child's point 0 (its
    // frame lies one unit along x and z from the root's).
    ASSERT_EQ(B3D_InstPointsInRadius(root_, ONE, &at, insts, indices, distances), 3);
    EXPECT_EQ(insts[0], root_);
    EXPECT_EQ(indices[0], 0);
    EXPECT_EQ(distances[0], ONE);
    EXPECT_EQ(insts[1], root_);
    EXPECT_EQ(indices[1], 1);
    EXPECT_EQ(insts[2], child_);
    EXPECT_EQ(indices[2], 0);
    EXPECT_EQ(distances[2], ONE);
    EXPECT_EQ(B3D_InstPointsInRadiusNear(root_, 10, &at), 1);
    const QelVector away{FAR, 5 * ONE, 0, 0};
    EXPECT_EQ(B3D_InstPointsInRadiusNear(root_, ONE, &away), 0);
    EXPECT_EQ(B3D_InstPointsInRadius(root_, ONE, &away, insts, indices, distances), 0);
}

TEST_F(VertexQueries, TheQueryPointIsTurnedIntoTheInstancesFrame) {
    Qel_MatFromAngles(&root_->matrix, 0x2000, 0x1000, 0x0800);
    // The root's point 1 as the world sees it.
    const QelVector local{ONE, 0, 0, 0};
    QelVector turned{};
    Qel_MatMulVec(&root_->matrix, &local, &turned);
    const QelVector at{FAR + turned.x, turned.y, turned.z, 0};
    Inst3D* insts[B3D_MAX_RADIUS_POINTS];
    int32_t indices[B3D_MAX_RADIUS_POINTS], distances[B3D_MAX_RADIUS_POINTS];
    ASSERT_EQ(B3D_InstPointsInRadius(root_, 16, &at, insts, indices, distances), 1);
    EXPECT_EQ(indices[0], 1);
    EXPECT_LE(distances[0], 4);
}

TEST_F(VertexQueries, QueriesReadTheThirdLevel) {
    root_->bodyId = 80;
    const QelVector onThird{FAR, 0, ONE, 0};  // point 1 of the third level only
    EXPECT_EQ(B3D_InstPointsInRadiusNear(root_, 10, &onThird), 1);
    const QelVector onFirst{FAR + ONE, 0, 0, 0};  // point 1 of the first and second levels
    Inst3D* insts[B3D_MAX_RADIUS_POINTS];
    int32_t indices[B3D_MAX_RADIUS_POINTS], distances[B3D_MAX_RADIUS_POINTS];
    ASSERT_EQ(B3D_InstPointsInRadius(root_, 10, &onFirst, insts, indices, distances), 0);
    // The nearest vertex takes the level asked for, or the body's last one.
    const struct { int32_t level, distance; } cases[] = {{0, 0}, {1, 0}, {2, 65536}, {9, 65536}};
    // Level 1 is normalised to the same unit triangle as level 0; level 2
    // has no point at (1,0,0): its nearest, the origin, is one unit away.
    // The child (body 81) is 1.41 units away at best.
    for (const auto& c : cases) EXPECT_EQ(B3D_InstDistanceToNearestVertex(root_, &onFirst, c.level), c.distance);
    root_->bodyId = 82;  // missing
    child_->bodyId = 82;
    EXPECT_EQ(B3D_InstDistanceToNearestVertex(root_, &onFirst, 0), -1);
}

TEST_F(VertexQueries, RandomSurfacePoint) {
    Qel_SeedRandom(7);
    Inst3D* inst = nullptr;
    QelVector p{};
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(B3D_BodyRandomSurfacePoint(root_, INST_MARKED, 0, &inst, &p), 1);
        EXPECT_TRUE(inst == root_ || inst == child_);
        const bool corner = (p.x == 0 && p.y == 0) || (p.x == ONE && p.y == 0) || (p.x == 0 && p.y == ONE);
        EXPECT_TRUE(corner && p.z == 0) << p.x << " " << p.y << " " << p.z;
    }
    // Only the child is marked.
    child_->flags |= INST_MARKED;
    ASSERT_EQ(B3D_BodyRandomSurfacePoint(root_, INST_MARKED, INST_MARKED, &inst, &p), 1);
    EXPECT_EQ(inst, child_);
    child_->flags &= ~INST_MARKED;
    LogCapture log;
    EXPECT_EQ(B3D_BodyRandomSurfacePoint(root_, INST_MARKED, INST_MARKED, &inst, &p), 0);
    EXPECT_TRUE(log.Contains("Qel_LongRandom: Wrong argument 0\n"));
}

}  // namespace
