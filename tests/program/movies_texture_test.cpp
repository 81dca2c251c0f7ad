// A movie played by the movie module into a texture of the texture table, on
// the headless GL device, with its frames read back from the device.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/display.h"
#include "base/ebm.h"
#include "base/texcache.h"
#include "platform/d3d9/internal.h"
#include "platform/dshow/seam.h"
#include "program/movies.h"
#include "render/device.h"
#include "render/pixelformat.h"
#include "support/gamefolder.h"
#include "support/script_run.h"
#include "support/soundfiles.h"
#include "support/syscall_runner.h"
#include "support/surfacesupport.h"
#include "support/videosupport.h"
#include "system/adapters.h"
#include "system/entry.h"
#include "system/movie.h"
#include "system/surfaces.h"
#include "system/video.h"
#include "tools/lib/media_fixtures.h"

namespace {

bool Near(uint32_t a, uint32_t b, int tolerance) {
    for (int s = 0; s < 24; s += 8)
        if (std::abs(static_cast<int>((a >> s) & 0xFF) - static_cast<int>((b >> s) & 0xFF)) > tolerance) return false;
    return true;
}

// Which fixture frame a pixel shows; -1 when none.
int FrameOf(uint32_t pixel) {
    for (int n = 0; n < 8; ++n)
        if (Near(pixel, Media_FrameColour(n), 24)) return n;
    return -1;
}

class MovieModuleTextureTest : public VideoTestBase {
protected:
    void SetUp() override {
        VideoTestBase::SetUp();
        state->app = TestAppDescriptor();
        DShow_ResetSeam();
        DShow_Seam().manualClock = true;
        g_ApplicationRecord.active = 1;
        std::filesystem::create_directories(folder_.Path() + "/mov");
        std::string error;
        ASSERT_TRUE(Media_WriteMovie(folder_.Path() + "/mov/00001.dat", MediaMovieSpec{}, &error)) << error;
        savedTable_ = TC_TextureTable;
        savedCount_ = g_TCNumberedCount;
    }
    void TearDown() override {
        MOV_Exit();
        TC_TextureTable = savedTable_;
        g_TCNumberedCount = savedCount_;
        if (bitmap_) FreeILBM(bitmap_);
        S_3DFreeLookupTextures();
        if (g_VideoRecord) Qel_CloseVideo(1);
        CloseVideo();
        EXPECT_EQ(DShow_LiveObjects(), 0);
        DShow_ResetSeam();
        VideoTestBase::TearDown();
    }

    TempGameFolder folder_;
    StoryRunner runner_;
    EBM* bitmap_ = nullptr;
    TC_TextureEntry table_[100] = {};
    TC_TextureEntry* savedTable_ = nullptr;
    uint16_t savedCount_ = 0;
};

TEST_F(MovieModuleTextureTest, AMoviePlaysIntoItsTextureAndAnswersAtItsEnd) {
    ASSERT_TRUE(runner_.Load("    end\n.func \"Nop\" need 8\n    c0\n    ret\n"));
    ASSERT_TRUE(OpenVideo(640, 480));
    TextureBitmapFormat* f = g_RendererState->device->opaqueFormat;
    int saved = f->code;
    f->code = S3D_PixelFormatCode(D3DFMT_A8R8G8B8);
    bitmap_ = GenerateEbm(64, 48, 32, EBM_CHUNKY | EBM_SURFACE | EBM_TEXTURE | EBM_NOSHADOW);
    f->code = saved;
    ASSERT_NE(bitmap_, nullptr);
    table_[66].bitmap = bitmap_;
    TC_TextureTable = table_;
    g_TCNumberedCount = 100;

    ASSERT_NE(MOV_Init(), nullptr);
    ASSERT_EQ(MOV_LoadMovie(0, 0, 1, MOVIE_NO_AUDIO), 1);
    ASSERT_EQ(MOV_ConnectMovieToTexture(1, 66), 1);
    ASSERT_EQ(MOV_PlayMovieFrom(runner_.module(), 5, 1, 0, 0, 0, -1, -1, -1, 0), 1);
    std::vector<int> shown;
    for (int i = 0; i < 200 && MOV_IsPlaying(1); ++i) {
        DShow_SeamAdvance(40);
        MOV_CheckFinished();
        // What GL holds: the memory copy is dropped and read back.
        static_cast<D3D9Surface*>(bitmap_->sys->surface)->memoryValid = false;
        int n = FrameOf(PixelAt(bitmap_, 32, 24));
        if (n >= 0 && (shown.empty() || shown.back() != n)) shown.push_back(n);
    }
    EXPECT_EQ(MOV_IsPlaying(1), 0);
    ASSERT_GE(shown.size(), 20u);
    for (size_t i = 1; i < shown.size(); ++i) EXPECT_EQ(shown[i], (shown[i - 1] + 1) % 8) << i;
    ASSERT_EQ(runner_.answers.size(), 1u);
    EXPECT_EQ(runner_.answers[0].callerNumber, 5u);
    EXPECT_EQ(runner_.answers[0].n, 1);
}

}  // namespace

namespace {

// The volume call on a real movie stream: 0..255 in hundredths of a decibel.
class MovieModuleVolumeTest : public SoundFixture {};

TEST_F(MovieModuleVolumeTest, VolumeReachesTheStreamInHundredthsOfADecibel) {
    TempGameFolder folder;
    sys_.app = TestAppDescriptor();
    DShow_ResetSeam();
    DShow_Seam().manualClock = true;
    g_ApplicationRecord.active = 1;
    std::string error;
    std::filesystem::create_directories(folder.Path() + "/mov");
    ASSERT_TRUE(Media_WriteMovie(folder.Path() + "/mov/00004.dat", MediaMovieSpec{}, &error)) << error;
    ASSERT_TRUE(StartSound());
    StoryRunner runner;
    ASSERT_TRUE(runner.Load("    end\n.func \"Nop\" need 8\n    c0\n    ret\n"));
    ASSERT_NE(MOV_Init(), nullptr);
    ASSERT_EQ(MOV_LoadMovie(0, 0, 4, 0), 1);
    const struct {
        int32_t volume;
        const char* call;
    } cases[] = {{128, "put_Volume -2500"}, {0, "put_Volume -5000"}, {255, "put_Volume -20"}};
    for (const auto& c : cases) {
        SysCallRunner caller(runner.ctx());
        ScriptValue args[2] = {SysCallRunner::Int(4), SysCallRunner::Int(c.volume)};
        MOV_SysCall(runner.module(), caller.task(), 8, 2, args);
        EXPECT_EQ(caller.task()->callResult.i, 1);
        EXPECT_EQ(DShow_Seam().calls.back(), c.call);
    }
    MOV_Exit();
    EXPECT_EQ(DShow_LiveObjects(), 0);
    DShow_ResetSeam();
}

}  // namespace
