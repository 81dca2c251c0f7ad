// Per-layout back ends of the 2D primitives and the bitmap conversions, on
// memory bitmaps of every layout.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "base/convert.h"
#include "base/draw2d.h"
#include "base/ebm.h"
#include "base/memory.h"
#include "base/pixelformats.h"
#include "support/surfacesupport.h"
#include "system/video.h"

namespace {

struct BitmapDeleter {
    void operator()(EBM* b) const { FreeILBM(b); }
};
using Bitmap = std::unique_ptr<EBM, BitmapDeleter>;
Bitmap Make(Layout l, int w, int h, uint32_t flags = 0) { return Bitmap(MakeBitmap(l, w, h, flags)); }

constexpr Layout kAll[] = {Layout::Bits8, Layout::Bits16, Layout::Bits24, Layout::Bits32, Layout::Planar4};

// What a drawn colour becomes in memory: 8-bit and planar take the index, 16-
// and 24-bit the low bytes, 32-bit the colour bytes with an opaque fourth byte.
uint32_t Stored(Layout l, uint32_t colour) {
    switch (l) {
        case Layout::Bits8: return colour & 0xFF;
        case Layout::Bits16: return colour & 0xFFFF;
        case Layout::Bits24: return colour & 0xFFFFFF;
        case Layout::Bits32: return (colour & 0xFFFFFF) | 0xFF000000u;
        default: return colour & 0xF;
    }
}

// A screen description for the reordering tests, restored afterwards.
class ScreenLayout {
public:
    ScreenLayout(uint32_t depthFlag, uint16_t rs, uint16_t rb, uint16_t gs, uint16_t gb, uint16_t bs, uint16_t bb) {
        saved_ = g_VideoRecord;
        std::memset(&record_, 0, sizeof record_);
        std::memset(&screen_, 0, sizeof screen_);
        screen_.flags = EBM_CHUNKY | depthFlag;
        record_.VideoEBM = &screen_;
        record_.redShift = rs, record_.redBits = rb, record_.greenShift = gs, record_.greenBits = gb;
        record_.blueShift = bs, record_.blueBits = bb;
        g_VideoRecord = &record_;
    }
    ~ScreenLayout() { g_VideoRecord = saved_; }

private:
    VideoRecord* saved_;
    VideoRecord record_;
    EBM screen_;
};

}  // namespace

TEST(PixelFormats, BlitTypesFollowTheTableOfLayouts) {
    // rows: destination, columns: source; order 8, 16, 24, 32, planar.
    const uint16_t expected[5][5] = {
        {0, 1, 2, 4, 3}, {7, 5, 6, 9, 8}, {12, 11, 10, 14, 13}, {22, 21, 20, 24, 23}, {16, 17, 18, 19, 15}};
    std::vector<Bitmap> b;
    for (Layout l : kAll) b.push_back(Make(l, 4, 4));
    for (int d = 0; d < 5; ++d)
        for (int s = 0; s < 5; ++s) EXPECT_EQ(Qel_GetBlitType(b[d].get(), b[s].get()), expected[d][s]) << d << "," << s;
    // A missing bitmap takes the other's place.
    EXPECT_EQ(Qel_GetBlitType(b[1].get(), nullptr), 5);
    EXPECT_EQ(Qel_GetBlitType(nullptr, b[3].get()), 24);
    std::string log = LogOf([] { EXPECT_EQ(Qel_GetBlitType(nullptr, nullptr), QEL_BLIT_ERROR); });
    EXPECT_EQ(log, Framed("ERROR: BlittType -1!\n"));
}

TEST(PixelFormats, PixelsLinesAndSpansStoreTheColourOfEachLayout) {
    const uint32_t colour = 0x12345A;
    for (Layout l : kAll) {
        SCOPED_TRACE(LayoutName(l));
        Bitmap b = Make(l, 20, 6);
        Qel_SetPixel(3, 2, b.get(), colour);
        EXPECT_EQ(PixelAt(b.get(), 3, 2), Stored(l, colour));
        EXPECT_EQ(PixelAt(b.get(), 2, 2), 0u);
        EXPECT_EQ(PixelAt(b.get(), 4, 2), 0u);

        // A diagonal walks one step on both axes per pixel; a flat line fills its
        // row. Planes have no line routine.
        FillRaw(b.get(), 0);
        if (l == Layout::Planar4) {
            EXPECT_EQ(LogOf([&] { Qel_Line(0, 0, 4, 4, b.get(), colour); }),
                      Framed("Unsupported graphic primitive called:\n"));
            EXPECT_EQ(PixelAt(b.get(), 0, 0), 0u);
        } else {
            Qel_Line(0, 0, 4, 4, b.get(), colour);
            for (int i = 0; i <= 4; ++i) EXPECT_EQ(PixelAt(b.get(), i, i), Stored(l, colour)) << i;
            EXPECT_EQ(PixelAt(b.get(), 1, 0), 0u);
            Qel_Line(19, 5, 5, 5, b.get(), colour);
            for (int x = 5; x <= 19; ++x) EXPECT_EQ(PixelAt(b.get(), x, 5), Stored(l, colour)) << x;
            EXPECT_EQ(PixelAt(b.get(), 4, 5), 0u);
        }

        // Spans of odd and even length, starting off a byte boundary for planes.
        FillRaw(b.get(), 0);
        using SpanFn = void (*)(EBM*, int, int, int, uint32_t);
        SpanFn span = l == Layout::Bits8    ? Qel_Span8
                      : l == Layout::Bits16 ? Qel_Span16
                      : l == Layout::Bits24 ? Qel_Span24
                      : l == Layout::Bits32 ? Qel_Span32
                                            : Qel_SpanPlanar;
        span(b.get(), 1, 3, 17, colour);
        span(b.get(), 3, 6, 7, colour);
        for (int x = 0; x < 20; ++x) {
            EXPECT_EQ(PixelAt(b.get(), x, 1), x >= 3 && x <= 17 ? Stored(l, colour) : 0u) << x;
            EXPECT_EQ(PixelAt(b.get(), x, 3), x == 6 || x == 7 ? Stored(l, colour) : 0u) << x;
            EXPECT_EQ(PixelAt(b.get(), x, 2), 0u) << x;
        }
    }
}

TEST(PixelFormats, PixelsOnThirtyTwoBitsKeepAlphaOpaque) {
    Bitmap b = Make(Layout::Bits32, 4, 4);
    FillRaw(b.get(), 0x00000000);
    Qel_SetPixel(1, 1, b.get(), 0x00102030);
    Qel_Line(0, 3, 3, 3, b.get(), 0x00405060);
    EXPECT_EQ(PixelAt(b.get(), 1, 1), 0xFF102030u);
    EXPECT_EQ(PixelAt(b.get(), 2, 3), 0xFF405060u);
}

TEST(PixelFormats, CookieCopiesOnlyPixelsAboveTheThreshold) {
    for (Layout l : {Layout::Bits8, Layout::Bits16, Layout::Bits24, Layout::Bits32}) {
        SCOPED_TRACE(LayoutName(l));
        Bitmap src = Make(l, 4, 1), dst = Make(l, 4, 1);
        // 0 and the threshold itself stay out; one above it comes in.
        SetRaw(src.get(), 0, 0, 0);
        SetRaw(src.get(), 1, 0, 0x10);
        SetRaw(src.get(), 2, 0, 0x11);
        SetRaw(src.get(), 3, 0, 0x05);
        FillRaw(dst.get(), 0x7);
        Qel_Cookie(src.get(), 0, 0, 4, 1, dst.get(), 0, 0, 0x10);
        EXPECT_EQ(PixelAt(dst.get(), 0, 0), 0x7u);
        EXPECT_EQ(PixelAt(dst.get(), 1, 0), 0x7u);
        EXPECT_EQ(PixelAt(dst.get(), 2, 0), 0x11u);
        EXPECT_EQ(PixelAt(dst.get(), 3, 0), 0x7u);
    }
    // 32-bit with threshold 0: only the pixels whose three colour bytes are all 0
    // are skipped, whatever their fourth byte; copied pixels keep the destination's.
    Bitmap src = Make(Layout::Bits32, 3, 1), dst = Make(Layout::Bits32, 3, 1);
    SetRaw(src.get(), 0, 0, 0xFF000000);
    SetRaw(src.get(), 1, 0, 0x00000100);
    SetRaw(src.get(), 2, 0, 0x80010000);
    FillRaw(dst.get(), 0x55AAAAAA);
    Qel_Cookie(src.get(), 0, 0, 3, 1, dst.get(), 0, 0, 0);
    EXPECT_EQ(PixelAt(dst.get(), 0, 0), 0x55AAAAAAu);
    EXPECT_EQ(PixelAt(dst.get(), 1, 0), 0x55000100u);
    EXPECT_EQ(PixelAt(dst.get(), 2, 0), 0x55010000u);
}

TEST(PixelFormats, BlockCopiesMoveRowsOfEachLayout) {
    for (Layout l : {Layout::Bits8, Layout::Bits16, Layout::Bits24, Layout::Bits32}) {
        SCOPED_TRACE(LayoutName(l));
        Bitmap src = Make(l, 5, 4), dst = Make(l, 6, 5);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 5; ++x) SetRaw(src.get(), x, y, static_cast<uint32_t>(0x10 * y + x + 1));
        Qel_BltBlock(src.get(), 1, 1, 3, 2, dst.get(), 2, 3);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 6; ++x) {
                bool inside = x >= 2 && x < 5 && y >= 3 && y < 5;
                uint32_t want = inside ? static_cast<uint32_t>(0x10 * (y - 2) + (x - 1) + 1) : 0u;
                EXPECT_EQ(PixelAt(dst.get(), x, y), want) << x << "," << y;
            }
    }
    // Planes and mixed layouts draw nothing.
    Bitmap a = Make(Layout::Bits16, 4, 4), b = Make(Layout::Bits24, 4, 4), p = Make(Layout::Planar4, 8, 4);
    SetRaw(b.get(), 0, 0, 0x123456);
    std::string log = LogOf([&] { Qel_BltBlock(b.get(), 0, 0, 4, 4, a.get(), 0, 0); });
    EXPECT_EQ(log, Framed("BltBlock unknown\n") + Framed("Unsupported graphic primitive called:\n"));
    EXPECT_EQ(PixelAt(a.get(), 0, 0), 0u);
    log = LogOf([&] { Qel_BltBlock(p.get(), 0, 0, 4, 4, p.get(), 4, 0); });
    EXPECT_EQ(log, Framed("Unsupported graphic primitive called:\n"));
}

TEST(PixelFormats, HalfAveragingTakesTheMeanOfEachTwoByTwoBlock) {
    // 16-bit: each channel the mean of the four pixels.
    Bitmap s16 = Make(Layout::Bits16, 2, 3), d16 = Make(Layout::Bits16, 1, 1);
    auto rgb565 = [](uint32_t r, uint32_t g, uint32_t b) { return (r << 11) | (g << 5) | b; };
    SetRaw(s16.get(), 0, 0, rgb565(31, 0, 4));
    SetRaw(s16.get(), 1, 0, rgb565(1, 63, 4));
    SetRaw(s16.get(), 0, 1, rgb565(0, 1, 8));
    SetRaw(s16.get(), 1, 1, rgb565(0, 0, 0));
    SetRaw(s16.get(), 0, 2, 0xFFFF);  // the odd last row is left out
    Qel_HalfAveraged(d16.get(), s16.get());
    EXPECT_EQ(PixelAt(d16.get(), 0, 0), rgb565(8, 16, 4));

    for (Layout l : {Layout::Bits24, Layout::Bits32}) {
        SCOPED_TRACE(LayoutName(l));
        Bitmap s = Make(l, 4, 3), d = Make(l, 2, 1);
        const uint32_t px[4] = {0x10203040, 0x20304050, 0x30405060, 0x40506071};
        SetRaw(s.get(), 2, 0, px[0] & (l == Layout::Bits24 ? 0xFFFFFF : ~0u));
        SetRaw(s.get(), 3, 0, px[1] & (l == Layout::Bits24 ? 0xFFFFFF : ~0u));
        SetRaw(s.get(), 2, 1, px[2] & (l == Layout::Bits24 ? 0xFFFFFF : ~0u));
        SetRaw(s.get(), 3, 1, px[3] & (l == Layout::Bits24 ? 0xFFFFFF : ~0u));
        FillRaw(d.get(), l == Layout::Bits32 ? 0xAB000000 : 0);
        Qel_HalfAveraged(d.get(), s.get());
        // Blue (0x40+0x50+0x60+0x71)/4 = 0x58, green 0x48, red 0x38; a memory
        // bitmap's fourth byte is left as it was.
        EXPECT_EQ(PixelAt(d.get(), 1, 0), l == Layout::Bits32 ? 0xAB384858u : 0x384858u);
        EXPECT_EQ(PixelAt(d.get(), 0, 0), l == Layout::Bits32 ? 0xAB000000u : 0u);
    }
    Bitmap a = Make(Layout::Bits8, 4, 4), b = Make(Layout::Bits8, 2, 2);
    EXPECT_EQ(LogOf([&] { Qel_HalfAveraged(b.get(), a.get()); }),
              Framed("HalfAveraged ?? not implemented\n") + Framed("Unsupported graphic primitive called:\n"));
}

TEST(PixelFormats, MaskBlitsSetTheColourWhereTheMaskHasBits) {
    Bitmap mask(GenerateEbm(16, 2, 1, EBM_NOSHADOW));
    ASSERT_TRUE(mask);
    mask->plane0[0] = 0xA0;                      // row 0: columns 0 and 2
    mask->plane0[mask->rowDistance + 1] = 0x01;  // row 1: column 15
    for (Layout l : kAll) {
        SCOPED_TRACE(LayoutName(l));
        Bitmap d = Make(l, 20, 4);
        Qel_BitBltSet(mask.get(), 0, 0, 16, 2, d.get(), 2, 1, 0x0A0B0C);
        uint32_t c = Stored(l, 0x0A0B0C);
        EXPECT_EQ(PixelAt(d.get(), 2, 1), c);
        EXPECT_EQ(PixelAt(d.get(), 3, 1), 0u);
        EXPECT_EQ(PixelAt(d.get(), 4, 1), c);
        EXPECT_EQ(PixelAt(d.get(), 17, 2), c);
        EXPECT_EQ(PixelAt(d.get(), 16, 2), 0u);
    }
}

TEST(PixelFormats, RgbUploadsPackFiveSixFiveAndWriteBlueGreenRed) {
    const uint8_t rgb[6] = {0xF8, 0xFC, 0xF8, 0x12, 0x34, 0x56};
    Bitmap b16 = Make(Layout::Bits16, 2, 1), b24 = Make(Layout::Bits24, 2, 1), b32 = Make(Layout::Bits32, 2, 1);
    Qel_CopyRGBToEbm(b16.get(), rgb);
    Qel_CopyRGBToEbm(b24.get(), rgb);
    Qel_CopyRGBToEbm(b32.get(), rgb);
    EXPECT_EQ(PixelAt(b16.get(), 0, 0), 0xFFFFu);
    EXPECT_EQ(PixelAt(b16.get(), 1, 0),
              static_cast<uint32_t>(((0x12 & 0xF8) << 8) | ((0x34 & 0xFC) << 3) | (0x56 >> 3)));
    EXPECT_EQ(PixelAt(b24.get(), 1, 0), 0x123456u);
    EXPECT_EQ(PixelAt(b32.get(), 1, 0), 0xFF123456u);
}

TEST(PixelFormats, AlphaBlitBlendsByTheSourceAlphaAndTint) {
    Bitmap src = Make(Layout::Bits32, 3, 1), dst = Make(Layout::Bits32, 3, 1);
    SetRaw(src.get(), 0, 0, 0x00FFFFFF);  // transparent
    SetRaw(src.get(), 1, 0, 0xFF804020);  // opaque
    SetRaw(src.get(), 2, 0, 0x80FF0000);  // half
    FillRaw(dst.get(), 0x40102030);
    Qel_AlphaBlit(src.get(), 0, 0, 3, 1, dst.get(), 0, 0, 0xFFFFFF);
    auto blend = [](uint32_t s, uint32_t d, uint32_t a, uint32_t k) { return (s * a * k + d * (255 - a) * 256) >> 16; };
    auto expect = [&](uint32_t s, uint32_t d) {
        uint32_t a = s >> 24, out = 0;
        for (int c = 0; c < 3; ++c) out |= blend((s >> (8 * c)) & 0xFF, (d >> (8 * c)) & 0xFF, a, 0xFF) << (8 * c);
        return out | ((((d >> 24) * (255 - a)) >> 8) + a) << 24;
    };
    EXPECT_EQ(PixelAt(dst.get(), 0, 0), expect(0x00FFFFFF, 0x40102030));
    EXPECT_EQ(PixelAt(dst.get(), 1, 0), expect(0xFF804020, 0x40102030));
    EXPECT_EQ(PixelAt(dst.get(), 2, 0), expect(0x80FF0000, 0x40102030));
    EXPECT_EQ(PixelAt(dst.get(), 0, 0) & 0xFFFFFF, 0x0F1F2Fu);  // 255/256 of the destination

    EXPECT_EQ(LogOf([&] { S_AlphaBlitR8G8B8A8(0xFFFFFF, dst.get(), nullptr, 0, 0, 0, 0, 1, 1); }),
              Framed("ERROR: S_AlphaBlitR8G8B8A8() Surface not locked or NULL!\n"));
    Bitmap d16 = Make(Layout::Bits16, 2, 2);
    EXPECT_EQ(LogOf([&] { Qel_AlphaBlit(src.get(), 0, 0, 1, 1, d16.get(), 0, 0); }),
              Framed("Unsupported graphic primitive called:\n"));
}

TEST(Conversions, BitmapsChangeDepthPixelByPixel) {
    Bitmap s32 = Make(Layout::Bits32, 3, 2), d16 = Make(Layout::Bits16, 3, 2);
    SetRaw(s32.get(), 1, 1, 0x00FF8040);
    ASSERT_EQ(Qel_ChangeEBMType(d16.get(), s32.get()), 1);
    EXPECT_EQ(PixelAt(d16.get(), 1, 1), static_cast<uint32_t>((0xF8 << 8) | (0x80 << 3) | (0x40 >> 3)));

    // 16 to 32 and 24 to 32 bits make the pixels opaque.
    Bitmap d32 = Make(Layout::Bits32, 3, 2);
    ASSERT_EQ(Qel_ChangeEBMType(d32.get(), d16.get()), 1);
    EXPECT_EQ(PixelAt(d32.get(), 1, 1), 0xFFF88040u);
    EXPECT_EQ(PixelAt(d32.get(), 0, 0), 0xFF000000u);
    Bitmap s24 = Make(Layout::Bits24, 3, 2);
    SetRaw(s24.get(), 2, 0, 0x010203);
    ASSERT_EQ(Qel_ChangeEBMType(d32.get(), s24.get()), 1);
    EXPECT_EQ(PixelAt(d32.get(), 2, 0), 0xFF010203u);
    Bitmap d24 = Make(Layout::Bits24, 3, 2);
    ASSERT_EQ(Qel_ChangeEBMType(d24.get(), s32.get()), 1);
    EXPECT_EQ(PixelAt(d24.get(), 1, 1), 0xFF8040u);

    // Same depth: the pixels of each row, not the padding after them.
    Bitmap a = Make(Layout::Bits16, 3, 1), b = Make(Layout::Bits16, 3, 1);
    FillRaw(a.get(), 0x1111);
    std::memset(a->plane0 + 6, 0x77, a->rowDistance - 6u);
    ASSERT_EQ(Qel_ChangeEBMType(b.get(), a.get()), 1);
    EXPECT_EQ(PixelAt(b.get(), 2, 0), 0x1111u);
    EXPECT_EQ(b->plane0[6], 0);

    Bitmap big = Make(Layout::Bits16, 640, 481), small = Make(Layout::Bits16, 640, 480);
    EXPECT_EQ(LogOf([&] { EXPECT_EQ(Qel_ChangeEBMType(small.get(), big.get()), 0); }),
              Framed("Qel_ChangeEBMType: ebm not of equal size\n"));
    Bitmap c8 = Make(Layout::Bits8, 3, 2);
    EXPECT_EQ(LogOf([&] { EXPECT_EQ(Qel_ChangeEBMType(d16.get(), c8.get()), 0); }),
              Framed("Qel_ChangeEBMType: unknown conversion\n"));
}

TEST(Conversions, ChannelsMoveIntoTheScreensOrder) {
    {
        // A 5-5-5 screen: 5-6-5 data loses the lowest green bit.
        ScreenLayout screen(EBM_16BIT, 10, 5, 5, 5, 0, 5);
        Bitmap b = Make(Layout::Bits16, 2, 1);
        SetRaw(b.get(), 0, 0, (31u << 11) | (0x2Bu << 5) | 7u);
        std::string log = LogOf([&] { Qel_ChangeBitOrdering(b.get()); });
        EXPECT_NE(log.find("Qel_ChangeBitOrdering: Hi-color\ndpr=-1, dpg=0, dpb=0\n!\ndsr=0, dsg=-1, dsb=0\n!\n"),
                  std::string::npos);
        EXPECT_EQ(PixelAt(b.get(), 0, 0), (31u << 10) | (0x15u << 5) | 7u);
    }
    {
        // A screen with red in byte 0 and blue in byte 2.
        ScreenLayout screen(EBM_32BIT, 0, 8, 8, 8, 16, 8);
        Bitmap b = Make(Layout::Bits32, 2, 1);
        SetRaw(b.get(), 1, 0, 0x7F112233);
        Qel_ChangeBitOrdering(b.get());
        EXPECT_EQ(PixelAt(b.get(), 1, 0), 0x7F332211u);
    }
    {
        // The screen's own order changes nothing.
        ScreenLayout screen(EBM_16BIT, 11, 5, 5, 6, 0, 5);
        Bitmap b = Make(Layout::Bits16, 1, 1);
        SetRaw(b.get(), 0, 0, 0xABCD);
        EXPECT_EQ(LogOf([&] { Qel_ChangeBitOrdering(b.get()); }), "");
        EXPECT_EQ(PixelAt(b.get(), 0, 0), 0xABCDu);
    }
    EBM nothing{};
    nothing.flags = EBM_CHUNKY | EBM_16BIT | EBM_SHORT;
    EXPECT_EQ(LogOf([&] { Qel_ChangeBitOrdering(&nothing); }),
              Framed("ERROR: Qel_ChangeBitOrdering() S_Locking surfaces \n"));
}
