// Icon menus: making them from entry blocks, the layout of items, slots and
// sub-menus, the mouse steps with their callback events, the frame step's
// slot instances, the free path with the tooltips it hides, and the story's
// notifications.
#include "cockpit/iconmenus.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "cockpit/cockpit_fixture.h"
#include "cockpit/scenes.h"
#include "cockpit/syscall.h"
#include "cockpit/viewcalls.h"
#include "scene/records.h"
#include "scene/state.h"
#include "script/values.h"
#include "support/script_run.h"

namespace {

// Icons of the test's icon table: id, width, height.
B3DIconRow g_rows[] = {{10, 0, 0, 0, 20, 10}, {11, 0, 0, 0, 30, 12}, {12, 0, 0, 0, 8, 8}};

struct Event {
    int32_t cockpit, event, menu, item, x, y;
    bool operator==(const Event&) const = default;
};
std::vector<Event> g_events;
int32_t g_answer = 0;
// Run inside the callback when set.
void (*g_inside)() = nullptr;

int32_t Record(int32_t cockpit, int32_t event, int32_t menu, int32_t item, int32_t x, int32_t y) {
    g_events.push_back({cockpit, event, menu, item, x, y});
    if (g_inside) g_inside();
    return g_answer;
}

struct Tip {
    std::string what;  // "show <text>" or "hide"
    uint32_t owner;
};
std::vector<Tip> g_tips;

// An entry: item ID, flags, text word and up to six icons.
std::vector<int32_t> Entry(int32_t id, uint32_t flags, std::vector<int32_t> icons = {10}, int32_t text = 0) {
    std::vector<int32_t> e{id, static_cast<int32_t>(flags), text};
    for (int32_t k = 0; k < IC_ICON_SLOTS; ++k) e.push_back(k < static_cast<int32_t>(icons.size()) ? icons[k] : 0);
    return e;
}

class IconMenus : public CockpitTest {
protected:
    void SetUp() override {
        CockpitTest::SetUp();
        kept_ = g_B3DState->icons[0];
        g_B3DState->icons[0].rows = g_rows;
        g_B3DState->icons[0].rowCount = 3;
        savedViews_ = g_INSViews;
        g_INSViews.showTooltip = [](Cockpit*, int32_t owner, const char* text, int32_t, int32_t) {
            g_tips.push_back({std::string("show ") + (text ? text : "(null)"), static_cast<uint32_t>(owner)});
        };
        g_INSViews.hideTooltip = [](Cockpit*, uint32_t owner) { g_tips.push_back({"hide", owner}); };
        g_events.clear();
        g_tips.clear();
        g_answer = 0;
        g_inside = nullptr;
        SetClock(100000);
        c_ = AddCockpit();
        g_CockpitSystem->activeControl = static_cast<int32_t>(c_->id);
    }
    void TearDown() override {
        INS_FreeCockpitSystem();
        g_INSViews = savedViews_;
        g_B3DState->icons[0] = kept_;
        CockpitTest::TearDown();
    }
    // Makes menu `id` from the entries: x, y, gaps 4 and 6, steps right and
    // down, the orientation, flags and depth 5; its events go to Record.
    IconMenu* Make(int32_t id, const std::vector<std::vector<int32_t>>& entries, uint32_t flags = 0,
                   int32_t orientation = 0, int32_t x = 100, int32_t y = 200, int16_t step = 1) {
        std::vector<int32_t> words;
        for (const auto& e : entries) words.insert(words.end(), e.begin(), e.end());
        const int32_t values[10] = {id, x, y, 4, 6, step, step, orientation, static_cast<int32_t>(flags), 5};
        if (!INS_AddIconMenu(c_, -1, values, static_cast<int32_t>(entries.size()), words.data())) return nullptr;
        IconMenu* m = c_->menus;
        while (m->next) m = m->next;
        m->callback = Record;
        return m;
    }
    // One frame step of the menus a time later.
    void Frame(int32_t ms = 0) {
        SetClock(system_->gameClock + ms);
        INS_UpdateIconMenus(c_);
    }
    static std::vector<int32_t> Ids(const IconMenu* m) {
        std::vector<int32_t> ids;
        for (const IconMenuItem* it = m ? m->items : nullptr; it; it = it->next) ids.push_back(it->id);
        return ids;
    }
    Inst3D* SlotInst(const IconMenuItem* item, int32_t k) const { return IC_FindInst(item->slots[k].slot.inst); }
    Scene3D* MenuScene() const { return IC_FindScene(c_->iconMenus->scene); }

    Cockpit* c_ = nullptr;

private:
    B3DIconList kept_{};
    INSViewLink savedViews_{};
};

// ---------------------------------------------------------------- making

TEST_F(IconMenus, NestedRunsBecomeSubMenus) {
    // A first entry with 0x10000 has no item before it: a plain item. Item 2
    // holds the run 3..6, in which 4 holds 5; 7 ends the making.
    IconMenu* m = Make(7, {Entry(1, 0x10000), Entry(2, 0), Entry(3, 0x10000), Entry(4, 0), Entry(5, 0x10000 | 0x20000),
                           Entry(6, 0x20000), Entry(7, 0x20000), Entry(8, 0)});
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(Ids(m), (std::vector<int32_t>{1, 2, 7}));
    const IconMenuItem* two = IC_FindMenuItem(m, 2);
    EXPECT_EQ(Ids(two->subMenu), (std::vector<int32_t>{3, 4, 6}));
    EXPECT_EQ(Ids(IC_FindMenuItem(m, 4)->subMenu), (std::vector<int32_t>{5}));
    EXPECT_EQ(IC_FindMenuItem(m, 1)->subMenu, nullptr);
    EXPECT_EQ(IC_FindMenuItem(m, 8), nullptr);
    EXPECT_EQ(two->subMenu->orientation, 1);
    EXPECT_EQ(IC_FindMenuItem(m, 6)->index, 2);
    EXPECT_EQ(IC_FindMenuItem(m, 7)->index, 2);
}

TEST_F(IconMenus, ItemsStandBesideTheItemBefore) {
    const struct {
        int32_t orientation;
        int16_t step;
        int32_t secondIcon;  // 99: not in the table
        int32_t x, y;        // of the second item
    } cases[] = {
        {0, 1, 11, 100 + (30 + 20) / 2 + 4 + 2, 200},  // half of each icon apart
        {0, 0, 11, 100 - (30 + 20) / 2 - 4 - 2, 200},  // a step sign of 0 goes left
        {0, 1, 99, 100 + 20 + 4 + 2, 200},             // an unknown icon: the whole last width
        {1, 1, 11, 100, 200 + (12 + 10) / 2 + 6 + 2},  // along y with the heights
        {1, -1, 99, 100, 200 - 10 - 6 - 2},
    };
    for (const auto& k : cases) {
        IconMenu* m = Make(k.orientation * 10 + k.step + 2, {Entry(1, 0), Entry(2, 0, {k.secondIcon})}, 0,
                           k.orientation, 100, 200, k.step);
        ASSERT_NE(m, nullptr);
        const IconMenuItem* second = IC_FindMenuItem(m, 2);
        EXPECT_EQ(second->x, k.x) << k.orientation << " " << k.step;
        EXPECT_EQ(second->y, k.y) << k.orientation << " " << k.step;
        EXPECT_EQ(second->index, 1);
    }
    // Negative points count from the right and bottom edges.
    const IconMenu* edge = Make(50, {Entry(1, 0)}, 0, 0, -30, -40);
    EXPECT_EQ(edge->x, g_B3DState->screenWidth - 30);
    EXPECT_EQ(edge->y, g_B3DState->screenHeight - 40);
}

TEST_F(IconMenus, SlotsAlignToSlotZero) {
    // Slot 0 is icon 11 (30 x 12); slots 1..3 icon 12 (8 x 8), slot 4 missing.
    const std::vector<int32_t> icons = {11, 12, 12, 12, 99, 0};
    const struct {
        uint32_t flags;
        int32_t x[4], y[4];  // slots 0 to 3
        int32_t depth[4];
    } cases[] = {
        {0, {100, 100, 100, 100}, {200, 200, 200, 200}, {5, 5, 5, 5}},
        // 0x10: the left edges line up; 0x80: the bottom edges; 0x400 raises each slot.
        {0x10 | 0x80 | 0x400, {100, 100, 89, 89}, {200, 200, 202, 202}, {5, 6, 7, 8}},
        {0x20 | 0x40 | 0x800, {100, 100, 111, 111}, {200, 200, 198, 198}, {11, 10, 9, 8}},
        // 0x100 with 0x10: side by side to the left of slot 1, 2 apart.
        {0x100 | 0x10, {100, 100, 100 - 4 - 2 - 4, 100 - 4 - 2 - 4 - 4 - 2 - 4}, {200, 200, 200, 200}, {5, 5, 5, 5}},
        {0x200 | 0x80, {100, 100, 100, 100}, {200, 200, 210, 220}, {5, 5, 5, 5}},
    };
    for (const auto& k : cases) {
        IconMenu* m = Make(static_cast<int32_t>(k.flags) + 60, {Entry(1, k.flags, icons)});
        ASSERT_NE(m, nullptr);
        const IconMenuItem* item = m->items;
        for (int32_t s = 0; s < 4; ++s) {
            EXPECT_EQ(item->slots[s].x, k.x[s]) << std::hex << k.flags << " slot " << s;
            EXPECT_EQ(item->slots[s].y, k.y[s]) << std::hex << k.flags << " slot " << s;
            EXPECT_EQ(item->slots[s].depth, k.depth[s]) << std::hex << k.flags << " slot " << s;
        }
        const IconSlot& empty = item->slots[4];
        EXPECT_EQ(empty.icon, 0);
        EXPECT_EQ(empty.x, 0);
        EXPECT_EQ(empty.anim[2], 65536);
        EXPECT_EQ(item->width, 30);
        EXPECT_EQ(item->height, 12);
    }
    // 0x4000: the larger of slot 0 and slot 1.
    const IconMenu* wide = Make(90, {Entry(1, 0x4000, {12, 11})});
    EXPECT_EQ(wide->items->width, 30);
    EXPECT_EQ(wide->items->height, 12);
}

TEST_F(IconMenus, SubMenusStandBesideTheirItem) {
    // Item 1 has icon 11 (30 wide); the sub-menu's first entry icon 10 (20 wide).
    const struct {
        uint32_t flags;
        int32_t subIcon;
        int32_t x;
    } cases[] = {
        {0, 10, 100 + 30 + 4 + 2},         {0x3000, 10, 100 + (20 + 30) / 2 + 4 + 2},
        {0x1000, 10, 100 + (30 - 20) / 2}, {0x2000, 10, 100 - (30 - 20) / 2},
        {0x3000, 99, 100 + 30 + 4 + 2},  // no icon found: the item's width
    };
    for (const auto& k : cases) {
        IconMenu* m =
            Make(static_cast<int32_t>(k.flags) + k.subIcon, {Entry(1, k.flags, {11}), Entry(2, 0x10000, {k.subIcon})});
        ASSERT_NE(m, nullptr);
        const IconMenu* sub = m->items->subMenu;
        ASSERT_NE(sub, nullptr);
        EXPECT_EQ(sub->x, k.x) << std::hex << k.flags;
        EXPECT_EQ(sub->y, 200);
        EXPECT_EQ(sub->items->x, k.x);
    }
    // A vertical menu opens its sub-menus below, by the heights.
    IconMenu* v = Make(80, {Entry(1, 0, {11}), Entry(2, 0x10000)}, 0, 1);
    EXPECT_EQ(v->items->subMenu->y, 200 + 12 + 6 + 2);
    EXPECT_EQ(v->items->subMenu->x, 100);
}

// ---------------------------------------------------------------- mouse

TEST_F(IconMenus, MovingHighlightsAndTellsTheCallback) {
    IconMenu* m = Make(7, {Entry(1, 1), Entry(2, 1, {10}, 55)});
    const int32_t id = static_cast<int32_t>(c_->id);
    EXPECT_EQ(INS_IconMenuMouseMove(c_, 100, 200), 0);  // new until the frame
    EXPECT_TRUE(g_events.empty());
    Frame();
    EXPECT_EQ(INS_IconMenuMouseMove(c_, 103, 201), 1);
    EXPECT_EQ(INS_IconMenuMouseMove(c_, 104, 201), 1);  // highlighted already: no second event
    const IconMenuItem* one = IC_FindMenuItem(m, 1);
    EXPECT_EQ(one->flags & IC_ITEM_HIGHLIGHT, IC_ITEM_HIGHLIGHT);
    EXPECT_EQ(m->highlight, 1);
    EXPECT_EQ(c_->iconMenus->mouseX, 104);
    EXPECT_TRUE(g_tips.empty());  // no text word
    // Item 2 with text: the tooltip of the menu, the highlight moves.
    EXPECT_EQ(INS_IconMenuMouseMove(c_, 126, 200), 1);
    EXPECT_EQ(one->flags & IC_ITEM_HIGHLIGHT, 0u);
    ASSERT_EQ(g_tips.size(), 1u);
    EXPECT_EQ(g_tips[0].owner, m->serial);
    // Off every item: no highlight once, then nothing.
    EXPECT_EQ(INS_IconMenuMouseMove(c_, 400, 400), 0);
    EXPECT_EQ(INS_IconMenuMouseUp(c_, 401, 400), 0);
    EXPECT_EQ(g_events, (std::vector<Event>{{id, 1, 7, 1, 3, 1}, {id, 1, 7, 2, 0, 0}, {id, 2, 7, 0, 300, 200}}));
    EXPECT_EQ(m->highlight, -1);
    // A callback that takes the highlight leaves the item as it was.
    g_answer = 1;
    EXPECT_EQ(INS_IconMenuMouseMove(c_, 100, 200), 1);
    EXPECT_EQ(one->flags & IC_ITEM_HIGHLIGHT, 0u);
}

TEST_F(IconMenus, LeavingClosesByTheMenuFlags) {
    IconMenu* m = Make(7, {Entry(1, 1), Entry(2, 0x10000)}, IC_MENU_CLOSE_ON_LEAVE);
    Frame();
    IconMenuItem* one = m->items;
    ASSERT_EQ(IC_MenuOpenSubMenu(m, one), 1);
    EXPECT_EQ(INS_IconMenuMouseMove(c_, 400, 400), 0);
    EXPECT_EQ(one->flags & IC_ITEM_OPEN, 0u);  // closed on leaving
    EXPECT_EQ(g_events.size(), 1u);
    m->flags |= IC_MENU_KEEP_OPEN;
    ASSERT_EQ(IC_MenuOpenSubMenu(m, one), 1);
    INS_IconMenuMouseMove(c_, 400, 400);
    EXPECT_EQ(one->flags & IC_ITEM_OPEN, IC_ITEM_OPEN);
}

TEST_F(IconMenus, DownSelectsOpensAndCloses) {
    IconMenu* m = Make(7, {Entry(1, 1), Entry(2, 1), Entry(3, 0x10000 | 0x20000)});
    Frame();
    const int32_t id = static_cast<int32_t>(c_->id);
    EXPECT_EQ(INS_IconMenuMouseDown(c_, 126, 200), 1);  // item 2 opens its sub-menu
    EXPECT_EQ(IC_FindMenuItem(m, 2)->flags & IC_ITEM_OPEN, IC_ITEM_OPEN);
    EXPECT_TRUE(g_events.empty());
    EXPECT_EQ(INS_IconMenuMouseDown(c_, 100, 200), 1);  // item 1 is chosen; every item closes
    EXPECT_EQ(IC_FindMenuItem(m, 2)->flags & IC_ITEM_OPEN, 0u);
    EXPECT_EQ(g_events.front(), (Event{id, 0, 7, 1, 0, 0}));
    EXPECT_EQ(m->highlight, -1);
    g_events.clear();
    EXPECT_EQ(INS_IconMenuMouseDown(c_, 400, 400), 0);
    EXPECT_TRUE(g_events.empty());
    // A disabled item (0x2) answers at once.
    IC_FindMenuItem(m, 1)->flags |= 0x2;
    EXPECT_EQ(INS_IconMenuMouseDown(c_, 100, 200), 1);
    EXPECT_TRUE(g_events.empty());
}

TEST_F(IconMenus, AOneShotMenuGoesAfterAChoice) {
    IconMenu* m = Make(7, {Entry(1, 1), Entry(2, 1)}, IC_MENU_ONE_SHOT);
    Frame();
    const int32_t id = static_cast<int32_t>(c_->id);
    EXPECT_EQ(INS_IconMenuMouseDown(c_, 126, 200), 1);
    EXPECT_EQ(g_events, (std::vector<Event>{{id, 0, 7, 2, 0, 0}, {id, 2, 7, 0, 0, 0}}));
    EXPECT_EQ(m->items, nullptr);
    EXPECT_EQ(m->flags & IC_MENU_REMOVED, IC_MENU_REMOVED);
    EXPECT_EQ(IC_FindIconMenu(c_, 7), nullptr);
    Frame();
    EXPECT_EQ(c_->menus, nullptr);
}

TEST_F(IconMenus, AOneShotMenuWaitsHalfASecondAfterThePointerLeaves) {
    IconMenu* m = Make(7, {Entry(1, 1)}, IC_MENU_ONE_SHOT | IC_MENU_CLOSE_ON_LEAVE);
    Frame();
    EXPECT_EQ(INS_IconMenuMouseMove(c_, 100, 200), 1);
    EXPECT_EQ(INS_IconMenuMouseMove(c_, 400, 400), 0);  // the hold starts
    SetClock(system_->gameClock + 499);
    EXPECT_EQ(INS_IconMenuMouseMove(c_, 400, 400), 0);
    EXPECT_EQ(g_events.size(), 1u);
    EXPECT_NE(m->items, nullptr);
    SetClock(system_->gameClock + 1);
    EXPECT_EQ(INS_IconMenuMouseMove(c_, 400, 400), 0);
    EXPECT_EQ(g_events.size(), 2u);
    EXPECT_EQ(g_events.back().event, IC_EVENT_NO_HIGHLIGHT);
    EXPECT_EQ(m->items, nullptr);
    EXPECT_EQ(m->flags & IC_MENU_REMOVED, IC_MENU_REMOVED);
}

TEST_F(IconMenus, ACallbackThatFreesTheCockpitEndsTheStep) {
    Make(7, {Entry(1, 1)}, IC_MENU_ONE_SHOT);
    Make(8, {Entry(1, 1)});
    Frame();
    g_inside = [] { INS_ClearAllCockpits(g_CockpitSystem); };
    EXPECT_EQ(INS_IconMenuMouseDown(c_, 100, 200), 1);
    EXPECT_EQ(g_events.size(), 1u);
    EXPECT_EQ(g_CockpitSystem->activeControl, 0);
    c_ = nullptr;
}

// ---------------------------------------------------------------- frame step

TEST_F(IconMenus, ANewMenuOfTheSameIdReplacesTheOldByTheNextFrame) {
    IconMenu* first = Make(7, {Entry(1, 1)});
    Frame();
    const uint32_t inst = first->items->slots[0].slot.inst;
    ASSERT_NE(IC_FindInst(inst), nullptr);
    IconMenu* second = Make(7, {Entry(2, 1)});
    EXPECT_EQ(first->flags & IC_MENU_REMOVED, IC_MENU_REMOVED);
    EXPECT_EQ(IC_FindIconMenu(c_, 7), second);
    EXPECT_EQ(c_->menus, first);  // kept until the frame
    Frame();
    EXPECT_EQ(c_->menus, second);
    EXPECT_EQ(second->next, nullptr);
    EXPECT_EQ(IC_FindInst(inst), nullptr);
}

TEST_F(IconMenus, TheFrameStepShowsSlotsAsInstances) {
    IconMenu* m = Make(7, {Entry(1, 1, {10, 11}), Entry(2, 0, {12})});
    Frame();
    EXPECT_EQ(m->flags & IC_MENU_NEW, 0u);
    IconMenuItem* one = m->items;
    Inst3D* shown = SlotInst(one, 0);
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->scene, MenuScene());
    EXPECT_EQ(shown->flags & IC_SLOT_INST_FLAGS, IC_SLOT_INST_FLAGS);
    EXPECT_EQ(shown->pos.x, 100);
    EXPECT_EQ(shown->pos.y, 200);
    EXPECT_EQ(shown->pos.z, 5);  // the negated depth value
    EXPECT_EQ(one->slots[0].slot.state, 1u);
    EXPECT_EQ(SlotInst(one, 1), nullptr);             // slot 1 only while highlighted
    EXPECT_EQ(SlotInst(m->items->next, 0), nullptr);  // item 2 is not visible
    // Highlighted: slot 1 takes slot 0's place.
    one->flags |= IC_ITEM_HIGHLIGHT;
    Frame();
    EXPECT_EQ(shown->scene, nullptr);
    EXPECT_EQ(one->slots[0].slot.state, 0u);
    ASSERT_NE(SlotInst(one, 1), nullptr);
    EXPECT_EQ(SlotInst(one, 1)->scene, MenuScene());
    // A hidden menu shows nothing.
    m->flags |= IC_MENU_HIDDEN;
    Frame();
    EXPECT_EQ(SlotInst(one, 1)->scene, nullptr);
    EXPECT_EQ(one->slots[1].slot.state, 0u);
}

TEST_F(IconMenus, AHighlightedItemOpensItsSubMenuAfterHalfASecond) {
    IconMenu* m = Make(7, {Entry(1, 1), Entry(2, 0x10000)});
    Frame();
    EXPECT_EQ(INS_IconMenuMouseMove(c_, 100, 200), 1);
    Frame(499);
    EXPECT_EQ(m->items->flags & IC_ITEM_OPEN, 0u);
    Frame(1);
    EXPECT_EQ(m->items->flags & IC_ITEM_OPEN, IC_ITEM_OPEN);
    ASSERT_NE(SlotInst(m->items->subMenu->items, 0), nullptr);
    EXPECT_EQ(SlotInst(m->items->subMenu->items, 0)->scene, MenuScene());
}

// ---------------------------------------------------------------- free path

TEST_F(IconMenus, FreeingAMenuHidesTheTooltipsItOwns) {
    IconMenu* m = Make(7, {Entry(1, 1), Entry(2, 0x10000)});
    const uint32_t menu = m->serial, sub = m->items->subMenu->serial;
    // Deleting the item frees its sub-menu, which hides its own tooltip.
    IconMenuItem* one = m->items;
    INS_DeleteCockpitObject(one);
    Int_FreeRecord(one, 0);
    ASSERT_EQ(g_tips.size(), 1u);
    EXPECT_EQ(g_tips[0].owner, sub);
    EXPECT_EQ(m->items, nullptr);
    g_tips.clear();
    INS_FreeIconMenus(c_);
    ASSERT_EQ(g_tips.size(), 1u);
    EXPECT_EQ(g_tips[0].owner, menu);
    EXPECT_EQ(c_->menus, nullptr);
    // Without an active control cockpit nobody's tooltip is touched.
    g_tips.clear();
    g_CockpitSystem->activeControl = 0;
    Make(8, {Entry(1, 1)});
    INS_FreeIconMenus(c_);
    EXPECT_TRUE(g_tips.empty());
}

// ---------------------------------------------------------------- notifications

constexpr const char* kNotifyStory = R"(
    end
.var "A0" int 0
.func "Answer" need 8
    pushw 5
    ret
.object 300
.func "NotifyIconMenuSelect" need 12
    getl 7
    getl 7
    getl 7
    getl 7
    pushw 4
    sys "T_Now"
    pop
    pushw 9
    ret
.func "NotifyIconMenuNoHighlight" need 8
    getl 4
    c1
    sys "T_Now"
    pop
    pushw 3
    ret
.func "NotifyIconMenuHighlight" need 8
    c0
    sys "T_Never"
    ret
.object 301
.func "NotifyIconMenuHighlight" need 8
    pushw 200
    pushw 100
    getg 0
    pushw 3
    sys "INS_CockpitIconMenuMouseMove"
    pop
    c0
    ret
)";

class MenuNotifications : public IconMenus {
protected:
    void SetUp() override {
        IconMenus::SetUp();
        ASSERT_TRUE(LoadStory(kNotifyStory));
    }
    void TearDown() override {
        INS_FreeCockpitSystem();
        IconMenus::TearDown();
    }
    IconMenu* MakeFor(int32_t storyObject, int32_t id, int32_t x = 100) {
        const int32_t entry[IC_ENTRY_WORDS] = {1, 1, 0, 10, 0, 0, 0, 0, 0};
        const int32_t values[10] = {id, x, 200, 4, 6, 1, 1, 0, 0, 5};
        EXPECT_EQ(INS_AddIconMenu(c_, storyObject, values, 1, entry), 1);
        return IC_FindIconMenu(c_, id);
    }
    std::vector<std::string> Heard() const {
        std::vector<std::string> out;
        for (const RunCall& call : story_->calls) {
            std::string line;
            for (const std::string& a : call.args) line += (line.empty() ? "" : " ") + a;
            out.push_back(line);
        }
        return out;
    }
};

TEST_F(MenuNotifications, TheMakersObjectHearsOfItsMenu) {
    MakeFor(-1, 6, 300);  // no story object: nobody is told
    MakeFor(300, 7);
    const int32_t id = static_cast<int32_t>(c_->id);
    EXPECT_EQ(INS_NotifyIconMenuByCockpit(id, 0, 6, 1, 2, 3), 0);
    EXPECT_EQ(INS_NotifyIconMenuByCockpit(id, 0, 7, 1, 2, 3), 9);
    EXPECT_EQ(INS_NotifyIconMenuByCockpit(id, 2, 7, 1, 2, 3), 3);
    EXPECT_EQ(Heard(), (std::vector<std::string>{"7 1 2 3", "7"}));
    EXPECT_EQ(INS_NotifyIconMenuByCockpit(id + 1, 0, 7, 1, 2, 3), 0);  // no such cockpit
    EXPECT_EQ(INS_NotifyIconMenuByCockpit(id, 0, 8, 1, 2, 3), 0);      // no such menu
    EXPECT_EQ(INS_NotifyIconMenuByCockpit(id, 3, 7, 1, 2, 3), 0);      // no such event
    // The menu the story makes tells its callback, which notifies.
    Frame();
    EXPECT_EQ(INS_IconMenuMouseDown(c_, 100, 200), 1);  // answered 9: taken
    EXPECT_EQ(Heard().back(), "7 1 0 0");
}

// A function that waits gives no answer: the one an earlier run left in the
// module's slot is not taken for it.
TEST_F(MenuNotifications, AnAnswerLeftFromAnEarlierRunIsNotTaken) {
    MakeFor(300, 7);
    EXPECT_EQ(INS_RunStoryInt(0, "Answer", 0), 5);
    EXPECT_EQ(INS_NotifyIconMenuByCockpit(static_cast<int32_t>(c_->id), 1, 7, 1, 2, 3), 0);
    EXPECT_EQ(g_CockpitSystem->answered, 0);
}

// A story that moves the mouse again while it hears of a highlight would
// start the same step on the same item without end: that move does nothing.
TEST_F(MenuNotifications, AMouseCallFromANotificationDoesNothing) {
    MakeFor(301, 7);
    ScriptValue* globals = story_->ctx()->objects[0].variables;
    SV_AssignInt(&globals[0], static_cast<int32_t>(c_->id));
    Frame();
    EXPECT_EQ(INS_IconMenuMouseMove(c_, 100, 200), 1);
    EXPECT_EQ(IC_FindIconMenu(c_, 7)->items->flags & IC_ITEM_HIGHLIGHT, IC_ITEM_HIGHLIGHT);
    EXPECT_EQ(INS_IconMenuMouseMove(c_, 400, 400), 0);  // and the next step runs again
    EXPECT_EQ(IC_FindIconMenu(c_, 7)->items->flags & IC_ITEM_HIGHLIGHT, 0u);
}

TEST_F(MenuNotifications, RemovedMenusAreNotTold) {
    IconMenu* m = MakeFor(300, 7);
    m->flags |= IC_MENU_REMOVED;
    EXPECT_EQ(INS_NotifyIconMenuByCockpit(static_cast<int32_t>(c_->id), 0, 7, 1, 2, 3), 0);
    EXPECT_TRUE(Heard().empty());
}

}  // namespace
