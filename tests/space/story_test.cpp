// One assembled story through the space calls of every range, in a running
// sector with frames between its waits: it places a ship, a camera and a
// debris field, reads and sets their properties, asks the types database, plays
// a sound at the ship, starts a take and waits for its end, sends the ship to
// collect the debris and waits for that too, and logs what it learned. The
// types come from the types writer and the take's cut from the cut converter.
// And every call number has an implementation, but the one left out by design.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cockpit/effects.h"
#include "scene/caches.h"
#include "scene/freeing.h"
#include "scene/takes.h"
#include "script/arrays.h"
#include "script/tasks.h"
#include "space/create.h"
#include "space/cutscene.h"
#include "space/order_fixture.h"
#include "space/syscall.h"
#include "space/typesdb.h"
#include "support/gamefolder.h"
#include "support/logcapture.h"
#include "system/clock.h"
#include "tools/lib/types_writer.h"

namespace {

constexpr int32_t kCut = 801;
constexpr int32_t kSound = 42;
constexpr int32_t kEnd = 7;

// Globals the test gives: 0 the pose array, 1 the debris point array, 2 the
// sector. "Main" fills the others and answers kEnd when it has logged its line.
const char* const kStory = R"(
    end
.var "Pose" int 0
.var "Point" int 0
.var "Sector" int 0
.var "Ship" int 0
.var "Camera" int 0
.var "Field" int 0
.var "Hull" int 0
.var "Z" int 0
.var "Take" int 0
.var "TakeEnd" int 0
.var "Collected" int 0
.var "CameraType" int 0
.func "Main" need 16
    c0
    pushw 7
    c2
    sys "SA_AllocObject"
    setg 3
    pop
    getg 2
    getg 3
    c2
    sys "SA_StartObjectInSpace"
    pop
    c0
    pushw 19
    c2
    sys "SA_AllocObject"
    setg 4
    pop
    getg 2
    getg 4
    c2
    sys "SA_StartObjectInSpace"
    pop
    c0
    pushw 28
    c2
    sys "SA_AllocObject"
    setg 5
    pop
    getg 2
    getg 5
    c2
    sys "SA_StartObjectInSpace"
    pop
    getg 0
    getg 3
    c2
    sys "SA_SetPosAndRot"
    pop
    getg 0
    getg 3
    c2
    sys "SA_GetPosAndRot"
    pop
    getg 0
    getg 4
    c2
    sys "SA_SetPosAndRot"
    pop
    c1
    getg 4
    c2
    sys "SA_SetCameraConnectMode"
    pop
    getg 3
    c1
    sys "SA_GetPosZ"
    setg 7
    pop
    getg 7
    getg 3
    c1
    sys "SA_GetPosY"
    getg 3
    c1
    sys "SA_GetPosX"
    getg 5
    pushw 4
    sys "SA_SetPos"
    pop
    getg 4
    c1
    sys "SA_GetMainType"
    setg 11
    pop
    c0
    pushw 7
    c2
    sys "SA_GetTypeMaxHull"
    setg 6
    pop
    pushw 42
    getg 3
    c2
    sys "SA_DoObjectSound"
    pop
    getg 2
    c1
    sys "SA_AllocTake"
    setg 8
    pop
    c0
    c0
    getg 3
    c1
    sys "SA_GetInst3D"
    pushw -1
    pushw 801
    getg 8
    pushw 6
    sys "SA_StartTake"
    setg 9
    pop
    getg 1
    getg 5
    getg 3
    pushw 3
    sys "SA_CollectDebris"
    setg 10
    pop
    getg 10
    getg 9
    getg 6
    getg 11
    getg 7
    pushds "Story: z %d camera %d hull %d take %d collected %d\n"
    c0
    pushw 7
    sys "SE_DMprintf"
    pop
    pushw 7
    ret
)";

struct Heard {
    int32_t effect = 0;
    uint32_t inst = 0;
};
Heard s_heard;

int Play3D(int32_t, int32_t, int32_t effect, Inst3D* instance) {
    s_heard = Heard{effect, instance ? instance->id : 0};
    return 1;
}

ScriptValue Ints(std::vector<int32_t> w) {
    ScriptValue v{};
    SV_ArrayAlloc(&v, static_cast<int32_t>(w.size()));
    for (size_t i = 0; i < w.size(); ++i) SV_ArrayWriteInt(&v, static_cast<int32_t>(i), w[i]);
    return v;
}

class WholeStory : public SpaceStoryTest {
protected:
    void SetUp() override {
        SpaceStoryTest::SetUp();
        system_->app = TestAppDescriptor();
        folder_ = std::make_unique<TempGameFolder>();
        std::string error;
        ASSERT_TRUE(Tool_WriteTypesFiles(EmptyTypes() + kOneShipTypeSource, folder_->Path() + "/types", -1, &error))
            << error;
        SA_FreeObjectDB();
        ASSERT_EQ(SA_LoadObjectDB(&root_), 1);
        // The sector and the debris field have no fields the story reads.
        Types(SA_MT_SECTOR, 1);
        Types(SA_MT_DEBRIS, 1);
        // The take runs for two seconds.
        WriteSourceCut(*folder_, kCut,
                       "path 0 -1\n  key 0x800 2000 0 0 0 0 0 0 0.25\n  key 0x800 -1 65536 0 0 0 0 0 0.25\n");
        savedSound_ = g_EOSoundLink;
        g_EOSoundLink = {&Play3D, nullptr};
        s_heard = Heard{};
        SetUpStory(kStory);
        SetClock(1000000);
        sector_ = New(SA_MT_SECTOR);
        O_Sector(sector_)->spaceScene = B3D_SceneAlloc();
        root_.running = 1;
    }
    void TearDown() override {
        g_EOSoundLink = savedSound_;
        SA_FreeAllObjects(&root_);
        ST_RemoveAllTakes(&root_);
        J3D_TakeFreeAll();
        J3D_FreeAllCuts();
        SpaceStoryTest::TearDown();
        folder_.reset();
    }
    void SetGlobal(int i, ScriptValue v) {
        ScriptValue& var = runner_->ctx()->objects[0].variables[i];
        SV_Release(&var);
        var = v;
    }
    int32_t Global(int i) const { return runner_->ctx()->objects[0].variables[i].i; }
    void Frame(int32_t ms) {
        SetClock(S_ClockAdvance(system_->gameClock, ms));
        system_->gameFrameDelta = ms;
        J3D_TakesUpdate();
        SA_UpdateSpace();
        SA_DeleteKilledObjects();
        SE_RunAllTasks();
    }

    SectorObject* sector_ = nullptr;
    std::unique_ptr<TempGameFolder> folder_;
    EOSoundLink savedSound_{};
};

TEST_F(WholeStory, RunsThroughEveryRangeToItsEnd) {
    constexpr int32_t kZ = 50000;
    SetGlobal(0, Ints({0, 0, kZ, 0, 0, 0}));
    SetGlobal(1, Ints({0, 0, kZ + 10000}));
    SetGlobal(2, IntValue(static_cast<int32_t>(sector_->id)));
    LogCapture log;
    runner_->Start(0, "Main");
    // The task waits on the take first.
    EXPECT_TRUE(runner_->answers.empty());
    SectorObject* ship = SA_FindObjectByID(static_cast<uint32_t>(Global(3)));
    SectorObject* camera = SA_FindObjectByID(static_cast<uint32_t>(Global(4)));
    SectorObject* field = SA_FindObjectByID(static_cast<uint32_t>(Global(5)));
    ASSERT_NE(ship, nullptr);
    ASSERT_NE(camera, nullptr);
    ASSERT_NE(field, nullptr);
    for (const SectorObject* o : {ship, camera, field}) {
        EXPECT_EQ(o->container, sector_);
        EXPECT_EQ(o->instance->pos.z, kZ);
    }
    EXPECT_EQ(O_CameraData(camera)->connectMode, 1);
    EXPECT_EQ(s_heard.effect, kSound);
    EXPECT_EQ(s_heard.inst, ship->instance->id);
    int32_t ms = 0;
    for (; ms < 10000 && runner_->answers.empty(); ms += 50) Frame(50);
    ASSERT_EQ(runner_->answers.size(), 1u) << log.Text();
    EXPECT_EQ(runner_->answers[0].n, kEnd);
    // The take ended after its two seconds, and the ship was at the debris.
    EXPECT_GE(ms, 2000);
    EXPECT_LE(ms, 2200);
    const int32_t hull = SA_GetTypeRecord(SA_MT_SHIP, 0)->field[SA_TF_SHIP_MAX_HULL];
    EXPECT_NE(hull, 0);
    const std::string line = "Story: z " + std::to_string(kZ) + " camera " + std::to_string(SA_MT_CAMERA) + " hull " +
                             std::to_string(hull) + " take 1 collected 1\n";
    EXPECT_TRUE(log.Contains(line)) << log.Text();
    EXPECT_FALSE(log.Contains("ERROR")) << log.Text();
}

// Every call number has its implementation, but "SA_CheckDistances", which
// has none by design.
TEST(SpaceCallTable, EveryCallButOneIsImplemented) {
    for (int32_t n = 0; n < SA_CALL_NAME_COUNT; ++n) {
        SCOPED_TRACE(n);
        EXPECT_EQ(SA_GetCallFn(n) != nullptr, n != 260);
    }
    EXPECT_EQ(SA_GetCallFn(SA_CALL_NAME_COUNT), nullptr);
    EXPECT_EQ(SA_GetCallFn(-1), nullptr);
}

}  // namespace
