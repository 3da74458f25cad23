// Threaded fills of the home view at 1920 x 1080, smoothed, with the viewer's default precision:
// the fill in one thread against the fill in one thread per core, and against the same picture
// rendered by the whole quob-render process (started, filled, written, ended). Wall-clock time:
// the work runs in the fill's own threads. Prints the medians' ratios after the runs.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "fill/ibuffer.h"
#include "home_view.h"
#include "quob32.h"
#include "ratio_reporter.h"

extern char **environ;

namespace {

constexpr int32_t kSmoothedThreaded = QUOB_MSG_FILL_SMOOTH | QUOB_MSG_THREAD;

// A threaded smoothed fill with `threads` threads (0: one per core), waited for as the viewer's
// display timer does, by polling QUOB_IBufferFilled.
void SmoothedFill(benchmark::State &state) {
    quob::SetFillThreads(static_cast<int32_t>(state.range(0)));
    const QUOB_FillerParams p = HomeView();
    if (!QUOB_CreateFiller(&p)) return state.SkipWithError("filler");
    const int32_t buffer = QUOB_CreateIBufferEx(kWidth, kHeight, 1);
    for (auto _ : state) {
        QUOB_IBufferMessage(buffer, kSmoothedThreaded);
        while (!QUOB_IBufferFilled(buffer))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    state.counters["threads"] = quob::ImageBuffer(buffer)->WorkerThreads();
    QUOB_DeleteIBuffer(buffer);
    QUOB_DeleteFiller(1);
    quob::SetFillThreads(0);
}
BENCHMARK(SmoothedFill)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(0)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

#ifdef QUOB_RENDER
// quob-render's defaults are the home view and the viewer's precision, smoothed.
void RenderProcess(benchmark::State &state) {
    const std::string output = (std::filesystem::temp_directory_path() /
                                ("fill_threads_bench_" + std::to_string(getpid()) + ".bmp"))
                                   .string();
    const std::string width = std::to_string(kWidth), height = std::to_string(kHeight);
    const char *argv[] = {QUOB_RENDER,   "-o",       output.c_str(), "--width",
                          width.c_str(), "--height", height.c_str(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    for (auto _ : state) {
        pid_t child;
        int status = 0;
        if (posix_spawn(&child, QUOB_RENDER, &actions, nullptr, const_cast<char **>(argv),
                        environ) != 0 ||
            waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("quob-render failed");
            break;
        }
    }
    posix_spawn_file_actions_destroy(&actions);
    std::filesystem::remove(output);
}
BENCHMARK(RenderProcess)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
#endif

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter(RatioReporter::Clock::Wall);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const std::string one = "SmoothedFill/threads:1/iterations:1/real_time";
    const std::string all = "SmoothedFill/threads:0/iterations:1/real_time";
    const std::string process = "RenderProcess/iterations:1/real_time";
    std::printf(
        "\nHome view %d x %d, smoothed fill, wall-clock medians of the same run "
        "(above 1: the first is faster)\n",
        kWidth, kHeight);
    const double scaling = reporter.Time(one) / reporter.Time(all);
    reporter.PrintRatio(
        ("fill, " + std::to_string(quob::FillThreads()) + " threads vs 1 thread").c_str(), all,
        one);
    if (reporter.Time(one) > 0 && reporter.Time(all) > 0 && quob::FillThreads() == 2)
        std::printf("  (target for 2 threads: at least 1.70: %s)\n",
                    scaling >= 1.7 ? "met" : "MISSED");
    reporter.PrintRatio("fill, all threads vs the whole quob-render process", all, process);
    reporter.PrintRatio("fill, 1 thread vs the whole quob-render process", one, process);
    benchmark::Shutdown();
    return 0;
}
