// Picture files of quob-render: 24-bit Windows bitmaps and PNG.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace quob::tools {

// A picture as an image buffer holds it: rows bottom-up, 0x00RRGGBB pixels.
struct BottomUpPicture {
    const uint32_t *bits;
    int32_t width;
    int32_t height;
};

// A 24-bit bitmap file laid out as the viewer's "Save picture" writes it: 54 bytes of headers,
// then the rows bottom first, blue-green-red, each padded to a multiple of 4 bytes.
std::vector<uint8_t> EncodeBmp(const BottomUpPicture &picture);

// An 8-bit RGB PNG, top row first. Empty when the encoder is not available (no zlib).
std::vector<uint8_t> EncodePng(const BottomUpPicture &picture);
bool PngAvailable();

// Writes the bytes; false with errno set on failure.
bool WriteFile(const std::string &path, const std::vector<uint8_t> &bytes);

}  // namespace quob::tools
