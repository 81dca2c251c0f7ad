// The cockpit's own instances in its frame: the cockpit body of the ship's
// type and the grid display (switched by call 21 and kept by save games),
// each held by a slot whose instance the scene engine or the cockpit's one
// free path may take away.
#include "cockpit/hudsteps.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cockpit/cockpit_fixture.h"
#include "cockpit/save.h"
#include "cockpit/scenes.h"
#include "cockpit/syscall.h"
#include "cockpit/update.h"
#include "scene/allocs.h"
#include "scene/records.h"
#include "space/typesdb.h"
#include "support/gamefolder.h"
#include "support/script_run.h"
#include "support/sectionfile.h"

namespace {

constexpr int32_t kCockpitBody = 603;

// "Grid" switches the grid of cockpit A0 to A1 through the engine call.
constexpr const char* kGridStory = R"(
    end
.var "A0" int 0
.var "A1" int 0
.func "Grid" need 8
    getg 1
    getg 0
    pushw 2
    sys "INS_CockpitSetGrid"
    ret
)";

class HudSteps : public CockpitTest {
protected:
    void SetUp() override {
        CockpitTest::SetUp();
        ASSERT_TRUE(LoadStory(kGridStory));
        savedHud_ = g_INSHud;
        g_INSHud.markers = [](Cockpit*, int32_t) {};
        SetClock(100000);
        sector_ = New(SA_MT_SECTOR);
        ship_ = Ship();
        Into(sector_, ship_);
        SA_GetTypeRecord(SA_MT_SHIP, 0)->field[SA_TF_SHIP_COCKPIT_BODY] = kCockpitBody;
        c_ = AddCockpit();
        c_->refObject = c_->cockpitRefObject = ship_;
        c_->sectorSpace = sector_;
        c_->viewMode = 1;
        camera_ = B3D_CameraAlloc();
        ASSERT_NE(camera_, nullptr);
        Qel_MatIdentity(&camera_->inst.matrix);
        c_->sectorCamera = camera_->inst.id;
    }
    void TearDown() override {
        g_INSHud = savedHud_;
        INS_FreeCockpitSystem();
        if (Camera3D* camera = IC_FindCamera(cameraId())) B3D_CameraFree(camera);
        SA_FreeAllObjects(&root_);
        CockpitTest::TearDown();
    }
    uint32_t cameraId() const { return camera_ ? camera_->inst.id : 0; }
    void Grid(int32_t on) {
        for (int i = 0; i < 2; ++i) {
            ScriptValue& var = story_->ctx()->objects[0].variables[i];
            SV_Release(&var);
            var.tag = VARTYPE_INTEGER;
            var.bits = static_cast<uint64_t>(static_cast<int64_t>(i ? on : static_cast<int32_t>(c_->id)));
        }
        story_->Start(0, "Grid");
    }
    const Inst3D* Body() const { return IC_FindInst(c_->hudParts[INS_HUD_COCKPIT_BODY].inst); }
    const Inst3D* GridInst() const { return IC_FindInst(c_->gridSlot.inst); }
    bool InScene(const Inst3D* inst) const { return inst && inst->scene == IC_Scene(c_); }

    SectorObject* sector_ = nullptr;
    SectorObject* ship_ = nullptr;
    Cockpit* c_ = nullptr;
    Camera3D* camera_ = nullptr;

private:
    INSHudLink savedHud_{};
};

// The cockpit body shows only in the ship's own cockpit view with the body
// enabled and a body in its type.
TEST_F(HudSteps, TheCockpitBodyShowsInTheShipsCockpitView) {
    const struct {
        const char* name;
        int32_t viewMode, bodyOn, body;
        bool ship, shown;
    } cases[] = {
        {"cockpit view", 1, 1, kCockpitBody, true, true},
        {"outside view", 2, 1, kCockpitBody, true, false},
        {"steered cockpit view", 5, 1, kCockpitBody, true, false},
        {"body disabled", 1, 0, kCockpitBody, true, false},
        {"type without a body", 1, 1, 0, true, false},
        {"no ship", 1, 1, kCockpitBody, false, false},
        {"a second body", 1, 1, 604, true, true},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        c_->viewMode = k.viewMode;
        c_->cockpitBodyOn = k.bodyOn;
        SA_GetTypeRecord(SA_MT_SHIP, 0)->field[SA_TF_SHIP_COCKPIT_BODY] = k.body;
        c_->cockpitRefObject = k.ship ? ship_ : nullptr;
        INS_UpdateCockpit(c_);
        const InstSlot& slot = c_->hudParts[INS_HUD_COCKPIT_BODY];
        EXPECT_EQ(slot.state, k.shown ? 1u : 0u);
        EXPECT_EQ(InScene(Body()), k.shown);
        if (!k.shown) continue;
        EXPECT_EQ(slot.kind, k.body);
        EXPECT_EQ(Body()->pos.x | Body()->pos.y | Body()->pos.z, 0);
    }
}

// An instance the scene engine frees is made anew; the cockpit's free takes
// its slots' instances with it.
TEST_F(HudSteps, SlotInstancesGoThroughTheOneFreePath) {
    Grid(1);
    g_CockpitSystem->gridBody = 700;
    INS_UpdateCockpit(c_);
    ASSERT_TRUE(InScene(Body()));
    ASSERT_TRUE(InScene(GridInst()));
    const uint32_t body = c_->hudParts[INS_HUD_COCKPIT_BODY].inst, grid = c_->gridSlot.inst;
    B3D_InstFree(IC_FindInst(body));
    INS_UpdateCockpit(c_);
    EXPECT_NE(c_->hudParts[INS_HUD_COCKPIT_BODY].inst, body);
    EXPECT_EQ(IC_FindInst(body), nullptr);
    EXPECT_TRUE(InScene(Body()));
    const uint32_t remade = c_->hudParts[INS_HUD_COCKPIT_BODY].inst;
    INS_FreeCockpit(g_CockpitSystem, c_->id);
    c_ = nullptr;
    EXPECT_EQ(IC_FindInst(remade), nullptr);
    EXPECT_EQ(IC_FindInst(grid), nullptr);
}

// The grid stands under the cell the sector camera is over, in the sector's
// plane, as the cockpit camera sees it; call 21 with 0 takes it out at once.
TEST_F(HudSteps, TheGridFollowsTheSectorCameraByWholeCells) {
    g_CockpitSystem->gridBody = 700;
    INS_UpdateCockpit(c_);
    EXPECT_EQ(GridInst(), nullptr);  // off until the story switches it on
    Grid(1);
    EXPECT_EQ(c_->gridOn, 1);
    const int32_t s = INS_GRID_STEP;
    const struct {
        QelVector camera;
        QelVector grid;  // in the cockpit scene
    } cases[] = {
        {{0, 0, 0, 0}, {0, 0, 0, 0}},
        {{s / 2 - 1, 20000, -s / 2 + 1, 0}, {-s / 2 + 1, -20000, s / 2 - 1, 0}},
        {{s / 2, 0, -s / 2, 0}, {s / 2, 0, -s / 2, 0}},
        {{3 * s + 7, -5000, -7 * s - 9, 0}, {-7, 5000, 9, 0}},
        {{INT32_MAX, INT32_MIN, INT32_MIN, 0}, {0, INT32_MAX, 0, 0}},  // far out: held within a word
    };
    for (const auto& k : cases) {
        camera_->inst.pos = k.camera;
        ship_->instance->pos = k.camera;
        INS_UpdateCockpit(c_);
        // The cockpit camera stands where the view puts it.
        camera_->inst.pos = k.camera;
        INS_GridStep(c_);
        const Inst3D* grid = GridInst();
        ASSERT_TRUE(InScene(grid));
        EXPECT_EQ(c_->gridSlot.kind, 700);
        EXPECT_EQ(grid->pos.x, k.grid.x) << k.camera.x;
        EXPECT_EQ(grid->pos.y, k.grid.y) << k.camera.y;
        EXPECT_EQ(grid->pos.z, k.grid.z) << k.camera.z;
    }
    // Turned a quarter about y, the sector camera sees the world's x along
    // its z: the grid is turned back the other way.
    camera_->inst.pos = QelVector{s + 10, 0, 0, 0};
    Qel_MatFromAngles(&camera_->inst.matrix, 16384, 0, 0);
    INS_GridStep(c_);
    QelVector turnedX;
    const QelVector x{QEL_FIX_ONE, 0, 0, 0};
    Qel_MatMulVec(&GridInst()->matrix, &x, &turnedX);
    QelVector seen;
    Qel_MatTransMulVec(&camera_->inst.matrix, &x, &seen);
    EXPECT_NEAR(turnedX.x, seen.x, 2);
    EXPECT_NEAR(turnedX.z, seen.z, 2);
    const QelVector offset{-10, 0, 0, 0};
    QelVector expected;
    Qel_MatTransMulVec(&camera_->inst.matrix, &offset, &expected);
    EXPECT_NEAR(GridInst()->pos.x, expected.x, 1);
    EXPECT_NEAR(GridInst()->pos.z, expected.z, 1);

    Grid(0);
    EXPECT_EQ(c_->gridOn, 0);
    EXPECT_EQ(c_->gridSlot.state, 0u);
    EXPECT_EQ(GridInst()->scene, nullptr);
    INS_UpdateCockpit(c_);
    EXPECT_EQ(GridInst()->scene, nullptr);
}

// Without a sector camera, a ref object or a grid body nothing is shown.
TEST_F(HudSteps, TheGridNeedsASectorCameraAndItsBody) {
    Grid(1);
    const char* const cases[] = {"no grid body", "no sector camera", "a freed sector camera", "no ref object"};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(cases[i]);
        g_CockpitSystem->gridBody = 700;
        INS_GridStep(c_);
        ASSERT_TRUE(InScene(GridInst()));
        if (i == 0) g_CockpitSystem->gridBody = 0;
        if (i == 1) c_->sectorCamera = 0;
        if (i == 2) {
            B3D_CameraFree(camera_);
            camera_ = nullptr;
        }
        if (i == 3) c_->refObject = nullptr;
        INS_GridStep(c_);
        EXPECT_EQ(c_->gridSlot.state, 0u);
        EXPECT_FALSE(InScene(GridInst()));
        c_->refObject = ship_;
        if (!camera_) {
            camera_ = B3D_CameraAlloc();
            Qel_MatIdentity(&camera_->inst.matrix);
        }
        c_->sectorCamera = camera_->inst.id;
    }
}

// A saved game keeps the grid's switch and instance; the loaded cockpit shows
// it again on its first frame.
TEST_F(HudSteps, TheGridOutlivesASaveAndLoad) {
    const TempGameFolder folder;
    g_CockpitSystem->gridBody = 700;
    Grid(1);
    INS_UpdateCockpit(c_);
    const uint32_t id = c_->id, grid = c_->gridSlot.inst;
    const std::vector<uint8_t> saved = SectionWritten(ID_Save);
    // The scene engine keeps its instances: a new system reads the section.
    c_->gridSlot.inst = 0;
    const uint32_t scene = c_->scene;
    c_->scene = c_->camera = 0;
    ASSERT_NE(INS_NewCockpitSystem(), nullptr);
    ASSERT_EQ(SectionRead(folder, saved, ID_Load), 1);
    c_ = INS_TableGet(g_CockpitSystem, id);
    ASSERT_NE(c_, nullptr);
    EXPECT_EQ(c_->gridOn, 1);
    EXPECT_EQ(c_->gridSlot.inst, grid);
    EXPECT_EQ(c_->scene, scene);
    g_CockpitSystem->gridBody = 700;
    INS_UpdateCockpit(c_);
    EXPECT_TRUE(InScene(GridInst()));
    EXPECT_EQ(c_->gridSlot.inst, grid);
    Grid(0);
    EXPECT_FALSE(InScene(GridInst()));
}

}  // namespace
