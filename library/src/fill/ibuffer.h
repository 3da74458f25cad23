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

#include "fill/fills.h"
#include "fill/team.h"
#include "quob32.h"

namespace quob {

constexpr int32_t kImageBufferSlots = 1024;

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
    int32_t WorkerThreads() const { return worker_ ? worker_->Members() : 0; }
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
    std::unique_ptr<TThreadTeam> worker_;
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

// The buffer in a slot of the table; nullptr for an empty slot.
TImageBuffer *ImageBuffer(int32_t handle);

}  // namespace quob
