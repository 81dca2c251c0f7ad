// A whole cockpit frame drawn headless: the radar, the target panel, the
// status panel with the ticker in its band, and a menu's tooltip, each read
// back from its HUD texture and compared with its picture.
#include <gtest/gtest.h>

#include "cockpit/iconmenus.h"
#include "cockpit/panel_fixture.h"
#include "cockpit/update.h"
#include "space/objects.h"
#include "space/records.h"
#include "space/typesdb.h"
#include "space/weapons.h"

namespace {

class CockpitFrame : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        // The panels' texture table holds none of the radar's and symbols'.
        Texture(INS_TARGET_TEXTURE, 64, 64);
        Texture(INS_RADAR_TEXTURE, 65, 65);
        TC_SetTextureName(kIconSheet, "effects/menugfx/gui_master");
        Texture(kIconSheet, 64, 64);
        Icons(DefaultIcons());
        TypeRecord* type = SA_GetTypeRecord(SA_MT_SHIP, 0);
        type->field[SA_TF_SHIP_SPEED] = 100000;
        type->field[SA_TF_SHIP_MAX_HULL] = 1000;
        type->field[SA_TF_SHIP_LASER_POWER_MAX] = 1000;
        ship_->hull = 700;
        ship_->speed = 50000;
        ship_->desiredSpeed = 50000;
        O_ShipData(ship_)->laserEnergy = 500 * 1000;
        Qel_MatIdentity(&ship_->instance->matrix);
        g_CockpitSystem->radarOn = 1;
        c_->radarBodyOn = c_->displayBodyOn = c_->draw2D = 1;
        c_->radarRange = 100000;
    }
    SectorObject* Put(int16_t mainType, int32_t x, int32_t y, int32_t z) {
        SectorObject* o = New(mainType);
        o->instance = B3D_AllocInst();
        o->instance->pos = QelVector{x, y, z, 0};
        Qel_MatIdentity(&o->instance->matrix);
        Into(sector_, o);
        return o;
    }
    void Frame(int32_t now) {
        SetClock(now);
        INS_UpdateCockpit(c_);
    }
};

TEST_F(CockpitFrame, TheHudTexturesOfOneFrame) {
    SectorObject* foe = Put(SA_MT_SHIP, 40000, -30000, 60000);
    foe->group = 3;
    O_RelationWords(ship_)->foeMask |= 1u << 3;
    Put(SA_MT_GATE, 500000, 0, 0);
    c_->trackedObject = foe;
    c_->trackingMode = 3;
    g_CockpitSystem->unitDisplay = 1;
    // A menu of one item and the tooltip it owns.
    const int32_t values[10] = {7, 40, 40, 2, 2, 1, 1, 0, 0, 1};
    const int32_t entry[IC_ENTRY_WORDS] = {1, IC_ITEM_VISIBLE, 0, 150, 0, 0, 0, 0, 0};
    ASSERT_EQ(INS_AddIconMenu(c_, -1, values, 1, entry), 1);
    INS_ShowTooltipAt(c_, c_->menus->serial, "12", 60, 40);
    INS_DisplayText("1234 5678", c_, 0, 0, 0);
    Frame(100000);
    Frame(100300);

    EXPECT_EQ(Golden(INS_RADAR_TEXTURE, "frame_radar"), "");
    EXPECT_EQ(Golden(INS_TARGET_TEXTURE, "frame_target_panel"), "");
    // The ticker shares its texture with the status panel, which the frame
    // draws later: its band lies in the rows the panel leaves free, so both
    // show, the text 38 pixels in.
    static_assert(INS_TEXT_TEXTURE == INS_PANEL_TEXTURE);
    EXPECT_EQ(Golden(INS_PANEL_TEXTURE, "frame_status_panel"), "");
    EXPECT_TRUE(Is(INS_TEXT_TEXTURE, 2, 80, 0x121B20));  // the band
    EXPECT_TRUE(Is(INS_TEXT_TEXTURE, 60, 100, kSpeedBar));
    bool text = false;
    for (int x = 40; x < 80; ++x)
        for (int y = 79; y < 96; ++y) text = text || Is(INS_TEXT_TEXTURE, x, y, 0xFFFFFF);
    EXPECT_TRUE(text);
    EXPECT_EQ(Golden(INS_TOOLTIP_TEXTURE, "frame_tooltip"), "");
    // The menu's item stands in the icon menu scene.
    const Inst3D* item = IC_FindInst(c_->menus->items->slots[0].slot.inst);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->scene, IC_FindScene(c_->iconMenus->scene));
}

}  // namespace
