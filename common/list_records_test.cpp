// Texts in the fixed fields of the list files' records: cut on a character boundary, read up to
// the first NUL; entries' names and the file names made of them. The records themselves are tested
// through the viewer's lists (viewer/tests), the choice of an entry through quob-render's options
// (tools/render_options_test.cpp).
#include "list_records.h"

#include <gtest/gtest.h>

namespace quob::common {
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

}  // namespace
}  // namespace quob::common
