#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <string>
#include <vector>

#include "base/fixmath.h"
#include "script/arrays.h"
#include "script/builtins_numeric.h"
#include "script/expr.h"
#include "support/builtin_call.h"
#include "support/logcapture.h"
#include "support/script_run.h"
#include "support/story.h"

using testing::HasSubstr;

namespace {

std::vector<ScriptValue> Ints(const std::vector<int32_t>& ns) {
    std::vector<ScriptValue> v;
    for (int32_t n : ns) v.push_back(VInt(n));
    return v;
}

// --- integer answers from integer arguments ---

struct NumericCase {
    const char* name;
    SE_BuiltinFn fn;
    std::vector<int32_t> args;
    int32_t expected;
};

void PrintTo(const NumericCase& c, std::ostream* os) { *os << c.name; }

class NumericCalls : public testing::TestWithParam<NumericCase> {};

TEST_P(NumericCalls, Answer) {
    ScriptTestContext ctx;
    BuiltinCaller call(ctx.get());
    const NumericCase& c = GetParam();
    LogCapture capture;
    EXPECT_EQ(call.Int(c.fn, Ints(c.args)), c.expected);
    capture.Take();
}

constexpr int32_t kOne = 65536;

INSTANTIATE_TEST_SUITE_P(
    Cases, NumericCalls,
    testing::Values(
        NumericCase{"LinFuncEqualEnds", SE_LinFunc, {5, 5, 3, 8, 100}, 5},
        NumericCase{"LinFuncEqualEndsTowardZero", SE_LinFunc, {5, 5, -3, -8, 0}, -5},
        NumericCase{"LinFuncMiddle", SE_LinFunc, {0, 10, 0, 100, 5}, 50},
        NumericCase{"LinFuncAboveEnd", SE_LinFunc, {0, 10, 0, 100, 20}, 100},
        NumericCase{"LinFuncBelowStart", SE_LinFunc, {0, 10, 0, 100, -1}, 0},
        NumericCase{"LinFuncSmallSpan", SE_LinFunc, {0, 10, 0, 100, 3}, 30},
        NumericCase{"LinFuncWideSpan", SE_LinFunc, {0, 200000, 0, 1000, 150000}, 750},
        NumericCase{"LinFuncSum", SE_LinFuncSum, {0, 10, 0, 100, 2, 4}, 90},
        NumericCase{"LogFuncBelowMin", SE_LogFunc, {5, 10, 1000, 0, 300}, 0},
        NumericCase{"LogFuncMiddle", SE_LogFunc, {100, 10, 1000, 0, 300}, 150},
        NumericCase{"LogFuncAboveMax", SE_LogFunc, {5000, 10, 1000, 0, 300}, 300},
        NumericCase{"LogFuncZeroMin", SE_LogFunc, {5, 0, 1000, 7, 300}, 7},
        NumericCase{"LogFuncNegativeRatio", SE_LogFunc, {5, -10, 10, 7, 300}, 7},
        NumericCase{"LogFuncZeroSpan", SE_LogFunc, {10, 10, 10, 7, 9}, 7},
        NumericCase{"CubicPolyAtCentre", SE_CubicPoly, {100, 10, 50, 20, 1, 0, 100}, 10},
        NumericCase{"CubicPolyAtLength", SE_CubicPoly, {100, 10, 50, 20, 1, 0, 150}, 30},
        NumericCase{"CubicPolySlope", SE_CubicPoly, {100, 10, 50, 20, 2, 1, 150}, 30},
        NumericCase{"CubicPolyZeroDivisor", SE_CubicPoly, {100, 10, 50, 20, 0, 1, 150}, 10},
        NumericCase{"CubicPolyZeroLength", SE_CubicPoly, {100, 10, 0, 20, 1, 1, 150}, 10},
        NumericCase{"GGT", SE_GGT, {12, 18}, 6}, NumericCase{"GGTCoprime", SE_GGT, {7, 13}, 1},
        NumericCase{"GGTEqual", SE_GGT, {5, 5}, 5}, NumericCase{"GGTZero", SE_GGT, {0, 5}, 0},
        NumericCase{"GGTNegative", SE_GGT, {-4, 6}, 0}, NumericCase{"KGV", SE_KGV, {4, 6}, 12},
        NumericCase{"KGVEqual", SE_KGV, {5, 5}, 5}, NumericCase{"KGVZeros", SE_KGV, {0, 0}, 0},
        NumericCase{"KGVZero", SE_KGV, {0, 3}, 0}, NumericCase{"KGVNegative", SE_KGV, {-2, 3}, 0},
        NumericCase{"Distance3", SE_Distance3, {3, 4, 0}, 5},
        NumericCase{"Distance3Truncates", SE_Distance3, {6, 8, 5}, 11},
        NumericCase{"Distance3Saturates", SE_Distance3, {INT_MAX, INT_MAX, 0}, INT_MAX},
        NumericCase{"MulFix", SE_MulFix, {2 * kOne, 98304}, 3 * kOne},
        NumericCase{"MulFixRoundsUp", SE_MulFix, {1, 32768}, 1},
        NumericCase{"MulFixNegative", SE_MulFix, {-1, 32768}, 0},
        NumericCase{"DivFix", SE_DivFix, {kOne, 2 * kOne}, 32768},
        NumericCase{"DivFixTowardZero", SE_DivFix, {-kOne, 3 * kOne}, -21845},
        NumericCase{"DivFixByZero", SE_DivFix, {1, 0}, 0},
        NumericCase{"DivFixSaturates", SE_DivFix, {INT_MAX, 1}, INT_MAX},
        NumericCase{"MulDivFix", SE_MulDivFix, {1000000, 1000000, 1000}, 1000000000},
        NumericCase{"MulDivFixTowardZero", SE_MulDivFix, {7, -3, 2}, -10},
        NumericCase{"MulDivFixByZero", SE_MulDivFix, {7, 3, 0}, 0}, NumericCase{"SqrtZero", SE_Sqrt, {0}, 0},
        NumericCase{"SqrtOne", SE_Sqrt, {1}, 1}, NumericCase{"SqrtBelowSquare", SE_Sqrt, {15}, 3},
        NumericCase{"SqrtSquare", SE_Sqrt, {16}, 4}, NumericCase{"SqrtLargest", SE_Sqrt, {INT_MAX}, 46340},
        NumericCase{"SqrtNegative", SE_Sqrt, {-5}, 0}, NumericCase{"SinQuarter", SE_Sin, {0x4000}, kOne},
        NumericCase{"SinThreeQuarters", SE_Sin, {0xC000}, -kOne}, NumericCase{"SinFullTurn", SE_Sin, {0x10000}, 0},
        NumericCase{"SinLowBitsOnly", SE_Sin, {0x14000}, kOne},
        NumericCase{"SinHalfQuarterMirrors", SE_Sin, {0x6000}, 46341}, NumericCase{"CosZero", SE_Cos, {0}, kOne},
        NumericCase{"CosHalf", SE_Cos, {0x8000}, -kOne}, NumericCase{"CosQuarter", SE_Cos, {0x4000}, 0},
        NumericCase{"CosThreeQuarters", SE_Cos, {0xC000}, 0}, NumericCase{"RandomOfOne", SE_Random, {1}, 0},
        NumericCase{"RandomOfZero", SE_Random, {0}, 0},
        NumericCase{"RandomLowNormNoDraws", SE_RandomLowNorm, {10, 0}, 0},
        NumericCase{"RandomLowNormNegativeDraws", SE_RandomLowNorm, {10, -1}, 0},
        NumericCase{"MissingArgumentsReadAsZero", SE_MulDivFix, {7, 3}, 0}));

TEST(NumericCalls, RandomRejectsNonPositiveWithItsLine) {
    ScriptTestContext ctx;
    BuiltinCaller call(ctx.get());
    LogCapture capture;
    EXPECT_EQ(call.Int(SE_Random, Ints({-3})), 0);
    EXPECT_THAT(capture.Take(), HasSubstr("Qel_LongRandom: Wrong argument -3"));
    for (int k = 0; k < 200; ++k) {
        int32_t r = call.Int(SE_Random, Ints({7}));
        EXPECT_GE(r, 0);
        EXPECT_LT(r, 7);
    }
}

TEST(NumericCalls, RandomLowNormStaysWithinRange) {
    ScriptTestContext ctx;
    BuiltinCaller call(ctx.get());
    for (int k = 0; k < 200; ++k) {
        int32_t r = call.Int(SE_RandomLowNorm, Ints({10, 1}));
        EXPECT_GE(r, 0);
        EXPECT_LE(r, 10);
    }
}

// --- distances and ranges over arrays ---

TEST(NumericCalls, DistancesOfArrays) {
    ScriptTestContext ctx;
    BuiltinCaller call(ctx.get());
    EXPECT_EQ(call.Int(SE_DistanceA3, {VInts({13, 14, 10}), VInt(10), VInt(10), VInt(10)}), 5);
    EXPECT_EQ(call.Int(SE_DistanceAA, {VInts({1, 1, 1}), VInts({4, 5, 1})}), 5);
    LogCapture capture;
    EXPECT_EQ(call.Int(SE_DistanceA3, {VInts({3, 4}), VInt(0), VInt(0), VInt(0)}), 0);
    EXPECT_EQ(call.Int(SE_DistanceAA, {VInts({3, 4, 0}), VInt(5)}), 0);
    capture.Take();
}

// One sphere at the origin with radius 10, then one at (100, 0, 0) with 5.
void Spheres(ScriptValue* list) {
    ScriptValue a = VInts({0, 0, 0}), b = VInts({100, 0, 0}), r1 = VInt(10), r2 = VInt(5);
    SV_ArrayAlloc(list, 4);
    SV_ArrayWrite(list, 0, &a);
    SV_ArrayWrite(list, 1, &r1);
    SV_ArrayWrite(list, 2, &b);
    SV_ArrayWrite(list, 3, &r2);
    SV_Release(&a);
    SV_Release(&b);
}

TEST(NumericCalls, PositionRangeTests) {
    ScriptTestContext ctx;
    BuiltinCaller call(ctx.get());
    ScriptValue list{};
    Spheres(&list);
    auto copy = [&] { return Share(&list); };
    EXPECT_EQ(call.Int(SE_IsPosInRange3, {VInt(6), VInt(8), VInt(0), copy()}), 1);  // distance 10
    EXPECT_EQ(call.Int(SE_IsPosInRange3, {VInt(6), VInt(8), VInt(5), copy()}), 0);  // 11 after truncation
    EXPECT_EQ(call.Int(SE_IsPosInRangeA, {VInts({103, 4, 0}), copy()}), 1);
    EXPECT_EQ(call.Int(SE_IsPosInRangeA, {VInts({103, 4, 0}), copy(), VInt(1)}), 0);  // only the first
    EXPECT_EQ(call.Int(SE_IsPosInRangeA, {VInts({103, 4, 0}), copy(), VInt(2)}), 1);  // 2r not below size: all
    EXPECT_EQ(call.Int(SE_IsPosInRangeA, {VInts({0, 0}), copy()}), 0);
    EXPECT_EQ(call.Int(SE_IsPosInRange3, {VInt(0), VInt(0), VInt(0), VInts({5, 10})}), 0);  // no position
    SV_Release(&list);
}

TEST(NumericCalls, CompressRangesKeepsTheOuterSphere) {
    ScriptTestContext ctx;
    BuiltinCaller call(ctx.get());
    // Radii 5 and 10 around one centre, then a separate sphere.
    ScriptValue list{};
    SV_ArrayAlloc(&list, 6);
    for (int k = 0; k < 3; ++k) {
        ScriptValue p = VInts({k == 2 ? 500 : 0, 0, 0});
        SV_ArrayWrite(&list, 2 * k, &p);
        SV_ArrayWriteInt(&list, 2 * k + 1, k == 0 ? 5 : k == 1 ? 10 : 3);
        SV_Release(&p);
    }
    EXPECT_EQ(call.Int(SE_CompressRangeData, {Share(&list)}), 2);
    EXPECT_EQ(DisplayOf(&list), "{{0,0,0},10,{500,0,0},3,{500,0,0},3}");

    // With n = 1 nothing is compared.
    EXPECT_EQ(call.Int(SE_CompressRangeData, {Share(&list), VInt(1)}), 1);

    // A position that is no array: 0 and nothing changes.
    SV_ArrayWriteInt(&list, 2, 7);
    std::string before = DisplayOf(&list);
    EXPECT_EQ(call.Int(SE_CompressRangeData, {Share(&list)}), 0);
    EXPECT_EQ(DisplayOf(&list), before);
    SV_Release(&list);
}

// --- matrices and vectors ---

const int32_t kIdentity[3][3] = {{kOne, 0, 0}, {0, kOne, 0}, {0, 0, kOne}};
// A quarter turn about z and a quarter turn about x: they do not commute.
const int32_t kTurnZ[3][3] = {{0, kOne, 0}, {-kOne, 0, 0}, {0, 0, kOne}};
const int32_t kTurnX[3][3] = {{kOne, 0, 0}, {0, 0, kOne}, {0, -kOne, 0}};

std::string MatrixText(const int32_t m[3][3]) {
    ScriptValue v = VMatrix(m);
    std::string s = DisplayOf(&v);
    SV_Release(&v);
    return s;
}

std::string Product(const int32_t a[3][3], const int32_t b[3][3], bool transposed) {
    QelMatrix ma{}, mb{}, r{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            ma.m[4 * i + j] = a[i][j];
            mb.m[4 * i + j] = b[i][j];
        }
    if (transposed) Qel_MatMulTransposed(&ma, &mb, &r);
    else Qel_MatMul(&ma, &mb, &r);
    int32_t out[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) out[i][j] = r.m[4 * i + j];
    return MatrixText(out);
}

TEST(NumericCalls, MatrixProducts) {
    ScriptTestContext ctx;
    BuiltinCaller call(ctx.get());
    std::string zx = Product(kTurnZ, kTurnX, false), xz = Product(kTurnX, kTurnZ, false);
    ASSERT_NE(zx, xz);
    EXPECT_EQ(call.Display(SE_MatrixMultiply, {VMatrix(kTurnZ), VMatrix(kTurnX)}), zx);
    EXPECT_EQ(call.Display(SE_MatrixMultiplyInv, {VMatrix(kTurnZ), VMatrix(kTurnX)}), Product(kTurnZ, kTurnX, true));

    ScriptValue a = VMatrix(kTurnZ);
    EXPECT_EQ(call.Int(SE_MatrixMultiplySelfLeft, {Share(&a), VMatrix(kTurnX)}), 0);
    EXPECT_EQ(DisplayOf(&a), zx);  // A B
    SV_Release(&a);

    a = VMatrix(kTurnZ);
    EXPECT_EQ(call.Int(SE_MatrixMultiplySelfRight, {Share(&a), VMatrix(kTurnX)}), 0);
    EXPECT_EQ(DisplayOf(&a), xz);  // B A
    SV_Release(&a);

    EXPECT_EQ(call.Display(SE_GetRotMatrixFromAngles, Ints({0, 0, 0})), MatrixText(kIdentity));
}

TEST(NumericCalls, AnglesRoundTrip) {
    ScriptTestContext ctx;
    BuiltinCaller call(ctx.get());
    ScriptValue m = call.Call(SE_GetRotMatrixFromAngles, Ints({0x1000, 0x0800, 0x0400}));
    ScriptValue angles = call.Call(SE_GetAnglesFromRotMatrix, {m});
    ASSERT_EQ(SV_ArraySize(&angles), 3);
    const int32_t expected[3] = {0x1000, 0x0800, 0x0400};
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(SV_ArrayRead(&angles, k)->i, expected[k], 8) << k;
    SV_Release(&angles);

    ScriptValue dir = call.Call(SE_GetAnglesFromVector, Ints({0, 0, kOne}));
    EXPECT_EQ(SV_ArraySize(&dir), 2);
    SV_Release(&dir);
}

TEST(NumericCalls, RotateVectors) {
    ScriptTestContext ctx;
    BuiltinCaller call(ctx.get());
    QelMatrix m{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) m.m[4 * i + j] = kTurnZ[i][j];
    QelVector in{kOne, 2 * kOne, 3 * kOne, 0}, out{}, outInv{};
    Qel_MatMulVec(&m, &in, &out);
    Qel_MatTransMulVec(&m, &in, &outInv);

    ScriptValue v = VInts({in.x, in.y, in.z});
    EXPECT_EQ(call.Int(SE_RotateVector, {Share(&v), VMatrix(kTurnZ)}), 0);
    EXPECT_EQ(DisplayOf(&v),
              "{" + std::to_string(out.x) + "," + std::to_string(out.y) + "," + std::to_string(out.z) + "}");
    SV_Release(&v);

    v = VInts({in.x, in.y, in.z});
    EXPECT_EQ(call.Int(SE_RotateVectorInv, {Share(&v), VMatrix(kTurnZ)}), 0);
    EXPECT_EQ(DisplayOf(&v),
              "{" + std::to_string(outInv.x) + "," + std::to_string(outInv.y) + "," + std::to_string(outInv.z) + "}");
    SV_Release(&v);
}

// --- escort offset ---

TEST(NumericCalls, EscortOffset) {
    ScriptTestContext ctx;
    BuiltinCaller call(ctx.get());
    EXPECT_EQ(call.Display(SE_CalcGalaxyEscortOffset, Ints({0, 0, 0, kOne, kOne, kOne})), "0");
    // Forward along z: the local axes are the world axes (any length of direction).
    EXPECT_EQ(call.Display(SE_CalcGalaxyEscortOffset, Ints({0, 0, 5, kOne, 2 * kOne, 3 * kOne})),
              "{65536,131072,196608}");
    // Straight up takes the reference axis (0, 0, -1): right stays x, up becomes -z.
    EXPECT_EQ(call.Display(SE_CalcGalaxyEscortOffset, Ints({0, kOne, 0, kOne, 2 * kOne, 3 * kOne})),
              "{65536,196608,-131072}");
}

TEST(EscortMath, NormaliseAndDot) {
    int32_t v[3] = {0, 3 * kOne, 4 * kOne};
    SE_NormalizeFix(v);
    EXPECT_EQ(v[0], 0);
    EXPECT_EQ(v[1], 39321);  // 0.6, truncated
    EXPECT_EQ(v[2], 52428);  // 0.8, truncated
    const int32_t a[3] = {kOne, kOne / 2, 0}, b[3] = {kOne, kOne, 7};
    EXPECT_EQ(SE_DotFix(a, b), kOne + kOne / 2);
    int32_t zero[3] = {0, 0, 0};
    LogCapture capture;
    SE_NormalizeFix(zero);
    EXPECT_THAT(capture.Take(), HasSubstr("Qel_NormVectorToOne: Nullvektor!"));
    EXPECT_EQ(zero[0] | zero[1] | zero[2], 0);
}

// --- expression evaluator ---

// A program pair written compactly: type and an integer or text operand.
struct Pair {
    int32_t type;
    int32_t n;
    const char* text = nullptr;
};

ScriptValue Program(const std::vector<Pair>& pairs) {
    ScriptValue p{};
    SV_ArrayAlloc(&p, static_cast<int32_t>(2 * pairs.size() < 2 ? 2 : 2 * pairs.size()));
    for (size_t k = 0; k < pairs.size(); ++k) {
        SV_ArrayWriteInt(&p, static_cast<int32_t>(2 * k), pairs[k].type);
        if (pairs[k].text) SV_ArrayWriteString(&p, static_cast<int32_t>(2 * k + 1), pairs[k].text);
        else SV_ArrayWriteInt(&p, static_cast<int32_t>(2 * k + 1), pairs[k].n);
    }
    return p;
}

// Runs the program through the call; answers "type:operand" of elements 0, 1.
std::string Evaluate(BuiltinCaller& call, const std::vector<Pair>& pairs, int32_t count = -1) {
    ScriptValue p = Program(pairs);
    if (count < 0) count = static_cast<int32_t>(pairs.size());
    EXPECT_EQ(call.Int(SE_ScriptComputeExpression, {Share(&p), VInt(count)}), 0);
    std::string s = DisplayOf(SV_ArrayRead(&p, 0)) + ":" + DisplayOf(SV_ArrayRead(&p, 1));
    SV_Release(&p);
    return s;
}

constexpr int32_t OP = SE_EXPR_OPERATOR;

struct ExprCase {
    const char* name;
    std::vector<Pair> program;
    const char* expected;
};

void PrintTo(const ExprCase& c, std::ostream* os) { *os << c.name; }

class ExpressionCases : public testing::TestWithParam<ExprCase> {};

TEST_P(ExpressionCases, Evaluate) {
    ScriptTestContext ctx;
    BuiltinCaller call(ctx.get());
    LogCapture capture;
    EXPECT_EQ(Evaluate(call, GetParam().program), GetParam().expected);
    capture.Take();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ExpressionCases,
    testing::Values(
        ExprCase{"Add", {{4, 2}, {4, 3}, {OP, SE_EXPR_ADD}}, "4:5"},
        ExprCase{"DivByZero", {{4, 1}, {4, 0}, {OP, SE_EXPR_DIV}}, "0:0"},
        ExprCase{"ModByZero", {{4, 1}, {4, 0}, {OP, SE_EXPR_MOD}}, "0:0"},
        ExprCase{"Div", {{4, 7}, {4, 2}, {OP, SE_EXPR_DIV}}, "4:3"},
        ExprCase{"SubMul", {{4, 7}, {4, 2}, {OP, SE_EXPR_SUB}, {4, 3}, {OP, SE_EXPR_MUL}}, "4:15"},
        ExprCase{"BitAnd", {{4, 6}, {4, 3}, {OP, SE_EXPR_AND}}, "4:2"},
        ExprCase{"BitEor", {{4, 6}, {4, 3}, {OP, SE_EXPR_EOR}}, "4:5"}, ExprCase{"TwoLeft", {{4, 2}, {4, 3}}, "0:0"},
        ExprCase{"NothingLeft", {}, "0:0"}, ExprCase{"BinaryWithOneOperandSkipped", {{4, 7}, {OP, SE_EXPR_ADD}}, "4:7"},
        ExprCase{"Greater", {{4, 5}, {4, 3}, {OP, SE_EXPR_GT}}, "4:1"},
        ExprCase{"Less", {{4, 5}, {4, 3}, {OP, SE_EXPR_LT}}, "0:0"},
        ExprCase{"LessWithoutWrap", {{4, INT_MIN}, {4, 1}, {OP, SE_EXPR_LT}}, "4:1"},
        ExprCase{"TypesDifferOnlyNe", {{4, 1}, {5, 0, "a"}, {OP, SE_EXPR_NE}}, "4:1"},
        ExprCase{"TypesDifferEqFalse", {{4, 1}, {5, 0, "a"}, {OP, SE_EXPR_EQ}}, "0:0"},
        ExprCase{"TextsLess", {{5, 0, "abc"}, {5, 0, "abd"}, {OP, SE_EXPR_LT}}, "4:1"},
        ExprCase{"TextsEqual", {{5, 0, "abc"}, {5, 0, "abc"}, {OP, SE_EXPR_EQ}}, "4:1"},
        ExprCase{"TextAgainstNonText", {{5, 0}, {5, 0, "a"}, {OP, SE_EXPR_GT}}, "4:1"},
        ExprCase{"OtherTypeEq", {{9, 3}, {9, 3}, {OP, SE_EXPR_EQ}}, "4:1"},
        ExprCase{"OtherTypeGtFalse", {{9, 4}, {9, 3}, {OP, SE_EXPR_GT}}, "0:0"},
        ExprCase{"LogicalAnd", {{4, 2}, {4, 3}, {OP, SE_EXPR_LAND}}, "4:1"},
        ExprCase{"LogicalAndNone", {{0, 5}, {4, 3}, {OP, SE_EXPR_LAND}}, "0:0"},
        ExprCase{"LogicalOr", {{0, 0}, {9, 0}, {OP, SE_EXPR_LOR}}, "4:1"},
        ExprCase{"DeadObjectFalse", {{SE_EXPR_OBJECT_BIT | 7, 12345}, {4, 1}, {OP, SE_EXPR_LAND}}, "0:0"},
        ExprCase{"NotOfZero", {{4, 0}, {OP, SE_EXPR_NOT}}, "4:1"},
        ExprCase{"NotOfText", {{5, 0, "x"}, {OP, SE_EXPR_NOT}}, "0:0"},
        ExprCase{"NotOfDeadObject", {{SE_EXPR_OBJECT_BIT, 99}, {OP, SE_EXPR_NOT}}, "4:1"},
        ExprCase{"Minus", {{4, 5}, {OP, SE_EXPR_MINUS}}, "4:-5"}, ExprCase{"Inv", {{4, 0}, {OP, SE_EXPR_INV}}, "4:-1"},
        ExprCase{"MinusOfText", {{5, 0, "x"}, {OP, SE_EXPR_MINUS}}, "0:0"},
        ExprCase{"UnknownBinary", {{4, 1}, {4, 1}, {OP, 16}}, "0:0"},
        ExprCase{"UnknownUnary", {{4, 1}, {OP, 0x10015}}, "0:0"}, ExprCase{"TextCarried", {{5, 0, "abc"}}, "5:\"abc\""},
        ExprCase{"OtherTypeCarried", {{77, 3}}, "77:3"}));

TEST(Expression, CountLimitsThePairsRead) {
    ScriptTestContext ctx;
    BuiltinCaller call(ctx.get());
    EXPECT_EQ(Evaluate(call, {{4, 2}, {4, 3}, {OP, SE_EXPR_ADD}}, 1), "4:2");
}

TEST(Expression, MoreThanFiftyOperandsOverflowIntoZero) {
    ScriptTestContext ctx;
    BuiltinCaller call(ctx.get());
    std::vector<Pair> fifty(SE_EXPR_MAX_OPERANDS, Pair{4, 1});
    for (int k = 1; k < SE_EXPR_MAX_OPERANDS; ++k) fifty.push_back({OP, SE_EXPR_ADD});
    EXPECT_EQ(Evaluate(call, fifty), "4:50");
    std::vector<Pair> many(SE_EXPR_MAX_OPERANDS + 1, Pair{4, 1});
    LogCapture capture;
    EXPECT_EQ(Evaluate(call, many), "0:0");
    EXPECT_THAT(capture.Take(), HasSubstr("more than 50 operands"));
}

TEST(Expression, TextAdditionWithoutTheStoryFunctionGivesZero) {
    StoryRunner r;
    BuiltinCaller call(r.ctx());
    LogCapture capture;
    EXPECT_EQ(Evaluate(call, {{5, 0, "ab"}, {5, 0, "cd"}, {OP, SE_EXPR_ADD}}), "0:0");
    EXPECT_THAT(capture.Take(), HasSubstr("SE_Run(2124, __scriptOpAddString) Unknown object!"));
}

// The story's addition function joins the two operands with its own add.
const char* kAddStory = R"(
    end
.object 2124
.func "__scriptOpAddString" need 8
    getl 5
    getl 8
    add
    ret
)";

TEST(Expression, TextAdditionRunsTheStoryFunction) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(kAddStory));
    BuiltinCaller call(r.ctx());
    EXPECT_EQ(Evaluate(call, {{5, 0, "ab"}, {5, 0, "cd"}, {OP, SE_EXPR_ADD}}), "5:\"abcd\"");
    EXPECT_EQ(Evaluate(call, {{5, 0, "ab"}, {4, 7}, {OP, SE_EXPR_ADD}, {5, 0, "!"}, {OP, SE_EXPR_ADD}}), "5:\"ab7!\"");
    EXPECT_TRUE(r.Ready().empty());
}

}  // namespace

// --- end to end: calls linked by name from assembled stories ---

namespace {

const char* kNumericStory = R"(
    end
.func "Mul" need 8
    pushl 98304
    pushl 131072
    c2
    sys "SE_MulFix"
    ret
.func "Dist" need 8
    c0
    c4
    c3
    c3
    sys "SE_Distance3"
    ret
.func "Mat" need 8
    c0
    c0
    c0
    c3
    sys "SE_GetRotMatrixFromAngles"
    ret
.func "Escort" need 8
    c0
    c0
    pushl 65536
    pushl 65536
    c0
    c0
    c6
    sys "SE_CalcGalaxyEscortOffset"
    ret
)";

TEST(NumericStory, CallsByName) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(kNumericStory));
    for (auto [fn, expected] : {std::pair{"Mul", "196608"},
                                {"Dist", "5"},
                                {"Mat", "{{65536,0,0},{0,65536,0},{0,0,65536}}"},
                                {"Escort", "{65536,0,0}"}}) {
        r.answers.clear();
        EXPECT_EQ(r.Start(0, fn, {}, 3), 1);
        EXPECT_EQ(r.Only(), expected) << fn;
    }
}

// The story's text addition evaluates an expression of its own while the
// outer evaluation still holds its operands: 20 + 22 is appended to the sum.
const char* kNestedAddStory = R"(
    end
.object 2124
.func "__scriptOpAddString" need 16
    c6
    c1
    sys "SE_ArrayAlloc"
    c4
    c0
    getl 3
    c3
    sys "SE_ArrayWrite"
    pop
    pushw 20
    c1
    getl 3
    c3
    sys "SE_ArrayWrite"
    pop
    c4
    c2
    getl 3
    c3
    sys "SE_ArrayWrite"
    pop
    pushw 22
    c3
    getl 3
    c3
    sys "SE_ArrayWrite"
    pop
    pushw 15
    c4
    getl 3
    c3
    sys "SE_ArrayWrite"
    pop
    pushw 11
    c5
    getl 3
    c3
    sys "SE_ArrayWrite"
    pop
    c3
    getl 2
    c2
    sys "SE_ScriptComputeExpression"
    pop
    c1
    getl 2
    c2
    sys "SE_ArrayRead"
    getl 7
    getl 10
    add
    getl 2
    add
    setl 3
    pop
    pop
    ret
)";

// The story's addition function adds two texts itself, and so without end;
// the global counts how deep it ran.
const char* kEndlessAddStory = R"(
    end
.var "Depth" zero
.object 2124
.func "__scriptOpAddString" need 16
    getg 0
    c1
    add
    setg 0
    pop
    c3
    c11
    c15
    pushds "b"
    c5
    pushds "a"
    c5
    pushw 6
    mkarray
    c2
    sys "SE_ScriptComputeExpression"
    ret
)";

TEST(NumericStory, TextAdditionsNestOnlySoDeep) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(kEndlessAddStory));
    BuiltinCaller call(r.ctx());
    LogCapture log;
    EXPECT_EQ(Evaluate(call, {{5, 0, "x"}, {5, 0, "y"}, {OP, SE_EXPR_ADD}}), "0:0");
    EXPECT_EQ(r.Global(0), std::to_string(SE_EXPR_ADD_NESTING));
    EXPECT_TRUE(log.Contains("SE_ComputeExpression: text additions nested deeper than " +
                             std::to_string(SE_EXPR_ADD_NESTING) + "\n"))
        << log.Text();
    EXPECT_TRUE(r.Ready().empty());
}

TEST(NumericStory, NestedEvaluationKeepsTheOuterOperands) {
    StoryRunner r;
    ASSERT_TRUE(r.Load(kNestedAddStory));
    BuiltinCaller call(r.ctx());
    LogCapture capture;
    EXPECT_EQ(Evaluate(call, {{4, 1}, {5, 0, "ab"}, {5, 0, "cd"}, {OP, SE_EXPR_ADD}, {OP, SE_EXPR_NE}}), "4:1");
    EXPECT_EQ(Evaluate(call, {{5, 0, "x"}, {5, 0, "ab"}, {5, 0, "cd"}, {OP, SE_EXPR_ADD}, {OP, SE_EXPR_ADD}}),
              "5:\"xabcd4242\"");
    std::string log = capture.Take();
    EXPECT_EQ(log.find("ILLEGAL"), std::string::npos) << log;
    EXPECT_TRUE(r.Ready().empty());
}

}  // namespace
