// The start dialog and its settings dialogs, driven through the control model
// the way a player would use them: initial state, each button, nested
// dialogs, OK and Cancel, and the settings they write.
#include "system/startdialog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/memory.h"
#include "base/strings.h"
#include "platform/d3d9/seam.h"
#include "platform/dinput/seam.h"
#include "platform/win32/msgbox.h"
#include "script/textpages.h"
#include "support/gamefolder.h"
#include "support/logcapture.h"
#include "support/story.h"
#include "support/videosupport.h"
#include "system/adapters.h"
#include "system/entry.h"
#include "system/input.h"
#include "system/settings.h"
#include "system/standin_fields.h"
#include "system/userpaths.h"
#include "system/video.h"
#include "system/window.h"

namespace fs = std::filesystem;

namespace {

using Texts = std::vector<std::pair<int32_t, std::string>>;

void MergePage(SE_Context* ctx, int32_t page, const Texts& texts) {
    std::vector<SB_TextImport> recs(texts.size());
    SB_TextImportList list{nullptr, nullptr};
    for (size_t i = 0; i < texts.size(); ++i) {
        recs[i] = SB_TextImport{nullptr, list.tail, texts[i].first, static_cast<uint32_t>(texts[i].second.size()),
                                texts[i].second.c_str()};
        (list.tail ? list.tail->next : list.head) = &recs[i];
        list.tail = &recs[i];
    }
    ASSERT_EQ(SB_MergeTextPage(ctx, 0, page, &list), 1);
}

// The steps a test takes in each dialog, by template; a dialog without steps is cancelled.
using Steps = std::map<int, std::function<void(HWND)>>;

class StartDialog : public VideoTestBase {
protected:
    void SetUp() override {
        VideoTestBase::SetUp();
        ASSERT_EQ(S_InitSystemSettings(), 1);
        userData_ = configDir + "/data";
        const char* old = std::getenv("XDG_DATA_HOME");
        oldData_ = old ? old : "";
        setenv("XDG_DATA_HOME", userData_.c_str(), 1);
        Qel_ForgetUserDataDir();
        MergePage(ctx_.get(), PAGE_START,
                  {{106, "Willkommen"},
                   {1, "Spielen"},
                   {2, "Beenden"},
                   {1216, "Trevan – Übersicht"},
                   {1217, "www.example.org/trevan"},
                   {1197, "Grafik"},
                   {1249, "Nach Updates suchen"}});
        MergePage(ctx_.get(), PAGE_GFX,
                  {{110, "Grafik"},
                   {10000, "niedrig"},
                   {10001, "mittel"},
                   {10002, "hoch"},
                   {11000, "2x"},
                   {11001, "4x"},
                   {11002, "6x"},
                   {11003, "8x"},
                   {12000, "2x"},
                   {12001, "4x"},
                   {12002, "8x"},
                   {12003, "16x"}});
        MergePage(ctx_.get(), PAGE_CAPTURE,
                  {{164, "Bildschirmfotos"},
                   {10000, "Ordner anlegen?"},
                   {10001, "Achtung"},
                   {10010, "Ordner nicht angelegt"},
                   {10011, "Fehler"}});
        MergePage(ctx_.get(), PAGE_ADJUST, {{10000, "schwach"}, {10001, "mittel"}, {10002, "stark"}});
        MergePage(ctx_.get(), PAGE_MOD, {{179, "Mod-Paket"}, {3, "Keines"}});
        boxes_ = &Win32_MessageBoxSeamReset();
        dinput_ = &DInput_SeamReset();
        Win32_DialogSeamReset();
    }
    void TearDown() override {
        Win32_DialogSeamReset();
        if (g_InputState) S_CloseIO();
        DInput_SeamDisable();
        if (g_ApplicationRecord.joyGUID) Int_FreeMem(g_ApplicationRecord.joyGUID, sizeof(GUID), 0);
        g_ApplicationRecord.joyGUID = nullptr;
        Qel_ForgetUserDataDir();
        setenv("XDG_DATA_HOME", oldData_.c_str(), 1);
        SB_FreeTexts(ctx_.get());
        VideoTestBase::TearDown();
    }

    // Installs a driver that runs the steps of each dialog and then presses its
    // cancel button (unless the steps ended it); returns the templates seen.
    void Drive(Steps steps) {
        steps_ = std::move(steps);
        Win32_DialogSeam().driver = [this](HWND dialog, int id) {
            seen_.push_back(id);
            if (auto it = steps_.find(id); it != steps_.end()) it->second(dialog);
            if (!Win32_DialogEnded(dialog)) Win32_DialogClick(dialog, id == DLG_GFX ? 1103 : IDCANCEL);
        };
    }

    static const DlgControlState& C(HWND dialog, int id) {
        const DlgControlState* c = Win32_DialogControl(dialog, id);
        EXPECT_NE(c, nullptr) << id;
        static const DlgControlState none{};
        return c ? *c : none;
    }
    static std::vector<std::string> Items(HWND dialog, int id) {
        std::vector<std::string> out;
        for (const DlgItemState& i : C(dialog, id).items) out.push_back(i.text);
        return out;
    }
    std::string StoreFile() const { return configDir + "/Veldrim/TrevanTest.reg"; }

    void SeamTwoAdapters() {
        SeamOneAdapter("first", 1280, 1024, {{1024, 768, 60}, {1280, 1024, 60}});
        SeamOneAdapter("second", 1280, 1024, {{1024, 768, 60}, {1280, 1024, 60}, {1600, 1200, 60}});
        for (D3D9SeamAdapter& a : g_D3D9Seam.adapters) {
            a.caps.TextureFilterCaps |= D3DPTFILTERCAPS_MINFANISOTROPIC;
            a.caps.MaxAnisotropy = 8;
        }
        g_D3D9Seam.checkMultiSample = [](UINT, D3DFORMAT, BOOL, D3DMULTISAMPLE_TYPE samples) {
            return samples <= 4 ? D3D_OK : D3DERR_NOTAVAILABLE;
        };
        ASSERT_EQ(S_EnumDevices(), 1);
    }

    TempGameFolder folder_;
    ScriptTestContext ctx_;
    Win32MessageBoxSeam* boxes_ = nullptr;
    DInputSeam* dinput_ = nullptr;
    Steps steps_;
    std::vector<int> seen_;
    std::string userData_, oldData_;
};

// ---------------------------------------------------------------- start

TEST_F(StartDialog, ShowsTheSettingsAndTheTextsOfItsPage) {
    state->SysProfilingFlags = SYSPROF_BENCHMARK;
    state->soundFlags |= 0x200;
    HWND seen = nullptr;
    Drive({{DLG_START, [&](HWND d) {
                seen = d;
                EXPECT_EQ(Win32_DialogCaption(d), "Willkommen");
                EXPECT_EQ(C(d, 1216).text, "Trevan – Übersicht");
                EXPECT_EQ(C(d, 1249).text, "Nach Updates suchen");
                EXPECT_EQ(C(d, 1199).text, "=TextIDNotFound=");
                EXPECT_TRUE(C(d, 1235).checked);
                EXPECT_FALSE(C(d, 1108).checked);
                EXPECT_TRUE(C(d, 1241).checked);
                EXPECT_FALSE(C(d, 1242).enabled);  // no mod package
                EXPECT_FALSE(Win32_DialogClick(d, 1242));
                EXPECT_EQ(C(d, 1234).image, nullptr);  // no about picture: the control stays empty
            }}});
    EXPECT_EQ(S_RunStartDialog(), 0);
    EXPECT_NE(seen, nullptr);
    EXPECT_FALSE(fs::exists(StoreFile()));  // cancel saves nothing

    folder_.Write("mods/extra.cat", "");
    Drive({{DLG_START, [&](HWND d) { EXPECT_TRUE(C(d, 1242).enabled); }}});
    EXPECT_EQ(S_RunStartDialog(), 0);
}

TEST_F(StartDialog, StartTakesTheBoxesAndSavesTheSettings) {
    state->SysProfilingFlags = 0x20;  // the box for it does not exist: cleared
    g_ApplicationRecord.modeFormat = D3DFMT_X8R8G8B8;
    Drive({{DLG_START, [&](HWND d) {
                Win32_DialogClick(d, 1235);
                Win32_DialogClick(d, 1241);
                Win32_DialogClick(d, IDOK);
            }}});
    EXPECT_EQ(S_RunStartDialog(), 1);
    EXPECT_EQ(state->SysProfilingFlags, SYSPROF_BENCHMARK);
    EXPECT_NE(state->soundFlags & 0x200, 0u);
    EXPECT_TRUE(fs::exists(StoreFile()));
    state->soundFlags &= ~0x200u;
    ASSERT_EQ(S_LoadRegistrySettings(), 1);
    EXPECT_NE(state->soundFlags & 0x200, 0u);
}

TEST_F(StartDialog, StartIgnoringTheLastSettingsDeletesThemAndRestoresTheDefaults) {
    state->width = 1600;
    state->height = 1200;
    ASSERT_EQ(S_SaveRegistrySettings(), 1);
    Drive({{DLG_START, [&](HWND d) {
                Win32_DialogClick(d, 1108);
                Win32_DialogClick(d, IDOK);
            }}});
    EXPECT_EQ(S_RunStartDialog(), 1);
    EXPECT_NE(state->SysProfilingFlags & SYSPROF_IGNORE_SETTINGS, 0u);
    EXPECT_EQ(state->width, 1024);
    EXPECT_EQ(state->height, 768);
    EXPECT_EQ(S_LoadRegistrySettings(), 0);  // the key is gone
}

TEST_F(StartDialog, EachSettingsButtonRunsItsDialogOverTheStartDialog) {
    folder_.Write("mods/extra.cat", "");
    SeamTwoAdapters();
    HWND start = nullptr;
    Drive({{DLG_START,
            [&](HWND d) {
                start = d;
                for (int id : {1197, 1199, 1201, 1242}) {
                    EXPECT_TRUE(Win32_DialogClick(d, id)) << id;
                    EXPECT_FALSE(Win32_DialogEnded(d)) << id;
                    EXPECT_EQ(g_ApplicationRecord.active, 1);
                }
            }},
           {DLG_GFX, [&](HWND d) {
                // Modal: the start dialog under it takes no clicks.
                EXPECT_FALSE(Win32_DialogClick(start, IDOK));
                EXPECT_EQ(g_ApplicationRecord.active, 0);
                EXPECT_EQ(Win32_OpenDialogs().size(), 2u);
                (void)d;
            }}});
    LogCapture log;
    EXPECT_EQ(S_RunStartDialog(), 0);
    EXPECT_EQ(seen_, (std::vector<int>{DLG_START, DLG_GFX, DLG_ADJUST, DLG_CAPTURE, DLG_MOD}));
    const std::string text = log.Text();
    size_t at = 0;
    for (const char* line : {"GFX-Dialog box ended\n", "Adjust-Dialog box ended\n", "Capture-Dialog box ended\n",
                             "Modname-Dialog box ended\n"}) {
        at = text.find(line, at);
        EXPECT_NE(at, std::string::npos) << line;
    }
    EXPECT_TRUE(Win32_OpenDialogs().empty());
}

// A page that opened ends the dialog; one that could not be opened is said so
// in a box, and the dialog stays for the player to start.
TEST_F(StartDialog, TheUpdatesButtonOpensTheAddressPage) {
    struct Case {
        bool fails;
        int result;
        bool stillOpen;
    } cases[] = {{false, 0, false}, {true, 0, true}};
    for (const Case& c : cases) {
        Win32_DialogSeamReset().openFails = c.fails;
        boxes_->shown.clear();
        bool open = false;
        Drive({{DLG_START, [&](HWND d) {
                    Win32_DialogClick(d, 1249);
                    open = !Win32_DialogEnded(d);
                }}});
        EXPECT_EQ(S_RunStartDialog(), c.result);
        EXPECT_EQ(open, c.stillOpen);
        EXPECT_EQ(Win32_DialogSeam().opened, std::vector<std::string>{"https://www.example.org/trevan"});
        ASSERT_EQ(boxes_->shown.size(), c.fails ? 1u : 0u);
        if (c.fails) {
            EXPECT_NE(boxes_->shown[0].text.find("could not be opened:\nhttps://www.example.org/trevan\n"),
                      std::string::npos)
                << boxes_->shown[0].text;
            EXPECT_EQ(boxes_->shown[0].caption, "Nach Updates suchen");
        }
    }
}

// The configuration names no update address: the button cannot be pressed.
TEST_F(StartDialog, WithoutAnAddressTheUpdatesButtonIsDisabled) {
    for (const char* address : std::initializer_list<const char*>{"", nullptr}) {
        if (address) MergePage(ctx_.get(), PAGE_START, {{1217, address}});
        else state->languageId = 1;  // no texts in this language
        bool enabled = true, clicked = true;
        Drive({{DLG_START, [&](HWND d) {
                    enabled = C(d, 1249).enabled;
                    clicked = Win32_DialogClick(d, 1249);
                }}});
        EXPECT_EQ(S_RunStartDialog(), 0);
        EXPECT_FALSE(enabled);
        EXPECT_FALSE(clicked);
        EXPECT_TRUE(Win32_DialogSeam().opened.empty());
    }
}

TEST_F(StartDialog, MessagesOfTheStartDialog) {
    g_SysStandIn.dialogWord = 0;
    g_ApplicationRecord.active = 1;
    Drive({{DLG_START, [&](HWND d) {
                SendMessageA(d, WM_USER + 1, 0, 0);
                EXPECT_EQ(g_SysStandIn.dialogWord, 12);
                // Without input running, activation changes nothing.
                Win32_DialogActivateApp(d, true);
                EXPECT_EQ(g_ApplicationRecord.active, 1);
                ASSERT_NE(S_InitIO(0x70200107), nullptr);
                const int before = DInput_SeamCallCount("Keyboard.SetCooperativeLevel");
                Win32_DialogActivateApp(d, true);
                EXPECT_EQ(g_ApplicationRecord.active, 0);
                EXPECT_EQ(DInput_SeamCallCount("Keyboard.SetCooperativeLevel"), before + 1);
            }}});
    S_RunStartDialog();
    g_SysStandIn.dialogWord = 0;
}

TEST_F(StartDialog, WithoutADisplayOrADriverItDoesNotWait) {
    // The tests' video driver shows nothing: the dialog cannot be shown.
    LogCapture log;
    EXPECT_EQ(S_RunStartDialog(), -1);
    EXPECT_TRUE(log.Contains("The start dialog could not be shown"));
}

// ---------------------------------------------------------------- graphics

TEST_F(StartDialog, GraphicsShowsTheStoredChoice) {
    SeamTwoAdapters();
    ApplicationRecord& app = g_ApplicationRecord;
    app.adapterName = Qel_StrReassign(app.adapterName, "second");
    app.adapterOrdinal = 1;
    app.modeFormat = D3DFMT_X8R8G8B8;
    state->width = 1600;
    state->height = 1200;
    state->videoFlags &= ~VIDEO_FLAG_WINDOWED;
    state->VideoD3DFlags |= 0x1;
    state->VideoD3DFlags2 = 0x200 | 0x800;
    state->textureQuality = 1;
    state->shaderQuality = 7;
    state->antialiasMode = 1;
    state->filterMode = 5;
    Drive({{DLG_GFX, [&](HWND d) {
                EXPECT_EQ(Win32_DialogCaption(d), "Grafik");
                EXPECT_EQ(Items(d, 1005), (std::vector<std::string>{"first", "second"}));
                EXPECT_EQ(C(d, 1005).selection, 1);
                EXPECT_EQ(Items(d, 1003),
                          (std::vector<std::string>{"1024 x 768 x 32", "1280 x 1024 x 32", "1600 x 1200 x 32"}));
                EXPECT_EQ(C(d, 1003).selection, 2);
                EXPECT_TRUE(C(d, 1096).checked);
                EXPECT_FALSE(C(d, 1095).checked);
                EXPECT_TRUE(C(d, 1222).checked);
                EXPECT_TRUE(C(d, 1006).enabled);
                EXPECT_EQ(Items(d, 1076), (std::vector<std::string>{"niedrig", "mittel", "hoch"}));
                EXPECT_EQ(C(d, 1076).selection, 1);
                EXPECT_EQ(C(d, 1245).selection, 2);  // 7 is no quality
                // Up to 4 samples: two antialias modes; anisotropy 8: three filter modes.
                EXPECT_EQ(Items(d, 1006), (std::vector<std::string>{"2x", "4x"}));
                EXPECT_EQ(C(d, 1006).selection, 1);
                EXPECT_EQ(Items(d, 1004), (std::vector<std::string>{"2x", "4x", "8x"}));
                EXPECT_EQ(C(d, 1004).selection, 0);  // 5 lies outside the list
                EXPECT_TRUE(C(d, 1241).checked);
                EXPECT_TRUE(C(d, 1004).enabled);
                EXPECT_FALSE(C(d, 1255).checked);
                EXPECT_TRUE(C(d, 1254).checked);
                EXPECT_FALSE(C(d, 1242).checked);
                EXPECT_FALSE(C(d, 1068).checked);
            }}});
    EXPECT_EQ(S_RunGfxDialog(nullptr), 0);
}

TEST_F(StartDialog, GraphicsListsFollowTheChoices) {
    SeamTwoAdapters();
    g_ApplicationRecord.adapterName = Qel_StrReassign(g_ApplicationRecord.adapterName, "second");
    g_ApplicationRecord.adapterOrdinal = 1;
    state->width = 1600;
    state->height = 1200;
    state->VideoD3DFlags2 = 0;
    Drive({{DLG_GFX, [&](HWND d) {
                EXPECT_EQ(C(d, 1003).selection, 2);
                // A stored mode the other adapter lacks: its first mode.
                Win32_DialogSelect(d, 1005, 0);
                EXPECT_EQ(C(d, 1003).items.size(), 2u);
                EXPECT_EQ(C(d, 1003).selection, 0);
                Win32_DialogSelect(d, 1005, 1);
                EXPECT_EQ(C(d, 1003).items.size(), 3u);
                EXPECT_EQ(C(d, 1003).selection, 2);
                // The window offers the desktop's sizes; antialiasing is for full screen only.
                Win32_DialogClick(d, 1222);
                EXPECT_TRUE(C(d, 1006).enabled);
                Win32_DialogClick(d, 1095);
                EXPECT_EQ(Items(d, 1003), (std::vector<std::string>{"1024 x 768 x 32", "1280 x 1024 x 32"}));
                EXPECT_FALSE(C(d, 1222).checked);
                EXPECT_FALSE(C(d, 1222).enabled);
                EXPECT_FALSE(C(d, 1006).enabled);
                Win32_DialogClick(d, 1096);
                EXPECT_TRUE(C(d, 1222).enabled);
                EXPECT_EQ(C(d, 1005).selection, 1);  // the adapter list was refilled too
                EXPECT_EQ(C(d, 1003).items.size(), 3u);
                // Anisotropic filtering switches its list and its flag at once.
                EXPECT_FALSE(C(d, 1004).enabled);
                Win32_DialogClick(d, 1241);
                EXPECT_TRUE(C(d, 1004).enabled);
                EXPECT_NE(state->VideoD3DFlags2 & 0x200, 0u);
            }}});
    EXPECT_EQ(S_RunGfxDialog(nullptr), 0);
}

TEST_F(StartDialog, GraphicsOkWritesTheChoiceAndResetRestoresTheDefaults) {
    SeamTwoAdapters();
    state->VideoD3DFlags2 = 0;
    state->VideoD3DFlags &= ~0x800001u;
    Drive({{DLG_GFX, [&](HWND d) {
                Win32_DialogSelect(d, 1005, 1);
                Win32_DialogSelect(d, 1003, 2);
                Win32_DialogSelect(d, 1076, 0);
                Win32_DialogSelect(d, 1245, 1);
                Win32_DialogClick(d, 1222);
                Win32_DialogSelect(d, 1006, 0);
                Win32_DialogClick(d, 1241);
                Win32_DialogSelect(d, 1004, 2);
                for (int id : {1068, 1242, 1255, 1254, 1256, 1258}) Win32_DialogClick(d, id);
                Win32_DialogClick(d, 1102);
            }}});
    EXPECT_EQ(S_RunGfxDialog(nullptr), 1);
    const ApplicationRecord& app = g_ApplicationRecord;
    EXPECT_EQ(app.adapterOrdinal, 1);
    EXPECT_STREQ(app.adapterName, "second");
    EXPECT_EQ(app.modeIndex, 2);
    EXPECT_EQ(app.modeFormat, D3DFMT_X8R8G8B8);
    EXPECT_EQ(state->width, 1600);
    EXPECT_EQ(state->height, 1200);
    EXPECT_EQ(state->depth, 32);
    EXPECT_EQ(state->videoFlags & VIDEO_FLAG_WINDOWED, 0u);
    EXPECT_EQ(state->textureQuality, 0);
    EXPECT_EQ(state->shaderQuality, 1);
    EXPECT_EQ(state->antialiasMode, 0);
    EXPECT_EQ(state->filterMode, 2);
    EXPECT_EQ(state->VideoD3DFlags & 0x800001u, 0x800001u);
    EXPECT_EQ(state->VideoD3DFlags2, 0x200u | 0x80 | 0x800 | 0x1000 | 0x2000 | 0x4000);

    // Cancel changes nothing; the reset shows the defaults again.
    Drive({{DLG_GFX, [&](HWND d) {
                Win32_DialogClick(d, 1101);
                EXPECT_EQ(C(d, 1005).selection, 0);
                EXPECT_EQ(C(d, 1003).selection, 0);
                EXPECT_EQ(C(d, 1076).selection, 2);
                EXPECT_EQ(state->width, 1024);
            }}});
    state->width = 1600;
    EXPECT_EQ(S_RunGfxDialog(nullptr), 0);
    EXPECT_STREQ(g_ApplicationRecord.adapterName, "first");
}

// ---------------------------------------------------------------- controller

class ControllerDialog : public StartDialog {
protected:
    void AddStick(uint8_t n, const char* name) {
        DISeamJoystick j;
        j.guid = GUID{0x20000000u + n, 1, 2, {1, 2, 3, 4, 5, 6, 7, n}};
        j.name = name;
        dinput_->joysticks.push_back(j);
    }
    void Store(uint8_t n) {
        g_ApplicationRecord.joyGUID = static_cast<GUID*>(Int_AllocMem(sizeof(GUID), 0));
        *g_ApplicationRecord.joyGUID = GUID{0x20000000u + n, 1, 2, {1, 2, 3, 4, 5, 6, 7, n}};
    }
};

TEST_F(ControllerDialog, AStoredJoystickShowsItsSettings) {
    AddStick(1, "Stick one");
    AddStick(2, "Stick two");
    Store(2);
    g_ApplicationRecord.ffGain = 1;
    state->inputFlags = 0x40000000 | 0x2000000;
    Drive({{DLG_ADJUST, [&](HWND d) {
                EXPECT_EQ(Items(d, 1076), (std::vector<std::string>{"Stick one", "Stick two"}));
                EXPECT_EQ(C(d, 1076).selection, 1);
                EXPECT_EQ(Items(d, 1172), (std::vector<std::string>{"schwach", "mittel", "stark"}));
                EXPECT_EQ(C(d, 1172).selection, 0);
                EXPECT_FALSE(C(d, 1185).checked);
                EXPECT_TRUE(C(d, 1186).checked);
                EXPECT_FALSE(C(d, 1188).checked);
                EXPECT_TRUE(C(d, 1241).checked);
                // Another stick starts from the defaults.
                Win32_DialogSelect(d, 1076, 0);
                EXPECT_EQ(C(d, 1172).selection, 2);
                EXPECT_TRUE(C(d, 1185).checked);
                EXPECT_TRUE(C(d, 1188).checked);
                EXPECT_FALSE(C(d, 1241).checked);
                Win32_DialogClick(d, 1188);
                Win32_DialogClick(d, IDOK);
            }}});
    EXPECT_EQ(S_RunAdjustDialog(nullptr), 1);
    ASSERT_NE(g_ApplicationRecord.joyGUID, nullptr);
    EXPECT_EQ(g_ApplicationRecord.joyGUID->Data1, 0x20000001u);
    EXPECT_EQ(g_ApplicationRecord.ffGain, 3);
    EXPECT_EQ(state->inputFlags, 0x20000000u | 0x40000000u);
}

TEST_F(ControllerDialog, WithoutAStoredJoystickTheDefaultsShowAndCancelKeepsAll) {
    AddStick(1, "Stick one");
    g_ApplicationRecord.ffGain = 1;
    state->inputFlags = 0;
    Drive({{DLG_ADJUST, [&](HWND d) {
                EXPECT_EQ(C(d, 1076).selection, 0);
                EXPECT_EQ(C(d, 1172).selection, 2);
                EXPECT_TRUE(C(d, 1185).checked);
            }}});
    EXPECT_EQ(S_RunAdjustDialog(nullptr), 0);
    EXPECT_EQ(g_ApplicationRecord.joyGUID, nullptr);
    EXPECT_EQ(g_ApplicationRecord.ffGain, 1);
    EXPECT_EQ(state->inputFlags, 0u);
}

TEST_F(ControllerDialog, WithoutDirectInputOkKeepsTheJoystickAndTheGain) {
    Store(5);
    g_ApplicationRecord.ffGain = 1;
    DInput_SeamFail(DISeamDevice::Interface, DISeamCall::Create, DIERR_GENERIC);
    Drive({{DLG_ADJUST, [&](HWND d) {
                EXPECT_FALSE(C(d, 1076).enabled);
                EXPECT_FALSE(C(d, 1172).enabled);
                EXPECT_TRUE(C(d, 1076).items.empty());
                Win32_DialogClick(d, IDOK);
            }}});
    EXPECT_EQ(S_RunAdjustDialog(nullptr), 1);
    ASSERT_NE(g_ApplicationRecord.joyGUID, nullptr);
    EXPECT_EQ(g_ApplicationRecord.joyGUID->Data1, 0x20000005u);
    EXPECT_EQ(g_ApplicationRecord.ffGain, 1);
}

// ---------------------------------------------------------------- screenshot folder

TEST_F(StartDialog, AFolderWithATrailingSlashIsMadeInTheUserFolderAndStoredWithoutIt) {
    Drive({{DLG_CAPTURE, [&](HWND d) {
                EXPECT_EQ(C(d, 1205).text, "screenshots");
                EXPECT_EQ(Win32_DialogCaption(d), "Bildschirmfotos");
                Win32_DialogType(d, 1205, "shots/");
                Win32_DialogClick(d, IDOK);
            }}});
    state->lastCaptureNumber = 5;
    EXPECT_EQ(S_RunCaptureDialog(nullptr), 1);
    EXPECT_STREQ(state->captureFolder, "shots");
    EXPECT_EQ(state->lastCaptureNumber, 0);
    ASSERT_EQ(boxes_->shown.size(), 1u);
    EXPECT_EQ(boxes_->shown[0].text, "Ordner anlegen?");
    EXPECT_EQ(boxes_->shown[0].caption, "Achtung");
    EXPECT_EQ(boxes_->shown[0].type, MB_YESNO | MB_ICONEXCLAMATION);
    char* user = Qel_GetUserDataDir();
    char* disk = Qel_DiskPath(user);
    EXPECT_TRUE(fs::is_directory(std::string(disk) + "/shots"));
    Qel_StrFree(disk);
    Qel_StrFree(user);
}

TEST_F(StartDialog, AFolderThatIsNotMadeKeepsTheDialogOpen) {
    const std::string existing = folder_.Path() + "/pictures";
    fs::create_directories(existing);
    struct Case {
        const char* typed;
        int answer;
        int boxes;
        bool endsOk;
        const char* stored;
    } cases[] = {
        {"later", IDNO, 1, false, "screenshots"},                  // not wanted
        {"/no/such/place/shots", IDYES, 2, false, "screenshots"},  // cannot be made
        {existing.c_str(), IDYES, 0, true, existing.c_str()},      // is there: no question
        {"", IDYES, 0, true, "screenshots"},                       // empty: nothing changes
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        boxes_ = &Win32_MessageBoxSeamReset();
        boxes_->answer = c.answer;
        bool ended = false;
        Drive({{DLG_CAPTURE, [&](HWND d) {
                    Win32_DialogType(d, 1205, c.typed);
                    Win32_DialogClick(d, IDOK);
                    ended = Win32_DialogEnded(d);
                }}});
        LogCapture log;
        EXPECT_EQ(S_RunCaptureDialog(nullptr), 1);  // cancel ends with 1 too
        EXPECT_EQ(ended, c.endsOk);
        EXPECT_EQ(static_cast<int>(boxes_->shown.size()), c.boxes);
        EXPECT_STREQ(state->captureFolder, c.stored);
        if (c.boxes == 2) {
            EXPECT_TRUE(log.Contains("Failed to create capture directory\n"));
            // Which folder and why, and the box sends the player to the log.
            EXPECT_TRUE(
                log.Contains("Folder /no/such/place/shots (/no/such/place/shots): cannot make it: No such file "
                             "or directory\n"))
                << log.Text();
            EXPECT_EQ(boxes_->shown[1].text,
                      "Ordner nicht angelegt\n\nThe log (standard error) says what failed and where.");
            EXPECT_EQ(boxes_->shown[1].type, MB_OK | MB_ICONERROR);
        }
        state->captureFolder = Qel_StrReassign(state->captureFolder, "screenshots");
    }
}

// ---------------------------------------------------------------- mod package

TEST_F(StartDialog, ModPackagesAreListedAndChosen) {
    folder_.Write("mods/Extra.cat", "");
    folder_.Write("mods/other.cat", "");
    folder_.Write("mods/notes.txt", "");
    state->modName = Qel_StrReassign(state->modName, "extra");
    Drive({{DLG_MOD, [&](HWND d) {
                std::vector<std::string> items = Items(d, 1243);
                std::sort(items.begin(), items.end());
                EXPECT_EQ(items, (std::vector<std::string>{"Extra", "other"}));
                EXPECT_EQ(C(d, 1243).items[static_cast<size_t>(C(d, 1243).selection)].text, "Extra");
                EXPECT_EQ(C(d, 3).text, "Keines");
                EXPECT_EQ(Win32_DialogCaption(d), "Mod-Paket");
            }}});
    EXPECT_EQ(S_RunModDialog(nullptr), 1);  // cancel keeps the name
    EXPECT_STREQ(state->modName, "extra");

    Drive({{DLG_MOD, [&](HWND d) {
                Win32_DialogClick(d, 3);
                EXPECT_EQ(C(d, 1243).selection, -1);
                Win32_DialogClick(d, IDOK);
            }}});
    EXPECT_EQ(S_RunModDialog(nullptr), 1);
    EXPECT_EQ(state->modName, nullptr);

    Drive({{DLG_MOD, [&](HWND d) {
                for (size_t i = 0; i < C(d, 1243).items.size(); ++i)
                    if (C(d, 1243).items[i].text == "other") Win32_DialogSelect(d, 1243, static_cast<int>(i));
                Win32_DialogClick(d, IDOK);
            }}});
    EXPECT_EQ(S_RunModDialog(nullptr), 1);
    EXPECT_STREQ(state->modName, "other");
}

// ---------------------------------------------------------------- texts

TEST(DialogTexts, ConversionAndMessageBoxes) {
    EXPECT_STREQ(S_Utf8ToAnsi("Grüße"), "Grüße");
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"a\xff"
         "b\xc3",
         "a?b?"},                 // no lead byte; a lead byte without its continuation
        {"\xc0\xaf", "??"},       // overlong '/'
        {"\xed\xa0\x80", "???"},  // a surrogate
        {"\xf4\x90\x80\x80", "????"},
        {"\xf0\x9f\x9a\x80", "\xf0\x9f\x9a\x80"},  // a rocket stays
    };
    for (const Case& c : cases) EXPECT_STREQ(S_Utf8ToAnsi(c.in), c.out) << c.in;
    EXPECT_STREQ(S_Utf8ToAnsi(nullptr), "");
    // Text and caption each keep their own text.
    Win32MessageBoxSeam& boxes = Win32_MessageBoxSeamReset();
    S_MessageBoxUtf8("Der Ordner fehlt.", nullptr, "Größe", MB_OK);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Der Ordner fehlt.");
    EXPECT_EQ(boxes.shown[0].caption, "Größe");
}

}  // namespace
