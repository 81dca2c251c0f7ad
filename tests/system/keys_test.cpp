#include <gtest/gtest.h>

#include <SDL.h>

#include <cstring>
#include <memory>
#include <string>

#include "base/log.h"
#include "base/strings.h"
#include "script/context.h"
#include "script/textpages.h"
#include "support/input_support.h"
#include "support/window_support.h"
#include "system/keys.h"

namespace {

class Keys : public InputTestBase {
protected:
    // DirectInput keyboard and mouse from the seam.
    InputState* StartDirectInput() {
        InputState* in = S_InitIO(INPUT_MOUSE);
        EXPECT_NE(g_ApplicationRecord.keyboardDevice, nullptr);
        return in;
    }
    // Window messages only.
    InputState* StartWithoutDirectInput() {
        DInput_SeamFail(DISeamDevice::Interface, DISeamCall::Create, DIERR_GENERIC);
        InputState* in = S_InitIO(INPUT_MOUSE);
        EXPECT_EQ(g_ApplicationRecord.directInput, nullptr);
        return in;
    }
};

// ---------------------------------------------------------------------------
// Reading keys

TEST_F(Keys, EmptyRingGivesNothing) {
    InputState* in = StartDirectInput();
    in->keySeen = 1;
    EXPECT_EQ(S_GetKey(), 0);
    EXPECT_EQ(in->keySeen, 0u);
}

TEST_F(Keys, DirectInputKeysGiveEngineCodesWithShift) {
    StartDirectInput();
    DInput_SeamKey(0x1E, true);
    S_VbiIO();
    EXPECT_EQ(S_GetKey(), 97);
    EXPECT_EQ(S_GetKey(), 0);
    DInput_SeamKey(0x2A, true);
    DInput_SeamKey(0x3B, true);  // F1
    S_VbiIO();
    EXPECT_EQ(S_GetKey(), 0x1000 | 97);
    EXPECT_EQ(S_GetKey(), 0x1000 | 265);
    EXPECT_EQ(S_GetKey(), 0);
}

TEST_F(Keys, FourHeldKeysAreNotAnEmptyRing) {
    StartDirectInput();
    for (DWORD scan : {0x10u, 0x11u, 0x12u, 0x13u}) DInput_SeamKey(scan, true);
    S_VbiIO();
    EXPECT_EQ(S_GetKey(), 113);  // q
    EXPECT_EQ(S_GetKey(), 119);  // w
    EXPECT_EQ(S_GetKey(), 101);  // e
    EXPECT_EQ(S_GetKey(), 114);  // r
    EXPECT_EQ(S_GetKey(), 0);
    // A fifth held key pushes the oldest out; the read index wraps from 3 to 0.
    DInput_SeamKey(0x14, true);
    S_VbiIO();
    EXPECT_EQ(S_GetKey(), 119);
    EXPECT_EQ(S_GetKey(), 101);
    EXPECT_EQ(S_GetKey(), 114);
    EXPECT_EQ(S_GetKey(), 116);  // t
    EXPECT_EQ(S_GetKey(), 0);
}

TEST_F(Keys, SingleKeyModeTakesTheNewest) {
    InputState* in = StartDirectInput();
    in->flags |= INPUT_SINGLE_KEY;
    DInput_SeamKey(0x10, true);
    DInput_SeamKey(0x11, true);
    S_VbiIO();
    EXPECT_EQ(S_GetKey(), 119);
    EXPECT_EQ(S_GetKey(), 0);
    S_VbiIO();  // held: it comes again next frame
    EXPECT_EQ(S_GetKey(), 119);
}

TEST_F(Keys, WindowKeysTranslate) {
    StartWithoutDirectInput();
    struct Case {
        int32_t code, kind;
        uint16_t want;
    } cases[] = {
        {'a', KEY_KIND_CHAR, 97},        {0xE9, KEY_KIND_CHAR, 0xE9},  // a code-page character stays clear of the Shift bit
        {13, KEY_KIND_CHAR, 13},         {0x13, KEY_KIND_VIRTUAL, 0x100},  // pause
        {0x2C, KEY_KIND_VIRTUAL, 0x100},                                   // print screen
        {0x91, KEY_KIND_VIRTUAL, 0x100},                                   // scroll lock
        {0x21, KEY_KIND_VIRTUAL, 0x153}, {0x22, KEY_KIND_VIRTUAL, 0x152}, {0x23, KEY_KIND_VIRTUAL, 0x168},
        {0x24, KEY_KIND_VIRTUAL, 0x106}, {0x25, KEY_KIND_VIRTUAL, 0x104}, {0x26, KEY_KIND_VIRTUAL, 0x103},
        {0x27, KEY_KIND_VIRTUAL, 0x105}, {0x28, KEY_KIND_VIRTUAL, 0x102}, {0x2D, KEY_KIND_VIRTUAL, 0x14B},
        {0x2E, KEY_KIND_VIRTUAL, 0x14A}, {0x70, KEY_KIND_VIRTUAL, 265},   {0x7B, KEY_KIND_VIRTUAL, 276},
        {0x14, KEY_KIND_VIRTUAL, 0x14},  // caps lock: its own code
    };
    for (const Case& c : cases) {
        S_KeyRingStore(0, c.code, c.kind);
        EXPECT_EQ(S_GetKey(), c.want) << c.code;
    }
}

TEST_F(Keys, EnterTabAndEscapeArriveOnce) {
    StartWithoutDirectInput();
    HWND hwnd = S_AttachMainWindow();
    for (WPARAM vk : {VK_RETURN, VK_TAB, VK_ESCAPE}) {
        PostMessageA(hwnd, WM_ACTIVATE, WA_ACTIVE, 0);
        PostMessageA(hwnd, WM_KEYDOWN, vk, 0);
        S_ProcessMessages();
        EXPECT_EQ(S_GetKey(), vk);
        EXPECT_EQ(S_GetKey(), 0);
    }
    S_DetachMainWindow();
    Win32_ResetMessages();
}

// ---------------------------------------------------------------------------
// Characters and names

TEST_F(Keys, LastKeyCharacterFollowsShift) {
    StartDirectInput();
    EXPECT_EQ(S_IOLastKeyChar(), nullptr);  // nothing read yet
    DInput_SeamKey(0x1E, true);
    S_VbiIO();
    S_GetKey();
    EXPECT_STREQ(S_IOLastKeyChar(), "a");
    DInput_SeamKey(0x36, true);  // right Shift
    S_VbiIO();
    EXPECT_STREQ(S_IOLastKeyChar(), "A");
    DInput_SeamKey(0x3B, true);
    S_VbiIO();
    // The held letter comes again before F1; the ring holds at most four keys.
    int reads = 0;
    while (S_GetKey() != (0x1000 | 265) && ++reads < 4) {}
    ASSERT_LT(reads, 4) << "F1 never read";
    EXPECT_EQ(S_IOLastKeyChar(), nullptr);  // F1 types nothing
}

TEST_F(Keys, NamesOfKeys) {
    StartDirectInput();
    char* name = S_IODIKeyToKeyName(0x2A);
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name, "Left Shift");
    Qel_StrFree(name);
    DInput_SeamFail(DISeamDevice::Keyboard, DISeamCall::GetObjectInfo, DIERR_GENERIC);
    StartCapture();
    EXPECT_EQ(S_IODIKeyToKeyName(0x2A), nullptr);
    EXPECT_TRUE(Has(StopCapture(), "S_IODIKeyToKeyName(42) failed: DIERR_GENERIC\n"));

    struct Case {
        uint32_t code;
        const char* want;
    } cases[] = {
        {97, "a"},
        {0x1000 | 97, "A"},  // a letter with Shift is the capital alone
        {265, "F1"},
        {0x1000 | 265, "Left Shift+F1"},
        {0x2000 | 265, "F1"},
        {413, "Left Shift"},
        {258, "Down"},
        {65, nullptr},
        {300 + 0x8000, nullptr},
    };
    for (const Case& c : cases) {
        const char* got = S_IOKeyComboName(c.code);
        if (c.want) EXPECT_STREQ(got, c.want) << c.code;
        else EXPECT_EQ(got, nullptr) << c.code;
    }
}

TEST_F(Keys, NamesOfJoystickControlsComeFromTheTexts) {
    sys_.languageId = 44;
    auto ctx = std::make_unique<SE_Context>();
    SE_Context* savedCtx = g_SEContext;
    g_SEContext = ctx.get();
    struct Text {
        int32_t id;
        const char* text;
    } texts[] = {{20000, "Stick X"},     {20001, "Stick Y"}, {20002, "Throttle"}, {20003, "Rudder"},
                 {20004, "Twist"},       {20010, "Axis "},   {20011, "Button "},  {20020, "Hat Up"},
                 {20027, "Hat Up-Left"}, {20030, "Hold"},    {20031, "Double"}};
    SB_TextImport records[std::size(texts)] = {};
    SB_TextImportList list{};
    for (size_t i = 0; i < std::size(texts); ++i) {
        records[i].id = texts[i].id;
        records[i].text = texts[i].text;
        records[i].length = static_cast<uint32_t>(std::strlen(texts[i].text));
        records[i].prev = list.tail;
        if (list.tail) list.tail->next = &records[i];
        else list.head = &records[i];
        list.tail = &records[i];
    }
    ASSERT_EQ(SB_MergeTextPage(ctx.get(), 44, 1903, &list), 1);

    InputState* in = StartDirectInput();
    struct Case {
        uint32_t code;
        const char* want;
    } cases[] = {
        {280, "Stick X"},
        {282, "Throttle"},
        {294, "Rudder"},
        {295, "Twist"},
        {283, "Axis 4"},
        {287, "Axis 8"},
        {288, nullptr},
        {293, nullptr},
        {296, "Button 1"},
        {320, "Button 25"},
        {327, "Button 32"},
        {0x1000 | 296, "Left Shift+Button 1"},
        {0x2000 | 280, "Hold Stick X"},
        {0x4000 | 0x1000 | 296, "Double Left Shift+Button 1"},
    };
    for (const Case& c : cases) {
        const char* got = S_IOKeyComboName(c.code);
        if (c.want) EXPECT_STREQ(got, c.want) << c.code;
        else EXPECT_EQ(got, nullptr) << c.code;
    }
    in->flags |= INPUT_POV;  // hat directions have names of their own
    EXPECT_STREQ(S_IOKeyComboName(320), "Hat Up");
    EXPECT_STREQ(S_IOKeyComboName(327), "Hat Up-Left");
    EXPECT_STREQ(S_IOKeyComboName(319), "Button 24");

    SB_FreeTexts(ctx.get());
    g_SEContext = savedCtx;
}

TEST_F(Keys, SystemCodePageTextBecomesUtf8) {
    EXPECT_STREQ(Qel_ToWide("caf\xe9"), "caf\xc3\xa9");
    EXPECT_STREQ(Qel_ToWide("plain"), "plain");
    EXPECT_EQ(Qel_ToWide(nullptr), nullptr);
}

// ---------------------------------------------------------------------------
// Message boxes

TEST_F(Keys, MessageBoxesAreModalWithTheApplicationsName) {
    AppDescriptor app{};
    app.appName = "Trevan Test";
    sys_.app = &app;
    StartCapture();
    S_SystemMessage("hello");
    std::string log = StopCapture();
    ASSERT_EQ(boxes_->shown.size(), 1u);
    EXPECT_EQ(boxes_->shown[0].text, "hello");
    EXPECT_EQ(boxes_->shown[0].caption, "Trevan Test");
    EXPECT_EQ(boxes_->shown[0].type, 0x52030u);
    EXPECT_TRUE(Has(log, "S_SystemMessage(hello) MessageBox() returns 1\n"));

    boxes_->answer = 0;
    StartCapture();
    S_SystemMessage("again");
    EXPECT_TRUE(Has(StopCapture(),
                    "S_SystemMessage(again) Failed opening MessageBox() The message box could not be shown. (31)\n"));

    g_SystemState = nullptr;
    boxes_->answer = IDOK;
    S_SystemMessage("early");
    g_SystemState = &sys_;
    EXPECT_EQ(boxes_->shown.back().caption, "VELDRIM");
}

TEST_F(Keys, LogLinesShowInOneBoxEach) {
    ASSERT_EQ(g_LogMessageBox, S_LogMessageBox);
    sys_.SysProfilingFlags = 0x100;
    // The box is shown by the sink behind the log capture: keep the line off the terminal by hand.
    testing::internal::CaptureStderr();
    Qel_DPrintf(0, "something went wrong\n");
    testing::internal::GetCapturedStderr();
    sys_.SysProfilingFlags = 0;
    // The box logs its own result; that line opens no second box.
    ASSERT_EQ(boxes_->shown.size(), 1u);
    EXPECT_EQ(boxes_->shown[0].text, "something went wrong\n");
}

// ---------------------------------------------------------------------------
// A real SDL event stream, headless

class KeysSdl : public Keys {
protected:
    void SetUp() override {
        Keys::SetUp();
        g_ApplicationRecord.mainWindow = OpenScreenWindow(S_WindowProc, 320, 240);
        window_ = Win32_GetSDLWindow(g_ApplicationRecord.mainWindow);
        ASSERT_NE(window_, nullptr) << SDL_GetError();
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    }
    void TearDown() override {
        if (g_InputState) S_CloseIO();
        S_DetachMainWindow();
        Win32_ResetMessages();
        Keys::TearDown();
    }
    void Key(SDL_Scancode sc, SDL_Keycode sym, bool down = true) {
        SDL_Event e{};
        e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
        e.key.windowID = SDL_GetWindowID(window_);
        e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
        e.key.keysym.scancode = sc;
        e.key.keysym.sym = sym;
        ASSERT_EQ(SDL_PushEvent(&e), 1);
    }
    void Text(const char* text) {
        SDL_Event e{};
        e.type = SDL_TEXTINPUT;
        e.text.windowID = SDL_GetWindowID(window_);
        std::snprintf(e.text.text, sizeof e.text.text, "%s", text);
        ASSERT_EQ(SDL_PushEvent(&e), 1);
    }

    SDL_Window* window_ = nullptr;
};

TEST_F(KeysSdl, KeyPressReachesTheRingThroughDirectInput) {
    DInput_SeamDisable();  // SDL's own keyboard
    ASSERT_NE(S_InitIO(INPUT_MOUSE), nullptr);
    ASSERT_NE(g_ApplicationRecord.keyboardDevice, nullptr);
    S_ProcessMessages();  // the window's activation
    Key(SDL_SCANCODE_A, SDLK_a);
    Text("a");
    S_ProcessMessages();
    EXPECT_EQ(S_GetKey(), 97);
    EXPECT_STREQ(S_IOLastKeyChar(), "a");
    Key(SDL_SCANCODE_A, SDLK_a, false);
    Key(SDL_SCANCODE_F2, SDLK_F2);
    S_ProcessMessages();
    EXPECT_EQ(S_GetKey(), 266);
    EXPECT_EQ(S_GetKey(), 0);
}

TEST_F(KeysSdl, KeyPressReachesTheRingThroughWindowMessages) {
    StartWithoutDirectInput();
    S_ProcessMessages();
    Key(SDL_SCANCODE_A, SDLK_a);
    Text("a");
    Key(SDL_SCANCODE_RETURN, SDLK_RETURN);
    Key(SDL_SCANCODE_LEFT, SDLK_LEFT);
    S_ProcessMessages();
    EXPECT_EQ(S_GetKey(), 'a');
    EXPECT_EQ(S_GetKey(), 13);
    EXPECT_EQ(S_GetKey(), 0x104);
    EXPECT_EQ(S_GetKey(), 0);
}

}  // namespace
