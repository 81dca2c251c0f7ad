#include "builtin_call.h"

#include <gtest/gtest.h>

#include "script/arrays.h"
#include "script/tasks.h"

BuiltinCaller::BuiltinCaller(SE_Context* c) : ctx(c), task(SE_AllocTask(c, 32)) { EXPECT_NE(task, nullptr); }

BuiltinCaller::~BuiltinCaller() {
    if (task) SE_RemoveTask(ctx, task);
}

ScriptValue BuiltinCaller::Call(SE_BuiltinFn fn, std::vector<ScriptValue> args) {
    std::vector<ScriptValue> frame(args.size() + 1);
    SV_AssignInt(&frame[0], static_cast<int32_t>(args.size()));
    for (size_t i = 0; i < args.size(); ++i) frame[i + 1] = args[i];
    SV_Release(&task->callResult);
    task->answered = 0;
    int32_t r = fn(ctx, 1, task, static_cast<int32_t>(args.size()), frame.data() + 1);
    EXPECT_EQ(r, 1);
    EXPECT_EQ(task->answered, 1) << "the call did not answer";
    for (ScriptValue& v : frame) SV_Release(&v);
    ScriptValue out{};
    SV_Move(&task->callResult, &out);
    return out;
}

int32_t BuiltinCaller::Int(SE_BuiltinFn fn, std::vector<ScriptValue> args) {
    ScriptValue v = Call(fn, std::move(args));
    EXPECT_EQ(v.tag, VARTYPE_INTEGER) << DisplayOf(&v);
    int32_t n = v.tag == VARTYPE_INTEGER ? v.i : 0;
    SV_Release(&v);
    return n;
}

std::string BuiltinCaller::Text(SE_BuiltinFn fn, std::vector<ScriptValue> args) {
    ScriptValue v = Call(fn, std::move(args));
    const char* t = SV_GetString(&v);
    EXPECT_NE(t, nullptr) << DisplayOf(&v);
    std::string s = t ? t : "";
    SV_Release(&v);
    return s;
}

std::string BuiltinCaller::Display(SE_BuiltinFn fn, std::vector<ScriptValue> args) {
    ScriptValue v = Call(fn, std::move(args));
    std::string s = DisplayOf(&v);
    SV_Release(&v);
    return s;
}

ScriptValue VInt(int32_t n) {
    ScriptValue v{};
    SV_AssignInt(&v, n);
    return v;
}

ScriptValue VFloat(double d) {
    ScriptValue v{};
    SV_AssignFloat(&v, d);
    return v;
}

ScriptValue VText(const char* text) {
    ScriptValue v{};
    SV_AssignString(&v, text);
    return v;
}

ScriptValue VInts(const std::vector<int32_t>& values) {
    ScriptValue v{};
    SV_ArrayAlloc(&v, static_cast<int32_t>(values.size()));
    for (size_t i = 0; i < values.size(); ++i) SV_ArrayWriteInt(&v, static_cast<int32_t>(i), values[i]);
    return v;
}

ScriptValue VMatrix(const int32_t m[3][3]) {
    ScriptValue v{};
    SV_ArrayAlloc(&v, 3);
    for (int i = 0; i < 3; ++i) {
        ScriptValue row = VInts({m[i][0], m[i][1], m[i][2]});
        SV_ArrayWrite(&v, i, &row);
        SV_Release(&row);
    }
    return v;
}

ScriptValue Share(const ScriptValue* v) {
    ScriptValue c{};
    SV_Copy(v, &c);
    return c;
}

std::string DisplayOf(const ScriptValue* v) {
    ScriptValue cell{};
    std::string s = SV_ToString(&cell, v);
    SV_Release(&cell);
    return s;
}
