// STANDIN: see standin.h.
#include "space/standin.h"

#include <cstring>

#include "base/file.h"
#include "base/log.h"
#include "base/standin_calls.h"

namespace {
// The section's one word; any value reads back.
constexpr uint8_t kSection[12] = {'S', 'E', 'C', 'T', 0, 0, 0, 1, '/', 'S', 'E', 'C'};
}  // namespace

void SA_RefitViews(SpaceRoot*) { StandIn_Record("SA_RefitViews"); }

int SA_SaveSectors(QelFile* file) {
    StandIn_Record("SA_SaveSectors");
    if (StandIn_Fails("SA_SaveSectors")) return 0;
    return Qel_fwriteBlock(file, 1, sizeof kSection, kSection) == sizeof kSection ? 1 : 0;
}

int SA_LoadSectors(QelFile* file) {
    StandIn_Record("SA_LoadSectors");
    uint8_t got[sizeof kSection];
    if (Qel_fread(file, 1, sizeof got, got) != sizeof got || std::memcmp(got, kSection, 4) != 0 ||
        std::memcmp(got + 8, kSection + 8, 4) != 0) {
        Qel_ErrPrintf("SA_LoadSectors: Wrong SECT section\n");
        return 0;
    }
    return StandIn_Fails("SA_LoadSectors") ? 0 : 1;
}
