// The process-wide last error code and its message table.
#pragma once
#include <cstdint>

namespace quob {

// Stores a code as the last error (what the compiler does just before it returns 0).
void RecordError(int32_t code);

// Ends a compilation: thrown by the back ends and caught by the driver, which records the code (0:
// none of the back end's own, for a word that is no keyword, parameter or literal: the driver
// records 10).
struct TAbandon {
    int32_t code;
};

// The message of a code; codes outside 0..18 get a text of their own naming the code.
const char *ErrorMessage(int32_t code);

}  // namespace quob
