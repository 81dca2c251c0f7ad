// A cockpit over a sector with the HUD's textures as memory bitmaps: the
// target panel (15), the ticker's text texture (65), the radar (66) and an
// icon sheet of coloured blocks under the menu graphics' name with its icon
// table; the HUD font is a small pixel font of digits and a few letters.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include "base/fonts.h"
#include "base/memory.h"
#include "base/texcache.h"
#include "platform/d3d9/seam.h"
#include "cockpit/cockpit_fixture.h"
#include "cockpit/hud.h"
#include "cockpit/ticker.h"
#include "scene/names.h"
#include "scene/state.h"
#include "scene/texdraw.h"
#include "support/gamefolder.h"
#include "support/golden_image.h"
#include "support/imagefixtures.h"
#include "support/surfacesupport.h"
#include "support/videosupport.h"

class HudTest : public CockpitTest {
protected:
    static constexpr int kIconSheet = 3;
    // Icon id, its block's colour on the sheet and its size.
    struct IconBlock {
        int32_t id;
        uint32_t colour;
        int32_t w, h;
    };

    void SetUp() override {
        CockpitTest::SetUp();
        system_->app = TestAppDescriptor();
        // The texture cache hands out bitmaps only with a device open.
        const char* config = getenv("XDG_CONFIG_HOME");
        if (config) oldConfig_ = config;
        hadConfig_ = config != nullptr;
        setenv("XDG_CONFIG_HOME", folder_.Path().c_str(), 1);
        D3D9_ResetSeam();
        ASSERT_TRUE(OpenTestVideo(system_, 320, 240));
        WriteFont();
        g_TCNumberedCount = 100;
        g_TCNamedCount = 0;
        ASSERT_FALSE(TC_AllocTextureTable());
        B3D_ForgetMenuTextures();
        Texture(INS_TARGET_TEXTURE, 64, 64);
        Texture(INS_TEXT_TEXTURE, 128, 16);
        Texture(INS_RADAR_TEXTURE, 65, 65);
        TC_SetTextureName(kIconSheet, "effects/menugfx/gui_master");
        Texture(kIconSheet, 64, 64);
        Icons(DefaultIcons());
        SetClock(100000);
        sector_ = New(SA_MT_SECTOR);
        ship_ = Ship();
        Into(sector_, ship_);
        c_ = AddCockpit();
        c_->refObject = c_->cockpitRefObject = ship_;
        c_->sectorSpace = sector_;
        c_->viewMode = 4;
        c_->monitorNumber = 0;
    }
    void TearDown() override {
        SA_FreeAllObjects(&root_);
        INS_FreeCockpitSystem();
        Qel_CloseFonts();
        B3D_ForgetMenuTextures();
        TC_FreeTextureTables();
        g_TCNumberedCount = g_TCNamedCount = 0;
        CloseTestVideo();
        D3D9_ResetSeam();
        if (hadConfig_) setenv("XDG_CONFIG_HOME", oldConfig_.c_str(), 1);
        else unsetenv("XDG_CONFIG_HOME");
        system_->app = nullptr;
        CockpitTest::TearDown();
    }

    static void Texture(int id, int w, int h) {
        TC_TextureTable[id].bitmap = MakeBitmap(Layout::Bits32, w, h);
        TC_SetTextureFlags(id, 0);
    }
    static EBM* Bitmap(int id) { return TC_TextureTable[id].bitmap; }
    static std::vector<uint32_t> Pixels(int id) {
        EBM* b = Bitmap(id);
        std::vector<uint32_t> out;
        for (int y = 0; y < b->height; ++y)
            for (int x = 0; x < b->width; ++x) out.push_back(PixelAt(b, x, y) | 0xFF000000u);
        return out;
    }
    static uint32_t Rgb(int id, int x, int y) { return PixelAt(Bitmap(id), x, y) & 0xFFFFFF; }
    // Colours drawn through an alpha blit come out within a step or two of
    // their source.
    static bool Near(uint32_t a, uint32_t b) {
        for (int shift : {0, 8, 16})
            if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > 4)
                return false;
        return true;
    }
    static bool Is(int id, int x, int y, uint32_t colour) { return Near(Rgb(id, x, y), colour); }
    // Whether any pixel of the texture has the colour.
    static bool Shows(int id, uint32_t colour) {
        for (uint32_t p : Pixels(id))
            if (Near(p, colour)) return true;
        return false;
    }
    static std::string Golden(int id, const std::string& name) {
        EBM* b = Bitmap(id);
        return GoldenCompare("tests/cockpit/golden/" + name + ".png", b->width, b->height, Pixels(id));
    }

    static std::vector<IconBlock> DefaultIcons() {
        return {
            {150, 0x40C040, 7, 7},                                                      // a ship of class 0
            {148, 0xE04040, 7, 7},                                                      // ... hostile
            {149, 0x4080F0, 7, 7},                                                      // ... marked
            {184, 0xE0E040, 7, 7},                                                      // a gate
            {196, 0x40E0E0, 7, 7},                                                      // a dock
            {162, 0x40A0A0, 7, 7},                                                      // a dock's plain type icon
            {185, 0x909090, 5, 5},                                                      // anything else
            {461, 0x2060A0, 1, 2},                                                      // stems: plain, hostile, marked
            {464, 0xA02020, 1, 2},   {467, 0x2040C0, 1, 2},   {469, 0x60A0E0, 3, 1},    // stem ends
            {470, 0xF06060, 3, 1},   {471, 0x6080F0, 3, 1},   {451, 0xF0F0F0, 11, 11},  // dock markers
            {452, 0xF08080, 11, 11}, {453, 0x8080F0, 11, 11},
        };
    }
    // The icon table and the blocks on the sheet, each block in its own 12 x 12 cell.
    static void Icons(const std::vector<IconBlock>& blocks) {
        B3DIconList& list = g_B3DState->icons[0];
        if (list.rows) Int_FreeMem(list.rows, sizeof(B3DIconRow) * static_cast<size_t>(list.rowCount), 0);
        list.rowCount = static_cast<int32_t>(blocks.size());
        list.rows = static_cast<B3DIconRow*>(Int_AllocMem(blocks.size() * sizeof(B3DIconRow), 0));
        list.textureId = kIconSheet;
        list.width = list.height = 64;
        for (size_t i = 0; i < blocks.size(); ++i) {
            const IconBlock& b = blocks[i];
            const int32_t x = static_cast<int32_t>(i % 5) * 12, y = static_cast<int32_t>(i / 5) * 12;
            list.rows[i] = B3DIconRow{b.id, 0, x, y, b.w, b.h};
            B3D_TexRectFill(kIconSheet, x, y, b.w, b.h, 0xFF000000u | b.colour);  // opaque
        }
    }

    // "Tahoma13": cells of 16 x 13 from ' ', glyphs of a 3 x 5 pixel font
    // drawn twice as large, with a width table.
    void WriteFont() {
        static const std::vector<std::pair<char, const char*>> kGlyphs = {
            {'0', "####.##.##.####"}, {'1', ".#.##..#..#.###"}, {'2', "###..#####..###"}, {'3', "###..####..####"},
            {'4', "#.##.####..#..#"}, {'5', "####..###..####"}, {'6', "####..####.####"}, {'7', "###..#..#..#..#"},
            {'8', "####.#####.####"}, {'9', "####.####..####"}, {'.', "............#.."}, {'-', "......###......"},
            {'K', "#.##.###.#.##.#"}, {'M', "#.########.##.#"}, {'k', "#.##.###.#.##.#"}, {'m', "#.########.##.#"},
            {'A', ".#.#.#####.##.#"}, {'B', "##.#.###.#.###."}, {'C', "####..#..#..###"},
        };
        constexpr int kCellW = 16, kCellH = 13, kPerRow = 16, kRows = 6;
        std::vector<std::string> rows(kCellH * kRows, std::string(kCellW * kPerRow, '.'));
        std::vector<uint8_t> widths(kPerRow * kRows, 6);
        for (const auto& [ch, bits] : kGlyphs) {
            const int g = ch - 32, cx = (g % kPerRow) * kCellW, cy = (g / kPerRow) * kCellH;
            for (int r = 0; r < 5; ++r)
                for (int c = 0; c < 3; ++c)
                    if (bits[r * 3 + c] == '#')
                        for (int dy = 0; dy < 2; ++dy)
                            for (int dx = 0; dx < 2; ++dx)
                                rows[static_cast<size_t>(cy + 1 + 2 * r + dy)][static_cast<size_t>(cx + 2 * c + dx)] =
                                    '#';
            widths[static_cast<size_t>(g)] = ch == '.' ? 3 : 7;
        }
        std::vector<const char*> lines;
        for (const std::string& r : rows) lines.push_back(r.c_str());
        folder_.WriteBytes("F/Tahoma13.bmp", Bmp1(lines));
        folder_.WriteBytes("F/Tahoma13.siz", widths);
    }

    TempGameFolder folder_;
    std::string oldConfig_;
    bool hadConfig_ = false;
    SectorObject* sector_ = nullptr;
    SectorObject* ship_ = nullptr;
    Cockpit* c_ = nullptr;
};
