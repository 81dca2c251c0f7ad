// The real `trevan` binary on the demo game folder, headless.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
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
DemoRun RunDemo(const char* copy, const std::string& arguments, const std::function<void()>& prepare = {},
                const std::string& environment = "", int seconds = 120) {
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
    const std::string command = "cd '" + run.folder.string() + "' && " + environment + " XDG_DATA_HOME='" +
                                (run.folder / "data").string() + "' exec timeout " + std::to_string(seconds) + " '" +
                                (fs::path(binaryDir) / "trevan").string() + "' -noabout -window " + arguments +
                                " >log.txt 2>&1";
    run.status = std::system(command.c_str());
    run.log = ReadFile(run.folder / "log.txt");
    return run;
}

// The x, y and z a "Demo: <what> at x y z" line of the log gives; false
// when there is no such line.
bool Position(const std::string& log, const std::string& what, int64_t xyz[3]) {
    const std::string key = "Demo: " + what + " at ";
    const size_t at = log.find(key);
    if (at == std::string::npos) return false;
    std::istringstream in(log.substr(at + key.size(), log.find('\n', at) - at - key.size()));
    return static_cast<bool>(in >> xyz[0] >> xyz[1] >> xyz[2]);
}

// The number after `key` on its first line in the log, or -1.
int64_t NumberAfter(const std::string& log, const std::string& key) {
    const size_t at = log.find(key);
    if (at == std::string::npos) return -1;
    return std::strtoll(log.c_str() + at + key.size(), nullptr, 10);
}

// The whole demo, headless: the intro (scene 6007) saves and loads its game
// and hands over to the demo game, whose scripted pilot (the flight test)
// plays 60 seconds of game time through the story's own key handling: it
// flies, locks a target, fires, asks to dock, saves into slot 1 and loads it,
// then the game ends normally. A frame step of 50 ms of game time
// (TREVAN_FRAME_MS) makes the minute pass faster than real time where the
// engine has the switch; without it the run takes the minute. The software
// rasteriser draws with its threads, as a player's run does: on the test
// processes' one thread its 1,200 frames took twice the minute.
TEST(EndToEnd, TheDemoFliesItsScriptedGameAndEndsNormally) {
    const std::string rasteriser =
        "LP_NUM_THREADS=" + std::to_string(std::max(1u, std::thread::hardware_concurrency()));
    const DemoRun run = RunDemo("endtoend-demo", "-obj 9 -par 6007", {}, rasteriser + " TREVAN_FRAME_MS=50", 400);
    ASSERT_TRUE(WIFEXITED(run.status)) << run.status;
    const std::string& text = run.log;
    EXPECT_EQ(WEXITSTATUS(run.status), 0) << text;

    size_t at = 0;
    for (const char* line : {" *** Trevan version 2.0 (",
                             "nach init video\n",
                             "nach init io\n",
                             "nach init audio\n",
                             "INIT: P_Init(); Anfang!\n",
                             "SB_LoadLocation() loading story file trevanintro",
                             "Demo: the ship's order answered 1\n",
                             "gameloop() Saving game 3 name Demo\n",
                             "gameloop() Loading game 3\n",
                             "main() Trying to load savegame #3\n",
                             "SB_LoadLocation() loading story file trevanintro",
                             "main() starting normal game game 1\n",
                             "SB_LoadLocation() loading story file trevanstory",
                             "Demo: the flight begins (test 1)\n",
                             "Demo: the player's ship starts at 0 0 0\n",
                             "Demo: pilot: full speed ahead\n",
                             "Demo: after 6 s the player's ship is at ",
                             "Demo: target locked ",
                             "Demo: the player's lasers fired\n",
                             "Demo: the player asks the trading post to dock\n",
                             "Demo: the player's ship docked, answered 1\n",
                             "Demo: after 60 s the player's ship is at ",
                             "Demo: saving slot 1\n",
                             "gameloop() Saving game 1 name Demo\n",
                             "Demo: saving slot 1 answered 1\n",
                             "Demo: loading slot 1\n",
                             "gameloop() Loading game 1\n",
                             "main() Trying to load savegame #1\n",
                             "SB_LoadLocation() loading story file trevanstory",
                             "Demo: the game loaded\n",
                             "Demo: after the load the player's ship is at ",
                             "Demo: the flight test ends\n",
                             "EXIT(0)!!!\n"}) {
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
    EXPECT_TRUE(fs::exists(run.folder / "data" / "Veldrim" / "Trevan" / "save" / "Qel01.sav"));

    // The state the story logged: the ship flew ahead, a target was locked and
    // hit at, and the load brought back the ship where the save had it.
    int64_t flew[3] = {}, saved[3] = {}, loaded[3] = {};
    ASSERT_TRUE(Position(text, "after 6 s the player's ship is", flew)) << text;
    EXPECT_GT(flew[2], 0) << text;
    EXPECT_GT(NumberAfter(text, "Demo: target locked "), 0) << text;
    EXPECT_GT(NumberAfter(text, "Demo: lasers fired "), 0) << text;
    ASSERT_TRUE(Position(text, "after 60 s the player's ship is", saved)) << text;
    ASSERT_TRUE(Position(text, "after the load the player's ship is", loaded)) << text;
    EXPECT_EQ(std::vector<int64_t>(saved, saved + 3), std::vector<int64_t>(loaded, loaded + 3)) << text;
    EXPECT_NE(saved[2], 0) << text;
    // The AI ships followed their orders: the hauler docked, the first raider
    // left its starting point on its attack and its shots landed.
    EXPECT_NE(text.find("Demo: the hauler docked, answered 1\n"), std::string::npos) << text;
    // The raiders' shots land on the player's side within the minute.
    EXPECT_NE(text.find("Demo: a raider's shot hit side A: raider "), std::string::npos) << text;
    // The ships' engines are heard: their bodies' sounds start as 3D sounds.
    EXPECT_NE(text.find("New 3d sound for (pri="), std::string::npos) << text;
    int64_t raider[3] = {};
    ASSERT_TRUE(Position(text, "after 60 s the first raider is", raider)) << text;
    EXPECT_NE(std::vector<int64_t>(raider, raider + 3), (std::vector<int64_t>{600000, 200000, 5000000})) << text;
    // No story function is missing and no story code failed (every ship the
    // story arms has the laser slot it mounts on).
    for (const char* failure :
         {"Unknown function", "Undefined function", "ILLEGAL", "Undefined System Call", "IntoContainer("})
        EXPECT_EQ(text.find(failure), std::string::npos) << failure << "\n" << text;

    // The demo folder holds every file the engine asks for: a healthy run logs
    // no error or warning, so a real one stands out.
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_EQ(line.find("ERROR"), std::string::npos) << line;
        EXPECT_EQ(line.find("WARNING"), std::string::npos) << line;
    }
    // Errors are framed. The only framed line is the exit's: the ships'
    // orders re-plan on a delay of their own, without a framed notice.
    const std::string banner = "======================================\n";
    int exits = 0;
    for (size_t open = text.find(banner); open != std::string::npos;) {
        const size_t close = text.find(banner, open + banner.size());
        ASSERT_NE(close, std::string::npos) << text.substr(open);
        const std::string framed = text.substr(open + banner.size(), close - open - banner.size());
        if (framed == "EXIT(0)!!!\n") ++exits;
        else ADD_FAILURE() << framed;
        open = text.find(banner, close + banner.size());
    }
    EXPECT_EQ(exits, 1) << text;
    // The game's end answers the orders' tasks before the exit frees their ships.
    EXPECT_EQ(text.find("a task waits for a system call"), std::string::npos) << text;
    fs::remove_all(run.folder);
}

// The benchmark run ("-benchmark", the intro's scene 6628): the game measures
// ten seconds of its sector in view as scene 0 and ends, and the run's exit
// writes the report with the scene's frame rates and the frames' own figures.
TEST(EndToEnd, TheBenchmarkRunMeasuresTheSectorAndWritesItsReport) {
    const DemoRun run = RunDemo("endtoend-benchmark", "-benchmark", {}, "TREVAN_FRAME_MS=50", 400);
    ASSERT_TRUE(WIFEXITED(run.status)) << run.status;
    const std::string& text = run.log;
    EXPECT_EQ(WEXITSTATUS(run.status), 0) << text;
    size_t at = 0;
    for (const char* line : {"main() starting normal game game 1\n", "Demo: the flight begins (test 0)\n",
                             "Demo: the benchmark ends\n", "  Scene\t 00\t ", "Median frame time:\t "}) {
        const size_t found = text.find(line, at);
        ASSERT_NE(found, std::string::npos) << "missing in order: " << line << "\n" << text;
        at = found;
    }
    const std::string report = ReadFile(run.folder / "qelperf.txt");
    for (const char* line : {"  Scene\t 00\t ", "Overall average framerate: ", "Median frame time:\t ",
                             "First frame after start: ", "Peak memory:\t\t "})
        EXPECT_NE(report.find(line), std::string::npos) << line << "\n" << report;
    // Scene 0 has a rate, and the frames were counted.
    const std::string scene = "  Scene\t 00\t ";
    ASSERT_NE(report.find(scene), std::string::npos) << report;
    EXPECT_GT(std::strtod(report.c_str() + report.find(scene) + scene.size(), nullptr), 0.0) << report;
    EXPECT_GT(NumberAfter(report, " ms over "), 100) << report;
    // The machine as it is: the processor's name, its whole memory (rounded
    // up to 16 MB), the vertex size the renderer draws with, and a maximum
    // rate over frames drawn in the scene (never the 1000 fps of a frame
    // measured before it began).
    const size_t cpu = report.find("CPU info: ");
    ASSERT_NE(cpu, std::string::npos) << report;
    EXPECT_NE(report[cpu + std::strlen("CPU info: ")], '\n') << report;
    const uint64_t bytes = uint64_t{static_cast<uint64_t>(sysconf(_SC_PHYS_PAGES))} * sysconf(_SC_PAGESIZE);
    EXPECT_EQ(NumberAfter(report, "System memory: ["), static_cast<int64_t>(((bytes + 0xFFFFFF) >> 20) & ~0xFull))
        << report;
    EXPECT_GT(NumberAfter(report, "used Vertexsize :\t"), 0) << report;
    const size_t maximum = report.rfind(" maximum fps\n");
    ASSERT_NE(maximum, std::string::npos) << report;
    EXPECT_LT(std::strtod(report.c_str() + report.rfind('\t', maximum) + 1, nullptr), 1000.0) << report;
    EXPECT_EQ(text.find("Demo: the flight test ends"), std::string::npos) << text;
    fs::remove_all(run.folder);
}

// The save folder cannot be written: the log says where and why, the demo
// intro logs the save's answer and, with nothing saved, loads nothing; the run
// goes on to its normal end (scene 6006: the intro alone).
TEST(EndToEnd, AFailedSaveIsLoggedAndTheDemoGoesOn) {
    const char* binaryDir = std::getenv("TREVAN_BINARY_DIR");
    const char* scratch = std::getenv("TREVAN_TEST_SCRATCH");
    ASSERT_TRUE(binaryDir && scratch);
    // A file where the save folder would be.
    const fs::path data = fs::path(scratch) / "endtoend-nosave" / "data" / "Veldrim" / "Trevan";
    const DemoRun run = RunDemo("endtoend-nosave", "-obj 9 -par 6006", [&] {
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

// Started with scene 6006 the intro captures its 30th frame: the scene it
// built through the engine calls, the cube body turned by 30 frame steps of
// 16 ms of game time (the intro turns it with the game clock), drawn on the
// camera's background.
TEST(EndToEnd, TheDemoIntroShowsItsTurningBody) {
    const DemoRun run = RunDemo("endtoend-demo-frame", "-obj 9 -par 6006", {}, "TREVAN_FRAME_MS=16");
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

// Started with scene 6008 the intro hands over to the demo game, which
// captures the 20th frame of its flight from the player's cockpit and ends
// normally. A run with a fixed frame step repeats itself: its random numbers
// start from one seed whatever the clock says, so two runs place the same
// dust, the AI makes the same first moves, and the two pictures are the same
// pixel for pixel.
TEST(EndToEnd, TheDemoGamesCockpitShotRepeatsFrameForFrame) {
    std::vector<uint32_t> shots[2];
    int width = 0, height = 0;
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const DemoRun run =
            RunDemo(i == 0 ? "endtoend-cockpit-a" : "endtoend-cockpit-b", "-obj 9 -par 6008", {}, "TREVAN_FRAME_MS=50");
        const std::string& text = run.log;
        ASSERT_TRUE(WIFEXITED(run.status)) << run.status;
        EXPECT_EQ(WEXITSTATUS(run.status), 0) << text;
        size_t at = 0;
        for (const char* line :
             {"SB_LoadLocation() loading story file trevanstory", "Demo: the flight begins (test 0)\n",
              "Demo: the cockpit view is captured\n", "EXIT(0)!!!\n"}) {
            const size_t found = text.find(line, at);
            ASSERT_NE(found, std::string::npos) << "missing in order: " << line << "\n" << text;
            at = found;
        }
        const fs::path shot = run.folder / "data" / "Veldrim" / "Trevan" / "screenshots" / "trevanscreen00001.tga";
        shots[i] = ReadScreenshot(shot, &width, &height);
        ASSERT_FALSE(shots[i].empty()) << text;
        fs::remove_all(run.folder);
    }
    ASSERT_EQ(shots[0].size(), shots[1].size());
    size_t differing = 0;
    for (size_t p = 0; p < shots[0].size(); ++p) differing += shots[0][p] != shots[1][p];
    EXPECT_EQ(differing, 0u) << "of " << width << " x " << height;
    // The radar (the middle screen) shows the objects within the scanner's
    // range by side: the raiders in red, side A's ships, the trading post and
    // the gate in light blue.
    ASSERT_EQ(width, 1024);
    int red = 0, blue = 0;
    for (int y = 526; y < 758; ++y)
        for (int x = 396; x < 628; ++x) {
            const uint32_t p = shots[0][static_cast<size_t>(y) * width + x];
            const int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
            red += r > 200 && g < 120 && b < 120;
            blue += b > 200 && g > 200 && r < 200;
        }
    EXPECT_GT(red, 50);
    EXPECT_GT(blue, 100);
    // The sector through the cockpit frame, the sight at the centre and the
    // HUD's render textures on the frame's screens: the radar's rings low in
    // the middle with the objects around, the status panel's bars on the
    // right and the target panel, empty without a target, on the left.
    EXPECT_EQ(GoldenCompare("tests/program/golden/demo_cockpit_frame20.png", width, height, shots[0]), "");
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
