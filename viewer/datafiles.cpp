#include "datafiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dlgcommon.h"
#include "main.h"

namespace {

QString Reason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// The file that a name stands for: a symbolic link's target, so that the link stays a link.
std::string Target(const QByteArray &name) {
    char *const resolved = realpath(name.constData(), nullptr);
    if (!resolved) return name.toStdString();  // no file yet (or a dangling link): the name
    const std::string target = resolved;
    std::free(resolved);
    return target;
}

// Writes all bytes; 0 or the error.
int WriteAll(int fd, const QByteArray &bytes) {
    const char *next = bytes.constData();
    size_t left = size_t(bytes.size());
    while (left > 0) {
        const ssize_t written = write(fd, next, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return written < 0 ? errno : EIO;
        next += written;
        left -= size_t(written);
    }
    return 0;
}

}  // namespace

QString WriteFileWhole(const QString &fileName, const QByteArray &bytes) {
    const std::string target = Target(QFile::encodeName(fileName));
    struct stat old;
    const bool exists = stat(target.c_str(), &old) == 0;
    // Renaming over a directory or a device would replace it rather than write into it.
    if (exists && !S_ISREG(old.st_mode)) return "Not a regular file";

    // A short name of its own in the target's folder, created afresh so that the umask applies.
    const std::string folder = target.substr(0, target.rfind('/') + 1);  // "" for the current
    static unsigned serial = 0;
    std::string temporary;
    int fd;
    do {
        temporary = folder + ".spiralis-" + std::to_string(getpid()) + "-" +
                    std::to_string(++serial) + ".tmp";
        fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EEXIST);
    if (fd < 0) return Reason(errno);
    // The old file's permissions; a file system that keeps none leaves the defaults.
    if (exists) (void)fchmod(fd, old.st_mode & 07777);

    int error = WriteAll(fd, bytes);
    if (!error && fsync(fd) != 0) error = errno;
    if (close(fd) != 0 && !error) error = errno;
    if (!error && rename(temporary.c_str(), target.c_str()) != 0) error = errno;
    if (error) {
        unlink(temporary.c_str());
        return Reason(error);
    }
    return {};
}

TListFile::TListFile(const char *fileName, size_t recordSize, int32_t capacity)
    : recordSize(recordSize), capacity(capacity) {
    StoreText(this->fileName, NameSize, QByteArray(fileName));
}

void TListFile::Read(const std::function<void(const char *record)> &take) {
    surplus.clear();
    std::FILE *const file = std::fopen(fileName, "rb");
    if (!file) return;
    std::vector<char> record(recordSize);
    for (int32_t n = 0; std::fread(record.data(), recordSize, 1, file) == 1; ++n) {
        if (n < capacity)
            take(record.data());
        else
            surplus.append(record.data(), qsizetype(recordSize));
    }
    std::fclose(file);
}

void TListFile::Write(const void *entries, int32_t count) const {
    const QByteArray bytes =
        QByteArray(static_cast<const char *>(entries), qsizetype(recordSize) * count) + surplus;
    const QString reason = WriteFileWhole(QFile::decodeName(fileName), bytes);
    if (!reason.isEmpty())
        ShowGeneralError(
            QString("Cannot save \"%1\". %2. The file keeps its previous contents")
                .arg(QFileInfo(QFile::decodeName(fileName)).absoluteFilePath(), reason));
}
