// The last error and the error family of exports.
#include "errors.h"

#include <atomic>
#include <cstdio>

#include "platform/platform.h"
#include "quob32.h"

namespace quob {
namespace {

constexpr const char *kMessages[] = {
    "QUOB: Success (code 0)",
    "QUOB: No expression specified (code 1)",
    "QUOB: You cannot use reserved words as a function name (code 2)",
    "QUOB: The function name expected (code 3)",
    "QUOB: The function with the same name has been already created (code 4)",
    "QUOB: You cannot use reserved words as a variable name (code 5)",
    "QUOB: Variable name expected (code 6)",
    "QUOB: Too many variables (code 7)",
    "QUOB: All variables should have different names (code 8)",
    "QUOB: Out of system resources (code 9)",
    "QUOB: Invalid right side expression (code 10)",
    "QUOB: Virtual stack overflow (code 11)",
    "QUOB: Not enough actual parameters (code 12)",
    "QUOB: Virtual stack is not empty (code 13)",
    "QUOB: Too many resulting values (code 14)",
    "QUOB: Recursive function should return value (code 15)",
    "QUOB: At least one parameter required (code 16)",
    "QUOB: (code 17)",
    "QUOB: (code 18)",
};
constexpr int32_t kMessageCount = sizeof kMessages / sizeof kMessages[0];

// A plain process-wide value, as the interface promises; atomics only keep concurrent
// callers free of undefined behaviour, they do not order compilations.
std::atomic<int32_t> lastError{0};

// Texts for codes a client stored through QUOB_SetLastError outside the table. One buffer
// serves every such code: the pointer stays valid, its text is that of the latest request.
char unknownMessage[48];

}  // namespace

void RecordError(int32_t code) { lastError.store(code, std::memory_order_relaxed); }

const char *ErrorMessage(int32_t code) {
    if (code >= 0 && code < kMessageCount) return kMessages[code];
    std::snprintf(unknownMessage, sizeof unknownMessage, "QUOB: Unknown error (code %d)", code);
    return unknownMessage;
}

}  // namespace quob

extern "C" {

QUOB_API int32_t QUOB_CALL QUOB_SetLastError(int32_t code) {
    quob::RecordError(code);
    return code;
}

QUOB_API int32_t QUOB_CALL QUOB_GetLastError(void) {
    return quob::lastError.load(std::memory_order_relaxed);
}

QUOB_API const char *QUOB_CALL QUOB_GetLastErrorEx(void) {
    return quob::ErrorMessage(QUOB_GetLastError());
}

QUOB_API int32_t QUOB_CALL QUOB_ShowLastError(void) {
    const int32_t code = QUOB_GetLastError();
    if (code == 0)
        return quob::platform::MessageBox(quob::ErrorMessage(code), "",
                                          quob::platform::MB_ICONINFORMATION);
    return quob::platform::MessageBox(quob::ErrorMessage(code), nullptr,
                                      quob::platform::MB_ICONSTOP);
}

}  // extern "C"
