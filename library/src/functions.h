// The function table and the compilation driver: what the back ends and the filler see of them.
#pragma once
#include <cstddef>
#include <cstdint>

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
    // after an iteration that raised a fault flag (see FillerEntry).
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

// The entry of a function's execution copy (what LaunchFunction runs): the back end's
// register-resident translation of the body, or the record's code itself; nullptr for an invalid
// handle.
void *ExecutionEntry(int32_t handle);

// The entry of the early-leaving variant built for the filler (fillerVariant), or the execution
// copy when the function has no variant; nullptr for an invalid handle. The variant computes what
// the execution copy computes, and leaves its loop right after an iteration that raised one of
// the flags invalid, denormal, zero divide or overflow: the filler's sample then ends with
// EscapeColor whatever the rest of the block would do.
void *FillerEntry(int32_t handle);

// A private copy of a function object, for a worker thread that must not share the original's
// value cells: a block of its own with the same layout, and execution copies of the code with
// every address field moved to the new block (lookup-table addresses stay). It takes no slot of
// the table; the function-object operations do not see it.
struct TFunctionClone {
    uint32_t base = 0;  // the clone's block
    uint32_t blockSize = 0;
    uint32_t originalBase = 0;  // the block it was copied from
    void *copy = nullptr;       // execution copy
    void *variant = nullptr;    // the filler's variant, or nullptr
    uint32_t codeLength = 0;
    uint32_t variantLength = 0;

    // The clone's counterpart of an address inside the original's block (a value cell).
    void *Translate(const void *original) const {
        const auto offset =
            static_cast<uint32_t>(reinterpret_cast<uintptr_t>(original)) - originalBase;
        return reinterpret_cast<void *>(uintptr_t{base + offset});
    }
    void *FillerEntry() const { return variant ? variant : copy; }
};

// Clones a live function; false (and nothing held) for an invalid handle or without memory.
bool CloneFunction(int32_t handle, TFunctionClone &clone);
void ReleaseClone(TFunctionClone &clone);

// Releases every live function block (the library's unload step).
void ReleaseAllFunctions();

// Calls generated code at entry with the callee-saved registers preserved and the direction
// flag clear (assembly trampoline).
extern "C" void quob_call_generated(const void *entry);

}  // namespace quob
