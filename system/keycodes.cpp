#include "system/keycodes.h"

#include <array>
#include <cstring>

#include "platform/dinput/dinput.h"
#include "system/entry.h"
#include "system/window.h"

int32_t g_InputDeviceCount = 0;

namespace {

struct KeyPair {
    uint16_t keyCode;
    uint8_t scanCode;
};

// Each key code and each scan code occurs once. Codes 258-360 follow the curses
// numbering of special keys, 409 and up are the engine's own.
constexpr KeyPair kKeyPairs[] = {
    {8, 14},    {9, 15},    {13, 28},   {27, 1},    {32, 57},   {39, 40},   {44, 51},   {45, 12},   {46, 52},
    {47, 53},   {48, 11},   {49, 2},    {50, 3},    {51, 4},    {52, 5},    {53, 6},    {54, 7},    {55, 8},
    {56, 9},    {57, 10},   {59, 39},   {61, 13},   {91, 26},   {92, 43},   {93, 27},   {97, 30},   {98, 48},
    {99, 46},   {100, 32},  {101, 18},  {102, 33},  {103, 34},  {104, 35},  {105, 23},  {106, 36},  {107, 37},
    {108, 38},  {109, 50},  {110, 49},  {111, 24},  {112, 25},  {113, 16},  {114, 19},  {115, 31},  {116, 20},
    {117, 22},  {118, 47},  {119, 17},  {120, 45},  {121, 21},  {122, 44},  {258, 208}, {259, 200}, {260, 203},
    {261, 205}, {262, 199}, {265, 59},  {266, 60},  {267, 61},  {268, 62},  {269, 63},  {270, 64},  {271, 65},
    {272, 66},  {273, 67},  {274, 68},  {275, 87},  {276, 88},  {277, 100}, {278, 101}, {279, 102}, {330, 211},
    {331, 210}, {338, 209}, {339, 201}, {360, 207}, {409, 56},  {410, 184}, {411, 29},  {412, 157}, {413, 42},
    {414, 54},  {415, 58},  {416, 69},  {417, 70},  {418, 71},  {419, 72},  {420, 73},  {421, 74},  {422, 75},
    {423, 76},  {424, 77},  {425, 78},  {426, 79},  {427, 80},  {428, 81},  {429, 82},  {430, 83},  {431, 156},
    {432, 181}, {433, 183}, {434, 219}, {435, 220}, {436, 221}, {437, 197}, {438, 41},  {439, 55},  {440, 112},
    {441, 115}, {442, 121}, {443, 123}, {444, 125}, {445, 126}, {446, 141}, {447, 144}, {448, 145}, {449, 146},
    {450, 147}, {451, 148}, {452, 149}, {453, 150}, {454, 151}, {455, 153}, {456, 160}, {457, 161}, {458, 162},
    {459, 164}, {460, 174}, {461, 176}, {462, 178}, {463, 179}, {464, 222}, {465, 223}, {466, 227}, {467, 229},
    {468, 230}, {469, 231}, {470, 232}, {471, 233}, {472, 234}, {473, 235}, {474, 236}, {475, 237}, {476, 86},
};
static_assert(std::size(kKeyPairs) == 144);

}  // namespace

uint32_t S_KeyCodeToDIK(uint32_t keyCode) {
    if (keyCode < 8 || keyCode > 476) return 0;
    for (const KeyPair& p : kKeyPairs)
        if (p.keyCode == keyCode) return p.scanCode;
    return 0;
}

uint32_t S_DIKToKeyCode(uint32_t scanCode) {
    if (scanCode < 1 || scanCode > 237) return 0;
    for (const KeyPair& p : kKeyPairs)
        if (p.scanCode == scanCode) return p.keyCode;
    return 0;
}

static void ReleaseDevice(IDirectInputDevice8*& device) {
    if (!device) return;
    device->Unacquire();
    device->Release();
    device = nullptr;
}

void S_ReleaseInputDevices() {
    ApplicationRecord& app = g_ApplicationRecord;
    ReleaseDevice(app.mouseDevice);
    ReleaseDevice(app.keyboardDevice);
    if (app.joystickDevice) {
        // Slots whose effect could not be made are empty.
        if (InputState* in = g_InputState) {
            uint32_t count = in->effectCount < 4 ? in->effectCount : 4;
            for (uint32_t i = 0; i < count; ++i) {
                if (auto* effect = static_cast<IDirectInputEffect*>(in->effects[i].effect)) effect->Release();
                in->effects[i].effect = nullptr;
            }
        }
        ReleaseDevice(app.joystickDevice);
    }
    if (app.directInput) {
        app.directInput->Release();
        app.directInput = nullptr;
    }
}

static BOOL CopyFirstGuid(const void* record, void* guid) {
    // Device and effect records alike hold the GUID right after their size word.
    if (guid) std::memcpy(guid, static_cast<const uint8_t*>(record) + sizeof(DWORD), sizeof(GUID));
    return DIENUM_STOP;
}

BOOL S_EnumFirstGuid(const DIDEVICEINSTANCE* instance, void* guid) { return CopyFirstGuid(instance, guid); }
BOOL S_EnumFirstGuid(const DIEFFECTINFO* info, void* guid) { return CopyFirstGuid(info, guid); }

BOOL S_EnumCountFirstGuid(const DIDEVICEINSTANCE* instance, void* guid) {
    ++g_InputDeviceCount;
    return CopyFirstGuid(instance, guid);
}
