// Timed events: story tasks (and any engine module) wait for a number of
// game-time milliseconds, for the next frame, or for an interrupt by owner
// with a time-out. The TI_ engine-call module, advanced once per frame; its
// timed events travel in every save game ("TIME" section).
#pragma once

#include <cstdint>

struct QelFile;
struct ScriptValue;
struct SE_Task;

// Node flags.
constexpr uint16_t TIMER_EVENT_POOL = 0x2;   // the node belongs to the pool (else the heap)
constexpr uint16_t TIMER_EVENT_OWNER = 0x4;  // has an owner and can be interrupted

constexpr int32_t TIMER_POOL_SIZE = 5000;
// The TI_ engine calls (the call-name table holds this many names and a null).
constexpr int32_t TIMER_CALL_COUNT = 15;

// Delays a script may ask for. Clock differences fold at half a turn: the
// largest keeps the due time (jitter included) less than half a turn ahead,
// so it is still seen as ahead; the smallest lies a quarter turn back, so it
// is still seen as past after the clock has moved on by a long step.
constexpr int32_t TIMER_MAX_DELAY = 16200000 - 256;
constexpr int32_t TIMER_MIN_DELAY = -8100000;

struct TimerLink {
    TimerLink* succ;
    TimerLink* pred;
};

// One pending event.
struct TimerEvent {
    TimerLink link;     // first field: a list link is its event
    int16_t module;     // the engine module to answer
    uint16_t flags;     // TIMER_EVENT_*
    uint32_t argument;  // handed back to the module's ReturnInt (a task id for stories)
    int32_t dueTime;    // game clock (ms) at which the event fires
    int32_t owner;      // any value the story chooses
};

// A list whose two sentinels close both ends: head.succ is the first node and
// head.pred always null; tail.succ always null and tail.pred the last node.
// Walking stops at the node whose successor is null (the tail sentinel).
struct TimerList {
    TimerLink head;
    TimerLink tail;
};

struct TimerBase {
    TimerList timed;    // events with a due time, in the order queued
    TimerList waiting;  // answered at the next update
    TimerEvent pool[TIMER_POOL_SIZE];
    TimerList freeList;  // pool records not in use
    int32_t freeCount;
    int32_t moduleNumber;  // given by the script engine's registry
};

// One saved event of the "TIME" section: five big-endian 32-bit words.
struct TimerDelaySave {
    int32_t TD_EngineID;  // the module number, sign-extended
    uint32_t flags;       // node flags, zero-extended
    uint32_t argument;
    int32_t dueTime;
    int32_t owner;
};
constexpr uint32_t TIMER_DELAY_SAVE_SIZE = 20;

// The one TimerBase; main allocates its memory and hands it to Timer_Init,
// which also makes it the global one.
extern TimerBase* g_TimerBase;

// Builds the object in `memory`, starts the clocks and registers the TI_
// module; returns the object.
TimerBase* Timer_Init(TimerBase* memory);
// Per frame, before the message pump: game and real frame deltas, frame rate,
// then the waiting events and the due timed events.
void Timer_Update();

// Queue an event; when no node can be had the requester is answered 0 at once
// and null is returned.
TimerEvent* Timer_AddEvent(int32_t delay, TimerBase* base, int32_t module, uint32_t argument);
TimerEvent* Timer_AddOwnerEvent(uint32_t argument, int32_t module, TimerBase* base, int32_t delay, int32_t owner);
TimerEvent* Timer_AddWaitEvent(TimerBase* base, int32_t module, uint32_t argument);
// Answers every timed owner event of `owner` with its remaining ms and frees it.
void Timer_CancelOwner(TimerBase* base, int32_t owner);
// Answers every event with 0 (waiting ones first) and frees it.
void Timer_ClearAll();
// Frees every event without answering (exit).
void Timer_FreeAllNodes(TimerBase* base);

// A pool node (flag TIMER_EVENT_POOL) or a new heap node; null when the heap fails.
TimerEvent* Timer_AllocNode(TimerBase* base);
void Timer_FreeNode(TimerBase* base, TimerEvent* node);
void Timer_ListInit(TimerList* list);
void Timer_ListInsert(TimerEvent* node, TimerList* list);  // at the tail
void Timer_ListUnlink(TimerEvent* node, TimerList* list);
// Events in a list.
int32_t Timer_ListCount(const TimerList* list);

// The TI_ engine calls; returns 1.
int32_t Timer_SysCall(int32_t call, SE_Task* task, TimerBase* base, int32_t callerModule, int32_t argc,
                      ScriptValue* args);
// The registry's handler: Timer_SysCall with the global TimerBase.
int32_t Timer_SysCallEntry(int32_t callerModule, SE_Task* task, int32_t call, int32_t argc, ScriptValue* args);
// The call-name table (index = call number), ended by a null entry.
const char* const* Timer_GetCallNames();

// The "TIME" section of a save game: the tag, the count of timed events and
// one TimerDelaySave per timed event in list order (waiting events are not
// kept). Both return 1, or 0 after a log line.
int Timer_SaveGame(QelFile* file, TimerBase* base);
// Appends the saved events to the timed list of `base`.
int Timer_LoadGame(QelFile* file, TimerBase* base);
