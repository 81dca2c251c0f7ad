// The HUD's markers drawn into the marker texture and read back: brackets
// round the tracked object where the sector camera sees it, a diamond on each
// turret's target, a cross on the port of a docking ship, and the cases that
// hide them; the story's symbol calls 63 and 64 drawing into a texture.
#include "cockpit/markers.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cockpit/hud_fixture.h"
#include "cockpit/overlay.h"
#include "cockpit/scenes.h"
#include "cockpit/syscall.h"
#include "cockpit/update.h"
#include "scene/allocs.h"
#include "scene/smallops.h"
#include "space/objects.h"
#include "space/orders.h"
#include "space/typesdb.h"
#include "support/script_run.h"

namespace {

constexpr uint32_t kTarget = INS_MARKER_PLAIN & 0xFFFFFF, kFoe = INS_MARKER_HOSTILE & 0xFFFFFF;
constexpr uint32_t kTurret = INS_MARKER_TURRET & 0xFFFFFF, kDock = INS_MARKER_DOCK & 0xFFFFFF;
constexpr uint32_t kShipGreen = 0x40C040, kShipRed = 0xE04040, kWhite = 0xFFFFFF;

// The marker texture is 65 x 49: its centre (32, 24) is the camera's axis and
// a point at depth z reaches the edge at x = z or y = z (a quarter-turn view
// of square aspect).
class Markers : public HudTest {
protected:
    void SetUp() override {
        HudTest::SetUp();
        // A ship with two turrets beside its own guns takes the cockpit.
        SA_GetTypeRecord(SA_MT_SHIP, 0)->field[SA_TF_SHIP_TURRET_COUNT] = 3;
        ship_ = Ship();
        Into(sector_, ship_);
        c_->refObject = c_->cockpitRefObject = ship_;
        Texture(INS_MARKER_TEXTURE, 65, 49);
        camera_ = B3D_CameraAlloc();
        ASSERT_NE(camera_, nullptr);
        camera_->aspect[0] = camera_->aspect[1] = QEL_FIX_ONE;
        camera_->focus = 16384;
        Qel_MatIdentity(&camera_->inst.matrix);
        c_->sectorCamera = camera_->inst.id;
        c_->viewMode = 1;
        target_ = Put(SA_MT_SHIP, 500, 0, 1000);  // at (48, 24)
        c_->trackedObject = target_;
        ShipData* d = O_ShipData(ship_);
        ASSERT_NE(d, nullptr);
        ASSERT_EQ(d->turretCount, 3);
        d->turrets[1].target = Put(SA_MT_SHIP, -500, 500, 1000);  // at (16, 12)
        d->turrets[2].targetMode = 1;
        d->turrets[2].targetPos[1] = -500;
        d->turrets[2].targetPos[2] = 1000;  // at (32, 36)
        dock_ = Put(SA_MT_DOCK, 0, 0, 50000);
        d->CourseType = VER_FLYINTO;
        d->OrderTarget = dock_;
        d->OrderPos = QelVector{-1000, -1000, 4000, 0};  // at (24, 30)
    }
    void TearDown() override {
        if (ShipData* d = O_ShipData(ship_)) d->OrderTarget = nullptr;
        B3D_CameraFree(IC_FindCamera(c_->sectorCamera));
        HudTest::TearDown();
    }
    SectorObject* Put(int16_t mainType, int32_t x, int32_t y, int32_t z) {
        SectorObject* o = New(mainType, 0);
        o->instance = B3D_AllocInst();
        o->instance->pos = QelVector{x, y, z, 0};
        Qel_MatIdentity(&o->instance->matrix);
        Into(sector_, o);
        return o;
    }
    static bool At(int x, int y, uint32_t colour) { return Is(INS_MARKER_TEXTURE, x, y, colour); }
    static bool Shown(uint32_t colour) { return Shows(INS_MARKER_TEXTURE, colour); }

    Camera3D* camera_ = nullptr;
    SectorObject* target_ = nullptr;
    SectorObject* dock_ = nullptr;
};

TEST_F(Markers, EachMarkerIsDrawnWhereItsPointIsSeen) {
    INS_DrawHudMarkers(c_, 0);
    EXPECT_EQ(Golden(INS_MARKER_TEXTURE, "markers"), "");
    // The target's brackets: corners four pixels out, arms two long, nothing inside.
    for (const auto& [x, y] : {std::pair{44, 20}, {52, 20}, {44, 28}, {52, 28}, {46, 20}, {44, 22}})
        EXPECT_TRUE(At(x, y, kTarget)) << x << "," << y;
    EXPECT_FALSE(At(48, 24, kTarget));
    // Turret 1's object and turret 2's point; turret 0 is the ship's own guns.
    for (const auto& [x, y] : {std::pair{13, 12}, {16, 9}, {19, 12}, {16, 15}, {29, 36}, {32, 33}, {35, 36}})
        EXPECT_TRUE(At(x, y, kTurret)) << x << "," << y;
    // The port the docking ship heads for.
    for (const auto& [x, y] : {std::pair{24, 30}, {19, 30}, {29, 30}, {24, 25}, {24, 35}})
        EXPECT_TRUE(At(x, y, kDock)) << x << "," << y;
    // A hostile target is bracketed in red.
    target_->flags |= 1u << 24;
    INS_DrawHudMarkers(c_, 0);
    EXPECT_TRUE(At(44, 20, kFoe));
    EXPECT_FALSE(Shown(kTarget));
}

// The brackets span the target's size at its depth, never less than four pixels.
TEST_F(Markers, TheBracketsSpanTheTargetsSize) {
    // At depth 1000 a unit spans 32 / 1000 pixels: a radius of 250 spans 8.
    target_->size = 250;
    target_->instance->pos = QelVector{0, 0, 1000, 0};
    INS_DrawHudMarkers(c_, INS_HIDE_TURRET_MARKERS | INS_HIDE_DOCK_MARKER);
    EXPECT_TRUE(At(24, 16, kTarget));
    EXPECT_TRUE(At(40, 32, kTarget));
    EXPECT_FALSE(At(28, 20, kTarget));
    // A giant is held at the half view.
    target_->size = 2000000000;
    INS_DrawHudMarkers(c_, INS_HIDE_TURRET_MARKERS | INS_HIDE_DOCK_MARKER);
    EXPECT_TRUE(At(0, 0, kTarget));
}

// Every case that hides markers, with the markers still shown in it.
TEST_F(Markers, HiddenCases) {
    struct Case {
        const char* name;
        std::function<void()> set;
        int32_t info;
        bool target, turret, dock;
    };
    const std::vector<Case> cases = {
        {"all shown", [] {}, 0, true, true, true},
        {"a monitor", [this] { c_->monitorNumber = 1; }, 0, false, false, false},
        {"a view mode without bits 0-1", [this] { c_->viewMode = 4; }, 0, false, false, false},
        {"a sector that hides the overlay",
         [this] { reinterpret_cast<SectorSpace*>(sector_)->spaceFlags |= INS_SPACE_NO_OVERLAY; }, 0, false, false,
         false},
        {"no sector camera", [this] { c_->sectorCamera = 0; }, 0, false, false, false},
        {"a camera that sees nothing", [this] { camera_->focus = 0; }, 0, false, false, false},
        {"the story hides the target", [] {}, INS_HIDE_TARGET_MARKER, false, true, true},
        {"the story hides the turrets", [] {}, INS_HIDE_TURRET_MARKERS, true, false, true},
        {"the story hides the dock", [] {}, INS_HIDE_DOCK_MARKER, true, true, false},
        {"no target", [this] { c_->trackedObject = nullptr; }, 0, false, true, true},
        {"the target behind", [this] { target_->instance->pos.z = -1000; }, 0, false, true, true},
        {"the target beside the view", [this] { target_->instance->pos.x = 1001; }, 0, false, true, true},
        {"the target killed", [this] { target_->flags |= SA_FLAG_KILLED; }, 0, false, true, true},
        {"the ship tracking itself", [this] { c_->trackedObject = ship_; }, 0, false, true, true},
        {"turret targets gone",
         [this] {
             ShipData* d = O_ShipData(ship_);
             d->turrets[1].target->flags |= SA_FLAG_KILLED;
             d->turrets[2].targetMode = 0;
         },
         0, true, false, true},
        {"another order", [this] { O_ShipData(ship_)->CourseType = VER_STOP; }, 0, true, true, false},
        {"the dock killed", [this] { dock_->flags |= SA_FLAG_KILLED; }, 0, true, true, false},
    };
    for (const Case& k : cases) {
        TearDown();
        SetUp();
        k.set();
        B3D_TexRectFill(INS_MARKER_TEXTURE, 0, 0, 65, 49, 0xFFFFFFFF);  // the last frame's are cleared
        INS_DrawHudMarkers(c_, k.info);
        EXPECT_FALSE(Shown(kWhite)) << k.name;
        EXPECT_EQ(Shown(kTarget), k.target) << k.name;
        EXPECT_EQ(Shown(kTurret), k.turret) << k.name;
        EXPECT_EQ(Shown(kDock), k.dock) << k.name;
    }
}

// A camera turned an eighth turn sees a point 2.7 thousand million units out
// along x and z straight ahead: each coordinate fits 32 bits, its depth in
// the camera's axes does not. The marker is still drawn at the centre.
TEST_F(Markers, FarPointsAreProjectedWithoutWrapping) {
    Qel_MatFromAngles(&camera_->inst.matrix, 8192, 0, 0);
    const QelVector ahead{0, 0, 65536, 0};
    QelVector dir;
    Qel_MatMulVec(&camera_->inst.matrix, &ahead, &dir);
    ASSERT_GT(std::abs(dir.x), 40000);  // the camera looks along a diagonal
    const auto far = [&](int32_t v) { return static_cast<int32_t>(static_cast<int64_t>(v) * 2700000000LL / 65536); };
    target_->instance->pos = QelVector{far(dir.x), far(dir.y), far(dir.z), 0};
    INS_DrawHudMarkers(c_, INS_HIDE_TURRET_MARKERS | INS_HIDE_DOCK_MARKER);
    EXPECT_TRUE(At(28, 20, kTarget));
    EXPECT_TRUE(At(36, 28, kTarget));
}

// The frame's HUD step draws the markers with the story's HUD info.
constexpr const char* kInfoStory = R"(
    end
.var "Info" int 0
.object 2100
.func "GetHUDInfo" need 8
    getg 0
    ret
)";

TEST_F(Markers, TheFramesHudStepDrawsThemWithTheStorysInfo) {
    ASSERT_TRUE(LoadStory(kInfoStory));
    const INSHudLink kept = g_INSHud;
    g_INSHud.radar = g_INSHud.laserRange = g_INSHud.statusBars = [](Cockpit*) {};
    INS_UpdateCockpit(c_);  // the sector camera is placed at the ship, looking along z
    EXPECT_TRUE(At(44, 20, kTarget));
    EXPECT_TRUE(Shown(kTurret));
    SV_AssignInt(&story_->ctx()->objects[0].variables[0], INS_HIDE_TARGET_MARKER);
    INS_UpdateCockpit(c_);
    EXPECT_FALSE(Shown(kTarget));
    EXPECT_TRUE(Shown(kTurret));
    g_INSHud = kept;
}

// ---------------------------------------------------------------- calls 63 and 64

// "S63" and "S64" make the calls with the globals A0..A6.
constexpr const char* kSymbolStory = R"(
    end
.var "A0" int 0
.var "A1" int 0
.var "A2" int 0
.var "A3" int 0
.var "A4" int 0
.var "A5" int 0
.var "A6" int 0
.func "S63" need 20
    getg 6
    getg 5
    getg 4
    getg 3
    getg 2
    getg 1
    getg 0
    pushw 7
    sys "INS_DrawObjectSymbol"
    ret
.func "S64" need 20
    getg 4
    getg 3
    getg 2
    getg 1
    getg 0
    pushw 5
    sys "INS_DrawObjectSymbol3D"
    ret
)";

class SymbolCalls : public Markers {
protected:
    void SetUp() override {
        Markers::SetUp();
        ASSERT_TRUE(LoadStory(kSymbolStory));
    }
    // The call's answer (-999 when none or not an integer).
    int32_t Call(const char* fn, const std::vector<int32_t>& args) {
        for (size_t i = 0; i < args.size(); ++i) {
            ScriptValue& v = story_->ctx()->objects[0].variables[i];
            SV_Release(&v);
            SV_AssignInt(&v, args[i]);
        }
        story_->answers.clear();
        story_->Start(0, fn);
        return story_->answers.size() == 1 && story_->answers[0].kind == 1 ? story_->answers[0].n : -999;
    }
};

// Call 63 draws a type's symbol; its x and y are 16-bit, and a positive
// selection blinks it (a dock's marker turns from 451 to 453).
TEST_F(SymbolCalls, Call63DrawsASymbolOfAType) {
    const int32_t t = INS_TARGET_TEXTURE;
    EXPECT_EQ(Call("S63", {t, SA_MT_SHIP, 0, 0x10000 + 12, 0x10000 + 30, INS_SYMBOL_HOSTILE, 0}), 0);
    EXPECT_TRUE(Is(t, 12, 30, kShipRed));
    EXPECT_EQ(Call("S63", {t, SA_MT_DOCK, 0, 40, 12, 8 | 0x200, 0}), 0);
    EXPECT_TRUE(Is(t, 35, 12, 0xF0F0F0));
    EXPECT_EQ(Call("S63", {t, SA_MT_DOCK, 0, 40, 40, 8 | 0x200, 1}), 0);
    EXPECT_TRUE(Is(t, 35, 40, 0x8080F0));
    // A stem the story asks for runs from the top (y2 0) to the symbol.
    EXPECT_EQ(Call("S63", {t, SA_MT_SHIP, 0, 56, 40, INS_SYMBOL_STEM, 0}), 0);
    EXPECT_TRUE(Is(t, 56, 20, 0x2060A0));
}

// Call 64 draws the object's cube in white lines (colour -1) round its symbol,
// turned as the viewer sees the object.
TEST_F(SymbolCalls, Call64DrawsAnObjectsTurned3DSymbol) {
    const int32_t t = INS_RADAR_TEXTURE;
    const int32_t id = static_cast<int32_t>(target_->id);
    EXPECT_EQ(Call("S64", {id, t, 32, 32, 10}), 0);
    EXPECT_EQ(Golden(t, "symbol3d"), "");
    EXPECT_TRUE(Is(t, 32, 32, kShipGreen));
    for (const auto& [x, y] : {std::pair{22, 22}, {42, 22}, {22, 42}, {42, 42}, {32, 22}, {42, 32}})
        EXPECT_TRUE(Is(t, x, y, kWhite)) << x << "," << y;
    // Turned an eighth turn about its vertical axis, its sides stand at 18, 32 and 46.
    Qel_MatFromAngles(&target_->instance->matrix, 8192, 0, 0);
    B3D_TexRectFill(t, 0, 0, 65, 65, 0);
    Call("S64", {id, t, 32, 32, 10});
    EXPECT_TRUE(Is(t, 46, 32, kWhite));
    EXPECT_TRUE(Is(t, 18, 32, kWhite));
    EXPECT_FALSE(Is(t, 42, 32, kWhite));
    // A viewer turned the same way sees it square again.
    g_CockpitSystem->activeControl = static_cast<int32_t>(c_->id);
    Qel_MatFromAngles(&camera_->inst.matrix, 8192, 0, 0);
    B3D_TexRectFill(t, 0, 0, 65, 65, 0);
    Call("S64", {id, t, 32, 32, 10});
    EXPECT_TRUE(Is(t, 42, 32, kWhite));
    EXPECT_FALSE(Is(t, 46, 32, kWhite));
    // Hostile to the steered ship: the symbol is the hostile one.
    target_->flags |= 1u << 24;
    Call("S64", {id, t, 32, 32, 0});
    EXPECT_TRUE(Is(t, 32, 32, kShipRed));
}

// Unknown objects and textures without a bitmap draw nothing; every call answers 0.
TEST_F(SymbolCalls, UnknownObjectsAndTexturesDrawNothing) {
    const int32_t id = static_cast<int32_t>(target_->id);
    struct Case {
        const char* fn;
        std::vector<int32_t> args;
    };
    const std::vector<Case> cases = {
        {"S63", {999, SA_MT_SHIP, 0, 10, 10, 0, 0}},       // no such texture
        {"S63", {-3, SA_MT_SHIP, 0, 10, 10, 0, 0}},        // nor a negative one
        {"S63", {50, SA_MT_SHIP, 0, 10, 10, 0, 0}},        // a texture without a bitmap
        {"S64", {999999, INS_RADAR_TEXTURE, 32, 32, 10}},  // no such object
        {"S64", {id, 999, 32, 32, 10}},
        {"S64", {id, -3, 32, 32, 10}},
        {"S64", {id, 0x10000 + INS_RADAR_TEXTURE, 32, 32, 10}},  // no 16-bit id here
    };
    for (const Case& k : cases) {
        const std::vector<uint32_t> target = Pixels(INS_TARGET_TEXTURE), radar = Pixels(INS_RADAR_TEXTURE);
        EXPECT_EQ(Call(k.fn, k.args), 0) << k.fn << " " << k.args[0] << " " << k.args[1];
        EXPECT_EQ(Pixels(INS_TARGET_TEXTURE), target) << k.fn << " " << k.args[0];
        EXPECT_EQ(Pixels(INS_RADAR_TEXTURE), radar) << k.fn << " " << k.args[0] << " " << k.args[1];
    }
    // A type outside the table draws the plain symbol; an outsized cube is held within reach.
    EXPECT_EQ(Call("S63", {INS_TARGET_TEXTURE, 99, -5, 20, 20, 0, 0}), 0);
    EXPECT_TRUE(Is(INS_TARGET_TEXTURE, 20, 20, 0x909090));
    EXPECT_EQ(Call("S64", {id, INS_RADAR_TEXTURE, 32, 32, 0x7FFFFFFF}), 0);
    EXPECT_TRUE(Is(INS_RADAR_TEXTURE, 32, 32, kShipGreen));
}

}  // namespace
