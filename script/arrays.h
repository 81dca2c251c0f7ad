// Script arrays: shared, reference-counted runs of values whose elements come
// into being (all INTEGER 0) on first access.
#pragma once

#include <cstdint>

#include "script/values.h"

struct SAR {
    uint32_t id;  // key in the context's array table
    int32_t refCount;
    int32_t SAR_Size;       // >= 0 materialised count; -n: n elements not yet made
    int32_t SAR_MaxSize;    // capacity of elements
    ScriptValue* elements;  // null while not materialised or empty
};

ScriptValue* SV_ArrayAlloc(ScriptValue* target, int32_t n);
ScriptValue* SV_ArrayRead(ScriptValue* a, int32_t index);
ScriptValue* SV_ArrayWrite(ScriptValue* a, int32_t index, const ScriptValue* value);
ScriptValue* SV_ArrayWriteInt(ScriptValue* a, int32_t index, int32_t n);
ScriptValue* SV_ArrayWriteString(ScriptValue* a, int32_t index, const char* text);
ScriptValue* SV_ArrayWriteDString(ScriptValue* a, int32_t index, const char* text, int32_t length);
int32_t SV_ArraySize(const ScriptValue* a);
int32_t SV_ArrayResize(ScriptValue* a, int32_t n);
int32_t SV_ArrayInsert(ScriptValue* a, int32_t index, const ScriptValue* value);
int32_t SV_ArrayRemove(ScriptValue* a, int32_t index);
void SV_ArrayQSortByInt(ScriptValue* a, ScriptValue* keys, int32_t first, int32_t last, int descending);
void SV_ArrayQSortByName(ScriptValue* a, ScriptValue* keys, int32_t first, int32_t last, int descending);
// Frees the record of a cell whose count reached 0 (the release path only).
void SV_ArrayFree(ScriptValue* a);
