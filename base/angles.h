// Arithmetic on angles of the game logic (1/90000 degree, 32,400,000 a turn).
// The game-time clocks wrap at the same span and use the same two helpers.
#pragma once

#include <cstdint>

constexpr int32_t QEL_ANGLE_FULL = 32400000;
constexpr int32_t QEL_ANGLE_HALF = 16200000;

// a - b brought into [-16200000, 16200000].
int32_t Qel_AngleDiff(int32_t a, int32_t b);
// angle + delta brought into [0, 32400000) for an angle in that range and a
// delta of at most one turn either way. The sum is symmetric, so either
// argument may be the angle.
int32_t Qel_AngleAdd(int32_t delta, int32_t angle);
