// The image library's three calls for the about picture, and bitmap resources.
#include "platform/imgdll/imgdll.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

HBITMAP RedBlue() {
    // One red and one blue pixel.
    return new Win32Bitmap{2, 1, {255, 0, 0, 255, 0, 0, 255, 255}};
}

TEST(ImgDll, ABitmapIsScaledIntoANewBitmapOfTheControlsSize) {
    HBITMAP source = RedBlue();
    int32_t a = 0, b = 0;
    ImgBlock* block = IMG_BitmapToBlock(source, &a, &b, 0);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(a, 2);
    EXPECT_EQ(b, 1);
    ImgBlock* scaled = IMG_ScaleBlock(block, a, b, 8, 3);
    ASSERT_NE(scaled, nullptr);
    HBITMAP picture = IMG_BlockToBitmap(scaled, 8, 3, 0);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->width, 8);
    EXPECT_EQ(picture->height, 3);
    // The outer columns keep their colours; the middle blends them.
    for (int y = 0; y < 3; ++y) {
        const uint8_t* row = &picture->rgba[static_cast<size_t>(y) * 8 * 4];
        EXPECT_EQ(row[0], 255);
        EXPECT_EQ(row[2], 0);
        EXPECT_EQ(row[7 * 4 + 0], 0);
        EXPECT_EQ(row[7 * 4 + 2], 255);
        EXPECT_NEAR(row[3 * 4 + 0], row[4 * 4 + 2], 1);
    }
    EXPECT_EQ(IMG_BlockToBitmap(scaled, 7, 3, 0), nullptr);  // not the block's size
    IMG_FreeBlock(scaled);
    IMG_FreeBlock(block);
    DeleteObject(picture);
    DeleteObject(source);
}

TEST(ImgDll, NothingToScaleGivesNothing) {
    HBITMAP source = RedBlue();
    ImgBlock* block = IMG_BitmapToBlock(source, nullptr, nullptr, 0);
    EXPECT_EQ(IMG_ScaleBlock(block, 2, 1, 0, 10), nullptr);
    EXPECT_EQ(IMG_ScaleBlock(block, 2, 1, 10, -1), nullptr);
    EXPECT_EQ(IMG_ScaleBlock(nullptr, 2, 1, 10, 10), nullptr);
    EXPECT_EQ(IMG_BitmapToBlock(nullptr, nullptr, nullptr, 0), nullptr);
    IMG_FreeBlock(block);
    IMG_FreeBlock(nullptr);
    DeleteObject(source);
}

TEST(ImgDll, BitmapResourcesAreImageFilesOfTheResourceFolder) {
    const char* scratch = std::getenv("TREVAN_TEST_SCRATCH");
    const std::filesystem::path folder = std::filesystem::path(scratch ? scratch : ".") / "imgdll-res";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "9.png") << "not an image";
    IMG_SetResourceFolder(folder.string().c_str());
    EXPECT_EQ(LoadBitmapA(nullptr, MAKEINTRESOURCEA(172)), nullptr);  // missing
    EXPECT_EQ(LoadBitmapA(nullptr, MAKEINTRESOURCEA(9)), nullptr);    // not an image
    EXPECT_EQ(LoadBitmapA(nullptr, "named"), nullptr);                // only numbered resources
    IMG_SetResourceFolder(nullptr);
    std::filesystem::remove_all(folder);
}

}  // namespace
