// Vertex declarations and the part-mesh build on the spy device.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "base/general.h"
#include "base/memory.h"
#include "platform/d3d9/spy.h"
#include "render/mesh.h"
#include "support/logcapture.h"
#include "system/adapters.h"
#include "system/standin_fields.h"
#include "system/video.h"

namespace {

class PartMeshTest : public ::testing::Test {
protected:
    void SetUp() override {
        spy = new D3D9SpyDevice();
        savedRenderer_ = g_RendererState;
        savedSystem_ = g_SystemState;
        record_.device = spy;
        renderer_.device = &record_;
        g_RendererState = &renderer_;
        system_.debugFlags = 0x40000;
        g_SystemState = &system_;
        g_S3DMesh.bodyName = "hull";
    }
    void TearDown() override {
        S_3DReleaseVertexDeclarations();
        for (ID3DXMesh* m : meshes) m->Release();
        g_RendererState = savedRenderer_;
        g_SystemState = savedSystem_;
        g_S3DMesh.bodyName = nullptr;
        EXPECT_EQ(spy->liveObjects, 0);
        EXPECT_EQ(spy->Release(), 0u);
    }

    ID3DXMesh* Mesh(int declaration, DWORD faces, DWORD vertices, DWORD options = D3DXMESH_MANAGED) {
        ID3DXMesh* m = nullptr;
        EXPECT_EQ(D3DXCreateMesh(faces, vertices, options, S3D_DeclarationElements[declaration], spy, &m), D3D_OK);
        if (m) meshes.push_back(m);
        return m;
    }

    static std::vector<float> Floats(ID3DXMesh* m) {
        void* p = nullptr;
        m->LockVertexBuffer(D3DLOCK_READONLY, &p);
        std::vector<float> out(m->GetNumVertices() * m->GetNumBytesPerVertex() / 4);
        std::memcpy(out.data(), p, out.size() * 4);
        m->UnlockVertexBuffer();
        return out;
    }

    D3D9SpyDevice* spy = nullptr;
    std::vector<ID3DXMesh*> meshes;

private:
    RendererState renderer_{};
    D3DDeviceRecord record_{};
    SystemState system_{};
    RendererState* savedRenderer_ = nullptr;
    SystemState* savedSystem_ = nullptr;
};

constexpr int16_t kOne = 16384;

TEST_F(PartMeshTest, DeclarationsFollowTheDeclarationTypes) {
    struct {
        DWORD types;
        int plain, tangent;
        uint32_t tangentSize;
    } cases[] = {
        {D3DDTCAPS_FLOAT16_4 | D3DDTCAPS_DEC3N, 3, 7, 24},
        {D3DDTCAPS_FLOAT16_4, 2, 6, 36},
        {D3DDTCAPS_DEC3N, 4, 8, 32},
        {0, 0, 0, 56},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.types);
        spy->caps.DeclTypes = c.types;
        LogCapture log;
        ASSERT_TRUE(S_3DCreateVertexDeclarations());
        for (int d = 1; d <= 10; ++d) {
            bool made = d == 1 || d == 5 || d == 9 || d == 10 || d == c.plain || d == c.tangent;
            EXPECT_EQ(g_S3DMesh.declarations[d] != nullptr, made) << "declaration " << d;
        }
        EXPECT_EQ(g_S3DMesh.smallFormats, c.plain ? 1 : 0);
        EXPECT_EQ(g_S3DMesh.tangentVertexSize, c.tangentSize);
        EXPECT_EQ(g_SysStandIn.vertexSize, static_cast<int32_t>(c.tangentSize));
        EXPECT_EQ(log.Contains("INFO: could not find smaller Vertex Formats!\n"), c.plain == 0);
        UINT count = 0;
        g_S3DMesh.declarations[5]->GetDeclaration(nullptr, &count);
        EXPECT_EQ(count, 6u);
    }
    // The four defaults are made first, in the order 10, 9, 1, 5.
    spy->calls.clear();
    spy->caps.DeclTypes = D3DDTCAPS_DEC3N;
    spy->fail["CreateVertexDeclaration"] = {D3D_OK, D3D_OK, D3D_OK, D3D_OK, E_FAIL};
    LogCapture log;
    ASSERT_TRUE(S_3DCreateVertexDeclarations());  // a small pair that fails is no failure
    EXPECT_EQ(g_S3DMesh.smallFormats, 0);
    EXPECT_EQ(g_S3DMesh.declarations[4], nullptr);
    EXPECT_EQ(g_S3DMesh.tangentVertexSize, 56u);
    EXPECT_TRUE(log.Contains("INFO: could not find smaller Vertex Formats!\n"));
    spy->fail["CreateVertexDeclaration"] = {D3D_OK, E_FAIL};
    EXPECT_FALSE(S_3DCreateVertexDeclarations());
    EXPECT_TRUE(log.Contains("ERROR: default CreateVertexDeclarations FAILED!\n"));
}

TEST_F(PartMeshTest, VerticesAndTrianglesGoThroughTheRemap) {
    S3DPartVertex v[4] = {
        {kOne, 0, 0, 0, 0, 24576, 0x10000, 0},  // normal (0, 0, 1.5): normalised
        {0, 0, 0, 0, 0, 0, 0, 0},               // not in the mesh
        {0, kOne / 2, 0, 0, kOne, 0, 0x8000, 0x8000},
        {0, 0, kOne, 0, 0, 0, 0, 0x10000},  // a zero normal stays zero
    };
    S3DPartTriangle t[2] = {{{0, 2, 3}, 0}, {{3, 2, 0}, 0}};
    int32_t remap[4] = {2, -1, 0, 1};
    S3DPartSource part{0, 4, v, 2, t, nullptr};
    ID3DXMesh* m = Mesh(1, 2, 3);
    ASSERT_EQ(S_3D_FillMesh_VB(&part, remap, 0, m), 1);
    std::vector<float> f = Floats(m);
    const float want[3][8] = {{0, 0.5f, 0, 0.5f, 0.5f, 0, 1, 0},  // engine vertex 2
                              {0, 0, 1, 0, 1, 0, 0, 0},           // engine vertex 3
                              {1, 0, 0, 1, 0, 0, 0, 1}};          // engine vertex 0
    for (int i = 0; i < 3; ++i)
        for (int k = 0; k < 8; ++k) EXPECT_FLOAT_EQ(f[i * 8 + k], want[i][k]) << i << "," << k;
    EXPECT_EQ(part.flags, 0u);

    LogCapture log;
    ASSERT_EQ(S_3D_FillMesh_IB(&part, remap, m), 1);
    void* p = nullptr;
    m->LockIndexBuffer(D3DLOCK_READONLY, &p);
    uint16_t idx[6];
    std::memcpy(idx, p, sizeof idx);
    m->UnlockIndexBuffer();
    EXPECT_EQ(std::vector<uint16_t>(idx, idx + 6), (std::vector<uint16_t>{2, 0, 1, 1, 0, 2}));
    ID3DXMesh* wide = Mesh(1, 2, 3, D3DXMESH_32BIT);
    ASSERT_EQ(S_3D_FillMesh_IB(&part, remap, wide), 1);
    wide->LockIndexBuffer(D3DLOCK_READONLY, &p);
    uint32_t wideIdx[6];
    std::memcpy(wideIdx, p, sizeof wideIdx);
    wide->UnlockIndexBuffer();
    EXPECT_EQ(wideIdx[3], 1u);
    EXPECT_EQ(log.Text(), "");

    // The triangle count must match the mesh; a failed lock is reported.
    part.triangleCount = 1;
    EXPECT_EQ(S_3D_FillMesh_IB(&part, remap, m), 0);
    EXPECT_EQ(log.Take(), "WARNING: \tS_3D_FillMesh_IB() PM3D_NumPolys != Mesh->GetNumFaces\n");
    part.triangleCount = 2;
    spy->fail["VB::Lock"] = {D3DERR_INVALIDCALL};
    EXPECT_EQ(S_3D_FillMesh_VB(&part, remap, 0, m), 0);
    EXPECT_EQ(log.Take(), "ERROR: cant lock VB S_3D_FillMesh_VB() [D3DERR_INVALIDCALL]\n");
    spy->fail["IB::Lock"] = {D3DERR_INVALIDCALL};
    EXPECT_EQ(S_3D_FillMesh_IB(&part, remap, m), 0);
    EXPECT_EQ(log.Take(), "ERROR: S_3D_FillMesh_IB() failed to LockIndexBuffer D3DERR_INVALIDCALL!\n");
    EXPECT_EQ(S_3D_FillMesh_VB(nullptr, remap, 0, m), 0);
    // A mesh of the other layout is refused rather than overrun.
    EXPECT_EQ(S_3D_FillMesh_VB(&part, remap, 0, Mesh(5, 2, 3)), 0);
}

TEST_F(PartMeshTest, WrapAndRepairFlags) {
    struct {
        uint32_t partFlags, materialFlags;
        int32_t u;
        bool zeroTangent;
        uint32_t added;
    } cases[] = {
        {0, 0, 0x8000, false, 0},
        {0, 0, 0x18000, false, PART_WRAPS},  // u = 1.5
        {0, 0, -1, false, PART_WRAPS},
        {PART_TANGENT_FRAME, MATERIAL_TANGENT_A, 0, false, 0},
        {PART_TANGENT_FRAME, MATERIAL_TANGENT_A, 0, true, PART_TANGENT_REPAIR},
        {PART_TANGENT_FRAME, MATERIAL_TANGENT_B, 0, true, 0},
        {PART_TANGENT_FRAME, 0, 0, false, PART_TANGENT_REPAIR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.partFlags << " " << c.materialFlags << " " << c.u);
        S3DPartVertex v[3] = {
            {0, 0, 0, 0, 0, kOne, c.u, 0}, {kOne, 0, 0, 0, 0, kOne, 0, 0}, {0, kOne, 0, 0, 0, kOne, 0, 0}};
        int16_t tangent = c.zeroTangent ? 0 : kOne;
        S3DPartTangent tan[3] = {
            {0, {tangent, 0, 0}, {0, kOne, 0}}, {0, {kOne, 0, 0}, {0, kOne, 0}}, {0, {kOne, 0, 0}, {0, kOne, 0}}};
        S3DPartTriangle t[1] = {{{0, 1, 2}, 0}};
        int32_t remap[3] = {0, 1, 2};
        S3DPartSource part{c.partFlags, 3, v, 1, t, tan};
        ID3DXMesh* m = Mesh(c.partFlags ? 5 : 1, 1, 3);
        ASSERT_EQ(S_3D_FillMesh_VB(&part, remap, c.materialFlags, m), 1);
        EXPECT_EQ(part.flags, c.partFlags | c.added);
    }
}

TEST_F(PartMeshTest, ZeroTangentsAreRebuiltFromTheTriangle) {
    // The corner at the origin with u = v = 0; (1, 0, 0) at u = 1 and (0, 1, 0)
    // at v = 1; every normal (0, 0, 1); no tangents at all.
    S3DPartVertex v[3] = {
        {0, 0, 0, 0, 0, kOne, 0, 0}, {kOne, 0, 0, 0, 0, kOne, 0x10000, 0}, {0, kOne, 0, 0, 0, kOne, 0, 0x10000}};
    S3DPartTangent none[3] = {};
    S3DPartTriangle t[1] = {{{0, 1, 2}, 0}};
    int32_t remap[3] = {0, 1, 2};
    S3DPartSource part{PART_TANGENT_FRAME, 3, v, 1, t, none};
    ID3DXMesh* m = Mesh(5, 1, 3);
    ASSERT_EQ(S_3D_FillMesh_VB(&part, remap, MATERIAL_TANGENT_A, m), 1);
    ASSERT_NE(part.flags & PART_TANGENT_REPAIR, 0u);
    LogCapture log;
    ASSERT_EQ(S_3D_FixTangentFrame(&part, t, remap, m), 1);
    std::vector<float> f = Floats(m);
    const float tangent[3] = {0, 1, 0}, binormal[3] = {1, 0, 0};
    for (int c = 0; c < 3; ++c)
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(f[c * 14 + 8 + k], tangent[k], 1e-6f) << "corner " << c;
            EXPECT_NEAR(f[c * 14 + 11 + k], binormal[k], 1e-6f) << "corner " << c;
        }
    EXPECT_EQ(log.Take(), "Body hull, tried fixing 3 tangents, 0 tangents remaining zero\n");

    // Corners with different normals: each frame is orthogonal to its own.
    S3DPartVertex tilted[3] = {{0, 0, 0, 0, 0, kOne, 0, 0},
                               {kOne, 0, 0, 11585, 0, 11585, 0x10000, 0},
                               {0, kOne, 0, 0, -11585, 11585, 0, 0x10000}};
    part.vertices = tilted;
    ASSERT_EQ(S_3D_FillMesh_VB(&part, remap, MATERIAL_TANGENT_A, m), 1);
    ASSERT_EQ(S_3D_FixTangentFrame(&part, t, remap, m), 1);
    f = Floats(m);
    for (int c = 0; c < 3; ++c) {
        const float* n = &f[c * 14 + 5];
        const float* tn = &f[c * 14 + 8];
        const float* bn = &f[c * 14 + 11];
        EXPECT_NEAR(n[0] * tn[0] + n[1] * tn[1] + n[2] * tn[2], 0.0f, 1e-4f) << "corner " << c;
        EXPECT_NEAR(n[0] * bn[0] + n[1] * bn[1] + n[2] * bn[2], 0.0f, 1e-4f) << "corner " << c;
        EXPECT_NEAR(tn[0] * tn[0] + tn[1] * tn[1] + tn[2] * tn[2], 1.0f, 1e-4f);
    }
    log.Take();

    // The same coordinates at all three corners leave no direction: zero stays zero.
    S3DPartVertex flat[3] = {{0, 0, 0, 0, 0, kOne, 0x4000, 0x4000},
                             {kOne, 0, 0, 0, 0, kOne, 0x4000, 0x4000},
                             {0, kOne, 0, 0, 0, kOne, 0x4000, 0x4000}};
    part.vertices = flat;
    ASSERT_EQ(S_3D_FillMesh_VB(&part, remap, MATERIAL_TANGENT_A, m), 1);
    ASSERT_EQ(S_3D_FixTangentFrame(&part, t, remap, m), 1);
    f = Floats(m);
    for (int c = 0; c < 3; ++c)
        for (int k = 8; k < 14; ++k) EXPECT_EQ(f[c * 14 + k], 0.0f);
    for (float x : f) EXPECT_FALSE(std::isnan(x));
    EXPECT_EQ(log.Take(), "Body hull, tried fixing 3 tangents, 3 tangents remaining zero\n");
}

// A part record with one group holding a mesh, its buffers and sizes.
struct OneGroup {
    D3DPartMaterial group{};
    explicit OneGroup(ID3DXMesh* mesh) {
        mesh->AddRef();
        group.mesh = mesh;
        mesh->GetVertexBuffer(&group.vertexBuffer);
        mesh->GetIndexBuffer(&group.indexBuffer);
        D3DVERTEXBUFFER_DESC vd{};
        D3DINDEXBUFFER_DESC id{};
        group.vertexBuffer->GetDesc(&vd);
        group.indexBuffer->GetDesc(&id);
        group.vertexBytes = vd.Size;
        group.indexBytes = id.Size;
        group.vertexCount = mesh->GetNumVertices();
        group.faceCount = mesh->GetNumFaces();
        g_RendererState->bufferBytes += vd.Size + id.Size;
    }
    void Free() {
        D3DPartMesh part{nullptr, 1, 1, nullptr, nullptr, 0};
        part.groups = static_cast<D3DPartMaterial*>(Int_AllocMem(sizeof(D3DPartMaterial), Int_MemTag(6)));
        *part.groups = group;
        S_3DFreePart(&part);
        EXPECT_EQ(part.groups, nullptr);
    }
};

ID3DXMesh* Filled(ID3DXMesh* m, const std::vector<float>& xyz, const std::vector<uint16_t>& idx) {
    void* p = nullptr;
    m->LockVertexBuffer(0, &p);
    UINT stride = m->GetNumBytesPerVertex();
    for (size_t i = 0; i < xyz.size() / 3; ++i) {
        float vertex[14] = {xyz[i * 3], xyz[i * 3 + 1], xyz[i * 3 + 2], 0.5f, 0.5f, 0, 0, 1, 1, 0, 0, 0, 1, 0};
        std::memcpy(static_cast<uint8_t*>(p) + i * stride, vertex, stride);
    }
    m->UnlockVertexBuffer();
    m->LockIndexBuffer(0, &p);
    std::memcpy(p, idx.data(), idx.size() * 2);
    m->UnlockIndexBuffer();
    return m;
}

TEST_F(PartMeshTest, CleanAndOptimiseWarnOfANewSize) {
    // Two fans touching at one vertex: cleaning splits it.
    ID3DXMesh* m = Filled(Mesh(1, 2, 5), {0, 0, 0, 1, 0, 0, 1, 1, 0, -1, 0, 0, -1, -1, 0}, {0, 1, 2, 0, 3, 4});
    OneGroup part(m);
    int64_t before = g_RendererState->bufferBytes;
    LogCapture log;
    ASSERT_EQ(S_3DConvertAndOptimizeMesh(&part.group), 1);
    EXPECT_EQ(log.Take(), "WARNING: D3DXCleanMesh() with new size [old 5] [new 6]\n");
    EXPECT_NE(part.group.mesh, m);
    EXPECT_EQ(part.group.vertexCount, 6u);
    EXPECT_EQ(part.group.faceCount, 2u);
    EXPECT_EQ(part.group.vertexBytes, 6u * 32);
    EXPECT_EQ(g_RendererState->bufferBytes, before + 32);

    // Without positions to weld the adjacency comes from the indices alone.
    spy->fail["VB::Lock"] = {D3DERR_INVALIDCALL};
    ASSERT_EQ(S_3DConvertAndOptimizeMesh(&part.group), 1);
    EXPECT_TRUE(
        log.Contains("WARNING: S_3DConvertAndOptimizeMesh() failed GenerateAdjacency() :D3DERR_INVALIDCALL !\n"));
    log.Take();
    spy->fail["VB::Lock"] = {D3DERR_INVALIDCALL};
    spy->fail["IB::Lock"] = {D3DERR_INVALIDCALL};
    EXPECT_EQ(S_3DConvertAndOptimizeMesh(&part.group), 0);
    EXPECT_TRUE(log.Contains(
        "ERROR: S_3DConvertAndOptimizeMesh() failed ConvertPointRepsToAdjacency() :D3DERR_INVALIDCALL !\n"));
    part.Free();
    EXPECT_EQ(g_RendererState->bufferBytes, 0);
}

TEST_F(PartMeshTest, SmallDeclarationAndWideIndices) {
    struct {
        DWORD types;
        uint32_t partFlags;
        int declaration;
        uint32_t bytes;
    } cases[] = {
        {D3DDTCAPS_FLOAT16_4 | D3DDTCAPS_DEC3N, PART_TANGENT_FRAME, 7, 24},
        {D3DDTCAPS_FLOAT16_4 | D3DDTCAPS_DEC3N, 0, 3, 16},
        {D3DDTCAPS_FLOAT16_4, PART_TANGENT_FRAME, 6, 36},
        {D3DDTCAPS_DEC3N, 0, 4, 24},
        {0, PART_TANGENT_FRAME, 5, 56},
        {0, 0, 1, 32},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.declaration);
        spy->caps.DeclTypes = c.types;
        ASSERT_TRUE(S_3DCreateVertexDeclarations());
        int from = c.partFlags ? 5 : 1;
        OneGroup part(Filled(Mesh(from, 1, 3), {0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 2}));
        ASSERT_EQ(S_3D_ConvertToSmallMesh(&part.group, c.partFlags), 1);
        EXPECT_EQ(part.group.declaration, c.declaration);
        EXPECT_EQ(part.group.mesh->GetNumBytesPerVertex(), c.bytes);
        EXPECT_EQ(part.group.vertexBytes, 3 * c.bytes);
        EXPECT_EQ(part.group.mesh->GetOptions(), D3DXMESH_WRITEONLY);
        part.Free();
    }
    EXPECT_EQ(g_RendererState->bufferBytes, 0);

    // 70,000 vertices are cloned with 32-bit indices; the managed-buffers
    // option keeps the clone's buffers managed.
    g_SystemState->deviceFlags |= 8;
    ID3DXMesh* big = Mesh(1, 1, 70000, D3DXMESH_32BIT | D3DXMESH_SYSTEMMEM);
    OneGroup part(big);
    ASSERT_EQ(S_3D_ConvertToSmallMesh(&part.group, 0), 1);
    EXPECT_EQ(part.group.mesh->GetOptions(), D3DXMESH_WRITEONLY | D3DXMESH_MANAGED | D3DXMESH_32BIT);
    D3DVERTEXBUFFER_DESC vd{};
    part.group.vertexBuffer->GetDesc(&vd);
    EXPECT_EQ(vd.Pool, D3DPOOL_MANAGED);
    part.Free();

    // No declaration at all: nothing to convert into.
    S_3DReleaseVertexDeclarations();
    OneGroup bare(Mesh(1, 1, 3));
    LogCapture log;
    EXPECT_EQ(S_3D_ConvertToSmallMesh(&bare.group, 0), 0);
    EXPECT_EQ(log.Take(), "ERROR: S_3D_ConvertToSmallMesh() no valid decl found!\n");
    bare.Free();
}

TEST_F(PartMeshTest, UpdatingWithTheOwnMeshDropsOneReference) {
    ID3DXMesh* m = Mesh(1, 1, 3);
    OneGroup part(m);
    D3DPartMaterial before = part.group;
    m->AddRef();  // the caller's extra reference
    LogCapture log;
    EXPECT_EQ(S_3D_UpdatePart3DMeshInfo(&part.group, m), 1);
    EXPECT_EQ(log.Take(), "INFO: same mesh as input for S_3D_UpdatePart3DMeshInfo, assuming 2 refs. \n ");
    EXPECT_EQ(std::memcmp(&before, &part.group, sizeof before), 0);
    m->AddRef();
    EXPECT_EQ(m->Release(), 2u);  // this test's and the group's
    part.Free();
}

TEST_F(PartMeshTest, FreeingAPartGivesBackEveryBuffer) {
    g_D3DCounters = {};
    OneGroup meshGroup(Mesh(1, 1, 3));
    D3DPartMaterial own{};
    ASSERT_EQ(spy->CreateVertexBuffer(96, 0, 0, D3DPOOL_MANAGED, &own.vertexBuffer, nullptr), D3D_OK);
    ASSERT_EQ(spy->CreateIndexBuffer(6, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &own.indexBuffer, nullptr), D3D_OK);
    own.vertexBytes = 96;
    own.indexBytes = 6;
    own.ownBuffers = 1;
    g_RendererState->bufferBytes += 102;
    g_D3DCounters.vertexBuffers = g_D3DCounters.indexBuffers = 1;
    D3DPartMesh part{nullptr, 1, 2, nullptr, nullptr, 0};
    part.groups = static_cast<D3DPartMaterial*>(Int_AllocMem(2 * sizeof(D3DPartMaterial), Int_MemTag(6)));
    part.groups[0] = meshGroup.group;
    part.groups[1] = own;
    int64_t tagBefore = Int_GetTagMem(6);
    S_3DFreePart(&part);
    EXPECT_EQ(g_RendererState->bufferBytes, 0);
    EXPECT_EQ(g_D3DCounters.vertexBuffers, 0);
    EXPECT_EQ(g_D3DCounters.indexBuffers, 0);
    EXPECT_EQ(Int_GetTagMem(6), tagBefore - static_cast<int64_t>(2 * sizeof(D3DPartMaterial)));
    EXPECT_EQ(part.groupCount, 0);
    for (ID3DXMesh*& m : meshes) m->Release();  // the test's own reference
    meshes.clear();
    EXPECT_EQ(spy->liveObjects, 0);
}

}  // namespace
