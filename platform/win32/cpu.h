// Processor identification (CPUID) and the FXSAVE/LDMXCSR access to the SSE
// control word. Builds for other processors report no CPUID.
#pragma once

#include <cstdint>

// True when the processor answers CPUID.
bool Win32_HasCpuid();
// regs = EAX, EBX, ECX, EDX of the leaf (sub-leaf 0).
void Win32_Cpuid(uint32_t leaf, uint32_t regs[4]);
// Whether the system keeps the SSE registers across FXSAVE/FXRSTOR: flips the
// high dword of XMM6 in a saved area, restores, saves again and compares.
bool Win32_OsSavesSseState();
// Stores the 512-byte FXSAVE area (16-byte aligned); zeros it where there is none.
void Win32_Fxsave(void* area);
// Loads the SSE control and status word.
void Win32_Ldmxcsr(uint32_t value);

// Test seam: when active, CPUID answers from `leaves` (unknown leaves give
// zeros) and FXSAVE/LDMXCSR work on `mxcsr`/`mxcsrMask` instead of the
// processor, so tests never change the real SSE state.
struct Win32CpuSeam {
    struct Leaf {
        uint32_t leaf, eax, ebx, ecx, edx;
    };
    bool active = false;
    bool hasCpuid = true;
    Leaf leaves[8] = {};
    int leafCount = 0;
    bool osSavesSse = true;
    uint32_t mxcsr = 0x1F80;
    uint32_t mxcsrMask = 0xFFFF;
};
extern Win32CpuSeam g_Win32CpuSeam;
