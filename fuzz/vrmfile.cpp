// The data-file reader: a file in text or binary form (packed or not) read
// by a sequence of field reads that the input chooses, then where the reads
// stopped. The first part of the input holds the mode byte and the reads, the
// rest is the file.
#include "base/strings.h"
#include "base/vrmfile.h"
#include "fuzz/harness/harness.h"

static const VRMNameValue kFlags[] = {{"BIT_A", 1}, {"BIT_B", 2}, {"BIT_C", 0x100}, {"", 0}};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    FuzzSplit parts = Fuzz_Split(data, size);
    uint8_t mode = parts.firstSize ? parts.first[0] : 0;
    Fuzz_WriteFile("fuzz.vrm", parts.rest, parts.restSize);
    int binary = mode & 1;
    int packed = (mode >> 1) & 1;
    const VRMTagRow* table = (mode & 4) ? g_VRMCutTags : g_VRMBodyTags;
    int rows = (mode & 4) ? 12 : 18;

    FuzzMemoryGuard guard;
    VRMFile* r = Qel_StreamCreate("fuzz.vrm", 1, packed, binary, table, rows);
    if (!r) return 0;
    for (size_t i = 1; i < parts.firstSize && i < 512; ++i) {
        uint8_t op = parts.first[i];
        switch (op % 14) {
            case 0: r->ReadEnum(g_VRMSceneTypes); break;
            case 1: r->ReadShort(); break;
            case 2: r->ReadInt(); break;
            case 3: r->ReadUInt(); break;
            case 4: r->ReadFlags16(kFlags); break;
            case 5: r->ReadFlags32(kFlags); break;
            case 6: r->ReadFlags(kFlags); break;
            case 7: r->ReadFloat(); break;
            case 8: r->ReadFixed(); break;
            case 9: Qel_StrFree(r->ReadString()); break;
            case 10: r->ReadTag(op / 14 % rows); break;
            case 11: r->SkipToTag(); break;
            case 12: r->Validate(); break;
            default: Qel_ReaderReadChar(r); break;
        }
    }
    // Where the reads stopped, as a failure line says it.
    Qel_StrFree(Qel_ReaderPlace(r));
    Qel_CloseFileBuffer(r);
    return 0;
}
