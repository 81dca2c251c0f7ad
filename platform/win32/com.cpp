#include "platform/win32/com.h"

#include <vector>

namespace {

struct RegisteredClass {
    GUID clsid;
    Win32_ClassFactory factory;
};

std::vector<RegisteredClass>& Classes() {
    static std::vector<RegisteredClass> classes;
    return classes;
}

bool SameGuid(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}

}  // namespace

HRESULT CoCreateInstance(const GUID& clsid, void* outer, DWORD, const GUID& iid, void** out) {
    if (!out) return E_INVALIDARG;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    for (const RegisteredClass& c : Classes()) {
        if (c.factory && SameGuid(clsid, c.clsid)) return c.factory(iid, out);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

void Win32_RegisterClass(const GUID& clsid, Win32_ClassFactory factory) {
    for (RegisteredClass& c : Classes()) {
        if (SameGuid(clsid, c.clsid)) {
            c.factory = factory;
            return;
        }
    }
    if (factory) Classes().push_back({clsid, factory});
}
