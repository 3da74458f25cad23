// Pictures computed band by band from the top, for clients that stream them to a file: the bands
// are windows onto one picture, and memory stays bounded by the band size whatever its height.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "fill/team.h"

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

// What a picture in bands is made of: the filler's picture size, the height of a band, and the
// lattice of samples of the mode (plain: the pixels; smoothed: the pixels' corners, a row and a
// column more; preview: the 10 x 10 blocks), each lattice point the mean of supersample x
// supersample samples on a grid centred on it. One geometry for every band producer, so that
// each gives the image buffer's pixels bit for bit.
struct TBandGeometry {
    // Takes the filler's size. Throws std::invalid_argument without a filler of at least 1 x 1
    // pixels, or for supersampling anything but a plain picture.
    TBandGeometry(TBandMode mode, int32_t supersample, int32_t bandRows);

    // Lattice rows [FirstRow(top), EndRow(bottom)) make picture rows [top, bottom).
    int64_t FirstRow(int32_t top) const;
    int64_t EndRow(int32_t bottom) const;
    // Picture row y from the lattice rows that hold it; row(r) is lattice row r.
    void Emit(int32_t y, uint32_t *out, const std::function<const uint32_t *(int64_t)> &row) const;

    TBandMode mode;
    int32_t supersample;
    int32_t width;
    int32_t height;
    int32_t bandRows;
    int64_t rows;                      // lattice rows of the picture
    std::size_t rowLength;             // lattice points of a row
    std::vector<long double> offsets;  // the sub-sample grid, in fractions of Step
};

// Sums of the channels of colours, for their mean rounded to nearest.
struct TChannelSums {
    uint32_t red = 0, green = 0, blue = 0;

    void Add(uint32_t colour) {
        red += colour >> 16 & 0xFF;
        green += colour >> 8 & 0xFF;
        blue += colour & 0xFF;
    }
    uint32_t Mean(uint32_t n) const {
        auto mean = [n](uint32_t sum) { return (sum + n / 2) / n; };
        return mean(red) << 16 | mean(green) << 8 | mean(blue);
    }
};

// The filler's picture (its Width and Height, Step and centre) in bands: every pixel is bit for
// bit the one that the image buffer's fill of the whole picture gives (QUOB_MSG_FILL,
// QUOB_MSG_FILL_SMOOTH or QUOB_MSG_PREVIEW). A plain picture may be anti-aliased: with supersample
// N each pixel is the per-channel mean, rounded to nearest, of N x N samples on a regular grid
// centred on the pixel's point, so N = 1 is the plain fill itself.
//
// The members of a thread team compute rows of a lattice (plain: the picture rows; smoothed: the
// sample rows at the pixels' corners, one more; preview: the rows of 10 x 10 blocks), each through
// a private copy of the filler's functions, into a ring of a few bands ahead of the client; Next
// turns the lattice rows into pixels. Each sample is computed once. A filler whose samples depend
// on their order gets one thread, which takes them in the whole fill's order.
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

    int32_t Width() const override { return g_.width; }
    int32_t Height() const override { return g_.height; }
    int32_t BandRows() const override { return g_.bandRows; }
    bool Next(uint32_t *pixels) override;
    void Stop() override;
    int32_t Threads() const { return team_->Members(); }

  private:
    uint32_t *Slot(int64_t r) const;
    void Work(TThreadTeam &team, const TPixelCopy &copy);
    bool Compute(const TPixelCopy &copy, int64_t r, uint32_t *into) const;
    uint32_t Supersampled(const TPixelCopy &copy, int32_t x, int32_t y) const;

    const TBandGeometry g_;
    int64_t capacity_ = 0;  // lattice rows the ring holds
    std::unique_ptr<uint32_t[]> ring_;

    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<int64_t> done_;  // per ring slot: the lattice row completed there, -1 for none
    int64_t released_ = 0;       // lattice rows below this are no longer needed
    int32_t nextTop_ = 0;        // the top row of the next band

    std::vector<std::unique_ptr<TPixelCopy>> copies_;
    std::unique_ptr<TThreadTeam> team_;  // takes the lattice rows in order
};

}  // namespace quob
