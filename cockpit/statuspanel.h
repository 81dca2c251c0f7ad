// The HUD's status panel: the speed bars, weapons, laser energy, shield and
// hull, the status marker, mode icon, time warp and current missile of the
// cockpit's ship, cut each frame out of the menu graphics into the panel
// texture. It tells the story once when lasers or shields run low.
#pragma once

#include <cstdint>

#include "cockpit/cockpits.h"

// Textures: the panel, the menu graphics it is cut from, and the laser
// column drawn into a texture of its own.
constexpr int32_t INS_PANEL_TEXTURE = 65;
constexpr int32_t INS_PANEL_ICONS = 46;
constexpr int32_t INS_PANEL_BARS = 47;
constexpr int32_t INS_PANEL_MODES = 219;
constexpr int32_t INS_PANEL_COLUMN_SOURCE = 921;
constexpr int32_t INS_PANEL_COLUMN = 1134;

// The cockpit words that remember a low-energy notice until the level has
// risen again.
constexpr int INS_LASER_LOW_WORD = 0;   // in Cockpit::words3
constexpr int INS_SHIELD_LOW_WORD = 1;  // in Cockpit::words3

// Module-wide values the panel reads and writes: the two that pick the mode
// icon (kept by the game outside the cockpit module, 0 until it sets them)
// and the speed-change word the panel keeps for the rest of the HUD.
struct INSStatusValues {
    int32_t mode;      // 1 shows the first mode icon
    int32_t second;    // at least 1 shows the second
    int32_t changing;  // 1 while the desired speed differs from the speed by more than an eighth of the top speed
};
extern INSStatusValues g_INSStatus;

// The missile icon column of a missile type; -1 for a type the table does
// not hold (and for no missile, 65535), which shows the empty icon.
int32_t INS_MissileIconColumn(int32_t type);

// Draws the panel of the object (the cockpit ref object) into the panel
// texture; nothing while the cockpit scene is disabled or the panel or icon
// texture has no bitmap. The story it tells may free the cockpit.
void INS_DrawStatusPanel(Cockpit* cockpit, SectorObject* object);
// The frame step of the cockpit update.
void INS_StatusBarsStep(Cockpit* cockpit);
