// Deep image buffers: the deep fill's picture at a view of any depth, filled in a worker thread
// as an image buffer fills, for the viewer (the library's family 4).
#include <mpfr.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "deep/deepfill.h"
#include "deep/linear.h"
#include "errors.h"
#include "fill/filler.h"
#include "fill/fills.h"
#include "quob32.h"

namespace quob {

namespace {

constexpr int32_t kDeepBufferSlots = 64;

// Rows of a band as quob-render takes them, so that each band's references are the same.
int32_t BandRowsFor(int32_t width) { return std::clamp<int32_t>((1 << 20) / width, 1, 64); }

// True for the text of a finite decimal number.
bool IsDecimal(const char *text) {
    if (text == nullptr || *text == 0) return false;
    for (const char *c = text; *c; ++c)
        if (!std::strchr("0123456789+-.eE", *c)) return false;
    mpfr_t v;
    mpfr_init2(v, 64);
    const bool number = mpfr_set_str(v, text, 10, MPFR_RNDN) == 0 && mpfr_number_p(v);
    mpfr_clear(v);
    return number;
}

void CopyNote(char (&note)[128], const std::string &text) {
    const std::size_t n = std::min(text.size(), sizeof note - 1);
    std::memcpy(note, text.data(), n);
    note[n] = 0;
}

}  // namespace

class TDeepBuffer {
  public:
    TDeepBuffer(int32_t width, int32_t height, int32_t filler)
        : width_(width),
          height_(height),
          filler_(filler),
          pixels_(static_cast<std::size_t>(width) * static_cast<std::size_t>(height)) {}
    ~TDeepBuffer() { Stop(); }

    bool View(const char *re, const char *im, const char *scale) {
        if (!IsDecimal(re) || !IsDecimal(im) || !IsDecimal(scale)) return false;
        const long double step = std::strtold(scale, nullptr) / height_;
        if (!(step >= std::numeric_limits<long double>::min()) || !std::isfinite(step))
            return false;
        Stop();
        re_ = re;
        im_ = im;
        scale_ = scale;
        return true;
    }

    // Starts the preview and the smoothed fill in the worker; false with the note when the
    // fractal formula has no perturbed form.
    bool Start() {
        Stop();  // before the filler's size is set: the worker reads it
        if (!BindFiller(filler_, width_, height_)) return false;
        const TFillerState &f = FillerState();
        auto formula = std::make_unique<TDeepFormula>();
        std::string refusal;
        try {
            if (!MakeDeepFormula(*f.fractal.function->Body(), f.recursionInit, *formula, refusal)) {
                Fail(QUOB_ERR_DEEP_UNAVAILABLE, refusal);
                return false;
            }
            // The iterations of quob-render's orbits: the limit of passes times the block length.
            auto maker = std::make_unique<TOrbitMaker>(
                *formula->form, re_, im_, scale_, width_, height_,
                int64_t{f.iterationsLimit} * f.blockLength, kViewOrbitQuantum);
            // The centre's orbit serves again where a new one would be the same: the same centre
            // and precision, the same formulas and precision fields.
            if (centre_ && (centreRe_ != re_ || centreIm_ != im_ ||
                            centreBits_ != maker->Precision() || centreGeneration_ != f.generation))
                centre_.reset();
            approximating_ = approximate_ && TLinearSteps::Refusal(*formula->form).empty();
            formula_ = std::move(formula);
            maker_ = std::move(maker);
        } catch (const std::bad_alloc &) {
            Fail(QUOB_ERR_OUT_OF_RESOURCES, "not enough memory for the deep picture");
            return false;
        } catch (const std::exception &e) {
            Fail(QUOB_ERR_INVALID_EXPRESSION, e.what());
            return false;
        }
        {
            std::lock_guard lock(mutex_);
            note_.clear();
            phase_ = QUOB_DEEP_REFERENCE;
            references_ = 0;
            rows_ = 0;
        }
        abandon_.store(false);
        generation_ = f.generation;
        try {
            worker_ = std::thread([this] { Work(); });
        } catch (const std::system_error &) {  // nothing throws across the library's boundary
            Fail(QUOB_ERR_OUT_OF_RESOURCES, "no thread for the deep picture");
            return false;
        }
        return true;
    }

    // Stops the worker and waits for it, unless called from the worker itself (its own fill
    // stopping the others).
    void Stop() {
        if (!worker_.joinable() || worker_.get_id() == std::this_thread::get_id()) return;
        abandon_.store(true);
        {
            std::lock_guard lock(mutex_);
            if (fill_) fill_->Stop();
        }
        worker_.join();
        std::lock_guard lock(mutex_);
        if (phase_ == QUOB_DEEP_REFERENCE) phase_ = QUOB_DEEP_IDLE;
        if (phase_ == QUOB_DEEP_FILLING) phase_ = QUOB_DEEP_STOPPED;
    }

    // Whether the fills that start from now on skip iterations by the linear approximation
    // (on: 1 or 0; -1 leaves it); whether the fill that started last does. The worker reads only
    // the latter, set before it starts.
    int32_t Approximation(int32_t on) {
        if (on >= 0) approximate_ = on != 0;
        return approximating_ ? 1 : 0;
    }

    uint32_t *Bits() { return pixels_.data(); }
    bool Filled() const {
        std::lock_guard lock(mutex_);
        return phase_ != QUOB_DEEP_REFERENCE && phase_ != QUOB_DEEP_FILLING;
    }

    void Status(QUOB_DeepStatus &status) const {
        std::lock_guard lock(mutex_);
        status = {};
        status.Phase = phase_;
        status.References = references_;
        status.Bits = maker_ ? static_cast<int32_t>(maker_->Precision()) : 0;
        status.Rows = rows_;
        status.OrbitSeconds = orbitSeconds_;
        CopyNote(status.Note, note_);
    }

  private:
    void Fail(int32_t code, const std::string &why) {
        RecordError(code);
        std::lock_guard lock(mutex_);
        note_ = why;
        phase_ = QUOB_DEEP_FAILED;
    }

    // The picture's bands, top first, into the bottom-up pixels; false once stopped.
    bool Fill(TBandMode mode) {
        auto fill = std::make_unique<TDeepFill>(*formula_, *maker_, mode, 1, BandRowsFor(width_),
                                                FillThreads(), centre_);
        fill->Approximate(approximating_);
        {
            std::lock_guard lock(mutex_);
            if (abandon_.load()) return false;
            fill_ = fill.get();
        }
        std::vector<uint32_t> band(static_cast<std::size_t>(fill->BandRows()) *
                                   static_cast<std::size_t>(width_));
        bool complete = true;
        for (int32_t top = 0; top < height_ && complete; top += fill->BandRows()) {
            complete = fill->Next(band.data());
            const int32_t rows = std::min(fill->BandRows(), height_ - top);
            for (int32_t r = 0; r < rows && complete; ++r)
                std::memcpy(&pixels_[static_cast<std::size_t>(height_ - 1 - (top + r)) *
                                     static_cast<std::size_t>(width_)],
                            &band[static_cast<std::size_t>(r) * static_cast<std::size_t>(width_)],
                            static_cast<std::size_t>(width_) * sizeof(uint32_t));
            std::lock_guard lock(mutex_);
            references_ = referencesBefore_ + fill->References();
            if (complete && mode == TBandMode::kSmoothed) rows_ = top + rows;
        }
        std::lock_guard lock(mutex_);
        referencesBefore_ = references_;
        fill_ = nullptr;
        return complete;
    }

    void Work() {
        try {
            referencesBefore_ = 0;
            if (!centre_) {
                const auto begin = std::chrono::steady_clock::now();
                std::shared_ptr<const TOrbit> made = maker_->Make(0, 0, &abandon_);
                if (!made) return;  // abandoned: Stop sets the phase
                centre_ = std::move(made);
                centreRe_ = re_;
                centreIm_ = im_;
                centreBits_ = maker_->Precision();
                centreGeneration_ = generation_;
                std::lock_guard lock(mutex_);
                orbitSeconds_ =
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
                referencesBefore_ = references_ = 1;
            }
            if (!Fill(TBandMode::kPreview)) return;
            {
                std::lock_guard lock(mutex_);
                phase_ = QUOB_DEEP_FILLING;
            }
            if (!Fill(TBandMode::kSmoothed)) return;
            std::lock_guard lock(mutex_);
            phase_ = QUOB_DEEP_FILLED;
        } catch (const std::bad_alloc &) {
            std::lock_guard lock(mutex_);
            note_ = "not enough memory for the deep picture";
            phase_ = QUOB_DEEP_FAILED;
        } catch (const std::exception &e) {
            std::lock_guard lock(mutex_);
            note_ = e.what();
            phase_ = QUOB_DEEP_FAILED;
        }
    }

    const int32_t width_, height_, filler_;
    std::vector<uint32_t> pixels_;
    std::string re_ = "-0.5", im_ = "0", scale_ = "2";
    std::unique_ptr<TDeepFormula> formula_;
    std::unique_ptr<TOrbitMaker> maker_;
    uint64_t generation_ = 0;

    // The centre's orbit of the last fill, with what it was made for.
    std::shared_ptr<const TOrbit> centre_;
    std::string centreRe_, centreIm_;
    long centreBits_ = 0;
    uint64_t centreGeneration_ = 0;

    std::thread worker_;
    std::atomic<bool> abandon_{false};
    mutable std::mutex mutex_;  // guards what follows and the fill's Stop
    TDeepFill *fill_ = nullptr;
    bool approximate_ = true;
    bool approximating_ = false;
    int32_t phase_ = QUOB_DEEP_IDLE;
    int32_t references_ = 0, referencesBefore_ = 0, rows_ = 0;
    double orbitSeconds_ = 0;
    std::string note_;
};

namespace {

// The table of deep buffers; a handle is a slot number 1..kDeepBufferSlots. Used from the
// client's thread, as the image buffers' table is. Made with the first buffer and released by
// the library's unload (before the filler goes), so that no destructor of a static object has to
// run in an order of its own.
using TDeepBuffers = std::array<std::unique_ptr<TDeepBuffer>, kDeepBufferSlots>;
TDeepBuffers *gDeepBuffers = nullptr;

TDeepBuffer *DeepBuffer(int32_t handle) {
    if (!gDeepBuffers || handle < 1 || handle > kDeepBufferSlots) return nullptr;
    return (*gDeepBuffers)[static_cast<std::size_t>(handle - 1)].get();
}

void DeepFills(bool release) {
    if (!gDeepBuffers) return;
    for (auto &buffer : *gDeepBuffers)
        if (buffer) buffer->Stop();
    if (release) {
        delete gDeepBuffers;
        gDeepBuffers = nullptr;
    }
}

const bool gRegistered = (SetDeepFills(DeepFills), true);

}  // namespace

}  // namespace quob

extern "C" {

QUOB_API int32_t QUOB_CALL QUOB_CreateDeepBuffer(int32_t width, int32_t height, int32_t filler) {
    using namespace quob;
    (void)gRegistered;
    if (width < 1 || height < 1 || filler == 0) return 0;
    try {
        if (!gDeepBuffers) gDeepBuffers = new TDeepBuffers;
    } catch (const std::bad_alloc &) {
        return 0;
    }
    for (int32_t i = 0; i < kDeepBufferSlots; ++i) {
        auto &slot = (*gDeepBuffers)[static_cast<std::size_t>(i)];
        if (slot) continue;
        try {
            slot = std::make_unique<TDeepBuffer>(width, height, filler);
        } catch (const std::bad_alloc &) {
            return 0;
        }
        return i + 1;
    }
    return 0;
}

QUOB_API int32_t QUOB_CALL QUOB_DeleteDeepBuffer(int32_t buffer) {
    if (!quob::DeepBuffer(buffer)) return 0;
    (*quob::gDeepBuffers)[static_cast<std::size_t>(buffer - 1)].reset();
    return 1;
}

QUOB_API int32_t QUOB_CALL QUOB_DeepBufferView(int32_t buffer, const char *centerRe,
                                               const char *centerIm, const char *scale) {
    quob::TDeepBuffer *b = quob::DeepBuffer(buffer);
    if (!b) return 0;
    if (b->View(centerRe, centerIm, scale)) return 1;
    quob::RecordError(QUOB_ERR_INVALID_EXPRESSION);
    return 0;
}

QUOB_API int32_t QUOB_CALL QUOB_DeepBufferMessage(int32_t buffer, int32_t code) {
    quob::TDeepBuffer *b = quob::DeepBuffer(buffer);
    if (!b) return 0;
    if (code & QUOB_MSG_STOP) {
        b->Stop();
        return 1;
    }
    if (code & (QUOB_MSG_FILL_SMOOTH | QUOB_MSG_PREVIEW)) return b->Start() ? 1 : 0;
    return 0;
}

QUOB_API void *QUOB_CALL QUOB_DeepBufferDC(int32_t buffer) {
    quob::TDeepBuffer *b = quob::DeepBuffer(buffer);
    return b ? b->Bits() : nullptr;
}

QUOB_API int32_t QUOB_CALL QUOB_DeepBufferFilled(int32_t buffer) {
    const quob::TDeepBuffer *b = quob::DeepBuffer(buffer);
    return b == nullptr || b->Filled() ? 1 : 0;
}

QUOB_API int32_t QUOB_CALL QUOB_DeepBufferStatus(int32_t buffer, QUOB_DeepStatus *status) {
    const quob::TDeepBuffer *b = quob::DeepBuffer(buffer);
    if (!b || !status) return 0;
    b->Status(*status);
    return 1;
}

QUOB_API int32_t QUOB_CALL QUOB_DeepBufferApproximation(int32_t buffer, int32_t on) {
    quob::TDeepBuffer *b = quob::DeepBuffer(buffer);
    return b ? b->Approximation(on) : 0;
}

}  // extern "C"
