// The formula language's lexical rules: cutting tokens, names, keywords and number literals.
#include "compile/scanner.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace quob {
namespace {

std::vector<std::string> Tokens(const char *text) {
    TScanner scanner(text);
    std::vector<std::string> tokens;
    for (const char *t = scanner.NextToken(); t[0]; t = scanner.NextToken()) tokens.push_back(t);
    EXPECT_STREQ(scanner.NextToken(), "") << "the end of the text stays the end";
    return tokens;
}

struct CutCase {
    const char *text;
    std::vector<std::string> tokens;
};

class TokenCutting : public testing::TestWithParam<CutCase> {};

TEST_P(TokenCutting, CutsTheTextIntoTokens) {
    EXPECT_EQ(Tokens(GetParam().text), GetParam().tokens) << "text: " << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TokenCutting,
    testing::Values(CutCase{"", {}}, CutCase{"   ", {}}, CutCase{"  x   y  ", {"x", "y"}},
                    CutCase{"-+ret", {"-", "+", "ret"}}, CutCase{"**+ret", {"*", "*", "+", "ret"}},
                    CutCase{"2 -1", {"2", "-1"}}, CutCase{"x-1", {"x-1"}},
                    CutCase{"2--1", {"2", "-", "-1"}}, CutCase{"=-1", {"=", "-1"}},
                    CutCase{"-x -", {"-", "x", "-"}},
                    CutCase{"-.5", {"-", ".5"}},  // only a digit makes "-" part of a word
                    CutCase{"1e+5", {"1e", "+", "5"}}, CutCase{"1e-5/2", {"1e-5", "/", "2"}},
                    CutCase{"a=b", {"a", "=", "b"}}, CutCase{"a\\b", {"a\\b"}},
                    CutCase{"x\tret", {"x\tret"}}, CutCase{"x\r\nret y", {"x\r\nret", "y"}},
                    CutCase{"log2(10) log10{2) 2px", {"log2(10)", "log10{2)", "2px"}},
                    CutCase{"abcdefghij k", {"abcdefgh", "k"}},
                    CutCase{"123456789+1", {"12345678", "+", "1"}},
                    CutCase{"-123456789 0.123456! 0.12345!", {"-1234567", "0.123456", "0.12345!"}},
                    CutCase{"abcdefgh-12345 z", {"abcdefgh", "z"}},
                    CutCase{"tx ty x y = x ty sqr tx sqr -+ret y 2 tx ty **+ret",
                            {"tx", "ty",  "x", "y", "=",  "x",  "ty", "sqr", "tx", "sqr", "-",
                             "+",  "ret", "y", "2", "tx", "ty", "*",  "*",   "+",  "ret"}}));

TEST(Scanner, CurrentTokenMarkResetAndAtEnd) {
    TScanner scanner("a b c");
    EXPECT_STREQ(scanner.CurrentToken(), "");
    EXPECT_FALSE(scanner.AtEnd());
    EXPECT_STREQ(scanner.CurrentToken(), "") << "a look-ahead from the start reads nothing";
    EXPECT_STREQ(scanner.NextToken(), "a") << "AtEnd consumed nothing";
    EXPECT_STREQ(scanner.CurrentToken(), "a");
    scanner.Mark();
    EXPECT_STREQ(scanner.NextToken(), "b");
    EXPECT_STREQ(scanner.NextToken(), "c");
    EXPECT_TRUE(scanner.AtEnd());
    EXPECT_STREQ(scanner.CurrentToken(), "") << "the stored token is the look-ahead's";
    scanner.Reset();
    EXPECT_FALSE(scanner.AtEnd());
    EXPECT_STREQ(scanner.CurrentToken(), "b");
    EXPECT_STREQ(scanner.NextToken(), "b");

    TScanner blanks("    ");
    EXPECT_TRUE(blanks.AtEnd());
}

// The back ends dispatch on the index, so both tables are written out here as the language
// defines them, independently of the library's own tables.
const std::vector<std::string> kExpectedInt = {"+",   "-",   "neg",  "*",    "/",    "\\",
                                               "abs", "shl", "shr",  "sqrt", "sqr",  "sin",
                                               "cos", "tan", "copy", "swap", "time", "ret"};
const std::vector<std::string> kExpectedFloat = {
    "+",     "-",   "neg", "*",       "/",      "\\",       "abs",     "scale",
    "sqrt",  "sqr", "sin", "cos",     "sincos", "tan",      "patan",   "copy",
    "swap",  "pi",  "0",   "1",       "ret",    "log2(10)", "log2(e)", "log10{2)",
    "ln(2)", "2px", "int", "YxLog2X", "del",    "log2",     "exp"};

void ExpectKeywordSet(KeywordSet set, const std::vector<std::string> &expected) {
    size_t count = 0;
    while (set[count][0] != '\0') ++count;
    ASSERT_EQ(count, expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(set[i], expected[i]) << "entry " << i;
        EXPECT_EQ(KeywordIndex(set, expected[i].c_str()), static_cast<int>(i)) << expected[i];
    }
}

TEST(Keywords, BothSetsInTheirOrderAndLookupIsExactAndPerSet) {
    ExpectKeywordSet(kIntKeywords, kExpectedInt);
    ExpectKeywordSet(kFloatKeywords, kExpectedFloat);
    for (const char *other : {"SQRT", "Ret", "", "log", "time", "shl"})
        EXPECT_EQ(KeywordIndex(kFloatKeywords, other), -1) << other;
    for (const char *other : {"pi", "0", "scale"})
        EXPECT_EQ(KeywordIndex(kIntKeywords, other), -1) << other;
}

TEST(Names, LetterThenLettersAndDigits) {
    for (const char *name : {"x", "X1", "a1b2c3", "SQRT", "abcdefgh"})
        EXPECT_TRUE(IsName(name)) << name;
    for (const char *other :
         {"", "1a", "_a", "a_b", "a-1", "log2(10)", "2px", "\\", "a\tb", "=", "\xe4x", "x\xe4"})
        EXPECT_FALSE(IsName(other)) << other;
}

struct RealCase {
    const char *token;
    bool valid;
    long double value;
    bool extended;
};

std::ostream &operator<<(std::ostream &os, const RealCase &c) {
    return os << '"' << c.token << '"';
}

class RealLiterals : public testing::TestWithParam<RealCase> {};

TEST_P(RealLiterals, Convert) {
    const RealCase &c = GetParam();
    RealLiteral literal{-12345.0L, !c.extended};
    ASSERT_EQ(ParseRealLiteral(c.token, literal), c.valid);
    if (!c.valid) return;
    EXPECT_EQ(literal.value, c.value);
    EXPECT_EQ(std::signbit(literal.value), std::signbit(c.value));
    EXPECT_EQ(literal.extended, c.extended);
}

INSTANTIATE_TEST_SUITE_P(
    Tokens, RealLiterals,
    testing::Values(RealCase{"0.1", true, 0.1f, false}, RealCase{"0.1!", true, 0.1L, true},
                    RealCase{"0.1!xyz", true, 0.1L, true}, RealCase{".5", true, 0.5L, false},
                    RealCase{"-.5", true, -0.5L, false}, RealCase{"-0", true, -0.0L, false},
                    RealCase{"1e5", true, 1e5L, false}, RealCase{"1E-5", true, 1e-5f, false},
                    RealCase{"2.5e-3!", true, 2.5e-3L, true},
                    RealCase{"16777217", true, 16777216.0L, false},  // 24-bit significand
                    RealCase{"3e38", true, 3e38f, false}, RealCase{"1e39!", true, 1e39L, true},
                    RealCase{"1e39", false, 0, false}, RealCase{"1e999", false, 0, false},
                    RealCase{"1e5000!", false, 0, true}, RealCase{"1e", false, 0, false},
                    RealCase{"1e-", false, 0, false}, RealCase{"5.", false, 0, false},
                    RealCase{".", false, 0, false}, RealCase{"-", false, 0, false},
                    RealCase{"!", false, 0, false}, RealCase{"-!", false, 0, false},
                    RealCase{"2x", false, 0, false}, RealCase{"1.5.2", false, 0, false},
                    RealCase{"1e5e2", false, 0, false}, RealCase{"0x10", false, 0, false},
                    RealCase{"inf", false, 0, false}, RealCase{"nan", false, 0, false},
                    RealCase{" 1", false, 0, false}, RealCase{"+1", false, 0, false},
                    RealCase{"--1", false, 0, false}, RealCase{"$10", false, 0, false}));

// Hosts such as the viewer adopt the user's locale; a literal must not depend on it.
TEST(RealLiteralsThroughTheScanner, IgnoreTheLocale) {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    const char *found = nullptr;
    for (const char *name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8",
                             "ru_RU.UTF-8", "nl_NL.UTF-8", "es_ES.UTF-8", "it_IT.UTF-8"})
        if ((found = std::setlocale(LC_ALL, name))) break;
    if (!found || std::strcmp(std::localeconv()->decimal_point, ".") == 0) {
        std::setlocale(LC_ALL, saved.c_str());
        GTEST_SKIP() << "no locale with another decimal point is installed";
    }
    RealLiteral single{}, extended{};
    const bool singleOk = ParseRealLiteral("2.5e-1", single);
    const bool extendedOk = ParseRealLiteral("0.1!", extended);
    std::setlocale(LC_ALL, saved.c_str());
    ASSERT_TRUE(singleOk);
    ASSERT_TRUE(extendedOk);
    EXPECT_EQ(single.value, 0.25L);
    EXPECT_EQ(extended.value, 0.1L);
}

struct IntCase {
    const char *token;
    bool valid;
    int32_t value;
};

std::ostream &operator<<(std::ostream &os, const IntCase &c) { return os << '"' << c.token << '"'; }

class IntLiterals : public testing::TestWithParam<IntCase> {};

TEST_P(IntLiterals, Convert) {
    const IntCase &c = GetParam();
    int32_t value = 0x5A5A5A5A;
    ASSERT_EQ(ParseIntLiteral(c.token, value), c.valid);
    if (c.valid) {
        EXPECT_EQ(value, c.value);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Tokens, IntLiterals,
    testing::Values(IntCase{"0", true, 0}, IntCase{"-1", true, -1}, IntCase{"007", true, 7},
                    IntCase{"99999999", true, 99999999}, IntCase{"-9999999", true, -9999999},
                    IntCase{"2147483647", true, INT32_MAX}, IntCase{"-2147483648", true, INT32_MIN},
                    IntCase{"2147483648", false, 0}, IntCase{"-2147483649", false, 0},
                    IntCase{"99999999999", false, 0}, IntCase{"$10", true, 16},
                    IntCase{"$ff", true, 255}, IntCase{"$Ff", true, 255},
                    IntCase{"$fffffff", true, 268435455}, IntCase{"$FFFFFFFF", true, -1},
                    IntCase{"$80000000", true, INT32_MIN}, IntCase{"$100000000", false, 0},
                    IntCase{"$", false, 0}, IntCase{"-$1", false, 0}, IntCase{"$-1", false, 0},
                    IntCase{"$g", false, 0}, IntCase{"$1 ", false, 0}, IntCase{"", false, 0},
                    IntCase{"-", false, 0}, IntCase{"+1", false, 0}, IntCase{"1.5", false, 0},
                    IntCase{"1e5", false, 0}, IntCase{"12a", false, 0}, IntCase{"--1", false, 0}));

}  // namespace
}  // namespace quob
