#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "script/loader.h"
#include "script/lookup.h"
#include "script/memory.h"
#include "script/opcodes.h"
#include "support/gamefolder.h"
#include "support/logcapture.h"
#include "support/story.h"
#include "tools/lib/storyasm.h"

namespace {

// The repository root: from the environment, else three levels above this file.
std::string Source(const char* rel) {
    if (const char* dir = std::getenv("TREVAN_SOURCE_DIR")) return std::string(dir) + "/" + rel;
    std::string file = __FILE__;
    for (int i = 0; i < 3; ++i) file = file.substr(0, file.rfind('/'));
    return file + "/" + rel;
}

// The build folder: from the environment, else two levels above this program.
std::string BinaryDir() {
    if (const char* dir = std::getenv("TREVAN_BINARY_DIR")) return dir;
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    std::string path(exe, n > 0 ? static_cast<size_t>(n) : 0);
    for (int i = 0; i < 2; ++i) path = path.substr(0, path.rfind('/'));
    return path;
}

TEST(StoryAsm, TheExampleLoadsBackWithItsObjectsFunctionsVariablesAndStrings) {
    ScriptTestContext ctx;
    TempGameFolder folder;
    std::string error;
    ASSERT_TRUE(StoryAsm_AssembleFile(Source("tools/storyasm/example.sasm"), folder.Path() + "/example.obj", &error))
        << error;
    LogCapture capture;
    ASSERT_EQ(SB_LoadLocation(ctx.get(), "example.obj"), 1) << capture.Take();
    capture.Take();
    EXPECT_EQ(ctx->compileTime, 20240101u);
    ASSERT_EQ(ctx->objectCount, 3u);
    StoryObject* global = &ctx->objects[0];
    ASSERT_EQ(global->variableCount, 3u);
    EXPECT_STREQ(SV_GetString(&global->variables[1]), "Hello, story");
    EXPECT_EQ(global->variables[2].f, 0.5);
    ASSERT_EQ(global->functionCount, 2u);
    EXPECT_EQ(FunctionName(ctx.get(), global->functions[0]), "Run");
    EXPECT_EQ(FunctionName(ctx.get(), global->functions[1]), "_Init");
    EXPECT_EQ(global->functions[1].stackNeed, 2u);
    StoryObject* ship = FindStoryObject(ctx.get(), 101);
    ASSERT_NE(ship, nullptr);
    EXPECT_EQ(ship->super, FindStoryObject(ctx.get(), 100));
    ASSERT_EQ(ship->variableCount, 3u);
    EXPECT_STREQ(SV_GetString(&ship->variables[0]), "Ship");
    EXPECT_EQ(ship->variables[1].i, 5000);
    EXPECT_EQ(ship->variables[2].tag, VARTYPE_ARRAY);
    EXPECT_EQ(ship->mergedCount, 2u);
    EXPECT_EQ(SB_ObjectFunctionExists(101, "Damage"), 1);
    // The engine call's name is a static string in the first word after the opcode.
    const StoryFunction* run = &global->functions[0];
    uint32_t p = run->position;
    while (p < ctx->codeWords && ctx->code[p] != SE_OP_SYS) ++p;
    ASSERT_LT(p, ctx->codeWords);
    EXPECT_STREQ(SB_String(ctx.get(), ctx->code[p + 1]), "SE_DebugText");
}

TEST(StoryAsm, TheToolWritesTheSameFile) {
    TempGameFolder folder;
    std::string tool = BinaryDir() + "/tools/storyasm/storyasm";
    std::string cmd = tool + " " + Source("tools/storyasm/example.sasm") + " -o tool.obj";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::string error;
    ASSERT_TRUE(StoryAsm_AssembleFile(Source("tools/storyasm/example.sasm"), "lib.obj", &error)) << error;
    EXPECT_EQ(folder.Read("tool.obj"), folder.Read("lib.obj"));
    EXPECT_NE(std::system((tool + " missing.sasm -o x.obj 2>/dev/null").c_str()), 0);
    EXPECT_NE(std::system((tool + " 2>/dev/null").c_str()), 0);
}

// The code words of an assembled text.
std::vector<uint16_t> Code(const std::string& text) {
    StoryWriter w;
    std::string error;
    EXPECT_TRUE(StoryAsm_Assemble(text, w, &error)) << error;
    std::vector<uint8_t> image;
    EXPECT_TRUE(SW_Build(w, image, &error)) << error;
    return w.code;
}

TEST(StoryAsm, EveryOpcodeAssemblesWithItsOperands) {
    const char* sample[] = {"", "-2", "70000", "L", "1.5", "\"n\"", "\"n\"", "L, L"};
    int count = 0;
    for (int op = 1; op < SE_OP_COUNT; ++op) {
        const SE_OpcodeInfo& info = SE_Opcodes[op];
        ASSERT_NE(info.mnemonic, nullptr) << op;
        std::string line = std::string("L: ") + info.mnemonic;
        int words = 1;
        for (uint8_t shape : info.operands) {
            if (shape == SE_OPND_NONE) continue;
            line += std::string(" ") + sample[shape] + ",";
            words += shape == SE_OPND_JUMPTABLE ? 4 : SE_OperandWords(shape);
        }
        std::vector<uint16_t> code = Code(line);
        ASSERT_EQ(code.size(), static_cast<size_t>(words)) << line;
        EXPECT_EQ(code[0], op) << line;
        ++count;
    }
    EXPECT_EQ(count, 95);
    EXPECT_STREQ(SE_Opcodes[SE_OP_CASE].mnemonic, "case");
    EXPECT_STREQ(SE_Opcodes[SE_OP_CONST31].mnemonic, "c31");
}

TEST(StoryAsm, OperandEncodings) {
    EXPECT_EQ(Code("pushw -2"), (std::vector<uint16_t>{1, 0xfffe}));
    EXPECT_EQ(Code("pushl 70000"), (std::vector<uint16_t>{2, 0x0001, 0x1170}));
    EXPECT_EQ(Code("pushl -1"), (std::vector<uint16_t>{2, 0xffff, 0xffff}));
    EXPECT_EQ(Code("pushf 1.5"), (std::vector<uint16_t>{92, 0x3ff8, 0, 0, 0}));
    EXPECT_EQ(Code("c0\nhere: jmp here"), (std::vector<uint16_t>{9, 49, 0, 1}));
    EXPECT_EQ(Code("jmp 0x12345"), (std::vector<uint16_t>{49, 1, 0x2345}));
    EXPECT_EQ(Code("a: b: jtab a, b, end\nend: case"), (std::vector<uint16_t>{94, 0, 0, 0, 0, 0, 7, 95}));
    EXPECT_EQ(Code("calla f, \"f\"\nf: ret"), (std::vector<uint16_t>{56, 0, 4, 1, 53}));
    EXPECT_EQ(Code(".word 1 0xffff -1\n.dword 0x10002"), (std::vector<uint16_t>{1, 0xffff, 0xffff, 1, 2}));
    // Texts are interned once; a plain number is a string number.
    EXPECT_EQ(Code("pushds \"a\"\npushds \"b\"\npushds \"a\"\nsys 9"),
              (std::vector<uint16_t>{3, 1, 3, 3, 3, 1, 54, 9}));
}

TEST(StoryAsm, Errors) {
    struct Case {
        const char* text;
        const char* error;
    } cases[] = {
        {"c0\nfrob 1", "line 2: unknown mnemonic 'frob'"},
        {"pushw", "line 1: pushw takes 1 operand(s), got 0"},
        {"add 1", "line 1: add takes 0 operand(s), got 1"},
        {"pushw 70000", "line 1: bad word operand '70000'"},
        {"pushl 5000000000", "line 1: bad 32-bit operand '5000000000'"},
        {"pushf x", "line 1: bad number 'x'"},
        {"jmp nowhere", "undefined label 'nowhere'"},
        {"a: c0\na: c1", "line 2: label 'a' defined twice"},
        {"jtab", "line 1: jtab needs at least one target"},
        {"pushds \"open", "line 1: unterminated string"},
        {".var \"x\" weird", "line 1: unknown variable kind 'weird'"},
        {".var \"x\" int", "line 1: bad .var int value"},
        {".object", "line 1: .object needs an id"},
        {".object 5 super", "line 1: missing value after 'super'"},
        {".object 5\n.object 5 super 1", "line 2: object 5 is declared already"},
        {".func \"f\" at 12x", "line 1: bad function position '12x'"},
        {".func \"f\" at nowhere", "undefined label 'nowhere'"},
        {".patch 1 5-6", "line 1: bad patch pair '5-6' (want OLD:NEW)"},
        {".frob", "line 1: unknown directive '.frob'"},
        {"\"text\"", "line 1: a line starts with a mnemonic or a directive"},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> image;
        std::string error;
        EXPECT_FALSE(StoryAsm_Build(c.text, image, &error)) << c.text;
        EXPECT_NE(error.find(c.error), std::string::npos) << c.text << " gave: " << error;
    }
}

TEST(StoryAsm, ShortStringOperandsMustFitOneWord) {
    std::string text = ".string \"" + std::string(40000, 'x') + "\"\n";
    std::string error;
    std::vector<uint8_t> image;
    EXPECT_FALSE(StoryAsm_Build(text + "call \"late\"", image, &error));
    EXPECT_NE(error.find("past one word; use the long form"), std::string::npos) << error;
    EXPECT_TRUE(StoryAsm_Build(text + "calll \"late\"", image, &error)) << error;
}

TEST(StoryAsm, DirectivesShapeTheFile) {
    ScriptTestContext ctx;
    std::vector<uint8_t> image = AssembleStory(R"(
.junk 4
.noobjects
.symb
.var "z" zero
.var "k" kind 1 77
.func "F" at 0 need 3
.func "G" at g
g:  ret
.patch 9 1:2
)");
    EXPECT_EQ(image[4], 'S');
    ASSERT_EQ(LoadStoryImage(ctx.get(), image), 1);
    EXPECT_EQ(ctx->objectCount, 1u);
    EXPECT_EQ(ctx->objects[0].variables[1].i, 77);
    EXPECT_EQ(ctx->objects[0].functionCount, 2u);
    EXPECT_EQ(ctx->objects[0].functions[1].position, 0u);
    EXPECT_EQ(SB_PatchPosition(ctx.get(), 9, 5), 6u);
}

}  // namespace
