// The program's random numbers: one generator shared by every caller, with the
// 0..32767 range the game logic is built around, seeded once at start-up.
#pragma once

#include <cstdint>

constexpr int32_t QEL_RAND_MAX = 32767;

// Seeds the shared generator (the seed of a fresh process is 1).
void Qel_SeedRandom(uint32_t seed);
// The next raw value, 0..32767 (linear congruential, bits 16-30 of the state).
int32_t Qel_RandomRaw();

// n * raw / 32768 with a 64-bit product: 0..n-1 for n > 0. n is not checked.
int32_t Qel_Random(int32_t n);
int32_t Qel_Rand(int32_t n);
// As Qel_Random with n taken as a signed 16-bit value; n < 1 logs
// "Qel_LongRandom: Wrong argument %d\n" and returns 0.
int32_t Qel_LongRandom(int32_t n);
// n * raw / 32767: 0..n.
int32_t Qel_RandomInclusive(int32_t n);
