// Random texts through CreateIntFunction: every text either compiles into code that runs, or
// fails with one of the body's codes; nothing crashes, and the sanitizers stay quiet.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <set>
#include <string>

#include "int_support.h"
#include "quob32.h"

namespace {

using quob::test::IntFunction;

std::string RandomBytes(std::mt19937 &rng) {
    std::string s(1 + rng() % 120, ' ');
    for (char &c : s) c = static_cast<char>(1 + rng() % 255);  // no NUL inside
    return s;
}

// Words of the language and near misses, joined by blanks or by nothing.
std::string RandomWords(std::mt19937 &rng) {
    static const char *const kWords[] = {
        "+",           "-",        "neg",   "*",   "/",   "\\",      "abs",      "shl",
        "shr",         "sqrt",     "sqr",   "sin", "cos", "tan",     "copy",     "swap",
        "time",        "ret",      "a",     "b",   "=",   "0",       "-1",       "$FF",
        "$",           "99999999", "-$1",   "1.5", "A",   "retx",    "$fffffff", "123456789",
        "-2147483648", "40000",    "65536", "\t",  "x",   "copycopy"};
    std::string s;
    const int n = 1 + static_cast<int>(rng() % 60);
    for (int i = 0; i < n; ++i) {
        s += kWords[rng() % (sizeof kWords / sizeof kWords[0])];
        if (rng() % 5 != 0) s += ' ';
    }
    return s;
}

// A valid random body with a few tokens deleted, doubled, replaced or glued to their neighbour.
std::string MutatedBody(std::mt19937 &rng) {
    std::vector<std::string> body = quob::test::RandomIntBody(rng, 5 + static_cast<int>(rng() % 60),
                                                              2 + static_cast<int>(rng() % 16));
    const int mutations = static_cast<int>(rng() % 3);
    for (int m = 0; m < mutations && body.size() > 1; ++m) {
        const size_t at = rng() % body.size();
        switch (rng() % 4) {
            case 0:
                body.erase(body.begin() + static_cast<long>(at));
                break;
            case 1:
                body.insert(body.begin() + static_cast<long>(at), body[at]);
                break;
            case 2:
                body[at] = RandomWords(rng);
                break;
            default:
                if (at + 1 < body.size()) {
                    body[at] += body[at + 1];
                    body.erase(body.begin() + static_cast<long>(at) + 1);
                }
        }
    }
    return quob::test::Join(body);
}

TEST(IntFuzz, RandomTextsCompileOrFailCleanly) {
    const std::set<int32_t> bodyCodes = {QUOB_ERR_OUT_OF_RESOURCES, QUOB_ERR_INVALID_EXPRESSION,
                                         QUOB_ERR_NOT_ENOUGH_PARAMETERS, QUOB_ERR_STACK_NOT_EMPTY,
                                         QUOB_ERR_TOO_MANY_RESULTS};
    std::mt19937 rng(777);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    int texts = 0, compiled = 0;
    while (std::chrono::steady_clock::now() < end || texts < 2000) {
        const unsigned mode = rng() % 3;
        const std::string body = mode == 0   ? RandomBytes(rng)
                                 : mode == 1 ? RandomWords(rng)
                                             : MutatedBody(rng);
        const IntFunction f("a b c = " + body);
        ++texts;
        if (!f.ok()) {
            ASSERT_TRUE(bodyCodes.count(f.error())) << "code " << f.error() << " for: " << body;
            continue;
        }
        ++compiled;
        ASSERT_EQ(f.error(), QUOB_OK);
        QUOB_FunctionRecord r;
        ASSERT_EQ(GetFunction(f.handle(), &r), 1);
        ASSERT_GE(r.ResultCount, 1);
        ASSERT_LE(r.ResultCount, 8);
        f.Run({static_cast<int32_t>(rng()), static_cast<int32_t>(rng()), 5});
    }
    EXPECT_GT(compiled, texts / 10) << "mutated bodies should often still compile";
}

}  // namespace
