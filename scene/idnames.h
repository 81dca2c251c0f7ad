// The id name block: the file names of the dynamic body and cut ids, written
// into recordings and save games and read back before anything that names
// those ids, so that an id means the same body or cut on both sides.
#pragma once

#include <cstdint>

struct QelFile;

// Dynamic entries one table may hold in a name block (body ids from 100000
// on belong to bodies embedded in cuts); a larger count marks a bad block.
constexpr uint32_t B3D_MAX_DYNAMIC_NAMES = 80000;

// How a name of 256 bytes or more is written: recordings write its length
// modulo 256 (a 256-byte name has length 0 and no bytes), save games its
// first 255 bytes.
enum class B3DNameRule { Modulo, Truncate };

// Writes the block (without its tag): the dynamic body count, per dynamic
// body slot a length byte and that many bytes of the name (by the rule), then
// the same for the cuts. 1 when every byte was written.
int32_t B3D_RecordNames(QelFile* file, B3DNameRule rule);
// Drops the dynamic body and cut slots and fills them from the block; every
// body slot read gets the words of an id without types data (-2, -2, -1).
// Then the lens flares and body dummies are read again, as their body ids may
// have moved. 1, or 0 when the stream ends inside the block or a count is
// beyond B3D_MAX_DYNAMIC_NAMES (the slots read so far stay).
int32_t B3D_ReadIdNameTables(QelFile* file);
