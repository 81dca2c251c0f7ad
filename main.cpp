// The process entry: stands in for the Windows entry point, which receives the
// arguments as one line.
#include <string>
#include <vector>

#include "system/entry.h"

int main(int argc, char** argv) {
    std::string joined;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) joined += ' ';
        joined += argv[i];
    }
    // Writable: the entry cuts it into words in place. Never freed: the
    // argument vector points into it until the process ends.
    std::vector<char> line(joined.begin(), joined.end());
    line.push_back('\0');
    constexpr int kShowNormal = 1;
    return WinMain(nullptr, nullptr, line.data(), kShowNormal);
}
