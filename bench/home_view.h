// The picture every fill benchmark measures: the viewer's defaults on the home view at 1920 x 1080.
#pragma once
#include "quob32.h"

constexpr int32_t kWidth = 1920;
constexpr int32_t kHeight = 1080;

inline QUOB_FillerParams HomeView() {
    QUOB_FillerParams p{};
    p.Version = 1;
    p.FractalFormula = "tx ty x y = x ty sqr tx sqr -+ret y 2 tx ty **+ret";
    p.ColorFormula =
        "x y = x y * abs sqrt sqrt sqrt sqrt sqrt copy ret sqrt sqrt copy ret sqrt sqrt ret";
    p.CenterRe = -0.5;
    p.Scale = 2.0;
    p.MaxModule = 2.0f;
    p.Differential = 0.001f;
    p.IterationsLimit = 20;
    p.BlockLength = 20;
    p.EscapeColor = 0x00FFFFFF;
    return p;
}
