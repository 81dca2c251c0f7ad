#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "script/arrays.h"
#include "script/format.h"
#include "script/operators.h"
#include "script/values.h"
#include "support/story.h"

namespace {

// Static strings: "abc" at 1.
const std::string kStrings("\0abc\0", 5);

// A format argument written compactly.
struct Arg {
    char kind;  // i integer, f float, s static string, d dstring, a array of 1 and 2
    double num;
    const char* text;
};
Arg I(double n) { return Arg{'i', n, nullptr}; }
Arg F(double n) { return Arg{'f', n, nullptr}; }
Arg S() { return Arg{'s', 1, nullptr}; }
Arg D(const char* t) { return Arg{'d', 0, t}; }
const Arg A{'a', 0, nullptr};

struct FormatCase {
    const char* name;
    const char* format;
    std::vector<Arg> args;
    const char* expected;
    int32_t argc = -2;  // -2: the number of args given
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }

class FormatValueTest : public testing::TestWithParam<FormatCase> {
protected:
    void SetUp() override { SetStaticStrings(ctx.get(), kStrings); }
    ScriptTestContext ctx;
};

// Measures, writes into exactly length + 1 bytes followed by guard bytes, and
// checks that both passes agree.
std::string Format(const char* format, std::vector<ScriptValue>& values, int32_t argc) {
    size_t n = SV_FormatValue(nullptr, format, values.data(), argc);
    std::vector<char> buf(n + 1 + 8, '\x7f');
    size_t w = SV_FormatValue(buf.data(), format, values.data(), argc);
    EXPECT_EQ(n, w) << format;
    EXPECT_EQ(buf[n], '\0');
    for (size_t k = n + 1; k < buf.size(); ++k) EXPECT_EQ(buf[k], '\x7f') << "written past the end: " << format;
    return std::string(buf.data(), n);
}

TEST_P(FormatValueTest, Formats) {
    const FormatCase& c = GetParam();
    std::vector<ScriptValue> values(c.args.size() + 1);
    for (size_t k = 0; k < c.args.size(); ++k) {
        const Arg& a = c.args[k];
        ScriptValue* v = &values[k];
        switch (a.kind) {
            case 'i': SV_AssignInt(v, static_cast<int32_t>(a.num)); break;
            case 'f': SV_AssignFloat(v, a.num); break;
            case 's': SV_AssignStaticString(v, static_cast<uint32_t>(a.num)); break;
            case 'd': SV_AssignString(v, a.text); break;
            case 'a':
                SV_ArrayAlloc(v, 2);
                SV_ArrayWriteInt(v, 0, 1);
                SV_ArrayWriteInt(v, 1, 2);
                break;
        }
    }
    int32_t argc = c.argc == -2 ? static_cast<int32_t>(c.args.size()) : c.argc;
    EXPECT_EQ(Format(c.format, values, argc), c.expected);
    for (ScriptValue& v : values) SV_Release(&v);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FormatValueTest,
    testing::Values(
        FormatCase{"Plain", "abc", {}, "abc"}, FormatCase{"Percent", "100%%", {}, "100%"},
        FormatCase{"ExplicitIndex", "%!1d-%d", {I(5), I(7)}, "7-5"},
        FormatCase{"ExplicitIndexMissing", "%!5d", {I(5)}, "0"},
        FormatCase{"WidthCutTo20", "%30d", {I(1)}, "                   1"},
        FormatCase{"PrecisionZeroWholeText", "%.0s", {D("abc")}, "abc"},
        FormatCase{"PrecisionCutsText", "%.2s", {D("abc")}, "ab"},
        FormatCase{"StaticString", "[%5s]", {S()}, "[  abc]"}, FormatCase{"LeftString", "[%-5s]", {S()}, "[abc  ]"},
        FormatCase{"StringOfInteger", "%s", {I(5)}, "<invalid>"}, FormatCase{"StringMissing", "%s", {}, "<invalid>"},
        FormatCase{"IntegerMissing", "%d", {}, "0"}, FormatCase{"CountBoundsArguments", "%d%d", {I(1), I(2)}, "10", 1},
        FormatCase{"UnboundedCount", "%d%d", {I(1), I(2)}, "12", -1},
        FormatCase{"AltUpperHex", "%#X", {I(255)}, "0xFF"}, FormatCase{"AltOctal", "%#o", {I(8)}, "010"},
        FormatCase{"Hex", "%x", {I(-1)}, "ffffffff"}, FormatCase{"Unsigned", "%u", {I(-1)}, "4294967295"},
        FormatCase{"PlusZero", "%+05d", {I(42)}, "+0042"}, FormatCase{"LeftAdjust", "%-5d|", {I(42)}, "42   |"},
        FormatCase{"Blank", "% d", {I(42)}, " 42"}, FormatCase{"Negative", "%05d", {I(-42)}, "-0042"},
        FormatCase{"MinInt", "%d", {I(-2147483648.0)}, "-2147483648"}, FormatCase{"Precision", "%.4d", {I(7)}, "0007"},
        FormatCase{"StarWidth", "%*d", {I(4), I(7)}, "   7"},
        FormatCase{"StarNegativeWidth", "%*d|", {I(-4), I(7)}, "7   |"},
        FormatCase{"StarPrecision", "%.*d", {I(3), I(7)}, "007"}, FormatCase{"DotAlone", "%.d", {I(0)}, "0"},
        FormatCase{"Short", "%hd", {I(0x18000)}, "-32768"}, FormatCase{"ShortUnsigned", "%hu", {I(0x18000)}, "32768"},
        FormatCase{"Long", "%ld", {I(12)}, "12"}, FormatCase{"Char", "[%3c]", {I('x')}, "[  x]"},
        FormatCase{"CharLeft", "[%-3c]", {I('x')}, "[x  ]"}, FormatCase{"FloatOfInteger", "%f", {I(1)}, "0.000000"},
        FormatCase{"FloatPlusIgnored", "%+f", {F(1.5)}, "1.500000"},
        FormatCase{"FloatWidthPrecision", "[%8.2f]", {F(3.14159)}, "[    3.14]"},
        FormatCase{"FloatLeft", "[%-6.1f]", {F(2.25)}, "[2.2   ]"},
        FormatCase{"FloatZeroIgnored", "%08.1f", {F(2.5)}, "     2.5"},
        FormatCase{"FloatExp", "%.2e", {F(1234.5)}, "1.23e+03"},
        FormatCase{"FloatUpperExp", "%.2E", {F(1234.5)}, "1.23E+03"}, FormatCase{"FloatGeneral", "%g", {F(0.5)}, "0.5"},
        FormatCase{"FloatAlt", "%#.0f", {F(3)}, "3."}, FormatCase{"AnyValue", "%a", {A}, "{1,2}"},
        FormatCase{"AnyDString", "%a", {D("x")}, "\"x\""}, FormatCase{"AnyMissing", "%a", {}, "[NULL]"},
        FormatCase{"AnyPrecision", "%.2a", {I(12345)}, "12"}, FormatCase{"Unknown", "%q", {}, "%q"},
        FormatCase{"PointerNotSupported", "%p%n", {}, "%p%n"}, FormatCase{"LonePercentAtEnd", "50%", {}, "50%"},
        FormatCase{"ExclamationWithoutDigit", "%!x", {}, "%!x"}));

TEST(FormatValue, NullFormatWritesEmptyText) {
    char buf[4] = "xyz";
    EXPECT_EQ(SV_FormatValue(nullptr, nullptr, nullptr, 0), 0u);
    EXPECT_EQ(SV_FormatValue(buf, nullptr, nullptr, 0), 0u);
    EXPECT_EQ(buf[0], '\0');
}

// The widest doubles come out whole.
TEST(FormatValue, HugeFloat) {
    ScriptTestContext ctx;
    std::vector<ScriptValue> v(1);
    SV_AssignFloat(&v[0], -1.7e308);
    char expected[400];
    std::snprintf(expected, sizeof expected, "%.20f", -1.7e308);
    EXPECT_EQ(Format("%.30f", v, 1), expected);
}

// Text fields are not cut like number fields: a wide one is measured whole.
TEST(FormatValue, WideTextField) {
    ScriptTestContext ctx;
    std::vector<ScriptValue> v(1);
    SV_AssignString(&v[0], "x");
    EXPECT_EQ(SV_FormatValue(nullptr, "%1000000s|%-3s", v.data(), 1), 1000000u + 1 + 9);
    SV_Release(&v[0]);
}

TEST(FormatNumber, AppendsAtPositionAndMeasures) {
    char buf[32] = "ab";
    size_t end = SV_FormatNumber(255, buf, 2, 16, 6, -1, SV_FMT_ALT | SV_FMT_ZERO, true);
    buf[end] = '\0';
    EXPECT_STREQ(buf, "ab0x00ff");
    EXPECT_EQ(SV_FormatNumber(255, nullptr, 2, 16, 6, -1, SV_FMT_ALT | SV_FMT_ZERO, false), end);
    EXPECT_EQ(SV_FormatNumber(35, buf, 0, 36, -1, -1, SV_FMT_UPPER, true), 1u);
    EXPECT_EQ(buf[0], 'Z');
    EXPECT_EQ(SV_FormatNumber(5, buf, 7, 40, 5, 5, 0, true), 7u);  // no such base
}

// The operators join numbers to texts through the formatter.
TEST(FormatValue, OperatorsJoinNumbersThroughIt) {
    ScriptTestContext ctx;
    ScriptValue a{}, b{};
    SV_AssignString(&a, "n=");
    SV_AssignFloat(&b, 2.5);
    SV_OpAdd(&a, &b);
    EXPECT_STREQ(SV_GetString(&a), "n=2.5");
    SV_AssignInt(&b, -7);
    SV_OpAdd(&a, &b);
    EXPECT_STREQ(SV_GetString(&a), "n=2.5-7");
    SV_Release(&a);
    SV_Release(&b);
}

// --- codecs ---

struct CodecCase {
    const char* name;
    size_t (*codec)(char*, const char*);
    std::string input;
    std::string expected;
};

void PrintTo(const CodecCase& c, std::ostream* os) { *os << c.name; }

class CodecTest : public testing::TestWithParam<CodecCase> {};

TEST_P(CodecTest, Converts) {
    const CodecCase& c = GetParam();
    size_t n = c.codec(nullptr, c.input.c_str());
    std::vector<char> buf(n + 1 + 8, '\x7f');
    EXPECT_EQ(c.codec(buf.data(), c.input.c_str()), n);
    EXPECT_EQ(buf[n], '\0');
    for (size_t k = n + 1; k < buf.size(); ++k) EXPECT_EQ(buf[k], '\x7f');
    EXPECT_EQ(std::string(buf.data(), n), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, CodecTest,
                         testing::Values(CodecCase{"EscapeAll", SV_XMLEscape, "a<b>&\"c'", "a&lt;b&gt;&amp;&quot;c'"},
                                         CodecCase{"EscapeKeepsOtherBytes", SV_XMLEscape, "\x01\xe9%u0041",
                                                   "\x01\xe9%u0041"},
                                         CodecCase{"EncodeLess", SV_XMLEncode, "a<b", "a&lt;b"},
                                         CodecCase{"EncodeDelKept", SV_XMLEncode, "\x7f", "\x7f"},
                                         CodecCase{"EncodeLineFeed", SV_XMLEncode, "\n", "&#10;"},
                                         CodecCase{"EncodeLowControl", SV_XMLEncode, "\x05", "&#05;"},
                                         CodecCase{"EncodeHighByte", SV_XMLEncode, "\xe9", "&#233;"},
                                         CodecCase{"EncodeUnicodeOneByte", SV_XMLEncode, "%u0041!", "A!"},
                                         CodecCase{"EncodeUnicodeTwoBytes", SV_XMLEncode, "%u00e9", "\xc3\xa9"},
                                         CodecCase{"EncodeUnicodeThreeBytes", SV_XMLEncode, "%u20AC", "\xe2\x82\xac"},
                                         CodecCase{"EncodeShortUnicode", SV_XMLEncode, "%u12", "%u12"},
                                         CodecCase{"Decode", SV_QueryDecode, "a+b%41%%c", "a bA%c"},
                                         CodecCase{"DecodeLoneAndBadPercent", SV_QueryDecode, "%zz%4", "%zz%4"},
                                         CodecCase{"DecodeHighByteStays", SV_QueryDecode, "%e9\xe9", "\xe9\xe9"},
                                         CodecCase{"DecodeNoUnicode", SV_QueryDecode, "%u00e9", "%u00e9"},
                                         CodecCase{"Utf8Unicode", SV_QueryToUTF8, "%u00e9", "\xc3\xa9"},
                                         CodecCase{"Utf8EscapedHighByte", SV_QueryToUTF8, "%E9", "\xc3\xa9"},
                                         CodecCase{"Utf8RawLatin1", SV_QueryToUTF8, "\xe9+%41", "\xc3\xa9 A"},
                                         CodecCase{"Utf8Euro", SV_QueryToUTF8, "%u20ac", "\xe2\x82\xac"},
                                         CodecCase{"Empty", SV_XMLEncode, "", ""}));

TEST(Codecs, NullTextGivesEmpty) {
    char buf[2] = "x";
    EXPECT_EQ(SV_XMLEncode(buf, nullptr), 0u);
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(SV_QueryToUTF8(nullptr, nullptr), 0u);
}

}  // namespace
