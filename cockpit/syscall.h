// The handler of the cockpit's engine-call module (module 10): the undefined
// numbers, the calls on cockpits, their cameras, references, texts, radar
// and tracking (0 to 41; 42 to 129 are in cockpit/viewcalls), and the seams
// through which the text displays and tracking (cockpit/tracking) behind 17
// to 20, 31, 32 and 35 to 39 are reached. Arguments are read as the space module's
// calls read them: a missing one reads as INTEGER 0.
#pragma once

#include <cstdint>

#include "cockpit/cockpits.h"
#include "space/syscall.h"

// Registers module 10 with its 130 call names and keeps the module number.
void INS_RegisterSysCalls();
// Answers every call at once (but a text display that answers later); 1.
int32_t INS_SysCall(int32_t callerModule, SE_Task* task, int32_t call, int32_t argc, ScriptValue* args);
// The module's integer reply callback: the answer lands in the system's slot.
void INS_ReturnIntCallback(uint32_t handle, int32_t value);
// Starts a story function of the object with integer arguments and answers
// what it returned at once, 0 when it did not (missing, waiting, no system).
// The slot is cleared first, so an earlier answer is never taken for it.
int32_t INS_RunStoryInt(int32_t objectId, const char* name, int32_t argc, int32_t a0 = 0, int32_t a1 = 0,
                        int32_t a2 = 0, int32_t a3 = 0);

using INS_CallFn = int32_t (*)(const SA_Call& call);

// The cockpit the call's first argument names, or null.
Cockpit* INS_CallCockpit(const SA_Call& c);
// Calls that set or answer one field of the named cockpit; a missing
// cockpit changes nothing and answers 0. An object argument of 0 clears the
// reference, a missing object keeps it.
template <int32_t Cockpit::*Field>
int32_t INS_SetCockpitInt(const SA_Call& c) {
    if (Cockpit* k = INS_CallCockpit(c)) k->*Field = c.Int(1);
    return c.Answer(0);
}
template <int32_t Cockpit::*Field>
int32_t INS_GetCockpitInt(const SA_Call& c) {
    const Cockpit* k = INS_CallCockpit(c);
    return c.Answer(k ? k->*Field : 0);
}
template <SectorObject* Cockpit::*Field>
int32_t INS_SetCockpitObject(const SA_Call& c) {
    Cockpit* k = INS_CallCockpit(c);
    if (!k) return c.Answer(0);
    SectorObject* object = c.Int(1) ? c.Object(1) : nullptr;
    if (object || !c.Int(1)) k->*Field = object;
    return c.Answer(0);
}

// The text displays and the tracking; a display not filled shows nothing.
struct INSDisplayLink {
    void (*cameraMessage)(Cockpit* cockpit, const char* text);  // null text clears the box
    void (*navMap)(Cockpit* cockpit, int32_t value);
    void (*staticText)(Cockpit* cockpit, const char* text);
    void (*clearText)(Cockpit* cockpit, int32_t value);
    // A text shown for the 16-bit value (the four-argument form with its
    // fourth value): it answers the call, now or when the text is done.
    int32_t (*displayText)(Cockpit* cockpit, const SA_Call& call, const char* text, int32_t value, bool long_form,
                           int32_t fourth);
    void (*message)(Cockpit* cockpit, const char* text, int32_t duration);
    // Tracking in the mode (1 tracking, 3 the object, 4 enemies; 0 stops).
    void (*track)(Cockpit* cockpit, int32_t mode, SectorObject* object);
};
extern INSDisplayLink g_INSDisplays;
