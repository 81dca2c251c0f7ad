// What the scene engine reads of a loaded body: its bone names.
#pragma once

#include <cstdint>
#include <string>

class VRMFile;

// The bone names of a body's first level, null (count 0) for a body without bones.
const char* const* B3D_BodyGetBones(const void* body, int32_t* count);

// Opens a body's file in "v\": the packed form first when packed files are on
// (start flag 0x20), then the plain one; named by `name`, else by the id. The
// opened file's name goes to *file, and `caller` heads the line that says so.
VRMFile* B3D_OpenBodyFile(int32_t bodyId, const char* name, bool binary, const char* caller, std::string* file);
