#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

// The scratch folders and headless drivers of tests/CMakeLists.txt, set here
// too so that a test never touches the user's own folders, whether it runs
// under CTest or on its own.
static const char* const kTestEnv[] = {
#include "test_env.inc"
};

int main(int argc, char** argv) {
    for (const char* entry : kTestEnv) {
        std::string e(entry);
        size_t eq = e.find('=');
        if (eq != std::string::npos) setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
    }
    tzset();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
