// The cockpit module's engine calls 42 to 129 through an assembled story:
// views, symbols, dust, the control cockpit, the module-wide values,
// cross-hairs, icon menus and their tree, projection, icons and tooltips.
#include "cockpit/viewcalls.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cockpit/callnames.h"
#include "cockpit/cockpit_fixture.h"
#include "cockpit/iconmenus.h"
#include "cockpit/scenes.h"
#include "cockpit/syscall.h"
#include "cockpit/update.h"
#include "scene/allocs.h"
#include "scene/state.h"
#include "script/arrays.h"
#include "space/typesdb.h"
#include "support/logcapture.h"
#include "support/script_run.h"

namespace {

constexpr int kMaxArgs = 12;

// Global functions "<call><n>" make the call with the globals A0..A(n-1).
std::string Story() {
    std::string s = "    end\n";
    for (int i = 0; i < kMaxArgs; ++i) s += ".var \"A" + std::to_string(i) + "\" int 0\n";
    for (int32_t call = 42; call < INS_CALL_NAME_COUNT; ++call) {
        const std::string name = INS_GetCallNames()[call];
        for (int n = 0; n <= kMaxArgs; ++n) {
            s += ".func \"" + name + std::to_string(n) + "\" need 20\n";
            for (int k = n - 1; k >= 0; --k) s += "    getg " + std::to_string(k) + "\n";
            s += "    pushw " + std::to_string(n) + "\n    sys \"" + name + "\"\n    ret\n";
        }
    }
    return s;
}

// Icons of the test's icon table: id, width, height.
B3DIconRow g_rows[] = {{10, 0, 0, 0, 20, 10}, {11, 0, 0, 0, 30, 12}, {12, 0, 0, 0, 8, 8}};

class ViewCalls : public CockpitTest {
protected:
    void SetUp() override {
        CockpitTest::SetUp();
        saved_ = g_SEContext;
        savedViews_ = g_INSViews;
        savedHud_ = g_INSHud;
        runner_ = std::make_unique<StoryRunner>();
        g_SEContext = runner_->ctx();
        INS_RegisterSysCalls();
        ASSERT_TRUE(runner_->Load(Story()));
        kept_ = g_B3DState->icons[0];
        g_B3DState->icons[0].rows = g_rows;
        g_B3DState->icons[0].rowCount = 3;
        c_ = AddCockpit();
    }
    void TearDown() override {
        g_B3DState->icons[0] = kept_;
        g_INSViews = savedViews_;
        g_INSHud = savedHud_;
        INS_FreeCockpitSystem();
        runner_.reset();
        g_SEContext = saved_;
        CockpitTest::TearDown();
    }
    ScriptValue& Var(int i) { return runner_->ctx()->objects[0].variables[i]; }
    void Set(int i, int32_t v) {
        SV_Release(&Var(i));
        SV_AssignInt(&Var(i), v);
    }
    RunAnswer Run(const std::string& fn, int16_t kind = 1) {
        runner_->answers.clear();
        runner_->Start(0, fn.c_str(), {}, kind);
        EXPECT_EQ(runner_->answers.size(), 1u) << fn;
        return runner_->answers.empty() ? RunAnswer{0, 0, -999, "", false} : runner_->answers.back();
    }
    // One call with integer arguments; its integer answer (-999 for another kind).
    int32_t Call(const char* call, std::vector<int32_t> args) {
        for (size_t i = 0; i < args.size(); ++i) Set(static_cast<int>(i), args[i]);
        const RunAnswer a = Run(std::string(call) + std::to_string(args.size()));
        return a.kind == 1 ? a.n : -999;
    }
    // The display text of an answer that is not an integer.
    std::string CallValue(const char* call, std::vector<int32_t> args) {
        for (size_t i = 0; i < args.size(); ++i) Set(static_cast<int>(i), args[i]);
        const RunAnswer a = Run(std::string(call) + std::to_string(args.size()), 3);
        return a.text;
    }
    int32_t Id() const { return static_cast<int32_t>(c_->id); }

    // An entries array of the elements; each element an array of its values,
    // a value below -1000 standing for an array of icons (count = -1000 - v).
    void Entries(int global, const std::vector<std::vector<int32_t>>& elements) {
        ScriptValue& list = Var(global);
        SV_Release(&list);
        SV_ArrayAlloc(&list, static_cast<int32_t>(elements.size()));
        for (size_t i = 0; i < elements.size(); ++i) {
            ScriptValue e{};
            SV_ArrayAlloc(&e, static_cast<int32_t>(elements[i].size()));
            for (size_t k = 0; k < elements[i].size(); ++k) {
                const int32_t v = elements[i][k];
                if (v > -1000) {
                    SV_ArrayWriteInt(&e, static_cast<int32_t>(k), v);
                    continue;
                }
                ScriptValue icons{};
                SV_ArrayAlloc(&icons, -1000 - v);
                for (int32_t j = 0; j < -1000 - v; ++j) SV_ArrayWriteInt(&icons, j, j < 6 ? 10 + j % 3 : 12);
                SV_ArrayWrite(&e, static_cast<int32_t>(k), &icons);
                SV_Release(&icons);
            }
            SV_ArrayWrite(&list, static_cast<int32_t>(i), &e);
            SV_Release(&e);
        }
    }
    // Menu 7 of the cockpit: items 1 and 2, item 2 with the sub-menu of 3
    // (whose own sub-menu holds 5) and 4.
    int32_t MakeMenu(int32_t menuId = 7, uint32_t keepFlags = 0) {
        Entries(11, {{1, 1, 0, 10},
                     {2, static_cast<int32_t>(1 | keepFlags), 0, 11},
                     {3, 0x10000, 0, 10},
                     {5, 0x10000 | 0x20000, 0, 12},
                     {4, 0x20000, 0, 12}});
        for (int i = 0; i < 11; ++i) Set(i, i == 0 ? Id() : i == 1 ? menuId : 0);
        return Run("INS_CockpitAddIconMenu12").n;
    }

    Cockpit* c_ = nullptr;
    std::unique_ptr<StoryRunner> runner_;
    SE_Context* saved_ = nullptr;
    INSViewLink savedViews_{};
    INSHudLink savedHud_{};
    B3DIconList kept_{};
};

TEST_F(ViewCalls, ViewValuesAreSetAndRead) {
    const int32_t id = Id();
    system_->gameClock = 5000;
    // Unlocked: only the target angles; locked: the current ones at once.
    EXPECT_EQ(Call("INS_CockpitChangeView", {id, 1, 2, 3}), 0);
    EXPECT_EQ(c_->targetViewAngles[2], 3);
    EXPECT_EQ(c_->viewAngles[0], 0);
    EXPECT_EQ(Call("INS_CockpitLockView", {id, 2}), 0);
    EXPECT_EQ(c_->viewAngles[2], 3);
    EXPECT_EQ(c_->viewLock, 2);
    EXPECT_EQ(Call("INS_CockpitChangeView", {id, 4, 5, 6}), 0);
    EXPECT_EQ(Call("INS_CockpitGetViewBeta", {id}), 5);
    EXPECT_EQ(Call("INS_CockpitLockView", {id, 0}), 0);
    EXPECT_EQ(Call("INS_CockpitChangeView", {id, 7, 8, 9}), 0);
    EXPECT_EQ(Call("INS_CockpitGetViewGamma", {id}), 6);

    EXPECT_EQ(Call("INS_CockpitSetViewCameraOffset", {id, -1, -2, -3}), 0);
    EXPECT_EQ(Call("INS_CockpitGetViewCameraOffsetZ", {id}), -3);
    EXPECT_EQ(Call("INS_CockpitSetViewPos", {id, 10, 20, 30}), 0);
    EXPECT_EQ(Call("INS_CockpitSetRefPos", {id, 1, 2, 3}), 0);
    EXPECT_EQ(c_->refPos[1], 2);
    EXPECT_EQ(Call("INS_CockpitSetRefViewPos", {id, 4, 5, 6}), 0);
    EXPECT_EQ(c_->refViewPos[2], 6);
    EXPECT_EQ(Call("INS_CockpitSetViewAngle2", {id, 7, 8, 9}), 0);
    EXPECT_EQ(c_->viewAngles12[1][0], 7);
    EXPECT_EQ(Call("INS_CockpitSetPosAngle1", {id, 1, 1, 2}), 0);
    EXPECT_EQ(c_->posAngles[0][2], 2);
    EXPECT_EQ(Call("INS_CockpitSetViewPointOffset2", {id, 3, 3, 3}), 0);
    EXPECT_EQ(c_->viewPointOffset2[0], 3);
    EXPECT_EQ(Call("INS_CockpitSetViewDuration", {id, 700}), 0);
    EXPECT_EQ(c_->viewDuration, 700);
    EXPECT_EQ(c_->viewStart, 5000);
    EXPECT_EQ(Call("INS_CockpitSetFocusDuration", {id, 90}), 0);
    EXPECT_EQ(c_->focusDurationStart, 5000);
    EXPECT_EQ(Call("INS_CockpitSetFlags", {id, 0x41}), 0);
    EXPECT_EQ(Call("INS_CockpitGetFlags", {id}), 0x41);
    EXPECT_EQ(Call("INS_CockpitSetCinematicLoopTime", {id, 123}), 0);
    EXPECT_EQ(c_->cinematicLoopTime, 123);
    EXPECT_EQ(Call("INS_CockpitNoDecay", {id, 1}), 0);
    EXPECT_EQ(c_->noDecay, 1);
    EXPECT_EQ(Call("INS_CockpitEnableRadarBody", {id, 0}), 0);
    EXPECT_EQ(c_->radarBodyOn, 0);

    // The current missile: the fourth argument goes into the first word.
    EXPECT_EQ(Call("INS_CockpitSetCurrentMissile", {id, 0x10005, 10, 20}), 0);
    EXPECT_EQ(c_->missileType, 5);
    EXPECT_EQ(c_->missileValues[0], 20);
    EXPECT_EQ(c_->missileValues[1], 10);

    // A missing cockpit answers 0 (also the arrays) and changes nothing.
    EXPECT_EQ(Call("INS_CockpitGetFlags", {id + 9}), 0);
    EXPECT_EQ(CallValue("INS_CockpitGetViewPos", {id + 9}), "0");
    EXPECT_EQ(Call("INS_CockpitSetFlags", {id + 9, 1}), 0);
    EXPECT_EQ(c_->flags, 0x41u);
}

TEST_F(ViewCalls, ArraysAnswerTheirTriples) {
    const int32_t id = Id();
    Call("INS_CockpitSetViewPos", {id, 10, 20, 30});
    Call("INS_CockpitSetRefPos", {id, -1, 0, 7});
    const std::string viewPos = CallValue("INS_CockpitGetViewPos", {id});
    const std::string refPos = CallValue("INS_CockpitGetRefPos", {id});
    EXPECT_NE(viewPos.find("10"), std::string::npos) << viewPos;
    EXPECT_NE(viewPos.find("30"), std::string::npos) << viewPos;
    EXPECT_NE(refPos.find("-1"), std::string::npos) << refPos;
    EXPECT_NE(viewPos, "0");
}

TEST_F(ViewCalls, ModuleWideValues) {
    const int32_t id = Id();
    EXPECT_EQ(Call("INS_SetActiveControlCockpit", {id}), 0);
    EXPECT_EQ(g_CockpitSystem->activeControl, id);
    // An unknown id sets 0, so no ship is steered.
    EXPECT_EQ(Call("INS_SetActiveControlCockpit", {id + 5}), 0);
    EXPECT_EQ(g_CockpitSystem->activeControl, 0);
    EXPECT_EQ(Call("INS_SetUnitDisplay", {3}), 0);
    EXPECT_EQ(Call("INS_GetUnitDisplay", {}), 3);
    EXPECT_EQ(Call("INS_DrawRadar", {0}), 0);
    EXPECT_EQ(g_CockpitSystem->radarOn, 0);
    EXPECT_EQ(Call("INS_SetBayDoorContent", {0x12345, -1, 77}), 0);
    EXPECT_EQ(g_CockpitModule.bayDoorContent[0], 0x2345);
    EXPECT_EQ(g_CockpitModule.bayDoorContent[1], -1);
    EXPECT_EQ(g_CockpitModule.bayDoorValue, 77);
    SectorObject* player = Ship();
    root_.game.playerObject = player;
    EXPECT_EQ(Call("INS_SetBayDoorStatus", {1}), 0);
    EXPECT_NE(player->flags & 0x20000000u, 0u);
    EXPECT_EQ(Call("INS_SetBayDoorStatus", {0}), 0);
    EXPECT_EQ(player->flags & 0x20000000u, 0u);
    root_.game.playerObject = nullptr;

    // Calls that do nothing whatever their arguments.
    const Cockpit before = *c_;
    for (const char* call : {"INS_AutoDoc", "INS_SetHitRappelDelay", "INS_GetMaxNumCrossHairs"})
        EXPECT_EQ(Call(call, {id, 5, 6}), 0) << call;
    EXPECT_EQ(Call("INS_GetBodyForCrossHair", {id, 5}), -1);
    EXPECT_EQ(Call("INS_GetBodyForCrossHair", {}), -1);
    EXPECT_EQ(std::memcmp(&before, c_, sizeof before), 0);

    EXPECT_EQ(Call("INS_SetCrossHair", {4}), 0);
    EXPECT_EQ(Call("INS_GetCrossHair", {}), 4);
    EXPECT_EQ(Call("INS_ShowOverlayBrackets", {}), 0);
    EXPECT_EQ(g_CockpitSystem->overlayBrackets, 1);
    EXPECT_EQ(Call("INS_HideOverlayBrackets", {}), 0);
    EXPECT_EQ(g_CockpitSystem->overlayBrackets, 0);
}

TEST_F(ViewCalls, TheCockpitRappelWrapsWithTheClock) {
    const struct {
        int32_t now, duration, end;
    } cases[] = {{32399500, 1000, 500}, {1000, -2000, 32399000}, {100, 50, 150}};
    for (const auto& k : cases) {
        system_->gameClock = k.now;
        EXPECT_EQ(Call("INS_SetCockpitRappel", {Id(), k.duration, 40}), 0);
        EXPECT_EQ(c_->cockpitShakeEnd, k.end) << k.now;
        EXPECT_EQ(c_->cockpitShakeLevel, 40);
    }
}

TEST_F(ViewCalls, DustLogsEachMissingPartInOrder) {
    static int s_moved = 0;
    s_moved = 0;
    g_INSHud.dust = [](SectorObject*, Camera3D*, Camera3D*) { ++s_moved; };
    {
        LogCapture log;
        EXPECT_EQ(Call("INS_UpdateDustScene", {0, 0, 0}), 0);
        const std::string text = log.Text();
        const size_t a = text.find("INS_UpdateDustScene() no dust camera!\n");
        const size_t b = text.find("INS_UpdateDustScene() no sector space!\n");
        const size_t c = text.find("INS_UpdateDustScene() no sector camera!\n");
        EXPECT_TRUE(a < b && b < c && c != std::string::npos) << text;
    }
    Camera3D* dust = B3D_CameraAlloc();
    Camera3D* sectorCamera = B3D_CameraAlloc();
    SectorObject* sector = New(SA_MT_SECTOR);
    {
        LogCapture log;
        Call("INS_UpdateDustScene", {static_cast<int32_t>(dust->inst.id), static_cast<int32_t>(sector->id), 0});
        EXPECT_TRUE(log.Contains("INS_UpdateDustScene() no sector camera!\n")) << log.Text();
        EXPECT_FALSE(log.Contains("no sector space")) << log.Text();
    }
    EXPECT_EQ(s_moved, 0);
    Call("INS_UpdateDustScene", {static_cast<int32_t>(dust->inst.id), static_cast<int32_t>(sector->id),
                                 static_cast<int32_t>(sectorCamera->inst.id)});
    EXPECT_EQ(s_moved, 1);
}

TEST_F(ViewCalls, GalaxyMapCallsReachTheirSeamOnlyWithAScene) {
    static std::vector<int32_t> s_built;
    s_built.clear();
    g_INSViews.buildGalaxyMap = [](Scene3D*, const int32_t* v) { s_built.assign(v, v + 6); };
    g_INSViews.findSector = [](Scene3D*, int32_t x, int32_t y, int32_t* out) {
        out[0] = x;
        out[1] = y;
        return 1;
    };
    EXPECT_EQ(Call("INS_BuildGalaxyMap", {12345, 1, 2, 3, 4, 5, 6, 7}), 0);
    EXPECT_TRUE(s_built.empty());
    const int32_t scene = static_cast<int32_t>(c_->scene);
    EXPECT_EQ(Call("INS_BuildGalaxyMap", {scene, 0x10001, 2, 3, -1, 500, 65536, 9}), 0);
    EXPECT_EQ(s_built, (std::vector<int32_t>{1, 2, 3, -1, 500, 65536}));
    EXPECT_EQ(Call("INS_GalaxyMapFindSector", {12345, 1, 2}), 0);
    const std::string place = CallValue("INS_GalaxyMapFindSector", {scene, 4, 6});
    EXPECT_NE(place.find('6'), std::string::npos) << place;
}

TEST_F(ViewCalls, ViewConnectModeZeroTakesTheCockpitView) {
    SectorObject* ship = Ship();
    c_->cockpitRefObject = ship;
    c_->viewMode = 1;
    c_->targetViewAngles[0] = c_->targetViewAngles[1] = c_->targetViewAngles[2] = 99;
    EXPECT_EQ(Call("INS_CockpitSetViewConnectMode", {Id(), 0}), 0);
    EXPECT_EQ(c_->viewConnectMode, 0);
    // No cockpit view: alpha and beta 0, and gamma always.
    for (int i = 0; i < 3; ++i) EXPECT_EQ(c_->targetViewAngles[i], 0) << i;
    EXPECT_EQ(c_->viewAngles[1], 0);

    // Mode 4 draws a fraction from 0 to 1 and marks a standing object.
    c_->refObject = ship;
    ship->speed = 0;
    system_->gameClock = 777;
    Call("INS_CockpitSetViewConnectMode", {Id(), 4});
    EXPECT_EQ(c_->viewStart, 777);
    EXPECT_EQ(c_->connectFlags & 1u, 1u);
    EXPECT_GE(c_->connectFraction, 0);
    EXPECT_LE(c_->connectFraction, 65536);
    ship->speed = 5;
    Call("INS_CockpitSetViewConnectMode", {Id(), 4});
    EXPECT_EQ(c_->connectFlags & 1u, 0u);
    // Mode 5 places the view at the object's size from it.
    ship->size = 1000;
    c_->viewCameraOffset[2] = 0;
    ship->instance->pos = QelVector{5000, 0, 0, 0};
    Call("INS_CockpitSetViewConnectMode", {Id(), 5});
    const QelVector at{c_->viewPos[0], c_->viewPos[1], c_->viewPos[2], 0};
    EXPECT_NEAR(INS_VecDistance(&at, &ship->instance->pos), 1000, 2);
}

TEST_F(ViewCalls, MenusAreMadeFromTheirEntries) {
    // An element of 3 values is skipped; 8 icons keep the first 6.
    Entries(11, {{1, 1, 0, 10}, {2, 1, 0}, {3, 1, 5, -1008}});
    for (int i = 0; i < 11; ++i) Set(i, i == 0 ? Id() : i == 1 ? 7 : 0);
    EXPECT_EQ(Run("INS_CockpitAddIconMenu12").n, 1);
    const IconMenu* m = IC_FindIconMenu(c_, 7);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->highlight, -2);
    EXPECT_EQ(m->flags & IC_MENU_NEW, IC_MENU_NEW);
    EXPECT_EQ(IC_FindMenuItem(m, 2), nullptr);
    const IconMenuItem* three = IC_FindMenuItem(m, 3);
    ASSERT_NE(three, nullptr);
    EXPECT_EQ(three->index, 1);
    EXPECT_EQ(three->text, 5);
    for (int k = 0; k < 6; ++k) EXPECT_EQ(three->slots[k].icon, 10 + k % 3) << k;
    EXPECT_EQ(three->slots[1].width, 30);
    EXPECT_EQ(Call("INS_CockpitIconMenuGetIndex", {Id(), 7, 3}), 1);
    EXPECT_EQ(Call("INS_CockpitIconMenuGetIcon", {Id(), 7, 3, 5}), 12);

    // An empty entries array, a missing cockpit or no array answer 0.
    Entries(11, {});
    EXPECT_EQ(Run("INS_CockpitAddIconMenu12").n, 0);
    Entries(11, {{1, 1, 0, 10}});
    Set(0, Id() + 3);
    EXPECT_EQ(Run("INS_CockpitAddIconMenu12").n, 0);
    Set(0, Id());
    Set(11, 4);
    EXPECT_EQ(Run("INS_CockpitAddIconMenu12").n, 0);
}

TEST_F(ViewCalls, RemovedMenusAreNeverFoundAgain) {
    ASSERT_EQ(MakeMenu(), 1);
    EXPECT_EQ(Call("INS_CockpitIconMenuGetIndex", {Id(), 7, 2}), 1);
    EXPECT_EQ(Call("INS_CockpitRemoveIconMenu", {Id(), 7}), 0);
    EXPECT_EQ(IC_FindIconMenu(c_, 7), nullptr);
    EXPECT_EQ(Call("INS_CockpitIconMenuGetFlags", {Id(), 7, 1}), 0);
    // A later menu of the ID is found instead.
    ASSERT_EQ(MakeMenu(), 1);
    EXPECT_NE(IC_FindIconMenu(c_, 7), nullptr);
    EXPECT_EQ(Call("INS_CockpitIconMenuGetFlags", {Id(), 7, 1}), 1);
    // Making it again marks the one before removed.
    IconMenu* second = IC_FindIconMenu(c_, 7);
    ASSERT_EQ(MakeMenu(), 1);
    EXPECT_NE(second->flags & IC_MENU_REMOVED, 0u);
}

TEST_F(ViewCalls, SettingFlagsChangesOnlyTheStoryBits) {
    ASSERT_EQ(MakeMenu(), 1);
    const int32_t id = Id();
    EXPECT_EQ(Call("INS_CockpitIconMenuClearFlags", {id, 7, 1, 0xff}), 1);
    EXPECT_EQ(Call("INS_CockpitIconMenuGetFlags", {id, 7, 1}), 0);
    EXPECT_EQ(Call("INS_CockpitIconMenuSetFlags", {id, 7, 1, 0, 0xff}), 1);
    EXPECT_EQ(Call("INS_CockpitIconMenuGetFlags", {id, 7, 1}), 0xb);
    // Set again: nothing changes, 0.
    EXPECT_EQ(Call("INS_CockpitIconMenuSetFlags", {id, 7, 1, 0, 0x2}), 0);
    // Mode 1 clears them on the other items of its menu first.
    EXPECT_EQ(Call("INS_CockpitIconMenuSetFlags", {id, 7, 2, 1, 0x2}), 1);
    EXPECT_EQ(Call("INS_CockpitIconMenuGetFlags", {id, 7, 1}), 0x9);
    EXPECT_EQ(Call("INS_CockpitIconMenuGetFlags", {id, 7, 2}), 0x3);
    // Mode 2 over the named menu and its sub-menus.
    IC_FindMenuItem(IC_FindIconMenu(c_, 7), 5)->flags |= 0x8;
    EXPECT_EQ(Call("INS_CockpitIconMenuSetFlags", {id, 7, 3, 2, 0x8}), 1);
    EXPECT_EQ((Call("INS_CockpitIconMenuGetFlags", {id, 7, 5}) & 0xFFFF), 0);
    EXPECT_EQ(Call("INS_CockpitIconMenuGetFlags", {id, 7, 1}), 0x1);
    EXPECT_EQ((Call("INS_CockpitIconMenuGetFlags", {id, 7, 3}) & 0xFFFF), 0x8);
    EXPECT_EQ(Call("INS_CockpitIconMenuClearFlags", {id, 7, 3, 0x4}), 0);
    // Missing menus and items answer 0.
    EXPECT_EQ(Call("INS_CockpitIconMenuSetFlags", {id, 8, 1, 0, 1}), 0);
    EXPECT_EQ(Call("INS_CockpitIconMenuSetFlags", {id, 7, 99, 0, 1}), 0);
}

TEST_F(ViewCalls, SubMenusOpenAndClose) {
    ASSERT_EQ(MakeMenu(), 1);
    const int32_t id = Id();
    const IconMenu* m = IC_FindIconMenu(c_, 7);
    EXPECT_EQ(Call("INS_CockpitIconMenuOpenSubMenu", {id, 7, 1}), 0);  // no sub-menu
    EXPECT_EQ(Call("INS_CockpitIconMenuOpenSubMenu", {id, 7, 2}), 1);
    EXPECT_EQ(Call("INS_CockpitIconMenuGetFlags", {id, 7, 2}), 0x8000);  // hidden, open
    EXPECT_EQ((Call("INS_CockpitIconMenuGetFlags", {id, 7, 3}) & 0xFFFF), 0x1 | 0x4);
    EXPECT_EQ((Call("INS_CockpitIconMenuGetFlags", {id, 7, 4}) & 0xFFFF), 0x1);
    EXPECT_EQ(m->highlight, 3);
    EXPECT_EQ(Call("INS_CockpitIconMenuOpenSubMenu", {id, 7, 2}), 0);  // open already
    EXPECT_EQ(Call("INS_CockpitIconMenuOpenSubMenu", {id, 7, 3}), 1);
    EXPECT_EQ(m->highlight, 5);
    EXPECT_EQ((Call("INS_CockpitIconMenuGetFlags", {id, 7, 3}) & 0xFFFF), 0x8000);
    // Closing the outer one closes both.
    EXPECT_EQ(Call("INS_CockpitIconMenuCloseSubMenu", {id, 7, 2}), 1);
    EXPECT_EQ(m->highlight, -1);
    EXPECT_EQ(Call("INS_CockpitIconMenuGetFlags", {id, 7, 2}), 0x1);
    EXPECT_EQ((Call("INS_CockpitIconMenuGetFlags", {id, 7, 3}) & 0xFFFF), 0);
    EXPECT_EQ((Call("INS_CockpitIconMenuGetFlags", {id, 7, 5}) & 0xFFFF), 0);
    EXPECT_EQ(Call("INS_CockpitIconMenuCloseSubMenu", {id, 7, 2}), 0);
    EXPECT_EQ(Call("INS_CockpitIconMenuCloseAllSubMenus", {id, 7}), 0);
    Call("INS_CockpitIconMenuOpenSubMenu", {id, 7, 2});
    EXPECT_EQ(Call("INS_CockpitIconMenuCloseAllSubMenus", {id, 7}), 1);
    EXPECT_EQ(Call("INS_CockpitIconMenuGetFlags", {id, 7, 2}), 0x1);
}

TEST_F(ViewCalls, AnItemThatKeepsItsPlaceStaysVisibleAsItsSubMenuOpens) {
    ASSERT_EQ(MakeMenu(7, 0x3000), 1);
    IconMenu* m = IC_FindIconMenu(c_, 7);
    EXPECT_EQ(Call("INS_CockpitIconMenuOpenSubMenu", {Id(), 7, 2}), 1);
    EXPECT_EQ(Call("INS_CockpitIconMenuGetFlags", {Id(), 7, 2}), 0x3000 | 0x8000 | 0x1);
    EXPECT_EQ(m->highlight, -2);
    EXPECT_EQ(Call("INS_CockpitIconMenuCloseSubMenu", {Id(), 7, 2}), 1);
    EXPECT_EQ(Call("INS_CockpitIconMenuGetFlags", {Id(), 7, 2}), 0x3000 | 0x1);
}

TEST_F(ViewCalls, IconSlotsOutsideZeroToFiveAnswerZero) {
    ASSERT_EQ(MakeMenu(), 1);
    const int32_t id = Id();
    EXPECT_EQ(Call("INS_CockpitIconMenuSetIcon", {id, 7, 1, 2, 11}), 1);
    EXPECT_EQ(Call("INS_CockpitIconMenuGetIcon", {id, 7, 1, 2}), 11);
    EXPECT_EQ(IC_FindMenuItem(IC_FindIconMenu(c_, 7), 1)->slots[2].height, 12);
    EXPECT_EQ(Call("INS_CockpitIconMenuSetIcon", {id, 7, 1, 2, 99}), 0);  // not in the table
    EXPECT_EQ(Call("INS_CockpitIconMenuGetIcon", {id, 7, 1, 2}), 11);
    for (int32_t slot : {-1, -6, 6, 0x10000}) {
        SCOPED_TRACE(slot);
        EXPECT_EQ(Call("INS_CockpitIconMenuSetIcon", {id, 7, 1, slot, 10}), 0);
        EXPECT_EQ(Call("INS_CockpitIconMenuGetIcon", {id, 7, 1, slot}), 0);
        EXPECT_EQ(Call("INS_CockpitIconMenuGetInst", {id, 7, 1, slot}), 0);
        EXPECT_EQ(Call("INS_CockpitIconMenuAnimateIcon", {id, 7, 1, slot, 1, 2, 3, 4}), 0);
    }
    EXPECT_EQ(Call("INS_CockpitIconMenuAnimateIcon", {id, 7, 1, 5, 1, 2, 3, 4}), 1);
    EXPECT_EQ(IC_FindMenuItem(IC_FindIconMenu(c_, 7), 1)->slots[5].anim[3], 4);
}

TEST_F(ViewCalls, TheHitTestTakesVisibleItemsAndOpenSubMenus) {
    ASSERT_EQ(MakeMenu(), 1);
    IconMenu* m = IC_FindIconMenu(c_, 7);
    IconMenuItem* one = IC_FindMenuItem(m, 1);
    IconMenuItem* two = IC_FindMenuItem(m, 2);
    IconMenuItem* three = IC_FindMenuItem(m, 3);
    m->gapWidth = 4;
    m->gapHeight = 2;
    one->slots[0].x = 100;  // 20 x 10: |dx| <= 13, |dy| < 7
    one->slots[0].y = 50;
    two->slots[0].x = 200;
    three->slots[0].x = 300;
    EXPECT_EQ(IC_MenuHitTest(m, 113, 56), one);
    EXPECT_EQ(IC_MenuHitTest(m, 114, 50), nullptr);
    EXPECT_EQ(IC_MenuHitTest(m, 100, 57), nullptr);
    // Hidden items are not hit; open sub-menus are.
    one->flags &= ~IC_ITEM_VISIBLE;
    EXPECT_EQ(IC_MenuHitTest(m, 100, 50), nullptr);
    const IconMenuItem* hit = IC_MenuHitTest(m, 300, 0);
    EXPECT_EQ(hit, nullptr) << hit->id;
    // Opened, the item is hidden and its sub-menu takes its place.
    IC_MenuOpenSubMenu(m, two);
    hit = IC_MenuHitTest(m, 300, 0);
    EXPECT_EQ(hit, three) << (hit ? hit->id : 0);
}

TEST_F(ViewCalls, TheIconRule) {
    TypeRecord* ship = Types(SA_MT_SHIP, 1);
    Types(SA_MT_MISSILE, 1);
    Types(SA_MT_LASER, 1);
    ASSERT_NE(ship, nullptr);
    ship->field[SA_TF_CLASS] = 13;
    const struct {
        int32_t main, sub, selector, icon;
    } cases[] = {
        {4, 0, 0, 185},
        {21, 0, 0, 185},
        {SA_MT_DOCK, 0, 0, 196},
        {SA_MT_FACTORY, 0, 0, 198},
        {SA_MT_DOCK, 0, 0x40002, 160},
        {SA_MT_FACTORY, 0, 0x40008, 161},
        {SA_MT_DOCK, 0, 0x40000, 162},
        {SA_MT_SHIP, 0, 0x10000, 186},
        {SA_MT_SHIP, 0, 0x10002, 494},
        {SA_MT_SHIP, 0, 0, 496},
        {SA_MT_SHIP, 0, 0x8, 495},
        {SA_MT_SHIP, 66, 0x2, 166},
        {SA_MT_SHIP, 72, 0x8, 158},
        {SA_MT_SHIP, 79, 0, 174},
        {SA_MT_SHIP, 74, 0x2, 188},
        {SA_MT_SHIP, 82, 0, 194},
        {SA_MT_LASER, -1, 0x20000, 43},
        {SA_MT_LASER, -1, 0x28000, 44},
        {SA_MT_LASER, 0, 0x20000, 1},
        {SA_MT_MISSILE, 0, 0x28000, 46},
        {SA_MT_MISSILE, 0, 0x82, 169},
        {SA_MT_MISSILE, 0, 0x88, 170},
        {SA_MT_MISSILE, 0, 0x80, 171},
        {SA_MT_MISSILE, 0, 0, 185},
        {SA_MT_LASER, 0, 0x80, 185},
        {SA_MT_ASTEROID, 3, 0, 191},
        {SA_MT_GATE, 0, 0, 184},
        {SA_MT_GATE, 3, 0, 187},
        {SA_MT_GATE, 9, 0, 186},
        {SA_MT_SPECIAL, 28, 0, 185},
        {SA_MT_SPECIAL, 34, 0, 195},
        {SA_MT_SPECIAL, 1, 0, 186},
        {19, 0, 0, 185},
    };
    for (const auto& k : cases)
        EXPECT_EQ(INS_GetObjectIcon(k.main, k.sub, k.selector), k.icon)
            << k.main << "/" << k.sub << " " << std::hex << k.selector;
    EXPECT_EQ(Call("INS_GetObjectIcon", {SA_MT_SHIP, 0, 2}), 494);
    EXPECT_EQ(Call("INS_GetWeaponIcon", {SA_MT_MISSILE, 0, 1}), 46);
    EXPECT_EQ(Call("INS_GetWeaponIcon", {SA_MT_MISSILE, 0, 0}), 45);
    SA_GetTypeRecord(SA_MT_MISSILE, 0)->field[SA_TF_MISSILE_ICON] = 60;
    EXPECT_EQ(Call("INS_GetWeaponIcon", {SA_MT_MISSILE, 0, 1}), 61);
}

TEST_F(ViewCalls, AMissileInFlightShowsTheMissileIcons) {
    SectorObject* missile = New(SA_MT_MISSILE, 0);
    missile->flags |= 0x1000000u;
    EXPECT_EQ(INS_GetSpaceObjectIcon(missile, false, false, false), 171);
    EXPECT_EQ(INS_GetSpaceObjectIcon(missile, true, false, false), 169);
    missile->flags &= ~0x1000000u;
    EXPECT_EQ(INS_GetSpaceObjectIcon(missile, true, false, false), 185);
    SectorObject* ship = Ship();
    EXPECT_EQ(INS_GetSpaceObjectIcon(ship, false, false, true), 186);
}

TEST_F(ViewCalls, APointIsProjectedIntoTheSectorCameraAxes) {
    const int32_t id = Id();
    // Without a sector camera there is nothing to project through.
    EXPECT_EQ(CallValue("INS_CockpitProjectPosition", {id, 1, 2, 3}), "0");
    Camera3D* camera = B3D_CameraAlloc();
    ASSERT_NE(camera, nullptr);
    camera->inst.worldPos = QelVector{100, 0, 0, 0};
    Qel_MatFromAngles(&camera->inst.worldMatrix, 0, 0, 0);
    c_->sectorCamera = camera->inst.id;
    const std::string at = CallValue("INS_CockpitProjectPosition", {id, 150, 7, -9});
    EXPECT_NE(at.find("50"), std::string::npos) << at;
    EXPECT_NE(at.find("-9"), std::string::npos) << at;
}

TEST_F(ViewCalls, TooltipsLogAMissingCockpit) {
    static std::string s_text;
    g_INSViews.showTooltip = [](Cockpit*, int32_t, const char* text, int32_t, int32_t) { s_text = text ? text : ""; };
    SV_Release(&Var(2));
    SV_AssignString(&Var(2), "tip");
    Set(0, Id());
    Run("INS_ShowTooltip5");
    EXPECT_EQ(s_text, "tip");
    LogCapture log;
    EXPECT_EQ(Call("INS_ShowTooltip", {Id() + 4, 0, 0, 0, 0}), 0);
    EXPECT_EQ(Call("INS_HideTooltip", {Id() + 4, 0}), 0);
    const std::string id = std::to_string(Id() + 4);
    EXPECT_TRUE(log.Contains("INS_ShowTooltip can't find cockpit ID " + id + "!\n")) << log.Text();
    EXPECT_TRUE(log.Contains("INS_HideTooltip can't find cockpit ID " + id + "!\n")) << log.Text();
}

TEST_F(ViewCalls, AFreedCockpitFreesItsMenus) {
    ASSERT_EQ(MakeMenu(), 1);
    ASSERT_EQ(MakeMenu(8), 1);
    const int32_t id = Id();
    INS_FreeCockpit(g_CockpitSystem, static_cast<uint32_t>(id));
    c_ = nullptr;
    EXPECT_EQ(Call("INS_CockpitIconMenuGetFlags", {id, 7, 1}), 0);
}

}  // namespace
