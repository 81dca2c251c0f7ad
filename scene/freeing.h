// Releasing bodies and cuts: one cut, all cuts, the bodies no instance shows
// (memory flush), the bodies not drawn this frame (ageing), all bodies; and
// the renderer-facing steps run when the device is reopened or the program
// ends.
#pragma once

#include <cstdint>

#include "scene/records.h"

struct B3DState;

// Releases a cut and everything it owns, with the bodies embedded in its
// file (ids 100000 and up); out of the cut table.
void J3D_FreeCut(J3D_Cut* cut);
// Frees every cut of the cut table.
void J3D_FreeAllCuts();
// Frees the bodies that no instance tree shows and logs the counts.
void B3D_MemoryFlush(B3DState* state);
// Frees the bodies of the catalogue not drawn in this frame.
void B3D_AgeBodies();
// Frees every body of the body list.
void B3D_FreeAllBodies();
// 1 when the renderer started, else 0 after its log line.
int B3D_InitRenderer();
// Every material binding of every body is made again on its next draw.
void B3D_ResetBodyParts();
// Stops the 3D sounds of the enabled scenes that have a listener camera.
void B3D_ScenesUpdateFlags();
// Takes an instance or light that is in the renderer out of it.
void B3D_InstRemoveFromRenderer(Inst3D* inst);
