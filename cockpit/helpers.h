// The deleting destructors of two cockpit records.
#pragma once

#include "cockpit/cockpits.h"

struct IconMenu;

// Clears the cockpit (INS_ClearCockpit), then frees the record (Int_AllocRecord).
void INS_DeleteCockpit(Cockpit* cockpit);
// Deletes every item of the menu (INS_DeleteCockpitObject), then frees the
// record (Int_AllocRecord).
void INS_DeleteObjectList(IconMenu* menu);
