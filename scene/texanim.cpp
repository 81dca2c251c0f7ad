// STANDIN: the texture-animation layer of materials and instances: an override
// array here is one material record holding a texture id and a texture
// matrix, which is all the scene operations need of it.
#include "scene/texanim.h"

#include "base/memory.h"

namespace {
struct StandInMaterial {
    int32_t textureId;
    QelMatrix matrix;
};
constexpr uint32_t kFlags = 0;
}  // namespace

void B3D_InstSetExtraMatrix(Inst3D* inst, int32_t textureId, const QelMatrix* matrix) {
    B3D_InstFreeMaterialOverrides(inst);
    auto* m = Int_AllocRecord<StandInMaterial>(kFlags);
    if (!m) return;
    m->textureId = textureId;
    m->matrix = *matrix;
    inst->materialOverrides = m;
    inst->materialOverrideCount = 1;
    inst->flags2 |= INST2_EXTRA_TEXMATRIX;
}

void B3D_InstFreeMaterialOverrides(Inst3D* inst) {
    if (inst->materialOverrides) Int_FreeRecord(static_cast<StandInMaterial*>(inst->materialOverrides), kFlags);
    inst->materialOverrides = nullptr;
    inst->materialOverrideCount = 0;
}

void* B3D_NewTextureMaterial(int32_t textureId) {
    auto* m = Int_AllocRecord<StandInMaterial>(kFlags);
    if (m) {
        m->textureId = textureId;
        Qel_MatIdentity(&m->matrix);
    }
    return m;
}

void B3D_FreeTextureMaterial(void* material) { Int_FreeRecord(static_cast<StandInMaterial*>(material), kFlags); }
