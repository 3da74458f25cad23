// Random integer bodies, deep enough to spill, compiled and run against the reference evaluator:
// every result must agree bit for bit.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "int_support.h"

namespace {

using namespace quob::test;

TEST(IntDifferential, RandomBodiesMatchTheReference) {
    std::mt19937 rng(20240611);
    static const char *const kReserved[] = {"/", "\\", "shl", "shr", "tan", "time"};
    int compiled = 0, tooLong = 0, deep = 0;
    for (int i = 0; i < 3000; ++i) {
        const int maxDepth = 2 + static_cast<int>(rng() % 18);
        std::vector<std::string> body =
            RandomIntBody(rng, 8 + static_cast<int>(rng() % 70), maxDepth);
        if (rng() % 8 == 0)
            body.insert(body.begin() + static_cast<long>(rng() % body.size()),
                        kReserved[rng() % 6]);
        const std::string text = "a b c = " + Join(body);
        const IntFunction f(text);
        if (!f.ok()) {
            // Only a body whose code exceeds the buffer may fail.
            ASSERT_EQ(f.error(), QUOB_ERR_OUT_OF_RESOURCES) << text;
            ++tooLong;
            continue;
        }
        ++compiled;
        deep += maxDepth >= 8;
        for (int run = 0; run < 4; ++run) {
            std::vector<int32_t> params(3);
            for (int32_t &p : params)
                p = run == 0 ? static_cast<int32_t>(rng() % 200) - 100
                             : static_cast<int32_t>(rng());
            const auto expected = EvaluateIntBody(body, {"a", "b", "c"}, params);
            ASSERT_TRUE(expected) << text;
            ASSERT_EQ(f.Run(params), *expected)
                << text << "\n a=" << params[0] << " b=" << params[1] << " c=" << params[2];
        }
    }
    EXPECT_GT(compiled, 2400) << tooLong << " bodies exceeded the code buffer";
    EXPECT_GT(deep, 1000);
}

}  // namespace
