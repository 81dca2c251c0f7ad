// Every described format's descriptor, the adapter-mode records, channel
// packing and the texture lookup with its black stand-in.
#include <gtest/gtest.h>

#include "base/ebm.h"
#include "support/logcapture.h"
#include "render/pixelformat.h"
#include "system/adapters.h"
#include "system/shaderprofile.h"
#include "system/surfaces.h"

namespace {

struct Ch {
    uint32_t mask;
    uint16_t bits, shift;
};

struct Row {
    D3DFORMAT format;
    int code;
    uint32_t kind, bpp;
    Ch r, g, b, a, depth, stencil;
    int result;
};

TEST(PixelFormatTable, DescriptorOfEveryDescribedFormat) {
    const Ch o{0, 0, 0};
    const Ch rgb24[3] = {{0xFF0000, 8, 16}, {0xFF00, 8, 8}, {0xFF, 8, 0}};
    const Row rows[] = {
        {D3DFMT_R8G8B8, 0, 4, 24, rgb24[0], rgb24[1], rgb24[2], o, o, o, 1},
        {D3DFMT_A8R8G8B8, 1, 4, 32, rgb24[0], rgb24[1], rgb24[2], {0xFF000000u, 8, 24}, o, o, 1},
        {D3DFMT_X8R8G8B8, 2, 4, 32, rgb24[0], rgb24[1], rgb24[2], o, o, o, 1},
        {D3DFMT_R5G6B5, 3, 4, 16, {0xF800, 5, 11}, {0x7E0, 6, 5}, {0x1F, 5, 0}, o, o, o, 1},
        {D3DFMT_X1R5G5B5, 4, 4, 16, {0x7C00, 5, 10}, {0x3E0, 5, 5}, {0x1F, 5, 0}, o, o, o, 1},
        {D3DFMT_A1R5G5B5, 5, 4, 16, {0x7C00, 5, 10}, {0x3E0, 5, 5}, {0x1F, 5, 0}, {0x8000, 1, 15}, o, o, 1},
        {D3DFMT_A4R4G4B4, 6, 4, 16, {0xF00, 4, 8}, {0xF0, 4, 4}, {0xF, 4, 0}, {0xF000, 4, 12}, o, o, 1},
        {D3DFMT_R3G3B2, 7, 4, 8, {0xE0, 3, 5}, {0x1C, 3, 2}, {0x3, 2, 0}, o, o, o, 1},
        {D3DFMT_A8, 8, 4, 8, o, o, o, {0xFF, 8, 0}, o, o, 1},
        {D3DFMT_A8R3G3B2, 9, 4, 16, {0xE0, 3, 5}, {0x1C, 3, 2}, {0x3, 2, 0}, {0xFF00, 8, 8}, o, o, 1},
        {D3DFMT_X4R4G4B4, 10, 4, 16, {0xF00, 4, 8}, {0xF0, 4, 4}, {0xF, 4, 0}, o, o, o, 1},
        {D3DFMT_P8, 12, 68, 8, o, o, o, {0xFFFF, 16, 0}, o, o, 1},
        {D3DFMT_L8, 13, 4, 8, o, o, o, {0xFF, 8, 0}, o, o, 1},
        {D3DFMT_A8L8, 14, 68, 16, {0, 8, 0}, o, o, {0xFF00, 8, 8}, o, o, 1},
        {D3DFMT_V8U8, 16, 4, 16, o, o, o, {0xFF, 8, 0}, o, o, 1},
        {D3DFMT_L6V5U5, 17, 4, 16, o, o, o, {0xFF, 8, 0}, o, o, 1},
        {D3DFMT_X8L8V8U8, 18, 68, 32, o, o, o, {0xFFFF, 16, 0}, o, o, 1},
        {D3DFMT_Q8W8V8U8, 19, 68, 32, o, o, o, {0xFFFF, 16, 0}, o, o, 1},
        {D3DFMT_V16U16, 20, 68, 32, o, o, o, {0xFFFF, 16, 0}, o, o, 1},
        {D3DFMT_L16, 21, 68, 16, o, o, o, {0xFFFF, 16, 0}, o, o, 1},
        {D3DFMT_A2B10G10R10, 22, 68, 32, {0, 10, 0}, {0, 10, 10}, {0, 10, 20}, {0, 2, 30}, o, o, 1},
        {D3DFMT_A2R10G10B10, 23, 68, 32, {0, 10, 20}, {0, 10, 10}, {0, 10, 0}, {0, 2, 30}, o, o, 1},
        {D3DFMT_A16B16G16R16, 24, 64, 64, o, o, o, o, o, o, 1},
        {D3DFMT_G16R16, 25, 68, 32, {0xFFFF, 16, 0}, {0xFFFF0000u, 16, 16}, o, o, o, o, 1},
        {D3DFMT_UYVY, 27, 68, 16, o, o, o, {0xFFFF, 16, 0}, o, o, 1},
        {D3DFMT_YUY2, 28, 68, 16, o, o, o, {0xFFFF, 16, 0}, o, o, 1},
        {D3DFMT_DXT1, 29, 68, 16, {0xF800, 5, 11}, {0x7E0, 6, 5}, {0x1F, 5, 0}, o, o, o, 0},
        {D3DFMT_DXT3, 31, 68, 16, {0xF000, 4, 12}, {0xF00, 4, 8}, {0xF0, 4, 4}, {0xF, 4, 0}, o, o, 0},
        {D3DFMT_DXT5, 33, 68, 16, {0xF000, 4, 12}, {0xF00, 4, 8}, {0xF0, 4, 4}, {0xF, 4, 0}, o, o, 0},
        {D3DFMT_D16_LOCKABLE, 34, 8, 16, o, o, o, o, {0xFFFF, 16, 0}, o, 1},
        {D3DFMT_D32, 35, 8, 32, o, o, o, o, {0xFFFFFFFFu, 32, 0}, o, 1},
        {D3DFMT_D15S1, 36, 24, 16, o, o, o, o, {0xFFFE, 15, 1}, {1, 1, 0}, 1},
        {D3DFMT_D24S8, 37, 24, 32, o, o, o, o, {0xFFFFFF00u, 24, 8}, {0xFF, 8, 0}, 1},
        {D3DFMT_D16, 38, 8, 16, o, o, o, o, {0xFFFF, 16, 0}, o, 1},
        {D3DFMT_D24X8, 39, 8, 32, o, o, o, o, {0xFFFFFF00u, 24, 8}, o, 1},
        {D3DFMT_D24X4S4, 40, 24, 32, o, o, o, o, {0xFFFFFF00u, 24, 8}, {0xF, 4, 0}, 1},
    };
    LogCapture log;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.code);
        TextureBitmapFormat f{};
        EXPECT_EQ(S3D_EbmGetPixelFormatFromDPF(&f, r.format), r.result);
        EXPECT_EQ(f.code, r.code);
        EXPECT_EQ(S3D_PixelFormatTable[r.code], r.format);
        EXPECT_EQ(f.kind, r.kind);
        EXPECT_EQ(f.bitsPerPixel, r.bpp);
        const Ch got[6] = {{f.redMask, f.redBits, f.redShift},       {f.greenMask, f.greenBits, f.greenShift},
                           {f.blueMask, f.blueBits, f.blueShift},    {f.alphaMask, f.alphaBits, f.alphaShift},
                           {f.depthMask, f.depthBits, f.depthShift}, {f.stencilMask, f.stencilBits, f.stencilShift}};
        const Ch want[6] = {r.r, r.g, r.b, r.a, r.depth, r.stencil};
        for (int c = 0; c < 6; ++c) {
            EXPECT_EQ(got[c].mask, want[c].mask) << "channel " << c;
            EXPECT_EQ(got[c].bits, want[c].bits) << "channel " << c;
            EXPECT_EQ(got[c].shift, want[c].shift) << "channel " << c;
        }
    }
    // Described formats, the compressed ones included, log nothing.
    EXPECT_EQ(log.Text(), "");
}

TEST(PixelFormatTable, CodesBothWaysAndUnknownFormats) {
    EXPECT_EQ(S3D_PixelFormatCode(D3DFMT_A8L8), 14);  // the first entry wins
    EXPECT_EQ(S3D_PixelFormatTable[26], D3DFMT_A8L8);
    EXPECT_EQ(S3D_PixelFormatCode(D3DFMT_A8B8G8R8), 44);
    LogCapture log;
    TextureBitmapFormat f{};
    f.kind = 4;
    EXPECT_EQ(S3D_EbmGetPixelFormatFromDPF(&f, D3DFMT_A8B8G8R8), 0);
    EXPECT_EQ(f.code, 0);
    EXPECT_EQ(f.kind, 0u);
    EXPECT_EQ(log.Take(), "S3D_EbmGetPixelFormatFromDPF(32) Don't know this format!\n");
    // Vertex and index formats are in the table but have no descriptor.
    EXPECT_EQ(S3D_EbmGetPixelFormatFromDPF(&f, D3DFMT_INDEX16), 0);
    EXPECT_EQ(f.code, 0);
    log.Take();
    // Four-character codes show their bytes from the lowest.
    D3DFORMAT fourcc = D3D_MAKEFOURCC('A', 'T', 'I', '2');
    EXPECT_EQ(S3D_EbmGetPixelFormatFromDPF(&f, fourcc), 0);
    EXPECT_EQ(log.Take(), "S3D_EbmGetPixelFormatFromDPF(" + std::to_string(static_cast<int>(fourcc)) +
                              " [ATI2]) Don't know this format!\n");
}

TEST(PixelFormatTable, ChannelsPackWhateverTheirWidth) {
    struct {
        uint32_t value;
        uint16_t bits, shift;
        uint32_t mask, packed;
    } cases[] = {
        {255, 6, 5, 0x7E0, 0x7E0},                // R5G6B5 green
        {255, 5, 11, 0xF800, 0xF800},             // R5G6B5 red
        {128, 1, 15, 0x8000, 0x8000},             // A1R5G5B5 alpha
        {127, 1, 15, 0x8000, 0},                  //
        {255, 10, 20, 0x3FF00000, 0x3FC00000},    // a 10-bit channel scales up
        {1, 16, 16, 0xFFFF0000u, 0x01000000},     // a 16-bit channel too
        {255, 0, 0, 0, 0},                        // no channel
        {0x80, 8, 24, 0xFF000000u, 0x80000000u},  // alpha of A8R8G8B8
    };
    for (const auto& c : cases) EXPECT_EQ(S3D_PackChannel(c.value, c.bits, c.shift, c.mask), c.packed) << c.value;
    // The descriptor's own fields give the same.
    TextureBitmapFormat f{};
    S3D_EbmGetPixelFormatFromDPF(&f, D3DFMT_R5G6B5);
    EXPECT_EQ(S3D_PackChannel(255, f.greenBits, f.greenShift, f.greenMask), 0x7E0u);
}

TEST(PixelFormatTable, AdapterModeRecords) {
    struct {
        D3DFORMAT format;
        uint32_t flags;
        uint16_t bits, alpha;
        uint32_t r, g, b;
    } rows[] = {
        {D3DFMT_R8G8B8, 0x1000000, 24, 77, 0xFF0000, 0xFF00, 0xFF},
        {D3DFMT_A8R8G8B8, 0x1000000, 32, 8, 0xFF0000, 0xFF00, 0xFF},
        {D3DFMT_X8R8G8B8, 0x1000000, 32, 77, 0xFF0000, 0xFF00, 0xFF},
        {D3DFMT_R5G6B5, 0x1000000, 16, 77, 0xF800, 0x7E0, 0x1F},
        {D3DFMT_X1R5G5B5, 0x1000000, 16, 77, 0x7C00, 0x3E0, 0x1F},
        {D3DFMT_A1R5G5B5, 0x1000000, 16, 1, 0x7C00, 0x3E0, 0x1F},
        {D3DFMT_A4R4G4B4, 0x1000000, 16, 4, 0xF00, 0xF0, 0xF},
        {D3DFMT_D16_LOCKABLE, 0x1000000, 16, 0, 1, 2, 3},
        {D3DFMT_D16, 0x1000000, 16, 0, 1, 2, 3},
        {D3DFMT_D32, 0x400, 32, 0, 1, 2, 3},
        {D3DFMT_D15S1, 0x4400, 15, 1, 1, 2, 3},
        {D3DFMT_D24S8, 0x1000000, 24, 8, 1, 2, 3},
        {D3DFMT_D24X8, 0x400, 24, 0, 1, 2, 3},
        {D3DFMT_D24X4S4, 0x4400, 24, 4, 1, 2, 3},
        {D3DFMT_DXT1, 0, 0, 0, 0, 0, 0},
    };
    LogCapture log;
    for (const auto& r : rows) {
        SCOPED_TRACE(r.format);
        // "Unchanged" fields keep what the record held: 77 alpha bits, masks 1, 2, 3.
        DispMode m{};
        m.format = r.format;
        m.pfFlags = 5;
        m.pfAlphaBits = 77;
        m.redMask = 1, m.greenMask = 2, m.blueMask = 3;
        S3D_AddDDPFfromDX8F(&m);
        EXPECT_EQ(m.pfFlags, r.flags);
        EXPECT_EQ(m.pfBitsPerPixel, r.bits);
        EXPECT_EQ(m.pfAlphaBits, r.alpha);
        EXPECT_EQ(m.redMask, r.r);
        EXPECT_EQ(m.greenMask, r.g);
        EXPECT_EQ(m.blueMask, r.b);
    }
    EXPECT_EQ(log.Text(),
              "S3D_AddDDPFfromDX8F(" + std::to_string(static_cast<int>(D3DFMT_DXT1)) + ") Don't know format!\n");
}

TEST(PixelFormatTable, MissingTexturesAnswerTheBlackDummy) {
    auto* blackTexture = reinterpret_cast<IDirect3DBaseTexture9*>(0x100);
    auto* ownTexture = reinterpret_cast<IDirect3DBaseTexture9*>(0x200);
    SysEBM blackSys{}, ownSys{}, emptySys{};
    blackSys.WE_lpDestTexture = blackTexture;
    ownSys.WE_lpDestTexture = ownTexture;
    EBM black{}, own{}, empty{};
    black.sys = &blackSys;
    own.sys = &ownSys;
    empty.sys = &emptySys;
    EBM* saved = g_LookupTextures.blackDummy;
    g_LookupTextures.blackDummy = &black;
    LogCapture log;
    EXPECT_EQ(S_3DTextureGetSystemHandle(&own), ownTexture);
    EXPECT_EQ(log.Text(), "");
    EXPECT_EQ(S_3DTextureGetSystemHandle(&empty), blackTexture);
    EXPECT_EQ(S_3DTextureGetSystemHandle(nullptr), blackTexture);
    g_LookupTextures.blackDummy = saved;
    const std::string line =
        "ERROR: S_3DTextureGetSystemHandle, TEbm->EBM_Sys.Win->WE_lpDestTexture not valid using black dummy texture\n";
    EXPECT_EQ(log.Text(), line + line);
}

}  // namespace
