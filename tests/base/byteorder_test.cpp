#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "base/byteorder.h"

namespace {

std::vector<uint8_t> Bytes(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i + 1);
    return v;
}

struct Case {
    const char* name;
    const char* layout;
    size_t size;    // bytes in the buffer
    size_t length;  // length given
    size_t consumed;
    std::vector<uint8_t> expected;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class SwapByLayout : public testing::TestWithParam<Case> {};

TEST_P(SwapByLayout, ConvertsFieldByField) {
    const Case& c = GetParam();
    std::vector<uint8_t> buf = Bytes(c.size);
    EXPECT_EQ(Qel_SwapBytesByLayout(buf.data(), c.layout, c.length), c.consumed);
    EXPECT_EQ(buf, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, SwapByLayout,
    testing::Values(Case{"WordsOverTwelveBytes", "\4", 12, 12, 12, {4, 3, 2, 1, 8, 7, 6, 5, 12, 11, 10, 9}},
                    Case{"ShortAndTwoBytes", "\2\1\1", 4, 4, 4, {2, 1, 3, 4}},
                    Case{"ShortAndTwoBytesRepeated", "\2\1\1", 8, 8, 8, {2, 1, 3, 4, 6, 5, 7, 8}},
                    Case{"MixedRecord", "\1\2\4", 7, 7, 7, {1, 3, 2, 7, 6, 5, 4}},
                    Case{"OtherCodesConsumeNothing", "\2\7\4", 6, 6, 6, {2, 1, 6, 5, 4, 3}},
                    // A field crossing the length is left alone: the bytes after it are not ours.
                    Case{"WordCrossingTheLength", "\4", 8, 6, 4, {4, 3, 2, 1, 5, 6, 7, 8}},
                    Case{"ShortCrossingTheLength", "\1\2", 4, 2, 1, {1, 2, 3, 4}},
                    Case{"LengthZero", "\4", 4, 0, 0, {1, 2, 3, 4}},
                    // Layouts that would never consume a byte are refused.
                    Case{"EmptyLayout", "", 4, 4, 0, {1, 2, 3, 4}},
                    Case{"OnlyOtherCodes", "\3\5", 4, 4, 0, {1, 2, 3, 4}}),
    [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

TEST(SwapByLayoutRoundTrip, SameCallConvertsBothWays) {
    struct Rec {
        uint16_t a;
        uint8_t b, c;
        uint32_t d;
    } rec{0x1234, 7, 9, 0xA1B2C3D4};
    const char layout[] = "\2\1\1\4";
    ASSERT_EQ(Qel_SwapBytesByLayout(&rec, layout, sizeof rec), sizeof rec);
    const auto* raw = reinterpret_cast<const uint8_t*>(&rec);
    EXPECT_EQ(raw[0], 0x12);
    EXPECT_EQ(raw[4], 0xA1);
    ASSERT_EQ(Qel_SwapBytesByLayout(&rec, layout, sizeof rec), sizeof rec);
    EXPECT_EQ(rec.a, 0x1234);
    EXPECT_EQ(rec.d, 0xA1B2C3D4u);
    EXPECT_EQ(rec.c, 9);
}

}  // namespace
