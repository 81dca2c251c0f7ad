#include "cockpit/iconmenus.h"

#include <cstdlib>

#include "base/memory.h"
#include "cockpit/scenes.h"
#include "scene/allocs.h"
#include "scene/smallops.h"
#include "scene/trees.h"
#include "scene/state.h"
#include "space/records.h"
#include "space/typesdb.h"

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

void FreeMenu(IconMenu* menu);

void FreeItem(IconMenuItem* item) {
    FreeMenu(item->subMenu);
    for (IconSlot& s : item->slots)
        if (Inst3D* inst = IC_FindInst(s.slot.inst)) B3D_InstFree(inst);
    Int_FreeRecord(item, 0);
}

void FreeMenu(IconMenu* menu) {
    if (!menu) return;
    for (IconMenuItem* it = menu->items; it;) {
        IconMenuItem* next = it->next;
        FreeItem(it);
        it = next;
    }
    Int_FreeRecord(menu, 0);
}

void SetSlot(IconSlot* s, int32_t icon, int32_t x, int32_t y) {
    *s = IconSlot{};
    s->anim[2] = s->anim[3] = 65536;
    const B3DIconRow* row = IconRow(icon);
    if (!row) return;
    s->icon = icon;
    s->x = x;
    s->y = y;
    s->width = row->w;
    s->height = row->h;
}

IconMenuItem* AddItem(IconMenu* menu, const int32_t* entry) {
    auto* item = Int_AllocRecord<IconMenuItem>(0);
    if (!item) return nullptr;
    item->menu = menu;
    item->id = entry[0];
    item->flags = static_cast<uint32_t>(entry[1]);
    item->text = entry[2];
    IconMenuItem** tail = &menu->items;
    int32_t index = 0;
    for (; *tail; tail = &(*tail)->next) index = (*tail)->index + 1;
    item->index = index;
    item->x = menu->x;
    item->y = menu->y;
    for (int32_t k = 0; k < IC_ICON_SLOTS; ++k) SetSlot(&item->slots[k], entry[3 + k], item->x, item->y);
    item->width = item->slots[0].width;
    item->height = item->slots[0].height;
    *tail = item;
    return item;
}

IconMenu* NewMenu(const IconMenu& like) {
    auto* menu = Int_AllocRecord<IconMenu>(0);
    if (!menu) return nullptr;
    *menu = like;
    menu->next = nullptr;
    menu->items = nullptr;
    menu->highlight = -2;
    menu->highlightTime = menu->word = 0;
    return menu;
}

// Takes entries from *at into the menu until a run's end (nested) or the
// last entry; false when a record cannot be made.
bool AddRun(IconMenu* menu, const int32_t* entries, int32_t count, int32_t* at, bool nested) {
    IconMenuItem* last = nullptr;
    while (*at < count) {
        const int32_t* entry = entries + *at * IC_ENTRY_WORDS;
        const auto flags = static_cast<uint32_t>(entry[1]);
        if ((flags & IC_ENTRY_SUB_START) && last) {
            if (!last->subMenu) {
                last->subMenu = NewMenu(*menu);
                if (!last->subMenu) return false;
                last->subMenu->orientation = menu->orientation ? 0 : 1;
            }
            if (!AddRun(last->subMenu, entries, count, at, true)) return false;
            continue;
        }
        ++*at;
        last = AddItem(menu, entry);
        if (!last) return false;
        if (flags & IC_ENTRY_SUB_END) return true;
    }
    (void)nested;
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

int32_t IC_MakeIconMenu(Cockpit* cockpit, const int32_t values[10], int32_t count, const int32_t* entries) {
    if (!cockpit) return 0;
    const int32_t menuId = values[0];
    IC_FreeRemovedIconMenus(cockpit);
    if (IconMenu* earlier = IC_FindIconMenu(cockpit, menuId)) earlier->flags |= IC_MENU_REMOVED;
    IconMenu like{};
    like.makerValue = values[0];
    like.x = values[1];
    like.y = values[2];
    like.gapWidth = values[3];
    like.gapHeight = values[4];
    like.stepX = static_cast<int16_t>(values[5]);
    like.stepY = static_cast<int16_t>(values[6]);
    like.orientation = values[7];
    like.flags = static_cast<uint32_t>(values[8]) | IC_MENU_NEW;
    like.depth = -values[9];
    like.cockpitId = static_cast<int32_t>(cockpit->id);
    like.menuId = menuId;
    IconMenu* menu = NewMenu(like);
    if (!menu) return 0;
    int32_t at = 0;
    if (!AddRun(menu, entries, count, &at, false)) {
        FreeMenu(menu);
        return 0;
    }
    IconMenu** tail = &cockpit->menus;
    while (*tail) tail = &(*tail)->next;
    *tail = menu;
    return 1;
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

void IC_FreeIconMenus(Cockpit* cockpit) {
    for (IconMenu* m = cockpit->menus; m;) {
        IconMenu* next = m->next;
        FreeMenu(m);
        m = next;
    }
    cockpit->menus = nullptr;
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
