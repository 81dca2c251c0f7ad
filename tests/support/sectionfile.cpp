#include "support/sectionfile.h"

#include <gtest/gtest.h>

std::vector<uint8_t> SectionWritten(const std::function<int(QelFile*)>& write, int expected) {
    QelFile* f = Qel_fcopen("section.gz", "wb", 0);
    EXPECT_NE(f, nullptr);
    EXPECT_EQ(write(f), expected);
    Qel_fclose(f);
    std::vector<uint8_t> out;
    f = Qel_fcopen("section.gz", "rb", 0);
    uint8_t chunk[4096];
    for (size_t got; (got = Qel_fread(f, 1, sizeof chunk, chunk)) > 0;) out.insert(out.end(), chunk, chunk + got);
    Qel_fclose(f);
    return out;
}

int SectionRead(const TempGameFolder& folder, const std::vector<uint8_t>& bytes,
                const std::function<int(QelFile*)>& read) {
    folder.WriteBytes("in.bin", bytes);
    QelFile* f = Qel_fcopen("in.bin", "rb", 0);
    EXPECT_NE(f, nullptr);
    const int ok = read(f);
    Qel_fclose(f);
    return ok;
}
