// Byte order by layout: records stored big-endian on disk are converted in
// place, in either direction, by a layout string of field widths.
#pragma once

#include <cstddef>

// Layout codes: 1 a byte left as it is, 2 a 16-bit field, 4 a 32-bit field,
// 0 (the string's end) starts the layout again for the next record; other
// codes consume nothing. A field that would cross `length` is left alone and
// the conversion stops before it. Returns the bytes converted (or stepped
// over); 0 for length 0 and for a layout that holds no 1, 2 or 4.
size_t Qel_SwapBytesByLayout(void* record, const char* layout, size_t length);
