#include "script/interpreter.h"

#include <cstring>

#include "base/general.h"
#include "base/log.h"
#include "base/table.h"
#include "script/arrays.h"
#include "script/lookup.h"
#include "script/memory.h"
#include "script/modules.h"
#include "script/opcodes.h"
#include "script/operators.h"
#include "script/tables.h"
#include "script/tasks.h"

#define SE_LIKELY(x) __builtin_expect(!!(x), 1)
#define SE_UNLIKELY(x) __builtin_expect(!!(x), 0)

// Instructions as the interpreter runs them: every code word gets one byte,
// filled the first time the word is reached as an instruction. 1..95 are the
// opcodes themselves once their operands are known to lie inside the code;
// the others are the interpreter's own forms below.
enum : uint8_t {
    XOP_DECODE = 0,     // not looked at yet
    XOP_ILLEGAL = 96,   // no opcode, operands past the end, or the end of the code
    XOP_COUNT,
};

struct SE_CodeCache {
    const uint16_t* code;   // the code it describes
    uint32_t words;
    size_t bytes;           // booked size of this block
    uint8_t* xop;           // words + 1 entries; the last one is the end of the code
    uint64_t* aux;          // per word: call-by-name and engine-call look-ups
};

namespace {

constexpr uint32_t kTraceMask = 0x100;

// Tags whose cells own nothing: copied and dropped without any count.
constexpr bool IsPlain(uint8_t tag) { return tag <= 14 && ((0x6407u >> tag) & 1u); }

inline void Drop(ScriptValue* v) {
    if (!IsPlain(v->tag)) SV_Release(v);
}

inline void SetInt(ScriptValue* v, int32_t n) {
    v->tag = VARTYPE_INTEGER;
    v->bits = static_cast<uint64_t>(static_cast<int64_t>(n));
}

inline void AssignInt(ScriptValue* v, int32_t n) {
    Drop(v);
    SetInt(v, n);
}

// A copy into a slot that holds nothing yet.
inline void CopyNew(ScriptValue* dst, const ScriptValue* src) {
    if (IsPlain(src->tag)) {
        *dst = *src;
    } else {
        dst->tag = VARTYPE_UNDEFINED;
        SV_Copy(src, dst);
    }
}

// A copy over a live cell.
inline void CopyInto(ScriptValue* dst, const ScriptValue* src) {
    if (IsPlain(src->tag) && IsPlain(dst->tag)) *dst = *src;
    else SV_Copy(src, dst);
}

// Moves src into a slot that holds nothing yet.
inline void MoveNew(ScriptValue* dst, ScriptValue* src) {
    *dst = *src;
    src->tag = VARTYPE_UNDEFINED;
}

inline bool Tracing() { return g_SystemState && (g_SystemState->debugFlags & kTraceMask) == kTraceMask; }

inline bool IsStringTag(uint8_t tag) { return tag == VARTYPE_STRING || tag == VARTYPE_DSTRING; }

inline int IsFalseValue(const ScriptValue* v) { return v->tag == VARTYPE_INTEGER ? v->i == 0 : SV_IsFalse(v); }
inline int IsTrueValue(const ScriptValue* v) { return v->tag == VARTYPE_INTEGER ? v->i != 0 : SV_IsTrue(v); }

const char* NameText(const SE_Context* ctx, uint32_t name) { return SB_String(const_cast<SE_Context*>(ctx), name); }

SE_CodeCache* CodeCache(SE_Context* ctx) {
    SE_CodeCache* cc = ctx->codeCache;
    if (cc && cc->code == ctx->code && cc->words == ctx->codeWords) return cc;
    SE_FreeCodeCache(ctx);
    uint32_t words = ctx->codeWords;
    size_t xopBytes = (size_t{words} + 1 + 7) & ~size_t{7};
    size_t bytes = sizeof(SE_CodeCache) + xopBytes + size_t{words} * sizeof(uint64_t);
    auto* block = static_cast<uint8_t*>(SB_Alloc(ctx, SE_MEMCAT_CODE, SE_MEM_ZERO, bytes));
    if (!block) return nullptr;
    cc = reinterpret_cast<SE_CodeCache*>(block);
    cc->code = ctx->code;
    cc->words = words;
    cc->bytes = bytes;
    cc->xop = block + sizeof(SE_CodeCache);
    cc->aux = reinterpret_cast<uint64_t*>(cc->xop + xopBytes);
    cc->xop[words] = XOP_ILLEGAL;
    ctx->codeCache = cc;
    return cc;
}

// Decides the interpreter's form of the instruction at pc (pc < words).
uint8_t Decode(const uint16_t* code, uint32_t words, uint32_t pc) {
    uint16_t op = code[pc];
    if (op == 0 || op >= SE_OP_COUNT) return XOP_ILLEGAL;
    const SE_OpcodeInfo& info = SE_Opcodes[op];
    uint32_t operandWords = 0;
    for (uint8_t shape : info.operands)
        if (shape != SE_OPND_JUMPTABLE) operandWords += static_cast<uint32_t>(SE_OperandWords(shape));
    if (size_t{pc} + 1 + operandWords > words) return XOP_ILLEGAL;
    return static_cast<uint8_t>(op);
}

// Index read: slot 0 the container, slot 1 the index; the result replaces
// slot 1 (the container is popped by the caller).
void IndexRead(ScriptValue* top, const char* (*where)(void*), void* whereArg) {
    ScriptValue* c = &top[0];
    ScriptValue* idx = &top[1];
    if (c->tag == VARTYPE_ARRAY) {
        if (idx->tag != VARTYPE_INTEGER) {
            SV_TextOf t(idx);
            Qel_BannerPrintf("%s Array index (%s) not an integer!\n", where(whereArg), t.text);
            AssignInt(idx, 0);
            return;
        }
        SV_Copy(SV_ArrayRead(c, idx->i), idx);
        return;
    }
    if (IsStringTag(c->tag)) {
        if (idx->tag != VARTYPE_INTEGER) {
            SV_TextOf t(idx);
            Qel_BannerPrintf("%s String offset (%s) not an integer!\n", where(whereArg), t.text);
            AssignInt(idx, 0);
            return;
        }
        const char* text = SV_GetString(c);
        int32_t len = text ? static_cast<int32_t>(std::strlen(text)) : 0;
        int32_t off = idx->i;
        if (off < 0 || off >= len) {
            SV_TextOf t(c);
            Qel_BannerPrintf("%s String (%s) invalid offset %d!\n", where(whereArg), t.text, off);
            AssignInt(idx, 0);
            return;
        }
        AssignInt(idx, static_cast<unsigned char>(text[off]));
        return;
    }
    if (idx->tag != VARTYPE_INTEGER && !IsStringTag(idx->tag)) {
        SV_TextOf t(idx);
        Qel_BannerPrintf("%s Table index (%s) not an integer or string!\n", where(whereArg), t.text);
        AssignInt(idx, 0);
        return;
    }
    SV_Copy(SV_TableFind(c, idx), idx);
}

// Index write: slot 0 the container, slot 1 the index, slot 2 the value.
void IndexWrite(ScriptValue* top, const char* (*where)(void*), void* whereArg) {
    ScriptValue* c = &top[0];
    ScriptValue* idx = &top[1];
    ScriptValue* value = &top[2];
    if (c->tag == VARTYPE_ARRAY) {
        if (idx->tag != VARTYPE_INTEGER) {
            SV_TextOf t(idx);
            Qel_BannerPrintf("%s Array index (%s) not an integer!\n", where(whereArg), t.text);
            return;
        }
        SV_ArrayWrite(c, idx->i, value);
        return;
    }
    if (idx->tag != VARTYPE_INTEGER && !IsStringTag(idx->tag)) {
        SV_TextOf t(idx);
        Qel_BannerPrintf("%s Table index (%s) not an integer or string!\n", where(whereArg), t.text);
        return;
    }
    SV_TableAdd(c, idx, value);
}

// Case equality: EQ of the case value against the tested one, where the
// operator's "left operand unchanged" answer (a number against something
// that is no number) counts as unequal.
bool CaseEqual(const ScriptValue* caseValue, const ScriptValue* tested) {
    bool caseNumber = caseValue->tag == VARTYPE_INTEGER || caseValue->tag == VARTYPE_FLOAT;
    bool testedNumber = tested->tag == VARTYPE_INTEGER || tested->tag == VARTYPE_FLOAT;
    if (caseValue->tag == VARTYPE_INTEGER && tested->tag == VARTYPE_INTEGER) return caseValue->i == tested->i;
    if (caseNumber != testedNumber) return false;
    ScriptValue tmp{};
    SV_Copy(caseValue, &tmp);
    SV_OpEq(&tmp, tested);
    bool eq = tmp.tag == VARTYPE_INTEGER && tmp.i == 1;
    SV_Release(&tmp);
    return eq;
}

// A new instance of a class with its variables set along the super chain.
StoryInstance* NewInstance(SE_Context* ctx, StoryObject* cls) {
    StoryInstance* inst = SB_AllocRecord<StoryInstance>(ctx, SE_MEMCAT_INSTANCES);
    if (!inst) return nullptr;
    uint32_t count = cls->variableCount;
    if (count) {
        inst->variables = static_cast<ScriptValue*>(
            SB_Alloc(ctx, SE_MEMCAT_INSTANCES, SE_MEM_ZERO, size_t{count} * SE_SIZE_VALUE));
        if (!inst->variables) {
            SB_FreeRecord(ctx, SE_MEMCAT_INSTANCES, inst);
            return nullptr;
        }
    }
    uint32_t key = ctx->instanceTable ? Qel_TableAdd(ctx->instanceTable, reinterpret_cast<uintptr_t>(inst)) : 0;
    if (!key) {
        if (inst->variables) SB_Free(ctx, SE_MEMCAT_INSTANCES, inst->variables, size_t{count} * SE_SIZE_VALUE);
        SB_FreeRecord(ctx, SE_MEMCAT_INSTANCES, inst);
        return nullptr;
    }
    inst->classObject = cls;
    inst->id = -static_cast<int32_t>(key) - 1;
    for (const StoryObject* c = cls; c; c = c->super)
        for (uint32_t i = c->firstOwnVariable; i < c->variableCount && i < count; ++i)
            SV_InitVariable(&inst->variables[i], &c->ownVariables[i - c->firstOwnVariable]);
    return inst;
}

// Takes an instance out of the story: its variables go, its tasks are
// removed; the record lives on while OBJECT values refer to it.
void DeleteInstance(SE_Context* ctx, StoryInstance* inst) {
    uint32_t key = static_cast<uint32_t>(-static_cast<int64_t>(inst->id) - 1);
    Qel_TableRemove(ctx->instanceTable, key);
    uint32_t count = inst->classObject ? inst->classObject->variableCount : 0;
    ScriptValue* vars = inst->variables;
    // Dead before anything else runs: callbacks of removed tasks may look at it.
    inst->classObject = nullptr;
    inst->variables = nullptr;
    if (vars) {
        for (uint32_t i = 0; i < count; ++i) SV_Release(&vars[i]);
        SB_Free(ctx, SE_MEMCAT_INSTANCES, vars, size_t{count} * SE_SIZE_VALUE);
    }
    SE_RemoveObjectTasks(ctx, inst);
    inst->id = -1;
    if (inst->refCount == 0) SB_FreeRecord(ctx, SE_MEMCAT_INSTANCES, inst);
}

// The instance an OBJECT value or an INTEGER instance id names, or null.
StoryInstance* InstanceOf(SE_Context* ctx, const ScriptValue* v) {
    StoryInstance* inst = nullptr;
    if (v->tag == VARTYPE_OBJECT) inst = v->object;
    else if (v->tag == VARTYPE_INTEGER && v->i < 0) inst = SB_FindObject(ctx, v->i);
    if (!inst || inst->id >= 0 || !inst->classObject || !ctx->instanceTable) return nullptr;
    uint32_t key = static_cast<uint32_t>(-static_cast<int64_t>(inst->id) - 1);
    if (Qel_TableGet(ctx->instanceTable, key) != reinterpret_cast<uintptr_t>(inst)) return nullptr;
    return inst;
}

// The function a method by name reaches: binary search of the merged table
// of the class by name number.
const StoryFunction* FindMerged(const StoryObject* cls, uint32_t name, uint32_t* index) {
    uint32_t lo = 0, hi = cls->mergedCount;
    while (lo < hi) {
        uint32_t mid = lo + (hi - lo) / 2;
        uint32_t n = cls->merged[mid].name;
        if (n == name) {
            *index = mid;
            return &cls->merged[mid];
        }
        if (n < name) lo = mid + 1;
        else hi = mid;
    }
    return nullptr;
}

// The index of a global function by name text, or -1.
int64_t FindGlobalIndex(const SE_Context* ctx, const char* name) {
    const StoryFunction* f = SE_FindGlobalFunction(ctx, name);
    return f ? f - ctx->objects[0].functions : -1;
}

constexpr uint64_t kUnknownCallMark = uint64_t{1} << 63;

}  // namespace

void SE_FreeCodeCache(SE_Context* ctx) {
    if (!ctx || !ctx->codeCache) return;
    SB_Free(ctx, SE_MEMCAT_CODE, ctx->codeCache, ctx->codeCache->bytes);
    ctx->codeCache = nullptr;
}

static int Run(SE_Context* ctx, SE_Task* task);

int SE_ExecuteTask(SE_Context* ctx, SE_Task* task) {
    if (!ctx || !task || task->removed || task->activeRuns > 0 || !task->stackEnd) return 1;
    task->activeRuns++;
    int result = Run(ctx, task);
    task->activeRuns--;
    SE_FinishRemovedTask(ctx, task);
    return result;
}

static int Run(SE_Context* ctx, SE_Task* task) {
    static void* dispatch[256];
    if (!dispatch[0]) {
        for (void*& d : dispatch) d = &&op_illegal;
        dispatch[XOP_DECODE] = &&op_decode;
        dispatch[SE_OP_PUSH16] = &&op_push16;
        dispatch[SE_OP_PUSH32] = &&op_push32;
        dispatch[SE_OP_PUSHDSTR] = &&op_pushdstr;
        dispatch[SE_OP_GETGLOBAL] = &&op_getglobal;
        dispatch[SE_OP_GETLOCAL] = &&op_getlocal;
        dispatch[SE_OP_GETVAR] = &&op_getvar;
        dispatch[SE_OP_DUP] = &&op_dup;
        dispatch[SE_OP_INDEX] = &&op_index;
        for (int op = SE_OP_CONST0; op <= SE_OP_CONST31; ++op) dispatch[op] = &&op_const;
        dispatch[SE_OP_SETGLOBAL] = &&op_setglobal;
        dispatch[SE_OP_SETLOCAL] = &&op_setlocal;
        dispatch[SE_OP_SETVAR] = &&op_setvar;
        dispatch[SE_OP_POP] = &&op_pop;
        dispatch[SE_OP_INDEXSET] = &&op_indexset;
        dispatch[SE_OP_POPN] = &&op_popn;
        dispatch[SE_OP_MKARRAY] = &&op_mkarray;
        dispatch[SE_OP_MKTABLE] = &&op_mktable;
        dispatch[SE_OP_JMP] = &&op_jmp;
        dispatch[SE_OP_JNF] = &&op_jnf;
        dispatch[SE_OP_JF] = &&op_jf;
        dispatch[SE_OP_CALL] = &&op_call;
        dispatch[SE_OP_RET] = &&op_ret;
        dispatch[SE_OP_SYS] = &&op_sys;
        dispatch[SE_OP_METHOD] = &&op_method;
        dispatch[SE_OP_CALLAT] = &&op_callat;
        dispatch[SE_OP_METHODAT] = &&op_methodat;
        dispatch[SE_OP_NEW] = &&op_new;
        dispatch[SE_OP_DELETE] = &&op_delete;
        dispatch[SE_OP_SELF] = &&op_self;
        dispatch[SE_OP_SUPER] = &&op_super;
        dispatch[SE_OP_ADD] = &&op_add;
        dispatch[SE_OP_SUB] = &&op_sub;
        dispatch[SE_OP_MUL] = &&op_mul;
        dispatch[SE_OP_DIV] = &&op_div;
        dispatch[SE_OP_MOD] = &&op_mod;
        dispatch[SE_OP_OR] = &&op_or;
        dispatch[SE_OP_AND] = &&op_and;
        dispatch[SE_OP_EOR] = &&op_eor;
        dispatch[SE_OP_LOR] = &&op_lor;
        dispatch[SE_OP_LAND] = &&op_land;
        dispatch[SE_OP_LSH] = &&op_lsh;
        dispatch[SE_OP_RSH] = &&op_rsh;
        dispatch[SE_OP_LT] = &&op_lt;
        dispatch[SE_OP_GT] = &&op_gt;
        dispatch[SE_OP_LE] = &&op_le;
        dispatch[SE_OP_GE] = &&op_ge;
        dispatch[SE_OP_NE] = &&op_ne;
        dispatch[SE_OP_EQ] = &&op_eq;
        dispatch[SE_OP_MINUS] = &&op_minus;
        dispatch[SE_OP_NOT] = &&op_not;
        dispatch[SE_OP_INV] = &&op_inv;
        dispatch[SE_OP_LAUNCH] = &&op_launch;
        dispatch[SE_OP_END] = &&op_end;
        dispatch[SE_OP_ROOM] = &&op_room;
        dispatch[SE_OP_PUSHSTR] = &&op_pushstr;
        dispatch[SE_OP_METHODL] = &&op_methodl;
        dispatch[SE_OP_CALLATL] = &&op_callatl;
        dispatch[SE_OP_METHODATL] = &&op_methodatl;
        dispatch[SE_OP_SYSL] = &&op_sysl;
        dispatch[SE_OP_CALLL] = &&op_calll;
        dispatch[SE_OP_PUSHFLOAT] = &&op_pushfloat;
        dispatch[SE_OP_PUSHFLOAT0] = &&op_pushfloat0;
        dispatch[SE_OP_JTAB] = &&op_jtab;
        dispatch[SE_OP_CASE] = &&op_case;
    }

    SE_CodeCache* cc = ctx->code ? CodeCache(ctx) : nullptr;
    uint32_t pc = task->position;
    if (!cc || pc >= cc->words) {
        pc = task->position;
        goto illegal_nocache;
    }
    {
    const uint16_t* const code = ctx->code;
    const uint32_t words = cc->words;
    uint8_t* const xop = cc->xop;
    uint64_t* const aux = cc->aux;
    ScriptValue* end = task->stackEnd;
    ScriptValue* base = end - task->stackSize;
    ScriptValue* top = end + task->sp;
    StoryInstance* self = task->object;

    // Operand words of the instruction at pc.
#define S16(k) static_cast<int32_t>(static_cast<int16_t>(code[pc + (k)]))
#define U16(k) static_cast<uint32_t>(code[pc + (k)])
#define U32(k) ((static_cast<uint32_t>(code[pc + (k)]) << 16) | code[pc + (k) + 1])
#define DEPTH() (end - top)
#define NEED(n)                                                                                   \
    do {                                                                                          \
        if (SE_UNLIKELY(end - top < (n))) goto illegal;                                           \
    } while (0)
#define ROOM(n)                                                                                   \
    do {                                                                                          \
        if (SE_UNLIKELY(top - base < (n))) {                                                      \
            if (!grow(static_cast<uint32_t>(n))) goto overflow;                                   \
        }                                                                                         \
    } while (0)
#define SAVE()                                                                                    \
    do {                                                                                          \
        task->position = pc;                                                                      \
        task->sp = static_cast<int32_t>(top - end);                                               \
        task->object = self;                                                                      \
    } while (0)
#define RELOAD()                                                                                  \
    do {                                                                                          \
        end = task->stackEnd;                                                                     \
        base = end - task->stackSize;                                                             \
        top = end + task->sp;                                                                     \
    } while (0)
#define NEXT() goto* dispatch[xop[pc]]

    // A push without room grows the stack up to its limit.
    auto grow = [&](uint32_t n) -> bool {
        SAVE();
        if (!SE_GrowTaskStack(ctx, task, static_cast<uint32_t>(DEPTH()) + n + 4)) return false;
        RELOAD();
        return top - base >= static_cast<ptrdiff_t>(n);
    };
    // The task's debug address at pc, for messages.
    struct WhereArg {
        SE_Context* ctx;
        SE_Task* task;
        uint32_t pc;
        char text[64];
    } whereArg{ctx, task, 0, {}};
    auto whereFn = +[](void* p) -> const char* {
        auto* w = static_cast<WhereArg*>(p);
        w->task->position = w->pc;
        return SE_GetTaskDebugAddress(w->text, w->task, w->ctx);
    };
    auto where = [&]() -> const char* {
        whereArg.pc = pc;
        return whereFn(&whereArg);
    };

    // Engine-call state shared by both forms.
    uint32_t callWord;   // the linked form's word, or 0 while unlinked
    uint32_t callName;
    bool longCall;

    NEXT();

op_decode:
    xop[pc] = Decode(code, words, pc);
    NEXT();

op_push16:
    ROOM(1);
    --top;
    SetInt(top, S16(1));
    pc += 2;
    NEXT();

op_push32:
    ROOM(1);
    --top;
    SetInt(top, static_cast<int32_t>(U32(1)));
    pc += 3;
    NEXT();

op_pushdstr:
    ROOM(1);
    task->position = pc;
    --top;
    top->tag = VARTYPE_UNDEFINED;
    SV_AssignString(top, SB_String(ctx, U16(1)));
    pc += 2;
    NEXT();

op_getglobal: {
    int32_t i = S16(1);
    StoryObject* g = ctx->objects;
    if (SE_UNLIKELY(!g || i < 0 || static_cast<uint32_t>(i) >= g->variableCount || !g->variables)) goto illegal;
    ROOM(1);
    --top;
    CopyNew(top, &g->variables[i]);
    pc += 2;
    NEXT();
}

op_getlocal: {
    int32_t i = S16(1);
    if (SE_UNLIKELY(i < 1 || i > DEPTH())) goto illegal;
    ROOM(1);
    ScriptValue* src = top + (i - 1);
    --top;
    CopyNew(top, src);
    pc += 2;
    NEXT();
}

op_getvar: {
    int32_t i = S16(1);
    if (SE_UNLIKELY(!self || !self->classObject || !self->variables || i < 0 ||
                    static_cast<uint32_t>(i) >= self->classObject->variableCount))
        goto illegal;
    ROOM(1);
    --top;
    CopyNew(top, &self->variables[i]);
    pc += 2;
    NEXT();
}

op_dup:
    NEED(1);
    ROOM(1);
    --top;
    CopyNew(top, top + 1);
    pc += 1;
    NEXT();

op_index:
    NEED(2);
    if (top[0].tag == VARTYPE_ARRAY && top[1].tag == VARTYPE_INTEGER && top[0].array &&
        top[0].array->SAR_Size > 0 && static_cast<uint32_t>(top[1].i) < static_cast<uint32_t>(top[0].array->SAR_Size)) {
        CopyInto(&top[1], &top[0].array->elements[top[1].i]);
    } else {
        whereArg.pc = pc;
        task->position = pc;
        IndexRead(top, whereFn, &whereArg);
    }
    Drop(top);
    ++top;
    pc += 1;
    NEXT();

op_const:
    ROOM(1);
    --top;
    SetInt(top, static_cast<int32_t>(code[pc]) - SE_OP_CONST0);
    pc += 1;
    NEXT();

op_setglobal: {
    int32_t i = S16(1);
    StoryObject* g = ctx->objects;
    if (SE_UNLIKELY(!g || i < 0 || static_cast<uint32_t>(i) >= g->variableCount || !g->variables)) goto illegal;
    NEED(1);
    CopyInto(&g->variables[i], top);
    pc += 2;
    NEXT();
}

op_setlocal: {
    int32_t i = S16(1);
    if (SE_UNLIKELY(i < 1 || i > DEPTH())) goto illegal;
    CopyInto(top + (i - 1), top);
    pc += 2;
    NEXT();
}

op_setvar: {
    int32_t i = S16(1);
    if (SE_UNLIKELY(!self || !self->classObject || !self->variables || i < 0 ||
                    static_cast<uint32_t>(i) >= self->classObject->variableCount))
        goto illegal;
    NEED(1);
    CopyInto(&self->variables[i], top);
    pc += 2;
    NEXT();
}

op_pop:
    NEED(1);
    Drop(top);
    ++top;
    pc += 1;
    NEXT();

op_indexset:
    NEED(3);
    if (top[0].tag == VARTYPE_ARRAY && top[1].tag == VARTYPE_INTEGER && top[0].array &&
        top[0].array->SAR_Size > 0 && static_cast<uint32_t>(top[1].i) < static_cast<uint32_t>(top[0].array->SAR_Size)) {
        CopyInto(&top[0].array->elements[top[1].i], &top[2]);
    } else {
        whereArg.pc = pc;
        task->position = pc;
        IndexWrite(top, whereFn, &whereArg);
    }
    Drop(top);
    Drop(top + 1);
    top += 2;
    pc += 1;
    NEXT();

op_popn: {
    int32_t n = S16(1);
    if (SE_UNLIKELY(n < 0 || n > DEPTH())) goto illegal;
    for (int32_t k = 0; k < n; ++k) Drop(top + k);
    top += n;
    pc += 2;
    NEXT();
}

op_mkarray: {
    NEED(1);
    if (SE_UNLIKELY(top->tag != VARTYPE_INTEGER || top->i < 0 || top->i > DEPTH() - 1)) goto illegal;
    int32_t n = top->i;
    task->position = pc;
    ScriptValue array{};
    bool ok = SV_ArrayAlloc(&array, n) != nullptr;
    if (ok && n > 0) ok = SV_ArrayRead(&array, 0) != nullptr;   // makes the elements
    if (ok) {
        ScriptValue* elements = array.array->elements;
        for (int32_t k = 0; k < n; ++k) MoveNew(&elements[k], &top[1 + k]);
    } else {
        SV_Release(&array);
        for (int32_t k = 1; k <= n; ++k) Drop(&top[k]);
    }
    // The count is an INTEGER: nothing to release.
    top += n;
    MoveNew(top, &array);
    pc += 1;
    NEXT();
}

op_mktable: {
    NEED(1);
    if (SE_UNLIKELY(top->tag != VARTYPE_INTEGER || top->i < 0 || (top->i & 1) || top->i > DEPTH() - 1))
        goto illegal;
    int32_t n = top->i;
    task->position = pc;
    ScriptValue table{};
    SV_TableAlloc(&table);
    for (int32_t k = 1; k < n; k += 2) SV_TableAdd(&table, &top[k], &top[k + 1]);
    for (int32_t k = 1; k <= n; ++k) Drop(&top[k]);
    top += n;
    MoveNew(top, &table);
    pc += 1;
    NEXT();
}

op_jmp: {
    uint32_t p = U32(1);
    if (SE_UNLIKELY(p >= words)) goto illegal;
    pc = p;
    NEXT();
}

op_jnf: {
    NEED(1);
    int f = IsFalseValue(top);
    Drop(top);
    ++top;
    if (!f) {
        uint32_t p = U32(1);
        if (SE_UNLIKELY(p >= words)) goto illegal;
        pc = p;
    } else {
        pc += 3;
    }
    NEXT();
}

op_jf: {
    NEED(1);
    int f = IsFalseValue(top);
    Drop(top);
    ++top;
    if (f) {
        uint32_t p = U32(1);
        if (SE_UNLIKELY(p >= words)) goto illegal;
        pc = p;
    } else {
        pc += 3;
    }
    NEXT();
}

    // ---- calls of story functions ----
    {
        uint32_t name;        // static string number of the called name
        uint32_t target;      // code position of the callee
        uint32_t retPos;      // the word after the call's operands
        StoryInstance* callee;

    op_call:
        name = U16(1);
        retPos = pc + 2;
        goto call_by_name;
    op_calll:
        name = U32(1);
        retPos = pc + 3;
    call_by_name: {
        NEED(1);
        if (SE_UNLIKELY(top->tag != VARTYPE_INTEGER || top->i < 0 || top->i > DEPTH() - 1)) goto illegal;
        StoryObject* g = ctx->objects;
        uint64_t cached = aux[pc];
        if (SE_LIKELY(cached && g && cached - 1 < g->functionCount)) {
            target = g->functions[cached - 1].position;
        } else {
            int64_t index = g ? FindGlobalIndex(ctx, NameText(ctx, name)) : -1;
            if (index < 0) {
                task->position = pc;
                Qel_DPrintf(0, "%s Undefined function %s called!\n", where(), NameText(ctx, name));
                int32_t n = top->i;
                for (int32_t k = 0; k < n; ++k) Drop(top + k);
                top += n;
                SetInt(top, 0);
                pc = retPos;
                NEXT();
            }
            aux[pc] = static_cast<uint64_t>(index) + 1;
            target = g->functions[index].position;
        }
        goto enter_global;
    }

    op_callat:
        target = U32(1);
        name = U16(3);
        retPos = pc + 4;
        goto call_at;
    op_callatl:
        target = U32(1);
        name = U32(3);
        retPos = pc + 5;
    call_at:
        NEED(1);
        if (SE_UNLIKELY(top->tag != VARTYPE_INTEGER || top->i < 0 || top->i > DEPTH() - 1)) goto illegal;
        if (SE_UNLIKELY(target == 0)) {
            Qel_BannerPrintf("%s Undefined function %s called at address 0!\n", where(), NameText(ctx, name));
            int32_t n = top->i;
            for (int32_t k = 0; k < n; ++k) Drop(top + k);
            top += n;
            SetInt(top, 0);
            pc = retPos;
            NEXT();
        }
    enter_global:
        if (SE_UNLIKELY(target >= words || !ctx->objects)) goto illegal;
        ROOM(2);
        --top;
        top->tag = VARTYPE_ADDRESS;
        top->bits = retPos;
        --top;
        top->tag = VARTYPE_OBJECT;
        if (self && self->classObject) {
            top->object = self;
            self->refCount++;
        } else {
            top->object = nullptr;
        }
        self = ctx->objects;
        task->object = self;
        pc = target;
        NEXT();

    op_method:
        name = U16(1);
        retPos = pc + 2;
        goto method_by_name;
    op_methodl:
        name = U32(1);
        retPos = pc + 3;
    method_by_name: {
        NEED(2);
        if (SE_UNLIKELY(top[1].tag != VARTYPE_INTEGER || top[1].i < 0 || top[1].i > DEPTH() - 2)) goto illegal;
        // The target: an OBJECT value, or an id (the current object's own id first).
        callee = nullptr;
        if (top->tag == VARTYPE_OBJECT) callee = top->object;
        else if (top->tag == VARTYPE_INTEGER)
            callee = (self && top->i == self->id) ? self : SB_FindObject(ctx, top->i);
        if (SE_UNLIKELY(!callee || !callee->classObject)) {
            SV_TextOf t(top);
            Qel_BannerPrintf("%s Function %s in undefined object %s called!\n", where(), NameText(ctx, name),
                             t.text);
            goto method_fail;
        }
        StoryObject* cls = callee->classObject;
        uint64_t cached = aux[pc];
        uint64_t clsKey = static_cast<uint64_t>(cls - ctx->objects) + 1;
        if (SE_LIKELY((cached >> 32) == clsKey && (cached & 0xffffffffu) < cls->mergedCount)) {
            target = cls->merged[cached & 0xffffffffu].position;
        } else {
            uint32_t index;
            const StoryFunction* fn = FindMerged(cls, name, &index);
            if (!fn) {
                SV_TextOf t(top);
                Qel_BannerPrintf("%s Undefined function %s(%d).%s called!\n", where(), t.text, cls->id,
                                 NameText(ctx, name));
                goto method_fail;
            }
            if (cls >= ctx->objects && cls < ctx->objects + ctx->objectCount) aux[pc] = clsKey << 32 | index;
            target = fn->position;
        }
        // An inherited method called on the object itself keeps the object.
        StoryObject* callerClass = self ? self->classObject : nullptr;
        if (callee->id > 0 && callerClass && callee != callerClass) {
            for (StoryObject* s = callerClass->super; s; s = s->super) {
                if (s == callee) {
                    callee = self;
                    break;
                }
            }
        }
        goto enter_method;
    }

    op_methodat:
        target = U32(1);
        name = U16(3);
        retPos = pc + 4;
        goto method_at;
    op_methodatl:
        target = U32(1);
        name = U32(3);
        retPos = pc + 5;
    method_at:
        NEED(2);
        if (SE_UNLIKELY(top[1].tag != VARTYPE_INTEGER || top[1].i < 0 || top[1].i > DEPTH() - 2)) goto illegal;
        if (SE_UNLIKELY(target == 0)) {
            SV_TextOf t(top);
            Qel_BannerPrintf("%s Undefined function %s.%s called at address 0 called!\n", where(), t.text,
                             NameText(ctx, name));
            goto method_fail;
        }
        callee = nullptr;
        if (top->tag == VARTYPE_OBJECT) callee = top->object;
        else if (top->tag == VARTYPE_INTEGER)
            callee = (self && top->i == self->id) ? self : SB_FindObject(ctx, top->i);
        if (SE_UNLIKELY(!callee || !callee->classObject)) {
            SV_TextOf t(top);
            Qel_BannerPrintf("%s Missing function object %s.%s!\n", where(), t.text, NameText(ctx, name));
            goto method_fail;
        }
    enter_method:
        if (SE_UNLIKELY(target >= words)) goto illegal;
        ROOM(1);
        Drop(top);
        top->tag = VARTYPE_ADDRESS;
        top->bits = retPos;
        --top;
        top->tag = VARTYPE_OBJECT;
        if (self && self->classObject) {
            top->object = self;
            self->refCount++;
        } else {
            top->object = nullptr;
        }
        self = callee;
        task->object = self;
        pc = target;
        NEXT();

    method_fail: {
        // Target, count and arguments go; the deepest slot holds the result 0.
        int32_t n = top[1].i;
        for (int32_t k = 0; k <= n; ++k) Drop(top + k);
        top += n + 1;
        AssignInt(top, 0);
        pc = retPos;
        NEXT();
    }
    }

op_ret: {
    NEED(4);
    if (SE_UNLIKELY(top[3].tag != VARTYPE_INTEGER || top[2].tag != VARTYPE_ADDRESS || top[1].tag != VARTYPE_OBJECT))
        goto illegal;
    int32_t n = top[3].i;
    if (SE_UNLIKELY(n < 0 || n > DEPTH() - 4)) goto illegal;
    uint32_t p = top[2].u;
    if (p == 0) {
        SAVE();
        SE_EndTask(ctx, task);
        return 1;
    }
    if (SE_UNLIKELY(p >= words)) goto illegal;
    StoryInstance* caller = top[1].object;
    if (SE_UNLIKELY(!caller || !caller->classObject)) {
        SAVE();
        SE_RemoveTask(ctx, task);
        return 1;
    }
    // The result takes the deepest argument's slot (the count's when n = 0).
    ScriptValue* dst = top + n + 3;
    Drop(dst);
    *dst = top[0];
    caller->refCount--;   // the frame's OBJECT slot; a live object is never freed by it
    for (int32_t k = 4; k < n + 3; ++k) Drop(top + k);
    top = dst;
    self = caller;
    task->object = self;
    pc = p;
    NEXT();
}

    // ---- engine calls ----
op_sys: {
    longCall = false;
    uint16_t w = code[pc + 1];
    if (w & 0x8000) {
        callWord = w;
        callName = 0;
    } else {
        callWord = 0;
        callName = w;
    }
    goto engine_call;
}

op_sysl: {
    longCall = true;
    uint32_t w = U32(1);
    if ((w >> 16) == 0xFFFF && (w & 0x8000)) {
        callWord = w & 0xFFFF;
        callName = 0;
    } else {
        callWord = 0;
        callName = w;
    }
    goto engine_call;
}

engine_call: {
    NEED(1);
    if (SE_UNLIKELY(top->tag != VARTYPE_INTEGER || top->i < 0 || top->i > DEPTH() - 1)) goto illegal;
    int32_t argc = top->i;
    int32_t module = 32;
    int32_t call = 0;
    const char* name = "uninitialized";
    bool trace = Tracing();
    if (callWord) {
        module = static_cast<int32_t>((callWord >> 9) & 63);
        call = static_cast<int32_t>(callWord & 511);
        if (trace) {
            if (!longCall) {
                Qel_DPrintf(kTraceMask, "SYSTEM: %d:%d(", module, call);
            } else {
                const char* const* names = module < SE_MODULE_RECORDS ? ctx->modules[module].callNames : nullptr;
                const char* shown = "uninitialized";
                for (int32_t j = 0; names && names[j]; ++j)
                    if (j == call) shown = names[j];
                Qel_DPrintf(kTraceMask, "SYSTEML: %s(", shown);
            }
        }
        // A word no registered module stands behind is an unknown call.
        if (module >= SE_MODULE_RECORDS || module >= ctx->nextModule || !ctx->modules[module].callNames) module = 32;
    } else {
        name = NameText(ctx, callName);
        if (trace) Qel_DPrintf(kTraceMask, longCall ? "SYSTEML: %s(" : "SYSTEM: %s(", name);
        uint64_t missStamp = kUnknownCallMark | ctx->registryGeneration;
        if (aux[pc] != missStamp) {
            if (SE_FindCallName(ctx, name, &module, &call)) {
                uint16_t linked = SE_LinkedCallWord(static_cast<uint32_t>(module), static_cast<uint32_t>(call));
                // The loaded code is rewritten in place: later runs skip the look-up.
                uint16_t* words16 = const_cast<uint16_t*>(code);
                if (longCall) {
                    words16[pc + 1] = 0xFFFF;
                    words16[pc + 2] = linked;
                } else {
                    words16[pc + 1] = linked;
                }
            } else {
                module = 32;
                aux[pc] = missStamp;
            }
        }
    }
    if (trace) Qel_DPrintf(kTraceMask, ")\n");

    task->answered = 0;
    task->pendingArgc = static_cast<uint16_t>(argc);
    task->pendingArgs = top + 1;
    uint32_t next = pc + (longCall ? 3 : 2);
    if (module == 32) {
        SE_TaskReturnIntEx(task, ctx, 0);
        Qel_BannerPrintf("%s Unknown System Call: %s\n", where(), name);
    } else if (!ctx->modules[module].handler) {
        SE_TaskReturnIntEx(task, ctx, 0);
        if (callWord) {
            const char* const* names = ctx->modules[module].callNames;
            for (int32_t j = 0; names[j]; ++j)
                if (j == call) name = names[j];
        }
        Qel_BannerPrintf("%s Illegal System Call not known by engine: %s\n", where(), name);
    } else {
        // Saved so that the position plus 2 is the next instruction (a handler
        // that calls a function inside this task moves it).
        pc = next - 2;
        SAVE();
        int32_t r = ctx->modules[module].handler(ctx->ownModule, task, call, argc, top + 1);
        if (r == 0) return 0;
        if (task->removed) return 1;
        ctx->currentTask = task;
        RELOAD();
        self = task->object;
        next = task->position + 2;
        if (SE_UNLIKELY(next >= words || task->state != SE_TASK_READY)) {
            pc = next;
            goto illegal;
        }
        // A handler may rewrite the frame: the count slot says how many
        // arguments are still to go.
        if (task->answered && top->tag == VARTYPE_INTEGER && top->i >= 0 && top->i <= argc) argc = top->i;
    }
    pc = next;
    if (task->answered) {
        ScriptValue* dst = top + argc;
        for (int32_t k = 0; k < argc; ++k) Drop(top + k);
        Drop(dst);
        MoveNew(dst, &task->callResult);
        top = dst;
        NEXT();
    }
    // Not answered: the task waits for a later answer.
    SAVE();
    if (ctx->currentTask == task) {
        SE_ListNode* pred = task->link.pred;
        ctx->currentTask = SE_ListIsTask(pred) ? SE_ListTask(pred) : nullptr;
    }
    SE_ListRemove(&task->link);
    task->state = SE_TASK_WAITING;
    SE_ListAddTail(&ctx->waiting, &task->link);
    return 1;
}

op_new: {
    NEED(1);
    int32_t id = top->tag == VARTYPE_INTEGER ? top->i : 0;
    StoryInstance* cls = id > 0 ? SB_FindObject(ctx, id) : nullptr;
    if (!cls) {
        Qel_BannerPrintf("%s new operator: Invalid class ID %d\n", where(), id);
        AssignInt(top, 0);
    } else {
        StoryInstance* inst = NewInstance(ctx, static_cast<StoryObject*>(cls));
        AssignInt(top, inst ? inst->id : 0);
    }
    pc += 1;
    NEXT();
}

op_delete: {
    NEED(1);
    StoryInstance* inst = InstanceOf(ctx, top);
    if (inst) {
        pc += 1;
        SAVE();
        DeleteInstance(ctx, inst);
        if (task->removed) return 1;
        ctx->currentTask = task;
        RELOAD();
        pc = task->position;
    } else {
        pc += 1;
    }
    Drop(top);
    ++top;
    NEXT();
}

op_self:
    ROOM(1);
    --top;
    SetInt(top, self ? self->id : 0);
    pc += 1;
    NEXT();

op_super:
    ROOM(1);
    Qel_BannerPrintf("%s SUPER instruction now illegal!\n", where());
    --top;
    SetInt(top, 0);
    pc += 1;
    NEXT();

    // ---- operators: integer fast paths, the value operators otherwise ----
#define BINARY(label, fast, slow)                                                                  \
    label : {                                                                                      \
        NEED(2);                                                                                   \
        ScriptValue* a = top + 1;                                                                  \
        ScriptValue* b = top;                                                                      \
        if (SE_LIKELY(a->tag == VARTYPE_INTEGER && b->tag == VARTYPE_INTEGER)) {                   \
            int32_t x = a->i, y = b->i;                                                            \
            (void)x;                                                                               \
            (void)y;                                                                               \
            fast;                                                                                  \
        } else {                                                                                   \
            task->position = pc;                                                                   \
            slow(a, b);                                                                            \
            Drop(b);                                                                               \
        }                                                                                          \
        ++top;                                                                                     \
        pc += 1;                                                                                   \
        NEXT();                                                                                    \
    }
#define WRAP(e) static_cast<int32_t>(e)
#define U(v) static_cast<uint32_t>(v)

    BINARY(op_add, SetInt(a, WRAP(U(x) + U(y))), SV_OpAdd)
    BINARY(op_sub, SetInt(a, WRAP(U(x) - U(y))), SV_OpSub)
    BINARY(op_mul, SetInt(a, WRAP(U(x) * U(y))), SV_OpMul)
    BINARY(op_div, if (y == 0 || y == -1) { task->position = pc; SV_OpDiv(a, b); } else SetInt(a, x / y), SV_OpDiv)
    BINARY(op_mod, if (y == 0 || y == -1) { task->position = pc; SV_OpMod(a, b); } else SetInt(a, x % y), SV_OpMod)
    BINARY(op_or, SetInt(a, x | y), SV_OpOr)
    BINARY(op_and, SetInt(a, x & y), SV_OpAnd)
    BINARY(op_eor, SetInt(a, x ^ y), SV_OpEor)
    BINARY(op_lsh, SetInt(a, WRAP(U(x) << (U(y) & 31))), SV_OpLsh)
    BINARY(op_rsh, SetInt(a, x >> (U(y) & 31)), SV_OpRsh)
    BINARY(op_lt, SetInt(a, x < y), SV_OpLt)
    BINARY(op_gt, SetInt(a, x > y), SV_OpGt)
    BINARY(op_le, SetInt(a, x <= y), SV_OpLe)
    BINARY(op_ge, SetInt(a, x >= y), SV_OpGe)
    BINARY(op_ne, SetInt(a, x != y), SV_OpNe)
    BINARY(op_eq, SetInt(a, x == y), SV_OpEq)

op_lor: {
    NEED(2);
    int r = IsTrueValue(top + 1) || IsTrueValue(top);
    Drop(top);
    ++top;
    AssignInt(top, r);
    pc += 1;
    NEXT();
}

op_land: {
    NEED(2);
    int r = IsTrueValue(top + 1) && IsTrueValue(top);
    Drop(top);
    ++top;
    AssignInt(top, r);
    pc += 1;
    NEXT();
}

op_minus:
    NEED(1);
    if (top->tag == VARTYPE_INTEGER) {
        SetInt(top, WRAP(0u - U(top->i)));
    } else {
        task->position = pc;
        SV_OpMinus(top);
    }
    pc += 1;
    NEXT();

op_not:
    NEED(1);
    if (top->tag == VARTYPE_INTEGER) SetInt(top, top->i == 0);
    else SV_OpNot(top);
    pc += 1;
    NEXT();

op_inv:
    NEED(1);
    if (top->tag == VARTYPE_INTEGER) {
        SetInt(top, ~top->i);
    } else {
        task->position = pc;
        SV_OpInv(top);
    }
    pc += 1;
    NEXT();

op_launch: {
    ROOM(1);
    --top;
    SetInt(top, 0);
    pc += 1;
    // The running function's frame: the first ADDRESS below the top, its count under it.
    int32_t depth = static_cast<int32_t>(DEPTH());
    int32_t a = 1;
    while (a < depth && top[a].tag != VARTYPE_ADDRESS) ++a;
    if (SE_UNLIKELY(a + 1 >= depth || top[a + 1].tag != VARTYPE_INTEGER || top[a + 1].i < 0 ||
                    top[a + 1].i > depth - a - 2)) {
        pc -= 1;
        goto illegal;
    }
    int32_t n = top[a + 1].i;
    int32_t copied = a + 2 + n;   // slots from the top down to the deepest argument
    const StoryFunction* fn = SE_FindFunctionContaining(self, pc, nullptr);
    uint32_t slots = (fn ? fn->stackNeed : 0) + static_cast<uint32_t>(n) + 7;
    if (slots < static_cast<uint32_t>(copied) + 4) slots = static_cast<uint32_t>(copied) + 4;
    SAVE();
    SE_Task* child = SE_AllocTask(ctx, slots);
    if (!child) {
        // No task: the parent sees 0 and goes on.
        NEXT();
    }
    child->position = pc;
    child->object = self;
    child->sp = -copied;
    ScriptValue* ctop = child->stackEnd + child->sp;
    for (int32_t k = 0; k < copied; ++k) {
        if (top[k].tag == VARTYPE_ADDRESS) {
            ctop[k].tag = VARTYPE_ADDRESS;
            ctop[k].bits = 0;
        } else {
            CopyNew(&ctop[k], &top[k]);
        }
    }
    SetInt(ctop, 0);
    SetInt(top, static_cast<int32_t>(child->id));
    child->state = SE_TASK_READY;
    SE_ListAddTail(&ctx->ready, &child->link);
    ctx->currentTask = child;
    SE_ExecuteTask(ctx, child);
    if (task->removed) return 1;
    ctx->currentTask = task;
    RELOAD();
    self = task->object;
    pc = task->position;
    NEXT();
}

op_end:
    pc += 1;
    SAVE();
    SE_RemoveTask(ctx, task);
    return 1;

op_room: {
    int32_t n = S16(1);
    if (SE_UNLIKELY(n < 0)) goto illegal;
    if (top - base < n + 4) {
        SAVE();
        // At the limit this logs and the task goes on; a push without room ends it.
        SE_GrowTaskStack(ctx, task, static_cast<uint32_t>(DEPTH() + n + 4));
        RELOAD();
    }
    pc += 2;
    NEXT();
}

op_pushstr:
    ROOM(1);
    --top;
    top->tag = VARTYPE_STRING;
    top->bits = U32(1);
    pc += 3;
    NEXT();

op_pushfloat: {
    ROOM(1);
    uint64_t bits = (static_cast<uint64_t>(code[pc + 1]) << 48) | (static_cast<uint64_t>(code[pc + 2]) << 32) |
                    (static_cast<uint64_t>(code[pc + 3]) << 16) | code[pc + 4];
    --top;
    top->tag = VARTYPE_FLOAT;
    std::memcpy(&top->f, &bits, sizeof bits);
    pc += 5;
    NEXT();
}

op_pushfloat0:
    ROOM(1);
    --top;
    top->tag = VARTYPE_FLOAT;
    top->f = 0.0;
    pc += 1;
    NEXT();

op_jtab: {
    NEED(1);
    if (SE_UNLIKELY(top->tag != VARTYPE_INTEGER)) goto illegal;
    uint64_t i = top->i < 0 ? 0 : static_cast<uint64_t>(top->i);
    uint64_t entry = uint64_t{pc} + 1 + 2 * i;
    if (SE_UNLIKELY(entry + 1 >= words)) goto illegal;
    uint32_t p = (static_cast<uint32_t>(code[entry]) << 16) | code[entry + 1];
    if (SE_UNLIKELY(p >= words)) goto illegal;
    ++top;
    pc = p;
    NEXT();
}

op_case: {
    NEED(1);
    if (SE_UNLIKELY(top->tag != VARTYPE_INTEGER || top->i < 0 || top->i > DEPTH() - 2)) goto illegal;
    int32_t n = top->i;
    ScriptValue* tested = top + n + 1;
    int32_t match = 0;
    task->position = pc;
    for (int32_t c = 0; c < n && !match; ++c)
        if (CaseEqual(top + n - c, tested)) match = c + 1;
    for (int32_t k = 0; k <= n; ++k) Drop(top + k);
    top += n + 1;
    AssignInt(top, match);
    pc += 1;
    NEXT();
}

op_illegal:
illegal: {
    SAVE();
    char text[64];
    SE_GetTaskDebugAddress(text, task, ctx);
    Qel_BannerPrintf("%s *** ILLEGAL ***\n", text);
    SE_RemoveTask(ctx, task);
    return 1;
}

overflow:
    // The growth logged why; the task cannot go on without writing past its stack.
    SAVE();
    SE_RemoveTask(ctx, task);
    return 1;
    }

illegal_nocache: {
    char text[64];
    SE_GetTaskDebugAddress(text, task, ctx);
    Qel_BannerPrintf("%s *** ILLEGAL ***\n", text);
    SE_RemoveTask(ctx, task);
    return 1;
}
}
