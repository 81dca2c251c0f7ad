#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "base/table.h"
#include "script/arrays.h"
#include "script/memory.h"
#include "script/operators.h"
#include "script/tables.h"
#include "script/values.h"
#include "support/logcapture.h"
#include "support/story.h"

namespace {

class ValuesTest : public testing::Test {
protected:
    void SetUp() override { SetStaticStrings(ctx.get(), std::string("\0a\0\0five", 9)); }
    // Offsets into the block above.
    static constexpr uint32_t kA = 1, kEmpty = 3, kFive = 4;
    ScriptTestContext ctx;
};

std::string Text(const ScriptValue* v) {
    ScriptValue out{};
    std::string s = SV_ToString(&out, v);
    SV_Release(&out);
    return s;
}

TEST_F(ValuesTest, CopiedFloatIsIndependentOfItsSource) {
    ScriptValue a{}, b{};
    SV_AssignFloat(&a, 2.5);
    SV_Copy(&a, &b);
    SV_OpMinus(&b);
    EXPECT_EQ(a.f, 2.5);
    EXPECT_EQ(b.f, -2.5);
}

TEST_F(ValuesTest, CopiedDStringSharesTheRecordUntilTheLastRelease) {
    ScriptValue a{}, b{};
    SV_AssignString(&a, "shared");
    SV_Copy(&a, &b);
    ASSERT_EQ(a.dstring, b.dstring);
    uint32_t id = a.dstring->id;
    EXPECT_NE(id, 0u);
    EXPECT_EQ(a.dstring->refCount, 2);
    SV_Release(&a);
    EXPECT_EQ(a.tag, VARTYPE_UNDEFINED);
    EXPECT_STREQ(SV_GetString(&b), "shared");
    EXPECT_NE(Qel_TableGet(ctx->stringTable, id), 0u);
    SV_Release(&b);
    EXPECT_EQ(Qel_TableGet(ctx->stringTable, id), 0u);
    EXPECT_EQ(ctx->memBlocks[SE_MEMCAT_DSTRING], 0);
    EXPECT_EQ(ctx->memBytes[SE_MEMCAT_TEXT], 0);
}

TEST_F(ValuesTest, CopyOntoItselfKeepsTheValue) {
    ScriptValue a{};
    SV_AssignString(&a, "self");
    SV_Copy(&a, &a);
    EXPECT_EQ(a.dstring->refCount, 1);
    EXPECT_STREQ(SV_GetString(&a), "self");
    SV_Release(&a);
}

TEST_F(ValuesTest, CopyFromInsideTheContainerTheTargetHolds) {
    // The cell holds the only reference to the array that holds the source.
    ScriptValue a{}, s{};
    SV_ArrayAlloc(&a, 1);
    SV_AssignString(&s, "inner");
    SV_ArrayWrite(&a, 0, &s);
    SV_Release(&s);
    SV_Copy(SV_ArrayRead(&a, 0), &a);
    ASSERT_EQ(a.tag, VARTYPE_DSTRING);
    EXPECT_STREQ(SV_GetString(&a), "inner");
    EXPECT_EQ(a.dstring->refCount, 1);
    SV_Release(&a);
    EXPECT_EQ(BookedBlocks(ctx.get()), 1);  // only the static strings are left
}

TEST_F(ValuesTest, AssignStaticStringReleasesTheOldContent) {
    ScriptValue a{};
    SV_AssignString(&a, "gone");
    SV_AssignStaticString(&a, kA);
    EXPECT_EQ(a.tag, VARTYPE_STRING);
    EXPECT_EQ(Qel_TableGetCount(ctx->stringTable), 0u);
    EXPECT_STREQ(SV_GetString(&a), "a");
}

TEST_F(ValuesTest, AssignStringFromItsOwnText) {
    ScriptValue a{};
    SV_AssignString(&a, "again");
    SV_AssignString(&a, SV_GetString(&a));
    EXPECT_STREQ(SV_GetString(&a), "again");
    SV_AssignDString(&a, SV_GetString(&a), 3);
    EXPECT_STREQ(SV_GetString(&a), "aga");
    SV_Release(&a);
}

TEST_F(ValuesTest, AssignDStringLengths) {
    ScriptValue a{};
    LogCapture capture;
    SV_AssignDString(&a, "ab", 5);
    std::string log = capture.Take();
    EXPECT_STREQ(SV_GetString(&a), "ab");
    EXPECT_NE(log.find("SV_AssignDString(ab, 3[5] string shorter than len"), std::string::npos) << log;
    SV_AssignDString(&a, "abc", -4);
    EXPECT_STREQ(SV_GetString(&a), "");
    SV_AssignDString(&a, "abc", 1);
    EXPECT_STREQ(SV_GetString(&a), "a");
    EXPECT_EQ(SV_GetStringLength(&a), 1);
    SV_Release(&a);
}

TEST_F(ValuesTest, EveryWriteSetsTheWholePayload) {
    ScriptValue a{};
    SV_AssignFloat(&a, -1.0);
    SV_AssignInt(&a, -2);
    EXPECT_EQ(a.q, -2);
    SV_AssignFloat(&a, -1.0);
    SV_AssignStaticString(&a, 7);
    EXPECT_EQ(a.bits, 7u);
    SV_AssignAddress(&a, 0x12345);
    EXPECT_EQ(a.bits, 0x12345u);
}

struct Truth {
    const char* name;
    ScriptValue v;
    int isTrue, isFalse;
};

ScriptValue Cell(uint8_t tag, uint64_t bits) {
    ScriptValue v{};
    v.tag = tag;
    v.bits = bits;
    return v;
}

ScriptValue FloatCell(double d) {
    ScriptValue v{};
    v.tag = VARTYPE_FLOAT;
    v.f = d;
    return v;
}

TEST_F(ValuesTest, TruthTests) {
    const Truth cases[] = {
        {"undefined", Cell(VARTYPE_UNDEFINED, 0), 0, 0},
        {"int 0", Cell(VARTYPE_INTEGER, 0), 0, 1},
        {"int -1", Cell(VARTYPE_INTEGER, static_cast<uint64_t>(-1)), 1, 0},
        {"string 0", Cell(VARTYPE_STRING, 0), 0, 1},
        {"string with empty text", Cell(VARTYPE_STRING, kEmpty), 1, 0},
        {"null array", Cell(VARTYPE_ARRAY, 0), 0, 1},
        {"null table", Cell(VARTYPE_TABLE, 0), 0, 1},
        {"null dstring", Cell(VARTYPE_DSTRING, 0), 0, 1},
        {"null object", Cell(VARTYPE_OBJECT, 0), 0, 1},
        {"float 0", FloatCell(0.0), 0, 1},
        {"float -0", FloatCell(-0.0), 0, 1},
        {"float NaN", FloatCell(std::nan("")), 1, 0},
        {"quad 0", Cell(VARTYPE_QUAD, 0), 0, 1},
        {"quad big", Cell(VARTYPE_QUAD, 1ull << 40), 1, 0},
        {"task", Cell(VARTYPE_TASK, 0), 0, 0},
        {"address", Cell(VARTYPE_ADDRESS, 5), 0, 0},
        {"invalid 6", Cell(6, 0), 0, 0},
    };
    for (const Truth& c : cases) {
        EXPECT_EQ(SV_IsTrue(&c.v), c.isTrue) << c.name;
        EXPECT_EQ(SV_IsFalse(&c.v), c.isFalse) << c.name;
    }
}

TEST_F(ValuesTest, ObjectValuesFollowTheInstance) {
    auto* inst = SB_AllocRecord<StoryInstance>(ctx.get(), SE_MEMCAT_INSTANCES);
    StoryObject cls{};
    inst->id = -2;
    inst->classObject = &cls;
    ScriptValue a{}, b{};
    SV_AssignObject(&a, inst);
    EXPECT_EQ(inst->refCount, 1u);
    EXPECT_EQ(SV_IsTrue(&a), 1);
    EXPECT_EQ(Text(&a), "<object -2>");
    // Deleted: the class goes, the record waits for its last reference.
    inst->classObject = nullptr;
    EXPECT_EQ(SV_IsFalse(&a), 1);
    SV_Copy(&a, &b);
    EXPECT_EQ(b.tag, VARTYPE_OBJECT);
    EXPECT_EQ(b.object, nullptr);
    SV_AssignObject(&b, inst);
    EXPECT_EQ(b.object, nullptr);
    EXPECT_EQ(ctx->memBlocks[SE_MEMCAT_INSTANCES], 1);
    SV_Release(&a);
    EXPECT_EQ(ctx->memBlocks[SE_MEMCAT_INSTANCES], 0);
}

TEST_F(ValuesTest, TaskValuesKeepAnEndedTaskUntilReleased) {
    auto* task = SB_AllocRecord<SE_Task>(ctx.get(), SE_MEMCAT_TASKS);
    task->id = 7;
    ScriptValue a{}, b{};
    SV_AssignTask(&a, task);
    SV_Copy(&a, &b);
    EXPECT_EQ(task->refCount, 2);
    task->id = 0;  // ended
    ScriptValue c{};
    SV_Copy(&a, &c);
    EXPECT_EQ(c.task, nullptr);
    SV_Release(&a);
    EXPECT_EQ(ctx->memBlocks[SE_MEMCAT_TASKS], 1);
    SV_Release(&b);
    EXPECT_EQ(ctx->memBlocks[SE_MEMCAT_TASKS], 0);
}

TEST_F(ValuesTest, ReleasingInvalidTagsLogs) {
    ScriptValue v = Cell(8, 0x1234);
    LogCapture capture;
    SV_Release(&v);
    std::string log = capture.Take();
    EXPECT_NE(log.find("SV_Release() Trying to release unknown var type 8\n"), std::string::npos) << log;
    EXPECT_EQ(v.tag, VARTYPE_UNDEFINED);
    SV_UserRecord user{3, 0, 0, 0};
    v = Cell(VARTYPE_USER, 0);
    v.user = &user;
    capture.Take();
    SV_Release(&v);
    log = capture.Take();
    EXPECT_NE(log.find("SV_Release() Actually VARTYPE_USER shouldn't exist yet!\n"), std::string::npos);
    EXPECT_EQ(user.refCount, 3);
    EXPECT_EQ(v.tag, VARTYPE_UNDEFINED);
}

TEST_F(ValuesTest, InitVariableByKind) {
    float f = 1.5f;
    uint32_t fbits;
    std::memcpy(&fbits, &f, 4);
    struct Case {
        uint32_t kind, value;
        uint8_t tag;
        int64_t payload;
    } cases[] = {
        {0, 9, VARTYPE_INTEGER, 0},    {1, 0xffffffff, VARTYPE_INTEGER, -1}, {2, kA, VARTYPE_STRING, kA},
        {3, 9, VARTYPE_ARRAY, 0},      {4, 9, VARTYPE_INTEGER, 0},           {7, 9, VARTYPE_UNDEFINED, 0},
        {11, 9, VARTYPE_UNDEFINED, 0},
    };
    for (const Case& c : cases) {
        ScriptValue v{};
        SV_AssignString(&v, "old");
        StoryVarDesc d{0, c.kind, c.value, 0};
        SV_InitVariable(&v, &d);
        EXPECT_EQ(v.tag, c.tag) << "kind " << c.kind;
        EXPECT_EQ(v.q, c.payload) << "kind " << c.kind;
    }
    StoryVarDesc d{0, 10, fbits, 0};
    ScriptValue v{};
    SV_InitVariable(&v, &d);
    EXPECT_EQ(v.tag, VARTYPE_FLOAT);
    EXPECT_EQ(v.f, 1.5);
    EXPECT_EQ(Qel_TableGetCount(ctx->stringTable), 0u);
}

TEST_F(ValuesTest, DisplayTexts) {
    ScriptValue v{};
    EXPECT_EQ(Text(&(v = Cell(VARTYPE_INTEGER, static_cast<uint64_t>(-5)))), "-5");
    EXPECT_EQ(Text(&(v = Cell(VARTYPE_STRING, kFive))), "'five'");
    EXPECT_EQ(Text(&(v = Cell(VARTYPE_ARRAY, 0))), "NULLa");
    EXPECT_EQ(Text(&(v = Cell(VARTYPE_TABLE, 0))), "[]");
    EXPECT_EQ(Text(&(v = Cell(VARTYPE_OBJECT, 0))), "<object null>");
    EXPECT_EQ(Text(&(v = FloatCell(2.5))), "2.5");
    EXPECT_EQ(Text(&(v = Cell(VARTYPE_QUAD, 1ull << 40))), "1099511627776");
    EXPECT_EQ(Text(&(v = Cell(VARTYPE_UNDEFINED, 0))), "<type 0>");
    EXPECT_EQ(Text(&(v = Cell(VARTYPE_TASK, 0))), "<type 5>");
    EXPECT_EQ(Text(&(v = Cell(VARTYPE_ADDRESS, 3))), "<type 13>");

    ScriptValue s{};
    SV_AssignString(&s, "a");
    EXPECT_EQ(Text(&s), "\"a\"");

    ScriptValue a{};
    SV_ArrayAlloc(&a, 3);
    EXPECT_EQ(Text(&a), "{   3*0}");
    SV_ArrayWriteInt(&a, 0, 1);
    ScriptValue st = Cell(VARTYPE_STRING, kA);
    SV_ArrayWrite(&a, 1, &st);
    SV_ArrayWrite(&a, 2, &(v = FloatCell(2.5)));
    EXPECT_EQ(Text(&a), "{1,'a',2.5}");
    SV_ArrayWrite(&a, 1, &s);
    EXPECT_EQ(Text(&a), "{1,\"a\",2.5}");
    SV_ArrayResize(&a, 0);
    EXPECT_EQ(Text(&a), "{}");

    ScriptValue t{};
    SV_TableAlloc(&t);
    EXPECT_EQ(Text(&t), "[]");
    ScriptValue k = Cell(VARTYPE_INTEGER, 1);
    SV_TableAdd(&t, &k, &s);
    EXPECT_EQ(Text(&t), "[1:\"a\"]");
    SV_Release(&t);
    SV_Release(&a);
    SV_Release(&s);
}

TEST_F(ValuesTest, ContainersThatHoldThemselvesPrintDots) {
    ScriptValue a{}, t{};
    SV_ArrayAlloc(&a, 2);
    SV_ArrayWrite(&a, 0, &a);
    SV_ArrayWrite(&a, 1, &a);
    EXPECT_EQ(Text(&a), "{...,...}");
    SV_TableAlloc(&t);
    ScriptValue k = Cell(VARTYPE_INTEGER, 1);
    SV_TableAdd(&t, &k, &t);
    SV_ArrayWriteInt(&a, 1, 5);
    SV_ArrayWrite(&a, 0, &t);
    EXPECT_EQ(Text(&a), "{[1:...],5}");
    // Break the cycles so that everything is freed.
    SV_TableRemove(&t, &k);
    SV_Release(&t);
    SV_Release(&a);
    EXPECT_EQ(Qel_TableGetCount(ctx->arrayTable), 0u);
    EXPECT_EQ(Qel_TableGetCount(ctx->tableTable), 0u);
}

TEST_F(ValuesTest, DeepNestingIsCutShort) {
    ScriptValue outer{};
    SV_ArrayAlloc(&outer, 1);
    ScriptValue cur{};
    SV_Copy(&outer, &cur);
    for (int i = 0; i < 100; ++i) {
        ScriptValue next{};
        SV_ArrayAlloc(&next, 1);
        SV_ArrayWrite(&cur, 0, &next);
        SV_Copy(&next, &cur);
        SV_Release(&next);
    }
    std::string text = Text(&outer);
    EXPECT_NE(text.find("..."), std::string::npos);
    EXPECT_LT(text.size(), 200u);
    SV_Release(&cur);
    SV_Release(&outer);
    EXPECT_EQ(Qel_TableGetCount(ctx->arrayTable), 0u);
}

TEST_F(ValuesTest, TableAssignOfNullMakesANewTable) {
    ScriptValue t{}, u{};
    SV_AssignTable(&t, nullptr);
    ASSERT_EQ(t.tag, VARTYPE_TABLE);
    ASSERT_NE(t.table, nullptr);
    EXPECT_EQ(t.table->refCount, 1);
    SV_AssignTable(&u, t.table);
    EXPECT_EQ(t.table->refCount, 2);
    SV_Release(&t);
    SV_Release(&u);
    EXPECT_EQ(ctx->memBlocks[SE_MEMCAT_TABLE], 0);
}

}  // namespace
