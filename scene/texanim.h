// Texture animation of materials and instances: a body material's scrolling
// and rotating texture derived from its effect parameters, an instance's
// material override array for the animated textures of its body, and extra
// texture matrices.
#pragma once

#include <cstdint>

#include "base/fixmath.h"
#include "scene/records.h"

struct Body3D;
struct BodyMaterial;

// Derives the animation fields and the blend, bump and animation flags from
// the material's effect parameters.
void B3D_MaterialReadTexAnim(BodyMaterial* material);
// The override array of an instance for the animated textures of its body
// (at most 20, in level, part and group order); none without any.
void B3D_InstBuildTexAnims(Inst3D* inst, const Body3D* body);
// Sets the frame, or two coordinate values, of every override of the tree.
void B3D_InstTreeSetTexAnimFrame(Inst3D* inst, int32_t frame);
void B3D_InstTreeSetTexAnimCoords(Inst3D* inst, int32_t a, int32_t b);
// Gives the instance an extra texture matrix (flags2 0x1000000); an instance
// without overrides first gets one texture material for the texture id.
void B3D_InstSetExtraMatrix(Inst3D* inst, int32_t textureId, const QelMatrix* matrix);
// Frees the material override array and clears its count and pointer.
void B3D_InstFreeMaterialOverrides(Inst3D* inst);
// A one-record texture material for a texture id, null on failure; and its free.
void* B3D_NewTextureMaterial(int32_t textureId);
void B3D_FreeTextureMaterial(void* material);
