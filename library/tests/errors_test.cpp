// The process-wide last error: its message table, what stores it and what must leave it alone.
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "codebuffer.h"
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

struct MessageCase {
    int32_t code;
    const char *message;
};

std::ostream &operator<<(std::ostream &os, const MessageCase &c) { return os << "code " << c.code; }

class ErrorMessages : public testing::TestWithParam<MessageCase> {};

TEST_P(ErrorMessages, TextOfEachCode) {
    EXPECT_EQ(QUOB_SetLastError(GetParam().code), GetParam().code);
    EXPECT_EQ(QUOB_GetLastError(), GetParam().code);
    EXPECT_STREQ(QUOB_GetLastErrorEx(), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ErrorMessages,
    testing::Values(
        MessageCase{0, "QUOB: Success (code 0)"},
        MessageCase{1, "QUOB: No expression specified (code 1)"},
        MessageCase{2, "QUOB: You cannot use reserved words as a function name (code 2)"},
        MessageCase{3, "QUOB: The function name expected (code 3)"},
        MessageCase{4, "QUOB: The function with the same name has been already created (code 4)"},
        MessageCase{5, "QUOB: You cannot use reserved words as a variable name (code 5)"},
        MessageCase{6, "QUOB: Variable name expected (code 6)"},
        MessageCase{7, "QUOB: Too many variables (code 7)"},
        MessageCase{8, "QUOB: All variables should have different names (code 8)"},
        MessageCase{9, "QUOB: Out of system resources (code 9)"},
        MessageCase{10, "QUOB: Invalid right side expression (code 10)"},
        MessageCase{11, "QUOB: Virtual stack overflow (code 11)"},
        MessageCase{12, "QUOB: Not enough actual parameters (code 12)"},
        MessageCase{13, "QUOB: Virtual stack is not empty (code 13)"},
        MessageCase{14, "QUOB: Too many resulting values (code 14)"},
        MessageCase{15, "QUOB: Recursive function should return value (code 15)"},
        MessageCase{16, "QUOB: At least one parameter required (code 16)"},
        MessageCase{17, "QUOB: (code 17)"}, MessageCase{18, "QUOB: (code 18)"}));

TEST(LastError, CodesOutsideTheTableAreKeptAndNamed) {
    for (const int32_t code : {-1, 19, 1000, INT_MIN, INT_MAX}) {
        EXPECT_EQ(QUOB_SetLastError(code), code);
        EXPECT_EQ(QUOB_GetLastError(), code);
        const std::string message = QUOB_GetLastErrorEx();
        EXPECT_EQ(message.rfind("QUOB: ", 0), 0u) << message;
        const std::string tail = "(code " + std::to_string(code) + ")";
        ASSERT_GE(message.size(), tail.size());
        EXPECT_EQ(message.substr(message.size() - tail.size()), tail) << message;
    }
    QUOB_SetLastError(0);
}

// Without a host message box, caption and text go to standard error.
struct ShowCase {
    int32_t code;
    const char *caption;
    const char *text;
};

class ShowLastError : public testing::TestWithParam<ShowCase> {};

TEST_P(ShowLastError, WritesToStandardErrorAndKeepsTheCode) {
    QUOB_SetLastError(GetParam().code);
    testing::internal::CaptureStderr();
    const int32_t button = QUOB_ShowLastError();
    const std::string shown = testing::internal::GetCapturedStderr();
    EXPECT_EQ(button, 1);
    EXPECT_NE(shown.find(GetParam().caption), std::string::npos) << shown;
    EXPECT_NE(shown.find(GetParam().text), std::string::npos) << shown;
    EXPECT_EQ(QUOB_GetLastError(), GetParam().code);
    QUOB_SetLastError(0);
}

// A code other than 0 takes the default caption, 0 the empty one.
INSTANTIATE_TEST_SUITE_P(Codes, ShowLastError,
                         testing::Values(ShowCase{0, "", "QUOB: Success (code 0)"},
                                         ShowCase{7, "Error", "QUOB: Too many variables (code 7)"},
                                         ShowCase{-5, "Error", "(code -5)"}));

TEST(LastError, FailedHandleOperationsLeaveTheCode) {
    const int32_t live = CreateRealFunction("live x = x ret");
    ASSERT_NE(live, 0);
    ASSERT_EQ(CreateRealFunction("live y = y ret"), 0);  // code 4
    ASSERT_EQ(QUOB_GetLastError(), QUOB_ERR_DUPLICATE_FUNCTION);

    const int32_t freeSlot = live + 1;
    QUOB_FunctionRecord record;
    const std::vector<std::pair<const char *, std::function<bool()>>> failures = {
        {"DeleteFunction(0)", [] { return DeleteFunction(0) == 0; }},
        {"DeleteFunction(129)", [] { return DeleteFunction(129) == 0; }},
        {"DeleteFunction(freeSlot)", [&] { return DeleteFunction(freeSlot) == 0; }},
        {"LaunchFunction(129)", [] { return LaunchFunction(129) == nullptr; }},
        {"LaunchFunction(-1)", [] { return LaunchFunction(-1) == nullptr; }},
        {"AccessParam(freeSlot, 0)", [&] { return AccessParam(freeSlot, 0) == nullptr; }},
        {"AccessParam(live, 1)", [&] { return AccessParam(live, 1) == nullptr; }},
        {"AccessResult(live, -1)", [&] { return AccessResult(live, -1) == nullptr; }},
        {"AccessParamByName(live, X)", [&] { return AccessParamByName(live, "X") == nullptr; }},
        {"GetFunction(0)", [&] { return GetFunction(0, &record) == 0; }},
        {"CreateRecursiveFunction(, 0)",
         [] { return CreateRecursiveFunction("r x = x ret", 0) == 0; }},
    };
    for (const auto &[name, fails] : failures) {
        EXPECT_TRUE(fails()) << name;
        EXPECT_EQ(QUOB_GetLastError(), QUOB_ERR_DUPLICATE_FUNCTION) << name;
    }
    EXPECT_EQ(DeleteFunction(live), 1);
    EXPECT_EQ(QUOB_GetLastError(), QUOB_ERR_DUPLICATE_FUNCTION) << "a deletion records nothing";
}

TEST(LastError, ASuccessfulCompilationResetsTheCode) {
    ASSERT_EQ(CreateRealFunction("f x = x x"), 0);
    ASSERT_EQ(QUOB_GetLastError(), QUOB_ERR_STACK_NOT_EMPTY);
    const int32_t f = CreateRealFunction("f x = x ret");
    ASSERT_NE(f, 0);
    EXPECT_EQ(QUOB_GetLastError(), 0);
    EXPECT_STREQ(QUOB_GetLastErrorEx(), "QUOB: Success (code 0)");

    QUOB_SetLastError(18);
    const int32_t g = CreateRecursiveFunction("g x = x ret", 2);
    ASSERT_NE(g, 0);
    EXPECT_EQ(QUOB_GetLastError(), 0);
    DeleteFunction(f);
    DeleteFunction(g);
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
