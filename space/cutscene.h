// Objects shown as trees of instances built from their cuts, their dock-port
// slots, and the story's takes: cuts loaded into a sector, started at an
// index of their events and unloaded with the objects they made.
#pragma once

#include <cstdint>

#include "space/records.h"

struct Inst3D;
struct DockPortList;

// One path of a loaded take: its instance (checked by id before use) and the
// object made for it, if any.
struct SA_TakeSlot {
    Inst3D* inst;
    uint32_t instId;
    SectorObject* object;
};

// A take, kept in the root's take table under its id.
struct SA_Take {
    int32_t id;
    int32_t cutId;  // the loaded cut, 0 when none
    int32_t slotCount;
    SA_TakeSlot* slots;    // one per path of the cut
    uint32_t flags;        // 1 once the cut is loaded
    SectorObject* sector;  // whose scenes receive the instances; cleared when it goes
};

// A new take in the root's table (replacing none: an id in use answers null).
SA_Take* ST_CreateTake(int32_t id, SectorObject* sector);
SA_Take* ST_FindTake(int32_t id);
// Unloads the take's cut, takes it out of the table and frees it.
void ST_RemoveTake(SA_Take* take);
// ST_RemoveTake for every take of the root.
void ST_RemoveAllTakes(SpaceRoot* root);
// Every take forgets the object (its slot and its instance).
void ST_DropObject(SectorObject* object);

// Unloads another cut first, loads the cut when none is (0 when it cannot be
// had), then starts from the index, the cut placed at the position and
// matrix when given. 1 when started.
int32_t ST_StartTake(SA_Take* take, int32_t cutId, int32_t pathIndex, int32_t startMode, const QelVector* position,
                     const QelMatrix* matrix = nullptr);
// Places the cut at the position and matrix (when given) and starts every
// instance's path job from the start time of the index's "start %d" event
// (0 when the index is not found).
void ST_StartFromIndex(const QelVector* position, SA_Take* take, int32_t pathIndex, int32_t flag,
                       const QelMatrix* matrix);
// Stops the jobs, frees the objects and instances of the loaded cut, the slots and the cut.
void ST_UnloadCut(SA_Take* take);

// Builds the object's instance tree from the cut under the parent (a new
// marked instance when none); with a survey list and no object only collects
// the cut's dock ports into the list. The top instance, or null for cut 0 or
// -1 or a cut that does not load (and always in survey mode).
Inst3D* O_BuildCutScene(int32_t cutId, Inst3D* parent, SectorObject* object, DockPortList* survey);
// O_BuildCutScene for the object's cut under its instance; a failure clears the cut id (and
// gives an own-cut special the state 3).
void O_InitCutScene(SectorObject* object);
// Hangs every child instance of the object that belongs to the cut under the
// instance of its path's father.
void SA_CreateObjectCutScene(SectorObject* object, int32_t cutId);
// Checks dock port n of a dock, factory or ship; with a ship puts it at the
// port's approach point. 1 when the port is free.
int32_t O_FindDockPort(SectorObject* carrier, int32_t port, SectorObject* ship);
// Dock-port slot flag: the window O_SetDockPortAnim picked waits for the
// next hangar step to play it (O_AnimateCarrierParts).
constexpr uint32_t SA_PORT_WINDOW_PENDING = 0x100;
// Picks one of the five time windows of the port's dock dummy by mode (0..3)
// and the port's direction, sets or clears the port's reverse bit, and has
// the port's part play that window.
void O_SetDockPortAnim(int32_t port, SectorObject* object, int32_t startWindow, int32_t mode);
void O_SetDockPortAnimByClass(int32_t port, SectorObject* object, SectorObject* ship);

// Starts the video whose record the video lookup finds for the id on the
// channel (a texture slot of the movie module), over the record's start and
// end times. The record's index, or -1 when no record has that id.
int32_t SA_StartVideo(int32_t videoId, int32_t channel);

// Stores the group; a factory that joins the player's group (10) first has
// every instance of its tree whose body is a logo body given body 475 and
// switched off.
void O_SetGroup(int32_t group, SectorObject* object);
// The lights of specials of subtypes 0 and 1: state 0 is off; 1 shows body
// 30, 2 body 265, any other body 214, on two instances hung either side of
// the object (instance2 right, instance3 left) and sized by an eighth of the
// object's size. Turning on makes them, turning off frees them, a change of
// state gives them the new body. Other objects are not touched.
void O_SetSpecialState(SectorObject* object, int32_t state);
// Three colour components (0..255 in 16 bits) on the object's instances (a
// sun's glows and a planet's extra instance too, and a planet's colour word),
// each light refreshed.
void O_SetColours(SectorObject* object, int32_t red, int32_t green, int32_t blue);
// Hangs count instances of the body under the parent along the axis (0 x,
// 1 y, 2 z), the first at the parent's origin, each spacing further on. How
// many were made.
int32_t O_CreateInstanceRow(Inst3D* parent, int32_t body, int32_t count, int32_t axis, int32_t spacing);
// Hangs four instances of the body at the corners around the object: x and
// z from the corner tables times its size, the height (63569 - 18162 x level)
// times its size (16.16), each scaled by 15000. How many were made.
int32_t O_CreateCornerInstances(SectorObject* object, int32_t body, int32_t level);
// A tractor beam: the source (a ship) holds the object. The object keeps its
// distance to the source and gets a beam instance (body 10680); the source's
// speed is capped at 40000 and the three values are where it holds the object
// in its own frame. A link either of them had before is dropped. 1 when
// linked, 0 for a missing object, the same object twice, or an object without
// an instance.
int32_t O_LinkObjects(SectorObject* held, SectorObject* source, int32_t x, int32_t y, int32_t z);
// Frees the beam instance a tractor link hung on the held object.
void O_FreeTractorBeam(SectorObject* held);
