// 16.16 fixed-point 3D math: number formats, the lookup tables, vector,
// matrix, quaternion and normalising operations.
//
// Fixed point: signed 32-bit with 16 fractional bits (0x10000 is 1.0).
// Products are rounded ((a * b + 0x8000) >> 16, 64-bit), quotients truncated.
// 3D angles are 16-bit fractions of a turn (65536 a turn, 16384 a quarter).
// Results that leave the 32-bit range wrap; nothing here traps.
#pragma once

#include <cstdint>

constexpr int32_t QEL_FIX_ONE = 0x10000;

// A vector: x, y, z in 16.16; w is 0 when built from components.
struct QelVector {
    int32_t x, y, z, w;
};

// Three rows of four words: words 0-2, 4-6 and 8-10 hold the 3x3 rotation,
// words 3, 7 and 11 a fourth column that the rotation builders leave alone.
struct QelMatrix {
    int32_t m[12];
};

// Quaternion {w, x, y, z}, 16.16.
struct QelQuat {
    int32_t w, x, y, z;
};

// Rotation key {angle, axis x, y, z}: the angle a 3D angle, the axis 16.16.
struct QelAxisAngle {
    int32_t angle, x, y, z;
};

// --- scalars ---
int32_t Qel_FixMul(int32_t a, int32_t b);       // rounded product
int32_t Qel_FixDiv(int32_t a, int32_t b);       // (a << 16) / b, 0 for b == 0
int32_t Qel_MulDiv32767(int32_t a, int32_t b);  // a * b / 32767
int32_t Qel_MulDiv15(int32_t a, int32_t b);     // a * b / 32768
uint32_t Qel_ISqrt(uint32_t v);                 // floor(sqrt(v)), bit by bit

// --- tables ---
// Builds the sine, arc-sine, arc-tangent and circle tables (once; later calls
// do nothing). The accessors below build them on first use as well.
void Qel_InitMathTables();
// 16385 entries: sin(i * quarter turn / 16384) in 16.16.
const int32_t* Qel_SinQuarterTable();
// 65537 entries each, index a 16.16 value 0..1.0:
const uint16_t* Qel_ArcSinTable();  // asin, in 3D angle units
const uint16_t* Qel_ArcTanTable();  // atan, in 3D angle units
const uint16_t* Qel_CircleTable();  // sqrt(1 - x^2) in 16.16, entry 0 is 65535
// 16.16 sine and cosine of a 3D angle, from the quarter table.
int32_t Qel_FixSin(uint16_t angle);
int32_t Qel_FixCos(uint16_t angle);

// --- vectors (x, y, z; out may be any of the inputs) ---
void Fx_VecAdd(const QelVector* a, const QelVector* b, QelVector* out);  // a + b
void Fx_VecAddTo(QelVector* v, const QelVector* a);                      // v += a
void Fx_VecSub(const QelVector* a, const QelVector* b, QelVector* out);  // b - a
void Fx_VecSubFrom(QelVector* v, const QelVector* a);                    // v -= a
void Fx_VecSet(QelVector* out, int32_t x, int32_t y, int32_t z);         // w := 0
QelVector* Fx_VecScale(const QelVector* v, int32_t s, QelVector* out);
void Fx_VecMul(const QelVector* a, const QelVector* b, QelVector* out);
void Fx_VecDiv(const QelVector* a, const QelVector* b, QelVector* out);  // 0 where b is 0
// v * m / d per component with a 64-bit product; the zero vector for d == 0.
void Fx_VecMulDiv(const QelVector* v, int32_t m, int32_t d, QelVector* out);
void Fx_VecScaleMulDiv(const QelVector* v, int32_t m, int32_t d, QelVector* out);
void Fx_VecMulDivInPlace(QelVector* v, int32_t m, int32_t d);

// --- matrices (the rotation part only; out may be any of the inputs) ---
void Qel_MatIdentity(QelMatrix* m);
// Heading a, pitch b, roll c (3D angles).
void Qel_MatFromAngles(QelMatrix* out, int32_t a, int32_t b, int32_t c);
// The angles that Qel_MatFromAngles turns back into m. b is -16384 or 16384
// for a vertical matrix (word 9 exactly -1.0 or 1.0).
void Qel_AnglesFromMat(const QelMatrix* m, int32_t* a, int32_t* b, int32_t* c);
inline void Qel_AnglesFromMatrix(const QelMatrix* m, int32_t* a, int32_t* b, int32_t* c) {
    Qel_AnglesFromMat(m, a, b, c);
}
void Qel_MatMul(const QelMatrix* a, const QelMatrix* b, QelMatrix* out);            // A B
void Qel_MatMulTransposed(const QelMatrix* a, const QelMatrix* b, QelMatrix* out);  // A B^T
// out[i] = sum_k v[k] M[k][i]: x times row 0 plus y times row 1 plus z times
// row 2 (local to world). out.w := v.w.
void Qel_MatMulVec(const QelMatrix* m, const QelVector* v, QelVector* out);
// out[i] = sum_k M[i][k] v[k] (world to local). out.w := v.w.
void Qel_MatTransMulVec(const QelMatrix* m, const QelVector* v, QelVector* out);
// Axis {x, y, z, 0} in 16.16 and angle in 3D units (see Qel_MatToAxisAngle).
void Qel_MatToAxisAngleFixed(const QelMatrix* m, QelVector* axis, int32_t* angle);
void Qel_MatOrthonormalize(QelMatrix* m);
// Renormalises each of the three rows to length 1.0 (a null row is logged and kept).
void Qel_Norm3Vec(QelMatrix* m);
// The 16.16 rotation of a row-major 3x3 float matrix, each value rounded.
void Qel_MatFromFloat(const float f[9], QelMatrix* out);

// --- quaternions ---
void Qel_QuatFromAxisAngle(const QelAxisAngle* key, QelQuat* out);
void Qel_MatFromQuat(const QelQuat* q, QelMatrix* out);
// A unit quaternion for a rotation matrix, also for a half turn.
void Qel_QuatFromMat(const QelMatrix* m, QelQuat* out);
// a b (Hamilton product), normalised to length 1.0.
void Qel_QuatMul(const QelQuat* a, const QelQuat* b, QelQuat* out);

// --- directions and rotations ---
// Heading and pitch (3D angles) of a direction, the inverse of the forward
// row of Qel_MatFromAngles(heading, pitch, 0).
void Qel_AnglesFromVector(const QelVector* v, int32_t* heading, int32_t* pitch);
inline void Qel_MatCombine(const QelVector* v, int32_t* heading, int32_t* pitch) {
    Qel_AnglesFromVector(v, heading, pitch);
}
// Turns v about axis by a 3D angle (v times the rotation matrix). A null axis
// is logged and leaves v unchanged.
void Qel_VecRotateAroundAxis(QelVector* v, const QelVector* axis, int32_t angle);
// (x cos - y sin, y cos + x sin) in double precision, rounded.
void Qel_Rotate2D(int32_t x, int32_t y, int32_t angle, int32_t* outX, int32_t* outY);
// Cubic Hermite interpolation at t (16.16, 0..1.0) between positions p0, p1
// with tangents t0, t1: the position and its derivative. The w words of the
// results are not written.
void Qel_VecSplineInterp(const QelVector* p0, const QelVector* p1, const QelVector* t0, const QelVector* t1, int32_t t,
                         QelVector* out, QelVector* outTangent);

// --- lengths ---
// floor(sqrt(x^2 + y^2 + z^2)) exactly, in 128-bit arithmetic, for
// components within +-2^62 (the difference of two 32-bit positions needs 33
// bits, its square 66).
int64_t Qel_VecLength64(int64_t x, int64_t y, int64_t z);
// The length of an integer vector (x, y, z).
int64_t Qel_VecLengthInt(const QelVector* v);

// --- normalising (a null vector is logged and left as it is) ---
void Qel_Norm3(int32_t* x, int32_t* y, int32_t* z, int32_t length);
void Qel_NormVectorToOne(QelVector* v);
void Qel_Norm4ToOne(int32_t v[4]);
void Qel_Norm4ToOne(QelQuat* q);
void Qel_Norm3ToOne(int32_t v[3]);
void Qel_Norm2(int32_t v[2]);
