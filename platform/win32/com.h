// COM-style creation by class id. Each platform stand-in registers the classes
// it serves (the sound device with EAX, the movie streams and filters); callers
// create them without knowing which stand-in answers.
#pragma once

#include "platform/win32/basetypes.h"

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111u);

// E_INVALIDARG without out, CLASS_E_NOAGGREGATION with outer, CLASS_E_CLASSNOTAVAILABLE
// for a class nobody registered; otherwise what the class's factory answers.
HRESULT CoCreateInstance(const GUID& clsid, void* outer, DWORD context, const GUID& iid, void** out);

// Makes one object of the class for the interface iid.
using Win32_ClassFactory = HRESULT (*)(const GUID& iid, void** out);
// Registering a class again replaces its factory; a null factory forgets it.
void Win32_RegisterClass(const GUID& clsid, Win32_ClassFactory factory);
