// Collisions and damage: once a frame, before the behaviours, the children of
// an active sector are tested against each other; every touching pair deals
// damage both ways, bounces and tells the story. Damage lands on the shields
// first and then on the hull.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "space/records.h"

// The frame's pair pass over one sector: beams, pairs, planets, the approach
// of ships to what they may land in or warp through, and the collision warning
// of the reference object. A story callback that kills or moves either side of
// a pair ends the pass for this frame.
void S_CheckCollisions(SectorObject* sector);
// One touching pair: wares caught, bullets and missiles hit, bodies bounce and
// take collision damage.
void S_CollisionObjects(SectorObject* a, SectorObject* b);
// The damage an attacker deals: shieldDamage first on the shields, then
// hullDamage (-1: the same amount) on the hull as far as the shields let it
// through. The player's ship shakes.
void S_DamageObject(SectorObject* object, SectorObject* attacker, int32_t shieldDamage, int32_t hullDamage);

// How many pairs passed the box test and went on to the model test since the
// counts were last cleared (for measurements).
struct S_CollisionCounts {
    int64_t pairTests;
    int64_t modelTests;
};
extern S_CollisionCounts g_SCollisionCounts;

// What the pair search reads of one object of the pass, taken once before it.
struct S_PairEntry {
    int64_t x, y, z, r;
    bool ship, planet, holder, bullet, beam;
};
// The pairs of the pass's objects that go on to the pair handling, each as
// i << 32 | j with i < j, in the order of a search over every pair: no beam,
// never two bullets, and either a planet, a ship with a holder (both reach
// beyond the radii) or the three axis distances within the sum of the radii.
// Takes about n log n for objects spread through space, whatever their sizes.
std::vector<uint64_t> S_FindPairs(std::span<const S_PairEntry> entries);

// Starts a story function of a story object and waits for its integer answer;
// `unanswered` when the object has no story or the function gave none.
int32_t SA_AskStory(uint32_t storyObject, const char* name, int32_t argc, const int32_t* args, int32_t unanswered);

// The planet damage of one frame for a ship `depth` units inside the planet's
// damage zone (the zone reaches 750,000 beyond the radius).
int64_t S_PlanetDamage(int64_t depth, int32_t maxHull, int32_t step);
// What one shield takes of a damage: its energy cost in thousandths, by its
// strength (16.16; 0 or less absorbs nothing).
int64_t S_ShieldCost(int64_t damage, int32_t strength);
// The random hull percentage 96..100 of a raw random draw 0..32767.
int32_t S_HullPercent(int32_t draw);
// The shake of the player's ship for a damage against its mass: 5..100, and
// 100 for a mass of 0 or less.
int32_t S_JoltLevel(int64_t damage, int32_t mass);

// Sector flag: collisions only between ships.
constexpr uint32_t SA_SPACE_SHIPS_COLLIDE_ONLY = 0x4;
// Flags2 bits of the pass.
constexpr uint32_t SA_FLAG2_NEAR = 0x1;              // within the box test this frame
constexpr uint32_t SA_FLAG2_TOUCHING = 0x2;          // touching something this frame
constexpr uint32_t SA_FLAG2_HIT_A = 0x40;            // hit by a bullet or missile
constexpr uint32_t SA_FLAG2_HAS_HIT = 0x800;         // a bullet that hit
constexpr uint32_t SA_FLAG2_NO_COLLISION = 0x20000;  // takes no part in collisions
constexpr uint32_t SA_FLAG2_HIT_B = 0x80000;
constexpr uint32_t SA_FLAG2_APPROACH = 0x400000;  // landing or warping possible
constexpr uint32_t SA_FLAG2_MAY_LAND = 0x2000000;
constexpr uint32_t SA_FLAG2_SHIELD_HELD = 0x1000;  // a shield that held a whole hit
// Objects the pair pass and a bullet's sweep pass by: killed, held, and held
// still in a warp. A pending collision warning (0x4, set on every new object
// until a launch or the warning clears it) keeps an object in play.
constexpr uint32_t SA_FLAGS_NOT_COLLIDING = SA_FLAG_KILLED | SA_FLAG_HELD | SA_FLAG_NO_AREA_DAMAGE;
// Object flag: shields take no damage.
constexpr uint32_t SA_FLAG_NO_SHIELDS = 0x20000000;
// Bullet type flags of damage.
constexpr int32_t SA_BULLET_THROUGH_SHIELDS = 0x20;
constexpr int32_t SA_BULLET_REPAIRS = 0x80;
// Planet damage zone beyond the radius.
constexpr int32_t SA_PLANET_ZONE = 750000;
