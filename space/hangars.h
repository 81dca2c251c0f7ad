// Ships enter play from hangars: a ship, dock or factory puts a ship out at
// once; a gate queues it in one of its seven launch slots and the per-frame
// hangar step warps it in. The same step animates the carriers' parts, frees
// expired gate slots, runs the distance-driven detail switch of the sector's
// objects and decides which video the sector's screens show.
#pragma once

#include <cstdint>

#include "space/records.h"

// Results of O_StartInHangar.
constexpr int32_t SA_HANGAR_REFUSED = -1;
constexpr int32_t SA_HANGAR_GATE_FULL = 0;
constexpr int32_t SA_HANGAR_QUEUED = 1;  // the caller's task waits for the launch
constexpr int32_t SA_HANGAR_OUT = 2;     // put out at once

// The texture slot of the movie module the sector video always plays on.
constexpr int32_t SA_SECTOR_VIDEO_TEXTURE = 90;
// Flags2 bits of screens: showing the sector's video; a candidate at any distance.
constexpr uint32_t SA_FLAG2_SHOWS_VIDEO = 0x400000;
constexpr uint32_t SA_FLAG2_SCREEN_ANY_DISTANCE = 0x200;

// How long a gate slot stays taken, and how long after a launch the carrier
// launches again at the least and at the most.
constexpr int32_t SA_GATE_SLOT_MS = 20000;
constexpr int32_t SA_LAUNCH_DELAY_MS = 10000;
constexpr int32_t SA_LAUNCH_DELAY_SLOW_MS = 20000;

// The per-frame hangar step of a sector: carriers' parts and launch times, queued ships
// launched from gates, expired gate slots freed, the unforced detail switch of
// every object that takes part in it, and the sector's screens.
void O_UpdateHangars(SectorObject* sector);
// The screens of the sector near the camera and the video the sector plays:
// the record of the Videos table whose ids find the most screens, the
// screens showing its parts, the movie started on texture slot 90. Screens
// keep their frames while the sector's videos are paused.
void O_UpdateSectorScreens(SectorSpace* sector);
// Hands a ship to a carrier (a ship, dock, factory or gate). A port of 0 or
// more puts the ship at that dock port; below 0 at the carrier's spawn point
// or near it. Refused (-1, nothing changed) for a carrier that cannot hold the
// ship or a port it does not have; a gate with no free slot answers 0.
int32_t O_StartInHangar(SectorObject* ship, SectorObject* carrier, int32_t port);
// Launches one ship that the carrier holds (nothing for any other): its place, facing and speed, the
// warp-in from a gate, the carrier's next launch time, and the answer 1 to the
// task that waits on it. A ship that is not small whose gate slot expired takes
// a free slot again; with none it stays queued for the next frame.
void O_StartShipFromHangar(SectorObject* ship, SectorObject* carrier);
// Puts the object at a random free spot around the reference (around where it
// is without one): up to 20 tries, the range growing by half after each. 1
// when a free spot was found, else 0 with the object at the last try.
int O_PlaceNearObject(SectorObject* object, SectorObject* reference);
// The safe placement: with a reference the object is put at a free spot near
// it; without one it stays where it is when the space there is free, else it
// is put at a free spot near there. The point variant first moves it to (x, y, z).
void O_SetSafePos(SectorObject* object, SectorObject* reference);
void O_SetSafePosAt(SectorObject* object, int32_t x, int32_t y, int32_t z);
