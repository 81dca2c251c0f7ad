#include "cockpit/iconmenus.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <vector>

#include "base/memory.h"
#include "base/general.h"
#include "base/strings.h"
#include "cockpit/helpers.h"
#include "cockpit/scenes.h"
#include "cockpit/syscall.h"
#include "cockpit/viewcalls.h"
#include "scene/allocs.h"
#include "scene/records.h"
#include "scene/smallops.h"
#include "scene/trees.h"
#include "scene/state.h"
#include "space/records.h"
#include "space/typesdb.h"
#include "script/lookup.h"
#include "script/textfiles.h"
#include "script/textpages.h"
#include "system/clock.h"

namespace {

constexpr int32_t kIconList = 0;

const B3DIconRow* IconRow(int32_t icon) { return g_B3DState && icon ? B3D_GetIconData(kIconList, icon) : nullptr; }

template <typename Fn>
void ForEachItemDeep(const IconMenu* menu, Fn fn) {
    for (IconMenuItem* it = menu ? menu->items : nullptr; it; it = it->next) {
        fn(it);
        ForEachItemDeep(it->subMenu, fn);
    }
}

// Clears the flags on the items; true when any item lost one.
template <typename Pred>
bool ClearOn(const IconMenu* menu, uint32_t flags, bool deep, Pred pred) {
    bool changed = false;
    auto clear = [&](IconMenuItem* it) {
        if (!pred(it) || !(it->flags & flags)) return;
        it->flags &= ~flags;
        changed = true;
    };
    if (deep) {
        ForEachItemDeep(menu, clear);
    } else {
        for (IconMenuItem* it = menu ? menu->items : nullptr; it; it = it->next) clear(it);
    }
    return changed;
}

bool Keeps(const IconMenuItem* item) { return (item->flags & IC_ITEM_KEEP) == IC_ITEM_KEEP; }

bool Close(IconMenu* named, IconMenuItem* item) {
    if (!item->subMenu || !(item->flags & IC_ITEM_OPEN)) return false;
    for (IconMenuItem* it = item->subMenu->items; it; it = it->next) Close(named, it);
    named->highlight = -1;
    for (IconMenuItem* it = item->subMenu->items; it; it = it->next)
        it->flags &= ~(IC_ITEM_VISIBLE | IC_ITEM_HIGHLIGHT);
    if (!Keeps(item)) item->flags |= IC_ITEM_VISIBLE;
    item->flags &= ~IC_ITEM_OPEN;
    return true;
}

bool Hits(const IconSlot& s, const IconMenu* menu, int32_t x, int32_t y) {
    const int64_t halfW = (int64_t{s.width} + menu->gapWidth + 2) / 2;
    const int64_t halfH = (int64_t{s.height} + menu->gapHeight + 2) / 2;
    return std::llabs(int64_t{x} - s.x) <= halfW && std::llabs(int64_t{y} - s.y) < halfH;
}

int32_t Now() { return g_SystemState ? g_SystemState->gameClock : 0; }

uint32_t NextSerial() {
    // Tooltip owners are instance ids too: menus take the upper half.
    static uint32_t serial = 0;
    serial = (serial + 1) & 0x7fffffffu;
    if (!serial) serial = 1;
    return serial | 0x80000000u;
}

// Hides the active control cockpit's tooltip when the menu owns it.
void HideTooltipOf(const IconMenu* menu) {
    if (Cockpit* active = INS_ActiveControlCockpit()) g_INSViews.hideTooltip(active, menu->serial);
}

void DestroySlots(IconMenuItem* item) {
    for (IconSlot& s : item->slots) {
        if (Inst3D* inst = IC_FindInst(s.slot.inst)) B3D_InstFree(inst);
        s.slot.inst = 0;
        s.slot.state = 0;
    }
}

// A value counted from the far edge when negative.
int32_t FromEdge(int32_t v, bool horizontal) {
    if (v >= 0 || !g_B3DState) return v;
    return (horizontal ? g_B3DState->screenWidth : g_B3DState->screenHeight) + v;
}

int32_t Signed(int16_t sign, int32_t amount) { return sign > 0 ? amount : -amount; }

// An empty slot, or the icon with its size from the icon table.
void SetSlot(IconSlot* s, int32_t icon) {
    *s = IconSlot{};
    s->anim[2] = s->anim[3] = 65536;
    const B3DIconRow* row = IconRow(icon);
    if (!row) return;
    s->icon = icon;
    s->width = row->w;
    s->height = row->h;
}

// The slots of a new item from its six icon words: slots 2 to 5 are aligned
// to slot 0 and, with 0x100 or 0x200, stand side by side.
void PlaceSlots(IconMenuItem* item, const IconMenu* menu, const int32_t* icons) {
    const uint32_t f = item->flags;
    int32_t x = item->x, y = item->y;
    for (int32_t k = 0; k < IC_ICON_SLOTS; ++k) {
        IconSlot& s = item->slots[k];
        SetSlot(&s, icons[k]);
        if (!s.icon) continue;
        const int32_t w = s.width, h = s.height;
        if (k >= 2) {
            const IconSlot& first = item->slots[0];
            if (f & 0x100) {
                if (f & 0x10) x -= w / 2;
                if (f & 0x20) x += w / 2;
            } else {
                if (f & 0x10) x = item->x - (first.width - w) / 2;
                if (f & 0x20) x = item->x + (first.width - w) / 2;
            }
            if (f & 0x200) {
                if (f & 0x40) y -= h / 2;
                if (f & 0x80) y += h / 2;
            } else {
                if (f & 0x40) y = item->y - (first.height - h) / 2;
                if (f & 0x80) y = item->y + (first.height - h) / 2;
            }
        }
        s.x = x;
        s.y = y;
        if (f & 0x400) s.depth = k - menu->depth;
        else if (f & 0x800) s.depth = 6 - menu->depth - k;
        else s.depth = -menu->depth;
        if (k >= 1) {
            if (f & 0x100) x += (f & 0x10) ? -(2 + w / 2) : (f & 0x20) ? w / 2 + 2 : 0;
            if (f & 0x200) y += (f & 0x40) ? -(2 + h / 2) : (f & 0x80) ? h / 2 + 2 : 0;
        }
    }
    item->width = item->slots[0].width;
    item->height = item->slots[0].height;
    if (f & 0x4000) {
        item->width = std::max(item->width, item->slots[1].width);
        item->height = std::max(item->height, item->slots[1].height);
    }
}

IconMenu* NewMenu(const IconMenu& like) {
    auto* menu = Int_AllocRecord<IconMenu>(0);
    if (!menu) return nullptr;
    *menu = like;
    menu->next = nullptr;
    menu->items = nullptr;
    menu->highlight = -2;
    menu->highlightTime = menu->word = menu->holdTime = 0;
    menu->serial = NextSerial();
    return menu;
}

// Frees a menu with its items; the tooltip it owns is hidden first.
void FreeMenu(IconMenu* menu) {
    if (!menu) return;
    HideTooltipOf(menu);
    INS_DeleteObjectList(menu);
}

// Takes entries from *at into the menu until a nested run's end or the last
// entry, `last` being the item made before; false when a record cannot be made.
bool AddRun(IconMenu* menu, const int32_t* entries, int32_t count, int32_t* at, IconMenuItem* last) {
    while (*at < count) {
        const int32_t* entry = entries + static_cast<ptrdiff_t>(*at) * IC_ENTRY_WORDS;
        const auto flags = static_cast<uint32_t>(entry[1]);
        ++*at;
        if ((flags & IC_ENTRY_SUB_START) && last) {
            // The run's first entry makes the sub-menu; the rest follow it
            // until the entry that ends the run.
            IconMenuItem* first = INS_MenuAddSubItem(last, entry);
            if (!first) return false;
            if (!(flags & IC_ENTRY_SUB_END) && !AddRun(last->subMenu, entries, count, at, first)) return false;
            continue;
        }
        last = INS_MenuAddItem(menu, entry);
        if (!last) return false;
        if (flags & IC_ENTRY_SUB_END) return true;
    }
    return true;
}

}  // namespace

IconMenu* IC_FindIconMenu(const Cockpit* cockpit, int32_t menuId) {
    for (IconMenu* m = cockpit ? cockpit->menus : nullptr; m; m = m->next)
        if (m->menuId == menuId && !(m->flags & IC_MENU_REMOVED)) return m;
    return nullptr;
}

IconMenuItem* IC_FindMenuItem(const IconMenu* menu, int32_t itemId) {
    for (IconMenuItem* it = menu ? menu->items : nullptr; it; it = it->next) {
        if (it->id == itemId) return it;
        if (IconMenuItem* sub = IC_FindMenuItem(it->subMenu, itemId)) return sub;
    }
    return nullptr;
}

int32_t IC_MenuSetFlags(IconMenu* menu, IconMenuItem* item, int32_t mode, uint32_t flags) {
    flags &= IC_ITEM_STORY_FLAGS;
    bool changed = false;
    if (mode == 1)
        changed = ClearOn(item->menu, flags, false, [&](const IconMenuItem* it) { return it->id != item->id; });
    else if (mode == 2) changed = ClearOn(menu, flags, true, [](const IconMenuItem*) { return true; });
    if (!(item->flags & flags)) {
        item->flags |= flags;
        return 1;
    }
    return changed ? 1 : 0;
}

int32_t IC_MenuClearFlags(IconMenuItem* item, uint32_t flags) {
    flags &= IC_ITEM_STORY_FLAGS;
    if (!(item->flags & flags)) return 0;
    item->flags &= ~flags;
    return 1;
}

int32_t IC_MenuOpenSubMenu(IconMenu* menu, IconMenuItem* item) {
    if (!item->subMenu || (item->flags & IC_ITEM_OPEN)) return 0;
    for (IconMenuItem* it = item->menu->items; it; it = it->next)
        if (it != item) Close(menu, it);
    for (IconMenuItem* it = item->subMenu->items; it; it = it->next) it->flags |= IC_ITEM_VISIBLE;
    if (!Keeps(item)) item->flags &= ~IC_ITEM_VISIBLE;
    item->flags |= IC_ITEM_OPEN;
    if (!Keeps(item) && item->subMenu->items) {
        IconMenuItem* first = item->subMenu->items;
        menu->highlight = first->id;
        ClearOn(menu, IC_ITEM_HIGHLIGHT, true, [](const IconMenuItem*) { return true; });
        first->flags |= IC_ITEM_HIGHLIGHT;
    }
    return 1;
}

int32_t IC_MenuCloseSubMenu(IconMenu* menu, IconMenuItem* item) { return Close(menu, item) ? 1 : 0; }

int32_t IC_MenuCloseAll(IconMenu* menu) {
    bool any = false;
    for (IconMenuItem* it = menu->items; it; it = it->next) any |= Close(menu, it);
    return any ? 1 : 0;
}

int32_t IC_MenuSetIcon(IconMenuItem* item, int32_t slot, int32_t icon) {
    if (slot < 0 || slot >= IC_ICON_SLOTS) return 0;
    const B3DIconRow* row = IconRow(icon);
    if (!row) return 0;
    IconSlot& s = item->slots[slot];
    s.icon = icon;
    s.width = row->w;
    s.height = row->h;
    return 1;
}

IconMenuItem* IC_MenuHitTest(const IconMenu* menu, int32_t x, int32_t y) {
    for (IconMenuItem* it = menu ? menu->items : nullptr; it; it = it->next) {
        // An item gives its place to its sub-menu as it opens: the open
        // sub-menu of a hidden item is still tested.
        if (it->flags & IC_ITEM_VISIBLE) {
            const bool second = it->slots[1].icon && (it->flags & (IC_ITEM_HIGHLIGHT | 0x8));
            bool hit = Hits(it->slots[second ? 1 : 0], menu, x, y);
            for (int32_t k = 2; !hit && (it->flags & IC_ITEM_SIDE_SLOTS) && k < IC_ICON_SLOTS; ++k)
                hit = it->slots[k].icon && Hits(it->slots[k], menu, x, y);
            if (hit) return it;
        }
        if ((it->flags & IC_ITEM_OPEN) && it->subMenu)
            if (IconMenuItem* sub = IC_MenuHitTest(it->subMenu, x, y)) return sub;
    }
    return nullptr;
}

int32_t INS_AddIconMenu(Cockpit* cockpit, int32_t storyObject, const int32_t values[10], int32_t count,
                        const int32_t* entries) {
    if (!cockpit) return 0;
    const int32_t menuId = values[0];
    if (IconMenu* earlier = IC_FindIconMenu(cockpit, menuId)) earlier->flags |= IC_MENU_REMOVED;
    IconMenu like{};
    like.makerValue = values[0];
    like.x = FromEdge(values[1], true);
    like.y = FromEdge(values[2], false);
    like.gapWidth = values[3];
    like.gapHeight = values[4];
    like.stepX = static_cast<int16_t>(values[5]);
    like.stepY = static_cast<int16_t>(values[6]);
    like.orientation = values[7];
    like.flags = static_cast<uint32_t>(values[8]) | IC_MENU_NEW;
    like.depth = -values[9];
    like.callback = INS_NotifyIconMenuByCockpit;
    like.cockpitId = static_cast<int32_t>(cockpit->id);
    like.menuId = menuId;
    like.storyObject = storyObject;
    IconMenu* menu = NewMenu(like);
    if (!menu) return 0;
    int32_t at = 0;
    if (!AddRun(menu, entries, count, &at, nullptr)) {
        FreeMenu(menu);
        return 0;
    }
    IconMenu** tail = &cockpit->menus;
    while (*tail) tail = &(*tail)->next;
    *tail = menu;
    return 1;
}

IconMenuItem* INS_MenuAddItem(IconMenu* menu, const int32_t* entry) {
    auto* item = Int_AllocRecord<IconMenuItem>(0);
    if (!item) return nullptr;
    item->menu = menu;
    item->id = entry[0];
    item->flags = static_cast<uint32_t>(entry[1]);
    item->text = entry[2];
    IconMenuItem** tail = &menu->items;
    const IconMenuItem* last = nullptr;
    for (; *tail; tail = &(*tail)->next) last = *tail;
    item->x = menu->x;
    item->y = menu->y;
    if (last) {
        // The next item stands beside the last one, half of each apart when
        // its icon is known.
        item->index = last->index + 1;
        item->x = last->x;
        item->y = last->y;
        const B3DIconRow* icon = IconRow(entry[3]);
        if (!menu->orientation) {
            const int32_t step = icon ? (icon->w + last->width) / 2 : last->width;
            item->x += Signed(menu->stepX, step + menu->gapWidth + 2);
        } else {
            const int32_t step = icon ? (icon->h + last->height) / 2 : last->height;
            item->y += Signed(menu->stepY, step + menu->gapHeight + 2);
        }
    }
    PlaceSlots(item, menu, entry + 3);
    *tail = item;
    return item;
}

IconMenuItem* INS_MenuAddSubItem(IconMenuItem* item, const int32_t* entry) {
    if (!item->subMenu) {
        const IconMenu* parent = item->menu;
        IconMenu* sub = NewMenu(*parent);
        if (!sub) return nullptr;
        sub->orientation = parent->orientation ? 0 : 1;
        const B3DIconRow* icon = IconRow(entry[3]);
        const bool alongX = !parent->orientation;
        const int32_t size = alongX ? item->width : item->height;
        const int32_t gap = alongX ? parent->gapWidth : parent->gapHeight;
        int32_t step = size + gap + 2;
        if (icon) {
            const int32_t iconSize = alongX ? icon->w : icon->h;
            const uint32_t keep = item->flags & IC_ITEM_KEEP;
            if (keep == IC_ITEM_KEEP) step = (iconSize + size) / 2 + gap + 2;
            else if (keep == 0x1000) step = (size - iconSize) / 2;
            else if (keep == 0x2000) step = -((size - iconSize) / 2);
        }
        sub->x = item->x;
        sub->y = item->y;
        if (alongX) sub->x += Signed(parent->stepX, step);
        else sub->y += Signed(parent->stepY, step);
        item->subMenu = sub;
    }
    return INS_MenuAddItem(item->subMenu, entry);
}

void INS_DeleteCockpitObject(IconMenuItem* item) {
    if (IconMenu* sub = item->subMenu) {
        item->subMenu = nullptr;
        FreeMenu(sub);
    }
    if (IconMenu* menu = item->menu) {
        for (IconMenuItem** at = &menu->items; *at; at = &(*at)->next)
            if (*at == item) {
                *at = item->next;
                break;
            }
    }
    item->next = nullptr;
    item->menu = nullptr;
    DestroySlots(item);
}

void INS_MenuDeleteItems(IconMenu* menu) {
    while (IconMenuItem* item = menu->items) {
        INS_DeleteCockpitObject(item);
        Int_FreeRecord(item, 0);
    }
}

void IC_FreeRemovedIconMenus(Cockpit* cockpit) {
    for (IconMenu** at = &cockpit->menus; *at;) {
        IconMenu* m = *at;
        if (!(m->flags & IC_MENU_REMOVED)) {
            at = &m->next;
            continue;
        }
        *at = m->next;
        FreeMenu(m);
    }
}

void INS_FreeIconMenus(Cockpit* cockpit) {
    while (IconMenu* m = cockpit->menus) {
        cockpit->menus = m->next;
        FreeMenu(m);
    }
}

// ---------------------------------------------------------------- mouse

namespace {

// A menu's callback runs story code, which may free the cockpit, remove the
// menu or delete its items: after it the menu is found again by its serial.
struct MenuRef {
    uint32_t cockpitId;
    uint32_t serial;
    IconMenu* Find() const {
        Cockpit* c = INS_TableGet(g_CockpitSystem, cockpitId);
        for (IconMenu* m = c ? c->menus : nullptr; m; m = m->next)
            if (m->serial == serial) return m;
        return nullptr;
    }
};

// Calls the menu's callback; false when the menu is gone after it. The
// answer lands in *answer (0 without a callback).
bool Tell(IconMenu** menu, const MenuRef& ref, int32_t event, int32_t item, int32_t x, int32_t y, int32_t* answer) {
    *answer = 0;
    IconMenu* m = *menu;
    if (!m->callback) return true;
    *answer = m->callback(m->cockpitId, event, m->menuId, item, x, y);
    *menu = ref.Find();
    return *menu != nullptr;
}

void Leave(IconMenu* m) {
    m->holdTime = 0;
    m->highlight = -1;
}

// A one-shot menu closes for good: its items go and it is marked removed.
void Drop(IconMenu* m) {
    INS_MenuDeleteItems(m);
    m->flags |= IC_MENU_REMOVED;
}

void ShowItemTooltip(const IconMenuItem* item, int32_t x, int32_t y) {
    Cockpit* active = INS_ActiveControlCockpit();
    if (!item->text || !active) return;
    char* text = SB_ConvertFormatString(SB_GetText(IC_MENU_TEXT_PAGE, item->text));
    g_INSViews.showTooltip(active, static_cast<int32_t>(item->menu->serial), text, x, y);
    Qel_StrFree(text);
}

int32_t MoveStep(Cockpit* cockpit, IconMenu* m, int32_t x, int32_t y) {
    if (m->flags & (IC_MENU_NEW | IC_MENU_REMOVED)) return 0;
    const MenuRef ref{cockpit->id, m->serial};
    IconMenuItem* item = IC_MenuHitTest(m, x, y);
    int32_t answer = 0;
    if (!item) {
        if (m->flags & IC_MENU_ONE_SHOT) {
            if (!m->holdTime) {
                m->holdTime = Now();
                m->highlight = -1;
                return 0;
            }
            if (S_ClockDiff(Now(), m->holdTime) < IC_MENU_HOLD) {
                m->highlight = -1;
                return 0;
            }
        }
        const bool cleared = ClearOn(m, IC_ITEM_HIGHLIGHT, true, [](const IconMenuItem*) { return true; });
        if (!cleared && m->highlight != -2) {
            Leave(m);
            return 0;
        }
        if (!Tell(&m, ref, IC_EVENT_NO_HIGHLIGHT, 0, x - m->x, y - m->y, &answer)) return 0;
        if (!answer && !(m->flags & IC_MENU_REMOVED) && (m->flags & IC_MENU_CLOSE_ON_LEAVE)) {
            if (m->flags & IC_MENU_ONE_SHOT) Drop(m);
            else if (!(m->flags & IC_MENU_KEEP_OPEN)) IC_MenuCloseAll(m);
        }
        Leave(m);
        return 0;
    }
    m->holdTime = 0;
    if (item->flags & IC_ITEM_HIGHLIGHT) return 1;
    const int32_t itemId = item->id;
    if (!Tell(&m, ref, IC_EVENT_HIGHLIGHT, itemId, x - item->x, y - item->y, &answer) || answer) return 1;
    if (m->flags & IC_MENU_REMOVED) return 1;
    IconMenu* own = item->menu;
    for (IconMenuItem* it = own->items; it; it = it->next)
        if (it != item) IC_MenuCloseSubMenu(m, it);
    own->highlightTime = Now();
    own->highlight = itemId;
    ClearOn(m, IC_ITEM_HIGHLIGHT, true, [](const IconMenuItem*) { return true; });
    item->flags |= IC_ITEM_HIGHLIGHT;
    ShowItemTooltip(item, x, y);
    return 1;
}

int32_t DownStep(Cockpit* cockpit, IconMenu* m, int32_t x, int32_t y) {
    if (m->flags & (IC_MENU_NEW | IC_MENU_REMOVED)) return 0;
    const MenuRef ref{cockpit->id, m->serial};
    m->holdTime = 0;
    IconMenuItem* item = IC_MenuHitTest(m, x, y);
    int32_t answer = 0;
    if (!item) {
        if (m->flags & IC_MENU_ONE_SHOT) {
            if (Tell(&m, ref, IC_EVENT_NO_HIGHLIGHT, 0, 0, 0, &answer)) Drop(m);
        } else if (!(m->flags & IC_MENU_KEEP_OPEN)) {
            IC_MenuCloseAll(m);
        }
        return 0;
    }
    if (item->subMenu) {
        if (!(item->flags & (IC_ITEM_OPEN | 0x2))) IC_MenuOpenSubMenu(m, item);
        return 1;
    }
    if (item->flags & 0x2) return 1;
    if (!Tell(&m, ref, IC_EVENT_SELECT, item->id, x - item->x, y - item->y, &answer) || answer) return 1;
    if (m->flags & IC_MENU_REMOVED) return 1;
    if (m->flags & IC_MENU_ONE_SHOT) {
        if (!Tell(&m, ref, IC_EVENT_NO_HIGHLIGHT, 0, 0, 0, &answer)) return 1;
        Drop(m);
        m->highlight = -1;
        return 1;
    }
    if (!(m->flags & IC_MENU_KEEP_OPEN)) {
        IC_MenuCloseAll(m);
        MoveStep(cockpit, m, x, y);
        if (!(m = ref.Find())) return 1;
    }
    m->highlight = -1;
    return 1;
}

void KeepPoint(Cockpit* cockpit, int32_t x, int32_t y) {
    if (IconMenuScene* record = cockpit->iconMenus) {
        record->mouseX = x;
        record->mouseY = y;
    }
}

// Runs the step on every menu of the cockpit that is not removed, in list
// order, as long as the cockpit lives; menus made meanwhile are new and
// answer nothing. `stop` ends the walk on the first non-zero answer.
//
// A story function a step started may move or click again: that call would
// start the same step on the same item over and over, so a mouse call made
// while a step runs does nothing and answers 0.
bool g_mouseBusy = false;

template <typename Step>
int32_t EachMenu(Cockpit* cockpit, Step step, bool stop) {
    if (g_mouseBusy) return 0;
    struct Busy {
        Busy() { g_mouseBusy = true; }
        ~Busy() { g_mouseBusy = false; }
    } busy;
    std::vector<uint32_t> serials;
    for (const IconMenu* m = cockpit->menus; m; m = m->next) serials.push_back(m->serial);
    const uint32_t id = cockpit->id;
    int32_t answers = 0;
    for (uint32_t serial : serials) {
        Cockpit* c = INS_TableGet(g_CockpitSystem, id);
        if (!c) break;
        IconMenu* m = MenuRef{id, serial}.Find();
        if (!m || (m->flags & IC_MENU_REMOVED)) continue;
        const int32_t answer = step(c, m);
        if (stop && answer) return answer;
        answers |= answer;
    }
    return answers;
}

}  // namespace

int32_t INS_IconMenuMouseMove(Cockpit* cockpit, int32_t x, int32_t y) {
    KeepPoint(cockpit, x, y);
    return EachMenu(
        cockpit, [x, y](Cockpit* c, IconMenu* m) { return MoveStep(c, m, x, y); }, false);
}

int32_t INS_IconMenuMouseDown(Cockpit* cockpit, int32_t x, int32_t y) {
    return EachMenu(
        cockpit, [x, y](Cockpit* c, IconMenu* m) { return DownStep(c, m, x, y); }, true);
}

int32_t INS_IconMenuMouseUp(Cockpit* cockpit, int32_t x, int32_t y) {
    KeepPoint(cockpit, x, y);
    EachMenu(
        cockpit, [x, y](Cockpit* c, IconMenu* m) { return MoveStep(c, m, x, y); }, false);
    return 0;
}

int32_t INS_IconMenuMouse(Cockpit* cockpit, int32_t step, int32_t x, int32_t y) {
    switch (step) {
        case 0: return INS_IconMenuMouseMove(cockpit, x, y);
        case 1: return INS_IconMenuMouseDown(cockpit, x, y);
        default: return INS_IconMenuMouseUp(cockpit, x, y);
    }
}

// ---------------------------------------------------------------- frame step

namespace {

bool Shown(const IconMenu* menu, const IconMenuItem* item, int32_t k) {
    const uint32_t f = item->flags;
    const bool second = !(f & 0x2) && (f & (IC_ITEM_HIGHLIGHT | 0x8));
    if (!item->slots[k].icon || !(f & IC_ITEM_VISIBLE) || (menu->flags & IC_MENU_HIDDEN)) return false;
    if (k == 0 && item->slots[1].icon && second) return false;
    if (k == 1) return second;
    return true;
}

void ShowSlot(IconSlot* s, Scene3D* scene) {
    Inst3D* inst = IC_SlotShow(&s->slot, scene, g_CockpitModule.hudBodies[0]);
    if (!inst) return;
    B3D_InstSetIconType(inst, kIconList, s->icon, s->anim[0], s->anim[1], s->anim[2], s->anim[3]);
    inst->flags |= IC_SLOT_INST_FLAGS;
    inst->pos = QelVector{s->x, s->y, s->depth, 0};
}

void HideSlot(IconSlot* s) { IC_SlotTakeOut(&s->slot); }

void MenuInstances(IconMenu* menu, Scene3D* scene) {
    menu->flags &= ~IC_MENU_NEW;
    IconMenuItem* lit = menu->highlight >= 0 ? IC_FindMenuItem(menu, menu->highlight) : nullptr;
    if (lit && S_ClockDiff(Now(), menu->highlightTime) >= IC_MENU_HOLD && !(menu->flags & IC_MENU_NO_AUTO_OPEN) &&
        lit->subMenu && !(lit->flags & (IC_ITEM_OPEN | 0x2)))
        IC_MenuOpenSubMenu(menu, lit);
    for (IconMenuItem* it = menu->items; it; it = it->next) {
        for (int32_t k = 0; k < IC_ICON_SLOTS; ++k) {
            if (Shown(menu, it, k)) ShowSlot(&it->slots[k], scene);
            else HideSlot(&it->slots[k]);
        }
        if (it->subMenu) MenuInstances(it->subMenu, scene);
    }
}

}  // namespace

void INS_UpdateIconMenus(Cockpit* cockpit) {
    // Removed menus go even without a scene to show the others in.
    IC_FreeRemovedIconMenus(cockpit);
    IconMenuScene* record = cockpit->iconMenus;
    Scene3D* scene = record ? IC_FindScene(record->scene) : nullptr;
    Camera3D* camera = record ? IC_FindCamera(record->camera) : nullptr;
    if (!scene || !camera) return;
    if (const Camera3D* from = IC_Camera(cockpit)) IC_CameraFollow(from, camera, scene);
    const Scene3D* own = IC_Scene(cockpit);
    const bool ownOn = own && (own->flags & SCENE_ENABLED);
    if (ownOn && !(scene->flags & SCENE_ENABLED)) B3D_SceneEnable(scene);
    else if (!ownOn && (scene->flags & SCENE_ENABLED)) B3D_SceneDisableInsts(scene);
    for (IconMenu* m = cockpit->menus; m; m = m->next) MenuInstances(m, scene);
}

// ---------------------------------------------------------------- notifications

int32_t INS_NotifyIconMenu(Cockpit* cockpit, int32_t event, int32_t menuId, int32_t a, int32_t b, int32_t c) {
    static constexpr const char* kNames[] = {"NotifyIconMenuSelect", "NotifyIconMenuHighlight",
                                             "NotifyIconMenuNoHighlight"};
    if (!cockpit || event < 0 || event > 2) return 0;
    const char* name = kNames[event];
    for (const IconMenu* m = cockpit->menus; m; m = m->next) {
        if (m->menuId != menuId || (m->flags & IC_MENU_REMOVED) || m->storyObject < 0) continue;
        if (!SB_ObjectFunctionExists(m->storyObject, name)) continue;
        if (event == IC_EVENT_NO_HIGHLIGHT) return INS_RunStoryInt(m->storyObject, name, 1, menuId);
        return INS_RunStoryInt(m->storyObject, name, 4, menuId, a, b, c);
    }
    return 0;
}

int32_t INS_NotifyIconMenuByCockpit(int32_t cockpitId, int32_t event, int32_t menuId, int32_t a, int32_t b, int32_t c) {
    Cockpit* cockpit = INS_TableGet(g_CockpitSystem, static_cast<uint32_t>(cockpitId));
    return cockpit ? INS_NotifyIconMenu(cockpit, event, menuId, a, b, c) : 0;
}

// ---------------------------------------------------------------- icons

namespace {

int32_t Pick(int32_t selector, int32_t selected, int32_t marked, int32_t plain) {
    if (selector & IC_ICON_SELECTED) return selected;
    if (selector & IC_ICON_MARKED) return marked;
    return plain;
}

int32_t TypeField(int32_t mainType, int32_t subType, int32_t field) {
    const TypeRecord* t = subType >= 0 ? SA_GetTypeRecord(mainType, subType) : nullptr;
    return t ? t->field[field] : 0;
}

// Ship icons by class: plain, selected, marked.
constexpr int32_t kClassIcons[14][3] = {
    {150, 148, 149}, {144, 142, 143}, {153, 151, 152}, {153, 151, 152}, {156, 154, 155},
    {141, 139, 140}, {138, 136, 137}, {135, 133, 134}, {150, 148, 149}, {144, 142, 143},
    {135, 133, 134}, {147, 145, 146}, {144, 142, 143}, {496, 494, 495},
};

int32_t ShipIcon(int32_t subType, int32_t selector) {
    if ((selector & IC_ICON_SPECIAL_SHIP) && !(selector & (IC_ICON_SELECTED | IC_ICON_MARKED))) return 186;
    switch (subType) {
        case 66: return Pick(selector, 166, 167, 168);
        case 67:
        case 72: return Pick(selector, 157, 158, 159);
        case 70: return Pick(selector, 175, 176, 177);
        case 71: return Pick(selector, 163, 164, 165);
        case 73: return Pick(selector, 178, 179, 180);
        case 79: return Pick(selector, 172, 173, 174);
        case 74: return 188;
        case 82: return 194;
        default: break;
    }
    const int32_t cls = TypeField(SA_MT_SHIP, subType, SA_TF_CLASS);
    if (cls < 0 || cls >= 14) return 185;
    const int32_t* icons = kClassIcons[cls];
    return Pick(selector, icons[1], icons[2], icons[0]);
}

int32_t WeaponIcon(int32_t mainType, int32_t subType, int32_t selector) {
    const int32_t alt = (selector & IC_ICON_ALTERNATE) ? 1 : 0;
    if (subType < 0) return 43 + alt;
    const bool laser = mainType == SA_MT_LASER;
    const int32_t icon = TypeField(mainType, subType, laser ? SA_TF_LASER_ICON : SA_TF_MISSILE_ICON);
    if (icon < 1) return (laser ? 1 : 45) + alt;
    return icon + alt;
}

}  // namespace

int32_t INS_GetObjectIcon(int32_t mainType, int32_t subType, int32_t selector) {
    if (mainType < SA_MT_DOCK || mainType > SA_MT_SPECIAL) return 185;
    switch (mainType) {
        case SA_MT_DOCK:
        case SA_MT_FACTORY: {
            if (selector & IC_ICON_PLAIN_TYPE) return Pick(selector, 160, 161, 162);
            const bool dock = mainType == SA_MT_DOCK;
            const int32_t icon = TypeField(mainType, subType, dock ? SA_TF_DOCK_ICON : SA_TF_FACTORY_ICON);
            return icon < 1 ? (dock ? 196 : 198) : icon;
        }
        case SA_MT_SHIP: return ShipIcon(subType, selector);
        case SA_MT_LASER:
        case SA_MT_MISSILE:
            if (selector & IC_ICON_WEAPON) return WeaponIcon(mainType, subType, selector);
            if (mainType == SA_MT_MISSILE && (selector & IC_ICON_MISSILE)) return Pick(selector, 169, 170, 171);
            return 185;
        case SA_MT_ASTEROID: return 191;
        case SA_MT_GATE:
            switch (subType) {
                case 0: return 184;
                case 1: return 190;
                case 2: return 193;
                case 3: return 187;
                default: return 186;
            }
        case SA_MT_SPECIAL:
            switch (subType) {
                case 3:
                case 4:
                case 28:
                case 37: return 185;
                case 34: return 195;
                default: return 186;
            }
        default: return 185;
    }
}

int32_t INS_GetSpaceObjectIcon(const SectorObject* object, bool selected, bool marked, bool special) {
    if (!object) return 185;
    int32_t selector = 0;
    // A missile in flight shows the missile icons: the rule reads that bit
    // for missiles, and no other.
    if (object->mainType == SA_MT_MISSILE && (object->flags & 0x1000000u)) selector |= IC_ICON_MISSILE;
    if (selected) selector |= IC_ICON_SELECTED;
    if (marked) selector |= IC_ICON_MARKED;
    if (special) selector |= IC_ICON_SPECIAL_SHIP;
    return INS_GetObjectIcon(object->mainType, object->subType, selector);
}
