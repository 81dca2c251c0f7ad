// Instances a story frees through the scene engine's own calls while space
// objects still name them: the objects let go of them and stay in play
// without visuals, through frames, calls and a save and load.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "scene/allocs.h"
#include "scene/caches.h"
#include "scene/freeing.h"
#include "scene/takes.h"
#include "scene/trees.h"
#include "script/tasks.h"
#include "space/create.h"
#include "space/cutscene.h"
#include "space/kill.h"
#include "space/order_fixture.h"
#include "space/records.h"
#include "space/save.h"
#include "space/space_fixture.h"
#include "support/gamefolder.h"
#include "support/sectionfile.h"
#include "system/clock.h"

namespace {

const char* const kStory = R"(
    end
.func "Take" need 16
    getl 4
    pushw 1
    sys "SA_AllocTake"
    ret
.func "Play" need 16
    pushw 0
    pushw 0
    getl 7
    pushw 0
    pushw 801
    getl 9
    pushw 6
    sys "SA_StartTake"
    ret
.func "FreeInst" need 16
    getl 4
    pushw 1
    sys "B3D_InstFree"
    ret
.func "FreeSceneTake" need 16
    getl 4
    pushw 1
    sys "J3D_TakeFree"
    ret
)";

class InstFree : public SectorStoryTest {
protected:
    void SetUp() override {
        SpaceStoryTest::SetUp();
        SetUpSector(kStory, true);
    }
    SectorObject* Ship(int32_t z) { return At(SA_MT_SHIP, z); }
    // Every call of the space module on the object, answered or not (some
    // free it: the rest then meet a freed id).
    void CallEverything(int32_t id) {
        const char* const* names = SA_GetCallNames();
        for (int32_t call = 0; names[call]; ++call) {
            SE_Task task{};
            task.id = 77;
            std::vector<ScriptValue> args = {IntValue(id), IntValue(1), IntValue(id), IntValue(0)};
            SA_SysCall(root_.moduleNumber, &task, call, static_cast<int32_t>(args.size()), args.data());
            if (task.callResult.tag) SV_Release(&task.callResult);
        }
    }
};

TEST_F(InstFree, AnObjectOutlivesTheInstanceTheStoryFrees) {
    const int16_t mainTypes[] = {SA_MT_SHIP,     SA_MT_DOCK, SA_MT_FACTORY, SA_MT_SUN,     SA_MT_PLANET, SA_MT_MISSILE,
                                 SA_MT_ASTEROID, SA_MT_GATE, SA_MT_CAMERA,  SA_MT_SPECIAL, SA_MT_DEBRIS};
    for (const int16_t m : mainTypes) {
        SCOPED_TRACE(m);
        if (m != SA_MT_SHIP) Types(m, 1);
        SectorObject* o = New(m);
        ASSERT_NE(o, nullptr);
        ASSERT_NE(o->instance, nullptr);
        O_SetContainer(o, sector_);
        SectorObject* other = Ship(5000);
        const uint32_t id = o->id;
        const uint32_t sectorId = sector_->id;
        runner_->Start(0, "FreeInst", {static_cast<int32_t>(o->instance->id)});
        EXPECT_EQ(o->instance, nullptr);
        EXPECT_EQ(SA_FindObjectByID(id), o);  // still in play, without visuals
        ASSERT_NE(other->instance, nullptr);
        for (int i = 0; i < 3; ++i) Frame(16);
        const std::vector<uint8_t> saved = SectionWritten(SA_SaveSectors);
        SA_FreeAllObjects(&root_);
        ST_RemoveAllTakes(&root_);
        EXPECT_EQ(SectionRead(*folder_, saved, SA_ReadSectors), 1);
        SectorObject* loaded = SA_FindObjectByID(id);
        ASSERT_NE(loaded, nullptr);
        EXPECT_EQ(loaded->instance, nullptr);
        sector_ = SA_FindObjectByID(sectorId);
        ASSERT_NE(sector_, nullptr);
        Frame(16);
        CallEverything(static_cast<int32_t>(id));
        Frame(16);
    }
}

// The scene take a space take shares its id with frees the instances lent to
// it: the task waiting on the start hears that the take stopped, and the
// object whose instance played in it keeps none.
TEST_F(InstFree, FreeingTheSharedSceneTakeAnswersTheStartAndKeepsObjectsValid) {
    runner_->Start(0, "Take", {Id(sector_)});
    ASSERT_EQ(runner_->answers.size(), 1u);
    const int32_t id = runner_->answers[0].n;
    runner_->answers.clear();
    SA_Take* take = ST_FindTake(id);
    ASSERT_NE(take, nullptr);
    ASSERT_EQ(ST_StartTake(take, 801, -1, 0, nullptr), 1);
    ASSERT_EQ(take->slotCount, 1);
    SectorObject* actor = Ship(0);
    B3D_InstFree(take->slots[0].inst);
    take->slots[0] = SA_TakeSlot{actor->instance, actor->instance->id, actor};
    runner_->Start(0, "Play", {id, static_cast<int32_t>(actor->instance->id)});
    EXPECT_TRUE(Results().empty());  // the task waits on the take
    runner_->Start(0, "FreeSceneTake", {id});
    SE_RunAllTasks();
    EXPECT_EQ(Results(), (std::vector<int32_t>{0, B3D_REPLY_TAKE_STOPPED}));
    EXPECT_EQ(actor->instance, nullptr);
    EXPECT_EQ(SA_FindObjectByID(actor->id), actor);
    for (int i = 0; i < 3; ++i) Frame(16);
    CallEverything(Id(actor));
    Frame(16);
}

}  // namespace
