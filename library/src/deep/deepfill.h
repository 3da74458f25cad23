// Deep pictures: the filler's picture at scales far below what extended precision resolves, its
// samples computed as differences from reference orbits (perturbation), in bands.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "compile/compiled.h"
#include "deep/linear.h"
#include "deep/perturb.h"
#include "deep/reforbit.h"
#include "fill/bandfill.h"

namespace quob {

// A fractal formula made ready for deep pictures: its perturbed form and its difference
// iteration compiled for records of doubles and of extended reals.
struct TDeepFormula {
    std::unique_ptr<TPerturbedForm> form;
    std::unique_ptr<TCompiledFunction> narrow;
    std::unique_ptr<TCompiledFunction> extended;
};

// Derives the deep formula of a compiled fractal formula's body; false, with a text that names
// the keyword or parameter, when deep rendering cannot follow it. Throws std::bad_alloc without
// memory.
bool MakeDeepFormula(const TBody &body, int32_t recursionInit, TDeepFormula &out,
                     std::string &refusal);

// Bounds of the search for references that no sample of a band outlives or loses: new references
// a band may add, and earlier ones (the newest first) its glitched samples try before.
constexpr int32_t kBandReferences = 32;
constexpr int32_t kReusedReferences = 4;

// The filler's picture (its size, the precision fields and the colour formula; the fractal
// formula as the given form) in the modes of TBandFill, each pixel from the same samples. A
// sample is iterated as a difference from the orbit of the picture's centre; a glitched sample
// (its iterate small against the reference's, or outliving the orbit) is computed again from a
// reference made at the glitched sample whose iterate came closest to cancelling, until none is
// left or the band's bound is reached; the samples left glitched get EscapeColor.
//
// Made while no fill runs; the filler must not change while it exists.
class TDeepFill final : public TBandProducer {
  public:
    // Stops every fill and makes the centre's orbit, unless given the centre's orbit of the
    // maker (whose caller then has stopped every other fill). Throws std::invalid_argument
    // without a filler of at least 1 x 1 pixels, std::bad_alloc without memory,
    // std::system_error without a thread.
    TDeepFill(const TDeepFormula &formula, const TOrbitMaker &maker, TBandMode mode,
              int32_t supersample, int32_t bandRows, int32_t threads,
              std::shared_ptr<const TOrbit> centre = nullptr);
    ~TDeepFill() override;
    TDeepFill(const TDeepFill &) = delete;
    TDeepFill &operator=(const TDeepFill &) = delete;

    int32_t Width() const override { return g_.width; }
    int32_t Height() const override { return g_.height; }
    int32_t BandRows() const override { return g_.bandRows; }
    bool Next(uint32_t *pixels) override;
    void Stop() override;

    // What the picture took so far: reference orbits made, samples left glitched, seconds spent
    // making orbits, iterations run (those of glitched samples included).
    int32_t References() const { return static_cast<int32_t>(referencesMade_); }
    int64_t LeftGlitched() const { return leftGlitched_; }
    double OrbitSeconds() const { return orbitSeconds_; }
    int64_t Iterations() const { return iterations_.load(); }
    int32_t Threads() const { return static_cast<int32_t>(samplers_.size()); }

    // Skips iterations by the linear approximation of the form (TLinearSteps), whose results
    // differ from the iterations' within its tolerance; call before the first band. Where the form
    // has none (TLinearSteps::Refusal) the picture is drawn without.
    void Approximate(bool on);
    // Iterations skipped, seconds spent building the tables of merged steps, the largest table.
    int64_t Skipped() const { return skipped_.load(); }
    double TableSeconds() const { return tableSeconds_; }
    std::size_t TableBytes() const { return tableBytes_; }

  private:
    struct TSampler;
    struct TOutcome {
        uint32_t colour = 0;
        bool glitched = false;
        long double ratio = 0;  // glitched: |iterate| / |reference iterate| where it was lost
    };

    // The point of sample s of the band's samples, in steps from the centre.
    void Point(int64_t s, long double &x, long double &y) const;
    // Adds the iterations it runs to `iterations`.
    // Adds the iterations it runs to `iterations`, those it skips also to `skipped`.
    TOutcome Sample(TSampler &sampler, const TOrbit &orbit, const TLinearSteps *steps,
                    long double x, long double y, int64_t &iterations, int64_t &skipped) const;
    // Skips from record m by the steps' longest maps while they hold, at most `most` iterations
    // in all, the difference in the code's cells and the derivative in the tangent's; the
    // iterations skipped.
    int64_t Skip(const TLinearSteps &steps, TCompiledFunction *code, TCompiledFunction *tangent,
                 int64_t &m, int64_t most) const;
    // Goes on from record 0 where the iterate has become smaller than the difference.
    void Rebase(const TOrbit &orbit, TCompiledFunction *code, int64_t &m) const;
    // The orbit's table of merged steps, built on first use; null without the approximation or
    // where the table does not fit in memory.
    const TLinearSteps *StepsFor(const TOrbit &orbit);
    // Computes the samples with the orbit on every core, a thread team's members taking chunks
    // of them; false once stopped.
    bool Run(const TOrbit &orbit, const std::vector<int64_t> &samples);
    void Work(TThreadTeam &team, TSampler &sampler, const TOrbit &orbit, const TLinearSteps *steps,
              const std::vector<int64_t> &samples);
    // Null once stopped (never for the centre's orbit, made before anyone can stop the fill).
    std::unique_ptr<TOrbit> MakeOrbit(long double x, long double y);

    const TPerturbedForm &form_;
    const TOrbitMaker &maker_;
    const TBandGeometry g_;
    int32_t blockLength_ = 1;

    std::shared_ptr<const TOrbit> main_;
    std::vector<std::unique_ptr<TOrbit>> references_;  // the newest last
    int64_t referencesMade_ = 0;
    int64_t leftGlitched_ = 0;
    double orbitSeconds_ = 0;
    std::atomic<int64_t> iterations_{0};
    bool approximate_ = false;
    std::vector<std::pair<const TOrbit *, std::unique_ptr<TLinearSteps>>> steps_;
    std::atomic<int64_t> skipped_{0};
    double tableSeconds_ = 0;
    std::size_t tableBytes_ = 0;

    // The band being made: its first lattice row, the samples of its rows (each lattice point
    // supersample^2 times) and what they gave.
    int64_t bandFirst_ = 0;
    int64_t computedEnd_ = 0;        // lattice rows below this are done
    std::vector<uint32_t> lattice_;  // colours of lattice rows [bandFirst_, computedEnd_)
    int64_t sampleFirstRow_ = 0;     // the lattice row of sample 0
    std::vector<TOutcome> outcomes_;
    int32_t nextTop_ = 0;

    // Each member of the team that runs the samples has a sampler of its own.
    std::vector<std::unique_ptr<TSampler>> samplers_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    TThreadTeam *team_ = nullptr;  // the team at work, under mutex_
};

}  // namespace quob
