#include "base/rotation.h"

#include <cmath>

// 16.16 results are truncated toward zero; values beyond the 32-bit range are
// clamped (the conversion of such a double would be undefined).
static int32_t TruncToFix(double v) {
    if (!(v == v)) return 0;
    if (v >= 2147483647.0) return INT32_MAX;
    if (v <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(v);
}

static double FromFix(int32_t v) { return v * (1.0 / 65536); }

void Qel_QuatSlerp(QelQuat* result, const QelQuat* a, const QelQuat* b, int32_t t) {
    if (t <= 0) {
        *result = *a;
        return;
    }
    if (t >= QEL_FIX_ONE) {
        *result = *b;
        return;
    }
    const double qa[4] = {FromFix(a->w), FromFix(a->x), FromFix(a->y), FromFix(a->z)};
    const double qb[4] = {FromFix(b->w), FromFix(b->x), FromFix(b->y), FromFix(b->z)};
    double c = qa[0] * qb[0] + qa[1] * qb[1] + qa[2] * qb[2] + qa[3] * qb[3];
    bool flip = false;
    if (c >= 1) {
        c = 1;
    } else if (c <= -1) {
        c = 1;
        flip = true;
    } else if (c < 0) {
        c = -c;
        flip = true;
    }
    double theta = std::acos(c), s = std::sin(theta);
    if (s == 0) {
        *result = *a;
        return;
    }
    double u = FromFix(t);
    double w0 = std::sin((1 - u) * theta) / s, w1 = std::sin(u * theta) / s;
    if (flip) w1 = -w1;
    int32_t r[4];
    for (int i = 0; i < 4; ++i) r[i] = TruncToFix((w0 * qa[i] + w1 * qb[i]) * 65536);
    *result = {r[0], r[1], r[2], r[3]};
}

int32_t Qel_AngleFromXY(int32_t x, int32_t y) {
    double a = std::atan2(static_cast<double>(y), static_cast<double>(x));
    if (a < 0) a += 2 * M_PI;
    int32_t angle = static_cast<int32_t>(a / (2 * M_PI) * 65536);
    return angle >= 65536 ? angle - 65536 : angle;
}

void Qel_MatFromAxisAngle(QelMatrix* out, const QelVector* axis, int32_t angle) {
    Qel_MatFromAxisAngleDouble(out, FromFix(axis->x), FromFix(axis->y), FromFix(axis->z), angle / 65536.0 * 2 * M_PI);
}

void Qel_MatFromAxisAngleDouble(QelMatrix* out, double x, double y, double z, double radians) {
    double c = std::cos(radians), s = std::sin(radians), k = 1 - c;
    const double w[9] = {
        x * x + (1 - x * x) * c, k * x * y + z * s, k * x * z - y * s, k * x * y - z * s,       y * y + (1 - y * y) * c,
        k * y * z + x * s,       k * x * z + y * s, k * y * z - x * s, z * z + (1 - z * z) * c,
    };
    for (int i = 0; i < 9; ++i) out->m[(i / 3) * 4 + i % 3] = TruncToFix(w[i] * 65536);
}

void Qel_MatToAxisAngle(const QelMatrix* m, double axis[3], double* radians) {
    double e[3][3];
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) e[r][c] = FromFix(m->m[r * 4 + c]);
    double c = (e[0][0] + e[1][1] + e[2][2] - 1) / 2;
    if (c < -1) c = -1;
    if (c > 1) c = 1;
    double theta = std::acos(c);
    if (!(theta > 0.001)) {
        axis[0] = 0;
        axis[1] = 0;
        axis[2] = 1;
        *radians = 0;
        return;
    }
    // The differences are 2 sin(theta) times the axis (negated, rows times the
    // matrix); they carry the axis' sign.
    double d[3] = {e[1][2] - e[2][1], e[2][0] - e[0][2], e[0][1] - e[1][0]};
    double v[3];
    if (c > -0.999) {
        double f = 1 / (2 * std::sin(theta));
        for (int i = 0; i < 3; ++i) v[i] = d[i] * f;
    } else {
        // Near a half turn the differences vanish. The symmetric part is
        // cos(theta) I + (1 - cos(theta)) axis axis^T: take the axis from the
        // largest diagonal entry and its row, the sign from the differences.
        int i = 0;
        if (e[1][1] > e[i][i]) i = 1;
        if (e[2][2] > e[i][i]) i = 2;
        double k = 1 - c;
        double ai = std::sqrt(std::fmax(0.0, (e[i][i] - c) / k));
        if (ai > 1e-9) {
            for (int j = 0; j < 3; ++j) v[j] = j == i ? ai : (e[i][j] + e[j][i]) / (2 * k * ai);
            if (v[0] * d[0] + v[1] * d[1] + v[2] * d[2] < 0)
                for (double& x : v) x = -x;
        } else {
            for (int j = 0; j < 3; ++j) v[j] = d[j];
        }
    }
    double len = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (!(len > 0)) {
        axis[0] = 0;
        axis[1] = 0;
        axis[2] = 1;
    } else {
        for (int i = 0; i < 3; ++i) axis[i] = v[i] / len;
    }
    *radians = theta;
}
