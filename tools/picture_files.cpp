// Picture files of quob-render.
#include "picture_files.h"

#include <cstdio>
#include <memory>

#if QUOB_HAVE_ZLIB
#include <zlib.h>
#endif

namespace quob::tools {
namespace {

void Put16(std::vector<uint8_t> &out, uint32_t v) {
    out.push_back(v & 0xFF);
    out.push_back(v >> 8 & 0xFF);
}

void Put32(std::vector<uint8_t> &out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

void Put32BigEndian(std::vector<uint8_t> &out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(v >> shift & 0xFF);
}

const uint32_t *Row(const BottomUpPicture &p, int32_t bottomUpIndex) {
    return p.bits + static_cast<std::size_t>(bottomUpIndex) * p.width;
}

}  // namespace

std::vector<uint8_t> EncodeBmp(const BottomUpPicture &p) {
    const uint32_t rowSize = (static_cast<uint32_t>(p.width) * 24 + 31) / 32 * 4;
    const uint32_t imageSize = rowSize * static_cast<uint32_t>(p.height);
    std::vector<uint8_t> out;
    out.reserve(54 + imageSize);
    out.push_back('B');
    out.push_back('M');
    Put32(out, 54 + imageSize);
    Put32(out, 0);  // two reserved 16-bit fields
    Put32(out, 54);
    Put32(out, 40);
    Put32(out, static_cast<uint32_t>(p.width));
    Put32(out, static_cast<uint32_t>(p.height));  // positive: bottom-up rows
    Put16(out, 1);
    Put16(out, 24);
    Put32(out, 0);  // no compression
    Put32(out, imageSize);
    for (int i = 0; i < 4; ++i) Put32(out, 0);  // resolutions, colours used, important colours
    for (int32_t y = 0; y < p.height; ++y) {
        const uint32_t *row = Row(p, y);
        for (int32_t x = 0; x < p.width; ++x) {
            out.push_back(row[x] & 0xFF);
            out.push_back(row[x] >> 8 & 0xFF);
            out.push_back(row[x] >> 16 & 0xFF);
        }
        out.resize(out.size() + rowSize - 3 * static_cast<uint32_t>(p.width), 0);
    }
    return out;
}

#if QUOB_HAVE_ZLIB

bool PngAvailable() { return true; }

namespace {
void PutChunk(std::vector<uint8_t> &out, const char *type, const std::vector<uint8_t> &data) {
    Put32BigEndian(out, static_cast<uint32_t>(data.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    Put32BigEndian(out, crc32(0, out.data() + start, static_cast<uInt>(out.size() - start)));
}
}  // namespace

std::vector<uint8_t> EncodePng(const BottomUpPicture &p) {
    // Scanlines top row first, each with filter byte 0 (none).
    std::vector<uint8_t> raw;
    raw.reserve(static_cast<std::size_t>(p.height) * (1 + 3 * static_cast<std::size_t>(p.width)));
    for (int32_t y = p.height - 1; y >= 0; --y) {
        raw.push_back(0);
        const uint32_t *row = Row(p, y);
        for (int32_t x = 0; x < p.width; ++x) {
            raw.push_back(row[x] >> 16 & 0xFF);
            raw.push_back(row[x] >> 8 & 0xFF);
            raw.push_back(row[x] & 0xFF);
        }
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::vector<uint8_t> packed(packedSize);
    if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), 6) !=
        Z_OK)
        return {};
    packed.resize(packedSize);

    std::vector<uint8_t> header;
    Put32BigEndian(header, static_cast<uint32_t>(p.width));
    Put32BigEndian(header, static_cast<uint32_t>(p.height));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter, no interlace
    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    PutChunk(out, "IHDR", header);
    PutChunk(out, "IDAT", packed);
    PutChunk(out, "IEND", {});
    return out;
}

#else

bool PngAvailable() { return false; }
std::vector<uint8_t> EncodePng(const BottomUpPicture &) { return {}; }

#endif

bool WriteFile(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::unique_ptr<FILE, int (*)(FILE *)> file(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!file) return false;
    if (std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) return false;
    return std::fclose(file.release()) == 0;
}

}  // namespace quob::tools
