// Regular expressions: compile a pattern, match it against a subject, and
// expand a template into an output of the size the input chooses (often
// too small on purpose). Input: the output size byte, then pattern, subject
// and template separated by zero bytes.
#include <cstring>
#include <memory>
#include <string>

#include "base/regex.h"
#include "fuzz/harness/harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Fuzz_Init();
    if (size < 1) return 0;
    size_t destSize = data[0] % 24;
    std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    std::string fields[3];
    size_t at = 0;
    for (int i = 0; i < 3; ++i) {
        size_t zero = i < 2 ? rest.find('\0', at) : std::string::npos;
        fields[i] = rest.substr(at, zero == std::string::npos ? std::string::npos : zero - at);
        if (zero == std::string::npos) {
            at = rest.size();
        } else {
            at = zero + 1;
        }
    }
    FuzzMemoryGuard guard;
    ERegexp* re = eregcomp(fields[0].c_str());
    if (!re) return 0;
    if (eregexec(re, fields[1].c_str())) {
        // Exactly destSize bytes, so a write past them is caught.
        std::unique_ptr<char[]> dest(new char[destSize ? destSize : 1]);
        int whole = eregsub(re, fields[2].c_str(), dest.get(), destSize);
        if (destSize && std::memchr(dest.get(), 0, destSize) == nullptr) __builtin_trap();
        (void)whole;
    }
    eregfree(re);
    return 0;
}
