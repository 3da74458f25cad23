// The viewer's list files without Qt: formula libraries ("fractals.dat", "cadjusts.dat", records
// of two 1025-byte NUL-terminated fields) and saved positions ("hotspots.dat", records of three
// 10-byte extended reals and a 257-byte comment), read and written byte for byte as the viewer's
// dialogs do; and the choice of one entry by its line number or by a word of its comment.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace quob::common {

inline constexpr std::size_t kFormulaTextSize = 1025;
inline constexpr std::size_t kFormulaRecordSize = 2 * kFormulaTextSize;
inline constexpr std::size_t kPositionCommentSize = 257;
inline constexpr std::size_t kPositionRecordSize = 3 * 10 + kPositionCommentSize;

struct FormulaEntry {
    std::string expression;
    std::string comment;
    bool operator==(const FormulaEntry &) const = default;
};

struct PositionEntry {
    long double re = 0;
    long double im = 0;
    long double scale = 0;
    std::string comment;
    bool operator==(const PositionEntry &) const = default;
};

// One record: each text followed by zero bytes up to its field's end. A text that does not fit
// its field (with its NUL) is refused with an empty result rather than cut.
std::string FormulaRecord(const FormulaEntry &entry);
std::string PositionRecord(const PositionEntry &entry);

// The entries of a file's whole records; a trailing partial record is ignored, and a field
// without a NUL gives its first bytes up to the field's size less one. False with the reason
// when the file cannot be read.
bool ReadFormulaFile(const std::string &path, std::vector<FormulaEntry> &entries,
                     std::string &error);
bool ReadPositionFile(const std::string &path, std::vector<PositionEntry> &entries,
                      std::string &error);

// The index of the entry that `key` names among the comments: a line number from 1, or a word
// (or words) that exactly one comment contains as whole words, compared without regard to case;
// among several such comments, the one whose name (its first sentence) is the word. -1 with the
// reason, which lists the candidates when the word picks no comment or several.
long FindEntry(const std::vector<std::string> &comments, const std::string &key,
               std::string &error);

}  // namespace quob::common
