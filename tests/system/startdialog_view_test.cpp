// The start dialog drawn by its view: rendered offscreen, read back and probed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

#include <SDL.h>

#include "platform/d3d9/d3d9.h"
#include "platform/imgdll/imgdll.h"
#include "platform/win32/dialog.h"
#include "platform/win32/msgbox.h"
#include "script/textpages.h"
#include "support/logcapture.h"
#include "support/story.h"
#include "support/videosupport.h"
#include "system/settings.h"
#include "system/startdialog.h"

namespace fs = std::filesystem;

namespace {

struct Rgb {
    int r, g, b;
};

class StartDialogView : public VideoTestBase {
protected:
    void SetUp() override {
        VideoTestBase::SetUp();
        ASSERT_EQ(S_InitSystemSettings(), 1);
        state->debugFlags |= 4;
        Win32_DialogSeamReset();
        // The about picture: red on the left, blue on the right.
        const int w = 64, h = 32;
        std::vector<uint8_t> pixels(w * h * 4);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                uint8_t* p = &pixels[(y * w + x) * 4];
                p[0] = x < w / 2 ? 220 : 30;
                p[1] = 40;
                p[2] = x < w / 2 ? 30 : 220;
                p[3] = 255;
            }
        ASSERT_NE(stbi_write_png((configDir + "/172.png").c_str(), w, h, 4, pixels.data(), w * 4), 0);
        IMG_SetResourceFolder(configDir.c_str());
        std::vector<SB_TextImport> recs(2);
        const std::string title = "Trevan – Größe", start = "Spielen";
        recs[0] = SB_TextImport{&recs[1], nullptr, 1, static_cast<uint32_t>(start.size()), start.c_str()};
        recs[1] = SB_TextImport{nullptr, &recs[0], 1216, static_cast<uint32_t>(title.size()), title.c_str()};
        SB_TextImportList list{&recs[0], &recs[1]};
        ASSERT_EQ(SB_MergeTextPage(ctx_.get(), 0, PAGE_START, &list), 1);
    }
    void TearDown() override {
        Win32_DialogSeamReset();
        IMG_SetResourceFolder(nullptr);
        SB_FreeTexts(ctx_.get());
        VideoTestBase::TearDown();
    }
    ScriptTestContext ctx_;
};

TEST_F(StartDialogView, RendersTheStartDialogWithItsPicture) {
    int w = 0, h = 0;
    std::vector<uint8_t> rgba;
    bool rendered = false;
    LogCapture log;
    Win32_DialogSeam().driver = [&](HWND dialog, int) {
        rendered = Win32_RenderDialogFrame(&w, &h, &rgba);
        Win32_DialogClick(dialog, IDCANCEL);
    };
    EXPECT_EQ(S_RunStartDialog(), 0);
    ASSERT_TRUE(rendered);
    EXPECT_TRUE(log.Contains("AboutDialog rect: 10,10,510,160\n"));
    ASSERT_EQ(w, 520);
    ASSERT_EQ(h, 422);
    const char* scratch = std::getenv("TREVAN_TEST_SCRATCH");
    const std::string out = std::string(scratch ? scratch : ".") + "/startdialog.png";
    stbi_write_png(out.c_str(), w, h, 4, rgba.data(), w * 4);

    auto at = [&](int x, int y) {
        const uint8_t* p = &rgba[(static_cast<size_t>(y) * w + x) * 4];
        return Rgb{p[0], p[1], p[2]};
    };
    // The picture fills its control: red on the left, blue on the right.
    const Rgb left = at(100, 85), right = at(420, 85);
    EXPECT_GT(left.r, 180);
    EXPECT_LT(left.b, 70);
    EXPECT_GT(right.b, 180);
    EXPECT_LT(right.r, 70);
    // Texts are drawn: dark pixels in the title's line and on the start button.
    auto dark = [&](int x0, int y0, int x1, int y1) {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) {
                const Rgb c = at(x, y);
                if (c.r + c.g + c.b < 200) ++n;
            }
        return n;
    };
    const Rgb background = at(515, 200);
    EXPECT_GT(dark(10, 170, 300, 190), 20);
    EXPECT_GT(dark(300, 382, 400, 412), 10);
    EXPECT_EQ(dark(300, 192, 510, 222), 0);  // nothing drawn there
    EXPECT_GT(background.r + background.g + background.b, 600);
}

TEST_F(StartDialogView, TheViewTakesEscapeAndEnterFromTheKeyboard) {
    ASSERT_TRUE(D3D9_LoadDriver());
    struct Case {
        SDL_Keycode key;
        int result;
    } cases[] = {{SDLK_ESCAPE, 0}, {SDLK_RETURN, 1}};
    for (const Case& c : cases) {
        Win32_DialogSeamReset().viewHeadless = true;
        SDL_Event press{};
        press.type = SDL_KEYDOWN;
        press.key.state = SDL_PRESSED;
        press.key.keysym.sym = c.key;
        ASSERT_EQ(SDL_PushEvent(&press), 1);
        EXPECT_EQ(S_RunStartDialog(), c.result) << SDL_GetKeyName(c.key);
        EXPECT_TRUE(Win32_OpenDialogs().empty());
    }
}

}  // namespace
