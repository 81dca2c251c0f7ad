#include "tools/lib/packed_writer.h"

#include <zlib.h>

#include <fstream>

#include "base/packed.h"

std::vector<uint8_t> Tool_Gzip(const std::vector<uint8_t>& data, int level) {
    z_stream z{};
    // 15 window bits + 16: a gzip header and trailer around the deflate data.
    if (deflateInit2(&z, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {};
    std::vector<uint8_t> out(deflateBound(&z, uLong(data.size())) + 32);
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = uInt(data.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    int r = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return r == Z_STREAM_END ? out : std::vector<uint8_t>{};
}

std::vector<uint8_t> Tool_ScramblePacked(const std::vector<uint8_t>& gzip, uint8_t key) {
    std::vector<uint8_t> out;
    out.reserve(gzip.size() + 1);
    out.push_back(uint8_t(key ^ QEL_PACKED_KEY_MASK));
    for (uint8_t b : gzip) out.push_back(uint8_t(b ^ key));
    return out;
}

std::vector<uint8_t> Tool_Pack(const std::vector<uint8_t>& data, uint8_t key, int level) {
    return Tool_ScramblePacked(Tool_Gzip(data, level), key);
}

bool Tool_WritePackedFile(const std::string& path, const std::vector<uint8_t>& data, uint8_t key, std::string* error) {
    std::vector<uint8_t> packed = Tool_Pack(data, key);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(packed.data()), std::streamsize(packed.size()));
    if (packed.empty() || !out) {
        if (error) *error = "cannot write " + path;
        return false;
    }
    return true;
}
