// The target overlay of the main screen's cockpit: for each object of its
// sector an entry (object id, distance, shown byte) that the target stepping
// and the overlay hit tests read, with the object's icon, bracket and shield
// bar placed on screen as instances of the overlay scene.
#pragma once

#include <cstdint>

#include "cockpit/cockpits.h"

struct Camera3D;

// Icons of the overlay beyond the objects' own: the bracket by the object's
// relation to the ship (neutral, foe, friend; the first is the icon the hit
// test measures brackets by), and the shield bar's eleven fill levels, from
// empty to full.
constexpr int32_t INS_OVERLAY_BRACKET_ICONS[3] = {280, 281, 282};
constexpr int32_t INS_OVERLAY_SHIELD_ICON = 290;
constexpr int32_t INS_OVERLAY_SHIELD_LEVELS = 10;
// A sector space flag that hides the overlay.
constexpr uint32_t INS_SPACE_NO_OVERLAY = 0x8000;

// The frame's overlay step of a cockpit (its HUD step runs it): only the
// cockpit with monitor number 0 has an overlay. In a view mode without bit 0
// or 1, or in a sector with INS_SPACE_NO_OVERLAY, it is hidden and has no
// entries; otherwise its camera follows the sector camera and the entries
// are filled from the sector's objects in their list order. Allocates only
// when the sector holds more objects than the overlay has had room for.
void INS_UpdateTargetOverlay(Cockpit* cockpit);

// The camera's lens: at depth 1 the view reaches lensX across and lensY up
// from its centre (the half field of view by the camera's aspect, or the
// screen's). False for a camera that sees nothing.
bool INS_CameraLens(const Camera3D* camera, double* lensX, double* lensY);
