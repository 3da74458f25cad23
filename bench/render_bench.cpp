// The rendering engine on the home view at 1920 x 1080, in the caller's thread: the preview,
// the plain fill and the smoothed fill, against a straightforward long double renderer of the
// same semantics. Prints the medians and their ratios after the runs.
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "../library/tests/render_reference.h"
#include "fill/filler.h"
#include "home_view.h"
#include "quob32.h"

namespace {

std::map<std::string, std::vector<double>> gSeconds;  // every timed run, by benchmark

// CPU time of the calling thread, where every fill of this program runs: on a shared machine a
// busy neighbour stretches the wall-clock time without changing the work done.
double ThreadSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

template <class Run>
void Timed(benchmark::State &state, const std::string &name, Run run) {
    for (auto _ : state) {
        const double start = ThreadSeconds();
        run();
        const double seconds = ThreadSeconds() - start;
        gSeconds[name].push_back(seconds);
        state.SetIterationTime(seconds);
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
    const auto renderer =
        quob::reference::MakeRenderer(view, quob::reference::Mandelbrot, quob::reference::Roots);
    Timed(state, name, [&] { benchmark::DoNotOptimize(picture(renderer)); });
}

// The plain fill's iterations without its per-pass work: each sample's iterations (counted once,
// untimed, by the baseline renderer) in a tight long double loop, then the colour formula; no
// flags, no tests between blocks.
void BM_TightLoop(benchmark::State &state) {
    quob::reference::View view;
    view.width = kWidth;
    view.height = kHeight;
    const auto renderer =
        quob::reference::MakeRenderer(view, quob::reference::Mandelbrot, quob::reference::Roots);
    std::vector<int32_t> counts(static_cast<std::size_t>(kWidth) * kHeight);
    for (int32_t y = 0; y < kHeight; ++y)
        for (int32_t x = 0; x < kWidth; ++x) {
            int64_t n = 0;
            renderer.Sample(x, y, &n);
            counts[static_cast<std::size_t>(y) * kWidth + x] = static_cast<int32_t>(n);
        }
    const long double step = static_cast<double>(static_cast<long double>(view.scale) / kHeight);
    Timed(state, "tight loop", [&] {
        long double sum = 0;
        for (int32_t y = 0; y < kHeight; ++y)
            for (int32_t x = 0; x < kWidth; ++x) {
                const long double re = (x - (kWidth >> 1)) * step + view.centerRe;
                const long double im = view.centerIm - (y - (kHeight >> 1)) * step;
                long double tx = re, ty = im, rgb[3];
                for (int32_t i = counts[static_cast<std::size_t>(y) * kWidth + x]; i > 0; --i)
                    quob::reference::Mandelbrot(tx, ty, re, im);
                quob::reference::Roots(tx, ty, rgb);
                sum += rgb[0] + rgb[1] + rgb[2];
            }
        benchmark::DoNotOptimize(sum);
    });
}

// The pixel routine's own work: a fractal formula that computes nothing, one iteration per block,
// and a colour formula of constants, so that a sample's time is the routine's: the mapping, the
// cells, the flags, the moduli, the calls and the colour conversion. Measured in the plain fill
// (the environment set once per fill) with 1 and with 20 passes per sample, and called directly
// (the environment set and restored around each sample).
QUOB_FillerParams EmptyFormulas(int32_t passes) {
    QUOB_FillerParams p = HomeView();
    p.FractalFormula = "tx ty x y = tx ret ty ret";
    p.ColorFormula = "x y = 0 ret 0 ret 0 ret";
    p.BlockLength = 1;
    p.IterationsLimit = passes;
    p.MaxModule = 1e30f;
    p.Differential = 0;
    return p;
}

void BM_PixelRoutineInFill(benchmark::State &state) {
    const auto passes = static_cast<int32_t>(state.range(0));
    const QUOB_FillerParams p = EmptyFormulas(passes);
    if (!QUOB_CreateFiller(&p)) return state.SkipWithError("filler");
    const int32_t buffer = QUOB_CreateIBufferEx(kWidth, kHeight, 1);
    Timed(state, "fill of empty formulas, passes " + std::to_string(passes),
          [&] { benchmark::DoNotOptimize(QUOB_IBufferMessage(buffer, QUOB_MSG_FILL)); });
    QUOB_DeleteIBuffer(buffer);
    QUOB_DeleteFiller(1);
}

void BM_PixelRoutineCalled(benchmark::State &state) {
    const QUOB_FillerParams p = EmptyFormulas(1);
    if (!QUOB_CreateFiller(&p)) return state.SkipWithError("filler");
    const int32_t buffer = QUOB_CreateIBufferEx(kWidth, kHeight, 1);
    Timed(state, "pixel routine called", [&] {
        for (int32_t y = 0; y < kHeight; ++y)
            for (int32_t x = 0; x < kWidth; ++x) benchmark::DoNotOptimize(quob_pixel_routine(x, y));
    });
    QUOB_DeleteIBuffer(buffer);
    QUOB_DeleteFiller(1);
}

// The iteration with the derivative beside it against the body alone: the home view at the
// default block length and at one iteration a pass, with a colour formula of constants that
// names "jxx" (so the tangent iteration runs) or does not.
void BM_Derivative(benchmark::State &state) {
    const auto blockLength = static_cast<int32_t>(state.range(0));
    const bool derivative = state.range(1) != 0;
    QUOB_FillerParams p = HomeView();
    p.BlockLength = blockLength;
    p.IterationsLimit = 400 / blockLength;
    p.ColorFormula = derivative ? "x y jxx = 0 ret 0 ret 0 ret" : "x y = 0 ret 0 ret 0 ret";
    if (!QUOB_CreateFiller(&p)) return state.SkipWithError("filler");
    if (derivative && !quob::DerivativeUnavailable().empty())
        return state.SkipWithError("no derivative");
    const int32_t buffer = QUOB_CreateIBufferEx(kWidth / 4, kHeight / 4, 1);
    Timed(state,
          std::string(derivative ? "derivative" : "body") + ", block length " +
              std::to_string(blockLength),
          [&] { benchmark::DoNotOptimize(QUOB_IBufferMessage(buffer, QUOB_MSG_FILL)); });
    QUOB_DeleteIBuffer(buffer);
    QUOB_DeleteFiller(1);
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
    Baseline(
        s, [](const auto &r) { return r.Preview(); }, "baseline preview");
}
void BM_BaselinePlain(benchmark::State &s) {
    Baseline(
        s, [](const auto &r) { return r.Plain(); }, "baseline plain");
}
void BM_BaselineSmoothed(benchmark::State &s) {
    Baseline(
        s, [](const auto &r) { return r.Smoothed(); }, "baseline smoothed");
}

BENCHMARK(BM_PixelRoutineInFill)
    ->Arg(1)
    ->Arg(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(BM_PixelRoutineCalled)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Derivative)
    ->Args({20, 0})
    ->Args({20, 1})
    ->Args({1, 0})
    ->Args({1, 1})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(BM_Preview)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_BaselinePreview)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_PlainFill)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_BaselinePlain)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_PlainFillExactLoop)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_TightLoop)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);
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
        const bool preview = std::string(fill) == "preview";
        const bool met = preview ? ours < 0.050 : theirs / ours >= 1.0;
        std::printf(
            "  %-9s %9.1f ms   long double baseline %9.1f ms   speed-up %5.2fx   (target %s: "
            "%s)\n",
            fill, ours * 1e3, theirs * 1e3, theirs / ours, preview ? "< 50 ms" : "at least 1.00x",
            met ? "met" : "MISSED");
    }
    const auto perSample = [&](const std::string &name) {
        return gSeconds[name].empty() ? 0.0 : Median(gSeconds[name]) / (double(kWidth) * kHeight);
    };
    const double one = perSample("fill of empty formulas, passes 1");
    const double twenty = perSample("fill of empty formulas, passes 20");
    const double called = perSample("pixel routine called");
    if (one > 0 && twenty > 0 && called > 0)
        std::printf(
            "  pixel routine's own cost: %.1f ns per sample in a fill (%.1f ns called on its "
            "own), %.1f ns per further pass\n",
            one * 1e9, called * 1e9, (twenty - one) / 19 * 1e9);
    if (!gSeconds["plain"].empty() && !gSeconds["tight loop"].empty())
        std::printf("  plain fill against a tight loop of its iterations %9.1f ms: %.2fx\n",
                    Median(gSeconds["tight loop"]) * 1e3,
                    Median(gSeconds["tight loop"]) / Median(gSeconds["plain"]));
    for (const char *blockLength : {"20", "1"}) {
        const std::string body = std::string("body, block length ") + blockLength;
        const std::string derivative = std::string("derivative, block length ") + blockLength;
        if (gSeconds[body].empty() || gSeconds[derivative].empty()) continue;
        const double ratio = Median(gSeconds[derivative]) / Median(gSeconds[body]);
        std::printf(
            "  iteration with the derivative, block length %2s: %.2fx the body's time (target "
            "at most 2.50x: %s)\n",
            blockLength, ratio, ratio <= 2.5 ? "met" : "MISSED");
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
