// The picture every fill benchmark measures: the viewer's defaults on the home view at 1920 x 1080.
#pragma once
#include "viewer_defaults.h"

constexpr int32_t kWidth = 1920;
constexpr int32_t kHeight = 1080;

inline QUOB_FillerParams HomeView() { return ViewerDefaults(); }
