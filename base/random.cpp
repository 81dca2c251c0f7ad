#include "base/random.h"

#include "base/log.h"

// One state for the whole process: the game logic draws its numbers in a
// fixed order, and a seed given at start-up makes a run repeatable.
static uint32_t s_RandomState = 1;

void Qel_SeedRandom(uint32_t seed) { s_RandomState = seed; }

int32_t Qel_RandomRaw() {
    s_RandomState = s_RandomState * 214013u + 2531011u;
    return static_cast<int32_t>((s_RandomState >> 16) & 0x7FFFu);
}

int32_t Qel_Random(int32_t n) { return static_cast<int32_t>(static_cast<int64_t>(n) * Qel_RandomRaw() / 32768); }

int32_t Qel_Rand(int32_t n) { return Qel_Random(n); }

int32_t Qel_LongRandom(int32_t n) {
    int16_t r = static_cast<int16_t>(n);
    if (r < 1) {
        Qel_ErrPrintf("Qel_LongRandom: Wrong argument %d\n", r);
        return 0;
    }
    return Qel_Random(r);
}

int32_t Qel_RandomInclusive(int32_t n) {
    return static_cast<int32_t>(static_cast<int64_t>(n) * Qel_RandomRaw() / 32767);
}
