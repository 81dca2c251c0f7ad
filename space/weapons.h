// Weapons: the lasers of a gun group fire bullets; beams are stretched from
// their gun each frame; turrets choose and fire at their targets; lasers and
// shields recharge; tractor beams let go.
#pragma once

#include <cstdint>

#include "base/fixmath.h"
#include "space/records.h"

// O_FireLasers answers.
constexpr int32_t SA_FIRE_NONE = 11;
constexpr int32_t SA_FIRE_DONE = 12;
// Its mode bits: the turret's mask and range decide; recharge by the time ramp
// (the player's firing) and aim only within the aim cone; beams placed at once.
constexpr int32_t SA_FIRE_TURRET = 1;
constexpr int32_t SA_FIRE_RAMP = 2;
constexpr int32_t SA_FIRE_PLACE_BEAMS = 8;
// Lasers are made with it; a laser without it is locked and does not fire.
constexpr uint32_t SA_FLAG_LASER_FREE = 0x1000000;
// Flags2 of bullets: shot by a gun, and the shooter's 0x400 passed on.
constexpr uint32_t SA_FLAG2_GUN_SHOT = 0x100;
constexpr uint32_t SA_FLAG2_SHOOTER_MARK = 0x400;
// A target within this alignment (of 65,536) of the gun is aimed at.
constexpr int32_t SA_AIM_CONE = 63242;
// The random spread per axis of the unit aim direction.
constexpr int32_t SA_AIM_SPREAD = 524;

// Fires the lasers of a gun group: SA_FIRE_DONE when a bullet left, else
// SA_FIRE_NONE. Bit n of the mask allows the group's n-th laser.
int32_t O_FireLasers(SectorObject* shooter, SectorObject* target, int32_t group, int32_t mode, uint32_t mask);
// Stretches a beam bullet from its shooter's gun toward its target (or its
// range) and fades it in and out over its lifetime.
void O_PositionBeamBullet(SectorObject* bullet);
// Lets go of an object a tractor beam holds, and of one chained behind it.
void O_ReleaseTractor(SectorObject* object);
// Whether the turret (gun group) can reach the target; alignment and distance
// to it come out when it can.
int O_IsTargetInFiringRangeOfTurret(SectorObject* ship, SectorObject* target, int32_t turret, int32_t* alignment,
                                    int32_t* distance);
// Whether the turret may fire at the target now: the story's mask allows one
// of its unlocked lasers and the target is in range.
int O_GetTurretFiringMask(SectorObject* ship, int32_t turret, SectorObject* target, QelVector* aim);
// The turret step of a ship with two or more gun groups: each turret with a
// target fires when it may.
void O_UpdateTurrets(SectorObject* ship, int32_t step);
// The laser energy pool and the shields of a ship, dock or factory refill
// with the time since their last recharge.
void O_RechargeObject(SectorObject* object);

// The laser energy of a ship's pool (slot below 0) or of the laser mounted
// on a slot, in whole units (kept in thousandths); with `maximum` its top:
// the ship type's laser power, or the laser type's energy of one shot. 0
// where there is no such pool or laser.
int32_t O_GetLaserEnergy(SectorObject* object, int32_t slot, int maximum);
// Sets it, within 0 and the top (no upper bound where the top is 0 or less).
void O_SetLaserEnergy(SectorObject* ship, int32_t energy, int32_t slot);

// The unit direction with a spread added per axis, renormalised to 65,536.
QelVector O_SpreadDirection(const QelVector& unit, const int32_t spread[3]);
