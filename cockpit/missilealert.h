// STANDIN: the cockpit's missile alert until the HUD lands: it only records
// the call ("INS_NotifyMissileAlert <missile ID>", StandIn_ObjectCalls). The
// missile's target may be none (a missile type that seeks on its own).
#pragma once

struct SectorObject;

void INS_NotifyMissileAlert(SectorObject* missile);
