#include "scene/instcoll.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <set>
#include <string>
#include <tuple>

#include "body_fixture.h"
#include "scene/allocs.h"
#include "scene/bodies.h"
#include "scene/bodytext.h"
#include "scene/collision.h"
#include "scene/ids.h"
#include "support/logcapture.h"
#include "tools/lib/bodyconv.h"
#include "tools/lib/collision_meshes.h"

namespace {

constexpr int32_t U = 65536;  // 1.0 in 16.16

// One triangle; its geometry does not matter where a test builds a beam or
// a double pyramid for the body.
const char* const kTriangle = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";

struct Rows {
    int32_t r[9];
};
const Rows kIdentity = {{U, 0, 0, 0, U, 0, 0, 0, U}};
// Turned a quarter about z: the body's x axis points along the world's y.
const Rows kTurned = {{0, U, 0, -U, 0, 0, 0, 0, U}};

void SetRows(QelMatrix* m, const Rows& rows) {
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) m->m[i * 4 + j] = rows.r[i * 3 + j];
}

class InstColl : public BodyTest {
protected:
    Body3D* Load(int id, const std::string& source) {
        std::string text, error;
        EXPECT_TRUE(Tool_ModelToTextBody(source, &text, &error)) << error;
        WriteBody(id, text);
        Body3D* body = B3D_LoadBody2(nullptr, id);
        EXPECT_NE(body, nullptr) << text;
        return body;
    }
    void SetCollWord(int id, int32_t word) {
        B3DBodySlot* slot = B3D_BodySlotOf(id);
        ASSERT_NE(slot, nullptr);
        slot->collWord = word;
    }
    // An instance placed at a world position (its local position too), with
    // a cached total radius.
    static Inst3D* Inst(int32_t bodyId, QelVector at, int32_t radius) {
        Inst3D* inst = B3D_AllocInst();
        inst->bodyId = bodyId;
        inst->pos = at;
        inst->worldPos = at;
        inst->totalRadius = radius;
        return inst;
    }
    // A double pyramid of half-size h on every axis, on a body of its own.
    Inst3D* Octa(int bodyId, QelVector at, int32_t h, int32_t radius) {
        if (!B3D_FindBody(bodyId)) Load(bodyId, kTriangle);
        Inst3D* inst = Inst(bodyId, at, radius);
        EXPECT_EQ(B3D_CollBuildModelOcta(inst, h, h, h), 1);
        return inst;
    }
};

TEST_F(InstColl, PointsEnterTheModelAsYXZAndContactsComeBackAsXYZ) {
    Body3D* wall = Load(10, "v 1 -0.2 -0.2\nv 1 0.2 -0.2\nv 1 0 0.2\nf 1 2 3\n");
    ASSERT_NE(wall, nullptr);
    Inst3D* a = Inst(10, {0, 0, 0, 0}, 2 * U);
    ASSERT_EQ(B3D_CollBuildModel(a, 0), 1);
    ASSERT_NE(wall->collModel, nullptr);
    ASSERT_EQ(wall->collModel->triCount, 1);
    const BodyLevel* level = wall->levels[0];
    const BodyTriangle& bt = level->parts[0]->groups[0].tris[0];
    const CollTri& mt = wall->collModel->tris[0];
    const float* corners[3] = {mt.p1, mt.p2, mt.p3};
    float centroid[3] = {0, 0, 0};  // the wall's, in the body's axes and 16.16
    for (int k = 0; k < 3; ++k) {
        const BodyPoint& p = level->points[bt.v[k]];
        EXPECT_FLOAT_EQ(corners[k][0], p.y / 16384.0f);
        EXPECT_FLOAT_EQ(corners[k][1], p.x / 16384.0f);
        EXPECT_FLOAT_EQ(corners[k][2], p.z / 16384.0f);
        centroid[0] += p.x * 4.0f / 3.0f;
        centroid[1] += p.y * 4.0f / 3.0f;
        centroid[2] += p.z * 4.0f / 3.0f;
    }

    // A small probe with distinct half-sizes on the model's axes: 0.05 on the
    // first (the body's y), 0.1 on the second (the body's x).
    Load(11, kTriangle);
    struct Case {
        const char* what;
        Rows rows;
        QelVector probe;
        int hit;
    } cases[] = {
        {"on the wall, unturned", kIdentity, {U, 0, 0, 0}, 1},
        {"beside the wall, unturned", kIdentity, {0, U, 0, 0}, 0},
        {"on the wall, turned", kTurned, {0, U, 0, 0}, 1},
        {"beside the wall, turned", kTurned, {U, 0, 0, 0}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetRows(&a->worldMatrix, c.rows);
        Inst3D* probe = Inst(11, c.probe, U);
        ASSERT_EQ(B3D_CollBuildModelOcta(probe, U / 20, U / 10, U / 8), 1);
        ASSERT_EQ(B3D_CheckCollisionPair(a, probe, 2 * U, U), c.hit);
        if (!c.hit) {
            EXPECT_EQ(a->hitInst, nullptr);
            continue;
        }
        EXPECT_EQ(a->hitInst, a);
        EXPECT_EQ(probe->hitInst, probe);
        // The wall's contact is its centroid in its own frame, however turned.
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(a->contact[i], centroid[i], 2) << i;
        // The probe's is the centroid of one of its faces: a third of each
        // corner, the body's x holding the model's second axis.
        EXPECT_NEAR(std::abs(probe->contact[0]), U / 10 / 3.0, 1);
        EXPECT_NEAR(std::abs(probe->contact[1]), U / 20 / 3.0, 1);
        EXPECT_NEAR(std::abs(probe->contact[2]), U / 8 / 3.0, 1);
    }
}

TEST_F(InstColl, RadiiSummingToTheChebyshevDistanceDoNotCollide) {
    // The models overlap; the distance is the largest coordinate difference
    // (U), not the straight one.
    Inst3D* a = Octa(12, {0, 0, 0, 0}, U, U / 2);
    Inst3D* b = Octa(13, {U, -U / 2, U / 4, 0}, U, U / 2);
    struct Case {
        int32_t ra, rb, totalB;
        int hit;
    } cases[] = {
        {U / 2, U / 2, U / 2, 0},
        {U / 2, U / 2 + 1, U / 2, 1},
        {0, 0, U / 2, 0},       // both taken from the cached total radii
        {0, -5, U / 2 + 1, 1},  // a negative radius is computed too
        {U, 0, 0, 0},           // U + 0 is the distance itself
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.ra << " " << c.rb << " " << c.totalB);
        b->totalRadius = c.totalB;
        EXPECT_EQ(B3D_CheckCollisionPair(a, b, c.ra, c.rb), c.hit);
        EXPECT_EQ(b->hitInst, c.hit ? b : nullptr);
    }
}

TEST_F(InstColl, AChildHitGivesTheParentsContactAndReportsTheChild) {
    for (bool parentFirst : {false, true}) {
        SCOPED_TRACE(parentFirst ? "parent first" : "parent second");
        // A parent without a body at 10 with scale 2; its child follows the
        // scale, sits at 1 (so 2 in the parent's frame) and is turned.
        Inst3D* parent = Inst(-1, {10 * U, 0, 0, 0}, 3 * U);
        parent->scale.x = 2 * U;
        Inst3D* child = Octa(21, {12 * U, 0, 0, 0}, U / 4, U / 2);
        child->pos = {U, 0, 0, 0};
        child->flags |= INST_SCALED_CHILD;
        SetRows(&child->matrix, kTurned);
        SetRows(&child->worldMatrix, kTurned);
        Adopt(parent, child);
        Inst3D* other = Octa(20, {12 * U + U / 4, U / 16, U / 32, 0}, U / 4, U / 2);

        const int hit =
            parentFirst ? B3D_CheckCollisionPair(parent, other, 0, 0) : B3D_CheckCollisionPair(other, parent, 0, 0);
        ASSERT_EQ(hit, 1);
        EXPECT_EQ(parent->hitInst, child);
        EXPECT_EQ(other->hitInst, other);
        const int32_t* c = child->contact;
        EXPECT_TRUE(c[0] && c[1] && c[2]);
        // The child's place scaled by the parent, plus the child's turn
        // applied to its contact: x -> y, y -> -x.
        EXPECT_NEAR(parent->contact[0], 2 * U - c[1], 1);
        EXPECT_NEAR(parent->contact[1], c[0], 1);
        EXPECT_NEAR(parent->contact[2], c[2], 1);
    }
}

TEST_F(InstColl, ABodyWhoseEveryGroupIsLeftOutNeverGetsAModel) {
    const char* const source =
        "mtl glass\nflags 1\nmtl grille\nflags 1\n"
        "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
        "usemtl glass\nf 1 2 3\nusemtl grille\nf 1 3 4\n";
    Body3D* body = Load(30, source);
    ASSERT_NE(body, nullptr);
    SetCollWord(30, -2);
    Inst3D* inst = Inst(30, {0, 0, 0, 0}, U);
    EXPECT_EQ(B3D_CollBuildModel(inst, 0), 0);
    EXPECT_EQ(body->collModel, nullptr);
    EXPECT_EQ(B3D_BodyGetCollWord(30), -1);
    EXPECT_EQ(inst->flags & INST_COLLISION_MODEL, 0u);

    // Later builds stop at the cleared word, even once the body would do.
    for (int32_t m = 0; m < body->materialCount; ++m) body->materials[m].flags &= ~BMAT_NO_COLLISION;
    LogCapture log;
    EXPECT_EQ(B3D_CollBuildModel(Inst(30, {0, 0, 0, 0}, U), 0), 0);
    EXPECT_EQ(body->collModel, nullptr);
    EXPECT_EQ(log.Text(), "");

    // A body without an id slot marks the instance instead.
    Body3D* slotless = Load(20001, source);
    ASSERT_NE(slotless, nullptr);
    ASSERT_EQ(B3D_BodySlotOf(20001), nullptr);
    Inst3D* other = Inst(20001, {0, 0, 0, 0}, U);
    EXPECT_EQ(B3D_CollBuildModel(other, 0), 0);
    EXPECT_NE(other->flags & INST_COLLISION_OFF, 0u);
    for (int32_t m = 0; m < slotless->materialCount; ++m) slotless->materials[m].flags &= ~BMAT_NO_COLLISION;
    EXPECT_EQ(B3D_CollBuildModel(other, 0), 0);
    EXPECT_EQ(slotless->collModel, nullptr);
}

TEST_F(InstColl, LeftOutPartsAndGroupsUnlessEverythingIsAsked) {
    // Part 0: a left-out group (1 triangle) and a solid one (2); part 1: one
    // solid triangle.
    const char* const source =
        "mtl glass\nflags 1\nmtl hull\n"
        "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0 0 1\n"
        "usemtl glass\nf 1 2 3\nusemtl hull\nf 1 3 4\nf 1 2 5\n"
        "o second\nf 2 3 5\n";
    struct Case {
        const char* what;
        int32_t word;
        uint32_t levelFlags;
        uint32_t part1Flags;
        int32_t tris;
        bool logged;
    } cases[] = {
        {"left-out group", -2, 0, 0, 3, true},
        {"word asks for everything", 0x100, 0, 0, 4, false},
        {"level asks for everything", -2, BLEVEL_COLL_EVERYTHING, 0, 4, false},
        {"part flagged 0xa0", -2, 0, 0x80, 2, true},
        {"part flagged 0xa0, everything", 0x100, 0, 0x80, 4, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Body3D* body = Load(31, source);
        ASSERT_NE(body, nullptr);
        SetCollWord(31, c.word);
        body->levels[0]->flags |= c.levelFlags;
        body->levels[0]->parts[1]->flags |= c.part1Flags;
        LogCapture log;
        Inst3D* inst = Inst(31, {0, 0, 0, 0}, U);
        ASSERT_EQ(B3D_CollBuildModel(inst, 0), 1);
        EXPECT_NE(inst->flags & INST_COLLISION_MODEL, 0u);
        ASSERT_NE(body->collModel, nullptr);
        ASSERT_EQ(body->collModel->triCount, c.tris);
        for (int32_t i = 0; i < c.tris; ++i) EXPECT_EQ(body->collModel->tris[i].id, i);
        EXPECT_EQ(log.Contains("Ignoring body 31 part 0 material 0 for collision\n"), c.logged) << log.Text();
        B3D_FreeBody(body);
    }
}

TEST_F(InstColl, TheDetailLevelComesFromTheWordOrTheArgument) {
    const char* const source =
        "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n"
        "lod 4000\nv 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 1\nf 1 2 3\nf 2 3 4\n";
    struct Case {
        int32_t word, argument, level;
    } cases[] = {
        {-2, 0, 0},    {-2, 1, 1}, {-2, 5, 1},  // clamped to the last level
        {-2, -3, 0},                            // and to the first
        {1, 0, 1},                              // the word's low byte wins
        {0x100, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.word << " " << c.argument);
        Body3D* body = Load(32, source);
        ASSERT_NE(body, nullptr);
        SetCollWord(32, c.word);
        Inst3D* inst = Inst(32, {0, 0, 0, 0}, U);
        ASSERT_EQ(B3D_CollBuildModel(inst, c.argument), 1);
        EXPECT_EQ(inst->collLevel, c.level);
        EXPECT_EQ(body->collLevel, c.level);
        EXPECT_EQ(body->collModel->triCount, c.level + 1);
        // A later instance asking for the other level shares the model.
        Inst3D* later = Inst(32, {0, 0, 0, 0}, U);
        ASSERT_EQ(B3D_CollBuildModel(later, 1 - c.level), 1);
        EXPECT_EQ(body->collLevel, c.level);
        EXPECT_EQ(body->collModel->triCount, c.level + 1);
        B3D_FreeBody(body);
    }
}

TEST_F(InstColl, ModelsAreNotBuiltWithoutABodyOrWithCollisionOff) {
    Load(33, kTriangle);
    Inst3D* none = Inst(-1, {0, 0, 0, 0}, U);
    Inst3D* missing = Inst(34, {0, 0, 0, 0}, U);
    Inst3D* off = Inst(33, {0, 0, 0, 0}, U);
    off->flags |= INST_COLLISION_OFF;
    for (Inst3D* inst : {none, missing, off}) {
        EXPECT_EQ(B3D_CollBuildModel(inst, 0), 0);
        EXPECT_EQ(inst->flags & INST_COLLISION_MODEL, 0u);
    }
    EXPECT_EQ(B3D_CollBuildModelSimple(none, U, U, U), 0);
    EXPECT_EQ(B3D_CollBuildModelOcta(missing, U, U, U), 0);
    EXPECT_EQ(static_cast<Body3D*>(B3D_FindBody(33))->collModel, nullptr);
}

// A beam along z through the origin, and a target tree in its way: a parent
// and its child, either one nearer. The targets sit a little off the beam's
// axis so that it pierces their faces.
class Hierarchy : public InstColl {
protected:
    void SetUp() override {
        InstColl::SetUp();
        Load(40, kTriangle);
        beam = Inst(40, {0, 0, 0, 0}, U);
        ASSERT_EQ(B3D_CollBuildModelSimple(beam, U / 10, U / 10, 20 * U), 1);
    }
    // Parent and child half-size 0.5 at these depths.
    void Targets(int32_t parentZ, int32_t childZ) {
        parent = Octa(41, {U / 8, U / 16, parentZ, 0}, U / 2, 6 * U);
        child = Octa(42, {U / 8, U / 16, childZ, 0}, U / 2, U);
        child->pos = {0, 0, childZ - parentZ, 0};
        Adopt(parent, child);
    }
    // Where the beam's axis enters a target centred at z: its near face
    // crosses the axis at z - 0.5 + 1/8 + 1/16.
    static int32_t Entry(int32_t z) { return z - U / 2 + U / 8 + U / 16; }

    Inst3D* beam = nullptr;
    Inst3D* parent = nullptr;
    Inst3D* child = nullptr;
};

TEST_F(Hierarchy, TheNearerOfTwoHitsAlongTheBeamIsKept) {
    struct Case {
        const char* what;
        int32_t parentZ, childZ, range;
        bool childHit;
        int32_t depth;
    } cases[] = {
        {"child nearer", 10 * U, 5 * U, 30 * U, true, Entry(5 * U)},
        {"parent nearer", 5 * U, 10 * U, 30 * U, false, Entry(5 * U)},
        {"both beyond the range", 5 * U, 10 * U, 3 * U, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Targets(c.parentZ, c.childZ);
        const int hit = B3D_CheckCollisionHier(beam, parent, c.range, 0);
        ASSERT_EQ(hit, c.depth != 0);
        if (!hit) {
            EXPECT_EQ(beam->hitInst, nullptr);
            EXPECT_EQ(parent->hitInst, nullptr);
            continue;
        }
        EXPECT_EQ(beam->hitInst, beam);
        EXPECT_EQ(parent->hitInst, c.childHit ? child : parent);
        EXPECT_NEAR(beam->contact[2], c.depth, 64);
    }
}

TEST_F(Hierarchy, AModelPlacedWithScaleZeroNeverHits) {
    Targets(10 * U, 5 * U);
    beam->scale.x = 0;
    EXPECT_EQ(B3D_CheckCollisionHier(beam, parent, 30 * U, 0), 0);
    EXPECT_EQ(parent->hitInst, nullptr);
    EXPECT_EQ(beam->contact[2], 0x7fffffff);

    // Nor as the second of a pair.
    beam->scale.x = U;
    EXPECT_EQ(B3D_CheckCollisionPair(beam, child, 30 * U, U), 1);
    child->scale.x = 0;
    EXPECT_EQ(B3D_CheckCollisionPair(beam, child, 30 * U, U), 0);
}

TEST_F(InstColl, TheBeamUpdateTestsOnlyTargetsOnItsLine) {
    // The beam starts at the origin and its other end is at z = 100; its
    // model, built at the first test, runs 50 either side of the start.
    Load(50, kTriangle);
    Inst3D* end = Inst(-1, {0, 0, 100 * U, 0}, 0);
    struct Case {
        const char* what;
        int32_t forced;
        QelVector at;
        int32_t radius;
        uint32_t flags;
        int hit;
        bool tested;
    } cases[] = {
        {"in the beam", 0, {U / 8, U / 16, 30 * U, 0}, 2 * U, 0, 1, true},
        {"at the start, unforced", 0, {U / 8, U / 16, U, 0}, 2 * U, 0, 0, false},
        {"at the start, forced", 1, {U / 8, U / 16, U, 0}, 2 * U, 0, 1, true},
        {"off the line, forced", 1, {0, 10 * U, 30 * U, 0}, 2 * U, 0, 0, false},
        {"behind the start", 0, {0, 0, -200 * U, 0}, 2 * U, 0, 0, true},
        {"stale radius, forced", 1, {U / 8, U / 16, 30 * U, 0}, -1, 0, 0, false},
        {"collision off, unforced", 0, {U / 8, U / 16, 30 * U, 0}, 2 * U, INST_COLLISION_OFF, 0, false},
        {"collision off, forced", 1, {U / 8, U / 16, 30 * U, 0}, 2 * U, INST_COLLISION_OFF, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Inst3D* beam = Inst(50, {0, 0, 0, 0}, 60 * U);
        Inst3D* target = Octa(51, c.at, U, c.radius);
        target->flags |= c.flags;
        EXPECT_EQ(B3D_CollUpdateInst(c.forced, beam, end, target), c.hit);
        EXPECT_EQ(beam->size, c.tested ? 1 : 0);
        EXPECT_EQ((beam->flags & INST_COLLISION_MODEL) != 0, c.tested);
        if (c.hit) {
            EXPECT_EQ(target->hitInst, target);
        }
    }
    // The beam model is the one of the first update: half the length along z.
    const CollModel* model = static_cast<Body3D*>(B3D_FindBody(50))->collModel;
    ASSERT_NE(model, nullptr);
    EXPECT_FLOAT_EQ(model->tris[0].p3[2], 50.0f);
}

TEST_F(InstColl, BeamAndDoublePyramidModels) {
    Body3D* beamBody = Load(60, kTriangle);
    Inst3D* beam = Inst(60, {0, 0, 0, 0}, U);
    ASSERT_EQ(B3D_CollBuildModelSimple(beam, 3 * U, 5 * U, 7 * U), 1);
    EXPECT_NE(beam->flags & INST_COLLISION_MODEL, 0u);
    const CollModel* bm = beamBody->collModel;
    ASSERT_NE(bm, nullptr);
    ASSERT_EQ(bm->triCount, 2);
    const float expected[2][3][3] = {{{0, 3, -7}, {0, -3, -7}, {0, 0, 7}}, {{5, 0, 7}, {-5, 0, 7}, {0, 0, -7}}};
    for (int t = 0; t < 2; ++t) {
        EXPECT_EQ(bm->tris[t].id, t);
        const float* p[3] = {bm->tris[t].p1, bm->tris[t].p2, bm->tris[t].p3};
        for (int k = 0; k < 3; ++k)
            for (int i = 0; i < 3; ++i) EXPECT_FLOAT_EQ(p[k][i], expected[t][k][i]) << t << k << i;
    }
    // A body keeps the model it has.
    ASSERT_EQ(B3D_CollBuildModelSimple(Inst(60, {0, 0, 0, 0}, U), U, U, U), 1);
    EXPECT_EQ(beamBody->collModel, bm);
    EXPECT_FLOAT_EQ(bm->tris[0].p3[2], 7.0f);

    Body3D* octaBody = Load(61, kTriangle);
    Inst3D* octa = Inst(61, {0, 0, 0, 0}, 5 * U);
    ASSERT_EQ(B3D_CollBuildModelOcta(octa, 2 * U, 3 * U, 4 * U), 1);
    EXPECT_NE(octa->flags & INST_COLLISION_MODEL, 0u);
    const CollModel* om = octaBody->collModel;
    ASSERT_NE(om, nullptr);
    ASSERT_EQ(om->triCount, 8);
    std::set<std::tuple<float, float, float>> corners;
    for (int t = 0; t < 8; ++t) {
        const CollTri& tri = om->tris[t];
        EXPECT_EQ(tri.id, t);
        EXPECT_EQ(std::abs(tri.p1[0]), 2.0f);
        EXPECT_EQ(std::abs(tri.p2[1]), 3.0f);
        EXPECT_EQ(std::abs(tri.p3[2]), 4.0f);
        EXPECT_EQ(tri.p1[1] + tri.p1[2] + tri.p2[0] + tri.p2[2] + tri.p3[0] + tri.p3[1], 0.0f);
        corners.emplace(tri.p1[0], tri.p2[1], tri.p3[2]);
    }
    EXPECT_EQ(corners.size(), 8u);  // one face per octant

    // Its corners in the body's axes: 3 along x, 2 along y, 4 along z.
    Load(62, kTriangle);
    struct Case {
        QelVector at;
        int hit;
    } probes[] = {
        {{3 * U, 0, 0, 0}, 1}, {{-3 * U, 0, 0, 0}, 1}, {{3 * U + U / 5, 0, 0, 0}, 0},
        {{0, 2 * U, 0, 0}, 1}, {{0, 3 * U, 0, 0}, 0},  {{0, 0, -4 * U, 0}, 1},
    };
    for (const Case& c : probes) {
        SCOPED_TRACE(testing::Message() << c.at.x << " " << c.at.y << " " << c.at.z);
        Inst3D* probe = Inst(62, c.at, U);
        ASSERT_EQ(B3D_CollBuildModelOcta(probe, U / 10, U / 10, U / 10), 1);
        EXPECT_EQ(B3D_CheckCollisionPair(octa, probe, 0, 0), c.hit);
    }
}

// A model of a body's first level in the body's own axes, as the library
// would take it without the wrapper.
CollModel* ModelInBodyAxes(const Body3D* body) {
    const BodyLevel* level = body->levels[0];
    CollModel* model = Coll_NewBox();
    const BodyGroup& group = level->parts[0]->groups[0];
    for (int32_t t = 0; t < group.triCount; ++t) {
        float v[3][3];
        for (int k = 0; k < 3; ++k) {
            const BodyPoint& p = level->points[group.tris[t].v[k]];
            v[k][0] = p.x / 16384.0f;
            v[k][1] = p.y / 16384.0f;
            v[k][2] = p.z / 16384.0f;
        }
        Coll_AddTri(model, v[0], v[1], v[2], t);
    }
    Coll_EndModel(model);
    return model;
}

TEST_F(InstColl, ThePairTestAnswersAsTheLibraryOnSeededPoses) {
    // The benchmark's two noisy spheres, smaller, as bodies; the second
    // placed with scale 0.75 at seeded poses, turned every way.
    float unitA = 0, unitB = 0;
    Body3D* bodyA = CollMesh_MakeBody(CollMesh_NoisyIcosphere(2, 1.0f, 0.03f, 1), 80, &unitA);
    Body3D* bodyB = CollMesh_MakeBody(CollMesh_NoisyIcosphere(2, 1.0f, 0.03f, 2), 81, &unitB);
    ASSERT_NE(bodyA, nullptr);
    ASSERT_NE(bodyB, nullptr);
    Inst3D* a = Inst(80, {0, 0, 0, 0}, 4 * U);
    Inst3D* b = Inst(81, {0, 0, 0, 0}, 4 * U);
    a->scale.x = int32_t(std::lround(unitA * U));
    b->scale.x = int32_t(std::lround(unitB * 0.75f * U));
    ASSERT_EQ(B3D_CollBuildModel(a, 0), 1);
    ASSERT_EQ(B3D_CollBuildModel(b, 0), 1);
    CollModel* refA = ModelInBodyAxes(bodyA);
    CollModel* refB = ModelInBodyAxes(bodyB);

    const float identity[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    const float origin[3] = {0, 0, 0};
    int hits = 0;
    int pose = 0;
    for (const CollPose& p : CollMesh_Poses(200, 2.0f, 3)) {
        // The engine's rows are the axes: row k is column k of the turn.
        float R[3][3];
        for (int k = 0; k < 3; ++k)
            for (int i = 0; i < 3; ++i) {
                b->worldMatrix.m[k * 4 + i] = int32_t(std::lround(p.R[i][k] * U));
                R[i][k] = float(b->worldMatrix.m[k * 4 + i]) / U;
            }
        b->worldPos = {int32_t(std::lround(p.T[0] * U)), int32_t(std::lround(p.T[1] * U)),
                       int32_t(std::lround(p.T[2] * U)), 0};
        const float T[3] = {float(b->worldPos.x), float(b->worldPos.y), float(b->worldPos.z)};
        ASSERT_EQ(Coll_Detect(COLL_FIRST_CONTACT, 1, 0, nullptr, identity, origin, float(a->scale.x), refA, R, T,
                              float(b->scale.x), refB),
                  COLL_OK);
        const int expected = g_CollState.contacts > 0;
        EXPECT_EQ(B3D_CheckCollisionPair(a, b, 0, 0), expected) << "pose " << pose;
        hits += expected;
        ++pose;
    }
    EXPECT_GT(hits, 40);
    EXPECT_LT(hits, 190);
    Coll_FreeModel(refA);
    Coll_FreeModel(refB);
}

TEST_F(InstColl, CollidingABodyWithoutAModelIsLogged) {
    Inst3D* a = Octa(70, {0, 0, 0, 0}, U, U);
    Body3D* bare = Load(71, kTriangle);
    Inst3D* b = Inst(71, {0, 0, 0, 0}, U);
    LogCapture log;
    EXPECT_EQ(B3D_InstCollide(a, static_cast<Body3D*>(B3D_FindBody(70)), b, bare, COLL_FIRST_CONTACT, 1, 0, nullptr),
              0);
    EXPECT_TRUE(log.Contains("ERROR. Collisioncheck on Body without collision box!\nBody Nr: 71\n")) << log.Text();
}

}  // namespace
