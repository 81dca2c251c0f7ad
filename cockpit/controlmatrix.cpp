#include "cockpit/controlmatrix.h"

// Constant initialisation: the defaults are in place before any code runs.
constinit ControlMatrix g_ControlMatrix = STS_CONTROL_MATRIX_DEFAULTS;

namespace {

constexpr int32_t kFirstAxis = 256;
constexpr int32_t kLastAxis = 261;
constexpr int32_t kFirstButton = 512;
constexpr int32_t kLastButton = 513;

// The entry the code and flags choose, or null for a code without an index.
int32_t* Entry(int32_t code, int32_t flagA, int32_t flagB) {
    const int32_t index = STS_ControlCodeIndex(code);
    if (index < 0) return nullptr;
    const int32_t a = flagA ? 1 : 0;
    if (code >= kFirstButton) return &g_ControlMatrix.buttons[a][index];
    return &g_ControlMatrix.axes[a * 2 + (flagB ? 1 : 0)][index];
}

}  // namespace

int32_t STS_ControlCodeIndex(int32_t code) {
    if (code >= kFirstAxis && code <= kLastAxis) return code - kFirstAxis;
    if (code >= kFirstButton && code <= kLastButton) return code - kFirstButton;
    return -1;
}

int32_t STS_GetControlMatrix(int32_t code, int32_t flagA, int32_t flagB) {
    const int32_t* entry = Entry(code, flagA, flagB);
    return entry ? *entry : 0;
}

void STS_SetControlMatrix(int32_t code, int32_t action, int32_t flagA, int32_t flagB) {
    if (int32_t* entry = Entry(code, flagA, flagB); entry && action < STS_ACTION_LIMIT) *entry = action;
}
