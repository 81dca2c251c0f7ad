// A particle batch drawn on GL through the shipped "particles" effect: camera-
// facing particles turned by their angle, an oriented square, a streak, with
// additive and alpha blending, kept as a golden picture.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "base/texcache.h"
#include "gl_renderer_fixture.h"
#include "render/particles.h"
#include "scene/allocs.h"
#include "scene/smallops.h"
#include "support/golden_image.h"

namespace {

class ParticleGLTest : public GLRendererTest {
protected:
    void SetUp() override {
        GLRendererTest::SetUp();
        savedInfo_ = g_TCTextureInfo;
        savedCount_ = g_TCTextureInfoCount;
    }
    void TearDown() override {
        if (scene) S_3DFreeBuffer(scene);
        if (texture) texture->Release();
        g_TCTextureInfo = savedInfo_;
        g_TCTextureInfoCount = savedCount_;
        GLRendererTest::TearDown();
    }
    // A soft round spot: white, brightness and alpha falling off to the rim.
    void MakeSpot() {
        constexpr int n = 16;
        ASSERT_EQ(device->CreateTexture(n, n, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
        D3DLOCKED_RECT lr{};
        texture->LockRect(0, &lr, nullptr, 0);
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                const double dx = (x + 0.5) / n * 2 - 1, dy = (y + 0.5) / n * 2 - 1;
                const double f = std::max(0.0, 1.0 - std::sqrt(dx * dx + dy * dy));
                const auto v = static_cast<uint32_t>(std::lround(f * 255));
                static_cast<uint32_t*>(lr.pBits)[y * lr.Pitch / 4 + x] = (v << 24) | (v << 16) | (v << 8) | v;
            }
        texture->UnlockRect(0);
    }
    // The spot texture, the materials (colour and flags each) and a scene with
    // its camera at the origin; null when something could not be made.
    struct Material {
        uint8_t r, g, b;
        uint32_t flags;
    };
    Camera3D* MakeScene(const std::vector<Material>& list) {
        MakeSpot();
        materials.resize(list.size());
        for (size_t i = 0; i < list.size(); ++i) {
            materials[i].head[0] = list[i].r;
            materials[i].head[1] = list[i].g;
            materials[i].head[2] = list[i].b;
            materials[i].flags = list[i].flags;
        }
        g_TCTextureInfo = materials.data();
        g_TCTextureInfoCount = static_cast<uint16_t>(list.size());
        scene = B3D_SceneAlloc();
        if (!texture || !scene) return nullptr;
        scene->systemScale = 1.0f;
        Camera3D* camera = B3D_CameraAlloc();
        if (camera) Qel_MatIdentity(&camera->inst.matrix);
        return camera;
    }
    B3DParticle* Add(int32_t material, uint32_t kind, int32_t x, int32_t y, int32_t size) {
        B3DParticle* p = B3D_ParticleGet();
        EXPECT_NE(p, nullptr);
        p->scene = scene;
        p->material = material;
        p->kind = kind;
        p->pos = {x, y, 100, 0};
        p->size = size;
        p->alpha = 255;
        p->texRect[2] = p->texRect[3] = 65536;
        Qel_MatIdentity(&p->matrix);
        return p;
    }

    Scene3D* scene = nullptr;
    IDirect3DTexture9* texture = nullptr;
    std::vector<TC_TextureInfo> materials;

private:
    TC_TextureInfo* savedInfo_ = nullptr;
    uint16_t savedCount_ = 0;
};
INSTANTIATE_FOR_BOTH_STATE_MANAGERS(ParticleGLTest);

TEST_P(ParticleGLTest, ABatchOfEveryForm) {
    game.Write("shader_src/3_0/particles.fx", ShippedEffect("particles.fx"));
    Camera3D* camera = MakeScene({{255, 140, 40, 0x2}, {60, 140, 255, 0x4}, {240, 240, 200, 0x2}});
    ASSERT_NE(camera, nullptr);

    // Two additive spots overlapping; the bright middle of the spot as a
    // picture on a camera-facing particle at angle 0 (a diamond), at an eighth
    // of a turn (upright), and on a square turned a twelfth of a turn about z;
    // a streak.
    Add(0, 1, -40, 35, 24);
    Add(0, 1, -25, 25, 18);
    const int32_t middle[4] = {22938, 22938, 42598, 42598};  // 0.35 .. 0.65
    B3DParticle* diamond = Add(1, 1, 10, 45, 14);
    B3DParticle* upright = Add(1, 1, 45, 40, 14);
    upright->angle = 0x2000;
    upright->alpha = 160;
    B3DParticle* square = Add(1, 0, 40, -40, 14);
    Qel_MatFromAngles(&square->matrix, 0, 0, 65536 / 12);
    for (B3DParticle* p : {diamond, upright, square})
        for (int k = 0; k < 4; ++k) p->texRect[k] = middle[k];
    B3DParticle* streak = Add(2, 3, -60, -55, 6);
    streak->pos2 = {-10, -15, 100, 0};

    D3DXMatrixIdentity(g_S3DMatrices.view);
    S_3DPerspective(16384, 65536, 65536, g_S3DMatrices.projection);
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF181820, 1.0f, 0);
    ASSERT_EQ(S_3DUpdateParticleSystems(scene, camera), 1);
    ASSERT_EQ(scene->particleBuffer->batchCount, 4);
    ID3DXEffect* effect = S_3DGetShader("particles", 0)->effect[0];
    effect->SetTexture(effect->GetParameterByName(nullptr, "t_DiffuseTexture"), texture);
    ASSERT_EQ(S_3DRenderParticleSystems(scene), 1);
    const std::vector<uint32_t> picture = Picture(target);
    EXPECT_EQ(GoldenCompare("tests/render/golden/particle_batch.png", kSize, kSize, picture), "");
    // Centre of the first spot: the material's colour added to the background.
    const uint32_t centre = picture[static_cast<size_t>((32 - 35 * 32 / 100) * kSize + (32 - 40 * 32 / 100))];
    EXPECT_GT((centre >> 16) & 0xFF, 0xA0u);
    EXPECT_EQ(picture[2 * kSize + 62] & 0xFFFFFF, 0x181820u);  // untouched corner
}

// An effect freed and another made at its address: the second draws with
// view and projection handles of its own.
TEST_P(ParticleGLTest, AnEffectMadeWhereAFreedOneLayHasItsOwnHandles) {
    Camera3D* camera = MakeScene({{255, 255, 255, 0x2}});
    ASSERT_NE(camera, nullptr);
    Add(0, 1, 0, 0, 24);
    D3DXMatrixIdentity(g_S3DMatrices.view);
    S_3DPerspective(16384, 65536, 65536, g_S3DMatrices.projection);
    const std::string shipped = ShippedEffect("particles.fx");
    // The second declares a parameter of its own before the shipped ones.
    for (const std::string& text : {shipped, "float g_First = 1.0;\n" + shipped}) {
        SCOPED_TRACE(text.substr(0, 20));
        SpyEffect* effect = LoadAt("particles", text);
        ASSERT_EQ(static_cast<void*>(effect), static_cast<void*>(effectRoom.bytes));
        effect->SetTexture(effect->GetParameterByName(nullptr, "t_DiffuseTexture"), texture);
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF181820, 1.0f, 0);
        ASSERT_EQ(S_3DUpdateParticleSystems(scene, camera), 1);
        ASSERT_EQ(S_3DRenderParticleSystems(scene), 1);
        EXPECT_GT(Pixel(kSize / 2, kSize / 2) >> 16 & 0xFF, 0xA0u);  // the spot's bright middle
        EXPECT_EQ(Pixel(2, 2), 0x181820u);
    }
}

}  // namespace
