// The process-wide last error code and its message table.
#pragma once
#include <cstdint>

namespace quob {

// Stores a code as the last error (what the compiler does just before it returns 0).
void RecordError(int32_t code);

// Counts every recording; the driver compares two readings to learn whether a back end recorded
// a code during one compilation.
uint32_t ErrorRecordings();

// The message of a code; codes outside 0..18 get a text of their own naming the code.
const char *ErrorMessage(int32_t code);

}  // namespace quob
