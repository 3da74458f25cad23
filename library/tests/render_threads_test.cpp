// Threaded fills: stop, suspend and resume, storms of messages, deletion while a fill runs.
// Runs under TSan as well.
#include <chrono>
#include <random>
#include <thread>

#include "render_support.h"

namespace quob::test {
namespace {

using namespace std::chrono_literals;

constexpr int32_t kRedraw = QUOB_MSG_PREVIEW | QUOB_MSG_FILL_SMOOTH | QUOB_MSG_THREAD;

class RenderThreads : public RenderTest {
protected:
    // The home view with a cost that keeps a fill busy for a while: points inside the set never
    // settle and run 10,000 iterations.
    static QUOB_FillerParams SlowParams() {
        QUOB_FillerParams p = DefaultParams();
        p.Differential = 0;
        p.IterationsLimit = 10;
        p.BlockLength = 1000;
        return p;
    }

    static bool WaitFilled(int32_t buffer, std::chrono::milliseconds limit = 60s) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!QUOB_IBufferFilled(buffer)) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }

    // The picture that a message gives when run to its end in the caller's thread.
    static std::vector<uint32_t> Reference(int32_t buffer, int32_t code) {
        EXPECT_EQ(QUOB_IBufferMessage(buffer, code & ~QUOB_MSG_THREAD), 1);
        return Pixels(buffer);
    }
};

TEST_F(RenderThreads, FilledFollowsTheWorker) {
    const QUOB_FillerParams p = SlowParams();
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    const int32_t buffer = QUOB_CreateIBufferEx(160, 120, 1);
    EXPECT_EQ(QUOB_IBufferFilled(buffer), 1);  // no worker yet
    ASSERT_EQ(QUOB_IBufferMessage(buffer, QUOB_MSG_FILL | QUOB_MSG_THREAD), 1);
    EXPECT_EQ(QUOB_IBufferFilled(buffer), 0);
    EXPECT_EQ(QUOB_IBufferMessage(buffer, QUOB_MSG_STOP), 1);
    EXPECT_EQ(QUOB_IBufferFilled(buffer), 1);

    const QUOB_FillerParams quick = DefaultParams();
    ASSERT_EQ(QUOB_UpdateFiller(1, &quick, ChangeSet{QUOB_FP_DIFFERENTIAL, QUOB_FP_ITERATIONS_LIMIT}.flags), 1);
    ASSERT_EQ(QUOB_IBufferMessage(buffer, QUOB_MSG_FILL | QUOB_MSG_THREAD), 1);
    EXPECT_TRUE(WaitFilled(buffer));
    const std::vector<uint32_t> threaded = Pixels(buffer);
    EXPECT_EQ(threaded, Reference(buffer, QUOB_MSG_CLEAR | QUOB_MSG_FILL));
}

TEST_F(RenderThreads, NoPixelIsWrittenAfterStopReturns) {
    const QUOB_FillerParams p = SlowParams();
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    const int32_t buffer = QUOB_CreateIBufferEx(160, 120, 1);
    for (int32_t code : {QUOB_MSG_FILL, QUOB_MSG_FILL_SMOOTH}) {
        ASSERT_EQ(QUOB_IBufferMessage(buffer, QUOB_MSG_CLEAR), 1);
        ASSERT_EQ(QUOB_IBufferMessage(buffer, code | QUOB_MSG_THREAD), 1);
        std::this_thread::sleep_for(30ms);
        ASSERT_EQ(QUOB_IBufferMessage(buffer, QUOB_MSG_STOP), 1);
        const std::vector<uint32_t> stopped = Pixels(buffer);
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(Pixels(buffer), stopped);
        EXPECT_EQ(QUOB_IBufferFilled(buffer), 1);
    }
}

TEST_F(RenderThreads, SuspendHoldsTheFillAndResumeFinishesIt) {
    const QUOB_FillerParams p = SlowParams();
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    const int32_t buffer = QUOB_CreateIBufferEx(80, 60, 1);
    const std::vector<uint32_t> expected = Reference(buffer, QUOB_MSG_FILL_SMOOTH);
    ASSERT_EQ(QUOB_IBufferMessage(buffer, QUOB_MSG_CLEAR | QUOB_MSG_FILL_SMOOTH | QUOB_MSG_THREAD), 1);
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(QUOB_IBufferMessage(buffer, QUOB_MSG_SUSPEND), 1);
    EXPECT_EQ(QUOB_IBufferMessage(buffer, QUOB_MSG_SUSPEND), 1);  // does nothing more
    const std::vector<uint32_t> held = Pixels(buffer);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(Pixels(buffer), held);
    EXPECT_EQ(QUOB_IBufferFilled(buffer), 0);
    EXPECT_EQ(QUOB_IBufferMessage(buffer, QUOB_MSG_RESUME), 1);  // once is enough
    EXPECT_TRUE(WaitFilled(buffer));
    EXPECT_EQ(Pixels(buffer), expected);
}

TEST_F(RenderThreads, StopWakesASuspendedWorker) {
    const QUOB_FillerParams p = SlowParams();
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    const int32_t buffer = QUOB_CreateIBufferEx(160, 120, 1);
    ASSERT_EQ(QUOB_IBufferMessage(buffer, QUOB_MSG_FILL | QUOB_MSG_THREAD | QUOB_MSG_SUSPEND), 1);
    EXPECT_EQ(QUOB_IBufferFilled(buffer), 0);
    EXPECT_EQ(QUOB_IBufferMessage(buffer, QUOB_MSG_STOP), 1);
    EXPECT_EQ(QUOB_IBufferFilled(buffer), 1);
}

TEST_F(RenderThreads, ThousandRedrawsEndWithTheLastPicture) {
    const QUOB_FillerParams p = DefaultParams();
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    const int32_t buffer = QUOB_CreateIBufferEx(120, 90, 1);
    const std::vector<uint32_t> expected = Reference(buffer, kRedraw);
    ASSERT_EQ(QUOB_IBufferMessage(buffer, QUOB_MSG_CLEAR), 1);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(QUOB_IBufferMessage(buffer, kRedraw), 1);
    EXPECT_TRUE(WaitFilled(buffer));
    EXPECT_EQ(Pixels(buffer), expected);
}

TEST_F(RenderThreads, RedrawWithStopBeforeEachUpdate) {
    // What the viewer does on every navigation.
    QUOB_FillerParams p = DefaultParams();
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    const int32_t buffer = QUOB_CreateIBufferEx(96, 64, 1);
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(QUOB_IBufferMessage(buffer, QUOB_MSG_STOP), 1);
        p.Scale = 2.0 / (1 + i % 7);
        ASSERT_EQ(QUOB_UpdateFiller(1, &p, ChangeSet{QUOB_FP_CENTER_RE, QUOB_FP_CENTER_IM, QUOB_FP_SCALE}.flags), 1);
        ASSERT_EQ(QUOB_IBufferMessage(buffer, kRedraw), 1);
        if (i % 50 == 0) std::this_thread::sleep_for(2ms);
    }
    EXPECT_TRUE(WaitFilled(buffer));
    EXPECT_EQ(Pixels(buffer), Reference(buffer, kRedraw));
}

TEST_F(RenderThreads, SuspendResumeStormLeavesTheRightPicture) {
    const QUOB_FillerParams p = SlowParams();
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    const int32_t buffer = QUOB_CreateIBufferEx(64, 48, 1);
    const std::vector<uint32_t> expected = Reference(buffer, QUOB_MSG_FILL);
    std::mt19937 random(42);
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(QUOB_IBufferMessage(buffer, QUOB_MSG_CLEAR | QUOB_MSG_FILL | QUOB_MSG_THREAD), 1);
        for (int i = 0; i < 2000; ++i) {
            const int32_t code = (random() & 1 ? QUOB_MSG_SUSPEND : 0) |
                                 (random() & 1 ? QUOB_MSG_RESUME : 0);
            ASSERT_EQ(QUOB_IBufferMessage(buffer, code), 1);
        }
        ASSERT_EQ(QUOB_IBufferMessage(buffer, QUOB_MSG_RESUME), 1);
        EXPECT_TRUE(WaitFilled(buffer));
        EXPECT_EQ(Pixels(buffer), expected);
    }
}

TEST_F(RenderThreads, StoppingInTheMiddleOfFillsManyTimes) {
    const QUOB_FillerParams p = SlowParams();
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    const int32_t buffer = QUOB_CreateIBufferEx(100, 80, 1);
    std::mt19937 random(7);
    for (int i = 0; i < 300; ++i) {
        const int32_t mode = random() & 1 ? QUOB_MSG_FILL : QUOB_MSG_FILL_SMOOTH;
        ASSERT_EQ(QUOB_IBufferMessage(buffer, mode | QUOB_MSG_THREAD), 1);
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 500));
        const int32_t code = random() % 3 == 0 ? QUOB_MSG_SUSPEND | QUOB_MSG_STOP : QUOB_MSG_STOP;
        ASSERT_EQ(QUOB_IBufferMessage(buffer, code), 1);
        ASSERT_EQ(QUOB_IBufferFilled(buffer), 1);
    }
}

TEST_F(RenderThreads, DeletingABufferWhileItFills) {
    const QUOB_FillerParams p = SlowParams();
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    for (int i = 0; i < 50; ++i) {
        const int32_t buffer = QUOB_CreateIBufferEx(200, 150, 1);
        ASSERT_EQ(buffer, 1);
        ASSERT_EQ(QUOB_IBufferMessage(buffer, kRedraw | (i % 2 ? QUOB_MSG_SUSPEND : 0)), 1);
        std::this_thread::sleep_for(std::chrono::microseconds(100 * (i % 5)));
        ASSERT_EQ(QUOB_DeleteIBuffer(buffer), 1);
        EXPECT_EQ(QUOB_IBufferFilled(buffer), 1);
    }
}

// All fills share the filler's cells: a fill or preview in one buffer ends the fill of another,
// and changing or deleting the filler ends every fill before it touches the compiled code.
TEST_F(RenderThreads, OneFillAtATime) {
    QUOB_FillerParams p = SlowParams();
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    const int32_t first = QUOB_CreateIBufferEx(160, 120, 1);
    const int32_t second = QUOB_CreateIBufferEx(160, 120, 1);
    ASSERT_EQ(QUOB_IBufferMessage(first, QUOB_MSG_FILL | QUOB_MSG_THREAD), 1);
    ASSERT_EQ(QUOB_IBufferMessage(second, QUOB_MSG_FILL | QUOB_MSG_THREAD), 1);
    EXPECT_EQ(QUOB_IBufferFilled(first), 1);
    EXPECT_EQ(QUOB_IBufferFilled(second), 0);
    ASSERT_EQ(QUOB_IBufferMessage(first, QUOB_MSG_PREVIEW), 1);
    EXPECT_EQ(QUOB_IBufferFilled(second), 1);

    ASSERT_EQ(QUOB_IBufferMessage(second, QUOB_MSG_FILL_SMOOTH | QUOB_MSG_THREAD), 1);
    p.FractalFormula = "tx ty x y = x ty sqr tx sqr -+ret y 2 tx ty **+ret";
    ASSERT_EQ(QUOB_UpdateFiller(1, &p, ChangeSet{QUOB_FP_FRACTAL_FORMULA}.flags), 1);
    EXPECT_EQ(QUOB_IBufferFilled(second), 1);

    ASSERT_EQ(QUOB_IBufferMessage(second, QUOB_MSG_FILL_SMOOTH | QUOB_MSG_THREAD | QUOB_MSG_SUSPEND), 1);
    ASSERT_EQ(QUOB_DeleteFiller(1), 1);
    EXPECT_EQ(QUOB_IBufferFilled(second), 1);
}

}  // namespace
}  // namespace quob::test
