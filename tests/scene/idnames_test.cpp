// The id name block: written and read back it gives the same dynamic body and
// cut ids for the same names, past the growth of the slot arrays; a block
// with a count beyond the limit or cut short reads what it holds and fails.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/file.h"
#include "base/strings.h"
#include "scene/idnames.h"
#include "scene/names.h"
#include "scene/scene_fixture.h"
#include "support/gamefolder.h"
#include "support/logcapture.h"

namespace {

class IdNames : public SceneTest {
protected:
    void SetUp() override {
        folder_ = std::make_unique<TempGameFolder>();
        SceneTest::SetUp();
    }
    void TearDown() override {
        SceneTest::TearDown();
        folder_.reset();
    }
    int32_t Write(const char* name) {
        QelFile* f = Qel_fcopen(name, "wb", 0);
        EXPECT_NE(f, nullptr);
        const int32_t ok = B3D_RecordNames(f, B3DNameRule::Modulo);
        Qel_fclose(f);
        return ok;
    }
    int32_t Read(const char* name) {
        QelFile* f = Qel_fcopen(name, "rb", 0);
        EXPECT_NE(f, nullptr);
        const int32_t ok = B3D_ReadIdNameTables(f);
        Qel_fclose(f);
        return ok;
    }
    std::unique_ptr<TempGameFolder> folder_;
};

TEST_F(IdNames, ReadBackTheSameIdsForTheSameNames) {
    constexpr int kBodies = 1205;  // past the first growth of the slot array
    for (int i = 0; i < kBodies; ++i) ASSERT_EQ(B3D_GetBodyID(("v\\b" + std::to_string(i)).c_str()), 20000 + i);
    B3D_BodySlotOf(20003)->name = Qel_StrFree(B3D_BodySlotOf(20003)->name);  // a slot without a name
    ASSERT_EQ(B3D_GetCutID("cut\\one"), 50000);
    ASSERT_EQ(B3D_GetCutID("cut\\two"), 50001);
    ASSERT_EQ(Write("names.bin"), 1);

    // Another run that met other names first.
    B3D_ResetDynamicBodyIds();
    B3D_ResetDynamicCutIds();
    ASSERT_EQ(B3D_GetBodyID("v\\other"), 20000);
    ASSERT_EQ(B3D_GetCutID("cut\\two"), 50000);
    B3DBodySlot* slot = B3D_BodySlotOf(20000);
    slot->used = 1;

    ASSERT_EQ(Read("names.bin"), 1);
    EXPECT_EQ(g_B3DState->bodyIds.dynamicCount, kBodies);
    EXPECT_EQ(g_B3DState->cutIds.dynamicCount, 2);
    EXPECT_EQ(B3D_GetBodyID("v\\b1204"), 21204);
    EXPECT_EQ(B3D_GetBodyID("v\\b7"), 20007);
    EXPECT_EQ(B3D_BodySlotOf(20003)->name, nullptr);
    EXPECT_EQ(B3D_GetCutID("cut\\two"), 50001);
    EXPECT_EQ(B3D_GetCutFilename(50000, 1), "cut\\one");
    const B3DBodySlot* s = B3D_BodySlotOf(20000);
    EXPECT_EQ(s->data, -2);
    EXPECT_EQ(s->collWord, -2);
    EXPECT_EQ(s->fileEntry, -1);
    EXPECT_EQ(s->used, 0);
    // A new name goes on after the ones read.
    EXPECT_EQ(B3D_GetBodyID("v\\new"), 20000 + kBodies);
}

TEST_F(IdNames, BadBlocksFail) {
    auto file = [&](const char* name, std::vector<uint8_t> bytes) { folder_->WriteBytes(name, bytes); };
    // Two bodies announced, one there.
    file("short.bin", {0, 0, 0, 2, 3, 'a', 'b', 'c'});
    // One body more than a block may hold.
    const uint32_t tooMany = B3D_MAX_DYNAMIC_NAMES + 1;
    file("many.bin", {uint8_t(tooMany >> 24), uint8_t(tooMany >> 16), uint8_t(tooMany >> 8), uint8_t(tooMany)});
    // A body name cut short.
    file("cut.bin", {0, 0, 0, 1, 5, 'a', 'b'});
    EXPECT_EQ(Read("short.bin"), 0);
    EXPECT_EQ(g_B3DState->bodyIds.dynamicCount, 1);
    EXPECT_EQ(B3D_GetBodyFilename(20000, 1), "abc");
    LogCapture log;
    EXPECT_EQ(Read("many.bin"), 0);
    EXPECT_TRUE(log.Contains("B3D_ReadIdNameTables() 80001 body names are too many!\n"));
    EXPECT_EQ(g_B3DState->bodyIds.dynamicCount, 0);
    EXPECT_EQ(Read("cut.bin"), 0);
    EXPECT_EQ(g_B3DState->bodyIds.dynamicCount, 0);
}

}  // namespace
