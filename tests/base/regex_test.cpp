#include "base/regex.h"
#include "support/logcapture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
// The standard engine is the reference of one test; its headers trip a
// false uninitialised warning in some compilers under optimisation.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <regex>
#pragma GCC diagnostic pop
#include <string>

#include "support/logcapture.h"

namespace {

std::string Group(const ERegexp* re, int i) {
    if (!re->startp[i] || !re->endp[i]) return "<unset>";
    return std::string(re->startp[i], re->endp[i]);
}

struct MatchCase {
    const char* pattern;
    const char* subject;
    int matches;
    const char* whole;   // the whole match, when it matches
    const char* group1;  // null: not checked
    const char* group2;
};

class RegexMatch : public ::testing::TestWithParam<MatchCase> {};

TEST_P(RegexMatch, MatchesAndGroups) {
    const MatchCase& c = GetParam();
    ERegexp* re = eregcomp(c.pattern);
    ASSERT_NE(re, nullptr) << c.pattern;
    EXPECT_EQ(re->program[0], EREG_MAGIC);
    EXPECT_EQ(eregexec(re, c.subject), c.matches) << c.pattern << " on " << c.subject;
    if (c.matches) {
        EXPECT_EQ(Group(re, 0), c.whole) << c.pattern;
        if (c.group1) {
            EXPECT_EQ(Group(re, 1), c.group1) << c.pattern;
        }
        if (c.group2) {
            EXPECT_EQ(Group(re, 2), c.group2) << c.pattern;
        }
    }
    eregfree(re);
}

const MatchCase kMatchCases[] = {
    {"a(b|c)*d", "abcbd", 1, "abcbd", "b", nullptr},
    {"abc", "xxabcxx", 1, "abc", nullptr, nullptr},
    {"abc", "ababd", 0, nullptr, nullptr, nullptr},
    {"", "xyz", 1, "", nullptr, nullptr},
    {"a.c", "a-c", 1, "a-c", nullptr, nullptr},
    {"a.c", "ac", 0, nullptr, nullptr, nullptr},
    {"^abc", "abcabc", 1, "abc", nullptr, nullptr},
    {"^abc", "xabc", 0, nullptr, nullptr, nullptr},
    {"abc$", "abcabc", 1, "abc", nullptr, nullptr},
    {"abc$", "abcx", 0, nullptr, nullptr, nullptr},
    {"^$", "", 1, "", nullptr, nullptr},
    {"x*", "aaa", 1, "", nullptr, nullptr},
    {"a*", "aaab", 1, "aaa", nullptr, nullptr},
    {"ba+", "xbaaay", 1, "baaa", nullptr, nullptr},
    {"ba+", "xby", 0, nullptr, nullptr, nullptr},
    {"colou?r", "color colour", 1, "color", nullptr, nullptr},
    {"ab?c", "abbc", 0, nullptr, nullptr, nullptr},
    {"[a-c]+", "xxbcaz", 1, "bca", nullptr, nullptr},
    {"[^a-c]+", "abcxyzabc", 1, "xyz", nullptr, nullptr},
    {"[]x]+", "a]x]b", 1, "]x]", nullptr, nullptr},
    {"[-a]+", "b-a-c", 1, "-a-", nullptr, nullptr},
    {"[a-]+", "b-a-c", 1, "-a-", nullptr, nullptr},
    {"[.*]+", "ab.*c", 1, ".*", nullptr, nullptr},
    {"a\\.b", "axb a.b", 1, "a.b", nullptr, nullptr},
    {"\\(x\\)", "(x)", 1, "(x)", nullptr, nullptr},
    {"a\\*", "aa*", 1, "a*", nullptr, nullptr},
    {"cat|dog", "hotdog", 1, "dog", nullptr, nullptr},
    {"cat|dog|", "xyz", 1, "", nullptr, nullptr},
    {"(a|ab)(c|bcd)", "abcd", 1, "abcd", "a", "bcd"},
    {"(a*)b", "aaab", 1, "aaab", "aaa", nullptr},
    {"(x)|(y)", "y", 1, "y", "<unset>", "y"},
    {"((a)b)+", "ababx", 1, "abab", "ab", "a"},
    {"a.*b", "a1b2b3", 1, "a1b2b", nullptr, nullptr},
    {"(foo|foobar)$", "foobar", 1, "foobar", "foobar", nullptr},
    {"x(y*)z", "xz", 1, "xz", "", nullptr},
    {"[\xC0-\xFF]+", "abc\xC4\xD6\xFF!", 1, "\xC4\xD6\xFF", nullptr, nullptr},
    {"\xE9t\xE9", "l'\xE9t\xE9", 1, "\xE9t\xE9", nullptr, nullptr},
    {"[^\x80-\xFF]+",
     "\x90\x91"
     "ab\xA0",
     1, "ab", nullptr, nullptr},
    {"\xFF.", "a\xFF\x80", 1, "\xFF\x80", nullptr, nullptr},
    {"a{2}", "aa{2}", 1, "a{2}", nullptr, nullptr},
    {"(a|b)*abb", "babaabb", 1, "babaabb", "a", nullptr},
    {"^(a+)+$", "aaaa", 1, "aaaa", "aaaa", nullptr},
    {"a+a+a+", "aaa", 1, "aaa", nullptr, nullptr},
    {"[a-c]*c", "abcabcx", 1, "abcabc", nullptr, nullptr},
    {".*x", "abc", 0, nullptr, nullptr, nullptr},
};

INSTANTIATE_TEST_SUITE_P(Table, RegexMatch, ::testing::ValuesIn(kMatchCases));

struct ErrorCase {
    const char* pattern;
    const char* message;
};

class RegexError : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(RegexError, RefusedWithItsMessage) {
    const ErrorCase& c = GetParam();
    LogCapture capture;
    ERegexp* re = eregcomp(c.pattern);
    std::string log = capture.Take();
    EXPECT_EQ(re, nullptr) << c.pattern;
    EXPECT_NE(log.find(std::string("eregexp: ") + c.message + "\n"), std::string::npos)
        << c.pattern << " logged: " << log;
    eregfree(re);
}

const ErrorCase kErrorCases[] = {
    {"(", "unmatched ()"},
    {"a)", "unmatched ()"},
    {"(a(b)", "unmatched ()"},
    {"a**", "nested *?+"},
    {"a*?", "nested *?+"},
    {"(ab)+*", "nested *?+"},
    {"*a", "?+* follows nothing"},
    {"a|+b", "?+* follows nothing"},
    {"(?a)", "?+* follows nothing"},
    {"(a*)*", "*+ operand could be empty"},
    {"()+", "*+ operand could be empty"},
    {"(a|)*", "*+ operand could be empty"},
    {"^*", "*+ operand could be empty"},
    {"(a?b*)+", "*+ operand could be empty"},
    {"((((((((((a))))))))))", "too many ()"},
    {"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)", "too many ()"},
    {"[z-a]", "invalid [] range"},
    {"[\xFF-\x80]", "invalid [] range"},
    {"[abc", "unmatched []"},
    {"[]", "unmatched []"},
    {"[^", "unmatched []"},
    {"abc\\", "trailing \\"},
};

INSTANTIATE_TEST_SUITE_P(Table, RegexError, ::testing::ValuesIn(kErrorCases));

TEST(Regex, NineGroupsAreAllowed) {
    ERegexp* re = eregcomp("(a)(b)(c)(d)(e)(f)(g)(h)(i)");
    ASSERT_NE(re, nullptr);
    ASSERT_EQ(eregexec(re, "abcdefghi"), 1);
    for (int i = 1; i <= 9; ++i) EXPECT_EQ(Group(re, i), std::string(1, static_cast<char>('a' + i - 1)));
    eregfree(re);
}

TEST(Regex, NullArgumentsAreLoggedAndFail) {
    LogCapture capture;
    EXPECT_EQ(eregcomp(nullptr), nullptr);
    EXPECT_EQ(eregexec(nullptr, "x"), 0);
    char out[8];
    EXPECT_EQ(eregsub(nullptr, "&", out, sizeof out), 0);
    std::string log = capture.Take();
    EXPECT_NE(log.find("eregexp: NULL argument\n"), std::string::npos);
    EXPECT_NE(log.find("eregexp: NULL parameter\n"), std::string::npos);
    EXPECT_NE(log.find("eregexp: NULL parm to regsub\n"), std::string::npos);
}

TEST(Regex, ProgramWithoutMagicIsRefused) {
    ERegexp* re = eregcomp("abc");
    ASSERT_NE(re, nullptr);
    re->program[0] = 0;
    LogCapture capture;
    EXPECT_EQ(eregexec(re, "abc"), 0);
    char out[8];
    EXPECT_EQ(eregsub(re, "&", out, sizeof out), 0);
    std::string log = capture.Take();
    EXPECT_NE(log.find("eregexp: corrupted program\n"), std::string::npos);
    EXPECT_NE(log.find("eregexp: damaged regexp fed to regsub\n"), std::string::npos);
    re->program[0] = EREG_MAGIC;
    eregfree(re);
}

TEST(Regex, TooBigProgramIsRefused) {
    // Each set costs 33 bytes of program: 1000 of them pass the limit.
    std::string pattern;
    for (int i = 0; i < 1000; ++i) pattern += "[ab]";
    LogCapture capture;
    EXPECT_EQ(eregcomp(pattern.c_str()), nullptr);
    EXPECT_NE(capture.Take().find("eregexp: eregexp too big\n"), std::string::npos);
    // A long literal stays well inside it.
    std::string literal(5000, 'x');
    ERegexp* re = eregcomp(literal.c_str());
    ASSERT_NE(re, nullptr);
    EXPECT_EQ(eregexec(re, (literal + "y").c_str()), 1);
    eregfree(re);
}

TEST(Regex, LongSubjectsDoNotExhaustTheStack) {
    std::string subject(1 << 20, 'a');
    ERegexp* re = eregcomp("(a|b)*c|(ab*)*$");
    ASSERT_NE(re, nullptr);
    EXPECT_EQ(eregexec(re, subject.c_str()), 1);
    EXPECT_EQ(re->endp[0], subject.c_str() + subject.size());
    eregfree(re);
}

TEST(Regex, NestedRepeatsDoNotTryEverySplit) {
    // Each would try about 2^n ways to split the subject; positions that
    // failed once are not tried again, so all finish with their true answer.
    const std::string a30(30, 'a');
    struct Case {
        const char* pattern;
        std::string subject;
        int matches;
        const char* whole;
    };
    const Case cases[] = {
        {"(.+)*c", "c" + std::string(26, 'a'), 1, "c"},
        {"(x+x+)+y", "y" + std::string(30, 'x'), 0, nullptr},
        {"(a|aa)+$", a30 + "b" + a30, 1, a30.c_str()},
        {"^(a|a?b)*(a|b)*c", a30 + "bc", 1, nullptr},
    };
    for (const Case& c : cases) {
        ERegexp* re = eregcomp(c.pattern);
        ASSERT_NE(re, nullptr) << c.pattern;
        LogCapture log;
        EXPECT_EQ(eregexec(re, c.subject.c_str()), c.matches) << c.pattern;
        if (c.whole) {
            EXPECT_EQ(Group(re, 0), c.whole) << c.pattern;
        }
        EXPECT_EQ(log.Text(), "") << c.pattern;
        eregfree(re);
    }
}

TEST(Regex, SearchWorkIsBounded) {
    // Polynomial rather than exponential, yet still too much for one frame:
    // the search gives up with a line instead of stalling the caller.
    ERegexp* re = eregcomp("(.+)+b");
    ASSERT_NE(re, nullptr);
    const std::string subject = "b" + std::string(20000, 'a');
    LogCapture log;
    EXPECT_EQ(eregexec(re, subject.c_str()), 0);
    EXPECT_TRUE(log.Contains("eregexp: match too complex\n")) << log.Text();
    // The same expression still answers an ordinary subject afterwards.
    EXPECT_EQ(eregexec(re, "xxb"), 1);
    EXPECT_EQ(Group(re, 0), "xxb");
    eregfree(re);
}

struct SubCase {
    const char* pattern;
    const char* subject;
    const char* source;
    const char* expected;
};

class RegexSub : public ::testing::TestWithParam<SubCase> {};

TEST_P(RegexSub, ExpandsTheTemplate) {
    const SubCase& c = GetParam();
    ERegexp* re = eregcomp(c.pattern);
    ASSERT_NE(re, nullptr);
    ASSERT_EQ(eregexec(re, c.subject), 1);
    char out[64];
    EXPECT_EQ(eregsub(re, c.source, out, sizeof out), 1);
    EXPECT_STREQ(out, c.expected);
    eregfree(re);
}

const SubCase kSubCases[] = {
    {"x", "x", "[&]", "[x]"},
    {"([a-z]+)=([0-9]+)", "key=12", "\\2:\\1", "12:key"},
    {"([a-z]+)@([a-z]+)", "mail bob@home now", "\\0 -> \\2/\\1", "bob@home -> home/bob"},
    {"b", "abc", "\\&\\\\&", "&\\b"},
    {"b", "abc", "a\\nc\\", "a\\nc\\"},
    {"(x)|(y)", "y", "[\\1][\\2]", "[][y]"},
};

INSTANTIATE_TEST_SUITE_P(Table, RegexSub, ::testing::ValuesIn(kSubCases));

TEST(Regex, SubstitutionNeverWritesPastItsBuffer) {
    ERegexp* re = eregcomp("[a-z]+");
    ASSERT_NE(re, nullptr);
    ASSERT_EQ(eregexec(re, "--abcdefghij--"), 1);
    char out[8];
    memset(out, '#', sizeof out);
    // A story-supplied template that expands far beyond the buffer.
    EXPECT_EQ(eregsub(re, "&&&&&&", out, 6), 0);
    EXPECT_STREQ(out, "abcde");
    EXPECT_EQ(out[6], '#');
    EXPECT_EQ(eregsub(re, "&", out, 0), 0);
    EXPECT_EQ(out[0], 'a');
    EXPECT_EQ(eregsub(re, "<&>", out, 1), 0);
    EXPECT_STREQ(out, "");
    eregfree(re);
}

TEST(Regex, DamagedMatchPointersAreRefused) {
    ERegexp* re = eregcomp("(b)");
    ASSERT_NE(re, nullptr);
    const char* subject = "abc";
    ASSERT_EQ(eregexec(re, subject), 1);
    re->startp[1] = subject + 2;
    re->endp[1] = subject + 1;
    char out[8];
    LogCapture capture;
    EXPECT_EQ(eregsub(re, "\\1", out, sizeof out), 0);
    EXPECT_NE(capture.Take().find("eregexp: damaged match string\n"), std::string::npos);
    eregfree(re);
}

TEST(Regex, LastMatchIsKeptForLaterSearchesFromItsEnd) {
    ERegexp* re = eregcomp("[0-9]+");
    ASSERT_NE(re, nullptr);
    const char* s = "a1b22c333";
    std::string found;
    for (const char* at = s; eregexec(re, at); at = re->endp[0]) found += Group(re, 0) + ",";
    EXPECT_EQ(found, "1,22,333,");
    eregfree(re);
}

}  // namespace

namespace {

// Random patterns over the shared syntax must find the same leftmost match
// as the standard library's backtracking engine.
std::string RandomAtom(std::mt19937& rng, int depth);

std::string RandomAlternation(std::mt19937& rng, int depth) {
    std::string s;
    int branches = 1 + static_cast<int>(rng() % 3);
    for (int i = 0; i < branches; ++i) {
        if (i) s += "|";
        int pieces = static_cast<int>(rng() % 4);
        for (int j = 0; j < pieces; ++j) s += RandomAtom(rng, depth);
    }
    return s;
}

std::string RandomAtom(std::mt19937& rng, int depth) {
    static const char* const kAtoms[] = {"a", "b", "c", ".", "[ab]", "[^a]", "^", "$", "ab"};
    std::string atom;
    unsigned k = rng() % 11;
    if (k == 10 && depth < 3) atom = "(" + RandomAlternation(rng, depth + 1) + ")";
    else atom = kAtoms[k % 9];
    static const char* const kRepeats[] = {"", "", "*", "+", "?"};
    return atom + kRepeats[rng() % 5];
}

TEST(Regex, AgreesWithTheStandardEngineOnRandomPatterns) {
    std::mt19937 rng(20240611);
    int compared = 0;
    for (int i = 0; i < 3000; ++i) {
        std::string pattern = RandomAlternation(rng, 0);
        LogCapture capture;
        ERegexp* re = eregcomp(pattern.c_str());
        capture.Take();
        if (!re) continue;  // empty operands of '*' and '+' are ours to refuse
        std::regex reference;
        try {
            reference.assign(pattern, std::regex::ECMAScript);
        } catch (const std::regex_error&) {
            eregfree(re);  // a few empty groups the reference cannot take
            continue;
        }
        for (int k = 0; k < 4; ++k) {
            std::string subject;
            for (unsigned n = rng() % 8; n > 0; --n) subject += "abcx"[rng() % 4];
            std::smatch m;
            bool expected = std::regex_search(subject, m, reference);
            ASSERT_EQ(eregexec(re, subject.c_str()), expected ? 1 : 0) << pattern << " on " << subject;
            if (!expected) continue;
            ++compared;
            EXPECT_EQ(re->startp[0] - subject.c_str(), m.position(0)) << pattern << " on " << subject;
            EXPECT_EQ(Group(re, 0), m.str(0)) << pattern << " on " << subject;
            for (uint32_t g = 1; g <= re->groupCount; ++g)
                EXPECT_EQ(Group(re, static_cast<int>(g)), m[g].matched ? m[g].str() : "<unset>") << pattern;
        }
        eregfree(re);
    }
    EXPECT_GT(compared, 3000);
}

}  // namespace
