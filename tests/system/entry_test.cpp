#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/general.h"
#include "base/log.h"
#include "platform/win32/cpu.h"
#include "platform/win32/process.h"
#include "support/logcapture.h"
#include "system/entry.h"
#include "system/standin_fields.h"

namespace {

// What the program's main was handed.
struct Handed {
    int argc = -1;
    std::vector<std::string> argv;
    bool nullAfterLast = false;
};
Handed g_handed;

int RecordingMain(int argc, char** argv) {
    g_handed = {};
    g_handed.argc = argc;
    for (int i = 0; i < argc; ++i) g_handed.argv.emplace_back(argv[i]);
    g_handed.nullAfterLast = argv[argc] == nullptr;
    return 77;
}

class Entry : public testing::Test {
protected:
    void SetUp() override {
        S_SetProgramMain(RecordingMain);
        g_Win32ProcessSeam = {};
        g_Win32ProcessSeam.intercept = true;  // the test process keeps its priority
    }
    void TearDown() override {
        S_SetProgramMain(nullptr);
        g_Win32ProcessSeam = {};
    }
    // Runs WinMain over a copy of the line; returns what it logged.
    std::string Run(const std::string& line) {
        line_.assign(line.begin(), line.end());
        line_.push_back('\0');
        LogCapture capture;
        EXPECT_EQ(WinMain(nullptr, nullptr, line_.data(), 5), 77);
        return capture.Take();
    }
    std::vector<char> line_;
};

struct SplitCase {
    const char* line;
    std::vector<std::string> words;  // entries after "WinCalled"
};

void PrintTo(const SplitCase& c, std::ostream* os) { *os << '"' << c.line << '"'; }

class EntrySplit : public Entry, public testing::WithParamInterface<SplitCase> {};

TEST_P(EntrySplit, CutsAtEveryBlank) {
    EXPECT_EQ(Run(GetParam().line), "");
    std::vector<std::string> expected{"WinCalled"};
    for (const auto& w : GetParam().words) expected.push_back(w);
    EXPECT_EQ(g_handed.argv, expected);
    EXPECT_EQ(g_handed.argc, static_cast<int>(expected.size()));
    EXPECT_TRUE(g_handed.nullAfterLast);
}

INSTANTIATE_TEST_SUITE_P(Lines, EntrySplit,
                         testing::Values(SplitCase{"", {""}}, SplitCase{"load", {"load"}},
                                         SplitCase{"-o log.txt", {"-o", "log.txt"}},
                                         SplitCase{"one  two", {"one", "", "two"}}, SplitCase{" lead", {"", "lead"}},
                                         SplitCase{"tab\there", {"tab\there"}}, SplitCase{"end ", {"end", ""}}));

std::string Words(int from, int to) {
    std::string s;
    for (int i = from; i <= to; ++i) s += (i > from ? " w" : "w") + std::to_string(i);
    return s;
}

TEST_F(Entry, ThirtyWordsGiveTwentyNineEntriesAndAMessage) {
    std::string log = Run(Words(1, 30));
    EXPECT_EQ(log, std::string(QEL_LOG_BANNER) + "Error: CmdLine longer than 30 parameter\n" + QEL_LOG_BANNER);
    ASSERT_EQ(g_handed.argc, 29);
    EXPECT_EQ(g_handed.argv[1], "w1");
    EXPECT_EQ(g_handed.argv[27], "w27");
    EXPECT_EQ(g_handed.argv[28], "w28 w29 w30");
    EXPECT_TRUE(g_handed.nullAfterLast);
}

TEST_F(Entry, TwentyEightWordsFitWithoutAMessage) {
    EXPECT_EQ(Run(Words(1, 28)), "");
    ASSERT_EQ(g_handed.argc, 29);
    EXPECT_EQ(g_handed.argv[28], "w28");
}

TEST_F(Entry, RecordIsClearedThenFilled) {
    g_ApplicationRecord.active = 1;
    g_ApplicationRecord.cdDeviceId = 9;
    Run("x y");
    EXPECT_EQ(g_ApplicationRecord.active, 0);
    EXPECT_EQ(g_ApplicationRecord.cdDeviceId, 0u);
    EXPECT_EQ(g_ApplicationRecord.commandLine, line_.data());
    EXPECT_EQ(g_ApplicationRecord.showCommand, 5);
    EXPECT_EQ(g_ApplicationRecord.mainWindow, nullptr);
}

TEST_F(Entry, PrioritySwitchesIgnoreCaseButNotLongerWords) {
    struct Case {
        const char* line;
        int calls;
        uint32_t lastClass;
        const char* log;
    } cases[] = {
        {"-lowpri", 1, IDLE_PRIORITY_CLASS, ""},
        {"-LowPri", 1, IDLE_PRIORITY_CLASS, ""},
        {"-lowprix -low", 0, 0, ""},
        {"-HIGHPRI", 1, HIGH_PRIORITY_CLASS, "ACHTUNG: Process with HIGH priority!\n"},
        {"-highpri -lowpri", 2, IDLE_PRIORITY_CLASS, "ACHTUNG: Process with HIGH priority!\n"},
        {"-lowpri x -highpri", 2, HIGH_PRIORITY_CLASS, "ACHTUNG: Process with HIGH priority!\n"},
    };
    for (const Case& c : cases) {
        g_Win32ProcessSeam = {};
        g_Win32ProcessSeam.intercept = true;
        std::string log = Run(c.line);
        EXPECT_EQ(g_Win32ProcessSeam.calls, c.calls) << c.line;
        EXPECT_EQ(g_Win32ProcessSeam.lastClass, c.lastClass) << c.line;
        std::string expected = *c.log ? std::string(QEL_LOG_BANNER) + c.log + QEL_LOG_BANNER : "";
        EXPECT_EQ(log, expected) << c.line;
    }
}

TEST_F(Entry, FailedPriorityChangeIsLoggedAndTheProgramGoesOn) {
    g_Win32ProcessSeam.failCalls = 2;
    std::string log = Run("-highpri -lowpri go");
    std::string b = QEL_LOG_BANNER;
    EXPECT_EQ(log, b + "ACHTUNG: Process with HIGH priority!\n" + b + b + "Error setting HIGH process priority\n" + b +
                       b + "Error setting IDLE process priority\n" + b);
    EXPECT_EQ(g_handed.argv.back(), "go");
}

// --- processor probe, on a made-up processor ---

constexpr uint32_t kIntel = 0x6C65746E;  // "ntel"
constexpr uint32_t kAmd = 0x444D4163;    // "cAMD"
constexpr uint32_t kFpu = 1u << 0, kTsc = 1u << 4, kCx8 = 1u << 8, kCmov = 1u << 15, kMmx = 1u << 23, kFxsr = 1u << 24,
                   kSse = 1u << 25, kSse2 = 1u << 26, kHtt = 1u << 28;

class CpuProbe : public testing::Test {
protected:
    void SetUp() override {
        g_Win32CpuSeam = {};
        g_Win32CpuSeam.active = true;
        state_ = {};
        state_.cpuLevel = -1;
        g_SystemState = &state_;
        state_.logFileName = const_cast<char*>("null");
    }
    void TearDown() override {
        g_Win32CpuSeam = {};
        g_SystemState = nullptr;
    }
    void Leaf(uint32_t leaf, uint32_t eax, uint32_t ebx, uint32_t ecx, uint32_t edx) {
        g_Win32CpuSeam.leaves[g_Win32CpuSeam.leafCount++] = {leaf, eax, ebx, ecx, edx};
    }
    void Processor(uint32_t vendorEcx, uint32_t edx, uint32_t ecx) {
        Leaf(0, 1, 0, vendorEcx, 0);
        Leaf(1, 0x6F2, 0, ecx, edx);
    }
    std::string Detect(int* result) {
        LogCapture capture;
        *result = S_DetectCPUFeatures();
        return capture.Take();
    }
    SystemState state_{};
};

TEST_F(CpuProbe, FeatureWordFromTheStandardLeaves) {
    Processor(kIntel, kFpu | kTsc | kCx8 | kCmov | kMmx | kFxsr | kSse | kSse2 | kHtt, 1);
    EXPECT_EQ(Qel_DetectCPU(), 0x6Fu | 0x100 | CPU_FEATURE_OS_SSE | 0x1000 | 0x2000 | 0x4000 | kCmov | kMmx | kFxsr |
                                   kSse | kSse2 | kHtt | CPU_FEATURE_SSE3);
    g_Win32CpuSeam.osSavesSse = false;
    EXPECT_EQ(Qel_DetectCPU() & CPU_FEATURE_OS_SSE, 0u);
}

TEST_F(CpuProbe, AmdExtendedBits) {
    Processor(kAmd, kMmx, 0);
    Leaf(0x80000000u, 0x80000001u, 0, 0, 0);
    Leaf(0x80000001u, 0, 0, 0, (1u << 22) | (1u << 30) | (1u << 31));
    EXPECT_EQ(Qel_DetectCPU(), 0x6Fu | 0x200 | kMmx | 0xE0000000u);
    // An Intel processor never reads them.
    g_Win32CpuSeam.leaves[0].ecx = kIntel;
    EXPECT_EQ(Qel_DetectCPU(), 0x6Fu | 0x100 | kMmx);
}

TEST_F(CpuProbe, NoCpuidOrNoStandardLeafGivesZero) {
    g_Win32CpuSeam.hasCpuid = false;
    EXPECT_EQ(Qel_DetectCPU(), 0u);
    int result;
    EXPECT_EQ(Detect(&result), std::string(QEL_LOG_BANNER) +
                                   "ERROR: CPUID is not supported, cant detect CPU features\n" + QEL_LOG_BANNER);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(state_.cpuLevel, -1);

    g_Win32CpuSeam.hasCpuid = true;
    Leaf(0, 0, 0, kIntel, 0);
    EXPECT_EQ(Qel_DetectCPU(), 0u);
}

TEST_F(CpuProbe, SseControlBitsAndCpuLevel) {
    struct Case {
        uint32_t edx, ecx, mask;
        int level;
        uint32_t mxcsr;
        const char* log;
    } cases[] = {
        {kMmx | kFxsr | kSse | kSse2, 1, 0xFFFF, 8, 0x1F80 | 0x8940, "MMX: 1, SSE1: 1, SSE2: 1, SSE3: 1, DAZ: 1\n"},
        {kMmx | kFxsr | kSse | kSse2, 0, 0xFFBF, 4, 0x1F80 | 0x8900, "MMX: 1, SSE1: 1, SSE2: 1, SSE3: 0, DAZ: 0\n"},
        {kMmx | kFxsr | kSse, 0, 0xFFBF, 2, 0x1F80 | 0x8900, "MMX: 1, SSE1: 1, SSE2: 0, SSE3: 0, DAZ: 0\n"},
        {kMmx, 0, 0xFFFF, 1, 0x1F80, "MMX: 1, SSE1: 0, SSE2: 0, SSE3: 0, DAZ: 0\n"},
        {kFpu, 0, 0xFFFF, -1, 0x1F80, "MMX: 0, SSE1: 0, SSE2: 0, SSE3: 0, DAZ: 0\n"},
    };
    for (const Case& c : cases) {
        g_Win32CpuSeam.leafCount = 0;
        g_Win32CpuSeam.mxcsr = 0x1F80;
        g_Win32CpuSeam.mxcsrMask = c.mask;
        Processor(kIntel, c.edx, c.ecx);
        state_.cpuLevel = -1;
        int result;
        EXPECT_EQ(Detect(&result), c.log);
        EXPECT_EQ(result, 1);
        EXPECT_EQ(state_.cpuLevel, c.level) << c.log;
        EXPECT_EQ(g_Win32CpuSeam.mxcsr, c.mxcsr) << c.log;
    }
}

// The benchmark report names the processor: its brand string, trimmed; a
// processor without the extended leaves has no name.
TEST_F(CpuProbe, TheProcessorsNameIsItsBrandString) {
    Processor(kIntel, kMmx | kFxsr | kSse | kSse2, 0);
    char brand[49] = "      Veldrim Quantum 9000 @ 3.20GHz  ";
    Leaf(0x80000000u, 0x80000004u, 0, 0, 0);
    for (uint32_t i = 0; i < 3; ++i) {
        uint32_t r[4];
        std::memcpy(r, brand + 16 * i, 16);
        Leaf(0x80000002u + i, r[0], r[1], r[2], r[3]);
    }
    int result;
    Detect(&result);
    EXPECT_EQ(result, 1);
    EXPECT_STREQ(g_SysStandIn.processor, "Veldrim Quantum 9000 @ 3.20GHz");
    g_Win32CpuSeam.leaves[2].eax = 0x80000001u;
    EXPECT_STREQ(S_ProcessorName(), "");
}

TEST_F(CpuProbe, SetMxcsrBitKeepsTheOtherBits) {
    g_Win32CpuSeam.mxcsr = 0x1F80;
    S_SetMxcsrBit(15);
    S_SetMxcsrBit(15);
    EXPECT_EQ(g_Win32CpuSeam.mxcsr, 0x9F80u);
}

#if defined(__x86_64__)
// The real processor: every x86-64 has SSE2 and a system that saves its state.
TEST(CpuProbeReal, X86_64ReportsSse2AndTheSystemSavesSse) {
    uint32_t word = Qel_DetectCPU();
    EXPECT_NE(word & CPU_FEATURE_SSE2, 0u);
    EXPECT_NE(word & CPU_FEATURE_FXSR, 0u);
    EXPECT_NE(word & CPU_FEATURE_OS_SSE, 0u);
    EXPECT_NE(word & (0x100 | 0x200), 0u);
}

TEST(CpuProbeReal, SetMxcsrBitReachesTheProcessor) {
    uint32_t saved;
    asm volatile("stmxcsr %0" : "=m"(saved));
    S_SetMxcsrBit(15);
    uint32_t now;
    asm volatile("stmxcsr %0" : "=m"(now));
    asm volatile("ldmxcsr %0" : : "m"(saved));  // other tests compute with denormals
    EXPECT_EQ(now, saved | 0x8000u);
}
#endif

}  // namespace
