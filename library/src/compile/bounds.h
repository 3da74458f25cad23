// The magnitudes a body's values can reach: from a bound on its parameters, the largest binary
// exponent of every value that a few iterations compute. The filler's sample loop guards its
// fast iterations by it: while every parameter lies within the bound, those iterations cannot
// overflow, so they run without looking at the flags for it.
#pragma once
#include <cstdint>

#include "compile/frontend.h"

namespace quob {

// The largest exponent e (every parameter's magnitude at most 2^e) for which `iterations`
// iterations of a recursive body compute no value of magnitude 2^16382 or more and raise no
// invalid operation or zero divide, with e at least kMinGuardExponent; -1 for a body with a
// keyword whose magnitude this cannot bound (division, transcendental functions, ...) or that may
// fault on bounded operands (a square root), whose iterations are then guarded by their flags.
int32_t GuardExponent(const TBody &body, int32_t iterations);

// The largest exponent e for which one run of a real body on parameters below 2^e computes no
// value of magnitude 2^16382 or more (faults allowed), with e at least kMinGuardExponent; -1 when
// no such bound follows from its keywords.
int32_t SafeExponent(const TBody &body);

// A guard below this would stop ordinary values (an escape radius of 2 and its square) from
// running fast.
constexpr int32_t kMinGuardExponent = 16;

}  // namespace quob
