// The message ticker and the tasks waiting on it, the scanner list with its
// range, nebulae and known objects, and the alerts the story and the player
// hear of.
#include "cockpit/ticker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "cockpit/hud_fixture.h"
#include "cockpit/syscall.h"
#include "script/modules.h"
#include "space/callnames.h"
#include "space/objects.h"
#include "script/tasks.h"
#include "support/script_run.h"

namespace {

// "Show" shows a text through the engine call and keeps its answer plus 7.
constexpr const char* kShowStory = R"(
    end
.var "Cockpit" int 0
.var "Done" int 0
.func "Show" need 8
    pushw 0
    pushs "12"
    getg 0
    pushw 3
    sys "INS_CockpitDisplayText"
    pushw 7
    add
    setg 1
    c0
    ret
)";

using Reply = std::pair<uint32_t, int32_t>;
using Replies = std::vector<Reply>;

// The tasks waiting on texts are stood in for by the test module of a story
// runner, which keeps the answers it gets.
class Ticker : public HudTest {
protected:
    void SetUp() override {
        HudTest::SetUp();
        ASSERT_TRUE(LoadStory(kShowStory));
        module_ = story_->module();
    }
    void TearDown() override {
        INS_FreeCockpitSystem();
        HudTest::TearDown();
    }
    Replies Answers() const {
        Replies out;
        for (const RunAnswer& a : story_->answers) out.emplace_back(a.callerNumber, a.n);
        return out;
    }
    int32_t Width(const char* text) const { return B3D_TexTextWidth(INS_HudFont(), 0, text); }
    void At(int32_t ms) {
        SetClock(ms);
        INS_CheckText(c_);
    }
    // The first game time after start at which a text of this width has scrolled out.
    static int32_t Out(int32_t start, int32_t width) {
        const int32_t pixels = width + 80;  // past the band's 80 pixels
        return start + (pixels * 1000 + 127) / 128;
    }

    // White pixels right of the band, where the static text stands.
    static bool StaticTextShown() {
        for (int x = 84; x < 100; ++x)
            for (int y = 0; y < 16; ++y)
                if (Is(INS_TEXT_TEXTURE, x, y, 0xFFFFFF)) return true;
        return false;
    }

    int32_t module_ = 0;
};

TEST_F(Ticker, AQueuedTextAnswersItsCallerOnceItHasScrolledOut) {
    INS_DisplayText("12", c_, module_, 77, 0);
    INS_DisplayText("", c_, module_, 78, 0);  // a text of width 0
    const int32_t w = Width("12");
    ASSERT_GT(w, 0);
    At(100000);
    At(Out(100000, w) - 1);
    EXPECT_TRUE(Answers().empty());
    At(Out(100000, w));
    EXPECT_EQ(Answers(), (Replies{{77, 0}}));
    // The empty text is done once it has passed the band.
    const int32_t next = Out(100000, w);
    At(Out(next, 0) - 1);
    EXPECT_EQ(Answers().size(), 1u);
    At(Out(next, 0));
    EXPECT_EQ(Answers(), (Replies{{77, 0}, {78, 0}}));
    EXPECT_EQ(c_->hud->showing, 0);
}

// The engine call leaves its task waiting until the text has passed.
TEST_F(Ticker, TheCallingTaskWaitsForItsText) {
    SV_AssignInt(&story_->ctx()->objects[0].variables[0], static_cast<int32_t>(c_->id));
    story_->Start(0, "Show");
    EXPECT_EQ(story_->Global(1), "0");
    EXPECT_EQ(c_->hud->texts.size(), 1u);
    At(100000);
    At(Out(100000, Width("12")) - 1);
    SE_RunAllTasks();
    EXPECT_EQ(story_->Global(1), "0");
    At(Out(100000, Width("12")));
    SE_RunAllTasks();
    EXPECT_EQ(story_->Global(1), "7");
}

TEST_F(Ticker, ClearingAnswersEveryQueuedCallerThenTheClearer) {
    for (uint32_t h : {1u, 2u, 3u}) INS_DisplayText("12", c_, module_, h, 0);
    At(100000);
    INS_DisplayText(nullptr, c_, module_, 9, 0);
    EXPECT_EQ(Answers(), (Replies{{1, 0}, {2, 0}, {3, 0}, {9, 0}}));
    EXPECT_TRUE(c_->hud->texts.empty());
    EXPECT_EQ(c_->hud->showing, 0);
}

// A freed cockpit answers the tasks still waiting on its ticker.
TEST_F(Ticker, FreeingACockpitAnswersItsQueuedTexts) {
    INS_DisplayText("12", c_, module_, 1, 0);
    INS_DisplayText("34", c_, module_, 2, 0);
    At(100000);
    INS_FreeCockpit(g_CockpitSystem, c_->id);
    c_ = nullptr;
    EXPECT_EQ(Answers(), (Replies{{1, 0}, {2, 0}}));
}

TEST_F(Ticker, WithoutItsTextureATextIsAnsweredAtOnce) {
    FreeILBM(TC_TextureTable[INS_TEXT_TEXTURE].bitmap);
    TC_TextureTable[INS_TEXT_TEXTURE].bitmap = nullptr;
    const std::string log = LogOf([&] { INS_DisplayText("12", c_, module_, 4, 0); });
    EXPECT_NE(log.find("INS_DisplayText(12, " + std::to_string(c_->id) + ") No textebm!\n"), std::string::npos);
    EXPECT_EQ(Answers(), (Replies{{4, 0}}));
}

// The static text stands right of the band; the text scrolls in from the
// band's right end and loses its leading characters at the left edge.
TEST_F(Ticker, TheBandAndTheStaticText) {
    INS_SetStaticText(c_, "AB");
    At(100000);
    INS_DisplayText("1234 5678", c_, 0, 0, 0);
    At(100000);
    At(100300);  // 38 pixels in
    EXPECT_EQ(Golden(INS_TEXT_TEXTURE, "ticker"), "");
    EXPECT_TRUE(StaticTextShown());
    EXPECT_TRUE(Is(INS_TEXT_TEXTURE, 2, 8, 0x121B20));  // the band
    At(101000);                                         // 128 pixels in: "1234" has gone past the left edge
    EXPECT_EQ(Golden(INS_TEXT_TEXTURE, "ticker_left"), "");
    EXPECT_TRUE(StaticTextShown());
}

// A shorter static text leaves nothing of a longer one before it.
TEST_F(Ticker, AShorterStaticTextReplacesALongerOneWhole) {
    INS_SetStaticText(c_, "12345");
    At(100000);
    bool reached = false;
    for (int y = 0; y < 16; ++y) reached = reached || Is(INS_TEXT_TEXTURE, 110, y, 0xFFFFFF);
    ASSERT_TRUE(reached);
    INS_SetStaticText(c_, "1");
    At(100100);
    for (int x = 96; x < 128; ++x)
        for (int y = 0; y < 16; ++y) EXPECT_TRUE(Is(INS_TEXT_TEXTURE, x, y, 0x121B20)) << x << " " << y;
}

// ---------------------------------------------------------------- scanner list

// The ship's story object gives the range; object 41 is told it is known;
// object 42 frees the cockpit when it is, object 43 two objects.
constexpr const char* kScannerStory = R"(
    end
.var "Range" int 0
.var "Cockpit" int 0
.var "Next" int 0
.var "Self" int 0
.object 40
.func "GetScannerRange" need 8
    getg 0
    ret
.object 41
.func "SetKnown" need 8
    getl 4
    c1
    sys "T_Now"
    ret
.object 42
.func "SetKnown" need 8
    getg 1
    pushw 1
    sys "INS_CockpitFree"
    ret
.object 43
.func "SetKnown" need 8
    getg 2
    pushw 1
    sys "SA_FreeObject"
    getg 3
    pushw 1
    sys "SA_FreeObject"
    ret
)";

class Scanner : public HudTest {
protected:
    void SetUp() override {
        HudTest::SetUp();
        saved_ = g_SEContext;
        runner_ = std::make_unique<StoryRunner>();
        g_SEContext = runner_->ctx();
        INS_RegisterSysCalls();
        root_.moduleNumber = SB_RegisterEngineModule(runner_->ctx(), SA_SysCall, SA_GetCallNames(),
                                                     SA_ReturnIntCallback, nullptr, nullptr);
        ASSERT_TRUE(runner_->Load(kScannerStory));
        Global(0, 50000);
        Global(1, static_cast<int32_t>(c_->id));
        ship_->eventObject = 40;
        savedGlobals_ = g_TypeDB.globals;
        savedGlobalCount_ = g_TypeDB.globalCount;
    }
    void TearDown() override {
        g_TypeDB.globals = savedGlobals_;
        g_TypeDB.globalCount = savedGlobalCount_;
        SA_FreeAllObjects(&root_);
        INS_FreeCockpitSystem();
        runner_.reset();
        g_SEContext = saved_;
        HudTest::TearDown();
    }
    void Global(uint32_t i, int32_t v) { SV_AssignInt(&runner_->ctx()->objects[0].variables[i], v); }
    SectorObject* Put(int16_t mainType, int32_t z) {
        SectorObject* o = New(mainType);
        o->instance = B3D_AllocInst();
        o->instance->pos = QelVector{0, 0, z, 0};
        Into(sector_, o);
        return o;
    }
    SectorObject* Nebula(int32_t z, int32_t radius) {
        if (g_TypeDB.counts[SA_MT_NEBULA] == 0) Types(SA_MT_NEBULA, 1);
        SectorObject* n = Put(SA_MT_NEBULA, z);
        auto* data = static_cast<NebulaData*>(n->typeData);
        data->words[0] = radius;
        data->words[15] = 1;
        return n;
    }
    std::vector<SectorObject*> Listed() {
        INS_BuildScannerList(c_);
        std::vector<SectorObject*> out;
        for (const ScannerEntry& e : c_->hud->scanner) out.push_back(e.object);
        return out;
    }
    bool Lists(SectorObject* o) {
        const std::vector<SectorObject*> l = Listed();
        return std::find(l.begin(), l.end(), o) != l.end();
    }

    std::unique_ptr<StoryRunner> runner_;

private:
    SE_Context* saved_ = nullptr;
    GlobalParameter* savedGlobals_ = nullptr;
    int32_t savedGlobalCount_ = 0;
};

TEST_F(Scanner, TheRangeComesFromTheStoryAndTheListIsSortedByDistance) {
    SectorObject* behind = Put(SA_MT_SHIP, -40000);
    SectorObject* far = Put(SA_MT_SHIP, 60000);
    SectorObject* ahead = Put(SA_MT_SHIP, 40000);
    SectorObject* near = Put(SA_MT_SHIP, 100);
    Put(SA_MT_ASTEROID, 10);
    SectorObject* group10 = Put(SA_MT_SHIP, 1000000);
    group10->group = 10;
    SectorObject* always = Put(SA_MT_SHIP, 900000);
    always->flags2 |= 16;
    SectorObject* nearOnly = Put(SA_MT_SHIP, 40000);
    nearOnly->flags2 |= 0x4000;
    Put(SA_MT_SHIP, 10)->flags |= 0x10;
    Put(SA_MT_SHIP, 10)->flags2 |= 1u << 29;
    EXPECT_EQ(Listed(), (std::vector<SectorObject*>{near, behind, ahead, nearOnly, always, group10}));
    EXPECT_EQ(c_->hud->scannerRange, 50000);
    EXPECT_FALSE(Lists(far));
    // Near-only objects: no farther than 250,000 whatever the range.
    Global(0, 300000);
    nearOnly->instance->pos.z = 260000;
    EXPECT_FALSE(Lists(nearOnly));
    EXPECT_TRUE(Lists(far));
    // Without a story object the range is 0: only the objects listed without tests.
    ship_->eventObject = 0;
    EXPECT_EQ(Listed(), (std::vector<SectorObject*>{always, group10}));
}

TEST_F(Scanner, NebulaeShadowObjectsAndTheTrackedOne) {
    SectorObject* hidden = Put(SA_MT_SHIP, 30000);
    SectorObject* seen = Put(SA_MT_SHIP, 45000);
    Nebula(30000, 5000);
    EXPECT_FALSE(Lists(hidden));
    EXPECT_TRUE(Lists(seen));
    // A tracked object inside a nebula is dropped; one out of range is kept.
    c_->trackedObject = hidden;
    EXPECT_FALSE(Lists(hidden));
    EXPECT_EQ(c_->trackedObject, nullptr);
    SectorObject* farAway = Put(SA_MT_SHIP, 400000);
    c_->trackedObject = farAway;
    EXPECT_TRUE(Lists(farAway));
    EXPECT_EQ(c_->trackedObject, farAway);
    // From inside a nebula the limit under Globals key 12 holds.
    GlobalParameter limit[] = {{12, 20000}};
    g_TypeDB.globals = limit;
    g_TypeDB.globalCount = 1;
    Nebula(0, 1000);
    SectorObject* close = Put(SA_MT_SHIP, 15000);
    EXPECT_TRUE(Lists(close));
    EXPECT_FALSE(Lists(seen));
    EXPECT_FALSE(Lists(farAway));
    EXPECT_EQ(c_->trackedObject, nullptr);
}

TEST_F(Scanner, AtMostFiftyNebulaeShadow) {
    for (int i = 0; i < 49; ++i) Nebula(-45000, 1);
    SectorObject* covered = Put(SA_MT_SHIP, 30000);
    Nebula(30000, 5000);
    EXPECT_FALSE(Lists(covered));  // the fiftieth nebula counts
    // One more at the head of the list: the covering one is the fifty-first.
    SectorObject* extra = Nebula(-45000, 1);
    SA_ListUnlink(extra);
    SA_ListAddHead(O_GetChildList(sector_), extra);
    EXPECT_TRUE(Lists(covered));
}

TEST_F(Scanner, KnownObjectsAreToldOrLoseTheirFlag) {
    SectorObject* told = Put(SA_MT_SHIP, 1000);
    told->flags |= 8;
    told->eventObject = 41;
    SectorObject* plain = Put(SA_MT_SHIP, 2000);
    plain->flags |= 8;
    EXPECT_EQ(Listed(), (std::vector<SectorObject*>{told, plain}));
    EXPECT_EQ(plain->flags & 8, 0u);
    ASSERT_EQ(runner_->calls.size(), 1u);
    EXPECT_EQ(runner_->calls[0].args, (std::vector<std::string>{"1"}));
}

// "SetKnown" runs story code in the middle of the walk: here it frees the
// cockpit, and the walk stops without touching it.
TEST_F(Scanner, AStoryMayFreeTheCockpitWhileItsListIsBuilt) {
    SectorObject* o = Put(SA_MT_SHIP, 1000);
    o->flags |= 8;
    o->eventObject = 42;
    Put(SA_MT_SHIP, 2000);
    const uint32_t id = c_->id;
    INS_BuildScannerList(c_);
    EXPECT_EQ(INS_TableGet(g_CockpitSystem, id), nullptr);
    c_ = nullptr;
}

// ... here it frees the object it is run for and the one after it: the walk
// goes on to the next object that is still there.
TEST_F(Scanner, AStoryMayFreeObjectsWhileTheListIsBuilt) {
    SectorObject* known = Put(SA_MT_SHIP, 1000);
    known->flags |= 8;
    known->eventObject = 43;
    SectorObject* next = Put(SA_MT_SHIP, 2000);
    SectorObject* last = Put(SA_MT_SHIP, 3000);
    const uint32_t knownId = known->id, nextId = next->id;
    Global(2, static_cast<int32_t>(nextId));
    Global(3, static_cast<int32_t>(knownId));
    EXPECT_EQ(Listed(), (std::vector<SectorObject*>{last}));
    EXPECT_EQ(SA_LookupObject(knownId), nullptr);
    EXPECT_EQ(SA_LookupObject(nextId), nullptr);
}

TEST_F(Scanner, AMonitorScansOnlyWithTheRadarOn) {
    SectorObject* o = Put(SA_MT_SHIP, 1000);
    c_->monitorNumber = 1;
    c_->radarBodyOn = 0;
    EXPECT_FALSE(Lists(o));
    c_->radarBodyOn = 1;
    EXPECT_TRUE(Lists(o));
    g_CockpitSystem->radarOn = 0;
    EXPECT_FALSE(Lists(o));
}

// ---------------------------------------------------------------- alerts

constexpr const char* kAlertStory = R"(
    end
.object 2100
.func "NotifyAlert" need 8
    getl 4
    c1
    sys "T_Now"
    ret
.func "NotifyMissileAlert" need 8
    pushw 9
    c1
    sys "T_Now"
    ret
)";

std::vector<std::string> g_sounds;

class Alerts : public CockpitTest {
protected:
    void SetUp() override {
        CockpitTest::SetUp();
        saved_ = g_SEContext;
        runner_ = std::make_unique<StoryRunner>();
        g_SEContext = runner_->ctx();
        ASSERT_TRUE(runner_->Load(kAlertStory));
        savedSounds_ = g_INSAlertSounds;
        g_INSAlertSounds = {[](int32_t s) { g_sounds.push_back("play " + std::to_string(s)); },
                            [](int32_t s) { g_sounds.push_back("stop " + std::to_string(s)); }};
        g_sounds.clear();
        sector_ = New(SA_MT_SECTOR);
        player_ = Ship();
        Into(sector_, player_);
        root_.game.playerObject = player_;
        O_RelationWords(player_)->foeMask = 1u << 3;
        enemy_ = Ship(0, 0, 9000000);
        enemy_->group = 3;
        Into(sector_, enemy_);
    }
    void TearDown() override {
        root_.game.playerObject = nullptr;
        g_INSAlertSounds = savedSounds_;
        SA_FreeAllObjects(&root_);
        runner_.reset();
        g_SEContext = saved_;
        CockpitTest::TearDown();
    }
    std::vector<std::string> Heard() const {
        std::vector<std::string> out;
        for (const RunCall& c : runner_->calls) out.push_back(c.args.at(0));
        return out;
    }
    SectorObject* Missile(SectorObject* target) {
        SectorObject* m = New(SA_MT_MISSILE);
        m->instance = B3D_AllocInst();
        m->group = 3;
        O_MissileData(m)->target = target;
        Into(sector_, m);
        return m;
    }

    std::unique_ptr<StoryRunner> runner_;
    SectorObject* sector_ = nullptr;
    SectorObject* player_ = nullptr;
    SectorObject* enemy_ = nullptr;

private:
    SE_Context* saved_ = nullptr;
    INSAlertSoundLink savedSounds_{};
};

// A switch sounds only when its bit changes, on turning on in mode 1 and on
// turning off in mode 2.
TEST_F(Alerts, SwitchesSoundAsTheirModeAsks) {
    const struct {
        uint32_t flags;
        int32_t bit, on, mode;
        uint32_t after;
        bool heard;
    } cases[] = {
        {0, 3, 1, 1, 8, true},
        {0, 3, 1, 2, 8, false},
        {8, 3, 0, 2, 0, true},
        {8, 3, 0, 1, 0, false},
        {8, 3, 1, 1, 8, false},
        {0, 3, 0, 2, 0, false},
        {0, 31, 1, 1, 0x80000000u, true},
        {0, 32, 1, 1, 0, false},
        {0, -1, 1, 1, 0, false},
        {0, 0, 1, 0, 1, false},
    };
    for (const auto& c : cases) {
        INSSoundSwitches record{c.flags, 930};
        g_sounds.clear();
        INS_SoundToggle(c.bit, &record, c.on, c.mode);
        EXPECT_EQ(record.flags, c.after) << c.bit << " " << c.on << " " << c.mode;
        EXPECT_EQ(g_sounds, c.heard ? std::vector<std::string>{"play 930"} : std::vector<std::string>{})
            << c.bit << " " << c.on << " " << c.mode;
    }
    INS_SoundToggle(0, nullptr, 1, 1);
    EXPECT_TRUE(g_sounds.empty());
}

// An enemy raises the alert inside 2,500,000 on the largest axis and holds it
// until it is 5,000,000 away.
TEST_F(Alerts, Hysteresis) {
    const struct {
        int32_t at;
        int32_t level;
        std::vector<std::string> sounds;
        std::vector<std::string> heard;
    } steps[] = {
        {2500000, 0, {}, {}},
        {-2499999, 1, {"play 923"}, {"1"}},
        {4999999, 1, {"play 923"}, {"1"}},
        {5000000, 0, {"play 923", "stop 923"}, {"1", "0"}},
        {2500000, 0, {"play 923", "stop 923"}, {"1", "0"}},
    };
    for (const auto& s : steps) {
        enemy_->instance->pos = QelVector{100, s.at, -200, 0};
        INS_CheckAlert();
        EXPECT_EQ(g_CockpitSystem->stateWords[0], s.level) << s.at;
        EXPECT_EQ(g_CockpitSystem->stateWords[1], 0);
        EXPECT_EQ(g_sounds, s.sounds) << s.at;
        EXPECT_EQ(Heard(), s.heard) << s.at;
    }
    // Friends raise nothing.
    enemy_->instance->pos = QelVector{0, 0, 1000, 0};
    enemy_->group = 4;
    INS_CheckAlert();
    EXPECT_EQ(g_CockpitSystem->stateWords[0], 0);
}

// A missile aimed at the player while an enemy is near switches the warning
// sound without telling the story again.
TEST_F(Alerts, AMissileSwitchesTheSounds) {
    enemy_->instance->pos = QelVector{0, 0, 1000000, 0};
    INS_CheckAlert();
    SectorObject* m = Missile(player_);
    INS_CheckAlert();
    EXPECT_EQ(g_CockpitSystem->stateWords[0], 2);
    EXPECT_EQ(g_sounds, (std::vector<std::string>{"play 923", "stop 923", "play 925"}));
    EXPECT_EQ(Heard(), (std::vector<std::string>{"1"}));
    // The missile gone, the enemy near: back to the first sound.
    O_MissileData(m)->target = nullptr;
    INS_CheckAlert();
    EXPECT_EQ(g_CockpitSystem->stateWords[0], 1);
    EXPECT_EQ(g_sounds, (std::vector<std::string>{"play 923", "stop 923", "play 925", "stop 925", "play 923"}));
    EXPECT_EQ(Heard(), (std::vector<std::string>{"1"}));
}

TEST_F(Alerts, AMissileAimedAtThePlayerRaisesTheMissileAlert) {
    INS_NotifyMissileAlert(Missile(enemy_));
    INS_NotifyMissileAlert(enemy_);
    EXPECT_EQ(g_CockpitSystem->statusFlags & 4u, 0u);
    EXPECT_TRUE(Heard().empty());
    INS_NotifyMissileAlert(Missile(player_));
    EXPECT_EQ(g_CockpitSystem->statusFlags & 4u, 4u);
    EXPECT_EQ(Heard(), (std::vector<std::string>{"9"}));
    // Without the player's ship nothing happens.
    g_CockpitSystem->statusFlags = 0;
    root_.game.playerObject = nullptr;
    INS_NotifyMissileAlert(Missile(player_));
    EXPECT_EQ(g_CockpitSystem->statusFlags, 0u);
}

}  // namespace
