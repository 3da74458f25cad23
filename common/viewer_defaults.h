// The viewer's start-up settings on its home view, as one FillerParams: what the viewer creates
// its filler from, what quob-render draws by default, and the picture the fill tests and
// benchmarks start from.
#pragma once
#include "quob32.h"

// An array, so that the filler hands back the very address the viewer gave it.
inline constexpr char kDefaultDescription[] = "Classic Mandelbrot Set";
inline constexpr const char *kDefaultFractal = "tx ty x y = x ty sqr tx sqr -+ret y 2 tx ty **+ret";
inline constexpr const char *kDefaultColor =
    "x y = x y * abs sqrt sqrt sqrt sqrt sqrt copy ret sqrt sqrt copy ret sqrt sqrt ret";

// The home view as extended reals, as the viewer's history and saved positions hold views.
inline constexpr long double kHomeRe = -0.5L;
inline constexpr long double kHomeIm = 0.0L;
inline constexpr long double kHomeScale = 2.0L;

inline QUOB_FillerParams ViewerDefaults() {
    QUOB_FillerParams p{};
    p.Version = 1;
    p.Description = kDefaultDescription;
    p.FractalFormula = kDefaultFractal;
    p.ColorFormula = kDefaultColor;
    p.CenterRe = static_cast<double>(kHomeRe);
    p.CenterIm = static_cast<double>(kHomeIm);
    p.Scale = static_cast<double>(kHomeScale);
    p.MaxModule = 2.0f;
    p.Differential = 0.001f;
    p.IterationsLimit = 20;
    p.RecursionInit = 0;
    p.BlockLength = 20;
    p.EscapeColor = 0x00FFFFFF;
    p.EscapeTakesColor = 0;
    return p;
}
