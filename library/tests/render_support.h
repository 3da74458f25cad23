// Shared set-up of the filler and image buffer tests.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "quob32.h"
#include "viewer_defaults.h"

namespace quob::test {

// The viewer's start-up settings.
inline QUOB_FillerParams DefaultParams() { return ViewerDefaults(); }

struct ChangeSet {
    uint8_t flags[QUOB_FP_FIELD_COUNT] = {};
    ChangeSet(std::initializer_list<int> indices) {
        for (int i : indices) flags[i] = 1;
    }
};

// A sample whose one iteration leaves the point itself, so the colour formula sees (re, im).
// With CenterRe = Width >> 1, CenterIm = -(Height >> 1) and Scale = Height, the point of
// sample (x, y) is x - iy: the colour formula "x y = x ret y neg ret 0 ret" draws red x and
// green y.
inline QUOB_FillerParams PointParams(int32_t width, int32_t height, const char *color) {
    QUOB_FillerParams p = DefaultParams();
    p.Width = width;
    p.Height = height;
    p.FractalFormula = "tx ty x y = x ret y ret";
    p.ColorFormula = color;
    p.CenterRe = width >> 1;
    p.CenterIm = -(height >> 1);
    p.Scale = height;
    p.MaxModule = 1e30f;
    p.Differential = 0;
    p.IterationsLimit = 1;
    p.BlockLength = 1;
    return p;
}

// Deletes the filler and every image buffer when a test ends.
class RenderTest : public ::testing::Test {
  protected:
    void TearDown() override {
        for (int32_t h = 1; h <= 1024; ++h) QUOB_DeleteIBuffer(h);
        QUOB_DeleteFiller(1);
    }

    // Picture row y (0 = top) of a buffer's bottom-up pixels.
    static std::vector<uint32_t> Pixels(int32_t buffer) {
        QUOB_IBufferInfo info{};
        if (!QUOB_GetIBuffer(buffer, &info)) return {};
        std::vector<uint32_t> top(static_cast<std::size_t>(info.Width) * info.Height);
        const auto *bits = static_cast<const uint32_t *>(info.Bits);
        for (int32_t y = 0; y < info.Height; ++y)
            std::memcpy(&top[static_cast<std::size_t>(y) * info.Width],
                        bits + static_cast<std::size_t>(info.Height - 1 - y) * info.Width,
                        4 * static_cast<std::size_t>(info.Width));
        return top;
    }
};

}  // namespace quob::test
