#include "scene/sound3d.h"

#include "system/sound.h"

B3DSoundLink g_B3DSoundLink = {};

void B3D_InstStopSound(Inst3D* inst) {
    if (!inst || !(inst->flags2 & INST2_SOUND_CHANNEL)) return;
    if (g_B3DSoundLink.stopChannel) g_B3DSoundLink.stopChannel(inst->soundChannel, inst->soundId);
    else Int_StopSoundEffect(inst->soundChannel);
    inst->flags2 &= ~INST2_SOUND_CHANNEL;
    inst->soundChannel = -1;
}
