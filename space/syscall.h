// The handler of the space module's 358 engine calls: the in-call flag, the
// undefined numbers, the argument reading every call shares (a missing
// argument reads as INTEGER 0; nothing past the given arguments is read), the
// object lookup by ID, and the calls' table, of which calls 0 to 8 (creation,
// lookup, event objects, parent, placement, kill, damage) are here.
#pragma once

#include <cstdint>

#include "space/records.h"

struct SE_Task;

// One engine call as its implementation sees it.
struct SA_Call {
    int32_t callerModule;
    SE_Task* task;
    int32_t number;
    int32_t argc;
    const ScriptValue* args;

    // Argument i (INTEGER 0 when the call was not given it).
    const ScriptValue* Arg(int32_t i) const;
    int32_t Int(int32_t i) const;
    bool Given(int32_t i) const { return i >= 0 && i < argc; }
    // The object whose ID argument i holds, or null after the lookup's message.
    SectorObject* Object(int32_t i) const;
    // Tag 1: the payload; tag 7: the story object's ID; else `otherwise`.
    int32_t IdOrStoryObject(int32_t i, int32_t otherwise) const;
    bool IsTrue(int32_t i) const;
    // Answers INTEGER n at once; 1.
    int32_t Answer(int32_t n) const;
    // Moves the value into the task as its answer (releasing what is left); 1.
    int32_t AnswerValue(ScriptValue* value) const;
    // Answers an ARRAY of the integers (INTEGER 0 when none can be had); 1.
    int32_t AnswerArray(const int32_t* values, int32_t n) const;
};

using SA_CallFn = int32_t (*)(const SA_Call& call);
// The implementation of a call number, or null where the calls have not
// landed yet (they answer INTEGER 0); "SA_CheckDistances" (260) has none by
// design and says so in the log.
SA_CallFn SA_GetCallFn(int32_t number);
