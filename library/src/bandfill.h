// Pictures computed band by band from the top, for clients that stream them to a file: the bands
// are windows onto one picture, and memory stays bounded by the band size whatever its height.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace quob {

class TPixelCopy;

// A source of a picture's bands, taken in order from the top. How a band's pixels are computed is
// the producer's affair; a client only takes the bands and may stop them.
class TBandProducer {
  public:
    virtual ~TBandProducer() = default;
    virtual int32_t Width() const = 0;
    virtual int32_t Height() const = 0;
    // Rows of every band but the last, which holds the rows that remain.
    virtual int32_t BandRows() const = 0;
    // Writes the next band into pixels: its rows top first, Width() colours 0x00RRGGBB each.
    // False once stopped.
    virtual bool Next(uint32_t *pixels) = 0;
    // Makes a waiting or later Next return false soon. Any thread may call it.
    virtual void Stop() = 0;
};

// The fills of the image buffers that a band fill reproduces.
enum class TBandMode { kPlain, kSmoothed, kPreview };

// The filler's picture (its Width and Height, Step and centre) in bands: every pixel is bit for
// bit the one that the image buffer's fill of the whole picture gives (QUOB_MSG_FILL,
// QUOB_MSG_FILL_SMOOTH or QUOB_MSG_PREVIEW). A plain picture may be anti-aliased: with supersample
// N each pixel is the per-channel mean, rounded to nearest, of N x N samples on a regular grid
// centred on the pixel's point, so N = 1 is the plain fill itself.
//
// Threads of its own compute rows of a lattice (plain: the picture rows; smoothed: the sample rows
// at the pixels' corners, one more; preview: the rows of 10 x 10 blocks), each through a private
// copy of the filler's functions, into a ring of a few bands ahead of the client; Next turns the
// lattice rows into pixels. Each sample is computed once. A filler whose samples depend on their
// order gets one thread, which takes them in the whole fill's order.
//
// Made in the caller's thread; it stops every image buffer's fill first. The filler must not
// change while it exists.
class TBandFill final : public TBandProducer {
  public:
    // Throws std::invalid_argument without a filler of at least 1 x 1 pixels, std::bad_alloc
    // without memory for the ring or the function copies, std::system_error without a thread.
    TBandFill(TBandMode mode, int32_t supersample, int32_t bandRows, int32_t threads);
    ~TBandFill() override;
    TBandFill(const TBandFill &) = delete;
    TBandFill &operator=(const TBandFill &) = delete;

    int32_t Width() const override { return width_; }
    int32_t Height() const override { return height_; }
    int32_t BandRows() const override { return bandRows_; }
    bool Next(uint32_t *pixels) override;
    void Stop() override;
    int32_t Threads() const { return static_cast<int32_t>(threads_.size()); }

  private:
    // Lattice rows [first, end) that picture rows [top, bottom) are made of.
    int64_t FirstLatticeRow(int32_t top) const;
    int64_t EndLatticeRow(int32_t bottom) const;
    uint32_t *Slot(int64_t r) const;
    void Work(const TPixelCopy &copy);
    bool Compute(const TPixelCopy &copy, int64_t r, uint32_t *into) const;
    uint32_t Supersampled(const TPixelCopy &copy, int32_t x, int32_t y) const;
    void Emit(int32_t y, uint32_t *row) const;

    const TBandMode mode_;
    const int32_t supersample_;
    int32_t width_ = 0;
    int32_t height_ = 0;
    int32_t bandRows_ = 1;
    int64_t latticeRows_ = 0;
    std::size_t latticeWidth_ = 0;
    int64_t capacity_ = 0;  // lattice rows the ring holds
    std::unique_ptr<uint32_t[]> ring_;
    std::vector<long double> offsets_;  // the sub-sample grid, in fractions of Step

    std::atomic<bool> stop_{false};
    std::atomic<int64_t> next_{0};  // the next lattice row a thread takes
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<int64_t> done_;  // per ring slot: the lattice row completed there, -1 for none
    int64_t released_ = 0;       // lattice rows below this are no longer needed
    int32_t nextTop_ = 0;        // the top row of the next band

    std::vector<std::unique_ptr<TPixelCopy>> copies_;
    std::vector<std::thread> threads_;
};

}  // namespace quob
