// The one filler: a compiled fractal function, a compiled colour function and the view and
// precision fields, published through the pixel routine.
#pragma once
#include <cstdint>

#include "functions.h"
#include "quob32.h"

namespace quob {

// One installed compiled function and the cells the pixel routine reads and writes.
struct TCompiledFormula {
    int32_t handle = 0;  // 0: none installed
    char letter = 0;     // second character of its name ("Da", "Cb", ...)
    const void *entry = nullptr;       // what the pixel routine calls
    const void *exactEntry = nullptr;  // the exact block-length loop (fractal: see TFillerState)
    uint8_t *x = nullptr;  // parameter "x"
    uint8_t *y = nullptr;  // parameter "y"
    // Fractal: parameters 0 and 1, the iterate. Colour: results 0, 1 and 2.
    uint8_t *cells[3] = {};
    // Fractal: the parameters fed back after each iteration (0..K-1, K = min(P, R)), contiguous.
    uint8_t *fedBack = nullptr;
    int32_t fedBackBytes = 0;
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
    // The fractal function runs its early-leaving variant: the loop leaves its block right after
    // an iteration whose fed-back value is infinite or NaN (x87 arithmetic on those is very slow).
    // exactEntry keeps the exact block for the rare sample that needs it (see the pixel routine).
    TCompiledFormula fractal;
    TCompiledFormula color;
};

// The filler as the pixel routine sees it; read-only outside filler.cpp.
const TFillerState &FillerState();

// Chooses whether the pixel routine runs the fractal function's early-leaving variant (the
// default) or its exact block loop. Pictures are identical either way.
void UseFractalVariant(bool on);

// The library's unload step: deletes the compiled functions and forgets the filler.
void FillerUnload();

// True when a sample's colour depends on its position and the filler's fields only. A fractal
// function that feeds back a parameter other than the iterate, "x" and "y" carries a value from
// one sample to the next, so its pictures depend on the order of the samples.
bool SamplesAreIndependent();

// A private copy of the installed functions, code and cells, for one more thread of a fill: its
// samples are those of the pixel routine, bit for bit, without touching the installed functions'
// cells. It takes no slot of the function table. Made and destroyed in the caller's thread while
// no fill runs; the filler must not change while it exists.
class TPixelCopy {
public:
    TPixelCopy() = default;
    ~TPixelCopy();
    TPixelCopy(const TPixelCopy &) = delete;
    TPixelCopy &operator=(const TPixelCopy &) = delete;

    // Copies the installed functions; false (holding nothing) without them or without memory.
    bool Make();
    // The pixel routine's colour for column x, row y; dx and dy (fractions of Step) move the
    // point inside the pixel for the samples of an anti-aliased picture.
    uint32_t Pixel(int32_t x, int32_t y, long double dx = 0, long double dy = 0) const;

private:
    TFunctionClone fractalClone_;
    TFunctionClone colorClone_;
    TCompiledFormula fractal_;
    TCompiledFormula color_;
};

}  // namespace quob

// The per-sample routine handed out by QUOB_GetFiller: column x, row y -> colour 0x00RRGGBB.
extern "C" uint32_t quob_pixel_routine(int32_t x, int32_t y);
