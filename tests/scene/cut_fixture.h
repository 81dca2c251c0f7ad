// Cuts in tests: a body test whose cut files are written from cut sources
// (tools/lib/cutconv) into the temporary game folder, with every cut read
// released at the end; and the cut sources every form of the readers must
// agree on.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "base/table.h"
#include "body_fixture.h"
#include "scene/cutfiles.h"
#include "scene/smallops.h"
#include "tools/lib/cutconv.h"

class CutTest : public BodyTest {
protected:
    void TearDown() override {
        while (uint32_t k = Qel_TableNext(g_B3DState->cutTable, 0))
            J3D_ReleaseCutMemory(reinterpret_cast<J3D_Cut*>(Qel_TableRemove(g_B3DState->cutTable, k)));
        B3D_FreeStringTable(g_B3DState->nameTables[B3D_USED_CUT_FILES]);
        BodyTest::TearDown();
    }
    static std::string CutFile(int id, const char* ext, bool slash = true) {
        char name[32];
        snprintf(name, sizeof name, slash ? "cut/%05d.%s" : "cut\\%05d.%s", id, ext);
        return name;
    }
    void WriteTextCut(int id, const std::string& source) const {
        std::string text, error;
        ASSERT_TRUE(Tool_CutSourceToText(source, &text, &error)) << error;
        folder_->Write(CutFile(id, "bod"), text);
    }
    void WriteBinaryCut(int id, const std::string& source, int version = 6) const {
        std::string error;
        folder_->Write(CutFile(id, "bob"), "");  // makes the folder
        ASSERT_TRUE(Tool_WriteBinaryCut(source, version, CutFile(id, "bob", false).c_str(), &error)) << error;
    }
    // Forgets a cut read (not its bodies).
    static void Unload(int id) {
        J3D_ReleaseCutMemory(reinterpret_cast<J3D_Cut*>(Qel_TableRemove(g_B3DState->cutTable, uint32_t(id))));
    }
    void FreeAllBodies() {
        while (B3DListNode* n = B3D_ListFirst(&g_B3DState->bodies)) B3D_FreeBody(reinterpret_cast<Body3D*>(n));
    }
};

// A small model for embedded bodies.
inline std::string TriangleBody(const std::string& name) {
    return "    name " + name + "\n    v 0 0 0\n    v 1 0 0\n    v 0 1 0\n    f 1 2 3\n";
}

// The cut a take plays: a camera path (-1), a coloured light path (2953) and
// two body paths, one with an embedded body.
inline const std::string& TakeCutSource() {
    static const std::string source =
        "path 0 -1\n"
        "  name camera\n"
        "  key 0x800 2000 0 0 -65536 0 0 0 0.25\n"
        "  key 0x800 2000 0 0 -131072 0.125 0 0 0.3\n"
        "  key 0x800 -1 65536 0 -131072 0.25 0 0 0.35\n"
        "path 1 2953\n"
        "  name lamp\n"
        "  key 0x200 2000 0 65536 0 1 0.5 0.25\n"
        "  key 0x200 -1 0 65536 65536 0.5 0.5 0.5\n"
        "path 2 12\n"
        "  name ship\n"
        "  note 0 event start\n"
        "  note 4000 event end\n"
        "  key 0x4002 2000 0 0 0 0 0 0 0 0 0.25 0 1 0\n"
        "  key 0x4002 2000 65536 0 0 0.5 0 0 0 0 0.25 0 1 0\n"
        "  key 0x2002 -1 131072 0 0 0.5 1 0 0\n"
        "path 3 5\n"
        "  name crate\n"
        "  flags c s\n"
        "  constraint 1 0.5\n"
        "  body 5\n" +
        TriangleBody("crate") +
        "  endbody\n"
        "  key 0x0 1000 0 65536 0 0 0 0\n"
        "  key 0x0 -1 0 0 0 0 0 0\n";
    return source;
}

// Sources the two forms must read alike (all with numeric references, so
// version 5 binaries can hold them too).
inline std::vector<std::string> CutFixtures() {
    return {
        TakeCutSource(),
        // Target and roll keys, spline positions and rotations, every kind of track.
        "path 7 30\n"
        "  value1 3\n"
        "  value2 9\n"
        "  flags l f p b\n"
        "  note 10 camera main\n"
        "  note 20\n"
        "  key 0xc008 500 1 2 3 0.1 0.2 0.3 0.4 0.5 10 20 30 0.125\n"
        "  key 0x8048 500 4 5 6 0.25\n"
        "  key 0x8022 500 7 8 9\n"
        "  key 0x1a10 500 0 0 0\n"
        "  key 0x0a12 500 0.5 0 0 1 1 1 1 0.75\n"
        "path 8 31\n"
        "  flags ld\n"
        "  constraint 4 -2.5\n"
        "  constraint 5 0.25\n",
        // A path with nothing but its reference.
        "path 0 44\n",
    };
}
