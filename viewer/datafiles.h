// Files the viewer writes: replaced whole through a temporary file, so that a failure never
// leaves a file cut or empty; and the record files of the lists ("fractals.dat", "cadjusts.dat",
// "hotspots.dat"), which keep the records beyond a list's capacity.
#ifndef SPIRALIS_DATAFILES_H
#define SPIRALIS_DATAFILES_H

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>

// Replaces the contents of a file by bytes: they go to a new file in the same folder, which is
// flushed to the disk and renamed over the old one, so the old file stays byte for byte as it was
// whenever any step fails. A symbolic link is followed and stays a link; a file that exists keeps
// its permissions. Only regular files are replaced. Returns an empty text on success, otherwise
// the reason of the failure.
QString WriteFileWhole(const QString &fileName, const QByteArray &bytes);

// The file of a list: records of one size back to back, without header. Reading hands the list
// its records up to its capacity and keeps the records beyond it aside; writing puts them back
// unchanged after the list's own, so that no record of a longer file from elsewhere is lost. A
// trailing partial record is no record: it is ignored, and gone after the next writing.
class TListFile {
  public:
    TListFile(const char *fileName, size_t recordSize, int32_t capacity);

    // Reads the file; a missing or unreadable one holds no records.
    void Read(const std::function<void(const char *record)> &take);
    // Rewrites the file whole with count records from entries, then the records kept aside. When
    // that fails, the old file stays as it was and a message box names the file and the reason.
    void Write(const void *entries, int32_t count) const;

  private:
    static constexpr size_t NameSize = 257;

    char fileName[NameSize] = {};  // as passed at creation, at most 256 bytes
    const size_t recordSize;
    const int32_t capacity;
    QByteArray surplus;
};

#endif  // SPIRALIS_DATAFILES_H
