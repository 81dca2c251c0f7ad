#include "support/globals.h"

#include "base/log.h"
#include "base/memory.h"
#include "cockpit/steering.h"
#include "program/gameloop.h"
#include "system/clock.h"
#include "system/entry.h"
#include "system/window.h"

void ResetEngineGlobals() {
    if (g_ApplicationRecord.mainWindow) S_DetachMainWindow();
    S_KeyRingClear();
    S_WindowLinks = WindowLinks{};
    g_StopFlag = 0;
    g_FrameCaptureRequest = 0;
    g_KeyHandled = 0;
    g_LastInputResult = 0;
    P_ResetFrameTimes();
    S_SetFixedFrameStep(0);
    STS_Reset();
    // Tests that log thousands of lines in one frame must not silence the next test.
    Qel_LogResetFrameBudget();
    // A region one test gave back must not serve the next test's reservation.
    Int_ReleaseKeptMem();
}
