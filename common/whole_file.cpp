// Files replaced whole through a temporary file renamed over the old one.
#include "whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace quob::common {

namespace {

constexpr char kPartial[] = ".partial-";
constexpr std::size_t kSuffixLength = 6;
constexpr std::size_t kMaxEntryName = 255;  // bytes of a name in a folder

// The file that a name stands for: a symbolic link's target, so that the link stays a link.
std::string Target(const std::string &name) {
    char *const resolved = realpath(name.c_str(), nullptr);
    if (!resolved) return name;  // no file yet (or a dangling link): the name
    const std::string target = resolved;
    std::free(resolved);
    return target;
}

// Six letters and digits that differ from call to call and from process to process, made
// without opening a file (so that a process without descriptors left gets its reason from open).
std::string Suffix() {
    static std::atomic<uint64_t> calls{0};
    const auto now =
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    uint64_t bits = now ^ static_cast<uint64_t>(getpid()) << 40 ^
                    (calls.fetch_add(1) + 1) * 0x9E3779B97F4A7C15u;
    // Every bit of the inputs reaches the digits (the finish of splitmix64).
    bits = (bits ^ bits >> 30) * 0xBF58476D1CE4E5B9u;
    bits = (bits ^ bits >> 27) * 0x94D049BB133111EBu;
    bits ^= bits >> 31;
    static constexpr char kDigits[] =
        "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    std::string suffix;
    for (std::size_t k = 0; k < kSuffixLength; ++k, bits /= 62) suffix += kDigits[bits % 62];
    return suffix;
}

// "NAME.partial-XXXXXX" beside the target, the name cut so that the whole fits a folder entry.
std::string TemporaryName(const std::string &target) {
    const std::size_t slash = target.rfind('/');
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t room = kMaxEntryName - (sizeof kPartial - 1) - kSuffixLength;
    return target.substr(0, start + std::min(target.size() - start, room)) + kPartial + Suffix();
}

// Writes all bytes; 0 or the error.
int WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return written < 0 ? errno : EIO;
        bytes.remove_prefix(std::size_t(written));
    }
    return 0;
}

}  // namespace

TWholeFile::TWholeFile(const std::string &path) : target_(Target(path)) {
    struct stat old;
    const bool exists = stat(target_.c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode)) {
        error_ = "Not a regular file";
        return;
    }
    // Created afresh, so that the umask applies to a new file.
    do {
        temporary_ = TemporaryName(target_);
        fd_ = open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    } while (fd_ < 0 && errno == EEXIST);
    if (fd_ < 0) {
        Fail(errno);
        return;
    }
    // The old file's permissions; a file system that keeps none leaves the defaults.
    if (exists) (void)fchmod(fd_, old.st_mode & 07777);
}

TWholeFile::~TWholeFile() {
    if (fd_ < 0) return;
    close(fd_);
    unlink(temporary_.c_str());
}

bool TWholeFile::Commit() {
    if (fd_ < 0) return false;
    const int fd = fd_;
    fd_ = -1;
    int error = fsync(fd) != 0 ? errno : 0;
    if (close(fd) != 0 && !error) error = errno;
    if (!error && std::rename(temporary_.c_str(), target_.c_str()) != 0) error = errno;
    if (!error) return true;
    unlink(temporary_.c_str());
    Fail(error);
    return false;
}

void TWholeFile::Fail(int error) { error_ = std::strerror(error); }

bool WriteWholeFile(const std::string &path, const std::function<int(int fd)> &writeContents,
                    std::string &error) {
    TWholeFile file(path);
    if (file.Fd() < 0) {
        error = file.Error();
        return false;
    }
    if (const int failed = writeContents(file.Fd())) {
        error = std::strerror(failed);
        return false;  // the temporary file goes with `file`
    }
    if (!file.Commit()) {
        error = file.Error();
        return false;
    }
    return true;
}

bool WriteWholeFile(const std::string &path, std::string_view bytes, std::string &error) {
    return WriteWholeFile(
        path, [bytes](int fd) { return WriteAll(fd, bytes); }, error);
}

}  // namespace quob::common
