// STANDIN: see standin.h.
#include "render/standin.h"

#include "base/standin_calls.h"

int S_3DInit() {
    StandIn_Record("S_3DInit");
    return StandIn_Fails("S_3DInit") ? 0 : 1;
}
