#include "script/arrays.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/log.h"
#include "base/table.h"
#include "script/context.h"
#include "script/lookup.h"
#include "script/memory.h"

static ScriptValue* AllocCells(int32_t n) {
    return static_cast<ScriptValue*>(
        SB_Alloc(g_SEContext, SE_MEMCAT_ARRAY_VALUES, SE_MEM_ZERO, static_cast<size_t>(n) * SE_SIZE_VALUE));
}

static void FreeCells(ScriptValue* cells, int32_t n) {
    if (cells) SB_Free(g_SEContext, SE_MEMCAT_ARRAY_VALUES, cells, static_cast<size_t>(n) * SE_SIZE_VALUE);
}

static void SetZero(ScriptValue* cells, int32_t from, int32_t to) {
    for (int32_t i = from; i < to; ++i) {
        cells[i].tag = VARTYPE_INTEGER;
        cells[i].bits = 0;
    }
}

// Gives a not-materialised array its elements, all INTEGER 0.
static bool Materialise(SAR* a) {
    int32_t n = -a->SAR_Size;
    ScriptValue* cells = AllocCells(n);
    if (!cells) return false;
    SetZero(cells, 0, n);
    a->elements = cells;
    a->SAR_Size = n;
    a->SAR_MaxSize = n;
    return true;
}

static int32_t Count(const SAR* a) { return a->SAR_Size < 0 ? -a->SAR_Size : a->SAR_Size; }

ScriptValue* SV_ArrayAlloc(ScriptValue* target, int32_t n) {
    if (n < 0) {
        Qel_BannerPrintf("SV_ArrayAlloc() %s tried to alloc array with negative size %d!\n", SE_PositionText(), n);
        return nullptr;
    }
    SE_Context* ctx = g_SEContext;
    SAR* a = SB_AllocRecord<SAR>(ctx, SE_MEMCAT_ARRAY);
    if (!a) {
        Qel_BannerPrintf("SV_ArrayAlloc(%d) No mem for array\n", n);
        return nullptr;
    }
    a->SAR_Size = -n;
    a->SAR_MaxSize = n;
    if (ctx && ctx->arrayTable) a->id = Qel_TableAdd(ctx->arrayTable, reinterpret_cast<uintptr_t>(a));
    SV_Release(target);
    target->tag = VARTYPE_ARRAY;
    target->array = a;
    a->refCount = 1;
    return target;
}

ScriptValue* SV_ArrayRead(ScriptValue* av, int32_t i) {
    if (av->tag != VARTYPE_ARRAY) {
        SV_TextOf t(av);
        Qel_BannerPrintf("%s %s.SV_ArrayRead(%d) operand 1 not an array\n", SE_PositionText(), t.text, i);
        return nullptr;
    }
    SAR* a = av->array;
    if (!a) {
        SV_TextOf t(av);
        Qel_BannerPrintf("%s %s.SV_ArrayRead(%d) tried to read nonexisting array\n", SE_PositionText(), t.text, i);
        return nullptr;
    }
    int32_t n = Count(a);
    if (i < 0 || i >= n) {
        SV_TextOf t(av);
        Qel_BannerPrintf("%s.SV_ArrayRead(%d) %s array index out of bounds [0..%d]\n", t.text, i, SE_PositionText(),
                         n - 1);
        return nullptr;
    }
    if (a->SAR_Size < 0 && !Materialise(a)) {
        SV_TextOf t(av);
        Qel_BannerPrintf("%s %s.SV_ArrayRead(%d) No mem for allocating array values\n", SE_PositionText(), t.text, i);
        return nullptr;
    }
    return &a->elements[i];
}

ScriptValue* SV_ArrayWrite(ScriptValue* av, int32_t i, const ScriptValue* value) {
    if (av->tag != VARTYPE_ARRAY) {
        SV_TextOf t(av);
        Qel_BannerPrintf("%s %s.SV_ArrayWrite(%d) operand 1 not an array\n", SE_PositionText(), t.text, i);
        return nullptr;
    }
    SAR* a = av->array;
    if (!a) {
        SV_TextOf t(av), vt(value);
        Qel_BannerPrintf("%s %s.SV_ArrayWrite(%d,%s) tried to write to nonexisting array\n", SE_PositionText(), t.text,
                         i, vt.text);
        return nullptr;
    }
    int32_t n = Count(a);
    if (i < 0 || i >= n) {
        SV_TextOf t(av), vt(value);
        Qel_BannerPrintf("%s %s.SV_ArrayWrite(%d,%s) array index out of bounds [0..%d]\n", SE_PositionText(), t.text, i,
                         vt.text, n - 1);
        return nullptr;
    }
    if (a->SAR_Size < 0 && !Materialise(a)) {
        SV_TextOf t(av), vt(value);
        Qel_BannerPrintf("%s %s.SV_ArrayWrite(%d,%s) No mem for allocating array values\n", SE_PositionText(), t.text,
                         i, vt.text);
        return nullptr;
    }
    return SV_Copy(value, &a->elements[i]);
}

ScriptValue* SV_ArrayWriteInt(ScriptValue* a, int32_t i, int32_t n) {
    ScriptValue v{};
    SV_AssignInt(&v, n);
    return SV_ArrayWrite(a, i, &v);
}

ScriptValue* SV_ArrayWriteString(ScriptValue* a, int32_t i, const char* text) {
    ScriptValue v{};
    SV_AssignString(&v, text);
    ScriptValue* e = SV_ArrayWrite(a, i, &v);
    SV_Release(&v);
    return e;
}

ScriptValue* SV_ArrayWriteDString(ScriptValue* a, int32_t i, const char* text, int32_t length) {
    ScriptValue v{};
    SV_AssignDString(&v, text, length);
    ScriptValue* e = SV_ArrayWrite(a, i, &v);
    SV_Release(&v);
    return e;
}

int32_t SV_ArraySize(const ScriptValue* a) {
    if (a->tag != VARTYPE_ARRAY) return -1;
    if (!a->array) return 0;
    return Count(a->array);
}

// Releases cells that were already taken out of an array.
static void ReleaseCells(std::vector<ScriptValue>& cells) {
    for (ScriptValue& c : cells) SV_Release(&c);
}

int32_t SV_ArrayResize(ScriptValue* av, int32_t n) {
    if (av->tag != VARTYPE_ARRAY) {
        SV_TextOf t(av);
        Qel_BannerPrintf("%s %s.SV_ArrayResize() operand not an array\n", SE_PositionText(), t.text);
        return -1;
    }
    if (n < 0) return -1;
    SAR* a = av->array;
    if (!a) {
        SV_TextOf t(av);
        Qel_BannerPrintf("%s %s.SV_ArrayResize() tried resize nonexisting array\n", SE_PositionText(), t.text);
        return -1;
    }
    if (a->SAR_Size < 0) {
        a->SAR_Size = -n;
        a->SAR_MaxSize = n;
        return n;
    }
    int32_t size = a->SAR_Size;
    if (n == size) return n;
    std::vector<ScriptValue> dropped;
    if (n == 0) {
        dropped.assign(a->elements, a->elements + size);
        FreeCells(a->elements, a->SAR_MaxSize);
        a->elements = nullptr;
        a->SAR_Size = a->SAR_MaxSize = 0;
        ReleaseCells(dropped);
        return 0;
    }
    ScriptValue* cells = AllocCells(n);
    if (!cells) {
        SV_TextOf t(av);
        Qel_BannerPrintf("%s %s.SV_ArrayResize(%d) No mem for allocating array values\n", SE_PositionText(), t.text, n);
        return -1;
    }
    int32_t kept = std::min(n, size);
    if (kept) std::memcpy(cells, a->elements, static_cast<size_t>(kept) * SE_SIZE_VALUE);
    if (n < size) dropped.assign(a->elements + n, a->elements + size);
    else SetZero(cells, size, n);
    FreeCells(a->elements, a->SAR_MaxSize);
    a->elements = cells;
    a->SAR_Size = a->SAR_MaxSize = n;
    ReleaseCells(dropped);
    return n;
}

int32_t SV_ArrayInsert(ScriptValue* av, int32_t i, const ScriptValue* value) {
    if (av->tag != VARTYPE_ARRAY) {
        SV_TextOf t(av);
        Qel_BannerPrintf("%s %s.SV_ArrayInsert() operand not an array\n", SE_PositionText(), t.text);
        return -1;
    }
    SAR* a = av->array;
    if (!a) {
        SV_TextOf t(av);
        Qel_BannerPrintf("%s %s.SV_ArrayInsert() tried resize nonexisting array\n", SE_PositionText(), t.text);
        return -1;
    }
    int32_t n = Count(a);
    if (i < 0) i = n;
    if (i > n) {
        SV_TextOf t(av);
        Qel_BannerPrintf("%s %s.SV_ArrayInsert() index out of bounds\n", SE_PositionText(), t.text);
        return -1;
    }
    if (n == INT32_MAX) return -1;
    if (a->SAR_Size <= 0) {
        a->SAR_Size = -(n + 1);
        a->SAR_MaxSize = n + 1;
        return SV_ArrayWrite(av, i, value) ? 0 : -1;
    }
    // The value may live inside this array's storage: take it first.
    ScriptValue copy{};
    SV_Copy(value, &copy);
    ScriptValue* cells = a->elements;
    if (a->SAR_MaxSize < n + 1) {
        int32_t grown = a->SAR_MaxSize > INT32_MAX - 8 ? INT32_MAX : a->SAR_MaxSize + 8;
        cells = AllocCells(grown);
        if (!cells) {
            SV_Release(&copy);
            SV_TextOf t(av);
            Qel_BannerPrintf("%s %s.SV_ArrayInsert() No mem for allocating array values\n", SE_PositionText(), t.text);
            return -1;
        }
        std::memcpy(cells, a->elements, static_cast<size_t>(i) * SE_SIZE_VALUE);
        std::memcpy(cells + i + 1, a->elements + i, static_cast<size_t>(n - i) * SE_SIZE_VALUE);
        FreeCells(a->elements, a->SAR_MaxSize);
        a->elements = cells;
        a->SAR_MaxSize = grown;
    } else {
        std::memmove(cells + i + 1, cells + i, static_cast<size_t>(n - i) * SE_SIZE_VALUE);
    }
    cells[i] = copy;
    a->SAR_Size = n + 1;
    return 0;
}

int32_t SV_ArrayRemove(ScriptValue* av, int32_t i) {
    if (av->tag != VARTYPE_ARRAY) {
        SV_TextOf t(av);
        Qel_BannerPrintf("%s %s.SV_ArrayRemove() operand not an array\n", SE_PositionText(), t.text);
        return -1;
    }
    SAR* a = av->array;
    if (!a) {
        SV_TextOf t(av);
        Qel_BannerPrintf("%s %s.SV_ArrayRemove() tried resize nonexisting array\n", SE_PositionText(), t.text);
        return -1;
    }
    int32_t n = Count(a);
    if (i < 0 || i >= n) {
        SV_TextOf t(av);
        Qel_BannerPrintf("%s %s.SV_ArrayRemove() index out of bounds\n", SE_PositionText(), t.text);
        return -1;
    }
    if (a->SAR_Size < 0) {
        a->SAR_Size = -(n - 1);
        a->SAR_MaxSize = n - 1;
        return 0;
    }
    // The element leaves the array before it is released.
    ScriptValue gone = a->elements[i];
    if (n == 1) {
        FreeCells(a->elements, a->SAR_MaxSize);
        a->elements = nullptr;
        a->SAR_Size = a->SAR_MaxSize = 0;
    } else {
        std::memmove(a->elements + i, a->elements + i + 1, static_cast<size_t>(n - 1 - i) * SE_SIZE_VALUE);
        a->elements[n - 1].tag = VARTYPE_UNDEFINED;
        a->elements[n - 1].bits = 0;
        a->SAR_Size = n - 1;
    }
    SV_Release(&gone);
    return 0;
}

template <class Key, class Less>
static void SortRange(ScriptValue* av, ScriptValue* kv, int32_t first, int32_t last, Key keyOf, Less less,
                      int descending) {
    if (av->tag != VARTYPE_ARRAY) {
        SV_TextOf t(av);
        Qel_BannerPrintf("%s %s.SV_ArrayQSortByName() operand 1 not an array\n", SE_PositionText(), t.text);
        return;
    }
    if (kv->tag != VARTYPE_ARRAY) {
        SV_TextOf t(av);
        Qel_BannerPrintf("%s %s.SV_ArrayQSortByName() operand 2 not an array\n", SE_PositionText(), t.text);
        return;
    }
    SAR* a = av->array;
    SAR* k = kv->array;
    if (!a || !k || a->SAR_Size < 0 || k->SAR_Size < 0 || first >= last) return;
    // The range must lie inside both arrays.
    if (first < 0 || last >= a->SAR_Size || last >= k->SAR_Size) return;
    struct Rec {
        decltype(keyOf(static_cast<const ScriptValue*>(nullptr))) key;
        ScriptValue value;
    };
    std::vector<Rec> recs;
    recs.reserve(static_cast<size_t>(last - first + 1));
    for (int32_t j = first; j <= last; ++j) recs.push_back(Rec{keyOf(&k->elements[j]), a->elements[j]});
    if (descending) std::sort(recs.begin(), recs.end(), [&](const Rec& x, const Rec& y) { return less(y.key, x.key); });
    else std::sort(recs.begin(), recs.end(), [&](const Rec& x, const Rec& y) { return less(x.key, y.key); });
    // The cells were moved out and are moved back: no reference changes hands.
    for (int32_t j = first; j <= last; ++j) a->elements[j] = recs[static_cast<size_t>(j - first)].value;
}

void SV_ArrayQSortByInt(ScriptValue* a, ScriptValue* keys, int32_t first, int32_t last, int descending) {
    SortRange(
        a, keys, first, last, [](const ScriptValue* v) { return v ? v->i : 0; },
        [](int32_t x, int32_t y) { return x < y; }, descending);
}

void SV_ArrayQSortByName(ScriptValue* a, ScriptValue* keys, int32_t first, int32_t last, int descending) {
    SortRange(
        a, keys, first, last,
        [](const ScriptValue* v) {
            const char* text = v ? SV_GetString(v) : nullptr;
            return text ? text : "?";
        },
        [](const char* x, const char* y) { return strcasecmp(x, y) < 0; }, descending);
}

void SV_ArrayFree(ScriptValue* av) {
    SAR* a = av->array;
    if (!a) {
        Qel_BannerPrintf("SV_ArrayFree() %s tried to free nonexisting array\n", SE_PositionText());
        return;
    }
    SE_Context* ctx = g_SEContext;
    if (ctx && ctx->arrayTable && a->id) Qel_TableRemove(ctx->arrayTable, a->id);
    if (a->SAR_Size > 0) {
        for (int32_t i = 0; i < a->SAR_Size; ++i) SV_Release(&a->elements[i]);
    }
    FreeCells(a->elements, a->SAR_MaxSize);
    SB_FreeRecord(ctx, SE_MEMCAT_ARRAY, a);
    av->tag = VARTYPE_UNDEFINED;
    av->bits = 0;
}
