// quob-render: renders one picture with libquob32 and streams it into a 24-bit Windows bitmap or
// a PNG file, band by band as the bands are computed on every core.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "deep/deepfill.h"
#include "deep/linear.h"
#include "fill/bandfill.h"
#include "fill/filler.h"
#include "fill/fills.h"
#include "picture_files.h"
#include "quob32.h"
#include "render_options.h"
#include "render_stream.h"
#include "viewer_defaults.h"
#include "whole_file.h"

namespace {

using namespace quob::common;
using namespace quob::tools;

[[noreturn]] void Fail(const std::string &message, int status = 1) {
    std::fprintf(stderr, "quob-render: %s\n", message.c_str());
    std::exit(status);
}

// Creates the filler, naming the formula that does not compile. A formula that compiles but
// lacks the parameters or results the filler needs leaves the last error at 0.
int32_t CreateFiller(const QUOB_FillerParams &params) {
    const char *needs[2] = {"needs parameters named x and y and at least two parameters",
                            "needs parameters named x and y and at least three results"};
    QUOB_FillerParams p = params;
    for (int stage = 0; stage < 2; ++stage) {
        p.ColorFormula = stage == 0 ? kDefaultColor : params.ColorFormula;
        QUOB_SetLastError(QUOB_OK);
        const int32_t filler = QUOB_CreateFiller(&p);
        if (filler == 0) {
            const std::string which = stage == 0 ? "fractal formula: " : "colour formula: ";
            Fail(which + (QUOB_GetLastError() != QUOB_OK ? QUOB_GetLastErrorEx() : needs[stage]));
        }
        if (stage == 1) return filler;
        QUOB_DeleteFiller(filler);
    }
    return 0;
}

quob::TBandMode BandMode(RenderMode mode) {
    switch (mode) {
        case RenderMode::kPlain:
            return quob::TBandMode::kPlain;
        case RenderMode::kPreview:
            return quob::TBandMode::kPreview;
        case RenderMode::kSmoothed:
            break;
    }
    return quob::TBandMode::kSmoothed;
}

// The progress bar on a terminal: how far, how fast, how long still.
class TProgressBar {
  public:
    explicit TProgressBar(int64_t rows) : rows_(rows), shown_(isatty(STDERR_FILENO) == 1) {}

    void Show(int64_t done, double seconds) const {
        if (!shown_) return;
        constexpr int kWidth = 30;
        const int filled = static_cast<int>(done * kWidth / rows_);
        const double rate = seconds > 0 ? done / seconds : 0;
        char left[32] = "--:--";
        if (rate > 0) {
            const auto s = static_cast<int64_t>((rows_ - done) / rate);
            if (s >= 3600)
                std::snprintf(left, sizeof left, "%lld:%02d:%02d", static_cast<long long>(s / 3600),
                              static_cast<int>(s / 60 % 60), static_cast<int>(s % 60));
            else
                std::snprintf(left, sizeof left, "%d:%02d", static_cast<int>(s / 60),
                              static_cast<int>(s % 60));
        }
        std::fprintf(stderr, "\r[%s%s] %3d%%  %.0f rows/s  %s left\033[K",
                     std::string(filled, '#').c_str(), std::string(kWidth - filled, '.').c_str(),
                     static_cast<int>(done * 100 / rows_), rate, left);
    }

    void Clear() const {
        if (shown_) std::fputs("\r\033[K", stderr);
    }

  private:
    const int64_t rows_;
    const bool shown_;
};

struct Outcome {
    int status = 0;
    std::string message;  // on standard error when not empty
};

// A deep picture's formula and orbits, when the picture is deep.
struct TDeep {
    quob::TDeepFormula formula;
    std::unique_ptr<quob::TOrbitMaker> maker;
};

// Streams the picture of the filler into the output file. Ctrl+C or a termination request
// (blocked in every thread, taken here) stops the threads and removes the partial file.
Outcome Render(const RenderOptions &o, const TDeep &deep, const sigset_t &interrupts) {
    TWholeFile file(o.output);
    if (file.Fd() < 0) return {1, "cannot write " + o.output + ": " + file.Error()};
    std::unique_ptr<TPictureWriter> writer;
    if (o.png)
        writer = std::make_unique<TPngWriter>(file.Fd(), o.width, o.height, o.texts);
    else
        writer = std::make_unique<TBmpWriter>(file.Fd(), o.width, o.height);

    std::unique_ptr<quob::TBandProducer> fill;
    quob::TDeepFill *deepFill = nullptr;
    try {
        if (deep.maker) {
            auto made = std::make_unique<quob::TDeepFill>(
                deep.formula, *deep.maker, BandMode(o.mode), o.supersample, BandRowsFor(o.width),
                quob::FillThreads());
            made->Approximate(o.approximation);
            deepFill = made.get();
            fill = std::move(made);
        } else {
            fill = std::make_unique<quob::TBandFill>(BandMode(o.mode), o.supersample,
                                                     BandRowsFor(o.width), quob::FillThreads());
        }
    } catch (const std::bad_alloc &) {
        return {1, "not enough memory for bands of " + std::to_string(o.width) + " pixels"};
    } catch (const std::exception &e) {
        return {1, e.what()};
    }

    std::atomic<int64_t> rows{0};
    std::atomic<bool> finished{false};
    bool streamed = false;
    std::thread pipeline([&] {
        streamed = StreamBands(*fill, *writer, rows);
        finished.store(true);
    });
    const auto start = std::chrono::steady_clock::now();
    auto seconds = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    const TProgressBar bar(o.height);
    int interrupt = 0;
    while (!finished.load()) {
        const timespec tick{0, 250'000'000};  // a few updates a second
        interrupt = sigtimedwait(&interrupts, nullptr, &tick);
        if (interrupt > 0) {
            fill->Stop();
            break;
        }
        bar.Show(rows.load(std::memory_order_relaxed), seconds());
    }
    pipeline.join();
    bar.Clear();
    if (interrupt > 0) return {128 + interrupt, "interrupted; " + o.output + " not written"};
    if (!streamed || !file.Commit())
        return {1, "cannot write " + o.output + ": " +
                       (streamed ? file.Error() : std::strerror(writer->Error()))};
    const char *const modes[] = {"plain", "smoothed", "preview"};
    std::printf("%s: %d x %d, %s", o.output.c_str(), o.width, o.height,
                modes[static_cast<int>(o.mode)]);
    if (o.supersample > 1) std::printf(", %d x %d samples a pixel", o.supersample, o.supersample);
    std::printf(", %.3f s\n", seconds());
    if (deepFill)
        std::printf("deep: %ld bits, %d reference orbits (%.3f s), %lld samples left glitched\n",
                    deep.maker->Precision(), deepFill->References(), deepFill->OrbitSeconds(),
                    static_cast<long long>(deepFill->LeftGlitched()));
    if (deepFill && o.approximation)
        std::printf(
            "linear approximation: %.1f%% of %lld iterations skipped; tables %.3f s, "
            "%.1f MiB at most\n",
            100.0 * static_cast<double>(deepFill->Skipped()) /
                static_cast<double>(std::max<int64_t>(deepFill->Iterations(), 1)),
            static_cast<long long>(deepFill->Iterations()), deepFill->TableSeconds(),
            static_cast<double>(deepFill->TableBytes()) / (1 << 20));
    return {};
}

}  // namespace

// The library's message boxes: its load banner is not wanted on a terminal.
extern "C" __attribute__((visibility("default"))) int QUOB_HostMessageBox(const char *text,
                                                                          const char *caption,
                                                                          unsigned style) {
    if (style != 64)
        std::fprintf(stderr, "quob-render: %s: %s\n", caption ? caption : "Error", text);
    return 1;
}

int main(int argc, char **argv) {
    const ParsedOptions parsed = ParseRenderOptions({argv + 1, argv + argc});
    if (parsed.help) {
        std::fputs(kRenderUsage, stdout);
        return 0;
    }
    if (parsed.status != 0) Fail(parsed.message + " (see quob-render --help)", parsed.status);
    if (!parsed.message.empty()) std::fprintf(stderr, "quob-render: %s\n", parsed.message.c_str());
    RenderOptions o = parsed.options;

    // Every thread made from here on inherits the mask: only Render's wait takes these signals.
    sigset_t interrupts;
    sigemptyset(&interrupts);
    sigaddset(&interrupts, SIGINT);
    sigaddset(&interrupts, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &interrupts, nullptr);

    const QUOB_FillerParams params = FillerParamsOf(o);
    const int32_t filler = CreateFiller(params);
    uint8_t size[QUOB_FP_FIELD_COUNT] = {};
    size[QUOB_FP_WIDTH] = size[QUOB_FP_HEIGHT] = 1;  // which also sets Step
    QUOB_UpdateFiller(filler, &params, size);
    // A deep picture needs the formula's perturbed form; a formula without one is refused when
    // --deep asks for it, and drawn by the filler (in blocks) when the scale alone asked.
    TDeep deep;
    if (o.deep) {
        std::string refusal;
        const quob::TBody &body = *quob::FillerState().fractal.function->Body();
        try {
            if (quob::MakeDeepFormula(body, o.recursionInit, deep.formula, refusal))
                deep.maker = std::make_unique<quob::TOrbitMaker>(
                    *deep.formula.form, o.centerReText, o.centerImText, o.scaleText, o.width,
                    o.height, int64_t{o.iterations} * o.blockLength, quob::kViewOrbitQuantum);
        } catch (const std::exception &e) {
            refusal = e.what();
        }
        if (!deep.maker) {
            if (o.deepForced) Fail("fractal formula: " + refusal);
            deep = {};
            std::fprintf(stderr, "quob-render: warning: %s; the picture will be made of blocks\n",
                         refusal.c_str());
            RecordApproximation(o, false);
        } else if (o.approximation) {
            const std::string none = quob::TLinearSteps::Refusal(*deep.formula.form);
            if (!none.empty()) {
                std::fprintf(stderr,
                             "quob-render: warning: no linear approximation: %s; every iteration "
                             "is run\n",
                             none.c_str());
                RecordApproximation(o, false);
            }
        }
    }
    // Why the colour formula's derivative inputs read 0: deep pictures take the filler's answer
    // here too, until the deep fill gives one of its own.
    if (const std::string why = quob::DerivativeUnavailable(); !why.empty())
        std::fprintf(stderr,
                     "quob-render: warning: the colour formula's derivative inputs read 0: %s\n",
                     why.c_str());
    const Outcome outcome = Render(o, deep, interrupts);
    QUOB_DeleteFiller(filler);
    if (!outcome.message.empty())
        std::fprintf(stderr, "quob-render: %s\n", outcome.message.c_str());
    return outcome.status;
}
