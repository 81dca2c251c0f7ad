// Object operations the engine calls, the collision pass and the hangar step
// share: the launch of a missile, the move of an object into a container, the
// obstacles a ship avoids, the sweep of fast bullets, the fast trace along a
// segment, the debris test of a type, and the refresh of type resources and
// collision models after the video device was made again.
#pragma once

#include <cstdint>

#include "base/fixmath.h"
#include "space/records.h"

// Missile type flag byte (field 34): bit 0 flies without a target (and seeks
// the nearest enemy), bit 1 keeps the given target and aims at its intercept.
constexpr int32_t SA_MISSILE_SEEKS = 0x1;
constexpr int32_t SA_MISSILE_AIMED = 0x2;
// Launch flags: bit 1 counts the missile as fired by the player.
constexpr int32_t SA_LAUNCH_COUNTED = 0x2;
// Flags2 of a counted missile.
constexpr uint32_t SA_FLAG2_COUNTED_MISSILE = 0x100;
// How far a seeking missile looks for an enemy in place of a friendly target.
constexpr int32_t SA_MISSILE_SEEK_RANGE = 2500000;

// Launches a missile of the subtype from the shooter, ahead or behind, toward
// the target (null for a missile type that flies without one). The shooter
// hears "MissileLaunched", the target (when there is one) "MissileAlert", and
// the cockpit is told. The missile, or null when the rules launch nothing.
SectorObject* O_LaunchMissile(SectorObject* shooter, SectorObject* target, int32_t behind, int32_t missileSubType,
                              int32_t launchFlags, int32_t value);
// Moves the object into the container's child list without joining a scene;
// a laser that a ship's laser slots have no room for, or a container that
// cannot hold the object, is refused (0). A ship capturing (course 24) is
// answered 1. 1 when moved.
int32_t O_MoveIntoContainer(SectorObject* container, SectorObject* object);
// Adds an obstacle to the ship's avoidance list (at most five a frame) when
// it lies on the ship's path; a ship clearing its carrier's hangar ignores
// the carrier while close to it.
void O_AddAvoidObstacle(SectorObject* ship, SectorObject* obstacle, int32_t value);
// Sweeps the bullet's path of this frame: every object of its container whose
// centre lies within its size plus the bullet's radius of the segment is hit,
// nearest first, until the bullet dies. The number of hits handed on.
int32_t O_SweepBullet(SectorObject* bullet);
// The hit handling of the sweep: the collision pass's handling of a touching pair.
using SA_BulletHitFn = void (*)(SectorObject* bullet, SectorObject* object);
extern SA_BulletHitFn g_SABulletHit;
// The ID of the first object of the sector (stations, ships, rocks, gates,
// specials, debris and wrecks, in list order) that the scene's ray test from
// a to b hits; `forced` tests targets the unforced test leaves out. 0 when none.
uint32_t O_FastTrace(SectorObject* sector, const QelVector* a, const QelVector* b, int32_t forced);
// 1 when an asteroid or debris type leaves debris: its debris cut is set and
// loads and its destruction effect has a debris part.
int32_t O_TypeCreatesDebris(int32_t mainType, int32_t subType);
// The wreck type code of a dock, factory or ship type: the wreck main type
// (29, 30, 31) with the same subtype; 0 when that wreck table has no such record.
int32_t O_GetTypeWreckType(int32_t mainType, int32_t subType);
// 1 when the type has a wreck type and its destruction effect has a wreck part.
int32_t O_TypeCreatesWreck(int32_t mainType, int32_t subType);
// After the video device was made again: the scene resources named by the
// types of the object and its children (for those without an instance), and
// the collision models of their instances; all objects of the root.
void O_ReloadTypeResources(SectorObject* object);
void O_RebuildCollisionTree(SectorObject* object);
void O_RebuildAllCollision();
// Both over every object of the root (the program's view reset calls it).
void SA_RefreshAfterDeviceReset();
