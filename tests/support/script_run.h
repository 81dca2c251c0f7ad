// Script-engine test helpers for running stories: a context made by
// SE_Create, stories assembled from text, and a test engine-call module whose
// handler and result callbacks are scripted by the test.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "script/context.h"

// A story of one global function "Nop" that answers 0: enough for the tests
// of engine calls, which run them from the test module.
inline constexpr const char* kNopStory = R"(
    end
.func "Nop" need 8
    c0
    ret
)";

// One answer a module callback received.
struct RunAnswer {
    uint32_t callerNumber;
    int32_t kind;           // 1 integer, 2 text, 3 value
    int32_t n;              // the integer
    std::string text;       // the text (kind 2), or the value's display text (kind 3)
    bool nullText = false;  // kind 2 with a null text
};

// One call the test module's handler received.
struct RunCall {
    uint32_t taskId;
    int32_t call;
    int32_t argc;
    std::vector<std::string> args;  // display texts
};

class StoryRunner {
public:
    using Handler = std::function<int32_t(SE_Task* task, int32_t call, int32_t argc, ScriptValue* args)>;

    StoryRunner();   // SE_Create; registers the test module (number 2)
    ~StoryRunner();  // frees the story, the tables and the context
    StoryRunner(const StoryRunner&) = delete;
    StoryRunner& operator=(const StoryRunner&) = delete;

    SE_Context* ctx() const { return ctx_; }
    int32_t module() const { return module_; }

    // Assembles and loads a story (a test failure when either fails).
    bool Load(const std::string& text);
    // Starts a function of an object with integer arguments; the result goes
    // to this module's callbacks with caller number `caller`.
    int Start(int32_t objectId, const char* name, std::vector<int32_t> args = {}, int16_t kind = 1,
              uint32_t caller = 0);

    // The test module's call names (index = call number) and its handler.
    // Without a handler: "T_Now" answers INTEGER 0 at once, "T_Later" keeps the
    // task id in `later`, "T_Never" never answers, "T_Zero" returns 0 without
    // answering, "T_Text" answers the text "text".
    static const char* const kCallNames[];
    Handler handler;
    std::vector<uint32_t> later;
    std::vector<RunCall> calls;
    std::vector<RunAnswer> answers;

    // Display text of a value, of a global variable, of a task's top slot.
    static std::string Text(const ScriptValue* v);
    std::string Global(uint32_t index) const;
    // The single answer, as text ("" and a test failure when there is not exactly one).
    std::string Only() const;
    // Tasks in the ready and the waiting list.
    std::vector<SE_Task*> Ready() const;
    std::vector<SE_Task*> Waiting() const;

private:
    SE_Context* ctx_;
    int32_t module_;
};

// The end of a context made by SE_Create (the program keeps its one context
// to the end): its tables and the record.
void DestroyContext(SE_Context* ctx);

// Sum of the bytes booked in all memory categories of a context.
int64_t RunBookedBytes(const SE_Context* ctx);
