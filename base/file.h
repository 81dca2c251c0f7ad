// The file layer: one handle over a catalog member (read only), a plain disk
// file or a gzip stream. Every data file of the program is opened here, so a
// name present in a catalog is read from there and anything else from disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

// Handle flag bits.
constexpr uint32_t QEL_FILE_CATALOG = 0x1;  // a member of a catalog's data file
constexpr uint32_t QEL_FILE_GZIP = 0x2;     // a zlib gz stream
constexpr uint32_t QEL_FILE_FAILED = 0x4;   // a failed read or write of the handle was logged

struct QelFile {
    void* stream;  // FILE* or gzFile
    uint32_t flags;
    uint32_t memberStart;  // byte offset of the member in the catalog's data file
    uint32_t memberSize;
    uint32_t memberPos;  // 0 .. memberSize
    char* where;         // the game's name and where it lies on disk, for the failure lines
};

// Failures of the file layer say what the game asked for, the path on disk it
// became and the system's reason, in one line:
//   File <name> (<path>): cannot <what>: <reason>
// An open for reading that finds nothing is the usual answer to a probe (the
// texture forms, the catalog count): it is only remembered. Every other failed
// open, read, write, rename or removal is logged at once (Qel_ErrPrintf).
// Logs the remembered failure of the last open, unless it was logged already:
// for callers to whom the file's absence is a failure, before their own lines.
void Qel_LogFileFailure();
// The line of the last open's failure ("" when it succeeded), for tests.
const char* Qel_LastFileFailure();
// Where a name lies for the failure lines of other readers: "<name> (<path>)",
// the path on disk, or the catalog data file and bytes of a member. A new heap
// string (Qel_StrFree).
char* Qel_DescribeFile(const char* name, int diskOnly);

struct QelCatalogEntry;

// Closes the catalog data file kept open after its last member was closed
// (the catalogs call it when they go).
void Qel_CloseParkedDataFile();

// Size of the last file loaded whole (Qel_LoadFile, Qel_Unpack); 0 after a failure.
extern uint32_t g_QelLastFileSize;

// Catalogs first (read modes only, unless diskOnly), then disk. diskOnly also
// makes the name relative to the per-user folder.
QelFile* Qel_fopen(const char* name, const char* mode, int diskOnly);
// A gzip stream on disk; catalogs are not consulted.
QelFile* Qel_fcopen(const char* name, const char* mode, int userPath);

// Elements read for every kind of handle.
size_t Qel_fread(QelFile* f, size_t size, size_t count, void* buffer);
// Elements written; 0 for a catalog member.
size_t Qel_fwriteBlock(QelFile* f, size_t size, size_t count, const void* buffer);
// Writes a record in big-endian order by its layout string and leaves the
// record as it was; bytes written, 0 for a catalog member.
size_t Qel_fwrite(QelFile* f, void* record, size_t length, const char* layout);
int Qel_fprintf(QelFile* f, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
// origin 0 set, 1 current, 2 end. 0 on success, -1 on failure.
int Qel_fseek(QelFile* f, long offset, int origin);
long Qel_ftell(QelFile* f);
// Closes the stream, then frees the handle.
int Qel_fclose(QelFile* f);

// Size in bytes; -1 not found, -2 a folder. A catalog member is found first
// unless catalogFlag is set (which also makes the name user-relative).
int64_t Qel_fsize(int catalogFlag, const char* name);
// Modification time on disk, 0 when not found.
time_t Qel_ftime(const char* name, int userPath);
int Qel_RemoveFile(const char* name, int userPath);
// Replaces an existing target atomically.
int Qel_RenameFile(const char* from, const char* to, int userPath);
// Flushes a closed file's bytes to the disk, so a rename over an older file
// never leaves a name without its data after a crash; 1 on success.
int Qel_SyncFile(const char* name, int userPath);

// Test seam: faults the file layer makes on purpose. With a write budget of
// n >= 0 the writes go through until n bytes are written, then every write
// fails; -1 turns it off. The flags make every rename or sync fail.
struct QelFileFaults {
    int64_t writeBudget = -1;
    bool failRename = false;
    bool failSync = false;
};
extern QelFileFaults g_QelFileFaults;

// The whole file in a new block of exactly g_QelLastFileSize bytes
// (Int_AllocMem, flags 0); null when missing or empty.
void* Qel_LoadFile(const char* name, int diskOnly = 0);

// Directory listings opened by Qel_OpenDir (system/userpaths.h).
struct QelDirListing;
const char* Qel_FindNext(QelDirListing* dir);
void Qel_FindClose(QelDirListing* dir);
