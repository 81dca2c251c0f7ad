// The small displays of a cockpit the story switches: the tooltip, the
// message display and the navigation map frame (both open, loop and close
// through cuts on three frame instances), the camera message box and the
// target bodies. They live in one record per cockpit, made on first use and
// freed with the cockpit (INS_FreePanels).
#pragma once

#include <cstdint>
#include <string>

#include "cockpit/cockpits.h"
#include "cockpit/scenes.h"

struct TooltipRecord {
    uint32_t inst;  // instance id, made on first show
    int32_t shown;
    bool hasText;
    std::string text;
    int32_t x, y;  // screen point of its centre
    int32_t width;
    uint32_t owner;    // the menu or instance that asked for it; 0 none
    int32_t showTime;  // game time from which it is drawn
    int32_t lineHeight;
};

// Panel states.
constexpr int32_t INS_PANEL_CLOSED = 0, INS_PANEL_OPENING = 1, INS_PANEL_OPEN = 2, INS_PANEL_CLOSING = 3,
                  INS_PANEL_REOPENING = 4;

// The message display and the navigation map: three frame instances, the
// time the state began, the message's duration (0: until cleared; the map
// keeps it 0) and the state.
struct PanelRecord {
    InstSlot slots[3];
    int32_t stateTime;
    int32_t duration;
    int32_t state;
};

struct CameraMessageBox {
    InstSlot slot;
    int32_t shown;
};

constexpr int32_t INS_TARGET_BODIES = 40;
struct TargetBodies {
    InstSlot slots[INS_TARGET_BODIES];
    int32_t enable;
};

struct CockpitPanels {
    TooltipRecord tooltip;
    PanelRecord message;
    PanelRecord navMap;
    CameraMessageBox box;
    TargetBodies targets;
};

constexpr int32_t INS_MESSAGE_DURATION = 20000;  // ms
constexpr int32_t INS_PANEL_TEXT_TEXTURE = 61;
constexpr int32_t INS_TOOLTIP_TEXTURE = 1230;
constexpr const char* INS_TOOLTIP_BODY = "effects\\menugfx\\gui\\tooltip";
constexpr int32_t INS_TOOLTIP_DELAY = 1000;  // ms before a first tooltip shows
constexpr uint32_t INS_TOOLTIP_HIDDEN = 0x100000;
// Frame bodies and cuts of both panels.
constexpr int32_t INS_PANEL_BODIES[3] = {258, 60, 482};
constexpr int32_t INS_PANEL_OPEN_CUT = 800, INS_PANEL_LOOP_CUT = 801, INS_PANEL_CLOSE_CUT = 802;

// The cockpit's record, made on first use; null when out of memory.
CockpitPanels* INS_Panels(Cockpit* cockpit);
// Frees the record with the instances it holds (the one way it goes).
void INS_FreePanels(Cockpit* cockpit);

// Tooltips. A null text hides the owner's tooltip.
void INS_ShowTooltipAt(Cockpit* cockpit, uint32_t owner, const char* text, int32_t x, int32_t y);
// Hides the tooltip when the owner is 0 or is its owner.
void INS_HideTooltipOf(uint32_t owner, Cockpit* cockpit);
// Calls 126 and 127 (the owner is the call's value).
void INS_ShowTooltipCall(Cockpit* cockpit, int32_t owner, const char* text, int32_t x, int32_t y);
void INS_HideTooltipCall(Cockpit* cockpit, uint32_t owner);
// Draws the tooltip's instance and texture.
void INS_DrawTooltip(Cockpit* cockpit);
// The frame step: the tooltip is visible once its show time has come.
void INS_TooltipStep(Cockpit* cockpit);

// The message display (calls 31 and 32): a null text closes it; the
// duration, 0 for none, is set after.
void INS_SetMessageDisplay(Cockpit* cockpit, const char* text);
void INS_MessageCall(Cockpit* cockpit, const char* text, int32_t duration);
void INS_SetNavMap(Cockpit* cockpit, int32_t on);
// One frame of a panel's states.
void INS_UpdateMessageDisplay(PanelRecord* panel);
void INS_MessageDisplayStep(Cockpit* cockpit);
void INS_NavMapStep(Cockpit* cockpit);
// Starts the cut as the job on the slot's instance (made on demand);
// nothing when the cut is missing.
void INS_PanelStartCut(InstSlot* slot, int32_t cut, int32_t job);

// Call 17: the text into the camera message box, or, without one, the box
// cleared and taken out of its scene.
void INS_SetCameraMessageBox(Cockpit* cockpit, const char* text);
// Call 51.
void INS_EnableTargetBodies(Cockpit* cockpit, int32_t on);
