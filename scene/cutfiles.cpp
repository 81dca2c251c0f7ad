// The two cut readers. Things the formats leave open, read this way (the cut
// converter, tools/lib/cutconv, writes them so):
// - a path that carries an embedded body refers to it: the path's reference
//   (binary: the body number of the path; text: the number after "L") becomes
//   the embedded body's id, and the body takes the path's name;
// - in text, each letter is one character; its values are fields ended by ';'.
//   "l" directly followed by "d" sets path flag 0x04 alone. "E" names the
//   reference in place of the "B" name: a cut with "j", else a body;
// - a count larger than the bytes left in the file is a format error, and an
//   embedded body id that does not fit 32 bits refuses the cut;
// - a load that fails keeps nothing: its embedded bodies and key work arrays go.
#include "scene/cutfiles.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/general.h"
#include "base/log.h"
#include "base/strings.h"
#include "base/table.h"
#include "base/vrmfile.h"
#include "scene/bodybin.h"
#include "scene/bodyrecord.h"
#include "scene/bodytext.h"
#include "scene/cutkeys.h"
#include "scene/ids.h"
#include "scene/names.h"
#include "scene/pools.h"
#include "scene/state.h"

[[noreturn]] void P_Exit(int reason);

namespace {

constexpr int CUT_ROWS = 11;
constexpr int ROW_CUT = 1, ROW_NAME = 2, ROW_VERS = 3, ROW_PATH = 4, ROW_STAT = 5, ROW_NOTE = 6, ROW_CONS = 7,
              ROW_INFO = 9;
constexpr int32_t NO_REFERENCE = -99999;
// Cut flag: a path has path flag 0x200.
constexpr uint32_t CUT_HAS_S_PATH = 0x4;

// The fewest bytes of one element in a binary file: a path (tags, number, an
// empty name, values, flags and two counts), a note, a key, a constraint.
constexpr size_t MIN_PATH_BYTES = 33, MIN_NOTE_BYTES = 5, MIN_KEY_BYTES = 12, MIN_CONSTRAINT_BYTES = 8;
// ... and in a text file ("1;" per field).
constexpr size_t MIN_TEXT_CONSTRAINT_BYTES = 4;

struct CutLoad {
    const char* caller;
    VRMFile* r = nullptr;
    std::string file;
    int32_t cutId = 0;
    J3D_Cut* cut = nullptr;
    std::vector<int32_t> bodies;  // embedded bodies this load read
};

bool Fail(CutLoad& t, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
bool Fail(CutLoad& t, const char* fmt, ...) {
    char buf[600];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    Qel_DPrintf(0, "%s: Error loading cut file %s - %s", t.caller, t.file.c_str(), buf);
    if (t.r) t.r->error = 1;
    return false;
}

size_t BytesLeft(const VRMFile* r) {
    if (!r->cursor) return 0;
    if (!r->base) return strlen(reinterpret_cast<const char*>(r->cursor));
    return r->cursor < r->base + r->size ? size_t(r->base + r->size - r->cursor) : 0;
}

bool CountFits(const VRMFile* r, int64_t count, size_t bytesEach) {
    return !r->error && count >= 0 && uint64_t(count) <= BytesLeft(r) / bytesEach;
}

bool CountFail(CutLoad& t, int row, int32_t count, int32_t path) {
    return Fail(t, "invalid %s count %d in path %d\n", g_VRMCutTags[row].longName, count, path);
}

// The four bytes at the cursor are this tag (binary).
bool AtTag(const VRMFile* r, const char* tag) {
    return !r->error && BytesLeft(r) >= 4 && std::memcmp(r->cursor, tag, 4) == 0;
}

// The next character after blanks and comments (text), 0 at the end.
int PeekChar(VRMFile* r) {
    if (r->error) return 0;
    Qel_ReaderSkip(r);
    return BytesLeft(r) ? *r->cursor : 0;
}

char* ReadName(VRMFile* r) {
    if (!r->binary) Qel_ReaderSkip(r);
    return r->ReadString();
}

std::string CutFileName(int32_t cutId, const char* ext) {
    const B3DCutSlot* slot = B3D_CutSlotOf(cutId);
    char buf[300];
    if (slot && slot->name) std::snprintf(buf, sizeof buf, "cut\\%s.%s", slot->name, ext);
    else std::snprintf(buf, sizeof buf, "cut\\%05d.%s", static_cast<int>(cutId), ext);
    return buf;
}

// The packed form first when packed files are on, then the plain one.
VRMFile* OpenCut(CutLoad& t, bool binary) {
    const char* kind = binary ? "binary " : "";
    const int binaryFlag = binary ? 1 : 0;
    if (g_SystemState && (g_SystemState->startFlags & QEL_START_PACKED)) {
        t.file = CutFileName(t.cutId, binary ? "pbb" : "pbd");
        VRMFile* r = Qel_StreamCreate(t.file.c_str(), 1, 1, binaryFlag, g_VRMCutTags, CUT_ROWS);
        if (r && !r->error) {
            Qel_DPrintf(4, "%s: Loaded packed %scut file %s (%d)\n", t.caller, kind, t.file.c_str(), int(t.cutId));
            return r;
        }
        Qel_CloseFileBuffer(r);
    }
    t.file = CutFileName(t.cutId, binary ? "bob" : "bod");
    VRMFile* r = Qel_StreamCreate(t.file.c_str(), 1, 0, binaryFlag, g_VRMCutTags, CUT_ROWS);
    if (r && !r->error) {
        Qel_DPrintf(4, "%s: Loaded %scut file %s (%d)\n", t.caller, kind, t.file.c_str(), int(t.cutId));
        return r;
    }
    Qel_CloseFileBuffer(r);
    return nullptr;
}

void RememberFile(const CutLoad& t) {
    QelTable* table = g_B3DState->nameTables[B3D_USED_CUT_FILES];
    if (!(g_B3DState->engineFlags & B3D_ENGINE_LIST_CUT_FILES) || !table) return;
    Qel_StrFree(reinterpret_cast<char*>(Qel_TableGet(table, uint32_t(t.cutId))));
    Qel_TableSet(table, uint32_t(t.cutId), reinterpret_cast<uintptr_t>(Qel_StrDup(t.file.c_str())));
}

template <class T>
T* AllocJ(int64_t count) {
    return static_cast<T*>(B3D_AllocMemJ(int32_t(count * int64_t(sizeof(T))), B3D_MEM_ZERO));
}

template <class T>
void FreeJ(T*& p, int64_t count) {
    if (p) B3D_FreeMemJ(int32_t(count * int64_t(sizeof(T))), p, B3D_MEM_ZERO);
    p = nullptr;
}

void ReleasePath(J3D_CutPath& p) {
    p.name = Qel_StrFree(p.name);
    for (int32_t i = 0; p.notes && i < p.noteCount; ++i) p.notes[i].text = Qel_StrFree(p.notes[i].text);
    FreeJ(p.notes, p.noteCount);
    FreeJ(p.constraints, p.constraintCount);
    FreeJ(p.posKeys, p.posCount);
    FreeJ(p.rotKeys, p.rotCount);
    FreeJ(p.targetKeys, p.targetCount);
    FreeJ(p.rollKeys, p.rollCount);
    FreeJ(p.colorKeys, p.colorCount);
    FreeJ(p.fovKeys, p.fovCount);
    p.noteCount = p.constraintCount = 0;
    p.posCount = p.rotCount = p.targetCount = p.rollCount = p.colorCount = p.fovCount = 0;
}

J3D_Cut* NewCut(CutLoad& t) {
    t.cut = AllocJ<J3D_Cut>(1);
    return t.cut;
}

// Success enters the cut; failure gives back all the load made.
J3D_Cut* Finish(CutLoad& t, bool ok) {
    if (t.r) Qel_CloseFileBuffer(t.r);
    t.r = nullptr;
    if (!ok) {
        J3D_DropPathKeys();
        J3D_ReleaseCutMemory(t.cut);
        for (int32_t id : t.bodies)
            if (auto* body = static_cast<Body3D*>(B3D_FindBody(id))) B3D_FreeBody(body);
        return nullptr;
    }
    t.cut->id = uint32_t(t.cutId);
    Qel_TableSet(g_B3DState->cutTable, uint32_t(t.cutId), reinterpret_cast<uintptr_t>(t.cut));
    return t.cut;
}

// The embedded body's id, or a refused cut.
bool EmbeddedId(CutLoad& t, int32_t number, int32_t* id) {
    if (J3D_EmbeddedBodyId(t.cutId, number, id)) return true;
    return Fail(t, "embedded body %d does not fit a 32-bit body id in cut %d\n", number, t.cutId);
}

// Reads a body at the stream's position with the body chunk table.
Body3D* ReadEmbeddedBody(VRMFile* r, int32_t id, bool binary) {
    const VRMTagRow* tags = r->tags;
    const int32_t rows = r->rowCount;
    r->tags = g_VRMBodyTags;
    r->rowCount = 18;
    Body3D* body = binary ? B3D_LoadBodyBin(r, id) : B3D_LoadBody2(r, id);
    r->tags = tags;
    r->rowCount = rows;
    return body;
}

void NameBody(int32_t id, const char* name) {
    auto* body = static_cast<Body3D*>(B3D_FindBody(id));
    if (body && name) body->name = Qel_StrReassign(body->name, name);
}

// ------------------------------------------------------------------ binary

bool EndOf(CutLoad& t, int row) {
    VRMFile* r = t.r;
    const int32_t depth = r->depth;
    const int got = r->ReadTag(row);
    if (r->error || got != row || r->depth >= depth)
        return Fail(t, "chunk end mismatch in %s\n", g_VRMCutTags[row].longName);
    return true;
}

bool ReadConstraints(CutLoad& t, J3D_CutPath& p, int32_t index, bool binary) {
    VRMFile* r = t.r;
    const int32_t count = r->ReadInt();
    if (!CountFits(r, count, binary ? MIN_CONSTRAINT_BYTES : MIN_TEXT_CONSTRAINT_BYTES))
        return CountFail(t, ROW_CONS, count, index);
    FreeJ(p.constraints, p.constraintCount);
    p.constraintCount = 0;
    if (count) {
        p.constraints = AllocJ<J3D_Constraint>(count);
        if (!p.constraints) {
            Qel_DPrintf(0, "%s: Error loading cut file %s - unable to allocate positions constraints in path %d\n",
                        t.caller, t.file.c_str(), index);
            P_Exit(3);
        }
        p.constraintCount = count;
    }
    for (int32_t i = 0; i < count; ++i) {
        p.constraints[i].value = r->ReadInt();
        p.constraints[i].fixed = r->ReadFixed();
    }
    return !r->error || Fail(t, "invalid %s data in path %d\n", g_VRMCutTags[ROW_CONS].longName, index);
}

bool ReadBinaryPath(CutLoad& t, int32_t version, J3D_CutPath& p, int32_t index) {
    VRMFile* r = t.r;
    if (r->ReadTag(ROW_CUT) != ROW_PATH || r->error) return Fail(t, "path chunk not found in path %d\n", index);
    p.reference = NO_REFERENCE;
    p.pathNr = r->ReadInt();
    char* name = nullptr;
    int32_t number = 0;
    if (version >= 6) name = r->ReadString();
    else number = r->ReadInt();
    p.value1 = r->ReadInt();
    p.value2 = r->ReadInt();
    p.flags = r->ReadUInt();
    if (version >= 6) {
        if (p.flags & PATH_CUT) {
            p.reference = name ? B3D_GetCutID(name) : 0;
        } else {
            p.reference = name ? B3D_GetBodyID(name) : 0;
            p.flags |= PATH_BODY;
        }
    } else {
        p.reference = number;
        p.flags |= PATH_BODY;
    }
    Qel_StrFree(name);
    if (p.flags & PATH_S) t.cut->flags |= CUT_HAS_S_PATH;
    if (AtTag(r, "NAME")) {
        r->ReadTag(ROW_PATH);
        p.name = r->ReadString();
        if (!EndOf(t, ROW_NAME)) return false;
    }
    if (AtTag(r, "CONS")) {
        r->ReadTag(ROW_PATH);
        if (!ReadConstraints(t, p, index, true) || !EndOf(t, ROW_CONS)) return false;
    }
    if (AtTag(r, "BOB1")) {
        int32_t id = 0;
        if (!EmbeddedId(t, p.reference, &id)) return false;
        if (B3D_FindBody(id)) {
            if (!r->SkipToTag()) return Fail(t, "unable to find end of embedded body file %d\n", id);
        } else {
            if (!ReadEmbeddedBody(r, id, true)) return Fail(t, "could not load embedded body file %d\n", id);
            t.bodies.push_back(id);
            NameBody(id, p.name);
        }
        p.reference = id;
    }
    const int32_t noteCount = r->ReadInt();
    if (noteCount) {
        if (!CountFits(r, noteCount, MIN_NOTE_BYTES)) return CountFail(t, ROW_NOTE, noteCount, index);
        if (r->ReadTag(ROW_PATH) != ROW_NOTE || r->error)
            return Fail(t, "note chunk not found in path %d, note %d\n", index, noteCount);
        p.notes = AllocJ<J3D_Note>(noteCount);
        if (!p.notes) {
            Qel_DPrintf(0, "J3D_LoadCutBin: Error loading cut file %s - unable to allocate notes for path %d\n",
                        t.file.c_str(), index);
            P_Exit(3);
        }
        p.noteCount = noteCount;
        for (int32_t i = 0; i < noteCount && !r->error; ++i) {
            p.notes[i].time = r->ReadInt();
            char* text = r->ReadString();
            if (text && !*text) text = Qel_StrFree(text);
            p.notes[i].text = text;
        }
        if (!EndOf(t, ROW_NOTE)) return false;
    }
    const int32_t keyCount = r->ReadInt();
    J3D_BeginPathKeys();
    if (keyCount) {
        if (!CountFits(r, keyCount, MIN_KEY_BYTES)) return CountFail(t, ROW_STAT, keyCount, index);
        if (r->ReadTag(ROW_PATH) != ROW_STAT || r->error)
            return Fail(t, "states chunk not found in path %d, note %d\n", index, keyCount);
        for (int32_t k = 0; k < keyCount && !r->error; ++k) {
            const uint32_t kind = r->ReadUInt();
            if (!J3D_LoadCutKey(r, kind | KEY_BINARY, t.file.c_str(), index, k)) return false;
        }
        if (!EndOf(t, ROW_STAT)) return false;
    }
    if (!EndOf(t, ROW_PATH)) return false;
    J3D_FinishPathKeys(&p);
    return true;
}

bool ReadBinaryCut(CutLoad& t) {
    VRMFile* r = t.r;
    if (r->ReadTag(0) != ROW_CUT || r->error) return Fail(t, "main cut chunk not found\n");
    const int tag = r->ReadTag(ROW_CUT);
    if (!r->error && tag == ROW_INFO) {
        char* info = r->ReadString();
        if (info) Qel_DPrintf(4, "J3D_LoadCutBin: Found info \"%s\" in file %s\n", info, t.file.c_str());
        Qel_StrFree(info);
        if (!EndOf(t, ROW_INFO)) return false;
    } else if (tag != ROW_VERS) {
        r->error = 1;
    }
    const int32_t version = r->ReadInt();
    const int32_t count = r->ReadInt();
    if (!r->error && !CountFits(r, count, MIN_PATH_BYTES)) return CountFail(t, ROW_PATH, count, 0);
    if (!r->error) {
        t.cut->paths = AllocJ<J3D_CutPath>(count);
        if (!t.cut->paths) {
            Qel_DPrintf(0, "J3D_LoadCutBin: Error loading cut file %s - unable to allocate paths\n", t.file.c_str());
            P_Exit(3);
        }
        t.cut->pathCount = count;
    }
    for (int32_t i = 0; i < t.cut->pathCount; ++i)
        if (!ReadBinaryPath(t, version, t.cut->paths[i], i)) return false;
    return EndOf(t, ROW_CUT);
}

// ------------------------------------------------------------------ text

bool BadPath(CutLoad& t, int32_t index) {
    return Fail(t, "invalid %s data in path %d\n", g_VRMCutTags[ROW_PATH].longName, index);
}

// "L": the body number, then the body's text between braces unless the body
// is loaded already.
bool ReadTextBody(CutLoad& t, J3D_CutPath& p, int32_t index, int32_t* loaded) {
    VRMFile* r = t.r;
    const int32_t number = r->ReadInt();
    if (r->error) return BadPath(t, index);
    int32_t id = 0;
    if (!EmbeddedId(t, number, &id)) return false;
    p.reference = id;
    if (PeekChar(r) != '{') return true;
    r->cursor++;
    if (B3D_FindBody(id)) {
        Qel_DPrintf(4, "J3D_LoadCut2: Found embedded body %d\n", int(id));
        while (BytesLeft(r) && *r->cursor != '}') r->cursor++;
    } else {
        if (!ReadEmbeddedBody(r, id, false)) return Fail(t, "unable to load embedded body file %d\n", int(id));
        t.bodies.push_back(id);
        *loaded = id;
        Qel_DPrintf(4, "J3D_LoadCut2: Loaded embedded body %d\n", int(id));
    }
    if (PeekChar(r) != '}') return Fail(t, "unable to load embedded body file %d\n", int(id));
    r->cursor++;
    return true;
}

bool ReadTextPath(CutLoad& t, int32_t version, J3D_CutPath& p, int32_t index) {
    VRMFile* r = t.r;
    p.pathNr = r->ReadInt();
    if (PeekChar(r) != 'B') return BadPath(t, index);
    r->cursor++;
    char* bName = ReadName(r);
    char* eName = nullptr;
    p.reference = NO_REFERENCE;
    p.value2 = -1;
    p.flags = PATH_BODY;
    std::vector<J3D_Note> notes;
    int32_t loaded = 0;
    bool ok = true;
    while (ok && !r->error) {
        const int c = PeekChar(r);
        if (!c || !std::strchr("CFENKMLTclbjfsp", c)) break;
        r->cursor++;
        switch (c) {
            case 'C': p.value1 = r->ReadInt(); break;
            case 'F': p.value2 = r->ReadInt(); break;
            case 'N':
                Qel_StrFree(p.name);
                p.name = ReadName(r);
                break;
            case 'E':
                Qel_StrFree(eName);
                eName = ReadName(r);
                break;
            case 'K': ok = ReadConstraints(t, p, index, false); break;
            case 'M':
                for (int i = 0; i < 9; ++i) r->ReadFixed();
                break;
            case 'L': ok = ReadTextBody(t, p, index, &loaded); break;
            case 'T':
                for (;;) {
                    const int32_t frame = r->ReadInt();
                    if (r->error || frame == -1) break;
                    char* text = ReadName(r);
                    if (text && !*text) text = Qel_StrFree(text);
                    notes.push_back(J3D_Note{frame, text});
                }
                break;
            case 'c': p.flags |= 0x01; break;
            case 'l':
                if (PeekChar(r) == 'd') {
                    r->cursor++;
                    p.flags |= 0x04;
                } else {
                    p.flags |= 0x02;
                }
                break;
            case 'f': p.flags |= 0x20; break;
            case 's': p.flags |= PATH_S; break;
            case 'p': p.flags |= PATH_LOOP; break;
            case 'j': p.flags = (p.flags | PATH_CUT) & ~PATH_BODY; break;
            default: break;  // 'b' is accepted and does nothing
        }
    }
    if (ok && !notes.empty()) {
        p.notes = AllocJ<J3D_Note>(int64_t(notes.size()));
        if (!p.notes) {
            ok = Fail(t, "unable to allocate cut\n");
        } else {
            std::memcpy(p.notes, notes.data(), notes.size() * sizeof(J3D_Note));
            p.noteCount = int32_t(notes.size());
            notes.clear();
        }
    }
    for (J3D_Note& n : notes) Qel_StrFree(n.text);
    const char* refName = eName ? eName : bName;
    if (ok && !r->error && refName) {
        if (p.flags & PATH_CUT) p.reference = B3D_GetCutID(refName);
        else if (p.reference == NO_REFERENCE) p.reference = B3D_GetBodyID(refName);
    }
    Qel_StrFree(bName);
    Qel_StrFree(eName);
    if (!ok) return false;
    if (r->error) return BadPath(t, index);
    if (p.flags & PATH_S) t.cut->flags |= CUT_HAS_S_PATH;
    if (loaded) NameBody(loaded, p.name);
    J3D_BeginPathKeys();
    for (int32_t k = 0; PeekChar(r) == '{'; ++k) {
        r->cursor++;
        const uint32_t kind = version >= 2 ? r->ReadUInt() : 0;
        if (!J3D_LoadCutKey(r, kind, t.file.c_str(), index, k)) return false;
        if (r->error || PeekChar(r) != '}')
            return Fail(t, "invalid %s data in path %d, state %d\n", g_VRMCutTags[ROW_STAT].longName, index, k);
        r->cursor++;
    }
    J3D_FinishPathKeys(&p);
    return true;
}

bool ReadTextCut(CutLoad& t) {
    VRMFile* r = t.r;
    if (r->ReadTag(0) != ROW_VERS || r->error) return Fail(t, "version not found\n");
    const int32_t version = r->ReadInt();
    if (r->error) return Fail(t, "unable to load version\n");
    if (!NewCut(t)) return Fail(t, "unable to allocate cut\n");
    // The paths are read into a table first; the cut gets an array of their count.
    std::vector<J3D_CutPath> paths;
    bool ok = true;
    while (ok && PeekChar(r) == 'P') {
        r->cursor++;
        paths.emplace_back();
        ok = ReadTextPath(t, version, paths.back(), int32_t(paths.size() - 1));
    }
    if (ok) {
        t.cut->paths = AllocJ<J3D_CutPath>(int64_t(paths.size()));
        if (t.cut->paths) {
            if (!paths.empty()) std::memcpy(t.cut->paths, paths.data(), paths.size() * sizeof(J3D_CutPath));
            t.cut->pathCount = int32_t(paths.size());
            return true;
        }
        ok = Fail(t, "unable to allocate cut\n");
    }
    for (J3D_CutPath& p : paths) ReleasePath(p);
    return false;
}

}  // namespace

bool J3D_EmbeddedBodyId(int32_t cutId, int32_t number, int32_t* bodyId) {
    const int64_t id = int64_t(cutId) * 100000 + number - 100000;
    if (id < INT32_MIN || id > INT32_MAX) return false;
    *bodyId = int32_t(id);
    return true;
}

void J3D_ReleaseCutMemory(J3D_Cut* cut) {
    if (!cut) return;
    for (int32_t i = 0; cut->paths && i < cut->pathCount; ++i) ReleasePath(cut->paths[i]);
    FreeJ(cut->paths, cut->pathCount);
    cut->pathCount = 0;
    B3D_FreeMemJ(sizeof(J3D_Cut), cut, B3D_MEM_ZERO);
}

J3D_Cut* J3D_LoadCutBin(int32_t cutId) {
    CutLoad t;
    t.caller = "J3D_LoadCutBin";
    t.cutId = cutId;
    t.r = OpenCut(t, true);
    if (!t.r) return nullptr;
    RememberFile(t);
    if (!NewCut(t)) {
        Qel_DPrintf(0, "J3D_LoadCutBin: Error loading cut file %s - unable to allocate cut\n", t.file.c_str());
        P_Exit(3);
    }
    const bool ok = ReadBinaryCut(t);
    return Finish(t, ok);
}

J3D_Cut* J3D_LoadCut2(int32_t cutId) {
    CutLoad t;
    t.caller = "J3D_LoadCut2";
    t.cutId = cutId;
    t.r = OpenCut(t, false);
    if (!t.r) return nullptr;
    RememberFile(t);
    const bool ok = ReadTextCut(t);
    return Finish(t, ok);
}
