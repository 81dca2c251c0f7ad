// STANDIN: the save-game container. P_Save reports failure; P_Load cannot
// read a save game and ends the program as for a damaged one (exit reason 29).
#pragma once

#include <cstdint>

// 1 saved, 0 failed.
int P_Save(int32_t slot, const char* name1, const char* name2, uint32_t value);
// Restores the story name, start mode and start scene of the slot; ends the
// program when the save game cannot be read.
void P_Load(int32_t slot);
