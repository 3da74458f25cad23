// Picture files, written row by row: 24-bit bitmaps in place, PNG through libpng.
#include "picture_files.h"

#include <fcntl.h>
#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

namespace quob::common {
namespace {

void Put16(uint8_t *at, uint32_t v) {
    at[0] = v & 0xFF;
    at[1] = v >> 8 & 0xFF;
}

void Put32(uint8_t *at, uint32_t v) {
    Put16(at, v & 0xFFFF);
    Put16(at + 2, v >> 16);
}

uint64_t BmpRowSize(int32_t width) { return (static_cast<uint64_t>(width) * 24 + 31) / 32 * 4; }

// All of the bytes at the offset; false with errno set.
bool WriteAt(int fd, const uint8_t *data, std::size_t length, uint64_t offset) {
    while (length > 0) {
        const ssize_t n = pwrite(fd, data, length, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        data += n;
        length -= static_cast<std::size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

}  // namespace

bool TPictureWriter::Fail(int error) {
    error_ = error;
    return false;
}

uint64_t BmpFileSize(int32_t width, int32_t height) {
    return 54 + BmpRowSize(width) * static_cast<uint64_t>(height);
}

// ---- TBmpWriter -------------------------------------------------------------------------------

TBmpWriter::TBmpWriter(int fd, int32_t width, int32_t height)
    : fd_(fd), width_(width), height_(height), rowSize_(BmpRowSize(width)) {
    const uint64_t size = BmpFileSize(width, height);
    if (size > kMaxBmpFileSize) {
        Fail(EFBIG);
        return;
    }
    uint8_t header[54] = {'B', 'M'};
    Put32(header + 2, static_cast<uint32_t>(size));
    Put32(header + 10, 54);  // after two reserved 16-bit fields
    Put32(header + 14, 40);
    Put32(header + 18, static_cast<uint32_t>(width));
    Put32(header + 22, static_cast<uint32_t>(height));  // positive: bottom-up rows
    Put16(header + 26, 1);
    Put16(header + 28, 24);
    Put32(header + 34, static_cast<uint32_t>(size - 54));  // no compression, then resolutions 0
    if (ftruncate(fd_, static_cast<off_t>(size)) != 0 || !WriteAt(fd_, header, sizeof header, 0))
        Fail(errno);
}

bool TBmpWriter::Rows(const uint32_t *rows, int32_t count) {
    if (error_ != 0) return false;
    if (count < 0 || count > height_ - written_) return Fail(EINVAL);
    // The band's rows lie together in the file, the lowest first.
    band_.resize(static_cast<std::size_t>(rowSize_) * static_cast<std::size_t>(count));
    for (int32_t k = 0; k < count; ++k) {
        const uint32_t *in = rows + static_cast<std::size_t>(k) * static_cast<std::size_t>(width_);
        uint8_t *out = band_.data() + static_cast<std::size_t>(count - 1 - k) * rowSize_;
        for (int32_t x = 0; x < width_; ++x) {
            *out++ = in[x] & 0xFF;
            *out++ = in[x] >> 8 & 0xFF;
            *out++ = in[x] >> 16 & 0xFF;
        }
        std::fill(out, out + (rowSize_ - 3 * static_cast<uint64_t>(width_)), 0);
    }
    const uint64_t offset = 54 + static_cast<uint64_t>(height_ - written_ - count) * rowSize_;
    if (!WriteAt(fd_, band_.data(), band_.size(), offset)) return Fail(errno);
    written_ += count;
    return true;
}

bool TBmpWriter::Finish() {
    if (error_ != 0) return false;
    return written_ == height_ || Fail(EINVAL);
}

// ---- TPngWriter -------------------------------------------------------------------------------

// libpng's output and error functions. An error leaves through png_longjmp to the setjmp of the
// call that caused it; nothing between the two has a destructor to run.
struct TPngOutput {
    static void Write(png_structp png, png_bytep data, std::size_t length) {
        auto *writer = static_cast<TPngWriter *>(png_get_io_ptr(png));
        while (length > 0) {
            const ssize_t n = write(writer->fd_, data, length);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                writer->error_ = errno;
                png_error(png, "write");
            }
            data += n;
            length -= static_cast<std::size_t>(n);
        }
    }
    static void Flush(png_structp) {}
    static void Error(png_structp png, png_const_charp) {
        auto *writer = static_cast<TPngWriter *>(png_get_error_ptr(png));
        if (writer->error_ == 0) writer->error_ = EINVAL;  // libpng's own complaint
        writer->failed_ = true;
        png_longjmp(png, 1);
    }
    static void Warning(png_structp, png_const_charp) {}

    // Everything before the pixels: signature, header, text chunks.
    static void Header(TPngWriter *writer, int32_t height, png_text *chunks, int count) {
        png_structp png = writer->png_;
        png_infop info = writer->info_;
        if (setjmp(png_jmpbuf(png))) return;
        png_set_write_fn(png, writer, Write, Flush);
        png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
        png_set_IHDR(png, info, static_cast<png_uint_32>(writer->width_),
                     static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        // Measured on fractal pictures, row filters cost more time than they save bytes.
        png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
        png_set_compression_level(png, 6);
        png_set_text(png, info, chunks, count);
        png_write_info(png, info);
    }
};

TPngWriter::TPngWriter(int fd, int32_t width, int32_t height, const std::vector<TextChunk> &texts)
    : fd_(fd), width_(width), row_(3 * static_cast<std::size_t>(std::max(width, 0))) {
    png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, this, TPngOutput::Error,
                                   TPngOutput::Warning);
    if (png_) info_ = png_create_info_struct(png_);
    if (!png_ || !info_) {
        failed_ = true;
        Fail(ENOMEM);
        return;
    }
    std::vector<png_text> chunks(texts.size());
    for (std::size_t k = 0; k < texts.size(); ++k) {
        chunks[k].compression = PNG_ITXT_COMPRESSION_NONE;
        chunks[k].key = const_cast<char *>(texts[k].first.c_str());
        chunks[k].text = const_cast<char *>(texts[k].second.c_str());
    }
    TPngOutput::Header(this, height, chunks.data(), static_cast<int>(chunks.size()));
}

TPngWriter::~TPngWriter() { png_destroy_write_struct(&png_, &info_); }

bool TPngWriter::Rows(const uint32_t *rows, int32_t count) {
    if (failed_) return false;
    if (setjmp(png_jmpbuf(png_))) return false;
    for (int32_t k = 0; k < count; ++k) {
        const uint32_t *in = rows + static_cast<std::size_t>(k) * static_cast<std::size_t>(width_);
        png_byte *out = row_.data();
        for (int32_t x = 0; x < width_; ++x) {
            *out++ = in[x] >> 16 & 0xFF;
            *out++ = in[x] >> 8 & 0xFF;
            *out++ = in[x] & 0xFF;
        }
        png_write_row(png_, row_.data());
    }
    return true;
}

bool TPngWriter::Finish() {
    if (failed_) return false;
    if (setjmp(png_jmpbuf(png_))) return false;
    png_write_end(png_, nullptr);  // the text chunks went before the pixels
    return true;
}

// ---- Reading and whole pictures ---------------------------------------------------------------

namespace {

void ReadError(png_structp png, png_const_charp message) {
    *static_cast<std::string *>(png_get_error_ptr(png)) = message;
    png_longjmp(png, 1);
}

void ReadWarning(png_structp, png_const_charp) {}

// After the signature: the chunks up to the pixels.
bool ReadTexts(FILE *file, std::vector<TextChunk> &texts, std::string &error) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &error, ReadError, ReadWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        error = "out of memory";
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_init_io(png, file);
    png_set_sig_bytes(png, 8);
    png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    png_read_info(png, info);
    png_textp text = nullptr;
    const int count = png_get_text(png, info, &text, nullptr);
    for (int k = 0; k < count; ++k) texts.emplace_back(text[k].key, text[k].text);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

}  // namespace

bool ReadPngTexts(const std::string &path, std::vector<TextChunk> &texts, std::string &error) {
    const std::unique_ptr<FILE, int (*)(FILE *)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file) {
        error = std::strerror(errno);
        return false;
    }
    png_byte signature[8];
    if (std::fread(signature, 1, sizeof signature, file.get()) != sizeof signature ||
        png_sig_cmp(signature, 0, sizeof signature) != 0) {
        error = "not a PNG file";
        return false;
    }
    return ReadTexts(file.get(), texts, error);
}

bool WritePng(const std::string &path, const BottomUpPicture &picture,
              const std::vector<TextChunk> &texts) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    TPngWriter writer(fd, picture.width, picture.height, texts);
    bool written = true;
    for (int32_t y = picture.height - 1; written && y >= 0; --y)
        written = writer.Rows(picture.bits + static_cast<std::size_t>(y) * picture.width, 1);
    written = written && writer.Finish();
    const int error = written ? 0 : writer.Error();
    if (close(fd) != 0) return false;
    errno = error;
    return written;
}

}  // namespace quob::common
