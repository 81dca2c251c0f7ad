// Dirty rectangles and displays: set operations on a bitmap's rectangles,
// redraws onto a screen bitmap, and the screen update of a display tree.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/display.h"
#include "base/ebm.h"
#include "base/general.h"
#include "base/memory.h"
#include "support/gamefolder.h"
#include "support/surfacesupport.h"
#include "system/video.h"

namespace {

struct BitmapDeleter {
    void operator()(EBM* b) const { FreeILBM(b); }
};
using Bitmap = std::unique_ptr<EBM, BitmapDeleter>;

// A SystemState of the test's own with an application descriptor whose
// rectangle capacity and flags the test chooses; a VideoRecord of its own too.
class DisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        app_ = *TestAppDescriptor();
        app_.rectTableCapacity = 100;
        app_.flags = 0;
        state_ = Int_AllocRecord<SystemState>(0);
        state_->app = &app_;
        g_SystemState = state_;
        std::memset(&video_, 0, sizeof video_);
        savedVideo_ = g_VideoRecord;
        g_VideoRecord = &video_;
    }
    void TearDown() override {
        g_VideoRecord = savedVideo_;
        g_SystemState = nullptr;
        Int_FreeRecord(state_, 0);
    }
    // A 32-bit memory bitmap with a rectangle table.
    Bitmap Dirty(int w, int h) { return Bitmap(MakeBitmap(Layout::Bits32, w, h, EBM_RECTTAB)); }
    static std::vector<QelRect> Rects(const EBM* b) {
        auto* t = static_cast<const QelRect*>(b->rectTable);
        return std::vector<QelRect>(t, t + (b->rectCount < 1000 ? b->rectCount : 0));
    }
    static void SetRects(EBM* b, std::vector<QelRect> rects) {
        std::memcpy(b->rectTable, rects.data(), rects.size() * sizeof(QelRect));
        b->rectCount = static_cast<uint16_t>(rects.size());
    }
    // The set as a grid of cover counts ('.' none, '#' once, '2' twice ...).
    static std::vector<std::string> Cover(const EBM* b) {
        std::vector<std::string> g(static_cast<size_t>(b->height), std::string(static_cast<size_t>(b->width), '.'));
        for (const QelRect& r : Rects(b))
            for (int y = r.y; y < r.y + r.h; ++y)
                for (int x = r.x; x < r.x + r.w; ++x) {
                    char& c = g[static_cast<size_t>(y)][static_cast<size_t>(x)];
                    c = c == '.' ? '#' : static_cast<char>(c == '#' ? '2' : c + 1);
                }
        return g;
    }
    // The grid of a rectangle list drawn by hand.
    static std::vector<std::string> Grid(int w, int h, std::vector<QelRect> rects) {
        std::vector<std::string> g(static_cast<size_t>(h), std::string(static_cast<size_t>(w), '.'));
        for (const QelRect& r : rects)
            for (int y = r.y; y < r.y + r.h; ++y)
                for (int x = r.x; x < r.x + r.w; ++x) g[static_cast<size_t>(y)][static_cast<size_t>(x)] = '#';
        return g;
    }
    static std::vector<std::string> Minus(std::vector<std::string> g, QelRect r) {
        for (int y = r.y; y < r.y + r.h; ++y)
            for (int x = r.x; x < r.x + r.w; ++x)
                if (y >= 0 && x >= 0 && y < static_cast<int>(g.size()) && x < static_cast<int>(g[0].size()))
                    g[static_cast<size_t>(y)][static_cast<size_t>(x)] = '.';
        return g;
    }

    AppDescriptor app_{};
    SystemState* state_ = nullptr;
    VideoRecord video_{};
    VideoRecord* savedVideo_ = nullptr;
};

// The screen as rows of '#' where its pixel is v, '.' where 0, '?' otherwise.
std::vector<std::string> Shows(EBM* screen, uint32_t v) {
    std::vector<std::string> rows;
    for (int y = 0; y < screen->height; ++y) {
        std::string row;
        for (int x = 0; x < screen->width; ++x) {
            uint32_t p = PixelAt(screen, x, y);
            row += p == v ? '#' : p == 0 ? '.' : '?';
        }
        rows.push_back(row);
    }
    return rows;
}

}  // namespace

TEST_F(DisplayTest, SubtractingLeavesDisjointRectanglesOfTheRest) {
    Bitmap b = Dirty(20, 20);
    SetRects(b.get(), {{0, 0, 10, 10}});
    Qel_SubtractDirtyRect(b.get(), 5, 5, 10, 10, 0);
    EXPECT_EQ(Cover(b.get()), Minus(Grid(20, 20, {{0, 0, 10, 10}}), {5, 5, 10, 10}));

    // The whole window less a rectangle: four pieces around it.
    Bitmap w = Dirty(100, 100);
    w->rectCount = QEL_RECTS_WHOLE;
    Qel_SubtractDirtyRect(w.get(), 10, 10, 20, 20, 0);
    EXPECT_EQ(w->rectCount, 4);
    EXPECT_EQ(Cover(w.get()), Minus(Grid(100, 100, {{0, 0, 100, 100}}), {10, 10, 20, 20}));

    // Pieces of several rectangles, a rectangle reaching outside, an empty set.
    SetRects(b.get(), {{0, 0, 4, 4}, {6, 0, 4, 4}, {0, 10, 20, 5}});
    Qel_SubtractDirtyRect(b.get(), 2, -5, 6, 17, 0);
    EXPECT_EQ(Cover(b.get()), Minus(Grid(20, 20, {{0, 0, 4, 4}, {6, 0, 4, 4}, {0, 10, 20, 5}}), {2, -5, 6, 17}));
    b->rectCount = 0;
    Qel_SubtractDirtyRect(b.get(), 0, 0, 5, 5, 0);
    EXPECT_EQ(b->rectCount, 0);
}

TEST_F(DisplayTest, InvertSubtractInvertAddsAnArea) {
    Bitmap b = Dirty(16, 8);
    SetRects(b.get(), {{1, 1, 3, 3}});
    Qel_InvertDirtyRects(b.get());
    EXPECT_EQ(Cover(b.get()), Minus(Grid(16, 8, {{0, 0, 16, 8}}), {1, 1, 3, 3}));
    Qel_SubtractDirtyRect(b.get(), 8, 2, 4, 4, 0);
    Qel_InvertDirtyRects(b.get());
    EXPECT_EQ(Cover(b.get()), Grid(16, 8, {{1, 1, 3, 3}, {8, 2, 4, 4}}));
    // The whole window stays whole.
    b->rectCount = QEL_RECTS_WHOLE;
    Qel_InvertDirtyRects(b.get());
    EXPECT_EQ(b->rectCount, QEL_RECTS_WHOLE);
}

TEST_F(DisplayTest, SortingOrdersByRowThenColumnAndOptimisingMerges) {
    Bitmap b = Dirty(40, 40);
    SetRects(b.get(), {{20, 5, 2, 2}, {3, 9, 1, 1}, {0, 5, 2, 2}, {10, 0, 5, 5}});
    Qel_SortDirtyRects(b.get());
    std::vector<int> order;
    for (const QelRect& r : Rects(b.get())) order.push_back(r.x * 100 + r.y);
    EXPECT_EQ(order, (std::vector<int>{1000, 5, 2005, 309}));

    // Merging needs the descriptor's optimise flag.
    SetRects(b.get(), {{0, 0, 4, 2}, {4, 0, 3, 2}, {0, 2, 7, 3}, {20, 20, 2, 2}});
    Qel_OptimiseDirtyRects(b.get());
    EXPECT_EQ(b->rectCount, 4);
    app_.flags |= 0x4;
    Qel_OptimiseDirtyRects(b.get());
    ASSERT_EQ(b->rectCount, 2);
    EXPECT_EQ(Cover(b.get()), Grid(40, 40, {{0, 0, 7, 5}, {20, 20, 2, 2}}));
}

TEST_F(DisplayTest, AnOverflowingSetBecomesTheWholeWindow) {
    app_.rectTableCapacity = 4;
    Bitmap b = Dirty(40, 40);
    SetRects(b.get(), {{0, 0, 10, 10}, {20, 0, 10, 10}, {0, 20, 10, 10}});
    // Cutting a hole in the middle of one rectangle makes four pieces of it.
    EXPECT_EQ(LogOf([&] { Qel_SubtractDirtyRect(b.get(), 2, 2, 2, 2, 0); }),
              "Rectangle Array beim optimieren uebergelaufen\n");
    EXPECT_GE(b->rectCount, 4);  // the whole window: nothing dirty is dropped
    EXPECT_EQ(b->rectCount, QEL_RECTS_WHOLE);
}

TEST_F(DisplayTest, RedrawCopiesTheRectanglesClippedOnBothSides) {
    Bitmap screen = Dirty(12, 6);
    Bitmap b = Dirty(8, 4);
    FillRaw(b.get(), 0xAA);
    DisplayList* d = Qel_OpenDisplay(nullptr, b.get(), 0, 0, 10, DISPLAY_SHOWN);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(b->dirtyList, d);

    SetRects(b.get(), {{1, 1, 2, 2}, {6, 0, 2, 1}, {0, 0, 0, 0}});
    Qel_Redraw(b.get(), screen.get(), 2, 1);
    EXPECT_EQ(Shows(screen.get(), 0xAA), (std::vector<std::string>{"............", "........##..", "...##.......",
                                                                   "...##.......", "............", "............"}));
    EXPECT_EQ(b->rectCount, 0);

    // Placed partly off the screen: the source moves with the clipped target.
    FillRaw(screen.get(), 0);
    for (int x = 0; x < 8; ++x) SetRaw(b.get(), x, 0, 0x10 + static_cast<uint32_t>(x));
    SetRects(b.get(), {{0, 0, 8, 1}});
    Qel_Redraw(b.get(), screen.get(), -3, 5);
    EXPECT_EQ(PixelAt(screen.get(), 0, 5), 0x13u);
    EXPECT_EQ(PixelAt(screen.get(), 4, 5), 0x17u);
    EXPECT_EQ(PixelAt(screen.get(), 5, 5), 0u);
    SetRects(b.get(), {{0, 0, 8, 1}});
    Qel_Redraw(b.get(), screen.get(), 9, 0);
    EXPECT_EQ(PixelAt(screen.get(), 9, 0), 0x10u);
    EXPECT_EQ(PixelAt(screen.get(), 11, 0), 0x12u);

    // A full table redraws the whole visible window.
    FillRaw(screen.get(), 0);
    FillRaw(b.get(), 0xAA);
    b->rectCount = QEL_RECTS_WHOLE;
    Qel_Redraw(b.get(), screen.get(), 4, 2);
    EXPECT_EQ(Shows(screen.get(), 0xAA), (std::vector<std::string>{"............", "............", "....########",
                                                                   "....########", "....########", "....########"}));
}

TEST_F(DisplayTest, DoubleBufferedPagesReceiveEveryChange) {
    Bitmap pages[2] = {Dirty(8, 4), Dirty(8, 4)};
    Bitmap b = Dirty(8, 4);
    FillRaw(b.get(), 0x55);
    DisplayList* d = Qel_OpenDisplay(nullptr, b.get(), 0, 0, 10, DISPLAY_SHOWN | DISPLAY_DOUBLEBUFFERED);
    ASSERT_NE(d, nullptr);
    // The first frame reaches each page whole.
    Qel_Redraw(b.get(), pages[0].get(), 0, 0);
    Qel_Redraw(b.get(), pages[1].get(), 0, 0);
    EXPECT_EQ(PixelAt(pages[1].get(), 7, 3), 0x55u);

    // A change in one frame is drawn on this page and on the next one.
    FillRaw(b.get(), 0x66);
    SetRects(b.get(), {{1, 1, 2, 1}});
    Qel_Redraw(b.get(), pages[0].get(), 0, 0);
    EXPECT_EQ(PixelAt(pages[0].get(), 1, 1), 0x66u);
    EXPECT_EQ(PixelAt(pages[1].get(), 1, 1), 0x55u);
    Qel_Redraw(b.get(), pages[1].get(), 0, 0);
    EXPECT_EQ(PixelAt(pages[1].get(), 2, 1), 0x66u);
    EXPECT_EQ(PixelAt(pages[1].get(), 3, 1), 0x55u);
    // Then it is done with.
    Qel_Redraw(b.get(), pages[0].get(), 0, 0);
    EXPECT_EQ(d->prevCount, 0);
}

TEST_F(DisplayTest, ScreenUpdateDrawsOverlappingDisplaysInOrder) {
    Bitmap screen = Dirty(10, 4);
    video_.VideoEBM = screen.get();
    DisplayList* root = Qel_OpenDisplay(nullptr, screen.get(), 0, 0, -128, 0x5);
    ASSERT_NE(root, nullptr);
    Bitmap low = Dirty(6, 4), high = Dirty(4, 2), glass = Dirty(3, 1);
    FillRaw(low.get(), 1);
    FillRaw(high.get(), 2);
    FillRaw(glass.get(), 3);
    DisplayList* dl = Qel_OpenDisplay(root, low.get(), 0, 0, 10, DISPLAY_SHOWN);
    DisplayList* dh = Qel_OpenDisplay(root, high.get(), 4, 1, 20, DISPLAY_SHOWN);
    ASSERT_TRUE(dl && dh);
    EXPECT_EQ(root->children->first, dl);
    EXPECT_EQ(root->children->last, dh);

    low->rectCount = QEL_RECTS_WHOLE;
    high->rectCount = QEL_RECTS_WHOLE;
    Qel_UpdateScreen();
    std::vector<std::string> rows;
    for (int y = 0; y < 4; ++y) {
        std::string r;
        for (int x = 0; x < 10; ++x) r += static_cast<char>('0' + PixelAt(screen.get(), x, y));
        rows.push_back(r);
    }
    EXPECT_EQ(rows, (std::vector<std::string>{"1111110000", "1111222200", "1111222200", "1111110000"}));
    // The opaque upper display took its area out of the lower one's set.
    EXPECT_EQ(low->rectCount, 0);

    // Only what changed is drawn, and not where the upper display covers it.
    FillRaw(low.get(), 5);
    SetRects(low.get(), {{3, 0, 3, 3}});
    Qel_UpdateScreen();
    EXPECT_EQ(PixelAt(screen.get(), 3, 0), 5u);
    EXPECT_EQ(PixelAt(screen.get(), 5, 0), 5u);
    EXPECT_EQ(PixelAt(screen.get(), 4, 1), 2u);
    EXPECT_EQ(PixelAt(screen.get(), 2, 0), 1u);

    // A transparent display above gets the changed area beneath it redrawn.
    DisplayList* dg = Qel_OpenDisplay(root, glass.get(), 0, 3, 30, DISPLAY_SHOWN | DISPLAY_TRANSPARENT);
    ASSERT_NE(dg, nullptr);
    SetRects(low.get(), {{0, 3, 1, 1}});
    Qel_UpdateScreen();
    EXPECT_EQ(PixelAt(screen.get(), 0, 3), 3u);
    EXPECT_EQ(PixelAt(screen.get(), 2, 3), 3u);

    // Freeing a bitmap takes its display out of the tree.
    FreeILBM(glass.release());
    FreeILBM(high.release());
    EXPECT_EQ(root->children->first, dl);
    EXPECT_EQ(root->children->last, dl);
    FreeILBM(low.release());
    EXPECT_EQ(root->children, nullptr);
}

TEST_F(DisplayTest, VideoSurfacesPagesAndTheWorkBuffer) {
    Bitmap a = Dirty(4, 4), b = Dirty(4, 4);
    video_.BackBufferEBM = a.get();
    video_.VideoEBM = b.get();
    EXPECT_EQ(Qel_GetVideoSurface(0), a.get());
    EXPECT_EQ(Qel_GetVideoSurface(1), b.get());
    EXPECT_EQ(Qel_GetVideoSurface(2), nullptr);
    EXPECT_EQ(LogOf([] { EXPECT_EQ(Qel_GetVideoSurface(4), nullptr); }), Framed("Error: Qel_GetVideoSurface\n"));

    EXPECT_EQ(Qel_VideoPageCount(), 1);
    video_.flags = VIDEO_SECONDSET;
    EXPECT_EQ(Qel_VideoPageCount(), 2);
    video_.flags = VIDEO_SECONDSET | VIDEO_PAGEFLIP;
    EXPECT_EQ(Qel_VideoPageCount(), 4);
    video_.flags = VIDEO_PAGEFLIP;
    EXPECT_EQ(Qel_VideoPageCount(), 1);
    video_.flags = 0;

    ASSERT_EQ(Qel_EnsureDisplayBuffer(), 1);
    ASSERT_NE(video_.workBuffer, nullptr);
    EXPECT_EQ(video_.workBuffer[255], 255u * 255u);
    uint32_t* kept = video_.workBuffer;
    EXPECT_EQ(Qel_EnsureDisplayBuffer(), 1);
    EXPECT_EQ(video_.workBuffer, kept);
    Int_FreeMem(video_.workBuffer, 1024, 0);
    video_.workBuffer = nullptr;

    // Invalidating asks every child of the video display for a full redraw.
    DisplayList* root = Qel_OpenDisplay(nullptr, b.get(), 0, 0, -128, 0x5);
    EXPECT_STREQ(root->name, "NoName");
    Bitmap c = Dirty(2, 2);
    Qel_SetEbmName(c.get(), "panel");
    DisplayList* panel = Qel_OpenDisplay(root, c.get(), 0, 0, 10, DISPLAY_SHOWN);
    ASSERT_NE(panel, nullptr);
    Qel_SetEbmName(c.get(), "renamed");
    EXPECT_STREQ(panel->name, "panel");
    Qel_InvalidateDisplays();
    EXPECT_EQ(c->rectCount, QEL_RECTS_WHOLE);
    FreeILBM(c.release());
}

TEST_F(DisplayTest, StatisticsLineIsAppendedWhenShown) {
    Bitmap b = Dirty(4, 4);
    Qel_OpenDisplay(nullptr, b.get(), 0, 0, 10, DISPLAY_SHOWN);
    state_->averageFps = 30;
    Qel_StatsLine(b.get());
    EXPECT_STREQ(state_->statusText, "");
    state_->showFpsLine = 1;
    b->rectCount = 3;
    Qel_StatsLine(b.get());
    EXPECT_EQ(std::string(state_->statusText).rfind("30 fps, 0003 Rect., ", 0), 0u);
    // Never beyond 255 characters.
    for (int i = 0; i < 20; ++i) Qel_StatsLine(b.get());
    EXPECT_EQ(std::strlen(state_->statusText), 255u);
}
