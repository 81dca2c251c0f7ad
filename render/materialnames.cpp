#include "render/materialnames.h"

#include <cstring>

#include "base/general.h"
#include "base/strings.h"
#include "base/texcache.h"

namespace {
const char* const kSlotNames[6] = {"t_DiffuseTexture",  "t_BumpTexture",    "t_SpecularTexture",
                                   "t_LightMapTexture", "t_CubeMapTexture", "t_DetailTexture"};

bool LowBumpOn() { return g_SystemState && (g_SystemState->videoFlags & S3D_VIDEO_LOW_BUMP); }

int32_t Resolve(const std::string& value, int32_t* textureId) {
    *textureId = static_cast<int32_t>(TC_GetTextureIdByName(value.c_str()));
    return 1;
}
}  // namespace

uint32_t S_3DShaderTextureSlot(const char* name) {
    if (!name || name[0] != 't') return 0;
    for (uint32_t i = 0; i < 6; ++i)
        if (Qel_StrICmp(name, kSlotNames[i]) == 0) return i + 1;
    return 0;
}

std::string S_3DLowBumpName(const char* text) {
    std::string s = text ? text : "";
    const size_t at = s.find("_bump");
    if (at != std::string::npos) s.replace(at, 5, "_low_bump");
    return s;
}

int32_t S_3DResolveMaterialParam(uint32_t slot, const char* name, const char* value, int32_t* textureId) {
    const std::string text = value ? value : "";
    if (slot == 0) {
        if (!name || name[0] != 't') return 0;
        if (Qel_StrICmp(name, "t_BumpTexture") == 0) slot = S3D_SLOT_BUMP;
        else
            for (const char* n :
                 {"t_DiffuseTexture", "t_SpecularTexture", "t_LightMapTexture", "t_DetailTexture", "t_CubeMapTexture"})
                if (Qel_StrICmp(name, n) == 0) slot = S3D_SLOT_DIFFUSE;
        if (slot == 0) return 0;
    }
    if (slot > 6) return 0;
    if (slot == S3D_SLOT_BUMP && LowBumpOn()) return Resolve(S_3DLowBumpName(text.c_str()), textureId);
    return Resolve(text, textureId);
}
