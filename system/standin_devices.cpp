// STAND-IN: see standin_devices.h. Weak, so the real definition wins as soon
// as it is linked in.
#include "system/standin_devices.h"

#include "program/standin_calls.h"

__attribute__((weak)) int S_RunStartDialog() {
    StandIn_Record("S_RunStartDialog");
    return StandIn_Fails("S_RunStartDialog") ? 0 : 1;
}
