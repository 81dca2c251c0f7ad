// Render targets, the environment cube and the fade on the GL device: sizes,
// creation fallbacks, release before a reset, and pictures read back through
// either state manager.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/general.h"
#include "platform/d3d9/seam.h"
#include "platform/d3dx/d3dx9.h"
#include "render/cameras.h"
#include "render/device.h"
#include "render/statemanager.h"
#include "render/targets.h"
#include "scene/records.h"
#include "support/logcapture.h"
#include "support/state_managers.h"
#include "support/videosupport.h"
#include "support/window_support.h"
#include "system/adapters.h"
#include "system/video.h"

namespace {

class RendererTargetsTest : public ::testing::Test {
protected:
    void SetUp() override {
        D3D9_ResetSeam();
        savedRenderer_ = g_RendererState;
        savedSystem_ = g_SystemState;
        system_.width = 64;
        system_.height = 48;
        g_SystemState = &system_;
        g_S3DTargets = RendererTargets{};
    }
    // Opens the device; without automatic mips the adapter is seamed to lack them.
    void Open(bool autoGenMips = true) {
        if (!autoGenMips) {
            SeamOneAdapter("no mips", 64, 48, {{64, 48, 60}});
            g_D3D9Seam.adapters[0].caps.Caps2 &= ~D3DCAPS2_CANAUTOGENMIPMAP;
        }
        d3d = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(d3d, nullptr);
        window = OpenScreenWindow(DefWindowProcA, 64, 48);
        ASSERT_NE(window, nullptr);
        pp.BackBufferWidth = 64;
        pp.BackBufferHeight = 48;
        pp.BackBufferFormat = D3DFMT_X8R8G8B8;
        pp.BackBufferCount = 1;
        pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
        pp.hDeviceWindow = window;
        pp.Windowed = 1;
        pp.EnableAutoDepthStencil = 1;
        pp.AutoDepthStencilFormat = D3DFMT_D24S8;
        ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, behaviour, &pp, &device), D3D_OK);
        record_.device = device;
        record_.presentParams = pp;
        renderer_.device = &record_;
        renderer_.stateManager = S_3DCreateStateManager(device);
        g_RendererState = &renderer_;
        ASSERT_EQ(S_3DAllocMatrices(), 1);
    }
    void TearDown() override {
        S_3DClose();
        if (renderer_.stateManager) renderer_.stateManager->Release();
        if (device) {
            EXPECT_EQ(device->Release(), 0u);
        }
        EXPECT_EQ(D3D9_LiveResourceCount(), 0);
        if (window) DestroyWindow(window);
        if (d3d) d3d->Release();
        g_RendererState = savedRenderer_;
        g_SystemState = savedSystem_;
        D3D9_ResetSeam();
    }

    static D3DSURFACE_DESC Desc(IDirect3DTexture9* t) {
        D3DSURFACE_DESC d{};
        if (t) t->GetLevelDesc(0, &d);
        return d;
    }
    // The pixels of a target surface, 0xRRGGBB unless the alpha is kept.
    std::vector<uint32_t> Picture(IDirect3DSurface9* target, UINT w, UINT h, bool keepAlpha = false) {
        IDirect3DSurface9* copy = nullptr;
        D3DSURFACE_DESC d{};
        target->GetDesc(&d);
        EXPECT_EQ(device->CreateOffscreenPlainSurface(w, h, d.Format, D3DPOOL_SYSTEMMEM, &copy, nullptr), D3D_OK);
        EXPECT_EQ(device->GetRenderTargetData(target, copy), D3D_OK);
        D3DLOCKED_RECT lr{};
        copy->LockRect(&lr, nullptr, D3DLOCK_READONLY);
        std::vector<uint32_t> out(w * h);
        for (UINT y = 0; y < h; ++y) std::memcpy(&out[y * w], static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch, w * 4);
        copy->UnlockRect();
        copy->Release();
        if (!keepAlpha)
            for (uint32_t& p : out) p &= 0xFFFFFF;
        return out;
    }

    DWORD behaviour = D3DCREATE_HARDWARE_VERTEXPROCESSING;
    IDirect3D9* d3d = nullptr;
    IDirect3DDevice9* device = nullptr;
    HWND window = nullptr;
    D3DPRESENT_PARAMETERS pp{};
    SystemState system_{};
    RendererState renderer_{};

private:
    D3DDeviceRecord record_{};
    RendererState* savedRenderer_ = nullptr;
    SystemState* savedSystem_ = nullptr;
};

// Pictures drawn with the default states set through the state manager of the
// parameter's kind.
class RendererTargetsPicture : public RendererTargetsTest, public ::testing::WithParamInterface<StateManagerKind> {
protected:
    void SetUp() override {
        behaviour = DeviceBehaviour(GetParam());
        RendererTargetsTest::SetUp();
    }
};
INSTANTIATE_FOR_BOTH_STATE_MANAGERS(RendererTargetsPicture);

TEST_F(RendererTargetsTest, BloomTargetsTakeTheScreenAndItsHalves) {
    Open();
    struct Case {
        uint16_t w, h;
        UINT halfW, halfH;
    } cases[] = {{1024, 768, 512, 384}, {1023, 767, 511, 383}};
    for (const Case& c : cases) {
        system_.width = c.w;
        system_.height = c.h;
        S_3DInitPostProcessFX();
        RendererTargets& t = g_S3DTargets;
        ASSERT_NE(t.SceneTarget, nullptr);
        EXPECT_EQ(Desc(t.SceneTarget).Width, c.w);
        EXPECT_EQ(Desc(t.SceneTarget).Height, c.h);
        EXPECT_EQ(Desc(t.SceneTarget).Format, D3DFMT_A8R8G8B8);
        EXPECT_EQ(Desc(t.SceneTarget).Usage, D3DUSAGE_RENDERTARGET);
        EXPECT_EQ(Desc(t.SceneTarget).Pool, D3DPOOL_DEFAULT);
        for (IDirect3DTexture9* half : {t.Scale4Target1, t.Scale4Target2}) {
            EXPECT_EQ(Desc(half).Width, c.halfW);
            EXPECT_EQ(Desc(half).Height, c.halfH);
        }
        ASSERT_NE(t.QuadBuffer, nullptr);
        EXPECT_EQ(renderer_.bufferBytes, 96);
        void* data = nullptr;
        ASSERT_EQ(t.QuadBuffer->Lock(0, 0, &data, D3DLOCK_READONLY), D3D_OK);
        const float* v = static_cast<const float*>(data);
        const float first[6] = {-10, 10, 10, 10, 0, 0}, last[6] = {10, -10, 10, 10, 1, 1};
        for (int i = 0; i < 6; ++i) {
            EXPECT_EQ(v[i], first[i]);
            EXPECT_EQ(v[18 + i], last[i]);
        }
        t.QuadBuffer->Unlock();

        // With all three targets there is nothing to do, not even the quad.
        IDirect3DVertexBuffer9* quad = t.QuadBuffer;
        const int live = D3D9_LiveResourceCount();
        S_3DInitPostProcessFX();
        EXPECT_EQ(t.QuadBuffer, quad);
        EXPECT_EQ(D3D9_LiveResourceCount(), live);

        S_3DReleaseDeviceObjects();
        EXPECT_EQ(t.SceneTarget, nullptr);
        EXPECT_EQ(t.QuadBuffer, nullptr);
        EXPECT_EQ(renderer_.bufferBytes, 0);
    }
    // A refused target stays null and is named.
    g_D3D9Seam.createTexture = {D3D_OK, D3DERR_OUTOFVIDEOMEMORY};
    LogCapture log;
    S_3DInitPostProcessFX();
    EXPECT_NE(g_S3DTargets.SceneTarget, nullptr);
    EXPECT_EQ(g_S3DTargets.Scale4Target1, nullptr);
    EXPECT_NE(g_S3DTargets.Scale4Target2, nullptr);
    EXPECT_TRUE(log.Contains("ERROR\t: cant create 1_Scale4 RTT S_3DInitPostProcessFX()\n"));
}

TEST_F(RendererTargetsTest, EnvironmentCubeWithAutomaticMips) {
    Open();
    LogCapture log;
    S_3DInitEnviMapRender();
    ASSERT_NE(g_S3DTargets.EnvMapRenderer, nullptr);
    ASSERT_NE(g_S3DTargets.EnvMapCube, nullptr);
    EXPECT_EQ(g_S3DTargets.EnvMapCube->GetLevelCount(), 9u);
    EXPECT_EQ(g_S3DTargets.EnvMapCube->GetAutoGenFilterType(), D3DTEXF_LINEAR);
    EXPECT_TRUE(log.Contains("INFO: EnvMap RT created \n"));
    D3DXRTE_DESC desc{};
    g_S3DTargets.EnvMapRenderer->GetDesc(&desc);
    EXPECT_EQ(desc.Size, 256u);
    EXPECT_EQ(desc.Format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(desc.DepthStencilFormat, D3DFMT_D24S8);

    // A refused cube with mips is made again with one level.
    S_3DReleaseDeviceObjects();
    log.Take();
    g_D3D9Seam.createCubeTexture = {D3DERR_OUTOFVIDEOMEMORY};
    S_3DInitEnviMapRender();
    ASSERT_NE(g_S3DTargets.EnvMapCube, nullptr);
    EXPECT_EQ(g_S3DTargets.EnvMapCube->GetLevelCount(), 1u);
    EXPECT_TRUE(log.Contains("trying without D3DUSAGE_AUTOGENMIPMAP!\n"));
    EXPECT_EQ(system_.VideoD3DFlags2 & S3D_OPTION_NO_ENVMAP, 0u);

    // Refused both ways: no environment map for the run.
    S_3DReleaseDeviceObjects();
    log.Take();
    g_D3D9Seam.createCubeTexture = {D3DERR_OUTOFVIDEOMEMORY, D3DERR_OUTOFVIDEOMEMORY};
    S_3DInitEnviMapRender();
    EXPECT_EQ(g_S3DTargets.EnvMapCube, nullptr);
    EXPECT_EQ(g_S3DTargets.EnvMapRenderer, nullptr);
    EXPECT_NE(system_.VideoD3DFlags2 & S3D_OPTION_NO_ENVMAP, 0u);
    EXPECT_TRUE(log.Contains("ERROR\t: cant create CubeMap RTT S_3DInitEnviMapRender() ( D3DERR_OUTOFVIDEOMEMORY )\n"));
}

TEST_F(RendererTargetsTest, EnvironmentCubeWithoutAutomaticMips) {
    Open(false);
    LogCapture log;
    S_3DInitEnviMapRender();
    ASSERT_NE(g_S3DTargets.EnvMapCube, nullptr);
    EXPECT_EQ(g_S3DTargets.EnvMapCube->GetLevelCount(), 1u);
    EXPECT_FALSE(log.Contains("trying without"));
}

TEST_F(RendererTargetsTest, TargetsAreReleasedBeforeAReset) {
    Open();
    S_3DInitPostProcessFX();
    S_3DInitEnviMapRender();
    ASSERT_EQ(S_3DBeginEnvMapCube(), 1);  // makes the cube's own depth buffer
    ASSERT_EQ(S_3DSetEnvMapFace(0), 1);
    S_3DInitRenderToEnvMap();
    // One target left alive makes the reset fail.
    IDirect3DTexture9* kept = g_S3DTargets.Scale4Target1;
    kept->AddRef();
    S_3DReleaseDeviceObjects();
    EXPECT_EQ(device->Reset(&pp), D3DERR_INVALIDCALL);
    kept->Release();
    EXPECT_EQ(device->Reset(&pp), D3D_OK);
    // And they are made again after it.
    S_3DInitPostProcessFX();
    S_3DInitEnviMapRender();
    EXPECT_NE(g_S3DTargets.SceneTarget, nullptr);
    EXPECT_NE(g_S3DTargets.EnvMapCube, nullptr);
}

// A room of six coloured walls around the camera: every cube face sees its
// own wall at its centre, and the +X face sees two markers where the cube
// convention puts them (world up at the top, world -Z at the right).
TEST_P(RendererTargetsPicture, EachCubeFaceSeesItsWall) {
    Open();
    S_3DInitEnviMapRender();
    ASSERT_NE(g_S3DTargets.EnvMapCube, nullptr);
    IDirect3DSurface9* before = nullptr;
    ASSERT_EQ(device->GetRenderTarget(0, &before), D3D_OK);

    Scene3D scene{};
    scene.systemScale = 1.0f;
    B3D_ListInit(&scene.cameras);
    Camera3D camera{};
    camera.inst.flags = INST_CAMERA;
    camera.focus = 16384;
    for (int i = 0; i < 12; i += 5) camera.inst.worldMatrix.m[i] = 0x10000;
    B3D_ListAppend(&scene.cameras, B3D_Node(&camera));

    struct Vertex {
        float x, y, z;
        DWORD colour;
    };
    std::vector<Vertex> room;
    auto quad = [&room](const float c[3], const float a[3], const float b[3], DWORD colour) {
        auto corner = [&](float sa, float sb) {
            return Vertex{c[0] + sa * a[0] + sb * b[0], c[1] + sa * a[1] + sb * b[1], c[2] + sa * a[2] + sb * b[2],
                          colour};
        };
        for (auto [sa, sb] : {std::pair{-1.f, -1.f}, {1.f, -1.f}, {1.f, 1.f}, {-1.f, -1.f}, {1.f, 1.f}, {-1.f, 1.f}})
            room.push_back(corner(sa, sb));
    };
    const DWORD wallColour[6] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0x00FFFF, 0xFF00FF};
    for (int f = 0; f < 6; ++f) {
        const int axis = f / 2;
        const float sign = f % 2 ? -1.0f : 1.0f;
        float c[3] = {0, 0, 0}, a[3] = {0, 0, 0}, b[3] = {0, 0, 0};
        c[axis] = 50.0f * sign;
        a[(axis + 1) % 3] = 50.0f;
        b[(axis + 2) % 3] = 50.0f;
        quad(c, a, b, 0xFF000000 | wallColour[f]);
    }
    const float upC[3] = {45, 25, 0}, upA[3] = {0, 15, 0}, upB[3] = {0, 0, 10};
    quad(upC, upA, upB, 0xFFFFFFFF);
    const float rightC[3] = {45, 0, -25}, rightA[3] = {0, 10, 0}, rightB[3] = {0, 0, 15};
    quad(rightC, rightA, rightB, 0xFF808080);

    D3DXMATRIX projection, world;
    S_3DPerspective(16384, 0x10000, 0x10000, &projection);
    D3DXMatrixIdentity(&world);
    ASSERT_EQ(S_3DBeginEnvMapCube(), 1);
    for (int f = 0; f < 6; ++f) {
        ASSERT_EQ(S_3DSetEnvMapFace(f), 1);
        ASSERT_EQ(S_3DRenderSceneInit(&scene, f), 1);
        D3DVIEWPORT9 vp{};
        device->GetViewport(&vp);
        EXPECT_EQ(vp.Width, 256u);
        device->SetTransform(D3DTS_WORLD, &world);
        device->SetTransform(D3DTS_VIEW, g_S3DMatrices.view);
        device->SetTransform(D3DTS_PROJECTION, &projection);
        device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        device->SetRenderState(D3DRS_LIGHTING, 0);
        device->SetRenderState(D3DRS_ZENABLE, 1);
        device->SetRenderState(D3DRS_ZWRITEENABLE, 1);
        device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESSEQUAL);
        device->SetVertexDeclaration(nullptr);
        device->SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE);
        ASSERT_EQ(device->DrawPrimitiveUP(D3DPT_TRIANGLELIST, static_cast<UINT>(room.size() / 3), room.data(),
                                          sizeof(Vertex)),
                  D3D_OK);
    }
    S_3DInitRenderToEnvMap();
    IDirect3DSurface9* after = nullptr;
    ASSERT_EQ(device->GetRenderTarget(0, &after), D3D_OK);
    EXPECT_EQ(after, before);
    after->Release();
    before->Release();

    for (int f = 0; f < 6; ++f) {
        IDirect3DSurface9* face = nullptr;
        ASSERT_EQ(g_S3DTargets.EnvMapCube->GetCubeMapSurface(static_cast<D3DCUBEMAP_FACES>(f), 0, &face), D3D_OK);
        std::vector<uint32_t> p = Picture(face, 256, 256, true);
        face->Release();
        // The cube has no alpha channel: it reads as opaque.
        EXPECT_EQ(p[128 * 256 + 128] >> 24, 0xFFu) << "face " << f;
        for (uint32_t& c : p) c &= 0xFFFFFF;
        EXPECT_EQ(p[128 * 256 + 128], wallColour[f]) << "face " << f;
        if (f == 0) {
            EXPECT_EQ(p[57 * 256 + 128], 0xFFFFFFu);   // above the centre
            EXPECT_EQ(p[200 * 256 + 128], 0xFF0000u);  // below it, the wall
            EXPECT_EQ(p[128 * 256 + 199], 0x808080u);  // right of the centre
            EXPECT_EQ(p[128 * 256 + 57], 0xFF0000u);
        }
    }
    S_3DFreeSceneCamera(&camera);
}

TEST_F(RendererTargetsTest, FaceViewsFollowTheCubeConvention) {
    Open();
    Scene3D scene{};
    scene.systemScale = 0.5f;
    B3D_ListInit(&scene.cameras);
    Camera3D camera{};
    camera.inst.flags = INST_CAMERA;
    camera.focus = 16384;
    camera.inst.worldPos = {10, 20, 30, 0};
    for (int i = 0; i < 12; i += 5) camera.inst.worldMatrix.m[i] = 0x10000;
    B3D_ListAppend(&scene.cameras, B3D_Node(&camera));
    const D3DXVECTOR3 look[6] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    const D3DXVECTOR3 up[6] = {{0, 1, 0}, {0, 1, 0}, {0, 0, -1}, {0, 0, 1}, {0, 1, 0}, {0, 1, 0}};
    for (int f = 0; f < 6; ++f) {
        ASSERT_EQ(S_3DRenderSceneInit(&scene, f), 1);
        D3DXVECTOR3 l, u, eye{5, 10, 15}, at;
        D3DXVec3TransformNormal(&l, &look[f], g_S3DMatrices.view);
        D3DXVec3TransformNormal(&u, &up[f], g_S3DMatrices.view);
        D3DXVec3TransformCoord(&at, &eye, g_S3DMatrices.view);
        EXPECT_NEAR(l.z, 1.0f, 1e-5) << f;
        EXPECT_NEAR(u.y, 1.0f, 1e-5) << f;
        EXPECT_NEAR(at.x * at.x + at.y * at.y + at.z * at.z, 0.0f, 1e-6) << f;
    }
    S_3DFreeSceneCamera(&camera);
}

// The fade of a camera that does not start at the screen's corner covers its
// own rectangle and leaves the default states behind.
TEST_P(RendererTargetsPicture, FadeCoversTheCameraRectangleAtItsOffset) {
    Open();
    IDirect3DSurface9* target = nullptr;
    ASSERT_EQ(device->CreateRenderTarget(64, 48, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, 0, 0, &target, nullptr), D3D_OK);
    device->SetRenderTarget(0, target);
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFFFFFF, 1.0f, 0), D3D_OK);
    Camera3D camera{};
    camera.viewport[0] = 0x4000;   // top
    camera.viewport[1] = 0xC000;   // bottom
    camera.viewport[2] = 0x8000;   // left
    camera.viewport[3] = 0x10000;  // right
    // Another camera's viewport is current.
    D3DVIEWPORT9 other{0, 0, 16, 16, 0.0f, 1.0f};
    device->SetViewport(&other);
    EXPECT_EQ(S3D_RenderFadeRectangle(0x00FF0000, &camera), 1);
    EXPECT_EQ(Picture(target, 64, 48)[24 * 64 + 48], 0xFFFFFFu);
    EXPECT_EQ(S3D_RenderFadeRectangle(0x80000000, &camera), 1);
    std::vector<uint32_t> p = Picture(target, 64, 48);
    for (auto [x, y] : {std::pair{32, 12}, {63, 35}, {48, 24}}) {
        const uint32_t c = p[y * 64 + x];
        EXPECT_NEAR(static_cast<int>(c & 0xFF), 127, 2) << x << "," << y;
        EXPECT_EQ((c >> 16) & 0xFF, c & 0xFF);
    }
    for (auto [x, y] : {std::pair{31, 24}, {48, 11}, {48, 36}, {0, 0}, {10, 24}})
        EXPECT_EQ(p[y * 64 + x], 0xFFFFFFu) << x << "," << y;
    DWORD blend = 1;
    device->GetRenderState(D3DRS_ALPHABLENDENABLE, &blend);
    EXPECT_EQ(blend, 0u);
    S_3DFreeSceneCamera(&camera);
    target->Release();
}

TEST_F(RendererTargetsTest, GammaRampReachesTheDevice) {
    Open();
    S_3DSetGammaRamp(0);
    D3DGAMMARAMP ramp{};
    device->GetGammaRamp(0, &ramp);
    EXPECT_EQ(ramp.red[128], 0);
    EXPECT_EQ(ramp.blue[255], 65535);
    S_3DSetGammaRamp(255);
    device->GetGammaRamp(0, &ramp);
    EXPECT_EQ(ramp.green[0], 65535);
}

}  // namespace
