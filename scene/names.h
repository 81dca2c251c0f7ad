// Bodies and cuts by name: a file name becomes an id (a new name takes the
// next dynamic id), an id becomes its file name; texture ids by name, the text
// metrics of texture fonts, and the per-texture records of a scene-buffer
// entry.
#pragma once

#include <cstdint>
#include <string>

#include "scene/lists.h"

// 0 for no cut or body ("NULL", "Null", "null"; for bodies also ""), -1 when a
// new dynamic slot cannot be made.
int32_t B3D_GetCutID(const char* name);
int32_t B3D_GetBodyID(const char* name);

// The slot's name, else "cut\%05d" / "v\%05d" with the folder or "%d"
// without; "" when the id has no slot.
std::string B3D_GetCutFilename(int32_t id, int32_t withFolder);
std::string B3D_GetBodyFilename(int32_t id, int32_t withFolder);

// The three menu textures keep the ids they got on the first call.
uint16_t B3D_GetTextureID(const char* name);
// The kept menu-texture ids belong to one texture table; a new table drops them.
void B3D_ForgetMenuTextures();

// In texture units: divided by the texture text scale of the SystemState.
int32_t B3D_TexTextHeight(int32_t font, uint32_t style);
int32_t B3D_TexTextWidth(int32_t font, uint32_t style, const char* text);

// A per-texture record of a scene-buffer entry; the words are the scene-buffer
// build's.
struct B3DSceneBufferTexRecord {
    B3DListNode link;
    uint16_t textureId;
    int32_t words[6];
};

// The record of a texture in an entry's record list, appended (zeroed, from
// the I pool) on first use; null when the pool fails.
B3DSceneBufferTexRecord* B3D_SceneBufferTexEntry(B3DList* records, int32_t textureId);

// Test seam: the next n growths of a dynamic id table fail.
void B3D_FailNextIdGrowth(int32_t n);
