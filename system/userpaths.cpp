#include "system/userpaths.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/file.h"
#include "base/general.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/strings.h"

// The user-data folder, computed on first use and kept for the process.
static char* s_userDataDir = nullptr;

static char* HeapCopy(const std::string& s) {
    char* p = static_cast<char*>(Int_AllocMem(s.size() + 1, 0));
    if (p) memcpy(p, s.c_str(), s.size() + 1);
    return p;
}

static char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; }

static bool EqualNoCase(const char* a, const char* b) {
    while (*a && LowerAscii(*a) == LowerAscii(*b)) ++a, ++b;
    return *a == 0 && *b == 0;
}

// The personal folder of this platform: $XDG_DATA_HOME, else ~/.local/share.
static bool PersonalFolder(std::string* out) {
    const char* xdg = getenv("XDG_DATA_HOME");
    if (xdg && xdg[0] == '/') {
        *out = xdg;
        return true;
    }
    const char* home = getenv("HOME");
    if (home && home[0]) {
        *out = std::string(home) + "/.local/share";
        return true;
    }
    return false;
}

// The personal folder always exists on the platform the game was made for;
// here a fresh account may lack ~/.local/share, so it is made with its parents.
static bool MakeFolders(const std::string& path) {
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '/') continue;
        std::string part = path.substr(0, i);
        if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

char* Qel_GetUserDataDir() {
    std::string personal;
    const char* app = (g_SystemState && g_SystemState->app) ? g_SystemState->app->appName : nullptr;
    if (PersonalFolder(&personal) && MakeFolders(personal) && app && app[0]) {
        std::string veldrim = personal + "\\Veldrim";
        if (Qel_fsize(0, veldrim.c_str()) != -2) Qel_MakeDir(veldrim.c_str(), 0);
        std::string dir = veldrim + "\\" + app;
        if (Qel_fsize(0, dir.c_str()) == -2 || Qel_MakeDir(dir.c_str(), 0)) return HeapCopy(dir);
    }
    return HeapCopy(".");
}

void Qel_ForgetUserDataDir() { s_userDataDir = Qel_StrFree(s_userDataDir); }

char* Qel_ResolvePath(const char* path, int userRelative) {
    if (!path) return nullptr;
    std::string s;
    if (userRelative) {
        if (!s_userDataDir) {
            char* dir = Qel_GetUserDataDir();
            // Without an application there is no folder to keep yet.
            if (g_SystemState && g_SystemState->app) s_userDataDir = dir;
            else {
                s = dir ? dir : ".";
                Qel_StrFree(dir);
            }
        }
        if (s_userDataDir) s = s_userDataDir;
        s += "\\";
    }
    s += path;
    std::replace(s.begin(), s.end(), '/', '\\');
    return HeapCopy(s);
}

// Finds a name in a folder without regard to case; the smallest match in byte
// order wins when several names differ only in case.
static bool FindNoCase(const std::string& folder, const std::string& component, std::string* found) {
    DIR* d = opendir(folder.empty() ? "." : folder.c_str());
    if (!d) return false;
    bool hit = false;
    while (dirent* e = readdir(d)) {
        if (EqualNoCase(e->d_name, component.c_str()) && (!hit || strcmp(e->d_name, found->c_str()) < 0)) {
            *found = e->d_name;
            hit = true;
        }
    }
    closedir(d);
    return hit;
}

char* Qel_DiskPath(const char* name) {
    if (!name) return nullptr;
    std::string path(name);
    std::replace(path.begin(), path.end(), '\\', '/');
    struct stat st;
    if (path.empty() || lstat(path.c_str(), &st) == 0) return HeapCopy(path);

    // Walk the components; once one is missing the rest are kept as given.
    std::string out = (path[0] == '/') ? "/" : "";
    bool missing = false;
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t slash = path.find('/', pos);
        if (slash == std::string::npos) slash = path.size();
        std::string comp = path.substr(pos, slash - pos);
        pos = slash + 1;
        if (comp.empty()) continue;
        if (!out.empty() && out.back() != '/') out += '/';
        std::string found;
        if (missing || comp == "." || comp == "..") {
            out += comp;
        } else if (lstat((out + comp).c_str(), &st) == 0) {
            out += comp;
        } else if (FindNoCase(out, comp, &found)) {
            out += found;
        } else {
            out += comp;
            missing = true;
        }
    }
    if (path.size() > 1 && path.back() == '/' && out.back() != '/') out += '/';
    return HeapCopy(out);
}

int Qel_MakeDir(const char* path, int userRelative) {
    char* resolved = Qel_ResolvePath(path, userRelative);
    char* disk = Qel_DiskPath(resolved);
    errno = disk ? 0 : ENOENT;
    int ok = disk && mkdir(disk, 0777) == 0;
    const int err = errno;
    Qel_StrFree(disk);
    Qel_StrFree(resolved);
    // A folder that is there already is the usual answer, not a failure.
    if (!ok && err != EEXIST && path) {
        char* where = Qel_DescribeFile(path, userRelative);
        Qel_ErrPrintf("Folder %s: cannot make it: %s\n", where ? where : path, std::strerror(err));
        Qel_StrFree(where);
    }
    return ok ? 1 : 0;
}

int Qel_FileExists(const char* path) {
    char* disk = Qel_DiskPath(path);
    struct stat st;
    int ok = disk && stat(disk, &st) == 0;
    Qel_StrFree(disk);
    return ok ? 1 : 0;
}

bool Qel_WildcardMatch(const char* pattern, const char* name) {
    if (strcmp(pattern, "*.*") == 0) return true;
    // Iterative '*' / '?' matching with one backtrack point.
    const char* p = pattern;
    const char* n = name;
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*n) {
        if (*p == '?' || (*p && *p != '*' && LowerAscii(*p) == LowerAscii(*n))) {
            ++p, ++n;
        } else if (*p == '*') {
            star = p++;
            resume = n;
        } else if (star) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (*p == '*') ++p;
    if (*p == 0) return true;
    // "name.*" also matches "name", as the platform's listing does.
    return strcmp(p, ".*") == 0 || strcmp(p, ".") == 0;
}

QelDirListing* Qel_OpenDir(const char* pattern, const char* folder, int userRelative) {
    if (!pattern || !pattern[0]) pattern = "*.*";
    std::string full = (folder && folder[0]) ? std::string(folder) + "\\" + pattern : std::string(pattern);
    char* resolvedRaw = Qel_ResolvePath(full.c_str(), userRelative);
    std::string resolved = resolvedRaw ? resolvedRaw : "";
    Qel_StrFree(resolvedRaw);

    size_t cut = resolved.rfind('\\');
    std::string dirName = (cut == std::string::npos) ? "." : resolved.substr(0, cut + 1);
    std::string mask = (cut == std::string::npos) ? resolved : resolved.substr(cut + 1);
    char* diskRaw = Qel_DiskPath(dirName.c_str());
    std::string disk = diskRaw ? diskRaw : ".";
    Qel_StrFree(diskRaw);

    std::vector<std::string> names;
    if (DIR* d = opendir(disk.c_str())) {
        while (dirent* e = readdir(d))
            if (Qel_WildcardMatch(mask.c_str(), e->d_name)) names.emplace_back(e->d_name);
        closedir(d);
    }
    if (names.empty()) {
        Qel_ErrPrintf("error opening dir: %s\n", resolved.c_str());
        return nullptr;
    }
    // "." and ".." first, then the names in the order the platform listed them
    // on its own file system (without regard to case).
    auto rank = [](const std::string& s) { return s == "." ? 0 : s == ".." ? 1 : 2; };
    std::sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
        if (rank(a) != rank(b)) return rank(a) < rank(b);
        int c = strcasecmp(a.c_str(), b.c_str());
        return c != 0 ? c < 0 : a < b;
    });

    std::string block;
    for (const std::string& n : names) block.append(n).push_back('\0');
    auto* dir = Int_AllocRecord<QelDirListing>(0);
    if (!dir) return nullptr;
    dir->names = static_cast<char*>(Int_AllocMem(block.size(), 0));
    if (!dir->names) {
        Int_FreeRecord(dir, 0);
        return nullptr;
    }
    memcpy(dir->names, block.data(), block.size());
    dir->namesSize = uint32_t(block.size());
    dir->count = uint32_t(names.size());
    dir->next = 0;
    dir->firstPending = 1;
    return dir;
}

const char* Qel_NextDirEntry(QelDirListing* dir) {
    if (!dir) return nullptr;
    if (dir->firstPending) dir->firstPending = 0;
    if (dir->next >= dir->namesSize) return nullptr;
    const char* p = dir->names + dir->next;
    dir->next += uint32_t(strlen(p) + 1);
    snprintf(dir->name, sizeof dir->name, "%s", p);
    return dir->name;
}

void Qel_CloseDir(QelDirListing* dir) {
    if (!dir) return;
    Int_FreeMem(dir->names, dir->namesSize, 0);
    Int_FreeRecord(dir, 0);
}
