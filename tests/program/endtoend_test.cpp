// The real `trevan` binary on the demo game folder, headless.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(EndToEnd, TheDemoRunsItsStoryAndEndsNormally) {
    const char* binaryDir = std::getenv("TREVAN_BINARY_DIR");
    const char* scratch = std::getenv("TREVAN_TEST_SCRATCH");
    ASSERT_NE(binaryDir, nullptr);
    ASSERT_NE(scratch, nullptr);
    // A copy of the game folder: the run may write into it.
    const fs::path folder = fs::path(scratch) / "endtoend-demo";
    fs::remove_all(folder);
    fs::copy(fs::path(binaryDir) / "demo", folder, fs::copy_options::recursive);
    // Without "-o" the log is standard error.
    const fs::path log = folder / "log.txt";
    const std::string command = "cd '" + folder.string() + "' && exec timeout 120 '" +
                                (fs::path(binaryDir) / "trevan").string() + "' -noabout -window >log.txt 2>&1";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status)) << status;
    const std::string text = ReadFile(log);
    EXPECT_EQ(WEXITSTATUS(status), 0) << text;

    size_t at = 0;
    for (const char* line :
         {" *** Trevan version 2.0 (", "nach init video\n", "nach init io\n", "nach init audio\n",
          "INIT: P_Init(); Anfang!\n", "SB_LoadLocation() loading story file trevanintro", "EXIT(0)!!!\n"}) {
        const size_t found = text.find(line, at);
        ASSERT_NE(found, std::string::npos) << "missing in order: " << line << "\n" << text;
        at = found;
    }
    fs::remove_all(folder);
}

}  // namespace
