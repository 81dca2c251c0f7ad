// The text formatter and the text codecs: each output is measured first,
// then written into a block of exactly the measured size plus its zero.
// Input: the format text, then the arguments (a kind byte and its bytes).
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/harness/harness.h"
#include "fuzz/harness/story.h"
#include "script/arrays.h"
#include "script/format.h"
#include "script/values.h"

namespace {

int32_t Word(const uint8_t*& p, const uint8_t* end) {
    uint32_t v = 0;
    for (int i = 0; i < 4 && p < end; ++i) v = v << 8 | *p++;
    return static_cast<int32_t>(v);
}

template <class F>
void MeasureThenWrite(F f) {
    size_t n = f(nullptr);
    if (n > (1u << 24)) return;
    std::unique_ptr<char[]> out(new char[n + 1]);
    size_t written = f(out.get());
    if (written != n || out[n] != '\0') __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    SE_Context* ctx = Fuzz_ScriptContext();
    FuzzSplit parts = Fuzz_Split(data, size);
    std::string format(reinterpret_cast<const char*>(parts.first), parts.firstSize);
    FuzzMemoryGuard guard(ctx);
    std::vector<ScriptValue> args;
    const uint8_t* p = parts.rest;
    const uint8_t* end = parts.rest + parts.restSize;
    while (p < end && args.size() < 16) {
        uint8_t kind = *p++;
        ScriptValue v{};
        switch (kind % 6) {
            case 0: SV_AssignInt(&v, Word(p, end)); break;
            case 1: SV_AssignFloat(&v, double(Word(p, end)) / double(1 + (kind >> 3))); break;
            case 2: {
                size_t len = p < end ? *p++ % 32 : 0;
                len = std::min<size_t>(len, size_t(end - p));
                SV_AssignDString(&v, reinterpret_cast<const char*>(p), int32_t(len));
                p += len;
                break;
            }
            case 3: SV_AssignQuad(&v, int64_t(Word(p, end)) << 20 | uint32_t(Word(p, end))); break;
            case 4: SV_ArrayAlloc(&v, kind >> 5); break;
            default: break;  // undefined
        }
        args.push_back(v);
    }
    const ScriptValue* a = args.data();
    int32_t argc = int32_t(args.size());
    MeasureThenWrite([&](char* out) { return SV_FormatValue(out, format.c_str(), a, argc); });
    MeasureThenWrite([&](char* out) { return SV_XMLEscape(out, format.c_str()); });
    MeasureThenWrite([&](char* out) { return SV_XMLEncode(out, format.c_str()); });
    MeasureThenWrite([&](char* out) { return SV_QueryDecode(out, format.c_str()); });
    MeasureThenWrite([&](char* out) { return SV_QueryToUTF8(out, format.c_str()); });
    for (ScriptValue& v : args) SV_Release(&v);
    return 0;
}
