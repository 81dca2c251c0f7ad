#include "soundfiles.h"

namespace {
void Put16(std::vector<uint8_t>& v, uint16_t x) {
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
}
void Put32(std::vector<uint8_t>& v, uint32_t x) {
    Put16(v, static_cast<uint16_t>(x));
    Put16(v, static_cast<uint16_t>(x >> 16));
}
void PutId(std::vector<uint8_t>& v, const char* id) { v.insert(v.end(), id, id + 4); }
}  // namespace

std::vector<uint8_t> MakeWav(const WavSpec& s) {
    std::vector<uint8_t> v;
    PutId(v, "RIFF");
    Put32(v, 0);
    PutId(v, "WAVE");
    PutId(v, "fmt ");
    Put32(v, s.fmtSize);
    Put16(v, s.formatTag);
    Put16(v, s.channels);
    Put32(v, s.rate);
    uint16_t align = static_cast<uint16_t>(s.channels * s.bits / 8);
    Put32(v, s.rate * align);
    Put16(v, align);
    Put16(v, s.bits);
    for (uint32_t i = 16; i < s.fmtSize; ++i) v.push_back(0);
    if (s.fmtSize & 1) v.push_back(0);
    for (const auto& [id, body] : s.chunksBefore) {
        PutId(v, id.c_str());
        Put32(v, static_cast<uint32_t>(body.size()));
        v.insert(v.end(), body.begin(), body.end());
        if (body.size() & 1) v.push_back(0);
    }
    PutId(v, "data");
    Put32(v, static_cast<uint32_t>(static_cast<int64_t>(s.data.size()) + s.dataSizeDelta));
    v.insert(v.end(), s.data.begin(), s.data.end());
    uint32_t riff = static_cast<uint32_t>(static_cast<int64_t>(v.size()) - 8 + s.riffSizeDelta);
    for (int i = 0; i < 4; ++i) v[4 + i] = static_cast<uint8_t>(riff >> (8 * i));
    return v;
}

std::vector<uint8_t> RampBytes(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + 3);
    return v;
}

std::vector<uint8_t> Square16(size_t samples, int16_t amplitude, size_t period) {
    std::vector<uint8_t> v;
    v.reserve(samples * 2);
    for (size_t i = 0; i < samples; ++i) {
        int16_t s = (i % period) < period / 2 ? amplitude : static_cast<int16_t>(-amplitude);
        v.push_back(static_cast<uint8_t>(s));
        v.push_back(static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8));
    }
    return v;
}

#include "platform/dsound/mci.h"
#include "platform/dsound/seam.h"
#include "platform/win32/memory.h"
#include "system/entry.h"
#include "system/sound.h"
#include "system/window.h"

void SoundFixture::SetUp() {
    saved_ = g_SystemState;
    g_SystemState = &sys_;
    sys_.fxVolume = 255;  // the settings' default
    g_ApplicationRecord = ApplicationRecord{};
    DSound_ResetSeam();
    Mci_ResetSeam();
    Win32_ResetMessages();
}

void SoundFixture::TearDown() {
    if (g_SoundState) S_CloseAudio();
    g_Win32MemorySeam = Win32MemorySeam{};
    EXPECT_EQ(DSound_LiveObjects(), 0);
    DSound_ResetSeam();
    Mci_ResetSeam();
    Win32_ResetMessages();
    S_WindowLinks = WindowLinks{};
    g_ApplicationRecord = ApplicationRecord{};
    g_SystemState = saved_;
}

bool SoundFixture::StartSound(uint32_t extraFlags) { return S_InitDS3D(SOUND_FLAG_RUNNING | extraFlags) != nullptr; }
