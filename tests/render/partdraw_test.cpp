// Part drawing on the spy device, read through a spy effect that keeps every
// parameter's value at each pass: the block values of plain and effect
// materials, shader and technique choice, and the per-draw state.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "base/ebm.h"
#include "base/general.h"
#include "base/memory.h"
#include "base/strings.h"
#include "base/texanim.h"
#include "base/texcache.h"
#include "platform/d3d9/spy.h"
#include "render/bodies.h"
#include "render/cameras.h"
#include "render/effects.h"
#include "render/fake_body.h"
#include "render/lights.h"
#include "render/mesh.h"
#include "render/partdraw.h"
#include "render/statemanager.h"
#include "render/spy_effect.h"
#include "scene/fxparams.h"
#include "scene/records.h"
#include "scene/state.h"
#include "support/logcapture.h"
#include "system/adapters.h"
#include "system/shaderprofile.h"
#include "system/surfaces.h"
#include "system/video.h"

namespace {

std::string EffectSource(const char* name) {
    const char* src = std::getenv("TREVAN_SOURCE_DIR");
    std::ifstream in(std::string(src ? src : ".") + "/data/effects/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// An effect whose BUMPMAP technique alone reads g_BumpOnly, drawn in two passes.
const char* const kBumpOnly = R"(
float4x4 g_mWorldViewProjection;
float g_BumpOnly = 1.0;
float g_AlphaValue = 1.0;
int g_CullMode = 3;
texture t_DiffuseTexture;
texture t_BumpTexture;
glsl vertex V { void main() { gl_Position = g_mWorldViewProjection * a_Position; } }
glsl fragment F { void main() { d3d_FragColor = vec4(g_AlphaValue); } }
glsl fragment B { void main() { d3d_FragColor = vec4(g_BumpOnly); } }
technique DEFAULT { pass P0 { VertexShader = V; PixelShader = F; CullMode = <g_CullMode>; }
                    pass P1 { VertexShader = V; PixelShader = F; } }
technique BUMPMAP { pass P0 { VertexShader = V; PixelShader = B; } }
)";

// A texture that only counts its holders (the spy device makes none).
class FakeTexture final : public IDirect3DBaseTexture9 {
public:
    ULONG AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG Release() override {
        if (--refs > 0) return static_cast<ULONG>(refs);
        delete this;
        return 0;
    }
    HRESULT GetDevice(IDirect3DDevice9**) override { return D3DERR_INVALIDCALL; }
    D3DRESOURCETYPE GetType() override { return type; }
    DWORD GetLevelCount() override { return 1; }
    void GenerateMipSubLevels() override {}
    HRESULT SetAutoGenFilterType(D3DTEXTUREFILTERTYPE) override { return D3D_OK; }
    D3DTEXTUREFILTERTYPE GetAutoGenFilterType() override { return D3DTEXF_LINEAR; }
    int refs = 1;
    D3DRESOURCETYPE type = D3DRTYPE_TEXTURE;

private:
    ~FakeTexture() override = default;
};

class PartDrawTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedSystem_ = g_SystemState;
        savedState_ = g_B3DState;
        savedRenderer_ = g_RendererState;
        savedSettings_ = g_S3DPartDraw;
        savedLookups_ = g_LookupTextures;
        g_SystemState = &system_;
        g_B3DState = B3D_InitStore();
        ASSERT_NE(g_B3DState, nullptr);
        spy_ = new D3D9SpyDevice();
        record_.device = spy_;
        renderer_.device = &record_;
        g_RendererState = &renderer_;
        renderer_.stateManager = S_3DCreateStateManager(spy_);
        ASSERT_NE(renderer_.stateManager, nullptr);
        ASSERT_TRUE(S_3DCreateVertexDeclarations());
        ASSERT_EQ(S_3DAllocMatrices(), 1);
        savedNumbered_ = g_TCNumberedCount;
        g_TCNumberedCount = 16;
        g_TCNamedCount = 0;
        ASSERT_FALSE(TC_AllocTextureTable());
        g_TCTextureInfo = info_;
        g_TCTextureInfoCount = 16;
        g_S3DPartDraw = {0, 0, 0, 0, 1, 8};
        g_LookupTextures = {};
        standard_ = Install("standard_lighting", EffectSource("standard_lighting.fx"));
        zOnly_ = Install("z_only", EffectSource("z_only.fx"));

        scene_.systemScale = 1.0f / 65536.0f;
        camera_.inst.flags = INST_CAMERA;
        camera_.inst.scene = &scene_;
        Identity(&camera_.inst.worldMatrix);
        camera_.camFlags = S3D_CAM_KEEP_DEPTH;
        camera_.focus = 16384;
    }
    void TearDown() override {
        for (auto& b : bodies_)
            if (b->level.rendererBody) S_3DFreeBodyParts(&b->level);
        for (B3DNamedEntry* e : entries_) {
            S_3DFreeShaderDefinition(e);
            B3D_FreeNamedEntry(e);
        }
        for (FakeTexture* t : textures_) EXPECT_EQ(t->Release(), 0u);
        S_3DFreeMatrices();
        S_3DReleaseVertexDeclarations();
        renderer_.stateManager->Release();
        // The bitmaps belong to the test.
        for (int i = 0; i < g_TCNumberedCount + g_TCNamedCount; ++i) TC_TextureTable[i].bitmap = nullptr;
        TC_FreeTextureTables();
        g_TCTextureInfo = nullptr;
        g_TCTextureInfoCount = 0;
        g_TCNumberedCount = savedNumbered_;
        EXPECT_EQ(spy_->Release(), 0u);
        B3D_FreeStore();
        g_LookupTextures = savedLookups_;
        g_S3DPartDraw = savedSettings_;
        g_RendererState = savedRenderer_;
        g_B3DState = savedState_;
        g_SystemState = savedSystem_;
    }

    static void Identity(QelMatrix* m) {
        *m = {};
        m->m[0] = m->m[5] = m->m[10] = 0x10000;
    }

    // The spy effect of both variants of a shader, entered under its name.
    SpyEffect* Install(const char* name, const std::string& text, SpyEffect** twoSided = nullptr) {
        B3DNamedEntry* entry = B3D_AllocName(name);
        auto* d = static_cast<SysShaderDefinition*>(Int_AllocMem(sizeof(SysShaderDefinition), 0));
        d->name = Qel_StrDup(name);
        SpyEffect* out[2] = {};
        for (int v = 0; v < 2; ++v) {
            const D3DXMACRO macros[] = {
                {v ? "TWOSIDED" : "VRMENGINE", "true"}, {"VRMENGINE", "true"}, {nullptr, nullptr}};
            ID3DXEffect* inner = nullptr;
            ID3DXBuffer* errors = nullptr;
            EXPECT_EQ(D3DXCreateEffect(spy_, text.data(), static_cast<UINT>(text.size()), macros, nullptr, 0, nullptr,
                                       &inner, &errors),
                      D3D_OK)
                << (errors ? static_cast<const char*>(errors->GetBufferPointer()) : "");
            if (errors) errors->Release();
            out[v] = new SpyEffect(inner);
            out[v]->SetStateManager(renderer_.stateManager);
            d->effect[v] = out[v];
        }
        entry->definition = d;
        entries_.push_back(entry);
        if (twoSided) *twoSided = out[1];
        return out[0];
    }

    // The entry's effect made anew from `text`, behind a spy in `storage`;
    // what the entry held before goes through its one free path.
    SpyEffect* PlaceEffect(B3DNamedEntry* entry, SpyEffectStorage* storage, const std::string& text) {
        S_3DFreeShaderDefinition(entry);
        auto* d = static_cast<SysShaderDefinition*>(Int_AllocMem(sizeof(SysShaderDefinition), 0));
        std::memset(d, 0, sizeof *d);
        d->name = Qel_StrDup(entry->name);
        const D3DXMACRO macros[] = {{"VRMENGINE", "true"}, {nullptr, nullptr}};
        ID3DXEffect* inner = nullptr;
        EXPECT_EQ(D3DXCreateEffect(spy_, text.data(), static_cast<UINT>(text.size()), macros, nullptr, 0, nullptr,
                                   &inner, nullptr),
                  D3D_OK);
        SpyEffect* spy = SpyEffect::PlaceAt(storage->bytes, inner);
        spy->SetStateManager(renderer_.stateManager);
        d->effect[0] = spy;
        entry->definition = d;
        return spy;
    }

    FakeBody* Body(int32_t material, int32_t id = 50) {
        bodies_.push_back(std::make_unique<FakeBody>(id, 6, std::vector<std::vector<BodyTriangle>>{Fan(4)}));
        FakeBody* b = bodies_.back().get();
        b->groups[0].material = material;
        B3D_StoreBody(id, &b->body);
        return b;
    }
    // A body whose one material is its own effect material.
    FakeBody* EffectBody(const char* shader, std::vector<FXParameter> params, uint32_t flags = 0) {
        FakeBody* b = Body(0);
        b->fxParams = std::move(params);
        b->fx = {};
        b->fx.effectName = const_cast<char*>(shader);
        b->fx.count = static_cast<int16_t>(b->fxParams.size());
        b->fx.params = b->fxParams.data();
        b->materials.resize(1);
        b->materials[0].flags = BMAT_EFFECT | flags;
        b->materials[0].effect = &b->fx;
        b->body.materials = b->materials.data();
        b->body.materialCount = 1;
        b->body.flags |= BODY_MATERIAL6;
        return b;
    }
    Inst3D* Instance(FakeBody* b) {
        insts_.push_back(std::make_unique<Inst3D>());
        Inst3D* i = insts_.back().get();
        i->flags = S3D_INST_DRAWN;
        i->bodyId = b->body.id;
        i->size = 0x10000;
        i->scale = {0x10000, 0x10000, 0x10000, 0};
        i->colorModifier[1] = 0x10000;
        Identity(&i->worldMatrix);
        i->worldPos = {0, 0, 10 << 16, 0};
        return i;
    }
    // Draws the body's part once for the instance; the result of the draw.
    int Draw(FakeBody* b, Inst3D* inst, Inst3D* light = nullptr) {
        if (!b->level.rendererBody) {
            EXPECT_EQ(S_3DAddBody(&b->body), 1);
        }
        return S_3DRenderPartFX(static_cast<D3DPartMesh*>(b->part.rendererPart), inst, &camera_, light ? 2 : 0, light);
    }
    const SpyEffect::Snapshot& Last(SpyEffect* fx) {
        static SpyEffect::Snapshot none;
        return fx->draws.empty() ? none : fx->draws.back();
    }
    // A texture of the table with a device texture behind it.
    EBM* DeviceBitmap() {
        auto* t = new FakeTexture();
        textures_.push_back(t);
        bitmaps_.push_back(std::make_unique<EBM>());
        sys_.push_back(std::make_unique<SysEBM>());
        bitmaps_.back()->sys = sys_.back().get();
        sys_.back()->WE_lpDestTexture = t;
        return bitmaps_.back().get();
    }
    IDirect3DBaseTexture9* TextureOf(EBM* e) { return e->sys->WE_lpDestTexture; }
    void GiveTexture(int id, uint32_t flags = 0) {
        TC_TextureTable[id].bitmap = DeviceBitmap();
        TC_TextureTable[id].flags = flags;
    }

    SystemState system_{};
    RendererState renderer_{};
    D3DDeviceRecord record_{};
    D3D9SpyDevice* spy_ = nullptr;
    TC_TextureInfo info_[16]{};
    Scene3D scene_{};
    Camera3D camera_{};
    SpyEffect* standard_ = nullptr;
    SpyEffect* zOnly_ = nullptr;
    std::vector<std::unique_ptr<FakeBody>> bodies_;
    std::vector<std::unique_ptr<Inst3D>> insts_;
    std::vector<B3DNamedEntry*> entries_;
    std::vector<FakeTexture*> textures_;
    std::vector<std::unique_ptr<EBM>> bitmaps_;
    std::vector<std::unique_ptr<SysEBM>> sys_;

private:
    SystemState* savedSystem_ = nullptr;
    B3DState* savedState_ = nullptr;
    RendererState* savedRenderer_ = nullptr;
    S3DPartDrawSettings savedSettings_{};
    LookupTextureSet savedLookups_{};
    uint16_t savedNumbered_ = 0;
};

FXParameter Param(const char* name, uint16_t type, int32_t value, uint32_t slot = 0) {
    FXParameter p;
    std::memset(&p, 0, sizeof p);
    p.name = const_cast<char*>(name);
    p.type = type;
    p.value.i[0] = value;
    p.textureSlot = slot;
    return p;
}

FXParameter FloatParam(const char* name, float value) {
    FXParameter p = Param(name, SPTYPE_FLOAT, 0);
    p.value.f[0] = value;
    return p;
}

TEST_F(PartDrawTest, BlendRowsOfPlainMaterials) {
    struct Row {
        uint32_t flags;
        float zWrite, blend, src, dest, alphaTest;
        int blended;
    } rows[] = {
        {0x0, 1, 0, 5, 6, 0, 0},  // opaque: the effect's own blend factors stay
        {0x80, 0, 1, 9, 1, 0, 1}, {0x40, 0, 1, 9, 3, 0, 1}, {0x400, 0, 1, 3, 4, 0, 1},
        {0x4, 0, 1, 5, 6, 0, 1},  {0x6, 0, 1, 5, 6, 0, 1},  // 0x4 before 0x2
        {0x3, 0, 0, 5, 6, 0, 1},                            // 0x1 with 0x2: unblended
        {0x1, 1, 0, 2, 1, 1, 1},                            // the alpha-test row
        {0x2, 0, 1, 2, 2, 0, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.flags);
        info_[3].flags = row.flags;
        FakeBody* b = Body(3, 60 + static_cast<int>(row.flags));
        ASSERT_EQ(Draw(b, Instance(b)), 1);
        const auto& s = Last(standard_);
        EXPECT_EQ(s.technique, "DEFAULT");
        EXPECT_EQ(s.Value("g_ZWriteEnable"), row.zWrite);
        EXPECT_EQ(s.Value("g_AlphaBlendEnable"), row.blend);
        EXPECT_EQ(s.Value("g_SrcBlend"), row.src);
        EXPECT_EQ(s.Value("g_DestBlend"), row.dest);
        EXPECT_EQ(s.Value("g_ALPHATESTENABLE"), row.alphaTest);
        EXPECT_EQ(s.Value("g_AlphaValue"), 1.0f);
        EXPECT_EQ(static_cast<D3DPartMesh*>(b->part.rendererPart)->groups[0].blended, row.blended);
        // Put the effect's defaults back for the next row.
        standard_->SetInt(standard_->GetParameterByName(nullptr, "g_SrcBlend"), 5);
        standard_->SetInt(standard_->GetParameterByName(nullptr, "g_DestBlend"), 6);
        standard_->SetInt(standard_->GetParameterByName(nullptr, "g_ALPHATESTENABLE"), 0);
    }
}

TEST_F(PartDrawTest, FilteringFollowsTheMaterialAndAnisotropy) {
    struct Case {
        uint32_t flags;
        uint8_t anisotropic;
        float minFilter, filter, maxAnisotropy;
    } cases[] = {
        {0x0, 0, 2, 2, 1},
        {0x0, 1, 3, 2, 8},
        {0x100, 1, 1, 1, 1},
    };
    int id = 70;
    for (const Case& c : cases) {
        SCOPED_TRACE(id);
        record_.anisotropicOn = c.anisotropic;
        info_[4].flags = c.flags;
        standard_->SetInt(standard_->GetParameterByName(nullptr, "t_SamplerMaxAnisotropy"), 1);
        FakeBody* b = Body(4, id++);
        ASSERT_EQ(Draw(b, Instance(b)), 1);
        EXPECT_EQ(Last(standard_).Value("t_MinFilterTypeDiffuse"), c.minFilter);
        EXPECT_EQ(Last(standard_).Value("t_FilterTypeDiffuse"), c.filter);
        EXPECT_EQ(Last(standard_).Value("t_SamplerMaxAnisotropy"), c.maxAnisotropy);
    }
}

TEST_F(PartDrawTest, BodyAndGlobalMaterialValues) {
    // A global material: diffuse strength from the diffuse bytes, emissive from the first three.
    info_[5].head[0] = 255;
    info_[5].colour[2][0] = info_[5].colour[2][1] = info_[5].colour[2][2] = 255;
    info_[5].colour[0][0] = 255;  // specular red
    FakeBody* g = Body(5, 80);
    ASSERT_EQ(Draw(g, Instance(g)), 1);
    auto s = Last(standard_);
    EXPECT_FLOAT_EQ(s.Value("g_MatDiffuseStrength"), 1.0f);
    EXPECT_FLOAT_EQ(s.Value("g_MatEmissiveColor", 0), 1.0f);
    EXPECT_FLOAT_EQ(s.Value("g_MatSpecularStrength"), 1.0f);
    EXPECT_FLOAT_EQ(s.Value("g_MatSpecularPower"), 255.0f / 768.0f * 100.0f + 1.0f);
    EXPECT_FLOAT_EQ(s.Value("g_MatReflectionStrength"), 0.0f);

    // An own plain material with emissive intensity.
    FakeBody* b = Body(0, 81);
    b->materials.resize(1);
    BodyMaterial& m = b->materials[0];
    m.colour[0] = 255, m.colour[1] = 0, m.colour[2] = 51, m.colour[6] = 100, m.colour[8] = 50;
    m.words[0] = 15;
    b->body.materials = b->materials.data();
    b->body.materialCount = 1;
    b->body.flags |= BODY_MATERIAL6;
    ASSERT_EQ(Draw(b, Instance(b)), 1);
    s = Last(standard_);
    EXPECT_FLOAT_EQ(s.Value("g_MatEmissiveColor", 0), 1.0f);
    EXPECT_FLOAT_EQ(s.Value("g_MatEmissiveColor", 2), 0.2f);
    EXPECT_FLOAT_EQ(s.Value("g_MatEmissiveColor", 3), 1.0f);
    EXPECT_FLOAT_EQ(s.Value("g_MatDiffuseStrength"), 0.0f);
    EXPECT_FLOAT_EQ(s.Value("g_MatSpecularStrength"), 0.5f);
    EXPECT_FLOAT_EQ(s.Value("g_MatSpecularPower"), 16.0f);
}

TEST_F(PartDrawTest, EffectMaterialParameterRules) {
    SpyEffect* twoSided = nullptr;
    standard_->SetFloat(standard_->GetParameterByName(nullptr, "g_Hue"), 9.0f);
    SpyEffect* custom = Install("hull_fx", EffectSource("standard_lighting.fx"), &twoSided);
    GiveTexture(7, TC_PACKED);
    std::vector<FXParameter> params = {
        Param("t_DiffuseTexture", SPTYPE_LONG, 7, 1),
        Param("diffcompression", SPTYPE_BOOL, 1),  // compressed: the packed flag goes
        Param("autofree", SPTYPE_BOOL, 1),
        Param("g_CullMode", SPTYPE_LONG, 1),
        Param("I_Hidden", SPTYPE_LONG, 5),
        Param("g_ZEnable", SPTYPE_LONG, 0),
        Param("t_FilterTypeDiffuse", SPTYPE_LONG, 7),
        FloatParam("g_Hue", 30.0f),
    };
    FakeBody* b = EffectBody("hull_fx", params);
    ASSERT_EQ(Draw(b, Instance(b)), 1);
    ASSERT_TRUE(custom->draws.empty());
    const auto& s = Last(twoSided);  // g_CullMode 1 selects variant 1
    EXPECT_EQ(s.technique, "DEFAULT");
    EXPECT_EQ(s.Value("g_ZEnable"), 0.0f);
    EXPECT_EQ(s.Value("t_FilterTypeDiffuse"), 2.0f);
    EXPECT_EQ(s.Value("g_Hue"), 0.0f);  // colour adjustment back to neutral
    EXPECT_EQ(TC_TextureTable[7].flags & TC_PACKED, 0u);
    EXPECT_EQ(TC_TextureTable[7].flags & TC_AUTOFREE, TC_AUTOFREE);
    // The texture took the material's flags, effect flag and all, and is still
    // no cube map.
    EXPECT_EQ(TC_TextureTable[7].flags & BMAT_EFFECT, BMAT_EFFECT);
    EXPECT_EQ(s.textures.at("t_DiffuseTexture"), TextureOf(TC_TextureTable[7].bitmap));

    // Without a diffuse parameter a material draws what part creation holds: no
    // texture, whatever texture its number names.
    GiveTexture(1);
    FakeBody* bare = EffectBody("standard_lighting", {FloatParam("g_Hue", 0.0f)});
    bare->materials.push_back(bare->materials[0]);
    bare->body.materials = bare->materials.data();
    bare->body.materialCount = 2;
    bare->groups[0].material = 1;
    ASSERT_EQ(Draw(bare, Instance(bare)), 1);
    EXPECT_EQ(static_cast<D3DPartMesh*>(bare->part.rendererPart)->groups[0].textureRef, 0);
    ASSERT_FALSE(standard_->draws.empty());
    EXPECT_EQ(Last(standard_).textures.at("t_DiffuseTexture"), nullptr);

    // "max_standard_lighting" is the standard effect; a true "colormatrix" keeps its colours.
    FakeBody* alias = EffectBody(
        "max_standard_lighting",
        {Param("colormatrix", SPTYPE_BOOL, 1), FloatParam("g_Hue", 30.0f), Param("g_CullMode", SPTYPE_LONG, 2)});
    ASSERT_EQ(Draw(alias, Instance(alias)), 1);
    ASSERT_FALSE(standard_->draws.empty());
    EXPECT_EQ(Last(standard_).Value("g_Hue"), 30.0f);
    EXPECT_EQ(Last(standard_).Value("g_CullMode"), 3.0f);
}

TEST_F(PartDrawTest, CullModeOfEffectMaterials) {
    SpyEffect* twoSided = nullptr;
    SpyEffect* plain = Install("culled", kBumpOnly, &twoSided);
    struct Case {
        int32_t value;
        SpyEffect* variant;
        float cull;
    } cases[] = {{1, twoSided, 1}, {2, plain, 3}, {0, plain, 3}, {3, plain, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        FakeBody* b = EffectBody("culled", {Param("g_CullMode", SPTYPE_LONG, c.value)});
        const size_t before = c.variant->draws.size();
        ASSERT_EQ(Draw(b, Instance(b)), 1);
        ASSERT_GT(c.variant->draws.size(), before);
        EXPECT_EQ(Last(c.variant).Value("g_CullMode"), c.cull);
    }
}

TEST_F(PartDrawTest, ShaderAndTechniqueChoice) {
    // Bump, cube or light map on a plain material: the low bump technique.
    info_[6].bumpMap = 9;
    FakeBody* bump = Body(6, 90);
    ASSERT_EQ(Draw(bump, Instance(bump)), 1);
    EXPECT_EQ(Last(standard_).technique, "BUMPMAP_LOW");
    Inst3D* flat = Instance(bump);
    flat->flags2 |= S3D_INST2_NO_BUMP;
    ASSERT_EQ(Draw(bump, flat), 1);
    EXPECT_EQ(Last(standard_).technique, "DEFAULT");

    // Depth-only drawing: z_only, alpha-tested or fast.
    info_[8].flags = 0x1;
    FakeBody* tested = Body(8, 91);
    Inst3D* depth = Instance(tested);
    depth->flags2 |= S3D_INST2_DEPTH_ONLY;
    info_[8].flags = 0x0;
    ASSERT_EQ(Draw(tested, depth), 1);
    EXPECT_EQ(Last(zOnly_).technique, "Z_Only_Fast");
    info_[10].flags = 0x1;
    FakeBody* tested2 = Body(10, 92);
    Inst3D* depth2 = Instance(tested2);
    depth2->flags2 |= S3D_INST2_DEPTH_ONLY;
    ASSERT_EQ(Draw(tested2, depth2), 1);
    // An alpha-tested group is marked blended by its normal block only; never drawn yet, so drawn here.
    EXPECT_EQ(Last(zOnly_).technique, "Z_Only_Alpha");

    // The lens-flare scene draws with "effects".
    SpyEffect* effects = Install("effects", EffectSource("standard_lighting.fx"));
    Scene3D flares{};
    g_B3DState->lensFlareScene = &flares;
    FakeBody* flare = Body(2, 93);
    Inst3D* f = Instance(flare);
    f->scene = &flares;
    ASSERT_EQ(Draw(flare, f), 1);
    EXPECT_EQ(effects->draws.size(), 1u);

    // An effect material with a bump texture: BUMPMAP.
    SpyEffect* custom = Install("bumpy", EffectSource("standard_lighting.fx"));
    FakeBody* e = EffectBody("bumpy", {Param("t_BumpTexture", SPTYPE_LONG, 11, 2)});
    ASSERT_EQ(Draw(e, Instance(e)), 1);
    EXPECT_EQ(Last(custom).technique, "BUMPMAP");

    // A shader that cannot be had skips the group.
    FakeBody* missing = EffectBody("nowhere", {});
    LogCapture log;
    EXPECT_EQ(Draw(missing, Instance(missing)), 1);
    EXPECT_TRUE(log.Contains("S_3DRenderPartFX() failed loading shader nowhere_0000\n"));
}

TEST_F(PartDrawTest, TheBlockHoldsWhatEveryTechniqueUses) {
    SpyEffect* fx = Install("bumponly", kBumpOnly);
    FakeBody* b = EffectBody("bumponly", {Param("t_BumpTexture", SPTYPE_LONG, 11, 2), FloatParam("g_BumpOnly", 7.0f)});
    Inst3D* flat = Instance(b);
    flat->flags2 |= S3D_INST2_NO_BUMP;
    ASSERT_EQ(Draw(b, flat), 1);  // the block is built under DEFAULT
    EXPECT_EQ(Last(fx).technique, "DEFAULT");
    // Another group's value in the effect meanwhile.
    fx->SetFloat(fx->GetParameterByName(nullptr, "g_BumpOnly"), 3.0f);
    ASSERT_EQ(Draw(b, Instance(b)), 1);
    EXPECT_EQ(Last(fx).technique, "BUMPMAP");
    EXPECT_EQ(Last(fx).Value("g_BumpOnly"), 7.0f);
}

// One effect in two layouts: the second declares its parameters in another
// order behind one of its own, so that no handle of the first names the same
// parameter in it, and its defaults differ from what the blocks set.
const char* const kFirstLayout = R"(
float4x4 g_mWorldViewProjection;
float g_BumpOnly = 1.0;
int g_CullMode = 1;
glsl vertex V { void main() { gl_Position = g_mWorldViewProjection * a_Position; } }
glsl fragment F { void main() { d3d_FragColor = vec4(g_BumpOnly); } }
technique DEFAULT { pass P0 { VertexShader = V; PixelShader = F; CullMode = <g_CullMode>; } }
)";
const char* const kSecondLayout = R"(
float g_Before = 2.0;
int g_CullMode = 1;
float g_BumpOnly = 1.0;
float4x4 g_mWorldViewProjection;
glsl vertex V { void main() { gl_Position = g_mWorldViewProjection * a_Position; } }
glsl fragment F { void main() { d3d_FragColor = vec4(g_BumpOnly * g_Before); } }
technique DEFAULT { pass P0 { VertexShader = V; PixelShader = F; CullMode = <g_CullMode>; } }
)";

// An effect freed and another made at its address: the part's group keeps
// nothing of the first, neither its parameter block nor its handles.
TEST_F(PartDrawTest, AnEffectMadeWhereAFreedOneLayHasItsOwnBlockAndHandles) {
    struct Case {
        const char* shader;  // the entry the draw loads
        uint32_t flags2;
        const char* blockValue;  // set by the group's block alone
        float value;
    } cases[] = {
        {"relaid", 0, "g_BumpOnly", 7.0f},
        {"z_only", S3D_INST2_DEPTH_ONLY, "g_CullMode", 3.0f},
    };
    SpyEffectStorage storage;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shader);
        B3DNamedEntry* entry = B3D_FindEffectByName(c.shader);
        if (!entry) entries_.push_back(entry = B3D_AllocName(c.shader));
        FakeBody* b = EffectBody("relaid", {FloatParam("g_BumpOnly", 7.0f), Param("g_CullMode", SPTYPE_LONG, 2)});
        Inst3D* inst = Instance(b);
        inst->flags2 |= c.flags2;
        SpyEffect* first = PlaceEffect(entry, &storage, kFirstLayout);
        ASSERT_EQ(Draw(b, inst), 1);
        ASSERT_EQ(first->draws.size(), 1u);
        EXPECT_EQ(Last(first).Value(c.blockValue), c.value);

        SpyEffect* second = PlaceEffect(entry, &storage, kSecondLayout);
        ASSERT_EQ(static_cast<void*>(second), static_cast<void*>(storage.bytes));
        ASSERT_EQ(Draw(b, inst), 1);
        ASSERT_EQ(second->draws.size(), 1u);
        const SpyEffect::Snapshot& s = Last(second);
        EXPECT_EQ(s.Value(c.blockValue), c.value);
        EXPECT_NEAR(s.Value("g_mWorldViewProjection", 15), 10.0f, 1e-5);  // the instance 10 units ahead
        const D3DPartMaterial& g = static_cast<D3DPartMesh*>(b->part.rendererPart)->groups[0];
        const D3DXHANDLE wvp = c.flags2 ? g.depthHandles[0] : g.handles[PH_mWorldViewProjection];
        EXPECT_EQ(wvp, second->GetParameterByName(nullptr, "g_mWorldViewProjection"));
        // The storage is the test's: the entry lets go of the effect in it.
        S_3DFreeShaderDefinition(entry);
        EXPECT_EQ(c.flags2 ? g.depthEffect : g.blockEffect, nullptr);
    }
}

// Every group drawn with an effect that lacks a texture parameter would say so
// every frame: each effect says each missing parameter once, and an effect
// made later where a freed one lay says it again.
TEST_F(PartDrawTest, AMissingParameterIsSaidOncePerEffect) {
    auto count = [](const std::string& text, const std::string& line) {
        size_t n = 0;
        for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++n;
        return n;
    };
    const std::string missing[] = {"S_3DRenderPartFX() Parameter t_SpecularTexture not found!\n",
                                   "S_3DRenderPartFX() Parameter t_LightMapTexture not found!\n",
                                   "S_3DRenderPartFX() Parameter t_CubeMapTexture not found!\n"};
    Install("lacking", kBumpOnly);
    Install("lacking2", kBumpOnly);
    FakeBody* first = EffectBody("lacking", {});
    FakeBody* second = EffectBody("lacking", {});
    FakeBody* other = EffectBody("lacking2", {});
    LogCapture log;
    for (int frame = 0; frame < 3; ++frame)
        for (FakeBody* b : {first, second, other}) ASSERT_EQ(Draw(b, Instance(b)), 1);
    for (const std::string& line : missing) EXPECT_EQ(count(log.Text(), line), 2u) << line << log.Text();
    EXPECT_FALSE(log.Contains("t_BumpTexture not found")) << log.Text();

    SpyEffectStorage storage;
    B3DNamedEntry* entry = B3D_FindEffectByName("lacking");
    ASSERT_NE(entry, nullptr);
    PlaceEffect(entry, &storage, kBumpOnly);
    ASSERT_EQ(Draw(first, Instance(first)), 1);
    PlaceEffect(entry, &storage, kBumpOnly);
    ASSERT_EQ(Draw(first, Instance(first)), 1);
    for (const std::string& line : missing) EXPECT_EQ(count(log.Text(), line), 4u) << line << log.Text();
    S_3DFreeShaderDefinition(entry);
}

TEST_F(PartDrawTest, OneDrawPerPass) {
    SpyEffect* fx = Install("twopass", kBumpOnly);
    FakeBody* b = EffectBody("twopass", {});
    const int before = spy_->Count("DrawIndexedPrimitive");
    ASSERT_EQ(Draw(b, Instance(b)), 1);
    EXPECT_EQ(spy_->Count("DrawIndexedPrimitive") - before, 2);
    EXPECT_EQ(fx->begins, 1);
    std::vector<std::string> expected = {"BeginParameterBlock", "EndParameterBlock", "Begin",
                                         "ApplyParameterBlock", "BeginPass",         "EndPass",
                                         "BeginPass",           "EndPass",           "End"};
    EXPECT_EQ(fx->calls, expected);

    // A pass that does not begin draws nothing; an effect that does not begin, no pass.
    fx->calls.clear();
    fx->failBeginPass = {E_FAIL};
    LogCapture log;
    ASSERT_EQ(Draw(b, Instance(b)), 1);
    EXPECT_EQ(spy_->Count("DrawIndexedPrimitive") - before, 3);
    expected = {"Begin", "ApplyParameterBlock", "BeginPass", "BeginPass", "EndPass", "End"};
    EXPECT_EQ(fx->calls, expected);
    EXPECT_TRUE(log.Contains("S_3DRenderPartFX() BeginPass(0) failed: E_FAIL\n")) << log.Text();
    fx->calls.clear();
    fx->failBegin = {E_FAIL};
    ASSERT_EQ(Draw(b, Instance(b)), 1);
    EXPECT_EQ(spy_->Count("DrawIndexedPrimitive") - before, 3);
    EXPECT_EQ(fx->calls, std::vector<std::string>{"Begin"});
    EXPECT_TRUE(log.Contains("S_3DRenderPartFX() Begin failed: E_FAIL\n")) << log.Text();
}

TEST_F(PartDrawTest, AnimatedMaterialsTakeTheirRecord) {
    FakeBody* b = Body(-3, 95);
    Inst3D* inst = Instance(b);
    int32_t textures[1] = {3};
    TC_Material* records = TC_NewMaterials(nullptr, 1, textures, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(records, nullptr);
    records[0].w[TCM_TEXTURE] = 12;
    records[0].w[TCM_MATRIX + 8] = 0x8000;  // a half step along u
    GiveTexture(12);
    inst->materialOverrides = records;
    inst->materialOverrideCount = 1;
    ASSERT_EQ(Draw(b, inst), 1);
    const auto& s = Last(standard_);
    EXPECT_EQ(s.textures.at("t_DiffuseTexture"), TextureOf(TC_TextureTable[12].bitmap));
    EXPECT_FLOAT_EQ(s.Value("g_TexMatrix", 8), 0.5f);

    // Without a record the draw ends.
    Inst3D* bare = Instance(b);
    LogCapture log;
    EXPECT_EQ(Draw(b, bare), 0);
    EXPECT_TRUE(log.Contains("Int_RenderPartFX() Material -3 negative but no Texture Anim Index!\n"));
    TC_FreeMaterials(1, records);
}

TEST_F(PartDrawTest, DepthRangeOfTheZoomFlag) {
    struct Case {
        int32_t focus;
        float nearPlane;
    } cases[] = {{6553, 100.0f * (1.0f - 4.0f * 6553 / 65536.0f) + 5.0f}, {8519, 5.0f}, {20000, 5.0f}};
    for (const Case& c : cases) {
        camera_.camFlags = S3D_CAM_ZOOM_DEPTH;
        camera_.focus = c.focus;
        S_3DSetPartDepthRange(&camera_);
        const float q = 500000.0f / (500000.0f - c.nearPlane);
        EXPECT_FLOAT_EQ(g_S3DMatrices.projection->m[2][2], q);
        EXPECT_FLOAT_EQ(g_S3DMatrices.projection->m[3][2], -c.nearPlane * q);
    }
    EXPECT_NEAR(cases[0].nearPlane, 65.0f, 0.01f);
    camera_.camFlags = 0;
    S_3DSetPartDepthRange(&camera_);
    EXPECT_FLOAT_EQ(g_S3DMatrices.projection->m[2][2], 1.00001f);
    EXPECT_FLOAT_EQ(g_S3DMatrices.projection->m[3][2], -5.00005f);
}

TEST_F(PartDrawTest, NothingToDraw) {
    FakeBody* b = Body(1);
    ASSERT_EQ(S_3DAddBody(&b->body), 1);
    D3DPartMesh empty{&b->part, 1, 0, nullptr, nullptr, 0};
    EXPECT_EQ(S_3DRenderPartFX(&empty, Instance(b), &camera_, 0, nullptr), 1);
    Inst3D* hidden = Instance(b);
    hidden->flags |= S3D_INST_INVISIBLE;
    const size_t calls = spy_->calls.size();
    EXPECT_EQ(Draw(b, hidden), 1);
    EXPECT_EQ(spy_->calls.size(), calls);
    EXPECT_TRUE(standard_->draws.empty());
}

// ---------------------------------------------------------------- per draw

TEST_F(PartDrawTest, MatricesOfAnInstanceSeenByTheCamera) {
    FakeBody* b = Body(1);
    Inst3D* inst = Instance(b);
    inst->worldPos = {3 << 16, 0, 10 << 16, 0};
    camera_.inst.worldPos = {0, 0, 2 << 16, 0};
    ASSERT_EQ(Draw(b, inst), 1);
    const auto& s = Last(standard_);
    // World-view: the instance 8 units before the camera, 3 to the right.
    const D3DXMATRIX& p = *g_S3DMatrices.projection;
    EXPECT_NEAR(s.Value("g_mWorldViewProjection", 12), 3.0f * p.m[0][0], 1e-5);
    EXPECT_NEAR(s.Value("g_mWorldViewProjection", 14), 8.0f * p.m[2][2] + p.m[3][2], 1e-4);
    EXPECT_NEAR(s.Value("g_mWorldViewProjection", 15), 8.0f, 1e-5);
}

TEST_F(PartDrawTest, MainAndPointLights) {
    FakeBody* b = Body(1);
    // Without a light: against the camera's view axis, black.
    ASSERT_EQ(Draw(b, Instance(b)), 1);
    auto s = Last(standard_);
    EXPECT_FLOAT_EQ(s.Value("LightDir_Dir0", 2), -1.0f);
    EXPECT_FLOAT_EQ(s.Value("LightDir_Color0", 0), 0.0f);
    EXPECT_EQ(s.Value("g_nNumLightPoint"), 0.0f);

    // A sun above, and a point lamp in the light list.
    Inst3D sun{}, lamp{};
    sun.flags = INST_LIGHT | INST_DIRECTIONAL_LIGHT;
    sun.lightColor[0] = 256;
    sun.worldPos = {0, 20 << 16, 10 << 16, 0};
    lamp.flags = INST_LIGHT | INST_POINT_LIGHT;
    lamp.scene = &scene_;
    lamp.lightColor[1] = 128;
    lamp.lightRange = 100;
    lamp.lightAtten[0] = 0x10000;
    lamp.worldPos = {1 << 16, 2 << 16, 3 << 16, 0};
    ASSERT_EQ(S_D3DLight(&sun), 1);
    ASSERT_EQ(S_D3DLight(&lamp), 1);
    S_3DUpdateLightTransform(&lamp);
    g_B3DState->collectedLights[0] = &lamp;
    g_B3DState->collectedLights[1] = &sun;
    g_B3DState->lightSlotCount = 2;
    g_B3DState->lightSlots[0].index = 0;
    g_B3DState->lightSlots[1].index = 1;
    Inst3D* main = S_3DMainLight();
    EXPECT_EQ(main, &sun);
    ASSERT_EQ(Draw(b, Instance(b), main), 1);
    s = Last(standard_);
    EXPECT_FLOAT_EQ(s.Value("LightDir_Dir0", 1), 1.0f);
    EXPECT_FLOAT_EQ(s.Value("LightDir_Color0", 0), 1.0f);
    EXPECT_EQ(s.Value("g_nNumLightPoint"), 1.0f);
    EXPECT_FLOAT_EQ(s.Value("g_LightPoint[0].position", 2), 3.0f);
    EXPECT_FLOAT_EQ(s.Value("g_LightPoint[0].color", 1), 0.5f);
    EXPECT_FLOAT_EQ(s.Value("g_LightPoint[0].atten", 0), 1.0f);
    EXPECT_EQ(static_cast<RendererLight*>(lamp.rendererLight)->slot, 0);
    g_B3DState->lightSlotCount = 0;
    g_B3DState->collectedLights[0] = g_B3DState->collectedLights[1] = nullptr;
    S_3DFreeLight(&sun);
    S_3DFreeLight(&lamp);
}

TEST_F(PartDrawTest, InstanceAlphaOnAnOpaqueMaterial) {
    FakeBody* b = Body(1);
    Inst3D* inst = Instance(b);
    inst->alphaOverride = 128;
    ASSERT_EQ(Draw(b, inst), 1);
    auto s = Last(standard_);
    EXPECT_FLOAT_EQ(s.Value("g_AlphaValue"), 128.0f / 255.0f);
    EXPECT_EQ(s.Value("g_ZWriteEnable"), 0.0f);
    EXPECT_EQ(s.Value("g_AlphaBlendEnable"), 1.0f);
    EXPECT_EQ(s.Value("g_SrcBlend"), 5.0f);
    EXPECT_EQ(s.Value("g_DestBlend"), 6.0f);  // 6 stays 6
    standard_->SetInt(standard_->GetParameterByName(nullptr, "g_DestBlend"), 3);
    standard_->SetInt(standard_->GetParameterByName(nullptr, "g_AlphaBlendEnable"), 0);
    ASSERT_EQ(Draw(b, inst), 1);
    EXPECT_EQ(Last(standard_).Value("g_DestBlend"), 2.0f);
}

TEST_F(PartDrawTest, TheDetailWeightGrowsWithTheCameraInstanceDistance) {
    FakeBody* b = EffectBody("standard_lighting", {Param("t_DetailTexture", SPTYPE_LONG, 5, 6)});
    GiveTexture(5);
    camera_.focus = 32112;  // 0.49 of a turn: tan(0.49 pi) is about 31.8
    const double tangent = std::tan(32112 / 65536.0 * M_PI);
    for (int32_t z : {10, 20, 1000}) {
        SCOPED_TRACE(z);
        Inst3D* inst = Instance(b);
        inst->worldPos.z = z;
        ASSERT_EQ(Draw(b, inst), 1);
        EXPECT_NEAR(Last(standard_).Value("p_DetailMapBlendWeight"), std::min(0.9, z / tangent), 1e-5);
    }
    EXPECT_EQ(Last(standard_).textures.at("t_DetailTexture"), TextureOf(TC_TextureTable[5].bitmap));
}

TEST_F(PartDrawTest, FogFromItsStart) {
    FakeBody* b = Body(1);
    camera_.camFlags |= S3D_CAM_FOG;
    struct Case {
        int32_t start, end;
        bool on;
    } cases[] = {
        {10 << 16, 20 << 16, true},   // exactly at the start
        {11 << 16, 20 << 16, false},  // nearer than the start
        {5 << 16, 5 << 16, false},    // no depth to fade over
        {5 << 16, 2 << 16, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.start);
        camera_.fog[0] = c.start;
        camera_.fog[1] = c.end;
        ASSERT_EQ(Draw(b, Instance(b)), 1);
        const auto& s = Last(standard_);
        EXPECT_EQ(s.Value("g_EnableFog"), c.on ? 1.0f : 0.0f);
        if (c.on) {
            EXPECT_FLOAT_EQ(s.Value("g_FogClip", 0), 2.0f);
            EXPECT_FLOAT_EQ(s.Value("g_FogClip", 1), 0.1f);
            EXPECT_EQ(s.Value("g_DestBlend"), 6.0f);
        } else {
            EXPECT_EQ(s.Value("g_FogClip", 0), 1.0f);
            EXPECT_TRUE(std::isfinite(s.Value("g_FogClip", 1)));
        }
    }
    // An instance without fog.
    camera_.fog[0] = 10 << 16;
    Inst3D* clear = Instance(b);
    clear->flags |= S3D_INST_NO_FOG;
    ASSERT_EQ(Draw(b, clear), 1);
    EXPECT_EQ(Last(standard_).Value("g_EnableFog"), 0.0f);
}

TEST_F(PartDrawTest, SaturationAndHueClamps) {
    FakeBody* b = Body(1);
    struct Case {
        int32_t saturation, hue;
        float gSat, gHue;
    } cases[] = {{6 << 16, 400, 5.1f, 360.0f}, {0x8000, 90, 0.5f, 90.0f}, {-0x10000, 0, 0.0f, 0.0f}};
    for (const Case& c : cases) {
        Inst3D* inst = Instance(b);
        inst->colorModifier[0] = c.hue;
        inst->colorModifier[1] = c.saturation;
        ASSERT_EQ(Draw(b, inst), 1);
        EXPECT_FLOAT_EQ(Last(standard_).Value("g_Saturation"), c.gSat);
        EXPECT_FLOAT_EQ(Last(standard_).Value("g_Hue"), c.gHue);
    }
    Inst3D* plain = Instance(b);
    plain->colorModifier[1] = 3 << 16;
    plain->flags2 |= S3D_INST2_NO_COLOUR;
    ASSERT_EQ(Draw(b, plain), 1);
    EXPECT_FLOAT_EQ(Last(standard_).Value("g_Saturation"), 1.0f);
}

TEST_F(PartDrawTest, TextureFallBacks) {
    g_LookupTextures.whiteDummy = DeviceBitmap();
    g_LookupTextures.blackDummy = DeviceBitmap();
    g_LookupTextures.blackDummyCube = DeviceBitmap();
    g_LookupTextures.lighting[9] = DeviceBitmap();
    GiveTexture(1);
    FakeBody* b = Body(1);
    ASSERT_EQ(Draw(b, Instance(b)), 1);
    auto s = Last(standard_);
    EXPECT_EQ(s.textures.at("t_DiffuseTexture"), TextureOf(TC_TextureTable[1].bitmap));
    EXPECT_EQ(s.textures.at("t_SpecularTexture"), TextureOf(g_LookupTextures.whiteDummy));
    EXPECT_EQ(s.textures.at("t_LightMapTexture"), TextureOf(g_LookupTextures.blackDummy));
    EXPECT_EQ(s.textures.at("t_CubeMapTexture"), TextureOf(g_LookupTextures.blackDummyCube));
    EXPECT_EQ(s.textures.at("t_Race_Lighting"), TextureOf(g_LookupTextures.lighting[9]));

    // A cube id whose texture is no cube, and no test cube to be had.
    info_[2].envMap = 3;  // the alternative texture serves as reflection without a bump map
    GiveTexture(3);
    FakeBody* shiny = Body(2, 51);
    standard_->SetTexture(standard_->GetParameterByName(nullptr, "t_CubeMapTexture"), nullptr);
    LogCapture log;
    ASSERT_EQ(Draw(shiny, Instance(shiny)), 1);
    EXPECT_TRUE(log.Contains("ERROR\t: S_3DRenderPartFX() cannot set a correct t_CubeMapTexture !\n"));
    EXPECT_EQ(Last(standard_).textures.at("t_CubeMapTexture"), nullptr);
    // A real cube is bound.
    static_cast<FakeTexture*>(TextureOf(TC_TextureTable[3].bitmap))->type = D3DRTYPE_CUBETEXTURE;
    ASSERT_EQ(Draw(shiny, Instance(shiny)), 1);
    EXPECT_EQ(Last(standard_).textures.at("t_CubeMapTexture"), TextureOf(TC_TextureTable[3].bitmap));

    // A skin remaps the diffuse texture and hands it the replaced one's flags.
    int32_t replaced[1] = {1}, replacing[1] = {4};
    B3DSkinRow row{7, nullptr, 1, replaced, replacing};
    g_B3DState->skins = &row;
    g_B3DState->skinCount = 1;
    GiveTexture(4);
    TC_TextureTable[1].flags = 0x4;
    info_[4].flags = 0x200001;
    Inst3D* skinned = Instance(b);
    skinned->extraWords[0] = 7;
    ASSERT_EQ(Draw(b, skinned), 1);
    EXPECT_EQ(Last(standard_).textures.at("t_DiffuseTexture"), TextureOf(TC_TextureTable[4].bitmap));
    EXPECT_EQ(TC_TextureTable[4].flags, 0x200004u);
    // So does a global material numbered like a remapped texture past the
    // numbered ones.
    g_TCNamedCount = static_cast<uint16_t>(g_TCNumberedCount - 4);
    g_TCNumberedCount = 4;
    TC_TextureTable[4].flags = 0;
    ASSERT_EQ(Draw(b, skinned), 1);
    EXPECT_EQ(TC_TextureTable[4].flags, 0x200004u);
    g_TCNumberedCount = static_cast<uint16_t>(g_TCNumberedCount + g_TCNamedCount);
    g_TCNamedCount = 0;
    g_B3DState->skins = nullptr;
    g_B3DState->skinCount = 0;
}

TEST_F(PartDrawTest, GlowMaskTable) {
    struct Case {
        int bloom;
        bool lightMap;
        int blend, test;
        uint32_t camFlags;
        float colourWrite, glow;
    } cases[] = {
        {0, false, 0, 0, 0, 7, 0},
        {1, true, 0, 0, 0, 15, 1},
        {1, true, 1, 0, 0, 7, 0},
        {1, false, 0, 0, 0, 15, 0},
        {1, false, 1, 0, 0, 7, 0},
        {1, false, 0, 1, 0, 7, 0},
        {1, false, 1, 0, S3D_CAM_GLOW, 15, 0},
        {1, false, 0, 0, S3D_CAM_GLOW, 7, 0},
    };
    GiveTexture(6);
    int id = 100;
    for (const Case& c : cases) {
        SCOPED_TRACE(id);
        g_S3DPartDraw.bloom = c.bloom;
        camera_.camFlags = S3D_CAM_KEEP_DEPTH | c.camFlags;
        FakeBody* b = Body(0, id++);
        b->materials.resize(1);
        b->materials[0].flags = c.blend ? 0x4 : c.test ? 0x1 : 0;
        b->materials[0].texture3 = c.lightMap ? 6 : 0;
        b->body.materials = b->materials.data();
        b->body.materialCount = 1;
        b->body.flags |= BODY_MATERIAL6;
        ASSERT_EQ(Draw(b, Instance(b)), 1);
        const auto& s = Last(standard_);
        EXPECT_EQ(s.Value("g_ColorWriteEnable"), c.colourWrite);
        EXPECT_EQ(s.Value("g_EnableGlow"), c.glow);
        if (c.bloom && !c.lightMap && !c.blend && !c.test && !c.camFlags) {
            EXPECT_EQ(s.Value("g_AlphaValue"), 0.0f);
        }
        if (c.camFlags && c.blend) {
            EXPECT_EQ(s.Value("g_SeparateAlphaBlend"), 1.0f);
        }
        standard_->SetInt(standard_->GetParameterByName(nullptr, "g_SeparateAlphaBlend"), 0);
        standard_->SetInt(standard_->GetParameterByName(nullptr, "g_ALPHATESTENABLE"), 0);
        standard_->SetInt(standard_->GetParameterByName(nullptr, "g_SrcBlend"), 5);
        standard_->SetInt(standard_->GetParameterByName(nullptr, "g_DestBlend"), 6);
    }
}

}  // namespace
