// The space simulation's section of save games, "SECT" ... "/SEC": the root's
// words, every object of the ID table with its object data, turrets and dock
// ports, and every take, as big-endian words; references are written as
// object IDs, instance ids, scene ids and cut ids and turned back into
// pointers once every record is read.
#pragma once

#include <cstdint>

#include "space/cutscene.h"
#include "space/records.h"

struct QelFile;

// Block lengths in bytes.
constexpr int32_t SA_SAVE_ROOT_BYTES = 108;
constexpr int32_t SA_SAVE_FIXED_BYTES = 200;
constexpr int32_t SA_SAVE_OLD_FIXED_BYTES = 172;  // older saves: words 43 to 49 read as 0
constexpr int32_t SA_SAVE_TURRET_BYTES = 88;
constexpr int32_t SA_SAVE_PORT_BYTES = 64;
constexpr int32_t SA_SAVE_TAKE_BYTES = 20;
// Bounds of ours on what a section may ask the reader for.
constexpr int32_t SA_SAVE_MAX_NAME = 1024;         // bytes of a name with its terminating zero
constexpr int32_t SA_SAVE_MAX_TAKE_PATHS = 65536;  // path words of a take whose cut is not loaded

// The special block's length of a main type (0 for main types without one).
int32_t SA_SpecialBlockBytes(int32_t mainType);

// Writes the section; 1, or 0 when a write fell short.
int SA_SaveSectors(QelFile* file);
// Reloads the effects file and the types database, then SA_ReadSectors.
int SA_LoadSectors(QelFile* file);
// Reads the section into the root (whose objects are gone): 1 when it ends
// with "/SEC"; 0 after a log line on a wrong tag or a corrupt record, with
// what was read before kept in the tables. After a load the next new object
// takes an ID above every loaded one.
int SA_ReadSectors(QelFile* file);

// One object record ("SOBJ" on) and one take record ("STAK" on); 1 when written.
int O_SaveObject(SectorObject* object, QelFile* file);
int ST_SaveTakes(SA_Take* take, QelFile* file);
