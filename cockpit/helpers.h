// The deleting destructors of two cockpit records.
#pragma once

#include "cockpit/cockpits.h"
#include "cockpit/standin.h"

// A record that owns a list of cockpit objects.
struct CockpitObjectOwner {
    CockpitObjectList objects;
};

// Clears the cockpit (INS_ClearCockpit), then frees the record (Int_AllocRecord).
void INS_DeleteCockpit(Cockpit* cockpit);
// Unlinks and frees every object of the list (records of Int_AllocRecord),
// drops the tracked object, then frees the record.
void INS_DeleteObjectList(CockpitObjectOwner* owner);
