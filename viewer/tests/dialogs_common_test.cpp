// The fixed-point display and the readers of the dialogs' edits.
#include <clocale>
#include <limits>

#include "dlgcommon.h"
#include "viewer_testing.h"

namespace {

struct FormatCase {
    const char *name;
    long double value;
    int decimals;
    const char *expected;
};

class FormatFixedTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatFixedTest, Shows) {
    const FormatCase &c = GetParam();
    EXPECT_EQ(FormatFixed(c.value, c.decimals), QString(c.expected));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Numbers, FormatFixedTest, ::testing::Values(
    FormatCase{"Negative", -0.5L, 15, "-0.500000000000000"},
    FormatCase{"RoundsToZero", 0.00390625L, 2, "0.00"}, FormatCase{"Float", 0.001f, 5, "0.00100"},
    FormatCase{"BelowTheExponentForm", 0x1p119L, 0, "664613997892457936451903530140172288"},
    FormatCase{"ExponentFrom1e36", 0x1p120L, 2, "1.33E+36"},
    FormatCase{"Infinity", std::numeric_limits<long double>::infinity(), 2, "INF"}),
    [](const auto &info) { return info.param.name; });
// clang-format on

TEST(FormatFixed, IgnoresTheUsersDecimalComma) {
    const std::string saved = setlocale(LC_NUMERIC, nullptr);
    if (!setlocale(LC_NUMERIC, "de_DE.UTF-8")) GTEST_SKIP() << "no German locale installed";
    EXPECT_EQ(FormatFixed(-0.5L, 2), QString("-0.50"));
    EXPECT_EQ(ReadReal("1.25", "Field"), 1.25L);
    setlocale(LC_NUMERIC, saved.c_str());
}

struct RealCase {
    const char *text;
    std::optional<long double> expected;  // none: the conversion error
    long double largest = std::numeric_limits<long double>::max();
};

class ReadRealTest : public ::testing::TestWithParam<RealCase> {};

TEST_P(ReadRealTest, ReadsOrThrowsTheConversionErrorNamingTheField) {
    const RealCase &c = GetParam();
    try {
        EXPECT_EQ(ReadReal(c.text, "Field", c.largest), c.expected) << '"' << c.text << '"';
    } catch (const EConvertError &error) {
        EXPECT_FALSE(c.expected) << '"' << c.text << '"';
        EXPECT_EQ(error.what(),
                  "Field: '" + std::string(c.text) + "' is not a valid floating point value");
    }
}

constexpr long double FloatMax = std::numeric_limits<float>::max();

INSTANTIATE_TEST_SUITE_P(
    Texts, ReadRealTest,
    ::testing::Values(RealCase{"  -2", -2}, RealCase{"3 ", 3}, RealCase{"+4.25", 4.25L},
                      RealCase{"2.5e+3", 2500}, RealCase{".5", 0.5L}, RealCase{"5.", 5},
                      RealCase{"0.1", 0.1L},  // to extended, not via double
                      RealCase{"1e38", 1e38L, FloatMax}, RealCase{"", {}}, RealCase{"abc", {}},
                      RealCase{"1.5x", {}}, RealCase{"1 5", {}}, RealCase{"1e", {}},
                      RealCase{"-", {}}, RealCase{"1,5", {}}, RealCase{"0x10", {}},
                      RealCase{"nan", {}}, RealCase{"1e5000", {}},
                      RealCase{"-1e39", {}, FloatMax}));

struct IntegerCase {
    const char *text;
    std::optional<int32_t> expected;  // none: the conversion error
};

class ReadIntegerTest : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(ReadIntegerTest, ReadsOrThrowsTheConversionError) {
    const IntegerCase &c = GetParam();
    try {
        EXPECT_EQ(ReadInteger(c.text), c.expected) << '"' << c.text << '"';
    } catch (const EConvertError &error) {
        EXPECT_FALSE(c.expected) << '"' << c.text << '"';
        EXPECT_EQ(error.what(), "'" + std::string(c.text) + "' is not a valid integer value");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ReadIntegerTest,
    ::testing::Values(IntegerCase{"20", 20}, IntegerCase{"  7", 7}, IntegerCase{"-5", -5},
                      IntegerCase{"+9", 9}, IntegerCase{"$1F", 31}, IntegerCase{"-$10", -16},
                      IntegerCase{"2147483647", INT32_MAX}, IntegerCase{"-2147483648", INT32_MIN},
                      IntegerCase{"2147483648", {}}, IntegerCase{"$FFFFFFFF", {}},
                      IntegerCase{"99999999999999999999", {}}, IntegerCase{"abc", {}},
                      IntegerCase{"", {}}, IntegerCase{"1 ", {}}, IntegerCase{"1.5", {}},
                      IntegerCase{"$", {}}, IntegerCase{"1F", {}}, IntegerCase{"0x10", {}}));

}  // namespace
