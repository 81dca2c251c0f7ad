#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "base/memory.h"
#include "base/sample.h"
#include "support/logcapture.h"
#include "support/soundfiles.h"
#include "support/gamefolder.h"
#include "system/sound.h"

namespace {

QelSampleDesc* Load(const std::vector<uint8_t>& bytes, uint16_t flags = 0) {
    return Qel_LoadSample(bytes.data(), static_cast<uint32_t>(bytes.size()), flags);
}

struct WavCase {
    const char* name;
    std::function<void(WavSpec&)> change;
    bool loads;
};

class WavParse : public testing::TestWithParam<WavCase> {};

TEST_P(WavParse, AcceptsOnlyMonoPcmThatFitsTheFile) {
    WavSpec spec;
    spec.data = RampBytes(64);
    GetParam().change(spec);
    LogCapture capture;
    QelSampleDesc* d = Load(MakeWav(spec));
    capture.Take();
    EXPECT_EQ(d != nullptr, GetParam().loads);
    if (d) {
        EXPECT_EQ(d->length, spec.data.size());
        EXPECT_EQ(0, std::memcmp(d->data, spec.data.data(), spec.data.size()));
        EXPECT_EQ(d->ready, 1u);
    }
    Qel_FreeSampleDesc(d);
}

INSTANTIATE_TEST_SUITE_P(Cases, WavParse,
                         testing::Values(WavCase{"Mono16", [](WavSpec&) {}, true},
                                         WavCase{"Mono8", [](WavSpec& s) { s.bits = 8; }, true},
                                         WavCase{"Stereo", [](WavSpec& s) { s.channels = 2; }, false},
                                         WavCase{"NotPcm", [](WavSpec& s) { s.formatTag = 3; }, false},
                                         WavCase{"RiffLargerThanFile", [](WavSpec& s) { s.riffSizeDelta = 1; }, false},
                                         WavCase{"ListChunkBeforeData",
                                                 [](WavSpec& s) {
                                                     s.chunksBefore = {{"LIST", RampBytes(27)}};
                                                 },
                                                 true},
                                         WavCase{"EighteenByteFormat", [](WavSpec& s) { s.fmtSize = 18; }, true},
                                         WavCase{"FewDataBytes", [](WavSpec& s) { s.data = RampBytes(2); }, true},
                                         WavCase{"DataLargerThanFile",
                                                 [](WavSpec& s) {
                                                     s.dataSizeDelta = 2;
                                                     s.riffSizeDelta = -2;
                                                 },
                                                 false},
                                         WavCase{"Bits24", [](WavSpec& s) { s.bits = 24; }, false},
                                         WavCase{"Bits32", [](WavSpec& s) { s.bits = 32; }, false}),
                         [](const testing::TestParamInfo<WavCase>& info) { return info.param.name; });

TEST(SampleLoad, DescriptorFieldsAndLargeThreshold) {
    WavSpec spec;
    spec.rate = 0x12345;  // only the low 16 bits are kept
    spec.data = RampBytes(QEL_SAMPLE_LARGE_BYTES);
    QelSampleDesc* d = Load(MakeWav(spec), QEL_SAMPLEDESC_3D);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->flags, QEL_SAMPLEDESC_3D | QEL_SAMPLEDESC_16BIT);
    EXPECT_EQ(d->word, 64u);
    EXPECT_EQ(d->rate, 0x2345u);
    EXPECT_EQ(d->resident, QEL_SAMPLE_LARGE_BYTES);
    EXPECT_EQ(d->streamed, 0u);
    Qel_FreeSampleDesc(d);

    spec.data.push_back(1);
    d = Load(MakeWav(spec));
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(d->flags & QEL_SAMPLEDESC_LARGE);
    EXPECT_EQ(d->resident, 0u);
    EXPECT_EQ(d->streamed, QEL_SAMPLE_LARGE_BYTES + 1);
    EXPECT_EQ(d->length3, QEL_SAMPLE_LARGE_BYTES + 1);
    Qel_FreeSampleDesc(d);
}

TEST(SampleLoad, EightBitSignFlipAndEmptyData) {
    WavSpec spec;
    spec.bits = 8;
    spec.data = {0, 0x80, 0xFF};
    QelSampleDesc* d = Load(MakeWav(spec), QEL_SAMPLEDESC_SIGNFLIP);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->data[0], 0x80);
    EXPECT_EQ(d->data[1], 0x00);
    EXPECT_EQ(d->data[2], 0x7F);
    Qel_FreeSampleDesc(d);

    spec.data.clear();
    d = Load(MakeWav(spec));
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->data, nullptr);
    EXPECT_EQ(d->ready, 0u);
    Qel_FreeSampleDesc(d);
}

TEST(SampleLoad, NoDataChunkIsReported) {
    std::vector<uint8_t> wav = MakeWav(WavSpec{});
    std::memcpy(wav.data() + 36, "junk", 4);
    LogCapture capture;
    EXPECT_EQ(Load(wav), nullptr);
    EXPECT_NE(capture.Take().find("Qel_LoadSample() wrong audio format!\n"), std::string::npos);
}

class SampleOpen : public SoundFixture {};

TEST_F(SampleOpen, OpensByNameOrWithWavAndFillsTheRecord) {
    TempGameFolder folder;
    WavSpec spec;
    spec.rate = 0;
    spec.data = RampBytes(10);
    folder.WriteBytes("sfx/boom.wav", MakeWav(spec));
    ASSERT_TRUE(StartSound());
    QelSample* s = Qel_OpenSoundFX("sfx\\boom", QEL_SAMPLE_WANT_3D);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->frequency, 1024u);
    EXPECT_EQ(s->volume, 255);
    EXPECT_EQ(s->bytesPerSample, 2);
    EXPECT_EQ(s->flags, QEL_SAMPLE_WANT_3D | QEL_SAMPLE_HAS_DESC);
    EXPECT_EQ(s->length, 10u);
    EXPECT_EQ(s->playLength, 10u);
    EXPECT_TRUE(s->descriptor->flags & QEL_SAMPLEDESC_3D);
    EXPECT_EQ(Qel_SetSampleVolume(s, 100), 100u);
    EXPECT_EQ(s->volume, 100);
    EXPECT_EQ(S_SampleReset(s->descriptor)->ready, 0u);
    Qel_FreeSample(s);
}

TEST_F(SampleOpen, FailuresFreeTheRecord) {
    TempGameFolder folder;
    WavSpec stereo;
    stereo.channels = 2;
    stereo.data = RampBytes(8);
    folder.WriteBytes("stereo.wav", MakeWav(stereo));
    ASSERT_TRUE(StartSound());
    int64_t before = Int_GetTagMem(SOUND_MEM_TAG);
    sys_.debugFlags = 2;
    LogCapture capture;
    EXPECT_EQ(Qel_OpenSoundFX("missing", 0), nullptr);
    EXPECT_EQ(Qel_OpenSoundFX("stereo", 0), nullptr);
    std::string log = capture.Take();
    EXPECT_NE(log.find("no known Samplename for missing\n"), std::string::npos);
    EXPECT_NE(log.find("Qel_OpenSoundFX: ERROR returning for stereo!"), std::string::npos);
    EXPECT_EQ(Int_GetTagMem(SOUND_MEM_TAG), before);
}

TEST_F(SampleOpen, SoundOffRefusesOpenAndStart) {
    TempGameFolder folder;
    WavSpec spec;
    spec.data = RampBytes(8);
    folder.WriteBytes("a.wav", MakeWav(spec));
    ASSERT_NE(S_InitDS3D(SOUND_FLAG_RUNNING | SOUND_FLAG_OFF), nullptr);
    EXPECT_EQ(Qel_OpenSoundFX("a", 0), nullptr);
    QelSample fake{};
    EXPECT_EQ(Qel_StartSoundEffect(&fake, 0, 0, 0, 0, 0), 0xFFFF);
}

TEST_F(SampleOpen, ContinueOnlyReports) {
    TempGameFolder folder;
    WavSpec spec;
    spec.data = RampBytes(QEL_SAMPLE_LARGE_BYTES + 2);
    folder.WriteBytes("big.wav", MakeWav(spec));
    spec.data = RampBytes(4);
    folder.WriteBytes("small.wav", MakeWav(spec));
    ASSERT_TRUE(StartSound());
    QelSample* big = Qel_OpenSoundFX("big", 0);
    QelSample* small = Qel_OpenSoundFX("small", 0);
    ASSERT_NE(big, nullptr);
    ASSERT_NE(small, nullptr);
    EXPECT_TRUE(big->flags & QEL_SAMPLE_LARGE);
    sys_.debugFlags = 1;
    LogCapture capture;
    EXPECT_EQ(Qel_ContinueSoundEffect(big), 0);
    EXPECT_EQ(Qel_ContinueSoundEffect(small), 0);
    std::string log = capture.Take();
    EXPECT_NE(log.find("continue Sample big erfolgreich beendet!\n"), std::string::npos);
    EXPECT_NE(log.find("ERROR: Qel_ContinueSoundEffect 0 (small)\n"), std::string::npos);
    Qel_FreeSample(big);
    Qel_FreeSample(small);
}

}  // namespace
