// Image buffers: pictures filled through the filler's pixel routine, at once or in a worker.
#pragma once
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "quob32.h"

namespace quob {

constexpr int32_t kImageBufferSlots = 1024;
constexpr int32_t kPreviewBlock = 10;

// The worker thread of one threaded fill. Stop, suspend and resume are requests that the fill
// routine honours between two samples; the thread is never killed.
class TWorker {
public:
    enum Request : int { kRun, kSuspend, kStop };

    template <class Fill>
    explicit TWorker(Fill fill) : thread_([this, fill] {
        fill(*this);
        Finish();
    }) {}
    ~TWorker() { Stop(); }
    TWorker(const TWorker &) = delete;
    TWorker &operator=(const TWorker &) = delete;

    // Called by the fill routine between samples: false means stop now.
    bool Proceed() { return request_.load(std::memory_order_relaxed) == kRun || Pause(); }

    // Returns once the worker waits between two samples; false when it has already ended.
    bool Suspend();
    void Resume();
    // Returns once the thread has ended: no pixel is written after this.
    void Stop();
    bool Finished() const { return finished_.load(std::memory_order_acquire); }

private:
    bool Pause();
    void Finish();

    std::atomic<int> request_{kRun};
    std::atomic<bool> finished_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
    bool parked_ = false;
    std::thread thread_;  // last: the thread starts once everything above exists
};

// What a fill routine receives.
struct FillJob {
    uint32_t *bits;  // bottom row
    int32_t width;
    int32_t height;
    QUOB_PixelRoutine pixelRoutine;
};

class TImageBuffer {
public:
    TImageBuffer(int32_t width, int32_t height);
    ~TImageBuffer() { StopWorker(); }

    int32_t Width() const { return width_; }
    int32_t Height() const { return height_; }
    uint32_t *Bits() const { return bits_.get(); }
    int32_t Filler() const { return filler_; }

    int32_t SelectFiller(int32_t filler);
    int32_t Message(int32_t code);
    bool Filled() const { return !worker_ || worker_->Finished(); }
    void StopWorker();

private:
    int32_t Clear();
    int32_t Preview();
    int32_t StartFill(int32_t mode, bool threaded);

    struct FreePixels {
        void operator()(uint32_t *p) const;
    };
    int32_t width_ = 0;
    int32_t height_ = 0;
    std::unique_ptr<uint32_t, FreePixels> bits_;  // null: no pixel memory ("no DC")
    int32_t filler_ = 0;
    QUOB_PixelRoutine pixelRoutine_ = nullptr;
    std::unique_ptr<TWorker> worker_;
    bool suspended_ = false;
};

// The table of buffers; a handle is a slot number 1..1024.
class TIB_Stack {
public:
    int32_t Add(std::unique_ptr<TImageBuffer> buffer);  // 0 when full
    TImageBuffer *Get(int32_t handle) const;            // nullptr for an empty slot
    bool Remove(int32_t handle);
    void StopAllWorkers();

private:
    std::array<std::unique_ptr<TImageBuffer>, kImageBufferSlots> slots_;
};

// Stops the worker of every buffer: the one filler's cells and compiled code are shared by all
// fills, so a sample may only be computed while no other fill runs.
void StopAllFills();

}  // namespace quob
