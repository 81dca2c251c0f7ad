#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <iterator>
#include <fstream>
#include <vector>

#include "base/display.h"
#include "base/ebm.h"
#include "base/memory.h"
#include "platform/d3d9/internal.h"
#include "platform/dshow/seam.h"
#include "platform/dsound/seam.h"
#include "render/device.h"
#include "render/pixelformat.h"
#include "support/gamefolder.h"
#include "support/logcapture.h"
#include "support/soundfiles.h"
#include "support/surfacesupport.h"
#include "support/videosupport.h"
#include "system/adapters.h"
#include "system/entry.h"
#include "system/movie.h"
#include "system/sound.h"
#include "system/surfaces.h"
#include "system/video.h"
#include "tools/lib/media_fixtures.h"

namespace {

// A 32-bit texture in memory with guard words after it, standing in for the
// bitmap's device surface.
struct TestTexture {
    uint32_t width, height;
    std::vector<uint32_t> pixels;
    static constexpr uint32_t kGuard = 0xDEADBEEF;
    TestTexture(uint32_t w, uint32_t h) : width(w), height(h), pixels(w * h + 64, kGuard) {
        std::fill(pixels.begin(), pixels.begin() + w * h, 0u);
    }
    EBM* Bitmap() { return reinterpret_cast<EBM*>(this); }
    uint32_t At(uint32_t x, uint32_t y) const { return pixels[y * width + x]; }
    bool GuardIntact() const {
        for (size_t i = width * height; i < pixels.size(); ++i)
            if (pixels[i] != kGuard) return false;
        return true;
    }
};

int HasSurface(EBM*) { return 1; }
HRESULT LockTexture(EBM* bitmap, MovieLockedSurface* out) {
    auto* t = reinterpret_cast<TestTexture*>(bitmap);
    *out = MovieLockedSurface{reinterpret_cast<uint8_t*>(t->pixels.data()),
                              static_cast<int32_t>(t->width * 4),
                              t->width,
                              t->height,
                              32,
                              0xFF0000,
                              0xFF00,
                              0xFF,
                              0xFF000000};
    return S_OK;
}
void UnlockTexture(EBM*) {}

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

class MovieTest : public SoundFixture {
protected:
    void SetUp() override {
        SoundFixture::SetUp();
        sys_.app = TestAppDescriptor();
        DShow_ResetSeam();
        DShow_Seam().manualClock = true;
        DSound_Seam().loopback = true;
        g_ApplicationRecord.active = 1;
        savedLink_ = S_MovieTextureLink;
        S_MovieTextureLink = MovieTextureLink{HasSurface, LockTexture, UnlockTexture};
        std::filesystem::create_directories(folder_.Path() + "/mov");
        std::filesystem::create_directories(folder_.Path() + "/soundtrack");
        std::string error;
        MediaMovieSpec movie;
        ASSERT_TRUE(Media_WriteMovie(folder_.Path() + "/mov/00001.dat", movie, &error)) << error;
        MediaMovieSpec audioOnly;
        audioOnly.frames = 0;
        ASSERT_TRUE(Media_WriteMovie(folder_.Path() + "/mov/00003.dat", audioOnly, &error)) << error;
        ASSERT_TRUE(Media_WriteSoundtrack(folder_.Path() + "/soundtrack/00002.mp3", 1.5, 22050, 1, &error)) << error;
        LogCapture capture;
        ASSERT_TRUE(StartSound());
        capture.Take();
    }
    void TearDown() override {
        if (entry_.record) S_FreeMovie(entry_.record);
        EXPECT_EQ(DShow_LiveObjects(), 0);
        S_MovieTextureLink = savedLink_;
        DShow_ResetSeam();
        SoundFixture::TearDown();
    }
    bool Open(uint32_t number, uint32_t flags) {
        entry_.number = number;
        entry_.record = S_OpenMovie(number, flags);
        return entry_.record != nullptr;
    }
    // One game frame: the clock moves, the device plays, the movie is polled.
    uint16_t Frame(EBM* destination, int ms = 40) {
        DShow_SeamAdvance(ms);
        // The device plays in 10 ms slices; a slice with the tone in it counts as heard.
        for (int t = 0; t < ms; t += 10) {
            std::vector<int16_t> out(441 * 2);
            DSound_SeamRender(out.data(), 441);
            int peak = PeakOf(out);
            heard_ = std::max(heard_, peak);
            if (peak > 2000) heardMs_ += 10;
        }
        return S_RenderMovieFrame(&entry_, destination);
    }
    void WriteMovie(uint32_t number, const MediaMovieSpec& spec) {
        std::string error;
        char name[32];
        std::snprintf(name, sizeof name, "/mov/%05u.dat", number);
        ASSERT_TRUE(Media_WriteMovie(folder_.Path() + name, spec, &error)) << error;
    }
    // Plays the open movie to its end, polled every stepMs after a first step of
    // firstMs: for each poll the media position and the fixture frame shown.
    struct Poll {
        int32_t ms;
        int frame;
        int32_t start, end;  // times of the frame in the video sample (ms)
    };
    std::vector<Poll> PlayToTheEnd(TestTexture& tex, int stepMs, int firstMs, uint16_t* state) {
        std::vector<Poll> polls;
        *state = 1;
        for (int i = 0; i < 500 && *state == 1; ++i) {
            *state = Frame(tex.Bitmap(), i == 0 ? firstMs : stepMs);
            int32_t ms = 0;
            S_MovieGetPosition(&entry_, &ms);
            STREAM_TIME start = 0, end = 0;
            if (entry_.record->videoSample) entry_.record->videoSample->GetSampleTimes(&start, &end, nullptr);
            polls.push_back(
                {ms, FrameOf(tex.At(32, 24)), static_cast<int32_t>(start / 10000), static_cast<int32_t>(end / 10000)});
        }
        return polls;
    }
    static int PeakOf(const std::vector<int16_t>& v) {
        int p = 0;
        for (int16_t s : v) p = std::max(p, std::abs(static_cast<int>(s)));
        return p;
    }

    TempGameFolder folder_;
    MovieTextureLink savedLink_{};
    MovieEntry entry_{};
    int heard_ = 0;
    int heardMs_ = 0;
};

TEST_F(MovieTest, FramesReachTheTextureInOrderUntilTheEnd) {
    ASSERT_TRUE(Open(1, 0));
    EXPECT_NE(entry_.record->audioRenderer, nullptr);
    EXPECT_NE(entry_.record->splitter, nullptr);
    EXPECT_NE(entry_.record->fileSource, nullptr);  // both MPEG decoders: the file-source route
    ASSERT_EQ(S_MovieStatePlay(&entry_), 1);
    TestTexture tex(64, 48);
    std::vector<int> shown;
    uint16_t state = 1;
    for (int i = 0; i < 200 && state == 1; ++i) {
        state = Frame(tex.Bitmap());
        int n = FrameOf(tex.At(32, 24));
        if (n >= 0 && (shown.empty() || shown.back() != n)) shown.push_back(n);
    }
    EXPECT_EQ(state, 2);
    ASSERT_GE(shown.size(), 20u);
    for (size_t i = 1; i < shown.size(); ++i) EXPECT_EQ(shown[i], (shown[i - 1] + 1) % 8) << i;
    EXPECT_EQ(tex.At(0, 0) >> 24, 0xFFu);  // alpha is always full
    EXPECT_TRUE(tex.GuardIntact());
    EXPECT_GT(heard_, 1000);  // its audio played through the renderer
}

TEST_F(MovieTest, AMovieWithOnlyItsFirstFrameStampedPlaysToItsLastFrame) {
    MediaMovieSpec spec;
    spec.frames = 30;
    spec.fps = 30;
    spec.firstStampOnly = true;
    WriteMovie(4, spec);
    ASSERT_TRUE(Open(4, 0));
    ASSERT_EQ(S_MovieStatePlay(&entry_), 1);
    TestTexture tex(64, 48);
    uint16_t state = 0;
    std::vector<Poll> polls = PlayToTheEnd(tex, 40, 40, &state);
    EXPECT_EQ(state, 2);
    ASSERT_FALSE(polls.empty());
    EXPECT_GE(polls.size(), 24u);           // a second of movie, not one frame of it
    EXPECT_EQ(polls.back().frame, 29 % 8);  // its last frame
}

TEST_F(MovieTest, SlowPollsShowTheFrameDueAtTheMediaPosition) {
    // 30 frames a second polled 20 times a second: the first poll shows the
    // first frame, every later one the frame whose time holds the media
    // position, so picture and sound stay together.
    MediaMovieSpec spec;
    spec.frames = 90;
    spec.fps = 30;
    WriteMovie(4, spec);
    ASSERT_TRUE(Open(4, 0));
    ASSERT_EQ(S_MovieStatePlay(&entry_), 1);
    TestTexture tex(64, 48);
    uint16_t state = 0;
    std::vector<Poll> polls = PlayToTheEnd(tex, 50, 50, &state);
    EXPECT_EQ(state, 2);
    ASSERT_GE(polls.size(), 55u);
    EXPECT_EQ(polls[0].frame, 0) << "the first frame always shows";
    for (size_t i = 1; i + 1 < polls.size(); ++i) {
        const Poll& p = polls[i];
        EXPECT_LE(p.start, p.ms) << "at " << p.ms << " ms";
        EXPECT_GE(p.end + 1, p.ms) << "at " << p.ms << " ms";
        EXPECT_GE(p.frame, 0) << "at " << p.ms << " ms";
        EXPECT_NE(p.frame, polls[i - 1].frame) << "at " << p.ms << " ms";  // each poll moves it on
    }
    EXPECT_EQ(polls.back().frame, 89 % 8);
}

TEST_F(MovieTest, StreamedSoundAndThePictureOfAMovieEndTogether) {
    // The sound is fetched seconds ahead; the picture must not stop when it has all been fetched.
    MediaMovieSpec spec;
    spec.frames = 75;  // three seconds
    WriteMovie(4, spec);
    ASSERT_TRUE(Open(4, MOVIE_STREAM_AUDIO));
    EXPECT_NE(entry_.record->soundBuffer, nullptr);
    ASSERT_EQ(S_MovieStatePlay(&entry_), 1);
    TestTexture tex(64, 48);
    uint16_t state = 0;
    std::vector<Poll> polls = PlayToTheEnd(tex, 40, 40, &state);
    EXPECT_EQ(state, 2);
    ASSERT_FALSE(polls.empty());
    EXPECT_EQ(polls.back().frame, 74 % 8);
    EXPECT_NEAR(static_cast<int>(polls.size()) * 40, 3000, 120);
    EXPECT_NEAR(heardMs_, 3000, 150);
    // The picture kept moving all along.
    for (size_t i = 2; i < polls.size(); ++i)
        EXPECT_NE(polls[i].frame, polls[i - 2].frame) << "poll " << i << " at " << polls[i].ms << " ms";
}

TEST_F(MovieTest, FramesAreClippedOrScaledToTheTexture) {
    ASSERT_TRUE(Open(1, MOVIE_NO_AUDIO));
    ASSERT_EQ(S_MovieStatePlay(&entry_), 1);
    TestTexture odd(40, 30), half(32, 24), twice(128, 96);
    for (TestTexture* t : {&odd, &half, &twice}) {
        EXPECT_EQ(Frame(t->Bitmap()), 1);
        EXPECT_TRUE(t->GuardIntact());
    }
    EXPECT_EQ(FrameOf(odd.At(39, 29)), FrameOf(odd.At(0, 0)));
    EXPECT_GE(FrameOf(half.At(31, 23)), 0);
    EXPECT_GE(FrameOf(twice.At(127, 95)), 0);
}

// A 32-bit sample surface whose rows below those given are not there at all,
// so reading them is caught.
class PartialSurface final : public IDirectDrawSurface {
public:
    PartialSurface(uint32_t width, uint32_t height, uint32_t rowsThere)
        : width_(width), height_(height), bits_(size_t(width) * 4 * rowsThere) {
        for (size_t i = 0; i < bits_.size() / 4; ++i) reinterpret_cast<uint32_t*>(bits_.data())[i] = 0x00336699;
    }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT GetSurfaceDesc(DDSURFACEDESC* d) override { return Lock(nullptr, d, 0, nullptr); }
    HRESULT Lock(RECT*, DDSURFACEDESC* d, DWORD, void*) override {
        *d = DDSURFACEDESC{sizeof(DDSURFACEDESC), 0, height_, width_, LONG(width_ * 4), bits_.data(), {}};
        d->ddpfPixelFormat = DDPIXELFORMAT{sizeof(DDPIXELFORMAT), 0x40, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0};
        return S_OK;
    }
    HRESULT Unlock(void*) override { return S_OK; }

private:
    uint32_t width_, height_;
    std::vector<uint8_t> bits_;
};

// A movie far larger than its texture (found by fuzzing: a 4095 x 4095
// stream took seconds a frame): only the source rows that land in the
// texture are read, whether it is copied as it is, halved or doubled.
TEST_F(MovieTest, MovieFarLargerThanItsTextureReadsOnlyWhatLandsInIt) {
    struct Case {
        uint32_t textureWidth, textureHeight, rowsRead;
    };
    for (const Case& c : {Case{32, 24, 24}, Case{2048, 8, 16}, Case{8192, 6, 3}}) {
        SCOPED_TRACE(testing::Message() << c.textureWidth << " x " << c.textureHeight);
        PartialSurface source(4096, 4096, c.rowsRead);
        TestTexture texture(c.textureWidth, c.textureHeight);
        ASSERT_EQ(S_CopyMovieFrame(&source, texture.Bitmap()), 1);
        EXPECT_TRUE(texture.GuardIntact());
        EXPECT_EQ(texture.At(c.textureWidth - 1, c.textureHeight - 1) & 0xFFFFFF, 0x336699u);
    }
}

TEST_F(MovieTest, SoundtrackStreamsIntoTheBufferUntilItEnds) {
    ASSERT_TRUE(Open(2, MOVIE_NO_VIDEO));  // no movie 2: its soundtrack
    EXPECT_EQ(S_MovieGetFlags(&entry_), MOVIE_NO_VIDEO | MOVIE_STREAM_AUDIO);
    EXPECT_NE(entry_.record->soundBuffer, nullptr);
    EXPECT_EQ(entry_.record->waveFormat.nSamplesPerSec, 22050u);
    ASSERT_EQ(S_MovieStatePlay(&entry_), 1);
    uint16_t state = 1;
    int frames = 0;
    for (; frames < 200 && state == 1; ++frames) state = Frame(nullptr);
    EXPECT_EQ(state, 2);
    EXPECT_GE(frames, 30);             // it played out, it did not just stop
    EXPECT_NEAR(heardMs_, 1500, 100);  // all of it, once
}

TEST_F(MovieTest, StopTimeCutsTheStreamedAudio) {
    ASSERT_TRUE(Open(2, MOVIE_NO_VIDEO));
    ASSERT_EQ(S_MovieStatePlay(&entry_), 1);
    ASSERT_EQ(S_MovieSetStopTime(&entry_, 500), 1);
    uint16_t state = 1;
    for (int i = 0; i < 200 && state == 1; ++i) state = Frame(nullptr);
    EXPECT_EQ(state, 2);
    EXPECT_NEAR(heardMs_, 500, 60);
}

TEST_F(MovieTest, SeekingAudioOnlyStreamsAndDroppingOlderAudio) {
    ASSERT_TRUE(Open(2, MOVIE_NO_VIDEO));
    ASSERT_EQ(S_SetCurrentMovieTime(&entry_, 2000), 1);
    EXPECT_EQ(DShow_Seam().calls.back(), "put_CurrentPosition 1.500");
    ASSERT_EQ(S_SetCurrentMovieTime(&entry_, 400), 1);
    EXPECT_EQ(DShow_Seam().calls.back(), "put_CurrentPosition 0.400");
    // From 1000 ms: only what is left is heard; the older audio of the first block is dropped.
    ASSERT_EQ(S_SetCurrentMovieTime(&entry_, 1000), 1);
    ASSERT_EQ(S_MovieStatePlay(&entry_), 1);
    uint16_t state = 1;
    for (int i = 0; i < 200 && state == 1; ++i) state = Frame(nullptr);
    EXPECT_EQ(state, 2);
    EXPECT_NEAR(heardMs_, 500, 100);
}

TEST_F(MovieTest, MovieWithoutVideoPlaysItsAudioToTheEnd) {
    LogCapture capture;
    ASSERT_TRUE(Open(3, 0));
    EXPECT_NE(capture.Take().find("S_OpenMovie: Exit_NoVideo!\n"), std::string::npos);
    EXPECT_TRUE(S_MovieGetFlags(&entry_) & MOVIE_NO_VIDEO);
    ASSERT_EQ(S_MovieStatePlay(&entry_), 1);
    EXPECT_EQ(Frame(nullptr), 1);
    uint16_t state = 1;
    int frames = 1;
    for (; frames < 200 && state == 1; ++frames) state = Frame(nullptr);
    EXPECT_EQ(state, 2);
    EXPECT_GE(frames, 20);
    int32_t ms = 0;
    ASSERT_EQ(S_MovieGetPosition(&entry_, &ms), 1);
    EXPECT_GE(ms, 700);
}

// A damaged movie (found by fuzzing) whose picture cannot be decoded and
// whose sound packets decode to nothing: it opens for its sound alone, which
// ends at once, with nothing heard and no block copied from nowhere.
TEST_F(MovieTest, MovieWhoseSoundDecodesToNothingEndsQuietly) {
    const char* root = std::getenv("TREVAN_SOURCE_DIR");
    std::ifstream in(std::string(root ? root : ".") + "/fuzz/regressions/movie/sound-that-decodes-to-nothing",
                     std::ios::binary);
    std::vector<char> input((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(input.size(), 1u) << "TREVAN_SOURCE_DIR must name the source folder";
    // The fuzzer's first byte picks the name and flags; the movie follows.
    std::ofstream(folder_.Path() + "/mov/00005.dat", std::ios::binary)
        .write(input.data() + 1, std::streamsize(input.size() - 1));
    LogCapture capture;
    ASSERT_TRUE(Open(5, 0));
    EXPECT_NE(capture.Take().find("S_OpenMovie: Exit_NoVideo!\n"), std::string::npos);
    ASSERT_EQ(S_MovieStatePlay(&entry_), 1);
    uint16_t state = 1;
    for (int i = 0; i < 50 && state == 1; ++i) state = Frame(nullptr);
    EXPECT_EQ(state, 2);
    EXPECT_EQ(heardMs_, 0);
}

TEST_F(MovieTest, MissingMovieInactiveWindowAndNoSurface) {
    LogCapture capture;
    EXPECT_EQ(S_OpenMovie(9, 0), nullptr);
    EXPECT_NE(capture.Take().find("S_OpenMovie() Movie 9 not found!\n"), std::string::npos);

    ASSERT_TRUE(Open(1, 0));
    ASSERT_EQ(S_MovieStatePlay(&entry_), 1);
    TestTexture tex(64, 48);
    g_ApplicationRecord.active = 0;
    EXPECT_EQ(Frame(tex.Bitmap()), 2);
    g_ApplicationRecord.active = 1;
    sys_.debugFlags = 2048;
    capture.Take();
    EXPECT_EQ(S_RenderMovieFrame(&entry_, nullptr), 2);
    EXPECT_NE(capture.Take().find("S_RenderMovieFrame(1) destination is NULL!\n"), std::string::npos);
    S_MovieTextureLink.hasSurface = nullptr;  // no device surface behind the bitmap yet
    EXPECT_EQ(S_RenderMovieFrame(&entry_, tex.Bitmap()), 2);
}

TEST_F(MovieTest, VolumeRateAndStop) {
    ASSERT_TRUE(Open(1, 0));
    EXPECT_EQ(S_MovieSetVolume(128, &entry_), 1);
    EXPECT_EQ(DShow_Seam().calls.back(), "put_Volume -2500");
    EXPECT_EQ(S_MovieSetRate(&entry_, 2.0), 1);
    ASSERT_EQ(S_MovieStatePlay(&entry_), 1);
    DShow_SeamAdvance(100);
    int32_t ms = 0;
    ASSERT_EQ(S_MovieGetPosition(&entry_, &ms), 1);
    EXPECT_EQ(ms, 200);
    ASSERT_EQ(S_MovieStateStop(&entry_), 1);
    DShow_SeamAdvance(100);
    ASSERT_EQ(S_MovieGetPosition(&entry_, &ms), 1);
    EXPECT_EQ(ms, 200);
    entry_.record->flags |= MOVIE_NO_POSITION;
    LogCapture capture;
    EXPECT_EQ(S_MovieSetRate(&entry_, 1.0), 0);
    EXPECT_NE(capture.Take().find("ERROR:Setting rate on NOPOS stream!\n"), std::string::npos);
    entry_.record->flags &= ~MOVIE_NO_POSITION;
}

TEST_F(MovieTest, OpeningFailuresFreeWhatWasBuilt) {
    int64_t before = Int_GetTagMem(MOVIE_MEM_TAG);
    DShow_Seam().failOpen = true;
    LogCapture capture;
    EXPECT_EQ(S_OpenMovie(1, 0), nullptr);
    EXPECT_NE(capture.Take().find("Error opening movie: mov\\00001.dat\nrelease exe!\n"), std::string::npos);
    DShow_Seam().failOpen = false;
    DShow_Seam().failPosition = true;
    EXPECT_EQ(S_OpenMovie(1, 0), nullptr);
    DShow_Seam().failPosition = false;
    // A missing decoder is dropped with a message and the movie still opens.
    DShow_Seam().failClasses = {CLSID_MPEG1Splitter.Data1};
    capture.Take();
    ASSERT_TRUE(Open(1, 0));
    EXPECT_NE(capture.Take().find("Qel MPEG-I Stream Splitter"), std::string::npos);
    S_FreeMovie(entry_.record);
    entry_.record = nullptr;
    EXPECT_EQ(Int_GetTagMem(MOVIE_MEM_TAG), before);
    EXPECT_EQ(DShow_LiveObjects(), 0);

    EXPECT_NE(S_InitMovies(), nullptr);
    EXPECT_EQ(S_FreeMovies(), sizeof(MovieTable));
    EXPECT_EQ(S_FreeMovies(), 0u);
    EXPECT_STREQ(S_GetLogoImageName(), "images\\logo01.jpg");
}

// A movie played into a real texture on the GL device through the surfaces
// layer's lock, read back from GL.
class MovieTextureTest : public VideoTestBase {
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
    }
    void TearDown() override {
        if (entry_.record) S_FreeMovie(entry_.record);
        if (bitmap_) FreeILBM(bitmap_);
        S_3DFreeLookupTextures();
        if (g_VideoRecord) Qel_CloseVideo(1);
        CloseVideo();
        DShow_ResetSeam();
        VideoTestBase::TearDown();
    }

    TempGameFolder folder_;
    MovieEntry entry_{};
    EBM* bitmap_ = nullptr;
};

TEST_F(MovieTextureTest, FramesPlayIntoADeviceTexture) {
    ASSERT_TRUE(OpenVideo(640, 480));
    // The hook the movie layer starts with is the surfaces layer's.
    EXPECT_EQ(S_MovieTextureLink.lock, &S_MovieLockSurface);
    TextureBitmapFormat* f = g_RendererState->device->opaqueFormat;
    int saved = f->code;
    f->code = S3D_PixelFormatCode(D3DFMT_A8R8G8B8);
    bitmap_ = GenerateEbm(64, 48, 32, EBM_CHUNKY | EBM_SURFACE | EBM_TEXTURE | EBM_NOSHADOW);
    f->code = saved;
    ASSERT_NE(bitmap_, nullptr);
    ASSERT_NE(bitmap_->sys, nullptr);

    entry_.number = 1;
    entry_.record = S_OpenMovie(1, MOVIE_NO_AUDIO);
    ASSERT_NE(entry_.record, nullptr);
    ASSERT_EQ(S_MovieStatePlay(&entry_), 1);
    std::vector<int> shown;
    uint16_t state = 1;
    for (int i = 0; i < 200 && state == 1; ++i) {
        DShow_SeamAdvance(40);
        state = S_RenderMovieFrame(&entry_, bitmap_);
        // What GL holds: the memory copy is dropped and read back.
        static_cast<D3D9Surface*>(bitmap_->sys->surface)->memoryValid = false;
        uint32_t pixel = PixelAt(bitmap_, 32, 24);
        int n = FrameOf(pixel);
        if (n >= 0 && (shown.empty() || shown.back() != n)) shown.push_back(n);
        if (n >= 0) {
            EXPECT_EQ(pixel >> 24, 0xFFu);
        }
    }
    EXPECT_EQ(state, 2);
    ASSERT_GE(shown.size(), 20u);
    for (size_t i = 1; i < shown.size(); ++i) EXPECT_EQ(shown[i], (shown[i - 1] + 1) % 8) << i;
    EXPECT_EQ(bitmap_->plane0, nullptr);  // the hook leaves the surface unlocked
}

}  // namespace
