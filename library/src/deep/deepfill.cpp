// Deep pictures in bands: samples by perturbation, glitches mended by further references.
#include "deep/deepfill.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "compile/deepgen.h"
#include "compile/tangent.h"
#include "deep/linear.h"
#include "fill/filler.h"
#include "fill/fills.h"
#include "platform/platform.h"

namespace quob {

namespace {

// The status flags that make a sample fault in a deep picture: invalid, zero divide, overflow.
// Denormal operands are what tiny differences and their products are made of.
constexpr uint16_t kDeepFaultFlags = 0x000D;

uint16_t Status() {
    uint16_t status;
    asm volatile("fnstsw %0" : "=m"(status)::"memory");
    return status;
}

long double LoadCell(const uint8_t *cell) {
    long double v = 0;
    std::memcpy(&v, cell, kRealWidth);
    return v;
}

void StoreCell(uint8_t *cell, long double v) { std::memcpy(cell, &v, kRealWidth); }

constexpr std::size_t kChunk = 16;  // samples a thread takes at a time

}  // namespace

// One thread's copies of the difference iteration (reading the records' doubles, and their
// extended values) and of the colour formula; the fractal formula's tangent iteration, one
// iteration a call, where the colour formula reads a derivative.
struct TDeepFill::TSampler {
    std::unique_ptr<TCompiledFunction> narrow;
    std::unique_ptr<TCompiledFunction> code;
    std::unique_ptr<TCompiledFunction> color;
    std::unique_ptr<TCompiledFunction> tangent;
};

bool MakeDeepFormula(const TBody &body, int32_t recursionInit, TDeepFormula &out,
                     std::string &refusal) {
    try {
        out.form = std::make_unique<TPerturbedForm>(body, recursionInit);
        out.narrow = CompileDeepCode(*out.form, kHostTarget, TRecordValues::kDouble);
        out.extended = CompileDeepCode(*out.form, kHostTarget, TRecordValues::kExtended);
    } catch (const TAbandon &failure) {
        refusal = DeepRefusal(failure, body);
        out = {};
        return false;
    }
    return true;
}

TDeepFill::TDeepFill(const TDeepFormula &formula, const TOrbitMaker &maker, TBandMode mode,
                     int32_t supersample, int32_t bandRows, int32_t threads,
                     std::shared_ptr<const TOrbit> centre)
    : form_(*formula.form), maker_(maker), g_(mode, supersample, bandRows) {
    const TFillerState &f = FillerState();
    blockLength_ = f.blockLength < 1 || f.blockLength > 1000 ? 1 : f.blockLength;

    // Before any worker starts: a failure here leaves no thread to join.
    if (centre) {
        main_ = std::move(centre);
    } else {
        StopAllFills();
        main_ = MakeOrbit(0, 0);
    }
    // The careful iterations' bound on the full iterate (a double), where the view's point is far
    // within it; else no iteration is careful, as none was before there were any.
    const int32_t e = DeepGuardExponent(form_);
    const double guard = e >= 0 && FastPaths() && maker.Magnitude() < std::ldexp(1.0L, e / 2)
                             ? std::ldexp(1.0, std::min(e, 1023))
                             : __builtin_inf();
    // The derivative follows the fractal formula where the filler's does (DerivativeUnavailable).
    std::unique_ptr<TCompiledFunction> tangent;
    if (f.tangent) {
        std::string refusal;
        tangent = CompileTangent(*f.fractal.function->Body(), 1, refusal);
    }
    for (int32_t t = 0; t < std::max(threads, 1); ++t) {
        auto sampler = std::make_unique<TSampler>();
        sampler->narrow = formula.narrow->Clone();
        sampler->code = formula.extended->Clone();
        sampler->color = f.color.function->Clone();
        if (tangent) sampler->tangent = tangent->Clone();
        if (!sampler->narrow || !sampler->code || !sampler->color ||
            (tangent && !sampler->tangent)) {
            if (t == 0) throw std::bad_alloc();
            break;  // fewer threads share the samples
        }
        for (TCompiledFunction *code : {sampler->narrow.get(), sampler->code.get()}) {
            std::memcpy(code->Cell(TDeepCells::kBlockLength), &blockLength_, 4);
            std::memcpy(code->Cell(TDeepCells::kMaxModule), &f.maxModule, 4);
            std::memcpy(code->Cell(TDeepCells::kDifferential), &f.differential, 4);
            std::memcpy(code->Cell(TDeepCells::kGuard), &guard, sizeof guard);
        }
        samplers_.push_back(std::move(sampler));
    }
}

TDeepFill::~TDeepFill() = default;

void TDeepFill::Approximate(bool on) { approximate_ = on && TLinearSteps::Refusal(form_).empty(); }

void TDeepFill::Stop() {
    std::lock_guard lock(mutex_);
    stop_.store(true);
    if (team_) team_->RequestStop();
}

std::unique_ptr<TOrbit> TDeepFill::MakeOrbit(long double x, long double y) {
    const auto start = std::chrono::steady_clock::now();
    // Stop gives up an orbit under way: a glitch's reference may take seconds.
    std::unique_ptr<TOrbit> orbit = maker_.Make(x, y, &stop_);
    orbitSeconds_ +=
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ++referencesMade_;
    return orbit;
}

void TDeepFill::Point(int64_t s, long double &x, long double &y) const {
    const auto n = static_cast<int64_t>(g_.offsets.size());
    const int64_t perRow = static_cast<int64_t>(g_.rowLength) * n * n;
    const int64_t r = sampleFirstRow_ + s / perRow;
    const int64_t c = s % perRow / (n * n);
    const int64_t k = s % (n * n);
    int64_t px = c, py = r;
    if (g_.mode == TBandMode::kPreview) {
        px = c * kPreviewBlock + kPreviewBlock / 2;
        py = r * kPreviewBlock + kPreviewBlock / 2;
    }
    x = static_cast<long double>(px - (g_.width >> 1)) +
        g_.offsets[static_cast<std::size_t>(k % n)];
    y = static_cast<long double>(py - (g_.height >> 1)) +
        g_.offsets[static_cast<std::size_t>(k / n)];
}

// The filler's semantics on the full values Z + d: passes of BlockLength iterations, the fault,
// escape and convergence tests after each, the colour formula on the last iterate with the
// iterations run and, with a tangent iteration, the derivative of the iterate by the point. The
// tangent then runs beside each iteration on the full values, from the identity where the iterate
// starts at the point; the difference iteration runs one iteration a call, its fault flags kept
// as if the tangent had not run.
TDeepFill::TOutcome TDeepFill::Sample(TSampler &sampler, const TOrbit &orbit,
                                      const TLinearSteps *steps, long double x, long double y,
                                      int64_t &iterations, int64_t &skipped) const {
    const TFillerState &f = FillerState();
    const std::vector<TNode> &nodes = form_.Nodes();
    // The code reading doubles while the orbit's records have them, then the other; the
    // differences move with the change.
    const uint32_t diffsSize = static_cast<uint32_t>(kRealWidth * form_.ParamCount());
    TCompiledFunction *code = orbit.NarrowLength() > 0 ? sampler.narrow.get() : sampler.code.get();
    const long double step = maker_.Step();
    const long double dre = (x - orbit.X()) * step;
    const long double dim = -((y - orbit.Y()) * step);
    for (int32_t p = 0; p < form_.ParamCount(); ++p) {
        const TStart start = form_.Start(p);
        StoreCell(code->Cell(TDeepCells::kDiffs + static_cast<uint32_t>(kRealWidth * p)),
                  start == TStart::kRe   ? dre
                  : start == TStart::kIm ? dim
                                         : 0.0L);
    }
    auto difference = [&](int32_t p) {
        return nodes[p].fixed ? 0.0L
                              : LoadCell(code->Cell(TDeepCells::kDiffs +
                                                    static_cast<uint32_t>(kRealWidth * p)));
    };
    long double full[2] = {};
    // The iterate at record n; true when it is glitched there.
    auto iterate = [&](int64_t n) {
        long double modulus = 0;
        for (int32_t i = 0; i < 2; ++i) {
            full[i] = orbit.Value(n, form_.IterateSlot(i)) + difference(i);
            modulus += std::fabs(full[i]);
        }
        return modulus < orbit.Value(n, form_.GlitchSlot());
    };
    auto glitched = [&](int64_t n) {
        long double reference = 0, modulus = 0;
        for (int32_t i = 0; i < 2; ++i) {
            reference += std::fabs(orbit.Value(n, form_.IterateSlot(i)));
            modulus += std::fabs(full[i]);
        }
        TOutcome out;
        out.glitched = true;
        out.ratio = reference > 0 ? modulus / reference : 0;
        return out;
    };

    auto cell32 = [](TCompiledFunction *on, uint32_t at, auto value) {
        std::memcpy(on->Cell(at), &value, 4);
    };
    auto read32 = [](TCompiledFunction *on, uint32_t at) {
        int32_t value;
        std::memcpy(&value, on->Cell(at), 4);
        return value;
    };

    TCompiledFunction *const tangent = sampler.tangent.get();
    const TCompiledFormula &d = f.fractal;
    const int32_t params = form_.ParamCount();
    auto tangentValue = [&](uint32_t offset) {
        return tangent->Cell(TTangentCells::kParams + offset);
    };
    auto derivative = [&](int32_t p, int32_t part) {
        return tangent->Cell(TTangentCells::Tangent(params, p, part));
    };
    if (tangent) {
        StoreCell(tangentValue(d.x), maker_.CenterRe() + dre);
        StoreCell(tangentValue(d.y), maker_.CenterIm() + dim);
        for (int32_t p = 0; p < params; ++p)
            for (int32_t part = 0; part < 2; ++part) {
                const auto at = static_cast<uint32_t>(kRealWidth * p);
                const bool identity = (at == d.x && part == 0) || (at == d.y && part == 1) ||
                                      (f.recursionInit == 0 && p == part);
                StoreCell(derivative(p, part), identity ? 1.0L : 0.0L);
            }
    }
    // One iteration of the tangent from the full iterate at record m.
    auto follow = [&](int64_t m) {
        for (int32_t i = 0; i < 2; ++i)
            StoreCell(tangentValue(static_cast<uint32_t>(kRealWidth * i)),
                      orbit.Value(m, form_.IterateSlot(i)) + difference(i));
        // Only the fault flags are read (by the pass's tests and the careful iterations), and once
        // raised they end the sample: the tangent's own are cleared unless the pass had one.
        const bool faulted = (Status() & kDeepFaultFlags) != 0;
        quob_call_generated(tangent->Entry());
        if (!faulted && (Status() & kDeepFaultFlags) != 0) asm volatile("fnclex" ::: "memory");
    };

    // A pass's flags of inexact results and tiny differences stay raised: they are no faults,
    // and a fault ends the sample, so the flags are cleared once for it.
    if (Status() & kDeepFaultFlags) asm volatile("fnclex" ::: "memory");
    // With the linear approximation, m is the record of the orbit that the sample's difference
    // refers to, n the iterations it ran: skips advance both, a rebase takes m back to 0. Without
    // it they are the same, and every pass starts at a pass end.
    float previous = 0;
    int64_t n = 0, m = 0, wait = 1;
    int32_t passes = f.iterationsLimit;
    for (;;) {
        const int64_t remaining = blockLength_ - n % blockLength_;
        bool atPassEnd = false;
        if (steps) {
            const int64_t nextEnd = n + remaining;
            const int64_t lastEnd = nextEnd + int64_t{passes - 1} * blockLength_;
            const int64_t by =
                Skip(*steps, code, tangent, m, (f.differential != 0 ? nextEnd : lastEnd) - n);
            wait = by > 0 ? 2 : std::min<int64_t>(2 * wait, blockLength_);
            if (by > 0) {
                // Pass ends inside the skip are passed without their tests, which could not act.
                const int64_t to = n + by;
                passes -= static_cast<int32_t>(to / blockLength_ - n / blockLength_ -
                                               (to % blockLength_ == 0 ? 1 : 0));
                atPassEnd = to % blockLength_ == 0;
                n = to;
                iterations += by;
                skipped += by;
            }
        }
        const int64_t left = atPassEnd ? 0 : blockLength_ - n % blockLength_;
        // With the approximation a sample that cannot skip iterates to the next even record,
        // where the steps of 2, 4, ... iterations start, and tries again; the more often it
        // could not, the longer it iterates before it tries again.
        const int64_t chunk = steps ? std::min<int64_t>(left, (m & 1) + wait) : left;
        const int64_t count = std::min<int64_t>(chunk, orbit.Length() - m);
        if (count > 0) {
            TCompiledFunction *const want =
                m + count <= orbit.NarrowLength() ? sampler.narrow.get() : sampler.code.get();
            if (want != code) {
                std::memcpy(want->Cell(TDeepCells::kDiffs), code->Cell(TDeepCells::kDiffs),
                            diffsSize);
                code = want;
            }
            const bool narrow = code == sampler.narrow.get();
            const uint8_t *first = narrow ? orbit.NarrowRecord(0) : orbit.Record(0);
            const int64_t recordSize = narrow ? orbit.NarrowRecordSize() : orbit.RecordSize();
            const uint8_t *record = first + m * recordSize;
            const uint8_t *extended = orbit.Record(m);
            std::memcpy(code->Cell(TDeepCells::kRecord), &record, sizeof record);
            std::memcpy(code->Cell(TDeepCells::kExtendedRecord), &extended, sizeof extended);
            // Passes run in the code as long as its records hold a pass and the record after.
            const int64_t readable = narrow ? orbit.NarrowLength() - m : orbit.Length() + 1 - m;
            const bool loop = count == blockLength_ && readable > blockLength_ && FastPaths() &&
                              !tangent && !steps;
            cell32(code, TDeepCells::kStatus, int32_t{kDeepPass});
            cell32(code, TDeepCells::kPasses, passes);
            cell32(code, TDeepCells::kLoop, int32_t{loop});
            cell32(code, TDeepCells::kRecords,
                   static_cast<int32_t>(std::min<int64_t>(readable, INT32_MAX)));
            std::memcpy(code->Cell(TDeepCells::kPrevious), &previous, 4);
            int32_t status = kDeepPass;
            const uint8_t *reached = record;
            if (tangent) {
                for (int64_t i = 0; i < count && status == kDeepPass; ++i) {
                    follow(m + i);
                    cell32(code, TDeepCells::kCount, int32_t{1});
                    quob_call_generated(code->Entry());
                    status = read32(code, TDeepCells::kStatus);
                    std::memcpy(&reached, code->Cell(TDeepCells::kRecord), sizeof reached);
                }
            } else {
                cell32(code, TDeepCells::kCount, static_cast<int32_t>(count));
                quob_call_generated(code->Entry());
                status = read32(code, TDeepCells::kStatus);
                std::memcpy(&reached, code->Cell(TDeepCells::kRecord), sizeof reached);
            }
            const uint16_t faults = Status() & kDeepFaultFlags;
            const int64_t at = (reached - first) / recordSize;
            iterations += at - m;
            n += at - m;
            m = at;
            if (status == kDeepGlitch) {
                iterate(at);
                return glitched(at);
            }
            if (status == kDeepFault || (!loop && faults != 0))
                return {static_cast<uint32_t>(f.escapeColor)};
            if (loop) {
                // The code ran the tests: the outcome, or the next pass for this loop.
                if (status == kDeepEscaped && f.escapeTakesColor != 0)
                    return {static_cast<uint32_t>(f.escapeColor)};
                if (status == kDeepEscaped || status == kDeepDone) {
                    iterate(at);
                    break;
                }
                passes = read32(code, TDeepCells::kPasses);
                std::memcpy(&previous, code->Cell(TDeepCells::kPrevious), 4);
                continue;
            }
            if (count == chunk && chunk < left) continue;  // inside the pass: skip again
        }
        const bool lost = iterate(m);
        if (count < chunk) {
            // The orbit ended inside the pass. A sample that went along with an orbit whose next
            // values overflow overflows too; any other one needs another reference.
            if (orbit.End() == TOrbit::TEnd::kOverflow && !lost)
                return {static_cast<uint32_t>(f.escapeColor)};
            return glitched(m);
        }
        if (lost) return glitched(m);
        const long double modulus = std::fabs(full[0]) + std::fabs(full[1]);
        if (modulus > f.maxModule) {
            if (f.escapeTakesColor != 0) return {static_cast<uint32_t>(f.escapeColor)};
            break;
        }
        if (std::fabs(modulus - previous) < f.differential) break;
        previous = static_cast<float>(modulus);
        if (--passes == 0) break;
        // At pass ends only: the sample's pass ends stay the orbit's records of whole passes.
        if (steps && steps->Rebases()) Rebase(orbit, code, m);
    }
    TOrbitInputs inputs;
    inputs.iterations = static_cast<long double>(n);
    if (tangent)
        for (int32_t i = 0; i < 4; ++i) inputs.jacobian[i] = LoadCell(derivative(i / 2, i % 2));
    return {ColorOf(*sampler.color, full[0], full[1], inputs)};
}

int64_t TDeepFill::Skip(const TLinearSteps &steps, TCompiledFunction *code,
                        TCompiledFunction *tangent, int64_t &m, int64_t most) const {
    const std::vector<TNode> &nodes = form_.Nodes();
    const int32_t params = form_.ParamCount();
    auto diff = [&](int32_t p) {
        return code->Cell(TDeepCells::kDiffs + static_cast<uint32_t>(kRealWidth * p));
    };
    long double u[kMaxParams];
    long double others = 0;  // the norm of the differences besides the iterate's
    for (int32_t p = 0; p < params; ++p) {
        u[p] = nodes[p].fixed ? 0.0L : LoadCell(diff(p));
        if (p >= 2) others = std::max(others, std::fabs(u[p]));
    }
    // The derivative of the parameters by the point, advanced by the same maps.
    long double derivative[kMaxParams][2];
    auto tangentCell = [&](int32_t p, int32_t part) {
        return tangent->Cell(TTangentCells::Tangent(params, p, part));
    };
    if (tangent)
        for (int32_t p = 0; p < params; ++p)
            for (int32_t part = 0; part < 2; ++part)
                derivative[p][part] = LoadCell(tangentCell(p, part));
    int64_t by = 0;
    for (;;) {
        const long double r = std::max({std::fabs(u[0]), std::fabs(u[1]), others});
        const int32_t level = steps.Longest(m, r, most - by);
        if (level < 0) break;
        const long double *map = steps.Map(level, m);
        long double next[2] = {}, nextDerivative[2][2] = {};
        for (int32_t row = 0; row < 2; ++row)
            for (int32_t p = 0; p < params; ++p) {
                const long double a = map[row * params + p];
                next[row] += a * u[p];
                if (tangent)
                    for (int32_t part = 0; part < 2; ++part)
                        nextDerivative[row][part] += a * derivative[p][part];
            }
        for (int32_t row = 0; row < 2; ++row) {
            u[row] = next[row];
            for (int32_t part = 0; part < 2; ++part)
                derivative[row][part] = nextDerivative[row][part];
        }
        m += int64_t{1} << level;
        by += int64_t{1} << level;
    }
    if (by > 0) {
        for (int32_t row = 0; row < 2; ++row) {
            StoreCell(diff(row), u[row]);
            if (tangent)
                for (int32_t part = 0; part < 2; ++part)
                    StoreCell(tangentCell(row, part), derivative[row][part]);
        }
    }
    return by;
}

void TDeepFill::Rebase(const TOrbit &orbit, TCompiledFunction *code, int64_t &m) const {
    if (m == 0) return;
    long double full[2], iterate = 0, difference = 0;
    for (int32_t i = 0; i < 2; ++i) {
        const long double d =
            LoadCell(code->Cell(TDeepCells::kDiffs + static_cast<uint32_t>(kRealWidth * i)));
        full[i] = orbit.Value(m, form_.IterateSlot(i)) + d;
        iterate += std::fabs(full[i]);
        difference += std::fabs(d);
    }
    if (iterate >= difference) return;
    // The orbit starts at 0: from record 0 the iterate itself is the difference.
    for (int32_t i = 0; i < 2; ++i)
        StoreCell(code->Cell(TDeepCells::kDiffs + static_cast<uint32_t>(kRealWidth * i)), full[i]);
    m = 0;
}

void TDeepFill::Work(TThreadTeam &team, TSampler &sampler, const TOrbit &orbit,
                     const TLinearSteps *steps, const std::vector<int64_t> &samples) {
    const platform::TX87Control control(kPixelControlWord, platform::TX87Control::kControlWord);
    for (;;) {
        // Counted once a chunk: the counter is shared by every thread.
        int64_t iterations = 0, skipped = 0;
        const auto begin = static_cast<std::size_t>(team.Take()) * kChunk;
        if (begin >= samples.size() || !team.Proceed()) break;
        const std::size_t end = std::min(begin + kChunk, samples.size());
        for (std::size_t i = begin; i < end; ++i) {
            const int64_t s = samples[i];
            long double x, y;
            Point(s, x, y);
            outcomes_[static_cast<std::size_t>(s)] =
                Sample(sampler, orbit, steps, x, y, iterations, skipped);
        }
        iterations_.fetch_add(iterations, std::memory_order_relaxed);
        skipped_.fetch_add(skipped, std::memory_order_relaxed);
    }
}

const TLinearSteps *TDeepFill::StepsFor(const TOrbit &orbit) {
    if (!approximate_) return nullptr;
    for (const auto &[of, steps] : steps_)
        if (of == &orbit) return steps.get();
    const auto start = std::chrono::steady_clock::now();
    // The largest difference of a sample's point from the orbit's, preview blocks included.
    const long double step = maker_.Step();
    const long double left = -static_cast<long double>(g_.width >> 1) - 1;
    const long double right = left + g_.width + kPreviewBlock + 1;
    const long double top = -static_cast<long double>(g_.height >> 1) - 1;
    const long double bottom = top + g_.height + kPreviewBlock + 1;
    const long double eMax =
        step * std::max({std::fabs(left - orbit.X()), std::fabs(right - orbit.X()),
                         std::fabs(top - orbit.Y()), std::fabs(bottom - orbit.Y())});
    // An orbit whose table does not fit in memory is followed by every iteration.
    std::unique_ptr<TLinearSteps> steps;
    try {
        steps = std::make_unique<TLinearSteps>(form_, orbit, maker_.CenterRe() + orbit.X() * step,
                                               maker_.CenterIm() - orbit.Y() * step, eMax,
                                               static_cast<long double>(FillerState().maxModule),
                                               blockLength_);
        tableBytes_ = std::max(tableBytes_, steps->Bytes());
    } catch (const std::bad_alloc &) {
    }
    tableSeconds_ +=
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    steps_.emplace_back(&orbit, std::move(steps));
    return steps_.back().second.get();
}

bool TDeepFill::Run(const TOrbit &orbit, const std::vector<int64_t> &samples) {
    const TLinearSteps *steps = StepsFor(orbit);
    TThreadTeam team(static_cast<int32_t>(samplers_.size()), [&](TThreadTeam &t, int32_t m) {
        Work(t, *samplers_[static_cast<std::size_t>(m)], orbit, steps, samples);
    });
    {
        std::lock_guard lock(mutex_);
        team_ = &team;
        if (stop_.load()) team.RequestStop();
    }
    team.Join();  // once every member has taken its last chunk
    std::lock_guard lock(mutex_);
    team_ = nullptr;
    return !stop_.load();
}

bool TDeepFill::Next(uint32_t *pixels) {
    const int32_t top = nextTop_;
    if (top >= g_.height || stop_.load()) return false;
    const auto bottom =
        static_cast<int32_t>(std::min<int64_t>(g_.height, int64_t{top} + g_.bandRows));
    const int64_t first = g_.FirstRow(top);
    const int64_t end = g_.EndRow(bottom);

    // Rows of the previous band that this one shares stay; the others are computed.
    const int64_t kept = std::max<int64_t>(0, computedEnd_ - first);
    std::vector<uint32_t> lattice(static_cast<std::size_t>(end - first) * g_.rowLength);
    if (kept > 0)
        std::memcpy(lattice.data(),
                    lattice_.data() + static_cast<std::size_t>(first - bandFirst_) * g_.rowLength,
                    static_cast<std::size_t>(kept) * g_.rowLength * sizeof(uint32_t));
    const int64_t n2 = static_cast<int64_t>(g_.offsets.size() * g_.offsets.size());
    sampleFirstRow_ = first + kept;
    const int64_t count = (end - sampleFirstRow_) * static_cast<int64_t>(g_.rowLength) * n2;
    outcomes_.assign(static_cast<std::size_t>(count), TOutcome{});
    std::vector<int64_t> samples(static_cast<std::size_t>(count));
    for (int64_t s = 0; s < count; ++s) samples[static_cast<std::size_t>(s)] = s;

    // The centre's orbit first, then the newest references, then new ones.
    if (!Run(*main_, samples)) return false;
    auto glitched = [&] {
        std::vector<int64_t> left;
        for (const int64_t s : samples)
            if (outcomes_[static_cast<std::size_t>(s)].glitched) left.push_back(s);
        return left;
    };
    samples = glitched();
    for (std::size_t r = references_.size(); r-- > 0 && !samples.empty();) {
        if (references_.size() - r > static_cast<std::size_t>(kReusedReferences)) break;
        if (!Run(*references_[r], samples)) return false;
        samples = glitched();
    }
    std::vector<int64_t> tried;  // samples whose own orbit did not serve them
    for (int32_t made = 0; !samples.empty() && made < kBandReferences; ++made) {
        int64_t best = -1;
        for (const int64_t s : samples) {
            if (std::find(tried.begin(), tried.end(), s) != tried.end()) continue;
            if (best < 0 || outcomes_[static_cast<std::size_t>(s)].ratio <
                                outcomes_[static_cast<std::size_t>(best)].ratio)
                best = s;
        }
        if (best < 0) break;
        tried.push_back(best);
        long double x, y;
        Point(best, x, y);
        std::unique_ptr<TOrbit> reference = MakeOrbit(x, y);
        if (!reference) return false;  // stopped
        references_.push_back(std::move(reference));
        if (!Run(*references_.back(), samples)) return false;
        samples = glitched();
    }
    const uint32_t escape = static_cast<uint32_t>(FillerState().escapeColor);
    for (const int64_t s : samples) outcomes_[static_cast<std::size_t>(s)].colour = escape;
    leftGlitched_ += static_cast<int64_t>(samples.size());

    // Lattice points: the mean of their samples, per channel, rounded to nearest.
    uint32_t *computed = lattice.data() + static_cast<std::size_t>(kept) * g_.rowLength;
    for (int64_t i = 0; i < count / n2; ++i) {
        TChannelSums sums;
        for (int64_t k = 0; k < n2; ++k)
            sums.Add(outcomes_[static_cast<std::size_t>(i * n2 + k)].colour);
        computed[i] = sums.Mean(static_cast<uint32_t>(n2));
    }
    lattice_ = std::move(lattice);
    bandFirst_ = first;
    computedEnd_ = end;

    const auto row = [this](int64_t r) -> const uint32_t * {
        return lattice_.data() + static_cast<std::size_t>(r - bandFirst_) * g_.rowLength;
    };
    for (int32_t y = top; y < bottom; ++y)
        g_.Emit(y, pixels + static_cast<std::size_t>(y - top) * static_cast<std::size_t>(g_.width),
                row);
    // The newest references are the ones the next band tries first.
    const std::size_t keep = static_cast<std::size_t>(kReusedReferences);
    if (references_.size() > keep)
        references_.erase(references_.begin(),
                          references_.end() - static_cast<std::ptrdiff_t>(keep));
    // The tables of the orbits let go with them.
    steps_.erase(std::remove_if(steps_.begin(), steps_.end(),
                                [this](const auto &entry) {
                                    if (entry.first == main_.get()) return false;
                                    for (const auto &r : references_)
                                        if (entry.first == r.get()) return false;
                                    return true;
                                }),
                 steps_.end());
    nextTop_ = bottom;
    return true;
}

}  // namespace quob
