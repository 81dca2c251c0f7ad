// Fonts and text: 1-bit BMP images, grid fonts with and without width tables,
// ".abc" metrics of versions 4 and 5 and their refusals, font slots, styles,
// widths and line layout, the UTF-8 helpers, and a line of styled text drawn
// into the back buffer of the GL device and read back.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/display.h"
#include "base/draw2d.h"
#include "base/ebm.h"
#include "base/fonts.h"
#include "base/general.h"
#include "base/utf8.h"
#include "render/device.h"
#include "support/gamefolder.h"
#include "support/imagefixtures.h"
#include "support/logcapture.h"
#include "support/surfacesupport.h"
#include "support/videosupport.h"
#include "system/settings.h"
#include "system/video.h"

namespace {

struct BitmapDeleter {
    void operator()(EBM* b) const { FreeILBM(b); }
};
using Bitmap = std::unique_ptr<EBM, BitmapDeleter>;

// A 16 x 16 grid of 8 x 8 cells: ' ' empty, '!' a bar in its second column
// (rows 1 to 5 of the glyph), '"' a 2 x 2 block, '#' one pixel in the last
// cell's bottom-right corner.
const std::vector<const char*> kGrid = {
    "................", "................", "..........#.....", "..........#.....",
    "..........#.....", "..........#.....", "..........#.....", "................",
    "................", "................", "..##............", "..##............",
    "................", "................", "................", "...............#",
};

void Put32(std::vector<uint8_t>& v, uint32_t x) {
    v.insert(v.end(), {uint8_t(x), uint8_t(x >> 8), uint8_t(x >> 16), uint8_t(x >> 24)});
}
void PutF(std::vector<uint8_t>& v, float f) {
    uint32_t x;
    std::memcpy(&x, &f, 4);
    Put32(v, x);
}
void Put16(std::vector<uint8_t>& v, uint16_t x) { v.insert(v.end(), {uint8_t(x), uint8_t(x >> 8)}); }

struct GlyphRec {
    float left, top, right, bottom;
    uint8_t lead, ink, advance;
};
void PutGlyph(std::vector<uint8_t>& v, const GlyphRec& g) {
    PutF(v, g.left), PutF(v, g.top), PutF(v, g.right), PutF(v, g.bottom);
    v.insert(v.end(), {g.lead, 0, g.ink, 0, g.advance, 0, 0, 0});
}

std::vector<uint8_t> Abc4(uint16_t start, uint16_t end, const std::vector<GlyphRec>& glyphs) {
    std::vector<uint8_t> v;
    for (uint32_t x : {4u, 8u, 32u, 8u, 1u}) Put32(v, x);
    Put16(v, start), Put16(v, end);
    Put32(v, static_cast<uint32_t>(glyphs.size()));
    for (const GlyphRec& g : glyphs) PutGlyph(v, g);
    return v;
}

std::vector<uint8_t> Abc5(const std::vector<uint16_t>& map, const std::vector<GlyphRec>& glyphs) {
    std::vector<uint8_t> v;
    Put32(v, 5);
    for (float f : {8.0f, 0.0f, 0.0f, 9.0f}) PutF(v, f);
    Put16(v, static_cast<uint16_t>(map.size() - 1));
    for (uint16_t m : map) Put16(v, m);
    Put32(v, static_cast<uint32_t>(glyphs.size()));
    for (const GlyphRec& g : glyphs) PutGlyph(v, g);
    return v;
}

// 32 x 8 image: 'A' in columns 0..7, 'B' in 8..15.
const std::vector<GlyphRec> kTwoGlyphs = {{0.0f, 0.0f, 0.25f, 1.0f, 1, 6, 7}, {0.25f, 0.0f, 0.5f, 1.0f, 0, 5, 6}};

class Fonts : public testing::Test {
protected:
    void SetUp() override {
        folder_.WriteBytes("F/grid.bmp", Bmp1(kGrid));
        std::vector<const char*> wide(8, "################################");
        folder_.WriteBytes("F/abc.bmp", Bmp1(wide));
    }
    void TearDown() override { Qel_CloseFonts(); }
    TempGameFolder folder_;
    GeneralSession session_;
};

TEST_F(Fonts, BmpRowsReadEitherWayUpAndBadFilesAreRefused) {
    folder_.WriteBytes("up.bmp", Bmp1(kGrid, false));
    folder_.WriteBytes("down.bmp", Bmp1(kGrid, true));
    folder_.WriteBytes("narrow.bmp", Bmp1({"#..........#", "............"}));
    for (const char* name : {"up.bmp", "down.bmp"}) {
        Bitmap b(Qel_ReadBMP(name));
        ASSERT_NE(b, nullptr) << name;
        EXPECT_EQ(b->flags & (EBM_CHUNKY | EBM_NOSHADOW), EBM_NOSHADOW);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                ASSERT_EQ(PixelAt(b.get(), x, y), kGrid[y][x] == '#' ? 1u : 0u) << x << "," << y;
    }
    Bitmap narrow(Qel_ReadBMP("narrow.bmp"));
    ASSERT_NE(narrow, nullptr);
    EXPECT_EQ(PixelAt(narrow.get(), 11, 0), 1u);  // the last, partial byte of the row is read

    std::vector<uint8_t> good = Bmp1(kGrid);
    std::vector<uint8_t> notBm = good, deep = good, cut = good, huge = good;
    notBm[0] = 'X';
    deep[28] = 8;
    cut.resize(good.size() - 10);
    huge[22] = 0x7F;  // 127 rows promised
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* line;
    } cases[] = {{"notbm.bmp", notBm, "Qel_ReadBMP(notbm.bmp) invalid file header!\n"},
                 {"deep.bmp", deep, "Qel_ReadBMP(deep.bmp) Only depth=1 currently supported!\n"},
                 {"cut.bmp", cut, "Qel_ReadBMP(cut.bmp) invalid file header!\n"},
                 {"huge.bmp", huge, "Qel_ReadBMP(huge.bmp) invalid file header!\n"}};
    for (const auto& c : cases) {
        folder_.WriteBytes(c.name, c.bytes);
        LogCapture log;
        EXPECT_EQ(Qel_ReadBMP(c.name), nullptr) << c.name;
        EXPECT_TRUE(log.Contains(c.line)) << log.Text();
    }
}

TEST_F(Fonts, GridFontsEndAtTheLastCellAndTakeWidthTables) {
    QelFont* f = Qel_OpenFont("grid", 8, 8, 1, 0);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->cellsPerRow, 2);
    EXPECT_EQ(f->firstChar, 32u);
    EXPECT_EQ(f->lastChar, 35u);  // four cells: ' ' to '#'
    EXPECT_EQ(f->flags & FONT_PROPORTIONAL, 0u);
    EXPECT_EQ(Qel_OpenFont("grid", 8, 8, 1, 0), f);
    EXPECT_EQ(Qel_TextWidth(f, "!!$", 1), 18);  // '$' lies past the last glyph
    EXPECT_EQ(Qel_TextLineHeight(f, 0x2 | 0x1), 10);

    folder_.WriteBytes("F/prop.bmp", Bmp1(kGrid));
    folder_.WriteBytes("F/prop.siz", {3, 2, 5});  // '#' keeps the cell width
    QelFont* p = Qel_OpenFont("prop", 8, 8, 1, 0);
    ASSERT_NE(p, nullptr);
    EXPECT_NE(p->flags & FONT_PROPORTIONAL, 0u);
    EXPECT_EQ(Qel_TextWidth(p, " !\"#", 1), 3 + 2 + 5 + 8 + 4);
    EXPECT_EQ(Qel_TextWidth(p, "!", 0x2 | 0x1), 2 + 1 + 2);  // the outline widens by its offsets
}

TEST_F(Fonts, EffectImagesHoldEveryGlyphInItsCell) {
    QelFont* f = Qel_OpenFont("grid", 8, 8, 0x10 | 0x2 | 0x1, 0);
    ASSERT_NE(f, nullptr);
    ASSERT_NE(f->effectImage, nullptr);
    EXPECT_NE(f->flags & FONT_EFFECTIMAGE, 0u);
    EXPECT_EQ(f->effectCellWidth, 16);  // 8 + 1 spacing + 2 outline, rounded up
    EXPECT_EQ(f->effectCellHeight, 10);
    EXPECT_EQ(f->effectImage->width, 32);
    EXPECT_EQ(f->effectImage->height, 20);
    // '!' in the second cell: its bar one pixel right and down of the outline's corner.
    for (int y = 2; y <= 6; ++y) EXPECT_EQ(PixelAt(f->effectImage, 18, y), 1u) << y;
    EXPECT_EQ(PixelAt(f->effectImage, 2, 2), 0u);
}

TEST_F(Fonts, FontSlotsRunOut) {
    for (int i = 0; i < QEL_FONT_SLOTS; ++i) {
        std::string name = "f" + std::to_string(i);
        folder_.WriteBytes("F/" + name + ".bmp", Bmp1(kGrid));
        ASSERT_NE(Qel_OpenFont(name.c_str(), 8, 8, 1, 0), nullptr) << name;
    }
    folder_.WriteBytes("F/f10.bmp", Bmp1(kGrid));
    LogCapture log;
    EXPECT_EQ(Qel_OpenFont("f10", 8, 8, 1, 0), nullptr);
    EXPECT_TRUE(log.Contains("Qel_OpenFont(f10) No more font slots left!\n"));
    EXPECT_NE(Qel_OpenFont("f3", 8, 8, 1, 0), nullptr);
    EXPECT_EQ(Qel_OpenFont("nothing", 8, 8, 1, 0), nullptr);
}

TEST_F(Fonts, AbcMetricsOfBothVersions) {
    folder_.WriteBytes("F/abc.abc", Abc4('A', 'B', kTwoGlyphs));
    QelFont* f = Qel_OpenFont("abc", 0, 8, 1, 0);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->flags & (FONT_ABC | FONT_PROPORTIONAL), FONT_ABC | FONT_PROPORTIONAL);
    EXPECT_EQ(f->firstChar, 'A');
    EXPECT_EQ(f->lastChar, 'B');
    EXPECT_EQ(f->glyphX[1], 8);
    EXPECT_EQ(f->glyphHeight[0], 8);
    EXPECT_EQ(Qel_TextWidth(f, "AB", 1), 8 + 6 - 1);
    EXPECT_EQ(Qel_TextWidth(f, "ABC", 1), 13);

    folder_.WriteBytes("F/abc5.bmp", Bmp1(std::vector<const char*>(8, "################################")));
    std::vector<uint16_t> map(0xEA, 0);
    map['A'] = 1;
    map[0xE9] = 2;
    folder_.WriteBytes("F/abc5.abc", Abc5(map, {{0, 0, 0.1f, 1, 0, 1, 1}, kTwoGlyphs[0], kTwoGlyphs[1]}));
    QelFont* g = Qel_OpenFont("abc5", 0, 8, 1, 0);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->lastChar, 0xE9u);
    EXPECT_EQ(Qel_TextWidth(g, "\xC3\xA9", 1), 5);
    EXPECT_EQ(Qel_TextWidth(g, "A\xC3\xA9", 1), 8 + 5);
    // An ESC or a character cut short at the end ends the text there.
    EXPECT_EQ(Qel_TextWidth(g, "A\xC3", 1), 7);
    EXPECT_EQ(Qel_TextWidth(g, "A\x1B", 1), 7);
    EXPECT_EQ(Qel_TextWidth(g, "\x1BRA", 1), 7);
}

TEST_F(Fonts, DamagedAbcFilesAreRefused) {
    std::vector<uint16_t> badMap(0x42, 0);
    badMap['A'] = 7;
    std::vector<GlyphRec> wide = kTwoGlyphs;
    wide[1].right = 2.0f;
    std::vector<uint8_t> v6 = Abc4('A', 'B', kTwoGlyphs);
    v6[0] = 6;
    std::vector<uint8_t> cut = Abc4('A', 'B', kTwoGlyphs);
    cut.resize(cut.size() - 1);
    const struct {
        std::vector<uint8_t> bytes;
        const char* line;
    } cases[] = {{Abc4('B', 'A', kTwoGlyphs), "Qel_OpenFont2(abc) abc file is damaged!\n"},
                 {cut, "Qel_OpenFont2(abc) abc file is damaged!\n"},
                 {Abc4('A', 'B', wide), "Qel_OpenFont2(abc) abc file is damaged!\n"},
                 {Abc5(badMap, kTwoGlyphs), "Qel_OpenFont2(abc) abc file is damaged!\n"},
                 {v6, "Qel_OpenFont2(abc) abc file version 6 is not supported!\n"},
                 {{4, 0}, "Qel_OpenFont2(abc) abc file version 0 is not supported!\n"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        folder_.WriteBytes("F/abc.abc", c.bytes);
        LogCapture log;
        EXPECT_EQ(Qel_OpenFont("abc", 0, 8, 1, 0), nullptr);
        EXPECT_TRUE(log.Contains(c.line)) << log.Text();
    }
}

TEST_F(Fonts, StylesParseIntoOffsets) {
    LogCapture log;
    const QelTextStyle* none = Qel_TextParseStyle(0);
    EXPECT_EQ(none->count, 0);
    EXPECT_TRUE(log.Contains("TEXT: wrong style format!\n"));
    const QelTextStyle* outline = Qel_TextParseStyle(0x2 | 0x1);
    EXPECT_EQ(outline->count, 9);
    EXPECT_EQ(outline->mainStart, 8);
    EXPECT_EQ(outline->minX, -1);
    EXPECT_EQ(outline->maxY, 1);
    const QelTextStyle* shadow = Qel_TextParseStyle(0x200);  // effect offsets only
    EXPECT_EQ(shadow->mainStart, 1);
    const QelTextStyle* bold = Qel_TextParseStyle(0x1 | 0x4);
    EXPECT_EQ(bold->mainStart, 0);
    EXPECT_EQ(bold->count, 2);
}

TEST_F(Fonts, LayoutBreaksLines) {
    QelFont* f = Qel_OpenFont("grid", 8, 8, 1, 0);
    ASSERT_NE(f, nullptr);
    std::string hundredFifty(150, '\n');
    const struct {
        const char* name;
        std::string text;
        int maxWidth;
        std::vector<std::pair<int, int>> lines;  // start, length
    } cases[] = {
        {"at the last blank", "!! !!", 30, {{0, 2}, {3, 2}}},
        {"before the glyph without a blank", "!!!!!", 30, {{0, 3}, {3, 2}}},
        {"at newlines, empty lines kept", "!\n\n!", 100, {{0, 1}, {2, 0}, {3, 1}}},
        {"blanks starting a line skipped", "!!   !!", 20, {{0, 2}, {5, 2}}},
        {"colour codes take no room", "\x1BR!!!\x1BX!", 40, {{0, 8}}},
        {"a cut-short character ends the text", "!!\xE2\x82", 100, {{0, 4}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int32_t starts[QEL_TEXT_MAX_LINES], lengths[QEL_TEXT_MAX_LINES];
        int widest = 0, height = 0;
        int n = Qel_TextLayout(c.text.c_str(), starts, lengths, c.maxWidth, f, &widest, &height, 1);
        ASSERT_EQ(n, static_cast<int>(c.lines.size()));
        for (int i = 0; i < n; ++i) {
            EXPECT_EQ(starts[i], c.lines[i].first) << i;
            EXPECT_EQ(lengths[i], c.lines[i].second) << i;
        }
        EXPECT_EQ(height, 8 * n + 1);
        EXPECT_LE(widest, c.maxWidth);
        // The measure breaks by the same rule.
        std::vector<QelTextLine> measured;
        ASSERT_EQ(Qel_TextMeasure(c.text.c_str(), c.maxWidth, f, 1, &measured), n);
        for (int i = 0; i < n; ++i)
            EXPECT_EQ(std::make_pair(int{measured[i].start}, int{measured[i].length}), c.lines[i]) << i;
    }
    // The layout stops at its 100th line; the measure has no such limit.
    EXPECT_EQ(Qel_TextLayout(hundredFifty.c_str(), nullptr, nullptr, 100, f, nullptr, nullptr, 1), 100);
    std::vector<QelTextLine> all;
    EXPECT_EQ(Qel_TextMeasure(hundredFifty.c_str(), 100, f, 1, &all), 150);
    ASSERT_EQ(all.size(), 150u);
    EXPECT_EQ(all.back().start, 149);
    EXPECT_EQ(Qel_TextMeasure(hundredFifty.c_str(), 100, f, 1, nullptr), 150);
    EXPECT_EQ(Qel_TextHeight(0x2 | 0x1, f, "!! !!", 30), 20);
}

TEST(Utf8, DecodeEncodeAndCounts) {
    const struct {
        const char* text;
        uint32_t codePoint;
        int length;  // bytes read; -1 no result
    } decodes[] = {{"A", 'A', 1},      {"\xC3\xA9", 0xE9, 2}, {"\xE2\x82\xAC", 0x20AC, 3}, {"\xF0\x9F\x98\x80", 0, -1},
                   {"\xE2\x82", 0, 2}, {"\xC3", 0, 1}};
    for (const auto& d : decodes) {
        uint32_t cp = 99;
        const char* next = Qel_Utf8Decode(d.text, &cp);
        if (d.length < 0) {
            EXPECT_EQ(next, nullptr);
            continue;
        }
        EXPECT_EQ(next, d.text + d.length) << d.text;
        EXPECT_EQ(cp, d.codePoint) << d.text;
        if (cp) {
            char out[4] = {};
            EXPECT_EQ(Qel_Utf8Encode(out, cp) - out, d.length);
            EXPECT_EQ(std::string(out, d.length), std::string(d.text, d.length));
        }
    }
    EXPECT_EQ(Qel_Utf8CharCount("a\x1BRb"), 2);
    EXPECT_EQ(Qel_Utf8CharCount("a\x1B"), 1);
    EXPECT_EQ(Qel_Utf8ClampLength("abc", 10), 3);
    EXPECT_EQ(Qel_Utf8ClampLength("abc", 2), 1);
    EXPECT_EQ(Qel_Utf8ClampLength("a\xC3\xA9z", 3), 1);
    EXPECT_EQ(Qel_Utf8ClampLength("abc", 0), 0);
}

// Styled text drawn on the device's back buffer and read back.
class TextOnScreen : public VideoTestBase {
protected:
    void SetUp() override {
        VideoTestBase::SetUp();
        S_InitSystemSettings();
        ASSERT_TRUE(OpenVideo(1024, 768));
        folder_.WriteBytes("F/grid.bmp", Bmp1(kGrid));
    }
    void TearDown() override {
        Qel_CloseFonts();
        S_3DFreeLookupTextures();
        CloseVideo();
        VideoTestBase::TearDown();
    }
    TempGameFolder folder_;
};

TEST_F(TextOnScreen, OutlinedTextWithColourCodes) {
    QelFont* f = Qel_OpenFont("grid", 8, 8, 1, 0);
    ASSERT_NE(f, nullptr);
    EBM* screen = g_VideoRecord->BackBufferEBM;
    ASSERT_NE(screen, nullptr);
    Qel_RectFill(0, 0, 200, 200, 0x000080, screen);
    // "!" in the text colour, then "!" after ESC G in green, then the last
    // cell's glyph, whose source ends at the image's edge.
    int pen = Qel_Text(f, screen, "!\x1BG!#", 100, 1000, 0xFF5555, 0x2 | 0x1, 100);
    EXPECT_EQ(pen, 101 + 3 * 9);
    EXPECT_EQ(screen->flags & EBM_LOCKED, 0u);
    auto at = [&](int x, int y) { return PixelAt(screen, x, y) & 0xFFFFFF; };
    // The pen starts one pixel right and down, past the outline's left and top.
    // Glyph '!' has its bar in glyph column 1, rows 1 to 5.
    for (int y = 102; y <= 106; ++y) {
        EXPECT_EQ(at(102, y), 0xFF5555u) << y;
        EXPECT_EQ(at(101, y), 0x444444u) << y;  // outline of a bright text is dark
        EXPECT_EQ(at(103, y), 0x444444u) << y;
        EXPECT_EQ(at(111, y), 0x55FF55u) << y;  // the second '!' after ESC G
    }
    EXPECT_EQ(at(102, 101), 0x444444u);
    EXPECT_EQ(at(102, 107), 0x444444u);
    EXPECT_EQ(at(105, 104), 0x000080u);
    // '#': pixel (15, 15) of the image is glyph pixel (6, 6).
    EXPECT_EQ(at(119 + 6, 101 + 6), 0x55FF55u);
    // Text stops before the first glyph past the right limit.
    Qel_RectFill(0, 0, 200, 200, 0x000080, screen);
    EXPECT_EQ(Qel_Text(f, screen, "!!!", 10, 30, 0xFFFFFF, 1, 10), 10 + 2 * 9);
    EXPECT_EQ(at(10 + 1, 12), 0xFFFFFFu);
    EXPECT_EQ(at(28 + 1, 12), 0x000080u);
}

TEST_F(TextOnScreen, GlyphsWithAlphaAreBlendedInTheTextColour) {
    std::vector<uint32_t> pixels(16 * 16, 0);
    for (int y = 2; y <= 6; ++y) pixels[static_cast<size_t>(y) * 16 + 10] = 0xFFFFFFFF;
    folder_.WriteBytes("F/deep.img.tga", Tga({.width = 16, .height = 16, .depth = 32, .alphaBits = 8}, pixels));
    LogCapture log;
    QelFont* f = Qel_OpenFont("deep", 8, 8, 0x10 | 1, 0);
    ASSERT_NE(f, nullptr);
    EXPECT_TRUE(log.Contains("Chunky Pre calculated Outline not supported yet!\n"));
    EXPECT_EQ(f->effectImage, nullptr);
    EXPECT_NE(f->flags & FONT_DEEP, 0u);
    EBM* screen = g_VideoRecord->BackBufferEBM;
    Qel_RectFill(280, 280, 40, 40, 0x000080, screen);
    Qel_Text(f, screen, "!", 300, 1000, 0xFF5555, 1, 300);
    auto near = [&](int x, int y, uint32_t want) {
        uint32_t got = PixelAt(screen, x, y) & 0xFFFFFF;
        for (int s = 0; s < 24; s += 8)
            if (std::abs(static_cast<int>((got >> s) & 0xFF) - static_cast<int>((want >> s) & 0xFF)) > 2) return false;
        return true;
    };
    for (int y = 301; y <= 305; ++y) EXPECT_TRUE(near(301, y, 0xFF5555)) << y;
    EXPECT_TRUE(near(302, 303, 0x000080));
    EXPECT_TRUE(near(301, 307, 0x000080));
}

}  // namespace
