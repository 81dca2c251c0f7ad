// Story memory: every allocation of the script engine is booked in one of the
// context's memory categories; and the loaded story's static strings.
#pragma once

#include <cstddef>
#include <cstdint>

#include "script/context.h"

// Memory tag of the script engine's blocks.
constexpr uint32_t SE_MEM_TAG = 0x1000000;
// Flag callers pass to ask for a zero-filled block (every block is zeroed).
constexpr uint32_t SE_MEM_ZERO = 0x10000;

// Memory categories in use (the others stay at zero).
enum : int {
    SE_MEMCAT_PATCH = 2,          // patch records and their pair lists
    SE_MEMCAT_TABLE = 4,          // TABLE records
    SE_MEMCAT_TABLE_BUCKETS = 5,  // table bucket arrays
    SE_MEMCAT_TABLE_ENTRY = 6,    // table entries
    SE_MEMCAT_ARRAY = 7,          // ARRAY records
    SE_MEMCAT_ARRAY_VALUES = 8,   // array element runs
    SE_MEMCAT_STORY_NAME = 9,     // the loaded story's name
    SE_MEMCAT_OBJECTS = 11,       // objects, function tables, descriptors, object variables
    SE_MEMCAT_CODE = 12,          // code words and the static string block
    SE_MEMCAT_TEXT = 13,          // text buffers
    SE_MEMCAT_INSTANCES = 14,     // instances and their variables
    SE_MEMCAT_TASKS = 15,         // tasks
    SE_MEMCAT_TASK_STACKS = 16,   // task value stacks
    SE_MEMCAT_DSTRING = 17,       // DSTRING records
    SE_MEMCAT_TEXT_PAGES = 18,    // text pages, entry runs, import records
};

// Sizes booked per record: the real sizes of this build.
constexpr uint32_t SE_SIZE_VALUE = sizeof(ScriptValue);
constexpr uint32_t SE_SIZE_OBJECT = sizeof(StoryObject);
constexpr uint32_t SE_SIZE_INSTANCE = sizeof(StoryInstance);
constexpr uint32_t SE_SIZE_FUNCTION = sizeof(StoryFunction);
constexpr uint32_t SE_SIZE_VARDESC = sizeof(StoryVarDesc);
constexpr uint32_t SE_SIZE_PATCH = sizeof(StoryPatch);
constexpr uint32_t SE_SIZE_PATCH_PAIR = sizeof(StoryPatchPair);
constexpr uint32_t SE_SIZE_TASK = sizeof(SE_Task);
constexpr uint32_t SE_SIZE_DSTRING = sizeof(SV_DString);

// Takes a block booked to `category`; null (nothing booked) on failure.
void* SB_Alloc(SE_Context* ctx, int category, uint32_t flags, size_t size);
// Text blocks larger than this many bytes are refused as if memory had run
// out (negative: no bound, the default). The fuzz targets bound a story's
// texts by it, in every build: a text that doubles every step would otherwise
// reach gigabytes within a few dozen steps.
void SE_SetTextBudget(int64_t bytes);
// Gives a block back; the size must be the one it was taken with.
void SB_Free(SE_Context* ctx, int category, void* block, size_t size);

// Typed forms for records.
template <class T>
T* SB_AllocRecord(SE_Context* ctx, int category) {
    return static_cast<T*>(SB_Alloc(ctx, category, SE_MEM_ZERO, sizeof(T)));
}
template <class T>
void SB_FreeRecord(SE_Context* ctx, int category, T* rec) {
    if (rec) SB_Free(ctx, category, rec, sizeof(T));
}

// Text of static string n of the loaded story ("SB_String(0)" for 0, a blank
// after a log line for a number outside the block).
const char* SB_String(SE_Context* ctx, uint32_t n);

// Argument text for the value formatter: the text of argument i of a run of n
// values, or "<invalid>" (a negative n sets no bound).
const char* SB_ArgumentText(const ScriptValue* args, int32_t i, int32_t n);
