// The real `trevan` binary on the demo game folder, headless.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/golden_image.h"
#include "support/program.h"

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The binary run on a copy of the demo folder named `copy` in the scratch
// folder (the run may write into it), with its saves in a data folder of the
// copy's own. Without "-o" the log is standard error.
struct DemoRun {
    fs::path folder;
    int status = -1;
    std::string log;
};
DemoRun RunDemo(const char* copy, const std::string& arguments, const std::function<void()>& prepare = {}) {
    DemoRun run;
    const char* binaryDir = std::getenv("TREVAN_BINARY_DIR");
    const char* scratch = std::getenv("TREVAN_TEST_SCRATCH");
    if (!binaryDir || !scratch) {
        ADD_FAILURE() << "TREVAN_BINARY_DIR and TREVAN_TEST_SCRATCH must be set";
        return run;
    }
    run.folder = fs::path(scratch) / copy;
    fs::remove_all(run.folder);
    fs::copy(fs::path(binaryDir) / "demo", run.folder, fs::copy_options::recursive);
    if (prepare) prepare();
    const std::string command = "cd '" + run.folder.string() + "' && XDG_DATA_HOME='" + (run.folder / "data").string() +
                                "' exec timeout 120 '" + (fs::path(binaryDir) / "trevan").string() +
                                "' -noabout -window " + arguments + " >log.txt 2>&1";
    run.status = std::system(command.c_str());
    run.log = ReadFile(run.folder / "log.txt");
    return run;
}

TEST(EndToEnd, TheDemoRunsItsStoryAndEndsNormally) {
    // The story saves and loads a game.
    const DemoRun run = RunDemo("endtoend-demo", "");
    ASSERT_TRUE(WIFEXITED(run.status)) << run.status;
    const std::string& text = run.log;
    EXPECT_EQ(WEXITSTATUS(run.status), 0) << text;

    size_t at = 0;
    for (const char* line :
         {" *** Trevan version 2.0 (", "nach init video\n", "nach init io\n", "nach init audio\n",
          "INIT: P_Init(); Anfang!\n", "SB_LoadLocation() loading story file trevanintro",
          "Demo: the ship's order answered 1\n", "gameloop() Saving game 3 name Demo\n", "gameloop() Loading game 3\n",
          "main() Trying to load savegame #3\n", "SB_LoadLocation() loading story file trevanintro", "EXIT(0)!!!\n"}) {
        const size_t found = text.find(line, at);
        ASSERT_NE(found, std::string::npos) << "missing in order: " << line << "\n" << text;
        at = found;
    }
    EXPECT_EQ(text.find("Error loading savegame"), std::string::npos) << text;
    // The space types load whole.
    EXPECT_EQ(text.find("Error loading"), std::string::npos) << text;
    for (const char* file : {"Globals", "Components", "WareLists", "TShips", "TShipsWrecks"})
        EXPECT_EQ(text.find(std::string("Can't read file types\\") + file + ".txt"), std::string::npos) << file;
    EXPECT_NE(text.find("Demo: saving slot 3 answered 1\n"), std::string::npos) << text;
    EXPECT_TRUE(fs::exists(run.folder / "data" / "Veldrim" / "Trevan" / "save" / "Qel03.sav"));
    // The demo folder holds every file the engine asks for: a healthy run logs
    // no error or warning, so a real one stands out. Errors are framed, and the
    // only framed line is the exit's.
    std::istringstream lines(text);
    int banners = 0;
    for (std::string line; std::getline(lines, line);) {
        EXPECT_EQ(line.find("ERROR"), std::string::npos) << line;
        EXPECT_EQ(line.find("WARNING"), std::string::npos) << line;
        if (line + "\n" == "======================================\n") ++banners;
    }
    EXPECT_EQ(banners, 2) << text;
    fs::remove_all(run.folder);
}

// The save folder cannot be written: the log says where and why, the demo
// story logs the save's answer and, with nothing saved, loads nothing; the run
// goes on to its normal end.
TEST(EndToEnd, AFailedSaveIsLoggedAndTheDemoGoesOn) {
    const char* binaryDir = std::getenv("TREVAN_BINARY_DIR");
    const char* scratch = std::getenv("TREVAN_TEST_SCRATCH");
    ASSERT_TRUE(binaryDir && scratch);
    // A file where the save folder would be.
    const fs::path data = fs::path(scratch) / "endtoend-nosave" / "data" / "Veldrim" / "Trevan";
    const DemoRun run = RunDemo("endtoend-nosave", "", [&] {
        fs::create_directories(data);
        std::ofstream(data / "save") << "not a folder";
    });
    const std::string& text = run.log;
    ASSERT_TRUE(WIFEXITED(run.status)) << run.status;
    EXPECT_EQ(WEXITSTATUS(run.status), 0) << text;
    size_t at = 0;
    for (const std::string& line : {"File save\\Qel99.sav (" + (data / "save" / "Qel99.sav").string() +
                                        "): cannot open it for writing: Not a directory\n",
                                    std::string("P_Save(3,Demo): opening save\\Qel99.sav failed\n"),
                                    std::string("Demo: saving slot 3 answered 0\n"), std::string("EXIT(0)!!!\n")}) {
        const size_t found = text.find(line, at);
        ASSERT_NE(found, std::string::npos) << "missing in order: " << line << "\n" << text;
        at = found;
    }
    EXPECT_EQ(text.find("Loading game 3"), std::string::npos) << text;
    fs::remove_all(run.folder);
}

// The demo's configuration names no update page, so its start dialog's
// "Check for Updates" stays disabled rather than opening a made-up address.
TEST(EndToEnd, TheDemoNamesNoUpdateAddress) {
    const char* binaryDir = std::getenv("TREVAN_BINARY_DIR");
    ASSERT_NE(binaryDir, nullptr);
    const std::string page = ReadFile(fs::path(binaryDir) / "demo" / "T" / "45910.txt");
    ASSERT_NE(page.find("\n1249 "), std::string::npos) << page;
    EXPECT_NE(page.find("\n1217 \"\"\n"), std::string::npos) << page;
}

// The pixels of a 32-bit TGA whose first row is at the top (as the screenshot
// writes it), 0xAARRGGBB; empty when it is not one.
std::vector<uint32_t> ReadScreenshot(const fs::path& path, int* width, int* height) {
    const std::string d = ReadFile(path);
    if (d.size() < 18 || d[2] != 2 || static_cast<uint8_t>(d[16]) != 32) return {};
    const auto byte = [&](size_t i) { return static_cast<uint32_t>(static_cast<uint8_t>(d[i])); };
    *width = static_cast<int>(byte(12) | byte(13) << 8);
    *height = static_cast<int>(byte(14) | byte(15) << 8);
    const size_t start = 18 + byte(0);
    const size_t count = static_cast<size_t>(*width) * static_cast<size_t>(*height);
    if (d.size() < start + count * 4 || !(byte(17) & 0x20)) return {};
    std::vector<uint32_t> pixels(count);
    for (size_t i = 0; i < count; ++i) {
        const size_t at = start + i * 4;
        pixels[i] = 0xFF000000u | byte(at + 2) << 16 | byte(at + 1) << 8 | byte(at);
    }
    return pixels;
}

// Started with scene 6006 the intro captures its frame 30: the scene it built
// through the engine calls, the cube body turned by 30 frames' steps, drawn on
// the camera's background.
TEST(EndToEnd, TheDemoIntroShowsItsTurningBody) {
    const DemoRun run = RunDemo("endtoend-demo-frame", "-obj 9 -par 6006");
    const std::string& text = run.log;
    ASSERT_TRUE(WIFEXITED(run.status)) << run.status;
    EXPECT_EQ(WEXITSTATUS(run.status), 0) << text;
    EXPECT_NE(text.find("EXIT(0)!!!\n"), std::string::npos) << text;

    const fs::path shot = run.folder / "data" / "Veldrim" / "Trevan" / "screenshots" / "trevanscreen00001.tga";
    int width = 0, height = 0;
    const std::vector<uint32_t> pixels = ReadScreenshot(shot, &width, &height);
    ASSERT_FALSE(pixels.empty()) << text;
    const auto at = [&](int x, int y) { return pixels[static_cast<size_t>(y) * width + x] & 0xFFFFFFu; };
    constexpr uint32_t kBackground = 0x101848;  // the camera's clear colour
    for (auto [x, y] : {std::pair{4, 4}, {width - 5, 4}, {4, height - 5}, {width - 5, height - 5}})
        EXPECT_EQ(at(x, y), kBackground) << x << "," << y;
    EXPECT_NE(at(width / 2, height / 2), kBackground) << "the body at the centre";
    EXPECT_EQ(GoldenCompare("tests/program/golden/demo_intro_frame30.png", width, height, pixels), "");
    fs::remove_all(run.folder);
}

// Waits up to `seconds` for the child to end; its wait status, or -1.
int WaitFor(pid_t pid, int seconds) {
    for (int i = 0; i < seconds * 20; ++i) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return -1;
}

// Ctrl+C in a terminal (SIGINT) and a service manager's stop (SIGTERM) take
// the window's close path: the orderly exit with reason 0, whatever the story
// is doing.
TEST(EndToEnd, StopSignalsEndTheRunInOrder) {
    const char* binaryDir = std::getenv("TREVAN_BINARY_DIR");
    ASSERT_NE(binaryDir, nullptr);
    TempGameFolder folder;
    WriteStory(folder, "trevanintro", kQuietIntroStory);  // never asks to end
    const std::string binary = (fs::path(binaryDir) / "trevan").string();
    for (int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(strsignal(sig));
        const std::string log = folder.Path() + "/log" + std::to_string(sig) + ".txt";
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            // A shell may start background jobs with SIGINT ignored; a terminal would not.
            signal(sig, SIG_DFL);
            int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(fd, 1);
            dup2(fd, 2);
            execl(binary.c_str(), binary.c_str(), "-noabout", "-window", static_cast<char*>(nullptr));
            _exit(127);
        }
        bool running = false;
        for (int i = 0; i < 1200 && !running; ++i) {
            running = ReadFile(log).find("SB_LoadLocation() loading story file trevanintro") != std::string::npos;
            if (!running) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        EXPECT_TRUE(running) << ReadFile(log);
        kill(pid, sig);
        int status = WaitFor(pid, 60);
        if (status == -1) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << "still running after the signal\n" << ReadFile(log);
            continue;
        }
        const std::string text = ReadFile(log);
        ASSERT_TRUE(WIFEXITED(status)) << status << "\n" << text;
        EXPECT_EQ(WEXITSTATUS(status), 0) << text;
        // The log says why the run ended.
        const size_t named =
            text.find(std::string(sig == SIGINT ? "SIGINT" : "SIGTERM") + " received: the program ends\n");
        EXPECT_NE(named, std::string::npos) << text;
        EXPECT_GT(text.find("EXIT(0)!!!\n"), named) << text;
        EXPECT_NE(text.find("EXIT(0)!!!\n"), std::string::npos) << text;
    }
}

}  // namespace
