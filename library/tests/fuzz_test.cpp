// Random definition texts against the three creating operations: every call either fails with a
// recorded code of the compiler or yields a function that runs and is deleted, and no slot is
// lost. Integer bodies behind a valid header fail only with a body's codes.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "int_support.h"
#include "quob32.h"

namespace {

// Words that reach every part of the compiler: keywords of both sets, names, literals of every
// shape (also malformed and out of range), separators glued to words, and bytes the language
// treats as ordinary characters.
const std::vector<std::string> kWords = {
    "+", "-", "*", "/", "=", "\\", "neg", "abs", "scale", "sqrt", "sqr", "sin", "cos", "sincos",
    "tan", "patan", "copy", "swap", "pi", "0", "1", "ret", "ret", "ret", "log2(10)", "log2(e)",
    "log10{2)", "ln(2)", "2px", "int", "YxLog2X", "del", "log2", "exp", "shl", "shr", "time", "x",
    "y", "z", "x", "a", "b", "abcdefghij", "abcdefgh", "0.1", "0.1!", ".5", "-.5", "1e", "1e+5",
    "1e-5", "1e999", "1e39", "1e5000!", "2x", "$10", "$FF", "$", "$FFFFFFF", "$fffffff", "-$1",
    "123456789", "-2147483648", "99999999", "40000", "65536", "99999999999999999999", "x-1", "-1",
    "--", "**+ret", "-+ret", "x\tret", "\t", "\r\n", "!", "\xff\xfe", "RET", "SQRT", "A", "retx",
    "copycopy"};

std::string RandomBytes(std::mt19937 &rng, size_t length) {
    std::string text;
    for (size_t i = 0; i < length; ++i) text += static_cast<char>(1 + rng() % 255);  // no NUL
    return text;
}

std::string RandomWords(std::mt19937 &rng, size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i)
        text += kWords[rng() % kWords.size()] + (rng() % 8 ? " " : "");  // sometimes glued
    return text;
}

// A header that usually passes and a body that keeps track of its stack, so that most texts
// compile; now and then a random word breaks the pattern.
std::string RandomDefinition(std::mt19937 &rng) {
    static const char *const headers[] = {
        "f x = ", "f x y = ", "f = ", "f x y z = ", "g a b c d e f h i j k l m n o p q = "};
    static const char *const pushes[] = {"x",   "y",    "z",      "a",  "q",       "pi",
                                         "0",   "1",    "0.1",    "0.1!", "-2.5e3", ".5",
                                         "log2(e)", "ln(2)", "7", "1e-30"};
    static const char *const unary[] = {"neg", "abs", "sqrt", "sqr", "sin",  "cos",   "tan",
                                        "2px", "int", "log2", "exp", "copy", "sincos"};
    static const char *const binary[] = {"+", "-", "*", "/", "\\", "patan", "YxLog2X", "swap",
                                         "scale"};
    std::string text = headers[rng() % 5];
    int depth = 0;
    for (size_t n = rng() % 30; n > 0; --n) {
        const char *word;
        const unsigned pick = rng() % 20;
        if (pick == 0)
            word = kWords[rng() % kWords.size()].c_str();
        else if (depth == 0 || (pick < 8 && depth < 7))
            word = pushes[rng() % 16], ++depth;
        else if (pick < 11)
            word = unary[rng() % 13];
        else if (pick < 15 && depth >= 2)
            word = binary[rng() % 9], --depth;
        else
            word = rng() % 5 ? "ret" : "del", --depth;
        text += word;
        text += ' ';
    }
    while (depth-- > 0) text += "ret ";
    return text;
}

// A valid random integer body with a few tokens deleted, doubled, replaced or glued to their
// neighbour.
std::string MutatedIntBody(std::mt19937 &rng) {
    std::vector<std::string> body =
        quob::test::RandomIntBody(rng, 5 + int(rng() % 60), 2 + int(rng() % 16));
    for (int m = int(rng() % 3); m > 0 && body.size() > 1; --m) {
        const size_t at = rng() % body.size();
        const unsigned how = rng() % 4;
        if (how == 0) body.erase(body.begin() + long(at));
        if (how == 1) body.insert(body.begin() + long(at), body[at]);
        if (how == 2) body[at] = RandomWords(rng, 1 + rng() % 4);
        if (how == 3 && at + 1 < body.size()) {
            body[at] += body[at + 1];
            body.erase(body.begin() + long(at) + 1);
        }
    }
    return quob::test::Join(body);
}

class Fuzz : public testing::Test {
  protected:
    // Creates with the given kind (0 real, 1 integer, else recursive) and checks the outcome; a
    // function that compiled runs once, on random parameters, and is deleted.
    bool Check(const std::string &text, int kind, const std::set<int32_t> &codes = kAnyCode) {
        QUOB_SetLastError(-1);
        const int32_t h = kind == 0   ? CreateRealFunction(text.c_str())
                          : kind == 1 ? CreateIntFunction(text.c_str())
                                      : CreateRecursiveFunction(text.c_str(), 1 + kind % 4);
        const int32_t code = QUOB_GetLastError();
        if (h == 0) {
            EXPECT_TRUE(codes.count(code)) << "code " << code << " for " << Shown(text, kind);
            return false;
        }
        ++compiled_;
        EXPECT_TRUE(h >= 1 && h <= 128) << h;
        EXPECT_EQ(code, 0) << Shown(text, kind);
        QUOB_FunctionRecord record;
        EXPECT_EQ(GetFunction(h, &record), 1);
        EXPECT_GE(record.ResultCount, 1);
        EXPECT_LE(record.ResultCount, 8);
        EXPECT_LE(record.ParamCount, 16);
        if (kind == 1)
            for (int32_t p = 0; p < record.ParamCount; ++p)
                *static_cast<int32_t *>(AccessParam(h, p)) = static_cast<int32_t>(rng_());
        EXPECT_EQ(LaunchFunction(h), AccessResult(h, 0));
        EXPECT_EQ(DeleteFunction(h), 1) << Shown(text, kind);
        return true;
    }
    static std::string Shown(const std::string &text, int kind) {
        const char *kinds[] = {"real", "integer", "recursive"};
        return std::string(kinds[kind % 3]) + " \"" + text.substr(0, 200) + "\"";
    }
    void CheckAllKinds(const std::string &text) {
        for (int kind = 0; kind < 3; ++kind) Check(text, kind);
    }
    static inline const std::set<int32_t> kAnyCode = {1, 2,  3,  4,  5,  6,  7,  8,
                                                      9, 10, 11, 12, 13, 14, 15, 16};
    static inline const std::set<int32_t> kIntBodyCodes = {
        QUOB_ERR_OUT_OF_RESOURCES, QUOB_ERR_INVALID_EXPRESSION, QUOB_ERR_NOT_ENOUGH_PARAMETERS,
        QUOB_ERR_STACK_NOT_EMPTY, QUOB_ERR_TOO_MANY_RESULTS};
    std::mt19937 rng_{20240611};  // fixed: every run sees the same texts
    int compiled_ = 0;
};

TEST_F(Fuzz, SpecialTexts) {
    using quob::test::Repeat;
    for (const std::string &text :
         {std::string(""), std::string(" "), std::string("\t"), std::string("="), std::string("f"),
          std::string("f ="), std::string("f = ret"),
          std::string("f a b c d e g h i j k l m n o p q r = a ret"), "f x =" + Repeat(" x ret", 9),
          "f x =" + Repeat(" x", 40) + Repeat(" +", 40), "f x = x" + Repeat(" copy *", 2000) + " ret",
          std::string(100000, ' '), std::string(100000, 'a'), "f x = " + std::string(100000, 'x'),
          "f x = " + std::string(99990, '9') + " ret", "f x = x" + std::string(50000, '+') + "ret",
          "f x = x 1" + std::string(30000, '0') + " ret", RandomBytes(rng_, 100000)})
        CheckAllKinds(text);
}

TEST_F(Fuzz, RandomTexts) {
    int intCompiled = 0;
    for (int i = 0; i < 240000; ++i) {
        switch (i % 4) {
            case 0: CheckAllKinds(RandomBytes(rng_, rng_() % 40)); break;
            case 1: CheckAllKinds(RandomWords(rng_, rng_() % 30)); break;
            case 2: CheckAllKinds(RandomDefinition(rng_)); break;
            // Random bytes, words or a mutated body behind a valid integer header.
            default: {
                const unsigned mode = rng_() % 3;
                const std::string body = mode == 0   ? RandomBytes(rng_, 1 + rng_() % 120)
                                         : mode == 1 ? RandomWords(rng_, 1 + rng_() % 60)
                                                     : MutatedIntBody(rng_);
                intCompiled += Check("f a b c = " + body, 1, kIntBodyCodes);
            }
        }
        if (HasFailure()) return;
    }
    EXPECT_GT(compiled_, 15000) << "the texts should reach the back ends";
    EXPECT_GT(intCompiled, 5000) << "mutated integer bodies should often still compile";
}

// Defined last, so it runs last: nothing above may have lost a slot.
TEST_F(Fuzz, NoSlotLost) {
    std::vector<int32_t> handles;
    for (int i = 0; i < 128; ++i) {
        const int32_t h = CreateRealFunction(("n" + std::to_string(i) + " x = x ret").c_str());
        ASSERT_NE(h, 0) << "slot " << i << ": " << QUOB_GetLastErrorEx();
        handles.push_back(h);
    }
    EXPECT_EQ(CreateRealFunction("m x = x ret"), 0);
    for (int32_t h : handles) EXPECT_EQ(DeleteFunction(h), 1);
}

}  // namespace
