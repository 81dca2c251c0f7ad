// Catalog archives: an index file "NN.cat" (scrambled text: a header line, then
// one "name size" line per member) and a data file "NN.dat" holding the
// members back to back, each byte scrambled. A later slot overrides an earlier one.
#pragma once

#include <cstddef>
#include <cstdint>

struct QelCatalogEntry {
    uint32_t offset;  // start of the member in the data file
    uint32_t size;
    const char* name;  // lower case, '\' as separator; points into the names buffer
};

struct QelCatalog {
    uint32_t count;  // entries (at most 65535)
    char* names;     // every member name, NUL-terminated, in index order
    uint32_t namesSize;
    char* dataFileName;        // heap string: the index name with 'd' as first extension letter
    uint32_t kind;             // 1 primary (and mod), 2 secondary
    QelCatalogEntry* entries;  // sorted by name; follow the record in the same block
};

constexpr uint32_t QEL_CATALOG_PRIMARY = 1;
constexpr uint32_t QEL_CATALOG_SECONDARY = 2;

// Byte i of an index file is stored XOR ((i mod 256) - 0x4E); member bytes XOR 0xA7.
constexpr uint8_t QEL_CATALOG_INDEX_KEY = 0x4E;
constexpr uint8_t QEL_CATALOG_MEMBER_KEY = 0xA7;
void Qel_ScrambleCatalogIndex(uint8_t* text, size_t size);  // its own inverse

// Loads an index file into a slot of the SystemState's catalog array.
// 1 on success; 0 (with a log line for bad input) otherwise.
int Qel_LoadCatalog(int slot, const char* indexName, int primary);
// Frees every catalog and the slot array of the SystemState.
void Qel_FreeCatalogs();

// The lower-cased, '\'-separated form of a name in a static buffer; null when
// the name does not fit.
const char* Qel_NormalizeName(const char* name);
// Searches the slots from the last to the first; the slot of the hit becomes
// the current catalog.
QelCatalogEntry* Qel_CatalogFind(const char* name);
