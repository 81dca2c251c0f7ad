// The 2D primitives: clipping at every edge, lines, circles, fills, the lock
// state they leave, and their refusals.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/draw2d.h"
#include "base/ebm.h"
#include "support/surfacesupport.h"

namespace {

struct BitmapDeleter {
    void operator()(EBM* b) const { FreeILBM(b); }
};
using Bitmap = std::unique_ptr<EBM, BitmapDeleter>;
Bitmap Make(Layout l, int w, int h, uint32_t flags = 0) { return Bitmap(MakeBitmap(l, w, h, flags)); }

// The bitmap as rows of '#' (non-zero) and '.'.
std::vector<std::string> Picture(EBM* b) {
    std::vector<std::string> rows;
    for (int y = 0; y < b->height; ++y) {
        std::string row;
        for (int x = 0; x < b->width; ++x) row += PixelAt(b, x, y) ? '#' : '.';
        rows.push_back(row);
    }
    return rows;
}

}  // namespace

TEST(Draw2D, BlockBlitsAreClippedAtEveryEdgeOfBothBitmaps) {
    struct Case {
        const char* name;
        int sx, sy, w, h, dx, dy;
        std::vector<std::string> expect;
    };
    // A 4 x 4 source of '#' onto a 6 x 4 destination.
    const std::vector<Case> cases = {
        {"left of the destination", 0, 0, 4, 2, -2, 1, {"......", "##....", "##....", "......"}},
        {"right of the destination", 0, 0, 4, 2, 4, 0, {"....##", "....##", "......", "......"}},
        {"above the destination", 0, 0, 2, 4, 1, -3, {".##...", "......", "......", "......"}},
        {"below the destination", 0, 0, 2, 4, 3, 3, {"......", "......", "......", "...##."}},
        {"left of the source", -3, 0, 4, 1, 0, 0, {"...#..", "......", "......", "......"}},
        {"right of the source", 2, 0, 4, 1, 0, 0, {"##....", "......", "......", "......"}},
        {"above the source", 0, -2, 1, 4, 0, 0, {"......", "......", "#.....", "#....."}},
        {"below the source", 0, 3, 1, 4, 5, 0, {".....#", "......", "......", "......"}},
        {"wholly outside", 0, 0, 4, 4, 6, 0, {"......", "......", "......", "......"}},
        {"empty", 0, 0, 0, 3, 0, 0, {"......", "......", "......", "......"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bitmap src = Make(Layout::Bits16, 4, 4), dst = Make(Layout::Bits16, 6, 4);
        FillRaw(src.get(), 0x1234);
        Qel_BltBlockManual(src.get(), c.sx, c.sy, c.w, c.h, dst.get(), c.dx, c.dy);
        EXPECT_EQ(Picture(dst.get()), c.expect);
        // The other block primitives cut the same way.
        Bitmap dst2 = Make(Layout::Bits16, 6, 4);
        Qel_Cookie(src.get(), c.sx, c.sy, c.w, c.h, dst2.get(), c.dx, c.dy, 0);
        EXPECT_EQ(Picture(dst2.get()), c.expect);
        Bitmap s32 = Make(Layout::Bits32, 4, 4), d32 = Make(Layout::Bits32, 6, 4);
        FillRaw(s32.get(), 0xFF102030);
        Qel_AlphaBlit(s32.get(), c.sx, c.sy, c.w, c.h, d32.get(), c.dx, c.dy);
        EXPECT_EQ(Picture(d32.get()), c.expect);
    }
}

TEST(Draw2D, LinesAreClippedToTheBitmap) {
    EBM four{};
    four.width = 4;
    four.height = 4;
    struct Case {
        int x0, y0, x1, y1;
        int result;
        int cx0, cy0, cx1, cy1;
    };
    const Case cases[] = {
        {-10, 5, 10, 5, 0, 0, 0, 0, 0},   // both below the last row
        {-10, 1, 10, 1, 1, 0, 1, 3, 1},   // through the bitmap
        {1, -5, 1, 10, 1, 1, 0, 1, 3},    // top to bottom
        {2, 2, 3, 3, 1, 2, 2, 3, 3},      // inside
        {-3, -3, -1, -1, 0, 0, 0, 0, 0},  // above and left
        {5, 0, 9, 3, 0, 0, 0, 0, 0},      // right of it
        {0, 0, 40000, 0, 0, 0, 0, 0, 0},  // longer than 32767
    };
    for (const Case& c : cases) {
        int32_t x0 = c.x0, y0 = c.y0, x1 = c.x1, y1 = c.y1;
        SCOPED_TRACE(testing::Message() << c.x0 << "," << c.y0 << " " << c.x1 << "," << c.y1);
        ASSERT_EQ(Qel_ClipLine(&four, &x0, &y0, &x1, &y1), c.result);
        if (c.result) {
            EXPECT_EQ((std::vector<int>{x0, y0, x1, y1}), (std::vector<int>{c.cx0, c.cy0, c.cx1, c.cy1}));
        }
    }
    // Drawn: only the clipped part, and a line beyond every edge draws nothing.
    Bitmap b = Make(Layout::Bits8, 4, 4);
    Qel_ClippedLine(b.get(), -10, 1, 10, 1, 7);
    Qel_ClippedLine(b.get(), -10, 5, 10, 5, 7);
    Qel_Line(3, -4, 3, 20, b.get(), 7);  // unclipped call, cut all the same
    EXPECT_EQ(Picture(b.get()), (std::vector<std::string>{"...#", "####", "...#", "...#"}));
}

TEST(Draw2D, CirclesAreDrawnWithClippingAtEveryEdge) {
    Bitmap b = Make(Layout::Bits8, 11, 11);
    Qel_ClipFilledCircle(5, 5, 3, 1, 0x10000, b.get());
    EXPECT_EQ(Picture(b.get()), (std::vector<std::string>{"...........", "...........", "....###....", "...#####...",
                                                          "..#######..", "..#######..", "..#######..", "...#####...",
                                                          "....###....", "...........", "..........."}));
    FillRaw(b.get(), 0);
    Qel_ClipCircle(5, 5, 3, 1, 0x10000, b.get());
    EXPECT_EQ(Picture(b.get()), (std::vector<std::string>{"...........", "...........", "....###....", "...#...#...",
                                                          "..#.....#..", "..#.....#..", "..#.....#..", "...#...#...",
                                                          "....###....", "...........", "..........."}));
    // An aspect of 2 halves the horizontal axis.
    FillRaw(b.get(), 0);
    Qel_ClipFilledCircle(5, 5, 4, 1, 0x20000, b.get());
    EXPECT_EQ(PixelAt(b.get(), 7, 5), 1u);
    EXPECT_EQ(PixelAt(b.get(), 8, 5), 0u);
    EXPECT_EQ(PixelAt(b.get(), 5, 1), 1u);

    // Centred on each corner and past each edge: only the inside is drawn.
    for (int corner = 0; corner < 4; ++corner) {
        SCOPED_TRACE(corner);
        Bitmap c = Make(Layout::Bits16, 10, 10);
        int cx = corner & 1 ? 9 : 0, cy = corner & 2 ? 9 : 0;
        Qel_ClipFilledCircle(cx, cy, 5, 0x7, 0x10000, c.get());
        Qel_ClipCircle(cx, cy, 7, 0x7, 0x10000, c.get());
        EXPECT_EQ(PixelAt(c.get(), cx, cy), 7u);
        EXPECT_EQ(PixelAt(c.get(), 9 - cx, 9 - cy), 0u);
    }
    // Wholly outside on each side: nothing, not even a pixel on the edge.
    Bitmap d = Make(Layout::Bits32, 10, 10);
    Qel_ClipFilledCircle(-20, 5, 5, 0x7, 0x10000, d.get());
    Qel_ClipFilledCircle(30, 5, 5, 0x7, 0x10000, d.get());
    Qel_ClipFilledCircle(5, -20, 5, 0x7, 0x10000, d.get());
    Qel_ClipFilledCircle(5, 30, 5, 0x7, 0x10000, d.get());
    Qel_ClipFilledCircle(5, 5, 5, 0x7, 0, d.get());  // aspect 0 is refused
    for (const std::string& row : Picture(d.get())) EXPECT_EQ(row, "..........");

    // A circle of radius 5 at (5, 5) on a 10 x 10 bitmap reaches the last column
    // and row only by clipping, and stays inside.
    Qel_ClipFilledCircle(5, 5, 5, 0x7, 0x10000, d.get());
    EXPECT_EQ(PixelAt(d.get(), 9, 5), 0xFF000007u);
    EXPECT_EQ(PixelAt(d.get(), 5, 0), 0xFF000007u);
}

TEST(Draw2D, PixelsOutsideTheBitmapAreIgnored) {
    Bitmap b = Make(Layout::Bits8, 4, 4);
    for (int x : {-1, 4, 100})
        for (int y : {-1, 0, 4}) {
            Qel_SetPixel(x, y, b.get(), 9);
            Qel_SetPixelClipped(x, y, b.get(), 9);
        }
    Qel_SetPixelClipped(0, 3, b.get(), 9);
    EXPECT_EQ(Picture(b.get()), (std::vector<std::string>{"....", "....", "....", "#..."}));
}

TEST(Draw2D, RectFillsAreRangeChecked) {
    Bitmap b = Make(Layout::Bits16, 8, 6);
    Qel_RectFill(2, 1, 3, 2, 0x4321, b.get());
    EXPECT_EQ(PixelAt(b.get(), 2, 1), 0x4321u);
    EXPECT_EQ(PixelAt(b.get(), 4, 2), 0x4321u);
    EXPECT_EQ(PixelAt(b.get(), 5, 2), 0u);
    EXPECT_EQ(PixelAt(b.get(), 2, 3), 0u);
    EXPECT_EQ(LogOf([&] { Qel_RectFill(2, 1, 0, 2, 1, b.get()); }),
              Framed("Qel_RectFill(2, 1, 0, 2) invalid rectangle size!\n"));
    EXPECT_EQ(LogOf([&] { Qel_RectFill(-1, 0, 2, 2, 1, b.get()); }),
              Framed("Qel_RectFill(-1, 0, 2, 2) filling outside size (8, 6)\n"));
    EXPECT_EQ(LogOf([&] { Qel_RectFill(0, 5, 2, 2, 1, b.get()); }),
              Framed("Qel_RectFill(0, 5, 2, 2) filling outside size (8, 6)\n"));
    Bitmap c = Make(Layout::Bits32, 4, 2);
    Qel_RectFill(0, 0, 4, 2, 0x11223344, c.get());
    EXPECT_EQ(PixelAt(c.get(), 3, 1), 0x11223344u);
}

TEST(Draw2D, PrimitivesLeaveTheLockStateAsTheyFoundIt) {
    // A memory bitmap keeps its pixels after every primitive.
    Bitmap b = Make(Layout::Bits32, 8, 8), s = Make(Layout::Bits32, 8, 8);
    uint8_t* pixels = b->plane0;
    Qel_SetPixel(1, 1, b.get(), 1);
    Qel_Line(0, 0, 7, 7, b.get(), 1);
    Qel_ClipCircle(4, 4, 2, 1, 0x10000, b.get());
    Qel_ClipFilledCircle(4, 4, 2, 1, 0x10000, b.get());
    Qel_BltBlock(s.get(), 0, 0, 8, 8, b.get(), 0, 0);
    Qel_AlphaBlit(s.get(), 0, 0, 8, 8, b.get(), 0, 0);
    Qel_Cookie(s.get(), 0, 0, 8, 8, b.get(), 0, 0, 0);
    Qel_RectFill(0, 0, 2, 2, 1, b.get());
    EXPECT_EQ(b->plane0, pixels);
    EXPECT_EQ(b->flags & EBM_LOCKED, 0u);

    // A bitmap with neither pixels nor a surface draws nothing and says why.
    Bitmap none(GenerateEbm(4, 4, 32, EBM_CHUNKY | EBM_NOSTORAGE | EBM_NOSHADOW));
    ASSERT_TRUE(none);
    EXPECT_EQ(LogOf([&] { Qel_SetPixel(0, 0, none.get(), 1); }), Framed("ERROR: Qel_SetPixel() S_Locking surfaces \n"));
    EXPECT_EQ(LogOf([&] { Qel_Line(0, 0, 1, 1, none.get(), 1); }), Framed("ERROR: Qel_Line() S_Locking surfaces \n"));
    EXPECT_EQ(LogOf([&] { Qel_BltBlockManual(s.get(), 0, 0, 1, 1, none.get(), 0, 0); }),
              Framed("ERROR: Qel_BltBlockManual() S_Locking surfaces \n"));
    EXPECT_EQ(LogOf([&] { Qel_ClipFilledCircle(1, 1, 1, 1, 0x10000, none.get()); }),
              Framed("ERROR: Qel_ClipFilledCircle() S_Locking surfaces \n"));
}

TEST(Draw2D, UnsupportedLayoutsLogAndDrawNothing) {
    Bitmap p = Make(Layout::Planar4, 16, 4), b8 = Make(Layout::Bits8, 4, 4), b16 = Make(Layout::Bits16, 4, 4);
    EXPECT_EQ(LogOf([&] { Qel_Cookie(b8.get(), 0, 0, 4, 4, b16.get(), 0, 0, 0); }),
              Framed("Qel_Cookie unknown\n") + Framed("Unsupported graphic primitive called:\n"));
    EXPECT_EQ(LogOf([&] { Qel_Cookie(p.get(), 0, 0, 4, 4, p.get(), 4, 0, 0); }),
              Framed("Unsupported graphic primitive called:\n"));
    EXPECT_EQ(LogOf([&] { Qel_CopyRGBToEbm(p.get(), nullptr); }), Framed("Unsupported graphic primitive called:\n"));
    EXPECT_EQ(Qel_FixMulRound(0x18000, 0x18000), 0x24000);
    EXPECT_EQ(Qel_FixMulRound(1, 0x8000), 1);
}
