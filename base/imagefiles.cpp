#include "base/imagefiles.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/convert.h"
#include "base/ebm.h"
#include "base/file.h"
#include "base/general.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/pixelformats.h"
#include "base/strings.h"
#include "platform/d3dx/d3dx9tex.h"
#include "render/pixelformat.h"
#include "system/adapters.h"
#include "system/clock.h"
#include "system/surfaces.h"
#include "system/userpaths.h"
#include "system/video.h"

TextureDummies g_TextureDummies;

namespace {

constexpr uint32_t kDepthFlags = EBM_16BIT | EBM_24BIT | EBM_32BIT;
constexpr uint32_t kTextureFlags = EBM_TEXTURE | EBM_SURFACE;

D3DDeviceRecord* DeviceRecord() {
    return g_RendererState && g_RendererState->device && g_RendererState->device->device ? g_RendererState->device
                                                                                         : nullptr;
}

D3DFORMAT FormatOf(const TextureBitmapFormat* f, D3DFORMAT fallback) {
    if (f && f->code >= 0 && f->code < 44 && S3D_PixelFormatTable[f->code]) return S3D_PixelFormatTable[f->code];
    return fallback;
}

// The renderer's preferred texture format for pictures with or without alpha.
D3DFORMAT PreferredFormat(bool alpha, uint32_t flags) {
    if (flags & QEL_LOAD_DXT1) return D3DFMT_DXT1;
    D3DDeviceRecord* r = DeviceRecord();
    if (alpha) return FormatOf(r ? r->transparentFormat : nullptr, D3DFMT_A8R8G8B8);
    return FormatOf(r ? r->opaqueFormat : nullptr, D3DFMT_X8R8G8B8);
}

D3DFORMAT ScreenFormat() {
    D3DDeviceRecord* r = DeviceRecord();
    if (!r) return D3DFMT_X8R8G8B8;
    D3DFORMAT back = r->presentParams.BackBufferFormat ? r->presentParams.BackBufferFormat : D3DFMT_X8R8G8B8;
    return FormatOf(r->screenFormat, back);
}

D3DPOOL PoolFor(uint32_t flags) {
    return (flags & (EBM_DEFAULTPOOL | EBM_TEXDEFAULTPOOL)) ? D3DPOOL_DEFAULT : D3DPOOL_MANAGED;
}

bool EndsWith(const char* name, const char* tail) {
    size_t n = std::strlen(name), t = std::strlen(tail);
    return n >= t && Qel_StrICmp(name + n - t, tail) == 0;
}

// The whole file (catalogs first); empty when missing.
struct FileData {
    explicit FileData(const char* path) : bytes(static_cast<uint8_t*>(Qel_LoadFile(path))), size(g_QelLastFileSize) {}
    ~FileData() {
        if (bytes) Int_FreeMem(bytes, size, 0);
    }
    FileData(const FileData&) = delete;
    FileData& operator=(const FileData&) = delete;
    uint8_t* bytes;
    uint32_t size;
};

// A new full-header bitmap bound to the top level of the texture (or to the
// surface when texture is null); it owns both. Null after the allocation line.
EBM* BindBitmap(IDirect3DBaseTexture9* texture, IDirect3DSurface9* surface, const char* allocLine, const char* path) {
    auto* b = Int_AllocRecord<EBM>(EBM_MEMFLAGS);
    if (b) std::memset(b, 0, sizeof *b);
    if (!b || !S_NewSysEBM(b) || !S_SurfaceToEBM(b, surface)) {
        Qel_ErrPrintf(allocLine, path);
        if (b) {
            S_FreeSysEBM(b);
            Int_FreeRecord(b, EBM_MEMFLAGS);
        }
        surface->Release();
        if (texture) texture->Release();
        return nullptr;
    }
    b->sys->WE_lpDestTexture = texture;
    b->flags |= texture ? kTextureFlags : EBM_SURFACE;
    if (texture) ++g_D3DCounters.textures;
    ++g_D3DCounters.surfaces;
    return b;
}

// A texture from the file in memory; its top level in *top. Null on failure.
IDirect3DTexture9* CreateTexture(const FileData& file, UINT width, UINT height, int levels, D3DFORMAT format,
                                 uint32_t flags, IDirect3DSurface9** top) {
    D3DDeviceRecord* r = DeviceRecord();
    if (!r) return nullptr;
    IDirect3DTexture9* t = nullptr;
    HRESULT hr = D3DXCreateTextureFromFileInMemoryEx(r->device, file.bytes, file.size, width, height,
                                                     static_cast<UINT>(std::max(levels, 0)), 0, format, PoolFor(flags),
                                                     D3DX_DEFAULT, D3DX_DEFAULT, 0, nullptr, nullptr, &t);
    if (FAILED(hr) || !t) return nullptr;
    *top = nullptr;
    if (FAILED(t->GetSurfaceLevel(0, top))) *top = nullptr;
    return t;
}

void LogTexture(const char* kind, const char* path, EBM* b, int levels) {
    auto* t = static_cast<IDirect3DTexture9*>(b->sys->WE_lpDestTexture);
    Qel_DPrintf(0, "%s ( %s )\tsize=[%d x %d]\tmip=[%d/%d]\tformat=[%s]\t\n", kind, path, b->width, b->height,
                t ? static_cast<int>(t->GetLevelCount()) : 1, levels, S_FormatName(S_EbmFormat(b)));
}

// The renderer's dummy for a texture name: by its last four characters.
EBM* DummyFor(const char* name) {
    size_t n = std::strlen(name);
    const char* tail = n >= 4 ? name + n - 4 : "";
    if (Qel_StrICmp(tail, "diff") == 0) return g_TextureDummies.diffuse;
    if (Qel_StrICmp(tail, "spec") == 0) return g_TextureDummies.specular;
    return g_TextureDummies.bump;
}

// The file of a texture name by the fall-back order; null when none loads.
EBM* ReadCandidates(const std::string& name, uint32_t flags, int levels) {
    if (name.find("\\Desktop\\") != std::string::npos) return nullptr;
    size_t sep = name.find_last_of("\\/");
    const AppDescriptor* app = g_SystemState ? g_SystemState->app : nullptr;
    if (sep != std::string::npos && app && app->textureTemplates[2]) {
        std::string file = name.substr(sep + 1);
        std::vector<char> path(std::strlen(app->textureTemplates[2]) + file.size() + 8);
        std::snprintf(path.data(), path.size(), app->textureTemplates[2], file.c_str());
        if (EBM* b = S_ReadDDS((std::string(path.data()) + ".dds").c_str(), flags, levels)) return b;
    }
    if (EBM* b = S_ReadDDS((name + ".dds").c_str(), flags, levels)) return b;
    if (EBM* b = S_ReadTGA((name + ".tga").c_str(), flags, levels)) return b;
    return S_ReadJPG((name + ".jpg").c_str(), flags, levels);
}

// Step 5 of the loader: a copy in the asked format when the file's differs. A
// request that names no depth keeps the loaded one: copying a texture into a
// bitmap of no depth would lose it (the lookup textures are asked for so).
EBM* Convert(EBM* loaded, uint32_t flags) {
    if (flags == QEL_LOAD_ANY || (loaded->flags & EBM_COMPRESSED)) return loaded;
    bool wantsSurface = (flags & EBM_SURFACE) && !(loaded->flags & EBM_SURFACE);
    bool otherDepth = (flags & kDepthFlags) && (flags & kDepthFlags) != (loaded->flags & kDepthFlags);
    if (!wantsSurface && !otherDepth) return loaded;
    uint32_t request = flags | (loaded->flags & EBM_CARRY);
    EBM* copy = GenerateEbm(loaded->width, loaded->height, static_cast<int16_t>(loaded->bitsPerPixel), request);
    if (!copy) {
        Qel_ErrPrintf("Qel_ReadAndConvertEbm ERROR2\n");
        FreeILBM(loaded);
        return nullptr;
    }
    if (!Qel_ChangeEBMType(copy, loaded)) {
        Qel_ErrPrintf("Qel_ReadAndConvertEbm ERROR3\n");
        FreeILBM(copy);
        FreeILBM(loaded);
        return nullptr;
    }
    FreeILBM(loaded);
    return copy;
}

}  // namespace

// ---------------------------------------------------------------- loading

EBM* S_LoadTexture(const char* name, uint32_t flags, int, int levels) {
    if (!name) return nullptr;
    uint32_t readFlags = flags == QEL_LOAD_ANY ? 0 : flags;
    EBM* loaded = nullptr;
    bool jpg = EndsWith(name, ".jpg"), tga = EndsWith(name, ".tga");
    if (jpg || tga) {
        loaded = jpg ? S_ReadJPG(name, readFlags, levels) : S_ReadTGA(name, readFlags, levels);
        if (!loaded) {
            std::string shorter(name, std::strlen(name) - 4);
            Qel_ErrPrintf("Unable to load texture %s, trying %s\n", name, shorter.c_str());
            return S_LoadTexture(shorter.c_str(), flags, 0, levels);
        }
    } else {
        loaded = ReadCandidates(name, readFlags, levels);
    }
    if (!loaded) {
        Qel_ErrPrintf("WARNING: Unable to load texture %s, using dummy texture \n", name);
        EBM* dummy = DummyFor(name);
        if (!dummy) {
            Qel_ErrPrintf("ERROR: cant load texture Dummy \n");
            return nullptr;
        }
        ++dummy->refCount;
        dummy->flags |= EBM_DUMMY;
        return dummy;
    }
    return Convert(loaded, flags);
}

EBM* S_LoadTextureEx(int levels, int, uint32_t flags, const char* name) {
    return S_LoadTexture(name, flags, 0, levels);
}

EBM* S_ReadTGA(const char* path, uint32_t flags, int levels) {
    if (!path) return nullptr;
    FileData file(path);
    if (!file.bytes) return nullptr;
    const uint8_t* h = file.bytes;
    if (file.size < 18) {
        Qel_ErrPrintf("S_ReadTGA(%s) D3DXCreateTextureFromFileInMemoryEx() failed!\n", path);
        return nullptr;
    }
    if (h[1] == 1) {
        Qel_ErrPrintf("S_ReadTGA(%s) Unusable ColorMapType 1\n", path);
        return nullptr;
    }
    bool grey = h[2] == 3 || h[2] == 11;
    if (h[2] != 2 && h[2] != 10 && !grey) {
        Qel_ErrPrintf("S_ReadTGA(%s) Unusable ImageType %d\n", path, h[2]);
        return nullptr;
    }
    int depth = h[16];
    if (depth != 8 && depth != 16 && depth != 24 && depth != 32) {
        Qel_ErrPrintf("S_ReadTGA(%s) Unusable pixel depth %d\n", path, depth);
        return nullptr;
    }
    int alphaBits = h[17] & 0xF;
    if (alphaBits != 0 && alphaBits != 8) {
        Qel_ErrPrintf("S_ReadTGA(%s) Unusable alpha depth %d\n", path, alphaBits);
        return nullptr;
    }
    if (grey) {
        Qel_ErrPrintf("S_ReadTGA(%s) Format must be Truecolor RGB or RGBA!\n", path);
        return nullptr;
    }
    UINT width = static_cast<UINT>(h[12] | h[13] << 8), height = static_cast<UINT>(h[14] | h[15] << 8);
    IDirect3DSurface9* top = nullptr;
    IDirect3DTexture9* t = CreateTexture(file, width, height, levels, PreferredFormat(depth == 32, flags), flags, &top);
    if (!t || !top) {
        if (t) t->Release();
        Qel_ErrPrintf("S_ReadTGA(%s) D3DXCreateTextureFromFileInMemoryEx() failed!\n", path);
        return nullptr;
    }
    EBM* b = BindBitmap(t, top, "S_ReadTGA(%s) Failed allocating memory for EBM!\n", path);
    if (b) LogTexture("TGA", path, b, levels);
    return b;
}

EBM* S_ReadJPG(const char* path, uint32_t flags, int levels) {
    if (!path) return nullptr;
    FileData file(path);
    if (!file.bytes) return nullptr;
    D3DXIMAGE_INFO info{};
    if (FAILED(D3DXGetImageInfoFromFileInMemory(file.bytes, file.size, &info))) {
        Qel_ErrPrintf("ERROR: failed to create D3DXGetImageInfoFromFileInMemory() in S_ReadJPG() %s\n", path);
        return nullptr;
    }
    D3DDeviceRecord* r = DeviceRecord();
    if (!r) {
        Qel_ErrPrintf("ERROR: S_ReadJPG() %s \n", path);
        return nullptr;
    }
    if ((flags & EBM_SURFACE) && !(flags & EBM_TEXTURE)) {
        D3DFORMAT format = (flags & EBM_ARGBSURFACE) ? D3DFMT_A8R8G8B8 : ScreenFormat();
        D3DPOOL pool = (flags & EBM_DEFAULTPOOL) ? D3DPOOL_DEFAULT : D3DPOOL_SYSTEMMEM;
        IDirect3DSurface9* s = nullptr;
        if (FAILED(r->device->CreateOffscreenPlainSurface(info.Width, info.Height, format, pool, &s, nullptr)) || !s) {
            Qel_ErrPrintf("ERROR: failed to create CreateOffscreenPlainSurface() in S_ReadJPG() %s\n", path);
            return nullptr;
        }
        if (FAILED(D3DXLoadSurfaceFromFileInMemory(s, nullptr, nullptr, file.bytes, file.size, nullptr, D3DX_DEFAULT, 0,
                                                   nullptr))) {
            Qel_ErrPrintf("ERROR: D3DXLoadSurfaceFromFileInMemory() in S_ReadJPG() %s \n", path);
            s->Release();
            return nullptr;
        }
        EBM* b = BindBitmap(nullptr, s, "ERROR: S_ReadJPG() %s \n", path);
        if (b)
            Qel_DPrintf(0, "JPG::SURFACE ( %s )\tsize=[%d x %d]\tformat=[%s]\t\n", path, b->width, b->height,
                        S_FormatName(S_EbmFormat(b)));
        return b;
    }
    IDirect3DSurface9* top = nullptr;
    IDirect3DTexture9* t =
        CreateTexture(file, info.Width, info.Height, levels, PreferredFormat(false, flags), flags, &top);
    if (!t) {
        Qel_ErrPrintf("ERROR: S_ReadJPG() %s \n", path);
        return nullptr;
    }
    if (!top) {
        Qel_ErrPrintf("ERROR: ptex->GetSurfaceLevel() in S_ReadJPG() %s \n", path);
        t->Release();
        return nullptr;
    }
    EBM* b = BindBitmap(t, top, "ERROR: S_ReadJPG() %s \n", path);
    if (b) LogTexture("JPG", path, b, levels);
    return b;
}

// ---------------------------------------------------------------- writing

int Qel_WriteTgaFile(const char* path, int, EBM* bitmap) {
    if (!path || !bitmap || bitmap->width <= 0 || bitmap->height <= 0 || !(bitmap->flags & EBM_CHUNKY)) return 0;
    QelFile* f = Qel_fopen(path, "wb", 0);
    if (!f) return 0;
    int w = bitmap->width, h = bitmap->height, bpp = bitmap->bytesPerPixel;
    uint8_t header[18] = {};
    header[2] = 2;
    header[12] = static_cast<uint8_t>(w), header[13] = static_cast<uint8_t>(w >> 8);
    header[14] = static_cast<uint8_t>(h), header[15] = static_cast<uint8_t>(h >> 8);
    header[16] = static_cast<uint8_t>(bitmap->bitsPerPixel);
    header[17] = 0x20;
    bool ok = Qel_fwriteBlock(f, 1, sizeof header, header) == sizeof header;

    SurfaceLocks locks{};
    if (!S_LockForDrawing(&locks, bitmap, nullptr) || !bitmap->plane0) {
        Qel_ErrPrintf("ERROR: Qel_WriteTgaFile() S_Locking surfaces \n");
        S_UnlockAfterDrawing(&locks);
        Qel_fclose(f);
        return 0;
    }
    // Rows leave as they are, except 16-bit pixels, which go out with 5-5-5
    // channels through a row buffer so the bitmap itself is not touched.
    size_t rowBytes = static_cast<size_t>(w) * bpp;
    std::vector<uint8_t> row(rowBytes);
    for (int y = 0; y < h && ok; ++y) {
        const uint8_t* src = Qel_PixelAddress(bitmap, 0, y);
        if (bitmap->flags & EBM_16BIT) {
            for (int x = 0; x < w; ++x) {
                uint16_t p;
                std::memcpy(&p, src + x * 2, 2);
                uint16_t q = static_cast<uint16_t>(((p >> 1) & 0x7FE0) | (p & 0x1F));
                std::memcpy(row.data() + x * 2, &q, 2);
            }
            src = row.data();
        }
        ok = Qel_fwriteBlock(f, 1, rowBytes, src) == rowBytes;
    }
    S_UnlockAfterDrawing(&locks);
    ok = Qel_fclose(f) == 0 && ok;
    return ok ? 1 : 0;
}

// ---------------------------------------------------------------- screenshots

namespace {

// The number of "trevanscreen<n>." in a file name; -1 for other names.
int ScreenNumber(const char* name) {
    static const char kPrefix[] = "trevanscreen";
    size_t n = sizeof kPrefix - 1;
    if (Qel_StrNICmp(name, kPrefix, n) != 0) return -1;
    int value = 0, digits = 0;
    const char* p = name + n;
    for (; *p >= '0' && *p <= '9' && digits < 9; ++p, ++digits) value = value * 10 + (*p - '0');
    return digits > 0 && *p == '.' ? value : -1;
}

}  // namespace

void P_CaptureScreen() {
    SystemState* s = g_SystemState;
    if (!s || !s->captureFolder) return;
    const char* given = s->captureFolder;
    char* folder = std::strpbrk(given, ":\\/") ? Qel_StrDup(given) : Qel_ResolvePath(given, 1);
    if (!folder) return;
    if (s->lastCaptureNumber < 1) {
        QelDirListing* dir = Qel_OpenDir("trevanscreen*.*", folder, 0);
        if (!dir) {
            Qel_MakeDir(folder, 0);
        } else {
            while (const char* name = Qel_NextDirEntry(dir))
                s->lastCaptureNumber = std::max(s->lastCaptureNumber, ScreenNumber(name));
            Qel_CloseDir(dir);
        }
    }
    ++s->lastCaptureNumber;
    std::vector<char> file(std::strlen(folder) + 32);
    std::snprintf(file.data(), file.size(), "%s\\trevanscreen%05d", folder, s->lastCaptureNumber);
    char* disk = Qel_DiskPath(file.data());
    if (!disk || !S_SaveFrontBuffer(disk))
        Qel_ErrPrintf("Error capturing frame %05d to file %s\n", s->lastCaptureNumber, file.data());
    Qel_StrFree(disk);
    Qel_StrFree(folder);

    // Three captured frames advance game time by exactly 100 ms.
    if (++s->captureThirds < 3) {
        s->captureStep = 33;
    } else {
        s->captureStep = 34;
        s->captureThirds -= 3;
    }
    S_SetTimeStep(s->captureStep);
}
