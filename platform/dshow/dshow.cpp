#include "platform/dshow/dshow.h"

HRESULT DShow_CreateInstance(const GUID&, const GUID&, void** out) {
    if (out) *out = nullptr;
    return DSERR_CLASSNOTAVAILABLE;
}
