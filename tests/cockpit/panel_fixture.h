// The HUD fixture with a texture table large enough for the status panel's
// and the tooltip's textures, and menu graphics sheets whose pieces each have
// a colour of their own, so that a picture read back tells which piece went
// where.
#pragma once

#include <cstdint>

#include "cockpit/hud_fixture.h"
#include "cockpit/panels.h"
#include "cockpit/statuspanel.h"
#include "scene/trees.h"

class PanelTest : public HudTest {
protected:
    // Piece colours of the sheets.
    static constexpr uint32_t kBarBack = 0x202830, kSpeedBar = 0x30C030, kWeaponBack = 0x283040;
    static constexpr uint32_t kShieldBack = 0x303828, kLaserBar = 0xE0A020, kShieldBar = 0x2080E0;
    static constexpr uint32_t kEmptyMissile = 0x808080, kShieldIcon = 0x20C0C0, kShieldBlink = 0xF02020;
    static constexpr uint32_t kAlarmMarker = 0xF0F000, kPlainMarker = 0x606060;
    static constexpr uint32_t kColumnTop = 0xC0F0C0, kColumnMiddle = 0x40A040, kColumnBottom = 0x206020;
    static constexpr uint32_t kColumnBack = 0x121b20;

    static uint32_t Digit(int row, int d) { return 0x100000u * static_cast<uint32_t>(row * 10 + d + 1) + 0x40; }
    static uint32_t Missile(bool ready, int column) {
        return ready ? 0x0040F0u + column * 0x300000u : 0x00F040u + column * 0x300000u;
    }
    static uint32_t Weapon(int row, int column) {
        return 0x800000u + 0x1000u * static_cast<uint32_t>(row * 4 + column);
    }
    // Cells of 32 x 32 on rows 192 and 224 of the mode sheet.
    static uint32_t ModeCell(int x, int y) {
        return 0x000080u + 0x0800u * static_cast<uint32_t>(x / 32) + (y == 224 ? 0x400000u : 0);
    }

    void SetUp() override {
        HudTest::SetUp();
        TC_FreeTextureTables();
        g_TCNumberedCount = 1300;
        ASSERT_FALSE(TC_AllocTextureTable());
        B3D_ForgetMenuTextures();
        Texture(INS_PANEL_TEXTURE, 128, 128);
        Texture(INS_PANEL_ICONS, 128, 128);
        Texture(INS_PANEL_BARS, 128, 64);
        Texture(INS_PANEL_MODES, 256, 256);
        Texture(INS_PANEL_COLUMN_SOURCE, 256, 256);
        Texture(INS_PANEL_COLUMN, 256, 256);
        Texture(INS_PANEL_TEXT_TEXTURE, 64, 32);
        Texture(INS_TOOLTIP_TEXTURE, 256, 256);
        Sheets();
        B3D_SceneEnable(IC_Scene(c_));
    }

    static void Fill(int id, int x, int y, int w, int h, uint32_t colour) {
        B3D_TexRectFill(id, x, y, w, h, 0xFF000000u | colour);
    }

    static void Sheets() {
        const int bars = INS_PANEL_BARS, icons = INS_PANEL_ICONS, modes = INS_PANEL_MODES;
        Fill(bars, 0, 0, 128, 16, kBarBack);
        Fill(bars, 0, 20, 128, 12, kSpeedBar);
        Fill(bars, 0, 32, 64, 16, kWeaponBack);
        Fill(bars, 64, 32, 64, 16, kShieldBack);
        Fill(bars, 0, 52, 64, 12, kLaserBar);
        Fill(bars, 64, 52, 64, 12, kShieldBar);
        for (int column = 0; column < 4; ++column) {
            Fill(icons, column * 22, 0, 22, 22, Missile(false, column));
            Fill(icons, column * 22, 22, 22, 22, Missile(true, column));
        }
        for (int d = 0; d < 10; ++d)
            for (int row = 0; row < 2; ++row) Fill(icons, d * 11, 44 + row * 10, 11, 10, Digit(row, d));
        for (int column = 1; column < 4; ++column)
            for (int row = 0; row < 2; ++row) Fill(icons, column * 20, 64 + row * 16, 20, 16, Weapon(row, column));
        Fill(icons, 80, 64, 12, 32, kAlarmMarker);
        Fill(icons, 92, 64, 12, 32, kPlainMarker);
        Fill(icons, 104, 64, 10, 32, kShieldBlink);
        Fill(icons, 114, 64, 10, 32, kShieldIcon);
        Fill(icons, 106, 106, 22, 22, kEmptyMissile);
        for (int y : {192, 224})
            for (int x = 0; x < 256; x += 32) Fill(modes, x, y, 32, 32, ModeCell(x, y));
        Fill(INS_PANEL_COLUMN_SOURCE, 239, 113, 14, 5, kColumnTop);
        Fill(INS_PANEL_COLUMN_SOURCE, 239, 118, 14, 30, kColumnMiddle);
        Fill(INS_PANEL_COLUMN_SOURCE, 239, 148, 14, 10, kColumnBottom);
    }
};
