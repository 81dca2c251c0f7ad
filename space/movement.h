// Movement: once a frame for the children of each active sector, after every
// sector's behaviours. Objects turn by their turn speeds, or toward their
// remaining turn angles when they fly on autopilot (flag 0x80000); they move
// by their speed along their forward axis plus their drift, which decays; the
// sector's background spin advances. Then the orientation pass places every
// object that hangs on another where that one carries it.
#pragma once

#include <cstdint>

#include "scene/drawing.h"
#include "space/records.h"

void B3D_BerechneSXZ(SectorObject* sector);
void SA_UpdateObjectOrient(SectorObject* sector);

// The step of an object in ms: now minus its last move, folded; a step above
// 1,000 ms or a negative one counts as 1,000 ms.
int32_t O_MoveStep(int32_t lastMoveTime);
// The length of one leg of the player's flown distance.
constexpr int32_t SA_DISTANCE_LEG = 500000;

// A ship's visual engine state, kept in its instance as the scene's glow
// state (scene/drawing.h): the glow (0 to 16,384 by its speed against its
// maximum, at least 655; 262,799 while it boosts backward; it follows by 262
// per ms) and the lit sides: the jets on the side opposite a push light, the
// back ones flying ahead, the front ones flying backward, the side ones while
// it turns by 3,276 or more a second.
constexpr int SA_INST_ENGINE_GLOW = B3D_INST_GLOW_LEVEL;  // in Inst3D::words5
constexpr int SA_INST_GLOW_SIDES = B3D_INST_GLOW_SIDES;
