// The viewer's list files, without Qt: formula libraries ("fractals.dat", "cadjusts.dat", records
// of two 1025-byte NUL-terminated fields) and saved positions ("hotspots.dat", records of three
// 10-byte extended reals and a 257-byte comment), byte for byte as the viewer's dialogs store
// them; and the choice of one entry by its line number or by a word of its comment. The dialogs'
// lists hold the records themselves; quob-render and the starter lists take their entries as
// texts and numbers. Beside a position list, its companion file ("hotspots.digits") keeps the
// digits of views deeper than the records' extended reals hold.
#pragma once
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace quob::common {

// ---- Texts in fixed fields ---------------------------------------------------------------------

// The length of the longest start of text (length bytes) that has at most limit bytes and does
// not end inside a UTF-8 character. Bytes that are not UTF-8 are cut like single characters.
std::size_t Utf8CutLength(const char *text, std::size_t length, std::size_t limit);

// Stores text into a field of size bytes: at most size - 1 bytes, cut on a character boundary,
// then a NUL; the rest of the field is zero-filled.
void StoreText(char *field, std::size_t size, std::string_view text);

// The text of a field: its bytes up to the first NUL, or, in a field without NUL, its first
// size - 1 bytes cut on a character boundary, so that it fits the field again with its NUL.
std::string_view FieldText(const char *field, std::size_t size);

static_assert(std::numeric_limits<long double>::digits == 64, "long double must be x87 extended");

// An 80-bit extended real as stored in files: 10 bytes, little-endian.
using TExtended = uint8_t[10];
long double LoadExtended(const TExtended &bytes);
void StoreExtended(TExtended &bytes, long double value);

// ---- Records -----------------------------------------------------------------------------------

// One formula, the 2050-byte record of its file: two NUL-terminated UTF-8 texts, the rest of each
// field zero.
struct TFormulaRecord {
    static constexpr std::size_t TextSize = 1025;

    // The pair, each text cut to 1024 bytes on a character boundary.
    static TFormulaRecord Make(std::string_view expression, std::string_view comment);
    // A record of a file: each text up to its first NUL.
    static TFormulaRecord Read(const char *record);

    char Expression[TextSize];
    char Comment[TextSize];
};
static_assert(sizeof(TFormulaRecord) == 2050);

// One saved position, the 287-byte record of its file: the view's centre and its scale as
// extended reals, then a NUL-terminated UTF-8 comment. Values read from a file keep their ten
// bytes, so that they go back bit for bit.
struct TPositionRecord {
    static constexpr std::size_t CommentSize = 257;

    // The comment is cut to 256 bytes on a character boundary.
    static TPositionRecord Make(std::string_view comment, long double re, long double im,
                                long double scale);
    static TPositionRecord Read(const char *record);

    TExtended Re;
    TExtended Im;
    TExtended Scale;
    char Comment[CommentSize];
};
static_assert(sizeof(TPositionRecord) == 287);

// The whole records of a file of records of recordSize bytes, back to back; a trailing partial
// record is no record. 0 when the file was read, else the errno value of the failure (a missing
// file included); records then holds none.
int ReadRecords(const std::string &path, std::size_t recordSize, std::string &records);

// ---- The digits of saved positions -------------------------------------------------------------

// A saved position's view as decimal texts, with the digits beyond its record's extended reals;
// empty texts where the record's values are the whole view.
struct PositionDigits {
    std::string re, im, scale;
    bool empty() const { return re.empty() && im.empty() && scale.empty(); }
    bool operator==(const PositionDigits &) const = default;
};

// The value of a hexadecimal digit of either case; -1 for any other character.
int HexDigitValue(char c);

// A decimal text: optional sign, digits with an optional point and fraction (one digit at least),
// optional exponent ("e" or "E", optional sign, digits); no blanks.
bool IsDecimalText(std::string_view text);

// The companion file of a position list: its name with ".dat" replaced by ".digits", or with
// ".digits" appended ("hotspots.dat" has "hotspots.digits").
std::string DigitsFileName(const std::string &listName);

// One line of a companion file: the digits of the record that its key names, the record's 287
// bytes and its ordinal among the list's records with exactly those bytes, 0 for the first. Its
// text is "<the record's bytes as 574 hex digits> <ordinal> <re> <im> <scale>", the ordinal in
// decimal without leading zeros, the fields separated by one space each; an empty text leaves its
// field empty, and one text at least is not empty.
struct DigitsLine {
    std::string record;
    uint32_t ordinal = 0;
    PositionDigits digits;
    bool operator==(const DigitsLine &) const = default;
};

// The first line of a companion file, which names its format.
inline constexpr std::string_view DigitsHeader = "spiralis position digits 1";

// The line's text, without its line end. The record must have 287 bytes, the texts must be
// decimal texts or empty.
std::string FormatDigitsLine(const DigitsLine &line);
// Reads the text of a line (a "\r" at its end is taken for part of its line end); false for any
// text that is not a line as FormatDigitsLine writes it, hex digits of either case accepted.
bool ParseDigitsLine(std::string_view text, DigitsLine &line);

// The lines of a companion file, each without its "\n", in order: every line but the header and
// the empty ones, verbatim.
std::vector<std::string> DigitsFileLines(std::string_view contents);
// A companion file's contents: the header, then the lines, each ended by "\n".
std::string DigitsFileContents(const std::vector<std::string> &lines);

// The digits that a companion's lines give the records of its list (their bytes, in the list's
// order): one for each record, empty where no line names it. The lines that name no record, a
// second line for one key and the lines that do not read go to unattached, verbatim, in order.
std::vector<PositionDigits> AttachDigits(const std::vector<std::string> &records,
                                         const std::vector<std::string> &lines,
                                         std::vector<std::string> &unattached);
// A companion's lines: one for each record with digits, in the list's order, then the unattached
// lines.
std::vector<std::string> DigitsLines(const std::vector<std::string> &records,
                                     const std::vector<PositionDigits> &digits,
                                     const std::vector<std::string> &unattached);

// The whole of a file. 0 when the file was read, else the errno value of the failure (a missing
// file included); bytes then holds none.
int ReadWholeFile(const std::string &path, std::string &bytes);

// ---- Entries as texts and numbers --------------------------------------------------------------

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

// The record's bytes. A text that does not fit its field (with its NUL) is refused with an empty
// result rather than cut.
std::string FormulaRecord(const FormulaEntry &entry);
std::string PositionRecord(const PositionEntry &entry);

// The entries of a file's whole records, their texts as the dialogs read them. False with the
// reason when the file cannot be read.
bool ReadFormulaFile(const std::string &path, std::vector<FormulaEntry> &entries,
                     std::string &error);
bool ReadPositionFile(const std::string &path, std::vector<PositionEntry> &entries,
                      std::string &error);

// An entry's name: its comment's first sentence, without its full stop.
std::string EntryName(const std::string &comment);
// A name as it stands in a file name: its letters and digits in lower case, every run of other
// characters one "-" ("Tricorn (Mandelbar)" is "tricorn-mandelbar-"). The gallery's pictures are
// named so after their entries.
std::string NameSlug(const std::string &name);

// The index of the entry that `key` names among the comments: a line number from 1, or a word
// (or words) that exactly one comment contains as whole words, compared without regard to case;
// among several such comments, the one whose name (its first sentence) is the word. -1 with the
// reason, which lists the candidates when the word picks no comment or several.
long FindEntry(const std::vector<std::string> &comments, const std::string &key,
               std::string &error);

}  // namespace quob::common
