// The view frustum as six planes taken from a combined view-projection
// matrix, the common point of three planes, and the test of a bounding sphere
// against the frustum.
#pragma once

#include <cstdint>

#include "platform/d3dx/d3dx9.h"

struct Camera3D;
struct Inst3D;

// A point p lies on the inner side of a plane (nx, ny, nz, d) when n.p + d >= 0.
struct Frustum {
    float planes[6][4];  // right, left, top, bottom, far, near
    // Per plane: 0x1 normal x below 0, 0x2 normal y below 0, 0x4 normal z below 0.
    uint32_t cornerSelect[6];
    // Corner k meets the right (0x4 set) or left plane, the bottom (0x2 set)
    // or top plane, the far (0x1 set) or near plane.
    float corners[8][3];
};

// Fills the whole frustum of a matrix in row-vector layout (p' = p.M) and
// answers it.
Frustum* S_3DFrustumFromMatrix(const D3DXMATRIX* matrix, Frustum* out);
// 1 and the common point of three planes, or 0 with the point untouched when
// they have none.
int S_3DPlanesIntersect(const float a[4], const float b[4], const float c[4], float point[3]);
// 1 when the sphere (centre x, y, z and radius) is not wholly outside any of
// the six planes; a sphere that is not a number is outside.
int S_3DSphereInFrustum(const Frustum* frustum, const float sphere[4]);

// 1 when the instance's bounding sphere may be seen by the camera (or the
// instance is exempt: screen-placed, a light, a camera with flag 0x8000); 0
// when it lies outside the view frustum, has no body (id below 1) or its body
// cannot be had. World words are multiplied by the unit scale.
int S_3DProjectInstBounds(const Inst3D* instance, const Camera3D* camera, float unitScale);
