#include "cockpit/helpers.h"

#include "base/memory.h"

void INS_DeleteCockpit(Cockpit* cockpit) {
    if (!cockpit) return;
    INS_ClearCockpit(cockpit);
    Int_FreeRecord(cockpit, 0);
}

void INS_DeleteObjectList(CockpitObjectOwner* owner) {
    if (!owner) return;
    CockpitObject* object = owner->objects.head;
    while (object) {
        CockpitObject* next = object->next;
        INS_DeleteCockpitObject(object);
        Int_FreeRecord(object, 0);
        object = next;
    }
    owner->objects = CockpitObjectList{};
    INS_DropTrackedObject(nullptr);
    Int_FreeRecord(owner, 0);
}
