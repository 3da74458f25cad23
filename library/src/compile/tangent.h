// The tangent iteration of a recursive body: beside each iteration of the body, the derivatives
// of its values with respect to the sample's point (forward mode, one pair a value: by the real
// part, by the imaginary part), by each keyword's derivative rule. Compiled to x87 code that runs
// passes of iterations of both and leaves right after an iteration whose own values raised a fault
// flag; the body's values are computed as the function's record code computes them, so that every
// iterate and every fault is the body's.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "compile/compiled.h"
#include "compile/emitter.h"
#include "compile/frontend.h"

namespace quob {

// The tangent function's cells, offsets into its block.
struct TTangentCells {
    static constexpr uint32_t kStatus = 0;  // out: a TTangentStatus
    // With the filler's passes: in, the passes at most; out, those left after the passes run.
    static constexpr uint32_t kPasses = 4;
    static constexpr uint32_t kMaxModule = 8;      // in: float, the escape threshold
    static constexpr uint32_t kDifferential = 12;  // in: float, the convergence threshold
    static constexpr uint32_t kPrevious = 16;      // the last pass's modulus, as a float
    static constexpr uint32_t kParams = 24;        // the parameters, 10 bytes each
    // Parameter p's derivatives by the point's real and imaginary parts, 10 bytes each.
    static uint32_t Tangent(int32_t paramCount, int32_t p, int32_t part) {
        return kParams + static_cast<uint32_t>(kRealWidthOfTangent * (paramCount + 2 * p + part));
    }
    static constexpr int32_t kRealWidthOfTangent = 10;
};

enum TTangentStatus : int32_t {
    kTangentDone = 0,     // the pass ran (with the filler's passes: the limit or convergence)
    kTangentFault = 1,    // a value of the body raised a fault flag: the sample faults
    kTangentEscaped = 2,  // with the filler's passes: the iterate passed MaxModule
};

// How a call runs: one pass of `blockLength` iterations; or the filler's passes, each followed
// by its tests (fault, MaxModule on abs(re) + abs(im) of the iterate, Differential, the passes
// left), as the pixel routine runs them. The filler's passes take the derivatives of the
// parameters from 2 on that are not fed back as the filler starts them: the identity for "x" by
// the real part and "y" by the imaginary part, 0 for the rest.
enum class TTangentCall { kOnePass, kPasses };

// The filler's tests after a pass, for both forms of the tangent's code: the pass counted, the
// iterate's modulus abs(re) + abs(im) against MaxModule and, as a float, against the last pass's
// (Differential); on to `next` while passes are left, else to `done` (settled or at the limit)
// or `escaped`, with the stack as before the tests. `iterate(p, above)` pushes parameter p of the
// iterate with `above` values pushed since the pass ended. The tests' own flags never reach the
// next pass.
void EmitTangentPassTests(TEmitter &emit, const std::function<void(int32_t, int32_t)> &iterate,
                          TLabel next, TLabel escaped, TLabel done);

// Compiles the tangent iteration of a recursive body, `blockLength` iterations a pass; nullptr
// with the reason for a body it does not follow ("tan" and "sincos", whose instructions leave an
// operand beyond 2^63 as it is). The filler's passes run the register-resident execution copy
// (tangentcopy.h) unless `executionCopy` is false or none fits. Throws std::bad_alloc without
// memory.
std::unique_ptr<TCompiledFunction> CompileTangent(const TBody &body, int32_t blockLength,
                                                  std::string &refusal,
                                                  TTangentCall call = TTangentCall::kOnePass,
                                                  bool executionCopy = true);

}  // namespace quob
