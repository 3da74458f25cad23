// The view history, walked back and forward.
#include "viewer_testing.h"

namespace {

struct View {
    long double re, im, scale;
};
constexpr View A{1, 2, 3}, B{4, 5, 6}, V3{7, 8, 9}, V4{10, 11, 12};

class HistoryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetViewer();
        stack = std::make_unique<THotSpotStack>();
    }
    void Push(const View &v) { stack->Push(v.re, v.im, v.scale); }
    void ExpectCurrent(const View &v) {
        EXPECT_EQ(+CurrentParams.CenterRe, static_cast<double>(v.re));
        EXPECT_EQ(+CurrentParams.CenterIm, static_cast<double>(v.im));
        EXPECT_EQ(+CurrentParams.Scale, static_cast<double>(v.scale));
    }
    std::unique_ptr<THotSpotStack> stack;
};

TEST_F(HistoryTest, NewStackIsEmpty) {
    EXPECT_EQ(stack->Count, 0);
    for (const auto &entry : stack->Entries) ASSERT_EQ(entry.Valid, 0);
    EXPECT_FALSE(stack->Back());
    EXPECT_FALSE(stack->Forward());
}

TEST_F(HistoryTest, WalkBackAndForward) {
    Push(A);
    Push(B);
    Push(V3);
    ASSERT_TRUE(stack->Back());
    ExpectCurrent(B);
    ASSERT_TRUE(stack->Back());
    ExpectCurrent(A);
    EXPECT_FALSE(stack->Back());
    ExpectCurrent(A);
    ASSERT_TRUE(stack->Forward());
    ExpectCurrent(B);
    Push(V4);
    EXPECT_EQ(stack->Count, 3);
    EXPECT_FALSE(stack->Forward());  // V3 became unreachable
    ASSERT_TRUE(stack->Back());
    ExpectCurrent(B);
    ASSERT_TRUE(stack->Forward());
    ExpectCurrent(V4);
}

TEST_F(HistoryTest, HoldsAtMost4094Views) {
    for (int i = 0; i < 4094; ++i) stack->Push(i, -i, 1.0L / (i + 1));
    EXPECT_EQ(stack->Count, 4094);
    stack->Push(99999, 99999, 99999);
    EXPECT_EQ(stack->Count, 4094);
    EXPECT_EQ(stack->Entries[4093].Re, 4093.0L);
    EXPECT_EQ(stack->Entries[4094].Valid, 0);
    int steps = 0;
    while (stack->Back()) {
        ++steps;
        ASSERT_EQ(+CurrentParams.CenterRe, stack->Count - 1.0);
    }
    EXPECT_EQ(steps, 4093);
    ExpectCurrent({0, 0, 1});
    EXPECT_TRUE(stack->Forward());
}

TEST_F(HistoryTest, ForwardIncludesTheLastEntryOfAFullStack) {
    for (int i = 0; i < 4094; ++i) stack->Push(i, 0, 1);
    ASSERT_TRUE(stack->Back());
    ASSERT_TRUE(stack->Forward());
    EXPECT_EQ(+CurrentParams.CenterRe, 4093.0);
    EXPECT_FALSE(stack->Forward());
}

TEST_F(HistoryTest, BackRoundsExtendedToDouble) {
    const long double third = 1.0L / 3;
    stack->Push(0, 0, 1);
    stack->Push(third, -third, third);
    stack->Push(0, 0, 1);
    ASSERT_TRUE(stack->Back());
    EXPECT_EQ(+CurrentParams.CenterRe, static_cast<double>(third));
    EXPECT_EQ(+CurrentParams.CenterIm, static_cast<double>(-third));
}

TEST_F(HistoryTest, StartUpSeedsTheHomeViewSoBackDoesNothing) {
    ASSERT_EQ(History->Count, 1);
    EXPECT_EQ(History->Entries[0].Re, HomeRe);
    EXPECT_EQ(History->Entries[0].Im, HomeIm);
    EXPECT_EQ(History->Entries[0].Scale, HomeScale);
    EXPECT_FALSE(History->Back());
}

}  // namespace
