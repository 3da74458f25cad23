// How closely two pictures agree: the share of pixels whose red, green and blue each differ by
// at most a given percentage of 255. Pictures drawn with the linear approximation are held to it
// against those of every iteration.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace quob::common {

inline double ShareOfClosePixels(const std::vector<uint32_t> &a, const std::vector<uint32_t> &b,
                                 int percent = 6) {
    std::size_t close = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        bool near = true;
        for (int shift = 0; shift < 24; shift += 8) {
            const int d =
                static_cast<int>(a[i] >> shift & 0xFF) - static_cast<int>(b[i] >> shift & 0xFF);
            near = near && std::abs(d) * 100 <= percent * 255;
        }
        close += near;
    }
    return a.empty() ? 1.0 : static_cast<double>(close) / static_cast<double>(a.size());
}

}  // namespace quob::common
