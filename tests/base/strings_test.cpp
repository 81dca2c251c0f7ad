#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "base/angles.h"
#include "base/colour.h"
#include "base/memory.h"
#include "base/random.h"
#include "base/strings.h"
#include "support/logcapture.h"

// --- heap strings ---

TEST(Strings, DupReassignAndFreeBookExactlyLengthPlusOne) {
    int64_t before = Int_GetMemUsed();
    char* s = Qel_StrDup("hello");
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "hello");
    EXPECT_EQ(Int_GetMemUsed() - before, 6);
    s = Qel_StrReassign(s, "hi");
    EXPECT_STREQ(s, "hi");
    EXPECT_EQ(Int_GetMemUsed() - before, 3);
    EXPECT_EQ(Qel_StrFree(s), nullptr);
    EXPECT_EQ(Int_GetMemUsed(), before);
}

TEST(Strings, NullTextsGiveNull) {
    int64_t before = Int_GetMemUsed();
    EXPECT_EQ(Qel_StrDup(nullptr), nullptr);
    EXPECT_EQ(Qel_StrFree(nullptr), nullptr);
    char* s = Qel_StrDup("gone");
    EXPECT_EQ(Qel_StrReassign(s, nullptr), nullptr);  // frees the old one
    EXPECT_EQ(Int_GetMemUsed(), before);
}

TEST(Strings, ReassignFromItsOwnText) {
    int64_t before = Int_GetMemUsed();
    char* s = Qel_StrDup("abcdef");
    s = Qel_StrReassign(s, s + 2);
    EXPECT_STREQ(s, "cdef");
    Qel_StrFree(s);
    EXPECT_EQ(Int_GetMemUsed(), before);
}

TEST(Strings, FormatReplacesTheOldString) {
    int64_t before = Int_GetMemUsed();
    char* s = Qel_Format(nullptr, "%s-%d", "ship", 42);
    EXPECT_STREQ(s, "ship-42");
    EXPECT_EQ(Int_GetMemUsed() - before, 8);
    s = Qel_Format(s, "%05d", 7);
    EXPECT_STREQ(s, "00007");
    EXPECT_EQ(Int_GetMemUsed() - before, 6);
    Qel_StrFree(s);
    EXPECT_EQ(Int_GetMemUsed(), before);
}

TEST(Strings, FormatFromItself) {
    int64_t before = Int_GetMemUsed();
    char* s = Qel_Format(nullptr, "abc");
    s = Qel_Format(s, "%s+%s", s, s);
    EXPECT_STREQ(s, "abc+abc");
    Qel_StrFree(s);
    EXPECT_EQ(Int_GetMemUsed(), before);
}

TEST(Strings, FormatWithEmbeddedNulIsCopiedToItsOwnLength) {
    int64_t before = Int_GetMemUsed();
    LogCapture capture;
    char* s = Qel_Format(nullptr, "ab%cde", 0);
    std::string log = capture.Take();
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s, "ab");
    EXPECT_EQ(Int_GetMemUsed() - before, 3);
    EXPECT_NE(log.find("Qel_Sprintf() result of formatting truncated to ab\n"), std::string::npos);
    Qel_StrFree(s);
    EXPECT_EQ(Int_GetMemUsed(), before);
}

TEST(Strings, FormatFailureStillFreesTheOldString) {
    // A wide character that the "C" locale cannot encode makes the formatting
    // fail; the old string must not leak.
    int64_t before = Int_GetMemUsed();
    char* s = Qel_StrDup("old");
    s = Qel_Format(s, "x%lcy", static_cast<wint_t>(0x20AC));
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(Int_GetMemUsed(), before);
}

TEST(Strings, Utf16ToUtf8) {
    struct Case {
        std::u16string in;
        const char* out;
    } cases[] = {
        {u"", ""},
        {u"Az", "Az"},
        {u"\u00e9", "\xC3\xA9"},
        {u"\u07ff", "\xDF\xBF"},
        {u"\u20ac", "\xE2\x82\xAC"},
        {u"x\uffffy", "x\xEF\xBF\xBFy"},
        {u"\U0001F600", "\xED\xA0\xBD\xED\xB8\x80"},  // surrogates unit by unit
    };
    for (const Case& c : cases) {
        int64_t before = Int_GetMemUsed();
        char* s = Qel_Utf16ToUtf8(reinterpret_cast<const uint16_t*>(c.in.c_str()));
        ASSERT_NE(s, nullptr);
        EXPECT_STREQ(s, c.out);
        EXPECT_EQ(Int_GetMemUsed() - before, static_cast<int64_t>(strlen(c.out) + 1));
        Qel_StrFree(s);
    }
    EXPECT_EQ(Qel_Utf16ToUtf8(nullptr), nullptr);
}

TEST(Strings, CompareIgnoringAsciiCase) {
    EXPECT_EQ(Qel_StrICmp("-HighPri", "-highpri"), 0);
    EXPECT_LT(Qel_StrICmp("abc", "ABD"), 0);
    EXPECT_GT(Qel_StrICmp("abcd", "ABC"), 0);
    EXPECT_LT(Qel_StrICmp("", "a"), 0);
    EXPECT_EQ(Qel_StrNICmp("Loadscr.JPG", "loadscr.jpgX", 11), 0);
    EXPECT_NE(Qel_StrNICmp("Loadscr.JPG", "loadscr.jpgX", 12), 0);
    EXPECT_EQ(Qel_StrNICmp("a", "b", 0), 0);
    EXPECT_NE(Qel_StrICmp("\xC4", "\xE4"), 0);  // only ASCII letters fold
}

// --- random numbers ---

TEST(Random, SeededSequenceIsRepeatableAndInRange) {
    Qel_SeedRandom(1);
    EXPECT_EQ(Qel_RandomRaw(), 41);  // the classic first value of this generator
    EXPECT_EQ(Qel_RandomRaw(), 18467);
    EXPECT_EQ(Qel_RandomRaw(), 6334);
    Qel_SeedRandom(12345);
    int32_t first[8];
    for (int32_t& v : first) v = Qel_RandomRaw();
    Qel_SeedRandom(12345);
    for (int32_t v : first) EXPECT_EQ(Qel_RandomRaw(), v);
    for (int i = 0; i < 100000; ++i) {
        int32_t v = Qel_RandomRaw();
        ASSERT_GE(v, 0);
        ASSERT_LE(v, QEL_RAND_MAX);
    }
}

TEST(Random, BoundsOfTheScaledDraws) {
    Qel_SeedRandom(7);
    bool sawTop = false;
    for (int i = 0; i < 200000; ++i) {
        int32_t r = Qel_Random(100);
        ASSERT_GE(r, 0);
        ASSERT_LT(r, 100);
        int32_t q = Qel_Rand(3);
        ASSERT_GE(q, 0);
        ASSERT_LT(q, 3);
        int32_t inc = Qel_RandomInclusive(100);
        ASSERT_GE(inc, 0);
        ASSERT_LE(inc, 100);
        sawTop |= inc == 100;
    }
    // 100 comes only from the raw value 32767, which a full cycle does give.
    EXPECT_TRUE(sawTop);
}

TEST(Random, ScaledDrawsFollowTheRawValue) {
    Qel_SeedRandom(99);
    int32_t raw = Qel_RandomRaw();
    Qel_SeedRandom(99);
    EXPECT_EQ(Qel_Random(1000000), static_cast<int32_t>(1000000LL * raw / 32768));
    Qel_SeedRandom(99);
    EXPECT_EQ(Qel_RandomInclusive(1000000), static_cast<int32_t>(1000000LL * raw / 32767));
}

TEST(Random, LongRandomRejectsBoundsBelowOne) {
    for (int32_t n : {0, -5, 0x10000, 40000}) {  // the bound is taken as 16 bits
        LogCapture capture;
        EXPECT_EQ(Qel_LongRandom(n), 0);
        std::string log = capture.Take();
        std::string want = "Qel_LongRandom: Wrong argument " + std::to_string(static_cast<int16_t>(n)) + "\n";
        EXPECT_NE(log.find(want), std::string::npos) << n;
    }
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(Qel_LongRandom(1), 0);
    for (int i = 0; i < 1000; ++i) {
        int32_t r = Qel_LongRandom(0x10000 + 10);  // 16-bit 10
        ASSERT_GE(r, 0);
        ASSERT_LT(r, 10);
    }
}

// --- angles ---

TEST(Angles, DiffFoldsIntoHalfATurn) {
    struct Case {
        int32_t a, b, want;
    } cases[] = {
        {1000, 32399000, 2000},     {32399000, 1000, -2000},  {16200000, 0, 16200000},
        {0, 16200000, -16200000},   {16200001, 0, -16199999}, {5, 5, 0},
        {INT32_MAX, INT32_MIN, -1},  // no overflow trap on wild input
    };
    for (const Case& c : cases) EXPECT_EQ(Qel_AngleDiff(c.a, c.b), c.want) << c.a << " " << c.b;
}

TEST(Angles, AddWrapsIntoOneTurn) {
    struct Case {
        int32_t delta, angle, want;
    } cases[] = {
        {-500, 300, 32399800}, {500, 32399800, 300}, {0, 0, 0},         {-300, 300, 0},
        {200, 32399800, 0},    {32400000, 0, 0},     {-32400000, 5, 5}, {100, 32399800, 32399900},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Qel_AngleAdd(c.delta, c.angle), c.want) << c.delta << " " << c.angle;
        EXPECT_EQ(Qel_AngleAdd(c.angle, c.delta), c.want) << "swapped " << c.delta << " " << c.angle;
    }
}

// --- colour and bit helpers ---

TEST(Colour, BitHelpers) {
    EXPECT_EQ(Qel_ShiftMaskLeft(0x1F, 11, 0xF800), 0xF800u);
    EXPECT_EQ(Qel_ShiftMaskLeft(0xFFFF, 4, 0xFF0), 0xFF0u);
    EXPECT_EQ(Qel_ShiftMaskRight(0xF800, 11, 0x1F), 0x1Fu);
    EXPECT_EQ(Qel_ShiftMaskLeft(1, 40, 0xFFFFFFFF), 0u);
    EXPECT_EQ(Qel_PackHighBytes(0x11000000, 0x22FFFFFF, 0x33000001), 0x332211u);
    EXPECT_EQ(Qel_Max3(1, -5, 3), 3);
    EXPECT_EQ(Qel_Max3(7, 7, -1), 7);
    EXPECT_EQ(Qel_Min3(1, -5, 3), -5);
    EXPECT_EQ(Qel_Min3(4, 9, 2), 2);
}

TEST(Colour, RgbToHsv) {
    const int32_t one = 0x10000;
    struct Case {
        int32_t rgb[3];
        int32_t hsv[3];
    } cases[] = {
        {{one, 0, 0}, {0, one, one}},
        {{0, one, 0}, {120 * one, one, one}},
        {{0, 0, one}, {240 * one, one, one}},
        {{one, 0, one}, {300 * one, one, one}},  // negative hue gets 360
        {{one, one, 0}, {60 * one, one, one}},
        {{one / 2, one / 2, one / 2}, {1, 0, one / 2}},  // grey: hue 1
        {{0, 0, 0}, {1, 0, 0}},
    };
    for (const Case& c : cases) {
        int32_t hsv[3];
        Qel_RgbToHsv(c.rgb, hsv);
        EXPECT_EQ(hsv[0], c.hsv[0]);
        EXPECT_EQ(hsv[1], c.hsv[1]);
        EXPECT_EQ(hsv[2], c.hsv[2]);
    }
}
