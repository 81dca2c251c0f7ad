// Icon menus of a cockpit: trees of items with six icon slots each, their
// flags and the operations on the tree (find, set and clear flags, open and
// close sub-menus, the hit test, icons), the plain making of a menu from the
// entries a story gives, and the icon of an object by its type.
#pragma once

#include <cstdint>

#include "cockpit/cockpits.h"

struct IconMenu;

// An icon slot: the instance that shows it (made by the menus' frame step),
// the icon with its place and size from the icon table, and four animation
// values.
struct IconSlot {
    InstSlot slot;
    int32_t icon;  // 0: empty
    int32_t x, y;
    int32_t depth;
    int32_t width, height;
    int32_t anim[4];
};

// Item flags.
constexpr uint32_t IC_ITEM_VISIBLE = 0x1;
constexpr uint32_t IC_ITEM_STORY_FLAGS = 0xb;  // visible and the two story flags: all calls 115 and 116 change
constexpr uint32_t IC_ITEM_HIGHLIGHT = 0x4;
constexpr uint32_t IC_ITEM_SIDE_SLOTS = 0x10;  // slots 2 to 5 are hit too
constexpr uint32_t IC_ITEM_KEEP = 0x3000;      // both bits: keeps its visibility as its sub-menu opens and closes
constexpr uint32_t IC_ITEM_OPEN = 0x8000;
// Entry flags of a nested run.
constexpr uint32_t IC_ENTRY_SUB_START = 0x10000;
constexpr uint32_t IC_ENTRY_SUB_END = 0x20000;
// Menu flags.
constexpr uint32_t IC_MENU_NEW = 0x10000;
constexpr uint32_t IC_MENU_REMOVED = 0x20000;

constexpr int32_t IC_ICON_SLOTS = 6;
constexpr int32_t IC_ENTRY_WORDS = 9;  // item ID, item flags, text word, six icons

struct IconMenuItem {
    IconMenuItem* next;
    IconMenu* menu;  // the menu that holds the item
    int32_t id;
    uint32_t flags;
    int32_t text;
    int32_t index;  // its place in its menu, from 0 in the order of making
    int32_t x, y, width, height;
    IconSlot slots[IC_ICON_SLOTS];
    IconMenu* subMenu;  // null until made
};

struct IconMenu {
    IconMenu* next;
    int32_t depth;
    int32_t makerValue;
    int32_t cockpitId, menuId;
    uint32_t flags;
    int32_t x, y;
    int32_t gapWidth, gapHeight;
    int16_t stepX, stepY;
    int32_t orientation;
    int32_t holdTime;
    int32_t highlight;  // item ID; -2 when made, -1 after a close
    int32_t highlightTime;
    int32_t word;
    IconMenuItem* items;
};

// The first menu of the cockpit with the ID that is not removed; null.
IconMenu* IC_FindIconMenu(const Cockpit* cockpit, int32_t menuId);
// The item with the ID in the menu, depth first through its sub-menus; null.
IconMenuItem* IC_FindMenuItem(const IconMenu* menu, int32_t itemId);
// The calls on items: 1 when they did what they say, 0 else.
int32_t IC_MenuSetFlags(IconMenu* menu, IconMenuItem* item, int32_t mode, uint32_t flags);
int32_t IC_MenuClearFlags(IconMenuItem* item, uint32_t flags);
int32_t IC_MenuOpenSubMenu(IconMenu* menu, IconMenuItem* item);
int32_t IC_MenuCloseSubMenu(IconMenu* menu, IconMenuItem* item);
int32_t IC_MenuCloseAll(IconMenu* menu);
// Sets a slot's icon from the icon table; 0 for a slot outside 0..5 or an
// icon the table does not hold.
int32_t IC_MenuSetIcon(IconMenuItem* item, int32_t slot, int32_t icon);
// The first visible item of the menu (or of its open sub-menus) under the point; null.
IconMenuItem* IC_MenuHitTest(const IconMenu* menu, int32_t x, int32_t y);

// The plain making of a menu, without its instances: the earlier menu of
// the ID is marked removed, a new one with the ten values (menu ID, x, y,
// gap width and height, the two step signs, orientation, flags and depth)
// gets the entries (blocks of IC_ENTRY_WORDS) as items, a nested run as the
// sub-menu of the item before it, and is linked at the tail of the cockpit's
// list. 1, or 0 when a record cannot be allocated.
int32_t IC_MakeIconMenu(Cockpit* cockpit, const int32_t values[10], int32_t count, const int32_t* entries);
// Frees the menus marked removed.
void IC_FreeRemovedIconMenus(Cockpit* cockpit);
// Frees every menu of the cockpit with its items, sub-menus and slot instances.
void IC_FreeIconMenus(Cockpit* cockpit);

// The icon id for a main type, subtype and selector bits.
constexpr int32_t IC_ICON_SELECTED = 0x2;
constexpr int32_t IC_ICON_MARKED = 0x8;
constexpr int32_t IC_ICON_MISSILE = 0x80;
constexpr int32_t IC_ICON_ALTERNATE = 0x8000;
constexpr int32_t IC_ICON_SPECIAL_SHIP = 0x10000;
constexpr int32_t IC_ICON_WEAPON = 0x20000;
constexpr int32_t IC_ICON_PLAIN_TYPE = 0x40000;
int32_t INS_GetObjectIcon(int32_t mainType, int32_t subType, int32_t selector);
// The icon of a space object: selected, marked and special as truth values.
int32_t INS_GetSpaceObjectIcon(const SectorObject* object, bool selected, bool marked, bool special);
