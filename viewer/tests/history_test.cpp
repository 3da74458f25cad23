// The view history, walked back and forward.
#include "viewer_testing.h"

namespace {

class HistoryTest : public ViewerTest {
  protected:
    void Push(long double re) { stack.Push(re, -re, re + 1); }
    // CurrentParams hold the view pushed with re.
    void ExpectCurrent(long double re) {
        EXPECT_EQ(+CurrentParams.CenterRe, static_cast<double>(re));
        EXPECT_EQ(+CurrentParams.CenterIm, static_cast<double>(-re));
        EXPECT_EQ(+CurrentParams.Scale, static_cast<double>(re + 1));
    }
    THotSpotStack stack;
};

TEST_F(HistoryTest, WalkBackAndForward) {
    EXPECT_FALSE(stack.Back());  // empty
    EXPECT_FALSE(stack.Forward());
    Push(1);
    Push(2);
    Push(3);
    ASSERT_TRUE(stack.Back());
    ExpectCurrent(2);
    ASSERT_TRUE(stack.Back());
    ExpectCurrent(1);
    EXPECT_FALSE(stack.Back());
    ExpectCurrent(1);
    ASSERT_TRUE(stack.Forward());
    ExpectCurrent(2);
    Push(4);
    EXPECT_EQ(stack.Count, 3);
    EXPECT_FALSE(stack.Forward());  // 3 became unreachable
    ASSERT_TRUE(stack.Back());
    ExpectCurrent(2);
    ASSERT_TRUE(stack.Forward());
    ExpectCurrent(4);
    EXPECT_EQ(Updates().size(), 5u);  // one for each step taken
}

TEST_F(HistoryTest, HoldsAtMost4094Views) {
    for (int i = 0; i < 4094; ++i) Push(i);
    EXPECT_EQ(stack.Count, 4094);
    Push(99999);
    EXPECT_EQ(stack.Count, 4094);
    EXPECT_EQ(stack.Entries[4093].Re, 4093.0L);
    EXPECT_EQ(stack.Entries[4094].Valid, 0);
    ASSERT_TRUE(stack.Back());
    ASSERT_TRUE(stack.Forward());  // the last entry of a full stack is reachable
    ExpectCurrent(4093);
    EXPECT_FALSE(stack.Forward());
    int steps = 0;
    while (stack.Back()) {
        ++steps;
        ASSERT_EQ(+CurrentParams.CenterRe, stack.Count - 1.0);
    }
    EXPECT_EQ(steps, 4093);
    ExpectCurrent(0);
    EXPECT_TRUE(stack.Forward());
}

TEST_F(HistoryTest, BackRoundsExtendedToDouble) {
    const long double third = 1.0L / 3;
    Push(0);
    Push(third);
    Push(0);
    ASSERT_TRUE(stack.Back());
    ExpectCurrent(third);
}

}  // namespace
