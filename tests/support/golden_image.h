// Golden pictures: a picture drawn by a test is compared with a PNG kept under
// the source tree, channel by channel. The PNG is only ever rewritten when the
// run asks for it (TREVAN_UPDATE_GOLDEN=1); look at it before keeping it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Empty when pixels (0xAARRGGBB, top row first; alpha ignored) match the PNG
// at TREVAN_SOURCE_DIR/path: every channel within 4 on at least 99% of the
// pixels; else what differs. A mismatch leaves the picture as
// "<name>.actual.png" in TREVAN_TEST_SCRATCH. With TREVAN_UPDATE_GOLDEN=1 the
// PNG is written from the pixels instead and the answer is empty.
std::string GoldenCompare(const std::string& path, int width, int height, const std::vector<uint32_t>& pixels);
