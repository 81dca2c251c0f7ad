#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "base/general.h"
#include "base/log.h"
#include "base/memory.h"
#include "platform/win32/debug.h"
#include "platform/win32/memory.h"
#include "support/logcapture.h"

// Only the tests of the sinks behind the capture read standard error.
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

namespace {

struct Counters {
    int64_t used, ever, count, tag0, tag5;
    static Counters Now() {
        return {Int_GetMemUsed(), Int_GetMemEverAllocated(), Int_GetAllocCount(), Int_GetTag0Mem(), Int_GetTagMem(5)};
    }
};

// Protection of the page holding addr, from the process's own map ("rw-p", "---p").
std::string PagePerms(const void* addr) {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    auto a = reinterpret_cast<uintptr_t>(addr);
    while (std::getline(maps, line)) {
        unsigned long lo, hi;
        char perms[8] = {};
        if (std::sscanf(line.c_str(), "%lx-%lx %7s", &lo, &hi, perms) == 3 && a >= lo && a < hi) return perms;
    }
    return "";
}

std::string Banner(const std::string& msg) { return QEL_LOG_BANNER + msg + QEL_LOG_BANNER; }

std::string ScratchDir(const char* name) {
    const char* root = std::getenv("TREVAN_TEST_SCRATCH");
    std::string tmpl = std::string(root ? root : "/tmp") + "/" + name + "-XXXXXX";
    char* made = mkdtemp(tmpl.data());
    return made ? std::string(made) : std::string();
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Every test leaves the platform seams and the system record as it found them.
class MemoryLog : public testing::Test {
protected:
    void SetUp() override {
        g_Win32MemorySeam = {};
        g_Win32DebugSeam = {};
        g_Win32DebugSeam.debuggerPresent = 0;
        g_LogMessageBox = nullptr;
        g_SystemState = nullptr;
    }
    void TearDown() override {
        g_Win32MemorySeam = {};
        g_Win32DebugSeam = {};
        g_LogMessageBox = nullptr;
        g_SystemState = nullptr;
    }
    // A system record on a game-clock value no other test has used, so the
    // line budget starts afresh.
    SystemState* UseState() {
        static int32_t clock = 1000;
        state_ = {};
        state_.gameClock = ++clock;
        g_SystemState = &state_;
        return &state_;
    }
    SystemState state_{};
};

TEST_F(MemoryLog, HeapBlockIsZeroedAndBookedToItsTag) {
    Counters before = Counters::Now();
    auto* p = static_cast<unsigned char*>(Int_AllocMem(100, Int_MemTag(5)));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 100; ++i) ASSERT_EQ(p[i], 0);
    Counters mid = Counters::Now();
    EXPECT_EQ(mid.used - before.used, 100);
    EXPECT_EQ(mid.ever - before.ever, 100);
    EXPECT_EQ(mid.count - before.count, 1);
    EXPECT_EQ(mid.tag5 - before.tag5, 100);
    EXPECT_EQ(mid.tag0, before.tag0);

    Int_FreeMem(p, 100, Int_MemTag(5));
    Counters after = Counters::Now();
    EXPECT_EQ(after.used, before.used);
    EXPECT_EQ(after.tag5, before.tag5);
    EXPECT_EQ(after.ever - before.ever, 100);
    EXPECT_EQ(after.count - before.count, 1);
}

TEST_F(MemoryLog, HeapAllocationRetriesOnceThenFailsSilently) {
    g_Win32MemorySeam.failHeapAllocs = 1;
    void* p = Int_AllocMem(16, 0);
    ASSERT_NE(p, nullptr);
    Int_FreeMem(p, 16, 0);

    Counters before = Counters::Now();
    g_Win32MemorySeam.failHeapAllocs = 2;
    LogCapture capture;
    EXPECT_EQ(Int_AllocMem(16, 0), nullptr);
    EXPECT_EQ(capture.Take(), "");
    Counters after = Counters::Now();
    EXPECT_EQ(after.used, before.used);
    EXPECT_EQ(after.count, before.count);
}

TEST_F(MemoryLog, FreeOfSizeZeroOrNullTouchesNothing) {
    void* p = Int_AllocMem(32, 0);
    Counters before = Counters::Now();
    Int_FreeMem(p, 0, 0);  // size 0: not even a valid block is freed
    EXPECT_EQ(Counters::Now().used, before.used);

    LogCapture capture;
    Int_FreeMem(nullptr, 0, 0);
    Int_FreeMem(nullptr, 7, 0);
    EXPECT_EQ(capture.Take(), Banner("S_FreeMem: Trying to free NULL pointer, len 7\n"));
    EXPECT_EQ(Counters::Now().used, before.used);
    Int_FreeMem(p, 32, 0);
}

TEST_F(MemoryLog, HeapResizeBooksTheDifferenceAndCanZeroTheTail) {
    auto* p = static_cast<unsigned char*>(Int_AllocMem(8, Int_MemTag(5)));
    std::memset(p, 0xAB, 8);
    Counters before = Counters::Now();
    p = static_cast<unsigned char*>(Int_ReAllocMem(p, 8, 64, Int_MemTag(5) | INT_MEM_ZERO_TAIL));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[7], 0xAB);
    for (int i = 8; i < 64; ++i) ASSERT_EQ(p[i], 0);
    Counters after = Counters::Now();
    EXPECT_EQ(after.used - before.used, 56);
    EXPECT_EQ(after.tag5 - before.tag5, 56);
    EXPECT_EQ(after.ever - before.ever, 64);
    EXPECT_EQ(after.count - before.count, 1);

    p = static_cast<unsigned char*>(Int_ReAllocMem(p, 64, 4, Int_MemTag(5)));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[3], 0xAB);
    EXPECT_EQ(Counters::Now().used - before.used, -4);
    Int_FreeMem(p, 4, Int_MemTag(5));
    EXPECT_EQ(Counters::Now().tag5, before.tag5 - 8);
}

TEST_F(MemoryLog, FailedHeapResizeKeepsTheOldBlockAndCounters) {
    UseState()->logFileName = const_cast<char*>("null");  // the log itself allocates nothing
    auto* p = static_cast<char*>(Int_AllocMem(8, 0));
    std::strcpy(p, "kept");
    Counters before = Counters::Now();
    g_Win32MemorySeam.failHeapAllocs = 1;
    LogCapture capture;
    EXPECT_EQ(Int_ReAllocMem(p, 8, 1000, 0), nullptr);
    EXPECT_EQ(capture.Take(), Banner("Int_ReAllocMem() failed re-allocating: 1000 bytes\n"));
    Counters after = Counters::Now();
    EXPECT_EQ(after.used, before.used);
    EXPECT_EQ(after.count, before.count);
    EXPECT_STREQ(p, "kept");
    Int_FreeMem(p, 8, 0);
}

TEST_F(MemoryLog, HeapResizeToZeroFreesTheBlock) {
    void* p = Int_AllocMem(48, Int_MemTag(5));
    Counters before = Counters::Now();
    LogCapture capture;
    EXPECT_EQ(Int_ReAllocMem(p, 48, 0, Int_MemTag(5)), nullptr);
    EXPECT_EQ(capture.Take(), "");  // a free, not a failure
    Counters after = Counters::Now();
    EXPECT_EQ(after.used - before.used, -48);
    EXPECT_EQ(after.tag5 - before.tag5, -48);
    // The sanitizer build reports a leak here if the block were kept.
}

TEST_F(MemoryLog, EmptyHeapBlockNeedsNoFreeAndCanGrow) {
    Counters before = Counters::Now();
    auto* p = static_cast<char*>(Int_AllocMem(0, 0));
    ASSERT_NE(p, nullptr);  // not a failure
    EXPECT_EQ(Counters::Now().count - before.count, 1);
    Int_FreeMem(p, 0, 0);  // the sanitizer build would report a real 0-byte block as leaked
    p = static_cast<char*>(Int_ReAllocMem(Int_AllocMem(0, 0), 0, 6, INT_MEM_ZERO_TAIL));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[5], 0);
    EXPECT_EQ(Counters::Now().used - before.used, 6);
    Int_FreeMem(p, 6, 0);
}

TEST_F(MemoryLog, ResizeTraceNeedsMask0x20) {
    SystemState* ss = UseState();
    ss->logFileName = const_cast<char*>("null");
    void* p = Int_AllocMem(10, 0);
    LogCapture capture;
    p = Int_ReAllocMem(p, 10, 20, 0);
    EXPECT_EQ(capture.Take(), "");

    ss->debugFlags = 0x20;
    capture.Take();
    void* q = Int_ReAllocMem(p, 20, 5, 0);
    std::string out = capture.Take();
    char expected[256];
    std::snprintf(expected, sizeof expected,
                  "shrinking: 20 bytes to 5 bytes\nold Ptr: %p\nsucccessfully: new Ptr: %p\n", p, q);
    EXPECT_EQ(out, expected);
    EXPECT_EQ(ss->debugFlags, 0x20u);
    Int_FreeMem(q, 5, 0);
}

TEST_F(MemoryLog, ReservedRegionGrowsInPlaceAndIsBookedAsCommitted) {
    LogCapture capture;
    Int_QueryPageSize();
    capture.Take();
    const size_t page = Int_GetPageSize();
    ASSERT_GT(page, 0u);
    Counters before = Counters::Now();
    const uint32_t reserve = INT_MEM_VIRTUAL | INT_MEM_RESERVE | Int_MemTag(5);
    auto* base = static_cast<char*>(Int_AllocMem(16 * page, reserve));
    ASSERT_NE(base, nullptr);
    Counters reserved = Counters::Now();
    EXPECT_EQ(reserved.used, before.used);
    EXPECT_EQ(reserved.ever, before.ever);
    EXPECT_EQ(reserved.count, before.count);
    EXPECT_EQ(PagePerms(base), "---p");

    // From nothing to a page and a bit: two pages committed, the block stays put.
    const size_t size = page + page / 4;
    EXPECT_EQ(Int_ReAllocMem(base, 0, size, reserve), base);
    EXPECT_EQ(Counters::Now().used - before.used, static_cast<int64_t>(size));
    EXPECT_EQ(Counters::Now().tag5 - before.tag5, static_cast<int64_t>(size));
    EXPECT_EQ(PagePerms(base + page), "rw-p");
    EXPECT_EQ(PagePerms(base + 2 * page), "---p");
    base[2 * page - 1] = 'x';

    // Shrinking inside the last page drops nothing.
    EXPECT_EQ(Int_ReAllocMem(base, size, page + 1, reserve), base);
    EXPECT_EQ(base[2 * page - 1], 'x');
    // Shrinking by a page drops it.
    EXPECT_EQ(Int_ReAllocMem(base, page + 1, page, reserve), base);
    EXPECT_EQ(PagePerms(base + page), "---p");
    EXPECT_EQ(Counters::Now().used - before.used, static_cast<int64_t>(page));

    // Given back with the committed size: decommitted and uncounted.
    Int_FreeMem(base, page, reserve);
    EXPECT_EQ(Counters::Now().used, before.used);
    EXPECT_EQ(Counters::Now().tag5, before.tag5);
    EXPECT_EQ(PagePerms(base), "---p");
    EXPECT_EQ(VirtualFree(base, 0, MEM_RELEASE), 1);
}

TEST_F(MemoryLog, VirtualBlockIsCommittedZeroedAndReleased) {
    size_t regions = Win32_ReservationCount();
    Counters before = Counters::Now();
    auto* p = static_cast<unsigned char*>(Int_AllocMem(10000, INT_MEM_VIRTUAL));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[9999], 0);
    EXPECT_EQ(Win32_ReservationCount(), regions + 1);
    EXPECT_EQ(Counters::Now().used - before.used, 10000);
    Int_FreeMem(p, 10000, INT_MEM_VIRTUAL);
    EXPECT_EQ(Win32_ReservationCount(), regions);
    EXPECT_EQ(Counters::Now().used, before.used);
}

TEST_F(MemoryLog, ALargeRegionGivenBackIsKeptZeroedForTheNextReservationOfItsLength) {
    LogCapture capture;
    const size_t page = Int_QueryPageSize();
    constexpr uint32_t flags = INT_MEM_VIRTUAL | Int_MemTag(5);
    const size_t length = 64 * INT_MEM_KEEP_FROM;
    const size_t used = INT_MEM_KEEP_FROM + 100;
    const size_t regions = Win32_ReservationCount();
    const Counters before = Counters::Now();
    auto* p = static_cast<unsigned char*>(Int_AllocMem(length, flags | INT_MEM_RESERVE));
    ASSERT_EQ(Int_ReAllocMem(p, 0, used, flags), p);
    std::memset(p, 0xAB, used);
    Int_FreeMem(p, used, flags);
    // Free in the books at once, its pages still held and counted apart.
    EXPECT_EQ(Counters::Now().used, before.used);
    EXPECT_EQ(Counters::Now().tag5, before.tag5);
    EXPECT_EQ(Int_GetKeptMem(), int64_t((used + page - 1) / page * page));
    EXPECT_EQ(Win32_ReservationCount(), regions + 1);

    void* other = Int_AllocMem(length / 2, flags | INT_MEM_RESERVE);
    EXPECT_NE(other, p) << "only a reservation of the same length takes it";
    EXPECT_EQ(VirtualFree(other, 0, MEM_RELEASE), 1);

    auto* q = static_cast<unsigned char*>(Int_AllocMem(length, flags | INT_MEM_RESERVE));
    EXPECT_EQ(q, p);
    EXPECT_EQ(Int_GetKeptMem(), 0);
    ASSERT_EQ(Int_ReAllocMem(q, 0, used, flags), q);
    EXPECT_EQ(size_t(std::count(q, q + used, 0)), used) << "what the last owner wrote is gone";
    EXPECT_EQ(Counters::Now().used - before.used, int64_t(used));
    Int_FreeMem(q, used, flags);
    Int_ReleaseKeptMem();
    EXPECT_EQ(Int_GetKeptMem(), 0);
    EXPECT_EQ(Win32_ReservationCount(), regions);
    EXPECT_EQ(Counters::Now().used, before.used);
}

TEST_F(MemoryLog, OnlyOneRegionOfTheKeptSizesIsKept) {
    struct Case {
        size_t size;
        bool kept;
    } cases[] = {
        {INT_MEM_KEEP_FROM - 1, false},
        {INT_MEM_KEEP_FROM, true},
        {INT_MEM_KEEP_UP_TO, true},  // and the one kept before goes
        {INT_MEM_KEEP_UP_TO + 1, false},
    };
    const size_t regions = Win32_ReservationCount();
    for (const Case& c : cases) {
        const int64_t keptBefore = Int_GetKeptMem();
        void* p = Int_AllocMem(c.size, INT_MEM_VIRTUAL);
        ASSERT_NE(p, nullptr);
        Int_FreeMem(p, c.size, INT_MEM_VIRTUAL);
        EXPECT_EQ(Int_GetKeptMem(), c.kept ? int64_t(c.size) : keptBefore) << c.size;
        EXPECT_EQ(Win32_ReservationCount(), regions + (Int_GetKeptMem() ? 1 : 0)) << c.size;
    }
    Int_ReleaseKeptMem();
    EXPECT_EQ(Win32_ReservationCount(), regions);
}

#if defined(__SANITIZE_ADDRESS__)
TEST_F(MemoryLog, TouchingAKeptRegionIsCaughtByTheAddressChecker) {
    EXPECT_DEATH(
        {
            auto* p = static_cast<volatile char*>(Int_AllocMem(INT_MEM_KEEP_FROM, INT_MEM_VIRTUAL));
            Int_FreeMem(const_cast<char*>(p), INT_MEM_KEEP_FROM, INT_MEM_VIRTUAL);
            p[100] = 1;
        },
        "use-after-poison");
}
#endif

TEST_F(MemoryLog, VirtualFailuresAreLogged) {
    g_Win32MemorySeam.failVirtualAllocs = 1;  // the retry succeeds
    void* p = Int_AllocMem(100, INT_MEM_VIRTUAL);
    ASSERT_NE(p, nullptr);

    Counters before = Counters::Now();
    g_Win32MemorySeam.failVirtualFrees = 1;
    LogCapture capture;
    Int_FreeMem(p, 100, INT_MEM_VIRTUAL);
    EXPECT_EQ(capture.Take(), Banner("Int_FreeMem: Releasing 100 bytes virtual memory failed!\n"));
    EXPECT_EQ(Counters::Now().used - before.used, -100);  // uncounted all the same
    EXPECT_EQ(VirtualFree(p, 0, MEM_RELEASE), 1);

    g_Win32MemorySeam.failVirtualAllocs = 2;
    capture.Take();
    EXPECT_EQ(Int_AllocMem(100, INT_MEM_VIRTUAL), nullptr);
    EXPECT_EQ(capture.Take(), Banner("Int_AllocMem() failed allocating 100 bytes virtual memory\n"));

    g_Win32MemorySeam.failVirtualAllocs = 1;  // reserving is not retried
    capture.Take();
    EXPECT_EQ(Int_AllocMem(4096, INT_MEM_VIRTUAL | INT_MEM_RESERVE), nullptr);
    EXPECT_EQ(capture.Take(), Banner("Int_AllocMem() failed reserving 4096 bytes virtual memory\n"));
}

TEST_F(MemoryLog, CommitBeyondTheRegionFailsAndKeepsTheBlock) {
    LogCapture capture;
    const size_t page = Int_QueryPageSize();
    capture.Take();
    void* p = Int_AllocMem(page, INT_MEM_VIRTUAL);
    Counters before = Counters::Now();
    capture.Take();
    EXPECT_EQ(Int_ReAllocMem(p, page, 4 * page, INT_MEM_VIRTUAL), nullptr);
    EXPECT_EQ(capture.Take(),
              Banner("Int_ReAllocMem() failed re-allocating: " + std::to_string(4 * page) + " bytes\n"));
    EXPECT_EQ(Counters::Now().used, before.used);
    Int_FreeMem(p, page, INT_MEM_VIRTUAL);
}

TEST_F(MemoryLog, PageSizeIsAskedOnceAndLogged) {
    g_Win32MemorySeam.pageSize = 16384;
    LogCapture capture;
    EXPECT_EQ(Int_QueryPageSize(), 16384u);
    EXPECT_EQ(capture.Take(), "System PageSize = 16384\n");
    EXPECT_EQ(Int_GetPageSize(), 16384u);
    g_Win32MemorySeam.pageSize = 0;
    capture.Take();
    Int_QueryPageSize();
    capture.Take();
}

TEST_F(MemoryLog, MemoryIsSufficientFromPhysicalPageFileOrTheirSum) {
    constexpr uint64_t MB = 1024 * 1024;
    struct Case {
        uint64_t phys, pageFile;
        int expected;
    } cases[] = {
        {256 * MB, 0, 1}, {0, 256 * MB, 1}, {128 * MB, 128 * MB, 1}, {128 * MB, 127 * MB, 0}, {0, 0, 0},
    };
    for (const Case& c : cases) {
        g_Win32MemorySeam.statusOverridden = true;
        g_Win32MemorySeam.status = {};
        g_Win32MemorySeam.status.dwAvailPhys = c.phys;
        g_Win32MemorySeam.status.dwAvailPageFile = c.pageFile;
        EXPECT_EQ(Int_MemorySufficient(), c.expected) << c.phys / MB << " + " << c.pageFile / MB;
    }
}

TEST_F(MemoryLog, MemoryFlushHookIsOnlyKept) {
    static int calls;
    calls = 0;  // the test may run again in the same process
    Int_MemoryFlushHookFn old = Int_GetMemoryFlushHook();
    Int_SetMemoryFlushHook([] { ++calls; });
    ASSERT_NE(Int_GetMemoryFlushHook(), nullptr);
    Int_GetMemoryFlushHook()();
    EXPECT_EQ(calls, 1);
    Int_SetMemoryFlushHook(old);
}

TEST_F(MemoryLog, RecordsAreAllocatedByTheirRealSize) {
    struct Rec {
        void* a;
        void* b;
        int32_t c;
    };
    Counters before = Counters::Now();
    Rec* r = Int_AllocRecord<Rec>(Int_MemTag(5));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->a, nullptr);
    EXPECT_EQ(Counters::Now().tag5 - before.tag5, static_cast<int64_t>(sizeof(Rec)));
    Int_FreeRecord(r, Int_MemTag(5));
    EXPECT_EQ(Counters::Now().tag5, before.tag5);
}

// --- log ---

TEST_F(MemoryLog, WithoutSystemStateOnlyMaskZeroPasses) {
    LogCapture capture;
    EXPECT_EQ(Qel_DPrintf(0, "hello %d\n", 42), 9);
    EXPECT_EQ(Qel_DPrintf(1, "hidden\n"), 0);
    EXPECT_EQ(capture.Take(), "hello 42\n");
}

TEST_F(MemoryLog, MaskPassesOnlyWhenEveryBitIsSet) {
    SystemState* ss = UseState();
    struct Case {
        uint32_t flags, mask;
        bool shown;
    } cases[] = {
        {0, 0, true}, {0, 3, false}, {1, 3, false}, {2, 3, false}, {3, 3, true}, {0xFF, 3, true}, {4, 4, true},
    };
    for (const Case& c : cases) {
        ss->debugFlags = c.flags;
        LogCapture capture;
        int n = Qel_DPrintf(c.mask, "x\n");
        std::string out = capture.Take();
        EXPECT_EQ(n, c.shown ? 2 : 0) << c.flags << "/" << c.mask;
        EXPECT_EQ(out, c.shown ? "x\n" : "") << c.flags << "/" << c.mask;
        EXPECT_EQ(ss->debugFlags, c.flags);
    }
    ss->debugFlags = 0;
    Qel_DPrintfVoid(0, "%s", "");
}

TEST_F(MemoryLog, DebugFlagsAreClearedWhileALineIsWritten) {
    // This sink writes standard error itself, behind the log capture: read it there.
    SystemState* ss = UseState();
    ss->debugFlags = 0x24;
    ss->SysProfilingFlags = 0x100;
    static uint32_t seen;
    static std::string shown;
    seen = 0xFFFFFFFF;
    shown.clear();
    g_LogMessageBox = [](const char* text) {
        seen = g_SystemState->debugFlags;
        shown = text;
    };
    CaptureStderr();
    Qel_DPrintf(4, "box %s\n", "me");
    EXPECT_EQ(GetCapturedStderr(), "box me\n");
    EXPECT_EQ(seen, 0u);
    EXPECT_EQ(shown, "box me\n");
    EXPECT_EQ(ss->debugFlags, 0x24u);
}

TEST_F(MemoryLog, ErrorLinesAreFramedAndCountTheMessageOnly) {
    LogCapture capture;
    EXPECT_EQ(Qel_ErrPrintf("bad %s\n", "thing"), 10);
    EXPECT_EQ(Qel_BannerPrintf("note\n"), 5);
    EXPECT_EQ(capture.Take(), Banner("bad thing\n") + Banner("note\n"));
    EXPECT_EQ(std::strlen(QEL_LOG_BANNER), 39u);
}

TEST_F(MemoryLog, DebuggerGetsTheTextUnlessTheLogFileIsNull) {
    // This sink writes standard error itself, behind the log capture: read it there.
    g_Win32DebugSeam.debuggerPresent = 1;
    CaptureStderr();
    Qel_DPrintf(0, "to the debugger\n");
    GetCapturedStderr();
    EXPECT_EQ(g_Win32DebugSeam.outputCount, 1);

    SystemState* ss = UseState();
    ss->logFileName = const_cast<char*>("null");
    CaptureStderr();
    EXPECT_EQ(Qel_DPrintf(0, "plain %d\n", 7), 8);
    EXPECT_EQ(GetCapturedStderr(), "plain 7\n");
    EXPECT_EQ(g_Win32DebugSeam.outputCount, 1);
}

TEST_F(MemoryLog, LogFileGetsEveryLineAppended) {
    // This sink writes standard error itself, behind the log capture: read it there.
    std::string dir = ScratchDir("logfile");
    ASSERT_FALSE(dir.empty());
    std::string path = dir + "/trace.log";
    SystemState* ss = UseState();
    ss->logFileName = path.data();
    CaptureStderr();
    EXPECT_EQ(Qel_DPrintf(0, "one %d\n", 1), 6);
    EXPECT_EQ(Qel_ErrPrintf("two\n"), 4);
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_EQ(ReadFile(path), "one 1\n" + Banner("two\n"));

    std::string missing = dir + "/no/such/folder/trace.log";
    ss->logFileName = missing.data();
    EXPECT_EQ(Qel_DPrintf(0, "lost\n"), 0);  // the line is lost, the program goes on
}

TEST_F(MemoryLog, FormattingWithoutMemoryFallsBackToTheRawFormat) {
    // This sink writes standard error itself, behind the log capture: read it there.
    g_Win32MemorySeam.failHeapAllocs = 2;
    CaptureStderr();
    Qel_DPrintf(0, "value %d\n", 5);
    EXPECT_EQ(GetCapturedStderr(), "value %d\n");
}

TEST_F(MemoryLog, AtMost1002LinesPerFrameThenOneNotice) {
    std::string dir = ScratchDir("budget");
    std::string path = dir + "/budget.log";
    SystemState* ss = UseState();
    ss->logFileName = path.data();
    ss->gameClock += 1;  // this line opens the frame
    for (int i = 1; i <= 1002; ++i)
        ASSERT_EQ(Qel_DPrintf(0, "%d\n", i), static_cast<int>(std::to_string(i).size()) + 1);
    EXPECT_EQ(Qel_DPrintf(0, "1003\n"), -2);
    EXPECT_EQ(Qel_DPrintf(0, "1004\n"), -2);
    ss->gameClock += 1;
    EXPECT_EQ(Qel_DPrintf(0, "next\n"), 5);

    std::string log = ReadFile(path);
    EXPECT_EQ(log.find("1003\n"), std::string::npos);
    std::string tail = "1002\n" + Banner("3 lines of debug output dropped!\n") + "next\n";
    ASSERT_GE(log.size(), tail.size());
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
}

TEST_F(MemoryLog, CaptureTakesEveryLineInsteadOfTheSinksAndEndsCleanly) {
    // Standard error shows that nothing passes the capture.
    std::string dir = ScratchDir("capture");
    std::string path = dir + "/capture.log";
    SystemState* ss = UseState();
    ss->logFileName = path.data();
    std::string longLine(2000, 'x');
    {
        LogCapture log;
        CaptureStderr();
        EXPECT_EQ(Qel_DPrintf(0, "one %d\n", 1), 6);
        EXPECT_EQ(Qel_ErrPrintf("two\n"), 4);
        EXPECT_EQ(Qel_DPrintf(0, "%s\n", longLine.c_str()), 2001);
        EXPECT_EQ(GetCapturedStderr(), "");
        EXPECT_EQ(log.Take(), "one 1\n" + Banner("two\n") + longLine + "\n");
        EXPECT_EQ(Qel_DPrintf(0x40, "masked out\n"), 0);
        EXPECT_EQ(log.Text(), "");
    }
    EXPECT_EQ(ReadFile(path), "");
    Qel_DPrintf(0, "after\n");
    EXPECT_EQ(ReadFile(path), "after\n");
}

}  // namespace
