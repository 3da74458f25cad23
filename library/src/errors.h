// The process-wide last error code and its message table.
#pragma once
#include <cstdint>

namespace quob {

// Stores a code as the last error (what the compiler does just before it returns 0).
void RecordError(int32_t code);

// Ends a compilation, or the derivation of a form from a compiled body: thrown by the front end,
// the back ends and the derived forms, and caught where the compilation is driven, which records
// the code. The one way a compilation fails.
struct TAbandon {
    int32_t code = 0;  // the last error code to record
    // A derived form (deep rendering) that cannot follow the body: the keyword or the parameter
    // it cannot follow, or -1.
    int16_t keyword = -1;
    int16_t param = -1;
    // The message is shown at once (a lookup table that cannot be created).
    bool shown = false;
};

// The message of a code; codes outside 0..18 get a text of their own naming the code.
const char *ErrorMessage(int32_t code);

}  // namespace quob
