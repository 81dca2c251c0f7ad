// D3DX meshes over the device's vertex and index buffers: adjacency, cleaning,
// cloning into another declaration and the vertex-cache optimisation, which
// meshoptimizer does.
#include <meshoptimizer.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <numeric>
#include <tuple>
#include <vector>

#include "platform/d3dx/d3dx9.h"

namespace {

constexpr DWORD kNone = 0xFFFFFFFFu;

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

class Buffer final : public ID3DXBuffer {
public:
    explicit Buffer(DWORD size) : bytes_(size, 0) {}
    ULONG AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG Release() override {
        int left = --refs_;
        if (left == 0) delete this;
        return static_cast<ULONG>(left < 0 ? 0 : left);
    }
    void* GetBufferPointer() override { return bytes_.data(); }
    DWORD GetBufferSize() override { return static_cast<DWORD>(bytes_.size()); }

private:
    ~Buffer() override = default;
    std::vector<uint8_t> bytes_;
    int refs_ = 1;
};

std::vector<D3DVERTEXELEMENT9> ReadElements(const D3DVERTEXELEMENT9* d) {
    std::vector<D3DVERTEXELEMENT9> out;
    for (UINT i = 0; d && i < MAXD3DDECLLENGTH && d[i].Stream != 0xFF; ++i) out.push_back(d[i]);
    return out;
}

// One element as four floats, (0, 0, 0, 1) where the type has fewer.
void ReadElement(BYTE type, const uint8_t* p, float out[4]) {
    out[0] = out[1] = out[2] = 0.0f;
    out[3] = 1.0f;
    switch (type) {
        case D3DDECLTYPE_FLOAT1:
        case D3DDECLTYPE_FLOAT2:
        case D3DDECLTYPE_FLOAT3:
        case D3DDECLTYPE_FLOAT4: std::memcpy(out, p, (type + 1u) * 4u); break;
        case D3DDECLTYPE_FLOAT16_2:
        case D3DDECLTYPE_FLOAT16_4: {
            uint16_t h[4];
            UINT n = type == D3DDECLTYPE_FLOAT16_2 ? 2 : 4;
            std::memcpy(h, p, n * 2);
            D3DXFloat16To32Array(out, h, n);
            break;
        }
        case D3DDECLTYPE_DEC3N: {
            uint32_t v;
            std::memcpy(&v, p, 4);
            for (int i = 0; i < 3; ++i) {
                int32_t c = static_cast<int32_t>((v >> (10 * i)) & 0x3FF);
                if (c & 0x200) c -= 0x400;
                out[i] = std::max(-1.0f, static_cast<float>(c) / 511.0f);
            }
            out[3] = 0.0f;  // the 2-bit field, always written 0
            break;
        }
        case D3DDECLTYPE_D3DCOLOR: {
            uint32_t c;
            std::memcpy(&c, p, 4);
            out[0] = ((c >> 16) & 0xFF) / 255.0f;
            out[1] = ((c >> 8) & 0xFF) / 255.0f;
            out[2] = (c & 0xFF) / 255.0f;
            out[3] = ((c >> 24) & 0xFF) / 255.0f;
            break;
        }
        case D3DDECLTYPE_UBYTE4N:
            for (int i = 0; i < 4; ++i) out[i] = p[i] / 255.0f;
            break;
        case D3DDECLTYPE_UBYTE4:
            for (int i = 0; i < 4; ++i) out[i] = p[i];
            break;
        default: break;
    }
}

uint32_t Unorm8(float v) { return static_cast<uint32_t>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f)); }

void WriteElement(BYTE type, uint8_t* p, const float in[4]) {
    switch (type) {
        case D3DDECLTYPE_FLOAT1:
        case D3DDECLTYPE_FLOAT2:
        case D3DDECLTYPE_FLOAT3:
        case D3DDECLTYPE_FLOAT4: std::memcpy(p, in, (type + 1u) * 4u); break;
        case D3DDECLTYPE_FLOAT16_2:
        case D3DDECLTYPE_FLOAT16_4: {
            uint16_t h[4];
            UINT n = type == D3DDECLTYPE_FLOAT16_2 ? 2 : 4;
            D3DXFloat32To16Array(h, in, n);
            std::memcpy(p, h, n * 2);
            break;
        }
        case D3DDECLTYPE_DEC3N: {
            uint32_t v = 0;
            for (int i = 0; i < 3; ++i) {
                float c = std::isfinite(in[i]) ? std::clamp(in[i], -1.0f, 1.0f) : 0.0f;
                auto q = static_cast<int32_t>(std::lround(c * 511.0f));
                v |= (static_cast<uint32_t>(q) & 0x3FFu) << (10 * i);
            }
            std::memcpy(p, &v, 4);
            break;
        }
        case D3DDECLTYPE_D3DCOLOR: {
            uint32_t c = Unorm8(in[3]) << 24 | Unorm8(in[0]) << 16 | Unorm8(in[1]) << 8 | Unorm8(in[2]);
            std::memcpy(p, &c, 4);
            break;
        }
        case D3DDECLTYPE_UBYTE4N:
            for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(Unorm8(in[i]));
            break;
        case D3DDECLTYPE_UBYTE4:
            for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(std::clamp(in[i], 0.0f, 255.0f));
            break;
        default: break;
    }
}

DWORD PoolOf(DWORD options, DWORD systemBit, DWORD managedBit) {
    if (options & systemBit) return D3DPOOL_SYSTEMMEM;
    if (options & managedBit) return D3DPOOL_MANAGED;
    return D3DPOOL_DEFAULT;
}

DWORD UsageOf(DWORD options, DWORD writeOnly, DWORD dynamic, DWORD software) {
    DWORD usage = 0;
    if (options & writeOnly) usage |= D3DUSAGE_WRITEONLY;
    if (options & dynamic) usage |= D3DUSAGE_DYNAMIC;
    if (options & software) usage |= D3DUSAGE_SOFTWAREPROCESSING;
    return usage;
}

class Mesh final : public ID3DXMesh {
public:
    Mesh(IDirect3DDevice9* device, DWORD options, std::vector<D3DVERTEXELEMENT9> elements)
        : device_(device), options_(options), elements_(std::move(elements)) {
        device_->AddRef();
        std::vector<D3DVERTEXELEMENT9> list = elements_;
        list.push_back(D3DDECL_END());
        stride_ = D3DXGetDeclVertexSize(list.data(), 0);
    }

    HRESULT Create(DWORD faces, DWORD vertices) {
        if (faces == 0 || vertices == 0 || stride_ == 0) return D3DERR_INVALIDCALL;
        if (!(options_ & D3DXMESH_32BIT) && vertices > 65535) return D3DERR_INVALIDCALL;
        HRESULT hr = device_->CreateVertexBuffer(
            vertices * stride_,
            UsageOf(options_, D3DXMESH_VB_WRITEONLY, D3DXMESH_VB_DYNAMIC, D3DXMESH_VB_SOFTWAREPROCESSING), 0,
            PoolOf(options_, D3DXMESH_VB_SYSTEMMEM, D3DXMESH_VB_MANAGED), &vb_, nullptr);
        if (FAILED(hr)) return hr;
        hr = device_->CreateIndexBuffer(
            faces * 3 * IndexSize(),
            UsageOf(options_, D3DXMESH_IB_WRITEONLY, D3DXMESH_IB_DYNAMIC, D3DXMESH_IB_SOFTWAREPROCESSING),
            (options_ & D3DXMESH_32BIT) ? D3DFMT_INDEX32 : D3DFMT_INDEX16,
            PoolOf(options_, D3DXMESH_IB_SYSTEMMEM, D3DXMESH_IB_MANAGED), &ib_, nullptr);
        if (FAILED(hr)) return hr;
        faces_ = faces;
        vertices_ = vertices;
        attributes_.assign(faces, 0);
        return D3D_OK;
    }

    ULONG AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG Release() override {
        int left = --refs_;
        if (left == 0) delete this;
        return static_cast<ULONG>(left < 0 ? 0 : left);
    }
    HRESULT QueryInterface(const GUID& iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!SameGuid(iid, IID_IUnknown)) return E_NOINTERFACE;
        AddRef();
        *out = this;
        return S_OK;
    }
    DWORD GetNumFaces() override { return faces_; }
    DWORD GetNumVertices() override { return vertices_; }
    DWORD GetNumBytesPerVertex() override { return stride_; }
    DWORD GetOptions() override { return options_; }
    HRESULT GetDevice(IDirect3DDevice9** out) override {
        if (!out) return D3DERR_INVALIDCALL;
        device_->AddRef();
        *out = device_;
        return D3D_OK;
    }
    HRESULT GetDeclaration(D3DVERTEXELEMENT9 out[MAX_FVF_DECL_SIZE]) override {
        if (!out) return D3DERR_INVALIDCALL;
        std::copy(elements_.begin(), elements_.end(), out);
        out[elements_.size()] = D3DDECL_END();
        return D3D_OK;
    }
    HRESULT GetVertexBuffer(IDirect3DVertexBuffer9** out) override {
        if (!out) return D3DERR_INVALIDCALL;
        vb_->AddRef();
        *out = vb_;
        return D3D_OK;
    }
    HRESULT GetIndexBuffer(IDirect3DIndexBuffer9** out) override {
        if (!out) return D3DERR_INVALIDCALL;
        ib_->AddRef();
        *out = ib_;
        return D3D_OK;
    }
    HRESULT LockVertexBuffer(DWORD flags, void** data) override { return vb_->Lock(0, 0, data, flags); }
    HRESULT UnlockVertexBuffer() override { return vb_->Unlock(); }
    HRESULT LockIndexBuffer(DWORD flags, void** data) override { return ib_->Lock(0, 0, data, flags); }
    HRESULT UnlockIndexBuffer() override { return ib_->Unlock(); }
    HRESULT LockAttributeBuffer(DWORD, DWORD** data) override {
        if (!data) return D3DERR_INVALIDCALL;
        *data = attributes_.data();
        return D3D_OK;
    }
    HRESULT UnlockAttributeBuffer() override { return D3D_OK; }

    HRESULT GenerateAdjacency(float epsilon, DWORD* adjacency) override;
    HRESULT ConvertPointRepsToAdjacency(const DWORD* pointReps, DWORD* adjacency) override;
    HRESULT CloneMesh(DWORD options, const D3DVERTEXELEMENT9* declaration, IDirect3DDevice9* device,
                      ID3DXMesh** clone) override;
    HRESULT OptimizeInplace(DWORD flags, const DWORD* adjacencyIn, DWORD* adjacencyOut, DWORD* faceRemap,
                            ID3DXBuffer** vertexRemap) override;

    // Copies of the contents, for the operations that rebuild a mesh.
    HRESULT ReadIndices(std::vector<uint32_t>* out) {
        void* p = nullptr;
        HRESULT hr = LockIndexBuffer(D3DLOCK_READONLY, &p);
        if (FAILED(hr)) return hr;
        out->resize(static_cast<size_t>(faces_) * 3);
        for (size_t i = 0; i < out->size(); ++i) {
            if (options_ & D3DXMESH_32BIT) std::memcpy(&(*out)[i], static_cast<uint8_t*>(p) + i * 4, 4);
            else {
                uint16_t v;
                std::memcpy(&v, static_cast<uint8_t*>(p) + i * 2, 2);
                (*out)[i] = v;
            }
        }
        UnlockIndexBuffer();
        return D3D_OK;
    }
    HRESULT WriteIndices(const std::vector<uint32_t>& in) {
        void* p = nullptr;
        HRESULT hr = LockIndexBuffer(0, &p);
        if (FAILED(hr)) return hr;
        for (size_t i = 0; i < in.size(); ++i) {
            if (options_ & D3DXMESH_32BIT) std::memcpy(static_cast<uint8_t*>(p) + i * 4, &in[i], 4);
            else {
                auto v = static_cast<uint16_t>(in[i]);
                std::memcpy(static_cast<uint8_t*>(p) + i * 2, &v, 2);
            }
        }
        UnlockIndexBuffer();
        return D3D_OK;
    }
    HRESULT ReadVertices(std::vector<uint8_t>* out) {
        void* p = nullptr;
        HRESULT hr = LockVertexBuffer(D3DLOCK_READONLY, &p);
        if (FAILED(hr)) return hr;
        out->assign(static_cast<uint8_t*>(p), static_cast<uint8_t*>(p) + static_cast<size_t>(vertices_) * stride_);
        UnlockVertexBuffer();
        return D3D_OK;
    }
    // Positions of all vertices; false without a float position.
    bool Positions(const std::vector<uint8_t>& bytes, std::vector<float>* out) const {
        for (const auto& e : elements_)
            if (e.Stream == 0 && e.Usage == D3DDECLUSAGE_POSITION && e.UsageIndex == 0) {
                out->resize(static_cast<size_t>(vertices_) * 3);
                for (DWORD v = 0; v < vertices_; ++v) {
                    float f[4];
                    ReadElement(e.Type, bytes.data() + static_cast<size_t>(v) * stride_ + e.Offset, f);
                    std::copy(f, f + 3, out->begin() + static_cast<ptrdiff_t>(v) * 3);
                }
                return true;
            }
        return false;
    }
    const std::vector<D3DVERTEXELEMENT9>& Elements() const { return elements_; }
    std::vector<DWORD>& Attributes() { return attributes_; }
    UINT IndexSize() const { return (options_ & D3DXMESH_32BIT) ? 4 : 2; }

private:
    ~Mesh() override {
        if (vb_) vb_->Release();
        if (ib_) ib_->Release();
        device_->Release();
    }
    // Rebuilds the buffers with another vertex count and these contents.
    HRESULT Replace(DWORD vertices, const std::vector<uint8_t>& bytes, const std::vector<uint32_t>& indices);

    IDirect3DDevice9* device_;
    DWORD options_;
    std::vector<D3DVERTEXELEMENT9> elements_;
    UINT stride_ = 0;
    DWORD faces_ = 0, vertices_ = 0;
    IDirect3DVertexBuffer9* vb_ = nullptr;
    IDirect3DIndexBuffer9* ib_ = nullptr;
    std::vector<DWORD> attributes_;
    int refs_ = 1;
};

// Adjacency from point representatives: the face across edge (a, b) is the
// face holding the edge (b, a) among the representatives.
void AdjacencyFromReps(const std::vector<uint32_t>& indices, const std::vector<DWORD>& reps, DWORD* adjacency) {
    size_t faces = indices.size() / 3;
    auto rep = [&](uint32_t v) { return v < reps.size() ? reps[v] : v; };
    // The edges leaving each point, in face order: the face across (a, b) is
    // the first other face among the edges leaving b that ends at a.
    uint32_t points = 0;
    for (uint32_t v : indices) points = std::max(points, rep(v) + 1);
    std::vector<uint32_t> start(static_cast<size_t>(points) + 1, 0);
    for (uint32_t v : indices) ++start[rep(v) + 1];
    for (uint32_t p = 0; p < points; ++p) start[p + 1] += start[p];
    std::vector<std::pair<DWORD, DWORD>> leaving(indices.size());  // (end point, face)
    std::vector<uint32_t> fill(start.begin(), start.end() - 1);
    for (size_t f = 0; f < faces; ++f)
        for (int e = 0; e < 3; ++e) {
            DWORD a = rep(indices[f * 3 + e]), b = rep(indices[f * 3 + (e + 1) % 3]);
            leaving[fill[a]++] = {b, static_cast<DWORD>(f)};
        }
    for (size_t f = 0; f < faces; ++f)
        for (int e = 0; e < 3; ++e) {
            DWORD a = rep(indices[f * 3 + e]), b = rep(indices[f * 3 + (e + 1) % 3]);
            DWORD found = kNone;
            for (uint32_t i = a != b ? start[b] : start[b + 1]; i < start[b + 1]; ++i)
                if (leaving[i].first == a && leaving[i].second != f) {
                    found = leaving[i].second;
                    break;
                }
            adjacency[f * 3 + e] = found;
        }
}

HRESULT Mesh::GenerateAdjacency(float epsilon, DWORD* adjacency) {
    if (!adjacency || epsilon < 0.0f) return D3DERR_INVALIDCALL;
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> indices;
    std::vector<float> pos;
    HRESULT hr = ReadVertices(&bytes);
    if (SUCCEEDED(hr)) hr = ReadIndices(&indices);
    if (FAILED(hr)) return hr;
    if (!Positions(bytes, &pos)) return D3DERR_INVALIDCALL;
    // The weld: each vertex is represented by the first vertex whose position
    // lies within epsilon on every axis. Sorted by x, only a window is searched.
    std::vector<DWORD> order(vertices_);
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(),
              [&](DWORD a, DWORD b) { return pos[a * 3] < pos[b * 3] || (pos[a * 3] == pos[b * 3] && a < b); });
    std::vector<DWORD> reps(vertices_);
    std::iota(reps.begin(), reps.end(), 0u);
    for (size_t i = 0; i < order.size(); ++i) {
        DWORD v = order[i];
        for (size_t j = i; j-- > 0;) {
            DWORD w = order[j];
            if (pos[v * 3] - pos[w * 3] > epsilon) break;
            if (std::fabs(pos[v * 3 + 1] - pos[w * 3 + 1]) <= epsilon &&
                std::fabs(pos[v * 3 + 2] - pos[w * 3 + 2]) <= epsilon && reps[w] < reps[v])
                reps[v] = reps[w];
        }
    }
    AdjacencyFromReps(indices, reps, adjacency);
    return D3D_OK;
}

HRESULT Mesh::ConvertPointRepsToAdjacency(const DWORD* pointReps, DWORD* adjacency) {
    if (!adjacency) return D3DERR_INVALIDCALL;
    std::vector<uint32_t> indices;
    HRESULT hr = ReadIndices(&indices);
    if (FAILED(hr)) return hr;
    std::vector<DWORD> reps(vertices_);
    if (pointReps) std::copy(pointReps, pointReps + vertices_, reps.begin());
    else std::iota(reps.begin(), reps.end(), 0u);
    AdjacencyFromReps(indices, reps, adjacency);
    return D3D_OK;
}

HRESULT Mesh::Replace(DWORD vertices, const std::vector<uint8_t>& bytes, const std::vector<uint32_t>& indices) {
    if (vertices != vertices_) {
        IDirect3DVertexBuffer9* fresh = nullptr;
        D3DVERTEXBUFFER_DESC d{};
        vb_->GetDesc(&d);
        HRESULT hr = device_->CreateVertexBuffer(vertices * stride_, d.Usage, 0, d.Pool, &fresh, nullptr);
        if (FAILED(hr)) return hr;
        vb_->Release();
        vb_ = fresh;
        vertices_ = vertices;
    }
    void* p = nullptr;
    HRESULT hr = LockVertexBuffer(0, &p);
    if (FAILED(hr)) return hr;
    std::memcpy(p, bytes.data(), static_cast<size_t>(vertices) * stride_);
    UnlockVertexBuffer();
    return WriteIndices(indices);
}

HRESULT Mesh::CloneMesh(DWORD options, const D3DVERTEXELEMENT9* declaration, IDirect3DDevice9* device,
                        ID3DXMesh** clone) {
    if (!clone) return D3DERR_INVALIDCALL;
    *clone = nullptr;
    if (!declaration) return D3DERR_INVALIDCALL;
    if (!device) device = device_;
    auto* out = new Mesh(device, options, ReadElements(declaration));
    HRESULT hr = out->Create(faces_, vertices_);
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> indices;
    if (SUCCEEDED(hr)) hr = ReadVertices(&bytes);
    if (SUCCEEDED(hr)) hr = ReadIndices(&indices);
    if (FAILED(hr)) {
        out->Release();
        return hr;
    }
    // Every element of the new declaration takes the element of the same
    // usage and index, converted; elements the source lacks stay zero.
    std::vector<uint8_t> target(static_cast<size_t>(vertices_) * out->stride_, 0);
    for (const auto& te : out->elements_) {
        const D3DVERTEXELEMENT9* se = nullptr;
        for (const auto& e : elements_)
            if (e.Usage == te.Usage && e.UsageIndex == te.UsageIndex) se = &e;
        if (!se) continue;
        for (DWORD v = 0; v < vertices_; ++v) {
            float f[4];
            ReadElement(se->Type, bytes.data() + static_cast<size_t>(v) * stride_ + se->Offset, f);
            WriteElement(te.Type, target.data() + static_cast<size_t>(v) * out->stride_ + te.Offset, f);
        }
    }
    out->attributes_ = attributes_;
    hr = out->Replace(vertices_, target, indices);
    if (FAILED(hr)) {
        out->Release();
        return hr;
    }
    *clone = out;
    return D3D_OK;
}

HRESULT Mesh::OptimizeInplace(DWORD flags, const DWORD* adjacencyIn, DWORD* adjacencyOut, DWORD* faceRemap,
                              ID3DXBuffer** vertexRemap) {
    if (vertexRemap) *vertexRemap = nullptr;
    if (!(flags & (D3DXMESHOPT_VERTEXCACHE | D3DXMESHOPT_COMPACT | D3DXMESHOPT_ATTRSORT))) return D3DERR_INVALIDCALL;
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> indices;
    HRESULT hr = ReadVertices(&bytes);
    if (SUCCEEDED(hr)) hr = ReadIndices(&indices);
    if (FAILED(hr)) return hr;
    // Faces sorted by attribute (stable), each group ordered for the cache.
    std::vector<DWORD> faceOrder(faces_);
    std::iota(faceOrder.begin(), faceOrder.end(), 0u);
    std::stable_sort(faceOrder.begin(), faceOrder.end(),
                     [&](DWORD a, DWORD b) { return attributes_[a] < attributes_[b]; });
    if (flags & D3DXMESHOPT_VERTEXCACHE) {
        size_t begin = 0;
        while (begin < faceOrder.size()) {
            size_t end = begin;
            while (end < faceOrder.size() && attributes_[faceOrder[end]] == attributes_[faceOrder[begin]]) ++end;
            std::vector<uint32_t> group((end - begin) * 3), optimised(group.size());
            for (size_t f = begin; f < end; ++f)
                for (int c = 0; c < 3; ++c) group[(f - begin) * 3 + c] = indices[faceOrder[f] * 3 + c];
            meshopt_optimizeVertexCache(optimised.data(), group.data(), group.size(), vertices_);
            // The optimiser hands back triangles, not their numbers: each one
            // is found again among the group's faces by its three indices.
            struct Corners {
                uint32_t a, b, c;
                DWORD face;
                bool operator<(const Corners& o) const {
                    return std::tie(a, b, c, face) < std::tie(o.a, o.b, o.c, o.face);
                }
            };
            std::vector<Corners> byCorners;
            byCorners.reserve(end - begin);
            for (size_t f = begin; f < end; ++f) {
                const uint32_t* t = &indices[faceOrder[f] * 3];
                byCorners.push_back({t[0], t[1], t[2], faceOrder[f]});
            }
            std::sort(byCorners.begin(), byCorners.end());
            std::vector<bool> taken(byCorners.size(), false);
            for (size_t i = 0; i < end - begin; ++i) {
                const uint32_t* t = &optimised[i * 3];
                Corners probe{t[0], t[1], t[2], 0};
                auto it = std::lower_bound(byCorners.begin(), byCorners.end(), probe);
                while (it != byCorners.end() && taken[static_cast<size_t>(it - byCorners.begin())]) ++it;
                if (it == byCorners.end() || it->a != t[0] || it->b != t[1] || it->c != t[2])
                    return D3DERR_INVALIDCALL;  // nothing written yet: the mesh stays as it was
                taken[static_cast<size_t>(it - byCorners.begin())] = true;
                faceOrder[begin + i] = it->face;
            }
            begin = end;
        }
    }
    std::vector<uint32_t> newIndices(indices.size());
    std::vector<DWORD> newAttributes(faces_);
    for (DWORD f = 0; f < faces_; ++f) {
        for (int c = 0; c < 3; ++c) newIndices[f * 3 + c] = indices[faceOrder[f] * 3 + c];
        newAttributes[f] = attributes_[faceOrder[f]];
    }
    // Vertices in first-use order. The mesh keeps its buffers (an in-place
    // optimisation), so vertices no face uses move to the end instead of going.
    std::vector<unsigned int> remap(vertices_);
    DWORD used = vertices_;
    std::vector<uint8_t> newBytes = bytes;
    std::vector<DWORD> oldOfNew(vertices_);
    std::iota(oldOfNew.begin(), oldOfNew.end(), 0u);
    if (flags & (D3DXMESHOPT_VERTEXCACHE | D3DXMESHOPT_COMPACT)) {
        DWORD next = static_cast<DWORD>(
            meshopt_optimizeVertexFetchRemap(remap.data(), newIndices.data(), newIndices.size(), vertices_));
        for (DWORD v = 0; v < vertices_; ++v)
            if (remap[v] == ~0u) remap[v] = next++;
        for (DWORD v = 0; v < vertices_; ++v) {
            oldOfNew[remap[v]] = v;
            std::memcpy(newBytes.data() + static_cast<size_t>(remap[v]) * stride_,
                        bytes.data() + static_cast<size_t>(v) * stride_, stride_);
        }
        for (auto& i : newIndices) i = remap[i];
    }
    hr = Replace(used, newBytes, newIndices);
    if (FAILED(hr)) return hr;
    attributes_ = newAttributes;
    if (faceRemap) std::copy(faceOrder.begin(), faceOrder.end(), faceRemap);
    if (adjacencyOut) {
        if (adjacencyIn) {
            std::vector<DWORD> newOfOld(faces_);
            for (DWORD f = 0; f < faces_; ++f) newOfOld[faceOrder[f]] = f;
            std::vector<DWORD> out(static_cast<size_t>(faces_) * 3);
            for (DWORD f = 0; f < faces_; ++f)
                for (int e = 0; e < 3; ++e) {
                    DWORD a = adjacencyIn[faceOrder[f] * 3 + e];
                    out[f * 3 + e] = a < faces_ ? newOfOld[a] : kNone;
                }
            std::copy(out.begin(), out.end(), adjacencyOut);
        } else {
            ConvertPointRepsToAdjacency(nullptr, adjacencyOut);
        }
    }
    if (vertexRemap) {
        auto* b = new Buffer(used * 4);
        std::memcpy(b->GetBufferPointer(), oldOfNew.data(), static_cast<size_t>(used) * 4);
        *vertexRemap = b;
    }
    return D3D_OK;
}

}  // namespace

UINT D3DXGetDeclVertexSize(const D3DVERTEXELEMENT9* declaration, DWORD stream) {
    UINT size = 0;
    for (const auto& e : ReadElements(declaration))
        if (e.Stream == stream) size = std::max<UINT>(size, e.Offset + D3DDeclTypeSize(e.Type));
    return size;
}

HRESULT D3DXCreateBuffer(DWORD size, ID3DXBuffer** buffer) {
    if (!buffer) return D3DERR_INVALIDCALL;
    *buffer = new Buffer(size);
    return D3D_OK;
}

HRESULT D3DXCreateMesh(DWORD numFaces, DWORD numVertices, DWORD options, const D3DVERTEXELEMENT9* declaration,
                       IDirect3DDevice9* device, ID3DXMesh** mesh) {
    if (!mesh) return D3DERR_INVALIDCALL;
    *mesh = nullptr;
    if (!device || !declaration) return D3DERR_INVALIDCALL;
    auto* m = new Mesh(device, options, ReadElements(declaration));
    HRESULT hr = m->Create(numFaces, numVertices);
    if (FAILED(hr)) {
        m->Release();
        return hr;
    }
    *mesh = m;
    return D3D_OK;
}

HRESULT D3DXCleanMesh(D3DXCLEANTYPE cleanType, ID3DXMesh* meshIn, const DWORD* adjacencyIn, ID3DXMesh** meshOut,
                      DWORD* adjacencyOut, ID3DXBuffer** errorsAndWarnings) {
    if (errorsAndWarnings) *errorsAndWarnings = nullptr;
    if (!meshOut) return D3DERR_INVALIDCALL;
    *meshOut = nullptr;
    if (!meshIn || !adjacencyIn) return D3DERR_INVALIDCALL;
    auto* in = static_cast<Mesh*>(meshIn);
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> indices;
    HRESULT hr = in->ReadVertices(&bytes);
    if (SUCCEEDED(hr)) hr = in->ReadIndices(&indices);
    if (FAILED(hr)) return hr;
    DWORD faces = in->GetNumFaces(), vertices = in->GetNumVertices();
    UINT stride = in->GetNumBytesPerVertex();
    std::vector<uint32_t> out = indices;
    std::vector<DWORD> copyOf;             // original vertex of each added one
    std::vector<bool> ownVertices(faces);  // faces split off back to back

    auto corner = [&](DWORD f, uint32_t v) {
        for (int c = 0; c < 3; ++c)
            if (indices[f * 3 + c] == v) return c;
        return -1;
    };
    if (cleanType & D3DXCLEAN_BOWTIES) {
        // Faces around each vertex grouped into fans over the adjacency; every
        // fan after the first gets its own copy of the vertex. The adjacency
        // of edges shared by three faces need not be mutual, so the links are
        // taken in both directions. Lists are flat (offsets and entries).
        std::vector<uint32_t> linkStart(faces + 1, 0), linkList;
        for (DWORD f = 0; f < faces; ++f)
            for (int e = 0; e < 3; ++e) {
                DWORD n = adjacencyIn[f * 3 + e];
                if (n >= faces || n == f) continue;
                ++linkStart[f + 1];
                ++linkStart[n + 1];
            }
        for (DWORD f = 0; f < faces; ++f) linkStart[f + 1] += linkStart[f];
        linkList.resize(linkStart[faces]);
        std::vector<uint32_t> fill(linkStart.begin(), linkStart.end() - 1);
        for (DWORD f = 0; f < faces; ++f)
            for (int e = 0; e < 3; ++e) {
                DWORD n = adjacencyIn[f * 3 + e];
                if (n >= faces || n == f) continue;
                linkList[fill[f]++] = n;
                linkList[fill[n]++] = f;
            }
        std::vector<uint32_t> aroundStart(vertices + 1, 0), aroundList;
        auto eachCorner = [&](auto visit) {
            for (DWORD f = 0; f < faces; ++f)
                for (int c = 0; c < 3; ++c) {
                    uint32_t v = indices[f * 3 + c];
                    bool repeated = (c > 0 && indices[f * 3] == v) || (c > 1 && indices[f * 3 + 1] == v);
                    if (v < vertices && !repeated) visit(v, f);
                }
        };
        eachCorner([&](uint32_t v, DWORD) { ++aroundStart[v + 1]; });
        for (DWORD v = 0; v < vertices; ++v) aroundStart[v + 1] += aroundStart[v];
        aroundList.resize(aroundStart[vertices]);
        fill.assign(aroundStart.begin(), aroundStart.end() - 1);
        eachCorner([&](uint32_t v, DWORD f) { aroundList[fill[v]++] = f; });

        std::vector<int> fanOf(faces, -1);
        std::vector<DWORD> stack;
        for (uint32_t v = 0; v < vertices; ++v) {
            uint32_t first = aroundStart[v], last = aroundStart[v + 1];
            if (last - first < 2) continue;
            int fans = 0;
            for (uint32_t i = first; i < last; ++i) {
                DWORD start = aroundList[i];
                if (fanOf[start] >= 0) continue;
                fanOf[start] = fans;
                stack.assign(1, start);
                while (!stack.empty()) {
                    DWORD f = stack.back();
                    stack.pop_back();
                    for (uint32_t l = linkStart[f]; l < linkStart[f + 1]; ++l) {
                        DWORD n = linkList[l];
                        if (fanOf[n] >= 0 || corner(n, v) < 0) continue;
                        fanOf[n] = fans;
                        stack.push_back(n);
                    }
                }
                ++fans;
            }
            if (fans > 1) {
                std::vector<uint32_t> copies(static_cast<size_t>(fans), v);
                for (int k = 1; k < fans; ++k) {
                    copies[static_cast<size_t>(k)] = vertices + static_cast<uint32_t>(copyOf.size());
                    copyOf.push_back(v);
                }
                for (uint32_t i = first; i < last; ++i) {
                    DWORD f = aroundList[i];
                    out[f * 3 + static_cast<size_t>(corner(f, v))] = copies[static_cast<size_t>(fanOf[f])];
                }
            }
            for (uint32_t i = first; i < last; ++i) fanOf[aroundList[i]] = -1;
        }
    }
    if (cleanType & D3DXCLEAN_BACKFACING) {
        // A face lying back to back with the first face over the same three
        // vertices gets vertices of its own.
        std::vector<std::pair<uint64_t, DWORD>> byVertices;
        byVertices.reserve(faces);
        for (DWORD f = 0; f < faces; ++f) {
            uint32_t s[3] = {out[f * 3], out[f * 3 + 1], out[f * 3 + 2]};
            std::sort(s, s + 3);
            if (s[0] == s[1] || s[1] == s[2]) continue;
            byVertices.emplace_back((static_cast<uint64_t>(s[0]) << 42) ^ (static_cast<uint64_t>(s[1]) << 21) ^ s[2],
                                    f);
        }
        std::sort(byVertices.begin(), byVertices.end());
        std::vector<DWORD> backToBack;
        for (size_t i = 0; i < byVertices.size();) {
            size_t j = i + 1;
            const uint32_t* o = &out[byVertices[i].second * 3];
            uint32_t so[3] = {o[0], o[1], o[2]};
            std::sort(so, so + 3);
            for (; j < byVertices.size() && byVertices[j].first == byVertices[i].first; ++j) {
                const uint32_t* t = &out[byVertices[j].second * 3];
                uint32_t st[3] = {t[0], t[1], t[2]};
                std::sort(st, st + 3);
                if (!std::equal(so, so + 3, st)) continue;  // a key shared by chance
                // Back to back: the same cycle in the other direction.
                for (int r = 0; r < 3; ++r)
                    if (o[0] == t[r] && o[1] == t[(r + 2) % 3] && o[2] == t[(r + 1) % 3]) {
                        backToBack.push_back(byVertices[j].second);
                        break;
                    }
            }
            i = j;
        }
        std::sort(backToBack.begin(), backToBack.end());
        for (DWORD f : backToBack) {
            ownVertices[f] = true;
            for (int c = 0; c < 3; ++c) {
                uint32_t t = out[f * 3 + static_cast<size_t>(c)];
                uint32_t original = t < vertices ? t : copyOf[t - vertices];
                out[f * 3 + static_cast<size_t>(c)] = vertices + static_cast<uint32_t>(copyOf.size());
                copyOf.push_back(original);
            }
        }
    }
    DWORD total = vertices + static_cast<DWORD>(copyOf.size());
    D3DVERTEXELEMENT9 decl[MAX_FVF_DECL_SIZE];
    in->GetDeclaration(decl);
    DWORD options = in->GetOptions();
    if (total > 65535) options |= D3DXMESH_32BIT;
    IDirect3DDevice9* device = nullptr;
    in->GetDevice(&device);
    ID3DXMesh* made = nullptr;
    hr = D3DXCreateMesh(faces, total, options, decl, device, &made);
    device->Release();
    if (FAILED(hr)) return hr;
    auto* m = static_cast<Mesh*>(made);
    std::vector<uint8_t> newBytes(static_cast<size_t>(total) * stride);
    std::memcpy(newBytes.data(), bytes.data(), bytes.size());
    for (size_t i = 0; i < copyOf.size(); ++i)
        std::memcpy(newBytes.data() + (vertices + i) * stride, bytes.data() + static_cast<size_t>(copyOf[i]) * stride,
                    stride);
    void* p = nullptr;
    hr = m->LockVertexBuffer(0, &p);
    if (SUCCEEDED(hr)) {
        std::memcpy(p, newBytes.data(), newBytes.size());
        m->UnlockVertexBuffer();
        hr = m->WriteIndices(out);
    }
    if (FAILED(hr)) {
        made->Release();
        return hr;
    }
    DWORD* attributes = nullptr;
    in->LockAttributeBuffer(D3DLOCK_READONLY, &attributes);
    std::copy(attributes, attributes + faces, m->Attributes().begin());
    if (adjacencyOut) {
        // The points of the new mesh follow the pairing of the adjacency in:
        // the two ends of every shared edge are one point each. A face given
        // vertices of its own is paired with nothing; a split vertex meets
        // the other fans of its old vertex through no edge, so it stays apart.
        std::vector<DWORD> reps(total);
        std::iota(reps.begin(), reps.end(), 0u);
        std::function<DWORD(DWORD)> find = [&](DWORD x) {
            while (reps[x] != x) x = reps[x] = reps[reps[x]];
            return x;
        };
        auto join = [&](DWORD x, DWORD y) {
            x = find(x), y = find(y);
            if (x != y) reps[std::max(x, y)] = std::min(x, y);
        };
        for (DWORD f = 0; f < faces; ++f)
            for (int e = 0; e < 3; ++e) {
                DWORD n = adjacencyIn[f * 3 + e];
                if (n >= faces || ownVertices[f] || ownVertices[n]) continue;
                for (int k = 0; k < 3; ++k)
                    if (adjacencyIn[n * 3 + k] == f) {
                        join(out[f * 3 + e], out[n * 3 + (k + 1) % 3]);
                        join(out[f * 3 + (e + 1) % 3], out[n * 3 + k]);
                        break;
                    }
            }
        for (DWORD& r : reps) r = find(r);
        AdjacencyFromReps(out, reps, adjacencyOut);
    }
    *meshOut = made;
    return D3D_OK;
}
