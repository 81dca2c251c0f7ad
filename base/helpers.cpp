#include "base/helpers.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "base/general.h"
#include "base/memory.h"
#include "base/vrmfile.h"

int32_t Max3(const int32_t values[3]) {
    int32_t m = values[0];
    if (values[1] > m) m = values[1];
    if (values[2] > m) m = values[2];
    return m;
}

int32_t PtrList_Count(const PtrList* list) {
    if (!list->begin) return 0;
    return static_cast<int32_t>(list->end - list->begin);
}

void PtrList_DeleteAll(PtrList* list) {
    for (void** p = list->begin; p && p != list->end; ++p) ::operator delete(*p);
    PtrList_FreeStorage(list);
}

void PtrList_FreeStorage(PtrList* list) {
    ::operator delete(list->begin);
    list->begin = list->end = list->capacity = nullptr;
}

void* Fx_AlignedAlloc16(size_t size) {
    // aligned_alloc wants a whole number of alignments; a zero size still gets a block.
    size_t rounded = (size + 15) & ~size_t{15};
    if (rounded < size) return nullptr;
    return std::aligned_alloc(16, rounded ? rounded : 16);
}

void Fx_AlignedFree(void* block) {
    if (block) std::free(block);
}

void Qel_DeleteFileBuffer(VRMFile* file) {
    if (!file) return;
    file->Close();
    Int_FreeRecord(file, 0);
}

StampRecord* Stamp_Init(StampRecord* record) {
    std::memset(record->words, 0, sizeof record->words);
    record->gameClock = g_SystemState ? g_SystemState->gameClock : 0;
    return record;
}
