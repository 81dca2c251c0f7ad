#include <gtest/gtest.h>

#include <string>

#include "base/general.h"
#include "platform/win32/timer.h"
#include "support/logcapture.h"
#include "system/clock.h"
#include "system/settings.h"
#include "system/video.h"

namespace {

// A counter of 1 MHz driven by the test: 1000 ticks per millisecond.
class ClockTest : public testing::Test {
protected:
    void SetUp() override {
        saved_ = g_SystemState;
        g_SystemState = &sys_;
        Win32_SetTimerSeam(&seam_);
        ASSERT_EQ(S_InitTimer(), 1);
    }
    void TearDown() override {
        Win32_SetTimerSeam(nullptr);
        g_SystemState = saved_;
    }
    // Moves the counter on by ms (fractions allowed) and reads the clocks.
    void Elapse(double ms) {
        seam_.counter += static_cast<int64_t>(ms * 1000.0);
        S_ReadSystemClock();
    }

    SystemState sys_{};
    SystemState* saved_ = nullptr;
    Win32TimerSeam seam_{5000000, 1000000, false, false};
};

struct StepCase {
    int32_t scale;
    double frameMs;
    int32_t gameStep;
    int32_t realStep;
};

TEST_F(ClockTest, GameStepIsClampedAndScaled) {
    const StepCase cases[] = {
        {65536, 0, 1, 0},  // same millisecond: still one scaled ms
        {65536, 16, 16, 16},      {65536, 200, 200, 200},
        {65536, 5000, 200, 5000},  // a stall: game time moves 200 ms only
        {32768, 3, 2, 3},          // (3 * 32768 + 32768) >> 16
        {131072, 250, 400, 250},  {0, 10, 0, 10},
    };
    for (const StepCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "scale " << c.scale << " frame " << c.frameMs);
        sys_.gameTimeScale = c.scale;
        sys_.gameClock = 1000;
        sys_.realClock = 1000;
        Elapse(c.frameMs);
        EXPECT_EQ(sys_.gameClock, 1000 + c.gameStep);
        EXPECT_EQ(sys_.realClock, 1000 + c.realStep);
    }
}

TEST_F(ClockTest, RemainderTicksCountTowardsTheNextReading) {
    sys_.realClock = 0;
    Elapse(1.5);
    EXPECT_EQ(sys_.realClock, 1);
    Elapse(1.5);
    EXPECT_EQ(sys_.realClock, 3);
}

TEST_F(ClockTest, OneShotStepIsExactAndUsedOnce) {
    sys_.gameTimeScale = 0;
    sys_.gameClock = 500;
    EXPECT_EQ(S_SetTimeStep(33), 33);
    Elapse(5);
    EXPECT_EQ(sys_.gameClock, 533);
    Elapse(5);
    EXPECT_EQ(sys_.gameClock, 533);  // scale 0 again
}

TEST_F(ClockTest, ClocksWrapAndStayInRange) {
    sys_.gameClock = 32399990;
    S_SetTimeStep(20);
    Elapse(1);
    EXPECT_EQ(sys_.gameClock, 10);

    // A step of more than a whole turn, and a stall of 20 hours.
    sys_.gameClock = 1000;
    S_SetTimeStep(100000000);
    sys_.realClock = 32000000;
    Elapse(20.0 * 3600 * 1000);
    EXPECT_EQ(sys_.gameClock, (1000 + 100000000) % S_CLOCK_SPAN);
    EXPECT_EQ(sys_.realClock, static_cast<int32_t>((32000000LL + 72000000LL) % S_CLOCK_SPAN));

    sys_.gameClock = 300;
    S_SetTimeStep(-500);
    Elapse(0);
    EXPECT_EQ(sys_.gameClock, 32399800);
}

TEST(ClockArithmetic, AdvanceAndDifference) {
    EXPECT_EQ(S_ClockAdvance(32399990, 20), 10);
    EXPECT_EQ(S_ClockAdvance(300, -500), 32399800);
    EXPECT_EQ(S_ClockAdvance(0, -S_CLOCK_SPAN * 3 - 1), S_CLOCK_SPAN - 1);
    EXPECT_EQ(S_ClockAdvance(-5, 0), S_CLOCK_SPAN - 5);
    EXPECT_EQ(S_ClockDiff(10, 32399990), 20);
    EXPECT_EQ(S_ClockDiff(32399990, 10), -20);
    EXPECT_EQ(S_ClockDiff(16200000, 0), 16200000);
    EXPECT_EQ(S_ClockDiff(0, 16200000), -16200000);
    EXPECT_EQ(S_ClockDiff(7, 7), 0);
}

TEST_F(ClockTest, DeltaReadersFoldAndNeverReadZero) {
    sys_.realClock = 32399990;
    S_GetRealTimeDelta();
    sys_.realClock = 10;
    EXPECT_EQ(S_GetRealTimeDelta(), 20);  // across the wrap
    EXPECT_EQ(S_GetRealTimeDelta(), 1);   // nothing happened: 1, not 0
    sys_.realClock = 10 + 40000;
    EXPECT_EQ(S_GetRealTimeDelta(), 1);  // over-long
    sys_.realClock = 5;
    EXPECT_EQ(S_GetRealTimeDelta(), 1);  // backwards

    sys_.gameTimeScale = 65536;
    S_ResetTimeDeltas();
    seam_.counter += 40000;
    EXPECT_EQ(S_GetTimeDelta(), 40);
}

TEST_F(ClockTest, CounterFailuresAreLoggedAndChangeNothing) {
    sys_.gameClock = 77;
    sys_.realClock = 88;
    seam_.counterFails = true;
    LogCapture capture;
    EXPECT_EQ(S_ReadSystemClock(), 0);
    EXPECT_NE(capture.Take().find("S_ReadSystemClock() Unable to QueryPerformanceCounter()\n"), std::string::npos);
    EXPECT_EQ(sys_.gameClock, 77);
    EXPECT_EQ(sys_.realClock, 88);

    seam_.counterFails = false;
    seam_.frequencyFails = true;
    capture.Take();
    EXPECT_EQ(S_InitTimer(), 0);
    EXPECT_NE(capture.Take().find("S_InitTimer() Unable to QueryPerformanceFrequency()\n"), std::string::npos);
}

TEST_F(ClockTest, ZeroFrequencyStopsRealTimeWithoutDividing) {
    seam_.frequency = 0;
    ASSERT_EQ(S_InitTimer(), 1);
    sys_.gameClock = 0;
    sys_.realClock = 0;
    Elapse(1000);
    EXPECT_EQ(sys_.realClock, 0);
    EXPECT_EQ(sys_.gameClock, 1);
}

TEST_F(ClockTest, FramesPerSecond) {
    LogCapture capture;
    sys_.debugFlags = 4;
    S_updateFpsTimer();  // frame counter did not move since the start
    EXPECT_NE(capture.Take().find("S_updateFpsTimer() already updated this frame\n"), std::string::npos);

    for (int frame = 1; frame <= 40; ++frame) {
        sys_.frameCounter = frame;
        sys_.realFrameDelta = 25;
        S_updateFpsTimer();
        EXPECT_EQ(sys_.instantFps, 40);
        if (frame == 39) {
            EXPECT_EQ(sys_.averageFps, 0);  // 975 ms: not yet a second
        }
    }
    EXPECT_EQ(sys_.averageFps, 40);  // 40 frames in 1000 ms

    sys_.realFrameDelta = 7;
    S_updateFpsTimer();  // same frame again: nothing changes
    EXPECT_EQ(sys_.instantFps, 40);
}

// A headless run at a fixed step: each frame is one step of game time however
// long it really took, and readings later in the frame add nothing.
TEST_F(ClockTest, AFixedFrameStepMovesTheGameClockOneStepAFrame) {
    struct FrameCase {
        int32_t scale;
        double realMs;  // what the frame really took
        int32_t gameStep;
    };
    const FrameCase cases[] = {{65536, 0, 50}, {65536, 3, 50}, {65536, 5000, 50}, {32768, 16, 25}};
    S_SetFixedFrameStep(50);
    for (const FrameCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "scale " << c.scale << " real " << c.realMs);
        sys_.gameTimeScale = c.scale;
        const int32_t game = sys_.gameClock;
        const int32_t real = sys_.realClock;
        sys_.frameCounter++;
        seam_.counter += static_cast<int64_t>(c.realMs * 1000.0);
        EXPECT_EQ(S_GetTimeDelta(), c.gameStep);
        Elapse(7);  // a story's own clock reading in the same frame
        S_ResetTimeDeltas();
        EXPECT_EQ(sys_.gameClock, game + c.gameStep);
        EXPECT_EQ(sys_.realClock, real + static_cast<int32_t>(c.realMs) + 7);
    }
    // A captured frame still takes its own exact step, once.
    sys_.gameTimeScale = 65536;
    const int32_t game = sys_.gameClock;
    sys_.frameCounter++;
    S_SetTimeStep(33);
    Elapse(1);
    Elapse(1);
    EXPECT_EQ(sys_.gameClock, game + 33);
    S_SetFixedFrameStep(0);
}

TEST(FrameStep, ReadFromTheEnvironmentValue) {
    const struct {
        const char* text;
        int32_t step;
    } cases[] = {{nullptr, 0}, {"", 0},     {"50", 50}, {"1", 1},     {"0", 0},
                 {"-5", 0},    {"50ms", 0}, {"abc", 0}, {"200", 200}, {"1000", 200}};
    for (const auto& c : cases) EXPECT_EQ(S_ParseFrameStep(c.text), c.step) << (c.text ? c.text : "(none)");
}

// Presents wait for the refresh where the device can, except where the frames
// are measured or run at a fixed step.
TEST(PresentInterval, PacedUnlessMeasuredOrStepped) {
    const DWORD both = D3DPRESENT_INTERVAL_ONE | D3DPRESENT_INTERVAL_IMMEDIATE;
    const struct {
        DWORD offered;
        uint32_t profiling;
        int32_t step;
        DWORD chosen;
    } cases[] = {{both, 0, 0, D3DPRESENT_INTERVAL_ONE},
                 {D3DPRESENT_INTERVAL_IMMEDIATE, 0, 0, D3DPRESENT_INTERVAL_IMMEDIATE},
                 {both, SYSPROF_BENCHMARK, 0, D3DPRESENT_INTERVAL_IMMEDIATE},
                 {both, 0, 50, D3DPRESENT_INTERVAL_IMMEDIATE},
                 {both, 0x200, 0, D3DPRESENT_INTERVAL_ONE}};
    for (const auto& c : cases)
        EXPECT_EQ(S_PresentInterval(c.offered, c.profiling, c.step), c.chosen)
            << c.offered << " " << c.profiling << " " << c.step;
}

}  // namespace
