#include "system/forcefeedback.h"

#include <cstdarg>

#include "base/log.h"
#include "platform/dinput/dinput.h"
#include "system/entry.h"
#include "system/input.h"
#include "system/keycodes.h"
#include "system/window.h"

namespace {

// Gain per InputFFGain setting, in the platform's units (10000 = full).
constexpr DWORD kGains[4] = {0, 5000, 7500, 10000};
constexpr uint32_t kSlotKinds[4] = {FF_HOLD, FF_BOUNCE, FF_EXPLODE, FF_FIRE};

void Note(const char* fmt, ...) QEL_PRINTF_FMT(1, 2);
void Note(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    Qel_VDPrintf(4, fmt, ap);
    va_end(ap);
}

bool Failed(HRESULT hr) { return hr < 0; }

DWORD Gain() {
    int32_t index = g_ApplicationRecord.ffGain;
    return kGains[index < 0 ? 0 : index > 3 ? 3 : index];
}

}  // namespace

void S_FFInit() {
    InputState* in = g_InputState;
    if (!in) return;
    uint32_t count = in->effectCount < 4 ? in->effectCount : 4;
    for (uint32_t i = 0; i < count; ++i) {
        if (auto* effect = static_cast<IDirectInputEffect*>(in->effects[i].effect)) effect->Release();
        in->effects[i].effect = nullptr;
    }
    in->effectCount = 4;
    for (int i = 0; i < 4; ++i) {
        in->effects[i].kind = kSlotKinds[i];
        in->effects[i].effect = S_FFCreateEffects(kSlotKinds[i]);
        if (!in->effects[i].effect) Note("inputCreateEffects() failed - ForceFeedback disabled\n");
    }
}

IDirectInputEffect* S_FFCreateEffects(uint32_t kind) {
    IDirectInputDevice8* joystick = g_ApplicationRecord.joystickDevice;
    if (!joystick) return nullptr;

    DWORD axes[2] = {DIJOFS_X, DIJOFS_Y};
    LONG direction[2] = {0, 0};
    DICONSTANTFORCE constant{DI_FFNOMINALMAX};
    DIEFFECT e{};
    e.dwSize = sizeof e;
    e.dwFlags = DIEFF_OBJECTOFFSETS | DIEFF_CARTESIAN;
    e.dwSamplePeriod = 0;
    e.dwGain = Gain();
    e.dwTriggerButton = DIEB_NOTRIGGER;
    e.dwTriggerRepeatInterval = 0;
    e.cAxes = 2;
    e.rgdwAxes = axes;
    e.rglDirection = direction;
    e.lpEnvelope = nullptr;
    e.cbTypeSpecificParams = sizeof constant;
    e.lpvTypeSpecificParams = &constant;
    e.dwStartDelay = 0;

    GUID guid{};
    HRESULT hr;
    if (kind == FF_BOUNCE || kind == FF_FIRE || kind == FF_HOLD) {
        if (Failed(hr = joystick->EnumEffects(S_EnumFirstGuid, &guid, DIEFT_CONSTANTFORCE))) {
            Note("EnumEffects(Constant Force) failed\n%s\n", S_DIErrorText(hr));
            return nullptr;
        }
    }

    IDirectInputEffect* effect = nullptr;
    switch (kind) {
        case FF_HOLD: {
            // A standing zero force: the stick moves freely instead of springing back.
            constant.lMagnitude = 0;
            e.dwDuration = INFINITE;
            joystick->Unacquire();
            DIPROPDWORD autocenter{};
            autocenter.diph.dwSize = sizeof autocenter;
            autocenter.diph.dwHeaderSize = sizeof autocenter.diph;
            autocenter.diph.dwHow = DIPH_DEVICE;
            autocenter.dwData = DIPROPAUTOCENTER_OFF;
            if (Failed(hr = joystick->SetProperty(DIPROP_AUTOCENTER, &autocenter.diph))) {
                Note("SetProp. Autocenter failed - %s\n", S_DIErrorText(hr));
                return nullptr;
            }
            joystick->Acquire();
            if (Failed(hr = joystick->CreateEffect(guid, &e, &effect, nullptr))) {
                Note("CreateEffect(Constant) failed - %s\n", S_DIErrorText(hr));
                return nullptr;
            }
            if (Failed(hr = effect->Start(1, 0))) {
                Note("Start(CONST effect) failed:%s\n", S_DIErrorText(hr));
                effect->Release();
                return nullptr;
            }
            return effect;
        }
        case FF_BOUNCE:
            e.dwFlags = DIEFF_OBJECTOFFSETS | DIEFF_POLAR;
            e.dwDuration = 200000;
            if (Failed(hr = joystick->CreateEffect(guid, &e, &effect, nullptr))) {
                Note("CreateEffect(Bounce) failed - %s\n", S_DIErrorText(hr));
                return nullptr;
            }
            return effect;
        case FF_FIRE:
            axes[0] = DIJOFS_Y;
            direction[0] = 1;
            e.cAxes = 1;
            e.dwDuration = 20000;
            if (Failed(hr = joystick->CreateEffect(guid, &e, &effect, nullptr))) {
                Note("CreateEffect(Fire) failed - %s\n", S_DIErrorText(hr));
                return nullptr;
            }
            return effect;
        case FF_EXPLODE: {
            if (Failed(hr = joystick->EnumEffects(S_EnumFirstGuid, &guid, DIEFT_PERIODIC))) {
                Note("EnumEffects(Periodic Force) failed:%s\n", S_DIErrorText(hr));
                return nullptr;
            }
            DIPERIODIC periodic{DI_FFNOMINALMAX, 0, 0, 100000};
            DIENVELOPE envelope{sizeof(DIENVELOPE), 0, 0, 0, 1000000};
            e.cAxes = 1;
            e.dwDuration = 1000000;
            e.lpEnvelope = &envelope;
            e.cbTypeSpecificParams = sizeof periodic;
            e.lpvTypeSpecificParams = &periodic;
            if (Failed(hr = joystick->CreateEffect(guid, &e, &effect, nullptr))) {
                Note("CreateEffect(Explode) failed - %s\n", S_DIErrorText(hr));
                return nullptr;
            }
            return effect;
        }
        default: return nullptr;
    }
}

int S_FFStartEffect(int32_t direction) {
    InputState* in = g_InputState;
    if (!in || !(in->flags & INPUT_FORCE_FEEDBACK)) return 1;
    IDirectInputEffect* bounce = nullptr;
    uint32_t count = in->effectCount < 4 ? in->effectCount : 4;
    for (uint32_t i = 0; i < count; ++i)
        if (in->effects[i].kind == FF_BOUNCE) bounce = static_cast<IDirectInputEffect*>(in->effects[i].effect);
    if (!bounce) return 0;

    LONG directions[2] = {direction, 0};
    DIEFFECT e{};
    e.dwSize = sizeof e;
    e.dwFlags = DIEFF_OBJECTOFFSETS | DIEFF_POLAR;
    e.cAxes = 2;
    e.rglDirection = directions;
    HRESULT hr;
    if (Failed(hr = bounce->SetParameters(&e, DIEP_DIRECTION))) {
        Note("SetParameters(Bounce effect) failed:%s\n", S_DIErrorText(hr));
        return 0;
    }
    if (Failed(hr = bounce->Start(1, 0))) {
        Note("Start(Bounce effect) failed:%s\n", S_DIErrorText(hr));
        return 0;
    }
    return 1;
}
