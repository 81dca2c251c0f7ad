// Small helpers shared by the object, scene and cockpit code: the largest of
// three, pointer lists, 16-byte aligned blocks, the deleting destructor of a
// data-file reader, the time-stamped record and the destruction of a record's
// two member arrays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>

class VRMFile;

// The largest of three integers.
int32_t Max3(const int32_t values[3]);

// An array of pointers kept as begin, end and capacity. The storage and every
// element are blocks of ::operator new.
struct PtrList {
    void** begin;
    void** end;
    void** capacity;
};

// Number of pointers held; 0 without storage.
int32_t PtrList_Count(const PtrList* list);
// Frees every pointer in order, then the storage; the list ends empty (all null).
void PtrList_DeleteAll(PtrList* list);
// Frees the storage only (the pointers it held stay alive); the list ends empty.
void PtrList_FreeStorage(PtrList* list);

// A block aligned to 16 bytes, null when there is no memory; free it with
// Fx_AlignedFree, which ignores null.
void* Fx_AlignedAlloc16(size_t size);
void Fx_AlignedFree(void* block);

// Closes a reader made on the heap (Int_AllocRecord) and frees the record.
void Qel_DeleteFileBuffer(VRMFile* file);

// 16 zeroed words and the game clock at the time it was made.
struct StampRecord {
    int32_t words[16];
    int32_t gameClock;
};
// Fills the record; the clock is 0 without a SystemState.
StampRecord* Stamp_Init(StampRecord* record);

// A record with an array of 7 and an array of 4 members of one kind.
template <class Member>
struct SubArrays {
    Member first[7];
    Member second[4];
};

// Runs the member destructor over both arrays, in the order a record's own
// destructor would: the later array first, each from its last member back.
template <class Member>
void Obj_DestroySubArrays(SubArrays<Member>* record) {
    std::destroy(std::rbegin(record->second), std::rend(record->second));
    std::destroy(std::rbegin(record->first), std::rend(record->first));
}
