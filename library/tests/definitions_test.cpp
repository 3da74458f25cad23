// Definition texts through the creating operations: header checks in their order, body outcomes,
// names and the 128 function slots.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "quob32.h"

namespace {

enum class Kind { Real, Int, Recursive };

int32_t Create(Kind kind, const char *text) {
    switch (kind) {
        case Kind::Real:
            return CreateRealFunction(text);
        case Kind::Int:
            return CreateIntFunction(text);
        case Kind::Recursive:
            return CreateRecursiveFunction(text, 1);
    }
    return 0;
}

int32_t LiveFunctions() {
    int32_t live = 0;
    QUOB_FunctionRecord record;
    for (int32_t h = 1; h <= 128; ++h) live += GetFunction(h, &record);
    return live;
}

// The function table is process-wide: every test leaves it empty.
class Definitions : public testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(LiveFunctions(), 0); }
    void TearDown() override {
        for (int32_t h : created_) DeleteFunction(h);
        EXPECT_EQ(LiveFunctions(), 0);
    }
    int32_t Make(Kind kind, const char *text) {
        const int32_t h = Create(kind, text);
        if (h) created_.push_back(h);
        return h;
    }
    std::vector<int32_t> created_;
};

struct OutcomeCase {
    const char *text;
    Kind kind;
    int32_t code;  // 0: compiles
};

std::ostream &operator<<(std::ostream &os, const OutcomeCase &c) {
    const char *kinds[] = {"real", "integer", "recursive"};
    return os << kinds[static_cast<int>(c.kind)] << " \"" << c.text << '"';
}

class DefinitionOutcomes : public Definitions, public testing::WithParamInterface<OutcomeCase> {};

TEST_P(DefinitionOutcomes, CodeOrHandle) {
    const OutcomeCase &c = GetParam();
    QUOB_SetLastError(17);
    const int32_t h = Make(c.kind, c.text);
    EXPECT_EQ(QUOB_GetLastError(), c.code);
    EXPECT_EQ(h, c.code == 0 ? 1 : 0) << "the lowest free slot, or none";
}

INSTANTIATE_TEST_SUITE_P(
    Texts, DefinitionOutcomes,
    testing::Values(
        OutcomeCase{"", Kind::Real, 1}, OutcomeCase{"   ", Kind::Real, 1},
        OutcomeCase{"", Kind::Int, 1}, OutcomeCase{"f x y", Kind::Real, 1},
        OutcomeCase{"f", Kind::Int, 1}, OutcomeCase{"f =", Kind::Real, 10},
        OutcomeCase{"sqrt x = x ret", Kind::Real, 2}, OutcomeCase{"time x = x ret", Kind::Real, 0},
        OutcomeCase{"time x = x ret", Kind::Int, 2},
        OutcomeCase{"ret x = x ret", Kind::Recursive, 2},
        OutcomeCase{"2f x = x ret", Kind::Real, 3}, OutcomeCase{"= x ret", Kind::Int, 3},
        OutcomeCase{"f 2 = x ret", Kind::Real, 6}, OutcomeCase{"f + = x ret", Kind::Real, 6},
        OutcomeCase{"f x 2", Kind::Int, 6},  // checked before the missing "="
        OutcomeCase{"f x x = x ret", Kind::Real, 8}, OutcomeCase{"f x y x", Kind::Int, 8},
        OutcomeCase{"f pi = 1 ret", Kind::Real, 5}, OutcomeCase{"f shl = x ret", Kind::Int, 5},
        OutcomeCase{"f ret", Kind::Int, 5},
        OutcomeCase{"f abcdefghij = abcdefgh ret", Kind::Real, 0},
        OutcomeCase{"f x = x 1 -", Kind::Real, 13}, OutcomeCase{"f x = x ret 1", Kind::Real, 13},
        OutcomeCase{"f x = 1 ret", Kind::Real, 0}, OutcomeCase{"f x = x", Kind::Real, 13},
        OutcomeCase{"f x = ret", Kind::Real, 12},
        OutcomeCase{"f x = -.5 ret", Kind::Real,
                    12},  // "-" and ".5" OutcomeCase{"f x = x ret =", Kind::Real, 10},
        OutcomeCase{"f x = y ret", Kind::Real, 10}, OutcomeCase{"f x = x 2x + ret", Kind::Real, 10},
        OutcomeCase{"f x = x 1e+5 ret", Kind::Real, 10},
        OutcomeCase{"f x = 1e999 ret", Kind::Real, 10},
        OutcomeCase{"f x = 1e39 ret", Kind::Real, 10},
        OutcomeCase{"f x = 1e39! ret", Kind::Real, 0},
        OutcomeCase{"f x = 1e5000! ret", Kind::Real, 10},
        OutcomeCase{"f x = x\tret", Kind::Real, 10},  // one word "x<tab>ret"
        OutcomeCase{"f x = x x x x x x x x x", Kind::Real, 11},
        OutcomeCase{"f x = x ret x ret x ret x ret x ret x ret x ret x ret x ret", Kind::Real, 14},
        OutcomeCase{"f x = x ret x ret x ret x ret x ret x ret x ret x ret", Kind::Real, 0},
        OutcomeCase{"f = 1 ret", Kind::Recursive, 16}, OutcomeCase{"f = 1 ret", Kind::Real, 0},
        OutcomeCase{"f x = x", Kind::Recursive, 15},
        OutcomeCase{"f a b c d e g h i j k l m n o p q = a ret", Kind::Real, 0},
        OutcomeCase{"f a b c d e g h i j k l m n o p q r = a ret", Kind::Real, 7},
        OutcomeCase{"f a b c d e g h i j k l m n o p q 2 = a ret", Kind::Int, 7},
        OutcomeCase{"f a b c d e g h i j k l m n o p q pi", Kind::Recursive, 7},
        OutcomeCase{"f a b c d e g h i j k l m n o p q", Kind::Real, 1}));

// Header outcomes are the same for every kind, except where the keyword sets differ.
TEST_F(Definitions, HeaderChecksFollowEachKindsKeywordSet) {
    Make(Kind::Int, "scale x = x ret");
    EXPECT_NE(QUOB_GetLastError(), QUOB_ERR_RESERVED_FUNCTION_NAME) << "scale: no integer keyword";
    Make(Kind::Int, "f pi = pi ret");
    EXPECT_NE(QUOB_GetLastError(), QUOB_ERR_RESERVED_VARIABLE_NAME) << "pi: no integer keyword";
    EXPECT_NE(Make(Kind::Real, "shl x = x ret"), 0) << "shl is no floating-point keyword";
    EXPECT_NE(Make(Kind::Real, "g SQRT = SQRT ret"), 0) << "keywords are case-sensitive";
}

struct ValueCase {
    const char *text;
    std::vector<long double> params;
    long double result;
};

std::ostream &operator<<(std::ostream &os, const ValueCase &c) {
    return os << '"' << c.text << '"';
}

long double RunReal(int32_t h, const std::vector<long double> &params) {
    for (size_t p = 0; p < params.size(); ++p)
        std::memcpy(AccessParam(h, static_cast<int32_t>(p)), &params[p], 10);
    long double result = 0;
    std::memcpy(&result, LaunchFunction(h), 10);
    return result;
}

class DefinitionValues : public Definitions, public testing::WithParamInterface<ValueCase> {};

TEST_P(DefinitionValues, Result) {
    const int32_t h = Make(Kind::Real, GetParam().text);
    ASSERT_NE(h, 0) << QUOB_GetLastErrorEx();
    EXPECT_EQ(RunReal(h, GetParam().params), GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, DefinitionValues,
    testing::Values(
        ValueCase{"f x = 1 ret", {5}, 1}, ValueCase{"f x = 1 ret", {-7}, 1},
        ValueCase{"f x y = x y - ret", {10, 3}, -7},
        ValueCase{"f x y = x y swap - ret", {10, 3}, 7}, ValueCase{"f x y = x y / ret", {2, 8}, 4},
        ValueCase{"f x = x 0.1 * ret", {1}, 0.1f}, ValueCase{"f x = x 0.1! * ret", {1}, 0.1L},
        ValueCase{"f x = x 0.12345! * ret", {1}, 0.12345L},
        ValueCase{"f x = x 0.123456! * ret", {1}, 0.123456f},  // "!" is cut off
        ValueCase{"f x = 1e39! ret", {0}, 1e39L},
        ValueCase{"f abcdefghij = abcdefghxyz ret", {3}, 3}, ValueCase{"f x = 2 -1 * ret", {0}, -2},
        ValueCase{"time x = x x * ret", {3}, 9}));

TEST_F(Definitions, NamesKeepEightCharacters) {
    const int32_t h = Make(Kind::Real, "abcdefghij abcdefghij = abcdefgh ret");
    ASSERT_NE(h, 0);
    QUOB_FunctionRecord record;
    ASSERT_EQ(GetFunction(h, &record), 1);
    EXPECT_STREQ(record.Name, "abcdefgh");
    EXPECT_STREQ(record.Params[0].Name, "abcdefgh");
    EXPECT_NE(AccessParamByName(h, "abcdefgh"), nullptr);
    EXPECT_EQ(Make(Kind::Int, "abcdefghXY x = x ret"), 0);
    EXPECT_EQ(QUOB_GetLastError(), QUOB_ERR_DUPLICATE_FUNCTION);
    EXPECT_EQ(Make(Kind::Real, "g abcdefgh1 abcdefgh2 = 1 ret"), 0);
    EXPECT_EQ(QUOB_GetLastError(), QUOB_ERR_DUPLICATE_VARIABLE);
}

TEST_F(Definitions, ANameIsTakenAcrossKinds) {
    const int32_t real = Make(Kind::Real, "f x = x ret");
    ASSERT_NE(real, 0);
    for (Kind kind : {Kind::Real, Kind::Int, Kind::Recursive}) {
        QUOB_SetLastError(0);
        EXPECT_EQ(Create(kind, "f x = x ret"), 0);
        EXPECT_EQ(QUOB_GetLastError(), QUOB_ERR_DUPLICATE_FUNCTION);
    }
    EXPECT_EQ(DeleteFunction(real), 1);
    created_.clear();
    const int32_t recursive = Make(Kind::Recursive, "f x = x ret");
    EXPECT_EQ(recursive, real) << "the name and the slot are free again";
    EXPECT_EQ(Create(Kind::Int, "f y = y ret"), 0);
    EXPECT_EQ(QUOB_GetLastError(), QUOB_ERR_DUPLICATE_FUNCTION);
}

TEST_F(Definitions, OneHundredTwentyEightSlotsReusedLowestFirst) {
    for (int32_t i = 1; i <= 128; ++i)
        ASSERT_EQ(Make(Kind::Real, ("f" + std::to_string(i) + " x = x ret").c_str()), i);
    EXPECT_EQ(Create(Kind::Real, "g x = x ret"), 0);
    EXPECT_EQ(QUOB_GetLastError(), QUOB_ERR_OUT_OF_RESOURCES);
    EXPECT_EQ(Create(Kind::Real, "f7 x = x ret"), 0);
    EXPECT_EQ(QUOB_GetLastError(), QUOB_ERR_DUPLICATE_FUNCTION) << "the name is checked first";
    EXPECT_EQ(Create(Kind::Real, "2g x = x ret"), 0);
    EXPECT_EQ(QUOB_GetLastError(), QUOB_ERR_FUNCTION_NAME_EXPECTED);

    ASSERT_EQ(DeleteFunction(70), 1);
    ASSERT_EQ(DeleteFunction(3), 1);
    EXPECT_EQ(DeleteFunction(3), 0) << "already free";
    EXPECT_EQ(Create(Kind::Recursive, "g x = x ret"), 3);
    EXPECT_EQ(Create(Kind::Real, "h x = x ret"), 70);
    EXPECT_EQ(Create(Kind::Real, "k x = x ret"), 0);
    EXPECT_EQ(QUOB_GetLastError(), QUOB_ERR_OUT_OF_RESOURCES);
}

// Integer bodies, once the integer back end compiles them.
TEST_F(Definitions, IntegerBodies) {
    const int32_t probe = Create(Kind::Int, "s x = x ret");
    if (!probe) GTEST_SKIP() << "integer bodies are not compiled yet";
    DeleteFunction(probe);

    struct Row {
        const char *text;
        int32_t x;
        int32_t code;
        int32_t result;
    };
    const Row rows[] = {{"f x = x $10 + ret", 5, 0, 21},
                        {"f x = x 1.5 + ret", 5, 10, 0},
                        {"f x = x 3 / ret", 5, 13, 0},
                        {"f x = 123456789 ret", 0, 0, 12345678},
                        {"f x = x $FFFFFFF + ret", 5, 0, 268435460}};
    for (const Row &row : rows) {
        const int32_t h = Create(Kind::Int, row.text);
        EXPECT_EQ(QUOB_GetLastError(), row.code) << row.text;
        if (!h) continue;
        std::memcpy(AccessParam(h, 0), &row.x, 4);
        int32_t result;
        std::memcpy(&result, LaunchFunction(h), 4);
        EXPECT_EQ(result, row.result) << row.text;
        DeleteFunction(h);
    }
}

}  // namespace
