// The one filler: a compiled fractal function, a compiled colour function and the view and
// precision fields, published through the pixel routine.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "compile/functions.h"
#include "compile/sampleloop.h"
#include "quob32.h"

namespace quob {

// The pixel routine's floating-point environment: extended precision, rounding to nearest, every
// exception masked. The exported routine sets it around every sample; a fill sets it once around
// all of its samples, which run without setting it again (clearing the status flags at the end
// waits for the whole x87 unit and costs as much as a short block).
constexpr uint16_t kPixelControlWord = 0x033F;

// One installed compiled formula: its function, and where the cells that the pixel routine reads
// and writes lie in the function's block, as offsets (a copy of the function for another thread
// has them at the same offsets).
struct TCompiledFormula {
    int32_t handle = 0;  // 0: none installed
    char letter = 0;     // second character of its name ("Da", "Cb", ...)
    const TCompiledFunction *function = nullptr;
    // Fractal: the early-leaving variant runs instead of the execution copy.
    bool leavesOnFault = false;
    uint32_t x = 0;  // parameter "x"
    uint32_t y = 0;  // parameter "y"
    // Fractal: parameters 0 and 1, the iterate. Colour: results 0, 1 and 2.
    uint32_t cells[3] = {};
    // Fractal: the parameters fed back after each iteration (0..K-1, K = min(P, R)) fill the
    // block's first fedBackBytes.
    int32_t fedBackBytes = 0;
    // Colour: an iterate beyond this bound (either part) is coloured in software (interpret.h),
    // which takes the x87 unit's slow path on no infinity, NaN or overflow.
    long double softBound = 0;
    // Colour: the cells of the orbit inputs it names ("iter", "jxx", "jxy", "jyx", "jyy"), or -1.
    int64_t orbit[5] = {-1, -1, -1, -1, -1};
    bool WantsDerivative() const {
        return orbit[1] >= 0 || orbit[2] >= 0 || orbit[3] >= 0 || orbit[4] >= 0;
    }
    // Fractal: iterations a call.
    int32_t blockLength = 1;
};

// The names of the colour formula's orbit inputs: the iterations the sample ran, and the
// derivative of the final iterate by the sample's point (jab: part a of the iterate, x the real
// and y the imaginary one, by part b of the point).
inline constexpr const char *kOrbitInputs[5] = {"iter", "jxx", "jxy", "jyx", "jyy"};

// What the colour formula reads of a sample's orbit besides its final iterate.
struct TOrbitInputs {
    long double iterations = 0;
    long double jacobian[4] = {};  // jxx, jxy, jyx, jyy
};

struct TFillerState {
    bool exists = false;
    int32_t version = 0;
    const void *description = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    double centerRe = 0;
    double centerIm = 0;
    double scale = 0;
    float maxModule = 0;
    float differential = 0;
    int32_t iterationsLimit = 1;
    int32_t recursionInit = 0;
    int32_t blockLength = 1;
    int32_t escapeColor = 0;
    int32_t escapeTakesColor = 0;
    double step = 0;  // distance between neighbouring pixels in the plane
    // The fractal function runs its early-leaving variant when its samples are independent: the
    // loop leaves its block right after an iteration that raised a fault flag, which decides the
    // sample's colour whatever follows.
    TCompiledFormula fractal;
    TCompiledFormula color;
    // The fractal function's sample loop runs (else the passes run from C++), its samples'
    // frames copied from this one (the thresholds above).
    bool sampleLoop = false;
    TSampleFrame sampleFrame{};
    // The fractal function's tangent iteration (tangent.h) where the colour formula reads a
    // derivative and the samples are independent; nullptr else. Owned (freed with the formulas).
    TCompiledFunction *tangent = nullptr;
    // Counts the filler's creations and the updates of what a reference orbit depends on (the
    // fractal formula, the iterations limit, the recursion init, the block length): a deep
    // fill's orbit of an earlier count may belong to another formula.
    uint64_t generation = 0;
};

// Why the colour formula's derivative inputs read 0 with the installed formulas; empty when they
// carry the derivative (or the colour formula reads none).
std::string DerivativeUnavailable();

// The filler as the pixel routine sees it; read-only outside filler.cpp.
const TFillerState &FillerState();

// Chooses whether the pixel routine runs the fractal function's early-leaving variant (the
// default) or its execution copy. Pictures are identical either way.
void UseFractalVariant(bool on);

// Chooses whether the pixel routine runs the fractal function's sample loop, which tests between
// the passes in compiled code (the default, where the function has one), and colours huge
// iterates in software; or calls a pass at a time from C++ and the colour function on every
// iterate. Pictures are identical either way.
void UseFastPaths(bool on);
// Whether they are on (the deep fill's pass loop and careful iterations follow it too).
bool FastPaths();

// The library's unload step: deletes the compiled functions and forgets the filler.
void FillerUnload();

// A buffer's selection of the filler (QUOB_SelectFiller): the filler takes the buffer's size as
// its Width and Height and recomputes Step, as an update with the change set SizeChanged does.
// Returns the pixel routine, or nullptr (and changes nothing) when no filler has the handle.
QUOB_PixelRoutine BindFiller(int32_t filler, int32_t width, int32_t height);

// True when a sample's colour depends on its position and the filler's fields only. A fractal
// function that feeds back a parameter other than the iterate, "x" and "y" carries a value from
// one sample to the next, so its pictures depend on the order of the samples.
bool SamplesAreIndependent();

// The pixel routine's colour for column x, row y, under the pixel routine's control word.
uint32_t FillerSample(int32_t x, int32_t y);

// The installed colour formula's colour (or that of its copy) for the iterate (x, y): its cells
// written, its code run and its three results converted as the pixel routine converts them.
// Under the pixel routine's control word.
uint32_t ColorOf(const TCompiledFunction &color, long double x, long double y,
                 const TOrbitInputs &orbit = {});

// A private copy of the installed functions, code and cells, for one more thread of a fill: its
// samples are those of the pixel routine, bit for bit, without touching the installed functions'
// cells. It takes no slot of the function table. Made and destroyed in the caller's thread while
// no fill runs; the filler must not change while it exists.
class TPixelCopy {
  public:
    // Copies the installed functions; false (holding nothing) without them or without memory.
    bool Make();
    // The pixel routine's colour for column x, row y, under the pixel routine's control word; dx
    // and dy (fractions of Step) move the point inside the pixel for anti-aliased samples.
    uint32_t Sample(int32_t x, int32_t y, long double dx = 0, long double dy = 0) const;

  private:
    std::unique_ptr<TCompiledFunction> fractal_;
    std::unique_ptr<TCompiledFunction> color_;
    std::unique_ptr<TCompiledFunction> tangent_;
};

}  // namespace quob

// The per-sample routine handed out by QUOB_GetFiller: column x, row y -> colour 0x00RRGGBB.
extern "C" uint32_t quob_pixel_routine(int32_t x, int32_t y);
