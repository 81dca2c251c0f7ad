// Tagged memory: one allocator front end with byte counters per memory tag.
// The caller remembers each block's size and flags; the allocator keeps no header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>

// Allocation flag bits (the memory tag lives in bits 24-30).
constexpr uint32_t INT_MEM_VIRTUAL = 0x800;      // block comes from the virtual-memory layer
constexpr uint32_t INT_MEM_RESERVE = 0x1000;     // with INT_MEM_VIRTUAL: reserve address space only
constexpr uint32_t INT_MEM_ZERO_TAIL = 0x10000;  // on resize: zero the grown tail
constexpr uint32_t INT_MEM_UNZEROED = 0x20000;   // heap block the caller fills whole: not cleared

constexpr uint32_t Int_MemTag(uint32_t tag) { return (tag & 127u) << 24; }
constexpr uint32_t Int_MemFlagsTag(uint32_t flags) { return (flags >> 24) & 127u; }

void* Int_AllocMem(size_t size, uint32_t flags);
void Int_FreeMem(void* ptr, size_t size, uint32_t flags);
void* Int_ReAllocMem(void* ptr, size_t oldSize, size_t newSize, uint32_t flags);

// A released virtual region of at least INT_MEM_KEEP_FROM bytes in use (and
// at most INT_MEM_KEEP_UP_TO) is kept with its pages, zeroed, for the next
// reservation of the same length, so that a large working array filled
// again does not pay for fresh pages. The books count it free at once; one
// region is kept at a time, and this gives it back to the system.
constexpr size_t INT_MEM_KEEP_FROM = size_t(256) << 10;
constexpr size_t INT_MEM_KEEP_UP_TO = size_t(32) << 20;
void Int_ReleaseKeptMem();
// Bytes of pages the kept region holds (0 when none): free, not in use.
int64_t Int_GetKeptMem();

// Statistics: plain reads of the process-wide counters.
int64_t Int_GetMemUsed();
int64_t Int_GetMemEverAllocated();
int64_t Int_GetAllocCount();
int64_t Int_GetTag0Mem();
int64_t Int_GetTagMem(uint32_t tag);

// Asks the operating system for its page size, stores and logs it.
uint32_t Int_QueryPageSize();
uint32_t Int_GetPageSize();
// 1 when enough physical memory or page file is available to run, else 0.
int Int_MemorySufficient();

// The program's memory-flush routine; the base library only keeps it.
using Int_MemoryFlushHookFn = void (*)();
void Int_SetMemoryFlushHook(Int_MemoryFlushHookFn hook);
Int_MemoryFlushHookFn Int_GetMemoryFlushHook();

// Records are allocated and freed by their real size through these two, never
// by a byte count written out by hand (records hold 64-bit pointers here).
template <class T>
T* Int_AllocRecord(uint32_t flags) {
    static_assert(std::is_trivially_destructible_v<T>, "records are plain data");
    void* p = Int_AllocMem(sizeof(T), flags);
    return p ? static_cast<T*>(p) : nullptr;
}

template <class T>
void Int_FreeRecord(T* rec, uint32_t flags) {
    if (rec) Int_FreeMem(rec, sizeof(T), flags);
}
