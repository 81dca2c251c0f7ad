// The real-time and game-time clocks (milliseconds in SystemState, wrapping at
// nine hours) and the frame-rate figures.
#pragma once

#include <cstdint>

// Both clocks wrap here; differences between clock values fold at half of it.
constexpr int32_t S_CLOCK_SPAN = 32400000;
constexpr int32_t S_CLOCK_HALF_SPAN = 16200000;

// Clock arithmetic: c advanced by d, back in 0 .. S_CLOCK_SPAN - 1; and a - b
// folded into -16,199,999 .. 16,200,000.
int32_t S_ClockAdvance(int32_t clock, int32_t delta);
int32_t S_ClockDiff(int32_t a, int32_t b);

// Reads the counter frequency and starts both deltas. 1, or 0 without a counter.
int S_InitTimer();
// Advances both clocks from the counter; returns the real clock (0 on failure).
int32_t S_ReadSystemClock();
// Game-clock ms since the last call (reads the counter first); 1 .. 32767.
int32_t S_GetTimeDelta();
// Real-clock ms since the last call, without reading the counter; 1 .. 32767.
int32_t S_GetRealTimeDelta();
void S_ResetTimeDeltas();
// The next game step is exactly ms (unclamped, unscaled); 0 = none. Returns ms.
int32_t S_SetTimeStep(int32_t ms);
// Headless runs may go faster than real time: with TREVAN_FRAME_MS=<ms> in the
// environment (read by S_InitTimer, 1 .. 200) every frame advances the game
// clock as if that many real ms had passed, however long it really took, and
// further clock reads in the same frame add nothing. 0 = real time.
int32_t S_FixedFrameStep();
// Sets it as S_InitTimer does from the environment (0 = real time); the next
// frame is the first to take it.
void S_SetFixedFrameStep(int32_t ms);
// The step an environment value names: 0 for none, a non-number, 0 or less;
// above 200 it is 200, the longest frame the game clock ever takes.
int32_t S_ParseFrameStep(const char* text);
// Once per frame: instant and average frames per second.
void S_updateFpsTimer();
// The performance counter in microseconds, for timing stretches shorter than
// the clocks' milliseconds; 0 without a counter.
int64_t S_CounterMicroseconds();
void S_Sleep();
