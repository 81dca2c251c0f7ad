// The HUD drawn into textures read back: the radar's rings, objects, gates on
// its edge, the highlight of a new target and the automatic range; object
// symbols with stems and markers; the target panel's texts and the laser
// range the story hears of.
#include "cockpit/hud.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <string>
#include <vector>

#include "cockpit/hud_fixture.h"
#include "cockpit/syscall.h"
#include "scene/smallops.h"
#include "script/textpages.h"
#include "space/objects.h"
#include "space/orders.h"
#include "support/script_run.h"

namespace {

constexpr uint32_t kShipGreen = 0x40C040, kShipRed = 0xE04040, kShipBlue = 0x4080F0, kGateYellow = 0xE0E040;

class Radar : public HudTest {
protected:
    void SetUp() override {
        HudTest::SetUp();
        c_->radarMode = 0;
        c_->radarRange = 100000;
    }
    SectorObject* Put(int16_t mainType, int32_t x, int32_t y, int32_t z, int16_t subType = 0) {
        SectorObject* o = New(mainType, subType);
        o->instance = B3D_AllocInst();
        o->instance->pos = QelVector{x, y, z, 0};
        Qel_MatIdentity(&o->instance->matrix);
        Into(sector_, o);
        return o;
    }
    // The scanner list as the frame's scan would leave it.
    void Scan(const std::vector<SectorObject*>& objects) {
        CockpitHud* hud = INS_Hud(c_);
        hud->scanner.clear();
        for (SectorObject* o : objects) {
            const QelVector& p = o->instance->pos;
            const double d = std::sqrt(double{1} * p.x * p.x + double{1} * p.y * p.y + double{1} * p.z * p.z);
            hud->scanner.push_back({o, o->id, d});
        }
    }
    // Makes the object an enemy of the ship.
    void Enemy(SectorObject* o) {
        o->group = 3;
        O_RelationWords(ship_)->foeMask |= 1u << 3;
    }
};

// A ring whose fraction of the range is 3276 is a dot and not drawn; 3277 is.
// The products run in 64 bits: the 50,000,000 ring of a radar of 100,000,000
// lies at half its radius.
TEST_F(Radar, RingFractions) {
    const struct {
        int32_t range;
        int x;
        uint32_t colour;
    } cases[] = {
        {100000, 33, 0},           // 5000 * 65536 / 100000 = 3276
        {99993, 33, 0xBBBBBB},     // ... 3277: radius 1
        {100000, 48, 0x999999},    // 50,000 at half the radius
        {100000000, 48, 0x333333}  // 50,000,000 at half the radius
    };
    for (const auto& k : cases) {
        c_->radarRange = k.range;
        INS_BuildRadar(c_, ship_);
        EXPECT_EQ(Rgb(INS_RADAR_TEXTURE, k.x, 32), k.colour) << k.range << " at " << k.x;
        EXPECT_TRUE(Is(INS_RADAR_TEXTURE, 32, 32, 0xFFFFFFu));
    }
}

TEST_F(Radar, ARangeOfZeroIsLoggedAndDrawsNothingMore) {
    c_->radarRange = 0;
    EXPECT_NE(LogOf([&] { INS_BuildRadar(c_, ship_); }).find("INS_BuildRadar: range==0\n"), std::string::npos);
    EXPECT_TRUE(Is(INS_RADAR_TEXTURE, 32, 32, 0u));
}

// Objects stand where they lie in the ship's axes, with stems down to their
// height; a far gate stands on the edge at 0.85 of the range; an object at
// |x| equal to the range is not shown.
TEST_F(Radar, ObjectsGatesOnTheEdgeAndHiddenOnes) {
    SectorObject* hostile = Put(SA_MT_SHIP, 40000, -30000, 60000);
    Enemy(hostile);
    SectorObject* friendly = Put(SA_MT_SHIP, -50000, 20000, -80000);
    SectorObject* gate = Put(SA_MT_GATE, 500000, 0, 0);
    SectorObject* hidden = Put(SA_MT_SHIP, 100000, 0, 0);
    hidden->group = 10;  // marked: the only blue icon there could be
    SectorObject* dock = Put(SA_MT_DOCK, -30000, 0, 100000);
    Scan({hostile, friendly, gate, hidden, dock});
    INS_BuildRadar(c_, ship_);
    EXPECT_EQ(Golden(INS_RADAR_TEXTURE, "radar"), "");
    EXPECT_TRUE(Is(INS_RADAR_TEXTURE, 59, 32, kGateYellow));  // 32 + 0.85 * 32
    EXPECT_FALSE(Shows(INS_RADAR_TEXTURE, kShipBlue));
    EXPECT_TRUE(Shows(INS_RADAR_TEXTURE, kShipRed));
    EXPECT_TRUE(Shows(INS_RADAR_TEXTURE, kShipGreen));
    // Just inside the range the marked ship is shown.
    hidden->instance->pos.x = 99999;
    INS_BuildRadar(c_, ship_);
    EXPECT_TRUE(Shows(INS_RADAR_TEXTURE, kShipBlue));
}

// A new tracked object is highlighted for the first 400 ms of three one-second
// steps.
TEST_F(Radar, HighlightTiming) {
    SectorObject* ship = Put(SA_MT_SHIP, 0, 0, 30000);
    Scan({ship});
    INS_BuildRadar(c_, ship_);
    EXPECT_EQ(INS_Hud(c_)->highlighted, 0);  // nothing tracked
    c_->trackedObject = ship;
    const struct {
        int32_t at;
        bool highlighted;
    } frames[] = {{0, true},    {399, true},  {400, false},  {999, false},  {1000, true},  {1400, false},
                  {2000, true}, {2399, true}, {2400, false}, {3000, false}, {3300, false}, {10000, false}};
    const int32_t start = 100000;
    for (const auto& f : frames) {
        SetClock(start + f.at);
        INS_BuildRadar(c_, ship_);
        EXPECT_EQ(INS_Hud(c_)->highlighted != 0, f.highlighted) << f.at;
    }
    // Another tracked object starts the three steps again.
    c_->trackedObject = Put(SA_MT_SHIP, 0, 0, 40000);
    Scan({ship, c_->trackedObject});
    INS_BuildRadar(c_, ship_);
    EXPECT_EQ(INS_Hud(c_)->highlighted, 1);
}

TEST_F(Radar, TheAutomaticRangeNeverFallsBelow1000) {
    const int32_t kept[] = {10};
    EXPECT_EQ(INS_RadarTargetRange(5000, kept, 1, 0, 0), INS_SMALLEST_RADAR_RANGE);
    EXPECT_EQ(INS_RadarTargetRange(500, nullptr, 0, 0, 0), INS_SMALLEST_RADAR_RANGE);
    SectorObject* near = Put(SA_MT_SHIP, 0, 0, 100);
    Scan({near});
    c_->radarMode = 1;
    c_->radarRange = 20000;
    system_->gameFrameDelta = 500;
    for (int i = 0; i < 40; ++i) INS_BuildRadar(c_, ship_);
    EXPECT_EQ(c_->radarRange, INS_SMALLEST_RADAR_RANGE);
    // Each frame moves a quarter of the range at most (500 ms of 2000).
    c_->radarRange = 20000;
    INS_BuildRadar(c_, ship_);
    EXPECT_EQ(c_->radarRange, 15000);
}

TEST_F(Radar, Hostility) {
    SectorObject* foe = Put(SA_MT_SHIP, 0, 0, 0);
    Enemy(foe);
    const struct {
        int16_t mainType;
        bool flag24, enemy, hostile;
    } cases[] = {
        {SA_MT_SHIP, false, false, false},    {SA_MT_SHIP, true, false, true},
        {SA_MT_SHIP, false, true, true},      {SA_MT_MISSILE, false, true, false},
        {SA_MT_MISSILE, true, false, true},   {SA_MT_FACTORY, false, true, true},
        {SA_MT_FACTORY, true, false, false},  {SA_MT_DOCK, false, true, true},
        {SA_MT_PLANET, true, true, false},    {SA_MT_LASER, true, true, false},
        {SA_MT_SHIELD, true, true, false},    {SA_MT_WARE_FIRST, true, true, false},
        {SA_MT_WARE_LAST, true, true, false}, {SA_MT_ASTEROID, true, true, false},
        {SA_MT_GATE, true, true, false},      {SA_MT_SPECIAL, true, true, false},
    };
    for (const auto& k : cases) {
        SectorObject* o = Put(k.mainType, 0, 0, 1000);
        o->group = k.enemy ? 3 : 4;
        if (k.flag24) o->flags |= 1u << 24;
        EXPECT_EQ(INS_RadarHostile(ship_, o), k.hostile) << k.mainType << " " << k.flag24 << " " << k.enemy;
    }
}

// Symbols of ships with stems up and down, and of docks with their markers.
TEST_F(HudTest, SymbolsWithStemsAndMarkers) {
    const int t = INS_TARGET_TEXTURE;
    ID_DrawGObjectSymbol2(t, SA_MT_SHIP, 0, 10, 40, 10, INS_SYMBOL_STEM);              // stem down
    ID_DrawGObjectSymbol2(t, SA_MT_SHIP, 0, 24, 8, 40, INS_SYMBOL_STEM | 2);           // hostile, stem up
    ID_DrawGObjectSymbol2(t, SA_MT_SHIP, 0, 38, 60, 30, INS_SYMBOL_STEM | 8);          // marked
    ID_DrawGObjectSymbol2(t, SA_MT_DOCK, 0, 52, 0, 12, 8 | 0x100);                     // marker 452
    ID_DrawGObjectSymbol2(t, SA_MT_DOCK, 0, 52, 0, 32, 8 | 0x200);                     // marker 451
    ID_DrawGObjectSymbol2(t, SA_MT_DOCK, 0, 52, 0, 52, 8 | 0x200 | INS_SYMBOL_BLINK);  // marker 453
    EXPECT_EQ(Golden(t, "symbols"), "");
    EXPECT_TRUE(Is(t, 10, 25, 0x2060A0u));  // the stem
    EXPECT_TRUE(Is(t, 10, 40, 0x60A0E0u));  // its end
    EXPECT_TRUE(Is(t, 24, 20, 0xA02020u));  // the hostile stem runs up
    EXPECT_TRUE(Is(t, 47, 12, 0xF08080u));
    EXPECT_TRUE(Is(t, 47, 32, 0xF0F0F0u));
    EXPECT_TRUE(Is(t, 47, 52, 0x8080F0u));
    EXPECT_TRUE(Is(t, 52, 12, 0x40E0E0u));  // the dock's own icon over its marker
    // The plain type icon and no marker with a stem.
    ID_DrawGObjectSymbol2(t, SA_MT_DOCK, 0, 10, 62, 52, INS_SYMBOL_STEM | INS_SYMBOL_PLAIN | 0x100);
    EXPECT_TRUE(Is(t, 10, 52, 0x40A0A0u));
    EXPECT_TRUE(Is(t, 5, 52, 0u));
}

TEST_F(HudTest, AMissingStemIconIsLoggedAndNothingIsDrawn) {
    std::vector<IconBlock> icons = DefaultIcons();
    std::erase_if(icons, [](const IconBlock& b) { return b.id == 464; });
    Icons(icons);
    const std::vector<uint32_t> before = Pixels(INS_TARGET_TEXTURE);
    const std::string log =
        LogOf([] { ID_DrawGObjectSymbol2(INS_TARGET_TEXTURE, SA_MT_SHIP, 0, 20, 40, 10, INS_SYMBOL_STEM | 2); });
    EXPECT_NE(log.find("ERROR: ID_DrawGObjectSymbol2() B3DBase->B3DB_FindIcon failed!\n"), std::string::npos);
    EXPECT_EQ(Pixels(INS_TARGET_TEXTURE), before);
    // Without the stem the symbol needs no stem icon.
    ID_DrawGObjectSymbol2(INS_TARGET_TEXTURE, SA_MT_SHIP, 0, 20, 40, 10, 2);
    EXPECT_TRUE(Is(INS_TARGET_TEXTURE, 20, 10, kShipRed));
}

TEST_F(HudTest, SymbolFlagsOfAnObject) {
    SectorObject* o = New(SA_MT_MISSILE);
    o->flags = 8 | (1u << 24) | (1u << 26) | 0x8000;
    o->flags2 = 0x1000 | 0x2000 | (1u << 24);
    o->group = 10;
    EXPECT_EQ(ID_ObjectSymbolFlags(o, 2, false, true),
              2u | 4 | 8 | 0x80 | 0x100 | 0x200 | 0x41000 | 0x4000 | 0x8000 | 0x10000);
    SectorObject* plain = New(SA_MT_SHIP, 71);
    system_->realClock = 500;
    EXPECT_EQ(ID_ObjectSymbolFlags(plain, 0, true, false), 0x80u);
    system_->realClock = 1001;
    EXPECT_EQ(ID_ObjectSymbolFlags(plain, 1, true, false), 0x881u);
    EXPECT_EQ(ID_ObjectSymbolFlags(plain, 0, false, false), 0x80u);
    // The ship of the active control cockpit.
    g_CockpitSystem->activeControl = static_cast<int32_t>(c_->id);
    EXPECT_EQ(ID_ObjectSymbolFlags(ship_, 0, false, false), 0x2000u);
}

// ---------------------------------------------------------------- target panel

TEST_F(HudTest, DistanceTexts) {
    const std::string metre = SB_GetText(35, 967), km = SB_GetText(35, 966);
    ASSERT_NE(std::setlocale(LC_NUMERIC, "C"), nullptr);
    const struct {
        int32_t d, units;
        std::string text;
    } cases[] = {
        {999 * 500, 0, "999 " + metre},
        {1000 * 500, 0, "1.00" + km},
        {9999 * 500, 0, "9.99" + km},
        {10000 * 500, 0, "10.0" + km},
        {99999 * 500, 0, "99.9" + km},
        {100000 * 500, 0, "100" + km},
        {1000, 1, "1000"},
        {1001, 1, "1.001 K"},
        {10000, 1, "10.000 K"},
        {10001, 1, "10.00 K"},
        {99999, 1, "100.00 K"},
        {100000, 1, "100.0 K"},
        {999999, 1, "1000.0 K"},
        {1000000, 1, "1.000 M"},
        {10000000, 1, "10.0 M"},
        {99999999, 1, "100.0 M"},
        {100000000, 1, "100 M"},
        {2000000000, 2, "2000 M"},
    };
    for (const auto& k : cases) {
        char text[64];
        INS_FormatDistance(text, sizeof text, k.d, k.units);
        EXPECT_EQ(text, k.text) << k.d << " in " << k.units;
    }
}

class TargetPanel : public Radar {
protected:
    void SetUp() override {
        Radar::SetUp();
        SA_GetTypeRecord(SA_MT_SHIP, 0)->field[SA_TF_SHIP_TURRET_COUNT] = 1;
        TypeRecord* bullet = Types(SA_MT_BULLET, 1);
        bullet->field[SA_TF_BULLET_SPEED] = 100000;
        bullet->field[SA_TF_BULLET_LIFETIME] = 2000;  // the laser reaches 200,000
        Types(SA_MT_LASER, 1);
        SectorObject* laser = New(SA_MT_LASER);
        laser->instance = B3D_AllocInst();
        Qel_MatIdentity(&laser->instance->matrix);
        Into(ship_, laser);
        target_ = Put(SA_MT_SHIP, 0, 0, 500000);
        c_->trackedObject = target_;
        c_->trackingMode = 3;
        g_CockpitSystem->unitDisplay = 1;
    }
    SectorObject* target_ = nullptr;
};

TEST_F(TargetPanel, SpeedsAndDistance) {
    Enemy(target_);
    target_->speed = 5000 * 500;
    ship_->speed = 1500 * 500;
    ship_->desiredSpeed = 1000 * 500;
    ASSERT_NE(std::setlocale(LC_NUMERIC, "C"), nullptr);
    INS_DrawTargetPanel(c_, ship_);
    EXPECT_EQ(Golden(INS_TARGET_TEXTURE, "target_panel"), "");
    EXPECT_TRUE(Shows(INS_TARGET_TEXTURE, 0xD20101));  // the hostile's distance
    EXPECT_TRUE(Shows(INS_TARGET_TEXTURE, 0xD2C301));  // the own ship faster than it wants
    // A target that is no ship shows no speed; no target clears rows 0 and 2.
    target_->flags2 |= 16;
    INS_DrawTargetPanel(c_, ship_);
    EXPECT_FALSE(Shows(INS_TARGET_TEXTURE, 0x34628F));
    c_->trackedObject = nullptr;
    INS_DrawTargetPanel(c_, ship_);
    EXPECT_FALSE(Shows(INS_TARGET_TEXTURE, 0xD20101));
    EXPECT_TRUE(Shows(INS_TARGET_TEXTURE, 0xD2C301));
}

// Row 3 shows a landing ship how far the carrier it lands on still is, in
// green; any other order, or a carrier gone, clears it.
TEST_F(TargetPanel, ALandingShipSeesHowFarItsCarrierIs) {
    ShipData* order = O_ShipData(ship_);
    ASSERT_NE(order, nullptr);
    order->CourseType = VER_LAND;
    order->OrderTarget = target_;
    INS_DrawTargetPanel(c_, ship_);
    EXPECT_TRUE(Shows(INS_TARGET_TEXTURE, 0x01AA55));
    target_->flags |= SA_FLAG_KILLED;
    INS_DrawTargetPanel(c_, ship_);
    EXPECT_FALSE(Shows(INS_TARGET_TEXTURE, 0x01AA55));
    target_->flags &= ~SA_FLAG_KILLED;
    INS_DrawTargetPanel(c_, ship_);
    order->CourseType = VER_STOP;
    INS_DrawTargetPanel(c_, ship_);
    EXPECT_FALSE(Shows(INS_TARGET_TEXTURE, 0x01AA55));
    order->OrderTarget = nullptr;
}

// Object 2100 hears when a hostile tracked target comes into laser range and leaves it.
constexpr const char* kLaserStory = R"(
    end
.object 2100
.func "NotifyIntoLaserRange" need 8
    pushw 1
    c1
    sys "T_Now"
    ret
.func "NotifyOutofLaserRange" need 8
    pushw 0
    c1
    sys "T_Now"
    ret
)";

TEST_F(TargetPanel, LaserRangeNotifications) {
    StoryRunner runner;
    SE_Context* saved = g_SEContext;
    g_SEContext = runner.ctx();
    INS_RegisterSysCalls();
    ASSERT_TRUE(runner.Load(kLaserStory));
    Enemy(target_);
    const auto heard = [&] {
        std::vector<std::string> out;
        for (const RunCall& call : runner.calls) out.push_back(call.args.at(0));
        return out;
    };
    INS_DrawTargetPanel(c_, ship_);  // out of range: nothing to tell
    EXPECT_TRUE(heard().empty());
    target_->instance->pos.z = 150000;
    INS_DrawTargetPanel(c_, ship_);
    INS_DrawTargetPanel(c_, ship_);
    EXPECT_EQ(heard(), (std::vector<std::string>{"1"}));
    target_->instance->pos.z = 250000;
    INS_DrawTargetPanel(c_, ship_);
    EXPECT_EQ(heard(), (std::vector<std::string>{"1", "0"}));
    // A friend, or tracking in another mode, is never in laser range.
    target_->instance->pos.z = 150000;
    c_->trackingMode = 1;
    INS_DrawTargetPanel(c_, ship_);
    target_->group = 4;
    c_->trackingMode = 3;
    INS_DrawTargetPanel(c_, ship_);
    EXPECT_EQ(heard(), (std::vector<std::string>{"1", "0"}));
    g_SEContext = saved;
}

}  // namespace
