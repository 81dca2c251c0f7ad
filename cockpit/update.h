// The per-frame update of every cockpit: its view for the view connect mode,
// the sway and shake, its cameras, zoom and field of view, and the HUD,
// texts and menus, which are reached through seams the HUD and menus fill.
#pragma once

#include <cstdint>

#include "cockpit/cockpits.h"

struct Camera3D;

// The alert check, then every cockpit of the table in key order.
void INS_UpdateAllCockpits();
void INS_UpdateCockpit(Cockpit* cockpit);

// The pieces of the frame that the HUD and the menus bring; until they land
// nothing is drawn and the HUD step only asks the story for its HUD info.
struct INSHudLink {
    void (*checkAlert)();
    void (*instances)(Cockpit* cockpit);  // the cockpit's own instances
    void (*scannerList)(Cockpit* cockpit);
    void (*overlay)(Cockpit* cockpit);                   // the target overlay
    void (*markers)(Cockpit* cockpit, int32_t hudInfo);  // target, turret and docking markers
    void (*grid)(Cockpit* cockpit);
    void (*overlayMenus)(Cockpit* cockpit);
    void (*checkText)(Cockpit* cockpit);
    void (*messageDisplay)(Cockpit* cockpit);
    void (*navMap)(Cockpit* cockpit);
    void (*cameraMessage)(Cockpit* cockpit);
    void (*iconMenus)(Cockpit* cockpit);
    void (*tooltip)(Cockpit* cockpit);
    void (*radar)(Cockpit* cockpit);
    void (*statusBars)(Cockpit* cockpit);
    void (*laserRange)(Cockpit* cockpit);
    void (*dust)(SectorObject* sector, Camera3D* dust, Camera3D* sectorCamera);
    // The set-up of a view connect mode, run again when a timed shot is over.
    void (*viewConnect)(Cockpit* cockpit, int32_t mode);
};
extern INSHudLink g_INSHud;

// The set-up of a view connect mode (INS_SetViewConnectMode).
void INS_StartViewConnect(Cockpit* cockpit, int32_t mode);

// The sound of the zoom, played through the space simulation's sound link.
constexpr int32_t INS_ZOOM_SOUND = 979;

// The smallest field of view and the one at rest.
constexpr int32_t INS_MIN_FIELD_OF_VIEW = 262;
constexpr int32_t INS_FIELD_OF_VIEW = 16384;
