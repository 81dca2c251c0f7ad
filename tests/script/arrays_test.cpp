#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/table.h"
#include "script/arrays.h"
#include "script/memory.h"
#include "script/values.h"
#include "support/logcapture.h"
#include "support/story.h"

namespace {

class ArraysTest : public testing::Test {
protected:
    void TearDown() override {
        SV_Release(&a);
        SV_Release(&k);
        EXPECT_EQ(Qel_TableGetCount(ctx->arrayTable), 0u);
        EXPECT_EQ(BookedBytes(ctx.get()), 0);
    }
    std::vector<int32_t> Ints(ScriptValue* v) {
        std::vector<int32_t> out;
        for (int32_t i = 0; i < SV_ArraySize(v); ++i) out.push_back(SV_ArrayRead(v, i)->i);
        return out;
    }
    ScriptTestContext ctx;
    ScriptValue a{}, k{};
};

TEST_F(ArraysTest, ElementsComeIntoBeingOnFirstAccess) {
    ASSERT_EQ(SV_ArrayAlloc(&a, 1000), &a);
    EXPECT_EQ(a.array->refCount, 1);
    EXPECT_NE(a.array->id, 0u);
    EXPECT_EQ(Qel_TableGet(ctx->arrayTable, a.array->id), reinterpret_cast<uintptr_t>(a.array));
    EXPECT_EQ(ctx->memBytes[SE_MEMCAT_ARRAY_VALUES], 0);
    EXPECT_EQ(SV_ArraySize(&a), 1000);
    ScriptValue* e = SV_ArrayRead(&a, 999);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->tag, VARTYPE_INTEGER);
    EXPECT_EQ(e->i, 0);
    EXPECT_EQ(a.array->SAR_Size, 1000);
    EXPECT_EQ(ctx->memBytes[SE_MEMCAT_ARRAY_VALUES], 1000 * static_cast<int32_t>(SE_SIZE_VALUE));
}

TEST_F(ArraysTest, ReadPastTheEndNamesTheBounds) {
    SV_ArrayAlloc(&a, 3);
    LogCapture capture;
    EXPECT_EQ(SV_ArrayRead(&a, 3), nullptr);
    EXPECT_EQ(SV_ArrayRead(&a, -1), nullptr);
    std::string log = capture.Take();
    EXPECT_NE(log.find("{   3*0}.SV_ArrayRead(3)  array index out of bounds [0..2]\n"), std::string::npos) << log;
    EXPECT_EQ(a.array->SAR_Size, -3);  // nothing was materialised
}

TEST_F(ArraysTest, InsertAppendsAtTheEndOrFails) {
    SV_ArrayAlloc(&a, 2);
    ScriptValue v{};
    SV_AssignInt(&v, 7);
    EXPECT_EQ(SV_ArrayInsert(&a, -1, &v), 0);
    EXPECT_EQ(Ints(&a), (std::vector<int32_t>{0, 0, 7}));
    SV_AssignInt(&v, 8);
    EXPECT_EQ(SV_ArrayInsert(&a, 3, &v), 0);
    EXPECT_EQ(Ints(&a), (std::vector<int32_t>{0, 0, 7, 8}));
    LogCapture capture;
    EXPECT_EQ(SV_ArrayInsert(&a, 5, &v), -1);
    EXPECT_NE(capture.Take().find("SV_ArrayInsert() index out of bounds"), std::string::npos);
    SV_AssignInt(&v, 1);
    EXPECT_EQ(SV_ArrayInsert(&a, 0, &v), 0);
    EXPECT_EQ(Ints(&a), (std::vector<int32_t>{1, 0, 0, 7, 8}));
}

TEST_F(ArraysTest, InsertIntoAFullArrayGrowsByEight) {
    SV_ArrayAlloc(&a, 4);
    SV_ArrayWriteInt(&a, 3, 3);
    ASSERT_EQ(a.array->SAR_MaxSize, 4);
    ScriptValue v{};
    SV_AssignInt(&v, 9);
    EXPECT_EQ(SV_ArrayInsert(&a, 2, &v), 0);
    EXPECT_EQ(a.array->SAR_MaxSize, 12);
    EXPECT_EQ(Ints(&a), (std::vector<int32_t>{0, 0, 9, 0, 3}));
}

TEST_F(ArraysTest, InsertAnElementOfTheSameArray) {
    SV_ArrayAlloc(&a, 4);
    SV_ArrayWriteString(&a, 1, "one");
    EXPECT_EQ(SV_ArrayInsert(&a, 0, SV_ArrayRead(&a, 1)), 0);  // the storage moves while inserting
    EXPECT_STREQ(SV_GetString(SV_ArrayRead(&a, 0)), "one");
    EXPECT_STREQ(SV_GetString(SV_ArrayRead(&a, 2)), "one");
    EXPECT_EQ(SV_ArrayRead(&a, 0)->dstring->refCount, 2);
}

TEST_F(ArraysTest, RemovingTheOnlyElementFreesTheStorage) {
    SV_ArrayAlloc(&a, 1);
    SV_ArrayWriteString(&a, 0, "x");
    EXPECT_EQ(SV_ArrayRemove(&a, 0), 0);
    EXPECT_EQ(a.array->elements, nullptr);
    EXPECT_EQ(SV_ArraySize(&a), 0);
    EXPECT_NE(a.array, nullptr);
    EXPECT_EQ(Qel_TableGetCount(ctx->stringTable), 0u);
    LogCapture capture;
    EXPECT_EQ(SV_ArrayRemove(&a, 0), -1);
    EXPECT_NE(capture.Take().find("SV_ArrayRemove() index out of bounds"), std::string::npos);
}

TEST_F(ArraysTest, RemoveKeepsOrderAndCapacity) {
    SV_ArrayAlloc(&a, 4);
    for (int i = 0; i < 4; ++i) SV_ArrayWriteInt(&a, i, i + 10);
    EXPECT_EQ(SV_ArrayRemove(&a, 1), 0);
    EXPECT_EQ(Ints(&a), (std::vector<int32_t>{10, 12, 13}));
    EXPECT_EQ(a.array->SAR_MaxSize, 4);
    SV_ArrayAlloc(&k, 3);
    EXPECT_EQ(SV_ArrayRemove(&k, 2), 0);  // not materialised: only the count changes
    EXPECT_EQ(k.array->SAR_Size, -2);
}

TEST_F(ArraysTest, Resize) {
    SV_ArrayAlloc(&a, 5);
    EXPECT_EQ(SV_ArrayResize(&a, 8), 8);
    EXPECT_EQ(a.array->SAR_Size, -8);
    EXPECT_EQ(SV_ArraySize(&a), 8);
    SV_ArrayWriteString(&a, 7, "last");
    SV_ArrayWriteInt(&a, 0, 5);
    EXPECT_EQ(SV_ArrayResize(&a, 2), 2);
    EXPECT_EQ(Qel_TableGetCount(ctx->stringTable), 0u);  // the dropped text is released
    EXPECT_EQ(SV_ArrayResize(&a, 4), 4);
    EXPECT_EQ(Ints(&a), (std::vector<int32_t>{5, 0, 0, 0}));
    EXPECT_EQ(SV_ArrayResize(&a, -1), -1);
    EXPECT_EQ(SV_ArrayResize(&a, 0), 0);
    EXPECT_EQ(a.array->elements, nullptr);
}

TEST_F(ArraysTest, NegativeAllocLeavesTheTarget) {
    SV_AssignInt(&a, 5);
    LogCapture capture;
    EXPECT_EQ(SV_ArrayAlloc(&a, -1), nullptr);
    EXPECT_NE(capture.Take().find("SV_ArrayAlloc()  tried to alloc array with negative size -1!"), std::string::npos);
    EXPECT_EQ(a.tag, VARTYPE_INTEGER);
}

TEST_F(ArraysTest, OperationsOnNonArraysAndNullArrays) {
    SV_AssignInt(&a, 3);
    SV_AssignArray(&k, nullptr);
    ScriptValue v{};
    struct Case {
        const char* log;
        bool failed;
    };
    LogCapture capture;
    std::vector<Case> cases = {
        {"3.SV_ArrayRead(0) operand 1 not an array", SV_ArrayRead(&a, 0) == nullptr},
        {"NULLa.SV_ArrayRead(0) tried to read nonexisting array", SV_ArrayRead(&k, 0) == nullptr},
        {"3.SV_ArrayWrite(1) operand 1 not an array", SV_ArrayWrite(&a, 1, &v) == nullptr},
        {"NULLa.SV_ArrayWrite(1,<type 0>) tried to write to nonexisting array", SV_ArrayWrite(&k, 1, &v) == nullptr},
        {"3.SV_ArrayResize() operand not an array", SV_ArrayResize(&a, 1) == -1},
        {"NULLa.SV_ArrayResize() tried resize nonexisting array", SV_ArrayResize(&k, 1) == -1},
        {"3.SV_ArrayInsert() operand not an array", SV_ArrayInsert(&a, 0, &v) == -1},
        {"NULLa.SV_ArrayInsert() tried resize nonexisting array", SV_ArrayInsert(&k, 0, &v) == -1},
        {"3.SV_ArrayRemove() operand not an array", SV_ArrayRemove(&a, 0) == -1},
        {"NULLa.SV_ArrayRemove() tried resize nonexisting array", SV_ArrayRemove(&k, 0) == -1},
    };
    std::string log = capture.Take();
    for (const Case& c : cases) {
        EXPECT_TRUE(c.failed) << c.log;
        EXPECT_NE(log.find(c.log), std::string::npos) << c.log;
    }
    EXPECT_EQ(SV_ArraySize(&a), -1);
    EXPECT_EQ(SV_ArraySize(&k), 0);
}

TEST_F(ArraysTest, WriteStringsHoldTheOnlyReference) {
    SV_ArrayAlloc(&a, 2);
    SV_ArrayWriteString(&a, 0, "abc");
    SV_ArrayWriteDString(&a, 1, "abcdef", 2);
    EXPECT_EQ(SV_ArrayRead(&a, 0)->dstring->refCount, 1);
    EXPECT_STREQ(SV_GetString(SV_ArrayRead(&a, 1)), "ab");
}

TEST_F(ArraysTest, SortByName) {
    const char* names[] = {"cherry", "apple", "Banana"};
    SV_ArrayAlloc(&a, 3);
    SV_ArrayAlloc(&k, 3);
    for (int i = 0; i < 3; ++i) {
        SV_ArrayWriteInt(&a, i, i);
        SV_ArrayWriteString(&k, i, names[i]);
    }
    SV_ArrayQSortByName(&a, &k, 0, 2, 0);
    EXPECT_EQ(Ints(&a), (std::vector<int32_t>{1, 2, 0}));  // apple, Banana, cherry
    SV_ArrayQSortByName(&a, &k, 0, 2, 1);
    // The keys stay in place: element j is sorted by key j whatever it holds.
    EXPECT_STREQ(SV_GetString(SV_ArrayRead(&k, 0)), "cherry");
    EXPECT_EQ(Ints(&a), (std::vector<int32_t>{1, 0, 2}));  // keys cherry, Banana, apple
}

TEST_F(ArraysTest, SortByIntKeepsReferencesAndIgnoresBadRanges) {
    SV_ArrayAlloc(&a, 4);
    SV_ArrayAlloc(&k, 4);
    const int keys[] = {5, -3, 9, 0};
    for (int i = 0; i < 4; ++i) {
        SV_ArrayWriteString(&a, i, std::to_string(keys[i]).c_str());
        SV_ArrayWriteInt(&k, i, keys[i]);
    }
    SV_ArrayQSortByInt(&a, &k, 0, 3, 0);
    const char* want[] = {"-3", "0", "5", "9"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_STREQ(SV_GetString(SV_ArrayRead(&a, i)), want[i]);
        EXPECT_EQ(SV_ArrayRead(&a, i)->dstring->refCount, 1);
    }
    // Ranges outside either array sort nothing.
    SV_ArrayQSortByInt(&a, &k, 0, 4, 1);
    SV_ArrayQSortByInt(&a, &k, -1, 3, 1);
    EXPECT_STREQ(SV_GetString(SV_ArrayRead(&a, 0)), "-3");
    SV_ArrayQSortByInt(&a, &k, 1, 3, 1);  // keys -3, 9, 0 for "0", "5", "9"
    EXPECT_STREQ(SV_GetString(SV_ArrayRead(&a, 1)), "5");
    EXPECT_STREQ(SV_GetString(SV_ArrayRead(&a, 3)), "0");
    ScriptValue n{};
    SV_AssignInt(&n, 1);
    LogCapture capture;
    SV_ArrayQSortByInt(&n, &k, 0, 1, 0);
    SV_ArrayQSortByName(&a, &n, 0, 1, 0);
    std::string log = capture.Take();
    EXPECT_NE(log.find("1.SV_ArrayQSortByName() operand 1 not an array"), std::string::npos) << log;
    EXPECT_NE(log.find("SV_ArrayQSortByName() operand 2 not an array"), std::string::npos) << log;
}

}  // namespace
