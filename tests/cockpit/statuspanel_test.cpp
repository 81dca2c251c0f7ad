// The status panel drawn into its texture and read back: the speed bars and
// markers, weapons, laser energy with its column, shield and hull, the time
// warp and missile pieces, and the low-energy notices the story hears once.
#include "cockpit/statuspanel.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "cockpit/panel_fixture.h"
#include "cockpit/syscall.h"
#include "space/objects.h"
#include "space/records.h"
#include "space/typesdb.h"
#include "space/weapons.h"
#include "support/script_run.h"

namespace {

constexpr uint32_t kDesiredRed = 0xD20101, kDockingGreen = 0x01AA55, kHullGreen = 0x015001;

class StatusPanel : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        type_ = SA_GetTypeRecord(SA_MT_SHIP, 0);
        type_->field[SA_TF_SHIP_SPEED] = 100000;
        type_->field[SA_TF_SHIP_MAX_HULL] = 1000;
        type_->field[SA_TF_SHIP_LASER_POWER_MAX] = 1000;
        ship_->hull = 1000;
        Types(SA_MT_SHIELD, 1)->field[SA_TF_SHIELD_ENERGY] = 1000;
        shield_ = New(SA_MT_SHIELD);
        Into(ship_, shield_);
        SetShield(1000);
        SetLaser(1000);
    }
    void SetLaser(int32_t energy) { O_ShipData(ship_)->laserEnergy = energy * 1000; }
    void SetShield(int32_t energy) { static_cast<ShieldData*>(shield_->typeData)->energy = energy; }
    void Draw() {
        Fill(INS_PANEL_TEXTURE, 0, 0, 128, 128, 0);
        INS_DrawStatusPanel(c_, ship_);
    }
    static uint32_t At(int x, int y) { return Rgb(INS_PANEL_TEXTURE, x, y); }
    TypeRecord* type_ = nullptr;
    SectorObject* shield_ = nullptr;
};

// A ship flying at half its top speed with half its laser energy, most of its
// shield, 70% hull, two weapons, time warp 4 and 150 ready missiles of type 2.
TEST_F(StatusPanel, APanelAsTheStoryLeavesIt) {
    type_->field[SA_TF_SHIP_COCKPIT_COUNT] = 1;
    type_->field[SA_TF_SHIP_COCKPITS] = 1;  // the ship's own cockpit: gun slot 0
    type_->field[SA_TF_SHIP_TURRET_COUNT] = 1;
    type_->field[SA_TF_SHIP_TURRETS + 3] = 0;  // its weapon group
    for (int32_t i = 0; i < 2; ++i) {
        SectorObject* laser = New(SA_MT_LASER, i + 1);
        static_cast<LaserData*>(laser->typeData)->position = static_cast<int16_t>(i);
        Into(ship_, laser);
    }
    c_->cockpitNumber = 0;
    ship_->speed = 50000;
    ship_->desiredSpeed = 80000;
    ship_->hull = 700;
    SetLaser(500);
    SetShield(800);
    g_CockpitSystem->timeWarpFactor = 4;
    c_->missileType = 2;
    c_->missileValues[0] = 99000;  // ready
    c_->missileValues[1] = 150;
    Draw();
    EXPECT_EQ(Golden(INS_PANEL_TEXTURE, "status_panel"), "");
    EXPECT_TRUE(Is(INS_PANEL_TEXTURE, 44, 0, Weapon(0, 2)));   // subtype 1 in the first place
    EXPECT_TRUE(Is(INS_PANEL_TEXTURE, 44, 16, Weapon(1, 3)));  // subtype 2 in the second
    EXPECT_TRUE(Is(INS_PANEL_TEXTURE, 64, 48, kHullGreen));
    EXPECT_TRUE(Is(INS_PANEL_TEXTURE, 64 + 44, 48, kHullGreen));  // 700 of 1000 is 44 of 63, one more
    EXPECT_FALSE(Is(INS_PANEL_TEXTURE, 64 + 46, 48, kHullGreen));
    EXPECT_EQ(g_INSStatus.changing, 1);  // 30000 apart, more than an eighth of 100000
}

// The bar runs right of the zero point for a forward speed and left of it
// for a reverse one; a top speed of 0 draws neither bar nor marker.
TEST_F(StatusPanel, SpeedBars) {
    struct Case {
        int32_t top, speed;
        int x;        // a column the bar covers, -1 none
        int outside;  // one it leaves as background
    };
    // Top 100000: the zero point is at 5000 * 127 / 105000 = 6.
    const Case cases[] = {
        {100000, 50000, 30, 70}, {100000, -4000, 2, 9}, {100000, 200000, 127, -1}, {0, 50000, -1, 30}};
    for (const Case& k : cases) {
        type_->field[SA_TF_SHIP_SPEED] = k.top;
        ship_->speed = k.speed;
        ship_->desiredSpeed = 0;
        Draw();
        if (k.x >= 0) {
            EXPECT_TRUE(Is(INS_PANEL_TEXTURE, k.x, 100, kSpeedBar)) << k.top << " " << k.speed;
        }
        if (k.outside >= 0) {
            EXPECT_TRUE(Is(INS_PANEL_TEXTURE, k.outside, 100, kBarBack)) << k.top << " " << k.speed;
        }
        EXPECT_EQ(Shows(INS_PANEL_TEXTURE, kDesiredRed), k.top != 0) << k.top;
    }
    // A story's top speed near the 32-bit limit still scales (in 64 bits).
    O_ShipData(ship_)->maxSpeedOverride = INT32_MAX;
    ship_->speed = ship_->desiredSpeed = INT32_MAX;
    Draw();
    EXPECT_TRUE(Is(INS_PANEL_TEXTURE, 124, 100, kSpeedBar));
    EXPECT_TRUE(Is(INS_PANEL_TEXTURE, 125, 100, kDesiredRed));
}

// The docking speed of a ship docking (course 27) is marked; once the ship
// is as fast, the mark blinks with a second's period.
TEST_F(StatusPanel, TheDockingMarkerBlinks) {
    O_ShipData(ship_)->CourseType = 27;
    struct Case {
        int32_t speed, clock;
        bool shown;
    };
    const Case cases[] = {{10000, 100400, true}, {30000, 100400, false}, {30000, 100600, true}, {10000, 100600, true}};
    for (const Case& k : cases) {
        ship_->speed = k.speed;
        SetClock(k.clock);
        Draw();
        EXPECT_EQ(Shows(INS_PANEL_TEXTURE, kDockingGreen), k.shown) << k.speed << " at " << k.clock;
    }
    O_ShipData(ship_)->CourseType = 0;
    Draw();
    EXPECT_FALSE(Shows(INS_PANEL_TEXTURE, kDockingGreen));
}

constexpr const char* kLowStory = R"(
    end
.object 2100
.func "NotifyLaserLow" need 8
    pushw 1
    c1
    sys "T_Now"
    ret
.func "NotifyShieldLow" need 8
    pushw 2
    c1
    sys "T_Now"
    ret
)";

// Each notice comes once per fall below 10% and is armed again only above
// 30%; the shield icon blinks while the shield is low.
TEST_F(StatusPanel, LowLasersAndShieldsNotifyOnce) {
    StoryRunner runner;
    SE_Context* saved = g_SEContext;
    g_SEContext = runner.ctx();
    INS_RegisterSysCalls();
    ASSERT_TRUE(runner.Load(kLowStory));
    const auto heard = [&] {
        std::string out;
        for (const RunCall& call : runner.calls) out += call.args.at(0);
        return out;
    };
    // 50%, 5% (both notify), 20%, 5%, 31% (armed again), 5% (both notify), 9.9%, 10%.
    for (int32_t level : {500, 50, 200, 50, 310, 50, 99, 100}) {
        SetLaser(level);
        SetShield(level);
        Draw();
    }
    EXPECT_EQ(heard(), "1212");
    // The blinking icon: the low one in the first half of each second.
    SetShield(50);
    SetClock(100400);
    Draw();
    EXPECT_TRUE(Is(INS_PANEL_TEXTURE, 54, 32, kShieldBlink));
    SetClock(100600);
    Draw();
    EXPECT_TRUE(Is(INS_PANEL_TEXTURE, 54, 32, kShieldIcon));
    EXPECT_EQ(heard(), "1212");
    g_SEContext = saved;
}

// The laser column grows from the bottom of texture 1134: caps and middle
// pieces, or two halves when it is short.
TEST_F(StatusPanel, LaserColumn) {
    SetLaser(500);  // 76 of 152 pixels
    Draw();
    const int t = INS_PANEL_COLUMN;
    EXPECT_TRUE(Is(t, 217, 255 - 76, kColumnTop));
    EXPECT_TRUE(Is(t, 217, 254 - 76, kColumnBack));
    EXPECT_TRUE(Is(t, 230, 200, kColumnMiddle));
    EXPECT_TRUE(Is(t, 217, 254, kColumnBottom));
    SetLaser(50);  // 7 pixels: 4 of the top half, 3 of the bottom
    Draw();
    EXPECT_TRUE(Is(t, 217, 248, kColumnTop));
    EXPECT_TRUE(Is(t, 217, 251, kColumnTop));
    EXPECT_TRUE(Is(t, 217, 252, kColumnBottom));
    EXPECT_TRUE(Is(t, 217, 247, kColumnBack));
    SetLaser(0);
    Draw();
    EXPECT_TRUE(Is(t, 217, 254, kColumnBack));
}

// The count shows two digits, at most 99 and at least 00; the icon is the
// type's column, its lower row once the missile is ready; no missile, and a
// type past the icon table, show the empty icon.
TEST_F(StatusPanel, MissilePieces) {
    struct Case {
        int16_t type;
        int32_t ready;
        int32_t count;
        uint32_t icon;
        int tens, units;
    };
    const Case cases[] = {
        {2, 99000, 150, Missile(true, 2), 9, 9}, {1, 100500, 7, Missile(false, 1), 0, 7},
        {-1, 0, 42, kEmptyMissile, 4, 2},        {30, 0, 3, kEmptyMissile, 0, 3},
        {20, 0, -5, kEmptyMissile, 0, 0},
    };
    for (const Case& k : cases) {
        c_->missileType = k.type;
        c_->missileValues[0] = k.ready;
        c_->missileValues[1] = k.count;
        Draw();
        EXPECT_TRUE(Is(INS_PANEL_TEXTURE, 40, 40, k.icon)) << k.type;
        EXPECT_TRUE(Is(INS_PANEL_TEXTURE, 32, 54, Digit(0, k.tens))) << k.count;
        EXPECT_TRUE(Is(INS_PANEL_TEXTURE, 43, 54, Digit(1, k.units))) << k.count;
    }
}

// The time warp factor, clamped to 0..10, picks its piece of the mode sheet;
// the status marker blinks with the alarm; the mode icon follows the two
// module-wide values.
TEST_F(StatusPanel, TimeWarpMarkerAndModePieces) {
    struct Warp {
        int32_t factor;
        int x, y;
    };
    const Warp warps[] = {{-3, 160, 192}, {0, 160, 192}, {2, 224, 192}, {3, 0, 224}, {10, 224, 224}, {15, 224, 224}};
    for (const Warp& w : warps) {
        g_CockpitSystem->timeWarpFactor = w.factor;
        Draw();
        EXPECT_TRUE(Is(INS_PANEL_TEXTURE, 0, 0, ModeCell(w.x, w.y))) << w.factor;
    }
    EXPECT_TRUE(Is(INS_PANEL_TEXTURE, 32, 0, kPlainMarker));
    g_CockpitSystem->statusFlags |= 4;
    SetClock(100200);
    Draw();
    EXPECT_TRUE(Is(INS_PANEL_TEXTURE, 32, 0, kAlarmMarker));
    SetClock(100500);  // 300 into the 600 ms period
    Draw();
    EXPECT_TRUE(Is(INS_PANEL_TEXTURE, 32, 0, kPlainMarker));
    const struct {
        int32_t mode, second;
        int x;
    } modes[] = {{0, 0, 0}, {1, 1, 32}, {0, 1, 64}};
    for (const auto& m : modes) {
        g_INSStatus.mode = m.mode;
        g_INSStatus.second = m.second;
        Draw();
        EXPECT_TRUE(Is(INS_PANEL_TEXTURE, 0, 32, ModeCell(m.x, 192))) << m.mode << m.second;
    }
    g_INSStatus = {};
}

// Nothing is drawn while the cockpit scene is disabled or without the
// panel's textures.
TEST_F(StatusPanel, NothingWithoutSceneOrTextures) {
    B3D_SceneDisableInsts(IC_Scene(c_));
    IC_Scene(c_)->flags &= ~SCENE_ENABLED;
    Draw();
    EXPECT_FALSE(Shows(INS_PANEL_TEXTURE, kBarBack));
}

}  // namespace
