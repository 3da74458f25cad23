// The formula compiler and its code: compile time of the default fractal formula, and iterations
// per second of the compiled loop run three ways, with their ratios.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "compile/functions.h"
#include "quob32.h"
#include "ratio_reporter.h"

namespace {

constexpr const char *kFractal = "m tx ty x y = x ty sqr tx sqr -+ret y 2 tx ty **+ret";
// A small loop whose code shares its first cache line with the value cells it stores into.
constexpr const char *kSmall = "s a = a 0.5 * ret";
constexpr int kBlock = 1000;
// A point inside the set: the iterate stays finite, as it does for most of a picture's work.
constexpr long double kRe = -0.1L, kIm = 0.1L;

void Compile(benchmark::State &state) {
    for (auto _ : state) {
        const int32_t h = CreateRecursiveFunction(kFractal, kBlock);
        benchmark::DoNotOptimize(h);
        DeleteFunction(h);
    }
}
BENCHMARK(Compile);

struct Fractal {
    explicit Fractal(const char *text = kFractal) : handle(CreateRecursiveFunction(text, kBlock)) {}
    int32_t handle;
    ~Fractal() { DeleteFunction(handle); }
    long double &Param(int i) { return *static_cast<long double *>(AccessParam(handle, i)); }
    void Reset() {
        QUOB_FunctionRecord record;
        GetFunction(handle, &record);
        const long double start[] = {0, 0, kRe, kIm};
        for (int p = 0; p < record.ParamCount; ++p) Param(p) = p < 4 ? start[p] : 0;
    }
};

// (a) LaunchFunction: the execution copy, register-resident code in a page of its own.
void IterateLaunch(benchmark::State &state, const char *text) {
    Fractal f(text);
    f.Reset();
    for (auto _ : state) LaunchFunction(f.handle);
    state.SetItemsProcessed(state.iterations() * kBlock);
}
BENCHMARK_CAPTURE(IterateLaunch, fractal, kFractal);
BENCHMARK_CAPTURE(IterateLaunch, small, kSmall);

// (b) The record's entry: the code right behind the cells it stores into every iteration.
void IterateBlockEntry(benchmark::State &state, const char *text) {
    Fractal f(text);
    f.Reset();
    QUOB_FunctionRecord record;
    GetFunction(f.handle, &record);
    const void *entry = reinterpret_cast<void *>(uintptr_t{record.Entry});
    for (auto _ : state) quob::quob_call_generated(entry);
    state.SetItemsProcessed(state.iterations() * kBlock);
}
BENCHMARK_CAPTURE(IterateBlockEntry, fractal, kFractal);
BENCHMARK_CAPTURE(IterateBlockEntry, small, kSmall);

// (c) The same iteration as plain C++ long double code.
void IterateLongDouble(benchmark::State &state) {
    long double tx = 0, ty = 0;
    for (auto _ : state) {
        for (int i = 0; i < kBlock; ++i) {
            const long double nx = kRe + (tx * tx - ty * ty);
            ty = (2.0L * tx) * ty + kIm;
            tx = nx;
        }
        benchmark::DoNotOptimize(tx);
        benchmark::DoNotOptimize(ty);
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
}
BENCHMARK(IterateLongDouble);

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nRatios (medians, same run; above 1: the first is faster)\n");
    reporter.PrintRatio("a/b  default fractal: execution copy vs record entry",
                        "IterateLaunch/fractal", "IterateBlockEntry/fractal");
    reporter.PrintRatio("a/b  small loop: execution copy vs record entry", "IterateLaunch/small",
                        "IterateBlockEntry/small");
    reporter.PrintRatio("a/c  default fractal: execution copy vs C++ long double loop",
                        "IterateLaunch/fractal", "IterateLongDouble");
    const double copy = reporter.Time("IterateLaunch/fractal");
    if (copy > 0)
        std::printf("  (target for a/c: at least 0.80: %s)\n",
                    reporter.Time("IterateLongDouble") / copy >= 0.8 ? "met" : "MISSED");
    benchmark::Shutdown();
    return 0;
}
