// How a built-in call reads its arguments: argument i is args[i] while i is
// below the count; a missing argument reads as INTEGER 0, so no call ever
// reaches past its call frame.
#pragma once

#include <cstdint>

#include "script/tasks.h"
#include "script/values.h"

// The argument value, or an INTEGER 0 that nobody may change.
inline const ScriptValue* SE_ArgValue(const ScriptValue* args, int32_t argc, int32_t i) {
    static const ScriptValue zero = [] {
        ScriptValue v{};
        v.tag = VARTYPE_INTEGER;
        return v;
    }();
    return i >= 0 && i < argc && args ? &args[i] : &zero;
}
// The 32-bit payload of an argument, whatever its tag.
inline int32_t SE_ArgInt(const ScriptValue* args, int32_t argc, int32_t i) { return SE_ArgValue(args, argc, i)->i; }
// The text of a STRING or DSTRING argument, null otherwise.
inline const char* SE_ArgText(const ScriptValue* args, int32_t argc, int32_t i) {
    return SV_GetString(SE_ArgValue(args, argc, i));
}

// How a built-in call answers at once; each returns 1, the call's result.
inline int32_t SE_AnswerInt(SE_Context* ctx, SE_Task* task, int32_t n) {
    SE_TaskReturnIntEx(task, ctx, n);
    return 1;
}
inline int32_t SE_AnswerText(SE_Context* ctx, SE_Task* task, const char* text) {
    SE_TaskReturnString(task, text, ctx);
    return 1;
}
// Moves a built value into the answer (the value is left undefined).
inline int32_t SE_AnswerValue(SE_Context* ctx, SE_Task* task, ScriptValue* v) {
    SE_TaskReturnValue(task, v, ctx);
    return 1;
}
// As SE_AnswerValue, but an undefined value (a failed allocation) answers INTEGER 0.
inline int32_t SE_AnswerMove(SE_Context* ctx, SE_Task* task, ScriptValue* v) {
    if (v->tag == VARTYPE_UNDEFINED) return SE_AnswerInt(ctx, task, 0);
    return SE_AnswerValue(ctx, task, v);
}
