// The filler: compiling its two formulas, the four filler exports and the pixel routine.
#include "filler.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "errors.h"
#include "functions.h"
#include "ibuffer.h"

namespace quob {
namespace {

TFillerState gFiller;
bool gUseFractalVariant = true;

// Extended precision, rounding to nearest even, every exception masked.
constexpr uint16_t kPixelControlWord = 0x033F;
// Status flags that make a sample fault: invalid operation, denormal operand, zero divide,
// overflow (underflow and precision do not count).
constexpr uint16_t kFaultFlags = 0x000F;

constexpr int32_t kTextCapacity = 4096;  // name, blank, formula text, NUL

long double LoadCell(const uint8_t *cell) {
    long double v = 0;
    std::memcpy(&v, cell, 10);
    return v;
}

void StoreCell(uint8_t *cell, long double v) { std::memcpy(cell, &v, 10); }

// All ones in the exponent: infinity or NaN.
bool NotFinite(const uint8_t *cell) {
    uint16_t signExponent;
    std::memcpy(&signExponent, cell + 8, 2);
    return (signExponent & 0x7FFF) == 0x7FFF;
}

// The letter of the next function of a kind: a, b, ... z, then y, z, y, ... so that the new
// name never equals the one still installed while the new function compiles.
char NextLetter(char installed) {
    if (installed == 0) return 'a';
    return installed < 'z' ? static_cast<char>(installed + 1) : 'y';
}

uint8_t *Cell(void *address) { return static_cast<uint8_t *>(address); }

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

    TCompiledFormula next;
    next.handle = handle;
    next.letter = letter;
    next.exactEntry = ExecutionEntry(handle);
    next.entry = fractal && gUseFractalVariant ? FillerEntry(handle) : next.exactEntry;
    next.x = Cell(AccessParamByName(handle, "x"));
    next.y = Cell(AccessParamByName(handle, "y"));
    bool complete = next.entry && next.exactEntry && next.x && next.y;
    if (fractal) {
        next.cells[0] = Cell(AccessParam(handle, 0));
        next.cells[1] = Cell(AccessParam(handle, 1));
        complete = complete && next.cells[0] && next.cells[1];
        QUOB_FunctionRecord record;
        if (complete && GetFunction(handle, &record)) {
            next.fedBack = next.cells[0];
            next.fedBackBytes = kRealWidth * std::min(record.ParamCount, record.ResultCount);
        }
    } else {
        for (int32_t k = 0; k < 3; ++k) {
            next.cells[k] = Cell(AccessResult(handle, k));
            complete = complete && next.cells[k];
        }
    }
    if (!complete) {
        DeleteFunction(handle);
        return false;
    }
    if (installed.handle != 0) DeleteFunction(installed.handle);
    installed = next;
    return true;
}

void Forget(TCompiledFormula &formula) {
    if (formula.handle != 0) DeleteFunction(formula.handle);
    formula = TCompiledFormula{};
}

void RecomputeStep() {
    // Divided in extended precision and stored as a double, as the x87 does it.
    if (gFiller.height != 0)
        gFiller.step = static_cast<double>(static_cast<long double>(gFiller.scale) / gFiller.height);
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
uint32_t Channel(const uint8_t *cell) {
    const long double v = LoadCell(cell);
    if (!(v < 2147483647.5L)) return 0;  // NaN, +infinity, too large
    if (v > 254.5L) return 255;
    if (!(v > 0.5L)) return 0;  // also -infinity and the negative range
    auto n = static_cast<uint32_t>(v);  // truncation, exact here
    const long double fraction = v - n;
    if (fraction > 0.5L || (fraction == 0.5L && (n & 1) != 0)) ++n;
    return n;
}

// Runs one block of the fractal function; returns the fault flags it raised.
uint16_t RunBlock(const void *entry) {
    asm volatile("fnclex" ::: "memory");
    quob_call_generated(entry);
    uint16_t status;
    asm volatile("fnstsw %0" : "=m"(status)::"memory");
    return status & kFaultFlags;
}

// Steps 2 to 13 of a sample through fractal function d and colour function c, under the pixel
// routine's control word. dx and dy move the point by fractions of Step; adding 0 changes nothing,
// so the pixel routine's samples are those of step 2 exactly.
uint32_t Sample(const TFillerState &f, const TCompiledFormula &d, const TCompiledFormula &c,
                int32_t x, int32_t y, long double dx, long double dy) {
    const long double step = f.step;
    const long double re =
        (static_cast<long double>(int64_t{x} - (f.width >> 1)) + dx) * step + f.centerRe;
    const long double im =
        f.centerIm - (static_cast<long double>(int64_t{y} - (f.height >> 1)) + dy) * step;
    StoreCell(d.x, re);
    StoreCell(d.y, im);
    StoreCell(d.cells[0], f.recursionInit == 0 ? re : 0.0L);
    StoreCell(d.cells[1], f.recursionInit == 0 ? im : 0.0L);

    const bool variant = d.entry != d.exactEntry;
    uint8_t before[kMaxParams * kRealWidth];
    float previous = 0;
    for (int32_t passes = f.iterationsLimit;;) {
        if (variant) std::memcpy(before, d.fedBack, d.fedBackBytes);
        if (RunBlock(d.entry) != 0) return static_cast<uint32_t>(f.escapeColor);
        if (variant) {
            // The variant left its block early on a value that became infinite or NaN without a
            // fault flag (an infinite constant or start point): only the exact block gives the
            // right iterate then.
            bool early = false;
            for (int32_t k = 0; k < d.fedBackBytes; k += kRealWidth)
                early = early || NotFinite(d.fedBack + k);
            if (early) {
                std::memcpy(d.fedBack, before, d.fedBackBytes);
                if (RunBlock(d.exactEntry) != 0) return static_cast<uint32_t>(f.escapeColor);
            }
        }
        const long double m = std::fabs(LoadCell(d.cells[0])) + std::fabs(LoadCell(d.cells[1]));
        if (m > f.maxModule) {
            if (f.escapeTakesColor != 0) return static_cast<uint32_t>(f.escapeColor);
            break;
        }
        if (std::fabs(m - previous) < f.differential) break;
        previous = static_cast<float>(m);
        if (--passes == 0) break;
    }
    std::memcpy(c.x, d.cells[0], 10);
    std::memcpy(c.y, d.cells[1], 10);
    quob_call_generated(c.entry);
    return Channel(c.cells[0]) << 16 | Channel(c.cells[1]) << 8 | Channel(c.cells[2]);
}

// A whole sample: the pixel routine's floating-point environment around Sample.
uint32_t PixelOf(const TCompiledFormula &d, const TCompiledFormula &c, int32_t x, int32_t y,
                 long double dx, long double dy) {
    uint16_t callerControl;
    asm volatile("fnstcw %0" : "=m"(callerControl)::"memory");
    asm volatile("fldcw %0" ::"m"(kPixelControlWord) : "memory");
    const uint32_t colour = Sample(gFiller, d, c, x, y, dx, dy);
    // The colour is an input so that all of the sample's arithmetic precedes the restore.
    asm volatile("fnclex\n\tfldcw %0" ::"m"(callerControl), "r"(colour) : "memory");
    return colour;
}

// The installed function's counterpart in its clone: the same entry kind and cells.
TCompiledFormula Translated(const TCompiledFormula &installed, const TFunctionClone &clone) {
    auto moved = [&](uint8_t *cell) {
        return cell ? static_cast<uint8_t *>(clone.Translate(cell)) : nullptr;
    };
    TCompiledFormula copy = installed;
    copy.exactEntry = clone.copy;
    copy.entry = installed.entry == installed.exactEntry ? clone.copy : clone.FillerEntry();
    copy.x = moved(installed.x);
    copy.y = moved(installed.y);
    for (uint8_t *&cell : copy.cells) cell = moved(cell);
    copy.fedBack = moved(installed.fedBack);
    return copy;
}

}  // namespace

const TFillerState &FillerState() { return gFiller; }

void UseFractalVariant(bool on) {
    gUseFractalVariant = on;
    TCompiledFormula &d = gFiller.fractal;
    if (d.handle != 0) d.entry = on ? FillerEntry(d.handle) : d.exactEntry;
}

void FillerUnload() {
    Forget(gFiller.fractal);
    Forget(gFiller.color);
    gFiller.exists = false;
    gFiller.version = 0;
}

bool SamplesAreIndependent() {
    const TCompiledFormula &d = gFiller.fractal;
    // Parameters 0 and 1 are rewritten by every sample, and so are "x" and "y".
    for (int32_t k = 2 * kRealWidth; k < d.fedBackBytes; k += kRealWidth) {
        const uint8_t *cell = d.fedBack + k;
        if (cell != d.x && cell != d.y) return false;
    }
    return true;
}

TPixelCopy::~TPixelCopy() {
    ReleaseClone(fractalClone_);
    ReleaseClone(colorClone_);
}

bool TPixelCopy::Make() {
    const TCompiledFormula &d = gFiller.fractal;
    const TCompiledFormula &c = gFiller.color;
    if (d.handle == 0 || c.handle == 0 || !CloneFunction(d.handle, fractalClone_)) return false;
    if (!CloneFunction(c.handle, colorClone_)) {
        ReleaseClone(fractalClone_);
        return false;
    }
    fractal_ = Translated(d, fractalClone_);
    color_ = Translated(c, colorClone_);
    return true;
}

uint32_t TPixelCopy::Pixel(int32_t x, int32_t y, long double dx, long double dy) const {
    return PixelOf(fractal_, color_, x, y, dx, dy);
}

}  // namespace quob

using quob::gFiller;

extern "C" uint32_t quob_pixel_routine(int32_t x, int32_t y) {
    // A buffer may still hold the routine of a deleted filler: it draws black then.
    if (gFiller.fractal.handle == 0 || gFiller.color.handle == 0) return 0;
    return quob::PixelOf(gFiller.fractal, gFiller.color, x, y, 0, 0);
}

extern "C" {

QUOB_API int32_t QUOB_CALL QUOB_CreateFiller(const QUOB_FillerParams *params) {
    using namespace quob;
    if (params == nullptr || params->Version != 1 || gFiller.exists) return 0;
    const uint8_t all[QUOB_FP_FIELD_COUNT] = {1, 1, 1, 1, 1, 1, 1, 1, 1,
                                              1, 1, 1, 1, 1, 1, 1, 1};
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
