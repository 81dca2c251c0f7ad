// The interpreter's fused forms against its plain instructions: generated
// stories (loops, jumps into the middle of fused runs, mixed value types,
// indexing, globals, case tables, engine calls) run once with the fused forms
// and once without must answer, log and leave their globals alike.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "script/interpreter.h"
#include "script/memory.h"
#include "script/tasks.h"
#include "support/logcapture.h"
#include "support/script_run.h"

namespace {

// Writes one story around a function "F" whose frame holds four locals:
// L0..L2 hold plain values, L3 a container or a plain value. Containers are
// never stored into containers, so no cycle forms.
class StoryGen {
public:
    explicit StoryGen(uint32_t seed) : rng_(seed) {}

    std::string Story() {
        out_.clear();
        labels_ = 0;
        depth_ = 0;
        Line(".var \"G0\" int 4");
        Line(".var \"G1\" zero");   // an array of 8
        Line(".var \"G2\" int 0");  // fuel: loop iterations left
        Line(".var \"G3\" zero");   // a table
        for (int i = 0; i < 4; ++i) Line(".var \"R" + std::to_string(i) + "\" zero");
        Line(".func \"F\" need 64");
        Line("room 64");
        for (int i = 7; i >= 0; --i) Line(Int(i * 3 - 4));
        Line("c8");
        Line("mkarray");
        Line("setg 1");
        Line("pop");
        Line("c3");
        Line("pushs \"k\"");
        Line("c7");
        Line("c2");
        Line("pushw -1");
        Line("c1");
        Line("c6");
        Line("mktable");
        Line("setg 3");
        Line("pop");
        Line("pushw 400");
        Line("setg 2");
        Line("pop");
        for (int j = 0; j < 3; ++j) Line(PlainValue());
        switch (Pick(5)) {
            case 0: Line("getg 1"); break;
            case 1: Line("getg 3"); break;
            case 2: Line("pushs \"t\""); break;
            default: Line(Int(Pick(9))); break;
        }
        int n = 3 + Pick(6);
        for (int i = 0; i < n; ++i) Statement(2);
        for (int j = 0; j < 4; ++j) {
            Line("getl " + std::to_string(Local(j)));
            Line("setg " + std::to_string(4 + j));
            Line("pop");
        }
        Line("popn 4");
        Line("getg 0");
        Line("ret");
        return out_;
    }

private:
    int Pick(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }
    void Line(const std::string& s) { out_ += s + "\n"; }
    std::string Label() { return "l" + std::to_string(labels_++); }

    // getl index of local j (L3 pushed last) or argument k, at the current depth.
    int Local(int j) const { return (3 - j) + 1 + depth_; }
    int Arg(int k) const { return 8 + k + depth_; }

    std::string Int(int v) {
        if (v >= 0 && v <= 31) return "c" + std::to_string(v);
        return "pushw " + std::to_string(v);
    }
    std::string Const() {
        switch (Pick(6)) {
            case 0: return "pushw " + std::to_string(Pick(600) - 300);
            case 1: return "pushw 32767";
            default: return "c" + std::to_string(Pick(12));
        }
    }
    std::string PlainValue() {
        switch (Pick(9)) {
            case 0: return "pushf " + std::to_string(Pick(40) - 20) + ".25";
            case 1: return "pushs \"s" + std::to_string(Pick(3)) + "\"";
            case 2: return "pushds \"" + std::to_string(Pick(4)) + "\"";
            case 3: return "pushl 2147483600";
            case 4: return "pushf0";
            default: return Int(Pick(40) - 5);
        }
    }
    // A getl of a local, an argument or the count, L3 left out: an illegal
    // operator leaves a container as its result, and a container stored
    // into itself would never be freed.
    std::string Source() {
        int k = Pick(6);
        return "getl " + std::to_string(k < 3 ? Local(k) : k < 5 ? Arg(k - 3) : 7 + depth_);
    }
    // Any of them, L3 too: for what is only compared or tested.
    std::string AnySource() { return Pick(5) ? Source() : "getl " + std::to_string(Local(3)); }
    std::string Target() { return std::to_string(Local(Pick(3))); }
    std::string BinOp() {
        static const char* const ops[] = {"add", "sub", "mul", "and", "or",  "lt",  "gt", "le",
                                          "ge",  "ne",  "eq",  "div", "mod", "eor", "lsh"};
        return ops[Pick(15)];
    }
    std::string FloatOp() {
        static const char* const ops[] = {"add", "sub", "mul", "div"};
        return ops[Pick(4)];
    }
    std::string Cmp() {
        static const char* const ops[] = {"lt", "gt", "le", "ge", "ne", "eq"};
        return ops[Pick(6)];
    }
    // Now and then a zero: a division by it is the operator's to log.
    std::string Float() {
        int k = Pick(9) - 2;
        return k == 6 ? "pushf 0.0" : "pushf " + std::to_string(k) + ".5";
    }

    // Pushes one value (depth + 1), then a setl into L0..L2 and a pop.
    void SetTarget() {
        Line("setl " + Target());
        Line("pop");
        --depth_;
    }

    // One statement: the depth is the same before and after.
    void Statement(int nest) {
        switch (Pick(nest > 0 ? 14 : 12)) {
            case 0:  // getl a; getl b; op; setl c; pop
                Line(Source()), ++depth_;
                Line(Source()), ++depth_;
                Line(BinOp()), --depth_;
                SetTarget();
                break;
            case 1:  // getl a; const; op [; const; op]; setl c; pop
                Line(Source()), ++depth_;
                Line(Const());
                Line(BinOp());
                if (Pick(2)) Line(Const()), Line(BinOp());
                SetTarget();
                break;
            case 2:  // floats
                Line(Source()), ++depth_;
                if (Pick(2)) Line(Source()), ++depth_, Line(BinOp()), --depth_;
                Line(Float());
                Line(FloatOp());
                if (Pick(2)) Line(Float()), Line(FloatOp());
                SetTarget();
                break;
            case 3: {  // index reads: a global or a local container
                Line(Pick(3) ? Int(Pick(10) - 1) : AnySource()), ++depth_;
                switch (Pick(4)) {
                    case 0: Line("getg 1"); break;
                    case 1: Line("getg 3"); break;
                    default: Line("getl " + std::to_string(Local(3))); break;
                }
                Line("index");
                SetTarget();
                break;
            }
            case 4: {  // index writes of plain values
                Line(Pick(2) ? Source() : Const()), ++depth_;
                if (Pick(3)) {
                    Line(Source()), ++depth_;
                } else {
                    Line(Int(Pick(10) - 1)), ++depth_;
                }
                switch (Pick(4)) {
                    case 0: Line("getg 1"); break;
                    case 1: Line("getg 3"); break;
                    default: Line("getl " + std::to_string(Local(3))); break;
                }
                Line("store"), --depth_;
                Line("pop"), --depth_;
                break;
            }
            case 5:  // globals
                if (Pick(2)) {
                    Line(Source()), ++depth_;
                    Line("setg 0");
                    Line("pop"), --depth_;
                } else {
                    Line("getg 0"), ++depth_;
                    Line(Source()), ++depth_;
                    Line(BinOp()), --depth_;
                    SetTarget();
                }
                break;
            case 6:  // an engine call answered at once
                Line(Source()), ++depth_;
                Line("c1");
                Line("sys \"T_Now\"");
                SetTarget();
                break;
            case 7: {  // a jump into the middle of a fused run
                std::string mid = Label();
                Line(Source()), ++depth_;
                Line(AnySource()), ++depth_;
                Line(Pick(2) ? "jf " + mid : "jnf " + mid), --depth_;
                Line("pop"), --depth_;
                Line(Source()), ++depth_;
                Line(mid + ": " + Source()), ++depth_;
                Line(BinOp()), --depth_;
                SetTarget();
                break;
            }
            case 8: {  // a case table
                std::string end = Label();
                std::vector<std::string> arms;
                for (int i = 0; i < 4; ++i) arms.push_back(Label());
                Line(AnySource()), ++depth_;
                Line("c1");
                Line("c2");
                Line("pushs \"s1\"");
                Line("c3");
                Line("case");
                Line("jtab " + arms[0] + " " + arms[1] + " " + arms[2] + " " + arms[3]), --depth_;
                for (const std::string& arm : arms) {
                    Line(arm + ":");
                    Statement(0);
                    Line("jmp " + end);
                }
                Line(end + ":");
                break;
            }
            case 9:  // plain unary operators and a duplicate
                Line(Source()), ++depth_;
                Line(Pick(2) ? "neg" : Pick(2) ? "not" : "inv");
                if (Pick(2)) Line("dup"), Line("add");
                SetTarget();
                break;
            case 10:  // a comparison and a branch around a statement
            case 11: {
                std::string skip = Label();
                Line(AnySource()), ++depth_;
                Line(Pick(2) ? AnySource() : Const()), ++depth_;
                Line(Cmp()), --depth_;
                Line((Pick(2) ? "jf " : "jnf ") + skip), --depth_;
                Statement(0);
                Line(skip + ":");
                break;
            }
            default: Loop(nest); break;
        }
    }

    // A counting loop: its step and test at the bottom, entered at the test,
    // at the top of the body, or in the middle of the step or the test. A
    // fuel count bounds it whatever the body does to the counter.
    void Loop(int nest) {
        int counter = Pick(3);
        std::string body = Label(), step = Label(), test = Label(), exit = Label(), midStep = Label(),
                    midTest = Label();
        Line(Pick(4) ? Int(Pick(20) - 3) : PlainValue()), ++depth_;
        Line("setl " + std::to_string(Local(counter)));
        Line("pop"), --depth_;
        std::string stepConst = Pick(4) ? "c" + std::to_string(1 + Pick(3)) : Int(Pick(7) - 3);
        if (Pick(5) == 0) stepConst = "pushw " + std::to_string(Pick(5) + 1);
        int entry = Pick(5);
        if (entry == 0) {
            Line("jmp " + test);
        } else if (entry == 1) {
            Line("getl " + std::to_string(Local(counter)));
            Line("jmp " + midStep);
        } else if (entry == 2) {
            Line("getl " + std::to_string(Local(counter)));
            Line("jmp " + midTest);
        }
        Line(body + ":");
        Line("getg 2"), ++depth_;
        Line("c1");
        Line("sub");
        Line("setg 2");
        Line("c0");
        Line("gt");
        Line("jf " + exit), --depth_;
        int n = 1 + Pick(2);
        for (int i = 0; i < n; ++i) Statement(nest - 1);
        Line(step + ": getl " + std::to_string(Local(counter))), ++depth_;
        Line(midStep + ": " + stepConst);
        Line("add");
        Line("setl " + std::to_string(Local(counter)));
        Line("pop"), --depth_;
        Line(test + ": getl " + std::to_string(Local(counter))), ++depth_;
        Line(midTest + ": " + (Pick(3) ? AnySource() : Const())), ++depth_;
        Line(Cmp()), --depth_;
        Line((Pick(2) ? "jnf " : "jf ") + body), --depth_;
        Line(exit + ":");
    }

    std::mt19937 rng_;
    std::string out_;
    int labels_ = 0;
    int depth_ = 0;  // values pushed above the four locals
};

// The largest text a run may make, as under the fuzz targets: a generated
// story that doubles a text each time round a loop stops there, the same
// way in both runs, long before the machine's memory.
constexpr int64_t kTextBudget = 65536;

// What one run shows: the answer, the engine calls' arguments, the globals
// and the log.
std::string RunStory(const std::string& story, bool fused) {
    SE_SetFusedForms(fused);
    SE_SetTextBudget(kTextBudget);
    std::string seen;
    {
        LogCapture log;
        StoryRunner r;
        if (!r.Load(story)) return "<load failed>";
        r.Start(0, "F", {11, 22}, SE_RETURN_VALUE);
        for (const RunAnswer& a : r.answers) seen += "answer " + a.text + "\n";
        for (const RunCall& c : r.calls) {
            seen += "call";
            for (const std::string& arg : c.args) seen += " " + arg;
            seen += "\n";
        }
        for (uint32_t g = 0; g < 8; ++g) seen += "G" + std::to_string(g) + " " + r.Global(g) + "\n";
        seen += "tasks " + std::to_string(r.Ready().size()) + " " + std::to_string(r.Waiting().size()) + "\n";
        seen += log.Text();
    }
    SE_SetTextBudget(-1);
    SE_SetFusedForms(true);
    return seen;
}

TEST(FusedForms, GeneratedStoriesRunAlikeWithAndWithout) {
    StoryGen gen(20261210);
    int illegal = 0;
    for (int i = 0; i < 3000; ++i) {
        std::string story = gen.Story();
        std::string fused = RunStory(story, true);
        std::string plain = RunStory(story, false);
        ASSERT_EQ(fused, plain) << "story " << i << ":\n" << story;
        ASSERT_EQ(fused.find("<load failed>"), std::string::npos) << story;
        if (fused.find("ILLEGAL") != std::string::npos) ++illegal;
    }
    // The stories are well formed: they exercise the fast paths, not the checks.
    EXPECT_EQ(illegal, 0);
}

TEST(FusedForms, ATextDoubledEachTimeRoundStopsAtTheBudgetInBothRuns) {
    // 40 doublings of "ab" would ask for two terabytes; the budget keeps the
    // last text that fits, 32768 bytes.
    const std::string story =
        ".func \"F\" need 8\npushs \"ab\"\nc0\nloop:\ngetl 2\ngetl 3\nadd\nsetl 3\npop\n"
        "getl 1\nc1\nadd\nsetl 2\npop\ngetl 1\npushw 40\nlt\njnf loop\npop\nret\n";
    std::string fused = RunStory(story, true);
    EXPECT_EQ(fused, RunStory(story, false));
    std::string text;
    for (int i = 0; i < 16384; ++i) text += "ab";
    EXPECT_NE(fused.find("answer \"" + text + "\"\n"), std::string::npos);
}

// A loop whose body grows the stack by one value each time round, so that
// it ends at the stack's hard limit; the run under test meets every amount
// of room left, down to none. A fused form must need the room its
// plain run pushes: where that run would end the task, the form must too,
// at the same instruction. G1 is an array of one INTEGER, the loop's
// counter (for the step forms) a fresh INTEGER on top.
struct NearLimitCase {
    const char* form;
    const char* body;
};
const NearLimitCase kNearLimitCases[] = {
    {"LL", "getl 1\ngetl 2\nadd"},
    {"LK", "getl 1\nc1\nadd"},
    {"K", "dup\nc1\nadd"},
    {"LL_J", "c0\ngetl 1\ngetl 2\nlt\njf next\nnext:"},
    {"LK_J", "c0\ngetl 1\nc1\nlt\njnf next\nnext:"},
    {"LL_SET", "c0\ngetl 1\ngetl 2\nadd\nsetl 2\npop"},
    {"LK_SET", "c0\ngetl 1\nc1\nadd\nsetl 2\npop"},
    {"F", "dup\npushf 1.5\nadd"},
    {"F_SET", "c0\nc0\npushf 1.5\nadd\nsetl 2\npop"},
    {"LF", "getl 1\npushf 1.5\nadd"},
    {"LFF_SET", "c0\ngetl 1\npushf 1.5\nadd\npushf 2.5\nmul\nsetl 2\npop"},
    {"G_INDEX", "c0\ngetg 1\nindex"},
    {"G_STORE", "c0\nc0\ngetg 1\nstore"},
    {"L_INDEX", "getg 1\nc0\ngetl 2\nindex\npop"},
    {"L_STORE", "getg 1\nc0\nc0\ngetl 3\nstore\npop"},
    {"LG_INDEX", "getl 1\ngetg 1\nindex"},
    {"LG_STORE", "c0\ngetl 1\ngetg 1\nstore"},
    {"LL_INDEX", "getg 1\nc0\ngetl 1\ngetl 3\nindex\npop\npop"},
    {"LL_STORE", "getg 1\nc0\ngetl 1\ngetl 3\nstore\npop"},
    {"STEP", "c0\ngetl 1\nc1\nadd\nsetl 2\npop\ngetl 1\nc5\nlt\njf next\nnext:"},
    {"LOOP", "c0\nstep:\ngetl 1\nc1\nadd\nsetl 2\npop\ngetl 1\nc5\nlt\njnf step"},
};

TEST(FusedForms, NearTheStackLimitRunsEndAsTheirPlainRuns) {
    for (const NearLimitCase& c : kNearLimitCases) {
        std::string story = ".var \"G0\" int 4\n.var \"G1\" zero\n.func \"F\" need 8\nc0\nc1\nmkarray\nsetg 1\npop\n";
        // Room for nearly all at once: the test is about the last few values.
        story += "room 16300\nc0\nloop:\n" + std::string(c.body) + "\njmp loop\n";
        std::string fused = RunStory(story, true);
        std::string plain = RunStory(story, false);
        EXPECT_EQ(fused, plain) << c.form;
        EXPECT_NE(plain.find("Stack overflow"), std::string::npos) << c.form << ": " << plain;
    }
}

}  // namespace
