// Image buffers: pictures filled through the filler's pixel routine, at once or in a worker.
#pragma once
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "quob32.h"

namespace quob {

constexpr int32_t kImageBufferSlots = 1024;
constexpr int32_t kPreviewBlock = 10;

// The worker threads of one threaded fill, each running one part of it. Stop, suspend and resume
// are requests that every thread honours between two samples; no thread is ever killed.
class TWorker {
public:
    enum Request : int { kRun, kSuspend, kStop };
    // One part of the fill: the worker, and the part's number 0..parts-1.
    using Part = std::function<void(TWorker &, int32_t)>;

    // Starts a thread for each part. Parts whose thread cannot be started are left out (the
    // parts share their work); throws std::system_error when not even the first one starts.
    TWorker(int32_t parts, Part part);
    ~TWorker() { Stop(); }
    TWorker(const TWorker &) = delete;
    TWorker &operator=(const TWorker &) = delete;

    // Called by the fill routine between samples: false means stop now.
    bool Proceed() { return request_.load(std::memory_order_relaxed) == kRun || Pause(); }

    // Returns once every thread waits between two samples or has ended; false when all have
    // ended.
    bool Suspend();
    void Resume();
    // Returns once every thread has ended: no pixel is written after this.
    void Stop();
    // True once every thread has ended.
    bool Finished() const { return finished_.load(std::memory_order_acquire); }
    int32_t Threads() const { return static_cast<int32_t>(threads_.size()); }

private:
    bool Pause();
    void Finish();

    std::atomic<int> request_{kRun};
    std::atomic<bool> finished_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
    int32_t running_ = 0;  // threads that have not ended
    int32_t parked_ = 0;   // threads waiting in Pause
    Part part_;
    std::vector<std::thread> threads_;
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
    // Threads of the current worker; 0 when there is none.
    int32_t WorkerThreads() const { return worker_ ? worker_->Threads() : 0; }
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

// Stops the worker of every buffer: the one filler's fields and compiled code are shared by all
// fills, so a sample may only be computed while no other fill runs.
void StopAllFills();

// The buffer in a slot of the table; nullptr for an empty slot.
TImageBuffer *ImageBuffer(int32_t handle);

// A pixel of the smoothed fill: the floor of the per-channel mean of the colours at its corners.
uint32_t Mean(uint32_t a, uint32_t b, uint32_t c, uint32_t d);

// How many threads a threaded fill uses: n, or with 0 (the default) one per processor core.
void SetFillThreads(int32_t n);
int32_t FillThreads();

}  // namespace quob
