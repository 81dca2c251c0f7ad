#include "script/values.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/log.h"
#include "base/table.h"
#include "script/arrays.h"
#include "script/context.h"
#include "script/memory.h"
#include "script/tables.h"

static void ClearCell(ScriptValue* v) {
    v->tag = VARTYPE_UNDEFINED;
    v->bits = 0;
}

void SV_DStringFree(SV_DString* ds) {
    SE_Context* ctx = g_SEContext;
    if (ctx && ctx->stringTable && ds->id != 0) Qel_TableRemove(ctx->stringTable, ds->id);
    if (ds->text) SB_Free(ctx, SE_MEMCAT_TEXT, ds->text, size_t{ds->length} + 1);
    SB_FreeRecord(ctx, SE_MEMCAT_DSTRING, ds);
}

ScriptValue* SV_Release(ScriptValue* v) {
    SE_Context* ctx = g_SEContext;
    switch (v->tag) {
        case VARTYPE_UNDEFINED: return v;
        case VARTYPE_INTEGER:
        case VARTYPE_STRING:
        case VARTYPE_ADDRESS:
        case VARTYPE_FLOAT:
        case VARTYPE_QUAD: break;
        case VARTYPE_ARRAY:
            if (v->array && --v->array->refCount == 0) {
                SV_ArrayFree(v);
            }
            break;
        case VARTYPE_TABLE:
            if (v->table && --v->table->refCount == 0) SV_TableFree(v->table);
            break;
        case VARTYPE_OBJECT:
            if (v->object && --v->object->refCount == 0 && !v->object->classObject) {
                // A deleted instance waited for its last reference.
                SB_FreeRecord(ctx, SE_MEMCAT_INSTANCES, v->object);
            }
            break;
        case VARTYPE_DSTRING:
            if (v->dstring && --v->dstring->refCount == 0) SV_DStringFree(v->dstring);
            break;
        case VARTYPE_TASK:
            if (v->task && --v->task->refCount == 0 && v->task->id == 0) {
                // The task ended earlier and kept its record for this value.
                SB_FreeRecord(ctx, SE_MEMCAT_TASKS, v->task);
            }
            break;
        case VARTYPE_USER: Qel_BannerPrintf("SV_Release() Actually VARTYPE_USER shouldn't exist yet!\n"); break;
        default: Qel_BannerPrintf("SV_Release() Trying to release unknown var type %d\n", v->tag); break;
    }
    ClearCell(v);
    return v;
}

ScriptValue* SV_Copy(const ScriptValue* src, ScriptValue* dst) {
    if (src == dst) return dst;
    ScriptValue n;
    n.bits = 0;
    if (!src) {
        n.tag = VARTYPE_INTEGER;
    } else {
        n.tag = src->tag;
        switch (src->tag) {
            case VARTYPE_INTEGER:
            case VARTYPE_STRING:
            case VARTYPE_ADDRESS:
            case VARTYPE_FLOAT:
            case VARTYPE_QUAD: n.bits = src->bits; break;
            case VARTYPE_ARRAY:
                n.array = src->array;
                if (n.array) n.array->refCount++;
                break;
            case VARTYPE_TABLE:
                n.table = src->table;
                if (n.table) n.table->refCount++;
                break;
            case VARTYPE_DSTRING:
                n.dstring = src->dstring;
                if (n.dstring) n.dstring->refCount++;
                break;
            case VARTYPE_TASK:
                if (src->task && src->task->id != 0) {
                    n.task = src->task;
                    n.task->refCount++;
                }
                break;
            case VARTYPE_OBJECT:
                if (src->object && src->object->classObject) {
                    n.object = src->object;
                    n.object->refCount++;
                }
                break;
            case VARTYPE_USER:
                if (src->user && src->user->refCount != 0) {
                    n.user = src->user;
                    n.user->refCount++;
                }
                break;
            default: break;  // invalid tags: the tag only
        }
    }
    // The new reference is taken before the old content goes, so a cell that
    // held the only reference to what it is assigned from stays valid.
    SV_Release(dst);
    *dst = n;
    return dst;
}

ScriptValue* SV_Move(ScriptValue* src, ScriptValue* dst) {
    if (src == dst) return dst;
    ScriptValue n = *src;
    ClearCell(src);
    SV_Release(dst);
    *dst = n;
    return dst;
}

static ScriptValue* SetPlain(ScriptValue* v, uint8_t tag, uint64_t bits) {
    SV_Release(v);
    v->tag = tag;
    v->bits = bits;
    return v;
}

ScriptValue* SV_AssignInt(ScriptValue* v, int32_t n) {
    return SetPlain(v, VARTYPE_INTEGER, static_cast<uint64_t>(static_cast<int64_t>(n)));
}

ScriptValue* SV_AssignAddress(ScriptValue* v, uint32_t position) { return SetPlain(v, VARTYPE_ADDRESS, position); }

ScriptValue* SV_AssignStaticString(ScriptValue* v, uint32_t number) { return SetPlain(v, VARTYPE_STRING, number); }

ScriptValue* SV_AssignFloat(ScriptValue* v, double d) {
    SV_Release(v);
    v->tag = VARTYPE_FLOAT;
    v->f = d;
    return v;
}

ScriptValue* SV_AssignQuad(ScriptValue* v, int64_t q) {
    SV_Release(v);
    v->tag = VARTYPE_QUAD;
    v->q = q;
    return v;
}

// A new DSTRING record holding a copy of len bytes of text; null when out of memory.
static SV_DString* NewDString(const char* text, size_t len) {
    SE_Context* ctx = g_SEContext;
    SV_DString* ds = SB_AllocRecord<SV_DString>(ctx, SE_MEMCAT_DSTRING);
    if (!ds) return nullptr;
    char* copy = static_cast<char*>(SB_Alloc(ctx, SE_MEMCAT_TEXT, 0, len + 1));
    if (!copy) {
        SB_FreeRecord(ctx, SE_MEMCAT_DSTRING, ds);
        return nullptr;
    }
    if (len) std::memcpy(copy, text, len);
    copy[len] = '\0';
    ds->text = copy;
    ds->length = static_cast<uint32_t>(len);
    ds->hash = SV_TextHash(copy);
    ds->refCount = 1;
    if (ctx && ctx->stringTable) ds->id = Qel_TableAdd(ctx->stringTable, reinterpret_cast<uintptr_t>(ds));
    return ds;
}

static ScriptValue* AssignNewDString(ScriptValue* v, const char* text, size_t len) {
    // The copy is made before the old content is released: the text may be
    // the old content's own.
    SV_DString* ds = NewDString(text, len);
    SV_Release(v);
    if (ds) {
        v->tag = VARTYPE_DSTRING;
        v->dstring = ds;
    }
    return v;
}

ScriptValue* SV_AssignString(ScriptValue* v, const char* text) {
    return AssignNewDString(v, text ? text : "", text ? std::strlen(text) : 0);
}

ScriptValue* SV_AssignDString(ScriptValue* v, const char* text, int32_t n) {
    size_t len = 0;
    if (text && n >= 1) {
        const void* nul = std::memchr(text, 0, static_cast<size_t>(n));
        if (nul) {
            len = static_cast<size_t>(static_cast<const char*>(nul) - text);
            Qel_DPrintf(0, "SV_AssignDString(%s, %d[%d] string shorter than len\n", text, n - static_cast<int32_t>(len),
                        n);
        } else {
            len = static_cast<size_t>(n);
        }
    }
    return AssignNewDString(v, text ? text : "", len);
}

ScriptValue* SV_AssignBytes(ScriptValue* v, const char* bytes, uint32_t n) {
    return AssignNewDString(v, bytes ? bytes : "", bytes ? n : 0);
}

ScriptValue* SV_AssignArray(ScriptValue* v, SAR* array) {
    if (array) array->refCount++;
    SV_Release(v);
    v->tag = VARTYPE_ARRAY;
    v->array = array;
    return v;
}

ScriptValue* SV_AssignObject(ScriptValue* v, StoryInstance* object) {
    if (object && !object->classObject) object = nullptr;
    if (object) object->refCount++;
    SV_Release(v);
    v->tag = VARTYPE_OBJECT;
    v->object = object;
    return v;
}

ScriptValue* SV_AssignTask(ScriptValue* v, SE_Task* task) {
    if (task && task->id == 0) task = nullptr;
    if (task) task->refCount++;
    SV_Release(v);
    v->tag = VARTYPE_TASK;
    v->task = task;
    return v;
}

ScriptValue* SV_AssignTable(ScriptValue* v, SV_TableRec* table) {
    if (!table) return SV_TableAlloc(v);
    table->refCount++;
    SV_Release(v);
    v->tag = VARTYPE_TABLE;
    v->table = table;
    return v;
}

ScriptValue* SV_TableAlloc(ScriptValue* v) {
    SV_TableRec* rec = SV_TableCreate();
    if (rec) rec->refCount = 1;
    SV_Release(v);
    v->tag = VARTYPE_TABLE;
    v->table = rec;
    return v;
}

ScriptValue* SV_InitVariable(ScriptValue* v, const StoryVarDesc* desc) {
    SV_Release(v);
    switch (desc->kind) {
        case STORY_VAR_ZERO:
        case STORY_VAR_ZERO4: return SV_AssignInt(v, 0);
        case STORY_VAR_INTEGER: return SV_AssignInt(v, static_cast<int32_t>(desc->value));
        case STORY_VAR_STRING: return SV_AssignStaticString(v, desc->value);
        case STORY_VAR_ARRAY: return SV_AssignArray(v, nullptr);
        case STORY_VAR_FLOAT: {
            float f;
            std::memcpy(&f, &desc->value, sizeof f);
            return SV_AssignFloat(v, static_cast<double>(f));
        }
        default: return v;
    }
}

int SV_IsTrue(const ScriptValue* v) {
    switch (v->tag) {
        case VARTYPE_INTEGER: return v->i != 0;
        case VARTYPE_STRING: return v->u != 0;
        case VARTYPE_ARRAY:
        case VARTYPE_TABLE:
        case VARTYPE_DSTRING: return v->ptr != nullptr;
        case VARTYPE_OBJECT: return v->object && v->object->classObject;
        case VARTYPE_FLOAT: return !(v->f == 0.0);
        case VARTYPE_QUAD: return v->q != 0;
        default: return 0;
    }
}

int SV_IsFalse(const ScriptValue* v) {
    switch (v->tag) {
        case VARTYPE_INTEGER: return v->i == 0;
        case VARTYPE_STRING: return v->u == 0;
        case VARTYPE_ARRAY:
        case VARTYPE_TABLE:
        case VARTYPE_DSTRING: return v->ptr == nullptr;
        case VARTYPE_OBJECT: return !v->object || !v->object->classObject;
        case VARTYPE_FLOAT: return v->f == 0.0;
        case VARTYPE_QUAD: return v->q == 0;
        default: return 0;
    }
}

const char* SV_GetString(const ScriptValue* v) {
    if (!v) return nullptr;
    if (v->tag == VARTYPE_STRING) return SB_String(g_SEContext, v->u);
    if (v->tag == VARTYPE_DSTRING) return v->dstring ? v->dstring->text : nullptr;
    return nullptr;
}

int32_t SV_GetStringLength(const ScriptValue* v) {
    if (v && v->tag == VARTYPE_DSTRING)
        return v->dstring && v->dstring->text ? static_cast<int32_t>(v->dstring->length) : 0;
    const char* text = SV_GetString(v);
    return text ? static_cast<int32_t>(std::strlen(text)) : 0;
}

// Containers that contain themselves are cut short: a container already being
// printed further out, or nesting deeper than this, prints as "...".
static constexpr size_t kDisplayDepthLimit = 32;

static void Append(std::string& out, const char* fmt, ...) QEL_PRINTF_FMT(2, 3);
static void Append(std::string& out, const char* fmt, ...) {
    char buf[64];
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    if (n > 0) out.append(buf, std::min(static_cast<size_t>(n), sizeof buf - 1));
}

static void Display(std::string& out, const ScriptValue* v, std::vector<const void*>& open) {
    auto enter = [&](const void* rec) {
        for (const void* p : open)
            if (p == rec) return false;
        if (open.size() >= kDisplayDepthLimit) return false;
        open.push_back(rec);
        return true;
    };
    switch (v->tag) {
        case VARTYPE_INTEGER: Append(out, "%d", v->i); break;
        case VARTYPE_STRING:
            out += '\'';
            out += SB_String(g_SEContext, v->u);
            out += '\'';
            break;
        case VARTYPE_DSTRING:
            out += '"';
            if (v->dstring && v->dstring->text) out += v->dstring->text;
            out += '"';
            break;
        case VARTYPE_ARRAY: {
            const SAR* a = v->array;
            if (!a) {
                out += "NULLa";
            } else if (a->SAR_Size == 0) {
                out += "{}";
            } else if (a->SAR_Size < 0) {
                Append(out, "{%4d*0}", -a->SAR_Size);
            } else if (!enter(a)) {
                out += "...";
            } else {
                out += '{';
                for (int32_t i = 0; i < a->SAR_Size; ++i) {
                    if (i) out += ',';
                    Display(out, &a->elements[i], open);
                }
                out += '}';
                open.pop_back();
            }
            break;
        }
        case VARTYPE_TABLE: {
            const SV_TableRec* t = v->table;
            if (!t || t->count == 0 || !t->buckets) {
                out += "[]";
            } else if (!enter(t)) {
                out += "...";
            } else {
                out += '[';
                bool first = true;
                for (uint32_t b = 0; b < t->bucketCount; ++b) {
                    for (const SV_TableEntry* e = t->buckets[b]; e; e = e->next) {
                        if (!first) out += ',';
                        first = false;
                        Display(out, &e->cell[0], open);
                        out += ':';
                        Display(out, &e->cell[1], open);
                    }
                }
                out += ']';
                open.pop_back();
            }
            break;
        }
        case VARTYPE_OBJECT:
            if (!v->object) out += "<object null>";
            else Append(out, "<object %d>", v->object->id);
            break;
        case VARTYPE_FLOAT: Append(out, "%g", v->f); break;
        case VARTYPE_QUAD: Append(out, "%" PRId64, v->q); break;
        default: Append(out, "<type %d>", v->tag); break;
    }
}

const char* SV_ToString(ScriptValue* dst, const ScriptValue* v) {
    std::string text;
    std::vector<const void*> open;
    if (v) Display(text, v, open);
    SV_AssignString(dst, text.c_str());
    const char* result = SV_GetString(dst);
    return result ? result : "";
}
