// The linear approximation of a perturbed form along a reference orbit: iterations that a
// sample's difference may skip, by merged linear maps with their radii of validity.
//
// One iteration takes the differences d of the iterate (its two values, the only ones fed back)
// and e of the other parameters (the point's, constant through the orbit) to
//     d' = A·d + B·e + (terms of second and higher order),
// A and B the Jacobian of the body at the reference's values. Below the radius R the neglected
// terms stay below kLinearTolerance of the linear part, and no keyword's operand crosses a fold
// or a pole. Steps of 2, 4, 8, ... iterations merge two halves: A = A2·A1, B = A2·B1 + B2, and
// R = min(R1, R2, (R2 - |B1|·|e|max) / |A1|), the norms the maximum norm of vectors and the row
// sums of matrices. A sample skips a merged step where max(|d|, |e|) <= R.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "deep/perturb.h"
#include "deep/reforbit.h"

namespace quob {

// The neglected terms' bound relative to the linear part.
constexpr long double kLinearTolerance = 0x1p-30L;

class TLinearSteps {
  public:
    // Why a form has no linear approximation: a keyword without a bound, or fed-back values
    // other than the iterate's two; empty where it has one.
    static std::string Refusal(const TPerturbedForm &form);

    // The steps along the orbit, for samples whose differences of the other parameters are at
    // most eMax in the maximum norm, the point of the orbit at (pointRe, pointIm), and the escape
    // bound and block length of the filler: no skip passes a record where the iterate may be
    // glitched or a value of the body fault, nor a pass end where it may escape. The form must
    // have an approximation. Throws std::bad_alloc.
    TLinearSteps(const TPerturbedForm &form, const TOrbit &orbit, long double pointRe,
                 long double pointIm, long double eMax, long double maxModule, int32_t blockLength);

    // The first parameter that is no part of the iterate, and the row length of a map.
    int32_t Columns() const { return columns_; }
    // The level of the longest step from record m, at most `most` iterations long, for
    // differences whose maximum norm (the iterate's and the others' together) is r; -1 for none.
    int32_t Longest(int64_t m, long double r, int64_t most) const;
    // The map of the step of 2^level iterations from record m: rows 0 and 1 of [A | B], each of
    // Columns() values over all the parameters (the iterate's first).
    const long double *Map(int32_t level, int64_t m) const {
        return &maps_[Entry(level, m >> level) * Stride() + 1];
    }
    // Rebasing: a sample whose iterate is smaller than its difference may go on from record 0
    // with its iterate as the difference, where the orbit starts at 0.
    bool Rebases() const { return rebases_; }

    std::size_t Bytes() const { return maps_.capacity() * sizeof(long double); }

  private:
    std::size_t Stride() const { return 1 + 2 * static_cast<std::size_t>(columns_); }
    std::size_t Entry(int32_t level, int64_t i) const {
        return first_[static_cast<std::size_t>(level)] + static_cast<std::size_t>(i);
    }
    long double Radius(int32_t level, int64_t i) const { return maps_[Entry(level, i) * Stride()]; }

    int32_t columns_ = 0;
    bool rebases_ = false;
    // Per level, its first entry and its number of entries; each entry the radius (negative
    // where the step may not be skipped) and the map.
    std::vector<std::size_t> first_;
    std::vector<int64_t> count_;
    std::vector<long double> maps_;
};

}  // namespace quob
