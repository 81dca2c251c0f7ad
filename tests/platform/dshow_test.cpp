#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/dshow/dshow.h"
#include "platform/dshow/seam.h"
#include "support/gamefolder.h"
#include "system/movie.h"
#include "tools/lib/media_fixtures.h"

namespace {

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Writes the second file after the first into out.
void Splice(const std::string& first, const std::string& second, const std::string& out) {
    std::vector<uint8_t> bytes = ReadAll(first);
    std::vector<uint8_t> rest = ReadAll(second);
    bytes.insert(bytes.end(), rest.begin(), rest.end());
    std::ofstream(out, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

template <class T>
T* Create(const GUID& clsid, const GUID& iid) {
    void* p = nullptr;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, &p), S_OK);
    return static_cast<T*>(p);
}

class DShowTest : public testing::Test {
protected:
    void SetUp() override {
        DShow_ResetSeam();
        DShow_Seam().manualClock = true;
        DShow_RegisterClasses();
        DShow_SetFileReader(nullptr);
    }
    void TearDown() override {
        EXPECT_EQ(DShow_LiveObjects(), 0);
        DShow_ResetSeam();
        DShow_SetFileReader(nullptr);
    }
};

// A file's sound opened alone and read to its end in quarter-second blocks.
struct SoundRead {
    bool opened = false;
    bool videoStream = true;  // a primary video stream was there too
    WAVEFORMATEX format{};
    size_t bytes = 0;
    HRESULT end = S_OK;
    bool blocksFollow = true;  // each block starts where the one before ended
};
SoundRead ReadSound(const std::string& name) {
    SoundRead r;
    auto* stream = Create<IAMMultiMediaStream>(CLSID_AMMultiMediaStream, IID_IAMMultiMediaStream);
    IMediaStream* media = nullptr;
    void* p = nullptr;
    if (stream->Initialize(STREAMTYPE_READ, AMMSF_NOGRAPHTHREAD, nullptr) != S_OK ||
        stream->AddMediaStream(nullptr, &MSPID_PrimaryAudio, 0, nullptr) != S_OK ||
        stream->OpenFile(name.c_str(), 0) != S_OK || stream->GetMediaStream(MSPID_PrimaryAudio, &media) != S_OK ||
        media->QueryInterface(IID_IAudioMediaStream, &p) != S_OK) {
        if (media) media->Release();
        stream->Release();
        return r;
    }
    IMediaStream* video = nullptr;
    r.videoStream = stream->GetMediaStream(MSPID_PrimaryVideo, &video) != MS_E_NOSTREAM;
    if (video) video->Release();
    auto* audio = static_cast<IAudioMediaStream*>(p);
    auto* data = Create<IAudioData>(CLSID_AMAudioData, IID_IAudioData);
    IAudioStreamSample* sample = nullptr;
    std::vector<uint8_t> block;
    if (audio->GetFormat(&r.format) == S_OK && r.format.nAvgBytesPerSec >= 4) {
        block.resize(r.format.nAvgBytesPerSec / 4);
        if (data->SetBuffer(static_cast<DWORD>(block.size()), block.data(), 0) == S_OK &&
            audio->CreateSample(data, 0, &sample) == S_OK) {
            r.opened = true;
            STREAM_TIME lastEnd = 0;
            while ((r.end = sample->Update(SSUPDATE_ASYNC, nullptr, nullptr, 0)) == S_OK) {
                DWORD actual = 0;
                data->GetInfo(nullptr, nullptr, &actual);
                STREAM_TIME start = 0, end = 0;
                sample->GetSampleTimes(&start, &end, nullptr);
                if (std::abs(start - lastEnd) > 10000) r.blocksFollow = false;
                lastEnd = end;
                r.bytes += actual;
            }
        }
    }
    if (sample) sample->Release();
    data->Release();
    audio->Release();
    media->Release();
    stream->Release();
    return r;
}

TEST_F(DShowTest, SoundtrackInACatalogPlaysThroughTheFileLayer) {
    TempGameFolder folder;
    std::string error;
    ASSERT_TRUE(Media_WriteSoundtrack(folder.Path() + "/tone.mp3", 1.0, 22050, 1, &error)) << error;
    folder.WriteCatalog("01.cat", {ToolCatalogMember{"soundtrack\\00005.mp3", ReadAll(folder.Path() + "/tone.mp3")}});
    std::filesystem::remove(folder.Path() + "/tone.mp3");
    GeneralSession session;
    ASSERT_NE(session.State(), nullptr);
    S_InstallMovieStreams();  // the system layer's reader: its file layer

    SoundRead sound = ReadSound("soundtrack\\00005.mp3");
    ASSERT_TRUE(sound.opened);
    EXPECT_FALSE(sound.videoStream);
    EXPECT_EQ(sound.format.nSamplesPerSec, 22050u);
    EXPECT_EQ(sound.format.nChannels, 1u);
    EXPECT_EQ(sound.format.wBitsPerSample, 16u);
    EXPECT_EQ(sound.end, MS_S_ENDOFSTREAM);
    EXPECT_TRUE(sound.blocksFollow);
    EXPECT_NEAR(static_cast<double>(sound.bytes) / sound.format.nAvgBytesPerSec, 1.0, 0.1);
}

// A damaged or spliced soundtrack changes its channels midway: the sound
// goes on in the format the stream opened with, to its end.
TEST_F(DShowTest, SoundtrackChangingChannelsMidwayPlaysOnInItsFirstFormat) {
    for (auto [first, second] : {std::pair{1, 2}, std::pair{2, 1}}) {
        SCOPED_TRACE(testing::Message() << first << " then " << second << " channels");
        TempGameFolder folder;
        std::string error;
        ASSERT_TRUE(Media_WriteSoundtrack(folder.Path() + "/a.mp3", 0.5, 22050, first, &error)) << error;
        ASSERT_TRUE(Media_WriteSoundtrack(folder.Path() + "/b.mp3", 0.5, 22050, second, &error)) << error;
        Splice(folder.Path() + "/a.mp3", folder.Path() + "/b.mp3", folder.Path() + "/ab.mp3");

        SoundRead sound = ReadSound(folder.Path() + "/ab.mp3");
        ASSERT_TRUE(sound.opened);
        EXPECT_EQ(sound.format.nChannels, static_cast<WORD>(first));
        EXPECT_EQ(sound.end, MS_S_ENDOFSTREAM);
        EXPECT_NEAR(static_cast<double>(sound.bytes) / sound.format.nAvgBytesPerSec, 1.0, 0.1);
    }
}

TEST_F(DShowTest, VideoSampleCompletesWhenTheClockReachesTheFrame) {
    TempGameFolder folder;
    std::string error;
    MediaMovieSpec spec;
    spec.audio = false;
    spec.frames = 10;
    ASSERT_TRUE(Media_WriteMovie(folder.Path() + "/m.dat", spec, &error)) << error;

    auto* stream = Create<IAMMultiMediaStream>(CLSID_AMMultiMediaStream, IID_IAMMultiMediaStream);
    ASSERT_EQ(stream->Initialize(STREAMTYPE_READ, AMMSF_NOGRAPHTHREAD, nullptr), S_OK);
    ASSERT_EQ(stream->AddMediaStream(nullptr, &MSPID_PrimaryVideo, 0, nullptr), S_OK);
    ASSERT_EQ(stream->OpenFile("m.dat", 0), S_OK);
    IGraphBuilder* graph = nullptr;
    ASSERT_EQ(stream->GetFilterGraph(&graph), S_OK);
    void* p = nullptr;
    ASSERT_EQ(graph->QueryInterface(IID_IMediaControl, &p), S_OK);
    auto* control = static_cast<IMediaControl*>(p);
    IMediaStream* media = nullptr;
    ASSERT_EQ(stream->GetMediaStream(MSPID_PrimaryVideo, &media), S_OK);
    ASSERT_EQ(media->QueryInterface(IID_IDirectDrawMediaStream, &p), S_OK);
    auto* dd = static_cast<IDirectDrawMediaStream*>(p);
    IDirectDrawStreamSample* sample = nullptr;
    ASSERT_EQ(dd->CreateSample(nullptr, nullptr, 0, &sample), S_OK);
    IDirectDrawSurface* surface = nullptr;
    RECT rect{};
    ASSERT_EQ(sample->GetSurface(&surface, &rect), S_OK);
    EXPECT_EQ(rect.right, 64);
    EXPECT_EQ(rect.bottom, 48);

    // Paused: the first frame waits.
    EXPECT_EQ(sample->Update(SSUPDATE_ASYNC, nullptr, nullptr, 0), MS_S_PENDING);
    EXPECT_EQ(sample->Update(SSUPDATE_ASYNC, nullptr, nullptr, 0), MS_E_BUSY);
    ASSERT_EQ(control->Run(), S_OK);
    EXPECT_EQ(sample->CompletionStatus(COMPSTAT_NOUPDATEOK, 0), S_OK);
    // The next frame is due 40 ms later.
    EXPECT_EQ(sample->Update(SSUPDATE_ASYNC, nullptr, nullptr, 0), MS_S_PENDING);
    DShow_SeamAdvance(20);
    EXPECT_EQ(sample->CompletionStatus(COMPSTAT_NOUPDATEOK, 0), MS_S_PENDING);
    DShow_SeamAdvance(20);
    EXPECT_EQ(sample->CompletionStatus(COMPSTAT_NOUPDATEOK, 0), S_OK);
    STREAM_TIME start = 0, end = 0;
    sample->GetSampleTimes(&start, &end, nullptr);
    EXPECT_EQ(start, 400000);
    EXPECT_EQ(end, 800000);
    DDSURFACEDESC desc{};
    ASSERT_EQ(surface->Lock(nullptr, &desc, 0, nullptr), S_OK);
    uint32_t pixel = static_cast<uint32_t*>(desc.lpSurface)[24 * 64 + 32] & 0xFFFFFF;
    EXPECT_NEAR(static_cast<int>((pixel >> 8) & 0xFF), 0xE0, 24);  // frame 1 is green
    surface->Unlock(nullptr);

    DShow_SeamAdvance(1000);
    HRESULT hr = S_OK;
    for (int i = 0; i < 20 && hr == S_OK; ++i) hr = sample->Update(SSUPDATE_ASYNC, nullptr, nullptr, 0);
    EXPECT_EQ(hr, MS_S_ENDOFSTREAM);

    surface->Release();
    sample->Release();
    dd->Release();
    media->Release();
    control->Release();
    graph->Release();
    stream->Release();
}

// A video sample over a stream opened from a file, with its graph's control and position.
struct OpenedMovie {
    IAMMultiMediaStream* stream = nullptr;
    IGraphBuilder* graph = nullptr;
    IMediaControl* control = nullptr;
    IMediaPosition* position = nullptr;
    IMediaStream* media = nullptr;
    IDirectDrawMediaStream* dd = nullptr;
    IDirectDrawStreamSample* sample = nullptr;
    explicit OpenedMovie(const char* name) {
        stream = Create<IAMMultiMediaStream>(CLSID_AMMultiMediaStream, IID_IAMMultiMediaStream);
        EXPECT_EQ(stream->Initialize(STREAMTYPE_READ, AMMSF_NOGRAPHTHREAD, nullptr), S_OK);
        EXPECT_EQ(stream->AddMediaStream(nullptr, &MSPID_PrimaryVideo, 0, nullptr), S_OK);
        EXPECT_EQ(stream->OpenFile(name, 0), S_OK);
        EXPECT_EQ(stream->GetFilterGraph(&graph), S_OK);
        void* p = nullptr;
        EXPECT_EQ(graph->QueryInterface(IID_IMediaControl, &p), S_OK);
        control = static_cast<IMediaControl*>(p);
        EXPECT_EQ(graph->QueryInterface(IID_IMediaPosition, &p), S_OK);
        position = static_cast<IMediaPosition*>(p);
        EXPECT_EQ(stream->GetMediaStream(MSPID_PrimaryVideo, &media), S_OK);
        EXPECT_EQ(media->QueryInterface(IID_IDirectDrawMediaStream, &p), S_OK);
        dd = static_cast<IDirectDrawMediaStream*>(p);
        EXPECT_EQ(dd->CreateSample(nullptr, nullptr, 0, &sample), S_OK);
    }
    ~OpenedMovie() {
        Release(sample), Release(dd), Release(media), Release(position), Release(control), Release(graph);
        Release(stream);
    }
    template <class T>
    static void Release(T* p) {
        if (p) p->Release();
    }
    // Frames shown while the clock moves on by stepMs between polls: {clock, frame start} in ms.
    std::vector<std::pair<int, int>> Play(int stepMs, int firstMs = 0) {
        std::vector<std::pair<int, int>> starts;
        int now = firstMs;
        control->Run();
        DShow_SeamAdvance(firstMs);
        bool pending = false;
        for (int i = 0; i < 1000; ++i) {
            HRESULT hr = pending ? sample->CompletionStatus(COMPSTAT_NOUPDATEOK, 0)
                                 : sample->Update(SSUPDATE_ASYNC, nullptr, nullptr, 0);
            if (hr == MS_S_ENDOFSTREAM) break;
            pending = hr == MS_S_PENDING;
            if (hr == S_OK) {
                STREAM_TIME start = 0, end = 0;
                sample->GetSampleTimes(&start, &end, nullptr);
                starts.emplace_back(now, static_cast<int>(start / 10000));
            }
            DShow_SeamAdvance(stepMs);
            now += stepMs;
        }
        return starts;
    }
};

TEST_F(DShowTest, DurationIsTheStreamsOwnEvenWithoutLaterStamps) {
    // Only the first frame is stamped: a guess from the stamps would give one frame.
    TempGameFolder folder;
    std::string error;
    MediaMovieSpec spec;
    spec.frames = 30;
    spec.fps = 30;
    spec.firstStampOnly = true;
    ASSERT_TRUE(Media_WriteMovie(folder.Path() + "/m.dat", spec, &error)) << error;
    OpenedMovie m("m.dat");
    REFTIME length = 0;
    ASSERT_EQ(m.position->get_Duration(&length), S_OK);
    EXPECT_NEAR(length, 1.0, 0.05);
    // Every frame comes, each at its own time, the last at 29/30 s.
    std::vector<std::pair<int, int>> shown = m.Play(10);
    ASSERT_EQ(shown.size(), 30u);
    for (size_t i = 0; i < shown.size(); ++i) EXPECT_NEAR(shown[i].second, static_cast<int>(i) * 1000 / 30, 2) << i;
}

// Two movies of different sizes spliced into one file: the second's frames
// are scaled to the size the samples were made for, and they play on.
TEST_F(DShowTest, MovieChangingSizeMidwayKeepsItsFirstSize) {
    TempGameFolder folder;
    std::string error;
    MediaMovieSpec small;
    small.audio = false;
    small.frames = 5;
    MediaMovieSpec large = small;
    large.width = 128;
    large.height = 96;
    ASSERT_TRUE(Media_WriteMovie(folder.Path() + "/a.dat", small, &error)) << error;
    ASSERT_TRUE(Media_WriteMovie(folder.Path() + "/b.dat", large, &error)) << error;
    Splice(folder.Path() + "/a.dat", folder.Path() + "/b.dat", folder.Path() + "/m.dat");

    OpenedMovie m("m.dat");
    ASSERT_NE(m.sample, nullptr);
    // Both movies start their clocks at 0, so a frame of the second may fall
    // on one already shown; most of them play all the same.
    EXPECT_GT(m.Play(40).size(), 7u);
    IDirectDrawSurface* surface = nullptr;
    RECT rect{};
    ASSERT_EQ(m.sample->GetSurface(&surface, &rect), S_OK);
    EXPECT_EQ(rect.right, 64);
    EXPECT_EQ(rect.bottom, 48);
    DDSURFACEDESC desc{};
    ASSERT_EQ(surface->Lock(nullptr, &desc, 0, nullptr), S_OK);
    EXPECT_EQ(desc.dwWidth, 64u);
    EXPECT_EQ(desc.dwHeight, 48u);
    // The last frame (number 4 of the second movie) fills the whole surface.
    const auto* pixels = static_cast<const uint32_t*>(desc.lpSurface);
    for (int at : {0, 24 * 64 + 32, 47 * 64 + 63})
        EXPECT_NEAR(int(pixels[at] & 0xFF), int(Media_FrameColour(4) & 0xFF), 24);
    surface->Unlock(nullptr);
    surface->Release();
}

TEST_F(DShowTest, AnUpdateGivesTheFrameDueNowSkippingLateOnes) {
    TempGameFolder folder;
    std::string error;
    MediaMovieSpec spec;
    spec.frames = 30;
    spec.fps = 30;
    spec.audio = false;
    ASSERT_TRUE(Media_WriteMovie(folder.Path() + "/m.dat", spec, &error)) << error;
    OpenedMovie m("m.dat");
    // Polled every 80 ms, never on a frame's edge: each poll shows the frame whose time holds the clock.
    std::vector<std::pair<int, int>> shown = m.Play(80, 5);
    ASSERT_GE(shown.size(), 12u);
    for (const auto& [now, start] : shown) {
        int due = std::min(29, now * 30 / 1000);
        EXPECT_NEAR(start, due * 1000 / 30, 2) << "polled at " << now << " ms";
    }
    EXPECT_NEAR(shown.back().second, 29 * 1000 / 30, 2);  // the last frame is never skipped
}

TEST_F(DShowTest, AMovieWithoutSoundShowsItsFirstFrameWhenFirstPolledLate) {
    TempGameFolder folder;
    std::string error;
    MediaMovieSpec spec;
    spec.frames = 10;
    spec.audio = false;
    ASSERT_TRUE(Media_WriteMovie(folder.Path() + "/m.dat", spec, &error)) << error;
    OpenedMovie m("m.dat");
    // The first poll comes when frame 0's time has just passed.
    std::vector<std::pair<int, int>> shown = m.Play(40, 40);
    ASSERT_GE(shown.size(), 2u);
    EXPECT_EQ(shown[0], std::make_pair(40, 0));
    EXPECT_EQ(shown[1], std::make_pair(80, 80)) << "then the frame due, frame 1 dropped";
}

TEST_F(DShowTest, AfterASeekTheFirstFrameShownIsTheOneAtTheTarget) {
    TempGameFolder folder;
    std::string error;
    MediaMovieSpec spec;
    spec.frames = 30;
    spec.fps = 30;
    spec.audio = false;
    ASSERT_TRUE(Media_WriteMovie(folder.Path() + "/m.dat", spec, &error)) << error;
    OpenedMovie m("m.dat");
    // Frame 18 follows the key frame 15: the frames between are decoded and dropped.
    ASSERT_EQ(m.position->put_CurrentPosition(0.61), S_OK);
    ASSERT_EQ(m.control->Run(), S_OK);
    HRESULT hr = m.sample->Update(SSUPDATE_ASYNC, nullptr, nullptr, 0);
    for (int i = 0; i < 10 && hr == MS_S_PENDING; ++i) {
        DShow_SeamAdvance(10);
        hr = m.sample->CompletionStatus(COMPSTAT_NOUPDATEOK, 0);
    }
    ASSERT_EQ(hr, S_OK);
    STREAM_TIME start = 0, end = 0;
    m.sample->GetSampleTimes(&start, &end, nullptr);
    EXPECT_NEAR(static_cast<double>(start), 6000000.0, 20000.0);
    // And it is that frame's own picture.
    IDirectDrawSurface* surface = nullptr;
    ASSERT_EQ(m.sample->GetSurface(&surface, nullptr), S_OK);
    DDSURFACEDESC desc{};
    ASSERT_EQ(surface->Lock(nullptr, &desc, 0, nullptr), S_OK);
    uint32_t pixel = static_cast<uint32_t*>(desc.lpSurface)[24 * 64 + 32] & 0xFFFFFF;
    surface->Unlock(nullptr);
    surface->Release();
    uint32_t want = Media_FrameColour(18);
    for (int shift : {0, 8, 16})
        EXPECT_NEAR(static_cast<int>((pixel >> shift) & 0xFF), static_cast<int>((want >> shift) & 0xFF), 24) << shift;
}

TEST_F(DShowTest, FiltersByClassIdAndTheirFailures) {
    auto* splitter = Create<IBaseFilter>(CLSID_MPEG1Splitter, IID_IBaseFilter);
    IPin* pin = nullptr;
    EXPECT_EQ(splitter->FindPin("Output", &pin), VFW_E_NOT_FOUND);  // only a file source has one
    splitter->Release();
    auto* dmo = Create<IBaseFilter>(CLSID_DMOWrapperFilter, IID_IBaseFilter);
    void* p = nullptr;
    ASSERT_EQ(dmo->QueryInterface(IID_IDMOWrapperFilter, &p), S_OK);
    static_cast<IDMOWrapperFilter*>(p)->Release();
    dmo->Release();
    DShow_Seam().failClasses = {CLSID_MP3Decoder.Data1};
    EXPECT_NE(CoCreateInstance(CLSID_MP3Decoder, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, &p), S_OK);
    EXPECT_EQ(p, nullptr);
}

}  // namespace
