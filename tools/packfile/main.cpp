// packfile: writes the packed form of a file (gzip, scrambled with a key).
//   packfile <input> <output> [key 0..255]
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/lib/packed_writer.h"

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        fprintf(stderr, "usage: packfile <input> <output> [key 0..255]\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        fprintf(stderr, "packfile: cannot read %s\n", argv[1]);
        return 1;
    }
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    int key = argc == 4 ? atoi(argv[3]) : 0x5A;
    if (key < 0 || key > 255) {
        fprintf(stderr, "packfile: key must be 0..255\n");
        return 2;
    }
    std::string error;
    if (!Tool_WritePackedFile(argv[2], data, uint8_t(key), &error)) {
        fprintf(stderr, "packfile: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
