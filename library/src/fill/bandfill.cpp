// Band fills: the filler's picture computed ahead of a client that takes it band by band.
#include "fill/bandfill.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>

#include "fill/filler.h"
#include "fill/fills.h"
#include "platform/platform.h"

namespace quob {

TBandGeometry::TBandGeometry(TBandMode mode, int32_t supersample, int32_t bandRows)
    : mode(mode), supersample(supersample) {
    const TFillerState &f = FillerState();
    if (f.fractal.handle == 0 || f.color.handle == 0 || f.width < 1 || f.height < 1)
        throw std::invalid_argument("no filler with a picture of at least 1 x 1 pixels");
    if (supersample < 1 || (supersample > 1 && mode != TBandMode::kPlain))
        throw std::invalid_argument("supersampling applies to plain pictures");
    width = f.width;
    height = f.height;
    this->bandRows = std::clamp(bandRows, 1, height);
    switch (mode) {
        case TBandMode::kPlain:
            rows = height;
            rowLength = static_cast<std::size_t>(width);
            break;
        case TBandMode::kSmoothed:
            rows = int64_t{height} + 1;
            rowLength = static_cast<std::size_t>(width) + 1;
            break;
        case TBandMode::kPreview:
            rows = (int64_t{height} + kPreviewBlock - 1) / kPreviewBlock;
            rowLength = (static_cast<std::size_t>(width) + kPreviewBlock - 1) / kPreviewBlock;
            break;
    }
    for (int32_t k = 0; k < supersample; ++k)
        offsets.push_back(static_cast<long double>(2 * k + 1 - supersample) / (2 * supersample));
}

int64_t TBandGeometry::FirstRow(int32_t top) const {
    return mode == TBandMode::kPreview ? top / kPreviewBlock : top;
}

int64_t TBandGeometry::EndRow(int32_t bottom) const {
    switch (mode) {
        case TBandMode::kPlain:
            return bottom;
        case TBandMode::kSmoothed:
            return int64_t{bottom} + 1;  // the corners below the last row
        case TBandMode::kPreview:
            break;
    }
    return (int64_t{bottom} + kPreviewBlock - 1) / kPreviewBlock;
}

void TBandGeometry::Emit(int32_t y, uint32_t *out,
                         const std::function<const uint32_t *(int64_t)> &row) const {
    const auto length = static_cast<std::size_t>(width);
    switch (mode) {
        case TBandMode::kPlain:
            std::memcpy(out, row(y), length * sizeof(uint32_t));
            return;
        case TBandMode::kSmoothed: {
            const uint32_t *upper = row(y);
            const uint32_t *lower = row(int64_t{y} + 1);
            for (std::size_t c = 0; c < length; ++c)
                out[c] = Mean(upper[c], upper[c + 1], lower[c], lower[c + 1]);
            return;
        }
        case TBandMode::kPreview: {
            const uint32_t *blocks = row(y / kPreviewBlock);
            for (std::size_t x = 0; x < length; ++x) out[x] = blocks[x / kPreviewBlock];
            return;
        }
    }
}

TBandFill::TBandFill(TBandMode mode, int32_t supersample, int32_t bandRows, int32_t threads)
    : g_(mode, supersample, bandRows) {
    StopAllFills();  // the copies are made while no fill runs
    // The band that spans the most lattice rows, and room for five more ahead of it: the threads
    // keep computing while the client writes a band, or waits for a busy machine's processor.
    const int64_t perBand = mode == TBandMode::kPreview ? (g_.bandRows - 1) / kPreviewBlock + 2
                                                        : g_.EndRow(g_.bandRows) - g_.FirstRow(0);
    capacity_ = std::min(g_.rows, 6 * perBand);
    if (static_cast<uint64_t>(capacity_) > SIZE_MAX / sizeof(uint32_t) / g_.rowLength)
        throw std::bad_alloc();
    ring_.reset(new uint32_t[static_cast<std::size_t>(capacity_) * g_.rowLength]);
    done_.assign(static_cast<std::size_t>(capacity_), -1);

    const int32_t wanted = SamplesAreIndependent() ? std::max(threads, 1) : 1;
    while (static_cast<int32_t>(copies_.size()) < wanted) {
        auto copy = std::make_unique<TPixelCopy>();
        if (!copy->Make()) break;
        copies_.push_back(std::move(copy));
    }
    if (copies_.empty()) throw std::bad_alloc();
    // Members whose thread cannot start leave the rows to the others.
    team_ = std::make_unique<TThreadTeam>(
        static_cast<int32_t>(copies_.size()),
        [this](TThreadTeam &team, int32_t member) { Work(team, *copies_[member]); });
}

TBandFill::~TBandFill() {
    Stop();
    team_.reset();  // joins
}

uint32_t *TBandFill::Slot(int64_t r) const {
    return ring_.get() + static_cast<std::size_t>(r % capacity_) * g_.rowLength;
}

void TBandFill::Stop() {
    {
        std::lock_guard lock(mutex_);
        stop_.store(true, std::memory_order_relaxed);
    }
    changed_.notify_all();
    if (team_) team_->RequestStop();
}

// One member: lattice rows in order, each once, never more than the ring's rows ahead of the
// client.
void TBandFill::Work(TThreadTeam &team, const TPixelCopy &copy) {
    // Every sample of this thread runs under the pixel routine's environment, set once.
    const platform::TX87Control control(kPixelControlWord, platform::TX87Control::kControlWord);
    for (;;) {
        const int64_t r = team.Take();
        if (r >= g_.rows) return;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return stop_.load() || r < released_ + capacity_; });
            if (stop_.load()) return;
        }
        if (!Compute(copy, r, Slot(r))) return;
        {
            std::lock_guard lock(mutex_);
            done_[static_cast<std::size_t>(r % capacity_)] = r;
        }
        changed_.notify_all();
    }
}

// Lattice row r in the whole fill's order of samples; false when stopped.
bool TBandFill::Compute(const TPixelCopy &copy, int64_t r, uint32_t *into) const {
    auto stopped = [this] { return stop_.load(std::memory_order_relaxed); };
    switch (g_.mode) {
        case TBandMode::kPlain: {
            const auto y = static_cast<int32_t>(r);
            for (int32_t x = g_.width - 1; x >= 0; --x) {
                if (stopped()) return false;
                into[x] = Supersampled(copy, x, y);
            }
            return true;
        }
        case TBandMode::kSmoothed:
            for (int32_t x = g_.width;; --x) {
                if (stopped()) return false;
                into[x] = copy.Sample(x, static_cast<int32_t>(r));
                if (x == 0) return true;
            }
        case TBandMode::kPreview:
            // Each block's centre, outside the picture for a partial block.
            for (std::size_t bx = 0; bx < g_.rowLength; ++bx) {
                if (stopped()) return false;
                into[bx] = copy.Sample(static_cast<int32_t>(bx * kPreviewBlock + kPreviewBlock / 2),
                                       static_cast<int32_t>(r * kPreviewBlock + kPreviewBlock / 2));
            }
            return true;
    }
    return false;
}

// The mean of the pixel's N x N samples; with N = 1 its one sample at offset 0, which is the
// plain fill's.
uint32_t TBandFill::Supersampled(const TPixelCopy &copy, int32_t x, int32_t y) const {
    TChannelSums sums;
    for (const long double dy : g_.offsets)
        for (const long double dx : g_.offsets) sums.Add(copy.Sample(x, y, dx, dy));
    return sums.Mean(static_cast<uint32_t>(g_.supersample * g_.supersample));
}

bool TBandFill::Next(uint32_t *pixels) {
    const int32_t top = nextTop_;
    const auto bottom =
        static_cast<int32_t>(std::min<int64_t>(g_.height, int64_t{top} + g_.bandRows));
    if (top >= g_.height) return false;
    {
        std::unique_lock lock(mutex_);
        for (int64_t r = g_.FirstRow(top); r < g_.EndRow(bottom); ++r) {
            const std::size_t slot = static_cast<std::size_t>(r % capacity_);
            changed_.wait(lock, [&] { return stop_.load() || done_[slot] == r; });
            if (stop_.load()) return false;
        }
    }
    // The threads write only slots of rows that are not part of this band.
    for (int32_t y = top; y < bottom; ++y)
        g_.Emit(y, pixels + static_cast<std::size_t>(y - top) * static_cast<std::size_t>(g_.width),
                [this](int64_t r) { return Slot(r); });
    {
        std::lock_guard lock(mutex_);
        released_ = g_.FirstRow(bottom);
    }
    changed_.notify_all();
    nextTop_ = bottom;
    return true;
}

}  // namespace quob
