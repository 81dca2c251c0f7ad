#include "scene/pools.h"

#include "base/log.h"
#include "base/memory.h"
#include "scene/state.h"

namespace {
int32_t s_failNext = 0;

void* PoolAlloc(size_t size, uint32_t flags) {
    if (s_failNext > 0) {
        --s_failNext;
        return nullptr;
    }
    return Int_AllocMem(size, flags);
}

void Count(int32_t& bytes, int32_t& peak, int32_t size) {
    bytes += size;
    if (bytes > peak) peak = bytes;
}

size_t Bytes(int32_t size) { return size > 0 ? static_cast<size_t>(size) : 0; }
}  // namespace

void B3D_FailNextAllocations(int32_t n) { s_failNext = n; }

void* B3D_AllocMemB(int32_t size, uint32_t flags) {
    void* p = PoolAlloc(Bytes(size), flags | Int_MemTag(B3D_TAG_B));
    if (!p) {
        Qel_DPrintf(0, "B3D_AllocMemB() failed to allocate %d bytes!\n", size);
        return nullptr;
    }
    Count(g_B3DState->poolBBytes, g_B3DState->poolBPeak, size);
    return p;
}

void* B3D_AllocMemJ(int32_t size, uint32_t flags) {
    void* p = PoolAlloc(Bytes(size), flags | Int_MemTag(B3D_TAG_J));
    if (!p) {
        Qel_DPrintf(0, "B3D_AllocMemJ() failed to allocate %d bytes!\n", size);
        return nullptr;
    }
    Count(g_B3DState->poolJBytes, g_B3DState->poolJPeak, size);
    return p;
}

void* B3D_AllocMemI(int32_t size) {
    void* p = PoolAlloc(Bytes(size), Int_MemTag(B3D_TAG_I) | B3D_MEM_ZERO);
    if (!p) {
        Qel_DPrintf(0, "B3D_AllocMemI() failed to allocate %d bytes!\n", size);
        return nullptr;
    }
    Count(g_B3DState->poolIBytes, g_B3DState->poolIPeak, size);
    return p;
}

void* B3D_ReAllocMemR(int32_t size) {
    void* p = PoolAlloc(Bytes(size), Int_MemTag(B3D_TAG_R) | B3D_MEM_ZERO);
    if (!p) {
        Qel_DPrintf(0, "B3D_ReAllocMemR() failed to allocate %d bytes!\n", size);
        return nullptr;
    }
    Count(g_B3DState->poolRBytes, g_B3DState->poolRPeak, size);
    return p;
}

namespace {
void* PoolReAlloc(void* block, int32_t oldSize, int32_t newSize, uint32_t tag, const char* who, int32_t& bytes,
                  int32_t& peak) {
    void* p = nullptr;
    if (s_failNext > 0) --s_failNext;
    else p = Int_ReAllocMem(block, Bytes(oldSize), Bytes(newSize), Int_MemTag(tag) | B3D_MEM_VIRTUAL | B3D_MEM_ZERO);
    if (!p) {
        Qel_DPrintf(0, "%s() failed to allocate %d bytes!\n", who, newSize);
        return nullptr;
    }
    Count(bytes, peak, newSize - oldSize);
    return p;
}
}  // namespace

void* B3D_ReAllocMemB(void* block, int32_t oldSize, int32_t newSize) {
    return PoolReAlloc(block, oldSize, newSize, B3D_TAG_B, "B3D_ReAllocMemB", g_B3DState->poolBBytes,
                       g_B3DState->poolBPeak);
}

void* B3D_ReAllocMemJ(void* block, int32_t oldSize, int32_t newSize) {
    return PoolReAlloc(block, oldSize, newSize, B3D_TAG_J, "B3D_ReAllocMemJ", g_B3DState->poolJBytes,
                       g_B3DState->poolJPeak);
}

void B3D_FreeMemB(int32_t size, void* block, uint32_t flags) {
    g_B3DState->poolBBytes -= size;
    Int_FreeMem(block, Bytes(size), flags | Int_MemTag(B3D_TAG_B));
}

void B3D_FreeMemJ(int32_t size, void* block, uint32_t flags) {
    g_B3DState->poolJBytes -= size;
    Int_FreeMem(block, Bytes(size), flags | Int_MemTag(B3D_TAG_J));
}

void B3D_FreeMemI(int32_t size, void* block) {
    g_B3DState->poolIBytes -= size;
    Int_FreeMem(block, Bytes(size), Int_MemTag(B3D_TAG_I) | B3D_MEM_ZERO);
}

void B3D_FreeMemR(int32_t size, void* block) {
    g_B3DState->poolRBytes -= size;
    Int_FreeMem(block, Bytes(size), Int_MemTag(B3D_TAG_R) | B3D_MEM_ZERO);
}
