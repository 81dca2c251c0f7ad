// Movement: once a frame for the children of each active sector, after every
// sector's behaviours. Objects turn by their turn speeds, or toward their
// remaining turn angles when they fly on autopilot (flag 0x80000); they move
// by their speed along their forward axis plus their drift, which decays; the
// sector's background spin advances. Then the orientation pass places every
// object that hangs on another where that one carries it.
#pragma once

#include <cstdint>

#include "space/records.h"

void B3D_BerechneSXZ(SectorObject* sector);
void SA_UpdateObjectOrient(SectorObject* sector);

// The step of an object in ms: now minus its last move, folded; a step above
// 1,000 ms or a negative one counts as 1,000 ms.
int32_t O_MoveStep(int32_t lastMoveTime);
// The length of one leg of the player's flown distance.
constexpr int32_t SA_DISTANCE_LEG = 500000;
