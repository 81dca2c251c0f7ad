// Target tracking: the mode changes with their sounds and indication flags,
// the story's lock notice, and the stepping through the overlay's entries.
#include "cockpit/tracking.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cockpit/cockpit_fixture.h"
#include "cockpit/iconmenus.h"
#include "cockpit/overlay.h"
#include "cockpit/panels.h"
#include "cockpit/update.h"
#include "cockpit/scenes.h"
#include "cockpit/syscall.h"
#include "scene/allocs.h"
#include "scene/state.h"
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
        ASSERT_TRUE(LoadStory(kLockStory));
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
        for (const RunCall& call : story_->calls) out.push_back(call.args.at(0) + " " + call.args.at(1));
        return out;
    }
    static std::string Lock(const SectorObject* o, const SectorObject* ship) {
        return std::to_string(o->id) + " " + std::to_string(ship->id);
    }

    SectorObject* sector_ = nullptr;
    SectorObject* ship_ = nullptr;
    Cockpit* c_ = nullptr;

private:
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
    ScriptValue* globals = story_->ctx()->objects[0].variables;
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
    story_->calls.clear();
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
    story_->calls.clear();
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

// ---------------------------------------------------------------- the overlay step

// The main screen's cockpit over a sector seen by a camera at the origin
// looking along z with a field of view of a quarter turn (a 640 x 480
// screen, 320 pixels from the centre to the edge at depth 1 per unit), and
// icons for ships, anything else, the brackets and the shield bars.
class Overlay : public Tracking {
protected:
    void SetUp() override {
        Tracking::SetUp();
        g_B3DState->screenWidth = 640;
        g_B3DState->screenHeight = 480;
        Scene3D* scene = B3D_SceneAlloc();
        Camera3D* camera = B3D_CameraAlloc();
        ASSERT_TRUE(scene && camera);
        B3D_SceneLinkInst(scene, camera);
        B3D_SceneEnable(scene);
        camera->aspect[0] = camera->aspect[1] = QEL_FIX_ONE;
        camera->focus = 16384;
        camera->viewport[0] = camera->viewport[2] = 0;
        camera->viewport[1] = camera->viewport[3] = QEL_FIX_ONE;
        Qel_MatIdentity(&camera->inst.matrix);
        c_->sectorCamera = camera->inst.id;
        sceneId_ = scene->id;
        std::vector<B3DIconRow> rows = {{150, 0, 0, 0, 8, 6}, {148, 0, 0, 0, 8, 6}, {185, 0, 0, 0, 4, 4}};
        for (int32_t id : INS_OVERLAY_BRACKET_ICONS) rows.push_back({id, 0, 0, 0, 20, 20});
        for (int32_t i = 0; i <= INS_OVERLAY_SHIELD_LEVELS; ++i)
            rows.push_back({INS_OVERLAY_SHIELD_ICON + i, 0, 0, 0, 10, 2});
        B3DIconList& list = g_B3DState->icons[0];
        list.rowCount = static_cast<int32_t>(rows.size());
        list.rows = static_cast<B3DIconRow*>(Int_AllocMem(rows.size() * sizeof(B3DIconRow), 0));
        std::copy(rows.begin(), rows.end(), list.rows);
    }
    void TearDown() override {
        B3DIconList& list = g_B3DState->icons[0];
        Int_FreeMem(list.rows, sizeof(B3DIconRow) * static_cast<size_t>(list.rowCount), 0);
        list = B3DIconList{};
        INS_FreeCockpitSystem();
        if (Scene3D* scene = B3D_SceneFind(sceneId_)) B3D_SceneFree(scene);
        Tracking::TearDown();
    }
    SectorObject* At(int32_t mainType, int32_t group, int32_t x, int32_t y, int32_t z) {
        SectorObject* o = Put(mainType, group);
        o->instance->pos = QelVector{x, y, z, 0};
        return o;
    }
    const OverlayEntry& Entry(int32_t i) const { return c_->overlay->entries[i]; }
    Inst3D* Of(const InstSlot& slot) const { return IC_FindInst(slot.inst); }

    uint32_t sceneId_ = 0;
};

TEST_F(Overlay, EntriesAreFilledFromTheSectorsObjects) {
    g_CockpitSystem->overlayBrackets = 1;
    SectorObject* foe = At(SA_MT_SHIP, 3, 100, 0, 1000);
    SectorObject* behind = At(SA_MT_SHIP, 0, 0, 0, -1000);
    SectorObject* aside = At(SA_MT_SHIP, 0, 5000, 0, 1000);  // off the screen's edge
    SectorObject* planet = At(SA_MT_PLANET, 0, 0, -200, 2000);
    INS_UpdateTargetOverlay(c_);

    // The overlay camera sees through the sector camera.
    const Camera3D* camera = IC_FindCamera(c_->overlay->camera);
    ASSERT_NE(camera, nullptr);
    EXPECT_EQ(camera->focus, 16384);
    EXPECT_EQ(camera->viewport[3], QEL_FIX_ONE);
    EXPECT_TRUE(IC_FindScene(c_->overlay->scene)->flags & SCENE_ENABLED);

    // The own ship is left out; the others in the sector's order.
    ASSERT_EQ(c_->overlay->entryCount, 4);
    const struct {
        SectorObject* object;
        int32_t distance;
        bool shown;
    } want[] = {{foe, 1004, true}, {behind, 1000, false}, {aside, 5099, false}, {planet, 2009, true}};
    for (int32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(Entry(i).object, want[i].object->id) << i;
        EXPECT_NEAR(Entry(i).distance, want[i].distance, 1) << i;
        EXPECT_EQ(Entry(i).shown != 0, want[i].shown) << i;
        if (!want[i].shown) {
            EXPECT_EQ(Entry(i).icon.state, 0u) << i;
        }
    }
    // The foe: its icon at (32, 0) px from the centre, a red bracket, and no
    // shield bar without shields.
    EXPECT_EQ(Entry(0).iconX, 32);
    EXPECT_EQ(Entry(0).iconY, 0);
    EXPECT_EQ(Entry(0).icon.state, 1u);
    EXPECT_EQ(Entry(0).icon.extra, static_cast<uint32_t>(INS_GetSpaceObjectIcon(foe, false, false, false)));
    EXPECT_EQ(Entry(0).bracket.extra, static_cast<uint32_t>(INS_OVERLAY_BRACKET_ICONS[1]));
    EXPECT_EQ(Entry(0).shield.state, 0u);
    ASSERT_NE(Of(Entry(0).icon), nullptr);
    EXPECT_EQ(Of(Entry(0).icon)->scene, IC_FindScene(c_->overlay->scene));
    // The planet: below the centre, a neutral bracket and a full shield bar.
    EXPECT_EQ(Entry(3).iconY, 24);
    EXPECT_EQ(Entry(3).bracket.extra, static_cast<uint32_t>(INS_OVERLAY_BRACKET_ICONS[0]));
    EXPECT_EQ(Entry(3).shield.extra, static_cast<uint32_t>(INS_OVERLAY_SHIELD_ICON + INS_OVERLAY_SHIELD_LEVELS));
    // The hit tests find what the step placed: the foe's icon at the screen's
    // centre plus its offset.
    EXPECT_EQ(INS_ObjectAtOverlay(c_, 320 + 32, 240), static_cast<int32_t>(foe->id));

    // Brackets off and an object gone from view: their instances leave the scene.
    g_CockpitSystem->overlayBrackets = 0;
    foe->instance->pos = QelVector{0, 0, -500, 0};
    INS_UpdateTargetOverlay(c_);
    EXPECT_EQ(Entry(0).shown, 0);
    EXPECT_EQ(Of(Entry(0).icon)->scene, nullptr);
    EXPECT_EQ(Of(Entry(3).bracket)->scene, nullptr);
    EXPECT_EQ(Entry(3).bracket.state, 0u);
}

// The target stepping walks the entries the step made: nearest first, then
// on in the sector's order, passing over what is not on screen.
TEST_F(Overlay, TrackingStepsThroughTheEntriesItMade) {
    SectorObject* far = At(SA_MT_SHIP, 3, 0, 0, 3000);
    At(SA_MT_SHIP, 3, 0, 0, -100);  // behind: never stepped to
    SectorObject* near = At(SA_MT_SHIP, 3, 0, 0, 1000);
    SectorObject* middle = At(SA_MT_SHIP, 0, 0, 0, 2000);
    INS_UpdateTargetOverlay(c_);
    INS_TrackPrevNextCall(c_, 1, 0);
    EXPECT_EQ(c_->trackedObject, near);
    INS_TrackPrevNextCall(c_, 1, 0);
    EXPECT_EQ(c_->trackedObject, middle);
    INS_TrackPrevNextCall(c_, 1, 0);
    EXPECT_EQ(c_->trackedObject, far);  // wrapped, the one behind passed over
    INS_TrackPrevNextCall(c_, 0, 1);    // enemies only, back
    EXPECT_EQ(c_->trackedObject, near);
    EXPECT_EQ(Locks(),
              (std::vector<std::string>{Lock(near, ship_), Lock(middle, ship_), Lock(far, ship_), Lock(near, ship_)}));
    // The frame runs the step through its seam.
    c_->overlay->entryCount = 0;
    INS_UpdateCockpit(c_);
    EXPECT_EQ(c_->overlay->entryCount, 4);
}

TEST_F(Overlay, HiddenWithoutEntriesInOtherViewsAndSectors) {
    At(SA_MT_SHIP, 3, 0, 0, 1000);
    const struct {
        int32_t viewMode;
        uint32_t spaceFlags;
        int32_t monitor;
    } cases[] = {{4, 0, 0}, {8, 0, 0}, {1, INS_SPACE_NO_OVERLAY, 0}, {2, INS_SPACE_NO_OVERLAY | 1, 0}, {1, 0, 1}};
    auto* space = reinterpret_cast<SectorSpace*>(sector_);
    for (const auto& k : cases) {
        c_->viewMode = 1;
        c_->monitorNumber = 0;
        space->spaceFlags = 0;
        INS_UpdateTargetOverlay(c_);
        ASSERT_EQ(c_->overlay->entryCount, 1);
        const uint32_t icon = c_->overlay->entries[0].icon.inst;
        c_->viewMode = k.viewMode;
        space->spaceFlags = k.spaceFlags;
        c_->monitorNumber = k.monitor;
        INS_UpdateTargetOverlay(c_);
        if (k.monitor != 0) {
            // Another monitor's cockpit has no overlay to update.
            EXPECT_EQ(c_->overlay->entryCount, 1);
            continue;
        }
        EXPECT_EQ(c_->overlay->entryCount, 0) << k.viewMode << " " << k.spaceFlags;
        EXPECT_EQ(IC_FindInst(icon)->scene, nullptr) << k.viewMode << " " << k.spaceFlags;
        INS_TrackPrevNext(c_, 1, 0);
        EXPECT_EQ(c_->trackedObject, nullptr);
    }
}

// Entries hold objects by id: one killed and freed between frames is
// neither stepped to before the next frame nor listed after it.
TEST_F(Overlay, AnObjectKilledBetweenFramesIsGone) {
    SectorObject* doomed = At(SA_MT_SHIP, 3, 0, 0, 1000);
    SectorObject* other = At(SA_MT_SHIP, 3, 0, 0, 2000);
    const uint32_t doomedId = doomed->id;
    INS_UpdateTargetOverlay(c_);
    ASSERT_EQ(c_->overlay->entryCount, 2);
    doomed->flags |= SA_FLAG_KILLED;
    INS_TrackPrevNextCall(c_, 1, 0);
    EXPECT_EQ(c_->trackedObject, other);
    O_DeleteKilledChildren(sector_);
    c_->trackedObject = nullptr;
    INS_TrackPrevNextCall(c_, 1, 0);
    EXPECT_EQ(c_->trackedObject, other);
    INS_UpdateTargetOverlay(c_);
    ASSERT_EQ(c_->overlay->entryCount, 1);
    EXPECT_NE(c_->overlay->entries[0].object, doomedId);
    EXPECT_EQ(INS_ObjectAtOverlay(c_, 320, 240), static_cast<int32_t>(other->id));
}

// After the overlay step a whole frame keeps its records: switched-off target
// bodies keep the markers out of the scene frame after frame while the
// target stepping still finds the entries; a ship whose HUD does not run
// (docked here) leaves no marker from an earlier frame.
TEST_F(Overlay, TheFrameKeepsTheTargetBodiesSwitchAndTheHudsReach) {
    SectorObject* dock = New(SA_MT_DOCK);
    const struct {
        const char* name;
        bool bodiesOff;
        int32_t entries;  // left for the target stepping
    } cases[] = {{"target bodies off", true, 1}, {"ship docked", false, 0}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        SectorObject* foe = At(SA_MT_SHIP, 3, 100, 0, 1000);
        INS_UpdateCockpit(c_);
        ASSERT_EQ(c_->overlay->entryCount, 1);
        const Scene3D* scene = IC_FindScene(c_->overlay->scene);
        ASSERT_NE(Of(Entry(0).icon), nullptr);
        EXPECT_EQ(Of(Entry(0).icon)->scene, scene);
        if (k.bodiesOff) INS_EnableTargetBodies(c_, 0);
        else ship_->container = dock;
        for (int frame = 0; frame < 2; ++frame) {
            INS_UpdateCockpit(c_);
            EXPECT_EQ(Entry(0).icon.state, 0u);
            EXPECT_EQ(Of(Entry(0).icon)->scene, nullptr);
            EXPECT_EQ(c_->overlay->entryCount, k.entries);
        }
        if (k.entries) {
            INS_TrackPrevNextCall(c_, 1, 0);
            EXPECT_EQ(c_->trackedObject, foe);
        }
        // Switched back on, or back in open space, the marker shows again.
        INS_EnableTargetBodies(c_, 1);
        ship_->container = sector_;
        INS_UpdateCockpit(c_);
        EXPECT_EQ(Of(Entry(0).icon)->scene, scene);
        O_DeleteSectorObject(foe);
    }
    O_DeleteSectorObject(dock);
}

}  // namespace
