#include <gtest/gtest.h>

#include "base/memory.h"
#include "render/pixelformat.h"
#include "scene/allocs.h"
#include "scene/framedraw.h"
#include "scene/names.h"
#include "scene/replay.h"
#include "scene/smallops.h"
#include "scene/startup.h"
#include "scene/state.h"
#include "scene/trees.h"
#include "scene_fixture.h"
#include "support/logcapture.h"

namespace {

using SceneState = SceneTest;

TEST_F(SceneState, StartValues) {
    const B3DState* s = g_B3DState;
    EXPECT_EQ(s->gammaValue, 127);
    EXPECT_EQ(s->shadowAlpha, 200);
    EXPECT_EQ(s->engineFlags, 0u);
    EXPECT_EQ(B3D_ListCount(&s->particleFree), B3D_PARTICLE_RECORDS);
    for (int32_t n = 0; n <= 5; ++n) EXPECT_EQ(B3D_MemStatistics(n), 0) << n;
    // The id tables hand out 2 first: their counter starts at 1.
    Inst3D* first = B3D_AllocInst();
    EXPECT_EQ(first->id, 2u);
}

TEST_F(SceneState, PoolCountersPeaksAndResize) {
    void* a = B3D_AllocMemB(100, B3D_MEM_VIRTUAL);
    ASSERT_NE(a, nullptr);
    void* b = B3D_AllocMemB(30, B3D_MEM_ZERO);
    EXPECT_EQ(g_B3DState->poolBBytes, 130);
    EXPECT_EQ(g_B3DState->poolBPeak, 130);
    B3D_FreeMemB(30, b, B3D_MEM_ZERO);
    EXPECT_EQ(g_B3DState->poolBBytes, 100);
    EXPECT_EQ(g_B3DState->poolBPeak, 130);

    // A growable array shrinks from 100 to 60 bytes: the counter falls by 40, the peak stays.
    a = B3D_ReAllocMemB(a, 100, 60);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(g_B3DState->poolBBytes, 60);
    EXPECT_EQ(g_B3DState->poolBPeak, 130);
    B3D_FreeMemB(60, a, B3D_MEM_VIRTUAL);

    void* j = B3D_AllocMemJ(64, B3D_MEM_ZERO);
    void* r = B3D_ReAllocMemR(16);
    void* i = B3D_AllocMemI(8);
    EXPECT_EQ(B3D_MemStatistics(0), 0);
    EXPECT_EQ(B3D_MemStatistics(1), 130);
    EXPECT_EQ(B3D_MemStatistics(2), 8);
    EXPECT_EQ(B3D_MemStatistics(3), 8);
    EXPECT_EQ(B3D_MemStatistics(4), 64);
    EXPECT_EQ(B3D_MemStatistics(5), 64);
    EXPECT_EQ(g_B3DState->poolRBytes, 16);
    for (int32_t n : {6, -1}) EXPECT_EQ(B3D_MemStatistics(n), 0) << n;
    B3D_FreeMemJ(64, j, B3D_MEM_ZERO);
    B3D_FreeMemR(16, r);
    B3D_FreeMemI(8, i);
    EXPECT_EQ(g_B3DState->poolJBytes, 0);
    EXPECT_EQ(g_B3DState->poolRBytes, 0);
    EXPECT_EQ(g_B3DState->poolIBytes, 0);
}

TEST_F(SceneState, FailedPoolAllocationsLogTheirMessage) {
    struct Case {
        const char* message;
        void* (*alloc)();
    };
    const Case cases[] = {
        {"B3D_AllocMemB() failed to allocate 12 bytes!\n", [] { return B3D_AllocMemB(12, 0); }},
        {"B3D_AllocMemJ() failed to allocate 12 bytes!\n", [] { return B3D_AllocMemJ(12, 0); }},
        {"B3D_AllocMemI() failed to allocate 12 bytes!\n", [] { return B3D_AllocMemI(12); }},
        {"B3D_ReAllocMemR() failed to allocate 12 bytes!\n", [] { return B3D_ReAllocMemR(12); }},
        {"B3D_ReAllocMemB() failed to allocate 12 bytes!\n", [] { return B3D_ReAllocMemB(nullptr, 0, 12); }},
        {"B3D_ReAllocMemJ() failed to allocate 12 bytes!\n", [] { return B3D_ReAllocMemJ(nullptr, 0, 12); }},
    };
    for (const Case& c : cases) {
        LogCapture log;
        B3D_FailNextAllocations(1);
        EXPECT_EQ(c.alloc(), nullptr);
        EXPECT_TRUE(log.Contains(c.message)) << log.Text();
    }
    for (int32_t n = 0; n <= 5; ++n) EXPECT_EQ(B3D_MemStatistics(n), 0) << n;
}

TEST_F(SceneState, EngineFlagAnswers) {
    EXPECT_EQ(B3D_CallSetEngineFlags(0x8000), -32768);   // bit 15: a negative answer
    EXPECT_EQ(B3D_CallSetEngineFlags(0x10001), -32767);  // the new word 0x18001, low 16 bits
    EXPECT_EQ(B3D_GetEngineFlags(), 0x18001u);
    EXPECT_EQ(B3D_CallClearEngineFlags(0x1), 0x18000);  // the whole word
    EXPECT_EQ(B3D_CallSetFlags(0x40), 0x40);
    EXPECT_EQ(B3D_GetEngineFlags(), 0x40u);
    B3D_SetEngineFlags(0x2);
    B3D_ClearEngineFlags(0x40);
    EXPECT_EQ(B3D_GetEngineFlags(), 0x2u);
}

TEST_F(SceneState, BodiesAreKeyedByIdPlusOne) {
    int body0 = 0, body7 = 7;
    B3D_StoreBody(0, &body0);
    B3D_StoreBody(7, &body7);
    EXPECT_EQ(B3D_FindBody(0), &body0);
    EXPECT_EQ(Qel_TableGet(g_B3DState->bodyTable, 1), reinterpret_cast<uintptr_t>(&body0));
    EXPECT_EQ(B3D_FindBody(7), &body7);
    EXPECT_EQ(B3D_FindBody(1), nullptr);
}

TEST_F(SceneState, FreedIdsAreNeverFoundAgain) {
    Inst3D* a = B3D_AllocInst();
    const uint32_t id = a->id;
    B3D_InstFree(a);
    EXPECT_EQ(B3D_InstFind(id), nullptr);
    // The counter moves on: a new record never takes a live id, nor the freed one at once.
    Inst3D* b = B3D_AllocInst();
    Inst3D* c = B3D_AllocInst();
    EXPECT_NE(b->id, id);
    EXPECT_NE(c->id, b->id);
    EXPECT_EQ(B3D_InstFind(b->id), b);
    EXPECT_EQ(B3D_InstFind(0), nullptr);
    EXPECT_EQ(B3D_SceneFind(12345), nullptr);
}

TEST_F(SceneState, NamedEntries) {
    B3DNamedEntry* a = B3D_AllocName("Ship_Hull");
    B3DNamedEntry* none = B3D_AllocName(nullptr);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(none, nullptr);
    EXPECT_NE(a->id, 0u);
    EXPECT_EQ(none->name, nullptr);
    EXPECT_EQ(B3D_FindEffectByName("ship_HULL"), a);
    EXPECT_EQ(B3D_FindEffectByName("ship"), nullptr);
    EXPECT_EQ(g_B3DState->poolBBytes, 2 * static_cast<int32_t>(sizeof(B3DNamedEntry)));

    // Freeing takes the entry, its name and its id.
    const uint32_t id = a->id;
    B3D_FreeNamedEntry(a);
    EXPECT_EQ(B3D_FindEffectByName("Ship_Hull"), nullptr);
    EXPECT_EQ(Qel_TableGet(g_B3DState->namedEntries, id), 0u);
    EXPECT_EQ(g_B3DState->poolBBytes, static_cast<int32_t>(sizeof(B3DNamedEntry)));
}

TEST_F(SceneState, TextureFormatsAreKeyedByCodePlusOneAndFreed) {
    auto* a = Int_AllocRecord<TextureBitmapFormat>(0);
    auto* b = Int_AllocRecord<TextureBitmapFormat>(0);
    EXPECT_EQ(B3D_AddTextureFormat(a, 0), 1);
    EXPECT_EQ(B3D_AddTextureFormat(b, 21), 1);
    EXPECT_EQ(Qel_TableGet(g_B3DState->textureFormats, 1), reinterpret_cast<uintptr_t>(a));
    EXPECT_EQ(Qel_TableGet(g_B3DState->textureFormats, 22), reinterpret_cast<uintptr_t>(b));
    const int64_t before = Int_GetTag0Mem();
    B3D_FreeTextureFormats();
    EXPECT_EQ(Qel_TableGetCount(g_B3DState->textureFormats), 0u);
    EXPECT_EQ(g_B3DState->textureFormatWords[0], -1);
    EXPECT_EQ(g_B3DState->textureFormatWords[1], -1);
    // The two records and their two table entries.
    EXPECT_EQ(before - Int_GetTag0Mem(),
              static_cast<int64_t>(2 * (sizeof(TextureBitmapFormat) + sizeof(QelTableEntry))));
}

}  // namespace
