#include "space/typesdb.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/log.h"
#include "base/memory.h"
#include "base/standin_calls.h"
#include "base/strings.h"
#include "base/table.h"
#include "scene/caches.h"
#include "scene/names.h"
#include "scene/state.h"
#include "scene/typesfiles.h"
#include "space/objects.h"
#include "space/components.h"
#include "space/cutscene.h"
#include "space/queries.h"

TypeDatabase g_TypeDB = {};

const VRMNameValue g_SAGlobalNames[SA_GLOBAL_NAME_COUNT + 1] = {
    {"SG_MAXSTRAFEFACTOR_SMALLSHIP", 1},
    {"SG_MAXSTRAFEFACTOR_BIGSHIP", 2},
    {"SG_MAXGLIDESPEED", 3},
    {"SG_SCANNER_RANGE_SHIP", 4},
    {"SG_SCANNER_RANGE_SHIP_UPGRADE2", 5},
    {"SG_SCANNER_RANGE_SHIP_UPGRADE3", 6},
    {"SG_SCANNER_RANGE_SATELLITE", 7},
    {"SG_SCANNER_RANGE_SATELLITE2", 8},
    {"SG_SCANNER_RANGE_STATION", 9},
    {"SG_SCANNER_RANGE_ORBITALLASER", 10},
    {"SG_SCANNER_RANGE_FREIGHTSCANNER", 11},
    {"SG_SCANNER_RANGE_SO_NEBULA", 12},
    {"SG_AVRSPEED", 13},
    {"SG_HUE_ZEROPOS_VARSK", 14},
    {"SG_HUEMODIFIER_MIN_VARSK", 15},
    {"SG_HUEMODIFIER_MAX_VARSK", 16},
    {"SG_SATMODIFIER_SPECIAL_VARSK", 17},
    {"SG_SATMODIFIER_DEFAULT_VARSK", 18},
    {"SG_HUE_ZEROPOS_MELUQ", 19},
    {"SG_HUEMODIFIER_MIN_MELUQ", 20},
    {"SG_HUEMODIFIER_MAX_MELUQ", 21},
    {"SG_SATMODIFIER_SPECIAL_MELUQ", 22},
    {"SG_SATMODIFIER_DEFAULT_MELUQ", 23},
    {"SG_HUE_ZEROPOS_DRASZ", 24},
    {"SG_HUEMODIFIER_MIN_DRASZ", 25},
    {"SG_HUEMODIFIER_MAX_DRASZ", 26},
    {"SG_SATMODIFIER_SPECIAL_DRASZ", 27},
    {"SG_SATMODIFIER_DEFAULT_DRASZ", 28},
    {"SG_HUE_ZEROPOS_QUORIN", 29},
    {"SG_HUEMODIFIER_MIN_QUORIN", 30},
    {"SG_HUEMODIFIER_MAX_QUORIN", 31},
    {"SG_SATMODIFIER_SPECIAL_QUORIN", 32},
    {"SG_SATMODIFIER_DEFAULT_QUORIN", 33},
    {"SG_HUE_ZEROPOS_OSSYL", 34},
    {"SG_HUEMODIFIER_MIN_OSSYL", 35},
    {"SG_HUEMODIFIER_MAX_OSSYL", 36},
    {"SG_SATMODIFIER_SPECIAL_OSSYL", 37},
    {"SG_SATMODIFIER_DEFAULT_OSSYL", 38},
    {"SG_HUE_ZEROPOS_ZEVRA", 39},
    {"SG_HUEMODIFIER_MIN_ZEVRA", 40},
    {"SG_HUEMODIFIER_MAX_ZEVRA", 41},
    {"SG_SATMODIFIER_SPECIAL_ZEVRA", 42},
    {"SG_SATMODIFIER_DEFAULT_ZEVRA", 43},
    {"SG_HUE_ZEROPOS_THUUN", 44},
    {"SG_HUEMODIFIER_MIN_THUUN", 45},
    {"SG_HUEMODIFIER_MAX_THUUN", 46},
    {"SG_SATMODIFIER_SPECIAL_THUUN", 47},
    {"SG_SATMODIFIER_DEFAULT_THUUN", 48},
    {"SG_HUE_ZEROPOS_PIRATE", 49},
    {"SG_HUEMODIFIER_MIN_PIRATE", 50},
    {"SG_HUEMODIFIER_MAX_PIRATE", 51},
    {"SG_SATMODIFIER_SPECIAL_PIRATE", 52},
    {"SG_SATMODIFIER_DEFAULT_PIRATE", 53},
    {"SG_HUE_ZEROPOS_VOTHRI", 54},
    {"SG_HUEMODIFIER_MIN_VOTHRI", 55},
    {"SG_HUEMODIFIER_MAX_VOTHRI", 56},
    {"SG_SATMODIFIER_SPECIAL_VOTHRI", 57},
    {"SG_SATMODIFIER_DEFAULT_VOTHRI", 58},
    {"SG_HUE_ZEROPOS_SOLEN", 59},
    {"SG_HUEMODIFIER_MIN_SOLEN", 60},
    {"SG_HUEMODIFIER_MAX_SOLEN", 61},
    {"SG_SATMODIFIER_SPECIAL_SOLEN", 62},
    {"SG_SATMODIFIER_DEFAULT_SOLEN", 63},
    {"SG_HUE_ZEROPOS_RUVO", 64},
    {"SG_HUEMODIFIER_MIN_RUVO", 65},
    {"SG_HUEMODIFIER_MAX_RUVO", 66},
    {"SG_SATMODIFIER_SPECIAL_RUVO", 67},
    {"SG_SATMODIFIER_DEFAULT_RUVO", 68},
    {"SG_MM_METHOD", 69},
    {"SG_MM_YIELD_TYPE", 70},
    {"SG_MM_YIELD_MULTIPLIER", 71},
    {"SG_MM_YIELD_DIVISOR", 72},
    {"SG_MM_YIELD_ZERO", 73},
    {"SG_MM_RELVALUE_TYPE", 74},
    {"SG_MM_RELVALUE_BASE", 75},
    {"SG_MM_EMPTY_MULTIPLIER", 76},
    {"SG_MM_EMPTY_DIVISOR", 77},
    {"SG_MM_EMPTY_PERCENTAGE", 78},
    {"SG_MM_FIXED_MINIMUM", 79},
    {"SG_MM_RANDOM_MINIMUM", 80},
    {"SG_MM_RANDOM_RANGE", 81},
    {"SG_MM_BULLET_ENERGY", 82},
    {"SG_MM_DESTRUCTION_RANGE", 83},
    {"SG_DETAILVISIBLE_MINDIST", 84},
    {"", 0},
};

const VRMNameValue g_SADummyKinds[] = {{"SDTYPE_ANIMATED", 0}, {"SDTYPE_DOCK", 1},       {"SDTYPE_DOORWAY", 2},
                                       {"SDTYPE_GUN", 3},      {"SDTYPE_CONNECTION", 4}, {"", 0}};
const VRMNameValue g_SADummyFlags[] = {{"ANIMATEDF_DOCKPORT_M5", 128},
                                       {"ANIMATEDF_DOCKPORT_M4", 64},
                                       {"ANIMATEDF_DOCKPORT_M3", 32},
                                       {"ANIMATEDF_DOCKPORT_TS", 2},
                                       {"ANIMATEDF_DOCKPORT_TS_P", 512},
                                       {"ANIMATEDF_DOCKPORT_TP", 4096},
                                       {"ANIMATEDF_DOCKPORT_M6", 2048},
                                       {"ANIMATEDF_DOCKPORT_M2", 16},
                                       {"ANIMATEDF_DOCKPORT_M1", 8},
                                       {"ANIMATEDF_DOCKPORT_TL", 1},
                                       {"ANIMATEDF_DOCKPORT_GO", 1024},
                                       {"ANIMATEDF_DOCKPORT_FIGHTER", 224},
                                       {"ANIMATEDF_DOCKPORT_TRANSPORT", 5634},
                                       {"ANIMATEDF_DOCKPORT_LITTLESHIP", 5858},
                                       {"ANIMATEDF_DOCKPORT_BIGSHIP", 10265},
                                       {"ANIMATEDF_DOCKPORT_HUGESHIP", 25},
                                       {"ANIMATEDF_DOCKPORT_STANDARD", 16098},
                                       {"ANIMATEDF_DOCKPORT_UDREV", 65536},
                                       {"ANIMATEDF_DOCKPORT_UDFWD", 131072},
                                       {"ANIMATEDF_DOCKPORT_STARTONLY", 262144},
                                       {"ANIMATEDF_DOCKPORT_LANDONLY", 524288},
                                       {"ANIMATEDF_DOCKPORT_HANGAR", 1048576},
                                       {"ANIMATEDF_DOCKPORT_QUICKLAUNCH", 2097152},
                                       {"ANIMATEDF_DOCKPORT_UDDOWN", 4194304},
                                       {"ANIMATEDF_DOCKPORT_BELOW30", 8388608},
                                       {"ANIMATEDF_DOCKPORT_BELOW60", 16777216},
                                       {"ANIMATEDF_DOCKPORT_UDBACK", 33554432},
                                       {"DWF_OUTERDOCK", 1},
                                       {"DWF_INNERDOCK", 2},
                                       {"DWF_PLATFORM", 4},
                                       {"DWF_CARRIER", 8},
                                       {"GUNF_FIXED", 1},
                                       {"GUNF_ROTATE", 2},
                                       {"NULL", 0},
                                       {"", 0}};
const VRMNameValue g_SADummyStates[] = {{"ANIMATEDSTATUS_NORMAL", 0},
                                        {"DOORSTATUS_OPENING", 0},
                                        {"DOORSTATUS_CLOSING", 1},
                                        {"DOORSTATUS_OPEN", 2},
                                        {"DOORSTATUS_CLOSED", 3},
                                        {"GUNSTATUS_INITIAL", 0},
                                        {"GUNSTATUS_FIRING", 1},
                                        {"NULL", 0},
                                        {"", 0}};
const VRMNameValue g_SAGunPartFlags[] = {
    {"GUNPARTF_ROTATEALPHA", 1}, {"GUNPARTF_ROTATEBETA", 2}, {"GUNPARTF_ROTATEGAMMA", 4}, {"NULL", 0}, {"", 0}};
const VRMNameValue g_SASpecialBodyKinds[] = {{"SBTYPE_2D", 0},         {"SBTYPE_2D2", 1},
                                             {"SBTYPE_2DY", 2},        {"SBTYPE_LOGO", 3},
                                             {"SBTYPE_FC", 4},         {"SBTYPE_TURRET", 5},
                                             {"SBTYPE_JET", 6},        {"SBTYPE_RADAR", 7},
                                             {"SBTYPE_CONTAINER", 8},  {"SBTYPE_DISPLAY", 9},
                                             {"SBTYPE_DOCKPOINT", 10}, {"SBTYPE_FACECAMERA", 11},
                                             {"SBTYPE_SMALLJET", 12},  {"", 0}};
const VRMNameValue g_SAComponentKinds[] = {{"SCTYPE_LASER", 0}, {"SCTYPE_COCKPIT", 1}, {"SCTYPE_DOCKING", 2}, {"", 0}};
const VRMNameValue g_SALaserFlags[] = {{"LASERF_ROTATE", 1}, {"NULL", 0}, {"", 0}};
const VRMNameValue g_SAMatchKinds[] = {{"SMTYPE_MINE", 0}, {"", 0}};
const VRMNameValue g_SAMatchFlags[] = {
    {"MATCHF_CUT1", 1}, {"MATCHF_CUT2", 2}, {"MATCHF_CUTMATCH", 4}, {"NULL", 0}, {"", 0}};

namespace {

// The database's blocks are booked under the space module's tag.
constexpr uint32_t kDbFlags = Int_MemTag(14) | INT_MEM_ZERO_TAIL;

// The T* tables in load order: ships after cockpits and missiles.
constexpr int32_t kTableOrder[] = {0,  2,  3,  4,  5,  6,  25, 8, 9,  10, 11, 12,
                                   13, 14, 15, 16, 17, 18, 20, 7, 28, 29, 30, 31};

const char* const kTableFiles[SA_MAIN_TYPE_COUNT] = {"TBullets",
                                                     "",
                                                     "TBackgrounds",
                                                     "TSuns",
                                                     "TPlanets",
                                                     "TDocks",
                                                     "TFactories",
                                                     "TShips",
                                                     "TLaser",
                                                     "TShields",
                                                     "TMissiles",
                                                     "TWareE",
                                                     "TWareN",
                                                     "TWareB",
                                                     "TWareF",
                                                     "TWareM",
                                                     "TWareT",
                                                     "TAsteroids",
                                                     "TGates",
                                                     "",
                                                     "TSpecial",
                                                     "",
                                                     "",
                                                     "",
                                                     "",
                                                     "TCockpits",
                                                     "",
                                                     "",
                                                     "TDebris",
                                                     "TDocksWrecks",
                                                     "TFactoriesWrecks",
                                                     "TShipsWrecks"};

// Dummy kinds' state-cut slot for the Components rebuild and the animated kind.
constexpr int32_t kAnimatedKind = 0;
constexpr int32_t kGunKind = 3;

template <class T>
T* AllocArray(int64_t count) {
    if (count <= 0) return nullptr;
    return static_cast<T*>(Int_AllocMem(sizeof(T) * static_cast<size_t>(count), kDbFlags));
}

template <class T>
void FreeArray(T* p, int64_t count) {
    if (p && count > 0) Int_FreeMem(p, sizeof(T) * static_cast<size_t>(count), kDbFlags);
}

// Grows an array of count records by more; the new records are zero. False
// (the array as it was) when memory runs out.
template <class T>
bool GrowArray(T** array, int32_t count, int32_t more) {
    if (more <= 0) return true;
    const size_t oldSize = sizeof(T) * static_cast<size_t>(count);
    const size_t newSize = sizeof(T) * (static_cast<size_t>(count) + static_cast<size_t>(more));
    void* p = *array ? Int_ReAllocMem(*array, oldSize, newSize, kDbFlags) : Int_AllocMem(newSize, kDbFlags);
    if (!p) return false;
    *array = static_cast<T*>(p);
    return true;
}

// Appends one record: the array always holds exactly its count, so that it
// is freed with the size it has. False when memory runs out.
template <class T>
bool Append(T** array, int32_t* count, const T& value) {
    if (!GrowArray(array, *count, 1)) return false;
    (*array)[(*count)++] = value;
    return true;
}

// A list block: its count n, then n words.
int32_t* AllocBlock(int32_t n) {
    auto* block = AllocArray<int32_t>(int64_t{n} + 1);
    if (block) block[0] = n;
    return block;
}
void FreeBlock(int32_t* block) {
    if (block) FreeArray(block, int64_t{block[0]} + 1);
}

// What the rest of a text file can hold: every field takes one ';' at least.
bool CountFits(const VRMFile* r, int64_t count, int64_t fieldsEach) {
    if (r->error || count < 0) return false;
    const int64_t left = r->base ? static_cast<int64_t>(r->size) - (r->cursor - r->base) : 0;
    return count * fieldsEach <= left;
}

// Passes blanks and comments: 1 when nothing but them is left.
bool AtEnd(VRMFile* r) {
    if (r->error) return true;
    Qel_ReaderSkip(r);
    return !r->cursor || *r->cursor == 0 || (r->base && r->cursor >= r->base + r->size);
}

int32_t ReadBody(VRMFile* r) {
    char* name = r->ReadString();
    const int32_t id = name && !r->error ? B3D_GetBodyID(name) : 0;
    Qel_StrFree(name);
    return id;
}

int32_t ReadCut(VRMFile* r) {
    char* name = r->ReadString();
    const int32_t id = name && !r->error ? B3D_GetCutID(name) : 0;
    Qel_StrFree(name);
    return id;
}

struct Reader {
    VRMFile* r;
    explicit Reader(const char* name) : r(B3DB_OpenTypesFile(name)) {}
    ~Reader() { Qel_CloseFileBuffer(r); }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;
};

// ---------------------------------------------------------------- core files

// A file of a count and that many records: each read whole (read answers
// false, or leaves the error flag set, for one that is not) is appended; the
// first that is not ends the file with the message. False when the file
// cannot be opened.
template <class T>
bool LoadCounted(const char* file, const char* message, int64_t fieldsEach, T** array, int32_t* count,
                 bool (*read)(VRMFile*, T*), void (*drop)(T*)) {
    Reader f(file);
    VRMFile* r = f.r;
    if (!r) return false;
    const int32_t n = r->ReadInt();
    if (!CountFits(r, n, fieldsEach)) {
        Qel_ErrPrintf(message, 0);
        return true;
    }
    for (int32_t i = 0; i < n; ++i) {
        T record{};
        if (!read(r, &record) || r->error) {
            drop(&record);
            Qel_ErrPrintf(message, i);
            break;
        }
        if (!Append(array, count, record)) {
            drop(&record);
            break;
        }
    }
    return true;
}

template <class T>
void DropNothing(T*) {}

bool ReadGlobal(VRMFile* r, GlobalParameter* p) {
    p->key = r->ReadEnum(g_SAGlobalNames);
    p->value = r->ReadInt();
    return true;
}

// Start 141 ms later and end 41 ms earlier, carrying between milliseconds,
// seconds and minutes; a time is never moved below 0:00.000.
void ShiftTime(int32_t t[3], int32_t ms) {
    t[2] += ms;
    if (t[2] >= 1000) {
        t[2] -= 1000;
        if (++t[1] >= 60) {
            t[1] -= 60;
            ++t[0];
        }
    } else if (t[2] < 0) {
        t[2] += 1000;
        if (--t[1] < 0) {
            t[1] += 60;
            --t[0];
        }
    }
    if (t[0] < 0) t[0] = t[1] = t[2] = 0;
}

bool ReadVideo(VRMFile* r, SA_VideoRecord* v) {
    for (int32_t& id : v->ids) {
        id = r->ReadInt();
        if (id > 0) ++v->validCount;
    }
    v->movie = r->ReadInt();
    for (int32_t& w : v->start) w = r->ReadInt();
    for (int32_t& w : v->end) w = r->ReadInt();
    ShiftTime(v->start, 141);
    ShiftTime(v->end, -41);
    return true;
}

// A count n and n words into a new block (video lists, ware lists).
bool ReadBlock(VRMFile* r, int32_t** block, int32_t (*readWord)(VRMFile*)) {
    const int32_t n = r->ReadInt();
    if (!CountFits(r, n, 1) || !(*block = AllocBlock(n))) return false;
    for (int32_t k = 1; k <= n; ++k) (*block)[k] = readWord(r);
    return true;
}

bool ReadVideoList(VRMFile* r, int32_t** block) {
    return ReadBlock(r, block, [](VRMFile* f) { return f->ReadInt(); });
}

bool ReadWareList(VRMFile* r, int32_t** block) {
    return ReadBlock(r, block, [](VRMFile* f) {
        char* name = f->ReadString();
        const int32_t code = name && !f->error ? SA_GetTypeCodeByName(name) : 0;
        Qel_StrFree(name);
        return code;
    });
}

void DropBlock(int32_t** block) {
    FreeBlock(*block);
    *block = nullptr;
}

// The five time windows of an animated dock port from the events of its
// first state cut ("start 1", "end 1" ...).
void ReadDummyWindows(DummyRecord* d) {
    if (!g_B3DState || d->stateCuts[0] <= 0) return;
    const J3D_Cut* cut = J3D_GetCut(d->stateCuts[0]);
    if (!cut) return;
    for (int32_t p = 0; p < cut->pathCount; ++p) {
        const J3D_CutPath& path = cut->paths[p];
        if (path.noteCount <= 0) continue;
        DummyWindow previous{0, 1};
        for (int32_t i = 1; i <= SA_DUMMY_WINDOWS; ++i) {
            char start[24];
            char end[24];
            std::snprintf(start, sizeof start, "start %d", i);
            std::snprintf(end, sizeof end, "end %d", i);
            const J3D_Note* s = SA_FindCutNote(path, start);
            const J3D_Note* e = SA_FindCutNote(path, end);
            DummyWindow w = previous;
            if (s) w.start = s->time;
            if (e) w.end = e->time > 0 ? e->time : 1;
            d->windows[i - 1] = w;
            previous = w;
        }
    }
}

// What a group's header says: read its records, skip it (a kind outside the
// table, followed by the next kind), or end the file.
enum class Group { kRead, kSkip, kBad };

// A file of groups until its end: a header (the kind, the count, and what
// the records of the group share, put into the model record) and that many
// records, each read whole (read answers false, or leaves the error flag
// set, for one that is not) and stored under its kind. A header or record
// that is not whole ends the file with the message (kind, record number);
// what was read before stays. False when the file cannot be opened.
template <class T>
bool LoadGroups(const char* file, const char* message, Group (*header)(VRMFile*, int32_t*, int32_t*, T*),
                bool (*read)(VRMFile*, int32_t, T*), bool (*store)(int32_t, const T&), void (*drop)(T*)) {
    Reader f(file);
    VRMFile* r = f.r;
    if (!r) return false;
    while (!AtEnd(r)) {
        int32_t kind = 0;
        int32_t count = 0;
        T model{};
        const Group group = header(r, &kind, &count, &model);
        if (group == Group::kSkip) continue;
        if (group == Group::kBad) {
            Qel_ErrPrintf(message, kind, 0);
            break;
        }
        for (int32_t i = 0; i < count; ++i) {
            T record = model;
            if (!read(r, kind, &record) || r->error) {
                drop(&record);
                Qel_ErrPrintf(message, kind, i);
                return true;
            }
            if (!store(kind, record)) {
                drop(&record);
                return true;
            }
        }
    }
    return true;
}

Group DummyHeader(VRMFile* r, int32_t* kind, int32_t* count, DummyRecord*) {
    *kind = r->ReadEnum(g_SADummyKinds);
    if (r->error) return Group::kBad;
    if (*kind < 0 || *kind >= SA_DUMMY_KINDS) return Group::kSkip;
    *count = r->ReadInt();
    return CountFits(r, *count, 3) ? Group::kRead : Group::kBad;
}

bool ReadDummy(VRMFile* r, int32_t kind, DummyRecord* d) {
    d->body = ReadBody(r);
    d->flags = static_cast<int32_t>(r->ReadFlags32(g_SADummyFlags));
    d->stateCutCount = r->ReadInt();
    if (r->error || d->stateCutCount < 0 || d->stateCutCount > SA_DUMMY_STATE_CUTS) return false;
    for (int32_t k = 0; k < d->stateCutCount; ++k) {
        const int32_t status = r->ReadEnum(g_SADummyStates);
        const int32_t cut = ReadCut(r);
        if (r->error || status < 0 || status >= SA_DUMMY_STATE_CUTS) return false;
        d->stateCuts[status] = cut;
    }
    if (kind == kGunKind) {
        d->gunPartCount = r->ReadInt();
        if (r->error || d->gunPartCount < 0 || d->gunPartCount > SA_DUMMY_GUN_PARTS) return false;
        for (int32_t k = 0; k < d->gunPartCount; ++k) {
            d->gunParts[k].body = ReadBody(r);
            d->gunParts[k].flags = static_cast<int32_t>(r->ReadFlags32(g_SAGunPartFlags));
        }
    }
    if (r->error) return false;
    // Only animated dock ports have time windows of their own.
    for (DummyWindow& w : d->windows) w = DummyWindow{0, 1};
    if (kind == kAnimatedKind && (d->flags & 0xFFFF)) ReadDummyWindows(d);
    return true;
}

bool StoreDummy(int32_t kind, const DummyRecord& d) {
    return Append(&g_TypeDB.dummies[kind], &g_TypeDB.dummyCounts[kind], d);
}

bool LoadBodies() {
    Reader f("Bodies");
    VRMFile* r = f.r;
    if (!r) return false;
    while (!AtEnd(r)) {
        const int32_t kind = r->ReadEnum(g_SASpecialBodyKinds);
        const int32_t n = r->error ? 0 : r->ReadInt();
        if (r->error || kind < 0 || kind >= SA_SPECIAL_BODY_KINDS || !CountFits(r, n, 1)) {
            Qel_ErrPrintf("Error loading Bodies.txt: body type %d, body number %d\n", kind, 0);
            break;
        }
        std::vector<int32_t> bodies;
        for (int32_t i = 0; i < n; ++i) {
            const int32_t body = ReadBody(r);
            if (r->error) break;
            bodies.push_back(body);
        }
        // A kind named again adds to its block.
        int32_t* old = g_TypeDB.specialBodies[kind];
        const int32_t had = old ? old[0] : 0;
        if (int32_t* block = AllocBlock(had + static_cast<int32_t>(bodies.size()))) {
            if (had) std::memcpy(block + 1, old + 1, sizeof(int32_t) * static_cast<size_t>(had));
            if (!bodies.empty()) std::memcpy(block + 1 + had, bodies.data(), sizeof(int32_t) * bodies.size());
            FreeBlock(old);
            g_TypeDB.specialBodies[kind] = block;
        }
        if (static_cast<int32_t>(bodies.size()) < n) {
            Qel_ErrPrintf("Error loading Bodies.txt: body type %d, body number %d\n", kind,
                          static_cast<int32_t>(bodies.size()));
            break;
        }
    }
    return true;
}

Group ComponentHeader(VRMFile* r, int32_t* kind, int32_t* count, ComponentRecord*) {
    *kind = r->ReadEnum(g_SAComponentKinds);
    if (r->error || *kind < 0 || *kind >= SA_COMPONENT_KINDS) return Group::kBad;
    *count = r->ReadInt();
    return CountFits(r, *count, 2) ? Group::kRead : Group::kBad;
}

// Lasers and cockpits carry a position and a direction, docking positions
// only a position.
bool ReadComponent(VRMFile* r, int32_t kind, ComponentRecord* c) {
    c->body = ReadBody(r);
    const int16_t count = r->ReadShort();
    if (!CountFits(r, count, 1)) return false;
    c->count = count;
    c->entries = AllocArray<ComponentEntry>(count);
    if (count > 0 && !c->entries) return false;
    for (int32_t k = 0; k < count; ++k) {
        ComponentEntry& e = c->entries[k];
        e.flags = static_cast<int32_t>(r->ReadFlags32(g_SALaserFlags));
        e.position.x = r->ReadFixed();
        e.position.y = r->ReadFixed();
        e.position.z = r->ReadFixed();
        if (kind != 2) {
            e.direction.x = r->ReadFixed();
            e.direction.y = r->ReadFixed();
            e.direction.z = r->ReadFixed();
        }
    }
    return true;
}

bool StoreComponent(int32_t kind, const ComponentRecord& c) {
    return Append(&g_TypeDB.components[kind], &g_TypeDB.componentCounts[kind], c);
}

void DropComponent(ComponentRecord* c) {
    FreeArray(c->entries, c->count);
    c->entries = nullptr;
}

// The group's flags say which of the three ids are cuts.
Group MatchHeader(VRMFile* r, int32_t* kind, int32_t* count, MatchRecord* model) {
    *kind = r->ReadEnum(g_SAMatchKinds);
    if (r->error || *kind != 0) return Group::kBad;
    model->flags = static_cast<int32_t>(r->ReadFlags32(g_SAMatchFlags));
    *count = r->ReadInt();
    return CountFits(r, *count, 3) ? Group::kRead : Group::kBad;
}

bool ReadMatch(VRMFile* r, int32_t, MatchRecord* m) {
    for (int32_t k = 0; k < 3; ++k) m->ids[k] = (m->flags & (1 << k)) ? ReadCut(r) : ReadBody(r);
    return true;
}

bool StoreMatch(int32_t, const MatchRecord& m) { return Append(&g_TypeDB.matches, &g_TypeDB.matchCount, m); }

// ---------------------------------------------------------------- T* tables

}  // namespace

void SA_BuildBackgroundBodies(TypeRecord* t) {
    const std::string s = t->backgroundName ? t->backgroundName : "";
    const std::string prefix = "environments\\nebulae\\" + s + "\\nebula_" + s;
    auto body = [&prefix](const char* part, int32_t i) {
        char number[16];
        std::snprintf(number, sizeof number, "%02d", i);
        return B3D_GetBodyID((prefix + part + number).c_str());
    };
    int32_t* f = t->field;
    for (int32_t i = 0; i < SA_BG_MAX_STARS; ++i)
        f[SA_TF_BG_STARS + i] = i < f[SA_TF_BG_STAR_COUNT] ? body("_stars_", i + 1) : 0;
    for (int32_t i = 0; i < SA_BG_MAX_NEBULAS; ++i)
        f[SA_TF_BG_NEBULAS + i] = i < f[SA_TF_BG_NEBULA_COUNT] ? body("_background_", i + 1) : 0;
    for (int32_t i = 0; i < SA_BG_MAX_OUTERS; ++i)
        f[SA_TF_BG_OUTERS + i] = i < f[SA_TF_BG_OUTER_COUNT] ? body("_outside_part", i + 1) : 0;
    for (int32_t i = 0; i < SA_BG_DUSTS; ++i) f[SA_TF_BG_DUSTS + i] = body("_dust_part", i + 1);
}

namespace {

void ReadBackground(VRMFile* r, int32_t version, int32_t subType, TypeRecord* t) {
    int32_t* f = t->field;
    char* name = r->ReadString();
    t->backgroundName = name && *name ? name : Qel_StrFree(name);
    f[SA_TF_BG_STAR_COUNT] = r->ReadInt();
    f[SA_TF_BG_NEBULA_COUNT] = r->ReadInt();
    f[SA_TF_BG_OUTER_COUNT] = version >= 25 ? r->ReadInt() : 1;
    for (int32_t i = 69; i <= 83; ++i) f[i] = r->ReadInt();
    if (version >= 24) {
        for (int32_t i = 84; i <= 87; ++i) f[i] = r->ReadInt();
    } else {
        f[SA_TF_BG_STARDUST_DENSITY] = 50;
        for (int32_t i = 0; i < 3; ++i) f[SA_TF_BG_STARDUST_COLOUR + i] = f[SA_TF_BG_AMBIENT + i];
    }
    if (r->error) return;
    if (f[SA_TF_BG_STAR_COUNT] < 1 || f[SA_TF_BG_STAR_COUNT] > SA_BG_MAX_STARS) {
        Qel_DPrintf(0, "Invalid # of star background bodies in background %d: num=%d\n", subType,
                    f[SA_TF_BG_STAR_COUNT]);
        f[SA_TF_BG_STAR_COUNT] = SA_BG_MAX_STARS;
    }
    if (f[SA_TF_BG_NEBULA_COUNT] < 1 || f[SA_TF_BG_NEBULA_COUNT] > SA_BG_MAX_NEBULAS) {
        Qel_DPrintf(0, "Invalid # of nebula background bodies in background %d: num=%d\n", subType,
                    f[SA_TF_BG_NEBULA_COUNT]);
        f[SA_TF_BG_NEBULA_COUNT] = SA_BG_MAX_NEBULAS;
    }
    if (f[SA_TF_BG_OUTER_COUNT] < 1 || f[SA_TF_BG_OUTER_COUNT] > SA_BG_MAX_OUTERS) {
        Qel_DPrintf(0, "Invalid # of nebula outer bodies in background %d: num=%d\n", subType, f[SA_TF_BG_OUTER_COUNT]);
        f[SA_TF_BG_OUTER_COUNT] = SA_BG_MAX_OUTERS;
    }
    if (f[SA_TF_BG_FOG_FAR] < f[SA_TF_BG_FOG_NEAR]) {
        Qel_DPrintf(0, "Invalid fog values in background %d: near=%d, far=%d\n", subType, f[SA_TF_BG_FOG_NEAR],
                    f[SA_TF_BG_FOG_FAR]);
        f[SA_TF_BG_FOG_NEAR] = f[SA_TF_BG_FOG_FAR] = 0;
    }
    SA_BuildBackgroundBodies(t);
}

DockPortList* NewDockPortList() { return AllocArray<DockPortList>(1); }

void FreeDockPortList(DockPortList* list) {
    if (!list) return;
    FreeArray(list->entries, list->count);
    FreeArray(list, 1);
}

// The cockpit and turret lists of even versions: cockpit count and entries
// (kind, flag, body, index), turret count and entries (three words, a laser
// count and per laser int, int, body, int, body, int). Counts beyond the
// record end the file.
bool ReadShipLists(VRMFile* r, int32_t* f) {
    const int32_t cockpits = r->ReadInt();
    if (r->error || cockpits < 0 || cockpits > SA_SHIP_MAX_COCKPITS) return false;
    f[SA_TF_SHIP_COCKPIT_COUNT] = cockpits;
    for (int32_t c = 0; c < cockpits; ++c) {
        int32_t* e = f + SA_TF_SHIP_COCKPITS + c * SA_COCKPIT_WORDS;
        e[0] = r->ReadInt();
        e[1] = r->ReadInt();
        e[2] = ReadBody(r);
        e[3] = r->ReadInt();
    }
    const int32_t turrets = r->ReadInt();
    if (r->error || turrets < 0 || turrets > SA_SHIP_MAX_TURRETS) return false;
    f[SA_TF_SHIP_TURRET_COUNT] = turrets;
    for (int32_t t = 0; t < turrets; ++t) {
        int32_t* e = f + SA_TF_SHIP_TURRETS + t * SA_TURRET_WORDS;
        for (int32_t k = 0; k < 3; ++k) e[k] = r->ReadInt();
        const int32_t lasers = r->ReadInt();
        if (r->error || lasers < 0 || lasers > SA_TURRET_MAX_LASERS) return false;
        e[SA_TURRET_LASER_COUNT] = lasers;
        for (int32_t l = 0; l < lasers; ++l) {
            int32_t* w = e + SA_TURRET_LASERS + l * SA_TURRET_LASER_WORDS;
            w[0] = r->ReadInt();
            w[1] = r->ReadInt();
            w[2] = ReadBody(r);
            w[3] = r->ReadInt();
            w[4] = ReadBody(r);
            w[5] = r->ReadInt();
        }
    }
    return !r->error;
}

// A turret entry holding the lasers of one body's laser component.
void AddTurret(int32_t* f, int32_t body, int32_t pathIndex) {
    const ComponentRecord* lasers = SA_FindTypeEntry(0, body);
    if (!lasers || lasers->count <= 0 || f[SA_TF_SHIP_TURRET_COUNT] >= SA_SHIP_MAX_TURRETS) return;
    int32_t* e = f + SA_TF_SHIP_TURRETS + f[SA_TF_SHIP_TURRET_COUNT]++ * SA_TURRET_WORDS;
    const int32_t n = lasers->count < SA_TURRET_MAX_LASERS ? lasers->count : SA_TURRET_MAX_LASERS;
    e[SA_TURRET_LASER_COUNT] = n;
    for (int32_t l = 0; l < n; ++l) {
        int32_t* w = e + SA_TURRET_LASERS + l * SA_TURRET_LASER_WORDS;
        w[0] = l;
        w[1] = lasers->entries[l].flags;
        w[2] = body;
        w[3] = pathIndex;
    }
    f[SA_TF_SHIP_LASER_COUNT] += n;
}

// A cockpit entry from one body's cockpit component.
void AddCockpit(int32_t* f, int32_t body, int32_t index) {
    const ComponentRecord* cockpit = SA_FindTypeEntry(1, body);
    if (!cockpit || cockpit->count <= 0 || f[SA_TF_SHIP_COCKPIT_COUNT] >= SA_SHIP_MAX_COCKPITS) return;
    const int32_t n = f[SA_TF_SHIP_COCKPIT_COUNT]++;
    int32_t* e = f + SA_TF_SHIP_COCKPITS + n * SA_COCKPIT_WORDS;
    e[0] = n + 1;  // the ship's own cockpit is kind 1, turret cockpits 2 to 7
    e[1] = 0;
    e[2] = body;
    e[3] = index;
    e[4] = -1;
    e[5] = 0;
}

// Odd versions build the lists from the components of the ship's body, or
// of the bodies of its cut's paths when the cut can be had.
void SearchShipLists(int32_t subType, int32_t* f) {
    Qel_DPrintf(4, "searching for cockpits and lasers in ship subtype %d: ", subType);
    for (int32_t i = SA_TF_SHIP_COCKPIT_COUNT; i < SA_TF_SHIP_PORTS; ++i) f[i] = 0;
    f[SA_TF_SHIP_LASER_COUNT] = 0;
    const J3D_Cut* cut = g_B3DState && f[SA_TF_SHIP_CUT] > 0 ? J3D_GetCut(f[SA_TF_SHIP_CUT]) : nullptr;
    if (!cut) {
        AddTurret(f, f[SA_TF_BODY], -1);
        AddCockpit(f, f[SA_TF_BODY], 0);
    } else {
        for (int32_t p = 0; p < cut->pathCount; ++p) {
            const J3D_CutPath& path = cut->paths[p];
            if (path.flags & PATH_CUT) continue;
            AddTurret(f, path.reference, p);
            AddCockpit(f, path.reference, p);
        }
    }
    Qel_DPrintf(4, "cockpits=%d, turrets=%d, lasers=%d\n", f[SA_TF_SHIP_COCKPIT_COUNT], f[SA_TF_SHIP_TURRET_COUNT],
                f[SA_TF_SHIP_LASER_COUNT]);
}

// The main type's own fields, in file order. False when the record cannot be
// held (a count beyond it).
bool ReadOwnFields(VRMFile* r, int32_t mainType, int32_t version, int32_t subType, TypeRecord* t) {
    int32_t* f = t->field;
    auto ints = [r, f](int32_t from, int32_t to) {
        for (int32_t i = from; i <= to; ++i) f[i] = r->ReadInt();
    };
    auto fixeds = [r, f](int32_t from, int32_t to) {
        for (int32_t i = from; i <= to; ++i) f[i] = r->ReadFixed();
    };
    switch (mainType) {
        case SA_MT_BULLET:
            ints(17, 25);
            fixeds(26, 28);
            ints(29, 36);
            break;
        case SA_MT_BACKGROUND: ReadBackground(r, version, subType, t); break;
        case SA_MT_SUN:
        case SA_MT_COCKPIT:
            f[17] = ReadCut(r);
            f[18] = r->ReadInt();
            break;
        case SA_MT_PLANET:
            ints(17, 19);
            f[SA_TF_PLANET_CUT] = ReadCut(r);
            if (version >= 23)
                for (int32_t i = 0; i < 8; ++i) {
                    f[SA_TF_PLANET_BODIES + i] = ReadBody(r);
                    f[SA_TF_PLANET_VALUES + i] = r->ReadInt();
                }
            break;
        case SA_MT_DOCK:
        case SA_MT_FACTORY:
            f[17] = r->ReadInt();
            fixeds(18, 19);
            f[20] = r->ReadInt();
            f[SA_TF_STATION_CUT] = ReadCut(r);
            ints(22, 26);
            if (mainType == SA_MT_FACTORY) {
                f[SA_TF_FACTORY_SCALE] = r->ReadFixed();
                f[SA_TF_FACTORY_ICON] = version >= 41 ? r->ReadEnum(B3D_IconNameTable()) : 198;
            } else {
                f[SA_TF_DOCK_ICON] = version >= 41 ? r->ReadEnum(B3D_IconNameTable()) : 196;
            }
            t->dockPorts = NewDockPortList();
            O_BuildCutScene(f[SA_TF_STATION_CUT], nullptr, nullptr, t->dockPorts);
            break;
        case SA_MT_SHIP: {
            ints(17, 25);
            f[SA_TF_SHIP_CUT] = ReadCut(r);
            f[SA_TF_SHIP_SECOND_CUT] = ReadCut(r);
            ints(28, 29);
            if (version >= 37) {
                f[30] = r->ReadInt();
                f[31] = r->ReadFixed();
            } else {
                f[30] = 10000;
                f[31] = 3276;  // 0.05
            }
            ints(32, 33);
            const int32_t x = r->ReadInt();
            if (version >= 31) {
                f[SA_TF_SHIP_MISSILE_MASK] = x;
                f[SA_TF_SHIP_MISSILE_MAX] = g_TypeDB.counts[SA_MT_MISSILE] - 1;
            } else {
                f[SA_TF_SHIP_MISSILE_MAX] = x;
                // 2^(x+1) - 1: every subtype up to x.
                f[SA_TF_SHIP_MISSILE_MASK] = x < 0 ? 0 : x >= 31 ? -1 : static_cast<int32_t>((1u << (x + 1)) - 1u);
            }
            ints(36, 40);
            f[41] = version >= 39 ? r->ReadInt() : 0;
            for (int32_t pair = 0; pair < 12; ++pair) r->ReadInt();  // the turret search's pairs
            ints(42, 48);
            f[50] = version >= 25 ? r->ReadInt() : 0;
            f[51] = version >= 27 ? r->ReadInt() : 100;
            f[49] = r->ReadInt();
            if (version % 2 == 0) {
                Qel_DPrintf(4, "Reading additional shipinfo %d from types\n", subType);
                if (!ReadShipLists(r, f)) return false;
            } else if (!r->error) {
                // The components the lists come from, when they are being rebuilt.
                SA_ScanRecordComponents(SA_MT_SHIP, t);
                SearchShipLists(subType, f);
            }
            t->dockPorts = NewDockPortList();
            O_BuildCutScene(f[SA_TF_SHIP_CUT], nullptr, nullptr, t->dockPorts);
            break;
        }
        case SA_MT_LASER:
            ints(17, 20);
            f[SA_TF_LASER_RANGE] = r->ReadFixed();
            f[SA_TF_LASER_ICON] = version >= 43 ? r->ReadEnum(B3D_IconNameTable()) : 1;
            break;
        case SA_MT_SHIELD:
            ints(17, 19);
            f[20] = r->ReadFixed();
            break;
        case SA_MT_MISSILE:
            ints(17, 25);
            if (version < 49) r->ReadInt();  // read and dropped
            ints(27, 30);
            f[26] = r->ReadInt();
            f[31] = r->ReadInt();
            f[33] = r->ReadInt();
            f[SA_TF_MISSILE_FLAGS] = version >= 29 ? r->ReadInt() : 0;
            f[SA_TF_MISSILE_SPLIT_DELAY] = version >= 31 ? r->ReadInt() : 500;
            f[SA_TF_MISSILE_ICON] = version >= 43 ? r->ReadEnum(B3D_IconNameTable()) : 45;
            f[SA_TF_MISSILE_CUT] = ReadCut(r);
            break;
        case SA_MT_ASTEROID:
            f[17] = ReadCut(r);
            if (version >= 29) {
                ints(18, 19);
                f[20] = ReadCut(r);
            }
            break;
        case SA_MT_GATE:
        case SA_MT_SPECIAL: f[17] = ReadCut(r); break;
        case SA_MT_DEBRIS:
            f[17] = ReadCut(r);
            f[18] = r->ReadInt();
            f[19] = ReadBody(r);
            f[20] = ReadCut(r);
            break;
        case SA_MT_DOCK_WRECK:
        case SA_MT_FACTORY_WRECK:
        case SA_MT_SHIP_WRECK:
            f[17] = ReadCut(r);
            f[18] = r->ReadInt();
            f[19] = ReadBody(r);
            break;
        default: break;  // wares: none
    }
    return !r->error;
}

void FreeRecordParts(TypeRecord* t) {
    t->name = Qel_StrFree(t->name);
    t->backgroundName = Qel_StrFree(t->backgroundName);
    FreeDockPortList(t->dockPorts);
    t->dockPorts = nullptr;
}

bool ReadTypeRecord(VRMFile* r, int32_t mainType, int32_t version, int32_t subType, TypeRecord* t) {
    int32_t* f = t->field;
    f[SA_TF_BODY] = ReadBody(r);
    f[SA_TF_SECOND_BODY] = ReadBody(r);
    for (int32_t i = SA_TF_STEP_Y; i <= SA_TF_STEP_Z; ++i) f[i] = r->ReadFixed();
    f[SA_TF_CLASS] = r->ReadInt();
    f[SA_TF_TEXT_ID] = r->ReadInt();
    if (!ReadOwnFields(r, mainType, version, subType, t)) return false;
    for (int32_t i = SA_TF_VOLUME; i <= SA_TF_PLAYER_REL_VALUE; ++i) f[i] = r->ReadInt();
    f[SA_TF_MIN_NOTORIETY] = version >= 25 ? r->ReadInt() : -1000000;
    f[SA_TF_VIDEO_ID] = version >= 33 ? r->ReadInt() : 0;
    f[SA_TF_SKIN] = version >= 47 ? r->ReadInt() : 0;
    char* name = r->ReadString();
    t->name = name && *name ? name : Qel_StrFree(name);
    return !r->error;
}

void LoadTypeTable(int32_t mainType) {
    TypeDatabase& db = g_TypeDB;
    db.types[mainType] = nullptr;
    db.counts[mainType] = 0;
    db.versions[mainType] = 0;
    Reader f(kTableFiles[mainType]);
    VRMFile* r = f.r;
    if (!r) return;
    const std::string file = std::string(kTableFiles[mainType]) + ".txt";
    const int32_t version = r->ReadInt();
    const int32_t count = r->ReadInt();
    db.versions[mainType] = version;
    if (count == 0 && !r->error) return;
    // Every record has at least its fourteen common fields.
    if (!CountFits(r, count, 14)) {
        Qel_ErrPrintf("Error loading %s: maintype %d, subtype %d\n", file.c_str(), mainType, 0);
        return;
    }
    TypeRecord* records = AllocArray<TypeRecord>(count);
    if (!records) return;
    int32_t read = 0;
    for (; read < count; ++read) {
        const bool whole = ReadTypeRecord(r, mainType, version, read, &records[read]);
        if (whole) SA_ScanRecordComponents(mainType, &records[read]);
        if (!whole) {
            Qel_ErrPrintf("Error loading %s: maintype %d, subtype %d\n", file.c_str(), mainType, read);
            FreeRecordParts(&records[read]);
            std::memset(static_cast<void*>(&records[read]), 0, sizeof(TypeRecord));
            break;
        }
    }
    // Only whole records count; the array keeps its size until it is freed.
    db.types[mainType] = records;
    db.counts[mainType] = read;
    if (read < count) {
        TypeRecord* kept = AllocArray<TypeRecord>(read);
        if (kept) std::memcpy(static_cast<void*>(kept), records, sizeof(TypeRecord) * static_cast<size_t>(read));
        FreeArray(records, count);
        db.types[mainType] = kept;
    }
}

// The built-in records of cameras (19) and main type 21.
void BuildFixedTypes() {
    TypeDatabase& db = g_TypeDB;
    if ((db.types[SA_MT_CAMERA] = AllocArray<TypeRecord>(1))) {
        db.counts[SA_MT_CAMERA] = 1;
        int32_t* f = db.types[SA_MT_CAMERA]->field;
        f[SA_TF_BODY] = 174;
        f[SA_TF_STEP_Y] = 29491;  // 0.45
        f[SA_TF_STEP_X] = 29491;
        f[SA_TF_STEP_Z] = 22938;  // 0.35
        f[SA_TF_CLASS] = -1;
    }
    if ((db.types[SA_MT_NEBULA] = AllocArray<TypeRecord>(1))) {
        db.counts[SA_MT_NEBULA] = 1;
        int32_t* f = db.types[SA_MT_NEBULA]->field;
        f[SA_TF_BODY] = -1;
        f[SA_TF_SECOND_BODY] = -1;
        f[SA_TF_TEXT_ID] = -1;
        f[SA_TF_PRI_MAX_POWER] = f[SA_TF_SEC_MAX_POWER] = f[SA_TF_TRADE_CLASS] = 1;
    }
}

// ---------------------------------------------------------------- freeing

void FreeBlockList(int32_t*** lists, int32_t* count) {
    for (int32_t i = 0; i < *count; ++i) FreeBlock((*lists)[i]);
    FreeArray(*lists, *count);
    *lists = nullptr;
    *count = 0;
}

}  // namespace

const char* SA_TypesFileName(int32_t mainType) {
    if (mainType < 0 || mainType >= SA_MAIN_TYPE_COUNT || !kTableFiles[mainType][0]) return nullptr;
    return kTableFiles[mainType];
}

void SA_ClearDockPortList(DockPortList* list) {
    FreeArray(list->entries, list->count);
    list->entries = nullptr;
    list->count = 0;
    list->mask = 0;
}

int SA_AppendDockPortEntry(DockPortList* list, const DockPortEntry& entry) {
    if (!GrowArray(&list->entries, list->count, 1)) return 0;
    list->entries[list->count++] = entry;
    list->mask |= entry.flags & 0xFFFFu;  // the ship classes its ports take
    return 1;
}

const J3D_Note* SA_FindCutNote(const J3D_CutPath& path, const char* text) {
    for (int32_t n = 0; n < path.noteCount && path.notes; ++n)
        if (path.notes[n].text && std::strcmp(path.notes[n].text, text) == 0) return &path.notes[n];
    return nullptr;
}

int SA_AppendComponentRecord(int32_t kind, const ComponentRecord& record) {
    if (kind < 0 || kind >= SA_COMPONENT_KINDS) return 0;
    return StoreComponent(kind, record) ? 1 : 0;
}

TypeRecord* SA_AppendTypeRecords(int32_t mainType, int32_t n) {
    if (mainType < 0 || mainType >= SA_MAIN_TYPE_COUNT || n <= 0) return nullptr;
    TypeDatabase& db = g_TypeDB;
    if (!GrowArray(&db.types[mainType], db.counts[mainType], n)) return nullptr;
    db.counts[mainType] += n;
    return &db.types[mainType][db.counts[mainType] - n];
}

TypeRecord* SA_GetTypeRecord(int32_t mainType, int32_t subType) {
    if (mainType < 0 || mainType >= SA_MAIN_TYPE_COUNT) return nullptr;
    if (subType < 0 || subType >= g_TypeDB.counts[mainType] || !g_TypeDB.types[mainType]) return nullptr;
    return &g_TypeDB.types[mainType][subType];
}

TypeRecord* O_GetTypeRecord(const SectorObject* object) {
    return object ? SA_GetTypeRecord(object->mainType, object->subType) : nullptr;
}

int SA_LoadObjectDB(SpaceRoot*) {
    StandIn_Record("SA_LoadObjectDB");
    TypeDatabase& db = g_TypeDB;
    if (!LoadCounted("Globals", "Error loading Globals.txt: parameter number %d\n", 2, &db.globals, &db.globalCount,
                     ReadGlobal, DropNothing<GlobalParameter>) ||
        !LoadCounted("Videos", "Error loading Videos.txt: video number %d\n", 11, &db.videos, &db.videoCount, ReadVideo,
                     DropNothing<SA_VideoRecord>) ||
        !LoadCounted("VideoLists", "Error loading VideosLists.txt: video list number %d\n", 1, &db.videoLists,
                     &db.videoListCount, ReadVideoList, DropBlock))
        return 0;
    if (!LoadGroups<DummyRecord>("Dummies", "Error loading Dummies.txt: dummy type %d, dummy number %d\n", DummyHeader,
                                 ReadDummy, StoreDummy, DropNothing<DummyRecord>) ||
        !LoadBodies())
        return 0;
    if (!LoadGroups<ComponentRecord>("Components",
                                     "Error loading Components.txt: components type %d, component number %d\n",
                                     ComponentHeader, ReadComponent, StoreComponent, DropComponent))
        SA_StartComponentsRebuild();
    if (!LoadGroups<MatchRecord>("Matches", "Error loading Matches.txt: match type %d, match number %d\n", MatchHeader,
                                 ReadMatch, StoreMatch, DropNothing<MatchRecord>))
        return 0;
    for (int32_t mainType : kTableOrder) LoadTypeTable(mainType);
    SA_FinishComponentsRebuild();
    BuildFixedTypes();
    if (!LoadCounted("WareLists", "Error loading WareLists.txt: ware list number %d\n", 1, &db.wareLists,
                     &db.wareListCount, ReadWareList, DropBlock))
        return 0;
    return 1;
}

void SA_FreeObjectDB() {
    TypeDatabase& db = g_TypeDB;
    for (int32_t m = 0; m < SA_MAIN_TYPE_COUNT; ++m) {
        for (int32_t s = 0; s < db.counts[m]; ++s) FreeRecordParts(&db.types[m][s]);
        FreeArray(db.types[m], db.counts[m]);
    }
    FreeArray(db.globals, db.globalCount);
    FreeArray(db.videos, db.videoCount);
    FreeBlockList(&db.videoLists, &db.videoListCount);
    for (int32_t k = 0; k < SA_DUMMY_KINDS; ++k) FreeArray(db.dummies[k], db.dummyCounts[k]);
    for (int32_t* block : db.specialBodies) FreeBlock(block);
    for (int32_t k = 0; k < SA_COMPONENT_KINDS; ++k) {
        for (int32_t i = 0; i < db.componentCounts[k]; ++i)
            FreeArray(db.components[k][i].entries, db.components[k][i].count);
        FreeArray(db.components[k], db.componentCounts[k]);
    }
    FreeArray(db.matches, db.matchCount);
    FreeBlockList(&db.wareLists, &db.wareListCount);
    db = TypeDatabase{};
}

void SA_ResetObjectDB(SpaceRoot* root) {
    StandIn_Record("SA_ResetObjectDB");
    if (root->objects.head.next)
        while (SectorObject* o = SA_ListFirst(&root->objects)) O_DeleteObject(o);
    root->game.playerObject = nullptr;
    ST_RemoveAllTakes(root);
    Qel_TableFree(root->ids);
    Qel_TableFree(root->takes);
    root->ids = root->takes = nullptr;
    SA_FreeObjectDB();
    if (root->result.tag) SV_Release(&root->result);
}

int SA_SaveBackgroundTypes() {
    const TypeDatabase& db = g_TypeDB;
    const int32_t count = db.counts[SA_MT_BACKGROUND];
    const int32_t version = db.versions[SA_MT_BACKGROUND] > 25 ? db.versions[SA_MT_BACKGROUND] : 25;
    Qel_DPrintf(0, "Writing back %d lines of TBackgrounds\n", count);
    const std::string path = B3DB_TypesFilePath("TBackgrounds");
    VRMFile* w = Qel_StreamCreate(path.c_str(), 0, 0, 0, nullptr, 0);
    if (!w || w->error) {
        Qel_DPrintf(0, "SA_SaveBackgroundTypes(): Can't save file %s\n", path.c_str());
        Qel_CloseFileBuffer(w);
        return 0;
    }
    auto body = [w](int32_t id) {
        const std::string name = id == 0 ? "NULL" : B3D_GetBodyFilename(id, 0);
        w->WriteString(name.empty() ? std::to_string(id).c_str() : name.c_str(), ";");
    };
    auto ints = [w](const int32_t* f, int32_t from, int32_t to) {
        for (int32_t i = from; i <= to; ++i) w->WriteInt(f[i], ";");
    };
    w->WriteInt(version, ";");
    w->WriteInt(count, ";");
    w->WriteText("\r\n");
    for (int32_t s = 0; s < count; ++s) {
        const TypeRecord& t = db.types[SA_MT_BACKGROUND][s];
        const int32_t* f = t.field;
        body(f[SA_TF_BODY]);
        body(f[SA_TF_SECOND_BODY]);
        for (int32_t i = SA_TF_STEP_Y; i <= SA_TF_STEP_Z; ++i) w->WriteFixed(f[i], ";");
        ints(f, SA_TF_CLASS, SA_TF_TEXT_ID);
        w->WriteString(t.backgroundName, ";");
        w->WriteInt(f[SA_TF_BG_STAR_COUNT], ";");
        w->WriteInt(f[SA_TF_BG_NEBULA_COUNT], ";");
        w->WriteInt(f[SA_TF_BG_OUTER_COUNT], ";");
        ints(f, 69, 87);
        ints(f, SA_TF_VOLUME, SA_TF_MIN_NOTORIETY);
        if (version >= 33) w->WriteInt(f[SA_TF_VIDEO_ID], ";");
        if (version >= 47) w->WriteInt(f[SA_TF_SKIN], ";");
        w->WriteString(t.name, ";");
        w->WriteText("\r\n");
    }
    const bool ok = !w->error;
    Qel_CloseFileBuffer(w);
    if (!ok) {
        Qel_DPrintf(0, "SA_SaveBackgroundTypes(): Can't save file %s\n", path.c_str());
        return 0;
    }
    return 1;
}
