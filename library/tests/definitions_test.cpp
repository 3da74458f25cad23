// Definition texts through the creating operations: header checks in their order, body outcomes
// and their codes, names and the 128 function slots.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "compile/frontend.h"
#include "compile/functions.h"
#include "int_support.h"
#include "quob32.h"

namespace {

using quob::test::LiveFunctions;

enum class Kind { Real, Int, Recursive };

int32_t Create(Kind kind, const char *text) {
    return kind == Kind::Real  ? CreateRealFunction(text)
           : kind == Kind::Int ? CreateIntFunction(text)
                               : CreateRecursiveFunction(text, 1);
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
    std::string text;
    Kind kind;
    int32_t code;  // 0: compiles
};

std::ostream &operator<<(std::ostream &os, const OutcomeCase &c) {
    const char *kinds[] = {"real", "integer", "recursive"};
    return os << kinds[static_cast<int>(c.kind)] << " \"" << c.text.substr(0, 80) << '"';
}

class DefinitionOutcomes : public Definitions, public testing::WithParamInterface<OutcomeCase> {};

TEST_P(DefinitionOutcomes, CodeOrHandle) {
    const OutcomeCase &c = GetParam();
    QUOB_SetLastError(17);
    const int32_t h = Make(c.kind, c.text.c_str());
    EXPECT_EQ(QUOB_GetLastError(), c.code);
    EXPECT_EQ(h, c.code == 0 ? 1 : 0) << "the lowest free slot, or none";
}

constexpr Kind R = Kind::Real, I = Kind::Int, D = Kind::Recursive;
const std::string kX8 = "f x = x x x x x x x x ";  // eight values: the x87 stack is full

INSTANTIATE_TEST_SUITE_P(
    Texts, DefinitionOutcomes,
    testing::Values(
        OutcomeCase{"", R, 1}, OutcomeCase{"   ", R, 1}, OutcomeCase{"", I, 1},
        OutcomeCase{"f x y", R, 1}, OutcomeCase{"f", I, 1}, OutcomeCase{"f =", R, 10},
        OutcomeCase{"f = ", R, 10}, OutcomeCase{"sqrt x = x ret", R, 2},
        // The keyword sets differ: "time" and "shl" are integer keywords only, "scale", "pi" and
        // "sqrt" floating-point ones; keywords are case-sensitive.
        OutcomeCase{"time x = x ret", R, 0}, OutcomeCase{"time x = x ret", I, 2},
        OutcomeCase{"shl x = x ret", R, 0}, OutcomeCase{"scale x = x ret", I, 0},
        OutcomeCase{"f pi = pi ret", I, 0}, OutcomeCase{"g SQRT = SQRT ret", R, 0},
        OutcomeCase{"f x = x ret", D, 0}, OutcomeCase{"ret x = x ret", D, 2},
        OutcomeCase{"2f x = x ret", R, 3}, OutcomeCase{"= x ret", I, 3},
        OutcomeCase{"f 2 = x ret", R, 6}, OutcomeCase{"f + = x ret", R, 6},
        OutcomeCase{"f x 2", I, 6},  // checked before the missing "="
        OutcomeCase{"f x x = x ret", R, 8}, OutcomeCase{"f x y x", I, 8},
        OutcomeCase{"f pi = 1 ret", R, 5}, OutcomeCase{"f shl = x ret", I, 5},
        OutcomeCase{"f ret", I, 5}, OutcomeCase{"f abcdefghij = abcdefgh ret", R, 0},
        OutcomeCase{"f x = x 1 -", R, 13}, OutcomeCase{"f x = x ret 1", R, 13},
        OutcomeCase{"f x = 1 ret", R, 0}, OutcomeCase{"f x = x", R, 13},
        OutcomeCase{"f x = x x ret", R, 13}, OutcomeCase{"f x = ret", R, 12},
        OutcomeCase{"f x = -.5 ret", R, 12},  // "-" and ".5"
        OutcomeCase{"f x = x + ret", R, 12}, OutcomeCase{"f x = x swap ret", R, 12},
        OutcomeCase{"f x = x ret =", R, 10}, OutcomeCase{"f x = x = ret", R, 10},
        OutcomeCase{"f x = y ret", R, 10}, OutcomeCase{"f x = x 2x + ret", R, 10},
        OutcomeCase{"f x = x 1e+5 ret", R, 10}, OutcomeCase{"f x = 1e999 ret", R, 10},
        OutcomeCase{"f x = 1e39 ret", R, 10}, OutcomeCase{"f x = 1e39! ret", R, 0},
        OutcomeCase{"f x = 1e5000! ret", R, 10}, OutcomeCase{"f x = x del", R, 10},
        OutcomeCase{"f x = x\tret", R, 10},  // one word "x<tab>ret"
        OutcomeCase{"f x = x x \\ ret", R, 0},
        // Depth: eight values fit the x87 stack, a ninth or a keyword needing room does not.
        OutcomeCase{"f x = x x x x x x x x + + + + + + + ret", R, 0},
        OutcomeCase{"f x = x x x x x x x x x", R, 11},
        OutcomeCase{"f x = x x x x x x x x x + + + + + + + + ret", R, 11},
        OutcomeCase{kX8 + "copy", R, 11}, OutcomeCase{kX8 + "tan", R, 11},
        OutcomeCase{kX8 + "log2", R, 11}, OutcomeCase{kX8 + "sincos", R, 11},
        OutcomeCase{"f x = x x x x x x x exp", R, 11},
        OutcomeCase{"f x = x x x x x x exp + + + + + ret", R, 0},
        OutcomeCase{"f x = x x x x x x x tan + + + + + + ret", R, 0},
        OutcomeCase{"f x = x ret x ret x ret x ret x ret x ret x ret x ret x ret", R, 14},
        OutcomeCase{"f x = x ret x ret x ret x ret x ret x ret x ret x ret", R, 0},
        OutcomeCase{"f = 1 ret", D, 16}, OutcomeCase{"f = 1 ret", R, 0},
        OutcomeCase{"f x = x", D, 15}, OutcomeCase{"f x = x del", D, 15},
        OutcomeCase{"f a b c d e g h i j k l m n o p q = a ret", R, 0},
        OutcomeCase{"f a b c d e g h i j k l m n o p q r = a ret", R, 7},
        OutcomeCase{"f a b c d e g h i j k l m n o p q 2 = a ret", I, 7},
        OutcomeCase{"f a b c d e g h i j k l m n o p q pi", D, 7},
        OutcomeCase{"f a b c d e g h i j k l m n o p q", R, 1},
        // Texts far beyond every limit: words are cut to eight characters, code stops at 1024.
        OutcomeCase{std::string(100000, ' '), R, 1}, OutcomeCase{std::string(100000, 'a'), I, 1},
        OutcomeCase{"f x = " + std::string(100000, 'x'), I, 10},
        OutcomeCase{"f x = " + std::string(99990, '9') + " ret", I, 0},
        OutcomeCase{"f x = x" + std::string(50000, '+') + "ret", R, 12},
        OutcomeCase{"f x = x" + quob::test::Repeat(" copy *", 2000) + " ret", D, 9}));

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
    EXPECT_EQ(Make(Kind::Recursive, "f x = x ret"), real) << "the name and the slot are free again";
    EXPECT_EQ(Create(Kind::Int, "f y = y ret"), 0);
    EXPECT_EQ(QUOB_GetLastError(), QUOB_ERR_DUPLICATE_FUNCTION);
}

TEST_F(Definitions, OneHundredTwentyEightSlotsReusedLowestFirst) {
    for (int32_t i = 1; i <= 128; ++i)
        ASSERT_EQ(Make(Kind::Real, ("f" + std::to_string(i) + " x = x ret").c_str()), i);
    const std::pair<const char *, int32_t> refused[] = {
        {"g x = x ret", QUOB_ERR_OUT_OF_RESOURCES},
        {"f7 x = x ret", QUOB_ERR_DUPLICATE_FUNCTION},  // the name is checked first
        {"2g x = x ret", QUOB_ERR_FUNCTION_NAME_EXPECTED}};
    for (const auto &[text, code] : refused) {
        EXPECT_EQ(Create(Kind::Real, text), 0);
        EXPECT_EQ(QUOB_GetLastError(), code) << text;
    }
    ASSERT_EQ(DeleteFunction(70), 1);
    ASSERT_EQ(DeleteFunction(3), 1);
    EXPECT_EQ(DeleteFunction(3), 0) << "already free";
    EXPECT_EQ(Create(Kind::Recursive, "g x = x ret"), 3);
    EXPECT_EQ(Create(Kind::Real, "h x = x ret"), 70);
    EXPECT_EQ(Create(Kind::Real, "k x = x ret"), 0);
    EXPECT_EQ(QUOB_GetLastError(), QUOB_ERR_OUT_OF_RESOURCES);
}

// The text goes through the front end once, whatever becomes of it: every back end, the execution
// copy and the filler's variant read the checked body (counted in debug builds).
TEST_F(Definitions, EachCompilationScansItsTextOnce) {
#ifdef NDEBUG
    GTEST_SKIP() << "texts are counted in debug builds";
#endif
    const struct {
        quob::FunctionKind kind;
        const char *text;
    } compilations[] = {
        {quob::FunctionKind::Real, "f x y = x y * sqrt ret"},
        {quob::FunctionKind::Integer, "g x = x sqr 3 + ret"},
        {quob::FunctionKind::Recursive,
         "h tx ty x y = tx sqr ty sqr - x + ret 2 tx ty * * y + ret"},
        {quob::FunctionKind::Real, "f x = x 1 2 +"},   // fails with code 13
        {quob::FunctionKind::Recursive, "r = 1 ret"},  // fails with code 16
    };
    for (const auto &c : compilations) {
        const int64_t before = quob::DefinitionsScanned();
        const int32_t h = quob::CreateFunction(c.text, {c.kind, 20, true});
        if (h != 0) created_.push_back(h);
        EXPECT_EQ(quob::DefinitionsScanned(), before + 1) << c.text;
    }
}

}  // namespace
