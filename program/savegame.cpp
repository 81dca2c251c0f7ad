// STANDIN: see savegame.h.
#include "program/savegame.h"

#include "base/log.h"
#include "program/exit.h"
#include "base/standin_calls.h"

int P_Save(int32_t, const char*, const char*, uint32_t) {
    StandIn_Record("P_Save");
    return 0;
}

void P_Load(int32_t) {
    StandIn_Record("P_Load");
    Qel_ErrPrintf("%s", P_ExitReasonText(29));
    P_Exit(29);
}
