#include "scene/dummies.h"

#include <cstring>
#include <vector>

#include "base/log.h"
#include "base/memory.h"
#include "base/strings.h"
#include "base/texanim.h"
#include "base/texcache.h"
#include "base/vrmfile.h"
#include "scene/ids.h"
#include "scene/names.h"
#include "scene/smallops.h"
#include "scene/freeing.h"
#include "scene/state.h"
#include "scene/typesfiles.h"

// ------------------------------------------------------------------ BodyDummies

int32_t B3DB_LoadBodyDummies() {
    VRMFile* r = B3DB_OpenTypesFile("BodyDummies");
    if (!r) return 0;
    const int32_t count = r->ReadInt();
    bool whole = !r->error && count >= 0;
    for (int32_t i = 0; whole && i < count; ++i) {
        char* name = r->ReadString();
        if (r->error) {
            whole = false;
        } else if (B3DBodySlot* slot = B3D_BodySlotOf(B3D_GetBodyID(name))) {
            slot->loadMark = 1;
        }
        Qel_StrFree(name);
    }
    Qel_CloseFileBuffer(r);
    return whole ? 1 : 0;
}

// ------------------------------------------------------------------ Lensflares

int32_t B3DB_LoadLensflares() {
    VRMFile* r = B3DB_OpenTypesFile("Lensflares");
    if (!r) return 0;
    B3D_FreeArrayTable();
    B3DState* s = g_B3DState;
    const int32_t count = r->ReadInt();
    bool whole = !r->error && count >= 0;
    // Every flare takes at least a byte of the file: a larger count is a bad
    // file, not a table of gigabytes.
    if (whole && r->base && static_cast<uint32_t>(count) > r->size) {
        Qel_ErrPrintf("B3DB_LoadLensflares: %d lens flares in a file of %u bytes\n", static_cast<int>(count),
                      static_cast<unsigned>(r->size));
        whole = false;
    }
    if (whole && count > 0) {
        s->arrayTable =
            static_cast<B3DArrayTableRow*>(Int_AllocMem(sizeof(B3DArrayTableRow) * static_cast<size_t>(count), 0));
        if (s->arrayTable) s->arrayTableCount = count;
        else whole = false;
    }
    for (int32_t i = 0; whole && i < count; ++i) {
        const int32_t elements = r->ReadInt();
        whole = !r->error && elements >= 0;
        std::vector<B3DLensFlareElement> read;
        for (int32_t k = 0; whole && k < elements; ++k) {
            B3DLensFlareElement e{};
            char* name = r->ReadString();
            e.bodyId = r->error ? 0 : B3D_GetBodyID(name);
            Qel_StrFree(name);
            e.value = r->ReadFixed();
            e.words[0] = r->ReadInt();
            e.words[1] = r->ReadInt();
            e.half = r->ReadShort();
            if (r->error) whole = false;
            else read.push_back(e);
        }
        if (!whole) {
            B3DB_TypesError(r, "B3DB_LoadLensflares: lens flare %d cut short\n", i);
            break;
        }
        if (read.empty()) continue;
        void* p = Int_AllocMem(sizeof(B3DLensFlareElement) * read.size(), 0);
        if (!p) continue;
        std::memcpy(p, read.data(), sizeof(B3DLensFlareElement) * read.size());
        s->arrayTable[i] = {static_cast<int32_t>(read.size()), p};
    }
    Qel_CloseFileBuffer(r);
    return whole ? 1 : 0;
}

void B3DB_ReloadLensflaresAndDummies() {
    B3D_FreeArrayTable();
    B3DB_LoadLensflares();
    B3DB_LoadBodyDummies();
}

// ------------------------------------------------------------------ Materials

namespace {

constexpr VRMNameValue kColours[] = {{"HIH_COL", 192}, {"LOW_COL", 64}};
constexpr VRMNameValue kSpecularRed[] = {{"HSPEC_R", 255}, {"MSPEC_R", 76},  {"LSPEC_R", 0},
                                         {"HMETL_R", 200}, {"MMETL_R", 138}, {"LMETL_R", 76}};
constexpr VRMNameValue kSpecularGreen[] = {{"HSPEC_G", 255}, {"MSPEC_G", 76},  {"LSPEC_G", 0},
                                           {"HMETL_G", 200}, {"MMETL_G", 138}, {"LMETL_G", 76}};
constexpr VRMNameValue kSpecularBlue[] = {{"HSPEC_B", 204}, {"MSPEC_B", 61},  {"LSPEC_B", 0},
                                          {"HMETL_B", 200}, {"MMETL_B", 138}, {"LMETL_B", 76}};

// One name table of the given parts, ended by an empty name.
template <size_t... N>
std::vector<VRMNameValue> Join(const VRMNameValue (&... parts)[N]) {
    std::vector<VRMNameValue> out;
    (out.insert(out.end(), parts, parts + N), ...);
    out.push_back({"", 0});
    return out;
}

const std::vector<VRMNameValue> kRedNames = Join(kSpecularRed, kColours);
const std::vector<VRMNameValue> kGreenNames = Join(kSpecularGreen, kSpecularRed, kColours);
const std::vector<VRMNameValue> kBlueNames = Join(kSpecularBlue, kSpecularRed, kColours);

constexpr VRMNameValue kAmbient[] = {{"HAMB", 64}, {"MAMB", 37}, {"LAMB", 21}, {"AMBC", 32}, {"", 0}};
constexpr VRMNameValue kDiffuse[] = {{"DIF_COL", 32}, {"", 0}};
constexpr VRMNameValue kTransparency[] = {{"TRANSP_NONE", 255}, {"", 0}};
constexpr VRMNameValue kShininess[] = {{"LSHINY", 255}, {"MSHINY", 127}, {"HSHINY", 0}, {"", 0}};
constexpr VRMNameValue kNone[] = {{"", 0}};

}  // namespace

// The material flags, as the text form names them.
const VRMNameValue g_B3DMaterialFlags[] = {
    {"MPF_NULL", 0},
    {"MPF_ALPHATEST", 0x1},
    {"MPF_DESTINATIONBLEND", 0x2},
    {"MPF_ALPHABLEND", 0x4},
    {"MPF_WIREFRAME", 0x8},
    {"MPF_2SIDED", 0x10},
    {"MPF_TEXTURE_NOTSWAPABLE", 0x20},
    {"MPF_MULTIPLY2X", 0x40},
    {"MPF_MULTIPLY", 0x80},
    {"MPF_NOFILTERING", 0x100},
    {"MPF_SRCCOLOR", 0x400},
    {"MPF_ENVMAP", 0x1000},
    {"MPF_BUMPMAP", 0x2000},
    {"MPF_LIGHTMAP", 0x4000},
    {"MPF_BESTQUALITY", 0x8000},
    {"MPF_FONTSCALE", 0x10000},
    {"MPF_READABLE", 0x20000},
    {"MPF_WRITEABLE", 0x40000},
    {"MPF_AUTOFREE", 0x80000},
    {"MPF_RADIOSITY", 0x100000},
    {"MPF_TEXTUREALPHA", 0x200000},
    {"MPF_IMPORTPICTURE", 0x400000},
    {"MPF_GENERATED", 0x800000},
    {"MPF_XBOX_NOCOMPRESS", 0x1000000},
    {"MPF_USEFXSHADER", 0x2000000},
    {"MPF_HAZE", 0x4000000},
    {"", 0},
};

namespace {

uint8_t Byte(VRMFile* r, const VRMNameValue* names) { return static_cast<uint8_t>(r->ReadEnum(names)); }

// One definition; false on a reader error. The texture name is the caller's.
bool ReadMaterial(VRMFile* r, TC_TextureInfo* m, char** texture) {
    *m = {};
    for (uint8_t& b : m->head) b = Byte(r, kNone);
    m->colour[0][0] = Byte(r, kRedNames.data());
    m->colour[0][1] = Byte(r, kGreenNames.data());
    m->colour[0][2] = Byte(r, kBlueNames.data());
    for (uint8_t& b : m->colour[1]) b = Byte(r, kAmbient);
    for (uint8_t& b : m->colour[2]) b = Byte(r, kDiffuse);
    m->textureNumber = r->ReadShort();
    m->opacity = Byte(r, kTransparency);
    r->ReadShort();
    m->flags = r->ReadFlags32(g_B3DMaterialFlags);
    m->width = r->ReadShort();
    m->height = r->ReadShort();
    for (int16_t& w : m->sizeWords) w = r->ReadShort();
    m->shininess = static_cast<int16_t>(r->ReadEnum(kShininess));
    m->words[0] = r->ReadShort();
    m->words[1] = r->ReadShort();
    m->envMap = r->ReadShort();
    m->word3 = r->ReadShort();
    m->bumpMap = r->ReadShort();
    m->word4 = r->ReadShort();
    *texture = r->ReadString();
    return !r->error;
}

}  // namespace

void B3DB_FreeMaterials() {
    if (g_TCTextureInfo) Int_FreeMem(g_TCTextureInfo, sizeof(TC_TextureInfo) * g_TCTextureInfoCount, 0);
    g_TCTextureInfo = nullptr;
    g_TCTextureInfoCount = 0;
}

int32_t B3DB_LoadMaterials() {
    VRMFile* r = B3DB_OpenTypesFile("Materials");
    if (!r) return 0;
    const int32_t count = r->ReadInt();
    if (r->error || count < 0 || count > 0xFFFF) {
        B3DB_TypesError(r, "Error loading definition for material number %d\n", 0);
        Qel_CloseFileBuffer(r);
        return 0;
    }
    B3DB_FreeMaterials();
    B3D_ForgetMenuTextures();
    g_TCNumberedCount = static_cast<uint16_t>(count);
    g_TCNamedCount = 0;
    if (count > 0) {
        g_TCTextureInfo = static_cast<TC_TextureInfo*>(Int_AllocMem(sizeof(TC_TextureInfo) * count, 0));
        if (g_TCTextureInfo) g_TCTextureInfoCount = static_cast<uint16_t>(count);
    }
    TC_AllocTextureTable();
    bool whole = g_TCTextureInfo || count == 0;
    for (int32_t i = 0; whole && i < count; ++i) {
        TC_TextureInfo m;
        char* texture = nullptr;
        if (!ReadMaterial(r, &m, &texture)) {
            B3DB_TypesError(r, "Error loading definition for material number %d\n", i);
            whole = false;
        } else {
            g_TCTextureInfo[i] = m;
            const bool none =
                !std::strcmp(texture, "NULL") || !std::strcmp(texture, "Null") || !std::strcmp(texture, "null");
            TC_SetTextureName(i, none ? nullptr : texture);
            TC_SetTextureFlags(i, m.flags);
        }
        Qel_StrFree(texture);
    }
    Qel_CloseFileBuffer(r);
    TC_AnimLoadDefinitions();
    return whole ? 1 : 0;
}

// ------------------------------------------------------------------ dump

void B3D_DumpUsedBodies() {
    B3DState* s = g_B3DState;
    if (!s) return;
    B3D_MemoryFlush(s);
    const B3DBodyIdTable& t = s->bodyIds;
    if (!t.slots) return;
    for (int32_t slot = 0; slot < t.fixedCount + t.dynamicCount; ++slot) {
        const int32_t uses = t.slots[slot].useCount;
        if (uses == 0) continue;
        const int32_t id = slot < 1000 ? slot : slot < t.fixedCount ? slot + 9000 : slot - t.fixedCount + 20000;
        Qel_DPrintf(0, "%d %d\n", id, uses);
    }
}
