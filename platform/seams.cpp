#include "platform/seams.h"

#include "platform/crypt/crypt.h"
#include "platform/d3d9/ddraw.h"
#include "platform/d3d9/seam.h"
#include "platform/dinput/seam.h"
#include "platform/dshow/seam.h"
#include "platform/dsound/mci.h"
#include "platform/dsound/seam.h"
#include "platform/win32/command_line.h"
#include "platform/win32/cpu.h"
#include "platform/win32/debug.h"
#include "platform/win32/memory.h"
#include "platform/win32/messages.h"
#include "platform/win32/mmjoystick.h"
#include "platform/win32/msgbox.h"
#include "platform/win32/process.h"
#include "platform/win32/registry.h"
#include "platform/win32/signals.h"
#include "platform/win32/timer.h"

void Platform_ResetAllSeams() {
    g_Win32MemorySeam = Win32MemorySeam{};
    Win32_SetTimerSeam(nullptr);
    g_Win32TimeSeam = 0;
    g_Win32DebugSeam = Win32DebugSeam{};
    g_Win32CommandLineSeam = Win32CommandLineSeam{};
    g_Win32CpuSeam = Win32CpuSeam{};
    g_Win32ProcessSeam = Win32ProcessSeam{};
    g_Win32RegistrySeam.failWrites = 0;
    Win32_MessageBoxSeamDisable();
    Win32_JoySeamDisable();
    Win32_ResetMessages();
    Win32_ResetStopSignals();

    CryptSeam& crypt = g_CryptSeam;
    crypt.failAcquire = crypt.failImport = crypt.failCreateHash = 0;
    crypt.failHashData = crypt.failHashSize = crypt.failHashValue = 0;
    crypt.acquireCalls = crypt.deleteCalls = 0;

    D3D9_ResetSeam();
    g_DDrawSeam = DDrawSeam{};
    DInput_SeamDisable();
    DSound_ResetSeam();
    Mci_ResetSeam();
    DShow_ResetSeam();
}
