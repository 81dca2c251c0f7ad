// Texture drawing on memory bitmaps of the texture cache of an open device:
// a fresh scene state and a texture table of 10 numbered slots, every texture
// record the drawing writes captured, and the font image "F/grid8.bmp".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "scene/state.h"
#include "support/gamefolder.h"
#include "support/videosupport.h"

using TexRecord = std::vector<uint8_t>;

// The records written since the last clear, and the writer that keeps them.
std::vector<TexRecord>& TexRecordsWritten();
void TexRecordCapture(void* context, const uint8_t* bytes, size_t size);

// A 16 x 16 font image of 8 x 8 cells: '!' is a solid 7 x 8 block (its cell is
// cut by the image's right edge), ' ' is empty.
extern const std::vector<const char*> kTexFontImage;

class TexCacheFixture : public VideoTestBase {
protected:
    void SetUp() override;
    void TearDown() override;

    TempGameFolder folder_;
    B3DState* savedState_ = nullptr;
};
