// Hash tables from 32-bit keys to pointer-sized values, with fresh-key
// allocation for handle tables; plus the key-ordered doubly linked list used
// for priority queues and the counted word-array membership test.
#pragma once

#include <cstddef>
#include <cstdint>

// Keys of handles are kept in 1..QEL_TABLE_MAX_KEY so that 0 can mean "none".
constexpr uint32_t QEL_TABLE_MAX_KEY = 0x7ffffffe;
constexpr uint32_t QEL_TABLE_FIRST_BUCKETS = 8;

struct QelTableEntry {
    QelTableEntry* next;  // next entry in the same bucket's chain
    uint32_t key;
    uintptr_t value;  // usually a pointer
    // The entry after this one in iteration order (the rest of its chain,
    // then the following non-empty buckets), null for the last: a walk over
    // the keys never scans the bucket array.
    QelTableEntry* after;
};

struct QelTable {
    QelTableEntry** buckets;  // chain heads; null until the first insert
    uint32_t bucketCount;     // a power of two; a key's bucket is key & (bucketCount - 1)
    uint32_t keyCounter;      // the last key handed out by Qel_TableAdd
    uint32_t entryCount;
    // The entry Qel_TableNext answered last: the next call with its key starts
    // there instead of looking the key up. Checked before use; cleared when
    // that entry is removed.
    const QelTableEntry* cursor;
    QelTableEntry* first;  // the first entry in iteration order, null when empty
    // The keys in iteration order, for tables walked again and again without
    // a change: a step is then the next slot of an array. Built when a second
    // walk starts since the last add, removal or growth; stale (walkValid 0)
    // after any of them, and the linked walk serves until it is built again.
    // The array lives in the bucket array's block.
    uint32_t* walkKeys;
    uint32_t walkAt;      // the slot of the key a walk answered last
    uint32_t walkValid;   // 1 while walkKeys holds every key in order
    uint32_t walkStarts;  // walks started since the last change
};

// New empty table (8 buckets, key counter 1), or null when out of memory.
QelTable* Qel_TableCreate();
// Frees every entry, the bucket array and the table itself. Null is ignored.
void Qel_TableFree(QelTable* table);

// 1 when an entry was added, 0 when the key existed and its value was replaced.
// Also 0 (nothing stored) for a null table or when the entry cannot be allocated.
int Qel_TableSet(QelTable* table, uint32_t key, uintptr_t value);
// The value under key, 0 when absent.
uintptr_t Qel_TableGet(const QelTable* table, uint32_t key);
QelTableEntry* Qel_TableFind(const QelTable* table, uint32_t key);
// Removes the entry and returns its value, 0 when absent. Buckets never shrink.
uintptr_t Qel_TableRemove(QelTable* table, uint32_t key);
// Stores value under the next free key after the key counter (wrapping to 1
// after QEL_TABLE_MAX_KEY) and returns that key; 0 when no key is free.
uint32_t Qel_TableAdd(QelTable* table, uintptr_t value);
// The key after key in iteration order (bucket order, then chain order);
// key 0 gives the first key, a key not in the table restarts from the first.
// 0 at the end. The order changes when the table grows.
uint32_t Qel_TableNextByLookup(const QelTable* table, uint32_t key);
// The walk's usual step (the key just answered) without a call.
inline uint32_t Qel_TableNext(const QelTable* table, uint32_t key) {
    if (table && key && table->walkValid) {
        // Key 0 is only "from the start" here: an entry with that key, and
        // the start of a walk, take the call.
        const uint32_t at = table->walkAt + 1;
        if (table->walkKeys[at - 1] == key) {
            if (at == table->entryCount) return 0;
            const uint32_t next = table->walkKeys[at];
            if (next) {
                const_cast<QelTable*>(table)->walkAt = at;
                return next;
            }
        }
    }
    const QelTableEntry* at = table && key ? table->cursor : nullptr;
    if (at && at->key == key) {
        const QelTableEntry* after = at->after;
        if (!after) return 0;
        if (after->key) {
            const_cast<QelTable*>(table)->cursor = after;
            return after->key;
        }
    }
    return Qel_TableNextByLookup(table, key);
}
// Stores the key counter; values above QEL_TABLE_MAX_KEY are folded into range.
void Qel_TableSetNextKey(QelTable* table, uint32_t value);
uint32_t Qel_TableGetCount(const QelTable* table);
// Bytes booked for the table's bucket array (with the bitmap of its
// non-empty buckets and the array of keys in walk order), 0 before the first
// insert.
size_t Qel_TableBucketBytes(const QelTable* table);
uint32_t Qel_TableGetNextKey(const QelTable* table);

// Process-wide statistics: live tables and the highest number ever live.
int32_t Qel_TableGetLiveCount();
int32_t Qel_TableGetPeakCount();

// A list node lives at the start of the caller's record.
struct QelListNode {
    QelListNode* next;
    QelListNode* prev;
    int32_t key;
};

// A list is a head sentinel whose chain ends in a tail sentinel (next null);
// the nodes between are kept in descending key order by the sorted calls.
struct QelList {
    QelListNode head;  // head.next is the first node (or &tail); head.prev is null
    QelListNode tail;  // tail.prev is the last node (or &head); tail.next is null
};

// Makes the list empty (head.next == &tail). Every list starts here.
void Qel_ListInit(QelList* list);
// Links node before the first node whose key is less than or equal to its own
// (so among equal keys the newest comes first).
void Qel_ListInsertSorted(QelList* list, QelListNode* node);
// Links node at the end, regardless of its key.
void Qel_ListAddTail(QelList* list, QelListNode* node);
// Unlinks node and clears its links; a node that is not linked is left alone.
void Qel_ListRemove(QelListNode* node);
// Restores descending order after keys were changed in place.
void Qel_ListResort(QelList* list);

// words[0] is a count n, followed by n words: 1 when value is among them.
int Qel_WordArrayFind(const int32_t* words, int32_t value);
// The index of the first of count records, stride bytes apart, whose first
// 32-bit word is id; -1 when none.
int32_t Qel_FindObjectById(const void* records, int32_t count, size_t stride, int32_t id);
