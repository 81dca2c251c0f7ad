// Force-feedback effects on the DirectInput joystick: a standing zero force in
// place of the device's auto-centring, a bounce push, a fire kick and an
// explode shake.
#pragma once

#include <cstdint>

struct IDirectInputEffect;

// Effect kinds, also the slot order after S_FFInit: hold, bounce, explode, fire.
constexpr uint32_t FF_BOUNCE = 1;
constexpr uint32_t FF_EXPLODE = 2;
constexpr uint32_t FF_FIRE = 4;
constexpr uint32_t FF_HOLD = 8;

// Releases the effects of all slots and makes the four again; a slot whose
// effect cannot be made stays empty.
void S_FFInit();
// The created effect, or null.
IDirectInputEffect* S_FFCreateEffects(uint32_t kind);
// Starts the bounce push towards direction (hundredths of a degree); 1 when
// done or when force feedback is off, 0 on failure.
int S_FFStartEffect(int32_t direction);
