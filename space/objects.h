// The space root and its objects: the start of the space module, the object
// lists and the ID table, the per-frame driver and the deletion of killed
// objects. Creation is space/create, kill and free space/kill.
#pragma once

#include <cstdint>
#include <vector>

#include "space/records.h"

struct SE_Task;

// Makes the root empty, registers engine-call module 8 with the 358 call names
// and keeps the module number in it; gets the dock-tunnel body's id. Returns the root.
SpaceRoot* SA_Init(SpaceRoot* root);
// The module's handler (space/syscall.cpp).
int32_t SA_SysCall(int32_t callerModule, SE_Task* task, int32_t call, int32_t argc, ScriptValue* args);
// The module's integer-result callback: handle 0 is the root's slot, any other
// handle an object ID (looked up with its message).
void SA_ReturnIntCallback(uint32_t handle, int32_t value);

// The body id of "stations\docks\dock_tunnel", got by SA_Init.
extern int32_t g_SADockTunnelBody;

// The object of an ID, or null after "SA_FindObjectByID(%d) %s failed!\n".
SectorObject* SA_FindObjectByID(uint32_t id);
// "NoStory" outside an SA_ engine call, else the running task's position
// ("invalid address" without one).
const char* SA_ScriptPosition();

// The object of an ID, null when none (no message: for passes that took IDs
// before call-outs that may free what they name).
SectorObject* SA_LookupObject(uint32_t id);
// The IDs of a container's children, taken before a pass whose call-outs may
// add, move, kill or free them; each is looked up again when its turn comes.
std::vector<uint32_t> SA_ChildIds(SectorObject* container);
// A child a pass over a sector acts on: it still lives under the ID, is still
// in the sector, is not killed and has an instance (a linked object of an
// invalid subtype has none); else null.
SectorObject* SA_PassChild(uint32_t id, const SectorObject* sector);

// Walking an object list: the first object, the one after, null at the end.
SectorObject* SA_ListFirst(const QelList* list);
SectorObject* SA_ListNext(const SectorObject* object);
// The first child of an object; none for an object without a child list,
// whatever its flags say.
SectorObject* SA_FirstChild(SectorObject* object);
// Linking: at the tail, at the head, after another object; unlinking leaves
// an object that is in no list alone.
void SA_ListAddTail(QelList* list, SectorObject* object);
void SA_ListAddHead(QelList* list, SectorObject* object);
void SA_ListInsertAfter(SectorObject* after, SectorObject* object);
void SA_ListUnlink(SectorObject* object);

// Initialises a zeroed record as an object of the type code, appends it to the
// root's list and gives it the next free ID (0 when the table is full).
SectorObject* O_CreateObject(SectorObject* object, int32_t typeCode);
// O_CreateObject on a zeroed sector record, then the sector fields.
SectorSpace* O_CreateSector(SectorSpace* sector, int32_t typeCode);
// A new zeroed record of the right size (the sector variant for main type 1),
// made with O_CreateObject or O_CreateSector; null when out of memory.
SectorObject* O_AllocObject(int32_t typeCode);
// Frees what the object owns (children of containers, name, instance, object
// data, its ID), answers whoever waits on it with 8, unlinks it, takes it out
// of its list and clears the record.
void O_FreeSectorObject(SectorObject* object);
// O_FreeSectorObject, the release of the result value and the record itself.
void O_DeleteObject(SectorObject* object);
// Deletes one object outside the frame loop (clears the root's player object first).
void O_DeleteSectorObject(SectorObject* object);

// The phases of a frame, in their fixed order: collisions, behaviours and
// hangars of each active sector while the root runs, then the movement and
// orientation of each active sector always. Later modules fill the seams.
struct SA_UpdatePhases {
    void (*checkCollisions)(SectorObject* sector);
    void (*updateObjects)(SectorObject* sector);
    void (*updateHangars)(SectorObject* sector);
    void (*move)(SectorObject* sector);
    void (*orient)(SectorObject* sector);
};
extern SA_UpdatePhases g_SAPhases;
void SA_UpdateSpace();
// Frees every object in the sector that carries the killed flag: its
// children and those of the containers in it, at any depth.
void O_DeleteKilledChildren(SectorObject* sector);
// O_DeleteKilledChildren for every sector of the root's list (killed and
// inactive ones too), then frees the killed objects of that list itself.
void SA_DeleteKilledObjects();
// Deletes every object of the root's list (their children with them).
void SA_FreeAllObjects(SpaceRoot* root);
