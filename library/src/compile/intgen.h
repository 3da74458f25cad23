// The integer back end: 32-bit integer code in general registers.
#pragma once
#include <cstdint>

#include "compile/backend.h"
#include "compile/emitter.h"

namespace quob {

// Compiles an integer function's body; returns R. Throws TAbandon with code 9 when its values
// need more spill slots than there are, or no state object can be made.
int32_t CompileIntegerBody(const BackEndInput &in, Target target);

}  // namespace quob
