// Program-core test helpers: a program started in-process in a temporary game
// folder, as `trevan -noabout` starts, and shut down again by the exit's
// module frees (without ending the process).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "support/gamefolder.h"

// Assembles the story text into "L\<name>.obj" of the folder.
void WriteStory(const TempGameFolder& folder, const std::string& name, const std::string& text);

// The intro story of the loop tests: object 9 with "Init", "Run", "Input" and
// "Stop", each answering 0.
extern const char* const kQuietIntroStory;

// Argument vector for P_StartUp and P_Main: "WinCalled" and the arguments.
class ProgramArgs {
public:
    explicit ProgramArgs(std::vector<std::string> args);
    int argc() const { return static_cast<int>(args_.size()); }
    char** argv() { return argv_.data(); }

private:
    std::vector<std::string> args_;
    std::vector<char*> argv_;
};

// P_StartUp with "-noabout" and the given arguments in a fresh game folder
// holding "trevanintro" (kQuietIntroStory unless given), then the first run
// chosen. The settings live in the folder too, so no session sees another's. The destructor shuts the program down (P_Shutdown, ExitGeneral),
// frees the ProgramState and the options and resets the stand-ins.
class ProgramSession {
public:
    explicit ProgramSession(std::vector<std::string> args = {}, const std::string& intro = kQuietIntroStory);
    ~ProgramSession();
    const TempGameFolder& Folder() const { return folder_; }

private:
    TempGameFolder folder_;
    std::string savedConfigHome_;
    ProgramArgs args_;
};

// Frees the ProgramState and clears its pointer.
void FreeProgramState();

// A module for test stories: "Test_Note" (any arguments) answers 0 at once and
// notes its arguments, integers as numbers and texts as they are, joined by
// blanks; "Test_Wait" never answers, so the calling task waits.
void RegisterTestModule();
std::vector<std::string>& TestNotes();

// Headless message boxes are only captured: this prints each one's text to
// standard error ("Message box: <text>") when the process ends, so a death
// test sees the exit's message.
void PrintMessageBoxesAtExit();

// The calls recorded since the last StandIn_ClearCalls, from the first one
// named `from` on (all when empty or not found).
std::vector<std::string> CallsFrom(const std::string& from);
