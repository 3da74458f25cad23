// The band pipeline of quob-render: a producer's bands written to a picture file as they come,
// under a temporary name until the picture is complete.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "bandfill.h"
#include "picture_files.h"

namespace quob::tools {

// Rows of a band of a picture `width` pixels wide: about a million pixels and at most 64 rows,
// so that the few bands in memory stay small whatever the picture's size, and a band's writing
// costs little beside its samples.
int32_t BandRowsFor(int32_t width);

// Takes the producer's bands in order and writes each one at once, counting the rows written.
// False when the producer was stopped or the writer failed (its Error() tells why).
bool StreamBands(TBandProducer &producer, common::TPictureWriter &writer,
                 std::atomic<int64_t> &rowsWritten);

// A file written under a temporary name beside its own ("NAME.partial-XXXXXX") and renamed into
// place by Commit; until then the destructor removes it, so that a render that fails or is
// interrupted leaves no partial picture behind.
class TPartialFile {
  public:
    // Fd() is -1 when the file cannot be created (errno tells why).
    explicit TPartialFile(std::string path);
    ~TPartialFile();
    TPartialFile(const TPartialFile &) = delete;
    TPartialFile &operator=(const TPartialFile &) = delete;

    int Fd() const { return fd_; }
    // Closes the file and gives it its name; false with errno set on failure.
    bool Commit();

  private:
    const std::string path_;
    std::string temporary_;
    int fd_ = -1;
};

}  // namespace quob::tools
