#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "base/catalog.h"
#include "base/file.h"
#include "base/memory.h"
#include "support/gamefolder.h"
#include "support/logcapture.h"

namespace {

std::string ReadAll(QelFile* f) {
    std::string out;
    char buf[64];
    size_t n;
    while ((n = Qel_fread(f, 1, sizeof buf, buf)) > 0) out.append(buf, n);
    return out;
}

std::string LoadText(const char* name) {
    auto* p = static_cast<char*>(Qel_LoadFile(name));
    if (!p) return "<null>";
    std::string s(p, g_QelLastFileSize);
    Int_FreeMem(p, g_QelLastFileSize, 0);
    return s;
}

std::string Text(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// A game folder with two catalogs and a few disk files.
class FileLayer : public testing::Test {
protected:
    void SetUp() override {
        game_.WriteCatalog("01.cat", Members({{"data\\ships.txt", "ships from catalog 1"},
                                              {"both.txt", "catalog copy"},
                                              {"member120.bin", std::string(120, 'm')},
                                              {"override.txt", "first"}}));
        game_.WriteCatalog("02.cat", Members({{"override.txt", "second"}, {"Sub/Mixed.TXT", "mixed case"}}));
        game_.Write("both.txt", "disk copy");
        game_.Write("Data/Disk.Txt", "on disk");
        session_ = std::make_unique<GeneralSession>();
        ASSERT_NE(session_->State(), nullptr);
    }
    void TearDown() override { session_.reset(); }

    TempGameFolder game_;
    std::unique_ptr<GeneralSession> session_;
};

}  // namespace

TEST_F(FileLayer, CatalogBeforeDiskForReading) {
    EXPECT_EQ(LoadText("both.txt"), "catalog copy");
    EXPECT_EQ(LoadText("Data/Ships.TXT"), "ships from catalog 1");
    EXPECT_EQ(LoadText("override.txt"), "second");
    EXPECT_EQ(LoadText("sub\\mixed.txt"), "mixed case");

    QelFile* disk = Qel_fopen("both.txt", "rb", 0);
    ASSERT_NE(disk, nullptr);
    EXPECT_EQ(disk->flags, QEL_FILE_CATALOG);
    Qel_fclose(disk);
    // With the disk-only flag the name is user-relative, so the game folder's copy is not seen.
    EXPECT_EQ(Qel_fopen("both.txt", "rb", 1), nullptr);
}

TEST_F(FileLayer, WriteModesNeverTouchTheArchive) {
    std::vector<uint8_t> archive = game_.Read("01.dat");
    for (const char* mode : {"wb", "w", "w+", "a", "ab", "r+", "r+b"}) {
        QelFile* f = Qel_fopen("member120.bin", mode, 0);
        ASSERT_NE(f, nullptr) << mode;
        EXPECT_FALSE(f->flags & QEL_FILE_CATALOG) << mode;
        Qel_fprintf(f, "x");
        Qel_fclose(f);
    }
    EXPECT_EQ(game_.Read("01.dat"), archive);
    EXPECT_TRUE(game_.Exists("member120.bin"));
}

TEST_F(FileLayer, MemberReadsAreClippedAndSeeksClamped) {
    QelFile* f = Qel_fopen("member120.bin", "rb", 0);
    ASSERT_NE(f, nullptr);
    char buf[200];
    ASSERT_EQ(Qel_fseek(f, 90, 0), 0);
    EXPECT_EQ(Qel_fread(f, 1, 100, buf), 30u);
    EXPECT_EQ(Qel_ftell(f), 120);
    EXPECT_EQ(std::string(buf, 30), std::string(30, 'm'));

    Qel_fseek(f, -5, 0);
    EXPECT_EQ(Qel_ftell(f), 0);
    Qel_fseek(f, 10, 2);
    EXPECT_EQ(Qel_ftell(f), 120);
    Qel_fseek(f, -20, 2);
    Qel_fseek(f, 5, 1);
    EXPECT_EQ(Qel_ftell(f), 105);

    // Elements, not bytes: 15 bytes left hold three 4-byte elements.
    EXPECT_EQ(Qel_fread(f, 4, 10, buf), 3u);
    EXPECT_EQ(Qel_ftell(f), 120);
    Qel_fclose(f);
}

TEST_F(FileLayer, MembersReadInAnyOrderAndAfterTheDataFileIsRewritten) {
    // In catalog order, backwards, and after a member left half read.
    const char* const order[] = {"data\\ships.txt", "both.txt", "member120.bin", "both.txt", "data\\ships.txt"};
    const char* const texts[] = {"ships from catalog 1", "catalog copy", nullptr, "catalog copy",
                                 "ships from catalog 1"};
    for (size_t i = 0; i < 5; ++i) {
        if (texts[i]) {
            EXPECT_EQ(LoadText(order[i]), texts[i]) << i;
            continue;
        }
        QelFile* f = Qel_fopen(order[i], "rb", 0);
        ASSERT_NE(f, nullptr);
        char buf[10];
        EXPECT_EQ(Qel_fread(f, 1, sizeof buf, buf), sizeof buf);
        Qel_fclose(f);
    }
    // The same members with new bytes: what is read is the new file.
    game_.WriteCatalog("01.cat", Members({{"data\\ships.txt", "SHIPS FROM CATALOG 1"},
                                          {"both.txt", "CATALOG COPY"},
                                          {"member120.bin", std::string(120, 'M')},
                                          {"override.txt", "FIRST"}}));
    EXPECT_EQ(LoadText("both.txt"), "CATALOG COPY");
    EXPECT_EQ(LoadText("member120.bin"), std::string(120, 'M'));
}

// A member larger than what a handle reads ahead, read in pieces of every
// size (small ones served from what was read ahead, large ones straight into
// the caller's buffer) with seeks back and forth between them.
TEST(MemberReads, PiecesOfEverySizeAndSeeksGiveTheMembersBytes) {
    TempGameFolder game;
    std::string big(300000, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = char(i * 7 + i / 251);
    game.WriteCatalog("01.cat", Members({{"small.txt", "before"}, {"big.bin", big}, {"after.txt", "after"}}));
    GeneralSession session;
    ASSERT_NE(session.State(), nullptr);
    QelFile* f = Qel_fopen("big.bin", "rb", 0);
    ASSERT_NE(f, nullptr);
    struct Step {
        long seek;  // -1: read on from where the last read ended
        size_t length;
    } steps[] = {{-1, 1},      {-1, 7},     {-1, 1000}, {-1, 40000}, {-1, 32768},   {-1, 100000},
                 {10, 3},      {-1, 65530}, {-1, 20},   {150000, 1}, {149999, 2},   {-1, 70000},
                 {299990, 50}, {0, 300000}, {5, 65536}, {-1, 65536}, {299000, 999}, {-1, 1}};
    std::string got(300000, '\0');
    for (const Step& step : steps) {
        if (step.seek >= 0) {
            ASSERT_EQ(Qel_fseek(f, step.seek, 0), 0);
        }
        const long at = Qel_ftell(f);
        const size_t expected = std::min<size_t>(step.length, big.size() - size_t(at));
        ASSERT_EQ(Qel_fread(f, 1, step.length, got.data()), expected) << at << "+" << step.length;
        EXPECT_EQ(got.compare(0, expected, big, size_t(at), expected), 0) << at << "+" << step.length;
        EXPECT_EQ(Qel_ftell(f), at + long(expected));
    }
    Qel_fclose(f);
    EXPECT_EQ(LoadText("after.txt"), "after");
    EXPECT_EQ(LoadText("big.bin"), big);
}

// The data file kept open between members is checked at every open: one
// replaced by another file is read anew; one cut short under an open member
// fails that member's read once, and the next open sees where it ends.
TEST(MemberReads, ADataFileReplacedOrCutShortIsNoticed) {
    TempGameFolder game;
    game.WriteCatalog("01.cat", Members({{"a.txt", "first"}, {"b.txt", std::string(100, 'b')}}));
    GeneralSession session;
    ASSERT_NE(session.State(), nullptr);
    EXPECT_EQ(LoadText("a.txt"), "first");
    const std::string folder = std::filesystem::current_path().string();
    std::vector<uint8_t> data = game.Read("01.dat");
    for (size_t i = 0; i < 5; ++i) data[i] = uint8_t("FIRST"[i] ^ QEL_CATALOG_MEMBER_KEY);
    game.WriteBytes("new.dat", data);
    std::filesystem::rename("new.dat", "01.dat");
    EXPECT_EQ(LoadText("a.txt"), "FIRST");

    QelFile* f = Qel_fopen("b.txt", "rb", 0);
    ASSERT_NE(f, nullptr);
    std::filesystem::resize_file("01.dat", 55);
    LogCapture capture;
    char buf[100];
    EXPECT_EQ(Qel_fread(f, 1, sizeof buf, buf), 50u);
    EXPECT_EQ(Qel_fread(f, 1, sizeof buf, buf), 0u);
    Qel_fclose(f);
    EXPECT_EQ(Count(capture.Take(), "File b.txt (bytes 5 to 105 of " + folder +
                                        "/01.dat): cannot read: the data file ends before the member\n"),
              1u);
    EXPECT_EQ(Qel_fopen("b.txt", "rb", 0), nullptr);
    EXPECT_TRUE(capture.Contains("the data file ends at byte 55, before the member\n"));
    EXPECT_EQ(LoadText("a.txt"), "FIRST");
}

TEST_F(FileLayer, ReadCountsElementsForEveryKind) {
    game_.Write("plain.bin", std::string(10, 'p'));
    QelFile* gz = Qel_fcopen("packed.gz", "wb", 0);
    ASSERT_NE(gz, nullptr);
    EXPECT_EQ(Qel_fwriteBlock(gz, 2, 5, "0123456789"), 5u);
    Qel_fclose(gz);

    char buf[16];
    QelFile* plain = Qel_fopen("plain.bin", "rb", 0);
    EXPECT_EQ(Qel_fread(plain, 4, 4, buf), 2u);
    Qel_fclose(plain);
    gz = Qel_fcopen("packed.gz", "rb", 0);
    ASSERT_NE(gz, nullptr);
    EXPECT_EQ(gz->flags, QEL_FILE_GZIP);
    EXPECT_EQ(Qel_fread(gz, 4, 4, buf), 2u);
    EXPECT_EQ(std::string(buf, 8), "01234567");
    Qel_fclose(gz);
}

TEST_F(FileLayer, WritesToAMemberAreRefused) {
    QelFile* f = Qel_fopen("both.txt", "rb", 0);
    ASSERT_NE(f, nullptr);
    uint32_t word = 1;
    LogCapture capture;
    EXPECT_EQ(Qel_fwriteBlock(f, 1, 4, &word), 0u);
    EXPECT_EQ(Qel_fwrite(f, &word, 4, "\4"), 0u);
    EXPECT_EQ(Qel_fprintf(f, "%d", 5), 0);
    std::string log = capture.Take();
    EXPECT_NE(log.find("Error someone tried to write to a Catalog !\n"), std::string::npos);
    EXPECT_EQ(ReadAll(f), "catalog copy");
    Qel_fclose(f);
}

TEST_F(FileLayer, RecordsAreWrittenBigEndianAndRestored) {
    uint8_t record[6];
    uint32_t a = 0x11223344;
    uint16_t b = 0x5566;
    memcpy(record, &a, 4);
    memcpy(record + 4, &b, 2);
    uint8_t copy[6];
    memcpy(copy, record, 6);
    QelFile* f = Qel_fopen("record.bin", "wb", 0);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(Qel_fwrite(f, record, 6, "\4\2"), 6u);
    Qel_fclose(f);
    EXPECT_EQ(memcmp(record, copy, 6), 0);
    EXPECT_EQ(game_.Read("record.bin"), (std::vector<uint8_t>{0x11, 0x22, 0x33, 0x44, 0x55, 0x66}));
}

TEST_F(FileLayer, SizesTimesAndMissingFiles) {
    EXPECT_EQ(Qel_fsize(0, "member120.bin"), 120);
    EXPECT_EQ(Qel_fsize(0, "data\\disk.txt"), 7);
    EXPECT_EQ(Qel_fsize(0, "DATA"), -2);
    EXPECT_EQ(Qel_fsize(0, "nothing.txt"), -1);
    EXPECT_GT(Qel_ftime("Data/Disk.Txt", 0), 0);

    LogCapture capture;
    EXPECT_EQ(Qel_ftime("nothing.txt", 0), 0);
    EXPECT_EQ(Qel_ftime("member120.bin", 0), 0);  // catalogs are not consulted
    EXPECT_EQ(LoadText("nothing.txt"), "<null>");
    EXPECT_EQ(g_QelLastFileSize, 0u);
    EXPECT_EQ(Qel_fopen("nothing.txt", "rb", 0), nullptr);
    std::string log = capture.Take();
    EXPECT_NE(log.find("Qel_ftime: \"nothing.txt\" not found!\n"), std::string::npos);

    game_.Write("empty.txt", "");
    EXPECT_EQ(LoadText("empty.txt"), "<null>");
}

TEST_F(FileLayer, RemoveAndRenameReplaceAtomically) {
    game_.Write("old.txt", "new contents");
    game_.Write("Target.txt", "old contents");
    EXPECT_EQ(Qel_RenameFile("OLD.TXT", "target.txt", 0), 1);
    EXPECT_EQ(Text(game_.Read("Target.txt")), "new contents");
    EXPECT_FALSE(game_.Exists("old.txt"));
    EXPECT_EQ(Qel_RemoveFile("TARGET.TXT", 0), 1);
    EXPECT_FALSE(game_.Exists("Target.txt"));

    LogCapture capture;
    EXPECT_EQ(Qel_RemoveFile("gone.txt", 0), 0);
    EXPECT_EQ(Qel_RenameFile("gone.txt", "x.txt", 0), 0);
    std::string log = capture.Take();
    EXPECT_NE(log.find("Qel_RemoveFile(gone.txt,0) remove failed!\n"), std::string::npos);
}

TEST_F(FileLayer, DiskNamesResolveWithoutRegardToCase) {
    EXPECT_EQ(LoadText("DATA\\DISK.TXT"), "on disk");
    game_.Write("twin.txt", "lower");
    game_.Write("TWIN.txt", "upper");
    EXPECT_EQ(LoadText("TWIN.txt"), "upper");  // the exact name first
    EXPECT_EQ(LoadText("twin.txt"), "lower");
    // A new file in an existing folder of another case lands in that folder.
    QelFile* f = Qel_fopen("data/New.txt", "wb", 0);
    ASSERT_NE(f, nullptr);
    Qel_fclose(f);
    EXPECT_TRUE(game_.Exists("Data/New.txt"));
}

TEST_F(FileLayer, HandlesAreFreedAndLongNamesAreSafe) {
    int64_t before = Int_GetMemUsed();
    for (int i = 0; i < 50; ++i) {
        QelFile* a = Qel_fopen("both.txt", "rb", 0);
        QelFile* b = Qel_fopen("data/disk.txt", "rb", 0);
        ASSERT_NE(a, nullptr);
        ASSERT_NE(b, nullptr);
        Qel_fclose(a);
        Qel_fclose(b);
    }
    EXPECT_EQ(Int_GetMemUsed(), before);
    std::string longName(5000, 'a');
    EXPECT_EQ(Qel_CatalogFind(longName.c_str()), nullptr);
    EXPECT_EQ(Qel_fopen(longName.c_str(), "rb", 0), nullptr);
    EXPECT_EQ(Qel_fclose(nullptr), -1);
}

TEST_F(FileLayer, MissingDataFileFailsTheOpen) {
    std::remove("01.dat");
    EXPECT_EQ(Qel_fopen("both.txt", "rb", 0), nullptr);
    EXPECT_EQ(LoadText("override.txt"), "second");
}

TEST_F(FileLayer, GzipTextAndSeeks) {
    QelFile* gz = Qel_fcopen("save/text.gz", "wb", 0);
    EXPECT_EQ(gz, nullptr);  // the folder does not exist
    gz = Qel_fcopen("text.gz", "wb", 0);
    ASSERT_NE(gz, nullptr);
    EXPECT_GT(Qel_fprintf(gz, "value %d;", 42), 0);
    Qel_fclose(gz);
    gz = Qel_fcopen("TEXT.GZ", "rb", 0);
    ASSERT_NE(gz, nullptr);
    Qel_fseek(gz, 6, 0);
    EXPECT_EQ(Qel_ftell(gz), 6);
    EXPECT_EQ(ReadAll(gz), "42;");
    Qel_fclose(gz);
}

// Failures say what the game asked for, the disk path it became and the
// system's reason. A file missing for reading is only remembered, as probes
// find nothing all the time; the caller to whom it is a failure logs it.
TEST_F(FileLayer, FailuresNameTheFileItsDiskPathAndTheReason) {
    const std::string folder = std::filesystem::current_path().string();
    LogCapture capture;
    EXPECT_EQ(Qel_fopen("Nothing.txt", "rb", 0), nullptr);
    EXPECT_EQ(capture.Take(), "");
    const std::string missing =
        "File Nothing.txt (" + folder + "/Nothing.txt): cannot open it for reading: No such file or directory\n";
    EXPECT_EQ(Qel_LastFileFailure(), missing);
    Qel_LogFileFailure();
    Qel_LogFileFailure();
    EXPECT_EQ(Count(capture.Take(), missing), 1u);
    // A later open that succeeds leaves nothing to log.
    QelFile* found = Qel_fopen("both.txt", "rb", 0);
    ASSERT_NE(found, nullptr);
    Qel_fclose(found);
    Qel_LogFileFailure();
    EXPECT_EQ(capture.Take(), "");

    // Writing is never a probe: at once.
    game_.Write("blocked", "a file, not a folder");
    EXPECT_EQ(Qel_fopen("blocked/save.txt", "wb", 0), nullptr);
    EXPECT_TRUE(capture.Contains("File blocked/save.txt (" + folder +
                                 "/blocked/save.txt): cannot open it for writing: Not a directory\n"));
    // A write that fails says so once for its handle.
    QelFile* out = Qel_fopen("out.bin", "wb", 0);
    ASSERT_NE(out, nullptr);
    g_QelFileFaults.writeBudget = 2;
    EXPECT_EQ(Qel_fwriteBlock(out, 1, 4, "abcd"), 0u);
    EXPECT_EQ(Qel_fwriteBlock(out, 1, 4, "abcd"), 0u);
    g_QelFileFaults.writeBudget = -1;
    Qel_fclose(out);
    EXPECT_EQ(Count(capture.Take(), "File out.bin (" + folder + "/out.bin): cannot write: No space left on device\n"),
              1u);
    // A rename names both files, before its own line.
    EXPECT_EQ(Qel_RenameFile("gone.txt", "x.txt", 0), 0);
    EXPECT_TRUE(capture.Contains("File gone.txt (" + folder + "/gone.txt): cannot rename it to x.txt (" + folder +
                                 "/x.txt): No such file or directory\n"));
}

// A data file cut short: its catalog says so when it loads, naming the first
// member past the end; opening such a member fails with the file layer's line
// instead of reading short; the members before the cut read whole.
TEST(CatalogCutShort, IsReportedAtLoadAndItsMembersPastTheEndFail) {
    TempGameFolder game;
    game.WriteCatalog("01.cat", Members({{"a.txt", "first"}, {"b.txt", std::string(100, 'b')}, {"c.txt", "third"}}));
    std::vector<uint8_t> data = game.Read("01.dat");
    data.resize(55);
    game.WriteBytes("01.dat", data);
    const std::string folder = std::filesystem::current_path().string();
    LogCapture capture;
    GeneralSession session;
    ASSERT_NE(session.State(), nullptr);
    EXPECT_EQ(Count(capture.Take(), "Qel_LoadCatalog: 01.cat: its data file 01.dat (" + folder +
                                        "/01.dat) holds 55 bytes, and 2 members lie past that end, the first b.txt "
                                        "(bytes 5 to 105)\n"),
              1u);
    EXPECT_EQ(LoadText("a.txt"), "first");
    EXPECT_EQ(Qel_fopen("b.txt", "rb", 0), nullptr);
    EXPECT_TRUE(capture.Contains("File b.txt (bytes 5 to 105 of " + folder +
                                 "/01.dat): cannot read: the data file ends at byte 55, before the member\n"));
    EXPECT_EQ(LoadText("c.txt"), "<null>");
}
