#include "script/expr.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "base/log.h"
#include "script/arrays.h"
#include "script/context.h"
#include "script/lookup.h"
#include "script/operators.h"
#include "script/tasks.h"

// --- expression evaluator ---

namespace {

// One (type, operand) pair on the evaluation stack.
struct Operand {
    int32_t type;
    ScriptValue value;
};

// The operand stack of one evaluation. Each evaluation has its own, so a
// story function started for a text addition may evaluate expressions too.
struct OperandStack {
    Operand slots[SE_EXPR_MAX_OPERANDS] = {};
    int32_t count = 0;
    ~OperandStack() {
        for (int32_t i = 0; i < count; ++i) SV_Release(&slots[i].value);
    }
    void Pop() { SV_Release(&slots[--count].value); }
};

}  // namespace

static void SetResult(Operand& o, int32_t type, int32_t n) {
    o.type = type;
    SV_AssignInt(&o.value, n);
}
static void SetBool(Operand& o, bool b) {
    if (b) SetResult(o, SE_EXPR_INT, 1);
    else SetResult(o, SE_EXPR_NONE, 0);
}

static bool IsTrue(const Operand& o) {
    if (o.type == SE_EXPR_NONE) return false;
    if (o.type == SE_EXPR_INT) return !SV_IsFalse(&o.value);
    if (o.type & SE_EXPR_OBJECT_BIT) return SB_IsLiveObject(&o.value) != 0;
    return true;
}

static bool IsZero(const ScriptValue* v) {
    return (v->tag == VARTYPE_INTEGER && v->i == 0) || (v->tag == VARTYPE_FLOAT && v->f == 0.0);
}

static void Compare(Operand& left, const Operand& right, int32_t op) {
    int cmp;  // sign of left - right
    if (left.type != right.type) {
        SetBool(left, op == SE_EXPR_NE);
        return;
    }
    if (left.type == SE_EXPR_INT) {
        int64_t d = static_cast<int64_t>(left.value.i) - right.value.i;
        cmp = d < 0 ? -1 : d > 0;
    } else if (left.type == SE_EXPR_TEXT) {
        const char* a = SV_GetString(&left.value);
        const char* b = SV_GetString(&right.value);
        if (!a || !b) cmp = 1;
        else cmp = std::strcmp(a, b);  // unsigned bytes
    } else {
        bool equal =
            left.value.tag == VARTYPE_INTEGER && right.value.tag == VARTYPE_INTEGER && left.value.i == right.value.i;
        SetBool(left, op == SE_EXPR_EQ ? equal : op == SE_EXPR_NE ? !equal : false);
        return;
    }
    bool r = false;
    switch (op) {
        case SE_EXPR_EQ: r = cmp == 0; break;
        case SE_EXPR_NE: r = cmp != 0; break;
        case SE_EXPR_GT: r = cmp > 0; break;
        case SE_EXPR_LT: r = cmp < 0; break;
        case SE_EXPR_GE: r = cmp >= 0; break;
        case SE_EXPR_LE: r = cmp <= 0; break;
    }
    SetBool(left, r);
}

// Texts and other non-integer sums go to the story's own addition function,
// which answers through the caller module's value callback into the calling
// task's call result.
static int32_t s_addNesting = 0;  // text additions running their story function now

static void AddByStory(int32_t callerModule, SE_Task* task, Operand& left, const Operand& right) {
    SE_Context* ctx = g_SEContext;
    if (s_addNesting >= SE_EXPR_ADD_NESTING) {
        Qel_BannerPrintf("%s SE_ComputeExpression: text additions nested deeper than %d\n", SE_PositionText(),
                         SE_EXPR_ADD_NESTING);
        SetResult(left, SE_EXPR_NONE, 0);
        return;
    }
    ScriptValue lt{}, rt{};
    SV_AssignInt(&lt, left.type);
    SV_AssignInt(&rt, right.type);
    const ScriptValue* argv[4] = {&lt, &left.value, &rt, &right.value};
    ScriptValue result{};
    if (task) {
        SV_Release(&task->callResult);
        s_addNesting++;
        SE_RunValueArgs(ctx, callerModule, task->id, SE_EXPR_ADD_OBJECT, SE_EXPR_ADD_FUNCTION, SE_RETURN_VALUE, 4,
                        argv);
        s_addNesting--;
        SV_Move(&task->callResult, &result);
    }
    SV_Release(&lt);
    SV_Release(&rt);
    if (result.tag == VARTYPE_STRING || result.tag == VARTYPE_DSTRING) {
        left.type = SE_EXPR_TEXT;
        SV_Move(&result, &left.value);
    } else {
        SV_Release(&result);
        SetResult(left, SE_EXPR_NONE, 0);
    }
}

static void Binary(int32_t callerModule, SE_Task* task, Operand& left, const Operand& right, int32_t op) {
    bool ints = left.type == SE_EXPR_INT && right.type == SE_EXPR_INT;
    switch (op) {
        case SE_EXPR_EQ:
        case SE_EXPR_NE:
        case SE_EXPR_GT:
        case SE_EXPR_LT:
        case SE_EXPR_GE:
        case SE_EXPR_LE: Compare(left, right, op); return;
        case SE_EXPR_AND:
        case SE_EXPR_OR:
        case SE_EXPR_EOR:
        case SE_EXPR_SUB:
        case SE_EXPR_MUL:
        case SE_EXPR_DIV:
        case SE_EXPR_MOD: {
            if (!ints || ((op == SE_EXPR_DIV || op == SE_EXPR_MOD) && IsZero(&right.value))) {
                SetResult(left, SE_EXPR_NONE, 0);
                return;
            }
            static void (*const ops[])(ScriptValue*, const ScriptValue*) = {SV_OpAnd, SV_OpOr, SV_OpEor};
            if (op <= SE_EXPR_EOR) ops[op - SE_EXPR_AND](&left.value, &right.value);
            else if (op == SE_EXPR_SUB) SV_OpSub(&left.value, &right.value);
            else if (op == SE_EXPR_MUL) SV_OpMul(&left.value, &right.value);
            else if (op == SE_EXPR_DIV) SV_OpDiv(&left.value, &right.value);
            else SV_OpMod(&left.value, &right.value);
            return;
        }
        case SE_EXPR_LAND: SetBool(left, IsTrue(left) && IsTrue(right)); return;
        case SE_EXPR_LOR: SetBool(left, IsTrue(left) || IsTrue(right)); return;
        case SE_EXPR_ADD:
            if (ints) SV_OpAdd(&left.value, &right.value);
            else AddByStory(callerModule, task, left, right);
            return;
        default: SetResult(left, SE_EXPR_NONE, 0); return;
    }
}

static void Unary(Operand& top, int32_t op) {
    switch (op) {
        case SE_EXPR_INV:
        case SE_EXPR_MINUS:
            if (top.type != SE_EXPR_INT) SetResult(top, SE_EXPR_NONE, 0);
            else if (op == SE_EXPR_INV) SV_OpInv(&top.value);
            else SV_OpMinus(&top.value);
            return;
        case SE_EXPR_NOT: SetBool(top, !IsTrue(top)); return;
        default: SetResult(top, SE_EXPR_NONE, 0); return;
    }
}

void SE_ComputeExpression(int32_t callerModule, SE_Task* task, ScriptValue* program, int32_t pairCount) {
    if (!program) return;
    OperandStack stack;
    bool overflow = false;
    for (int32_t k = 0; k < pairCount && !overflow; ++k) {
        const ScriptValue* typeCell = SV_ArrayRead(program, 2 * k);
        const ScriptValue* operandCell = typeCell ? SV_ArrayRead(program, 2 * k + 1) : nullptr;
        if (!typeCell || !operandCell) break;
        int32_t type = typeCell->i;
        if (type != SE_EXPR_OPERATOR) {
            if (stack.count >= SE_EXPR_MAX_OPERANDS) {
                Qel_BannerPrintf("%s SE_ComputeExpression: more than %d operands\n", SE_PositionText(),
                                 SE_EXPR_MAX_OPERANDS);
                overflow = true;
                break;
            }
            Operand& o = stack.slots[stack.count++];
            o.type = type;
            SV_Copy(operandCell, &o.value);
            continue;
        }
        int32_t op = operandCell->i;
        if (op & 0x10000) {
            if (stack.count >= 1) Unary(stack.slots[stack.count - 1], op);
        } else if (stack.count >= 2) {
            // The story function of a text addition may change the program,
            // so nothing read from it is held across the operation.
            Binary(callerModule, task, stack.slots[stack.count - 2], stack.slots[stack.count - 1], op);
            stack.Pop();
        }
    }
    ScriptValue type{}, operand{};
    if (!overflow && stack.count == 1) {
        SV_AssignInt(&type, stack.slots[0].type);
        SV_Move(&stack.slots[0].value, &operand);
        stack.count = 0;
    } else {
        SV_AssignInt(&type, 0);
        SV_AssignInt(&operand, 0);
    }
    SV_ArrayWrite(program, 0, &type);
    SV_ArrayWrite(program, 1, &operand);
    SV_Release(&type);
    SV_Release(&operand);
}

// --- distances and ranges ---

int32_t SE_VectorLength(int64_t dx, int64_t dy, int64_t dz) {
    float x = static_cast<float>(dx), y = static_cast<float>(dy), z = static_cast<float>(dz);
    float sum = x * x + y * y + z * z;
    float d = std::sqrt(sum);
    return d >= 2147483647.0f ? INT32_MAX : static_cast<int32_t>(d);
}

// x, y, z of a position ARRAY; false when it is no ARRAY of three elements.
static bool ReadPosition(ScriptValue* pos, int64_t out[3]) {
    if (!pos || pos->tag != VARTYPE_ARRAY || SV_ArraySize(pos) < 3) return false;
    for (int k = 0; k < 3; ++k) {
        const ScriptValue* e = SV_ArrayRead(pos, k);
        if (!e) return false;
        out[k] = e->i;
    }
    return true;
}

int32_t SE_IsPosInRange(int32_t r, int32_t x, int32_t y, int32_t z, ScriptValue* ranges) {
    if (!ranges || ranges->tag != VARTYPE_ARRAY) return 0;
    int32_t n = SV_ArraySize(ranges);
    int32_t count = n / 2;
    if (r >= 0 && r < 0x40000000 && 2 * r < n) count = r;
    for (int32_t k = 0; k < count; ++k) {
        int64_t p[3];
        if (!ReadPosition(SV_ArrayRead(ranges, 2 * k), p)) continue;
        const ScriptValue* radius = SV_ArrayRead(ranges, 2 * k + 1);
        if (!radius) continue;
        if (SE_VectorLength(x - p[0], y - p[1], z - p[2]) <= radius->i) return 1;
    }
    return 0;
}

int32_t SE_CompressRanges(ScriptValue* ranges, int32_t n) {
    if (!ranges || ranges->tag != VARTYPE_ARRAY) return 0;
    int32_t half = SV_ArraySize(ranges) / 2;
    int32_t m = (n >= 0 && n <= half) ? n : half;
    if (m < 2) return m;
    struct Sphere {
        int64_t radius, pos[3];
    };
    auto* s = static_cast<Sphere*>(std::calloc(static_cast<size_t>(m), sizeof(Sphere)));
    if (!s) return 0;
    for (int32_t k = 0; k < m; ++k) {
        const ScriptValue* radius = SV_ArrayRead(ranges, 2 * k + 1);
        if (!ReadPosition(SV_ArrayRead(ranges, 2 * k), s[k].pos) || !radius) {
            std::free(s);
            return 0;
        }
        s[k].radius = radius->i;
    }
    for (int32_t i = 0; i < m; ++i) {
        for (int32_t j = i + 1; j < m && s[i].radius > 0; ++j) {
            if (s[j].radius <= 0) continue;
            int64_t d =
                SE_VectorLength(s[i].pos[0] - s[j].pos[0], s[i].pos[1] - s[j].pos[1], s[i].pos[2] - s[j].pos[2]);
            if (s[i].radius + d <= s[j].radius) s[i].radius = 0;
            else if (s[j].radius + d <= s[i].radius) s[j].radius = 0;
        }
    }
    int32_t kept = 0;
    for (int32_t k = 0; k < m; ++k) {
        if (s[k].radius <= 0) continue;
        if (kept != k) {
            for (int e = 0; e < 2; ++e) {
                ScriptValue cell{};
                if (const ScriptValue* src = SV_ArrayRead(ranges, 2 * k + e)) SV_Copy(src, &cell);
                SV_ArrayWrite(ranges, 2 * kept + e, &cell);
                SV_Release(&cell);
            }
        }
        ++kept;
    }
    std::free(s);
    return kept;
}

// --- escort offset ---

static int32_t FixMul(int32_t a, int32_t b) {
    return static_cast<int32_t>((static_cast<int64_t>(a) * b + 0x8000) >> 16);
}

int32_t SE_DotFix(const int32_t a[3], const int32_t b[3]) {
    int64_t sum = 0;
    for (int k = 0; k < 3; ++k) sum += FixMul(a[k], b[k]);
    return static_cast<int32_t>(sum);
}

void SE_NormalizeFix(int32_t v[3]) {
    double x = v[0], y = v[1], z = v[2];
    double length = std::sqrt(x * x + y * y + z * z);
    if (length == 0.0) {
        Qel_ErrPrintf("Qel_NormVectorToOne: Nullvektor!\n");
        return;
    }
    double scale = length / 65536.0;
    for (int k = 0; k < 3; ++k) {
        double c = std::trunc(v[k] / scale);
        v[k] = c >= 2147483647.0 ? INT32_MAX : c <= -2147483648.0 ? INT32_MIN : static_cast<int32_t>(c);
    }
}

static void Cross(const int32_t a[3], const int32_t b[3], int32_t out[3]) {
    int32_t r[3] = {
        static_cast<int32_t>(static_cast<uint32_t>(FixMul(a[1], b[2])) - static_cast<uint32_t>(FixMul(a[2], b[1]))),
        static_cast<int32_t>(static_cast<uint32_t>(FixMul(a[2], b[0])) - static_cast<uint32_t>(FixMul(a[0], b[2]))),
        static_cast<int32_t>(static_cast<uint32_t>(FixMul(a[0], b[1])) - static_cast<uint32_t>(FixMul(a[1], b[0]))),
    };
    std::memcpy(out, r, sizeof r);
}

int SE_CalcGalaxyEscortOffset(const int32_t dir[3], const int32_t offset[3], int32_t out[3]) {
    if (dir[0] == 0 && dir[1] == 0 && dir[2] == 0) return 0;
    int32_t d[3] = {dir[0], dir[1], dir[2]};
    SE_NormalizeFix(d);
    int32_t u[3] = {0, 0x10000, 0};
    if (std::abs(static_cast<int64_t>(SE_DotFix(d, u))) > 0xF333) {
        u[1] = 0;
        u[2] = -0x10000;
    }
    int32_t r[3], v[3];
    Cross(u, d, r);
    Cross(d, r, v);
    SE_NormalizeFix(r);
    SE_NormalizeFix(v);
    for (int k = 0; k < 3; ++k) {
        int64_t sum = static_cast<int64_t>(FixMul(r[k], offset[0])) + FixMul(v[k], offset[1]) + FixMul(d[k], offset[2]);
        out[k] = static_cast<int32_t>(sum);
    }
    return 1;
}
