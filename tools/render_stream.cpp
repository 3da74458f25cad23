// The band pipeline and the temporary file it writes.
#include "render_stream.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

namespace quob::tools {

int32_t BandRowsFor(int32_t width) { return std::clamp<int32_t>((1 << 20) / width, 1, 64); }

bool StreamBands(TBandProducer &producer, common::TPictureWriter &writer,
                 std::atomic<int64_t> &rowsWritten) {
    const int32_t height = producer.Height();
    std::vector<uint32_t> band(static_cast<std::size_t>(producer.BandRows()) *
                               static_cast<std::size_t>(producer.Width()));
    for (int32_t top = 0; top < height; top += producer.BandRows()) {
        const int32_t rows = std::min(producer.BandRows(), height - top);
        if (!producer.Next(band.data()) || !writer.Rows(band.data(), rows)) return false;
        rowsWritten.store(top + rows, std::memory_order_relaxed);
    }
    return writer.Finish();
}

TPartialFile::TPartialFile(std::string path)
    : path_(std::move(path)), temporary_(path_ + ".partial-XXXXXX") {
    fd_ = mkstemp(temporary_.data());
    if (fd_ < 0) return;
    // mkstemp makes the file private; the picture gets the permissions of any new file.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd_, 0666 & ~mask);
}

TPartialFile::~TPartialFile() {
    if (fd_ < 0) return;
    close(fd_);
    unlink(temporary_.c_str());
}

bool TPartialFile::Commit() {
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0 || std::rename(temporary_.c_str(), path_.c_str()) != 0) {
        const int error = errno;
        unlink(temporary_.c_str());
        errno = error;
        return false;
    }
    return true;
}

}  // namespace quob::tools
