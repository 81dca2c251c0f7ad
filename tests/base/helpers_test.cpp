#include "base/helpers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "base/general.h"
#include "base/memory.h"
#include "base/vrmfile.h"

namespace {

TEST(Helpers, Max3) {
    struct Case {
        int32_t v[3];
        int32_t max;
    } cases[] = {{{1, 2, 3}, 3}, {{3, 2, 1}, 3}, {{1, 9, 3}, 9}, {{-5, -2, -9}, -2}, {{INT32_MIN, 0, INT32_MIN}, 0}};
    for (const Case& c : cases) EXPECT_EQ(Max3(c.v), c.max);
}

TEST(Helpers, PtrListCountsAndFreesItsElements) {
    PtrList empty{};
    EXPECT_EQ(PtrList_Count(&empty), 0);
    PtrList_DeleteAll(&empty);
    EXPECT_EQ(empty.begin, nullptr);

    // Three pointers in storage for four; the leak checker sees anything left.
    PtrList list{};
    list.begin = static_cast<void**>(::operator new(4 * sizeof(void*)));
    list.capacity = list.begin + 4;
    list.end = list.begin;
    for (int i = 0; i < 3; ++i) *list.end++ = ::operator new(24);
    EXPECT_EQ(PtrList_Count(&list), 3);
    PtrList_DeleteAll(&list);
    EXPECT_EQ(list.begin, nullptr);
    EXPECT_EQ(list.end, nullptr);
    EXPECT_EQ(list.capacity, nullptr);
    EXPECT_EQ(PtrList_Count(&list), 0);

    // Freeing the storage alone leaves the elements to their owner.
    void* kept = ::operator new(8);
    list.begin = static_cast<void**>(::operator new(sizeof(void*)));
    list.end = list.capacity = list.begin + 1;
    list.begin[0] = kept;
    PtrList_FreeStorage(&list);
    EXPECT_EQ(list.begin, nullptr);
    EXPECT_EQ(list.capacity, nullptr);
    ::operator delete(kept);
}

TEST(Helpers, AlignedBlocksAreAlignedTo16) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{15}, size_t{17}, size_t{4096}}) {
        void* p = Fx_AlignedAlloc16(size);
        ASSERT_NE(p, nullptr) << size;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u) << size;
        Fx_AlignedFree(p);
    }
    Fx_AlignedFree(nullptr);
    EXPECT_EQ(Fx_AlignedAlloc16(SIZE_MAX - 3), nullptr);
}

TEST(Helpers, DeleteFileBufferFreesTheBufferAndTheRecord) {
    auto* file = Int_AllocRecord<VRMFile>(0);
    ASSERT_NE(file, nullptr);
    file->size = 10;
    file->base = static_cast<uint8_t*>(Int_AllocMem(11, 0));
    file->cursor = file->base;
    Qel_DeleteFileBuffer(file);  // the leak checker sees a buffer or record left
    Qel_DeleteFileBuffer(nullptr);
}

TEST(Helpers, StampTakesTheGameClock) {
    StampRecord r;
    std::memset(&r, 0x5A, sizeof r);
    SystemState state{};
    state.gameClock = 123456;
    g_SystemState = &state;
    Stamp_Init(&r);
    g_SystemState = nullptr;
    for (int32_t w : r.words) EXPECT_EQ(w, 0);
    EXPECT_EQ(r.gameClock, 123456);
}

std::vector<std::string>* g_destroyed = nullptr;
struct Member {
    std::string name;
    ~Member() { g_destroyed->push_back(name); }
};

TEST(Helpers, DestroySubArraysRunsEveryMemberDestructorLastFirst) {
    std::vector<std::string> destroyed;
    g_destroyed = &destroyed;
    alignas(SubArrays<Member>) unsigned char raw[sizeof(SubArrays<Member>)];
    auto* record = new (raw) SubArrays<Member>;
    for (int i = 0; i < 7; ++i) record->first[i].name = "a" + std::to_string(i);
    for (int i = 0; i < 4; ++i) record->second[i].name = "b" + std::to_string(i);
    Obj_DestroySubArrays(record);
    EXPECT_EQ(destroyed, (std::vector<std::string>{"b3", "b2", "b1", "b0", "a6", "a5", "a4", "a3", "a2", "a1", "a0"}));
    g_destroyed = nullptr;
}

}  // namespace
