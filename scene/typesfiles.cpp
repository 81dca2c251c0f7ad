#include "scene/typesfiles.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/file.h"
#include "base/general.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/strings.h"
#include "base/texcache.h"
#include "base/vrmfile.h"
#include "scene/ids.h"
#include "scene/pools.h"
#include "scene/smallops.h"
#include "scene/state.h"

namespace {

const char* const kIconNames[B3D_ICON_NAME_COUNT] = {
#include "scene/iconnames.inc"
};

// Runs of ascending ids over the names in table order: id of the first name
// and the number of names.
struct IconRun {
    int32_t firstId;
    int32_t count;
};
constexpr IconRun kIconRuns[] = {{1, 147},  {494, 3}, {148, 180}, {480, 2},  {328, 7},  {337, 6}, {346, 109},
                                 {1000, 7}, {455, 5}, {479, 1},   {1100, 3}, {460, 19}, {488, 6}, {1007, 6}};

// The icon names behind "NULL" (0), as ReadEnum wants them.
const VRMNameValue* IconNamesWithNull() {
    static VRMNameValue table[B3D_ICON_NAME_COUNT + 2];
    static bool built = false;
    if (!built) {
        table[0] = {"NULL", 0};
        const VRMNameValue* names = B3D_IconNameTable();
        for (int32_t i = 0; i < B3D_ICON_NAME_COUNT; ++i) table[i + 1] = names[i];
        table[B3D_ICON_NAME_COUNT + 1] = {"", 0};
        built = true;
    }
    return table;
}

constexpr VRMNameValue kNull[] = {{"NULL", 0}, {"", 0}};
constexpr VRMNameValue kEmitterFlags[] = {{"NULL", 0}, {"PEDF_2D", 1}, {"PEDF_TRAIL", 2}, {"", 0}};
constexpr VRMNameValue kIconSlots[] = {{"ICONTYPE_GUI", 0}, {"ICONTYPE_QMEXTRA", 1}, {"", 0}};

void Release(VRMFile* r) { Qel_CloseFileBuffer(r); }

std::string Format(const char* pattern, const char* name) {
    char buf[512];
    std::snprintf(buf, sizeof buf, pattern, name);
    return buf;
}

}  // namespace

const VRMNameValue* B3D_IconNameTable() {
    static VRMNameValue table[B3D_ICON_NAME_COUNT + 1];
    static bool built = false;
    if (!built) {
        int32_t i = 0;
        for (const IconRun& run : kIconRuns)
            for (int32_t k = 0; k < run.count; ++k, ++i) table[i] = {kIconNames[i], run.firstId + k};
        table[B3D_ICON_NAME_COUNT] = {"", 0};
        built = true;
    }
    return table;
}

std::string B3DB_TypesFilePath(const char* name) {
    if (!g_SystemState) return Format("%s.txt", name);
    const AppDescriptor* app = g_SystemState->app;
    return Format(app && app->typesTemplates[0] ? app->typesTemplates[0] : "types\\%s.txt", name);
}

VRMFile* B3DB_OpenTypesFile(const char* name) {
    VRMFile* r = nullptr;
    if (g_SystemState && (g_SystemState->startFlags & QEL_START_PACKED)) {
        const AppDescriptor* app = g_SystemState->app;
        const std::string packed =
            Format(app && app->typesTemplates[1] ? app->typesTemplates[1] : "types\\%s.pck", name);
        r = Qel_StreamCreate(packed.c_str(), 1, 1, 0, nullptr, 0);
        if (r && !r->error) return r;
        Qel_CloseFileBuffer(r);
    }
    const std::string tried = B3DB_TypesFilePath(name);
    r = Qel_StreamCreate(tried.c_str(), 1, 0, 0, nullptr, 0);
    if (!r || r->error) {
        Qel_ErrPrintf("B3DB_OpenTypesFile: Can't read file %s\n", tried.c_str());
        Qel_LogFileFailure();
        Qel_CloseFileBuffer(r);
        return nullptr;
    }
    return r;
}

void B3DB_TypesError(const VRMFile* r, const char* fmt, ...) {
    char message[512];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(message, sizeof message, fmt, ap);
    va_end(ap);
    char* place = r ? Qel_ReaderPlace(r) : nullptr;
    Qel_ErrPrintf("%s%s\n", message, place ? place : "");
    Qel_StrFree(place);
}

// ------------------------------------------------------------------ CutData

int32_t B3DB_LoadCutData() {
    B3DCutIdTable& t = g_B3DState->cutIds;
    if (!t.slots) return 0;
    for (int32_t i = 0; i < t.fixedCount + t.dynamicCount; ++i) {
        t.slots[i].name = Qel_StrFree(t.slots[i].name);
        t.slots[i].used = 0;
    }
    VRMFile* r = B3DB_OpenTypesFile("CutData");
    if (!r) return 0;
    const int32_t count = r->ReadInt();
    bool whole = !r->error && count >= 0;
    for (int32_t i = 0; whole && i < count; ++i) {
        const int32_t id = r->ReadInt();
        char* name = r->ReadString();
        if (r->error) {
            B3DB_TypesError(r, "Error loading definition for cut number %d\n", id);
            whole = false;
        } else if (id < 0 || id >= t.fixedCount) {
            // Dynamic ids belong to names met at run time, never to the table.
            Qel_DPrintf(0, "B3DB_LoadCutData: cut number %d has no slot, skipped\n", id);
        } else {
            B3D_SetCutName(id, name);
        }
        Qel_StrFree(name);
    }
    Release(r);
    return whole ? 1 : 0;
}

// ------------------------------------------------------------------ BodyData

namespace {
// The slot of a fixed body id, -1 for ids that only the dynamic part could hold.
int32_t FixedBodySlot(int32_t id, int32_t fixedCount) {
    int32_t slot;
    if (id < 1000) slot = id;
    else if (id < B3D_FIRST_DYNAMIC_BODY) slot = id - 9000;
    else slot = fixedCount + (id - B3D_FIRST_DYNAMIC_BODY);
    return slot >= 0 && slot < fixedCount ? slot : -1;
}
}  // namespace

int32_t B3DB_LoadBodyData() {
    B3DBodyIdTable& t = g_B3DState->bodyIds;
    if (!t.slots) return 0;
    for (int32_t i = 0; i < t.fixedCount + t.dynamicCount; ++i) {
        B3DBodySlot& s = t.slots[i];
        s.data = -2;
        s.collWord = -2;
        s.fileEntry = -1;
        s.name = Qel_StrFree(s.name);
        s.used = 0;
        s.useCount = 0;
    }
    VRMFile* r = B3DB_OpenTypesFile("BodyData");
    if (!r) return 0;
    const int32_t count = r->ReadInt();
    bool whole = !r->error && count >= 0;
    for (int32_t i = 0; whole && i < count; ++i) {
        const int32_t id = r->ReadInt();
        const int32_t data = r->ReadInt();
        const int32_t coll = r->ReadInt();
        const int32_t entry = r->ReadInt();
        char* name = r->ReadString();
        const int32_t slot = FixedBodySlot(id, t.fixedCount);
        if (r->error) {
            B3DB_TypesError(r, "Error loading definition for body number %d\n", id);
            whole = false;
        } else if (slot < 0) {
            Qel_DPrintf(0, "B3DB_LoadBodyData: body number %d has no slot, skipped\n", id);
        } else {
            B3DBodySlot& s = t.slots[slot];
            s.useCount = 0;
            s.data = data;
            s.collWord = coll;
            s.fileEntry = entry;
            B3D_SetBodyName(id, name);
        }
        Qel_StrFree(name);
    }
    Release(r);
    return whole ? 1 : 0;
}

// ------------------------------------------------------------------ LightTypes

int32_t B3DB_LoadLightTypeList() {
    for (int32_t i = 0; i < B3D_LIGHT_TYPES; ++i) {
        B3DLightType& l = g_B3DState->lightTypes[i];
        l = {};
        l.kind = 1;
        l.red = static_cast<uint16_t>((i % 1000) / 100 * 255 / 9);
        l.green = static_cast<uint16_t>((i % 100) / 10 * 255 / 9);
        l.blue = static_cast<uint16_t>((i % 10) * 255 / 9);
    }
    VRMFile* r = B3DB_OpenTypesFile("LightTypes");
    if (!r) return 0;
    const int32_t count = r->ReadInt();
    bool whole = !r->error && count >= 0;
    for (int32_t i = 0; whole && i < count; ++i) {
        const int32_t index = r->ReadInt();
        if (!r->error && (index < 0 || index >= B3D_LIGHT_TYPES)) {
            B3DB_TypesError(r, "B3DB_LoadLightTypeList: index %d out of range!\n", index);
            whole = false;
            break;
        }
        B3DLightType l{};
        l.kind = static_cast<uint16_t>(r->ReadInt());
        l.red = static_cast<uint16_t>(r->ReadInt());
        l.green = static_cast<uint16_t>(r->ReadInt());
        l.blue = static_cast<uint16_t>(r->ReadInt());
        l.switchWord = r->ReadInt();
        l.value = r->ReadInt();
        l.words[0] = r->ReadInt();
        l.words[1] = r->ReadInt();
        if (r->error) {
            whole = false;
            break;
        }
        g_B3DState->lightTypes[index] = l;
    }
    r->error = 0;
    Release(r);
    return whole ? 1 : 0;
}

// ------------------------------------------------------------------ Particles3

namespace {

constexpr int32_t kDescriptions = 100;

void FreeEmitters(B3DParticleDesc& d) {
    if (d.emitters) B3D_FreeMemB(d.emitterCount * static_cast<int32_t>(sizeof(B3DParticleEmitter)), d.emitters, 0);
    d.emitters = nullptr;
    d.emitterCount = 0;
}

// Whether the next field is a keyword (a field ending in ':'); the cursor stays.
bool AtKeyword(VRMFile* r) {
    if (r->error || r->binary) return false;
    uint8_t* cursor = r->cursor;
    const int32_t lineStart = r->lineStart;
    char* token = r->ReadString();
    bool keyword = false;
    if (token) {
        std::string t(token);
        while (!t.empty() && t.back() == ' ') t.pop_back();
        keyword = !t.empty() && t.back() == ':';
    }
    Qel_StrFree(token);
    r->cursor = cursor;
    r->lineStart = lineStart;
    r->error = 0;
    return keyword;
}

// Reads one emitter's fields and keyword entries; false on a reader error.
bool ReadEmitter(VRMFile* r, int32_t index, B3DParticleEmitter* e) {
    *e = {};
    e->flags = static_cast<uint32_t>(r->ReadEnum(kEmitterFlags));
    char* texture = r->ReadString();
    if (!r->error) e->material = static_cast<int16_t>(TC_GetTextureIdByName(texture));
    Qel_StrFree(texture);
    for (int32_t& v : e->texRect) v = r->ReadFixed();
    e->intervalFactor = r->ReadFixed();
    e->intervalVariation = r->ReadFixed();
    for (int32_t& v : e->values) v = r->ReadFixed();
    e->speedLow = r->ReadInt();
    e->speedHigh = r->ReadInt();
    e->lifetime = r->ReadInt();
    e->sizeLow = r->ReadInt();
    e->sizeHigh = r->ReadInt();
    while (!r->error && AtKeyword(r)) {
        char* keyword = r->ReadString();
        const std::string k = keyword ? keyword : "";
        Qel_StrFree(keyword);
        if (k == "lifetimevariation:") e->lifetimeVariation = r->ReadInt();
        else if (k == "spreadx:") e->spreadX = r->ReadFixed();
        else if (k == "spready:") e->spreadY = r->ReadFixed();
        else if (k == "growduration:") e->growDuration = r->ReadInt();
        else if (k == "fadeduration:") e->fadeDuration = r->ReadInt();
        else if (k == "rotspeed:") e->rotSpeed = r->ReadFixed();
        else if (k == "randomrotspeed:") e->rotSpeedRandom = r->ReadFixed();
        else {
            Qel_DPrintf(0, "B3DB_LoadParticleDescription: unknown keyword in %d ignored\n", index);
            Qel_StrFree(r->ReadString());
        }
    }
    return !r->error;
}

}  // namespace

void B3DB_FreeParticleDescriptions() {
    if (!g_B3DState) return;
    for (B3DParticleDesc& d : g_B3DState->particleDescs) FreeEmitters(d);
}

int32_t B3DB_LoadParticleDescription() {
    B3DB_FreeParticleDescriptions();
    VRMFile* r = B3DB_OpenTypesFile("Particles3");
    if (!r) return 0;
    r->ReadInt();
    int32_t answer = 1;
    for (;;) {
        const int32_t index = r->ReadInt();
        if (r->error) {
            r->error = 0;
            break;
        }
        if (index < 0 || index >= kDescriptions) {
            B3DB_TypesError(r, "B3DB_LoadParticleDescription: index %d out of range!\n", index);
            answer = 0;
            break;
        }
        const int32_t count = r->ReadInt();
        const int32_t first = r->ReadEnum(IconNamesWithNull());
        std::vector<B3DParticleEmitter> emitters;
        bool whole = !r->error && count >= 0;
        for (int32_t i = 0; whole && i < count; ++i) {
            B3DParticleEmitter e;
            whole = ReadEmitter(r, index, &e);
            if (whole) emitters.push_back(e);
        }
        if (!whole) {
            B3DB_TypesError(r, "B3DB_LoadParticleDescription: description %d cut short\n", index);
            answer = 0;
            break;
        }
        B3DParticleDesc& d = g_B3DState->particleDescs[index];
        FreeEmitters(d);
        d.iconWord = first;
        if (!emitters.empty()) {
            const int32_t bytes = static_cast<int32_t>(emitters.size() * sizeof(B3DParticleEmitter));
            void* p = B3D_AllocMemB(bytes, B3D_MEM_ZERO);
            if (!p) p = B3D_AllocMemB(bytes, B3D_MEM_ZERO);
            if (p) {
                std::memcpy(p, emitters.data(), emitters.size() * sizeof(B3DParticleEmitter));
                d.emitters = static_cast<B3DParticleEmitter*>(p);
                d.emitterCount = static_cast<int32_t>(emitters.size());
            }
        }
    }
    Release(r);
    return answer;
}

// ------------------------------------------------------------------ Skins

namespace {
bool MissingTexture(uint32_t id) { return id == 0 || id == 0xFFFF; }

struct SkinRead {
    int32_t number = 0;
    char* name = nullptr;
    std::vector<int32_t> replaced, replacing;
};

int32_t* CopyIds(const std::vector<int32_t>& ids) {
    if (ids.empty()) return nullptr;
    auto* p = static_cast<int32_t*>(Int_AllocMem(ids.size() * sizeof(int32_t), 0));
    if (p) std::memcpy(p, ids.data(), ids.size() * sizeof(int32_t));
    return p;
}
}  // namespace

int32_t B3DB_LoadSkins() {
    B3D_FreeSkinTable();
    VRMFile* r = B3DB_OpenTypesFile("Skins");
    if (!r) return 0;
    const int32_t count = r->ReadInt();
    bool whole = !r->error && count >= 0;
    std::vector<SkinRead> skins;
    for (int32_t i = 0; whole && i < count; ++i) {
        SkinRead s;
        s.number = r->ReadInt();
        s.name = r->ReadString();
        const int32_t pairs = r->ReadInt();
        whole = !r->error && pairs >= 0;
        for (int32_t k = 0; whole && k < pairs; ++k) {
            char* a = r->ReadString();
            char* b = r->ReadString();
            if (r->error) {
                whole = false;
            } else {
                const uint32_t from = TC_GetTextureIdByName(a), to = TC_GetTextureIdByName(b);
                if (MissingTexture(from) || MissingTexture(to))
                    B3DB_TypesError(r, "Error loading Skins.txt: skin type %d, texture number %d\n", i, k);
                s.replaced.push_back(static_cast<int32_t>(from));
                s.replacing.push_back(static_cast<int32_t>(to));
            }
            Qel_StrFree(a);
            Qel_StrFree(b);
        }
        if (whole) skins.push_back(std::move(s));
        else Qel_StrFree(s.name);
    }
    Release(r);
    if (!skins.empty()) {
        B3DState* st = g_B3DState;
        const int32_t bytes = static_cast<int32_t>(skins.size() * sizeof(B3DSkinRow));
        st->skins = static_cast<B3DSkinRow*>(B3D_AllocMemB(bytes, B3D_MEM_ZERO));
        if (st->skins) {
            st->skinCount = static_cast<int32_t>(skins.size());
            for (size_t i = 0; i < skins.size(); ++i) {
                B3DSkinRow& row = st->skins[i];
                row.number = skins[i].number;
                row.name = skins[i].name;
                row.count = static_cast<int32_t>(skins[i].replaced.size());
                row.replaced = CopyIds(skins[i].replaced);
                row.replacing = CopyIds(skins[i].replacing);
                if (row.count && (!row.replaced || !row.replacing)) {
                    // Lookups walk both arrays: without them the row has no pairs.
                    if (row.replaced) Int_FreeMem(row.replaced, sizeof(int32_t) * static_cast<size_t>(row.count), 0);
                    if (row.replacing) Int_FreeMem(row.replacing, sizeof(int32_t) * static_cast<size_t>(row.count), 0);
                    row.replaced = row.replacing = nullptr;
                    row.count = 0;
                }
            }
        } else {
            for (SkinRead& s : skins) Qel_StrFree(s.name);
            whole = false;
        }
    }
    return whole ? 1 : 0;
}

// ------------------------------------------------------------------ IconData

namespace {
bool Fits16(int32_t v) { return v >= -32768 && v <= 32767; }

// The texture layer places icons by signed 16-bit rectangles inside the sheet.
bool IconFits(const B3DIconRow& row, int32_t width, int32_t height) {
    if (!Fits16(row.x) || !Fits16(row.y) || !Fits16(row.w) || !Fits16(row.h)) return false;
    if (row.x < 0 || row.y < 0 || row.w <= 0 || row.h <= 0) return false;
    if (width > 0 && row.x + row.w > width) return false;
    if (height > 0 && row.y + row.h > height) return false;
    return true;
}
// A slot name or number; the name table's reader takes no sign, and a
// negative slot must end the reading like a too large one.
int32_t ReadSlot(VRMFile* r) {
    if (!r->error && !r->binary) {
        Qel_ReaderSkip(r);
        if (r->cursor && *r->cursor == '-') return r->ReadInt();
    }
    return r->ReadEnum(kIconSlots);
}
}  // namespace

int32_t B3DB_LoadIconData() {
    VRMFile* r = B3DB_OpenTypesFile("IconData");
    if (!r) return 0;
    int32_t answer = 1;
    for (;;) {
        const int32_t slot = ReadSlot(r);
        if (r->error) break;
        if (slot < 0 || slot >= B3D_ICON_LISTS) {
            B3DB_TypesError(r, "Error loading icon data file %s: icon texture slot %d\n", "IconData", slot);
            answer = 0;
            break;
        }
        char* texture = r->ReadString();
        const int32_t count = r->ReadInt();
        const int32_t width = r->ReadInt();
        const int32_t height = r->ReadInt();
        const std::string textureName = texture ? texture : "";
        bool whole = !r->error && count >= 0;
        const int32_t textureId = whole ? static_cast<int32_t>(TC_GetTextureIdByName(texture)) : 0;
        Qel_StrFree(texture);
        std::vector<B3DIconRow> rows;
        for (int32_t i = 0; whole && i < count; ++i) {
            B3DIconRow row{};
            row.iconId = r->ReadEnum(IconNamesWithNull());
            row.word = r->ReadEnum(kNull);
            row.x = r->ReadInt();
            row.y = r->ReadInt();
            row.w = r->ReadInt();
            row.h = r->ReadInt();
            if (r->error) whole = false;
            else if (!IconFits(row, width, height))
                B3DB_TypesError(r, "Error loading icon data file %s: texture %s, icon %d, ID %d\n", "IconData",
                                textureName.c_str(), i, row.iconId);
            else rows.push_back(row);
        }
        if (!whole) {
            B3DB_TypesError(r, "Error loading icon data file %s: texture %s cut short\n", "IconData",
                            textureName.c_str());
            answer = 0;
            break;
        }
        B3DIconList& list = g_B3DState->icons[slot];
        if (list.rows) Int_FreeMem(list.rows, sizeof(B3DIconRow) * static_cast<size_t>(list.rowCount), 0);
        list = {};
        list.textureId = textureId;
        list.width = width;
        list.height = height;
        if (!rows.empty()) {
            list.rows = static_cast<B3DIconRow*>(Int_AllocMem(rows.size() * sizeof(B3DIconRow), 0));
            if (list.rows) {
                std::memcpy(list.rows, rows.data(), rows.size() * sizeof(B3DIconRow));
                list.rowCount = static_cast<int32_t>(rows.size());
            }
        }
    }
    Release(r);
    return answer;
}
