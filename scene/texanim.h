// Texture animation of instances: material override arrays and extra texture
// matrices (texanim.cpp is a stand-in until that layer comes).
#pragma once

#include <cstdint>

#include "base/fixmath.h"
#include "scene/records.h"

// Gives the instance an extra texture matrix for a texture (flags2 0x1000000).
void B3D_InstSetExtraMatrix(Inst3D* inst, int32_t textureId, const QelMatrix* matrix);
// Frees the material override array and clears its count and pointer.
void B3D_InstFreeMaterialOverrides(Inst3D* inst);
// A one-record texture material for a texture id, null on failure; and its free.
void* B3D_NewTextureMaterial(int32_t textureId);
void B3D_FreeTextureMaterial(void* material);
