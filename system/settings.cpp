// Registry settings: defaults, load at start, save at exit, the story's free-form
// "Values" subkey, and the physical and video memory probes.
#include "system/settings.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/general.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/strings.h"
#include "platform/d3d9/d3d9.h"
#include "platform/d3d9/ddraw.h"
#include "platform/win32/memory.h"
#include "platform/win32/registry.h"
#include "system/adapters.h"
#include "system/clock.h"
#include "system/entry.h"
#include "system/video.h"

static const uint32_t kDefaultKeyMapping[16] = {0x20021,  0x40,     0x400,     0x180000, 0x8800, 0x1000,
                                                0x40082,  0x4000,   0x200,     0x100,    0x2010, 0,
                                                0x400000, 0x800000, 0x2000000, 0x1000000};

static const char* AppName() {
    return g_SystemState && g_SystemState->app && g_SystemState->app->appName ? g_SystemState->app->appName : "";
}

static void KeyName(char* out, size_t size, const char* subKey) {
    if (subKey) snprintf(out, size, "Software\\Veldrim\\%s\\%s", AppName(), subKey);
    else snprintf(out, size, "Software\\Veldrim\\%s", AppName());
}

static GUID* FreeGuid(GUID* guid) {
    if (guid) Int_FreeMem(guid, sizeof(GUID), 0);
    return nullptr;
}

// ---------------------------------------------------------------- value helpers

static bool ReadBytes(HKEY key, const char* name, void* out, DWORD size, DWORD* got = nullptr) {
    DWORD n = size;
    if (RegQueryValueExA(key, name, nullptr, nullptr, static_cast<BYTE*>(out), &n) != ERROR_SUCCESS) return false;
    if (got) *got = n;
    return true;
}

// Reads a number stored in 4 bytes.
static bool ReadDword(HKEY key, const char* name, int32_t* out) {
    uint8_t b[4] = {0, 0, 0, 0};
    DWORD got = 0;
    if (!ReadBytes(key, name, b, 4, &got)) return false;
    *out = static_cast<int32_t>(b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24));
    return true;
}

// Reads a string into a fixed buffer, always terminated; the byte count read, or -1.
static int ReadString(HKEY key, const char* name, char* buffer, DWORD size) {
    DWORD got = size - 1;
    if (!ReadBytes(key, name, buffer, size - 1, &got)) return -1;
    buffer[got] = 0;
    return static_cast<int>(got);
}

static void PutWord(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

static uint32_t GetWord(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

static bool WriteDword(HKEY key, const char* name, int32_t value) {
    uint8_t b[4];
    PutWord(b, static_cast<uint32_t>(value));
    return RegSetValueExA(key, name, 0, REG_DWORD, b, 4) == ERROR_SUCCESS;
}

static bool WriteBinary(HKEY key, const char* name, const void* data, DWORD size) {
    return RegSetValueExA(key, name, 0, REG_BINARY, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
}

static bool WriteFlags(HKEY key, const char* name, uint32_t value) {
    uint8_t b[4];
    PutWord(b, value);
    return WriteBinary(key, name, b, 4);
}

static bool WriteString(HKEY key, const char* name, const char* text) {
    const char* t = text ? text : "";
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(t), static_cast<DWORD>(strlen(t) + 1)) ==
           ERROR_SUCCESS;
}

// A GUID value: taken only when not all zero, into a new 16-byte block.
static void ReadGuid(HKEY key, const char* name, GUID** slot) {
    uint8_t b[16];
    DWORD got = 0;
    if (!ReadBytes(key, name, b, 16, &got) || got < 16) return;
    bool zero = true;
    for (uint8_t v : b) zero = zero && v == 0;
    if (zero) return;
    GUID* guid = *slot ? *slot : static_cast<GUID*>(Int_AllocMem(sizeof(GUID), 0));
    if (!guid) return;
    guid->Data1 = GetWord(b);
    guid->Data2 = static_cast<uint16_t>(b[4] | (b[5] << 8));
    guid->Data3 = static_cast<uint16_t>(b[6] | (b[7] << 8));
    std::memcpy(guid->Data4, b + 8, 8);
    *slot = guid;
}

// A missing GUID is written as zeros, which reads back as "none".
static bool WriteGuid(HKEY key, const char* name, const GUID* guid) {
    uint8_t b[16] = {};
    if (guid) {
        PutWord(b, guid->Data1);
        b[4] = static_cast<uint8_t>(guid->Data2);
        b[5] = static_cast<uint8_t>(guid->Data2 >> 8);
        b[6] = static_cast<uint8_t>(guid->Data3);
        b[7] = static_cast<uint8_t>(guid->Data3 >> 8);
        std::memcpy(b + 8, guid->Data4, 8);
    }
    return WriteBinary(key, name, b, 16);
}

static void PackWaveFormat(uint8_t* b, const WAVEFORMATEX& w) {
    b[0] = static_cast<uint8_t>(w.wFormatTag);
    b[1] = static_cast<uint8_t>(w.wFormatTag >> 8);
    b[2] = static_cast<uint8_t>(w.nChannels);
    b[3] = static_cast<uint8_t>(w.nChannels >> 8);
    PutWord(b + 4, w.nSamplesPerSec);
    PutWord(b + 8, w.nAvgBytesPerSec);
    b[12] = static_cast<uint8_t>(w.nBlockAlign);
    b[13] = static_cast<uint8_t>(w.nBlockAlign >> 8);
    b[14] = static_cast<uint8_t>(w.wBitsPerSample);
    b[15] = static_cast<uint8_t>(w.wBitsPerSample >> 8);
    b[16] = static_cast<uint8_t>(w.cbSize);
    b[17] = static_cast<uint8_t>(w.cbSize >> 8);
}

static void UnpackWaveFormat(const uint8_t* b, WAVEFORMATEX* w) {
    w->wFormatTag = static_cast<uint16_t>(b[0] | (b[1] << 8));
    w->nChannels = static_cast<uint16_t>(b[2] | (b[3] << 8));
    w->nSamplesPerSec = GetWord(b + 4);
    w->nAvgBytesPerSec = GetWord(b + 8);
    w->nBlockAlign = static_cast<uint16_t>(b[12] | (b[13] << 8));
    w->wBitsPerSample = static_cast<uint16_t>(b[14] | (b[15] << 8));
    w->cbSize = static_cast<uint16_t>(b[16] | (b[17] << 8));
}

static void SetDefaultWaveFormat() { g_ApplicationRecord.waveFormat = {1, 2, 44100, 176400, 4, 16, 0}; }

// ---------------------------------------------------------------- defaults

void S_SetDefaultD3DFlags() {
    SystemState* s = g_SystemState;
    if (!s) return;
    uint32_t base = s->d3dBaseFlags;
    s->d3dFlags[0] = base | 0x80002C;
    s->d3dFlags[1] = 0x800000;
    s->d3dFlags[2] = base | 0x800834;
    s->d3dFlags[3] = 0x800830;
    s->d3dFlags[4] = base | 0x81002C;
    if (!(g_VideoRecord && (g_VideoRecord->flags & VIDEO_FLAG_BACKBUFFER))) s->d3dFlags[4] |= 0x40;
    s->d3dFlags[5] = base | 0x810024;
}

int S_SetDefaultVideoSettings() {
    SystemState* s = g_SystemState;
    g_ApplicationRecord.adapterName = Qel_StrFree(g_ApplicationRecord.adapterName);
    g_ApplicationRecord.adapterOrdinal = -1;
    g_ApplicationRecord.modeFormat = 0;
    if (!s) return 1;
    s->width = 1024;
    s->height = 768;
    s->depth = 32;
    s->textureQuality = 2;
    s->shaderQuality = 2;
    s->antialiasMode = -1;
    s->filterMode = -1;
    s->videoFlags = 0x100;
    s->VideoD3DFlags = 0x4213AD5E;
    s->VideoD3DFlags2 = 0x81;
    s->fullscreenGamma = 127;
    return 1;
}

int S_SetDefaultCaptureFolder() {
    SystemState* s = g_SystemState;
    if (!s) return 1;
    const char* folder = s->app && s->app->captureFolder ? s->app->captureFolder : nullptr;
    s->captureFolder = folder ? Qel_StrReassign(s->captureFolder, folder) : Qel_StrFree(s->captureFolder);
    return 1;
}

// The owner name comes from the machine's "RegisteredOwner"; missing leaves it unset.
static void ReadOwnerName() {
    HKEY key = 0;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return;
    DWORD size = 0;
    if (RegQueryValueExA(key, "RegisteredOwner", nullptr, nullptr, nullptr, &size) == ERROR_MORE_DATA && size > 0) {
        char* buffer = static_cast<char*>(Int_AllocMem(size + 1, 0));
        if (buffer) {
            DWORD got = size;
            if (RegQueryValueExA(key, "RegisteredOwner", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &got) ==
                ERROR_SUCCESS) {
                buffer[got < size ? got : size] = 0;
                snprintf(g_SystemState->ownerName, sizeof g_SystemState->ownerName, "%s", buffer);
            }
            Int_FreeMem(buffer, size + 1, 0);
        }
    }
    RegCloseKey(key);
}

int S_SetDefaultSettings() {
    S_SetDefaultVideoSettings();
    SystemState* s = g_SystemState;
    ApplicationRecord& app = g_ApplicationRecord;
    S_SetDefaultCaptureFolder();
    app.joyGUID = FreeGuid(app.joyGUID);
    app.ffGain = 2;
    app.joyDeadzone = 20;
    app.joySensitivity = 20;
    SetDefaultWaveFormat();
    app.speakerConfig = 4;
    app.soundDeviceGUID = FreeGuid(app.soundDeviceGUID);
    if (!s) return 1;
    s->inputFlags = 0x70200107;
    std::memcpy(s->keyMapping, kDefaultKeyMapping, sizeof kDefaultKeyMapping);
    s->logoPictureNum = 0;
    s->logoPictureName[0] = 0;
    s->modName = Qel_StrFree(s->modName);
    s->soundFlags |= 0x100;
    s->modVolume = 215;
    s->fxVolume = 255;
    s->voiceVolume = 205;
    s->masterVolume = 255;
    s->Num3DSounds = 6;
    s->lowerFpsLimit = 10.0;
    s->upperFpsLimit = 25.0;
    s->gameState = 63;
    snprintf(s->defaultProfile, sizeof s->defaultProfile, "%s", "default");
    s->gameStarts = 0;
    ReadOwnerName();
    return 1;
}

int S_InitSystemSettings() {
    SystemState* s = g_SystemState;
    if (s) {
        s->soundFlags |= 0x100;
        s->d3dBaseFlags = 0;
    }
    S_SetDefaultD3DFlags();
    SetDefaultWaveFormat();
    g_ApplicationRecord.speakerConfig = 4;
    g_ApplicationRecord.soundDeviceGUID = FreeGuid(g_ApplicationRecord.soundDeviceGUID);
    if (s) s->SysProfilingFlags = 0;
    S_SetDefaultSettings();
    S_InitTimer();
    return 1;
}

// ---------------------------------------------------------------- loading

static HKEY OpenSettingsKey(const char* subKey, DWORD access) {
    char name[300];
    KeyName(name, sizeof name, subKey);
    HKEY key = 0;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, name, 0, access, &key) != ERROR_SUCCESS) return 0;
    return key;
}

int S_LoadCaptureFolder() {
    HKEY key = OpenSettingsKey(nullptr, KEY_READ);
    if (!key) return 0;
    char buffer[500];
    int n = ReadString(key, "CaptureFolder", buffer, sizeof buffer);
    if (n >= 2 && g_SystemState) g_SystemState->captureFolder = Qel_StrReassign(g_SystemState->captureFolder, buffer);
    RegCloseKey(key);
    return 1;
}

int S_LoadVideoSettings() {
    SystemState* s = g_SystemState;
    if (!s) return 0;
    HKEY key = OpenSettingsKey(nullptr, KEY_READ);
    if (!key) return 0;
    ApplicationRecord& app = g_ApplicationRecord;
    bool ok = true;
    char buffer[500];
    // The name is written only when an adapter was chosen: its absence is no failure.
    if (ReadString(key, "VideoAdapterName", buffer, sizeof buffer) >= 1 && buffer[0])
        app.adapterName = Qel_StrReassign(app.adapterName, buffer);
    int32_t v;
    if (ReadDword(key, "VideoAdapterOrdinal", &v)) app.adapterOrdinal = v;
    else ok = false;
    if (ReadDword(key, "VideoWidth", &v)) s->width = static_cast<uint16_t>(v);
    else ok = false;
    if (ReadDword(key, "VideoHeight", &v)) s->height = static_cast<uint16_t>(v);
    else ok = false;
    if (ReadDword(key, "VideoMode", &v) && v != 0) {
        app.modeFormat = static_cast<uint32_t>(v);
        s->depth = static_cast<uint16_t>(S_FormatBitsPerPixel(static_cast<D3DFORMAT>(v)));
    } else {
        ok = false;
    }
    if (ReadDword(key, "VideoTextureQuality", &v)) s->textureQuality = v;
    else ok = false;
    if (ReadDword(key, "VideoShaderQuality", &v)) s->shaderQuality = v;
    else ok = false;
    if (ReadDword(key, "VideoAntialiasMode", &v)) s->antialiasMode = v;
    else ok = false;
    if (ReadDword(key, "VideoFilterMode", &v)) s->filterMode = v;
    else ok = false;
    if (ReadDword(key, "VideoFlags", &v)) s->videoFlags = static_cast<uint32_t>(v);
    else ok = false;
    if (ReadDword(key, "VideoD3DFlags", &v)) s->VideoD3DFlags = static_cast<uint32_t>(v);
    else ok = false;
    if (ReadDword(key, "VideoD3DFlags2", &v)) s->VideoD3DFlags2 = static_cast<uint32_t>(v);
    else ok = false;
    if (ReadDword(key, "VideoFullscreenGamma", &v)) s->fullscreenGamma = v;
    else ok = false;
    RegCloseKey(key);
    if (!ok) {
        app.adapterName = Qel_StrFree(app.adapterName);
        return 0;
    }
    return 1;
}

// Input, audio and the other values, each taken when present.
static void LoadOtherSettings(HKEY key) {
    SystemState* s = g_SystemState;
    ApplicationRecord& app = g_ApplicationRecord;
    int32_t v;
    if (ReadDword(key, "InputFlags", &v)) s->inputFlags = static_cast<uint32_t>(v);
    ReadGuid(key, "InputJoyGUID", &app.joyGUID);
    if (ReadDword(key, "InputFFGain", &v)) app.ffGain = v;
    if (ReadDword(key, "InputJoyDeadzone", &v)) app.joyDeadzone = v;
    if (ReadDword(key, "InputJoySensitivity", &v)) app.joySensitivity = v;
    DWORD size = 0;
    if (RegQueryValueExA(key, "InputKeymapping", nullptr, nullptr, nullptr, &size) == ERROR_MORE_DATA && size > 0) {
        uint8_t* buffer = static_cast<uint8_t*>(Int_AllocMem(size, 0));
        if (buffer) {
            DWORD got = size;
            if (ReadBytes(key, "InputKeymapping", buffer, size, &got)) {
                DWORD words = got / 4 < 30 ? got / 4 : 30;
                for (DWORD i = 0; i < words; ++i) s->keyMapping[i] = GetWord(buffer + i * 4);
            }
            Int_FreeMem(buffer, size, 0);
        }
    }
    char text[100];
    if (ReadString(key, "DefaultProfile", text, 100) >= 2 && text[0])
        snprintf(s->defaultProfile, sizeof s->defaultProfile, "%s", text);
    if (ReadDword(key, "LogoPictureNum", &v)) s->logoPictureNum = v;
    if (ReadString(key, "LogoPictureName", text, 99) >= 2)
        snprintf(s->logoPictureName, sizeof s->logoPictureName, "%s", text);
    int n = ReadString(key, "ModName", text, 99);
    if (n >= 2 && text[0]) s->modName = Qel_StrReassign(s->modName, text);
    else if (n >= 0) s->modName = Qel_StrFree(s->modName);
    if (ReadDword(key, "AudioFlags", &v)) s->soundFlags = static_cast<uint32_t>(v);
    uint8_t wave[18];
    DWORD got = 0;
    if (ReadBytes(key, "AudioWaveFormat", wave, 18, &got) && got == 18) UnpackWaveFormat(wave, &app.waveFormat);
    if (ReadDword(key, "AudioSpeakerConfig", &v)) app.speakerConfig = static_cast<uint32_t>(v);
    ReadGuid(key, "AudioA3DGUID", &app.soundDeviceGUID);
    if (ReadDword(key, "AudioModVolume", &v)) s->modVolume = v;
    if (ReadDword(key, "AudioFXVolume", &v)) s->fxVolume = v;
    if (ReadDword(key, "AudioVoiceVolume", &v)) s->voiceVolume = v;
    if (ReadDword(key, "AudioMasterVolume", &v)) s->masterVolume = v;
    if (ReadDword(key, "AudioNum3DSounds", &v)) s->Num3DSounds = v;
    if (ReadDword(key, "VideoLowerAQCFPS", &v)) s->lowerFpsLimit = static_cast<double>(static_cast<uint32_t>(v));
    if (ReadDword(key, "VideoUpperAQCFPS", &v)) s->upperFpsLimit = static_cast<double>(static_cast<uint32_t>(v));
    if (ReadDword(key, "GameState", &v)) s->gameState = v;
    if (ReadDword(key, "GameStarts", &v)) s->gameStarts = v;
}

int S_LoadRegistrySettings() {
    if (!g_SystemState) return 0;
    int capture = S_LoadCaptureFolder();
    int video = S_LoadVideoSettings();
    // The other groups load even when the video group is incomplete: dropping them
    // would let the save at exit overwrite the player's input and audio settings.
    HKEY key = OpenSettingsKey(nullptr, KEY_READ);
    if (!key) return 0;
    LoadOtherSettings(key);
    RegCloseKey(key);
    return capture && video ? 1 : 0;
}

// ---------------------------------------------------------------- saving

int S_SaveRegistrySettings() {
    SystemState* s = g_SystemState;
    if (!s) return 0;
    ApplicationRecord& app = g_ApplicationRecord;
    char name[300];
    KeyName(name, sizeof name, nullptr);
    HKEY key = 0;
    DWORD disposition = 0;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, name, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key,
                        &disposition) != ERROR_SUCCESS)
        return 0;
    uint8_t keys[120];
    for (int i = 0; i < 30; ++i) PutWord(keys + i * 4, s->keyMapping[i]);
    uint8_t wave[18];
    PackWaveFormat(wave, app.waveFormat);
    bool ok =
        WriteString(key, "CaptureFolder", s->captureFolder) &&
        (!app.adapterName || WriteString(key, "VideoAdapterName", app.adapterName)) &&
        WriteDword(key, "VideoAdapterOrdinal", app.adapterOrdinal) &&
        WriteDword(key, "VideoWidth", static_cast<int16_t>(s->width)) &&
        WriteDword(key, "VideoHeight", static_cast<int16_t>(s->height)) &&
        WriteDword(key, "VideoMode", static_cast<int32_t>(app.modeFormat)) &&
        WriteDword(key, "VideoTextureQuality", s->textureQuality) &&
        WriteDword(key, "VideoShaderQuality", s->shaderQuality) &&
        WriteDword(key, "VideoAntialiasMode", s->antialiasMode) && WriteDword(key, "VideoFilterMode", s->filterMode) &&
        WriteFlags(key, "VideoFlags", s->videoFlags) && WriteFlags(key, "VideoD3DFlags", s->VideoD3DFlags) &&
        WriteFlags(key, "VideoD3DFlags2", s->VideoD3DFlags2) &&
        WriteDword(key, "VideoFullscreenGamma", s->fullscreenGamma) && WriteFlags(key, "InputFlags", s->inputFlags) &&
        WriteGuid(key, "InputJoyGUID", app.joyGUID) && WriteDword(key, "InputFFGain", app.ffGain) &&
        WriteDword(key, "InputJoyDeadzone", app.joyDeadzone) &&
        WriteDword(key, "InputJoySensitivity", app.joySensitivity) &&
        WriteBinary(key, "InputKeymapping", keys, sizeof keys) &&
        WriteDword(key, "LogoPictureNum", s->logoPictureNum) &&
        (!s->logoPictureName[0] || WriteString(key, "LogoPictureName", s->logoPictureName)) &&
        WriteString(key, "ModName", s->modName) && WriteFlags(key, "AudioFlags", s->soundFlags) &&
        WriteBinary(key, "AudioWaveFormat", wave, sizeof wave) &&
        WriteDword(key, "AudioSpeakerConfig", static_cast<int32_t>(app.speakerConfig)) &&
        WriteGuid(key, "AudioA3DGUID", app.soundDeviceGUID) && WriteDword(key, "AudioModVolume", s->modVolume) &&
        WriteDword(key, "AudioFXVolume", s->fxVolume) && WriteDword(key, "AudioVoiceVolume", s->voiceVolume) &&
        WriteDword(key, "AudioMasterVolume", s->masterVolume) && WriteDword(key, "AudioNum3DSounds", s->Num3DSounds) &&
        WriteDword(key, "VideoLowerAQCFPS", static_cast<int32_t>(s->lowerFpsLimit)) &&
        WriteDword(key, "VideoUpperAQCFPS", static_cast<int32_t>(s->upperFpsLimit)) &&
        WriteDword(key, "GameState", s->gameState) && WriteString(key, "DefaultProfile", s->defaultProfile) &&
        WriteDword(key, "GameStarts", s->gameStarts);
    // The store writes its file when the key closes: that is where a write fails.
    ok = RegCloseKey(key) == ERROR_SUCCESS && ok;
    return ok ? 1 : 0;
}

void S_RegDeleteSettingsKey() {
    HKEY key = 0;
    LONG result = RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Veldrim", 0, KEY_ALL_ACCESS, &key);
    if (result == ERROR_SUCCESS) {
        result = RegDeleteKeyA(key, AppName());
        RegCloseKey(key);
    }
    if (result != ERROR_SUCCESS) Qel_DPrintf(0, "Error deleting registry key: %d\n", static_cast<int>(result));
}

void S_ExitSystemSettings(int reason) {
    // Saved before the GUID blocks go, so the chosen joystick and sound device survive.
    if (reason == 0 && g_SystemState && !(g_SystemState->SysProfilingFlags & SYSPROF_NO_SAVE)) {
        if (!S_SaveRegistrySettings()) Qel_ErrPrintf("Couldn't save registry settings.\n");
    }
    if (reason == 35) S_RegDeleteSettingsKey();
    g_ApplicationRecord.joyGUID = FreeGuid(g_ApplicationRecord.joyGUID);
    g_ApplicationRecord.soundDeviceGUID = FreeGuid(g_ApplicationRecord.soundDeviceGUID);
    g_ApplicationRecord.adapterName = Qel_StrFree(g_ApplicationRecord.adapterName);
}

// ---------------------------------------------------------------- the "Values" subkey

char* S_RegReadStringValue(const char* name) {
    if (!name) return nullptr;
    HKEY key = OpenSettingsKey("Values", KEY_READ);
    if (!key) return nullptr;
    char* result = nullptr;
    DWORD type = 0, size = 0;
    // Any length: the size is asked first.
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) == ERROR_MORE_DATA && type == REG_SZ && size > 0) {
        char* buffer = static_cast<char*>(Int_AllocMem(size + 1, 0));
        if (buffer) {
            DWORD got = size;
            if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &got) == ERROR_SUCCESS) {
                buffer[got] = 0;
                if (buffer[0]) result = Qel_StrDup(buffer);
            }
            Int_FreeMem(buffer, size + 1, 0);
        }
    }
    RegCloseKey(key);
    return result;
}

int32_t S_RegReadIntValue(const char* name) {
    if (!name) return 0;
    HKEY key = OpenSettingsKey("Values", KEY_READ);
    if (!key) return 0;
    int32_t v = 0;
    if (!ReadDword(key, name, &v)) {
        // A longer value still gives its first 4 bytes.
        DWORD size = 0;
        if (RegQueryValueExA(key, name, nullptr, nullptr, nullptr, &size) == ERROR_MORE_DATA && size > 4) {
            uint8_t* buffer = static_cast<uint8_t*>(Int_AllocMem(size, 0));
            if (buffer) {
                if (ReadBytes(key, name, buffer, size)) v = static_cast<int32_t>(GetWord(buffer));
                Int_FreeMem(buffer, size, 0);
            }
        }
    }
    RegCloseKey(key);
    return v;
}

static HKEY CreateValuesKey() {
    char name[300];
    KeyName(name, sizeof name, "Values");
    HKEY key = 0;
    DWORD disposition = 0;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, name, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key,
                        &disposition) != ERROR_SUCCESS)
        return 0;
    return key;
}

int S_RegSaveStringValue(const char* name, const char* text) {
    if (!name) return 0;
    HKEY key = CreateValuesKey();
    if (!key) return 0;
    bool ok = WriteString(key, name, text);
    ok = RegCloseKey(key) == ERROR_SUCCESS && ok;
    return ok ? 1 : 0;
}

int S_RegSaveIntValue(const char* name, int32_t value) {
    if (!name) return 0;
    HKEY key = CreateValuesKey();
    if (!key) return 0;
    bool ok = WriteDword(key, name, value);
    ok = RegCloseKey(key) == ERROR_SUCCESS && ok;
    return ok ? 1 : 0;
}

// ---------------------------------------------------------------- machine probes

uint32_t S_GetPhysicalMemoryMB() {
    MEMORYSTATUS status{};
    status.dwLength = sizeof status;
    GlobalMemoryStatus(&status);
    // Rounded up to 16 MB. A 12-bit mask would wrap every machine of 4 GB
    // and more to a few hundred MB (or 0), so the whole figure is kept.
    const uint64_t total = std::min<uint64_t>(status.dwTotalPhys, uint64_t{1} << 50);
    return static_cast<uint32_t>(((total + 0xFFFFFFull) >> 20) & ~uint64_t{0xF});
}

void S_GetMemoryTotals(uint64_t* physical, uint64_t* pageFile) {
    MEMORYSTATUS status{};
    status.dwLength = sizeof status;
    GlobalMemoryStatus(&status);
    *physical = status.dwTotalPhys;
    *pageFile = status.dwTotalPageFile;
}

uint32_t S_GetPeakMemoryMB() { return static_cast<uint32_t>(Win32_PeakWorkingSetBytes() >> 20); }

uint32_t S_GetVideoMemoryMB() {
    void* library = DDraw_LoadLibrary();
    if (!library) return 4095;
    DirectDrawCreateExFn create = DDraw_GetCreateEx(library);
    if (!create) {
        DDraw_FreeLibrary(library);
        return 0;
    }
    IDirectDraw7* dd = nullptr;
    if (FAILED(create(nullptr, &dd, nullptr, nullptr)) || !dd) {
        DDraw_FreeLibrary(library);
        return 4095;
    }
    dd->SetCooperativeLevel(nullptr, DDSCL_NORMAL);
    static const DWORD sets[4] = {DDSCAPS_VIDEOMEMORY | DDSCAPS_PRIMARYSURFACE,
                                  DDSCAPS_LOCALVIDMEM | DDSCAPS_VIDEOMEMORY | DDSCAPS_3DDEVICE | DDSCAPS_TEXTURE,
                                  DDSCAPS_LOCALVIDMEM | DDSCAPS_VIDEOMEMORY | DDSCAPS_TEXTURE,
                                  DDSCAPS_LOCALVIDMEM | DDSCAPS_VIDEOMEMORY | DDSCAPS_OFFSCREENPLAIN};
    uint64_t best = 0;
    for (int i = 0; i < 4; ++i) {
        DDSCAPS2 caps{sets[i], 0, 0, 0};
        DWORD total = 0, free = 0;
        if (FAILED(dd->GetAvailableVidMem(&caps, &total, &free))) continue;
        if (i == 0) {
            if (total >= 1 && total <= 0xFFFFFFFEu) best = total;
        } else if (total != 0 && (best == 0 || total < best)) {
            best = total;
        }
    }
    dd->Release();
    DDraw_FreeLibrary(library);
    if (best == 0) return 4095;
    const uint64_t MB = 1u << 20;
    uint64_t step = best > 64 * MB ? 64 * MB : best > 16 * MB ? 32 * MB : 8 * MB;
    uint64_t rounded = (best + step - 1) / step * step;
    uint64_t result = rounded >> 20;
    return result > 4095 ? 4095 : static_cast<uint32_t>(result);
}
