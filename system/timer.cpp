#include "system/timer.h"

#include <cstring>
#include <initializer_list>
#include <type_traits>

#include "base/file.h"
#include "base/general.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/random.h"
#include "script/lookup.h"
#include "script/modules.h"
#include "script/tasks.h"
#include "system/clock.h"

TimerBase* g_TimerBase = nullptr;

static const char* const s_callNames[TIMER_CALL_COUNT + 1] = {
    "TI_Delay",
    "TI_DelayRandom",
    "TI_GetAbsTime",
    "TI_CmpTime",
    "TI_WaitForStart",
    "TI_WaitForInterrupt",
    "TI_WaitRandomForInterrupt",
    "TI_Interrupt",
    "TI_GetLastFrameDelay",
    "TI_SetTimeWarpFactor",
    "TI_GetTimeWarpFactor",
    "TI_AddTime",
    "TI_SetAbsTime",
    "TI_GetRealTime",
    "TI_ReadSystemClock",
    nullptr,
};

const char* const* Timer_GetCallNames() { return s_callNames; }

static_assert(std::is_standard_layout_v<TimerEvent>, "a list link is its event");

static TimerEvent* EventOf(TimerLink* link) { return reinterpret_cast<TimerEvent*>(link); }

static int32_t GameClock() { return g_SystemState ? g_SystemState->gameClock : 0; }

// The clock advanced by a step that may lie beyond 32 bits.
static int32_t AdvanceClock(int32_t clock, int64_t step) {
    return S_ClockAdvance(clock, static_cast<int32_t>(step % S_CLOCK_SPAN));
}

// Tells the module that queued an event its value (nobody when no story is
// loaded or the module takes no integer answers).
static void Answer(int32_t module, uint32_t argument, int32_t value) { SE_CallerReturnInt(module, value, argument); }

// ---------------------------------------------------------------- lists

void Timer_ListInit(TimerList* list) {
    list->head.succ = &list->tail;
    list->head.pred = nullptr;
    list->tail.succ = nullptr;
    list->tail.pred = &list->head;
}

void Timer_ListInsert(TimerEvent* node, TimerList* list) {
    TimerLink* last = list->tail.pred;
    node->link.succ = &list->tail;
    node->link.pred = last;
    last->succ = &node->link;
    list->tail.pred = &node->link;
}

void Timer_ListUnlink(TimerEvent* node, TimerList*) {
    node->link.pred->succ = node->link.succ;
    node->link.succ->pred = node->link.pred;
    node->link.succ = nullptr;
    node->link.pred = nullptr;
}

int32_t Timer_ListCount(const TimerList* list) {
    int32_t n = 0;
    for (const TimerLink* l = list->head.succ; l->succ; l = l->succ) ++n;
    return n;
}

static bool ListEmpty(const TimerList* list) { return list->head.succ == &list->tail; }

static TimerEvent* ListFirst(TimerList* list) { return ListEmpty(list) ? nullptr : EventOf(list->head.succ); }

// Moves every node of `from` onto the tail of `to`, in order.
static void ListMoveAll(TimerList* from, TimerList* to) {
    while (TimerEvent* node = ListFirst(from)) {
        Timer_ListUnlink(node, from);
        Timer_ListInsert(node, to);
    }
}

// ---------------------------------------------------------------- nodes

TimerEvent* Timer_AllocNode(TimerBase* base) {
    if (TimerEvent* node = ListFirst(&base->freeList)) {
        Timer_ListUnlink(node, &base->freeList);
        base->freeCount--;
        *node = TimerEvent{};
        node->flags = TIMER_EVENT_POOL;
        return node;
    }
    TimerEvent* node = Int_AllocRecord<TimerEvent>(0);
    if (node) *node = TimerEvent{};
    return node;
}

void Timer_FreeNode(TimerBase* base, TimerEvent* node) {
    if (node->flags & TIMER_EVENT_POOL) {
        Timer_ListInsert(node, &base->freeList);
        base->freeCount++;
    } else {
        Int_FreeRecord(node, 0);
    }
}

// Answers and frees every node of a list collected beforehand. Each node is
// off every list of the base and freed before its answer goes out, so a
// callback that queues, cancels or clears events meets no node of this batch.
// With `remaining` the answer is the ms still ahead of the node's due time.
static void AnswerCollected(TimerBase* base, TimerList* collected, bool remaining) {
    while (TimerEvent* node = ListFirst(collected)) {
        Timer_ListUnlink(node, collected);
        int32_t module = node->module;
        uint32_t argument = node->argument;
        int32_t value = remaining ? S_ClockDiff(node->dueTime, GameClock()) : 0;
        Timer_FreeNode(base, node);
        Answer(module, argument, value);
    }
}

// ---------------------------------------------------------------- set-up and frame step

TimerBase* Timer_Init(TimerBase* base) {
    Qel_DPrintf(4, "INIT: TimerBase; Anfang!\n");
    if (!S_InitTimer()) Qel_ErrPrintf("INIT: TimerBase; Can't init System Timer!\n");
    if (!base) return nullptr;
    Timer_ListInit(&base->timed);
    Timer_ListInit(&base->waiting);
    Timer_ListInit(&base->freeList);
    for (TimerEvent& node : base->pool) {
        node = TimerEvent{};
        Timer_ListInsert(&node, &base->freeList);
    }
    base->freeCount = TIMER_POOL_SIZE;
    base->moduleNumber = 0;
    g_TimerBase = base;
    if (g_SEContext)
        base->moduleNumber =
            SB_RegisterEngineModule(g_SEContext, Timer_SysCallEntry, s_callNames, nullptr, nullptr, nullptr);
    Qel_DPrintf(4, "INIT: TimerBase; Ende!\n");
    return base;
}

void Timer_Update() {
    if (SystemState* sys = g_SystemState) {
        sys->gameFrameDelta = S_GetTimeDelta();
        sys->realFrameDelta = S_GetRealTimeDelta();
        S_updateFpsTimer();
    }
    TimerBase* base = g_TimerBase;
    if (!base) return;

    TimerList due;
    Timer_ListInit(&due);
    ListMoveAll(&base->waiting, &due);
    AnswerCollected(base, &due, false);

    int32_t now = GameClock();
    for (TimerLink* l = base->timed.head.succ; l->succ;) {
        TimerEvent* node = EventOf(l);
        l = l->succ;
        if (S_ClockDiff(node->dueTime, now) <= 0) {
            Timer_ListUnlink(node, &base->timed);
            Timer_ListInsert(node, &due);
        }
    }
    AnswerCollected(base, &due, false);
}

// ---------------------------------------------------------------- queueing

TimerEvent* Timer_AddEvent(int32_t delay, TimerBase* base, int32_t module, uint32_t argument) {
    int32_t range = delay >= 4096 ? 256 : delay / 16 + 1;
    int32_t jitter = Qel_LongRandom(static_cast<int16_t>(range));  // logs a range below 1
    TimerEvent* node = Timer_AllocNode(base);
    if (!node) {
        Answer(module, argument, 0);
        return nullptr;
    }
    node->module = static_cast<int16_t>(module);
    node->argument = argument;
    node->dueTime = AdvanceClock(GameClock(), static_cast<int64_t>(delay) + jitter);
    Timer_ListInsert(node, &base->timed);
    return node;
}

TimerEvent* Timer_AddOwnerEvent(uint32_t argument, int32_t module, TimerBase* base, int32_t delay, int32_t owner) {
    TimerEvent* node = Timer_AddEvent(delay, base, module, argument);
    if (node) {
        node->flags |= TIMER_EVENT_OWNER;
        node->owner = owner;
    }
    return node;
}

TimerEvent* Timer_AddWaitEvent(TimerBase* base, int32_t module, uint32_t argument) {
    TimerEvent* node = Timer_AllocNode(base);
    if (!node) {
        Answer(module, argument, 0);
        return nullptr;
    }
    node->module = static_cast<int16_t>(module);
    node->argument = argument;
    Timer_ListInsert(node, &base->waiting);
    return node;
}

void Timer_CancelOwner(TimerBase* base, int32_t owner) {
    TimerList hit;
    Timer_ListInit(&hit);
    for (TimerLink* l = base->timed.head.succ; l->succ;) {
        TimerEvent* node = EventOf(l);
        l = l->succ;
        if ((node->flags & TIMER_EVENT_OWNER) && node->owner == owner) {
            Timer_ListUnlink(node, &base->timed);
            Timer_ListInsert(node, &hit);
        }
    }
    AnswerCollected(base, &hit, true);
}

void Timer_ClearAll() {
    TimerBase* base = g_TimerBase;
    if (!base) return;
    TimerList all;
    Timer_ListInit(&all);
    ListMoveAll(&base->waiting, &all);
    ListMoveAll(&base->timed, &all);
    AnswerCollected(base, &all, false);
}

void Timer_FreeAllNodes(TimerBase* base) {
    if (!base) return;
    for (TimerList* list : {&base->timed, &base->waiting}) {
        while (TimerEvent* node = ListFirst(list)) {
            Timer_ListUnlink(node, list);
            Timer_FreeNode(base, node);
        }
    }
}

// ---------------------------------------------------------------- engine calls

// A delay from a story, brought into the span a due time can be told apart in
// (seconds × 1000 + ms and random additions are summed in 64 bits first).
static int32_t ScriptDelay(int64_t ms, int32_t call) {
    int32_t clamped = ms > TIMER_MAX_DELAY   ? TIMER_MAX_DELAY
                      : ms < TIMER_MIN_DELAY ? TIMER_MIN_DELAY
                                             : static_cast<int32_t>(ms);
    if (clamped != ms)
        Qel_ErrPrintf("%s %s: delay %lld ms out of range, clamped to %d ms\n", SE_PositionText(), s_callNames[call],
                      static_cast<long long>(ms), clamped);
    return clamped;
}

// A game-clock value from a story, brought into 0 .. 32,399,999.
static int32_t ScriptTime(int32_t t, int32_t call) {
    int32_t clamped = t < 0 ? 0 : t >= S_CLOCK_SPAN ? S_CLOCK_SPAN - 1 : t;
    if (clamped != t)
        Qel_ErrPrintf("%s %s: time %d out of range, clamped to %d\n", SE_PositionText(), s_callNames[call], t, clamped);
    return clamped;
}

// random(range) of the random-delay calls; a range below 1 adds nothing.
static int32_t RandomAddition(int32_t range) {
    if (range <= 0) {
        Qel_ErrPrintf("Qel_LongRandom: Wrong argument %d\n", range);
        return 0;
    }
    return Qel_Random(range);
}

int32_t Timer_SysCall(int32_t call, SE_Task* task, TimerBase* base, int32_t callerModule, int32_t argc,
                      ScriptValue* args) {
    SE_Context* ctx = g_SEContext;
    SystemState* sys = g_SystemState;
    // A call given fewer arguments than it reads sees 0 for the missing ones.
    auto arg = [&](int32_t i) -> int32_t { return args && i < argc ? args[i].i : 0; };
    uint32_t caller = task ? task->id : 0;
    if (!base || !sys) {
        SE_TaskReturnIntEx(task, ctx, 0);
        return 1;
    }

    switch (call) {
        case 0: {  // TI_Delay
            int64_t ms = argc == 2 ? static_cast<int64_t>(arg(0)) * 1000 + arg(1) : arg(0);
            Timer_AddEvent(ScriptDelay(ms, call), base, callerModule, caller);
            break;
        }
        case 1: {  // TI_DelayRandom
            int64_t ms = static_cast<int64_t>(arg(0)) + RandomAddition(arg(1));
            Timer_AddEvent(ScriptDelay(ms, call), base, callerModule, caller);
            break;
        }
        case 2:  // TI_GetAbsTime
            SE_TaskReturnIntEx(task, ctx, sys->gameClock);
            break;
        case 3:  // TI_CmpTime
            SE_TaskReturnIntEx(task, ctx, S_ClockDiff(ScriptTime(arg(0), call), ScriptTime(arg(1), call)));
            break;
        case 4:  // TI_WaitForStart
            Timer_AddWaitEvent(base, callerModule, caller);
            break;
        case 5:  // TI_WaitForInterrupt
            Timer_AddOwnerEvent(caller, callerModule, base, ScriptDelay(arg(0), call), arg(1));
            break;
        case 6: {  // TI_WaitRandomForInterrupt
            int64_t ms = static_cast<int64_t>(arg(0)) + RandomAddition(arg(1));
            Timer_AddOwnerEvent(caller, callerModule, base, ScriptDelay(ms, call), arg(2));
            break;
        }
        case 7:  // TI_Interrupt
            Timer_CancelOwner(base, arg(0));
            SE_TaskReturnIntEx(task, ctx, 0);
            break;
        case 8:  // TI_GetLastFrameDelay
            SE_TaskReturnIntEx(task, ctx, sys->gameFrameDelta);
            break;
        case 9:  // TI_SetTimeWarpFactor
            sys->gameTimeScale = arg(0);
            SE_TaskReturnIntEx(task, ctx, 1);
            break;
        case 10:  // TI_GetTimeWarpFactor
            SE_TaskReturnIntEx(task, ctx, sys->gameTimeScale);
            break;
        case 11:  // TI_AddTime
            SE_TaskReturnIntEx(task, ctx, S_ClockAdvance(ScriptTime(arg(0), call), arg(1)));
            break;
        case 12: {  // TI_SetAbsTime
            int32_t t = ScriptTime(arg(0), call);
            sys->gameFrameDelta = 0;
            sys->gameClock = t;
            SE_TaskReturnIntEx(task, ctx, t);
            break;
        }
        case 13:  // TI_GetRealTime
            SE_TaskReturnIntEx(task, ctx, sys->realClock);
            break;
        case 14:  // TI_ReadSystemClock
            SE_TaskReturnIntEx(task, ctx, S_ReadSystemClock());
            break;
        default:
            Qel_BannerPrintf("Timer_SysCall (%s) : Undefined System Call %d\n", SE_GetCurrentDebugAddress(), call);
            SE_TaskReturnIntEx(task, ctx, 0);
            break;
    }
    return 1;
}

int32_t Timer_SysCallEntry(int32_t callerModule, SE_Task* task, int32_t call, int32_t argc, ScriptValue* args) {
    return Timer_SysCall(call, task, g_TimerBase, callerModule, argc, args);
}

// ---------------------------------------------------------------- save game

static const char kTimeTag[4] = {'T', 'I', 'M', 'E'};

static void PutBig32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

static uint32_t GetBig32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
           p[3];
}

int Timer_SaveGame(QelFile* file, TimerBase* base) {
    uint8_t head[8];
    std::memcpy(head, kTimeTag, 4);
    PutBig32(head + 4, base ? static_cast<uint32_t>(Timer_ListCount(&base->timed)) : 0u);
    bool ok = Qel_fwriteBlock(file, 1, sizeof head, head) == sizeof head;
    for (TimerLink* l = base ? base->timed.head.succ : nullptr; ok && l && l->succ; l = l->succ) {
        const TimerEvent* node = EventOf(l);
        uint8_t rec[TIMER_DELAY_SAVE_SIZE];
        PutBig32(rec, static_cast<uint32_t>(static_cast<int32_t>(node->module)));
        PutBig32(rec + 4, node->flags);
        PutBig32(rec + 8, node->argument);
        PutBig32(rec + 12, static_cast<uint32_t>(node->dueTime));
        PutBig32(rec + 16, static_cast<uint32_t>(node->owner));
        ok = Qel_fwriteBlock(file, 1, sizeof rec, rec) == sizeof rec;
    }
    if (!ok) Qel_ErrPrintf("P_Save: Failed writing TIME section!\n");
    return ok ? 1 : 0;
}

// A module number a saved event may name: one the registry has given out.
static bool KnownModule(int32_t module) {
    const SE_Context* ctx = g_SEContext;
    return ctx && module > 0 && module < ctx->nextModule;
}

int Timer_LoadGame(QelFile* file, TimerBase* base) {
    uint8_t tag[4];
    if (Qel_fread(file, 1, sizeof tag, tag) != sizeof tag || std::memcmp(tag, kTimeTag, 4) != 0) {
        Qel_ErrPrintf("P_Load: Wrong TIME cookie\n");
        return 0;
    }
    uint8_t word[4];
    if (Qel_fread(file, 1, sizeof word, word) != sizeof word) {
        Qel_ErrPrintf("P_Load: Failed reading TIME count!\n");
        return 0;
    }
    uint32_t count = GetBig32(word);
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t rec[TIMER_DELAY_SAVE_SIZE];
        if (Qel_fread(file, 1, sizeof rec, rec) != sizeof rec) {
            Qel_ErrPrintf("P_Load: Failed reading TimerDelaySave!\n");
            return 0;
        }
        TimerDelaySave saved{static_cast<int32_t>(GetBig32(rec)), GetBig32(rec + 4), GetBig32(rec + 8),
                             static_cast<int32_t>(GetBig32(rec + 12)), static_cast<int32_t>(GetBig32(rec + 16))};
        // Checked before a node is taken: an event must never name a module
        // the registry does not hold.
        if (!KnownModule(saved.TD_EngineID)) {
            Qel_ErrPrintf("P_Load: TimerDelay sanity check (TD_EngineID) failed!\n");
            return 0;
        }
        TimerEvent* node = base ? Timer_AllocNode(base) : nullptr;
        if (!node) {
            Qel_ErrPrintf("P_Load: Failed re-allocating Timer Delay!\n");
            return 0;
        }
        node->module = static_cast<int16_t>(saved.TD_EngineID);
        node->argument = saved.argument;
        node->dueTime = saved.dueTime;
        node->owner = saved.owner;
        node->flags |= static_cast<uint16_t>(saved.flags & ~uint32_t{TIMER_EVENT_POOL});
        Timer_ListInsert(node, &base->timed);
    }
    return 1;
}
