// The demo's icon table (data/types/media.types, drawn by demoicons): it loads
// whole, on the sheet the HUD blits from, and holds every icon the cockpit
// picks for objects, weapons, the radar and the target overlay.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "cockpit/iconmenus.h"
#include "cockpit/overlay.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "scene/typesfiles.h"
#include "space/records.h"
#include "support/logcapture.h"
#include "types_fixture.h"

namespace {

using DemoIcons = TypesTest;

TEST_F(DemoIcons, TheTableHoldsEveryIconTheCockpitPicks) {
    const char* source = std::getenv("TREVAN_SOURCE_DIR");
    ASSERT_NE(source, nullptr);
    std::ifstream in(std::filesystem::path(source) / "data" / "types" / "media.types");
    std::stringstream text;
    text << in.rdbuf();
    Types(text.str());
    LogCapture log;
    ASSERT_EQ(B3DB_LoadIconData(), 1);
    EXPECT_EQ(log.Text(), "");
    const B3DIconList& list = g_B3DState->icons[0];
    EXPECT_EQ(list.textureId, int32_t(TC_GetTextureIdByName("effects\\menugfx\\gui_master")));

    std::set<int32_t> wanted = {INS_OVERLAY_BRACKET_ICONS[0], INS_OVERLAY_BRACKET_ICONS[1],
                                INS_OVERLAY_BRACKET_ICONS[2]};
    for (int32_t k = 0; k <= INS_OVERLAY_SHIELD_LEVELS; ++k) wanted.insert(INS_OVERLAY_SHIELD_ICON + k);
    // Station markers, radar stems and their bases of the object symbols.
    for (int32_t id : {451, 452, 453, 461, 464, 467, 469, 470, 471}) wanted.insert(id);
    const int32_t selectors[] = {0,
                                 IC_ICON_SELECTED,
                                 IC_ICON_MARKED,
                                 IC_ICON_PLAIN_TYPE,
                                 IC_ICON_PLAIN_TYPE | IC_ICON_SELECTED,
                                 IC_ICON_PLAIN_TYPE | IC_ICON_MARKED,
                                 IC_ICON_MISSILE,
                                 IC_ICON_MISSILE | IC_ICON_SELECTED,
                                 IC_ICON_MISSILE | IC_ICON_MARKED,
                                 IC_ICON_WEAPON,
                                 IC_ICON_WEAPON | IC_ICON_ALTERNATE,
                                 IC_ICON_SPECIAL_SHIP};
    for (int32_t mainType = SA_MT_DOCK; mainType <= SA_MT_SPECIAL; ++mainType)
        for (int32_t subType = -1; subType < 90; ++subType)
            for (int32_t selector : selectors) wanted.insert(INS_GetObjectIcon(mainType, subType, selector));
    for (int32_t id : wanted) {
        const B3DIconRow* row = B3D_GetIconData(0, id);
        ASSERT_NE(row, nullptr) << id;
        EXPECT_GT(row->w, 0) << id;
        EXPECT_LE(row->x + row->w, list.width) << id;
        EXPECT_LE(row->y + row->h, list.height) << id;
    }
}

}  // namespace
