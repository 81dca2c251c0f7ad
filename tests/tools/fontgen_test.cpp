// The demo's fonts as fontgen makes them: a font rendered from DejaVu Sans
// opens through the engine's font loader the way the cockpit opens its HUD
// font, with the metrics the maker measured, and draws its glyphs.
#include <gtest/gtest.h>

#include <string>

#include "base/draw2d.h"
#include "base/ebm.h"
#include "base/fonts.h"
#include "render/device.h"
#include "support/gamefolder.h"
#include "support/logcapture.h"
#include "support/surfacesupport.h"
#include "support/videosupport.h"
#include "system/settings.h"
#include "system/video.h"
#include "tools/lib/font_maker.h"

namespace {

const char* const kDejaVu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

class MadeFonts : public VideoTestBase {
protected:
    void SetUp() override {
        VideoTestBase::SetUp();
        S_InitSystemSettings();
        ASSERT_TRUE(OpenVideo(1024, 768));
    }
    void TearDown() override {
        Qel_CloseFonts();
        S_3DFreeLookupTextures();
        CloseVideo();
        VideoTestBase::TearDown();
    }
    TempGameFolder folder_;
};

TEST_F(MadeFonts, TheHudFontOpensWithItsMetricsAndDrawsItsGlyphs) {
    FontImage made;
    std::string error;
    ASSERT_TRUE(Font_Render(kDejaVu, 13, &made, &error)) << error;
    ASSERT_TRUE(Font_Write(folder_.Path(), "Tahoma13", kDejaVu, 13, &error)) << error;
    LogCapture log;
    // As the cockpit opens it: cell width 16, height 13, style 33, one row down.
    QelFont* f = Qel_OpenFont("Tahoma13", 16, 13, 33, 1);
    ASSERT_NE(f, nullptr) << log.Text();
    EXPECT_FALSE(log.Contains("ERROR")) << log.Text();
    EXPECT_EQ(f->flags & (FONT_ABC | FONT_PROPORTIONAL | FONT_DEEP), FONT_ABC | FONT_PROPORTIONAL | FONT_DEEP);
    EXPECT_EQ(f->firstChar, 32u);
    EXPECT_EQ(f->lastChar, 255u);
    ASSERT_EQ(f->glyphCount, made.glyphs.size());
    for (uint32_t g = 0; g < f->glyphCount; ++g) {
        SCOPED_TRACE(g + 32);
        EXPECT_EQ(f->glyphX[g], made.glyphs[g].x);
        EXPECT_EQ(f->glyphY[g], made.glyphs[g].y + 1);  // the blank row above the line is left out
        EXPECT_EQ(f->glyphHeight[g], 13);
        EXPECT_EQ(f->inkWidths[g], made.glyphs[g].ink);
        EXPECT_EQ(f->lead[g], made.glyphs[g].lead);
        EXPECT_EQ(f->advance[g], made.glyphs[g].advance);
    }
    EXPECT_EQ(Qel_TextLineHeight(f, 1), 13);
    // Proportional: a narrow letter, a wide one; German letters are there too.
    EXPECT_LT(Qel_TextWidth(f, "i", 1), Qel_TextWidth(f, "W", 1));
    EXPECT_GT(f->inkWidths[0xE4 - 32], 0);
    const FontGlyph& h = made.glyphs['H' - 32];
    const FontGlyph& i = made.glyphs['i' - 32];
    EXPECT_EQ(Qel_TextWidth(f, "Hi", 1), h.lead + h.advance + i.lead + i.ink);

    EBM* screen = g_VideoRecord->BackBufferEBM;
    ASSERT_NE(screen, nullptr);
    Qel_RectFill(80, 80, 60, 40, 0x000000, screen);
    EXPECT_EQ(Qel_Text(f, screen, "H", 100, 1000, 0xFFFFFF, 1, 100), 100 + h.lead + h.advance);
    // The H's two stems light whole columns of its middle rows; the rows above
    // and below the line stay dark.
    int lit = 0;
    for (int x = 96; x < 120; ++x) {
        EXPECT_EQ(PixelAt(screen, x, 99) & 0xFFFFFF, 0u) << x;
        EXPECT_EQ(PixelAt(screen, x, 113) & 0xFFFFFF, 0u) << x;
        if ((PixelAt(screen, x, 106) & 0xFF) > 0x80) ++lit;
    }
    EXPECT_GE(lit, 2);
}

}  // namespace
