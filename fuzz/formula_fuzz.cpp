// libFuzzer target: definition texts through the three compiling exports. Every text either
// fails with a code that the compiler records (1 to 16) or yields a function whose code runs and
// which is then deleted, and no function slot stays taken. The text is the input up to its first
// NUL byte, as a caller's string would be.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "quob32.h"

namespace {

// Gives the parameters values other than zero, runs the code and deletes the function.
void Run(int32_t handle, bool integer) {
    QUOB_FunctionRecord record;
    Check(GetFunction(handle, &record) == 1);
    Check(record.ParamCount >= 0 && record.ParamCount <= 16);
    Check(record.ResultCount >= 1 && record.ResultCount <= 8);
    for (int32_t i = 0; i < record.ParamCount; ++i) {
        void *const cell = AccessParam(handle, i);
        Check(cell != nullptr);
        if (integer) {
            const int32_t value = 12345 * (i + 1) - 40000;
            std::memcpy(cell, &value, sizeof value);
        } else {
            const long double value = 0.375L * (i + 1) - 2;
            std::memcpy(cell, &value, 10);
        }
    }
    Check(LaunchFunction(handle) == AccessResult(handle, 0));
    Check(DeleteFunction(handle) == 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    const int32_t blockLength = 1 + static_cast<int32_t>(size % 3);
    for (const int kind : {0, 1, 2}) {
        const int32_t handle = kind == 0   ? CreateIntFunction(text.c_str())
                               : kind == 1 ? CreateRealFunction(text.c_str())
                                           : CreateRecursiveFunction(text.c_str(), blockLength);
        const int32_t code = QUOB_GetLastError();
        if (handle) {
            Check(code == 0);
            Run(handle, kind == 0);
        } else {
            Check(code >= 1 && code <= 16);
        }
    }
    Check(LiveFunctions() == 0);
    return 0;
}
