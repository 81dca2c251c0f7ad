#include "support/texcachefixture.h"

#include "base/fonts.h"
#include "base/texcache.h"
#include "scene/texdraw.h"
#include "support/imagefixtures.h"
#include "system/settings.h"

std::vector<TexRecord>& TexRecordsWritten() {
    static std::vector<TexRecord> records;
    return records;
}

void TexRecordCapture(void*, const uint8_t* bytes, size_t size) {
    TexRecordsWritten().emplace_back(bytes, bytes + size);
}

const std::vector<const char*> kTexFontImage = {
    "................", ".........#######", ".........#######", ".........#######",
    ".........#######", ".........#######", ".........#######", ".........#######",
    ".........#######", "................", "................", "................",
    "................", "................", "................", "................",
};

void TexCacheFixture::SetUp() {
    VideoTestBase::SetUp();
    S_InitSystemSettings();
    ASSERT_TRUE(OpenVideo(320, 240));
    savedState_ = g_B3DState;
    g_B3DState = B3D_InitStore();
    ASSERT_NE(g_B3DState, nullptr);
    g_TCNumberedCount = 10;
    g_TCNamedCount = 0;
    ASSERT_FALSE(TC_AllocTextureTable());
    TexRecordsWritten().clear();
    B3D_TexSetRecordWriter(&TexRecordCapture, this);
    B3D_SetEngineFlags(B3D_ENGINE_RECORDING);
    folder_.WriteBytes("F/grid8.bmp", Bmp1(kTexFontImage));
}

void TexCacheFixture::TearDown() {
    B3D_TexSetRecordWriter(nullptr, nullptr);
    B3D_TexFreeComposites();
    Qel_CloseFonts();
    TC_FreeTextureTables();
    g_TCNumberedCount = g_TCNamedCount = 0;
    B3D_FreeStore();
    g_B3DState = savedState_;
    CloseVideo();
    VideoTestBase::TearDown();
}
