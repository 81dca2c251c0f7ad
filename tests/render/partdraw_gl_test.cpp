// Part drawing on GL through the standard lighting effect, probed pixel by
// pixel: a triangle's centre, one- and two-sided culling, the blend rows over
// a known colour, and the near plane at 5.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
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
#include "base/texcache.h"
#include "render/bodies.h"
#include "render/cameras.h"
#include "render/effects.h"
#include "render/fake_body.h"
#include "render/lights.h"
#include "render/mesh.h"
#include "render/partdraw.h"
#include "render/spy_effect.h"
#include "render/statemanager.h"
#include "scene/records.h"
#include "scene/state.h"
#include "support/small_device.h"
#include "system/adapters.h"
#include "system/surfaces.h"
#include "system/video.h"

namespace {

std::string EffectSource(const char* name) {
    const char* src = std::getenv("TREVAN_SOURCE_DIR");
    std::ifstream in(std::string(src ? src : ".") + "/data/effects/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class PartDrawGLTest : public SmallDevicePicture {
protected:
    void SetUp() override {
        SmallDevicePicture::SetUp();
        savedSystem_ = g_SystemState;
        savedState_ = g_B3DState;
        savedRenderer_ = g_RendererState;
        savedSettings_ = g_S3DPartDraw;
        g_SystemState = &system_;
        g_B3DState = B3D_InitStore();
        ASSERT_NE(g_B3DState, nullptr);
        record_.device = device;
        renderer_.device = &record_;
        g_RendererState = &renderer_;
        renderer_.stateManager = S_3DCreateStateManager(device);
        ASSERT_NE(renderer_.stateManager, nullptr);
        ASSERT_TRUE(S_3DCreateVertexDeclarations());
        ASSERT_EQ(S_3DAllocMatrices(), 1);
        savedNumbered_ = g_TCNumberedCount;
        g_TCNumberedCount = 4;
        g_TCNamedCount = 0;
        ASSERT_FALSE(TC_AllocTextureTable());
        g_S3DPartDraw = {0, 0, 0, 0, 1, 1};
        // The standard effect, as the cache would hold it.
        entry_ = B3D_AllocName("standard_lighting");
        auto* d = static_cast<SysShaderDefinition*>(Int_AllocMem(sizeof(SysShaderDefinition), 0));
        d->name = Qel_StrDup("standard_lighting");
        const std::string text = EffectSource("standard_lighting.fx");
        for (int v = 0; v < 2; ++v) {
            const D3DXMACRO macros[] = {
                {v ? "TWOSIDED" : "VRMENGINE", "true"}, {"VRMENGINE", "true"}, {nullptr, nullptr}};
            ID3DXBuffer* errors = nullptr;
            ASSERT_EQ(D3DXCreateEffect(device, text.data(), static_cast<UINT>(text.size()), macros, nullptr, 0, nullptr,
                                       &d->effect[v], &errors),
                      D3D_OK)
                << (errors ? static_cast<const char*>(errors->GetBufferPointer()) : "");
            d->effect[v]->SetStateManager(renderer_.stateManager);
        }
        entry_->definition = d;

        scene_.systemScale = 1.0f / 65536.0f;
        camera_.inst.scene = &scene_;
        camera_.inst.worldMatrix.m[0] = camera_.inst.worldMatrix.m[5] = camera_.inst.worldMatrix.m[10] = 0x10000;
        camera_.focus = 16384;
    }
    void TearDown() override {
        for (auto& b : bodies_)
            if (b->level.rendererBody) S_3DFreeBodyParts(&b->level);
        S_3DFreeShaderDefinition(entry_);
        B3D_FreeNamedEntry(entry_);
        device->SetVertexShader(nullptr);
        device->SetPixelShader(nullptr);
        device->SetIndices(nullptr);
        device->SetStreamSource(0, nullptr, 0, 0);
        device->SetVertexDeclaration(nullptr);
        S_3DFreeMatrices();
        S_3DReleaseVertexDeclarations();
        renderer_.stateManager->Release();
        // The bitmaps belong to the test.
        for (int i = 0; i < g_TCNumberedCount + g_TCNamedCount; ++i) TC_TextureTable[i].bitmap = nullptr;
        for (IDirect3DTexture9* t : textures_) t->Release();
        TC_FreeTextureTables();
        g_TCNumberedCount = savedNumbered_;
        B3D_FreeStore();
        g_S3DPartDraw = savedSettings_;
        g_RendererState = savedRenderer_;
        g_B3DState = savedState_;
        g_SystemState = savedSystem_;
        SmallDeviceTest::TearDown();
    }

    // One triangle (or a quad of two) of an own plain material whose emissive
    // colour is the given bytes; corners in units of 1/16384 before the size.
    FakeBody* Shape(const std::vector<std::array<int16_t, 2>>& corners, uint8_t r, uint8_t g, uint8_t b, uint32_t flags,
                    bool clockwise = true) {
        std::vector<BodyTriangle> tris;
        for (size_t i = 2; i < corners.size(); ++i)
            tris.push_back(clockwise ? BodyTriangle{{0, int32_t(i - 1), int32_t(i)}, 0}
                                     : BodyTriangle{{0, int32_t(i), int32_t(i - 1)}, 0});
        bodies_.push_back(std::make_unique<FakeBody>(static_cast<int32_t>(200 + bodies_.size()),
                                                     static_cast<int32_t>(corners.size()),
                                                     std::vector<std::vector<BodyTriangle>>{tris}));
        FakeBody* body = bodies_.back().get();
        for (size_t i = 0; i < corners.size(); ++i)
            body->points[i] = {corners[i][0], corners[i][1], 0, 0, 0, -16384, 0, 0, 0};
        body->groups[0].material = 0;
        body->materials.resize(1);
        BodyMaterial& m = body->materials[0];
        m.colour[0] = r, m.colour[1] = g, m.colour[2] = b, m.colour[6] = 100;
        m.flags = flags;
        body->body.materials = body->materials.data();
        body->body.materialCount = 1;
        body->body.flags |= BODY_MATERIAL6;
        EXPECT_EQ(S_3DAddBody(&body->body), 1);
        return body;
    }
    // Draws it 8 units wide and high at distance z (in units), camera at the
    // origin, with the lights given.
    void DrawAt(FakeBody* body, float z, int32_t alpha = 0, int lightFlags = 0, Inst3D* lights = nullptr) {
        Inst3D inst{};
        inst.flags = S3D_INST_DRAWN;
        inst.size = 8 << 16;
        inst.scale = {0x10000, 0x10000, 0x10000, 0};
        inst.colorModifier[1] = 0x10000;
        inst.worldMatrix.m[0] = inst.worldMatrix.m[5] = inst.worldMatrix.m[10] = 0x10000;
        inst.worldPos = {0, 0, static_cast<int32_t>(z * 65536.0f), 0};
        inst.alphaOverride = alpha;
        EXPECT_EQ(
            S_3DRenderPartFX(static_cast<D3DPartMesh*>(body->part.rendererPart), &inst, &camera_, lightFlags, lights),
            1);
    }
    // Texture `id` of the table: one texel of the colour.
    void SolidTexture(int id, uint32_t argb) {
        IDirect3DTexture9* t = nullptr;
        ASSERT_EQ(device->CreateTexture(1, 1, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
        textures_.push_back(t);
        D3DLOCKED_RECT lr{};
        t->LockRect(0, &lr, nullptr, 0);
        *static_cast<uint32_t*>(lr.pBits) = argb;
        t->UnlockRect(0);
        bitmaps_[id].sys = &sys_[id];
        sys_[id].WE_lpDestTexture = t;
        TC_TextureTable[id].bitmap = &bitmaps_[id];
    }
    static void ExpectNear(uint32_t got, int r, int g, int b) {
        EXPECT_NEAR(static_cast<int>(got >> 16 & 0xFF), r, 2) << std::hex << got;
        EXPECT_NEAR(static_cast<int>(got >> 8 & 0xFF), g, 2) << std::hex << got;
        EXPECT_NEAR(static_cast<int>(got & 0xFF), b, 2) << std::hex << got;
    }

    // The standard effect made anew from `text` behind a spy in the
    // fixture's room; the one before goes through the entry's free path.
    void PlaceStandard(const std::string& text) {
        S_3DFreeShaderDefinition(entry_);
        auto* d = static_cast<SysShaderDefinition*>(Int_AllocMem(sizeof(SysShaderDefinition), 0));
        std::memset(d, 0, sizeof *d);
        d->name = Qel_StrDup("standard_lighting");
        entry_->definition = d;
        const D3DXMACRO macros[] = {{"VRMENGINE", "true"}, {nullptr, nullptr}};
        ID3DXEffect* inner = nullptr;
        ASSERT_EQ(D3DXCreateEffect(device, text.data(), static_cast<UINT>(text.size()), macros, nullptr, 0, nullptr,
                                   &inner, nullptr),
                  D3D_OK);
        inner->SetStateManager(renderer_.stateManager);
        d->effect[0] = SpyEffect::PlaceAt(effectRoom_.bytes, inner);
    }

    SpyEffectStorage effectRoom_;  // outlives TearDown's free of the effects
    SystemState system_{};
    RendererState renderer_{};
    D3DDeviceRecord record_{};
    Scene3D scene_{};
    Camera3D camera_{};
    B3DNamedEntry* entry_ = nullptr;
    std::vector<std::unique_ptr<FakeBody>> bodies_;
    std::vector<IDirect3DTexture9*> textures_;
    EBM bitmaps_[4]{};
    SysEBM sys_[4]{};

private:
    SystemState* savedSystem_ = nullptr;
    B3DState* savedState_ = nullptr;
    RendererState* savedRenderer_ = nullptr;
    S3DPartDrawSettings savedSettings_{};
    uint16_t savedNumbered_ = 0;
};
INSTANTIATE_FOR_BOTH_STATE_MANAGERS(PartDrawGLTest);

const std::vector<std::array<int16_t, 2>> kTriangle = {{-16384, -16384}, {0, 16384}, {16384, -16384}};
const std::vector<std::array<int16_t, 2>> kQuad = {{-16384, -16384}, {-16384, 16384}, {16384, 16384}, {16384, -16384}};

TEST_P(PartDrawGLTest, ATrianglesCentreHasItsColour) {
    FakeBody* b = Shape(kTriangle, 255, 128, 0, 0);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF0000FF, 1.0f, 0);
    DrawAt(b, 10.0f);
    ExpectNear(Pixel(kWidth / 2, kHeight / 2), 255, 128, 0);
    ExpectNear(Pixel(1, 1), 0, 0, 255);  // above the triangle's slopes
}

TEST_P(PartDrawGLTest, OneSidedFacesAreCulledTwoSidedAreNot) {
    struct Case {
        uint32_t flags;
        bool clockwise, drawn;
    } cases[] = {{0x0, true, true}, {0x0, false, false}, {0x10, false, true}, {0x10, true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.flags << " " << c.clockwise);
        FakeBody* b = Shape(kTriangle, 0, 255, 0, c.flags, c.clockwise);
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
        DrawAt(b, 10.0f);
        ExpectNear(Pixel(kWidth / 2, kHeight / 2), 0, c.drawn ? 255 : 0, 0);
    }
}

TEST_P(PartDrawGLTest, BlendRowsOverAKnownColour) {
    // Source (128, 64, 0) at alpha 128 over (64, 128, 255).
    const float s[3] = {128 / 255.0f, 64 / 255.0f, 0.0f}, d[3] = {64 / 255.0f, 128 / 255.0f, 1.0f};
    const float a = 128 / 255.0f;
    struct Row {
        uint32_t flags;
        float (*blend)(float s, float d, float a);
    } rows[] = {
        {0x80, [](float s, float d, float) { return s * d; }},
        {0x40, [](float s, float d, float) { return 2 * s * d; }},
        {0x400, [](float s, float d, float) { return s * s + d * (1 - s); }},
        {0x4, [](float s, float d, float a) { return s * a + d * (1 - a); }},
        {0x2, [](float s, float d, float) { return std::min(1.0f, s + d); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.flags);
        FakeBody* b = Shape(kQuad, 128, 64, 0, row.flags);
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF4080FF, 1.0f, 0);
        DrawAt(b, 10.0f, 128);
        int expected[3];
        for (int i = 0; i < 3; ++i) expected[i] = static_cast<int>(row.blend(s[i], d[i], a) * 255.0f + 0.5f);
        ExpectNear(Pixel(kWidth / 2, kHeight / 2), expected[0], expected[1], expected[2]);
    }
}

TEST_P(PartDrawGLTest, TheGlowMaskRidesInTheTargetsAlpha) {
    SolidTexture(2, 0xFF808080);  // a grey light map
    ASSERT_FALSE(HasFatalFailure());
    struct Case {
        int bloom;
        int lightMap;
        int alpha;  // of the target at the centre, cleared to 0x40
    } cases[] = {{1, 0, 0}, {1, 2, 128}, {0, 2, 0x40}, {0, 0, 0x40}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bloom << " " << c.lightMap);
        g_S3DPartDraw.bloom = c.bloom;
        FakeBody* b = Shape(kQuad, 0, 0, 255, 0);
        b->materials[0].texture3 = static_cast<int16_t>(c.lightMap);
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0x40000000, 1.0f, 0);
        DrawAt(b, 10.0f);
        EXPECT_NEAR(static_cast<int>(Picture()[(kHeight / 2) * kWidth + kWidth / 2] >> 24), c.alpha, 2);
    }
}

// A light map asks for the bump technique; without a bump map or tangent
// frames the part is lit by its vertex normals all the same.
TEST_P(PartDrawGLTest, ALightMappedPartWithoutBumpMapIsLit) {
    SolidTexture(1, 0xFFFFFFFF);  // a white diffuse texture
    SolidTexture(2, 0xFF000000);  // a black light map
    ASSERT_FALSE(HasFatalFailure());
    // A red light at the camera, straight in front of the quad.
    RendererLight red{};
    red.light.Diffuse = {1.0f, 0.0f, 0.0f, 1.0f};
    Inst3D light{};
    light.rendererLight = &red;
    for (int lightMap : {0, 2}) {
        SCOPED_TRACE(lightMap);
        FakeBody* b = Shape(kQuad, 0, 0, 0, 0);
        BodyMaterial& m = b->materials[0];
        m.colour[6] = 0;    // lit, no glow of its own
        m.colour[7] = 100;  // the whole diffuse strength
        m.baseTexture = 1;
        m.texture3 = static_cast<int16_t>(lightMap);
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
        DrawAt(b, 10.0f, 0, 2, &light);
        // White under the ambient 0.2 and the full red light.
        ExpectNear(Pixel(kWidth / 2, kHeight / 2), 255, 51, 51);
    }
}

TEST_P(PartDrawGLTest, TheNearPlaneLiesAtFive) {
    FakeBody* b = Shape(kQuad, 255, 255, 255, 0);
    S_3DSetPartDepthRange(&camera_);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    DrawAt(b, 4.9f);
    ExpectNear(Pixel(kWidth / 2, kHeight / 2), 0, 0, 0);
    DrawAt(b, 5.1f);
    ExpectNear(Pixel(kWidth / 2, kHeight / 2), 255, 255, 255);
}

// An effect freed and another made at its address: the part draws with a
// parameter block and handles of the new one, in its material's colour.
TEST_P(PartDrawGLTest, AnEffectMadeWhereAFreedOneLayDrawsTheMaterial) {
    FakeBody* b = Shape(kTriangle, 255, 128, 0, 0);
    const std::string text = EffectSource("standard_lighting.fx");
    // The second declares a parameter of its own before the others.
    for (const std::string& source : {text, "float g_First = 1.0;\n" + text}) {
        SCOPED_TRACE(source.substr(0, 20));
        PlaceStandard(source);
        ASSERT_FALSE(HasFatalFailure());
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF0000FF, 1.0f, 0);
        DrawAt(b, 10.0f);
        ExpectNear(Pixel(kWidth / 2, kHeight / 2), 255, 128, 0);
    }
}

}  // namespace
