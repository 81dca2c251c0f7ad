// Hangars: ships handed to gates wait in launch slots and warp in on the next
// hangar step, docks put them out at once, and the sector's screens show the
// video whose ids find the most of them.
#include "space/hangars.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "base/random.h"
#include "base/texanim.h"
#include "scene/caches.h"
#include "scene/drawing.h"
#include "scene/freeing.h"
#include "scene/lists.h"
#include "space/carrierparts.h"
#include "space/cutscene.h"
#include "space/flight.h"
#include "space/order_fixture.h"
#include "space/orders.h"
#include "space/typesdb.h"

namespace {

constexpr int16_t kBigShip = 2;  // class 5: not small
constexpr int32_t kGateSize = 100000;
constexpr int32_t kShipSize = 1000;

class Hangars : public OrderTest {
protected:
    void SetUp() override {
        OrderTest::SetUp();
        if (g_TypeDB.counts[SA_MT_SHIP] <= kBigShip) Types(SA_MT_SHIP, kBigShip + 1 - g_TypeDB.counts[SA_MT_SHIP]);
        SA_GetTypeRecord(SA_MT_SHIP, kBigShip)->field[SA_TF_CLASS] = 5;
        gate_ = Placed(SA_MT_GATE, 0, 0, 0, 0, kGateSize);
        gate_->flags |= SA_FLAG_HOLDER;
        Gate()->carrier.hangarPoint = QelVector{0, 65536, 32768, 0};  // radius 1.0, height 0.5
    }
    GateData* Gate() { return O_GateData(gate_); }
    SectorObject* BigShip(int32_t x) { return Placed(SA_MT_SHIP, kBigShip, x, 0, 5000000, kShipSize); }
    int32_t SlotOf(const SectorObject* ship) {
        for (int32_t k = 0; k < SA_GATE_SLOTS; ++k)
            if (Gate()->slotOccupant[k] == ship) return k;
        return -1;
    }
    int32_t Start(SectorObject* ship, SectorObject* carrier, uint32_t task) {
        return Call(25, {IntValue(Id(ship)), IntValue(Id(carrier))}, task);
    }

    SectorObject* gate_ = nullptr;
};

TEST_F(Hangars, SevenShipsAtOneGateTakeSixSlotsThenThePlayersSlotSix) {
    std::set<int32_t> slots;
    std::vector<SectorObject*> ships;
    for (int i = 0; i < 7; ++i) ships.push_back(BigShip(100000 * i));
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(Start(ships[i], gate_, 900 + i), kParked);
        EXPECT_EQ(ships[i]->container, gate_);
        EXPECT_TRUE(ships[i]->flags & SA_FLAG_QUEUED);
        slots.insert(SlotOf(ships[i]));
    }
    EXPECT_EQ(slots, (std::set<int32_t>{0, 1, 2, 3, 4, 5}));
    // The seventh is refused and stays where it was; as the player's ship it gets slot 6.
    EXPECT_EQ(Start(ships[6], gate_, 906), 10);
    EXPECT_EQ(ships[6]->container, sector_);
    EXPECT_FALSE(ships[6]->flags & SA_FLAG_QUEUED);
    root_.game.playerObject = ships[6];
    EXPECT_EQ(Start(ships[6], gate_, 906), kParked);
    EXPECT_EQ(SlotOf(ships[6]), 6);
    EXPECT_EQ(Gate()->slotTime[6], SA_TimeAfter(SA_GATE_SLOT_MS));
}

TEST_F(Hangars, ALaunchAnswersTheWaitingTaskAndWarpsIn) {
    SectorObject* ship = BigShip(0);
    ship->flags |= SA_FLAG_COLLISION_WARNING;
    ASSERT_EQ(Start(ship, gate_, 901), kParked);
    EXPECT_TRUE(Told().empty());
    Frame(16);
    EXPECT_EQ(Told(), (Answers{{901, 1}}));
    EXPECT_EQ(ship->container, sector_);
    EXPECT_EQ(ship->flags & (SA_FLAG_QUEUED | SA_FLAG_COLLISION_WARNING), 0u);
    EXPECT_TRUE(ship->flags & SA_FLAG_NO_AREA_DAMAGE);
    const ShipData* d = O_ShipData(ship);
    EXPECT_EQ(d->CourseType, VER_WARPIN);
    EXPECT_EQ(d->OrderTarget, gate_);
    EXPECT_EQ(d->WarpEnd, SA_TimeAfter(SA_WARP_MS));
    EXPECT_EQ(Gate()->carrier.launchTime, SA_TimeAfter(SA_LAUNCH_DELAY_MS));
    EXPECT_EQ(ship->speed, 120000);
    EXPECT_EQ(ship->callerModule, 0u);
}

TEST_F(Hangars, GateSlotsLieOnTheLaunchCircle) {
    // In the gate's frame, scaled by its size: slot 3 straight below, slots 0
    // and 6 45 degrees to either side; less the ship's size in z.
    const double r = kGateSize, s = std::sqrt(0.5);
    const struct {
        int32_t slot;
        double x, y;
    } cases[] = {{3, 0, -r}, {0, -s * r, -s * r}, {6, s * r, -s * r}};
    for (const auto& c : cases) {
        SectorObject* ship = BigShip(0);
        root_.game.playerObject = ship;  // slot 6 is the player's
        ASSERT_EQ(O_StartInHangar(ship, gate_, -1), SA_HANGAR_QUEUED);
        ASSERT_GE(SlotOf(ship), 0);
        Gate()->slotOccupant[SlotOf(ship)] = nullptr;
        Gate()->slotOccupant[c.slot] = ship;
        O_UpdateHangars(sector_);
        const QelVector& at = O_ShipData(ship)->OrderPos;
        EXPECT_NEAR(at.x, c.x, 4) << c.slot;
        EXPECT_NEAR(at.y, c.y, 4) << c.slot;
        EXPECT_EQ(at.z, kGateSize / 2 - kShipSize) << c.slot;
        // The warp-in starts out along the gate's axis.
        EXPECT_EQ(ship->instance->pos.z, at.z + 1348650) << c.slot;
        Gate()->slotOccupant[c.slot] = nullptr;
    }
}

TEST_F(Hangars, ADockLaunchesAgainAfterTenToTwentySecondsBySpeed) {
    SectorObject* dock = Placed(SA_MT_DOCK, 0, 0, 0, 0, 50000);
    dock->flags |= SA_FLAG_HOLDER;
    const struct { int32_t speed, delay; } cases[] = {{0, 20000}, {8880, 15000}, {17760, 10000}, {40000, 10000}};
    for (const auto& c : cases) {
        SA_GetTypeRecord(SA_MT_SHIP, kBigShip)->field[SA_TF_SHIP_SPEED] = c.speed;
        SectorObject* ship = BigShip(0);
        O_StartShipFromHangar(ship, dock);  // not held by the dock: nothing
        EXPECT_EQ(O_CarrierWords(dock)->launchTime, 0) << c.speed;
        SA_ListUnlink(ship);
        Into(dock, ship);
        O_StartShipFromHangar(ship, dock);
        EXPECT_EQ(O_CarrierWords(dock)->launchTime, SA_TimeAfter(c.delay)) << c.speed;
        EXPECT_EQ(ship->container, sector_) << c.speed;
        O_CarrierWords(dock)->launchTime = 0;
    }
}

TEST_F(Hangars, ADockPutsAShipOutAtOnce) {
    SectorObject* dock = Placed(SA_MT_DOCK, 0, 0, 0, 0, 50000);
    dock->flags |= SA_FLAG_HOLDER;
    SectorObject* ship = BigShip(0);
    EXPECT_EQ(Start(ship, dock, 902), 1);
    EXPECT_EQ(ship->container, sector_);
    EXPECT_FALSE(ship->flags & SA_FLAG_QUEUED);
    EXPECT_TRUE(O_IsSpaceFree(ship));
    // A port the dock does not have is refused and moves nothing.
    SectorObject* other = BigShip(300000);
    EXPECT_EQ(Call(25, {IntValue(Id(other)), IntValue(Id(dock)), IntValue(3)}), 0);
    EXPECT_EQ(other->container, sector_);
    EXPECT_EQ(other->instance->pos.x, 300000);
}

TEST_F(Hangars, AQueuedShipWhoseSlotExpiredLaunchesOnceASlotIsFree) {
    SectorObject* late = BigShip(0);
    ASSERT_EQ(Start(late, gate_, 950), kParked);
    // No hangar step runs while the space stands still; the slot expires.
    root_.running = 0;
    Frame(SA_GATE_SLOT_MS + 1000);
    root_.running = 1;
    for (int i = 0; i < 6; ++i) ASSERT_EQ(Start(BigShip(100000 * (i + 1)), gate_, 900 + i), kParked);
    EXPECT_EQ(SlotOf(late), -1);
    Frame(16);
    // Six launched; the late one stays queued with no slot free.
    EXPECT_EQ(Told().size(), 6u);
    EXPECT_EQ(late->container, gate_);
    EXPECT_TRUE(late->flags & SA_FLAG_QUEUED);
    Frame(SA_GATE_SLOT_MS);
    EXPECT_EQ(Told().back(), (std::pair<uint32_t, int32_t>{950, 1}));
    EXPECT_EQ(late->container, sector_);
    EXPECT_EQ(O_ShipData(late)->CourseType, VER_WARPIN);
}

// ---------------------------------------------------------------- screens

std::vector<std::string>& MovieLog() {
    static std::vector<std::string> log;
    return log;
}
uint32_t s_movieState = 0;
int Loaded(int) { return 1; }
int Open(int) { return 1; }
int Connect(int, int) { return 1; }
int Disconnect(int movie, int texture) {
    MovieLog().push_back("disconnect " + std::to_string(movie) + " " + std::to_string(texture));
    return 1;
}
void Play(int movie, int, int, int, int, int, int) { MovieLog().push_back("play " + std::to_string(movie)); }
void Stop(int movie) { MovieLog().push_back("stop " + std::to_string(movie)); }
uint32_t State(int) { return s_movieState; }

// A dock port's part plays the window its docking picked, once and without
// looping, backward when the port is reversed.
TEST_F(Hangars, ADockPortsPartPlaysThePickedWindowOnce) {
    TempGameFolder folder;
    constexpr int32_t kCut = 4700, kPartBody = 900;
    // Path 1 is the port's part, rising over three seconds.
    WriteSourceCut(folder, kCut,
                   "path 0 -2\npath 1 900\nkey 0x20 1000 0 0 0\nkey 0x20 1000 0 1000 0\n"
                   "key 0x20 1000 0 2000 0\nkey 0x20 1000 0 3000 0\n");
    DummyRecord dummy{};
    dummy.body = kPartBody;
    dummy.flags = 0x20000;  // opens forwards
    dummy.windows[1] = DummyWindow{1000, 2000};
    g_TypeDB.dummies[0] = &dummy;
    g_TypeDB.dummyCounts[0] = 1;
    DockPortEntry entry{1, -1, 0x20000, kPartBody};
    DockPortList list{1, 0xffffffff, &entry};
    if (g_TypeDB.counts[SA_MT_DOCK] == 0) Types(SA_MT_DOCK, 1);
    SectorObject* dock = Placed(SA_MT_DOCK, 0, 0, 0, 0, 50000);
    dock->flags |= SA_FLAG_HOLDER;
    O_GetTypeRecord(dock)->dockPorts = &list;
    dock->cutId = kCut;
    ASSERT_NE(O_BuildCutScene(kCut, dock->instance, dock, nullptr), nullptr);
    Inst3D* part = nullptr;
    for (Inst3D* c = B3D_First<Inst3D>(&dock->instance->children); c; c = B3D_Next(c))
        if (c->pathNr == 1) part = c;
    ASSERT_NE(part, nullptr);
    ASSERT_TRUE(part->jobFlags & JOB_LOOP);  // an idle part of the cut loops
    const struct {
        int32_t mode;
        bool backward;
    } cases[] = {{0, false}, {1, true}};
    for (const auto& c : cases) {
        O_SetDockPortAnim(0, dock, 1, c.mode);
        O_UpdateHangars(sector_);
        EXPECT_EQ(part->jobFlags & (JOB_RUNNING | JOB_LOOP), JOB_RUNNING) << c.mode;
        EXPECT_EQ((part->jobFlags & JOB_BACKWARD) != 0, c.backward) << c.mode;
        EXPECT_EQ(part->jobFrom, 1000) << c.mode;
        EXPECT_EQ(part->jobTo, 2000) << c.mode;
        // Played once: the next step leaves the part where its job took it.
        part->jobFlags |= JOB_STOPPED;
        O_UpdateHangars(sector_);
        EXPECT_TRUE(part->jobFlags & JOB_STOPPED) << c.mode;
    }
    O_GetTypeRecord(dock)->dockPorts = nullptr;
    g_TypeDB.dummies[0] = nullptr;
    g_TypeDB.dummyCounts[0] = 0;
    SA_FreeAllObjects(&root_);
    J3D_FreeAllCuts();
}

// A gate glows on every side: fully when it takes a ship into a slot, dimming
// to its idle glow as the slot's 20 s run out.
TEST_F(Hangars, AGateGlowsWhileALaunchSlotIsTaken) {
    O_UpdateHangars(sector_);
    EXPECT_EQ(gate_->instance->words5[B3D_INST_GLOW_LEVEL], SA_GATE_IDLE_GLOW);
    EXPECT_EQ(static_cast<uint32_t>(gate_->instance->words5[B3D_INST_GLOW_SIDES]), 0x3fu | B3D_GLOW_STATE);
    ASSERT_EQ(Start(BigShip(0), gate_, 903), kParked);
    const struct {
        int32_t after, level;
    } cases[] = {{0, B3D_GLOW_FULL}, {10000, (B3D_GLOW_FULL + SA_GATE_IDLE_GLOW) / 2}, {20000, SA_GATE_IDLE_GLOW}};
    const int32_t start = SA_Now();
    for (const auto& c : cases) {
        SetClock(start + c.after);
        O_UpdateHangars(sector_);
        EXPECT_EQ(gate_->instance->words5[B3D_INST_GLOW_LEVEL], c.level) << c.after;
    }
}

class Screens : public OrderTest {
protected:
    void SetUp() override {
        OrderTest::SetUp();
        saved_ = g_TCMovieCalls;
        g_TCMovieCalls = TC_MovieCalls{Loaded, Open, Connect, Disconnect, Play, Stop, State};
        MovieLog().clear();
        s_movieState = 0;
    }
    void TearDown() override {
        g_TCMovieCalls = saved_;
        g_TypeDB.videos = nullptr;
        g_TypeDB.videoCount = 0;
        OrderTest::TearDown();
    }
    void UseVideos(std::vector<SA_VideoRecord> v) {
        videos_ = std::move(v);
        g_TypeDB.videos = videos_.data();
        g_TypeDB.videoCount = static_cast<int32_t>(videos_.size());
    }
    // A screen on the channel, a candidate at any distance.
    SectorObject* Screen(int32_t channel) {
        SectorObject* s = Placed(SA_MT_SPECIAL, 0, 0, 0, 0, 1000);
        O_SpecialData(s)->videoChannel = channel;
        s->flags2 |= SA_FLAG2_SCREEN_ANY_DISTANCE;
        return s;
    }
    SectorSpace* Sector() { return O_Sector(sector_); }
    static int32_t Shown(SectorObject* s) { return O_SpecialData(s)->shownVideo; }

    std::vector<SA_VideoRecord> videos_;

private:
    TC_MovieCalls saved_{};
};

SA_VideoRecord Video(std::vector<int32_t> ids, int32_t movie) {
    SA_VideoRecord r{};
    r.validCount = static_cast<int32_t>(ids.size());
    for (size_t i = 0; i < ids.size(); ++i) r.ids[i] = ids[i];
    r.movie = movie;
    return r;
}

TEST_F(Screens, NothingNearTheCameraKeepsTheVideo) {
    UseVideos({Video({10}, 41), Video({11}, 42)});
    Sector()->videoIndex = 1;
    SectorObject* far = Screen(10);
    far->flags2 &= ~SA_FLAG2_SCREEN_ANY_DISTANCE;  // and the sector has no scene
    O_UpdateHangars(sector_);
    EXPECT_EQ(Sector()->videoIndex, 1);
    EXPECT_EQ(Shown(far), 0);
    EXPECT_TRUE(MovieLog().empty());
}

TEST_F(Screens, PausedVideosKeepTheScreensAsTheyAre) {
    UseVideos({Video({10}, 41)});
    Sector()->trailing[9] = 1;
    SectorObject* s = Screen(10);
    O_SpecialData(s)->shownVideo = 10;
    s->flags2 |= SA_FLAG2_SHOWS_VIDEO;
    O_UpdateHangars(sector_);
    EXPECT_EQ(Shown(s), 10);
    EXPECT_TRUE(s->flags2 & SA_FLAG2_SHOWS_VIDEO);
    EXPECT_EQ(Sector()->videoIndex, -1);
    EXPECT_TRUE(MovieLog().empty());
}

TEST_F(Screens, TheRecordWhoseIdsAllFindScreensIsChosen) {
    UseVideos({Video({10}, 41), Video({10, 11}, 42), Video({20, 21}, 43)});
    SectorObject* a = Screen(10);
    SectorObject* b = Screen(11);
    O_UpdateHangars(sector_);
    EXPECT_EQ(Sector()->videoIndex, 1);
    EXPECT_EQ(Shown(a), 10);
    EXPECT_EQ(Shown(b), 11);
    EXPECT_TRUE(a->flags2 & b->flags2 & SA_FLAG2_SHOWS_VIDEO);
    EXPECT_EQ(MovieLog(), (std::vector<std::string>{"play 42"}));
    // While it plays and the same screens are near, nothing changes.
    s_movieState = 0x6;
    MovieLog().clear();
    O_UpdateHangars(sector_);
    EXPECT_EQ(Sector()->videoIndex, 1);
    EXPECT_EQ(Shown(a), 10);
    EXPECT_EQ(Shown(b), 11);
    EXPECT_TRUE(MovieLog().empty());
}

TEST_F(Screens, EqualRecordsAreChosenAtRandom) {
    UseVideos({Video({10}, 41), Video({10}, 42)});
    SectorObject* s = Screen(10);
    std::set<int32_t> chosen;
    for (uint32_t k = 1; k <= 16; ++k) {
        const uint32_t seed = k * 0x9E3779B9u;
        Qel_SeedRandom(seed);
        Sector()->videoIndex = -1;
        O_SpecialData(s)->shownVideo = 0;
        O_UpdateHangars(sector_);
        chosen.insert(Sector()->videoIndex);
        const int32_t first = Sector()->videoIndex;
        Qel_SeedRandom(seed);
        Sector()->videoIndex = -1;
        O_SpecialData(s)->shownVideo = 0;
        O_UpdateHangars(sector_);
        EXPECT_EQ(Sector()->videoIndex, first) << seed;  // the same seed, the same choice
    }
    EXPECT_EQ(chosen, (std::set<int32_t>{0, 1}));
}

TEST_F(Screens, AVideoIndexOutsideTheTableCountsAsNone) {
    UseVideos({Video({10}, 41)});
    for (int32_t bad : {1, 99, -7}) {
        MovieLog().clear();
        Sector()->videoIndex = bad;
        O_UpdateHangars(sector_);  // no screen: nothing to choose
        EXPECT_EQ(Sector()->videoIndex, -1) << bad;
    }
    SectorObject* s = Screen(10);
    Sector()->videoIndex = 99;
    s_movieState = 0x6;
    O_UpdateHangars(sector_);
    EXPECT_EQ(Sector()->videoIndex, 0);
    EXPECT_EQ(Shown(s), 10);
    EXPECT_EQ(MovieLog(), (std::vector<std::string>{"play 41"}));  // nothing stopped for the bad index
}

}  // namespace
