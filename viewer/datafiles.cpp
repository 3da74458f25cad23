#include "datafiles.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "whole_file.h"

namespace {

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The length a UTF-8 sequence announces by its lead byte; 1 for bytes that lead nothing.
size_t SequenceLength(unsigned char lead) {
    if (lead >= 0xF0 && lead < 0xF8) return 4;
    if (lead >= 0xE0) return lead < 0xF0 ? 3 : 1;
    if (lead >= 0xC0) return 2;
    return 1;
}

QString Reason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

}  // namespace

// ---- Texts in fixed fields ---------------------------------------------------------------------

size_t Utf8CutLength(const char *text, size_t length, size_t limit) {
    if (length <= limit) return length;
    // Find the lead byte of the character that the cut falls into (at most 3 bytes back).
    size_t start = limit;
    while (start > 0 && limit - start < 3 && IsContinuation(text[start])) --start;
    const auto lead = static_cast<unsigned char>(text[start]);
    if (IsContinuation(lead)) return limit;  // stray bytes: no character to keep whole
    return start + SequenceLength(lead) > limit ? start : limit;
}

void StoreText(char *field, size_t size, const QByteArray &text) {
    const size_t length = Utf8CutLength(text.constData(), size_t(text.size()), size - 1);
    std::memcpy(field, text.constData(), length);
    std::memset(field + length, 0, size - length);
}

QByteArray FieldText(const char *field, size_t size) {
    const void *nul = std::memchr(field, 0, size);
    const size_t length =
        nul ? size_t(static_cast<const char *>(nul) - field) : Utf8CutLength(field, size, size - 1);
    return QByteArray(field, qsizetype(length));
}

long double LoadExtended(const TExtended &bytes) {
    long double value = 0;  // the bytes beyond the ten of the format stay zero
    std::memcpy(&value, bytes, sizeof bytes);
    return value;
}

void StoreExtended(TExtended &bytes, long double value) {
    std::memcpy(bytes, &value, sizeof bytes);
}

// ---- The records of the lists ------------------------------------------------------------------

TExprEntry TExprEntry::Make(const QByteArray &expression, const QByteArray &comment) {
    TExprEntry entry;
    StoreText(entry.Expression, TextSize, expression);
    StoreText(entry.Comment, TextSize, comment);
    return entry;
}

TExprEntry TExprEntry::Read(const char *record) {
    TExprEntry bytes;
    std::memcpy(&bytes, record, sizeof bytes);
    return Make(FieldText(bytes.Expression, TextSize), FieldText(bytes.Comment, TextSize));
}

THotEntry THotEntry::Make(const QByteArray &comment, long double re, long double im,
                          long double scale) {
    THotEntry entry = {};
    StoreExtended(entry.Re, re);
    StoreExtended(entry.Im, im);
    StoreExtended(entry.Scale, scale);
    StoreText(entry.Comment, CommentSize, comment);
    return entry;
}

THotEntry THotEntry::Read(const char *record) {
    THotEntry entry;
    std::memcpy(&entry, record, sizeof entry);
    StoreText(entry.Comment, CommentSize, FieldText(entry.Comment, CommentSize));
    return entry;
}

QString DisplayLine(const TExprEntry &entry) {
    char line[TExprEntry::TextSize];
    StoreText(line, sizeof line,
              FieldText(entry.Comment, sizeof entry.Comment) + " (" +
                  FieldText(entry.Expression, sizeof entry.Expression) + ")");
    return QString::fromUtf8(line);
}

QString DisplayLine(const THotEntry &entry) {
    return QString::fromUtf8(FieldText(entry.Comment, sizeof entry.Comment));
}

// ---- Stored lists ------------------------------------------------------------------------------

QString ReadRecords(const char *fileName, size_t recordSize, QByteArray &records) {
    records.clear();
    std::FILE *const file = std::fopen(fileName, "rb");
    if (!file) return Reason(errno);
    std::vector<char> record(recordSize);
    while (std::fread(record.data(), recordSize, 1, file) == 1)
        records.append(record.data(), qsizetype(recordSize));
    // A directory opens, and then fails to read.
    const int error = std::ferror(file) ? (errno ? errno : EIO) : 0;
    std::fclose(file);
    if (error) records.clear();
    return error ? Reason(error) : QString();
}

TListFile::TListFile(const char *fileName, size_t recordSize, int32_t capacity, TReport report)
    : recordSize(recordSize), capacity(capacity), report(std::move(report)) {
    StoreText(this->fileName, NameSize, QByteArray(fileName));
}

void TListFile::Read(const std::function<void(const char *record)> &take) {
    QByteArray records;
    (void)ReadRecords(fileName, recordSize, records);  // a file that cannot be read: no records
    surplus.clear();
    const qsizetype size = qsizetype(recordSize);
    for (qsizetype at = 0, n = 0; at < records.size(); at += size, ++n) {
        if (n < capacity)
            take(records.constData() + at);
        else
            surplus.append(records.constData() + at, size);
    }
}

QByteArray TListFile::ReadOther(const char *otherName) const {
    QByteArray records;
    const QString reason = ReadRecords(otherName, recordSize, records);
    if (!reason.isEmpty())
        report(QString("Cannot read \"%1\". %2. The list is unchanged")
                   .arg(QFileInfo(QFile::decodeName(otherName)).absoluteFilePath(), reason));
    return records;
}

void TListFile::ReportRefused(const char *otherName, int32_t refused) const {
    report(QString("%1 of \"%2\" did not fit: the list holds at most %3 entries")
               .arg(refused == 1 ? QString("1 entry") : QString("%1 entries").arg(refused),
                    QFileInfo(QFile::decodeName(otherName)).absoluteFilePath())
               .arg(capacity));
}

void TListFile::Write(const void *entries, int32_t count) const {
    const QByteArray bytes =
        QByteArray(static_cast<const char *>(entries), qsizetype(recordSize) * count) + surplus;
    std::string reason;
    if (!quob::common::WriteWholeFile(fileName, std::string_view(bytes.constData(), bytes.size()),
                                      reason))
        report(QString("Cannot save \"%1\". %2. The file keeps its previous contents")
                   .arg(QFileInfo(QFile::decodeName(fileName)).absoluteFilePath(),
                        QString::fromLocal8Bit(reason)));
}
