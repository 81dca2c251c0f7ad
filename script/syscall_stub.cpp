#include "script/syscall_stub.h"

#include "base/log.h"
#include "script/lookup.h"
#include "script/tasks.h"

int32_t SE_SysCall(SE_Context* ctx, int32_t /*callerModule*/, SE_Task* task, int32_t call, int32_t /*argc*/,
                   ScriptValue* /*args*/) {
    char where[50];
    where[0] = '\0';
    if (ctx && ctx->currentTask) SE_GetTaskDebugAddress(where, ctx->currentTask, ctx);
    Qel_BannerPrintf("SE_SysCall: (%s) Undefined System Call %d\n", where, call);
    if (task) SE_TaskReturnIntEx(task, ctx, 0);
    return 1;
}
