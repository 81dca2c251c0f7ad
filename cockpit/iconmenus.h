// Icon menus of a cockpit: trees of items with six icon slots each, their
// flags and the operations on the tree (find, set and clear flags, open and
// close sub-menus, the hit test, icons), the making of a menu from the
// entries a story gives with the layout of its items and slots, the mouse
// steps, the frame step that shows the slots as instances, the one free
// path of items and menus, the story's notifications, and the icon of an
// object by its type.
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
constexpr uint32_t IC_MENU_HIDDEN = 0x1;
constexpr uint32_t IC_MENU_NO_AUTO_OPEN = 0x2;
constexpr uint32_t IC_MENU_KEEP_OPEN = 0x4;
constexpr uint32_t IC_MENU_CLOSE_ON_LEAVE = 0x8;
constexpr uint32_t IC_MENU_ONE_SHOT = 0x8000;
constexpr uint32_t IC_MENU_NEW = 0x10000;
constexpr uint32_t IC_MENU_REMOVED = 0x20000;
// Callback events.
constexpr int32_t IC_EVENT_SELECT = 0;
constexpr int32_t IC_EVENT_HIGHLIGHT = 1;
constexpr int32_t IC_EVENT_NO_HIGHLIGHT = 2;
// How long a one-shot menu waits after the pointer left it, and how long an
// item stays highlighted before its sub-menu opens by itself (ms).
constexpr int32_t IC_MENU_HOLD = 500;
// The text page of the items' tooltips.
constexpr int32_t IC_MENU_TEXT_PAGE = 1906;
// The flags every shown slot instance gets.
constexpr uint32_t IC_SLOT_INST_FLAGS = 0x5600;

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

// Told of select (0), highlight (1) and no highlight (2) with the cockpit ID,
// the event, the menu ID, the item ID and the point relative to the item
// (or the menu); a non-zero answer takes the event.
using IC_MenuCallback = int32_t (*)(int32_t cockpitId, int32_t event, int32_t menuId, int32_t item, int32_t x,
                                    int32_t y);

struct IconMenu {
    IconMenu* next;
    int32_t depth;
    int32_t makerValue;
    IC_MenuCallback callback;  // null: none
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
    // The story object told of the menu's events (the maker's), -1 when none,
    // and the menu's own number: what a tooltip it shows names as its owner
    // and what a step that ran story code finds it by again.
    int32_t storyObject;
    uint32_t serial;
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

// Makes a menu: the earlier menu of the ID is marked removed, a new one with
// the ten values (menu ID, x, y, gap width and height, the two step signs,
// orientation, flags and depth) gets the entries (blocks of IC_ENTRY_WORDS)
// as items, a nested run as the sub-menu of the item before it, and is
// linked at the tail of the cockpit's list; its events go to the story
// object (-1: none) through INS_NotifyIconMenuByCockpit. 1, or 0 when a
// record cannot be allocated.
int32_t INS_AddIconMenu(Cockpit* cockpit, int32_t storyObject, const int32_t values[10], int32_t count,
                        const int32_t* entries);
// Adds one entry as the last item of the menu, placed after the item before
// it; null when the item cannot be allocated.
IconMenuItem* INS_MenuAddItem(IconMenu* menu, const int32_t* entry);
// Adds the entry to the item's sub-menu, made on first use; null on failure.
IconMenuItem* INS_MenuAddSubItem(IconMenuItem* item, const int32_t* entry);
// The one free path of an item: its sub-menu goes first (the tooltip it owns
// hidden), then the item leaves its menu with its slot instances.
void INS_DeleteCockpitObject(IconMenuItem* item);
// Deletes every item of the menu in order.
void INS_MenuDeleteItems(IconMenu* menu);
// Frees the menus marked removed, each with the tooltip it owns.
void IC_FreeRemovedIconMenus(Cockpit* cockpit);
// Frees every menu of the cockpit with its items, sub-menus, slot instances
// and the tooltips they own.
void INS_FreeIconMenus(Cockpit* cockpit);

// The mouse over the cockpit's menus: move answers the OR of the menus'
// answers, down the first non-zero one, up 0. Each keeps the point. A call
// made by story code that a step started answers 0 and does nothing.
int32_t INS_IconMenuMouseMove(Cockpit* cockpit, int32_t x, int32_t y);
int32_t INS_IconMenuMouseDown(Cockpit* cockpit, int32_t x, int32_t y);
int32_t INS_IconMenuMouseUp(Cockpit* cockpit, int32_t x, int32_t y);
// The seam's form of the three: step 0 move, 1 down, 2 up.
int32_t INS_IconMenuMouse(Cockpit* cockpit, int32_t step, int32_t x, int32_t y);
// The frame step: removed menus are freed, the others show their slots as
// instances of the icon menu scene.
void INS_UpdateIconMenus(Cockpit* cockpit);

// The story's notifications of a menu's events: the first menu of the ID
// that is not removed and whose story object has the function hears
// "NotifyIconMenuSelect" (0) or "NotifyIconMenuHighlight" (1) with menu ID,
// a, b, c, or "NotifyIconMenuNoHighlight" (2) with the menu ID; its answer,
// 0 when none.
int32_t INS_NotifyIconMenu(Cockpit* cockpit, int32_t event, int32_t menuId, int32_t a, int32_t b, int32_t c);
int32_t INS_NotifyIconMenuByCockpit(int32_t cockpitId, int32_t event, int32_t menuId, int32_t a, int32_t b, int32_t c);

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
