#include "script/operators.h"

#include <cmath>
#include <cstring>

#include "base/log.h"
#include "script/context.h"
#include "script/format.h"
#include "script/lookup.h"
#include "script/memory.h"

// 32-bit integer arithmetic wraps: it is done on unsigned words.
static int32_t Wrap(uint32_t v) { return static_cast<int32_t>(v); }
static uint32_t U(int32_t v) { return static_cast<uint32_t>(v); }

int32_t SV_DoubleToInt(double d) {
    if (std::isnan(d)) return 0;
    if (d >= 2147483647.0) return INT32_MAX;
    if (d <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(d);
}

static bool IsString(const ScriptValue* v) { return v->tag == VARTYPE_STRING || v->tag == VARTYPE_DSTRING; }
static bool IsNumber(const ScriptValue* v) { return v->tag == VARTYPE_INTEGER || v->tag == VARTYPE_FLOAT; }
static double AsDouble(const ScriptValue* v) { return v->tag == VARTYPE_FLOAT ? v->f : static_cast<double>(v->i); }
// A DSTRING cell without record reads as the empty text.
static const char* Text(const ScriptValue* v) {
    const char* t = SV_GetString(v);
    return t ? t : "";
}

static void Illegal2(const char* op, const ScriptValue* a, const ScriptValue* b) {
    SV_TextOf ta(a), tb(b);
    Qel_BannerPrintf("%s illegal operands to %s: %s, %s\n", SE_PositionText(), op, ta.text, tb.text);
}

static void Illegal1(const char* op, const ScriptValue* a) {
    SV_TextOf ta(a);
    Qel_BannerPrintf("%s illegal operand to %s: %s\n", SE_PositionText(), op, ta.text);
}

// The text of a number as it is joined to a string, by the value formatter.
static void NumberText(const ScriptValue* v, char* buf, size_t size) {
    const char* fmt = v->tag == VARTYPE_INTEGER ? "%d" : "%g";
    if (SV_FormatValue(nullptr, fmt, v, 1) < size) SV_FormatValue(buf, fmt, v, 1);
    else buf[0] = '\0';
}

// A gets a new DSTRING of left then right; A stays as it is without memory.
static void Concat(ScriptValue* a, const char* left, const char* right) {
    size_t ll = std::strlen(left), lr = std::strlen(right);
    SE_Context* ctx = g_SEContext;
    size_t size = ll + lr + 1;
    char* buf = static_cast<char*>(SB_Alloc(ctx, SE_MEMCAT_TEXT, 0, size));
    if (!buf) return;
    std::memcpy(buf, left, ll);
    std::memcpy(buf + ll, right, lr);
    buf[ll + lr] = '\0';
    SV_AssignString(a, buf);
    SB_Free(ctx, SE_MEMCAT_TEXT, buf, size);
}

void SV_OpAdd(ScriptValue* a, const ScriptValue* b) {
    char num[64];
    if (a->tag == VARTYPE_INTEGER && b->tag == VARTYPE_INTEGER) {
        SV_AssignInt(a, Wrap(U(a->i) + U(b->i)));
    } else if (IsNumber(a) && IsNumber(b)) {
        SV_AssignFloat(a, AsDouble(a) + AsDouble(b));
    } else if (IsNumber(a) && IsString(b)) {
        NumberText(a, num, sizeof num);
        Concat(a, num, Text(b));
    } else if (IsString(a) && IsNumber(b)) {
        NumberText(b, num, sizeof num);
        Concat(a, Text(a), num);
    } else if (IsString(a) && IsString(b)) {
        Concat(a, Text(a), Text(b));
    } else {
        Illegal2("ADD", a, b);
    }
}

static int32_t ObjectId(const ScriptValue* v) { return v->object ? v->object->id : -1; }

void SV_OpSub(ScriptValue* a, const ScriptValue* b) {
    if (a->tag == VARTYPE_INTEGER && b->tag == VARTYPE_INTEGER) {
        SV_AssignInt(a, Wrap(U(a->i) - U(b->i)));
    } else if (IsNumber(a) && IsNumber(b)) {
        SV_AssignFloat(a, AsDouble(a) - AsDouble(b));
    } else if (a->tag == VARTYPE_OBJECT && b->tag == VARTYPE_INTEGER) {
        SV_AssignInt(a, Wrap(U(ObjectId(a)) - U(b->i)));
    } else if (a->tag == VARTYPE_OBJECT && b->tag == VARTYPE_FLOAT) {
        SV_AssignInt(a, Wrap(U(ObjectId(a)) - U(SV_DoubleToInt(b->f))));
    } else {
        Illegal2("SUB", a, b);
    }
}

void SV_OpMul(ScriptValue* a, const ScriptValue* b) {
    if (a->tag == VARTYPE_INTEGER && b->tag == VARTYPE_INTEGER) SV_AssignInt(a, Wrap(U(a->i) * U(b->i)));
    else if (IsNumber(a) && IsNumber(b)) SV_AssignFloat(a, AsDouble(a) * AsDouble(b));
    else Illegal2("MUL", a, b);
}

static void DivisionByZero(const char* op) {
    Qel_BannerPrintf("%s *** %s: DIVISION BY ZERO ***\n", SE_PositionText(), op);
}

void SV_OpDiv(ScriptValue* a, const ScriptValue* b) {
    if (a->tag == VARTYPE_INTEGER && b->tag == VARTYPE_INTEGER) {
        if (b->i == 0) {
            DivisionByZero("DIV");
            SV_AssignInt(a, 0);
        } else if (b->i == -1) {
            SV_AssignInt(a, Wrap(0u - U(a->i)));  // INT_MIN / -1 wraps to INT_MIN
        } else {
            SV_AssignInt(a, a->i / b->i);
        }
    } else if (IsNumber(a) && IsNumber(b)) {
        double d = AsDouble(b);
        if (d == 0.0) {
            DivisionByZero("DIV");
            SV_AssignFloat(a, 0.0);
        } else {
            SV_AssignFloat(a, AsDouble(a) / d);
        }
    } else {
        Illegal2("DIV", a, b);
    }
}

void SV_OpMod(ScriptValue* a, const ScriptValue* b) {
    if (a->tag != VARTYPE_INTEGER || b->tag != VARTYPE_INTEGER) {
        Illegal2("MOD", a, b);
    } else if (b->i == 0) {
        DivisionByZero("MOD");
        SV_AssignInt(a, 0);
    } else if (b->i == -1) {
        SV_AssignInt(a, 0);
    } else {
        SV_AssignInt(a, a->i % b->i);
    }
}

static bool BothInt(const ScriptValue* a, const ScriptValue* b) {
    return a->tag == VARTYPE_INTEGER && b->tag == VARTYPE_INTEGER;
}

void SV_OpAnd(ScriptValue* a, const ScriptValue* b) {
    if (BothInt(a, b)) SV_AssignInt(a, a->i & b->i);
    else Illegal2("AND", a, b);
}

void SV_OpOr(ScriptValue* a, const ScriptValue* b) {
    if (BothInt(a, b)) SV_AssignInt(a, a->i | b->i);
    else Illegal2("OR", a, b);
}

void SV_OpEor(ScriptValue* a, const ScriptValue* b) {
    if (BothInt(a, b)) SV_AssignInt(a, a->i ^ b->i);
    else Illegal2("EOR", a, b);
}

void SV_OpLsh(ScriptValue* a, const ScriptValue* b) {
    if (BothInt(a, b)) SV_AssignInt(a, Wrap(U(a->i) << (b->u & 31)));
    else Illegal2("LSH", a, b);
}

void SV_OpRsh(ScriptValue* a, const ScriptValue* b) {
    if (BothInt(a, b)) SV_AssignInt(a, a->i >> (b->u & 31));
    else Illegal2("RSH", a, b);
}

enum class Order { LT, GT, LE, GE };

static void Compare(ScriptValue* a, const ScriptValue* b, Order o, const char* name) {
    if (!IsNumber(a) || !IsNumber(b)) {
        Illegal2(name, a, b);
        return;
    }
    bool r;
    if (BothInt(a, b)) {
        int32_t x = a->i, y = b->i;
        r = o == Order::LT ? x < y : o == Order::GT ? x > y : o == Order::LE ? x <= y : x >= y;
    } else {
        double x = AsDouble(a), y = AsDouble(b);  // a NaN makes all four false
        r = o == Order::LT ? x < y : o == Order::GT ? x > y : o == Order::LE ? x <= y : x >= y;
    }
    SV_AssignInt(a, r ? 1 : 0);
}

void SV_OpLt(ScriptValue* a, const ScriptValue* b) { Compare(a, b, Order::LT, "LT"); }
void SV_OpGt(ScriptValue* a, const ScriptValue* b) { Compare(a, b, Order::GT, "GT"); }
void SV_OpLe(ScriptValue* a, const ScriptValue* b) { Compare(a, b, Order::LE, "LE"); }
void SV_OpGe(ScriptValue* a, const ScriptValue* b) { Compare(a, b, Order::GE, "GE"); }

// Equality as EQ and NE share it; `ne` negates the comparisons.
static void Equality(ScriptValue* a, const ScriptValue* b, bool ne) {
    const char* name = ne ? "NE" : "EQ";
    bool eq;
    if (a->tag == VARTYPE_INTEGER || a->tag == VARTYPE_FLOAT) {
        if (!IsNumber(b)) return;  // a non-number right operand leaves A as it is
        if (BothInt(a, b)) eq = a->i == b->i;
        else eq = AsDouble(a) == AsDouble(b);
    } else if (IsString(a) && IsString(b)) {
        eq = std::strcmp(Text(a), Text(b)) == 0;
    } else if (a->tag != b->tag) {
        int r = ne ? (SV_IsTrue(a) || SV_IsTrue(b)) : (SV_IsFalse(a) && SV_IsFalse(b));
        SV_AssignInt(a, r);
        return;
    } else if (a->tag == VARTYPE_OBJECT) {
        eq = a->object == b->object;
    } else {
        Illegal2(name, a, b);
        SV_AssignInt(a, 0);
        return;
    }
    SV_AssignInt(a, (ne ? !eq : eq) ? 1 : 0);
}

void SV_OpEq(ScriptValue* a, const ScriptValue* b) { Equality(a, b, false); }
void SV_OpNe(ScriptValue* a, const ScriptValue* b) { Equality(a, b, true); }

void SV_OpMinus(ScriptValue* a) {
    if (a->tag == VARTYPE_INTEGER) SV_AssignInt(a, Wrap(0u - U(a->i)));
    else if (a->tag == VARTYPE_FLOAT) a->f = -a->f;
    else if (a->tag == VARTYPE_OBJECT) SV_AssignInt(a, a->object ? a->object->id : 1);
    else Illegal1("MINUS", a);
}

void SV_OpNot(ScriptValue* a) { SV_AssignInt(a, SV_IsFalse(a) ? 1 : 0); }

void SV_OpInv(ScriptValue* a) {
    if (a->tag == VARTYPE_INTEGER) SV_AssignInt(a, ~a->i);
    else Illegal1("INV", a);
}
