#include "base/file.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/byteorder.h"
#include "base/catalog.h"
#include "base/general.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/strings.h"
#include "system/userpaths.h"

uint32_t g_QelLastFileSize = 0;
QelFileFaults g_QelFileFaults;

// Marks that the program has opened a file through the file layer.
constexpr uint32_t SYS_PROFILING_FILE_OPENED = 0x4000;

static FILE* Plain(QelFile* f) { return static_cast<FILE*>(f->stream); }
static gzFile Gz(QelFile* f) { return static_cast<gzFile>(f->stream); }

// Catalogs serve reading only; "r+" would write into an archive.
static bool IsReadMode(const char* mode) { return mode[0] == 'r' && !strchr(mode, '+'); }

// The path on disk of a name: resolved (user folder) and folded.
static char* DiskPathOf(const char* name, int userRelative) {
    char* resolved = Qel_ResolvePath(name, userRelative);
    char* disk = Qel_DiskPath(resolved);
    Qel_StrFree(resolved);
    return disk;
}

static void LogRefusedWrite() { Qel_ErrPrintf("Error someone tried to write to a Catalog !\n"); }

// ---------------------------------------------------------------- failures

namespace {

// The last failure's line; logged says it needs no logging (any more).
struct Failure {
    std::string line;
    bool logged = true;
};
Failure s_failure;

// A disk path as the player can find it: relative paths are the game folder's.
std::string FullPath(const char* disk) {
    if (!disk || disk[0] == '/') return disk ? disk : "";
    char folder[PATH_MAX];
    if (!getcwd(folder, sizeof folder)) return disk;
    if (disk[0] == '.' && disk[1] == '/') disk += 2;
    return std::string(folder) + "/" + disk;
}

std::string Where(const char* name, const char* disk) { return std::string(name) + " (" + FullPath(disk) + ")"; }

// A member's place: `full` is its data file's FullPath.
std::string MemberWhere(const char* name, const std::string& full, const QelCatalogEntry* e) {
    return std::string(name) + " (bytes " + std::to_string(e->offset) + " to " +
           std::to_string(uint64_t(e->offset) + e->size) + " of " + full + ")";
}

void Report(const std::string& where, const char* what, const char* reason, bool now) {
    s_failure.line = "File " + where + ": cannot " + what + ": " + reason + "\n";
    s_failure.logged = false;
    if (now) Qel_LogFileFailure();
}

// A read or write of an open handle: once per handle, at once.
void ReportHandle(QelFile* f, const char* what, const char* reason) {
    if (f->flags & QEL_FILE_FAILED) return;
    f->flags |= QEL_FILE_FAILED;
    Report(f->where ? f->where : "(unnamed)", what, reason, true);
}

const char* Reason(int err) { return err ? strerror(err) : "unknown reason"; }

QelFile* NewHandle() { return Int_AllocRecord<QelFile>(0); }

void FreeHandle(QelFile* f) {
    Qel_StrFree(f->where);
    Int_FreeRecord(f, 0);
}

}  // namespace

void Qel_LogFileFailure() {
    if (s_failure.logged) return;
    s_failure.logged = true;
    Qel_ErrPrintf("%s", s_failure.line.c_str());
}

const char* Qel_LastFileFailure() { return s_failure.line.c_str(); }

// A catalog member's handle reads its data file by offset, with no seek: a
// large read goes straight into the caller's buffer, small ones are served
// from a buffer of the handle's own, filled up to the member's end at most.
// The file goes with the status it had when it was opened, the name it was
// opened by, its path on disk and that path in full as failure lines show it.
struct MemberStream {
    int fd;
    struct stat st;
    uint8_t* buf;                  // kMemberBuffer bytes once a small read needs them
    uint32_t bufStart, bufLength;  // descrambled bytes of the member held in buf
    std::string name, disk, full;
};
constexpr uint32_t kMemberBuffer = 64 * 1024;

static MemberStream* Member(QelFile* f) { return static_cast<MemberStream*>(f->stream); }

static void DropBuffer(MemberStream* m) {
    if (m->buf) Int_FreeMem(m->buf, kMemberBuffer, 0);
    m->buf = nullptr;
    m->bufLength = 0;
}

static void FreeMember(MemberStream* m) {
    close(m->fd);
    DropBuffer(m);
    delete m;
}

// The data file of the catalog member closed last stays open for the next
// member of the same file (the same file on disk, not merely the same
// name): reading members one after the other then opens the file once and
// asks for its status once a member.
static MemberStream* s_parked = nullptr;

void Qel_CloseParkedDataFile() {
    if (s_parked) FreeMember(s_parked);
    s_parked = nullptr;
}

// The parked file when the data file of that name is still the one it holds:
// one replaced or resized is opened afresh.
static MemberStream* TakeParked(const char* dataFile) {
    struct stat st;
    MemberStream* m = s_parked;
    if (!m || m->name != dataFile || stat(m->disk.c_str(), &st) != 0 || st.st_dev != m->st.st_dev ||
        st.st_ino != m->st.st_ino || st.st_size != m->st.st_size || st.st_mtim.tv_sec != m->st.st_mtim.tv_sec ||
        st.st_mtim.tv_nsec != m->st.st_mtim.tv_nsec)
        return nullptr;
    s_parked = nullptr;
    return m;
}

static MemberStream* OpenDataFile(const char* dataFile, int* err) {
    char* disk = Qel_DiskPath(dataFile);
    errno = disk ? 0 : ENOENT;
    const int fd = disk ? open(disk, O_RDONLY | O_CLOEXEC) : -1;
    *err = errno;
    auto* m = new MemberStream{};
    m->fd = fd;
    m->name = dataFile;
    m->disk = disk ? disk : dataFile;
    m->full = FullPath(m->disk.c_str());
    Qel_StrFree(disk);
    if (fd >= 0 && fstat(fd, &m->st) != 0) {
        *err = errno;
        close(fd);
        m->fd = -1;
    }
    return m;
}

static QelFile* OpenMember(QelFile* f, const char* name, const char* mode, const QelCatalogEntry* e) {
    SystemState* s = g_SystemState;
    const QelCatalog* cat = s->catalogs[s->currentCatalog];
    f->flags = QEL_FILE_CATALOG;
    f->memberStart = e->offset;
    f->memberSize = e->size;
    f->memberPos = 0;
    int err = 0;
    MemberStream* m = TakeParked(cat->dataFileName);
    if (!m) m = OpenDataFile(cat->dataFileName, &err);
    const std::string where = MemberWhere(name, m->full, e);
    if (m->fd < 0) {
        delete m;
        FreeHandle(f);
        Qel_DPrintf(2, "Qel_fopen failed (cat): %s\n", name);
        Report(where, "open", Reason(err), true);
        return nullptr;
    }
    // A member that runs past the end of its data file (a file cut short)
    // would read short; it is refused whole instead.
    if (uint64_t(e->offset) + e->size > uint64_t(m->st.st_size)) {
        const std::string reason =
            "the data file ends at byte " + std::to_string(m->st.st_size) + ", before the member";
        FreeMember(m);
        FreeHandle(f);
        Report(where, "read", reason.c_str(), true);
        return nullptr;
    }
    f->stream = m;
    f->where = Qel_StrReassign(nullptr, where.c_str());
    Qel_DPrintf(1, "Qel_fopen(%s, %s) (cat)\n", name, mode);
    return f;
}

QelFile* Qel_fopen(const char* name, const char* mode, int diskOnly) {
    s_failure = Failure{};
    if (!name || !mode) return nullptr;
    if (g_SystemState) g_SystemState->SysProfilingFlags |= SYS_PROFILING_FILE_OPENED;
    auto* f = NewHandle();
    if (!f) return nullptr;

    if (!diskOnly && IsReadMode(mode)) {
        if (const QelCatalogEntry* e = Qel_CatalogFind(name)) return OpenMember(f, name, mode, e);
    }
    char* disk = DiskPathOf(name, diskOnly);
    errno = disk ? 0 : ENOENT;
    FILE* fp = disk ? fopen(disk, mode) : nullptr;
    const int err = errno;
    const std::string where = Where(name, disk ? disk : name);
    if (fp) {
        f->stream = fp;
        f->where = Qel_StrReassign(nullptr, where.c_str());
        Qel_DPrintf(1, "Qel_fopen(%s, %s) opened %s\n", name, mode, disk);
    } else {
        FreeHandle(f);
        f = nullptr;
        Qel_DPrintf(2, "Qel_fopen(%s, %s) failed: %s\n", name, mode, disk ? disk : name);
        const bool reading = IsReadMode(mode);
        const bool absent = reading && (err == ENOENT || err == ENOTDIR);
        Report(where, reading ? "open it for reading" : "open it for writing", Reason(err), !absent);
    }
    Qel_StrFree(disk);
    return f;
}

QelFile* Qel_fcopen(const char* name, const char* mode, int userPath) {
    s_failure = Failure{};
    if (!name || !mode) return nullptr;
    char* disk = DiskPathOf(name, userPath);
    errno = disk ? 0 : ENOENT;
    gzFile gz = disk ? gzopen(disk, mode) : nullptr;
    const int err = errno;
    const std::string where = Where(name, disk ? disk : name);
    QelFile* f = nullptr;
    if (gz) {
        f = NewHandle();
        if (f) {
            f->stream = gz;
            f->flags = QEL_FILE_GZIP;
            f->where = Qel_StrReassign(nullptr, where.c_str());
            Qel_DPrintf(1, "Qel_fcopen(%s, %s) opened %s\n", name, mode, disk);
        } else {
            gzclose(gz);
        }
    } else {
        Qel_DPrintf(2, "Qel_fcopen failed: %s\n", disk ? disk : name);
        const bool reading = mode[0] == 'r';
        const bool absent = reading && (err == ENOENT || err == ENOTDIR);
        Report(where, reading ? "open it for reading" : "open it for writing", Reason(err), !absent);
    }
    Qel_StrFree(disk);
    return f;
}

// Undoes the members' byte scrambling in the caller's buffer, 64 bytes a
// round in four 16-byte words, then eight bytes, then byte by byte.
static void Descramble(uint8_t* b, size_t n) {
    using Word = uint8_t __attribute__((vector_size(16)));
    constexpr uint64_t key8 = 0x0101010101010101ull * QEL_CATALOG_MEMBER_KEY;
    Word key;
    memset(&key, QEL_CATALOG_MEMBER_KEY, sizeof key);
    size_t i = 0;
    for (; i + 64 <= n; i += 64) {
        Word w[4];
        memcpy(w, b + i, sizeof w);
        w[0] ^= key;
        w[1] ^= key;
        w[2] ^= key;
        w[3] ^= key;
        memcpy(b + i, w, sizeof w);
    }
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        memcpy(&w, b + i, 8);
        w ^= key8;
        memcpy(b + i, &w, 8);
    }
    for (; i < n; ++i) b[i] ^= QEL_CATALOG_MEMBER_KEY;
}

// Reads bytes of the member's data file at an offset; what was read (short
// only at a failure, which is reported).
static size_t ReadAt(QelFile* f, uint8_t* out, size_t n, uint64_t at) {
    MemberStream* m = Member(f);
    size_t done = 0;
    while (done < n) {
        const ssize_t got = pread(m->fd, out + done, n - done, off_t(at + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            // Inside the member every byte is there, unless the data file changed under it.
            ReportHandle(f, "read", got < 0 ? Reason(errno) : "the data file ends before the member");
            break;
        }
        done += size_t(got);
    }
    return done;
}

// n bytes of the member from its position, descrambled; n stays within the member.
static size_t ReadMember(QelFile* f, uint8_t* out, size_t n) {
    MemberStream* m = Member(f);
    size_t done = 0;
    const uint32_t pos = f->memberPos;
    if (pos >= m->bufStart && pos < m->bufStart + m->bufLength) {
        done = std::min<size_t>(n, m->bufStart + m->bufLength - pos);
        memcpy(out, m->buf + (pos - m->bufStart), done);
    }
    if (done == n) return n;
    const uint32_t from = pos + uint32_t(done);
    const bool large = n - done >= kMemberBuffer / 2;
    if (!large && !m->buf) m->buf = static_cast<uint8_t*>(Int_AllocMem(kMemberBuffer, INT_MEM_UNZEROED));
    if (large || !m->buf) {
        const size_t got = ReadAt(f, out + done, n - done, uint64_t(f->memberStart) + from);
        Descramble(out + done, got);
        return done + got;
    }
    const uint32_t fill = std::min<uint32_t>(kMemberBuffer, f->memberSize - from);
    m->bufStart = from;
    m->bufLength = uint32_t(ReadAt(f, m->buf, fill, uint64_t(f->memberStart) + from));
    Descramble(m->buf, m->bufLength);
    const size_t more = std::min<size_t>(n - done, m->bufLength);
    memcpy(out + done, m->buf, more);
    return done + more;
}

// zlib counts in unsigned int; larger transfers go in pieces.
constexpr size_t GZ_CHUNK = 1u << 30;

size_t Qel_fread(QelFile* f, size_t size, size_t count, void* buffer) {
    if (!f || !buffer || size == 0 || count == 0 || count > SIZE_MAX / size) return 0;
    size_t n = size * count;
    if (f->flags & QEL_FILE_GZIP) {
        size_t done = 0;
        while (done < n) {
            unsigned want = unsigned(n - done < GZ_CHUNK ? n - done : GZ_CHUNK);
            int got = gzread(Gz(f), static_cast<uint8_t*>(buffer) + done, want);
            if (got < 0) {
                int code = 0;
                const char* text = gzerror(Gz(f), &code);
                ReportHandle(f, "read", code == Z_ERRNO ? Reason(errno) : text);
            }
            if (got <= 0) break;
            done += size_t(got);
            if (unsigned(got) < want) break;
        }
        return done / size;
    }
    if (f->flags & QEL_FILE_CATALOG) {
        size_t left = f->memberSize - f->memberPos;
        if (n > left) n = left;
        const size_t got = ReadMember(f, static_cast<uint8_t*>(buffer), n);
        f->memberPos += uint32_t(got);
        return got / size;
    }
    const size_t got = fread(buffer, size, count, Plain(f));
    if (got < count && ferror(Plain(f))) ReportHandle(f, "read", Reason(errno));
    return got;
}

size_t Qel_fwriteBlock(QelFile* f, size_t size, size_t count, const void* buffer) {
    if (!f) return 0;
    if (f->flags & QEL_FILE_CATALOG) {
        LogRefusedWrite();
        return 0;
    }
    if (!buffer || size == 0 || count == 0 || count > SIZE_MAX / size) return 0;
    if (int64_t& budget = g_QelFileFaults.writeBudget; budget >= 0) {
        if (static_cast<uint64_t>(budget) < size * count) {
            budget = 0;
            ReportHandle(f, "write", Reason(ENOSPC));
            return 0;
        }
        budget -= static_cast<int64_t>(size * count);
    }
    if (f->flags & QEL_FILE_GZIP) {
        size_t n = size * count, done = 0;
        while (done < n) {
            unsigned want = unsigned(n - done < GZ_CHUNK ? n - done : GZ_CHUNK);
            int put = gzwrite(Gz(f), static_cast<const uint8_t*>(buffer) + done, want);
            if (put <= 0) {
                int code = 0;
                const char* text = gzerror(Gz(f), &code);
                ReportHandle(f, "write", code == Z_ERRNO ? Reason(errno) : text);
                break;
            }
            done += size_t(put);
        }
        return done / size;
    }
    const size_t put = fwrite(buffer, size, count, Plain(f));
    if (put < count) ReportHandle(f, "write", Reason(errno));
    return put;
}

size_t Qel_fwrite(QelFile* f, void* record, size_t length, const char* layout) {
    if (!f) return 0;
    if (f->flags & QEL_FILE_CATALOG) {
        LogRefusedWrite();
        return 0;
    }
    if (!record || length == 0) return 0;
    Qel_SwapBytesByLayout(static_cast<uint8_t*>(record), layout, uint32_t(length));
    size_t n = Qel_fwriteBlock(f, 1, length, record);
    Qel_SwapBytesByLayout(static_cast<uint8_t*>(record), layout, uint32_t(length));
    return n;
}

int Qel_fprintf(QelFile* f, const char* fmt, ...) {
    if (!f || !fmt) return 0;
    if (f->flags & QEL_FILE_CATALOG) {
        LogRefusedWrite();
        return 0;
    }
    va_list ap;
    va_start(ap, fmt);
    int n = (f->flags & QEL_FILE_GZIP) ? gzvprintf(Gz(f), fmt, ap) : vfprintf(Plain(f), fmt, ap);
    va_end(ap);
    if (n < 0)
        ReportHandle(f, "write",
                     (f->flags & QEL_FILE_GZIP) && n != Z_ERRNO ? "the compressed stream failed" : Reason(errno));
    return n;
}

int Qel_fseek(QelFile* f, long offset, int origin) {
    if (!f) return -1;
    if (f->flags & QEL_FILE_GZIP) return gzseek(Gz(f), offset, origin) < 0 ? -1 : 0;
    if (f->flags & QEL_FILE_CATALOG) {
        int64_t pos;
        switch (origin) {
            case 0: pos = offset; break;
            case 1: pos = int64_t(f->memberPos) + offset; break;
            case 2: pos = int64_t(f->memberSize) + offset; break;
            default: return -1;
        }
        if (pos < 0) pos = 0;
        if (pos > int64_t(f->memberSize)) pos = f->memberSize;
        f->memberPos = uint32_t(pos);
        return 0;
    }
    return fseek(Plain(f), offset, origin) == 0 ? 0 : -1;
}

long Qel_ftell(QelFile* f) {
    if (!f) return -1;
    if (f->flags & QEL_FILE_CATALOG) return long(f->memberPos);
    if (f->flags & QEL_FILE_GZIP) return long(gztell(Gz(f)));
    return ftell(Plain(f));
}

int Qel_fclose(QelFile* f) {
    if (!f) return -1;
    int r = 0;
    if (f->stream && (f->flags & QEL_FILE_CATALOG)) {
        MemberStream* m = Member(f);
        // One whose read failed is closed, not kept.
        if (f->flags & QEL_FILE_FAILED) {
            FreeMember(m);
        } else {
            DropBuffer(m);
            Qel_CloseParkedDataFile();
            s_parked = m;
        }
    } else if (f->stream && (f->flags & QEL_FILE_GZIP)) {
        const int code = gzclose(Gz(f));
        r = code == Z_OK ? 0 : -1;
        // What is still buffered is written at the close.
        if (r != 0) ReportHandle(f, "write", code == Z_ERRNO ? Reason(errno) : "the compressed stream did not end");
    } else if (f->stream) {
        r = fclose(Plain(f));
        if (r != 0) ReportHandle(f, "write", Reason(errno));
    }
    FreeHandle(f);
    return r;
}

int64_t Qel_fsize(int catalogFlag, const char* name) {
    if (!name) return -1;
    if (!catalogFlag) {
        if (const QelCatalogEntry* e = Qel_CatalogFind(name)) return e->size;
    }
    char* disk = DiskPathOf(name, catalogFlag);
    struct stat st;
    int64_t r;
    if (!disk || stat(disk, &st) != 0) {
        Qel_DPrintf(4, "Qel_fsize: \"%s\" not found!\n", name);
        r = -1;
    } else {
        r = S_ISDIR(st.st_mode) ? -2 : int64_t(st.st_size);
    }
    Qel_StrFree(disk);
    return r;
}

time_t Qel_ftime(const char* name, int userPath) {
    if (!name) return 0;
    char* disk = DiskPathOf(name, userPath);
    struct stat st;
    time_t t = 0;
    if (disk && stat(disk, &st) == 0) t = st.st_mtime;
    else Qel_ErrPrintf("Qel_ftime: \"%s\" not found!\n", name);
    Qel_StrFree(disk);
    return t;
}

int Qel_RemoveFile(const char* name, int userPath) {
    if (!name) return 0;
    char* disk = DiskPathOf(name, userPath);
    errno = disk ? 0 : ENOENT;
    int ok = disk && remove(disk) == 0;
    if (!ok) {
        Report(Where(name, disk ? disk : name), "remove it", Reason(errno), true);
        Qel_ErrPrintf("Qel_RemoveFile(%s,%d) remove failed!\n", name, userPath);
    }
    Qel_StrFree(disk);
    return ok ? 1 : 0;
}

int Qel_RenameFile(const char* from, const char* to, int userPath) {
    if (!from || !to) return 0;
    char* src = DiskPathOf(from, userPath);
    char* dst = DiskPathOf(to, userPath);
    // POSIX rename replaces an existing target in one step.
    errno = src && dst ? (g_QelFileFaults.failRename ? EIO : 0) : ENOENT;
    int ok = src && dst && !g_QelFileFaults.failRename && rename(src, dst) == 0;
    if (!ok) {
        const std::string what = "rename it to " + Where(to, dst ? dst : to);
        Report(Where(from, src ? src : from), what.c_str(), Reason(errno), true);
        Qel_ErrPrintf("Qel_RenameFile(%s,%s,%d) rename failed!\n", from, to, userPath);
    }
    // The folder's entry too reaches the disk.
    if (ok) {
        std::string folder = dst;
        const size_t slash = folder.rfind('/');
        folder = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
        if (int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); fd >= 0) {
            fsync(fd);
            close(fd);
        }
    }
    Qel_StrFree(src);
    Qel_StrFree(dst);
    return ok ? 1 : 0;
}

int Qel_SyncFile(const char* name, int userPath) {
    if (!name) return 0;
    char* disk = DiskPathOf(name, userPath);
    errno = disk ? (g_QelFileFaults.failSync ? EIO : 0) : ENOENT;
    int fd = disk && !g_QelFileFaults.failSync ? open(disk, O_RDONLY | O_CLOEXEC) : -1;
    int ok = fd >= 0 && fsync(fd) == 0;
    const int err = errno;
    if (fd >= 0) close(fd);
    if (!ok) {
        Report(Where(name, disk ? disk : name), "write it to the disk", Reason(err), true);
        Qel_ErrPrintf("Qel_SyncFile(%s,%d) sync failed!\n", name, userPath);
    }
    Qel_StrFree(disk);
    return ok ? 1 : 0;
}

void* Qel_LoadFile(const char* name, int diskOnly) {
    g_QelLastFileSize = 0;
    QelFile* f = Qel_fopen(name, "rb", diskOnly);
    if (!f) return nullptr;
    long size = -1;
    bool atStart;
    if (f->flags & QEL_FILE_CATALOG) {
        // A member just opened stands at its start and knows its size.
        size = long(f->memberSize);
        atStart = true;
    } else {
        if (Qel_fseek(f, 0, 2) == 0) size = Qel_ftell(f);
        atStart = size > 0 && Qel_fseek(f, 0, 0) == 0;
    }
    void* buf = nullptr;
    if (size > 0 && size <= long(INT32_MAX) && atStart) {
        buf = Int_AllocMem(size_t(size), INT_MEM_UNZEROED);  // the read fills it or it goes
        if (buf && Qel_fread(f, 1, size_t(size), buf) != size_t(size)) {
            Int_FreeMem(buf, size_t(size), 0);
            buf = nullptr;
            ReportHandle(f, "read", "the file is shorter than it was a moment before");
        }
    } else if (size == 0) {
        // Kept for the caller to log when an empty file is a failure to it.
        Report(f->where ? f->where : name, "read", "the file is empty", false);
    } else {
        ReportHandle(f, "read", size > long(INT32_MAX) ? "the file is larger than 2 GB" : Reason(errno));
    }
    Qel_fclose(f);
    if (buf) g_QelLastFileSize = uint32_t(size);
    return buf;
}

char* Qel_DescribeFile(const char* name, int diskOnly) {
    if (!name) return nullptr;
    std::string where;
    if (const QelCatalogEntry* e = diskOnly ? nullptr : Qel_CatalogFind(name)) {
        const QelCatalog* cat = g_SystemState->catalogs[g_SystemState->currentCatalog];
        char* disk = Qel_DiskPath(cat->dataFileName);
        where = MemberWhere(name, FullPath(disk ? disk : cat->dataFileName), e);
        Qel_StrFree(disk);
    } else {
        char* disk = DiskPathOf(name, diskOnly);
        where = Where(name, disk ? disk : name);
        Qel_StrFree(disk);
    }
    return Qel_StrReassign(nullptr, where.c_str());
}

const char* Qel_FindNext(QelDirListing* dir) { return Qel_NextDirEntry(dir); }
void Qel_FindClose(QelDirListing* dir) { Qel_CloseDir(dir); }
