// The integer back end: 32-bit integer code in general registers.
#pragma once
#include <cstdint>

#include "compile/emitter.h"
#include "compile/functions.h"

namespace quob {

// Compiles an integer function's body; returns R. A failure throws TAbandon with its code (none
// for an unrecognised word: the driver then records 10).
int32_t CompileIntegerBody(const BackEndInput &in, Target target);

}  // namespace quob
