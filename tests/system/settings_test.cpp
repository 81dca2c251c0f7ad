// Registry settings: defaults, the save/load round trip through the file store,
// partial and damaged stores, the "Values" subkey, exit, and the memory probes.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/memory.h"
#include "base/strings.h"
#include "platform/d3d9/ddraw.h"
#include "platform/win32/memory.h"
#include "platform/win32/registry.h"
#include "support/logcapture.h"
#include "support/videosupport.h"
#include "system/entry.h"
#include "system/settings.h"

namespace fs = std::filesystem;

namespace {

class Settings : public VideoTestBase {
protected:
    void SetUp() override {
        VideoTestBase::SetUp();
        ASSERT_EQ(S_InitSystemSettings(), 1);
    }
    std::string StoreFile() const { return configDir + "/Veldrim/TrevanTest.reg"; }

    HKEY OpenApp() {
        HKEY key = 0;
        EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Veldrim\\TrevanTest", 0, nullptr, 0, KEY_WRITE, nullptr,
                                  &key, nullptr),
                  ERROR_SUCCESS);
        return key;
    }
    void PutDword(HKEY key, const char* name, uint32_t v) {
        ASSERT_EQ(RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4), ERROR_SUCCESS);
    }
};

TEST_F(Settings, FirstStartKeepsTheDefaults) {
    EXPECT_EQ(state->width, 1024);
    EXPECT_EQ(state->height, 768);
    EXPECT_EQ(state->depth, 32);
    EXPECT_EQ(state->VideoD3DFlags, 0x4213AD5Eu);
    EXPECT_EQ(state->VideoD3DFlags2, 0x81u);
    EXPECT_EQ(state->videoFlags, 0x100u);
    EXPECT_EQ(state->inputFlags, 0x70200107u);
    EXPECT_EQ(state->keyMapping[0], 0x20021u);
    EXPECT_EQ(state->keyMapping[15], 0x1000000u);
    EXPECT_EQ(state->keyMapping[16], 0u);
    EXPECT_NE(state->soundFlags & 0x100, 0u);
    EXPECT_EQ(state->Num3DSounds, 6);
    EXPECT_STREQ(state->defaultProfile, "default");
    EXPECT_STREQ(state->captureFolder, "screenshots");
    EXPECT_EQ(g_ApplicationRecord.adapterOrdinal, -1);
    EXPECT_EQ(g_ApplicationRecord.waveFormat.nAvgBytesPerSec, 176400u);
    EXPECT_EQ(g_ApplicationRecord.speakerConfig, 4u);
    EXPECT_EQ(g_ApplicationRecord.joyGUID, nullptr);
    // The owner comes from the account, as "RegisteredOwner" would.
    EXPECT_GT(std::strlen(state->ownerName), 0u);
    // No key yet: the load fails and nothing changes.
    EXPECT_EQ(S_LoadRegistrySettings(), 0);
    EXPECT_EQ(state->width, 1024);
    EXPECT_FALSE(fs::exists(StoreFile()));
}

TEST_F(Settings, DerivedDirect3DFlags) {
    state->d3dBaseFlags = 0x1;
    S_SetDefaultD3DFlags();
    EXPECT_EQ(state->d3dFlags[0], 0x80002Du);
    EXPECT_EQ(state->d3dFlags[1], 0x800000u);
    EXPECT_EQ(state->d3dFlags[2], 0x800835u);
    EXPECT_EQ(state->d3dFlags[3], 0x800830u);
    EXPECT_EQ(state->d3dFlags[4], 0x81006Du);  // no display list: 0x40 added
    EXPECT_EQ(state->d3dFlags[5], 0x810025u);
}

TEST_F(Settings, SaveAndLoadRoundTrip) {
    ApplicationRecord& app = g_ApplicationRecord;
    app.adapterName = Qel_StrDup("Seam Adapter");
    app.adapterOrdinal = 1;
    app.modeFormat = 22;  // X8R8G8B8
    state->width = 1280;
    state->height = 1024;
    state->depth = 16;
    state->textureQuality = 1;
    state->shaderQuality = 0;
    state->antialiasMode = 3;
    state->filterMode = 2;
    state->videoFlags = 0x8000100;
    state->VideoD3DFlags = 0x1234;
    state->VideoD3DFlags2 = 0x3A81;
    state->fullscreenGamma = 99;
    state->inputFlags = 0x55;
    app.joyGUID = static_cast<GUID*>(Int_AllocMem(sizeof(GUID), 0));
    *app.joyGUID = {0x11223344, 0x5566, 0x7788, {1, 2, 3, 4, 5, 6, 7, 8}};
    app.ffGain = 7;
    app.joyDeadzone = 30;
    app.joySensitivity = 40;
    for (int i = 0; i < 30; ++i) state->keyMapping[i] = 0x1000u + static_cast<uint32_t>(i);
    state->logoPictureNum = 3;
    std::strcpy(state->logoPictureName, "logo");
    state->modName = Qel_StrDup("bigmod");
    state->soundFlags = 0x303;
    app.waveFormat = {1, 1, 22050, 44100, 2, 16, 0};
    app.speakerConfig = 2;
    state->modVolume = 1;
    state->fxVolume = 2;
    state->voiceVolume = 3;
    state->masterVolume = 4;
    state->Num3DSounds = 12;
    state->lowerFpsLimit = 10.9;  // stored truncated
    state->upperFpsLimit = 30.0;
    state->gameState = 5;
    std::strcpy(state->defaultProfile, "pilot");
    state->gameStarts = 42;
    state->captureFolder = Qel_StrReassign(state->captureFolder, "shots");
    ASSERT_EQ(S_SaveRegistrySettings(), 1);
    EXPECT_TRUE(fs::exists(StoreFile()));
    EXPECT_EQ(std::distance(fs::directory_iterator(configDir + "/Veldrim"), fs::directory_iterator()), 1);

    S_SetDefaultSettings();
    ASSERT_EQ(S_LoadRegistrySettings(), 1);
    EXPECT_STREQ(app.adapterName, "Seam Adapter");
    EXPECT_EQ(app.adapterOrdinal, 1);
    EXPECT_EQ(app.modeFormat, 22u);
    EXPECT_EQ(state->depth, 32);  // from the mode's format
    EXPECT_EQ(state->width, 1280);
    EXPECT_EQ(state->height, 1024);
    EXPECT_EQ(state->textureQuality, 1);
    EXPECT_EQ(state->shaderQuality, 0);
    EXPECT_EQ(state->antialiasMode, 3);
    EXPECT_EQ(state->filterMode, 2);
    EXPECT_EQ(state->videoFlags, 0x8000100u);
    EXPECT_EQ(state->VideoD3DFlags, 0x1234u);
    EXPECT_EQ(state->VideoD3DFlags2, 0x3A81u);
    EXPECT_EQ(state->fullscreenGamma, 99);
    EXPECT_EQ(state->inputFlags, 0x55u);
    ASSERT_NE(app.joyGUID, nullptr);
    EXPECT_EQ(app.joyGUID->Data1, 0x11223344u);
    EXPECT_EQ(app.joyGUID->Data4[7], 8);
    EXPECT_EQ(app.ffGain, 7);
    EXPECT_EQ(app.joyDeadzone, 30);
    EXPECT_EQ(app.joySensitivity, 40);
    EXPECT_EQ(state->keyMapping[29], 0x101Du);
    EXPECT_EQ(state->logoPictureNum, 3);
    EXPECT_STREQ(state->logoPictureName, "logo");
    EXPECT_STREQ(state->modName, "bigmod");
    EXPECT_EQ(state->soundFlags, 0x303u);
    EXPECT_EQ(app.waveFormat.nSamplesPerSec, 22050u);
    EXPECT_EQ(app.waveFormat.nBlockAlign, 2);
    EXPECT_EQ(app.speakerConfig, 2u);
    EXPECT_EQ(app.soundDeviceGUID, nullptr);  // written as zeros: none
    EXPECT_EQ(state->masterVolume, 4);
    EXPECT_EQ(state->Num3DSounds, 12);
    EXPECT_EQ(state->lowerFpsLimit, 10.0);
    EXPECT_EQ(state->upperFpsLimit, 30.0);
    EXPECT_EQ(state->gameState, 5);
    EXPECT_STREQ(state->defaultProfile, "pilot");
    EXPECT_EQ(state->gameStarts, 42);
    EXPECT_STREQ(state->captureFolder, "shots");

    // "DefaultProfile" is stored with its terminator.
    HKEY key = 0;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "software\\veldrim\\trevantest", 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "defaultprofile", nullptr, &type, nullptr, &size), ERROR_MORE_DATA);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 6u);
    RegCloseKey(key);
}

TEST_F(Settings, ZeroVideoModeFailsTheVideoGroupOnly) {
    g_ApplicationRecord.adapterName = Qel_StrDup("Seam Adapter");
    state->Num3DSounds = 9;
    state->width = 1280;
    ASSERT_EQ(S_SaveRegistrySettings(), 1);  // mode format 0 is stored as 0
    S_SetDefaultSettings();
    EXPECT_EQ(S_LoadRegistrySettings(), 0);
    EXPECT_EQ(g_ApplicationRecord.adapterName, nullptr);
    EXPECT_EQ(state->width, 1280);  // the other video values are still taken
    // ...and so are the input, audio and other groups.
    EXPECT_EQ(state->Num3DSounds, 9);
}

TEST_F(Settings, PartialStoresKeepWhatIsMissing) {
    HKEY key = OpenApp();
    uint8_t words[40];
    for (int i = 0; i < 40; ++i) words[i] = static_cast<uint8_t>(i == 0 ? 0x77 : 0);
    ASSERT_EQ(RegSetValueExA(key, "InputKeymapping", 0, REG_BINARY, words, 40), ERROR_SUCCESS);
    uint8_t pattern[16];
    std::memset(pattern, 0x2A, 16);
    ASSERT_EQ(RegSetValueExA(key, "InputJoyGUID", 0, REG_BINARY, pattern, 16), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "ModName", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1), ERROR_SUCCESS);
    RegCloseKey(key);
    state->keyMapping[12] = 0xABCD;
    state->modName = Qel_StrDup("old");
    EXPECT_EQ(S_LoadRegistrySettings(), 0);  // the video values are missing
    EXPECT_EQ(state->keyMapping[0], 0x77u);
    EXPECT_EQ(state->keyMapping[9], 0u);
    EXPECT_EQ(state->keyMapping[12], 0xABCDu);        // words past the stored 10 stay
    ASSERT_NE(g_ApplicationRecord.joyGUID, nullptr);  // the 0x2A pattern is a GUID
    EXPECT_EQ(g_ApplicationRecord.joyGUID->Data1, 0x2A2A2A2Au);
    EXPECT_EQ(state->modName, nullptr);  // an empty value clears the mod
}

TEST_F(Settings, DamagedStoreIsReadAsFarAsItGoes) {
    fs::create_directories(configDir + "/Veldrim");
    std::ofstream(StoreFile()) << "key \"\"\nvalue \"GameStarts\" 4 07000000\nvalue \"Broken\" 4 0Z\n"
                               << "value \"AudioNum3DSounds\" 4 0A000000\ngarbage line\nvalue \"unterminated";
    EXPECT_EQ(S_LoadRegistrySettings(), 0);
    EXPECT_EQ(state->gameStarts, 7);
    EXPECT_EQ(state->Num3DSounds, 10);
}

TEST_F(Settings, FailedWriteEndsTheSave) {
    ASSERT_EQ(S_SaveRegistrySettings(), 1);  // the key exists now
    g_Win32RegistrySeam.failWrites = 1;      // the first value cannot be written
    EXPECT_EQ(S_SaveRegistrySettings(), 0);
    LogCapture capture;
    g_Win32RegistrySeam.failWrites = 1;
    S_ExitSystemSettings(0);
    EXPECT_NE(capture.Take().find("Couldn't save registry settings."), std::string::npos);
    EXPECT_EQ(g_Win32RegistrySeam.failWrites, 0);
    EXPECT_EQ(g_Win32RegistrySeam.openKeys, 0);
}

TEST_F(Settings, TheSaveWritesTheStoreOnce) {
    const int writes = g_Win32RegistrySeam.fileWrites;
    ASSERT_EQ(S_SaveRegistrySettings(), 1);
    EXPECT_EQ(g_Win32RegistrySeam.fileWrites, writes + 1);
}

TEST_F(Settings, ValuesSubkey) {
    EXPECT_EQ(S_RegReadIntValue("never"), 0);
    EXPECT_EQ(S_RegReadStringValue("never"), nullptr);
    EXPECT_EQ(S_RegReadStringValue(nullptr), nullptr);
    EXPECT_EQ(S_RegSaveIntValue(nullptr, 1), 0);
    ASSERT_EQ(S_RegSaveIntValue("Score", -5), 1);
    EXPECT_EQ(S_RegReadIntValue("score"), -5);
    std::string longText(2000, 'x');
    ASSERT_EQ(S_RegSaveStringValue("Long", longText.c_str()), 1);
    char* text = S_RegReadStringValue("Long");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text), longText);
    Qel_StrFree(text);
    ASSERT_EQ(S_RegSaveStringValue("Empty", ""), 1);
    EXPECT_EQ(S_RegReadStringValue("Empty"), nullptr);
    EXPECT_EQ(S_RegReadStringValue("Score"), nullptr);  // not a string
    EXPECT_EQ(g_Win32RegistrySeam.openKeys, 0);
}

TEST_F(Settings, ExitSavesUnlessTold) {
    state->gameStarts = 3;
    g_ApplicationRecord.joyGUID = static_cast<GUID*>(Int_AllocMem(sizeof(GUID), 0));
    *g_ApplicationRecord.joyGUID = {1, 2, 3, {4}};
    S_ExitSystemSettings(0);
    EXPECT_EQ(g_ApplicationRecord.joyGUID, nullptr);
    S_SetDefaultSettings();
    S_LoadRegistrySettings();
    EXPECT_EQ(state->gameStarts, 3);
    ASSERT_NE(g_ApplicationRecord.joyGUID, nullptr);  // saved before it was freed
    EXPECT_EQ(g_ApplicationRecord.joyGUID->Data1, 1u);

    state->gameStarts = 8;
    state->SysProfilingFlags = SYSPROF_NO_SAVE;
    S_ExitSystemSettings(0);
    state->SysProfilingFlags = 0;
    S_LoadRegistrySettings();
    EXPECT_EQ(state->gameStarts, 3);

    S_ExitSystemSettings(35);  // deletes the key
    EXPECT_FALSE(fs::exists(StoreFile()));
    EXPECT_EQ(S_LoadCaptureFolder(), 0);
}

TEST_F(Settings, PhysicalMemoryRoundsUpTo16MB) {
    g_Win32MemorySeam.statusOverridden = true;
    struct Case {
        uint64_t bytes;
        uint32_t mb;
    };
    for (Case c : {Case{512ull << 20, 512}, Case{(512ull << 20) + 1, 528}, Case{24ull << 30, 24576},
                   Case{4ull << 30, 4096}, Case{(24ull << 30) - (300ull << 20) - 5, 24288}, Case{~0ull, 0x40000000}}) {
        g_Win32MemorySeam.status.dwTotalPhys = c.bytes;
        EXPECT_EQ(S_GetPhysicalMemoryMB(), c.mb) << c.bytes;
    }
    g_Win32MemorySeam.statusOverridden = false;
}

TEST_F(Settings, VideoMemoryProbeRoundsTheSmallestTotal) {
    struct Case {
        DWORD totals[4];
        uint32_t mb;
    };
    const uint32_t MB = 1u << 20;
    const Case cases[] = {
        {{0, 0, 0, 0}, 4095},     {{100 * MB, 0, 0, 0}, 128}, {{100 * MB, 60 * MB, 200 * MB, 0}, 64},
        {{0, 20 * MB, 0, 0}, 32}, {{0, 0, 0, 10 * MB}, 16},   {{0xFFFFFFFFu, 0, 0, 0}, 4095},
    };
    for (const Case& c : cases) {
        std::memcpy(g_DDrawSeam.totals, c.totals, sizeof c.totals);
        EXPECT_EQ(S_GetVideoMemoryMB(), c.mb);
    }
    g_DDrawSeam = DDrawSeam{};
    g_DDrawSeam.missingLibrary = true;
    EXPECT_EQ(S_GetVideoMemoryMB(), 4095u);
    g_DDrawSeam = DDrawSeam{};
    g_DDrawSeam.missingEntry = true;
    EXPECT_EQ(S_GetVideoMemoryMB(), 0u);
    g_DDrawSeam = DDrawSeam{};
}

}  // namespace
