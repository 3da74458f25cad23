// Threaded fills in one or several threads: pictures against the caller's thread, stop, suspend
// and resume, storms of messages, deletion while a fill runs. Runs under TSan as well.
#include <chrono>
#include <random>
#include <thread>

#include "fill/ibuffer.h"
#include "render_support.h"

namespace quob::test {
namespace {

using namespace std::chrono_literals;

constexpr int32_t kRedraw = QUOB_MSG_PREVIEW | QUOB_MSG_FILL_SMOOTH | QUOB_MSG_THREAD;

class ThreadsTest : public RenderTest {
  protected:
    void TearDown() override {
        RenderTest::TearDown();
        SetFillThreads(0);
    }

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

// Every test of the worker runs with one thread and with more threads than this machine has
// cores, so that threads share cores and stop, suspend and resume find them anywhere.
class RenderThreads : public ThreadsTest, public ::testing::WithParamInterface<int32_t> {
  protected:
    void SetUp() override { SetFillThreads(GetParam()); }
};

TEST_P(RenderThreads, FilledFollowsTheWorker) {
    const QUOB_FillerParams p = SlowParams();
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    const int32_t buffer = QUOB_CreateIBufferEx(160, 120, 1);
    EXPECT_EQ(QUOB_IBufferFilled(buffer), 1);  // no worker yet
    ASSERT_EQ(QUOB_IBufferMessage(buffer, QUOB_MSG_FILL | QUOB_MSG_THREAD), 1);
    EXPECT_EQ(QUOB_IBufferFilled(buffer), 0);
    EXPECT_EQ(QUOB_IBufferMessage(buffer, QUOB_MSG_STOP), 1);
    EXPECT_EQ(QUOB_IBufferFilled(buffer), 1);

    const QUOB_FillerParams quick = DefaultParams();
    ASSERT_EQ(QUOB_UpdateFiller(1, &quick,
                                ChangeSet{QUOB_FP_DIFFERENTIAL, QUOB_FP_ITERATIONS_LIMIT}.flags),
              1);
    ASSERT_EQ(QUOB_IBufferMessage(buffer, QUOB_MSG_FILL | QUOB_MSG_THREAD), 1);
    EXPECT_TRUE(WaitFilled(buffer));
    const std::vector<uint32_t> threaded = Pixels(buffer);
    EXPECT_EQ(threaded, Reference(buffer, QUOB_MSG_CLEAR | QUOB_MSG_FILL));
}

TEST_P(RenderThreads, NoPixelIsWrittenAfterStopReturns) {
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

TEST_P(RenderThreads, SuspendHoldsTheFillAndResumeFinishesIt) {
    const QUOB_FillerParams p = SlowParams();
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    const int32_t buffer = QUOB_CreateIBufferEx(80, 60, 1);
    // The plain fill writes after every sample: a thread that is not held writes at once.
    for (int32_t mode : {QUOB_MSG_FILL, QUOB_MSG_FILL_SMOOTH}) {
        const std::vector<uint32_t> expected = Reference(buffer, mode);
        ASSERT_EQ(QUOB_IBufferMessage(buffer, QUOB_MSG_CLEAR | mode | QUOB_MSG_THREAD), 1);
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
}

TEST_P(RenderThreads, StopWakesASuspendedWorker) {
    const QUOB_FillerParams p = SlowParams();
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    const int32_t buffer = QUOB_CreateIBufferEx(160, 120, 1);
    ASSERT_EQ(QUOB_IBufferMessage(buffer, QUOB_MSG_FILL | QUOB_MSG_THREAD | QUOB_MSG_SUSPEND), 1);
    EXPECT_EQ(QUOB_IBufferFilled(buffer), 0);
    EXPECT_EQ(QUOB_IBufferMessage(buffer, QUOB_MSG_STOP), 1);
    EXPECT_EQ(QUOB_IBufferFilled(buffer), 1);
}

TEST_P(RenderThreads, ThousandRedrawsEndWithTheLastPicture) {
    const QUOB_FillerParams p = DefaultParams();
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    const int32_t buffer = QUOB_CreateIBufferEx(120, 90, 1);
    const std::vector<uint32_t> expected = Reference(buffer, kRedraw);
    ASSERT_EQ(QUOB_IBufferMessage(buffer, QUOB_MSG_CLEAR), 1);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(QUOB_IBufferMessage(buffer, kRedraw), 1);
    EXPECT_TRUE(WaitFilled(buffer));
    EXPECT_EQ(Pixels(buffer), expected);
}

TEST_P(RenderThreads, RedrawWithStopBeforeEachUpdate) {
    // What the viewer does on every navigation.
    QUOB_FillerParams p = DefaultParams();
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    const int32_t buffer = QUOB_CreateIBufferEx(96, 64, 1);
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(QUOB_IBufferMessage(buffer, QUOB_MSG_STOP), 1);
        p.Scale = 2.0 / (1 + i % 7);
        ASSERT_EQ(QUOB_UpdateFiller(
                      1, &p, ChangeSet{QUOB_FP_CENTER_RE, QUOB_FP_CENTER_IM, QUOB_FP_SCALE}.flags),
                  1);
        ASSERT_EQ(QUOB_IBufferMessage(buffer, kRedraw), 1);
        if (i % 50 == 0) std::this_thread::sleep_for(2ms);
    }
    EXPECT_TRUE(WaitFilled(buffer));
    EXPECT_EQ(Pixels(buffer), Reference(buffer, kRedraw));
}

TEST_P(RenderThreads, SuspendResumeStormLeavesTheRightPicture) {
    const QUOB_FillerParams p = SlowParams();
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    const int32_t buffer = QUOB_CreateIBufferEx(64, 48, 1);
    const std::vector<uint32_t> expected = Reference(buffer, QUOB_MSG_FILL);
    std::mt19937 random(42);
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(QUOB_IBufferMessage(buffer, QUOB_MSG_CLEAR | QUOB_MSG_FILL | QUOB_MSG_THREAD), 1);
        for (int i = 0; i < 2000; ++i) {
            const int32_t code =
                (random() & 1 ? QUOB_MSG_SUSPEND : 0) | (random() & 1 ? QUOB_MSG_RESUME : 0);
            ASSERT_EQ(QUOB_IBufferMessage(buffer, code), 1);
        }
        ASSERT_EQ(QUOB_IBufferMessage(buffer, QUOB_MSG_RESUME), 1);
        EXPECT_TRUE(WaitFilled(buffer));
        EXPECT_EQ(Pixels(buffer), expected);
    }
}

TEST_P(RenderThreads, StoppingInTheMiddleOfFillsManyTimes) {
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

TEST_P(RenderThreads, DeletingABufferWhileItFills) {
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
TEST_P(RenderThreads, OneFillAtATime) {
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

    ASSERT_EQ(
        QUOB_IBufferMessage(second, QUOB_MSG_FILL_SMOOTH | QUOB_MSG_THREAD | QUOB_MSG_SUSPEND), 1);
    ASSERT_EQ(QUOB_DeleteFiller(1), 1);
    EXPECT_EQ(QUOB_IBufferFilled(second), 1);
}

INSTANTIATE_TEST_SUITE_P(Threads, RenderThreads, ::testing::Values(1, 3),
                         [](const auto &info) { return std::to_string(info.param); });

// Pictures filled by several threads against the caller's thread, bit for bit.
struct ThreadedCase {
    const char *name;
    int32_t width, height;
    void (*change)(QUOB_FillerParams &);  // of the viewer's start-up settings
    bool independent = true;  // false: the samples depend on their order, so one thread fills
};

const ThreadedCase kThreadedCases[] = {
    {"Home", 64, 48, [](QUOB_FillerParams &) {}},
    {"Seahorses", 48, 41,
     [](QUOB_FillerParams &p) {
         p.CenterRe = -0.7435, p.CenterIm = 0.1314, p.Scale = 0.002;
         p.IterationsLimit = 60, p.BlockLength = 7, p.Differential = 0;
     }},
    {"StartAtZero", 50, 30, [](QUOB_FillerParams &p) { p.RecursionInit = 1; }},
    {"EscapeTakesColor", 50, 31,
     [](QUOB_FillerParams &p) {
         p.EscapeTakesColor = 1, p.EscapeColor = 0x00102030;
         p.BlockLength = 1, p.IterationsLimit = 40;
     }},
    // Zero divides and invalid operations: the fault flags of each thread.
    {"Quotients", 45, 35,
     [](QUOB_FillerParams &p) {
         p.FractalFormula = "tx ty x y = tx ty / x + ret ty tx / y + ret";
     }},
    // Fewer rows than threads, and a single column.
    {"TwoRows", 5, 2, [](QUOB_FillerParams &) {}},
    {"OneColumn", 1, 37, [](QUOB_FillerParams &) {}},
    // "x" and "y" fed back: rewritten by every sample, so the samples stay independent.
    {"PointFedBack", 23, 19,
     [](QUOB_FillerParams &p) {
         p.FractalFormula = "tx ty x y = x ty sqr tx sqr -+ret y 2 tx ty **+ret x ret y ret";
     }},
    // Only the last row is slow (its |im| stays below MaxModule): the threads that fill the rows
    // above end long before the one that fills it, and the picture must be whole when the buffer
    // reports that it is filled. Colour never 0, the colour of a cleared pixel.
    {"SlowLastRow", 40, 40,
     [](QUOB_FillerParams &p) {
         p.FractalFormula = "tx ty x y = 0 ret y ret", p.ColorFormula = "x y = 9 ret y ret 0 ret";
         p.CenterIm = 20, p.Scale = 40, p.MaxModule = 1.5f, p.Differential = 0;
         p.IterationsLimit = 30, p.BlockLength = 1000;
     }},
    // A fed-back count that no sample resets: each sample sees the count of the ones before it.
    {"CountsItsCalls", 10, 6,
     [](QUOB_FillerParams &p) {
         p.FractalFormula = "tx ty n x y = n 1 + ret 0 ret n 1 + ret";
         p.ColorFormula = "x y = x ret 0 ret 0 ret";
         p.IterationsLimit = 1, p.BlockLength = 1, p.MaxModule = 1e30f;
     },
     false},
};

void PrintTo(const ThreadedCase &c, std::ostream *out) { *out << c.name; }

class ThreadedPictures : public ThreadsTest,
                         public ::testing::WithParamInterface<std::tuple<ThreadedCase, int32_t>> {};

TEST_P(ThreadedPictures, MatchTheCallersThread) {
    const auto [c, threads] = GetParam();
    QUOB_FillerParams p = DefaultParams();
    c.change(p);
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    const int32_t buffer = QUOB_CreateIBufferEx(c.width, c.height, 1);
    SetFillThreads(threads);
    // A new compilation starts from fresh cells (the count of CountsItsCalls).
    auto recompile = [&] { QUOB_UpdateFiller(1, &p, ChangeSet{QUOB_FP_FRACTAL_FORMULA}.flags); };
    for (int32_t mode : {QUOB_MSG_FILL, QUOB_MSG_FILL_SMOOTH}) {
        recompile();
        const std::vector<uint32_t> expected = Reference(buffer, QUOB_MSG_CLEAR | mode);
        recompile();
        ASSERT_EQ(QUOB_IBufferMessage(buffer, QUOB_MSG_CLEAR | mode | QUOB_MSG_THREAD), 1);
        EXPECT_EQ(ImageBuffer(buffer)->WorkerThreads(), c.independent ? threads : 1);
        EXPECT_TRUE(WaitFilled(buffer));
        EXPECT_EQ(Pixels(buffer), expected) << (mode == QUOB_MSG_FILL ? "plain" : "smoothed");
    }
}

INSTANTIATE_TEST_SUITE_P(Views, ThreadedPictures,
                         ::testing::Combine(::testing::ValuesIn(kThreadedCases),
                                            ::testing::Values(2, 3, 5)),
                         [](const auto &info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    std::to_string(std::get<1>(info.param));
                         });

// The threads' copies of the filler's functions take no slot of the function table: while a
// fill of four threads waits, the 126 slots beside the filler's two can all be taken.
TEST_F(ThreadsTest, FunctionCopiesTakeNoSlot) {
    const QUOB_FillerParams p = SlowParams();
    ASSERT_EQ(QUOB_CreateFiller(&p), 1);
    const int32_t buffer = QUOB_CreateIBufferEx(80, 60, 1);
    const std::vector<uint32_t> expected = Reference(buffer, QUOB_MSG_FILL);
    SetFillThreads(4);
    ASSERT_EQ(QUOB_IBufferMessage(
                  buffer, QUOB_MSG_CLEAR | QUOB_MSG_FILL | QUOB_MSG_THREAD | QUOB_MSG_SUSPEND),
              1);
    ASSERT_EQ(ImageBuffer(buffer)->WorkerThreads(), 4);
    std::vector<int32_t> handles;
    for (;;) {
        const std::string text = "f" + std::to_string(handles.size()) + " x = x ret";
        const int32_t h = CreateRealFunction(text.c_str());
        if (h == 0) break;
        handles.push_back(h);
    }
    EXPECT_EQ(handles.size(), 126u);
    for (int32_t h : handles) EXPECT_EQ(DeleteFunction(h), 1);
    EXPECT_EQ(QUOB_IBufferMessage(buffer, QUOB_MSG_RESUME), 1);
    EXPECT_TRUE(WaitFilled(buffer));
    EXPECT_EQ(Pixels(buffer), expected);
}

}  // namespace
}  // namespace quob::test
