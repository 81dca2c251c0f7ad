#include "support/program.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "base/general.h"
#include "base/memory.h"
#include "base/strings.h"
#include "base/table.h"
#include "platform/win32/msgbox.h"
#include "program/exit.h"
#include "program/main.h"
#include "base/standin_calls.h"
#include "program/startup.h"
#include "script/modules.h"
#include "script/tasks.h"
#include "tools/lib/storyasm.h"

const char* const kQuietIntroStory = R"(
.func "_Init" need 1
    c0
    ret
.object 9
.func "Init" need 1
    c0
    ret
.func "Run" need 1
    c0
    ret
.func "Input" need 1
    c0
    ret
.func "Stop" need 1
    c0
    ret
)";

void WriteStory(const TempGameFolder& folder, const std::string& name, const std::string& text) {
    std::vector<uint8_t> image;
    std::string error;
    ASSERT_TRUE(StoryAsm_Build(text, image, &error)) << error;
    folder.WriteBytes("L/" + name + ".obj", image);
}

ProgramArgs::ProgramArgs(std::vector<std::string> args) {
    args_.push_back("WinCalled");
    for (std::string& a : args) args_.push_back(std::move(a));
    for (std::string& a : args_) argv_.push_back(a.data());
    argv_.push_back(nullptr);
}

static std::vector<std::string> WithNoAbout(std::vector<std::string> args) {
    args.insert(args.begin(), "-noabout");
    return args;
}

ProgramSession::ProgramSession(std::vector<std::string> args, const std::string& intro)
    : args_(WithNoAbout(std::move(args))) {
    if (const char* home = std::getenv("XDG_CONFIG_HOME")) savedConfigHome_ = home;
    setenv("XDG_CONFIG_HOME", (folder_.Path() + "/config").c_str(), 1);
    StandIn_Reset();
    WriteStory(folder_, "trevanintro", intro);
    P_StartUp(args_.argc(), args_.argv());
    P_ChooseFirstRun();
}

ProgramSession::~ProgramSession() {
    // A text result is released while the script engine still exists.
    if (g_ProgramState) SV_Release(&g_ProgramState->result);
    P_Shutdown(0);
    ExitGeneral(0);
    FreeProgramState();
    P_FreeOptions(&g_ProgramOptions);
    StandIn_Reset();
    if (savedConfigHome_.empty()) unsetenv("XDG_CONFIG_HOME");
    else setenv("XDG_CONFIG_HOME", savedConfigHome_.c_str(), 1);
}

void FreeProgramState() {
    ProgramState* ps = g_ProgramState;
    if (!ps) return;
    SV_Release(&ps->result);
    for (char** text : {&ps->saveName1, &ps->saveName2, &ps->stringParameter, &ps->storyName})
        *text = Qel_StrFree(*text);
    Qel_TableFree(ps->callerTable);
    Int_FreeRecord(ps, 0);
    g_ProgramState = nullptr;
}

namespace {
const char* const kTestCallNames[] = {"Test_Note", "Test_Wait", nullptr};

int32_t TestModuleCall(int32_t, SE_Task* task, int32_t call, int32_t argc, ScriptValue* args) {
    if (call != 0) return 1;  // Test_Wait: no answer
    std::string note;
    for (int32_t i = 0; i < argc; ++i) {
        if (i) note += ' ';
        const char* text = SV_GetString(&args[i]);
        note += text ? std::string(text) : std::to_string(args[i].i);
    }
    TestNotes().push_back(note);
    SE_TaskReturnIntEx(task, g_SEContext, 0);
    return 1;
}
}  // namespace

void RegisterTestModule() {
    TestNotes().clear();
    SB_RegisterEngineModule(g_SEContext, TestModuleCall, kTestCallNames, nullptr, nullptr, nullptr);
}

std::vector<std::string>& TestNotes() {
    static std::vector<std::string> notes;
    return notes;
}

void PrintMessageBoxesAtExit() {
    Win32_MessageBoxSeamReset();
    std::atexit([] {
        for (const Win32MessageBox& box : Win32_MessageBoxSeam().shown)
            std::fprintf(stderr, "Message box: %s\n", box.text.c_str());
    });
}

std::vector<std::string> CallsFrom(const std::string& from) {
    const auto& calls = StandIn_Calls();
    auto it = std::find(calls.begin(), calls.end(), from);
    if (it == calls.end()) it = calls.begin();
    return {it, calls.end()};
}
