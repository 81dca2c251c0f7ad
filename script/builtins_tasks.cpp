#include "script/builtins_tasks.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

#include "base/log.h"
#include "base/memory.h"
#include "base/table.h"
#include "script/arrays.h"
#include "script/builtins_args.h"
#include "script/builtins_strings.h"
#include "script/context.h"
#include "script/lookup.h"
#include "script/memory.h"
#include "script/tasks.h"
#include "system/signature.h"

namespace {

// The object an argument names: a live OBJECT value, or an object or instance id.
StoryInstance* ObjectOf(SE_Context* ctx, const ScriptValue* v) {
    StoryInstance* o = v->tag == VARTYPE_OBJECT ? v->object : SB_FindObject(ctx, v->i);
    return o && o->classObject ? o : nullptr;
}

uint32_t TaskCount(const SE_Context* ctx) { return ctx->taskTable ? Qel_TableGetCount(ctx->taskTable) : 0; }

// The task a dump call names: none given is the calling task; a TASK value
// or an INTEGER id names another; anything else names none.
SE_Task* DumpTarget(SE_Context* ctx, SE_Task* task, int32_t argc, ScriptValue* args) {
    if (argc < 1) return task;
    if (args[0].tag == VARTYPE_TASK) return args[0].task && args[0].task->id ? args[0].task : nullptr;
    if (args[0].tag == VARTYPE_INTEGER) return SE_FindTask(ctx, args[0].u);
    return nullptr;
}

}  // namespace

int32_t SE_GetTaskID(SE_Context* ctx, int32_t, SE_Task* task, int32_t, ScriptValue*) {
    return SE_AnswerInt(ctx, task, task ? static_cast<int32_t>(task->id) : 0);
}

int32_t SE_TaskExists(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    return SE_AnswerInt(ctx, task, SE_FindTask(ctx, static_cast<uint32_t>(SE_ArgInt(args, argc, 0))) ? 1 : 0);
}

int32_t SE_KillTask(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    uint32_t own = task ? task->id : 0;
    SE_KillTask(ctx, static_cast<uint32_t>(SE_ArgInt(args, argc, 0)));
    // The calling task removed itself: no answer, and its run stops here.
    if (own && SE_FindTask(ctx, own) != task) return 0;
    return SE_AnswerInt(ctx, task, 0);
}

int32_t SE_Run(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    char where[50];
    SE_GetTaskDebugAddress(where, task, ctx);
    // The call frame is rewritten below: it needs the object and the name slots.
    if (argc < 2 || !task) {
        Qel_BannerPrintf("%s SE_Run() needs an object and a function name, got %d arguments!\n", where, argc);
        return SE_AnswerInt(ctx, task, 0);
    }
    const ScriptValue* target = &args[0];
    StoryInstance* object = nullptr;
    if (target->tag == VARTYPE_OBJECT)
        object = target->object && target->object->classObject ? target->object : nullptr;
    else if (task->object && task->object->id == target->i) object = task->object;
    else object = SB_FindObject(ctx, target->i);
    const char* name = SV_GetString(&args[1]);
    if (!object || !object->classObject) {
        SV_TextOf shown(target);
        Qel_BannerPrintf("%s Function %s in undefined object %s called!\n", where, name ? name : "", shown.text);
        return SE_AnswerInt(ctx, task, 0);
    }
    const StoryFunction* fn = SE_FindFunctionByName(ctx, object->classObject, name, nullptr);
    if (!fn) {
        SV_TextOf shown(target);
        Qel_BannerPrintf("%s Undefined function %s(%d).%s called!\n", where, shown.text, object->classObject->id,
                         name ? name : "");
        return SE_AnswerInt(ctx, task, 0);
    }
    // The frame of a script call: the arguments, their count, the return
    // position (the instruction after this call) and the caller's object,
    // which the return puts back as the current object.
    StoryInstance* caller = task->object ? task->object : object;
    SV_AssignInt(&args[1], argc - 2);
    SV_AssignAddress(&args[0], task->position + 2);
    SV_AssignInt(&args[-1], 0);
    task->position = fn->position - 2;
    task->object = object;
    ScriptValue self{};
    SV_AssignObject(&self, caller);
    SE_TaskReturnValue(task, &self, ctx);
    return 1;
}

int32_t SE_ObjectExists(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    return SE_AnswerInt(ctx, task, SB_IsLiveObject(SE_ArgValue(args, argc, 0)));
}

int32_t SE_ObjectFunctionExists(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    return SE_AnswerInt(ctx, task, SB_ObjectFunctionExists(SE_ArgInt(args, argc, 0), SE_ArgText(args, argc, 1)));
}

int32_t SE_GetClass(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    StoryInstance* o = ObjectOf(ctx, SE_ArgValue(args, argc, 0));
    return SE_AnswerInt(ctx, task, o ? o->classObject->id : 0);
}

int32_t SE_IsClass(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    StoryInstance* o = ObjectOf(ctx, SE_ArgValue(args, argc, 0));
    const ScriptValue* cls = SE_ArgValue(args, argc, 1);
    for (const StoryObject* c = o ? o->classObject : nullptr; c; c = c->super) {
        bool same = cls->tag == VARTYPE_OBJECT ? cls->object == c : cls->i == c->id;
        if (same) return SE_AnswerInt(ctx, task, 1);
    }
    return SE_AnswerInt(ctx, task, 0);
}

int32_t SE_GetSuperClass(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    StoryInstance* o = ObjectOf(ctx, SE_ArgValue(args, argc, 0));
    int32_t super = o ? o->classObject->superId : 0;
    return SE_AnswerInt(ctx, task, super == -1 ? 0 : super);
}

int32_t SE_GetExprType(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    return SE_AnswerInt(ctx, task, argc > 0 ? int32_t{args[0].tag} : 0);
}

int32_t SB_ExportPrivateInfo(int32_t id, SE_Context* ctx) {
    switch (id) {
        case SE_EXP_TASK_COUNT: return ctx ? static_cast<int32_t>(TaskCount(ctx)) : 0;
        case SE_EXP_CONSTANT: return 5000;
        case SE_EXP_OBJECT_COUNT:
            if (!ctx) return 0;
            return static_cast<int32_t>(ctx->objectCount +
                                        (ctx->instanceTable ? Qel_TableGetCount(ctx->instanceTable) : 0));
        default: Qel_BannerPrintf("SB_ExportPrivateInfo(): Wrong EXP_ID: %04x\n", id); return 0;
    }
}

int32_t SE_ExportPrivateInfo(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    return SE_AnswerInt(ctx, task, SB_ExportPrivateInfo(SE_ArgInt(args, argc, 0) & 0xFFFF, ctx));
}

int32_t SE_GetTaskPC(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    SE_Task* t = SE_FindTask(ctx, static_cast<uint32_t>(SE_ArgInt(args, argc, 0)));
    return SE_AnswerInt(ctx, task, t ? static_cast<int32_t>(t->position) : 0);
}

int32_t SE_MemStatistics(SE_Context* ctx, int32_t, SE_Task* task, int32_t, ScriptValue*) {
    ScriptValue out{};
    if (!SV_ArrayAlloc(&out, SE_MEM_CATEGORIES)) return SE_AnswerInt(ctx, task, 0);
    for (int32_t c = 0; c < SE_MEM_CATEGORIES; ++c) {
        ScriptValue row{};
        if (!SV_ArrayAlloc(&row, 5)) continue;
        SV_ArrayWriteString(&row, 0, "");
        SV_ArrayWriteInt(&row, 1, ctx->memBytes[c]);
        SV_ArrayWriteInt(&row, 2, ctx->memPeakBytes[c]);
        SV_ArrayWriteInt(&row, 3, ctx->memBlocks[c]);
        SV_ArrayWriteInt(&row, 4, ctx->memPeakBlocks[c]);
        SV_ArrayWrite(&out, c, &row);
        SV_Release(&row);
    }
    return SE_AnswerMove(ctx, task, &out);
}

int32_t SE_TaskList(SE_Context* ctx, int32_t, SE_Task* task, int32_t, ScriptValue*) {
    int32_t n = static_cast<int32_t>(TaskCount(ctx));
    ScriptValue ids{}, classes{}, names{};
    if (!SV_ArrayAlloc(&ids, n) || !SV_ArrayAlloc(&classes, n) || !SV_ArrayAlloc(&names, n)) {
        SV_Release(&ids);
        SV_Release(&classes);
        SV_Release(&names);
        return SE_AnswerInt(ctx, task, 0);
    }
    int32_t i = 0;
    for (struct SE_TaskList* list : {&ctx->ready, &ctx->waiting}) {
        for (SE_ListNode* node = list->head.succ; SE_ListIsTask(node) && i < n; node = node->succ, ++i) {
            const SE_Task* t = SE_ListTask(node);
            const StoryInstance* o = t->object;
            if (!o) {
                SV_ArrayWriteInt(&ids, i, 0);
                SV_ArrayWriteInt(&classes, i, 0);
                SV_ArrayWriteString(&names, i, "unknown object");
                continue;
            }
            SV_ArrayWriteInt(&ids, i, o->id);
            const StoryObject* owner = nullptr;
            if (const StoryFunction* fn = SE_FindFunctionContaining(o, t->position, &owner)) {
                SV_ArrayWriteInt(&classes, i, owner->id);
                ScriptValue name{};
                SV_AssignStaticString(&name, fn->name);
                SV_ArrayWrite(&names, i, &name);
            } else {
                SV_ArrayWriteInt(&classes, i, o->id);
                SV_ArrayWriteString(&names, i, "unknown function");
            }
        }
    }
    ScriptValue out{};
    if (SV_ArrayAlloc(&out, 3)) {
        SV_ArrayWrite(&out, 0, &ids);
        SV_ArrayWrite(&out, 1, &classes);
        SV_ArrayWrite(&out, 2, &names);
    }
    SV_Release(&ids);
    SV_Release(&classes);
    SV_Release(&names);
    return SE_AnswerMove(ctx, task, &out);
}

int32_t SE_StackDump(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    if (SE_Task* t = DumpTarget(ctx, task, argc, args)) SE_StackDump(t);
    return SE_AnswerInt(ctx, task, 0);
}

int32_t SE_CallStackDump(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    if (SE_Task* t = DumpTarget(ctx, task, argc, args)) SE_CallStackDump(t, ctx);
    return SE_AnswerInt(ctx, task, 0);
}

int32_t SE_ShowCallStack(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    char where[50];
    SE_GetTaskDebugAddress(where, ctx->currentTask, ctx);
    const char* text = SE_ArgText(args, argc, 0);
    Qel_DPrintf(0, "%s %s\n", text ? text : "", where);
    return SE_AnswerInt(ctx, task, 0);
}

int32_t SE_CallerNumber(SE_Context* ctx, int32_t, SE_Task* task, int32_t, ScriptValue*) {
    return SE_AnswerInt(ctx, task, task ? static_cast<int32_t>(task->callerNumber) : 0);
}

int32_t SE_CallerEngine(SE_Context* ctx, int32_t, SE_Task* task, int32_t, ScriptValue*) {
    return SE_AnswerInt(ctx, task, task ? task->callerModule : 0);
}

int32_t SE_DumpValues(SE_Context* ctx, int32_t, SE_Task* task, int32_t, ScriptValue*) {
    Qel_DPrintf(0, "No dump, because DEBUG disabled\n");
    return SE_AnswerInt(ctx, task, 0);
}

int32_t SE_AllocatedMem(SE_Context* ctx, int32_t, SE_Task* task, int32_t, ScriptValue*) {
    return SE_AnswerInt(ctx, task, static_cast<int32_t>(Int_GetMemUsed()));
}

int32_t SE_AllocatedMemGeneral(SE_Context* ctx, int32_t, SE_Task* task, int32_t, ScriptValue*) {
    return SE_AnswerInt(ctx, task, static_cast<int32_t>(Int_GetTag0Mem()));
}

int32_t SE_ToInt(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    const ScriptValue* v = SE_ArgValue(args, argc, 0);
    if (argc > 0 && v->tag == VARTYPE_FLOAT) {
        double d = std::trunc(v->f);
        int32_t n = std::isnan(d)        ? 0
                    : d >= 2147483647.0  ? INT32_MAX
                    : d <= -2147483648.0 ? INT32_MIN
                                         : static_cast<int32_t>(d);
        return SE_AnswerInt(ctx, task, n);
    }
    if (argc > 0 && (v->tag == VARTYPE_STRING || v->tag == VARTYPE_DSTRING))
        return SE_AnswerInt(ctx, task, SE_TextToInt(SV_GetString(v)));
    return SE_AnswerInt(ctx, task, 0);
}

int32_t SE_GetNum(SE_Context* ctx, int32_t, SE_Task* task, int32_t, ScriptValue*) {
    return SE_AnswerInt(ctx, task, (ctx->flags & 2) && !(ctx->flags & 4) ? 0 : 1);
}

int32_t SE_SetMaxOpCount(SE_Context* ctx, int32_t, SE_Task* task, int32_t, ScriptValue*) {
    return SE_AnswerInt(ctx, task, 0);
}

int32_t SE_VerifyData(SE_Context* ctx, int32_t, SE_Task* task, int32_t argc, ScriptValue* args) {
    if (argc != 3) return SE_AnswerInt(ctx, task, 0);
    const char* data = SV_GetString(&args[0]);
    const char* signature = SV_GetString(&args[1]);
    int32_t dataLength = data ? static_cast<int32_t>(std::strlen(data)) : 0;
    int32_t signatureLength = signature ? static_cast<int32_t>(std::strlen(signature)) : 0;
    int32_t keyLength = args[2].tag == VARTYPE_ARRAY ? SV_ArraySize(&args[2]) : 0;
    if (dataLength <= 0 || signatureLength <= 0 || keyLength <= 0) return SE_AnswerInt(ctx, task, 0);

    auto* key = static_cast<uint8_t*>(Int_AllocMem(static_cast<size_t>(keyLength), 0));
    if (!key) return SE_AnswerInt(ctx, task, 0);
    for (int32_t i = 0; i < keyLength; ++i) {
        const ScriptValue* e = SV_ArrayRead(&args[2], i);
        key[i] = e ? static_cast<uint8_t>(e->u) : 0;
    }
    int32_t outLength = 0;
    char* digest = S_VerifyData(reinterpret_cast<const uint8_t*>(data), dataLength, signature, signatureLength, key,
                                keyLength, &outLength);
    Int_FreeMem(key, static_cast<size_t>(keyLength), 0);
    if (!digest) return SE_AnswerInt(ctx, task, 0);
    if (outLength > 0) SE_TaskReturnString(task, digest, ctx);
    else SE_TaskReturnIntEx(task, ctx, 0);
    Int_FreeMem(digest, static_cast<size_t>(outLength) + 1, 0);
    return 1;
}
