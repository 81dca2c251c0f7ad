// STAND-IN: see standin_tasks.h. Weak, so the real definitions win as soon as
// they are linked in.
#include "script/standin_tasks.h"

#include <cstdarg>
#include <cstdlib>
#include <initializer_list>

#include "base/log.h"
#include "base/table.h"
#include "script/loader.h"
#include "script/lookup.h"

#define STANDIN __attribute__((weak))

STANDIN SE_Context* SE_Create() {
    auto* ctx = static_cast<SE_Context*>(std::calloc(1, sizeof(SE_Context)));
    if (!ctx) return nullptr;
    SE_ListInit(&ctx->ready);
    SE_ListInit(&ctx->waiting);
    for (QelTable** t : {&ctx->taskTable, &ctx->instanceTable, &ctx->fileTable, &ctx->patchTable,
                         &ctx->regexpTable, &ctx->stringTable, &ctx->arrayTable, &ctx->tableTable})
        *t = Qel_TableCreate();
    // The script engine is module 1; without its calls its record has no handler.
    ctx->nextModule = 2;
    ctx->ownModule = 1;
    g_SEContext = ctx;
    return ctx;
}

STANDIN int32_t SB_RegisterEngineModule(SE_Context* ctx, SE_ModuleHandler handler, const char* const* callNames,
                                        SE_ReturnIntFn returnInt, SE_ReturnStringFn returnString,
                                        SE_ReturnValueFn returnValue) {
    int32_t n = ctx->nextModule++;
    EngineModuleEntry& e = ctx->modules[n];
    e.handler = handler;
    e.ReturnInt = returnInt;
    e.ReturnString = returnString;
    e.ReturnValue = returnValue;
    e.callNames = callNames;
    e.reserved = 0;
    return n;
}

STANDIN void SB_FreeTables(SE_Context* ctx) {
    for (QelTable** t : {&ctx->taskTable, &ctx->instanceTable, &ctx->fileTable, &ctx->patchTable,
                         &ctx->regexpTable, &ctx->stringTable, &ctx->arrayTable, &ctx->tableTable}) {
        Qel_TableFree(*t);
        *t = nullptr;
    }
}

STANDIN void SE_Destroy(SE_Context* ctx) {
    if (!ctx) return;
    SB_FreeTables(ctx);
    if (g_SEContext == ctx) g_SEContext = nullptr;
    std::free(ctx);
}

// Looks the function up only: without the interpreter a function that exists
// never gets to its end, as if it waited; one that does not exist tells the
// caller 0.
static int StartStandIn(int32_t callerModule, uint32_t callerNumber, int32_t objectId, const char* name) {
    SE_Context* ctx = g_SEContext;
    if (ctx && ctx->storyName && SB_ObjectFunctionExists(objectId, name)) return 1;
    Qel_BannerPrintf("SE_Run(%d, %s) Unknown function!\n", objectId, name);
    if (ctx && ctx->storyName && callerModule > 0 && callerModule < SE_MODULE_RECORDS &&
        ctx->modules[callerModule].ReturnInt)
        ctx->modules[callerModule].ReturnInt(callerNumber, 0);
    return 0;
}

STANDIN int SE_Run(int32_t callerModule, uint32_t callerNumber, int32_t objectId, const char* name,
                   int16_t /*returnKind*/, int32_t /*argc*/, ...) {
    return StartStandIn(callerModule, callerNumber, objectId, name);
}

STANDIN int SE_RunWithValues(int32_t callerModule, uint32_t callerNumber, int32_t objectId, const char* name,
                             int16_t /*returnKind*/, int32_t /*count*/, ...) {
    return StartStandIn(callerModule, callerNumber, objectId, name);
}

STANDIN void SE_RunAllTasks() {}

STANDIN void SE_TaskReturnIntEx(SE_Task* task, SE_Context* /*ctx*/, int32_t n) {
    SV_Release(&task->callResult);
    SV_AssignInt(&task->callResult, n);
    task->answered = 1;
}

STANDIN void SE_TaskWakeUp(SE_Context* /*ctx*/, SE_Task* /*task*/) {}

STANDIN void SE_CallerReturnInt(int32_t module, int32_t value, uint32_t callerNumber) {
    SE_Context* ctx = g_SEContext;
    if (!ctx || !ctx->storyName || module <= 0 || module >= SE_MODULE_RECORDS) return;
    if (ctx->modules[module].ReturnInt) ctx->modules[module].ReturnInt(callerNumber, value);
}
