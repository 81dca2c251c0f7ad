// The video device on a real GL device (llvmpipe under SDL's offscreen driver):
// open, clear, present and read the window back; lost devices and resets through
// the seam; the format, depth, texture and antialiasing picks against seamed
// tables; the shader profile and folder; close.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/ebm.h"
#include "base/imagefiles.h"
#include "base/strings.h"
#include "platform/d3d9/seam.h"
#include "render/device.h"
#include "render/pixelformat.h"
#include "support/gamefolder.h"
#include "support/logcapture.h"
#include "support/videosupport.h"
#include "system/adapter_info.h"
#include "system/adapters.h"
#include "system/entry.h"
#include "system/settings.h"
#include "system/shaderprofile.h"
#include "system/surfaces.h"
#include "system/video.h"
#include "tools/lib/lookup_textures.h"

namespace {

class Video : public VideoTestBase {
protected:
    void SetUp() override {
        VideoTestBase::SetUp();
        S_InitSystemSettings();
        g_D3DCounters = D3DObjectCounters{};
    }
    void TearDown() override {
        CloseVideo();
        EXPECT_EQ(D3D9_LiveDeviceCount(), 0);
        EXPECT_EQ(D3D9_LiveResourceCount(), 0);
        EXPECT_EQ(g_D3DCounters.surfaces, 0);
        EXPECT_EQ(g_D3DCounters.textures, 0);
        g_LookupTextureLoader = savedLoader_;
        VideoTestBase::TearDown();
    }
    IDirect3DDevice9* Device() { return g_RendererState->device->device; }

    // The colour of one pixel of the window, as the front-buffer copy gives it.
    uint32_t WindowPixel(int x, int y) {
        D3DDISPLAYMODE desktop{};
        g_RendererState->d3d->GetAdapterDisplayMode(0, &desktop);
        IDirect3DSurface9* s = nullptr;
        EXPECT_EQ(Device()->CreateOffscreenPlainSurface(desktop.Width, desktop.Height, D3DFMT_A8R8G8B8,
                                                        D3DPOOL_SYSTEMMEM, &s, nullptr),
                  D3D_OK);
        EXPECT_EQ(Device()->GetFrontBufferData(0, s), D3D_OK);
        D3DLOCKED_RECT lr{};
        s->LockRect(&lr, nullptr, D3DLOCK_READONLY);
        uint32_t v;
        std::memcpy(&v, static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch + x * 4, 4);
        s->UnlockRect();
        s->Release();
        return v & 0xFFFFFF;
    }

    // Records the names of the lookup textures instead of loading them.
    static EBM* Record(const char* name, uint32_t, int, int) {
        s_loaded.push_back(name);
        return nullptr;
    }
    bool Loaded(const std::string& name) const {
        for (const auto& n : s_loaded)
            if (n == name) return true;
        return false;
    }
    void RecordLoads() {
        s_loaded.clear();
        g_LookupTextureLoader = Record;
    }
    static std::vector<std::string> s_loaded;
    S_TextureLoaderFn savedLoader_ = g_LookupTextureLoader;
};
std::vector<std::string> Video::s_loaded;

TEST_F(Video, OpensClearsAndPresentsOnTheWindow) {
    ASSERT_TRUE(OpenVideo(1024, 768));
    VideoRecord* v = g_VideoRecord;
    ASSERT_NE(v, nullptr);
    ASSERT_NE(g_ApplicationRecord.mainWindow, nullptr);
    EBM* screen = v->VideoEBM;
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(screen->width, 1024);
    EXPECT_EQ(screen->height, 768);
    EXPECT_EQ(screen->bitsPerPixel, 32);
    EXPECT_EQ(screen->bytesPerRow, 4096);
    EXPECT_EQ(screen->rowDistance, 4096);
    EXPECT_NE(screen->flags & 0x800008, 0u);
    EXPECT_NE(screen->flags & 0x80000, 0u);  // true colour
    EXPECT_STREQ(screen->name, "VideoEBM");
    EXPECT_NE(screen->EBM_RowOffsetTab, nullptr);
    EXPECT_EQ(screen->sys->surface, g_ApplicationRecord.backBuffer);
    EXPECT_EQ(v->BackBufferEBM->sys->surface, g_ApplicationRecord.backBuffer);
    EXPECT_EQ(state->screenFormat, 0x80000u);
    EXPECT_EQ(v->redShift, 16);
    EXPECT_EQ(v->redBits, 8);
    EXPECT_EQ(v->aspectX, 0x10000);
    EXPECT_EQ(v->aspectY, 0xC000);
    EXPECT_NE(v->flags & VIDEO_FLAG_TRUECOLOR, 0u);

    // The shader profile of the stand-in is ps_3_0: folder 3_0, no lighting tables.
    D3DDeviceRecord* d = g_RendererState->device;
    EXPECT_STREQ(d->detectedProfile, "ps_3_0");
    EXPECT_STREQ(d->shaderFolder, "3_0");
    EXPECT_STREQ(state->shaderVersion, "3.0");
    EXPECT_EQ(state->shaderScale, 1.0f);
    EXPECT_EQ(g_LookupTextures.lighting[0], nullptr);
    EXPECT_NE(g_RendererState->stateManager, nullptr);
    // The windowed list runs X1R5G5B5, R5G6B5, X8R8G8B8, A8R8G8B8: the alpha format comes last.
    EXPECT_EQ(d->presentParams.BackBufferFormat, D3DFMT_A8R8G8B8);
    EXPECT_NE(d->backBuffer, nullptr);
    EXPECT_NE(d->depthStencil, nullptr);
    EXPECT_TRUE(S_3DEndFrame());

    // A frame: a blue screen with a yellow band at the top.
    IDirect3DDevice9* device = Device();
    ASSERT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_XRGB(0, 0, 255), 1.0f, 0), D3D_OK);
    D3DRECT band{0, 0, 1024, 16};
    ASSERT_EQ(device->Clear(1, &band, D3DCLEAR_TARGET, D3DCOLOR_XRGB(255, 255, 0), 1.0f, 0), D3D_OK);
    S_FlipScreen();
    EXPECT_EQ(g_ApplicationRecord.deviceUsable, 1);
    EXPECT_EQ(WindowPixel(500, 4), 0xFFFF00u);
    EXPECT_EQ(WindowPixel(500, 700), 0x0000FFu);
}

TEST_F(Video, LostDeviceIsResetThroughTheSeam) {
    ASSERT_TRUE(OpenVideo(1024, 768));
    IDirect3DSurface9* before = g_ApplicationRecord.backBuffer;
    g_RendererStandInCounts = RendererStandInCounts{};
    g_D3D9Seam.present = {D3DERR_DEVICELOST};
    g_D3D9Seam.testCooperativeLevel = {D3DERR_DEVICENOTRESET};
    S_FlipScreen();
    EXPECT_EQ(g_D3D9Seam.resetCount, 1);
    EXPECT_EQ(g_ApplicationRecord.deviceUsable, 1);
    EXPECT_EQ(g_RendererStandInCounts.releaseDeviceObjects, 1);
    EXPECT_EQ(g_RendererStandInCounts.defaultRenderStates, 1);
    EXPECT_EQ(g_RendererStandInCounts.postProcess, 1);  // shader model 2 detected
    EXPECT_EQ(g_RendererStandInCounts.enviMap, 1);
    // The new back buffer is bound to both screen bitmaps.
    IDirect3DSurface9* after = g_ApplicationRecord.backBuffer;
    ASSERT_NE(after, nullptr);
    EXPECT_EQ(g_VideoRecord->VideoEBM->sys->surface, after);
    EXPECT_EQ(g_VideoRecord->BackBufferEBM->sys->surface, after);
    (void)before;
    // The renderer's defaults went through the state manager.
    DWORD value = 0;
    Device()->GetRenderState(D3DRS_ALPHAREF, &value);
    EXPECT_EQ(value, 90u);
    Device()->GetRenderState(D3DRS_COLORWRITEENABLE, &value);
    EXPECT_EQ(value, 7u);
    // And the device draws again.
    Device()->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_XRGB(0, 255, 0), 1.0f, 0);
    S_FlipScreen();
    EXPECT_EQ(WindowPixel(10, 10), 0x00FF00u);
}

int g_reopens = 0;
int g_reopenAnswer = 1;
int CountReopen() {
    ++g_reopens;
    return g_reopenAnswer;
}

// After a successful reset the scene engine reopens its part through the
// hook; a failed reset never reaches it, and its failure fails the reset.
TEST_F(Video, ASuccessfulResetRunsTheReopenHook) {
    ASSERT_TRUE(OpenVideo(1024, 768));
    struct Hook {
        Hook() { g_SReopenDeviceHook = CountReopen; }
        ~Hook() { g_SReopenDeviceHook = nullptr; }
    } hook;
    g_reopens = 0;
    g_reopenAnswer = 1;
    g_D3D9Seam.present = {D3DERR_DEVICELOST};
    g_D3D9Seam.testCooperativeLevel = {D3DERR_DEVICENOTRESET};
    S_FlipScreen();
    EXPECT_EQ(g_reopens, 1);
    g_D3D9Seam.reset = {D3DERR_DEVICELOST};
    EXPECT_EQ(S_Reset3DDevice(), 0);
    EXPECT_EQ(g_reopens, 1);
    g_reopenAnswer = 0;
    EXPECT_EQ(S_Reset3DDevice(), 0);
    EXPECT_EQ(g_reopens, 2);
}

TEST_F(Video, DeviceUsableFlagFollowsTheLostDevice) {
    ASSERT_TRUE(OpenVideo(1024, 768));
    // Still lost: the flag drops and no reset is tried.
    g_D3D9Seam.present = {D3DERR_DEVICELOST};
    g_D3D9Seam.testCooperativeLevel = {D3DERR_DEVICELOST};
    S_FlipScreen();
    EXPECT_EQ(g_ApplicationRecord.deviceUsable, 0);
    EXPECT_EQ(g_D3D9Seam.resetCount, 0);
    // A failed reset keeps it down.
    g_D3D9Seam.present = {D3DERR_DEVICELOST};
    g_D3D9Seam.testCooperativeLevel = {D3DERR_DEVICENOTRESET};
    g_D3D9Seam.reset = {D3DERR_DEVICELOST};
    S_FlipScreen();
    EXPECT_EQ(g_ApplicationRecord.deviceUsable, 0);
    EXPECT_EQ(g_ApplicationRecord.backBuffer, nullptr);
    // The next attempt succeeds.
    g_D3D9Seam.present = {D3DERR_DEVICELOST};
    g_D3D9Seam.testCooperativeLevel = {D3DERR_DEVICENOTRESET};
    S_FlipScreen();
    EXPECT_EQ(g_ApplicationRecord.deviceUsable, 1);
    EXPECT_NE(g_ApplicationRecord.backBuffer, nullptr);
    // Any other answer leaves the flag alone.
    g_ApplicationRecord.deviceUsable = 7;
    g_D3D9Seam.present = {D3DERR_DEVICELOST};
    g_D3D9Seam.testCooperativeLevel = {D3D_OK};
    S_FlipScreen();
    EXPECT_EQ(g_ApplicationRecord.deviceUsable, 7);
}

TEST_F(Video, ResetWithoutABackBufferLeavesTheScreensEmpty) {
    ASSERT_TRUE(OpenVideo(1024, 768));
    g_D3D9Seam.getBackBuffer = {D3DERR_INVALIDCALL};
    EXPECT_EQ(S_Reset3DDevice(), 0);
    EXPECT_EQ(g_VideoRecord->VideoEBM->sys->surface, nullptr);
    EXPECT_EQ(g_VideoRecord->BackBufferEBM->sys->surface, nullptr);
    EXPECT_EQ(S_ResetDevice(), 1);
    EXPECT_NE(g_VideoRecord->VideoEBM->sys->surface, nullptr);
}

TEST_F(Video, ResetFailsWhileDefaultPoolObjectsLive) {
    ASSERT_TRUE(OpenVideo(1024, 768));
    IDirect3DTexture9* target = nullptr;
    ASSERT_EQ(
        Device()->CreateTexture(64, 64, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT, &target, nullptr),
        D3D_OK);
    EXPECT_EQ(S_Reset3DDevice(), 0);
    target->Release();
    EXPECT_EQ(S_Reset3DDevice(), 1);
}

TEST_F(Video, AspectScalesFollowTheScreen) {
    SeamOneAdapter("wide", 1280, 1024, {{1280, 1024, 60}});
    // A stored adapter keeps the stored size (a fresh choice would reset it).
    g_ApplicationRecord.adapterName = Qel_StrDup("wide");
    g_ApplicationRecord.adapterOrdinal = 0;
    ASSERT_TRUE(OpenVideo(1280, 1024));
    EXPECT_EQ(g_VideoRecord->VideoEBM->width, 1280);
    EXPECT_EQ(g_VideoRecord->aspectX, 0x10000);
    EXPECT_EQ(g_VideoRecord->aspectY, 0xCCCC);
}

TEST_F(Video, WindowOnlyStopsBeforeDirect3D) {
    state->width = 640;
    ASSERT_NE(S_InitVideo(640, 480, 32, VIDEO_FLAG_NO_D3D), nullptr);
    EXPECT_NE(g_ApplicationRecord.mainWindow, nullptr);
    EXPECT_EQ(g_RendererState, nullptr);
    EXPECT_EQ(g_VideoRecord->VideoEBM, nullptr);
}

TEST_F(Video, ReopenKeepsTheWindow) {
    ASSERT_TRUE(OpenVideo(1024, 768));
    HWND window = g_ApplicationRecord.mainWindow;
    S_3DFreeLookupTextures();
    S_CloseVideoDevice(0);
    EXPECT_EQ(g_RendererState->device, nullptr);
    EXPECT_EQ(g_ApplicationRecord.mainWindow, window);
    ASSERT_TRUE(OpenVideo(1024, 768));
    EXPECT_EQ(g_ApplicationRecord.mainWindow, window);
}

// Full-screen device creation against a seamed mode: the back-buffer, depth,
// texture and antialiasing picks.
class DevicePicks : public Video {
protected:
    void Seam(std::vector<D3DFORMAT> depthOk, std::vector<D3DFORMAT> textureOk) {
        SeamOneAdapter("picks", 1024, 768, {{1024, 768, 60}});
        depthOk_ = std::move(depthOk);
        textureOk_ = std::move(textureOk);
        g_D3D9Seam.checkDeviceFormat = [this](UINT, D3DFORMAT, DWORD usage, D3DRESOURCETYPE, D3DFORMAT f) {
            const auto& list = (usage & D3DUSAGE_DEPTHSTENCIL) ? depthOk_ : textureOk_;
            for (D3DFORMAT ok : list)
                if (ok == f) return D3D_OK;
            return D3DERR_NOTAVAILABLE;
        };
    }
    std::vector<D3DFORMAT> depthOk_, textureOk_;
};

TEST_F(DevicePicks, AlphaBackBufferReplacesTheOpaqueOne) {
    Seam({D3DFMT_D24S8, D3DFMT_D16, D3DFMT_D24X8}, {D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8, D3DFMT_R5G6B5});
    state->VideoD3DFlags |= 0x200;
    ASSERT_TRUE(OpenVideo(1024, 768, false));
    D3DDeviceRecord* d = g_RendererState->device;
    EXPECT_EQ(d->presentParams.BackBufferFormat, D3DFMT_A8R8G8B8);
    EXPECT_EQ(d->presentParams.Windowed, 0);
    // At equal depth the format without stencil wins; without stencil bit 0x200 goes.
    EXPECT_EQ(d->presentParams.AutoDepthStencilFormat, D3DFMT_D24X8);
    EXPECT_EQ(state->VideoD3DFlags & 0x200, 0u);
    EXPECT_EQ(S3D_PixelFormatTable[d->opaqueFormat->code], D3DFMT_X8R8G8B8);
    EXPECT_EQ(S3D_PixelFormatTable[d->transparentFormat->code], D3DFMT_A8R8G8B8);
    EXPECT_EQ(d->presentParams.Flags, D3DPRESENTFLAG_DISCARD_DEPTHSTENCIL);
}

TEST_F(DevicePicks, D32IsTakenAtOnceAndTexturesFallBack) {
    Seam({D3DFMT_D16, D3DFMT_D32, D3DFMT_D24S8}, {D3DFMT_R5G6B5});
    ASSERT_TRUE(OpenVideo(1024, 768, false));
    D3DDeviceRecord* d = g_RendererState->device;
    EXPECT_EQ(d->presentParams.AutoDepthStencilFormat, D3DFMT_D32);
    EXPECT_EQ(S3D_PixelFormatTable[d->opaqueFormat->code], D3DFMT_R5G6B5);
    EXPECT_EQ(S3D_PixelFormatTable[d->transparentFormat->code], D3DFMT_R5G6B5);
    EXPECT_NE(state->VideoD3DFlags & 0x1000000, 0u);
}

TEST_F(DevicePicks, OnlyAlphaBackBuffersLeaveNoFormat) {
    Seam({D3DFMT_D24S8}, {D3DFMT_A8R8G8B8});
    // Both 32-bit formats make the mode's list; at creation only A8R8G8B8 passes.
    g_D3D9Seam.checkDeviceType = [](UINT, D3DFORMAT, D3DFORMAT back, BOOL) {
        return back == D3DFMT_X8R8G8B8 || back == D3DFMT_A8R8G8B8 ? D3D_OK : D3DERR_NOTAVAILABLE;
    };
    g_D3D9Seam.checkDepthStencilMatch = [](UINT, D3DFORMAT, D3DFORMAT, D3DFORMAT) { return D3D_OK; };
    ASSERT_EQ(S_EnumDevices(), 1);
    g_D3D9Seam.checkDeviceType = [](UINT, D3DFORMAT, D3DFORMAT back, BOOL) {
        return back == D3DFMT_A8R8G8B8 ? D3D_OK : D3DERR_NOTAVAILABLE;
    };
    EXPECT_FALSE(OpenVideo(1024, 768, false));
    EXPECT_EQ(g_RendererState->device->presentParams.BackBufferFormat, D3DFMT_UNKNOWN);
    EXPECT_EQ(S3D_PixelFormatTable[g_RendererState->device->transparentFormat->code], D3DFMT_A8R8G8B8);
    EXPECT_EQ(S3D_PixelFormatTable[g_RendererState->device->opaqueFormat->code], D3DFMT_A8R8G8B8);
}

TEST_F(DevicePicks, AntialiasingFallsBackToTwoSamples) {
    Seam({D3DFMT_D24S8}, {D3DFMT_A8R8G8B8});
    g_D3D9Seam.checkMultiSample = [](UINT, D3DFORMAT, BOOL, D3DMULTISAMPLE_TYPE samples) {
        return samples <= 2 ? D3D_OK : D3DERR_NOTAVAILABLE;
    };
    state->VideoD3DFlags |= 0x1;
    state->antialiasMode = 3;  // 8 samples asked
    ASSERT_TRUE(OpenVideo(1024, 768, false));
    EXPECT_EQ(g_RendererState->device->presentParams.MultiSampleType, D3DMULTISAMPLE_2_SAMPLES);
    EXPECT_EQ(S_CheckMultiSample(0, D3DFMT_X8R8G8B8, 4), 0);
    EXPECT_EQ(S_CheckMultiSample(0, D3DFMT_X8R8G8B8, 2), 1);
    // A multisampled screen still presents.
    Device()->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_XRGB(255, 0, 0), 1.0f, 0);
    S_FlipScreen();
    EXPECT_EQ(WindowPixel(100, 100), 0xFF0000u);
}

TEST_F(DevicePicks, NoAntialiasingWhenNothingPasses) {
    Seam({D3DFMT_D24S8}, {D3DFMT_A8R8G8B8});
    g_D3D9Seam.checkMultiSample = [](UINT, D3DFORMAT, BOOL, D3DMULTISAMPLE_TYPE s) {
        return s == D3DMULTISAMPLE_NONE ? D3D_OK : D3DERR_NOTAVAILABLE;
    };
    state->VideoD3DFlags |= 0x1;
    state->antialiasMode = 0;
    ASSERT_TRUE(OpenVideo(1024, 768, false));
    EXPECT_EQ(g_RendererState->device->presentParams.MultiSampleType, D3DMULTISAMPLE_NONE);
}

TEST_F(DevicePicks, CreateDeviceFailureFailsTheVideo) {
    Seam({D3DFMT_D24S8}, {D3DFMT_A8R8G8B8});
    g_D3D9Seam.createDevice = {D3DERR_NOTAVAILABLE};
    EXPECT_FALSE(OpenVideo(1024, 768, false));
    EXPECT_EQ(g_RendererState->device->device, nullptr);
}

// The shader profile, folder and lookup textures by profile and quality.
class ShaderProfile : public Video {
protected:
    // An adapter of this pixel-shader version, at this shader quality.
    void SeamShaders(DWORD psVersion, int temps, int slots, int quality, uint32_t flags2) {
        SeamOneAdapter("shaders", 1024, 768, {{1024, 768, 60}});
        D3DCAPS9& c = g_D3D9Seam.adapters[0].caps;
        c.PixelShaderVersion = psVersion;
        c.PS20Caps.NumTemps = temps;
        c.PS20Caps.NumInstructionSlots = slots;
        state->shaderQuality = quality;
        state->VideoD3DFlags2 = flags2;
    }
    bool OpenWith(DWORD psVersion, int temps, int slots, int quality, uint32_t flags2 = 0x281) {
        SeamShaders(psVersion, temps, slots, quality, flags2);
        RecordLoads();
        return OpenVideo(1024, 768);
    }
    D3DDeviceRecord* D() { return g_RendererState->device; }
};

TEST_F(ShaderProfile, LowQualityOnShaderModel3) {
    ASSERT_TRUE(OpenWith(D3DPS_VERSION(3, 0), 32, 512, 0));
    EXPECT_STREQ(D()->chosenProfile, "ps_1_1");
    EXPECT_STREQ(D()->shaderFolder, "1_1");
    EXPECT_FLOAT_EQ(state->shaderScale, 1.2f);
    EXPECT_EQ(D()->sm2Detected, 0);
    EXPECT_EQ(D()->sm14InUse, 0);
    EXPECT_NE(state->VideoD3DFlags2 & 0x400, 0u);
    EXPECT_NE(state->VideoD3DFlags2 & 0x100, 0u);
    EXPECT_EQ(state->VideoD3DFlags2 & 0x80, 0u);
    EXPECT_FALSE(Loaded("\\varsk_lighting_G16R16"));
    EXPECT_TRUE(Loaded("\\fx_WhiteDummy"));
    EXPECT_TRUE(Loaded("\\fx_BlackDummyCube"));
}

TEST_F(ShaderProfile, MediumQualityUsesTheBlinnTables) {
    ASSERT_TRUE(OpenWith(D3DPS_VERSION(3, 0), 32, 512, 1));
    EXPECT_STREQ(D()->chosenProfile, "ps_1_4");
    EXPECT_STREQ(D()->shaderFolder, "1_4");
    EXPECT_FLOAT_EQ(state->shaderScale, 1.15f);
    EXPECT_EQ(D()->sm14InUse, 1);
    EXPECT_TRUE(Loaded("\\varsk_lighting_blinn_G16R16"));
    EXPECT_TRUE(Loaded("\\default_lighting_blinn_G16R16"));
    EXPECT_TRUE(Loaded("\\pow_L16"));
    EXPECT_FALSE(Loaded("\\derive_z_L16"));  // shader model 2 is not in use
    EXPECT_TRUE(Loaded("\\normalize_10bit_ABGR"));
}

TEST_F(ShaderProfile, ShaderModel2AtHighQualityUsesThePlainTables) {
    ASSERT_TRUE(OpenWith(D3DPS_VERSION(2, 0), 12, 96, 2));
    EXPECT_STREQ(D()->chosenProfile, "ps_2_0");
    EXPECT_STREQ(D()->shaderFolder, "2_0");
    EXPECT_TRUE(Loaded("\\varsk_lighting_G16R16"));
    EXPECT_TRUE(Loaded("\\asteroid_lighting_G16R16"));
    EXPECT_TRUE(Loaded("\\derive_z_L16"));
    EXPECT_EQ(state->VideoD3DFlags2 & 0x400, 0u);
}

TEST_F(ShaderProfile, LightsOffFoldersAndFallbackFormats) {
    g_D3D9Seam.checkDeviceFormat = [](UINT, D3DFORMAT, DWORD usage, D3DRESOURCETYPE, D3DFORMAT f) {
        if (usage & D3DUSAGE_DEPTHSTENCIL) return f == D3DFMT_D24S8 ? D3D_OK : D3DERR_NOTAVAILABLE;
        return f == D3DFMT_A8R8G8B8 || f == D3DFMT_X8R8G8B8 || f == D3DFMT_L8 ? D3D_OK : D3DERR_NOTAVAILABLE;
    };
    ASSERT_TRUE(OpenWith(D3DPS_VERSION(2, 0), 32, 512, 2, 0x1A81));
    EXPECT_STREQ(D()->chosenProfile, "ps_2_a");
    EXPECT_STREQ(D()->shaderFolder, "2_a\\hue_lights_off");
    EXPECT_STREQ(state->shaderVersion, "2.a");
    EXPECT_TRUE(Loaded("\\varsk_lighting_XRGB8"));
    EXPECT_TRUE(Loaded("\\pow_L8"));
    EXPECT_TRUE(Loaded("\\derive_z_L8"));
    EXPECT_TRUE(Loaded("\\normalize_8bit"));
}

TEST_F(ShaderProfile, AnisotropyAndDeclarationBits) {
    state->filterMode = 1;
    ASSERT_TRUE(OpenWith(D3DPS_VERSION(3, 0), 32, 512, 2, 0x281));
    EXPECT_EQ(D()->anisotropicOn,
              g_D3D9Seam.adapters[0].caps.TextureFilterCaps & D3DPTFILTERCAPS_MINFANISOTROPIC ? 1 : 0);
    if (D()->anisotropicOn) {
        EXPECT_EQ(D()->anisotropyLevel, static_cast<int>(g_D3D9Seam.adapters[0].caps.MaxAnisotropy) < 4
                                            ? static_cast<int>(g_D3D9Seam.adapters[0].caps.MaxAnisotropy)
                                            : 4);
    }
    EXPECT_EQ(D()->declTypeBits, 0x380u);
}

TEST_F(ShaderProfile, NoPixelShadersFailsTheDevice) { EXPECT_FALSE(OpenWith(0, 0, 0, 2)); }

// The lookup textures loaded by the base library's texture loader from a game
// folder that has them: the files lookupgen writes into "dds".
class LookupTextureFiles : public ShaderProfile {
protected:
    void SetUp() override {
        ShaderProfile::SetUp();
        std::filesystem::create_directories(folder.Path() + "/dds");
        std::string error;
        ASSERT_TRUE(Lookup_WriteTextures(folder.Path() + "/dds", &error)) << error;
    }
    void TearDown() override {
        ShaderProfile::TearDown();
        g_TextureDummies = {};
    }
    bool Open(DWORD psVersion, int quality) {
        SeamShaders(psVersion, 32, 512, quality, 0x281);
        return OpenVideo(1024, 768);
    }

    // A texture made from its file: no dummy, of this format and edge.
    static void ExpectLoaded(const EBM* e, D3DFORMAT format, int edge, bool cube) {
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->flags & EBM_DUMMY, 0u) << e->name;
        EXPECT_EQ(e->width, edge);
        EXPECT_EQ(e->height, edge);
        ASSERT_NE(e->sys, nullptr);
        ASSERT_NE(e->sys->WE_lpDestTexture, nullptr);
        EXPECT_EQ(e->sys->WE_lpDestTexture->GetType(), cube ? D3DRTYPE_CUBETEXTURE : D3DRTYPE_TEXTURE);
        EXPECT_EQ(S_EbmFormat(e), format);
    }
    // One texel of level 0 (of the +X face for a cube), as stored.
    static uint32_t Texel(const EBM* e, int x, int y) {
        IDirect3DBaseTexture9* t = e->sys->WE_lpDestTexture;
        D3DLOCKED_RECT lr{};
        uint32_t v = 0;
        D3DFORMAT format = S_EbmFormat(e);
        size_t bytes = format == D3DFMT_L8 ? 1 : format == D3DFMT_L16 ? 2 : 4;
        if (t->GetType() == D3DRTYPE_CUBETEXTURE) {
            auto* c = static_cast<IDirect3DCubeTexture9*>(t);
            EXPECT_EQ(c->LockRect(D3DCUBEMAP_FACE_POSITIVE_X, 0, &lr, nullptr, D3DLOCK_READONLY), D3D_OK);
            std::memcpy(&v, static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch + x * bytes, bytes);
            c->UnlockRect(D3DCUBEMAP_FACE_POSITIVE_X, 0);
        } else {
            auto* p = static_cast<IDirect3DTexture9*>(t);
            EXPECT_EQ(p->LockRect(0, &lr, nullptr, D3DLOCK_READONLY), D3D_OK);
            std::memcpy(&v, static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch + x * bytes, bytes);
            p->UnlockRect(0);
        }
        return v;
    }

    TempGameFolder folder;
};

TEST_F(LookupTextureFiles, ShaderModel2LoadsEveryTableFromTheGameFolder) {
    ASSERT_TRUE(Open(D3DPS_VERSION(2, 0), 2));
    const LookupTextureSet& t = g_LookupTextures;
    for (EBM* e : t.lighting) ExpectLoaded(e, D3DFMT_G16R16, kLookupLightingSize, false);
    ExpectLoaded(t.pow, D3DFMT_L16, kLookupPowSize, false);
    ExpectLoaded(t.deriveZ, D3DFMT_L16, kLookupDeriveZSize, false);
    ExpectLoaded(t.normalizeCube, D3DFMT_A2B10G10R10, kLookupNormalizeSize, true);
    ExpectLoaded(t.whiteDummy, D3DFMT_A8R8G8B8, kLookupDummySize, false);
    ExpectLoaded(t.blackDummy, D3DFMT_A8R8G8B8, kLookupDummySize, false);
    ExpectLoaded(t.blackDummy2, D3DFMT_A8R8G8B8, kLookupDummySize, false);
    EXPECT_NE(t.blackDummy, t.blackDummy2);
    ExpectLoaded(t.blackDummyCube, D3DFMT_A8R8G8B8, kLookupDummySize, true);
    if (HasFailure()) return;

    // What they hold: diffuse in red, nothing where N.L is negative; z of the
    // unit normal; the +X face's direction packed to 0..1; white and black.
    const int last = kLookupLightingSize - 1;
    EXPECT_EQ(Texel(t.lighting[0], 0, last) & 0xFFFF, 0u);
    EXPECT_GT(Texel(t.lighting[0], last, last) & 0xFFFF, 64000u);
    EXPECT_GT(Texel(t.lighting[0], last, last) >> 16, Texel(t.lighting[0], last, last / 2) >> 16);
    EXPECT_GT(Texel(t.deriveZ, kLookupDeriveZSize / 2, kLookupDeriveZSize / 2), 65000u);
    EXPECT_EQ(Texel(t.deriveZ, 0, 0), 0u);
    EXPECT_GT(Texel(t.pow, kLookupPowSize - 1, 0), 65000u);                 // about x^0
    EXPECT_LT(Texel(t.pow, kLookupPowSize / 2, kLookupPowSize - 1), 100u);  // 0.5^64
    uint32_t centre = Texel(t.normalizeCube, kLookupNormalizeSize / 2, kLookupNormalizeSize / 2);
    EXPECT_GT(centre & 0x3FF, 1015u);                // x
    EXPECT_NEAR((centre >> 10) & 0x3FF, 479, 40);    // y a little below 0
    EXPECT_NEAR((centre >> 20) & 0x3FF, 479, 40);    // z a little below 0
    uint32_t corner = Texel(t.normalizeCube, 0, 0);  // up and towards +Z on the +X face
    EXPECT_GT((corner >> 10) & 0x3FF, 750u);
    EXPECT_GT((corner >> 20) & 0x3FF, 750u);
    EXPECT_EQ(Texel(t.whiteDummy, 1, 1), 0xFFFFFFFFu);
    EXPECT_EQ(Texel(t.blackDummy, 1, 1), 0xFF000000u);
}

TEST_F(LookupTextureFiles, MediumQualityLoadsTheBlinnTables) {
    // Only the blinn tables are there to load.
    for (const char* race : S_LightingTextureNames)
        std::filesystem::remove(folder.Path() + "/dds/" + race + "_lighting_G16R16.dds");
    ASSERT_TRUE(Open(D3DPS_VERSION(3, 0), 1));
    for (EBM* e : g_LookupTextures.lighting) ExpectLoaded(e, D3DFMT_G16R16, kLookupLightingSize, false);
    ExpectLoaded(g_LookupTextures.pow, D3DFMT_L16, kLookupPowSize, false);
    EXPECT_EQ(g_LookupTextures.deriveZ, nullptr);  // shader model 2 is not in use
}

TEST_F(LookupTextureFiles, FallbackFormatsLoadTheirOwnFiles) {
    g_D3D9Seam.checkDeviceFormat = [](UINT, D3DFORMAT, DWORD usage, D3DRESOURCETYPE, D3DFORMAT f) {
        if (usage & D3DUSAGE_DEPTHSTENCIL) return f == D3DFMT_D24S8 ? D3D_OK : D3DERR_NOTAVAILABLE;
        return f == D3DFMT_A8R8G8B8 || f == D3DFMT_X8R8G8B8 || f == D3DFMT_L8 ? D3D_OK : D3DERR_NOTAVAILABLE;
    };
    ASSERT_TRUE(Open(D3DPS_VERSION(2, 0), 2));
    const LookupTextureSet& t = g_LookupTextures;
    for (EBM* e : t.lighting) ExpectLoaded(e, D3DFMT_X8R8G8B8, kLookupLightingSize, false);
    ExpectLoaded(t.pow, D3DFMT_L8, kLookupPowSize, false);
    ExpectLoaded(t.deriveZ, D3DFMT_L8, kLookupDeriveZSize, false);
    ExpectLoaded(t.normalizeCube, D3DFMT_X8R8G8B8, kLookupNormalizeSize, true);
}

TEST_F(LookupTextureFiles, AMissingTableIsEmptyBeforeTheRendererHasDummies) {
    std::filesystem::remove(folder.Path() + "/dds/varsk_lighting_G16R16.dds");
    LogCapture log;
    ASSERT_TRUE(Open(D3DPS_VERSION(2, 0), 2));
    EXPECT_EQ(g_LookupTextures.lighting[0], nullptr);
    EXPECT_TRUE(log.Contains("WARNING: Unable to load texture \\varsk_lighting_G16R16, using dummy texture \n"));
    EXPECT_TRUE(log.Contains("ERROR: cant load texture Dummy \n"));
    ExpectLoaded(g_LookupTextures.lighting[1], D3DFMT_G16R16, kLookupLightingSize, false);
    ExpectLoaded(g_LookupTextures.whiteDummy, D3DFMT_A8R8G8B8, kLookupDummySize, false);
}

TEST_F(LookupTextureFiles, AMissingTableGetsTheBumpDummy) {
    std::filesystem::remove(folder.Path() + "/dds/fx_WhiteDummy.dds");
    std::unique_ptr<EBM, void (*)(EBM*)> bump(GenerateEbm(1, 1, 32, EBM_CHUNKY), FreeILBM);
    ASSERT_NE(bump, nullptr);
    g_TextureDummies = {nullptr, nullptr, bump.get()};
    int32_t references = bump->refCount;
    ASSERT_TRUE(Open(D3DPS_VERSION(2, 0), 2));
    EXPECT_EQ(g_LookupTextures.whiteDummy, bump.get());
    EXPECT_NE(bump->flags & EBM_DUMMY, 0u);
    EXPECT_EQ(bump->refCount, references + 1);
    ExpectLoaded(g_LookupTextures.blackDummy, D3DFMT_A8R8G8B8, kLookupDummySize, false);
    CloseVideo();
    EXPECT_EQ(bump->refCount, references);
}

}  // namespace
