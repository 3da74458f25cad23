// Image buffers, their fill routines and worker threads, and the eight image buffer exports.
#include "fill/ibuffer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <system_error>

#include "fill/filler.h"
#include "fill/rendering.h"
#include "platform/platform.h"

namespace quob {
namespace {

// A plain pointer: the library's unload step runs after the static destructors, so the table
// must not be an object with a destructor of its own.
TIB_Stack *gBuffers = nullptr;

int32_t gFillThreads = 0;  // 0: one per processor core

// Rows of a band of the smoothed fill when it has more than one part.
constexpr int32_t kBandRows = 16;

// The caller may copy the picture while a worker writes it; each pixel is written whole.
void Put(uint32_t *pixel, uint32_t colour) {
    std::atomic_ref<uint32_t>(*pixel).store(colour, std::memory_order_relaxed);
}

// Picture row y (0 = top) of the bottom-up pixel memory.
uint32_t *Row(uint32_t *bits, int32_t width, int32_t height, int32_t y) {
    return bits + static_cast<std::size_t>(height - 1 - y) * static_cast<std::size_t>(width);
}

}  // namespace

uint32_t Mean(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    uint32_t mean = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const uint32_t sum =
            (a >> shift & 0xFF) + (b >> shift & 0xFF) + (c >> shift & 0xFF) + (d >> shift & 0xFF);
        mean |= (sum >> 2) << shift;
    }
    return mean;
}

namespace {

// Where one thread of a fill takes its samples: the filler's installed functions (the first
// thread), a private copy of them (every other thread), or another pixel routine. The filler's
// samples run under the pixel environment that the part sets once for all of them.
struct TSampler {
    QUOB_PixelRoutine routine = nullptr;
    std::unique_ptr<TPixelCopy> copy;
    uint32_t operator()(int32_t x, int32_t y) const {
        if (copy) return copy->Sample(x, y);
        return routine == quob_pixel_routine ? FillerSample(x, y) : routine(x, y);
    }
};

// One fill, shared by its parts, each a member of a thread team (or one part in the caller's
// thread). The parts take rows (plain fill) or bands of rows (smoothed fill) in order from the
// top, so the picture still grows downwards and a part that is done early takes the next one.
// Each sample is computed exactly once whatever the number of parts, so the picture is the one
// part's picture.
class TFill {
  public:
    // Asks for `parts` parts; gets fewer without memory for the copies, and one for a filler
    // whose samples depend on their order.
    TFill(int32_t mode, const FillJob &job, int32_t parts);
    int32_t Parts() const { return static_cast<int32_t>(samplers_.size()); }
    void Run(TThreadTeam &team, int32_t part);

  private:
    void Plain(const TSampler &sample, TThreadTeam &team);
    void Smooth(const TSampler &sample, TThreadTeam &team);
    uint32_t *Edge(int32_t band, int32_t side) const {
        return edges_.get() + (2 * static_cast<std::size_t>(band) + side) * samples_;
    }
    void Meet(int32_t band, int32_t side, const uint32_t *samples);
    void WriteMeans(int32_t y, const uint32_t *upper, const uint32_t *lower) const;

    const int32_t mode_;
    const FillJob job_;
    const std::size_t samples_;  // samples in a row: Width + 1
    std::vector<TSampler> samplers_;
    int32_t bandRows_;
    int32_t bands_ = 1;
    // Smoothed fill with more than one band: the picture row at the top of a band needs the last
    // sample row of the band above (side 0) and the first of its own (side 1).
    std::unique_ptr<uint32_t[]> edges_;
    std::unique_ptr<std::atomic<int32_t>[]> arrivals_;
};

TFill::TFill(int32_t mode, const FillJob &job, int32_t parts)
    : mode_(mode),
      job_(job),
      samples_(static_cast<std::size_t>(std::max(job.width, 0)) + 1),
      bandRows_(job.height) {
    samplers_.reserve(static_cast<std::size_t>(std::max(parts, 1)));
    samplers_.push_back({job.pixelRoutine, nullptr});
    const bool fills = mode == QUOB_MSG_FILL || mode == QUOB_MSG_FILL_SMOOTH;
    if (!fills || job.pixelRoutine != quob_pixel_routine || !SamplesAreIndependent()) return;
    while (Parts() < parts) {
        auto copy = std::make_unique<TPixelCopy>();
        if (!copy->Make()) break;
        samplers_.push_back({nullptr, std::move(copy)});
    }
    if (mode != QUOB_MSG_FILL_SMOOTH || Parts() == 1) return;
    // A few bands per part keep the parts busy to the end.
    bandRows_ = std::clamp(job.height / (4 * Parts()), 1, kBandRows);
    bands_ = (job.height + bandRows_ - 1) / bandRows_;
    edges_.reset(new (std::nothrow) uint32_t[2 * static_cast<std::size_t>(bands_) * samples_]);
    arrivals_.reset(new (std::nothrow) std::atomic<int32_t>[static_cast<std::size_t>(bands_)]());
    if (!edges_ || !arrivals_) {  // one part then, as one band
        samplers_.resize(1);
        bandRows_ = job.height;
        bands_ = 1;
    }
}

void TFill::Run(TThreadTeam &team, int32_t part) {
    if (job_.pixelRoutine == nullptr) return;
    const platform::TX87Control control(kPixelControlWord, platform::TX87Control::kControlWord);
    if (mode_ == QUOB_MSG_FILL) Plain(samplers_[part], team);
    if (mode_ == QUOB_MSG_FILL_SMOOTH) Smooth(samplers_[part], team);
    // Modes 12 and 16 are reserved and draw nothing.
}

// Mode 4: rows top to bottom, each from the right edge to the left.
void TFill::Plain(const TSampler &sample, TThreadTeam &team) {
    for (int64_t r; (r = team.Take()) < job_.height;) {
        const auto y = static_cast<int32_t>(r);
        uint32_t *row = Row(job_.bits, job_.width, job_.height, y);
        for (int32_t x = job_.width - 1; x >= 0; --x) {
            if (!team.Proceed()) return;
            Put(row + x, sample(x, y));
        }
    }
}

// Picture row y from the sample rows y (upper) and y + 1 (lower).
void TFill::WriteMeans(int32_t y, const uint32_t *upper, const uint32_t *lower) const {
    uint32_t *row = Row(job_.bits, job_.width, job_.height, y);
    for (int32_t c = 0; c < job_.width; ++c)
        Put(row + c, Mean(upper[c], upper[c + 1], lower[c], lower[c + 1]));
}

// Both bands at a border leave their sample row there; the one that comes second writes the
// picture row between them.
void TFill::Meet(int32_t band, int32_t side, const uint32_t *samples) {
    std::copy(samples, samples + samples_, Edge(band, side));
    if (arrivals_[band].fetch_add(1, std::memory_order_acq_rel) == 1)
        WriteMeans(band * bandRows_, Edge(band, 0), Edge(band, 1));
}

// Mode 8: every pixel is the mean of the samples at its four corners; two sample rows of
// Width + 1 colours hold the rows above and below the picture row being written. A band of
// picture rows top..bottom - 1 computes sample rows top + 1 to bottom (band 0 also row 0).
void TFill::Smooth(const TSampler &sample, TThreadTeam &team) {
    if (job_.width < 1) return;
    std::unique_ptr<uint32_t[]> upper(new (std::nothrow) uint32_t[samples_]);
    std::unique_ptr<uint32_t[]> lower(new (std::nothrow) uint32_t[samples_]);
    if (!upper || !lower) return;
    auto sampleRow = [&](uint32_t *into, int32_t r) {
        for (int32_t x = job_.width; x >= 0; --x) {
            if (!team.Proceed()) return false;
            into[x] = sample(x, r);
        }
        return true;
    };
    for (int64_t taken; (taken = team.Take()) < bands_;) {
        const auto band = static_cast<int32_t>(taken);
        const int32_t top = band * bandRows_;
        const int32_t bottom = std::min(job_.height, top + bandRows_);
        int32_t r = band == 0 ? 0 : top + 1;
        if (!sampleRow(upper.get(), r)) return;
        if (band > 0) Meet(band, 1, upper.get());
        for (++r; r <= bottom; ++r) {
            if (!sampleRow(lower.get(), r)) return;
            WriteMeans(r - 1, upper.get(), lower.get());
            upper.swap(lower);
        }
        if (band + 1 < bands_) Meet(band + 1, 0, upper.get());
    }
}

bool NamesFillRoutine(int32_t mode) { return mode >= 4 && mode <= 16; }

}  // namespace

void SetFillThreads(int32_t n) { gFillThreads = std::max(n, 0); }

int32_t FillThreads() {
    if (gFillThreads > 0) return gFillThreads;
    return std::max(1, static_cast<int32_t>(std::thread::hardware_concurrency()));
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
    const QUOB_PixelRoutine routine = BindFiller(filler, width_, height_);
    if (routine == nullptr) return 0;
    filler_ = filler;
    pixelRoutine_ = routine;
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
            const uint32_t colour =
                pixelRoutine_(left + kPreviewBlock / 2, top + kPreviewBlock / 2);
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
    try {
        if (!threaded) {
            TFill fill(mode, job, 1);
            TThreadTeam::RunHere([&](TThreadTeam &team, int32_t part) { fill.Run(team, part); });
            return 1;
        }
        // The copies of the filler's functions are made here, before any thread runs, and
        // released with the worker, after its threads have ended.
        auto fill = std::make_shared<TFill>(mode, job, FillThreads());
        worker_ = std::make_unique<TThreadTeam>(
            fill->Parts(), [fill](TThreadTeam &team, int32_t part) { fill->Run(team, part); });
    } catch (const std::exception &) {
        worker_.reset();  // no memory or no thread: the buffer counts as filled
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

namespace {
void (*gDeepFills)(bool release) = nullptr;
}

void SetDeepFills(void (*deepFills)(bool release)) { gDeepFills = deepFills; }

void StopAllFills() {
    if (gBuffers) gBuffers->StopAllWorkers();
    if (gDeepFills) gDeepFills(false);
}

void RenderingUnitInit() { gBuffers = new TIB_Stack(); }

void RenderingUnitDone() {
    delete gBuffers;  // every buffer stops its worker as it goes
    gBuffers = nullptr;
    if (gDeepFills) gDeepFills(true);
    FillerUnload();
}

TImageBuffer *ImageBuffer(int32_t handle) { return gBuffers ? gBuffers->Get(handle) : nullptr; }

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
    const quob::TImageBuffer *b = quob::ImageBuffer(buffer);
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
    quob::TImageBuffer *b = quob::ImageBuffer(buffer);
    return b ? b->SelectFiller(filler) : 0;
}

QUOB_API int32_t QUOB_CALL QUOB_IBufferMessage(int32_t buffer, int32_t code) {
    quob::TImageBuffer *b = quob::ImageBuffer(buffer);
    return b ? b->Message(code) : 0;
}

QUOB_API void *QUOB_CALL QUOB_IBufferDC(int32_t buffer) {
    const quob::TImageBuffer *b = quob::ImageBuffer(buffer);
    return b ? b->Bits() : nullptr;
}

QUOB_API int32_t QUOB_CALL QUOB_IBufferFilled(int32_t buffer) {
    const quob::TImageBuffer *b = quob::ImageBuffer(buffer);
    return b == nullptr || b->Filled() ? 1 : 0;
}

}  // extern "C"
