// The loading of a take's cut into its sector: every path of the cut becomes
// a space object (when its cut or body names a type), a light, or a plain
// instance, in the slots of the take.
#pragma once

#include <cstdint>

#include "space/cutscene.h"

// Path flags the loader reads.
constexpr uint32_t ST_PATH_NO_OBJECT = 0x2;  // never a space object
constexpr uint32_t ST_PATH_HIDDEN = 0x20;    // its instance tree hidden until shown

// Loads the cut into the take, each path into its slot; 1 when loaded, 0
// (the take left without a cut) when the cut cannot be had. The tag marks
// the plain instances it makes.
int32_t ST_LoadCut(SA_Take* take, int32_t cutId, int32_t tag);
