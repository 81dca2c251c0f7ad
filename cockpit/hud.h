// The head-up display drawn into the HUD textures the cockpit bodies show:
// the radar of what the scanner list holds, the symbols of space objects from
// the icon table, and the target panel with the tracked object's speed and
// distance, which also tells the story when the target comes into and leaves
// laser range.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cockpit/cockpits.h"
#include "cockpit/iconmenus.h"

constexpr int32_t INS_RADAR_TEXTURE = 66;
constexpr int32_t INS_TARGET_TEXTURE = 15;
constexpr int32_t INS_SMALLEST_RADAR_RANGE = 1000;
constexpr int32_t INS_RADAR_FAR = 22200000;
// How many one-second steps a newly tracked object is highlighted on the radar.
constexpr int32_t INS_RADAR_HIGHLIGHTS = 3;

// Symbol flags.
constexpr uint32_t INS_SYMBOL_HOSTILE = 2;
constexpr uint32_t INS_SYMBOL_BLINK = 0x800;
constexpr uint32_t INS_SYMBOL_STEM = 0x1000;
constexpr uint32_t INS_SYMBOL_PLAIN = 0x40000;

// One symbol with its icon centred at (x, y); with INS_SYMBOL_STEM a stem
// runs to (x, y2) and ends in a mark there.
void ID_DrawGObjectSymbol2(int32_t texture, int32_t mainType, int32_t subType, int32_t x, int32_t y2, int32_t y,
                           uint32_t flags);
// The flags of an object's symbol; hostile is the caller's 0, 1 or 2.
uint32_t ID_ObjectSymbolFlags(const SectorObject* object, int32_t hostile, bool highlighted, bool withStem);
void ID_DrawObjectSymbolFlags(SectorObject* object, int32_t texture, int32_t x, int32_t y2, int32_t y, int32_t hostile,
                              bool highlighted, bool withStem);

// Whether the radar counts the object hostile to the ship.
bool INS_RadarHostile(SectorObject* ship, SectorObject* object);

// The frame's radar and target panel of a cockpit's ship.
void INS_BuildRadar(Cockpit* cockpit, SectorObject* ship);
void INS_DrawTargetPanel(Cockpit* cockpit, SectorObject* ship);
// The automatic radar range a frame moves the current one toward.
int32_t INS_RadarTargetRange(int32_t range, const int32_t* kept, int32_t keptCount, int32_t hostileExtent,
                             int32_t hostileCount);
// The distance text of the target panel for the unit display.
void INS_FormatDistance(char* out, size_t size, int32_t distance, int32_t unitDisplay);
// The frame steps of the cockpit update: the radar and target panel of the
// cockpit's ship.
void INS_RadarStep(Cockpit* cockpit);
void INS_TargetPanelStep(Cockpit* cockpit);
