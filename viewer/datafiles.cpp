#include "datafiles.h"

#include <QFile>
#include <QFileInfo>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "whole_file.h"

using quob::common::FieldText;
using quob::common::StoreText;

namespace {

QString Reason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// A field's text for Qt.
QByteArray Text(const char *field, size_t size) {
    const std::string_view text = FieldText(field, size);
    return QByteArray(text.data(), qsizetype(text.size()));
}

// The whole records of a file; empty when the file was read, else the reason why not.
QString ReadRecords(const char *fileName, size_t recordSize, QByteArray &records) {
    std::string bytes;
    const int error = quob::common::ReadRecords(fileName, recordSize, bytes);
    records = QByteArray::fromStdString(bytes);
    return error ? Reason(error) : QString();
}

}  // namespace

// ---- The records of the lists ------------------------------------------------------------------

TExprEntry TExprEntry::Make(const QByteArray &expression, const QByteArray &comment) {
    return {TFormulaRecord::Make(AsStringView(expression), AsStringView(comment))};
}

TExprEntry TExprEntry::Read(const char *record) { return {TFormulaRecord::Read(record)}; }

THotEntry THotEntry::Make(const QByteArray &comment, long double re, long double im,
                          long double scale) {
    return {TPositionRecord::Make(AsStringView(comment), re, im, scale)};
}

THotEntry THotEntry::Read(const char *record) { return {TPositionRecord::Read(record)}; }

QString DisplayLine(const TExprEntry &entry) {
    char line[TExprEntry::TextSize];
    StoreText(line, sizeof line,
              AsStringView(Text(entry.Comment, sizeof entry.Comment) + " (" +
                           Text(entry.Expression, sizeof entry.Expression) + ")"));
    return QString::fromUtf8(line);
}

QString DisplayLine(const THotEntry &entry) {
    return QString::fromUtf8(Text(entry.Comment, sizeof entry.Comment));
}

// ---- Stored lists ------------------------------------------------------------------------------

TListFile::TListFile(const char *fileName, size_t recordSize, int32_t capacity, TReport report)
    : recordSize(recordSize), capacity(capacity), report(std::move(report)) {
    StoreText(this->fileName, NameSize, fileName);
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
    if (!quob::common::WriteWholeFile(fileName, AsStringView(bytes), reason))
        report(QString("Cannot save \"%1\". %2. The file keeps its previous contents")
                   .arg(QFileInfo(QFile::decodeName(fileName)).absoluteFilePath(),
                        QString::fromLocal8Bit(reason)));
}
