#include "base/memory.h"

#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <cstring>

#include "base/log.h"
#include "platform/win32/memory.h"

namespace {

// Plain counters: the only accounting there is (no block headers).
int64_t s_memUsed = 0;
int64_t s_memEver = 0;
int64_t s_allocCount = 0;
int64_t s_tagMem[128] = {};
uint32_t s_pageSize = 0;
Int_MemoryFlushHookFn s_flushHook = nullptr;

// What an empty heap block is: a free of size 0 does nothing, so a real block
// of 0 bytes could never be given back.
alignas(16) unsigned char s_emptyBlock[16];

void Book(size_t size, uint32_t flags) {
    s_memUsed += static_cast<int64_t>(size);
    s_memEver += static_cast<int64_t>(size);
    s_allocCount += 1;
    s_tagMem[Int_MemFlagsTag(flags)] += static_cast<int64_t>(size);
}

void Unbook(size_t size, uint32_t flags) {
    s_memUsed -= static_cast<int64_t>(size);
    s_tagMem[Int_MemFlagsTag(flags)] -= static_cast<int64_t>(size);
}

// A resize may come before start-up has queried the page size.
size_t PageSize() {
    if (s_pageSize) return s_pageSize;
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    return info.dwPageSize ? info.dwPageSize : 4096;
}

size_t RoundToPages(size_t size, size_t page) { return (size + page - 1) / page * page; }

// The one released region kept with its pages: `bytes` from its start are
// resident and zeroed (poisoned for the address checker while kept), the
// rest of its `length` is reserved only.
struct KeptRegion {
    void* base = nullptr;
    size_t bytes = 0;
    size_t length = 0;
};
KeptRegion s_kept;

// Every release of a whole region, kept or not, ends here.
void ReleaseRegion(void* ptr, size_t size) {
    if (!VirtualFree(ptr, 0, MEM_RELEASE))
        Qel_ErrPrintf("Int_FreeMem: Releasing %zu bytes virtual memory failed!\n", size);
}

// Keeps the region at ptr in place of the one kept before. `size` is what its
// owner had in use, so the pages holding it are the committed ones.
bool KeepRegion(void* ptr, size_t size) {
    if (size < INT_MEM_KEEP_FROM || size > INT_MEM_KEEP_UP_TO) return false;
    Int_ReleaseKeptMem();
    const size_t length = Win32_RegionLength(ptr);
    if (length == 0) return false;
    // A reservation must read as zeros where it is committed again.
    const size_t bytes = std::min(RoundToPages(size, PageSize()), length);
    std::memset(ptr, 0, bytes);
    ASAN_POISON_MEMORY_REGION(ptr, bytes);
    s_kept = {ptr, bytes, length};
    return true;
}

// The kept region, when a reservation of `size` bytes would be as long.
void* TakeKeptRegion(size_t size) {
    if (!s_kept.base || RoundToPages(size, PageSize()) != s_kept.length) return nullptr;
    void* p = s_kept.base;
    ASAN_UNPOISON_MEMORY_REGION(p, s_kept.bytes);
    s_kept = {};
    return p;
}

}  // namespace

void Int_ReleaseKeptMem() {
    if (!s_kept.base) return;
    const KeptRegion kept = s_kept;
    s_kept = {};
    ASAN_UNPOISON_MEMORY_REGION(kept.base, kept.bytes);
    ReleaseRegion(kept.base, kept.bytes);
}

int64_t Int_GetKeptMem() { return static_cast<int64_t>(s_kept.bytes); }

void* Int_AllocMem(size_t size, uint32_t flags) {
    void* p;
    if (!(flags & INT_MEM_VIRTUAL) && size == 0) {
        p = s_emptyBlock;
    } else if (!(flags & INT_MEM_VIRTUAL)) {
        p = Win32_HeapAlloc(size);
        if (!p) p = Win32_HeapAlloc(size);
        if (!p) return nullptr;
    } else if (flags & INT_MEM_RESERVE) {
        // Address space only: booked page by page as it is committed by a resize.
        p = TakeKeptRegion(size);
        if (!p) p = VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS);
        if (!p) Qel_ErrPrintf("Int_AllocMem() failed reserving %zu bytes virtual memory\n", size);
        return p;
    } else {
        p = VirtualAlloc(nullptr, size, MEM_COMMIT, PAGE_READWRITE);
        if (!p) p = VirtualAlloc(nullptr, size, MEM_COMMIT, PAGE_READWRITE);
        if (!p) {
            Qel_ErrPrintf("Int_AllocMem() failed allocating %zu bytes virtual memory\n", size);
            return nullptr;
        }
    }
    Book(size, flags);
    if (!(flags & INT_MEM_UNZEROED) || (flags & INT_MEM_VIRTUAL)) std::memset(p, 0, size);
    return p;
}

void Int_FreeMem(void* ptr, size_t size, uint32_t flags) {
    if (size == 0) return;
    if (!ptr) {
        Qel_ErrPrintf("S_FreeMem: Trying to free NULL pointer, len %zu\n", size);
        return;
    }
    if (!(flags & INT_MEM_VIRTUAL)) {
        Win32_HeapFree(ptr);
    } else if (flags & INT_MEM_RESERVE) {
        VirtualFree(ptr, size, MEM_DECOMMIT);
    } else if (!KeepRegion(ptr, size)) {
        ReleaseRegion(ptr, size);
    }
    Unbook(size, flags);
}

void* Int_ReAllocMem(void* ptr, size_t oldSize, size_t newSize, uint32_t flags) {
    Qel_DPrintf(0x20, "%s: %zu bytes to %zu bytes\nold Ptr: %p\n", newSize < oldSize ? "shrinking" : "growing", oldSize,
                newSize, ptr);

    void* result;
    if (flags & INT_MEM_VIRTUAL) {
        // The block never moves: pages are committed or dropped at its end.
        const size_t page = PageSize();
        const size_t oldBytes = RoundToPages(oldSize, page);
        const size_t newBytes = RoundToPages(newSize, page);
        result = ptr;
        if (newBytes > oldBytes) {
            result = VirtualAlloc(ptr, newBytes, MEM_COMMIT, PAGE_READWRITE);
            if (result && result != ptr)
                Qel_ErrPrintf("Int_ReAllocMem() committing virtual memory, new address not same as old address!\n");
        } else if (newBytes < oldBytes) {
            if (!VirtualFree(static_cast<char*>(ptr) + newBytes, oldBytes - newBytes, MEM_DECOMMIT))
                Qel_ErrPrintf("Int_ReAllocMem() failed to decommit virtual memory!\n");
        }
    } else {
        if (newSize == 0) {
            // A heap block resized to nothing is gone; the caller must not keep it.
            if (ptr && oldSize && ptr != s_emptyBlock) {
                Win32_HeapFree(ptr);
                Unbook(oldSize, flags);
            }
            return nullptr;
        }
        result = Win32_HeapReAlloc(ptr == s_emptyBlock ? nullptr : ptr, newSize);
    }

    if (!result) {
        Qel_ErrPrintf("Int_ReAllocMem() failed re-allocating: %zu bytes\n", newSize);
        return nullptr;
    }

    const int64_t delta = static_cast<int64_t>(newSize) - static_cast<int64_t>(oldSize);
    s_memEver += static_cast<int64_t>(newSize);
    s_allocCount += 1;
    s_memUsed += delta;
    s_tagMem[Int_MemFlagsTag(flags)] += delta;
    if ((flags & INT_MEM_ZERO_TAIL) && newSize > oldSize)
        std::memset(static_cast<char*>(result) + oldSize, 0, newSize - oldSize);

    Qel_DPrintf(0x20, "succcessfully: new Ptr: %p\n", result);
    return result;
}

int64_t Int_GetMemUsed() { return s_memUsed; }
int64_t Int_GetMemEverAllocated() { return s_memEver; }
int64_t Int_GetAllocCount() { return s_allocCount; }
int64_t Int_GetTag0Mem() { return s_tagMem[0]; }
int64_t Int_GetTagMem(uint32_t tag) { return s_tagMem[tag & 127u]; }

uint32_t Int_QueryPageSize() {
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    s_pageSize = info.dwPageSize;
    Qel_DPrintf(0, "System PageSize = %d\n", static_cast<int>(s_pageSize));
    return s_pageSize;
}

uint32_t Int_GetPageSize() { return s_pageSize; }

int Int_MemorySufficient() {
    constexpr uint64_t kNeeded = 0x10000000;  // 256 MB
    MEMORYSTATUS status{};
    status.dwLength = sizeof status;
    GlobalMemoryStatus(&status);
    if (status.dwAvailPhys >= kNeeded || status.dwAvailPageFile >= kNeeded) return 1;
    return status.dwAvailPhys + status.dwAvailPageFile >= kNeeded ? 1 : 0;
}

void Int_SetMemoryFlushHook(Int_MemoryFlushHookFn hook) { s_flushHook = hook; }
Int_MemoryFlushHookFn Int_GetMemoryFlushHook() { return s_flushHook; }
