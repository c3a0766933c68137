// Paired A/B timing for the benchmarks. Ours and the peer run alternately,
// round after round, the order swapped every round, so that the noise of a
// shared machine falls on both sides alike; what is reported is the median of
// the per-round ratios (peer time / our time: above 1 means ours is faster).
// QLTMSI_BENCH_ROUNDS overrides the number of rounds.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace bench {

inline double SecondsSince(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

inline double ChildCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU seconds (user and system) of the processes of the last TimeShell.
inline double& LastShellCpu() {
    static double cpu = 0;
    return cpu;
}

// Runs a shell command; its wall time in seconds, or a negative number when
// it failed.
inline double TimeShell(const std::string& command) {
    double cpuBefore = ChildCpuSeconds();
    auto start = std::chrono::steady_clock::now();
    int status = std::system(command.c_str());
    double seconds = SecondsSince(start);
    LastShellCpu() = ChildCpuSeconds() - cpuBefore;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

inline int Rounds(int fallback) {
    const char* text = std::getenv("QLTMSI_BENCH_ROUNDS");
    int rounds = text ? std::atoi(text) : 0;
    return rounds > 0 ? rounds : fallback;
}

inline double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Paired {
    std::vector<double> ours, peer, ratios;
    std::vector<double> cpuRatios;  // when both sides are whole processes
    bool failed = false;
    double oursMedian() const { return Median(ours); }
    double peerMedian() const { return Median(peer); }
    double ratioMedian() const { return Median(ratios); }
};

// `ours` and `peer` run one job each and return its seconds (negative: it
// failed, and the comparison stops). `prepare`, untimed, runs before each.
template <class Prepare, class Ours, class Peer>
Paired RunPaired(int rounds, Prepare prepare, Ours ours, Peer peer) {
    Paired result;
    for (int round = 0; round < rounds && !result.failed; ++round) {
        double a = 0, b = 0, cpuA = 0, cpuB = 0;
        for (int half = 0; half < 2; ++half) {
            bool oursNow = (half == 0) == (round % 2 == 0);
            prepare();
            LastShellCpu() = 0;
            (oursNow ? a : b) = oursNow ? ours() : peer();
            (oursNow ? cpuA : cpuB) = LastShellCpu();
        }
        if (a <= 0 || b <= 0) {
            result.failed = true;
            break;
        }
        result.ours.push_back(a);
        result.peer.push_back(b);
        result.ratios.push_back(b / a);
        if (cpuA > 0 && cpuB > 0) result.cpuRatios.push_back(cpuB / cpuA);
    }
    return result;
}

inline void Print(const char* job, const char* peerName, const Paired& p) {
    if (p.failed) {
        std::printf("%-34s a run failed\n", job);
        return;
    }
    std::printf("%-34s ours %8.3f s, %-12s %8.3f s, ratio %5.2fx (median of %zu paired rounds; range %.2f-%.2f)\n", job,
                p.oursMedian(), peerName, p.peerMedian(), p.ratioMedian(), p.ratios.size(),
                *std::min_element(p.ratios.begin(), p.ratios.end()),
                *std::max_element(p.ratios.begin(), p.ratios.end()));
    if (p.cpuRatios.size() == p.ratios.size())
        std::printf("%-34s cpu time (user + system) ratio %.2fx (median)\n", "", Median(p.cpuRatios));
}

}  // namespace bench
