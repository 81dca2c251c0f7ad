#include "cockpit/helpers.h"

#include "base/memory.h"
#include "cockpit/iconmenus.h"

void INS_DeleteCockpit(Cockpit* cockpit) {
    if (!cockpit) return;
    INS_ClearCockpit(cockpit);
    Int_FreeRecord(cockpit, 0);
}

void INS_DeleteObjectList(IconMenu* menu) {
    if (!menu) return;
    INS_MenuDeleteItems(menu);
    Int_FreeRecord(menu, 0);
}
