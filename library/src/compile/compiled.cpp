// Executable blocks and their execution copies.
#include "compile/compiled.h"

#include <cmath>
#include <cstring>

#include "compile/codebuffer.h"
#include "platform/platform.h"

namespace quob {

// ---- TExecutableCode -----------------------------------------------------------------------

namespace {

std::vector<uint16_t> RelocationsOf(const TCodeBuffer &code) {
    std::vector<uint16_t> positions(static_cast<std::size_t>(code.RelocationCount()));
    for (int32_t i = 0; i < code.RelocationCount(); ++i)
        positions[static_cast<std::size_t>(i)] = static_cast<uint16_t>(code.Relocation(i));
    return positions;
}

}  // namespace

TExecutableCode::TExecutableCode(const TCodeBuffer &code)
    : TExecutableCode(code.Code(), static_cast<uint32_t>(code.Length()), RelocationsOf(code)) {}

TExecutableCode::TExecutableCode(const uint8_t *code, uint32_t length,
                                 std::vector<uint16_t> relocations)
    : code_(platform::CreateExecutionCopy(code, length)),
      length_(code_ ? length : 0),
      relocations_(std::move(relocations)) {}

TExecutableCode &TExecutableCode::operator=(TExecutableCode &&other) noexcept {
    std::swap(code_, other.code_);
    std::swap(length_, other.length_);
    std::swap(relocations_, other.relocations_);
    return *this;
}

TExecutableCode::~TExecutableCode() { platform::FreeExecutionCopy(code_, length_); }

TExecutableCode TExecutableCode::Moved(uint32_t from, uint32_t to) const {
    const auto *code = static_cast<const uint8_t *>(code_);
    std::vector<uint8_t> bytes(code, code + length_);
    for (const uint16_t at : relocations_) {
        uint32_t field;
        std::memcpy(&field, bytes.data() + at, 4);
        field = field - from + to;
        std::memcpy(bytes.data() + at, &field, 4);
    }
    return TExecutableCode(bytes.data(), length_, relocations_);
}

// ---- TCompiledFunction ---------------------------------------------------------------------

TCompiledFunction::TCompiledFunction(FunctionKind kind, uint32_t blockSize,
                                     std::shared_ptr<const TBody> body)
    : kind_(kind), blockSize_(blockSize), body_(std::move(body)) {}

TCompiledFunction::~TCompiledFunction() { ReleaseBlock(); }

bool TCompiledFunction::ReleaseBlock() {
    if (base_ != 0 && !platform::FreeLowBlock(Cell(0), blockSize_)) return false;
    base_ = 0;
    return true;
}

std::unique_ptr<TCompiledFunction> TCompiledFunction::Place(FunctionKind kind, uint32_t dataSize,
                                                            TCodeBuffer &record, TCodeBuffer *copy,
                                                            TCodeBuffer *variant,
                                                            std::shared_ptr<const TBody> body) {
    const uint32_t blockSize = dataSize + static_cast<uint32_t>(record.Length());
    std::unique_ptr<TCompiledFunction> function(
        new TCompiledFunction(kind, blockSize, std::move(body)));
    void *block = platform::AllocateLowBlock(blockSize);
    if (!block) return nullptr;
    function->base_ = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(block));
    // Every buffer addresses the same cells and constants of the block.
    record.Relocate(function->base_);
    record.CopyOut(block, static_cast<int32_t>(dataSize));
    if (copy) copy->Relocate(function->base_);
    function->copy_ = TExecutableCode(copy ? *copy : record);
    if (!function->copy_) return nullptr;
    if (variant) {
        variant->Relocate(function->base_);
        function->variant_ = TExecutableCode(*variant);
        if (!function->variant_) return nullptr;
    }
    return function;
}

bool TCompiledFunction::PlaceSampleLoop(TCodeBuffer &loop, int32_t guard) {
    loop.Relocate(base_);
    loop_ = TExecutableCode(loop);
    loopGuard_ = {guard, guard < 0 ? 0.0L : std::ldexp(1.0L, guard)};
    return static_cast<bool>(loop_);
}

std::unique_ptr<TCompiledFunction> TCompiledFunction::Clone() const {
    std::unique_ptr<TCompiledFunction> clone(new TCompiledFunction(kind_, blockSize_, body_));
    void *block = platform::AllocateLowBlock(blockSize_);
    if (!block) return nullptr;
    clone->base_ = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(block));
    std::memcpy(block, Cell(0), blockSize_);
    clone->copy_ = copy_.Moved(base_, clone->base_);
    if (!clone->copy_) return nullptr;
    if (variant_) {
        clone->variant_ = variant_.Moved(base_, clone->base_);
        if (!clone->variant_) return nullptr;
    }
    if (loop_) {
        clone->loop_ = loop_.Moved(base_, clone->base_);
        clone->loopGuard_ = loopGuard_;
        if (!clone->loop_) return nullptr;
    }
    return clone;
}

}  // namespace quob
