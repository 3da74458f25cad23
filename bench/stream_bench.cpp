// Streamed pictures: the home view at 8000 x 6000, smoothed, computed by the band fill and written
// band by band into a bitmap and a PNG file, against the image buffer's threaded fill of the whole
// picture in memory (samples per second, wall-clock: the work runs in the fills' threads; and the
// CPU time of the whole process beside it); and the peak resident memory of the quob-render
// process for a 30000 x 20000 picture. Prints the medians' ratios after the runs.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "fill/ibuffer.h"
#include "home_view.h"
#include "ratio_reporter.h"
#include "render_stream.h"

extern char **environ;

namespace {

constexpr int32_t kPosterWidth = 8000;
constexpr int32_t kPosterHeight = 6000;
constexpr double kSamples = (kPosterWidth + 1.0) * (kPosterHeight + 1.0);

// CPU seconds of the whole process, every thread's.
double ProcessSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::string TemporaryPath(const char *name) {
    return (std::filesystem::temp_directory_path() /
            ("stream_bench_" + std::to_string(getpid()) + "_" + name))
        .string();
}

// The whole picture in an image buffer, filled on every core; waited for as the viewer does.
void InMemoryFill(benchmark::State &state) {
    const QUOB_FillerParams p = HomeView();
    if (!QUOB_CreateFiller(&p)) return state.SkipWithError("filler");
    const int32_t buffer = QUOB_CreateIBufferEx(kPosterWidth, kPosterHeight, 1);
    const double cpu = ProcessSeconds();
    for (auto _ : state) {
        QUOB_IBufferMessage(buffer, QUOB_MSG_FILL_SMOOTH | QUOB_MSG_THREAD);
        while (!QUOB_IBufferFilled(buffer))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    state.counters["samples/s"] = benchmark::Counter(kSamples, benchmark::Counter::kIsRate);
    state.counters["process_cpu_s"] = ProcessSeconds() - cpu;
    QUOB_DeleteIBuffer(buffer);
    QUOB_DeleteFiller(1);
}
BENCHMARK(InMemoryFill)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// The same picture through quob-render's band pipeline into a file: 0 a bitmap, 1 a PNG.
void Streamed(benchmark::State &state) {
    const bool png = state.range(0) == 1;
    QUOB_FillerParams p = HomeView();
    p.Width = kPosterWidth;
    p.Height = kPosterHeight;
    if (!QUOB_CreateFiller(&p)) return state.SkipWithError("filler");
    uint8_t size[QUOB_FP_FIELD_COUNT] = {};
    size[QUOB_FP_WIDTH] = size[QUOB_FP_HEIGHT] = 1;
    QUOB_UpdateFiller(1, &p, size);
    const std::string path = TemporaryPath(png ? "poster.png" : "poster.bmp");
    const double cpu = ProcessSeconds();
    for (auto _ : state) {
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        std::unique_ptr<quob::common::TPictureWriter> writer;
        if (png)
            writer = std::make_unique<quob::common::TPngWriter>(
                fd, p.Width, p.Height, std::vector<quob::common::TextChunk>{});
        else
            writer = std::make_unique<quob::common::TBmpWriter>(fd, p.Width, p.Height);
        quob::TBandFill fill(quob::TBandMode::kSmoothed, 1, quob::tools::BandRowsFor(p.Width),
                             quob::FillThreads());
        std::atomic<int64_t> rows{0};
        const bool written = quob::tools::StreamBands(fill, *writer, rows);
        close(fd);
        if (!written) state.SkipWithError("write");
    }
    state.counters["samples/s"] = benchmark::Counter(kSamples, benchmark::Counter::kIsRate);
    state.counters["process_cpu_s"] = ProcessSeconds() - cpu;
    std::filesystem::remove(path);
    QUOB_DeleteFiller(1);
}
BENCHMARK(Streamed)->ArgName("png")->Arg(0)->Arg(1)->Iterations(1)->UseRealTime()->Unit(
    benchmark::kMillisecond);

double gPeakMiB = 0;

// VmHWM of a running process: the peak of its resident memory.
double HighWaterMiB(pid_t process) {
    std::ifstream status("/proc/" + std::to_string(process) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024;  // kB
    return 0;
}

// The whole quob-render process on a 30000 x 20000 PNG. The memory depends on the width and the
// bands, not on the cost of a sample: a cheap picture (plain, one iteration of a formula that
// returns the point, a colour formula of two products) keeps a run to a minute or two.
void PosterMemory(benchmark::State &state) {
    const std::string output = TemporaryPath("memory.png");
    const char *argv[] = {QUOB_RENDER,
                          "-o",
                          output.c_str(),
                          "--width",
                          "30000",
                          "--height",
                          "20000",
                          "--mode",
                          "plain",
                          "--iterations",
                          "1",
                          "--block-length",
                          "1",
                          "--fractal",
                          "tx ty x y = x ret y ret",
                          "--color",
                          "x y = x 99 * ret y 99 * ret 0 ret",
                          nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    for (auto _ : state) {
        pid_t child;
        int status = 0;
        if (posix_spawn(&child, QUOB_RENDER, &actions, nullptr, const_cast<char **>(argv),
                        environ) != 0)
            break;
        // The child's own high-water mark, read while it runs: the maximum that wait4 reports
        // also counts the memory of this process, which the child shared until its exec.
        while (waitpid(child, &status, WNOHANG) == 0) {
            gPeakMiB = std::max(gPeakMiB, HighWaterMiB(child));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("quob-render failed");
            break;
        }
    }
    posix_spawn_file_actions_destroy(&actions);
    state.counters["peak_MiB"] = gPeakMiB;
    std::filesystem::remove(output);
}
BENCHMARK(PosterMemory)->Iterations(1)->Repetitions(1)->UseRealTime()->Unit(benchmark::kSecond);

// Also keeps the median of each benchmark's process CPU time: on a shared machine a neighbour's
// load stretches the wall-clock time of a run, not the work done in it.
class StreamReporter : public RatioReporter {
  public:
    StreamReporter() : RatioReporter(Clock::Wall) {}
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs) {
            const auto cpu = run.counters.find("process_cpu_s");
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median" &&
                cpu != run.counters.end())
                cpuSeconds_[run.run_name.str()] = cpu->second.value;
        }
        RatioReporter::ReportRuns(runs);
    }
    double CpuSeconds(const std::string &name) const {
        const auto it = cpuSeconds_.find(name);
        return it == cpuSeconds_.end() ? 0.0 : it->second;
    }

  private:
    std::map<std::string, double> cpuSeconds_;
};

}  // namespace

int main(int argc, char **argv) {
    // The repetitions of the three pictures run interleaved, so that each picture's median meets
    // the same load of the machine.
    std::vector<char *> args(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
    StreamReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const std::string memory = "InMemoryFill/iterations:1/real_time";
    const std::string bmp = "Streamed/png:0/iterations:1/real_time";
    const std::string png = "Streamed/png:1/iterations:1/real_time";
    if (reporter.Time(memory) > 0)
        std::printf(
            "\nHome view %d x %d, smoothed, %d threads, medians of the same run: samples per "
            "second streamed vs in memory\n%-58s %8s %8s\n",
            kPosterWidth, kPosterHeight, quob::FillThreads(), "", "wall", "CPU");
    for (const auto &[label, streamed] :
         {std::pair{"streamed into a bitmap", bmp}, std::pair{"streamed into a PNG", png}}) {
        if (reporter.Time(memory) <= 0 || reporter.Time(streamed) <= 0) continue;
        const double wall = reporter.Time(memory) / reporter.Time(streamed);
        const double cpu = reporter.CpuSeconds(memory) / reporter.CpuSeconds(streamed);
        std::printf("%-58s %8.2f %8.2f  (target for the wall-clock ratio at least 0.9: %s)\n",
                    label, wall, cpu, wall >= 0.9 ? "met" : "MISSED");
    }
    if (gPeakMiB > 0)
        std::printf(
            "quob-render 30000 x 20000 PNG, peak resident memory %.1f MiB (target under 256 MiB: "
            "%s)\n",
            gPeakMiB, gPeakMiB < 256 ? "met" : "MISSED");
    benchmark::Shutdown();
    return 0;
}
