// Renderer start-up on the GL device: the capability table through the
// adapter seam, the texture formats, and the device objects released before a
// seamed reset and made again after it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/general.h"
#include "base/texcache.h"
#include "platform/d3d9/seam.h"
#include "platform/d3dx/d3dx9.h"
#include "render/cameras.h"
#include "render/effects.h"
#include "render/partdraw.h"
#include "render/postprocess.h"
#include "render/pixelformat.h"
#include "render/startup.h"
#include "render/statemanager.h"
#include "render/targets.h"
#include "scene/framedraw.h"
#include "scene/names.h"
#include "scene/replay.h"
#include "scene/smallops.h"
#include "scene/startup.h"
#include "scene/state.h"
#include "support/gamefolder.h"
#include "support/logcapture.h"
#include "support/videosupport.h"
#include "support/window_support.h"
#include "system/adapter_info.h"
#include "system/adapters.h"
#include "system/entry.h"
#include "system/video.h"

namespace {

const char* const kBloomEffect =
    "glsl vertex V { void main() { gl_Position = d3d_ClipToGL(a_Position); } }\n"
    "glsl fragment F { void main() { d3d_FragColor = vec4(1.0); } }\n"
    "technique DEFAULT { pass P { VertexShader = V; PixelShader = F; } }\n";

void FreeBloomEffect() {
    if (!g_B3DState) return;
    if (B3DNamedEntry* e = B3D_FindEffectByName("bloom")) {
        S_3DFreeShaderDefinition(e);
        B3D_FreeNamedEntry(e);
    }
}

void FreeSceneState() {
    FreeBloomEffect();
    B3D_FreeTextureFormats();
    B3D_FreeStore();
}

// One device per row, on a seamed adapter whose capabilities the row gives.
class RendererStartTest : public ::testing::Test {
protected:
    void SetUp() override {
        D3D9_ResetSeam();
        game.Write("shader_src/3_0/bloom.fx", kBloomEffect);
        session = new GeneralSession();
        ASSERT_NE(session->State(), nullptr);
        window = OpenScreenWindow(DefWindowProcA, 64, 48);
        ASSERT_NE(window, nullptr);
        savedRenderer = g_RendererState;
        savedScene = g_B3DState;
        g_B3DState = nullptr;
    }
    void TearDown() override {
        Close();
        if (window) DestroyWindow(window);
        g_RendererState = savedRenderer;
        g_B3DState = savedScene;
        delete session;
        D3D9_ResetSeam();
    }

    struct Device {
        DWORD behaviour = D3DCREATE_HARDWARE_VERTEXPROCESSING;
        DWORD vertexShader = D3DVS_VERSION(3, 0);
        DWORD softwareVertexShader = D3DVS_VERSION(3, 0);
        DWORD pixelShader = D3DPS_VERSION(3, 0);
        DWORD lights = 8;
        bool windowed = true;
        bool bloom = true;  // shader model 2 detected
        bool bloomFile = true;
    };

    // The device and the records the system layer would have made for it.
    void Open(const Device& row) {
        g_D3D9Seam = D3D9Seam{};
        g_D3D9Seam.adaptersSeamed = true;
        D3D9SeamAdapter a;
        a.caps = D3D9_DefaultCaps();
        a.caps.VertexShaderVersion = row.vertexShader;
        a.caps.PixelShaderVersion = row.pixelShader;
        a.caps.MaxActiveLights = row.lights;
        a.caps.MaxVertexBlendMatrixIndex = 3;
        a.softwareVertexShaderVersion = row.softwareVertexShader;
        a.desktop = {64, 48, 60, D3DFMT_X8R8G8B8};
        g_D3D9Seam.adapters.push_back(a);
        d3d = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(d3d, nullptr);
        D3DPRESENT_PARAMETERS pp{};
        pp.BackBufferWidth = 64;
        pp.BackBufferHeight = 48;
        pp.BackBufferFormat = D3DFMT_X8R8G8B8;
        pp.BackBufferCount = 1;
        pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
        pp.hDeviceWindow = window;
        pp.Windowed = 1;
        pp.EnableAutoDepthStencil = 1;
        pp.AutoDepthStencilFormat = D3DFMT_D24S8;
        ASSERT_EQ(d3d->CreateDevice(0, D3DDEVTYPE_HAL, window, row.behaviour, &pp, &device), D3D_OK);
        adapter = AdapterInfo{};
        adapter.behaviorFlags = row.behaviour;
        std::snprintf(adapter.identifier.Description, sizeof adapter.identifier.Description, "seamed card");
        record = D3DDeviceRecord{};
        record.device = device;
        record.adapter = &adapter;
        record.presentParams = pp;
        // Only the renderer's reading of the flag matters here: the device itself stays windowed.
        record.presentParams.Windowed = row.windowed ? 1 : 0;
        record.sm2Detected = row.bloom ? 1 : 0;
        std::snprintf(record.shaderFolder, sizeof record.shaderFolder, "%s", row.bloomFile ? "3_0" : "none");
        S3D_EbmGetPixelFormatFromDPF(&opaque, D3DFMT_X8R8G8B8);
        S3D_EbmGetPixelFormatFromDPF(&transparent, D3DFMT_A8R8G8B8);
        record.opaqueFormat = &opaque;
        record.transparentFormat = &transparent;
        renderer = RendererState{};
        renderer.device = &record;
        renderer.stateManager = S_3DCreateStateManager(device);
        g_RendererState = &renderer;
        g_B3DState = B3D_InitStore();
        ASSERT_NE(g_B3DState, nullptr);
        session->State()->VideoD3DFlags2 = 0;
    }
    void Close() {
        S_3DClose();
        g_S3DTargets = RendererTargets{};
        if (g_B3DState) FreeSceneState();
        if (renderer.stateManager) renderer.stateManager->Release();
        renderer.stateManager = nullptr;
        if (device) {
            EXPECT_EQ(device->Release(), 0u);
        }
        device = nullptr;
        EXPECT_EQ(D3D9_LiveResourceCount(), 0);
        if (d3d) d3d->Release();
        d3d = nullptr;
        g_RendererState = savedRenderer;
    }

    TempGameFolder game;
    GeneralSession* session = nullptr;
    HWND window = nullptr;
    IDirect3D9* d3d = nullptr;
    IDirect3DDevice9* device = nullptr;
    AdapterInfo adapter{};
    D3DDeviceRecord record{};
    RendererState renderer{};
    TextureBitmapFormat opaque{}, transparent{};
    RendererState* savedRenderer = nullptr;
    B3DState* savedScene = nullptr;
};

constexpr DWORD HW = D3DCREATE_HARDWARE_VERTEXPROCESSING;
constexpr DWORD MIXED = D3DCREATE_MIXED_VERTEXPROCESSING;
constexpr DWORD SW = D3DCREATE_SOFTWARE_VERTEXPROCESSING;

TEST_F(RendererStartTest, CapabilityTable) {
    struct Row {
        const char* what;
        Device in;
        int32_t shaders, mode, level, lights;
        bool gamma, bloomTargets;
        std::vector<const char*> lines;
        const char* absent;
    };
    const char* hwVs30 = "S_3DInit() Using Hardware Vertex Shader, version 3.0\n";
    const char* ps30 = "S_3DInit() Using Hardware Pixel Shader, version 3.0\n";
    const Row rows[] = {
        {"hardware, 3.0, full screen",
         {HW, D3DVS_VERSION(3, 0), D3DVS_VERSION(3, 0), D3DPS_VERSION(3, 0), 16, false},
         1,
         1,
         20,
         8,
         true,
         true,
         {hwVs30, ps30},
         nullptr},
        {"hardware without vertex shaders, ps 1.4, windowed",
         {HW, D3DVS_VERSION(1, 0), D3DVS_VERSION(3, 0), D3DPS_VERSION(1, 4), 4, true},
         0,
         0,
         14,
         4,
         false,
         true,
         {"S_3DInit() No Vertex shader available for Hardware Vertex Processing, disabling Vertex Shaders\n",
          "S_3DInit() Using Hardware Pixel Shader, version 1.4\n"},
         nullptr},
        {"hardware 1.1, ps 1.1",
         {HW, D3DVS_VERSION(1, 1), D3DVS_VERSION(3, 0), D3DPS_VERSION(1, 1), 8, true},
         1,
         1,
         10,
         8,
         false,
         true,
         {"S_3DInit() Using Hardware Vertex Shader, version 1.1\n",
          "S_3DInit() Using Hardware Pixel Shader, version 1.1\n"},
         nullptr},
        {"hardware, no pixel shader",
         {HW, D3DVS_VERSION(2, 0), D3DVS_VERSION(3, 0), D3DPS_VERSION(0, 0), 8, true},
         1,
         1,
         0,
         8,
         false,
         true,
         {"S_3DInit() No Hardware Pixel Shader available!\n"},
         "Using Hardware Pixel Shader"},
        {"mixed with hardware shaders",
         {MIXED, D3DVS_VERSION(2, 0), D3DVS_VERSION(3, 0), D3DPS_VERSION(2, 0), 8, true},
         1,
         1,
         20,
         8,
         false,
         true,
         {"S_3DInit() Using Hardware Vertex Shader, version 2.0\n",
          "S_3DInit() Using Hardware Pixel Shader, version 2.0\n"},
         "Software Vertex Shader"},
        {"mixed falls back on software shaders",
         {MIXED, D3DVS_VERSION(1, 0), D3DVS_VERSION(3, 0), D3DPS_VERSION(1, 3), 8, true},
         1,
         2,
         10,
         8,
         false,
         true,
         {"S_3DInit() Using Software Vertex Shader, version 3.0\n",
          "S_3DInit() Using Hardware Pixel Shader, version 1.3\n"},
         nullptr},
        {"mixed without shaders either way",
         {MIXED, D3DVS_VERSION(1, 0), D3DVS_VERSION(1, 0), D3DPS_VERSION(2, 0), 8, true},
         0,
         0,
         20,
         8,
         false,
         true,
         {"S_3DInit() No Vertex shader available for either Hardware and Software Vertex Processing, disabling "
          "Vertex Shaders\n"},
         nullptr},
        {"software: pixel-shader level 0 without a line",
         {SW, D3DVS_VERSION(1, 0), D3DVS_VERSION(3, 0), D3DPS_VERSION(3, 0), 2, false},
         1,
         2,
         0,
         2,
         true,
         true,
         {"S_3DInit() Using Software Vertex Shader, version 3.0\n"},
         "Pixel Shader"},
        {"software without shaders",
         {SW, D3DVS_VERSION(1, 0), D3DVS_VERSION(1, 0), D3DPS_VERSION(3, 0), 8, true},
         0,
         0,
         0,
         8,
         false,
         true,
         {"S_3DInit() No Vertex shader available for Software Vertex Processing, disabling Vertex Shaders\n"},
         nullptr},
        {"no bloom on a device without shader model 2",
         {HW, D3DVS_VERSION(3, 0), D3DVS_VERSION(3, 0), D3DPS_VERSION(3, 0), 8, true, false},
         1,
         1,
         20,
         8,
         false,
         false,
         {},
         "bloom"},
        {"no bloom targets when the effect does not load",
         {HW, D3DVS_VERSION(3, 0), D3DVS_VERSION(3, 0), D3DPS_VERSION(3, 0), 8, true, true, false},
         1,
         1,
         20,
         8,
         false,
         false,
         {"S_3DLoadShader() Unable to load shader bloom [0]\n"},
         nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Open(row.in);
        if (HasFatalFailure()) return;
        LogCapture log;
        ASSERT_EQ(S_3DInit(), 1);
        EXPECT_EQ(record.vertexShaders, row.shaders);
        EXPECT_EQ(record.vertexProcessingMode, row.mode);
        EXPECT_EQ(record.pixelShaderLevel, row.level);
        EXPECT_EQ(g_B3DState->lightSlotCount, row.lights);
        EXPECT_EQ((session->State()->VideoD3DFlags2 & S3D_OPTION_FULLSCREEN_GAMMA) != 0, row.gamma);
        EXPECT_EQ(g_S3DTargets.SceneTarget != nullptr, row.bloomTargets);
        EXPECT_EQ(g_S3DTargets.QuadBuffer != nullptr, row.bloomTargets);
        for (const char* line : row.lines) EXPECT_TRUE(log.Contains(line)) << line << log.Text();
        if (row.absent) {
            EXPECT_FALSE(log.Contains(row.absent)) << log.Text();
        }
        EXPECT_TRUE(log.Contains("3D Device = seamed card\n"));
        EXPECT_TRUE(log.Contains("S_3DInit() MaxVertexBlendMatrixIndex = 3\n"));
        // Hardware lights start switched off, software processing too (part drawing switches it per draw).
        for (DWORD i = 0; i <= 8; ++i) {
            BOOL on = 1;
            EXPECT_EQ(device->GetLightEnable(i, &on), D3D_OK);
            EXPECT_EQ(on, 0) << i;
        }
        if (row.in.behaviour != SW) {
            EXPECT_EQ(device->GetSoftwareVertexProcessing(), 0);
        }
        // The matrices and declarations are there for the first frame.
        ASSERT_NE(g_S3DMatrices.projection, nullptr);
        EXPECT_EQ(g_S3DMatrices.view->m[3][2], -7.0f);
        EXPECT_FLOAT_EQ(g_S3DMatrices.projection->m[2][2], 1.00001f);
        EXPECT_EQ(g_S3DCameraSetUpPending, 1);
        Close();
    }
}

TEST_F(RendererStartTest, TextureFormatsAreRegisteredByCode) {
    Device row;
    row.bloom = false;
    Open(row);
    ASSERT_EQ(S_3DInit(), 1);
    const int32_t x8 = S3D_PixelFormatCode(D3DFMT_X8R8G8B8), a8 = S3D_PixelFormatCode(D3DFMT_A8R8G8B8);
    EXPECT_EQ(g_B3DState->textureFormatWords[0], x8);
    EXPECT_EQ(g_B3DState->textureFormatWords[1], a8);
    auto* o = reinterpret_cast<TextureBitmapFormat*>(Qel_TableGet(g_B3DState->textureFormats, x8 + 1));
    auto* t = reinterpret_cast<TextureBitmapFormat*>(Qel_TableGet(g_B3DState->textureFormats, a8 + 1));
    ASSERT_NE(o, nullptr);
    ASSERT_NE(t, nullptr);
    EXPECT_NE(o, &opaque);  // copies the renderer owns
    EXPECT_EQ(o->bitsPerPixel, 32u);
    EXPECT_EQ(t->alphaBits, 8u);
    // The texture cache loads in the same records.
    ASSERT_NE(g_TCTextureFormats, nullptr);
    EXPECT_EQ(Qel_TableGet(g_TCTextureFormats, TC_FORMAT_OPAQUE), reinterpret_cast<uintptr_t>(o));
    EXPECT_EQ(Qel_TableGet(g_TCTextureFormats, TC_FORMAT_ALPHA), reinterpret_cast<uintptr_t>(t));

    // Started again on a device with one texture format (the system layer
    // copies the descriptor): no transparent code, and the opaque record is
    // replaced, not doubled.
    transparent = opaque;
    ASSERT_EQ(S_3DInit(), 1);
    EXPECT_EQ(g_B3DState->textureFormatWords[0], x8);
    EXPECT_EQ(g_B3DState->textureFormatWords[1], -1);
    EXPECT_EQ(Qel_TableGetCount(g_B3DState->textureFormats), 2u);  // the A8 record stays until freed
    // One format serves both kinds of texture in the cache.
    const uintptr_t now = Qel_TableGet(g_B3DState->textureFormats, x8 + 1);
    EXPECT_EQ(Qel_TableGet(g_TCTextureFormats, TC_FORMAT_OPAQUE), now);
    EXPECT_EQ(Qel_TableGet(g_TCTextureFormats, TC_FORMAT_ALPHA), now);
    // Freeing the records leaves the cache pointing at none of them.
    B3D_FreeTextureFormats();
    EXPECT_EQ(g_TCTextureFormats, nullptr);
}

TEST_F(RendererStartTest, AWindowedStartKeepsTheFullScreenGammaBitItFinds) {
    Device row;
    row.windowed = true;
    Open(row);
    session->State()->VideoD3DFlags2 = S3D_OPTION_FULLSCREEN_GAMMA;  // found by an earlier full-screen run
    ASSERT_EQ(S_3DInit(), 1);
    EXPECT_NE(session->State()->VideoD3DFlags2 & S3D_OPTION_FULLSCREEN_GAMMA, 0u);
}

TEST_F(RendererStartTest, PartDrawingTakesItsSwitchesFromTheDeviceAndTheSettings) {
    const S3DPartDrawSettings saved = g_S3DPartDraw;
    struct Case {
        const char* what;
        DWORD behaviour;
        DWORD vertexShader;
        bool bloomDevice, bloomSetting, envMap, anisotropic;
        S3DPartDrawSettings want;  // the override words are not looked at
    } cases[] = {
        {"everything on", HW, D3DVS_VERSION(3, 0), true, true, true, true, {1, 0, 0, 1, 1, 8}},
        {"software shaders, bloom off", MIXED, D3DVS_VERSION(1, 0), true, false, true, false, {2, 0, 0, 0, 1, 1}},
        {"bloom without the device's", HW, D3DVS_VERSION(3, 0), false, true, false, true, {1, 0, 0, 0, 0, 8}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g_S3DPartDraw = {-1, 0, 0, -1, -1, -1};
        Device row;
        row.behaviour = c.behaviour;
        row.vertexShader = c.vertexShader;
        row.bloom = c.bloomDevice;
        Open(row);
        if (HasFatalFailure()) return;
        record.sm14InUse = c.envMap ? 1 : 0;
        record.anisotropicOn = c.anisotropic ? 1 : 0;
        record.anisotropyLevel = c.anisotropic ? 8 : 1;
        session->State()->VideoD3DFlags2 = c.bloomSetting ? S3D_OPTION_BLOOM : 0;
        ASSERT_EQ(S_3DInit(), 1);
        EXPECT_EQ(g_S3DPartDraw.vertexProcessing, c.want.vertexProcessing);
        EXPECT_EQ(g_S3DPartDraw.bloom, c.want.bloom);
        EXPECT_EQ(g_S3DPartDraw.environmentMapping, c.want.environmentMapping);
        EXPECT_EQ(g_S3DPartDraw.maxAnisotropy, c.want.maxAnisotropy);
        Close();
    }
    g_S3DPartDraw = saved;
}

TEST_F(RendererStartTest, ClosingTheSceneEngineGivesBackEveryEffect) {
    Device row;
    Open(row);
    const int before = D3D9_LiveResourceCount();
    ASSERT_NE(S_3DGetShader("bloom", 0), nullptr);
    ASSERT_NE(S_3DGetShader("bloom", 1), nullptr);
    EXPECT_GT(D3D9_LiveResourceCount(), before);
    B3D_FreeStore();
    EXPECT_EQ(D3D9_LiveResourceCount(), before);
}

TEST_F(RendererStartTest, NoDeviceNoRenderer) {
    g_RendererState = nullptr;
    EXPECT_EQ(S_3DInit(), 0);
}

// The whole device: opened by the system layer, the renderer started on it,
// then a lost device reset through the seam.
class RendererResetTest : public VideoTestBase {
protected:
    void SetUp() override {
        VideoTestBase::SetUp();
        game = new TempGameFolder();
        game->Write("shader_src/3_0/bloom.fx", kBloomEffect);
        savedScene = g_B3DState;
        g_B3DState = B3D_InitStore();
        ASSERT_NE(g_B3DState, nullptr);
    }
    void TearDown() override {
        FreeSceneState();
        g_B3DState = savedScene;
        g_S3DReleaseSceneBuffersHook = nullptr;
        VideoTestBase::TearDown();
        delete game;
    }
    static IDirect3DDevice9* Device() { return g_RendererState->device->device; }
    // Stands for the scene engine's particle and scene buffers: a default-pool
    // buffer it drops when the renderer asks, checking that the renderer's own
    // targets still stand at that moment.
    static void DropSceneBuffer() {
        s_targetsStoodAtDrop = g_S3DTargets.SceneTarget != nullptr && g_S3DTargets.EnvMapCube != nullptr;
        if (s_sceneBuffer) s_sceneBuffer->Release();
        s_sceneBuffer = nullptr;
    }
    void LoseDevice() {
        g_D3D9Seam.present = {D3DERR_DEVICELOST};
        g_D3D9Seam.testCooperativeLevel = {D3DERR_DEVICENOTRESET};
        S_FlipScreen();
    }

    TempGameFolder* game = nullptr;
    B3DState* savedScene = nullptr;
    static inline IDirect3DVertexBuffer9* s_sceneBuffer = nullptr;
    static inline bool s_targetsStoodAtDrop = false;
};

TEST_F(RendererResetTest, DeviceObjectsAreReleasedBeforeASeamedReset) {
    state->shaderQuality = 2;  // the device's own profile, shader model 3
    ASSERT_TRUE(OpenVideo(640, 480));
    ASSERT_EQ(S_3DInit(), 1);
    EXPECT_EQ(g_RendererState->device->vertexProcessingMode, 1);
    EXPECT_EQ(g_RendererState->device->pixelShaderLevel, 20);
    ASSERT_NE(g_S3DTargets.SceneTarget, nullptr);
    ASSERT_NE(g_S3DTargets.EnvMapCube, nullptr);
    ASSERT_EQ(Device()->CreateVertexBuffer(96, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, 0, D3DPOOL_DEFAULT,
                                           &s_sceneBuffer, nullptr),
              D3D_OK);
    g_S3DReleaseSceneBuffersHook = DropSceneBuffer;

    LoseDevice();
    EXPECT_EQ(g_D3D9Seam.resetCount, 1);
    EXPECT_EQ(g_ApplicationRecord.deviceUsable, 1);
    EXPECT_TRUE(s_targetsStoodAtDrop);
    EXPECT_EQ(s_sceneBuffer, nullptr);
    // Made again after the reset.
    EXPECT_NE(g_S3DTargets.SceneTarget, nullptr);
    EXPECT_NE(g_S3DTargets.QuadBuffer, nullptr);
    EXPECT_NE(g_S3DTargets.EnvMapCube, nullptr);

    // A default-pool object that nobody releases makes the reset fail, and
    // nothing draws on that device.
    IDirect3DVertexBuffer9* forgotten = nullptr;
    ASSERT_EQ(Device()->CreateVertexBuffer(96, D3DUSAGE_WRITEONLY, 0, D3DPOOL_DEFAULT, &forgotten, nullptr), D3D_OK);
    LoseDevice();
    EXPECT_EQ(g_ApplicationRecord.deviceUsable, 0);
    EXPECT_EQ(g_S3DTargets.SceneTarget, nullptr);
    forgotten->Release();
}

}  // namespace
