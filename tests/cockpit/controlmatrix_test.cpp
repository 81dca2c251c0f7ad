// The control matrix: its defaults, reading and binding by code and flags,
// and the shell's two calls from a story.
#include "cockpit/controlmatrix.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "program/gameloop.h"
#include "support/program.h"

namespace {

class ControlMatrixTest : public ::testing::Test {
protected:
    void TearDown() override { g_ControlMatrix = STS_CONTROL_MATRIX_DEFAULTS; }
    static bool AsDefaults() {
        return std::memcmp(&g_ControlMatrix, &STS_CONTROL_MATRIX_DEFAULTS, sizeof(ControlMatrix)) == 0;
    }
};

TEST_F(ControlMatrixTest, ReadsItsDefaults) {
    ASSERT_TRUE(AsDefaults());
    const int32_t axes[4][6] = {{1, 2, 6, 7, 3, 8}, {9, 10, 3, 8, 3, 8}, {4, 5, 0, 0, 0, 8}, {4, 5, 0, 0, 0, 8}};
    for (int32_t a = 0; a < 2; ++a)
        for (int32_t b = 0; b < 2; ++b)
            for (int32_t code = 256; code <= 261; ++code)
                EXPECT_EQ(STS_GetControlMatrix(code, a, b), axes[a * 2 + b][code - 256]) << code << a << b;
    EXPECT_EQ(STS_GetControlMatrix(512, 0, 0), 1);
    EXPECT_EQ(STS_GetControlMatrix(513, 0, 0), 2);
    EXPECT_EQ(STS_GetControlMatrix(512, 1, 0), 4);
    EXPECT_EQ(STS_GetControlMatrix(513, 1, 0), 5);
    for (int32_t code : {0, 255, 262, 511, 514}) EXPECT_EQ(STS_ControlCodeIndex(code), -1) << code;
    EXPECT_EQ(STS_ControlCodeIndex(261), 5);
    EXPECT_EQ(STS_ControlCodeIndex(513), 1);
}

TEST_F(ControlMatrixTest, BindsByCodeAndFlags) {
    struct Case {
        const char* what;
        int32_t code, action, a, b;  // the binding asked for
        int32_t readA, readB;        // where it is read back
        int32_t reads;               // what is read there
        bool changes;                // whether anything changed
    };
    const Case cases[] = {
        {"code 262", 262, 5, 0, 0, 0, 0, 0, false},
        {"code 511", 511, 5, 0, 0, 0, 0, 0, false},
        {"code 514", 514, 5, 1, 1, 1, 1, 0, false},
        {"action 13", 256, 13, 0, 0, 0, 0, 1, false},
        {"action 12 on 513", 513, 12, 0, 0, 0, 0, 12, true},
        {"flag B ignored for 513", 513, 12, 0, 1, 0, 0, 12, true},
        {"flag B ignored for 512", 512, 9, 1, 0, 1, 1, 9, true},
        {"any flag counts as 1", 258, 11, 5, -3, 1, 1, 11, true},
        {"the other table stays", 258, 11, 1, 1, 1, 0, 0, true},
        {"a negative action is kept", 259, -4, 0, 1, 0, 1, -4, true},
        {"action 0", 261, 0, 1, 0, 1, 0, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g_ControlMatrix = STS_CONTROL_MATRIX_DEFAULTS;
        STS_SetControlMatrix(c.code, c.action, c.a, c.b);
        EXPECT_EQ(STS_GetControlMatrix(c.code, c.readA, c.readB), c.reads);
        EXPECT_EQ(!AsDefaults(), c.changes);
    }
}

// Object 9's "Init" reads and binds through the shell's calls and notes each
// answer; its "Input" ends the run.
constexpr const char* kBindingStory = R"(
.func "_Init" need 1
    c0
    ret
.object 9
.func "Init" need 8
    c1
    c0
    pushw 257
    c3
    sys "Ruzo_GetControlMatrix"
    c1
    sys "Test_Note"
    pop
    c0
    c1
    c12
    pushw 513
    c4
    sys "Ruzo_SetControlMatrix"
    c1
    sys "Test_Note"
    pop
    c0
    c0
    pushw 13
    pushw 256
    c4
    sys "Ruzo_SetControlMatrix"
    pop
    c1
    c1
    pushw 513
    c3
    sys "Ruzo_GetControlMatrix"
    c1
    sys "Test_Note"
    pop
    c0
    c0
    pushw 256
    c3
    sys "Ruzo_GetControlMatrix"
    c1
    sys "Test_Note"
    pop
    c0
    ret
.func "Run" need 1
    c0
    ret
.func "Input" need 1
    c7
    ret
.func "Stop" need 1
    c0
    ret
)";

TEST_F(ControlMatrixTest, AStoryReadsAndBindsThroughTheShell) {
    ProgramSession session({}, kBindingStory);
    RegisterTestModule();
    TestNotes().clear();
    EXPECT_EQ(CL_GameLoop(), 7);
    // 257 with flag B reads 10; binding 12 to 513 answers 0; 13 is refused;
    // 513 reads 12 whatever flag B; 256 still reads 1.
    EXPECT_EQ(TestNotes(), (std::vector<std::string>{"10", "0", "12", "1"}));
    EXPECT_EQ(STS_GetControlMatrix(513, 1, 0), 12);
}

}  // namespace
