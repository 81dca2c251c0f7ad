#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <string>

#include "base/fixmath.h"
#include "base/rotation.h"
#include "support/logcapture.h"

namespace {

constexpr int32_t ONE = QEL_FIX_ONE;

QelMatrix Filled(int32_t fourth) {
    QelMatrix m{};
    m.m[3] = m.m[7] = m.m[11] = fourth;
    return m;
}

int32_t AngleDist(int32_t a, int32_t b) {
    int32_t d = (a - b) & 0xFFFF;
    return d > 0x8000 ? 0x10000 - d : d;
}

void ExpectMatNear(const QelMatrix& a, const QelMatrix& b, int32_t tol) {
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(a.m[r * 4 + c], b.m[r * 4 + c], tol) << "row " << r << " col " << c;
}

double QuatLength(const QelQuat& q) {
    return std::sqrt(double(q.w) * q.w + double(q.x) * q.x + double(q.y) * q.y + double(q.z) * q.z) / ONE;
}

}  // namespace

TEST(FixMath, Scalars) {
    EXPECT_EQ(Qel_FixMul(ONE + ONE / 2, 2 * ONE), 3 * ONE);
    EXPECT_EQ(Qel_FixMul(1, 0x8000), 1);  // rounded, not truncated
    EXPECT_EQ(Qel_FixMul(-1, 0x8000), 0);
    EXPECT_EQ(Qel_FixMul(-ONE, 5 * ONE), -5 * ONE);
    EXPECT_EQ(Qel_FixDiv(3 * ONE, 2 * ONE), ONE + ONE / 2);
    EXPECT_EQ(Qel_FixDiv(-ONE, 3 * ONE), -21845);  // truncated toward zero
    EXPECT_EQ(Qel_FixDiv(12345, 0), 0);
    EXPECT_EQ(Qel_MulDiv32767(32767, 5), 5);
    EXPECT_EQ(Qel_MulDiv32767(-100, 32767), -100);
    EXPECT_EQ(Qel_MulDiv15(32768, 7), 7);
    EXPECT_EQ(Qel_MulDiv15(-3, 16384), -1);
    // Out-of-range results wrap instead of trapping.
    Qel_FixMul(INT32_MAX, INT32_MAX);
    Qel_FixDiv(INT32_MIN, 1);
    Qel_FixDiv(INT32_MIN, -1);
}

TEST(FixMath, IntegerSquareRoot) {
    struct Case {
        uint32_t v, root;
    } cases[] = {{0, 0},
                 {1, 1},
                 {3, 1},
                 {4, 2},
                 {15, 3},
                 {16, 4},
                 {65536, 256},
                 {0x40000000, 32768},
                 {0xFFFFFFFFu, 65535},
                 {4 * 65536, 512}};
    for (const Case& c : cases) EXPECT_EQ(Qel_ISqrt(c.v), c.root) << c.v;
}

TEST(FixMath, Tables) {
    const int32_t* sinq = Qel_SinQuarterTable();
    EXPECT_EQ(sinq[0], 0);
    EXPECT_EQ(sinq[8192], 46341);
    EXPECT_EQ(sinq[16384], ONE);
    EXPECT_EQ(Qel_ArcSinTable()[0], 0);
    EXPECT_EQ(Qel_ArcSinTable()[32768], 5461);  // 30 degrees
    EXPECT_EQ(Qel_ArcSinTable()[65536], 16384);
    EXPECT_EQ(Qel_ArcTanTable()[65536], 8192);
    EXPECT_EQ(Qel_CircleTable()[0], 65535);  // 1.0 does not fit 16 bits
    EXPECT_EQ(Qel_CircleTable()[65536], 0);
    EXPECT_EQ(Qel_CircleTable()[32768], 56756);
}

TEST(FixMath, SineAndCosineByQuadrant) {
    EXPECT_EQ(Qel_FixSin(0), 0);
    EXPECT_EQ(Qel_FixSin(0x4000), ONE);
    EXPECT_EQ(Qel_FixSin(0x8000), 0);
    EXPECT_EQ(Qel_FixSin(0xC000), -ONE);
    EXPECT_EQ(Qel_FixCos(0), ONE);
    EXPECT_EQ(Qel_FixCos(0x4000), 0);
    EXPECT_EQ(Qel_FixCos(0x8000), -ONE);
    EXPECT_EQ(Qel_FixCos(0xC000), 0);
    for (int a = 0; a < 65536; a += 97) {
        double r = a / 65536.0 * 2 * M_PI;
        ASSERT_NEAR(Qel_FixSin(static_cast<uint16_t>(a)), std::sin(r) * ONE, 1.5) << a;
        ASSERT_NEAR(Qel_FixCos(static_cast<uint16_t>(a)), std::cos(r) * ONE, 1.5) << a;
    }
}

TEST(FixMath, VectorHelpers) {
    QelVector a = {ONE, 2 * ONE, -3 * ONE, 77};
    QelVector b = {ONE / 2, 0, 2 * ONE, 88};
    QelVector out = {0, 0, 0, 99};

    Fx_VecAdd(&a, &b, &out);
    EXPECT_EQ(out.x, ONE + ONE / 2);
    EXPECT_EQ(out.z, -ONE);
    EXPECT_EQ(out.w, 99);     // the fourth word is not touched
    Fx_VecSub(&a, &b, &out);  // b - a
    EXPECT_EQ(out.x, -ONE / 2);
    EXPECT_EQ(out.y, -2 * ONE);
    EXPECT_EQ(out.z, 5 * ONE);
    EXPECT_EQ(Fx_VecScale(&a, ONE / 2, &out), &out);
    EXPECT_EQ(out.x, ONE / 2);
    EXPECT_EQ(out.z, -3 * ONE / 2);
    Fx_VecMul(&a, &b, &out);
    EXPECT_EQ(out.x, ONE / 2);
    EXPECT_EQ(out.y, 0);
    EXPECT_EQ(out.z, -6 * ONE);
    Fx_VecDiv(&a, &b, &out);
    EXPECT_EQ(out.x, 2 * ONE);
    EXPECT_EQ(out.y, 0);  // zero divisor
    EXPECT_EQ(out.z, -3 * ONE / 2);
    Fx_VecMulDiv(&a, 3, 2, &out);
    EXPECT_EQ(out.y, 3 * ONE);
    Fx_VecScaleMulDiv(&a, 1000000, 0, &out);
    EXPECT_EQ(out.x, 0);
    EXPECT_EQ(out.y, 0);
    EXPECT_EQ(out.z, 0);
    QelVector big = {2000000000, -2000000000, 7, 0};
    Fx_VecMulDiv(&big, 3, 4, &out);  // 64-bit product
    EXPECT_EQ(out.x, 1500000000);
    EXPECT_EQ(out.y, -1500000000);
    EXPECT_EQ(out.z, 5);
    Fx_VecMulDivInPlace(&big, 1, 0);
    EXPECT_EQ(big.x, 0);
    EXPECT_EQ(big.z, 0);

    QelVector v = a;
    Fx_VecAddTo(&v, &b);
    Fx_VecSubFrom(&v, &b);
    EXPECT_EQ(v.x, a.x);
    EXPECT_EQ(v.y, a.y);
    EXPECT_EQ(v.z, a.z);
    Fx_VecSet(&v, 1, 2, 3);
    EXPECT_EQ(v.w, 0);
    EXPECT_EQ(v.z, 3);
}

TEST(FixMath, MatFromAnglesZeroIsIdentityAndKeepsFourthColumn) {
    QelMatrix m = Filled(1234);
    Qel_MatFromAngles(&m, 0, 0, 0);
    QelMatrix id = Filled(1234);
    Qel_MatIdentity(&id);
    EXPECT_EQ(id.m[0], ONE);
    EXPECT_EQ(id.m[5], ONE);
    EXPECT_EQ(id.m[10], ONE);
    ExpectMatNear(m, id, 0);
    EXPECT_EQ(m.m[3], 1234);
    EXPECT_EQ(m.m[7], 1234);
    EXPECT_EQ(m.m[11], 1234);
}

TEST(FixMath, MatFromAnglesLayout) {
    QelMatrix m{};
    Qel_MatFromAngles(&m, 16384, 0, 0);  // a quarter turn of heading
    QelMatrix want{};
    want.m[2] = ONE;   // cc sa
    want.m[5] = ONE;   // cc cb
    want.m[8] = -ONE;  // -sa cb
    ExpectMatNear(m, want, 1);
    Qel_MatFromAngles(&m, 0, 16384, 0);  // pitch up: forward row points up
    EXPECT_NEAR(m.m[9], ONE, 1);
    EXPECT_NEAR(m.m[6], -ONE, 1);
}

TEST(FixMath, AnglesFromMatTurnsBack) {
    const int32_t cases[][3] = {
        {0, 0, 0},           {1000, 2000, 3000}, {40000, 1500, 60000}, {16384, 60000, 8000}, {65000, 10000, 32768},
        {30000, 55000, 100}, {5, 16000, 5},      {20000, 49600, 12345}};
    for (const auto& c : cases) {
        QelMatrix m{};
        Qel_MatFromAngles(&m, c[0], c[1], c[2]);
        int32_t a, b, cc;
        Qel_AnglesFromMat(&m, &a, &b, &cc);
        QelMatrix back{};
        Qel_MatFromAngles(&back, a, b, cc);
        ExpectMatNear(back, m, 40);
        EXPECT_LE(AngleDist(b, c[1]), 2) << c[0] << " " << c[1] << " " << c[2];
    }
}

TEST(FixMath, AnglesFromMatVerticalCases) {
    for (int32_t pitch : {16384, -16384}) {
        QelMatrix m{};
        Qel_MatFromAngles(&m, 9000, pitch, 3000);
        ASSERT_EQ(m.m[9], pitch > 0 ? ONE : -ONE);
        int32_t a, b, c;
        Qel_AnglesFromMat(&m, &a, &b, &c);
        EXPECT_EQ(b, pitch);
        EXPECT_EQ(c, 0);
        QelMatrix back{};
        Qel_MatFromAngles(&back, a, b, c);
        ExpectMatNear(back, m, 8);
    }
}

TEST(FixMath, MatrixProducts) {
    QelMatrix a{}, b{}, ab{}, want{}, id{};
    Qel_MatIdentity(&id);
    Qel_MatFromAngles(&a, 10000, 0, 0);
    Qel_MatFromAngles(&b, 5000, 0, 0);
    Qel_MatFromAngles(&want, 15000, 0, 0);
    Qel_MatMul(&a, &b, &ab);
    ExpectMatNear(ab, want, 3);
    Qel_MatMul(&a, &id, &ab);
    ExpectMatNear(ab, a, 0);

    QelMatrix m{};
    Qel_MatFromAngles(&m, 12345, 2345, 54321);
    QelMatrix mmT{};
    Qel_MatMulTransposed(&m, &m, &mmT);
    ExpectMatNear(mmT, id, 4);

    // The output may be one of the inputs.
    QelMatrix c = b;
    Qel_MatMul(&a, &c, &c);
    ExpectMatNear(c, want, 3);
    c = a;
    Qel_MatMulTransposed(&c, &c, &c);
    ExpectMatNear(c, id, 4);
}

TEST(FixMath, MatrixTimesVector) {
    QelMatrix m{};
    Qel_MatFromAngles(&m, 16384, 0, 0);
    QelVector forward = {0, 0, ONE, 5};
    QelVector out{};
    Qel_MatMulVec(&m, &forward, &out);  // local z becomes row 2
    EXPECT_EQ(out.x, m.m[8]);
    EXPECT_EQ(out.y, m.m[9]);
    EXPECT_EQ(out.z, m.m[10]);
    EXPECT_EQ(out.w, 5);

    Qel_MatFromAngles(&m, 1111, 22222, 33333);
    QelVector v = {3 * ONE, -ONE, ONE / 4, 0};
    QelVector world{}, local{};
    Qel_MatMulVec(&m, &v, &world);
    Qel_MatTransMulVec(&m, &world, &local);
    EXPECT_NEAR(local.x, v.x, 8);
    EXPECT_NEAR(local.y, v.y, 8);
    EXPECT_NEAR(local.z, v.z, 8);

    QelVector inPlace = v;
    Qel_MatMulVec(&m, &inPlace, &inPlace);
    EXPECT_EQ(inPlace.x, world.x);
    EXPECT_EQ(inPlace.y, world.y);
    EXPECT_EQ(inPlace.z, world.z);
}

TEST(FixMath, QuatFromAxisAngle) {
    QelQuat q{};
    QelAxisAngle zeroAngle = {0, ONE, 0, 0};
    Qel_QuatFromAxisAngle(&zeroAngle, &q);
    EXPECT_EQ(q.w, ONE);
    EXPECT_EQ(q.x, 0);
    QelAxisAngle nullAxis = {12345, 0, 0, 0};
    Qel_QuatFromAxisAngle(&nullAxis, &q);
    EXPECT_EQ(q.w, ONE);
    EXPECT_EQ(q.y, 0);
    QelAxisAngle halfTurnX = {32768, ONE, 0, 0};
    Qel_QuatFromAxisAngle(&halfTurnX, &q);
    EXPECT_EQ(q.w, 0);
    EXPECT_EQ(q.x, ONE);
    QelAxisAngle quarterZ = {16384, 0, 0, ONE};
    Qel_QuatFromAxisAngle(&quarterZ, &q);
    EXPECT_EQ(q.w, 46341);
    EXPECT_EQ(q.z, 46341);
    QelAxisAngle minusQuarterZ = {-16384, 0, 0, ONE};
    Qel_QuatFromAxisAngle(&minusQuarterZ, &q);
    EXPECT_EQ(q.w, 46341);
    EXPECT_EQ(q.z, -46341);
}

TEST(FixMath, MatFromQuat) {
    QelMatrix m = Filled(-7), id{};
    Qel_MatIdentity(&id);
    QelQuat unit = {ONE, 0, 0, 0};
    Qel_MatFromQuat(&unit, &m);
    ExpectMatNear(m, id, 0);
    EXPECT_EQ(m.m[3], -7);
    QelQuat quarterZ = {46341, 0, 0, 46341};
    Qel_MatFromQuat(&quarterZ, &m);
    EXPECT_NEAR(m.m[0], 0, 1);
    EXPECT_NEAR(m.m[1], -ONE, 1);
    EXPECT_NEAR(m.m[4], ONE, 1);
    EXPECT_NEAR(m.m[10], ONE, 1);
}

TEST(FixMath, QuatFromMatRoundTrip) {
    const QelAxisAngle keys[] = {
        {0, ONE, 0, 0},           {16384, 0, 0, ONE},        {5000, 37837, 37837, 37837},
        {32768, ONE, 0, 0},       {32768, 0, ONE, 0},        {32768, 0, 0, ONE},
        {32768, 46341, 46341, 0}, {30000, 0, 46341, -46341}, {64000, 26755, 53510, 26755},
        {100, ONE, 0, 0},
    };
    for (const QelAxisAngle& key : keys) {
        QelQuat q{}, back{};
        QelMatrix m{};
        Qel_QuatFromAxisAngle(&key, &q);
        Qel_MatFromQuat(&q, &m);
        Qel_QuatFromMat(&m, &back);
        // w comes from an integer square root (steps of 1/512); the vector
        // part is exact, so the turn survives once the length is evened out.
        EXPECT_NEAR(QuatLength(back), 1.0, 0.003) << key.angle;
        Qel_Norm4ToOne(&back);
        double dot = (double(q.w) * back.w + double(q.x) * back.x + double(q.y) * back.y + double(q.z) * back.z) /
                     (double(ONE) * ONE);
        EXPECT_GT(std::fabs(dot), 0.9999) << key.angle << " " << key.x << " " << key.y << " " << key.z;
    }
}

TEST(FixMath, QuatFromMatHalfTurnWithRoundingGivesUnitQuaternion) {
    // A half turn about y whose trace + 1 came out just below 0.
    QelMatrix m{};
    m.m[0] = -ONE;
    m.m[5] = ONE - 1;
    m.m[10] = -ONE;
    QelQuat q{};
    Qel_QuatFromMat(&m, &q);
    EXPECT_EQ(q.w, 0);
    EXPECT_EQ(q.x, 0);
    EXPECT_EQ(std::abs(q.y), ONE);
    EXPECT_EQ(q.z, 0);

    // A slightly oversized identity: 1 + trace above 4.0.
    QelMatrix big{};
    big.m[0] = big.m[5] = big.m[10] = ONE + 3;
    Qel_QuatFromMat(&big, &q);
    EXPECT_EQ(q.w, ONE);
    EXPECT_EQ(q.x, 0);
    EXPECT_EQ(q.y, 0);
    EXPECT_EQ(q.z, 0);
}

TEST(FixMath, QuatMul) {
    QelQuat quarterZ = {46341, 0, 0, 46341}, unit = {ONE, 0, 0, 0}, out{};
    Qel_QuatMul(&quarterZ, &unit, &out);
    EXPECT_NEAR(out.w, 46341, 1);
    EXPECT_NEAR(out.z, 46341, 1);
    Qel_QuatMul(&quarterZ, &quarterZ, &out);  // a half turn about z
    EXPECT_NEAR(out.w, 0, 1);
    EXPECT_NEAR(out.z, ONE, 1);
    QelQuat a = {ONE, ONE, 0, 0};  // not unit: the product is normalised
    Qel_QuatMul(&a, &unit, &a);
    EXPECT_NEAR(a.w, 46341, 1);
    EXPECT_NEAR(a.x, 46341, 1);
}

TEST(FixMath, AnglesFromVector) {
    struct Case {
        QelVector v;
        int32_t heading, pitch;
    } cases[] = {
        {{0, 0, ONE, 0}, 0, 0},      {{0, ONE, 0, 0}, 0, 16318}, {{0, -5, 0, 0}, 0, 49217},
        {{-ONE, 0, 0, 0}, 16384, 0}, {{ONE, 0, 0, 0}, 49152, 0}, {{0, 0, -3 * ONE, 0}, 32768, 0},
    };
    for (const Case& c : cases) {
        int32_t h = -1, p = -1;
        Qel_AnglesFromVector(&c.v, &h, &p);
        EXPECT_LE(AngleDist(h, c.heading), 1) << c.v.x << " " << c.v.y << " " << c.v.z;
        EXPECT_LE(AngleDist(p, c.pitch), 1) << c.v.x << " " << c.v.y << " " << c.v.z;
        int32_t h2, p2;
        Qel_MatCombine(&c.v, &h2, &p2);
        EXPECT_EQ(h2, h);
        EXPECT_EQ(p2, p);
    }
    // The forward row of the matrix built from the angles is the direction.
    const QelVector dirs[] = {{ONE, ONE, ONE, 0}, {-3000, 20000, -50000, 0}, {70000, -90000, 1000, 0}};
    for (QelVector d : dirs) {
        int32_t h, p;
        Qel_AnglesFromVector(&d, &h, &p);
        QelMatrix m{};
        Qel_MatFromAngles(&m, h, p, 0);
        Qel_NormVectorToOne(&d);
        EXPECT_NEAR(m.m[8], d.x, 20);
        EXPECT_NEAR(m.m[9], d.y, 20);
        EXPECT_NEAR(m.m[10], d.z, 20);
    }
}

TEST(FixMath, Rotate2D) {
    int32_t x, y;
    Qel_Rotate2D(ONE, 0, 16384, &x, &y);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, ONE);
    Qel_Rotate2D(ONE, 0, 32768, &x, &y);
    EXPECT_EQ(x, -ONE);
    EXPECT_EQ(y, 0);
    Qel_Rotate2D(0, 2 * ONE, 8192, &x, &y);
    EXPECT_EQ(x, -92682);
    EXPECT_EQ(y, 92682);
}

TEST(FixMath, VecRotateAroundAxis) {
    // The vector is multiplied as a row with the rotation matrix, which turns
    // it the other way round from Qel_MatFromAxisAngle's matrices.
    QelVector zAxis = {0, 0, 5 * ONE, 0};
    QelVector v = {ONE, 0, 0, 9};
    Qel_VecRotateAroundAxis(&v, &zAxis, 16384);
    EXPECT_NEAR(v.x, 0, 1);
    EXPECT_NEAR(v.y, -ONE, 1);
    EXPECT_EQ(v.w, 9);

    QelVector axis = {ONE, 2 * ONE, -ONE, 0};
    QelVector w = {3 * ONE, ONE / 2, 2 * ONE, 0};
    QelVector viaMatrix{};
    QelMatrix m{};
    Qel_VecRotateAroundAxis(&w, &axis, 10000);
    QelVector unitAxis = axis;
    Qel_NormVectorToOne(&unitAxis);
    Qel_MatFromAxisAngle(&m, &unitAxis, -10000);
    QelVector orig = {3 * ONE, ONE / 2, 2 * ONE, 0};
    Qel_MatMulVec(&m, &orig, &viaMatrix);
    EXPECT_NEAR(w.x, viaMatrix.x, 16);
    EXPECT_NEAR(w.y, viaMatrix.y, 16);
    EXPECT_NEAR(w.z, viaMatrix.z, 16);

    QelVector nullAxis = {0, 0, 0, 0};
    QelVector keep = {ONE, 2, 3, 4};
    LogCapture capture;
    Qel_VecRotateAroundAxis(&keep, &nullAxis, 5000);
    std::string log = capture.Take();
    EXPECT_EQ(keep.x, ONE);
    EXPECT_EQ(keep.y, 2);
    EXPECT_EQ(keep.z, 3);
    EXPECT_NE(log.find("Qel_NormVectorToOne: Nullvektor!\n"), std::string::npos);
}

TEST(FixMath, SplineInterpolation) {
    QelVector p0 = {0, 0, 0, 0}, p1 = {10 * ONE, 20 * ONE, -4 * ONE, 0};
    QelVector t0 = p1, t1 = p1;  // straight line at constant speed
    QelVector out = {0, 0, 0, 111}, tan = {0, 0, 0, 222};
    Qel_VecSplineInterp(&p0, &p1, &t0, &t1, 0, &out, &tan);
    EXPECT_EQ(out.x, 0);
    EXPECT_EQ(tan.y, t0.y);
    Qel_VecSplineInterp(&p0, &p1, &t0, &t1, ONE, &out, &tan);
    EXPECT_EQ(out.x, p1.x);
    EXPECT_EQ(out.z, p1.z);
    EXPECT_EQ(tan.x, t1.x);
    Qel_VecSplineInterp(&p0, &p1, &t0, &t1, ONE / 2, &out, &tan);
    EXPECT_NEAR(out.x, 5 * ONE, 2);
    EXPECT_NEAR(out.y, 10 * ONE, 2);
    EXPECT_NEAR(tan.y, 20 * ONE, 4);
    EXPECT_EQ(out.w, 111);
    EXPECT_EQ(tan.w, 222);
}

TEST(FixMath, Normalising) {
    QelVector v = {3 * ONE, 4 * ONE, 0, 0};
    Qel_NormVectorToOne(&v);
    EXPECT_EQ(v.x, 39322);  // 0.6
    EXPECT_EQ(v.y, 52429);  // 0.8
    int32_t x = 3, y = 0, z = -4;
    Qel_Norm3(&x, &y, &z, 10 * ONE);
    EXPECT_EQ(x, 6 * ONE);
    EXPECT_EQ(z, -8 * ONE);
    int32_t q[4] = {1, 1, 1, 1};
    Qel_Norm4ToOne(q);
    EXPECT_EQ(q[0], ONE / 2);
    EXPECT_EQ(q[3], ONE / 2);
    int32_t r[3] = {0, -7, 0};
    Qel_Norm3ToOne(r);
    EXPECT_EQ(r[1], -ONE);
    int32_t p[2] = {5, 5};
    Qel_Norm2(p);
    EXPECT_EQ(p[0], 46341);
    QelQuat quat = {2 * ONE, 0, 0, 0};
    Qel_Norm4ToOne(&quat);
    EXPECT_EQ(quat.w, ONE);
}

TEST(FixMath, NormalisingANullVectorLogsAndKeepsIt) {
    struct Case {
        const char* line;
        void (*run)();
    } cases[] = {
        {"Qel_Norm3: Nullvektor!\n",
         [] {
             int32_t x = 0, y = 0, z = 0;
             Qel_Norm3(&x, &y, &z, ONE);
             EXPECT_EQ(x, 0);
         }},
        {"Qel_NormVectorToOne: Nullvektor!\n",
         [] {
             QelVector v = {0, 0, 0, 3};
             Qel_NormVectorToOne(&v);
             EXPECT_EQ(v.w, 3);
             EXPECT_EQ(v.x, 0);
         }},
        {"Qel_Norm4ToOne: Nullvektor!\n",
         [] {
             int32_t v[4] = {};
             Qel_Norm4ToOne(v);
             EXPECT_EQ(v[0], 0);
         }},
        {"Qel_Norm3ToOne: Nullvektor!\n",
         [] {
             int32_t v[3] = {};
             Qel_Norm3ToOne(v);
             EXPECT_EQ(v[2], 0);
         }},
        {"Qel_Norm2: Nullvektor!\n",
         [] {
             int32_t v[2] = {};
             Qel_Norm2(v);
             EXPECT_EQ(v[1], 0);
         }},
    };
    for (const Case& c : cases) {
        LogCapture capture;
        c.run();
        std::string log = capture.Take();
        EXPECT_NE(log.find(c.line), std::string::npos) << c.line;
    }
}

TEST(FixMath, MatOrthonormalize) {
    QelMatrix m{}, id{};
    Qel_MatIdentity(&id);
    m = id;
    Qel_MatOrthonormalize(&m);
    ExpectMatNear(m, id, 0);

    Qel_MatFromAngles(&m, 7000, 3000, 51000);
    QelMatrix ref = m;
    m.m[0] += 900;  // drift
    m.m[5] -= 700;
    m.m[9] += 500;
    Qel_MatOrthonormalize(&m);
    QelMatrix mmT{};
    Qel_MatMulTransposed(&m, &m, &mmT);
    ExpectMatNear(mmT, id, 4);
    ExpectMatNear(m, ref, 1500);
}

TEST(FixMath, MatToAxisAngleFixed) {
    QelMatrix m{};
    QelVector z = {0, 0, ONE, 0}, axis{};
    int32_t angle = -1;
    Qel_MatFromAxisAngle(&m, &z, 16384);
    Qel_MatToAxisAngleFixed(&m, &axis, &angle);
    EXPECT_EQ(axis.x, 0);
    EXPECT_EQ(axis.y, 0);
    EXPECT_EQ(axis.z, ONE);
    EXPECT_EQ(axis.w, 0);
    EXPECT_NEAR(angle, 16384, 1);

    Qel_MatIdentity(&m);
    Qel_MatToAxisAngleFixed(&m, &axis, &angle);
    EXPECT_EQ(axis.z, ONE);
    EXPECT_EQ(angle, 0);
}

TEST(FixMath, IntegerLengthsDoNotOverflow) {
    struct Case {
        int64_t x, y, z, length;
    } cases[] = {
        {3, 4, 12, 13},
        {-3, -4, 0, 5},
        {1, 1, 1, 1},  // the floor of the root
        {0, 0, 0, 0},
        {INT32_MIN, INT32_MIN, INT32_MIN, 3719550786LL},
        {4294967295LL, 4294967295LL, 4294967295LL, 7439101571LL},  // differences of 32-bit positions
        {int64_t{1} << 40, 0, 0, int64_t{1} << 40},
    };
    for (const Case& c : cases) EXPECT_EQ(Qel_VecLength64(c.x, c.y, c.z), c.length) << c.x;
    const QelVector v = {INT32_MIN, INT32_MAX, INT32_MIN, 77};
    EXPECT_EQ(Qel_VecLengthInt(&v), Qel_VecLength64(v.x, v.y, v.z));
}

TEST(FixMath, Norm3VecAndMatFromFloat) {
    const float f[9] = {1.0f, 0.0f, 0.0f, 0.0f, 0.5f, -0.25f, 0.0f, 0.0f, 2.0f};
    QelMatrix m{};
    m.m[3] = m.m[7] = m.m[11] = 99;
    Qel_MatFromFloat(f, &m);
    EXPECT_EQ(m.m[0], ONE);
    EXPECT_EQ(m.m[5], ONE / 2);
    EXPECT_EQ(m.m[6], -ONE / 4);
    EXPECT_EQ(m.m[10], 2 * ONE);
    EXPECT_EQ(m.m[3], 99);  // the fourth column stays
    Qel_Norm3Vec(&m);
    EXPECT_EQ(m.m[0], ONE);
    EXPECT_NEAR(m.m[5], 58617, 1);  // (0.5, -0.25) brought to length 1.0
    EXPECT_NEAR(m.m[6], -29309, 1);
    EXPECT_EQ(m.m[10], ONE);
    EXPECT_EQ(m.m[7], 99);
}
