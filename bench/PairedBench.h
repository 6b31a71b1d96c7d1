// What the paired benchmarks share: after the registered benchmarks, rounds that time ours and a peer back
// to back over the same corpus, and the slowest single glyphs. Flags --rounds=N (default 5) and
// --slowest=N (default 10); 0 leaves that part out.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

namespace paired {

// The thread's CPU time in seconds: the machine is shared by builds, and CPU time keeps the pairs comparable
// when another process takes the core for a while (wall time would charge that to whichever side ran).
inline double cpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Takes "--name=N" out of the arguments.
inline int takeFlag(int& argc, char** argv, const char* name, int fallback) {
    const size_t length = std::strlen(name);
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], name, length) == 0 && argv[i][length] == '=') {
            const int value = std::atoi(argv[i] + length + 1);
            for (int j = i; j + 1 < argc; ++j) argv[j] = argv[j + 1];
            --argc;
            return value;
        }
    }
    return fallback;
}

// The program's main: the registered benchmarks, then (unless they were only listed) the paired rounds and
// the slowest glyphs.
inline int run(int argc, char** argv, void (*rounds)(int), void (*slowest)(size_t)) {
    const int roundCount = takeFlag(argc, argv, "--rounds", 5);
    const int slowestCount = takeFlag(argc, argv, "--slowest", 10);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    bool listing = false;
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--benchmark_list_tests", 22) == 0) listing = true;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (listing) return 0;
    if (roundCount > 0) rounds(roundCount);
    if (slowestCount > 0) slowest(size_t(slowestCount));
    return 0;
}

}  // namespace paired
