// Integer code keeps spilled values below the stack pointer, where a signal handler's frame would
// land. A storm of signals whose handler uses a lot of stack, sent to threads that run
// deep-spilling integer code, must leave every result exact.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Whether a thread of a 32-bit process that has handled a signal goes on with its own
// thread-local storage. Under qemu-i386 (Debian 12's qemu-user 7.2) it does not: the emulator
// keeps one descriptor table for all threads of the process, and the return from a handler
// reloads %gs from the table's TLS slot, which holds the storage of the thread created last. The
// interrupted thread then works with another thread's errno, malloc cache and stack guard, and a
// storm ends in an abort in malloc within a fraction of a second, in a plain program as much as
// here. The probe runs in a child process, which ends before a thread runs on with the wrong
// storage. (x86-64 processes are never emulated here.)
bool SignalsKeepThreadStorage() {
#if defined(__i386__)
    // The thread's control block as %gs reaches it: its first word holds its own address.
    static const auto threadPointer = [] {
        const void *pointer;
        asm volatile("mov %%gs:0, %0" : "=r"(pointer));
        return pointer;
    };
    const pid_t child = fork();
    if (child == 0) {
        struct sigaction action = {};
        action.sa_handler = [](int) {};
        sigaction(SIGUSR1, &action, nullptr);
        static std::atomic<int> stage{0};  // 1 storage read, 2 kept, 3 lost
        std::thread interrupted([] {
            sigset_t usr1, none;
            sigemptyset(&usr1);
            sigemptyset(&none);
            sigaddset(&usr1, SIGUSR1);
            pthread_sigmask(SIG_BLOCK, &usr1, nullptr);
            const void *const own = threadPointer();
            stage = 1;
            sigsuspend(&none);  // returns once the handler has run
            stage = threadPointer() == own ? 2 : 3;
            pause();
        });
        while (stage == 0) std::this_thread::yield();
        std::thread later([] { pause(); });  // the thread created last
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pthread_kill(interrupted.native_handle(), SIGUSR1);
        for (int i = 0; stage == 1 && i < 5000; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        _exit(stage == 2 ? 0 : 1);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
#else
    return true;
#endif
}

TEST(IntSignals, StormLeavesSpilledValuesIntact) {
    if (!SignalsKeepThreadStorage())
        GTEST_SKIP() << "a thread that handles a signal here goes on with another thread's "
                        "thread-local storage (qemu-i386 reloads %gs from a descriptor table "
                        "shared by all threads): signals cannot be tested under this emulator";
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

// A program whose tests were all skipped returns 77, which CTest shows as skipped.
int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    const ::testing::UnitTest &unit = *::testing::UnitTest::GetInstance();
    return result == 0 && unit.skipped_test_count() == unit.test_to_run_count() ? 77 : result;
}
