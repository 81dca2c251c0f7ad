#include "base/fixmath.h"

#include <cmath>
#include <cstdlib>

#include "base/log.h"
#include "base/rotation.h"

// Sums and out-of-range results wrap to 32 bits through these helpers, and
// doubles are clamped before they become integers, so no input can reach
// undefined behaviour.
static int32_t Wrap32(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); }

static int32_t RoundToFix(double v) {
    if (!(v == v)) return 0;
    double r = std::round(v);
    if (r >= 2147483647.0) return INT32_MAX;
    if (r <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(r);
}

// --- scalars ---

int32_t Qel_FixMul(int32_t a, int32_t b) { return Wrap32((static_cast<int64_t>(a) * b + 0x8000) >> 16); }

int32_t Qel_FixDiv(int32_t a, int32_t b) {
    if (b == 0) return 0;
    return Wrap32(static_cast<int64_t>(a) * 65536 / b);
}

int32_t Qel_MulDiv32767(int32_t a, int32_t b) { return Wrap32(static_cast<int64_t>(a) * b / 32767); }

int32_t Qel_MulDiv15(int32_t a, int32_t b) { return Wrap32(static_cast<int64_t>(a) * b / 32768); }

uint32_t Qel_ISqrt(uint32_t v) {
    uint32_t root = 0;
    for (uint32_t bit = 1u << 30; bit; bit >>= 2) {
        if (v >= root + bit) {
            v -= root + bit;
            root = (root >> 1) + bit;
        } else {
            root >>= 1;
        }
    }
    return root;
}

// --- tables ---

static int32_t s_SinQuarter[16385];
static uint16_t s_ArcSin[65537];
static uint16_t s_ArcTan[65537];
static uint16_t s_Circle[65537];
static bool s_TablesBuilt = false;

void Qel_InitMathTables() {
    if (s_TablesBuilt) return;
    const double halfPi = static_cast<float>(M_PI / 2);  // single precision on purpose
    for (int i = 0; i <= 16384; ++i) s_SinQuarter[i] = RoundToFix(std::sin(i * halfPi / 16384) * 65536);
    for (int i = 0; i <= 65536; ++i) {
        double x = i / 65536.0;
        s_ArcSin[i] = static_cast<uint16_t>(RoundToFix(std::asin(x) / (2 * M_PI) * 65536));
        s_ArcTan[i] = static_cast<uint16_t>(RoundToFix(std::atan(x) / (2 * M_PI) * 65536));
        int32_t c = RoundToFix(std::sqrt(1 - x * x) * 65536);
        s_Circle[i] = static_cast<uint16_t>(c > 65535 ? 65535 : c);
    }
    s_TablesBuilt = true;
}

const int32_t* Qel_SinQuarterTable() {
    Qel_InitMathTables();
    return s_SinQuarter;
}

const uint16_t* Qel_ArcSinTable() {
    Qel_InitMathTables();
    return s_ArcSin;
}

const uint16_t* Qel_ArcTanTable() {
    Qel_InitMathTables();
    return s_ArcTan;
}

const uint16_t* Qel_CircleTable() {
    Qel_InitMathTables();
    return s_Circle;
}

int32_t Qel_FixSin(uint16_t a) {
    const int32_t* t = Qel_SinQuarterTable();
    if (a <= 0x4000) return t[a];
    if (a <= 0x8000) return t[0x8000 - a];
    if (a <= 0xC000) return -t[a - 0x8000];
    return -t[0x10000 - a];
}

int32_t Qel_FixCos(uint16_t a) {
    const int32_t* t = Qel_SinQuarterTable();
    if (a <= 0x4000) return t[0x4000 - a];
    if (a <= 0x8000) return -t[a - 0x4000];
    if (a <= 0xC000) return -t[0xC000 - a];
    return t[a - 0xC000];
}

// Angle (0..65535) of (x, y) from the arc-tangent table, by octant.
static int32_t TableAtan2(int32_t y, int32_t x) {
    if (x == 0 && y == 0) return 0;
    const uint16_t* at = Qel_ArcTanTable();
    int64_t ax = std::llabs(static_cast<int64_t>(x)), ay = std::llabs(static_cast<int64_t>(y));
    int32_t t = ay <= ax ? at[ay * 65536 / ax] : 0x4000 - at[ax * 65536 / ay];
    int32_t angle;
    if (x >= 0) angle = y >= 0 ? t : 0x10000 - t;
    else angle = y >= 0 ? 0x8000 - t : 0x8000 + t;
    return angle & 0xFFFF;
}

// --- vectors ---

void Fx_VecAdd(const QelVector* a, const QelVector* b, QelVector* out) {
    out->x = Wrap32(static_cast<int64_t>(a->x) + b->x);
    out->y = Wrap32(static_cast<int64_t>(a->y) + b->y);
    out->z = Wrap32(static_cast<int64_t>(a->z) + b->z);
}

void Fx_VecAddTo(QelVector* v, const QelVector* a) { Fx_VecAdd(v, a, v); }

void Fx_VecSub(const QelVector* a, const QelVector* b, QelVector* out) {
    out->x = Wrap32(static_cast<int64_t>(b->x) - a->x);
    out->y = Wrap32(static_cast<int64_t>(b->y) - a->y);
    out->z = Wrap32(static_cast<int64_t>(b->z) - a->z);
}

void Fx_VecSubFrom(QelVector* v, const QelVector* a) {
    v->x = Wrap32(static_cast<int64_t>(v->x) - a->x);
    v->y = Wrap32(static_cast<int64_t>(v->y) - a->y);
    v->z = Wrap32(static_cast<int64_t>(v->z) - a->z);
}

void Fx_VecSet(QelVector* out, int32_t x, int32_t y, int32_t z) { *out = {x, y, z, 0}; }

QelVector* Fx_VecScale(const QelVector* v, int32_t s, QelVector* out) {
    out->x = Qel_FixMul(v->x, s);
    out->y = Qel_FixMul(v->y, s);
    out->z = Qel_FixMul(v->z, s);
    return out;
}

void Fx_VecMul(const QelVector* a, const QelVector* b, QelVector* out) {
    out->x = Qel_FixMul(a->x, b->x);
    out->y = Qel_FixMul(a->y, b->y);
    out->z = Qel_FixMul(a->z, b->z);
}

void Fx_VecDiv(const QelVector* a, const QelVector* b, QelVector* out) {
    out->x = Qel_FixDiv(a->x, b->x);
    out->y = Qel_FixDiv(a->y, b->y);
    out->z = Qel_FixDiv(a->z, b->z);
}

static int32_t MulDiv(int32_t v, int32_t m, int32_t d) { return d ? Wrap32(static_cast<int64_t>(v) * m / d) : 0; }

void Fx_VecMulDiv(const QelVector* v, int32_t m, int32_t d, QelVector* out) {
    int32_t x = MulDiv(v->x, m, d), y = MulDiv(v->y, m, d), z = MulDiv(v->z, m, d);
    out->x = x;
    out->y = y;
    out->z = z;
}

void Fx_VecScaleMulDiv(const QelVector* v, int32_t m, int32_t d, QelVector* out) { Fx_VecMulDiv(v, m, d, out); }

void Fx_VecMulDivInPlace(QelVector* v, int32_t m, int32_t d) { Fx_VecMulDiv(v, m, d, v); }

// --- matrices ---

static int32_t& At(QelMatrix* m, int r, int c) { return m->m[r * 4 + c]; }
static int32_t At(const QelMatrix* m, int r, int c) { return m->m[r * 4 + c]; }

void Qel_MatIdentity(QelMatrix* m) {
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) At(m, r, c) = r == c ? QEL_FIX_ONE : 0;
}

void Qel_MatFromAngles(QelMatrix* out, int32_t a, int32_t b, int32_t c) {
    const float turn = 6.28318530717958647692f;
    float ra = static_cast<float>(a) / 65536.0f * turn;
    float rb = static_cast<float>(b) / 65536.0f * turn;
    float rc = static_cast<float>(c) / 65536.0f * turn;
    float ca = std::cos(ra), sa = std::sin(ra);
    float cb = std::cos(rb), sb = std::sin(rb);
    float cc = std::cos(rc), sc = std::sin(rc);
    float w[9] = {
        cc * ca + sc * sb * sa,
        sc * cb,
        cc * sa - sc * sb * ca,
        sb * cc * sa - sc * ca,
        cc * cb,
        -sc * sa - sb * cc * ca,
        -sa * cb,
        sb,
        ca * cb,
    };
    for (int i = 0; i < 9; ++i) At(out, i / 3, i % 3) = RoundToFix(static_cast<double>(w[i]) * 65536);
}

void Qel_AnglesFromMat(const QelMatrix* m, int32_t* a, int32_t* b, int32_t* c) {
    int32_t sinB = At(m, 2, 1);
    if (sinB == -QEL_FIX_ONE || sinB == QEL_FIX_ONE) {
        // Vertical: heading and roll turn about the same axis; put it all in
        // the heading.
        *b = sinB < 0 ? -16384 : 16384;
        *c = 0;
        *a = Qel_AngleFromXY(At(m, 0, 0), At(m, 0, 2));
        return;
    }
    const uint16_t* as = Qel_ArcSinTable();
    int64_t mag = std::llabs(static_cast<int64_t>(sinB));
    int32_t t = as[mag > 65536 ? 65536 : mag];
    *b = sinB >= 0 ? t : (65536 - t) & 0xFFFF;
    // cos b >= 0 here, so the signs of the remaining entries give the quadrants.
    *a = TableAtan2(Wrap32(-static_cast<int64_t>(At(m, 2, 0))), At(m, 2, 2));
    *c = TableAtan2(At(m, 0, 1), At(m, 1, 1));
}

void Qel_MatMul(const QelMatrix* a, const QelMatrix* b, QelMatrix* out) {
    int32_t r[9];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            int64_t s = 0;
            for (int k = 0; k < 3; ++k) s += Qel_FixMul(At(a, i, k), At(b, k, j));
            r[i * 3 + j] = Wrap32(s);
        }
    for (int i = 0; i < 9; ++i) At(out, i / 3, i % 3) = r[i];
}

void Qel_MatMulTransposed(const QelMatrix* a, const QelMatrix* b, QelMatrix* out) {
    int32_t r[9];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            int64_t s = 0;
            for (int k = 0; k < 3; ++k) s += Qel_FixMul(At(a, i, k), At(b, j, k));
            r[i * 3 + j] = Wrap32(s);
        }
    for (int i = 0; i < 9; ++i) At(out, i / 3, i % 3) = r[i];
}

void Qel_MatMulVec(const QelMatrix* m, const QelVector* v, QelVector* out) {
    const int32_t in[3] = {v->x, v->y, v->z};
    int32_t r[3];
    for (int i = 0; i < 3; ++i) {
        int64_t s = 0;
        for (int k = 0; k < 3; ++k) s += Qel_FixMul(in[k], At(m, k, i));
        r[i] = Wrap32(s);
    }
    *out = {r[0], r[1], r[2], v->w};
}

void Qel_MatTransMulVec(const QelMatrix* m, const QelVector* v, QelVector* out) {
    const int32_t in[3] = {v->x, v->y, v->z};
    int32_t r[3];
    for (int i = 0; i < 3; ++i) {
        int64_t s = 0;
        for (int k = 0; k < 3; ++k) s += Qel_FixMul(At(m, i, k), in[k]);
        r[i] = Wrap32(s);
    }
    *out = {r[0], r[1], r[2], v->w};
}

void Qel_MatToAxisAngleFixed(const QelMatrix* m, QelVector* axis, int32_t* angle) {
    double ax[3], rad;
    Qel_MatToAxisAngle(m, ax, &rad);
    *axis = {RoundToFix(ax[0] * 65536), RoundToFix(ax[1] * 65536), RoundToFix(ax[2] * 65536), 0};
    *angle = RoundToFix(rad * 65536 / (2 * M_PI));
}

// Cross product of rounded products.
static void Cross(const int32_t* a, const int32_t* b, int32_t* out) {
    int32_t x = Wrap32(static_cast<int64_t>(Qel_FixMul(a[1], b[2])) - Qel_FixMul(a[2], b[1]));
    int32_t y = Wrap32(static_cast<int64_t>(Qel_FixMul(a[2], b[0])) - Qel_FixMul(a[0], b[2]));
    int32_t z = Wrap32(static_cast<int64_t>(Qel_FixMul(a[0], b[1])) - Qel_FixMul(a[1], b[0]));
    out[0] = x;
    out[1] = y;
    out[2] = z;
}

void Qel_MatOrthonormalize(QelMatrix* m) {
    int32_t* row0 = &m->m[0];
    int32_t* row1 = &m->m[4];
    int32_t* row2 = &m->m[8];
    Qel_Norm3ToOne(row2);
    Cross(row2, row0, row1);
    Qel_Norm3ToOne(row1);
    Cross(row1, row2, row0);
    Qel_Norm3ToOne(row0);
}

void Qel_Norm3Vec(QelMatrix* m) {
    for (int row = 0; row < 3; ++row) Qel_Norm3ToOne(&m->m[row * 4]);
}

void Qel_MatFromFloat(const float f[9], QelMatrix* out) {
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col)
            out->m[row * 4 + col] = static_cast<int32_t>(std::lround(double{f[row * 3 + col]} * 65536.0));
}

// --- quaternions ---

void Qel_QuatFromAxisAngle(const QelAxisAngle* key, QelQuat* out) {
    if (key->x == 0 && key->y == 0 && key->z == 0) {
        *out = {QEL_FIX_ONE, 0, 0, 0};
        return;
    }
    uint16_t h = static_cast<uint16_t>(key->angle / 2);
    int32_t s = Qel_FixSin(h);
    *out = {Qel_FixCos(h), Qel_FixMul(key->x, s), Qel_FixMul(key->y, s), Qel_FixMul(key->z, s)};
}

void Qel_MatFromQuat(const QelQuat* q, QelMatrix* out) {
    auto M = Qel_FixMul;
    auto twice = [](int64_t v) { return Wrap32(2 * v); };
    int64_t xx = M(q->x, q->x), yy = M(q->y, q->y), zz = M(q->z, q->z);
    int64_t xy = M(q->x, q->y), zw = M(q->z, q->w), wy = M(q->w, q->y), zx = M(q->z, q->x);
    int64_t zy = M(q->z, q->y), wx = M(q->w, q->x);
    const int64_t half = 0x8000;
    int32_t w[9] = {
        twice(half - yy - zz), twice(xy - zw), twice(wy + zx), twice(zw + xy),        twice(half - xx - zz),
        twice(zy - wx),        twice(zx - wy), twice(wx + zy), twice(half - xx - yy),
    };
    for (int i = 0; i < 9; ++i) At(out, i / 3, i % 3) = w[i];
}

void Qel_QuatFromMat(const QelMatrix* m, QelQuat* out) {
    int64_t m00 = At(m, 0, 0), m11 = At(m, 1, 1), m22 = At(m, 2, 2);
    // 1 + trace is 4 w^2; rounding can push it just below 0 for a half turn
    // (or above 4.0 for a matrix that is not quite orthonormal).
    int64_t s = QEL_FIX_ONE + m00 + m11 + m22;
    if (s < 0) s = 0;
    if (s > 4 * QEL_FIX_ONE) s = 4 * QEL_FIX_ONE;
    int32_t w = static_cast<int32_t>((Qel_ISqrt(static_cast<uint32_t>(s)) << 8) / 2);

    // The differences are 4w times the vector part; the column of the largest
    // diagonal entry is 4 q_i times it and stays reliable when w is small.
    int64_t d[3] = {static_cast<int64_t>(At(m, 2, 1)) - At(m, 1, 2), static_cast<int64_t>(At(m, 0, 2)) - At(m, 2, 0),
                    static_cast<int64_t>(At(m, 1, 0)) - At(m, 0, 1)};
    int64_t col[3];
    if (m00 >= m11 && m00 >= m22) {
        col[0] = QEL_FIX_ONE + m00 - m11 - m22;
        col[1] = static_cast<int64_t>(At(m, 0, 1)) + At(m, 1, 0);
        col[2] = static_cast<int64_t>(At(m, 0, 2)) + At(m, 2, 0);
    } else if (m11 >= m22) {
        col[0] = static_cast<int64_t>(At(m, 0, 1)) + At(m, 1, 0);
        col[1] = QEL_FIX_ONE + m11 - m00 - m22;
        col[2] = static_cast<int64_t>(At(m, 1, 2)) + At(m, 2, 1);
    } else {
        col[0] = static_cast<int64_t>(At(m, 0, 2)) + At(m, 2, 0);
        col[1] = static_cast<int64_t>(At(m, 1, 2)) + At(m, 2, 1);
        col[2] = QEL_FIX_ONE + m22 - m00 - m11;
    }
    if (col[0] * d[0] + col[1] * d[1] + col[2] * d[2] < 0)
        for (int64_t& c : col) c = -c;
    int64_t v[3] = {d[0] + col[0], d[1] + col[1], d[2] + col[2]};
    if (v[0] == 0 && v[1] == 0 && v[2] == 0) {
        *out = {QEL_FIX_ONE, 0, 0, 0};
        return;
    }
    // The vector part gets the length sqrt(1 - s/4), taken from s itself so
    // that small turns keep their size despite the coarse w.
    while (std::llabs(v[0]) > INT32_MAX / 2 || std::llabs(v[1]) > INT32_MAX / 2 || std::llabs(v[2]) > INT32_MAX / 2)
        for (int64_t& c : v) c /= 2;
    int32_t length = RoundToFix(std::sqrt(1 - static_cast<double>(s) / (4 * QEL_FIX_ONE)) * 65536);
    int32_t x = static_cast<int32_t>(v[0]), y = static_cast<int32_t>(v[1]), z = static_cast<int32_t>(v[2]);
    Qel_Norm3(&x, &y, &z, length);
    *out = {w, x, y, z};
}

void Qel_QuatMul(const QelQuat* a, const QelQuat* b, QelQuat* out) {
    auto M = [](int32_t p, int32_t q) { return static_cast<int64_t>(Qel_FixMul(p, q)); };
    int32_t r[4] = {
        Wrap32(M(a->w, b->w) - M(a->x, b->x) - M(a->y, b->y) - M(a->z, b->z)),
        Wrap32(M(a->w, b->x) + M(a->x, b->w) + M(a->y, b->z) - M(a->z, b->y)),
        Wrap32(M(a->w, b->y) - M(a->x, b->z) + M(a->y, b->w) + M(a->z, b->x)),
        Wrap32(M(a->w, b->z) + M(a->x, b->y) - M(a->y, b->x) + M(a->z, b->w)),
    };
    Qel_Norm4ToOne(r);
    *out = {r[0], r[1], r[2], r[3]};
}

// --- directions and rotations ---

static int32_t RadiansToAngle(double a) {
    if (a < 0) a += 2 * M_PI;
    int32_t angle = static_cast<int32_t>(a / (2 * M_PI) * 65536);
    return angle >= 65536 ? angle - 65536 : angle;
}

void Qel_AnglesFromVector(const QelVector* v, int32_t* heading, int32_t* pitch) {
    QelVector d = *v;
    Qel_NormVectorToOne(&d);
    if (d.x == 0 && d.z == 0) {
        *heading = 0;
        *pitch = d.y > 0 ? 16318 : 49217;
        return;
    }
    // The forward row of Qel_MatFromAngles(h, p, 0) is (-sin h cos p, sin p, cos h cos p).
    int32_t h = RadiansToAngle(std::atan2(-static_cast<double>(d.x), static_cast<double>(d.z)));
    int32_t forward, side;
    Qel_Rotate2D(d.z, Wrap32(-static_cast<int64_t>(d.x)), 65536 - h, &forward, &side);
    *heading = h;
    *pitch = RadiansToAngle(std::atan2(static_cast<double>(d.y), static_cast<double>(forward)));
}

void Qel_VecRotateAroundAxis(QelVector* v, const QelVector* axis, int32_t angle) {
    QelVector a = *axis;
    Qel_NormVectorToOne(&a);
    // Without an axis there is no rotation (the normaliser has logged it): keep v.
    if (a.x == 0 && a.y == 0 && a.z == 0) return;
    double rad = angle / 65536.0 * 2 * M_PI;
    int32_t c = RoundToFix(std::cos(rad) * 65536), s = RoundToFix(std::sin(rad) * 65536);
    int32_t t = QEL_FIX_ONE - c;
    const int32_t ax[3] = {a.x, a.y, a.z};
    const int32_t k[9] = {0, -a.z, a.y, a.z, 0, -a.x, -a.y, a.x, 0};
    QelMatrix r{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            At(&r, i, j) = Wrap32(static_cast<int64_t>(i == j ? c : 0) + Qel_FixMul(s, k[i * 3 + j]) +
                                  Qel_FixMul(Qel_FixMul(t, ax[i]), ax[j]));
    Qel_MatMulVec(&r, v, v);
}

void Qel_Rotate2D(int32_t x, int32_t y, int32_t angle, int32_t* outX, int32_t* outY) {
    double rad = angle / 65536.0 * 2 * M_PI;
    double c = std::cos(rad), s = std::sin(rad);
    *outX = RoundToFix(x * c - y * s);
    *outY = RoundToFix(y * c + x * s);
}

void Qel_VecSplineInterp(const QelVector* p0, const QelVector* p1, const QelVector* t0, const QelVector* t1, int32_t t,
                         QelVector* out, QelVector* outTangent) {
    int64_t tt = t;
    int64_t t2 = Qel_FixMul(t, t);
    int64_t t3 = Qel_FixMul(static_cast<int32_t>(t2), t);
    const int64_t one = QEL_FIX_ONE;
    const int32_t pos[4] = {Wrap32(2 * t3 - 3 * t2 + one), Wrap32(3 * t2 - 2 * t3), Wrap32(t3 - 2 * t2 + tt),
                            Wrap32(t3 - t2)};
    const int32_t der[4] = {Wrap32(6 * t2 - 6 * tt), Wrap32(6 * tt - 6 * t2), Wrap32(3 * t2 - 4 * tt + one),
                            Wrap32(3 * t2 - 2 * tt)};
    const QelVector* keys[4] = {p0, p1, t0, t1};
    auto blend = [&](const int32_t* w, QelVector* res) {
        int64_t sx = 0, sy = 0, sz = 0;
        for (int i = 0; i < 4; ++i) {
            QelVector s;
            Fx_VecScale(keys[i], w[i], &s);
            sx += s.x;
            sy += s.y;
            sz += s.z;
        }
        res->x = Wrap32(sx);
        res->y = Wrap32(sy);
        res->z = Wrap32(sz);
    };
    QelVector p, d;
    blend(pos, &p);
    blend(der, &d);
    out->x = p.x;
    out->y = p.y;
    out->z = p.z;
    outTangent->x = d.x;
    outTangent->y = d.y;
    outTangent->z = d.z;
}

// --- normalising ---

// Scales n components to the given length; false for a null vector.
static bool ScaleTo(int32_t* c, int n, double length) {
    double sq = 0;
    for (int i = 0; i < n; ++i) sq += static_cast<double>(c[i]) * c[i];
    if (sq == 0) return false;
    double len = std::sqrt(sq);
    for (int i = 0; i < n; ++i) c[i] = RoundToFix(c[i] * length / len);
    return true;
}

void Qel_Norm3(int32_t* x, int32_t* y, int32_t* z, int32_t length) {
    int32_t c[3] = {*x, *y, *z};
    if (!ScaleTo(c, 3, length)) {
        Qel_ErrPrintf("Qel_Norm3: Nullvektor!\n");
        return;
    }
    *x = c[0];
    *y = c[1];
    *z = c[2];
}

void Qel_NormVectorToOne(QelVector* v) {
    int32_t c[3] = {v->x, v->y, v->z};
    if (!ScaleTo(c, 3, QEL_FIX_ONE)) {
        Qel_ErrPrintf("Qel_NormVectorToOne: Nullvektor!\n");
        return;
    }
    v->x = c[0];
    v->y = c[1];
    v->z = c[2];
}

void Qel_Norm4ToOne(int32_t v[4]) {
    if (!ScaleTo(v, 4, QEL_FIX_ONE)) Qel_ErrPrintf("Qel_Norm4ToOne: Nullvektor!\n");
}

void Qel_Norm4ToOne(QelQuat* q) {
    int32_t c[4] = {q->w, q->x, q->y, q->z};
    Qel_Norm4ToOne(c);
    *q = {c[0], c[1], c[2], c[3]};
}

void Qel_Norm3ToOne(int32_t v[3]) {
    if (!ScaleTo(v, 3, QEL_FIX_ONE)) Qel_ErrPrintf("Qel_Norm3ToOne: Nullvektor!\n");
}

void Qel_Norm2(int32_t v[2]) {
    if (!ScaleTo(v, 2, QEL_FIX_ONE)) Qel_ErrPrintf("Qel_Norm2: Nullvektor!\n");
}

// --- lengths ---

int64_t Qel_VecLength64(int64_t x, int64_t y, int64_t z) {
    using U128 = unsigned __int128;
    auto square = [](int64_t c) {
        const U128 a = c < 0 ? U128(0) - U128(c) : U128(c);
        return a * a;
    };
    const U128 sum = square(x) + square(y) + square(z);
    // The long double root is within one of the exact one; step to it.
    auto r = static_cast<uint64_t>(std::sqrt(static_cast<long double>(sum)));
    while (r > 0 && U128(r) * r > sum) --r;
    while (U128(r + 1) * (r + 1) <= sum) ++r;
    return static_cast<int64_t>(r);
}

int64_t Qel_VecLengthInt(const QelVector* v) { return Qel_VecLength64(v->x, v->y, v->z); }
