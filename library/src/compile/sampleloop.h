// The filler's sample loop: a fractal formula's passes, with the escape, convergence and fault
// tests between them, as compiled code that returns once per sample. Its caller hands it a frame
// (in EBP) with the sample's thresholds and gets the outcome back in it.
#pragma once
#include <cstddef>
#include <cstdint>

namespace quob {

struct TSampleFrame {
    float maxModule;     // escape: abs(re) + abs(im) above it
    float differential;  // convergence: the modulus changed by less than it
    int32_t passes;      // in: IterationsLimit, at least 1; out: the passes left
    int32_t outcome;     // out: one of the outcomes below
    float previous;      // the previous modulus, rounded to a float
    uint32_t unused;
    // The guard of the fast iterations: every held value at most this (2^e of GuardExponent),
    // or NaN, which no value passes.
    double guard;
    double infinity;  // +infinity
    // An operand of a product or square beyond this makes it overflow: 2^8192, as the ten bytes
    // of an extended real.
    uint8_t overflowing[10];
};

enum TSampleOutcome : int32_t {
    kSampleDone = 0,     // settled or at the limit: the colour formula takes the iterate
    kSampleFault = 1,    // a pass raised invalid, denormal, zero divide or overflow
    kSampleEscaped = 2,  // the modulus passed MaxModule
};

static_assert(offsetof(TSampleFrame, maxModule) == 0 && offsetof(TSampleFrame, differential) == 4 &&
              offsetof(TSampleFrame, passes) == 8 && offsetof(TSampleFrame, outcome) == 12 &&
              offsetof(TSampleFrame, previous) == 16 && offsetof(TSampleFrame, guard) == 24 &&
              offsetof(TSampleFrame, infinity) == 32 && offsetof(TSampleFrame, overflowing) == 40);

// Iterations between two guards of the fast loop.
constexpr int32_t kGuardGroup = 4;

// Calls a sample loop with its frame in EBP, the callee-saved registers preserved and the
// direction flag clear (assembly trampoline).
extern "C" void quob_call_sample_loop(const void *entry, TSampleFrame *frame);

}  // namespace quob
