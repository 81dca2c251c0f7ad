#include "script/tasks.h"

#include <cinttypes>
#include <cstdarg>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "base/general.h"
#include "base/log.h"
#include "base/table.h"
#include "script/arrays.h"
#include "script/interpreter.h"
#include "script/lookup.h"
#include "script/memory.h"
#include "script/tables.h"
#include "script/textfiles.h"

namespace {

constexpr uint32_t kTraceMask = 0x100;
constexpr uint32_t kStackSlotsStep = 32;

bool Tracing() { return g_SystemState && (g_SystemState->debugFlags & kTraceMask) == kTraceMask; }

// Rounded up to a multiple of 32, in 64 bits so that no count wraps.
uint64_t RoundSlots(uint64_t n) { return (n + kStackSlotsStep - 1) / kStackSlotsStep * kStackSlotsStep; }

const char* NameText(const SE_Context* ctx, uint32_t name) {
    if (!ctx->staticStrings || name == 0 || name >= ctx->staticSize) return "";
    return ctx->staticStrings + name;
}

// Binary search of an object's own function table (sorted by name text).
const StoryFunction* FindOwn(const SE_Context* ctx, const StoryObject* o, const char* name) {
    uint32_t lo = 0, hi = o->functionCount;
    while (lo < hi) {
        uint32_t mid = lo + (hi - lo) / 2;
        int c = std::strcmp(NameText(ctx, o->functions[mid].name), name);
        if (c == 0) return &o->functions[mid];
        if (c < 0) lo = mid + 1;
        else hi = mid;
    }
    return nullptr;
}

// Releases the values on the stack and the call result; the stack keeps its
// size and pointer, its slots are left undefined.
void ReleaseTaskValues(SE_Task* task) {
    if (task->stackEnd)
        for (ScriptValue* v = task->stackEnd + task->sp; v < task->stackEnd; ++v) SV_Release(v);
    SV_Release(&task->callResult);
}

// Frees the stack, its values, the call result and the record (the record
// stays while TASK values still refer to it; the last one frees it).
void FreeTaskNow(SE_Context* ctx, SE_Task* task) {
    ReleaseTaskValues(task);
    if (task->stackEnd)
        SB_Free(ctx, SE_MEMCAT_TASK_STACKS, task->stackEnd - task->stackSize, size_t{task->stackSize} * SE_SIZE_VALUE);
    task->stackEnd = nullptr;
    task->stackSize = 0;
    task->sp = 0;
    task->link.succ = task->link.pred = nullptr;
    task->id = 0;
    task->object = nullptr;
    if (task->refCount == 0) SB_FreeRecord(ctx, SE_MEMCAT_TASKS, task);
}

// Takes the task out of its list (moving the scheduler's cursor off it) and
// out of the task table.
void Detach(SE_Context* ctx, SE_Task* task) {
    if (ctx->currentTask == task) {
        SE_ListNode* pred = task->link.pred;
        ctx->currentTask = (task->state == SE_TASK_READY && SE_ListIsTask(pred)) ? SE_ListTask(pred) : nullptr;
    }
    SE_ListRemove(&task->link);
    if (ctx->taskTable && task->id && Qel_TableGet(ctx->taskTable, task->id) == reinterpret_cast<uintptr_t>(task))
        Qel_TableRemove(ctx->taskTable, task->id);
}

// After Detach: free now, or leave the stack and the record to the outermost
// run that holds them. The values go at once: they may refer to a story that
// is freed before that run returns.
void Finish(SE_Context* ctx, SE_Task* task) {
    if (task->activeRuns == 0) FreeTaskNow(ctx, task);
    else ReleaseTaskValues(task);
}

const EngineModuleEntry* CallerRecord(const SE_Context* ctx, const SE_Task* task) {
    if (!ctx->storyName || task->callerModule <= 0 || task->callerModule >= SE_MODULE_RECORDS) return nullptr;
    return &ctx->modules[task->callerModule];
}

// Stores an answer (moved out of `value`) and wakes the task.
void Answer(SE_Task* task, SE_Context* ctx, ScriptValue* value) {
    task->answered = 1;
    SV_Move(value, &task->callResult);
    SE_TaskWakeUp(ctx, task);
}

void PushStart(SE_Task* task, const ScriptValue& v) {
    task->sp--;
    task->stackEnd[task->sp] = v;
}

}  // namespace

const StoryFunction* SE_FindFunctionByName(const SE_Context* ctx, const StoryObject* cls, const char* name,
                                           const StoryObject** owner) {
    for (const StoryObject* c = cls; c && name; c = c->super) {
        if (const StoryFunction* f = FindOwn(ctx, c, name)) {
            if (owner) *owner = c;
            return f;
        }
    }
    if (owner) *owner = nullptr;
    return nullptr;
}

const StoryFunction* SE_FindGlobalFunction(const SE_Context* ctx, const char* name) {
    if (!ctx->objects || ctx->objectCount == 0) return nullptr;
    return FindOwn(ctx, &ctx->objects[0], name);
}

const StoryFunction* SE_FindFunctionContaining(const StoryInstance* object, uint32_t position,
                                               const StoryObject** owner) {
    const StoryFunction* best = nullptr;
    const StoryObject* bestOwner = nullptr;
    for (const StoryObject* c = object ? object->classObject : nullptr; c; c = c->super) {
        for (uint32_t i = 0; i < c->functionCount; ++i) {
            const StoryFunction* f = &c->functions[i];
            if (f->position <= position && (!best || f->position >= best->position)) {
                best = f;
                bestOwner = c;
            }
        }
    }
    if (owner) *owner = bestOwner;
    return best;
}

SE_Task* SE_AllocTask(SE_Context* ctx, uint32_t slots) {
    if (!ctx || !ctx->taskTable) return nullptr;
    uint64_t rounded = slots <= kStackSlotsStep ? kStackSlotsStep : RoundSlots(slots);
    // Stacks stop growing near the limit (one growth may pass it); a start
    // far beyond it is no task.
    if (rounded > uint64_t{SE_STACK_LIMIT} * 4) {
        Qel_BannerPrintf("SE_AllocTask(%u) stack beyond the limit of %u slots!\n", slots, SE_STACK_LIMIT);
        return nullptr;
    }
    uint32_t size = static_cast<uint32_t>(rounded);
    SE_Task* task = SB_AllocRecord<SE_Task>(ctx, SE_MEMCAT_TASKS);
    if (!task) return nullptr;
    auto* stack =
        static_cast<ScriptValue*>(SB_Alloc(ctx, SE_MEMCAT_TASK_STACKS, SE_MEM_ZERO, size_t{size} * SE_SIZE_VALUE));
    uint32_t id = stack ? Qel_TableAdd(ctx->taskTable, reinterpret_cast<uintptr_t>(task)) : 0;
    if (!id) {
        if (stack) SB_Free(ctx, SE_MEMCAT_TASK_STACKS, stack, size_t{size} * SE_SIZE_VALUE);
        SB_FreeRecord(ctx, SE_MEMCAT_TASKS, task);
        Qel_BannerPrintf("SE_AllocTask(%u) no memory for the task!\n", slots);
        return nullptr;
    }
    task->id = id;
    task->stackSize = size;
    task->stackEnd = stack + size;
    task->sp = 0;
    return task;
}

SE_Task* SE_FindTask(SE_Context* ctx, uint32_t id) {
    if (!ctx || !ctx->taskTable || id == 0) return nullptr;
    return reinterpret_cast<SE_Task*>(Qel_TableGet(ctx->taskTable, id));
}

int SE_RunValueArgs(SE_Context* ctx, int32_t callerModule, uint32_t callerNumber, int32_t objectId, const char* name,
                    int16_t returnKind, int32_t argc, const ScriptValue* const* args) {
    if (!ctx) return 0;
    if (argc < 0) argc = 0;
    if (!name) name = "";
    StoryInstance* object = SB_FindObject(ctx, objectId);
    const StoryFunction* fn = nullptr;
    if (!object || !object->classObject) {
        Qel_BannerPrintf("SE_Run(%d, %s) Unknown object!\n", objectId, name);
    } else if (!(fn = SE_FindFunctionByName(ctx, object->classObject, name, nullptr))) {
        if (objectId < 0)
            Qel_BannerPrintf("SE_Run(%d[%d], %s) Unknown function!\n", objectId, object->classObject->id, name);
        else Qel_BannerPrintf("SE_Run(%d, %s) Unknown function!\n", objectId, name);
    }
    SE_Task* task = nullptr;
    if (fn) {
        if (Tracing()) {
            Qel_DPrintf(kTraceMask, "SE_Run() Launching %d.%s", objectId, name);
            Qel_DPrintf(kTraceMask, "(");
        }
        task = SE_AllocTask(ctx, fn->stackNeed + static_cast<uint32_t>(argc) + 7);
    }
    if (!task) {
        if (ctx->storyName && callerModule > 0 && callerModule < SE_MODULE_RECORDS &&
            ctx->modules[callerModule].ReturnInt)
            ctx->modules[callerModule].ReturnInt(callerNumber, 0);
        return 0;
    }
    task->position = fn->position;
    task->object = object;
    task->callerModule = callerModule;
    task->callerNumber = callerNumber;
    task->returnKind = returnKind;
    // Argument 0 nearest the top, the last one deepest.
    for (int32_t i = argc - 1; i >= 0; --i) {
        ScriptValue* slot = task->stackEnd + (--task->sp);
        slot->tag = VARTYPE_UNDEFINED;
        SV_Copy(args[i], slot);
    }
    if (Tracing()) Qel_DPrintf(kTraceMask, ")\n");
    ScriptValue v{};
    v.tag = VARTYPE_INTEGER;
    v.bits = static_cast<uint64_t>(static_cast<int64_t>(argc));
    PushStart(task, v);
    v = ScriptValue{};
    v.tag = VARTYPE_ADDRESS;
    PushStart(task, v);
    v = ScriptValue{};
    v.tag = VARTYPE_OBJECT;
    PushStart(task, v);
    task->state = SE_TASK_READY;
    SE_ListAddTail(&ctx->ready, &task->link);
    ctx->currentTask = task;
    SE_ExecuteTask(ctx, task);
    return 1;
}

int SE_RunIntArgs(SE_Context* ctx, int32_t callerModule, uint32_t callerNumber, int32_t objectId, const char* name,
                  int16_t returnKind, int32_t argc, const int32_t* args) {
    if (argc < 0) argc = 0;
    std::vector<ScriptValue> values(static_cast<size_t>(argc));
    std::vector<const ScriptValue*> ptrs(static_cast<size_t>(argc));
    for (int32_t i = 0; i < argc; ++i) {
        values[i].tag = VARTYPE_INTEGER;
        values[i].bits = static_cast<uint64_t>(static_cast<int64_t>(args[i]));
        ptrs[i] = &values[i];
    }
    return SE_RunValueArgs(ctx, callerModule, callerNumber, objectId, name, returnKind, argc, ptrs.data());
}

int SE_Run(int32_t callerModule, uint32_t callerNumber, int32_t objectId, const char* name, int16_t returnKind,
           int32_t argc, ...) {
    if (argc < 0) argc = 0;
    std::vector<int32_t> args(static_cast<size_t>(argc));
    va_list ap;
    va_start(ap, argc);
    for (int32_t i = 0; i < argc; ++i) args[i] = va_arg(ap, int32_t);
    va_end(ap);
    return SE_RunIntArgs(g_SEContext, callerModule, callerNumber, objectId, name, returnKind, argc, args.data());
}

int SE_RunWithValues(int32_t callerModule, uint32_t callerNumber, int32_t objectId, const char* name,
                     int16_t returnKind, int32_t argc, ...) {
    if (argc < 0) argc = 0;
    std::vector<const ScriptValue*> args(static_cast<size_t>(argc));
    va_list ap;
    va_start(ap, argc);
    for (int32_t i = 0; i < argc; ++i) args[i] = va_arg(ap, const ScriptValue*);
    va_end(ap);
    return SE_RunValueArgs(g_SEContext, callerModule, callerNumber, objectId, name, returnKind, argc, args.data());
}

void SE_RunAllTasks() {
    SE_Context* ctx = g_SEContext;
    if (!ctx) return;
    // Tasks of a story loaded during the pass wait for the next one.
    const uint32_t generation = ctx->storyGeneration;
    SE_ListNode* first = ctx->ready.head.succ;
    ctx->currentTask = SE_ListIsTask(first) ? SE_ListTask(first) : nullptr;
    while (SE_Task* task = ctx->currentTask) {
        if (SE_ExecuteTask(ctx, task) == 0 || ctx->storyGeneration != generation) return;
        if (ctx->currentTask) {
            SE_ListNode* next = ctx->currentTask->link.succ;
            ctx->currentTask = SE_ListIsTask(next) ? SE_ListTask(next) : nullptr;
        } else {
            first = ctx->ready.head.succ;
            if (!SE_ListIsTask(first)) return;
            ctx->currentTask = SE_ListTask(first);
        }
    }
}

void SE_EndTask(SE_Context* ctx, SE_Task* task) {
    if (!ctx || !task || task->removed) return;
    // Marked first: a callback that kills this task finds it already going.
    task->removed = 1;
    ScriptValue* top = task->sp < 0 ? task->stackEnd + task->sp : nullptr;
    if (const EngineModuleEntry* e = CallerRecord(ctx, task)) {
        task->activeRuns++;
        if (task->returnKind == SE_RETURN_INT) {
            if (e->ReturnInt) e->ReturnInt(task->callerNumber, top && top->tag == VARTYPE_INTEGER ? top->i : 0);
        } else if (task->returnKind == SE_RETURN_STRING) {
            if (e->ReturnString) e->ReturnString(task->callerNumber, top ? SV_GetString(top) : nullptr);
        } else if (e->ReturnValue) {
            ScriptValue none{};
            e->ReturnValue(task->callerNumber, top ? top : &none);
        }
        task->activeRuns--;
    }
    if (task->sp < 0) {
        SV_Release(task->stackEnd + task->sp);
        task->sp++;
    }
    Detach(ctx, task);
    Finish(ctx, task);
}

void SE_RemoveTask(SE_Context* ctx, SE_Task* task) {
    if (!ctx || !task || task->removed) return;
    task->removed = 1;
    if (const EngineModuleEntry* e = CallerRecord(ctx, task)) {
        if (task->returnKind == SE_RETURN_INT && e->ReturnInt) {
            task->activeRuns++;
            e->ReturnInt(task->callerNumber, 0);
            task->activeRuns--;
        }
    }
    Detach(ctx, task);
    Finish(ctx, task);
}

void SE_FinishRemovedTask(SE_Context* ctx, SE_Task* task) {
    if (task && task->removed && task->activeRuns == 0) FreeTaskNow(ctx, task);
}

void SE_DiscardTask(SE_Context* ctx, SE_Task* task) {
    if (!ctx || !task) return;
    task->removed = 1;
    task->link.succ = task->link.pred = nullptr;
    task->object = nullptr;
    if (ctx->currentTask == task) ctx->currentTask = nullptr;
    Finish(ctx, task);
}

void SE_KillTask(SE_Context* ctx, uint32_t id) {
    if (SE_Task* task = SE_FindTask(ctx, id)) SE_RemoveTask(ctx, task);
}

void SE_RemoveObjectTasks(SE_Context* ctx, const StoryInstance* object) {
    if (!ctx || !object) return;
    // Ids first: removing one task may run callbacks that remove others.
    std::vector<uint32_t> ids;
    for (SE_TaskList* list : {&ctx->ready, &ctx->waiting})
        for (SE_ListNode* n = list->head.succ; SE_ListIsTask(n); n = n->succ)
            if (SE_ListTask(n)->object == object) ids.push_back(SE_ListTask(n)->id);
    for (uint32_t id : ids) {
        SE_Task* task = SE_FindTask(ctx, id);
        if (task && task->object == object) SE_RemoveTask(ctx, task);
    }
}

void SE_TaskReturnIntEx(SE_Task* task, SE_Context* ctx, int32_t n) {
    if (!task) return;
    // The common answer: an integer for a task that is running its call now.
    ScriptValue& result = task->callResult;
    if (result.tag == VARTYPE_INTEGER || result.tag == VARTYPE_UNDEFINED) {
        task->answered = 1;
        result.tag = VARTYPE_INTEGER;
        result.bits = static_cast<uint64_t>(static_cast<int64_t>(n));
        if (task->state == SE_TASK_WAITING) SE_TaskWakeUp(ctx, task);
        return;
    }
    ScriptValue v{};
    v.tag = VARTYPE_INTEGER;
    v.bits = static_cast<uint64_t>(static_cast<int64_t>(n));
    Answer(task, ctx, &v);
}

void SE_TaskReturnInt(SE_Task* task, int32_t n) { SE_TaskReturnIntEx(task, g_SEContext, n); }

void SE_TaskReturnString(SE_Task* task, const char* text, SE_Context* ctx) {
    if (!task) return;
    ScriptValue v{};
    SV_AssignString(&v, text ? text : "");
    Answer(task, ctx, &v);
}

void SE_TaskReturnValue(SE_Task* task, ScriptValue* value, SE_Context* ctx) {
    if (!task) return;
    ScriptValue v{};
    if (value) SV_Move(value, &v);
    Answer(task, ctx, &v);
}

void SE_TaskWakeUp(SE_Context* ctx, SE_Task* task) {
    if (!ctx || !task || task->removed || task->state != SE_TASK_WAITING) return;
    int32_t depth = -task->sp;
    int32_t n = task->pendingArgc;
    if (n + 1 > depth) n = depth - 1;  // only a damaged stack: never reach past its end
    if (n >= 0) {
        ScriptValue* top = task->stackEnd + task->sp;
        SV_Move(&task->callResult, &top[n]);
        for (int32_t i = 0; i < n; ++i) SV_Release(&top[i]);
        task->sp += n;
    }
    task->state = SE_TASK_READY;
    SE_ListRemove(&task->link);
    SE_ListAddHead(&ctx->ready, &task->link);
}

void SE_ReturnIntCallback(uint32_t taskId, int32_t n) {
    SE_Context* ctx = g_SEContext;
    if (SE_Task* task = SE_FindTask(ctx, taskId)) SE_TaskReturnIntEx(task, ctx, n);
}

void SE_ReturnStringCallback(uint32_t taskId, const char* text) {
    SE_Context* ctx = g_SEContext;
    if (SE_Task* task = SE_FindTask(ctx, taskId)) SE_TaskReturnString(task, text, ctx);
}

void SE_ReturnValueCallback(uint32_t taskId, ScriptValue* value) {
    SE_Context* ctx = g_SEContext;
    SE_Task* task = SE_FindTask(ctx, taskId);
    if (!task) return;
    ScriptValue copy{};
    SV_Copy(value, &copy);
    SE_TaskReturnValue(task, &copy, ctx);
}

int SE_GrowTaskStack(SE_Context* ctx, SE_Task* task, uint32_t needed) {
    uint32_t old = task->stackSize;
    if (old >= SE_STACK_LIMIT) {
        char where[64];
        SE_GetTaskDebugAddress(where, ctx->currentTask, ctx);
        if (task->object)
            Qel_BannerPrintf("%s Stack overflow: in Object %d, program offset %08x\n", where, task->object->id,
                             task->position);
        else Qel_BannerPrintf("%s Stack overflow, program offset %08x\n", where, task->position);
        return 0;
    }
    if (old >= needed) return 1;
    uint32_t size = old + static_cast<uint32_t>(RoundSlots(needed - old));
    auto* stack =
        static_cast<ScriptValue*>(SB_Alloc(ctx, SE_MEMCAT_TASK_STACKS, SE_MEM_ZERO, size_t{size} * SE_SIZE_VALUE));
    if (!stack) {
        Qel_BannerPrintf("Stack of task %u cannot grow to %u slots: no memory\n", task->id, size);
        return 0;
    }
    // The stack is anchored at its end: the stack pointer stays valid.
    std::memcpy(stack + (size - old), task->stackEnd - old, size_t{old} * SE_SIZE_VALUE);
    SB_Free(ctx, SE_MEMCAT_TASK_STACKS, task->stackEnd - old, size_t{old} * SE_SIZE_VALUE);
    task->stackEnd = stack + size;
    task->stackSize = size;
    Qel_DPrintf(4, "Stack size of task %d increased to %d\n", static_cast<int>(task->id), static_cast<int>(size));
    return 1;
}

// The ADDRESS slots of a stack, from the top down (slot indices).
static std::vector<int32_t> AddressSlots(const SE_Task* task) {
    std::vector<int32_t> slots;
    const ScriptValue* top = task->stackEnd + task->sp;
    for (int32_t k = 0; k < -task->sp; ++k)
        if (top[k].tag == VARTYPE_ADDRESS) slots.push_back(k);
    return slots;
}

uint32_t SE_TaskStackNeed(const SE_Task* task) {
    if (!task || !task->stackEnd || task->sp >= 0) return 0;
    const ScriptValue* top = task->stackEnd + task->sp;
    int32_t depth = -task->sp;
    uint32_t need = 0;
    const StoryInstance* object = task->object;
    uint32_t position = task->position;
    for (int32_t k : AddressSlots(task)) {
        const StoryFunction* fn = SE_FindFunctionContaining(object, position, nullptr);
        uint32_t n = (fn ? fn->stackNeed : 0) + static_cast<uint32_t>(depth - k) + 5;
        if (n > need) need = n;
        position = top[k].u;
        if (position == 0 || k == 0 || top[k - 1].tag != VARTYPE_OBJECT) break;
        object = top[k - 1].object;
        if (!object || !object->classObject) break;
    }
    return need;
}

// "(arg0, arg1)" of the frame whose ADDRESS is at slot k (count below it).
static std::string FrameArguments(const SE_Task* task, int32_t k) {
    const ScriptValue* top = task->stackEnd + task->sp;
    int32_t depth = -task->sp;
    std::string s = "(";
    if (k >= 0 && k + 1 < depth && top[k + 1].tag == VARTYPE_INTEGER) {
        int32_t n = top[k + 1].i;
        for (int32_t i = 0; i < n && k + 2 + i < depth; ++i) {
            SV_TextOf t(&top[k + 2 + i]);
            s += t.text;
            if (i + 1 < n) s += ", ";
        }
    }
    s += ")\n";
    return s;
}

static void FrameLine(SE_Context* ctx, uint32_t position, const StoryInstance* object, const std::string& args) {
    const StoryObject* owner = nullptr;
    const StoryFunction* fn = SE_FindFunctionContaining(object, position, &owner);
    uint32_t start = fn ? fn->position : 0;
    const char* name = fn ? NameText(ctx, fn->name) : "";
    if (object && object->id < 0)
        Qel_DPrintf(0, "[%06x]->[%06x]#%d(%d)[%d].%s%s", position, start, object->id,
                    object->classObject ? object->classObject->id : 0, owner ? owner->id : 0, name, args.c_str());
    else if (object)
        Qel_DPrintf(0, "[%06x]->[%06x]#%d[%d].%s%s", position, start, object->id, owner ? owner->id : 0, name,
                    args.c_str());
    else Qel_DPrintf(0, "[%06x]->[%06x]%s%s", position, start, name, args.c_str());
}

void SE_CallStackDump(SE_Task* task, SE_Context* ctx) {
    if (!task || !ctx || !task->stackEnd) return;
    const ScriptValue* top = task->stackEnd + task->sp;
    std::vector<int32_t> addr = AddressSlots(task);  // top down
    // From the deepest frame up: each ADDRESS that returns into an outer frame
    // prints that frame.
    for (size_t i = addr.size(); i-- > 0;) {
        int32_t k = addr[i];
        uint32_t position = top[k].u;
        if (position == 0 || i + 1 >= addr.size()) continue;
        const ScriptValue* obj = k > 0 ? &top[k - 1] : nullptr;
        if (!obj || obj->tag != VARTYPE_OBJECT || !obj->object || !obj->object->classObject) {
            SV_TextOf t(obj ? obj : &top[k]);
            Qel_ErrPrintf("SE_CallStackDump() invalid obj %s!\n", t.text);
            return;
        }
        FrameLine(ctx, position, obj->object, FrameArguments(task, addr[i + 1]));
    }
    FrameLine(ctx, task->position, task->object, FrameArguments(task, addr.empty() ? -1 : addr[0]));
}

void SE_StackDump(SE_Task* task) {
    if (!task || !task->stackEnd) return;
    SE_Context* ctx = g_SEContext;
    for (int32_t k = -1; k >= task->sp; --k) {
        const ScriptValue* v = task->stackEnd + k;
        switch (v->tag) {
            case VARTYPE_ADDRESS:
                if (v->u == 0) {
                    Qel_DPrintf(0, "%5d: Adr 00000000\n", k);
                } else {
                    const StoryObject* owner = nullptr;
                    const StoryFunction* fn = SB_FindFunctionAt(ctx, v->u, &owner);
                    Qel_DPrintf(0, "%5d: Adr %08x %d.%s()\n", k, v->u, owner ? owner->id : -1,
                                fn ? NameText(ctx, fn->name) : "");
                }
                break;
            case VARTYPE_STRING: Qel_DPrintf(0, "%5d: Str '%s' (%d)\n", k, SB_String(ctx, v->u), v->i); break;
            case VARTYPE_DSTRING:
                Qel_DPrintf(0, "%5d: Str \"%s\" Ref=%d\n", k, v->dstring && v->dstring->text ? v->dstring->text : "",
                            v->dstring ? v->dstring->refCount : 0);
                break;
            case VARTYPE_UNDEFINED: Qel_DPrintf(0, "%5d: Und\n", k); break;
            case VARTYPE_INTEGER: Qel_DPrintf(0, "%5d: Int %d\n", k, v->i); break;
            case VARTYPE_FLOAT: Qel_DPrintf(0, "%5d: Flt %f\n", k, v->f); break;
            case VARTYPE_ARRAY: {
                SV_TextOf t(v);
                Qel_DPrintf(0, "%5d: Arr %s Ref=%d\n", k, t.text, v->array ? v->array->refCount : 0);
                break;
            }
            case VARTYPE_TABLE: {
                SV_TextOf t(v);
                Qel_DPrintf(0, "%5d: Tab %s Ref=%d\n", k, t.text, v->table ? v->table->refCount : 0);
                break;
            }
            case VARTYPE_TASK: Qel_DPrintf(0, "%5d: Tas %d\n", k, v->task ? static_cast<int>(v->task->id) : 0); break;
            case VARTYPE_OBJECT: Qel_DPrintf(0, "%5d: Obj #%d\n", k, v->object ? v->object->id : 0); break;
            case VARTYPE_NULL: Qel_DPrintf(0, "%5d: Nul\n", k); break;
            case VARTYPE_USER:
                if (v->user)
                    Qel_DPrintf(0, "%5d: Usr %d:%d:%d Ref=%d\n", k, v->user->byte0, v->user->byte1, v->user->word,
                                v->user->refCount);
                else Qel_DPrintf(0, "%5d: Usr 0:0:0 Ref=0\n", k);
                break;
            case VARTYPE_QUAD: Qel_DPrintf(0, "%5d: Qua %" PRId64 "\n", k, v->q); break;
            default: Qel_DPrintf(0, "%5d: ??? Type=%d\n", k, v->tag); break;
        }
    }
}

int SE_LoadTextsOfPage(SE_Context* ctx, int32_t pageId) { return SB_LoadText(ctx, 0, pageId / 1000); }
