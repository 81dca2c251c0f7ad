#include "program/speech.h"

#include "base/log.h"
#include "script/builtins_args.h"
#include "script/lookup.h"
#include "script/modules.h"
#include "script/tasks.h"

SpeechBase* g_SpeechBase = nullptr;

namespace {
const char* const s_spCallNames[] = {"SP_Speak",     "SP_IsTalking",   "SP_SetEnabled",
                                     "SP_IsEnabled", "SP_IsAvailable", nullptr};
}  // namespace

void SpeechBase::SPB_SetEnabled(int32_t on) {
    if (!(flags & SPB_AVAILABLE)) return;
    if (on) flags |= SPB_ENABLED;
    else flags &= ~SPB_ENABLED;
    Qel_DPrintf(0, "SpeechBase::SPB_SetEnabled(%d)\n", on);
}

const char* const* SP_GetCallNames() { return s_spCallNames; }

int32_t SP_SysCall(int32_t callerModule, SE_Task* task, int32_t call, int32_t argc, ScriptValue* args) {
    SpeechBase* speech = g_SpeechBase;
    if (!speech || !task) return 0;
    auto answer = [&](int32_t n) { return SE_AnswerInt(g_SEContext, task, n); };
    switch (call) {
        case 0:  // nothing is spoken
        case 1: return answer(0);
        case 2: speech->SPB_SetEnabled(SE_ArgInt(args, argc, 0)); return answer(0);
        case 3: return answer(static_cast<int32_t>(speech->flags & SPB_ENABLED));
        case 4: return answer(static_cast<int32_t>(speech->flags & SPB_AVAILABLE));
        default: {
            SE_CallerReturnInt(callerModule, 0, task->id);
            const char* where = SE_GetCurrentDebugAddress();
            Qel_DPrintf(0, "SP_SysCall (%s) : Undefined System Call %d\n", where ? where : "invalid address",
                        static_cast<int>(task->id));
            return 1;
        }
    }
}
