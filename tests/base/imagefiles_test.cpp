// Image files on the GL device (llvmpipe under SDL's offscreen driver): Targa
// files of each kind and their refusals, JPEG textures and surfaces, full mip
// chains and DXT1, the texture loader's fall-backs, dummies and conversions,
// the Targa writer, and numbered screenshots with their game-time steps.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/display.h"
#include "base/draw2d.h"
#include "base/ebm.h"
#include "base/imagefiles.h"
#include "base/strings.h"
#include "platform/d3d9/seam.h"
#include "render/device.h"
#include "support/gamefolder.h"
#include "support/imagefixtures.h"
#include "support/logcapture.h"
#include "support/surfacesupport.h"
#include "support/videosupport.h"
#include "system/adapters.h"
#include "system/settings.h"
#include "system/surfaces.h"
#include "system/video.h"

namespace {

struct BitmapDeleter {
    void operator()(EBM* b) const { FreeILBM(b); }
};
using Bitmap = std::unique_ptr<EBM, BitmapDeleter>;

constexpr uint32_t kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kBlue = 0xFF0000FF, kWhite = 0xFFFFFFFF;
// A 4 x 2 picture whose corners tell its orientation.
const std::vector<uint32_t> kPicture = {kRed, kRed, kRed, kGreen, kBlue, kWhite, kWhite, kWhite};

class ImageFiles : public VideoTestBase {
protected:
    void SetUp() override {
        VideoTestBase::SetUp();
        S_InitSystemSettings();
        g_D3DCounters = D3DObjectCounters{};
        ASSERT_TRUE(OpenVideo(1024, 768));
    }
    void TearDown() override {
        g_TextureDummies = {};
        S_3DFreeLookupTextures();
        if (g_VideoRecord) Qel_CloseVideo(1);
        CloseVideo();
        EXPECT_EQ(g_D3DCounters.surfaces, 0);
        EXPECT_EQ(g_D3DCounters.textures, 0);
        VideoTestBase::TearDown();
    }
    // The colour bytes of a pixel (0xRRGGBB) of a 32-bit bitmap.
    static uint32_t Rgb(EBM* b, int x, int y) { return PixelAt(b, x, y) & 0xFFFFFF; }
    TempGameFolder folder;
};

TEST_F(ImageFiles, TargaKindsBecomeTexturesTheRightWayUp) {
    const struct {
        const char* name;
        TgaSpec spec;
    } cases[] = {
        {"plain24", {.width = 4, .height = 2, .type = 2, .depth = 24}},
        {"topdown32", {.width = 4, .height = 2, .type = 2, .depth = 32, .topDown = true, .alphaBits = 8}},
        {"rle24", {.width = 4, .height = 2, .type = 10, .depth = 24}},
        {"rle32topdown", {.width = 4, .height = 2, .type = 10, .depth = 32, .topDown = true}},
        {"plain16", {.width = 4, .height = 2, .type = 2, .depth = 16}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string file = std::string(c.name) + ".tga";
        folder.WriteBytes(file, Tga(c.spec, kPicture));
        LogCapture log;
        Bitmap b(S_ReadTGA(file.c_str(), 0, 1));
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->flags & 0x4008, 0x4008u);
        EXPECT_EQ(b->width, 4);
        EXPECT_EQ(b->height, 2);
        EXPECT_TRUE(log.Contains("TGA ( " + file + " )\tsize=[4 x 2]\tmip=[1/1]\tformat=["));
        EXPECT_EQ(Rgb(b.get(), 0, 0), 0xFF0000u);
        EXPECT_EQ(Rgb(b.get(), 3, 0), 0x00FF00u);
        EXPECT_EQ(Rgb(b.get(), 0, 1), 0x0000FFu);
        EXPECT_EQ(Rgb(b.get(), 3, 1), 0xFFFFFFu);
    }
}

TEST_F(ImageFiles, UnusableTargaHeadersAreRefusedWithTheirLine) {
    const struct {
        TgaSpec spec;
        size_t keep;  // bytes of the file kept (0: all)
        const char* line;
    } cases[] = {
        {{.colourMapType = 1}, 0, "S_ReadTGA(bad.tga) Unusable ColorMapType 1\n"},
        {{.type = 1}, 0, "S_ReadTGA(bad.tga) Unusable ImageType 1\n"},
        {{.depth = 15}, 0, "S_ReadTGA(bad.tga) Unusable pixel depth 15\n"},
        {{.depth = 32, .alphaBits = 4}, 0, "S_ReadTGA(bad.tga) Unusable alpha depth 4\n"},
        {{.type = 3, .depth = 8}, 0, "S_ReadTGA(bad.tga) Format must be Truecolor RGB or RGBA!\n"},
        {{}, 10, "S_ReadTGA(bad.tga) D3DXCreateTextureFromFileInMemoryEx() failed!\n"},
        {{}, 20, "S_ReadTGA(bad.tga) D3DXCreateTextureFromFileInMemoryEx() failed!\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::vector<uint8_t> bytes = Tga(c.spec, {kRed, kRed, kRed, kRed});
        if (c.keep) bytes.resize(c.keep);
        folder.WriteBytes("bad.tga", bytes);
        LogCapture log;
        EXPECT_EQ(S_ReadTGA("bad.tga", 0, 1), nullptr);
        EXPECT_TRUE(log.Contains(c.line)) << log.Text();
    }
    EXPECT_EQ(S_ReadTGA("missing.tga", 0, 1), nullptr);
}

TEST_F(ImageFiles, JpegBecomesATextureOrASurface) {
    std::vector<uint32_t> pixels(16 * 8, kRed);
    for (int y = 0; y < 8; ++y)
        for (int x = 8; x < 16; ++x) pixels[static_cast<size_t>(y) * 16 + x] = kBlue;
    folder.WriteBytes("pic.jpg", Jpeg(16, 8, pixels));
    auto near = [](uint32_t got, uint32_t want) {
        for (int s = 0; s < 24; s += 8)
            if (std::abs(static_cast<int>((got >> s) & 0xFF) - static_cast<int>((want >> s) & 0xFF)) > 24) return false;
        return true;
    };
    {
        LogCapture log;
        Bitmap t(S_ReadJPG("pic.jpg", 0, 1));
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->flags & (EBM_TEXTURE | EBM_SURFACE), EBM_TEXTURE | EBM_SURFACE);
        EXPECT_TRUE(log.Contains("JPG ( pic.jpg )\tsize=[16 x 8]"));
        EXPECT_TRUE(near(Rgb(t.get(), 2, 2), 0xFF0000)) << std::hex << Rgb(t.get(), 2, 2);
        EXPECT_TRUE(near(Rgb(t.get(), 13, 5), 0x0000FF)) << std::hex << Rgb(t.get(), 13, 5);
    }
    {
        LogCapture log;
        Bitmap s(S_ReadJPG("pic.jpg", EBM_SURFACE | EBM_ARGBSURFACE, 1));
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->flags & (EBM_TEXTURE | EBM_SURFACE), EBM_SURFACE);
        EXPECT_TRUE(log.Contains("JPG::SURFACE ( pic.jpg )\tsize=[16 x 8]\tformat=[A8R8G8B8]"));
        EXPECT_TRUE(near(Rgb(s.get(), 13, 5), 0x0000FF));
    }
    folder.WriteBytes("notjpeg.jpg", std::vector<uint8_t>(40, 7));
    LogCapture log;
    EXPECT_EQ(S_ReadJPG("notjpeg.jpg", 0, 1), nullptr);
    EXPECT_TRUE(
        log.Contains("ERROR: failed to create D3DXGetImageInfoFromFileInMemory() in S_ReadJPG() notjpeg.jpg\n"));
}

TEST_F(ImageFiles, LevelCountZeroMakesAFullChainAndDxt1IsCompressed) {
    folder.WriteBytes("chain.tga", Tga({.width = 8, .height = 4}, std::vector<uint32_t>(32, kGreen)));
    Bitmap full(S_ReadTGA("chain.tga", 0, 0));
    ASSERT_NE(full, nullptr);
    auto* texture = static_cast<IDirect3DTexture9*>(full->sys->WE_lpDestTexture);
    EXPECT_EQ(texture->GetLevelCount(), 4u);
    // The smallest level is the picture's colour still.
    IDirect3DSurface9* last = nullptr;
    ASSERT_EQ(texture->GetSurfaceLevel(3, &last), D3D_OK);
    D3DLOCKED_RECT lr{};
    ASSERT_EQ(last->LockRect(&lr, nullptr, D3DLOCK_READONLY), D3D_OK);
    uint32_t v;
    std::memcpy(&v, lr.pBits, 4);
    last->UnlockRect();
    last->Release();
    EXPECT_EQ(v & 0xFFFFFF, 0x00FF00u);

    Bitmap packed(S_ReadTGA("chain.tga", QEL_LOAD_DXT1, 0));
    ASSERT_NE(packed, nullptr);
    EXPECT_EQ(S_EbmFormat(packed.get()), D3DFMT_DXT1);
    EXPECT_NE(packed->flags & EBM_COMPRESSED, 0u);
}

TEST_F(ImageFiles, LoaderFallsBackThroughItsCandidates) {
    folder.WriteBytes("pics/a.tga", Tga({.width = 4, .height = 2}, kPicture));
    {
        // A .jpg name whose file fails is tried without its extension.
        LogCapture log;
        Bitmap b(S_LoadTexture("pics\\a.jpg", QEL_LOAD_ANY, 0, 1));
        ASSERT_NE(b, nullptr);
        EXPECT_TRUE(log.Contains("Unable to load texture pics\\a.jpg, trying pics\\a\n"));
        EXPECT_EQ(Rgb(b.get(), 3, 0), 0x00FF00u);
    }
    // The DDS folder comes before the name's own folder.
    std::vector<uint8_t> dds(128 + 16, 0);
    const uint32_t header[] = {0x20534444, 124, 0x1007, 2, 2, 0, 0, 1};
    std::memcpy(dds.data(), header, sizeof header);
    const uint32_t pf[] = {32, 0x41, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u, 0x1000};
    std::memcpy(dds.data() + 76, pf, sizeof pf);
    folder.WriteBytes("dds/a.dds", dds);
    Bitmap fromDds(S_LoadTexture("pics\\a", QEL_LOAD_ANY, 0, 1));
    ASSERT_NE(fromDds, nullptr);
    EXPECT_NE(fromDds->flags & EBM_FROMDDS, 0u);
    EXPECT_EQ(fromDds->width, 2);
}

TEST_F(ImageFiles, MissingTexturesGetTheDummyOfTheirNameEnding) {
    Bitmap diffuse(GenerateEbm(1, 1, 32, EBM_CHUNKY)), specular(GenerateEbm(1, 1, 32, EBM_CHUNKY)),
        bump(GenerateEbm(1, 1, 32, EBM_CHUNKY));
    g_TextureDummies = {diffuse.get(), specular.get(), bump.get()};
    folder.WriteBytes("x/Desktop/shot.tga", Tga({}, {kRed, kRed, kRed, kRed}));
    const struct {
        const char* name;
        EBM* dummy;
    } cases[] = {{"hull_diff", diffuse.get()}, {"hull_spec", specular.get()},
                 {"hull_bump", bump.get()},    {"hull_light", bump.get()},
                 {"ab", bump.get()},           {"x\\Desktop\\shot", bump.get()}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int refs = c.dummy->refCount;
        LogCapture log;
        EBM* got = S_LoadTexture(c.name, QEL_LOAD_ANY, 0, 1);
        EXPECT_EQ(got, c.dummy);
        EXPECT_EQ(c.dummy->refCount, refs + 1);
        EXPECT_NE(c.dummy->flags & EBM_DUMMY, 0u);
        EXPECT_TRUE(
            log.Contains(std::string("WARNING: Unable to load texture ") + c.name + ", using dummy texture \n"));
        FreeILBM(got);
        EXPECT_EQ(c.dummy->refCount, refs);
    }
    g_TextureDummies = {};
    LogCapture log;
    EXPECT_EQ(S_LoadTexture("gone", QEL_LOAD_ANY, 0, 1), nullptr);
    EXPECT_TRUE(log.Contains("ERROR: cant load texture Dummy \n"));
    EXPECT_EQ(S_LoadTexture(nullptr, QEL_LOAD_ANY, 0, 1), nullptr);
}

TEST_F(ImageFiles, AskedDepthConvertsTheLoadedPicture) {
    folder.WriteBytes("c.tga", Tga({.width = 4, .height = 2}, kPicture));
    Bitmap b(S_LoadTexture("c", EBM_CHUNKY | EBM_16BIT | EBM_NOSHADOW, 0, 1));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->flags & (EBM_16BIT | EBM_SURFACE), EBM_16BIT);
    EXPECT_EQ(PixelAt(b.get(), 0, 0), 0xF800u);
    EXPECT_EQ(PixelAt(b.get(), 3, 0), 0x07E0u);
    EXPECT_EQ(PixelAt(b.get(), 0, 1), 0x001Fu);
    // The same depth is kept as loaded.
    Bitmap same(S_LoadTexture("c", EBM_CHUNKY | EBM_32BIT | EBM_SURFACE | EBM_TEXTURE, 0, 1));
    ASSERT_NE(same, nullptr);
    EXPECT_NE(same->flags & EBM_TEXTURE, 0u);
    // So is any depth when the request names none (the lookup textures' flags):
    // the texture itself comes back, not a failed copy of no depth.
    LogCapture log;
    Bitmap any(S_LoadTexture("c", 0x80040000, 0, 1));
    ASSERT_NE(any, nullptr);
    EXPECT_NE(any->flags & EBM_TEXTURE, 0u);
    EXPECT_EQ(any->flags & EBM_32BIT, EBM_32BIT);
    EXPECT_NE(any->sys->WE_lpDestTexture, nullptr);
    EXPECT_FALSE(log.Contains("Qel_ReadAndConvertEbm"));
}

TEST_F(ImageFiles, TargaWriterWritesRowsOfTheImageWidthOnly) {
    const struct {
        int depth;
        uint32_t pixel;
        std::vector<uint8_t> bytes;  // one pixel as written
    } cases[] = {{32, 0x80123456, {0x56, 0x34, 0x12, 0x80}},
                 {24, 0x123456, {0x56, 0x34, 0x12}},
                 {16, 0xFFFF, {0xFF, 0x7F}},   // 5-6-5 white becomes 5-5-5 white
                 {16, 0x07E0, {0xE0, 0x03}}};  // full green keeps its top five bits
    for (const auto& c : cases) {
        SCOPED_TRACE(c.depth);
        Bitmap b(GenerateEbm(3, 2, static_cast<int16_t>(c.depth), EBM_CHUNKY));
        ASSERT_NE(b, nullptr);
        FillRaw(b.get(), c.pixel);
        uint8_t* pixels = b->plane0;
        ASSERT_EQ(Qel_WriteTgaFile("out.tga", 0, b.get()), 1);
        EXPECT_EQ(b->plane0, pixels);                // a memory bitmap keeps its pixels
        EXPECT_EQ(PixelAt(b.get(), 2, 1), c.pixel);  // and they are not converted in place
        std::vector<uint8_t> file = folder.Read("out.tga");
        size_t bpp = c.bytes.size();
        ASSERT_EQ(file.size(), 18 + 3 * 2 * bpp);
        const std::vector<uint8_t> header = {
            0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 2, 0, static_cast<uint8_t>(c.depth), 0x20};
        EXPECT_EQ(std::vector<uint8_t>(file.begin(), file.begin() + 18), header);
        for (size_t i = 0; i < 6; ++i)
            EXPECT_EQ(std::vector<uint8_t>(file.begin() + 18 + i * bpp, file.begin() + 18 + (i + 1) * bpp), c.bytes);
    }
}

TEST_F(ImageFiles, TargaWriterLocksTheBitmapItselfAndReadsBack) {
    folder.WriteBytes("in.tga", Tga({.width = 4, .height = 2, .depth = 32}, kPicture));
    Bitmap t(S_ReadTGA("in.tga", 0, 1));
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(Qel_WriteTgaFile("again.tga", 0, t.get()), 1);
    EXPECT_EQ(t->flags & EBM_LOCKED, 0u);
    EXPECT_EQ(t->plane0, nullptr);
    Bitmap back(S_ReadTGA("again.tga", 0, 1));
    ASSERT_NE(back, nullptr);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x) EXPECT_EQ(Rgb(back.get(), x, y), kPicture[y * 4 + x] & 0xFFFFFF);
    // A lock held by the caller stays held.
    ASSERT_TRUE(S_LockVideoSurface(t.get()));
    ASSERT_EQ(Qel_WriteTgaFile("held.tga", 0, t.get()), 1);
    EXPECT_NE(t->flags & EBM_LOCKED, 0u);
    S_UnLockSingleDDSurface(t.get());
    EXPECT_EQ(Qel_WriteTgaFile("nofolder/x/y.tga", 0, t.get()), 0);
}

TEST_F(ImageFiles, ScreenshotsAreNumberedAfterExistingFilesAndStepGameTime) {
    std::string shots = folder.Path() + "/shots";
    folder.WriteBytes("shots/trevanscreen00007.tga", {1});
    folder.WriteBytes("shots/TREVANSCREEN00003.TGA", {1});
    folder.WriteBytes("shots/trevanscreen_notes.txt", {1});
    state->captureFolder = Qel_StrReassign(state->captureFolder, shots.c_str());
    EBM* screen = Qel_GetVideoSurface(0);
    Qel_RectFill(0, 0, screen->width, screen->height, 0x336699, screen);
    S_FlipScreen();
    std::vector<int> steps;
    for (int i = 0; i < 6; ++i) {
        P_CaptureScreen();
        steps.push_back(state->captureStep);
    }
    EXPECT_EQ(steps, (std::vector<int>{33, 33, 34, 33, 33, 34}));
    EXPECT_EQ(state->lastCaptureNumber, 13);
    std::vector<uint8_t> shot = folder.Read("shots/trevanscreen00008.tga");
    const D3DPRESENT_PARAMETERS& pp = g_RendererState->device->presentParams;
    ASSERT_EQ(shot.size(), 18u + pp.BackBufferWidth * pp.BackBufferHeight * 4);
    uint32_t v;
    std::memcpy(&v, shot.data() + 18 + (10 * pp.BackBufferWidth + 10) * 4, 4);
    EXPECT_EQ(v & 0xFFFFFF, 0x336699u);
    EXPECT_TRUE(folder.Exists("shots/trevanscreen00013.tga"));

    // A folder that is not there yet is made on the first capture.
    state->captureFolder = Qel_StrReassign(state->captureFolder, (folder.Path() + "/fresh").c_str());
    state->lastCaptureNumber = 0;
    P_CaptureScreen();
    EXPECT_TRUE(folder.Exists("fresh/trevanscreen00001.tga"));
}

}  // namespace
