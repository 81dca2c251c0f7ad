#include "script/loader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "base/byteorder.h"
#include "base/file.h"
#include "base/general.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/table.h"
#include "script/interpreter.h"
#include "script/memory.h"
#include "script/tasks.h"
#include "script/textpages.h"

static SB_RegExpFreeFn s_regExpFree = nullptr;

void SB_SetRegExpFree(SB_RegExpFreeFn fn) { s_regExpFree = fn; }

namespace {

// Bounds-checked big-endian reader over the story image.
struct Reader {
    const uint8_t* p;
    const uint8_t* end;
    size_t Left() const { return static_cast<size_t>(end - p); }
    bool U32(uint32_t& v) {
        if (Left() < 4) return false;
        v = Story_ReadU32(p);
        p += 4;
        return true;
    }
    bool IsTag(const char tag[4]) const { return Left() >= 4 && std::memcmp(p, tag, 4) == 0; }
};

// What one object entry of the file becomes before it is placed in the array.
struct Parsed {
    StoryObject obj;
    int superIndex;  // index into the parsed list, -1 none
    bool hasFunctions;
};

// Everything one load allocates, freed as a whole when the file is refused.
struct Load {
    SE_Context* ctx;
    uint16_t* code = nullptr;
    uint32_t codeWords = 0;
    bool haveCode = false;
    uint32_t compileTime = 0;
    bool haveObjects = false;
    std::vector<Parsed> objects;  // element 0: the global object
    std::vector<StoryPatch*> patches;
    char* strings = nullptr;
    uint32_t stringSize = 0;
    StoryObject* array = nullptr;
    uint32_t arrayCount = 0;
    std::string error;
};

}  // namespace

static void FreeObjectTables(SE_Context* ctx, StoryObject* o) {
    if (o->variables) SB_Free(ctx, SE_MEMCAT_OBJECTS, o->variables, size_t{o->variableCount} * SE_SIZE_VALUE);
    if (o->ownVariables)
        SB_Free(ctx, SE_MEMCAT_OBJECTS, o->ownVariables, size_t{o->ownVariableCount} * SE_SIZE_VARDESC);
    if (o->functions) SB_Free(ctx, SE_MEMCAT_OBJECTS, o->functions, size_t{o->functionCount} * SE_SIZE_FUNCTION);
    if (o->merged) SB_Free(ctx, SE_MEMCAT_OBJECTS, o->merged, size_t{o->mergedCount} * SE_SIZE_FUNCTION);
    o->variables = nullptr;
    o->ownVariables = nullptr;
    o->functions = nullptr;
    o->merged = nullptr;
}

static void FreePatch(SE_Context* ctx, StoryPatch* p) {
    if (p->pairs) SB_Free(ctx, SE_MEMCAT_PATCH, p->pairs, size_t{p->pairCount} * SE_SIZE_PATCH_PAIR);
    SB_FreeRecord(ctx, SE_MEMCAT_PATCH, p);
}

// Frees what a refused load made; the context is left as it was.
static void FreeLoad(Load& l) {
    SE_Context* ctx = l.ctx;
    if (l.array) {
        for (uint32_t i = 0; i < l.arrayCount; ++i) {
            StoryObject* o = &l.array[i];
            if (o->variables)
                for (uint32_t v = 0; v < o->variableCount; ++v) SV_Release(&o->variables[v]);
            FreeObjectTables(ctx, o);
        }
        SB_Free(ctx, SE_MEMCAT_OBJECTS, l.array, size_t{l.arrayCount} * SE_SIZE_OBJECT);
    } else {
        for (Parsed& p : l.objects) FreeObjectTables(ctx, &p.obj);
    }
    for (StoryPatch* p : l.patches) FreePatch(ctx, p);
    if (l.code) SB_Free(ctx, SE_MEMCAT_CODE, l.code, size_t{l.codeWords} * 2);
    if (l.strings) SB_Free(ctx, SE_MEMCAT_CODE, l.strings, size_t{l.stringSize} + 1);
}

static bool Fail(Load& l, const char* why) {
    l.error = why;
    return false;
}

static bool ReadFunctions(Load& l, Reader& r, StoryObject& o) {
    uint32_t n;
    if (!r.U32(n)) return Fail(l, "function count past the end");
    if (n > r.Left() / STORY_FUNCTION_BYTES) return Fail(l, "function count past the end");
    if (n == 0) return true;
    o.functions =
        static_cast<StoryFunction*>(SB_Alloc(l.ctx, SE_MEMCAT_OBJECTS, SE_MEM_ZERO, size_t{n} * SE_SIZE_FUNCTION));
    if (!o.functions) return Fail(l, "out of memory");
    o.functionCount = n;
    for (uint32_t i = 0; i < n; ++i) {
        o.functions[i] = Story_ReadFunction(r.p);
        r.p += STORY_FUNCTION_BYTES;
        if (o.functions[i].position >= l.codeWords) return Fail(l, "function outside the code");
        // A task's stack never grows past the limit; a larger need would only
        // make its size wrap.
        if (o.functions[i].stackNeed > SE_STACK_LIMIT) return Fail(l, "stack need beyond the limit");
    }
    return true;
}

static bool ReadVariables(Load& l, Reader& r, StoryObject& o) {
    uint32_t n;
    if (!r.U32(n)) return Fail(l, "variable count past the end");
    if (n > r.Left() / STORY_VARDESC_BYTES) return Fail(l, "variable count past the end");
    o.hasVariableChunk = true;
    if (n == 0) return true;
    o.ownVariables =
        static_cast<StoryVarDesc*>(SB_Alloc(l.ctx, SE_MEMCAT_OBJECTS, SE_MEM_ZERO, size_t{n} * SE_SIZE_VARDESC));
    if (!o.ownVariables) return Fail(l, "out of memory");
    o.ownVariableCount = n;
    for (uint32_t i = 0; i < n; ++i) {
        o.ownVariables[i] = Story_ReadVarDesc(r.p);
        r.p += STORY_VARDESC_BYTES;
    }
    return true;
}

static bool ReadObjects(Load& l, Reader& r) {
    uint32_t n;
    if (!r.U32(n)) return Fail(l, "object count past the end");
    if (n > r.Left() / 12) return Fail(l, "object count past the end");
    std::vector<int32_t> superIds;
    size_t first = l.objects.size();
    for (uint32_t k = 0; k < n; ++k) {
        uint32_t id, super, third;
        if (!r.U32(id) || !r.U32(super) || !r.U32(third)) return Fail(l, "object entry past the end");
        Parsed p{};
        p.obj.id = static_cast<int32_t>(id);
        p.obj.superId = static_cast<int32_t>(super);
        p.obj.thirdWord = third;
        p.superIndex = -1;
        l.objects.push_back(p);
        StoryObject& o = l.objects.back().obj;
        if (o.id < 1) return Fail(l, "object id below 1");
        // An entry that starts with a chunk tag means the count promised more
        // entries than the chunk holds.
        for (const char* tag : {STORY_TAG_CODE, STORY_TAG_CTIME, STORY_TAG_OBJECTS, STORY_TAG_FUNCTIONS,
                                STORY_TAG_VARIABLES, STORY_TAG_PATCHES, STORY_TAG_STRINGS, STORY_TAG_PLAIN_STRINGS})
            if (std::memcmp(r.p - 12, tag, 4) == 0) return Fail(l, "fewer objects than counted");
        bool symb = false;
        for (;;) {
            if (r.IsTag(STORY_TAG_FUNCTIONS)) {
                if (symb) return Fail(l, "second function chunk in an object");
                symb = true;
                r.p += 4;
                if (!ReadFunctions(l, r, o)) return false;
            } else if (r.IsTag(STORY_TAG_VARIABLES)) {
                if (o.hasVariableChunk) return Fail(l, "second variable chunk in an object");
                r.p += 4;
                if (!ReadVariables(l, r, o)) return false;
            } else {
                break;
            }
        }
        // The super must stand earlier in the same chunk; id 0 is the global
        // object, which stands before every chunk.
        if (o.superId == 0) {
            l.objects.back().superIndex = 0;
        } else if (o.superId != -1) {
            for (size_t e = first; e + 1 < l.objects.size(); ++e)
                if (l.objects[e].obj.id == o.superId) l.objects.back().superIndex = static_cast<int>(e);
        }
        superIds.push_back(o.superId);
    }
    // A super id naming the object itself or a later object would allow a
    // cycle; an id that names no object of the file means no super.
    for (size_t k = 0; k < superIds.size(); ++k) {
        Parsed& p = l.objects[first + k];
        if (p.superIndex >= 0 || superIds[k] == -1) continue;
        for (size_t e = first + k; e < l.objects.size(); ++e)
            if (l.objects[e].obj.id == superIds[k]) return Fail(l, "super is not an earlier object");
    }
    return true;
}

static bool ReadPatches(Load& l, Reader& r) {
    uint32_t n;
    if (!r.U32(n)) return Fail(l, "patch count past the end");
    if (n > r.Left() / 8) return Fail(l, "patch count past the end");
    for (uint32_t k = 0; k < n; ++k) {
        uint32_t key, m;
        if (!r.U32(key) || !r.U32(m)) return Fail(l, "patch record past the end");
        if (m > r.Left() / 8) return Fail(l, "patch pairs past the end");
        StoryPatch* p = SB_AllocRecord<StoryPatch>(l.ctx, SE_MEMCAT_PATCH);
        if (!p) return Fail(l, "out of memory");
        l.patches.push_back(p);
        p->key = key;
        if (m) {
            p->pairs = static_cast<StoryPatchPair*>(
                SB_Alloc(l.ctx, SE_MEMCAT_PATCH, SE_MEM_ZERO, size_t{m} * SE_SIZE_PATCH_PAIR));
            if (!p->pairs) return Fail(l, "out of memory");
            p->pairCount = m;
            for (uint32_t i = 0; i < m; ++i) {
                r.U32(p->pairs[i].oldPosition);
                r.U32(p->pairs[i].newPosition);
            }
        }
    }
    return true;
}

static bool ReadChunks(Load& l, Reader& r) {
    bool globalFunctions = false;
    while (r.Left() >= 4) {
        const uint8_t* tag = r.p;
        auto is = [&](const char t[4]) { return std::memcmp(tag, t, 4) == 0; };
        if (is(STORY_TAG_CODE)) {
            if (l.haveCode) return Fail(l, "second code chunk");
            r.p += 4;
            uint32_t n;
            if (!r.U32(n) || n > r.Left() / 2) return Fail(l, "code past the end");
            l.haveCode = true;
            if (n) {
                l.code = static_cast<uint16_t*>(SB_Alloc(l.ctx, SE_MEMCAT_CODE, 0, size_t{n} * 2));
                if (!l.code) return Fail(l, "out of memory");
                l.codeWords = n;
                std::memcpy(l.code, r.p, size_t{n} * 2);
                Qel_SwapBytesByLayout(l.code, "\2", size_t{n} * 2);
                r.p += size_t{n} * 2;
            }
        } else if (is(STORY_TAG_CTIME)) {
            r.p += 4;
            if (!r.U32(l.compileTime)) return Fail(l, "compile time past the end");
        } else if (is(STORY_TAG_OBJECTS)) {
            if (l.haveObjects) return Fail(l, "second object chunk");
            l.haveObjects = true;
            r.p += 4;
            if (!ReadObjects(l, r)) return false;
        } else if (is(STORY_TAG_FUNCTIONS)) {
            if (globalFunctions) return Fail(l, "second global function chunk");
            globalFunctions = true;
            r.p += 4;
            if (!ReadFunctions(l, r, l.objects[0].obj)) return false;
        } else if (is(STORY_TAG_VARIABLES)) {
            if (l.objects[0].obj.hasVariableChunk) return Fail(l, "second global variable chunk");
            r.p += 4;
            if (!ReadVariables(l, r, l.objects[0].obj)) return false;
        } else if (is(STORY_TAG_PATCHES)) {
            r.p += 4;
            if (!ReadPatches(l, r)) return false;
        } else if (is(STORY_TAG_STRINGS) || is(STORY_TAG_PLAIN_STRINGS)) {
            r.p += 4;
            uint32_t n = static_cast<uint32_t>(r.Left());
            // One byte more: the last text ends even without its own NUL.
            l.strings = static_cast<char*>(SB_Alloc(l.ctx, SE_MEMCAT_CODE, 0, size_t{n} + 1));
            if (!l.strings) return Fail(l, "out of memory");
            l.stringSize = n;
            std::memcpy(l.strings, r.p, n);
            if (is(STORY_TAG_STRINGS)) Story_UnscrambleStrings(reinterpret_cast<uint8_t*>(l.strings), n);
            l.strings[n] = '\0';
            r.p = r.end;
            break;
        } else {
            break;  // an unknown tag ends the story
        }
    }
    return true;
}

// The text of a function's name; a number that is 0 or outside the block
// names no text (its debug address says so) and sorts as the empty text.
static const char* Name(const Load& l, uint32_t n) {
    return l.strings && n != 0 && n < l.stringSize ? l.strings + n : "";
}

// Steps after parsing: the sorted object array, variables and the function
// tables.
static bool Build(Load& l) {
    // Variable layout in file order, so a super is laid out before its subclasses.
    for (Parsed& p : l.objects) {
        StoryObject& o = p.obj;
        if (!o.hasVariableChunk) continue;
        // The global object as super lays nothing below the object's own:
        // while the file is read, its place in the object array is empty.
        o.firstOwnVariable = p.superIndex > 0 ? l.objects[static_cast<size_t>(p.superIndex)].obj.variableCount : 0;
        o.variableCount = o.firstOwnVariable + o.ownVariableCount;
    }

    // The array sorted by id; supers are re-pointed into it.
    size_t n = l.objects.size();
    std::vector<size_t> order(n);
    for (size_t i = 0; i < n; ++i) order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](size_t a, size_t b) { return l.objects[a].obj.id < l.objects[b].obj.id; });
    for (size_t k = 1; k < n; ++k)
        if (l.objects[order[k]].obj.id == l.objects[order[k - 1]].obj.id) return Fail(l, "two objects with one id");
    l.array = static_cast<StoryObject*>(SB_Alloc(l.ctx, SE_MEMCAT_OBJECTS, SE_MEM_ZERO, n * SE_SIZE_OBJECT));
    if (!l.array) return Fail(l, "out of memory");
    l.arrayCount = static_cast<uint32_t>(n);
    std::vector<size_t> where(n);
    for (size_t k = 0; k < n; ++k) where[order[k]] = k;
    for (size_t k = 0; k < n; ++k) {
        const Parsed& p = l.objects[order[k]];
        StoryObject& o = l.array[k];
        o = p.obj;
        o.classObject = &o;
        o.super = p.superIndex >= 0 ? &l.array[where[static_cast<size_t>(p.superIndex)]] : nullptr;
    }
    l.objects.clear();  // the tables belong to the array now

    // Variables, set along the super chain but never past the object's own count.
    for (uint32_t k = 0; k < l.arrayCount; ++k) {
        StoryObject& o = l.array[k];
        if (o.variableCount == 0) continue;
        o.variables = static_cast<ScriptValue*>(
            SB_Alloc(l.ctx, SE_MEMCAT_OBJECTS, SE_MEM_ZERO, size_t{o.variableCount} * SE_SIZE_VALUE));
        if (!o.variables) {
            o.variableCount = 0;
            return Fail(l, "out of memory");
        }
        SB_InitObjectVariables(o.variables, o.variableCount, &o);
    }

    // Own tables by name text; merged tables by name number.
    for (uint32_t k = 0; k < l.arrayCount; ++k) {
        StoryObject& o = l.array[k];
        std::sort(o.functions, o.functions + o.functionCount, [&](const StoryFunction& a, const StoryFunction& b) {
            return std::strcmp(Name(l, a.name), Name(l, b.name)) < 0;
        });
    }
    for (uint32_t k = 0; k < l.arrayCount; ++k) {
        StoryObject& o = l.array[k];
        std::vector<StoryFunction> merged(o.functions, o.functions + o.functionCount);
        std::unordered_set<uint32_t> names;
        for (const StoryFunction& f : merged) names.insert(f.name);
        for (const StoryObject* s = o.super; s; s = s->super) {
            const StoryFunction* from = s->merged ? s->merged : s->functions;
            uint32_t count = s->merged ? s->mergedCount : s->functionCount;
            for (uint32_t i = 0; i < count; ++i)
                if (names.insert(from[i].name).second) merged.push_back(from[i]);
            if (s->merged) break;
        }
        if (merged.empty()) continue;
        std::sort(merged.begin(), merged.end(),
                  [](const StoryFunction& a, const StoryFunction& b) { return a.name < b.name; });
        o.merged = static_cast<StoryFunction*>(SB_Alloc(l.ctx, SE_MEMCAT_OBJECTS, 0, merged.size() * SE_SIZE_FUNCTION));
        if (!o.merged) return Fail(l, "out of memory");
        o.mergedCount = static_cast<uint32_t>(merged.size());
        std::memcpy(o.merged, merged.data(), merged.size() * SE_SIZE_FUNCTION);
    }
    return true;
}

void SB_InitObjectVariables(ScriptValue* vars, uint32_t count, const StoryObject* cls) {
    uint32_t below = UINT32_MAX;  // where the variables set so far begin
    for (const StoryObject* c = cls; c && c->variableCount <= below; c = c->super) {
        for (uint32_t i = c->firstOwnVariable; i < c->variableCount && i < count; ++i)
            SV_InitVariable(&vars[i], &c->ownVariables[i - c->firstOwnVariable]);
        below = c->firstOwnVariable;
    }
}

// Hands the built story to the context.
static bool Install(Load& l, const char* name) {
    SE_Context* ctx = l.ctx;
    size_t len = std::strlen(name);
    char* storyName = static_cast<char*>(SB_Alloc(ctx, SE_MEMCAT_STORY_NAME, 0, len + 1));
    if (!storyName) return Fail(l, "out of memory");
    std::memcpy(storyName, name, len + 1);
    if (!ctx->patchTable) ctx->patchTable = Qel_TableCreate();
    if (!ctx->patchTable) {
        SB_Free(ctx, SE_MEMCAT_STORY_NAME, storyName, len + 1);
        return Fail(l, "out of memory");
    }
    for (StoryPatch* p : l.patches) {
        uint32_t key = p->key ? p->key : 1;
        if (auto* old = reinterpret_cast<StoryPatch*>(Qel_TableRemove(ctx->patchTable, key))) FreePatch(ctx, old);
        Qel_TableSet(ctx->patchTable, key, reinterpret_cast<uintptr_t>(p));
    }
    l.patches.clear();
    ctx->code = l.code;
    ctx->codeWords = l.codeWords;
    ctx->staticStrings = l.strings;
    ctx->staticSize = l.stringSize;
    ctx->objects = l.array;
    ctx->objectCount = l.arrayCount;
    ctx->compileTime = l.compileTime;
    ctx->storyName = storyName;
    SE_ListInit(&ctx->ready);
    SE_ListInit(&ctx->waiting);
    l.code = nullptr;
    l.strings = nullptr;
    l.array = nullptr;
    return true;
}

// The story starts at the first "STO3" at an even offset; -1 when none.
static long FindStoryStart(const uint8_t* image, uint32_t size) {
    for (uint32_t off = 0; size >= 4 && off <= size - 4; off += 2)
        if (std::memcmp(image + off, STORY_TAG_CODE, 4) == 0) return static_cast<long>(off);
    return -1;
}

int SB_LoadStoryImage(SE_Context* ctx, const char* name, const char* label, uint8_t* image, uint32_t size) {
    long start = image ? FindStoryStart(image, size) : -1;
    if (start < 0) {
        SB_FreeLocation(ctx);
        Qel_ErrPrintf("File not found.\n");
        Qel_ErrPrintf("SB_LoadLocation: %s is not a valid story file\n", label);
        return 0;
    }
    Qel_DPrintf(4, "SB_LoadLocation() story file valid, len = %d\n", static_cast<int>(size));
    // A story loaded before goes first: loading over it would leave its
    // objects and tasks behind.
    if (ctx->storyName) SB_FreeLocation(ctx);

    Load l;
    l.ctx = ctx;
    l.objects.push_back(Parsed{});
    l.objects[0].obj.superId = -1;
    l.objects[0].superIndex = -1;
    Reader r{image + start, image + size};
    bool ok = ReadChunks(l, r);
    if (ok) Qel_DPrintf(4, "SB_LoadLocation() story parsed\n");
    ok = ok && Build(l) && Install(l, name);
    if (!ok) {
        Qel_ErrPrintf("SB_LoadLocation: %s is not a valid story file (%s)\n", label, l.error.c_str());
        FreeLoad(l);
        return 0;
    }
    return 1;
}

int SB_LoadLocation(SE_Context* ctx, const char* name) {
    if (!ctx || !name) return 0;
    Qel_DPrintf(0, "SB_LoadLocation() loading story file %s\n", name);
    const char* tmpl = "L\\%s.obj";
    if (g_SystemState && g_SystemState->app && g_SystemState->app->storyTemplate)
        tmpl = g_SystemState->app->storyTemplate;
    size_t pathSize = std::strlen(name) + std::strlen(tmpl) + 100;
    char* path = static_cast<char*>(SB_Alloc(ctx, SE_MEMCAT_TEXT, 0, pathSize));
    if (!path) return 0;
    std::snprintf(path, pathSize, tmpl, name);

    void* image = Qel_LoadFile(name);
    if (!image) image = Qel_LoadFile(path);
    if (!image) {
        Qel_ErrPrintf("File not found.\n");
        Qel_ErrPrintf("SB_LoadLocation: Cannot load file %s\n", path);
        Qel_LogFileFailure();
        SB_Free(ctx, SE_MEMCAT_TEXT, path, pathSize);
        return 0;
    }
    uint32_t size = g_QelLastFileSize;
    Qel_DPrintf(4, "SB_LoadLocation() after loading .obj\n");
    int result = SB_LoadStoryImage(ctx, name, path, static_cast<uint8_t*>(image), size);
    SB_Free(ctx, SE_MEMCAT_TEXT, path, pathSize);
    Int_FreeMem(image, size, 0);
    return result;
}

// Walks a table taking out its first entry until none is left.
template <class Fn>
static void DrainTable(QelTable* t, Fn&& fn) {
    if (!t) return;
    for (uint32_t key = Qel_TableNext(t, 0); key; key = Qel_TableNext(t, 0)) fn(key, Qel_TableRemove(t, key));
}

void SB_FreeLocation(SE_Context* ctx) {
    if (!ctx) return;
    // A pass of the scheduler that is running now ends after the current task.
    ctx->storyGeneration++;
    // A task that runs now (a handler of it frees the story) stops when the
    // handler returns; its stack and record go when its outermost run returns.
    DrainTable(ctx->taskTable, [&](uint32_t, uintptr_t v) {
        if (v) SE_DiscardTask(ctx, reinterpret_cast<SE_Task*>(v));
    });
    SE_ListInit(&ctx->ready);
    SE_ListInit(&ctx->waiting);
    ctx->currentTask = nullptr;
    Qel_DPrintf(4, "SB_FreeLocation() Finished Removing tasks\n");

    SB_FreeTexts(ctx);
    Qel_DPrintf(4, "SB_FreeLocation() Finished freeing story texts\n");

    DrainTable(ctx->instanceTable, [&](uint32_t, uintptr_t v) {
        auto* inst = reinterpret_cast<StoryInstance*>(v);
        if (!inst) return;
        uint32_t count = inst->classObject ? inst->classObject->variableCount : 0;
        inst->classObject = nullptr;
        inst->id = -1;
        if (inst->variables) {
            for (uint32_t i = 0; i < count; ++i) SV_Release(&inst->variables[i]);
            SB_Free(ctx, SE_MEMCAT_INSTANCES, inst->variables, size_t{count} * SE_SIZE_VALUE);
            inst->variables = nullptr;
        }
        if (inst->refCount == 0) SB_FreeRecord(ctx, SE_MEMCAT_INSTANCES, inst);
    });
    Qel_DPrintf(4, "SB_FreeLocation() Finished freeing instances\n");

    if (ctx->objects) {
        for (uint32_t i = 0; i < ctx->objectCount; ++i) {
            StoryObject& o = ctx->objects[i];
            if (o.variables)
                for (uint32_t v = 0; v < o.variableCount; ++v) SV_Release(&o.variables[v]);
        }
        for (uint32_t i = 0; i < ctx->objectCount; ++i) FreeObjectTables(ctx, &ctx->objects[i]);
        SB_Free(ctx, SE_MEMCAT_OBJECTS, ctx->objects, size_t{ctx->objectCount} * SE_SIZE_OBJECT);
    }
    ctx->objects = nullptr;
    ctx->objectCount = 0;
    char* storyName = ctx->storyName;
    ctx->storyName = nullptr;
    Qel_DPrintf(4, "SB_FreeLocation() Finished freeing objects\n");

    DrainTable(ctx->fileTable, [&](uint32_t, uintptr_t v) {
        if (v) Qel_fclose(reinterpret_cast<QelFile*>(v));
    });
    Qel_DPrintf(4, "SB_FreeLocation() Finished freeing file table\n");

    DrainTable(ctx->patchTable, [&](uint32_t, uintptr_t v) {
        if (v) FreePatch(ctx, reinterpret_cast<StoryPatch*>(v));
    });
    Qel_DPrintf(4, "SB_FreeLocation() Finished freeing patch table\n");

    if (QelTable* t = ctx->regexpTable) {
        for (uint32_t key = Qel_TableNext(t, 0); key;) {
            uint32_t next = Qel_TableNext(t, key);
            Qel_DPrintf(4, "SB_FreeLocation() Freeing regexp aid=%d, aidnext=%d\n", static_cast<int>(key),
                        static_cast<int>(next));
            uintptr_t compiled = Qel_TableRemove(t, key);
            Qel_DPrintf(4, "SB_FreeLocation() Freeing regexp addr=%08x\n", static_cast<unsigned>(compiled));
            if (compiled && s_regExpFree) s_regExpFree(reinterpret_cast<void*>(compiled));
            Qel_DPrintf(4, "SB_FreeLocation() Done Freeing regexp addr=%08x\n", static_cast<unsigned>(compiled));
            key = next;
        }
    }

    if (ctx->stringTable && Qel_TableGetCount(ctx->stringTable)) {
        Qel_ErrPrintf("SB_FreeLocation() Number of unfreed StoryStrings: %d\n",
                      static_cast<int>(Qel_TableGetCount(ctx->stringTable)));
        for (uint32_t key = Qel_TableNext(ctx->stringTable, 0); key; key = Qel_TableNext(ctx->stringTable, key)) {
            auto* ds = reinterpret_cast<SV_DString*>(Qel_TableGet(ctx->stringTable, key));
            if (ds) Qel_DPrintf(4, "%8d [%4d] %s\n", static_cast<int>(ds->id), ds->refCount, ds->text ? ds->text : "");
        }
    }
    if (ctx->arrayTable && Qel_TableGetCount(ctx->arrayTable))
        Qel_ErrPrintf("SB_FreeLocation() Number of unfreed StoryArrays: %d\n",
                      static_cast<int>(Qel_TableGetCount(ctx->arrayTable)));
    if (ctx->tableTable && Qel_TableGetCount(ctx->tableTable))
        Qel_ErrPrintf("SB_FreeLocation() Number of unfreed StoryTables: %d\n",
                      static_cast<int>(Qel_TableGetCount(ctx->tableTable)));

    if (ctx->staticStrings) SB_Free(ctx, SE_MEMCAT_CODE, ctx->staticStrings, size_t{ctx->staticSize} + 1);
    ctx->staticStrings = nullptr;
    ctx->staticSize = 0;
    SE_FreeCodeCache(ctx);
    if (ctx->code) SB_Free(ctx, SE_MEMCAT_CODE, ctx->code, size_t{ctx->codeWords} * 2);
    ctx->code = nullptr;
    ctx->codeWords = 0;

    Qel_DPrintf(4, "SB_FreeLocation() done!\n");
    if (storyName) SB_Free(ctx, SE_MEMCAT_STORY_NAME, storyName, std::strlen(storyName) + 1);
    Qel_DPrintf(0, "No dump, because DEBUG disabled\n");
}

uint32_t SB_PatchPosition(SE_Context* ctx, uint32_t key, uint32_t position) {
    if (!ctx || !ctx->patchTable) return position;
    auto* p = reinterpret_cast<const StoryPatch*>(Qel_TableGet(ctx->patchTable, key ? key : 1));
    if (!p) return position;
    const StoryPatchPair* best = nullptr;
    for (uint32_t i = 0; i < p->pairCount && p->pairs[i].oldPosition <= position; ++i) best = &p->pairs[i];
    return best ? position - best->oldPosition + best->newPosition : position;
}
