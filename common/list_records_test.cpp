// Texts in the fixed fields of the list files' records: cut on a character boundary, read up to
// the first NUL; entries' names and the file names made of them; the positions' digits file, its
// lines and their keys. The records themselves are tested through the viewer's lists
// (viewer/tests), the choice of an entry through quob-render's options
// (tools/render_options_test.cpp).
#include "list_records.h"

#include <gtest/gtest.h>

#include <cctype>
#include <utility>

namespace quob::common {

void PrintTo(const PositionDigits &digits, std::ostream *out) {
    *out << "{\"" << digits.re << "\", \"" << digits.im << "\", \"" << digits.scale << "\"}";
}

namespace {

struct CutCase {
    const char *name;
    std::string text;
    std::size_t limit, expected;
};

class Utf8Cut : public ::testing::TestWithParam<CutCase> {};

TEST_P(Utf8Cut, NeverSplitsACharacter) {
    const CutCase &c = GetParam();
    EXPECT_EQ(Utf8CutLength(c.text.data(), c.text.size(), c.limit), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Utf8Cut,
    ::testing::Values(CutCase{"Fits", "abcde", 5, 5}, CutCase{"Ascii", "abcdef", 5, 5},
                      CutCase{"TwoByteAcross", "abcd\xC3\xA9", 5, 4},
                      CutCase{"TwoByteBefore", "abc\xC3\xA9x", 5, 5},
                      CutCase{"ThreeByteAcross", "abc\xE2\x82\xAC", 5, 3},
                      CutCase{"FourByteAcross", "a\xF0\x9D\x84\x9E", 4, 1},
                      CutCase{"StrayContinuations", "ab\x80\x80\x80\x80\x80", 5, 5}),
    [](const auto &info) { return info.param.name; });

TEST(FieldText, StopsAtTheFirstNulOrCutsAFieldWithoutOne) {
    EXPECT_EQ(FieldText("ab\0zzzzz", 8), "ab");
    EXPECT_EQ(FieldText("abcdefgh", 8), "abcdefg");
    EXPECT_EQ(FieldText("abcde\xE2\x82\xAC", 8), "abcde");
    // Bytes that are no character are kept as the dialogs show them, not dropped.
    EXPECT_EQ(FieldText("ab\x80\x80\x80\x80\x80\x80", 8), "ab\x80\x80\x80\x80\x80");
}

// An entry's name and the gallery's file name for it ("13-burning-ship.png").
struct NameCase {
    const char *comment, *name, *slug;
};

class EntryNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(EntryNames, FirstSentenceAndItsSlug) {
    EXPECT_EQ(EntryName(GetParam().comment), GetParam().name);
    EXPECT_EQ(NameSlug(GetParam().name), GetParam().slug);
}

INSTANTIATE_TEST_SUITE_P(
    Comments, EntryNames,
    ::testing::Values(
        NameCase{"Burning Ship. The hull, upside down.", "Burning Ship", "burning-ship"},
        NameCase{"Tricorn (Mandelbar). z <- conj(z)^2 + c", "Tricorn (Mandelbar)",
                 "tricorn-mandelbar-"},
        NameCase{"Newton z^3 - 1. Basins.", "Newton z^3 - 1", "newton-z-3-1"},
        NameCase{"Julia set c = 0.4 + 0.6i", "Julia set c = 0.4 + 0.6i", "julia-set-c-0-4-0-6i"},
        NameCase{"One sentence.", "One sentence", "one-sentence"},
        NameCase{"M\xC3\xA9lange 2. Beyond ASCII.", "M\xC3\xA9lange 2", "m-lange-2"},
        NameCase{"", "", ""}));

// ---- The digits of saved positions -------------------------------------------------------------

TEST(DigitsFileName, ReplacesDatOrAppends) {
    for (const auto &[list, digits] : {std::pair{"hotspots.dat", "hotspots.digits"},
                                       {"dir.dat/x.dat", "dir.dat/x.digits"},
                                       {"list", "list.digits"},
                                       {"x.DAT", "x.DAT.digits"},
                                       {"x.dat.old", "x.dat.old.digits"},
                                       {".dat", ".digits"}})
        EXPECT_EQ(DigitsFileName(list), digits) << list;
}

std::string Record(const std::string &comment) {
    return PositionRecord({0.5L, -0.25L, 1.5e-300L, comment});
}

const PositionDigits Deep = {"-0.74364388703715870475219150611477665",
                             "0.13182590420531197049313205", "1.5e-300"};

TEST(DigitsLine, GoesThroughTheFileTextUnchanged) {
    const std::vector<DigitsLine> lines = {
        {Record("a"), 0, Deep},
        {Record("a"), 1, {"", "", "2E-4000"}},
        {std::string(287, '\xFF'), 123456789, {"+1.", ".5", "-0e+0"}}};
    std::vector<std::string> texts;
    for (const DigitsLine &line : lines) texts.push_back(FormatDigitsLine(line));
    // 0.5 is 0x3FFE:8000000000000000, little-endian; lower-case hex.
    EXPECT_EQ(texts[0].substr(0, 20), "0000000000000080fe3f");
    EXPECT_EQ(texts[0].substr(574), " 0 " + Deep.re + " " + Deep.im + " " + Deep.scale);
    EXPECT_EQ(texts[1].substr(574), " 1   2E-4000");
    const std::string contents = DigitsFileContents(texts);
    EXPECT_EQ(contents.substr(0, contents.find('\n')), DigitsHeader);
    ASSERT_EQ(DigitsFileLines(contents), texts);
    for (std::size_t i = 0; i < texts.size(); ++i) {
        DigitsLine read;
        ASSERT_TRUE(ParseDigitsLine(texts[i], read)) << i;
        EXPECT_EQ(read, lines[i]) << i;
    }
    // Written by hand: upper-case hex, a line end of "\r\n".
    std::string upper = texts[0];
    for (char &c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
    DigitsLine read;
    ASSERT_TRUE(ParseDigitsLine(upper.substr(0, 574) + texts[0].substr(574) + "\r", read));
    EXPECT_EQ(read, lines[0]);
}

TEST(DigitsFileLines, KeepEveryLineButTheHeaderAndEmptyOnesVerbatim) {
    EXPECT_EQ(DigitsFileLines(std::string(DigitsHeader) + "\nx y\r\n\n\n" +
                              std::string(DigitsHeader) + "\n  \nlast, no line end"),
              std::vector<std::string>({"x y\r", "  ", "last, no line end"}));
    EXPECT_EQ(DigitsFileLines(""), std::vector<std::string>());
}

struct MalformedCase {
    const char *name;
    std::string text;
};

class MalformedDigits : public ::testing::TestWithParam<MalformedCase> {};

// The hex digits of a record, then the rest of a line.
std::string Hex(const std::string &rest) {
    return FormatDigitsLine({Record("a"), 0, {"1", "2", "3"}}).substr(0, 574) + rest;
}

TEST_P(MalformedDigits, IsNoLine) {
    DigitsLine line;
    ASSERT_TRUE(ParseDigitsLine(Hex(" 0 1 2 3"), line));  // the line that each case spoils
    EXPECT_FALSE(ParseDigitsLine(GetParam().text, line));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Lines, MalformedDigits, ::testing::Values(
    MalformedCase{"ShortHex", Hex(" 0 1 2 3").substr(2)},
    MalformedCase{"NotHex", "g" + Hex(" 0 1 2 3").substr(1)},
    MalformedCase{"FourFields", Hex(" 0 1 2")},
    MalformedCase{"SixFields", Hex(" 0 1 2 3 4")},
    MalformedCase{"TwoSpaces", Hex("  0 1 2 3")},
    MalformedCase{"Tab", Hex(" 0 1\t2 3")},
    MalformedCase{"LeadingZeroOrdinal", Hex(" 01 1 2 3")},
    MalformedCase{"SignedOrdinal", Hex(" -1 1 2 3")},
    MalformedCase{"OrdinalOfTenDigits", Hex(" 1000000000 1 2 3")},
    MalformedCase{"SignAlone", Hex(" 0 - 2 3")},
    MalformedCase{"EmptyExponent", Hex(" 0 1 2 3e")},
    MalformedCase{"TwoPoints", Hex(" 0 1.2.3 2 3")},
    MalformedCase{"DecimalComma", Hex(" 0 1,5 2 3")},
    MalformedCase{"Infinity", Hex(" 0 1 2 inf")},
    MalformedCase{"NoTexts", Hex(" 0   ")},
    MalformedCase{"Header", std::string(DigitsHeader)}),
    [](const auto &info) { return info.param.name; });
// clang-format on

// The records A, B, A, C and lines that name the second A, the first A, B, a third A, B again, a
// line that does not read: the lines attach by bytes and ordinal, the others stay as they were.
TEST(AttachDigits, ByBytesAndOrdinalAmongEqualRecords) {
    const std::string A = Record("A"), B = Record("B"), C = Record("C");
    const PositionDigits a0 = {"0.1", "0.2", "1e-30"}, a1 = {"0.3", "0.4", "1e-40"},
                         b = {"", "", "1e-50"}, lost = {"9", "9", "9"};
    const std::vector<std::string> lines = {
        FormatDigitsLine({A, 1, a1}),   FormatDigitsLine({A, 0, a0}),   FormatDigitsLine({B, 0, b}),
        FormatDigitsLine({A, 2, lost}), FormatDigitsLine({B, 0, lost}), "not a line"};
    const std::vector<std::string> records = {A, B, A, C};
    std::vector<std::string> unattached;
    const std::vector<PositionDigits> digits = AttachDigits(records, lines, unattached);
    EXPECT_EQ(digits, std::vector<PositionDigits>({a0, b, a1, {}}));
    EXPECT_EQ(unattached, std::vector<std::string>({lines[3], lines[4], lines[5]}));

    // Written back: the records' lines in their order, then the unattached ones unchanged.
    const std::vector<std::string> written = DigitsLines(records, digits, unattached);
    EXPECT_EQ(written, std::vector<std::string>(
                           {lines[1], lines[2], lines[0], lines[3], lines[4], lines[5]}));
    std::vector<std::string> again;
    EXPECT_EQ(AttachDigits(records, written, again), digits);
    EXPECT_EQ(again, unattached);

    // The first A deleted by a program that knows only the records: the remaining A is the first
    // of its bytes now, and takes the first A's digits; the second A's line stays unattached.
    unattached.clear();
    EXPECT_EQ(AttachDigits({B, A, C}, lines, unattached), std::vector<PositionDigits>({b, a0, {}}));
    EXPECT_EQ(unattached, std::vector<std::string>({lines[0], lines[3], lines[4], lines[5]}));
}

}  // namespace
}  // namespace quob::common
