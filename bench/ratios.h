// A main for benchmark programs that compare our code with a peer: runs the
// benchmarks as usual, then prints each pair's times side by side with the
// ratio ours / theirs (above 1 means ours is slower) and the target it is
// held to.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace bench_ratios {

struct Pair {
    const char* ours;  // benchmark names, arguments included ("BM_X/64")
    const char* theirs;
    const char* target;  // e.g. "<= 1.0"
};

// Keeps the time per iteration of every run while the console shows them;
// with --benchmark_repetitions, the median of the repetitions.
class Recorder : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> ns, medianNs;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            if (r.error_occurred) continue;
            const double scale = r.time_unit == benchmark::kMillisecond   ? 1e6
                                 : r.time_unit == benchmark::kMicrosecond ? 1e3
                                                                          : 1.0;
            if (r.run_type == Run::RT_Iteration) ns[r.benchmark_name()] = r.GetAdjustedRealTime() * scale;
            else if (r.aggregate_name == "median") medianNs[r.run_name.str()] = r.GetAdjustedRealTime() * scale;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    const double* Time(const std::string& name) const {
        auto m = medianNs.find(name);
        if (m != medianNs.end()) return &m->second;
        auto i = ns.find(name);
        return i != ns.end() ? &i->second : nullptr;
    }
};

inline int Main(int argc, char** argv, const std::vector<Pair>& pairs) {
    benchmark::Initialize(&argc, argv);
    Recorder recorder;
    benchmark::RunSpecifiedBenchmarks(&recorder);
    benchmark::Shutdown();
    std::printf("\n%-62s %12s %12s %7s  %s\n", "ours / theirs", "ours us", "theirs us", "ratio", "target");
    for (const Pair& p : pairs) {
        const double *a = recorder.Time(p.ours), *b = recorder.Time(p.theirs);
        if (!a || !b) continue;
        std::printf("%-62s %12.3f %12.3f %7.2f  %s\n", (std::string(p.ours) + " / " + p.theirs).c_str(), *a / 1e3,
                    *b / 1e3, *a / *b, p.target);
    }
    return 0;
}

}  // namespace bench_ratios
