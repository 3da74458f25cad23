// The viewer's deep views at 640 x 480, 100 passes of 20 iterations (differential 0, so that no
// sample stops early): a deep buffer's fill at 1.5e-100 around -0.2 + 0.1i, inside the main
// cardioid, where every sample runs all 2000 iterations, timed from the redraw to the centre's
// orbit, to the first preview and to the finished picture; then the same after a zoom in that
// keeps the orbit (its precision, 448 bits, is that of every view of this centre and size from a
// scale of about 1e-81 down to 5.1e-101: 63 of 64 zooms in by 2 keep the orbit); against the image
// buffer's fill of the same centre at 1e-2 (the same iterations). Wall-clock times, as the user
// waits for them; medians of five runs each.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "quob32.h"
#include "viewer_defaults.h"

namespace {

constexpr int32_t kWidth = 640, kHeight = 480;
constexpr int32_t kRedraw = QUOB_MSG_PREVIEW + QUOB_MSG_FILL_SMOOTH + QUOB_MSG_THREAD;
constexpr int kRuns = 5;

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct DeepTimes {
    double orbit = 0, preview = 0, finished = 0;
    bool orbitKept = false;
};

// One deep fill from its redraw: when its orbit, its preview and its picture are there.
DeepTimes DeepFill(int32_t buffer, const char *scale, double previousOrbitSeconds) {
    DeepTimes t;
    QUOB_DeepBufferView(buffer, "-0.2", "0.1", scale);
    const auto start = Clock::now();
    if (!QUOB_DeepBufferMessage(buffer, kRedraw)) return t;
    QUOB_DeepStatus status{};
    for (;;) {
        QUOB_DeepBufferStatus(buffer, &status);
        if (t.orbit == 0 && status.References > 0) t.orbit = Since(start);
        if (t.preview == 0 && status.Phase >= QUOB_DEEP_FILLING) t.preview = Since(start);
        if (status.Phase >= QUOB_DEEP_FILLED) break;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    t.finished = Since(start);
    t.orbitKept = status.OrbitSeconds == previousOrbitSeconds;
    return t;
}

}  // namespace

int main() {
    QUOB_FillerParams p = ViewerDefaults();
    p.Width = kWidth;
    p.Height = kHeight;
    p.CenterRe = -0.2;
    p.CenterIm = 0.1;
    p.Scale = 1e-2;
    p.IterationsLimit = 100;
    p.BlockLength = 20;
    p.Differential = 0;
    const int32_t filler = QUOB_CreateFiller(&p);
    const int32_t image = QUOB_CreateIBufferEx(kWidth, kHeight, filler);
    if (!filler || !image) {
        std::fprintf(stderr, "deepview_bench: no filler or buffers\n");
        return 1;
    }
    std::vector<double> shallow, orbit, preview, finished, zoomed;
    bool kept = true;
    for (int run = 0; run < kRuns; ++run) {
        const auto start = Clock::now();
        QUOB_IBufferMessage(image, kRedraw);
        while (!QUOB_IBufferFilled(image))
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        shallow.push_back(Since(start));
        // A new buffer, a new orbit.
        const int32_t deep = QUOB_CreateDeepBuffer(kWidth, kHeight, filler);
        const DeepTimes first = DeepFill(deep, "1.5e-100", -1);
        QUOB_DeepStatus status{};
        QUOB_DeepBufferStatus(deep, &status);
        const DeepTimes next = DeepFill(deep, "7.5e-101", status.OrbitSeconds);
        orbit.push_back(first.orbit);
        preview.push_back(first.preview - first.orbit);
        finished.push_back(first.finished);
        zoomed.push_back(next.finished);
        kept = kept && next.orbitKept;
        QUOB_DeleteDeepBuffer(deep);
    }
    const double sampleIterations = double(kWidth + 1) * (kHeight + 1) * 2000;
    std::printf("deepview_bench: %d x %d, 2000 iterations a sample, medians of %d runs\n", kWidth,
                kHeight, kRuns);
    std::printf("  shallow (1e-2) finished          %8.3f s  %6.2f ns an iteration\n",
                Median(shallow), 1e9 * Median(shallow) / sampleIterations);
    std::printf("  deep (1.5e-100) orbit ready      %8.3f s\n", Median(orbit));
    std::printf("  first preview after the orbit    %8.1f ms  (target under 100 ms)\n",
                1e3 * Median(preview));
    std::printf("  deep finished                    %8.3f s  %6.2f ns an iteration\n",
                Median(finished), 1e9 * Median(finished) / sampleIterations);
    std::printf("  after a zoom in (orbit %s)     %8.3f s\n", kept ? "kept" : "MADE",
                Median(zoomed));
    std::printf("  deep / shallow time an iteration %8.2fx (target within 2x)\n",
                Median(finished) / Median(shallow));
    QUOB_DeleteIBuffer(image);
    QUOB_DeleteFiller(filler);
    return 0;
}
