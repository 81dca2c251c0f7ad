// STAND-IN: see standin_capture.h. Weak, so the real definitions win as soon
// as they are linked in.
#include "base/standin_capture.h"

#include "program/standin_calls.h"

__attribute__((weak)) void P_CaptureScreen() { StandIn_Record("P_CaptureScreen"); }
__attribute__((weak)) void TC_MemoryFlush() { StandIn_Record("TC_MemoryFlush"); }
