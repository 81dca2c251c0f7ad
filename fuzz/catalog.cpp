// The catalog index (plain text here; scrambled as it is written) and the
// data file beside it: load the index, then read every member through the
// file layer in pieces, seek in it and load it whole.
#include <cstring>
#include <string>
#include <vector>

#include "base/catalog.h"
#include "base/file.h"
#include "base/general.h"
#include "base/memory.h"
#include "fuzz/harness/harness.h"

namespace {

void ReadMember(const char* name) {
    if (QelFile* f = Qel_fopen(name, "rb", 0)) {
        uint8_t buffer[97];
        while (Qel_fread(f, 1, sizeof buffer, buffer) == sizeof buffer) {}
        Qel_fseek(f, -3, 2);
        Qel_ftell(f);
        Qel_fseek(f, 1, 0);
        Qel_fread(f, 4, 2, buffer);
        Qel_fclose(f);
    }
    Qel_fsize(0, name);
    if (void* whole = Qel_LoadFile(name)) Int_FreeMem(whole, g_QelLastFileSize, 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    FuzzSplit parts = Fuzz_Split(data, size);
    std::vector<uint8_t> index(parts.first, parts.first + parts.firstSize);
    Qel_ScrambleCatalogIndex(index.data(), index.size());
    Fuzz_WriteFile("01.cat", index.data(), index.size());
    Fuzz_WriteFile("01.dat", parts.rest, parts.restSize);

    FuzzMemoryGuard guard;
    SystemState* s = g_SystemState;
    if (Qel_LoadCatalog(0, "01.cat", 1)) {
        const QelCatalog* cat = s->catalogs[0];
        std::vector<std::string> names;
        for (uint32_t i = 0; i < cat->count && i < 64; ++i) names.push_back(cat->entries[i].name);
        for (const std::string& n : names) ReadMember(n.c_str());
        Qel_CatalogFind("missing\\member");
        // Back to the one empty slot the start made.
        uint16_t slots = s->catalogSlotCount;
        Qel_FreeCatalogs();
        s->catalogs = static_cast<QelCatalog**>(Int_AllocMem(slots * sizeof(QelCatalog*), 0));
        s->catalogSlotCount = slots;
    }
    return 0;
}
