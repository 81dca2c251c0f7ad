// The cockpit's save-game section ("INS "): the system's settings and, per
// cockpit in key order, a block of 1348 bytes, its entry list and its
// lights, with every pointer written as the id of what it points to.
#pragma once

#include <cstdint>

#include "cockpit/cockpits.h"

struct QelFile;

constexpr uint32_t IC_SAVE_HEADER_BYTES = 40;
constexpr uint32_t IC_SAVE_BLOCK_BYTES = 1348;
// The largest entry list a cockpit record may carry: the target overlay's forty.
constexpr uint32_t IC_SAVE_MAX_ENTRIES = 40;

// Writes the section of g_CockpitSystem; 1, or 0 after its line when a write fails.
int ID_Save(QelFile* file);
// Writes one cockpit record; 0 when a write fails.
int IC_Save(const Cockpit* cockpit, QelFile* file);
// Reads the section into g_CockpitSystem: the whole section is read and
// checked before anything is built, so a damaged one (tags, sizes, counts,
// ids) fails with its line and leaves the system as it was; 1 when loaded.
int ID_Load(QelFile* file);
