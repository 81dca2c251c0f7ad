// The pixel-format table and format descriptors.
#include <gtest/gtest.h>

#include "render/pixelformat.h"
#include "support/logcapture.h"
#include "system/adapters.h"

namespace {

TEST(PixelFormat, CodesFollowTheTable) {
    EXPECT_EQ(S3D_PixelFormatCode(D3DFMT_R8G8B8), 0);
    EXPECT_EQ(S3D_PixelFormatCode(D3DFMT_A8L8), 14);  // never 26
    EXPECT_EQ(S3D_PixelFormatTable[26], D3DFMT_A8L8);
    EXPECT_EQ(S3D_PixelFormatCode(D3DFMT_INDEX32), 43);
    EXPECT_EQ(S3D_PixelFormatCode(D3DFMT_A8B8G8R8), 44);
    EXPECT_EQ(S3D_PixelFormatTable[44], 0u);
}

TEST(PixelFormat, Descriptors) {
    TextureBitmapFormat f{};
    ASSERT_EQ(S3D_EbmGetPixelFormatFromDPF(&f, D3DFMT_R5G6B5), 1);
    EXPECT_EQ(f.kind, 4u);
    EXPECT_EQ(f.bitsPerPixel, 16u);
    // Packing 255 into green: (255 >> (8 - bits)) << shift, masked.
    EXPECT_EQ(((255u >> (8 - f.greenBits)) << f.greenShift) & f.greenMask, 0x7E0u);
    ASSERT_EQ(S3D_EbmGetPixelFormatFromDPF(&f, D3DFMT_A8R8G8B8), 1);
    EXPECT_EQ(f.alphaMask, 0xFF000000u);
    EXPECT_EQ(f.alphaShift, 24);
    EXPECT_EQ(f.code, 1);
    ASSERT_EQ(S3D_EbmGetPixelFormatFromDPF(&f, D3DFMT_D24S8), 1);
    EXPECT_EQ(f.kind, 24u);
    EXPECT_EQ(f.depthBits, 24);
    EXPECT_EQ(f.stencilBits, 8);
    ASSERT_EQ(S3D_EbmGetPixelFormatFromDPF(&f, D3DFMT_A16B16G16R16), 1);
    EXPECT_EQ(f.kind, 64u);
    EXPECT_EQ(f.alphaBits, 0);
    // Block-compressed formats are described but answer 0.
    EXPECT_EQ(S3D_EbmGetPixelFormatFromDPF(&f, D3DFMT_DXT1), 0);
    EXPECT_EQ(f.code, 29);
    EXPECT_EQ(f.kind, 68u);
    EXPECT_EQ(f.redMask, 0xF800u);
    // Unknown formats give a zero descriptor and a log line with the four characters.
    LogCapture capture;
    EXPECT_EQ(S3D_EbmGetPixelFormatFromDPF(&f, D3DFMT_A8B8G8R8), 0);
    EXPECT_EQ(f.code, 0);
    EXPECT_EQ(f.bitsPerPixel, 0u);
    EXPECT_EQ(S3D_EbmGetPixelFormatFromDPF(&f, D3D_MAKEFOURCC('A', 'B', 'C', 'D')), 0);
    std::string log = capture.Take();
    EXPECT_NE(log.find("S3D_EbmGetPixelFormatFromDPF(32) Don't know this format!"), std::string::npos);
    EXPECT_NE(log.find("[ABCD]"), std::string::npos);
}

TEST(PixelFormat, DisplayModeDescriptions) {
    DispMode m{};
    m.format = D3DFMT_A4R4G4B4;
    S3D_AddDDPFfromDX8F(&m);
    EXPECT_EQ(m.pfFlags, 0x1000000u);
    EXPECT_EQ(m.pfBitsPerPixel, 16);
    EXPECT_EQ(m.pfAlphaBits, 4);
    EXPECT_EQ(m.redMask, 0xF00u);
    m = DispMode{};
    m.format = D3DFMT_D24X4S4;
    S3D_AddDDPFfromDX8F(&m);
    EXPECT_EQ(m.pfFlags, 0x4400u);
    EXPECT_EQ(m.pfBitsPerPixel, 24);
    EXPECT_EQ(m.pfAlphaBits, 4);
    m.format = D3DFMT_P8;
    LogCapture capture;
    S3D_AddDDPFfromDX8F(&m);
    capture.Take();
    EXPECT_EQ(m.pfFlags, 0u);
    EXPECT_EQ(m.pfBitsPerPixel, 0);
}

}  // namespace
