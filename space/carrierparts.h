// The parts of carriers that follow what the carrier does: a dock port's
// moving part plays the time window its docking picked, once, and a gate's
// glow parts light up when it takes a ship into a launch slot and dim as the
// slot frees. Both only change how instances look, never object state.
#pragma once

#include <cstdint>

#include "space/records.h"

// The glow level of a gate with no launch slot taken (full is B3D_GLOW_FULL).
constexpr int32_t SA_GATE_IDLE_GLOW = 4096;

// Plays each dock port's part over the window O_SetDockPortAnim picked, from
// its start to its end (backward when reversed), holding at the end.
void O_AnimateCarrierParts(SectorObject* carrier);
// The gate's glow on every side: full right after a ship took a slot, down
// to the idle level as the last taken slot's 20 s run out.
void O_AnimateGateParts(SectorObject* gate);
