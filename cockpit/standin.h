// STANDIN: the cockpit (INS_, EO_, STS_Set): registers the cockpit module
// (10) in start-up order, answers the calls the program's start-up, game loop
// and exit make, and records each one; and it offers the least the shared
// helpers (cockpit/helpers.h) call: emptying a cockpit, unlinking a cockpit
// object and dropping the tracked object. Its save section ("INS ") is the
// section's two cookies around one word, checked on reading;
// StandIn_SetFailure with "ID_Save", "ID_Load" or "INS_CreateCockpitSystem"
// makes that call fail.
// The space simulation's calls into the cockpits and the effects (an object
// leaving play, its destruction effects and sound, a sector's explosions) are
// recorded with the object's ID in a list of their own, so the order of the
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
// The destruction effects of a killed object, with its killer (or none) and
// the kill's extra value; its explosion sound.
void EO_ObjectDestroyedEffect(SectorObject* object, SectorObject* killer, int32_t extra);
void EO_PlayExplosionSound(SectorObject* object);
// Every object-bound effect that refers to the object goes.
void EO_RemoveObjectReferences(SectorObject* object);
// The explosions bound to a scene (one of a freed sector's three) go.
void EO_RemoveExplosionReferences(Scene3D* scene);
// What those calls recorded ("EO_PlayExplosionSound 12" ...), and clearing it.
const std::vector<std::string>& StandIn_ObjectCalls();
void StandIn_ClearObjectCalls();

void EO_Init();
void EO_MoveExplObjects();
void EO_FreeExplosions();
void EO_FreeEffects();
void EO_FreeObjectEffects();

// Steers the player's object from this frame's input.
void STS_Set(int32_t objectId, int flag);
