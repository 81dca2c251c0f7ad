// D3DX meshes on the spy device (buffers in memory) and the math helpers.
#include <gtest/gtest.h>
#include <meshoptimizer.h>

#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "platform/d3d9/spy.h"
#include "platform/d3dx/d3dx9.h"

namespace {

constexpr D3DVERTEXELEMENT9 kPositionUvNormal[] = {{0, 0, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_POSITION, 0},
                                                   {0, 12, D3DDECLTYPE_FLOAT2, 0, D3DDECLUSAGE_TEXCOORD, 0},
                                                   {0, 20, D3DDECLTYPE_FLOAT3, 0, D3DDECLUSAGE_NORMAL, 0},
                                                   D3DDECL_END()};
constexpr DWORD kNone = 0xFFFFFFFFu;

struct Vertex {
    float x, y, z, u, v, nx, ny, nz;
};

class MeshTest : public ::testing::Test {
protected:
    void SetUp() override { spy = new D3D9SpyDevice(); }
    void TearDown() override {
        for (ID3DXMesh* m : meshes) m->Release();
        EXPECT_EQ(spy->liveObjects, 0);
        EXPECT_EQ(spy->Release(), 0u);
    }

    ID3DXMesh* Make(const std::vector<Vertex>& vertices, const std::vector<uint32_t>& indices, DWORD options = 0) {
        ID3DXMesh* m = nullptr;
        EXPECT_EQ(D3DXCreateMesh(static_cast<DWORD>(indices.size() / 3), static_cast<DWORD>(vertices.size()), options,
                                 kPositionUvNormal, spy, &m),
                  D3D_OK);
        if (!m) return nullptr;
        meshes.push_back(m);
        void* p = nullptr;
        EXPECT_EQ(m->LockVertexBuffer(0, &p), D3D_OK);
        std::memcpy(p, vertices.data(), vertices.size() * sizeof(Vertex));
        m->UnlockVertexBuffer();
        EXPECT_EQ(m->LockIndexBuffer(0, &p), D3D_OK);
        for (size_t i = 0; i < indices.size(); ++i) {
            if (options & D3DXMESH_32BIT) std::memcpy(static_cast<uint8_t*>(p) + i * 4, &indices[i], 4);
            else {
                auto s = static_cast<uint16_t>(indices[i]);
                std::memcpy(static_cast<uint8_t*>(p) + i * 2, &s, 2);
            }
        }
        m->UnlockIndexBuffer();
        return m;
    }

    static std::vector<uint32_t> Indices(ID3DXMesh* m) {
        void* p = nullptr;
        m->LockIndexBuffer(D3DLOCK_READONLY, &p);
        std::vector<uint32_t> out(m->GetNumFaces() * 3);
        bool wide = m->GetOptions() & D3DXMESH_32BIT;
        for (size_t i = 0; i < out.size(); ++i) {
            if (wide) std::memcpy(&out[i], static_cast<uint8_t*>(p) + i * 4, 4);
            else {
                uint16_t s;
                std::memcpy(&s, static_cast<uint8_t*>(p) + i * 2, 2);
                out[i] = s;
            }
        }
        m->UnlockIndexBuffer();
        return out;
    }

    D3D9SpyDevice* spy = nullptr;
    std::vector<ID3DXMesh*> meshes;
};

Vertex At(float x, float y, float z = 0.0f) { return {x, y, z, x, y, 0, 0, 1}; }

TEST_F(MeshTest, CreationCountsAndOptions) {
    ID3DXMesh* m = Make({At(0, 0), At(1, 0), At(0, 1)}, {0, 1, 2}, D3DXMESH_MANAGED);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->GetNumFaces(), 1u);
    EXPECT_EQ(m->GetNumVertices(), 3u);
    EXPECT_EQ(m->GetNumBytesPerVertex(), 32u);
    EXPECT_EQ(m->GetOptions(), D3DXMESH_MANAGED);
    IDirect3DVertexBuffer9* vb = nullptr;
    ASSERT_EQ(m->GetVertexBuffer(&vb), D3D_OK);
    D3DVERTEXBUFFER_DESC vd{};
    vb->GetDesc(&vd);
    EXPECT_EQ(vd.Pool, D3DPOOL_MANAGED);
    EXPECT_EQ(vd.Size, 96u);
    vb->Release();
    IDirect3DIndexBuffer9* ib = nullptr;
    ASSERT_EQ(m->GetIndexBuffer(&ib), D3D_OK);
    D3DINDEXBUFFER_DESC id{};
    ib->GetDesc(&id);
    EXPECT_EQ(id.Format, D3DFMT_INDEX16);
    ib->Release();
    D3DVERTEXELEMENT9 decl[MAX_FVF_DECL_SIZE];
    ASSERT_EQ(m->GetDeclaration(decl), D3D_OK);
    EXPECT_EQ(decl[2].Usage, D3DDECLUSAGE_NORMAL);
    EXPECT_EQ(decl[3].Stream, 0xFF);
    // 16-bit indices reach 65535 vertices, no more.
    ID3DXMesh* big = nullptr;
    EXPECT_EQ(D3DXCreateMesh(1, 70000, 0, kPositionUvNormal, spy, &big), D3DERR_INVALIDCALL);
    EXPECT_EQ(big, nullptr);
    spy->fail["CreateIndexBuffer"] = {D3DERR_OUTOFVIDEOMEMORY};
    EXPECT_EQ(D3DXCreateMesh(1, 3, 0, kPositionUvNormal, spy, &big), D3DERR_OUTOFVIDEOMEMORY);
    EXPECT_EQ(big, nullptr);
}

TEST_F(MeshTest, AdjacencyWeldsWithinEpsilon) {
    // Two triangles sharing an edge through separate vertices a hair apart.
    std::vector<Vertex> v = {At(0, 0), At(1, 0), At(0, 1), At(1, 0.0000005f), At(1, 1), At(0, 1.0000005f)};
    ID3DXMesh* m = Make(v, {0, 1, 2, 3, 4, 5});
    std::vector<DWORD> adjacency(6);
    ASSERT_EQ(m->GenerateAdjacency(1e-6f, adjacency.data()), D3D_OK);
    EXPECT_EQ(adjacency, (std::vector<DWORD>{kNone, 1, kNone, kNone, kNone, 0}));
    ASSERT_EQ(m->GenerateAdjacency(0.0f, adjacency.data()), D3D_OK);  // no weld: apart
    EXPECT_EQ(adjacency, (std::vector<DWORD>(6, kNone)));
    // Point representatives say the same by hand; none means every vertex is its own.
    DWORD reps[6] = {0, 1, 2, 1, 4, 2};
    ASSERT_EQ(m->ConvertPointRepsToAdjacency(reps, adjacency.data()), D3D_OK);
    EXPECT_EQ(adjacency[1], 1u);
    EXPECT_EQ(adjacency[5], 0u);
    ASSERT_EQ(m->ConvertPointRepsToAdjacency(nullptr, adjacency.data()), D3D_OK);
    EXPECT_EQ(adjacency, (std::vector<DWORD>(6, kNone)));
    EXPECT_EQ(m->GenerateAdjacency(1e-6f, nullptr), D3DERR_INVALIDCALL);
}

TEST_F(MeshTest, CleaningSplitsBowtiesAndBackToBackFaces) {
    // Two fans meeting only at vertex 0: a bowtie.
    std::vector<Vertex> v = {At(0, 0), At(1, 0), At(1, 1), At(-1, 0), At(-1, -1)};
    ID3DXMesh* m = Make(v, {0, 1, 2, 0, 3, 4});
    std::vector<DWORD> adjacency(6), cleaned(6);
    ASSERT_EQ(m->GenerateAdjacency(1e-6f, adjacency.data()), D3D_OK);
    ID3DXMesh* out = nullptr;
    ASSERT_EQ(D3DXCleanMesh(D3DXCLEAN_SIMPLIFICATION, m, adjacency.data(), &out, cleaned.data(), nullptr), D3D_OK);
    meshes.push_back(out);
    EXPECT_EQ(out->GetNumVertices(), 6u);
    std::vector<uint32_t> idx = Indices(out);
    EXPECT_EQ(idx, (std::vector<uint32_t>{0, 1, 2, 5, 3, 4}));
    void* p = nullptr;
    out->LockVertexBuffer(D3DLOCK_READONLY, &p);
    Vertex copy;
    std::memcpy(&copy, static_cast<uint8_t*>(p) + 5 * sizeof(Vertex), sizeof copy);
    out->UnlockVertexBuffer();
    EXPECT_EQ(copy.x, 0.0f);  // the split vertex is a copy of vertex 0
    EXPECT_EQ(copy.nz, 1.0f);

    // A connected strip keeps its vertices; a face lying back to back with
    // another gets vertices of its own.
    ID3DXMesh* quad = Make({At(0, 0), At(1, 0), At(0, 1), At(1, 1)}, {0, 1, 2, 2, 1, 3, 0, 2, 1});
    std::vector<DWORD> a(9);
    quad->GenerateAdjacency(1e-6f, a.data());
    ID3DXMesh* cleanedQuad = nullptr;
    ASSERT_EQ(D3DXCleanMesh(D3DXCLEAN_SIMPLIFICATION, quad, a.data(), &cleanedQuad, nullptr, nullptr), D3D_OK);
    meshes.push_back(cleanedQuad);
    EXPECT_EQ(cleanedQuad->GetNumVertices(), 7u);
    idx = Indices(cleanedQuad);
    EXPECT_EQ(std::vector<uint32_t>(idx.begin(), idx.begin() + 6), (std::vector<uint32_t>{0, 1, 2, 2, 1, 3}));
    EXPECT_EQ(std::vector<uint32_t>(idx.begin() + 6, idx.end()), (std::vector<uint32_t>{4, 5, 6}));

    EXPECT_EQ(D3DXCleanMesh(D3DXCLEAN_SIMPLIFICATION, m, nullptr, &out, nullptr, nullptr), D3DERR_INVALIDCALL);

    // Two fans of two faces each, touching at vertex 0, with a welded seam in
    // the second fan: the adjacency out keeps every edge inside a fan.
    std::vector<Vertex> fans = {At(0, 0), At(1, 0), At(1, 1), At(0, 1), At(-1, 0), At(-1, -1), At(0, -1), At(-1, -1)};
    ID3DXMesh* two = Make(fans, {0, 1, 2, 0, 2, 3, 0, 4, 5, 0, 7, 6});
    std::vector<DWORD> in(12), outAdjacency(12);
    ASSERT_EQ(two->GenerateAdjacency(1e-6f, in.data()), D3D_OK);
    EXPECT_EQ(in, (std::vector<DWORD>{kNone, kNone, 1, 0, kNone, kNone, kNone, kNone, 3, 2, kNone, kNone}));
    ID3DXMesh* split = nullptr;
    ASSERT_EQ(D3DXCleanMesh(D3DXCLEAN_SIMPLIFICATION, two, in.data(), &split, outAdjacency.data(), nullptr), D3D_OK);
    meshes.push_back(split);
    EXPECT_EQ(split->GetNumVertices(), 9u);
    EXPECT_EQ(outAdjacency, in);
    // The face split off back to back is adjacent to nothing.
    std::vector<DWORD> quadOut(9);
    ID3DXMesh* again = nullptr;
    ASSERT_EQ(D3DXCleanMesh(D3DXCLEAN_SIMPLIFICATION, quad, a.data(), &again, quadOut.data(), nullptr), D3D_OK);
    meshes.push_back(again);
    EXPECT_EQ(std::vector<DWORD>(quadOut.begin() + 6, quadOut.end()), (std::vector<DWORD>(3, kNone)));
    EXPECT_EQ(quadOut[1], 1u);  // faces 0 and 1 keep their shared edge
    EXPECT_EQ(quadOut[3], 0u);
}

// A grid of w x h quads with its triangles in a scattered order.
void Grid(int w, int h, std::vector<Vertex>* v, std::vector<uint32_t>* idx) {
    for (int y = 0; y <= h; ++y)
        for (int x = 0; x <= w; ++x) v->push_back(At(static_cast<float>(x), static_cast<float>(y)));
    std::vector<std::array<uint32_t, 3>> faces;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint32_t a = static_cast<uint32_t>(y * (w + 1) + x), b = a + 1, c = a + static_cast<uint32_t>(w) + 1,
                     d = c + 1;
            faces.push_back({a, b, c});
            faces.push_back({c, b, d});
        }
    for (size_t i = 0; i < faces.size(); ++i) {
        const auto& f = faces[(i * 7919) % faces.size()];
        idx->insert(idx->end(), f.begin(), f.end());
    }
}

TEST_F(MeshTest, OptimisingForTheVertexCacheKeepsEveryTriangle) {
    std::vector<Vertex> v;
    std::vector<uint32_t> idx;
    Grid(20, 20, &v, &idx);
    ID3DXMesh* m = Make(v, idx);
    std::vector<DWORD> adjacency(idx.size()), after(idx.size()), faceRemap(idx.size() / 3);
    ASSERT_EQ(m->GenerateAdjacency(1e-6f, adjacency.data()), D3D_OK);
    ID3DXBuffer* vertexRemap = nullptr;
    ASSERT_EQ(
        m->OptimizeInplace(D3DXMESHOPT_VERTEXCACHE, adjacency.data(), after.data(), faceRemap.data(), &vertexRemap),
        D3D_OK);
    ASSERT_NE(vertexRemap, nullptr);
    ASSERT_EQ(vertexRemap->GetBufferSize(), v.size() * 4);
    auto* oldOfNew = static_cast<const DWORD*>(vertexRemap->GetBufferPointer());
    std::vector<uint32_t> out = Indices(m);
    void* p = nullptr;
    m->LockVertexBuffer(D3DLOCK_READONLY, &p);
    std::vector<Vertex> moved(v.size());
    std::memcpy(moved.data(), p, v.size() * sizeof(Vertex));
    m->UnlockVertexBuffer();
    // New face f is old face faceRemap[f], through the vertex remap.
    for (size_t f = 0; f < faceRemap.size(); ++f)
        for (int c = 0; c < 3; ++c) {
            ASSERT_EQ(oldOfNew[out[f * 3 + c]], idx[faceRemap[f] * 3 + c]);
            EXPECT_EQ(moved[out[f * 3 + c]].x, v[idx[faceRemap[f] * 3 + c]].x);
        }
    // Adjacency follows the faces.
    for (size_t f = 0; f < faceRemap.size(); ++f)
        for (int e = 0; e < 3; ++e) {
            DWORD was = adjacency[faceRemap[f] * 3 + e];
            if (was == kNone) EXPECT_EQ(after[f * 3 + e], kNone);
            else EXPECT_EQ(faceRemap[after[f * 3 + e]], was);
        }
    float before = meshopt_analyzeVertexCache(idx.data(), idx.size(), v.size(), 16, 0, 0).acmr;
    float optimised = meshopt_analyzeVertexCache(out.data(), out.size(), v.size(), 16, 0, 0).acmr;
    EXPECT_LT(optimised, before * 0.75f);
    vertexRemap->Release();
}

TEST_F(MeshTest, CloningConvertsTypesAndWidensIndices) {
    // 70,000 vertices in a fan of triangles: the clone needs 32-bit indices.
    std::vector<Vertex> v(70000);
    for (size_t i = 0; i < v.size(); ++i) {
        float f = static_cast<float>(i) / 70000.0f;
        v[i] = {f, 1.0f - f, 0.5f, f, 0.25f, 0.0f, 0.6f, 0.8f};
    }
    std::vector<uint32_t> idx;
    for (uint32_t i = 1; i + 1 < v.size(); i += 2) idx.insert(idx.end(), {0, i, i + 1});
    ID3DXMesh* m = Make(v, idx, D3DXMESH_32BIT | D3DXMESH_SYSTEMMEM);
    ASSERT_NE(m, nullptr);
    const D3DVERTEXELEMENT9 small[] = {{0, 0, D3DDECLTYPE_FLOAT16_4, 0, D3DDECLUSAGE_POSITION, 0},
                                       {0, 8, D3DDECLTYPE_FLOAT16_2, 0, D3DDECLUSAGE_TEXCOORD, 0},
                                       {0, 12, D3DDECLTYPE_DEC3N, 0, D3DDECLUSAGE_NORMAL, 0},
                                       D3DDECL_END()};
    ID3DXMesh* clone = nullptr;
    EXPECT_EQ(m->CloneMesh(D3DXMESH_WRITEONLY, small, spy, &clone), D3DERR_INVALIDCALL);
    ASSERT_EQ(m->CloneMesh(D3DXMESH_WRITEONLY | D3DXMESH_32BIT, small, spy, &clone), D3D_OK);
    meshes.push_back(clone);
    EXPECT_EQ(clone->GetNumBytesPerVertex(), 16u);
    EXPECT_EQ(clone->GetNumVertices(), 70000u);
    EXPECT_EQ(Indices(clone), idx);
    void* p = nullptr;
    ASSERT_EQ(clone->LockVertexBuffer(D3DLOCK_READONLY, &p), D3D_OK);
    const auto* bytes = static_cast<const uint8_t*>(p);
    for (size_t i : {size_t{0}, size_t{12345}, size_t{69999}}) {
        uint16_t half[6];
        std::memcpy(half, bytes + i * 16, 12);
        float f[6];
        D3DXFloat16To32Array(f, half, 6);
        EXPECT_NEAR(f[0], v[i].x, 1e-3f);
        EXPECT_NEAR(f[1], v[i].y, 1e-3f);
        EXPECT_EQ(f[3], 1.0f);  // w of a three-float position
        EXPECT_NEAR(f[4], v[i].u, 1e-3f);
        uint32_t n;
        std::memcpy(&n, bytes + i * 16 + 12, 4);
        EXPECT_EQ(n & 0x3FF, 0u);
        EXPECT_EQ((n >> 10) & 0x3FF, static_cast<uint32_t>(std::lround(0.6f * 511)));
        EXPECT_EQ((n >> 20) & 0x3FF, static_cast<uint32_t>(std::lround(0.8f * 511)));
        EXPECT_EQ(n >> 30, 0u);  // w field
    }
    clone->UnlockVertexBuffer();
}

TEST(D3DXMath, VectorsAndMatrices) {
    D3DXVECTOR3 zero{0, 0, 0}, out{1, 1, 1};
    D3DXVec3Normalize(&out, &zero);
    EXPECT_EQ(out.x, 0.0f);
    EXPECT_EQ(out.y, 0.0f);
    EXPECT_EQ(out.z, 0.0f);
    D3DXVECTOR3 v{3, 0, 4};
    D3DXVec3Normalize(&out, &v);
    EXPECT_FLOAT_EQ(out.x, 0.6f);
    EXPECT_FLOAT_EQ(out.z, 0.8f);

    D3DXMATRIX t, s, m, inv, id;
    D3DXMatrixTranslation(&t, 1, 2, 3);
    D3DXMatrixScaling(&s, 2, 4, 8);
    D3DXMatrixMultiply(&m, &s, &t);  // scale, then move
    D3DXVECTOR3 p{1, 1, 1};
    D3DXVec3TransformCoord(&out, &p, &m);
    EXPECT_FLOAT_EQ(out.x, 3.0f);
    EXPECT_FLOAT_EQ(out.y, 6.0f);
    EXPECT_FLOAT_EQ(out.z, 11.0f);
    D3DXVec3TransformNormal(&out, &p, &m);
    EXPECT_FLOAT_EQ(out.z, 8.0f);
    float det = 0;
    ASSERT_NE(D3DXMatrixInverse(&inv, &det, &m), nullptr);
    EXPECT_FLOAT_EQ(det, 64.0f);
    D3DXMatrixMultiply(&id, &m, &inv);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_NEAR(id.m[i][j], i == j ? 1.0f : 0.0f, 1e-6f);
    D3DXMATRIX singular{};
    EXPECT_EQ(D3DXMatrixInverse(&inv, &det, &singular), nullptr);

    // Looking down +z from the origin is the identity.
    D3DXVECTOR3 eye{0, 0, 0}, at{0, 0, 5}, up{0, 1, 0};
    D3DXMatrixLookAtLH(&m, &eye, &at, &up);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) EXPECT_NEAR(m.m[i][j], i == j ? 1.0f : 0.0f, 1e-6f);
    D3DXMatrixPerspectiveFovLH(&m, 3.14159265f / 2, 1.0f, 1.0f, 11.0f);
    D3DXVECTOR3 nearPoint{0, 0, 1}, farPoint{0, 0, 11};
    D3DXVec3TransformCoord(&out, &nearPoint, &m);
    EXPECT_NEAR(out.z, 0.0f, 1e-6f);
    D3DXVec3TransformCoord(&out, &farPoint, &m);
    EXPECT_NEAR(out.z, 1.0f, 1e-6f);
}

TEST(D3DXMath, HalfFloatsRoundToNearestEven) {
    const struct {
        float value;
        uint16_t half;
    } cases[] = {
        {0.0f, 0x0000},
        {-0.0f, 0x8000},
        {1.0f, 0x3C00},
        {-2.0f, 0xC000},
        {0.5f, 0x3800},
        {65504.0f, 0x7BFF},
        {1e6f, 0x7C00},
        {std::ldexp(1.0f, -24), 0x0001},
        {1e-9f, 0x0000},
        {1.00048828125f, 0x3C00},  // halfway: to even
        {1.00146484375f, 0x3C02},  // halfway: to even, upwards
        {std::ldexp(1.0f, -14), 0x0400},
    };
    for (const auto& c : cases) {
        uint16_t h;
        D3DXFloat32To16Array(&h, &c.value, 1);
        EXPECT_EQ(h, c.half) << c.value;
        float back;
        D3DXFloat16To32Array(&back, &h, 1);
        if (c.half != 0x7C00 && c.value != 1e-9f && c.half != 0x3C00 && c.half != 0x3C02) {
            EXPECT_EQ(back, c.value);
        }
    }
    uint16_t nan;
    float n = std::nanf("");
    D3DXFloat32To16Array(&nan, &n, 1);
    float back;
    D3DXFloat16To32Array(&back, &nan, 1);
    EXPECT_TRUE(std::isnan(back));
}

}  // namespace
