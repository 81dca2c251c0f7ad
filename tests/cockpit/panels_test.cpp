// The cockpit's small displays: the tooltip's delay (also across the wrap of
// the game clock), its place on the screen and its owner; the message
// display's and the navigation map's states with their frame instances; the
// camera message box and the target bodies.
#include "cockpit/panels.h"

#include <gtest/gtest.h>

#include <string>

#include "cockpit/panel_fixture.h"
#include "cockpit/update.h"
#include "scene/names.h"
#include "scene/records.h"
#include "scene/state.h"
#include "scene/trees.h"

namespace {

constexpr int32_t kWrap = 32400000;
constexpr uint32_t kPanelFill = 0x010101;

class Panels : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        g_B3DState->screenWidth = 320;
        g_B3DState->screenHeight = 240;
    }
    TooltipRecord& Tip() { return INS_Panels(c_)->tooltip; }
    Inst3D* TipInst() { return IC_FindInst(Tip().inst); }
    bool TipVisible() {
        INS_TooltipStep(c_);
        const Inst3D* inst = TipInst();
        return inst && !(inst->flags & INS_TOOLTIP_HIDDEN);
    }
    PanelRecord& Message() { return INS_Panels(c_)->message; }
    PanelRecord& Map() { return INS_Panels(c_)->navMap; }
    // Marks the frame instances' jobs as running or finished.
    static void Running(PanelRecord& p, bool running) {
        for (InstSlot& slot : p.slots)
            if (Inst3D* inst = IC_FindInst(slot.inst)) {
                if (running) inst->jobFlags = (inst->jobFlags | JOB_RUNNING) & ~JOB_STOPPED;
                else inst->jobFlags &= ~JOB_RUNNING;
            }
    }
    static bool InScene(const PanelRecord& p, const Scene3D* scene) {
        for (const InstSlot& slot : p.slots) {
            const Inst3D* inst = IC_FindInst(slot.inst);
            if (!inst || inst->scene != scene || slot.state == 0) return false;
        }
        return true;
    }
    static bool OutOfScenes(const PanelRecord& p) {
        for (const InstSlot& slot : p.slots) {
            const Inst3D* inst = IC_FindInst(slot.inst);
            if (slot.state != 0 || (inst && inst->scene)) return false;
        }
        return true;
    }
};

// A first tooltip waits a second; the wait runs across the wrap of the game
// clock.
TEST_F(Panels, AFirstTooltipShowsAfterASecond) {
    for (int32_t start : {100000, kWrap - 500}) {
        SetClock(start);
        INS_HideTooltipOf(0, c_);
        INS_ShowTooltipAt(c_, 5, "12", 100, 100);
        ASSERT_NE(TipInst(), nullptr);
        EXPECT_EQ(Tip().showTime, (start + 1000) % kWrap);
        SetClock((start + 999) % kWrap);
        EXPECT_FALSE(TipVisible()) << start;
        SetClock((start + 1000) % kWrap);
        EXPECT_TRUE(TipVisible()) << start;
    }
    // The texture shows the background and the text.
    EXPECT_TRUE(Shows(INS_TOOLTIP_TEXTURE, 0xFFFFFF));
}

// The tooltip's body is named when the cockpit system is made: a first
// tooltip hands out no new body id (one the scene engine would keep).
TEST_F(Panels, AFirstTooltipNamesNoNewBody) {
    const int32_t before = B3D_GetBodyID("probe\\before");
    INS_ShowTooltipAt(c_, 5, "12", 100, 100);
    ASSERT_NE(TipInst(), nullptr);
    EXPECT_EQ(B3D_GetBodyID("probe\\after"), before + 1);
    EXPECT_EQ(B3D_GetBodyID(INS_TOOLTIP_BODY), g_CockpitSystem->tooltipBody);
}

// Moving from one item to the next changes a shown tooltip's text at once;
// one still waiting keeps waiting; the same text keeps its time.
TEST_F(Panels, AChangedTextShowsAtOnce) {
    INS_ShowTooltipAt(c_, 5, "12", 100, 100);
    SetClock(100500);
    INS_ShowTooltipAt(c_, 5, "34", 100, 100);  // still waiting: a new second
    EXPECT_EQ(Tip().showTime, 101500);
    SetClock(101500);
    INS_ShowTooltipAt(c_, 5, "34", 120, 100);  // the same text
    EXPECT_EQ(Tip().showTime, 101500);
    SetClock(102000);
    INS_ShowTooltipAt(c_, 5, "56", 140, 100);
    EXPECT_EQ(Tip().showTime, 102000);
    EXPECT_TRUE(TipVisible());
    EXPECT_EQ(Tip().text, "56");
}

// The tooltip stands 8 right of and 32 below the point, inside the screen:
// at the right edge its right half-width is inside, at the bottom it moves
// above the point by 35 and its half height.
TEST_F(Panels, TooltipEdges) {
    INS_ShowTooltipAt(c_, 1, "1234", 0, 0);
    const int32_t w = Tip().width, h = (Tip().lineHeight + 6) / 2;
    ASSERT_GT(w, 6);
    struct Case {
        int32_t x, y, wantX, wantY;
    };
    const Case cases[] = {
        {100, 100, 108, 132},
        {400, 100, 320 - w / 2, 132},
        {-50, 100, w / 2 + 2, 132},
        {100, 230, 108, 262 - 35 - h},
        {100, -100, 108, h + 2},
        // Points a story gives at the ends of a word.
        {INT32_MAX, INT32_MAX, 320 - w / 2, INT32_MAX - 3 - h},
        {INT32_MIN, INT32_MIN, w / 2 + 2, h + 2},
    };
    for (const Case& k : cases) {
        INS_ShowTooltipAt(c_, 1, "1234", k.x, k.y);
        EXPECT_EQ(Tip().x, k.wantX) << k.x << "," << k.y;
        EXPECT_EQ(Tip().y, k.wantY) << k.x << "," << k.y;
        EXPECT_EQ(TipInst()->pos.x, k.wantX);
    }
}

// Only the owner, or owner 0, hides a tooltip; a null text is a hide.
TEST_F(Panels, TheOwnerRules) {
    SetClock(100000);
    INS_ShowTooltipAt(c_, 5, "12", 100, 100);
    SetClock(101000);
    INS_HideTooltipOf(6, c_);
    INS_ShowTooltipAt(c_, 7, nullptr, 0, 0);
    EXPECT_TRUE(TipVisible());
    EXPECT_EQ(Tip().owner, 5u);
    INS_HideTooltipOf(5, c_);
    EXPECT_EQ(Tip().shown, 0);
    EXPECT_EQ(Tip().owner, 0u);
    EXPECT_TRUE(TipInst()->flags & INS_TOOLTIP_HIDDEN);
    INS_ShowTooltipAt(c_, 5, "12", 100, 100);
    INS_HideTooltipOf(0, c_);
    EXPECT_EQ(Tip().shown, 0);
    // The tooltip's instance goes with its cockpit.
    const uint32_t inst = Tip().inst;
    INS_FreeCockpit(g_CockpitSystem, c_->id);
    c_ = nullptr;
    EXPECT_EQ(IC_FindInst(inst), nullptr);
}

// The message display opens (1), loops (2) until its duration has passed
// since the last loop began, closes (3) and is closed (0); 0 is no end.
TEST_F(Panels, MessageDisplayStates) {
    Scene3D* scene = IC_Scene(c_);
    INS_SetMessageDisplay(c_, nullptr);  // not shown: nothing to close
    EXPECT_EQ(Message().state, INS_PANEL_CLOSED);
    INS_SetMessageDisplay(c_, "12");
    EXPECT_EQ(Message().state, INS_PANEL_OPENING);
    EXPECT_TRUE(InScene(Message(), scene));
    EXPECT_TRUE(Is(INS_PANEL_TEXT_TEXTURE, 0, 0, kPanelFill));
    EXPECT_TRUE(Shows(INS_PANEL_TEXT_TEXTURE, 0xFFFFFF));
    EXPECT_EQ(Message().duration, INS_MESSAGE_DURATION);
    Running(Message(), true);
    INS_MessageDisplayStep(c_);
    EXPECT_EQ(Message().state, INS_PANEL_OPENING);
    Running(Message(), false);
    SetClock(100100);
    INS_MessageDisplayStep(c_);
    EXPECT_EQ(Message().state, INS_PANEL_OPEN);
    EXPECT_EQ(Message().stateTime, 100100);
    Running(Message(), true);
    SetClock(100100 + INS_MESSAGE_DURATION);
    INS_MessageDisplayStep(c_);
    EXPECT_EQ(Message().state, INS_PANEL_OPEN);
    SetClock(100101 + INS_MESSAGE_DURATION);
    INS_MessageDisplayStep(c_);
    EXPECT_EQ(Message().state, INS_PANEL_CLOSING);
    INS_MessageDisplayStep(c_);
    EXPECT_EQ(Message().state, INS_PANEL_CLOSED);
    EXPECT_TRUE(OutOfScenes(Message()));

    // Duration 0: open until cleared, loop after loop.
    INS_MessageCall(c_, "34", 0);
    for (int i = 0; i < 5; ++i) {
        SetClock(200000 + i * 50000);
        INS_MessageDisplayStep(c_);
    }
    EXPECT_EQ(Message().state, INS_PANEL_OPEN);
    INS_SetMessageDisplay(c_, nullptr);
    EXPECT_EQ(Message().state, INS_PANEL_CLOSING);
}

// A message shown while the last one closes reopens through state 4.
TEST_F(Panels, ClosingReopensThroughState4) {
    INS_SetMessageDisplay(c_, "12");
    INS_MessageDisplayStep(c_);
    INS_SetMessageDisplay(c_, nullptr);
    ASSERT_EQ(Message().state, INS_PANEL_CLOSING);
    Running(Message(), true);
    INS_SetMessageDisplay(c_, "34");
    EXPECT_EQ(Message().state, INS_PANEL_REOPENING);
    INS_MessageDisplayStep(c_);
    EXPECT_EQ(Message().state, INS_PANEL_REOPENING);
    Running(Message(), false);
    INS_MessageDisplayStep(c_);
    EXPECT_EQ(Message().state, INS_PANEL_OPENING);
    EXPECT_TRUE(InScene(Message(), IC_Scene(c_)));
}

// The map frame opens and closes like the message display, without a text.
TEST_F(Panels, NavigationMap) {
    Fill(INS_PANEL_TEXT_TEXTURE, 0, 0, 64, 32, 0x123456);
    INS_SetNavMap(c_, 0);
    EXPECT_EQ(Map().state, INS_PANEL_CLOSED);
    INS_SetNavMap(c_, 1);
    EXPECT_EQ(Map().state, INS_PANEL_OPENING);
    EXPECT_TRUE(InScene(Map(), IC_Scene(c_)));
    EXPECT_TRUE(Is(INS_PANEL_TEXT_TEXTURE, 10, 10, kPanelFill));
    INS_NavMapStep(c_);
    EXPECT_EQ(Map().state, INS_PANEL_OPEN);
    const int32_t since = Map().stateTime;
    INS_SetNavMap(c_, 1);  // shown already
    EXPECT_EQ(Map().stateTime, since);
    SetClock(1000000);  // no duration: the map loops on
    INS_NavMapStep(c_);
    EXPECT_EQ(Map().state, INS_PANEL_OPEN);
    INS_SetNavMap(c_, 0);
    EXPECT_EQ(Map().state, INS_PANEL_CLOSING);
    INS_NavMapStep(c_);
    EXPECT_EQ(Map().state, INS_PANEL_CLOSED);
    EXPECT_TRUE(OutOfScenes(Map()));
    EXPECT_EQ(Message().state, INS_PANEL_CLOSED);
}

// The camera message box draws its text into the panel texture; no text
// marks it as not shown.
TEST_F(Panels, CameraMessageBox) {
    INS_SetCameraMessageBox(c_, "12");
    EXPECT_EQ(INS_Panels(c_)->box.shown, 1);
    EXPECT_TRUE(Shows(INS_PANEL_TEXT_TEXTURE, 0xFFFFFF));
    EXPECT_TRUE(Is(INS_PANEL_TEXT_TEXTURE, 0, 0, kPanelFill));
    INS_SetCameraMessageBox(c_, nullptr);
    EXPECT_EQ(INS_Panels(c_)->box.shown, 0);
}

// Target bodies off take their forty instances and the overlay entries'
// instances out of their scenes.
TEST_F(Panels, TargetBodiesOff) {
    TargetBodies& t = INS_Panels(c_)->targets;
    EXPECT_EQ(t.enable, 1);
    Scene3D* scene = IC_Scene(c_);
    for (InstSlot* slot : {&t.slots[0], &t.slots[39]}) {
        Inst3D* inst = IC_FindInst(slot->inst);
        ASSERT_NE(inst, nullptr);
        EXPECT_EQ(inst->flags & 24u, 24u);
        B3D_InstAddToScene(inst, scene);
        slot->state = 1;
    }
    OverlayEntry* entry = IC_SetOverlayEntryCount(c_->overlay, 1);
    ASSERT_NE(entry, nullptr);
    B3D_InstAddToScene(IC_SlotGetInst(&entry->icon), scene);
    entry->icon.state = 1;
    INS_EnableTargetBodies(c_, 0);
    EXPECT_EQ(t.enable, 0);
    for (const InstSlot* slot : {&t.slots[0], &t.slots[39], &entry->icon}) {
        EXPECT_EQ(slot->state, 0u);
        EXPECT_EQ(IC_FindInst(slot->inst)->scene, nullptr);
    }
    INS_EnableTargetBodies(c_, 1);
    EXPECT_EQ(t.enable, 1);
}

// The cockpit's frame runs the displays' steps and draws the status panel
// while its display body is on.
TEST_F(Panels, TheFrameRunsTheDisplays) {
    INS_SetMessageDisplay(c_, "12");
    INS_SetNavMap(c_, 1);
    INS_ShowTooltipAt(c_, 1, "12", 10, 10);
    SetClock(101000);
    INS_UpdateCockpit(c_);
    EXPECT_EQ(Message().state, INS_PANEL_OPEN);
    EXPECT_EQ(Map().state, INS_PANEL_OPEN);
    EXPECT_FALSE(TipInst()->flags & INS_TOOLTIP_HIDDEN);
    EXPECT_TRUE(Is(INS_PANEL_TEXTURE, 0, 96, kBarBack));
    Fill(INS_PANEL_TEXTURE, 0, 0, 128, 128, 0);
    c_->displayBodyOn = 0;
    INS_UpdateCockpit(c_);
    EXPECT_FALSE(Shows(INS_PANEL_TEXTURE, kBarBack));
}

}  // namespace
