#include <gtest/gtest.h>

#include <cmath>

#include "base/fixmath.h"
#include "base/rotation.h"

namespace {

constexpr int32_t ONE = QEL_FIX_ONE;

void ExpectQuatNear(const QelQuat& a, const QelQuat& b, int32_t tol) {
    EXPECT_NEAR(a.w, b.w, tol);
    EXPECT_NEAR(a.x, b.x, tol);
    EXPECT_NEAR(a.y, b.y, tol);
    EXPECT_NEAR(a.z, b.z, tol);
}

}  // namespace

TEST(Rotation, SlerpEnds) {
    QelQuat a = {ONE, 0, 0, 0}, b = {46341, 0, 0, 46341}, r{};
    Qel_QuatSlerp(&r, &a, &b, 0);
    ExpectQuatNear(r, a, 0);
    Qel_QuatSlerp(&r, &a, &b, -5);
    ExpectQuatNear(r, a, 0);
    Qel_QuatSlerp(&r, &a, &b, ONE);
    ExpectQuatNear(r, b, 0);
    QelQuat odd = {1, 2, 3, 4};  // copied unchanged, not normalised
    Qel_QuatSlerp(&r, &a, &odd, ONE + 10);
    ExpectQuatNear(r, odd, 0);
}

TEST(Rotation, SlerpHalfway) {
    // Halfway between no turn and a quarter turn about z is an eighth turn.
    QelQuat a = {ONE, 0, 0, 0}, b = {46341, 0, 0, 46341}, r{};
    Qel_QuatSlerp(&r, &a, &b, ONE / 2);
    EXPECT_NEAR(r.w, std::cos(M_PI / 8) * ONE, 2);
    EXPECT_NEAR(r.z, std::sin(M_PI / 8) * ONE, 2);
    EXPECT_EQ(r.x, 0);

    // The same rotation written with the opposite sign: the short way round.
    QelQuat negB = {-b.w, 0, 0, -b.z};
    Qel_QuatSlerp(&r, &a, &negB, ONE / 2);
    EXPECT_NEAR(r.w, std::cos(M_PI / 8) * ONE, 2);
    EXPECT_NEAR(r.z, std::sin(M_PI / 8) * ONE, 2);
}

TEST(Rotation, SlerpWithItsNegationDoesNotDivideByZero) {
    QelQuat a = {46341, 0, 46341, 0};
    QelQuat neg = {-46341, 0, -46341, 0};
    QelQuat r{};
    Qel_QuatSlerp(&r, &a, &neg, ONE / 3);
    ExpectQuatNear(r, a, 0);
    Qel_QuatSlerp(&r, &a, &a, ONE / 3);
    ExpectQuatNear(r, a, 0);
}

TEST(Rotation, AngleFromXY) {
    struct Case {
        int32_t x, y, angle;
    } cases[] = {
        {1, 0, 0}, {0, 1, 16384}, {-1, 0, 32768}, {0, -1, 49152}, {ONE, ONE, 8192}, {0, 0, 0}, {ONE, -1, 65535},
    };
    for (const Case& c : cases) EXPECT_EQ(Qel_AngleFromXY(c.x, c.y), c.angle) << c.x << " " << c.y;
}

TEST(Rotation, MatFromAxisAngle) {
    QelMatrix m{};
    m.m[3] = m.m[7] = m.m[11] = 42;
    QelVector z = {0, 0, ONE, 0};
    Qel_MatFromAxisAngle(&m, &z, 0);
    const int32_t id[9] = {ONE, 0, 0, 0, ONE, 0, 0, 0, ONE};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(m.m[(i / 3) * 4 + i % 3], id[i]);
    EXPECT_EQ(m.m[3], 42);
    EXPECT_EQ(m.m[11], 42);

    Qel_MatFromAxisAngle(&m, &z, 16384);
    const int32_t quarter[9] = {0, ONE, 0, -ONE, 0, 0, 0, 0, ONE};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(m.m[(i / 3) * 4 + i % 3], quarter[i]) << i;
    // Rows times the matrix: x turns into y.
    QelVector x = {ONE, 0, 0, 0}, out{};
    Qel_MatMulVec(&m, &x, &out);
    EXPECT_EQ(out.y, ONE);

    // Results are truncated toward zero: cos of an eighth turn is 46340.95.
    Qel_MatFromAxisAngleDouble(&m, 0, 0, 1, M_PI / 4);
    EXPECT_EQ(m.m[0], 46340);
    EXPECT_EQ(m.m[4], -46340);
}

TEST(Rotation, AxisAngleRoundTrip) {
    struct Case {
        double axis[3];
        double angle;
    } cases[] = {
        {{0, 0, 1}, 0.5},
        {{1, 0, 0}, 2.0},
        {{0, -1, 0}, 1.0},
        {{0.6, 0.8, 0}, 3.0},
        {{0.48, 0.6, 0.64}, 0.05},
        {{0, 0.6, -0.8}, M_PI - 0.01},
        {{0.36, -0.48, 0.8}, M_PI - 0.0005},
    };
    for (const Case& c : cases) {
        QelMatrix m{};
        Qel_MatFromAxisAngleDouble(&m, c.axis[0], c.axis[1], c.axis[2], c.angle);
        double axis[3], angle;
        Qel_MatToAxisAngle(&m, axis, &angle);
        EXPECT_NEAR(angle, c.angle, 5e-3) << c.angle;  // acos is steep near a half turn
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(axis[i], c.axis[i], 2e-3) << c.angle << " " << i;
    }
}

TEST(Rotation, DecomposeSmallAngleGivesZAxis) {
    QelMatrix m{};
    QelVector x = {ONE, 0, 0, 0};
    Qel_MatFromAxisAngle(&m, &x, 0);
    double axis[3] = {9, 9, 9}, angle = 9;
    Qel_MatToAxisAngle(&m, axis, &angle);
    EXPECT_EQ(axis[0], 0);
    EXPECT_EQ(axis[1], 0);
    EXPECT_EQ(axis[2], 1);
    EXPECT_EQ(angle, 0);
}

TEST(Rotation, DecomposeHalfTurnTakesAxisFromDiagonal) {
    // Exact half turns: the differences are all zero.
    struct Case {
        int32_t diag[3];
        int32_t off01, off02, off12;  // symmetric off-diagonal entries
        double axis[3];
    } cases[] = {
        {{ONE, -ONE, -ONE}, 0, 0, 0, {1, 0, 0}},     {{-ONE, ONE, -ONE}, 0, 0, 0, {0, 1, 0}},
        {{-ONE, -ONE, ONE}, 0, 0, 0, {0, 0, 1}},     {{0, 0, -ONE}, ONE, 0, 0, {M_SQRT1_2, M_SQRT1_2, 0}},
        {{-ONE, ONE - 1, -ONE}, 0, 0, 0, {0, 1, 0}},  // rounded: trace + 1 below 0
    };
    for (const Case& c : cases) {
        QelMatrix m{};
        m.m[0] = c.diag[0];
        m.m[5] = c.diag[1];
        m.m[10] = c.diag[2];
        m.m[1] = m.m[4] = c.off01;
        m.m[2] = m.m[8] = c.off02;
        m.m[6] = m.m[9] = c.off12;
        double axis[3], angle;
        Qel_MatToAxisAngle(&m, axis, &angle);
        EXPECT_NEAR(angle, M_PI, 1e-2);
        double dot = axis[0] * c.axis[0] + axis[1] * c.axis[1] + axis[2] * c.axis[2];
        EXPECT_NEAR(std::fabs(dot), 1.0, 1e-6);
        for (double a : axis) EXPECT_FALSE(std::isnan(a));

        QelVector fixedAxis{};
        int32_t fixedAngle;
        Qel_MatToAxisAngleFixed(&m, &fixedAxis, &fixedAngle);
        EXPECT_NEAR(fixedAngle, 32768, 100);
        double len = std::sqrt(double(fixedAxis.x) * fixedAxis.x + double(fixedAxis.y) * fixedAxis.y +
                               double(fixedAxis.z) * fixedAxis.z);
        EXPECT_NEAR(len, ONE, 2);
    }
}
