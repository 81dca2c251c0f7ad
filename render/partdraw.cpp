// Part drawing (see partdraw.h). The scene engine's instance, camera, light
// and body records are read here directly (an upward include of the record
// layouts, with the skin lookup and the body table); the body cache is reached
// through the hook of render/bodies.h.
#include "render/partdraw.h"

#include <strings.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "base/ebm.h"
#include "base/general.h"
#include "base/log.h"
#include "base/texanim.h"
#include "base/texcache.h"
#include "render/bodies.h"
#include "render/cameras.h"
#include "render/device.h"
#include "render/effectparams.h"
#include "render/effects.h"
#include "render/lights.h"
#include "render/materialnames.h"
#include "render/mesh.h"
#include "render/postprocess.h"
#include "render/statemanager.h"
#include "render/targets.h"
#include "scene/bodyrecord.h"
#include "scene/fxparams.h"
#include "scene/records.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "system/adapters.h"
#include "system/shaderprofile.h"
#include "system/surfaces.h"
#include "system/video.h"

S3DPartDrawSettings g_S3DPartDraw = {0, 0, 0, 0, 1, 1};

void S_3DUpdatePartDrawSettings() {
    const D3DDeviceRecord* d = g_RendererState ? g_RendererState->device : nullptr;
    S3DPartDrawSettings& s = g_S3DPartDraw;
    s.vertexProcessing = d ? d->vertexProcessingMode : 0;
    s.bloom = d && d->sm2Detected && g_SystemState && (g_SystemState->VideoD3DFlags2 & S3D_OPTION_BLOOM) ? 1 : 0;
    s.environmentMapping = d && d->sm14InUse ? 1 : 0;
    s.maxAnisotropy = d && d->anisotropicOn ? d->anisotropyLevel : 1;
}

namespace {

constexpr uint32_t kParamLog = 0x200000;
constexpr uint32_t kBlendFlags = 0x4C7;

CStateManagerInterface* Manager() { return g_RendererState ? g_RendererState->stateManager : nullptr; }
bool Anisotropic() { return g_RendererState && g_RendererState->device && g_RendererState->device->anisotropicOn; }

float UnitScale(const Camera3D* camera) {
    return camera && camera->inst.scene ? camera->inst.scene->systemScale : 1.0f;
}

// The instance's animated-texture record of a negative material number.
const TC_Material* AnimRecord(const Inst3D* inst, int32_t key) {
    auto* records = static_cast<const TC_Material*>(inst->materialOverrides);
    if (!records) return nullptr;
    for (int32_t i = 0; i < inst->materialOverrideCount; ++i)
        if (records[i].w[TCM_ANIM] == -key) return &records[i];
    return nullptr;
}
int32_t AnimTexture(const TC_Material* r) { return static_cast<int16_t>(r->w[TCM_TEXTURE]); }

bool IsEffect(const BodyMaterial* m) { return m && (m->flags & BMAT_EFFECT) && m->effect; }

const FXParameter* FindParam(const FXEffectBlock* fx, const char* name) {
    for (int16_t i = 0; fx && i < fx->count; ++i)
        if (fx->params[i].name && std::strcmp(fx->params[i].name, name) == 0) return &fx->params[i];
    return nullptr;
}
const FXParameter* SlotParam(const FXEffectBlock* fx, uint32_t slot) {
    for (int16_t i = 0; fx && i < fx->count; ++i)
        if (fx->params[i].textureSlot == slot && fx->params[i].type == SPTYPE_LONG) return &fx->params[i];
    return nullptr;
}

// What a material group draws with, once resolved.
struct Resolved {
    const BodyMaterial* body = nullptr;  // own material of the body
    const TC_TextureInfo* global = nullptr;
    const FXEffectBlock* fx = nullptr;  // effect materials only
    uint32_t flags = 0;
    int32_t diffuse = 0, bump = 0, specular = 0, lightMap = 0, cube = 0, detail = 0;
    int32_t rawDiffuse = 0;
    int variant = 0;
    bool colorMatrix = false;
    const TC_Material* texSource = nullptr;
};

void SetTextureFlags(int32_t id, uint32_t flags) {
    if (id > 0) TC_SetTextureFlags(id, flags);
}

// Step 2 and 3 of a group: its material and texture ids; false ends the call.
bool Resolve(const Body3D* body, const Inst3D* inst, int32_t m, int lightFlags, Resolved* r) {
    const bool own = body && (body->flags & BODY_MATERIAL6) && body->materials && body->materialCount > 0;
    const BodyMaterial* mat = nullptr;
    int32_t animatedId = 0;
    if (m < 0) {
        const int32_t key = m;
        if (const TC_Material* rec = AnimRecord(inst, key)) {
            m = AnimTexture(rec);
            r->texSource = rec;
            animatedId = m;
        }
        if (own && IsEffect(&body->materials[0])) {
            mat = &body->materials[0];
            for (int32_t i = 0; i < body->materialCount; ++i) {
                const FXParameter* d = SlotParam(body->materials[i].effect, S3D_SLOT_DIFFUSE);
                if (IsEffect(&body->materials[i]) && d && d->value.i[0] == key) {
                    mat = &body->materials[i];
                    break;
                }
            }
        }
        if (m < 0) {
            Qel_ErrPrintf("Int_RenderPartFX() Material %d negative but no Texture Anim Index!\n", m);
            return false;
        }
    }
    if (!mat) {
        if (own) mat = m < body->materialCount ? &body->materials[m] : nullptr;
        else if (g_TCTextureInfo && m < g_TCTextureInfoCount) r->global = &g_TCTextureInfo[m];
    }
    r->body = mat;
    int32_t alternative = 0;
    if (mat && !IsEffect(mat)) {
        r->flags = mat->flags;
        r->diffuse = mat->baseTexture;
        r->bump = mat->texture4;
        alternative = mat->texture2;
        r->lightMap = mat->texture3;
        r->specular = mat->texture5;
    } else if (r->global) {
        r->flags = r->global->flags;
        r->diffuse = m;
        alternative = r->global->envMap;
        r->bump = r->global->bumpMap;
    } else if (!mat) {
        r->diffuse = m;
    }
    if (mat && IsEffect(mat)) {
        r->flags = mat->flags;
        r->fx = mat->effect;
        // Without a diffuse parameter: what part creation holds (S_3DMaterialDiffuseId).
        r->diffuse = animatedId ? animatedId : 0;
        for (int16_t i = 0; i < r->fx->count; ++i) {
            const FXParameter& p = r->fx->params[i];
            if (p.type == SPTYPE_LONG && p.textureSlot >= 1 && p.textureSlot <= 6) {
                int32_t v = p.value.i[0];
                if (v < 0 && p.textureSlot <= S3D_SLOT_BUMP && animatedId > 0) v = animatedId;
                int32_t* slots[6] = {&r->diffuse, &r->bump, &r->specular, &r->lightMap, &r->cube, &r->detail};
                if (p.textureSlot == S3D_SLOT_DIFFUSE) r->rawDiffuse = p.value.i[0];
                *slots[p.textureSlot - 1] = v;
                SetTextureFlags(v, mat->flags);
            } else if (p.type == SPTYPE_LONG && p.name && std::strcmp(p.name, "g_CullMode") == 0) {
                if (p.value.i[0] == 1) r->variant = 1;
            } else if (p.type == SPTYPE_LONG && p.name && std::strcmp(p.name, "g_ALPHATESTENABLE") == 0) {
                if (p.value.i[0]) r->flags |= 0x1;
            } else if (p.type == SPTYPE_BOOL && p.name && std::strcmp(p.name, "colormatrix") == 0) {
                if (p.value.i[0]) r->colorMatrix = true;
            }
        }
        if (r->bump < 0) {
            const TC_Material* rec = AnimRecord(inst, r->bump);
            if (rec) r->bump = AnimTexture(rec);
            if (r->bump < 0) {
                Qel_ErrPrintf("Int_RenderPartFX() Bumpmap material %d negative but no Texture Anim Index!\n", r->bump);
                return false;
            }
        }
        return true;
    }
    if (alternative && r->bump && (lightFlags & 2)) r->diffuse = alternative;
    if (r->diffuse < 0)
        if (const TC_Material* rec = AnimRecord(inst, r->diffuse)) r->diffuse = AnimTexture(rec);
    if (alternative && !r->bump) r->cube = alternative;
    return true;
}

// ---------------------------------------------------------------- block values

struct BlockWriter {
    ID3DXEffect* effect;
    const char* shader;

    FXParameter Temp(const char* name, uint16_t type) const {
        FXParameter p;
        std::memset(&p, 0, sizeof p);
        p.name = const_cast<char*>(name);
        p.type = type;
        return p;
    }
    void Int(const char* name, int32_t v) const {
        FXParameter p = Temp(name, SPTYPE_LONG);
        p.value.i[0] = v;
        SetFXParameterForAnyTechnique(effect, shader, &p);
    }
    void Float(const char* name, float v) const {
        FXParameter p = Temp(name, SPTYPE_FLOAT);
        p.value.f[0] = v;
        SetFXParameterForAnyTechnique(effect, shader, &p);
    }
    void Vec(const char* name, uint16_t type, float x, float y, float z, float w) const {
        FXParameter p = Temp(name, type);
        p.value.f[0] = x, p.value.f[1] = y, p.value.f[2] = z, p.value.f[3] = w;
        SetFXParameterForAnyTechnique(effect, shader, &p);
    }
    void Apply(const FXParameter& p) const { SetFXParameterForAnyTechnique(effect, shader, &p); }
};

void Filtering(const BlockWriter& w, bool noFiltering) {
    if (noFiltering) {
        w.Int("t_MinFilterTypeDiffuse", 1);
        w.Int("t_FilterTypeDiffuse", 1);
        return;
    }
    if (Anisotropic()) {
        w.Int("t_MinFilterTypeDiffuse", 3);
        w.Int("t_SamplerMaxAnisotropy", g_S3DPartDraw.maxAnisotropy);
    } else {
        w.Int("t_MinFilterTypeDiffuse", 2);
    }
    w.Int("t_FilterTypeDiffuse", 2);
}

void NeutralColour(const BlockWriter& w) {
    w.Float("g_Brightness", 1.0f);
    w.Float("g_Contrast", 1.0f);
    w.Float("g_Saturation", 1.0f);
    w.Float("g_Hue", 0.0f);
}

bool NameIs(const char* name, std::initializer_list<const char*> names) {
    for (const char* n : names)
        if (std::strcmp(name, n) == 0) return true;
    return false;
}

void SetTextureFlag(int32_t id, uint32_t bit, bool on) {
    if (id <= 0) return;
    uint32_t f = TC_GetTextureFlags(id);
    TC_SetTextureFlags(id, on ? f | bit : f & ~bit);
}

void EffectBlock(const BlockWriter& w, const Resolved& r) {
    bool alphaTest = false;
    for (int16_t i = 0; i < r.fx->count; ++i) {
        const FXParameter& p = r.fx->params[i];
        if (!p.name || std::strncmp(p.name, "I_", 2) == 0) continue;
        if (p.type == SPTYPE_BOOL) {
            const bool on = p.value.i[0] != 0;
            const char* compression[4] = {"diffcompression", "bumpcompression", "speccompression", "lightcompression"};
            const int32_t ids[4] = {r.diffuse, r.bump, r.specular, r.lightMap};
            bool done = false;
            for (int k = 0; k < 4; ++k)
                if (std::strcmp(p.name, compression[k]) == 0) {
                    SetTextureFlag(ids[k], TC_PACKED, !on);
                    done = true;
                }
            if (done) continue;
            if (std::strcmp(p.name, "autofree") == 0) {
                for (int32_t id : {r.diffuse, r.bump, r.specular, r.lightMap, r.cube})
                    SetTextureFlag(id, TC_AUTOFREE, on);
                continue;
            }
            if (NameIs(p.name, {"nofiltering", "Tex2", "colormatrix", "renderEnabled"})) continue;
        } else if (p.type == SPTYPE_LONG) {
            if (NameIs(p.name, {"BUMP", "SPEC", "LIGHT", "ENVI", "rendermaterial", "technique",
                                "t_DiffuseTexturemapChannel", "t_AlphaTexturemapChannel", "t_BumpTexturemapChannel",
                                "t_SpecularTexturemapChannel", "t_LightMapTexturemapChannel"}))
                continue;
            if (p.textureSlot >= 1 && p.textureSlot <= 6) continue;
            if (std::strcmp(p.name, "g_CullMode") == 0) {
                w.Int("g_CullMode", p.value.i[0] == 1 ? 1 : 3);
                continue;
            }
            if (std::strcmp(p.name, "t_MinFilterTypeDiffuse") == 0) {
                if (Anisotropic()) {
                    w.Int("t_MinFilterTypeDiffuse", 3);
                    w.Int("t_SamplerMaxAnisotropy", g_S3DPartDraw.maxAnisotropy);
                } else {
                    w.Int("t_MinFilterTypeDiffuse", 2);
                }
                continue;
            }
            if (std::strcmp(p.name, "t_FilterTypeDiffuse") == 0) {
                w.Int("t_FilterTypeDiffuse", 2);
                continue;
            }
            if (std::strcmp(p.name, "g_ALPHATESTENABLE") == 0 && p.value.i[0] == 1) alphaTest = true;
        } else if (p.type == SPTYPE_STRING) {
            if (NameIs(p.name, {"effectfilen", "effectfile", "t_AlphaTexture"})) continue;
        }
        if (NameIs(p.name, {"LightDir_Dir0", "LightDir_Color0", "g_LightAmbientIntensity"})) continue;
        w.Apply(p);
    }
    if (alphaTest) {
        w.Int("g_AlphaBlendEnable", 0);
        w.Int("g_ZWriteEnable", 1);
    }
    if (!r.colorMatrix) NeutralColour(w);
}

// Nine colour and lighting words of a body material: emissive colour (0-2),
// specular colour (3-5), emissive intensity (6), diffuse and specular
// strength (7, 8); the power and reflection in the two words after.
void PlainBlock(const BlockWriter& w, const Resolved& r, const BodyPart* part, D3DPartMaterial& e) {
    w.Int("g_nNumLightPoint", 0);
    auto power = [](uint32_t word, uint32_t specularSum) {
        return word ? static_cast<float>(word) + 1.0f : static_cast<float>(specularSum) / 768.0f * 100.0f + 1.0f;
    };
    if (r.body) {
        const uint16_t* c = r.body->colour;
        const float k = c[6];
        if (k != 0.0f) {
            w.Vec("g_MatEmissiveColor", SPTYPE_FLOAT4, c[0] * k / 25500.0f, c[1] * k / 25500.0f, c[2] * k / 25500.0f,
                  1.0f);
            w.Float("g_MatDiffuseStrength", 0.0f);
        } else {
            w.Float("g_MatDiffuseStrength", c[7] / 100.0f);
            w.Vec("g_MatEmissiveColor", SPTYPE_FLOAT3, 0.0f, 0.0f, 0.0f, 0.0f);
        }
        w.Float("g_MatSpecularStrength", c[8] / 100.0f);
        w.Float("g_MatSpecularPower", power(r.body->words[0], uint32_t(c[3]) + c[4] + c[5]));
        w.Float("g_MatReflectionStrength", r.cube ? r.body->words[1] / 25.0f : 0.0f);
    } else if (r.global) {
        const TC_TextureInfo& g = *r.global;
        const uint8_t* c = &g.head[0];  // the twelve colour bytes in a row
        const float k = static_cast<float>(g.words[0]);
        if (k != 0.0f) {
            w.Vec("g_MatEmissiveColor", SPTYPE_FLOAT4, c[9] * k / 25500.0f, c[10] * k / 25500.0f, c[11] * k / 25500.0f,
                  1.0f);
            w.Float("g_MatDiffuseStrength", 0.0f);
        } else {
            w.Float("g_MatDiffuseStrength", (c[9] + c[10] + c[11]) / 255.0f / 3.0f);
            w.Vec("g_MatEmissiveColor", SPTYPE_FLOAT3, c[0] / 255.0f, c[1] / 255.0f, c[2] / 255.0f, 0.0f);
        }
        w.Float("g_MatSpecularStrength", (c[3] + c[4] + c[5]) / 255.0f);
        w.Float("g_MatSpecularPower", power(static_cast<uint16_t>(g.shininess), uint32_t(c[3]) + c[4] + c[5]));
        w.Float("g_MatReflectionStrength", r.cube ? g.words[1] / 25.0f : 0.0f);
    }
    const uint32_t f = r.flags;
    // The part whose texture coordinates leave 0..1 carries the wrap flag.
    w.Int("g_Wrap", part && (part->flags & PART_WRAPS) ? 3 : 0);
    w.Int("g_CullMode", (f & 0x10) ? 1 : 3);
    w.Int("g_BlendOp", 1);
    w.Int("g_ZEnable", 1);
    w.Float("g_AlphaValue", 1.0f);
    if (!(f & kBlendFlags)) {
        w.Int("g_ZWriteEnable", 1);
        w.Int("g_AlphaBlendEnable", 0);
    } else {
        e.blended = 1;
        w.Int("g_ZWriteEnable", 0);
        w.Int("g_AlphaBlendEnable", 1);
        int src = 5, dest = 6;
        if (f & 0x80) src = 9, dest = 1;
        else if (f & 0x40) src = 9, dest = 3;
        else if (f & 0x400) src = 3, dest = 4;
        else if (f & 0x4) src = 5, dest = 6;
        else if ((f & 0x3) == 0x3) w.Int("g_AlphaBlendEnable", 0);
        else if (f & 0x2) src = 2, dest = 2;
        w.Int("g_SrcBlend", src);
        w.Int("g_DestBlend", dest);
        w.Float("g_AlphaValue", 1.0f);
        if ((f & 0x3) == 0x1) {
            w.Int("g_ZWriteEnable", 1);
            w.Int("g_SrcBlend", 2);
            w.Int("g_DestBlend", 1);
            w.Int("g_ALPHATESTENABLE", 1);
            w.Int("g_AlphaBlendEnable", 0);
        }
    }
    Filtering(w, f & 0x100);
    NeutralColour(w);
}

void DepthBlock(const BlockWriter& w, const Resolved& r, const BodyPart* part) {
    if (r.fx) {
        if (const FXParameter* c = FindParam(r.fx, "g_CullMode"); c && c->type == SPTYPE_LONG)
            w.Int("g_CullMode", c->value.i[0] == 1 ? 1 : 3);
        if (const FXParameter* wr = FindParam(r.fx, "g_Wrap"); wr && wr->type == SPTYPE_LONG) w.Apply(*wr);
        return;
    }
    w.Int("g_CullMode", (r.flags & 0x10) ? 1 : 3);
    w.Int("g_Wrap", part && (part->flags & PART_WRAPS) ? 3 : 0);
}

void CacheHandles(ID3DXEffect* effect, D3DPartMaterial& e) {
    for (int i = 0; i < PH_COUNT; ++i) e.handles[i] = effect->GetParameterByName(nullptr, S3D_PartHandleNames[i]);
    D3DXHANDLE lights = effect->GetParameterByName(nullptr, "g_LightPoint");
    for (int i = 0; i < S3D_POINT_LIGHTS; ++i) {
        D3DXHANDLE element = lights ? effect->GetParameterElement(lights, static_cast<UINT>(i)) : nullptr;
        const char* members[3] = {"position", "color", "atten"};
        for (int k = 0; k < 3; ++k)
            e.lightPoint[i][k] = element ? effect->GetParameterByName(element, members[k]) : nullptr;
    }
}

// ---------------------------------------------------------------- per draw

IDirect3DBaseTexture9* DeviceTexture(const EBM* bitmap) {
    return bitmap && bitmap->sys ? bitmap->sys->WE_lpDestTexture : nullptr;
}

bool InTextureTable(int32_t id) { return TC_TextureTable && id > 0 && id < g_TCNumberedCount + g_TCNamedCount; }

// The device texture tells a cube map. The table entry's flags word cannot:
// materials copy their flags into it, and its 0x2000000 is then the
// effect-material flag.
bool IsCube(const TC_TextureEntry& t) {
    IDirect3DBaseTexture9* texture = DeviceTexture(t.bitmap);
    return texture && texture->GetType() == D3DRTYPE_CUBETEXTURE;
}

// A table texture as bound to a 2D slot; dummies stand in for what has no
// device texture. False when the id names nothing usable.
bool TableTexture(int32_t id, IDirect3DBaseTexture9** out) {
    if (!InTextureTable(id)) return false;
    TC_TextureEntry& t = TC_TextureTable[id];
    if (!t.bitmap) TC_ReloadTexture(id);
    if (IsCube(t)) return false;
    IDirect3DBaseTexture9* texture = DeviceTexture(t.bitmap);
    if (!texture) {
        Qel_ErrPrintf(
            "ERROR: S_3DTextureGetSystemHandle, TEbm->EBM_Sys.Win->WE_lpDestTexture not valid using black dummy "
            "texture\n");
        texture = DeviceTexture(g_LookupTextures.blackDummy);
    }
    *out = texture;
    return true;
}

IDirect3DBaseTexture9* CubeOf(int32_t id) {
    if (!InTextureTable(id)) return nullptr;
    TC_TextureEntry& t = TC_TextureTable[id];
    if (!t.bitmap) TC_ReloadTexture(id);
    return IsCube(t) ? DeviceTexture(t.bitmap) : nullptr;
}

IDirect3DBaseTexture9* EnvMapTestFile() {
    uint32_t id = TC_GetTextureIdByName("effects\\others\\envmap_test.dds");
    if (id == 0 || id == 0xFFFF) return nullptr;
    return CubeOf(static_cast<int32_t>(id));
}

void SetVec(ID3DXEffect* fx, D3DXHANDLE h, float x, float y, float z, float w) {
    if (!h) return;
    const D3DXVECTOR4 v = {x, y, z, w};
    fx->SetVector(h, &v);
}

int32_t GetInt(ID3DXEffect* fx, D3DXHANDLE h) {
    INT v = 0;
    if (h) fx->GetInt(h, &v);
    return v;
}

D3DXMATRIX Transposed(const D3DXMATRIX& m) {
    D3DXMATRIX t;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) t.m[r][c] = m.m[c][r];
    return t;
}

// World-view of the instance, in double precision as Direct3D rows.
void WorldView(const Inst3D* inst, const Camera3D* camera, double out[4][4]) {
    const double unit = UnitScale(camera);
    double world[4][4] = {};
    const int32_t scale[3] = {inst->scale.x, inst->scale.y, inst->scale.z};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            world[i][j] = (inst->worldMatrix.m[i * 4 + j] / 65536.0) * (scale[i] / 65536.0) * inst->size * unit;
    world[3][0] = inst->worldPos.x * unit;
    world[3][1] = inst->worldPos.y * unit;
    world[3][2] = inst->worldPos.z * unit;
    world[3][3] = 1.0;
    double view[4][4] = {};
    const int32_t* R = camera->inst.worldMatrix.m;
    const double p[3] = {camera->inst.worldPos.x * unit, camera->inst.worldPos.y * unit,
                         camera->inst.worldPos.z * unit};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) view[i][j] = R[j * 4 + i] / 65536.0;
    for (int j = 0; j < 3; ++j) {
        double t = 0.0;
        for (int k = 0; k < 3; ++k) t += R[j * 4 + k] / 65536.0 * p[k];
        view[3][j] = -t;
    }
    view[3][3] = 1.0;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            double s = 0.0;
            for (int k = 0; k < 4; ++k) s += world[i][k] * view[k][j];
            out[i][j] = s;
        }
}

double Distance(const Inst3D* a, const Inst3D* b) {
    const double dx = static_cast<double>(a->worldPos.x) - b->worldPos.x;
    const double dy = static_cast<double>(a->worldPos.y) - b->worldPos.y;
    const double dz = static_cast<double>(a->worldPos.z) - b->worldPos.z;
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

// Each active light of the frame's list, in slot order.
template <class F>
void ForEachActiveLight(F f) {
    B3DState* s = g_B3DState;
    if (!s) return;
    const int32_t count = std::min(s->lightSlotCount, B3D_LIGHT_SLOTS);
    int32_t lights = 0;
    while (lights <= B3D_MAX_COLLECTED_LIGHTS && s->collectedLights[lights]) ++lights;
    for (int32_t i = 0; i < count; ++i) {
        const int32_t index = s->lightSlots[i].index;
        if (index < 0 || index >= lights) continue;
        f(s->collectedLights[index]);
    }
}

struct Draw {
    D3DPartMaterial& e;
    ID3DXEffect* fx;
    const Resolved& r;
    Inst3D* inst;
    Camera3D* cam;
    Inst3D* light;
    bool depthOnly;
};

// The last matrix inverted and its inverse: the view changes with the
// camera and the normal matrix with the part's turn and scale, not with
// every draw, so most draws find their inverse here.
struct InverseMemo {
    D3DXMATRIX in, out;
    bool valid = false, invertible = false;
};
InverseMemo s_viewInverse, s_normalInverse;

const D3DXMATRIX* Inverted(InverseMemo& memo, const D3DXMATRIX& m) {
    if (!memo.valid || std::memcmp(&memo.in, &m, sizeof m) != 0) {
        memo.in = m;
        memo.invertible = D3DXMatrixInverse(&memo.out, nullptr, &m) != nullptr;
        memo.valid = true;
    }
    return memo.invertible ? &memo.out : nullptr;
}

void Matrices(const Draw& d) {
    D3DXHANDLE* h = d.e.handles;
    RendererMatrices& m = g_S3DMatrices;
    double wv[4][4];
    WorldView(d.inst, d.cam, wv);
    D3DXMATRIX worldView;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) worldView.m[i][j] = static_cast<float>(wv[i][j]);
    D3DXMATRIX wvp;
    if ((d.inst->flags2 & S3D_INST2_SCREEN) && m.world && m.view && m.screenProjection) {
        D3DXMATRIX t;
        D3DXMatrixMultiply(&t, m.world, m.view);
        D3DXMatrixMultiply(&wvp, &t, m.screenProjection);
    } else if (m.projection) {
        D3DXMatrixMultiply(&wvp, &worldView, m.projection);
    } else {
        wvp = worldView;
    }
    if (d.depthOnly) {
        if (d.e.depthHandles[0]) d.fx->SetMatrix(d.e.depthHandles[0], &wvp);
        return;
    }
    if (h[PH_mWorld] && m.world) d.fx->SetMatrix(h[PH_mWorld], m.world);
    if (h[PH_mWorldIT] && m.normal)
        if (const D3DXMATRIX* inverse = Inverted(s_normalInverse, *m.normal)) {
            D3DXMATRIX it = Transposed(*inverse);
            d.fx->SetMatrix(h[PH_mWorldIT], &it);
        }
    if (h[PH_mWorldViewProjection]) d.fx->SetMatrix(h[PH_mWorldViewProjection], &wvp);
    if (h[PH_mViewInverse] && m.view)
        if (const D3DXMATRIX* inverse = Inverted(s_viewInverse, *m.view)) d.fx->SetMatrix(h[PH_mViewInverse], inverse);
}

void Lights(const Draw& d) {
    D3DXHANDLE* h = d.e.handles;
    auto* main = d.light ? static_cast<RendererLight*>(d.light->rendererLight) : nullptr;
    if (!d.light || !main) {
        const int32_t* z = &d.cam->inst.worldMatrix.m[8];
        SetVec(d.fx, h[PH_LightDir_Dir0], -z[0] / 65536.0f, -z[1] / 65536.0f, -z[2] / 65536.0f, 0.0f);
        SetVec(d.fx, h[PH_LightDir_Color0], 0.0f, 0.0f, 0.0f, 0.0f);
    } else {
        double v[3] = {static_cast<double>(d.light->worldPos.x) - d.inst->worldPos.x,
                       static_cast<double>(d.light->worldPos.y) - d.inst->worldPos.y,
                       static_cast<double>(d.light->worldPos.z) - d.inst->worldPos.z};
        const double len = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
        if (len > 0.0)
            for (double& x : v) x /= len;
        SetVec(d.fx, h[PH_LightDir_Dir0], static_cast<float>(v[0]), static_cast<float>(v[1]), static_cast<float>(v[2]),
               0.0f);
        const D3DCOLORVALUE& c = main->light.Diffuse;
        SetVec(d.fx, h[PH_LightDir_Color0], c.r, c.g, c.b, 0.0f);
    }
    int32_t count = 0;
    ForEachActiveLight([&](Inst3D* l) {
        auto* rl = static_cast<RendererLight*>(l->rendererLight);
        if (l == d.light || !rl || count >= S3D_POINT_LIGHTS) return;
        rl->slot = count;
        const D3DLIGHT9& L = rl->light;
        SetVec(d.fx, d.e.lightPoint[count][0], L.Position.x, L.Position.y, L.Position.z, 0.0f);
        SetVec(d.fx, d.e.lightPoint[count][1], L.Diffuse.r, L.Diffuse.g, L.Diffuse.b, 0.0f);
        SetVec(d.fx, d.e.lightPoint[count][2], L.Attenuation0, L.Attenuation1, L.Attenuation2, 0.0f);
        ++count;
    });
    if (h[PH_nNumLightPoint]) d.fx->SetInt(h[PH_nNumLightPoint], count);
}

void SetI(const Draw& d, int handle, int32_t v) {
    if (d.e.handles[handle]) d.fx->SetInt(d.e.handles[handle], v);
}
void SetF(const Draw& d, int handle, float v) {
    if (d.e.handles[handle]) d.fx->SetFloat(d.e.handles[handle], v);
}

void AlphaAndFog(const Draw& d) {
    D3DXHANDLE* h = d.e.handles;
    const int32_t blendOn = GetInt(d.fx, h[PH_AlphaBlendEnable]);
    GetInt(d.fx, h[PH_ALPHATESTENABLE]);
    const int32_t a = d.inst->alphaOverride;
    if (a >= 1 && a <= 255) {
        SetI(d, PH_ZWriteEnable, 0);
        SetI(d, PH_AlphaBlendEnable, 1);
        if (!d.e.blended && !blendOn) {
            SetI(d, PH_SrcBlend, 5);
            const int32_t dest = GetInt(d.fx, h[PH_DestBlend]);
            if (dest != 2 && dest != 6) SetI(d, PH_DestBlend, 2);
        }
        SetF(d, PH_AlphaValue, static_cast<float>(a) / 255.0f);
    }
    const double start = d.cam->fog[0], end = d.cam->fog[1];
    bool fog = (d.cam->camFlags & S3D_CAM_FOG) && !(d.inst->flags & S3D_INST_NO_FOG);
    // A fog that ends at or before its start has no depth to fade over.
    if (fog && end <= start) fog = false;
    if (fog && end - start < end - Distance(&d.cam->inst, d.inst)) fog = false;
    if (!fog) {
        SetVec(d.fx, h[PH_FogClip], 1.0f, 0.0f, 0.0f, 0.0f);
        SetI(d, PH_EnableFog, 0);
        return;
    }
    SetI(d, PH_ZWriteEnable, 0);
    SetI(d, PH_AlphaBlendEnable, 1);
    SetI(d, PH_SrcBlend, 5);
    SetI(d, PH_DestBlend, 6);
    const double unit = UnitScale(d.cam), S = start * unit, E = end * unit;
    SetVec(d.fx, h[PH_FogClip], static_cast<float>(E / (E - S)), static_cast<float>(1.0 / (E - S)), 0.0f, 0.0f);
    SetI(d, PH_EnableFog, 1);
}

void ColourAndForcedAlpha(const Draw& d) {
    D3DXHANDLE* h = d.e.handles;
    if (h[PH_Hue] && h[PH_Saturation] && !(d.inst->flags2 & S3D_INST2_NO_COLOUR)) {
        const int32_t saturation = S_3DInstSaturation(d.inst);
        if (saturation != 0x10000) SetF(d, PH_Saturation, std::clamp(saturation / 65536.0f, 0.0f, 5.1f));
        const int32_t hue = S_3DInstHue(d.inst);
        if (hue > 0) SetF(d, PH_Hue, static_cast<float>(std::min(hue, 360)));
    }
    const int32_t a = d.inst->alphaOverride;
    if ((d.inst->flags2 & S3D_INST2_FORCE_ALPHA) && a > 0) {
        SetI(d, PH_ZWriteEnable, 0);
        SetI(d, PH_AlphaBlendEnable, 1);
        SetI(d, PH_SrcBlend, 5);
        SetI(d, PH_DestBlend, 6);
        SetF(d, PH_AlphaValue, static_cast<float>(a) / 255.0f);
    }
}

// The missing parameters already said, per effect: every group drawn with an
// effect that lacks one would say it again every frame, thousands of lines a
// minute. The effect's free path takes its entries back (S_3DForgetEffect).
std::map<const ID3DXEffect*, std::set<std::string>>& SaidMissing() {
    static std::map<const ID3DXEffect*, std::set<std::string>> said;
    return said;
}

void SayMissing(const Draw& d, const char* line) {
    if (SaidMissing()[d.fx].emplace(line).second) Qel_DPrintf(0, "%s", line);
}

// Binds a 2D texture; answers whether a real texture of the table was bound.
bool Bind2D(const Draw& d, int handle, int32_t id, const char* missing, EBM* fallback) {
    D3DXHANDLE h = d.e.handles[handle];
    if (!h) {
        if (missing) SayMissing(d, missing);
        return false;
    }
    IDirect3DBaseTexture9* texture = nullptr;
    if (TableTexture(id, &texture)) {
        d.fx->SetTexture(h, texture);
        return true;
    }
    if (fallback) d.fx->SetTexture(h, DeviceTexture(fallback));
    return false;
}

bool Textures(const Draw& d) {
    D3DXHANDLE* h = d.e.handles;
    const LookupTextureSet& lt = g_LookupTextures;
    int32_t diffuse = d.r.diffuse;
    if (const int32_t skin = S_3DInstSkin(d.inst)) {
        const int32_t mapped = B3D_SkinMapTexture(diffuse, skin);
        if (mapped != diffuse && diffuse > 0 && InTextureTable(mapped)) {
            uint32_t replaced = TC_GetTextureFlags(diffuse);
            if (replaced && g_TCTextureInfo && mapped < g_TCTextureInfoCount)
                replaced |= g_TCTextureInfo[mapped].flags & TC_INFO_FLAG_MASK;
            if (replaced) TC_SetTextureFlags(mapped, replaced);
        }
        diffuse = mapped;
    }
    Bind2D(d, PH_DiffuseTexture, diffuse, "S_3DRenderPartFX() Parameter t_DiffuseTexture not found!\n", nullptr);
    if (!(d.inst->flags2 & S3D_INST2_NO_BUMP))
        Bind2D(d, PH_BumpTexture, d.r.bump, "S_3DRenderPartFX() Parameter t_BumpTexture not found!\n", nullptr);
    Bind2D(d, PH_SpecularTexture, d.r.specular, "S_3DRenderPartFX() Parameter t_SpecularTexture not found!\n",
           lt.whiteDummy);
    const bool lightMap = Bind2D(d, PH_LightMapTexture, d.r.lightMap,
                                 "S_3DRenderPartFX() Parameter t_LightMapTexture not found!\n", lt.blackDummy);
    if (!h[PH_CubeMapTexture]) {
        SayMissing(d, "S_3DRenderPartFX() Parameter t_CubeMapTexture not found!\n");
    } else if (d.r.cube > 0 && g_S3DPartDraw.environmentMapping == 1) {
        IDirect3DBaseTexture9* cube = nullptr;
        const char* name = InTextureTable(d.r.cube) ? TC_TextureTable[d.r.cube].name : nullptr;
        if (name && std::strstr(name, "envmap_test")) {
            const bool live =
                g_S3DTargets.EnvMapCube && g_B3DState && (g_B3DState->engineFlags & B3D_ENGINE_ENVMAP_DRAWN);
            cube = live ? g_S3DTargets.EnvMapCube : EnvMapTestFile();
        } else {
            cube = CubeOf(d.r.cube);
            if (!cube) cube = EnvMapTestFile();
        }
        if (cube) d.fx->SetTexture(h[PH_CubeMapTexture], cube);
        else Qel_ErrPrintf("ERROR\t: S_3DRenderPartFX() cannot set a correct t_CubeMapTexture !\n");
    } else {
        d.fx->SetTexture(h[PH_CubeMapTexture], DeviceTexture(lt.blackDummyCube));
    }
    if (h[PH_DetailTexture] && h[PH_DetailMapBlendWeight]) {
        IDirect3DBaseTexture9* t = nullptr;
        if (TableTexture(d.r.detail, &t)) d.fx->SetTexture(h[PH_DetailTexture], t);
        const double dist = Distance(&d.cam->inst, d.inst);
        const double f = d.cam->focus / 65536.0;
        const double tangent = std::tan(f / 2.0 * 2.0 * M_PI);
        const double weight = tangent != 0.0 ? dist / tangent : 0.9;
        SetF(d, PH_DetailMapBlendWeight, static_cast<float>(std::min(0.9, weight)));
    }
    if (h[PH_NormalizeTex0]) d.fx->SetTexture(h[PH_NormalizeTex0], DeviceTexture(lt.normalizeCube));
    if (h[PH_POW_Tex]) d.fx->SetTexture(h[PH_POW_Tex], DeviceTexture(lt.pow));
    if (h[PH_Derive_ZTex]) d.fx->SetTexture(h[PH_Derive_ZTex], DeviceTexture(lt.deriveZ));
    bool race = false;
    for (int i = 0; i < 9 && !race; ++i)
        if (h[PH_varsk_LightingTex + i] && DeviceTexture(lt.lighting[i])) {
            d.fx->SetTexture(h[PH_varsk_LightingTex + i], DeviceTexture(lt.lighting[i]));
            race = true;
        }
    if (!race && h[PH_Race_Lighting]) d.fx->SetTexture(h[PH_Race_Lighting], DeviceTexture(lt.lighting[9]));
    return lightMap;
}

void Glow(const Draw& d, bool lightMap) {
    D3DXHANDLE* h = d.e.handles;
    CStateManagerInterface* m = Manager();
    const int32_t B = GetInt(d.fx, h[PH_AlphaBlendEnable]);
    const int32_t T = GetInt(d.fx, h[PH_ALPHATESTENABLE]);
    if (!g_S3DPartDraw.bloom) {
        SetI(d, PH_ColorWriteEnable, 7);
        SetF(d, PH_EnableGlow, 0.0f);
        if (m) {
            m->SetRenderState(D3DRS_COLORWRITEENABLE, 7);
            m->SetRenderState(D3DRS_SEPARATEALPHABLENDENABLE, 0);
        }
        return;
    }
    if (!d.depthOnly) {
        if (lightMap) {
            const bool glow = B == 0 && T == 0;
            SetI(d, PH_ColorWriteEnable, glow ? 15 : 7);
            SetF(d, PH_EnableGlow, glow ? 1.0f : 0.0f);
        } else {
            SetF(d, PH_EnableGlow, 0.0f);
            if (B == 0 && T == 0) {
                SetI(d, PH_ColorWriteEnable, 15);
                if (d.inst->alphaOverride == 0 && !d.e.blended) SetF(d, PH_AlphaValue, 0.0f);
            } else {
                SetI(d, PH_ColorWriteEnable, 7);
            }
        }
    }
    if (d.cam->camFlags & S3D_CAM_GLOW) {
        if (B == 1) {
            SetI(d, PH_ColorWriteEnable, 15);
            if (m) {
                m->SetRenderState(D3DRS_COLORWRITEENABLE, 15);
                m->SetRenderState(D3DRS_SRCBLENDALPHA, D3DBLEND_ZERO);
                m->SetRenderState(D3DRS_DESTBLENDALPHA, D3DBLEND_ZERO);
                m->SetRenderState(D3DRS_SEPARATEALPHABLENDENABLE, 1);
            }
            SetI(d, PH_SeparateAlphaBlend, 1);
            SetI(d, PH_SrcBlendAlpha, 1);
            SetI(d, PH_DestBlendAlpha, 1);
            SetF(d, PH_EnableGlow, 0.0f);
        } else {
            SetI(d, PH_ColorWriteEnable, 7);
            SetF(d, PH_EnableGlow, 0.0f);
            if (m) m->SetRenderState(D3DRS_COLORWRITEENABLE, 7);
        }
    }
}

void TexMatrix(const Draw& d) {
    D3DXHANDLE h = d.e.handles[PH_TexMatrix];
    if (!h) return;
    D3DXMATRIX t{};
    if (d.r.texSource) {
        const int32_t* w = &d.r.texSource->w[TCM_MATRIX];
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) t.m[r][c] = static_cast<float>(w[r * 4 + c]) / 65536.0f;
    } else {
        t.m[0][0] = t.m[1][1] = t.m[2][2] = 1.0f;
    }
    d.fx->SetMatrix(h, &t);
}

void RunPasses(const Draw& d, UINT passes) {
    if (!d.e.vertexCount || !d.e.faceCount) {
        Qel_ErrPrintf(
            "ERROR: DrawIndexedPrimitive, pd3dpm->D3PM_dwVertices && pd3dpm->D3PM_NumTriangles are invalid\n");
        return;
    }
    IDirect3DDevice9* device = S_3DDevice();
    for (UINT p = 0; p < passes; ++p) {
        // A pass that did not begin has set none of its states or shaders:
        // drawing would use whatever the last draw left bound.
        if (HRESULT hr = d.fx->BeginPass(p); FAILED(hr)) {
            Qel_ErrPrintf("S_3DRenderPartFX() BeginPass(%u) failed: %s\n", p, DXGetErrorString9A(hr));
            continue;
        }
        HRESULT hr = device ? device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, d.e.vertexCount, 0, d.e.faceCount)
                            : D3DERR_INVALIDCALL;
        if (FAILED(hr)) Qel_ErrPrintf("ERROR: DrawIndexedPrimitive call failed!\n");
        d.fx->EndPass();
    }
}

// One group: the steps after the technique is set.
void DrawGroup(Draw& d) {
    UINT passes = 0;
    if (HRESULT hr = d.fx->Begin(&passes, D3DXFX_DONOTSAVESTATE); FAILED(hr)) {
        Qel_ErrPrintf("S_3DRenderPartFX() Begin failed: %s\n", DXGetErrorString9A(hr));
        return;
    }
    if (d.depthOnly) {
        if (d.e.depthBlock) d.fx->ApplyParameterBlock(d.e.depthBlock);
    } else {
        if (d.e.blockValid && d.e.block) d.fx->ApplyParameterBlock(d.e.block);
        if ((d.inst->flags2 & S3D_INST2_NO_DEPTH) || !(d.cam->camFlags & (S3D_CAM_KEEP_DEPTH | S3D_CAM_ZOOM_DEPTH))) {
            SetI(d, PH_ZEnable, 0);
            SetI(d, PH_ZWriteEnable, 0);
        }
        TexMatrix(d);
    }
    Matrices(d);
    bool lightMap = false;
    if (!d.depthOnly) {
        Lights(d);
        AlphaAndFog(d);
        ColourAndForcedAlpha(d);
        if (!(d.r.flags & 0x4000000)) lightMap = Textures(d);
    } else if ((d.r.flags & 0x1) && d.e.depthHandles[1]) {
        IDirect3DBaseTexture9* t = nullptr;
        if (TableTexture(d.r.diffuse, &t)) d.fx->SetTexture(d.e.depthHandles[1], t);
    }
    Glow(d, lightMap);
    RunPasses(d, passes);
    d.fx->End();
}

const char* ShaderName(const Resolved& r, const Inst3D* inst) {
    if (r.fx) {
        const char* n = r.fx->effectName ? r.fx->effectName : "";
        if (strcasecmp(n, "max_standard_lighting") == 0 || strcasecmp(n, "standard_lighting") == 0)
            return "standard_lighting";
        return n;
    }
    return g_B3DState && inst->scene && inst->scene == g_B3DState->lensFlareScene ? "effects" : "standard_lighting";
}

}  // namespace

void S_3DForgetMissingParameters(const ID3DXEffect* effect) { SaidMissing().erase(effect); }

int32_t S_3DInstHue(const Inst3D* inst) { return inst->colorModifier[0]; }
int32_t S_3DInstSaturation(const Inst3D* inst) { return inst->colorModifier[1]; }
int32_t S_3DInstSkin(const Inst3D* inst) { return inst->extraWords[0]; }

Inst3D* S_3DMainLight() {
    Inst3D* taken = nullptr;
    Inst3D* candidate = nullptr;
    Inst3D* point = nullptr;
    ForEachActiveLight([&](Inst3D* l) {
        if (taken) return;
        if (l->flags & INST_LIGHT_SECOND) taken = l;
        else if (!(l->flags & (INST_SPOT_LIGHT | INST_POINT_LIGHT))) candidate = l;
        else if ((l->flags & INST_POINT_LIGHT) && !(l->flags & INST_SPOT_LIGHT)) point = l;
    });
    return taken ? taken : candidate ? candidate : point;
}

void S_3DSetPartDepthRange(const Camera3D* camera) {
    D3DXMATRIX* p = g_S3DMatrices.projection;
    if (!p) return;
    if (camera && (camera->camFlags & S3D_CAM_ZOOM_DEPTH)) {
        const int32_t f = camera->focus;
        float nearPlane = f < 8519 ? 100.0f * (1.0f - 4.0f * static_cast<float>(f) / 65536.0f) : 0.0f;
        nearPlane += 5.0f;
        const float q = 500000.0f / (500000.0f - nearPlane);
        p->m[2][2] = q;
        p->m[3][2] = -nearPlane * q;
    } else {
        p->m[2][2] = 1.00001f;
        p->m[3][2] = -5.00005f;
    }
}

int S_3DRenderInst(BodyPart* part, Inst3D* inst, Camera3D* camera) {
    if (!part || !part->rendererPart) return 0;
    if (part->flags & S3D_PART_RECREATE) {
        if (!inst || inst->bodyId < 0) return 0;
        if (!g_S3DGetBodyHook || !g_S3DGetBodyHook(inst->bodyId)) {
            Qel_ErrPrintf("Error re-creating m3dpart\n");
            return 0;
        }
        part->flags &= ~S3D_PART_RECREATE;
    }
    if (part->flags & S3D_PART_SKIP) return 1;
    Inst3D* light = S_3DMainLight();
    S_3DSetPartDepthRange(camera);
    return S_3DRenderPartFX(static_cast<D3DPartMesh*>(part->rendererPart), inst, camera, light ? 2 : 0, light);
}

int S_3DRenderPartFX(D3DPartMesh* pm, Inst3D* inst, Camera3D* camera, int lightFlags, Inst3D* light) {
    if (!pm || !inst || !camera) {
        Qel_ErrPrintf("ERROR: Int_RenderPartFX() NULL pointer input\n");
        return 1;
    }
    if ((inst->flags & S3D_INST_SUPPRESSED) || !(inst->flags & S3D_INST_DRAWN) || (inst->flags & S3D_INST_INVISIBLE))
        return 1;
    if (g_S3DPartDraw.overrideFlags) {
        Qel_DPrintf(0, "Overrideflags %x \n", g_S3DPartDraw.overrideFlags);
        if (g_S3DPartDraw.overrideFlags & 0x400000)
            Qel_DPrintf(0, "OVERRIDE_ALPHA: MaterialToOverride=%d\n", g_S3DPartDraw.overrideMaterial);
    }
    IDirect3DDevice9* device = S_3DDevice();
    if (g_S3DPartDraw.vertexProcessing == 2 && device) device->SetSoftwareVertexProcessing(1);
    CStateManagerInterface* manager = Manager();
    auto* part = static_cast<BodyPart*>(pm->part);
    const Body3D* body = part && part->level ? part->level->body : nullptr;
    const bool depthOnly = inst->flags2 & S3D_INST2_DEPTH_ONLY;

    for (int32_t g = 0; g < pm->groupCount && pm->groups; ++g) {
        D3DPartMaterial& e = pm->groups[g];
        if (manager) manager->SetIndices(e.indexBuffer);
        Resolved r;
        if (!Resolve(body, inst, e.material, lightFlags, &r)) return 0;

        // Shader and technique.
        SysShaderDefinition* shader = nullptr;
        const char* technique = nullptr;
        const char* shaderName = nullptr;
        int variant = 0;
        if (depthOnly) {
            shaderName = "z_only";
            shader = S_3DGetShader(shaderName, 0);
            if (!shader) {
                Qel_ErrPrintf("ERROR: Int_LoadShader(z_only) failed!\n");
                continue;
            }
            if (!shader->effect[0]) {
                Qel_ErrPrintf("ERROR:\tInt_RenderPartFX(), pShader->D3DSH_pEffect[0] invalid\n");
                continue;
            }
            technique = (r.flags & 0x1) ? "Z_Only_Alpha" : "Z_Only_Fast";
        } else {
            shaderName = ShaderName(r, inst);
            variant = r.fx ? r.variant : ((r.flags & 0x10) ? 1 : 0);
            shader = S_3DGetShader(shaderName, variant);
            if (!shader) {
                if (r.fx) Qel_ErrPrintf("S_3DRenderPartFX() failed loading shader %s_%04x\n", shaderName, variant);
                else Qel_ErrPrintf("S_3DRenderPartFX() failed loading legacy shader standard_lighting_%04x\n", variant);
                continue;
            }
            if (!shader->effect[variant]) {
                Qel_ErrPrintf("S_3DRenderPartFX() pShader->D3DSH_pEffect[0] = NULL\n");
                continue;
            }
            const bool noBump = inst->flags2 & S3D_INST2_NO_BUMP;
            if (r.fx) technique = r.bump > 0 && !noBump ? "BUMPMAP" : "DEFAULT";
            else technique = (r.bump || r.cube || r.lightMap) && !noBump ? "BUMPMAP_LOW" : "DEFAULT";
        }
        if ((r.fx || depthOnly) && ((r.flags & BMAT_TEXANIM) || (inst->flags2 & S3D_INST2_ANIMATED))) {
            const int32_t key = r.rawDiffuse ? r.rawDiffuse : r.diffuse;
            if (const TC_Material* rec = AnimRecord(inst, key < 0 ? key : -key)) r.texSource = rec;
        }
        ID3DXEffect* fx = shader->effect[variant];

        // Geometry.
        if (!e.mesh) {
            Qel_ErrPrintf("ERROR: no mesh Interface found, skipping Object render!\n");
            return 0;
        }
        if (!manager || FAILED(manager->SetStreamSource(0, e.vertexBuffer, 0, e.mesh->GetNumBytesPerVertex()))) {
            Qel_ErrPrintf("ERROR: failed to set stream source, skipping VB!\n");
            return 0;
        }
        IDirect3DVertexDeclaration9* declaration =
            e.declaration > 0 && e.declaration <= 10 ? g_S3DMesh.declarations[e.declaration] : nullptr;
        if (!declaration) {
            Qel_ErrPrintf("ERROR: failed missing pd3dpm->D3PM_VB_Decl, skipping VB!\n");
            return 0;
        }
        if (FAILED(manager->SetVertexDeclaration(declaration))) {
            Qel_ErrPrintf("ERROR: failed to SetVertexDeclaration(), skipping VB!\n");
            return 0;
        }
        D3DXHANDLE t = fx->GetTechniqueByName(technique);
        if (!t && FAILED(fx->FindNextValidTechnique(nullptr, &t))) t = nullptr;
        if (!t) {
            Qel_ErrPrintf("S_3DRenderPartFX() Technique %s not found!\n", technique);
            return 0;
        }
        fx->SetTechnique(t);
        if (depthOnly && e.blended) return 1;

        // The parameter block, once per group and effect. The effect's
        // address is a sound key: its free path clears what groups keep on it
        // (S_3DForgetEffect), and the record is noted for that.
        const BlockWriter w{fx, shaderName};
        if (depthOnly) {
            if (!e.depthBlock || e.depthEffect != fx) {
                S_3DDropPartDepthBlock(e);
                if (SUCCEEDED(fx->BeginParameterBlock())) {
                    DepthBlock(w, r, part);
                    e.depthBlock = fx->EndParameterBlock();
                    e.depthEffect = e.depthBlock ? fx : nullptr;
                }
                e.depthHandles[0] = fx->GetParameterByName(nullptr, "g_mWorldViewProjection");
                e.depthHandles[1] = fx->GetParameterByName(nullptr, "t_DiffuseTexture");
                S_3DNotePartBlocks(pm);
            }
        } else if (!e.block || e.blockEffect != fx) {
            S_3DDropPartBlock(e);
            Qel_DPrintf(kParamLog, "BeginParameterBlock...\n");
            HRESULT hr = fx->BeginParameterBlock();
            if (FAILED(hr)) {
                Qel_ErrPrintf("S_3DRenderPartFX() BeginParameterBlock failed: %s\n", DXGetErrorString9A(hr));
                continue;
            }
            e.blended = 0;
            if (r.fx) EffectBlock(w, r);
            else PlainBlock(w, r, part, e);
            e.block = fx->EndParameterBlock();
            if (e.block) {
                e.blockEffect = fx;
                e.blockValid = 1;
            }
            CacheHandles(fx, e);
            S_3DNotePartBlocks(pm);
            Qel_DPrintf(kParamLog, "EndParameterBlock...\n");
        }
        Draw d{e, fx, r, inst, camera, light, depthOnly};
        DrawGroup(d);
    }
    return 1;
}
