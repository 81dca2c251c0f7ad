#include <gtest/gtest.h>

#include <cstring>

#include "base/memory.h"
#include "scene/allocs.h"
#include "scene/ids.h"
#include "scene/state.h"
#include "scene_fixture.h"

namespace {

using SceneIds = SceneTest;

// Gives the body table n dynamic slots, grown as the name functions grow it.
void GrowBodies(int32_t n) {
    B3DBodyIdTable& t = g_B3DState->bodyIds;
    const size_t oldSlots = t.fixedCount + 1000 * (t.dynamicCount / 1000 + 1);
    const size_t newSlots = t.fixedCount + 1000 * (n / 1000 + 1);
    t.slots = static_cast<B3DBodySlot*>(
        Int_ReAllocMem(t.slots, oldSlots * sizeof(B3DBodySlot), newSlots * sizeof(B3DBodySlot), INT_MEM_ZERO_TAIL));
    t.dynamicCount = n;
}

void GrowCuts(int32_t n) {
    B3DCutIdTable& t = g_B3DState->cutIds;
    const size_t oldSlots = t.fixedCount + 1000 * (t.dynamicCount / 1000 + 1);
    const size_t newSlots = t.fixedCount + 1000 * (n / 1000 + 1);
    t.slots = static_cast<B3DCutSlot*>(
        Int_ReAllocMem(t.slots, oldSlots * sizeof(B3DCutSlot), newSlots * sizeof(B3DCutSlot), INT_MEM_ZERO_TAIL));
    t.dynamicCount = n;
}

TEST_F(SceneIds, BodyIdMapping) {
    struct Case {
        int32_t id, slot;
    };
    const Case cases[] = {{0, 0},        {999, 999},     {1000, -1},  {5000, -1},  {8999, -1}, {9000, 0},
                          {10000, 1000}, {19999, 10999}, {20000, -1}, {21000, -1}, {-1, -1}};
    for (const Case& c : cases) EXPECT_EQ(B3D_BodySlot(c.id), c.slot) << c.id;
    // With dynamic slots, the dynamic ids take them.
    GrowBodies(1000);
    EXPECT_EQ(B3D_BodySlot(20000), 11000);
    EXPECT_EQ(B3D_BodySlot(20999), 11999);
    EXPECT_EQ(B3D_BodySlot(21000), -1);
}

TEST_F(SceneIds, CutIdMapping) {
    struct Case {
        int32_t id, slot;
    };
    const Case none[] = {{0, 0}, {14999, 14999}, {15000, -1}, {49999, -1}, {50000, -1}, {-5, -1}};
    for (const Case& c : none) EXPECT_EQ(B3D_CutSlot(c.id), c.slot) << c.id;
    GrowCuts(1000);
    // Cut 15000 never aliases the first dynamic cut's slot.
    const Case dynamic[] = {{15000, -1}, {49999, -1}, {50000, 15000}, {50999, 15999}, {51000, -1}};
    for (const Case& c : dynamic) EXPECT_EQ(B3D_CutSlot(c.id), c.slot) << c.id;
}

TEST_F(SceneIds, MarksAndWords) {
    B3DBodySlot* slot = B3D_BodySlotOf(10005);
    ASSERT_NE(slot, nullptr);
    slot->fileEntry = 77;
    slot->collWord = 5;
    slot->loadMark = 1;
    EXPECT_EQ(B3D_BodyGetFileEntry(10005), 77);
    EXPECT_EQ(B3D_BodyGetCollWord(10005), 5);
    EXPECT_EQ(B3D_BodyClearCollWord(10005), 1);
    EXPECT_EQ(B3D_BodyGetCollWord(10005), -1);
    EXPECT_EQ(B3D_BodyGetLoadMark(10005), 1);
    EXPECT_EQ(B3D_BodyIsUsed(10005), 0);
    B3D_BodySetUsed(10005);
    EXPECT_EQ(B3D_BodyIsUsed(10005), 1);
    B3D_CutSetUsed(12);
    EXPECT_EQ(B3D_CutIsUsed(12), 1);
    EXPECT_EQ(B3D_CutIsUsed(13), 0);

    // Ids without a slot: getters 0, marks of negative ids 1, setters nothing.
    EXPECT_EQ(B3D_BodyGetFileEntry(5000), 0);
    EXPECT_EQ(B3D_BodyGetCollWord(5000), 0);
    EXPECT_EQ(B3D_BodyClearCollWord(5000), 0);
    EXPECT_EQ(B3D_BodyIsUsed(5000), 0);
    EXPECT_EQ(B3D_BodyIsUsed(-1), 1);
    EXPECT_EQ(B3D_BodyGetLoadMark(-1), 1);
    EXPECT_EQ(B3D_CutIsUsed(-1), 1);
    EXPECT_EQ(B3D_CutIsUsed(20000), 0);
    B3D_BodySetUsed(5000);
    B3D_CutSetUsed(20000);
}

TEST_F(SceneIds, NamesLoseTheirExtension) {
    struct Case {
        const char* given;
        const char* stored;
    };
    // Only the first dot after the first character cuts the name, and only
    // when a three-letter extension follows it; the id lookup by name cuts by
    // the same rule, so one file never gets two ids.
    const Case cases[] = {
        {"ship01.bod", "ship01"}, {"a.v2.bod", "a.v2.bod"}, {"cut\\a.b.cut", "cut\\a.b.cut"}, {"noext", "noext"},
        {".hidden", ".hidden"},   {".bod", ".bod"},         {"name.longer", "name.longer"},   {"", nullptr}};
    for (const Case& c : cases) {
        B3D_SetBodyName(42, c.given);
        B3D_SetCutName(42, c.given);
        const char* body = B3D_BodySlotOf(42)->name;
        const char* cut = B3D_CutSlotOf(42)->name;
        if (!c.stored) {
            EXPECT_EQ(body, nullptr) << c.given;
            EXPECT_EQ(cut, nullptr) << c.given;
        } else {
            EXPECT_STREQ(body, c.stored) << c.given;
            EXPECT_STREQ(cut, c.stored) << c.given;
        }
    }
    B3D_SetBodyName(5000, "nowhere.bod");  // no slot: nothing stored
}

TEST_F(SceneIds, DynamicResetKeepsFixedSlots) {
    B3D_SetBodyName(10, "fixed.bod");
    B3D_BodySetUsed(10);
    GrowBodies(1500);
    GrowCuts(3);
    B3D_SetBodyName(20000, "dyn.bod");
    B3D_BodySetUsed(21400);
    B3D_SetCutName(50002, "take.bob");
    B3D_ResetDynamicBodyIds();
    B3D_ResetDynamicCutIds();
    EXPECT_EQ(B3D_BodySlot(20000), -1);
    EXPECT_EQ(B3D_CutSlot(50002), -1);
    EXPECT_STREQ(B3D_BodySlotOf(10)->name, "fixed");
    EXPECT_EQ(B3D_BodyIsUsed(10), 1);
    // A new dynamic slot starts cleared.
    GrowBodies(1);
    EXPECT_EQ(B3D_BodySlotOf(20000)->name, nullptr);
    EXPECT_EQ(B3D_BodyIsUsed(20000), 0);
}

TEST_F(SceneIds, FreeReleasesTheRoundedArraySize) {
    B3D_FreeBodyIdTable();
    B3D_FreeCutIdTable();
    const int64_t before = Int_GetTag0Mem();
    ASSERT_EQ(B3D_InitBodyIdTable(), 1);
    ASSERT_EQ(B3D_InitCutIdTable(), 1);
    EXPECT_EQ(Int_GetTag0Mem() - before,
              static_cast<int64_t>(12000 * sizeof(B3DBodySlot) + 16000 * sizeof(B3DCutSlot)));
    GrowBodies(2000);  // 11000 + 3000 slots
    GrowCuts(999);     // 15000 + 1000 slots
    B3D_SetBodyName(21999, "last.bod");
    B3D_FreeBodyIdTable();
    B3D_FreeCutIdTable();
    EXPECT_EQ(Int_GetTag0Mem(), before);
    EXPECT_EQ(g_B3DState->bodyIds.slots, nullptr);
    B3D_FreeBodyIdTable();  // nothing left: nothing done
}

TEST_F(SceneIds, BodyUsesAreCountedOverTrees) {
    Inst3D* top = B3D_AllocInst();
    Inst3D* child = B3D_AllocInst();
    Inst3D* grandchild = B3D_AllocInst();
    Adopt(top, child);
    Adopt(child, grandchild);
    top->bodyId = 3;
    child->bodyId = 5000;  // no slot: skipped, its children still counted
    grandchild->bodyId = 3;
    B3D_CountBodyUses(top);
    EXPECT_EQ(B3D_BodySlotOf(3)->useCount, 2);
}

}  // namespace
