#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "support/gamefolder.h"

namespace {

std::string SourceDir() {
    const char* dir = getenv("TREVAN_SOURCE_DIR");
    return dir ? dir : ".";
}

// Runs a command in the working folder; its status, its output in *out.
int Shell(const std::string& command, std::string* out) {
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (!p) return -1;
    std::string text;
    char buf[4096];
    while (size_t n = fread(buf, 1, sizeof buf, p)) text.append(buf, n);
    *out = text;
    const int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Makes the temporary folder a repository of the files written so far and
// runs the check over it.
int CheckLayers(std::string* out) {
    std::string ignored;
    if (Shell("git init -q . && git add -A", &ignored) != 0) return -1;
    return Shell("python3 " + SourceDir() + "/tools/check_layers .", out);
}

std::string ReadSource(const std::string& name) {
    std::ifstream in(SourceDir() + "/" + name);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A page with three floors and one upward include listed for two files.
const char* const kPage =
    "# Architecture\n\n## Floors\n\n| floor | folders |\n|---|---|\n"
    "| 1 | `platform` |\n| 2 | `base`, `system` |\n| 3 | `program` |\n\n"
    "## Upward includes\n\n| files | include | why |\n|---|---|---|\n"
    "| `system/entry.cpp`, `base/general.cpp` | `program/exit.h` | the exit |\n\n"
    "## Checks\n\n| `base/free.cpp` | `program/exit.h` | outside the section: allows nothing |\n";

}  // namespace

// The real page's floors: a scratch file in each folder includes a header of
// another; only the includes that go up a floor are offences.
TEST(CheckLayers, TheFloorsOfThisPageAllowOnlyTheirOwnAndLowerFloors) {
    struct Case {
        const char* file;
        const char* header;
        bool upward;
    };
    const Case cases[] = {
        {"base/scratch_a.cpp", "system/video.h", false},    {"system/scratch_a.cpp", "base/ebm.h", false},
        {"base/scratch_b.cpp", "script/tasks.h", true},     {"script/scratch_a.cpp", "system/clock.h", false},
        {"render/scratch_a.cpp", "scene/records.h", false}, {"scene/scratch_a.cpp", "render/device.h", false},
        {"render/scratch_b.cpp", "space/records.h", true},  {"space/scratch_a.cpp", "cockpit/cockpits.h", false},
        {"cockpit/scratch_a.cpp", "space/kill.h", false},   {"cockpit/scratch_b.cpp", "program/exit.h", true},
        {"platform/scratch_a.cpp", "base/log.h", true},     {"program/scratch_a.cpp", "cockpit/ticker.h", false},
        {"script/scratch_b.cpp", "scene/records.h", true},  {"system/scratch_b.cpp", "space/records.h", true},
    };
    TempGameFolder repo;
    repo.Write("ARCHITECTURE.md", ReadSource("ARCHITECTURE.md"));
    for (const Case& c : cases) repo.Write(c.file, std::string("#include \"") + c.header + "\"\n");
    std::string out;
    EXPECT_EQ(CheckLayers(&out), 1);
    for (const Case& c : cases) {
        const std::string offence = std::string(c.file) + ":1: upward include: " + c.header;
        EXPECT_EQ(out.find(offence) != std::string::npos, c.upward) << offence << "\n" << out;
    }
}

TEST(CheckLayers, ListedIncludesPassAndEveryListedPairMustStillBeNeeded) {
    {
        TempGameFolder repo;
        repo.Write("ARCHITECTURE.md", kPage);
        repo.Write("system/entry.cpp", "#include \"program/exit.h\"\n#include \"base/log.h\"\n");
        repo.Write("base/general.cpp", "#include \"program/exit.h\"\n#include \"system/clock.h\"\n");
        repo.Write("program/main.cpp", "#include \"base/log.h\"\n#include <vector>\n");
        repo.Write("system/README.md", "| file | holds |\n|---|---|\n| `entry` | the entry |\n");
        repo.Write("base/README.md", "| `general` | start-up |\n");
        repo.Write("program/README.md", "| `main` | main |\n");
        std::string out;
        EXPECT_EQ(CheckLayers(&out), 0) << out;
    }
    {
        // One of the row's files no longer includes the header; a row
        // outside the section allows nothing.
        TempGameFolder repo;
        repo.Write("ARCHITECTURE.md", kPage);
        repo.Write("system/entry.cpp", "#include \"program/exit.h\"\n");
        repo.Write("base/free.cpp", "\n  #  include \"program/exit.h\"\n");
        std::string out;
        EXPECT_EQ(CheckLayers(&out), 1);
        EXPECT_NE(out.find("ARCHITECTURE.md lists base/general.cpp -> program/exit.h, which is no longer needed"),
                  std::string::npos)
            << out;
        EXPECT_NE(out.find("base/free.cpp:2: upward include: program/exit.h"), std::string::npos) << out;
        EXPECT_EQ(out.find("system/entry.cpp"), std::string::npos) << out;
    }
}

TEST(CheckLayers, PlatformHeadersStayBelowAndBehindTheWrappers) {
    TempGameFolder repo;
    repo.Write("ARCHITECTURE.md", kPage);
    repo.Write("base/ok.h", "#include \"platform/win32/basetypes.h\"\n");
    repo.Write("base/ok.cpp", "#include \"platform/d3d9/d3d9.h\"\n");
    repo.Write("base/shown.h", "#include \"platform/d3d9/d3d9.h\"\n");
    repo.Write("program/above.cpp", "#include \"platform/win32/window.h\"\n");
    repo.Write("platform/a/one.cpp", "#include \"platform/b/two.h\"\n");
    repo.Write("platform/b/two.cpp", "#include \"platform/a/one.h\"\n");
    repo.Write("system/weak.cpp", "__attribute__((weak)) void F() {}\n");
    std::string out;
    EXPECT_EQ(CheckLayers(&out), 1);
    for (const char* line : {"base/shown.h:1: platform header exposed by a public header: platform/d3d9/d3d9.h",
                             "program/above.cpp:1: platform header above the system layer",
                             "platform/a and platform/b include each other", "system/weak.cpp:1: weak symbol"}) {
        EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
    }
    EXPECT_EQ(out.find("base/ok"), std::string::npos) << out;
}

// Each folder's README names every file of the folder in its tables' first
// cells; a name there that is no file fails as well.
TEST(CheckLayers, FolderReadmesListEveryFileAndNoOther) {
    TempGameFolder repo;
    repo.Write("ARCHITECTURE.md", kPage);
    repo.Write("base/log.h", "");
    repo.Write("base/log.cpp", "");
    repo.Write("base/table.cpp", "");
    repo.Write("base/README.md",
               "| file | holds |\n|---|---|\n| `log` | the log, not `table` in a later cell |\n| `gone` | removed |\n");
    repo.Write("platform/win32/window.cpp", "");
    repo.Write("platform/README.md", "| `win32/window` | windows |\n");
    repo.Write("tools/catpack/main.cpp", "");
    repo.Write("tools/lib/packed_writer.h", "");
    repo.Write("tools/check", "");
    repo.Write("tools/README.md", "| `catpack`, `lib/packed_writer` | a tool and its library |\n");
    repo.Write("tests/base/log_test.cpp", "");
    repo.Write("tests/base/golden/a.png", "");
    repo.Write("tests/support/story.h", "");
    repo.Write("tests/README.md", "| `base` | the tests |\n| `support/story` | stories |\n");
    repo.Write("script/values.h", "");
    std::string ignored;
    ASSERT_EQ(Shell("git init -q . && git add -A && git update-index --chmod=+x tools/check", &ignored), 0);
    std::string out;
    EXPECT_EQ(Shell("python3 " + SourceDir() + "/tools/check_layers .", &out), 1);
    for (const char* line :
         {"base/README.md does not list table", "base/README.md lists gone, which is no file of base/",
          "tools/README.md does not list check", "script/README.md is missing"}) {
        EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
    }
    for (const char* fine : {"platform/", "tests/", "does not list log", "does not list catpack"}) {
        EXPECT_EQ(out.find(fine), std::string::npos) << fine << "\n" << out;
    }
}
