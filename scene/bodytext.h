// Text body files (".bod", packed ".pbd") read into a Body3D.
#pragma once

#include <cstdint>

#include "scene/bodyrecord.h"

class VRMFile;

// Reads "v\%05d.pbd" (packed files on) or "v\%05d.bod" ("v\%s.*" for a body
// given by name), or the stream at its position (an embedded body). Null for
// a missing file or a level whose points all lie at the origin; format errors
// end the program (exit reason 1), allocation failures with reason 3.
Body3D* B3D_LoadBody2(VRMFile* stream, int32_t bodyId, const char* name = nullptr);
