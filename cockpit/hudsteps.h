// Three pieces of a cockpit's frame: its own instances (the cockpit body of
// the ship's type around the camera in the cockpit view), the grid display
// (a reference grid in the sector's plane under the view, drawn as one body
// in the cockpit scene) and the upkeep of the target overlay's records
// (their instances leave the screen while the HUD does not run or the target
// bodies are switched off).
#pragma once

#include <cstdint>

#include "cockpit/cockpits.h"

// The HUD part that holds the cockpit body.
constexpr int32_t INS_HUD_COCKPIT_BODY = 0;
// The grid display's body and the size of its cells: the body is a square
// patch of cells that tiles the plane when moved by whole cells.
constexpr const char* INS_GRID_BODY = "environments\\others\\grid";
constexpr int32_t INS_GRID_STEP = 100000;

// The cockpit body of the cockpit ref object's ship type stands in the
// cockpit scene while the cockpit shows that ship's cockpit view (view mode
// 1) with its cockpit body enabled; otherwise it is out of the scene.
void INS_CockpitInstances(Cockpit* cockpit);

// Call 21: the grid on or off; off takes it out of the scene at once.
void INS_SetGrid(Cockpit* cockpit, int32_t on);
// While the grid is on and the cockpit has a sector camera, the grid body
// stands in the cockpit scene where the sector camera sees the plane y = 0
// of the sector, under the cell the view is over; else it is out.
void INS_GridStep(Cockpit* cockpit);

// The target overlay's instances are taken out while the target bodies are
// switched off (call 51), and the overlay lists nothing while the cockpit's
// HUD step does not run (no ship, or the ship not directly in a sector), so
// no marker stays on screen from an earlier frame.
void INS_OverlayRecordsStep(Cockpit* cockpit);
