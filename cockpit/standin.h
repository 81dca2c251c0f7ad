// STANDIN: what the cockpit still lacks: the least the shared helpers
// (cockpit/helpers.h) call: unlinking a cockpit object and dropping the
// tracked object, each call recorded. It also keeps the trace of the calls
// an object leaving play makes into the cockpit and the effects.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// The calls the space simulation makes into the cockpit and the effects as
// objects leave play, recorded with the object's ID ("INS_RemoveObjectReferences
// 12", "EO_PlayExplosionSound 12" ...) for the order tests of the kill; the
// list, clearing it, and recording one.
const std::vector<std::string>& StandIn_ObjectCalls();
void StandIn_ClearObjectCalls();
void StandIn_RecordObjectCall(const std::string& call);
