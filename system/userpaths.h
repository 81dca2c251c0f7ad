// The per-user data folder, name resolution, the one place where names become
// paths on disk, and directory listings.
//
// Names arrive Windows-style ('\', any case). Qel_ResolvePath keeps that form;
// Qel_DiskPath turns it into a Linux path, resolving every component without
// regard to case (the exact name is tried first). Every disk access of the
// file layer and of this module goes through Qel_DiskPath.
#pragma once

#include <cstdint>

// The per-user folder: $XDG_DATA_HOME (default ~/.local/share) + "\Veldrim\<application>",
// created when missing; "." when it cannot be found or made. A new heap string.
char* Qel_GetUserDataDir();
// With the flag: "<user folder>\<path>"; without: a copy. Every '/' becomes '\'.
// A new heap string (Int_AllocMem, length + 1).
char* Qel_ResolvePath(const char* path, int userRelative);
// The Linux path of a resolved name. A new heap string.
char* Qel_DiskPath(const char* name);
// 1 when the folder was created.
int Qel_MakeDir(const char* path, int userRelative);
// 1 when the path exists on disk.
int Qel_FileExists(const char* path);

// A listing of the names in a folder that match a pattern by Windows wildcard
// rules ("*.*" matches every name); "." and ".." are listed first.
struct QelDirListing {
    char* names;  // matching names, NUL-terminated, back to back
    uint32_t namesSize;
    uint32_t count;
    uint32_t next;          // offset of the next name in names
    uint32_t firstPending;  // 1 after opening: the first name is yet to be returned
    char name[260];         // the name handed out last
};

// pattern null = "*.*"; folder null or "" = the current (or the user) folder.
QelDirListing* Qel_OpenDir(const char* pattern, const char* folder, int userRelative);
// The next name, null at the end.
const char* Qel_NextDirEntry(QelDirListing* dir);
void Qel_CloseDir(QelDirListing* dir);

// Windows wildcard match without regard to case.
bool Qel_WildcardMatch(const char* pattern, const char* name);
// Forgets the per-user folder kept since its first use (tests point
// XDG_DATA_HOME somewhere new).
void Qel_ForgetUserDataDir();
