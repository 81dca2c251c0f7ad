// The registry calls over one text file per application under
// $XDG_CONFIG_HOME/Veldrim/: each value keeps its type and bytes, subkeys are
// sections, names match without regard to case. A file is kept in memory while
// keys in it are open; a key's close writes the changes (so does the process's
// exit), atomically: a synced temporary file, then rename.
#pragma once

#include <cstdint>

#include "platform/win32/basetypes.h"

using HKEY = uintptr_t;
constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000u;
constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;
constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;

constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_OUTOFMEMORY = 14;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr LONG ERROR_CANTWRITE = 1013;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;

constexpr DWORD KEY_QUERY_VALUE = 0x1;
constexpr DWORD KEY_SET_VALUE = 0x2;
constexpr DWORD KEY_READ = 0x20019;
constexpr DWORD KEY_WRITE = 0x20006;
constexpr DWORD KEY_ALL_ACCESS = 0xF003F;
constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, DWORD access, HKEY* result);
LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD reserved, char* className, DWORD options, DWORD access,
                     void* security, HKEY* result, DWORD* disposition);
// data null: the size is reported (and ERROR_MORE_DATA when size was given as 0 with
// a non-null size pointer, as the settings code expects of a size query).
LONG RegQueryValueExA(HKEY key, const char* name, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size);
LONG RegSetValueExA(HKEY key, const char* name, DWORD reserved, DWORD type, const BYTE* data, DWORD size);
LONG RegDeleteValueA(HKEY key, const char* name);
// Deletes the subkey and everything below it.
LONG RegDeleteKeyA(HKEY key, const char* subKey);
// Writes what changed in the key's file: ERROR_CANTWRITE when that fails.
LONG RegCloseKey(HKEY key);

// Test seam.
struct Win32RegistrySeam {
    int failWrites;  // the next n file writes fail (ERROR_CANTWRITE)
    int openKeys;    // keys opened and not yet closed
    int fileWrites;  // settings files written so far
    int syncs;       // files and folders synced to disk so far
};
extern Win32RegistrySeam g_Win32RegistrySeam;
