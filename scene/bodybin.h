// Binary body files (".bob", packed ".pbb"): nests of chunks with big-endian
// fields, read into a Body3D and written from one.
#pragma once

#include <cstdint>

#include "scene/bodyrecord.h"

class VRMFile;

// Reads "v\%05d.pbb" (packed files on) or "v\%05d.bob" ("v\%s.*" for a body
// given by name), or the stream at its position (an embedded body). Null for
// a missing file and for any format error (the caller then tries the text form).
Body3D* B3D_LoadBodyBin(VRMFile* stream, int32_t bodyId, const char* name = nullptr);
// Writes "v\%05d.bob" ("v\%s.bob" for a name) through a temporary file that
// replaces it only when every write and the close succeeded; 1 on success.
int32_t B3D_SaveBodyBin(const Body3D* body, const char* name = nullptr);
// Writes the body's chunks to an open binary writer (the embedded form).
void B3D_WriteBodyChunks(VRMFile* w, const Body3D* body);
