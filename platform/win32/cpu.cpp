#include "platform/win32/cpu.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#define TREVAN_X86 1
#endif

Win32CpuSeam g_Win32CpuSeam;

bool Win32_HasCpuid() {
    if (g_Win32CpuSeam.active) return g_Win32CpuSeam.hasCpuid;
#ifdef TREVAN_X86
    // Does the EFLAGS.ID test on 32-bit processors; always present on x86-64.
    return __get_cpuid_max(0, nullptr) != 0;
#else
    return false;
#endif
}

void Win32_Cpuid(uint32_t leaf, uint32_t regs[4]) {
    regs[0] = regs[1] = regs[2] = regs[3] = 0;
    if (g_Win32CpuSeam.active) {
        for (int i = 0; i < g_Win32CpuSeam.leafCount && i < 8; ++i) {
            const auto& l = g_Win32CpuSeam.leaves[i];
            if (l.leaf == leaf) {
                regs[0] = l.eax, regs[1] = l.ebx, regs[2] = l.ecx, regs[3] = l.edx;
                return;
            }
        }
        return;
    }
#ifdef TREVAN_X86
    unsigned a, b, c, d;
    __cpuid_count(leaf, 0, a, b, c, d);
    regs[0] = a, regs[1] = b, regs[2] = c, regs[3] = d;
#endif
}

bool Win32_OsSavesSseState() {
    if (g_Win32CpuSeam.active) return g_Win32CpuSeam.osSavesSse;
#if defined(__x86_64__)
    // One asm block, so that the compiler cannot touch XMM6 between the steps.
    alignas(16) unsigned char area[512];
    uint32_t before, after;
    asm volatile(
        "fxsave (%[a])\n\t"
        "movl 268(%[a]), %[before]\n\t"
        "xorl $0xD95A34BE, 268(%[a])\n\t"
        "fxrstor (%[a])\n\t"
        "fxsave (%[a])\n\t"
        "movl 268(%[a]), %[after]\n\t"
        "movl %[before], 268(%[a])\n\t"
        "fxrstor (%[a])\n\t"
        : [before] "=&r"(before), [after] "=&r"(after)
        : [a] "r"(area)
        : "memory");
    return (before ^ after) == 0xD95A34BEu;
#else
    return false;
#endif
}

void Win32_Fxsave(void* area) {
    std::memset(area, 0, 512);
    if (g_Win32CpuSeam.active) {
        std::memcpy(static_cast<unsigned char*>(area) + 24, &g_Win32CpuSeam.mxcsr, 4);
        std::memcpy(static_cast<unsigned char*>(area) + 28, &g_Win32CpuSeam.mxcsrMask, 4);
        return;
    }
#if defined(__x86_64__)
    asm volatile("fxsave (%0)" : : "r"(area) : "memory");
#endif
}

void Win32_Ldmxcsr(uint32_t value) {
    (void)value;
    if (g_Win32CpuSeam.active) {
        g_Win32CpuSeam.mxcsr = value;
        return;
    }
#if defined(__x86_64__)
    asm volatile("ldmxcsr %0" : : "m"(value));
#endif
}
