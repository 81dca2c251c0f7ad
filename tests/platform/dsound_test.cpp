#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/dsound/dsound.h"
#include "platform/dsound/seam.h"

namespace {

constexpr uint32_t kRate = 22050;

// Peak of each output channel over a rendered block.
struct Peaks {
    int left = 0, right = 0;
};
Peaks Render(int frames) {
    std::vector<int16_t> out(static_cast<size_t>(frames) * 2);
    EXPECT_TRUE(DSound_SeamRender(out.data(), frames));
    Peaks p;
    for (int i = 0; i < frames; ++i) {
        p.left = std::max(p.left, std::abs(static_cast<int>(out[2 * i])));
        p.right = std::max(p.right, std::abs(static_cast<int>(out[2 * i + 1])));
    }
    return p;
}

class DSoundTest : public testing::Test {
protected:
    void SetUp() override {
        DSound_ResetSeam();
        DSound_Seam().loopback = true;
        DSound_Seam().loopbackRate = kRate;
        ASSERT_EQ(DirectSoundCreate8(nullptr, &ds_, nullptr), DS_OK);
        ASSERT_EQ(ds_->SetCooperativeLevel(nullptr, DSSCL_PRIORITY), DS_OK);
    }
    void TearDown() override {
        for (IDirectSoundBuffer8* b : buffers_) b->Release();
        if (ds_) {
            EXPECT_EQ(ds_->Release(), 0u);
        }
        EXPECT_EQ(DSound_LiveObjects(), 0);
        DSound_ResetSeam();
    }
    IDirectSoundBuffer8* Make(DWORD flags, const std::vector<uint8_t>& bytes, uint16_t channels = 1) {
        WAVEFORMATEX f{
            WAVE_FORMAT_PCM, channels, kRate, kRate * 2u * channels, static_cast<uint16_t>(2 * channels), 16, 0};
        DSBUFFERDESC d{sizeof(DSBUFFERDESC), flags, static_cast<DWORD>(bytes.size()), 0, &f, {}};
        IDirectSoundBuffer8* b = nullptr;
        EXPECT_EQ(ds_->CreateSoundBuffer(&d, &b, nullptr), DS_OK);
        if (!b) return nullptr;
        void *p1, *p2;
        DWORD n1, n2;
        EXPECT_EQ(b->Lock(0, static_cast<DWORD>(bytes.size()), &p1, &n1, &p2, &n2, 0), DS_OK);
        std::memcpy(p1, bytes.data(), n1);
        EXPECT_EQ(b->Unlock(p1, n1, p2, n2), DS_OK);
        buffers_.push_back(b);
        return b;
    }
    static std::vector<uint8_t> Square(size_t samples, int16_t amp) {
        std::vector<uint8_t> v(samples * 2);
        for (size_t i = 0; i < samples; ++i) {
            int16_t s = (i / 25) % 2 ? amp : static_cast<int16_t>(-amp);
            std::memcpy(&v[2 * i], &s, 2);
        }
        return v;
    }
    IDirectSound8* ds_ = nullptr;
    std::vector<IDirectSoundBuffer8*> buffers_;
};

constexpr DWORD k2D = DSBCAPS_STATIC | DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPAN | DSBCAPS_CTRLFREQUENCY;

TEST_F(DSoundTest, VolumeAndPanShapeWhatIsHeard) {
    IDirectSoundBuffer8* b = Make(k2D, Square(kRate, 16000));
    ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    Peaks centre = Render(2205);
    EXPECT_GT(centre.left, 3000);
    EXPECT_NEAR(centre.left, centre.right, centre.left / 10);

    ASSERT_EQ(b->SetVolume(-2000), DS_OK);  // −20 dB: a tenth
    Render(1024);                           // let the gain settle
    Peaks quiet = Render(2205);
    EXPECT_NEAR(quiet.left, centre.left / 10, centre.left / 25);

    ASSERT_EQ(b->SetVolume(0), DS_OK);
    ASSERT_EQ(b->SetPan(DSBPAN_LEFT), DS_OK);
    Render(1024);
    Peaks left = Render(2205);
    EXPECT_GT(left.left, centre.left);
    EXPECT_LT(left.right, left.left / 20);

    EXPECT_EQ(b->SetVolume(1), DSERR_INVALIDPARAM);
    EXPECT_EQ(b->SetPan(10001), DSERR_INVALIDPARAM);
    ASSERT_EQ(b->Stop(), DS_OK);
    DWORD status = 0;
    ASSERT_EQ(b->GetStatus(&status), DS_OK);
    EXPECT_EQ(status & DSBSTATUS_PLAYING, 0u);
}

TEST_F(DSoundTest, PrimaryVolumeIsTheListenerGain) {
    DSBUFFERDESC d{
        sizeof(DSBUFFERDESC), DSBCAPS_PRIMARYBUFFER | DSBCAPS_CTRL3D | DSBCAPS_CTRLVOLUME, 0, 0, nullptr, {}};
    IDirectSoundBuffer8* primary = nullptr;
    ASSERT_EQ(ds_->CreateSoundBuffer(&d, &primary, nullptr), DS_OK);
    buffers_.push_back(primary);
    ASSERT_EQ(primary->SetVolume(-600), DS_OK);
    EXPECT_NEAR(DSound_ListenerState().gain, std::pow(10.0f, -0.3f), 1e-5);
    EXPECT_FLOAT_EQ(DS_VolumeToGain(DSBVOLUME_MIN), 0.0f);
    EXPECT_FLOAT_EQ(DS_VolumeToGain(-2000), 0.1f);
}

TEST_F(DSoundTest, StreamingBufferPlaysFromItsRingAndKeepsItsPosition) {
    size_t bytes = kRate * 2;  // one second
    IDirectSoundBuffer8* b = Make(DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_CTRLVOLUME, Square(kRate, 12000));
    DWORD play = 1, write = 1;
    ASSERT_EQ(b->GetCurrentPosition(&play, &write), DS_OK);
    EXPECT_EQ(play, 0u);
    ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    EXPECT_GT(Render(kRate / 4).left, 3000);  // a quarter second
    ASSERT_EQ(b->GetCurrentPosition(&play, &write), DS_OK);
    EXPECT_NEAR(static_cast<double>(play), bytes / 4.0, bytes / 40.0);
    EXPECT_GT((write + bytes - play) % bytes, 0u);  // written ahead of the play cursor

    // Rewriting the region ahead of the write cursor is heard.
    void *p1, *p2;
    DWORD n1, n2;
    ASSERT_EQ(b->Lock(write, static_cast<DWORD>(bytes / 2), &p1, &n1, &p2, &n2, 0), DS_OK);
    std::memset(p1, 0, n1);
    if (p2) std::memset(p2, 0, n2);
    ASSERT_EQ(b->Unlock(p1, n1, p2, n2), DS_OK);
    Render(kRate / 4);  // past the data queued before the write
    EXPECT_LT(Render(kRate / 10).left, 100);

    ASSERT_EQ(b->Stop(), DS_OK);
    DWORD stopped = 0;
    b->GetCurrentPosition(&stopped, nullptr);
    Render(kRate / 10);
    DWORD later = 0;
    b->GetCurrentPosition(&later, nullptr);
    EXPECT_EQ(stopped, later);
}

TEST_F(DSoundTest, ThreeDSettingsWaitForTheCommit) {
    DSBUFFERDESC d{sizeof(DSBUFFERDESC), DSBCAPS_PRIMARYBUFFER | DSBCAPS_CTRL3D, 0, 0, nullptr, {}};
    IDirectSoundBuffer8* primary = nullptr;
    ASSERT_EQ(ds_->CreateSoundBuffer(&d, &primary, nullptr), DS_OK);
    buffers_.push_back(primary);
    void* p = nullptr;
    ASSERT_EQ(primary->QueryInterface(IID_IDirectSound3DListener, &p), DS_OK);
    auto* listener = static_cast<IDirectSound3DListener8*>(p);
    IDirectSoundBuffer8* b = Make(DSBCAPS_STATIC | DSBCAPS_CTRL3D | DSBCAPS_CTRLVOLUME, Square(2000, 1000));
    ASSERT_EQ(b->QueryInterface(IID_IDirectSound3DBuffer, &p), DS_OK);
    auto* b3 = static_cast<IDirectSound3DBuffer8*>(p);
    EXPECT_EQ(b->SetPan(0), DSERR_CONTROLUNAVAIL);

    ASSERT_EQ(b3->SetPosition(1, 2, 3, DS3D_DEFERRED), DS_OK);
    ASSERT_EQ(listener->SetRolloffFactor(2.0f, DS3D_DEFERRED), DS_OK);
    EXPECT_FLOAT_EQ(DSound_SourceState(b).position[2], 0.0f);
    ASSERT_EQ(listener->CommitDeferredSettings(), DS_OK);
    DSoundSourceState s = DSound_SourceState(b);
    EXPECT_FLOAT_EQ(s.position[2], -3.0f);
    EXPECT_FLOAT_EQ(s.rolloff, 2.0f);
    ASSERT_EQ(b3->SetMinDistance(5.0f, DS3D_IMMEDIATE), DS_OK);
    EXPECT_FLOAT_EQ(DSound_SourceState(b).referenceDistance, 5.0f);
    EXPECT_EQ(b3->SetConeAngles(400, 10, DS3D_IMMEDIATE), DSERR_INVALIDPARAM);

    // The 3D interface counts on its own; the seam can report leftover references.
    DSound_Seam().releaseExtraRefs = 0;
    EXPECT_EQ(b3->Release(), 0u);
    EXPECT_EQ(listener->Release(), 0u);
}

TEST_F(DSoundTest, RefusedBuffersAndObjectsByClassId) {
    WAVEFORMATEX stereo{WAVE_FORMAT_PCM, 2, kRate, kRate * 4, 4, 16, 0};
    DSBUFFERDESC d{sizeof(DSBUFFERDESC), DSBCAPS_STATIC | DSBCAPS_CTRL3D, 64, 0, &stereo, {}};
    IDirectSoundBuffer8* b = nullptr;
    EXPECT_EQ(ds_->CreateSoundBuffer(&d, &b, nullptr), DSERR_INVALIDPARAM);  // 3D needs mono
    WAVEFORMATEX bits24{WAVE_FORMAT_PCM, 1, kRate, kRate * 3, 3, 24, 0};
    d = DSBUFFERDESC{sizeof(DSBUFFERDESC), DSBCAPS_STATIC, 64, 0, &bits24, {}};
    EXPECT_EQ(ds_->CreateSoundBuffer(&d, &b, nullptr), DSERR_BADFORMAT);
    d.dwBufferBytes = 0;
    EXPECT_EQ(ds_->CreateSoundBuffer(&d, &b, nullptr), DSERR_INVALIDPARAM);

    void* obj = nullptr;
    DSound_RegisterClasses();
    ASSERT_EQ(CoCreateInstance(CLSID_EAXDirectSound8, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectSound8, &obj), DS_OK);
    auto* eax = static_cast<IDirectSound8*>(obj);
    DSCAPS caps{};
    caps.dwSize = sizeof caps;
    EXPECT_EQ(eax->GetCaps(&caps), DSERR_UNINITIALIZED);
    ASSERT_EQ(eax->Initialize(nullptr), DS_OK);
    EXPECT_EQ(eax->Initialize(nullptr), DSERR_ALREADYINITIALIZED);
    EXPECT_EQ(eax->GetCaps(&caps), DS_OK);
    EXPECT_TRUE(caps.dwFlags & DSCAPS_SECONDARY16BIT);
    EXPECT_EQ(eax->Release(), 0u);

    DSound_Seam().failEAXClass = true;
    EXPECT_EQ(CoCreateInstance(CLSID_EAXDirectSound8, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectSound8, &obj),
              DSERR_CLASSNOTAVAILABLE);
}

}  // namespace
