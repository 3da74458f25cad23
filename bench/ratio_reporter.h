// A console reporter that also keeps the median of every benchmark, so that a bench program can
// print ratios between benchmarks measured in the same run.
#pragma once
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

class RatioReporter : public benchmark::ConsoleReporter {
  public:
    // CPU time by default; wall-clock time for benchmarks whose work runs in threads of their own
    // (the CPU time of the benchmark's thread does not count theirs), measured with UseRealTime.
    enum class Clock { Cpu, Wall };
    explicit RatioReporter(Clock clock = Clock::Cpu) : clock_(clock) {}

    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &run : runs) {
            // With repetitions the median aggregate wins; a single run stands for itself.
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (median ||
                (run.run_type == Run::RT_Iteration && !seen_median_.count(run.run_name.str())))
                times_[run.run_name.str()] =
                    clock_ == Clock::Wall ? run.GetAdjustedRealTime() : run.GetAdjustedCPUTime();
            if (median) seen_median_[run.run_name.str()] = true;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // Time per iteration of a benchmark (its median), in the benchmark's time unit. CPU time
    // where it measures the work: the machines this runs on are shared, and a busy neighbour
    // stretches wall time without changing the work done.
    double Time(const std::string &name) const {
        const auto it = times_.find(name);
        return it == times_.end() ? 0.0 : it->second;
    }

    // Prints how many times faster `fast` runs than `slow`.
    void PrintRatio(const char *label, const std::string &fast, const std::string &slow) const {
        const double f = Time(fast), s = Time(slow);
        if (f > 0 && s > 0) std::printf("%-58s %8.2f\n", label, s / f);
    }

  private:
    Clock clock_;
    std::map<std::string, double> times_;
    std::map<std::string, bool> seen_median_;
};
