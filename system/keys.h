// Reading one key per frame from the key ring, the characters and names of
// keys in the current keyboard layout, names of joystick controls, modal
// message boxes, and system-code-page text to UTF-8.
#pragma once

#include <cstdint>

// The next key of the key ring as an engine key code (0x1000 added while Shift
// is down), 0 when the ring is empty.
uint16_t S_GetKey();
// The character(s) of the key last read, in UTF-8, kept until the next call; null for none.
const char* S_IOLastKeyChar();
// A new UTF-8 heap string with the keyboard's name of a scan code, or null.
char* S_IODIKeyToKeyName(uint32_t scanCode);
// The name of a key or joystick control code, kept until the next call; null for none.
const char* S_IOKeyComboName(uint32_t code);
// A modal message box with the application's name as caption.
void S_SystemMessage(const char* text);
// The log's message box: S_SystemMessage, except for the lines the box itself logs.
void S_LogMessageBox(const char* text);
// Text of the system code page as UTF-8, in one buffer the next call replaces; null for null.
const char* Qel_ToWide(const char* text);
