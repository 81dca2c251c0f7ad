// EBM bitmaps: derived sizes, depth flags, the standard tables, shadow masks,
// reference counting and release.
#include <gtest/gtest.h>

#include <cstring>

#include "base/ebm.h"
#include "base/memory.h"
#include "support/logcapture.h"
#include "system/surfaces.h"

namespace {

TEST(Ebm, ChunkyRowsHoldTheWidthRoundedTo16Pixels) {
    EBM* b = GenerateEbm(1, 3, 32, EBM_CHUNKY);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->bytesPerRow, 64);
    EXPECT_EQ(b->rowDistance, 64);
    EXPECT_EQ(b->bitsPerPixel, 32);
    EXPECT_EQ(b->bytesPerPixel, 4);
    EXPECT_EQ(b->planeDistance, 64u);
    EXPECT_EQ(b->planeSize, 6u);
    EXPECT_NE(b->flags & EBM_32BIT, 0u);
    EXPECT_NE(b->plane0, nullptr);
    EXPECT_NE(b->sys, nullptr);  // the binding record is made with the tables
    FreeILBM(b);
}

TEST(Ebm, DepthFlagsWinInOrder) {
    struct Case {
        int16_t depth;
        uint32_t flags;
        int bits;
        uint32_t added;
    };
    const Case cases[] = {
        {8, EBM_CHUNKY | EBM_16BIT | EBM_32BIT, 32, 0},
        {8, EBM_CHUNKY | EBM_24BIT, 24, 0},
        {16, EBM_CHUNKY, 16, EBM_16BIT},
        {24, EBM_CHUNKY, 24, EBM_24BIT},
        {8, EBM_CHUNKY, 8, 0},
    };
    for (const Case& c : cases) {
        EBM* b = GenerateEbm(4, 4, c.depth, c.flags | EBM_NOSHADOW);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->bitsPerPixel, c.bits) << c.flags;
        if (c.added) {
            EXPECT_NE(b->flags & c.added, 0u);
        }
        FreeILBM(b);
    }
}

TEST(Ebm, TablesOfAChunkyBitmap) {
    EBM* b = GenerateEbm(4, 3, 8, EBM_CHUNKY | EBM_ROWTAB | EBM_RECTTAB);
    ASSERT_NE(b, nullptr);
    ASSERT_NE(b->EBM_FlipWidthTab, nullptr);
    EXPECT_EQ(b->EBM_FlipWidthTab[0], 4);
    EXPECT_EQ(b->EBM_FlipWidthTab[3], 1);
    ASSERT_NE(b->EBM_FlipHeightTab, nullptr);
    EXPECT_EQ(b->EBM_FlipHeightTab[0], 3);
    EXPECT_EQ(b->EBM_FlipHeightTab[2], 1);
    ASSERT_NE(b->EBM_RowOffsetTab, nullptr);
    EXPECT_EQ(b->EBM_RowOffsetTab[2], 2u * b->rowDistance);
    EXPECT_NE(b->rectTable, nullptr);
    EXPECT_EQ(b->rectTableSize, 101u * 8);  // capacity + 1 entries
    EXPECT_NE(b->flags & EBM_RECTTAB, 0u);
    FreeILBM(b);
}

TEST(Ebm, ShortHeadersHaveNoTables) {
    EBM* b = GenerateEbm(4, 4, 8, EBM_CHUNKY | EBM_SHORT | EBM_RECTTAB | EBM_ROWTAB | EBM_NOSHADOW);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->flags & EBM_RECTTAB, 0u);
    FreeILBM(b);
}

TEST(Ebm, ChunkyShadowMarksNonZeroPixels) {
    EBM* b = GenerateEbm(10, 2, 8, EBM_CHUNKY | EBM_NOSHADOW);
    ASSERT_NE(b, nullptr);
    b->plane0[0] = 1;
    b->plane0[9] = 7;
    b->plane0[b->rowDistance + 3] = 2;
    b->flags &= ~EBM_NOSHADOW;
    ASSERT_EQ(Qel_MakeStandardTabs(b), 1);
    ASSERT_NE(b->shadow, nullptr);
    // Two bytes per mask row: (10 + 15) / 8 rounded down to even.
    EXPECT_EQ(b->shadow[0], 0x80);
    EXPECT_EQ(b->shadow[1], 0x40);
    EXPECT_EQ(b->shadow[2], 0x10);
    FreeILBM(b);

    EBM* wide = GenerateEbm(2, 1, 16, EBM_CHUNKY | EBM_NOSHADOW);
    ASSERT_NE(wide, nullptr);
    wide->plane0[3] = 0x80;  // the high byte of pixel 1
    wide->flags &= ~EBM_NOSHADOW;
    ASSERT_EQ(Qel_MakeStandardTabs(wide), 1);
    EXPECT_EQ(wide->shadow[0], 0x40);
    FreeILBM(wide);
}

TEST(Ebm, PlaneShadows) {
    EBM* one = GenerateEbm(16, 2, 1, 0);
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(one->shadow, one->plane0);  // freed once, with the pixels
    FreeILBM(one);

    EBM* two = GenerateEbm(16, 1, 2, EBM_NOSHADOW);
    ASSERT_NE(two, nullptr);
    EXPECT_EQ(two->planeDistance, two->planeSize);
    two->plane0[0] = 0x81;
    two->plane0[two->planeDistance + 1] = 0x10;
    two->flags &= ~EBM_NOSHADOW;
    ASSERT_EQ(Qel_MakeStandardTabs(two), 1);
    EXPECT_EQ(two->shadow[0], 0x81);
    EXPECT_EQ(two->shadow[1], 0x10);
    FreeILBM(two);

    EBM* interleaved = GenerateEbm(16, 2, 3, EBM_INTERLEAVED | EBM_NOSHADOW);
    ASSERT_NE(interleaved, nullptr);
    EXPECT_EQ(interleaved->rowDistance, 6);
    EXPECT_EQ(interleaved->planeDistance, 2u);
    FreeILBM(interleaved);
}

TEST(Ebm, ReferencesKeepTheBitmap) {
    int64_t before = Int_GetMemUsed();
    EBM* b = GenerateEbm(8, 8, 32, EBM_CHUNKY);
    ASSERT_NE(b, nullptr);
    Qel_SetEbmName(b, "shared");
    b->refCount = 2;
    FreeILBM(b);
    FreeILBM(b);
    EXPECT_STREQ(b->name, "shared");
    FreeILBM(b);
    EXPECT_EQ(Int_GetMemUsed(), before);
    FreeILBM(nullptr);
}

TEST(Ebm, NamesAndBadSizes) {
    EBM* b = GenerateEbm(2, 2, 8, EBM_CHUNKY | EBM_NOSTORAGE);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->plane0, nullptr);
    Qel_SetEbmName(b, "a");
    Qel_SetEbmName(b, "bb");
    EXPECT_STREQ(b->name, "bb");
    Qel_SetEbmName(b, nullptr);
    EXPECT_EQ(b->name, nullptr);
    FreeILBM(b);
    EXPECT_EQ(GenerateEbm(-1, 4, 8, EBM_CHUNKY), nullptr);
    // Rows that would not fit the 16-bit row fields are refused.
    EXPECT_EQ(GenerateEbm(16384, 1, 32, EBM_CHUNKY), nullptr);
}

TEST(Ebm, RebuildingTheTablesGivesTheOldOnesBack) {
    int64_t before = Int_GetMemUsed();
    EBM* b = GenerateEbm(8, 4, 16, EBM_CHUNKY | EBM_RECTTAB | EBM_ROWTAB);
    ASSERT_NE(b, nullptr);
    int64_t built = Int_GetMemUsed();
    LogCapture capture;
    EXPECT_EQ(Qel_MakeStandardTabs(b), 1);
    capture.Take();
    EXPECT_EQ(Int_GetMemUsed(), built);
    EXPECT_EQ(b->EBM_FlipWidthTab[0], 8);
    // Tables no longer asked for are given back too.
    b->flags &= ~(EBM_RECTTAB | EBM_ROWTAB);
    EXPECT_EQ(Qel_MakeStandardTabs(b), 1);
    EXPECT_EQ(b->EBM_RowOffsetTab, nullptr);
    EXPECT_EQ(b->rectTable, nullptr);
    FreeILBM(b);
    EXPECT_EQ(Int_GetMemUsed(), before);
}

}  // namespace
