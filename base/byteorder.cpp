#include "base/byteorder.h"

#include <utility>

static size_t FieldWidth(unsigned char code) { return code == 1 || code == 2 || code == 4 ? code : 0; }

size_t Qel_SwapBytesByLayout(void* record, const char* layout, size_t length) {
    if (length == 0 || !record || !layout) return 0;
    // A layout without a field would repeat for ever without moving.
    bool consumes = false;
    for (const char* c = layout; *c && !consumes; ++c) consumes = FieldWidth(static_cast<unsigned char>(*c)) != 0;
    if (!consumes) return 0;

    auto* bytes = static_cast<unsigned char*>(record);
    size_t pos = 0;
    const char* code = layout;
    while (pos < length) {
        if (*code == 0) code = layout;
        const size_t width = FieldWidth(static_cast<unsigned char>(*code++));
        if (width == 0) continue;
        if (width > length - pos) break;  // never touch bytes past the length
        if (width == 2) {
            std::swap(bytes[pos], bytes[pos + 1]);
        } else if (width == 4) {
            std::swap(bytes[pos], bytes[pos + 3]);
            std::swap(bytes[pos + 1], bytes[pos + 2]);
        }
        pos += width;
    }
    return pos;
}
