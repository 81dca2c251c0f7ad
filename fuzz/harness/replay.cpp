// The main of a fuzz target in the normal build: runs the target once over
// every file of the folders on the command line (its corpus and the inputs
// that once failed), each under a time limit, so the tests replay them with
// the sanitizers of the build and never fuzz at random.
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

namespace {

const char* s_current = "";

void OnAlarm(int) {
    // Only async-signal-safe calls here.
    const char head[] = "fuzz replay: time limit passed on ";
    (void)!write(2, head, sizeof head - 1);
    size_t n = 0;
    while (s_current[n]) ++n;
    (void)!write(2, s_current, n);
    (void)!write(2, "\n", 1);
    _exit(3);
}

}  // namespace

int main(int argc, char** argv) {
    unsigned limit = 20;
    if (const char* t = getenv("TREVAN_FUZZ_REPLAY_SECONDS")) limit = unsigned(std::max(1, atoi(t)));
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        // Absolute: the target changes into its scratch folder on the first input.
        fs::path p = fs::absolute(argv[i]);
        std::error_code ec;
        if (fs::is_directory(p, ec)) {
            for (const auto& e : fs::directory_iterator(p))
                if (e.is_regular_file() && e.path().filename().string()[0] != '.') inputs.push_back(e.path());
        } else if (fs::is_regular_file(p, ec)) {
            inputs.push_back(p);
        }
    }
    std::sort(inputs.begin(), inputs.end());
    if (inputs.empty()) {
        std::fprintf(stderr, "fuzz replay: no inputs\n");
        return 1;
    }
    std::signal(SIGALRM, OnAlarm);
    for (const fs::path& p : inputs) {
        std::ifstream in(p, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::string name = p.string();
        s_current = name.c_str();
        alarm(limit);
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        alarm(0);
    }
    std::printf("fuzz replay: %zu inputs, no finding\n", inputs.size());
    return 0;
}
