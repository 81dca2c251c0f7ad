// Packed files: the unpacker over the whole file, and the inflater alone
// over the same bytes into a small output.
#include "base/memory.h"
#include "base/file.h"
#include "base/packed.h"
#include "fuzz/harness/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    Fuzz_WriteFile("fuzz.pak", data, size);
    FuzzMemoryGuard guard;
    if (void* p = Qel_Unpack("fuzz.pak", 0)) Int_FreeMem(p, g_QelLastFileSize, 0);
    if (size > 1) {
        uint8_t out[1024];
        size_t produced = 0;
        size_t outSize = data[0] * 4u + 1;
        Qel_InflateRaw(data + 1, size - 1, 0, out, outSize, &produced);
        if (produced > outSize) __builtin_trap();
    }
    return 0;
}
