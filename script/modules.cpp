#include "script/modules.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "base/log.h"
#include "base/table.h"
#include "script/tasks.h"

namespace {

// Index = call number.
const char* const kCallNames[SE_CALL_NAME_COUNT + 1] = {
    "SE_XMLImportText",
    "SE_ReadText",
    "SE_ExistsText",
    "SE_LoadText",
    "SE_LoadTextPage",
    "SE_GetLanguage",
    "SE_FreeText",
    "SE_StringLen",
    "SE_StringNumChars",
    "SE_StringNextCharPos",
    "SE_StringPrevCharPos",
    "SE_StringReadChar",
    "SE_StringWriteChar",
    "SE_StringStr",
    "SE_StringChr",
    "SE_StringRChr",
    "SE_StringSub",
    "SE_StringToInt",
    "SE_StringSplit",
    "SE_StringSubst",
    "SE_SPrintf",
    "SE_VSPrintf",
    "SE_strcmp",
    "SE_stricmp",
    "SE_CTime",
    "SE_TimeString",
    "SE_ArrayAlloc",
    "SE_ArraySize",
    "SE_ArrayRead",
    "SE_ArrayWrite",
    "SE_ArrayCopy",
    "SE_ArrayClone",
    "SE_ArraySubClone",
    "SE_ArrayInsert",
    "SE_ArrayAppend",
    "SE_ArrayRemove",
    "SE_ArrayResize",
    "SE_TableAlloc",
    "SE_TableSize",
    "SE_TableNew",
    "SE_TableAdd",
    "SE_TableFind",
    "SE_TableExists",
    "SE_TableNext",
    "SE_TableRemove",
    "SE_TableKeys",
    "SE_TableData",
    "SE_TableRandomKey",
    "SE_GetTaskID",
    "SE_TaskExists",
    "SE_KillTask",
    "SE_Run",
    "SE_ObjectExists",
    "SE_ObjectFunctionExists",
    "SE_GetClass",
    "SE_IsClass",
    "SE_GetSuperClass",
    "SE_GetExprType",
    "SE_LinFunc",
    "SE_LogFunc",
    "SE_LinFuncSum",
    "SE_CubicPoly",
    "SE_GGT",
    "SE_KGV",
    "SE_Distance3",
    "SE_DistanceA3",
    "SE_DistanceAA",
    "SE_IsPosInRangeA",
    "SE_IsPosInRange3",
    "SE_CompressRangeData",
    "SE_MulFix",
    "SE_DivFix",
    "SE_MulDivFix",
    "SE_Sqrt",
    "SE_Sin",
    "SE_Cos",
    "SE_Random",
    "SE_RandomLowNorm",
    "SE_GetRotMatrixFromAngles",
    "SE_GetAnglesFromRotMatrix",
    "SE_GetAnglesFromVector",
    "SE_MatrixMultiplySelfRight",
    "SE_MatrixMultiplySelfLeft",
    "SE_MatrixMultiply",
    "SE_MatrixMultiplyInv",
    "SE_RotateVector",
    "SE_RotateVectorInv",
    "SE_ScriptComputeExpression",
    "SE_RegComp",
    "SE_RegExec",
    "SE_RegSub",
    "SE_RegSubGlobal",
    "SE_RegFree",
    "SE_StringXMLEncode",
    "SE_StringXMLEscape",
    "SE_StringXMLQueryDecode",
    "SE_StringXMLQueryToUTF8",
    "SE_XMLExportObject",
    "SE_XMLImportObject",
    "SE_XMLExportValue",
    "SE_XMLImportValue",
    "SE_XMLImport",
    "SE_FOpen",
    "SE_FClose",
    "SE_FPrintf",
    "SE_ReadFile",
    "SE_WriteFile",
    "SE_DeleteFile",
    "SE_MoveFile",
    "SE_FSize",
    "SE_FTime",
    "SE_GetDir",
    "SE_MakeDir",
    "SE_ChangeDir",
    "SE_DMprintf",
    "SE_XDMprintf",
    "SE_Dprintf",
    "SE_XDprintf",
    "SE_Assert",
    "SE_Trace",
    "SE_ExportPrivateInfo",
    "SE_SetProfiling",
    "SE_GetTaskPC",
    "SE_MemStatistics",
    "SE_TaskList",
    "SE_StackDump",
    "SE_CallStackDump",
    "SE_ShowCallStack",
    "SE_CallerNumber",
    "SE_CallerEngine",
    "SE_AutoDoc",
    "SE_DumpValues",
    "SE_AllocatedMem",
    "SE_AllocatedMemGeneral",
    "SE_Time",
    "SE_QSortByName",
    "SE_QSortByInt",
    "SE_ToInt",
    "SE_GetNum",
    "SE_CalcGalaxyEscortOffset",
    "SE_SetMaxOpCount",
    "SE_StringCat",
    "SE_ConvertFormatString",
    "SE_StringMul",
    "SE_VerifyData",
    "SE_SignData",
    "SE_SaveAllTexts",
    "SE_LoadAllTexts",
    "SE_UpdateLocation",
    nullptr,
};

// Call numbers are nine bits wide in a linked call word.
constexpr int32_t kMaxCallNumber = 511;

}  // namespace

const char* const* SE_GetCallNames() { return kCallNames; }

SE_Context* SE_Create() {
    auto* ctx = static_cast<SE_Context*>(std::calloc(1, sizeof(SE_Context)));
    if (!ctx) return nullptr;
    SE_InitContext(ctx);
    return ctx;
}

void SE_InitContext(SE_Context* ctx) {
    if (!ctx) return;
    std::memset(ctx, 0, sizeof *ctx);
    SE_ListInit(&ctx->ready);
    SE_ListInit(&ctx->waiting);
    for (QelTable** t : {&ctx->taskTable, &ctx->instanceTable, &ctx->fileTable, &ctx->patchTable, &ctx->regexpTable,
                         &ctx->stringTable, &ctx->arrayTable, &ctx->tableTable})
        *t = Qel_TableCreate();
    ctx->nextModule = 1;
    ctx->ownModule = SB_RegisterEngineModule(ctx, SE_ModuleSysCall, kCallNames, SE_ReturnIntCallback,
                                             SE_ReturnStringCallback, SE_ReturnValueCallback);
    g_SEContext = ctx;
}

void SB_FreeTables(SE_Context* ctx) {
    if (!ctx) return;
    for (QelTable** t : {&ctx->taskTable, &ctx->instanceTable, &ctx->fileTable, &ctx->patchTable, &ctx->regexpTable,
                         &ctx->stringTable, &ctx->arrayTable, &ctx->tableTable}) {
        Qel_TableFree(*t);
        *t = nullptr;
    }
}

int32_t SB_RegisterEngineModule(SE_Context* ctx, SE_ModuleHandler handler, const char* const* callNames,
                                SE_ReturnIntFn returnInt, SE_ReturnStringFn returnString,
                                SE_ReturnValueFn returnValue) {
    if (!ctx) return 0;
    int32_t n = ctx->nextModule;
    if (n < 1 || n >= SE_MODULE_RECORDS) {
        Qel_BannerPrintf("SB_RegisterEngineModule() no free module record (%d modules registered)!\n",
                         SE_MODULE_RECORDS - 1);
        return 0;
    }
    EngineModuleEntry& e = ctx->modules[n];
    e.handler = handler;
    e.ReturnInt = returnInt;
    e.ReturnString = returnString;
    e.ReturnValue = returnValue;
    e.callNames = callNames;
    e.reserved = 0;
    ctx->nextModule = n + 1;
    // Names that no module had may belong to this one.
    ctx->registryGeneration++;
    return n;
}

int32_t SB_RegisterEngineModuleShort(SE_Context* ctx, SE_ModuleHandler handler, const char* const* callNames) {
    return SB_RegisterEngineModule(ctx, handler, callNames, nullptr, nullptr, nullptr);
}

int SE_FindCallName(const SE_Context* ctx, const char* name, int32_t* module, int32_t* call) {
    if (!ctx || !name) return 0;
    for (int32_t m = 0; m < SE_MODULE_RECORDS; ++m) {
        const char* const* names = ctx->modules[m].callNames;
        if (!names) continue;
        for (int32_t j = 0; j <= kMaxCallNumber && names[j]; ++j) {
            if (std::strcmp(names[j], name) == 0) {
                *module = m;
                *call = j;
                return 1;
            }
        }
    }
    return 0;
}

int32_t SE_ModuleSysCall(int32_t callerModule, SE_Task* task, int32_t call, int32_t argc, ScriptValue* args) {
    return SE_SysCall(g_SEContext, callerModule, task, call, argc, args);
}

// The record of a module that may be told an answer now, or null.
static const EngineModuleEntry* AnswerRecord(int32_t module) {
    SE_Context* ctx = g_SEContext;
    if (!ctx || !ctx->storyName || module < 0 || module >= SE_MODULE_RECORDS) return nullptr;
    return &ctx->modules[module];
}

void SE_CallerReturnInt(int32_t module, int32_t value, uint32_t callerNumber) {
    const EngineModuleEntry* e = AnswerRecord(module);
    if (e && e->ReturnInt) e->ReturnInt(callerNumber, value);
}

void SE_CallerReturnString(int32_t module, const char* text, uint32_t callerNumber) {
    const EngineModuleEntry* e = AnswerRecord(module);
    if (e && e->ReturnString) e->ReturnString(callerNumber, text);
}

void SE_CallerReturnValue(int32_t module, ScriptValue* value, uint32_t callerNumber) {
    const EngineModuleEntry* e = AnswerRecord(module);
    if (e && e->ReturnValue) e->ReturnValue(callerNumber, value);
}
