// Random definition texts against the three creating operations: every call either fails with a
// recorded code of the compiler or yields a function that runs and is deleted, and no slot is lost.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "quob32.h"

namespace {

// Words that reach every part of the compiler: keywords of both sets, names, literals of every
// shape (also malformed and out of range), separators glued to words, and bytes the language
// treats as ordinary characters.
const std::vector<std::string> kWords = {"+",
                                         "-",
                                         "*",
                                         "/",
                                         "=",
                                         "\\",
                                         "neg",
                                         "abs",
                                         "scale",
                                         "sqrt",
                                         "sqr",
                                         "sin",
                                         "cos",
                                         "sincos",
                                         "tan",
                                         "patan",
                                         "copy",
                                         "swap",
                                         "pi",
                                         "0",
                                         "1",
                                         "ret",
                                         "ret",
                                         "ret",
                                         "log2(10)",
                                         "log2(e)",
                                         "log10{2)",
                                         "ln(2)",
                                         "2px",
                                         "int",
                                         "YxLog2X",
                                         "del",
                                         "log2",
                                         "exp",
                                         "shl",
                                         "shr",
                                         "time",
                                         "x",
                                         "y",
                                         "z",
                                         "x",
                                         "y",
                                         "abcdefghij",
                                         "abcdefgh",
                                         "0.1",
                                         "0.1!",
                                         ".5",
                                         "-.5",
                                         "1e",
                                         "1e+5",
                                         "1e-5",
                                         "1e999",
                                         "1e39",
                                         "1e5000!",
                                         "2x",
                                         "$10",
                                         "$FFFFFFF",
                                         "-$1",
                                         "123456789",
                                         "-2147483648",
                                         "99999999999999999999",
                                         "x-1",
                                         "-1",
                                         "--",
                                         "**+ret",
                                         "-+ret",
                                         "x\tret",
                                         "\t",
                                         "\r\n",
                                         "!",
                                         "\xff\xfe",
                                         "RET",
                                         "SQRT"};

std::string RandomBytes(std::mt19937 &rng, size_t length) {
    std::string text;
    for (size_t i = 0; i < length; ++i) text += static_cast<char>(1 + rng() % 255);  // no NUL
    return text;
}

std::string RandomWords(std::mt19937 &rng, size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        text += kWords[rng() % kWords.size()];
        text += rng() % 8 ? " " : "";  // sometimes glued to the next word
    }
    return text;
}

// A header that usually passes and a body that keeps track of its stack, so that most texts
// compile; now and then a random word breaks the pattern.
std::string RandomDefinition(std::mt19937 &rng) {
    static const char *const headers[] = {
        "f x = ", "f x y = ", "f = ", "f x y z = ", "g a b c d e f h i j k l m n o p q = "};
    static const char *const pushes[] = {"x",       "y",     "z",   "a",    "q",      "pi",
                                         "0",       "1",     "0.1", "0.1!", "-2.5e3", ".5",
                                         "log2(e)", "ln(2)", "7",   "1e-30"};
    static const char *const unary[] = {"neg", "abs", "sqrt", "sqr", "sin",  "cos",   "tan",
                                        "2px", "int", "log2", "exp", "copy", "sincos"};
    static const char *const binary[] = {"+",     "-",       "*",    "/",    "\\",
                                         "patan", "YxLog2X", "swap", "scale"};
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

class Fuzz : public testing::Test {
  protected:
    // Creates with the given kind and checks the outcome; a function that compiled runs once and
    // is deleted.
    void Check(const std::string &text, int kind) {
        QUOB_SetLastError(-1);
        const int32_t h = kind == 0   ? CreateRealFunction(text.c_str())
                          : kind == 1 ? CreateIntFunction(text.c_str())
                                      : CreateRecursiveFunction(text.c_str(), 1 + kind % 4);
        const int32_t code = QUOB_GetLastError();
        if (h == 0) {
            EXPECT_GE(code, 1) << Shown(text, kind);
            EXPECT_LE(code, 16) << Shown(text, kind);
            return;
        }
        ++compiled_;
        ASSERT_GE(h, 1);
        ASSERT_LE(h, 128);
        EXPECT_EQ(code, 0) << Shown(text, kind);
        QUOB_FunctionRecord record;
        ASSERT_EQ(GetFunction(h, &record), 1);
        EXPECT_GE(record.ResultCount, 1);
        EXPECT_LE(record.ResultCount, 8);
        EXPECT_LE(record.ParamCount, 16);
        EXPECT_EQ(LaunchFunction(h), AccessResult(h, 0));
        ASSERT_EQ(DeleteFunction(h), 1) << Shown(text, kind);
    }
    static std::string Shown(const std::string &text, int kind) {
        const char *kinds[] = {"real", "integer", "recursive"};
        return std::string(kinds[kind % 3]) + " \"" + text.substr(0, 200) + "\"";
    }
    void CheckAllKinds(const std::string &text) {
        for (int kind = 0; kind < 3; ++kind) Check(text, kind);
    }
    int compiled_ = 0;
};

TEST_F(Fuzz, SpecialTexts) {
    const std::string seventeen = "f a b c d e g h i j k l m n o p q r = a ret";
    std::string nineRets = "f x =", deep = "f x =", deepOps = "f x = x";
    for (int i = 0; i < 9; ++i) nineRets += " x ret";
    for (int i = 0; i < 40; ++i) deep += " x";
    for (int i = 0; i < 40; ++i) deep += " +";
    for (int i = 0; i < 2000; ++i) deepOps += " copy *";
    std::mt19937 rng(1);
    const std::vector<std::string> texts = {"",
                                            " ",
                                            "\t",
                                            "=",
                                            "f",
                                            "f =",
                                            "f = ret",
                                            seventeen,
                                            nineRets,
                                            deep,
                                            deepOps + " ret",
                                            std::string(100000, ' '),
                                            std::string(100000, 'a'),
                                            "f x = " + std::string(100000, 'x'),
                                            "f x = " + std::string(99990, '9') + " ret",
                                            "f x = x" + std::string(50000, '+') + "ret",
                                            "f x = x 1" + std::string(30000, '0') + " ret",
                                            RandomBytes(rng, 100000)};
    for (const std::string &text : texts) CheckAllKinds(text);
}

TEST_F(Fuzz, RandomTexts) {
    std::mt19937 rng(20240611);  // fixed: every run sees the same texts
    for (int i = 0; i < 300000; ++i) {
        switch (i % 3) {
            case 0:
                CheckAllKinds(RandomBytes(rng, rng() % 40));
                break;
            case 1:
                CheckAllKinds(RandomWords(rng, rng() % 30));
                break;
            default:
                CheckAllKinds(RandomDefinition(rng));
                break;
        }
        if (HasFatalFailure()) return;
    }
    EXPECT_GT(compiled_, 10000) << "the texts should reach the back ends";
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
