// The filler: compiling its two formulas, the four filler exports and the pixel routine.
#include "fill/filler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "compile/bounds.h"
#include "compile/functions.h"
#include "compile/interpret.h"
#include "compile/sampleloop.h"
#include "compile/tangent.h"
#include "errors.h"
#include "fill/fills.h"
#include "platform/platform.h"

namespace quob {
namespace {

TFillerState gFiller;
bool gUseFractalVariant = true;
bool gUseFastPaths = true;

// Status flags that make a sample fault: invalid operation, denormal operand, zero divide,
// overflow (underflow and precision do not count).
constexpr uint16_t kFaultFlags = 0x000F;

constexpr int32_t kTextCapacity = 4096;  // name, blank, formula text, NUL

// A value cell as the x87 unit loads and stores it: ten bytes, converted in neither direction. An
// 80-bit load right after an 80-bit store of the same cell takes its data from the store, which
// a load after the bytewise copy of a memcpy cannot.
struct Extended {
    uint8_t bytes[10];
};

long double LoadCell(const uint8_t *cell) {
    long double v;
    asm("fldt %1" : "=t"(v) : "m"(*reinterpret_cast<const Extended *>(cell)));
    return v;
}

void StoreCell(uint8_t *cell, long double v) {
    asm("fstpt %0" : "=m"(*reinterpret_cast<Extended *>(cell)) : "t"(v) : "st");
}

// The letter of the next function of a kind: a, b, ... z, then y, z, y, ... so that the new
// name never equals the one still installed while the new function compiles.
char NextLetter(char installed) {
    if (installed == 0) return 'a';
    return installed < 'z' ? static_cast<char>(installed + 1) : 'y';
}

// True when the fractal function carries no value from one sample to the next: it feeds back
// nothing but parameters 0 and 1, "x" and "y", which every sample rewrites.
bool Independent(const TCompiledFormula &d) {
    for (int32_t k = 2 * kRealWidth; k < d.fedBackBytes; k += kRealWidth) {
        const auto cell = static_cast<uint32_t>(k);
        if (cell != d.x && cell != d.y) return false;
    }
    return true;
}

// The early-leaving variant leaves the cells as they were at the fault, not at the end of the
// block: only a function whose samples are independent may run it.
bool LeavesOnFault(const TCompiledFormula &d) { return gUseFractalVariant && Independent(d); }

// The block offset of the first parameter of a record named name, or -1.
int64_t ParamOffset(const QUOB_FunctionRecord &r, const char *name) {
    for (int32_t p = 0; p < r.ParamCount; ++p)
        if (std::strcmp(r.Params[p].Name, name) == 0) return r.Params[p].Address - r.Block;
    return -1;
}

// Compiles one formula under "D?" or "C?" and resolves its cells; on success replaces the
// installed function of that kind. On any failure the installed function stays and no slot is
// kept by the new one.
bool CompileFormula(TCompiledFormula &installed, char prefix, const char *formula) {
    const char letter = NextLetter(installed.letter);
    const char *body = formula ? formula : "";
    const std::size_t length = std::strlen(body);
    if (length > kTextCapacity - 4) {
        RecordError(QUOB_ERR_OUT_OF_RESOURCES);  // a cut text would compile a different formula
        return false;
    }
    char text[kTextCapacity];
    text[0] = prefix;
    text[1] = letter;
    text[2] = ' ';
    std::memcpy(text + 3, body, length + 1);

    const bool fractal = prefix == 'D';
    CompileRequest request;
    if (fractal) {
        request.kind = FunctionKind::Recursive;
        const int32_t n = gFiller.blockLength;
        request.blockLength = (n < 1 || n > 1000) ? 1 : n;
        request.fillerVariant = true;
    }
    const int32_t handle = CreateFunction(text, request);
    if (handle == 0) return false;

    const QUOB_FunctionRecord &r = *FunctionRecord(handle);
    TCompiledFormula next;
    next.handle = handle;
    next.letter = letter;
    next.function = CompiledFunction(handle);
    const int64_t x = ParamOffset(r, "x");
    const int64_t y = ParamOffset(r, "y");
    bool complete = x >= 0 && y >= 0;
    next.x = static_cast<uint32_t>(x);
    next.y = static_cast<uint32_t>(y);
    if (fractal) {
        complete = complete && r.ParamCount >= 2;
        next.cells[0] = r.Params[0].Address - r.Block;
        next.cells[1] = r.Params[1].Address - r.Block;
        next.fedBackBytes = kRealWidth * std::min(r.ParamCount, r.ResultCount);
        next.blockLength = request.blockLength;
        next.leavesOnFault = LeavesOnFault(next);
    } else {
        complete = complete && r.ResultCount >= 3;
        for (int32_t k = 0; k < 3; ++k) next.cells[k] = r.Results[k].Address - r.Block;
        const int32_t e = SafeExponent(*next.function->Body());
        next.softBound = e >= 0 ? std::ldexp(1.0L, e) : __builtin_infl();
        for (int32_t i = 0; i < 5; ++i) next.orbit[i] = ParamOffset(r, kOrbitInputs[i]);
    }
    if (!complete) {
        ReleaseFunction(handle);
        return false;
    }
    if (installed.handle != 0) ReleaseFunction(installed.handle);
    installed = next;
    return true;
}

void Forget(TCompiledFormula &formula) {
    if (formula.handle != 0) ReleaseFunction(formula.handle);
    formula = TCompiledFormula{};
}

void RecomputeStep() {
    // Divided in extended precision and stored as a double, as the x87 does it.
    if (gFiller.height != 0)
        gFiller.step =
            static_cast<double>(static_cast<long double>(gFiller.scale) / gFiller.height);
}

// Fields 10 to 16, one by one.
void TakePrecisionFields(const QUOB_FillerParams &p, const uint8_t *take) {
    if (take[QUOB_FP_MAX_MODULE]) gFiller.maxModule = p.MaxModule;
    if (take[QUOB_FP_DIFFERENTIAL]) gFiller.differential = p.Differential;
    // The pass loop counts down and tests after each pass, so a limit below 1 means 1.
    if (take[QUOB_FP_ITERATIONS_LIMIT]) gFiller.iterationsLimit = std::max(p.IterationsLimit, 1);
    if (take[QUOB_FP_RECURSION_INIT]) gFiller.recursionInit = p.RecursionInit;
    if (take[QUOB_FP_BLOCK_LENGTH]) gFiller.blockLength = p.BlockLength;
    if (take[QUOB_FP_ESCAPE_COLOR]) gFiller.escapeColor = p.EscapeColor;
    if (take[QUOB_FP_ESCAPE_TAKES_COLOR]) gFiller.escapeTakesColor = p.EscapeTakesColor;
}

// Rounds to nearest with ties to even and clamps to 0..255; a value that is not finite or lies
// beyond the 32-bit integer range gives 0 (what a 32-bit integer store would make of it).
uint32_t Channel(long double v) {
    // An infinity or a NaN, told by its exponent: comparing it would take the x87 unit's slow
    // path on some processors.
    uint16_t signExponent;
    std::memcpy(&signExponent, reinterpret_cast<const uint8_t *>(&v) + 8, 2);
    if ((signExponent & 0x7FFF) == 0x7FFF) return 0;
    if (!(v < 2147483647.5L)) return 0;  // too large
    if (v > 254.5L) return 255;
    if (!(v > 0.5L)) return 0;          // also -infinity and the negative range
    auto n = static_cast<uint32_t>(v);  // truncation, exact here
    const long double fraction = v - n;
    if (fraction > 0.5L || (fraction == 0.5L && (n & 1) != 0)) ++n;
    return n;
}

uint16_t Status() {
    uint16_t status;
    asm volatile("fnstsw %0" : "=m"(status)::"memory");
    return status;
}

// Clears the status flags when any of `flags` is set: FNCLEX waits for the whole x87 unit and
// costs more than a block of a short formula, reading the flags a fraction of it.
void ClearFlags(uint16_t flags) {
    if (Status() & flags) asm volatile("fnclex" ::: "memory");
}

// Runs one block of the fractal function; returns the fault flags it raised. A pass that faults
// ends the sample, so the flags are clean after every other pass: they need clearing only when
// the pixel routine's own arithmetic between the blocks raised one.
uint16_t RunBlock(const void *entry) {
    ClearFlags(kFaultFlags);
    quob_call_generated(entry);
    return Status() & kFaultFlags;
}

// Steps 2 to 13 of a sample through the functions of the fractal and the colour formula (the
// installed ones or their copies), under the pixel routine's control word. dx and dy move the
// point by fractions of Step inside the pixel (anti-aliasing); adding 0 to the whole column or row
// changes nothing, so the pixel routine's samples are those of step 2 exactly.
// The passes of a sample with the tangent iteration: the body's values and faults as the record's
// code computes them, the derivative beside them.
uint32_t TangentSample(const TFillerState &f, const TCompiledFunction &tangent,
                       const TCompiledFunction &color, long double re, long double im) {
    const TCompiledFormula &d = f.fractal;
    const int32_t params = d.function->Body()->paramCount;
    auto value = [&](uint32_t offset) { return tangent.Cell(TTangentCells::kParams + offset); };
    auto derivative = [&](int32_t p, int32_t part) {
        return tangent.Cell(TTangentCells::Tangent(params, p, part));
    };
    StoreCell(value(d.x), re);
    StoreCell(value(d.y), im);
    StoreCell(value(d.cells[0]), f.recursionInit == 0 ? re : 0.0L);
    StoreCell(value(d.cells[1]), f.recursionInit == 0 ? im : 0.0L);
    // The derivatives by the point: the identity for "x", "y" and an iterate that starts at the
    // point, 0 for the rest.
    for (int32_t p = 0; p < params; ++p)
        for (int32_t part = 0; part < 2; ++part) {
            const uint32_t at = static_cast<uint32_t>(kRealWidth * p);
            const bool identity = (at == d.x && part == 0) || (at == d.y && part == 1) ||
                                  (f.recursionInit == 0 && p == part);
            StoreCell(derivative(p, part), identity ? 1.0L : 0.0L);
        }
    // The passes and their tests run in the tangent's code.
    std::memcpy(tangent.Cell(TTangentCells::kPasses), &f.iterationsLimit, 4);
    std::memcpy(tangent.Cell(TTangentCells::kMaxModule), &f.maxModule, 4);
    std::memcpy(tangent.Cell(TTangentCells::kDifferential), &f.differential, 4);
    quob_call_generated(tangent.Entry());
    int32_t status, left;
    std::memcpy(&status, tangent.Cell(TTangentCells::kStatus), 4);
    std::memcpy(&left, tangent.Cell(TTangentCells::kPasses), 4);
    if (status == kTangentFault || (status == kTangentEscaped && f.escapeTakesColor != 0))
        return static_cast<uint32_t>(f.escapeColor);
    const int32_t ran = f.iterationsLimit - left;
    TOrbitInputs orbit;
    orbit.iterations = static_cast<long double>(ran) * d.blockLength;
    for (int32_t i = 0; i < 4; ++i) orbit.jacobian[i] = LoadCell(derivative(i / 2, i % 2));
    return ColorOf(color, LoadCell(value(d.cells[0])), LoadCell(value(d.cells[1])), orbit);
}

// Steps 2 to 13 of a sample through the functions of the fractal and the colour formula (the
// installed ones or their copies), under the pixel routine's control word. dx and dy move the
// point by fractions of Step inside the pixel (anti-aliasing); adding 0 to the whole column or row
// changes nothing, so the pixel routine's samples are those of step 2 exactly.
uint32_t Sample(const TFillerState &f, const TCompiledFunction &fractal,
                const TCompiledFunction &color, const TCompiledFunction *tangent, int32_t x,
                int32_t y, long double dx = 0, long double dy = 0) {
    const TCompiledFormula &d = f.fractal;
    const long double step = f.step;
    const long double re =
        (static_cast<long double>(int64_t{x} - (f.width >> 1)) + dx) * step + f.centerRe;
    const long double im =
        f.centerIm - (static_cast<long double>(int64_t{y} - (f.height >> 1)) + dy) * step;
    if (tangent) return TangentSample(f, *tangent, color, re, im);
    uint8_t *const iterate[2] = {fractal.Cell(d.cells[0]), fractal.Cell(d.cells[1])};
    StoreCell(fractal.Cell(d.x), re);
    StoreCell(fractal.Cell(d.y), im);
    StoreCell(iterate[0], f.recursionInit == 0 ? re : 0.0L);
    StoreCell(iterate[1], f.recursionInit == 0 ? im : 0.0L);

    TOrbitInputs orbit;  // the iterations; the derivative reads 0 without a tangent iteration
    if (f.sampleLoop) {
        TSampleFrame frame = f.sampleFrame;
        const TSampleGuard &guard = fractal.SampleLoopGuard();
        BoundBeforeTheLoop(frame, guard, re);  // the iterate starts at the point or at 0
        BoundBeforeTheLoop(frame, guard, im);
        quob_call_sample_loop(fractal.SampleLoopEntry(), &frame);
        if (frame.outcome == kSampleFault ||
            (frame.outcome == kSampleEscaped && f.escapeTakesColor != 0))
            return static_cast<uint32_t>(f.escapeColor);
        // Passes left: the one that ended the loop had not counted itself, unless it was the last.
        const int32_t ran = f.iterationsLimit - frame.passes + (frame.passes > 0 ? 1 : 0);
        orbit.iterations = static_cast<long double>(ran) * d.blockLength;
        return ColorOf(color, LoadCell(iterate[0]), LoadCell(iterate[1]), orbit);
    }
    // The early-leaving variant stops at the first fault flag, after which only the flag counts.
    const void *entry = d.leavesOnFault ? fractal.FillerEntry() : fractal.Entry();
    float previous = 0;
    int32_t ran = 0;
    for (int32_t passes = f.iterationsLimit;;) {
        if (RunBlock(entry) != 0) return static_cast<uint32_t>(f.escapeColor);
        ++ran;
        const long double m = std::fabs(LoadCell(iterate[0])) + std::fabs(LoadCell(iterate[1]));
        if (m > f.maxModule) {
            if (f.escapeTakesColor != 0) return static_cast<uint32_t>(f.escapeColor);
            break;
        }
        if (std::fabs(m - previous) < f.differential) break;
        previous = static_cast<float>(m);
        if (--passes == 0) break;
    }
    orbit.iterations = static_cast<long double>(ran) * d.blockLength;
    return ColorOf(color, LoadCell(iterate[0]), LoadCell(iterate[1]), orbit);
}

}  // namespace

uint32_t ColorOf(const TCompiledFunction &color, long double x, long double y,
                 const TOrbitInputs &orbit) {
    const TCompiledFormula &c = gFiller.color;
    const long double inputs[5] = {orbit.iterations, orbit.jacobian[0], orbit.jacobian[1],
                                   orbit.jacobian[2], orbit.jacobian[3]};
    if (gUseFastPaths && !(std::fabs(x) < c.softBound && std::fabs(y) < c.softBound)) {
        // Its other parameters are never written: 0.
        long double params[kMaxParams] = {}, results[kMaxResults];
        params[c.x / kRealWidth] = x;
        params[c.y / kRealWidth] = y;
        for (int32_t i = 0; i < 5; ++i)
            if (c.orbit[i] >= 0) params[c.orbit[i] / kRealWidth] = inputs[i];
        if (Interpret(*color.Body(), params, results))
            return Channel(results[0]) << 16 | Channel(results[1]) << 8 | Channel(results[2]);
    }
    StoreCell(color.Cell(c.x), x);
    StoreCell(color.Cell(c.y), y);
    for (int32_t i = 0; i < 5; ++i)
        if (c.orbit[i] >= 0) StoreCell(color.Cell(static_cast<uint32_t>(c.orbit[i])), inputs[i]);
    quob_call_generated(color.Entry());
    return Channel(LoadCell(color.Cell(c.cells[0]))) << 16 |
           Channel(LoadCell(color.Cell(c.cells[1]))) << 8 |
           Channel(LoadCell(color.Cell(c.cells[2])));
}

uint32_t FillerSample(int32_t x, int32_t y) {
    // A buffer may still hold the routine of a deleted filler: it draws black then.
    if (gFiller.fractal.handle == 0 || gFiller.color.handle == 0) return 0;
    return Sample(gFiller, *gFiller.fractal.function, *gFiller.color.function, gFiller.tangent, x,
                  y);
}

const TFillerState &FillerState() { return gFiller; }

namespace {

// The tangent iteration for a colour formula that reads a derivative, of a fractal formula whose
// samples are independent; why there is none otherwise.
std::string TangentFor(std::unique_ptr<TCompiledFunction> &tangent) {
    const TCompiledFormula &d = gFiller.fractal;
    if (d.handle == 0 || gFiller.color.handle == 0 || !gFiller.color.WantsDerivative()) return "";
    if (!Independent(d)) return "the fractal formula carries a value from one sample to the next";
    std::string refusal;
    tangent = CompileTangent(*d.function->Body(), d.blockLength, refusal, TTangentCall::kPasses);
    return tangent ? "" : "the fractal formula's derivative is not followed: " + refusal;
}

void RefreshTangent() {
    delete gFiller.tangent;
    gFiller.tangent = nullptr;
    std::unique_ptr<TCompiledFunction> tangent;
    try {
        TangentFor(tangent);
    } catch (const std::bad_alloc &) {
        // Without memory the derivative inputs read 0.
    }
    gFiller.tangent = tangent.release();
}

// The fractal function's sample loop runs where it has one and its samples are independent.
void RefreshSampleLoop() {
    const TCompiledFormula &d = gFiller.fractal;
    gFiller.sampleLoop = d.handle != 0 && d.leavesOnFault && gUseFastPaths &&
                         d.function->SampleLoopEntry() != nullptr;
    if (gFiller.sampleLoop)
        gFiller.sampleFrame = SampleFrame(gFiller.maxModule, gFiller.differential,
                                          gFiller.iterationsLimit, d.function->SampleLoopGuard());
}

}  // namespace

bool FastPaths() { return gUseFastPaths; }

std::string DerivativeUnavailable() {
    if (gFiller.tangent) return "";
    std::unique_ptr<TCompiledFunction> tangent;
    return TangentFor(tangent);
}

void UseFastPaths(bool on) {
    gUseFastPaths = on;
    RefreshSampleLoop();
}

void UseFractalVariant(bool on) {
    gUseFractalVariant = on;
    gFiller.fractal.leavesOnFault = LeavesOnFault(gFiller.fractal);
    RefreshSampleLoop();
}

void FillerUnload() {
    Forget(gFiller.fractal);
    Forget(gFiller.color);
    delete gFiller.tangent;
    gFiller.tangent = nullptr;
    gFiller.sampleLoop = false;
    gFiller.exists = false;
    gFiller.version = 0;
}

bool SamplesAreIndependent() { return Independent(gFiller.fractal); }

QUOB_PixelRoutine BindFiller(int32_t filler, int32_t width, int32_t height) {
    if (filler == 0 || !gFiller.exists) return nullptr;
    StopAllFills();  // the running fill reads these fields
    gFiller.width = width;
    gFiller.height = height;
    RecomputeStep();
    return quob_pixel_routine;
}

bool TPixelCopy::Make() {
    if (gFiller.fractal.handle == 0 || gFiller.color.handle == 0) return false;
    try {
        fractal_ = gFiller.fractal.function->Clone();
        color_ = gFiller.color.function->Clone();
        if (gFiller.tangent) tangent_ = gFiller.tangent->Clone();
    } catch (const std::bad_alloc &) {
        // No memory for a copy: the fill runs in fewer threads.
    }
    if (fractal_ && color_ && (tangent_ || !gFiller.tangent)) return true;
    fractal_.reset();
    color_.reset();
    tangent_.reset();
    return false;
}

uint32_t TPixelCopy::Sample(int32_t x, int32_t y, long double dx, long double dy) const {
    return quob::Sample(gFiller, *fractal_, *color_, tangent_.get(), x, y, dx, dy);
}

}  // namespace quob

using quob::gFiller;

extern "C" uint32_t quob_pixel_routine(int32_t x, int32_t y) {
    using quob::platform::TX87Control;
    const TX87Control control(quob::kPixelControlWord, TX87Control::kControlWord);
    const uint32_t colour = quob::FillerSample(x, y);
    quob::platform::ComputedBefore(colour);
    return colour;
}

extern "C" {

QUOB_API int32_t QUOB_CALL QUOB_CreateFiller(const QUOB_FillerParams *params) {
    using namespace quob;
    if (params == nullptr || params->Version != 1 || gFiller.exists) return 0;
    const uint8_t all[QUOB_FP_FIELD_COUNT] = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    gFiller.description = params->Description;
    gFiller.centerRe = params->CenterRe;
    gFiller.centerIm = params->CenterIm;
    gFiller.scale = params->Scale;
    TakePrecisionFields(*params, all);
    gFiller.width = 0;
    gFiller.height = 0;
    if (!CompileFormula(gFiller.fractal, 'D', params->FractalFormula)) return 0;
    if (!CompileFormula(gFiller.color, 'C', params->ColorFormula)) {
        Forget(gFiller.fractal);  // no filler, so no slot may stay taken
        return 0;
    }
    gFiller.version = 1;
    gFiller.exists = true;
    ++gFiller.generation;
    RefreshSampleLoop();
    RefreshTangent();
    return 1;
}

QUOB_API int32_t QUOB_CALL QUOB_DeleteFiller(int32_t filler) {
    using namespace quob;
    if (filler == 0) return 0;
    StopAllFills();  // no worker may run code that is about to be released
    FillerUnload();
    return 1;
}

QUOB_API int32_t QUOB_CALL QUOB_UpdateFiller(int32_t filler, const QUOB_FillerParams *params,
                                             const uint8_t *changes) {
    using namespace quob;
    if (filler == 0 || !gFiller.exists || params == nullptr || changes == nullptr) return 0;
    StopAllFills();  // the running fill reads these fields and runs the functions replaced here
    for (const int32_t field : {QUOB_FP_FRACTAL_FORMULA, QUOB_FP_ITERATIONS_LIMIT,
                                QUOB_FP_RECURSION_INIT, QUOB_FP_BLOCK_LENGTH})
        if (changes[field]) ++gFiller.generation;
    if (changes[QUOB_FP_WIDTH]) gFiller.width = params->Width;
    if (changes[QUOB_FP_HEIGHT]) {
        gFiller.height = params->Height;
        RecomputeStep();
    }
    if (changes[QUOB_FP_CENTER_RE]) gFiller.centerRe = params->CenterRe;
    if (changes[QUOB_FP_CENTER_IM]) gFiller.centerIm = params->CenterIm;
    if (changes[QUOB_FP_SCALE]) {
        gFiller.scale = params->Scale;
        RecomputeStep();
    }
    TakePrecisionFields(*params, changes);
    // A formula that does not compile leaves the previous one in force; the last error tells.
    if (changes[QUOB_FP_FRACTAL_FORMULA])
        CompileFormula(gFiller.fractal, 'D', params->FractalFormula);
    if (changes[QUOB_FP_COLOR_FORMULA]) CompileFormula(gFiller.color, 'C', params->ColorFormula);
    RefreshSampleLoop();
    if (changes[QUOB_FP_FRACTAL_FORMULA] || changes[QUOB_FP_COLOR_FORMULA]) RefreshTangent();
    return 1;
}

QUOB_API int32_t QUOB_CALL QUOB_GetFiller(int32_t filler, QUOB_FillerParams *params) {
    using namespace quob;
    if (filler == 0 || !gFiller.exists || params == nullptr) return 0;
    params->Version = 1;
    params->PixelRoutine = quob_pixel_routine;
    params->Description = gFiller.description;
    params->Width = gFiller.width;
    params->Height = gFiller.height;
    return 1;
}

}  // extern "C"
