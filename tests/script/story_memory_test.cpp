#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "base/table.h"
#include "script/loader.h"
#include "script/lookup.h"
#include "script/memory.h"
#include "support/logcapture.h"
#include "support/story.h"

namespace {

TEST(StoryMemory, BookingCountsBytesBlocksAndPeaks) {
    ScriptTestContext ctx;
    void* a = SB_Alloc(ctx.get(), 7, 0x10000, 100);
    void* b = SB_Alloc(ctx.get(), 7, 0, 50);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(static_cast<unsigned char*>(a)[99], 0);
    EXPECT_EQ(ctx->memBytes[7], 150);
    EXPECT_EQ(ctx->memBlocks[7], 2);
    SB_Free(ctx.get(), 7, a, 100);
    void* c = SB_Alloc(ctx.get(), 7, 0, 10);
    EXPECT_EQ(ctx->memBytes[7], 60);
    EXPECT_EQ(ctx->memPeakBytes[7], 150);
    EXPECT_EQ(ctx->memBlocks[7], 2);
    EXPECT_EQ(ctx->memPeakBlocks[7], 2);
    SB_Free(ctx.get(), 7, b, 50);
    SB_Free(ctx.get(), 7, c, 10);
    EXPECT_EQ(ctx->memBytes[7], 0);
    EXPECT_EQ(ctx->memBlocks[7], 0);
    EXPECT_EQ(BookedBytes(ctx.get()), 0);
}

TEST(StoryMemory, StaticStrings) {
    ScriptTestContext ctx;
    SetStaticStrings(ctx.get(), std::string("\0one\0two", 8));  // the last text has no NUL of its own
    EXPECT_STREQ(SB_String(ctx.get(), 0), "SB_String(0)");
    EXPECT_STREQ(SB_String(ctx.get(), 1), "one");
    EXPECT_STREQ(SB_String(ctx.get(), 5), "two");
    EXPECT_STREQ(SB_String(ctx.get(), 6), "wo");
    LogCapture capture;
    EXPECT_STREQ(SB_String(ctx.get(), 8), " ");
    EXPECT_STREQ(SB_String(ctx.get(), 0xffffffff), " ");
    std::string log = capture.Take();
    EXPECT_NE(log.find("SB_String:  invalid static string 8!\n"), std::string::npos) << log;
    EXPECT_NE(log.find("SB_String:  invalid static string -1!\n"), std::string::npos) << log;
}

TEST(StoryMemory, ArgumentTexts) {
    ScriptTestContext ctx;
    SetStaticStrings(ctx.get(), std::string("\0st", 4));
    ScriptValue args[4] = {};
    SV_AssignStaticString(&args[0], 1);
    SV_AssignString(&args[1], "dyn");
    SV_AssignInt(&args[2], 5);
    args[3].tag = VARTYPE_DSTRING;  // without record
    EXPECT_STREQ(SB_ArgumentText(args, 0, 4), "st");
    EXPECT_STREQ(SB_ArgumentText(args, 1, 4), "dyn");
    EXPECT_STREQ(SB_ArgumentText(args, 2, 4), "<invalid>");
    EXPECT_STREQ(SB_ArgumentText(args, 3, 4), "<invalid>");
    EXPECT_STREQ(SB_ArgumentText(args, 1, 1), "<invalid>");
    EXPECT_STREQ(SB_ArgumentText(args, 1, -1), "dyn");
    SV_Release(&args[1]);
}

const char* kStory = R"(
.func "Main"
    c0
    ret
.object 10
.func "Foo"
    c1
    ret
.object 11 super 10
.func "Bar"
    c2
    ret
.object 12
)";

class LookupTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(LoadStoryImage(ctx.get(), AssembleStory(kStory)), 1); }
    void TearDown() override {
        if (inst) {
            Qel_TableRemove(ctx->instanceTable, static_cast<uint32_t>(-inst->id - 1));
            SB_FreeRecord(ctx.get(), SE_MEMCAT_INSTANCES, inst);
        }
    }
    // An instance of `cls` entered as the "new" instruction enters it.
    StoryInstance* NewInstance(int32_t cls) {
        inst = SB_AllocRecord<StoryInstance>(ctx.get(), SE_MEMCAT_INSTANCES);
        inst->classObject = FindStoryObject(ctx.get(), cls);
        uint32_t key = Qel_TableAdd(ctx->instanceTable, reinterpret_cast<uintptr_t>(inst));
        inst->id = -static_cast<int32_t>(key) - 1;
        return inst;
    }
    uint32_t Position(int32_t object, const char* name) {
        StoryObject* o = FindStoryObject(ctx.get(), object);
        for (uint32_t i = 0; i < o->functionCount; ++i)
            if (FunctionName(ctx.get(), o->functions[i]) == name) return o->functions[i].position;
        return 0xffffffff;
    }
    ScriptTestContext ctx;
    StoryInstance* inst = nullptr;
};

TEST_F(LookupTest, FindObjectsAndInstances) {
    EXPECT_EQ(SB_FindObject(ctx.get(), 0), &ctx->objects[0]);
    EXPECT_EQ(SB_FindObject(ctx.get(), 11)->id, 11);
    EXPECT_EQ(SB_FindObject(ctx.get(), 13), nullptr);
    EXPECT_EQ(SB_FindObject(ctx.get(), -5), nullptr);
    EXPECT_EQ(SB_FindObject(ctx.get(), INT32_MIN), nullptr);
    StoryInstance* i = NewInstance(11);
    EXPECT_EQ(SB_FindObject(ctx.get(), i->id), i);
}

TEST_F(LookupTest, FunctionExistsAlongTheSuperChain) {
    EXPECT_EQ(SB_ObjectFunctionExists(11, "Bar"), 1);
    EXPECT_EQ(SB_ObjectFunctionExists(11, "Foo"), 1);
    EXPECT_EQ(SB_ObjectFunctionExists(10, "Bar"), 0);
    EXPECT_EQ(SB_ObjectFunctionExists(12, "Foo"), 0);
    EXPECT_EQ(SB_ObjectFunctionExists(99, "Foo"), 0);
    StoryInstance* i = NewInstance(11);
    EXPECT_EQ(SB_ObjectFunctionExists(i->id, "Foo"), 1);
}

TEST_F(LookupTest, LiveObjects) {
    ScriptValue v{};
    SV_AssignInt(&v, 10);
    EXPECT_EQ(SB_IsLiveObject(&v), 1);
    SV_AssignInt(&v, 0);
    EXPECT_EQ(SB_IsLiveObject(&v), 0);
    SV_AssignInt(&v, 13);
    EXPECT_EQ(SB_IsLiveObject(&v), 0);
    StoryInstance* i = NewInstance(10);
    SV_AssignObject(&v, i);
    EXPECT_EQ(SB_IsLiveObject(&v), 1);
    i->classObject = nullptr;
    EXPECT_EQ(SB_IsLiveObject(&v), 0);
    i->refCount = 0;  // the record is freed by the fixture
    v.tag = VARTYPE_UNDEFINED;
}

TEST_F(LookupTest, DebugAddresses) {
    char buf[100];
    char expect[100];
    uint32_t bar = Position(11, "Bar");
    ASSERT_EQ(bar, 4u);  // after Main and Foo, two words each
    // Any position inside a function names it.
    EXPECT_STREQ(SE_GetDebugAddress(ctx.get(), buf, sizeof buf, bar + 1, FindStoryObject(ctx.get(), 11)),
                 "#11[000005]11.Bar");
    StoryInstance* i = NewInstance(10);
    uint32_t foo = Position(10, "Foo");
    std::snprintf(expect, sizeof expect, "#%d(10)[%06x]10.Foo", i->id, foo);
    EXPECT_STREQ(SE_GetDebugAddress(ctx.get(), buf, sizeof buf, foo, i), expect);
    EXPECT_STREQ(SE_GetDebugAddress(ctx.get(), buf, sizeof buf, 0, nullptr), "[000000]0.Main");
    EXPECT_STREQ(SE_GetDebugAddress(ctx.get(), buf, 5, 0, nullptr), "[000");

    SE_Task task{};
    task.position = foo;
    task.object = FindStoryObject(ctx.get(), 10);
    EXPECT_STREQ(SE_GetTaskDebugAddress(buf, &task, ctx.get()), "#10[000002]10.Foo");
    EXPECT_STREQ(SE_GetTaskDebugAddress(buf, nullptr, ctx.get()), "");
    EXPECT_STREQ(SE_GetCurrentDebugAddress(), "invalid address");
    EXPECT_STREQ(SE_PositionText(), "");
    ctx->currentTask = &task;
    EXPECT_STREQ(SE_GetCurrentDebugAddress(), "#10[000002]10.Foo");
    EXPECT_STREQ(SE_PositionText(), "#10[000002]10.Foo");
    ctx->currentTask = nullptr;
}

TEST_F(LookupTest, InvalidFunctionNameInADebugAddress) {
    ctx->objects[0].functions[0].name = ctx->staticSize;  // beyond the block
    char buf[100];
    EXPECT_STREQ(SE_GetDebugAddress(ctx.get(), buf, sizeof buf, 0, nullptr),
                 "[000000]0.**invalid string in SE_GetDebugAddress**");
    ctx->objects[0].functions[0].name = 1;
}

}  // namespace
