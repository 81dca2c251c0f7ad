// The cut file readers: binary cuts ("cut\%05d.bob", packed ".pbb") and text
// cuts (".bod", packed ".pbd"). Each answers the new cut or null and leaves
// entering it in the cut table to the cut cache (J3D_GetCut).
#pragma once

#include <cstdint>

#include "scene/records.h"

J3D_Cut* J3D_LoadCutBin(int32_t cutId);
J3D_Cut* J3D_LoadCut2(int32_t cutId);
