// Reference orbits: the body of a perturbed form evaluated in arbitrary precision (GNU MPFR) at
// one point of a deep view, every iteration's slots stored rounded to extended precision.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "deep/perturb.h"

namespace quob {

class TOrbit {
  public:
    // Why the orbit has no more iterations.
    enum class TEnd : uint8_t {
        kLimit,     // the iteration limit: no sample iterates longer
        kOverflow,  // a value of the next iteration lies beyond the range of extended precision
        kFault,     // the next iteration is not defined at the reference point (NaN, a pole)
        kMemory,    // the records would take more than kMaxOrbitBytes
    };

    TOrbit(long double x, long double y, int32_t recordSize)
        : x_(x), y_(y), recordSize_(recordSize) {}

    // The point, in steps from the picture's centre: right and down, as pixel positions go.
    long double X() const { return x_; }
    long double Y() const { return y_; }
    // Iterations whose records are complete; record Length() holds the state after them.
    int64_t Length() const { return length_; }
    TEnd End() const { return end_; }
    int32_t RecordSize() const { return recordSize_; }
    const uint8_t *Record(int64_t i) const {
        return records_.data() +
               static_cast<std::size_t>(i) * static_cast<std::size_t>(recordSize_);
    }
    long double Value(int64_t i, int32_t slot) const {
        long double v = 0;
        __builtin_memcpy(&v, Record(i) + kRealWidth * slot, kRealWidth);
        return v;
    }
    // Records 0..NarrowLength()-1 again with doubles (TRecordValues::kDouble): the longest start
    // of the orbit whose every value is 0 or a normal double.
    int64_t NarrowLength() const { return narrowLength_; }
    const uint8_t *NarrowRecord(int64_t i) const {
        return reinterpret_cast<const uint8_t *>(narrow_.data()) +
               static_cast<std::size_t>(i) * static_cast<std::size_t>(NarrowRecordSize());
    }
    int32_t NarrowRecordSize() const {
        return recordSize_ / kRealWidth * static_cast<int32_t>(sizeof(double));
    }

  private:
    friend class TOrbitMaker;
    long double x_, y_;
    int32_t recordSize_;
    int64_t length_ = 0;
    TEnd end_ = TEnd::kLimit;
    std::vector<uint8_t> records_;
    int64_t narrowLength_ = 0;
    std::vector<double> narrow_;
};

// The precision quantum of the orbits of quob-render's and the viewer's deep pictures: views
// zoomed in or out by factors up to about 2^64 share the centre's orbit.
constexpr int32_t kViewOrbitQuantum = 64;

// The memory one orbit's records may take, both forms together.
constexpr std::size_t kMaxOrbitBytes = std::size_t{256} << 20;

// Orbits of a form for the view of a picture: centre and scale as decimal texts of any length,
// the step between neighbouring pixels Scale / Height (as the filler computes it where the scale
// is a double, else rounded to extended), and every orbit at enough bits for that step.
class TOrbitMaker {
  public:
    // The precision is rounded up to a multiple of `quantum` bits. Throws
    // std::invalid_argument for a text that is no finite decimal number, or a step beyond the
    // normal numbers of extended precision.
    TOrbitMaker(const TPerturbedForm &form, const std::string &centerRe,
                const std::string &centerIm, const std::string &scale, int32_t width,
                int32_t height, int64_t iterations, int32_t quantum = 1);
    ~TOrbitMaker();
    TOrbitMaker(const TOrbitMaker &) = delete;
    TOrbitMaker &operator=(const TOrbitMaker &) = delete;

    long double Step() const { return step_; }
    long Precision() const;
    // The larger magnitude of the view's centre co-ordinates.
    long double Magnitude() const;
    // The centre rounded to extended precision.
    long double CenterRe() const;
    long double CenterIm() const;
    // The orbit of the point x steps right of the centre and y steps below it; null once
    // *abandon is set (a view given up while its orbit is made).
    std::unique_ptr<TOrbit> Make(long double x, long double y,
                                 const std::atomic<bool> *abandon = nullptr) const;

  private:
    struct TView;
    const TPerturbedForm &form_;
    const int64_t iterations_;
    long double step_ = 0;
    std::unique_ptr<TView> view_;
};

}  // namespace quob
