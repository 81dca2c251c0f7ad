#include "soundfiles.h"

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
