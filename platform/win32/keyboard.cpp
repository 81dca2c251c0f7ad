#include "platform/win32/keyboard.h"

#include <SDL.h>

#include "platform/dinput/dinput.h"
#include "platform/dinput/scancodes.h"

namespace {

constexpr UINT kShift = 0x10, kControl = 0x11, kMenu = 0x12;
constexpr UINT kLShift = 0xA0, kRShift = 0xA1, kLControl = 0xA2, kRControl = 0xA3, kLMenu = 0xA4, kRMenu = 0xA5;

// Virtual keys of the keys whose virtual key does not follow the layout.
UINT PositionalVirtualKey(SDL_Scancode sc, bool distinguish) {
    if (sc >= SDL_SCANCODE_F1 && sc <= SDL_SCANCODE_F12) return 0x70 + (sc - SDL_SCANCODE_F1);
    if (sc >= SDL_SCANCODE_F13 && sc <= SDL_SCANCODE_F24) return 0x7C + (sc - SDL_SCANCODE_F13);
    if (sc >= SDL_SCANCODE_KP_1 && sc <= SDL_SCANCODE_KP_9) return 0x61 + (sc - SDL_SCANCODE_KP_1);
    switch (sc) {
        case SDL_SCANCODE_BACKSPACE: return 0x08;
        case SDL_SCANCODE_TAB: return 0x09;
        case SDL_SCANCODE_RETURN:
        case SDL_SCANCODE_KP_ENTER: return 0x0D;
        case SDL_SCANCODE_LSHIFT: return distinguish ? kLShift : kShift;
        case SDL_SCANCODE_RSHIFT: return distinguish ? kRShift : kShift;
        case SDL_SCANCODE_LCTRL: return distinguish ? kLControl : kControl;
        case SDL_SCANCODE_RCTRL: return distinguish ? kRControl : kControl;
        case SDL_SCANCODE_LALT: return distinguish ? kLMenu : kMenu;
        case SDL_SCANCODE_RALT: return distinguish ? kRMenu : kMenu;
        case SDL_SCANCODE_PAUSE: return 0x13;
        case SDL_SCANCODE_CAPSLOCK: return 0x14;
        case SDL_SCANCODE_ESCAPE: return 0x1B;
        case SDL_SCANCODE_SPACE: return 0x20;
        case SDL_SCANCODE_PAGEUP: return 0x21;
        case SDL_SCANCODE_PAGEDOWN: return 0x22;
        case SDL_SCANCODE_END: return 0x23;
        case SDL_SCANCODE_HOME: return 0x24;
        case SDL_SCANCODE_LEFT: return 0x25;
        case SDL_SCANCODE_UP: return 0x26;
        case SDL_SCANCODE_RIGHT: return 0x27;
        case SDL_SCANCODE_DOWN: return 0x28;
        case SDL_SCANCODE_PRINTSCREEN:
        case SDL_SCANCODE_SYSREQ: return 0x2C;
        case SDL_SCANCODE_INSERT: return 0x2D;
        case SDL_SCANCODE_DELETE: return 0x2E;
        case SDL_SCANCODE_LGUI: return 0x5B;
        case SDL_SCANCODE_RGUI: return 0x5C;
        case SDL_SCANCODE_APPLICATION: return 0x5D;
        case SDL_SCANCODE_SLEEP: return 0x5F;
        case SDL_SCANCODE_KP_0: return 0x60;
        case SDL_SCANCODE_KP_MULTIPLY: return 0x6A;
        case SDL_SCANCODE_KP_PLUS: return 0x6B;
        case SDL_SCANCODE_KP_MINUS: return 0x6D;
        case SDL_SCANCODE_KP_PERIOD: return 0x6E;
        case SDL_SCANCODE_KP_DIVIDE: return 0x6F;
        case SDL_SCANCODE_NUMLOCKCLEAR: return 0x90;
        case SDL_SCANCODE_SCROLLLOCK: return 0x91;
        default: return 0;
    }
}

// Virtual keys of the character keys, by the character the layout puts there.
UINT CharacterVirtualKey(SDL_Keycode key) {
    if (key >= 'a' && key <= 'z') return static_cast<UINT>(key - 'a' + 'A');
    if (key >= '0' && key <= '9') return static_cast<UINT>(key);
    switch (key) {
        case ';': return 0xBA;
        case '=': return 0xBB;
        case ',': return 0xBC;
        case '-': return 0xBD;
        case '.': return 0xBE;
        case '/': return 0xBF;
        case '`': return 0xC0;
        case '[': return 0xDB;
        case '\\': return 0xDC;
        case ']': return 0xDD;
        case '\'': return 0xDE;
        default: return key > 0 && key < 0x40000000 ? 0xE2 : 0;  // any other character key
    }
}

// The key the layout puts on a scan code. Before SDL's video starts there is no
// keymap yet: the character keys then fall back to the US layout.
SDL_Keycode LayoutKey(SDL_Scancode sc) {
    SDL_Keycode key = SDL_GetKeyFromScancode(sc);
    if (key != SDLK_UNKNOWN) return key;
    if (sc >= SDL_SCANCODE_A && sc <= SDL_SCANCODE_Z) return 'a' + (sc - SDL_SCANCODE_A);
    if (sc >= SDL_SCANCODE_1 && sc <= SDL_SCANCODE_9) return '1' + (sc - SDL_SCANCODE_1);
    switch (sc) {
        case SDL_SCANCODE_0: return '0';
        case SDL_SCANCODE_RETURN: return SDLK_RETURN;
        case SDL_SCANCODE_ESCAPE: return SDLK_ESCAPE;
        case SDL_SCANCODE_BACKSPACE: return SDLK_BACKSPACE;
        case SDL_SCANCODE_TAB: return SDLK_TAB;
        case SDL_SCANCODE_SPACE: return ' ';
        case SDL_SCANCODE_MINUS: return '-';
        case SDL_SCANCODE_EQUALS: return '=';
        case SDL_SCANCODE_LEFTBRACKET: return '[';
        case SDL_SCANCODE_RIGHTBRACKET: return ']';
        case SDL_SCANCODE_BACKSLASH: return '\\';
        case SDL_SCANCODE_SEMICOLON: return ';';
        case SDL_SCANCODE_APOSTROPHE: return '\'';
        case SDL_SCANCODE_GRAVE: return '`';
        case SDL_SCANCODE_COMMA: return ',';
        case SDL_SCANCODE_PERIOD: return '.';
        case SDL_SCANCODE_SLASH: return '/';
        default: return SDLK_UNKNOWN;
    }
}

SDL_Scancode ScancodeOf(UINT scanCode) { return static_cast<SDL_Scancode>(DInput_SDLScancodeFromDIK(scanCode & 0xFF)); }

UINT VirtualKeyOf(UINT scanCode, bool distinguish) {
    SDL_Scancode sc = ScancodeOf(scanCode);
    if (sc == SDL_SCANCODE_UNKNOWN) return 0;
    if (UINT vk = PositionalVirtualKey(sc, distinguish)) return vk;
    return CharacterVirtualKey(LayoutKey(sc));
}

int PutUtf16(const char* utf8, uint16_t* out, int size) {
    int n = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(utf8);
    while (*p && n < size) {
        uint32_t cp = *p++;
        int extra = cp >= 0xF0 ? 3 : cp >= 0xE0 ? 2 : cp >= 0xC0 ? 1 : 0;
        if (extra) cp &= 0x3Fu >> extra;
        for (; extra > 0 && (*p & 0xC0) == 0x80; --extra) cp = (cp << 6) | (*p++ & 0x3F);
        if (extra > 0) cp = 0xFFFD;
        if (cp >= 0x10000) {
            if (n + 2 > size) break;
            cp -= 0x10000;
            out[n++] = static_cast<uint16_t>(0xD800 | (cp >> 10));
            out[n++] = static_cast<uint16_t>(0xDC00 | (cp & 0x3FF));
        } else {
            out[n++] = static_cast<uint16_t>(cp);
        }
    }
    return n;
}

}  // namespace

HKL GetKeyboardLayout(uint32_t /*threadId*/) {
    static int s_layout;
    return reinterpret_cast<HKL>(&s_layout);
}

UINT MapVirtualKeyExA(UINT code, UINT mapType, HKL /*layout*/) {
    switch (mapType) {
        case MAPVK_VSC_TO_VK: return VirtualKeyOf(code, false);
        case MAPVK_VSC_TO_VK_EX: return VirtualKeyOf(code, true);
        case MAPVK_VK_TO_VSC:
            for (UINT scan = 1; scan < 256; ++scan)
                if (VirtualKeyOf(scan, false) == code || VirtualKeyOf(scan, true) == code) return scan;
            return 0;
        default: return 0;
    }
}

int ToUnicodeEx(UINT /*virtualKey*/, UINT scanCode, const BYTE* keyState, uint16_t* buffer, int bufferSize,
                UINT /*flags*/, HKL /*layout*/) {
    if (!buffer || bufferSize <= 0) return 0;
    // What the text input typed for the key wins: it knows the layout, dead keys and modifiers.
    const char* typed = DInput_KeyText(scanCode & 0xFF);
    if (*typed) return PutUtf16(typed, buffer, bufferSize);

    SDL_Scancode sc = ScancodeOf(scanCode);
    if (sc == SDL_SCANCODE_UNKNOWN) return 0;
    SDL_Keycode key = LayoutKey(sc);
    if (key <= 0 || key >= 0x40000000 || key == SDLK_DELETE) return 0;
    bool shift = keyState && ((keyState[kShift] | keyState[kLShift] | keyState[kRShift]) & 0x80);
    if (shift && key >= 'a' && key <= 'z') key -= 'a' - 'A';
    // Character keys are named by their code point.
    auto cp = static_cast<uint32_t>(key);
    if (cp < 0x10000 || bufferSize < 2) {
        buffer[0] = static_cast<uint16_t>(cp < 0x10000 ? cp : 0xFFFD);
        return 1;
    }
    cp -= 0x10000;
    buffer[0] = static_cast<uint16_t>(0xD800 | (cp >> 10));
    buffer[1] = static_cast<uint16_t>(0xDC00 | (cp & 0x3FF));
    return 2;
}
