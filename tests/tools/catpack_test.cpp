#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "base/file.h"
#include "base/memory.h"
#include "base/packed.h"
#include "support/gamefolder.h"
#include "tools/lib/catalog_writer.h"

namespace {

std::string LoadText(const char* name, bool packed = false) {
    void* p = packed ? Qel_Unpack(name, 0) : Qel_LoadFile(name);
    if (!p) return "<null>";
    std::string s(static_cast<char*>(p), g_QelLastFileSize);
    Int_FreeMem(p, g_QelLastFileSize, 0);
    return s;
}

std::string Tool(const char* name) {
    const char* bin = getenv("TREVAN_BINARY_DIR");
    return std::string(bin ? bin : ".") + "/tools/" + name + "/" + name;
}

}  // namespace

TEST(CatalogTools, CollectedFolderReadsBackThroughTheEngine) {
    TempGameFolder game;
    game.Write("src/Types/TShips.txt", "ships;");
    game.Write("src/readme.txt", "hello");
    game.Write("src/empty.bin", "");
    std::vector<ToolCatalogMember> members;
    std::string error;
    ASSERT_TRUE(Tool_CollectFolder("src", &members, &error)) << error;
    ASSERT_EQ(members.size(), 3u);
    EXPECT_EQ(members[0].name, "Types\\TShips.txt");
    EXPECT_FALSE(Tool_CollectFolder("no_such_folder", &members, &error));
    EXPECT_FALSE(Tool_WriteCatalog("nodot", members, &error));

    members.clear();
    ASSERT_TRUE(Tool_CollectFolder("src", &members, &error));
    ASSERT_TRUE(Tool_WriteCatalog("01.cat", members, &error)) << error;
    GeneralSession session;
    ASSERT_NE(session.State(), nullptr);
    EXPECT_EQ(LoadText("types/tships.txt"), "ships;");
    EXPECT_EQ(LoadText("README.TXT"), "hello");
    EXPECT_EQ(Qel_fsize(0, "empty.bin"), 0);
}

TEST(CatalogTools, CommandLineTools) {
    TempGameFolder game;
    game.Write("src/Data/a.txt", "alpha");
    game.Write("plain.txt", std::string(5000, 'p'));
    ASSERT_EQ(std::system((Tool("catpack") + " src 01.cat > /dev/null").c_str()), 0);
    ASSERT_EQ(std::system((Tool("packfile") + " plain.txt data.pck 200").c_str()), 0);
    EXPECT_NE(std::system((Tool("catpack") + " 2> /dev/null").c_str()), 0);
    EXPECT_NE(std::system((Tool("packfile") + " missing.txt out.pck 2> /dev/null").c_str()), 0);
    EXPECT_EQ(game.Read("data.pck")[0], uint8_t(200 ^ 0xD1));

    GeneralSession session;
    ASSERT_NE(session.State(), nullptr);
    EXPECT_EQ(LoadText("data\\a.txt"), "alpha");
    EXPECT_EQ(LoadText("data.pck", true), std::string(5000, 'p'));
}
