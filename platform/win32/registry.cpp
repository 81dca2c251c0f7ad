// The registry over text files. Keys below HKEY_CURRENT_USER "Software\Veldrim\<app>"
// live in $XDG_CONFIG_HOME/Veldrim/<app>.reg, one section per subkey; any other
// key lives in "other.reg" under its full path. The machine's owner is answered
// from the account ("Software\Microsoft\Windows\CurrentVersion" "RegisteredOwner").
//
// File form, one item a line:
//   key "<subkey path>"                    (the application key itself is "")
//   value "<name>" <type> <hex bytes>
// Quoted texts escape '"', '\' and bytes outside 0x20..0x7E as \xHH.
//
// A file is read once when a key in it is opened and kept in memory while any of
// its keys is open; changes are written when a key is closed (and, for keys
// still open, when the process exits), whole, to a temporary file that is
// synced to disk before it replaces the old one, so a power cut leaves the old
// settings or the new ones, never an empty file.
#include "platform/win32/registry.h"

#include <pwd.h>
#include <strings.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

Win32RegistrySeam g_Win32RegistrySeam;

namespace {

const char kVeldrimPrefix[] = "Software\\Veldrim";
const char kWindowsKey[] = "Software\\Microsoft\\Windows\\CurrentVersion";

struct Value {
    std::string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

struct Section {
    std::string path;
    std::vector<Value> values;
};

struct Store {
    std::vector<Section> sections;
};

struct KeyHandle {
    HKEY root;
    std::string path;  // normalised: no leading/trailing '\', single separators
    std::string file;  // the file the key lives in; empty for keys of no file
};

// A file's store while keys in it are open.
struct CachedFile {
    Store store;
    bool dirty = false;
    int handles = 0;
};

std::map<std::string, CachedFile>& Cache() {
    static std::map<std::string, CachedFile> cache;
    return cache;
}

std::map<HKEY, KeyHandle>& Handles() {
    static std::map<HKEY, KeyHandle> handles;
    return handles;
}
HKEY g_nextHandle = 0x1000;

bool EqualNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

bool StartsWithNoCase(const std::string& s, const std::string& prefix) {
    return s.size() >= prefix.size() && strncasecmp(s.c_str(), prefix.c_str(), prefix.size()) == 0;
}

std::string Normalise(const char* path) {
    std::string out;
    if (!path) return out;
    for (const char* p = path; *p; ++p) {
        char c = *p == '/' ? '\\' : *p;
        if (c == '\\' && (out.empty() || out.back() == '\\')) continue;
        out += c;
    }
    while (!out.empty() && out.back() == '\\') out.pop_back();
    return out;
}

std::string Join(const std::string& a, const std::string& b) {
    if (a.empty()) return b;
    if (b.empty()) return a;
    return a + "\\" + b;
}

std::string ConfigFolder() {
    const char* xdg = getenv("XDG_CONFIG_HOME");
    std::string base;
    if (xdg && *xdg) {
        base = xdg;
    } else {
        const char* home = getenv("HOME");
        if (!home || !*home) {
            const passwd* pw = getpwuid(getuid());
            home = pw ? pw->pw_dir : "/tmp";
        }
        base = std::string(home) + "/.config";
    }
    return base + "/Veldrim";
}

// Key names match without regard to case, and so do the files named after them.
std::string FileNameOf(const std::string& wanted) {
    DIR* dir = opendir(ConfigFolder().c_str());
    if (!dir) return wanted;
    std::string found = wanted;
    while (const dirent* e = readdir(dir))
        if (EqualNoCase(e->d_name, wanted)) {
            found = e->d_name;
            break;
        }
    closedir(dir);
    return found;
}

// Where a key lives: the file and the section inside it. False for a key that
// names no file (the root, "Software", "Software\Veldrim") or an unsafe name.
bool Locate(HKEY root, const std::string& path, std::string* file, std::string* section) {
    if (root != HKEY_CURRENT_USER) {
        *file = ConfigFolder() + "/other.reg";
        *section = std::to_string(root) + "\\" + path;
        return true;
    }
    std::string prefix = std::string(kVeldrimPrefix) + "\\";
    if (StartsWithNoCase(path, prefix) && path.size() > prefix.size()) {
        std::string rest = path.substr(prefix.size());
        size_t cut = rest.find('\\');
        std::string app = rest.substr(0, cut);
        if (app == "." || app == ".." || app.find('/') != std::string::npos) return false;
        *file = ConfigFolder() + "/" + FileNameOf(app + ".reg");
        *section = cut == std::string::npos ? "" : rest.substr(cut + 1);
        return true;
    }
    if (EqualNoCase(path, kVeldrimPrefix) || EqualNoCase(path, "Software") || path.empty()) return false;
    *file = ConfigFolder() + "/other.reg";
    *section = path;
    return true;
}

std::string Quote(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\' || c < 0x20 || c > 0x7E) {
            char buf[8];
            snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads a quoted text at p; false on a malformed one.
bool Unquote(const char*& p, std::string* out) {
    while (*p == ' ') ++p;
    if (*p != '"') return false;
    ++p;
    out->clear();
    while (*p && *p != '"') {
        if (*p == '\\') {
            if (p[1] != 'x' || HexDigit(p[2]) < 0 || HexDigit(p[3]) < 0) return false;
            *out += static_cast<char>(HexDigit(p[2]) * 16 + HexDigit(p[3]));
            p += 4;
        } else {
            *out += *p++;
        }
    }
    if (*p != '"') return false;
    ++p;
    return true;
}

bool Load(const std::string& file, Store* store) {
    store->sections.clear();
    FILE* f = fopen(file.c_str(), "r");
    if (!f) return false;
    std::string line;
    char buf[4096];
    Section* current = nullptr;
    while (true) {
        line.clear();
        bool any = false;
        while (fgets(buf, sizeof buf, f)) {
            any = true;
            line += buf;
            if (!line.empty() && line.back() == '\n') break;
        }
        if (!any) break;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        const char* p = line.c_str();
        if (strncmp(p, "key ", 4) == 0) {
            p += 4;
            std::string path;
            if (!Unquote(p, &path)) continue;
            store->sections.push_back({path, {}});
            current = &store->sections.back();
        } else if (strncmp(p, "value ", 6) == 0 && current) {
            p += 6;
            Value v;
            if (!Unquote(p, &v.name)) continue;
            char* end = nullptr;
            unsigned long type = strtoul(p, &end, 10);
            if (end == p) continue;
            v.type = static_cast<DWORD>(type);
            p = end;
            while (*p == ' ') ++p;
            bool ok = true;
            while (*p && *p != ' ') {
                int hi = HexDigit(p[0]), lo = p[1] ? HexDigit(p[1]) : -1;
                if (hi < 0 || lo < 0) {
                    ok = false;
                    break;
                }
                v.data.push_back(static_cast<BYTE>(hi * 16 + lo));
                p += 2;
            }
            if (ok) current->values.push_back(v);
        }
    }
    fclose(f);
    return true;
}

bool MakeFolder(const std::string& folder) {
    std::string partial;
    for (size_t i = 0; i <= folder.size(); ++i) {
        if (i == folder.size() || (folder[i] == '/' && i > 0)) {
            partial = folder.substr(0, i);
            if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
        }
    }
    return true;
}

bool SyncToDisk(int fd) {
    ++g_Win32RegistrySeam.syncs;
    return fsync(fd) == 0;
}

// Written whole to a temporary file, synced, then renamed over the old one, so
// a crash never leaves half a settings file.
LONG Save(const std::string& file, const Store& store) {
    if (g_Win32RegistrySeam.failWrites > 0) {
        --g_Win32RegistrySeam.failWrites;
        return ERROR_CANTWRITE;
    }
    if (!MakeFolder(file.substr(0, file.rfind('/')))) return ERROR_CANTWRITE;
    std::string temp = file + ".tmp" + std::to_string(getpid());
    FILE* f = fopen(temp.c_str(), "w");
    if (!f) return ERROR_CANTWRITE;
    bool ok = true;
    for (const Section& s : store.sections) {
        ok = ok && fprintf(f, "key %s\n", Quote(s.path).c_str()) >= 0;
        for (const Value& v : s.values) {
            ok = ok && fprintf(f, "value %s %u ", Quote(v.name).c_str(), v.type) >= 0;
            for (BYTE b : v.data) ok = ok && fprintf(f, "%02X", b) >= 0;
            ok = ok && fputc('\n', f) != EOF;
        }
    }
    ok = (fflush(f) == 0) && ok;
    ok = ok && SyncToDisk(fileno(f));
    ok = (fclose(f) == 0) && ok;
    if (!ok || rename(temp.c_str(), file.c_str()) != 0) {
        remove(temp.c_str());
        return ERROR_CANTWRITE;
    }
    // The rename itself reaches the disk only with its folder.
    int folder = open(file.substr(0, file.rfind('/')).c_str(), O_RDONLY | O_DIRECTORY);
    if (folder >= 0) {
        SyncToDisk(folder);
        close(folder);
    }
    ++g_Win32RegistrySeam.fileWrites;
    return ERROR_SUCCESS;
}

Section* FindSection(Store* store, const std::string& path) {
    for (Section& s : store->sections)
        if (EqualNoCase(s.path, path)) return &s;
    return nullptr;
}

Value* FindValue(Section* section, const std::string& name) {
    for (Value& v : section->values)
        if (EqualNoCase(v.name, name)) return &v;
    return nullptr;
}

const KeyHandle* Resolve(HKEY key, std::string* basePath, HKEY* root) {
    if (key == HKEY_CURRENT_USER || key == HKEY_LOCAL_MACHINE || key == HKEY_CLASSES_ROOT) {
        *root = key;
        basePath->clear();
        return nullptr;
    }
    auto it = Handles().find(key);
    if (it == Handles().end()) return reinterpret_cast<const KeyHandle*>(-1);
    *root = it->second.root;
    *basePath = it->second.path;
    return &it->second;
}

bool IsWindowsKey(HKEY root, const std::string& path) {
    return root == HKEY_CURRENT_USER && EqualNoCase(path, kWindowsKey);
}

// The account's full name, else its login name.
std::string OwnerName() {
    const passwd* pw = getpwuid(getuid());
    if (pw && pw->pw_gecos && *pw->pw_gecos) {
        std::string gecos = pw->pw_gecos;
        std::string name = gecos.substr(0, gecos.find(','));
        if (!name.empty()) return name;
    }
    const char* user = getenv("USER");
    if (user && *user) return user;
    return pw && pw->pw_name ? pw->pw_name : "";
}

void FlushAll() {
    for (auto& [file, cached] : Cache())
        if (cached.dirty && Save(file, cached.store) == ERROR_SUCCESS) cached.dirty = false;
}

// The file's store in memory, read on first use; each Acquire is matched by a Release.
CachedFile& Acquire(const std::string& file) {
    std::map<std::string, CachedFile>& cache = Cache();
    static bool s_flushAtExit = false;
    if (!s_flushAtExit) {
        // Keys still open when the program ends keep their changes. Registered
        // after the cache exists, so it runs before the cache is destroyed.
        std::atexit(FlushAll);
        s_flushAtExit = true;
    }
    auto [it, fresh] = cache.try_emplace(file);
    if (fresh) Load(file, &it->second.store);
    ++it->second.handles;
    return it->second;
}

// Writes the file's changes; forgets the store once no key in it is open.
LONG Release(const std::string& file) {
    auto it = Cache().find(file);
    if (it == Cache().end()) return ERROR_SUCCESS;
    CachedFile& cached = it->second;
    LONG result = ERROR_SUCCESS;
    if (cached.dirty) {
        result = Save(file, cached.store);
        cached.dirty = result != ERROR_SUCCESS;
    }
    if (--cached.handles <= 0) Cache().erase(it);
    return result;
}

// The store of a file: the one in memory while a key in it is open, else read
// into scratch. Null when the file is neither.
Store* StoreOf(const std::string& file, Store* scratch) {
    auto it = Cache().find(file);
    if (it != Cache().end()) return &it->second.store;
    return Load(file, scratch) ? scratch : nullptr;
}

bool KeyExists(HKEY root, const std::string& path) {
    if (IsWindowsKey(root, path)) return true;
    std::string file, section;
    if (!Locate(root, path, &file, &section)) {
        // "Software\Veldrim" exists once its folder does.
        struct stat st {};
        return root == HKEY_CURRENT_USER && EqualNoCase(path, kVeldrimPrefix) &&
               stat(ConfigFolder().c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    Store scratch;
    Store* store = StoreOf(file, &scratch);
    return store && FindSection(store, section) != nullptr;
}

HKEY NewHandle(HKEY root, const std::string& path) {
    HKEY h = g_nextHandle++;
    std::string file, section;
    if (IsWindowsKey(root, path) || !Locate(root, path, &file, &section)) file.clear();
    Handles()[h] = {root, path, file};
    if (!file.empty()) Acquire(file);
    ++g_Win32RegistrySeam.openKeys;
    return h;
}

const KeyHandle* HandleOf(HKEY key) {
    auto it = Handles().find(key);
    return it == Handles().end() ? nullptr : &it->second;
}

// The section of an open key in its file's store; null for keys of no file.
Section* SectionOf(const KeyHandle& h, bool create) {
    std::string file, section;
    if (h.file.empty() || !Locate(h.root, h.path, &file, &section)) return nullptr;
    Store& store = Cache()[h.file].store;
    Section* s = FindSection(&store, section);
    if (!s && create) {
        store.sections.push_back({section, {}});
        s = &store.sections.back();
    }
    return s;
}

void MarkChanged(const KeyHandle& h) { Cache()[h.file].dirty = true; }

}  // namespace

LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD, DWORD, HKEY* result) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = 0;
    std::string base;
    HKEY root;
    if (Resolve(key, &base, &root) == reinterpret_cast<const KeyHandle*>(-1)) return ERROR_INVALID_HANDLE;
    std::string path = Normalise(Join(base, Normalise(subKey)).c_str());
    if (!KeyExists(root, path)) return ERROR_FILE_NOT_FOUND;
    *result = NewHandle(root, path);
    return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD, char*, DWORD, DWORD, void*, HKEY* result,
                     DWORD* disposition) {
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = 0;
    std::string base;
    HKEY root;
    if (Resolve(key, &base, &root) == reinterpret_cast<const KeyHandle*>(-1)) return ERROR_INVALID_HANDLE;
    std::string path = Normalise(Join(base, Normalise(subKey)).c_str());
    bool existed = KeyExists(root, path);
    std::string file, section;
    if (!existed && !Locate(root, path, &file, &section)) return ERROR_ACCESS_DENIED;
    HKEY h = NewHandle(root, path);
    if (!existed) {
        Store& store = Cache()[file].store;
        // The application key itself exists whenever any of its subkeys does.
        if (!FindSection(&store, "")) store.sections.insert(store.sections.begin(), Section{"", {}});
        size_t start = 0;
        while (!section.empty()) {
            size_t cut = section.find('\\', start);
            std::string partial = section.substr(0, cut);
            if (!FindSection(&store, partial)) store.sections.push_back({partial, {}});
            if (cut == std::string::npos) break;
            start = cut + 1;
        }
        Cache()[file].dirty = true;
    }
    if (disposition) *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    *result = h;
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, const char* name, DWORD*, DWORD* type, BYTE* data, DWORD* size) {
    const KeyHandle* h = HandleOf(key);
    if (!h) return ERROR_INVALID_HANDLE;
    std::string valueName = name ? name : "";
    Value found;
    if (IsWindowsKey(h->root, h->path)) {
        if (!EqualNoCase(valueName, "RegisteredOwner")) return ERROR_FILE_NOT_FOUND;
        std::string owner = OwnerName();
        found.type = REG_SZ;
        found.data.assign(owner.begin(), owner.end());
        found.data.push_back(0);
    } else {
        Section* s = SectionOf(*h, false);
        Value* v = s ? FindValue(s, valueName) : nullptr;
        if (!v) return ERROR_FILE_NOT_FOUND;
        found = *v;
    }
    if (type) *type = found.type;
    DWORD length = static_cast<DWORD>(found.data.size());
    if (!data) {
        // A size query answers "more data" with the size, as the settings code expects.
        if (size) *size = length;
        return size ? ERROR_MORE_DATA : ERROR_SUCCESS;
    }
    if (!size) return ERROR_INVALID_PARAMETER;
    if (*size < length) {
        *size = length;
        return ERROR_MORE_DATA;
    }
    if (length) std::memcpy(data, found.data.data(), length);
    *size = length;
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, const char* name, DWORD, DWORD type, const BYTE* data, DWORD size) {
    const KeyHandle* h = HandleOf(key);
    if (!h) return ERROR_INVALID_HANDLE;
    if (size && !data) return ERROR_INVALID_PARAMETER;
    Section* s = IsWindowsKey(h->root, h->path) ? nullptr : SectionOf(*h, true);
    if (!s) return ERROR_ACCESS_DENIED;
    std::string valueName = name ? name : "";
    Value* v = FindValue(s, valueName);
    if (!v) {
        s->values.push_back({valueName, type, {}});
        v = &s->values.back();
    }
    v->type = type;
    v->data.assign(data, data + size);
    MarkChanged(*h);
    return ERROR_SUCCESS;
}

LONG RegDeleteValueA(HKEY key, const char* name) {
    const KeyHandle* h = HandleOf(key);
    if (!h) return ERROR_INVALID_HANDLE;
    Section* s = SectionOf(*h, false);
    if (!s) return ERROR_FILE_NOT_FOUND;
    std::string valueName = name ? name : "";
    for (size_t i = 0; i < s->values.size(); ++i)
        if (EqualNoCase(s->values[i].name, valueName)) {
            s->values.erase(s->values.begin() + static_cast<long>(i));
            MarkChanged(*h);
            return ERROR_SUCCESS;
        }
    return ERROR_FILE_NOT_FOUND;
}

LONG RegDeleteKeyA(HKEY key, const char* subKey) {
    std::string base;
    HKEY root;
    if (Resolve(key, &base, &root) == reinterpret_cast<const KeyHandle*>(-1)) return ERROR_INVALID_HANDLE;
    std::string sub = Normalise(subKey);
    if (sub.empty()) return ERROR_INVALID_PARAMETER;
    std::string path = Normalise(Join(base, sub).c_str());
    std::string file, section;
    if (!Locate(root, path, &file, &section) || IsWindowsKey(root, path)) return ERROR_ACCESS_DENIED;
    if (!KeyExists(root, path)) return ERROR_FILE_NOT_FOUND;
    if (section.empty() && root == HKEY_CURRENT_USER && file != ConfigFolder() + "/other.reg") {
        if (remove(file.c_str()) != 0) return ERROR_ACCESS_DENIED;
        // Keys still open in it see an empty key and write nothing back.
        auto it = Cache().find(file);
        if (it != Cache().end()) it->second = CachedFile{Store{}, false, it->second.handles};
        return ERROR_SUCCESS;
    }
    CachedFile& cached = Acquire(file);
    std::vector<Section> kept;
    for (Section& s : cached.store.sections)
        if (!EqualNoCase(s.path, section) && !StartsWithNoCase(s.path, section + "\\")) kept.push_back(s);
    cached.store.sections = kept;
    cached.dirty = true;
    return Release(file);
}

LONG RegCloseKey(HKEY key) {
    auto it = Handles().find(key);
    if (it == Handles().end()) return ERROR_INVALID_HANDLE;
    std::string file = it->second.file;
    Handles().erase(it);
    --g_Win32RegistrySeam.openKeys;
    return file.empty() ? ERROR_SUCCESS : Release(file);
}
