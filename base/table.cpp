#include "base/table.h"

#include <cstring>

#include "base/log.h"
#include "base/memory.h"

// Tables and their entries are booked to memory tag 0.
static constexpr uint32_t kTableMemFlags = 0;
// Past this the bucket array stops growing: four times more would not fit
// the 32-bit bucket count, and chains just get longer.
static constexpr uint32_t kMaxBucketCount = 0x40000000;

static int32_t s_liveTables = 0;
static int32_t s_peakTables = 0;

// The bucket array is followed in its block by a bitmap of the non-empty
// buckets, which finds a bucket's nearest non-empty neighbour a word at a time,
// and by the array of keys in walk order, one slot a bucket (a table grows
// before it holds more entries than buckets): both come and go with the
// buckets, so a walk never changes what is booked.
static size_t BitmapWords(uint32_t count) { return (size_t(count) + 63) / 64; }
static size_t BucketBytes(uint32_t count) {
    return size_t(count) * sizeof(QelTableEntry*) + BitmapWords(count) * sizeof(uint64_t) +
           size_t(count) * sizeof(uint32_t);
}
static uint64_t* Bitmap(const QelTable* table) {
    return reinterpret_cast<uint64_t*>(table->buckets + table->bucketCount);
}
static uint32_t* WalkKeys(QelTableEntry** arrays, uint32_t count) {
    return reinterpret_cast<uint32_t*>(reinterpret_cast<uint64_t*>(arrays + count) + BitmapWords(count));
}
static void MarkBucket(const QelTable* table, uint32_t b, bool full) {
    uint64_t& word = Bitmap(table)[b / 64];
    if (full) word |= uint64_t(1) << (b % 64);
    else word &= ~(uint64_t(1) << (b % 64));
}

size_t Qel_TableBucketBytes(const QelTable* table) {
    return table && table->buckets ? BucketBytes(table->bucketCount) : 0;
}

// Any add, removal or growth: the array of keys no longer tells the order.
static void WalkChanged(QelTable* table) {
    table->walkValid = 0;
    table->walkStarts = 0;
}

// Fills the array of keys from the linked walk. A table past the largest
// bucket count can hold more entries than slots: its walks stay linked.
static void BuildWalk(QelTable* table) {
    if (table->entryCount > table->bucketCount) return;
    table->walkKeys = WalkKeys(table->buckets, table->bucketCount);
    uint32_t n = 0;
    for (const QelTableEntry* entry = table->first; entry; entry = entry->after) table->walkKeys[n++] = entry->key;
    table->walkAt = 0;
    table->walkValid = 1;
}

static QelTableEntry** BucketOf(const QelTable* table, uint32_t key) {
    return &table->buckets[key & (table->bucketCount - 1)];
}

QelTable* Qel_TableCreate() {
    QelTable* table = Int_AllocRecord<QelTable>(kTableMemFlags);
    if (!table) return nullptr;
    table->buckets = nullptr;
    table->bucketCount = QEL_TABLE_FIRST_BUCKETS;
    table->keyCounter = 1;
    table->entryCount = 0;
    table->cursor = nullptr;
    table->first = nullptr;
    table->walkKeys = nullptr;
    table->walkAt = 0;
    table->walkValid = 0;
    table->walkStarts = 0;
    if (++s_liveTables > s_peakTables) s_peakTables = s_liveTables;
    return table;
}

void Qel_TableFree(QelTable* table) {
    if (!table) return;
    if (table->buckets) {
        for (uint32_t b = 0; b < table->bucketCount; ++b) {
            QelTableEntry* entry = table->buckets[b];
            while (entry) {
                QelTableEntry* next = entry->next;
                Int_FreeRecord(entry, kTableMemFlags);
                entry = next;
            }
        }
        Int_FreeMem(table->buckets, BucketBytes(table->bucketCount), kTableMemFlags);
    }
    Int_FreeRecord(table, kTableMemFlags);
    --s_liveTables;
}

// Four times the buckets; every entry moves to the head of its new chain.
// When the larger array cannot be had the table keeps working on the old one.
static void Grow(QelTable* table) {
    if (table->bucketCount >= kMaxBucketCount) return;
    uint32_t newCount = table->bucketCount * 4;
    auto** newBuckets = static_cast<QelTableEntry**>(Int_AllocMem(BucketBytes(newCount), kTableMemFlags));
    if (!newBuckets) return;
    for (uint32_t b = 0; b < table->bucketCount; ++b) {
        QelTableEntry* entry = table->buckets[b];
        while (entry) {
            QelTableEntry* next = entry->next;
            QelTableEntry** head = &newBuckets[entry->key & (newCount - 1)];
            entry->next = *head;
            *head = entry;
            entry = next;
        }
    }
    Int_FreeMem(table->buckets, BucketBytes(table->bucketCount), kTableMemFlags);
    table->buckets = newBuckets;
    table->bucketCount = newCount;
    WalkChanged(table);
    // The iteration order is new: thread the entries through it again.
    QelTableEntry** link = &table->first;
    for (uint32_t b = 0; b < newCount; ++b) {
        if (!newBuckets[b]) continue;
        MarkBucket(table, b, true);
        for (QelTableEntry* entry = newBuckets[b]; entry; entry = entry->next) {
            *link = entry;
            link = &entry->after;
        }
    }
    *link = nullptr;
}

// The link that points at the first entry of bucket b in iteration order:
// the last entry of the nearest non-empty bucket before it, else the table's first.
static QelTableEntry** LinkBefore(QelTable* table, uint32_t b) {
    const uint64_t* bits = Bitmap(table);
    size_t w = b / 64;
    uint64_t word = bits[w] & ((uint64_t(1) << (b % 64)) - 1);
    while (!word) {
        if (w == 0) return &table->first;
        word = bits[--w];
    }
    QelTableEntry* entry = table->buckets[w * 64 + 63 - size_t(__builtin_clzll(word))];
    while (entry->next) entry = entry->next;
    return &entry->after;
}

int Qel_TableSet(QelTable* table, uint32_t key, uintptr_t value) {
    if (!table) return 0;
    if (!table->buckets) {
        table->buckets = static_cast<QelTableEntry**>(Int_AllocMem(BucketBytes(table->bucketCount), kTableMemFlags));
        if (!table->buckets) return 0;
    }
    QelTableEntry** link = BucketOf(table, key);
    QelTableEntry* last = nullptr;
    for (; *link; link = &(*link)->next) {
        last = *link;
        if (last->key == key) {
            last->value = value;
            return 0;
        }
    }
    QelTableEntry* entry = Int_AllocRecord<QelTableEntry>(kTableMemFlags);
    if (!entry) return 0;
    entry->next = nullptr;
    entry->key = key;
    entry->value = value;
    const uint32_t b = key & (table->bucketCount - 1);
    QelTableEntry** before = last ? &last->after : LinkBefore(table, b);
    entry->after = *before;
    *before = entry;
    *link = entry;
    if (!last) MarkBucket(table, b, true);
    WalkChanged(table);
    if (++table->entryCount >= table->bucketCount) Grow(table);
    return 1;
}

QelTableEntry* Qel_TableFind(const QelTable* table, uint32_t key) {
    if (!table || !table->buckets) return nullptr;
    for (QelTableEntry* entry = *BucketOf(table, key); entry; entry = entry->next)
        if (entry->key == key) return entry;
    return nullptr;
}

uintptr_t Qel_TableGet(const QelTable* table, uint32_t key) {
    const QelTableEntry* entry = Qel_TableFind(table, key);
    return entry ? entry->value : 0;
}

uintptr_t Qel_TableRemove(QelTable* table, uint32_t key) {
    if (!table || !table->buckets) return 0;
    QelTableEntry** head = BucketOf(table, key);
    QelTableEntry* previous = nullptr;
    for (QelTableEntry** link = head; *link; previous = *link, link = &(*link)->next) {
        QelTableEntry* entry = *link;
        if (entry->key != key) continue;
        uintptr_t value = entry->value;
        const uint32_t b = key & (table->bucketCount - 1);
        QelTableEntry** before = previous                ? &previous->after
                                 : table->first == entry ? &table->first
                                                         : LinkBefore(table, b);
        *before = entry->after;
        *link = entry->next;
        if (!*head) MarkBucket(table, b, false);
        if (table->cursor == entry) table->cursor = nullptr;
        WalkChanged(table);
        Int_FreeRecord(entry, kTableMemFlags);
        --table->entryCount;
        return value;
    }
    return 0;
}

uint32_t Qel_TableAdd(QelTable* table, uintptr_t value) {
    if (!table) return 0;
    const uint32_t start = table->keyCounter;
    // Bounded by the size of the key range, so a counter stored out of range
    // (0 from a save game) cannot loop for ever on a full table.
    for (uint32_t tries = 0; tries < QEL_TABLE_MAX_KEY; ++tries) {
        if (++table->keyCounter > QEL_TABLE_MAX_KEY) table->keyCounter = 1;
        const uint32_t key = table->keyCounter;
        if (key == start) return 0;
        if (!Qel_TableFind(table, key)) return Qel_TableSet(table, key, value) == 1 ? key : 0;
    }
    return 0;
}

// Answers entry's key and keeps the entry as the table's cursor; 0 at the end.
static uint32_t Answer(const QelTable* table, const QelTableEntry* entry) {
    if (!entry) return 0;
    if (entry->key == 0) {
        Qel_BannerPrintf("Qel_TableNext() found entry with key=0!\n");
        return 0;
    }
    const_cast<QelTable*>(table)->cursor = entry;
    return entry->key;
}

uint32_t Qel_TableNextByLookup(const QelTable* table, uint32_t key) {
    if (!table || !table->buckets) return 0;
    if (key == 0) {
        // A table walked once more without a change is likely walked again:
        // from the second walk on, the steps read the array.
        auto* mutableTable = const_cast<QelTable*>(table);
        if (!table->walkValid && table->entryCount && ++mutableTable->walkStarts >= 2) BuildWalk(mutableTable);
        mutableTable->walkAt = 0;
        return Answer(table, table->first);
    }
    // Keys are unique, so the cursor holding the key is the entry a look-up finds.
    const QelTableEntry* entry = table->cursor;
    if (!entry || entry->key != key) {
        entry = Qel_TableFind(table, key);
        if (!entry) return Answer(table, table->first);
    }
    return Answer(table, entry->after);
}

void Qel_TableSetNextKey(QelTable* table, uint32_t value) {
    if (!table) return;
    table->keyCounter = value > QEL_TABLE_MAX_KEY ? value % (QEL_TABLE_MAX_KEY - 1) + 1 : value;
}

uint32_t Qel_TableGetCount(const QelTable* table) { return table ? table->entryCount : 0; }
uint32_t Qel_TableGetNextKey(const QelTable* table) { return table ? table->keyCounter : 0; }

int32_t Qel_TableGetLiveCount() { return s_liveTables; }
int32_t Qel_TableGetPeakCount() { return s_peakTables; }

void Qel_ListInit(QelList* list) {
    list->head.next = &list->tail;
    list->head.prev = nullptr;
    list->head.key = 0;
    list->tail.next = nullptr;
    list->tail.prev = &list->head;
    list->tail.key = 0;
}

static void LinkBefore(QelListNode* at, QelListNode* node) {
    node->next = at;
    node->prev = at->prev;
    at->prev->next = node;
    at->prev = node;
}

void Qel_ListInsertSorted(QelList* list, QelListNode* node) {
    QelListNode* at = list->head.next;
    while (at->next && at->key > node->key) at = at->next;
    LinkBefore(at, node);
}

void Qel_ListAddTail(QelList* list, QelListNode* node) { LinkBefore(&list->tail, node); }

void Qel_ListRemove(QelListNode* node) {
    // Sentinels and nodes already taken out have a null link.
    if (!node || !node->next || !node->prev) return;
    node->prev->next = node->next;
    node->next->prev = node->prev;
    node->next = nullptr;
    node->prev = nullptr;
}

void Qel_ListResort(QelList* list) {
    // One insertion-sort pass: everything before the walk is already in order.
    QelListNode* node = list->head.next;
    while (node->next) {
        QelListNode* next = node->next;
        if (node->prev != &list->head && node->key > node->prev->key) {
            Qel_ListRemove(node);
            Qel_ListInsertSorted(list, node);
        }
        node = next;
    }
}

int Qel_WordArrayFind(const int32_t* words, int32_t value) {
    if (!words) return 0;
    for (int32_t i = 1; i <= words[0]; ++i)
        if (words[i] == value) return 1;
    return 0;
}

int32_t Qel_FindObjectById(const void* records, int32_t count, size_t stride, int32_t id) {
    const auto* bytes = static_cast<const unsigned char*>(records);
    for (int32_t i = 0; bytes && i < count; ++i) {
        int32_t first;
        std::memcpy(&first, bytes + static_cast<size_t>(i) * stride, sizeof first);
        if (first == id) return i;
    }
    return -1;
}
