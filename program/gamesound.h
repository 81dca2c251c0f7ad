// Game sound (SFX_, CD_: engine-call module 5).
//
// STUB: the module is not built yet. SFX_Init registers the module in its
// place so the module numbers stay as they will be; every call answers 0 and
// every per-frame and exit step is recorded (program/standin_calls.h).
#pragma once

#include <cstdint>

struct SfxState {
    int32_t moduleNumber;
};
// Null before SFX_Init and after SFX_Exit.
extern SfxState* g_SfxState;

SfxState* SFX_Init();
// The sound-effect table "Sounds.txt"; last step of start-up.
void SFX_InitSounds();
// Per frame, after the message pump.
void SFX_VBI();
// End of a story: stops and frees every loaded effect.
void SFX_ReleaseSounds();
// Location reset: frees the loaded samples.
void SFX_IntFreeSample(int flag);
void SFX_FreeAllSamples();
void SFX_Exit();
