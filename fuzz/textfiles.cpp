// Text files and the text save file: the first part of the input is the text
// file of page 17 in language 44, the rest the save file "tc\fuzz.txc"; both
// are read into the text pages, then text references are expanded, among
// them the text file's own bytes as a format string.
#include <string>

#include "base/strings.h"
#include "fuzz/harness/harness.h"
#include "fuzz/harness/story.h"
#include "script/textfiles.h"
#include "script/textpages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    SE_Context* ctx = Fuzz_ScriptContext();
    FuzzSplit parts = Fuzz_Split(data, size);
    Fuzz_WriteFile("T/44017.txt", parts.first, parts.firstSize);
    Fuzz_WriteFile("tc/fuzz.txc", parts.rest, parts.restSize);
    std::string own(reinterpret_cast<const char*>(parts.first), parts.firstSize);
    FuzzMemoryGuard guard(ctx);
    SB_LoadText(ctx, 17, 44);
    Qel_StrFree(SB_ConvertFormatString("{17,1} {17,2}{17,0} {17,-1}"));
    SB_LoadAllTexts(ctx, "fuzz");
    Qel_StrFree(SB_ConvertFormatString("{17,1}{1,1}{0,0} {17,3}"));
    Qel_StrFree(SB_ConvertFormatString(own.c_str()));
    SB_FreeTexts(ctx);
    return 0;
}
