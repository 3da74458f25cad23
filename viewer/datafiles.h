// The stored lists with their record files: the formula libraries ("fractals.dat",
// "cadjusts.dat") and the saved positions ("hotspots.dat", with the digits of their views in
// "hotspots.digits"), each file replaced whole through a temporary file (whole_file.h) so that a
// failure never leaves it cut or empty.
#ifndef SPIRALIS_DATAFILES_H
#define SPIRALIS_DATAFILES_H

#include <QByteArray>
#include <QSet>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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
    // reported and adds nothing. Calls appended for each entry appended, which is then the first
    // entry of its bytes in the list and in the other file. Returns the number of entries added.
    int32_t Import(const char *otherName,
                   const std::function<void(const TEntry &entry)> &appended = nullptr) {
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
            if (appended) appended(entry);
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

// The saved positions, a stored list of THotEntry whose entries each have their PositionDigits,
// kept in the list's companion file (DigitsFileName: "hotspots.digits" beside "hotspots.dat").
// Creating the list reads both files: each line of the companion attaches to the entry that its
// key names. The lines that name no entry (their record was changed or deleted by a program that
// knows only the records, or lies beyond the capacity) and those that do not read stay
// unattached: every writing puts them back unchanged after the lines of the entries, so that
// digits never attach to another position and none are lost. Destroying the list writes the
// record file as TStoredList does, then the companion: none when no line is left and none exists,
// its header alone when no line is left for one that exists. A companion that cannot be read is
// reported and never written.
class THotList {
  public:
    using TDigits = quob::common::PositionDigits;
    static constexpr int32_t Capacity = THotEntry::Capacity;

    THotList(const char *fileName, TReport report);
    ~THotList();
    THotList(const THotList &) = delete;
    THotList &operator=(const THotList &) = delete;

    int32_t Count() const { return records->Count(); }
    const THotEntry &Entry(int32_t index) const { return records->Entry(index); }
    // The entry's digits, empty when its record holds its whole view.
    const TDigits &Digits(int32_t index) const { return digits[size_t(index)]; }
    // The lines of the companion that attach to no entry.
    int32_t Unattached() const { return int32_t(unattached.size()); }

    // Appends the entry with its digits; a full list refuses it. Digits with a text that is
    // neither empty nor a decimal text are not kept.
    bool Add(const THotEntry &entry, const TDigits &digits = {});
    // Appends the entries of another position list as TStoredList::Import does, each with the
    // digits that the other list's companion, if any, attaches to it.
    int32_t Import(const char *otherName);
    // Removes an entry with its digits; an index that holds none changes nothing.
    void Delete(int32_t index);

  private:
    // The entries' bytes, in order.
    std::vector<std::string> Records() const;

    std::unique_ptr<TStoredList<THotEntry>> records;  // written when it is destroyed
    std::vector<TDigits> digits;                      // one for each entry
    std::vector<std::string> unattached;              // verbatim, in the companion's order
    const std::string companion;                      // the companion file's name
    const TReport report;
    bool readable = true;  // the companion was read or is missing
};

#endif  // SPIRALIS_DATAFILES_H
