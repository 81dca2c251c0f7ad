#include <gtest/gtest.h>

#include <set>
#include <string>

#include "base/table.h"
#include "script/memory.h"
#include "script/tables.h"
#include "script/values.h"
#include "support/logcapture.h"
#include "support/story.h"

namespace {

class TablesTest : public testing::Test {
protected:
    void SetUp() override {
        SetStaticStrings(ctx.get(), std::string("\0abc\0"
                                                "0",
                                                7));
        SV_TableAlloc(&t);
    }
    void TearDown() override {
        SV_Release(&t);
        EXPECT_EQ(Qel_TableGetCount(ctx->tableTable), 0u);
        EXPECT_EQ(Qel_TableGetCount(ctx->stringTable), 0u);
        EXPECT_EQ(BookedBlocks(ctx.get()), 1);  // the static strings
    }
    static ScriptValue Int(int32_t n) {
        ScriptValue v{};
        SV_AssignInt(&v, n);
        return v;
    }
    static ScriptValue Static(uint32_t n) {
        ScriptValue v{};
        SV_AssignStaticString(&v, n);
        return v;
    }
    ScriptTestContext ctx;
    ScriptValue t{};
};

TEST_F(TablesTest, BucketsDoubleAtTheSixteenthEntry) {
    EXPECT_EQ(t.table->buckets, nullptr);
    for (int i = 1; i <= 15; ++i) {
        ScriptValue k = Int(i);
        ASSERT_EQ(SV_TableAdd(&t, &k, &k), 1);
    }
    EXPECT_EQ(t.table->bucketCount, 4u);
    ScriptValue k = Int(16);
    SV_TableAdd(&t, &k, &k);
    EXPECT_EQ(t.table->bucketCount, 8u);
    EXPECT_EQ(SV_TableSize(&t), 16u);
    for (int i = 1; i <= 16; ++i) {
        ScriptValue key = Int(i);
        ScriptValue* d = SV_TableFind(&t, &key);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->i, i);
    }
}

TEST_F(TablesTest, AddingAKeyTwiceReplacesItsData) {
    ScriptValue k = Int(5), one = Int(1), s{};
    SV_AssignString(&s, "second");
    SV_TableAdd(&t, &k, &one);
    SV_TableAdd(&t, &k, &s);
    SV_Release(&s);
    EXPECT_EQ(SV_TableSize(&t), 1u);
    EXPECT_STREQ(SV_GetString(SV_TableFind(&t, &k)), "second");
}

TEST_F(TablesTest, StringKeysMatchByTextAndNeverMatchIntegers) {
    ScriptValue st = Static(1), ds{}, zero = Int(0), zeroText = Static(5), d1 = Int(1), d2 = Int(2);
    SV_AssignString(&ds, "abc");
    SV_TableAdd(&t, &st, &d1);
    SV_TableAdd(&t, &ds, &d2);
    EXPECT_EQ(SV_TableSize(&t), 1u);
    EXPECT_EQ(SV_TableFind(&t, &st)->i, 2);
    SV_TableAdd(&t, &zero, &d1);
    SV_TableAdd(&t, &zeroText, &d2);
    EXPECT_EQ(SV_TableSize(&t), 3u);
    EXPECT_EQ(SV_TableFind(&t, &zero)->i, 1);
    EXPECT_EQ(SV_TableFind(&t, &zeroText)->i, 2);
    EXPECT_EQ(SV_TableExists(&t, &ds), 1);
    SV_Release(&ds);
}

TEST_F(TablesTest, StringHash) {
    ScriptValue ds{};
    SV_AssignString(&ds, "ab");
    EXPECT_EQ(SV_GetHashCode(&ds, 512), (2u * 'a' + 'b') & 511);
    SV_AssignString(&ds, "");
    EXPECT_EQ(SV_GetHashCode(&ds, 4), 0u);
    ScriptValue k = Int(-1);
    EXPECT_EQ(SV_GetHashCode(&k, 8), 7u);
    SV_Release(&ds);
}

TEST_F(TablesTest, FreshKeys) {
    ScriptValue d = Int(0);
    EXPECT_EQ(SV_TableNew(&t, &d), 2);
    EXPECT_EQ(SV_TableNew(&t, &d), 3);
    ScriptValue u{};
    SV_TableAlloc(&u);
    ScriptValue k2 = Int(2), k3 = Int(3);
    SV_TableAdd(&u, &k2, &d);
    SV_TableAdd(&u, &k3, &d);
    EXPECT_EQ(SV_TableNew(&u, &d), 4);
    u.table->nextKey = 2147483646;
    EXPECT_EQ(SV_TableNew(&u, &d), 1);
    SV_Release(&u);
}

TEST_F(TablesTest, RemoveAndAbsentKeys) {
    ScriptValue k = Int(1), absent = Int(2), s{};
    SV_AssignString(&s, "data");
    LogCapture capture;
    EXPECT_EQ(SV_TableRemove(&t, &k), 0);
    EXPECT_NE(capture.Take().find("SV_TableRemove() Table has no HashLists!"), std::string::npos);
    SV_TableAdd(&t, &k, &s);
    SV_Release(&s);
    capture.Take();
    EXPECT_EQ(SV_TableRemove(&t, &absent), 0);
    std::string log = capture.Take();
    EXPECT_NE(log.find("SV_TableRemove() Noncritical; Couldn't find key in table!\n"), std::string::npos);
    EXPECT_EQ(log.find("====="), std::string::npos);  // a plain debug line
    EXPECT_EQ(SV_TableRemove(&t, &k), 1);
    EXPECT_EQ(SV_TableSize(&t), 0u);
    EXPECT_EQ(Qel_TableGetCount(ctx->stringTable), 0u);
    EXPECT_NE(t.table->buckets, nullptr);  // the buckets stay
}

TEST_F(TablesTest, Iteration) {
    for (int i = 1; i <= 3; ++i) {
        ScriptValue k = Int(i * 4);  // all in one bucket
        SV_TableAdd(&t, &k, &k);
    }
    std::set<int32_t> seen;
    for (ScriptValue* k = SV_TableNextKey(nullptr, &t); k; k = SV_TableNextKey(k, &t)) {
        seen.insert(k->i);
        EXPECT_EQ(SV_TableEntryData(k)->i, k->i);
        ASSERT_LE(seen.size(), 3u);
    }
    EXPECT_EQ(seen, (std::set<int32_t>{4, 8, 12}));
    ScriptValue absent = Int(99);
    EXPECT_EQ(SV_TableNextKey(&absent, &t), SV_TableNextKey(nullptr, &t));
    ScriptValue n{};
    EXPECT_EQ(SV_TableNextKey(nullptr, &n), nullptr);
}

void AddKey(ScriptValue* t, int32_t key) {
    ScriptValue k{};
    SV_AssignInt(&k, key);
    SV_TableAdd(t, &k, &k);
}

void RemoveKey(ScriptValue* t, int32_t key) {
    ScriptValue k{};
    SV_AssignInt(&k, key);
    SV_TableRemove(t, &k);
}

// The key after k in bucket and chain order, read off the buckets: what a
// walk must answer whatever it remembers between steps.
int32_t NextByBuckets(const SV_TableRec* t, const ScriptValue* k) {
    uint32_t from = 0;
    if (k) {
        for (uint32_t b = 0; b < t->bucketCount; ++b)
            for (const SV_TableEntry* e = t->buckets[b]; e; e = e->next)
                if (e->cell[0].tag == k->tag && e->cell[0].i == k->i) {
                    if (e->next) return e->next->cell[0].i;
                    from = b + 1;
                }
    }
    for (uint32_t b = from; b < t->bucketCount; ++b)
        if (t->buckets[b]) return t->buckets[b]->cell[0].i;
    return -1;
}

// Walks keys 1..n (n > 15, so some chains are long) step by step, handing
// back a copy of each key; before each step a case may change the table.
// Every answer must be the one the buckets give at that moment.
TEST_F(TablesTest, AWalkThatChangesTheTableFollowsTheBucketOrder) {
    struct Case {
        const char* name;
        int32_t n;
        // Runs before the i-th step, which starts from key `at`.
        void (*change)(ScriptValue* t, int32_t at, int i);
    };
    const Case cases[] = {
        {"unchanged", 40, [](ScriptValue*, int32_t, int) {}},
        {"the key just answered goes", 40,
         [](ScriptValue* t, int32_t at, int i) {
             if (i == 5) RemoveKey(t, at);
         }},
        {"the key just answered goes and comes back", 40,
         [](ScriptValue* t, int32_t at, int i) {
             if (i == 5) {
                 RemoveKey(t, at);
                 AddKey(t, at);
             }
         }},
        {"keys ahead go", 40,
         [](ScriptValue* t, int32_t, int i) {
             if (i == 3) {
                 for (int32_t k = 1; k <= 40; k += 3) RemoveKey(t, k);
             }
         }},
        {"inserts regrow the buckets", 12,
         [](ScriptValue* t, int32_t, int i) {
             if (i == 2) {
                 for (int32_t k = 100; k < 140; ++k) AddKey(t, k);
             }
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptValue tv{};
        SV_TableAlloc(&tv);
        for (int32_t k = 1; k <= c.n; ++k) AddKey(&tv, k);
        ScriptValue at{};
        const ScriptValue* k = SV_TableNextKey(nullptr, &tv);
        ASSERT_NE(k, nullptr);
        for (int i = 0; k && i < 1000; ++i) {
            at = *k;
            c.change(&tv, at.i, i);
            const int32_t expected = NextByBuckets(tv.table, &at);
            k = SV_TableNextKey(&at, &tv);
            EXPECT_EQ(k ? k->i : -1, expected) << "step " << i << " from key " << at.i;
        }
        EXPECT_EQ(k, nullptr);
        SV_Release(&tv);
    }
}

// The interpreter's inline lookups remember the entry they found last (a
// story writes back the key it has just read): every answer must still be
// the entry present at that moment.
TEST_F(TablesTest, InlineLookupsAnswerTheEntryPresentNow) {
    ScriptValue a{}, b{};
    SV_AssignString(&a, "name");
    SV_AssignString(&b, "name");  // the same text in a record of its own
    ScriptValue one = Int(1), two = Int(2), five = Int(5);
    SV_TableAdd(&t, &one, &one);
    SV_TableAdd(&t, &five, &two);  // 1 and 5 share a bucket
    SV_TableAdd(&t, &a, &one);
    SV_TableRec* r = t.table;
    for (int again = 0; again < 2; ++again) {
        ASSERT_NE(SV_TableFindInt(r, 5), nullptr);
        EXPECT_EQ(SV_TableFindInt(r, 5)->i, 2);
    }
    EXPECT_EQ(SV_TableFindInt(r, 1)->i, 1);
    EXPECT_EQ(SV_TableFindInt(r, 9), nullptr);
    SV_TableFindInt(r, 5);
    SV_TableRemove(&t, &five);
    EXPECT_EQ(SV_TableFindInt(r, 5), nullptr);
    SV_TableAdd(&t, &five, &five);
    ASSERT_NE(SV_TableFindInt(r, 5), nullptr);
    EXPECT_EQ(SV_TableFindInt(r, 5)->i, 5);

    for (int again = 0; again < 2; ++again) {
        ASSERT_NE(SV_TableFindSharedText(r, &a), nullptr);
        EXPECT_EQ(SV_TableFindSharedText(r, &a)->i, 1);
    }
    EXPECT_EQ(SV_TableFindSharedText(r, &b), nullptr);  // the long way finds it
    ASSERT_NE(SV_TableFind(&t, &b), nullptr);
    EXPECT_EQ(SV_TableFind(&t, &b)->i, 1);
    SV_TableRemove(&t, &a);
    EXPECT_EQ(SV_TableFindSharedText(r, &a), nullptr);
    SV_TableAdd(&t, &b, &two);
    ASSERT_NE(SV_TableFindSharedText(r, &b), nullptr);
    EXPECT_EQ(SV_TableFindSharedText(r, &b)->i, 2);
    EXPECT_EQ(SV_TableFindSharedText(r, &a), nullptr);

    // Lookups between the steps of a walk leave the walk's answers alone.
    std::set<int32_t> seen;
    ScriptValue at{};
    for (const ScriptValue* k = SV_TableNextKey(nullptr, &t); k && seen.size() < 10; k = SV_TableNextKey(&at, &t)) {
        at = *k;
        if (at.tag == VARTYPE_INTEGER) seen.insert(at.i);
        else seen.insert(-1);
        SV_TableFindInt(r, 1);
        SV_TableFindInt(r, 5);
    }
    EXPECT_EQ(seen, (std::set<int32_t>{-1, 1, 5}));
    SV_Release(&a);
    SV_Release(&b);
}

// Small INTEGER keys are answered from the table's slots once it has grown:
// after every change each key must be found exactly when it is present,
// through every lookup, and a walk must keep the bucket order.
TEST_F(TablesTest, SlotsOfSmallKeysAnswerAsTheChainsDo) {
    struct Step {
        const char* name;
        void (*change)(ScriptValue* t);
    };
    const Step steps[] = {
        {"keys 0..299, a negative and a far key",
         [](ScriptValue* t) {
             for (int32_t k = 0; k < 300; ++k) AddKey(t, k);
             AddKey(t, -3);
             AddKey(t, 100000);
         }},
        {"every third key goes",
         [](ScriptValue* t) {
             for (int32_t k = 0; k < 300; k += 3) RemoveKey(t, k);
         }},
        {"some come back, keys past the slots join",
         [](ScriptValue* t) {
             for (int32_t k = 0; k < 60; k += 3) AddKey(t, k);
             for (int32_t k = 300; k < 340; ++k) AddKey(t, k);
         }},
        {"the buckets grow again",
         [](ScriptValue* t) {
             for (int32_t k = 340; k < 1200; ++k) AddKey(t, k);
         }},
        {"all go",
         [](ScriptValue* t) {
             for (int32_t k = -3; k < 1200; ++k) RemoveKey(t, k);
             RemoveKey(t, 100000);
         }},
        {"and come back",
         [](ScriptValue* t) {
             for (int32_t k = 0; k < 20; ++k) AddKey(t, k);
         }},
    };
    std::set<int32_t> present;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        step.change(&t);
        SV_TableRec* r = t.table;
        EXPECT_GT(r->slotCount, 0u);  // kept while the table lives
        present.clear();
        for (const ScriptValue* k = SV_TableNextKey(nullptr, &t); k; k = SV_TableNextKey(k, &t)) {
            ASSERT_TRUE(present.insert(k->i).second) << "key " << k->i << " answered twice";
            EXPECT_EQ(SV_TableNextKey(k, &t) ? SV_TableNextKey(k, &t)->i : -1, NextByBuckets(r, k));
        }
        EXPECT_EQ(present.size(), SV_TableSize(&t));
        for (int32_t k :
             {-3, -1, 0, 1, 2, 3, 59, 60, 150, 255, 256, 299, 300, 339, 511, 512, 1023, 1024, 1199, 100000}) {
            const bool has = present.count(k) != 0;
            ScriptValue key = Int(k);
            ScriptValue* found = SV_TableFindInt(r, k);
            EXPECT_EQ(found != nullptr, has) << "key " << k;
            EXPECT_EQ(SV_TableFind(&t, &key), found) << "key " << k;
            EXPECT_EQ(SV_TableExists(&t, &key), has ? 1 : 0) << "key " << k;
            if (found) {
                EXPECT_EQ(found->i, k);
            }
        }
    }
    // Freed with the table: the books must balance (checked as it ends).
}

TEST_F(TablesTest, KeysThatCouldNeverBeFoundAreRefused) {
    ScriptValue f{}, d = Int(1);
    SV_AssignFloat(&f, 1.5);
    LogCapture capture;
    EXPECT_EQ(SV_TableAdd(&t, &f, &d), 0);
    EXPECT_NE(capture.Take().find("Key is neither an integer nor a string!"), std::string::npos);
    EXPECT_EQ(SV_TableSize(&t), 0u);
    ScriptValue obj{};
    SV_AssignObject(&obj, nullptr);
    capture.Take();
    EXPECT_EQ(SV_TableAdd(&t, &obj, &d), 0);
    capture.Take();
    // Looking such keys up answers nothing without a message.
    capture.Take();
    EXPECT_EQ(SV_TableFind(&t, &f), nullptr);
    EXPECT_EQ(SV_TableExists(&t, &f), 0);
    EXPECT_EQ(capture.Take(), "");
}

TEST_F(TablesTest, MessagesForNonTables) {
    ScriptValue n = Int(3), k = Int(1), nt{};
    nt.tag = VARTYPE_TABLE;  // a null table record
    LogCapture capture;
    EXPECT_EQ(SV_TableAdd(&n, &k, &k), 0);
    EXPECT_EQ(SV_TableAdd(&nt, &k, &k), 0);
    EXPECT_EQ(SV_TableNew(&n, &k), 0);
    EXPECT_EQ(SV_TableNew(&nt, &k), 0);
    EXPECT_EQ(SV_TableFind(&n, &k), nullptr);
    EXPECT_EQ(SV_TableExists(&n, &k), 0);
    EXPECT_EQ(SV_TableRemove(&n, &k), 0);
    EXPECT_EQ(SV_TableFind(&nt, &k), nullptr);
    std::string log = capture.Take();
    for (const char* line : {
             " 3.SV_TableAdd(1,1) Trying to add new value to nonexisting table!\n",
             " [].SV_TableAdd(1,1) Trying to add new value to unallocated table!\n",
             " 3.SV_TableNew(1) Trying to add new value to nonexisting table!\n",
             " [].SV_TableNew(1) Trying to add new value to unallocated table!\n",
             " 3.SV_TableFind(1) Trying to find value in nonexisting table!\n",
             " 3.SV_TableExists(1) Trying to check in nonexisting table!\n",
             " 3.SV_TableRemove(1) Trying to remove entry from nonexisting table!\n",
         })
        EXPECT_NE(log.find(line), std::string::npos) << line;
    EXPECT_EQ(SV_TableSize(&n), 0u);
}

TEST_F(TablesTest, FreeingReleasesKeysAndData) {
    ScriptValue u{}, k{}, d{};
    SV_TableAlloc(&u);
    SV_AssignString(&k, "key");
    SV_AssignString(&d, "data");
    SV_TableAdd(&u, &k, &d);
    SV_Release(&k);
    SV_Release(&d);
    EXPECT_EQ(Qel_TableGetCount(ctx->stringTable), 2u);
    SV_Release(&u);
    EXPECT_EQ(Qel_TableGetCount(ctx->stringTable), 0u);
    EXPECT_EQ(ctx->memBlocks[SE_MEMCAT_TABLE_ENTRY], 0);
}

}  // namespace
