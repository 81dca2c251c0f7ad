// Rotation routines computed in double precision, converting to and from 16.16
// at their edges (results truncated toward zero).
#pragma once

#include <cstdint>

#include "base/fixmath.h"

// Spherical interpolation: t in 16.16, 0 gives a, 65536 gives b; the short way.
void Qel_QuatSlerp(QelQuat* result, const QelQuat* a, const QelQuat* b, int32_t t);
// The 3D angle (0..65535) of the point (x, y); 0 for (0, 0).
int32_t Qel_AngleFromXY(int32_t x, int32_t y);
// Rotation part of out from an axis (16.16, taken as given) and a 3D angle.
void Qel_MatFromAxisAngle(QelMatrix* out, const QelVector* axis, int32_t angle);
// The same from a unit axis in doubles and an angle in radians.
void Qel_MatFromAxisAngleDouble(QelMatrix* out, double x, double y, double z, double radians);
// Axis (unit length) and angle in radians of a rotation part; axis (0, 0, 1)
// and angle 0 for angles up to 0.001. Near a half turn the axis comes from the
// diagonal.
void Qel_MatToAxisAngle(const QelMatrix* m, double axis[3], double* radians);
