#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "base/table.h"
#include "cockpit/galaxy.h"
#include "cockpit/galaxymap.h"
#include "cockpit/syscall.h"
#include "cockpit_fixture.h"
#include "scene/allocs.h"
#include "scene/body_fixture.h"
#include "scene/cutfiles.h"
#include "scene/lists.h"
#include "scene/names.h"
#include "scene/state.h"
#include "script/tasks.h"
#include "support/script_run.h"
#include "tools/lib/bodyconv.h"
#include "tools/lib/cutconv.h"

namespace {

using Calls = std::vector<std::string>;

// Each function hands its number and arguments to "T_Now" and answers what
// the test answers.
constexpr const char* kMapStory = R"(
    end
.func "ConvertSectorNameID" need 8
    getl 5
    getl 5
    pushw 2
    c3
    sys "T_Now"
    ret
.func "WriteGalaxyMapSectorName" need 8
    getl 7
    getl 7
    getl 7
    getl 7
    pushw 3
    c5
    sys "T_Now"
    ret
.object 2100
.func "GetMapSectorState" need 8
    getl 5
    getl 5
    pushw 0
    c3
    sys "T_Now"
    ret
.func "GetMapGateState" need 8
    getl 6
    getl 6
    getl 6
    pushw 1
    c4
    sys "T_Now"
    ret
)";
const char* const kFunctions[] = {"GetMapSectorState", "GetMapGateState", "ConvertSectorNameID",
                                  "WriteGalaxyMapSectorName"};

constexpr int32_t kUnit = 0x10000;

// One sector path of the layout cut at a place (two keys that stay there).
std::string Path(int32_t key, int32_t x, int32_t y, int32_t z) {
    const std::string at = std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(z) + " 0 0 0\n";
    return "path " + std::to_string(key) + " -1\n  key 0x0 1000 " + at + "  key 0x0 -1 " + at;
}

class GalaxyMapTest : public CockpitTest {
protected:
    void SetUp() override {
        CockpitTest::SetUp();
        ASSERT_FALSE(ID_GalaxyMapBuilt());
        bodies_ = std::make_unique<BodyFolder>();
        std::string text, error;
        ASSERT_TRUE(Tool_ModelToTextBody("v -1 -1 0\nv 1 -1 0\nv 0 1 0\nf 1 2 3\n", &text, &error)) << error;
        for (int i = 0; i < ID_SECTOR_BODIES; ++i)
            bodies_->folder()->Write("v/effects/menugfx/galaxy_map_sector_" + std::to_string(i) + ".bod", text);
        bodies_->WriteBody(ID_CONNECTION_BODY, text);

        ASSERT_EQ(GS_AllocGalaxy(&grid_, GS_ROWS, GS_COLUMNS), 1);
        savedGrid_ = g_GalaxyGrid;
        g_GalaxyGrid = &grid_;

        saved_ = g_SEContext;
        runner_ = std::make_unique<StoryRunner>();
        g_SEContext = runner_->ctx();
        INS_RegisterSysCalls();
        ASSERT_TRUE(runner_->Load(kMapStory));
        runner_->handler = [this](SE_Task* task, int32_t, int32_t argc, ScriptValue* args) {
            std::string note = kFunctions[args[0].i];
            std::vector<int32_t> a;
            for (int32_t i = 1; i < argc; ++i) {
                note += " " + std::to_string(args[i].i);
                a.push_back(args[i].i);
            }
            calls_.push_back(note);
            if (during_) during_(args[0].i);
            int32_t answer = 0;
            if (args[0].i == 0) {
                if (silent_ == std::make_pair(a[0], a[1])) return 1;  // never answers
                answer = states_[{a[0], a[1]}];
            }
            if (args[0].i == 1) answer = gates_[{a[0], a[1], a[2]}];
            SE_TaskReturnInt(task, answer);
            return 1;
        };

        g_B3DState->screenWidth = 640;
        g_B3DState->screenHeight = 480;
        scene_ = B3D_SceneAlloc();
        camera_ = B3D_CameraAlloc();
        ASSERT_TRUE(scene_ && camera_);
        B3D_SceneLinkInst(scene_, camera_);
        camera_->aspect[0] = camera_->aspect[1] = kUnit;
    }
    void TearDown() override {
        if (Scene3D* scene = B3D_SceneFind(sceneId())) {
            ID_ClearGalaxyMap(scene);
            B3D_SceneFree(scene);
        }
        EXPECT_FALSE(ID_GalaxyMapBuilt());
        INS_FreeCockpitSystem();
        runner_.reset();
        g_SEContext = saved_;
        g_GalaxyGrid = savedGrid_;
        GS_FreeGalaxy(&grid_);
        while (uint32_t k = Qel_TableNext(g_B3DState->cutTable, 0))
            J3D_ReleaseCutMemory(reinterpret_cast<J3D_Cut*>(Qel_TableRemove(g_B3DState->cutTable, k)));
        bodies_.reset();
        CockpitTest::TearDown();
    }
    uint32_t sceneId() const { return sceneId_ ? sceneId_ : scene_->id; }

    void WriteCut(const std::string& source) {
        std::string text, error;
        ASSERT_TRUE(Tool_CutSourceToText(source, &text, &error)) << error;
        bodies_->folder()->Write("cut/effects/menugfx/galaxy_map.bod", text);
    }
    // A gate of a sector to a target sector.
    void Gate(int32_t r, int32_t c, int32_t slot, int32_t tr, int32_t tc) {
        GateSlot& g = grid_.sectors[r * GS_COLUMNS + c].gates[slot];
        g.targetRow = static_cast<int8_t>(tr);
        g.targetColumn = static_cast<int8_t>(tc);
        g.targetGate = 0;
    }
    // One call of the map; the story functions it started.
    Calls Map(int32_t rowA = 99, int32_t colA = 0, int32_t rowB = 99, int32_t colB = 0, int32_t distance = 0,
              int32_t zoom = 0) {
        calls_.clear();
        const int32_t values[6] = {rowA, colA, rowB, colB, distance, zoom};
        last_ = ID_BuildGalaxyMap(scene_, values);
        return calls_;
    }
    static Calls Only(const Calls& calls, const std::string& name) {
        Calls out;
        for (const std::string& c : calls)
            if (c.rfind(name + " ", 0) == 0) out.push_back(c);
        return out;
    }
    // The names of the scene's instances, in order.
    std::vector<std::string> Names() const {
        std::vector<std::string> out;
        for (const Inst3D* i = B3D_First<Inst3D>(&scene_->insts); i; i = B3D_Next(i))
            out.push_back(i->name ? i->name : "");
        return out;
    }
    const Inst3D* Named(const std::string& name) const {
        for (const Inst3D* i = B3D_First<Inst3D>(&scene_->insts); i; i = B3D_Next(i))
            if (i->name && name == i->name) return i;
        return nullptr;
    }
    static int32_t SectorBody(int i) {
        return B3D_GetBodyID(("effects\\menugfx\\galaxy_map_sector_" + std::to_string(i)).c_str());
    }

    std::unique_ptr<BodyFolder> bodies_;
    GalaxyGrid grid_{};
    std::unique_ptr<StoryRunner> runner_;
    std::map<std::pair<int32_t, int32_t>, int32_t> states_;
    std::map<std::tuple<int32_t, int32_t, int32_t>, int32_t> gates_;
    std::pair<int32_t, int32_t> silent_{-1, -1};
    Calls calls_;
    std::function<void(int32_t)> during_;  // run as each question is asked
    Scene3D* scene_ = nullptr;
    uint32_t sceneId_ = 0;
    Camera3D* camera_ = nullptr;
    int32_t last_ = -1;

private:
    GalaxyGrid* savedGrid_ = nullptr;
    SE_Context* saved_ = nullptr;
};

TEST_F(GalaxyMapTest, WithoutTheLayoutCutNothingIsBuilt) {
    states_[{0, 0}] = 1;
    EXPECT_TRUE(Map().empty());
    EXPECT_EQ(last_, 0);
    EXPECT_FALSE(ID_GalaxyMapBuilt());
}

TEST_F(GalaxyMapTest, ASectorOfStateZeroGetsNoInstanceNoGatesAndNoName) {
    WriteCut(Path(ID_SectorKey(1, 1), 0, 0, 4 * kUnit) + Path(ID_SectorKey(1, 2), kUnit, 0, 4 * kUnit) +
             Path(ID_ConnectionKey(1, 2, 0, -1), kUnit / 2, 0, 4 * kUnit));
    states_[{1, 1}] = 1;
    Gate(1, 2, 0, 1, 1);
    gates_[{1, 2, 0}] = 1;
    const Calls calls = Map();
    EXPECT_EQ(last_, 1);
    EXPECT_EQ(Only(calls, "GetMapSectorState").size(), size_t(GS_ROWS * GS_COLUMNS + 1));  // the build, then the update
    EXPECT_EQ(Only(calls, "ConvertSectorNameID"), Calls{"ConvertSectorNameID 1 1"});
    EXPECT_EQ(Only(calls, "GetMapGateState"), (Calls{"GetMapGateState 1 1 0", "GetMapGateState 1 1 1",
                                                     "GetMapGateState 1 1 2", "GetMapGateState 1 1 3"}));
    EXPECT_EQ(Only(calls, "WriteGalaxyMapSectorName").size(), 1u);
    EXPECT_EQ(Names(), (std::vector<std::string>{"Sector 1-1"}));
    const Inst3D* sector = Named("Sector 1-1");
    EXPECT_EQ(sector->bodyId, SectorBody(0));
    EXPECT_EQ(sector->pos.z, 4 * kUnit);  // placed by its path
}

TEST_F(GalaxyMapTest, OnlyGateSlotsZeroToThreeAreDrawn) {
    std::string cut = Path(ID_SectorKey(5, 5), 0, 0, 4 * kUnit);
    for (int dr = -1; dr <= 1; ++dr)
        for (int dc = -1; dc <= 1; ++dc) cut += Path(ID_ConnectionKey(5, 5, dr, dc), dc * kUnit, dr * kUnit, 4 * kUnit);
    WriteCut(cut);
    states_[{5, 5}] = 2;
    const int32_t targets[GS_GATES][2] = {{4, 5}, {5, 9}, {7, 3}, {0, 0}, {6, 6}, {4, 4}};
    for (int32_t slot = 0; slot < GS_GATES; ++slot) {
        if (slot != 3) Gate(5, 5, slot, targets[slot][0], targets[slot][1]);  // slot 3 is empty
        gates_[{5, 5, slot}] = slot == 1 ? 0 : 1;                             // slot 1 is not drawn
    }
    const Calls calls = Map();
    EXPECT_EQ(Only(calls, "GetMapGateState").size(), 4u);
    EXPECT_EQ(Names(), (std::vector<std::string>{"Sector 5-5", "Connect 5-5 -> 4-5", "Connect 5-5 -> 7-3"}));
    const Inst3D* south = Named("Connect 5-5 -> 7-3");
    EXPECT_EQ(south->bodyId, ID_CONNECTION_BODY);
    EXPECT_EQ(south->pos.x, -kUnit);  // the path toward row + 1, column - 1
    EXPECT_EQ(south->pos.y, kUnit);
}

TEST_F(GalaxyMapTest, ASectorOnTheCamerasEdgeGetsNoName) {
    // The camera stays at the origin looking along z (no sectors A and B).
    WriteCut(Path(ID_SectorKey(2, 3), 2 * kUnit, 0, 2 * kUnit) + Path(ID_SectorKey(2, 4), kUnit, 0, 2 * kUnit) +
             Path(ID_SectorKey(2, 5), 0, -2 * kUnit, 2 * kUnit) + Path(ID_SectorKey(2, 6), 0, 0, -2 * kUnit));
    for (int c = 3; c <= 6; ++c) states_[{2, c}] = 1;
    const Calls names = Only(Map(), "WriteGalaxyMapSectorName");
    ASSERT_EQ(names.size(), 1u);
    // Half a screen (320 pixels) across at half the depth; the name sits
    // half the body's height above its centre.
    const int32_t h = 240 * Named("Sector 2-4")->size / (2 * kUnit);
    EXPECT_EQ(names[0], "WriteGalaxyMapSectorName 2 4 160 " + std::to_string(-(h / 2)));
}

TEST_F(GalaxyMapTest, TheMapIsBuiltOnceUpdatedOnEveryCallAndBuiltAgainAfterAClear) {
    WriteCut(Path(ID_SectorKey(0, 0), 0, 0, 4 * kUnit));
    states_[{0, 0}] = 1;
    EXPECT_EQ(Only(Map(), "ConvertSectorNameID").size(), 1u);
    EXPECT_TRUE(ID_GalaxyMapBuilt());
    for (int i = 0; i < 2; ++i) {
        const Calls again = Map();
        EXPECT_TRUE(Only(again, "ConvertSectorNameID").empty());
        EXPECT_EQ(Only(again, "GetMapSectorState"), Calls{"GetMapSectorState 0 0"});
        EXPECT_EQ(Only(again, "WriteGalaxyMapSectorName").size(), 1u);
    }
    EXPECT_EQ(Names().size(), 1u);
    ID_ClearGalaxyMap(scene_);
    EXPECT_FALSE(ID_GalaxyMapBuilt());
    EXPECT_TRUE(Names().empty());
    EXPECT_EQ(Only(Map(), "ConvertSectorNameID").size(), 1u);
    EXPECT_EQ(Names().size(), 1u);
    EXPECT_EQ(Names(), (std::vector<std::string>{"Sector 0-0"}));
}

TEST_F(GalaxyMapTest, AFreedSceneIsBuiltAnewInTheNext) {
    WriteCut(Path(ID_SectorKey(0, 0), 0, 0, 4 * kUnit));
    states_[{0, 0}] = 1;
    Map();
    B3D_SceneFree(scene_);  // a location reset frees every scene
    scene_ = B3D_SceneAlloc();
    camera_ = B3D_CameraAlloc();
    B3D_SceneLinkInst(scene_, camera_);
    EXPECT_EQ(Only(Map(), "ConvertSectorNameID").size(), 1u);
    EXPECT_EQ(Names(), (std::vector<std::string>{"Sector 0-0"}));
}

TEST_F(GalaxyMapTest, StatesOutsideOneToSixKeepTheBody) {
    WriteCut(Path(ID_SectorKey(3, 3), 0, 0, 4 * kUnit));
    states_[{3, 3}] = 1;
    Map();
    const struct { int32_t state, body; } cases[] = {{4, 3}, {7, 3}, {6, 5}, {-1, 5}, {0, 5}, {1, 0}, {1000, 0}};
    for (const auto& c : cases) {
        states_[{3, 3}] = c.state;
        Map();
        EXPECT_EQ(Named("Sector 3-3")->bodyId, SectorBody(c.body)) << c.state;
    }
}

TEST_F(GalaxyMapTest, TheCameraMovesOnlyBetweenTwoSectorsOfTheGrid) {
    WriteCut(Path(ID_SectorKey(0, 0), 0, 0, 0) + Path(ID_SectorKey(0, 1), 4 * kUnit, 0, 0));
    states_[{0, 0}] = states_[{0, 1}] = 1;
    const QelVector start{123, 456, 789, 0};
    const struct {
        int32_t rowA, colA, rowB, colB;
    } outside[] = {{-1, 0, 0, 1}, {24, 0, 0, 1},   {0, 20, 0, 1},  {0, 0, 0, -1},
                   {0, 0, 0, 2},  {0, 0, 1000, 1}, {1, -20, 0, 1}, {0, 0, -1, 21}};
    for (const auto& o : outside) {
        camera_->inst.pos = start;
        Map(o.rowA, o.colA, o.rowB, o.colB, 10, kUnit);
        EXPECT_EQ(camera_->inst.pos.x, start.x) << o.rowA << " " << o.colA << " " << o.rowB << " " << o.colB;
        EXPECT_EQ(camera_->inst.pos.z, start.z);
    }
    Map(0, 0, 0, 1, 3 * kUnit, 2 * kUnit);
    EXPECT_EQ(camera_->inst.pos.x, kUnit);  // a unit toward B
    EXPECT_EQ(camera_->inst.pos.y, 0);
    EXPECT_EQ(camera_->inst.pos.z, -6 * kUnit);
}

TEST_F(GalaxyMapTest, AQuestionLeftUnansweredCountsAsZero) {
    // The last question before is answered 1 (its gate slot is empty); the
    // next one is never answered.
    WriteCut(Path(ID_SectorKey(4, 3), 0, 0, 4 * kUnit) + Path(ID_SectorKey(4, 4), kUnit, 0, 4 * kUnit));
    states_[{4, 3}] = 3;
    gates_[{4, 3, 3}] = 1;
    silent_ = {4, 4};
    Map();
    EXPECT_EQ(Names(), (std::vector<std::string>{"Sector 4-3"}));
}

TEST_F(GalaxyMapTest, AStoryMayCallTheMapOrFreeItsSceneWhileItIsAsked) {
    WriteCut(Path(ID_SectorKey(0, 0), 0, 0, 4 * kUnit) + Path(ID_SectorKey(0, 1), kUnit, 0, 4 * kUnit));
    states_[{0, 0}] = states_[{0, 1}] = 1;
    // Calls of the map from within its own questions change nothing.
    int nested = 0;
    during_ = [&](int32_t) {
        const int32_t values[6] = {};
        nested += ID_BuildGalaxyMap(scene_, values);
        ID_ClearGalaxyMap(scene_);
    };
    Map();
    EXPECT_EQ(last_, 1);
    EXPECT_EQ(nested, 0);
    EXPECT_EQ(Names(), (std::vector<std::string>{"Sector 0-0", "Sector 0-1"}));
    ID_ClearGalaxyMap(scene_);

    // The scene freed by the story: the build stops and nothing is built.
    for (const int32_t when : {0, 2, 3}) {
        sceneId_ = scene_->id;
        during_ = [&, when](int32_t function) {
            if (function == when && B3D_SceneFind(sceneId_)) B3D_SceneFree(scene_);
        };
        Map();
        EXPECT_EQ(B3D_SceneFind(sceneId_), nullptr) << when;
        EXPECT_FALSE(ID_GalaxyMapBuilt()) << when;
        during_ = nullptr;
        scene_ = B3D_SceneAlloc();
        camera_ = B3D_CameraAlloc();
        B3D_SceneLinkInst(scene_, camera_);
        sceneId_ = 0;
    }
    EXPECT_EQ(Only(Map(), "ConvertSectorNameID").size(), 2u);
}

TEST_F(GalaxyMapTest, ASectorIsFoundUnderItsMapPoint) {
    WriteCut(Path(ID_SectorKey(6, 7), 0, 0, 4 * kUnit) + Path(ID_SectorKey(6, 8), 2 * kUnit, kUnit, 4 * kUnit));
    states_[{6, 7}] = states_[{6, 8}] = 1;
    int32_t out[2] = {-1, -1};
    EXPECT_EQ(ID_GalaxyMapFindSector(scene_, 0, 0, out), 0);  // nothing built yet
    Map();
    EXPECT_EQ(ID_GalaxyMapFindSector(scene_, 0, 0, out), 1);
    EXPECT_EQ(out[0], 7);
    EXPECT_EQ(out[1], 6);
    EXPECT_EQ(ID_GalaxyMapFindSector(scene_, 160, -60, out), 1);  // y grows downward on the screen
    EXPECT_EQ(out[0], 8);
    EXPECT_EQ(ID_GalaxyMapFindSector(scene_, 100, 100, out), 0);
}

}  // namespace
