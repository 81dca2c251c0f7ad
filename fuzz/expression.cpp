// The expression evaluator: (type, operand) pairs decoded from the input
// into an ARRAY, evaluated with a pair count the input chooses.
#include <string>

#include "fuzz/harness/harness.h"
#include "fuzz/harness/story.h"
#include "script/arrays.h"
#include "script/expr.h"
#include "script/values.h"

namespace {

int32_t Word(const uint8_t*& p, const uint8_t* end) {
    uint32_t v = 0;
    for (int i = 0; i < 4 && p < end; ++i) v = v << 8 | *p++;
    return static_cast<int32_t>(v);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    SE_Context* ctx = Fuzz_ScriptContext();
    if (size < 1) return 0;
    const uint8_t* p = data + 1;
    const uint8_t* end = data + size;
    FuzzMemoryGuard guard(ctx);
    ScriptValue program{};
    SV_ArrayAlloc(&program, 0);
    int32_t n = 0;
    static const int32_t kTypes[] = {
        SE_EXPR_INT, SE_EXPR_TEXT, SE_EXPR_OPERATOR, SE_EXPR_NONE, SE_EXPR_OBJECT_BIT | SE_EXPR_INT, 7};
    while (p < end && n < 200) {
        uint8_t kind = *p++;
        int32_t type = kTypes[kind % 6];
        SV_ArrayWriteInt(&program, n++, type);
        switch (kind / 6 % 4) {
            case 0: SV_ArrayWriteInt(&program, n++, Word(p, end)); break;
            case 1: {
                size_t len = p < end ? *p++ % 16 : 0;
                std::string s(reinterpret_cast<const char*>(p), std::min<size_t>(len, size_t(end - p)));
                p += s.size();
                SV_ArrayWriteDString(&program, n++, s.data(), int32_t(s.size()));
                break;
            }
            case 2: {
                ScriptValue f{};
                SV_AssignFloat(&f, double(Word(p, end)) / 256.0);
                SV_ArrayWrite(&program, n++, &f);
                SV_Release(&f);
                break;
            }
            default: SV_ArrayWriteInt(&program, n++, (Word(p, end) & 0x1001F)); break;
        }
    }
    int32_t pairs = int32_t(data[0]) - 8;
    SE_ComputeExpression(1, nullptr, &program, pairs);
    SV_Release(&program);
    return 0;
}
