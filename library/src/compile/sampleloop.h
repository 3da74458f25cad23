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
    // 0: a pass may start without a guard, since its values passed the escape test (the point
    // and MaxModule lie within the guard's bound); else 1.
    int32_t firstGuard;
    // The guard of the fast iterations: every value bounded below 2^e (GuardExponent) shows a
    // biased exponent below this, the exponent of 2^e; 0 when no value passes.
    int32_t guardExponent;
    uint8_t scratch[10];  // where the guard looks at a value's exponent
};

enum TSampleOutcome : int32_t {
    kSampleDone = 0,     // settled or at the limit: the colour formula takes the iterate
    kSampleFault = 1,    // a pass raised invalid, denormal, zero divide or overflow
    kSampleEscaped = 2,  // the modulus passed MaxModule
};

static_assert(offsetof(TSampleFrame, maxModule) == 0 && offsetof(TSampleFrame, differential) == 4 &&
              offsetof(TSampleFrame, passes) == 8 && offsetof(TSampleFrame, outcome) == 12 &&
              offsetof(TSampleFrame, previous) == 16 && offsetof(TSampleFrame, firstGuard) == 20 &&
              offsetof(TSampleFrame, guardExponent) == 24 && offsetof(TSampleFrame, scratch) == 28);

// A sample loop's guard: the exponent e of GuardExponent (magnitudes below 2^e), or -1 for a loop
// without guard.
struct TSampleGuard {
    int32_t exponent = -1;
    long double bound = 0;  // 2^e
};

// The frame of the samples of a fill with the filler's thresholds.
TSampleFrame SampleFrame(float maxModule, float differential, int32_t passes,
                         const TSampleGuard &guard);

// A value the guard must bound before the loop runs (the point, the iterate's start): one beyond
// the bound makes every guard of the sample fail.
inline void BoundBeforeTheLoop(TSampleFrame &frame, const TSampleGuard &guard, long double v) {
    if (!(__builtin_fabsl(v) < guard.bound)) frame.guardExponent = 0, frame.firstGuard = 1;
}

// Iterations between two guards of the fast loop.
constexpr int32_t kGuardGroup = 4;

// Calls a sample loop with its frame in EBP, the callee-saved registers preserved and the
// direction flag clear (assembly trampoline).
extern "C" void quob_call_sample_loop(const void *entry, TSampleFrame *frame);

}  // namespace quob
