// STANDIN: see standin.h.
#include "cockpit/standin.h"

#include "base/standin_calls.h"

namespace {
std::vector<std::string>& ObjectCalls() {
    static std::vector<std::string> calls;
    return calls;
}
}  // namespace

const std::vector<std::string>& StandIn_ObjectCalls() { return ObjectCalls(); }
void StandIn_ClearObjectCalls() { ObjectCalls().clear(); }
void StandIn_RecordObjectCall(const std::string& call) { ObjectCalls().push_back(call); }

void* g_INSTrackedObject = nullptr;

void INS_DeleteCockpitObject(CockpitObject* object) {
    StandIn_Record("INS_DeleteCockpitObject");
    if (CockpitObjectList* list = object->list) {
        (object->prev ? object->prev->next : list->head) = object->next;
        (object->next ? object->next->prev : list->tail) = object->prev;
    }
    object->next = object->prev = nullptr;
    object->list = nullptr;
    if (object->tracked) INS_DropTrackedObject(object->tracked);
    object->tracked = nullptr;
    for (void*& icon : object->icons) icon = nullptr;
}

void INS_DropTrackedObject(void* object) {
    StandIn_Record("INS_DropTrackedObject");
    if (!object || object == g_INSTrackedObject) g_INSTrackedObject = nullptr;
}
