// The list files' records, their texts in fixed fields, the positions' digits beside them, and the
// choice of an entry.
#include "list_records.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <utility>

namespace quob::common {

namespace {

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The length a UTF-8 sequence announces by its lead byte; 1 for bytes that lead nothing.
std::size_t SequenceLength(unsigned char lead) {
    if (lead >= 0xF0 && lead < 0xF8) return 4;
    if (lead >= 0xE0) return lead < 0xF0 ? 3 : 1;
    if (lead >= 0xC0) return 2;
    return 1;
}

// The text whole in a field of size bytes, with its NUL; false when it does not fit.
bool Fits(const std::string &text, std::size_t size) {
    return text.size() < size && text.find('\0') == std::string::npos;
}

template <class TRecord>
std::string Bytes(const TRecord &record) {
    return std::string(reinterpret_cast<const char *>(&record), sizeof record);
}

// Calls take for every whole record of the file.
template <class Take>
bool ReadFile(const std::string &path, std::size_t size, std::string &error, Take take) {
    std::string records;
    if (const int failed = ReadRecords(path, size, records)) {
        error = std::strerror(failed);
        return false;
    }
    for (std::size_t at = 0; at < records.size(); at += size) take(records.data() + at);
    return true;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The fields of text between its spaces, each space ending one.
std::vector<std::string_view> SplitAtSpaces(std::string_view text) {
    std::vector<std::string_view> fields;
    for (std::size_t space; (space = text.find(' ')) != std::string_view::npos;
         text.remove_prefix(space + 1))
        fields.push_back(text.substr(0, space));
    fields.push_back(text);
    return fields;
}

// Each record's ordinal among the records of its bytes, 0 for the first.
std::vector<uint32_t> Ordinals(const std::vector<std::string> &records) {
    std::vector<uint32_t> ordinals;
    std::map<std::string_view, uint32_t> seen;
    for (const std::string &record : records) ordinals.push_back(seen[record]++);
    return ordinals;
}

std::string Lower(std::string text) {
    for (char &c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool WordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c & 0x80; }

// True when the phrase stands in the text as whole words.
bool ContainsWords(const std::string &text, const std::string &phrase) {
    for (std::size_t at = text.find(phrase); at != std::string::npos;
         at = text.find(phrase, at + 1)) {
        const std::size_t end = at + phrase.size();
        if ((at == 0 || !WordChar(text[at - 1])) && (end == text.size() || !WordChar(text[end])))
            return true;
    }
    return false;
}

// "N: name", for lists of candidates.
std::string Candidate(const std::vector<std::string> &comments, std::size_t i) {
    std::string name = EntryName(comments[i]);
    if (name.size() > 60) name = name.substr(0, 57) + "...";
    return "\n  " + std::to_string(i + 1) + ": " + name;
}

}  // namespace

// ---- Texts in fixed fields ---------------------------------------------------------------------

std::size_t Utf8CutLength(const char *text, std::size_t length, std::size_t limit) {
    if (length <= limit) return length;
    // Find the lead byte of the character that the cut falls into (at most 3 bytes back).
    std::size_t start = limit;
    while (start > 0 && limit - start < 3 && IsContinuation(text[start])) --start;
    const auto lead = static_cast<unsigned char>(text[start]);
    if (IsContinuation(lead)) return limit;  // stray bytes: no character to keep whole
    return start + SequenceLength(lead) > limit ? start : limit;
}

void StoreText(char *field, std::size_t size, std::string_view text) {
    const std::size_t length = Utf8CutLength(text.data(), text.size(), size - 1);
    std::memcpy(field, text.data(), length);
    std::memset(field + length, 0, size - length);
}

std::string_view FieldText(const char *field, std::size_t size) {
    const void *nul = std::memchr(field, 0, size);
    const std::size_t length = nul ? std::size_t(static_cast<const char *>(nul) - field)
                                   : Utf8CutLength(field, size, size - 1);
    return std::string_view(field, length);
}

long double LoadExtended(const TExtended &bytes) {
    long double value = 0;  // the bytes beyond the ten of the format stay zero
    std::memcpy(&value, bytes, sizeof bytes);
    return value;
}

void StoreExtended(TExtended &bytes, long double value) {
    std::memcpy(bytes, &value, sizeof bytes);
}

// ---- Records -----------------------------------------------------------------------------------

TFormulaRecord TFormulaRecord::Make(std::string_view expression, std::string_view comment) {
    TFormulaRecord record;
    StoreText(record.Expression, TextSize, expression);
    StoreText(record.Comment, TextSize, comment);
    return record;
}

TFormulaRecord TFormulaRecord::Read(const char *bytes) {
    TFormulaRecord record;
    std::memcpy(&record, bytes, sizeof record);
    return Make(FieldText(record.Expression, TextSize), FieldText(record.Comment, TextSize));
}

TPositionRecord TPositionRecord::Make(std::string_view comment, long double re, long double im,
                                      long double scale) {
    TPositionRecord record = {};
    StoreExtended(record.Re, re);
    StoreExtended(record.Im, im);
    StoreExtended(record.Scale, scale);
    StoreText(record.Comment, CommentSize, comment);
    return record;
}

TPositionRecord TPositionRecord::Read(const char *bytes) {
    TPositionRecord record;
    std::memcpy(&record, bytes, sizeof record);
    StoreText(record.Comment, CommentSize, FieldText(record.Comment, CommentSize));
    return record;
}

int ReadRecords(const std::string &path, std::size_t recordSize, std::string &records) {
    records.clear();
    std::FILE *const file = std::fopen(path.c_str(), "rb");
    if (!file) return errno;
    std::string record(recordSize, '\0');
    while (std::fread(record.data(), recordSize, 1, file) == 1) records += record;
    // A folder opens, and then fails to read.
    const int error = std::ferror(file) ? (errno ? errno : EIO) : 0;
    std::fclose(file);
    if (error) records.clear();
    return error;
}

// ---- The digits of saved positions -------------------------------------------------------------

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsDecimalText(std::string_view text) {
    std::size_t at = 0;
    const auto digits = [&] {
        const std::size_t from = at;
        while (at < text.size() && IsDigit(text[at])) ++at;
        return at - from;
    };
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
    std::size_t mantissa = digits();
    if (at < text.size() && text[at] == '.') {
        ++at;
        mantissa += digits();
    }
    if (mantissa == 0) return false;
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        ++at;
        if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
        if (digits() == 0) return false;
    }
    return at == text.size();
}

std::string DigitsFileName(const std::string &listName) {
    constexpr std::string_view dat = ".dat";
    const bool dated = listName.size() >= dat.size() &&
                       listName.compare(listName.size() - dat.size(), dat.size(), dat) == 0;
    return (dated ? listName.substr(0, listName.size() - dat.size()) : listName) + ".digits";
}

std::string FormatDigitsLine(const DigitsLine &line) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * line.record.size() + line.digits.re.size() + line.digits.im.size() +
                 line.digits.scale.size() + 16);
    for (const char c : line.record) {
        text += hex[static_cast<unsigned char>(c) >> 4];
        text += hex[static_cast<unsigned char>(c) & 15];
    }
    text += ' ' + std::to_string(line.ordinal) + ' ' + line.digits.re + ' ' + line.digits.im + ' ' +
            line.digits.scale;
    return text;
}

bool ParseDigitsLine(std::string_view text, DigitsLine &line) {
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    const std::vector<std::string_view> fields = SplitAtSpaces(text);
    if (fields.size() != 5 || fields[0].size() != 2 * sizeof(TPositionRecord)) return false;
    std::string record(sizeof(TPositionRecord), '\0');
    for (std::size_t i = 0; i < record.size(); ++i) {
        const int high = HexDigitValue(fields[0][2 * i]), low = HexDigitValue(fields[0][2 * i + 1]);
        if (high < 0 || low < 0) return false;
        record[i] = char(high << 4 | low);
    }
    // At most 9 digits: more than any list holds records, and within 32 bits.
    const std::string_view ordinal = fields[1];
    if (ordinal.empty() || ordinal.size() > 9 || (ordinal.size() > 1 && ordinal[0] == '0'))
        return false;
    uint32_t value = 0;
    for (const char c : ordinal) {
        if (!IsDigit(c)) return false;
        value = value * 10 + uint32_t(c - '0');
    }
    for (std::size_t i = 2; i < 5; ++i)
        if (!fields[i].empty() && !IsDecimalText(fields[i])) return false;
    PositionDigits digits{std::string(fields[2]), std::string(fields[3]), std::string(fields[4])};
    if (digits.empty()) return false;
    line = {std::move(record), value, std::move(digits)};
    return true;
}

std::vector<std::string> DigitsFileLines(std::string_view contents) {
    std::vector<std::string> lines;
    while (!contents.empty()) {
        const std::size_t end = std::min(contents.find('\n'), contents.size());
        const std::string_view line = contents.substr(0, end);
        if (!line.empty() && line != DigitsHeader) lines.emplace_back(line);
        contents.remove_prefix(std::min(end + 1, contents.size()));
    }
    return lines;
}

std::string DigitsFileContents(const std::vector<std::string> &lines) {
    std::string contents = std::string(DigitsHeader) + '\n';
    for (const std::string &line : lines) contents += line + '\n';
    return contents;
}

std::vector<PositionDigits> AttachDigits(const std::vector<std::string> &records,
                                         const std::vector<std::string> &lines,
                                         std::vector<std::string> &unattached) {
    std::map<std::pair<std::string_view, uint32_t>, std::size_t> named;  // by their keys
    const std::vector<uint32_t> ordinals = Ordinals(records);
    for (std::size_t i = 0; i < records.size(); ++i)
        named.emplace(std::pair<std::string_view, uint32_t>(records[i], ordinals[i]), i);
    std::vector<PositionDigits> digits(records.size());
    for (const std::string &text : lines) {
        DigitsLine line;
        const auto record =
            ParseDigitsLine(text, line) ? named.find({line.record, line.ordinal}) : named.end();
        if (record != named.end() && digits[record->second].empty())
            digits[record->second] = std::move(line.digits);
        else
            unattached.push_back(text);
    }
    return digits;
}

std::vector<std::string> DigitsLines(const std::vector<std::string> &records,
                                     const std::vector<PositionDigits> &digits,
                                     const std::vector<std::string> &unattached) {
    std::vector<std::string> lines;
    const std::vector<uint32_t> ordinals = Ordinals(records);
    for (std::size_t i = 0; i < records.size(); ++i)
        if (!digits[i].empty())
            lines.push_back(FormatDigitsLine({records[i], ordinals[i], digits[i]}));
    lines.insert(lines.end(), unattached.begin(), unattached.end());
    return lines;
}

int ReadWholeFile(const std::string &path, std::string &bytes) {
    bytes.clear();
    std::FILE *const file = std::fopen(path.c_str(), "rb");
    if (!file) return errno;
    char block[65536];
    std::size_t read;
    while ((read = std::fread(block, 1, sizeof block, file)) > 0) bytes.append(block, read);
    // A folder opens, and then fails to read.
    const int error = std::ferror(file) ? (errno ? errno : EIO) : 0;
    std::fclose(file);
    if (error) bytes.clear();
    return error;
}

// ---- Entries as texts and numbers --------------------------------------------------------------

std::string FormulaRecord(const FormulaEntry &entry) {
    if (!Fits(entry.expression, TFormulaRecord::TextSize) ||
        !Fits(entry.comment, TFormulaRecord::TextSize))
        return {};
    return Bytes(TFormulaRecord::Make(entry.expression, entry.comment));
}

std::string PositionRecord(const PositionEntry &entry) {
    if (!Fits(entry.comment, TPositionRecord::CommentSize)) return {};
    return Bytes(TPositionRecord::Make(entry.comment, entry.re, entry.im, entry.scale));
}

bool ReadFormulaFile(const std::string &path, std::vector<FormulaEntry> &entries,
                     std::string &error) {
    return ReadFile(path, sizeof(TFormulaRecord), error, [&](const char *bytes) {
        const TFormulaRecord record = TFormulaRecord::Read(bytes);
        entries.push_back({record.Expression, record.Comment});
    });
}

bool ReadPositionFile(const std::string &path, std::vector<PositionEntry> &entries,
                      std::string &error) {
    return ReadFile(path, sizeof(TPositionRecord), error, [&](const char *bytes) {
        const TPositionRecord record = TPositionRecord::Read(bytes);
        entries.push_back({LoadExtended(record.Re), LoadExtended(record.Im),
                           LoadExtended(record.Scale), record.Comment});
    });
}

std::string EntryName(const std::string &comment) {
    std::string name = comment.substr(0, comment.find(". "));
    if (!name.empty() && name.back() == '.') name.pop_back();
    return name;
}

std::string NameSlug(const std::string &name) {
    std::string slug;
    for (const char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (std::isalnum(u) && u < 0x80)
            slug += char(std::tolower(u));
        else if (slug.empty() || slug.back() != '-')
            slug += '-';
    }
    return slug;
}

long FindEntry(const std::vector<std::string> &comments, const std::string &key,
               std::string &error) {
    if (!key.empty() && key.find_first_not_of("0123456789") == std::string::npos) {
        const unsigned long n = key.size() > 9 ? 0 : std::stoul(key);
        if (n >= 1 && n <= comments.size()) return long(n - 1);
        error = "no entry " + key + ": the list has " + std::to_string(comments.size()) +
                " entries, numbered from 1";
        return -1;
    }
    std::vector<std::size_t> matches;
    const std::string phrase = Lower(key);
    for (std::size_t i = 0; i < comments.size(); ++i)
        if (!phrase.empty() && ContainsWords(Lower(comments[i]), phrase)) matches.push_back(i);
    if (matches.size() == 1) return long(matches[0]);
    // "Burning Ship" names one entry even when other comments mention it.
    std::vector<std::size_t> named;
    for (const std::size_t i : matches)
        if (Lower(EntryName(comments[i])) == phrase) named.push_back(i);
    if (named.size() == 1) return long(named[0]);
    if (matches.empty()) {
        error = "no comment contains '" + key + "'; the entries are:";
        for (std::size_t i = 0; i < comments.size(); ++i) error += Candidate(comments, i);
    } else {
        error = "'" + key + "' matches " + std::to_string(matches.size()) + " entries:";
        for (const std::size_t i : matches) error += Candidate(comments, i);
    }
    return -1;
}

}  // namespace quob::common
