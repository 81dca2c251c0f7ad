#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "base/file.h"
#include "base/general.h"
#include "base/memory.h"
#include "base/random.h"
#include "platform/win32/timer.h"
#include "script/modules.h"
#include "script/tasks.h"
#include "support/gamefolder.h"
#include "support/logcapture.h"
#include "support/script_run.h"
#include "system/clock.h"
#include "system/timer.h"

using testing::HasSubstr;
using testing::Not;

namespace {

// One story function per TI_ call and argument count: "TI_Delay2" passes its
// two arguments to "TI_Delay" and returns the answer.
std::string CallStory() {
    std::string s;
    for (const char* const* name = Timer_GetCallNames(); *name; ++name) {
        for (int argc = 0; argc <= 3; ++argc) {
            s += ".func \"" + std::string(*name) + std::to_string(argc) + "\" need 12\n";
            // The last argument goes first, so argument 0 ends nearest the count.
            for (int i = 0; i < argc; ++i) s += "    getl " + std::to_string(3 + argc) + "\n";
            s += "    c" + std::to_string(argc) + "\n";
            s += "    sys \"" + std::string(*name) + "\"\n";
            s += "    ret\n";
        }
    }
    return s;
}

// A module of the test that queues its own events: its ReturnInt records
// every answer and may act on the timer from inside the answer.
struct ModuleAnswer {
    uint32_t argument;
    int32_t value;
    bool operator==(const ModuleAnswer&) const = default;
};
std::vector<ModuleAnswer> s_moduleAnswers;
void (*s_onAnswer)(uint32_t argument) = nullptr;

void ModuleReturnInt(uint32_t argument, int32_t value) {
    s_moduleAnswers.push_back({argument, value});
    if (s_onAnswer) s_onAnswer(argument);
}

int32_t NoCalls(int32_t, SE_Task* task, int32_t, int32_t, ScriptValue*) {
    SE_TaskReturnInt(task, 0);
    return 1;
}
const char* const kModuleNames[] = {"X_Nothing", nullptr};

class TimerTest : public testing::Test {
protected:
    void SetUp() override {
        savedState_ = g_SystemState;
        g_SystemState = &sys_;
        Win32_SetTimerSeam(&seam_);
        Qel_SeedRandom(1);
        s_moduleAnswers.clear();
        s_onAnswer = nullptr;
        base_ = Int_AllocRecord<TimerBase>(0);
        ASSERT_NE(base_, nullptr);
        ASSERT_EQ(Timer_Init(base_), base_);
        module_ = SB_RegisterEngineModule(r_.ctx(), NoCalls, kModuleNames, ModuleReturnInt, nullptr, nullptr);
        ASSERT_TRUE(r_.Load(CallStory()));
        // A clock no earlier test ended on, so the log's per-frame budget starts afresh.
        static int32_t s_clock = 1000;
        s_clock += 100000;
        sys_.gameClock = s_clock;
    }
    void TearDown() override {
        s_onAnswer = nullptr;
        Timer_FreeAllNodes(base_);
        Int_FreeRecord(base_, 0);
        g_TimerBase = nullptr;
        Win32_SetTimerSeam(nullptr);
        g_SystemState = savedState_;
    }

    // One frame of `ms` real milliseconds: the timer steps, ready tasks run.
    void Frame(int32_t ms) {
        seam_.counter += static_cast<int64_t>(ms) * 1000;
        sys_.frameCounter++;
        Timer_Update();
        SE_RunAllTasks();
    }
    std::vector<TimerEvent*> Events(TimerList& list) const {
        std::vector<TimerEvent*> out;
        for (TimerLink* l = list.head.succ; l->succ; l = l->succ) out.push_back(reinterpret_cast<TimerEvent*>(l));
        return out;
    }
    std::vector<TimerEvent*> Timed() { return Events(base_->timed); }
    // How far ahead of the game clock an event is due.
    int32_t Ahead(const TimerEvent* e) const { return S_ClockDiff(e->dueTime, sys_.gameClock); }
    // The answers the story functions returned to the test module, by caller.
    std::vector<std::pair<uint32_t, int32_t>> Got() const {
        std::vector<std::pair<uint32_t, int32_t>> out;
        for (const RunAnswer& a : r_.answers) out.emplace_back(a.callerNumber, a.n);
        return out;
    }

    StoryRunner r_;  // the script context: module 1, the test module 2; the timer is 3
    SystemState sys_{};
    SystemState* savedState_ = nullptr;
    Win32TimerSeam seam_{1000000, 1000000, false, false};  // 1 MHz
    TimerBase* base_ = nullptr;
    int32_t module_ = 0;
};

using Answer = std::pair<uint32_t, int32_t>;
using Answers = std::vector<Answer>;

TEST_F(TimerTest, InitBuildsThePoolAndRegistersTheModule) {
    EXPECT_EQ(g_TimerBase, base_);
    EXPECT_EQ(base_->moduleNumber, 3);
    const EngineModuleEntry& rec = r_.ctx()->modules[3];
    EXPECT_EQ(rec.handler, &Timer_SysCallEntry);
    EXPECT_EQ(rec.ReturnInt, nullptr);
    EXPECT_EQ(rec.ReturnString, nullptr);
    EXPECT_EQ(rec.ReturnValue, nullptr);
    EXPECT_EQ(rec.callNames, Timer_GetCallNames());

    const char* const* names = Timer_GetCallNames();
    int n = 0;
    while (names[n]) ++n;
    EXPECT_EQ(n, TIMER_CALL_COUNT);
    EXPECT_STREQ(names[0], "TI_Delay");
    EXPECT_STREQ(names[5], "TI_WaitForInterrupt");
    EXPECT_STREQ(names[7], "TI_Interrupt");
    EXPECT_STREQ(names[14], "TI_ReadSystemClock");

    EXPECT_EQ(base_->freeCount, TIMER_POOL_SIZE);
    std::vector<TimerEvent*> free = Events(base_->freeList);
    ASSERT_EQ(free.size(), static_cast<size_t>(TIMER_POOL_SIZE));
    EXPECT_EQ(free.front(), &base_->pool[0]);
    EXPECT_EQ(free.back(), &base_->pool[TIMER_POOL_SIZE - 1]);
    EXPECT_TRUE(Timed().empty());
    EXPECT_TRUE(Events(base_->waiting).empty());
}

struct JitterCase {
    int32_t delay;
    int32_t earliest, latest;  // how far ahead the event may be due
    bool logs;                 // the jitter range is below 1
};

TEST_F(TimerTest, EventsAreDueAfterTheirDelayPlusJitter) {
    const JitterCase cases[] = {
        {0, 0, 0, false},  // range 1: no jitter
        {15, 15, 15, false},
        {100, 100, 106, false},     // range 7
        {4095, 4095, 4350, false},  // range 256
        {10000, 10000, 10255, false},
        {-40, -40, -40, true},  // range -1
    };
    for (const JitterCase& c : cases) {
        SCOPED_TRACE(c.delay);
        int32_t lo = INT_MAX, hi = INT_MIN;
        LogCapture capture;
        const int reps = c.logs ? 2 : 300;
        for (int i = 0; i < reps; ++i) {
            TimerEvent* e = Timer_AddEvent(c.delay, base_, module_, static_cast<uint32_t>(i));
            ASSERT_NE(e, nullptr);
            EXPECT_EQ(e->module, module_);
            EXPECT_EQ(e->argument, static_cast<uint32_t>(i));
            EXPECT_EQ(e->flags, TIMER_EVENT_POOL);
            lo = std::min(lo, Ahead(e));
            hi = std::max(hi, Ahead(e));
        }
        std::string log = capture.Take();
        EXPECT_GE(lo, c.earliest);
        EXPECT_LE(hi, c.latest);
        if (c.latest - c.earliest < 10) {  // small ranges: every jitter value shows up
            EXPECT_EQ(lo, c.earliest);
            EXPECT_EQ(hi, c.latest);
        }
        if (c.logs) EXPECT_THAT(log, HasSubstr("Qel_LongRandom: Wrong argument -1\n"));
        else EXPECT_EQ(log, "");
        EXPECT_EQ(static_cast<int>(Timed().size()), reps);
        Timer_FreeAllNodes(base_);
        EXPECT_EQ(base_->freeCount, TIMER_POOL_SIZE);
    }
    EXPECT_TRUE(s_moduleAnswers.empty());
}

TEST_F(TimerTest, DelayAnswersTheTaskOnceTheGameClockPassesTheDueTime) {
    r_.Start(0, "TI_Delay1", {100}, SE_RETURN_INT, 7);
    EXPECT_TRUE(r_.answers.empty());
    std::vector<TimerEvent*> timed = Timed();
    ASSERT_EQ(timed.size(), 1u);
    std::vector<SE_Task*> waiting = r_.Waiting();
    ASSERT_EQ(waiting.size(), 1u);
    EXPECT_EQ(timed[0]->module, SE_OWN_MODULE);
    EXPECT_EQ(timed[0]->argument, waiting[0]->id);
    Frame(50);
    Frame(40);  // 90 ms: not yet
    EXPECT_TRUE(r_.answers.empty());
    Frame(20);  // 110 ms: past 100 + jitter
    EXPECT_EQ(Got(), (Answers{{7, 0}}));
    EXPECT_TRUE(Timed().empty());
    EXPECT_EQ(base_->freeCount, TIMER_POOL_SIZE);
    EXPECT_TRUE(r_.Waiting().empty());
}

TEST_F(TimerTest, DelayTakesSecondsAndMillisecondsFromTwoArguments) {
    r_.Start(0, "TI_Delay2", {2, 500}, SE_RETURN_INT, 1);
    std::vector<TimerEvent*> timed = Timed();
    ASSERT_EQ(timed.size(), 1u);
    EXPECT_GE(Ahead(timed[0]), 2500);
    EXPECT_LT(Ahead(timed[0]), 2500 + 2500 / 16 + 1);
    Frame(200);
    EXPECT_TRUE(r_.answers.empty());
}

TEST_F(TimerTest, ZeroAndNegativeDelaysAnswerAtTheNextUpdate) {
    r_.Start(0, "TI_Delay1", {0}, SE_RETURN_INT, 1);
    LogCapture capture;
    r_.Start(0, "TI_Delay1", {-40}, SE_RETURN_INT, 2);
    EXPECT_THAT(capture.Take(), HasSubstr("Qel_LongRandom: Wrong argument -1\n"));
    ASSERT_EQ(Timed().size(), 2u);
    EXPECT_EQ(Ahead(Timed()[0]), 0);
    EXPECT_EQ(Ahead(Timed()[1]), -40);
    EXPECT_TRUE(r_.answers.empty());
    Frame(1);
    EXPECT_EQ(Got(), (Answers{{2, 0}, {1, 0}}));  // woken tasks go to the head of the ready list
}

TEST_F(TimerTest, DelayRandomAddsARandomPartAndRefusesABadRange) {
    r_.Start(0, "TI_DelayRandom2", {5000, 1000}, SE_RETURN_INT, 1);
    LogCapture capture;
    r_.Start(0, "TI_DelayRandom2", {5000, 0}, SE_RETURN_INT, 2);
    EXPECT_THAT(capture.Take(), HasSubstr("Qel_LongRandom: Wrong argument 0\n"));
    std::vector<TimerEvent*> timed = Timed();
    ASSERT_EQ(timed.size(), 2u);
    EXPECT_GE(Ahead(timed[0]), 5000);
    EXPECT_LT(Ahead(timed[0]), 5000 + 999 + 256);
    EXPECT_GE(Ahead(timed[1]), 5000);
    EXPECT_LT(Ahead(timed[1]), 5000 + 256);
}

TEST_F(TimerTest, InterruptAnswersEveryWaiterOfTheOwnerWithItsRemainingTime) {
    r_.Start(0, "TI_WaitForInterrupt2", {1000, 7}, SE_RETURN_INT, 1);
    r_.Start(0, "TI_WaitForInterrupt2", {1000, 8}, SE_RETURN_INT, 2);
    r_.Start(0, "TI_WaitRandomForInterrupt3", {1000, 50, 7}, SE_RETURN_INT, 3);
    std::vector<TimerEvent*> timed = Timed();
    ASSERT_EQ(timed.size(), 3u);
    for (TimerEvent* e : timed) EXPECT_EQ(e->flags, TIMER_EVENT_POOL | TIMER_EVENT_OWNER);
    EXPECT_EQ(timed[0]->owner, 7);
    EXPECT_EQ(timed[1]->owner, 8);
    EXPECT_EQ(timed[2]->owner, 7);
    int32_t remaining1 = Ahead(timed[0]) - 100;
    int32_t remaining3 = Ahead(timed[2]) - 100;
    Frame(100);
    EXPECT_TRUE(r_.answers.empty());

    r_.Start(0, "TI_Interrupt1", {7}, SE_RETURN_INT, 4);
    EXPECT_EQ(Got(), (Answers{{4, 0}}));  // the interrupter is answered at once
    SE_RunAllTasks();
    ASSERT_EQ(r_.answers.size(), 3u);
    EXPECT_EQ(Got()[1], (Answer{3, remaining3}));
    EXPECT_EQ(Got()[2], (Answer{1, remaining1}));
    EXPECT_GE(remaining1, 900);
    EXPECT_LT(remaining1, 963);

    // The other owner's waiter times out with 0.
    ASSERT_EQ(Timed().size(), 1u);
    for (int i = 0; i < 5; ++i) Frame(200);
    EXPECT_EQ(Got().back(), (Answer{2, 0}));
    EXPECT_TRUE(Timed().empty());
    EXPECT_EQ(base_->freeCount, TIMER_POOL_SIZE);
}

TEST_F(TimerTest, WaitForStartIsAnsweredAtTheNextUpdateEvenWithTimeStopped) {
    r_.Start(0, "TI_SetTimeWarpFactor1", {0}, SE_RETURN_INT, 1);
    EXPECT_EQ(sys_.gameTimeScale, 0);
    int32_t clock = sys_.gameClock;
    r_.Start(0, "TI_WaitForStart0", {}, SE_RETURN_INT, 2);
    EXPECT_EQ(Events(base_->waiting).size(), 1u);
    EXPECT_TRUE(Timed().empty());
    Frame(16);
    EXPECT_EQ(sys_.gameClock, clock);
    EXPECT_EQ(Got(), (Answers{{1, 1}, {2, 0}}));
    EXPECT_TRUE(Events(base_->waiting).empty());
}

struct ImmediateCase {
    const char* function;
    std::vector<int32_t> args;
    int32_t answer;
};

TEST_F(TimerTest, CallsThatAnswerAtOnce) {
    const ImmediateCase cases[] = {
        {"TI_GetAbsTime0", {}, 4000},
        {"TI_CmpTime2", {10, 32399990}, 20},
        {"TI_CmpTime2", {32399990, 10}, -20},
        {"TI_AddTime2", {32399990, 20}, 10},
        {"TI_AddTime2", {10, -20}, 32399990},
        {"TI_SetAbsTime1", {5000}, 5000},
        {"TI_GetLastFrameDelay0", {}, 16},
        {"TI_SetTimeWarpFactor1", {32768}, 1},
        {"TI_GetTimeWarpFactor0", {}, 65536},
        {"TI_GetRealTime0", {}, 777},
        {"TI_ReadSystemClock0", {}, 779},  // 2 ms of counter pass first
        {"TI_CmpTime1", {10}, 10},         // a missing argument reads as 0
    };
    for (const ImmediateCase& c : cases) {
        SCOPED_TRACE(c.function);
        S_ReadSystemClock();  // the counter is read up to now
        sys_.gameClock = 4000;
        sys_.gameFrameDelta = 16;
        sys_.gameTimeScale = 65536;
        sys_.realClock = 777;
        seam_.counter += 2000;
        r_.answers.clear();
        r_.Start(0, c.function, c.args, SE_RETURN_INT, 1);
        EXPECT_EQ(Got(), (Answers{{1, c.answer}}));
    }
    EXPECT_TRUE(Timed().empty());
}

TEST_F(TimerTest, SetTimeWarpAndSetAbsTimeChangeTheClockRecord) {
    sys_.gameFrameDelta = 16;
    r_.Start(0, "TI_SetAbsTime1", {123456}, SE_RETURN_INT, 1);
    EXPECT_EQ(sys_.gameClock, 123456);
    EXPECT_EQ(sys_.gameFrameDelta, 0);
    r_.Start(0, "TI_SetTimeWarpFactor1", {131072}, SE_RETURN_INT, 2);
    EXPECT_EQ(sys_.gameTimeScale, 131072);
    Frame(10);
    EXPECT_EQ(sys_.gameClock, 123456 + 20);
    Frame(10);
    EXPECT_EQ(sys_.gameClock, 123456 + 40);
    EXPECT_EQ(sys_.gameFrameDelta, 20);
    EXPECT_EQ(sys_.realFrameDelta, 10);
}

struct ClampCase {
    const char* function;
    std::vector<int32_t> args;
    int32_t answer;  // for calls that answer at once
    const char* logged;
};

TEST_F(TimerTest, TimesOutsideTheClockSpanAreClampedWithALogLine) {
    const ClampCase cases[] = {
        {"TI_SetAbsTime1", {-5}, 0, "TI_SetAbsTime: time -5 out of range, clamped to 0\n"},
        {"TI_SetAbsTime1", {40000000}, 32399999, "TI_SetAbsTime: time 40000000 out of range, clamped to 32399999\n"},
        {"TI_CmpTime2", {INT_MAX, 0}, -1, "TI_CmpTime: time 2147483647 out of range, clamped to 32399999\n"},
        {"TI_CmpTime2", {0, INT_MIN}, 0, "TI_CmpTime: time -2147483648 out of range, clamped to 0\n"},
        {"TI_AddTime2", {-1, 5}, 5, "TI_AddTime: time -1 out of range, clamped to 0\n"},
    };
    for (const ClampCase& c : cases) {
        SCOPED_TRACE(c.function);
        r_.answers.clear();
        LogCapture capture;
        r_.Start(0, c.function, c.args, SE_RETURN_INT, 1);
        EXPECT_THAT(capture.Take(), HasSubstr(c.logged));
        EXPECT_EQ(Got(), (Answers{{1, c.answer}}));
    }
    r_.answers.clear();
    LogCapture capture;
    r_.Start(0, "TI_AddTime2", {32399999, INT_MIN}, SE_RETURN_INT, 1);  // deltas of any size wrap
    EXPECT_THAT(capture.Take(), Not(HasSubstr("out of range")));
    EXPECT_EQ(Got(), (Answers{{1, S_ClockAdvance(32399999, INT_MIN)}}));
}

struct DelayClampCase {
    const char* function;
    std::vector<int32_t> args;
    int32_t earliest, latest;  // how far ahead the event is due
    const char* logged;
};

TEST_F(TimerTest, DelaysOutsideHalfAClockTurnAreClampedWithoutOverflow) {
    const DelayClampCase cases[] = {
        {"TI_Delay1",
         {INT_MAX},
         TIMER_MAX_DELAY,
         TIMER_MAX_DELAY + 255,
         "TI_Delay: delay 2147483647 ms out of range, clamped to 16199744 ms\n"},
        // 2147483 s and 647000 ms: beyond 32 bits once summed.
        {"TI_Delay2",
         {2147483, 647000},
         TIMER_MAX_DELAY,
         TIMER_MAX_DELAY + 255,
         "TI_Delay: delay 2148130000 ms out of range, clamped to 16199744 ms\n"},
        {"TI_Delay2",
         {-2147483, -649000},
         TIMER_MIN_DELAY,
         TIMER_MIN_DELAY + 32767,
         "TI_Delay: delay -2148132000 ms out of range, clamped to -8100000 ms\n"},
        {"TI_Delay1", {16300000}, TIMER_MAX_DELAY, TIMER_MAX_DELAY + 255, "clamped to 16199744 ms\n"},
        {"TI_DelayRandom2", {INT_MAX, INT_MAX}, TIMER_MAX_DELAY, TIMER_MAX_DELAY + 255, "TI_DelayRandom: delay "},
        {"TI_WaitForInterrupt2",
         {INT_MIN, 3},
         TIMER_MIN_DELAY,
         TIMER_MIN_DELAY + 32767,
         "TI_WaitForInterrupt: delay -2147483648 ms out of range, clamped to -8100000 ms\n"},
        {"TI_WaitRandomForInterrupt3",
         {INT_MAX, 10, 3},
         TIMER_MAX_DELAY,
         TIMER_MAX_DELAY + 255,
         "TI_WaitRandomForInterrupt: delay 2147483"},
    };
    uint32_t caller = 0;
    for (const DelayClampCase& c : cases) {
        SCOPED_TRACE(c.function);
        LogCapture capture;
        r_.Start(0, c.function, c.args, SE_RETURN_INT, ++caller);
        EXPECT_THAT(capture.Take(), HasSubstr(c.logged));
        ASSERT_FALSE(Timed().empty());
        int32_t ahead = Ahead(Timed().back());
        EXPECT_GE(ahead, c.earliest);
        EXPECT_LE(ahead, c.latest);
    }
    // The longest delay is still seen as ahead; the shortest fires at once,
    // even after a long step of the clock.
    sys_.gameTimeScale = 65536 * 100;
    Frame(200);
    EXPECT_EQ(Got(), (Answers{{6, 0}, {3, 0}}));
    EXPECT_EQ(Timed().size(), 5u);
}

TEST_F(TimerTest, UndefinedCallNumbersAreLoggedAndAnswered) {
    LogCapture capture;
    EXPECT_EQ(Timer_SysCall(15, nullptr, base_, 1, 0, nullptr), 1);
    EXPECT_EQ(Timer_SysCallEntry(1, nullptr, -3, 0, nullptr), 1);
    std::string log = capture.Take();
    EXPECT_THAT(log, HasSubstr("Timer_SysCall (invalid address) : Undefined System Call 15\n"));
    EXPECT_THAT(log, HasSubstr("Timer_SysCall (invalid address) : Undefined System Call -3\n"));
    EXPECT_TRUE(Timed().empty());
}

TEST_F(TimerTest, MissingArgumentsReadAsZero) {
    r_.Start(0, "TI_WaitForInterrupt0", {}, SE_RETURN_INT, 1);
    ASSERT_EQ(Timed().size(), 1u);
    EXPECT_EQ(Ahead(Timed()[0]), 0);
    EXPECT_EQ(Timed()[0]->owner, 0);
    Frame(1);
    EXPECT_EQ(Got(), (Answers{{1, 0}}));
}

// The callback of an answered event cancels the owner of an event that is due
// in the same update, and queues a new wait: every event is answered once,
// none from freed memory, and the new wait only at the next update.
TEST_F(TimerTest, DueEventsAreAnsweredFromAListCollectedFirst) {
    static TimerBase* s_base;
    static int32_t s_module;
    s_base = base_;
    s_module = module_;
    s_onAnswer = [](uint32_t argument) {
        if (argument == 1) Timer_CancelOwner(s_base, 99);
        if (argument == 3) Timer_AddWaitEvent(s_base, s_module, 30);
    };
    Timer_AddEvent(0, base_, module_, 1);
    Timer_AddOwnerEvent(2, module_, base_, 0, 99);     // due now: already collected
    Timer_AddOwnerEvent(4, module_, base_, 5000, 99);  // ahead: cancelled by the callback
    Timer_AddWaitEvent(base_, module_, 3);
    int32_t remaining4 = Ahead(Timed()[2]) - 1;
    Frame(1);
    EXPECT_EQ(s_moduleAnswers, (std::vector<ModuleAnswer>{{3, 0}, {1, 0}, {4, remaining4}, {2, 0}}));
    EXPECT_TRUE(Timed().empty());
    EXPECT_EQ(Events(base_->waiting).size(), 1u);
    Frame(1);
    EXPECT_EQ(s_moduleAnswers.back(), (ModuleAnswer{30, 0}));
    EXPECT_EQ(base_->freeCount, TIMER_POOL_SIZE);
}

TEST_F(TimerTest, ClearAllFromInsideAnAnswerLeavesTheCollectedEventsAlone) {
    static bool s_cleared;
    s_cleared = false;
    s_onAnswer = [](uint32_t argument) {
        if (argument == 1 && !s_cleared) {
            s_cleared = true;
            Timer_ClearAll();
        }
    };
    Timer_AddEvent(0, base_, module_, 1);
    Timer_AddEvent(0, base_, module_, 2);
    Timer_AddEvent(9000, base_, module_, 5);
    Frame(1);
    EXPECT_EQ(s_moduleAnswers, (std::vector<ModuleAnswer>{{1, 0}, {5, 0}, {2, 0}}));
    EXPECT_EQ(base_->freeCount, TIMER_POOL_SIZE);
}

TEST_F(TimerTest, PoolOverflowUsesTheHeapAndClearAllAnswersEverything) {
    int64_t used = Int_GetMemUsed();
    Timer_AddWaitEvent(base_, module_, 100000);
    for (uint32_t i = 0; i < TIMER_POOL_SIZE + 1; ++i) ASSERT_NE(Timer_AddEvent(1000, base_, module_, i), nullptr);
    EXPECT_EQ(base_->freeCount, 0);
    std::vector<TimerEvent*> timed = Timed();
    ASSERT_EQ(timed.size(), static_cast<size_t>(TIMER_POOL_SIZE + 1));
    EXPECT_EQ(timed[TIMER_POOL_SIZE - 2]->flags, TIMER_EVENT_POOL);
    EXPECT_EQ(timed[TIMER_POOL_SIZE - 1]->flags, 0);  // from the heap
    EXPECT_EQ(timed[TIMER_POOL_SIZE]->flags, 0);
    EXPECT_EQ(Int_GetMemUsed() - used, static_cast<int64_t>(2 * sizeof(TimerEvent)));

    Timer_ClearAll();
    ASSERT_EQ(s_moduleAnswers.size(), static_cast<size_t>(TIMER_POOL_SIZE + 2));
    EXPECT_EQ(s_moduleAnswers.front(), (ModuleAnswer{100000, 0}));  // the waiting list first
    EXPECT_EQ(s_moduleAnswers[1], (ModuleAnswer{0, 0}));
    EXPECT_EQ(s_moduleAnswers.back(), (ModuleAnswer{TIMER_POOL_SIZE, 0}));
    EXPECT_EQ(base_->freeCount, TIMER_POOL_SIZE);
    EXPECT_EQ(Int_GetMemUsed(), used);
    EXPECT_TRUE(Timed().empty());
    EXPECT_TRUE(Events(base_->waiting).empty());
}

TEST_F(TimerTest, FreeAllNodesAnswersNobody) {
    Timer_AddEvent(10, base_, module_, 1);
    Timer_AddWaitEvent(base_, module_, 2);
    Timer_FreeAllNodes(base_);
    Frame(100);
    EXPECT_TRUE(s_moduleAnswers.empty());
    EXPECT_EQ(base_->freeCount, TIMER_POOL_SIZE);
}

TEST_F(TimerTest, EventsOfAModuleWithoutReturnIntAreDropped) {
    Timer_AddEvent(0, base_, base_->moduleNumber, 1);  // the timer takes no answers
    Timer_AddEvent(0, base_, 0, 2);
    Frame(1);
    EXPECT_TRUE(Timed().empty());
    EXPECT_TRUE(s_moduleAnswers.empty());
}

// ---------------------------------------------------------------- "TIME" section

using Record = std::array<uint32_t, 5>;  // module, flags, argument, due time, owner

std::vector<uint8_t> Section(const char* tag, uint32_t count, const std::vector<Record>& records) {
    std::vector<uint8_t> out(tag, tag + 4);
    auto put = [&out](uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
    };
    put(count);
    for (const Record& r : records)
        for (uint32_t w : r) put(w);
    return out;
}

void WriteGz(const char* name, const std::vector<uint8_t>& bytes) {
    QelFile* f = Qel_fcopen(name, "wb", 0);
    ASSERT_NE(f, nullptr);
    if (!bytes.empty()) {
        EXPECT_EQ(Qel_fwriteBlock(f, 1, bytes.size(), bytes.data()), bytes.size());
    }
    Qel_fclose(f);
}

std::vector<uint8_t> ReadGz(const char* name) {
    QelFile* f = Qel_fcopen(name, "rb", 0);
    EXPECT_NE(f, nullptr);
    if (!f) return {};
    std::vector<uint8_t> bytes(4096);
    bytes.resize(Qel_fread(f, 1, bytes.size(), bytes.data()));
    Qel_fclose(f);
    return bytes;
}

int LoadGz(const char* name, TimerBase* base) {
    QelFile* f = Qel_fcopen(name, "rb", 0);
    EXPECT_NE(f, nullptr);
    if (!f) return -1;
    int ok = Timer_LoadGame(f, base);
    Qel_fclose(f);
    return ok;
}

TEST_F(TimerTest, SaveWritesTheTimedEventsBigEndianAndLoadRestoresThem) {
    TempGameFolder folder;
    sys_.gameClock = 1000;
    TimerEvent* a = Timer_AddOwnerEvent(77, 2, base_, 300, -5);
    TimerEvent* b = Timer_AddEvent(0x12345, base_, 1, 0xABCDEF01u);
    Timer_AddWaitEvent(base_, 2, 9);  // not kept
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    uint32_t dueA = static_cast<uint32_t>(a->dueTime), dueB = static_cast<uint32_t>(b->dueTime);

    QelFile* f = Qel_fcopen("time.sav", "wb", 0);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(Timer_SaveGame(f, base_), 1);
    Qel_fclose(f);
    EXPECT_EQ(ReadGz("time.sav"), Section("TIME", 2, {{2, 6, 77, dueA, 0xFFFFFFFBu}, {1, 2, 0xABCDEF01u, dueB, 0}}));

    Timer_FreeAllNodes(base_);
    EXPECT_EQ(LoadGz("time.sav", base_), 1);
    std::vector<TimerEvent*> timed = Timed();
    ASSERT_EQ(timed.size(), 2u);
    EXPECT_EQ(timed[0]->module, 2);
    EXPECT_EQ(timed[0]->flags, TIMER_EVENT_POOL | TIMER_EVENT_OWNER);
    EXPECT_EQ(timed[0]->argument, 77u);
    EXPECT_EQ(timed[0]->dueTime, static_cast<int32_t>(dueA));
    EXPECT_EQ(timed[0]->owner, -5);
    EXPECT_EQ(timed[1]->module, 1);
    EXPECT_EQ(timed[1]->flags, TIMER_EVENT_POOL);
    EXPECT_EQ(timed[1]->argument, 0xABCDEF01u);
    EXPECT_EQ(timed[1]->dueTime, static_cast<int32_t>(dueB));
    EXPECT_TRUE(Events(base_->waiting).empty());
    EXPECT_EQ(base_->freeCount, TIMER_POOL_SIZE - 2);
}

TEST_F(TimerTest, LoadedEventsTakeTheirNewNodesPoolFlag) {
    TempGameFolder folder;
    // A heap node's owner event (flags 4) and a pool node's (flags 6), each
    // loaded into a pool node.
    WriteGz("t.sav", Section("TIME", 2, {{2, 4, 1, 500, 3}, {2, 6, 2, 600, 3}}));
    EXPECT_EQ(LoadGz("t.sav", base_), 1);
    std::vector<TimerEvent*> timed = Timed();
    ASSERT_EQ(timed.size(), 2u);
    for (TimerEvent* e : timed) EXPECT_EQ(e->flags, TIMER_EVENT_POOL | TIMER_EVENT_OWNER);
    // An empty section loads nothing.
    WriteGz("empty.sav", Section("TIME", 0, {}));
    EXPECT_EQ(LoadGz("empty.sav", base_), 1);
    EXPECT_EQ(Timed().size(), 2u);
}

struct BadSection {
    const char* label;
    std::vector<uint8_t> bytes;
    const char* message;
    size_t appended;
};

std::vector<uint8_t> Cut(std::vector<uint8_t> bytes, size_t keep) {
    bytes.resize(keep);
    return bytes;
}

TEST_F(TimerTest, LoadRefusesBadSections) {
    TempGameFolder folder;
    const Record good{1, 2, 5, 1000, 0};
    const BadSection cases[] = {
        {"bad cookie", Section("TIMX", 0, {}), "P_Load: Wrong TIME cookie\n", 0},
        {"empty", {}, "P_Load: Wrong TIME cookie\n", 0},
        {"no count", Cut(Section("TIME", 0, {}), 6), "P_Load: Failed reading TIME count!\n", 0},
        {"short record", Cut(Section("TIME", 1, {good}), 8 + 12), "P_Load: Failed reading TimerDelaySave!\n", 0},
        {"count beyond the records", Section("TIME", 3, {good, good}), "P_Load: Failed reading TimerDelaySave!\n", 2},
        {"module 0", Section("TIME", 1, {{0, 0, 5, 1000, 0}}),
         "P_Load: TimerDelay sanity check (TD_EngineID) failed!\n", 0},
        {"module -1", Section("TIME", 1, {{0xFFFFFFFFu, 0, 5, 1000, 0}}),
         "P_Load: TimerDelay sanity check (TD_EngineID) failed!\n", 0},
        {"next free module", Section("TIME", 2, {good, {5, 0, 5, 1000, 0}}),
         "P_Load: TimerDelay sanity check (TD_EngineID) failed!\n", 1},
        {"beyond 16 bits", Section("TIME", 1, {{0x10002u, 0, 5, 1000, 0}}),
         "P_Load: TimerDelay sanity check (TD_EngineID) failed!\n", 0},
    };
    ASSERT_EQ(r_.ctx()->nextModule, 5);  // 1 scripts, 2 the test, 3 the timer, 4 the test module
    for (const BadSection& c : cases) {
        SCOPED_TRACE(c.label);
        WriteGz("bad.sav", c.bytes);
        LogCapture capture;
        EXPECT_EQ(LoadGz("bad.sav", base_), 0);
        EXPECT_THAT(capture.Take(), HasSubstr(c.message));
        EXPECT_EQ(Timed().size(), c.appended);
        EXPECT_EQ(base_->freeCount, TIMER_POOL_SIZE - static_cast<int32_t>(c.appended));
        Timer_FreeAllNodes(base_);
    }
    // A registered module loads.
    WriteGz("ok.sav", Section("TIME", 1, {{4, 0, 5, 1000, 0}}));
    EXPECT_EQ(LoadGz("ok.sav", base_), 1);
    ASSERT_EQ(Timed().size(), 1u);
    EXPECT_EQ(Timed()[0]->module, 4);
}

TEST_F(TimerTest, ASavedWaitForStartIsNotRestored) {
    TempGameFolder folder;
    r_.Start(0, "TI_WaitForStart0", {}, SE_RETURN_INT, 1);
    QelFile* f = Qel_fcopen("w.sav", "wb", 0);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(Timer_SaveGame(f, base_), 1);
    Qel_fclose(f);
    EXPECT_EQ(ReadGz("w.sav"), Section("TIME", 0, {}));
}

}  // namespace
