// Regular-expression matching: our engine against std::regex and PCRE2 (its
// interpreter and its JIT) on patterns of the kinds our syntax offers. Every
// case finds all matches in the same subject and must count the same.
#include <benchmark/benchmark.h>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <cstdio>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "base/regex.h"

namespace {

// About 256 KB of words, numbers and mail addresses on one line (our "." also
// matches a line feed, the other engines' does not).
const std::string& Text() {
    static const std::string text = [] {
        static const char* const kWords[] = {"trading",   "fighting", "docking", "station", "sector", "gate",
                                             "freighter", "the",      "pilot",   "abbab",   "cargo",  "shield"};
        std::string s;
        unsigned seed = 7;
        auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 8) & 0xFFFF; };
        char buf[64];
        while (s.size() < 256 * 1024) {
            unsigned k = next() % 16;
            if (k < 12) {
                s += kWords[k];
            } else if (k == 12) {
                snprintf(buf, sizeof buf, "%u", next());
                s += buf;
            } else if (k == 13) {
                snprintf(buf, sizeof buf, "pilot%u@fleet.org", next() % 100);
                s += buf;
            } else {
                s += k == 14 ? "spaceport" : "abba";
            }
            s += next() % 9 == 0 ? ". " : " ";
        }
        return s;
    }();
    return text;
}

struct Case {
    const char* name;
    const char* pattern;
};

const Case kCases[] = {
    {"literal", "spaceport"},      {"mail", "[a-z]+[0-9]*@[a-z]+\\.org"}, {"alternation", "(trad|fight|dock)ing"},
    {"repeat_group", "(a|b)*abb"}, {"wildcards", "s[^ ]*t[^ ]*n"},        {"number_word", "[0-9]+ [a-z]+"},
};

int CountOurs(ERegexp* re, const char* text) {
    int count = 0;
    const char* at = text;
    while (*at && eregexec(re, at)) {
        ++count;
        at = re->endp[0] > re->startp[0] ? re->endp[0] : re->startp[0] + 1;
    }
    return count;
}

int CountStd(const std::regex& re, const std::string& text) {
    return static_cast<int>(std::distance(std::sregex_iterator(text.begin(), text.end(), re), std::sregex_iterator()));
}

int CountPcre(pcre2_code* code, pcre2_match_data* md, const std::string& text) {
    int count = 0;
    PCRE2_SIZE offset = 0;
    auto subject = reinterpret_cast<PCRE2_SPTR>(text.data());
    while (offset < text.size() && pcre2_match(code, subject, text.size(), offset, PCRE2_NOTBOL, md, nullptr) >= 0) {
        ++count;
        PCRE2_SIZE* ov = pcre2_get_ovector_pointer(md);
        offset = ov[1] > ov[0] ? ov[1] : ov[0] + 1;
    }
    return count;
}

pcre2_code* CompilePcre(const char* pattern, bool jit) {
    int err = 0;
    PCRE2_SIZE errOffset = 0;
    pcre2_code* code =
        pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern), PCRE2_ZERO_TERMINATED, 0, &err, &errOffset, nullptr);
    if (code && jit) pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);
    return code;
}

void BM_Ours(benchmark::State& state, const Case& c) {
    const std::string& text = Text();
    ERegexp* re = eregcomp(c.pattern);
    int count = 0;
    for (auto _ : state) benchmark::DoNotOptimize(count = CountOurs(re, text.c_str()));
    state.counters["matches"] = count;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
    eregfree(re);
}

void BM_StdRegex(benchmark::State& state, const Case& c) {
    const std::string& text = Text();
    std::regex re(c.pattern, std::regex::ECMAScript);
    int count = 0;
    for (auto _ : state) benchmark::DoNotOptimize(count = CountStd(re, text));
    state.counters["matches"] = count;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void BM_Pcre2(benchmark::State& state, const Case& c, bool jit) {
    const std::string& text = Text();
    pcre2_code* code = CompilePcre(c.pattern, jit);
    pcre2_match_data* md = pcre2_match_data_create_from_pattern(code, nullptr);
    int count = 0;
    for (auto _ : state) benchmark::DoNotOptimize(count = CountPcre(code, md, text));
    state.counters["matches"] = count;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
    pcre2_match_data_free(md);
    pcre2_code_free(code);
}

void BM_CompileOurs(benchmark::State& state) {
    for (auto _ : state) {
        for (const Case& c : kCases) {
            ERegexp* re = eregcomp(c.pattern);
            benchmark::DoNotOptimize(re);
            eregfree(re);
        }
    }
}

void BM_CompileStd(benchmark::State& state) {
    for (auto _ : state) {
        for (const Case& c : kCases) {
            std::regex re(c.pattern, std::regex::ECMAScript);
            benchmark::DoNotOptimize(re);
        }
    }
}

void BM_CompilePcre2(benchmark::State& state) {
    for (auto _ : state) {
        for (const Case& c : kCases) {
            pcre2_code* code = CompilePcre(c.pattern, false);
            benchmark::DoNotOptimize(code);
            pcre2_code_free(code);
        }
    }
}

[[maybe_unused]] const bool kRegistered = [] {
    for (const Case& c : kCases) {
        std::string n = c.name;
        benchmark::RegisterBenchmark(("ours/" + n).c_str(), BM_Ours, c)->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("std_regex/" + n).c_str(), BM_StdRegex, c)->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("pcre2/" + n).c_str(), BM_Pcre2, c, false)->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("pcre2_jit/" + n).c_str(), BM_Pcre2, c, true)->Unit(benchmark::kMicrosecond);
    }
    benchmark::RegisterBenchmark("compile/ours", BM_CompileOurs);
    benchmark::RegisterBenchmark("compile/std_regex", BM_CompileStd);
    benchmark::RegisterBenchmark("compile/pcre2", BM_CompilePcre2);
    return true;
}();

}  // namespace
