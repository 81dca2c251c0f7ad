// Story files: load the image, then start the first functions of the first
// objects and run the tasks (answering the engine calls that wait) for a
// bounded number of instructions, with texts of at most 64 KiB, so the
// bytecode checks are fuzzed too.
#include <string>
#include <vector>

#include "fuzz/harness/harness.h"
#include "fuzz/harness/story.h"
#include "script/interpreter.h"
#include "script/loader.h"
#include "script/memory.h"
#include "script/tasks.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    SE_Context* ctx = Fuzz_ScriptContext();
    std::vector<uint8_t> image(data, data + size);
    FuzzMemoryGuard guard(ctx);
    if (SB_LoadStoryImage(ctx, "fuzz", "fuzz", image.data(), uint32_t(image.size()))) {
        SE_SetStepBudget(50000);
        SE_SetTextBudget(65536);
        std::vector<std::pair<int32_t, std::string>> starts;
        for (uint32_t o = 0; o < ctx->objectCount && o < 4; ++o) {
            const StoryObject& obj = ctx->objects[o];
            for (uint32_t f = 0; f < obj.functionCount && f < 4; ++f)
                starts.emplace_back(obj.id, SB_String(ctx, obj.functions[f].name));
        }
        const int32_t args[2] = {3, -1};
        for (const auto& [id, name] : starts) {
            // The module number 2 is the fuzzer's: results go nowhere.
            SE_RunIntArgs(ctx, 2, 0, id, name.c_str(), 1, 2, args);
            SE_RunAllTasks();
        }
        for (int pass = 0; pass < 3; ++pass) {
            Fuzz_AnswerLater();
            SE_RunAllTasks();
        }
        SE_SetStepBudget(-1);
        SE_SetTextBudget(-1);
    }
    SB_FreeLocation(ctx);
    Fuzz_ForgetLater();
    return 0;
}
