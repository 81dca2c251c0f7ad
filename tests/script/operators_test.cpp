#include <gtest/gtest.h>

#include <cctype>
#include <climits>
#include <cmath>
#include <string>

#include "script/arrays.h"
#include "script/operators.h"
#include "script/values.h"
#include "support/logcapture.h"
#include "support/story.h"

namespace {

// Static strings of the tests: "ab" at 1, "5" at 4, "x" at 6.
const std::string kStrings(
    "\0ab\0"
    "5\0x",
    8);

// An operand or result written compactly: the kind and its number or text.
struct V {
    char kind;  // i integer, f float, s static string, d dstring, u undefined, o null object, a array, n none
    double num;
    const char* text;
};
V I(double n) { return V{'i', n, nullptr}; }
V F(double n) { return V{'f', n, nullptr}; }
V S(const char* t) { return V{'s', 0, t}; }
V D(const char* t) { return V{'d', 0, t}; }
const V U{'u', 0, nullptr};
const V O{'o', 0, nullptr};
const V A{'a', 0, nullptr};
const V N{'n', 0, nullptr};

using Op = void (*)(ScriptValue*, const ScriptValue*);
void Minus(ScriptValue* a, const ScriptValue*) { SV_OpMinus(a); }
void Not(ScriptValue* a, const ScriptValue*) { SV_OpNot(a); }
void Inv(ScriptValue* a, const ScriptValue*) { SV_OpInv(a); }

struct Case {
    const char* name;
    V a;
    Op op;
    V b;
    V result;
    const char* log;  // expected in the log, or null for none
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

uint32_t StringNumber(const char* t) {
    size_t at = kStrings.find(std::string(t) + '\0');
    return static_cast<uint32_t>(at);
}

void Make(const V& v, ScriptValue* out, ScriptValue* array) {
    switch (v.kind) {
        case 'i': SV_AssignInt(out, static_cast<int32_t>(v.num)); break;
        case 'f': SV_AssignFloat(out, v.num); break;
        case 's': SV_AssignStaticString(out, StringNumber(v.text)); break;
        case 'd': SV_AssignString(out, v.text); break;
        case 'o': SV_AssignObject(out, nullptr); break;
        case 'a': SV_Copy(array, out); break;
        default: SV_Release(out); break;
    }
}

const Case kCases[] = {
    {"7/2", I(7), SV_OpDiv, I(2), I(3), nullptr},
    {"-7/2", I(-7), SV_OpDiv, I(2), I(-3), nullptr},
    {"-7%2", I(-7), SV_OpMod, I(2), I(-1), nullptr},
    {"7/0", I(7), SV_OpDiv, I(0), I(0), "*** DIV: DIVISION BY ZERO ***"},
    {"7%0", I(7), SV_OpMod, I(0), I(0), "*** MOD: DIVISION BY ZERO ***"},
    {"INT_MIN/-1", I(INT_MIN), SV_OpDiv, I(-1), I(INT_MIN), nullptr},
    {"INT_MIN%-1", I(INT_MIN), SV_OpMod, I(-1), I(0), nullptr},
    {"INT_MAX+1 wraps", I(INT_MAX), SV_OpAdd, I(1), I(INT_MIN), nullptr},
    {"INT_MIN-1 wraps", I(INT_MIN), SV_OpSub, I(1), I(INT_MAX), nullptr},
    {"INT_MIN*-1 wraps", I(INT_MIN), SV_OpMul, I(-1), I(INT_MIN), nullptr},
    {"65536*65536 low bits", I(65536), SV_OpMul, I(65536), I(0), nullptr},
    {"-INT_MIN wraps", I(INT_MIN), Minus, N, I(INT_MIN), nullptr},
    {"1+2.5", I(1), SV_OpAdd, F(2.5), F(3.5), nullptr},
    {"2.5+1", F(2.5), SV_OpAdd, I(1), F(3.5), nullptr},
    {"1-2.5", I(1), SV_OpSub, F(2.5), F(-1.5), nullptr},
    {"3*2.0", I(3), SV_OpMul, F(2.0), F(6.0), nullptr},
    {"1+'ab'", I(1), SV_OpAdd, S("ab"), D("1ab"), nullptr},
    {"2.5+'ab'", F(2.5), SV_OpAdd, S("ab"), D("2.5ab"), nullptr},
    {"'ab'+2.5", S("ab"), SV_OpAdd, F(2.5), D("ab2.5"), nullptr},
    {"'ab'+7", S("ab"), SV_OpAdd, I(7), D("ab7"), nullptr},
    {"'ab'+\"cd\"", S("ab"), SV_OpAdd, D("cd"), D("abcd"), nullptr},
    {"1+array", I(1), SV_OpAdd, A, I(1), "illegal operands to ADD: 1, {}"},
    {"undefined+1", U, SV_OpAdd, I(1), U, "illegal operands to ADD: <type 0>, 1"},
    {"'ab'-1", S("ab"), SV_OpSub, I(1), S("ab"), "illegal operands to SUB: 'ab', 1"},
    {"null object-1", O, SV_OpSub, I(1), I(-2), nullptr},
    {"null object-1.9", O, SV_OpSub, F(1.9), I(-2), nullptr},
    {"null object-huge saturates", O, SV_OpSub, F(1e300), I(INT_MIN), nullptr},
    {"null object-NaN", O, SV_OpSub, F(NAN), I(-1), nullptr},
    {"-null object", O, Minus, N, I(1), nullptr},
    {"-2.5", F(2.5), Minus, N, F(-2.5), nullptr},
    {"-'ab'", S("ab"), Minus, N, S("ab"), "illegal operand to MINUS: 'ab'"},
    {"1.0/0", F(1.0), SV_OpDiv, I(0), F(0.0), "*** DIV: DIVISION BY ZERO ***"},
    {"1/0.0", I(1), SV_OpDiv, F(0.0), F(0.0), "*** DIV: DIVISION BY ZERO ***"},
    {"1.0/NaN divides", F(1.0), SV_OpDiv, F(NAN), F(NAN), nullptr},
    {"'ab'*2", S("ab"), SV_OpMul, I(2), S("ab"), "illegal operands to MUL: 'ab', 2"},
    {"6 AND 3", I(6), SV_OpAnd, I(3), I(2), nullptr},
    {"6 OR 3", I(6), SV_OpOr, I(3), I(7), nullptr},
    {"6 EOR 3", I(6), SV_OpEor, I(3), I(5), nullptr},
    {"6 AND 3.0", I(6), SV_OpAnd, F(3), I(6), "illegal operands to AND: 6, 3"},
    {"1 LSH 33", I(1), SV_OpLsh, I(33), I(2), nullptr},
    {"-8 RSH 1", I(-8), SV_OpRsh, I(1), I(-4), nullptr},
    {"-1 LSH 31", I(-1), SV_OpLsh, I(31), I(INT_MIN), nullptr},
    {"INV 0", I(0), Inv, N, I(-1), nullptr},
    {"INV 1.0", F(1.0), Inv, N, F(1.0), "illegal operand to INV: 1"},
    {"NOT undefined", U, Not, N, I(0), nullptr},
    {"NOT 0", I(0), Not, N, I(1), nullptr},
    {"NOT null object", O, Not, N, I(1), nullptr},
    {"1<2.5", I(1), SV_OpLt, F(2.5), I(1), nullptr},
    {"-1<1", I(-1), SV_OpLt, I(1), I(1), nullptr},
    {"2>=2", I(2), SV_OpGe, I(2), I(1), nullptr},
    {"2<=1", I(2), SV_OpLe, I(1), I(0), nullptr},
    {"NaN>1", F(NAN), SV_OpGt, I(1), I(0), nullptr},
    {"1<=NaN", I(1), SV_OpLe, F(NAN), I(0), nullptr},
    {"'ab'<'x'", S("ab"), SV_OpLt, S("x"), S("ab"), "illegal operands to LT: 'ab', 'x'"},
    {"5 EQ '5' keeps 5", I(5), SV_OpEq, S("5"), I(5), nullptr},
    {"'5' EQ 5", S("5"), SV_OpEq, I(5), I(0), nullptr},
    {"5 EQ 5.0", I(5), SV_OpEq, F(5.0), I(1), nullptr},
    {"NaN EQ NaN", F(NAN), SV_OpEq, F(NAN), I(0), nullptr},
    {"NaN NE NaN", F(NAN), SV_OpNe, F(NAN), I(1), nullptr},
    {"undefined EQ 0", U, SV_OpEq, I(0), I(0), nullptr},
    {"undefined NE 0", U, SV_OpNe, I(0), I(0), nullptr},
    {"null object EQ 0 (both false)", O, SV_OpEq, I(0), I(1), nullptr},
    {"'ab' EQ \"ab\"", S("ab"), SV_OpEq, D("ab"), I(1), nullptr},
    {"\"x\" EQ \"x\"", D("x"), SV_OpEq, D("x"), I(1), nullptr},
    {"\"x\" NE 'ab'", D("x"), SV_OpNe, S("ab"), I(1), nullptr},
    {"null objects EQ", O, SV_OpEq, O, I(1), nullptr},
    {"array EQ itself", A, SV_OpEq, A, I(0), "illegal operands to EQ: {}, {}"},
    {"array NE itself", A, SV_OpNe, A, I(0), "illegal operands to NE: {}, {}"},
    {"undefined EQ undefined", U, SV_OpEq, U, I(0), "illegal operands to EQ: <type 0>, <type 0>"},
    {"1 NE 'ab' keeps 1", I(1), SV_OpNe, S("ab"), I(1), nullptr},
};

class OperatorsTest : public testing::TestWithParam<Case> {
protected:
    void SetUp() override { SetStaticStrings(ctx.get(), kStrings); }
    ScriptTestContext ctx;
};

TEST_P(OperatorsTest, Result) {
    const Case& c = GetParam();
    ScriptValue array{}, a{}, b{};
    SV_ArrayAlloc(&array, 0);
    Make(c.a, &a, &array);
    Make(c.b, &b, &array);
    LogCapture capture;
    c.op(&a, &b);
    std::string log = capture.Take();
    if (c.log) EXPECT_NE(log.find(c.log), std::string::npos) << log;
    else EXPECT_EQ(log, "");
    const V& r = c.result;
    switch (r.kind) {
        case 'i':
            ASSERT_EQ(a.tag, VARTYPE_INTEGER);
            EXPECT_EQ(a.q, static_cast<int64_t>(r.num));
            break;
        case 'f':
            ASSERT_EQ(a.tag, VARTYPE_FLOAT);
            if (std::isnan(r.num)) EXPECT_TRUE(std::isnan(a.f));
            else EXPECT_EQ(a.f, r.num);
            break;
        case 's':
            ASSERT_EQ(a.tag, VARTYPE_STRING);
            EXPECT_STREQ(SV_GetString(&a), r.text);
            break;
        case 'd':
            ASSERT_EQ(a.tag, VARTYPE_DSTRING);
            EXPECT_STREQ(SV_GetString(&a), r.text);
            break;
        case 'u': EXPECT_EQ(a.tag, VARTYPE_UNDEFINED); break;
    }
    SV_Release(&a);
    SV_Release(&b);
    SV_Release(&array);
}

std::string CaseName(const testing::TestParamInfo<Case>& info) {
    std::string s;
    for (const char* p = info.param.name; *p; ++p) s += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return s + "_" + std::to_string(info.index);
}

INSTANTIATE_TEST_SUITE_P(Table, OperatorsTest, testing::ValuesIn(kCases), CaseName);

TEST(OperatorsDoubleToInt, Saturates) {
    EXPECT_EQ(SV_DoubleToInt(NAN), 0);
    EXPECT_EQ(SV_DoubleToInt(1e10), INT_MAX);
    EXPECT_EQ(SV_DoubleToInt(-1e10), INT_MIN);
    EXPECT_EQ(SV_DoubleToInt(-2.9), -2);
    EXPECT_EQ(SV_DoubleToInt(INFINITY), INT_MAX);
}

TEST(OperatorsNullDString, ReadsAsEmptyText) {
    ScriptTestContext ctx;
    ScriptValue a{}, b{};
    a.tag = VARTYPE_DSTRING;  // a record-less cell that nothing makes, but must not crash
    SV_AssignString(&b, "");
    SV_OpEq(&a, &b);
    EXPECT_EQ(a.tag, VARTYPE_INTEGER);
    EXPECT_EQ(a.i, 1);
    a.tag = VARTYPE_DSTRING;
    a.bits = 0;
    SV_OpAdd(&a, &b);
    EXPECT_STREQ(SV_GetString(&a), "");
    SV_Release(&a);
    SV_Release(&b);
}

}  // namespace
