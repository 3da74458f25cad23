#include "list_records.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace quob::common {

namespace {

static_assert(sizeof(long double) >= 10, "x87 extended reals in long double");

bool PutText(std::string &record, const std::string &text, std::size_t size) {
    if (text.size() >= size || text.find('\0') != std::string::npos) return false;
    record += text;
    record.append(size - text.size(), '\0');
    return true;
}

void PutReal(std::string &record, long double value) {
    char bytes[sizeof(long double)] = {};
    std::memcpy(bytes, &value, sizeof value);
    record.append(bytes, 10);  // the 80-bit value; the rest of a long double is padding
}

std::string TextOf(const char *field, std::size_t size) {
    const void *nul = std::memchr(field, 0, size);
    std::size_t length = nul ? std::size_t(static_cast<const char *>(nul) - field) : size - 1;
    // Never end inside a UTF-8 character when a field without NUL is cut.
    if (!nul)
        while (length > 0 && (static_cast<unsigned char>(field[length]) & 0xC0) == 0x80) --length;
    return std::string(field, length);
}

long double RealOf(const char *bytes) {
    long double value = 0;
    std::memcpy(&value, bytes, 10);
    return value;
}

// Calls take for every whole record of the file.
template <class Take>
bool ReadRecords(const std::string &path, std::size_t size, std::string &error, Take take) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = std::strerror(errno);
        return false;
    }
    const std::string bytes{std::istreambuf_iterator<char>(file), {}};
    if (file.bad()) {
        error = "read error";
        return false;
    }
    for (std::size_t at = 0; at + size <= bytes.size(); at += size) take(bytes.data() + at);
    return true;
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

// An entry's name: its comment's first sentence.
std::string NameOf(const std::string &comment) {
    std::string name = comment.substr(0, comment.find(". "));
    if (!name.empty() && name.back() == '.') name.pop_back();
    return name;
}

// "N: name", for lists of candidates.
std::string Candidate(const std::vector<std::string> &comments, std::size_t i) {
    std::string name = NameOf(comments[i]);
    if (name.size() > 60) name = name.substr(0, 57) + "...";
    return "\n  " + std::to_string(i + 1) + ": " + name;
}

}  // namespace

std::string FormulaRecord(const FormulaEntry &entry) {
    std::string record;
    if (!PutText(record, entry.expression, kFormulaTextSize) ||
        !PutText(record, entry.comment, kFormulaTextSize))
        return {};
    return record;
}

std::string PositionRecord(const PositionEntry &entry) {
    std::string record;
    PutReal(record, entry.re);
    PutReal(record, entry.im);
    PutReal(record, entry.scale);
    if (!PutText(record, entry.comment, kPositionCommentSize)) return {};
    return record;
}

bool ReadFormulaFile(const std::string &path, std::vector<FormulaEntry> &entries,
                     std::string &error) {
    return ReadRecords(path, kFormulaRecordSize, error, [&](const char *record) {
        entries.push_back({TextOf(record, kFormulaTextSize),
                           TextOf(record + kFormulaTextSize, kFormulaTextSize)});
    });
}

bool ReadPositionFile(const std::string &path, std::vector<PositionEntry> &entries,
                      std::string &error) {
    return ReadRecords(path, kPositionRecordSize, error, [&](const char *record) {
        entries.push_back({RealOf(record), RealOf(record + 10), RealOf(record + 20),
                           TextOf(record + 30, kPositionCommentSize)});
    });
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
        if (Lower(NameOf(comments[i])) == phrase) named.push_back(i);
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
