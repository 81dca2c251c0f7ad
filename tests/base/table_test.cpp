#include <gtest/gtest.h>

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "base/memory.h"
#include "base/table.h"
#include "support/logcapture.h"

namespace {

// Owns a table for one test so a failing expectation never leaks it.
struct TableHolder {
    QelTable* t = Qel_TableCreate();
    ~TableHolder() { Qel_TableFree(t); }
};

std::vector<uint32_t> IterationKeys(const QelTable* t) {
    std::vector<uint32_t> keys;
    for (uint32_t k = Qel_TableNext(t, 0); k != 0 && keys.size() <= t->entryCount; k = Qel_TableNext(t, k))
        keys.push_back(k);
    return keys;
}

}  // namespace

TEST(QelTable, NewTableIsEmptyWithEightBucketsAndHandsOutTwoThenThree) {
    TableHolder h;
    ASSERT_NE(h.t, nullptr);
    EXPECT_EQ(h.t->buckets, nullptr);
    EXPECT_EQ(h.t->bucketCount, 8u);
    EXPECT_EQ(Qel_TableGetNextKey(h.t), 1u);
    EXPECT_EQ(Qel_TableGetCount(h.t), 0u);
    EXPECT_EQ(Qel_TableGet(h.t, 1), 0u);
    EXPECT_EQ(Qel_TableNext(h.t, 0), 0u);

    EXPECT_EQ(Qel_TableAdd(h.t, 100), 2u);
    EXPECT_EQ(Qel_TableAdd(h.t, 200), 3u);
    EXPECT_EQ(Qel_TableGet(h.t, 2), 100u);
    EXPECT_EQ(Qel_TableGet(h.t, 3), 200u);
    EXPECT_EQ(Qel_TableGetNextKey(h.t), 3u);
    EXPECT_EQ(Qel_TableGetCount(h.t), 2u);
}

TEST(QelTable, SetAddsThenReplacesAndKeepsPointerSizedValues) {
    TableHolder h;
    int object = 0;
    const auto ptr = reinterpret_cast<uintptr_t>(&object);
    const uintptr_t wide = uintptr_t(0xdeadbeef) << 32 | 0x12345678;

    EXPECT_EQ(Qel_TableSet(h.t, 7, ptr), 1);
    EXPECT_EQ(Qel_TableSet(h.t, 0xffffffffu, wide), 1);
    EXPECT_EQ(Qel_TableSet(h.t, 7, wide), 0);
    EXPECT_EQ(Qel_TableGetCount(h.t), 2u);
    EXPECT_EQ(Qel_TableGet(h.t, 7), wide);
    EXPECT_EQ(Qel_TableGet(h.t, 0xffffffffu), wide);
    EXPECT_EQ(Qel_TableGet(h.t, 15), 0u);  // same bucket as 7, absent

    QelTableEntry* e = Qel_TableFind(h.t, 0xffffffffu);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->key, 0xffffffffu);
    EXPECT_EQ(Qel_TableFind(h.t, 8), nullptr);
}

TEST(QelTable, NewEntriesGoToTheEndOfTheirChainAndIterateInBucketOrder) {
    TableHolder h;
    for (uint32_t k : {9u, 2u, 1u, 17u}) Qel_TableSet(h.t, k, k * 10);
    // Bucket 1 holds 9, 1, 17 in insertion order, bucket 2 holds 2.
    EXPECT_EQ(IterationKeys(h.t), (std::vector<uint32_t>{9, 1, 17, 2}));
    EXPECT_EQ(Qel_TableNext(h.t, 17), 2u);
    EXPECT_EQ(Qel_TableNext(h.t, 2), 0u);
    // A key that is not in the table restarts from the first key.
    EXPECT_EQ(Qel_TableNext(h.t, 5), 9u);
    EXPECT_EQ(Qel_TableNext(h.t, 25), 9u);
}

TEST(QelTable, EighthEntryGrowsToThirtyTwoBucketsAndEveryKeyStaysReachable) {
    TableHolder h;
    // Keys sharing one bucket before growth, spread after it.
    for (uint32_t i = 0; i < 7; ++i) EXPECT_EQ(Qel_TableSet(h.t, 3 + 8 * i, i + 1), 1);
    EXPECT_EQ(h.t->bucketCount, 8u);
    EXPECT_EQ(Qel_TableSet(h.t, 3 + 8 * 7, 8), 1);
    EXPECT_EQ(h.t->bucketCount, 32u);
    for (uint32_t i = 0; i < 8; ++i) EXPECT_EQ(Qel_TableGet(h.t, 3 + 8 * i), i + 1);

    // Keep going across the next growth (32 -> 128) and check the whole set.
    std::unordered_map<uint32_t, uintptr_t> expected;
    for (uint32_t i = 0; i < 8; ++i) expected[3 + 8 * i] = i + 1;
    for (uint32_t i = 0; i < 300; ++i) {
        uint32_t key = 0x9e3779b9u * (i + 1);
        if (key == 0 || expected.count(key)) continue;
        Qel_TableSet(h.t, key, key ^ 0x5555);
        expected[key] = key ^ 0x5555;
    }
    EXPECT_EQ(h.t->bucketCount, 512u);
    EXPECT_EQ(Qel_TableGetCount(h.t), expected.size());
    for (auto [k, v] : expected) EXPECT_EQ(Qel_TableGet(h.t, k), v) << k;

    std::vector<uint32_t> seen = IterationKeys(h.t);
    std::sort(seen.begin(), seen.end());
    std::vector<uint32_t> keys;
    for (auto& kv : expected) keys.push_back(kv.first);
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(seen, keys);
}

TEST(QelTable, RemoveUnlinksFromAnyChainPositionAndKeepsTheBuckets) {
    TableHolder h;
    for (uint32_t k : {4u, 12u, 20u}) Qel_TableSet(h.t, k, k + 1);
    EXPECT_EQ(Qel_TableRemove(h.t, 12), 13u);  // middle of the chain
    EXPECT_EQ(Qel_TableRemove(h.t, 12), 0u);
    EXPECT_EQ(Qel_TableRemove(h.t, 99), 0u);
    EXPECT_EQ(Qel_TableGet(h.t, 4), 5u);
    EXPECT_EQ(Qel_TableGet(h.t, 20), 21u);
    EXPECT_EQ(Qel_TableRemove(h.t, 4), 5u);  // chain head
    EXPECT_EQ(Qel_TableRemove(h.t, 20), 21u);
    EXPECT_EQ(Qel_TableGetCount(h.t), 0u);

    QelTableEntry** buckets = h.t->buckets;
    ASSERT_NE(buckets, nullptr);
    EXPECT_EQ(Qel_TableNext(h.t, 0), 0u);
    EXPECT_EQ(Qel_TableSet(h.t, 6, 60), 1);
    EXPECT_EQ(h.t->buckets, buckets);
    EXPECT_EQ(Qel_TableGet(h.t, 6), 60u);
}

TEST(QelTable, RemovingWhileIteratingWorksWhenTheNextKeyIsFetchedFirst) {
    TableHolder h;
    for (uint32_t k = 1; k <= 20; ++k) Qel_TableSet(h.t, k, k);
    int visited = 0;
    for (uint32_t k = Qel_TableNext(h.t, 0); k != 0;) {
        uint32_t next = Qel_TableNext(h.t, k);
        if (k % 2 == 0) Qel_TableRemove(h.t, k);
        ++visited;
        k = next;
    }
    EXPECT_EQ(visited, 20);
    EXPECT_EQ(Qel_TableGetCount(h.t), 10u);
    for (uint32_t k = 1; k <= 20; ++k) EXPECT_EQ(Qel_TableGet(h.t, k), k % 2 ? k : 0u);
}

TEST(QelTable, SetNextKeyFoldsValuesAboveTheRange) {
    struct Case {
        uint32_t stored, counter;
    };
    const Case cases[] = {
        {5, 5}, {QEL_TABLE_MAX_KEY, QEL_TABLE_MAX_KEY}, {0x7fffffff, 3}, {0x80000000u, 4}, {0xffffffffu, 6},
    };
    TableHolder h;
    for (const Case& c : cases) {
        Qel_TableSetNextKey(h.t, c.stored);
        EXPECT_EQ(Qel_TableGetNextKey(h.t), c.counter) << c.stored;
    }
}

TEST(QelTable, AddSkipsKeysInUseAndWrapsToOne) {
    TableHolder h;
    Qel_TableSet(h.t, 6, 1);
    Qel_TableSet(h.t, 7, 1);
    Qel_TableSetNextKey(h.t, 5);
    EXPECT_EQ(Qel_TableAdd(h.t, 42), 8u);
    EXPECT_EQ(Qel_TableGet(h.t, 8), 42u);

    Qel_TableSetNextKey(h.t, QEL_TABLE_MAX_KEY - 1);
    EXPECT_EQ(Qel_TableAdd(h.t, 1), QEL_TABLE_MAX_KEY);
    EXPECT_EQ(Qel_TableAdd(h.t, 2), 1u);
    EXPECT_EQ(Qel_TableAdd(h.t, 3), 2u);

    // A counter of 0 (restored from elsewhere) still hands out keys in range.
    Qel_TableSetNextKey(h.t, 0);
    EXPECT_EQ(Qel_TableAdd(h.t, 4), 3u);
}

TEST(QelTable, NextAfterTheAnsweredKeyIsRemovedOrReaddedStillLooksItUp) {
    TableHolder h;
    for (uint32_t k = 1; k <= 20; ++k) Qel_TableSet(h.t, k, k);
    const std::vector<uint32_t> order = IterationKeys(h.t);
    ASSERT_EQ(order.size(), 20u);
    // The key just answered goes away: the next call restarts from the first key.
    EXPECT_EQ(Qel_TableNext(h.t, 0), order[0]);
    uint32_t k = Qel_TableNext(h.t, order[0]);
    EXPECT_EQ(k, order[1]);
    Qel_TableRemove(h.t, k);
    EXPECT_EQ(Qel_TableNext(h.t, k), order[0]);
    // Added again it sits at its chain's end; the answer follows the new chain.
    Qel_TableSet(h.t, k, k);
    const std::vector<uint32_t> again = IterationKeys(h.t);
    auto at = std::find(again.begin(), again.end(), k);
    ASSERT_NE(at, again.end());
    EXPECT_EQ(Qel_TableNext(h.t, k), at + 1 == again.end() ? 0u : *(at + 1));
    // Growing the table keeps the entries: the order is the new one.
    for (uint32_t n = 21; n <= 40; ++n) Qel_TableSet(h.t, n, n);
    const std::vector<uint32_t> grown = IterationKeys(h.t);
    ASSERT_EQ(grown.size(), 40u);
    for (size_t i = 0; i + 1 < grown.size(); ++i) EXPECT_EQ(Qel_TableNext(h.t, grown[i]), grown[i + 1]);
}

// The keys in bucket order, each chain from its head: the order a walk gives.
static std::vector<uint32_t> BucketOrder(const QelTable* t) {
    std::vector<uint32_t> keys;
    for (uint32_t b = 0; t->buckets && b < t->bucketCount; ++b)
        for (const QelTableEntry* e = t->buckets[b]; e; e = e->next) keys.push_back(e->key);
    return keys;
}

TEST(QelTable, WalkFollowsBucketOrderThroughAddsRemovesAndGrowth) {
    TableHolder h;
    std::vector<uint32_t> live;
    uint64_t x = 0x9E3779B97F4A7C15ull;
    for (int step = 0; step < 3000; ++step) {
        x ^= x << 13, x ^= x >> 7, x ^= x << 17;
        // Small keys crowd a few chains, large ones spread; a third of the
        // steps remove a live key (often a chain's head or the first one).
        const uint32_t key = 1 + uint32_t(x % (step % 2 ? 97 : 1000003));
        if (x % 3 == 0 && !live.empty()) {
            const size_t at = size_t(x >> 32) % live.size();
            EXPECT_NE(Qel_TableRemove(h.t, live[at]), 0u);
            live.erase(live.begin() + ptrdiff_t(at));
        } else if (Qel_TableSet(h.t, key, key)) {
            live.push_back(key);
        }
        if (step % 97 == 0 || step > 2990) {
            // Twice: a second walk without a change in between reads the
            // table's array of keys instead of the links.
            ASSERT_EQ(IterationKeys(h.t), BucketOrder(h.t)) << step;
            ASSERT_EQ(IterationKeys(h.t), BucketOrder(h.t)) << step;
        }
    }
    ASSERT_FALSE(live.empty());
    EXPECT_EQ(IterationKeys(h.t).size(), live.size());
}

// Walks of a table walked before without a change: every step must answer
// as the linked walk does, whatever the caller does between the steps.
TEST(QelTable, RepeatedWalksAnswerAsTheFirstThroughChangesMidWalk) {
    struct Case {
        const char* name;
        // Runs between the steps of the third walk, after the step that
        // answered key k (the walk's next key already fetched).
        void (*between)(QelTable* t, uint32_t k);
    };
    const Case cases[] = {
        {"nothing", [](QelTable*, uint32_t) {}},
        {"remove the answered key", [](QelTable* t, uint32_t k) { Qel_TableRemove(t, k); }},
        {"replace a value", [](QelTable* t, uint32_t k) { Qel_TableSet(t, k, k + 1); }},
        {"add and remove another key",
         [](QelTable* t, uint32_t k) {
             Qel_TableSet(t, 1000 + k, 1);
             Qel_TableRemove(t, 1000 + k);
         }},
        {"a second walk's first step", [](QelTable* t, uint32_t) { Qel_TableNext(t, 0); }},
    };
    for (const Case& c : cases) {
        TableHolder h;
        for (uint32_t k = 1; k <= 30; ++k) Qel_TableSet(h.t, k * 7, k);
        const std::vector<uint32_t> first = IterationKeys(h.t);
        ASSERT_EQ(IterationKeys(h.t), first) << c.name;
        ASSERT_EQ(first, BucketOrder(h.t));
        std::vector<uint32_t> third;
        for (uint32_t k = Qel_TableNext(h.t, 0); k != 0 && third.size() <= first.size();) {
            third.push_back(k);
            const uint32_t next = Qel_TableNext(h.t, k);
            c.between(h.t, k);
            k = next;
        }
        EXPECT_EQ(third, first) << c.name;
        EXPECT_EQ(IterationKeys(h.t), BucketOrder(h.t)) << c.name;
    }
}

TEST(QelTable, IterationStopsWithANoticeAtAnEntryWithKeyZero) {
    TableHolder h;
    Qel_TableSet(h.t, 0, 1);
    Qel_TableSet(h.t, 8, 2);  // behind key 0 in bucket 0
    Qel_TableSet(h.t, 3, 3);
    LogCapture capture;
    EXPECT_EQ(Qel_TableNext(h.t, 0), 0u);
    std::string err = capture.Take();
    EXPECT_NE(err.find("Qel_TableNext() found entry with key=0!\n"), std::string::npos);
    EXPECT_EQ(Qel_TableNext(h.t, 8), 3u);
    EXPECT_EQ(Qel_TableGet(h.t, 0), 1u);
    // A walk from a key before it stops there too, the array of keys built.
    Qel_TableSet(h.t, 16, 4);
    Qel_TableRemove(h.t, 0);
    Qel_TableSet(h.t, 0, 1);  // bucket 0 now holds 8, 16, 0
    for (int walk = 0; walk < 2; ++walk) {
        EXPECT_EQ(Qel_TableNext(h.t, 0), 8u);
        EXPECT_EQ(Qel_TableNext(h.t, 8), 16u);
        capture.Take();
        EXPECT_EQ(Qel_TableNext(h.t, 16), 0u);
        EXPECT_NE(capture.Take().find("Qel_TableNext() found entry with key=0!\n"), std::string::npos);
    }
    EXPECT_EQ(h.t->walkValid, 1u);
}

TEST(QelTable, FreeGivesBackEveryByteAndCountsLiveTables) {
    const int64_t before = Int_GetTag0Mem();
    const int32_t live = Qel_TableGetLiveCount();
    QelTable* a = Qel_TableCreate();
    QelTable* b = Qel_TableCreate();
    ASSERT_TRUE(a && b);
    EXPECT_EQ(Qel_TableGetLiveCount(), live + 2);
    EXPECT_GE(Qel_TableGetPeakCount(), live + 2);
    for (uint32_t i = 0; i < 100; ++i) Qel_TableAdd(a, i);
    for (int walk = 0; walk < 2; ++walk) EXPECT_EQ(IterationKeys(a).size(), 100u);
    EXPECT_EQ(a->walkValid, 1u);  // its array of keys lies in the bucket block
    Qel_TableSet(b, 1, 1);
    Qel_TableRemove(b, 1);
    EXPECT_GT(Int_GetTag0Mem(), before);
    Qel_TableFree(a);
    Qel_TableFree(b);
    EXPECT_EQ(Int_GetTag0Mem(), before);
    EXPECT_EQ(Qel_TableGetLiveCount(), live);
    EXPECT_GE(Qel_TableGetPeakCount(), live + 2);
}

TEST(QelTable, NullTableIsRefusedQuietly) {
    EXPECT_EQ(Qel_TableSet(nullptr, 1, 1), 0);
    EXPECT_EQ(Qel_TableGet(nullptr, 1), 0u);
    EXPECT_EQ(Qel_TableFind(nullptr, 1), nullptr);
    EXPECT_EQ(Qel_TableRemove(nullptr, 1), 0u);
    EXPECT_EQ(Qel_TableAdd(nullptr, 1), 0u);
    EXPECT_EQ(Qel_TableNext(nullptr, 0), 0u);
    EXPECT_EQ(Qel_TableGetCount(nullptr), 0u);
    Qel_TableSetNextKey(nullptr, 3);
    Qel_TableFree(nullptr);
}

namespace {

struct Item {
    QelListNode node;
    int id;
};

// Ids front to back, checking the back links on the way.
std::vector<int> ListIds(const QelList& list) {
    std::vector<int> ids;
    const QelListNode* prev = &list.head;
    for (const QelListNode* n = list.head.next; n->next; n = n->next) {
        EXPECT_EQ(n->prev, prev);
        ids.push_back(reinterpret_cast<const Item*>(n)->id);
        prev = n;
    }
    EXPECT_EQ(list.tail.prev, prev);
    EXPECT_EQ(list.tail.next, nullptr);
    return ids;
}

}  // namespace

TEST(QelList, InsertSortedKeepsDescendingOrderNewestFirstAmongEqualKeys) {
    QelList list;
    Qel_ListInit(&list);
    EXPECT_EQ(list.head.next, &list.tail);
    Item items[] = {{{nullptr, nullptr, 5}, 1},
                    {{nullptr, nullptr, 9}, 2},
                    {{nullptr, nullptr, 5}, 3},
                    {{nullptr, nullptr, -4}, 4},
                    {{nullptr, nullptr, 20}, 5}};
    for (Item& it : items) Qel_ListInsertSorted(&list, &it.node);
    EXPECT_EQ(ListIds(list), (std::vector<int>{5, 2, 3, 1, 4}));
}

TEST(QelList, AddTailIgnoresTheKeyAndRemoveUnlinksOnce) {
    QelList list;
    Qel_ListInit(&list);
    Item a{{nullptr, nullptr, 1}, 1}, b{{nullptr, nullptr, 7}, 2}, c{{nullptr, nullptr, 3}, 3};
    Qel_ListAddTail(&list, &a.node);
    Qel_ListAddTail(&list, &b.node);
    Qel_ListAddTail(&list, &c.node);
    EXPECT_EQ(ListIds(list), (std::vector<int>{1, 2, 3}));

    Qel_ListRemove(&b.node);
    EXPECT_EQ(b.node.next, nullptr);
    Qel_ListRemove(&b.node);  // already out: left alone
    Qel_ListRemove(&list.tail);
    Qel_ListRemove(&list.head);
    EXPECT_EQ(ListIds(list), (std::vector<int>{1, 3}));
    Qel_ListRemove(&a.node);
    Qel_ListRemove(&c.node);
    EXPECT_EQ(list.head.next, &list.tail);
    EXPECT_EQ(list.tail.prev, &list.head);
}

TEST(QelList, ResortRestoresOrderAfterKeysChangeInPlace) {
    QelList list;
    Qel_ListInit(&list);
    Item items[6];
    for (int i = 0; i < 6; ++i) {
        items[i] = {{nullptr, nullptr, 60 - 10 * i}, i};
        Qel_ListInsertSorted(&list, &items[i].node);
    }
    items[5].node.key = 100;  // last becomes the largest
    items[0].node.key = -1;   // first becomes the smallest
    items[3].node.key = 45;   // middle moves up
    items[2].node.key = 45;   // a moved node goes before an equal key
    Qel_ListResort(&list);
    EXPECT_EQ(ListIds(list), (std::vector<int>{5, 1, 3, 2, 4, 0}));

    QelList empty;
    Qel_ListInit(&empty);
    Qel_ListResort(&empty);
    EXPECT_EQ(empty.head.next, &empty.tail);
}

TEST(QelWordArray, FindLooksOnlyAtTheCountedWords) {
    const int32_t words[] = {3, 10, -2, 7, 99};  // 99 lies beyond the count
    const int32_t none[] = {0, 10};
    struct Case {
        const int32_t* words;
        int32_t value;
        int found;
    };
    const Case cases[] = {
        {words, 10, 1}, {words, -2, 1}, {words, 7, 1}, {words, 99, 0}, {words, 3, 0}, {none, 10, 0}, {nullptr, 0, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(Qel_WordArrayFind(c.words, c.value), c.found) << c.value;
}

TEST(WordArrayFind, FindObjectByIdLooksAtEachRecordsFirstWord) {
    struct Record {
        int32_t id;
        int16_t other;
        void* pointer;
    };
    const Record records[] = {{4, 9, nullptr}, {9, 4, nullptr}, {-1, 0, nullptr}, {9, 1, nullptr}};
    struct Case {
        int32_t id, count, index;
    } cases[] = {{4, 4, 0}, {9, 4, 1}, {-1, 4, 2}, {9, 1, -1}, {7, 4, -1}, {4, 0, -1}};
    for (const Case& c : cases) EXPECT_EQ(Qel_FindObjectById(records, c.count, sizeof(Record), c.id), c.index) << c.id;
    EXPECT_EQ(Qel_FindObjectById(nullptr, 3, sizeof(Record), 4), -1);
}
