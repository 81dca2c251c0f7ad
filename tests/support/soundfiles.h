// WAV files for the sound tests, built byte by byte.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct WavSpec {
    uint16_t formatTag = 1;
    uint16_t channels = 1;
    uint32_t rate = 22050;
    uint16_t bits = 16;
    uint32_t fmtSize = 16;  // 18 adds the extra-size word
    std::vector<uint8_t> data;
    std::vector<std::pair<std::string, std::vector<uint8_t>>> chunksBefore;  // between "fmt " and "data"
    int32_t riffSizeDelta = 0;                                               // added to the RIFF size
    int32_t dataSizeDelta = 0;                                               // added to the declared data size
};

std::vector<uint8_t> MakeWav(const WavSpec& spec);
// n bytes of a repeating ramp.
std::vector<uint8_t> RampBytes(size_t n);
// A 16-bit mono square wave of the given amplitude, period in samples.
std::vector<uint8_t> Square16(size_t samples, int16_t amplitude, size_t period);

#include <gtest/gtest.h>

#include "base/general.h"

// A SystemState of its own, fresh DirectSound and multimedia seams, and the
// sound device closed again at the end.
class SoundFixture : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // S_InitDS3D with sound running plus extra flags.
    bool StartSound(uint32_t extraFlags = 0);

    SystemState sys_{};
    SystemState* saved_ = nullptr;
};
