// The function table and the compilation driver: what the back ends and the filler see of them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "quob32.h"

namespace quob {

class TScanner;
class TCodeBuffer;

enum class FunctionKind : uint8_t { Real = 0, Integer = 1, Recursive = 2 };

constexpr int32_t kFunctionSlots = 128;
constexpr int32_t kMaxParams = 16;
constexpr int32_t kMaxResults = 8;
constexpr int32_t kRealWidth = 10;  // an 80-bit extended real value cell
constexpr int32_t kIntWidth = 4;    // a signed 32-bit value cell

// What the driver asks of one compilation.
struct CompileRequest {
    FunctionKind kind = FunctionKind::Real;
    int32_t blockLength = 1;  // recursive functions: iterations per call, at least 1
    // Recursive functions: also build the filler's variant, whose loop leaves the block right
    // after an iteration that raised a fault flag (see TCompiledFunction).
    bool fillerVariant = false;
};

// What a back end receives: the scanner just after "=", the empty code buffer (holding the
// wrapper's prologue for a recursive body) and a private copy of the record with the name, P and
// the parameter descriptors filled in (addresses are still offsets into the block).
struct BackEndInput {
    TScanner &scanner;
    TCodeBuffer &code;
    const QUOB_FunctionRecord &record;
};

// Creates a function object; the exported creating operations are thin wrappers of it.
// Returns the handle, or 0 with the last error recorded.
int32_t CreateFunction(const char *definition, const CompileRequest &request);

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
    static std::unique_ptr<TCompiledFunction> Place(FunctionKind kind, uint32_t dataSize,
                                                    TCodeBuffer &record, TCodeBuffer *copy,
                                                    TCodeBuffer *variant);
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
    uint32_t Base() const { return base_; }
    uint32_t BlockSize() const { return blockSize_; }
    // The value cell at a block offset.
    uint8_t *Cell(uint32_t offset) const {
        return reinterpret_cast<uint8_t *>(uintptr_t{base_ + offset});
    }
    const void *Entry() const { return copy_.Entry(); }
    const void *FillerEntry() const { return variant_ ? variant_.Entry() : copy_.Entry(); }

  private:
    TCompiledFunction(FunctionKind kind, uint32_t blockSize);

    const FunctionKind kind_;
    uint32_t base_ = 0;  // 0 while the function holds no block
    const uint32_t blockSize_;
    TExecutableCode copy_;
    TExecutableCode variant_;
};

// The function of a handle; nullptr for an invalid handle. Valid until the function is deleted.
const TCompiledFunction *CompiledFunction(int32_t handle);
// The record of a handle's slot; nullptr for an invalid handle.
const QUOB_FunctionRecord *FunctionRecord(int32_t handle);
// Deletes a function (DeleteFunction); false for an invalid handle or a block that cannot be
// released.
bool ReleaseFunction(int32_t handle);

// Releases every live function block (the library's unload step).
void ReleaseAllFunctions();

// Calls generated code at entry with the callee-saved registers preserved and the direction
// flag clear (assembly trampoline).
extern "C" void quob_call_generated(const void *entry);

}  // namespace quob
