// Renderer bodies on the spy device: geometry shared by instances, kept for
// KEEPD3D bodies, 32-bit indices, failed parts taken back, texture flags.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "base/general.h"
#include "base/texcache.h"
#include "platform/d3d9/spy.h"
#include "render/bodies.h"
#include "render/mesh.h"
#include "scene/bodyrecord.h"
#include "scene/records.h"
#include "scene/state.h"
#include "render/fake_body.h"
#include "support/logcapture.h"
#include "system/adapters.h"
#include "system/video.h"

namespace {

class RendererBodies : public ::testing::Test {
protected:
    void SetUp() override {
        savedSystem_ = g_SystemState;
        savedState_ = g_B3DState;
        savedRenderer_ = g_RendererState;
        system_.debugFlags = S3D_BODY_LOG;
        g_SystemState = &system_;
        g_B3DState = B3D_InitStore();
        ASSERT_NE(g_B3DState, nullptr);
        spy_ = new D3D9SpyDevice();
        record_.device = spy_;
        renderer_.device = &record_;
        g_RendererState = &renderer_;
        ASSERT_TRUE(S_3DCreateVertexDeclarations());
        declarations_ = spy_->liveObjects;
        savedNumbered_ = g_TCNumberedCount;
        g_TCNumberedCount = 8;
        g_TCNamedCount = 0;
        ASSERT_FALSE(TC_AllocTextureTable());
    }
    void TearDown() override {
        for (auto& b : bodies_)
            if (b->level.rendererBody) S_3DFreeBodyParts(&b->level);
        S_3DReleaseVertexDeclarations();
        EXPECT_EQ(renderer_.bufferBytes, 0);
        EXPECT_EQ(spy_->liveObjects, 0);
        EXPECT_EQ(spy_->Release(), 0u);
        TC_FreeTextureTables();
        g_TCTextureInfo = nullptr;
        g_TCTextureInfoCount = 0;
        g_TCNumberedCount = savedNumbered_;
        B3D_FreeStore();
        g_RendererState = savedRenderer_;
        g_B3DState = savedState_;
        g_SystemState = savedSystem_;
    }
    FakeBody* Body(int32_t id, int32_t points, const std::vector<std::vector<BodyTriangle>>& groups) {
        bodies_.push_back(std::make_unique<FakeBody>(id, points, groups));
        B3D_StoreBody(id, &bodies_.back()->body);
        return bodies_.back().get();
    }
    Inst3D* Instance(int32_t bodyId) {
        insts_.push_back(std::make_unique<Inst3D>());
        Inst3D* i = insts_.back().get();
        i->bodyId = bodyId;
        i->name = const_cast<char*>("ship");
        return i;
    }
    static D3DBody* D3D(FakeBody* b) { return static_cast<D3DBody*>(b->level.rendererBody); }
    static D3DPartMesh* Mesh(FakeBody* b) { return static_cast<D3DPartMesh*>(b->part.rendererPart); }

    SystemState system_{};
    RendererState renderer_{};
    D3DDeviceRecord record_{};
    D3D9SpyDevice* spy_ = nullptr;
    int declarations_ = 0;
    std::vector<std::unique_ptr<FakeBody>> bodies_;
    std::vector<std::unique_ptr<Inst3D>> insts_;

private:
    SystemState* savedSystem_ = nullptr;
    B3DState* savedState_ = nullptr;
    RendererState* savedRenderer_ = nullptr;
    uint16_t savedNumbered_ = 0;
};

TEST_F(RendererBodies, TwoInstancesShareOneGeometryAndTheLastDeleteFreesIt) {
    FakeBody* b = Body(40, 6, {Fan(4)});
    Inst3D* first = Instance(40);
    Inst3D* second = Instance(40);
    ASSERT_EQ(S_3DAddInst(first), 1);
    D3DPartMesh* mesh = Mesh(b);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->part, &b->part);
    EXPECT_EQ(mesh->useCount, 1);
    ASSERT_EQ(mesh->groupCount, 1);
    EXPECT_EQ(mesh->groups[0].faceCount, 4u);
    EXPECT_EQ(mesh->groups[0].vertexCount, 6u);
    EXPECT_EQ(mesh->groups[0].triangleCount, 4);
    EXPECT_EQ(mesh->groups[0].material, 1);
    EXPECT_EQ(b->tris[0][0].word & S3D_TRIANGLE_MAPPED, S3D_TRIANGLE_MAPPED);
    const int meshes = spy_->Count("CreateVertexBuffer");
    const int64_t bytes = renderer_.bufferBytes;
    EXPECT_GT(bytes, 0);

    ASSERT_EQ(S_3DAddInst(second), 1);
    EXPECT_EQ(D3D(b)->refCount, 2);
    EXPECT_EQ(Mesh(b), mesh);
    EXPECT_EQ(spy_->Count("CreateVertexBuffer"), meshes);
    EXPECT_EQ(renderer_.bufferBytes, bytes);

    EXPECT_EQ(S_3DDeleteInst(first), 1);
    EXPECT_EQ(D3D(b)->refCount, 1);
    EXPECT_EQ(Mesh(b), mesh);
    EXPECT_EQ(S_3DDeleteInst(second), 1);
    EXPECT_EQ(b->level.rendererBody, nullptr);
    EXPECT_EQ(b->part.rendererPart, nullptr);
    EXPECT_EQ(renderer_.bufferBytes, 0);
    EXPECT_EQ(spy_->liveObjects, declarations_);
}

TEST_F(RendererBodies, AKeepD3DBodyKeepsItsGeometryAndSaysSoWhenReused) {
    FakeBody* b = Body(41, 4, {Fan(2)});
    b->body.flags |= BODY_KEEPD3D;
    Inst3D* inst = Instance(41);
    ASSERT_EQ(S_3DAddInst(inst), 1);
    D3DPartMesh* mesh = Mesh(b);
    LogCapture log;
    EXPECT_EQ(S_3DDeleteInst(inst), 1);
    EXPECT_TRUE(log.Contains("S_3DDeleteInst() bodyid 41 marked as KEEPD3D, not deleting D3D object!\n"));
    ASSERT_NE(D3D(b), nullptr);
    EXPECT_EQ(D3D(b)->refCount, 0);
    EXPECT_EQ(Mesh(b), mesh);
    ASSERT_EQ(S_3DAddInst(inst), 1);
    EXPECT_TRUE(log.Contains("S_3DAddBody() BA3DF_KEEPD3D body 41 reusing D3D info!\n"));
    EXPECT_EQ(D3D(b)->refCount, 1);
    EXPECT_EQ(Mesh(b), mesh);
}

TEST_F(RendererBodies, SeventyThousandPointsGiveThirtyTwoBitIndices) {
    std::vector<BodyTriangle> tris;
    for (int32_t t = 0; t < 23334; ++t) tris.push_back({{3 * t, 3 * t + 1, 3 * t + 2}, 0});
    FakeBody* b = Body(42, 70002, {tris});
    ASSERT_EQ(S_3DAddBody(&b->body), 1);
    const D3DPartMaterial& e = Mesh(b)->groups[0];
    ASSERT_NE(e.mesh, nullptr);
    EXPECT_EQ(e.vertexCount, 70002u);
    EXPECT_TRUE(e.mesh->GetOptions() & D3DXMESH_32BIT);
    // The small one alongside keeps 16-bit indices.
    FakeBody* small = Body(43, 6, {Fan(4)});
    ASSERT_EQ(S_3DAddBody(&small->body), 1);
    EXPECT_FALSE(Mesh(small)->groups[0].mesh->GetOptions() & D3DXMESH_32BIT);
}

TEST_F(RendererBodies, APartWithoutGroupsFailsAndTheNextAddStartsAfresh) {
    FakeBody* b = Body(44, 4, {});
    LogCapture log;
    EXPECT_EQ(S_3DAddBody(&b->body), 0);
    EXPECT_TRUE(log.Contains("S_3DAddInst() error creating part: 0\n"));
    EXPECT_EQ(b->level.rendererBody, nullptr);
    EXPECT_EQ(b->part.rendererPart, nullptr);
    // Nothing half-built is taken for a kept body.
    EXPECT_EQ(S_3DAddBody(&b->body), 0);
    EXPECT_FALSE(log.Contains("reusing D3D info"));
}

TEST_F(RendererBodies, PointsOutsideTheMeshFailThePart) {
    struct Case {
        const char* what;
        std::vector<BodyTriangle> tris;
        std::vector<int32_t> list;  // explicit vertex list, empty for none
    } cases[] = {
        {"corner past the points", {{{0, 1, 2}, 0}, {{0, 2, 9}, 0}}, {}},
        {"negative corner", {{{0, -1, 2}, 0}}, {}},
        {"list names a point past the table", {{{0, 1, 2}, 0}}, {0, 1, 2, 12}},
        {"list leaves a corner unmapped", {{{0, 1, 2}, 0}, {{1, 2, 3}, 0}}, {0, 1, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeBody* b = Body(45, 4, {Fan(1), c.tris});
        if (!c.list.empty()) {
            b->part.flags |= BPART_PRECALC;
            for (int32_t v : c.list) b->list.push_back({v, 0, 0, 0, 0, 0, 0});
            b->groups[1].precalcCount = static_cast<int32_t>(b->list.size());
            b->groups[1].precalc = b->list.data();
            b->groups[0].precalcCount = 3;
            b->groups[0].precalc = b->list.data();
        }
        LogCapture log;
        EXPECT_EQ(S_3DAddBody(&b->body), 0);
        EXPECT_TRUE(log.Contains("S_3DCreatePart() material group 1 of body 45 names a point the mesh does not have"));
        EXPECT_EQ(b->level.rendererBody, nullptr);
        EXPECT_EQ(renderer_.bufferBytes, 0);
        EXPECT_EQ(spy_->liveObjects, declarations_);
    }
}

TEST_F(RendererBodies, AnExplicitVertexListOrdersTheMeshVertices) {
    FakeBody* b = Body(46, 5, {{{{4, 2, 3}, 0}}});
    b->part.flags |= BPART_PRECALC;
    b->list = {{3, 0, 0, 0, 0, 0, 0}, {4, 0, 0, 0, 0, 0, 0}, {2, 0, 0, 0, 0, 0, 0}};
    b->groups[0].precalcCount = 3;
    b->groups[0].precalc = b->list.data();
    ASSERT_EQ(S_3DAddBody(&b->body), 1);
    EXPECT_EQ(Mesh(b)->groups[0].vertexCount, 3u);
    // The walk's mark is for walked groups only.
    EXPECT_EQ(b->tris[0][0].word & S3D_TRIANGLE_MAPPED, 0);
}

TEST_F(RendererBodies, TangentFramesAreBuiltFromTheTriangles) {
    // Plain float vertices (declaration 5) to read back.
    S_3DReleaseVertexDeclarations();
    spy_->caps.DeclTypes = 0;
    ASSERT_TRUE(S_3DCreateVertexDeclarations());
    // u grows along x, v along y, in the plane z = 0 facing +z.
    for (bool precalc : {false, true}) {
        SCOPED_TRACE(precalc);
        FakeBody* b = Body(precalc ? 61 : 60, 3, {{{{0, 1, 2}, 0}}});
        b->body.flags |= BODY_BUMP_EFFECT;
        b->points[0] = {0, 0, 0, 0, 0, 16384, 0, 0, 0};
        b->points[1] = {16384, 0, 0, 0, 0, 16384, 0x10000, 0, 0};
        b->points[2] = {0, 16384, 0, 0, 0, 16384, 0, 0x10000, 0};
        if (precalc) {
            b->part.flags |= BPART_PRECALC;
            b->list = {{0, 0, 0, 0, 0, 0, 0}, {1, 0, 0, 0, 0, 0, 0}, {2, 0, 0, 0, 0, 0, 0}};
            b->groups[0].precalcCount = 3;
            b->groups[0].precalc = b->list.data();
        }
        ASSERT_EQ(S_3DAddBody(&b->body), 1);
        D3DPartMaterial& e = Mesh(b)->groups[0];
        ASSERT_EQ(e.mesh->GetNumBytesPerVertex(), 56u);
        void* data = nullptr;
        ASSERT_EQ(e.mesh->LockVertexBuffer(D3DLOCK_READONLY, &data), D3D_OK);
        for (DWORD v = 0; v < e.mesh->GetNumVertices(); ++v) {
            const float* f = static_cast<const float*>(data) + v * 14;
            // The direction of v in the tangent element, of u in the binormal element.
            EXPECT_NEAR(f[8], 0.0f, 1e-5f) << v;
            EXPECT_NEAR(f[9], 1.0f, 1e-5f) << v;
            EXPECT_NEAR(f[10], 0.0f, 1e-5f) << v;
            EXPECT_NEAR(f[11], 1.0f, 1e-5f) << v;
            EXPECT_NEAR(f[12], 0.0f, 1e-5f) << v;
            EXPECT_NEAR(f[13], 0.0f, 1e-5f) << v;
        }
        e.mesh->UnlockVertexBuffer();
    }
}

TEST_F(RendererBodies, MaterialTexturesTakeTheMaterialFlagsMergedWithTheirDefinitions) {
    TC_TextureInfo info[5]{};
    info[3].flags = 0x200000 | 0x1;  // texture alpha is merged, alpha test is not
    g_TCTextureInfo = info;
    g_TCTextureInfoCount = 5;
    FakeBody* b = Body(47, 4, {Fan(2)});
    b->body.flags |= BODY_MATERIAL6;
    b->materials.resize(2);
    b->materials[1].flags = 0x4;
    b->materials[1].baseTexture = 3;  // inside the definitions
    b->materials[1].texture4 = 6;     // the bump map, outside them
    b->body.materials = b->materials.data();
    b->body.materialCount = 2;
    ASSERT_EQ(S_3DAddBody(&b->body), 1);
    EXPECT_EQ(TC_GetTextureFlags(3), 0x200004u);
    EXPECT_EQ(TC_GetTextureFlags(6), 0x4u);
    // The diffuse texture is held while the part lives.
    EXPECT_EQ(Mesh(b)->groups[0].textureRef, 3);
    EXPECT_EQ(TC_TextureTable[3].refCount, 1u);
    S_3DFreeBodyParts(&b->level);
    EXPECT_EQ(TC_TextureTable[3].refCount, 0u);

    // A body without materials of its own flags by the global definition.
    info[1].flags = 0x10;
    FakeBody* g = Body(48, 4, {Fan(2)});
    ASSERT_EQ(S_3DAddBody(&g->body), 1);
    EXPECT_EQ(TC_GetTextureFlags(1), 0x10u);
}

TEST_F(RendererBodies, DeletingAnInstanceOfAnUnknownBodyChangesNothing) {
    LogCapture log;
    EXPECT_EQ(S_3DDeleteInst(Instance(999)), 0);
    EXPECT_TRUE(log.Contains("S_3DDeleteInst() can't find bodyarray for bodyid 999\n"));
}

}  // namespace
