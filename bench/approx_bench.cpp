// Deep pictures on every core with and without the linear approximation, in the same run, at
// 1024 x 1024, 512 x 512 and 256 x 256 (--quick: the two smaller sizes only): near a minibrot of
// period 3008 at a scale of 1e-100 with 30,000 iterations a sample (1500 passes of 20), and near
// one of period 4838 at 2e-1009 with 100,000 (5000 passes of 20); differential 0, so that no
// sample stops early by converging. Both minibrots lie on the real axis, their nuclei found by
// Newton's method in arbitrary precision. For each picture: the CPU time of the process (which a
// busy neighbour on a shared machine does not stretch) and the wall-clock time, the share of the
// iterations skipped, the time and memory of the tables of merged steps, the reference orbits,
// and the share of pixels whose channels agree within 6% of 255. Medians of --repetitions runs
// (3; one at 1024 x 1024 unless given).
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "deep/deepfill.h"
#include "fill/filler.h"
#include "fill/fills.h"
#include "home_view.h"
#include "pixel_agreement.h"
#include "quob32.h"

namespace {

const char *const kPeriod3008 =
    "-1.4022000000000000000000000000000000000000000000000000742140387247584093156422018441465"
    "859446344873496611359445791185696590128528019521638059998689261074191";
const char *const kPeriod4838 =
    "-1.4999999999999999999999999999999999999999999999999999999999999999999999999999999999999"
    "9999999999999999999999999999999999999999999999999999999999999999999999999999999999999999"
    "9999999999999999999999999999999999999999999999999999999999999999999999999999999999999999"
    "9999999999999999999999999999999999999999999999999999999999999999999999999999999999999999"
    "9999999999999999999999999999999999999999999999999999999999999999999999999999999999999999"
    "9999999999999999999999999999999999999999999999999999999999999999999998955708803310053617"
    "4514331455248108065336457428906272815444783908948138168077830637186810171787055754833533"
    "7905247509105952330766113621218042917608132908410154380529296525440313300210426474388953"
    "2655648046154481938255936327125069047777343397541008765604997344935305401472381984804244"
    "0037545222786408332409497243904144292505642932983501716691946904224175960910530386651211"
    "8239746956960684073846398356125873341861171771095070907137024083918348381806696431675148"
    "9163513059911378829606910035866085100745269339764619131244170209046728694257083223391958"
    "1725375223290618808693716559669933735568746015754122585280343677117218939218159244950156"
    "46441795255978930306370066124678736618853990395435241";

struct Location {
    const char *name;
    const char *re, *im, *scale;
    int32_t passes, blockLength;
};

const Location kLocations[] = {
    {"period 3008 at 1e-100, 30,000 iterations", kPeriod3008, "0", "1e-100", 1500, 20},
    {"period 4838 at 2e-1009, 100,000 iterations", kPeriod4838, "0", "2e-1009", 5000, 20},
};

constexpr int32_t kBandRows = 64;
constexpr double kTarget = 10;

double ProcessSeconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The processor's name with its family and model, which tell apart the kinds that one name
// may stand for.
std::string Processor() {
    std::ifstream in("/proc/cpuinfo");
    std::string name = "an unknown processor", family, model;
    for (std::string line; std::getline(in, line);) {
        const std::size_t colon = line.find(": ");
        if (colon == std::string::npos) continue;
        const std::string value = line.substr(colon + 2);
        if (line.rfind("model name", 0) == 0) {
            name = value;
            break;
        }
        if (line.rfind("cpu family", 0) == 0) family = value;
        if (line.rfind("model\t", 0) == 0) model = value;
    }
    return name + " (family " + family + ", model " + model + ")";
}

bool Install(const Location &l, int32_t size) {
    QUOB_FillerParams p = HomeView();
    p.Width = p.Height = size;
    p.CenterRe = std::strtod(l.re, nullptr);
    p.CenterIm = std::strtod(l.im, nullptr);
    p.Scale = std::strtod(l.scale, nullptr);
    p.IterationsLimit = l.passes;
    p.BlockLength = l.blockLength;
    p.Differential = 0;
    uint8_t fields[QUOB_FP_FIELD_COUNT] = {};
    fields[QUOB_FP_WIDTH] = fields[QUOB_FP_HEIGHT] = 1;
    return QUOB_CreateFiller(&p) == 1 && QUOB_UpdateFiller(1, &p, fields) == 1;
}

// One picture's runs, with or without the approximation.
struct Runs {
    std::vector<double> cpu, wall;
    double skipped = 0, tableSeconds = 0, tableMiB = 0;
    int32_t references = 0;
    std::vector<uint32_t> picture;
};

void Fill(const quob::TDeepFormula &formula, const quob::TOrbitMaker &maker, bool approximate,
          Runs &runs) {
    const double cpu = ProcessSeconds();
    const auto wall = std::chrono::steady_clock::now();
    quob::TDeepFill fill(formula, maker, quob::TBandMode::kPlain, 1, kBandRows,
                         quob::FillThreads());
    fill.Approximate(approximate);
    std::vector<uint32_t> picture(static_cast<std::size_t>(fill.Width()) * fill.Height());
    std::vector<uint32_t> band(static_cast<std::size_t>(fill.Width()) * fill.BandRows());
    for (int32_t top = 0; top < fill.Height(); top += fill.BandRows()) {
        if (!fill.Next(band.data())) std::abort();
        const int32_t rows = std::min(fill.BandRows(), fill.Height() - top);
        std::memcpy(&picture[static_cast<std::size_t>(top) * fill.Width()], band.data(),
                    static_cast<std::size_t>(rows) * fill.Width() * sizeof(uint32_t));
    }
    runs.wall.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count());
    runs.cpu.push_back(ProcessSeconds() - cpu);
    runs.skipped = static_cast<double>(fill.Skipped()) /
                   static_cast<double>(std::max<int64_t>(fill.Iterations(), 1));
    runs.tableSeconds = fill.TableSeconds();
    runs.tableMiB = static_cast<double>(fill.TableBytes()) / (1 << 20);
    runs.references = fill.References();
    runs.picture = std::move(picture);
}

}  // namespace

int main(int argc, char **argv) {
    bool quick = false;
    int repetitions = 0;  // 0: 3, and one at 1024 x 1024
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--quick")
            quick = true;
        else if (option == "--repetitions" && i + 1 < argc)
            repetitions = std::max(1, std::atoi(argv[++i]));
        else if (option.rfind("--benchmark_", 0) != 0) {  // run-benchmarks' options: no use here
            std::fprintf(stderr, "approx_bench: unknown option %s\n", argv[i]);
            return 2;
        }
    }
    std::printf(
        "Deep pictures with the linear approximation against without, %d threads on %s;\n"
        "medians of CPU seconds (wall seconds beside them):\n",
        quob::FillThreads(), Processor().c_str());
    bool met = true;
    for (const Location &l : kLocations) {
        std::printf("\n%s\n", l.name);
        for (const int32_t size : {1024, 512, 256}) {
            if (quick && size == 1024) continue;
            if (!Install(l, size)) {
                std::fprintf(stderr, "approx_bench: the filler: %s\n", QUOB_GetLastErrorEx());
                return 1;
            }
            quob::TDeepFormula formula;
            std::string refusal;
            if (!quob::MakeDeepFormula(*quob::FillerState().fractal.function->Body(), 0, formula,
                                       refusal)) {
                std::fprintf(stderr, "approx_bench: %s\n", refusal.c_str());
                return 1;
            }
            const quob::TOrbitMaker maker(*formula.form, l.re, l.im, l.scale, size, size,
                                          int64_t{l.passes} * l.blockLength);
            const int runs = repetitions > 0 ? repetitions : size == 1024 ? 1 : 3;
            Runs off, on;
            for (int r = 0; r < runs; ++r) {  // alternating, so that a slow spell hits both
                Fill(formula, maker, false, off);
                Fill(formula, maker, true, on);
            }
            const double ratio = Median(off.cpu) / Median(on.cpu);
            met = met && ratio >= kTarget;
            std::printf(
                "  %4d x %-4d without %8.2f s (%7.2f)  with %7.2f s (%6.2f)  %6.2fx "
                "(target at least %.0fx: %s)\n"
                "              %.1f%% of the iterations skipped; tables %.3f s, %.1f MiB; "
                "%d / %d references; %.2f%% of the pixels agree\n",
                size, size, Median(off.cpu), Median(off.wall), Median(on.cpu), Median(on.wall),
                ratio, kTarget, ratio >= kTarget ? "met" : "MISSED", 100 * on.skipped,
                on.tableSeconds, on.tableMiB, off.references, on.references,
                100 * quob::common::ShareOfClosePixels(on.picture, off.picture));
            std::fflush(stdout);
            QUOB_DeleteFiller(1);
        }
    }
    std::printf("\n%s\n", met ? "every target met" : "a target MISSED");
    return 0;
}
