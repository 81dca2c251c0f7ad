// The control matrix: which steering action each analogue input drives, by
// the two selector flags. It holds its defaults from static initialisation
// on; the story reads and changes it through the shell's calls.
#pragma once

#include <cstdint>

// Actions 1..12 steer; 0 is none; 13 and above are refused.
constexpr int32_t STS_ACTION_LIMIT = 13;

struct ControlMatrix {
    // Axis codes 256..261, one table per flag pair: (A 0, B 0), (0, 1), (1, 0), (1, 1).
    int32_t axes[4][6];
    // Codes 512 and 513, one table per flag A.
    int32_t buttons[2][2];
};

constexpr ControlMatrix STS_CONTROL_MATRIX_DEFAULTS = {
    {{1, 2, 6, 7, 3, 8}, {9, 10, 3, 8, 3, 8}, {4, 5, 0, 0, 0, 8}, {4, 5, 0, 0, 0, 8}},
    {{1, 2}, {4, 5}},
};

extern ControlMatrix g_ControlMatrix;

// 256..261 give 0..5, 512 and 513 give 0 and 1, any other code -1.
int32_t STS_ControlCodeIndex(int32_t code);
// The action bound to the code in the table the flags choose (any non-zero
// flag counts as 1; flag B does not matter for 512 and 513); 0 for a code
// without an index.
int32_t STS_GetControlMatrix(int32_t code, int32_t flagA, int32_t flagB);
// Binds the action when the code has an index and the action is below 13;
// otherwise nothing changes.
void STS_SetControlMatrix(int32_t code, int32_t action, int32_t flagA, int32_t flagB);
