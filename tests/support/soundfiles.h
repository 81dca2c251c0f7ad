// Sample data for the sound tests (their WAV files are built by the media
// fixtures' MakeWav) and the sound tests' fixture.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/lib/media_fixtures.h"

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
