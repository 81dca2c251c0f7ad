// The game window's procedure and the per-frame message pump, the key ring they
// fill, and the input record the procedure writes into.
#pragma once

#include <cstdint>

#include "platform/win32/messages.h"

// The input layer's record: allocated zeroed by its start-up, null before. The
// window procedure writes the mouse, button and key fields; without a record it
// works on a zeroed scratch copy, so nothing is kept.
struct InputState {
    uint32_t flags;  // 0x4000: pump messages while inactive
    uint32_t flags2;
    int32_t joyX, joyY;
    uint8_t keyDown[512];
    uint8_t keyState[256];
    int16_t mouseX, mouseY;
    int16_t mouseDX, mouseDY, mouseDZ;
    uint32_t mouseTime;
    uint32_t clickLeft, clickRight, clickMiddle;
    uint32_t doubleClick;
    uint32_t mousePresent;
    uint32_t keySeen;
    uint32_t buttonLeft, buttonRight, buttonMiddle;
    uint32_t shiftDown;
    int32_t throttle;
    int32_t secondY;
    uint32_t joyButtons;
    uint32_t mouseButtons;
    uint32_t mouseHeld;
    uint32_t actions;
    int32_t pov;
    int32_t rudder, lastRudder;
    int32_t twist;
    uint32_t active;
    uint32_t effectCount;
    struct {
        uint32_t kind;
        void* effect;
    } effects[4];
};
extern InputState* g_InputState;

constexpr uint32_t INPUT_PUMP_WHILE_INACTIVE = 0x4000;

// The key ring: four entries filled by the window procedure and by the input
// layer's keyboard poll, read one key per frame.
struct KeyRingEntry {
    int32_t deviceKey;  // scan code from the keyboard poll
    int32_t code;       // wParam of the message: character or virtual-key code
    int32_t kind;       // KEY_KIND_CHAR or KEY_KIND_VIRTUAL
};
constexpr int32_t KEY_KIND_CHAR = 0;
constexpr int32_t KEY_KIND_VIRTUAL = 1;

struct KeyRing {
    KeyRingEntry entries[4];
    int16_t writeIndex;  // the entry written last; -1 before the first
    int16_t readIndex;   // the entry read last; -1 before the first
    int16_t unread;      // 0 .. 4
};
extern KeyRing S_KeyRing;

// Stores a key; when four are unread, the oldest is dropped (the read index moves
// on), so a full ring always holds the newest four.
void S_KeyRingStore(int32_t deviceKey, int32_t code, int32_t kind);
// The next unread key, or null when none; newestOnly skips to the newest one.
const KeyRingEntry* S_KeyRingNext(bool newestOnly);
// The entry at the read index (the key read last), or null before the first read.
const KeyRingEntry* S_KeyRingCurrent();
void S_KeyRingClear();

// Calls out to the layers around the window that start after it (input devices,
// movies, sound, the display list). Each layer fills its entries at its start-up;
// an empty entry is skipped.
struct WindowLinks {
    void (*syncAcquire)(int unacquire);  // Ex_SyncAcquire
    void (*pollInput)();                 // S_VbiIO, before messages are handled
    void (*stopPlayingMovies)();         // MOV_StopPlayingMovies
    void (*cdTrackDone)();               // the sound record's compact-disc routine, when set
    // The screen bitmap's size and the display list's flag word; 0 when there is
    // no display list or no screen bitmap.
    int (*screen)(int32_t* width, int32_t* height, uint32_t* displayFlags);
};
extern WindowLinks S_WindowLinks;

LRESULT S_WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
void S_ProcessMessages();

// Logs once which stop signal (SIGINT, SIGTERM) came from outside, if one did:
// the program then takes its orderly exit.
void S_LogStopSignal();

// A main window that only takes messages, handled by S_WindowProc, for callers
// without a video device (tests). The video device makes the real one itself.
HWND S_AttachMainWindow();
// Destroys the main window, whoever made it, and clears it from the application record.
void S_DetachMainWindow();
