// Renderer bodies (see bodies.h). The scene engine's body records are read
// here directly: the renderer builds its geometry from them (an upward
// include of the record layouts only; the body cache is reached by a hook).
#include "render/bodies.h"

#include <cstring>
#include <vector>

#include "base/log.h"
#include "base/memory.h"
#include "base/texanim.h"
#include "base/texcache.h"
#include "render/device.h"
#include "render/materialnames.h"
#include "render/mesh.h"
#include "scene/bodyrecord.h"
#include "scene/fxparams.h"
#include "scene/records.h"
#include "scene/state.h"
#include "system/adapters.h"
#include "system/video.h"

Body3D* (*g_S3DGetBodyHook)(int32_t bodyId) = nullptr;

namespace {

constexpr uint32_t kRendererTag = Int_MemTag(6);

template <class T>
T* AllocZeroed(size_t count) {
    void* p = Int_AllocMem(sizeof(T) * count, kRendererTag);
    if (!p) p = Int_AllocMem(sizeof(T) * count, kRendererTag);
    return static_cast<T*>(p);
}

template <class T>
void FreeBlock(T* p, size_t count) {
    if (p) Int_FreeMem(p, sizeof(T) * count, kRendererTag);
}

bool OwnMaterials(const Body3D* body) { return body->flags & BODY_MATERIAL6; }

const BodyMaterial* BodyMaterialOf(const Body3D* body, int32_t m) {
    if (!OwnMaterials(body) || m < 0 || m >= body->materialCount || !body->materials) return nullptr;
    return &body->materials[m];
}

bool IsEffect(const BodyMaterial* m) { return m && (m->flags & BMAT_EFFECT) && m->effect; }

// The int parameter of an effect material with a texture slot, or null.
const FXParameter* SlotParam(const BodyMaterial* m, uint32_t slot) {
    if (!IsEffect(m)) return nullptr;
    for (int16_t i = 0; i < m->effect->count; ++i) {
        const FXParameter& p = m->effect->params[i];
        if (p.textureSlot == slot && p.type == SPTYPE_LONG) return &p;
    }
    return nullptr;
}

int TextureCount() { return g_TCNumberedCount + g_TCNamedCount; }
bool InTextureTable(int32_t id) { return TC_TextureTable && id > 0 && id < TextureCount(); }

// A texture a material uses takes the material's flags (merged with its own
// definition's by the texture cache) and is loaded when it is not.
void FlagAndLoad(int32_t id, uint32_t flags) {
    if (!InTextureTable(id)) return;
    if (flags) TC_SetTextureFlags(id, flags);
    if (!TC_TextureTable[id].bitmap) TC_ReloadTexture(id);
}

// A plain body material's texture ids: diffuse, bump, alternative, light map, specular.
void PlainTextures(const BodyMaterial& m, int32_t out[5]) {
    out[0] = m.baseTexture;
    out[1] = m.texture4;
    out[2] = m.texture2;
    out[3] = m.texture3;
    out[4] = m.texture5;
}

// The body material a negative (animated) material number stands for.
const BodyMaterial* AnimatedBodyMaterial(const Body3D* body, int32_t m) {
    if (!OwnMaterials(body) || body->materialCount <= 0 || !body->materials) return nullptr;
    for (int32_t i = 0; i < body->materialCount; ++i) {
        const BodyMaterial& mat = body->materials[i];
        if (IsEffect(&mat)) {
            const FXParameter* d = SlotParam(&mat, S3D_SLOT_DIFFUSE);
            const FXParameter* b = SlotParam(&mat, S3D_SLOT_BUMP);
            if ((d && d->value.i[0] == m) || (b && b->value.i[0] == m)) return &mat;
        } else if (mat.baseTexture == m) {
            return &mat;
        }
    }
    return &body->materials[0];
}

void LoadGroupTextures(const Body3D* body, int32_t m) {
    if (m < 0) {
        const BodyMaterial* mat = AnimatedBodyMaterial(body, m);
        TC_AnimPreloadTextures(-m, mat ? mat->flags : 0);
        return;
    }
    if (!OwnMaterials(body)) {
        if (m >= g_TCTextureInfoCount || !g_TCTextureInfo) return;
        const TC_TextureInfo& info = g_TCTextureInfo[m];
        // A global material is its own diffuse texture; its environment and
        // bump records name the alternative and bump textures.
        const int32_t ids[5] = {m, info.envMap, 0, 0, info.bumpMap};
        for (int32_t id : ids)
            if (id > 0) FlagAndLoad(id, info.flags);
        return;
    }
    const BodyMaterial* mat = BodyMaterialOf(body, m);
    if (!mat) return;
    if (!IsEffect(mat)) {
        int32_t ids[5];
        PlainTextures(*mat, ids);
        for (int32_t id : ids)
            if (id > 0) FlagAndLoad(id, mat->flags);
        return;
    }
    for (int16_t i = 0; i < mat->effect->count; ++i) {
        const FXParameter& p = mat->effect->params[i];
        if (p.type != SPTYPE_LONG || p.textureSlot < 1 || p.textureSlot > 6 || p.value.i[0] == 0) continue;
        int32_t v = p.value.i[0];
        if (v < 0 && (p.textureSlot == S3D_SLOT_DIFFUSE || p.textureSlot == S3D_SLOT_BUMP)) {
            if (m > 0) FlagAndLoad(m, mat->flags);
        } else {
            FlagAndLoad(v, mat->flags);
        }
    }
}

// Releases what one draw entry holds and zeroes its buffer fields.
void ReleaseEntry(D3DPartMaterial& e) {
    S_3DAddBufferBytes(-static_cast<int64_t>(e.vertexBytes) - e.indexBytes);
    if (e.indexBuffer) e.indexBuffer->Release();
    if (e.vertexBuffer) e.vertexBuffer->Release();
    if (e.mesh) e.mesh->Release();
    e.indexBuffer = nullptr;
    e.vertexBuffer = nullptr;
    e.mesh = nullptr;
    e.vertexBytes = e.indexBytes = 0;
    e.vertexCount = e.faceCount = 0;
}

// Frees a part's renderer record whatever its use count.
void FreePartMesh(BodyPart* part, D3DPartMesh* pm) {
    FreeBlock(pm->matrices, static_cast<size_t>(pm->matrixCount) * 16);
    S_3DFreePart(pm);
    Int_FreeRecord(pm, kRendererTag);
    if (part && part->rendererPart == pm) part->rendererPart = nullptr;
}

// Takes back what S_3DAddBody built for a level in a call that failed.
void UnhangLevel(BodyLevel* level, D3DBody* d3d) {
    for (int16_t j = 0; j < level->partCount; ++j) {
        BodyPart* part = level->parts ? level->parts[j] : nullptr;
        if (!part || !part->rendererPart) continue;
        FreePartMesh(part, static_cast<D3DPartMesh*>(part->rendererPart));
    }
    Int_FreeRecord(d3d, kRendererTag);
    level->rendererBody = nullptr;
}

}  // namespace

int32_t S_3DMaterialDiffuseId(const Body3D* body, int32_t m) {
    if (!body || !OwnMaterials(body)) return m;
    const BodyMaterial* mat = BodyMaterialOf(body, m);
    if (!mat) return 0;
    if (IsEffect(mat)) {
        const FXParameter* d = SlotParam(mat, S3D_SLOT_DIFFUSE);
        return d ? d->value.i[0] : 0;
    }
    return mat->baseTexture;
}

void S_3DLoadBodyTextures(Body3D* body) {
    if (!body || !body->levels) return;
    for (int16_t l = 0; l < body->levelCount; ++l) {
        BodyLevel* level = body->levels[l];
        if (!level || !level->parts) continue;
        for (int16_t p = 0; p < level->partCount; ++p) {
            BodyPart* part = level->parts[p];
            if (!part || !part->groups) continue;
            for (int16_t g = 0; g < part->groupCount; ++g) LoadGroupTextures(body, part->groups[g].material);
        }
    }
}

int S_3DCreatePart(BodyLevel* level, BodyPart* part, D3DPartMesh* pm, uint32_t flags) {
    if (!level || !part || !pm) return 0;
    const int32_t points = level->pointCount > 0 && level->points ? level->pointCount : 0;
    std::vector<int32_t> remap(static_cast<size_t>(points));
    if (part->groupCount <= 0 || !part->groups) return 0;
    const int32_t groupCount = part->groupCount;
    pm->groups = AllocZeroed<D3DPartMaterial>(static_cast<size_t>(groupCount));
    if (!pm->groups) return 0;
    pm->groupCount = groupCount;
    Qel_DPrintf(S3D_BODY_LOG, "Num materials used: %d\n", groupCount);

    Body3D* body = level->body;
    // The engine's points as the mesh build reads them.
    std::vector<S3DPartVertex> vertices(static_cast<size_t>(points));
    for (int32_t i = 0; i < points; ++i) {
        const BodyPoint& s = level->points[i];
        vertices[i] = {s.x, s.y, s.z, s.nx, s.ny, s.nz, s.u, s.v};
    }
    IDirect3DDevice9* device = S_3DDevice();
    const bool tangents = flags & S3D_CREATE_TANGENTS;
    const bool explicitLists = part->flags & BPART_PRECALC;

    for (int32_t g = 0; g < groupCount; ++g) {
        BodyGroup& group = part->groups[g];
        D3DPartMaterial& e = pm->groups[g];
        const int32_t diffuse = S_3DMaterialDiffuseId(body, group.material);
        if (InTextureTable(diffuse)) {
            TC_AddTextureRef(diffuse);
            e.textureRef = diffuse;
        }
        e.material = group.material;
        e.triangleCount = group.triCount;
        std::fill(remap.begin(), remap.end(), -1);

        // The group's vertex list. A corner outside the point table, or one
        // that an explicit list leaves without a mesh vertex, would become an
        // index past the mesh: the part fails instead.
        const int32_t triangles = group.triCount > 0 && group.tris ? group.triCount : 0;
        int32_t used = 0;
        bool bad = false;
        if (explicitLists && group.precalcCount > 0 && group.precalc) {
            for (int32_t k = 0; k < group.precalcCount && !bad; ++k) {
                const int32_t point = group.precalc[k].value;
                if (point < 0 || point >= points) bad = true;
                else remap[point] = k;
            }
            used = group.precalcCount;
            for (int32_t t = 0; t < triangles && !bad; ++t)
                for (int32_t v : group.tris[t].v)
                    if (v < 0 || v >= points || remap[v] < 0) bad = true;
        } else {
            for (int32_t t = 0; t < triangles && !bad; ++t) {
                for (int32_t v : group.tris[t].v) {
                    if (v < 0 || v >= points) {
                        bad = true;
                        break;
                    }
                    if (remap[v] < 0) remap[v] = used++;
                }
                group.tris[t].word |= S3D_TRIANGLE_MAPPED;
            }
        }
        if (bad) {
            Qel_ErrPrintf("S_3DCreatePart() material group %d of body %d names a point the mesh does not have!\n", g,
                          body ? body->id : -1);
            return 0;
        }

        DWORD options = D3DXMESH_SYSTEMMEM | D3DXMESH_DYNAMIC;
        if (used > 65535) options |= D3DXMESH_32BIT;
        if (device && device->GetSoftwareVertexProcessing()) options |= D3DXMESH_SOFTWAREPROCESSING;
        const int declaration = tangents ? 5 : 1;
        ID3DXMesh* mesh = nullptr;
        HRESULT hr = device ? D3DXCreateMesh(static_cast<DWORD>(triangles), static_cast<DWORD>(used), options,
                                             S3D_DeclarationElements[declaration], device, &mesh)
                            : D3DERR_INVALIDCALL;
        if (FAILED(hr) || !mesh) {
            Qel_ErrPrintf("S_3DCreatePart() CreateVertexBuffer() failed! %s\n", DXGetErrorString9A(hr));
            if (mesh) mesh->Release();
            return 0;
        }
        e.mesh = mesh;
        if (FAILED(mesh->GetVertexBuffer(&e.vertexBuffer)) || FAILED(mesh->GetIndexBuffer(&e.indexBuffer))) {
            Qel_ErrPrintf("S_3DCreatePart() GetVertex/IndexBuffer() failed! \n");
            ReleaseEntry(e);
            return 0;
        }
        D3DVERTEXBUFFER_DESC vd{};
        D3DINDEXBUFFER_DESC id{};
        e.vertexBuffer->GetDesc(&vd);
        e.indexBuffer->GetDesc(&id);
        e.vertexBytes = vd.Size;
        e.indexBytes = id.Size;
        e.vertexCount = mesh->GetNumVertices();
        e.faceCount = mesh->GetNumFaces();
        e.declaration = declaration;
        Qel_DPrintf(S3D_BODY_LOG, "Num vertices used: %d\n", used);
        Qel_DPrintf(S3D_BODY_LOG, "Num triangles used: %d\n", triangles);
        S_3DAddBufferBytes(static_cast<int64_t>(vd.Size) + id.Size);

        std::vector<S3DPartTriangle> tris(static_cast<size_t>(triangles));
        for (int32_t t = 0; t < triangles; ++t) {
            const BodyTriangle& s = group.tris[t];
            tris[t] = {{static_cast<uint32_t>(s.v[0]), static_cast<uint32_t>(s.v[1]), static_cast<uint32_t>(s.v[2])},
                       s.word};
        }
        S3DPartSource source{tangents ? PART_TANGENT_FRAME : 0u,
                             static_cast<uint32_t>(points),
                             vertices.data(),
                             static_cast<uint32_t>(triangles),
                             tris.data(),
                             nullptr};
        const BodyMaterial* mat = BodyMaterialOf(body, group.material);
        uint32_t materialFlags = mat ? mat->flags : 0;
        if (!OwnMaterials(body) && group.material >= 0 && group.material < g_TCTextureInfoCount && g_TCTextureInfo)
            materialFlags = g_TCTextureInfo[group.material].flags;
        if (!S_3D_FillMesh_VB(&source, remap.data(), materialFlags, mesh)) {
            Qel_ErrPrintf("S_3DCreatePart(), S_3D_FillMesh_VB() failed! \n");
            ReleaseEntry(e);
            return 0;
        }
        if (!S_3D_FillMesh_IB(&source, remap.data(), mesh)) {
            Qel_ErrPrintf("S_3DCreatePart(), S_3D_FillMesh_IB() failed! \n");
            ReleaseEntry(e);
            return 0;
        }
        part->flags |= source.flags & PART_WRAPS;
        // Body records carry no tangent array: a part that asks for tangent
        // frames gets them from its triangles, as a repair makes zero ones.
        if (tangents && (!source.tangents || (source.flags & PART_TANGENT_REPAIR)))
            S_3D_FixTangentFrame(&source, tris.data(), remap.data(), mesh);
        S_3DConvertAndOptimizeMesh(&e);
        if (!S_3D_ConvertToSmallMesh(&e, source.flags)) Qel_ErrPrintf("ERROR: S_3D_ConvertToSmallMesh() failed !\n");
    }
    return 1;
}

int S_3DAddBody(Body3D* body) {
    if (!body) return 0;
    S_3DLoadBodyTextures(body);
    g_S3DMesh.bodyName = body->name;
    // What this call did per level (1 built, 2 added a reference), so that a
    // failure takes it all back and the next add starts afresh.
    std::vector<uint8_t> done(static_cast<size_t>(body->levelCount > 0 ? body->levelCount : 0));
    auto fail = [&](int16_t upTo) {
        for (int16_t k = 0; k < upTo; ++k) {
            BodyLevel* level = body->levels[k];
            if (done[k] == 1) UnhangLevel(level, static_cast<D3DBody*>(level->rendererBody));
            else if (done[k] == 2) --static_cast<D3DBody*>(level->rendererBody)->refCount;
        }
        return 0;
    };
    for (int16_t i = 0; i < body->levelCount; ++i) {
        BodyLevel* level = body->levels ? body->levels[i] : nullptr;
        if (!level) continue;
        if (auto* d3d = static_cast<D3DBody*>(level->rendererBody)) {
            if (d3d->refCount == 0)
                Qel_DPrintf(S3D_BODY_LOG, "S_3DAddBody() BA3DF_KEEPD3D body %d reusing D3D info!\n", body->id);
            ++d3d->refCount;
            done[i] = 2;
            continue;
        }
        auto* d3d = AllocZeroed<D3DBody>(1);
        if (!d3d) return fail(i);
        level->rendererBody = d3d;
        d3d->partCount = static_cast<uint16_t>(level->partCount);
        for (int16_t j = 0; j < level->partCount; ++j) {
            BodyPart* part = level->parts ? level->parts[j] : nullptr;
            if (!part) continue;
            auto* pm = AllocZeroed<D3DPartMesh>(1);
            if (!pm) {
                Qel_ErrPrintf("S_3DAddInst() error allocating d3d part: %d\n", j);
                UnhangLevel(level, d3d);
                return fail(i);
            }
            pm->groupCount = part->groupCount;
            // Linked before the build, so a failed build is taken back with the rest.
            part->rendererPart = pm;
            pm->part = part;
            if (level->matrixEntries > 0) {
                pm->matrices = AllocZeroed<float>(static_cast<size_t>(level->matrixEntries) * 16);
                if (pm->matrices) pm->matrixCount = level->matrixEntries;
            }
            Qel_DPrintf(S3D_BODY_LOG, "%d.%d.%d CreatePart()\n", body->id, i, j);
            if (!S_3DCreatePart(level, part, pm, (body->flags & BODY_BUMP_EFFECT) ? S3D_CREATE_TANGENTS : 0)) {
                Qel_ErrPrintf("S_3DAddInst() error creating part: %d\n", j);
                UnhangLevel(level, d3d);
                return fail(i);
            }
            pm->useCount = 1;
        }
        d3d->subBodyIndex = i;
        d3d->refCount = 1;
        done[i] = 1;
    }
    return 1;
}

int S_3DAddInst(Inst3D* instance) {
    if (!instance) return 0;
    Body3D* body = nullptr;
    if (instance->bodyId >= 0)
        body = g_S3DGetBodyHook ? g_S3DGetBodyHook(instance->bodyId)
                                : static_cast<Body3D*>(B3D_FindBody(instance->bodyId));
    const char* name = instance->name ? instance->name : "";
    Qel_DPrintf(S3D_BODY_LOG, "S_3DAddInst(%s)\n", name);
    int result = S_3DAddBody(body);
    Qel_DPrintf(S3D_BODY_LOG, "S_3DAddInst(%s) finished\n", name);
    return result;
}

void S_3DFreeBodyParts(BodyLevel* level) {
    if (!level) return;
    for (int16_t j = 0; j < level->partCount; ++j) {
        BodyPart* part = level->parts ? level->parts[j] : nullptr;
        auto* pm = part ? static_cast<D3DPartMesh*>(part->rendererPart) : nullptr;
        if (!pm) continue;
        if (pm->useCount > 1) {
            --pm->useCount;
            continue;
        }
        pm->useCount = 0;
        FreePartMesh(part, pm);
    }
    Int_FreeRecord(static_cast<D3DBody*>(level->rendererBody), kRendererTag);
    level->rendererBody = nullptr;
}

int S_3DDeleteInst(Inst3D* instance) {
    if (!instance) return 0;
    Qel_DPrintf(S3D_BODY_LOG, "S_3DDeleteInst(%s)\n", instance->name ? instance->name : "");
    auto* body = static_cast<Body3D*>(B3D_FindBody(instance->bodyId));
    if (!body) {
        Qel_DPrintf(0, "S_3DDeleteInst() can't find bodyarray for bodyid %d\n", instance->bodyId);
        return 0;
    }
    for (int16_t i = 0; i < body->levelCount; ++i) {
        BodyLevel* level = body->levels ? body->levels[i] : nullptr;
        auto* d3d = level ? static_cast<D3DBody*>(level->rendererBody) : nullptr;
        if (!d3d) continue;
        if (d3d->subBodyIndex != i) {
            Qel_DPrintf(0x40, "Error deleting D3D Object (not found)\n");
            continue;
        }
        if (d3d->refCount == 1) {
            d3d->refCount = 0;
            if (body->flags & BODY_KEEPD3D)
                Qel_DPrintf(S3D_BODY_LOG, "S_3DDeleteInst() bodyid %d marked as KEEPD3D, not deleting D3D object!\n",
                            body->id);
            else S_3DFreeBodyParts(level);
        } else if (d3d->refCount > 1) {
            --d3d->refCount;
        }
    }
    return 1;
}
