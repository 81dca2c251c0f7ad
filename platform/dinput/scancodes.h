// SDL's scan codes (USB usage numbers) against DirectInput's key numbers.
#pragma once

#include <cstdint>

// The key number of an SDL scan code; 0 for keys without one.
uint32_t DInput_DIKFromSDLScancode(int scancode);
// The SDL scan code of a key number; 0 (unknown) for key numbers without one.
int DInput_SDLScancodeFromDIK(uint32_t dik);
