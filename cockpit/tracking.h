// Target tracking of a cockpit: the changes of its tracking mode with their
// sounds and the system's indication flags, and the stepping of the tracked
// object through the objects the target overlay shows.
#pragma once

#include <cstdint>

#include "cockpit/cockpits.h"

// Tracking modes.
constexpr int16_t INS_TRACK_NONE = 0;
constexpr int16_t INS_TRACK_SEARCH = 1;
constexpr int16_t INS_TRACK_GIVEN = 2;
constexpr int16_t INS_TRACK_LOCKED = 3;
constexpr int16_t INS_TRACK_ENEMIES = 4;
// Status flags of the cockpit system that tracking sets.
constexpr uint32_t INS_STATUS_TRACKING = 0x80;
constexpr uint32_t INS_STATUS_LOCK = 0x20000;
// The sound every change of the indication plays.
constexpr int32_t INS_TRACKING_SOUND = 1;

// Changes the cockpit's tracking to the mode (0 none, 1 tracking, 2 a given
// object, 3 locked on a given object, 4 enemies); 2 and 3 need an object.
// A lock tells the story ("NotifyTargetLock" of story object 2100) when the
// cockpit has a ship.
void INS_SetTracking(Cockpit* cockpit, int32_t mode, SectorObject* object);
// The search of mode 1 or 4 found the object: it is tracked in the same mode,
// its tracking starting now.
void INS_TrackFound(Cockpit* cockpit, SectorObject* object);

// Steps the tracked object through the overlay's shown entries: direction
// below 1 back, else on; mode 1 only enemies of the cockpit's ship, 2 only
// missiles, any other everything. Without a tracked object in the list the
// nearest accepted entry (the first of equals) is locked.
void INS_TrackPrevNext(Cockpit* cockpit, int32_t direction, int32_t mode);
// The same for the engine call: only the main screen's cockpit (monitor 0)
// with an overlay and a ship, in a view mode with bit 0 or 1.
void INS_TrackPrevNextCall(Cockpit* cockpit, int32_t direction, int32_t mode);

// The hit tests of the engine calls on the cockpit's overlay entries.
int32_t INS_ObjectAtOverlay(Cockpit* cockpit, int32_t x, int32_t y);
int32_t INS_MenuPosAtOverlay(Cockpit* cockpit, int32_t x, int32_t y, int32_t out[5]);
