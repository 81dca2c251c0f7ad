#include "scene/names.h"

#include <gtest/gtest.h>

#include <string>

#include "base/fonts.h"
#include "base/strings.h"
#include "base/texcache.h"
#include "scene/ids.h"
#include "scene/pools.h"
#include "scene/state.h"
#include "support/logcapture.h"
#include "types_fixture.h"

namespace {

using SceneNames = TypesTest;

TEST_F(SceneNames, IdsByName) {
    B3D_SetBodyName(5, "v\\five.bod");
    B3D_SetBodyName(10005, "v\\big.bod");
    B3D_SetCutName(14999, "cut\\last.cut");
    struct Case {
        const char* name;
        bool body;
        int32_t id;
    };
    const Case cases[] = {
        {"NULL", true, 0},
        {"Null", false, 0},
        {"null", true, 0},
        {"", true, 0},
        {"12345.bod", true, 12345},
        {"-7", false, -7},
        {"V\\FIVE", true, 5},
        {"v\\five.bob", true, 5},
        {"v\\big", true, 10005},
        {"cut\\LAST", false, 14999},
        {"v\\12345.bod", true, 20000},
        {"v\\12345", true, 20000},
        {"v\\other", true, 20001},
        {"a.v2.bod", true, 20002},
        {"a.v2", true, 20003},  // a name of its own: the first dot does not start the extension
        {"scene.cut", false, 50000},
        {"scene", false, 50000},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.body ? B3D_GetBodyID(c.name) : B3D_GetCutID(c.name), c.id) << c.name << (c.body ? " body" : " cut");
    EXPECT_EQ(g_B3DState->bodyIds.dynamicCount, 4);
    EXPECT_STREQ(B3D_BodySlotOf(20000)->name, "v\\12345");
}

TEST_F(SceneNames, ANameWithTwoDotsIsFoundAndAnsweredWhole) {
    B3D_SetCutName(12, "cut\\a.b.cut");
    B3D_SetBodyName(13, "v\\x.y.bod");
    EXPECT_EQ(B3D_GetCutID("cut\\a.b.cut"), 12);
    EXPECT_EQ(B3D_GetCutFilename(12, 0), "cut\\a.b.cut");
    EXPECT_EQ(B3D_GetBodyID("v\\x.y.bod"), 13);
    EXPECT_EQ(B3D_GetBodyFilename(13, 1), "v\\x.y.bod");
    EXPECT_EQ(g_B3DState->cutIds.dynamicCount, 0);
    EXPECT_EQ(g_B3DState->bodyIds.dynamicCount, 0);
}

TEST_F(SceneNames, TheThousandthDynamicNameGrowsTheTable) {
    for (int32_t i = 0; i < 999; ++i) ASSERT_EQ(B3D_GetCutID(("c" + std::to_string(i)).c_str()), 50000 + i);
    B3D_FailNextIdGrowth(1);
    EXPECT_EQ(B3D_GetCutID("c999"), -1);
    EXPECT_EQ(g_B3DState->cutIds.dynamicCount, 999);
    EXPECT_EQ(B3D_GetCutID("c999"), 50999);
    EXPECT_EQ(B3D_GetCutID("c1000"), 51000);
    EXPECT_EQ(B3D_GetCutID("C5"), 50005);  // earlier names survive the move
    EXPECT_EQ(B3D_CutSlotOf(51000)->used, 0);
    // The grown table frees with its size (checked by the sanitizer at tear-down).
}

TEST_F(SceneNames, FileNamesByIdWithAndWithoutFolder) {
    B3D_SetBodyName(7, "v\\seven.bod");
    ASSERT_EQ(B3D_GetBodyID("v\\dyn"), 20000);
    ASSERT_EQ(B3D_GetBodyID("v\\dyn2"), 20001);
    B3D_SetBodyName(20001, nullptr);
    ASSERT_EQ(B3D_GetBodyID("v\\dyn3"), 20002);
    B3D_BodySlotOf(20002)->name = Qel_StrFree(B3D_BodySlotOf(20002)->name);
    struct Case {
        bool body;
        int32_t id;
        int32_t folder;
        const char* name;
    };
    const Case cases[] = {
        {true, 7, 1, "v\\seven"},     {true, 7, 0, "v\\seven"}, {true, 20002, 1, "v\\20002"},
        {true, 20002, 0, "20002"},    {true, 5000, 1, ""},      {true, 30000, 0, ""},
        {false, 12, 1, "cut\\00012"}, {false, 12, 0, "12"},     {false, 50000, 1, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.body ? B3D_GetBodyFilename(c.id, c.folder) : B3D_GetCutFilename(c.id, c.folder), c.name)
            << c.id << " " << c.folder;
}

TEST_F(SceneNames, MenuTexturesKeepTheirFirstIds) {
    const uint16_t master = B3D_GetTextureID("effects\\menugfx\\gui_master");  // another texture comes first
    const uint16_t kept = B3D_GetTextureID("EFFECTS/MENUGFX/GUI_MASTER");
    EXPECT_EQ(kept, TC_GetTextureIdByName("effects/menugfx/gui_master"));
    EXPECT_NE(kept, master);
    // The texture table forgets the name; the kept id stays.
    TC_SetTextureName(kept, "renamed");
    EXPECT_EQ(B3D_GetTextureID("effects/menugfx/gui_master"), kept);
    EXPECT_EQ(B3D_GetTextureID("NULL"), 0);
    EXPECT_EQ(B3D_GetTextureID("123"), 123);
}

TEST_F(SceneNames, TextMetricsAreDividedByTheTextScale) {
    QelFont font{};
    font.fontHeight = 20;
    font.cellWidth = 8;
    font.firstChar = 32;
    font.lastChar = 127;
    font.glyphCount = 96;
    QelFont* saved = g_QelFonts[3];
    g_QelFonts[3] = &font;
    const int width = Qel_TextWidth(&font, "abcd", 0);
    ASSERT_GT(width, 0);
    for (int32_t scale : {1, 2, 0}) {
        system_->fontScale = scale;
        const int32_t div = scale ? scale : 1;
        EXPECT_EQ(B3D_TexTextHeight(3, 0), 20 / div) << scale;
        EXPECT_EQ(B3D_TexTextWidth(3, 0, "abcd"), width / div) << scale;
    }
    EXPECT_EQ(B3D_TexTextHeight(4, 0), 0);  // no font in the slot
    EXPECT_EQ(B3D_TexTextWidth(10, 0, "a"), 0);
    g_QelFonts[3] = saved;
}

TEST_F(SceneNames, SceneBufferTextureRecordsAreMadeOnce) {
    B3DList records;
    B3D_ListInit(&records);
    B3DSceneBufferTexRecord* a = B3D_SceneBufferTexEntry(&records, 7);
    B3DSceneBufferTexRecord* b = B3D_SceneBufferTexEntry(&records, 0x10009);  // 16-bit ids
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->textureId, 9);
    EXPECT_EQ(B3D_SceneBufferTexEntry(&records, 7), a);
    EXPECT_EQ(B3D_SceneBufferTexEntry(&records, 9), b);
    EXPECT_EQ(B3D_ListCount(&records), 2);
    EXPECT_EQ(B3D_First<B3DSceneBufferTexRecord>(&records), a);
    {
        LogCapture log;
        B3D_FailNextAllocations(1);
        EXPECT_EQ(B3D_SceneBufferTexEntry(&records, 11), nullptr);
        EXPECT_TRUE(log.Contains("B3D_AllocMemI() failed to allocate"));
    }
    while (auto* r = B3D_First<B3DSceneBufferTexRecord>(&records)) {
        B3D_ListRemove(B3D_Node(r));
        B3D_FreeRecordI(r);
    }
}

}  // namespace
