// STANDIN: the cockpit (INS_, STS_Set): registers the cockpit module (10) in
// start-up order, answers the calls the program's start-up, game loop and exit
// make, and records each one; and it offers the least the shared helpers
// (cockpit/helpers.h) call: emptying a cockpit, unlinking a cockpit object and
// dropping the tracked object. Its save section ("INS ") is the section's two
// cookies around one word, checked on reading; StandIn_SetFailure with
// "ID_Save", "ID_Load" or "INS_CreateCockpitSystem" makes that call fail.
// The space simulation's call into the cockpits (an object leaving play) is
// recorded with the object's ID in a list of its own, so the order of the
// frame's calls stays readable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct QelTable;

struct Cockpit {
    uint32_t flags;  // 0x4: the second object is steered
    int32_t objectIds[2];
};
// The cockpit system: a zeroed record that the program allocates per run.
struct CockpitSystem {
    QelTable* cockpits;     // cockpit id -> Cockpit*
    int32_t activeControl;  // id of the active control cockpit
};
// The global cockpit system of the running story; null between runs.
extern CockpitSystem* g_CockpitSystem;

// Empties the cockpit record (it stays allocated).
void INS_ClearCockpit(Cockpit* cockpit);

struct CockpitObjectList;
// An object shown by a cockpit: linked in its list, it may track a space
// object and holds six icon slots.
struct CockpitObject {
    CockpitObject* next;
    CockpitObject* prev;
    CockpitObjectList* list;
    void* tracked;
    void* icons[6];
};
struct CockpitObjectList {
    CockpitObject* head;
    CockpitObject* tail;
};
// Unlinks the object from its list, drops its tracked object and empties its
// icon slots; the record stays allocated.
void INS_DeleteCockpitObject(CockpitObject* object);
// The current cockpit's tracked object; null when none.
extern void* g_INSTrackedObject;
// Clears the tracked object when it is this one or when object is null.
void INS_DropTrackedObject(void* object);

// The stories make their cockpits through calls that come with the module;
// until then a new system gets this cockpit (when set) as its active control
// cockpit under id 1. The record is the setter's.
extern Cockpit* g_StandInControlCockpit;
// Null when it fails.
CockpitSystem* INS_CreateCockpitSystem(CockpitSystem* block);
struct QelFile;
// The "INS " ... "/INS" section of save games; 1 done, 0 failed.
int ID_Save(QelFile* file);
int ID_Load(QelFile* file);
void INS_ClearAllCockpits(CockpitSystem* system);
void INS_RegisterSysCalls();
void INS_UpdateAllCockpits();

struct SectorObject;
struct Scene3D;
// Every cockpit drops its references to the object: the IDs its cockpits hold
// and the tracked object.
void INS_RemoveObjectReferences(SectorObject* object);
// The calls the space simulation makes into the cockpit and the effects as
// they leave play, recorded with the object's ID ("INS_RemoveObjectReferences
// 12", "EO_PlayExplosionSound 12" ...) for the order tests of the kill; the
// list, clearing it, and recording one.
const std::vector<std::string>& StandIn_ObjectCalls();
void StandIn_ClearObjectCalls();
void StandIn_RecordObjectCall(const std::string& call);

// Steers the player's object from this frame's input.
void STS_Set(int32_t objectId, int flag);
