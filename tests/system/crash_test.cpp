#include <gtest/gtest.h>

#include <pwd.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/general.h"
#include "platform/crash/crash.h"
#include "support/gamefolder.h"
#include "system/crash.h"

namespace {

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// Writes through a crash stream into a file and gives back what arrived.
template <class Fn>
std::string Written(Fn&& write) {
    TempGameFolder folder;
    CrashStream s;
    EXPECT_TRUE(Crash_Open(&s, "out.txt"));
    write(&s);
    Crash_Close(&s);
    return Text(folder.Read("out.txt"));
}

TEST(CrashReport, ExceptionNames) {
    EXPECT_STREQ(P_GetExceptionName(0xC0000005), "access violation");
    EXPECT_STREQ(P_GetExceptionName(0x80000003), "unhandled breakpoint");
    EXPECT_STREQ(P_GetExceptionName(0x40010005), "user key break");
    EXPECT_STREQ(P_GetExceptionName(0x40010008), "user key break");
    EXPECT_STREQ(P_GetExceptionName(0xC000001D), "unknown exception");
}

TEST(CrashReport, StackDumpLines) {
    uint8_t bytes[40];
    for (int i = 0; i < 40; ++i) bytes[i] = static_cast<uint8_t>(i < 32 ? 'A' + i % 26 : i == 39 ? 0x7F : '0' + i - 32);
    std::string out = Written([&](CrashStream* s) { P_WriteStackDump(s, bytes, sizeof bytes); });
    EXPECT_EQ(out,
              "Stack dump:\n"
              "41424344 45464748 494a4b4c 4d4e4f50 51525354 55565758 595a4142 43444546"
              "  ABCD EFGH IJKL MNOP QRST UVWX YZAB CDEF\n"
              "30313233 3435367f -------- -------- -------- -------- -------- --------"
              "  0123 456. \n"
              "\n\n");

    std::string exact = Written([&](CrashStream* s) { P_WriteStackDump(s, bytes, 32); });
    EXPECT_EQ(exact.substr(exact.size() - 4), "F\n\n\n");
    EXPECT_EQ(Written([&](CrashStream* s) { P_WriteStackDump(s, bytes, 0); }), "Stack dump:\n\n\n");
}

TEST(CrashReport, StreamThatFailedToOpenWritesNothing) {
    CrashStream s;
    EXPECT_FALSE(Crash_Open(&s, "/nonexistent-folder/x/TrevanCrash.log"));
    Crash_Put(&s, "text");
    Crash_PutHex(&s, 0x1234, 8);
    P_WriteStackDump(&s, reinterpret_cast<const uint8_t*>("abc"), 3);
    Crash_Close(&s);
    EXPECT_EQ(s.fd, -1);
}

TEST(CrashReport, HexDigits) {
    EXPECT_EQ(Written([](CrashStream* s) {
                  Crash_PutHex(s, 0xC0000005, 8);
                  Crash_PutChar(s, ' ');
                  Crash_PutHex(s, 0x33, 4);
                  Crash_PutChar(s, ' ');
                  Crash_PutHex(s, 0x7ffc12345678, 8);
              }),
              "c0000005 0033 7ffc12345678");
}

// Points the user data folder at a fresh scratch folder for one test.
class CrashFolderTest : public testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("XDG_DATA_HOME");
        oldData_ = old ? old : "";
        setenv("XDG_DATA_HOME", dataHome_.Path().c_str(), 1);
        saved_ = g_SystemState;
        app_.appName = "CrashTest";
        sys_.app = &app_;
        g_SystemState = &sys_;
    }
    void TearDown() override {
        g_SystemState = saved_;
        setenv("XDG_DATA_HOME", oldData_.c_str(), 1);
    }
    std::string Log() { return Text(dataHome_.Read("Veldrim/CrashTest/TrevanCrash.log")); }
    std::string Dump() { return Text(dataHome_.Read("Veldrim/CrashTest/TrevanCrash.dmp")); }

    TempGameFolder dataHome_;
    std::string oldData_;
    AppDescriptor app_{};
    SystemState sys_{};
    SystemState* saved_ = nullptr;
};

[[noreturn]] void CrashByAccessViolation() {
    // Installed here explicitly: the sanitizer build does not install it at start.
    SetUnhandledExceptionFilter(P_CrashHandler);
    void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    *static_cast<volatile int*>(page) = 1;
    std::abort();
}

[[noreturn]] void CrashByAbort() {
    SetUnhandledExceptionFilter(P_CrashHandler);
    std::abort();
}

TEST_F(CrashFolderTest, FaultInAChildWritesLogAndDump) {
    EXPECT_EXIT(CrashByAccessViolation(), testing::KilledBySignal(SIGSEGV), "");
    std::string log = Log();
    std::string banner(38, '=');
    EXPECT_EQ(log.rfind(banner + "\nCrash event occurred on ", 0), 0u) << log;
    EXPECT_NE(log.find("test_system\n"), std::string::npos);
    EXPECT_NE(log.find("The exception \"access violation\" (0xc0000005) was caused at address "), std::string::npos);
    const passwd* pw = getpwuid(getuid());
    std::string user = pw ? pw->pw_name : "";
    EXPECT_NE(log.find(std::string("\n\nProcess owned by user: ") + user + "\n\n"), std::string::npos);
    EXPECT_NE(log.find("\n\nStack dump:\n"), std::string::npos);
    EXPECT_EQ(log.substr(log.size() - 41), banner + "\n\n\n");

    std::string dump = Dump();
    ASSERT_GE(dump.size(), 8u + 8u + 19u * 8u + 16u);
    EXPECT_EQ(dump.substr(0, 8), "TRVDUMP1");
    uint32_t code = 0, sig = 0;
    std::memcpy(&code, dump.data() + 8, 4);
    std::memcpy(&sig, dump.data() + 12, 4);
    EXPECT_EQ(code, 0xC0000005u);
    EXPECT_EQ(sig, static_cast<uint32_t>(SIGSEGV));
    uint64_t words = 0;
    std::memcpy(&words, dump.data() + 16 + 19 * 8 + 8, 8);
    EXPECT_GT(words, 0u);
    EXPECT_EQ(dump.size(), 16u + 19u * 8u + 16u + words * 8u);
}

TEST_F(CrashFolderTest, SecondCrashReplacesBothFiles) {
    EXPECT_EXIT(CrashByAccessViolation(), testing::KilledBySignal(SIGSEGV), "");
    EXPECT_EXIT(CrashByAbort(), testing::KilledBySignal(SIGABRT), "");
    std::string log = Log();
    EXPECT_EQ(log.find("Crash event"), log.rfind("Crash event"));
    EXPECT_NE(log.find("\"unknown exception\" (0x40000015)"), std::string::npos);
    uint32_t code = 0;
    std::string dump = Dump();
    ASSERT_GE(dump.size(), 12u);
    std::memcpy(&code, dump.data() + 8, 4);
    EXPECT_EQ(code, 0x40000015u);
}

TEST_F(CrashFolderTest, StackPointerOutsideTheStackIsNotFollowed) {
    // Record the stack bounds, then take the handlers away again.
    SetUnhandledExceptionFilter(P_CrashHandler);
    SetUnhandledExceptionFilter(nullptr);
    ASSERT_NE(Crash_GetStackBounds().base, 0u);

    EXCEPTION_RECORD record{EXCEPTION_ACCESS_VIOLATION, 0, nullptr, SIGSEGV};
    CONTEXT context{};
    context.Rsp = 16;
    EXCEPTION_POINTERS pointers{&record, &context};
    EXPECT_EQ(P_CrashHandler(&pointers), EXCEPTION_CONTINUE_SEARCH);
    EXPECT_NE(Log().find("WARNING: failed to generate stack dump!\n"), std::string::npos);
    uint64_t words = 1;
    std::string dump = Dump();
    ASSERT_GE(dump.size(), 16u + 19u * 8u + 16u);
    std::memcpy(&words, dump.data() + 16 + 19 * 8 + 8, 8);
    EXPECT_EQ(words, 0u);

    int local = 0x5a5a5a5a;
    context.Rsp = reinterpret_cast<uintptr_t>(&local);
    P_CrashHandler(&pointers);
    EXPECT_NE(Log().find("Stack dump:\n5a5a5a5a"), std::string::npos);
}

}  // namespace
