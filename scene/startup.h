// The scene engine's start in three steps (the state early, the renderer and
// the materials later), the loaders' scratch areas, and the sequence run when
// the Direct3D device is reopened.
#pragma once

#include <cstdint>

#include "scene/state.h"

// Scratch areas reserved at start-up (address space only): the text body
// reader's and the polygon builder's from the body pool, the cut key
// reader's from the cut pool.
constexpr int32_t B3D_BODY_SCRATCH_AREAS = 5;
constexpr int32_t B3D_BODY_SCRATCH_SIZES[B3D_BODY_SCRATCH_AREAS] = {9600000, 38400000, 50400000, 50400000, 19200000};
constexpr int32_t B3D_CUT_SCRATCH_SIZES[B3D_SCRATCH_AREAS - B3D_BODY_SCRATCH_AREAS] = {1600000, 1600000, 1600000,
                                                                                       240000,  400000,  240000};

// The state with its tables, types files and scratch areas; null when the
// state cannot be allocated (the program ends with exit reason 30). A state
// kept from an earlier start in the same process is kept and registered again.
B3DState* B3D_Init();
// Materials, icons and skins; 0 without a renderer device (exit reason 7).
int B3DB_Init();
// Reserves the scratch areas; a failure is logged by its pool and the engine
// runs on without that area.
void B3D_ReserveScratchAreas();
// Releases them, lowering the pool counters.
void B3D_FreeScratchAreas();
// After the device was reopened: every instance out of the renderer, body
// parts unbound, 3D sounds stopped, texture formats freed, then the renderer
// and the materials again. 1 when both came back.
int B3D_ReopenDevice();
