// Geometry of instances: size and scale with their effect on sub-instances,
// bounding radii, absolute position and matrix, distances to cameras, facing
// nodes and screen points in the world.
#pragma once

#include <cstdint>

#include "base/fixmath.h"
#include "scene/records.h"

// The rounded 16.16 product (64-bit).
int32_t B3D_FixMul(int32_t a, int32_t b);
// Game-clock difference a - b folded on the 32,400,000 ms circle into
// (-16,200,000, 16,200,000].
int32_t B3D_ClockDiff(int32_t a, int32_t b);
// A float converted to an integer, clamped to the 32-bit range.
int32_t B3D_FloatToInt(double v);

void B3D_InstSetScale(Inst3D* inst, int32_t sx, int32_t sy, int32_t sz);
void B3D_InstSetScaleRecursive(Inst3D* inst, int32_t sx, int32_t sy, int32_t sz);
int32_t B3D_InstSetSize(Inst3D* inst, int32_t size);
int32_t B3D_InstGetTotalSize(Inst3D* inst);
void B3D_InstGetAbsPos(const Inst3D* inst, QelVector* out);
void B3D_InstGetAbsMatrix(const Inst3D* inst, QelMatrix* out);
void B3D_MatrixFromAngles(Inst3D* inst, int32_t a, int32_t b, int32_t c);
void B3D_InstPointToLocal(const Inst3D* reference, Inst3D* inst);
// Distance to the nearest active camera of the scene; 0x7fffffff when none qualifies.
int32_t B3D_InstGetDistance(const Scene3D* scene, const Inst3D* inst, int32_t facing);
B3DFacingNode* B3D_FaceCameraInst(Camera3D* camera, Inst3D* inst);
void B3D_CameraScreenToWorld(int32_t x, int32_t y, const Camera3D* camera, int32_t depth, QelVector* out);
