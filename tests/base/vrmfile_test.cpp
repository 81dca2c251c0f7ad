#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/file.h"
#include "base/memory.h"
#include "base/strings.h"
#include "base/vrmfile.h"
#include "support/gamefolder.h"
#include "support/logcapture.h"

namespace {

const VRMNameValue kFlags[] = {{"A", 1}, {"B", 2}, {"C", 4}, {"", 0}};

// A text reader over a copy of the text.
struct TextReader {
    std::string text;
    VRMFile r{};
    explicit TextReader(std::string t) : text(std::move(t)) { Qel_ReaderInit(&r, text.c_str(), 0); }
};

// A reader over bytes, bounded as a loaded file is.
struct BinaryReader {
    std::vector<uint8_t> bytes;
    VRMFile r{};
    explicit BinaryReader(std::vector<uint8_t> b) : bytes(std::move(b)) {
        Qel_ReaderInit(&r, bytes.data(), 1);
        r.base = bytes.data();
        r.size = uint32_t(bytes.size());
    }
};

std::string Take(char* s) {
    std::string out = s ? s : "<null>";
    Qel_StrFree(s);
    return out;
}

}  // namespace

struct IntCase {
    const char* text;
    int32_t value;
    bool error;
};

TEST(VRMText, Integers) {
    const IntCase cases[] = {
        {"  -12 ;", -12, false},    {"0x1F;", 31, false}, {"0XfF;", 255, false},
        {"%101;", 5, false},        {"1 2;", 12, false},  {"\t7\r\n;", 7, false},
        {"/ note\n 9;", 9, false},  {"42", 42, false},    {"-0x10;", 0, true},
        {"%-1;", 0, true},          {"1-2;", 0, true},    {"--1;", 0, true},
        {"12abc;", 0, true},        {";", 0, true},       {"", 0, true},
        {"0x;", 0, true},           {"%102;", 0, true},   {"00x1;", 0, true},
        {"4294967295;", -1, false},
    };
    for (const IntCase& c : cases) {
        TextReader t(c.text);
        EXPECT_EQ(t.r.ReadInt(), c.value) << c.text;
        EXPECT_EQ(t.r.error, c.error ? 1 : 0) << c.text;
    }
}

TEST(VRMText, EmptyFieldsAndSequences) {
    TextReader t("#anything;17;  #;-3;");
    EXPECT_EQ(t.r.ReadInt(), 0);
    EXPECT_EQ(t.r.ReadInt(), 17);
    EXPECT_EQ(t.r.ReadFixed(), 0);
    EXPECT_EQ(t.r.ReadShort(), -3);
    EXPECT_EQ(t.r.error, 0);
    // The end of the data sets the error flag: that is how reading loops end.
    EXPECT_EQ(t.r.ReadInt(), 0);
    EXPECT_EQ(t.r.error, 1);
}

TEST(VRMText, WidthsOfTheIntegerReaders) {
    TextReader t("70000;70000;-1;300;");
    EXPECT_EQ(t.r.ReadShort(), int16_t(70000 & 0xFFFF));
    EXPECT_EQ(t.r.ReadUInt(), 70000u);
    EXPECT_EQ(t.r.ReadUInt(), 0xFFFFFFFFu);
    EXPECT_EQ(t.r.ReadFlags(kFlags), uint8_t(300));
}

struct FixedCase {
    const char* text;
    int32_t value;
    bool error;
};

TEST(VRMText, Fractions) {
    const FixedCase cases[] = {
        {"1.5;", 0x18000, false},
        {"-0.5;", -0x8000, false},
        {"2;", 0x20000, false},
        {".25;", 0x4000, false},
        {"1.000015;", 65537, false},
        {"1.2.3;", 0, true},
        {"-;", 0, true},
        {"1-;", 0, true},
        {"1e5;", 0, true},
        {"32767.999985;", 0x7FFFFFFF, false},
    };
    for (const FixedCase& c : cases) {
        TextReader t(c.text);
        EXPECT_EQ(t.r.ReadFixed(), c.value) << c.text;
        EXPECT_EQ(t.r.error, c.error ? 1 : 0) << c.text;
    }
    TextReader f("-2.25;");
    EXPECT_FLOAT_EQ(f.r.ReadFloat(), -2.25f);
}

TEST(VRMText, FlagsEnumsAndStrings) {
    TextReader flags("A|C; B | A ;C|Unknown;%11;5;");
    EXPECT_EQ(flags.r.ReadFlags32(kFlags), 5u);
    EXPECT_EQ(flags.r.ReadFlags16(kFlags), 3u);
    EXPECT_EQ(flags.r.ReadFlags(kFlags), 4u);
    EXPECT_EQ(flags.r.ReadFlags32(kFlags), 3u);
    EXPECT_EQ(flags.r.ReadFlags32(kFlags), 5u);
    EXPECT_EQ(flags.r.error, 0);

    TextReader enums(" SCTYPE_DOCKING ;2;%1;SCTYPE_NONE;");
    EXPECT_EQ(enums.r.ReadEnum(g_VRMSceneTypes), 2);
    EXPECT_EQ(enums.r.ReadEnum(g_VRMSceneTypes), 2);
    EXPECT_EQ(enums.r.ReadEnum(g_VRMSceneTypes), 1);
    EXPECT_EQ(enums.r.ReadEnum(g_VRMSceneTypes), 0);
    EXPECT_EQ(enums.r.error, 1);

    TextReader strings("hello world;\r\n\tsecond/comment\n part;#kept;;");
    EXPECT_EQ(Take(strings.r.ReadString()), "hello world");
    EXPECT_EQ(Take(strings.r.ReadString()), "second part");
    EXPECT_EQ(Take(strings.r.ReadString()), "#kept");
    EXPECT_EQ(Take(strings.r.ReadString()), "");
    EXPECT_EQ(Take(strings.r.ReadString()), "<null>");
    EXPECT_EQ(strings.r.error, 1);
}

TEST(VRMText, ErrorFlagStopsEveryRead) {
    TextReader t("bad;5;text;");
    t.r.ReadInt();
    ASSERT_EQ(t.r.error, 1);
    const uint8_t* at = t.r.cursor;
    EXPECT_EQ(t.r.ReadInt(), 0);
    EXPECT_EQ(t.r.ReadFixed(), 0);
    EXPECT_EQ(t.r.ReadFloat(), 0.0f);
    EXPECT_EQ(t.r.ReadString(), nullptr);
    EXPECT_EQ(t.r.ReadEnum(kFlags), 0);
    EXPECT_EQ(Qel_ReaderReadChar(&t.r), 0);
    EXPECT_EQ(t.r.ReadTag(2), 17);
    EXPECT_EQ(t.r.cursor, at);
}

TEST(VRMText, Tags) {
    TextReader t("  NAME: ship; / comment\r\nPOINTS: 3;\r\n");
    EXPECT_EQ(t.r.ReadTag(1), 2);
    EXPECT_EQ(Take(t.r.ReadString()), " ship");
    EXPECT_EQ(t.r.ReadTag(2), 13);
    EXPECT_EQ(t.r.ReadInt(), 3);
    EXPECT_EQ(t.r.depth, 2);
    TextReader end("  nothing here");
    EXPECT_EQ(end.r.ReadTag(2), 0);
    EXPECT_EQ(end.r.depth, -1);
}

TEST(VRMText, ReadCharAndSkip) {
    TextReader t("  / c\n x\ty");
    EXPECT_EQ(Qel_ReaderReadChar(&t.r), 'x');
    EXPECT_EQ(Qel_ReaderReadChar(&t.r), 'y');  // the tab cleared the line start
    EXPECT_EQ(t.r.lineStart, 0);
    EXPECT_EQ(Qel_ReaderReadChar(&t.r), 0);
}

TEST(VRMBinary, Fields) {
    BinaryReader b({0x12, 0x34, 0xFF, 0xFF, 0xFF, 0xFE, 0x00, 0x01, 0x80, 0x00,
                    'h',  'i',  0,    0x05, 0x00, 0x03, 0xAB, 0xCD, 0xEF, 0x01});
    EXPECT_EQ(b.r.ReadShort(), 0x1234);
    EXPECT_EQ(b.r.ReadInt(), -2);
    EXPECT_EQ(b.r.ReadFixed(), 0x18000);
    EXPECT_EQ(Take(b.r.ReadString()), "hi");
    EXPECT_EQ(b.r.ReadFlags(kFlags), 5);
    EXPECT_EQ(b.r.ReadFlags16(kFlags), 3);
    EXPECT_EQ(b.r.ReadUInt(), 0xABCDEF01u);
    EXPECT_EQ(b.r.error, 0);
    // Past the end: the error flag, never a read beyond the buffer.
    EXPECT_EQ(b.r.ReadShort(), 0);
    EXPECT_EQ(b.r.error, 1);
}

TEST(VRMBinary, BoundedReads) {
    BinaryReader str({'a', 'b', 'c'});
    EXPECT_EQ(str.r.ReadString(), nullptr);
    EXPECT_EQ(str.r.error, 1);
    BinaryReader word({1, 2, 3});
    EXPECT_EQ(word.r.ReadInt(), 0);
    EXPECT_EQ(word.r.error, 1);
    EXPECT_EQ(word.r.cursor, word.bytes.data());
    BinaryReader fl({0x00, 0x01, 0x80});
    EXPECT_FLOAT_EQ(fl.r.ReadFloat(), 0.0f);
    EXPECT_EQ(fl.r.error, 1);
}

TEST(VRMBinary, Tags) {
    const char raw[] = "BOB1NAMEx\0/NAMMAT3/MATBOGU";
    BinaryReader b(std::vector<uint8_t>(raw, raw + sizeof raw - 1));
    EXPECT_EQ(b.r.ReadTag(1), 1);
    EXPECT_EQ(b.r.ReadTag(1), 2);
    EXPECT_EQ(Take(b.r.ReadString()), "x");
    EXPECT_EQ(b.r.ReadTag(2), 2);  // the end tag of the expected row
    EXPECT_EQ(b.r.depth, 1);
    EXPECT_EQ(b.r.ReadTag(1), 8);
    EXPECT_EQ(b.r.ReadTag(8), 8);  // "/MAT" is shared; the expected row decides
    EXPECT_EQ(b.r.depth, 1);
    EXPECT_EQ(b.r.ReadTag(1), 17);
    EXPECT_EQ(b.r.error, 1);

    BinaryReader wrongEnd(std::vector<uint8_t>{'/', 'N', 'A', 'M'});
    EXPECT_EQ(wrongEnd.r.ReadTag(3), 17);
    EXPECT_EQ(wrongEnd.r.error, 1);
}

TEST(VRMBinary, ValidateAndSkipToTag) {
    std::string s = "xx/BOBrest";
    BinaryReader b(std::vector<uint8_t>(s.begin(), s.end()));
    b.r.tags = g_VRMCutTags;
    b.r.rowCount = 12;
    EXPECT_EQ(b.r.SkipToTag(), 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.r.cursor), 4), "rest");
    EXPECT_EQ(b.r.SkipToTag(), 0);
    EXPECT_EQ(b.r.error, 1);

    BinaryReader few(std::vector<uint8_t>{1, 2, 3, 4});
    few.r.rowCount = 8;
    EXPECT_EQ(few.r.SkipToTag(), 0);
    EXPECT_EQ(few.r.error, 1);

    BinaryReader out(std::vector<uint8_t>{1, 2});
    out.r.cursor += 2;
    LogCapture capture;
    EXPECT_EQ(out.r.Validate(), 0);
    EXPECT_EQ(out.r.ReadTag(1), 17);
    std::string log = capture.Take();
    EXPECT_NE(log.find("VRMFile::Validate: Invalid pointer!\n"), std::string::npos);

    TextReader text("junk  BODY: 5;");
    text.r.tags = g_VRMCutTags;
    text.r.rowCount = 12;
    EXPECT_EQ(text.r.SkipToTag(), 1);
    EXPECT_EQ(text.r.ReadInt(), 5);
}

TEST(VRMText, TagsStopAtTheEndOfATextWithoutSize) {
    // Each text sits in a heap block of exactly its size, so a compare that ran
    // past the NUL would be caught; every one is a cut keyword prefix.
    for (const char* text : {"NA", "N", "", "BOD", "  MATERIAL"}) {
        const size_t n = strlen(text) + 1;
        std::unique_ptr<char[]> block(new char[n]);
        memcpy(block.get(), text, n);
        VRMFile tag{};
        Qel_ReaderInit(&tag, block.get(), 0);
        EXPECT_EQ(tag.ReadTag(2), 0) << text;
        EXPECT_EQ(tag.error, 0) << text;
        VRMFile skip{};
        Qel_ReaderInit(&skip, block.get(), 0);
        skip.tags = g_VRMCutTags;
        skip.rowCount = 12;
        EXPECT_EQ(skip.SkipToTag(), 0) << text;
        EXPECT_EQ(skip.error, 1) << text;
    }
}

class VRMFiles : public testing::Test {
protected:
    void SetUp() override { session_ = std::make_unique<GeneralSession>(); }
    void TearDown() override { session_.reset(); }
    TempGameFolder game_;
    std::unique_ptr<GeneralSession> session_;
};

// Writes one record with every writer, then reads it back.
static void WriteRecord(VRMFile& w) {
    w.WriteTag(1, 1);
    w.WriteTag(2, 1);
    w.WriteString("a name", ";");
    w.WriteTag(2, 0);
    w.WriteShort(-2, ";");
    w.WriteInt(-123456, ";");
    w.WriteUInt(0xFFFFFFF0u, ";");
    w.WriteHex(0xBEEF, 4, ";");
    w.WriteHex(0xDEADBEEF, 8, ";");
    w.WriteFlags(5, kFlags, ";");
    w.WriteFlags(9, kFlags, ";");
    w.WriteSceneType(1, ";");
    w.WriteSceneType(7, ";");
    for (int32_t v : {65537, -1, 1, 0x7FFFFFFF, int32_t(0x80000000), 12345678, -98765, 0x18000}) w.WriteFixed(v, ";");
    w.WriteTag(1, 0);
}

static void CheckRecord(VRMFile& r) {
    if (r.binary) {
        EXPECT_EQ(r.ReadTag(0), 1);  // text has no start line for row 1
    }
    EXPECT_EQ(r.ReadTag(1), 2);
    EXPECT_EQ(Take(r.ReadString()), "a name");
    if (r.binary) {
        EXPECT_EQ(r.ReadTag(2), 2);
    }
    EXPECT_EQ(r.ReadShort(), -2);
    EXPECT_EQ(r.ReadInt(), -123456);
    EXPECT_EQ(r.ReadUInt(), 0xFFFFFFF0u);
    EXPECT_EQ(r.ReadShort(), int16_t(0xBEEF));
    EXPECT_EQ(r.ReadUInt(), 0xDEADBEEFu);
    EXPECT_EQ(r.ReadFlags32(kFlags), 5u);
    EXPECT_EQ(r.ReadFlags32(kFlags), 9u);
    EXPECT_EQ(r.ReadEnum(g_VRMSceneTypes), 1);
    EXPECT_EQ(r.ReadEnum(g_VRMSceneTypes), 7);
    for (int32_t v : {65537, -1, 1, 0x7FFFFFFF, int32_t(0x80000000), 12345678, -98765, 0x18000})
        EXPECT_EQ(r.ReadFixed(), v) << v;
    if (r.binary) {
        EXPECT_EQ(r.ReadTag(1), 1);
    }
    EXPECT_EQ(r.error, 0);
}

TEST_F(VRMFiles, TextAndBinaryRoundTrips) {
    for (int binary : {0, 1}) {
        VRMFile w{};
        ASSERT_EQ(w.Open("Record.dat", 0, 0, binary, nullptr, 0), 1);
        WriteRecord(w);
        EXPECT_EQ(w.error, 0);
        EXPECT_EQ(w.depth, 0);
        w.Close();

        int64_t before = Int_GetMemUsed();
        VRMFile* r = Qel_StreamCreate("record.DAT", 1, 0, binary, g_VRMBodyTags, 18);
        ASSERT_NE(r, nullptr);
        ASSERT_EQ(r->error, 0);
        CheckRecord(*r);
        Qel_CloseFileBuffer(r);
        EXPECT_EQ(Int_GetMemUsed(), before);
    }
}

TEST_F(VRMFiles, TextFormOfTheWriters) {
    VRMFile w{};
    ASSERT_EQ(w.Open("text.dat", 0, 0, 0, g_VRMBodyTags, 18), 1);
    w.WriteTag(0, 1);
    w.WriteTag(1, 1);
    w.WriteTag(13, 1);
    w.WriteInt(3, ";");
    w.WriteFixed(0x18000, ";");
    w.WriteHex(0x1F, 4, ";");
    w.WriteFlags(3, kFlags, ";");
    w.WriteTag(13, 0);
    w.Close();
    std::vector<uint8_t> bytes = game_.Read("text.dat");
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "POINTS:3;1.500000;0x001f;A|B;\r\n");
}

TEST_F(VRMFiles, LoadedTextEndsAfterItsLastByte) {
    game_.Write("short.txt", "34");
    VRMFile r{};
    ASSERT_EQ(r.Open("short.txt", 1, 0, 0, nullptr, 0), 1);
    EXPECT_EQ(r.size, 2u);
    EXPECT_EQ(r.ReadInt(), 34);
    EXPECT_EQ(r.error, 0);
    r.Close();
}

// Where a reader stands when a field cannot be read: the file and its disk
// path, then the line, the field on that line and its text; the byte in the
// binary form.
TEST_F(VRMFiles, TheReadersPlaceNamesFileLineAndField) {
    const std::string folder = std::filesystem::current_path().string();
    game_.Write("types/Things.txt", "/ a header\n2;\n1; zz;3;\n");
    VRMFile text{};
    ASSERT_EQ(text.Open("types\\Things.txt", 1, 0, 0, nullptr, 0), 1);
    EXPECT_EQ(text.ReadInt(), 2);
    EXPECT_EQ(text.ReadInt(), 1);
    text.ReadInt();
    ASSERT_NE(text.error, 0);
    EXPECT_EQ(Take(Qel_ReaderPlace(&text)),
              "types\\Things.txt (" + folder + "/types/Things.txt), line 3, field 2 \" zz\"");
    text.Close();

    game_.Write("short.txt", "1;2;");
    VRMFile cut{};
    ASSERT_EQ(cut.Open("short.txt", 1, 0, 0, nullptr, 0), 1);
    cut.ReadInt();
    cut.ReadInt();
    cut.ReadInt();
    EXPECT_EQ(Take(Qel_ReaderPlace(&cut)),
              "short.txt (" + folder + "/short.txt), line 1, field 2 \"2\", where the file ends");
    cut.Close();

    game_.Write("bytes.bin", std::string("\0\0\0\1\0\2", 6));
    VRMFile binary{};
    ASSERT_EQ(binary.Open("bytes.bin", 1, 0, 1, nullptr, 0), 1);
    EXPECT_EQ(binary.ReadInt(), 1);
    binary.ReadInt();
    EXPECT_EQ(Take(Qel_ReaderPlace(&binary)), "bytes.bin (" + folder + "/bytes.bin), byte 4");
    binary.Close();
}

TEST_F(VRMFiles, PackedReadingAndWriting) {
    std::string text = "BODIES: 7; / packed\r\n";
    game_.WritePacked("body.pbd", Bytes(text), 0x33);
    VRMFile r{};
    ASSERT_EQ(r.Open("BODY.PBD", 1, 1, 0, nullptr, 0), 1);
    EXPECT_EQ(r.ReadTag(1), 11);
    EXPECT_EQ(r.ReadInt(), 7);
    r.Close();

    VRMFile w{};
    ASSERT_EQ(w.Open("out.gz", 0, 1, 1, nullptr, 0), 1);
    w.WriteInt(0x01020304, nullptr);
    w.Close();
    QelFile* gz = Qel_fcopen("out.gz", "rb", 0);
    ASSERT_NE(gz, nullptr);
    uint8_t b[8] = {};
    EXPECT_EQ(Qel_fread(gz, 1, 8, b), 4u);
    EXPECT_EQ(b[0], 1);
    EXPECT_EQ(b[3], 4);
    Qel_fclose(gz);
}

TEST_F(VRMFiles, FailuresSetTheErrorFlag) {
    VRMFile r{};
    EXPECT_EQ(r.Open("missing.dat", 1, 0, 0, nullptr, 0), 0);
    EXPECT_EQ(r.error, 1);
    EXPECT_EQ(r.ReadInt(), 0);
    r.Close();

    VRMFile w{};
    EXPECT_EQ(w.Open("no/folder/out.dat", 0, 0, 1, nullptr, 0), 0);
    EXPECT_EQ(w.error, 1);
    // Writes without an output file do nothing.
    w.WriteInt(5, ";");
    w.WriteString("x");
    w.WriteTag(2, 1);
    w.WriteText("text");
    w.Close();

    VRMFile t{};
    ASSERT_EQ(t.Open("tags.dat", 0, 0, 1, g_VRMBodyTags, 18), 1);
    t.WriteTag(17, 1);
    EXPECT_EQ(t.error, 1);
    t.error = 0;
    t.WriteTag(18, 1);
    EXPECT_EQ(t.error, 1);
    EXPECT_EQ(t.depth, 0);
    t.Close();
    EXPECT_TRUE(game_.Read("tags.dat").empty());

    VRMFile n{};
    Qel_ReaderInit(&n, nullptr, 0);
    EXPECT_EQ(n.error, 1);
    EXPECT_EQ(n.ReadInt(), 0);
}

TEST_F(VRMFiles, PlainFunctionsForward) {
    VRMFile w{};
    ASSERT_EQ(Qel_ReaderOpen(&w, "plain.dat", 0, 0, 0, g_VRMCutTags, 12), 1);
    Qel_StreamOpenFile(&w, 4, 1);
    Qel_ReaderWriteInt(&w, 9, ";");
    Qel_StreamWriteText(&w, "path", ";");
    Qel_ReaderWriteFixed(&w, 0x8000, ";");
    Qel_StreamOpenFile(&w, 4, 0);
    Qel_ReaderClose(&w);

    VRMFile r{};
    ASSERT_EQ(Qel_ReaderOpen(&r, "plain.dat", 1, 0, 0, g_VRMCutTags, 12), 1);
    EXPECT_EQ(Qel_ReaderReadTag(&r, 1), 4);
    EXPECT_EQ(Qel_ReaderReadInt(&r), 9);
    EXPECT_EQ(Take(Qel_StreamReadString(&r)), "path");
    EXPECT_EQ(Qel_ReaderReadFixed(&r), 0x8000);
    EXPECT_EQ(r.error, 0);
    Qel_ReaderClose(&r);
}
