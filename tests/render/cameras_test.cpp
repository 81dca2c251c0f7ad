// Cameras on the spy device: projection, view, viewport, clear, instance
// matrices, fade, gamma ramp and the statistics line.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "base/general.h"
#include "platform/d3d9/spy.h"
#include "render/cameras.h"
#include "render/device.h"
#include "scene/records.h"
#include "support/logcapture.h"
#include "system/adapters.h"
#include "system/video.h"

namespace {

class RendererCameras : public ::testing::Test {
protected:
    void SetUp() override {
        spy = new D3D9SpyDevice();
        savedRenderer_ = g_RendererState;
        savedSystem_ = g_SystemState;
        record_.device = spy;
        renderer_.device = &record_;
        g_RendererState = &renderer_;
        system_.width = 1024;
        system_.height = 768;
        g_SystemState = &system_;
        ASSERT_EQ(S_3DAllocMatrices(), 1);
        scene_.systemScale = 1.0f / 65536.0f;
        camera_.inst.flags = INST_CAMERA;
        camera_.inst.scene = &scene_;
        camera_.focus = 16384;
        Rectangle(0, 0x10000, 0, 0x10000);
        for (int i = 0; i < 12; i += 5) camera_.inst.worldMatrix.m[i] = 0x10000;
    }
    void TearDown() override {
        S_3DFreeSceneCamera(&camera_);
        S_3DFreeMatrices();
        g_RendererState = savedRenderer_;
        g_SystemState = savedSystem_;
        EXPECT_EQ(spy->Release(), 0u);
    }
    // The camera's rectangle as fractions of the screen (16.16).
    void Rectangle(int32_t left, int32_t right, int32_t top, int32_t bottom) {
        camera_.viewport[0] = top;
        camera_.viewport[1] = bottom;
        camera_.viewport[2] = left;
        camera_.viewport[3] = right;
    }
    std::string Last(const std::string& prefix) const {
        for (auto it = spy->calls.rbegin(); it != spy->calls.rend(); ++it)
            if (it->rfind(prefix, 0) == 0) return *it;
        return "";
    }

    D3D9SpyDevice* spy = nullptr;
    Scene3D scene_{};
    Camera3D camera_{};
    SystemState system_{};

private:
    D3DDeviceRecord record_{};
    RendererState renderer_{};
    RendererState* savedRenderer_ = nullptr;
    SystemState* savedSystem_ = nullptr;
};

TEST_F(RendererCameras, ProjectionOfAQuarterTurnIsNinetyDegrees) {
    D3DXMATRIX p;
    camera_.aspect[0] = 0x10000;
    camera_.aspect[1] = 0x20000;
    S_3DCameraProjection(&camera_, &p);
    EXPECT_NEAR(p.m[0][0], 1.0f, 1e-6);  // c = 1
    EXPECT_NEAR(p.m[1][1], 0.5f, 1e-6);
    EXPECT_FLOAT_EQ(p.m[2][2], 1.00001f);
    EXPECT_FLOAT_EQ(p.m[2][3], 1.0f);
    EXPECT_FLOAT_EQ(p.m[3][2], -5.00005f);
    EXPECT_EQ(p.m[3][3], 0.0f);
    // Without both aspect words the screen's aspect holds (1.0 here).
    camera_.aspect[1] = 0;
    S_3DCameraProjection(&camera_, &p);
    EXPECT_NEAR(p.m[1][1], 1.0f, 1e-6);
}

TEST_F(RendererCameras, ViewTakesTheCameraPlaceIntoItsAxesWithTheSystemScale) {
    // Turned a quarter about y: x axis (0, 0, -1), z axis (1, 0, 0); at (10, 20, 30).
    int32_t* r = camera_.inst.worldMatrix.m;
    for (int i = 0; i < 12; ++i) r[i] = 0;
    r[2] = -0x10000;
    r[5] = 0x10000;
    r[8] = 0x10000;
    camera_.inst.worldPos = {10 << 16, 20 << 16, 30 << 16, 0};
    camera_.inst.id = 7;
    scene_.id = 3;
    system_.debugFlags = 0x2000;
    LogCapture log;
    ASSERT_EQ(S_3DInitSceneCamera(&scene_, &camera_), 1);
    EXPECT_TRUE(log.Contains("Render Scene(3) Camera(7) Init\nRender Scene Init(3) \n"));
    const D3DXMATRIX& v = *g_S3DMatrices.view;
    EXPECT_FLOAT_EQ(v.m[2][0], -1.0f);  // rows become columns
    EXPECT_FLOAT_EQ(v.m[0][2], 1.0f);
    EXPECT_FLOAT_EQ(v.m[1][1], 1.0f);
    EXPECT_FLOAT_EQ(v.m[3][0], 30.0f);   // -(position . x axis)
    EXPECT_FLOAT_EQ(v.m[3][1], -20.0f);  // -(position . y axis)
    EXPECT_FLOAT_EQ(v.m[3][2], -10.0f);  // -(position . z axis)
    EXPECT_FLOAT_EQ(v.m[3][3], 1.0f);
    EXPECT_EQ(Last("SetViewport"), "SetViewport(0,0,1024,768)");
    EXPECT_EQ(g_S3DFieldOfView, 16384);
}

TEST_F(RendererCameras, ViewportsRoundTheRectangleToPixels) {
    struct Case {
        int32_t left, right, top, bottom;
        const char* call;
    } cases[] = {
        {0x4000, 0xC000, 0, 0x10000, "SetViewport(256,0,512,768)"},
        {0, 0x10000, 0x5555, 0xAAAB, "SetViewport(0,256,1024,256)"},
        {0x8000, 0x10000, 0x8000, 0x10000, "SetViewport(512,384,512,384)"},
    };
    for (const Case& c : cases) {
        Rectangle(c.left, c.right, c.top, c.bottom);
        EXPECT_EQ(S_3DSetSceneViewPort(&camera_), 1);
        EXPECT_EQ(Last("SetViewport"), c.call);
    }
    // One record per camera, made on first use.
    void* record = camera_.rendererCamera;
    S_3DSetSceneViewPort(&camera_);
    EXPECT_EQ(camera_.rendererCamera, record);
    // A refused viewport is logged; drawing goes on.
    spy->fail["SetViewport"] = {D3DERR_INVALIDCALL};
    LogCapture log;
    EXPECT_EQ(S_3DSetSceneViewPort(&camera_), 1);
    EXPECT_TRUE(log.Contains("wrong ViewPort-settings: D3DERR_INVALIDCALL.\n"));
}

TEST_F(RendererCameras, ClearFlagsFollowCameraFlagsAndVideoOptions) {
    camera_.background[0] = 0x12;
    camera_.background[1] = 0x34;
    camera_.background[2] = 0x56;
    struct Case {
        uint32_t camFlags, options;
        const char* call;  // empty: no clear
    } cases[] = {
        {0, 0x600, ""},
        {0x10, 0, "Clear(0x1,0x123456)"},
        {0x24, 0x400, "Clear(0x2,0x123456)"},
        {0x20, 0x400, ""},  // depth needs both flags
        {0x34, 0, "Clear(0x1,0x123456)"},
        {0x834, 0x600, "Clear(0x7,0x123456)"},
        {0x800, 0x400, ""},  // stencil needs its option
    };
    for (const Case& c : cases) {
        spy->calls.clear();
        camera_.camFlags = c.camFlags;
        system_.VideoD3DFlags = c.options;
        EXPECT_EQ(S_3DClearSceneBackground(&camera_), 1);
        EXPECT_EQ(Last("Clear"), c.call) << std::hex << c.camFlags;
    }
    spy->fail["Clear"] = {D3DERR_INVALIDCALL};
    camera_.camFlags = 0x10;
    LogCapture log;
    EXPECT_EQ(S_3DClearSceneBackground(&camera_), 0);
    EXPECT_TRUE(log.Contains("Viewport clear failed: 0x8876086c\n"));
}

TEST_F(RendererCameras, InstanceMatrices) {
    int marker = 0;
    Inst3D inst{};
    inst.size = 0x10000;
    inst.scale = {0x20000, 0x10000, 0x10000, 0};
    for (int i = 0; i < 12; i += 5) inst.worldMatrix.m[i] = 0x10000;
    inst.worldPos = {3 << 16, 0, -(1 << 16), 0};
    g_S3DMatrices.projection->m[2][2] = 2.0f;  // narrowed by a pass
    g_S3DMatrices.projection->m[3][2] = -1.0f;
    ASSERT_EQ(S_3DSetInstMatrix(&marker, &inst, &camera_), 1);
    const D3DXMATRIX& w = *g_S3DMatrices.world;
    const float expectW[4][4] = {{2, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {3, 0, -1, 1}};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) EXPECT_FLOAT_EQ(w.m[r][c], expectW[r][c]) << r << "," << c;
    EXPECT_FLOAT_EQ(g_S3DMatrices.normal->m[0][0], 1.0f);
    EXPECT_FLOAT_EQ(g_S3DMatrices.projection->m[2][2], 1.00001f);
    EXPECT_FLOAT_EQ(g_S3DMatrices.projection->m[3][2], -5.00005f);

    // A 2D instance on a half-screen rectangle (512 x 384 pixels), 10 pixels
    // right of and 20 below its centre.
    Rectangle(0, 0x8000, 0, 0x8000);
    inst.flags2 = 0x200;
    inst.pos = {10, 20, 0, 0};
    ASSERT_EQ(S_3DSetInstMatrix(&marker, &inst, &camera_), 1);
    const D3DXMATRIX& p = *g_S3DMatrices.screenProjection;
    EXPECT_FLOAT_EQ(p.m[0][0], 2.0f / 512);
    EXPECT_FLOAT_EQ(p.m[1][1], 2.0f / 384);
    EXPECT_FLOAT_EQ(p.m[2][2], 0.0f);
    EXPECT_FLOAT_EQ(p.m[3][0], 9.75f * 2 / 512);
    EXPECT_FLOAT_EQ(p.m[3][1], -20.25f * 2 / 384);
    EXPECT_FLOAT_EQ(p.m[3][2], 1.0f);
    EXPECT_FLOAT_EQ(g_S3DMatrices.world->m[0][0], 131072.0f);  // size x scale, no system scale
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) EXPECT_EQ(g_S3DMatrices.view->m[r][c], r == c ? 1.0f : 0.0f);

    // Anchors: left wins over right, top over bottom.
    struct Anchor {
        uint32_t bits;
        float dx, dy;
    } anchors[] = {{0x1000 | 0x2000, -1, 0}, {0x2000, 1, 0}, {0x4000 | 0x8000, 0, 1}, {0x8000, 0, -1}};
    for (const Anchor& a : anchors) {
        inst.flags2 = 0x200 | a.bits;
        S_3DSetInstMatrix(&marker, &inst, &camera_);
        EXPECT_FLOAT_EQ(p.m[3][0], 9.75f * 2 / 512 + a.dx) << std::hex << a.bits;
        EXPECT_FLOAT_EQ(p.m[3][1], -20.25f * 2 / 384 + a.dy) << std::hex << a.bits;
    }
    // The raw size word.
    inst.flags2 = 0x200 | 0x10000;
    inst.size = 40;
    S_3DSetInstMatrix(&marker, &inst, &camera_);
    EXPECT_FLOAT_EQ(g_S3DMatrices.world->m[1][1], 40.0f);

    // No renderer object: logged, nothing drawn.
    LogCapture log;
    EXPECT_EQ(S_3DSetInstMatrix(nullptr, &inst, &camera_), 0);
    EXPECT_TRUE(log.Contains("ERROR: NO D3D Object for instance!\n"));
}

TEST_F(RendererCameras, FadeDrawsOnlyWithAlpha) {
    g_RendererStandInCounts = RendererStandInCounts{};
    EXPECT_EQ(S3D_RenderFadeRectangle(0x00FF0000, &camera_), 1);
    EXPECT_EQ(spy->Count("DrawPrimitiveUP"), 0);
    EXPECT_EQ(g_RendererStandInCounts.defaultRenderStates, 0);
    Rectangle(0x8000, 0x10000, 0x4000, 0xC000);
    EXPECT_EQ(S3D_RenderFadeRectangle(0x80000000, &camera_), 1);
    EXPECT_EQ(spy->Count("DrawPrimitiveUP"), 1);
    EXPECT_EQ(Last("SetFVF"), "SetFVF(68)");
    EXPECT_EQ(Last("SetViewport"), "SetViewport(512,192,512,384)");
    EXPECT_EQ(g_RendererStandInCounts.defaultRenderStates, 1);
}

TEST_F(RendererCameras, GammaRampEntries) {
    for (int i = 0; i < 256; ++i) EXPECT_EQ(S_3DGammaRampEntry(255, i), 65535) << i;
    for (int i = 0; i < 255; ++i) EXPECT_EQ(S_3DGammaRampEntry(0, i), 0) << i;
    EXPECT_EQ(S_3DGammaRampEntry(0, 255), 65535);
    // 127 is nearly linear.
    for (int i : {1, 64, 128, 200, 255}) EXPECT_NEAR(S_3DGammaRampEntry(127, i), i * 257, i * 257 * 0.03 + 1) << i;
    S_3DSetGammaRamp(127);
    EXPECT_EQ(spy->Count("SetGammaRamp"), 1);
}

TEST_F(RendererCameras, StatisticsLineEndsTheScene) {
    system_.showFpsLine = 1;
    g_S3DFrameStats = {3, 12, 4, 2};
    ASSERT_EQ(S_3DStatsLine(), 1);
    EXPECT_EQ(spy->Count("EndScene"), 1);
    EXPECT_EQ(std::string(system_.statusText).rfind("AQC: 3, prts: 012,tswaps: 004,tloads: 002, Coll: ", 0), 0u);
    EXPECT_EQ(g_S3DFrameStats.partsDrawn, 0);
    EXPECT_EQ(g_S3DFrameStats.textureSwaps, 0);
    EXPECT_EQ(g_S3DFrameStats.textureLoads, 0);
    EXPECT_EQ(g_S3DFrameStats.adaptiveQuality, 3);
    spy->fail["EndScene"] = {D3DERR_INVALIDCALL};
    EXPECT_EQ(S_3DStatsLine(), 0);
}

}  // namespace
