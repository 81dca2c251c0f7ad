#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "base/strings.h"
#include "base/table.h"
#include "cut_fixture.h"
#include "scene/bodyrecord.h"
#include "scene/cutkeys.h"
#include "scene/names.h"
#include "scene/state.h"
#include "support/logcapture.h"
#include "tools/lib/bodyconv.h"

namespace {

constexpr int32_t ONE = 65536;

using CutFiles = CutTest;

Body3D* Body(int32_t id) { return static_cast<Body3D*>(B3D_FindBody(id)); }

int32_t BodyCount() {
    int32_t n = 0;
    for (B3DListNode* b = B3D_ListFirst(&g_B3DState->bodies); b; b = B3D_ListNext(b)) ++n;
    return n;
}

bool HasTag(const std::vector<uint8_t>& bytes, const char* tag) {
    return std::search(bytes.begin(), bytes.end(), tag, tag + 4) != bytes.end();
}

TEST_F(CutFiles, BinaryVersion5GivesNumbersAndVersion6Names) {
    WriteBinaryCut(1, "path 0 12\npath 1 13\n  flags j\n", 5);
    J3D_Cut* v5 = J3D_LoadCutBin(1);
    ASSERT_NE(v5, nullptr);
    EXPECT_EQ(v5->paths[0].reference, 12);
    EXPECT_EQ(v5->paths[0].flags, PATH_BODY);
    // Before version 6 every reference is a body as well.
    EXPECT_EQ(v5->paths[1].reference, 13);
    EXPECT_EQ(v5->paths[1].flags, PATH_CUT | PATH_BODY);

    WriteBinaryCut(2, "path 0 ship\npath 1 intro\n  flags j\npath 2 12\n");
    J3D_Cut* v6 = J3D_LoadCutBin(2);
    ASSERT_NE(v6, nullptr);
    EXPECT_EQ(v6->paths[0].reference, B3D_FIRST_DYNAMIC_BODY);
    EXPECT_EQ(B3D_GetBodyFilename(B3D_FIRST_DYNAMIC_BODY, 1), "ship");
    EXPECT_EQ(v6->paths[0].flags, PATH_BODY);
    // A name with path flag 0x80 is a cut's.
    EXPECT_EQ(v6->paths[1].reference, B3D_FIRST_DYNAMIC_CUT);
    EXPECT_EQ(B3D_GetCutFilename(B3D_FIRST_DYNAMIC_CUT, 1), "intro");
    EXPECT_EQ(v6->paths[1].flags, PATH_CUT);
    EXPECT_EQ(v6->paths[2].reference, 12);
    // Entered in the cut table under its id.
    EXPECT_EQ(J3D_CutIsLoaded(2), v6);
    EXPECT_EQ(v6->id, 2u);
}

TEST_F(CutFiles, ReadsEveryBinaryField) {
    system_->debugFlags |= 4;
    WriteBinaryCut(4,
                   "info made by hand\n"
                   "path 9 20\n  value1 -3\n  value2 8\n  name lead\n  flags c l ld f s p\n"
                   "  constraint 7 1.5\n  constraint -1 -0.25\n  note 100 event go\n  note 250\n"
                   "  key 0x0 400 1 2 3 0.25 0 0\n  key 0x0 -1 4 5 6 0 0 0.5\n");
    LogCapture log;
    J3D_Cut* cut = J3D_LoadCutBin(4);
    ASSERT_NE(cut, nullptr);
    EXPECT_TRUE(log.Contains("J3D_LoadCutBin: Loaded binary cut file cut\\00004.bob (4)\n"));
    EXPECT_TRUE(log.Contains("J3D_LoadCutBin: Found info \"made by hand\" in file cut\\00004.bob\n"));
    const J3D_CutPath& p = cut->paths[0];
    EXPECT_EQ(p.pathNr, 9);
    EXPECT_EQ(p.value1, -3);
    EXPECT_EQ(p.value2, 8);
    EXPECT_STREQ(p.name, "lead");
    EXPECT_EQ(p.flags, 0x367u);
    // Path flag 0x200 marks the cut.
    EXPECT_EQ(cut->flags, 0x4u);
    ASSERT_EQ(p.constraintCount, 2);
    EXPECT_EQ(p.constraints[0].value, 7);
    EXPECT_EQ(p.constraints[0].fixed, 3 * ONE / 2);
    EXPECT_EQ(p.constraints[1].fixed, -ONE / 4);
    ASSERT_EQ(p.noteCount, 2);
    EXPECT_EQ(p.notes[0].time, 100);
    EXPECT_STREQ(p.notes[0].text, "event go");
    EXPECT_EQ(p.notes[1].text, nullptr);  // an empty string gives no text
    ASSERT_EQ(p.posCount, 2);
    EXPECT_EQ(p.posKeys[1].time, 400);
    EXPECT_EQ(p.posKeys[1].value[2], 6);
    EXPECT_EQ(p.posKeys[0].flags, KEY_BINARY);
    ASSERT_EQ(p.rotCount, 2);
    EXPECT_EQ(p.rotKeys[1].value[2], ONE / 2);
}

TEST_F(CutFiles, CountsOfZeroWriteNoChunk) {
    WriteBinaryCut(5, "path 0 1\npath 1 2\n  note 5 hello\n  key 0x0 -1 0 0 0 0 0 0\n  constraint 1 1\n");
    const std::vector<uint8_t> both = folder_->Read(CutFile(5, "bob"));
    EXPECT_TRUE(HasTag(both, "NOTE"));
    EXPECT_TRUE(HasTag(both, "STAT"));
    EXPECT_TRUE(HasTag(both, "CONS"));
    WriteBinaryCut(6, "path 0 1\n");
    const std::vector<uint8_t> none = folder_->Read(CutFile(6, "bob"));
    for (const char* tag : {"NOTE", "STAT", "CONS", "NAME", "BOB1", "INFO"}) EXPECT_FALSE(HasTag(none, tag)) << tag;
    J3D_Cut* cut = J3D_LoadCutBin(6);
    ASSERT_NE(cut, nullptr);
    EXPECT_EQ(cut->paths[0].noteCount, 0);
    EXPECT_EQ(cut->paths[0].posCount, 0);
    EXPECT_EQ(cut->paths[0].notes, nullptr);
    ASSERT_NE(J3D_LoadCutBin(5), nullptr);
}

const std::string kEmbedding = "path 0 7\n  name hull\n  body 7\n" + TriangleBody("box") +
                               "  endbody\npath 1 7\n  body 7\n" + TriangleBody("other") + "  endbody\n";

TEST_F(CutFiles, EmbeddedBodyOfCut3Number7IsBody200007) {
    system_->debugFlags |= 4;
    WriteTextCut(3, kEmbedding);
    LogCapture log;
    J3D_Cut* text = J3D_LoadCut2(3);
    ASSERT_NE(text, nullptr);
    ASSERT_NE(Body(200007), nullptr);
    EXPECT_EQ(text->paths[0].reference, 200007);
    EXPECT_EQ(text->paths[1].reference, 200007);
    // The body takes the path's name; the second path finds it loaded.
    EXPECT_STREQ(Body(200007)->name, "hull");
    EXPECT_EQ(BodyCount(), 1);
    EXPECT_TRUE(log.Contains("J3D_LoadCut2: Loaded embedded body 200007\n"));
    EXPECT_TRUE(log.Contains("J3D_LoadCut2: Found embedded body 200007\n"));

    // The binary form skips a body already loaded.
    Body3D* loaded = Body(200007);
    Unload(3);
    WriteBinaryCut(3, kEmbedding);
    J3D_Cut* bin = J3D_LoadCutBin(3);
    ASSERT_NE(bin, nullptr);
    EXPECT_EQ(Body(200007), loaded);
    EXPECT_EQ(BodyCount(), 1);
    EXPECT_EQ(bin->paths[1].reference, 200007);

    // ... and reads it when it is not.
    Unload(3);
    FreeAllBodies();
    ASSERT_NE(J3D_LoadCutBin(3), nullptr);
    ASSERT_NE(Body(200007), nullptr);
    EXPECT_STREQ(Body(200007)->name, "hull");
    EXPECT_EQ(Body(200007)->levelCount, 1);
    EXPECT_EQ(BodyCount(), 1);
}

TEST_F(CutFiles, EmbeddedBodiesOfCut1KeepTheirNumbers) {
    int32_t id = 0;
    EXPECT_TRUE(J3D_EmbeddedBodyId(1, 7, &id));
    EXPECT_EQ(id, 7);
    EXPECT_TRUE(J3D_EmbeddedBodyId(2, 0, &id));
    EXPECT_EQ(id, 100000);
    EXPECT_TRUE(J3D_EmbeddedBodyId(21475, 83647, &id));
    EXPECT_EQ(id, INT32_MAX);
    EXPECT_FALSE(J3D_EmbeddedBodyId(21475, 83648, &id));
    EXPECT_FALSE(J3D_EmbeddedBodyId(50000, 1, &id));
    EXPECT_FALSE(J3D_EmbeddedBodyId(-30000, 0, &id));
}

// Every dynamic cut's embedded bodies would wrap: the cut is refused, and the
// bodies it had read already go with it.
TEST_F(CutFiles, EmbeddedIdsBeyond32BitsRefuseTheCut) {
    const std::string source = "path 0 1\n  body 1\n" + TriangleBody("fits") + "  endbody\npath 1 2\n  body 83648\n" +
                               TriangleBody("wraps") + "  endbody\n";
    const int32_t poolJ = g_B3DState->poolJBytes;
    WriteTextCut(21475, source);
    WriteBinaryCut(21475, source);
    LogCapture log;
    EXPECT_EQ(J3D_LoadCutBin(21475), nullptr);
    EXPECT_TRUE(
        log.Contains("J3D_LoadCutBin: Error loading cut file cut\\21475.bob - embedded body 83648 does not "
                     "fit a 32-bit body id in cut 21475\n"));
    EXPECT_EQ(J3D_LoadCut2(21475), nullptr);
    EXPECT_TRUE(
        log.Contains("J3D_LoadCut2: Error loading cut file cut\\21475.bod - embedded body 83648 does not fit "
                     "a 32-bit body id in cut 21475\n"));
    EXPECT_EQ(BodyCount(), 0);
    EXPECT_EQ(J3D_CutIsLoaded(21475), nullptr);
    EXPECT_EQ(g_B3DState->poolJBytes, poolJ);

    WriteBinaryCut(50000, "path 0 1\n  body 1\n" + TriangleBody("dynamic") + "  endbody\n");
    EXPECT_EQ(J3D_LoadCutBin(50000), nullptr);
    EXPECT_EQ(BodyCount(), 0);
}

// Every letter of a text path, braces around a body and around keys.
TEST_F(CutFiles, TextLettersAndBraces) {
    std::string body;
    std::string error;
    ASSERT_TRUE(Tool_ModelToTextBody(TriangleBody("box"), &body, &error)) << error;
    folder_->Write(CutFile(5, "bod"),
                   "VER: 6;\n"
                   "P 4; B hero;\n"
                   "  C 5; F 6; N lead; K 2; 1; 0.5; 2; -1.25;\n"
                   "  M 1;0;0; 0;1;0; 0;0;1;\n"
                   "  T 10; hello; 20; ; -1;\n"
                   "  c l ld f s p b\n"
                   "  L 9; {\n" +
                       body +
                       "}\n"
                       "  { 0x0; 1;2;3; 0.25;0;0; 100; 0; }\n"
                       "  { 0x0; 4;5;6; 0;0;0; -1; 0; }\n"
                       "P 5; B intro; j\n"
                       "P 6; B other; E story; j\n"
                       "P 7; B thing; E 77;\n"
                       "P 8; B 12; L 9; {}\n");
    system_->debugFlags |= 4;
    LogCapture log;
    J3D_Cut* cut = J3D_LoadCut2(5);
    ASSERT_NE(cut, nullptr) << log.Text();
    EXPECT_TRUE(log.Contains("J3D_LoadCut2: Loaded cut file cut\\00005.bod (5)\n"));
    ASSERT_EQ(cut->pathCount, 5);
    const J3D_CutPath& p = cut->paths[0];
    EXPECT_EQ(p.pathNr, 4);
    EXPECT_EQ(p.value1, 5);
    EXPECT_EQ(p.value2, 6);
    EXPECT_STREQ(p.name, "lead");
    ASSERT_EQ(p.constraintCount, 2);
    EXPECT_EQ(p.constraints[1].value, 2);
    EXPECT_EQ(p.constraints[1].fixed, -5 * ONE / 4);
    ASSERT_EQ(p.noteCount, 2);
    EXPECT_STREQ(p.notes[0].text, "hello");
    EXPECT_EQ(p.notes[1].time, 20);
    EXPECT_EQ(p.notes[1].text, nullptr);
    EXPECT_EQ(p.flags, 0x40u | 0x01 | 0x02 | 0x04 | 0x20 | 0x200 | 0x100);
    EXPECT_EQ(cut->flags, 0x4u);
    // "L" makes the path show the embedded body, named after the path.
    EXPECT_EQ(p.reference, 400009);
    ASSERT_NE(Body(400009), nullptr);
    EXPECT_STREQ(Body(400009)->name, "lead");
    ASSERT_EQ(p.posCount, 2);
    EXPECT_EQ(p.posKeys[1].time, 100);
    EXPECT_EQ(p.rotKeys[0].value[0], ONE / 4);
    // "j" without "E": the "B" name is a cut's.
    EXPECT_EQ(cut->paths[1].reference, B3D_GetCutID("intro"));
    EXPECT_EQ(cut->paths[1].flags, PATH_CUT);
    // "E" names the reference: a cut with "j", else a body.
    EXPECT_EQ(cut->paths[2].reference, B3D_GetCutID("story"));
    EXPECT_EQ(cut->paths[3].reference, 77);
    EXPECT_EQ(cut->paths[3].flags, PATH_BODY);
    // A body already loaded is skipped up to its brace.
    EXPECT_EQ(cut->paths[4].reference, 400009);
    EXPECT_EQ(BodyCount(), 1);
}

TEST_F(CutFiles, TextVersion1KeysHaveNoFlags) {
    folder_->Write(CutFile(8, "bod"), "VER: 1;\nP 0; B 3;\n{ 1;2;3; 0.5;0;0; 10; 0; }\n{ 4;5;6; 0;0;0; -1; 0; }\n");
    J3D_Cut* cut = J3D_LoadCut2(8);
    ASSERT_NE(cut, nullptr);
    ASSERT_EQ(cut->paths[0].posCount, 2);
    EXPECT_EQ(cut->paths[0].posKeys[1].value[0], 4);
    EXPECT_EQ(cut->paths[0].posKeys[1].time, 10);
    EXPECT_EQ(cut->paths[0].rotKeys[0].value[0], ONE / 2);
}

TEST_F(CutFiles, EveryFixtureReadsAlikeInBothForms) {
    int id = 10;
    for (const std::string& source : CutFixtures()) {
        FreeAllBodies();
        WriteTextCut(id, source);
        J3D_Cut* text = J3D_LoadCut2(id);
        ASSERT_NE(text, nullptr) << source;
        const std::string fromText = Tool_DumpCut(text, ~KEY_BINARY);
        std::vector<std::string> names;
        for (B3DListNode* n = B3D_ListFirst(&g_B3DState->bodies); n; n = B3D_ListNext(n)) {
            auto* b = reinterpret_cast<Body3D*>(n);
            names.push_back(std::to_string(b->id) + " " + (b->name ? b->name : ""));
        }
        for (int version : {5, 6}) {
            Unload(id);
            FreeAllBodies();
            WriteBinaryCut(id, source, version);
            J3D_Cut* bin = J3D_LoadCutBin(id);
            ASSERT_NE(bin, nullptr) << source;
            EXPECT_EQ(Tool_DumpCut(bin, ~KEY_BINARY), fromText) << "version " << version;
            std::vector<std::string> binNames;
            for (B3DListNode* n = B3D_ListFirst(&g_B3DState->bodies); n; n = B3D_ListNext(n)) {
                auto* b = reinterpret_cast<Body3D*>(n);
                binNames.push_back(std::to_string(b->id) + " " + (b->name ? b->name : ""));
            }
            EXPECT_EQ(binNames, names);
        }
        ++id;
    }
}

TEST_F(CutFiles, TheTakeCutHasCameraLightAndBodyPaths) {
    WriteBinaryCut(20, TakeCutSource());
    J3D_Cut* cut = J3D_LoadCutBin(20);
    ASSERT_NE(cut, nullptr);
    ASSERT_EQ(cut->pathCount, 4);
    EXPECT_EQ(cut->paths[0].reference, -1);
    EXPECT_EQ(cut->paths[0].fovCount, 3);
    EXPECT_EQ(cut->paths[1].reference, 2953);
    EXPECT_EQ(cut->paths[1].colorCount, 2);
    EXPECT_EQ(cut->paths[2].reference, 12);
    EXPECT_EQ(cut->paths[2].noteCount, 2);
    EXPECT_EQ(cut->paths[3].reference, 1900005);
    EXPECT_NE(Body(1900005), nullptr);
}

TEST_F(CutFiles, PackedFormsComeFirstAndFileNamesAreKept) {
    WriteBinaryCut(30, "path 0 1\n");
    folder_->WritePacked(CutFile(31, "pbb"), folder_->Read(CutFile(30, "bob")), 0x21);
    std::string text, error;
    ASSERT_TRUE(Tool_CutSourceToText("path 0 2\n", &text, &error));
    folder_->WritePacked(CutFile(32, "pbd"), std::vector<uint8_t>(text.begin(), text.end()), 0x21);
    system_->startFlags |= 0x20;
    system_->debugFlags |= 4;
    g_B3DState->engineFlags |= B3D_ENGINE_LIST_CUT_FILES;
    LogCapture log;
    ASSERT_NE(J3D_LoadCutBin(31), nullptr);
    EXPECT_TRUE(log.Contains("J3D_LoadCutBin: Loaded packed binary cut file cut\\00031.pbb (31)\n"));
    ASSERT_NE(J3D_LoadCut2(32), nullptr);
    EXPECT_TRUE(log.Contains("J3D_LoadCut2: Loaded packed cut file cut\\00032.pbd (32)\n"));
    QelTable* used = g_B3DState->nameTables[B3D_USED_CUT_FILES];
    EXPECT_STREQ(reinterpret_cast<const char*>(Qel_TableGet(used, 31)), "cut\\00031.pbb");
    EXPECT_STREQ(reinterpret_cast<const char*>(Qel_TableGet(used, 32)), "cut\\00032.pbd");
    // Without the engine flag nothing is kept.
    g_B3DState->engineFlags &= ~B3D_ENGINE_LIST_CUT_FILES;
    ASSERT_NE(J3D_LoadCutBin(30), nullptr);
    EXPECT_EQ(Qel_TableGet(used, 30), 0u);
}

TEST_F(CutFiles, ACutWithANameIsReadByIt) {
    B3D_SetCutName(40, "opening.cut");
    folder_->Write("cut/opening.bod", "VER: 6;\nP 0; B 3;\n");
    ASSERT_NE(J3D_LoadCut2(40), nullptr);
    EXPECT_EQ(J3D_LoadCutBin(40), nullptr);  // no binary form
    EXPECT_EQ(J3D_LoadCut2(41), nullptr);    // no file at all
}

// ------------------------------------------------------------------ failures

BodyBytes CutChunks(const BodyBytes& paths, int32_t count) {
    BodyBytes b;
    b.Tag("CUT1").Tag("VERS").S32(6).S32(count).Add(paths).Tag("/CUT");
    return b;
}

// A version-6 path up to its note count.
BodyBytes PathHead() {
    BodyBytes b;
    b.Tag("PATH").S32(0).Str("5").S32(0).S32(-1).S32(0);
    return b;
}

struct BinaryFailure {
    const char* what;
    BodyBytes bytes;
    const char* message;
};

TEST_F(CutFiles, BinaryFailuresLogAndGiveNull) {
    BodyBytes emptyPath = PathHead().S32(0).S32(0).Tag("/PAT");
    BodyBytes garbageBody = PathHead().Tag("BOB1").Tag("XXXX").S32(0).S32(0).Tag("/PAT");
    const std::string tail = " - ";
    const std::vector<BinaryFailure> cases = {
        {"NoMainChunk", BodyBytes().Tag("BOB1").S32(0), "main cut chunk not found\n"},
        {"InfoEnd", BodyBytes().Tag("CUT1").Tag("INFO").Str("x").Tag("/XXX"), "chunk end mismatch in Info\n"},
        {"NoPath", CutChunks(BodyBytes().Tag("NOPE").S32(0).S32(0).S32(0).S32(0).S32(0).S32(0).S32(0).S32(0), 1),
         "path chunk not found in path 0\n"},
        {"PathEnd", CutChunks(PathHead().S32(0).S32(0).Tag("/XXX"), 1), "chunk end mismatch in Path\n"},
        {"CutEnd", BodyBytes().Tag("CUT1").Tag("VERS").S32(6).S32(1).Add(emptyPath).Tag("/XXX"),
         "chunk end mismatch in \n"},
        {"Body", CutChunks(garbageBody, 1), "could not load embedded body file 10400005\n"},
        {"NoNotes", CutChunks(PathHead().S32(1).Tag("XXXX").S32(0).S32(0).Tag("/PAT"), 1),
         "note chunk not found in path 0, note 1\n"},
        {"NoStates", CutChunks(PathHead().S32(0).S32(1).Tag("XXXX").S32(0).S32(0).S32(0).Tag("/PAT"), 1),
         "states chunk not found in path 0, note 1\n"},
        {"NoteEnd", CutChunks(PathHead().S32(1).Tag("NOTE").S32(0).Str("a").Tag("/XXX").S32(0).Tag("/PAT"), 1),
         "chunk end mismatch in Notes\n"},
        // Counts beyond the bytes left are format errors, not allocations.
        {"PathCount", CutChunks(emptyPath, 0x7fffffff), "invalid Path count 2147483647 in path 0\n"},
        {"NegativePathCount", CutChunks(emptyPath, -1), "invalid Path count -1 in path 0\n"},
        {"NoteCount", CutChunks(PathHead().S32(0x10000000).Tag("NOTE").Tag("/NOT").S32(0).Tag("/PAT"), 1),
         "invalid Notes count 268435456 in path 0\n"},
        {"KeyCount", CutChunks(PathHead().S32(0).S32(0x7fffffff).Tag("STAT").Tag("/STA").Tag("/PAT"), 1),
         "invalid States count 2147483647 in path 0\n"},
        {"ConstraintCount", CutChunks(PathHead().Tag("CONS").S32(0x20000000).Tag("/CON").S32(0).S32(0).Tag("/PAT"), 1),
         "invalid Position constraint count 536870912 in path 0\n"},
    };
    const int32_t poolJ = g_B3DState->poolJBytes;
    int id = 100;
    for (const BinaryFailure& c : cases) {
        folder_->WriteBytes(CutFile(id, "bob"), c.bytes.Bytes());
        LogCapture log;
        EXPECT_EQ(J3D_LoadCutBin(id), nullptr) << c.what;
        char head[80];
        snprintf(head, sizeof head, "J3D_LoadCutBin: Error loading cut file cut\\%05d.bob", id);
        EXPECT_TRUE(log.Contains(head + tail + c.message)) << c.what << ": " << log.Text();
        EXPECT_EQ(J3D_CutIsLoaded(id), nullptr);
        EXPECT_EQ(g_B3DState->poolJBytes, poolJ) << c.what;
        ++id;
    }
    EXPECT_EQ(BodyCount(), 0);
    for (int32_t t = 0; t < J3D_KEY_TRACKS; ++t) EXPECT_EQ(g_B3DState->cutBuffers[t].keys, nullptr);
}

TEST_F(CutFiles, AnEmbeddedBodyWithoutItsEndFails) {
    WriteBinaryCut(3, kEmbedding);
    std::vector<uint8_t> bytes = folder_->Read(CutFile(3, "bob"));
    // The second path's body loses its end tag, and the first path's body is loaded already.
    const char* end = "/BOB";
    auto last = std::find_end(bytes.begin(), bytes.end(), end, end + 4);
    std::copy(end, end + 4, last);
    (*last) = 'X';
    folder_->WriteBytes(CutFile(3, "bob"), bytes);
    LogCapture log;
    EXPECT_EQ(J3D_LoadCutBin(3), nullptr);
    EXPECT_TRUE(
        log.Contains("J3D_LoadCutBin: Error loading cut file cut\\00003.bob - unable to find end of embedded "
                     "body file 200007\n"))
        << log.Text();
    // The body the failed load read is gone again.
    EXPECT_EQ(BodyCount(), 0);
}

TEST_F(CutFiles, EveryTruncationGivesNull) {
    WriteBinaryCut(7, TakeCutSource());
    const std::vector<uint8_t> whole = folder_->Read(CutFile(7, "bob"));
    const int32_t poolJ = g_B3DState->poolJBytes;
    for (size_t n = 0; n < whole.size(); ++n) {
        folder_->WriteBytes(CutFile(8, "bob"), std::vector<uint8_t>(whole.begin(), whole.begin() + long(n)));
        LogCapture quiet;
        EXPECT_EQ(J3D_LoadCutBin(8), nullptr) << n << " bytes";
    }
    EXPECT_EQ(g_B3DState->poolJBytes, poolJ);
    EXPECT_EQ(BodyCount(), 0);
}

struct TextFailure {
    const char* what;
    std::string text;
    const char* message;
};

TEST_F(CutFiles, TextFailuresLogAndGiveNull) {
    std::string flat;
    std::string error;
    ASSERT_TRUE(Tool_ModelToTextBody("v 0 0 0\nv 0 0 0\nv 0 0 0\nf 1 2 3\n", &flat, &error)) << error;
    const std::vector<TextFailure> cases = {
        {"NoVersion", "P 0; B 1;\n", "version not found\n"},
        {"BadVersion", "VER: x;\n", "unable to load version\n"},
        {"FlatBody", "VER: 6;\nP 0; B 1; L 1; {\n" + flat + "}\n", "unable to load embedded body file 20100001\n"},
        {"BodyWithoutBrace", "VER: 6;\nP 0; B 1; L 2; {\nBODIES: -1;\n",
         "unable to load embedded body file 20200002\n"},
        {"KeyWithoutBrace", "VER: 6;\nP 0; B 1;\n{ 0x20; 1;2;3; 10; 0;\nP 1; B 2;\n",
         "invalid States data in path 0, state 0\n"},
        {"BadKeyField", "VER: 6;\nP 0; B 1;\n{ 0x20; 1;x;3; 10; 0; }\n", "invalid States data in path 0, state 0\n"},
        {"NoReference", "VER: 6;\nP 0; C 1;\n", "invalid Path data in path 0\n"},
        {"BadValue", "VER: 6;\nP 0; B 1; C x;\n", "invalid Path data in path 0\n"},
        {"ConstraintCount", "VER: 6;\nP 0; B 1; K 1000; 1; 1.0;\n",
         "invalid Position constraint count 1000 in path 0\n"},
        {"EmbeddedId", "VER: 6;\nP 0; B 1; L 2147483647;\n",
         "embedded body 2147483647 does not fit a 32-bit body id in cut 209\n"},
    };
    const int32_t poolJ = g_B3DState->poolJBytes;
    int id = 200;
    for (const TextFailure& c : cases) {
        folder_->Write(CutFile(id, "bod"), c.text);
        LogCapture log;
        EXPECT_EQ(J3D_LoadCut2(id), nullptr) << c.what;
        char head[80];
        snprintf(head, sizeof head, "J3D_LoadCut2: Error loading cut file cut\\%05d.bod - ", id);
        EXPECT_TRUE(log.Contains(head + std::string(c.message))) << c.what << ": " << log.Text();
        EXPECT_EQ(J3D_CutIsLoaded(id), nullptr);
        EXPECT_EQ(g_B3DState->poolJBytes, poolJ) << c.what;
        ++id;
    }
    EXPECT_EQ(BodyCount(), 0);
}

TEST_F(CutFiles, ACutRecordThatCannotBeAllocated) {
    WriteBinaryCut(12, "path 0 1\n");
    WriteTextCut(12, "path 0 1\n");
    // The binary reader ends the program, the text reader gives null.
    B3D_FailNextAllocations(1);
    // The exit frees the SystemState it finds; the test's own is no heap record.
    EXPECT_EXIT(
        {
            g_SystemState = nullptr;
            J3D_LoadCutBin(12);
        },
        testing::ExitedWithCode(3),
        "J3D_LoadCutBin: Error loading cut file cut\\\\00012\\.bob - unable to allocate cut");
    B3D_FailNextAllocations(1);
    LogCapture log;
    EXPECT_EQ(J3D_LoadCut2(12), nullptr);
    EXPECT_TRUE(log.Contains("J3D_LoadCut2: Error loading cut file cut\\00012.bod - unable to allocate cut\n"));
    B3D_FailNextAllocations(0);
}

TEST_F(CutFiles, AKeyBeyondTheLimitFailsTheCut) {
    std::string text = "VER: 6;\nP 0; B 1;\n";
    for (int32_t i = 0; i <= J3D_MAX_PATH_KEYS; ++i) text += "{0x58;0;1;0;}\n";
    folder_->Write(CutFile(9, "bod"), text);
    LogCapture log;
    EXPECT_EQ(J3D_LoadCut2(9), nullptr);
    EXPECT_TRUE(log.Contains("maximum number of path states reached in path 0, state 20000\n"));
    for (int32_t t = 0; t < J3D_KEY_TRACKS; ++t) EXPECT_EQ(g_B3DState->cutBuffers[t].keys, nullptr);
}

}  // namespace
