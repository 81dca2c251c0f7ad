#include "platform/win32/command_line.h"

#include <fstream>
#include <iterator>
#include <string>

Win32CommandLineSeam g_Win32CommandLineSeam;

const char* GetCommandLineA() {
    if (g_Win32CommandLineSeam.text) return g_Win32CommandLineSeam.text;
    static const std::string line = [] {
        std::ifstream in("/proc/self/cmdline", std::ios::binary);
        std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        while (!raw.empty() && raw.back() == '\0') raw.pop_back();
        for (char& c : raw)
            if (c == '\0') c = ' ';
        return raw;
    }();
    return line.c_str();
}
