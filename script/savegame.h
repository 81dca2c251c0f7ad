// The script section of save games: the whole script state (dynamic strings,
// arrays, tables, object instances, the variables of the story's objects and
// every task with its stack) written into, and read back from, the gzip
// stream of the save container. Every word is big-endian.
#pragma once

#include <cstdint>

struct QelFile;
struct SE_Context;
struct ScriptValue;

constexpr uint32_t SB_SAVEGAME_VERSION = 3;

// Context flag set by a load whose save was made with another compile of the
// story (code positions were moved through the patch table).
constexpr uint32_t SE_FLAG_OTHER_COMPILE = 8;

// Writes the section for the global context. 1 on success; 0 when an id
// listed in one of the id tables has no record, or when the stream refuses
// the bytes.
int SB_SaveGame(QelFile* file);
// Reads the section into the global context: loads the story the save names,
// then rebuilds every record. 1 on success; 0 on any failure, after which the
// story stands as freshly loaded and nothing the load made is left behind.
int SB_LoadGame(QelFile* file);

// One value record: the tag byte, then a big-endian word for the tags that
// carry one. 1 written / read, 0 when the stream ends or refuses it (and, on
// reading, for a tag no save holds).
int SB_SaveStoryValue(QelFile* file, const ScriptValue* cell);
int SB_LoadStoryValue(SE_Context* ctx, ScriptValue* target, QelFile* file);

// The story a load reads in place of the one the save names (the program's
// "load" option); null or empty: the saved story.
void SB_SetLoadGameStory(const char* name);
