// Process entry: the global application record, the command line cut into an
// argument vector, the priority switches, and the processor-feature probe.
#pragma once

#include <cstdint>

#include "platform/win32/basetypes.h"

class IDirect3DSurface9;
struct IDirectInput8;
struct IDirectInputDevice8;

// The one record of the process, cleared by WinMain before anything else.
// Owners add their fields inside their group below.
struct ApplicationRecord {
    HINSTANCE hInstance;
    HINSTANCE hPrevInstance;
    HWND mainWindow;    // set when the video device makes the window
    char* commandLine;  // cut into words in place
    int32_t showCommand;
    int32_t active;       // 1 while the game window is active
    uint32_t cdDeviceId;  // MCI devices: compact disc, music
    uint32_t musicDeviceId;
    IDirectInput8* directInput;  // owned by input; null while absent
    IDirectInputDevice8* mouseDevice;
    IDirectInputDevice8* keyboardDevice;
    IDirectInputDevice8* joystickDevice;

    // --- video adapter and device ---
    char* adapterName;       // heap copy of the chosen adapter's description
    int32_t adapterOrdinal;  // -1 = none chosen
    uint32_t modeFormat;     // D3DFORMAT of the chosen display mode, 0 = none
    int32_t modeIndex;       // in the full-screen or windowed table
    RECT clientRect;         // client area on the screen; (0,0,-1,-1) when larger than asked
    int32_t deviceUsable;    // 0 while the device is lost
    int32_t colourDepth;
    IDirect3DSurface9* backBuffer;
    int16_t videoWords[2];  // cleared after device creation

    // --- input settings ---
    GUID* joyGUID;  // 16-byte block, or none
    int32_t ffGain;
    int32_t joyDeadzone;
    int32_t joySensitivity;

    // --- audio settings ---
    WAVEFORMATEX waveFormat;
    uint32_t speakerConfig;
    GUID* soundDeviceGUID;  // 16-byte block, or none
};

extern ApplicationRecord g_ApplicationRecord;

// At most this many entries in the argument vector, the null after the last included.
constexpr int S_MAX_ARGS = 30;

// Fills the record, cuts cmdLine into the argument vector (entry 0 "WinCalled"),
// applies "-lowpri"/"-highpri" and calls the program's main, which ends the
// process itself; its result is returned only when it does return (tests).
int WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, char* cmdLine, int showCommand);

// The process command line as one text, the way the program was started.
const char* S_GetCommandLine();

// The program's main that WinMain hands over to; P_Main unless a test puts another.
using S_ProgramMainFn = int (*)(int argc, char** argv);
void S_SetProgramMain(S_ProgramMainFn fn);

// Processor feature word: model/family in bits 0-7, 0x100 Intel, 0x200 AMD,
// 0x800 the system saves SSE state, 0x1000 FPU, 0x2000 TSC, 0x4000 CMPXCHG8B,
// leaf 1 EDX bits 15-26 and 28 in place (0x800000 MMX, 0x1000000 FXSR,
// 0x2000000 SSE, 0x4000000 SSE2), 0x8000000 SSE3, AMD extensions in 29-31.
// 0 without CPUID.
uint32_t Qel_DetectCPU();
// Sets the SSE control bits (denormals and underflow masked, flush to zero,
// denormals as zero where supported) and stores the CPU level and the
// processor's name in SystemState. 0 when the processor cannot be identified.
int S_DetectCPUFeatures();
// The processor's own name (its CPUID brand string, without the blanks around
// it); "" when the processor gives none.
const char* S_ProcessorName();
// Sets bit n of MXCSR.
void S_SetMxcsrBit(int bit);

// Feature bits used by the probe.
constexpr uint32_t CPU_FEATURE_OS_SSE = 0x800;
constexpr uint32_t CPU_FEATURE_MMX = 0x800000;
constexpr uint32_t CPU_FEATURE_FXSR = 0x1000000;
constexpr uint32_t CPU_FEATURE_SSE = 0x2000000;
constexpr uint32_t CPU_FEATURE_SSE2 = 0x4000000;
constexpr uint32_t CPU_FEATURE_SSE3 = 0x8000000;
