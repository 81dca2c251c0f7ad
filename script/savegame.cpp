#include "script/savegame.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/file.h"
#include "base/log.h"
#include "base/table.h"
#include "script/arrays.h"
#include "script/context.h"
#include "script/loader.h"
#include "script/lookup.h"
#include "script/memory.h"
#include "script/opcodes.h"
#include "script/tables.h"
#include "script/tasks.h"
#include "script/values.h"

namespace {

constexpr char kStory[4] = {'S', 'T', 'O', 'R'};
constexpr char kStrings[4] = {'S', 'T', 'R', 'G'};
constexpr char kArrays[4] = {'A', 'R', 'R', 'A'};
constexpr char kTables[4] = {'T', 'A', 'B', 'L'};
constexpr char kInstances[4] = {'I', 'N', 'S', 'T'};
constexpr char kObjects[4] = {'O', 'B', 'J', 'E'};
constexpr char kTasks[4] = {'T', 'A', 'S', 'K'};
constexpr char kTask[4] = {'t', 'a', 's', 'k'};

constexpr uint32_t kHeaderWords = 18;
constexpr uint32_t kTaskWords = 12;

// Tags of cells whose id was not found when they were read; they keep the id.
constexpr uint8_t kUnresolvedDString = 15;
constexpr uint8_t kUnresolvedArray = 16;
constexpr uint8_t kUnresolvedTable = 17;
constexpr uint8_t kUnresolvedTask = 18;
constexpr uint8_t kUnresolvedObject = 19;

// Limits a damaged section cannot push a load past: what a record can hold
// and still be booked in the 32-bit memory counters.
constexpr uint32_t kMaxText = 0x7ffffff0u;
constexpr int32_t kMaxElements = static_cast<int32_t>(0x7fffffffu / sizeof(ScriptValue));
// Array cells of all arrays of one load together (256 MB).
constexpr int64_t kMaxLoadCells = int64_t{1} << 24;
constexpr uint32_t kMaxStackSlots = 1u << 20;
constexpr uint32_t kMaxNameLength = 4096;
constexpr uint32_t kStackStep = 32;

// The story a load reads instead of the saved one.
std::string s_storyOverride;

// ---------------------------------------------------------------- writing

struct Out {
    std::vector<uint8_t> bytes;
    void Byte(uint8_t b) { bytes.push_back(b); }
    void U32(uint32_t v) {
        uint8_t b[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
        bytes.insert(bytes.end(), b, b + 4);
    }
    void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
    void Cookie(const char c[4]) { bytes.insert(bytes.end(), c, c + 4); }
    void Raw(const void* p, size_t n) {
        auto* b = static_cast<const uint8_t*>(p);
        bytes.insert(bytes.end(), b, b + n);
    }
};

// 16.16 fixed point, saturated to 32 bits; NaN gives 0.
int32_t FixedOf(double d) {
    if (std::isnan(d)) return 0;
    double x = std::trunc(d * 65536.0);
    if (x >= 2147483647.0) return INT32_MAX;
    if (x <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(x);
}

void PutValue(Out& o, SE_Context* ctx, const ScriptValue* v) {
    o.Byte(v->tag);
    switch (v->tag) {
        case VARTYPE_INTEGER:
        case VARTYPE_ADDRESS: o.U32(v->u); break;
        case VARTYPE_STRING:
            Qel_DPrintf(0, "Warning saving static string <<%s>>!\n", SB_String(ctx, v->u));
            o.U32(v->u);
            break;
        case VARTYPE_ARRAY: o.U32(v->array ? v->array->id : 0); break;
        case VARTYPE_TABLE: o.U32(v->table ? v->table->id : 0); break;
        case VARTYPE_TASK: o.U32(v->task ? v->task->id : 0); break;
        case VARTYPE_DSTRING: o.U32(v->dstring ? v->dstring->id : 0); break;
        case VARTYPE_OBJECT: o.I32(v->object ? v->object->id : -1); break;
        case VARTYPE_FLOAT: o.I32(FixedOf(v->f)); break;
        case VARTYPE_USER:
            // No operation makes USER values; their record has no word to keep here.
            o.U32(0);
            break;
        case VARTYPE_QUAD:
            Qel_DPrintf(0, "Warning saving 64bit integeres not fully supported!\n");
            o.U32(static_cast<uint32_t>(v->q));
            break;
        case kUnresolvedDString:
        case kUnresolvedArray:
        case kUnresolvedTable:
        case kUnresolvedTask:
        case kUnresolvedObject:
            o.U32(v->u);  // kept as read, so it reads back the same
            break;
        default: break;  // 0, 6, 8, 12: the tag alone
    }
}

bool Flush(Out& o, QelFile* file) {
    if (o.bytes.empty()) return true;
    bool ok = Qel_fwriteBlock(file, 1, o.bytes.size(), o.bytes.data()) == o.bytes.size();
    o.bytes.clear();
    return ok;
}

// The records of one id table in its enumeration order; false (after the
// line) for an id without record.
template <class T>
bool Records(QelTable* table, const char* kind, std::vector<T*>& out) {
    for (uint32_t key = Qel_TableNext(table, 0); key; key = Qel_TableNext(table, key)) {
        auto* rec = reinterpret_cast<T*>(Qel_TableGet(table, key));
        if (!rec) {
            Qel_ErrPrintf("SB_SaveGame() Can't find %s id=%d!\n", kind, static_cast<int>(key));
            return false;
        }
        out.push_back(rec);
    }
    return true;
}

bool Save(SE_Context* ctx, Out& o) {
    const char* name = ctx->storyName ? ctx->storyName : "";
    uint32_t nameLength = static_cast<uint32_t>(std::strlen(name));
    uint32_t header[kHeaderWords] = {};
    header[0] = SB_SAVEGAME_VERSION;
    header[2] = nameLength;
    header[5] = ctx->compileTime;
    header[6] = Qel_TableGetNextKey(ctx->instanceTable);
    header[7] = Qel_TableGetNextKey(ctx->arrayTable);
    header[8] = Qel_TableGetNextKey(ctx->tableTable);
    header[9] = Qel_TableGetNextKey(ctx->taskTable);
    header[10] = Qel_TableGetNextKey(ctx->stringTable);
    header[11] = ctx->flags;
    o.Cookie(kStory);
    for (uint32_t w : header) o.U32(w);
    o.Raw(name, size_t{nameLength} + 1);
    Qel_DPrintf(0, "SB_SaveGame() NextStringID: %d NextArrayID: %d NextTableID: %d NextInstID: %d NextTaskID: %d\n",
                static_cast<int>(header[10]), static_cast<int>(header[7]), static_cast<int>(header[8]),
                static_cast<int>(header[6]), static_cast<int>(header[9]));

    std::vector<SV_DString*> strings;
    bool ok = Records(ctx->stringTable, "string", strings);
    o.Cookie(kStrings);
    o.U32(static_cast<uint32_t>(strings.size()));
    for (const SV_DString* s : strings) {
        const char* text = s->text ? s->text : "";
        uint32_t length = s->text ? s->length : 0;
        if (s->refCount == 0) Qel_ErrPrintf("SB_SaveGame() Saving string with RefCount %d <%s>\n", s->refCount, text);
        o.U32(s->id);
        o.U32(length);
        o.Raw(text, length);
        o.Byte(0);
    }
    if (!ok) return false;

    std::vector<SAR*> arrays;
    ok = Records(ctx->arrayTable, "array", arrays);
    o.Cookie(kArrays);
    o.U32(static_cast<uint32_t>(arrays.size()));
    for (const SAR* a : arrays) {
        if (a->refCount == 0) Qel_ErrPrintf("SB_SaveGame() Saving array with RefCount %d\n", a->refCount);
        o.U32(a->id);
        o.I32(a->SAR_Size);
        o.I32(a->SAR_MaxSize);
    }
    if (!ok) return false;

    std::vector<SV_TableRec*> tables;
    ok = Records(ctx->tableTable, "table", tables);
    o.Cookie(kTables);
    o.U32(static_cast<uint32_t>(tables.size()));
    for (const SV_TableRec* t : tables) {
        if (t->refCount == 0) Qel_ErrPrintf("SB_SaveGame() Saving table with RefCount %d\n", t->refCount);
        o.U32(t->id);
    }
    if (!ok) return false;

    std::vector<StoryInstance*> instances;
    ok = Records(ctx->instanceTable, "inst", instances);
    o.Cookie(kInstances);
    o.U32(static_cast<uint32_t>(instances.size()));
    for (const StoryInstance* inst : instances) o.I32(inst->id);
    if (!ok) return false;

    o.Cookie(kArrays);
    o.U32(static_cast<uint32_t>(arrays.size()));
    for (const SAR* a : arrays) {
        o.U32(a->id);
        for (int32_t i = 0; i < a->SAR_Size && a->elements; ++i) PutValue(o, ctx, &a->elements[i]);
    }

    o.Cookie(kTables);
    o.U32(static_cast<uint32_t>(tables.size()));
    for (SV_TableRec* t : tables) {
        o.U32(t->id);
        o.U32(t->nextKey);
        o.U32(t->count);
        ScriptValue cell{};
        cell.tag = VARTYPE_TABLE;
        cell.table = t;
        // Written as many as counted, so the reader stays in step.
        uint32_t written = 0;
        for (ScriptValue* k = SV_TableNextKey(nullptr, &cell); k && written < t->count;
             k = SV_TableNextKey(k, &cell), ++written) {
            PutValue(o, ctx, k);
            PutValue(o, ctx, SV_TableEntryData(k));
        }
        for (; written < t->count; ++written) {
            o.Byte(VARTYPE_UNDEFINED);
            o.Byte(VARTYPE_UNDEFINED);
        }
    }

    o.Cookie(kObjects);
    o.U32(ctx->objectCount);
    for (uint32_t i = 0; i < ctx->objectCount; ++i) {
        const StoryObject& obj = ctx->objects[i];
        uint32_t count = obj.variables ? obj.variableCount : 0;
        o.I32(obj.id);
        o.U32(count);
        for (uint32_t v = 0; v < count; ++v) PutValue(o, ctx, &obj.variables[v]);
    }

    o.Cookie(kInstances);
    o.U32(static_cast<uint32_t>(instances.size()));
    for (const StoryInstance* inst : instances) {
        const StoryObject* cls = inst->classObject;
        uint32_t count = cls && inst->variables ? cls->variableCount : 0;
        o.I32(inst->id);
        o.I32(cls ? cls->id : 0);
        o.U32(count);
        for (uint32_t v = 0; v < count; ++v) PutValue(o, ctx, &inst->variables[v]);
    }

    std::vector<SE_Task*> tasks;
    ok = Records(ctx->taskTable, "task", tasks);
    o.Cookie(kTasks);
    o.U32(static_cast<uint32_t>(tasks.size()));
    for (const SE_Task* t : tasks) {
        int32_t sp = t->stackEnd ? t->sp : 0;
        o.Cookie(kTask);
        o.U32(t->id);
        o.U32(t->position);
        o.I32(t->callerModule);
        o.U32(t->callerNumber);
        o.U32(0);
        o.I32(t->object ? t->object->id : -1);
        o.I32(sp);
        o.U32(t->stackSize);
        o.I32(static_cast<int16_t>(t->refCount));
        o.U32(0);
        o.I32(t->returnKind);
        o.I32(t->state);
        for (int32_t k = sp; k < 0; ++k) PutValue(o, ctx, t->stackEnd + k);
    }
    return ok;
}

// ---------------------------------------------------------------- reading

struct In {
    QelFile* file;
    bool ok = true;
    bool Read(void* p, size_t n) {
        if (ok && n && Qel_fread(file, 1, n, p) != n) ok = false;
        return ok;
    }
    bool U32(uint32_t& v) {
        uint8_t b[4];
        if (!Read(b, 4)) return false;
        v = uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
        return true;
    }
    bool I32(int32_t& v) {
        uint32_t u;
        if (!U32(u)) return false;
        v = static_cast<int32_t>(u);
        return true;
    }
    bool Cookie(const char c[4]) {
        char b[4];
        return Read(b, 4) && std::memcmp(b, c, 4) == 0;
    }
};

// Records made by one load, by the id they were saved under.
template <class T>
struct Made {
    std::vector<T*> list;                      // creation order
    std::vector<uint32_t> keys;                // the key each is entered under
    std::unordered_map<uint32_t, T*> bySaved;  // saved id -> record
    T* Find(uint32_t id) const {
        auto it = bySaved.find(id);
        return it == bySaved.end() ? nullptr : it->second;
    }
};

struct Load {
    SE_Context* ctx = nullptr;
    In in{nullptr};
    bool own = false;  // ids resolve through the records of this load
    Made<SV_DString> strings;
    Made<SAR> arrays;
    Made<SV_TableRec> tables;
    std::vector<StoryInstance*> instances;
    std::vector<uint32_t> instanceVariables;  // cells allocated per instance
    std::vector<SE_Task*> tasks;              // entered in the lists and the table
    const StoryPatch* patch = nullptr;
    bool relink = false;
    bool patchFailed = false;
    uint32_t firstFailure = 2147483647u;
    int64_t arrayCells = 0;  // element storage taken ahead of the elements
};

// Enters a record under the id it was saved with; an id taken by a record of
// the running program (held outside the script state) gets a fresh key.
uint32_t Enter(QelTable* table, uint32_t saved, void* rec) {
    auto value = reinterpret_cast<uintptr_t>(rec);
    if (saved >= 1 && saved <= QEL_TABLE_MAX_KEY && !Qel_TableFind(table, saved))
        return Qel_TableSet(table, saved, value) == 1 ? saved : 0;
    return Qel_TableAdd(table, value);
}

template <class T>
T* Resolve(const Load& l, const Made<T>& made, QelTable* table, uint32_t id) {
    if (l.own) return made.Find(id);
    return reinterpret_cast<T*>(Qel_TableGet(table, id));
}

void SetCell(ScriptValue* target, uint8_t tag, uint64_t bits) {
    SV_Release(target);
    target->tag = tag;
    target->bits = bits;
}

void SharePointer(ScriptValue* target, uint8_t tag, void* rec) {
    SV_Release(target);
    target->tag = tag;
    target->ptr = rec;
}

bool LoadValue(Load& l, ScriptValue* target) {
    SE_Context* ctx = l.ctx;
    uint8_t tag;
    if (!l.in.Read(&tag, 1)) return false;
    uint32_t word = 0;
    switch (tag) {
        case VARTYPE_UNDEFINED: SV_Release(target); return true;
        case VARTYPE_NULL: SetCell(target, VARTYPE_NULL, 0); return true;
        case 6:
        case 12: return true;  // the target stays as it was
        case VARTYPE_INTEGER:
        case VARTYPE_STRING:
        case VARTYPE_ARRAY:
        case VARTYPE_TABLE:
        case VARTYPE_TASK:
        case VARTYPE_OBJECT:
        case VARTYPE_DSTRING:
        case VARTYPE_FLOAT:
        case VARTYPE_USER:
        case VARTYPE_ADDRESS:
        case VARTYPE_QUAD:
        case kUnresolvedDString:
        case kUnresolvedArray:
        case kUnresolvedTable:
        case kUnresolvedTask:
        case kUnresolvedObject: break;
        default:
            // No save holds such a tag: the stream is out of step.
            Qel_ErrPrintf("SB_LoadGame: unknown value type %d\n", tag);
            return false;
    }
    if (!l.in.U32(word)) return false;
    auto sword = static_cast<int32_t>(word);
    switch (tag) {
        case VARTYPE_INTEGER: SV_AssignInt(target, sword); return true;
        case VARTYPE_STRING: SV_AssignStaticString(target, word); return true;
        case VARTYPE_ADDRESS: SV_AssignAddress(target, word); return true;
        case VARTYPE_FLOAT: SV_AssignFloat(target, sword / 65536.0); return true;
        case VARTYPE_QUAD: SV_AssignQuad(target, sword); return true;
        case VARTYPE_USER: return true;  // the target stays as it was
        case VARTYPE_ARRAY:
            if (word == 0) {
                SV_AssignArray(target, nullptr);
            } else if (SAR* a = Resolve(l, l.arrays, ctx->arrayTable, word)) {
                a->refCount++;
                SharePointer(target, VARTYPE_ARRAY, a);
            } else {
                SetCell(target, kUnresolvedArray, word);
            }
            return true;
        case VARTYPE_TABLE:
            if (word == 0) {
                SharePointer(target, VARTYPE_TABLE, nullptr);
            } else if (SV_TableRec* t = Resolve(l, l.tables, ctx->tableTable, word)) {
                t->refCount++;
                SharePointer(target, VARTYPE_TABLE, t);
            } else {
                SetCell(target, kUnresolvedTable, word);
            }
            return true;
        case VARTYPE_DSTRING:
            if (word == 0) {
                SharePointer(target, VARTYPE_DSTRING, nullptr);
            } else if (SV_DString* s = Resolve(l, l.strings, ctx->stringTable, word)) {
                s->refCount++;
                SharePointer(target, VARTYPE_DSTRING, s);
            } else {
                SetCell(target, kUnresolvedDString, word);
            }
            return true;
        case VARTYPE_TASK:
            if (word == 0) {
                SharePointer(target, VARTYPE_TASK, nullptr);
            } else if (SE_Task* t = SE_FindTask(ctx, word)) {
                // Counted, so the task record outlives its end while the value lives.
                t->refCount++;
                SharePointer(target, VARTYPE_TASK, t);
            } else {
                SetCell(target, kUnresolvedTask, word);
            }
            return true;
        case VARTYPE_OBJECT:
            if (sword == -1) {
                SharePointer(target, VARTYPE_OBJECT, nullptr);
            } else if (StoryInstance* o = SB_FindObject(ctx, sword)) {
                // Instances get their class later in the load: shared directly.
                o->refCount++;
                SharePointer(target, VARTYPE_OBJECT, o);
            } else {
                SetCell(target, kUnresolvedObject, word);
            }
            return true;
        default:
            SetCell(target, tag, word);  // an unresolved cell, kept as it was saved
            return true;
    }
}

// Reads a value that has no place to go.
bool SkipValue(Load& l) {
    ScriptValue cell{};
    bool ok = LoadValue(l, &cell);
    SV_Release(&cell);
    return ok;
}

bool WrongCookie(const char* name) {
    Qel_ErrPrintf("SB_LoadGame: Wrong %s cookie\n", name);
    return false;
}

bool Bad(const char* what, int32_t n) {
    Qel_ErrPrintf("SB_LoadGame: %s %d\n", what, n);
    return false;
}

bool ReadStrings(Load& l, uint32_t nextKey) {
    SE_Context* ctx = l.ctx;
    if (!l.in.Cookie(kStrings)) return WrongCookie("STRG");
    uint32_t count;
    if (!l.in.U32(count)) return false;
    std::vector<char> text;
    for (uint32_t k = 0; k < count; ++k) {
        uint32_t id, length;
        if (!l.in.U32(id) || !l.in.U32(length)) return false;
        if (length > kMaxText) return Bad("string too long, id", static_cast<int32_t>(id));
        if (l.strings.Find(id)) return Bad("second string with id", static_cast<int32_t>(id));
        // Read in pieces: a damaged length ends the stream before it costs memory.
        text.clear();
        for (size_t left = size_t{length} + 1; left;) {
            size_t piece = std::min<size_t>(left, 1u << 16);
            size_t at = text.size();
            text.resize(at + piece);
            if (!l.in.Read(text.data() + at, piece)) return false;
            left -= piece;
        }
        auto* s = SB_AllocRecord<SV_DString>(ctx, SE_MEMCAT_DSTRING);
        char* copy = s ? static_cast<char*>(SB_Alloc(ctx, SE_MEMCAT_TEXT, 0, size_t{length} + 1)) : nullptr;
        if (!copy) {
            SB_FreeRecord(ctx, SE_MEMCAT_DSTRING, s);
            return Bad("no memory for string", static_cast<int32_t>(id));
        }
        std::memcpy(copy, text.data(), length);
        copy[length] = '\0';
        s->text = copy;
        s->length = length;
        s->hash = SV_TextHash(copy);
        s->refCount = 1;  // the load's own hold, dropped when it ends
        s->id = Enter(ctx->stringTable, id, s);
        l.strings.list.push_back(s);
        l.strings.keys.push_back(s->id);
        l.strings.bySaved[id] = s;
        if (!s->id) return Bad("no key for string", static_cast<int32_t>(id));
    }
    Qel_TableSetNextKey(ctx->stringTable, nextKey);
    return true;
}

bool ReadArrayHeads(Load& l, uint32_t nextKey) {
    SE_Context* ctx = l.ctx;
    if (!l.in.Cookie(kArrays)) return WrongCookie("ARRA");
    uint32_t count;
    if (!l.in.U32(count)) return false;
    for (uint32_t k = 0; k < count; ++k) {
        uint32_t id;
        int32_t size, max;
        if (!l.in.U32(id) || !l.in.I32(size) || !l.in.I32(max)) return false;
        if (l.arrays.Find(id)) return Bad("second array with id", static_cast<int32_t>(id));
        if (size < -kMaxElements || size > kMaxElements) return Bad("array size out of range", size);
        if (size < 0) {
            max = -size;  // not materialised: the capacity is the element count
        } else if (max < size) {
            Qel_ErrPrintf("SB_LoadGame: SAR_MaxSize (%d) < SAR_Size (%d) - correcting\n", max, size);
            max = size;
        }
        if (max > kMaxElements) return Bad("array capacity out of range", max);
        // Storage is taken before the elements are read: a few header bytes
        // must not claim gigabytes (and as long to free again).
        if (size >= 0 && (l.arrayCells += max) > kMaxLoadCells) return Bad("array storage out of range", max);
        auto* a = SB_AllocRecord<SAR>(ctx, SE_MEMCAT_ARRAY);
        if (!a) return Bad("no memory for array", static_cast<int32_t>(id));
        a->SAR_Size = size;
        a->SAR_MaxSize = max;
        a->refCount = 1;  // the load's own hold
        // A not-materialised array gets its storage when it is first touched.
        if (size >= 0 && max > 0) {
            a->elements = static_cast<ScriptValue*>(
                SB_Alloc(ctx, SE_MEMCAT_ARRAY_VALUES, SE_MEM_ZERO, size_t(max) * SE_SIZE_VALUE));
            if (!a->elements) {
                SB_FreeRecord(ctx, SE_MEMCAT_ARRAY, a);
                return Bad("no memory for array elements", static_cast<int32_t>(id));
            }
        }
        a->id = Enter(ctx->arrayTable, id, a);
        l.arrays.list.push_back(a);
        l.arrays.keys.push_back(a->id);
        l.arrays.bySaved[id] = a;
        if (!a->id) return Bad("no key for array", static_cast<int32_t>(id));
    }
    Qel_TableSetNextKey(ctx->arrayTable, nextKey);
    return true;
}

bool ReadTableHeads(Load& l, uint32_t nextKey) {
    SE_Context* ctx = l.ctx;
    if (!l.in.Cookie(kTables)) return WrongCookie("TABL");
    uint32_t count;
    if (!l.in.U32(count)) return false;
    for (uint32_t k = 0; k < count; ++k) {
        uint32_t id;
        if (!l.in.U32(id)) return false;
        if (l.tables.Find(id)) return Bad("second table with id", static_cast<int32_t>(id));
        auto* t = SB_AllocRecord<SV_TableRec>(ctx, SE_MEMCAT_TABLE);
        if (!t) return Bad("no memory for table", static_cast<int32_t>(id));
        t->bucketCount = 4;
        t->refCount = 1;  // the load's own hold
        t->id = Enter(ctx->tableTable, id, t);
        l.tables.list.push_back(t);
        l.tables.keys.push_back(t->id);
        l.tables.bySaved[id] = t;
        if (!t->id) return Bad("no key for table", static_cast<int32_t>(id));
    }
    Qel_TableSetNextKey(ctx->tableTable, nextKey);
    return true;
}

bool ReadInstanceHeads(Load& l, uint32_t nextKey) {
    SE_Context* ctx = l.ctx;
    if (!l.in.Cookie(kInstances)) return WrongCookie("INST");
    uint32_t count;
    if (!l.in.U32(count)) return false;
    for (uint32_t k = 0; k < count; ++k) {
        int32_t id;
        if (!l.in.I32(id)) return false;
        // Instances have ids -2 and below (key -id-1 from 1 on).
        uint32_t key = id < -1 ? static_cast<uint32_t>(-(static_cast<int64_t>(id) + 1)) : 0;
        if (key == 0 || key > QEL_TABLE_MAX_KEY) return Bad("invalid instance id", id);
        if (Qel_TableFind(ctx->instanceTable, key)) return Bad("second instance with id", id);
        auto* inst = SB_AllocRecord<StoryInstance>(ctx, SE_MEMCAT_INSTANCES);
        if (!inst) return Bad("no memory for instance", id);
        inst->id = id;
        inst->refCount = 1;  // the load's own hold: it has no class yet
        l.instances.push_back(inst);
        l.instanceVariables.push_back(0);
        if (Qel_TableSet(ctx->instanceTable, key, reinterpret_cast<uintptr_t>(inst)) != 1)
            return Bad("no key for instance", id);
    }
    Qel_TableSetNextKey(ctx->instanceTable, nextKey);
    return true;
}

bool ReadArrayContents(Load& l) {
    if (!l.in.Cookie(kArrays)) return WrongCookie("ARRA");
    uint32_t count;
    if (!l.in.U32(count)) return false;
    for (uint32_t k = 0; k < count; ++k) {
        uint32_t id;
        if (!l.in.U32(id)) return false;
        SAR* a = l.arrays.Find(id);
        if (!a) {
            // Its cells cannot be told from what follows: the rest is out of step.
            Qel_ErrPrintf("SB_LoadGame() Unable to find array id=%d\n", static_cast<int>(id));
            return false;
        }
        for (int32_t i = 0; i < a->SAR_Size; ++i)
            if (!LoadValue(l, &a->elements[i])) return false;
    }
    return true;
}

bool ReadTableContents(Load& l) {
    if (!l.in.Cookie(kTables)) return WrongCookie("TABL");
    uint32_t count;
    if (!l.in.U32(count)) return false;
    for (uint32_t k = 0; k < count; ++k) {
        uint32_t id, nextKey, entries;
        if (!l.in.U32(id) || !l.in.U32(nextKey) || !l.in.U32(entries)) return false;
        SV_TableRec* t = l.tables.Find(id);
        if (!t) {
            Qel_ErrPrintf("SB_LoadGame() Unable to find array id=%d\n", static_cast<int>(id));
            return false;
        }
        t->nextKey = nextKey;
        ScriptValue table{};
        table.tag = VARTYPE_TABLE;
        table.table = t;  // borrowed: no reference is taken or dropped
        for (uint32_t e = 0; e < entries; ++e) {
            ScriptValue key{}, data{};
            bool ok = LoadValue(l, &key) && LoadValue(l, &data);
            if (ok) {
                // The data is moved in rather than copied: instances read so far
                // have no class yet, and a copy of such an OBJECT would be null.
                ScriptValue none{};
                if (SV_TableAdd(&table, &key, &none))
                    if (ScriptValue* slot = SV_TableFind(&table, &key)) SV_Move(&data, slot);
            }
            SV_Release(&key);
            SV_Release(&data);
            if (!ok) return false;
        }
    }
    return true;
}

// Sets an object's or instance's variables to the story's initial values,
// along its class's super chain.
void InitVariables(ScriptValue* vars, uint32_t count, const StoryObject* cls) {
    SB_InitObjectVariables(vars, count, cls);
}

bool ReadVariables(Load& l, ScriptValue* vars, uint32_t count, uint32_t saved) {
    for (uint32_t i = 0; i < saved; ++i) {
        // Values beyond the class's count (it lost variables since) are dropped.
        if (!(i < count ? LoadValue(l, &vars[i]) : SkipValue(l))) return false;
    }
    return true;
}

bool ReadObjects(Load& l) {
    SE_Context* ctx = l.ctx;
    if (!l.in.Cookie(kObjects)) return WrongCookie("OBJE");
    uint32_t count;
    if (!l.in.U32(count)) return false;
    if (count != ctx->objectCount)
        Qel_ErrPrintf(
            "SB_LoadGame: Num static objects in savegame (%d) different from num objects in current story (%d)\n",
            static_cast<int>(count), static_cast<int>(ctx->objectCount));
    uint32_t from = 0;
    for (uint32_t k = 0; k < count; ++k) {
        int32_t id;
        uint32_t saved;
        if (!l.in.I32(id) || !l.in.U32(saved)) return false;
        while (from < ctx->objectCount && ctx->objects[from].id != id) {
            Qel_DPrintf(0, "skipping object %d in current story, must be new!\n", ctx->objects[from].id);
            ++from;
        }
        if (from >= ctx->objectCount) {
            Qel_ErrPrintf("SB_LoadGame: Couldn't find savegame static object %d in current story static objects!\n",
                          id);
            return false;
        }
        StoryObject& obj = ctx->objects[from++];
        if (!ReadVariables(l, obj.variables, obj.variables ? obj.variableCount : 0, saved)) return false;
    }
    return true;
}

bool ReadInstanceContents(Load& l) {
    SE_Context* ctx = l.ctx;
    if (!l.in.Cookie(kInstances)) return WrongCookie("INST");
    uint32_t count;
    if (!l.in.U32(count)) return false;
    for (uint32_t k = 0; k < count; ++k) {
        int32_t id, classId;
        uint32_t saved;
        if (!l.in.I32(id) || !l.in.I32(classId) || !l.in.U32(saved)) return false;
        auto at =
            std::find_if(l.instances.begin(), l.instances.end(), [&](const StoryInstance* i) { return i->id == id; });
        if (at == l.instances.end() || (*at)->classObject) return Bad("instance without its record", id);
        StoryInstance* inst = *at;
        // Classes are story objects; an instance made from a class the story
        // no longer has cannot be rebuilt.
        StoryInstance* found = classId > 0 ? SB_FindObject(ctx, classId) : nullptr;
        if (!found) {
            Qel_ErrPrintf("SB_LoadGame: Can't find class %d of instance %d\n", classId, id);
            return false;
        }
        auto* cls = static_cast<StoryObject*>(found);
        uint32_t vars = cls->variableCount;
        if (vars) {
            inst->variables = static_cast<ScriptValue*>(
                SB_Alloc(ctx, SE_MEMCAT_INSTANCES, SE_MEM_ZERO, size_t{vars} * SE_SIZE_VALUE));
            if (!inst->variables) return Bad("no memory for the variables of instance", id);
            l.instanceVariables[static_cast<size_t>(at - l.instances.begin())] = vars;
        }
        inst->classObject = cls;
        InitVariables(inst->variables, vars, cls);
        if (!ReadVariables(l, inst->variables, vars, saved)) return false;
    }
    for (const StoryInstance* inst : l.instances)
        if (!inst->classObject) return Bad("no variables saved for instance", inst->id);
    return true;
}

// A code position of the saved compile moved to the loaded one; false when
// its pair leads to 0. *fallback: where a failed task is left.
bool Shift(const Load& l, uint32_t pos, uint32_t* out, uint32_t* fallback) {
    *out = pos;
    *fallback = pos;
    const StoryPatch* p = l.patch;
    if (!p || !p->pairs) return true;
    const StoryPatchPair* begin = p->pairs;
    const StoryPatchPair* end = begin + p->pairCount;
    const StoryPatchPair* at =
        std::upper_bound(begin, end, pos, [](uint32_t v, const StoryPatchPair& q) { return v < q.oldPosition; });
    if (at == p->pairs) return true;
    const StoryPatchPair* pair = at - 1;
    const StoryPatchPair* before = pair == p->pairs ? nullptr : pair - 1;
    *fallback = before ? pair->oldPosition - before->oldPosition + before->newPosition : pair->oldPosition;
    if (pair->newPosition == 0) return false;
    *out = pos - pair->oldPosition + pair->newPosition;
    return true;
}

bool OpcodeAt(const SE_Context* ctx, uint32_t pos, uint32_t back, uint16_t op) {
    return pos >= back && pos - back < ctx->codeWords && ctx->code[pos - back] == op;
}

void Failed(Load& l, uint32_t pos) {
    l.patchFailed = true;
    if (pos < l.firstFailure) l.firstFailure = pos;
}

void RelinkTask(Load& l, SE_Task* task) {
    SE_Context* ctx = l.ctx;
    char where[50];
    uint32_t to, fallback;
    if (Shift(l, task->position, &to, &fallback) && to != 0 && OpcodeAt(ctx, to, 3, SE_OP_SYSL)) {
        task->position = to;
        Qel_DPrintf(4, "Patched Task %d PC %08x - %s\n", static_cast<int>(task->id), to - 3,
                    SE_GetDebugAddress(ctx, where, sizeof where, to - 3, task->object));
    } else {
        task->position = fallback;
        Failed(l, fallback);
    }
    for (ScriptValue* v = task->stackEnd - 1; v >= task->stackEnd + task->sp; --v) {
        if (v->tag != VARTYPE_ADDRESS || v->u == 0) continue;
        if (Shift(l, v->u, &to, &fallback) &&
            (OpcodeAt(ctx, to, 3, SE_OP_METHODL) || OpcodeAt(ctx, to, 5, SE_OP_CALLATL) ||
             OpcodeAt(ctx, to, 5, SE_OP_METHODATL))) {
            v->bits = to;
            Qel_DPrintf(4, "SB_LoadGame()   Task %d Function return address %08x - %s\n", static_cast<int>(task->id),
                        to, SE_GetDebugAddress(ctx, where, sizeof where, to, nullptr));
        } else {
            Failed(l, fallback);
        }
    }
    if (!l.patchFailed) {
        uint32_t need = SE_TaskStackNeed(task);
        if (need > task->stackSize) {
            Qel_DPrintf(0, "SB_LoadGame() Task %d [%06x]: stack size %d too small, increasing!\n",
                        static_cast<int>(task->id), task->position, static_cast<int>(task->stackSize));
            SE_GrowTaskStack(ctx, task, need);
        }
    }
}

bool ReadTasks(Load& l, uint32_t nextKey) {
    SE_Context* ctx = l.ctx;
    if (!l.in.Cookie(kTasks)) return WrongCookie("TASK");
    uint32_t count;
    if (!l.in.U32(count)) return false;
    for (uint32_t k = 0; k < count; ++k) {
        if (!l.in.Cookie(kTask)) {
            if (l.in.ok) Qel_ErrPrintf("SB_LoadGame: Wrong task cookie\n");
            return false;
        }
        uint32_t w[kTaskWords];
        for (uint32_t& word : w)
            if (!l.in.U32(word)) return false;
        auto sp = static_cast<int32_t>(w[6]);
        auto state = static_cast<int16_t>(w[11]);
        uint32_t depth = sp <= 0 ? static_cast<uint32_t>(-static_cast<int64_t>(sp)) : kMaxStackSlots + 1;
        if (depth > kMaxStackSlots || w[7] > kMaxStackSlots)
            return Bad("stack out of range in task", static_cast<int32_t>(w[0]));

        if (state != SE_TASK_READY && state != SE_TASK_WAITING) {
            Qel_ErrPrintf("SB_LoadGame: task in unknown state %d, ignoring!\n", state);
            for (uint32_t i = 0; i < depth; ++i)
                if (!SkipValue(l)) return false;
            continue;
        }
        if (w[0] == 0 || w[0] > QEL_TABLE_MAX_KEY || SE_FindTask(ctx, w[0]))
            return Bad("invalid task id", static_cast<int32_t>(w[0]));
        uint32_t size = w[7] <= kStackStep ? kStackStep : (w[7] + kStackStep - 1) / kStackStep * kStackStep;
        if (depth > size) return Bad("stack deeper than its size in task", static_cast<int32_t>(w[0]));

        auto* task = SB_AllocRecord<SE_Task>(ctx, SE_MEMCAT_TASKS);
        if (!task) {
            Qel_ErrPrintf("SB_LoadGame: Cant alloc task struct\n");
            return false;
        }
        auto* stack =
            static_cast<ScriptValue*>(SB_Alloc(ctx, SE_MEMCAT_TASK_STACKS, SE_MEM_ZERO, size_t{size} * SE_SIZE_VALUE));
        if (!stack) {
            SB_FreeRecord(ctx, SE_MEMCAT_TASKS, task);
            return Bad("no memory for the stack of task", static_cast<int32_t>(w[0]));
        }
        task->id = w[0];
        task->position = w[1];
        task->callerModule = static_cast<int32_t>(w[2]);
        task->callerNumber = w[3];
        task->returnKind = static_cast<int16_t>(w[10]);
        task->state = state;
        task->stackSize = size;
        task->stackEnd = stack + size;
        task->sp = 0;
        auto objectId = static_cast<int32_t>(w[5]);
        if (objectId != -1) {
            task->object = SB_FindObject(ctx, objectId);
            if (!task->object) Qel_ErrPrintf("SB_LoadGame: Can't find Object %d\n", objectId);
        }
        // Unread cells stay undefined, so a failure releases exactly what was read.
        task->sp = sp;
        l.tasks.push_back(task);
        for (uint32_t i = 0; i < depth; ++i)
            if (!LoadValue(l, task->stackEnd + sp + static_cast<int32_t>(i))) return false;
        if (l.relink) RelinkTask(l, task);  // may grow (and so move) the stack
        if (state == SE_TASK_WAITING && depth > 0) {
            // The pending engine call: its count on top, its arguments below;
            // the answer that wakes the task replaces them.
            const ScriptValue* top = task->stackEnd + sp;
            if (top->tag == VARTYPE_INTEGER && top->i >= 0 && static_cast<uint32_t>(top->i) < depth) {
                task->pendingArgc = static_cast<uint16_t>(top->i);
                task->pendingArgs = task->stackEnd + sp + 1;
            }
        }
        SE_ListAddTail(state == SE_TASK_READY ? &ctx->ready : &ctx->waiting, &task->link);
        if (Qel_TableSet(ctx->taskTable, task->id, reinterpret_cast<uintptr_t>(task)) != 1)
            return Bad("no key for task", static_cast<int32_t>(task->id));
    }
    Qel_TableSetNextKey(ctx->taskTable, nextKey);
    if (l.patchFailed) {
        Qel_DPrintf(4, "SB_LoadGame() first code position that could not be moved: %06x\n", l.firstFailure);
        Qel_ErrPrintf("Error patching loaded save game!\n");
        return false;
    }
    return true;
}

// Ends the load's own hold on its records; those that no value refers to go.
// Records are only touched before their hold ends: after it, freeing one
// may free others through the values it holds.
void Release(Load& l) {
    for (SV_DString* s : l.strings.list) {
        if (--s->refCount != 0) continue;
        Qel_DPrintf(0, "SB_LoadGame() Removing string with RefCount %d <%s>\n", s->refCount, s->text);
        SV_DStringFree(s);
    }
    for (SAR* a : l.arrays.list) {
        if (--a->refCount != 0) continue;
        Qel_DPrintf(0, "SB_LoadGame() Removing array with RefCount %d size %d\n", a->refCount, a->SAR_Size);
        ScriptValue cell{};
        cell.tag = VARTYPE_ARRAY;
        cell.array = a;
        SV_ArrayFree(&cell);
    }
    for (SV_TableRec* t : l.tables.list) {
        if (--t->refCount != 0) continue;
        Qel_DPrintf(0, "SB_LoadGame() Removing table with RefCount %d\n", t->refCount);
        SV_TableFree(t);
    }
    // An instance stays in the instance table without references.
    for (StoryInstance* inst : l.instances) inst->refCount--;
}

// Moves the cells of a run into `keep` (released later) and empties them.
// Only cells that hold something are kept: a count read from the file sizes
// the run, but only the values the load read fill it, so `keep` never grows
// by more than the file holds.
void Take(ScriptValue* cells, size_t n, std::vector<ScriptValue>& keep) {
    for (size_t i = 0; i < n; ++i) {
        if (cells[i].tag == VARTYPE_UNDEFINED) continue;
        keep.push_back(cells[i]);
        cells[i] = ScriptValue{};
    }
}

void FreeLoadedTask(SE_Context* ctx, SE_Task* task, std::vector<ScriptValue>& keep) {
    SE_ListRemove(&task->link);
    if (task->id && Qel_TableGet(ctx->taskTable, task->id) == reinterpret_cast<uintptr_t>(task))
        Qel_TableRemove(ctx->taskTable, task->id);
    if (task->stackEnd) {
        Take(task->stackEnd + task->sp, static_cast<size_t>(-task->sp), keep);
        SB_Free(ctx, SE_MEMCAT_TASK_STACKS, task->stackEnd - task->stackSize, size_t{task->stackSize} * SE_SIZE_VALUE);
    }
    task->stackEnd = nullptr;
    task->stackSize = 0;
    task->sp = 0;
    task->id = 0;
    task->object = nullptr;
    // A TASK value still counted on it frees the record with its last release.
    if (task->refCount == 0) SB_FreeRecord(ctx, SE_MEMCAT_TASKS, task);
}

// Undoes a failed load: every record it made goes, and the story's objects
// get their initial values back. The contents of all records are taken out
// first and released after; the load's own hold keeps every record alive
// until then, so records that refer to each other, or to themselves, are
// freed exactly once.
void Abandon(Load& l) {
    SE_Context* ctx = l.ctx;
    std::vector<ScriptValue> keep;
    for (SE_Task* task : l.tasks) FreeLoadedTask(ctx, task, keep);
    for (size_t i = 0; i < l.instances.size(); ++i) {
        StoryInstance* inst = l.instances[i];
        auto key = static_cast<uint32_t>(-(static_cast<int64_t>(inst->id) + 1));
        if (Qel_TableGet(ctx->instanceTable, key) == reinterpret_cast<uintptr_t>(inst))
            Qel_TableRemove(ctx->instanceTable, key);
        if (inst->variables) {
            Take(inst->variables, l.instanceVariables[i], keep);
            SB_Free(ctx, SE_MEMCAT_INSTANCES, inst->variables, size_t{l.instanceVariables[i]} * SE_SIZE_VALUE);
            inst->variables = nullptr;
        }
        // Deleted: the last OBJECT value to let go frees it.
        inst->classObject = nullptr;
        inst->id = -1;
    }
    for (uint32_t i = 0; i < ctx->objectCount; ++i) {
        StoryObject& obj = ctx->objects[i];
        if (!obj.variables) continue;
        Take(obj.variables, obj.variableCount, keep);
        InitVariables(obj.variables, obj.variableCount, &obj);
    }
    for (SAR* a : l.arrays.list) {
        if (a->elements) {
            if (a->SAR_Size > 0) Take(a->elements, static_cast<size_t>(a->SAR_Size), keep);
            SB_Free(ctx, SE_MEMCAT_ARRAY_VALUES, a->elements, size_t(a->SAR_MaxSize) * SE_SIZE_VALUE);
        }
        a->elements = nullptr;
        a->SAR_Size = a->SAR_MaxSize = 0;
    }
    for (SV_TableRec* t : l.tables.list)
        SV_TableEmpty(
            t, [](ScriptValue* cells, void* arg) { Take(cells, 2, *static_cast<std::vector<ScriptValue>*>(arg)); },
            &keep);
    for (ScriptValue& v : keep) SV_Release(&v);
    // Only the load's own hold is left on each record now.
    for (SV_DString* s : l.strings.list)
        if (--s->refCount == 0) SV_DStringFree(s);
    for (SAR* a : l.arrays.list) {
        if (--a->refCount != 0) continue;
        ScriptValue cell{};
        cell.tag = VARTYPE_ARRAY;
        cell.array = a;
        SV_ArrayFree(&cell);
    }
    for (SV_TableRec* t : l.tables.list)
        if (--t->refCount == 0) SV_TableFree(t);
    for (StoryInstance* inst : l.instances)
        if (--inst->refCount == 0) SB_FreeRecord(ctx, SE_MEMCAT_INSTANCES, inst);
}

int LoadSection(Load& l) {
    SE_Context* ctx = l.ctx;
    uint32_t header[kHeaderWords];
    for (uint32_t& w : header)
        if (!l.in.U32(w)) return 0;
    if (header[0] != SB_SAVEGAME_VERSION) {
        Qel_BannerPrintf("SB_LoadGame(): unknown savegame version %d\n", static_cast<int>(header[0]));
        return 0;
    }
    if (header[2] > kMaxNameLength) {
        Qel_ErrPrintf("SB_LoadGame: story name of %u bytes\n", header[2]);
        return 0;
    }
    std::string name(size_t{header[2]} + 1, '\0');
    if (!l.in.Read(name.data(), name.size())) return 0;
    name.resize(std::strlen(name.c_str()));
    if (!SB_LoadLocation(ctx, s_storyOverride.empty() ? name.c_str() : s_storyOverride.c_str())) return 0;

    uint32_t saved = header[5];
    if (saved == ctx->compileTime) {
        ctx->flags &= ~SE_FLAG_OTHER_COMPILE;
    } else {
        Qel_ErrPrintf("Compile Time of save game %d different from story file compile time %d!\n",
                      static_cast<int>(saved), static_cast<int>(ctx->compileTime));
        ctx->flags |= SE_FLAG_OTHER_COMPILE;
        l.patch = reinterpret_cast<const StoryPatch*>(Qel_TableGet(ctx->patchTable, saved ? saved : 1));
        if (!l.patch) {
            Qel_ErrPrintf("Unknown compile time - no entry in patch table\n");
            return 0;
        }
        l.relink = true;
    }

    bool ok = ReadStrings(l, header[10]) && ReadArrayHeads(l, header[7]) && ReadTableHeads(l, header[8]) &&
              ReadInstanceHeads(l, header[6]) && ReadArrayContents(l) && ReadTableContents(l) && ReadObjects(l) &&
              ReadInstanceContents(l) && ReadTasks(l, header[9]);
    if (!ok) {
        if (!l.in.ok) Qel_ErrPrintf("SB_LoadGame: save game section ends early\n");
        Abandon(l);
        return 0;
    }
    Release(l);
    return 1;
}

}  // namespace

int SB_SaveGame(QelFile* file) {
    SE_Context* ctx = g_SEContext;
    if (!ctx || !file) return 0;
    Out o;
    bool ok = Save(ctx, o);
    // A failed enumeration still leaves what was written before it.
    if (!Flush(o, file)) {
        Qel_ErrPrintf("SB_SaveGame() Error writing the save game\n");
        return 0;
    }
    return ok ? 1 : 0;
}

int SB_LoadGame(QelFile* file) {
    SE_Context* ctx = g_SEContext;
    if (!ctx || !file) return 0;
    Load l;
    l.ctx = ctx;
    l.in.file = file;
    l.own = true;
    if (!l.in.Cookie(kStory)) return 0;
    return LoadSection(l);
}

int SB_SaveStoryValue(QelFile* file, const ScriptValue* cell) {
    if (!file || !cell) return 0;
    Out o;
    PutValue(o, g_SEContext, cell);
    return Flush(o, file) ? 1 : 0;
}

int SB_LoadStoryValue(SE_Context* ctx, ScriptValue* target, QelFile* file) {
    if (!ctx || !target || !file) return 0;
    Load l;
    l.ctx = ctx;
    l.in.file = file;
    return LoadValue(l, target) ? 1 : 0;
}

void SB_SetLoadGameStory(const char* name) { s_storyOverride = name ? name : ""; }
