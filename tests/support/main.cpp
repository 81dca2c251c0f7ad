#include <gtest/gtest.h>

#include <signal.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/d3d9/seam.h"
#include "platform/seams.h"
#include "support/gamefolder.h"
#include "support/globals.h"

// The scratch folders and headless drivers of tests/CMakeLists.txt, set here
// too so that a test never touches the user's own folders, whether it runs
// under CTest or on its own.
static const char* const kTestEnv[] = {
#include "test_env.inc"
};

#if TREVAN_SANITIZE
// A sanitizer's report ends the process with a status of its own: a death
// test that expects the program's exit status (often 1, the sanitizers' own
// default) cannot then pass on a report.
extern "C" const char* __asan_default_options() { return "exitcode=86"; }
extern "C" const char* __ubsan_default_options() { return "exitcode=87"; }
#endif

// Tests of one binary share a process (a plain run, a filter, a shuffle): after
// each, the platform's seams and the engine's globals go back to how a fresh
// process starts, so no test depends on what ran before it.
class ResetAfterEachTest : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override { TempGameFolder::NewTest(); }
    void OnTestEnd(const testing::TestInfo&) override {
        Platform_ResetAllSeams();
        ResetEngineGlobals();
    }
};

int main(int argc, char** argv) {
    for (const char* entry : kTestEnv) {
        std::string e(entry);
        size_t eq = e.find('=');
        if (eq == std::string::npos) continue;
        setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
    }
    tzset();
    // Tests count frames, not time: no device sleeps to the display's refresh.
    g_D3D9FramePacing = false;
    // A shell starts a background job with SIGINT ignored, and the engine
    // leaves an ignored stop signal alone: the tests of what a stop signal
    // does, and the engine processes they start, need it as a foreground run has it.
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    // A death test's child would otherwise be a fork of a process in which
    // earlier tests started driver threads (the GL driver's queues): its exit
    // handlers then wait for threads that do not exist in the child, for ever.
    // A fresh process for each death test knows none of them.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new ResetAfterEachTest);
    return RUN_ALL_TESTS();
}
