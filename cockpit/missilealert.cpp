// STANDIN: see missilealert.h.
#include "cockpit/missilealert.h"

#include <string>

#include "cockpit/standin.h"
#include "space/records.h"

void INS_NotifyMissileAlert(SectorObject* missile) {
    if (missile) StandIn_RecordObjectCall("INS_NotifyMissileAlert " + std::to_string(missile->id));
}
