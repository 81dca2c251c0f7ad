#include <gtest/gtest.h>

#include <cstdlib>

#include "program/exit.h"

namespace {

struct ExitCase {
    int reason;
    int status;
    const char* line;
};

void PrintTo(const ExitCase& c, std::ostream* os) { *os << "reason " << c.reason; }

class ExitStatus : public testing::TestWithParam<ExitCase> {};

// The status tells a failure from a normal end; reasons past 255 never wrap to 0.
TEST_P(ExitStatus, IsTheReason) {
    const ExitCase& c = GetParam();
    EXPECT_EXIT(P_Exit(c.reason), testing::ExitedWithCode(c.status), c.line);
}

INSTANTIATE_TEST_SUITE_P(Reasons, ExitStatus,
                         testing::Values(ExitCase{0, 0, "=\nEXIT\\(0\\)!!!\n="}, ExitCase{3, 3, "EXIT\\(3\\)!!!"},
                                         ExitCase{37, 37, "EXIT\\(37\\)!!!"}, ExitCase{256, 255, "EXIT\\(256\\)!!!"},
                                         ExitCase{0x10007, 7, "EXIT\\(7\\)!!!"}));

TEST(ExitGuard, SecondCallEndsAtOnce) {
    // A handler that runs while the process ends calls P_Exit again.
    EXPECT_EXIT(
        {
            std::atexit([] { P_Exit(9); });
            P_Exit(5);
        },
        testing::ExitedWithCode(9), "EXIT\\(5\\)!!!");
}

}  // namespace
