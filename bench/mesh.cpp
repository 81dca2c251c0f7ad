// Part meshes: cleaning and optimising for the vertex cache, the D3DX path the
// renderer takes (adjacency with a weld, clean, in-place optimisation) side by
// side with meshoptimizer's own functions called directly on the same
// indices. The counters give the vertex-cache miss ratio (transformed
// vertices per triangle, cache of 16) before and after.
#include <benchmark/benchmark.h>
#include <meshoptimizer.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "platform/d3d9/spy.h"
#include "platform/d3dx/d3dx9.h"
#include "render/mesh.h"

namespace {

struct PartGeometry {
    std::vector<float> vertices;  // declaration 1: position, uv, normal (8 floats)
    std::vector<uint32_t> indices;
    size_t vertexCount = 0;
};

// A hull-like part of about the given triangle count: a grid bent over a
// cylinder, its triangles in the scattered order an exporter might leave.
PartGeometry MakePart(int triangles) {
    PartGeometry g;
    int side = 1;
    while (2 * side * side < triangles) ++side;
    for (int y = 0; y <= side; ++y)
        for (int x = 0; x <= side; ++x) {
            float a = static_cast<float>(x) / side * 3.14159f, h = static_cast<float>(y) / side;
            float v[8] = {std::cos(a), h * 4.0f,    std::sin(a), static_cast<float>(x) / side,
                          h,           std::cos(a), 0,           std::sin(a)};
            g.vertices.insert(g.vertices.end(), v, v + 8);
        }
    g.vertexCount = g.vertices.size() / 8;
    std::vector<uint32_t> ordered;
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            auto a = static_cast<uint32_t>(y * (side + 1) + x), b = a + 1, c = a + static_cast<uint32_t>(side) + 1,
                 d = c + 1;
            ordered.insert(ordered.end(), {a, b, c, c, b, d});
        }
    size_t faces = ordered.size() / 3;
    for (size_t i = 0; i < faces; ++i) {
        size_t f = (i * 104729) % faces;
        g.indices.insert(g.indices.end(), ordered.begin() + static_cast<ptrdiff_t>(f * 3),
                         ordered.begin() + static_cast<ptrdiff_t>(f * 3 + 3));
    }
    return g;
}

float Acmr(const std::vector<uint32_t>& indices, size_t vertices) {
    return meshopt_analyzeVertexCache(indices.data(), indices.size(), vertices, 16, 0, 0).acmr;
}

ID3DXMesh* MakeMesh(IDirect3DDevice9* device, const PartGeometry& g) {
    ID3DXMesh* mesh = nullptr;
    DWORD options = D3DXMESH_SYSTEMMEM | (g.vertexCount > 65535 ? D3DXMESH_32BIT : 0);
    D3DXCreateMesh(static_cast<DWORD>(g.indices.size() / 3), static_cast<DWORD>(g.vertexCount), options,
                   S3D_DeclarationElements[1], device, &mesh);
    void* p = nullptr;
    mesh->LockVertexBuffer(0, &p);
    std::memcpy(p, g.vertices.data(), g.vertices.size() * 4);
    mesh->UnlockVertexBuffer();
    mesh->LockIndexBuffer(0, &p);
    for (size_t i = 0; i < g.indices.size(); ++i) {
        if (options & D3DXMESH_32BIT) std::memcpy(static_cast<uint8_t*>(p) + i * 4, &g.indices[i], 4);
        else {
            auto s = static_cast<uint16_t>(g.indices[i]);
            std::memcpy(static_cast<uint8_t*>(p) + i * 2, &s, 2);
        }
    }
    mesh->UnlockIndexBuffer();
    return mesh;
}

std::vector<uint32_t> IndicesOf(ID3DXMesh* mesh) {
    void* p = nullptr;
    mesh->LockIndexBuffer(D3DLOCK_READONLY, &p);
    std::vector<uint32_t> out(mesh->GetNumFaces() * 3);
    for (size_t i = 0; i < out.size(); ++i) {
        if (mesh->GetOptions() & D3DXMESH_32BIT) std::memcpy(&out[i], static_cast<uint8_t*>(p) + i * 4, 4);
        else {
            uint16_t s;
            std::memcpy(&s, static_cast<uint8_t*>(p) + i * 2, 2);
            out[i] = s;
        }
    }
    mesh->UnlockIndexBuffer();
    return out;
}

// The renderer's steps: adjacency (weld 1e-6), clean, vertex-cache order.
void BM_CleanAndOptimise(benchmark::State& state) {
    PartGeometry g = MakePart(static_cast<int>(state.range(0)));
    auto* device = new D3D9SpyDevice();
    std::vector<uint32_t> result;
    DWORD vertices = 0;
    for (auto _ : state) {
        state.PauseTiming();
        ID3DXMesh* mesh = MakeMesh(device, g);
        device->calls.clear();
        state.ResumeTiming();
        std::vector<DWORD> adjacency(g.indices.size()), cleaned(g.indices.size());
        mesh->GenerateAdjacency(1e-6f, adjacency.data());
        ID3DXMesh* clean = nullptr;
        D3DXCleanMesh(D3DXCLEAN_SIMPLIFICATION, mesh, adjacency.data(), &clean, cleaned.data(), nullptr);
        clean->OptimizeInplace(D3DXMESHOPT_VERTEXCACHE, cleaned.data(), nullptr, nullptr, nullptr);
        state.PauseTiming();
        result = IndicesOf(clean);
        vertices = clean->GetNumVertices();
        clean->Release();
        mesh->Release();
        state.ResumeTiming();
    }
    device->Release();
    state.counters["acmr_before"] = Acmr(g.indices, g.vertexCount);
    state.counters["acmr_after"] = Acmr(result, vertices);
    state.counters["triangles"] = static_cast<double>(g.indices.size() / 3);
}

// meshoptimizer alone on the same indices: cache order, then fetch order.
void BM_MeshoptimizerDirect(benchmark::State& state) {
    PartGeometry g = MakePart(static_cast<int>(state.range(0)));
    std::vector<uint32_t> result(g.indices.size());
    std::vector<float> vertices(g.vertices.size());
    for (auto _ : state) {
        meshopt_optimizeVertexCache(result.data(), g.indices.data(), g.indices.size(), g.vertexCount);
        meshopt_optimizeVertexFetch(vertices.data(), result.data(), result.size(), g.vertices.data(), g.vertexCount,
                                    8 * sizeof(float));
        benchmark::DoNotOptimize(result.data());
    }
    state.counters["acmr_before"] = Acmr(g.indices, g.vertexCount);
    state.counters["acmr_after"] = Acmr(result, g.vertexCount);
    state.counters["triangles"] = static_cast<double>(g.indices.size() / 3);
}

BENCHMARK(BM_CleanAndOptimise)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MeshoptimizerDirect)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
