// A real body evaluated in software, instruction by instruction as its x87 code runs, for values
// on which the processor's x87 unit would take its slow path: an operation on an infinity or a
// NaN, or one whose result overflows, gets its result from the rules the unit follows, and every
// other operation runs on the unit itself. The results are those of the compiled code, bit for
// bit; its flags are not kept (the colour formula's are never read).
#pragma once
#include <cstdint>

#include "compile/frontend.h"

namespace quob {

// Runs a real function's body on its parameter values, writing its results; false (results
// unspecified) for a body the evaluation does not follow: "tan" or "sincos" on an operand
// beyond their range, where the compiled code's stack no longer holds the language's values.
bool Interpret(const TBody &body, const long double *params, long double *results);

}  // namespace quob
