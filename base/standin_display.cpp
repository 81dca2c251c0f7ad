// STAND-IN: see standin_display.h. Weak, so the real definitions win as soon
// as they are linked in.
#include "base/standin_display.h"

#include "program/standin_calls.h"
#include "system/entry.h"

#define STANDIN __attribute__((weak))

namespace {
bool s_open = false;
uint32_t s_flags = 0;
}  // namespace

STANDIN VideoRecord* Qel_CreateVideoDisplayList(uint32_t flags, int16_t, int16_t, int16_t) {
    StandIn_Record("Qel_CreateVideoDisplayList");
    if (StandIn_Fails("Qel_CreateVideoDisplayList")) return nullptr;
    s_open = true;
    s_flags = flags;
    // There is no window to activate; the game runs as if its window were active.
    g_ApplicationRecord.active = 1;
    static char record;
    return reinterpret_cast<VideoRecord*>(&record);
}

STANDIN DisplayList* Qel_OpenDisplay(DisplayList*, EBM*, int16_t, int16_t, int32_t, uint32_t) {
    StandIn_Record("Qel_OpenDisplay");
    return nullptr;
}

STANDIN void Qel_CloseVideo(int) {
    StandIn_Record("Qel_CloseVideo");
    s_open = false;
    s_flags = 0;
}

STANDIN void Qel_UpdateScreen() { StandIn_Record("Qel_UpdateScreen"); }
STANDIN void P_CaptureScreen() { StandIn_Record("P_CaptureScreen"); }
STANDIN void TC_MemoryFlush() { StandIn_Record("TC_MemoryFlush"); }

uint32_t StandIn_VideoFlags() { return s_flags; }
bool StandIn_VideoOpen() { return s_open; }
