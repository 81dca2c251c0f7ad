#include "system/keys.h"

#include <cstring>

#include "base/general.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/strings.h"
#include "platform/dinput/dinput.h"
#include "platform/win32/keyboard.h"
#include "platform/win32/messages.h"
#include "platform/win32/dialog.h"
#include "platform/win32/msgbox.h"
#include "script/textpages.h"
#include "system/entry.h"
#include "system/input.h"
#include "system/keycodes.h"
#include "system/window.h"

namespace {

constexpr int32_t kControlTextPage = 1903;
constexpr uint32_t kShiftBit = 0x1000;
constexpr uint32_t kLeftShiftScan = 0x2A;
constexpr UINT kMessageBoxStyle = MB_ICONEXCLAMATION | MB_TASKMODAL | MB_SETFOREGROUND | MB_TOPMOST;  // 0x52030

char* s_lastChar = nullptr;
char* s_lastName = nullptr;
char* s_shiftName = nullptr;
char* s_wide = nullptr;
HKL s_charLayout = nullptr;
bool s_showingMessage = false;

bool DirectInputKeyboard() { return g_ApplicationRecord.directInput && g_ApplicationRecord.keyboardDevice; }

// Engine key codes of the virtual keys that have no character.
uint16_t VirtualKeyCode(int32_t vk) {
    switch (vk) {
        case 0x13:  // pause
        case 0x2A:  // print
        case 0x2C:  // print screen
        case 0x2F:  // help
        case 0x90:  // num lock
        case 0x91:  // scroll lock
            return 0x100;
        case 0x21: return 0x153;  // page up
        case 0x22: return 0x152;  // page down
        case 0x23: return 0x168;  // end
        case 0x24: return 0x106;  // home
        case 0x25: return 0x104;  // left
        case 0x26: return 0x103;  // up
        case 0x27: return 0x105;  // right
        case 0x28: return 0x102;  // down
        case 0x2D: return 0x14B;  // insert
        case 0x2E: return 0x14A;  // delete
        default:
            if (vk >= 0x70 && vk <= 0x7B) return static_cast<uint16_t>(265 + (vk - 0x70));  // F1-F12
            return static_cast<uint16_t>(vk);
    }
}

const char* ShiftName() {
    if (!s_shiftName) s_shiftName = S_IODIKeyToKeyName(kLeftShiftScan);
    return s_shiftName ? s_shiftName : "Shift";
}

// A new heap string naming a joystick control (base 280-327), or null.
char* ControlName(uint32_t base) {
    InputState* in = g_InputState;
    if (base >= 280 && base <= 282)
        return Qel_StrDup(SB_GetText(kControlTextPage, static_cast<int32_t>(20000 + base - 280)));
    if (base == 294 || base == 295)
        return Qel_StrDup(SB_GetText(kControlTextPage, static_cast<int32_t>(20003 + base - 294)));
    if (base >= 283 && base <= 287)
        return Qel_Format(nullptr, "%s%d", SB_GetText(kControlTextPage, 20010), static_cast<int>(base - 279));
    if (base >= 320 && base <= 327 && in && (in->flags & INPUT_POV))
        return Qel_StrDup(SB_GetText(kControlTextPage, static_cast<int32_t>(20020 + base - 320)));
    if (base >= 296 && base <= 327)
        return Qel_Format(nullptr, "%s%d", SB_GetText(kControlTextPage, 20011), static_cast<int>(base - 295));
    return nullptr;  // 288-293 have no name
}

}  // namespace

uint16_t S_GetKey() {
    InputState* in = g_InputState;
    if (in) in->keySeen = 0;
    const KeyRingEntry* entry = S_KeyRingNext(in && (in->flags & INPUT_SINGLE_KEY));
    if (!entry) return 0;
    if (DirectInputKeyboard()) {
        uint32_t code = S_DIKToKeyCode(static_cast<uint32_t>(entry->deviceKey) & 0xFF);
        if (in && in->shiftDown) code += kShiftBit;
        return static_cast<uint16_t>(code);
    }
    // Characters are code-page bytes, 0..255, never sign-extended into the Shift bit.
    if (entry->kind == KEY_KIND_CHAR) return static_cast<uint16_t>(entry->code & 0xFF);
    return VirtualKeyCode(entry->code);
}

const char* S_IOLastKeyChar() {
    s_lastChar = Qel_StrFree(s_lastChar);
    const KeyRingEntry* entry = S_KeyRingCurrent();
    if (!DirectInputKeyboard() || !entry) return nullptr;
    if (!s_charLayout) s_charLayout = GetKeyboardLayout(0);
    UINT scan = static_cast<UINT>(entry->deviceKey) & 0xFF;
    UINT vk = MapVirtualKeyExA(scan, MAPVK_VSC_TO_VK, s_charLayout);
    uint16_t chars[11] = {};
    int n = ToUnicodeEx(vk, scan, g_InputVirtualKeys, chars, 10, 0, s_charLayout);
    if (n <= 0) return nullptr;
    chars[n] = 0;
    s_lastChar = Qel_Utf16ToUtf8(chars);
    return s_lastChar;
}

char* S_IODIKeyToKeyName(uint32_t scanCode) {
    IDirectInputDevice8* keyboard = g_ApplicationRecord.keyboardDevice;
    if (!keyboard) {
        Qel_DPrintf(4, "S_IODIKeyToKeyName(%d) failed: %s\n", static_cast<int>(scanCode),
                    S_DIErrorText(DIERR_NOTINITIALIZED));
        return nullptr;
    }
    DIDEVICEOBJECTINSTANCE info{};
    info.dwSize = sizeof info;
    HRESULT hr = keyboard->GetObjectInfo(&info, scanCode, DIPH_BYOFFSET);
    if (hr < 0) {
        Qel_DPrintf(4, "S_IODIKeyToKeyName(%d) failed: %s\n", static_cast<int>(scanCode), S_DIErrorText(hr));
        return nullptr;
    }
    return Qel_Utf16ToUtf8(info.tszName);
}

const char* S_IOKeyComboName(uint32_t code) {
    uint32_t base = code & 0x8FFF;
    bool shift = (code & kShiftBit) != 0;
    char* name = nullptr;
    if (base >= 280 && base <= 327) {
        name = ControlName(base);
        if (name && shift) name = Qel_Format(name, "%s+%s", ShiftName(), name);
        if (name && (code & 0x6000))
            name = Qel_Format(name, "%s %s", SB_GetText(kControlTextPage, (code & 0x2000) ? 20030 : 20031), name);
    } else if (uint32_t scan = S_KeyCodeToDIK(base)) {
        name = S_IODIKeyToKeyName(scan);
        if (name && std::strlen(name) == 1 && name[0] >= 'A' && name[0] <= 'Z') {
            // A letter names itself: lower case, or upper case for Shift with it.
            if (!shift) name[0] = static_cast<char>(name[0] - 'A' + 'a');
        } else if (name && shift) {
            name = Qel_Format(name, "%s+%s", ShiftName(), name);
        }
    }
    s_lastName = Qel_StrFree(s_lastName);
    s_lastName = name;
    return s_lastName;
}

void S_SystemMessage(const char* text) {
    const SystemState* ss = g_SystemState;
    const char* caption = ss && ss->app && ss->app->appName ? ss->app->appName : "VELDRIM";
    s_showingMessage = true;
    int result = MessageBoxA(nullptr, text, caption, kMessageBoxStyle);
    Qel_DPrintf(4, "S_SystemMessage(%s) MessageBox() returns %d\n", text ? text : "", result);
    if (result == 0)
        Qel_DPrintf(0, "S_SystemMessage(%s) Failed opening MessageBox() %s (%d)\n", text ? text : "",
                    Win32_MessageBoxError(), static_cast<int>(GetLastError()));
    // A box that a stop from outside ended: whoever shows it goes on, and the
    // program ends at its next look at the window.
    const int stop = Win32_MessageBoxStop();
    if (stop > 0) S_LogStopSignal();
    else if (stop == WIN32_DIALOG_QUIT)
        Qel_DPrintf(0, "S_SystemMessage() the box ended as the program's window closed\n");
    s_showingMessage = false;
}

void S_LogMessageBox(const char* text) {
    // The box logs its own result; that line must not open another box.
    if (!s_showingMessage) S_SystemMessage(text);
}

const char* Qel_ToWide(const char* text) {
    s_wide = Qel_StrFree(s_wide);
    if (!text) return nullptr;
    // The system code page is Latin-1: each byte is its own code point.
    size_t n = std::strlen(text);
    size_t bytes = (n + 1) * sizeof(uint16_t);
    auto* units = static_cast<uint16_t*>(Int_AllocMem(bytes, 0));
    if (!units) return nullptr;
    for (size_t i = 0; i < n; ++i) units[i] = static_cast<unsigned char>(text[i]);
    units[n] = 0;
    s_wide = Qel_Utf16ToUtf8(units);
    Int_FreeMem(units, bytes, 0);
    return s_wide;
}
