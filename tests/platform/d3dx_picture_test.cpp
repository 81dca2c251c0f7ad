#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/d3dx/image_decode.h"
#include "support/imagefixtures.h"

namespace {

// A JPEG whose first Huffman table counts more than 256 codes is refused
// before the decoder builds it.
TEST(D3DXPicture, HuffmanTableOfMoreThan256CodesIsRefused) {
    std::vector<uint8_t> jpeg = Jpeg(4, 2, std::vector<uint32_t>(8, 0xFF336699));
    D3DXIMAGE_INFO info{};
    D3DX_Picture picture;
    ASSERT_EQ(D3DX_PictureInfo(jpeg.data(), UINT(jpeg.size()), &info), D3D_OK);
    ASSERT_EQ(D3DX_DecodePicture(jpeg.data(), UINT(jpeg.size()), &picture), D3D_OK);
    size_t at = 2;
    while (at + 1 < jpeg.size() && !(jpeg[at] == 0xFF && jpeg[at + 1] == 0xC4)) ++at;
    ASSERT_LT(at + 21, jpeg.size());
    jpeg[at + 4 + 16] = 0xF0;  // the last count of 16-bit codes: the sum passes 256
    EXPECT_EQ(D3DX_PictureInfo(jpeg.data(), UINT(jpeg.size()), &info), D3DXERR_INVALIDDATA);
    EXPECT_EQ(D3DX_DecodePicture(jpeg.data(), UINT(jpeg.size()), &picture), D3DXERR_INVALIDDATA);
}

// A scan whose components name Huffman tables no segment defined decodes the
// same way every time: the tables are empty, not left-over memory.
TEST(D3DXPicture, ScanNamingAnUndefinedHuffmanTableReadsNoStaleMemory) {
    std::vector<uint8_t> jpeg = Jpeg(4, 2, std::vector<uint32_t>(8, 0xFF336699));
    size_t at = 2;
    while (at + 1 < jpeg.size() && !(jpeg[at] == 0xFF && jpeg[at + 1] == 0xDA)) ++at;
    ASSERT_LT(at + 7, jpeg.size());
    jpeg[at + 6] = 0x33;  // the first component's tables: DC 3 and AC 3
    D3DX_Picture first, second;
    HRESULT hr = D3DX_DecodePicture(jpeg.data(), UINT(jpeg.size()), &first);
    EXPECT_EQ(D3DX_DecodePicture(jpeg.data(), UINT(jpeg.size()), &second), hr);
    EXPECT_EQ(first.bgra, second.bgra);
}

// A JPEG whose frame header promises more 8 x 8 blocks than its bytes could
// code even at one bit each is refused before anything is decoded; a large
// picture of one colour, whose blocks are nearly free, still loads.
TEST(D3DXPicture, JpegPromisingMoreBlocksThanItsBytesHoldIsRefused) {
    std::vector<uint8_t> jpeg = Jpeg(4, 2, std::vector<uint32_t>(8, 0xFF336699));
    size_t at = 2;
    while (at + 1 < jpeg.size() && !(jpeg[at] == 0xFF && jpeg[at + 1] == 0xC0)) ++at;
    ASSERT_LT(at + 9, jpeg.size());
    const uint8_t huge[4] = {0x24, 0x02, 0x3A, 0x00};  // 9218 rows of 14848 pixels
    std::copy(huge, huge + 4, jpeg.begin() + long(at) + 5);
    D3DXIMAGE_INFO info{};
    D3DX_Picture picture;
    EXPECT_EQ(D3DX_PictureInfo(jpeg.data(), UINT(jpeg.size()), &info), D3DXERR_INVALIDDATA);
    EXPECT_EQ(D3DX_DecodePicture(jpeg.data(), UINT(jpeg.size()), &picture), D3DXERR_INVALIDDATA);

    std::vector<uint8_t> plain = Jpeg(512, 512, std::vector<uint32_t>(512 * 512, 0xFF336699));
    ASSERT_EQ(D3DX_DecodePicture(plain.data(), UINT(plain.size()), &picture), D3D_OK);
    EXPECT_EQ(picture.width, 512u);
}

}  // namespace
