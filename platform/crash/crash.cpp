#include "platform/crash/crash.h"

#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>

static LPTOP_LEVEL_EXCEPTION_FILTER s_filter = nullptr;
static CrashStackBounds s_stack{0, 0};
static char s_userName[256];
// The handler runs here, so a fault from an exhausted stack can still be reported.
alignas(16) static char s_altStack[64 * 1024];

static constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP, SIGABRT};
// The handlers in place before ours, put back when the filter is removed.
static struct sigaction s_previous[std::size(kSignals)];

static uint32_t ExceptionCode(int sig, const siginfo_t* info) {
    switch (sig) {
        case SIGSEGV: return EXCEPTION_ACCESS_VIOLATION;
        case SIGBUS: return EXCEPTION_IN_PAGE_ERROR;
        case SIGILL: return EXCEPTION_ILLEGAL_INSTRUCTION;
        case SIGFPE:
            return info && info->si_code == FPE_INTDIV   ? EXCEPTION_INT_DIVIDE_BY_ZERO
                   : info && info->si_code == FPE_INTOVF ? EXCEPTION_INT_OVERFLOW
                                                         : EXCEPTION_FLT_INVALID_OPERATION;
        case SIGTRAP: return EXCEPTION_BREAKPOINT;
        default: return STATUS_FATAL_APP_EXIT;
    }
}

static void FillContext(CONTEXT* ctx, const void* uctx) {
    *ctx = CONTEXT{};
#if defined(__x86_64__) && defined(__linux__)
    const auto* uc = static_cast<const ucontext_t*>(uctx);
    const greg_t* g = uc->uc_mcontext.gregs;
    ctx->SegCs = static_cast<uint16_t>(g[REG_CSGSFS] & 0xFFFF);
    ctx->Rip = g[REG_RIP];
    ctx->Rsp = g[REG_RSP];
    ctx->Rbp = g[REG_RBP];
    ctx->Rax = g[REG_RAX];
    ctx->Rbx = g[REG_RBX];
    ctx->Rcx = g[REG_RCX];
    ctx->Rdx = g[REG_RDX];
    ctx->Rsi = g[REG_RSI];
    ctx->Rdi = g[REG_RDI];
    ctx->R8 = g[REG_R8];
    ctx->R9 = g[REG_R9];
    ctx->R10 = g[REG_R10];
    ctx->R11 = g[REG_R11];
    ctx->R12 = g[REG_R12];
    ctx->R13 = g[REG_R13];
    ctx->R14 = g[REG_R14];
    ctx->R15 = g[REG_R15];
    ctx->EFlags = g[REG_EFL];
#else
    (void)uctx;
#endif
}

static void OnSignal(int sig, siginfo_t* info, void* uctx) {
    EXCEPTION_RECORD record{};
    CONTEXT context{};
    FillContext(&context, uctx);
    record.ExceptionCode = ExceptionCode(sig, info);
    record.ExceptionAddress = reinterpret_cast<void*>(context.Rip);
    record.Signal = sig;
    EXCEPTION_POINTERS pointers{&record, &context};
    if (s_filter) s_filter(&pointers);
    // The handler was reset to the default action on entry; raising again ends
    // the process as the fault would have (the signal is delivered on return).
    signal(sig, SIG_DFL);
    raise(sig);
}

static void RecordStackBounds() {
    s_stack = CrashStackBounds{0, 0};
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
    void* addr = nullptr;
    size_t size = 0;
    if (pthread_attr_getstack(&attr, &addr, &size) == 0 && addr) {
        s_stack.limit = reinterpret_cast<uintptr_t>(addr);
        s_stack.base = s_stack.limit + size;
    }
    pthread_attr_destroy(&attr);
}

static void RecordUserName() {
    passwd pw{};
    passwd* found = nullptr;
    char buffer[1024];
    const char* name = nullptr;
    if (getpwuid_r(getuid(), &pw, buffer, sizeof buffer, &found) == 0 && found && found->pw_name) name = found->pw_name;
    else name = getenv("USER");
    std::strncpy(s_userName, name ? name : "", sizeof s_userName - 1);
}

uint32_t GetModuleFileNameA(void* /*module*/, char* buffer, uint32_t size) {
    if (!buffer || size == 0) return 0;
    ssize_t n = readlink("/proc/self/exe", buffer, size - 1);
    buffer[n > 0 ? n : 0] = 0;
    return n > 0 ? static_cast<uint32_t>(n) : 0;
}

int GetUserNameA(char* buffer, uint32_t* size) {
    if (!buffer || !size || *size == 0) return 0;
    size_t n = std::strlen(s_userName);
    if (n >= *size) n = *size - 1;
    std::memcpy(buffer, s_userName, n);
    buffer[n] = 0;
    *size = static_cast<uint32_t>(n + 1);
    return n > 0 ? 1 : 0;
}

LPTOP_LEVEL_EXCEPTION_FILTER SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter) {
    LPTOP_LEVEL_EXCEPTION_FILTER previous = s_filter;
    s_filter = filter;
    if (!filter) {
        if (previous)
            for (size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &s_previous[i], nullptr);
        return previous;
    }
    // Whatever may allocate is done now, never inside the handler: the stack
    // bounds and the time-zone data of the time stamp.
    RecordStackBounds();
    RecordUserName();
    tzset();
    stack_t ss{};
    ss.ss_sp = s_altStack;
    ss.ss_size = sizeof s_altStack;
    sigaltstack(&ss, nullptr);
    struct sigaction sa {};
    sa.sa_sigaction = OnSignal;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESETHAND;
    sigemptyset(&sa.sa_mask);
    for (size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &sa, previous ? nullptr : &s_previous[i]);
    return previous;
}

CrashStackBounds Crash_GetStackBounds() { return s_stack; }

static void Flush(CrashStream* s) {
    size_t done = 0;
    while (s->fd >= 0 && done < s->used) {
        ssize_t n = write(s->fd, s->buffer + done, s->used - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    s->used = 0;
}

static void PutBytes(CrashStream* s, const void* data, size_t size) {
    if (s->fd < 0) return;
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        if (s->used == sizeof s->buffer) Flush(s);
        size_t n = sizeof s->buffer - s->used;
        if (n > size) n = size;
        std::memcpy(s->buffer + s->used, p, n);
        s->used += n;
        p += n;
        size -= n;
    }
}

bool Crash_Open(CrashStream* stream, const char* path) {
    stream->used = 0;
    stream->fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return stream->fd >= 0;
}

void Crash_Put(CrashStream* stream, const char* text) { PutBytes(stream, text, std::strlen(text)); }

void Crash_PutChar(CrashStream* stream, char c) { PutBytes(stream, &c, 1); }

void Crash_PutHex(CrashStream* stream, uint64_t value, int digits) {
    char text[17];
    int n = 0;
    do {
        text[16 - ++n] = "0123456789abcdef"[value & 15];
        value >>= 4;
    } while (value != 0 || n < digits);
    PutBytes(stream, text + 16 - n, static_cast<size_t>(n));
}

void Crash_Close(CrashStream* stream) {
    Flush(stream);
    if (stream->fd >= 0) close(stream->fd);
    stream->fd = -1;
}

static void PutU64(CrashStream* s, uint64_t v) { PutBytes(s, &v, sizeof v); }

// Raw stack words include the redzones the address sanitizer keeps between
// locals: they are read as they are, unchecked.
__attribute__((no_sanitize("address"))) static uint64_t ReadStackWord(uint64_t address) {
    return *reinterpret_cast<const volatile uint64_t*>(address);
}

int Crash_WriteDump(int fd, const EXCEPTION_POINTERS* pointers, CrashStackBounds stack) {
    if (fd < 0 || !pointers || !pointers->ExceptionRecord || !pointers->ContextRecord) return 0;
    CrashStream s{fd, 0, {}};
    const EXCEPTION_RECORD& r = *pointers->ExceptionRecord;
    const CONTEXT& c = *pointers->ContextRecord;
    PutBytes(&s, "TRVDUMP1", 8);
    uint32_t head[2] = {r.ExceptionCode, static_cast<uint32_t>(r.Signal)};
    PutBytes(&s, head, sizeof head);
    const uint64_t regs[] = {c.SegCs, c.Rip, c.Rsp, c.Rbp, c.Rax, c.Rbx, c.Rcx, c.Rdx, c.Rsi,   c.Rdi,
                             c.R8,    c.R9,  c.R10, c.R11, c.R12, c.R13, c.R14, c.R15, c.EFlags};
    for (uint64_t v : regs) PutU64(&s, v);
    // Only a stack pointer inside the recorded stack is followed.
    uint64_t start = c.Rsp & ~uint64_t{7};
    bool inside = stack.base != 0 && start >= stack.limit && start < stack.base;
    uint64_t words = inside ? (stack.base - start) / 8 : 0;
    PutU64(&s, inside ? start : 0);
    PutU64(&s, words);
    for (uint64_t i = 0; i < words; ++i) PutU64(&s, ReadStackWord(start + i * 8));
    Flush(&s);
    return 1;
}
