// Virtual memory, page size and memory status: the calls of the Windows kernel
// that the allocator uses, over mmap/mprotect/madvise/munmap and sysinfo.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t MEM_COMMIT = 0x1000;
constexpr uint32_t MEM_RESERVE = 0x2000;
constexpr uint32_t MEM_DECOMMIT = 0x4000;
constexpr uint32_t MEM_RELEASE = 0x8000;

constexpr uint32_t PAGE_NOACCESS = 0x01;
constexpr uint32_t PAGE_READONLY = 0x02;
constexpr uint32_t PAGE_READWRITE = 0x04;

// Address null: reserves (and with MEM_COMMIT also commits) a new region.
// Address inside a reserved region with MEM_COMMIT: commits the pages holding
// [address, address + size) and returns the first page's address. Null on failure.
void* VirtualAlloc(void* address, size_t size, uint32_t allocationType, uint32_t protect);
// MEM_RELEASE (size 0, address = region start) gives the whole region back;
// MEM_DECOMMIT drops the pages holding [address, address + size), size 0 = to the
// region's end. Non-zero on success.
int VirtualFree(void* address, size_t size, uint32_t freeType);

struct SYSTEM_INFO {
    uint32_t dwPageSize;
    uint32_t dwAllocationGranularity;
    uint32_t dwNumberOfProcessors;
};
void GetSystemInfo(SYSTEM_INFO* info);

// Byte counts are 64-bit here. The "page file" is the commit limit as Windows
// counts it: physical memory plus swap.
struct MEMORYSTATUS {
    uint32_t dwLength;
    uint32_t dwMemoryLoad;  // percent in use
    uint64_t dwTotalPhys;
    uint64_t dwAvailPhys;
    uint64_t dwTotalPageFile;
    uint64_t dwAvailPageFile;
    uint64_t dwTotalVirtual;
    uint64_t dwAvailVirtual;
};
void GlobalMemoryStatus(MEMORYSTATUS* status);

// The C runtime heap as the allocator sees it (malloc/realloc/free).
void* Win32_HeapAlloc(size_t size);
void* Win32_HeapReAlloc(void* ptr, size_t size);
void Win32_HeapFree(void* ptr);

// Fixes the C runtime's thresholds for mapping large blocks and for giving
// freed memory back: left to adjust themselves, they move as a frame frees
// its large blocks, and the next frame pays for fresh pages again.
void Win32_PinHeapThresholds();

// The most memory the process has held in physical pages so far, in bytes
// (what the process status calls its peak working set).
uint64_t Win32_PeakWorkingSetBytes();

// Test seam: lets a test decide what the platform reports. Zeroed = the real system.
struct Win32MemorySeam {
    int failVirtualAllocs;  // the next n VirtualAlloc calls fail
    int failVirtualFrees;   // the next n VirtualFree calls fail
    int failHeapAllocs;     // the next n heap allocations/reallocations fail
    uint32_t pageSize;      // reported page size when non-zero
    bool statusOverridden;  // GlobalMemoryStatus reports `status`
    MEMORYSTATUS status;
};
extern Win32MemorySeam g_Win32MemorySeam;

// Number of live reservations (regions not yet released); for tests.
size_t Win32_ReservationCount();
// The length of the region that begins at base, 0 when no live region begins there.
size_t Win32_RegionLength(const void* base);
