// A straightforward renderer in C++ long double with the filler's and the buffers' semantics:
// the pictures the library must produce, bit for bit, for formulas written out by hand.
#pragma once
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <vector>

namespace quob::reference {

struct View {
    int32_t width = 0, height = 0;
    double centerRe = -0.5, centerIm = 0, scale = 2;
    float maxModule = 2, differential = 0.001f;
    int32_t iterationsLimit = 20, recursionInit = 0, blockLength = 20;
    uint32_t escapeColor = 0x00FFFFFF;
    int32_t escapeTakesColor = 0;
};

// Fractal: void(long double &tx, long double &ty, long double x, long double y), one iteration.
// Color: void(long double x, long double y, long double out[3]).
template <class Fractal, class Color>
class Renderer {
  public:
    Renderer(const View &view, Fractal fractal, Color color)
        : v_(view), fractal_(fractal), color_(color) {
        step_ = static_cast<double>(static_cast<long double>(v_.scale) / v_.height);
    }

    // The sample's colour; also adds the number of iterations it runs to *iterations.
    uint32_t Sample(int32_t px, int32_t py, int64_t *iterations = nullptr) const {
        const long double re = static_cast<long double>(px - (v_.width >> 1)) * step_ + v_.centerRe;
        const long double im =
            v_.centerIm - static_cast<long double>(py - (v_.height >> 1)) * step_;
        long double tx = v_.recursionInit == 0 ? re : 0.0L;
        long double ty = v_.recursionInit == 0 ? im : 0.0L;
        float previous = 0;
        const int32_t limit = std::max(v_.iterationsLimit, 1);
        for (int32_t pass = 0; pass < limit; ++pass) {
            // The x87 status flags of the block; +m keeps the block's arithmetic between them.
            asm volatile("fnclex" : "+m"(tx), "+m"(ty)::"memory");
            for (int32_t i = 0; i < v_.blockLength; ++i) fractal_(tx, ty, re, im);
            if (iterations) *iterations += v_.blockLength;
            uint16_t status;
            asm volatile("fnstsw %0" : "=m"(status), "+m"(tx), "+m"(ty)::"memory");
            if (status & 0x0F) return v_.escapeColor;  // invalid, denormal, zero divide, overflow
            const long double m = std::fabs(tx) + std::fabs(ty);
            if (m > v_.maxModule) {
                if (v_.escapeTakesColor) return v_.escapeColor;
                break;
            }
            if (std::fabs(m - previous) < v_.differential) break;
            previous = static_cast<float>(m);
        }
        long double out[3];
        color_(tx, ty, out);
        return Channel(out[0]) << 16 | Channel(out[1]) << 8 | Channel(out[2]);
    }

    // Pictures top row first.
    std::vector<uint32_t> Plain() const {
        std::vector<uint32_t> picture(Size());
        for (int32_t y = 0; y < v_.height; ++y)
            for (int32_t x = 0; x < v_.width; ++x) picture[Index(x, y)] = Sample(x, y);
        return picture;
    }

    // Each of the (W + 1) x (H + 1) corner samples computed once.
    std::vector<uint32_t> Smoothed() const {
        const std::size_t across = static_cast<std::size_t>(v_.width) + 1;
        std::vector<uint32_t> corners(across * (v_.height + 1));
        for (int32_t y = 0; y <= v_.height; ++y)
            for (int32_t x = 0; x <= v_.width; ++x) corners[y * across + x] = Sample(x, y);
        std::vector<uint32_t> picture(Size());
        for (int32_t y = 0; y < v_.height; ++y)
            for (int32_t x = 0; x < v_.width; ++x) {
                const uint32_t *upper = &corners[y * across + x];
                const uint32_t s[4] = {upper[0], upper[1], upper[across], upper[across + 1]};
                uint32_t pixel = 0;
                for (int shift = 0; shift <= 16; shift += 8) {
                    uint32_t sum = 0;
                    for (uint32_t c : s) sum += c >> shift & 0xFF;
                    pixel |= sum / 4 << shift;
                }
                picture[Index(x, y)] = pixel;
            }
        return picture;
    }

    // One sample per 10 x 10 block, at the block's centre.
    std::vector<uint32_t> Preview() const {
        std::vector<uint32_t> picture(Size());
        for (int32_t top = 0; top < v_.height; top += 10)
            for (int32_t left = 0; left < v_.width; left += 10) {
                const uint32_t colour = Sample(left + 5, top + 5);
                for (int32_t y = top; y < std::min(top + 10, v_.height); ++y)
                    for (int32_t x = left; x < std::min(left + 10, v_.width); ++x)
                        picture[Index(x, y)] = colour;
            }
        return picture;
    }

  private:
    std::size_t Size() const { return static_cast<std::size_t>(v_.width) * v_.height; }
    std::size_t Index(int32_t x, int32_t y) const {
        return static_cast<std::size_t>(y) * v_.width + x;
    }

    static uint32_t Channel(long double v) {
        if (!std::isfinite(v) || std::fabs(v) >= 4e18L) return 0;
        const long long n = std::llrint(v);            // to nearest, ties to even
        if (n > INT32_MAX || n < INT32_MIN) return 0;  // what a 32-bit integer store refuses
        return static_cast<uint32_t>(std::clamp(n, 0LL, 255LL));
    }

    View v_;
    Fractal fractal_;
    Color color_;
    double step_;
};

template <class Fractal, class Color>
Renderer<Fractal, Color> MakeRenderer(const View &view, Fractal fractal, Color color) {
    return Renderer<Fractal, Color>(view, fractal, color);
}

// "tx ty x y = x ty sqr tx sqr -+ret y 2 tx ty **+ret"
inline void Mandelbrot(long double &tx, long double &ty, long double x, long double y) {
    const long double re = x + (tx * tx - ty * ty);
    ty = y + 2 * (tx * ty);
    tx = re;
}

// "x y = x y * abs sqrt sqrt sqrt sqrt sqrt copy ret sqrt sqrt copy ret sqrt sqrt ret"
inline void Roots(long double x, long double y, long double out[3]) {
    long double v = std::fabs(x * y);
    for (int i = 0; i < 5; ++i) v = std::sqrt(v);
    out[0] = v;
    v = std::sqrt(std::sqrt(v));
    out[1] = v;
    out[2] = std::sqrt(std::sqrt(v));
}

}  // namespace quob::reference
