// The HUD's markers over the view of the main screen's cockpit, drawn into
// the marker texture the cockpit's HUD glass shows: brackets round the
// tracked object, a diamond on what each turret aims at and a cross on the
// port a docking ship heads for. Also the drawing behind the story's symbol
// calls: an object symbol of a type, and an object's 3D symbol.
#pragma once

#include <cstdint>

#include "cockpit/cockpits.h"

// The texture spans the whole view of the sector camera.
constexpr int32_t INS_MARKER_TEXTURE = 67;
// Bits of the story's HUD info that hide a kind of marker.
constexpr int32_t INS_HIDE_TARGET_MARKER = 1;
constexpr int32_t INS_HIDE_TURRET_MARKERS = 2;
constexpr int32_t INS_HIDE_DOCK_MARKER = 4;
constexpr uint32_t INS_MARKER_HOSTILE = 0xFFD20101, INS_MARKER_PLAIN = 0xFF34628F;
constexpr uint32_t INS_MARKER_TURRET = 0xFFD2C301, INS_MARKER_DOCK = 0xFF01AA55;
// The smallest half size of the target's brackets, in pixels.
constexpr int32_t INS_MARKER_MIN_BRACKET = 4;

// The frame's markers of a cockpit: the texture is cleared, and nothing more
// is drawn for a monitor, in a view mode without bit 0 or 1, in a sector
// that hides the overlay or without a sector camera. A marker is drawn only
// where its point lies in front of the camera and within its view.
void INS_DrawHudMarkers(Cockpit* cockpit, int32_t hudInfo);

// Engine call 63: the symbol of main type, subtype at (values[2], values[3])
// with the flags values[4], blinking when the selection values[5] is positive.
void INS_DrawObjectSymbolCall(int32_t texture, const int32_t values[6]);
// Engine call 64: the object's 3D symbol centred at (x, y): a cube of half
// size `size` pixels turned as the object lies in the view of the active
// control cockpit's sector camera (in world axes without one), drawn in
// lines of the colour, and the object's symbol over it, hostile as the radar
// counts it against the steered ship. A size of 0 or less draws the symbol only.
void INS_DrawObjectSymbol3D(SectorObject* object, int32_t texture, int32_t x, int32_t y, int32_t size, int32_t colour);
