// What the benchmark programs share: the size of the farm they measure, and the comparisons they
// print after their runs, each as a ratio beside its two figures.
//
// The farm is 10,000 applications on 500 servers; with the environment variable SKY_BENCH_FARM
// set to "large", 100,000 applications on 5,000 servers (minutes more, and a few hundred
// megabytes more, per program).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <benchmark/benchmark.h>

namespace sky::bench {

struct FarmSize {
    int applications;
    int servers;
};

inline FarmSize farmSize() {
    const char* chosen = std::getenv("SKY_BENCH_FARM");
    if (chosen && std::string_view(chosen) == "large")
        return {100'000, 5'000};
    return {10'000, 500};
}

// A comparison: the real time per item of the run `measured` over that of the run `floor`. A
// run is named by its name as printed or the start of it up to a "/" ("BM_ExportFarm/across"
// names "BM_ExportFarm/across/iterations:1/real_time"); an iteration of each does `...Items`
// items (a save, a call), so that runs of different lengths compare.
struct Ratio {
    std::string measured;
    std::string floor;
    double measuredItems = 1;
    double floorItems = 1;
};

// Prints the runs as the console reporter does, and keeps each run's real time per iteration.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred && run.iterations > 0)
                seconds_[run.benchmark_name()] =
                    run.real_accumulated_time / static_cast<double>(run.iterations);
        }
    }

    // The ratios of the runs that ran, one line each.
    void printRatios(const std::vector<Ratio>& ratios) const {
        bool first = true;
        for (const Ratio& r : ratios) {
            const double* measured = find(r.measured);
            const double* floor = find(r.floor);
            if (!measured || !floor || *floor <= 0)
                continue;
            if (first)
                std::printf("\nRatios of real time (per iteration, or per save or call where "
                            "the two runs' iterations differ; runs taken while other work ran "
                            "say little):\n");
            first = false;
            const double each = *measured / r.measuredItems, floorEach = *floor / r.floorItems;
            std::printf("  %s / %s = %.2fx (%s / %s)\n", r.measured.c_str(), r.floor.c_str(),
                        each / floorEach, readable(each).c_str(), readable(floorEach).c_str());
        }
        std::fflush(stdout);
    }

private:
    const double* find(const std::string& name) const {
        for (const auto& [run, seconds] : seconds_) {
            if (run.starts_with(name) && (run.size() == name.size() || run[name.size()] == '/'))
                return &seconds;
        }
        return nullptr;
    }

    static std::string readable(double seconds) {
        char text[32];
        if (seconds >= 1)
            std::snprintf(text, sizeof text, "%.2f s", seconds);
        else if (seconds >= 1e-3)
            std::snprintf(text, sizeof text, "%.1f ms", seconds * 1e3);
        else if (seconds >= 1e-6)
            std::snprintf(text, sizeof text, "%.2f us", seconds * 1e6);
        else
            std::snprintf(text, sizeof text, "%.1f ns", seconds * 1e9);
        return text;
    }

    std::map<std::string, double> seconds_;
};

// Runs the benchmarks as BENCHMARK_MAIN does (a filter and the other options apply), then prints
// the ratios of those that ran.
inline int runWithRatios(int argc, char** argv, const std::vector<Ratio>& ratios) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios(ratios);
    benchmark::Shutdown();
    return 0;
}

} // namespace sky::bench
