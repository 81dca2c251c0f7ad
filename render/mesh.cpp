#include "render/mesh.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <unordered_set>
#include <vector>

#include "base/general.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/texcache.h"
#include "render/device.h"
#include "render/partdraw.h"
#include "system/adapters.h"
#include "system/standin_fields.h"
#include "system/video.h"

S3DMeshState g_S3DMesh = {{}, nullptr, 0, 56, 0x40000000, nullptr};

namespace {

constexpr BYTE F2 = D3DDECLTYPE_FLOAT2, F3 = D3DDECLTYPE_FLOAT3, F4 = D3DDECLTYPE_FLOAT4, H2 = D3DDECLTYPE_FLOAT16_2,
               H4 = D3DDECLTYPE_FLOAT16_4, N = D3DDECLTYPE_DEC3N, C = D3DDECLTYPE_D3DCOLOR;
constexpr BYTE POS = D3DDECLUSAGE_POSITION, UV = D3DDECLUSAGE_TEXCOORD, NRM = D3DDECLUSAGE_NORMAL,
               TAN = D3DDECLUSAGE_TANGENT, BIN = D3DDECLUSAGE_BINORMAL, COL = D3DDECLUSAGE_COLOR;
constexpr D3DVERTEXELEMENT9 END = D3DDECL_END();

constexpr D3DVERTEXELEMENT9 kDecl1[] = {{0, 0, F3, 0, POS, 0}, {0, 12, F2, 0, UV, 0}, {0, 20, F3, 0, NRM, 0}, END};
constexpr D3DVERTEXELEMENT9 kDecl2[] = {{0, 0, H4, 0, POS, 0}, {0, 8, H2, 0, UV, 0}, {0, 12, H4, 0, NRM, 0}, END};
constexpr D3DVERTEXELEMENT9 kDecl3[] = {{0, 0, H4, 0, POS, 0}, {0, 8, H2, 0, UV, 0}, {0, 12, N, 0, NRM, 0}, END};
constexpr D3DVERTEXELEMENT9 kDecl4[] = {{0, 0, F3, 0, POS, 0}, {0, 12, F2, 0, UV, 0}, {0, 20, N, 0, NRM, 0}, END};
constexpr D3DVERTEXELEMENT9 kDecl5[] = {{0, 0, F3, 0, POS, 0},  {0, 12, F2, 0, UV, 0},  {0, 20, F3, 0, NRM, 0},
                                        {0, 32, F3, 0, TAN, 0}, {0, 44, F3, 0, BIN, 0}, END};
constexpr D3DVERTEXELEMENT9 kDecl6[] = {{0, 0, H4, 0, POS, 0},  {0, 8, H2, 0, UV, 0},   {0, 12, H4, 0, NRM, 0},
                                        {0, 20, H4, 0, TAN, 0}, {0, 28, H4, 0, BIN, 0}, END};
constexpr D3DVERTEXELEMENT9 kDecl7[] = {{0, 0, H4, 0, POS, 0}, {0, 8, H2, 0, UV, 0},  {0, 12, N, 0, NRM, 0},
                                        {0, 16, N, 0, TAN, 0}, {0, 20, N, 0, BIN, 0}, END};
constexpr D3DVERTEXELEMENT9 kDecl8[] = {{0, 0, F3, 0, POS, 0}, {0, 12, F2, 0, UV, 0}, {0, 20, N, 0, NRM, 0},
                                        {0, 24, N, 0, TAN, 0}, {0, 28, N, 0, BIN, 0}, END};
constexpr D3DVERTEXELEMENT9 kDecl9[] = {
    {0, 0, F3, 0, POS, 0}, {0, 12, F2, 0, UV, 0}, {0, 20, F2, 0, UV, 1}, {0, 28, C, 0, COL, 0}, END};
constexpr D3DVERTEXELEMENT9 kDecl10[] = {{0, 0, F3, 0, POS, 0}, {0, 12, F2, 0, UV, 0}, {0, 20, C, 0, COL, 0}, END};

constexpr uint32_t kRendererTag = Int_MemTag(6);

template <class T>
void ReleaseInto(T*& object) {
    if (object) object->Release();
    object = nullptr;
}

struct Vec3 {
    float x, y, z;
};

D3DXVECTOR3 Normalized(float x, float y, float z) {
    D3DXVECTOR3 v{x, y, z}, out;
    D3DXVec3Normalize(&out, &v);
    return out;
}

bool IsZero(const float* v) { return v[0] == 0.0f && v[1] == 0.0f && v[2] == 0.0f; }

}  // namespace

const D3DVERTEXELEMENT9* const S3D_DeclarationElements[11] = {nullptr, kDecl1, kDecl2, kDecl3, kDecl4, kDecl5,
                                                              kDecl6,  kDecl7, kDecl8, kDecl9, kDecl10};
const uint32_t S3D_DeclarationVertexSize[11] = {0, 32, 20, 16, 24, 56, 36, 24, 32, 32, 24};
const char* const S3D_PartHandleNames[PH_COUNT] = {
    "g_mWorld",
    "g_mWorldIT",
    "g_mWorldViewProjection",
    "g_mViewInverse",
    "LightDir_Dir0",
    "LightDir_Color0",
    "g_LightAmbientIntensity",
    "t_DiffuseTexture",
    "t_BumpTexture",
    "t_SpecularTexture",
    "t_LightMapTexture",
    "t_CubeMapTexture",
    "t_NormalizeTex0",
    "t_NormalizeTex1",
    "t_POW_Tex",
    "t_Derive_ZTex",
    "t_varsk_LightingTex",
    "t_thuun_LightingTex",
    "t_drasz_LightingTex",
    "t_ossyl_LightingTex",
    "t_zevra_LightingTex",
    "t_meluq_LightingTex",
    "t_quorin_LightingTex",
    "t_solen_LightingTex",
    "t_asteroid_LightingTex",
    "t_Race_Lighting",
    "g_nNumLightPoint",
    "g_TexMatrix",
    "g_FogClip",
    "g_ZEnable",
    "g_ZWriteEnable",
    "t_DetailTexture",
    "p_DetailMapBlendWeight",
    "g_EnableFog",
    "g_Brightness",
    "g_Contrast",
    "g_Saturation",
    "g_Hue",
    "g_AlphaBlendEnable",
    "g_ALPHATESTENABLE",
    "g_SrcBlend",
    "g_DestBlend",
    "g_SrcBlendAlpha",
    "g_DestBlendAlpha",
    "g_AlphaValue",
    "g_ColorWriteEnable",
    "g_EnableGlow",
    "g_SeparateAlphaBlend",
};
const D3DVERTEXELEMENT9 S3D_QuadDeclaration[3] = {{0, 0, F4, 0, POS, 0}, {0, 16, F2, 0, UV, 0}, END};

// ---------------------------------------------------------------- declarations

void S_3DReleaseVertexDeclarations() {
    for (auto& d : g_S3DMesh.declarations) ReleaseInto(d);
    ReleaseInto(g_S3DMesh.quadDeclaration);
}

bool S_3DCreateVertexDeclarations() {
    S_3DReleaseVertexDeclarations();
    IDirect3DDevice9* device = S_3DDevice();
    auto create = [&](int n) {
        return device &&
               SUCCEEDED(device->CreateVertexDeclaration(S3D_DeclarationElements[n], &g_S3DMesh.declarations[n]));
    };
    bool ok = true;
    for (int n : {10, 9, 1, 5}) ok = create(n) && ok;
    if (!ok) {
        Qel_ErrPrintf("ERROR: default CreateVertexDeclarations FAILED!\n");
        return false;
    }
    D3DCAPS9 caps{};
    DWORD types = SUCCEEDED(device->GetDeviceCaps(&caps)) ? caps.DeclTypes : 0;
    bool half = types & D3DDTCAPS_FLOAT16_4, dec = types & D3DDTCAPS_DEC3N;
    int plain = 0, tangent = 0;
    if (half && dec) plain = 3, tangent = 7;
    else if (half) plain = 2, tangent = 6;
    else if (dec) plain = 4, tangent = 8;
    if (plain && create(plain) && create(tangent)) {
        g_S3DMesh.smallFormats = 1;
        g_S3DMesh.tangentVertexSize = S3D_DeclarationVertexSize[tangent];
    } else {
        if (plain) {
            ReleaseInto(g_S3DMesh.declarations[plain]);
            ReleaseInto(g_S3DMesh.declarations[tangent]);
        }
        Qel_DPrintf(0, "INFO: could not find smaller Vertex Formats!\n");
        g_S3DMesh.smallFormats = 0;
        g_S3DMesh.tangentVertexSize = S3D_DeclarationVertexSize[5];
    }
    // The size the benchmark report gives.
    g_SysStandIn.vertexSize = static_cast<int32_t>(g_S3DMesh.tangentVertexSize);
    device->CreateVertexDeclaration(S3D_QuadDeclaration, &g_S3DMesh.quadDeclaration);
    return true;
}

// ---------------------------------------------------------------- filling a mesh

int S_3D_FillMesh_VB(S3DPartSource* part, const int32_t* remap, uint32_t materialFlags, ID3DXMesh* mesh) {
    if (!part || !remap || !mesh || (part->vertexCount && !part->vertices)) return 0;
    bool frame = part->flags & PART_TANGENT_FRAME;
    UINT stride = frame ? 56 : 32;
    // A mesh of another layout would be written past its end.
    if (mesh->GetNumBytesPerVertex() != stride) return 0;
    void* data = nullptr;
    HRESULT hr = mesh->LockVertexBuffer(0, &data);
    if (FAILED(hr)) {
        Qel_DPrintf(0, "ERROR: cant lock VB S_3D_FillMesh_VB() [%s]\n", DXGetErrorString9A(hr));
        return 0;
    }
    auto* bytes = static_cast<uint8_t*>(data);
    DWORD meshVertices = mesh->GetNumVertices();
    bool wraps = false, repair = false;
    bool tangentBits = materialFlags & (MATERIAL_TANGENT_A | MATERIAL_TANGENT_B);
    for (uint32_t i = 0; i < part->vertexCount; ++i) {
        int32_t at = remap[i];
        if (at < 0 || static_cast<DWORD>(at) >= meshVertices) continue;
        const S3DPartVertex& v = part->vertices[i];
        float out[14] = {};
        out[0] = v.x / 16384.0f;
        out[1] = v.y / 16384.0f;
        out[2] = v.z / 16384.0f;
        out[3] = static_cast<float>(v.u) / 65536.0f;
        out[4] = static_cast<float>(v.v) / 65536.0f;
        if (out[3] < 0.0f || out[3] > 1.0f || out[4] < 0.0f || out[4] > 1.0f) wraps = true;
        D3DXVECTOR3 n = Normalized(v.nx / 16384.0f, v.ny / 16384.0f, v.nz / 16384.0f);
        out[5] = n.x, out[6] = n.y, out[7] = n.z;
        if (frame) {
            if (tangentBits && part->tangents) {
                const S3DPartTangent& t = part->tangents[i];
                D3DXVECTOR3 tan = Normalized(t.tangent[0] / 16384.0f, t.tangent[1] / 16384.0f, t.tangent[2] / 16384.0f);
                D3DXVECTOR3 bin =
                    Normalized(t.binormal[0] / 16384.0f, t.binormal[1] / 16384.0f, t.binormal[2] / 16384.0f);
                out[8] = tan.x, out[9] = tan.y, out[10] = tan.z;
                out[11] = bin.x, out[12] = bin.y, out[13] = bin.z;
                if ((materialFlags & MATERIAL_TANGENT_A) && (IsZero(&out[8]) || IsZero(&out[11]))) repair = true;
            } else if (!tangentBits) {
                repair = true;
            }
        }
        std::memcpy(bytes + static_cast<size_t>(at) * stride, out, stride);
    }
    mesh->UnlockVertexBuffer();
    if (wraps) part->flags |= PART_WRAPS;
    if (repair) part->flags |= PART_TANGENT_REPAIR;
    return 1;
}

int S_3D_FillMesh_IB(const S3DPartSource* part, const int32_t* remap, ID3DXMesh* mesh) {
    if (!part || !remap || !mesh || (part->triangleCount && !part->triangles)) return 0;
    if (part->triangleCount != mesh->GetNumFaces()) {
        Qel_DPrintf(0x40000, "WARNING: \tS_3D_FillMesh_IB() PM3D_NumPolys != Mesh->GetNumFaces\n");
        return 0;
    }
    void* data = nullptr;
    HRESULT hr = mesh->LockIndexBuffer(0, &data);
    if (FAILED(hr)) {
        Qel_DPrintf(0, "ERROR: S_3D_FillMesh_IB() failed to LockIndexBuffer %s!\n", DXGetErrorString9A(hr));
        return 0;
    }
    bool wide = mesh->GetOptions() & D3DXMESH_32BIT;
    for (uint32_t t = 0; t < part->triangleCount; ++t) {
        uint32_t corner[3];
        for (int c = 0; c < 3; ++c) {
            uint32_t v = part->triangles[t].v[c];
            // A corner naming no vertex of the mesh points at vertex 0 rather than outside.
            int32_t at = v < part->vertexCount ? remap[v] : -1;
            corner[c] = at >= 0 && static_cast<DWORD>(at) < mesh->GetNumVertices() ? static_cast<uint32_t>(at) : 0;
            if (wide) {
                std::memcpy(static_cast<uint8_t*>(data) + (t * 3 + c) * 4, &corner[c], 4);
            } else {
                auto s = static_cast<uint16_t>(corner[c]);
                std::memcpy(static_cast<uint8_t*>(data) + (t * 3 + c) * 2, &s, 2);
            }
        }
        Qel_DPrintf(g_S3DMesh.triangleDebugMask, "  (%3d %3d %3d)\n", static_cast<int>(corner[0]),
                    static_cast<int>(corner[1]), static_cast<int>(corner[2]));
    }
    mesh->UnlockIndexBuffer();
    return 1;
}

int S_3D_FixTangentFrame(const S3DPartSource* part, const S3DPartTriangle* triangles, const int32_t* remap,
                         ID3DXMesh* mesh) {
    if (!part || !triangles || !remap || !mesh || !part->vertices) return 0;
    if (part->triangleCount != mesh->GetNumFaces()) {
        Qel_DPrintf(0x40000, "WARNING: \tS_3D_FillMesh_IB() PM3D_NumPolys != Mesh->GetNumFaces\n");
        return 0;
    }
    if (mesh->GetNumBytesPerVertex() != 56) return 0;
    void* data = nullptr;
    HRESULT hr = mesh->LockVertexBuffer(0, &data);
    if (FAILED(hr)) {
        Qel_DPrintf(0, "ERROR: S_3D_FixTangentFrame() failed to LockVertexBuffer %s!\n", DXGetErrorString9A(hr));
        return 0;
    }
    auto* bytes = static_cast<uint8_t*>(data);
    DWORD meshVertices = mesh->GetNumVertices();
    int repairs = 0, zeros = 0;
    auto meshIndex = [&](uint32_t v) -> int32_t {
        if (v >= part->vertexCount) return -1;
        int32_t at = remap[v];
        return at >= 0 && static_cast<DWORD>(at) < meshVertices ? at : -1;
    };
    for (uint32_t t = 0; t < part->triangleCount; ++t) {
        const S3DPartTriangle& tri = triangles[t];
        for (int c = 0; c < 3; ++c) {
            int32_t at = meshIndex(tri.v[c]);
            if (at < 0) continue;
            uint8_t* vertex = bytes + static_cast<size_t>(at) * 56;
            float tangent[3], binormal[3];
            std::memcpy(tangent, vertex + 32, 12);
            std::memcpy(binormal, vertex + 44, 12);
            if (!IsZero(tangent) && !IsZero(binormal)) continue;
            ++repairs;
            uint32_t i1 = tri.v[(c + 1) % 3], i2 = tri.v[(c + 2) % 3];
            if (i1 >= part->vertexCount || i2 >= part->vertexCount) {
                ++zeros;
                continue;
            }
            const S3DPartVertex& b = part->vertices[tri.v[c]];
            const S3DPartVertex& p1 = part->vertices[i1];
            const S3DPartVertex& p2 = part->vertices[i2];
            float du1 = static_cast<float>(static_cast<int64_t>(p1.u) - b.u) / 65536.0f;
            float dv1 = static_cast<float>(static_cast<int64_t>(p1.v) - b.v) / 65536.0f;
            float du2 = static_cast<float>(static_cast<int64_t>(p2.u) - b.u) / 65536.0f;
            float dv2 = static_cast<float>(static_cast<int64_t>(p2.v) - b.v) / 65536.0f;
            Vec3 d1{(p1.x - b.x) / 16384.0f, (p1.y - b.y) / 16384.0f, (p1.z - b.z) / 16384.0f};
            Vec3 d2{(p2.x - b.x) / 16384.0f, (p2.y - b.y) / 16384.0f, (p2.z - b.z) / 16384.0f};
            float det = du1 * dv2 - du2 * dv1;
            float zero[3] = {0.0f, 0.0f, 0.0f};
            if (det == 0.0f) {
                std::memcpy(vertex + 32, zero, 12);
                std::memcpy(vertex + 44, zero, 12);
                ++zeros;
                continue;
            }
            float s = det > 0.0f ? 1.0f : -1.0f;
            Vec3 u{s * (dv2 * d1.x - dv1 * d2.x), s * (dv2 * d1.y - dv1 * d2.y), s * (dv2 * d1.z - dv1 * d2.z)};
            Vec3 v{s * (du1 * d2.x - du2 * d1.x), s * (du1 * d2.y - du2 * d1.y), s * (du1 * d2.z - du2 * d1.z)};
            Vec3 n{b.nx / 16384.0f, b.ny / 16384.0f, b.nz / 16384.0f};
            auto orthogonal = [&](Vec3 a) {
                float k = a.x * n.x + a.y * n.y + a.z * n.z;
                return Normalized(a.x - k * n.x, a.y - k * n.y, a.z - k * n.z);
            };
            D3DXVECTOR3 tan = orthogonal(v), bin = orthogonal(u);
            std::memcpy(vertex + 32, &tan, 12);
            std::memcpy(vertex + 44, &bin, 12);
        }
    }
    if (repairs)
        Qel_DPrintf(0x40000, "Body %s, tried fixing %d tangents, %d tangents remaining zero\n",
                    g_S3DMesh.bodyName ? g_S3DMesh.bodyName : "???", repairs, zeros);
    mesh->UnlockVertexBuffer();
    return 1;
}

// ---------------------------------------------------------------- clean, optimise, small form

int S_3D_UpdatePart3DMeshInfo(D3DPartMaterial* pm, ID3DXMesh* newMesh) {
    if (!pm || !newMesh) return 0;
    if (newMesh == pm->mesh) {
        newMesh->Release();
        Qel_DPrintf(0, "INFO: same mesh as input for S_3D_UpdatePart3DMeshInfo, assuming 2 refs. \n ");
        return 1;
    }
    IDirect3DVertexBuffer9* vb = nullptr;
    IDirect3DIndexBuffer9* ib = nullptr;
    if (FAILED(newMesh->GetVertexBuffer(&vb)) || FAILED(newMesh->GetIndexBuffer(&ib))) {
        ReleaseInto(vb);
        ReleaseInto(ib);
        newMesh->Release();
        Qel_DPrintf(0, "ERROR: S_3D_UpdatePart3DMeshInfo failed while getting new VB/IB! \n");
        return 0;
    }
    S_3DAddBufferBytes(-static_cast<int64_t>(pm->vertexBytes) - pm->indexBytes);
    ReleaseInto(pm->indexBuffer);
    ReleaseInto(pm->vertexBuffer);
    ReleaseInto(pm->mesh);
    pm->mesh = newMesh;
    pm->vertexBuffer = vb;
    pm->indexBuffer = ib;
    D3DVERTEXBUFFER_DESC vd{};
    D3DINDEXBUFFER_DESC id{};
    vb->GetDesc(&vd);
    ib->GetDesc(&id);
    pm->vertexBytes = vd.Size;
    pm->indexBytes = id.Size;
    S_3DAddBufferBytes(static_cast<int64_t>(vd.Size) + id.Size);
    pm->faceCount = newMesh->GetNumFaces();
    pm->vertexCount = newMesh->GetNumVertices();
    return 1;
}

int S_3DConvertAndOptimizeMesh(D3DPartMaterial* pm) {
    if (!pm || !pm->mesh) return 0;
    ID3DXMesh* mesh = pm->mesh;
    size_t words = static_cast<size_t>(mesh->GetNumFaces()) * 3;
    std::vector<DWORD> adjacency(words), cleaned(words);
    HRESULT hr = mesh->GenerateAdjacency(1e-6f, adjacency.data());
    if (FAILED(hr)) {
        Qel_DPrintf(0x40000, "WARNING: S_3DConvertAndOptimizeMesh() failed GenerateAdjacency() :%s !\n",
                    DXGetErrorString9A(hr));
        hr = mesh->ConvertPointRepsToAdjacency(nullptr, adjacency.data());
        if (FAILED(hr)) {
            Qel_ErrPrintf("ERROR: S_3DConvertAndOptimizeMesh() failed ConvertPointRepsToAdjacency() :%s !\n",
                          DXGetErrorString9A(hr));
            return 0;
        }
    }
    DWORD oldFaces = mesh->GetNumFaces(), oldVertices = mesh->GetNumVertices();
    ID3DXMesh* clean = nullptr;
    hr = D3DXCleanMesh(D3DXCLEAN_SIMPLIFICATION, mesh, adjacency.data(), &clean, cleaned.data(), nullptr);
    if (SUCCEEDED(hr) && clean) {
        if (S_3D_UpdatePart3DMeshInfo(pm, clean)) adjacency.swap(cleaned);
    } else {
        ReleaseInto(clean);
    }
    ID3DXMesh* out = pm->mesh;
    if (out->GetNumFaces() != oldFaces || out->GetNumVertices() != oldVertices)
        Qel_DPrintf(0x40000, "WARNING: D3DXCleanMesh() with new size [old %d] [new %d]\n",
                    static_cast<int>(oldVertices), static_cast<int>(out->GetNumVertices()));
    hr = out->OptimizeInplace(D3DXMESHOPT_VERTEXCACHE, adjacency.data(), nullptr, nullptr, nullptr);
    if (FAILED(hr)) Qel_DPrintf(0, "INFO: pOutMesh->OptimizeInplace() failed %s\n", DXGetErrorString9A(hr));
    return 1;
}

int S_3D_ConvertToSmallMesh(D3DPartMaterial* pm, uint32_t partFlags) {
    if (!pm || !pm->mesh) return 0;
    static constexpr int kPlain[4] = {3, 2, 4, 1}, kTangent[4] = {7, 6, 8, 5};
    const int* order = (partFlags & PART_TANGENT_FRAME) ? kTangent : kPlain;
    int chosen = 0;
    for (int i = 0; i < 4 && !chosen; ++i)
        if (g_S3DMesh.declarations[order[i]]) chosen = order[i];
    if (!chosen) {
        Qel_DPrintf(0, "ERROR: S_3D_ConvertToSmallMesh() no valid decl found!\n");
        return 0;
    }
    DWORD options = D3DXMESH_WRITEONLY;
    if (g_SystemState && (g_SystemState->deviceFlags & 8)) options |= D3DXMESH_MANAGED;
    if (pm->mesh->GetNumVertices() > 65535) options |= D3DXMESH_32BIT;
    IDirect3DDevice9* device = nullptr;
    pm->mesh->GetDevice(&device);
    if (device && device->GetSoftwareVertexProcessing()) options |= D3DXMESH_SOFTWAREPROCESSING;
    ID3DXMesh* clone = nullptr;
    HRESULT hr = pm->mesh->CloneMesh(options, S3D_DeclarationElements[chosen], device, &clone);
    ReleaseInto(device);
    if (FAILED(hr)) {
        Qel_DPrintf(0, "ERROR: S_3D_ConvertToSmallMesh() CloneMesh failed %s!\n", DXGetErrorString9A(hr));
        return 0;
    }
    // The update releases the clone itself when it fails.
    if (!S_3D_UpdatePart3DMeshInfo(pm, clone)) {
        Qel_DPrintf(0, "ERROR: S_3D_ConvertToSmallMesh() -> S_3D_UpdatePart3DMeshInfo() failed %s!\n",
                    DXGetErrorString9A(D3DERR_INVALIDCALL));
        return 0;
    }
    pm->declaration = chosen;
    return 1;
}

// ---------------------------------------------------------------- release

namespace {

// The part records whose groups keep parameter blocks or handles.
std::unordered_set<D3DPartMesh*>& NotedParts() {
    static std::unordered_set<D3DPartMesh*> parts;
    return parts;
}

}  // namespace

void S_3DDropPartBlock(D3DPartMaterial& m) {
    if (m.block && m.blockEffect) m.blockEffect->DeleteParameterBlock(m.block);
    m.block = nullptr;
    m.blockEffect = nullptr;
    m.blockValid = 0;
    std::fill(std::begin(m.handles), std::end(m.handles), nullptr);
    for (auto& light : m.lightPoint) std::fill(std::begin(light), std::end(light), nullptr);
}

void S_3DDropPartDepthBlock(D3DPartMaterial& m) {
    if (m.depthBlock && m.depthEffect) m.depthEffect->DeleteParameterBlock(m.depthBlock);
    m.depthBlock = nullptr;
    m.depthEffect = nullptr;
    std::fill(std::begin(m.depthHandles), std::end(m.depthHandles), nullptr);
}

void S_3DNotePartBlocks(D3DPartMesh* part) {
    if (part) NotedParts().insert(part);
}

void S_3DForgetEffect(ID3DXEffect* effect) {
    if (!effect) return;
    S_3DForgetMissingParameters(effect);
    for (D3DPartMesh* part : NotedParts())
        for (int32_t g = 0; part->groups && g < part->groupCount; ++g) {
            D3DPartMaterial& m = part->groups[g];
            if (m.blockEffect == effect) S_3DDropPartBlock(m);
            if (m.depthEffect == effect) S_3DDropPartDepthBlock(m);
        }
}

void S_3DFreePart(D3DPartMesh* part) {
    if (part) NotedParts().erase(part);
    if (!part || !part->groups) return;
    for (int32_t g = 0; g < part->groupCount; ++g) {
        D3DPartMaterial& m = part->groups[g];
        if (m.textureRef > 0) TC_ReleaseTexture(m.textureRef);
        m.textureRef = 0;
        S_3DAddBufferBytes(-static_cast<int64_t>(m.vertexBytes) - m.indexBytes);
        if (m.ownBuffers) {
            if (m.vertexBuffer) {
                ULONG left = m.vertexBuffer->Release();
                if (left) Qel_DPrintf(0, "S_3DFreePart() Release() of VB 1 returned %s\n", DXGetErrorString9A(left));
                --g_D3DCounters.vertexBuffers;
            }
            if (m.indexBuffer) {
                ULONG left = m.indexBuffer->Release();
                if (left) Qel_DPrintf(0, "S_3DFreePart() Release() of IB returned %s\n", DXGetErrorString9A(left));
                --g_D3DCounters.indexBuffers;
            }
            m.vertexBuffer = nullptr;
            m.indexBuffer = nullptr;
        } else {
            ReleaseInto(m.vertexBuffer);
            ReleaseInto(m.indexBuffer);
            ReleaseInto(m.mesh);
        }
        m.vertexBytes = m.indexBytes = 0;
        S_3DDropPartBlock(m);
        S_3DDropPartDepthBlock(m);
    }
    Int_FreeMem(part->groups, sizeof(D3DPartMaterial) * static_cast<size_t>(part->groupCount), kRendererTag);
    part->groups = nullptr;
    part->groupCount = 0;
}
