// Particle and scene buffers: one dynamic write-only buffer per owner, locked
// once per frame with discard. Particles are sorted into batches by counting,
// without a sort, so that each material and kind draws with one call.
#include "render/particles.h"

#include <cmath>
#include <cstring>

#include "base/fixmath.h"
#include "base/general.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/texcache.h"
#include "render/cameras.h"
#include "render/device.h"
#include "render/effects.h"
#include "render/mesh.h"
#include "render/pixelformat.h"
#include "render/statemanager.h"
#include "scene/bodyrecord.h"
#include "scene/fxparams.h"
#include "scene/records.h"
#include "scene/state.h"
#include "system/adapters.h"
#include "system/video.h"

namespace {

constexpr uint32_t kRendererTag = Int_MemTag(6);

// The device was made for software vertex processing.
bool SoftwareProcessing(IDirect3DDevice9* device) {
    D3DDEVICE_CREATION_PARAMETERS cp{};
    return device && SUCCEEDED(device->GetCreationParameters(&cp)) &&
           (cp.BehaviorFlags & D3DCREATE_SOFTWARE_VERTEXPROCESSING);
}

// Start-up decided it from the vertex-processing mode (0: no vertex shaders).
bool HasVertexShaders() {
    return g_RendererState && g_RendererState->device && g_RendererState->device->vertexProcessingMode != 0;
}

HRESULT CreateDynamicBuffer(IDirect3DDevice9* device, UINT bytes, IDirect3DVertexBuffer9** out) {
    DWORD usage = D3DUSAGE_WRITEONLY | D3DUSAGE_DYNAMIC;
    if (SoftwareProcessing(device)) usage |= D3DUSAGE_SOFTWAREPROCESSING;
    return device->CreateVertexBuffer(bytes, usage, 0, D3DPOOL_DEFAULT, out, nullptr);
}

int64_t RoundMul(int64_t a, int64_t b) { return (a * b + 32768) >> 16; }

uint32_t Colour(uint32_t a, uint32_t r, uint32_t g, uint32_t b) { return (a << 24) | (r << 16) | (g << 8) | b; }

// The colour of a particle of material m with alpha a; false for a material
// without any of the blend flags.
bool ParticleColour(const TC_TextureInfo& m, int32_t alpha, uint32_t* out) {
    const uint32_t a = static_cast<uint32_t>(alpha) & 0xFF;
    const uint32_t r = m.head[0], g = m.head[1], b = m.head[2];
    if (m.flags & 0xC0) {
        *out = Colour(255, r + (255 - r) * a / 255, g + (255 - g) * a / 255, b + (255 - b) * a / 255);
    } else if (m.flags & 0x400) {
        *out = Colour(255, r * a / 255, g * a / 255, b * a / 255);
    } else if (m.flags & 0x6) {
        *out = Colour(a, r, g, b);
    } else {
        return false;
    }
    return true;
}

// The streak's direction in the particle camera's axes as a 16-bit angle,
// turned by an eighth so the picture's diagonal runs along it.
uint32_t StreakAngle(const B3DParticle& p, const Camera3D* camera) {
    int64_t d[3] = {static_cast<int64_t>(p.pos2.x) - p.pos.x, static_cast<int64_t>(p.pos2.y) - p.pos.y,
                    static_cast<int64_t>(p.pos2.z) - p.pos.z};
    // Short streaks keep their direction through the rounded rotation.
    if (std::llabs(d[0]) < 65536 && std::llabs(d[1]) < 65536 && std::llabs(d[2]) < 65536)
        for (int64_t& c : d) c *= 65536;
    const int32_t* m = camera ? camera->inst.matrix.m : nullptr;
    int64_t view[3] = {d[0], d[1], d[2]};
    if (m)
        for (int axis = 0; axis < 3; ++axis)
            view[axis] =
                RoundMul(m[axis * 4], d[0]) + RoundMul(m[axis * 4 + 1], d[1]) + RoundMul(m[axis * 4 + 2], d[2]);
    constexpr double kTwoPi = 6.283185307179586;
    double a = std::atan2(static_cast<double>(view[1]), -static_cast<double>(view[0]));
    if (a < 0) a += kTwoPi;
    int64_t angle = static_cast<int64_t>(a * 65536.0 / kTwoPi);
    if (angle >= 65536) angle -= 65536;
    return static_cast<uint32_t>((angle + 0x2000) & 0xFFFF);
}

void WriteParticle(B3DParticle& p, float s, uint32_t colour, const Camera3D* camera, S3DParticleVertex* v) {
    const float px = static_cast<float>(p.pos.x) * s, py = static_cast<float>(p.pos.y) * s,
                pz = static_cast<float>(p.pos.z) * s;
    const float l = p.texRect[0] / 65536.0f, t = p.texRect[1] / 65536.0f, r = p.texRect[2] / 65536.0f,
                b = p.texRect[3] / 65536.0f;
    const float uv[6][2] = {{l, t}, {r, t}, {l, b}, {r, t}, {r, b}, {l, b}};
    for (int i = 0; i < 6; ++i) {
        v[i] = {px, py, pz, 0.0f, 0.0f, uv[i][0], uv[i][1], colour};
    }
    if (!(p.kind & 1)) {
        float A[3], B[3];
        for (int k = 0; k < 3; ++k) {
            A[k] = static_cast<float>(RoundMul(p.matrix.m[k], p.size)) * s;
            B[k] = static_cast<float>(RoundMul(p.matrix.m[4 + k], p.size)) * s;
        }
        const float sa[6] = {-1, 1, -1, 1, 1, -1}, sb[6] = {1, 1, -1, 1, -1, -1};
        for (int i = 0; i < 6; ++i) {
            v[i].x += sa[i] * A[0] + sb[i] * B[0];
            v[i].y += sa[i] * A[1] + sb[i] * B[1];
            v[i].z += sa[i] * A[2] + sb[i] * B[2];
        }
        return;
    }
    if (p.kind & 2) {
        p.angle = StreakAngle(p, camera);
        const float qx = static_cast<float>(p.pos2.x) * s, qy = static_cast<float>(p.pos2.y) * s,
                    qz = static_cast<float>(p.pos2.z) * s;
        for (int i : {2, 4, 5}) {
            v[i].x = qx;
            v[i].y = qy;
            v[i].z = qz;
        }
    }
    const uint16_t angle = static_cast<uint16_t>(p.angle);
    const float kc = static_cast<float>(RoundMul(Qel_FixCos(angle), p.size)) * s;
    const float ks = static_cast<float>(RoundMul(Qel_FixSin(angle), p.size)) * s;
    const float off[6][2] = {{ks, kc}, {kc, -ks}, {-kc, ks}, {kc, -ks}, {-ks, -kc}, {-kc, ks}};
    for (int i = 0; i < 6; ++i) {
        v[i].offsetX = off[i][0];
        v[i].offsetY = off[i][1];
    }
}

// The camera's view with the scene's unit scale: the transpose of its rotation
// and its position taken into its axes.
void CameraView(const Scene3D* scene, const Camera3D* camera, D3DXMATRIX* out) {
    const int32_t* r = camera->inst.worldMatrix.m;
    const QelVector& p = camera->inst.worldPos;
    std::memset(out, 0, sizeof(*out));
    for (int axis = 0; axis < 3; ++axis) {
        for (int k = 0; k < 3; ++k) out->m[k][axis] = r[axis * 4 + k] / 65536.0f;
        const double along = (static_cast<double>(p.x) * r[axis * 4] + static_cast<double>(p.y) * r[axis * 4 + 1] +
                              static_cast<double>(p.z) * r[axis * 4 + 2]) /
                             65536.0;
        out->m[3][axis] = static_cast<float>(-along * scene->systemScale);
    }
    out->m[3][3] = 1.0f;
}

// The texture of a texture id when it is a plain (not cube) texture, else null.
IDirect3DBaseTexture9* PlainTexture(int32_t id) {
    EBM* bitmap = id > 0 ? TC_GetTextureEBM(id, 0) : nullptr;
    if (!bitmap) return nullptr;
    IDirect3DBaseTexture9* t = S_3DTextureGetSystemHandle(bitmap);
    return t && t->GetType() != D3DRTYPE_CUBETEXTURE ? t : nullptr;
}

void SetNamedInt(ID3DXEffect* effect, const char* name, int value) {
    if (D3DXHANDLE h = effect->GetParameterByName(nullptr, name)) effect->SetInt(h, value);
}
void SetNamedFloat(ID3DXEffect* effect, const char* name, float value) {
    if (D3DXHANDLE h = effect->GetParameterByName(nullptr, name)) effect->SetFloat(h, value);
}

}  // namespace

// ---------------------------------------------------------------- particle fill

int S_3DUpdateParticleSystems(Scene3D* scene, Camera3D* camera) {
    IDirect3DDevice9* device = S_3DDevice();
    if (!scene) return 0;
    if (!scene->particleBuffer) {
        auto* pb = Int_AllocRecord<ParticleBuffer>(kRendererTag);
        if (!pb) pb = Int_AllocRecord<ParticleBuffer>(kRendererTag);
        scene->particleBuffer = pb;
    }
    ParticleBuffer* pb = scene->particleBuffer;
    if (!pb) {
        Qel_DPrintf(0, "S_3DUpdateParticleSystem() No handle!\n");
        return 0;
    }
    if (!pb->vertexBuffer) {
        if (!device || FAILED(CreateDynamicBuffer(device, S3D_PARTICLE_BUFFER_BYTES, &pb->vertexBuffer))) {
            pb->vertexBuffer = nullptr;
            Qel_DPrintf(0, "S_3DUpdateParticleSystem() Can't create vertex buffer!\n");
            return 0;
        }
        pb->bufferBytes = S3D_PARTICLE_BUFFER_BYTES;
        S_3DAddBufferBytes(pb->bufferBytes);
    }

    // Count per material and kind.
    const int32_t materials = g_TCTextureInfo ? g_TCTextureInfoCount : 0;
    for (int32_t m = 0; m < materials; ++m)
        for (int32_t& c : g_TCTextureInfo[m].kindCounters) c = 0;
    pb->particleCount = 0;
    B3DState* s = g_B3DState;
    if (s)
        for (B3DParticle* p = B3D_First<B3DParticle>(&s->particleLive); p; p = B3D_Next(p)) {
            if (p->scene != scene) continue;
            ++pb->particleCount;
            if (p->material >= 0 && p->material < materials) ++g_TCTextureInfo[p->material].kindCounters[p->kind & 3];
        }

    // Batches; pairs past the last batch name none and stay unwritten.
    pb->batchCount = 0;
    int32_t total = 0;
    for (int32_t m = 0; m < materials; ++m)
        for (int32_t k = 0; k < 4; ++k) {
            int32_t& c = g_TCTextureInfo[m].kindCounters[k];
            if (c == 0 || pb->batchCount >= S3D_PARTICLE_BATCHES) {
                c = -1;
                continue;
            }
            int32_t* batch = pb->batches[pb->batchCount];
            batch[0] = total;
            batch[1] = c;
            batch[2] = m;
            batch[3] = k;
            total += c;
            c = pb->batchCount++;
        }

    void* data = nullptr;
    if (FAILED(pb->vertexBuffer->Lock(0, 0, &data, D3DLOCK_DISCARD))) {
        Qel_DPrintf(0, "S_3DUpdateParticleSystem() Can't lock vertex buffer!\n");
        return 0;
    }
    auto* vertices = static_cast<S3DParticleVertex*>(data);
    const float scale = scene->systemScale;
    uint32_t colour = 0;  // a material without blend flags takes the colour written before it
    if (s)
        for (B3DParticle* p = B3D_First<B3DParticle>(&s->particleLive); p; p = B3D_Next(p)) {
            if (p->scene != scene || p->material < 0 || p->material >= materials) continue;
            const TC_TextureInfo& m = g_TCTextureInfo[p->material];
            const int32_t batch = m.kindCounters[p->kind & 3];
            if (batch < 0) continue;
            const int32_t place = pb->batches[batch][0]++;
            if (place < 0 || place >= S3D_PARTICLE_MAX) continue;
            if (!ParticleColour(m, p->alpha, &colour))
                Qel_DPrintf(0, "S_3DUpdateParticleSystems() unknown blendmode for mat %d\n", p->material);
            WriteParticle(*p, scale, colour, camera, vertices + 6 * place);
        }
    int32_t first = 0;
    for (int32_t i = 0; i < pb->batchCount; ++i) {
        pb->batches[i][0] = first;
        first += pb->batches[i][1];
    }
    pb->vertexBuffer->Unlock();
    return 1;
}

// ---------------------------------------------------------------- scene-buffer fill

int S_3DUpdateSceneBuffer(const B3DSceneBufferGroup* owner, B3DSceneBufferItem* record, const Inst3D* instance,
                          const BodyPart* part, const BodyGroup* triangles, const int32_t* texMatrix) {
    if (!record) {
        Qel_ErrPrintf("S_3DUpdateSceneBuffer() No scene buffer!\n");
        return 0;
    }
    if (!record->buffer) {
        record->buffer = Int_AllocRecord<B3DSceneBuffer>(0);
        if (!record->buffer) {
            Qel_ErrPrintf("S_3DUpdateSceneBuffer() Unable to allocate scene buffer!\n");
            return 0;
        }
    }
    B3DSceneBuffer* b = record->buffer;
    if (!owner || !instance || !part || !part->level || !triangles || triangles->triCount < 0) return 0;
    const int64_t instanceVertices = static_cast<int64_t>(triangles->triCount) * 3;
    if (!b->vertexBuffer) {
        IDirect3DDevice9* device = S_3DDevice();
        const int64_t bytes = static_cast<int64_t>(owner->capacity) * instanceVertices * S3D_SCENE_VERTEX_BYTES;
        if (!device || bytes <= 0 || bytes > 0x7FFFFFFF ||
            FAILED(CreateDynamicBuffer(device, static_cast<UINT>(bytes), &b->vertexBuffer))) {
            b->vertexBuffer = nullptr;
            Qel_ErrPrintf("S_3DUpdateSceneBuffer() Can't create vertex buffer!\n");
            return 0;
        }
        b->byteSize = static_cast<int32_t>(bytes);
        S_3DAddBufferBytes(bytes);
        b->copy = static_cast<uint8_t*>(Int_AllocMem(static_cast<size_t>(bytes), kRendererTag));
        // Without its copy the buffer cannot be filled: the call fails
        // instead of writing through a null pointer.
        if (!b->copy) {
            Qel_ErrPrintf("S_3DUpdateSceneBuffer() Unable to allocate scene buffer!\n");
            return 0;
        }
    }
    if (!b->copy) {
        b->copy = static_cast<uint8_t*>(Int_AllocMem(static_cast<size_t>(b->byteSize), kRendererTag));
        if (!b->copy) {
            Qel_ErrPrintf("S_3DUpdateSceneBuffer() Unable to allocate scene buffer!\n");
            return 0;
        }
    }
    // An append past the buffer's end is refused whole.
    const int64_t end = (static_cast<int64_t>(b->vertexCount) + instanceVertices) * S3D_SCENE_VERTEX_BYTES;
    if (end > b->byteSize) return 0;

    D3DXMATRIX m;
    D3DXMatrixIdentity(&m);
    if (g_S3DMatrices.world) m = *g_S3DMatrices.world;
    if ((instance->flags & INST_OWN_MATRIX3) && g_S3DMatrices.view && g_S3DMatrices.projection) {
        D3DXMatrixMultiply(&m, &m, g_S3DMatrices.view);
        D3DXMatrixMultiply(&m, &m, g_S3DMatrices.projection);
    }
    const BodyLevel* level = part->level;
    struct Vertex {
        float x, y, z, u, v;
        uint32_t colour;
    };
    static_assert(sizeof(Vertex) == S3D_SCENE_VERTEX_BYTES);
    auto* out = reinterpret_cast<Vertex*>(b->copy) + b->vertexCount;
    for (int32_t t = 0; t < triangles->triCount; ++t)
        for (int32_t corner = 0; corner < 3; ++corner) {
            const int32_t index = triangles->tris[t].v[corner];
            BodyPoint pt{};
            if (index >= 0 && index < level->pointCount) pt = level->points[index];
            const D3DXVECTOR3 local{pt.x / 16384.0f, pt.y / 16384.0f, pt.z / 16384.0f};
            D3DXVECTOR3 world;
            D3DXVec3TransformCoord(&world, &local, &m);
            float u = pt.u / 65536.0f, v = pt.v / 65536.0f;
            if (texMatrix) {
                const float m00 = texMatrix[0] / 65536.0f, m01 = texMatrix[1] / 65536.0f, m10 = texMatrix[2] / 65536.0f,
                            m11 = texMatrix[3] / 65536.0f, m20 = texMatrix[4] / 65536.0f, m21 = texMatrix[5] / 65536.0f;
                const float u2 = m20 + m00 * u + m10 * v, v2 = m21 + m01 * u + m11 * v;
                u = u2;
                v = v2;
            }
            *out++ = {world.x, world.y, world.z, u, v, 0};
            ++b->vertexCount;
        }
    return 1;
}

// ---------------------------------------------------------------- releases

void S_3DFreeBuffer(Scene3D* scene) {
    if (!scene || !scene->particleBuffer) return;
    ParticleBuffer* pb = scene->particleBuffer;
    if (pb->vertexBuffer) {
        pb->vertexBuffer->Release();
        S_3DAddBufferBytes(-static_cast<int64_t>(pb->bufferBytes));
    }
    Int_FreeRecord(pb, kRendererTag);
    scene->particleBuffer = nullptr;
}

void S_3DFreeMeshBuffers(B3DSceneBufferItem* item) {
    B3DSceneBuffer* b = item ? item->buffer : nullptr;
    if (!b) return;
    if (b->vertexBuffer) {
        b->vertexBuffer->Release();
        S_3DAddBufferBytes(-static_cast<int64_t>(b->byteSize));
    }
    if (b->copy) Int_FreeMem(b->copy, static_cast<size_t>(b->byteSize), kRendererTag);
    *b = B3DSceneBuffer{};
}

// ---------------------------------------------------------------- drawing

int S_3DRenderSceneBuffer(const B3DSceneBufferDraw* record, Scene3D* scene, const B3DSceneBufferGroup* group,
                          Camera3D* camera) {
    IDirect3DDevice9* device = S_3DDevice();
    if (!record || !scene || !group || !camera || !device || !g_RendererState->stateManager) {
        Qel_DPrintf(0, "S_3DRenderSceneBuffer() NULL Pointer Input!\n");
        return 0;
    }
    B3DSceneBuffer* b = record->buffer;
    if (!b) {
        Qel_DPrintf(0, "S_3DRenderSceneBuffer() Scene buffer not initialised!\n");
        return 0;
    }
    if (!b->vertexBuffer || !b->copy || b->byteSize == 0 || b->vertexCount == 0) {
        Qel_DPrintf(0, "ERROR:\tS_3DRenderSceneBuffer(), no VB or TempBuffer or Pointer missing\n");
        return 0;
    }
    void* data = nullptr;
    if (FAILED(b->vertexBuffer->Lock(0, 0, &data, D3DLOCK_DISCARD))) {
        Qel_DPrintf(0, "ERROR:\tS_3DRenderSceneBuffer() could not lock VB\n");
        return 0;
    }
    // Never more than the buffer holds, whatever the count says.
    int64_t bytes = static_cast<int64_t>(b->vertexCount) * S3D_SCENE_VERTEX_BYTES;
    if (bytes > b->byteSize) bytes = b->byteSize;
    if (bytes > 0) std::memcpy(data, b->copy, static_cast<size_t>(bytes));
    b->vertexBuffer->Unlock();
    const UINT vertices = static_cast<UINT>(bytes / S3D_SCENE_VERTEX_BYTES);

    const BodyMaterial* material = record->material;
    if (!material) {
        Qel_DPrintf(0, "ERROR:\tS_3DRenderSceneBuffer() no valid shader Material pointer \n");
        return 0;
    }
    SysShaderDefinition* shader = nullptr;
    const bool own = group->flags & 0x10;
    const char* name = own && material->effect ? material->effect->effectName : nullptr;
    if (!own) shader = S_3DGetShader("effects", 0);
    else if (name) shader = S_3DGetShader(name, 0);
    if (!shader) {
        Qel_DPrintf(0,
                    "ERROR:\tS_3DRenderSceneBuffer() no valid shader found using default effects shader for the "
                    "buffer \n");
        shader = S_3DGetShader("effects", 0);
        if (!shader) {
            Qel_DPrintf(0, "ERROR:\tS_3DRenderSceneBuffer() could not load shader (second try)\n");
            return 0;
        }
    }
    if (record->itemCount == 0) return 1;
    S_3DSetProjectionDepth(5.0f, 500000.0f);
    if (SoftwareProcessing(device)) device->SetSoftwareVertexProcessing(1);

    ID3DXEffect* effect = shader->effect[0];
    if (!effect) {
        Qel_DPrintf(0, "ERROR:\tS_3DRenderSceneBuffer(), pShader->D3DSH_pEffect[0] invalid\n");
        return 0;
    }
    D3DXHANDLE technique = effect->GetTechniqueByName((group->flags & 0x20000000) ? "INSTANCE_BULLETS" : "INSTANCE");
    if (!technique && FAILED(effect->FindNextValidTechnique(nullptr, &technique))) technique = nullptr;
    if (!technique) {
        Qel_DPrintf(0, "ERROR:\tS_3DRenderSceneBuffer(), GetTechniqueByName() failed\n");
        return 0;
    }
    effect->SetTechnique(technique);
    if (D3DXHANDLE h = effect->GetParameterByName(nullptr, "t_DiffuseTexture")) {
        IDirect3DBaseTexture9* texture = PlainTexture(record->textureId);
        if (!texture) Qel_DPrintf(0, "ERROR:\tS_3DRenderSceneBuffer() Texture/Mat not found/loaded\n");
        effect->SetTexture(h, texture);
    }
    if (D3DXHANDLE h = effect->GetParameterByName(nullptr, "g_mViewProjection")) {
        D3DXMATRIX view, viewProjection;
        CameraView(scene, camera, &view);
        if (g_S3DMatrices.projection) D3DXMatrixMultiply(&viewProjection, &view, g_S3DMatrices.projection);
        else viewProjection = view;
        effect->SetMatrix(h, &viewProjection);
    }
    CStateManagerInterface* manager = g_RendererState->stateManager;
    UINT passes = 0;
    effect->Begin(&passes, D3DXFX_DONOTSAVESTATE);
    manager->SetVertexDeclaration(g_S3DMesh.declarations[10]);
    if (FAILED(manager->SetStreamSource(0, b->vertexBuffer, 0, S3D_SCENE_VERTEX_BYTES))) {
        effect->End();
        Qel_DPrintf(0, "ERROR: failed to set stream source, skipping VB!\n");
        return 0;
    }
    manager->SetIndices(nullptr);
    effect->BeginPass(0);
    device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, vertices / 3);
    effect->EndPass();
    effect->End();
    return 1;
}

int S_3DRenderParticleSystems(Scene3D* scene) {
    IDirect3DDevice9* device = S_3DDevice();
    SysShaderDefinition* shader = S_3DGetShader("particles", 0);
    ParticleBuffer* pb = scene ? scene->particleBuffer : nullptr;
    if (!device || !HasVertexShaders() || !pb || !pb->vertexBuffer || pb->batchCount == 0) return 1;
    if (g_S3DMatrices.projection) {
        g_S3DMatrices.projection->m[2][2] = 1.00001f;
        g_S3DMatrices.projection->m[3][2] = -5.00005f;
    }
    const bool software = SoftwareProcessing(device);
    if (software) device->SetSoftwareVertexProcessing(1);
    ID3DXEffect* effect = shader ? shader->effect[0] : nullptr;
    if (!effect) {
        Qel_DPrintf(0, "ERROR:\tS_3DRenderParticleSystems(), pShader->D3DSH_pEffect[0] invalid\n");
        return 0;
    }
    D3DXHANDLE technique = effect->GetTechniqueByName("BASE_NoLight");
    if (!technique && FAILED(effect->FindNextValidTechnique(nullptr, &technique))) technique = nullptr;
    if (!technique) {
        Qel_DPrintf(0, "ERROR:\tS_3DRenderParticleSystems(), GetTechniqueByName() failed\n");
        return 0;
    }
    effect->SetTechnique(technique);
    // Looked up on every call, like the rest: an effect freed and loaded
    // again may come back at the same address with other handles.
    const D3DXHANDLE view = effect->GetParameterByName(nullptr, "g_mView");
    const D3DXHANDLE proj = effect->GetParameterByName(nullptr, "g_mProj");
    const D3DXHANDLE diffuse = effect->GetParameterByName(nullptr, "t_DiffuseTexture");
    CStateManagerInterface* manager = g_RendererState->stateManager;
    if (manager) manager->SetVertexDeclaration(g_S3DMesh.declarations[9]);
    const int32_t materials = g_TCTextureInfo ? g_TCTextureInfoCount : 0;
    for (int32_t i = 0; i < pb->batchCount; ++i) {
        const int32_t* batch = pb->batches[i];
        if (batch[2] < 0 || batch[2] >= materials) continue;
        const uint32_t f = g_TCTextureInfo[batch[2]].flags;
        if (view && g_S3DMatrices.view) effect->SetMatrix(view, g_S3DMatrices.view);
        if (proj && g_S3DMatrices.projection) effect->SetMatrix(proj, g_S3DMatrices.projection);
        SetNamedInt(effect, "g_ZEnable", 1);
        SetNamedInt(effect, "g_ZWriteEnable", 0);
        SetNamedFloat(effect, "g_TextureAlpha", (f & 0x4) && (f & 0x200000) ? 1.0f : 0.0f);
        int blend[3] = {0, 0, 0};
        if (f & 0x80) blend[0] = 1, blend[1] = 9, blend[2] = 1;
        else if (f & 0x40) blend[0] = 1, blend[1] = 9, blend[2] = 3;
        else if (f & 0x400) blend[0] = 1, blend[1] = 3, blend[2] = 4;
        else if (f & 0x2) blend[0] = 1, blend[1] = 5, blend[2] = 2;
        else if (f & 0x4) blend[0] = 1, blend[1] = 5, blend[2] = 6;
        if (blend[0]) {
            SetNamedInt(effect, "g_AlphaBlendEnable", blend[0]);
            SetNamedInt(effect, "g_SrcBlend", blend[1]);
            SetNamedInt(effect, "g_DestBlend", blend[2]);
        } else {
            Qel_DPrintf(0, "S_3DRenderParticleSystems() blendmode not supported for mat %d\n", batch[2]);
        }
        if (diffuse)
            if (IDirect3DBaseTexture9* texture = PlainTexture(batch[2])) effect->SetTexture(diffuse, texture);
        // A pass that did not begin has set none of its states or shaders.
        UINT passes = 0;
        if (FAILED(effect->Begin(&passes, D3DXFX_DONOTSAVESTATE))) {
            Qel_DPrintf(0, "ERROR:\tS_3DRenderParticleSystems() Begin failed for mat %d\n", batch[2]);
            continue;
        }
        if (FAILED(effect->BeginPass(0))) {
            effect->End();
            Qel_DPrintf(0, "ERROR:\tS_3DRenderParticleSystems() BeginPass failed for mat %d\n", batch[2]);
            continue;
        }
        const HRESULT hr = manager ? manager->SetStreamSource(0, pb->vertexBuffer, 0, S3D_PARTICLE_VERTEX_BYTES)
                                   : device->SetStreamSource(0, pb->vertexBuffer, 0, S3D_PARTICLE_VERTEX_BYTES);
        if (FAILED(hr)) {
            effect->EndPass();
            effect->End();
            Qel_DPrintf(0, "ERROR: failed to set stream source, skipping VB!\n");
            return 0;
        }
        device->DrawPrimitive(D3DPT_TRIANGLELIST, static_cast<UINT>(batch[0]) * 6, static_cast<UINT>(batch[1]) * 2);
        effect->EndPass();
        effect->End();
    }
    return 1;
}
