// The texture cache: every texture of the game has a small id. Ids below the
// numbered count are numbered textures (files named by their number, with an
// info record each); ids above are named textures added on demand. Bitmaps load
// on first use, their holders are counted, and unheld ones are freed on request.
#pragma once

#include <cstdint>

struct EBM;
struct QelTable;

struct TC_TextureEntry {
    char* name;  // without its extension; null for none
    uint32_t flags;
    EBM* bitmap;
    uint32_t refCount;
};

// Entry flags.
constexpr uint32_t TC_PACKED = 0x8000;
constexpr uint32_t TC_LARGE = 0x10000;
constexpr uint32_t TC_PLAIN_LOAD = 0x60100;
constexpr uint32_t TC_AUTOFREE = 0x80000;
constexpr uint32_t TC_BLANK_ALPHA = 0x200000;
constexpr uint32_t TC_LOGO = 0x400000;
constexpr uint32_t TC_BLANK = 0x800000;
// Info-record flags a texture's entry takes over.
constexpr uint32_t TC_INFO_FLAG_MASK = 0xA70118;

// One per numbered texture: the material definition the scene engine's
// materials reader fills.
struct TC_TextureInfo {
    uint8_t head[3];
    uint8_t colour[3][3];   // RGB: specular, ambient, diffuse (bytes 3, 6 and 9 of the record)
    int16_t textureNumber;  // 0: the id has no texture
    uint8_t opacity;        // below 255: loaded in a format with alpha
    uint32_t flags;         // 0x800000 blank, 0x200000 alpha, 0x1000000 uncompressed, 0x60000 linear, 0x1 DXT1
    int16_t width, height;  // of a blank texture
    int16_t sizeWords[3];
    int16_t shininess;
    int16_t words[2];
    int16_t envMap;  // index of the environment-map info record
    int16_t word3;
    int16_t bumpMap;  // index of the bump-map info record
    int16_t word4;
    // Scratch of the particle fill, per particle kind: the count this frame,
    // then the batch it names (-1 none).
    int32_t kindCounters[4];
};

extern TC_TextureEntry* TC_TextureTable;
extern uint16_t g_TCNumberedCount;
extern uint16_t g_TCNamedCount;
extern TC_TextureInfo* g_TCTextureInfo;
extern uint16_t g_TCTextureInfoCount;

// The renderer's usable texture formats (TextureBitmapFormat*) by key; null
// until the renderer fills it, and no texture loads without it.
extern QelTable* g_TCTextureFormats;
constexpr uint32_t TC_FORMAT_OPAQUE = 1;
constexpr uint32_t TC_FORMAT_ALPHA = 2;

// true on failure.
bool TC_AllocTextureTable();
void TC_FreeTextureTables();
void TC_SetTextureName(int id, const char* name);
// 0 for none, 0xFFFF when the table cannot grow.
uint32_t TC_GetTextureIdByName(const char* name);
const char* TC_GetTextureName(int id);
uint32_t TC_GetTextureFlags(int id);
void TC_SetTextureFlags(int id, uint32_t flags);
EBM* TC_GetTextureEBM(int id, int callerTag);
EBM* TC_GetLoadedTexture(int id);
EBM* TC_GetTextureHandle(int id);
EBM* TC_AddTextureRef(int id);
void TC_ReleaseTexture(int id);
void TC_ReleaseAllTextures();
void TC_MemoryFlush();
int TC_ReloadTexture(int id);
void TC_UnlockTextureSurfaces();
void TC_CopyTextureBitmap(int id, EBM** destination);

// A body material to match against the info records.
struct TC_BodyMaterial {
    uint8_t colour[3][3];  // RGB
    int32_t opacityPercent;
    int32_t texture;
    int32_t envMap;
    int32_t bumpMap;
    uint32_t flags;  // 0x4 transparent (set here below 100 percent)
};
int TC_FindBodyMaterial(TC_BodyMaterial* material);

void TC_GenerateRDF();
