// The square and sine tables: their entries, the folding lookup, creation on first use only, and
// the failure that abandons a compilation.
#include "compile/tables.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <utility>

#include "compile/emitter.h"
#include "int_support.h"
#include "quob32.h"

namespace {

using quob::test::IntFunction;

// Every test starts without tables; no compiled function that reads them outlives a test.
class Tables : public testing::Test {
  protected:
    void SetUp() override { quob::FreeLookupTables(); }
    void TearDown() override { quob::FreeLookupTables(); }
};

TEST_F(Tables, Entries) {
    const int32_t *zero = quob::SquareTable();
    const int16_t *sine = quob::SineTable();
    ASSERT_NE(zero, nullptr);
    ASSERT_NE(sine, nullptr);
    // Read by 32-bit absolute address: x86-64 keeps the tables in the first 2 GiB.
    if (quob::kHostTarget == quob::Target::X64) {
        EXPECT_LT(reinterpret_cast<uintptr_t>(zero - 32768), uintptr_t{1} << 31);
        EXPECT_LT(reinterpret_cast<uintptr_t>(sine), uintptr_t{1} << 31);
    }
    for (auto [i, square] :
         {std::pair{-32768, 1073741824}, {32767, 1073676289}, {0, 0}, {-1, 1}, {-25536, 652087296}})
        EXPECT_EQ(zero[i], square) << i;
    for (auto [i, entry] : {std::pair{0, 0}, {16384, 23170}, {32768, 32767}, {65535, 2}})
        EXPECT_EQ(sine[i], entry) << i;
    // The whole half turn against an independent computation; none is negative.
    for (int32_t i = 0; i < quob::kTableEntries; ++i) {
        ASSERT_GE(sine[i], 0) << i;
        ASSERT_EQ(sine[i], quob::test::ReferenceSine(i)) << i;
    }
}

// Only the keywords that read a table create it; folded ones need none for "sqr".
TEST_F(Tables, CreatedOnlyByTheKeywordsThatReadThem) {
    const std::tuple<const char *, bool, bool> cases[] = {
        {"x sqrt x neg + 3 4 * - x abs * 7 copy swap - + ret", false, false},
        {"40000 sqr ret", false, false},  // folded by multiplication
        {"x sqr ret", true, false},
        {"5 sin ret", false, true},  // folded through the table
        {"0 cos ret", false, true},
        {"x cos ret", false, true},
        {"x sin x sqr + ret", true, true}};
    for (const auto &[body, square, sine] : cases) {
        quob::FreeLookupTables();
        const IntFunction f(std::string("x = ") + body);
        ASSERT_TRUE(f.ok()) << f.error();
        EXPECT_EQ(quob::SquareTableBuilt(), square) << body;
        EXPECT_EQ(quob::SineTableBuilt(), sine) << body;
    }
}

TEST_F(Tables, BuiltOnceAndKeptWhileFunctionsAreDeleted) {
    const int32_t *squares = nullptr;
    const int16_t *sines = nullptr;
    {
        const IntFunction f("x = x sqr x sin + ret");
        ASSERT_TRUE(f.ok());
        squares = quob::SquareTable();
        sines = quob::SineTable();
    }
    EXPECT_TRUE(quob::SquareTableBuilt());
    EXPECT_TRUE(quob::SineTableBuilt());
    const IntFunction g("x = x cos x sqr + ret");
    ASSERT_TRUE(g.ok());
    EXPECT_EQ(quob::SquareTable(), squares);
    EXPECT_EQ(quob::SineTable(), sines);
    EXPECT_EQ(g.Run({3}), std::vector<int32_t>{quob::test::ReferenceSine(3 + 32768) + 9});
}

void *NoMemory(std::size_t) { return nullptr; }

// A table that cannot be created: code 9, the message shown, no function; the next compilation
// tries again.
TEST_F(Tables, CreationFailureAbandonsTheCompilation) {
    const quob::TableAllocator normal = quob::SetTableAllocator(NoMemory);
    for (const char *body : {"x = x sin ret", "x = x sqr ret", "x = 1 cos ret"}) {
        QUOB_SetLastError(0);
        testing::internal::CaptureStderr();
        const IntFunction f(body);
        const std::string shown = testing::internal::GetCapturedStderr();
        EXPECT_FALSE(f.ok()) << body;
        EXPECT_EQ(f.error(), QUOB_ERR_OUT_OF_RESOURCES) << body;
        EXPECT_NE(shown.find("QUOB: Out of system resources (code 9)"), std::string::npos) << shown;
        EXPECT_FALSE(quob::SquareTableBuilt());
        EXPECT_FALSE(quob::SineTableBuilt());
    }
    // Bodies that read no table do not notice.
    const IntFunction plain("x = x 2 * ret");
    EXPECT_TRUE(plain.ok());

    quob::SetTableAllocator(normal);
    const IntFunction f("x = x sin ret");
    ASSERT_TRUE(f.ok());
    EXPECT_EQ(f.Run({32768}), std::vector<int32_t>{32767});
}

}  // namespace
