// WAV samples: a whole file made into a sample descriptor, with and without
// the 8-bit sign flip, and freed again.
#include <cstring>
#include <memory>

#include "base/sample.h"
#include "fuzz/harness/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    FuzzMemoryGuard guard;
    for (uint16_t flags : {uint16_t(0), QEL_SAMPLEDESC_SIGNFLIP}) {
        // A copy of exactly the file's size, so a read past it is caught.
        std::unique_ptr<uint8_t[]> bytes(new uint8_t[size ? size : 1]);
        if (size) std::memcpy(bytes.get(), data, size);
        if (QelSampleDesc* d = Qel_LoadSample(bytes.get(), uint32_t(size), flags)) Qel_FreeSampleDesc(d);
    }
    return 0;
}
