// Image buffers, their fill routines and worker threads, and the eight image buffer exports.
#include "ibuffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <system_error>

#include "filler.h"
#include "rendering.h"

namespace quob {
namespace {

// A plain pointer: the library's unload step runs after the static destructors, so the table
// must not be an object with a destructor of its own.
TIB_Stack *gBuffers = nullptr;

// The filler's Width and Height, set to a buffer's size when it selects the filler.
constexpr uint8_t kSizeChanged[QUOB_FP_FIELD_COUNT] = {0, 0, 0, 1, 1};

bool Proceed(TWorker *worker) { return worker == nullptr || worker->Proceed(); }

// The caller may copy the picture while a worker writes it; each pixel is written whole.
void Put(uint32_t *pixel, uint32_t colour) {
    std::atomic_ref<uint32_t>(*pixel).store(colour, std::memory_order_relaxed);
}

// Picture row y (0 = top) of the bottom-up pixel memory.
uint32_t *Row(uint32_t *bits, int32_t width, int32_t height, int32_t y) {
    return bits + static_cast<std::size_t>(height - 1 - y) * static_cast<std::size_t>(width);
}

// Mode 4: rows top to bottom, each from the right edge to the left.
void FillPlain(const FillJob job, TWorker *worker) {
    if (job.pixelRoutine == nullptr || job.height < 1) return;
    for (int32_t y = 0; y < job.height; ++y) {
        uint32_t *row = Row(job.bits, job.width, job.height, y);
        for (int32_t x = job.width - 1; x >= 0; --x) {
            if (!Proceed(worker)) return;
            Put(row + x, job.pixelRoutine(x, y));
        }
    }
}

// Floor of the per-channel mean of four colours.
uint32_t Mean(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    uint32_t mean = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const uint32_t sum = (a >> shift & 0xFF) + (b >> shift & 0xFF) + (c >> shift & 0xFF) +
                             (d >> shift & 0xFF);
        mean |= (sum >> 2) << shift;
    }
    return mean;
}

// Mode 8: every pixel is the mean of the samples at its four corners; two sample rows of
// Width + 1 colours hold the rows above and below the picture row being written.
void FillSmooth(const FillJob job, TWorker *worker) {
    if (job.pixelRoutine == nullptr || job.width < 1) return;
    const std::size_t samples = static_cast<std::size_t>(job.width) + 1;
    std::unique_ptr<uint32_t[]> upper(new (std::nothrow) uint32_t[samples]);
    std::unique_ptr<uint32_t[]> lower(new (std::nothrow) uint32_t[samples]);
    if (!upper || !lower) return;
    for (int32_t x = job.width; x >= 0; --x) {
        if (!Proceed(worker)) return;
        upper[x] = job.pixelRoutine(x, 0);
    }
    for (int32_t r = 1; r <= job.height; ++r) {
        for (int32_t x = job.width; x >= 0; --x) {
            if (!Proceed(worker)) return;
            lower[x] = job.pixelRoutine(x, r);
        }
        uint32_t *row = Row(job.bits, job.width, job.height, r - 1);
        for (int32_t c = 0; c < job.width; ++c)
            Put(row + c, Mean(upper[c], upper[c + 1], lower[c], lower[c + 1]));
        upper.swap(lower);
    }
}

// Modes 12 and 16 are reserved and draw nothing.
void RunFill(int32_t mode, const FillJob job, TWorker *worker) {
    if (mode == QUOB_MSG_FILL) FillPlain(job, worker);
    if (mode == QUOB_MSG_FILL_SMOOTH) FillSmooth(job, worker);
}

bool NamesFillRoutine(int32_t mode) { return mode >= 4 && mode <= 16; }

}  // namespace

// ---- TWorker ----------------------------------------------------------------------------------

bool TWorker::Pause() {
    std::unique_lock lock(mutex_);
    while (request_.load() == kSuspend) {
        parked_ = true;
        changed_.notify_all();
        changed_.wait(lock);
    }
    parked_ = false;
    return request_.load() == kRun;
}

void TWorker::Finish() {
    std::lock_guard lock(mutex_);
    finished_.store(true, std::memory_order_release);
    changed_.notify_all();
}

bool TWorker::Suspend() {
    std::unique_lock lock(mutex_);
    if (finished_.load()) return false;
    request_.store(kSuspend);
    changed_.wait(lock, [this] { return parked_ || finished_.load(); });
    return parked_;
}

void TWorker::Resume() {
    std::lock_guard lock(mutex_);
    request_.store(kRun);
    changed_.notify_all();
}

void TWorker::Stop() {
    {
        std::lock_guard lock(mutex_);
        request_.store(kStop);
        changed_.notify_all();
    }
    if (thread_.joinable()) thread_.join();
}

// ---- TImageBuffer -----------------------------------------------------------------------------

void TImageBuffer::FreePixels::operator()(uint32_t *p) const { std::free(p); }

TImageBuffer::TImageBuffer(int32_t width, int32_t height) : width_(width), height_(height) {
    // Rows of 4 x Width bytes must fit BytesPerLine; anything else has no pixel memory.
    if (width > 0 && height > 0 && width <= INT32_MAX / 4) {
        void *bits = std::calloc(static_cast<std::size_t>(width) * static_cast<std::size_t>(height),
                                 sizeof(uint32_t));
        bits_.reset(static_cast<uint32_t *>(bits));
    }
}

void TImageBuffer::StopWorker() {
    if (worker_) {
        worker_->Stop();
        worker_.reset();
    }
    suspended_ = false;
}

int32_t TImageBuffer::SelectFiller(int32_t filler) {
    StopWorker();
    if (filler == 0) {
        filler_ = 0;
        pixelRoutine_ = nullptr;
        return 1;
    }
    QUOB_FillerParams size{};
    size.Width = width_;
    size.Height = height_;
    QUOB_UpdateFiller(filler, &size, kSizeChanged);
    QUOB_FillerParams identity{};
    if (!QUOB_GetFiller(filler, &identity)) return 0;
    filler_ = filler;
    pixelRoutine_ = identity.PixelRoutine;
    return 1;
}

int32_t TImageBuffer::Clear() {
    StopWorker();
    if (!bits_) return 0;
    std::memset(bits_.get(), 0,
                static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) * 4);
    return 1;
}

int32_t TImageBuffer::Preview() {
    StopAllFills();
    if (!bits_ || filler_ == 0 || pixelRoutine_ == nullptr) return 0;
    for (int32_t by = 0; by <= height_ / kPreviewBlock; ++by) {
        const int32_t top = by * kPreviewBlock;
        const int32_t rows = std::min(kPreviewBlock, height_ - top);
        for (int32_t bx = 0; bx <= width_ / kPreviewBlock && rows > 0; ++bx) {
            const int32_t left = bx * kPreviewBlock;
            const int32_t columns = std::min(kPreviewBlock, width_ - left);
            if (columns <= 0) continue;
            // The block's centre, outside the picture for a partial block.
            const uint32_t colour = pixelRoutine_(left + kPreviewBlock / 2, top + kPreviewBlock / 2);
            for (int32_t y = top; y < top + rows; ++y) {
                uint32_t *row = Row(bits_.get(), width_, height_, y);
                std::fill(row + left, row + left + columns, colour);
            }
        }
    }
    return 1;
}

int32_t TImageBuffer::StartFill(int32_t mode, bool threaded) {
    StopAllFills();
    if (!bits_ || filler_ == 0 || pixelRoutine_ == nullptr || !NamesFillRoutine(mode)) return 0;
    const FillJob job{bits_.get(), width_, height_, pixelRoutine_};
    if (!threaded) {
        RunFill(mode, job, nullptr);
        return 1;
    }
    try {
        worker_ = std::make_unique<TWorker>([mode, job](TWorker &w) { RunFill(mode, job, &w); });
    } catch (const std::exception &) {
        worker_.reset();  // no thread: the buffer counts as filled
    }
    suspended_ = false;
    return 1;
}

int32_t TImageBuffer::Message(int32_t code) {
    int32_t result = 1;
    const int32_t clearOrPreview = code & (QUOB_MSG_CLEAR | QUOB_MSG_PREVIEW);
    if (clearOrPreview == QUOB_MSG_CLEAR) result = Clear();
    if (clearOrPreview == QUOB_MSG_PREVIEW) result = Preview();
    if (const int32_t mode = code & QUOB_MSG_FILL_MODE_MASK; mode != 0)
        result = StartFill(mode, (code & QUOB_MSG_THREAD) != 0);
    if ((code & QUOB_MSG_SUSPEND) && worker_ && !suspended_ && worker_->Suspend())
        suspended_ = true;
    if ((code & QUOB_MSG_RESUME) && worker_ && suspended_) {
        worker_->Resume();
        suspended_ = false;
    }
    if (code & QUOB_MSG_STOP) StopWorker();
    return result;
}

// ---- TIB_Stack --------------------------------------------------------------------------------

int32_t TIB_Stack::Add(std::unique_ptr<TImageBuffer> buffer) {
    for (int32_t i = 0; i < kImageBufferSlots; ++i) {
        if (!slots_[i]) {
            slots_[i] = std::move(buffer);
            return i + 1;
        }
    }
    return 0;
}

TImageBuffer *TIB_Stack::Get(int32_t handle) const {
    if (handle < 1 || handle > kImageBufferSlots) return nullptr;
    return slots_[handle - 1].get();
}

bool TIB_Stack::Remove(int32_t handle) {
    if (Get(handle) == nullptr) return false;
    slots_[handle - 1].reset();
    return true;
}

void TIB_Stack::StopAllWorkers() {
    for (auto &slot : slots_)
        if (slot) slot->StopWorker();
}

void StopAllFills() {
    if (gBuffers) gBuffers->StopAllWorkers();
}

void RenderingUnitInit() { gBuffers = new TIB_Stack(); }

void RenderingUnitDone() {
    delete gBuffers;  // every buffer stops its worker as it goes
    gBuffers = nullptr;
    FillerUnload();
}

namespace {
TImageBuffer *Buffer(int32_t handle) { return gBuffers ? gBuffers->Get(handle) : nullptr; }
}  // namespace

}  // namespace quob

extern "C" {

QUOB_API int32_t QUOB_CALL QUOB_CreateIBuffer(int32_t width, int32_t height) {
    if (!quob::gBuffers) return 0;
    try {
        return quob::gBuffers->Add(std::make_unique<quob::TImageBuffer>(width, height));
    } catch (const std::bad_alloc &) {
        return 0;
    }
}

QUOB_API int32_t QUOB_CALL QUOB_CreateIBufferEx(int32_t width, int32_t height, int32_t filler) {
    const int32_t handle = QUOB_CreateIBuffer(width, height);
    if (handle != 0) QUOB_SelectFiller(handle, filler);
    return handle;
}

QUOB_API int32_t QUOB_CALL QUOB_DeleteIBuffer(int32_t buffer) {
    return quob::gBuffers && quob::gBuffers->Remove(buffer) ? 1 : 0;
}

QUOB_API int32_t QUOB_CALL QUOB_GetIBuffer(int32_t buffer, QUOB_IBufferInfo *info) {
    const quob::TImageBuffer *b = quob::Buffer(buffer);
    if (b == nullptr || b->Bits() == nullptr || info == nullptr) return 0;
    info->Valid = 1;
    info->Width = b->Width();
    info->Height = b->Height();
    info->BytesPerLine = 4 * b->Width();
    info->Bits = b->Bits();
    info->Filler = b->Filler();
    info->DC = b->Bits();
    info->Bitmap = b->Bits();
    return 1;
}

QUOB_API int32_t QUOB_CALL QUOB_SelectFiller(int32_t buffer, int32_t filler) {
    quob::TImageBuffer *b = quob::Buffer(buffer);
    return b ? b->SelectFiller(filler) : 0;
}

QUOB_API int32_t QUOB_CALL QUOB_IBufferMessage(int32_t buffer, int32_t code) {
    quob::TImageBuffer *b = quob::Buffer(buffer);
    return b ? b->Message(code) : 0;
}

QUOB_API void *QUOB_CALL QUOB_IBufferDC(int32_t buffer) {
    const quob::TImageBuffer *b = quob::Buffer(buffer);
    return b ? b->Bits() : nullptr;
}

QUOB_API int32_t QUOB_CALL QUOB_IBufferFilled(int32_t buffer) {
    const quob::TImageBuffer *b = quob::Buffer(buffer);
    return b == nullptr || b->Filled() ? 1 : 0;
}

}  // extern "C"
