// The deep code generator: the difference iteration of a perturbed form, compiled through the
// emitter to x87 code.
#pragma once
#include <cstdint>
#include <memory>

#include "compile/compiled.h"
#include "compile/emitter.h"
#include "deep/perturb.h"

namespace quob {

// The difference iteration compiled: one call runs up to a pass of iterations from the record
// that its pointer cell names, and leaves early at a glitch. Its cells (offsets into the block):
struct TDeepCells {
    static constexpr uint32_t kRecord = 0;   // pointer to the record of the next iteration
    static constexpr uint32_t kCount = 8;    // iterations to run, at least 1
    static constexpr uint32_t kStatus = 12;  // 1 after a glitch, else left as it was
    static constexpr uint32_t kDiffs = 16;   // the parameters' differences, 10 bytes each
};

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
