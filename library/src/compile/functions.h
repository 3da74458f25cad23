// The function table and the compilation driver: what the back ends and the filler see of them.
#pragma once
#include <cstdint>

#include "compile/backend.h"
#include "compile/compiled.h"
#include "quob32.h"

namespace quob {

constexpr int32_t kFunctionSlots = 128;

// What the driver asks of one compilation.
struct CompileRequest {
    FunctionKind kind = FunctionKind::Real;
    int32_t blockLength = 1;  // recursive functions: iterations per call, at least 1
    // Recursive functions: also build the filler's variant, whose loop leaves the block right
    // after an iteration that raised a fault flag (see TCompiledFunction).
    bool fillerVariant = false;
};

// Creates a function object; the exported creating operations are thin wrappers of it.
// Returns the handle, or 0 with the last error recorded.
int32_t CreateFunction(const char *definition, const CompileRequest &request);

// The function of a handle; nullptr for an invalid handle. Valid until the function is deleted.
const TCompiledFunction *CompiledFunction(int32_t handle);
// The record of a handle's slot; nullptr for an invalid handle.
const QUOB_FunctionRecord *FunctionRecord(int32_t handle);
// Deletes a function (DeleteFunction); false for an invalid handle or a block that cannot be
// released.
bool ReleaseFunction(int32_t handle);

// Releases every live function block (the library's unload step).
void ReleaseAllFunctions();

}  // namespace quob
