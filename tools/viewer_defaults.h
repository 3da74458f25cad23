// The viewer's start-up settings on its home view, as one FillerParams: what quob-render draws
// by default, and the picture the fill tests and benchmarks start from.
#pragma once
#include "quob32.h"

inline constexpr const char *kDefaultFractal = "tx ty x y = x ty sqr tx sqr -+ret y 2 tx ty **+ret";
inline constexpr const char *kDefaultColor =
    "x y = x y * abs sqrt sqrt sqrt sqrt sqrt copy ret sqrt sqrt copy ret sqrt sqrt ret";

inline QUOB_FillerParams ViewerDefaults() {
    QUOB_FillerParams p{};
    p.Version = 1;
    p.FractalFormula = kDefaultFractal;
    p.ColorFormula = kDefaultColor;
    p.CenterRe = -0.5;
    p.CenterIm = 0;
    p.Scale = 2.0;
    p.MaxModule = 2.0f;
    p.Differential = 0.001f;
    p.IterationsLimit = 20;
    p.RecursionInit = 0;
    p.BlockLength = 20;
    p.EscapeColor = 0x00FFFFFF;
    p.EscapeTakesColor = 0;
    return p;
}
