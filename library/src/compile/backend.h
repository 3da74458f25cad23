// What the compilation driver and its back ends share: the layout of a function's value cells and
// what a back end receives.
#pragma once
#include <cstdint>

#include "compile/frontend.h"
#include "quob32.h"

namespace quob {

class TCodeBuffer;

constexpr int32_t kRealWidth = 10;  // an 80-bit extended real value cell
constexpr int32_t kIntWidth = 4;    // a signed 32-bit value cell

// What a back end receives: the checked body, the empty code buffer and a copy of the record with
// the name, P and the parameter descriptors filled in (addresses are still offsets into the
// block). The body passed every check of the language, so a back end fails only for want of a
// resource; it throws TAbandon then.
struct BackEndInput {
    const TBody &body;
    TCodeBuffer &code;
    const QUOB_FunctionRecord &record;
};

}  // namespace quob
