// The view history, walked back and forward.
#include "viewer_testing.h"

namespace {

// The viewer's history, emptied: Back and Forward through the viewer, which applies the view.
class HistoryTest : public ViewerTest {
  protected:
    void SetUp() override {
        ViewerTest::SetUp();
        *Viewer().History() = {};
    }
    void Push(long double re) { Viewer().History()->Push(re, -re, re + 1); }
    // CurrentParams hold the view pushed with re.
    void ExpectCurrent(long double re) {
        EXPECT_EQ(View(), std::tuple(double(re), double(-re), double(re + 1)));
    }
    const THotSpotStack &Stack() const { return *History(); }
};

TEST_F(HistoryTest, WalkBackAndForward) {
    EXPECT_FALSE(Viewer().Back());  // empty
    EXPECT_FALSE(Viewer().Forward());
    Push(1);
    Push(2);
    Push(3);
    ASSERT_TRUE(Viewer().Back());
    ExpectCurrent(2);
    ASSERT_TRUE(Viewer().Back());
    ExpectCurrent(1);
    EXPECT_FALSE(Viewer().Back());
    ExpectCurrent(1);
    ASSERT_TRUE(Viewer().Forward());
    ExpectCurrent(2);
    Push(4);
    EXPECT_EQ(Stack().Count, 3);
    EXPECT_FALSE(Viewer().Forward());  // 3 became unreachable
    ASSERT_TRUE(Viewer().Back());
    ExpectCurrent(2);
    ASSERT_TRUE(Viewer().Forward());
    ExpectCurrent(4);
    EXPECT_EQ(Updates().size(), 5u);  // one for each step taken
}

TEST_F(HistoryTest, HoldsAtMost4094Views) {
    for (int i = 0; i < 4094; ++i) Push(i);
    EXPECT_EQ(Stack().Count, 4094);
    Push(99999);
    EXPECT_EQ(Stack().Count, 4094);
    EXPECT_EQ(Stack().Entries[4093].Re, 4093.0L);
    EXPECT_EQ(Stack().Entries[4094].Valid, 0);
    ASSERT_TRUE(Viewer().Back());
    ASSERT_TRUE(Viewer().Forward());  // the last entry of a full stack is reachable
    ExpectCurrent(4093);
    EXPECT_FALSE(Viewer().Forward());
    int steps = 0;
    while (Viewer().Back()) {
        ++steps;
        ASSERT_EQ(+CurrentParams().CenterRe, Stack().Count - 1.0);
    }
    EXPECT_EQ(steps, 4093);
    ExpectCurrent(0);
    EXPECT_TRUE(Viewer().Forward());
}

TEST_F(HistoryTest, BackRoundsExtendedToDouble) {
    const long double third = 1.0L / 3;
    Push(0);
    Push(third);
    Push(0);
    ASSERT_TRUE(Viewer().Back());
    ExpectCurrent(third);
}

}  // namespace
