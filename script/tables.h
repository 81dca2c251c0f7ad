// Script tables: hash maps from INTEGER or string keys to values.
#pragma once

#include <cstdint>

#include "script/values.h"

struct SV_TableEntry {
    SV_TableEntry* next;
    ScriptValue cell[2];  // key, then data
};

struct SV_TableRec {
    uint32_t id;  // key in the context's table table
    int32_t refCount;
    SV_TableEntry** buckets;  // null until the first insertion
    uint32_t bucketCount;     // a power of two, 4 for a new table
    uint32_t nextKey;         // last key handed out by SV_TableNew
    uint32_t count;
    uint32_t slotCount;  // keys 0..slotCount-1 are answered by slots
    // The entry a lookup found or SV_TableNextKey answered last: a story
    // writes back the key it has just read, and a walk steps on from the key
    // it was given, both without a second lookup. Cleared when that entry goes.
    SV_TableEntry* cursor;
    // The entry of INTEGER key k at slots[k] (null when k is absent), for the
    // dense run of small keys a story counts with: such a key is found
    // without hashing or walking a chain. An index only: the entries stay on
    // their chains, which alone give the order of a walk and of a save.
    // Sized when the buckets grow; null with slotCount 0 until then.
    SV_TableEntry** slots;
};

// The data cell that follows a key cell returned by SV_TableNextKey.
inline ScriptValue* SV_TableEntryData(ScriptValue* key) { return key + 1; }

SV_TableRec* SV_TableCreate();  // a new empty record with refcount 0, or null
int SV_TableAdd(ScriptValue* t, const ScriptValue* key, const ScriptValue* data);
int32_t SV_TableNew(ScriptValue* t, const ScriptValue* data);
ScriptValue* SV_TableFind(ScriptValue* t, const ScriptValue* key);
int SV_TableExists(ScriptValue* t, const ScriptValue* key);
int SV_TableRemove(ScriptValue* t, const ScriptValue* key);
uint32_t SV_TableSize(const ScriptValue* t);
ScriptValue* SV_TableNextKey(const ScriptValue* key, ScriptValue* t);
uint32_t SV_GetHashCode(const ScriptValue* key, uint32_t bucketCount);

// The data cell of INTEGER key k in a table record, or null: the lookup of
// SV_TableFind for the most common key, without a call.
// Always inline: the interpreter's loop is too large for the compiler to
// inline it on its own, and a call costs the lookup a third of its time.
[[gnu::always_inline]] inline ScriptValue* SV_TableFindInt(SV_TableRec* t, int32_t k) {
    if (static_cast<uint32_t>(k) < t->slotCount) {
        SV_TableEntry* e = t->slots[k];
        return e ? &e->cell[1] : nullptr;
    }
    SV_TableEntry* e = t->cursor;
    if (e && e->cell[0].tag == VARTYPE_INTEGER && e->cell[0].i == k) return &e->cell[1];
    if (!t->buckets) return nullptr;
    for (e = t->buckets[static_cast<uint32_t>(k) & (t->bucketCount - 1)]; e; e = e->next) {
        if (e->cell[0].tag == VARTYPE_INTEGER && e->cell[0].i == k) {
            t->cursor = e;
            return &e->cell[1];
        }
    }
    return nullptr;
}

// The data cell of the entry that shares DSTRING key k's own text record, or
// null when no entry does (the key may still be present under an equal text:
// SV_TableFind answers that). The record's hash spares reading its text.
[[gnu::always_inline]] inline ScriptValue* SV_TableFindSharedText(SV_TableRec* t, const ScriptValue* k) {
    SV_TableEntry* e = t->cursor;
    if (e && e->cell[0].tag == VARTYPE_DSTRING && e->cell[0].dstring == k->dstring && k->dstring) return &e->cell[1];
    if (!t->buckets || !k->dstring || !k->dstring->text) return nullptr;
    for (e = t->buckets[k->dstring->hash & (t->bucketCount - 1)]; e; e = e->next) {
        if (e->cell[0].tag == VARTYPE_DSTRING && e->cell[0].dstring == k->dstring) {
            t->cursor = e;
            return &e->cell[1];
        }
    }
    return nullptr;
}

// True when an insertion into the record would not have to grow it: an
// existing key's data may then be replaced in place.
inline bool SV_TableSettled(const SV_TableRec* t) { return t->count <= 4 * t->bucketCount - 1; }
// Frees a record whose count reached 0 (the release path only).
void SV_TableFree(SV_TableRec* rec);
// Takes every entry out of a record, frees its entries, buckets and slots
// and leaves it empty. Each entry's key and data cells are handed to `take`
// (which must leave them released or moved away), or released when it is
// null. The one way a record's storage goes.
using SV_TakeCells = void (*)(ScriptValue* cells, void* arg);
void SV_TableEmpty(SV_TableRec* rec, SV_TakeCells take, void* arg);
