// Movies and voice timing (MOV_: engine-call module 6): movies loaded by
// number, played whole or between two times into textures, their waiting
// tasks answered when they end; the voice-timing tables that say where each
// spoken line lies inside a voice stream; and the save section "MOVI".
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "system/movie.h"

struct EBM;
struct QelFile;

// Module bits of a movie's flags, next to the stream's own.
constexpr uint32_t MOV_LOOP = 0x1;
constexpr uint32_t MOV_PLAYING = 0x2;
constexpr uint32_t MOV_CONNECTED = 0x4;
constexpr uint32_t MOV_SOUNDTRACK = 0x80;
constexpr uint32_t MOV_VOICE = 0x100;

// One movie the stories loaded.
struct MovMovie {
    MovMovie* next;
    MovMovie* prev;
    int32_t id;
    int32_t handle, module;  // the waiting task (0 = none)
    int32_t start, end;      // ms; end 0 or less plays to the end
    MovieEntry stream;       // the system layer's stream (record null = none)
    EBM* bitmap;             // of the connected texture, refreshed each frame
    uint32_t flags;
    int32_t textureId;
    int32_t voiceLanguage, voicePage, voiceId;
};

struct VoiceEntry {
    int32_t start, length;
};
struct VoicePage {
    int32_t stream;
    std::map<int32_t, VoiceEntry> lines;  // by voice id + 1
};

constexpr int32_t MOV_LANGUAGES = 999;

struct MovState {
    MovMovie* first;
    MovMovie* last;
    int32_t moduleNumber;
    MovieTable* table;                // the system layer's; null: no movies on this machine
    std::vector<int32_t> voiceFiles;  // languages whose "%05d.xml" was read, in load order
    std::map<int32_t, std::map<int32_t, VoicePage>> languages;
};
extern MovState* g_MovState;

// The module's number; it is registered whether or not the movie table could
// be made, so the numbers of the modules after it (and in save games) never
// shift. 0 before MOV_Init.
extern int32_t g_MovieModule;

// What the module asks of the movie streams; tests script frame results and
// failures through it.
struct MovStreamLink {
    MovieRecord* (*open)(uint32_t number, uint32_t flags);
    void (*free)(MovieRecord* record);
    int (*play)(MovieEntry* entry);
    int (*stop)(MovieEntry* entry);
    int (*seek)(MovieEntry* entry, int32_t ms);
    int (*setStopTime)(MovieEntry* entry, int32_t ms);
    int (*position)(MovieEntry* entry, int32_t* ms);
    uint16_t (*render)(MovieEntry* entry, EBM* destination);
    int (*setVolume)(uint32_t volume, MovieEntry* entry);
    int (*setRate)(MovieEntry* entry, double rate);
};
extern MovStreamLink g_MovStreamLink;

// Registers the module; answers the movie table (null is no failure).
MovieTable* MOV_Init();
void MOV_StopPlayingMovies();
// Per frame: movies that ended answer their callers.
void MOV_CheckFinished();
// Location reset: every movie's record, then the voices.
void MOV_FreeAllMovies();
void MOV_FreeVoices();
void MOV_Exit();

MovMovie* MOV_FindMovie(int32_t id);
// Opens a movie's stream (id, flags) into a new entry at the list's tail; null
// after "Error opening movie stream". The texture layer opens with flags 0.
MovMovie* MOV_OpenMovieStream(int32_t id, uint32_t flags = 0);
void MOV_FreeMovie(MovMovie* movie);
int MOV_LoadMovie(int32_t module, int32_t handle, int32_t id, uint32_t flags);
int MOV_PlayMovieFrom(int32_t module, int32_t handle, int32_t id, int fromMin, int fromSec, int fromMs, int toMin,
                      int toSec, int toMs, int loop);
int MOV_PlayMovieVoice(int32_t module, int32_t handle, int32_t id, int32_t language, int32_t page, int32_t voiceId);
int MOV_StopMovie(int32_t module, int32_t handle, int32_t id);
int MOV_ConnectMovieToTexture(int32_t id, int32_t texture);
int MOV_DisconnectMovieFromTexture(int32_t id, int32_t texture);
int MOV_IsPlaying(int32_t id);
int MOV_IsConnectedTo(int32_t id, int32_t texture);
// Re-creates the movie table without registering the module.
MovieTable* MOV_ReInit();
int MOV_LoadVoices(int32_t language);
int32_t MOV_GetVoiceStart(int32_t language, int32_t page, int32_t voiceId);
int32_t MOV_GetVoiceLength(int32_t language, int32_t page, int32_t voiceId);
int32_t MOV_GetVoiceStream(int32_t language, int32_t page);
// The settings' volume onto every movie with one of the flag bits (voice 0x100,
// soundtrack 0x80).
void MOV_ApplyVolume(uint32_t flagMask, int32_t volume);
int MOV_SaveGame(QelFile* file);
int MOV_LoadGame(QelFile* file);
int32_t MOV_SysCall(int32_t callerModule, struct SE_Task* task, int32_t call, int32_t argc, struct ScriptValue* args);
const char* const* MOV_GetCallNames();
