#include "script/builtins.h"

#include <iterator>

#include "base/log.h"
#include "script/builtins_files.h"
#include "script/builtins_numeric.h"
#include "script/builtins_strings.h"
#include "script/builtins_tasks.h"
#include "script/builtins_text.h"
#include "script/context.h"
#include "script/lookup.h"
#include "script/modules.h"
#include "script/tasks.h"

namespace {

#define SE_CALL(fn) \
    SE_BuiltinEntry { #fn, fn }

constexpr SE_BuiltinEntry kBuiltins[] = {
    SE_CALL(SE_XMLImportText),  // 0
    SE_CALL(SE_ReadText),
    SE_CALL(SE_ExistsText),
    SE_CALL(SE_LoadText),
    SE_CALL(SE_LoadTextPage),
    SE_CALL(SE_GetLanguage),  // 5
    SE_CALL(SE_FreeText),
    SE_CALL(SE_StringLen),
    SE_CALL(SE_StringNumChars),
    SE_CALL(SE_StringNextCharPos),
    SE_CALL(SE_StringPrevCharPos),  // 10
    SE_CALL(SE_StringReadChar),
    SE_CALL(SE_StringWriteChar),
    SE_CALL(SE_StringStr),
    SE_CALL(SE_StringChr),
    SE_CALL(SE_StringRChr),  // 15
    SE_CALL(SE_StringSub),
    SE_CALL(SE_StringToInt),
    SE_CALL(SE_StringSplit),
    SE_CALL(SE_StringSubst),
    SE_CALL(SE_SPrintf),  // 20
    SE_CALL(SE_VSPrintf),
    SE_CALL(SE_strcmp),
    SE_CALL(SE_stricmp),
    SE_CALL(SE_CTime),
    SE_CALL(SE_TimeString),  // 25
    SE_CALL(SE_ArrayAlloc),
    SE_CALL(SE_ArraySize),
    SE_CALL(SE_ArrayRead),
    SE_CALL(SE_ArrayWrite),
    SE_CALL(SE_ArrayCopy),  // 30
    SE_CALL(SE_ArrayClone),
    SE_CALL(SE_ArraySubClone),
    SE_CALL(SE_ArrayInsert),
    SE_CALL(SE_ArrayAppend),
    SE_CALL(SE_ArrayRemove),  // 35
    SE_CALL(SE_ArrayResize),
    SE_CALL(SE_TableAlloc),
    SE_CALL(SE_TableSize),
    SE_CALL(SE_TableNew),
    SE_CALL(SE_TableAdd),  // 40
    SE_CALL(SE_TableFind),
    SE_CALL(SE_TableExists),
    SE_CALL(SE_TableNext),
    SE_CALL(SE_TableRemove),
    SE_CALL(SE_TableKeys),  // 45
    SE_CALL(SE_TableData),
    SE_CALL(SE_TableRandomKey),
    SE_CALL(SE_GetTaskID),
    SE_CALL(SE_TaskExists),
    SE_CALL(SE_KillTask),  // 50
    SE_CALL(SE_Run),
    SE_CALL(SE_ObjectExists),
    SE_CALL(SE_ObjectFunctionExists),
    SE_CALL(SE_GetClass),
    SE_CALL(SE_IsClass),  // 55
    SE_CALL(SE_GetSuperClass),
    SE_CALL(SE_GetExprType),
    SE_CALL(SE_LinFunc),
    SE_CALL(SE_LogFunc),
    SE_CALL(SE_LinFuncSum),  // 60
    SE_CALL(SE_CubicPoly),
    SE_CALL(SE_GGT),
    SE_CALL(SE_KGV),
    SE_CALL(SE_Distance3),
    SE_CALL(SE_DistanceA3),  // 65
    SE_CALL(SE_DistanceAA),
    SE_CALL(SE_IsPosInRangeA),
    SE_CALL(SE_IsPosInRange3),
    SE_CALL(SE_CompressRangeData),
    SE_CALL(SE_MulFix),  // 70
    SE_CALL(SE_DivFix),
    SE_CALL(SE_MulDivFix),
    SE_CALL(SE_Sqrt),
    SE_CALL(SE_Sin),
    SE_CALL(SE_Cos),  // 75
    SE_CALL(SE_Random),
    SE_CALL(SE_RandomLowNorm),
    SE_CALL(SE_GetRotMatrixFromAngles),
    SE_CALL(SE_GetAnglesFromRotMatrix),
    SE_CALL(SE_GetAnglesFromVector),  // 80
    SE_CALL(SE_MatrixMultiplySelfRight),
    SE_CALL(SE_MatrixMultiplySelfLeft),
    SE_CALL(SE_MatrixMultiply),
    SE_CALL(SE_MatrixMultiplyInv),
    SE_CALL(SE_RotateVector),  // 85
    SE_CALL(SE_RotateVectorInv),
    SE_CALL(SE_ScriptComputeExpression),
    SE_CALL(SE_RegComp),
    SE_CALL(SE_RegExec),
    SE_CALL(SE_RegSub),  // 90
    SE_CALL(SE_RegSubGlobal),
    SE_CALL(SE_RegFree),
    SE_CALL(SE_StringXMLEncode),
    SE_CALL(SE_StringXMLEscape),
    SE_CALL(SE_StringXMLQueryDecode),  // 95
    SE_CALL(SE_StringXMLQueryToUTF8),
    SE_CALL(SE_XMLExportObject),
    SE_CALL(SE_XMLImportObject),
    SE_CALL(SE_XMLExportValue),
    SE_CALL(SE_XMLImportValue),  // 100
    SE_CALL(SE_XMLImport),
    SE_CALL(SE_FOpen),
    SE_CALL(SE_FClose),
    SE_CALL(SE_FPrintf),
    SE_CALL(SE_ReadFile),  // 105
    SE_CALL(SE_WriteFile),
    SE_CALL(SE_DeleteFile),
    SE_CALL(SE_MoveFile),
    SE_CALL(SE_FSize),
    SE_CALL(SE_FTime),  // 110
    SE_CALL(SE_GetDir),
    SE_CALL(SE_MakeDir),
    SE_CALL(SE_ChangeDir),
    SE_CALL(SE_DMprintf),
    SE_CALL(SE_XDMprintf),  // 115
    SE_CALL(SE_Dprintf),
    SE_CALL(SE_XDprintf),
    SE_CALL(SE_Assert),
    SE_CALL(SE_Trace),
    SE_CALL(SE_ExportPrivateInfo),  // 120
    SE_CALL(SE_SetProfiling),
    SE_CALL(SE_GetTaskPC),
    SE_CALL(SE_MemStatistics),
    SE_CALL(SE_TaskList),
    SE_CALL(SE_StackDump),  // 125
    SE_CALL(SE_CallStackDump),
    SE_CALL(SE_ShowCallStack),
    SE_CALL(SE_CallerNumber),
    SE_CALL(SE_CallerEngine),
    SE_CALL(SE_AutoDoc),  // 130
    SE_CALL(SE_DumpValues),
    SE_CALL(SE_AllocatedMem),
    SE_CALL(SE_AllocatedMemGeneral),
    SE_CALL(SE_Time),
    SE_CALL(SE_QSortByName),  // 135
    SE_CALL(SE_QSortByInt),
    SE_CALL(SE_ToInt),
    SE_CALL(SE_GetNum),
    SE_CALL(SE_CalcGalaxyEscortOffset),
    SE_CALL(SE_SetMaxOpCount),  // 140
    SE_CALL(SE_StringCat),
    SE_CALL(SE_ConvertFormatString),
    SE_CALL(SE_StringMul),
    SE_CALL(SE_VerifyData),
    SE_CALL(SE_SignData),  // 145
    SE_CALL(SE_SaveAllTexts),
    SE_CALL(SE_LoadAllTexts),
    SE_CALL(SE_UpdateLocation),
};

#undef SE_CALL

// Every entry names its function; a call missing from the table would shift
// every later call number.
static_assert(std::size(kBuiltins) == SE_BUILTIN_COUNT, "one entry per call number");

}  // namespace

const SE_BuiltinEntry* SE_GetBuiltins() { return kBuiltins; }

int32_t SE_SysCall(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t call, int32_t argc,
                   ScriptValue* args) {
    char where[50];
    where[0] = '\0';
    if (ctx && ctx->currentTask) SE_GetTaskDebugAddress(where, ctx->currentTask, ctx);
    if (call < 0 || call >= SE_BUILTIN_COUNT) {
        Qel_BannerPrintf("SE_SysCall: (%s) Undefined System Call %d\n", where, call);
        SE_TaskReturnIntEx(task, ctx, 0);
        return 1;
    }
    return kBuiltins[call].fn(ctx, callerModule, task, argc, args);
}
