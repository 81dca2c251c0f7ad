// STANDIN: the body record: the bone list, all that the scene placement reads
// of a body today.
#pragma once

#include <cstdint>

struct B3DBodyBones {
    int32_t boneCount;
    const char* const* boneNames;
};
