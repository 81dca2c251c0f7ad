#include "scene/collision.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "platform/win32/memory.h"
#include "support/logcapture.h"
#include "tools/lib/collision_meshes.h"

namespace {

struct Tri {
    float p[3][3];
};

const float kIdentity[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
const float kOrigin[3] = {0, 0, 0};

// A built model of the triangles (ids count from 0); the test owns it.
CollModel* Build(const std::vector<Tri>& tris) {
    CollModel* m = Coll_NewBox();
    EXPECT_NE(m, nullptr);
    for (size_t i = 0; i < tris.size(); ++i)
        EXPECT_EQ(Coll_AddTri(m, tris[i].p[0], tris[i].p[1], tris[i].p[2], int32_t(i)), COLL_OK);
    EXPECT_EQ(Coll_EndModel(m), COLL_OK);
    return m;
}

// All contacts, no mode bits, both models unrotated at the given offsets.
int32_t CountContacts(CollModel* a, CollModel* b, int flag = 0, const float* Ta = kOrigin, const float* Tb = kOrigin) {
    EXPECT_EQ(Coll_Detect(uint32_t(flag), 0, 0, nullptr, kIdentity, Ta, 1, a, kIdentity, Tb, 1, b), COLL_OK);
    return g_CollState.contacts;
}

// The square |x|, |y| <= h in the plane z, as two triangles.
std::vector<Tri> Plate(float z, float h = 2) {
    return {{{{-h, -h, z}, {h, -h, z}, {h, h, z}}}, {{{-h, -h, z}, {h, h, z}, {-h, h, z}}}};
}

// The twelve triangles of a box's surface with half-sizes h, turned by R.
std::vector<Tri> BoxSurface(const float h[3], const float R[3][3]) {
    float c[8][3];
    for (int i = 0; i < 8; ++i) {
        const float local[3] = {(i & 1) ? h[0] : -h[0], (i & 2) ? h[1] : -h[1], (i & 4) ? h[2] : -h[2]};
        for (int r = 0; r < 3; ++r) c[i][r] = R[r][0] * local[0] + R[r][1] * local[1] + R[r][2] * local[2];
    }
    const int faces[6][4] = {{0, 1, 3, 2}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 3, 7, 5}};
    std::vector<Tri> out;
    for (const auto& f : faces) {
        Tri a, b;
        std::memcpy(a.p[0], c[f[0]], sizeof(a.p[0]));
        std::memcpy(a.p[1], c[f[1]], sizeof(a.p[1]));
        std::memcpy(a.p[2], c[f[2]], sizeof(a.p[2]));
        std::memcpy(b.p[0], c[f[0]], sizeof(b.p[0]));
        std::memcpy(b.p[1], c[f[2]], sizeof(b.p[1]));
        std::memcpy(b.p[2], c[f[3]], sizeof(b.p[2]));
        out.push_back(a);
        out.push_back(b);
    }
    return out;
}

float Column(const CollBox& b, int col, const float v[3]) {
    return b.R[0][col] * v[0] + b.R[1][col] * v[1] + b.R[2][col] * v[2];
}

TEST(CollisionLibrary, ResultCodesFollowTheModelsState) {
    LogCapture log;
    CollModel* m = Coll_NewBox();
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->buildState, COLL_STATE_BEGUN);
    EXPECT_EQ(Coll_BeginModel(m), COLL_ERR_ORDER);
    EXPECT_EQ(Coll_EndModel(m), COLL_ERR_EMPTY);
    EXPECT_TRUE(log.Contains("ERROR: Coll EndModel: 5\n"));

    CollModel* built = Build(Plate(0));
    // Never ended: refused on either side, and Coll_Detect says so.
    log.Take();
    EXPECT_EQ(Coll_Collide(kIdentity, kOrigin, 1, m, kIdentity, kOrigin, 1, built, 0), COLL_ERR_NOT_BUILT);
    EXPECT_EQ(Coll_Detect(0, 0, 0, nullptr, kIdentity, kOrigin, 1, built, kIdentity, kOrigin, 1, m),
              COLL_ERR_NOT_BUILT);
    EXPECT_EQ(log.Take(), "ERROR: Coll detect 3\n");

    const float p[3] = {0, 0, 0}, q[3] = {1, 0, 0}, r[3] = {0, 1, 0};
    EXPECT_EQ(Coll_AddTri(built, p, q, r, 7), COLL_ERR_ORDER);
    EXPECT_EQ(built->triCount, 2);
    EXPECT_EQ(Coll_EndModel(built), COLL_ERR_ORDER);

    // Beginning a built model starts it afresh.
    EXPECT_EQ(Coll_BeginModel(built), COLL_OK);
    EXPECT_EQ(built->triCount, 0);
    EXPECT_EQ(built->boxes, nullptr);
    EXPECT_EQ(Coll_AddTri(built, p, q, r, 7), COLL_OK);
    EXPECT_EQ(Coll_EndModel(built), COLL_OK);
    EXPECT_EQ(built->tris[0].id, 7);

    Coll_FreeModel(m);
    Coll_FreeModel(built);
}

TEST(CollisionLibrary, OneTriangleModelIsOneLeafFittedToIt) {
    // A scalene triangle (longest edge p-q, length 3, height 2) turned and moved.
    const CollPose pose = CollMesh_Poses(1, 2, 99)[0];
    const float local[3][3] = {{0, 0, 0}, {3, 0, 0}, {1, 2, 0}};
    Tri t;
    for (int v = 0; v < 3; ++v)
        for (int r = 0; r < 3; ++r)
            t.p[v][r] =
                pose.R[r][0] * local[v][0] + pose.R[r][1] * local[v][1] + pose.R[r][2] * local[v][2] + pose.T[r];
    CollModel* m = Build({t});
    const CollBox& b = m->boxes[0];
    EXPECT_EQ(m->boxCapacity, 2u);
    EXPECT_TRUE(b.IsLeaf());
    EXPECT_EQ(b.N, nullptr);
    EXPECT_EQ(b.tri, &m->tris[0]);

    const float edge[3] = {pose.R[0][0], pose.R[1][0], pose.R[2][0]};
    const float normal[3] = {pose.R[0][2], pose.R[1][2], pose.R[2][2]};
    EXPECT_NEAR(std::fabs(Column(b, 0, edge)), 1.0f, 1e-5f);
    EXPECT_NEAR(std::fabs(Column(b, 1, normal)), 1.0f, 1e-5f);
    EXPECT_NEAR(b.d[0], 1.5f, 1e-5f);
    EXPECT_NEAR(b.d[1], 0.0f, 1e-5f);
    EXPECT_NEAR(b.d[2], 1.0f, 1e-5f);
    // Every vertex inside, and the box reaches no farther than they do.
    float reach[3] = {0, 0, 0};
    for (const auto& v : t.p) {
        const float rel[3] = {v[0] - b.T[0], v[1] - b.T[1], v[2] - b.T[2]};
        for (int k = 0; k < 3; ++k) {
            const float x = std::fabs(Column(b, k, rel));
            EXPECT_LE(x, b.d[k] + 1e-5f);
            reach[k] = std::fmax(reach[k], x);
        }
    }
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(reach[k], b.d[k], 1e-5f);
    Coll_FreeModel(m);
}

TEST(CollisionLibrary, ZeroAreaTrianglesWarnAndWeighAsTheSmallestArea) {
    // A (area 4) at x = 0, B (area 2) at x = 4 and the zero-area Z at x = 18.
    // Weighed as 2, Z pulls the dividing value past B, so A and B share a
    // child; weighed as 0 or as 1.0 it would not.
    const std::vector<Tri> tris = {{{{0, 0, 0}, {0, 2, 0}, {0, 0, 4}}},
                                   {{{4, 0, 0}, {4, 2, 0}, {4, 0, 2}}},
                                   {{{18, 0, 0}, {18, 1, 0}, {18, 2, 0}}}};
    LogCapture log;
    CollModel* m = Build(tris);
    EXPECT_NE(
        log.Text().find(std::string(QEL_LOG_BANNER) + "Warning!  Some triangles have zero area!\n" + QEL_LOG_BANNER),
        std::string::npos)
        << log.Text();
    const CollBox& root = m->boxes[0];
    ASSERT_FALSE(root.IsLeaf());
    const CollBox* leaf = root.P->IsLeaf() ? root.P : root.N;
    const CollBox* pair = root.P->IsLeaf() ? root.N : root.P;
    ASSERT_TRUE(leaf->IsLeaf());
    EXPECT_EQ(leaf->tri->id, 2);
    ASSERT_FALSE(pair->IsLeaf());
    Coll_FreeModel(m);

    // Nothing but zero areas: each weighs 1.0 and the tree is still sound.
    CollModel* flat = Build({{{{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}}, {{{0, 0, 1}, {0, 0, 1}, {0, 0, 1}}}});
    for (uint32_t i = 0; i < 3; ++i)
        for (float x : {flat->boxes[i].T[0], flat->boxes[i].T[1], flat->boxes[i].T[2], flat->boxes[i].d[0]})
            EXPECT_TRUE(std::isfinite(x));
    CollModel* wall = Build({{{{1, -1, -1}, {1, 1, -1}, {1, 0, 2}}}});
    EXPECT_GT(CountContacts(flat, wall), 0);
    Coll_FreeModel(flat);
    Coll_FreeModel(wall);
}

TEST(CollisionLibrary, FirstAxisIsTheOneOfLargestSpread) {
    const float c = std::cos(0.5f), s = std::sin(0.5f);
    const float turned[3][3] = {{c, -s, 0}, {s, c, 0}, {0, 0, 1}};
    struct Case {
        float half[3];
        const float (*R)[3];
        float expect[3];
    };
    const Case cases[] = {
        {{5, 1, 2}, kIdentity, {1, 0, 0}}, {{1, 5, 2}, kIdentity, {0, 1, 0}}, {{1, 2, 5}, kIdentity, {0, 0, 1}},
        {{2, 1, 5}, kIdentity, {0, 0, 1}}, {{5, 1, 0.5f}, turned, {c, s, 0}},
    };
    for (const Case& k : cases) {
        CollModel* m = Build(BoxSurface(k.half, k.R));
        const CollBox& root = m->boxes[0];
        EXPECT_NEAR(std::fabs(Column(root, 0, k.expect)), 1.0f, 1e-4f)
            << "half-sizes " << k.half[0] << " " << k.half[1] << " " << k.half[2];
        EXPECT_NEAR(root.d[0], 5.0f, 1e-3f);
        Coll_FreeModel(m);
    }
}

TEST(CollisionLibrary, MomentsBeyondFloatRangeEndTheEigenSweepsAtTheLimit) {
    // The covariance overflows to no number; the rotation gives up after its
    // last sweep, says so, and the model is still built.
    LogCapture log;
    const float big = 1e30f;
    CollModel* m = Build({{{{0, 0, 0}, {big, 0, 0}, {0, big, 0}}}, {{{0, 0, big}, {big, 0, big}, {0, big, big}}}});
    EXPECT_TRUE(log.Contains("eigen: too many iterations in Jacobi transform (")) << log.Text();
    EXPECT_EQ(m->buildState, COLL_STATE_BUILT);
    Coll_FreeModel(m);
}

TEST(CollisionLibrary, FirstContactModeFindsAtMostOneContact) {
    CollModel* a = CollMesh_BuildModel(CollMesh_NoisyIcosphere(2, 1.0f, 0.03f, 1));
    CollModel* b = CollMesh_BuildModel(CollMesh_NoisyIcosphere(2, 1.0f, 0.03f, 2));
    const float offset[3] = {0.8f, 0.3f, 0.1f};
    EXPECT_GT(CountContacts(a, b, 0, kOrigin, offset), 1);
    EXPECT_EQ(CountContacts(a, b, COLL_FIRST_CONTACT, kOrigin, offset), 1);
    const float apart[3] = {2.5f, 0, 0};
    EXPECT_EQ(CountContacts(a, b, COLL_FIRST_CONTACT, kOrigin, apart), 0);
    Coll_FreeModel(a);
    Coll_FreeModel(b);
}

// The beam model: two crossed triangles along z from -10 to 10.
CollModel* Beam() {
    return Build({{{{0, 1, -10}, {0, -1, -10}, {0, 0, 10}}}, {{{1, 0, 10}, {-1, 0, 10}, {0, 0, -10}}}});
}

TEST(CollisionLibrary, DepthModesKeepTheNearestHitWithinTheLimit) {
    struct Case {
        uint32_t mode;
        std::vector<float> plates;  // z of each plate of model 2
        float limit;
        float best;       // the caller's best depth before
        bool hit;         // a contact is accepted
        float bestAfter;  // and the best depth after
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Case cases[] = {
        // keep the nearest: a farther hit is refused, a nearer one taken
        {COLL_MODE_NEAREST, {5}, 0, 3, false, 3},
        {COLL_MODE_NEAREST, {5}, 0, 7, true, 5},
        {COLL_MODE_NEAREST, {5, 2}, 0, 100, true, 2},
        {COLL_MODE_NEAREST, {2, 5}, 0, 100, true, 2},
        {COLL_MODE_NEAREST, {-3}, 0, 7, true, -3},
        // the depth limit, in size
        {COLL_MODE_DEPTH_LIMIT, {5}, 4, 0, false, 0},
        {COLL_MODE_DEPTH_LIMIT, {5}, 5, 0, true, 0},
        {COLL_MODE_DEPTH_LIMIT, {-5}, 4.9f, 0, false, 0},
        {COLL_MODE_DEPTH_LIMIT, {5}, 1e20f, 0, true, 0},
        {COLL_MODE_DEPTH_LIMIT, {5}, nan, 0, false, 0},
        // both: the nearest within the limit
        {COLL_MODE_NEAREST | COLL_MODE_DEPTH_LIMIT, {2, 5}, 3, 100, true, 2},
        {COLL_MODE_NEAREST | COLL_MODE_DEPTH_LIMIT, {-4, 5}, 3, 100, false, 100},
    };
    CollModel* beam = Beam();
    for (const Case& k : cases) {
        std::vector<Tri> tris;
        for (float z : k.plates)
            for (const Tri& t : Plate(z)) tris.push_back(t);
        CollModel* plates = Build(tris);
        float best = k.best;
        ASSERT_EQ(Coll_Detect(k.mode, 8, k.limit, &best, kIdentity, kOrigin, 1, beam, kIdentity, kOrigin, 1, plates),
                  COLL_OK);
        const std::string what = "mode " + std::to_string(k.mode) + " first plate " + std::to_string(k.plates[0]);
        EXPECT_EQ(g_CollState.contacts > 0, k.hit) << what;
        EXPECT_EQ(best, k.bestAfter) << what;
        if (k.hit && (k.mode & COLL_MODE_NEAREST)) {
            EXPECT_EQ(g_CollState.depth, k.bestAfter) << what;
            EXPECT_EQ(g_CollState.point2[0], 0.0f);
            EXPECT_EQ(g_CollState.point2[1], 0.0f);
            EXPECT_EQ(g_CollState.point2[2], k.bestAfter) << what;
        }
        Coll_FreeModel(plates);
    }
    Coll_FreeModel(beam);
}

TEST(CollisionLibrary, WithoutModesTheContactPointsAreTheTrianglesCentroids) {
    CollModel* beam = Beam();
    CollModel* plate = Build({{{{-2, -2, 3}, {4, -2, 3}, {-2, 4, 3}}}});
    const float at[3] = {10, 20, 30}, away[3] = {10, 20, 27};
    ASSERT_EQ(CountContacts(beam, plate, COLL_FIRST_CONTACT, at, away), 1);
    // Model 2's centroid in its own frame; model 1's in model 1's frame.
    EXPECT_FLOAT_EQ(g_CollState.point2[0], 0.0f);
    EXPECT_FLOAT_EQ(g_CollState.point2[1], 0.0f);
    EXPECT_FLOAT_EQ(g_CollState.point2[2], 3.0f);
    const CollTri* t1 = g_CollState.tri1;
    ASSERT_NE(t1, nullptr);
    EXPECT_FLOAT_EQ(g_CollState.point1[2], (t1->p1[2] + t1->p2[2] + t1->p3[2]) / 3);
    EXPECT_EQ(g_CollState.tri2, &plate->tris[0]);
    const float apart[3] = {10, 20, 50};
    ASSERT_EQ(CountContacts(beam, plate, COLL_FIRST_CONTACT, at, apart), 0);
    EXPECT_EQ(g_CollState.tri1, nullptr);
    EXPECT_EQ(g_CollState.tri2, nullptr);
    Coll_FreeModel(beam);
    Coll_FreeModel(plate);
}

TEST(CollisionLibrary, TouchingTrianglesCount) {
    const float e = 1.0f / 1024;
    struct Case {
        Tri other;
        bool touch;
    };
    const Case cases[] = {
        {{{{0.25f, 0.25f, 0}, {0.25f, 0.25f, 1}, {1, 1, 1}}}, true},      // a vertex on the face
        {{{{0.25f, 0.25f, e}, {0.25f, 0.25f, 1}, {1, 1, 1}}}, false},     // just above it
        {{{{0.5f, 0.5f, 0}, {0.5f, 0.5f, 1}, {1, 1, 0.5f}}}, true},       // a vertex on an edge
        {{{{1, 0, 0}, {0, 1, 0}, {1, 1, 0}}}, true},                      // an edge shared in the plane
        {{{{1, 0, 0}, {2, 0, 0}, {1, -1, 0}}}, true},                     // one shared corner
        {{{{0.5f + e, 0.5f + e, 0}, {2, 1, 0}, {1, 2, 0}}}, false},       // in the plane, just apart
        {{{{0.25f, 0.25f, -1}, {0.25f, 0.25f, 1}, {0.3f, 2, 0}}}, true},  // plainly through
    };
    CollModel* base = Build({{{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}}});
    int row = 0;
    for (const Case& k : cases) {
        CollModel* other = Build({k.other});
        EXPECT_EQ(CountContacts(base, other) > 0, k.touch) << "row " << row;
        EXPECT_EQ(CountContacts(other, base) > 0, k.touch) << "row " << row << ", swapped";
        Coll_FreeModel(other);
        ++row;
    }
    Coll_FreeModel(base);
}

TEST(CollisionLibrary, ScalesPlaceEachModelAndScaleZeroNeverCollides) {
    // Model 1: a wall in the plane x = 3. Model 2: a triangle reaching from
    // x = 0 to x = 2. Placed, the wall is at T1 + 3 s1, the tip at T2 + 2 s2.
    std::vector<Tri> wall;
    for (const Tri& t : Plate(3, 4)) {
        Tri w;
        for (int v = 0; v < 3; ++v) {
            w.p[v][0] = t.p[v][2];
            w.p[v][1] = t.p[v][0];
            w.p[v][2] = t.p[v][1];
        }
        wall.push_back(w);
    }
    CollModel* a = Build(wall);
    CollModel* b = Build({{{{0, -1, 0}, {0, 1, 0}, {2, 0, 0}}}});
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        float s1, s2, t1, t2;
        bool hit;
    };
    const Case cases[] = {
        {1, 1, 0, 0, false},   {1, 2, 0, 0, true},     {0.5f, 1, 0, 0, true}, {2, 2, 0, 0, false},
        {2, 4, 0, 0, true},    {1, 1.5f, 0, 0, true},  {2, 3, 0, 0, true},    {2, 3, 1, 0, false},
        {1, 1, 1, 2, true},    {1, 1, 1, 1.5f, false}, {-1, -1, 0, 0, false}, {-1, -2, 0, 0, true},
        {1, -2, 0, 0, false},  {0, 1, 0, 0, false},    {1, 0, 0, 0, false},   {0, 0, 0, 0, false},
        {inf, 1, 0, 0, false}, {1, inf, 0, 0, false},
    };
    for (const Case& k : cases) {
        const float T1[3] = {k.t1, 0, 0}, T2[3] = {k.t2, 0, 0};
        ASSERT_EQ(Coll_Detect(0, 0, 0, nullptr, kIdentity, T1, k.s1, a, kIdentity, T2, k.s2, b), COLL_OK);
        EXPECT_EQ(g_CollState.contacts > 0, k.hit)
            << "s1 " << k.s1 << " s2 " << k.s2 << " T1 " << k.t1 << " T2 " << k.t2;
    }
    // Scale 0 on model 2 collides on no infinities: even a model of points at
    // the origin of a wall through it is not hit.
    const float T2[3] = {3, 0, 0};
    ASSERT_EQ(Coll_Detect(0, 0, 0, nullptr, kIdentity, kOrigin, 1, a, kIdentity, T2, 0, b), COLL_OK);
    EXPECT_EQ(g_CollState.contacts, 0);
    Coll_FreeModel(a);
    Coll_FreeModel(b);
}

TEST(CollisionLibrary, TreeFindsExactlyThePairsOfOneTriangleModels) {
    // Every contact of two small spheres, turned, moved and scaled, against
    // the triangle pairs tested one by one as one-triangle models.
    const CollMesh m1 = CollMesh_NoisyIcosphere(1, 1.0f, 0.03f, 11);
    const CollMesh m2 = CollMesh_NoisyIcosphere(1, 1.0f, 0.03f, 12);
    CollModel* a = CollMesh_BuildModel(m1);
    CollModel* b = CollMesh_BuildModel(m2);
    auto singles = [](const CollMesh& m) {
        std::vector<CollModel*> out;
        for (int32_t t = 0; t < m.TriangleCount(); ++t) {
            const float* p[3];
            for (int c = 0; c < 3; ++c) p[c] = &m.vertices[3 * size_t(m.indices[3 * size_t(t) + c])];
            CollModel* s = Coll_NewBox();
            Coll_AddTri(s, p[0], p[1], p[2], t);
            Coll_EndModel(s);
            out.push_back(s);
        }
        return out;
    };
    const std::vector<CollModel*> one1 = singles(m1), one2 = singles(m2);
    const std::vector<CollPose> poses1 = CollMesh_Poses(12, 0.5f, 21), poses2 = CollMesh_Poses(12, 1.6f, 22);
    int hitPoses = 0;
    for (size_t i = 0; i < poses1.size(); ++i) {
        const float s1 = 1.0f + 0.25f * float(i % 3), s2 = 0.75f * s1;
        float T2[3];
        for (int k = 0; k < 3; ++k) T2[k] = poses1[i].T[k] + s1 * poses2[i].T[k];
        ASSERT_EQ(Coll_Detect(0, 0, 0, nullptr, poses1[i].R, poses1[i].T, s1, a, poses2[i].R, T2, s2, b), COLL_OK);
        const int32_t tree = g_CollState.contacts;
        int32_t pairs = 0;
        for (CollModel* x : one1)
            for (CollModel* y : one2) {
                Coll_Collide(poses1[i].R, poses1[i].T, s1, x, poses2[i].R, T2, s2, y, 0);
                pairs += g_CollState.contacts;
            }
        EXPECT_EQ(tree, pairs) << "pose " << i;
        if (pairs > 0) ++hitPoses;
    }
    EXPECT_GE(hitPoses, 4);
    EXPECT_LT(hitPoses, 12);
    for (CollModel* s : one1) Coll_FreeModel(s);
    for (CollModel* s : one2) Coll_FreeModel(s);
    Coll_FreeModel(a);
    Coll_FreeModel(b);
}

TEST(CollisionLibrary, CountsItsBytesAndSurvivesRunningOutOfMemory) {
    g_Win32MemorySeam = {};
    const int64_t before = Coll_GetMemUsed();
    CollModel* m = Coll_NewBox();
    const CollMesh mesh = CollMesh_NoisyIcosphere(1, 1.0f, 0.03f, 5);
    for (int32_t t = 0; t < mesh.TriangleCount(); ++t) {
        const float* p[3];
        for (int c = 0; c < 3; ++c) p[c] = &mesh.vertices[3 * size_t(mesh.indices[3 * size_t(t) + c])];
        ASSERT_EQ(Coll_AddTri(m, p[0], p[1], p[2], t), COLL_OK);
    }
    EXPECT_EQ(m->triCapacity, 128);
    const int64_t withTris = Coll_GetMemUsed();
    EXPECT_GE(withTris - before, int64_t(sizeof(CollModel) + 128 * sizeof(CollTri)));

    // The heap refuses (the allocator tries twice): the build gives up, frees
    // what it took and leaves the model begun.
    LogCapture log;
    g_Win32MemorySeam.failHeapAllocs = 2;
    EXPECT_EQ(Coll_EndModel(m), COLL_ERR_MEMORY);
    g_Win32MemorySeam = {};
    EXPECT_TRUE(log.Contains("ERROR: Coll EndModel: 1\n"));
    EXPECT_EQ(m->buildState, COLL_STATE_BEGUN);
    EXPECT_EQ(m->boxes, nullptr);
    EXPECT_EQ(Coll_GetMemUsed(), withTris);

    ASSERT_EQ(Coll_EndModel(m), COLL_OK);
    EXPECT_EQ(m->boxCapacity, 160u);
    EXPECT_EQ(Coll_GetMemUsed(), withTris + int64_t(160 * sizeof(CollBox)));

    // A full triangle array that cannot grow.
    CollModel* full = Coll_NewBox();
    const float p[3] = {0, 0, 0}, q[3] = {1, 0, 0}, r[3] = {0, 1, 0};
    ASSERT_EQ(Coll_AddTri(full, p, q, r, 0), COLL_OK);
    g_Win32MemorySeam.failHeapAllocs = 2;
    EXPECT_EQ(Coll_AddTri(full, p, q, r, 1), COLL_ERR_MEMORY);
    g_Win32MemorySeam = {};
    EXPECT_EQ(full->triCount, 1);

    Coll_FreeModel(m);
    Coll_FreeModel(full);
    EXPECT_EQ(Coll_GetMemUsed(), before);
}

}  // namespace
