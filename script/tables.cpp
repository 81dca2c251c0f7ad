#include "script/tables.h"

#include <cstring>

#include "base/log.h"
#include "base/table.h"
#include "script/context.h"
#include "script/lookup.h"
#include "script/memory.h"

static constexpr uint32_t kNewTableBuckets = 4;
static constexpr uint32_t kLastFreshKey = 2147483646;
// How many buckets past the one a walk enters it asks the processor to
// fetch, in tables of more entries than kPrefetchFrom.
static constexpr uint32_t kPrefetchBuckets = 2;
static constexpr uint32_t kPrefetchFrom = 1024;

static inline bool IsStringTag(uint8_t tag) { return tag == VARTYPE_STRING || tag == VARTYPE_DSTRING; }
// Only INTEGER and string keys can be found again.
static inline bool IsKey(const ScriptValue* key) { return key->tag == VARTYPE_INTEGER || IsStringTag(key->tag); }

// The text of a string key; a DSTRING is read in place, without a call.
static inline const char* KeyText(const ScriptValue* key) {
    if (key->tag == VARTYPE_DSTRING) return key->dstring && key->dstring->text ? key->dstring->text : "";
    const char* text = SV_GetString(key);
    return text ? text : "";
}

static inline bool KeysEqual(const ScriptValue* a, const ScriptValue* b) {
    if (a->tag == VARTYPE_INTEGER) return b->tag == VARTYPE_INTEGER && a->i == b->i;
    if (!IsStringTag(a->tag) || !IsStringTag(b->tag)) return false;
    // The same shared text, or the same story string, is the same key without
    // comparing a byte.
    if (a->tag == b->tag && a->bits == b->bits) return true;
    // Keys are short: a byte loop beats a call of the library's compare.
    const char* x = KeyText(a);
    const char* y = KeyText(b);
    while (*x && *x == *y) ++x, ++y;
    return *x == *y;
}

// The hash of a key already known to be INTEGER or a string, before the
// bucket mask.
static inline uint32_t FullHash(const ScriptValue* key) {
    return key->tag == VARTYPE_INTEGER ? key->u : SV_TextHash(KeyText(key));
}

uint32_t SV_GetHashCode(const ScriptValue* key, uint32_t c) {
    if (IsKey(key)) return FullHash(key) & (c - 1);
    SV_TextOf t(key);
    Qel_BannerPrintf("SV_GetHashCode: Invalid key %s\n", t.text);
    return 0;
}

static SV_TableEntry** AllocBuckets(uint32_t n) {
    return static_cast<SV_TableEntry**>(
        SB_Alloc(g_SEContext, SE_MEMCAT_TABLE_BUCKETS, SE_MEM_ZERO, static_cast<size_t>(n) * sizeof(SV_TableEntry*)));
}

static void FreeBuckets(SV_TableEntry** buckets, uint32_t n) {
    if (buckets)
        SB_Free(g_SEContext, SE_MEMCAT_TABLE_BUCKETS, buckets, static_cast<size_t>(n) * sizeof(SV_TableEntry*));
}

// The slot of INTEGER key k, or null when k is past the slots.
static inline SV_TableEntry** SlotOf(const SV_TableRec* t, const ScriptValue* key) {
    return key->tag == VARTYPE_INTEGER && key->u < t->slotCount ? &t->slots[key->u] : nullptr;
}

// The slots a table of these entries keeps: the largest power of two n
// (at least kFewestSlots) with more than half of the keys 0..n-1 present,
// else none. The run of keys a story counts through is then one array,
// at most twice as long as the keys it holds.
static constexpr uint32_t kFewestSlots = 8;
static uint32_t SlotsWanted(const SV_TableRec* t) {
    // keysBelow[b]: INTEGER keys in [2^(b-1), 2^b), key 0 in [0].
    uint32_t keysBelow[32] = {};
    for (uint32_t b = 0; b < t->bucketCount; ++b)
        for (const SV_TableEntry* e = t->buckets[b]; e; e = e->next)
            if (e->cell[0].tag == VARTYPE_INTEGER && e->cell[0].i >= 0)
                ++keysBelow[e->cell[0].u ? 32 - __builtin_clz(e->cell[0].u) : 0];
    uint32_t wanted = 0, present = 0;
    for (uint32_t b = 0; b < 31; ++b) {
        present += keysBelow[b];
        const uint32_t n = uint32_t(1) << b;
        if (n >= kFewestSlots && present > n / 2) wanted = n;
    }
    return wanted;
}

// Sizes the slots for the entries the table holds now and fills them. When
// the array cannot be had the old one stays: it still tells its keys right.
static void ResizeSlots(SV_TableRec* t) {
    const uint32_t n = SlotsWanted(t);
    if (n == t->slotCount) return;
    SV_TableEntry** fresh = n ? AllocBuckets(n) : nullptr;
    if (n && !fresh) return;
    for (uint32_t b = 0; fresh && b < t->bucketCount; ++b)
        for (SV_TableEntry* e = t->buckets[b]; e; e = e->next)
            if (e->cell[0].tag == VARTYPE_INTEGER && e->cell[0].u < n) fresh[e->cell[0].u] = e;
    FreeBuckets(t->slots, t->slotCount);
    t->slots = fresh;
    t->slotCount = n;
}

static inline SV_TableEntry* FindEntry(const SV_TableRec* t, const ScriptValue* key, SV_TableEntry*** link = nullptr) {
    if (!t->buckets || !IsKey(key)) return nullptr;
    if (!link)
        if (SV_TableEntry** slot = SlotOf(t, key)) return *slot;
    const uint32_t h = FullHash(key);
    SV_TableEntry** at = &t->buckets[h & (t->bucketCount - 1)];
    if (key->tag == VARTYPE_INTEGER && !link) {
        for (SV_TableEntry* e = *at; e; e = e->next)
            if (e->cell[0].tag == VARTYPE_INTEGER && e->cell[0].i == key->i) return e;
        return nullptr;
    }
    for (; *at; at = &(*at)->next) {
        if (KeysEqual(&(*at)->cell[0], key)) {
            if (link) *link = at;
            return *at;
        }
    }
    return nullptr;
}

SV_TableRec* SV_TableCreate() {
    SE_Context* ctx = g_SEContext;
    SV_TableRec* t = SB_AllocRecord<SV_TableRec>(ctx, SE_MEMCAT_TABLE);
    if (!t) return nullptr;
    t->bucketCount = kNewTableBuckets;
    t->nextKey = 1;
    if (ctx && ctx->tableTable) t->id = Qel_TableAdd(ctx->tableTable, reinterpret_cast<uintptr_t>(t));
    return t;
}

static void Rehash(SV_TableRec* t, uint32_t newCount) {
    SV_TableEntry** fresh = AllocBuckets(newCount);
    if (!fresh) return;  // the table keeps working with its old buckets
    for (uint32_t b = 0; b < t->bucketCount; ++b) {
        SV_TableEntry* e = t->buckets[b];
        while (e) {
            SV_TableEntry* next = e->next;
            uint32_t nb = FullHash(&e->cell[0]) & (newCount - 1);
            e->next = fresh[nb];
            fresh[nb] = e;
            e = next;
        }
    }
    FreeBuckets(t->buckets, t->bucketCount);
    t->buckets = fresh;
    t->bucketCount = newCount;
    ResizeSlots(t);
}

// Inserts or replaces; false only when memory runs out.
static bool Insert(SV_TableRec* t, const ScriptValue* key, const ScriptValue* data) {
    if (!t->buckets) {
        t->buckets = AllocBuckets(t->bucketCount);
        if (!t->buckets) return false;
    }
    const uint32_t h = FullHash(key);
    SV_TableEntry** at = &t->buckets[h & (t->bucketCount - 1)];
    for (; *at; at = &(*at)->next) {
        if (KeysEqual(&(*at)->cell[0], key)) {
            SV_Copy(data, &(*at)->cell[1]);
            return true;
        }
    }
    SV_TableEntry* e = SB_AllocRecord<SV_TableEntry>(g_SEContext, SE_MEMCAT_TABLE_ENTRY);
    if (!e) return false;
    SV_Copy(key, &e->cell[0]);
    SV_Copy(data, &e->cell[1]);
    *at = e;
    if (SV_TableEntry** slot = SlotOf(t, key)) *slot = e;
    t->count++;
    return true;
}

int SV_TableAdd(ScriptValue* tv, const ScriptValue* key, const ScriptValue* data) {
    if (tv->tag != VARTYPE_TABLE || !tv->table) {
        SV_TextOf t(tv), k(key), d(data);
        Qel_BannerPrintf(tv->tag != VARTYPE_TABLE
                             ? "%s %s.SV_TableAdd(%s,%s) Trying to add new value to nonexisting table!\n"
                             : "%s %s.SV_TableAdd(%s,%s) Trying to add new value to unallocated table!\n",
                         SE_PositionText(), t.text, k.text, d.text);
        return 0;
    }
    if (!IsKey(key)) {
        // Such a key could never be found, replaced or removed again.
        SV_TextOf t(tv), k(key), d(data);
        Qel_BannerPrintf("%s %s.SV_TableAdd(%s,%s) Key is neither an integer nor a string!\n", SE_PositionText(),
                         t.text, k.text, d.text);
        return 0;
    }
    SV_TableRec* t = tv->table;
    if (!Insert(t, key, data)) return 0;
    if (t->count > 4 * t->bucketCount - 1 && t->bucketCount < 0x80000000u) Rehash(t, 2 * t->bucketCount);
    return 1;
}

int32_t SV_TableNew(ScriptValue* tv, const ScriptValue* data) {
    if (tv->tag != VARTYPE_TABLE || !tv->table) {
        SV_TextOf t(tv), d(data);
        Qel_BannerPrintf(tv->tag != VARTYPE_TABLE
                             ? "%s %s.SV_TableNew(%s) Trying to add new value to nonexisting table!\n"
                             : "%s %s.SV_TableNew(%s) Trying to add new value to unallocated table!\n",
                         SE_PositionText(), t.text, d.text);
        return 0;
    }
    SV_TableRec* t = tv->table;
    uint32_t start = t->nextKey;
    ScriptValue key{};
    key.tag = VARTYPE_INTEGER;
    for (;;) {
        uint32_t k = t->nextKey + 1;
        if (k > kLastFreshKey) k = 1;
        t->nextKey = k;
        key.bits = k;
        if (!FindEntry(t, &key)) break;
        if (k == start) return 0;
    }
    return SV_TableAdd(tv, &key, data) ? key.i : 0;
}

ScriptValue* SV_TableFind(ScriptValue* tv, const ScriptValue* key) {
    if (tv->tag != VARTYPE_TABLE) {
        SV_TextOf t(tv), k(key);
        Qel_BannerPrintf("%s %s.SV_TableFind(%s) Trying to find value in nonexisting table!\n", SE_PositionText(),
                         t.text, k.text);
        return nullptr;
    }
    if (!tv->table) return nullptr;
    SV_TableEntry* e = FindEntry(tv->table, key);
    return e ? &e->cell[1] : nullptr;
}

int SV_TableExists(ScriptValue* tv, const ScriptValue* key) {
    if (tv->tag != VARTYPE_TABLE) {
        SV_TextOf t(tv), k(key);
        Qel_BannerPrintf("%s %s.SV_TableExists(%s) Trying to check in nonexisting table!\n", SE_PositionText(), t.text,
                         k.text);
        return 0;
    }
    return tv->table && FindEntry(tv->table, key) ? 1 : 0;
}

int SV_TableRemove(ScriptValue* tv, const ScriptValue* key) {
    if (tv->tag != VARTYPE_TABLE) {
        SV_TextOf t(tv), k(key);
        Qel_BannerPrintf("%s %s.SV_TableRemove(%s) Trying to remove entry from nonexisting table!\n", SE_PositionText(),
                         t.text, k.text);
        return 0;
    }
    SV_TableRec* t = tv->table;
    if (!t || !t->buckets) {
        Qel_BannerPrintf("SV_TableRemove() Table has no HashLists!\n");
        return 0;
    }
    SV_TableEntry** link = nullptr;
    SV_TableEntry* e = FindEntry(t, key, &link);
    if (!e) {
        Qel_DPrintf(0, "SV_TableRemove() Noncritical; Couldn't find key in table!\n");
        return 0;
    }
    *link = e->next;
    if (t->cursor == e) t->cursor = nullptr;
    if (SV_TableEntry** slot = SlotOf(t, &e->cell[0])) *slot = nullptr;
    t->count--;
    SV_Release(&e->cell[0]);
    SV_Release(&e->cell[1]);
    SB_FreeRecord(g_SEContext, SE_MEMCAT_TABLE_ENTRY, e);
    return 1;
}

uint32_t SV_TableSize(const ScriptValue* tv) { return tv->tag == VARTYPE_TABLE && tv->table ? tv->table->count : 0; }

ScriptValue* SV_TableNextKey(const ScriptValue* key, ScriptValue* tv) {
    if (tv->tag != VARTYPE_TABLE || !tv->table || !tv->table->buckets) return nullptr;
    SV_TableRec* t = tv->table;
    uint32_t from = 0;
    if (key) {
        // A walk hands back the key it was given last (the cell itself, or a
        // copy of it): that entry is the cursor, found without a lookup.
        SV_TableEntry* e = t->cursor;
        if (!e || (key != &e->cell[0] && !KeysEqual(&e->cell[0], key))) e = FindEntry(t, key);
        if (e) {
            if (e->next) {
                t->cursor = e->next;
                return &e->next->cell[0];
            }
            from = (FullHash(&e->cell[0]) & (t->bucketCount - 1)) + 1;
        }
    }
    for (uint32_t b = from; b < t->bucketCount; ++b) {
        if (t->buckets[b]) {
            // Entries lie apart on the heap: in a table too large for the
            // caches, fetching the chains of the next buckets now lets a
            // long walk wait for one miss at a time less.
            if (t->count > kPrefetchFrom)
                for (uint32_t ahead = b + 1; ahead <= b + kPrefetchBuckets && ahead < t->bucketCount; ++ahead)
                    if (t->buckets[ahead]) __builtin_prefetch(t->buckets[ahead]);
            t->cursor = t->buckets[b];
            return &t->buckets[b]->cell[0];
        }
    }
    t->cursor = nullptr;
    return nullptr;
}

void SV_TableEmpty(SV_TableRec* t, SV_TakeCells take, void* arg) {
    SE_Context* ctx = g_SEContext;
    SV_TableEntry** buckets = t->buckets;
    const uint32_t n = t->bucketCount;
    // The record is empty before a released cell can reach it again.
    t->buckets = nullptr;
    t->bucketCount = kNewTableBuckets;
    t->count = 0;
    t->cursor = nullptr;
    FreeBuckets(t->slots, t->slotCount);
    t->slots = nullptr;
    t->slotCount = 0;
    if (!buckets) return;
    for (uint32_t b = 0; b < n; ++b) {
        SV_TableEntry* e = buckets[b];
        while (e) {
            SV_TableEntry* next = e->next;
            if (take) {
                take(e->cell, arg);
            } else {
                SV_Release(&e->cell[0]);
                SV_Release(&e->cell[1]);
            }
            SB_FreeRecord(ctx, SE_MEMCAT_TABLE_ENTRY, e);
            e = next;
        }
    }
    FreeBuckets(buckets, n);
}

void SV_TableFree(SV_TableRec* t) {
    SE_Context* ctx = g_SEContext;
    if (ctx && ctx->tableTable && t->id) Qel_TableRemove(ctx->tableTable, t->id);
    SV_TableEmpty(t, nullptr, nullptr);
    t->nextKey = 1;
    SB_FreeRecord(ctx, SE_MEMCAT_TABLE, t);
}
