// The preprocessor of our effect files: #define, #undef, #ifdef, #ifndef, #if
// and #elif over defined(NAME), names, numbers, !, && and ||, #else, #endif.
// Defined names with a value are replaced in the text; #include is refused.
// Directives it does not know (#pragma ...) are kept for GLSL.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct EffectMacro {
    std::string name;
    std::string value;
};

// The text with the directives applied. False with a message ("line N: ...")
// when a directive is malformed or a conditional is left open; removed lines
// stay as empty lines so that line numbers keep meaning.
bool FX_Preprocess(const std::string& text, const std::vector<EffectMacro>& macros, std::string* out,
                   std::string* error);
