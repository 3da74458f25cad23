// The rendering engine on the home view at 1920 x 1080, in the caller's thread: the preview,
// the plain fill and the smoothed fill, against a straightforward long double renderer of the
// same semantics. Prints the medians and their ratios after the runs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "../library/tests/render_reference.h"
#include "filler.h"
#include "home_view.h"
#include "quob32.h"

namespace {


std::map<std::string, std::vector<double>> gSeconds;  // every timed run, by benchmark


template <class Run>
void Timed(benchmark::State &state, const std::string &name, Run run) {
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        run();
        const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
        gSeconds[name].push_back(seconds.count());
        state.SetIterationTime(seconds.count());
    }
}

void Library(benchmark::State &state, int32_t code, const char *name) {
    const QUOB_FillerParams p = HomeView();
    if (!QUOB_CreateFiller(&p)) return state.SkipWithError("filler");
    const int32_t buffer = QUOB_CreateIBufferEx(kWidth, kHeight, 1);
    Timed(state, name, [&] { benchmark::DoNotOptimize(QUOB_IBufferMessage(buffer, code)); });
    QUOB_DeleteIBuffer(buffer);
    QUOB_DeleteFiller(1);
}

template <class Picture>
void Baseline(benchmark::State &state, Picture picture, const char *name) {
    quob::reference::View view;
    view.width = kWidth;
    view.height = kHeight;
    const auto renderer = quob::reference::MakeRenderer(view, quob::reference::Mandelbrot,
                                                        quob::reference::Roots);
    Timed(state, name, [&] { benchmark::DoNotOptimize(picture(renderer)); });
}

void BM_Preview(benchmark::State &s) { Library(s, QUOB_MSG_PREVIEW, "preview"); }
void BM_PlainFill(benchmark::State &s) { Library(s, QUOB_MSG_FILL, "plain"); }
void BM_SmoothedFill(benchmark::State &s) { Library(s, QUOB_MSG_FILL_SMOOTH, "smoothed"); }
// The plain fill with the fractal function's exact block loop instead of its variant.
void BM_PlainFillExactLoop(benchmark::State &s) {
    quob::UseFractalVariant(false);
    Library(s, QUOB_MSG_FILL, "plain, exact loop");
    quob::UseFractalVariant(true);
}
void BM_BaselinePreview(benchmark::State &s) {
    Baseline(s, [](const auto &r) { return r.Preview(); }, "baseline preview");
}
void BM_BaselinePlain(benchmark::State &s) {
    Baseline(s, [](const auto &r) { return r.Plain(); }, "baseline plain");
}
void BM_BaselineSmoothed(benchmark::State &s) {
    Baseline(s, [](const auto &r) { return r.Smoothed(); }, "baseline smoothed");
}

BENCHMARK(BM_Preview)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_BaselinePreview)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_PlainFill)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_BaselinePlain)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_PlainFillExactLoop)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_SmoothedFill)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_BaselineSmoothed)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void PrintRatios() {
    std::printf("\nHome view %d x %d, caller's thread, medians of every run:\n", kWidth, kHeight);
    for (const char *fill : {"preview", "plain", "smoothed"}) {
        const std::string baseline = std::string("baseline ") + fill;
        if (gSeconds[fill].empty() || gSeconds[baseline].empty()) continue;
        const double ours = Median(gSeconds[fill]);
        const double theirs = Median(gSeconds[baseline]);
        std::printf("  %-9s %9.1f ms   long double baseline %9.1f ms   speed-up %5.2fx%s\n", fill,
                    ours * 1e3, theirs * 1e3, theirs / ours,
                    std::string(fill) == "preview" ? (ours < 0.050 ? "   (target < 50 ms: met)"
                                                                   : "   (target < 50 ms: MISSED)")
                                                   : "");
    }
    if (!gSeconds["plain"].empty() && !gSeconds["plain, exact loop"].empty())
        std::printf("  plain fill, exact block loop %9.1f ms: the variant is %.2fx as fast\n",
                    Median(gSeconds["plain, exact loop"]) * 1e3,
                    Median(gSeconds["plain, exact loop"]) / Median(gSeconds["plain"]));
}

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    PrintRatios();
    benchmark::Shutdown();
    return 0;
}
