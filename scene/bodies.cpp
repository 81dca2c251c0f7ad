// STANDIN: the body records: a body stored in the body table is read as a
// B3DBodyBones record (bone count and names).
#include "scene/bodies.h"

#include "scene/bodies_standin.h"

const char* const* B3D_BodyGetBones(const void* body, int32_t* count) {
    const auto* b = static_cast<const B3DBodyBones*>(body);
    *count = b ? b->boneCount : 0;
    return b ? b->boneNames : nullptr;
}
