// fuzz_seeds OUTPUT: writes the seed corpus of every fuzz target into
// OUTPUT/<target>/, each file made by the project's own writers (catalog and
// packed-file writers, the data-file writer, the markup writer and the value
// export, the story assembler, the save sections, the text save file) or
// built field by field here. The same run writes the same bytes.
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "base/file.h"
#include "base/general.h"
#include "base/standin_calls.h"
#include "base/markup.h"
#include "base/memory.h"
#include "base/strings.h"
#include "base/texanim.h"
#include "base/texcache.h"
#include "base/vrmfile.h"
#include "fuzz/harness/harness.h"
#include "fuzz/harness/sceneprogram.h"
#include "fuzz/harness/story.h"
#include "script/arrays.h"
#include "script/loader.h"
#include "script/lookup.h"
#include "script/savegame.h"
#include "script/tasks.h"
#include "script/textfiles.h"
#include "script/textpages.h"
#include "script/valuexml.h"
#include "scene/allocs.h"
#include "scene/names.h"
#include "scene/pools.h"
#include "scene/recorder.h"
#include "scene/savesection.h"
#include "scene/smallops.h"
#include "scene/state.h"
#include "scene/takes.h"
#include "scene/texdraw.h"
#include "scene/trees.h"
#include "script/values.h"
#include "system/timer.h"
#include "cockpit/galaxy.h"
#include "cockpit/save.h"
#include "program/gamesound.h"
#include "program/movies.h"
#include "scene/framedraw.h"
#include "scene/replay.h"
#include "scene/startup.h"
#include "fuzz/harness/spaceworld.h"
#include "scene/state.h"
#include "scene/trees.h"
#include "space/create.h"
#include "space/cutscene.h"
#include "space/objects.h"
#include "space/save.h"
#include "space/typesdb.h"
#include "tools/lib/bodyconv.h"
#include "tools/lib/catalog_writer.h"
#include "tools/lib/cutconv.h"
#include "tools/lib/packed_writer.h"
#include "tests/support/galaxy_reference.h"
#include "tests/support/imagefixtures.h"
#include "tools/lib/media_fixtures.h"
#include "tools/lib/types_writer.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

fs::path s_out;
int s_written = 0;

void Seed(const std::string& target, const std::string& name, const Bytes& bytes) {
    fs::path dir = s_out / target;
    fs::create_directories(dir);
    std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out.good()) {
        std::fprintf(stderr, "fuzz_seeds: cannot write %s\n", (dir / name).c_str());
        std::exit(1);
    }
    ++s_written;
}

Bytes Of(const std::string& s) { return Bytes(s.begin(), s.end()); }

// The two-part form of fuzz/harness/harness.h.
Bytes Split(const Bytes& first, const Bytes& rest) {
    Bytes b{uint8_t(first.size() & 0xFF), uint8_t(first.size() >> 8)};
    b.insert(b.end(), first.begin(), first.end());
    b.insert(b.end(), rest.begin(), rest.end());
    return b;
}

// A gzip stream of the engine's file layer read back whole.
Bytes ReadGz(const char* name) {
    Bytes out;
    QelFile* f = Qel_fcopen(name, "rb", 0);
    if (!f) return out;
    uint8_t chunk[4096];
    for (size_t got; (got = Qel_fread(f, 1, sizeof chunk, chunk)) > 0;) out.insert(out.end(), chunk, chunk + got);
    Qel_fclose(f);
    return out;
}

Bytes ReadFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Catalogs() {
    struct Set {
        const char* name;
        std::vector<ToolCatalogMember> members;
    };
    const Set sets[] = {
        {"two", {{"a.txt", Of("alpha")}, {"Sub\\B.TXT", Of("second member")}}},
        {"slashes", {{"dir/x.bin", Bytes(40, 7)}, {"dir/y.bin", {}}, {"z", Of("z")}}},
        {"one", {{"story.obj", Fuzz_StoryImage()}}},
    };
    for (const Set& s : sets) {
        Bytes data;
        for (const ToolCatalogMember& m : s.members) data.insert(data.end(), m.data.begin(), m.data.end());
        Tool_ScrambleMember(data);
        Seed("catalog", s.name, Split(Of(Tool_CatalogIndexText(s.members, "fuzz catalog")), data));
    }
}

void Packed() {
    Bytes text = Of("packed file text, packed file text, packed file text\n");
    Bytes ramp;
    for (int i = 0; i < 3000; ++i) ramp.push_back(uint8_t(i * 7 ^ i >> 3));
    Seed("packed", "text", Tool_Pack(text, 0x21));
    Seed("packed", "stored", Tool_Pack(text, 0x00, 0));
    Seed("packed", "ramp", Tool_Pack(ramp, 0x9C, 6));
    Seed("packed", "empty", Tool_Pack({}, 0x55));
}

// One data file written by the engine's writer; the read sequence mirrors the writes.
void DataFile(const char* name, int binary, int packed) {
    const char* file = "seed.vrm";
    VRMFile* w = Qel_StreamCreate(file, 0, packed, binary, g_VRMBodyTags, 18);
    if (!w || w->error) {
        std::fprintf(stderr, "fuzz_seeds: the data-file writer failed\n");
        std::exit(1);
    }
    static const VRMNameValue kFlags[] = {{"BIT_A", 1}, {"BIT_B", 2}, {"BIT_C", 0x100}, {"", 0}};
    w->WriteTag(1, 1);
    w->WriteInt(-12345, ";\n");
    w->WriteShort(321, ";\n");
    w->WriteUInt(4000000000u, ";\n");
    w->WriteString("a name", ";\n");
    w->WriteFlags(0x103, kFlags, ";\n");
    w->WriteFixed(0x18000, ";\n");
    w->WriteSceneType(2, ";\n");
    w->WriteHex(0xBEEF, 4, ";\n");
    w->WriteTag(1, 0);
    Qel_CloseFileBuffer(w);
    Bytes bytes = ReadFile(file);
    // Reads: tag, int, short, uint, string, flags32, fixed, enum, flags16, tag.
    Bytes ops{uint8_t(binary | packed << 1), 10 + 14 * 1, 2, 1, 3, 9, 5, 8, 0, 4, 10 + 14 * 1, 12};
    Seed("vrmfile", name, Split(ops, bytes));
}

void DataFiles() {
    DataFile("text", 0, 0);
    DataFile("binary", 1, 0);
    DataFile("binary-packed", 1, 1);
}

void Markup(SE_Context* ctx) {
    // Values exported as markup.
    ScriptValue values[4]{};
    SV_AssignInt(&values[0], -42);
    SV_AssignDString(&values[1], "text & <markup>", 15);
    SV_AssignFloat(&values[2], 2.75);
    SV_ArrayAlloc(&values[3], 0);
    SV_ArrayWriteInt(&values[3], 0, 5);
    SV_ArrayWriteString(&values[3], 1, "in an array");
    SV_ArrayWrite(&values[3], 2, &values[2]);
    const char* names[] = {"int", "text", "float", "array"};
    for (int i = 0; i < 4; ++i) {
        XmlNode* tree = SV_XMLExport(&values[i]);
        char* text = tree ? Qel_XmlWriteNode(tree) : nullptr;
        if (text) Seed("markup", std::string("value-") + names[i], Of(text));
        Qel_XmlFreeString(text);
        Qel_XmlFreeNode(tree);
        SV_Release(&values[i]);
    }
    // An object's variables.
    if (StoryInstance* o = SB_FindObject(ctx, 5)) {
        char* text = SV_XMLExportObject(ctx, o);
        if (text) Seed("markup", "object", Of(text));
        Qel_XmlFreeString(text);
    }
    // Text pages, with every node kind and attributes, built as a tree.
    XmlNode* root = Qel_XmlNewNode(XML_ELEMENT);
    Qel_XmlSetString(&root->text, "texts");
    auto element = [](XmlNode* parent, const char* name, const char* id) {
        XmlNode* e = Qel_XmlNewNode(XML_ELEMENT);
        Qel_XmlSetString(&e->text, name);
        if (id) {
            XmlListItem* a = Qel_XmlNewListItem();
            Qel_XmlSetString(&a->name, "id");
            Qel_XmlSetString(&a->value, id);
            Qel_XmlAppendAttribute(e, a);
        }
        Qel_XmlAppendChild(parent, e);
        return e;
    };
    auto leaf = [](XmlNode* parent, int32_t kind, const char* text) {
        XmlNode* n = Qel_XmlNewNode(kind);
        Qel_XmlSetString(&n->text, text);
        Qel_XmlAppendChild(parent, n);
    };
    leaf(root, XML_PI, "xml version=\"1.0\"");
    leaf(root, XML_COMMENT, " language 44 ");
    XmlNode* lang = element(root, "lang", "44");
    XmlNode* page = element(lang, "page", "17");
    leaf(element(page, "t", "1"), XML_TEXT, "first \"text\" & more");
    leaf(element(page, "t", "2"), XML_TEXT, "second {17,1}\\n");
    leaf(element(element(lang, "page", "300002"), "t", "3"), XML_TEXT, "moved page");
    char* text = Qel_XmlWriteNode(root);
    if (text) Seed("markup", "texts", Of(std::string("<ROOT>") + text + "</ROOT>"));
    if (text) Seed("markup", "texts-bare", Of(text));
    Qel_XmlFreeString(text);
    Qel_XmlFreeNode(root);
}

void Regex() {
    struct Case {
        const char* name;
        uint8_t destSize;
        const char* pattern;
        const char* subject;
        const char* templ;
    };
    const Case cases[] = {
        {"groups", 16, "([a-z]+)-([0-9]*)", "key abc-123 end", "\\2:\\1&"},
        {"anchors", 4, "^a.*z$", "abcz", "<&>"},
        {"sets", 23, "[^ \t]+[0-9A-F]?|x*", "  word7 tail", "[\\0]\\\\\\&"},
        {"alternation", 2, "(ab|cd)+e?", "xxababcde", "\\1\\1\\1"},
        {"nested", 9, "((a*)b)*c", "aabab c", "\\2\\3\\9"},
    };
    for (const Case& c : cases) {
        std::string s(1, char(c.destSize));
        s += c.pattern;
        s += '\0';
        s += c.subject;
        s += '\0';
        s += c.templ;
        Seed("regex", c.name, Of(s));
    }
}

// Built-in calls of strings, arrays, tables, expressions and regular
// expressions, for the fuzzer to vary.
const char* const kBuiltinsStory = R"(
.global
.var "R" zero
.func "Main" need 32
    pushs "hello"
    c1
    sysl "SE_StringLen"
    pop
    pushw 5
    pushs "%d-%s"
    c2
    sysl "SE_SPrintf"
    pop
    pushw 3
    c1
    sysl "SE_ArrayAlloc"
    setg 0
    pop
    c0
    sysl "SE_TableAlloc"
    pop
    pushs "(a+)b"
    c1
    sysl "SE_RegComp"
    dup
    pushs "xaab"
    getl 2
    c2
    sysl "SE_RegExec"
    pop
    c1
    sysl "SE_RegFree"
    pop
    pushs "{17,1}"
    c1
    sysl "SE_ConvertFormatString"
    ret
)";

void Stories() {
    Seed("story", "fuzz", Fuzz_StoryImage());
    std::string scrambled = std::string(".scramble\n") + kFuzzStoryText;
    Seed("story", "scrambled", Fuzz_StoryImage(scrambled));
    Seed("story", "patched", Fuzz_StoryImage(std::string(".patch 900 0:2 15:19\n") + kFuzzStoryText));
    Seed("story", "builtins", Fuzz_StoryImage(kBuiltinsStory));
    Seed("story", "calls", Fuzz_StoryImage(R"(
.global
.var "T" zero
.func "Main" need 16
    pushw 3
    pushw 4
    c2
    call "Sum"
    setg 0
    pop
    c0
    sysl "F_Now"
    pop
    pushs "abc"
    c0
    case
    jtab one, two
one: c1
    ret
two: c2
    ret
.func "Sum" need 4
    getl 4
    getl 6
    add
    ret
)"));
}

void SaveSections(SE_Context* ctx) {
    std::vector<uint8_t> image = Fuzz_StoryImage();
    Fuzz_WriteFile("L/fuzz.obj", image.data(), image.size());
    if (!SB_LoadLocation(ctx, "fuzz")) {
        std::fprintf(stderr, "fuzz_seeds: the story did not load\n");
        std::exit(1);
    }
    auto save = [&](const char* name) {
        QelFile* f = Qel_fcopen("save.gz", "wb", 0);
        int ok = f && SB_SaveGame(f);
        if (f) Qel_fclose(f);
        if (ok) Seed("savegame", name, ReadGz("save.gz"));
    };
    save("loaded");
    const int32_t args[1] = {0};
    SE_RunIntArgs(ctx, 2, 0, 0, "Main", 1, 0, args);
    save("waiting");
    SE_RunIntArgs(ctx, 2, 0, 0, "Text", 1, 0, args);
    SE_RunIntArgs(ctx, 2, 0, 0, "Main", 1, 0, args);
    save("two-waiting");
    SB_FreeLocation(ctx);
    Fuzz_ForgetLater();
}

Bytes Words(std::initializer_list<uint32_t> words) {
    Bytes b;
    for (uint32_t w : words)
        for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<uint8_t>(w >> shift));
    return b;
}
Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes b;
    for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
    return b;
}

// The game sound's section as it writes it (no channel waits), and one with
// two waiting channels, one of them on a module no one registered.
void SoundSections() {
    QelFile* f = Qel_fcopen("sfx.gz", "wb", 0);
    int ok = f && SFX_SaveGame(f);
    if (f) Qel_fclose(f);
    if (ok) Seed("sfxsave", "idle", ReadGz("sfx.gz"));
    Bytes waiting = Of("SFX ");
    for (int c = 0; c <= 32; ++c) {
        Bytes channel = c == 0 ? Words({5, 2, 1}) : c == 7 ? Words({3, 77, 9}) : Words({0, 0, 0});
        waiting.insert(waiting.end(), channel.begin(), channel.end());
    }
    Seed("sfxsave", "waiting", waiting);
}

// The movies' section as it writes it without movies, and one naming a
// movie with a texture and a voice file.
void MovieSections() {
    QelFile* f = Qel_fcopen("movi.gz", "wb", 0);
    int ok = f && MOV_SaveGame(f);
    if (f) Qel_fclose(f);
    if (ok) Seed("movisave", "empty", ReadGz("movi.gz"));
    Seed("movisave", "movie-and-voice",
         Cat({Of("MOVI"), Words({1, 120, 3, 2, 0, 0, 0x1, 5, 44, 1, 0}), Words({1, 44}), Of("/MOV")}));
}

// The gate grid's section as it saves an empty grid and two networks, and
// one network whose positions are at the ends of the 32-bit range.
void GalaxySections() {
    auto save = [] {
        QelFile* f = Qel_fcopen("gala.gz", "wb", 0);
        int ok = f && GS_SaveGame(f);
        if (f) Qel_fclose(f);
        return ok ? ReadGz("gala.gz") : Bytes();
    };
    GS_ClearGalaxy(g_GalaxyGrid);
    Seed("galaxysave", "empty", save());
    galaxy_reference::BuildNetwork(g_GalaxyGrid, {3, 0.7, 80, 20, 300});
    Seed("galaxysave", "network", save());
    Bytes wide = save();
    for (size_t at = 4 + 16; at + 32 <= wide.size(); at += 32 * 7)
        for (size_t w = 0; w < 3; ++w)
            for (size_t i = 0; i < 4; ++i) wide[at + 4 * w + i] = w == 1 ? 0x80 * (i == 0) : 0xFF >> (i == 0);
    Seed("galaxysave", "wide-positions", wide);
    GS_ClearGalaxy(g_GalaxyGrid);
    galaxy_reference::BuildNetwork(g_GalaxyGrid, {4, 0.5, 200, 60, 100});
    Seed("galaxysave", "doubled-pairs", save());
    GS_ClearGalaxy(g_GalaxyGrid);
}

// Call sequences of the gate grid's target (fuzz/galaxycalls.cpp): pairs of
// gates along a row and routes over them, gates one way, places outside the
// grid, and saves and loads between.
void GalaxyCalls() {
    Bytes row;
    for (uint8_t c = 0; c < 6; ++c) {
        // Two pairs between 2-c and 2-(c+1): gates 0 and 1 of a sector lead
        // east, its gates 2 and 3 west.
        for (const Bytes& pair : {Bytes{5, 2, c, 0, 2, uint8_t(c + 1), 2, 0, 30, uint8_t(-4), 2},
                                  Bytes{5, 2, c, 1, 2, uint8_t(c + 1), 3, 0, 10, 40, 0}})
            row.insert(row.end(), pair.begin(), pair.end());
    }
    for (uint8_t from = 0; from < 6; ++from) {
        const Bytes ask = {0, 2, from, 2, 6, 1, 2, from, 2, 6, 2, 2, 6, 2, from};
        row.insert(row.end(), ask.begin(), ask.end());
    }
    Seed("galaxycalls", "pairs-in-a-row", row);
    Bytes saves = row;
    for (const Bytes& step : {Bytes{7}, Bytes{0, 2, 0, 2, 6}, Bytes{8, 0x40, 0x00, 0xFF, 0},
                              Bytes{8, 0xFF, 0xFF, 0x2F, 1}, Bytes{8, 0, 0, 'X', 0}, Bytes{0, 2, 0, 2, 6},
                              Bytes{4, 2, 3, 4}, Bytes{1, 2, 0, 2, 6}, Bytes{9}, Bytes{2, 2, 0, 2, 6}})
        saves.insert(saves.end(), step.begin(), step.end());
    Seed("galaxycalls", "saves-and-loads", saves);
    Seed(
        "galaxycalls", "outside",
        Bytes{3, 0xF0, 0, 0,    1, 1, 1, 0, 1,    1, 1, 3, 0,    0, 0xF1, 1, 1,    1, 1, 1, 1, 1, 4, 0xF7, 0, 0, 4, 0,
              0, 0xF3, 0, 0xF1, 0, 1, 1, 1, 0xF6, 0, 2, 0, 0xF5, 6, 0x11, 6, 0x20, 5, 1, 1, 1, 1, 1, 1,    1, 9, 9, 9});
    Seed("galaxycalls", "one-way-and-odd-positions",
         Bytes{3, 4, 4, 0, 4, 5, 0, 0, 1, 2, 3, 3, 4, 5, 0, 4, 4, 0, 1, 5, 5, 5, 3, 4, 5, 1, 4, 6, 0,
               2, 0, 0, 0, 3, 4, 6, 1, 4, 5, 1, 3, 0, 0, 0, 0, 4, 4, 4, 5, 0, 4, 6, 1, 4, 5, 2, 4, 4});
}

// Call sequences of the display target (fuzz/panelcalls.cpp).
void PanelCalls() {
    // Two cockpits; the message display, the map and a tooltip opened by
    // calls 31, 18 and 126, frames with the frame jobs running and done, the
    // camera message box, the target bodies off, a message with a duration,
    // a save and load, the clock near its wrap, a tooltip, a cockpit freed.
    Seed("panelcalls", "displays-open-loop-close",
         {0, 0, 2, 2, 0,  2, 5, 2,   1,  0,   2, 7, 2, 6, 0,  5,  2, 5,  2, 2, 5,    80,
          6, 0, 2, 5, 10, 6, 0, 0,   5,  100, 2, 0, 0, 2, 5,  2,  4, 0,  2, 0, 0xF0, 2,
          3, 0, 3, 5, 2,  8, 5, 255, 10, 3,   3, 0, 1, 2, 10, 10, 5, 50, 1, 0, 5,    20});
    // Lasers and shields run low (the story frees cockpit 1 when told), the
    // docking marker, speeds, the time warp, a top speed near the limit and
    // the current missile, with frames between.
    Seed("panelcalls", "status-panel-low-and-freed",
         {0, 0, 9, 3, 1, 0,  9, 0, 10, 50, 9, 5, 4, 0, 2, 5,  0, 4, 2, 3, 2,   5, 40, 9, 1, 0, 1, 5, 40,
          9, 2, 0, 1, 5, 40, 9, 7, 1,  5,  9, 6, 1, 1, 5, 40, 0, 9, 1, 0, 200, 5, 40, 9, 1, 0, 1, 5, 40});
    // The scene engine frees a display's instances and a cockpit's scenes
    // while the displays are open; clears and saves between.
    Seed("panelcalls", "scene-frees-displays",
         {0, 2, 2, 0, 2,    5, 2, 1, 0, 2,  7, 3, 0, 1, 2,  0, 0,  7, 0,  1, 7, 0, 0, 5, 90, 7, 0, 2, 2,
          4, 0, 2, 0, 0xF0, 7, 0, 4, 5, 90, 7, 0, 3, 5, 90, 8, 11, 5, 10, 0, 2, 2, 0, 2, 5,  8, 5, 90});
}

// Call sequences of the type query target (fuzz/typecalls.cpp): every call
// once on the first ship, a background appended and read back around a
// reload, and ship tables whose counts no types file would give.
void TypeCalls() {
    Bytes every;
    for (uint8_t n = 0; n < 100; ++n) {
        const Bytes call = {0, n, 3, 1, 8, 0, 0, 0, 1};
        every.insert(every.end(), call.begin(), call.end());
    }
    Seed("typecalls", "every-call", every);
    // Subtype 2 (the count) with 3 stars, 16 nebulas and 8 outer parts.
    Bytes bg = {4,  3, 3,    2,    4,    17,   9, 8,           4, 8,   1, 2,   3, 4,  5, 6,    7,    8,    0,
                40, 2, 0x00, 0x10, 0x20, 0x30, 0, uint8_t(-5), 0, 100, 0, 120, 0, 60, 2, 0xFF, 0x00, 0x80, 0x01};
    for (uint8_t n = 84; n < 100; ++n) {
        if (n == 98) continue;  // call 228 itself
        const Bytes query = {0, n, 2, 0, 2, 0, 1};
        bg.insert(bg.end(), query.begin(), query.end());
    }
    Bytes reload = bg;
    reload.push_back(6);
    reload.insert(reload.end(), bg.begin() + 38, bg.end());
    reload.push_back(7);
    Seed("typecalls", "background-and-reload", reload);
    // Cockpit and turret counts of 100 and -2, then the ship table calls.
    Bytes tables = {5, 7, 0, 0x00, 0x00, 0x00, 0x00, 0x64, 5, 7, 0, 0x01, 0xFF, 0xFF, 0xFF, 0xFE};
    for (uint8_t n = 35; n < 48; ++n)
        for (uint8_t arg : {uint8_t(0), uint8_t(9), uint8_t(0xF0)}) {
            const Bytes call = {0, n, 2, 0, 0, 0, arg};
            tables.insert(tables.end(), call.begin(), call.end());
        }
    Seed("typecalls", "odd-ship-tables", tables);
}

// Call sequences of the cockpit target (fuzz/cockpitcalls.cpp): a ship in a
// sector steered from its cockpit, the ship freed while cockpits hold it, a
// turret cockpit freed between frames, and saves and loads between.
void CockpitCalls() {
    // A sector, a ship with an instance inside it, two cockpits.
    const Bytes world = {2, 2, 0xFF, 2, 4, 0, 0, 0};
    // Cockpit 0 looks out of the ship (picks: cockpit 0, object 1), is the
    // active control cockpit and steers it.
    const Bytes control = {4, 0, 1, 1, 4, 0, 0, 1, 5, 0, 4, 0, 5, 0, 0, 1};
    // A frame with the stick right, the lever back, a key and the mouse.
    const Bytes frame = {8, 0xFF, 0x03, 0x14, 0x00, 0x40, 0x00, 0x20, 0xFF, 0x7F, 4, 0x05, 0x00,
                         1, 10,   0xF6, 1,    1,    30,   0,    31,   0,    40,   0, 0x20};
    Bytes steer = world;
    for (const Bytes& part : {control, frame, frame, frame}) steer.insert(steer.end(), part.begin(), part.end());
    Seed("cockpitcalls", "steer-a-ship", steer);

    // The ship is freed while cockpits hold it; the cockpit of a ship, a hit.
    Bytes gone = steer;
    for (const Bytes& part : {Bytes{4, 1, 3, 1, 4, 1, 4, 1, 5, 1, 2, 0, 6, 1, 150, 0, 7, 1, 3, 1}, frame, Bytes{11, 0}})
        gone.insert(gone.end(), part.begin(), part.end());
    Seed("cockpitcalls", "free-what-cockpits-hold", gone);

    // A turret cockpit (cockpit number 1, view mode 1) freed between frames,
    // saves and loads, engine calls and bindings.
    Bytes turret = world;
    for (const Bytes& part : {control, Bytes{5, 0, 1, 1, 5, 0, 0, 1}, frame, Bytes{1, 0}, frame, Bytes{10, 0, 10},
                              Bytes{9, 71, 0, 9, 75, 0xF3, 9, 0xE5, 0, 9, 12, 0}, Bytes{13, 5, 8, 0, 13, 6, 11, 0},
                              frame, Bytes{12}, frame})
        turret.insert(turret.end(), part.begin(), part.end());
    Seed("cockpitcalls", "turret-freed-saves-and-calls", turret);

    // Engine calls with their arguments on the cockpits, a story camera set
    // as the sector camera, frames of the cockpits' update, and the scene
    // engine freeing the camera and a cockpit's own scene between them.
    Bytes frames = world;
    for (const Bytes& part :
         {control, Bytes{9, 12, 0, 2, 1, 1, 9, 13, 0, 2, 1, 1, 9, 11, 0, 2, 1, 0, 15, 0, 9, 5, 0, 2, 2, 0},
          Bytes{9, 33, 0, 2, 5, 9, 23, 0, 3, 5, 5, 9, 20, 0, 4, 3, 5, 5, 9, 41, 0, 2, 1, 1, 14, 8, 14, 20},
          Bytes{15, 2, 0, 14, 30, 15, 1, 0, 14, 40, 9, 2, 0, 1, 9, 8, 0, 1, 15, 3, 1, 14, 200, 10, 9, 0, 0, 0}})
        frames.insert(frames.end(), part.begin(), part.end());
    Seed("cockpitcalls", "calls-frames-and-freed-scenes", frames);

    // An icon menu whose ID is the cockpit's (kind byte 8 passes the picked
    // cockpit): item 0, item 1 with eight icons, and a nested run of items 2
    // and 3 under item 1; its sub-menu opened and closed, flags set, a save
    // and load, the menu made again and removed, the cockpit freed.
    Bytes menu = {0, 9, 107, 0, 12, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8,    5, 4,  2, 0, 0,    0, 10, 0x12,
                  1, 0, 0,   8, 1,  2, 3, 4, 5, 6, 7, 8, 2, 2, 0x40, 0, 10, 2, 3, 0x80, 0, 10};
    const Bytes menuCalls = {9, 117,  0,    3, 8,    8, 9,   114, 0, 3,   8,   8,  9, 115, 0,    5,   8,
                             8, 0x0E, 0x0F, 9, 118,  0, 3,   8,   8, 9,   119, 0,  2, 8,   9,    112, 0,
                             5, 8,    8,    6, 0x0F, 9, 120, 0,   3, 6,   6,   14, 5, 10,  9,    109, 0,
                             3, 8,    8,    9, 108,  0, 2,   8,   9, 111, 0,   4,  8, 8,   0x0E, 1,   0};
    menu.insert(menu.end(), menuCalls.begin(), menuCalls.end());
    Seed("cockpitcalls", "icon-menus", menu);

    // The HUD: texts on the ticker (one through call 20, whose task waits),
    // frames that scroll them out, a missile aimed at the ship with the
    // alerts, a known object told to the story while the scanner list is
    // built, the radar and target panel, symbols, and a save and load with a
    // text still queued.
    Bytes hud = world;
    for (const Bytes& part :
         {control, Bytes{4, 0, 3, 0, 0xF8, 0, 0x08, 10, 9, 20, 0, 4, 3, 5, 5, 14, 40},
          Bytes{0xF9, 1, 0x0F, 1, 0xF9, 1, 0x04, 0, 0xFA, 0, 1, 5, 3, 0, 0xFA, 0, 0, 0, 1, 1},
          Bytes{0xFB, 0, 7, 0, 10, 20, 5, 0x00, 0x10, 0x04, 0xFB, 1, 5, 0, 30, 2, 30, 0x0A, 0x01, 0x00},
          Bytes{14, 200, 14, 200, 0xF8, 1, 0x0E, 0, 9, 20, 1, 4, 3, 5, 5, 10, 14, 200, 9, 19, 0, 2, 3, 12}})
        hud.insert(hud.end(), part.begin(), part.end());
    Seed("cockpitcalls", "hud-texts-alerts-and-radar", hud);
}

// Call sequences of the map and dust target (fuzz/mapcalls.cpp): a map
// built, updated, searched, cleared and built again; dust filled and moved
// through a cockpit's frames with saves, resets and the sector freed; a
// story that calls the map while it is asked, and the map's scene freed.
void MapCalls() {
    const Bytes scene = {0, 0x20, 0x80};
    const Bytes build = {2, 0, 0, 0, 0, 1, 0x00, 0x04, 0x00, 0x40};
    Bytes map = scene;
    for (const Bytes& part : {Bytes{9, 1}, build, Bytes{4, 0, 0, 0, 0, 0}, Bytes{2, 0, 1, 1, 2, 2, 0, 1, 0, 1},
                              Bytes{3, 0}, build, Bytes{7, 5}})
        map.insert(map.end(), part.begin(), part.end());
    Seed("mapcalls", "build-update-clear", map);

    Bytes dust = {13};
    for (const Bytes& part : {scene, scene, Bytes{5, 1, 10, 0, 5, 10, 2, 3, 10, 3, 0, 10, 1, 50, 6, 1, 0, 0},
                              Bytes{11, 1, 0, 7, 10, 7, 200, 8, 7, 10, 12, 7, 10, 13, 6, 1, 0, 0}})
        dust.insert(dust.end(), part.begin(), part.end());
    Seed("mapcalls", "dust-and-cockpit", dust);

    Bytes story = scene;
    for (const Bytes& part : {Bytes{9, 0x30}, build, Bytes{9, 0x45, 3, 0}, build, Bytes{1, 0}, build, scene,
                              Bytes{2, 1, 0, 0, 0, 1, 0, 4, 0, 64, 8, 2, 1, 0, 0, 0, 1, 0, 4, 0, 64, 4, 1, 0, 0, 0, 0}})
        story.insert(story.end(), part.begin(), part.end());
    Seed("mapcalls", "reentrant-story-and-freed-scenes", story);
}

// Call sequences of the menu target (fuzz/menucalls.cpp): a menu with a
// nested run moused over, opened by itself and chosen, saved and loaded, a
// one-shot menu of the same ID whose story frees the cockpit; and tracking
// stepped through the overlay, locked, its object freed.
void MenuCalls() {
    // A cockpit flying a ship, an enemy ship and a missile.
    const Bytes world = {0, 2, 0, 2, 0x0C, 2, 0x0E};
    // Menu 1 for object 301, closing on leave: items 0 and 1, the run of 2
    // and 3 (3 with its side slots) under item 1.
    Bytes menus = world;
    for (const Bytes& part :
         {Bytes{4, 0, 1, 2, 0x08, 0, 4, 0, 0x01, 0, 0, 1, 0x01, 0, 4, 2, 0x81, 0, 0, 3, 0x01, 1, 0},
          Bytes{9, 0, 5, 5, 16, 0, 0, 0, 0, 0, 0, 9, 0, 40, 5, 17, 0, 1, 1, 26, 0, 0, 5, 16, 0, 1, 1, 127, 0, 0},
          Bytes{11, 10, 3, 5, 18, 0, 1, 0, 0, 0, 0},
          Bytes{4, 0, 1, 4, 0x18, 1, 2, 0, 0x01, 0, 0, 1, 0x01, 0, 8, 9, 0, 5, 5, 17, 0, 1, 0, 0, 0, 0, 10, 5}})
        menus.insert(menus.end(), part.begin(), part.end());
    Seed("menucalls", "menus-moused-and-freed", menus);

    // The overlay shows the three objects (the ship hidden); tracking
    // stepped on and back by mode, locked (the story locks again), the
    // locked object freed, a frame, a save and load, another step.
    Bytes tracking = world;
    for (const Bytes& part : {Bytes{8, 0, 3, 0, 50, 0, 1, 30, 1, 2, 30, 1}, Bytes{7, 0, 1, 0, 7, 0, 0, 1, 7, 0, 1, 2},
                              Bytes{6, 0, 3, 1, 3, 1, 10, 4, 11, 7, 0, 1, 0, 6, 0, 0, 0}})
        tracking.insert(tracking.end(), part.begin(), part.end());
    Seed("menucalls", "tracking-stepped-and-freed", tracking);
}

// A step sequence of the overlay target (fuzz/overlaysteps.cpp): a cockpit
// over a foe, a planet and a missile, its overlay filled and bracketed,
// tracking stepped and hit-tested, the foe killed and the missile freed
// between frames, the camera's field of view and viewport changed, a save
// and load, the camera freed, the cockpit freed.
void OverlaySteps() {
    const Bytes steps = {0,  2, 4, 10, 0,    50,  2, 1, 0xF6, 0, 100, 2, 2, 0, 5, 30, 6, 0, 5, 0, 3, 1, 6, 0, 8, 10,
                         7,  0, 1, 0,  107,  120, 7, 0, 1,    0, 0,   0, 4, 1, 1, 7,  0, 1, 0, 0, 0, 8, 5, 5, 0, 4,
                         16, 5, 0, 5,  0x40, 6,   0, 9, 0,    6, 0,   8, 2, 9, 1, 8,  3, 4, 0, 3, 6, 0, 1, 0, 8, 1};
    Seed("overlaysteps", "overlay-stepped-killed-and-saved", steps);
}

// A step sequence of the HUD's markers (fuzz/hudmarkers.cpp): a cockpit over
// a ship, a dock and a hostile ship; the hostile one tracked, turret 1 on the
// ship and turret 2 on a point, a docking order to the dock; the markers
// drawn, a 3D symbol and a type's symbol, a frame, the target killed, a save
// and load, the markers hidden by the HUD info, the camera freed, the cockpit
// freed.
void HudMarkers() {
    const Bytes steps = {0,  2, 0, 10, 0, 100, 2, 1, 0xEC, 5,  80, 2,    0x40, 0, 0,  60, 5, 0, 6, 3, 0,    5,
                         0,  7, 1, 1,  0, 0,   0, 5, 0,    7,  0,  0x11, 5,    5, 50, 5,  0, 8, 2, 1, 0xEC, 5,
                         80, 6, 0, 0,  7, 3,   0, 3, 32,   32, 10, 0xFF, 0,    0, 7,  2,  1, 0, 7, 0, 20,   20,
                         2,  1, 8, 10, 4, 1,   3, 6, 0,    0,  9,  0,    6,    0, 3,  9,  1, 6, 0, 0, 1,    0};
    Seed("hudmarkers", "markers-drawn-killed-and-saved", steps);
}

// A step sequence of the HUD steps' target (fuzz/hudsteps.cpp): two
// cockpits, a ship type with a cockpit body and a grid body, the grid
// switched on, a foe in view, frames with the target bodies off and the ship
// docked, the sector camera moved and turned, the grid's instance and a
// cockpit's scene freed by the scene engine, a save and load, the grid off.
void HudSteps() {
    const Bytes steps = {0, 0,  4, 0, 4, 1, 4, 0,  5, 2, 4, 0, 0,  1, 2, 1,   4, 8, 6, 10, 4, 0,  1, 0,
                         6, 10, 4, 0, 6, 1, 6, 10, 4, 0, 6, 0, 7,  1, 9, 130, 3, 7, 2, 64, 0, 0,  6, 10,
                         5, 0,  1, 8, 0, 0, 6, 10, 8, 1, 3, 6, 10, 9, 6, 10,  4, 0, 0, 0,  6, 10, 1, 1};
    Seed("hudsteps", "grid-body-and-markers-stepped-and-saved", steps);
}

// Movies and soundtracks made by the media fixtures, behind the byte that
// picks the name and the open flags (fuzz/movie.cpp).
void MovieFiles() {
    struct Set {
        const char* name;
        uint8_t pick;
        MediaMovieSpec spec;
    };
    const Set sets[] = {
        {"movie", 0x00, {16, 16, 4, 25, true, 22050, 1, false}},
        {"movie-streamed-sound", 0x04, {16, 16, 4, 25, true, 22050, 2, false}},
        {"movie-no-sound", 0x01, {24, 16, 3, 25, false, 22050, 1, false}},
        {"movie-first-stamp-only", 0x08, {16, 16, 4, 25, true, 22050, 1, true}},
        {"sound-only", 0x02, {16, 16, 0, 25, true, 22050, 1, false}},
    };
    std::string error;
    for (const Set& set : sets) {
        if (!Media_WriteMovie("seed.dat", set.spec, &error)) {
            std::fprintf(stderr, "fuzz_seeds: movie %s: %s\n", set.name, error.c_str());
            std::exit(1);
        }
        Bytes b{set.pick};
        Bytes file = ReadFile("seed.dat");
        b.insert(b.end(), file.begin(), file.end());
        Seed("movie", set.name, b);
    }
    if (!Media_WriteSoundtrack("seed.mp3", 0.5, 22050, 1, &error)) {
        std::fprintf(stderr, "fuzz_seeds: soundtrack: %s\n", error.c_str());
        std::exit(1);
    }
    Bytes b{0x82};
    Bytes file = ReadFile("seed.mp3");
    b.insert(b.end(), file.begin(), file.end());
    Seed("movie", "soundtrack", b);
}

// Whole save games: the container's header around the sections each module
// writes (the script section over the fuzzer's story), with and without the
// cockpit and sound sections.
void SaveFiles(SE_Context* ctx) {
    std::vector<uint8_t> image = Fuzz_StoryImage();
    Fuzz_WriteFile("L/fuzz.obj", image.data(), image.size());
    if (!SB_LoadLocation(ctx, "fuzz")) {
        std::fprintf(stderr, "fuzz_seeds: the story did not load\n");
        std::exit(1);
    }
    static TimerBase base;
    Timer_Init(&base);
    Timer_AddEvent(500, &base, 1, 7);
    auto section = [](int (*writer)(QelFile*)) {
        QelFile* f = Qel_fcopen("section.gz", "wb", 0);
        int ok = f && writer(f);
        if (f) Qel_fclose(f);
        return ok ? ReadGz("section.gz") : Bytes();
    };
    auto text = [](const char* t) {
        Bytes b = Words({static_cast<uint32_t>(std::strlen(t))});
        b.insert(b.end(), t, t + std::strlen(t) + 1);
        return b;
    };
    const Bytes head = Cat({Of("KSA3"), text("Seed"), text("Game"), text("fuzz"), Words({ctx->compileTime, 7, 9, 6005}),
                            Of("SYSB"), Words({6, 16, 1000, 2000, 0x10000, 44, 0})});
    const Bytes time = section([](QelFile* f) { return Timer_SaveGame(f, g_TimerBase); });
    const Bytes script = section(SB_SaveGame);
    const Bytes middle =
        Cat({section(B3D_SaveGame), section(MOV_SaveGame), section(GS_SaveGame), section(SA_SaveSectors)});
    const Bytes cockpit = section(ID_Save);
    const Bytes sound = Cat({Of("FIX "), section(SFX_SaveGame)});
    Seed("savefile", "full", Cat({head, time, script, middle, cockpit, sound, Of("/KSA")}));
    Seed("savefile", "no-cockpit", Cat({head, time, script, middle, sound, Of("/KSA")}));
    Seed("savefile", "no-sound", Cat({head, time, script, middle, cockpit, Of("/KSA")}));
    Timer_FreeAllNodes(&base);
    SB_FreeLocation(ctx);
    Fuzz_ForgetLater();
    StandIn_ClearCalls();
}

void TimeSections(SE_Context* ctx) {
    (void)ctx;
    static TimerBase base;
    Timer_Init(&base);
    auto save = [&](const char* name) {
        QelFile* f = Qel_fcopen("time.gz", "wb", 0);
        int ok = f && Timer_SaveGame(f, &base);
        if (f) Qel_fclose(f);
        if (ok) Seed("timer", name, ReadGz("time.gz"));
    };
    save("empty");
    Timer_AddEvent(500, &base, 1, 7);
    Timer_AddOwnerEvent(9, 1, &base, 2000, 42);
    Timer_AddEvent(-100, &base, 1, 3);
    save("three");
    Timer_FreeAllNodes(&base);
}

void TextFiles(SE_Context* ctx) {
    std::string text =
        "// a comment\n"
        "1 \"one {17,2}\"\n"
        "2 \"two\\n\\t\\101\"\n"
        "   3 \"first \"\n"
        "     \"second\"\n"
        "4 \"remark(hidden)shown\"\n"
        "5 \"{17,1} and {17,5}\"\n";
    Fuzz_WriteFile("T/44017.txt", reinterpret_cast<const uint8_t*>(text.data()), text.size());
    Fuzz_WriteFile("T/1017.txt", reinterpret_cast<const uint8_t*>(text.data()), 40);
    SB_LoadText(ctx, 17, 44);
    SB_LoadText(ctx, 17, 1);
    SB_SaveAllTexts("seed");
    Bytes save = ReadFile("tc/seed.txc");
    Seed("textfiles", "pages", Split(Of(text), save));
    Seed("textfiles", "references", Split(Of("9 \"{17,9}{17,9}\"\n{17,1}"), save));
    SB_FreeTexts(ctx);
    SB_SaveAllTexts("empty");
    Seed("textfiles", "empty-save", Split(Of("1 \"x\"\n"), ReadFile("tc/empty.txc")));
}

void Expressions() {
    // kind byte: type = kind % 6 (INT TEXT OPERATOR NONE OBJECT 7), operand form = kind / 6 % 4
    // (word, text, float, operator word).
    auto word = [](Bytes& b, uint32_t v) {
        for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(v >> s));
    };
    auto intOp = [&](Bytes& b, int32_t v) {
        b.push_back(0);
        word(b, uint32_t(v));
    };
    auto op = [&](Bytes& b, uint32_t code) {
        b.push_back(2 + 6 * 3);
        word(b, code);
    };
    Bytes arith{5};
    intOp(arith, 7);
    intOp(arith, 5);
    op(arith, 11);  // add
    intOp(arith, 3);
    op(arith, 13);       // mul
    op(arith, 0x10013);  // minus
    Seed("expression", "arith", arith);
    Bytes texts{3};
    texts.push_back(1 + 6);
    texts.push_back(3);
    texts.insert(texts.end(), {'a', 'b', 'c'});
    texts.push_back(1 + 6);
    texts.push_back(2);
    texts.insert(texts.end(), {'d', 'e'});
    op(texts, 11);
    Seed("expression", "texts", texts);
    Bytes mixed{4};
    mixed.push_back(0 + 12);  // INT with a float operand
    word(mixed, 0x180);
    intOp(mixed, 0);
    op(mixed, 14);  // div by zero
    intOp(mixed, 9);
    op(mixed, 15);  // mod
    Seed("expression", "mixed", mixed);
}

void Formats() {
    auto word = [](Bytes& b, uint32_t v) {
        for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(v >> s));
    };
    Bytes args;
    args.push_back(0);
    word(args, uint32_t(-1234));
    args.push_back(1 + 6 * 1);
    word(args, 31415);
    args.push_back(2);
    args.push_back(5);
    args.insert(args.end(), {'h', 'e', 'l', 'l', 'o'});
    args.push_back(3);
    word(args, 1);
    word(args, 2);
    Seed("format", "numbers", Split(Of("%d|%+8.3f|%-6s|%lld %%"), args));
    Seed("format", "hex", Split(Of("%#010x %X %o %c %5.1e %g"), args));
    Seed("format", "codecs", Split(Of("a&b<c>\"d\" %41%u00e9+x \xC3\xA9\x01"), args));
    Seed("format", "star", Split(Of("%*d %.*s %-*.*f"), args));
}

Bytes Wav(uint16_t bits, uint32_t rate, const Bytes& data, bool extraChunk) {
    WavSpec spec;
    spec.rate = rate;
    spec.bits = bits;
    spec.data = data;
    if (extraChunk) spec.chunksBefore.push_back({"LIST", {'I', 'N', 'F', 'O'}});
    return MakeWav(spec);
}

void Samples() {
    Bytes ramp;
    for (int i = 0; i < 64; ++i) ramp.push_back(uint8_t(i * 4));
    Seed("wav", "8bit", Wav(8, 11025, ramp, false));
    Seed("wav", "16bit", Wav(16, 22050, ramp, true));
    Seed("wav", "empty", Wav(16, 44100, {}, false));
}

// DDS header fields, little-endian, then the pixel data.
Bytes Dds(uint32_t w, uint32_t h, uint32_t mips, uint32_t pfFlags, uint32_t fourCC, uint32_t bits,
          const uint32_t masks[4], uint32_t caps2, const Bytes& pixels) {
    Bytes b;
    auto u32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
    };
    b.insert(b.end(), {'D', 'D', 'S', ' '});
    u32(124);
    u32(0x1007 | (mips > 1 ? 0x20000 : 0));
    u32(h);
    u32(w);
    u32(0);
    u32(0);
    u32(mips);
    for (int i = 0; i < 11; ++i) u32(0);
    u32(32);
    u32(pfFlags);
    u32(fourCC);
    u32(bits);
    for (int i = 0; i < 4; ++i) u32(masks[i]);
    u32(0x1000 | (mips > 1 ? 0x400008 : 0) | (caps2 ? 8 : 0));
    u32(caps2);
    u32(0);
    u32(0);
    u32(0);
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
}

void DdsFiles() {
    const uint32_t argb[4] = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
    const uint32_t rgb565[4] = {0xF800, 0x7E0, 0x1F, 0};
    const uint32_t none[4] = {0, 0, 0, 0};
    Bytes chain;
    for (int level = 4; level >= 1; level /= 2)
        for (int i = 0; i < level * level * 4; ++i) chain.push_back(uint8_t(i * 13));
    auto withMode = [](uint8_t mode, Bytes b) {
        b.insert(b.begin(), mode);
        return b;
    };
    Seed("dds", "argb-mips", withMode(0, Dds(4, 4, 3, 0x41, 0, 32, argb, 0, chain)));
    Seed("dds", "rgb565", withMode(1, Dds(4, 2, 1, 0x40, 0, 16, rgb565, 0, Bytes(16, 0x5A))));
    Seed("dds", "dxt1", withMode(2, Dds(4, 4, 1, 0x4, 0x31545844, 0, none, 0, Bytes(8, 0xA5))));
    Bytes faces;
    for (int f = 0; f < 6; ++f)
        for (int i = 0; i < 16; ++i) faces.push_back(uint8_t(f * 40 + i));
    Seed("dds", "cube", withMode(0, Dds(2, 2, 1, 0x41, 0, 32, argb, 0xFE00, faces)));
}

// Effect files: one that uses every construct of the format, in both variants
// (the first byte picks the macros; 0x10 is TWOSIDED).
void EffectFiles() {
    const std::string effect = R"(// a seed
string COMPILE_DEFINES = "BUMP,SPEC;LIGHT";
#define COUNT 3
float4x4 g_mWorld : WORLD;
float4 g_Colour <string UIName = "colour";> = {0.25, 0.5, 0.75, 1};
int g_CullMode = 3;
bool g_Blend = true;
struct PointLight { float4 position; float4 color; float4 atten; };
PointLight g_LightPoint[COUNT];
float g_Weights[4] = {1, 2, 3, 4};
texture t_Diffuse;
textureCUBE t_Cube;
sampler s_Diffuse = sampler_state { Texture = <t_Diffuse>; MinFilter = <g_CullMode>; AddressU = 3; };
samplerCUBE s_Cube = sampler_state { Texture = <t_Cube>; MagFilter = 2; };
glsl vertex VS { void main() { gl_Position = d3d_ClipToGL(g_mWorld * a_Position); } }
glsl fragment FS { void main() { d3d_FragColor = g_Colour * g_LightPoint[0].color * g_Weights[1]; } }
glsl fragment FS_Tex { /* { */ void main() { d3d_FragColor = texture(s_Diffuse, vec2(0.0)) + texture(s_Cube, vec3(1.0)); } }
technique DEFAULT <int Order = 1;> {
    pass P0 <string RenderColorTarget0 = "t_GlowMap1";> {
        VertexShader = VS;
        PixelShader = FS;
#if defined(TWOSIDED) && !defined(BUMP)
        CullMode = 1;
#elif defined BUMP
        CullMode = 2;
#else
        CullMode = <g_CullMode>;
#endif
        AlphaBlendEnable = <g_Blend>;
        ZWriteEnable = false;
    }
    pass P1 { VertexShader = VS; PixelShader = FS_Tex; }
}
technique Other { pass P { VertexShader = VS; PixelShader = FS_Tex; } }
)";
    Bytes plain = Of(effect), twoSided = Of(effect);
    plain.insert(plain.begin(), 0);
    twoSided.insert(twoSided.begin(), 0x10);
    Seed("effect", "every-construct", plain);
    Seed("effect", "two-sided", twoSided);
}

// Binary bodies: model sources through the body converter, text then binary.
void BodyFiles() {
    g_B3DState = B3D_InitStore();
    g_TCNumberedCount = 1;
    g_TCNamedCount = 0;
    if (!g_B3DState || B3D_InitBodyIdTable() != 1 || B3D_InitCutIdTable() != 1 || TC_AllocTextureTable()) {
        std::fprintf(stderr, "fuzz_seeds: no scene state for bodies\n");
        std::exit(1);
    }
    const char* cube =
        "name cube\nmtl hull\n tex plates\nusemtl hull\n"
        "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0 0 1\nv 1 0 1\nv 1 1 1\nv 0 1 1\n"
        "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\ns 1\n"
        "f 1/1 2/2 3/3 4/4\nf 5/1 8/4 7/3 6/2\nf 1/1 5/2 6/3 2/4\n"
        "f 2/1 6/2 7/3 3/4\nf 3/1 7/2 8/3 4/4\nf 4/1 8/2 5/3 1/4\n";
    const char* levels =
        "name levels\nmtl a\n tex one\nmtl b\n tex two\n"
        "usemtl a\nv 0 0 0\nv 2 0 0\nv 2 2 0\nv 0 2 0\nf 1 2 3 4\no top\nusemtl b\nv 1 1 2\nf 1 2 5\n"
        "lod 3000\nv 0 0 0\nv 2 0 0\nv 0 2 0\nusemtl a\nf 1 2 3\n";
    const char* bones =
        "name bones\nmtl skin\n tex skin\nbone hip\nbone knee\n"
        "v 0 0 0\nvw 0 1\nv 2 0 0\nvw 0 0.5 1 0.5\nv 2 2 0\nvw 1 1\nv 0 2 1\nvw 1 1\n"
        "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nvt2 0.5 0.5\nvt2 0.25 0.75\n"
        "usemtl skin\nf 1/1/1 2/2/2 3/3/1 4/4/2\n";
    const char* effect =
        "name effect\nmtl water\n effect water.fx 3\n param TexAnimDuration float 2.5\n"
        " param t_DiffuseTexture string waves\n param g_AlphaBlendEnable long 1\n"
        " param g_Tint float3 0.5 0.25 1\n param g_On bool 1\n param g_Uv float2 1 2\n"
        " param g_Col float4 1 2 3 4\nusemtl water\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
    const struct {
        const char* name;
        const char* source;
    } bodies[] = {{"cube", cube}, {"levels", levels}, {"bones", bones}, {"effect", effect}};
    int id = 1;
    for (const auto& b : bodies) {
        std::string text, error;
        char name[32];
        if (Tool_ModelToTextBody(b.source, &text, &error)) {
            snprintf(name, sizeof name, "v/%05d.bod", id);
            Fuzz_WriteFile(name, reinterpret_cast<const uint8_t*>(text.data()), text.size());
            if (Tool_BodyTextToBinary(id, &error)) {
                snprintf(name, sizeof name, "v/%05d.bob", id);
                Seed("bodybin", b.name, ReadFile(name));
                ++id;
                continue;
            }
        }
        std::fprintf(stderr, "fuzz_seeds: body %s: %s\n", b.name, error.c_str());
        std::exit(1);
    }
}

// Binary cuts: cut sources through the cut converter (bodies made by
// BodyFiles' scene state), versions 5 and 6.
void CutFiles() {
    const std::string box =
        "    name box\n    v 0 0 0\n    v 1 0 0\n    v 0 1 0\n    vt 0 0\n    vt 1 0\n    vt 0 1\n"
        "    f 1/1 2/2 3/3\n";
    const std::string take =
        "path 0 -1\n  name camera\n  key 0x800 2000 0 0 -65536 0 0 0 0.25\n  key 0x800 -1 0 0 -131072 0.125 0 0 0.3\n"
        "path 1 2953\n  key 0x200 2000 0 65536 0 1 0.5 0.25\n  key 0x200 -1 0 65536 65536 0.5 0.5 0.5\n"
        "path 2 12\n  name ship\n  flags c ld s\n  constraint 1 0.5\n  note 0 event start\n  note 4000\n"
        "  key 0x4002 2000 0 0 0 0 0 0 0 0 0.25 0 1 0\n  key 0x2002 -1 131072 0 0 0.5 1 0 0\n"
        "path 3 5\n  name crate\n  body 5\n" +
        box + "  endbody\n  key 0x0 1000 0 65536 0 0 0 0\n";
    const std::string tracks =
        "info every track\npath 7 30\n  value1 3\n  value2 9\n  flags l f p b\n"
        "  key 0xc008 500 1 2 3 0.1 0.2 0.3 0.4 0.5 10 20 30 0.125\n  key 0x8048 500 4 5 6 0.25\n"
        "  key 0x8022 500 7 8 9\n  key 0x1a10 500 0 0 0\n  key 0x0a12 -1 0.5 0 0 1 1 1 1 0.75\n";
    const std::string named = "path 0 hull\npath 1 intro\n  flags j\npath 2 hull\n  body 9\n" + box + "  endbody\n";
    const struct {
        const char* name;
        const std::string& source;
        int version;
    } cuts[] = {{"take-v6", take, 6}, {"take-v5", take, 5}, {"tracks-v5", tracks, 5}, {"named-v6", named, 6}};
    for (const auto& c : cuts) {
        std::string error;
        Fuzz_WriteFile("cut/00003.bob", nullptr, 0);
        if (!Tool_WriteBinaryCut(c.source, c.version, "cut\\00003.bob", &error)) {
            std::fprintf(stderr, "fuzz_seeds: cut %s: %s\n", c.name, error.c_str());
            std::exit(1);
        }
        Seed("cutbin", c.name, ReadFile("cut/00003.bob"));
    }
}

// Types files: one source through the types writer, each file behind the
// byte that picks its loader (the order of fuzz/typesfiles.cpp).
void TypesFiles() {
    const std::string material =
        "1 2 3 LMETL_R HSPEC_R HIH_COL 1 2 3 4 5 6 12 TRANSP_NONE 0 "
        "MPF_ALPHABLEND|MPF_2SIDED 64 32 10 11 12 MSHINY 13 14 15 16 17 18 ship.tga\n";
    const std::string source =
        "[CutData]\n3 intro.cut\n14999 last\n"
        "[BodyData]\n5 1 2 3 v\\five.bod\n10005 4 5 6 v\\big\n"
        "[LightTypes]\n0 2 10 20 30 1 65536 7 8\n12 3 1 2 3 0 0 0 0\n"
        "[Particles3]\n4 ICON_LSR_IRE2\n"
        "  PEDF_2D fx\\spark 0 0 0.5 0.25 1.5 0.1 1 2 3 100 200 1500 4 8 lifetimevariation: 250 spreadx: 0.5 "
        "spready: 1.25 growduration: 7 fadeduration: 300 rotspeed: 2 randomrotspeed: 0.75\n"
        "  PEDF_TRAIL fx\\trail 0 0 1 1 1 0 0 0 0 1 2 3 4 5 bogus: 9 fadeduration: 10\n9 NULL\n"
        "[Skins]\n4 camo\n  hull hull_camo\n  NULL wing_camo\n7 plain\n"
        "[IconData]\nICONTYPE_QMEXTRA gui\\sheet 256 128\n  ICON_QM_BUTTON NULL 0 0 32 16\n"
        "  77 NULL 32 16 8 8\n9 gui\\other 64 64\n"
        "[BodyDummies]\nv\\dummy.bod\n7\n25000\n"
        "[Lensflares]\n-\n  v\\flare 1.5 2 3 4\n  7 0.25 -1 0 -2\n-\n"
        "[Materials]\n" +
        material + material;
    const char* files[] = {"CutData",  "BodyData",    "LightTypes", "Particles3", "Skins",
                           "IconData", "BodyDummies", "Lensflares", "Materials"};
    std::string error;
    if (!Tool_WriteTypesFiles(source, "types", -1, &error)) {
        std::fprintf(stderr, "fuzz_seeds: types files: %s\n", error.c_str());
        std::exit(1);
    }
    for (size_t i = 0; i < sizeof files / sizeof files[0]; ++i) {
        Bytes b = ReadFile(std::string("types/") + files[i] + ".txt");
        b.insert(b.begin(), uint8_t(i));
        Seed("typesfiles", files[i], b);
    }
}

// The space simulation's types files through the types writer, each behind
// the byte that picks it (the order of fuzz/spacetypes.cpp: the core files,
// then the tables by main type).
void SpaceTypesFiles() {
    const std::string source =
        "[Globals]\nSG_MAXSTRAFEFACTOR_BIGSHIP 32768\nSG_DETAILVISIBLE_MINDIST 250000\n"
        "[Videos]\n3 0 4 0 12 0 59 900 1 0 20\n"
        "[VideoLists]\n3 4\n9\n"
        "[Dummies]\nSDTYPE_ANIMATED\n  v\\port ANIMATEDF_DOCKPORT_M3 {ANIMATEDSTATUS_NORMAL c\\port}\n"
        "SDTYPE_DOORWAY\n  v\\door DWF_OUTERDOCK {DOORSTATUS_OPEN 77, DOORSTATUS_CLOSED 78}\n"
        "SDTYPE_GUN\n  v\\gun GUNF_ROTATE {GUNSTATUS_FIRING 79} {v\\barrel GUNPARTF_ROTATEALPHA, 513 NULL}\n"
        "[Bodies]\nSBTYPE_LOGO 520 521\nSBTYPE_CONTAINER v\\crate\n"
        "[Components]\nSCTYPE_LASER\n  500 {LASERF_ROTATE 1 2 3 0 0 1, NULL -1 0 0 0 0 1}\n"
        "SCTYPE_COCKPIT\n  500 {NULL 0 0.5 0.5 0 0 1}\nSCTYPE_DOCKING\n  530 {NULL 0 0.5 9}\n"
        "[Matches]\nSMTYPE_MINE MATCHF_CUT1|MATCHF_CUTMATCH\n  40 501 41\n"
        "[TBullets 47]\nv\\bolt NULL 0 0 0 0 1000 17 18 19 20 21 66 23 24 25 26.5 27.5 28.5 29 30 31 32 33 34 35 36 "
        "7 8 9 10 11 12 13 14 15 pulse\n"
        "[TBackgrounds 47]\nNULL NULL 0 0 0 0 2001 orion 20 2 3 69 70 71 72 73 74 75 76 77 78 79 80 81 500 100 84 85 "
        "86 87 7 8 9 10 11 12 13 14 15 nebula_a\n"
        "NULL NULL 0 0 0 0 2002 \"\" 1 1 1 0 0 0 0 0 0 0 0 0 0 0 0 0 1 2 0 0 0 0 7 8 9 10 11 12 13 14 15 \"\"\n"
        "[TSuns 47]\n41 NULL 0 0 0 0 1003 NULL 18 7 8 9 10 11 12 13 14 15 \"yellow star\"\n"
        "[TPlanets 22]\nNULL NULL 0 0 0 0 1004 17 18 19 c\\planet 7 8 9 10 11 12 rock\n"
        "[TDocks 40]\nNULL NULL 0 0 0 0 1005 17 18.5 19.5 20 NULL 22 23 24 25 26 7 8 9 10 11 12 13 14 tradepost\n"
        "[TFactories 47]\nNULL NULL 0 0 0 0 1006 17 18.5 19.5 20 NULL 22 23 24 25 26 0.5 199 7 8 9 10 11 12 13 14 "
        "15 smelter\n"
        "[TShips 48]\n500 NULL 2.25 3.25 4.25 5 1006 17 18 19 20 21 22 23 24 25 NULL NULL 28 29 30 31.25 32 33 5 36 37 "
        "38 39 40 41 0 0 0 0 0 0 0 0 0 0 0 0 42 43 44 45 46 47 48 50 51 49 {1 2 500 4, 2 0 500 5} "
        "{0 1 2 {3 4 500 6 NULL 8}, 3 1 2 {}} 7 8 9 10 11 12 13 14 15 hauler\n"
        "500 NULL 0 0 0 8 1007 17 18 19 20 21 22 23 24 25 NULL NULL 28 29 30 31 32 33 5 36 37 38 39 40 41 0 0 0 0 0 0 "
        "0 0 0 0 0 0 42 43 44 45 46 47 48 50 51 49 {} {} 7 8 9 10 11 12 13 14 15 scout\n"
        "[TLaser 47]\nNULL NULL 0 0 0 0 1008 17 18 0 20 21.5 2 7 8 9 10 11 12 13 14 15 pulse_gun\n"
        "[TShields 47]\nNULL NULL 0 0 0 0 1009 17 18 19 20.5 7 8 9 10 11 12 13 14 15 deflector\n"
        "[TMissiles 47]\nNULL NULL 0 0 0 0 1010 17 18 19 20 21 22 23 24 25 99 27 28 29 30 26 31 33 34 35 46 NULL 7 8 "
        "9 10 11 12 13 14 15 dart\n"
        "[TWareE 47]\nNULL NULL 0 0 0 0 1011 7 8 9 10 11 12 13 14 15 cells\n"
        "[TAsteroids 28]\nNULL NULL 0 0 0 0 1017 NULL 7 8 9 10 11 12 13 ore\n"
        "[TGates 47]\nNULL NULL 0 0 0 0 1018 NULL 7 8 9 10 11 12 13 14 15 ring\n"
        "[TSpecial 47]\nNULL NULL 0 0 0 0 1020 NULL 7 8 9 10 11 12 13 14 15 beacon\n"
        "[TCockpits 47]\nNULL NULL 0 0 0 0 1025 NULL 18 7 8 9 10 11 12 13 14 15 bridge\n"
        "[TDebris 47]\nNULL NULL 0 0 0 0 1028 NULL 18 550 NULL 7 8 9 10 11 12 13 14 15 field\n"
        "[TShipsWrecks 47]\nNULL NULL 0 0 0 0 1031 NULL 18 551 7 8 9 10 11 12 13 14 15 hulk\n"
        "[WareLists]\ncells hauler 458752\n";
    std::string error;
    if (!Tool_WriteTypesFiles(source, "spacetypes", -1, &error)) {
        std::fprintf(stderr, "fuzz_seeds: space types files: %s\n", error.c_str());
        std::exit(1);
    }
    std::vector<std::string> files = {"Globals", "Videos",     "VideoLists", "Dummies",
                                      "Bodies",  "Components", "Matches",    "WareLists"};
    for (int32_t m = 0; m < SA_MAIN_TYPE_COUNT; ++m)
        if (const char* name = SA_TypesFileName(m)) files.emplace_back(name);
    for (size_t i = 0; i < files.size(); ++i) {
        const std::string path = "spacetypes/" + files[i] + ".txt";
        if (!fs::exists(path)) continue;  // tables the source leaves out
        Bytes b = ReadFile(path);
        b.insert(b.begin(), uint8_t(i));
        Seed("spacetypes", files[i], b);
    }
}

// The effects file through the types writer: the demo's effects and one of
// every kind of part.
void EffectsFiles() {
    const std::string source =
        "[effects]\n"
        "48 EDF_NOROTATE 0 1.0\n"
        "  EEDF_GROW|EEDF_FADEOUT|EEDF_TIMEOUT|EEDF_RELATIVESIZE 0 500 0.5 2.0 1500 0 0 0 0 0 0 0 0\n"
        "  EEDF_FADEOUTBODY|EEDF_TIMEOUT 0 NULL 0 0 1000 0 0 0 0 0 0 0 200\n"
        "36 EDF_NONE 0 1.0\n"
        "  EEDF_GROWANDSHRINK|EEDF_FADEOUT|EEDF_TIMEOUT|EEDF_RELATIVESIZE 0 500 0.2 0.6 800 0 0 0 0 0 0 0 0\n"
        "20 EDF_NONE 0 1.0\n"
        "  EEDF_GROW|EEDF_FADEOUT|EEDF_TIMEOUT|EEDF_RANDOMROT I3DF_2D 500 20 80 300 0.25 0 0 0 0 0 0 0\n"
        "50 EDF_PROPAGATE|EDF_HIDEOBJECT|EDF_REINIT 4 1.5\n"
        "  EEDF_PROPAGATE|EEDF_WAVE 0 20 3 5 0 600 2 100 0.25 0\n"
        "  EEDF_LIGHT|EEDF_GROW|EEDF_LENSFLARE|EEDF_NOZTEST 0 3 1 4 500 0.5 1 2 3 7 8 1.0 10\n"
        "  EEDF_CUT|EEDF_DEBRIS|EEDF_WRECK|EEDF_PARTICLEGENERATOR|EEDF_TIMEOUT 0 c\\boom 1 2 900 0 0 0 0 4 0 0 20\n"
        "  EEDF_BREAKUP|EEDF_PUSH|EEDF_HULLDAMAGE 0 NULL 0 0 0 0 0 0 0 0 0 0 30\n"
        "  EEDF_SPEEDDEPENDENT|EEDF_BULLETROT|EEDF_RANDOMSIZE|EEDF_DISTANT 0 500 1 3 0 0 0 0 0 0 0 2.0 40\n";
    std::string error;
    if (!Tool_WriteTypesFiles(source, "effectsfile", -1, &error)) {
        std::fprintf(stderr, "fuzz_seeds: effects: %s\n", error.c_str());
        std::exit(1);
    }
    Seed("effects", "effects", ReadFile("effectsfile/effects.txt"));
}

// Scene save sections written by the scene engine's own writer: an empty
// engine, and one with the lens-flare scene, a free tree with a light, a
// scene with an animated instance, a named camera and a child, a placed cut
// and a take over its instances.
void SceneSections() {
    B3DState* kept = g_B3DState;
    auto save = [](const char* name) {
        QelFile* f = Qel_fcopen("scene.gz", "wb", 0);
        int ok = f && B3D_SaveGame(f);
        if (f) Qel_fclose(f);
        if (!ok) {
            std::fprintf(stderr, "fuzz_seeds: the scene section was not written\n");
            std::exit(1);
        }
        Seed("scenesection", name, ReadGz("scene.gz"));
    };
    g_B3DState = B3D_InitStore();
    if (!g_B3DState || B3D_InitBodyIdTable() != 1 || B3D_InitCutIdTable() != 1) {
        std::fprintf(stderr, "fuzz_seeds: no scene state for the save section\n");
        std::exit(1);
    }
    save("empty");
    B3D_MakeLensflareScene();
    Inst3D* top = B3D_AllocInst();
    top->name = Qel_StrDup("free tree");
    Inst3D* light = B3D_LightAlloc();
    B3D_ListRemove(B3D_Node(light));
    B3D_ListAppend(&top->children, B3D_Node(light));
    light->parent = top;
    g_B3DState->firstLight = light;
    Scene3D* scene = B3D_SceneAlloc();
    Inst3D* ship = B3D_AllocInst();
    B3D_ListRemove(B3D_Node(ship));
    B3D_ListAppend(&scene->insts, B3D_Node(ship));
    ship->scene = scene;
    ship->bodyId = 12;
    ship->cutId = 3;
    ship->flags2 = INST2_SKINNED;
    const int32_t textures[2] = {2, 5};
    ship->materialOverrides = TC_NewMaterials(nullptr, 2, textures, nullptr, nullptr, nullptr, nullptr);
    ship->materialOverrideCount = ship->materialOverrides ? 2 : 0;
    Camera3D* cam = B3D_CameraAlloc();
    cam->inst.name = Qel_StrDup("camera");
    B3D_SceneLinkInst(scene, cam);
    cam->priority = 40;
    cam->environmentSource = ship;
    Inst3D* child = B3D_AllocInst();
    B3D_ListRemove(B3D_Node(child));
    B3D_ListAppend(&cam->inst.children, B3D_Node(child));
    child->parent = &cam->inst;
    child->scene = scene;
    J3D_Cut cut{};
    cut.id = 3;
    Qel_MatIdentity(&cut.placeMatrix);
    cut.placePos = {65536, 0, -65536, 0};
    cut.flags = CUT_PLACED;
    Qel_TableSet(g_B3DState->cutTable, cut.id, reinterpret_cast<uintptr_t>(&cut));
    J3D_Take* take = J3D_TakeAlloc();
    take->cutId = 3;
    take->scene = scene;
    take->cameraId = cam->inst.id;
    take->instCount = 2;
    take->insts = static_cast<Inst3D**>(B3D_AllocMemJ(2 * sizeof(Inst3D*), B3D_MEM_ZERO));
    take->insts[0] = &cam->inst;
    take->insts[1] = ship;
    take->state = TAKE_RUNNING;
    save("scenes");
    Qel_TableRemove(g_B3DState->cutTable, cut.id);
    B3D_FreeStore();
    g_B3DState = kept;
}

// Effect blocks written field by field by the data-file writer, text and
// binary, behind the byte whose low bit says binary.
void EffectBlock(const char* name, int binary) {
    const char* file = "seed.fxp";
    VRMFile* w = Qel_StreamCreate(file, 0, 0, binary, g_VRMBodyTags, 18);
    if (!w || w->error) {
        std::fprintf(stderr, "fuzz_seeds: the data-file writer failed\n");
        std::exit(1);
    }
    const char* end = ";\n";
    w->WriteShort(3, end);
    w->WriteString("water.fx", end);
    w->WriteShort(7, end);
    w->WriteString("t_DiffuseTexture", end);
    w->WriteInt(8, end);
    w->WriteString("ship.tga", end);
    w->WriteString("g_Count", end);
    w->WriteInt(0, end);
    w->WriteInt(-5, end);
    w->WriteString("g_On", end);
    w->WriteInt(1, end);
    w->WriteInt(1, end);
    w->WriteString("g_Vec", end);
    w->WriteInt(4, end);
    for (int32_t v : {0x10000, 0x28000, -0x30000}) w->WriteFixed(v, end);
    w->WriteString("g_Mat3", end);
    w->WriteInt(6, end);
    for (int k = 0; k < 9; ++k) w->WriteFixed(k % 4 ? 0 : 0x10000, end);
    w->WriteString("g_Mat4", end);
    w->WriteInt(7, end);
    for (int k = 0; k < 16; ++k) w->WriteFixed(k % 5 ? 0 : 0x10000, end);
    w->WriteString("g_Label", end);
    w->WriteInt(8, end);
    w->WriteString("hello", end);
    Qel_CloseFileBuffer(w);
    Bytes bytes = ReadFile(file);
    bytes.insert(bytes.begin(), uint8_t(binary));
    Seed("fxparams", name, bytes);
}

// Pictures of the tests' picture writers behind the byte that picks the
// reader (the order of fuzz/images.cpp); fonts carry their metrics.
Bytes Abc4Metrics() {
    Bytes v;
    auto put32 = [&v](uint32_t x) {
        v.insert(v.end(), {uint8_t(x), uint8_t(x >> 8), uint8_t(x >> 16), uint8_t(x >> 24)});
    };
    auto putF = [&](float f) {
        uint32_t x;
        std::memcpy(&x, &f, 4);
        put32(x);
    };
    for (uint32_t x : {4u, 8u, 32u, 8u, 1u}) put32(x);
    v.insert(v.end(), {'A', 0, 'B', 0});
    put32(2);
    const float boxes[2][4] = {{0.0f, 0.0f, 0.25f, 1.0f}, {0.25f, 0.0f, 0.5f, 1.0f}};
    for (const auto& b : boxes) {
        for (float f : b) putF(f);
        v.insert(v.end(), {1, 0, 6, 0, 7, 0, 0, 0});
    }
    return v;
}

void Images() {
    const std::vector<uint32_t> picture = {0xFFFF0000, 0xFFFF0000, 0xFF00FF00, 0x80FFFFFF,
                                           0xFF0000FF, 0xFFFFFFFF, 0x00000000, 0xFF123456};
    auto withMode = [](uint8_t mode, Bytes b) {
        b.insert(b.begin(), mode);
        return b;
    };
    Seed("images", "tga24", withMode(0 + 5 * 2, Tga({.width = 4, .height = 2, .type = 2, .depth = 24}, picture)));
    Seed("images", "tga32-rle-topdown",
         withMode(0 + 5 * 3,
                  Tga({.width = 4, .height = 2, .type = 10, .depth = 32, .topDown = true, .alphaBits = 8}, picture)));
    Seed("images", "tga16", withMode(0 + 5 * 4, Tga({.width = 4, .height = 2, .type = 2, .depth = 16}, picture)));
    Seed("images", "tga-grey", withMode(0, Tga({.width = 4, .height = 2, .type = 3, .depth = 8}, picture)));
    Seed("images", "jpeg", withMode(1 + 5 * 2, Jpeg(4, 2, picture)));
    Seed("images", "jpeg-surface", withMode(1 + 5 * 13, Jpeg(4, 2, picture)));
    const std::vector<const char*> grid = {"#.#.#.#.#.#.#.#.", ".#.#.#.#.#.#.#.#", "##..##..##..##..",
                                           "..##..##..##..##", "####....####....", "....####....####",
                                           "################", "................"};
    Seed("images", "bmp", withMode(2, Bmp1(grid)));
    Seed("images", "bmp-topdown", withMode(2, Bmp1(grid, true)));
    const std::vector<const char*> wide(8, "################################");
    Seed("images", "font-abc", withMode(3, Split(Bmp1(wide), Abc4Metrics())));
    Seed("images", "font-siz", withMode(4, Split(Bmp1(grid), Bytes{3, 2, 5})));
}

// The game sound's effect table through the types writer.
void SoundsFiles() {
    const char* sources[][2] = {
        {"groups",
         "[Sounds]\n3\n0\n  7 200 SFX_LOOP|SFX_AUTOFREE -10 30 20 1234\n  1 -1 NULL 0 0 0 0\n"
         "100\n  5 200 SFX_3DCONTROL 0 0 0 1000\n  5 200 SFX_DSIK|SFX_INTERPOLATE 0 100 50 0\n"},
        {"one", "[Sounds]\n1\n0\n  5 200 NULL 0 0 0 0\n"},
    };
    for (const auto& s : sources) {
        std::string error;
        if (!Tool_WriteTypesFiles(s[1], "types", -1, &error)) {
            std::fprintf(stderr, "fuzz_seeds: sounds: %s\n", error.c_str());
            std::exit(1);
        }
        Seed("sounds", s[0], ReadFile("types/Sounds.txt"));
    }
}

// Recordings by the recorder: a scene with an instance tree, a light, a
// camera and a particle generator over a few frames with changes, deletions
// and a texture record; as written (gzip) and uncompressed.
void Recordings() {
    B3DState* saved = g_B3DState;  // the bodies' state stays for the run
    g_B3DState = B3D_InitStore();
    if (!g_B3DState || B3D_InitBodyIdTable() != 1 || B3D_InitCutIdTable() != 1) {
        std::fprintf(stderr, "fuzz_seeds: no scene state\n");
        std::exit(1);
    }
    B3D_GetBodyID("v\\ship");
    B3DParticleDesc& desc = g_B3DState->particleDescs[1];
    desc.emitterCount = 2;
    desc.emitters = static_cast<B3DParticleEmitter*>(B3D_AllocMemB(2 * sizeof(B3DParticleEmitter), B3D_MEM_ZERO));
    Scene3D* scene = B3D_SceneAlloc();
    scene->name = Qel_StrDup("deck");
    B3D_SceneEnable(scene);
    auto inScene = [scene](Inst3D* i) {
        B3D_ListRemove(B3D_Node(i));
        B3D_ListAppend(&scene->insts, B3D_Node(i));
        i->scene = scene;
        return i;
    };
    Inst3D* ship = inScene(B3D_AllocInst());
    ship->name = Qel_StrDup("ship");
    Inst3D* child = B3D_AllocInst();
    B3D_ListRemove(B3D_Node(child));
    B3D_ListAppend(&ship->children, B3D_Node(child));
    child->parent = ship;
    child->scene = scene;
    Inst3D* light = inScene(B3D_LightAlloc());
    light->lightColor[0] = 200;
    Camera3D* cam = B3D_CameraAlloc();
    B3D_SceneLinkInst(scene, cam);
    auto* gen = static_cast<ParticleGenerator*>(B3D_AllocMemI(sizeof(ParticleGenerator)));
    gen->id = Qel_TableAdd(g_B3DState->generatorTable, reinterpret_cast<uintptr_t>(gen));
    gen->desc = 1;
    gen->scene = scene;
    gen->emitters = static_cast<B3DEmitterState*>(B3D_AllocMemI(2 * sizeof(B3DEmitterState)));
    B3D_ListAppend(&g_B3DState->generators, B3D_Node(gen));
    g_SystemState->realClock = 1000;
    if (!B3D_InitRecording("seed")) {
        std::fprintf(stderr, "fuzz_seeds: the recorder failed\n");
        std::exit(1);
    }
    const int16_t pixel[4] = {1, 2, 3, 0x7c00};
    B3D_TexRecord("RTSP", pixel, 4);
    for (int k = 1; k <= 4; ++k) {
        B3D_InstSetPos(ship, k << 16, 0, -k);
        gen->emitters[0].lastSpawn = 100 * k;
        if (k == 2) {
            ship->bodyId = 20000;
            B3D_CameraSetPri(cam, 30);
            B3D_GetCutID("cut\\later");
        }
        if (k == 3) B3D_InstFree(light);
        g_SystemState->realClock = 1000 + 100 * k;
        B3D_RecordFrame();
    }
    B3D_ExitRecording();
    // The start date is the one field that changes from run to run: 0 here,
    // then packed again.
    gzFile gz = gzopen("seed.rec", "rb");
    Bytes plain;
    uint8_t buf[4096];
    for (int n; gz && (n = gzread(gz, buf, sizeof buf)) > 0;) plain.insert(plain.end(), buf, buf + n);
    if (gz) gzclose(gz);
    if (plain.size() < 12) {
        std::fprintf(stderr, "fuzz_seeds: the recording is short\n");
        std::exit(1);
    }
    std::fill(plain.begin() + 8, plain.begin() + 12, uint8_t(0));
    Seed("recording", "scene-plain", plain);
    gz = gzopen("seed.rec", "wb");
    if (!gz || gzwrite(gz, plain.data(), unsigned(plain.size())) != int(plain.size()) || gzclose(gz) != Z_OK) {
        std::fprintf(stderr, "fuzz_seeds: cannot pack the recording\n");
        std::exit(1);
    }
    Seed("recording", "scene", ReadFile("seed.rec"));
    B3D_ListRemove(B3D_Node(gen));
    Qel_TableRemove(g_B3DState->generatorTable, gen->id);
    B3D_FreeMemI(2 * sizeof(B3DEmitterState), gen->emitters);
    B3D_FreeMemI(sizeof(ParticleGenerator), gen);
    B3D_FreeStore();
    g_B3DState = saved;
    Fuzz_RemoveFile("seed.rec");
}

// Programs of scene engine calls, one at least for every way a record was
// once seen to outlive what pointed at it.
void ScenePrograms() {
    using namespace sceneprogram;
    const auto take = [](Program& p) -> Program& {
        // Scene 1 enabled, camera 1 in it, take 1 playing cut 3 on it: the
        // light, the ship, the crate and the bone b1 are instances 2 to 5.
        return p.Call(7, {})
            .Call(10, {Scn(0)})
            .Call(5, {})
            .Call(16, {Cam(0), Scn(0)})
            .Call(151, {})
            .Call(152, {Take(0), Cut(0), Scn(0), Cam(0)});
    };
    {
        Program p;
        take(p).Step(STEP_FRAME).Step(STEP_CLOCK, 2).Step(STEP_FRAME).Step(STEP_FRAME);
        p.Call(6, {Cam(0)}).Step(STEP_SAVE).Step(STEP_FRAME).Step(STEP_SAVE_LOAD).Step(STEP_FRAME);
        Seed("scenecalls", "camera-freed-by-its-call", p.Bytes());
    }
    {
        Program p;
        p.Call(7, {}).Call(7, {}).Call(10, {Scn(0)}).Call(0, {}).Call(5, {}).Call(12, {Inst(0), Scn(0)});
        p.Call(18, {Cam(0), Inst(0)}).Call(16, {Cam(0), Scn(1)}).Call(2, {Inst(0)}).Call(0, {}).Call(74, {Cam(0)});
        p.Step(STEP_SAVE).Call(18, {Cam(0), Inst(1)}).Call(12, {Inst(1), Scn(0)}).Call(17, {Cam(0), Scn(0)});
        p.Step(STEP_SAVE_LOAD).Step(STEP_FRAME);
        Seed("scenecalls", "camera-relinked", p.Bytes());
    }
    {
        Program p;
        p.Call(7, {}).Call(10, {Scn(0)}).Call(0, {}).Call(12, {Inst(0), Scn(0)}).Call(0, {}).Call(5, {}).Call(0, {});
        p.Call(18, {Inst(1), Inst(0)}).Call(18, {Inst(2), Inst(0)}).Call(18, {Inst(3), Inst(0)});
        p.Call(13, {Inst(0), Scn(0)}).Step(STEP_SAVE).Step(STEP_FRAME).Call(2, {Inst(0)}).Step(STEP_SAVE);
        Seed("scenecalls", "tree-out-of-its-scene", p.Bytes());
    }
    {
        Program p;
        take(p).Step(STEP_FRAME).Call(42, {Inst(2), Word(0x20)}).Step(STEP_FRAME).Step(STEP_FRAME);
        p.Call(2, {Inst(4)}).Step(STEP_FRAME).Step(STEP_SAVE_LOAD).Step(STEP_FRAME);
        Seed("scenecalls", "bone-freed", p.Bytes());
    }
    {
        Program p(OPT_FLARE_TEST);
        p.Call(7, {}).Call(10, {Scn(0)}).Call(5, {}).Call(16, {Cam(0), Scn(0)}).Call(56, {Cam(0), Word(0x101)});
        p.Call(0, {}).Call(3, {Inst(1), Body(0)}).Call(22, {Inst(1), Word(0), Word(0), Word(20 << 16)});
        // Marked, shown and drawn whatever its size: its lens flare is placed.
        p.Call(12, {Inst(1), Scn(0)}).Call(41, {Inst(1), Word(0x24000002)});
        p.Call(0, {}).Call(3, {Inst(2), Body(2)}).Call(22, {Inst(2), Word(0), Word(0), Word(10 << 16)});
        p.Call(12, {Inst(2), Scn(0)}).Call(69, {Inst(2), Small(0)});
        p.Step(STEP_FRAME).Step(STEP_FRAME).Step(STEP_FRAME).Call(9, {Scn(0)}).Step(STEP_SAVE_LOAD);
        p.Step(STEP_FRAME).Step(STEP_RESET);
        Seed("scenecalls", "pick-ray-scene-freed", p.Bytes());
    }
    {
        Program p;
        take(p).Step(STEP_FRAME).Call(149, {Cut(0)}).Step(STEP_FRAME).Call(2, {Inst(3)}).Step(STEP_FRAME);
        p.Call(52, {}).Step(STEP_FRAME).Step(STEP_AGE).Step(STEP_RESET);
        Seed("scenecalls", "bodies-freed-while-shown", p.Bytes());
    }
    {
        Program p;
        p.Call(7, {}).Call(10, {Scn(0)}).Call(5, {}).Call(16, {Cam(0), Scn(0)}).Call(0, {});
        p.Call(3, {Inst(1), Body(0)}).Call(18, {Inst(1), Cam(0)}).Step(STEP_FLUSH).Call(121, {});
        p.Step(STEP_FRAME).Step(STEP_REOPEN).Step(STEP_FRAME).Call(11, {Scn(0)}).Step(STEP_FLUSH);
        Seed("scenecalls", "flush-under-a-camera", p.Bytes());
    }
    {
        Program p;
        p.Call(122, {Text(6)}).Call(122, {Text(7)}).Call(0, {}).Call(3, {Inst(0), Body(5)});
        p.Call(124, {Body(5)}).Step(STEP_SAVE_LOAD).Call(122, {Text(2)}).Call(124, {Body(5)}).Call(72, {Inst(0)});
        Seed("scenecalls", "dynamic-ids-again", p.Bytes());
    }
    {
        Program p;
        p.Call(0, {}).Call(143, {Inst(0), Cut(1), Body(1)}).Call(143, {Inst(0), Cut(1), Body(1)});
        p.Call(7, {}).Call(151, {}).Call(152, {Take(0), Cut(0), Scn(0)}).Call(154, {Take(0)});
        p.Call(151, {}).Call(152, {Take(0), Cut(0), Scn(0)}).Step(STEP_SAVE_LOAD).Step(STEP_CLOCK, 50);
        p.Step(STEP_FRAME).Step(STEP_FRAME).Call(155, {Inst(0), Cut(1), Body(1), Small(0), Small(100)});
        p.Step(STEP_FINISH).Step(STEP_TAKES);
        Seed("scenecalls", "waiters-replaced-and-freed", p.Bytes());
    }
    // Every call in turn, its first argument of one kind, between the records
    // of a take and frames: the ground the fuzzer builds on.
    const struct {
        const char* name;
        Program::A first;
    } kinds[] = {{"every-call-on-an-instance", Inst(2)}, {"every-call-on-a-camera", Cam(0)},
                 {"every-call-on-a-scene", Scn(0)},      {"every-call-on-a-take", Take(0)},
                 {"every-call-on-a-text", Text(1)},      {"every-call-on-a-cut", Cut(0)}};
    for (const auto& k : kinds) {
        Program p(OPT_FLARE_TEST);
        take(p).Call(0, {}).Call(3, {Inst(6), Body(0)}).Call(12, {Inst(6), Scn(0)});
        for (int32_t call = 0; call < 157; ++call) {
            if (call == 2 || call == 4 || call == 6 || call == 9 || call == 154) continue;  // the frees come last
            p.Call(call, {k.first, Small(1), Inst(3), Small(3), Small(64)});
            if (call % 16 == 15) p.Step(STEP_FRAME);
        }
        for (int32_t call : {154, 2, 4, 6, 9}) p.Call(call, {k.first}).Step(STEP_FRAME).Step(STEP_SAVE_LOAD);
        Seed("scenecalls", k.name, p.Bytes());
    }
    {
        Program p;
        take(p).Call(79, {Text(5)}).Step(STEP_FRAME).Call(2, {Inst(2)}).Step(STEP_FRAME).Call(80, {});
        p.Call(81, {Text(5), Small(0), Small(0), Small(0), Small(0), Small(0)}).Step(STEP_CLOCK, 10);
        p.Step(STEP_REPLAY).Step(STEP_FRAME).Step(STEP_REPLAY).Step(STEP_LOAD_INSTS).Call(82, {});
        Seed("scenecalls", "recorded-and-replayed", p.Bytes());
    }
}

// The space section (fuzz/spacesave.cpp) of an empty game and of a sector
// holding objects of most main types, with references between them, dock
// ports, turrets and a take; the objects' instances are the world's own
// free instances, so their ids name instances in the target's world too.
void SpaceSaveSections() {
    FuzzSpaceWorld world;
    Fuzz_OpenSpaceWorld(&world);
    world.root.started = world.root.running = 1;
    world.root.game.lasersFired = 7;
    world.root.game.laserHits = 3;
    Seed("spacesave", "empty", Fuzz_SaveSection(SA_SaveSectors));
    SectorObject* sector = O_AllocObject(SA_TypeCode(SA_MT_SECTOR, 0));
    O_Sector(sector)->spaceScene = B3D_SceneFind(1);
    uint32_t free = 1;
    auto add = [&](int32_t mainType, int32_t subType, SectorObject* container) {
        SectorObject* o = O_AllocObject(SA_TypeCode(mainType, subType));
        if (o->instance && free <= 8) {
            B3D_InstFree(o->instance);
            o->instance = B3D_InstFind(free++);
        }
        O_SetContainer(o, container);
        return o;
    };
    SectorObject* dock = add(SA_MT_DOCK, 0, sector);
    SectorObject* ship = add(SA_MT_SHIP, 0, dock);
    SectorObject* other = add(SA_MT_SHIP, 1, sector);
    add(SA_MT_WARE_FIRST, 1, ship);
    add(SA_MT_LASER, 0, ship);
    SectorObject* missile = add(SA_MT_MISSILE, 0, sector);
    add(SA_MT_GATE, 0, sector);
    add(SA_MT_CAMERA, 0, sector);
    add(SA_MT_BULLET, 0, sector);
    add(SA_MT_FACTORY, 1, sector);
    add(SA_MT_NEBULA, 0, sector);
    add(SA_MT_SPECIAL, 0, sector);
    add(SA_MT_SUN, 0, sector);
    add(SA_MT_PLANET, 0, sector);
    add(SA_MT_DEBRIS, 0, sector);
    ship->name = Qel_StrReassign(ship->name, "Seed ship");
    ship->reference = other;
    O_MissileData(missile)->target = ship;
    if (ShipData* d = O_ShipData(ship); d && d->turrets) d->turrets[1].target = other;
    O_ShipData(other)->OrderTarget = dock;
    world.root.game.playerObject = ship;
    if (SA_Take* take = ST_CreateTake(5, sector)) take->cutId = 123;
    Seed("spacesave", "objects", Fuzz_SaveSection(SA_SaveSectors));
    Fuzz_CloseSpaceWorld(&world);
}

// The cockpit section (fuzz/cockpitsave.cpp) of a game without cockpits and
// of one with two that hold the world's objects and camera, and their scenes.
void CockpitSaveSections() {
    FuzzSpaceWorld world;
    Fuzz_OpenSpaceWorld(&world);
    const FuzzCockpitObjects objects = Fuzz_AddCockpitObjects();
    INS_NewCockpitSystem();
    g_CockpitSystem->unitDisplay = 2;
    g_CockpitSystem->crossHair = 3;
    Seed("cockpitsave", "empty", Fuzz_SaveSection(ID_Save));
    Cockpit* a = INS_TableGet(g_CockpitSystem, INS_AddCockpit(g_CockpitSystem));
    Cockpit* b = INS_TableGet(g_CockpitSystem, INS_AddCockpit(g_CockpitSystem));
    if (a && b) {
        a->cockpitRefObject = a->refObject = objects.ships[0];
        a->sectorSpace = objects.sector;
        a->trackedObject = objects.ships[1];
        a->sectorCamera = objects.camera;
        a->viewMode = 5;
        a->monitorNumber = 0;
        a->trackingMode = 3;
        b->refViewObject = objects.ships[1];
        b->missileType = 5;
        g_CockpitSystem->activeControl = static_cast<int32_t>(a->id);
    }
    Seed("cockpitsave", "two-cockpits", Fuzz_SaveSection(ID_Save));
    INS_FreeCockpitSystem();
    SA_FreeAllObjects(&world.root);
    Fuzz_CloseSpaceWorld(&world);
}

// Step sequences of the placement calls target (fuzz/placecalls.cpp).
void PlaceCalls() {
    // A sector and two ships; a landing without carrier, a pose set and read
    // through arrays, a decoupling that parks its task, a tractor beam, a
    // frame, a save and load, the ship freed under the parked task.
    const Bytes ship = {0, 0, 1};
    Bytes steps = {5, 0, 0xF0, 5, 1, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0,
                   0, 5, 2,    0, 4, 0, 0, 0, 5, 0, 0, 0, 6, 0, 0, 0};
    auto call = [&](uint8_t offset, std::vector<Bytes> args) {
        steps.insert(steps.end(), {0, offset, static_cast<uint8_t>(args.size())});
        for (const Bytes& a : args) steps.insert(steps.end(), a.begin(), a.end());
    };
    const auto number = [](uint8_t v) { return Bytes{0, 150, v}; };
    Bytes pose = {180, 6};
    for (uint8_t v : {10, 20, 30, 0, 64, 0}) pose.insert(pose.end(), {0, 0, 150, v});
    call(6, {ship, number(0), number(2)});                          // 265
    call(59, {ship, pose});                                         // 318
    call(61, {ship, pose});                                         // 320
    call(68, {ship, number(1), number(2), number(3)});              // 327
    call(89, {ship, {0, 0, 2}, number(0), number(0), number(50)});  // 348
    steps.insert(steps.end(), {9, 0, 1, 10, 7, 1, 9, 1, 1});
    Seed("placecalls", "land_pose_decouple_tractor", steps);
    // Sector scenes made, named and freed; story instances freed under a camera.
    Seed("placecalls", "scenes_and_cameras",
         {5, 0,  0xF0, 5, 6, 0, 8, 2,  8, 0, 0, 22, 2, 0,  0, 0, 0, 120, 0, 0, 24, 1,  0, 0,  0, 8, 3, 0,
          0, 25, 1,    0, 0, 0, 0, 52, 2, 0, 0, 1,  0, 90, 0, 8, 1, 0,   9, 0, 1,  10, 0, 25, 1, 0, 0, 0});
    // Missing and made-up IDs, texts, short arrays and story objects.
    Seed("placecalls", "arguments", {0,   21, 2,  180, 2, 0, 0,    150, 1, 0xFF, 220, 0, 63, 2,   240,
                                     250, 0,  76, 3,   0, 0, 0xF3, 180, 0, 170,  1,   0, 0,  0xF1});
}

// Step sequences of the space calls target (fuzz/spacecalls.cpp): each step
// is an operation byte and its operands.
void SpaceCalls() {
    // Make a sector and ships, place them, kill one, a frame, free the sector.
    Seed("spacecalls", "place_kill_frame", {0, 0, 2, 1,  0, 0,  0, 2, 7, 0, 0,  0,  2,  7, 1, 6, 6, 2, 10, 0,  10, 1,
                                            6, 6, 2, 20, 0, 30, 0, 7, 7, 3, 40, 10, 60, 0, 8, 1, 0, 1, 1,  10, 0});
    // A dependant with story callbacks, a parked task, a free during a frame.
    Seed("spacecalls", "callbacks_parked", {0,  0, 2, 1,  0, 0, 0, 2, 7, 1,  0, 0,  2, 7, 0, 12, 1, 0, 1,  12, 2, 1, 0,
                                            11, 1, 1, 11, 2, 0, 6, 6, 2, 10, 1, 10, 0, 8, 1, 1,  1, 1, 10, 0,  7, 0});
    // Missing and extra arguments, texts and story objects, made-up IDs.
    Seed("spacecalls", "arguments", {0, 3,   5,   240, 210, 250, 0, 5,  0, 7, 0,  255, 249, 0,  5, 3,
                                     2, 240, 220, 7,   1,   7,   2, 15, 1, 1, 14, 0,   1,   13, 0, 3});
    // A sector and two ships, one on autopilot ordered 200,000 ahead, then
    // one-second frames until it is there; a save and load, an order on the
    // other ship, more frames.
    std::vector<uint8_t> order = {0, 0,   2, 0, 0,   0, 0,   1, 0,   0,  0, 2,   0, 0, 0,  0,   7, 0, 0,
                                  0, 2,   0, 0, 0,   0, 7,   0, 0,   6,  2, 0,   1, 0, 0,  0,   6, 2, 0,
                                  2, 0,   0, 0, 255, 2, 0,   1, 150, 1,  0, 30,  5, 0, 1,  160, 0, 0, 0,
                                  0, 160, 0, 0, 0,   0, 160, 0, 3,   13, 0, 160, 0, 0, 78, 0};
    for (int i = 0; i < 12; ++i) order.insert(order.end(), {8, 3, 1});
    order.insert(order.end(), {10, 0, 0, 27, 4, 0, 2, 0, 1, 160, 0, 0, 78, 0, 150, 0, 8, 0, 1, 8, 4, 1, 8, 3, 1});
    Seed("spacecalls", "order_move", order);
    // Orders of every kind over the ships, courses set straight, objects
    // turned and flagged, missiles aimed, the clock jumping, frames between.
    std::vector<uint8_t> mix = {0, 0, 2, 0, 0,  0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 0, 7, 0, 0, 0, 2,
                                0, 0, 0, 0, 10, 1, 0, 6, 2, 0, 1, 0, 0, 0, 6, 2, 0, 2, 0, 0};
    for (uint8_t call : {9, 10, 13, 14, 15, 16, 17, 19, 20, 22, 26, 27, 28, 29, 31, 32, 33})
        mix.insert(mix.end(), {0, call, 4, 0, 1, 0, 0, 150, 3, 160, 0, 2, 0, 0, 8, 0, 1, 8, 4, 1});
    mix.insert(mix.end(), {16, 1, 255, 0, 1, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 0, 1, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                           5,  0, 0,   0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    for (uint8_t course = 0; course < 37; course += 3)
        mix.insert(mix.end(), {17, 1, course, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0,
                               0,  0, 0,      0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 8, 0, 1, 8, 3, 1});
    mix.insert(mix.end(), {18, 2, 1, 0, 0, 0, 0, 8, 0, 1, 19, 255, 255, 0, 0, 8, 0, 1, 11, 1, 0, 8, 4, 1});
    Seed("spacecalls", "order_mix", mix);
    // A sector and two ships; the arguments cleared so that the callbacks
    // spare them; a missile of the type that splits launched at the second
    // ship, with the story object, and frames until it has split.
    std::vector<uint8_t> split = {0,   0, 2,   130, 0,   130, 0,  1, 0, 0, 0, 2, 130, 0, 130, 0, 7, 0,  0, 0, 2,
                                  130, 0, 130, 0,   7,   0,   0,  6, 2, 0, 1, 0, 0,   0, 6,   2, 0, 2,  0, 0, 0,
                                  2,   2, 130, 0,   130, 0,   15, 1, 2, 4, 0, 0, 0,   0, 0,   1, 0, 12, 3, 0, 1};
    for (int i = 0; i < 12; ++i) split.insert(split.end(), {8, 0, 1});
    Seed("spacecalls", "missile_split", split);
    // A sector, a screen, a gate and a ship placed; the ship started in the
    // gate and launched by the next frames' hangar step while the screen
    // takes the sector's video.
    std::vector<uint8_t> hangar;
    for (uint8_t type : {1, 20, 18, 7}) hangar.insert(hangar.end(), {0, 0, 2, 1, 0, 1, 0, type, 0});
    for (uint8_t pick : {1, 2, 3}) hangar.insert(hangar.end(), {0, 6, 2, 1, pick, 1, 0});
    // Then a harmless call, so that the frames' story code frees and kills nothing.
    hangar.insert(hangar.end(), {0, 25, 2, 1, 3, 1, 2, 0, 2, 2, 130, 0, 130, 0, 8, 0, 1, 8, 0, 1, 8, 5, 1});
    Seed("spacecalls", "hangar_launch", hangar);
    // Takes that find no cut (operation byte 253), made on the sector or on no
    // object, started or removed, with frames between.
    Seed("spacecalls", "take_no_cut",
         {0, 0, 2, 1, 0,   0, 0, 2,   7, 0, 0, 0, 2, 7, 1,   6, 6,    2, 10,  0, 253, 1, 0,
          1, 8, 1, 0, 253, 1, 0, 253, 2, 1, 0, 8, 2, 1, 253, 3, 0xF0, 1, 253, 2, 8,   0, 1});
    // A sector, a ship with two turrets and a second ship started in it; the
    // turret ordered at the second ship (operation byte 248), then at a point
    // its mounting faces away from, frames until both end; a stop; every
    // object decoupled (operation byte 247), with frames between.
    std::vector<uint8_t> turrets;
    for (const auto& [type, sub] : {std::pair<uint8_t, uint8_t>{1, 0}, {7, 1}, {7, 0}})
        turrets.insert(turrets.end(), {0, 0, 2, 150, 0, 150, 0, type, sub});
    for (uint8_t pick : {1, 2}) turrets.insert(turrets.end(), {0, 6, 2, 1, pick, 1, 0});
    // After each order a harmless call, so that the frames' story code frees
    // and kills nothing.
    const std::vector<uint8_t> harmless = {0, 2, 2, 150, 0, 150, 0};
    turrets.insert(turrets.end(), {248, 0, 1, 1, 0, 0, 0, 2, 4, 10});
    turrets.insert(turrets.end(), harmless.begin(), harmless.end());
    turrets.insert(turrets.end(), {8, 3, 1, 8, 3, 1});
    turrets.insert(turrets.end(), {248, 1, 1, 1, 0x81, 0, 0, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 10});
    turrets.insert(turrets.end(), harmless.begin(), harmless.end());
    turrets.insert(turrets.end(), {8, 3, 1, 8, 3, 1, 248, 2, 1, 1, 0, 0, 0, 5});
    for (uint8_t pick : {0, 1, 2}) turrets.insert(turrets.end(), {247, pick, 1, 2, 3, 8, 0, 1});
    Seed("spacecalls", "turret_orders_decoupling", turrets);
}

// Step sequences of the property calls target (fuzz/propcalls.cpp): 0-6 a
// call 34 + b of the story, 7 an object made and placed, 8 a call 0-8, 9 a
// frame, 10 the player's ship, 11 a save and load.
void PropCalls() {
    // A sector, a ship and a laser; the laser mounted on slot 1, then on slot
    // 5; every property read from the ship; a save and load and a frame.
    std::vector<uint8_t> reads = {7, 1, 0, 255, 7,   7, 0, 0,  7, 8, 0, 0, 0, 58,  3,
                                  0, 2, 0, 1,   120, 1, 0, 58, 3, 0, 2, 0, 1, 120, 5};
    for (uint8_t call = 34; call <= 90; ++call)
        reads.insert(reads.end(), {0, static_cast<uint8_t>(call - 34), 1, 0, 1});
    reads.insert(reads.end(), {11, 9, 0, 1});
    Seed("propcalls", "read_properties", reads);
    // A nebula given its sixteen words with an array; two factories, one the
    // other's connection parent, which is then killed; a frame.
    std::vector<uint8_t> links = {7,  1, 0, 255, 7, 21,  0, 0,   7, 6,   0, 0,   7, 6,   0, 0,   0, 91,
                                  10, 0, 1, 120, 1, 120, 2, 120, 3, 120, 4, 120, 5, 120, 6, 215, 8};
    for (int i = 0; i < 8; ++i) links.insert(links.end(), {0, 0, static_cast<uint8_t>(i + 1), 0});
    links.insert(links.end(), {120, 20, 120, 21, 0, 90, 2, 0, 2, 0, 3, 8, 7, 1, 0, 3, 9, 0, 1, 11});
    Seed("propcalls", "nebula_and_factories", links);
    // Setters on a ship that is the player's, with texts and story objects
    // among the arguments and calls on made-up IDs.
    std::vector<uint8_t> sets = {7, 1, 0, 255, 7, 7, 0, 0, 10, 1, 1};
    for (uint8_t call : {40, 48, 64, 66, 67, 69, 74, 88, 98, 110, 120, 127})
        sets.insert(sets.end(), {0, static_cast<uint8_t>(call - 34), 3, 0, 1, 120, 30, 250, 0,
                                 static_cast<uint8_t>(call - 34), 2, 240, 205});
    Seed("propcalls", "setters_on_the_player", sets);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds OUTPUT-FOLDER\n");
        return 2;
    }
    s_out = fs::absolute(argv[1]);
    Fuzz_Init();
    SE_Context* ctx = Fuzz_ScriptContext();
    Catalogs();
    Packed();
    DataFiles();
    Regex();
    Stories();
    g_GalaxyGrid = Int_AllocRecord<GalaxyGrid>(0);
    if (!g_GalaxyGrid || !GS_AllocGalaxy(g_GalaxyGrid, GS_ROWS, GS_COLUMNS)) {
        std::fprintf(stderr, "fuzz_seeds: no galaxy grid\n");
        return 1;
    }
    SaveSections(ctx);
    TimeSections(ctx);
    SoundSections();
    MovieSections();
    GalaxySections();
    GalaxyCalls();
    TypeCalls();
    CockpitCalls();
    PanelCalls();
    MapCalls();
    MenuCalls();
    OverlaySteps();
    HudMarkers();
    HudSteps();
    CockpitSaveSections();
    MovieFiles();
    SaveFiles(ctx);
    TextFiles(ctx);
    Expressions();
    Formats();
    Samples();
    DdsFiles();
    EffectFiles();
    BodyFiles();
    CutFiles();
    TypesFiles();
    SpaceTypesFiles();
    EffectsFiles();
    SceneSections();
    EffectBlock("text", 0);
    EffectBlock("binary", 1);
    Images();
    SoundsFiles();
    Recordings();
    ScenePrograms();
    SpaceCalls();
    PropCalls();
    PlaceCalls();
    // The scene state BodyFiles made served every step up to here; the
    // space world makes its own.
    Fuzz_FreeSceneState();
    SpaceSaveSections();
    {
        std::vector<uint8_t> image = Fuzz_StoryImage();
        SB_LoadStoryImage(ctx, "fuzz", "fuzz", image.data(), uint32_t(image.size()));
        Markup(ctx);
        SB_FreeLocation(ctx);
    }
    std::printf("fuzz_seeds: %d seeds in %s\n", s_written, s_out.c_str());
    return 0;
}
