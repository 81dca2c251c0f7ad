// typeswriter: writes the types files from one readable source
// (syntax in tools/lib/types_writer.h).
//   typeswriter <source> <folder> [packed key 0..255]
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "tools/lib/types_writer.h"

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        fprintf(stderr, "usage: typeswriter <source> <folder> [packed key 0..255]\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        fprintf(stderr, "typeswriter: cannot read %s\n", argv[1]);
        return 1;
    }
    std::string source((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    int key = argc == 4 ? atoi(argv[3]) : -1;
    if (argc == 4 && (key < 0 || key > 255)) {
        fprintf(stderr, "typeswriter: key must be 0..255\n");
        return 2;
    }
    std::string error;
    if (!Tool_WriteTypesFiles(source, argv[2], key, &error)) {
        fprintf(stderr, "typeswriter: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
