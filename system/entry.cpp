#include "system/entry.h"

#include <strings.h>

#include <cstring>

#include "base/general.h"
#include "base/log.h"
#include "platform/win32/command_line.h"
#include "platform/win32/cpu.h"
#include "platform/win32/memory.h"
#include "platform/win32/process.h"
#include "platform/win32/signals.h"
#include "program/main.h"
#include "system/crash.h"
#include "system/standin_fields.h"

ApplicationRecord g_ApplicationRecord;

namespace {

// Kept for the life of the process: main and the options read it at any time.
char* s_argv[S_MAX_ARGS];
S_ProgramMainFn s_programMain = P_Main;

// Runs before WinMain, so that a fault anywhere in start-up is reported.
[[maybe_unused]] const bool s_crashHandlerInstalled = (P_InstallCrashHandler(), true);

// Cuts the line in place at every blank: consecutive blanks give empty entries.
int SplitCommandLine(char* line) {
    static char winCalled[] = "WinCalled";
    s_argv[0] = winCalled;
    s_argv[1] = line;
    int count = 2;
    for (char* c = line; *c; ++c) {
        if (count == S_MAX_ARGS - 1) {
            // The rest of the line, blanks included, stays in the last entry.
            if (std::strchr(c, ' ')) Qel_ErrPrintf("Error: CmdLine longer than %d parameter\n", S_MAX_ARGS);
            break;
        }
        if (*c == ' ') {
            *c = 0;
            s_argv[count++] = c + 1;
        }
    }
    s_argv[count] = nullptr;
    return count;
}

void ApplyPriorityOptions(int argc, char** argv) {
    for (int i = 0; i < argc; ++i) {
        if (strcasecmp(argv[i], "-lowpri") == 0) {
            if (!SetPriorityClass(GetCurrentProcess(), IDLE_PRIORITY_CLASS))
                Qel_ErrPrintf("Error setting IDLE process priority\n");
        } else if (strcasecmp(argv[i], "-highpri") == 0) {
            Qel_ErrPrintf("ACHTUNG: Process with HIGH priority!\n");
            if (!SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS))
                Qel_ErrPrintf("Error setting HIGH process priority\n");
        }
    }
}

uint32_t ReadMxcsr(uint32_t* mask = nullptr) {
    alignas(16) unsigned char area[512];
    Win32_Fxsave(area);
    uint32_t mxcsr;
    std::memcpy(&mxcsr, area + 24, 4);
    if (mask) std::memcpy(mask, area + 28, 4);
    return mxcsr;
}

}  // namespace

void S_SetProgramMain(S_ProgramMainFn fn) { s_programMain = fn ? fn : P_Main; }

int WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, char* cmdLine, int showCommand) {
    Win32_PinHeapThresholds();
    g_ApplicationRecord = {};
    g_ApplicationRecord.hInstance = hInstance;
    g_ApplicationRecord.hPrevInstance = hPrevInstance;
    g_ApplicationRecord.commandLine = cmdLine;
    g_ApplicationRecord.showCommand = showCommand;

    // Ctrl+C and a stop request take the orderly exit from here on.
    Win32_InstallStopSignals();
    static char empty[1];
    int argc = SplitCommandLine(cmdLine ? cmdLine : empty);
    ApplyPriorityOptions(argc, s_argv);
    return s_programMain(argc, s_argv);
}

uint32_t Qel_DetectCPU() {
    if (!Win32_HasCpuid()) return 0;
    uint32_t r[4];
    Win32_Cpuid(0, r);
    if (r[0] == 0) return 0;

    uint32_t word = 0;
    const char vendorByte = static_cast<char>((r[2] >> 8) & 0xFF);  // "ntel" / "cAMD"
    const bool amd = vendorByte == 'A';
    if (vendorByte == 't') word |= 0x100;
    if (amd) word |= 0x200;

    Win32_Cpuid(1, r);
    const uint32_t ecx = r[2], edx = r[3];
    word |= (r[0] >> 4) & 0xFF;
    if (edx & (1u << 0)) word |= 0x1000;
    if (edx & (1u << 4)) word |= 0x2000;
    if (edx & (1u << 8)) word |= 0x4000;
    word |= edx & 0x17FF8000u;  // bits 15-26 and 28
    if (ecx & 1u) word |= CPU_FEATURE_SSE3;

    if (amd) {
        Win32_Cpuid(0x80000000u, r);
        if (r[0] >= 0x80000001u) {
            Win32_Cpuid(0x80000001u, r);
            word |= r[3] & 0xC0000000u;
            if (r[3] & (1u << 22)) word |= 0x20000000u;
        }
    }

    // The control-register test for an emulated FPU is left out: no 64-bit
    // system runs SSE code with it set.
    if ((word & CPU_FEATURE_SSE) && (word & CPU_FEATURE_FXSR) && Win32_OsSavesSseState()) word |= CPU_FEATURE_OS_SSE;
    return word;
}

void S_SetMxcsrBit(int bit) { Win32_Ldmxcsr(ReadMxcsr() | (1u << (bit & 31))); }

const char* S_ProcessorName() {
    static char name[49];
    name[0] = '\0';
    if (!Win32_HasCpuid()) return name;
    uint32_t r[4];
    Win32_Cpuid(0x80000000u, r);
    if (r[0] < 0x80000004u) return name;
    for (uint32_t leaf = 0; leaf < 3; ++leaf) {
        Win32_Cpuid(0x80000002u + leaf, r);
        std::memcpy(name + leaf * 16, r, 16);
    }
    name[48] = '\0';
    const char* start = name;
    while (*start == ' ') ++start;
    size_t length = std::strlen(start);
    while (length > 0 && start[length - 1] == ' ') --length;
    std::memmove(name, start, length);
    name[length] = '\0';
    return name;
}

int S_DetectCPUFeatures() {
    const uint32_t word = Qel_DetectCPU();
    if (word == 0) {
        Qel_ErrPrintf("ERROR: CPUID is not supported, cant detect CPU features\n");
        return 0;
    }
    const bool fxsr = word & CPU_FEATURE_FXSR;
    const bool sse = word & CPU_FEATURE_SSE;
    bool daz = false;
    if (fxsr) {
        uint32_t mask = 0;
        ReadMxcsr(&mask);
        daz = mask & 0x40;
    }
    if (sse && fxsr) {
        S_SetMxcsrBit(11);  // underflow masked
        S_SetMxcsrBit(8);   // denormal masked
        S_SetMxcsrBit(15);  // flush to zero
    }
    if (daz) Win32_Ldmxcsr(ReadMxcsr() | 0x40);

    const bool mmx = word & CPU_FEATURE_MMX, sse2 = word & CPU_FEATURE_SSE2, sse3 = word & CPU_FEATURE_SSE3;
    Qel_DPrintf(0, "MMX: %d, SSE1: %d, SSE2: %d, SSE3: %d, DAZ: %d\n", mmx, sse, sse2, sse3, daz);

    g_SysStandIn.processor = S_ProcessorName();
    if (g_SystemState) {
        if (sse3) g_SystemState->cpuLevel = 8;
        else if (sse2) g_SystemState->cpuLevel = 4;
        else if (sse) g_SystemState->cpuLevel = 2;
        else if (mmx) g_SystemState->cpuLevel = 1;
    }
    return 1;
}

const char* S_GetCommandLine() { return GetCommandLineA(); }
