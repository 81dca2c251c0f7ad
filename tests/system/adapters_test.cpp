// Adapters and modes against seamed adapter and mode tables: the windowed
// sizes, the full-screen table, the format lists, rating and choice.
#include <gtest/gtest.h>

#include <cstring>

#include "base/strings.h"
#include "platform/d3d9/seam.h"
#include "support/videosupport.h"
#include "system/adapter_info.h"
#include "system/adapters.h"
#include "system/entry.h"
#include "system/settings.h"

namespace {

class Adapters : public VideoTestBase {
protected:
    void SetUp() override {
        VideoTestBase::SetUp();
        S_InitSystemSettings();
    }
    AdapterInfo& A(int i) { return g_RendererState->adapters[i]; }
    static std::vector<std::pair<unsigned, unsigned>> Sizes(const DispMode* table, uint32_t n) {
        std::vector<std::pair<unsigned, unsigned>> out;
        for (uint32_t i = 0; i < n; ++i) out.emplace_back(table[i].width, table[i].height);
        return out;
    }
};

using SizeList = std::vector<std::pair<unsigned, unsigned>>;

TEST_F(Adapters, WindowedSizesFollowTheDesktop) {
    SeamOneAdapter("big", 2560, 2048, {{1024, 768, 60}});
    SeamOneAdapter("small", 1280, 1024, {{1024, 768, 60}});
    SeamOneAdapter("tiny", 1000, 700, {{1024, 768, 60}});
    SeamOneAdapter("low colour", 1280, 1024, {{1024, 768, 60}});
    g_D3D9Seam.adapters[3].desktop.Format = D3DFMT_R5G6B5;
    ASSERT_EQ(S_EnumDevices(), 1);
    ASSERT_EQ(g_RendererState->adapterCount, 4);
    EXPECT_EQ(Sizes(A(0).windowedModeTable, A(0).windowedModeCount),
              (SizeList{{1024, 768}, {1280, 1024}, {2048, 1536}, {2560, 2048}, {2048, 768}, {2560, 1024}}));
    EXPECT_EQ(Sizes(A(1).windowedModeTable, A(1).windowedModeCount), (SizeList{{1024, 768}, {1280, 1024}}));
    EXPECT_EQ(A(2).windowedModeCount, 0u);
    EXPECT_EQ(A(3).windowedModeCount, 0u);
    // Windowed entries share the desktop's format lists.
    EXPECT_EQ(A(0).windowedModeTable[3].textureFormats, A(0).desktopMode.textureFormats);
    EXPECT_EQ(A(0).windowedModeTable[3].format, D3DFMT_X8R8G8B8);
    // A second call only reports the count.
    EXPECT_EQ(S_EnumDevices(), 1);
    EXPECT_EQ(g_RendererState->adapterCount, 4);
}

TEST_F(Adapters, FullScreenTableKeepsUsableModesOnce) {
    SeamOneAdapter("a", 1280, 1024,
                   {{800, 600, 60}, {1024, 768, 60}, {1024, 768, 85}, {1280, 1024, 75}, {1024, 576, 60}});
    // A 16-bit list: never usable.
    g_D3D9Seam.adapters[0].modes.push_back({D3DFMT_R5G6B5, {{1024, 768, 60, D3DFMT_R5G6B5}}});
    ASSERT_EQ(S_EnumDevices(), 1);
    AdapterInfo& a = A(0);
    ASSERT_EQ(a.fullscreenModeCount, 2u);
    EXPECT_EQ(a.DispModeTable[0].width, 1024u);
    EXPECT_EQ(a.DispModeTable[0].refreshRate, 60u);  // the first refresh rate is kept
    EXPECT_EQ(a.DispModeTable[1].width, 1280u);
    // The stand-in's own rules: full screen X8R8G8B8 allows both 32-bit back buffers.
    const DispMode& m = a.DispModeTable[0];
    ASSERT_EQ(m.backBufferFormatCount, 2u);
    EXPECT_EQ(m.backBufferFormats[0], D3DFMT_X8R8G8B8);
    EXPECT_EQ(m.backBufferFormats[1], D3DFMT_A8R8G8B8);
    EXPECT_EQ(m.pfBitsPerPixel, 32);
    EXPECT_EQ(m.redMask, 0xFF0000u);
    EXPECT_GT(m.textureFormatCount, 4u);
    EXPECT_EQ(m.textureFormats[0], D3DFMT_A8R8G8B8);
    EXPECT_GT(m.depthFormatCount, 0u);
}

TEST_F(Adapters, FormatListsFollowTheChecks) {
    SeamOneAdapter("a", 1280, 1024, {{1024, 768, 60}});
    g_D3D9Seam.checkDeviceFormat = [](UINT, D3DFORMAT, DWORD usage, D3DRESOURCETYPE, D3DFORMAT f) {
        if (usage & D3DUSAGE_DEPTHSTENCIL) return f == D3DFMT_D24S8 || f == D3DFMT_D16 ? D3D_OK : D3DERR_NOTAVAILABLE;
        return f == D3DFMT_R5G6B5 || f == D3DFMT_DXT1 ? D3D_OK : D3DERR_NOTAVAILABLE;
    };
    g_D3D9Seam.checkDepthStencilMatch = [](UINT, D3DFORMAT, D3DFORMAT, D3DFORMAT f) {
        return f == D3DFMT_D16 ? D3DERR_NOTAVAILABLE : D3D_OK;
    };
    ASSERT_EQ(S_EnumDevices(), 1);
    const DispMode& m = A(0).DispModeTable[0];
    ASSERT_EQ(m.textureFormatCount, 2u);
    EXPECT_EQ(m.textureFormats[0], D3DFMT_R5G6B5);
    EXPECT_EQ(m.textureFormats[1], D3DFMT_DXT1);
    ASSERT_EQ(m.depthFormatCount, 1u);
    EXPECT_EQ(m.depthFormats[0], D3DFMT_D24S8);

    // Without any depth format no mode is usable.
    S_FreeDevicesList();
    g_D3D9Seam.checkDepthStencilMatch = [](UINT, D3DFORMAT, D3DFORMAT, D3DFORMAT) { return D3DERR_NOTAVAILABLE; };
    ASSERT_EQ(S_EnumDevices(), 1);
    EXPECT_EQ(A(0).fullscreenModeCount, 0u);
    EXPECT_EQ(A(0).DispModeTable, nullptr);
}

TEST_F(Adapters, RatingFollowsTheCapabilities) {
    SeamOneAdapter("full", 1280, 1024, {{1024, 768, 60}});
    SeamOneAdapter("no tnl", 1280, 1024, {{1024, 768, 60}});
    g_D3D9Seam.adapters[1].caps.DevCaps &= ~D3DDEVCAPS_HWTRANSFORMANDLIGHT;
    g_D3D9Seam.adapters[1].caps.TextureCaps &= ~D3DPTEXTURECAPS_PERSPECTIVE;
    g_D3D9Seam.adapters[1].caps.TextureOpCaps &= ~D3DTEXOPCAPS_DOTPRODUCT3;
    g_D3D9Seam.adapters[1].caps.MaxSimultaneousTextures = 1;
    SeamOneAdapter("no hal", 1280, 1024, {{1024, 768, 60}});
    g_D3D9Seam.adapters[2].capsResult = D3DERR_NOTAVAILABLE;
    SeamOneAdapter("no cull", 1280, 1024, {{1024, 768, 60}});
    g_D3D9Seam.adapters[3].caps.PrimitiveMiscCaps &= ~D3DPMISCCAPS_CULLCW;
    SeamOneAdapter("no z", 1280, 1024, {{1024, 768, 60}});
    g_D3D9Seam.adapters[4].caps.LineCaps &= ~D3DLINECAPS_ZTEST;
    SeamOneAdapter("separate", 1280, 1024, {{1024, 768, 60}});
    g_D3D9Seam.adapters[5].caps.DevCaps |= D3DDEVCAPS_SEPARATETEXTUREMEMORIES;
    // A card with DOT3 (the stand-in itself does not offer it).
    for (int a : {0, 5}) g_D3D9Seam.adapters[a].caps.TextureOpCaps |= D3DTEXOPCAPS_DOTPRODUCT3;
    ASSERT_EQ(S_EnumDevices(), 1);
    // 10 (T&L) + 5 (perspective) + 1 (DOT3) + 5 * 8 - 5 (eight textures with ADD).
    EXPECT_EQ(S_EvalAdapter(0), 51);
    EXPECT_EQ(S_EvalAdapter(1), 0);
    EXPECT_EQ(S_EvalAdapter(2), -1);
    EXPECT_EQ(S_EvalAdapter(3), -1);
    EXPECT_EQ(S_EvalAdapter(4), -1);
    EXPECT_EQ(S_EvalAdapter(5), 16);
    state->width = 1280;  // a mode the table lacks
    EXPECT_EQ(S_EvalAdapter(0), -1);
    state->videoFlags |= 0x8000000;  // windowed: 1280 x 1024 fits the desktop
    state->height = 1024;
    EXPECT_EQ(S_EvalAdapter(0), 51);
}

TEST_F(Adapters, ChoiceKeepsAStoredAdapterOrRatesAfresh) {
    SeamOneAdapter("same", 1280, 1024, {{1024, 768, 60}, {1280, 1024, 60}});
    SeamOneAdapter("same", 1280, 1024, {{1024, 768, 60}, {1280, 1024, 60}});
    ASSERT_EQ(S_EnumDevices(), 1);
    ApplicationRecord& app = g_ApplicationRecord;

    // Equal scores: the lower ordinal wins, and the defaults are applied.
    state->width = 1280;
    state->height = 1024;
    ASSERT_EQ(S_ChooseAdapter(), 1);
    EXPECT_EQ(app.adapterOrdinal, 0);
    EXPECT_STREQ(app.adapterName, "same");
    EXPECT_EQ(state->width, 1024);
    EXPECT_EQ(app.modeFormat, D3DFMT_X8R8G8B8);
    EXPECT_EQ(app.modeIndex, 0);
    EXPECT_NE(state->VideoD3DFlags & 0x100000, 0u);  // hardware T&L

    // A stored name and ordinal that still match keep their mode, defaults untouched.
    app.adapterOrdinal = 1;
    state->width = 1280;
    state->height = 1024;
    ASSERT_EQ(S_ChooseAdapter(), 1);
    EXPECT_EQ(app.adapterOrdinal, 1);
    EXPECT_EQ(app.modeIndex, 1);
    EXPECT_EQ(state->width, 1280);

    // The right name with another ordinal counts as no match.
    app.adapterName = Qel_StrReassign(app.adapterName, "other");
    ASSERT_EQ(S_ChooseAdapter(), 1);
    EXPECT_EQ(app.adapterOrdinal, 0);
    EXPECT_EQ(state->width, 1024);
}

TEST_F(Adapters, AStoredSizeNoAdapterOffersFallsBackToTheDefault) {
    SeamOneAdapter("a", 1280, 1024, {{1024, 768, 60}});
    ASSERT_EQ(S_EnumDevices(), 1);
    state->width = 1600;
    state->height = 1200;
    ASSERT_EQ(S_ChooseAdapter(), 1);
    EXPECT_EQ(state->width, 1024);
    EXPECT_EQ(state->height, 768);
    EXPECT_EQ(g_ApplicationRecord.adapterOrdinal, 0);
}

TEST_F(Adapters, NoAdapterNoChoice) {
    g_D3D9Seam.adaptersSeamed = true;
    ASSERT_EQ(S_EnumDevices(), 1);
    EXPECT_EQ(g_RendererState->adapterCount, 0);
    EXPECT_EQ(S_ChooseAdapter(), 0);
    S_FreeDevicesList();
    SeamOneAdapter("broken", 1280, 1024, {{1024, 768, 60}});
    g_D3D9Seam.adapters[0].capsResult = D3DERR_NOTAVAILABLE;
    ASSERT_EQ(S_EnumDevices(), 1);
    EXPECT_EQ(S_ChooseAdapter(), 0);
}

TEST_F(Adapters, DefaultSettingsFromCapabilities) {
    SeamOneAdapter("a", 1280, 1024, {{1024, 768, 60}});
    D3DCAPS9& c = g_D3D9Seam.adapters[0].caps;
    c.TextureCaps &= ~D3DPTEXTURECAPS_ALPHA;
    c.VertexShaderVersion = D3DVS_VERSION(1, 0);
    c.MaxSimultaneousTextures = 1;
    ASSERT_EQ(S_EnumDevices(), 1);
    state->VideoD3DFlags = 0x8000000 | 0x80000 | 0x20000 | 0x10000000;
    S_SetDefault3DSettings(0);
    uint32_t f = state->VideoD3DFlags;
    EXPECT_EQ(f & 0x80000, 0u);
    EXPECT_EQ(f & 0x1040000, 0x1040000u);  // blending through ONE
    EXPECT_NE(f & 0x400, 0u);
    EXPECT_EQ(f & 0x8000000, 0u);   // no w-buffer
    EXPECT_EQ(f & 0x10000000, 0u);  // one texture stage
    EXPECT_EQ(f & 0x20000, 0u);     // vertex shader 1.0: no bump mapping
    EXPECT_NE(state->videoFlags & 0x40, 0u);
    EXPECT_NE(state->videoFlags & 0x200000, 0u);
}

TEST(AdapterNames, TextsAndBitsPerPixel) {
    EXPECT_STREQ(S_AntialiasName(0), "NONE");
    EXPECT_STREQ(S_AntialiasName(3), "NONE");
    EXPECT_STREQ(S_AntialiasName(16), "16x");
    EXPECT_STREQ(S_TextureQualityName(1), "medium");
    EXPECT_STREQ(S_ShaderQualityName(7), "not defined");
    EXPECT_EQ(S_FormatBitsPerPixel(D3DFMT_R8G8B8), 24);
    EXPECT_EQ(S_FormatBitsPerPixel(D3DFMT_X4R4G4B4), 16);
    EXPECT_EQ(S_FormatBitsPerPixel(D3DFMT_DXT1), 0);
}

}  // namespace
