// The detail switch with its distances, detail objects and debris steps; the
// placement setters; missile launch; the move of a laser into a ship.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cockpit/standin.h"
#include "scene/allocs.h"
#include "scene/records.h"
#include "script/modules.h"
#include "space/callnames.h"
#include "space/create.h"
#include "space/detail.h"
#include "space/queries.h"
#include "space/space_fixture.h"
#include "space/utility.h"
#include "support/script_run.h"

namespace {

constexpr int32_t kStoryObject = 77;

// Object 77 tells the test module every callback it gets, with its arguments.
std::string Story() {
    std::string s = "    end\n.object 77\n";
    const struct {
        const char* name;
        int args;
    } callbacks[] = {{"SelfDestruct", 1}, {"DetailSwitch", 1}, {"MissileLaunched", 1}, {"MissileAlert", 2}};
    for (const auto& c : callbacks) {
        s += ".func \"" + std::string(c.name) + "\" need 8\n";
        for (int k = c.args - 1; k >= 0; --k) s += "    getl " + std::to_string(4 + k) + "\n";
        s += "    pushs \"" + std::string(c.name) + "\"\n    pushw " + std::to_string(c.args + 1) +
             "\n    sys \"T_Now\"\n    ret\n";
    }
    return s;
}

class DetailTest : public SpaceTest {
protected:
    void SetUp() override {
        SpaceTest::SetUp();
        saved_ = g_SEContext;
        runner_ = std::make_unique<StoryRunner>();
        g_SEContext = runner_->ctx();
        root_.moduleNumber = SB_RegisterEngineModule(runner_->ctx(), SA_SysCall, SA_GetCallNames(),
                                                     SA_ReturnIntCallback, nullptr, nullptr);
        ASSERT_TRUE(runner_->Load(Story()));
        StandIn_ClearObjectCalls();
    }
    void TearDown() override {
        g_TypeDB.globals = nullptr;
        g_TypeDB.globalCount = 0;
        SA_FreeAllObjects(&root_);
        runner_.reset();
        g_SEContext = saved_;
        SpaceTest::TearDown();
    }
    // The callbacks told so far, as "name arg ..." lines.
    std::vector<std::string> Told() const {
        std::vector<std::string> told;
        for (const RunCall& c : runner_->calls) {
            std::string line;
            for (std::string a : c.args) {
                if (a.size() >= 2 && a.front() == '\'' && a.back() == '\'') a = a.substr(1, a.size() - 2);
                line += (line.empty() ? "" : " ") + a;
            }
            told.push_back(line);
        }
        return told;
    }
    // A sector whose space scene has a camera at the origin.
    SectorObject* SectorWithCamera() {
        SectorObject* sector = New(SA_MT_SECTOR);
        Scene3D* scene = B3D_SceneAlloc();
        Camera3D* camera = B3D_CameraAlloc();
        B3D_SceneLinkInst(scene, camera);
        O_Sector(sector)->spaceScene = scene;
        return sector;
    }
    // A dock taking part in the detail switch, of size 1000, at (0, 0, z).
    SectorObject* Station(SectorObject* sector, int32_t z) {
        SectorObject* dock = New(SA_MT_DOCK);
        dock->flags2 |= SA_FLAG2_DETAIL;
        dock->size = 1000;
        dock->instance->pos = QelVector{0, 0, z, 0};
        Into(sector, dock);
        return dock;
    }
    void DetailDistance(int32_t value) {
        global_ = GlobalParameter{SA_GLOBAL_DETAIL_DISTANCE, value};
        g_TypeDB.globals = &global_;
        g_TypeDB.globalCount = 1;
    }
    static int32_t Id(const SectorObject* o) { return static_cast<int32_t>(o->id); }

    std::unique_ptr<StoryRunner> runner_;
    SE_Context* saved_ = nullptr;
    GlobalParameter global_{};
};

// A cut whose paths name the body 4001 (a ship type) with a position and a
// rotation key each; entered in the cut table for the test.
class DetailCut {
public:
    DetailCut(int32_t id, int32_t paths) : cut_(id, paths), rot_(static_cast<size_t>(paths)) {
        for (int32_t i = 0; i < paths; ++i) {
            cut_.Keys(i, {1000 * (i + 1)});
            cut_.path(i).reference = 4001;
            cut_.path(i).rotCount = 1;
            cut_.path(i).rotKeys = &rot_[static_cast<size_t>(i)];
        }
    }
    ~DetailCut() { cut_.Unload(); }
    TestCut& cut() { return cut_; }

private:
    TestCut cut_;
    std::vector<J3D_MotionKey> rot_;
};

TEST_F(DetailTest, TheSwitchFollowsTheCameraDistanceWithHysteresis) {
    SectorObject* sector = SectorWithCamera();
    struct Case {
        int32_t global;     // the detail distance (0: none)
        int32_t size;       // the object's size
        bool detailed;      // the state before
        int32_t distance;   // to the camera
        int32_t acted;      // the answer
        bool detailedAfter;
    } cases[] = {
        // Eight times the size to switch on, sixteen to switch off.
        {0, 1000, false, 7999, 1, true},  {0, 1000, false, 8000, 0, false}, {0, 1000, true, 15999, 0, true},
        {0, 1000, true, 16000, 1, false}, {0, 1000, false, 0, 0, false},    {0, 1000, true, 0, 1, false},
        // The detail distance once and twice.
        {5000, 0, false, 4999, 1, true},  {5000, 0, false, 5000, 0, false}, {5000, 0, true, 9999, 0, true},
        {5000, 0, true, 10000, 1, false}, {5000, 100, true, 1599, 0, true},
    };
    for (const Case& c : cases) {
        DetailDistance(c.global);
        SectorObject* dock = Station(sector, c.distance);
        dock->size = c.size;
        if (c.detailed) {
            dock->flags2 |= SA_FLAG2_DETAILED;
            dock->instance->flags |= SA_DETAILED_INST_FLAGS;
        }
        EXPECT_EQ(O_DetailSwitch(dock, 0, 0), c.acted) << c.global << " " << c.distance;
        EXPECT_EQ((dock->flags2 & SA_FLAG2_DETAILED) != 0, c.detailedAfter) << c.global << " " << c.distance;
        EXPECT_EQ((dock->instance->flags & SA_DETAILED_INST_FLAGS) != 0, c.detailedAfter);
    }
    // Forced, the distance does not count; held, out of play or not switching, nothing.
    SectorObject* dock = Station(sector, 1000000);
    EXPECT_EQ(O_DetailSwitch(dock, 1, 1), 1);
    EXPECT_TRUE(dock->flags2 & SA_FLAG2_DETAILED);
    dock->flags2 |= SA_FLAG2_DETAIL_HELD;
    EXPECT_EQ(O_DetailSwitch(dock, 1, 0), 0);
    SectorObject* loose = New(SA_MT_DOCK);
    loose->flags2 |= SA_FLAG2_DETAIL;
    EXPECT_EQ(O_DetailSwitch(loose, 1, 1), 0);
    SectorObject* plain = Station(sector, 10);
    plain->flags2 &= ~SA_FLAG2_DETAIL;
    EXPECT_EQ(O_DetailSwitch(plain, 1, 1), 0);
}

TEST_F(DetailTest, DetailObjectsComeFromTheCutAndEndWithThePlainState) {
    Types(SA_MT_SHIP, 1)->field[SA_TF_BODY] = 4001;
    Types(SA_MT_DOCK, 1)->field[SA_TF_STATION_CUT] = 700;
    DetailCut cut(700, 3);
    cut.cut().path(2).rotCount = 0;  // no rotation key: no object
    SectorObject* sector = SectorWithCamera();
    SectorObject* dock = Station(sector, 500);
    dock->instance->pos = QelVector{100, 0, 500, 0};
    Qel_MatFromAngles(&dock->instance->matrix, 16384, 0, 0);  // a quarter turn: its x axis is world -z
    ASSERT_EQ(O_DetailSwitch(dock, 0, 0), 1);
    std::vector<SectorObject*> parts;
    for (SectorObject* o = SA_ListFirst(O_GetChildList(sector)); o; o = SA_ListNext(o))
        if (o->parent == dock) parts.push_back(o);
    ASSERT_EQ(parts.size(), 2u);
    const QelVector unit{1000, 0, 0, 0};
    QelVector axis{};
    Qel_MatMulVec(&dock->instance->matrix, &unit, &axis);
    for (size_t i = 0; i < parts.size(); ++i) {
        EXPECT_EQ(parts[i]->mainType, SA_MT_SHIP);
        EXPECT_EQ(parts[i]->instance->pos.x, 100 + axis.x * int32_t(i + 1)) << i;
        EXPECT_EQ(parts[i]->instance->pos.z, 500 + axis.z * int32_t(i + 1)) << i;
        EXPECT_EQ(parts[i]->rot[0], 16384) << i;  // the path's own turn is none
    }
    parts[0]->eventObject = kStoryObject;
    // Placed far from the camera, it ends plain: one part is told, one killed.
    O_SetPos(dock, 0, 0, 1000000);
    EXPECT_FALSE(dock->flags2 & SA_FLAG2_DETAILED);
    EXPECT_EQ(dock->instance->pos.z, 1000000);
    EXPECT_EQ(dock->instance->worldPos.z, 1000000);
    EXPECT_EQ(Told(), (std::vector<std::string>{"SelfDestruct 19"}));
    EXPECT_EQ(parts[0]->parent, nullptr);
    EXPECT_FALSE(parts[0]->flags & SA_FLAG_KILLED);
    EXPECT_TRUE(parts[1]->flags & SA_FLAG_KILLED);
    // Placed near again, it is detailed again.
    O_SetPos(dock, 0, 0, 10);
    EXPECT_TRUE(dock->flags2 & SA_FLAG2_DETAILED);
}

}  // namespace
