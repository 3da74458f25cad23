// The cost of x87 operations on infinities, NaNs and denormals, and views whose samples meet them:
// escaping samples that overflow inside their pass, iterates beyond the colour formula's range,
// and small block lengths, each against a view of the same samples that avoids them, in one run.
// An operation whose result overflows or whose operand is special is finished by a microcode
// assist on Intel processors (over a hundred nanoseconds) and costs little on AMD ones: the
// processor and the cost measured here come first.
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "fill/filler.h"
#include "home_view.h"
#include "quob32.h"

namespace {

std::map<std::string, std::vector<double>> gSeconds;  // every timed run, by benchmark

double Median(const std::string &name) {
    std::vector<double> v = gSeconds[name];
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double ThreadSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

std::string Processor() {
    std::ifstream info("/proc/cpuinfo");
    for (std::string line; std::getline(info, line);)
        if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
    return "unknown processor";
}

// Nanoseconds a loop: the status flags cleared (a flag that is set already costs nothing more to
// raise), then a product of the value with a factor: ordinary, on an infinity or a denormal, or
// overflowing.
double LoopNanoseconds(long double value, long double factor) {
    constexpr int kLoops = 1000000;
    const double start = ThreadSeconds();
    for (int i = 0; i < kLoops; ++i) {
        long double r;
        asm volatile("fnclex\n\tfld %%st(0)\n\tfmul %%st(2), %%st\n\tfstp %%st(1)"
                     : "=t"(r)
                     : "0"(value), "u"(factor));
        benchmark::DoNotOptimize(r);
    }
    return (ThreadSeconds() - start) * 1e9 / kLoops;
}

struct View {
    const char *name;
    double re, im, scale;
    int32_t width, height, blockLength, passes;
    float differential;
    int32_t mode;  // QUOB_MSG_FILL or QUOB_MSG_FILL_SMOOTH
};

// The views of the targets, each beside the view it is compared with.
const View kViews[] = {
    {"escaping, block 20", 3, 3, 0.5, 2000, 2000, 20, 20, 0.001f, QUOB_MSG_FILL},
    {"escaping, block 12", 3, 3, 0.5, 2000, 2000, 12, 20, 0.001f, QUOB_MSG_FILL},
    {"escaping, block 10", 3, 3, 0.5, 2000, 2000, 10, 40, 0.001f, QUOB_MSG_FILL},
    {"outside, block 20", 5, 5, 2, 3000, 2000, 20, 20, 0.001f, QUOB_MSG_FILL_SMOOTH},
    {"outside, block 10", 5, 5, 2, 3000, 2000, 10, 40, 0.001f, QUOB_MSG_FILL_SMOOTH},
    {"inside, block 1", -0.2, 0.1, 0.01, 600, 600, 1, 400, 0, QUOB_MSG_FILL},
    {"inside, block 20", -0.2, 0.1, 0.01, 600, 600, 20, 20, 0, QUOB_MSG_FILL},
    {"home", -0.5, 0, 2, 1920, 1080, 20, 20, 0.001f, QUOB_MSG_FILL},
};

void BM_View(benchmark::State &state, const View &v, bool sampleLoop, const std::string &name) {
    QUOB_FillerParams p = HomeView();
    p.CenterRe = v.re, p.CenterIm = v.im, p.Scale = v.scale;
    p.BlockLength = v.blockLength, p.IterationsLimit = v.passes, p.Differential = v.differential;
    if (!QUOB_CreateFiller(&p)) return state.SkipWithError("filler");
    quob::UseFastPaths(sampleLoop);
    const int32_t buffer = QUOB_CreateIBufferEx(v.width, v.height, 1);
    for (auto _ : state) {
        const double start = ThreadSeconds();
        QUOB_IBufferMessage(buffer, v.mode);  // in this thread
        const double seconds = ThreadSeconds() - start;
        gSeconds[name].push_back(seconds);
        state.SetIterationTime(seconds);
    }
    quob::UseFastPaths(true);
    QUOB_DeleteIBuffer(buffer);
    QUOB_DeleteFiller(1);
}

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    const double ordinary = LoopNanoseconds(1.5L, 2.0L);  // exact: raises no flag
    const double infinite = LoopNanoseconds(__builtin_infl(), 2.0L);
    const double overflowing = LoopNanoseconds(0x1p16000L, 0x1p16000L);
    const double denormal = LoopNanoseconds(0x1p-16400L, 2.0L);
    std::printf("processor: %s\n", Processor().c_str());
    std::printf(
        "one exact product after the flags are cleared: %.1f ns on ordinary values; on "
        "an infinity %.1f, overflowing %.1f, on a denormal %.1f\n",
        ordinary, infinite, overflowing, denormal);
    std::printf(
        "an x87 operation on a special value or with an overflowing result costs about "
        "%.0f ns more here (the worst of the three)\n",
        std::max({infinite, overflowing, denormal}) - ordinary);
    for (const View &v : kViews)
        benchmark::RegisterBenchmark(v.name,
                                     [&v](benchmark::State &s) { BM_View(s, v, true, v.name); })
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
    const char *const kOff = "home, fast paths off";
    const char *const kEscapingOff = "escaping, block 20, fast paths off";
    benchmark::RegisterBenchmark(
        kEscapingOff, [=](benchmark::State &s) { BM_View(s, kViews[0], false, kEscapingOff); })
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    const char *const kTwelveOff = "escaping, block 12, fast paths off";
    benchmark::RegisterBenchmark(
        kTwelveOff, [=](benchmark::State &s) { BM_View(s, kViews[1], false, kTwelveOff); })
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(kOff,
                                 [=](benchmark::State &s) { BM_View(s, kViews[7], false, kOff); })
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    auto ratio = [&](const char *label, const char *a, const char *b, double target, bool below) {
        const double r = Median(a) / Median(b);
        std::printf("%-76s %6.2f  %s\n", label, r,
                    (below ? r <= target : r >= target) ? "met" : "NOT met");
    };
    std::printf("\nmedians of the thread's CPU time, one thread\n");
    ratio("escaping view, block 20 against block 10 and 40 passes (at most 1.3)",
          "escaping, block 20", "escaping, block 10", 1.3, true);
    ratio("escaping view, block 12 against block 10 (at most 1.3)", "escaping, block 12",
          "escaping, block 10", 1.3, true);
    ratio("outside region 3000 x 2000 smoothed, block 20 against 10 (at most 1.3)",
          "outside, block 20", "outside, block 10", 1.3, true);
    ratio("inside view, block 1 and 400 passes against block 20 and 20 (at most 2)",
          "inside, block 1", "inside, block 20", 2, true);
    ratio("escaping view, block 20: fast paths off against on (how much faster)", kEscapingOff,
          "escaping, block 20", 1, false);
    ratio("escaping view, block 12: fast paths off against on (how much faster)", kTwelveOff,
          "escaping, block 12", 1, false);
    ratio("home view plain fill: fast paths off against on (how much faster)", kOff, "home", 1,
          false);
    benchmark::Shutdown();
    return 0;
}
