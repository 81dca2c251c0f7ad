#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "body_fixture.h"
#include "scene/caches.h"
#include "scene/ids.h"
#include "scene/state.h"
#include "support/logcapture.h"
#include "tools/lib/bodyconv.h"

namespace {

int CountOf(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

int s_polls = 0;
void CountPoll() { ++s_polls; }

class BodyCache : public BodyTest {
protected:
    void SetUp() override {
        BodyTest::SetUp();
        s_polls = 0;
        g_B3DMoviePollHook = &CountPoll;
    }
    void TearDown() override {
        g_B3DMoviePollHook = nullptr;
        BodyTest::TearDown();
    }
    // Writes a text body made from a model source.
    void WriteModel(int id, const std::string& source) const {
        std::string text, error;
        ASSERT_TRUE(Tool_ModelToTextBody(source, &text, &error)) << error;
        WriteBody(id, text);
    }
    // Writes the binary body of a model source (and its text form).
    void WriteBinaryModel(int id, const std::string& source) const {
        WriteModel(id, source);
        std::string error;
        ASSERT_TRUE(Tool_BodyTextToBinary(id, &error)) << error;
    }
};

const char* const kTriangle = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";

TEST_F(BodyCache, AMissingBodyIsReadFromDiskOnce) {
    system_->debugFlags |= 1 | 2;  // every open and every failed open
    LogCapture log;
    EXPECT_EQ(B3D_GetBody(42), nullptr);
    const std::string first = log.Take();
    EXPECT_EQ(CountOf(first, "Qel_fopen(v\\00042.bob, rb)"), 1) << first;
    EXPECT_EQ(CountOf(first, "Qel_fopen(v\\00042.bod, rb)"), 1) << first;
    EXPECT_EQ(B3D_BodyIsUsed(42), 1);  // the failed mark
    EXPECT_EQ(B3D_GetBody(42), nullptr);
    EXPECT_EQ(B3D_BodyIsLoaded(42), 0);
    EXPECT_EQ(CountOf(log.Text(), "00042"), 0) << log.Text();
    EXPECT_EQ(s_polls, 0);
}

TEST_F(BodyCache, BinaryBeforeText) {
    WriteBinaryModel(43, std::string("name binary\n") + kTriangle);
    WriteModel(43, std::string("name text\n") + kTriangle);
    Body3D* body = B3D_GetBody(43);
    ASSERT_NE(body, nullptr);
    EXPECT_STREQ(body->name, "binary");
    EXPECT_EQ(B3D_GetBody(43), body);  // from the cache
    EXPECT_EQ(s_polls, 1);
    // A text body alone is read as text.
    WriteModel(44, std::string("name text\n") + kTriangle);
    Body3D* text = B3D_GetBody(44);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text->name, "text");
    EXPECT_EQ(s_polls, 2);
    EXPECT_FALSE(folder_->Exists("v/00044.bob"));  // no conversion without the option
}

TEST_F(BodyCache, ConvertBodiesWritesATextBodyAsBinaryOnce) {
    system_->SysProfilingFlags |= 0x800;
    system_->debugFlags |= 1;
    WriteModel(50, std::string("name converted\n") + kTriangle);
    LogCapture log;
    Body3D* body = B3D_GetBody(50);
    ASSERT_NE(body, nullptr);
    EXPECT_TRUE(folder_->Exists("v/00050.bob"));
    EXPECT_EQ(s_polls, 2);  // after the load and after the write
    ASSERT_EQ(B3D_GetBody(50), body);
    B3D_FreeBody(body);
    // Now the binary file is there and is read instead.
    folder_->Write("v/00050.bod", "not read");
    body = B3D_GetBody(50);
    ASSERT_NE(body, nullptr);
    EXPECT_STREQ(body->name, "converted");
    EXPECT_EQ(CountOf(log.Text(), "Qel_fopen(v\\00050.bob.tmp, wb)"), 1) << log.Text();
    EXPECT_EQ(s_polls, 3);
}

TEST_F(BodyCache, BodyIsLoaded) {
    WriteModel(45, kTriangle);
    system_->debugFlags |= 1 | 2;
    {
        LogCapture log;
        EXPECT_EQ(B3D_BodyIsLoaded(100000), 1);  // embedded in a cut: never looked up
        EXPECT_EQ(B3D_BodyIsLoaded(250007), 1);
        EXPECT_EQ(B3D_BodyIsLoaded(-1), 0);  // no body
        EXPECT_EQ(log.Text(), "");
    }
    EXPECT_EQ(B3D_FindBody(100000), nullptr);
    EXPECT_EQ(B3D_BodyIsLoaded(45), 1);
    EXPECT_NE(B3D_FindBody(45), nullptr);
    EXPECT_EQ(B3D_BodyIsLoaded(46), 0);
}

TEST_F(BodyCache, GettingABodyClearsItsUseStamp) {
    WriteModel(47, kTriangle);
    Body3D* body = B3D_GetBody(47);
    ASSERT_NE(body, nullptr);
    body->lastUse = 1234;
    EXPECT_EQ(B3D_GetBody(47), body);
    EXPECT_EQ(body->lastUse, 0);
}

// Four parts of one triangle each, and a second level when lods is set.
std::string Parts(int parts, bool lods) {
    std::string s = "mtl a\nusemtl a\nv 0 0 0\nv 1 0 0\nv 0 1 0\n";
    for (int p = 0; p < parts; ++p) s += "o p" + std::to_string(p) + "\nf 1 2 3\n";
    if (lods) s += "lod 3000\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
    return s;
}

TEST_F(BodyCache, TheLastPartOfALargeVersion6BodyTakesWord1157) {
    const struct {
        int id;
        int parts;
        bool lods;
        bool material6;
        bool marked;
    } cases[] = {
        {60, 4, true, true, true},    // four parts, two levels, version-6 materials
        {61, 5, true, true, true},    //
        {62, 3, true, true, false},   // too few parts
        {63, 4, false, true, false},  // one level
        {64, 4, true, false, false},  // older materials
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        WriteModel(c.id, Parts(c.parts, c.lods));
        Body3D* body = B3D_GetBody(c.id);
        ASSERT_NE(body, nullptr);
        if (!c.material6) {
            // Got again with the flag cleared and the words back at 0, as a
            // body of older materials is: the rule is applied on every get.
            body->flags &= static_cast<uint8_t>(~BODY_MATERIAL6);
            for (int32_t p = 0; p < body->levels[0]->partCount; ++p) {
                BodyPart* part = body->levels[0]->parts[p];
                for (int32_t g = 0; g < part->groupCount; ++g)
                    for (int32_t t = 0; t < part->groups[g].triCount; ++t) part->groups[g].tris[t].word = 0;
            }
            ASSERT_EQ(B3D_GetBody(c.id), body);
        }
        ASSERT_EQ(body->levelCount, c.lods ? 2 : 1);
        const BodyLevel* level = body->levels[0];
        ASSERT_EQ(level->partCount, c.parts);
        for (int32_t p = 0; p < level->partCount; ++p) {
            const BodyPart* part = level->parts[p];
            for (int32_t g = 0; g < part->groupCount; ++g)
                for (int32_t t = 0; t < part->groups[g].triCount; ++t)
                    EXPECT_EQ(part->groups[g].tris[t].word == 1157, c.marked && p == level->partCount - 1)
                        << "part " << p;
        }
    }
}

}  // namespace
