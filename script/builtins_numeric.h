// Built-in calls of module 1 over numbers: interpolation curves, integer
// functions, 16.16 products and quotients, square root, sine and cosine,
// random numbers, distances, range tests, rotation matrices on script arrays,
// the expression evaluator and the escort offset. Each has the shape of a
// built-in call (script/builtins.h) and answers the task before it returns.
#pragma once

#include "script/builtins.h"

// 58-75
int32_t SE_LinFunc(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_LogFunc(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_LinFuncSum(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_CubicPoly(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_GGT(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_KGV(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_Distance3(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_DistanceA3(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_DistanceAA(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_IsPosInRangeA(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_IsPosInRange3(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_CompressRangeData(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_MulFix(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_DivFix(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_MulDivFix(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_Sqrt(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_Sin(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_Cos(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);

// 76, 77
int32_t SE_Random(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_RandomLowNorm(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);

// 78-87
int32_t SE_GetRotMatrixFromAngles(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc,
                                  ScriptValue* args);
int32_t SE_GetAnglesFromRotMatrix(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc,
                                  ScriptValue* args);
int32_t SE_GetAnglesFromVector(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_MatrixMultiplySelfRight(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc,
                                   ScriptValue* args);
int32_t SE_MatrixMultiplySelfLeft(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc,
                                  ScriptValue* args);
int32_t SE_MatrixMultiply(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_MatrixMultiplyInv(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_RotateVector(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_RotateVectorInv(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc, ScriptValue* args);
int32_t SE_ScriptComputeExpression(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc,
                                   ScriptValue* args);

// 139
int32_t SE_CalcGalaxyEscortOffset(SE_Context* ctx, int32_t callerModule, SE_Task* task, int32_t argc,
                                  ScriptValue* args);
