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

// A ship's visual engine state, kept in two words of its instance: the glow
// (0 to 16,384 by its speed against its maximum, at least 655; 262,799 while
// it boosts backward; it follows by 262 per ms) and the sides whose glow and
// engine parts light, one bit per side of each axis. A part belongs to the
// side of the axis its centre lies farthest out on; the jets on the side
// opposite a push light: the back ones flying ahead, the front ones flying
// backward, the side ones while it turns by 3,276 or more a second.
constexpr int SA_INST_ENGINE_GLOW = 0;  // in Inst3D::words5
constexpr int SA_INST_GLOW_SIDES = 1;
struct BodyPart;
struct Inst3D;
// The bit of a side: axis 0..2 (x, y, z), sign +1 or -1.
uint32_t SA_GlowSideBit(int axis, int sign);
// The side bit of a glow or engine part; 0 for any other part.
uint32_t SA_GlowPartSide(const BodyPart* part);
// 1 when the part is a glow or engine part that lights on the instance now.
int SA_GlowPartLit(const BodyPart* part, const Inst3D* inst);
