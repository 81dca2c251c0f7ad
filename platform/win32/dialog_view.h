// The view of the dialog model (dialog.h): a window per shown dialog, drawn
// with Dear ImGui. Used only by the model.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/win32/dialog.h"

// True under drivers that show nothing (offscreen, dummy): a dialog cannot wait there for a click.
bool DlgView_Headless();
// Shows the dialogs until this one has ended; false when no window can be made.
bool DlgView_Run(HWND dialog);
// One frame of the topmost dialog, read back (rows top first).
bool DlgView_RenderFrame(int* width, int* height, std::vector<uint8_t>* rgba);
// Closes the windows of the dialogs that are no longer open.
void DlgView_CloseEnded();
