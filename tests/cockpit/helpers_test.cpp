#include "cockpit/helpers.h"

#include <gtest/gtest.h>

#include "base/memory.h"
#include "cockpit/iconmenus.h"

namespace {

TEST(CockpitHelpers, DeleteObjectListFreesTheMenuWithEveryItem) {
    const int64_t before = Int_GetMemUsed();
    auto* menu = Int_AllocRecord<IconMenu>(0);
    ASSERT_NE(menu, nullptr);
    const int32_t entry[IC_ENTRY_WORDS] = {1, 1, 0, 0, 0, 0, 0, 0, 0};
    IconMenuItem* first = INS_MenuAddItem(menu, entry);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(INS_MenuAddSubItem(first, entry), nullptr);
    ASSERT_NE(INS_MenuAddItem(menu, entry), nullptr);
    EXPECT_GT(Int_GetMemUsed(), before);
    INS_DeleteObjectList(menu);
    // The two items, the sub-menu with its item, and the menu: all gone.
    EXPECT_EQ(Int_GetMemUsed(), before);
}

}  // namespace
