#include "tools/lib/types_writer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "base/file.h"
#include "base/memory.h"
#include "base/packed.h"
#include "support/gamefolder.h"

namespace {

std::string TextOf(const std::string& source, const char* file) {
    std::vector<ToolTypesFile> files;
    std::string error, text;
    EXPECT_TRUE(Tool_ParseTypesSource(source, &files, &error)) << error;
    for (const ToolTypesFile& f : files)
        if (f.name == file) {
            EXPECT_TRUE(Tool_TypesText(f, &text, &error)) << error;
        }
    return text;
}

TEST(TypesWriter, CountsGoWhereEachFileReadsThem) {
    const std::string source =
        "# scene tables\n"
        "[CutData]\n"
        "3 \"cut\\intro scene\"   # a name with a blank inside\n"
        "[Particles3]\n"
        "4 NULL\n"
        "  PEDF_2D spark 0 0 1 1 lifetimevariation: 5\n"
        "[Skins]\n"
        "7 camo\n"
        "\thull hull_camo\n"
        "[IconData]\n"
        "ICONTYPE_GUI gui 256 128\n"
        "  ICON_QM_BUTTON NULL 0 0 8 8\n"
        "[Lensflares]\n"
        "-\n"
        "  v\\flare 1.5 2 3 4\n"
        "[Materials]\n"
        "*3 0 NULL   # blank rows in one line\n"
        "7 tex\n"
        "\"*2\" quoted\n"
        "[Sounds]\n"
        "1\n"
        "1300\n"
        "1200\n"
        "  5 200 SFX_LOOP|SFX_3DCONTROL 0 0 0 0\n";
    EXPECT_EQ(TextOf(source, "CutData"), "1;\n3;cut\\intro scene;\n");
    EXPECT_EQ(TextOf(source, "Particles3"), "1;\n4;1;NULL;\nPEDF_2D;spark;0;0;1;1;lifetimevariation:;5;\n");
    EXPECT_EQ(TextOf(source, "Skins"), "1;\n7;camo;1;\nhull;hull_camo;\n");
    EXPECT_EQ(TextOf(source, "IconData"), "ICONTYPE_GUI;gui;1;256;128;\nICON_QM_BUTTON;NULL;0;0;8;8;\n");
    EXPECT_EQ(TextOf(source, "Lensflares"), "1;\n1;\nv\\flare;1.5;2;3;4;\n");
    EXPECT_EQ(TextOf(source, "Materials"), "5;\n0;NULL;\n0;NULL;\n0;NULL;\n7;tex;\n*2;quoted;\n");
    // No count for the version word or a group without rows.
    EXPECT_EQ(TextOf(source, "Sounds"), "1;\n1300;\n1200;1;\n5;200;SFX_LOOP|SFX_3DCONTROL;0;0;0;0;\n");
}

TEST(TypesWriter, SpaceTablesTakeVersionsListsAndFieldCounts) {
    const std::string source =
        "[Globals]\n"
        "SG_AVRSPEED 3\n"
        "[VideoLists]\n"
        "3 4\n"
        "9\n"
        "[Bodies]\n"
        "SBTYPE_LOGO a b\n"
        "[Dummies]\n"
        "SDTYPE_GUN\n"
        "  v\\gun GUNF_FIXED {DOORSTATUS_OPEN c1} {g1 NULL, g2 GUNPARTF_ROTATEBETA}\n"
        "  v\\gun2 NULL {} {}\n"
        "[Matches]\n"
        "SMTYPE_MINE MATCHF_CUT1\n"
        "  1 2 3\n"
        "[TShips 48]\n"
        "v\\ship \"\" {1 2, 3 4} {5 {6, 7}} \"big ship\" \"{\"\n"
        "[TSuns 12]\n";
    EXPECT_EQ(TextOf(source, "Globals"), "1;\nSG_AVRSPEED;3;\n");
    EXPECT_EQ(TextOf(source, "VideoLists"), "2;\n2;3;4;\n1;9;\n");
    EXPECT_EQ(TextOf(source, "Bodies"), "SBTYPE_LOGO;2;a;b;\n");
    EXPECT_EQ(TextOf(source, "Dummies"),
              "SDTYPE_GUN;2;\nv\\gun;GUNF_FIXED;1;DOORSTATUS_OPEN;c1;2;g1;NULL;g2;GUNPARTF_ROTATEBETA;\n"
              "v\\gun2;NULL;0;0;\n");
    EXPECT_EQ(TextOf(source, "Matches"), "SMTYPE_MINE;MATCHF_CUT1;1;\n1;2;3;\n");
    // An empty field, lists within lists, and a quoted brace that is a field.
    EXPECT_EQ(TextOf(source, "TShips"), "48;1;\nv\\ship;;2;1;2;3;4;1;5;2;6;7;big ship;{;\n");
    EXPECT_EQ(TextOf(source, "TSuns"), "12;0;\n");
}

TEST(TypesWriter, RefusesWhatTheTextFormCannotHold) {
    const char* sources[] = {
        "[CutData]\n1 \"a;b\"\n",
        "[CutData]\n1 fx/spark\n",
        "[CutData]\n1 \" lead\"\n",
        "[CutData]\n1 \"open\n",
        "[Nowhere]\n1\n",
        "1 before\n",
        "[CutData]\n1 a\n  child\n",
        "[Skins]\n  pair without skin\n",
        "[TShips]\n",             // a table needs its version
        "[Globals 3]\n",          // and only a table has one
        "[TShips 48]\n1 {2 3\n",  // a list without its end
        "[TShips 48]\n1 2}\n",    // an end without its list
        "[TShips 48]\n1 2, 3\n",  // a comma outside a list
        "[Materials]\n*0 1\n",    // a repeat count from 1 up
        "[Materials]\n*x 1\n",
        "[Skins]\n*2 7 camo\n",  // not where records have sub-records
    };
    for (const char* s : sources) {
        std::vector<ToolTypesFile> files;
        std::string error, text;
        bool ok = Tool_ParseTypesSource(s, &files, &error);
        for (const ToolTypesFile& f : files) ok = ok && Tool_TypesText(f, &text, &error);
        EXPECT_FALSE(ok) << s;
        EXPECT_FALSE(error.empty()) << s;
    }
}

TEST(TypesWriter, CommandLineWritesTextAndPackedForms) {
    TempGameFolder game;
    game.Write("scene.types", "[BodyData]\n5 0 -1 3 v\\five\n[LightTypes]\n");
    const char* bin = getenv("TREVAN_BINARY_DIR");
    const std::string tool = std::string(bin ? bin : ".") + "/tools/typeswriter/typeswriter";
    ASSERT_EQ(std::system((tool + " scene.types types 91").c_str()), 0);
    EXPECT_NE(std::system((tool + " missing.types types 2> /dev/null").c_str()), 0);
    const auto text = game.Read("types/BodyData.txt");
    EXPECT_EQ(std::string(text.begin(), text.end()), "1;\n5;0;-1;3;v\\five;\n");
    EXPECT_TRUE(game.Exists("types/LightTypes.txt"));
    void* unpacked = Qel_Unpack("types/BodyData.pck", 1);
    ASSERT_NE(unpacked, nullptr);
    EXPECT_EQ(std::string(static_cast<char*>(unpacked), g_QelLastFileSize), "1;\n5;0;-1;3;v\\five;\n");
    Int_FreeMem(unpacked, g_QelLastFileSize, 0);
}

}  // namespace
