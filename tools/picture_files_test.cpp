// The layouts of quob-render's picture files.
#include "picture_files.h"

#include <gtest/gtest.h>

#if QUOB_HAVE_ZLIB
#include <zlib.h>
#endif

namespace quob::tools {
namespace {

uint32_t Little32(const std::vector<uint8_t> &b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

uint32_t Big32(const std::vector<uint8_t> &b, std::size_t at) {
    return uint32_t(b[at]) << 24 | b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3];
}

// Bottom-up pixels whose every channel tells where the pixel is.
std::vector<uint32_t> Pattern(int32_t w, int32_t h) {
    std::vector<uint32_t> bits(static_cast<std::size_t>(w) * h);
    for (int32_t row = 0; row < h; ++row)
        for (int32_t x = 0; x < w; ++x)
            bits[row * w + x] = (x * 7 & 0xFF) << 16 | (row * 13 & 0xFF) << 8 | ((x + row) & 0xFF);
    return bits;
}

struct Size {
    int32_t width, height;
    uint32_t rowSize;
};

class BitmapLayout : public ::testing::TestWithParam<Size> {};

TEST_P(BitmapLayout, HeadersAndPaddedRowsBottomFirst) {
    const auto [w, h, rowSize] = GetParam();
    const std::vector<uint32_t> bits = Pattern(w, h);
    const std::vector<uint8_t> file = EncodeBmp({bits.data(), w, h});
    ASSERT_EQ(file.size(), 54 + rowSize * h);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(Little32(file, 2), file.size());
    EXPECT_EQ(Little32(file, 6), 0u);
    EXPECT_EQ(Little32(file, 10), 54u);
    EXPECT_EQ(Little32(file, 14), 40u);
    EXPECT_EQ(Little32(file, 18), uint32_t(w));
    EXPECT_EQ(Little32(file, 22), uint32_t(h));
    EXPECT_EQ(Little32(file, 26), 1u | 24u << 16);  // planes, bits per pixel
    EXPECT_EQ(Little32(file, 30), 0u);
    EXPECT_EQ(Little32(file, 34), rowSize * h);
    for (std::size_t at = 38; at < 54; at += 4) EXPECT_EQ(Little32(file, at), 0u);
    for (int32_t row = 0; row < h; ++row) {
        const std::size_t start = 54 + std::size_t(row) * rowSize;
        for (int32_t x = 0; x < w; ++x) {
            const uint32_t pixel = bits[row * w + x];
            ASSERT_EQ(file[start + 3 * x], pixel & 0xFF);
            ASSERT_EQ(file[start + 3 * x + 1], pixel >> 8 & 0xFF);
            ASSERT_EQ(file[start + 3 * x + 2], pixel >> 16 & 0xFF);
        }
        for (uint32_t pad = 3 * w; pad < rowSize; ++pad) ASSERT_EQ(file[start + pad], 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, BitmapLayout,
                         ::testing::Values(Size{314, 125, 944}, Size{1, 1, 4}, Size{4, 3, 12},
                                           Size{5, 2, 16}, Size{7, 9, 24}));

#if QUOB_HAVE_ZLIB
TEST(Png, ChunksCheckAndPixelsComeBackTopRowFirst) {
    const int32_t w = 37, h = 11;
    const std::vector<uint32_t> bits = Pattern(w, h);
    const std::vector<uint8_t> file = EncodePng({bits.data(), w, h});
    ASSERT_GE(file.size(), 8u);
    EXPECT_EQ(std::vector<uint8_t>(file.begin(), file.begin() + 8),
              (std::vector<uint8_t>{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}));
    std::vector<std::string> types;
    std::vector<uint8_t> header, data;
    for (std::size_t at = 8; at < file.size();) {
        const uint32_t length = Big32(file, at);
        const std::string type(file.begin() + at + 4, file.begin() + at + 8);
        types.push_back(type);
        const uint8_t *body = file.data() + at + 8;
        EXPECT_EQ(Big32(file, at + 8 + length), crc32(0, file.data() + at + 4, length + 4)) << type;
        if (type == "IHDR") header.assign(body, body + length);
        if (type == "IDAT") data.insert(data.end(), body, body + length);
        at += 12 + length;
    }
    EXPECT_EQ(types, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
    ASSERT_EQ(header.size(), 13u);
    EXPECT_EQ(Big32(header, 0), uint32_t(w));
    EXPECT_EQ(Big32(header, 4), uint32_t(h));
    EXPECT_EQ(std::vector<uint8_t>(header.begin() + 8, header.end()),
              (std::vector<uint8_t>{8, 2, 0, 0, 0}));

    std::vector<uint8_t> raw(static_cast<std::size_t>(h) * (1 + 3 * w));
    uLongf rawSize = raw.size();
    ASSERT_EQ(uncompress(raw.data(), &rawSize, data.data(), data.size()), Z_OK);
    ASSERT_EQ(rawSize, raw.size());
    for (int32_t y = 0; y < h; ++y) {
        const uint8_t *line = raw.data() + std::size_t(y) * (1 + 3 * w);
        ASSERT_EQ(line[0], 0);  // no filter
        for (int32_t x = 0; x < w; ++x) {
            const uint32_t pixel = bits[(h - 1 - y) * w + x];
            ASSERT_EQ(line[1 + 3 * x], pixel >> 16 & 0xFF);
            ASSERT_EQ(line[2 + 3 * x], pixel >> 8 & 0xFF);
            ASSERT_EQ(line[3 + 3 * x], pixel & 0xFF);
        }
    }
}
#endif

}  // namespace
}  // namespace quob::tools
