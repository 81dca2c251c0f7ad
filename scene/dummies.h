// The types files read after the catalogue tables: "BodyDummies" marks bodies
// as dummies in the body id table, "Lensflares" holds the lens flares as lists
// of flare elements, and "Materials" fills the texture table with the
// material definitions that older body files refer to by number. Also the dump
// of the bodies in use.
#pragma once

#include <cstdint>

// One flare element of a lens flare, 20 bytes.
struct B3DLensFlareElement {
    int32_t bodyId;
    int32_t value;  // 16.16
    int32_t words[2];
    int16_t half;
};
static_assert(sizeof(B3DLensFlareElement) == 20);

// Each answers 1 when its file was read to the end, 0 otherwise; a file that
// cannot be opened leaves its table as it was.
int32_t B3DB_LoadBodyDummies();
int32_t B3DB_LoadLensflares();
// Also reads the texture animations ("Animations") once the table is made.
int32_t B3DB_LoadMaterials();
// Body ids may change with a save game's or recording's name tables: frees the
// lens flares and reads "Lensflares" and "BodyDummies" again.
void B3DB_ReloadLensflaresAndDummies();
// Frees the material definitions (the texture table's info records).
void B3DB_FreeMaterials();

// Runs the memory flush, then logs "<body id> <use count>" per used body slot.
void B3D_DumpUsedBodies();
