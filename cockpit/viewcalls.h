// The cockpit's engine calls 42 to 129: views (angles, positions, offsets,
// durations, focus, connect modes), symbols, the module-wide values (active
// control cockpit, units, radar, bay door, cross-hair, overlay brackets),
// icon menus, projection, icons and tooltips. The galaxy map, the dust, the
// symbols' drawing, the menu maker, the mouse steps, target stepping, the
// overlay's hit tests and the tooltip display are reached through seams.
#pragma once

#include <cstdint>

#include "cockpit/cockpits.h"
#include "space/syscall.h"

struct Scene3D;

// Answers one of the calls 42 to 129 at once; 1.
int32_t INS_LaterSysCall(const SA_Call& call);

// The set-up of a view connect mode (0, 4, 5 and 6 set up the view; other
// modes only store the number).
void INS_SetViewConnectMode(Cockpit* cockpit, int32_t mode);

struct INSViewLink {
    // Galaxy map: the sector at a map point (column, row; 0 when none or no
    // map is built), the map built from four 16-bit values, distance and
    // zoom, and cleared.
    int32_t (*findSector)(Scene3D* scene, int32_t x, int32_t y, int32_t out[2]);
    void (*buildGalaxyMap)(Scene3D* scene, const int32_t values[6]);
    void (*clearGalaxyMap)(Scene3D* scene);
    void (*initDust)(Scene3D* scene);
    // Symbols on a texture whose bitmap exists.
    void (*drawSymbol)(int32_t texture, const int32_t values[6]);
    void (*drawSymbol3D)(SectorObject* object, int32_t texture, int32_t x, int32_t y, int32_t value, int32_t colour);
    void (*targetBodies)(Cockpit* cockpit, int32_t on);
    // The menu maker: the story object told of the menu's events (-1: none),
    // ten values (the menu ID first) and the entries, blocks of nine words;
    // its answer is the call's.
    int32_t (*makeMenu)(Cockpit* cockpit, int32_t storyObject, const int32_t values[10], int32_t count,
                        const int32_t* entries);
    // Mouse move (0), down (1) and up (2) over the icon menus.
    int32_t (*mouse)(Cockpit* cockpit, int32_t step, int32_t x, int32_t y);
    void (*trackPrevNext)(Cockpit* cockpit, int32_t direction, int32_t mode);
    int32_t (*objectAtOverlay)(Cockpit* cockpit, int32_t x, int32_t y);
    int32_t (*menuPosAtOverlay)(Cockpit* cockpit, int32_t x, int32_t y, int32_t out[5]);
    void (*showTooltip)(Cockpit* cockpit, int32_t value, const char* text, int32_t a, int32_t b);
    void (*hideTooltip)(Cockpit* cockpit, uint32_t instance);  // 0: whatever it belongs to
};
extern INSViewLink g_INSViews;
