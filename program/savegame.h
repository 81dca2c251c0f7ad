// The save-game container: one gzip stream per slot in the per-user folder
// ("save\Qel<slot>.sav"), holding a header of its own (names, the running
// story with its start mode and scene, the clocks, the timed events) and then
// each module's section in a fixed order. Slot 99 is the temporary file of
// every save; slots 20 to 22 form a ring of the three newest games.
#pragma once

#include <cstddef>
#include <cstdint>

struct QelFile;
struct ScriptValue;

constexpr int32_t P_SAVE_LIST_SLOTS = 23;  // the slot list: slots 0 to 22
constexpr int32_t P_SAVE_TEMP_SLOT = 99;
constexpr int32_t P_SAVE_RING_FIRST = 20;
constexpr int32_t P_SAVE_RING_SIZE = 3;

// 1 saved, 0 failed (the slot's file is then as it was). Null names save as
// empty texts.
int P_Save(int32_t slot, const char* name1, const char* name2, uint32_t value);
// Restores the slot into the running program: the story name, start mode and
// scene, the clocks, the timed events and every module's section. A save game
// that cannot be read ends the program with exit reason 29.
void P_Load(int32_t slot);
// P_Load without the ending: 1 loaded; 0 after the failure's log line, the
// timed events cleared.
int P_TryLoad(int32_t slot);
// Reads a whole save stream, as P_TryLoad reads the slot's file.
int P_LoadFromStream(QelFile* file);
// Fills out with an ARRAY of 23 entries, one per slot 0 to 22: INTEGER 0 for
// a missing or unreadable slot, else an ARRAY of name 1, name 2, the save
// value, the story's compile stamp and the file's modification time. 1.
int P_ReadSaveHeader(ScriptValue* out);
// The slot's file name ("save\Qel05.sav"), relative to the per-user folder.
void P_SaveFileName(int32_t slot, char* out, size_t size);
