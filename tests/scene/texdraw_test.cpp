// Texture drawing: composites sharing out an operation, scaled textures,
// clipped blits, the texture records handed to the recorder, font slots, text
// lines, blocks and centred text, and tiles with a cut last row and column.
// Textures are memory bitmaps in the texture cache of an open video device.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "base/ebm.h"
#include "base/fonts.h"
#include "base/texcache.h"
#include "scene/state.h"
#include "scene/texdraw.h"
#include "script/arrays.h"
#include "script/values.h"
#include "support/gamefolder.h"
#include "support/imagefixtures.h"
#include "support/logcapture.h"
#include "support/surfacesupport.h"
#include "support/texcachefixture.h"
#include "support/videosupport.h"
#include "system/settings.h"

namespace {

using Chunk = TexRecord;

std::vector<Chunk>& Written() { return TexRecordsWritten(); }

// A record as the file holds it.
Chunk Rec(const char* tag, std::vector<int> fields, const std::string& text = "") {
    Chunk b(tag, tag + 4);
    for (int f : fields) {
        b.push_back(static_cast<uint8_t>(static_cast<uint16_t>(f) >> 8));
        b.push_back(static_cast<uint8_t>(f));
    }
    b.insert(b.end(), text.begin(), text.end());
    return b;
}

constexpr uint32_t kWhite = 0xFFFFFF;

class TexDraw : public TexCacheFixture {
protected:
    // A cleared 32-bit bitmap as texture id, owned by the cache.
    EBM* Give(int id, int width, int height, uint32_t flags = 0) {
        EBM* b = MakeBitmap(Layout::Bits32, width, height);
        TC_TextureTable[id].bitmap = b;
        TC_SetTextureFlags(id, flags);
        return b;
    }

    // The bitmap as rows of '#' (non-zero) and '.'.
    static std::vector<std::string> Picture(EBM* b) {
        std::vector<std::string> rows;
        for (int y = 0; y < b->height; ++y) {
            std::string row;
            for (int x = 0; x < b->width; ++x) row += PixelAt(b, x, y) ? '#' : '.';
            rows.push_back(row);
        }
        return rows;
    }
    static bool Set(EBM* b, int x, int y) { return PixelAt(b, x, y) != 0; }
    // A row of the given width with '#' over each [from, to) span.
    static std::string Row(int width, std::vector<std::pair<int, int>> spans) {
        std::string row(static_cast<size_t>(width), '.');
        for (auto [from, to] : spans)
            row.replace(static_cast<size_t>(from), static_cast<size_t>(to - from),
                        std::string(static_cast<size_t>(to - from), '#'));
        return row;
    }
};

}  // namespace

TEST_F(TexDraw, ACompositeSharesARectangleFillAmongItsPieces) {
    EBM* left = Give(1, 16, 8);
    EBM* right = Give(2, 16, 8);
    EBM* below = Give(3, 32, 8);
    // Two pieces side by side, and under them a piece that starts at (4, 2)
    // inside its texture.
    const B3DTexPiece pieces[] = {{1, 0, 0, 0, 0, 16, 8}, {2, 16, 0, 0, 0, 16, 8}, {3, 0, 8, 4, 2, 16, 4}};
    ASSERT_EQ(B3D_TexSetComposite(1, pieces, 3), 1);
    EXPECT_EQ(B3D_TexGetWidth(-1), 32);
    EXPECT_EQ(B3D_TexGetHeight(-1), 12);

    EXPECT_EQ(B3D_TexRectFill(-1, 10, 6, 12, 3, 0x123456), 1);
    for (int x = 0; x < 16; ++x)
        for (int y = 0; y < 8; ++y) {
            SCOPED_TRACE(testing::Message() << x << "," << y);
            EXPECT_EQ(Set(left, x, y), x >= 10 && y >= 6);
            EXPECT_EQ(Set(right, x, y), x < 6 && y >= 6);
        }
    EXPECT_EQ(PixelAt(left, 10, 6), 0x123456u);
    // Composite row 8 is row 2 of the third texture, composite x 10 its x 14.
    for (int x = 0; x < 32; ++x)
        for (int y = 0; y < 8; ++y) ASSERT_EQ(Set(below, x, y), x >= 14 && x < 20 && y == 2) << x << "," << y;
    // 0x12, 0x34, 0x56 keep their top five bits: 2, 6, 10.
    EXPECT_EQ(Written(), (std::vector<Chunk>{Rec("RTRF", {1, 10, 6, 6, 2, (2 << 10) | (6 << 5) | 10}),
                                             Rec("RTRF", {2, 0, 6, 6, 2, (2 << 10) | (6 << 5) | 10}),
                                             Rec("RTRF", {3, 14, 2, 6, 1, (2 << 10) | (6 << 5) | 10})}));

    // A pixel goes to the piece that holds it, a line to every piece it crosses.
    Written().clear();
    EXPECT_EQ(B3D_TexSetPix(-1, 17, 1, kWhite), 1);
    EXPECT_TRUE(Set(right, 1, 1));
    EXPECT_EQ(B3D_TexSetPix(-1, 40, 1, kWhite), 0);
    EXPECT_EQ(B3D_TexLine(-1, 12, 0, 19, 0, kWhite), 1);
    EXPECT_EQ(Picture(left)[0], "............####");
    EXPECT_EQ(Picture(right)[0], "####............");
    EXPECT_EQ(Written(), (std::vector<Chunk>{Rec("RTSP", {2, 1, 1, 0x7FFF}), Rec("RTLI", {1, 12, 0, 19, 0, 0x7FFF}),
                                             Rec("RTLI", {2, -4, 0, 3, 0, 0x7FFF})}));

    // A blit across both pieces takes its source shifted by what the first
    // piece cut off.
    EBM* source = Give(4, 8, 1);
    for (int x = 0; x < 8; ++x) SetRaw(source, x, 0, 0xFF000000u | static_cast<uint32_t>(x + 1));
    Written().clear();
    EXPECT_EQ(B3D_TexCookie(4, -1, 0, 0, 12, 3, 8, 1, -1, 1), 1);
    for (int x = 0; x < 4; ++x) EXPECT_EQ(PixelAt(left, 12 + x, 3) & 0xFF, static_cast<uint32_t>(x + 1));
    for (int x = 0; x < 4; ++x) EXPECT_EQ(PixelAt(right, x, 3) & 0xFF, static_cast<uint32_t>(x + 5));
    EXPECT_EQ(Written(),
              (std::vector<Chunk>{Rec("RTBB", {4, 1, 0, 0, 12, 3, 4, 1}), Rec("RTBB", {4, 2, 4, 0, 0, 3, 4, 1})}));
    Written().clear();
    EXPECT_EQ(B3D_TexBlit(4, -1, 0, 0, 12, 3, 8, 1, -1, 1), 1);
    EXPECT_EQ(Written(), (std::vector<Chunk>{Rec("RTBA", {4, 1, 0, 0, 12, 3, 4, 1, 0x7FFF}),
                                             Rec("RTBA", {4, 2, 4, 0, 0, 3, 4, 1, 0x7FFF})}));

    // Removed, the composite draws nothing.
    ASSERT_EQ(B3D_TexSetComposite(1, nullptr, 0), 1);
    EXPECT_EQ(B3D_TexRectFill(-1, 0, 0, 4, 4, kWhite), 0);
    EXPECT_EQ(B3D_TexGetWidth(-1), 0);
}

TEST_F(TexDraw, AScaledTextureAnswersLogicalSizesAndDrawsAtTheScale) {
    state->fontScale = 2;
    EBM* big = Give(5, 32, 16, TC_LARGE);
    EBM* plain = Give(6, 32, 16);
    EXPECT_EQ(B3D_TexGetWidth(5), 16);
    EXPECT_EQ(B3D_TexGetHeight(5), 8);
    EXPECT_EQ(B3D_TexGetWidth(6), 32);

    EXPECT_EQ(B3D_TexLine(5, 0, 0, 10, 0, kWhite), 1);
    EXPECT_EQ(Picture(big)[0], std::string(21, '#') + std::string(11, '.'));
    EXPECT_EQ(B3D_TexLine(6, 0, 0, 10, 0, kWhite), 1);
    EXPECT_EQ(Picture(plain)[0], std::string(11, '#') + std::string(21, '.'));

    EXPECT_EQ(B3D_TexRectFill(5, 1, 2, 2, 1, kWhite), 1);
    for (int y = 1; y < 16; ++y)
        for (int x = 0; x < 32; ++x) ASSERT_EQ(Set(big, x, y), x >= 2 && x < 6 && y >= 4 && y < 6) << x << "," << y;
    // Recorded as the caller gave them.
    EXPECT_EQ(Written()[0], Rec("RTLI", {5, 0, 0, 10, 0, 0x7FFF}));
    EXPECT_EQ(Written()[2], Rec("RTRF", {5, 1, 2, 2, 1, 0x7FFF}));

    // A blit from a scaled source into a scaled destination copies k x k as much.
    EBM* tile = Give(7, 4, 4, TC_LARGE);
    FillRaw(tile, 0xFF00FF00);
    FillRaw(big, 0);
    EXPECT_EQ(B3D_TexCookie(7, 5, 0, 0, 3, 1, 2, 2, 0, 1), 1);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 32; ++x) ASSERT_EQ(Set(big, x, y), x >= 6 && x < 10 && y >= 2 && y < 6) << x << "," << y;
    // A filled circle keeps its radius in logical pixels.
    FillRaw(big, 0);
    EXPECT_EQ(B3D_TexCircleFill(5, 8, 4, 2, kWhite, 0x10000), 1);
    EXPECT_TRUE(Set(big, 16 + 4, 8));
    EXPECT_FALSE(Set(big, 16 + 5, 8));
    EXPECT_TRUE(Set(big, 16, 8 - 4));
}

TEST_F(TexDraw, ClippedBlitsAreCutToTheDestinationAndOneWhollyOutsideIsDroppedUnrecorded) {
    EBM* dst = Give(1, 8, 4);
    EBM* src = Give(2, 8, 4);
    for (int x = 0; x < 8; ++x)
        for (int y = 0; y < 4; ++y) SetRaw(src, x, y, 0xFF000000u | static_cast<uint32_t>(x + 1));

    struct Case {
        const char* name;
        int sx, sy, dx, dy, w, h;
        int answer;
        std::vector<Chunk> records;
    };
    const Case cases[] = {
        {"wholly right", 0, 0, 8, 0, 4, 4, 0, {}},
        {"wholly below", 0, 0, 0, 4, 4, 4, 0, {}},
        {"wholly left", 0, 0, -4, 0, 4, 4, 0, {}},
        {"cut on the left", 0, 0, -2, 1, 4, 1, 1, {Rec("RTBA", {2, 1, 2, 0, 0, 1, 2, 1, 0x7FFF})}},
        {"cut on the right and below", 1, 2, 6, 3, 4, 4, 1, {Rec("RTBA", {2, 1, 1, 2, 6, 3, 2, 1, 0x7FFF})}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FillRaw(dst, 0);
        Written().clear();
        EXPECT_EQ(B3D_TexBlit(2, 1, c.sx, c.sy, c.dx, c.dy, c.w, c.h, -1, 1), c.answer);
        EXPECT_EQ(Written(), c.records);
        if (!c.answer) {
            EXPECT_EQ(Picture(dst), std::vector<std::string>(4, "........"));
        }
    }
    // The cut source lands where it belongs.
    FillRaw(dst, 0);
    EXPECT_EQ(B3D_TexCookie(2, 1, 1, 2, 6, 3, 4, 4, -1, 1), 1);
    EXPECT_EQ(PixelAt(dst, 6, 3) & 0xFF, 2u);
    EXPECT_EQ(PixelAt(dst, 7, 3) & 0xFF, 3u);
    FillRaw(dst, 0);
    EXPECT_EQ(B3D_TexCookie(2, 1, 0, 0, -2, 1, 4, 1, -1, 1), 1);
    EXPECT_EQ(PixelAt(dst, 0, 1) & 0xFF, 3u);
    EXPECT_EQ(PixelAt(dst, 1, 1) & 0xFF, 4u);

    // Without the clip argument the record keeps the rectangle as given and
    // the blit itself cuts it.
    Written().clear();
    FillRaw(dst, 0);
    EXPECT_EQ(B3D_TexCookie(2, 1, 0, 0, 6, 0, 4, 1, -1, 0), 1);
    EXPECT_EQ(Written(), (std::vector<Chunk>{Rec("RTBB", {2, 1, 0, 0, 6, 0, 4, 1})}));
    EXPECT_EQ(Picture(dst)[0], "......##");
}

TEST_F(TexDraw, EveryOperationHandsItsRecordToTheRecorder) {
    Give(1, 32, 32);
    Give(2, 8, 8);
    ASSERT_GE(B3D_OpenFontNumbered("grid", 8, 8, 1, 0), 0);
    const int font = B3D_OpenFontNumbered("grid", 8, 8, 1, 0);
    // 0xF8F8F8 keeps every top bit: 31, 31, 31; 0x0800FF: 1, 0, 31.
    struct Case {
        const char* name;
        std::function<int32_t()> draw;
        Chunk record;
    };
    const Case cases[] = {
        {"fill", [] { return B3D_TexRectFill(1, 1, 2, 3, 4, 0x0800FF); }, Rec("RTRF", {1, 1, 2, 3, 4, 0x041F})},
        {"line", [] { return B3D_TexLine(1, 5, 6, 7, 8, 0xF8F8F8); }, Rec("RTLI", {1, 5, 6, 7, 8, 0x7FFF})},
        {"pixel", [] { return B3D_TexSetPix(1, 3, 4, 0x0800FF); }, Rec("RTSP", {1, 3, 4, 0x041F})},
        {"filled circle", [] { return B3D_TexCircleFill(1, 9, 10, 5, 0x0800FF, 0x10003); },
         Rec("RTCF", {1, 9, 10, 5, 0x4000, 0x041F})},
        {"circle", [] { return B3D_TexCircle(1, 9, 10, 5, 0x0800FF, -7); }, Rec("RTCI", {1, 9, 10, 5, -1, 0x041F})},
        {"alpha blit", [] { return B3D_TexBlit(2, 1, 1, 2, 3, 4, 5, 6, 0x0800FF, 0); },
         Rec("RTBA", {2, 1, 1, 2, 3, 4, 5, 6, 0x041F})},
        {"keyed blit", [] { return B3D_TexCookie(2, 1, 1, 2, 3, 4, 5, 6, 0x0800FF, 0); },
         Rec("RTBM", {2, 1, 1, 2, 3, 4, 5, 6, 0x00FF})},
        {"block blit", [] { return B3D_TexCookie(2, 1, 1, 2, 3, 4, 5, 6, -1, 0); },
         Rec("RTBB", {2, 1, 1, 2, 3, 4, 5, 6})},
        {"stretch", [] { return B3D_TexRectStretch(2, 1, 0, 0, 8, 8, 1, 2, 16, 16, 0); },
         Rec("RTRS", {2, 1, 0, 0, 8, 8, 1, 2, 16, 16})},
        {"text", [font] { return B3D_TexText(1, "! !", font, 2, 3, 20, 0xF8F8F8, 0); },
         Rec("RTTX", {1, font, 2, 3, 20, 0x7FFF, 0, 3}, "! !")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Written().clear();
        EXPECT_GT(c.draw(), 0);
        EXPECT_EQ(Written(), std::vector<Chunk>{c.record});
    }
    // No recording, or no recorder: nothing is written, the drawing is made.
    Written().clear();
    B3D_ClearEngineFlags(B3D_ENGINE_RECORDING);
    for (const Case& c : cases) EXPECT_GT(c.draw(), 0) << c.name;
    B3D_SetEngineFlags(B3D_ENGINE_RECORDING);
    B3D_TexSetRecordWriter(nullptr, nullptr);
    for (const Case& c : cases) EXPECT_GT(c.draw(), 0) << c.name;
    EXPECT_TRUE(Written().empty());
    B3D_TexSetRecordWriter(&TexRecordCapture, this);

    // A texture without bitmap, or a missing font, draws and records nothing.
    LogCapture log;
    EXPECT_EQ(B3D_TexRectFill(3, 0, 0, 4, 4, kWhite), 0);
    EXPECT_EQ(B3D_TexBlit(2, 3, 0, 0, 0, 0, 4, 4, -1, 1), 0);
    EXPECT_EQ(B3D_TexText(1, "!", 9, 0, 0, 10, kWhite, 0), 0);
    EXPECT_EQ(B3D_TexGetWidth(3), 0);
    EXPECT_TRUE(Written().empty());
    // Stretching a composite is refused with its line.
    EXPECT_EQ(B3D_TexRectStretch(-2, 1, 0, 0, 8, 8, 0, 0, 8, 8, 0), 0);
    EXPECT_TRUE(log.Contains("B3D_TexRectStretch(-2, 1) not supported\n")) << log.Text();
    EXPECT_TRUE(Written().empty());
}

TEST_F(TexDraw, FontSlotsTextArraysAndBlockHeights) {
    const int font = B3D_OpenFontNumbered("grid", 8, 8, 1, 0);
    ASSERT_GE(font, 0);
    ASSERT_NE(g_QelFonts[font], nullptr);
    EXPECT_STREQ(g_QelFonts[font]->name, "grid8");
    EXPECT_EQ(g_QelFonts[font]->fontHeight, 8);
    EXPECT_EQ(B3D_OpenFontNumbered("grid", 8, 8, 1, 0), font);  // the same slot again
    EXPECT_EQ(B3D_OpenFontNumbered("nofont", 3, 8, 1, 0), -1);
    EXPECT_EQ(B3D_OpenFontNumbered(nullptr, 3, 8, 1, 0), -1);

    // Each glyph advances 9 pixels: "!!" is 18 wide, so 20 holds one word.
    ScriptValue v{};
    B3D_TexGetTextArray(&v, font, "!! !! !!", 20, 0);
    ASSERT_EQ(v.tag, VARTYPE_ARRAY);
    ASSERT_EQ(SV_ArraySize(&v), 3);
    for (int i = 0; i < 3; ++i) EXPECT_STREQ(SV_GetString(SV_ArrayRead(&v, i)), "!!") << i;
    B3D_TexGetTextArray(&v, font, "!! !!", 100, 0);
    ASSERT_EQ(SV_ArraySize(&v), 1);
    EXPECT_STREQ(SV_GetString(SV_ArrayRead(&v, 0)), "!! !!");
    // No lines, or no font: INTEGER 0.
    B3D_TexGetTextArray(&v, font, "", 20, 0);
    EXPECT_EQ(v.tag, VARTYPE_INTEGER);
    EXPECT_EQ(v.i, 0);
    B3D_TexGetTextArray(&v, 7, "!!", 20, 0);
    EXPECT_EQ(v.tag, VARTYPE_INTEGER);
    SV_Release(&v);

    EXPECT_EQ(B3D_TexTextBlockHeight(font, "!! !! !!", 20, 0), 24);
    EXPECT_EQ(B3D_TexTextBlockHeight(font, "!! !! !!", 100, 0), 8);
    EXPECT_EQ(B3D_TexTextBlockHeight(9, "!!", 100, 0), 0);
    // A width of 0 or less counts from the texture's right edge: "!! !!" is
    // 45 wide and fits into 48, not into 48 - 10.
    Give(1, 48, 8);
    EXPECT_EQ(B3D_TexTextBlockHeight(font, "!! !! !!", -10, 1), 24);
    EXPECT_EQ(B3D_TexTextBlockHeight(font, "!! !! !!", 0, 1), 16);

    // At a texture scale of 2 the widths are doubled for the font and the
    // heights halved.
    state->fontScale = 2;
    EXPECT_EQ(B3D_TexTextBlockHeight(font, "!! !! !!", 10, 0), 12);
}

// A text of more than a hundred lines keeps every line: in the text array,
// in the block height and in the lines a box draws.
TEST_F(TexDraw, LongTextsKeepEveryLine) {
    const int font = B3D_OpenFontNumbered("grid", 8, 8, 1, 0);
    ASSERT_GE(font, 0);
    std::string text;
    for (int i = 0; i < 150; ++i) text += i == 149 ? "!!!" : "!\n";
    ScriptValue v{};
    B3D_TexGetTextArray(&v, font, text.c_str(), 100, 0);
    ASSERT_EQ(v.tag, VARTYPE_ARRAY);
    ASSERT_EQ(SV_ArraySize(&v), 150);
    EXPECT_STREQ(SV_GetString(SV_ArrayRead(&v, 149)), "!!!");
    SV_Release(&v);
    EXPECT_EQ(B3D_TexTextBlockHeight(font, text.c_str(), 100, 0), 150 * 8);
    Give(1, 48, 150 * 8);
    EXPECT_EQ(B3D_TexTextBox(1, text.c_str(), font, 0, 0, 40, 0, kWhite, 0), 150);
    EXPECT_EQ(B3D_TexTextBlockCentered(1, text.c_str(), font, 0, 0, 40, kWhite, 0), 150);
}

TEST_F(TexDraw, TextLinesBoxesAndCentredBlocks) {
    const int font = B3D_OpenFontNumbered("grid", 8, 8, 1, 0);
    ASSERT_GE(font, 0);
    EBM* b = Give(1, 48, 32);

    // One line, cut at x + width: the second glyph would end at 2 + 16.
    EXPECT_EQ(B3D_TexText(1, "!!", font, 2, 3, 15, kWhite, 0), 8);
    EXPECT_EQ(Picture(b)[3], Row(48, {{2, 9}}));
    EXPECT_FALSE(Set(b, 2, 2));
    EXPECT_TRUE(Set(b, 2, 10));
    EXPECT_FALSE(Set(b, 2, 11));
    EXPECT_EQ(PixelAt(b, 2, 3) & 0xFFFFFF, kWhite);

    // A box of two lines' height keeps two of the three lines.
    FillRaw(b, 0);
    Written().clear();
    EXPECT_EQ(B3D_TexTextBox(1, "!! !! !!", font, 1, 0, 20, 16, kWhite, 0), 2);
    EXPECT_TRUE(Set(b, 1, 0));
    EXPECT_TRUE(Set(b, 1, 8));
    EXPECT_FALSE(Set(b, 1, 16));
    EXPECT_EQ(Written(), (std::vector<Chunk>{Rec("RTTX", {1, font, 1, 0, 20, 0x7FFF, 0, 2}, "!!"),
                                             Rec("RTTX", {1, font, 1, 8, 20, 0x7FFF, 0, 2}, "!!")}));
    FillRaw(b, 0);
    EXPECT_EQ(B3D_TexTextBox(1, "!! !! !!", font, 1, 0, 20, 0, kWhite, 0), 3);
    EXPECT_TRUE(Set(b, 1, 16));

    // Centred in 40: "!!" (18 wide) at 11, "!!!" (27) at 6, one line lower.
    FillRaw(b, 0);
    EXPECT_EQ(B3D_TexTextBlockCentered(1, "!! !!!", font, 0, 0, 40, kWhite, 0), 2);
    EXPECT_EQ(Picture(b)[0], Row(48, {{11, 18}, {20, 27}}));
    EXPECT_EQ(Picture(b)[8], Row(48, {{6, 13}, {15, 22}, {24, 31}}));
    EXPECT_EQ(B3D_TexTextBlockCentered(1, "!!", 9, 0, 0, 40, kWhite, 0), 0);
    EXPECT_EQ(B3D_TexTextBlockCentered(3, "!!", font, 0, 0, 40, kWhite, 0), 0);

    // A composite answers the largest height of its pieces and draws the text
    // moved into each piece it reaches.
    EBM* other = Give(2, 16, 8);
    const B3DTexPiece pieces[] = {{1, 0, 0, 0, 24, 16, 8}, {2, 16, 0, 0, 0, 16, 8}};
    ASSERT_EQ(B3D_TexSetComposite(2, pieces, 2), 1);
    FillRaw(b, 0);
    EXPECT_EQ(B3D_TexText(-2, "!!!", font, 4, 0, 0, kWhite, 0), 8);
    EXPECT_TRUE(Set(b, 4, 24));
    // "!!!" at composite x 4 puts its glyphs at 4, 13 and 22: in the second
    // piece at -12, -3 and 6.
    EXPECT_EQ(Picture(other)[0], "####..#######...");
}

TEST_F(TexDraw, TilesCoverTheAreaWithTheLastColumnAndRowCut) {
    EBM* tile = Give(2, 4, 3);
    FillRaw(tile, 0xFF00FF00);
    EBM* b = Give(1, 16, 12);
    Written().clear();
    EXPECT_EQ(B3D_TexBltTiles(2, 1, 0, 0, 4, 3, 1, 1, 10, 7), 1);
    std::vector<Chunk> expect;
    for (int y : {1, 4, 7})
        for (int x : {1, 5, 9}) expect.push_back(Rec("RTBM", {2, 1, 0, 0, x, y, x == 9 ? 2 : 4, y == 7 ? 1 : 3, 0}));
    EXPECT_EQ(Written(), expect);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 16; ++x) ASSERT_EQ(Set(b, x, y), x >= 1 && x < 11 && y >= 1 && y < 8) << x << "," << y;

    // The alpha form, over an area reaching out of the texture on every side:
    // only the copies that touch it are made, cut to it.
    FillRaw(b, 0);
    Written().clear();
    EXPECT_EQ(B3D_TexBltTilesAlpha(2, 1, 0, 0, 4, 3, -6, -4, 100000, 100000, -1), 1);
    EXPECT_EQ(Written().size(), 25u);  // columns at -2, 2, 6, 10, 14 and rows at -1, 2, 5, 8, 11
    EXPECT_EQ(Written().front(), Rec("RTBA", {2, 1, 2, 1, 0, 0, 2, 2, 0x7FFF}));
    EXPECT_EQ(Picture(b), std::vector<std::string>(12, std::string(16, '#')));
    // Tiles without size draw nothing.
    EXPECT_EQ(B3D_TexBltTiles(2, 1, 0, 0, 0, 3, 0, 0, 10, 10), 0);
}

TEST_F(TexDraw, RecordedDrawingsReplayIntoTheSamePicture) {
    const int font = B3D_OpenFontNumbered("grid", 8, 8, 1, 0);
    ASSERT_GE(font, 0);
    EBM* b = Give(1, 48, 32);
    EBM* tile = Give(2, 4, 4);
    FillRaw(tile, 0xFF80F808);
    // Colours whose channels keep no low bits come back whole from 5-5-5.
    B3D_TexRectFill(1, 2, 2, 10, 6, 0x800008);
    B3D_TexLine(1, 0, 31, 47, 20, 0x00F800);
    B3D_TexSetPix(1, 40, 3, 0xF8F8F8);
    B3D_TexCircleFill(1, 30, 10, 6, 0x080808, 0x20000);
    B3D_TexCircle(1, 30, 10, 8, 0x100000, 0);
    B3D_TexCookie(2, 1, 0, 0, 44, 28, 4, 4, 0x10, 1);
    B3D_TexCookie(2, 1, 1, 1, -1, 26, 3, 3, -1, 1);
    B3D_TexText(1, "! !", font, 14, 20, 0, 0xF80000, 0);
    const std::vector<std::string> drawn = Picture(b);
    std::vector<uint32_t> pixels;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 48; ++x) pixels.push_back(PixelAt(b, x, y));
    ASSERT_EQ(Written().size(), 8u);
    int set = 0;
    for (const std::string& row : drawn) set += static_cast<int>(std::count(row.begin(), row.end(), '#'));
    EXPECT_GT(set, 150);

    const std::vector<Chunk> records = Written();
    FillRaw(b, 0);
    B3D_ClearEngineFlags(B3D_ENGINE_RECORDING);
    for (const Chunk& r : records) {
        const char* tag = reinterpret_cast<const char*>(r.data());
        const int32_t n = B3D_TexRecordFieldCount(tag);
        ASSERT_GE(n, 0) << std::string(tag, 4);
        std::vector<int16_t> fields;
        for (int32_t i = 0; i < n; ++i) fields.push_back(static_cast<int16_t>(r[4 + 2 * i] << 8 | r[5 + 2 * i]));
        const auto text = reinterpret_cast<const char*>(r.data()) + 4 + 2 * n;
        EXPECT_EQ(B3D_TexReplayRecord(tag, fields.data(), text, static_cast<int32_t>(r.size()) - 4 - 2 * n), 1);
    }
    EXPECT_EQ(Picture(b), drawn);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 48; ++x) ASSERT_EQ(PixelAt(b, x, y), pixels[y * 48 + x]) << x << "," << y;
    EXPECT_EQ(B3D_TexRecordFieldCount("RSCE"), -1);
    EXPECT_EQ(B3D_TexReplayRecord("RSCE", nullptr, nullptr, 0), 0);
}
