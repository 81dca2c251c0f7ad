// Target tracking: the mode changes with their sounds and indication flags,
// the story's lock notice, and the stepping through the overlay's entries.
#include "cockpit/tracking.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cockpit/cockpit_fixture.h"
#include "cockpit/scenes.h"
#include "cockpit/syscall.h"
#include "space/behaviour.h"
#include "space/objects.h"
#include "script/values.h"
#include "support/script_run.h"

namespace {

// "NotifyTargetLock" tells the test module the object and the ship; with a
// cockpit in A0 it locks that cockpit on the object in A1 itself.
constexpr const char* kLockStory = R"(
    end
.var "A0" int 0
.var "A1" int 0
.object 2100
.func "NotifyTargetLock" need 8
    getl 5
    getl 5
    pushw 2
    sys "T_Now"
    pop
    getg 0
    jf done
    getg 1
    getg 0
    pushw 2
    sys "INS_CockpitSetTracking"
    pop
done:
    c0
    ret
)";

int32_t g_sounds = 0;

class Tracking : public CockpitTest {
protected:
    void SetUp() override {
        CockpitTest::SetUp();
        saved_ = g_SEContext;
        runner_ = std::make_unique<StoryRunner>();
        g_SEContext = runner_->ctx();
        INS_RegisterSysCalls();
        ASSERT_TRUE(runner_->Load(kLockStory));
        savedSound_ = g_SAPlaySound;
        g_SAPlaySound = [](int32_t, int32_t, int32_t id, int32_t) {
            if (id == INS_TRACKING_SOUND) ++g_sounds;
            return 1;
        };
        g_sounds = 0;
        SetClock(50000);
        sector_ = New(SA_MT_SECTOR);
        ship_ = Ship();
        Into(sector_, ship_);
        O_RelationWords(ship_)->foeMask = 1u << 3;
        c_ = AddCockpit();
        c_->refObject = c_->cockpitRefObject = ship_;
        c_->sectorSpace = sector_;
        c_->monitorNumber = 0;
        c_->viewMode = 1;
    }
    void TearDown() override {
        INS_FreeCockpitSystem();
        g_SAPlaySound = savedSound_;
        SA_FreeAllObjects(&root_);
        runner_.reset();
        g_SEContext = saved_;
        CockpitTest::TearDown();
    }
    SectorObject* Put(int32_t mainType, int32_t group = 0) {
        SectorObject* o = New(mainType);
        o->instance = B3D_AllocInst();
        o->group = static_cast<int16_t>(group);
        Into(sector_, o);
        return o;
    }
    // The overlay's entries: object, distance, shown.
    struct Shown {
        SectorObject* object;
        int32_t distance;
        bool shown = true;
    };
    void Overlay(const std::vector<Shown>& list) {
        OverlayEntry* e = IC_SetOverlayEntryCount(c_->overlay, static_cast<int32_t>(list.size()));
        for (size_t i = 0; i < list.size(); ++i) {
            e[i] = OverlayEntry{};
            e[i].object = list[i].object->id;
            e[i].distance = list[i].distance;
            e[i].shown = list[i].shown ? 1 : 0;
        }
    }
    std::vector<std::string> Locks() const {
        std::vector<std::string> out;
        for (const RunCall& call : runner_->calls) out.push_back(call.args.at(0) + " " + call.args.at(1));
        return out;
    }
    static std::string Lock(const SectorObject* o, const SectorObject* ship) {
        return std::to_string(o->id) + " " + std::to_string(ship->id);
    }

    std::unique_ptr<StoryRunner> runner_;
    SectorObject* sector_ = nullptr;
    SectorObject* ship_ = nullptr;
    Cockpit* c_ = nullptr;

private:
    SE_Context* saved_ = nullptr;
    SA_PlaySoundFn savedSound_ = nullptr;
};

TEST_F(Tracking, ModeChangesPlayAndSetTheIndication) {
    SectorObject* target = Put(SA_MT_SHIP);
    const struct {
        int16_t fromMode;
        uint32_t fromFlags;
        int32_t mode;
        bool object;
        int32_t sounds;
        uint32_t flags;
        int16_t toMode;
        bool tracked;
    } cases[] = {
        {1, 0x80 | 0x20000, 0, false, 2, 0, 0, false},
        {1, 0, 0, false, 0, 0, 0, false},
        {0, 0x80, 1, false, 3, 0x20000, 1, false},  // a new mode, the tracking off, the lock on
        {1, 0x20000, 1, false, 0, 0x20000, 1, false},
        {1, 0x20000, 4, false, 1, 0x20000, 4, false},
        {0, 0, 2, true, 2, 0x80 | 0x20000, 2, true},  // no second sound for 0x80
        {0, 0x80 | 0x20000, 2, true, 1, 0x80 | 0x20000, 2, true},
        {0, 0, 2, false, 0, 0, 0, false},  // 2 and 3 need an object
        {0, 0, 3, false, 0, 0, 0, false},
        {2, 0x80, 3, true, 0, 0x80, 3, true},
    };
    for (const auto& k : cases) {
        c_->trackingMode = k.fromMode;
        c_->trackedObject = nullptr;
        c_->flagWord = 7;
        c_->trackingChanged = 0;
        g_CockpitSystem->statusFlags = k.fromFlags;
        g_sounds = 0;
        INS_SetTracking(c_, k.mode, k.object ? target : nullptr);
        EXPECT_EQ(g_sounds, k.sounds) << k.mode << " from " << k.fromMode;
        EXPECT_EQ(g_CockpitSystem->statusFlags, k.flags) << k.mode << " from " << k.fromMode;
        EXPECT_EQ(c_->trackingMode, k.toMode) << k.mode << " from " << k.fromMode;
        EXPECT_EQ(c_->trackedObject == target, k.tracked) << k.mode << " from " << k.fromMode;
        EXPECT_EQ(c_->trackingChanged, 1);
    }
}

TEST_F(Tracking, ALockTellsTheStoryAndKeepsTheStartOfAGivenObject) {
    SectorObject* target = Put(SA_MT_SHIP);
    INS_SetTracking(c_, 2, target);
    EXPECT_EQ(c_->trackingStart, 50000);
    c_->flagWord = 7;
    SetClock(51000);
    INS_SetTracking(c_, 3, target);
    EXPECT_EQ(Locks(), (std::vector<std::string>{Lock(target, ship_)}));
    EXPECT_EQ(c_->trackingStart, 50000);  // a given object keeps its start and lock word
    EXPECT_EQ(c_->flagWord, 7);
    INS_SetTracking(c_, 1, nullptr);
    INS_SetTracking(c_, 3, target);
    EXPECT_EQ(c_->trackingStart, 51000);
    EXPECT_EQ(c_->flagWord, 0);
    // A cockpit without a ship locks without telling.
    c_->cockpitRefObject = nullptr;
    INS_SetTracking(c_, 3, ship_);
    EXPECT_EQ(c_->trackedObject, ship_);
    EXPECT_EQ(Locks().size(), 2u);
}

// The story that hears of a lock and locks again is not told of its own
// lock: the two would start each other without end.
TEST_F(Tracking, ALockTheStoryMakesWhileItHearsOfOneIsNotToldAgain) {
    SectorObject* a = Put(SA_MT_SHIP);
    SectorObject* b = Put(SA_MT_SHIP);
    ScriptValue* globals = runner_->ctx()->objects[0].variables;
    SV_AssignInt(&globals[0], static_cast<int32_t>(c_->id));
    SV_AssignInt(&globals[1], static_cast<int32_t>(b->id));
    INS_SetTracking(c_, 3, a);
    EXPECT_EQ(Locks(), (std::vector<std::string>{Lock(a, ship_)}));
    EXPECT_EQ(c_->trackedObject, a);  // the lock the story heard of comes last
    SV_AssignInt(&globals[0], 0);
    INS_SetTracking(c_, 3, b);
    EXPECT_EQ(Locks().size(), 2u);
}

TEST_F(Tracking, SteppingWrapsAndPassesOverWhatTheModeRefuses) {
    SectorObject* a = Put(SA_MT_SHIP, 3);
    SectorObject* b = Put(SA_MT_SHIP);  // a friend
    SectorObject* hidden = Put(SA_MT_SHIP, 3);
    SectorObject* d = Put(SA_MT_MISSILE, 3);
    Overlay({{a, 100}, {b, 200}, {hidden, 50, false}, {d, 300}});
    INS_SetTracking(c_, 3, d);
    runner_->calls.clear();
    INS_TrackPrevNext(c_, 1, 0);  // next from the last wraps to the first
    EXPECT_EQ(c_->trackedObject, a);
    INS_TrackPrevNext(c_, 0, 0);  // back wraps to the last
    EXPECT_EQ(c_->trackedObject, d);
    INS_TrackPrevNext(c_, 0, 1);  // enemies only: the friend and the hidden one are passed over
    EXPECT_EQ(c_->trackedObject, a);
    INS_TrackPrevNext(c_, 1, 2);  // missiles only
    EXPECT_EQ(c_->trackedObject, d);
    EXPECT_EQ(Locks(), (std::vector<std::string>{Lock(a, ship_), Lock(d, ship_), Lock(a, ship_), Lock(d, ship_)}));
    // Only the tracked object accepted: nothing changes, nobody is told.
    INS_TrackPrevNext(c_, 1, 2);
    EXPECT_EQ(c_->trackedObject, d);
    EXPECT_EQ(Locks().size(), 4u);
}

TEST_F(Tracking, WithoutATrackedEntryTheNearestWinsAndTheFirstOfEquals) {
    SectorObject* far = Put(SA_MT_SHIP);
    SectorObject* first = Put(SA_MT_SHIP);
    SectorObject* second = Put(SA_MT_SHIP);
    SectorObject* nearest = Put(SA_MT_SHIP);
    Overlay({{far, 900}, {first, 300}, {second, 300}, {nearest, 10, false}});
    INS_TrackPrevNext(c_, 1, 0);
    EXPECT_EQ(c_->trackedObject, first);
    EXPECT_EQ(Locks(), (std::vector<std::string>{Lock(first, ship_)}));
    // No accepted entry, or none at all: nothing changes.
    runner_->calls.clear();
    INS_TrackPrevNext(c_, 1, 2);
    Overlay({});
    INS_TrackPrevNext(c_, 1, 0);
    EXPECT_EQ(c_->trackedObject, first);
    EXPECT_TRUE(Locks().empty());
}

TEST_F(Tracking, TheCallStepsOnlyTheMainScreensCockpitInItsViews) {
    SectorObject* a = Put(SA_MT_SHIP);
    Overlay({{a, 100}});
    const struct {
        int32_t monitor, viewMode;
        bool ship, steps;
    } cases[] = {
        {0, 1, true, true}, {0, 2, true, true}, {0, 4, true, false}, {1, 1, true, false}, {0, 1, false, false}};
    for (const auto& k : cases) {
        c_->monitorNumber = k.monitor;
        c_->viewMode = k.viewMode;
        c_->cockpitRefObject = k.ship ? ship_ : nullptr;
        c_->trackedObject = nullptr;
        INS_TrackPrevNextCall(c_, 1, 0);
        EXPECT_EQ(c_->trackedObject == a, k.steps) << k.monitor << " " << k.viewMode << " " << k.ship;
    }
}

}  // namespace
