// What the fuzz targets share: a broken promise ends the run like a crash, so that libFuzzer
// keeps the input; and the count of function slots taken, which no input may leave changed.
#pragma once
#include <cstdint>
#include <cstdlib>

#include "quob32.h"

inline void Check(bool promise) {
    if (!promise) std::abort();
}

inline int32_t LiveFunctions() {
    int32_t live = 0;
    QUOB_FunctionRecord record;
    for (int32_t handle = 1; handle <= 128; ++handle) live += GetFunction(handle, &record);
    return live;
}
