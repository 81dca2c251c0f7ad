#include "script/builtins_numeric.h"

#include "script/builtins_args.h"

#include <cmath>
#include <cstdlib>

#include "base/fixmath.h"
#include "base/log.h"
#include "base/random.h"
#include "script/arrays.h"
#include "script/expr.h"
#include "script/operators.h"
#include "script/tasks.h"

// Integer argument i: its 32-bit payload, 0 past the argument count (never
// reads beyond the call frame).
static int32_t Int(const ScriptValue* args, int32_t argc, int32_t i) { return args && i < argc ? args[i].i : 0; }
static ScriptValue* Val(ScriptValue* args, int32_t argc, int32_t i) { return args && i < argc ? &args[i] : nullptr; }

static int32_t Sat(int64_t v) {
    return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v);
}

// --- curves and integer functions ---

static int32_t LinFunc(int32_t x0, int32_t x1, int32_t y0, int32_t y1, int32_t x) {
    int64_t m = (static_cast<int64_t>(y0) + y1) / 2;
    if (x0 == x1) return static_cast<int32_t>(m);
    if (x <= x0) return y0;
    if (x >= x1) return y1;
    int64_t dy = static_cast<int64_t>(y1) - y0;
    int64_t dx = static_cast<int64_t>(x1) - x0;
    if (x < 65536 && dx < 65536) {
        int64_t div = 2 * dx;
        return Sat(m + (div ? dy * (2 * static_cast<int64_t>(x) - x0 - x1) / div : 0));
    }
    int64_t c = (static_cast<int64_t>(x1) + x0) / 2;
    return Sat(m + dy * (x - c) / dx);
}

int32_t SE_LinFunc(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    return SE_AnswerInt(
        ctx, task,
        LinFunc(Int(args, argc, 0), Int(args, argc, 1), Int(args, argc, 2), Int(args, argc, 3), Int(args, argc, 4)));
}

int32_t SE_LinFuncSum(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    int32_t x0 = Int(args, argc, 0), x1 = Int(args, argc, 1), y0 = Int(args, argc, 2), y1 = Int(args, argc, 3);
    int32_t a = Int(args, argc, 4), b = Int(args, argc, 5);
    int64_t sum = static_cast<int64_t>(LinFunc(x0, x1, y0, y1, a)) + LinFunc(x0, x1, y0, y1, b);
    int64_t span = static_cast<int64_t>(b) - a + 1;
    // Both factors fit in 33 bits, so the product cannot overflow 64 bits.
    return SE_AnswerInt(ctx, task, Sat(sum * span / 2));
}

int32_t SE_LogFunc(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    int32_t x = Int(args, argc, 0), xmin = Int(args, argc, 1), xmax = Int(args, argc, 2);
    int32_t ymin = Int(args, argc, 3), ymax = Int(args, argc, 4);
    if (x < xmin) x = xmin;
    if (x > xmax) x = xmax;
    // Logarithms of non-positive ratios and a zero span have no curve: the
    // start value stands.
    if (xmin == 0) return SE_AnswerInt(ctx, task, ymin);
    double ratio = static_cast<double>(x) / xmin;
    double span = static_cast<double>(xmax) / xmin;
    if (!(ratio > 0.0) || !(span > 0.0) || span == 1.0) return SE_AnswerInt(ctx, task, ymin);
    double y = ymin + (static_cast<double>(ymax) - ymin) * std::log(ratio) / std::log(span);
    return SE_AnswerInt(ctx, task, SV_DoubleToInt(y));
}

int32_t SE_CubicPoly(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    double c = Int(args, argc, 0), y0 = Int(args, argc, 1), r = Int(args, argc, 2), d = Int(args, argc, 3);
    double q = Int(args, argc, 4), p = Int(args, argc, 5), x = Int(args, argc, 6);
    // Without a length or a slope divisor the curve is flat at y0.
    if (q == 0.0 || r == 0.0) return SE_AnswerInt(ctx, task, SV_DoubleToInt(y0));
    double t = x - c;
    if (t < -c) t = -c;
    if (t > c) t = c;
    double k = (d - p * r / q) / (r * r * r);
    return SE_AnswerInt(ctx, task, SV_DoubleToInt(y0 + p * t / q + k * t * t * t));
}

// Greatest common divisor of two positive numbers; 0 for anything else.
static int32_t Gcd(int32_t a, int32_t b) {
    if (a <= 0 || b <= 0) return 0;
    while (b) {
        int32_t r = a % b;
        a = b;
        b = r;
    }
    return a;
}

int32_t SE_GGT(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    return SE_AnswerInt(ctx, task, Gcd(Int(args, argc, 0), Int(args, argc, 1)));
}

int32_t SE_KGV(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    int32_t a = Int(args, argc, 0), b = Int(args, argc, 1);
    if (a == b) return SE_AnswerInt(ctx, task, b);
    int32_t g = Gcd(a, b);
    if (!g) return SE_AnswerInt(ctx, task, 0);
    return SE_AnswerInt(ctx, task, Sat(static_cast<int64_t>(a / g) * b));
}

// --- distances and ranges ---

int32_t SE_Distance3(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    return SE_AnswerInt(ctx, task, SE_VectorLength(Int(args, argc, 0), Int(args, argc, 1), Int(args, argc, 2)));
}

// x, y, z of a position argument; false when an element is missing.
static bool Position(ScriptValue* v, int64_t out[3]) {
    if (!v) return false;
    for (int k = 0; k < 3; ++k) {
        const ScriptValue* e = SV_ArrayRead(v, k);
        if (!e) return false;
        out[k] = e->i;
    }
    return true;
}

int32_t SE_DistanceA3(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    int64_t p[3];
    if (!Position(Val(args, argc, 0), p)) return SE_AnswerInt(ctx, task, 0);
    return SE_AnswerInt(
        ctx, task, SE_VectorLength(p[0] - Int(args, argc, 1), p[1] - Int(args, argc, 2), p[2] - Int(args, argc, 3)));
}

int32_t SE_DistanceAA(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    int64_t p[3], q[3];
    if (!Position(Val(args, argc, 0), p) || !Position(Val(args, argc, 1), q)) return SE_AnswerInt(ctx, task, 0);
    return SE_AnswerInt(ctx, task, SE_VectorLength(p[0] - q[0], p[1] - q[1], p[2] - q[2]));
}

int32_t SE_IsPosInRangeA(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    ScriptValue* pos = Val(args, argc, 0);
    ScriptValue* ranges = Val(args, argc, 1);
    if (!pos || pos->tag != VARTYPE_ARRAY || SV_ArraySize(pos) < 3 || !ranges) return SE_AnswerInt(ctx, task, 0);
    int64_t p[3];
    if (!Position(pos, p)) return SE_AnswerInt(ctx, task, 0);
    int32_t r = argc >= 3 ? Int(args, argc, 2) : -1;
    return SE_AnswerInt(
        ctx, task,
        SE_IsPosInRange(r, static_cast<int32_t>(p[0]), static_cast<int32_t>(p[1]), static_cast<int32_t>(p[2]), ranges));
}

int32_t SE_IsPosInRange3(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    ScriptValue* ranges = Val(args, argc, 3);
    if (!ranges) return SE_AnswerInt(ctx, task, 0);
    int32_t r = argc >= 5 ? Int(args, argc, 4) : -1;
    return SE_AnswerInt(ctx, task,
                        SE_IsPosInRange(r, Int(args, argc, 0), Int(args, argc, 1), Int(args, argc, 2), ranges));
}

int32_t SE_CompressRangeData(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    ScriptValue* ranges = Val(args, argc, 0);
    if (!ranges) return SE_AnswerInt(ctx, task, 0);
    return SE_AnswerInt(ctx, task, SE_CompressRanges(ranges, argc >= 2 ? Int(args, argc, 1) : -1));
}

// --- fixed point ---

int32_t SE_MulFix(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    int64_t p = static_cast<int64_t>(Int(args, argc, 0)) * Int(args, argc, 1);
    return SE_AnswerInt(ctx, task, static_cast<int32_t>((p + 32768) >> 16));
}

int32_t SE_DivFix(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    int32_t a = Int(args, argc, 0), b = Int(args, argc, 1);
    if (!b) return SE_AnswerInt(ctx, task, 0);
    return SE_AnswerInt(ctx, task, Sat(static_cast<int64_t>(a) * 65536 / b));
}

int32_t SE_MulDivFix(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    int32_t a = Int(args, argc, 0), b = Int(args, argc, 1), c = Int(args, argc, 2);
    if (!c) return SE_AnswerInt(ctx, task, 0);
    return SE_AnswerInt(ctx, task, Sat(static_cast<int64_t>(a) * b / c));
}

int32_t SE_Sqrt(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    // Bit by bit; a negative number leaves every test false and gives 0.
    int32_t op = Int(args, argc, 0), res = 0, one = 0x40000000;
    while (one && one > op) one >>= 2;
    while (one) {
        if (op >= res + one) {
            op -= res + one;
            res = (res >> 1) + one;
        } else {
            res >>= 1;
        }
        one >>= 2;
    }
    return SE_AnswerInt(ctx, task, res);
}

static int32_t Sine(uint32_t a) {
    const int32_t* t = Qel_SinQuarterTable();
    if (a <= 0x4000) return t[a];
    if (a <= 0x8000) return t[0x8000 - a];
    if (a <= 0xC000) return -t[a - 0x8000];
    return -t[0x10000 - a];
}

static int32_t Cosine(uint32_t a) {
    const int32_t* t = Qel_SinQuarterTable();
    if (a <= 0x4000) return t[0x4000 - a];
    if (a <= 0x8000) return -t[a - 0x4000];
    if (a <= 0xC000) return -t[0xC000 - a];
    return t[a - 0xC000];
}

int32_t SE_Sin(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    return SE_AnswerInt(ctx, task, Sine(static_cast<uint32_t>(Int(args, argc, 0)) & 0xFFFF));
}

int32_t SE_Cos(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    return SE_AnswerInt(ctx, task, Cosine(static_cast<uint32_t>(Int(args, argc, 0)) & 0xFFFF));
}

// --- random numbers ---

int32_t SE_Random(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    int32_t n = Int(args, argc, 0);
    if (n <= 0) {
        Qel_ErrPrintf("Qel_LongRandom: Wrong argument %d\n", n);
        return SE_AnswerInt(ctx, task, 0);
    }
    return SE_AnswerInt(ctx, task, Qel_Random(n));
}

int32_t SE_RandomLowNorm(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    int32_t n = Int(args, argc, 0), k = Int(args, argc, 1);
    if (k <= 0) return SE_AnswerInt(ctx, task, 0);
    int64_t sum = 0;
    for (int32_t i = 0; i < k; ++i) sum += Qel_Random(n);
    int64_t m = sum / k;
    int64_t h = n / 2;
    return SE_AnswerInt(ctx, task, Sat(2 * std::llabs(m - h)));
}

// --- matrices and vectors ---

// Element [i][j] of a matrix argument (0 where the array read finds none).
static void ReadMatrix(ScriptValue* v, QelMatrix* m) {
    *m = QelMatrix{};
    if (!v) return;
    for (int i = 0; i < 3; ++i) {
        ScriptValue* row = SV_ArrayRead(v, i);
        if (!row) continue;
        for (int j = 0; j < 3; ++j)
            if (const ScriptValue* e = SV_ArrayRead(row, j)) m->m[4 * i + j] = e->i;
    }
}

static void WriteMatrix(ScriptValue* v, const QelMatrix* m) {
    for (int i = 0; i < 3; ++i) {
        ScriptValue* row = SV_ArrayRead(v, i);
        if (!row) continue;
        for (int j = 0; j < 3; ++j) SV_ArrayWriteInt(row, j, m->m[4 * i + j]);
    }
}

static void NewIntArray(ScriptValue* out, const int32_t* values, int32_t n) {
    SV_ArrayAlloc(out, n);
    for (int32_t k = 0; k < n; ++k) SV_ArrayWriteInt(out, k, values[k]);
}

static void NewMatrix(ScriptValue* out, const QelMatrix* m) {
    SV_ArrayAlloc(out, 3);
    for (int i = 0; i < 3; ++i) {
        ScriptValue row{};
        NewIntArray(&row, &m->m[4 * i], 3);
        SV_ArrayWrite(out, i, &row);
        SV_Release(&row);
    }
}

static void ReadVector(ScriptValue* v, QelVector* out) {
    int32_t c[3] = {0, 0, 0};
    if (v)
        for (int k = 0; k < 3; ++k)
            if (const ScriptValue* e = SV_ArrayRead(v, k)) c[k] = e->i;
    Fx_VecSet(out, c[0], c[1], c[2]);
}

static void WriteVector(ScriptValue* v, const QelVector* in) {
    if (!v) return;
    SV_ArrayWriteInt(v, 0, in->x);
    SV_ArrayWriteInt(v, 1, in->y);
    SV_ArrayWriteInt(v, 2, in->z);
}

int32_t SE_GetRotMatrixFromAngles(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    QelMatrix m{};
    Qel_MatFromAngles(&m, Int(args, argc, 0), Int(args, argc, 1), Int(args, argc, 2));
    ScriptValue v{};
    NewMatrix(&v, &m);
    return SE_AnswerValue(ctx, task, &v);
}

int32_t SE_GetAnglesFromRotMatrix(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    QelMatrix m;
    ReadMatrix(Val(args, argc, 0), &m);
    int32_t angles[3];
    Qel_AnglesFromMat(&m, &angles[0], &angles[1], &angles[2]);
    ScriptValue v{};
    NewIntArray(&v, angles, 3);
    return SE_AnswerValue(ctx, task, &v);
}

int32_t SE_GetAnglesFromVector(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    QelVector d;
    Fx_VecSet(&d, Int(args, argc, 0), Int(args, argc, 1), Int(args, argc, 2));
    int32_t angles[2];
    Qel_AnglesFromVector(&d, &angles[0], &angles[1]);
    ScriptValue v{};
    NewIntArray(&v, angles, 2);
    return SE_AnswerValue(ctx, task, &v);
}

int32_t SE_MatrixMultiplySelfRight(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    QelMatrix a, b, r;
    ReadMatrix(Val(args, argc, 0), &a);
    ReadMatrix(Val(args, argc, 1), &b);
    Qel_MatMul(&b, &a, &r);
    if (ScriptValue* v = Val(args, argc, 0)) WriteMatrix(v, &r);
    return SE_AnswerInt(ctx, task, 0);
}

int32_t SE_MatrixMultiplySelfLeft(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    QelMatrix a, b, r;
    ReadMatrix(Val(args, argc, 0), &a);
    ReadMatrix(Val(args, argc, 1), &b);
    Qel_MatMul(&a, &b, &r);
    if (ScriptValue* v = Val(args, argc, 0)) WriteMatrix(v, &r);
    return SE_AnswerInt(ctx, task, 0);
}

int32_t SE_MatrixMultiply(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    QelMatrix a, b, r;
    ReadMatrix(Val(args, argc, 0), &a);
    ReadMatrix(Val(args, argc, 1), &b);
    Qel_MatMul(&a, &b, &r);
    ScriptValue v{};
    NewMatrix(&v, &r);
    return SE_AnswerValue(ctx, task, &v);
}

int32_t SE_MatrixMultiplyInv(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    QelMatrix a, b, r;
    ReadMatrix(Val(args, argc, 0), &a);
    ReadMatrix(Val(args, argc, 1), &b);
    Qel_MatMulTransposed(&a, &b, &r);
    ScriptValue v{};
    NewMatrix(&v, &r);
    return SE_AnswerValue(ctx, task, &v);
}

int32_t SE_RotateVector(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    QelVector v, out;
    QelMatrix m;
    ReadVector(Val(args, argc, 0), &v);
    ReadMatrix(Val(args, argc, 1), &m);
    Qel_MatMulVec(&m, &v, &out);
    WriteVector(Val(args, argc, 0), &out);
    return SE_AnswerInt(ctx, task, 0);
}

int32_t SE_RotateVectorInv(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    QelVector v, out;
    QelMatrix m;
    ReadVector(Val(args, argc, 0), &v);
    ReadMatrix(Val(args, argc, 1), &m);
    Qel_MatTransMulVec(&m, &v, &out);
    WriteVector(Val(args, argc, 0), &out);
    return SE_AnswerInt(ctx, task, 0);
}

// --- expression evaluator and escort offset ---

int32_t SE_ScriptComputeExpression(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc,
                                   ScriptValue* args) {
    if (ScriptValue* program = Val(args, argc, 0))
        SE_ComputeExpression(callerModule, task, program, Int(args, argc, 1));
    return SE_AnswerInt(ctx, task, 0);
}

int32_t SE_CalcGalaxyEscortOffset(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    const int32_t dir[3] = {Int(args, argc, 0), Int(args, argc, 1), Int(args, argc, 2)};
    const int32_t offset[3] = {Int(args, argc, 3), Int(args, argc, 4), Int(args, argc, 5)};
    int32_t out[3];
    if (!SE_CalcGalaxyEscortOffset(dir, offset, out)) return SE_AnswerInt(ctx, task, 0);
    ScriptValue v{};
    NewIntArray(&v, out, 3);
    return SE_AnswerValue(ctx, task, &v);
}
