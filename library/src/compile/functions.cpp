// The function table, the compilation driver and the function-object exports.
#include "compile/functions.h"

#include <signal.h>

#include <cstring>
#include <exception>
#include <memory>

#include "compile/codebuffer.h"
#include "compile/emitter.h"
#include "errors.h"
#include "compile/floatgen.h"
#include "compile/intgen.h"
#include "platform/platform.h"
#include "compile/scanner.h"

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

TCompiledFunction::TCompiledFunction(FunctionKind kind, uint32_t blockSize)
    : kind_(kind), blockSize_(blockSize) {}

TCompiledFunction::~TCompiledFunction() { ReleaseBlock(); }

bool TCompiledFunction::ReleaseBlock() {
    if (base_ != 0 && !platform::FreeLowBlock(Cell(0), blockSize_)) return false;
    base_ = 0;
    return true;
}

std::unique_ptr<TCompiledFunction> TCompiledFunction::Place(FunctionKind kind, uint32_t dataSize,
                                                            TCodeBuffer &record, TCodeBuffer *copy,
                                                            TCodeBuffer *variant) {
    const uint32_t blockSize = dataSize + static_cast<uint32_t>(record.Length());
    std::unique_ptr<TCompiledFunction> function(new TCompiledFunction(kind, blockSize));
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

std::unique_ptr<TCompiledFunction> TCompiledFunction::Clone() const {
    std::unique_ptr<TCompiledFunction> clone(new TCompiledFunction(kind_, blockSize_));
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
    return clone;
}

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
};

// Appends the final RET; false when it does not fit.
bool Finish(TCodeBuffer &code) {
    TEmitter(code, kHostTarget).ret();
    return !code.Overflowed();
}

// Runs the back end of the kind over the body; returns R, or throws TAbandon.
int32_t CompileBody(const char *definition, int32_t bodyPosition, const QUOB_FunctionRecord &record,
                    const CompileRequest &request, TCompiledCode &out) {
    TScanner scanner(definition);
    // Re-reading the header is cheap and keeps TScanner's interface as small as the language.
    for (int32_t i = 0; i < bodyPosition; ++i) scanner.NextToken();
    const BackEndInput in{scanner, out.record, record};
    if (request.kind == FunctionKind::Integer) return CompileIntegerBody(in, kHostTarget);
    TFloatHardware hardware(in, kHostTarget);
    const int32_t results = request.kind == FunctionKind::Real
                                ? hardware.CompileBody()
                                : hardware.CompileRecursive(request.blockLength);
    if (results > kMaxResults) return results;
    auto translated = [&](bool leaveOnFault) {
        auto code = std::make_unique<TCodeBuffer>();
        if (!hardware.CompileExecutionCopy(*code, leaveOnFault) || !Finish(*code)) code.reset();
        return code;
    };
    out.copy = translated(false);
    if (request.fillerVariant) out.variant = translated(true);
    return results;
}

int32_t Compile(const char *definition, const CompileRequest &request) {
    const KeywordSet keywords =
        request.kind == FunctionKind::Integer ? kIntKeywords : kFloatKeywords;
    auto fail = [](int32_t code) {
        RecordError(code);
        return 0;
    };

    // Header.
    TScanner scanner(definition);
    if (scanner.AtEnd()) return fail(QUOB_ERR_NO_EXPRESSION);
    const char *name = scanner.NextToken();
    if (!IsName(name)) return fail(QUOB_ERR_FUNCTION_NAME_EXPECTED);
    if (KeywordIndex(keywords, name) >= 0) return fail(QUOB_ERR_RESERVED_FUNCTION_NAME);
    for (const TFunctionSlot &s : slots)
        if (s.record.Block != 0 && std::strcmp(s.record.Name, name) == 0)
            return fail(QUOB_ERR_DUPLICATE_FUNCTION);
    int32_t handle = 0;
    for (int32_t h = 1; h <= kFunctionSlots && handle == 0; ++h)
        if (slots[h - 1].record.Block == 0) handle = h;
    if (handle == 0) return fail(QUOB_ERR_OUT_OF_RESOURCES);

    TFunctionSlot &slot = slots[handle - 1];
    QUOB_FunctionRecord &record = slot.record;
    std::strcpy(record.Name, name);
    for (QUOB_Descriptor &d : record.Params) d.Type = QUOB_VALUE_NONE;
    for (QUOB_Descriptor &d : record.Results) d.Type = QUOB_VALUE_NONE;

    const bool integer = request.kind == FunctionKind::Integer;
    const int32_t width = integer ? kIntWidth : kRealWidth;
    const int32_t type = integer ? QUOB_VALUE_INT32 : QUOB_VALUE_EXTENDED;
    int32_t params = 0;
    int32_t tokens = 1;
    for (;;) {
        if (scanner.AtEnd()) return fail(QUOB_ERR_NO_EXPRESSION);
        const char *token = scanner.NextToken();
        ++tokens;
        if (std::strcmp(token, "=") == 0) break;
        if (params == kMaxParams) return fail(QUOB_ERR_TOO_MANY_VARIABLES);
        if (!IsName(token)) return fail(QUOB_ERR_VARIABLE_NAME_EXPECTED);
        if (KeywordIndex(keywords, token) >= 0) return fail(QUOB_ERR_RESERVED_VARIABLE_NAME);
        for (int32_t p = 0; p < params; ++p)
            if (std::strcmp(record.Params[p].Name, token) == 0)
                return fail(QUOB_ERR_DUPLICATE_VARIABLE);
        QUOB_Descriptor &d = record.Params[params];
        std::strcpy(d.Name, token);
        d.Type = type;
        d.Address = static_cast<uint32_t>(params * width);
        ++params;
    }
    record.ParamCount = params;

    // Body: the back end works on a private copy of the record.
    auto code = std::make_unique<TCompiledCode>();
    const QUOB_FunctionRecord header = record;
    int32_t results;
    try {
        results = CompileBody(definition, tokens, header, request, *code);
    } catch (const TAbandon &failure) {
        return fail(failure.code != 0 ? failure.code : QUOB_ERR_INVALID_EXPRESSION);
    }
    if (results > kMaxResults) return fail(QUOB_ERR_TOO_MANY_RESULTS);
    // Code that did not fit the buffer is never run.
    if (!Finish(code->record)) return fail(QUOB_ERR_OUT_OF_RESOURCES);

    for (int32_t k = 0; k < results; ++k) {
        record.Results[k].Name[0] = '\0';
        record.Results[k].Type = type;
        record.Results[k].Address = static_cast<uint32_t>((params + k) * width);
    }
    record.ResultCount = results;
    const uint32_t dataSize = static_cast<uint32_t>((params + results) * width);
    std::unique_ptr<TCompiledFunction> function = TCompiledFunction::Place(
        request.kind, dataSize, code->record, code->copy.get(), code->variant.get());
    if (!function) return fail(QUOB_ERR_OUT_OF_RESOURCES);
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
    if (!definition) {
        RecordError(QUOB_ERR_NO_EXPRESSION);
        return 0;
    }
    try {
        return Compile(definition, request);
    } catch (const std::exception &) {
        RecordError(QUOB_ERR_OUT_OF_RESOURCES);  // an object of the compilation could not be made
        return 0;
    }
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
