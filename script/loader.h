// Loading a compiled story file into the script context, and freeing it.
#pragma once

#include <cstdint>

#include "script/context.h"

// 1 when the story is loaded, 0 when not (a malformed file is rejected with a
// log line and everything it allocated is freed).
int SB_LoadLocation(SE_Context* ctx, const char* name);
// Frees the loaded story, its tasks, instances, texts, script files, patch
// table and regular expressions.
void SB_FreeLocation(SE_Context* ctx);

// Parses a story image already in memory (the bytes are changed in place).
// `label` names the file in messages. 1 loaded, 0 malformed.
int SB_LoadStoryImage(SE_Context* ctx, const char* name, const char* label, uint8_t* image, uint32_t size);

// Sets `count` variables of an object or instance of class `cls` to the
// story's initial values, along the super chain. A super whose variables are
// not laid out below the class's own (the global object as super) gives none.
void SB_InitObjectVariables(ScriptValue* vars, uint32_t count, const StoryObject* cls);

// Compiled regular expressions live in the context's table; their owner
// installs the routine that frees one (until then they are only removed).
using SB_RegExpFreeFn = void (*)(void* compiled);
void SB_SetRegExpFree(SB_RegExpFreeFn fn);

// A saved code position of an older compile moved through the patch table;
// the position itself when no record or pair applies.
uint32_t SB_PatchPosition(SE_Context* ctx, uint32_t key, uint32_t position);
