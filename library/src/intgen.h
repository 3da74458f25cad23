// The integer back end: 32-bit integer code in general registers.
#pragma once
#include <cstdint>

#include "emitter.h"
#include "functions.h"

namespace quob {

// Compiles an integer function's body; returns R, or a value below 1 on failure.
int32_t CompileIntegerBody(const BackEndInput &in, Target target);

}  // namespace quob
