#include "platform/win32/memory.h"

#include <malloc.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>

Win32MemorySeam g_Win32MemorySeam{};

namespace {

// Every live region by start address, so that a release knows its length and a
// commit or decommit can be checked against the region it falls in.
std::map<uintptr_t, size_t>& Reservations() {
    static std::map<uintptr_t, size_t> table;
    return table;
}

size_t RealPageSize() {
    long ps = sysconf(_SC_PAGESIZE);
    return ps > 0 ? static_cast<size_t>(ps) : 4096;
}

bool TakeFailure(int& counter) {
    if (counter <= 0) return false;
    --counter;
    return true;
}

int ProtectionOf(uint32_t protect) {
    switch (protect) {
        case PAGE_READWRITE: return PROT_READ | PROT_WRITE;
        case PAGE_READONLY: return PROT_READ;
        default: return PROT_NONE;
    }
}

// The region holding [addr, addr + size), or end() when the range leaves every region.
std::map<uintptr_t, size_t>::iterator RegionOf(uintptr_t addr, size_t size) {
    auto& table = Reservations();
    auto it = table.upper_bound(addr);
    if (it == table.begin()) return table.end();
    --it;
    if (addr - it->first > it->second || size > it->second - (addr - it->first)) return table.end();
    return it;
}

}  // namespace

void* VirtualAlloc(void* address, size_t size, uint32_t allocationType, uint32_t protect) {
    if (TakeFailure(g_Win32MemorySeam.failVirtualAllocs)) return nullptr;
    if (size == 0 || !(allocationType & (MEM_COMMIT | MEM_RESERVE))) return nullptr;
    const size_t page = RealPageSize();

    if (!address) {
        if (size > SIZE_MAX - page) return nullptr;
        size_t length = (size + page - 1) / page * page;
        int prot = (allocationType & MEM_COMMIT) ? ProtectionOf(protect) : PROT_NONE;
        void* p = mmap(nullptr, length, prot, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (p == MAP_FAILED) return nullptr;
        Reservations()[reinterpret_cast<uintptr_t>(p)] = length;
        return p;
    }

    // Committing inside a region reserved before; reserving at a chosen address
    // is not offered.
    if (!(allocationType & MEM_COMMIT) || (allocationType & MEM_RESERVE)) return nullptr;
    uintptr_t start = reinterpret_cast<uintptr_t>(address) / page * page;
    uintptr_t end = reinterpret_cast<uintptr_t>(address) + size;
    if (end < start) return nullptr;
    end = (end + page - 1) / page * page;
    if (RegionOf(start, end - start) == Reservations().end()) return nullptr;
    if (mprotect(reinterpret_cast<void*>(start), end - start, ProtectionOf(protect)) != 0) return nullptr;
    return reinterpret_cast<void*>(start);
}

int VirtualFree(void* address, size_t size, uint32_t freeType) {
    if (TakeFailure(g_Win32MemorySeam.failVirtualFrees)) return 0;
    if (!address) return 0;
    auto& table = Reservations();
    const uintptr_t addr = reinterpret_cast<uintptr_t>(address);

    if (freeType == MEM_RELEASE) {
        auto it = table.find(addr);
        if (size != 0 || it == table.end()) return 0;
        if (munmap(address, it->second) != 0) return 0;
        table.erase(it);
        return 1;
    }
    if (freeType == MEM_DECOMMIT) {
        const size_t page = RealPageSize();
        auto region = RegionOf(addr, 0);
        if (region == table.end()) return 0;
        uintptr_t regionEnd = region->first + region->second;
        uintptr_t start = addr / page * page;
        uintptr_t end = size == 0 ? regionEnd : addr + size;
        if (end < addr || end > regionEnd) return 0;
        end = (end + page - 1) / page * page;
        if (end == start) return 1;
        void* p = reinterpret_cast<void*>(start);
        // Dropped pages read back as zeros when committed again, as on Windows.
        if (madvise(p, end - start, MADV_DONTNEED) != 0) return 0;
        if (mprotect(p, end - start, PROT_NONE) != 0) return 0;
        return 1;
    }
    return 0;
}

void GetSystemInfo(SYSTEM_INFO* info) {
    if (!info) return;
    info->dwPageSize = g_Win32MemorySeam.pageSize ? g_Win32MemorySeam.pageSize : static_cast<uint32_t>(RealPageSize());
    info->dwAllocationGranularity = 65536;
    long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    info->dwNumberOfProcessors = cpus > 0 ? static_cast<uint32_t>(cpus) : 1;
}

// MemAvailable counts reclaimable caches too, which is what Windows calls available.
static bool ReadMemAvailable(uint64_t* bytes) {
    FILE* f = std::fopen("/proc/meminfo", "r");
    if (!f) return false;
    char line[256];
    bool found = false;
    while (std::fgets(line, sizeof line, f)) {
        unsigned long long kb;
        if (std::sscanf(line, "MemAvailable: %llu kB", &kb) == 1) {
            *bytes = static_cast<uint64_t>(kb) * 1024;
            found = true;
            break;
        }
    }
    std::fclose(f);
    return found;
}

void GlobalMemoryStatus(MEMORYSTATUS* status) {
    if (!status) return;
    if (g_Win32MemorySeam.statusOverridden) {
        *status = g_Win32MemorySeam.status;
        status->dwLength = sizeof(MEMORYSTATUS);
        return;
    }
    MEMORYSTATUS s{};
    s.dwLength = sizeof(MEMORYSTATUS);
    struct sysinfo si {};
    if (sysinfo(&si) == 0) {
        uint64_t unit = si.mem_unit ? si.mem_unit : 1;
        s.dwTotalPhys = si.totalram * unit;
        s.dwAvailPhys = (si.freeram + si.bufferram) * unit;
        ReadMemAvailable(&s.dwAvailPhys);
        if (s.dwAvailPhys > s.dwTotalPhys) s.dwAvailPhys = s.dwTotalPhys;
        s.dwTotalPageFile = s.dwTotalPhys + si.totalswap * unit;
        s.dwAvailPageFile = s.dwAvailPhys + si.freeswap * unit;
        if (s.dwTotalPhys) s.dwMemoryLoad = static_cast<uint32_t>(100 - s.dwAvailPhys * 100 / s.dwTotalPhys);
    }
    s.dwTotalVirtual = uint64_t{1} << 47;
    s.dwAvailVirtual = s.dwTotalVirtual;
    *status = s;
}

void* Win32_HeapAlloc(size_t size) {
    if (TakeFailure(g_Win32MemorySeam.failHeapAllocs)) return nullptr;
    return std::malloc(size);
}

void* Win32_HeapReAlloc(void* ptr, size_t size) {
    if (TakeFailure(g_Win32MemorySeam.failHeapAllocs)) return nullptr;
    return std::realloc(ptr, size);
}

void Win32_HeapFree(void* ptr) { std::free(ptr); }

size_t Win32_ReservationCount() { return Reservations().size(); }

size_t Win32_RegionLength(const void* base) {
    auto it = Reservations().find(reinterpret_cast<uintptr_t>(base));
    return it == Reservations().end() ? 0 : it->second;
}

void Win32_PinHeapThresholds() {
    // Blocks below 32 MB come from the heap and stay mapped; the heap keeps up
    // to 128 MB free at its top before it shrinks.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 128 << 20);
}

uint64_t Win32_PeakWorkingSetBytes() {
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) != 0) return 0;
    // Linux counts the peak resident set in KiB.
    return static_cast<uint64_t>(usage.ru_maxrss) * 1024;
}
