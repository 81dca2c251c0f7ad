#include "program/speech.h"

#include <gtest/gtest.h>

#include <string>

#include "script/modules.h"
#include "script/tasks.h"
#include "support/logcapture.h"
#include "support/program.h"
#include "support/script_run.h"
#include "support/syscall_runner.h"

namespace {

TEST(Speech, TheModuleIsNeverRegistered) {
    ProgramSession session;
    int32_t module = 0, call = 0;
    for (const char* name : {"SP_Speak", "SP_IsTalking", "SP_SetEnabled", "SP_IsEnabled", "SP_IsAvailable"})
        EXPECT_EQ(SE_FindCallName(g_SEContext, name, &module, &call), 0) << name;
    EXPECT_EQ(g_SpeechBase, nullptr);
}

class SpeechCalls : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(runner_.Load(kNopStory));
        g_SpeechBase = &speech_;
    }
    void TearDown() override { g_SpeechBase = nullptr; }
    // "now n" when the task was answered, "later n" through the module's
    // callback, "none" otherwise.
    std::string Call(int32_t call, int32_t arg = 0) {
        SysCallRunner caller(runner_.ctx());
        ScriptValue v = SysCallRunner::Int(arg);
        SE_Task* task = caller.task();
        task->answered = 0;
        task->callResult = ScriptValue{};
        runner_.answers.clear();
        SP_SysCall(runner_.module(), task, call, 1, &v);
        SV_Release(&v);
        if (!runner_.answers.empty()) return "later " + std::to_string(runner_.answers.back().n);
        if (task->answered) return "now " + std::to_string(task->callResult.i);
        return "none";
    }
    StoryRunner runner_;
    SpeechBase speech_{};
};

TEST_F(SpeechCalls, EnablingNeedsSpeechToBeAvailable) {
    struct Case {
        uint32_t flags;
        int32_t on;
        const char* enabled;
        bool logged;
    };
    const Case cases[] = {
        {0, 1, "now 0", false},
        {SPB_AVAILABLE, 1, "now 2", true},
        {SPB_AVAILABLE | SPB_ENABLED, 0, "now 0", true},
        {SPB_ENABLED, 0, "now 2", false},  // without flag 1 nothing changes
    };
    for (const Case& c : cases) {
        speech_.flags = c.flags;
        LogCapture log;
        EXPECT_EQ(Call(2, c.on), "now 0");
        EXPECT_EQ(log.Contains("SpeechBase::SPB_SetEnabled(" + std::to_string(c.on) + ")\n"), c.logged);
        EXPECT_EQ(Call(3), c.enabled) << c.flags;
        EXPECT_EQ(Call(4), c.flags & SPB_AVAILABLE ? "now 1" : "now 0");
    }
    EXPECT_EQ(Call(0), "now 0");  // nothing is spoken
    EXPECT_EQ(Call(1), "now 0");
}

TEST_F(SpeechCalls, UndefinedCallsAnswerThroughTheCallerAndWithoutARecordNothingHappens) {
    LogCapture log;
    EXPECT_EQ(Call(5), "later 0");
    EXPECT_TRUE(log.Contains(") : Undefined System Call "));
    g_SpeechBase = nullptr;
    EXPECT_EQ(Call(3), "none");
}

}  // namespace
