// A save section written through the file layer's gzip stream in the working
// folder and read back whole, and bytes handed to a section reader as a file:
// the round trip every save-section test makes.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "base/file.h"
#include "support/gamefolder.h"

// The bytes `write` put in a gzip stream, decompressed; `write`'s answer must
// be `expected`.
std::vector<uint8_t> SectionWritten(const std::function<int(QelFile*)>& write, int expected = 1);
// `read`'s answer for `bytes` written to a plain file in `folder`.
int SectionRead(const TempGameFolder& folder, const std::vector<uint8_t>& bytes,
                const std::function<int(QelFile*)>& read);
