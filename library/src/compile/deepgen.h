// The deep code generator: the difference iteration of a perturbed form, compiled through the
// emitter to x87 code.
#pragma once
#include <cstdint>
#include <memory>

#include "compile/compiled.h"
#include "compile/emitter.h"
#include "deep/perturb.h"

namespace quob {

// The difference iteration compiled. One call runs the iterations of a pass from the record that
// its pointer cell names and, with kLoop set, the filler's tests after the pass (a fault, the
// iterate lost against the reference, the escape and convergence tests) and pass after pass while
// the records last, leaving when the sample's outcome is known, at a glitch, or when the records
// readable from its pointer cannot hold the next pass. Each iteration starts with the glitch
// test on the full iterate; for a form of sums, products and moduli only (DeepGuardExponent), an
// iterate beyond the guard's bound makes the rest of the pass careful: its fault flags are tested
// after each operation and a product or square that must overflow is a fault before it runs.
// Its cells (offsets into the block):
struct TDeepCells {
    static constexpr uint32_t kRecord = 0;         // pointer to the record of the next iteration
    static constexpr uint32_t kCount = 8;          // iterations of the pass left, at least 1
    static constexpr uint32_t kStatus = 12;        // out: how the call ended, a TDeepStatus
    static constexpr uint32_t kPasses = 16;        // passes left, the current one included
    static constexpr uint32_t kLoop = 20;          // non-zero: on from pass to pass
    static constexpr uint32_t kRecords = 24;       // records readable from kRecord on
    static constexpr uint32_t kBlockLength = 28;   // iterations a pass
    static constexpr uint32_t kMaxModule = 32;     // float
    static constexpr uint32_t kDifferential = 36;  // float
    static constexpr uint32_t kPrevious = 40;      // float: the previous pass's modulus
    static constexpr uint32_t kScratch = 44;       // where exponents are read, 10 bytes
    static constexpr uint32_t kGuard = 56;         // double: the careful iterations' bound
    // Records of doubles: the pointer to the extended record of the next iteration, which the
    // tests after a pass read, as the filler's tests take the reference's extended values.
    static constexpr uint32_t kExtendedRecord = 64;
    static constexpr uint32_t kDiffs = 72;  // the parameters' differences, 10 bytes each
};

enum TDeepStatus : int32_t {
    kDeepPass = 0,     // the pass ran (with kLoop: its tests too, and the next pass is due)
    kDeepGlitch = 1,   // the iterate lost against the reference at the record reached
    kDeepFault = 2,    // a careful iteration faulted
    kDeepEscaped = 3,  // with kLoop: the modulus passed MaxModule
    kDeepDone = 4,     // with kLoop: settled, or the passes ran out
};

// The exponent e such that a full iterate below 2^e (with the glitch test passed) keeps every
// value of an iteration of the form's difference code far from overflowing; -1 for a form with
// keywords other than sums, products, squares, moduli and signs, which has no careful iterations.
int32_t DeepGuardExponent(const TPerturbedForm &form);

// How the records hold their values: 10-byte extended reals, or doubles (one load each where an
// extended load is microcoded) for the part of an orbit whose values all fit a double.
enum class TRecordValues : uint8_t { kExtended = kRealWidth, kDouble = sizeof(double) };

// Compiles the difference iteration of a form for the target, reading records of the given
// values. The function's block holds the cells above, then its constants and the differences of
// values computed once and read more than once. Throws TAbandon with code 9 when the code does not
// fit, std::bad_alloc without memory.
std::unique_ptr<TCompiledFunction> CompileDeepCode(const TPerturbedForm &form, Target target,
                                                   TRecordValues values);

}  // namespace quob
