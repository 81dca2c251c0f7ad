// The script context and the records of a loaded story: objects, instances,
// tasks, patch records and the engine-call module records.
#pragma once

#include <cstdint>

#include "script/story_format.h"
#include "script/values.h"

struct QelTable;

constexpr int SE_MEM_CATEGORIES = 20;
constexpr int SE_LANGUAGE_SLOTS = 999;  // language ids 0 .. 998
constexpr int SE_MODULE_RECORDS = 32;   // record 0 stays empty

// An instance made by the "new" instruction; its fields are also the first
// fields of every StoryObject, so an OBJECT value may point at either.
// Instances have negative ids and live in the instance table under -id-1.
struct StoryObject;
struct StoryInstance {
    int32_t id;
    uint32_t refCount;         // OBJECT values that refer to it
    StoryObject* classObject;  // null once the instance is deleted
    ScriptValue* variables;    // classObject->variableCount cells
};

// A class of the loaded story (the global object has id 0).
struct StoryObject : StoryInstance {
    int32_t superId;  // -1: none
    StoryObject* super;
    uint32_t thirdWord;         // kept as read
    uint32_t variableCount;     // inherited + own
    uint32_t firstOwnVariable;  // the super's variable count
    uint32_t ownVariableCount;  // descriptors in ownVariables
    StoryVarDesc* ownVariables;
    bool hasVariableChunk;   // the entry carried a "VAR2" chunk
    uint32_t functionCount;  // own functions, sorted by name text
    StoryFunction* functions;
    uint32_t mergedCount;  // own and inherited, sorted by name number
    StoryFunction* merged;
};

// One record of the patch table: code positions of an older compile.
struct StoryPatchPair {
    uint32_t oldPosition;
    uint32_t newPosition;
};
struct StoryPatch {
    uint32_t key;  // the older compile time
    uint32_t pairCount;
    StoryPatchPair* pairs;  // ascending by old position
};

// Task lists: doubly linked with a head and a tail sentinel; a node is a real
// task exactly when both its links are set.
struct SE_ListNode {
    SE_ListNode* succ;
    SE_ListNode* pred;
};
struct SE_TaskList {
    SE_ListNode head;  // head.succ: first node; head.pred always null
    SE_ListNode tail;  // tail.succ always null; tail.pred: last node
};

// A running story function.
struct SE_Task {
    SE_ListNode link;       // first field: a list node is its task
    uint32_t id;            // key in the task table; 0 once the task ended
    int32_t refCount;       // TASK values that refer to it
    uint32_t stackSize;     // slots, a multiple of 32
    ScriptValue* stackEnd;  // just past the last slot
    int32_t sp;             // 0 (empty) or negative; top = stackEnd + sp
    uint32_t position;      // code position in words
    uint16_t answered;
    uint16_t pendingArgc;
    ScriptValue* pendingArgs;  // argument 0 of the pending engine call
    ScriptValue callResult;
    int32_t callerModule;  // 0: nobody is told the result
    uint32_t callerNumber;
    int16_t returnKind;     // 1 integer, 2 text, else a value
    int16_t state;          // 1 ready, 2 waiting
    StoryInstance* object;  // the current object (StoryObject or instance)
    // A task that is removed while one of its runs is still on the call stack
    // (a handler or a task it starts ended it, or the story was freed) gives
    // up its values at once; the outermost run frees its stack and record
    // when it returns.
    int32_t activeRuns;
    int32_t removed;
};

using SE_ModuleHandler = int32_t (*)(int32_t callerModule, SE_Task* task, int32_t call, int32_t argc,
                                     ScriptValue* args);
using SE_ReturnIntFn = void (*)(uint32_t callerNumber, int32_t n);
using SE_ReturnStringFn = void (*)(uint32_t callerNumber, const char* text);
using SE_ReturnValueFn = void (*)(uint32_t callerNumber, ScriptValue* value);

struct EngineModuleEntry {
    SE_ModuleHandler handler;
    SE_ReturnIntFn ReturnInt;
    SE_ReturnStringFn ReturnString;
    SE_ReturnValueFn ReturnValue;
    const char* const* callNames;  // ended by a null pointer; index = call number
    uint32_t reserved;             // always 0
};

struct SE_Context {
    // The loaded story (storyName non-null while one is loaded).
    uint16_t* code;
    uint32_t codeWords;
    char* staticStrings;  // staticSize bytes plus a terminating NUL
    uint32_t staticSize;
    uint32_t objectCount;  // including the global object
    StoryObject* objects;  // sorted ascending by id; element 0 is the global object
    uint32_t compileTime;
    char* storyName;
    uint32_t flags;

    // Memory booking per category.
    int32_t memBytes[SE_MEM_CATEGORIES];
    int32_t memPeakBytes[SE_MEM_CATEGORIES];
    int32_t memBlocks[SE_MEM_CATEGORIES];
    int32_t memPeakBlocks[SE_MEM_CATEGORIES];

    // Text pages: per language a table from page id to SB_TextPage.
    QelTable* languages[SE_LANGUAGE_SLOTS];

    // Scheduler.
    SE_TaskList ready;
    SE_TaskList waiting;
    SE_Task* currentTask;
    int32_t runDepth;          // runs of tasks nested on the call stack now
    uint32_t storyGeneration;  // changes whenever the story is freed; a pass ends there

    // Engine-call modules.
    int32_t nextModule;
    EngineModuleEntry modules[SE_MODULE_RECORDS];
    int32_t ownModule;

    // Interpreter caches over the loaded code, built as it runs and freed
    // with the story (script/interpreter.h).
    struct SE_CodeCache* codeCache;
    // Changes with every module registration, so that call names found in no
    // module are looked up again.
    uint32_t registryGeneration;

    // Id tables.
    QelTable* taskTable;
    QelTable* instanceTable;
    QelTable* fileTable;
    QelTable* patchTable;
    QelTable* regexpTable;
    QelTable* stringTable;
    QelTable* arrayTable;
    QelTable* tableTable;
};

// List primitives of the task lists.
void SE_ListInit(SE_TaskList* list);
void SE_ListAddHead(SE_TaskList* list, SE_ListNode* node);
void SE_ListAddTail(SE_TaskList* list, SE_ListNode* node);
void SE_ListRemove(SE_ListNode* node);
bool SE_ListIsEmpty(const SE_TaskList* list);
// A node that is a task (neither sentinel nor null).
inline bool SE_ListIsTask(const SE_ListNode* node) { return node && node->succ && node->pred; }
inline SE_Task* SE_ListTask(SE_ListNode* node) { return reinterpret_cast<SE_Task*>(node); }
