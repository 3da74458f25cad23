// Integer code keeps spilled values below the stack pointer, where a signal handler's frame would
// land. A storm of signals whose handler uses a lot of stack, sent to threads that run
// deep-spilling integer code, must leave every result exact.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "int_support.h"
#include "quob32.h"

namespace {

using quob::test::IntFunction;

std::atomic<int> handled{0};

void StackHungryHandler(int) {
    volatile char scratch[16384];
    for (size_t i = 0; i < sizeof scratch; i += 64) scratch[i] = static_cast<char>(i);
    handled.fetch_add(1, std::memory_order_relaxed);
}

// x + 1, then `copies` times "copy 1 +", then the sum of all: once the six registers are taken,
// each copy spills the value before it, so the values lie in slots down to 4 * (copies - 5)
// bytes below the stack pointer.
std::string SpillingBody(int copies) {
    std::string text = "x = x 1 +";
    for (int i = 0; i < copies; ++i) text += " copy 1 +";
    for (int i = 0; i < copies; ++i) text += " +";
    return text + " ret";
}

int32_t Expected(int copies, int32_t x) {
    const uint32_t n = static_cast<uint32_t>(copies) + 1;
    return static_cast<int32_t>(n * (static_cast<uint32_t>(x) + 1) + n * (n - 1) / 2);
}

// The deepest body whose code fits.
int DeepestFitting(std::unique_ptr<IntFunction> &f) {
    for (int copies = 120; copies > 0; --copies) {
        f = std::make_unique<IntFunction>(SpillingBody(copies));
        if (f->ok()) return copies;
    }
    return 0;
}

TEST(IntSignals, StormLeavesSpilledValuesIntact) {
    std::unique_ptr<IntFunction> f;
    const int copies = DeepestFitting(f);
    // Deeper than the 128-byte zone below the stack pointer that the kernel leaves alone.
    ASSERT_GT(4 * (copies - 5), 128 + 64);
    // A second function for a second launching thread (compiled here: compilations are serial).
    const IntFunction g(SpillingBody(copies / 2));
    ASSERT_TRUE(g.ok());

    struct sigaction action = {}, previous = {};
    action.sa_handler = StackHungryHandler;
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);

    std::atomic<bool> stop{false};
    std::atomic<int> runs{0}, wrong{0};
    auto launcher = [&](const IntFunction &fn, int depth) {
        for (int32_t i = 0; !stop.load(std::memory_order_relaxed); ++i) {
            const int32_t x = i * 7919 - 100000;
            if (fn.Run({x})[0] != Expected(depth, x)) wrong.fetch_add(1);
            runs.fetch_add(1, std::memory_order_relaxed);
        }
    };
    std::thread first(launcher, std::cref(*f), copies);
    std::thread second(launcher, std::cref(g), copies / 2);
    // Pending signals of one kind merge, so the storm is paced: until enough handlers ran (or
    // a time limit for slow sanitizer builds).
    const pthread_t targets[] = {first.native_handle(), second.native_handle()};
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (int i = 0; handled.load() < 4000 && std::chrono::steady_clock::now() < end; ++i) {
        pthread_kill(targets[i % 2], SIGUSR1);
        std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
    stop = true;
    first.join();
    second.join();
    sigaction(SIGUSR1, &previous, nullptr);

    EXPECT_EQ(wrong.load(), 0);
    EXPECT_GT(handled.load(), 1000) << "the storm should have reached the launching threads";
    EXPECT_GT(runs.load(), 10000);
}

}  // namespace
