// The texture cache: ids by name and number, growth of the table, loading on
// the GL device with holder counts, flushing and freeing, material matching,
// and the bundler scripts written under the user data folder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/display.h"
#include "base/ebm.h"
#include "base/imagefiles.h"
#include "base/log.h"
#include "base/strings.h"
#include "base/table.h"
#include "base/texcache.h"
#include "render/device.h"
#include "render/pixelformat.h"
#include "support/gamefolder.h"
#include "support/imagefixtures.h"
#include "support/logcapture.h"
#include "support/videosupport.h"
#include "system/adapters.h"
#include "system/settings.h"
#include "system/surfaces.h"
#include "system/userpaths.h"
#include "system/video.h"

namespace {

// A table of the given counts, freed afterwards.
class TextureTable : public testing::Test {
protected:
    void SetUp() override {
        g_TCNumberedCount = 20;
        g_TCNamedCount = 0;
        ASSERT_FALSE(TC_AllocTextureTable());
    }
    void TearDown() override {
        TC_FreeTextureTables();
        g_TCNumberedCount = g_TCNamedCount = 0;
        g_TCTextureInfo = nullptr;
        g_TCTextureInfoCount = 0;
    }
};

TEST_F(TextureTable, NamesAndNumbersGiveIds) {
    uint32_t ship = TC_GetTextureIdByName("ship.TGA");
    EXPECT_EQ(ship, 20u);
    EXPECT_EQ(TC_GetTextureIdByName("SHIP"), ship);
    EXPECT_STREQ(TC_GetTextureName(static_cast<int>(ship)), "ship");
    for (const char* none : {"", "0", "NULL", "Null", "null"}) EXPECT_EQ(TC_GetTextureIdByName(none), 0u) << none;
    EXPECT_EQ(TC_GetTextureIdByName("12"), 12u);
    EXPECT_EQ(TC_GetTextureIdByName("12.dds"), 12u);
    EXPECT_EQ(g_TCNamedCount, 1);
    // Short names are names like any other.
    uint32_t ab = TC_GetTextureIdByName("ab");
    EXPECT_EQ(ab, 21u);
    EXPECT_EQ(TC_GetTextureIdByName(".x"), 22u);
    EXPECT_STREQ(TC_GetTextureName(22), ".x");
    EXPECT_STREQ(TC_GetTextureName(7), "7");
    EXPECT_STREQ(TC_GetTextureName(0), "");
    EXPECT_STREQ(TC_GetTextureName(500), "");
}

TEST_F(TextureTable, TheThousandthNameGrowsTheTableAndKeepsEarlierIds) {
    uint32_t first = TC_GetTextureIdByName("first");
    for (int i = 1; i < 1500; ++i) {
        std::string name = "tex" + std::to_string(i);
        ASSERT_EQ(TC_GetTextureIdByName(name.c_str()), 20u + i);
    }
    EXPECT_EQ(g_TCNamedCount, 1500);
    EXPECT_EQ(TC_GetTextureIdByName("FIRST"), first);
    EXPECT_STREQ(TC_GetTextureName(20 + 1499), "tex1499");
    TC_SetTextureFlags(20 + 1499, 0x80000);
    EXPECT_EQ(TC_GetTextureFlags(20 + 1499), 0x80000u);
    EXPECT_EQ(TC_GetTextureFlags(99999), 0u);
}

TEST_F(TextureTable, InfoRecordsPickTheClosestMaterial) {
    std::vector<TC_TextureInfo> info(4);
    // Colour 2 (byte 6 of the record) weighs most.
    auto set = [&](int i, uint8_t r, uint8_t g, uint8_t b, int16_t texture, uint32_t flags) {
        info[i] = {};
        info[i].colour[1][0] = r;
        info[i].colour[1][1] = g;
        info[i].colour[1][2] = b;
        info[i].textureNumber = texture;
        info[i].opacity = 255;
        info[i].flags = flags;
    };
    set(1, 200, 10, 10, 5, 0);
    set(2, 10, 10, 200, 5, 0);
    set(3, 10, 10, 200, 6, 0x800118);
    g_TCTextureInfo = info.data();
    g_TCTextureInfoCount = 4;
    TC_BodyMaterial blue{{{20, 20, 190}, {0, 0, 0}, {0, 0, 0}}, 100, 5, 0, 0, 0};
    EXPECT_EQ(TC_FindBodyMaterial(&blue), 2);
    TC_BodyMaterial red{{{190, 0, 0}, {0, 0, 0}, {0, 0, 0}}, 50, 5, 0, 0, 0};
    EXPECT_EQ(TC_FindBodyMaterial(&red), 1);
    EXPECT_EQ(red.flags & 0x4, 0x4u);
    LogCapture log;
    TC_BodyMaterial other{{}, 100, 9, 0, 0, 0};
    EXPECT_EQ(TC_FindBodyMaterial(&other), 0);
    EXPECT_TRUE(log.Contains("couldnt find any material for a body. Texture: 9\n"));
    TC_BodyMaterial bumped{{}, 100, 6, 0, 4, 0};
    TC_FindBodyMaterial(&bumped);
    EXPECT_TRUE(log.Contains("Warning: Texture ID 6 matches but Bumpmap ID (0 != 4) doesn't match!\n"));
    // An info record's flags join the entry's.
    TC_SetTextureFlags(3, 0x8000);
    EXPECT_EQ(TC_GetTextureFlags(3), 0x8000u | (0x800118u & TC_INFO_FLAG_MASK));
}

TEST_F(TextureTable, BundlerScriptsAreWrittenUnderTheUserDataFolder) {
    TempGameFolder folder;
    GeneralSession session({"-generaterdf"});
    Qel_ForgetUserDataDir();
    folder.WriteBytes("tex/true/5.tga", {1});
    std::vector<TC_TextureInfo> info(3);
    info[1].textureNumber = 5;
    info[1].flags = 0x200000;
    info[1].width = 64, info[1].height = 32;
    info[2].textureNumber = 6;
    g_TCTextureInfo = info.data();
    g_TCTextureInfoCount = 3;
    LogCapture log;
    TC_GenerateRDF();
    EXPECT_TRUE(log.Contains("TC_GenerateRDF() Can't find texture file 6\n"));
    char* user = Qel_GetUserDataDir();
    char* disk = Qel_DiskPath((std::string(user) + "\\console_mastering\\xpr\\tex\\tex.rdf").c_str());
    FILE* f = std::fopen(disk, "r");
    ASSERT_NE(f, nullptr) << disk;
    std::string text(4096, 0);
    text.resize(std::fread(text.data(), 1, text.size(), f));
    std::fclose(f);
    EXPECT_NE(text.find("Texture tex5 { Source tex\\true\\5.tga Format D3DFMT_DXT5 Levels 0 Width 64 Height 32 }\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("tex6"), std::string::npos);
    Qel_StrFree(disk);
    Qel_StrFree(user);
}

// Textures loaded on the device.
class TextureLoading : public VideoTestBase {
protected:
    void SetUp() override {
        VideoTestBase::SetUp();
        S_InitSystemSettings();
        ASSERT_TRUE(OpenVideo(1024, 768));
        S3D_EbmGetPixelFormatFromDPF(&argb_, D3DFMT_A8R8G8B8);
        g_TCTextureFormats = Qel_TableCreate();
        Qel_TableSet(g_TCTextureFormats, TC_FORMAT_OPAQUE, reinterpret_cast<uintptr_t>(&argb_));
        Qel_TableSet(g_TCTextureFormats, TC_FORMAT_ALPHA, reinterpret_cast<uintptr_t>(&argb_));
        g_TCNumberedCount = 4;
        g_TCNamedCount = 0;
        ASSERT_FALSE(TC_AllocTextureTable());
        info_.resize(4);
        info_[1].textureNumber = 1;
        info_[1].opacity = 255;
        g_TCTextureInfo = info_.data();
        g_TCTextureInfoCount = 4;
        folder_.WriteBytes("textures/crate.tga", Tga({.width = 8, .height = 8}, std::vector<uint32_t>(64, 0xFF808000)));
        folder_.WriteBytes("tex/true/1.tga", Tga({.width = 4, .height = 4}, std::vector<uint32_t>(16, 0xFF0000FF)));
    }
    void TearDown() override {
        TC_FreeTextureTables();
        Qel_TableFree(g_TCTextureFormats);
        g_TCTextureFormats = nullptr;
        g_TCTextureInfo = nullptr;
        g_TCTextureInfoCount = 0;
        g_TCNumberedCount = g_TCNamedCount = 0;
        S_3DFreeLookupTextures();
        CloseVideo();
        VideoTestBase::TearDown();
    }
    TempGameFolder folder_;
    TextureBitmapFormat argb_{};
    std::vector<TC_TextureInfo> info_;
};

TEST_F(TextureLoading, HeldTexturesSurviveAFlushAndUnheldOnesGo) {
    int crate = static_cast<int>(TC_GetTextureIdByName("crate"));
    EBM* b = TC_AddTextureRef(crate);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->width, 8);
    EXPECT_EQ(TC_AddTextureRef(crate), b);
    EXPECT_EQ(TC_TextureTable[crate].refCount, 2u);
    TC_ReleaseTexture(crate);
    {
        LogCapture log;
        TC_MemoryFlush();
        EXPECT_TRUE(log.Contains("Keep tex 4 ref=1 size=8x8 pack=0\n"));
        EXPECT_TRUE(log.Contains("TC_MemoryFlush() freed 0 of 1 loaded textures\n"));
    }
    EXPECT_EQ(TC_GetTextureEBM(crate, 0), b);
    TC_ReleaseTexture(crate);
    TC_ReleaseTexture(crate);  // at 0 already: the count stays 0
    EXPECT_EQ(TC_TextureTable[crate].refCount, 0u);
    {
        LogCapture log;
        TC_MemoryFlush();
        EXPECT_TRUE(log.Contains("Free tex 4 ref=0 size=8x8 pack=0\n"));
        EXPECT_TRUE(log.Contains("TC_MemoryFlush() freed 1 of 1 loaded textures\n"));
    }
    EXPECT_EQ(TC_TextureTable[crate].bitmap, nullptr);
    // Loaded again on demand.
    EXPECT_NE(TC_GetLoadedTexture(crate), nullptr);
}

TEST_F(TextureLoading, NumberedTexturesAndAutofreeing) {
    EBM* one = TC_AddTextureRef(1);
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(one->width, 4);
    EXPECT_NE(one->flags & EBM_COMPRESSED, 0u);  // file textures load as DXT1 unless told
    // A numbered id whose info record has no texture loads nothing.
    {
        LogCapture log;
        EXPECT_EQ(TC_GetTextureEBM(2, 3), nullptr);
        EXPECT_EQ(log.Text(), "");
    }
    EXPECT_EQ(TC_ReloadTexture(2), 0);
    EXPECT_EQ(TC_ReloadTexture(-1), 1);
    int plain = static_cast<int>(TC_GetTextureIdByName("crate"));
    TC_SetTextureFlags(plain, TC_AUTOFREE | 0x100);
    EBM* crate = TC_AddTextureRef(plain);
    ASSERT_NE(crate, nullptr);
    EXPECT_EQ(crate->flags & EBM_COMPRESSED, 0u);
    LogCapture log;
    TC_ReleaseTexture(plain);
    EXPECT_TRUE(log.Contains("Autofreeing texture 4 [crate]\n"));
    EXPECT_EQ(TC_TextureTable[plain].bitmap, nullptr);
    int missing = static_cast<int>(TC_GetTextureIdByName("missing"));
    EXPECT_EQ(TC_GetTextureEBM(missing, 7), nullptr);
    EXPECT_TRUE(log.Contains("TC_GetTextureEBM(missing(5),7) Error loading texture original\n"));
    EXPECT_EQ(TC_ReloadTexture(missing), 0);
    EXPECT_TRUE(log.Contains("Error reloading texture missing(5).\n"));
    TC_ReleaseAllTextures();
    EXPECT_EQ(TC_TextureTable[1].bitmap, nullptr);
    EXPECT_EQ(TC_TextureTable[1].refCount, 0u);
}

}  // namespace
