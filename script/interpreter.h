// The bytecode interpreter: runs one task of the loaded story on its value
// stack until the task waits for an engine call, ends or is removed.
#pragma once

#include <cstdint>

#include "script/context.h"

// Runs the task from its saved position and stack pointer. 1 when the task
// waits, has ended or was removed; 0 when an engine-call handler answered 0
// (the scheduler then ends its pass). A task that is already running further
// up the call stack is not run again (1).
int SE_ExecuteTask(SE_Context* ctx, SE_Task* task);

// Sanitizer builds only, for the fuzz targets: at most `steps` more
// instructions run, over all tasks, before a running task is removed as if its
// stack had overflowed; a negative count lifts the bound. Elsewhere a no-op.
void SE_SetStepBudget(int64_t steps);

// Frees the interpreter's caches over the loaded code (decoded instructions,
// call-by-name and engine-call look-ups); the story loader calls it whenever
// the code goes away.
void SE_FreeCodeCache(SE_Context* ctx);

// Whether code decoded from now on may run in the interpreter's fused forms
// (on by default; never in a build with SE_PLAIN_FORMS, the CMake option
// TREVAN_PLAIN_FORMS). Off, every instruction runs on its own: the
// reference the fused forms are tested against.
void SE_SetFusedForms(bool on);
bool SE_FusedForms();

// The engine-call word of a linked call: 0x8000 | module << 9 | call.
constexpr uint16_t SE_LinkedCallWord(uint32_t module, uint32_t call) {
    return static_cast<uint16_t>(0x8000u | ((module & 63u) << 9) | (call & 511u));
}
