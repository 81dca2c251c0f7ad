// The image library's three calls that turn the about picture into a bitmap
// the size of its picture control, over stb_image: a bitmap becomes a memory
// block of its pixels, the block is scaled, and a new bitmap is made from it.
// Bitmap resources are image files ("<id>.png", ".bmp" or ".jpg") in the
// program's resource folder.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/win32/dialog.h"

// A memory block of a device-independent bitmap: RGBA rows, top first.
struct ImgBlock {
    int width;
    int height;
    std::vector<uint8_t> rgba;
};

// Ordinal 23: the block of a bitmap's pixels; width and height go to the two
// out values. Null for a null or empty bitmap.
ImgBlock* IMG_BitmapToBlock(HBITMAP bitmap, int32_t* valueA, int32_t* valueB, int32_t zero);
// Ordinal 26: a new block of the pixels scaled to width x height; null when
// either size is not positive or the block is empty.
ImgBlock* IMG_ScaleBlock(const ImgBlock* block, int32_t valueA, int32_t valueB, int32_t width, int32_t height);
// Ordinal 24: a bitmap of that size from the block; null when the sizes differ from the block's.
HBITMAP IMG_BlockToBitmap(const ImgBlock* block, int32_t width, int32_t height, int32_t zero);
// The block's memory back; null is ignored.
void IMG_FreeBlock(ImgBlock* block);

// A bitmap resource of the program, or null (no such file or not an image).
HBITMAP LoadBitmapA(HINSTANCE instance, const char* name);
// Where bitmap resources are found: "<folder of the executable>/res" unless set.
void IMG_SetResourceFolder(const char* folder);
