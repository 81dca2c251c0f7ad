// How a built-in call reads its arguments: argument i is args[i] while i is
// below the count; a missing argument reads as INTEGER 0, so no call ever
// reaches past its call frame.
#pragma once

#include <cstdint>

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
