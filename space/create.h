// How objects come into play: the record initialised by main type and
// subtype (O_InitObject, through O_CreateObject and O_CreateSector in
// space/objects.h), the move into a container with the scenes it joins, and
// the decoupling of a missile or a ship into its pieces.
#pragma once

#include <cstdint>

#include "space/records.h"

// Initialises the record as an object of the main type and subtype: common
// fields, object data, flags, instance, size, hull and name. A subtype outside
// its main type's types table leaves only the common fields (one log line).
void O_InitObject(SectorObject* object, int32_t mainType, int32_t subType);
// Moves the object into the container (a sector, dock, factory, ship or gate);
// nothing when it is there already. Leaving a sector unlinks it; in a sector
// its instances join the sector's scenes (none while the sector has no scene).
void O_SetContainer(SectorObject* object, SectorObject* container);
// An object leaving its sector: its instances (a sun's glows and a planet's
// extra instance too) leave the sector's scenes and it is unlinked (mode 1).
// Nothing for an object in no sector.
void O_LeaveSector(SectorObject* object);
// 1 when the container can take the object: it has a child list, and is
// neither the object nor inside it.
int O_CanContain(const SectorObject* container, const SectorObject* object);
// Splits a missile into the objects its cut's paths name, each announced to
// the story by "CreateDecoupleMissile"; 1 when it did.
int O_DecoupleMissile(SectorObject* missile);
// Makes the objects a ship's cut names, hung on the ship, each announced to
// the story by "CreateDecoupleShip" (piece, ship, path, a, b, c); 1 when it did.
int O_DecoupleShip(SectorObject* ship, int32_t a, int32_t b, int32_t c);

// Sets a planet's extra instance 10.0 along the planet's direction while the
// planet is near the centre, else at the planet's direction pushed far out.
void O_PlacePlanetExtra(SectorObject* planet, Inst3D* extra);

// The detail switch a move into a container runs for objects with flags2
// 0x100000 (O_DetailSwitch; tests may put another in its place).
using SA_DetailSwitchFn = int32_t (*)(SectorObject* object, int32_t forced, int32_t detailed);
extern SA_DetailSwitchFn g_SADetailSwitch;
