#include "datafiles.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "whole_file.h"

using quob::common::DigitsLine;
using quob::common::FieldText;
using quob::common::StoreText;

namespace {

QString Reason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

QString AbsolutePath(const char *fileName) {
    return QFileInfo(QFile::decodeName(fileName)).absoluteFilePath();
}

void ReportUnsaved(const TReport &report, const char *fileName, const std::string &reason) {
    report(QString("Cannot save \"%1\". %2. The file keeps its previous contents")
               .arg(AbsolutePath(fileName), QString::fromLocal8Bit(reason)));
}

std::string RecordBytes(const THotEntry &entry) {
    return std::string(reinterpret_cast<const char *>(&entry), sizeof entry);
}

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
        ReportUnsaved(report, fileName, reason);
}

// ---- The saved positions -----------------------------------------------------------------------

THotList::THotList(const char *fileName, TReport report)
    : records(std::make_unique<TStoredList<THotEntry>>(fileName, report)),
      digits(size_t(records->Count())),
      companion(quob::common::DigitsFileName(fileName)),
      report(std::move(report)) {
    std::string contents;
    if (const int error = quob::common::ReadWholeFile(companion, contents)) {
        readable = error == ENOENT;
        if (!readable)
            this->report(QString("Cannot read \"%1\". %2. The digits of the saved positions in it "
                                 "are not used, and the file is left as it is")
                             .arg(AbsolutePath(companion.c_str()), Reason(error)));
        return;
    }
    digits =
        quob::common::AttachDigits(Records(), quob::common::DigitsFileLines(contents), unattached);
}

THotList::~THotList() {
    const std::vector<std::string> lines = quob::common::DigitsLines(Records(), digits, unattached);
    records.reset();
    if (!readable) return;
    // A companion that exists is written even when no line is left for it, as its header alone,
    // so that a link stays a link and the file keeps its permissions.
    if (lines.empty() && !QFileInfo::exists(QFile::decodeName(companion.c_str()))) return;
    std::string reason;
    if (!quob::common::WriteWholeFile(companion, quob::common::DigitsFileContents(lines), reason))
        ReportUnsaved(report, companion.c_str(), reason);
}

bool THotList::Add(const THotEntry &entry, const TDigits &digits) {
    if (!records->Add(entry)) return false;
    const auto fits = [](const std::string &text) {
        return text.empty() || quob::common::IsDecimalText(text);
    };
    const bool kept = fits(digits.re) && fits(digits.im) && fits(digits.scale);
    this->digits.push_back(kept ? digits : TDigits{});
    return true;
}

int32_t THotList::Import(const char *otherName) {
    // The digits of the first record of each bytes in the other list: only such records are
    // appended.
    const std::string otherCompanion = quob::common::DigitsFileName(otherName);
    std::string contents;
    const int error = quob::common::ReadWholeFile(otherCompanion, contents);
    if (error && error != ENOENT)
        report(QString("Cannot read \"%1\". %2. The entries are imported without their digits")
                   .arg(AbsolutePath(otherCompanion.c_str()), Reason(error)));
    std::map<std::string, TDigits> brought;
    for (const std::string &text : quob::common::DigitsFileLines(contents)) {
        DigitsLine line;
        if (quob::common::ParseDigitsLine(text, line) && line.ordinal == 0)
            brought.emplace(std::move(line.record), std::move(line.digits));
    }
    return records->Import(otherName, [this, &brought](const THotEntry &entry) {
        const auto found = brought.find(RecordBytes(entry));
        digits.push_back(found != brought.end() ? found->second : TDigits{});
    });
}

void THotList::Delete(int32_t index) {
    if (index < 0 || index >= Count()) return;
    records->Delete(index);
    digits.erase(digits.begin() + index);
}

std::vector<std::string> THotList::Records() const {
    std::vector<std::string> bytes;
    bytes.reserve(size_t(Count()));
    for (int32_t i = 0; i < Count(); ++i) bytes.push_back(RecordBytes(Entry(i)));
    return bytes;
}
