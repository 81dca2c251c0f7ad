// catpack: packs every file under a folder into one catalog pair.
//   catpack <folder> <NN.cat>
// writes NN.cat and NN.dat; member names are the paths below the folder.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/lib/catalog_writer.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: catpack <folder> <NN.cat>\n");
        return 2;
    }
    std::vector<ToolCatalogMember> members;
    std::string error;
    if (!Tool_CollectFolder(argv[1], &members, &error) || !Tool_WriteCatalog(argv[2], members, &error)) {
        fprintf(stderr, "catpack: %s\n", error.c_str());
        return 1;
    }
    printf("catpack: %zu files into %s\n", members.size(), argv[2]);
    return 0;
}
