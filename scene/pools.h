// The scene engine's four memory pools: tags of the base allocator with byte
// counters and peaks in the state (B bodies and named entries, I instances
// and their small items, J cuts and takes, R recordings).
#pragma once

#include <cstdint>

// Pool tags of the base allocator.
constexpr uint32_t B3D_TAG_I = 2;
constexpr uint32_t B3D_TAG_B = 3;
constexpr uint32_t B3D_TAG_J = 4;
constexpr uint32_t B3D_TAG_R = 5;

constexpr uint32_t B3D_MEM_ZERO = 0x10000;
constexpr uint32_t B3D_MEM_VIRTUAL = 0x800;

void* B3D_AllocMemB(int32_t size, uint32_t flags);
void* B3D_AllocMemJ(int32_t size, uint32_t flags);
void* B3D_AllocMemI(int32_t size);
void* B3D_ReAllocMemR(int32_t size);
void* B3D_ReAllocMemB(void* block, int32_t oldSize, int32_t newSize);
void* B3D_ReAllocMemJ(void* block, int32_t oldSize, int32_t newSize);
void B3D_FreeMemB(int32_t size, void* block, uint32_t flags);
void B3D_FreeMemJ(int32_t size, void* block, uint32_t flags);
void B3D_FreeMemI(int32_t size, void* block);
void B3D_FreeMemR(int32_t size, void* block);
// Records of pool I by their real size.
template <class T>
T* B3D_AllocRecordI() {
    return static_cast<T*>(B3D_AllocMemI(static_cast<int32_t>(sizeof(T))));
}
template <class T>
void B3D_FreeRecordI(T* rec) {
    B3D_FreeMemI(static_cast<int32_t>(sizeof(T)), rec);
}
// Test seam: the next n pool allocations fail as if the heap were out of memory.
void B3D_FailNextAllocations(int32_t n);
