// What the scene engine reads of a loaded body: its bone names (bodies.cpp is
// a stand-in until the body records come).
#pragma once

#include <cstdint>

// The bone names of a body, null (count 0) for a body without bones.
const char* const* B3D_BodyGetBones(const void* body, int32_t* count);
