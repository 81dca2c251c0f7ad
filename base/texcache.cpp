#include "base/texcache.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/ebm.h"
#include "base/file.h"
#include "base/general.h"
#include "base/imagefiles.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/strings.h"
#include "base/table.h"
#include "base/texanim.h"
#include "render/pixelformat.h"
#include "system/adapters.h"
#include "system/movie.h"
#include "system/surfaces.h"
#include "system/userpaths.h"
#include "system/video.h"

TC_TextureEntry* TC_TextureTable = nullptr;
uint16_t g_TCNumberedCount = 0;
uint16_t g_TCNamedCount = 0;
TC_TextureInfo* g_TCTextureInfo = nullptr;
uint16_t g_TCTextureInfoCount = 0;
QelTable* g_TCTextureFormats = nullptr;

namespace {

uint32_t s_Capacity = 0;  // entries allocated in TC_TextureTable

int Total() { return g_TCNumberedCount + g_TCNamedCount; }
bool InTable(int id) { return TC_TextureTable && id >= 0 && id < Total() && static_cast<uint32_t>(id) < s_Capacity; }

const TC_TextureInfo* InfoOf(int id) {
    return id >= 0 && id < g_TCNumberedCount && id < g_TCTextureInfoCount && g_TCTextureInfo ? &g_TCTextureInfo[id]
                                                                                             : nullptr;
}

// A numbered id whose info record says it has no texture.
bool NoTexture(int id) {
    const TC_TextureInfo* info = InfoOf(id);
    return info && info->textureNumber == 0;
}

bool DevicePresent() { return g_RendererState && g_RendererState->device && g_RendererState->device->device; }

int ScaleFactor() { return g_SystemState ? g_SystemState->fontScale : 1; }

// The device loses default-pool textures; with managed textures ("-managed")
// they live on in memory, so unheld ones may be freed as they are released.
bool KeepsTexturesInMemory() { return g_SystemState && (g_SystemState->deviceFlags & 8); }

bool Grow(uint32_t entries) {
    if (entries <= s_Capacity) return true;
    void* fresh = Int_AllocMem(entries * sizeof(TC_TextureEntry), 0);
    if (!fresh) return false;
    std::memset(fresh, 0, entries * sizeof(TC_TextureEntry));
    if (TC_TextureTable) {
        std::memcpy(fresh, TC_TextureTable, s_Capacity * sizeof(TC_TextureEntry));
        Int_FreeMem(TC_TextureTable, s_Capacity * sizeof(TC_TextureEntry), 0);
    }
    TC_TextureTable = static_cast<TC_TextureEntry*>(fresh);
    s_Capacity = entries;
    return true;
}

void FreeBitmap(TC_TextureEntry& e) {
    FreeILBM(e.bitmap);
    e.bitmap = nullptr;
}

std::string Format(const char* pattern, const std::string& value) {
    std::vector<char> out(std::strlen(pattern) + value.size() + 16);
    std::snprintf(out.data(), out.size(), pattern, value.c_str());
    return out.data();
}

// Loads the entry's bitmap: 1 loaded (or already), 0 failed.
int LoadTextureEntry(int id) {
    TC_TextureEntry& e = TC_TextureTable[id];
    if (!DevicePresent()) return 0;
    if (e.bitmap) return 1;
    const TC_TextureInfo* info = InfoOf(id);
    bool alpha = info && info->opacity < 255;
    auto* format = g_TCTextureFormats ? reinterpret_cast<const TextureBitmapFormat*>(Qel_TableGet(
                                            g_TCTextureFormats, alpha ? TC_FORMAT_ALPHA : TC_FORMAT_OPAQUE))
                                      : nullptr;
    int depth = 0;
    if (format) {
        if (format->kind & 1) depth = 8;
        else if (format->kind & 2) depth = 4;
        else if (format->kind & 4) depth = static_cast<int>(format->bitsPerPixel);
    }
    uint32_t flags = (e.flags & TC_PLAIN_LOAD) ? 0x402Cu : 0x4000402Cu;
    if (g_SystemState && (g_SystemState->videoFlags & 0x2000000)) flags |= EBM_MIPMAPS;
    if (e.flags & TC_PACKED) flags &= ~QEL_LOAD_DXT1;
    bool large = ScaleFactor() >= 2 && (e.flags & TC_LARGE);

    if (e.flags & TC_BLANK) {
        if (!info || info->width <= 0 || info->height <= 0 || depth <= 0) return 0;
        int w = info->width * (large ? ScaleFactor() : 1), h = info->height * (large ? ScaleFactor() : 1);
        uint32_t blank = (flags & ~QEL_LOAD_DXT1) | ((e.flags & TC_BLANK_ALPHA) ? EBM_TRANSPARENTFORMAT : 0);
        e.bitmap = GenerateEbm(static_cast<int16_t>(w), static_cast<int16_t>(h), static_cast<int16_t>(depth), blank);
        return e.bitmap ? 1 : 0;
    }
    if (!format || !(format->redMask | format->greenMask | format->blueMask)) {
        Qel_ErrPrintf("Error: no valid textureformat specified\n");
        return 0;
    }
    const AppDescriptor* app = g_SystemState ? g_SystemState->app : nullptr;
    std::string path;
    if (e.flags & TC_LOGO) {
        const char* logo = S_GetLogoImageName();
        if (!logo) return 0;
        path = logo;
    } else if (id >= g_TCNumberedCount) {
        if (!e.name || !app || !app->textureTemplates[1]) return 0;
        path = Format(app->textureTemplates[1], large ? std::string(e.name) + "_l" : std::string(e.name));
    } else {
        if (!app || !app->textureTemplates[0]) return 0;
        path = Format(app->textureTemplates[0], "true\\" + std::to_string(large ? id + 10000 : id));
    }
    if (depth <= 16) flags |= 0x100100;
    else if (depth <= 24) flags |= 0x80200;
    else flags |= 0x82000;
    e.bitmap = S_LoadTexture(path.c_str(), flags, 0, 0);
    return e.bitmap ? 1 : 0;
}

}  // namespace

// ---------------------------------------------------------------- the table

bool TC_AllocTextureTable() {
    TC_FreeTextureTables();
    uint32_t entries = (g_TCNamedCount / 1000u + 1u) * 1000u + g_TCNumberedCount;
    return !Grow(entries);
}

void TC_FreeTextureTables() {
    if (TC_TextureTable) {
        for (uint32_t i = 0; i < s_Capacity; ++i) {
            TC_TextureTable[i].name = Qel_StrFree(TC_TextureTable[i].name);
            FreeBitmap(TC_TextureTable[i]);
        }
        Int_FreeMem(TC_TextureTable, s_Capacity * sizeof(TC_TextureEntry), 0);
    }
    TC_TextureTable = nullptr;
    s_Capacity = 0;
    TC_AnimFreeDefinitions();
}

void TC_SetTextureName(int id, const char* name) {
    if (!TC_TextureTable || id < 0 || static_cast<uint32_t>(id) >= s_Capacity) return;
    TC_TextureEntry& e = TC_TextureTable[id];
    e.name = Qel_StrFree(e.name);
    FreeBitmap(e);
    e.refCount = 0;
    if (!name || !*name) return;
    std::string n(name);
    if (n.size() >= 4 && n[n.size() - 4] == '.') n.resize(n.size() - 4);
    e.name = Qel_StrDup(n.c_str());
}

uint32_t TC_GetTextureIdByName(const char* name) {
    if (!name || !*name || !std::strcmp(name, "0") || !std::strcmp(name, "NULL") || !std::strcmp(name, "Null") ||
        !std::strcmp(name, "null"))
        return 0;
    size_t len = std::strlen(name);
    if (len > 4 && name[len - 4] == '.') return TC_GetTextureIdByName(std::string(name, len - 4).c_str());
    if ((name[0] >= '0' && name[0] <= '9') || name[0] == '-') {
        char* end = nullptr;
        long v = std::strtol(name, &end, 10);
        if (end != name && *end == 0) return static_cast<uint32_t>(v);
    }
    if (TC_TextureTable)
        for (int i = 0; i < Total() && static_cast<uint32_t>(i) < s_Capacity; ++i)
            if (TC_TextureTable[i].name && Qel_StrICmp(TC_TextureTable[i].name, name) == 0)
                return static_cast<uint32_t>(i);
    if (g_TCNamedCount == 0xFFFF) return 0xFFFF;
    ++g_TCNamedCount;
    uint32_t needed = static_cast<uint32_t>(Total());
    if (g_TCNamedCount % 1000 == 0 || needed > s_Capacity) {
        uint32_t entries = (g_TCNamedCount / 1000u) * 1000u + g_TCNumberedCount + 1000u;
        if (!Grow(entries < needed ? needed : entries)) {
            --g_TCNamedCount;
            return 0xFFFF;
        }
    }
    int id = Total() - 1;
    TC_SetTextureName(id, name);
    return static_cast<uint32_t>(id);
}

const char* TC_GetTextureName(int id) {
    static char number[16];
    if (id == 0 || !InTable(id)) return "";
    if (TC_TextureTable[id].name) return TC_TextureTable[id].name;
    if (id < g_TCNumberedCount) {
        std::snprintf(number, sizeof number, "%d", id);
        return number;
    }
    return "";
}

uint32_t TC_GetTextureFlags(int id) { return InTable(id) ? TC_TextureTable[id].flags : 0; }

void TC_SetTextureFlags(int id, uint32_t flags) {
    if (!InTable(id)) return;
    if (const TC_TextureInfo* info = InfoOf(id)) flags |= info->flags & TC_INFO_FLAG_MASK;
    TC_TextureTable[id].flags = flags;
}

// ---------------------------------------------------------------- bitmaps

EBM* TC_GetTextureEBM(int id, int callerTag) {
    if (!InTable(id) || NoTexture(id)) return nullptr;
    if (!LoadTextureEntry(id)) {
        if (TC_TextureTable[id].name)
            Qel_ErrPrintf("TC_GetTextureEBM(%s(%d),%d) Error loading texture original\n", TC_TextureTable[id].name, id,
                          callerTag);
        else Qel_ErrPrintf("TC_GetTextureEbm(%d,%d) Error loading texture original\n", id, callerTag);
        return nullptr;
    }
    return TC_TextureTable[id].bitmap;
}

EBM* TC_GetLoadedTexture(int id) {
    if (!InTable(id)) return nullptr;
    if (!TC_TextureTable[id].bitmap) TC_ReloadTexture(id);
    return TC_TextureTable[id].bitmap;
}

EBM* TC_GetTextureHandle(int id) { return TC_GetLoadedTexture(id); }

EBM* TC_AddTextureRef(int id) {
    if (!InTable(id)) return nullptr;
    ++TC_TextureTable[id].refCount;
    return TC_GetTextureEBM(id, 0);
}

void TC_ReleaseTexture(int id) {
    if (!InTable(id)) return;
    TC_TextureEntry& e = TC_TextureTable[id];
    if (e.refCount == 0) return;
    if (--e.refCount > 0) return;
    if (!e.bitmap || NoTexture(id) || !(KeepsTexturesInMemory() || (e.flags & TC_AUTOFREE))) return;
    Qel_DPrintf(0, "Autofreeing texture %d [%s]\n", id, e.name ? e.name : "NULL");
    FreeBitmap(e);
}

void TC_ReleaseAllTextures() {
    if (!TC_TextureTable || !DevicePresent()) return;
    for (uint32_t i = 0; i < s_Capacity; ++i) {
        FreeBitmap(TC_TextureTable[i]);
        TC_TextureTable[i].refCount = 0;
    }
}

void TC_MemoryFlush() {
    if (!TC_TextureTable) return;
    int loaded = 0, freed = 0;
    for (int i = 0; i < Total() && static_cast<uint32_t>(i) < s_Capacity; ++i) {
        TC_TextureEntry& e = TC_TextureTable[i];
        if (!e.bitmap) continue;
        ++loaded;
        int packed = (e.flags & TC_PACKED) ? 1 : 0;
        if (e.refCount > 0) {
            Qel_DPrintf(0, "Keep tex %d ref=%d size=%dx%d pack=%d\n", i, static_cast<int>(e.refCount), e.bitmap->width,
                        e.bitmap->height, packed);
            continue;
        }
        Qel_DPrintf(0, "Free tex %d ref=%d size=%dx%d pack=%d\n", i, static_cast<int>(e.refCount), e.bitmap->width,
                    e.bitmap->height, packed);
        FreeBitmap(e);
        ++freed;
    }
    Qel_DPrintf(0, "TC_MemoryFlush() freed %d of %d loaded textures\n", freed, loaded);
}

int TC_ReloadTexture(int id) {
    if (!g_TCTextureFormats) return 0;
    if (!InTable(id)) return 1;
    if (NoTexture(id)) return 0;
    if (LoadTextureEntry(id)) return 1;
    if (TC_TextureTable[id].name) Qel_ErrPrintf("Error reloading texture %s(%d).\n", TC_TextureTable[id].name, id);
    else Qel_ErrPrintf("Error reloading texture %d.\n", id);
    return 0;
}

void TC_UnlockTextureSurfaces() {
    if (!TC_TextureTable) return;
    for (uint32_t i = 0; i < s_Capacity; ++i) {
        EBM* b = TC_TextureTable[i].bitmap;
        if (b && (b->flags & EBM_LOCKED)) S_UnLockSingleDDSurface(b);
    }
}

void TC_CopyTextureBitmap(int id, EBM** destination) {
    if (destination) *destination = InTable(id) ? TC_TextureTable[id].bitmap : nullptr;
}

// ---------------------------------------------------------------- materials

namespace {

struct Hsv {
    int64_t h, s, v;  // 16.16: hue in degrees, saturation and value 0 .. 1
};

Hsv ToHsv(const uint8_t rgb[3]) {
    int64_t r = rgb[0] * 257, g = rgb[1] * 257, b = rgb[2] * 257;
    int64_t max = std::max({r, g, b}), min = std::min({r, g, b}), d = max - min;
    Hsv out{0, max ? d * 65536 / max : 0, max * 65536 / 65535};
    if (d == 0) return out;
    int64_t h;
    if (max == r) h = (g - b) * 60 * 65536 / d;
    else if (max == g) h = 120 * 65536 + (b - r) * 60 * 65536 / d;
    else h = 240 * 65536 + (r - g) * 60 * 65536 / d;
    if (h < 0) h += 360 * 65536;
    out.h = h;
    return out;
}

double Distance(const uint8_t a[3], const uint8_t b[3]) {
    Hsv x = ToHsv(a), y = ToHsv(b);
    int64_t d = std::llabs(x.h - y.h) / 180 + 2 * std::llabs(x.s - y.s) + std::llabs(x.v - y.v);
    return static_cast<double>(d) / 327680.0;
}

}  // namespace

int TC_FindBodyMaterial(TC_BodyMaterial* m) {
    if (!m) return 0;
    if (m->opacityPercent < 100) m->flags |= 0x4;
    constexpr double kNone = 2147483647.0;
    double best = kNone;
    int bestIndex = 0;
    for (int i = 0; i < g_TCTextureInfoCount && g_TCTextureInfo; ++i) {
        const TC_TextureInfo& info = g_TCTextureInfo[i];
        if (info.textureNumber != m->texture) continue;
        if (m->bumpMap && info.bumpMap != m->bumpMap)
            Qel_ErrPrintf("Warning: Texture ID %d matches but Bumpmap ID (%d != %d) doesn't match!\n", m->texture,
                          info.bumpMap, m->bumpMap);
        if (info.envMap != m->envMap)
            Qel_ErrPrintf("Warning: Texture ID %d matches but Environment Map ID (%d != %d) doesn't match!\n",
                          m->texture, info.envMap, m->envMap);
        double opacity = std::abs(info.opacity - m->opacityPercent * 255.0 / 100.0) / 255.0;
        double score = Distance(m->colour[0], info.colour[1]) * 2 + opacity * 5 +
                       Distance(m->colour[1], info.colour[2]) * 3 + Distance(m->colour[2], info.colour[0]);
        if (score < best) {
            best = score;
            bestIndex = i;
        }
    }
    if (best == kNone) {
        Qel_ErrPrintf("couldnt find any material for a body. Texture: %d\n", m->texture);
        return 0;
    }
    return bestIndex;
}

// ---------------------------------------------------------------- bundler scripts

namespace {

// The scripts name the console build tree as it was; they are written under
// the user data folder, at the same place below it.
constexpr const char* kTree = "f:\\src\\game\\";

QelFile* OpenScript(const std::string& full) {
    std::string rel = full.substr(std::strlen(kTree));
    for (size_t at = rel.find('\\'); at != std::string::npos; at = rel.find('\\', at + 1))
        Qel_MakeDir(rel.substr(0, at).c_str(), 1);
    return Qel_fopen(rel.c_str(), "w", 1);
}

}  // namespace

void TC_GenerateRDF() {
    if (!g_SystemState || !(g_SystemState->SysProfilingFlags & 0x400)) return;
    QelFile* rdf = OpenScript("f:\\src\\game\\console_mastering\\xpr\\tex\\tex.rdf");
    QelFile* bat = OpenScript("f:\\src\\game\\console_mastering\\xpr\\makexpr.bat");
    if (!rdf || !bat) {
        if (rdf) Qel_fclose(rdf);
        if (bat) Qel_fclose(bat);
        return;
    }
    const char* now = Qel_TimeString();
    Qel_fprintf(bat,
                "REM *** This file autogenerated by Ruzo Debug Version with option -generaterdf\nREM *** Time "
                "generated: %s",
                now);
    Qel_fprintf(rdf, "// RDF file for generating the permanent texture pool\n// Time generated: %s", now);
    Qel_fprintf(rdf,
                "out_header f:\\src\\game\\console_mastering\\xpr\\tex\\tex.h\nout_packedresource "
                "f:\\src\\game\\console\\tex\\true\\tex.xpr\nout_error "
                "f:\\src\\game\\console_mastering\\xpr\\tex\\tex.err\n");
    const AppDescriptor* app = g_SystemState->app;
    for (int i = 0; i < g_TCTextureInfoCount && g_TCTextureInfo; ++i) {
        const TC_TextureInfo& info = g_TCTextureInfo[i];
        int n = info.textureNumber;
        if (!n || (info.flags & 0x800000)) continue;
        char name[128];
        std::snprintf(name, sizeof name, "f:\\src\\game\\console_mastering\\xpr\\tex\\%d.rdf", n);
        if (QelFile* one = OpenScript(name)) {
            Qel_fprintf(one,
                        "out_header f:\\src\\game\\console_mastering\\xpr\\tex\\tex%d.h\nout_packedresource "
                        "f:\\src\\game\\console\\tex\\true\\%d.xpr\nout_error "
                        "f:\\src\\game\\console_mastering\\xpr\\tex\\%d.err\n",
                        n, n, n);
            Qel_fclose(one);
        }
        Qel_fprintf(
            bat, "f:\\src\\game\\console_mastering\\xpr\\bundler f:\\src\\game\\console_mastering\\xpr\\tex\\%d.rdf\n",
            n);
        // The source pictures are looked for where numbered textures live.
        std::string source;
        for (const char* ext : {".tga", ".jpg"}) {
            std::string candidate = Format(app && app->textureTemplates[0] ? app->textureTemplates[0] : "%s",
                                           "true\\" + std::to_string(n) + ext);
            if (Qel_fsize(0, candidate.c_str()) >= 0) {
                source = candidate;
                break;
            }
        }
        if (source.empty()) {
            Qel_ErrPrintf("TC_GenerateRDF() Can't find texture file %d\n", n);
            continue;
        }
        Qel_fprintf(rdf, "Texture tex%d { Source %s ", n, source.c_str());
        bool alpha = info.flags & 0x200000;
        if ((info.flags & 0x60000) == 0x60000)
            Qel_fprintf(rdf, alpha ? "Format D3DFMT_LIN_A8R8G8B8 Levels 1 " : "Format D3DFMT_LIN_X8R8G8B8 Levels 1 ");
        else if (info.flags & 0x1000000)
            Qel_fprintf(rdf, alpha ? "Format D3DFMT_A8R8G8B8 Levels 0 " : "Format D3DFMT_X8R8G8B8 Levels 0 ");
        else if (!alpha || (info.flags & 0x1)) Qel_fprintf(rdf, "Format D3DFMT_DXT1 Levels 0 ");
        else Qel_fprintf(rdf, "Format D3DFMT_DXT5 Levels 0 ");
        if (info.width) Qel_fprintf(rdf, "Width %d Height %d ", info.width, info.height);
        Qel_fprintf(rdf, "}\n");
    }
    Qel_fprintf(bat,
                "f:\\src\\game\\console_mastering\\xpr\\bundler f:\\src\\game\\console_mastering\\xpr\\tex\\tex.rdf\n");
    Qel_fclose(rdf);
    Qel_fclose(bat);
}
