// The executable block of a compiled function: its value cells and the record's code, and the
// copies of its code that run.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "compile/frontend.h"
#include "compile/sampleloop.h"

namespace quob {

class TCodeBuffer;

// Code that runs: a copy in read-and-execute pages of its own, away from the value cells that it
// stores into, with the positions of its address fields, which all point into one block.
class TExecutableCode {
  public:
    TExecutableCode() = default;
    // A copy of code already relocated to its block; empty without memory.
    explicit TExecutableCode(const TCodeBuffer &code);
    TExecutableCode(TExecutableCode &&other) noexcept { *this = std::move(other); }
    TExecutableCode &operator=(TExecutableCode &&other) noexcept;
    ~TExecutableCode();

    // A copy whose address fields point into the block at `to` instead of the block at `from`.
    TExecutableCode Moved(uint32_t from, uint32_t to) const;
    const void *Entry() const { return code_; }
    explicit operator bool() const { return code_ != nullptr; }

  private:
    TExecutableCode(const uint8_t *code, uint32_t length, std::vector<uint16_t> relocations);

    void *code_ = nullptr;
    uint32_t length_ = 0;
    std::vector<uint16_t> relocations_;
};

// One compiled function: its block (the value cells, then the record's code at the entry of the
// record), the execution copy that LaunchFunction and the filler run (the back end's
// register-resident translation of the body, or the record's code itself), and for the filler
// the early-leaving variant of a recursive function. The variant computes what the execution copy
// computes, and leaves its loop right after an iteration that raised one of the flags invalid,
// denormal, zero divide or overflow: the filler's sample then ends with EscapeColor whatever the
// rest of the block would do.
class TCompiledFunction {
  public:
    // Places the code of a compilation: a block of dataSize zero bytes followed by the record's
    // code, and the execution copy and the variant (the record's code when copy is null; no
    // variant when variant is null), each relocated to the block. nullptr without memory.
    // The function keeps the checked body it was compiled from (none for code of the library's
    // own), which derived forms read.
    static std::unique_ptr<TCompiledFunction> Place(FunctionKind kind, uint32_t dataSize,
                                                    TCodeBuffer &record, TCodeBuffer *copy,
                                                    TCodeBuffer *variant,
                                                    std::shared_ptr<const TBody> body = {});
    // Adds the filler's sample loop (sampleloop.h), relocated to the block, with the exponent of
    // its guard (-1 for a loop without guard); false without memory.
    bool PlaceSampleLoop(TCodeBuffer &loop, int32_t guard);
    ~TCompiledFunction();
    TCompiledFunction(const TCompiledFunction &) = delete;
    TCompiledFunction &operator=(const TCompiledFunction &) = delete;

    // A private copy for a thread that must not share this function's value cells: a block of its
    // own with the same contents and the code moved to it (lookup-table addresses stay). It takes
    // no slot of the table; the function-object operations do not see it. nullptr without memory.
    std::unique_ptr<TCompiledFunction> Clone() const;

    // Releases the block; false (keeping it) when the platform refuses.
    bool ReleaseBlock();

    FunctionKind Kind() const { return kind_; }
    const TBody *Body() const { return body_.get(); }
    uint32_t Base() const { return base_; }
    uint32_t BlockSize() const { return blockSize_; }
    // The value cell at a block offset.
    uint8_t *Cell(uint32_t offset) const {
        return reinterpret_cast<uint8_t *>(uintptr_t{base_ + offset});
    }
    const void *Entry() const { return copy_.Entry(); }
    const void *FillerEntry() const { return variant_ ? variant_.Entry() : copy_.Entry(); }
    // The sample loop, or nullptr, and its guard's bound.
    const void *SampleLoopEntry() const { return loop_ ? loop_.Entry() : nullptr; }
    const TSampleGuard &SampleLoopGuard() const { return loopGuard_; }

  private:
    TCompiledFunction(FunctionKind kind, uint32_t blockSize, std::shared_ptr<const TBody> body);

    const FunctionKind kind_;
    uint32_t base_ = 0;  // 0 while the function holds no block
    const uint32_t blockSize_;
    TExecutableCode copy_;
    TExecutableCode variant_;
    TExecutableCode loop_;
    TSampleGuard loopGuard_;
    std::shared_ptr<const TBody> body_;
};

// Calls generated code at entry with the callee-saved registers preserved and the direction
// flag clear (assembly trampoline).
extern "C" void quob_call_generated(const void *entry);

}  // namespace quob
