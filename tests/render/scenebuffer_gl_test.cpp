// A scene buffer drawn on GL through the shipped "effects" instance
// techniques: its vertices carry colour 0, so the texture alone colours them;
// the bullet technique adds them to what is there.
#include <gtest/gtest.h>

#include <vector>

#include "base/ebm.h"
#include "base/memory.h"
#include "base/texcache.h"
#include "gl_renderer_fixture.h"
#include "render/particles.h"
#include "scene/allocs.h"
#include "scene/bodyrecord.h"
#include "system/surfaces.h"

namespace {

constexpr int kTextureId = 2;

class SceneBufferGLTest : public GLRendererTest {
protected:
    void SetUp() override {
        GLRendererTest::SetUp();
        game.Write("shader_src/3_0/effects.fx", ShippedEffect("effects.fx"));
        effectNames.push_back("effects");
        // A texture-table entry whose bitmap is a plain green texture.
        ASSERT_EQ(device->CreateTexture(2, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
        D3DLOCKED_RECT lr{};
        texture->LockRect(0, &lr, nullptr, 0);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 2; ++x) static_cast<uint32_t*>(lr.pBits)[y * lr.Pitch / 4 + x] = 0xFF20C040;
        texture->UnlockRect(0);
        sys.WE_lpDestTexture = texture;
        bitmap.sys = &sys;
        savedNumbered = g_TCNumberedCount;
        g_TCNumberedCount = 4;
        ASSERT_FALSE(TC_AllocTextureTable());  // true on failure
        TC_TextureTable[kTextureId].bitmap = &bitmap;

        // One triangle of points at +-1 (in 1/16384), made 60 wide and put 100 ahead.
        points[0] = {-16384, -16384, 0, 0, 0, 0, 32768, 32768, 0};
        points[1] = {0, 16384, 0, 0, 0, 0, 32768, 32768, 0};
        points[2] = {16384, -16384, 0, 0, 0, 0, 32768, 32768, 0};
        tri = {{0, 1, 2}, 0};
        level.pointCount = 3;
        level.points = points;
        part.level = &level;
        group.triCount = 1;
        group.tris = &tri;
        owner.capacity = 1;
        scene = B3D_SceneAlloc();
        ASSERT_NE(scene, nullptr);
        scene->systemScale = 1.0f;
        camera = B3D_CameraAlloc();
        Qel_MatIdentity(&camera->inst.worldMatrix);
        inst = B3D_AllocInst();
        material = BodyMaterial{};
    }
    void TearDown() override {
        S_3DFreeMeshBuffers(&item);
        Int_FreeRecord(item.buffer, 0);
        if (TC_TextureTable) TC_TextureTable[kTextureId].bitmap = nullptr;
        TC_FreeTextureTables();
        g_TCNumberedCount = savedNumbered;
        if (texture) texture->Release();
        GLRendererTest::TearDown();
    }

    IDirect3DTexture9* texture = nullptr;
    SysEBM sys{};
    EBM bitmap{};
    uint16_t savedNumbered = 0;
    BodyPoint points[3]{};
    BodyTriangle tri{};
    BodyLevel level{};
    BodyPart part{};
    BodyGroup group{};
    B3DSceneBufferGroup owner{};
    B3DSceneBufferItem item{};
    Scene3D* scene = nullptr;
    Camera3D* camera = nullptr;
    Inst3D* inst = nullptr;
    BodyMaterial material{};
};
INSTANTIATE_FOR_BOTH_STATE_MANAGERS(SceneBufferGLTest);

TEST_P(SceneBufferGLTest, TheTextureAloneColoursTheInstances) {
    struct Case {
        const char* what;
        uint32_t groupFlags;
        uint32_t centre;
    } cases[] = {
        {"INSTANCE: blended over the background", 0, 0x20C040},
        {"INSTANCE_BULLETS: added to it", 0x20000000, 0x40E060},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        S_3DFreeMeshBuffers(&item);
        owner.flags = c.groupFlags;
        D3DXMATRIX scale, move;
        D3DXMatrixScaling(&scale, 60, 60, 60);
        D3DXMatrixTranslation(&move, 0, 0, 100);
        D3DXMatrixMultiply(g_S3DMatrices.world, &scale, &move);
        S_3DPerspective(16384, 65536, 65536, g_S3DMatrices.projection);
        ASSERT_EQ(S_3DUpdateSceneBuffer(&owner, &item, inst, &part, &group, nullptr), 1);
        const B3DSceneBufferDraw draw{kTextureId, 1, &material, item.buffer};
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF202020, 1.0f, 0);
        ASSERT_EQ(S_3DRenderSceneBuffer(&draw, scene, &owner, camera), 1);
        const uint32_t centre = Pixel(32, 36);
        for (int shift : {0, 8, 16})
            EXPECT_NEAR(static_cast<int>((centre >> shift) & 0xFF), static_cast<int>((c.centre >> shift) & 0xFF), 2)
                << std::hex << centre;
        EXPECT_EQ(Pixel(2, 2), 0x202020u);
    }
}

}  // namespace
