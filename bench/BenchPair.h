// Ours against a reference in interleaved rounds. A shared machine's load comes in bursts that
// last longer than one call: a figure measured all of one side and then all of the other lands
// the bursts on one side and moves by half from run to run. Here each round takes samples of ours
// and of the reference alternately, so both sides of a round see the same machine; the figure is
// the median of the rounds' ratios and the spread their quartiles.
//
// A pair is one Google Benchmark run (one iteration) whose counters the script reads:
//   ratio, ratio_q1, ratio_q3   median and quartiles of ours / reference, per round
//   ours_ns, reference_ns       median time of one call of each side
//   rounds, samples, calls      rounds run, samples per side and round, calls per sample
// and any counter the operations add (round trips, instructions) through TPairCounters.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace bench {

enum class TClockKind {
    Wall, // waits on sockets, disks or other threads: time as the cashier sees it
    Cpu,  // this thread's processor time: work done, not waiting
};

inline double NowNs(TClockKind kind) {
    timespec t{};
    clock_gettime(kind == TClockKind::Cpu ? CLOCK_THREAD_CPUTIME_ID : CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_nsec);
}

// The q-quantile (0..1) of values, interpolated between neighbours; 0 for none.
inline double Quantile(std::vector<double> values, double q) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const double pos = q * static_cast<double>(values.size() - 1);
    const auto lo = static_cast<std::size_t>(std::floor(pos));
    const auto hi = std::min(lo + 1, values.size() - 1);
    return values[lo] + (values[hi] - values[lo]) * (pos - static_cast<double>(lo));
}

// One side of a pair: runs `calls` calls and answers the nanoseconds they took, untimed set-up
// left out (an operation that needs set-up per call times each call itself).
using TSideOp = std::function<double(int calls)>;

// A side whose calls are timed as a whole on the given clock.
inline TSideOp Timed(TClockKind kind, std::function<void()> call) {
    return [kind, call = std::move(call)](int calls) {
        const double start = NowNs(kind);
        for (int i = 0; i < calls; ++i)
            call();
        return NowNs(kind) - start;
    };
}

struct TPairOptions {
    TClockKind Clock = TClockKind::Wall;
    double SampleSeconds = 200e-6; // a sample is as many calls as take at least this long
    double RoundSeconds = 0.15;    // aimed time of a round's samples (up to 9 of each side)
    int MinRounds = 11;
    int MaxRounds = 400;
    double BudgetSeconds = 4.0; // rounds stop after this, once MinRounds ran
};

// Counters an operation adds up while it runs (for example round trips); the pair reports each
// per call of its side as ours_NAME or reference_NAME.
struct TPairCounters {
    std::map<std::string, double> Ours, Reference;
};

// Runs the pair inside a benchmark whose iteration count is 1. A round takes samples of the two
// sides alternately (ABAB..., the first side alternating from round to round) and its ratio is
// the median of our samples over the median of the reference's: a sample that the machine's
// load stretched (a context switch, another build's burst) does not move it.
inline void RunPair(benchmark::State& state, const TSideOp& ours, const TSideOp& reference,
                    const TPairOptions& options, TPairCounters* counters = nullptr) {
    std::vector<double> oursNs, referenceNs, ratios;
    int calls = 1, samples = 1;
    for (auto _ : state) {
        // Warm-up (connections, caches, lazy set-up, a JIT), then the sizes from the slower side.
        const auto perCall = [](const TSideOp& op) {
            const double t = op(1);
            return t < 1e6 ? op(16) / 16 : t;
        };
        ours(1);
        reference(1);
        const double one = std::max({perCall(ours), perCall(reference), 1.0});
        calls = std::clamp(static_cast<int>(std::ceil(options.SampleSeconds * 1e9 / one)), 1, 1000000);
        samples = std::clamp(static_cast<int>(options.RoundSeconds * 1e9 / (2 * one * calls)), 1, 9);
        if (counters)
            *counters = {};
        const auto start = std::chrono::steady_clock::now();
        for (int round = 0; round < options.MaxRounds; ++round) {
            std::vector<double> o, r;
            for (int i = 0; i < 2 * samples; ++i) {
                const bool oursTurn = (i + round) % 2 == 0;
                (oursTurn ? o : r).push_back((oursTurn ? ours : reference)(calls) / calls);
            }
            const double om = Quantile(o, 0.5), rm = Quantile(r, 0.5);
            oursNs.insert(oursNs.end(), o.begin(), o.end());
            referenceNs.insert(referenceNs.end(), r.begin(), r.end());
            ratios.push_back(rm > 0 ? om / rm : 0);
            const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
            if (round + 1 >= options.MinRounds && spent.count() > options.BudgetSeconds)
                break;
        }
    }
    state.counters["ratio"] = Quantile(ratios, 0.5);
    state.counters["ratio_q1"] = Quantile(ratios, 0.25);
    state.counters["ratio_q3"] = Quantile(ratios, 0.75);
    state.counters["ours_ns"] = Quantile(oursNs, 0.5);
    state.counters["reference_ns"] = Quantile(referenceNs, 0.5);
    state.counters["rounds"] = static_cast<double>(ratios.size());
    state.counters["samples"] = samples;
    state.counters["calls"] = calls;
    if (counters) {
        const double total = static_cast<double>(oursNs.size()) * calls;
        for (const auto& [name, sum] : counters->Ours)
            state.counters["ours_" + name] = sum / total;
        for (const auto& [name, sum] : counters->Reference)
            state.counters["reference_" + name] = sum / total;
    }
}

// Registers a pair under pair/NAME; the script prints its ratio and spread as NAME.
inline void RegisterPair(const std::string& name, std::function<void(benchmark::State&)> fn) {
    benchmark::RegisterBenchmark(("pair/" + name).c_str(),
                                 [fn = std::move(fn)](benchmark::State& s) { fn(s); })
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
}

} // namespace bench
