#include "script/interpreter.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>

#include "base/general.h"
#include "base/log.h"
#include "base/table.h"
#include "script/arrays.h"
#include "script/loader.h"
#include "script/lookup.h"
#include "script/memory.h"
#include "script/modules.h"
#include "script/opcodes.h"
#include "script/operators.h"
#include "script/tables.h"
#include "script/tasks.h"

#define SE_LIKELY(x)   __builtin_expect(!!(x), 1)
#define SE_UNLIKELY(x) __builtin_expect(!!(x), 0)
#define SE_INLINE      inline __attribute__((always_inline))

// Instructions as the interpreter runs them: every code word gets one entry
// whose low byte is its form, filled the first time the word is reached as
// an instruction. Forms 1 .. SE_OP_COUNT-1 are the opcodes themselves once
// their operands are known to lie inside the code (script/BYTECODE.md).
// The others are runs of common instructions done in one step while their
// values are integers; anything else falls back to the first instruction of
// the run, so a run behaves exactly as its instructions one by one (and a
// jump into its middle finds the plain instructions there).
constexpr int kBinOps = 11;  // add sub mul and or | lt gt le ge ne eq
constexpr int kArithOps = 5;
constexpr int kCmpOps = 6;
constexpr int kFloatOps = 4;  // add sub mul div
enum : uint8_t {
    XOP_DECODE = 0,                    // not looked at yet
    XOP_ILLEGAL = SE_OP_COUNT,         // no opcode, operands past the end, or the end of the code
    XOP_LL = XOP_ILLEGAL + 1,          // getl a; getl b; op
    XOP_LK = XOP_LL + kBinOps,         // getl a; constant; op
    XOP_K = XOP_LK + kBinOps,          // constant; op
    XOP_LL_JF = XOP_K + kBinOps,       // getl a; getl b; compare; jf
    XOP_LL_JNF = XOP_LL_JF + kCmpOps,  // ... jnf
    XOP_LK_JF = XOP_LL_JNF + kCmpOps,  // getl a; constant; compare; jf
    XOP_LK_JNF = XOP_LK_JF + kCmpOps,
    XOP_CMP_JF = XOP_LK_JNF + kCmpOps,  // compare; jf
    XOP_CMP_JNF = XOP_CMP_JF + kCmpOps,
    XOP_LL_SET = XOP_CMP_JNF + kCmpOps,     // getl a; getl b; op; setl c; pop
    XOP_LK_SET = XOP_LL_SET + kArithOps,    // getl a; constant; op; setl c; pop
    XOP_SETL_POP = XOP_LK_SET + kArithOps,  // setl c; pop
    XOP_F = XOP_SETL_POP + 1,               // pushf d; op
    XOP_G_INDEX = XOP_F + kFloatOps,        // getg g; index
    XOP_G_STORE,                            // getg g; store
    XOP_L_INDEX,                            // getl a; index
    XOP_L_STORE,                            // getl a; store
    XOP_LG_INDEX,                           // getl a; getg g; index
    XOP_LG_STORE,                           // getl a; getg g; store
    XOP_LL_INDEX,                           // getl a; getl b; index
    XOP_LL_STORE,                           // getl a; getl b; store
    XOP_LF,                                 // getl a; pushf d; op
    XOP_F_SET = XOP_LF + kFloatOps,         // pushf d; op; setl c; pop
    // getl a; constant; add; setl c; pop, then the loop's test: an LL_J or
    // LK_J form, jf or jnf. Each has its own form so that the step goes
    // straight into the test's body.
    XOP_STEP = XOP_F_SET + kFloatOps,
    // A counting loop's step and test in one: the counter stepped in place
    // by a small constant, then compared with a local (LL) or a constant
    // (LK) and the branch taken, all operands and the target in the entry.
    XOP_LOOP = XOP_STEP + 4 * kCmpOps,
    // getl a; pushf d1; op1; pushf d2; op2; setl c; pop: one statement of a
    // local and two float constants, the form naming op2 and the entry op1.
    XOP_LFF_SET = XOP_LOOP + 4 * kCmpOps,
    XOP_COUNT = XOP_LFF_SET + kFloatOps,
};
static_assert(XOP_COUNT <= 256, "instruction forms fit a byte");

// The binary operator index of an opcode, or -1.
constexpr int BinIndex(int op) {
    switch (op) {
        case SE_OP_ADD: return 0;
        case SE_OP_SUB: return 1;
        case SE_OP_MUL: return 2;
        case SE_OP_AND: return 3;
        case SE_OP_OR: return 4;
        case SE_OP_LT: return 5;
        case SE_OP_GT: return 6;
        case SE_OP_LE: return 7;
        case SE_OP_GE: return 8;
        case SE_OP_NE: return 9;
        case SE_OP_EQ: return 10;
        default: return -1;
    }
}

// The step form for a test of the LK (else LL) kind, branching on jnf (else
// jf), with compare index ci.
constexpr int StepForm(bool lk, bool jnf, int ci) { return XOP_STEP + (((lk ? 2 : 0) + (jnf ? 1 : 0)) * kCmpOps) + ci; }
// The loop form of the same test kinds.
constexpr int LoopForm(bool lk, bool jnf, int ci) { return XOP_LOOP + (((lk ? 2 : 0) + (jnf ? 1 : 0)) * kCmpOps) + ci; }

constexpr int FloatIndex(int op) {
    switch (op) {
        case SE_OP_ADD: return 0;
        case SE_OP_SUB: return 1;
        case SE_OP_MUL: return 2;
        case SE_OP_DIV: return 3;
        default: return -1;
    }
}

struct SE_CodeCache {
    const uint16_t* code;  // the code it describes
    uint32_t words;
    size_t bytes;  // booked size of this block
    // words + 1 entries, one per code word (the last one is the end of the
    // code): the low byte is the instruction form, the rest its decoded
    // operands or the call-by-name and engine-call look-ups of the word.
    // Then words / 5 + 1 float constants: the double of a pushf at word p,
    // once a fused form uses it, at entry words + 1 + p / 5 (a pushf takes
    // five words, so no two share an entry).
    uint64_t* ins;
};

namespace {

constexpr uint32_t kTraceMask = 0x100;

// Tags whose cells own nothing: copied and dropped without any count.
SE_INLINE constexpr bool IsPlain(uint8_t tag) { return tag <= 14 && ((0x6407u >> tag) & 1u); }

// ARRAY, TABLE, OBJECT and DSTRING records all keep their reference count in
// the word after their id.
static_assert(offsetof(SAR, refCount) == 4 && offsetof(SV_TableRec, refCount) == 4 &&
                  offsetof(SV_DString, refCount) == 4 && offsetof(StoryInstance, refCount) == 4,
              "shared records count their references at one place");
SE_INLINE constexpr bool IsCounted(uint8_t tag) {
    return tag == VARTYPE_ARRAY || tag == VARTYPE_TABLE || tag == VARTYPE_OBJECT || tag == VARTYPE_DSTRING;
}
inline int32_t* RefCount(void* record) { return reinterpret_cast<int32_t*>(static_cast<char*>(record) + 4); }

// Releases a cell whose slot dies; the last reference goes the long way.
SE_INLINE void Drop(ScriptValue* v) {
    uint8_t tag = v->tag;
    if (IsPlain(tag)) return;
    if (IsCounted(tag) && v->ptr && *RefCount(v->ptr) > 1) {
        --*RefCount(v->ptr);
        return;
    }
    SV_Release(v);
}

// Cells are read and written here as two 8-byte words (the tag word with its
// padding, then the payload), never as one 16-byte block: a wide load right
// after two narrow stores to the same cell stalls the processor.
inline uint64_t TagWord(const ScriptValue* v) {
    uint64_t w;
    std::memcpy(&w, v, sizeof w);
    return w;
}

inline void Put(ScriptValue* v, uint64_t tagWord, uint64_t bits) {
    std::memcpy(v, &tagWord, sizeof tagWord);
    v->bits = bits;
}

inline void SetInt(ScriptValue* v, int32_t n) {
    Put(v, VARTYPE_INTEGER, static_cast<uint64_t>(static_cast<int64_t>(n)));
}

inline void SetFloat(ScriptValue* v, double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    Put(v, VARTYPE_FLOAT, bits);
}

// A destination a fused form may overwrite without a release: an INTEGER
// (by far the most common) is decided by one comparison.
inline bool PlainFast(uint8_t tag) { return tag == VARTYPE_INTEGER || IsPlain(tag); }

// An INTEGER into a cell PlainFast allowed: one that holds an INTEGER keeps
// its tag, and only the payload is written.
SE_INLINE void SetIntOver(ScriptValue* v, int32_t n) {
    if (SE_LIKELY(v->tag == VARTYPE_INTEGER)) v->bits = static_cast<uint64_t>(static_cast<int64_t>(n));
    else SetInt(v, n);
}

constexpr bool IsNumberTag(uint8_t tag) { return tag == VARTYPE_INTEGER || tag == VARTYPE_FLOAT; }

inline void AssignInt(ScriptValue* v, int32_t n) {
    Drop(v);
    SetInt(v, n);
}

// A copy into a slot that holds nothing yet.
SE_INLINE void CopyNew(ScriptValue* dst, const ScriptValue* src) {
    uint64_t w0 = TagWord(src), w1 = src->bits;
    uint8_t tag = static_cast<uint8_t>(w0);
    if (IsPlain(tag)) {
        Put(dst, w0, w1);
    } else if (IsCounted(tag) && src->ptr && (tag != VARTYPE_OBJECT || src->object->classObject)) {
        ++*RefCount(src->ptr);
        Put(dst, w0, w1);
    } else {
        dst->tag = VARTYPE_UNDEFINED;
        SV_Copy(src, dst);
    }
}

// A copy over a live cell (the new reference is taken before the old goes).
SE_INLINE void CopyInto(ScriptValue* dst, const ScriptValue* src) {
    if (src == dst) return;
    uint64_t w0 = TagWord(src), w1 = src->bits;
    uint8_t tag = static_cast<uint8_t>(w0);
    if (IsPlain(tag)) {
        // nothing to count
    } else if (IsCounted(tag) && src->ptr && (tag != VARTYPE_OBJECT || src->object->classObject)) {
        ++*RefCount(src->ptr);
    } else {
        SV_Copy(src, dst);
        return;
    }
    Drop(dst);
    Put(dst, w0, w1);
}

// Moves src into a slot that holds nothing yet.
inline void MoveNew(ScriptValue* dst, ScriptValue* src) {
    Put(dst, TagWord(src), src->bits);
    src->tag = VARTYPE_UNDEFINED;
}

// The double of the four code words at p, the first the highest: one load,
// its words then put in order.
SE_INLINE double FloatAt(const uint16_t* p) {
    static_assert(std::endian::native == std::endian::little, "code words are read in little-endian order");
    uint64_t x;
    std::memcpy(&x, p, sizeof x);
    x = (x >> 32) | (x << 32);
    x = ((x & 0x0000ffff0000ffffull) << 16) | ((x >> 16) & 0x0000ffff0000ffffull);
    double d;
    std::memcpy(&d, &x, sizeof d);
    return d;
}

// The 32-bit operand in the two code words at p, the first the high half.
SE_INLINE uint32_t Word32At(const uint16_t* p) {
    uint32_t x;
    std::memcpy(&x, p, sizeof x);
    return std::rotl(x, 16);
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
    size_t bytes = sizeof(SE_CodeCache) + (size_t{words} + 1 + size_t{words} / 5 + 1) * sizeof(uint64_t);
    auto* block = static_cast<uint8_t*>(SB_Alloc(ctx, SE_MEMCAT_CODE, SE_MEM_ZERO, bytes));
    if (!block) return nullptr;
    cc = reinterpret_cast<SE_CodeCache*>(block);
    cc->code = ctx->code;
    cc->words = words;
    cc->bytes = bytes;
    cc->ins = reinterpret_cast<uint64_t*>(block + sizeof(SE_CodeCache));
    cc->ins[words] = XOP_ILLEGAL;
    ctx->codeCache = cc;
    return cc;
}

// Operands of the fused forms, decoded once into the word's entry above its
// form byte: slot indices counted from the top before the run starts (A: the
// first local, B: the second local, a global or the constant, C: the setl
// destination) and M, the largest of them (the run needs M < depth); a flag
// for a constant that is a two-word pushw. Slot indices beyond kMaxFusedSlot
// are left to the plain instructions.
constexpr uint32_t kMaxFusedSlot = 4095;
constexpr uint64_t PackOperands(uint32_t a, uint32_t b, uint32_t c, uint32_t m, bool wide) {
    return (uint64_t{a} << 8) | (wide ? uint64_t{1} << 20 : 0) | (uint64_t{b & 0xffffu} << 24) | (uint64_t{c} << 40) |
           (uint64_t{m} << 52);
}
constexpr uint8_t Form(uint64_t e) { return static_cast<uint8_t>(e); }
constexpr uint32_t OpA(uint64_t e) { return static_cast<uint32_t>((e >> 8) & 0xfff); }
constexpr uint32_t OpWide(uint64_t e) { return static_cast<uint32_t>((e >> 20) & 1); }
constexpr uint32_t OpB(uint64_t e) { return static_cast<uint32_t>((e >> 24) & 0xffff); }
constexpr int32_t OpK(uint64_t e) { return static_cast<int16_t>((e >> 24) & 0xffff); }
constexpr uint32_t OpC(uint64_t e) { return static_cast<uint32_t>((e >> 40) & 0xfff); }
constexpr uint32_t OpM(uint64_t e) { return static_cast<uint32_t>(e >> 52); }
// A store form followed by a pop (an assignment whose value is not used).
constexpr uint64_t kPopFollows = uint64_t{1} << 21;
constexpr uint32_t OpPop(uint64_t e) { return static_cast<uint32_t>((e >> 21) & 1); }
// A float form keeps the entry of its constant in B: pushf at word p, entry p / 5.
constexpr uint32_t kMaxFloatConstant = 0xffff;
// A form of two float constants keeps its first operator (FloatIndex) in bits
// 20..21 and in bit 22 whether its second constant's entry lies two past the
// first's rather than one (the second pushf is six words after the first).
constexpr uint64_t PackFloat2(int firstOp, bool gap) {
    return (uint64_t{static_cast<uint32_t>(firstOp) & 3u} << 20) | (gap ? uint64_t{1} << 22 : 0);
}
constexpr uint32_t OpFirstFloat(uint64_t e) { return static_cast<uint32_t>((e >> 20) & 3); }
constexpr uint32_t OpSecondConstant(uint64_t e) { return OpB(e) + 1 + static_cast<uint32_t>((e >> 22) & 1); }

// Operands of a loop form, all within one entry and each read from it by
// one narrow load, so that no field waits on the unpacking of another:
// byte 1 the words from the step to past the branch less 14 (bits 0..1)
// and the step (bits 2..7, signed), then 16-bit fields: the counter's byte
// offset from the top, the test's other local's byte offset (LL) or its
// constant (LK, signed), and the branch target less the step's position
// (signed). A loop whose fields do not fit is left to the step form.
constexpr uint32_t kMaxLoopSlot = kMaxFusedSlot;  // its byte offset fits 16 bits
constexpr int32_t kMinLoopStep = -32, kMaxLoopStep = 31;
constexpr uint32_t kMinLoopLength = 14, kMaxLoopLength = 16;
constexpr uint64_t PackLoop(uint32_t length, uint32_t a, int32_t step, int32_t other, bool lk, int32_t rel) {
    const uint32_t low = (length - kMinLoopLength) | (static_cast<uint32_t>(step) << 2);
    const uint32_t second = lk ? static_cast<uint16_t>(other) : static_cast<uint32_t>(other) * SE_SIZE_VALUE;
    return (uint64_t{low & 0xffu} << 8) | (uint64_t{a * SE_SIZE_VALUE} << 16) | (uint64_t{second} << 32) |
           (uint64_t{static_cast<uint16_t>(rel)} << 48);
}
static_assert(std::endian::native == std::endian::little, "loop fields are read as the entry's bytes");
template <class T>
SE_INLINE T EntryField(const uint64_t* entry, uint32_t byte) {
    T v;
    std::memcpy(&v, reinterpret_cast<const char*>(entry) + byte, sizeof v);
    return v;
}
SE_INLINE uint32_t LoopLength(const uint64_t* e) { return kMinLoopLength + (EntryField<uint8_t>(e, 1) & 3u); }
SE_INLINE int32_t LoopStep(const uint64_t* e) { return EntryField<int8_t>(e, 1) >> 2; }
SE_INLINE ScriptValue* LoopCounter(ScriptValue* top, const uint64_t* e) {
    return reinterpret_cast<ScriptValue*>(reinterpret_cast<char*>(top) + EntryField<uint16_t>(e, 2));
}
SE_INLINE ScriptValue* LoopOther(ScriptValue* top, const uint64_t* e) {
    return reinterpret_cast<ScriptValue*>(reinterpret_cast<char*>(top) + EntryField<uint16_t>(e, 4));
}
SE_INLINE int32_t LoopK(const uint64_t* e) { return EntryField<int16_t>(e, 4); }
SE_INLINE int32_t LoopRel(const uint64_t* e) { return EntryField<int16_t>(e, 6); }

// Off, every instruction runs in its plain form (the fused forms' reference).
// A build with SE_PLAIN_FORMS never fuses.
#ifdef SE_PLAIN_FORMS
constexpr bool kFusedBuild = false;
#else
constexpr bool kFusedBuild = true;
#endif
bool g_fusedForms = kFusedBuild;

// Decides the interpreter's form of the instruction at pc (pc < words) and
// the operands of a fused form.
uint64_t Decode(const uint16_t* code, uint32_t words, uint32_t pc, bool step = true) {
    uint16_t op = code[pc];
    if (op == 0 || op >= SE_OP_COUNT) return XOP_ILLEGAL;
    const SE_OpcodeInfo& info = SE_Opcodes[op];
    uint32_t operandWords = 0;
    for (uint8_t shape : info.operands)
        if (shape != SE_OPND_JUMPTABLE) operandWords += static_cast<uint32_t>(SE_OperandWords(shape));
    if (size_t{pc} + 1 + operandWords > words) return XOP_ILLEGAL;
    if (!g_fusedForms) return op;

    // The word k after pc, or -1 past the end of the code.
    auto at = [&](uint32_t k) -> int32_t { return size_t{pc} + k < words ? code[pc + k] : -1; };
    // A local operand at k as a slot index from the top before the run (getl i
    // names slot i-1; `pushed` values lie above it by then), or -1.
    auto slot = [&](uint32_t k, int32_t pushed) -> int32_t {
        if (at(k) < 0) return -1;
        int32_t i = static_cast<int16_t>(code[pc + k]) - 1 - pushed;
        return i >= 0 && i <= static_cast<int32_t>(kMaxFusedSlot) ? i : -1;
    };
    // A constant instruction at k: its length in words, or 0; its value in *value.
    auto constant = [&](uint32_t k, int32_t* value) -> uint32_t {
        int32_t w = at(k);
        if (w >= SE_OP_CONST0 && w <= SE_OP_CONST31) {
            *value = w - SE_OP_CONST0;
            return 1;
        }
        if (w == SE_OP_PUSH16 && at(k + 1) >= 0) {
            *value = static_cast<int16_t>(code[pc + k + 1]);
            return 2;
        }
        return 0;
    };
    // A jf or jnf at k whose target lies in the code: 0 jf, 1 jnf; else -1.
    auto branch = [&](uint32_t k, uint32_t* to = nullptr) -> int {
        int32_t w = at(k);
        if ((w != SE_OP_JF && w != SE_OP_JNF) || at(k + 2) < 0) return -1;
        uint32_t target = (static_cast<uint32_t>(code[pc + k + 1]) << 16) | code[pc + k + 2];
        if (target >= words) return -1;
        if (to) *to = target;
        return w == SE_OP_JF ? 0 : 1;
    };
    // "setl c; pop" at k with one value pushed by then: the destination slot
    // in the stack before the run, or -1 (c = 1 would be the pushed value).
    auto setPop = [&](uint32_t k) -> int32_t {
        if (at(k) != SE_OP_SETLOCAL || at(k + 2) != SE_OP_POP) return -1;
        return slot(k + 1, 1);
    };
    auto max3 = [](int32_t a, int32_t b, int32_t c) { return static_cast<uint32_t>(std::max(a, std::max(b, c))); };
    // The loop form of a step of counter slot a (into c) by k whose test
    // starts at t: `getl` of the same counter, then a local or a constant,
    // a compare and a branch. 0 when it is no such loop or does not fit.
    auto LoopEntry = [&](uint32_t t, int32_t a, int32_t c, int32_t k) -> uint64_t {
        if (a != c || a > static_cast<int32_t>(kMaxLoopSlot) || k < kMinLoopStep || k > kMaxLoopStep) return 0;
        if (at(t) != SE_OP_GETLOCAL || slot(t + 1, 0) != a) return 0;
        int32_t other, k2;
        uint32_t cmpAt;
        bool lk;
        if (at(t + 2) == SE_OP_GETLOCAL) {
            other = slot(t + 3, 1);
            if (other < 0 || other > static_cast<int32_t>(kMaxLoopSlot)) return 0;
            cmpAt = t + 4;
            lk = false;
        } else if (uint32_t n2 = constant(t + 2, &k2)) {
            other = k2;
            cmpAt = t + 2 + n2;
            lk = true;
        } else {
            return 0;
        }
        int bi = BinIndex(at(cmpAt));
        uint32_t target = 0;
        int j = bi >= kArithOps ? branch(cmpAt + 1, &target) : -1;
        if (j < 0) return 0;
        int64_t rel = int64_t{target} - pc;
        if (rel < INT16_MIN || rel > INT16_MAX || cmpAt + 4 < kMinLoopLength || cmpAt + 4 > kMaxLoopLength) return 0;
        return PackLoop(cmpAt + 4, static_cast<uint32_t>(a), k, other, lk, static_cast<int32_t>(rel)) |
               static_cast<uint8_t>(LoopForm(lk, j == 1, bi - kArithOps));
    };
    uint64_t ops = 0;

    switch (op) {
        case SE_OP_GETLOCAL: {
            int32_t a = slot(1, 0);
            if (a < 0) break;
            int32_t k;
            if (at(2) == SE_OP_GETLOCAL) {
                int32_t b = slot(3, 1);
                int bi = b >= 0 ? BinIndex(at(4)) : -1;
                if (bi >= kArithOps) {
                    int j = branch(5);
                    ops = PackOperands(a, b, 0, max3(a, b, 0), false);
                    if (j >= 0) return ops | static_cast<uint8_t>((j ? XOP_LL_JNF : XOP_LL_JF) + bi - kArithOps);
                    return ops | static_cast<uint8_t>(XOP_LL + bi);
                }
                if (bi >= 0) {
                    int32_t c = setPop(5);
                    ops = PackOperands(a, b, c < 0 ? 0 : c, max3(a, b, c), false);
                    return ops | static_cast<uint8_t>((c >= 0 ? XOP_LL_SET : XOP_LL) + bi);
                }
                if (b >= 0 && at(4) == SE_OP_INDEX) {
                    ops = PackOperands(a, b, 0, max3(a, b, 0), false);
                    return ops | (XOP_LL_INDEX);
                }
                // The container must be neither the index nor the value.
                if (b >= 1 && at(4) == SE_OP_INDEXSET) {
                    ops = PackOperands(a, b, 0, max3(a, b, 1), false);
                    return ops | (at(5) == SE_OP_POP ? kPopFollows : 0) | XOP_LL_STORE;
                }
            } else if (uint32_t n = constant(2, &k)) {
                int bi = BinIndex(at(2 + n));
                if (bi >= kArithOps) {
                    int j = branch(3 + n);
                    ops = PackOperands(a, static_cast<uint32_t>(k), 0, static_cast<uint32_t>(a), n == 2);
                    if (j >= 0) return ops | static_cast<uint8_t>((j ? XOP_LK_JNF : XOP_LK_JF) + bi - kArithOps);
                    return ops | static_cast<uint8_t>(XOP_LK + bi);
                }
                if (bi >= 0) {
                    int32_t c = setPop(3 + n);
                    ops = PackOperands(a, static_cast<uint32_t>(k), c < 0 ? 0 : c, max3(a, c, 0), n == 2);
                    // A loop step: the increment of a counter, then the loop's test.
                    if (c >= 0 && bi == 0 && step && size_t{pc} + 6 + n < words) {
                        if (uint64_t loop = LoopEntry(6 + n, a, c, k)) return loop;
                        uint8_t next = Form(Decode(code, words, pc + 6 + n, false));
                        if (next >= XOP_LL_JF && next < XOP_LL_JNF + kCmpOps)
                            return ops | static_cast<uint8_t>(
                                             StepForm(false, next >= XOP_LL_JNF, (next - XOP_LL_JF) % kCmpOps));
                        if (next >= XOP_LK_JF && next < XOP_LK_JNF + kCmpOps)
                            return ops | static_cast<uint8_t>(
                                             StepForm(true, next >= XOP_LK_JNF, (next - XOP_LK_JF) % kCmpOps));
                    }
                    return ops | static_cast<uint8_t>((c >= 0 ? XOP_LK_SET : XOP_LK) + bi);
                }
            } else if (at(2) == SE_OP_GETGLOBAL && at(3) >= 0 && (at(4) == SE_OP_INDEX || at(4) == SE_OP_INDEXSET)) {
                ops = PackOperands(a, code[pc + 3], 0, static_cast<uint32_t>(a), false);
                if (at(4) == SE_OP_INDEX) return ops | XOP_LG_INDEX;
                return ops | (at(5) == SE_OP_POP ? kPopFollows : 0) | XOP_LG_STORE;
            } else if (at(2) == SE_OP_PUSHFLOAT && at(6) >= 0 && (pc + 2) / 5 <= kMaxFloatConstant) {
                int fi = FloatIndex(at(7));
                // A second constant and operator and a store: c = a op1 d1 op2 d2,
                // unless a constant divides by zero (the operator logs that).
                int f2 = fi >= 0 && at(8) == SE_OP_PUSHFLOAT && at(12) >= 0 ? FloatIndex(at(13)) : -1;
                int32_t c = f2 >= 0 ? setPop(14) : -1;
                if (c >= 0 && (pc + 8) / 5 <= kMaxFloatConstant && (fi != 3 || FloatAt(code + pc + 3) != 0.0) &&
                    (f2 != 3 || FloatAt(code + pc + 9) != 0.0)) {
                    ops = PackOperands(a, (pc + 2) / 5, c, max3(a, c, 0), false) |
                          PackFloat2(fi, (pc + 8) / 5 - (pc + 2) / 5 == 2);
                    return ops | static_cast<uint8_t>(XOP_LFF_SET + f2);
                }
                if (fi >= 0) {
                    ops = PackOperands(a, (pc + 2) / 5, 0, static_cast<uint32_t>(a), false);
                    return ops | static_cast<uint8_t>(XOP_LF + fi);
                }
            } else if (at(2) == SE_OP_INDEX && a >= 1) {
                ops = PackOperands(a, 0, 0, static_cast<uint32_t>(a), false);
                return ops | (XOP_L_INDEX);
            } else if (at(2) == SE_OP_INDEXSET && a >= 2) {
                ops = PackOperands(a, 0, 0, static_cast<uint32_t>(a), false);
                return ops | (at(3) == SE_OP_POP ? kPopFollows : 0) | XOP_L_STORE;
            }
            break;
        }
        case SE_OP_GETGLOBAL:
            if (at(2) == SE_OP_INDEX) return ops | (XOP_G_INDEX);
            if (at(2) == SE_OP_INDEXSET) return (at(3) == SE_OP_POP ? kPopFollows : 0) | XOP_G_STORE;
            break;
        case SE_OP_SETLOCAL: {
            // setl c; pop: the destination is slot c-1; c = 1 copies the top onto itself.
            int32_t c = slot(1, 0);
            if (c >= 1 && at(2) == SE_OP_POP) {
                ops = PackOperands(static_cast<uint32_t>(c), 0, 0, static_cast<uint32_t>(c), false);
                return ops | (XOP_SETL_POP);
            }
            break;
        }
        case SE_OP_PUSHFLOAT: {
            int fi = FloatIndex(at(5));
            if (fi < 0 || pc / 5 > kMaxFloatConstant) break;
            // pushf d; op; setl c; pop: the destination counted before the pushf.
            if (at(6) == SE_OP_SETLOCAL && at(8) == SE_OP_POP) {
                int32_t c = slot(7, 0);
                if (c >= 1) {
                    ops = PackOperands(static_cast<uint32_t>(c), pc / 5, 0, static_cast<uint32_t>(c), false);
                    return ops | static_cast<uint8_t>(XOP_F_SET + fi);
                }
            }
            return PackOperands(0, pc / 5, 0, 0, false) | static_cast<uint8_t>(XOP_F + fi);
        }
        default: {
            int32_t k;
            if (uint32_t n = constant(0, &k)) {
                int bi = BinIndex(at(n));
                if (bi >= 0)
                    return PackOperands(0, static_cast<uint32_t>(k), 0, 0, n == 2) | static_cast<uint8_t>(XOP_K + bi);
            } else if (int bi = BinIndex(op); bi >= kArithOps) {
                if (branch(1) >= 0)
                    return ops | static_cast<uint8_t>((branch(1) ? XOP_CMP_JNF : XOP_CMP_JF) + bi - kArithOps);
            }
            break;
        }
    }
    return ops | static_cast<uint8_t>(op);
}

// Decodes the constants a float form reads into their entries past the
// code's: a pushf at word p owns entry words + 1 + p / 5.
void DecodeFloatConstants(uint64_t* ins, const uint16_t* code, uint32_t words, uint32_t pc) {
    const uint8_t form = Form(ins[pc]);
    auto put = [&](uint32_t at) { ins[words + 1 + at / 5] = std::bit_cast<uint64_t>(FloatAt(code + at + 1)); };
    if ((form >= XOP_F && form < XOP_G_INDEX) || (form >= XOP_F_SET && form < XOP_STEP)) {
        put(pc);
    } else if (form >= XOP_LF && form < XOP_F_SET) {
        put(pc + 2);  // after the getl
    } else if (form >= XOP_LFF_SET && form < XOP_COUNT) {
        put(pc + 2);
        put(pc + 8);
    }
}

// The operator of a float form (FloatIndex order) on x and the constant d.
SE_INLINE double FloatOp(uint32_t op, double x, double d) {
    switch (op) {
        case 0: return x + d;
        case 1: return x - d;
        case 2: return x * d;
        default: return x / d;
    }
}

// Index read of container c: the result replaces the index cell.
void IndexRead(ScriptValue* c, ScriptValue* idx, const char* (*where)(void*), void* whereArg) {
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
    if (const ScriptValue* found = SV_TableFind(c, idx)) CopyInto(idx, found);
    else AssignInt(idx, 0);
}

// Index write of a value into container c.
void IndexWrite(ScriptValue* c, ScriptValue* idx, ScriptValue* value, const char* (*where)(void*), void* whereArg) {
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

// The debug address of a task at an instruction, for the messages of the
// instruction (the task's saved position follows).
struct WhereArg {
    SE_Context* ctx;
    SE_Task* task;
    uint32_t pc;
    char text[64];
};

const char* WhereText(void* p) {
    auto* w = static_cast<WhereArg*>(p);
    w->task->position = w->pc;
    return SE_GetTaskDebugAddress(w->text, w->task, w->ctx);
}

const char* WhereAt(WhereArg* w, uint32_t pc) {
    w->pc = pc;
    return WhereText(w);
}

inline bool ArrayFast(const ScriptValue* c, const ScriptValue* idx) {
    return c->tag == VARTYPE_ARRAY && idx->tag == VARTYPE_INTEGER && c->array && c->array->SAR_Size > 0 &&
           static_cast<uint32_t>(idx->i) < static_cast<uint32_t>(c->array->SAR_Size);
}

// The data cell of an INTEGER or string key present in a TABLE container, or
// null (any other case goes the long way).
SE_INLINE ScriptValue* TableFast(ScriptValue* c, const ScriptValue* idx) {
    if (c->tag != VARTYPE_TABLE || !c->table) return nullptr;
    if (idx->tag == VARTYPE_INTEGER) return SV_TableFindInt(c->table, idx->i);
    if (idx->tag == VARTYPE_DSTRING)
        if (ScriptValue* found = SV_TableFindSharedText(c->table, idx)) return found;
    if (IsStringTag(idx->tag)) return SV_TableFind(c, idx);
    return nullptr;
}

// The cell an index read of container c at idx answers on the array and
// table fast paths, or null (the long way then answers, or logs).
SE_INLINE const ScriptValue* IndexFast(ScriptValue* c, const ScriptValue* idx) {
    if (ArrayFast(c, idx)) return &c->array->elements[idx->i];
    return TableFast(c, idx);
}

// Index read and write with the array and table fast paths inline.
SE_INLINE void IndexReadAt(ScriptValue* c, ScriptValue* idx, WhereArg* w, uint32_t pc) {
    if (const ScriptValue* found = IndexFast(c, idx)) {
        CopyInto(idx, found);
    } else {
        w->pc = pc;
        w->task->position = pc;
        IndexRead(c, idx, WhereText, w);
    }
}

SE_INLINE void IndexWriteAt(ScriptValue* c, ScriptValue* idx, ScriptValue* value, WhereArg* w, uint32_t pc) {
    ScriptValue* found;
    if (ArrayFast(c, idx)) {
        CopyInto(&c->array->elements[idx->i], value);
    } else if (c->tag == VARTYPE_TABLE && c->table && SV_TableSettled(c->table) && (found = TableFast(c, idx))) {
        // A key already present: its data is replaced and the table does not grow.
        CopyInto(found, value);
    } else {
        w->pc = pc;
        w->task->position = pc;
        IndexWrite(c, idx, value, WhereText, w);
    }
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
        inst->variables =
            static_cast<ScriptValue*>(SB_Alloc(ctx, SE_MEMCAT_INSTANCES, SE_MEM_ZERO, size_t{count} * SE_SIZE_VALUE));
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
    SB_InitObjectVariables(inst->variables, count, cls);
    return inst;
}

// Takes an instance out of the story: its variables go, its tasks are
// removed; the record lives on while OBJECT values refer to it.
void DeleteInstance(SE_Context* ctx, StoryInstance* inst) {
    // Held here: removing its tasks releases their values, which may hold the
    // last references.
    inst->refCount++;
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
    if (--inst->refCount == 0) SB_FreeRecord(ctx, SE_MEMCAT_INSTANCES, inst);
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

constexpr uint64_t kUnknownCallMark = uint64_t{1} << 62;

}  // namespace

void SE_SetFusedForms(bool on) { g_fusedForms = on && kFusedBuild; }
bool SE_FusedForms() { return g_fusedForms; }

#ifdef TREVAN_SANITIZE
// Instructions left to run before every task is stopped; negative: no bound.
static int64_t s_stepBudget = -1;
void SE_SetStepBudget(int64_t steps) { s_stepBudget = steps; }
#define SE_STEP_SPENT() (SE_UNLIKELY(s_stepBudget >= 0) && s_stepBudget-- == 0 && (s_stepBudget = 0, true))
#else
void SE_SetStepBudget(int64_t) {}
#define SE_STEP_SPENT() false
#endif

void SE_FreeCodeCache(SE_Context* ctx) {
    if (!ctx || !ctx->codeCache) return;
    SB_Free(ctx, SE_MEMCAT_CODE, ctx->codeCache, ctx->codeCache->bytes);
    ctx->codeCache = nullptr;
}

// Each instruction ends in its own indirect jump: merging them into one
// shared jump would defeat the branch predictor.
#if defined(__GNUC__) && !defined(__clang__)
#define SE_DISPATCH_ATTR __attribute__((optimize("no-crossjumping", "no-gcse", "no-tree-slp-vectorize")))
#else
#define SE_DISPATCH_ATTR
#endif

static int Run(SE_Context* ctx, SE_Task* task) SE_DISPATCH_ATTR;

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define SE_REGVAR(type, name, reg) register type name __asm__(reg)
#else
#define SE_REGVAR(type, name, reg) type name
#endif

// The operators of the fused forms over integers x and y (the order is that
// of BinIndex and FloatIndex).
#define WRAP(e) static_cast<int32_t>(e)
#define U(v)    static_cast<uint32_t>(v)
#define SE_ARITH_OPS(X)          \
    X(add, 0, WRAP(U(x) + U(y))) \
    X(sub, 1, WRAP(U(x) - U(y))) \
    X(mul, 2, WRAP(U(x) * U(y))) \
    X(band, 3, x& y)             \
    X(bor, 4, x | y)
#define SE_CMP_OPS(X) \
    X(lt, 0, x < y)   \
    X(gt, 1, x > y)   \
    X(le, 2, x <= y)  \
    X(ge, 3, x >= y)  \
    X(ne, 4, x != y)  \
    X(eq, 5, x == y)
#define SE_BIN_OPS(X) \
    SE_ARITH_OPS(X)   \
    X(lt, 5, x < y)   \
    X(gt, 6, x > y)   \
    X(le, 7, x <= y)  \
    X(ge, 8, x >= y)  \
    X(ne, 9, x != y)  \
    X(eq, 10, x == y)
#define SE_FLOAT_OPS(X) \
    X(fadd, 0, x + d)   \
    X(fsub, 1, x - d)   \
    X(fmul, 2, x* d)    \
    X(fdiv, 3, x / d)

int SE_ExecuteTask(SE_Context* ctx, SE_Task* task) {
    if (!ctx || !task || task->removed || task->activeRuns > 0 || !task->stackEnd) return 1;
    task->activeRuns++;
    ctx->runDepth++;
    int result = Run(ctx, task);
    ctx->runDepth--;
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
#define SE_FUSED_REGISTER
#include "script/interpreter_fused.inc"
#undef SE_FUSED_REGISTER
    }

    SE_CodeCache* cc = ctx->code ? CodeCache(ctx) : nullptr;
    if (!cc || task->position >= cc->words) goto illegal_saved;
    {
        // The hottest state of the loop lives in callee-saved registers: left to
        // itself the compiler spills some of it in a function this large.
        SE_REGVAR(size_t, pc, "r14") = task->position;
        SE_REGVAR(const uint16_t*, code, "r15") = ctx->code;
        const uint32_t words = cc->words;
        SE_REGVAR(uint64_t*, ins, "r12") = cc->ins;
        SE_REGVAR(ScriptValue*, end, "r13") = task->stackEnd;
        ScriptValue* base = end - task->stackSize;
        SE_REGVAR(ScriptValue*, top, "rbx") = end + task->sp;
        StoryInstance* self = task->object;

        // Operand words of the instruction at pc.
#define S16(k)  static_cast<int32_t>(static_cast<int16_t>(code[pc + (k)]))
#define U16(k)  static_cast<uint32_t>(code[pc + (k)])
#define U32(k)  Word32At(code + pc + (k))
#define DEPTH() (end - top)
#define NEED(n)                                         \
    do {                                                \
        if (SE_UNLIKELY(end - top < (n))) goto illegal; \
    } while (0)
#define ROOM(n)                                                                                        \
    do {                                                                                               \
        if (SE_UNLIKELY(top - base < (n))) {                                                           \
            SAVE();                                                                                    \
            if (!SE_GrowTaskStack(ctx, task, static_cast<uint32_t>(DEPTH() + (n) + 4))) goto overflow; \
            RELOAD();                                                                                  \
            if (top - base < (n)) goto overflow;                                                       \
        }                                                                                              \
    } while (0)
#define SAVE()                                      \
    do {                                            \
        task->position = pc;                        \
        task->sp = static_cast<int32_t>(top - end); \
        task->object = self;                        \
    } while (0)
#define RELOAD()                      \
    do {                              \
        end = task->stackEnd;         \
        base = end - task->stackSize; \
        top = end + task->sp;         \
    } while (0)
#define NEXT()                              \
    do {                                    \
        if (SE_STEP_SPENT()) goto overflow; \
        goto* dispatch[Form(ins[pc])];      \
    } while (0)

        // The task's debug address at an instruction, for messages.
        WhereArg whereArg{ctx, task, 0, {}};

        // Engine-call state shared by both forms.
        uint32_t callWord;  // the linked form's word, or 0 while unlinked
        uint32_t callName;
        bool longCall;

        NEXT();

    op_decode:
        ins[pc] = Decode(code, words, pc);
        DecodeFloatConstants(ins, code, words, pc);
        if (Form(ins[pc]) >= XOP_STEP && Form(ins[pc]) < XOP_LOOP) {
            // The test that follows a loop step is reached straight from it.
            uint32_t test = pc + 7 + OpWide(ins[pc]);
            ins[test] = Decode(code, words, test, false);
        }
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

    op_getglobal : {
        int32_t i = S16(1);
        StoryObject* g = ctx->objects;
        if (SE_UNLIKELY(!g || i < 0 || static_cast<uint32_t>(i) >= g->variableCount || !g->variables)) goto illegal;
        ROOM(1);
        --top;
        CopyNew(top, &g->variables[i]);
        pc += 2;
        NEXT();
    }

    op_getlocal : {
        int32_t i = S16(1);
        if (SE_UNLIKELY(i < 1 || i > DEPTH())) goto illegal;
        ROOM(1);
        ScriptValue* src = top + (i - 1);
        --top;
        CopyNew(top, src);
        pc += 2;
        NEXT();
    }

    op_getvar : {
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
        IndexReadAt(top, top + 1, &whereArg, pc);
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

    op_setglobal : {
        int32_t i = S16(1);
        StoryObject* g = ctx->objects;
        if (SE_UNLIKELY(!g || i < 0 || static_cast<uint32_t>(i) >= g->variableCount || !g->variables)) goto illegal;
        NEED(1);
        CopyInto(&g->variables[i], top);
        pc += 2;
        NEXT();
    }

    op_setlocal : {
        int32_t i = S16(1);
        if (SE_UNLIKELY(i < 1 || i > DEPTH())) goto illegal;
        CopyInto(top + (i - 1), top);
        pc += 2;
        NEXT();
    }

    op_setvar : {
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
        IndexWriteAt(top, top + 1, top + 2, &whereArg, pc);
        Drop(top);
        Drop(top + 1);
        top += 2;
        pc += 1;
        NEXT();

    op_popn : {
        int32_t n = S16(1);
        if (SE_UNLIKELY(n < 0 || n > DEPTH())) goto illegal;
        for (int32_t k = 0; k < n; ++k) Drop(top + k);
        top += n;
        pc += 2;
        NEXT();
    }

    op_mkarray : {
        NEED(1);
        if (SE_UNLIKELY(top->tag != VARTYPE_INTEGER || top->i < 0 || top->i > DEPTH() - 1)) goto illegal;
        int32_t n = top->i;
        task->position = pc;
        ScriptValue array{};
        bool ok = SV_ArrayAlloc(&array, n) != nullptr;
        if (ok && n > 0) ok = SV_ArrayRead(&array, 0) != nullptr;  // makes the elements
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

    op_mktable : {
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

    op_jmp : {
        uint32_t p = U32(1);
        if (SE_UNLIKELY(p >= words)) goto illegal;
        pc = p;
        NEXT();
    }

    op_jnf : {
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

    op_jf : {
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
            uint32_t name;    // static string number of the called name
            uint32_t target;  // code position of the callee
            uint32_t retPos;  // the word after the call's operands
            StoryInstance* callee;

        op_call:
            name = U16(1);
            retPos = pc + 2;
            goto call_by_name;
        op_calll:
            name = U32(1);
            retPos = pc + 3;
        call_by_name : {
            NEED(1);
            if (SE_UNLIKELY(top->tag != VARTYPE_INTEGER || top->i < 0 || top->i > DEPTH() - 1)) goto illegal;
            StoryObject* g = ctx->objects;
            uint64_t cached = ins[pc] >> 8;
            if (SE_LIKELY(cached && g && cached - 1 < g->functionCount)) {
                target = g->functions[cached - 1].position;
            } else {
                int64_t index = g ? FindGlobalIndex(ctx, NameText(ctx, name)) : -1;
                if (index < 0) {
                    task->position = pc;
                    Qel_DPrintf(0, "%s Undefined function %s called!\n", WhereAt(&whereArg, pc), NameText(ctx, name));
                    int32_t n = top->i;
                    for (int32_t k = 0; k < n; ++k) Drop(top + k);
                    top += n;
                    AssignInt(top, 0);  // over the deepest argument
                    pc = retPos;
                    NEXT();
                }
                ins[pc] = Form(ins[pc]) | (static_cast<uint64_t>(index) + 1) << 8;
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
                Qel_BannerPrintf("%s Undefined function %s called at address 0!\n", WhereAt(&whereArg, pc),
                                 NameText(ctx, name));
                int32_t n = top->i;
                for (int32_t k = 0; k < n; ++k) Drop(top + k);
                top += n;
                AssignInt(top, 0);  // over the deepest argument
                pc = retPos;
                NEXT();
            }
        enter_global:
            if (SE_UNLIKELY(target >= words || !ctx->objects)) goto illegal;
            ROOM(2);
            --top;
            Put(top, VARTYPE_ADDRESS, retPos);
            --top;
            if (self && self->classObject) {
                Put(top, VARTYPE_OBJECT, reinterpret_cast<uintptr_t>(self));
                self->refCount++;
            } else {
                Put(top, VARTYPE_OBJECT, 0);
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
        method_by_name : {
            NEED(2);
            if (SE_UNLIKELY(top[1].tag != VARTYPE_INTEGER || top[1].i < 0 || top[1].i > DEPTH() - 2)) goto illegal;
            // The target: an OBJECT value, or an id (the current object's own id first).
            callee = nullptr;
            if (top->tag == VARTYPE_OBJECT) callee = top->object;
            else if (top->tag == VARTYPE_INTEGER)
                callee = (self && top->i == self->id) ? self : SB_FindObject(ctx, top->i);
            if (SE_UNLIKELY(!callee || !callee->classObject)) {
                SV_TextOf t(top);
                Qel_BannerPrintf("%s Function %s in undefined object %s called!\n", WhereAt(&whereArg, pc),
                                 NameText(ctx, name), t.text);
                goto method_fail;
            }
            StoryObject* cls = callee->classObject;
            // The last class seen here and its function: class index + 1 in bits
            // 32..55, the function's index in its merged table in bits 8..31.
            uint64_t cached = ins[pc];
            uint64_t clsKey = static_cast<uint64_t>(cls - ctx->objects) + 1;
            if (SE_LIKELY((cached >> 32) == clsKey && ((cached >> 8) & 0xffffff) < cls->mergedCount)) {
                target = cls->merged[(cached >> 8) & 0xffffff].position;
            } else {
                uint32_t index;
                const StoryFunction* fn = FindMerged(cls, name, &index);
                if (!fn) {
                    SV_TextOf t(top);
                    Qel_BannerPrintf("%s Undefined function %s(%d).%s called!\n", WhereAt(&whereArg, pc), t.text,
                                     cls->id, NameText(ctx, name));
                    goto method_fail;
                }
                if (cls >= ctx->objects && cls < ctx->objects + ctx->objectCount && clsKey < (1u << 24) &&
                    index < (1u << 24))
                    ins[pc] = Form(ins[pc]) | clsKey << 32 | uint64_t{index} << 8;
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
                Qel_BannerPrintf("%s Undefined function %s.%s called at address 0 called!\n", WhereAt(&whereArg, pc),
                                 t.text, NameText(ctx, name));
                goto method_fail;
            }
            callee = nullptr;
            if (top->tag == VARTYPE_OBJECT) callee = top->object;
            else if (top->tag == VARTYPE_INTEGER)
                callee = (self && top->i == self->id) ? self : SB_FindObject(ctx, top->i);
            if (SE_UNLIKELY(!callee || !callee->classObject)) {
                SV_TextOf t(top);
                Qel_BannerPrintf("%s Missing function object %s.%s!\n", WhereAt(&whereArg, pc), t.text,
                                 NameText(ctx, name));
                goto method_fail;
            }
        enter_method:
            if (SE_UNLIKELY(target >= words)) goto illegal;
            ROOM(1);
            Drop(top);
            Put(top, VARTYPE_ADDRESS, retPos);
            --top;
            if (self && self->classObject) {
                Put(top, VARTYPE_OBJECT, reinterpret_cast<uintptr_t>(self));
                self->refCount++;
            } else {
                Put(top, VARTYPE_OBJECT, 0);
            }
            self = callee;
            task->object = self;
            pc = target;
            NEXT();

        method_fail : {
            // Target, count and arguments go; the deepest slot holds the result 0.
            int32_t n = top[1].i;
            for (int32_t k = 0; k <= n; ++k) Drop(top + k);
            top += n + 1;
            AssignInt(top, 0);
            pc = retPos;
            NEXT();
        }
        }

    op_ret : {
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
        Put(dst, TagWord(top), top->bits);
        caller->refCount--;  // the frame's OBJECT slot; a live object is never freed by it
        for (int32_t k = 4; k < n + 3; ++k) Drop(top + k);
        top = dst;
        self = caller;
        task->object = self;
        pc = p;
        NEXT();
    }

        // ---- engine calls ----
    op_sys : {
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

    op_sysl : {
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

    engine_call : {
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
            if (module >= SE_MODULE_RECORDS || module >= ctx->nextModule || !ctx->modules[module].callNames)
                module = 32;
        } else {
            name = NameText(ctx, callName);
            if (trace) Qel_DPrintf(kTraceMask, longCall ? "SYSTEML: %s(" : "SYSTEM: %s(", name);
            uint64_t missStamp = Form(ins[pc]) | kUnknownCallMark | uint64_t{ctx->registryGeneration} << 8;
            if (ins[pc] != missStamp) {
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
                    ins[pc] = missStamp;
                }
            }
        }
        if (trace) Qel_DPrintf(kTraceMask, ")\n");

        task->answered = 0;
        task->pendingArgc = static_cast<uint16_t>(argc);
        task->pendingArgs = top + 1;
        uint32_t next = pc + (longCall ? 3 : 2);
        // A handler's 0: the task stops for this turn, the pass ends.
        bool stop = false;
        if (module == 32) {
            SE_TaskReturnIntEx(task, ctx, 0);
            Qel_BannerPrintf("%s Unknown System Call: %s\n", WhereAt(&whereArg, pc), name);
        } else if (!ctx->modules[module].handler) {
            SE_TaskReturnIntEx(task, ctx, 0);
            if (callWord) {
                const char* const* names = ctx->modules[module].callNames;
                for (int32_t j = 0; names[j]; ++j)
                    if (j == call) name = names[j];
            }
            Qel_BannerPrintf("%s Illegal System Call not known by engine: %s\n", WhereAt(&whereArg, pc), name);
        } else {
            // Saved so that the position plus 2 is the next instruction (a handler
            // that calls a function inside this task moves it).
            pc = next - 2;
            SAVE();
            int32_t r = ctx->modules[module].handler(ctx->ownModule, task, call, argc, top + 1);
            stop = r == 0;
            if (task->removed) return stop ? 0 : 1;
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
            if (SE_UNLIKELY(stop)) {
                // It goes on after the call at its next run.
                SAVE();
                return 0;
            }
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
        return stop ? 0 : 1;
    }

    op_new : {
        NEED(1);
        int32_t id = top->tag == VARTYPE_INTEGER ? top->i : 0;
        StoryInstance* cls = id > 0 ? SB_FindObject(ctx, id) : nullptr;
        if (!cls) {
            Qel_BannerPrintf("%s new operator: Invalid class ID %d\n", WhereAt(&whereArg, pc), id);
            AssignInt(top, 0);
        } else {
            StoryInstance* inst = NewInstance(ctx, static_cast<StoryObject*>(cls));
            AssignInt(top, inst ? inst->id : 0);
        }
        pc += 1;
        NEXT();
    }

    op_delete : {
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
        Qel_BannerPrintf("%s SUPER instruction now illegal!\n", WhereAt(&whereArg, pc));
        --top;
        SetInt(top, 0);
        pc += 1;
        NEXT();

        // ---- operators: integer fast paths, the value operators otherwise ----
#define BINARY(label, fast, floatFast, slow)                                   \
    label : {                                                                  \
        NEED(2);                                                               \
        ScriptValue* a = top + 1;                                              \
        ScriptValue* b = top;                                                  \
        uint8_t ta = a->tag, tb = b->tag;                                      \
        if (SE_LIKELY(ta == VARTYPE_INTEGER && tb == VARTYPE_INTEGER)) {       \
            int32_t x = a->i, y = b->i;                                        \
            (void)x;                                                           \
            (void)y;                                                           \
            fast;                                                              \
        } else if (IsNumberTag(ta) && IsNumberTag(tb)) {                       \
            double x = ta == VARTYPE_FLOAT ? a->f : static_cast<double>(a->i); \
            double y = tb == VARTYPE_FLOAT ? b->f : static_cast<double>(b->i); \
            (void)x;                                                           \
            (void)y;                                                           \
            floatFast;                                                         \
        } else {                                                               \
            task->position = pc;                                               \
            slow(a, b);                                                        \
            Drop(b);                                                           \
        }                                                                      \
        ++top;                                                                 \
        pc += 1;                                                               \
        NEXT();                                                                \
    }
#define SLOW(op)             \
    {                        \
        task->position = pc; \
        op(a, b);            \
    }

        BINARY(op_add, SetInt(a, WRAP(U(x) + U(y))), SetFloat(a, x + y), SV_OpAdd)
        BINARY(op_sub, SetInt(a, WRAP(U(x) - U(y))), SetFloat(a, x - y), SV_OpSub)
        BINARY(op_mul, SetInt(a, WRAP(U(x) * U(y))), SetFloat(a, x * y), SV_OpMul)
        BINARY(op_div, if (y == 0 || y == -1) SLOW(SV_OpDiv) else SetInt(a, x / y),
               if (y == 0.0) SLOW(SV_OpDiv) else SetFloat(a, x / y), SV_OpDiv)
        BINARY(op_mod, if (y == 0 || y == -1) SLOW(SV_OpMod) else SetInt(a, x % y), SLOW(SV_OpMod), SV_OpMod)
        BINARY(op_or, SetInt(a, x | y), SLOW(SV_OpOr), SV_OpOr)
        BINARY(op_and, SetInt(a, x & y), SLOW(SV_OpAnd), SV_OpAnd)
        BINARY(op_eor, SetInt(a, x ^ y), SLOW(SV_OpEor), SV_OpEor)
        BINARY(op_lsh, SetInt(a, WRAP(U(x) << (U(y) & 31))), SLOW(SV_OpLsh), SV_OpLsh)
        BINARY(op_rsh, SetInt(a, x >> (U(y) & 31)), SLOW(SV_OpRsh), SV_OpRsh)
        BINARY(op_lt, SetInt(a, x < y), SetInt(a, x < y), SV_OpLt)
        BINARY(op_gt, SetInt(a, x > y), SetInt(a, x > y), SV_OpGt)
        BINARY(op_le, SetInt(a, x <= y), SetInt(a, x <= y), SV_OpLe)
        BINARY(op_ge, SetInt(a, x >= y), SetInt(a, x >= y), SV_OpGe)
        BINARY(op_ne, SetInt(a, x != y), SetInt(a, x != y), SV_OpNe)
        BINARY(op_eq, SetInt(a, x == y), SetInt(a, x == y), SV_OpEq)

    op_lor : {
        NEED(2);
        int r = IsTrueValue(top + 1) || IsTrueValue(top);
        Drop(top);
        ++top;
        AssignInt(top, r);
        pc += 1;
        NEXT();
    }

    op_land : {
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

    op_launch : {
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
        int32_t copied = a + 2 + n;  // slots from the top down to the deepest argument
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
        if (SE_UNLIKELY(ctx->runDepth >= SE_MAX_NESTED_RUNS)) {
            // Runs nest on the native stack: this deep, the new task waits at
            // the tail of the ready list for the scheduler.
            Qel_BannerPrintf("%s Launch: %d runs nested, task %u runs from the scheduler\n", WhereAt(&whereArg, pc - 1),
                             ctx->runDepth, child->id);
            NEXT();
        }
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

    op_room : {
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
        Put(top, VARTYPE_STRING, U32(1));
        pc += 3;
        NEXT();

    op_pushfloat : {
        ROOM(1);
        uint64_t bits = (static_cast<uint64_t>(code[pc + 1]) << 48) | (static_cast<uint64_t>(code[pc + 2]) << 32) |
                        (static_cast<uint64_t>(code[pc + 3]) << 16) | code[pc + 4];
        --top;
        Put(top, VARTYPE_FLOAT, bits);
        pc += 5;
        NEXT();
    }

    op_pushfloat0:
        ROOM(1);
        --top;
        Put(top, VARTYPE_FLOAT, 0);
        pc += 1;
        NEXT();

    op_jtab : {
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

    op_case : {
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

    // ---- fused forms ----
#include "script/interpreter_fused.inc"

    op_illegal:
    illegal:
        SAVE();
        goto illegal_saved;

    overflow:
        // The growth logged why (or the step budget of a sanitizer build is
        // spent); the task cannot go on without writing past its stack.
        SAVE();
        SE_RemoveTask(ctx, task);
        return 1;
    }

    // An illegal word, or no code to run at the saved position: the task's
    // saved state is what the message shows.
illegal_saved : {
    char text[64];
    SE_GetTaskDebugAddress(text, task, ctx);
    Qel_BannerPrintf("%s *** ILLEGAL ***\n", text);
    SE_RemoveTask(ctx, task);
    return 1;
}
}

#undef S16
#undef U16
#undef U32
#undef DEPTH
#undef NEED
#undef ROOM
#undef SAVE
#undef RELOAD
#undef NEXT
#undef BINARY
#undef SLOW
#undef WRAP
#undef U
#undef SE_ARITH_OPS
#undef SE_CMP_OPS
#undef SE_BIN_OPS
#undef SE_FLOAT_OPS
#undef SE_STEP_SPENT
#undef SE_REGVAR
#undef SE_DISPATCH_ATTR
#undef SE_INLINE
#undef SE_UNLIKELY
#undef SE_LIKELY
