// The renderer's object for a light of the scene engine: a Direct3D light kept
// in step with the light's fields and place, and the light's slot in the
// current frame's light list (part drawing picks effect lights by it).
#pragma once

#include <cstdint>

#include "platform/d3d9/d3d9.h"

struct Inst3D;

struct RendererLight {
    D3DLIGHT9 light;
    int32_t slot;  // -1: not in this frame's list
};

// Theta and phi of a spot light, in radians.
constexpr float S3D_SPOT_THETA = 0.5233333f;
constexpr float S3D_SPOT_PHI = 0.785f;

// The light enters the renderer: makes (or reuses) its object; 0 when it
// cannot be allocated.
int S_D3DLight(Inst3D* light);
// Refreshes type, colours, range and attenuation; nothing without an object.
void S_3DUpdateLight(Inst3D* light);
// Position and direction from the world place; the object must exist. 1.
int S_3DUpdateLightTransform(Inst3D* light);
// Gives each light of the scene engine's light list its slot.
void S_3DAssignSlotIndices();
// Frees the light's object and clears the pointer.
void S_3DFreeLight(Inst3D* light);
