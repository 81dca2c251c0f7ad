// Flight and targeting support: the small operations the behaviours, the
// collisions and the engine calls share. Checks of type arguments, take
// lookup, the game clock as orders count it, dock-port choice and the points
// of a port, group relations, free-space and approach tests, laser reach, the
// nearest enemy, and the steering that turns a ship toward a point.
#pragma once

#include <cstdint>

#include "space/records.h"

struct Inst3D;
struct SA_Take;

// ---------------------------------------------------------------- arguments

// 1 for main type 0..31 and a subtype below its count; else 0 after
// "ERROR: Invalid maintype parameter %d %s\n" or "ERROR: Invalid subtype parameter %d/%d %s\n".
int SA_CheckTypeCode(int32_t mainType, int32_t subType);
// 1 for main type 0..31; else 0 after the main-type message.
int SA_CheckMainType(int32_t mainType);
// A new take under the next free key of the root's take table; null when none can be had.
SA_Take* SA_AllocTakeRecord(SectorObject* sector);
// The take of an ID; null after "SA_FindTakeByID(%d) %s failed!\n".
SA_Take* SA_FindTakeByID(int32_t id);

// ---------------------------------------------------------------- game time

// The game clock (ms).
int32_t SA_Now();
// Now plus a delay, wrapped into the clock's span.
int32_t SA_TimeAfter(int32_t delay);
// 1 once the mark is reached: now minus the mark, folded at half the span, is not negative.
int SA_TimeReached(int32_t mark);
// A random delay 0 .. n-1; n of 0 or less logs "Qel_LongRandom: Wrong argument %d\n" and gives 0.
int32_t SA_RandomDelay(int32_t n);

// ---------------------------------------------------------------- geometry

// The radius of an object: its size fixed at creation.
int32_t O_GetRadius(const SectorObject* object);
// The world position and matrix of an instance, through its parents (as the
// scene's draw would set them), without waiting for a draw.
void O_InstWorldPose(const Inst3D* inst, QelVector* pos, QelMatrix* matrix);
// The unit direction from a to b (16.16); the null vector when they coincide.
QelVector O_UnitDirection(const QelVector* from, const QelVector* to);
// The alignment of the object's forward axis with the direction to the goal:
// 65536 straight ahead, -65536 straight behind; 65536 at the goal itself.
int32_t O_GetAlignment(const SectorObject* object, const QelVector* goal);
// a + the matrix times the local vector scaled by `scale` (16.16, 65536 = 1).
QelVector O_LocalToWorld(const QelVector* origin, const QelMatrix* matrix, const QelVector* local, int32_t scale);

// ---------------------------------------------------------------- dock ports

// The port of a table: a fixed port (index 0 or more) is entry index modulo the
// count; otherwise by ship class (a negative class counts as 7): classes 1, 9,
// 10 and 12 the second entry, 5, 6 and 7 the first, else the second; failing
// that the first entry with a port instance. Null when the table has none.
DockPortSlot* O_GetDockPortEntry(DockPortTable* table, int32_t port, int32_t shipClass);
// O_GetDockPortEntry with the class of the ship subtype.
DockPortSlot* O_GetShipDockPortInst(int32_t shipSubType, int32_t port, DockPortTable* table);
// The port of a dock, factory or carrier ship for a ship class.
DockPortSlot* O_GetContainerPort(int32_t port, SectorObject* container, int32_t shipClass);
// The world points of a port: the port itself, its approach point (the
// approach instance, else 50,000 out along the port's axis) and the unit axis
// from the port out toward the approach point. 0 when the port has no instance.
int O_GetPortPoints(const DockPortSlot* slot, QelVector* port, QelVector* approach, QelVector* axis);

// Where a docking ship (course 5) heads: OrderPos is the port and PortOffset
// the approach point 0.7 of the way out from it; with a port of the target they
// are taken again from the port's instances (the target may move). The ship
// enters once it is within `reach` (twice the approach distance + 25,000) of
// the port. 0 without a ship or target.
struct SA_DockGoal {
    QelVector port;
    QelVector approach;
    QelMatrix matrix;  // the port's (the target's without a port)
    int64_t reach;
    int hasPort;
};
int O_GetDockGoal(SectorObject* ship, SA_DockGoal* goal);
// The point 0.7 of the way from the port to its approach point.
QelVector O_PortApproachPoint(const QelVector* port, const QelVector* approach);

// ---------------------------------------------------------------- relations

// Sets the relation of the object's owner to a group: 1 or more, or the
// object's own group, a friend; 0 neither; below 0 an enemy. Ships, docks and
// factories only: any other main type logs
// "SA_SetGroupRelation(%d, %d) WRONG MAINTYPE: %d called! %s\n".
void SA_SetGroupRelation(SectorObject* object, int32_t group, int32_t relation);
void O_SetOwnGroupRelation(SectorObject* object, int32_t otherGroup, int32_t relation);

// ---------------------------------------------------------------- space tests

// 1 when every other object of the sector lies at least `distance` from the
// point offset x, y, z along the object's axes; 0 outside a sector.
int O_IsSafePosition(SectorObject* object, int32_t x, int32_t y, int32_t z, int32_t distance);
// 0 when another object of the sector lies within 1.1 of the sum of both radii, else 1.
int O_IsSpaceFree(SectorObject* object);
// 0 no approach, 1 near, 2 may land, 3 may warp; the partner must hold
// objects (0x100000). Gates: near within 1,332,000 (or their radius when
// larger), warp within their radius. Ports: landing within the ship's radius
// + 25,000 of a port, near within four partner radii.
int32_t O_GetApproachState(SectorObject* ship, SectorObject* partner, int32_t distance);
// Ships docking at the container (course 5) that are still farther than
// their approach distance give the order up (course 0, answer 3).
void O_CancelDockingTo(SectorObject* container);
// The shortest and longest reach of the ship's lasers; 0 and 0 without any.
void O_GetLaserRange(SectorObject* ship, int32_t* minimum, int32_t* maximum);
// The nearest enemy in the object's sector within the range (not the object,
// not the excluded one, not killed, no flag bit 30); null outside a sector.
SectorObject* O_FindNearestEnemy(SectorObject* object, SectorObject* excluded, int32_t range);
SectorObject* O_FindNearestEnemyOf(SectorObject* object, int32_t range);
// As O_FindNearestEnemyOf, for enemies whose shield plus hull lies strictly between low and high.
SectorObject* O_FindNearestEnemyByStrength(SectorObject* object, int32_t low, int32_t high, int32_t range);
// As O_FindNearestEnemyOf, the distance measured from the point.
SectorObject* O_FindNearestEnemyFrom(SectorObject* object, const QelVector* from, int32_t range);
// The object's offset along the reference's forward axis; 0 beyond the
// reference's size on some axis.
int32_t O_GetForwardOffset(const SectorObject* object, const SectorObject* reference);

// ---------------------------------------------------------------- steering

// Maximum speed squared over acceleration, in 64 bits; 0 when the acceleration is 0 or less.
int64_t O_BrakingDistance(int32_t maxSpeed, int32_t acceleration);
// x mapped from x0..x1 onto y0..y1, clamped at both ends; equal ends give the middle.
int32_t O_SpeedRamp(int64_t x, int64_t x0, int64_t x1, int32_t y0, int32_t y1);
// The remaining turn angles (heading, pitch, roll; 65,536 a turn) that point
// the ship at the goal: cleared within 100 units, a quarter pitch turn for a
// goal straight above or below, else the goal's bearing, no roll.
void O_SteerDirect(SectorObject* ship, const QelVector* goal);
// For a ship whose pitch is its weakest turn: roll the goal onto the side
// axis and turn the heading to it.
void O_SteerWeakPitch(SectorObject* ship, const QelVector* goal);
// For a ship whose heading is no stronger than its roll: roll the goal over
// the top and pitch up to it.
void O_SteerWeakHeading(SectorObject* ship, const QelVector* goal);
enum SA_SteerStyle { SA_STEER_DIRECT = 0, SA_STEER_WEAK_PITCH = 1, SA_STEER_WEAK_HEADING = 2 };
// The steering style O_RotateToPoint takes for the goal (direct near
// alignment, else by the type's three turn rates).
int32_t O_ChooseSteerStyle(SectorObject* ship, const QelVector* goal);
void O_SteerWithStyle(SectorObject* ship, const QelVector* goal, int32_t style);
// Turns the ship toward the goal in the chosen style; the style.
int32_t O_RotateToPoint(SectorObject* ship, const QelVector* goal);
// One step of turning on one axis: with `remaining` still to turn, the
// current turn speed, the top turn speed, the turn acceleration (both per
// second) and the step in ms, the angle to turn now, and the new speed in
// *newSpeed. The speed approaches the one from which the acceleration stops
// the turn in time (within 500 of the goal: the one that gets there in this
// step); a step never turns past the goal (the speed is then 0).
int32_t O_SteerToTarget(int32_t remaining, int32_t speed, int32_t maxSpeed, int32_t acceleration, int32_t stepMs,
                        int32_t* newSpeed);
