// What the scene engine reads of a loaded body: its bone names.
#pragma once

#include <cstdint>

// The bone names of a body's first level, null (count 0) for a body without bones.
const char* const* B3D_BodyGetBones(const void* body, int32_t* count);
