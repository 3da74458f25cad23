// The process-wide last error: its message table, what stores it and what must leave it alone.
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <tuple>

#include "compile/codebuffer.h"
#include "quob32.h"

// Allocations of one size can be made to fail, to reach the compiler's out-of-memory path.
static std::atomic<size_t> failingAllocationSize{0};

__attribute__((noinline)) void *operator new(size_t size) {
    if (size == failingAllocationSize.load()) throw std::bad_alloc();
    if (void *p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
__attribute__((noinline)) void operator delete(void *p) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete(void *p, size_t) noexcept { std::free(p); }

namespace {

const char *const kMessages[] = {
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
    "QUOB: (code 18)"};

TEST(LastError, TextOfEachCode) {
    for (int32_t code = 0; code < int32_t(std::size(kMessages)); ++code) {
        EXPECT_EQ(QUOB_SetLastError(code), code);
        EXPECT_EQ(QUOB_GetLastError(), code);
        EXPECT_STREQ(QUOB_GetLastErrorEx(), kMessages[code]);
    }
}

// Codes outside the table are kept and named.
TEST(LastError, CodesOutsideTheTableAreKeptAndNamed) {
    for (const int32_t code : {-1, 19, 1000, INT_MIN, INT_MAX}) {
        EXPECT_EQ(QUOB_SetLastError(code), code);
        EXPECT_EQ(QUOB_GetLastError(), code);
        const std::string message = QUOB_GetLastErrorEx(),
                          tail = "(code " + std::to_string(code) + ")";
        EXPECT_EQ(message.rfind("QUOB: ", 0), 0u) << message;
        EXPECT_TRUE(message.size() >= tail.size() &&
                    message.compare(message.size() - tail.size(), tail.size(), tail) == 0)
            << message;
    }
    QUOB_SetLastError(0);
}

// Without a host message box, caption and text go to standard error; a code other than 0 takes
// the default caption, 0 the empty one.
TEST(LastError, ShowWritesToStandardErrorAndKeepsTheCode) {
    const std::tuple<int32_t, const char *, const char *> cases[] = {
        {0, "", "QUOB: Success (code 0)"},
        {7, "Error", "QUOB: Too many variables (code 7)"},
        {-5, "Error", "(code -5)"}};
    for (const auto &[code, caption, text] : cases) {
        QUOB_SetLastError(code);
        testing::internal::CaptureStderr();
        EXPECT_EQ(QUOB_ShowLastError(), 1);
        const std::string shown = testing::internal::GetCapturedStderr();
        EXPECT_NE(shown.find(caption), std::string::npos) << shown;
        EXPECT_NE(shown.find(text), std::string::npos) << shown;
        EXPECT_EQ(QUOB_GetLastError(), code);
    }
    QUOB_SetLastError(0);
}

TEST(LastError, FailedHandleOperationsLeaveTheCode) {
    const int32_t live = CreateRealFunction("live x = x ret");
    ASSERT_NE(live, 0);
    ASSERT_EQ(CreateRealFunction("live y = y ret"), 0);  // code 4
    ASSERT_EQ(QUOB_GetLastError(), QUOB_ERR_DUPLICATE_FUNCTION);

    // Every operation on a bad handle, index or name fails without recording a code.
    QUOB_FunctionRecord record;
    const int32_t freeSlot = live + 1;
    EXPECT_NE(AccessParam(live, 0), nullptr);
    for (int32_t bad : {0, 129, -1, freeSlot}) {
        EXPECT_EQ(DeleteFunction(bad), 0) << bad;
        EXPECT_EQ(LaunchFunction(bad), nullptr) << bad;
        EXPECT_EQ(AccessParam(bad, 0), nullptr) << bad;
        EXPECT_EQ(AccessResult(bad, 0), nullptr) << bad;
        EXPECT_EQ(AccessParamByName(bad, "x"), nullptr) << bad;
        EXPECT_EQ(GetFunction(bad, &record), 0) << bad;
    }
    for (int32_t index : {1, -1}) {
        EXPECT_EQ(AccessParam(live, index), nullptr) << index;
        EXPECT_EQ(AccessResult(live, index), nullptr) << index;
    }
    for (const char *name : {"X", "xy", static_cast<const char *>(nullptr)})
        EXPECT_EQ(AccessParamByName(live, name), nullptr) << (name ? name : "null");
    for (int32_t blockLength : {0, -2})
        EXPECT_EQ(CreateRecursiveFunction("r x = x ret", blockLength), 0) << blockLength;
    EXPECT_EQ(QUOB_GetLastError(), QUOB_ERR_DUPLICATE_FUNCTION);
    EXPECT_EQ(DeleteFunction(live), 1);
    EXPECT_EQ(QUOB_GetLastError(), QUOB_ERR_DUPLICATE_FUNCTION) << "a deletion records nothing";
    EXPECT_EQ(DeleteFunction(live), 0) << "already deleted";
    EXPECT_EQ(LaunchFunction(live), nullptr);
}

TEST(LastError, ACompilerObjectThatCannotBeCreatedRecordsCode9) {
    QUOB_SetLastError(QUOB_ERR_DUPLICATE_FUNCTION);  // left by an earlier compilation
    failingAllocationSize = sizeof(quob::TCodeBuffer);
    const int32_t h = CreateRealFunction("f x = x ret");
    failingAllocationSize = 0;
    EXPECT_EQ(h, 0);
    EXPECT_EQ(QUOB_GetLastError(), QUOB_ERR_OUT_OF_RESOURCES);
    const int32_t again = CreateRealFunction("f x = x ret");
    EXPECT_EQ(again, 1) << "the slot stayed free";
    DeleteFunction(again);
}

}  // namespace
