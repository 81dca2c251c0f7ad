// Bitmaps behind device surfaces and textures on the GL device (llvmpipe under
// SDL's offscreen driver): drawing per texture format read back from GL, the
// pool rules, texture creation with pixels and mipmaps, DDS files good,
// truncated and odd, fills, clears, stretches, and a frame drawn with the 2D
// primitives, presented and read back from the front buffer.
#include <gtest/gtest.h>

#include <epoxy/gl.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/display.h"
#include "base/draw2d.h"
#include "base/ebm.h"
#include "base/pixelformats.h"
#include "platform/d3d9/internal.h"
#include "platform/d3d9/seam.h"
#include "platform/d3d9/texture_dxt.h"
#include "render/device.h"
#include "render/pixelformat.h"
#include "support/gamefolder.h"
#include "support/surfacesupport.h"
#include "support/videosupport.h"
#include "system/adapters.h"
#include "system/settings.h"
#include "system/surfaces.h"
#include "system/video.h"

namespace {

struct BitmapDeleter {
    void operator()(EBM* b) const { FreeILBM(b); }
};
using Bitmap = std::unique_ptr<EBM, BitmapDeleter>;

class Surfaces : public VideoTestBase {
protected:
    void SetUp() override {
        VideoTestBase::SetUp();
        S_InitSystemSettings();
        g_D3DCounters = D3DObjectCounters{};
    }
    void TearDown() override {
        g_D3D9ForceCpuDXT = false;
        S_3DFreeLookupTextures();
        if (g_VideoRecord) Qel_CloseVideo(1);
        CloseVideo();
        EXPECT_EQ(D3D9_LiveResourceCount(), 0);
        EXPECT_EQ(g_D3DCounters.surfaces, 0);
        EXPECT_EQ(g_D3DCounters.textures, 0);
        VideoTestBase::TearDown();
    }
    D3DDeviceRecord* Record() { return g_RendererState->device; }
    IDirect3DDevice9* Device() { return Record()->device; }

    // A texture bitmap in the given format: the device's opaque texture format
    // is set to it for the creation.
    Bitmap Texture(D3DFORMAT format, int w, int h, uint32_t extra = 0) {
        TextureBitmapFormat* f = Record()->opaqueFormat;
        int saved = f->code;
        f->code = S3D_PixelFormatCode(format);
        int depth = S_FormatBitsPerPixel(format);
        Bitmap b(GenerateEbm(w, h, depth, EBM_CHUNKY | EBM_SURFACE | EBM_TEXTURE | EBM_NOSHADOW | extra));
        f->code = saved;
        return b;
    }

    // The pixel as GL holds it: the memory copy is dropped and read back.
    static uint32_t DevicePixel(EBM* b, int x, int y) {
        static_cast<D3D9Surface*>(b->sys->surface)->memoryValid = false;
        return PixelAt(b, x, y);
    }

    // One pixel of the window through the front-buffer copy.
    uint32_t WindowPixel(int x, int y) {
        IDirect3DSurface9* s = nullptr;
        D3DPRESENT_PARAMETERS& pp = Record()->presentParams;
        EXPECT_EQ(Device()->CreateOffscreenPlainSurface(pp.BackBufferWidth, pp.BackBufferHeight, D3DFMT_A8R8G8B8,
                                                        D3DPOOL_SYSTEMMEM, &s, nullptr),
                  D3D_OK);
        EXPECT_EQ(Device()->GetFrontBufferData(0, s), D3D_OK);
        D3DLOCKED_RECT lr{};
        s->LockRect(&lr, nullptr, D3DLOCK_READONLY);
        uint32_t v;
        std::memcpy(&v, static_cast<uint8_t*>(lr.pBits) + y * lr.Pitch + x * 4, 4);
        s->UnlockRect();
        s->Release();
        return v & 0xFFFFFF;
    }
};

// ---------------------------------------------------------------- DDS files

struct DdsSpec {
    uint32_t width = 4, height = 4, mips = 1;
    uint32_t pfFlags = 0x41, fourCC = 0, bits = 32;
    uint32_t r = 0xFF0000, g = 0xFF00, b = 0xFF, a = 0xFF000000u;
    uint32_t caps2 = 0;
    uint32_t headerSize = 124;
};

void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x) { std::memcpy(v.data() + at, &x, 4); }

std::vector<uint8_t> Dds(const DdsSpec& s, const std::vector<uint8_t>& pixels) {
    std::vector<uint8_t> f(128, 0);
    std::memcpy(f.data(), "DDS ", 4);
    Put32(f, 4, s.headerSize);
    Put32(f, 8, 0x1007 | (s.mips > 1 ? 0x20000 : 0));
    Put32(f, 12, s.height);
    Put32(f, 16, s.width);
    Put32(f, 28, s.mips);
    Put32(f, 76, 32);
    Put32(f, 80, s.fourCC ? 0x4 : s.pfFlags);
    Put32(f, 84, s.fourCC);
    Put32(f, 88, s.bits);
    Put32(f, 92, s.r);
    Put32(f, 96, s.g);
    Put32(f, 100, s.b);
    Put32(f, 104, s.a);
    Put32(f, 108, 0x1000);
    Put32(f, 112, s.caps2);
    f.insert(f.end(), pixels.begin(), pixels.end());
    return f;
}

// 32-bit pixels of a mip chain, each level filled with its level number.
std::vector<uint8_t> Chain32(uint32_t w, uint32_t h, uint32_t levels) {
    std::vector<uint8_t> out;
    for (uint32_t l = 0; l < levels; ++l) {
        uint32_t lw = std::max(1u, w >> l), lh = std::max(1u, h >> l);
        for (uint32_t i = 0; i < lw * lh; ++i) {
            uint32_t px = 0xFF000000u | (l + 1) * 0x10101u;
            out.insert(out.end(), reinterpret_cast<uint8_t*>(&px), reinterpret_cast<uint8_t*>(&px) + 4);
        }
    }
    return out;
}

}  // namespace

TEST_F(Surfaces, PixelRoutinesDrawOnTexturesOfEveryFormat) {
    ASSERT_TRUE(OpenVideo(1024, 768));
    struct Case {
        D3DFORMAT format;
        uint32_t pixel;  // 0xFF8040 drawn as a pixel or line
        uint32_t fill;   // 0x00102030 filled (a fill keeps the colour's alpha)
        uint32_t empty;  // an untouched pixel
    };
    const Case cases[] = {
        {D3DFMT_A8R8G8B8, 0xFFFF8040, 0x00102030, 0}, {D3DFMT_X8R8G8B8, 0xFFFF8040, 0xFF102030, 0xFF000000},
        {D3DFMT_R5G6B5, 0xFC08, 0x1106, 0},           {D3DFMT_X1R5G5B5, 0x7E08, 0x0886, 0},
        {D3DFMT_A1R5G5B5, 0x7E08, 0x0886, 0},         {D3DFMT_A4R4G4B4, 0x0F84, 0x0123, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(S_FormatName(c.format));
        Bitmap b = Texture(c.format, 20, 6);
        ASSERT_TRUE(b);
        EXPECT_EQ(S_EbmFormat(b.get()), c.format);
        EXPECT_EQ(b->plane0, nullptr);
        EXPECT_EQ(b->rowDistance, b->bytesPerRow);  // the lock pitch is the row length
        Qel_SetPixel(3, 1, b.get(), 0xFF8040);
        Qel_Line(0, 5, 19, 5, b.get(), 0xFF8040);
        Qel_RectFill(10, 0, 4, 3, 0x00102030, b.get());
        EXPECT_EQ(b->plane0, nullptr);
        EXPECT_EQ(b->flags & EBM_LOCKED, 0u);
        EXPECT_EQ(DevicePixel(b.get(), 3, 1), c.pixel);
        EXPECT_EQ(DevicePixel(b.get(), 4, 1), c.empty);
        EXPECT_EQ(DevicePixel(b.get(), 19, 5), c.pixel);
        EXPECT_EQ(DevicePixel(b.get(), 13, 2), c.fill);
        EXPECT_EQ(DevicePixel(b.get(), 14, 2), c.empty);
        // A block from memory onto the texture, one colour through S_RGBToPixel.
        Bitmap m = Bitmap(MakeBitmap(b->bytesPerPixel == 2 ? Layout::Bits16 : Layout::Bits32, 2, 2));
        FillRaw(m.get(), c.pixel);
        Qel_BltBlock(m.get(), 0, 0, 2, 2, b.get(), 18, 0);
        EXPECT_EQ(DevicePixel(b.get(), 19, 1), c.pixel);
    }
    // A system-memory surface is plain memory.
    Bitmap s(GenerateEbm(8, 8, 32, EBM_CHUNKY | EBM_SURFACE | EBM_NOSHADOW | EBM_ARGBSURFACE));
    ASSERT_TRUE(s);
    Qel_ClipFilledCircle(4, 4, 2, 0x00FF00, 0x10000, s.get());
    EXPECT_EQ(DevicePixel(s.get(), 4, 4), 0xFF00FF00u);
    EXPECT_EQ(DevicePixel(s.get(), 0, 0), 0u);
}

TEST_F(Surfaces, PoolRulesKeepDefaultPoolTexturesFromTheCpu) {
    ASSERT_TRUE(OpenVideo(1024, 768));
    Bitmap b = Texture(D3DFMT_A8R8G8B8, 8, 8, EBM_DEFAULTPOOL);
    ASSERT_TRUE(b);
    std::string log = LogOf([&] { Qel_SetPixel(1, 1, b.get(), 0xFFFFFF); });
    EXPECT_NE(log.find("ERROR: Qel_SetPixel() S_Locking surfaces \n"), std::string::npos);
    // A texture made from pixels that cannot be locked is no texture.
    Bitmap m(MakeBitmap(Layout::Bits32, 8, 8));
    m->flags |= EBM_SURFACE | EBM_TEXTURE | EBM_DEFAULTPOOL;
    LogOf([&] { EXPECT_EQ(S_CreateEBMTexture(m.get()), 0); });
    EXPECT_NE(m->plane0, nullptr);
    EXPECT_EQ(m->sys->surface, nullptr);
    m->flags &= ~(EBM_SURFACE | EBM_TEXTURE | EBM_DEFAULTPOOL);

    // A full-screen render target refuses the CPU; a windowed one is read back.
    EBM* screen = g_VideoRecord->VideoEBM;
    Device()->Clear(0, nullptr, D3DCLEAR_TARGET, D3DCOLOR_XRGB(1, 2, 3), 1.0f, 0);
    EXPECT_EQ(PixelAt(screen, 100, 100) & 0xFFFFFF, 0x010203u);
    g_VideoRecord->flags &= ~VIDEO_FLAG_WINDOWED;
    log = LogOf([&] { EXPECT_EQ(S_LockVideoSurface(screen), 0); });
    EXPECT_EQ(log, Framed("ERROR: trying to lock a D3DUSAGE_RENDERTARGET Surface (S_LockSingleSurface)\n"));
    g_VideoRecord->flags |= VIDEO_FLAG_WINDOWED;
    ASSERT_EQ(S_LockVideoSurface(screen), 1);
    EXPECT_NE(screen->plane0, nullptr);
    // A primitive on a bitmap its caller holds locked keeps the lock.
    uint8_t* held = screen->plane0;
    Qel_SetPixel(5, 5, screen, 0xABCDEF);
    EXPECT_EQ(screen->plane0, held);
    EXPECT_NE(screen->flags & EBM_LOCKED, 0u);
    S_UnLockSingleDDSurface(screen);
    EXPECT_EQ(screen->plane0, nullptr);
    EXPECT_EQ(PixelAt(screen, 5, 5) & 0xFFFFFF, 0xABCDEFu);
}

TEST_F(Surfaces, TexturesFromPixelsGetTheirMipmapsByAveraging) {
    ASSERT_TRUE(OpenVideo(1024, 768));
    TextureBitmapFormat* f = Record()->opaqueFormat;
    int saved = f->code;
    f->code = S3D_PixelFormatCode(D3DFMT_A8R8G8B8);
    Bitmap m(MakeBitmap(Layout::Bits32, 4, 4));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) SetRaw(m.get(), x, y, (x < 2 && y < 2) ? 0xFF204060 : 0x80000000);
    SetRaw(m.get(), 1, 1, 0xFF6080A0);
    m->flags |= EBM_SURFACE | EBM_TEXTURE | EBM_MIPMAPS;
    ASSERT_EQ(S_CreateEBMTexture(m.get()), 1);
    f->code = saved;
    EXPECT_EQ(m->plane0, nullptr);
    EXPECT_EQ(DevicePixel(m.get(), 1, 1), 0xFF6080A0u);
    auto* t = static_cast<IDirect3DTexture9*>(m->sys->WE_lpDestTexture);
    ASSERT_EQ(t->GetLevelCount(), 3u);
    // Level 1: the 2 x 2 means, alpha included on a texture with alpha.
    IDirect3DSurface9* l1 = nullptr;
    ASSERT_EQ(t->GetSurfaceLevel(1, &l1), D3D_OK);
    EBM view{};
    view.flags = EBM_SHORT;
    ASSERT_EQ(S_SurfaceToEBM(&view, l1), 1);
    static_cast<D3D9Surface*>(l1)->memoryValid = false;
    EXPECT_EQ(PixelAt(&view, 0, 0), 0xFF305070u);
    EXPECT_EQ(PixelAt(&view, 1, 1), 0x80000000u);
    S_FreeSysEBM(&view);
    l1->Release();
}

TEST_F(Surfaces, DdsFilesAreReadWithTheirLevelsAndFormats) {
    TempGameFolder folder;
    ASSERT_TRUE(OpenVideo(1024, 768));
    // A 32-bit file with three levels.
    folder.WriteBytes("argb.dds", Dds({.width = 4, .height = 4, .mips = 3}, Chain32(4, 4, 3)));
    std::string log;
    EBM* raw = nullptr;
    log = LogOf([&] { raw = S_ReadDDS("argb.dds", 0, 0); });
    Bitmap b(raw);
    ASSERT_TRUE(b);
    EXPECT_EQ(log, "DDS ( argb.dds )\tsize=[4 x 4 x 1]\tmip=[3/3]\tformat=[A8R8G8B8]\tPixelFormat=[1] \n");
    EXPECT_EQ(b->flags & 0x4408u, 0x4408u);
    EXPECT_EQ(b->width, 4);
    EXPECT_EQ(DevicePixel(b.get(), 3, 3), 0xFF010101u);
    EXPECT_EQ(static_cast<IDirect3DTexture9*>(b->sys->WE_lpDestTexture)->GetLevelCount(), 3u);

    // 16-bit, 24-bit (made 32-bit) and DXT files.
    std::vector<uint8_t> p565(16 * 2, 0);
    p565[0] = 0x1F;
    folder.WriteBytes("rgb565.dds",
                      Dds({.pfFlags = 0x40, .bits = 16, .r = 0xF800, .g = 0x7E0, .b = 0x1F, .a = 0}, p565));
    Bitmap c(S_ReadDDS("rgb565.dds", 0, 0));
    ASSERT_TRUE(c);
    EXPECT_EQ(S_EbmFormat(c.get()), D3DFMT_R5G6B5);
    EXPECT_EQ(DevicePixel(c.get(), 0, 0), 0x1Fu);
    std::vector<uint8_t> p24(16 * 3, 0);
    p24[0] = 0x11, p24[1] = 0x22, p24[2] = 0x33;
    folder.WriteBytes("rgb24.dds", Dds({.pfFlags = 0x40, .bits = 24, .a = 0}, p24));
    Bitmap d(S_ReadDDS("rgb24.dds", 0, 0));
    ASSERT_TRUE(d);
    EXPECT_EQ(S_EbmFormat(d.get()), D3DFMT_X8R8G8B8);
    EXPECT_EQ(DevicePixel(d.get(), 0, 0), 0xFF332211u);

    // DXT1: one red block; GL decodes S3TC, or the CPU does where asked.
    const uint8_t block[8] = {0x00, 0xF8, 0x1F, 0x00, 0, 0, 0, 0};
    folder.WriteBytes("red.dds", Dds({.fourCC = D3DFMT_DXT1}, std::vector<uint8_t>(block, block + 8)));
    for (bool cpu : {false, true}) {
        SCOPED_TRACE(cpu ? "decoded on the CPU" : "S3TC");
        g_D3D9ForceCpuDXT = cpu;
        Bitmap e(S_ReadDDS("red.dds", 0, 0));
        ASSERT_TRUE(e);
        EXPECT_EQ(S_EbmFormat(e.get()), D3DFMT_DXT1);
        EXPECT_NE(e->flags & EBM_COMPRESSED, 0u);
        auto* s = static_cast<D3D9Surface*>(e->sys->surface);
        ASSERT_TRUE(s->device->MakeCurrent());
        uint32_t texel[16] = {};
        glBindTexture(GL_TEXTURE_2D, s->glTexture);
        glPixelStorei(GL_PACK_ALIGNMENT, 4);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, texel);
        glBindTexture(GL_TEXTURE_2D, 0);
        EXPECT_EQ(texel[5], 0xFFFF0000u);
        // Drawing on compressed blocks is refused.
        EXPECT_NE(LogOf([&] { Qel_SetPixel(0, 0, e.get(), 0); }).find("ERROR: Qel_SetPixel() S_Locking"),
                  std::string::npos);
    }
    g_D3D9ForceCpuDXT = false;
}

// A picture read into the device's own memory, as the start and loading
// pictures are, cannot be locked: reading it is still no error.
TEST_F(Surfaces, ADdsPictureInTheDevicesMemoryIsReadWithoutAnError) {
    TempGameFolder folder;
    ASSERT_TRUE(OpenVideo(1024, 768));
    folder.WriteBytes("picture.dds", Dds({.width = 16, .height = 4}, Chain32(16, 4, 1)));
    EBM* raw = nullptr;
    const std::string log = LogOf([&] { raw = S_ReadDDS("picture.dds", EBM_DEFAULTPOOL, 0); });
    Bitmap b(raw);
    ASSERT_TRUE(b);
    EXPECT_EQ(log.find("ERROR"), std::string::npos) << log;
    EXPECT_EQ(b->rowDistance, 64);
}

TEST_F(Surfaces, DdsTopLevelsAreSkippedByTextureQuality) {
    TempGameFolder folder;
    ASSERT_TRUE(OpenVideo(1024, 768));
    folder.WriteBytes("big.dds", Dds({.width = 2048, .height = 2, .mips = 12}, Chain32(2048, 2, 12)));
    folder.WriteBytes("eight.dds", Dds({.width = 128, .height = 2, .mips = 8}, Chain32(128, 2, 8)));
    struct Case {
        const char* file;
        int quality;
        uint32_t flags;
        int width;
    };
    const Case cases[] = {{"big.dds", 2, 0, 2048},  {"big.dds", 1, 0, 1024},
                          {"big.dds", 0, 0, 512},   {"big.dds", 0, EBM_DDSNOSKIP, 2048},
                          {"eight.dds", 0, 0, 128}, {"eight.dds", 1, 0, 128}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.file << " quality " << c.quality);
        Record()->textureQuality = c.quality;
        Bitmap b(S_ReadDDS(c.file, c.flags, 0));
        ASSERT_TRUE(b);
        EXPECT_EQ(b->width, c.width);
    }
    // A cube map: all six faces, flags of a cube.
    DdsSpec cube{.width = 2, .height = 2, .caps2 = 0xFE00};
    std::vector<uint8_t> faces;
    for (int i = 0; i < 6; ++i) {
        std::vector<uint8_t> one = Chain32(2, 2, 1);
        faces.insert(faces.end(), one.begin(), one.end());
    }
    folder.WriteBytes("cube.dds", Dds(cube, faces));
    std::string log;
    EBM* raw = nullptr;
    log = LogOf([&] { raw = S_ReadDDS("cube.dds", 0, 0); });
    Bitmap cb(raw);
    ASSERT_TRUE(cb);
    EXPECT_EQ(cb->flags & 0x42004408u, 0x42004408u);
    EXPECT_EQ(log.rfind(" This is a cubemap!\n", 0), 0u);
}

TEST_F(Surfaces, TruncatedAndOddDdsFilesAreRefused) {
    TempGameFolder folder;
    ASSERT_TRUE(OpenVideo(1024, 768));
    std::vector<uint8_t> good = Dds({}, Chain32(4, 4, 1));
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    std::vector<Case> cases = {
        {"short.dds", std::vector<uint8_t>(good.begin(), good.begin() + 100)},
        {"magic.dds", std::vector<uint8_t>(good.begin(), good.begin() + 4)},
        {"nopixels.dds", std::vector<uint8_t>(good.begin(), good.begin() + 128)},
        {"halfpixels.dds", std::vector<uint8_t>(good.begin(), good.end() - 1)},
        {"badmagic.dds", good},
        {"header.dds", Dds({.headerSize = 100}, Chain32(4, 4, 1))},
        {"zero.dds", Dds({.width = 0}, Chain32(4, 4, 1))},
        {"huge.dds", Dds({.width = 0x7FFFFFFF, .height = 0x7FFFFFFF}, {})},
        {"mips.dds", Dds({.width = 4, .height = 4, .mips = 9}, Chain32(4, 4, 9))},
        {"partialcube.dds", Dds({.width = 4, .height = 4, .caps2 = 0x600}, Chain32(4, 4, 1))},
        {"volume.dds", Dds({.caps2 = 0x200000}, Chain32(4, 4, 1))},
        {"format.dds", Dds({.bits = 32, .r = 0x1, .g = 0x2, .b = 0x4}, Chain32(4, 4, 1))},
        {"fourcc.dds", Dds({.fourCC = 0x30315844}, Chain32(4, 4, 1))},
    };
    cases[4].bytes[0] = 'X';
    folder.WriteBytes("empty.dds", {});
    for (const Case& c : cases) folder.WriteBytes(c.name, c.bytes);
    cases.push_back({"empty.dds", {}});
    cases.push_back({"missing.dds", {}});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EBM* b = nullptr;
        std::string log = LogOf([&] { b = S_ReadDDS(c.name, 0, 0); });
        EXPECT_EQ(b, nullptr);
        FreeILBM(b);
        EXPECT_NE(log.find(std::string("ERROR: S_ReadDDS() -> D3DXGetImageInfoFromFileInMemory() failed for: ") +
                           c.name + " !\n"),
                  std::string::npos);
    }
}

TEST_F(Surfaces, FormatNamesAndColourConversion) {
    EXPECT_STREQ(S_FormatName(0), "UNKNOWN");
    EXPECT_STREQ(S_FormatName(12345), "???");
    EXPECT_STREQ(S_FormatName(D3DFMT_DXT5), "DXT5");
    EXPECT_STREQ(S_FormatName(D3DFMT_X1R5G5B5), "X1R5G5B5");
    Bitmap m(MakeBitmap(Layout::Bits16, 2, 2));
    EXPECT_EQ(S_RGBToPixel(m.get(), 0x123456), 0x123456u);  // no surface: unchanged
    ASSERT_TRUE(OpenVideo(1024, 768));
    Bitmap t = Texture(D3DFMT_A4R4G4B4, 2, 2);
    ASSERT_TRUE(t);
    EXPECT_EQ(S_RGBToPixel(t.get(), 0x80FF8040), 0x8F84u);
}

TEST_F(Surfaces, ClearsAndStretchesOnTheDevice) {
    ASSERT_TRUE(OpenVideo(1024, 768));
    Bitmap t = Texture(D3DFMT_X8R8G8B8, 8, 4);
    ASSERT_TRUE(t);
    Qel_RectFill(0, 0, 8, 4, 0x112233, t.get());
    std::string log = LogOf([&] { W_Clear(t.get(), t.get(), 0, 0, 1, 0, 8, 2); });
    EXPECT_EQ(log, Framed("W_Clear(sx=0,sy=0,dx=1,dy=0,szx=8,szy=2) Invalid rectangle!\n"));
    EXPECT_EQ(DevicePixel(t.get(), 7, 0), 0xFF112233u);
    W_Clear(t.get(), t.get(), 0, 0, 2, 1, 3, 2);
    EXPECT_EQ(DevicePixel(t.get(), 2, 1), 0xFF000000u);
    EXPECT_EQ(DevicePixel(t.get(), 4, 2), 0xFF000000u);
    EXPECT_EQ(DevicePixel(t.get(), 5, 2), 0xFF112233u);

    // The screen: a fill and a clear on the back buffer, then a texture stretched onto it.
    EBM* screen = g_VideoRecord->VideoEBM;
    Qel_RectFill(0, 0, 1024, 768, 0x0000FF, screen);
    W_Clear(screen, screen, 0, 0, 0, 0, 10, 10);
    EXPECT_EQ(PixelAt(screen, 9, 9) & 0xFFFFFF, 0u);
    EXPECT_EQ(PixelAt(screen, 10, 10) & 0xFFFFFF, 0x0000FFu);
    RECT dst{100, 100, 116, 108};
    Qel_BlitDispatch(t.get(), screen, nullptr, &dst);
    EXPECT_EQ(PixelAt(screen, 115, 100) & 0xFFFFFF, 0x112233u);
    EXPECT_EQ(PixelAt(screen, 116, 100) & 0xFFFFFF, 0x0000FFu);
    // Render target to render target goes through StretchRect.
    IDirect3DSurface9* rt = nullptr;
    ASSERT_EQ(Device()->CreateRenderTarget(64, 64, D3DFMT_A8R8G8B8, D3DMULTISAMPLE_NONE, 0, 1, &rt, nullptr), D3D_OK);
    EBM target{};
    target.flags = EBM_SHORT;
    ASSERT_EQ(S_SurfaceToEBM(&target, rt), 1);
    RECT from{0, 0, 1024, 768};
    W_RectStretch(&target, screen, &from, nullptr);
    EXPECT_EQ(PixelAt(&target, 32, 32) & 0xFFFFFF, 0x0000FFu);
    S_FreeSysEBM(&target);
    rt->Release();
}

TEST_F(Surfaces, PointCopiesSkipPointsOffEitherBitmap) {
    Bitmap src(MakeBitmap(Layout::Bits8, 4, 4)), dst(MakeBitmap(Layout::Bits8, 4, 4));
    FillRaw(src.get(), 9);
    const int16_t points[][4] = {{0, 0, 0, 0}, {3, 3, 0, 0}, {-1, 0, 0, 0}, {2, 7, 0, 0}, {1, 1, 0, 0}};
    S_DispatchBlit(src.get(), dst.get(), reinterpret_cast<const uint8_t*>(points), 5, 2, 0);
    EXPECT_EQ(PixelAt(dst.get(), 2, 0), 9u);
    EXPECT_EQ(PixelAt(dst.get(), 3, 1), 9u);
    EXPECT_EQ(PixelAt(dst.get(), 1, 0), 0u);
    EXPECT_EQ(PixelAt(dst.get(), 3, 3), 0u);  // (3, 3) + 2 lies past the right edge
    Bitmap s16(MakeBitmap(Layout::Bits16, 4, 4)), d16(MakeBitmap(Layout::Bits16, 4, 4));
    FillRaw(s16.get(), 0x1234);
    S_DispatchBlit(s16.get(), d16.get(), reinterpret_cast<const uint8_t*>(points), 5, 2, 0);
    EXPECT_EQ(PixelAt(d16.get(), 3, 1), 0x1234u);
    EXPECT_EQ(PixelAt(d16.get(), 0, 1), 0u);
}

TEST_F(Surfaces, AFrameOfPrimitivesIsPresentedAndReadBackFromTheFrontBuffer) {
    TempGameFolder folder;
    state->width = 1024;
    state->height = 768;
    state->depth = 32;
    state->videoFlags |= 0x8000000;
    VideoRecord* v = Qel_CreateVideoDisplayList(VIDEO_FLAG_WINDOWED | VIDEO_PAGEFLIP, 1024, 768, 32);
    ASSERT_NE(v, nullptr);
    EBM* screen = Qel_GetVideoSurface(0);
    ASSERT_NE(screen, nullptr);
    ASSERT_NE(screen->dirtyList, nullptr);
    EXPECT_STREQ(static_cast<DisplayList*>(screen->dirtyList)->name, "BackBufferDisplayList");

    // The same frame into a memory bitmap gives the expected pixels.
    Bitmap expect(MakeBitmap(Layout::Bits32, 1024, 768));
    Bitmap sprite(MakeBitmap(Layout::Bits32, 16, 16));
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            SetRaw(sprite.get(), x, y, 0xFF000000u | static_cast<uint32_t>(x * 16 << 8 | y * 16));
    auto draw = [&](EBM* target, bool onScreen) {
        Qel_RectFill(0, 0, 1024, 768, 0x202020, target);
        Qel_RectFill(990, 10, 30, 20, 0xFF0000, target);
        Qel_Line(-50, 760, 1100, 100, target, 0x00FF00);
        Qel_ClipFilledCircle(512, 384, 60, 0x0000FF, 0x10000, target);
        Qel_ClipCircle(1020, 765, 30, 0xFFFF00, 0x10000, target);
        Qel_BltBlock(sprite.get(), 0, 0, 16, 16, target, 1014, -4);
        // Pixels under one lock held by the caller, which the primitives keep.
        bool held = onScreen && S_LockVideoSurface(target);
        for (int i = 0; i < 40; ++i) Qel_SetPixel(static_cast<int16_t>(10 + i), 700, target, 0xFFFFFF);
        if (held) S_UnLockSingleDDSurface(target);
    };
    draw(expect.get(), false);
    draw(screen, true);
    Qel_UpdateScreen();
    EXPECT_EQ(v->flags & VIDEO_CURRENTPAGE, VIDEO_CURRENTPAGE);

    // The presented frame, saved from the front buffer as a Targa file.
    ASSERT_EQ(S_SaveFrontBuffer("frame"), 1);
    std::vector<uint8_t> tga = folder.Read("frame.tga");
    ASSERT_EQ(tga.size(), 18u + 1024u * 768u * 4u);
    EXPECT_EQ(tga[2], 2);
    EXPECT_EQ(tga[12] | tga[13] << 8, 1024);
    EXPECT_EQ(tga[14] | tga[15] << 8, 768);
    EXPECT_EQ(tga[17], 0x28);
    // Names are the game's: '\' between folders, any case, found as the disk has them.
    folder.Write("Shots/keep.txt", "");
    ASSERT_EQ(S_SaveFrontBuffer("SHOTS\\frame2"), 1);
    EXPECT_EQ(folder.Read("Shots/frame2.tga"), tga);
    int wrong = 0;
    for (int y = 0; y < 768; ++y)
        for (int x = 0; x < 1024; ++x) {
            uint32_t got;
            std::memcpy(&got, tga.data() + 18 + (static_cast<size_t>(y) * 1024 + x) * 4, 4);
            if ((got & 0xFFFFFF) != (PixelAt(expect.get(), x, y) & 0xFFFFFF) && wrong++ < 5)
                ADD_FAILURE() << "pixel " << x << "," << y << ": " << std::hex << got;
        }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(WindowPixel(512, 384), 0x0000FFu);
    S_3DFreeLookupTextures();
    Qel_CloseVideo(1);
    EXPECT_EQ(g_VideoRecord, nullptr);
}
