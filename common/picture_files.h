// Picture files: 24-bit Windows bitmaps and PNG, written row by row in order from the top, so
// that a picture never has to be held whole. No Qt: the command-line renderer and the viewer
// share them.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct png_struct_def;
struct png_info_def;

namespace quob::common {

// One parameter of the picture, kept in its PNG file as a text chunk: keyword and text.
using TextChunk = std::pair<std::string, std::string>;

// Writes a picture's rows, in order from the top, onto a file descriptor that it does not own.
class TPictureWriter {
  public:
    virtual ~TPictureWriter() = default;
    // `count` rows, top row first, each of the picture's width in colours 0x00RRGGBB. False when
    // the file cannot take them; Error() then holds the errno value.
    virtual bool Rows(const uint32_t *rows, int32_t count) = 0;
    // Completes the file after the last row.
    virtual bool Finish() = 0;
    int Error() const { return error_; }

  protected:
    bool Fail(int error);
    int error_ = 0;
};

// Bytes of a 24-bit bitmap file; a file whose size does not fit its 32-bit size field cannot be
// written.
uint64_t BmpFileSize(int32_t width, int32_t height);
inline constexpr uint64_t kMaxBmpFileSize = 0xFFFFFFFF;

// A 24-bit bitmap laid out as the viewer's "Save picture" writes it: 54 bytes of headers, then
// the rows bottom first, blue-green-red, each padded to a multiple of 4 bytes. The file is sized
// first and each band's rows are written in their place.
class TBmpWriter final : public TPictureWriter {
  public:
    TBmpWriter(int fd, int32_t width, int32_t height);
    bool Rows(const uint32_t *rows, int32_t count) override;
    bool Finish() override;

  private:
    const int fd_;
    const int32_t width_;
    const int32_t height_;
    const uint64_t rowSize_;
    int32_t written_ = 0;  // rows from the top
    std::vector<uint8_t> band_;
};

// An 8-bit RGB PNG written by libpng, the text chunks (iTXt, UTF-8) before the pixels. The same
// picture and texts always give the same bytes: nothing depends on the time or the machine.
class TPngWriter final : public TPictureWriter {
  public:
    TPngWriter(int fd, int32_t width, int32_t height, const std::vector<TextChunk> &texts);
    ~TPngWriter() override;
    TPngWriter(const TPngWriter &) = delete;
    TPngWriter &operator=(const TPngWriter &) = delete;
    bool Rows(const uint32_t *rows, int32_t count) override;
    bool Finish() override;

  private:
    friend struct TPngOutput;
    const int fd_;
    const int32_t width_;
    png_struct_def *png_ = nullptr;
    png_info_def *info_ = nullptr;
    bool failed_ = false;
    std::vector<uint8_t> row_;
};

// The text chunks of a PNG file in file order, those before its pixels. False, with a message,
// when the file cannot be read or is not a PNG.
bool ReadPngTexts(const std::string &path, std::vector<TextChunk> &texts, std::string &error);

// A whole picture held as an image buffer holds it (rows bottom-up, 0x00RRGGBB pixels), written
// as PNG with its text chunks: for a program that keeps its picture in memory. False with errno
// set on failure.
struct BottomUpPicture {
    const uint32_t *bits;
    int32_t width;
    int32_t height;
};
bool WritePng(const std::string &path, const BottomUpPicture &picture,
              const std::vector<TextChunk> &texts);

}  // namespace quob::common
