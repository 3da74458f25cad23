// Deep pictures at 1920 x 1080 on every core, 100 passes of 20 iterations (differential 0, so
// that no sample stops early by converging): the ordinary band fill of a view inside the main
// cardioid at a scale of 1e-2, where every sample runs all 2000 iterations, against the deep fill
// of the same centre at 1e-100 (the same iteration counts) and of 0 + 1i at 1e-100 (detail, and
// references). Time per iteration from the process's CPU time, which a busy neighbour on a
// shared machine does not stretch; wall-clock time beside it. Prints the medians after the runs.
// --quick draws the pictures at a quarter of the size each way, for a run of about half a minute.
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "deep/deepfill.h"
#include "fill/bandfill.h"
#include "fill/filler.h"
#include "fill/fills.h"
#include "home_view.h"
#include "quob32.h"

namespace {

constexpr int32_t kPasses = 100;
constexpr int32_t kBlockLength = 20;
constexpr int32_t kBandRows = 64;
int32_t gWidth = kWidth;
int32_t gHeight = kHeight;

struct View {
    const char *name;
    const char *re, *im, *scale;
    bool deep;
};

const View kViews[] = {
    {"ordinary, -0.2+0.1i at 1e-2", "-0.2", "0.1", "1e-2", false},
    {"deep, -0.2+0.1i at 1e-100", "-0.2", "0.1", "1e-100", true},
    {"deep, 0+1i at 1e-100", "0", "1", "1e-100", true},
};

struct Figures {
    std::vector<double> cpu, wall, orbit;
    int64_t iterations = 0;
    int32_t references = 0;
    int64_t leftGlitched = 0;
};
std::map<std::string, Figures> gFigures;

double ProcessSeconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

bool Install(const View &v) {
    QUOB_FillerParams p = HomeView();
    p.Width = gWidth;
    p.Height = gHeight;
    p.CenterRe = std::strtod(v.re, nullptr);
    p.CenterIm = std::strtod(v.im, nullptr);
    p.Scale = std::strtod(v.scale, nullptr);
    p.IterationsLimit = kPasses;
    p.BlockLength = kBlockLength;
    p.Differential = 0;
    uint8_t size[QUOB_FP_FIELD_COUNT] = {};
    size[QUOB_FP_WIDTH] = size[QUOB_FP_HEIGHT] = 1;
    return QUOB_CreateFiller(&p) == 1 && QUOB_UpdateFiller(1, &p, size) == 1;
}

bool Drain(quob::TBandProducer &producer) {
    std::vector<uint32_t> band(static_cast<std::size_t>(producer.Width()) * producer.BandRows());
    for (int32_t top = 0; top < producer.Height(); top += producer.BandRows())
        if (!producer.Next(band.data())) return false;
    benchmark::DoNotOptimize(band.data());
    return true;
}

void BM_Fill(benchmark::State &state) {
    const View &v = kViews[state.range(0)];
    state.SetLabel(v.name);
    if (!Install(v)) return state.SkipWithError("filler");
    Figures &figures = gFigures[v.name];
    quob::TDeepFormula formula;
    std::string refusal;
    if (v.deep &&
        !quob::MakeDeepFormula(*quob::FillerState().fractal.function->Body(), 0, formula, refusal))
        return state.SkipWithError(refusal.c_str());
    const std::unique_ptr<quob::TOrbitMaker> maker =
        v.deep ? std::make_unique<quob::TOrbitMaker>(*formula.form, v.re, v.im, v.scale, gWidth,
                                                     gHeight, int64_t{kPasses} * kBlockLength)
               : nullptr;
    for (auto _ : state) {
        const double cpu = ProcessSeconds();
        const auto wall = std::chrono::steady_clock::now();
        std::unique_ptr<quob::TBandProducer> producer;
        quob::TDeepFill *deep = nullptr;
        if (v.deep) {
            auto made = std::make_unique<quob::TDeepFill>(formula, *maker, quob::TBandMode::kPlain,
                                                          1, kBandRows, quob::FillThreads());
            deep = made.get();
            producer = std::move(made);
        } else {
            producer = std::make_unique<quob::TBandFill>(quob::TBandMode::kPlain, 1, kBandRows,
                                                         quob::FillThreads());
        }
        if (!Drain(*producer)) state.SkipWithError("the fill stopped");
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
        figures.cpu.push_back(ProcessSeconds() - cpu);
        figures.wall.push_back(seconds);
        state.SetIterationTime(seconds);
        if (deep) {
            figures.orbit.push_back(deep->OrbitSeconds());
            figures.iterations = deep->Iterations();
            figures.references = deep->References();
            figures.leftGlitched = deep->LeftGlitched();
        } else {
            figures.iterations = int64_t{gWidth} * gHeight * kPasses * kBlockLength;
        }
    }
    QUOB_DeleteFiller(1);
}
BENCHMARK(BM_Fill)
    ->DenseRange(0, 2)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void PrintFigures() {
    std::printf("\n%d x %d, %d passes of %d iterations, %d threads, medians:\n", gWidth, gHeight,
                kPasses, kBlockLength, quob::FillThreads());
    double ordinary = 0;
    for (const View &v : kViews) {
        const Figures &f = gFigures[v.name];
        if (f.cpu.empty() || f.iterations == 0) continue;
        const double perIteration = Median(f.cpu) / static_cast<double>(f.iterations) * 1e9;
        if (!v.deep) ordinary = perIteration;
        std::printf("  %-30s %8.2f s wall %8.2f s CPU  %6.3f ns CPU per iteration", v.name,
                    Median(f.wall), Median(f.cpu), perIteration);
        if (v.deep)
            std::printf("  orbits %.3f s, %d references, %lld left glitched", Median(f.orbit),
                        f.references, static_cast<long long>(f.leftGlitched));
        if (v.deep && ordinary > 0)
            std::printf("  %.2fx the ordinary fill per iteration (target at most 2x: %s)",
                        perIteration / ordinary, perIteration <= 2 * ordinary ? "met" : "MISSED");
        std::printf("\n");
    }
}

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) != "--quick") {
            std::fprintf(stderr, "deep_bench: unknown option %s\n", argv[i]);
            return 2;
        }
        gWidth = kWidth / 4;
        gHeight = kHeight / 4;
    }
    benchmark::RunSpecifiedBenchmarks();
    PrintFigures();
    benchmark::Shutdown();
    return 0;
}
