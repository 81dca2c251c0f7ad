// What the cockpit tells the player and the story: the message ticker that
// scrolls the story's texts through the HUD's text texture (the waiting task
// is answered once its text has passed), the scanner list of the objects a
// cockpit sees, the missile alert and the alert level with its warning
// sounds. The cockpit's HUD state lives in one record made on first use.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "cockpit/cockpits.h"

// A text waiting in the ticker and the task waiting on it.
struct TextEntry {
    std::string text;
    int32_t width;  // pixels in the HUD font
    int32_t module;
    uint32_t handle;
    int32_t extra;
};

struct ScannerEntry {
    SectorObject* object;
    uint32_t id;  // checked before each use: story code may free the object in the frame
    double distance;
};

struct CockpitHud {
    // The ticker.
    std::deque<TextEntry> texts;
    int32_t showing;
    int32_t startTime;
    int32_t width;
    int32_t staticPending;
    std::string staticText;
    // The scanner list, nearest first.
    std::vector<ScannerEntry> scanner;
    int32_t scannerRange;
    // The radar.
    int32_t targetRange;
    uint32_t lastTracked;  // object ID
    int32_t highlightCount;
    int32_t nextHighlight;
    int32_t highlighted;  // 1 while this frame draws the tracked object highlighted
    // The target panel.
    int32_t inLaserRange;
};

// HUD textures and sizes.
constexpr int32_t INS_TEXT_TEXTURE = 65;
constexpr int32_t INS_TICKER_SPEED = 128;  // pixels per second
constexpr int32_t INS_MAX_SHADOWS = 50;
constexpr int32_t INS_STORY_OBJECT = 2100;
constexpr int32_t INS_ALERT_NEAR_SOUND = 923;
constexpr int32_t INS_ALERT_MISSILE_SOUND = 925;
constexpr int32_t INS_ALERT_RAISE = 2500000;
constexpr int32_t INS_ALERT_HOLD = 5000000;

// The cockpit's HUD record, made on first use; null when out of memory.
CockpitHud* INS_Hud(Cockpit* cockpit);
// Answers every task still waiting on the ticker with 0 and frees the record.
void INS_FreeHud(Cockpit* cockpit);
// Drops the object from the cockpit's scanner list (before it is freed).
void INS_HudForget(Cockpit* cockpit, const SectorObject* object);

// The HUD font ("Tahoma" 13), opened on first use; -1 when it cannot be.
int32_t INS_HudFont();

// Queues a text; its caller (module, handle) is answered 0 once it has
// scrolled out. Without a text the queue and ticker are cleared and the caller
// is answered at once.
void INS_DisplayText(const char* text, Cockpit* cockpit, int32_t module, uint32_t handle, int32_t extra);
// Answers every queued caller with 0, empties the queue and the band.
void INS_ClearText(Cockpit* cockpit);
// Call 20's text display: the caller waits for its text (the extra word is
// the fourth argument of the long form, else the value). Call 20 without a
// text clears the ticker, then answers itself.
struct SA_Call;
int32_t INS_DisplayTextCall(Cockpit* cockpit, const SA_Call& call, const char* text, int32_t value, bool longForm,
                            int32_t fourth);
void INS_ClearTextCall(Cockpit* cockpit, int32_t value);
// The static text beside the ticker (null clears it).
void INS_SetStaticText(Cockpit* cockpit, const char* text);
// The frame's ticker step.
void INS_CheckText(Cockpit* cockpit);

// The frame's scanner list.
void INS_BuildScannerList(Cockpit* cockpit);

// A missile was launched: a missile aimed at the player's ship raises the alarm.
void INS_NotifyMissileAlert(SectorObject* missile);
// The frame's alert level.
void INS_CheckAlert();

// A record whose switches sound as they change: its sound-flag word and the
// sound a switch plays.
struct INSSoundSwitches {
    uint32_t flags;
    int32_t sound;
};
// Sets (on non-zero) or clears bit number `bit` of the record's sound-flag
// word. A change plays the record's sound in mode 1 when the bit turns on,
// in mode 2 when it turns off, in no other mode. Nothing changes when the bit
// already is as wanted, nor for a bit outside 0..31.
void INS_SoundToggle(int32_t bit, INSSoundSwitches* record, int32_t on, int32_t mode);

// The warning and switching sounds; the program's start-up points them at the game sound.
struct INSAlertSoundLink {
    void (*play)(int32_t sound);
    void (*stop)(int32_t sound);
};
extern INSAlertSoundLink g_INSAlertSounds;

// Answers a waiting caller with an integer (nothing for module 0).
void INS_AnswerCaller(int32_t module, uint32_t handle, int32_t value);
