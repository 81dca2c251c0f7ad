// The shell's engine calls: each call's answer and effect by a table, the
// benchmark scenes, and a load asked for by a story.
#include "program/shell.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/general.h"
#include "cockpit/controlmatrix.h"
#include "program/gameloop.h"
#include "program/main.h"
#include "program/savegame.h"
#include "script/arrays.h"
#include "script/tasks.h"
#include "support/logcapture.h"
#include "support/program.h"
#include "support/syscall_runner.h"

namespace {

ScriptValue Int(int32_t n) { return SysCallRunner::Int(n); }
ScriptValue Text(const char* t) { return SysCallRunner::Text(t); }

class ShellCalls : public ::testing::Test {
protected:
    // One call: the display text of its answer ("<no answer>" without one).
    std::string Call(int32_t call, std::vector<ScriptValue> args = {}) {
        SysCallRunner caller(g_SEContext);
        SE_Task* task = caller.task();
        task->answered = 0;
        task->callResult = ScriptValue{};
        Ruzo_SysCall(g_ProgramState->ruzoModule, task, call, static_cast<int32_t>(args.size()), args.data());
        for (ScriptValue& v : args) SV_Release(&v);
        std::string shown = task->answered ? SysCallRunner::Display(task->callResult) : "<no answer>";
        SV_Release(&task->callResult);
        return shown;
    }
    static int32_t Number(const char* name) {
        const char* const* names = Ruzo_GetSysCallNames();
        for (int32_t i = 0; names[i]; ++i)
            if (std::string(names[i]) == name) return i;
        ADD_FAILURE() << name;
        return -1;
    }
    std::string Call(const char* name, std::vector<ScriptValue> args = {}) {
        return Call(Number(name), std::move(args));
    }

    ProgramSession session_;
};

TEST_F(ShellCalls, UndefinedCallsAnswerZeroWithTheirLine) {
    for (int32_t call : {0, 1, 2, 7, 8, 34, 500}) {
        SCOPED_TRACE(call);
        LogCapture log;
        EXPECT_EQ(Call(call), "0");
        EXPECT_TRUE(log.Contains("Undefined Ruzo Syscall " + std::to_string(call) + " called!\n")) << log.Text();
    }
}

TEST_F(ShellCalls, SaveAndLoadRequests) {
    ProgramState* ps = g_ProgramState;
    struct Case {
        const char* what;
        const char* call;
        std::vector<int32_t> ints;  // slot first, then the words after the names
        bool withNames;
        std::string answer;
        uint32_t bits;
        int32_t slot;
        uint32_t extra;
    };
    const Case cases[] = {
        {"save with four arguments", "Ruzo_Save", {4, 9}, true, "1", P_REQUEST_SAVE, 4, 0},
        {"save with five arguments", "Ruzo_Save", {4, 9, 6}, true, "1", P_REQUEST_SAVE, 4, 6},
        {"save without names", "Ruzo_Save", {12}, false, "1", P_REQUEST_SAVE, 12, 0},
        {"save to a negative slot", "Ruzo_Save", {-1, 9}, true, "0", 0, 0, 0},
        {"load of slot 3", "Ruzo_Load", {3}, false, "1", P_REQUEST_LOAD, 3, 0},
        {"load with an extra value", "Ruzo_Load", {22, 2}, false, "1", P_REQUEST_LOAD, 22, 2},
        {"load of the temporary slot", "Ruzo_Load", {99}, false, "0", 0, 0, 0},
        {"load of slot 23", "Ruzo_Load", {23}, false, "0", 0, 0, 0},
        {"load of a negative slot", "Ruzo_Load", {-3}, false, "0", 0, 0, 0},
        {"load with a negative extra value", "Ruzo_Load", {3, -1}, false, "0", 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ps->requestBits = 0;
        ps->requestedSlot = 0;
        ps->extraValue = 0;
        std::vector<ScriptValue> args = {Int(c.ints[0])};
        if (c.withNames) {
            args.push_back(Text("First"));
            args.push_back(Text("Second"));
        }
        for (size_t i = 1; i < c.ints.size(); ++i) args.push_back(Int(c.ints[i]));
        EXPECT_EQ(Call(c.call, std::move(args)), c.answer);
        EXPECT_EQ(ps->requestBits, c.bits);
        EXPECT_EQ(ps->requestedSlot, c.slot);
        EXPECT_EQ(ps->extraValue, c.extra);
        if (c.bits == P_REQUEST_SAVE) {
            EXPECT_STREQ(ps->saveName1, c.withNames ? "First" : "");
            EXPECT_STREQ(ps->saveName2, c.withNames ? "Second" : "");
            EXPECT_EQ(ps->saveValue, c.withNames ? 9u : 0u);
        }
    }
    ps->requestBits = 0;
}

TEST_F(ShellCalls, SettingsAndTexts) {
    SystemState* sys = g_SystemState;
    ProgramState* ps = g_ProgramState;
    EXPECT_EQ(Call("Ruzo_GetStringParameter"), "0");
    EXPECT_EQ(Call("Ruzo_SetStringParameter", {Text("950")}), "0");
    EXPECT_EQ(Call("Ruzo_GetStringParameter"), "\"950\"");
    EXPECT_EQ(Call("Ruzo_SetStringParameter", {Int(5)}), "0");  // not a text: empty
    EXPECT_STREQ(ps->stringParameter, "");

    EXPECT_EQ(Call("Ruzo_SetInputModeMask", {Int(6)}), "0");
    EXPECT_EQ(sys->inputModeMask, 6u);
    EXPECT_EQ(Call("Ruzo_GetInputModeMask"), "6");
    EXPECT_EQ(Call("Ruzo_SetGameState", {Int(12)}), "0");
    EXPECT_EQ(Call("Ruzo_GetGameState"), "12");
    EXPECT_EQ(Call("Ruzo_SetDefaultProfile", {Text("Pilot")}), "0");
    EXPECT_EQ(Call("Ruzo_GetDefaultProfile"), "\"Pilot\"");
    EXPECT_EQ(Call("Ruzo_GetSaveDevices"), "0");
    // Code 1 has no binding to change.
    EXPECT_EQ(Call("Ruzo_SetControlMatrix", {Int(1), Int(2), Int(3), Int(4)}), "0");
    EXPECT_EQ(Call("Ruzo_GetControlMatrix", {Int(1), Int(3), Int(4)}), "0");
    EXPECT_EQ(Call("Ruzo_SetControlMatrix", {Int(257), Int(12), Int(1), Int(0)}), "0");
    EXPECT_EQ(Call("Ruzo_GetControlMatrix", {Int(257), Int(1), Int(0)}), "12");
    g_ControlMatrix = STS_CONTROL_MATRIX_DEFAULTS;

    EXPECT_EQ(Call("Ruzo_CaptureFrame"), "0");
    EXPECT_EQ(g_FrameCaptureRequest, 1);
    g_FrameCaptureRequest = 0;
    EXPECT_EQ(Call("Ruzo_SetPause"), "0");
    EXPECT_EQ(ps->requestBits & P_REQUEST_PAUSE, P_REQUEST_PAUSE);
    ps->requestBits = 0;

    // Debug lines 0 to 5; another line number changes nothing.
    for (int32_t line = 0; line < 6; ++line) {
        const std::string text = "line " + std::to_string(line);
        EXPECT_EQ(Call("Ruzo_SetScreenDebugLine", {Int(line), Text(text.c_str())}), "0");
        EXPECT_EQ(Call("Ruzo_GetScreenDebugLine", {Int(line)}), "\"" + text + "\"");
    }
    EXPECT_EQ(Call("Ruzo_SetScreenDebugLine", {Int(6), Text("beyond")}), "0");
    EXPECT_EQ(Call("Ruzo_GetScreenDebugLine", {Int(6)}), "0");
    EXPECT_EQ(Call("Ruzo_GetScreenDebugLine", {Int(-1)}), "0");
    const std::string longLine(300, 'x');
    EXPECT_EQ(Call("Ruzo_SetScreenDebugLine", {Int(2), Text(longLine.c_str())}), "0");
    EXPECT_EQ(std::string(sys->screenDebugLines[2]), longLine.substr(0, 255));
    EXPECT_EQ(std::string(sys->screenDebugLines[5]), "line 5");

    // Start modes: 0x3f are always available.
    EXPECT_EQ(Call("Ruzo_IsStartModeAvailable", {Int(0x3)}), "1");
    EXPECT_EQ(Call("Ruzo_IsStartModeAvailable", {Int(0x40)}), "0");
    EXPECT_EQ(Call("Ruzo_SetStartModeAvailable", {Int(0x40), Int(1)}), "0");
    EXPECT_EQ(Call("Ruzo_IsStartModeAvailable", {Int(0x41)}), "1");
    EXPECT_EQ(Call("Ruzo_SetStartModeAvailable", {Int(0x41), Int(0)}), "0");
    EXPECT_EQ(Call("Ruzo_IsStartModeAvailable", {Int(0x40)}), "0");
    EXPECT_EQ(Call("Ruzo_IsStartModeAvailable", {Int(0x1)}), "1");

    // Free registry values under the settings key.
    EXPECT_EQ(Call("Ruzo_SaveStringToRegistry", {Text("Callsign"), Text("Kestrel")}), "1");
    EXPECT_EQ(Call("Ruzo_ReadStringFromRegistry", {Text("Callsign")}), "\"Kestrel\"");
    EXPECT_EQ(Call("Ruzo_ReadStringFromRegistry", {Text("Missing")}), "0");
    EXPECT_EQ(Call("Ruzo_SaveIntToRegistry", {Text("Kills"), Int(42)}), "1");
    EXPECT_EQ(Call("Ruzo_ReadIntFromRegistry", {Text("Kills")}), "42");
    // Missing arguments read as 0 and empty texts.
    EXPECT_EQ(Call("Ruzo_ReadStringFromRegistry"), "0");
    EXPECT_EQ(Call("Ruzo_XMLImportGalaxy"), "0");
}

TEST_F(ShellCalls, GalaxyImportAndSlotList) {
    EXPECT_EQ(Call("Ruzo_XMLImportGalaxy", {Text("<universe v=\"3\"><sector x=\"1\"/></universe"), Int(3)}), "0");
    const std::string galaxy =
        Call("Ruzo_XMLImportGalaxy", {Text("<universe><sector x=\"1\" y=\"2\"/></universe>"), Int(3)});
    EXPECT_EQ(galaxy.front(), '{') << galaxy;
    EXPECT_EQ(Call("Ruzo_XMLImportGalaxy", {Text("<universe/>"), Int(3)}), "0");

    SysCallRunner caller(g_SEContext);
    SE_Task* task = caller.task();
    task->answered = 0;
    task->callResult = ScriptValue{};
    Ruzo_SysCall(0, task, Number("Ruzo_LoadSaveNames"), 0, nullptr);
    ASSERT_TRUE(task->answered);
    EXPECT_EQ(task->callResult.tag, VARTYPE_ARRAY);
    EXPECT_EQ(SV_ArraySize(&task->callResult), P_SAVE_LIST_SLOTS);
    SV_Release(&task->callResult);
}

TEST_F(ShellCalls, BenchmarkScenes) {
    SystemState* sys = g_SystemState;
    ProgramState* ps = g_ProgramState;
    // Outside a benchmark run nothing starts.
    EXPECT_EQ(Call("Ruzo_StartBenchmarkScene", {Int(2)}), "0");
    EXPECT_EQ(ps->benchmarkRunning, 0u);

    sys->SysProfilingFlags |= 0x10;
    sys->gameClock = 32390000;  // the scene runs over the clock's wrap
    EXPECT_EQ(Call("Ruzo_StartBenchmarkScene", {Int(2)}), "0");
    EXPECT_EQ(ps->benchmarkRunning, 1u);
    EXPECT_EQ(ps->benchmarkScene, 2);
    EXPECT_NE(sys->SysProfilingFlags & 0x2000, 0u);
    ps->benchmarkFrames = 600;
    sys->gameClock = 10000;  // 20,000 ms later
    EXPECT_EQ(Call("Ruzo_StopBenchmarkScene"), "0");
    EXPECT_FLOAT_EQ(g_BenchmarkTable[2].average, 30.0f);
    EXPECT_EQ(ps->benchmarkRunning, 0u);
    EXPECT_EQ(sys->SysProfilingFlags & 0x2000, 0u);

    // A scene stopped at once stores 0 frames per second.
    EXPECT_EQ(Call("Ruzo_StartBenchmarkScene", {Int(3)}), "0");
    ps->benchmarkFrames = 5;
    EXPECT_EQ(Call("Ruzo_StopBenchmarkScene"), "0");
    EXPECT_EQ(g_BenchmarkTable[3].average, 0.0f);

    // Without a running scene the current row is cleared.
    g_BenchmarkTable[3] = {1.0f, 2.0f, 3.0f};
    EXPECT_EQ(Call("Ruzo_StopBenchmarkScene"), "0");
    EXPECT_EQ(g_BenchmarkTable[3].maximum, 0.0f);

    // An index outside the table does nothing.
    for (int32_t scene : {-1, P_BENCHMARK_SCENES}) {
        EXPECT_EQ(Call("Ruzo_StartBenchmarkScene", {Int(scene)}), "0");
        EXPECT_EQ(ps->benchmarkRunning, 0u);
        EXPECT_EQ(ps->benchmarkScene, 3);
    }
    sys->SysProfilingFlags &= ~0x10u;
    for (P_BenchmarkRow& row : g_BenchmarkTable) row = {};
}

TEST(ShellStory, ALoadOfSlot3EndsTheLoopWith103) {
    ProgramSession session({}, R"(
.object 9
.func "Input" need 4
    c3
    c1
    sys "Ruzo_Load"
    pop
    c0
    ret
)");
    EXPECT_EQ(CL_GameLoop(), 103);
}

}  // namespace
