// Value operators of the interpreter: the result is written into the left
// operand a; b is left as it is. Unary operators work on their cell in place.
#pragma once

#include "script/values.h"

void SV_OpAdd(ScriptValue* a, const ScriptValue* b);
void SV_OpSub(ScriptValue* a, const ScriptValue* b);
void SV_OpMul(ScriptValue* a, const ScriptValue* b);
void SV_OpDiv(ScriptValue* a, const ScriptValue* b);
void SV_OpMod(ScriptValue* a, const ScriptValue* b);
void SV_OpAnd(ScriptValue* a, const ScriptValue* b);
void SV_OpOr(ScriptValue* a, const ScriptValue* b);
void SV_OpEor(ScriptValue* a, const ScriptValue* b);
void SV_OpLsh(ScriptValue* a, const ScriptValue* b);
void SV_OpRsh(ScriptValue* a, const ScriptValue* b);
void SV_OpLt(ScriptValue* a, const ScriptValue* b);
void SV_OpGt(ScriptValue* a, const ScriptValue* b);
void SV_OpLe(ScriptValue* a, const ScriptValue* b);
void SV_OpGe(ScriptValue* a, const ScriptValue* b);
void SV_OpEq(ScriptValue* a, const ScriptValue* b);
void SV_OpNe(ScriptValue* a, const ScriptValue* b);
void SV_OpMinus(ScriptValue* a);
void SV_OpNot(ScriptValue* a);
void SV_OpInv(ScriptValue* a);

// Saturating double to 32-bit integer conversion (NaN gives 0).
int32_t SV_DoubleToInt(double d);
