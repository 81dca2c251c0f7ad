// STANDIN: see standin.h.
#include "scene/standin.h"

#include "base/memory.h"
#include "base/standin_calls.h"
#include "render/pixelformat.h"

// The records are freed here; closing the renderer waits for its module.
void B3D_FreeTextureFormats() {
    StandIn_Record("B3D_FreeTextureFormats");
    if (!g_B3DState) return;
    QelTable* t = g_B3DState->textureFormats;
    while (uint32_t k = Qel_TableNext(t, 0))
        Int_FreeRecord(reinterpret_cast<TextureBitmapFormat*>(Qel_TableRemove(t, k)), 0);
    g_B3DState->textureFormatWords[0] = -1;
    g_B3DState->textureFormatWords[1] = -1;
}
