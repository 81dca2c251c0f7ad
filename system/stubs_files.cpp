// STAND-IN for the game-time delta of the clocks module, used by the memory
// speed probe. Weak, so the real S_GetTimeDelta replaces it as soon as the
// clocks land; delete this file then.
#include <cstdint>

__attribute__((weak)) int32_t S_GetTimeDelta() { return 1; }
