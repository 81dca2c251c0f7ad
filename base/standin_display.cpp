// STAND-IN: see standin_display.h. Weak, so the real definitions win as soon
// as they are linked in.
#include "base/standin_display.h"

#include "program/standin_calls.h"
#include "system/video.h"

#define STANDIN __attribute__((weak))

STANDIN VideoRecord* Qel_CreateVideoDisplayList(uint32_t flags, int16_t width, int16_t height, int16_t depth) {
    StandIn_Record("Qel_CreateVideoDisplayList");
    if (StandIn_Fails("Qel_CreateVideoDisplayList")) return nullptr;
    return S_InitVideo(width, height, depth, flags);
}

STANDIN DisplayList* Qel_OpenDisplay(DisplayList*, EBM*, int16_t, int16_t, int32_t, uint32_t) {
    StandIn_Record("Qel_OpenDisplay");
    return nullptr;
}

STANDIN void Qel_CloseVideo(int mode) {
    StandIn_Record("Qel_CloseVideo");
    S_CloseVideoDevice(mode);
}

STANDIN void Qel_UpdateScreen() {
    StandIn_Record("Qel_UpdateScreen");
    if (g_VideoRecord) S_FlipScreen();
}

STANDIN void P_CaptureScreen() { StandIn_Record("P_CaptureScreen"); }
STANDIN void TC_MemoryFlush() { StandIn_Record("TC_MemoryFlush"); }
