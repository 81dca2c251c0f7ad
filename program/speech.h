// The SP_ module: a placeholder for text-to-speech output. The program never
// registers it and never makes its record, so a story's SP_ call finds no
// module and the script engine answers it with 0.
#pragma once

#include <cstdint>

#include "script/context.h"

struct SpeechBase {
    uint32_t flags;  // 1 speech available, 2 speech enabled

    // Sets or clears "enabled", only when speech is available.
    void SPB_SetEnabled(int32_t on);
};
constexpr uint32_t SPB_AVAILABLE = 1;
constexpr uint32_t SPB_ENABLED = 2;

// Stays null in this program: the dispatcher then does nothing.
extern SpeechBase* g_SpeechBase;

const char* const* SP_GetCallNames();
int32_t SP_SysCall(int32_t callerModule, SE_Task* task, int32_t call, int32_t argc, ScriptValue* args);
