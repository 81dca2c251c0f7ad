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
// Once per frame: instant and average frames per second.
void S_updateFpsTimer();
void S_Sleep();
