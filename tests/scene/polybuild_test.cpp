#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "base/memory.h"
#include "body_fixture.h"
#include "scene/polybuild.h"

namespace {

constexpr int32_t ONE = 65536;

class PolyBuild : public SceneTest {
protected:
    void SetUp() override {
        SceneTest::SetUp();
        body_ = static_cast<Body3D*>(B3D_AllocMemB(sizeof(Body3D), B3D_MEM_ZERO));
        level_ = B3D_AllocBodyLevel(body_);
        part_ = B3D_AllocBodyPart(level_);
    }
    void TearDown() override {
        B3D_PolyWorkFree();
        B3D_FreeBody(body_);
        SceneTest::TearDown();
    }
    // Source points in 16.16, as the text reader hands them over.
    void Points(std::vector<std::vector<int32_t>> pts) {
        points_.clear();
        for (auto& p : pts) points_.insert(points_.end(), {p[0], p[1], p[2], 0});
        g_B3DPolyWork.points = points_.data();
        g_B3DPolyWork.pointCount = int32_t(pts.size());
    }
    int32_t Add(std::vector<int32_t> corners, int32_t smooth, uint16_t word = 0, std::vector<int32_t> u = {}) {
        B3DPoly p{};
        p.n = int32_t(corners.size());
        for (size_t k = 0; k < corners.size(); ++k) {
            p.v[k] = corners[k];
            if (k < u.size()) p.tex[0][2 * k] = u[k];
        }
        p.smoothGroup = smooth;
        p.triWord = word;
        return B3D_AddPolyToBody(&p, 0, part_);
    }
    const int32_t* Normal(int32_t vertex) const { return g_B3DPolyWork.vertices[vertex].normal; }

    Body3D* body_ = nullptr;
    BodyLevel* level_ = nullptr;
    BodyPart* part_ = nullptr;
    std::vector<int32_t> points_;
};

TEST_F(PolyBuild, AdjacentQuadsShareTheirCommonCornersOnlyWhenSmoothed) {
    struct Case {
        int32_t smooth;
        int32_t vertices;
    };
    for (const Case c : {Case{1, 6}, Case{0, 8}}) {
        B3D_PolyWorkFree();
        Points({{0, 0, 0}, {ONE, 0, 0}, {ONE, ONE, 0}, {0, ONE, 0}, {2 * ONE, 0, 0}, {2 * ONE, ONE, 0}});
        ASSERT_EQ(Add({0, 1, 2, 3}, c.smooth), 1);
        ASSERT_EQ(Add({1, 4, 5, 2}, c.smooth), 1);
        EXPECT_EQ(g_B3DPolyWork.count, c.vertices) << "smoothing group " << c.smooth;
        EXPECT_EQ(g_B3DPolyWork.triCount[0], 4);
    }
}

TEST_F(PolyBuild, TextureWordsWithinOneAreShared) {
    struct Case {
        int32_t du;
        int32_t vertices;
    };
    for (const Case c : {Case{1, 4}, Case{-1, 4}, Case{2, 5}}) {
        B3D_PolyWorkFree();
        Points({{0, 0, 0}, {ONE, 0, 0}, {ONE, ONE, 0}, {0, ONE, 0}});
        ASSERT_EQ(Add({0, 1, 2}, 3, 0, {1000, 0, 0}), 1);
        ASSERT_EQ(Add({0, 2, 3}, 3, 0, {1000 + c.du, 0, 0}), 1);
        EXPECT_EQ(g_B3DPolyWork.count, c.vertices) << "difference " << c.du;
    }
}

TEST_F(PolyBuild, ACornerTakesTheEarliestVertexWithinOne) {
    // Two vertices at one point, texture words 1000 and 1002; 1001 is within
    // one of both and takes the first, 1003 only the second.
    Points({{0, 0, 0}, {ONE, 0, 0}, {ONE, ONE, 0}});
    ASSERT_EQ(Add({0, 1, 2}, 4, 0, {1000, 0, 0}), 1);
    ASSERT_EQ(Add({0, 1, 2}, 4, 0, {1002, 0, 0}), 1);
    ASSERT_EQ(Add({0, 1, 2}, 4, 0, {1001, 0, 0}), 1);
    ASSERT_EQ(Add({0, 1, 2}, 4, 0, {1003, 0, 0}), 1);
    const BodyTriangle* t = g_B3DPolyWork.tris[0];
    EXPECT_EQ(g_B3DPolyWork.count, 4);
    EXPECT_EQ(t[2].v[0], 0);
    EXPECT_EQ(t[3].v[0], 3);
}

TEST_F(PolyBuild, AGridOfTwentyThousandTrianglesSharesEveryPointAndGivesItsMemoryBack) {
    constexpr int32_t side = 100;
    std::vector<std::vector<int32_t>> pts;
    for (int32_t y = 0; y <= side; ++y)
        for (int32_t x = 0; x <= side; ++x) pts.push_back({x * ONE, y * ONE, 0});
    Points(pts);
    for (int32_t y = 0; y < side; ++y)
        for (int32_t x = 0; x < side; ++x) {
            const int32_t a = y * (side + 1) + x;
            ASSERT_EQ(Add({a, a + 1, a + side + 2, a + side + 1}, 1), 1);
        }
    EXPECT_EQ(g_B3DPolyWork.count, (side + 1) * (side + 1));
    // The last triangle's corners are the vertices at its points.
    const BodyTriangle& last = g_B3DPolyWork.tris[0][g_B3DPolyWork.triCount[0] - 1];
    const int32_t a = side * (side + 1) - 2;
    const int32_t corners[3] = {a, a + side + 2, a + side + 1};
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(g_B3DPolyWork.vertices[last.v[k]].pos[0], pts[size_t(corners[k])][0]) << k;
        EXPECT_EQ(g_B3DPolyWork.vertices[last.v[k]].pos[1], pts[size_t(corners[k])][1]) << k;
    }
    // Freeing gives back the working arrays (past their move out of the heap)
    // and the triangle array, in both books.
    const int64_t held = int64_t(g_B3DPolyWork.capacity) * int64_t(sizeof(B3DWorkVertex)) +
                         int64_t(B3D_MAX_TRIANGLES) * int64_t(sizeof(BodyTriangle));
    const int32_t pool = g_B3DState->poolBBytes;
    const int64_t tag = Int_GetTagMem(B3D_TAG_B);
    B3D_PolyWorkFree();
    EXPECT_EQ(pool - g_B3DState->poolBBytes, held);
    EXPECT_EQ(tag - Int_GetTagMem(B3D_TAG_B), held);
}

TEST_F(PolyBuild, ALargeBodyBuiltAgainOnTheKeptPagesComesOutTheSame) {
    // 12,000 vertices: past the heap, on pages the memory layer keeps.
    constexpr int32_t side = 109;
    std::vector<std::vector<int32_t>> pts;
    for (int32_t y = 0; y <= side; ++y)
        for (int32_t x = 0; x <= side; ++x) pts.push_back({x * ONE, y * ONE, (x * y) % 5 * ONE});
    std::vector<B3DWorkVertex> first;
    std::vector<BodyTriangle> firstTris;
    for (int round = 0; round < 2; ++round) {
        Points(pts);
        for (int32_t y = 0; y < side; ++y)
            for (int32_t x = 0; x < side; ++x) {
                const int32_t a = y * (side + 1) + x;
                ASSERT_EQ(Add({a, a + 1, a + side + 2, a + side + 1}, 1, 0, {x, x + 1, x + 1, x}), 1);
            }
        const auto* v = g_B3DPolyWork.vertices;
        const BodyTriangle* t = g_B3DPolyWork.tris[0];
        if (round == 0) {
            first.assign(v, v + g_B3DPolyWork.count);
            firstTris.assign(t, t + g_B3DPolyWork.triCount[0]);
            B3D_PolyWorkFree();
            EXPECT_GT(Int_GetKeptMem(), 0) << "the vertex array's pages are kept";
            continue;
        }
        EXPECT_EQ(Int_GetKeptMem(), 0) << "and taken again";
        ASSERT_EQ(size_t(g_B3DPolyWork.count), first.size());
        ASSERT_EQ(size_t(g_B3DPolyWork.triCount[0]), firstTris.size());
        EXPECT_EQ(memcmp(v, first.data(), first.size() * sizeof first[0]), 0);
        EXPECT_EQ(memcmp(t, firstTris.data(), firstTris.size() * sizeof firstTris[0]), 0);
    }
}

TEST_F(PolyBuild, QuadIsAFanFromItsFirstCornerWithThePolygonWord) {
    Points({{0, 0, 0}, {ONE, 0, 0}, {ONE, ONE, 0}, {0, ONE, 0}});
    ASSERT_EQ(Add({0, 1, 2, 3}, 0, 0x1234), 1);
    ASSERT_EQ(g_B3DPolyWork.triCount[0], 2);
    const BodyTriangle* t = g_B3DPolyWork.tris[0];
    EXPECT_EQ(std::vector<int32_t>(t[0].v, t[0].v + 3), (std::vector<int32_t>{0, 1, 2}));
    EXPECT_EQ(std::vector<int32_t>(t[1].v, t[1].v + 3), (std::vector<int32_t>{0, 2, 3}));
    EXPECT_EQ(t[0].word, 0x1234);
    EXPECT_EQ(t[1].word, 0x1234);
    ASSERT_EQ(part_->groupCount, 1);
    EXPECT_EQ(part_->groups[0].triCount, 2);
}

TEST_F(PolyBuild, NewMaterialsAppendGroups) {
    Points({{0, 0, 0}, {ONE, 0, 0}, {ONE, ONE, 0}});
    B3DPoly p{};
    p.n = 3;
    for (int32_t m : {7, 2, 7}) {
        p.v[0] = 0, p.v[1] = 1, p.v[2] = 2;
        p.material = m;
        ASSERT_EQ(B3D_AddPolyToBody(&p, 0, part_), 1);
    }
    ASSERT_EQ(part_->groupCount, 2);
    EXPECT_EQ(part_->groups[0].material, 7);
    EXPECT_EQ(part_->groups[1].material, 2);
    EXPECT_EQ(g_B3DPolyWork.triCount[0], 2);
    EXPECT_EQ(g_B3DPolyWork.triCount[1], 1);
}

TEST_F(PolyBuild, FlatNormalsAreTheFaceNormalSmoothedOnesWeighCornerAngles) {
    Points({{0, 0, 0}, {ONE, 0, 0}, {0, ONE, 0}});
    ASSERT_EQ(Add({0, 1, 2}, 0), 1);
    for (int32_t v = 0; v < 3; ++v)
        EXPECT_EQ(std::vector<int32_t>(Normal(v), Normal(v) + 3), (std::vector<int32_t>{0, 0, ONE}));

    B3D_PolyWorkFree();
    Points({{0, 0, 0}, {ONE, 0, 0}, {0, ONE, 0}});
    ASSERT_EQ(Add({0, 1, 2}, 5), 1);
    // A right angle adds a quarter turn (16384) times the face normal; the two
    // other corners an eighth each.
    EXPECT_EQ(Normal(0)[2], 16384);
    EXPECT_NEAR(Normal(1)[2], 8192, 2);
    EXPECT_NEAR(Normal(2)[2], 8192, 2);
    EXPECT_EQ(Normal(0)[0], 0);
}

TEST_F(PolyBuild, TriangleArraysHoldTwoHundredThousandTriangles) {
    Points({{0, 0, 0}, {ONE, 0, 0}, {ONE, ONE, 0}, {0, ONE, 0}});
    ASSERT_EQ(Add({0, 1, 2}, 0), 1);
    g_B3DPolyWork.triCount[0] = B3D_MAX_TRIANGLES - 1;
    const int32_t vertices = g_B3DPolyWork.count;
    EXPECT_EQ(Add({0, 1, 2, 3}, 0), -1);
    EXPECT_EQ(g_B3DPolyWork.triCount[0], B3D_MAX_TRIANGLES - 1);
    EXPECT_EQ(g_B3DPolyWork.count, vertices);
    EXPECT_EQ(Add({0, 1, 2}, 0), 1);
    EXPECT_EQ(g_B3DPolyWork.triCount[0], B3D_MAX_TRIANGLES);
}

TEST_F(PolyBuild, BoxCentreRadiusAndExtentOfAPart) {
    BodyPoint pts[3] = {};
    pts[1].x = 4000;
    pts[2].y = 2000;
    level_->points = pts;
    level_->pointCount = 3;
    BodyTriangle tri{{0, 1, 2}, 0};
    BodyGroup* g = B3D_PartAddGroup(part_, 0);
    g->tris = &tri;
    g->triCount = 1;
    B3D_PartBoundingBox(level_, part_);
    EXPECT_EQ(std::vector<int32_t>(part_->boxCentre, part_->boxCentre + 3), (std::vector<int32_t>{8000, 4000, 0}));
    EXPECT_EQ(std::vector<int32_t>(part_->boxSize, part_->boxSize + 3), (std::vector<int32_t>{8000, 4000, 0}));
    B3D_PartCenter(part_);
    EXPECT_EQ(part_->centre[0], 16000 / 3);
    EXPECT_EQ(part_->centre[1], 8000 / 3);
    EXPECT_EQ(B3D_PartRadius(part_), 16000 - 16000 / 3);
    int32_t extent[4] = {1, 1, 1, 1};
    EXPECT_EQ(B3D_LevelExtent(level_, extent), extent);
    EXPECT_EQ(std::vector<int32_t>(extent, extent + 4), (std::vector<int32_t>{16000, 8000, 0, 0}));
    g->tris = nullptr;
    g->triCount = 0;
    level_->points = nullptr;
    level_->pointCount = 0;
}

TEST(VecNormalizeScaled, ScalesToLengthOne) {
    struct Case {
        int32_t in[3];
        int32_t out[3];
    };
    const Case cases[] = {
        {{0, 0, 3 * ONE}, {0, 0, ONE}},     {{0, 0, 0}, {0, 0, 0}},   {{3 * ONE, 4 * ONE, 0}, {39321, 52428, 0}},
        {{-200 * ONE, 0, 0}, {-ONE, 0, 0}}, {{0, 1, 0}, {0, ONE, 0}},
    };
    for (const Case& c : cases) {
        int32_t v[3] = {c.in[0], c.in[1], c.in[2]};
        B3D_VecNormalizeScaled(&v[0], &v[1], &v[2]);
        EXPECT_EQ(std::vector<int32_t>(v, v + 3), std::vector<int32_t>(c.out, c.out + 3)) << c.in[0] << " " << c.in[1];
    }
}

}  // namespace
