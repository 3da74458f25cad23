// The function table, the compilation driver and the function-object exports.
#include "compile/functions.h"

#include <signal.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <memory>

#include "compile/bounds.h"
#include "compile/codebuffer.h"
#include "compile/emitter.h"
#include "compile/floatgen.h"
#include "compile/frontend.h"
#include "compile/intgen.h"
#include "compile/sampleloop.h"
#include "errors.h"
#include "platform/platform.h"

namespace quob {

// ---- the function table and the driver -----------------------------------------------------

namespace {

// One slot of the table: the exported record and the function it describes. The table is a
// plain array (the library's unload step runs after the static destructors), so the slot owns
// its function through a plain pointer.
struct TFunctionSlot {
    QUOB_FunctionRecord record;
    TCompiledFunction *function;
};

TFunctionSlot slots[kFunctionSlots];  // zero-filled at load: every slot free

TFunctionSlot *Slot(int32_t handle) {
    if (handle < 1 || handle > kFunctionSlots) return nullptr;
    TFunctionSlot *slot = &slots[handle - 1];
    return slot->record.Block != 0 ? slot : nullptr;
}

void *Address(uint32_t address) { return reinterpret_cast<void *>(uintptr_t{address}); }

// The code of one compilation: the record's, and the execution copy and the filler's variant
// where the back end translates the body into them (else the record's code runs, and there is
// no variant).
struct TCompiledCode {
    TCodeBuffer record;
    std::unique_ptr<TCodeBuffer> copy;
    std::unique_ptr<TCodeBuffer> variant;
    std::unique_ptr<TCodeBuffer> loop;
    int32_t loopGuard = -1;
};

// Appends the final RET; false when it does not fit.
bool Finish(TCodeBuffer &code) {
    TEmitter(code, kHostTarget).ret();
    return !code.Overflowed();
}

// Runs the back end of the kind over the checked body; throws TAbandon.
void CompileBody(const TBody &body, const QUOB_FunctionRecord &record,
                 const CompileRequest &request, TCompiledCode &out) {
    const BackEndInput in{body, out.record, record};
    if (request.kind == FunctionKind::Integer) {
        CompileIntegerBody(in, kHostTarget);
        return;
    }
    TFloatHardware hardware(in, kHostTarget);
    request.kind == FunctionKind::Real ? hardware.CompileBody()
                                       : hardware.CompileRecursive(request.blockLength);
    auto translated = [&](bool leaveOnFault) {
        auto code = std::make_unique<TCodeBuffer>();
        if (!hardware.CompileExecutionCopy(*code, leaveOnFault) || !Finish(*code)) code.reset();
        return code;
    };
    out.copy = translated(false);
    if (!request.fillerVariant) return;
    out.variant = translated(true);
    out.loopGuard = GuardExponent(body, kGuardGroup);
    out.loop = std::make_unique<TCodeBuffer>();
    if (!hardware.CompileSampleLoop(*out.loop, out.loopGuard)) out.loop.reset();
}

int32_t Compile(const char *definition, const CompileRequest &request) {
    // The text once through the front end: the header's and the body's checks.
    TTableState table;
    table.nameInUse = [](const char *name) {
        for (const TFunctionSlot &s : slots)
            if (s.record.Block != 0 && std::strcmp(s.record.Name, name) == 0) return true;
        return false;
    };
    int32_t handle = 0;
    for (int32_t h = 1; h <= kFunctionSlots && handle == 0; ++h)
        if (slots[h - 1].record.Block == 0) handle = h;
    table.full = handle == 0;
    const std::shared_ptr<const TBody> body = ScanDefinition(definition, request.kind, table);

    TFunctionSlot &slot = slots[handle - 1];
    QUOB_FunctionRecord &record = slot.record;
    std::strcpy(record.Name, body->name);
    for (QUOB_Descriptor &d : record.Params) d.Type = QUOB_VALUE_NONE;
    for (QUOB_Descriptor &d : record.Results) d.Type = QUOB_VALUE_NONE;
    const bool integer = request.kind == FunctionKind::Integer;
    const int32_t width = integer ? kIntWidth : kRealWidth;
    const int32_t type = integer ? QUOB_VALUE_INT32 : QUOB_VALUE_EXTENDED;
    const int32_t params = body->paramCount;
    for (int32_t p = 0; p < params; ++p) {
        QUOB_Descriptor &d = record.Params[p];
        std::strcpy(d.Name, body->params[p]);
        d.Type = type;
        d.Address = static_cast<uint32_t>(p * width);
    }
    record.ParamCount = params;

    // Body: the back end works on a private copy of the record.
    auto code = std::make_unique<TCompiledCode>();
    const QUOB_FunctionRecord header = record;
    CompileBody(*body, header, request, *code);
    // Code that did not fit the buffer is never run.
    if (!Finish(code->record)) throw TAbandon{QUOB_ERR_OUT_OF_RESOURCES};

    const int32_t results = body->results;
    for (int32_t k = 0; k < results; ++k) {
        record.Results[k].Name[0] = '\0';
        record.Results[k].Type = type;
        record.Results[k].Address = static_cast<uint32_t>((params + k) * width);
    }
    record.ResultCount = results;
    const uint32_t dataSize = static_cast<uint32_t>((params + results) * width);
    std::unique_ptr<TCompiledFunction> function = TCompiledFunction::Place(
        request.kind, dataSize, code->record, code->copy.get(), code->variant.get(), body);
    if (!function || (code->loop && !function->PlaceSampleLoop(*code->loop, code->loopGuard)))
        throw TAbandon{QUOB_ERR_OUT_OF_RESOURCES};
    const uint32_t base = function->Base();

    for (int32_t p = 0; p < params; ++p) record.Params[p].Address += base;
    for (int32_t k = 0; k < results; ++k) record.Results[k].Address += base;
    record.Entry = base + dataSize;
    record.BlockSize = function->BlockSize();
    record.Block = base;  // the slot is in use from here on
    slot.function = function.release();
    RecordError(QUOB_OK);
    return handle;
}

}  // namespace

int32_t CreateFunction(const char *definition, const CompileRequest &request) {
    try {
        return Compile(definition ? definition : "", request);
    } catch (const TAbandon &failure) {
        RecordError(failure.code);
        if (failure.shown) QUOB_ShowLastError();
    } catch (const std::exception &) {
        RecordError(QUOB_ERR_OUT_OF_RESOURCES);  // an object of the compilation could not be made
    }
    return 0;
}

const TCompiledFunction *CompiledFunction(int32_t handle) {
    const TFunctionSlot *slot = Slot(handle);
    return slot ? slot->function : nullptr;
}

const QUOB_FunctionRecord *FunctionRecord(int32_t handle) {
    const TFunctionSlot *slot = Slot(handle);
    return slot ? &slot->record : nullptr;
}

bool ReleaseFunction(int32_t handle) {
    TFunctionSlot *slot = Slot(handle);
    if (!slot || !slot->function->ReleaseBlock()) return false;
    delete slot->function;
    slot->function = nullptr;
    slot->record.Block = 0;
    slot->record.BlockSize = 0;
    return true;
}

void ReleaseAllFunctions() {
    for (TFunctionSlot &slot : slots) {
        delete slot.function;
        slot.function = nullptr;
    }
}

}  // namespace quob

using namespace quob;

namespace {

// Runs generated code under the library's own x87 environment: extended precision, rounding to
// nearest, every exception masked, so that no floating-point fault can trap. The caller's
// environment (control word, status flags, register tags) is restored afterwards.
void RunGenerated(const TCompiledFunction &function) {
    constexpr uint16_t kControlWord = 0x037F;
    const platform::TX87Control control(kControlWord, platform::TX87Control::kEnvironment);
    if (function.Kind() == FunctionKind::Integer) {
        // Integer code keeps scratch values below the stack pointer, where a signal handler's
        // frame would land: no signal is delivered on this thread while it runs.
        sigset_t all, old;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &old);
        quob_call_generated(function.Entry());
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
    } else {
        quob_call_generated(function.Entry());
    }
}

}  // namespace

extern "C" {

QUOB_API int32_t QUOB_CALL CreateRealFunction(const char *definition) {
    return CreateFunction(definition, {FunctionKind::Real, 1, false});
}

QUOB_API int32_t QUOB_CALL CreateIntFunction(const char *definition) {
    return CreateFunction(definition, {FunctionKind::Integer, 1, false});
}

QUOB_API int32_t QUOB_CALL CreateRecursiveFunction(const char *definition, int32_t blockLength) {
    if (blockLength < 1) return 0;
    return CreateFunction(definition, {FunctionKind::Recursive, blockLength, false});
}

QUOB_API int32_t QUOB_CALL DeleteFunction(int32_t handle) { return ReleaseFunction(handle); }

QUOB_API void *QUOB_CALL LaunchFunction(int32_t handle) {
    const TFunctionSlot *slot = Slot(handle);
    if (!slot) return nullptr;
    RunGenerated(*slot->function);
    return Address(slot->record.Results[0].Address);
}

QUOB_API void *QUOB_CALL AccessResult(int32_t handle, int32_t index) {
    const TFunctionSlot *slot = Slot(handle);
    if (!slot || index < 0 || index >= slot->record.ResultCount) return nullptr;
    return Address(slot->record.Results[index].Address);
}

QUOB_API void *QUOB_CALL AccessParam(int32_t handle, int32_t index) {
    const TFunctionSlot *slot = Slot(handle);
    if (!slot || index < 0 || index >= slot->record.ParamCount) return nullptr;
    return Address(slot->record.Params[index].Address);
}

QUOB_API void *QUOB_CALL AccessParamByName(int32_t handle, const char *name) {
    const TFunctionSlot *slot = Slot(handle);
    if (!slot || !name) return nullptr;
    for (int32_t p = 0; p < slot->record.ParamCount; ++p)
        if (std::strcmp(slot->record.Params[p].Name, name) == 0)
            return Address(slot->record.Params[p].Address);
    return nullptr;
}

QUOB_API int32_t QUOB_CALL GetFunction(int32_t handle, QUOB_FunctionRecord *out) {
    const TFunctionSlot *slot = Slot(handle);
    if (!slot || !out) return 0;
    const QUOB_FunctionRecord &r = slot->record;
    // Names up to and including their NUL; counts, addresses, types and cell addresses.
    auto copyName = [](char *to, const char *from) {
        std::memcpy(to, from, std::strlen(from) + 1);
    };
    auto copyDescriptor = [&](QUOB_Descriptor &to, const QUOB_Descriptor &from, bool live) {
        copyName(to.Name, live ? from.Name : "");
        to.Type = live ? from.Type : QUOB_VALUE_NONE;
        to.Address = from.Address;
    };
    copyName(out->Name, r.Name);
    out->ParamCount = r.ParamCount;
    out->ResultCount = r.ResultCount;
    out->Entry = r.Entry;
    out->Block = r.Block;
    out->BlockSize = r.BlockSize;
    for (int32_t k = 0; k < kMaxResults; ++k)
        copyDescriptor(out->Results[k], r.Results[k], k < r.ResultCount);
    for (int32_t p = 0; p < kMaxParams; ++p)
        copyDescriptor(out->Params[p], r.Params[p], p < r.ParamCount);
    return 1;
}

}  // extern "C"
