// The stored lists with their record files: the formula libraries ("fractals.dat",
// "cadjusts.dat") and the saved positions ("hotspots.dat"), each file replaced whole through a
// temporary file (whole_file.h) so that a failure never leaves it cut or empty.
#ifndef SPIRALIS_DATAFILES_H
#define SPIRALIS_DATAFILES_H

#include <QByteArray>
#include <QSet>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string_view>
#include <utility>

#include "list_records.h"

// ---- The records of the lists ------------------------------------------------------------------

// The bytes of a text for the records of common/list_records.h.
inline std::string_view AsStringView(const QByteArray &text) {
    return std::string_view(text.constData(), size_t(text.size()));
}

// One formula of a library, also the 2050-byte record of its file: two NUL-terminated UTF-8 texts.
struct TExprEntry : quob::common::TFormulaRecord {
    static constexpr int32_t Capacity = 4097;

    // The pair, each text cut to 1024 bytes on a character boundary.
    static TExprEntry Make(const QByteArray &expression, const QByteArray &comment);
    // A record of the file: each text up to its first NUL, the rest of its field zero.
    static TExprEntry Read(const char *record);
};
static_assert(sizeof(TExprEntry) == 2050);

// One saved position, also the 287-byte record of its file: the view's centre and its scale (not
// the zoom factor) as extended reals, and a NUL-terminated UTF-8 comment. Values read from the
// file keep their ten bytes, so they go back bit for bit.
struct THotEntry : quob::common::TPositionRecord {
    static constexpr int32_t Capacity = 1025;

    // The comment is cut to 256 bytes on a character boundary.
    static THotEntry Make(const QByteArray &comment, long double re, long double im,
                          long double scale);
    static THotEntry Read(const char *record);
};
static_assert(sizeof(THotEntry) == 287);

// The line that a list box shows for an entry: the comment, then the expression in parentheses,
// at most 1024 bytes; for a position its comment alone.
QString DisplayLine(const TExprEntry &entry);
QString DisplayLine(const THotEntry &entry);

// ---- Stored lists ------------------------------------------------------------------------------

// Reports a failure to the user: the message names the file and the reason.
using TReport = std::function<void(const QString &message)>;

// The file of a list: records of one size back to back, without header. Reading hands the list
// its records up to its capacity and keeps the records beyond it aside; writing puts them back
// unchanged after the list's own, so that no record of a longer file from elsewhere is lost. A
// trailing partial record is no record: it is ignored, and gone after the next writing.
class TListFile {
  public:
    TListFile(const char *fileName, size_t recordSize, int32_t capacity, TReport report);

    // Reads the file; a missing or unreadable one holds no records.
    void Read(const std::function<void(const char *record)> &take);
    // Rewrites the file whole with count records from entries, then the records kept aside.
    // When that fails, the old file stays as it was and the report names the file and the reason.
    void Write(const void *entries, int32_t count) const;
    // Reads another file of the same format for an import: its records, or none after a report
    // that names the file and the reason.
    QByteArray ReadOther(const char *otherName) const;
    // Reports the records of an import that did not fit the list.
    void ReportRefused(const char *otherName, int32_t refused) const;

  private:
    static constexpr size_t NameSize = 257;

    char fileName[NameSize] = {};  // as passed at creation, at most 256 bytes
    const size_t recordSize;
    const int32_t capacity;
    const TReport report;
    QByteArray surplus;
};

// A list of entries (TExprEntry or THotEntry) in a fixed block, bound to its file: creating it
// reads the file, destroying it writes the file back whole. It lives while its dialog is shown;
// the dialog's list box shows it.
template <class TEntry>
class TStoredList {
  public:
    static constexpr int32_t Capacity = TEntry::Capacity;

    TStoredList(const char *fileName, TReport report)
        : file(fileName, sizeof(TEntry), Capacity, std::move(report)) {
        file.Read([this](const char *record) { Add(TEntry::Read(record)); });
    }
    ~TStoredList() { file.Write(entries, count); }
    TStoredList(const TStoredList &) = delete;
    TStoredList &operator=(const TStoredList &) = delete;

    int32_t Count() const { return count; }
    const TEntry &Entry(int32_t index) const { return entries[index]; }

    // Appends the entry; a full list refuses it.
    bool Add(const TEntry &entry) {
        if (count >= Capacity) return false;
        entries[count++] = entry;
        return true;
    }
    // Appends the entries of another file of the same format that the list does not hold yet
    // (every byte of the entry alike, texts up to their NUL), in the file's order, as far as the
    // capacity allows; the entries that do not fit are reported. A file that cannot be read is
    // reported and adds nothing. Returns the number of entries added.
    int32_t Import(const char *otherName) {
        const QByteArray records = file.ReadOther(otherName);
        QSet<QByteArray> listed;
        for (int32_t i = 0; i < count; ++i) listed.insert(Bytes(entries[i]));
        int32_t added = 0, refused = 0;
        for (qsizetype at = 0; at < records.size(); at += qsizetype(sizeof(TEntry))) {
            const TEntry entry = TEntry::Read(records.constData() + at);
            const QByteArray bytes = Bytes(entry);
            if (listed.contains(bytes)) continue;
            if (!Add(entry)) {
                ++refused;
                continue;
            }
            listed.insert(bytes);
            ++added;
        }
        if (refused) file.ReportRefused(otherName, refused);
        return added;
    }
    // Removes an entry; the ones after it move down. An index that holds none changes nothing.
    void Delete(int32_t index) {
        if (index < 0 || index >= count) return;
        std::memmove(&entries[index], &entries[index + 1],
                     sizeof(TEntry) * size_t(count - 1 - index));
        --count;
        std::memset(&entries[count], 0, sizeof(TEntry));
    }

  private:
    static QByteArray Bytes(const TEntry &entry) {
        return QByteArray(reinterpret_cast<const char *>(&entry), sizeof entry);
    }

    TEntry entries[Capacity] = {};
    int32_t count = 0;
    TListFile file;
};

using TExprList = TStoredList<TExprEntry>;
using THotList = TStoredList<THotEntry>;

#endif  // SPIRALIS_DATAFILES_H
