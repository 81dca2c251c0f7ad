// The script context of the story and save-section targets, made as the
// program makes its one context, with a small engine-call module of the
// fuzzer's own; and the story the seeds and the save target start from.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "script/context.h"

// The global context (made once): the script engine as module 1 and the
// module "F_Now" (answers 0 at once), "F_Later" (answers at the next
// Fuzz_AnswerLater), "F_Text" (answers a text at once).
SE_Context* Fuzz_ScriptContext();
// Answers every task still waiting in "F_Later" with 1.
void Fuzz_AnswerLater();
// Forgets the waiting tasks (after the story was freed).
void Fuzz_ForgetLater();

// Assembler text of a small story: globals of every kind, an instance, a
// task that waits in an engine call with a float in its frame.
extern const char* const kFuzzStoryText;
// The story image of kFuzzStoryText (empty when it does not assemble).
std::vector<uint8_t> Fuzz_StoryImage(const std::string& text = kFuzzStoryText);

// Calls a built-in call of module 1 from a fresh task with these arguments
// (moved into the call frame and released after); the answer is released.
struct ScriptValue;
using Fuzz_BuiltinFn = int32_t (*)(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc,
                                   ScriptValue* args);
void Fuzz_CallBuiltin(Fuzz_BuiltinFn fn, std::vector<ScriptValue> args);
