#include "base/catalog.h"

#include <cstdlib>
#include <cstring>

#include "base/file.h"
#include "base/general.h"
#include "base/log.h"
#include "base/memory.h"
#include "base/strings.h"

// Names longer than this are in no catalog.
static char s_normalized[1024];

static char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; }

void Qel_ScrambleCatalogIndex(uint8_t* text, size_t size) {
    for (size_t i = 0; i < size; ++i) text[i] ^= uint8_t((i & 255) - QEL_CATALOG_INDEX_KEY);
}

const char* Qel_NormalizeName(const char* name) {
    if (!name) return nullptr;
    size_t i = 0;
    for (; name[i]; ++i) {
        if (i + 1 >= sizeof s_normalized) return nullptr;
        char c = LowerAscii(name[i]);
        s_normalized[i] = (c == '/') ? '\\' : c;
    }
    s_normalized[i] = 0;
    return s_normalized;
}

static void FreeCatalog(QelCatalog* cat) {
    if (!cat) return;
    if (cat->names) Int_FreeMem(cat->names, cat->namesSize, 0);
    Qel_StrFree(cat->dataFileName);
    Int_FreeMem(cat, sizeof(QelCatalog) + size_t(cat->count) * sizeof(QelCatalogEntry), 0);
}

void Qel_FreeCatalogs() {
    Qel_CloseParkedDataFile();
    SystemState* s = g_SystemState;
    if (!s) return;
    if (!s->catalogs) {
        if (s->catalogSlotCount) Int_FreeMem(nullptr, s->catalogSlotCount * sizeof(QelCatalog*), 0);
        s->catalogSlotCount = 0;
        return;
    }
    for (uint32_t i = 0; i < s->catalogSlotCount; ++i) FreeCatalog(s->catalogs[i]);
    Int_FreeMem(s->catalogs, s->catalogSlotCount * sizeof(QelCatalog*), 0);
    s->catalogs = nullptr;
    s->catalogSlotCount = 0;
    s->currentCatalog = 0;
}

// One line of the index text, cut out in place.
struct IndexLine {
    const char* text;
    size_t length;
};

// Calls fn for every line after the header; a two-character line end
// (CR LF or LF CR) counts as one.
template <class Fn>
static void ForEachLine(const char* text, size_t size, Fn fn) {
    size_t i = 0;
    bool header = true;
    while (i < size) {
        size_t start = i;
        while (i < size && text[i] != '\r' && text[i] != '\n') ++i;
        IndexLine line{text + start, i - start};
        if (i < size) {
            char first = text[i++];
            if (i < size && (text[i] == '\r' || text[i] == '\n') && text[i] != first) ++i;
        }
        if (header) header = false;
        else if (line.length && line.text[0] != ' ' && line.text[0] != '#') fn(line);
    }
}

// The member size after the last blank or tab; false for a line without one
// or with no decimal number there. Blanks and tabs after the size are not part
// of the line: index files written by hand or by other tools often carry them.
static bool SplitLine(const IndexLine& line, size_t* nameLength, uint64_t* size) {
    size_t length = line.length;
    while (length > 0 && (line.text[length - 1] == ' ' || line.text[length - 1] == '\t')) --length;
    size_t sep = length;
    while (sep > 0 && line.text[sep - 1] != ' ' && line.text[sep - 1] != '\t') --sep;
    if (sep < 2) return false;  // no separator, or an empty name
    *nameLength = sep - 1;
    if (sep == length) return false;
    uint64_t v = 0;
    for (size_t i = sep; i < length; ++i) {
        char c = line.text[i];
        if (c < '0' || c > '9' || v > 0xFFFFFFFFull) return false;
        v = v * 10 + uint64_t(c - '0');
    }
    if (v > 0xFFFFFFFFull) return false;
    *size = v;
    return true;
}

// A data file cut short: the members that lie past its end are named now, in
// one line with the first of them; reading one fails in the file layer.
// Entries are in index order here, so offsets rise.
static void CheckDataFile(const QelCatalog* cat, const char* indexName) {
    const int64_t size = Qel_fsize(0, cat->dataFileName);
    const bool found = size >= 0;
    const uint64_t have = found ? uint64_t(size) : 0;
    const QelCatalogEntry* first = nullptr;
    uint32_t past = 0;
    for (uint32_t i = 0; i < cat->count; ++i) {
        const QelCatalogEntry& e = cat->entries[i];
        if (uint64_t(e.offset) + e.size <= have) continue;
        if (!first) first = &e;
        ++past;
    }
    if (!first) return;
    char* where = Qel_DescribeFile(cat->dataFileName, 0);
    Qel_ErrPrintf(
        "Qel_LoadCatalog: %s: its data file %s %s %llu bytes, and %u %s past that end, the first %s "
        "(bytes %u to %llu)\n",
        indexName, where ? where : cat->dataFileName, found ? "holds" : "is missing and holds",
        static_cast<unsigned long long>(have), unsigned(past), past == 1 ? "member lies" : "members lie", first->name,
        unsigned(first->offset), static_cast<unsigned long long>(uint64_t(first->offset) + first->size));
    Qel_StrFree(where);
}

static int CompareEntries(const void* a, const void* b) {
    return strcmp(static_cast<const QelCatalogEntry*>(a)->name, static_cast<const QelCatalogEntry*>(b)->name);
}

int Qel_LoadCatalog(int slot, const char* indexName, int primary) {
    SystemState* s = g_SystemState;
    if (!s || !s->catalogs || slot < 0 || slot >= int(s->catalogSlotCount) || !indexName) {
        Qel_ErrPrintf("Qel_LoadCatalog: no catalog slot %d for %s\n", slot, indexName ? indexName : "(null)");
        return 0;
    }
    auto* text = static_cast<char*>(Qel_LoadFile(indexName));
    if (!text) {
        Qel_LogFileFailure();
        return 0;
    }
    size_t textSize = g_QelLastFileSize;

    int result = 0;
    size_t nameLen = strlen(indexName);
    size_t count = 0, namesSize = 0;
    uint64_t total = 0;
    bool bad = false;
    QelCatalog* cat = nullptr;
    size_t recordSize = 0;

    if (nameLen < 4 || indexName[nameLen - 4] != '.') {
        Qel_ErrPrintf("Catalogname entspricht nicht den konventionen!\n");
        goto done;
    }
    Qel_ScrambleCatalogIndex(reinterpret_cast<uint8_t*>(text), textSize);

    // First pass: count and check every entry line.
    ForEachLine(text, textSize, [&](const IndexLine& line) {
        size_t n;
        uint64_t size;
        if (bad) return;
        if (!SplitLine(line, &n, &size)) {
            char* where = Qel_DescribeFile(indexName, 0);
            Qel_ErrPrintf("Qel_LoadCatalog: entry %u of %s has no name and size\n", unsigned(count + 1),
                          where ? where : indexName);
            Qel_StrFree(where);
            bad = true;
            return;
        }
        total += size;
        namesSize += n + 1;
        ++count;
    });
    if (bad) goto done;
    if (count > 65535) {
        Qel_ErrPrintf("Qel_LoadCatalog: %s holds %u entries, at most 65535 are allowed\n", indexName, unsigned(count));
        goto done;
    }
    if (total > 0xFFFFFFFFull) {
        Qel_ErrPrintf("Qel_LoadCatalog: members of %s exceed 4 GB\n", indexName);
        goto done;
    }

    recordSize = sizeof(QelCatalog) + count * sizeof(QelCatalogEntry);
    cat = static_cast<QelCatalog*>(Int_AllocMem(recordSize, 0));
    if (!cat) goto done;
    cat->count = uint32_t(count);
    cat->kind = primary ? QEL_CATALOG_PRIMARY : QEL_CATALOG_SECONDARY;
    cat->entries = reinterpret_cast<QelCatalogEntry*>(cat + 1);
    cat->dataFileName = Qel_StrReassign(nullptr, indexName);
    cat->names = namesSize ? static_cast<char*>(Int_AllocMem(namesSize, 0)) : nullptr;
    cat->namesSize = uint32_t(namesSize);
    if (!cat->dataFileName || (namesSize && !cat->names)) {
        Qel_ErrPrintf("Qel_LoadCatalog: out of memory for %s\n", indexName);
        FreeCatalog(cat);
        cat = nullptr;
        goto done;
    }
    cat->dataFileName[nameLen - 3] = 'd';

    {
        // Second pass: names in index order, offsets following one another.
        char* dst = cat->names;
        uint32_t offset = 0;
        size_t i = 0;
        ForEachLine(text, textSize, [&](const IndexLine& line) {
            size_t n = 0;
            uint64_t size = 0;
            SplitLine(line, &n, &size);
            QelCatalogEntry& e = cat->entries[i++];
            e.offset = offset;
            e.size = uint32_t(size);
            e.name = dst;
            for (size_t k = 0; k < n; ++k) {
                char c = LowerAscii(line.text[k]);
                *dst++ = (c == '/') ? '\\' : c;
            }
            *dst++ = 0;
            offset += uint32_t(size);
        });
    }
    CheckDataFile(cat, indexName);
    qsort(cat->entries, count, sizeof(QelCatalogEntry), CompareEntries);

    FreeCatalog(s->catalogs[slot]);
    s->catalogs[slot] = cat;
    result = 1;

done:
    Int_FreeMem(text, textSize, 0);
    return result;
}

QelCatalogEntry* Qel_CatalogFind(const char* name) {
    SystemState* s = g_SystemState;
    if (!s || !s->catalogs || !(s->startFlags & QEL_START_CATALOGS)) return nullptr;
    const char* key = Qel_NormalizeName(name);
    if (!key) return nullptr;
    for (int slot = int(s->catalogSlotCount) - 1; slot >= 0; --slot) {
        QelCatalog* cat = s->catalogs[slot];
        if (!cat || !cat->count) continue;
        size_t lo = 0, hi = cat->count;
        while (lo < hi) {
            size_t mid = (lo + hi) / 2;
            int c = strcmp(key, cat->entries[mid].name);
            if (c == 0) {
                s->currentCatalog = uint16_t(slot);
                return &cat->entries[mid];
            }
            if (c < 0) hi = mid;
            else lo = mid + 1;
        }
    }
    return nullptr;
}
