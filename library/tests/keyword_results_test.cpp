// Every keyword's compiled code, run natively, against the x86-64 build's results on the same
// inputs: keyword_results.inc holds the value cells after each run as bit patterns. The 32-bit
// build runs IA-32 code (REP MOVSW loop tail, [disp32] operands, DEC EAX as 48) against the table
// that the x86-64 code produced.
//
// Regenerate the table with the 64-bit build after a deliberate change of results:
//   build/library/tests/keyword_results_test --generate > library/tests/keyword_results.inc
//
// Transcendental keywords (FSIN, FPTAN, FPATAN, F2XM1, FYL2X, ...) are given inputs whose results
// are exact, so the table holds on any x86 processor; the arithmetic ones are exactly rounded.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "compile/emitter.h"
#include "compile/scanner.h"
#include "quob32.h"

namespace {

using ld = long double;

// kind: 'r' real, 'i' integer, 'd' recursive with the block length.
struct KeywordCase {
    char kind;
    int32_t blockLength;
    const char *definition;
    std::vector<std::vector<ld>> inputs;  // one parameter vector per run
};

const std::vector<std::vector<ld>> kPairs = {{1.5L, 3}, {-2.75L, 1e10L}, {0.1L, -7}};
const std::vector<std::vector<ld>> kSingles = {{1.5L}, {-2.75L}, {0.1L}, {1e10L}};
const std::vector<std::vector<ld>> kIntPairs = {
    {5, -3}, {40000, 7}, {-2147483648.0L, 1}, {123456, -654321}, {98304, 2147483647}};

const KeywordCase kCases[] = {
    {'r', 0, "r1 a b = a b + ret", kPairs},
    {'r', 0, "r2 a b = a b - ret a b swap - ret", kPairs},
    {'r', 0, "r3 a b = a b * ret", kPairs},
    {'r', 0, "r4 a b = a b / ret a b swap / ret", kPairs},
    {'r', 0, "r5 a b = a b \\ ret", kPairs},
    {'r', 0, "r6 a b = a b scale ret ret", kPairs},
    {'r', 0, "r7 a = a neg ret a abs ret a sqrt ret a sqr ret a int ret a log2 ret", kSingles},
    {'r', 0, "r8 a b = a copy ret ret b a swap ret ret a b del ret", kPairs},
    {'r', 0, "r9 a = a 2.5 + ret a 0.1! * ret a 0.001 swap - ret", kSingles},
    {'r', 0, "r10 = pi ret 0 ret 1 ret log2(10) ret log2(e) ret log10{2) ret ln(2) ret", {{}}},
    {'r', 0, "r11 a = a sin ret a cos ret a tan ret a sincos ret ret a exp ret", {{0}, {-0.0L}}},
    {'r', 0, "r12 a b = a b patan ret", {{0, 1}, {0, -1}, {-0.0L, 2}}},
    {'r', 0, "r13 a = a 2px ret", {{0}, {1}, {-1}}},
    {'r', 0, "r14 a b = a b YxLog2X ret", {{3, 8}, {-1.5L, 0.25L}, {0, 1}}},
    {'d',
     5,
     "d1 tx ty x y = x ty sqr tx sqr -+ret y 2 tx ty **+ret",
     {{0.25L, 0.5L, 0.25L, 0.5L}, {-0.75L, 0.1L, -0.75L, 0.1L}}},
    {'d', 3, "d2 a b c = a b + ret c ret", {{1, 2, 10}, {0.5L, -0.25L, 3}}},
    {'d', 4, "d3 a b = a 1 + ret b a * ret a ret", {{1, 2}, {-3, 0.5L}}},
    {'d', 1, "d4 a = a sqrt ret", {{256}, {2}}},
    {'i', 0, "i1 x y = x y + ret x 3 + ret x 1000 + ret y x y * + ret", kIntPairs},
    {'i', 0, "i2 x y = x y - ret x 3 - ret 3 x - ret x y * y - ret y x y * - ret", kIntPairs},
    {'i', 0, "i3 x y = x y * ret x 1000 * ret x y + x * ret x y + 5 * ret", kIntPairs},
    {'i', 0, "i4 x y = x neg ret x y + neg ret x abs ret x y - abs ret", kIntPairs},
    {'i', 0, "i5 x y = x sqrt ret x y + sqrt ret", kIntPairs},
    {'i', 0, "i6 x y = x sqr ret x y + sqr ret", kIntPairs},
    {'i', 0, "i7 x y = x sin ret x y + cos ret x sin y cos + ret", kIntPairs},
    {'i', 0, "i8 x y = x copy * ret x y + copy * ret x y swap - ret", kIntPairs},
    {'i', 0, "i9 x y = x y / \\ shl shr tan time - ret", kIntPairs},
    // Seven values live at once: the first spills to [ESP-4], and later operations meet it there.
    {'i', 0, "i10 x y = x 1 + x 2 + x 3 + x 4 + x 5 + x 6 + x 7 + + + + + + + ret", kIntPairs},
    {'i', 0,
     "i11 x y = x y + x y - x y * y 1 + y 2 + y 3 + neg abs sqrt sqr sin cos copy "
     "+ + + + + + ret",
     kIntPairs},
    {'i',
     0,
     "i12 = 40000 sqr ret 32768 sin ret 0 cos ret 2 3 - ret 7 neg abs ret 16 sqrt ret",
     {{}}},
};

void PrintTo(const KeywordCase &c, std::ostream *os) { *os << c.definition; }

struct Expected {
    const char *definition;
    int32_t run;
    const char *cells;
};
const Expected kExpected[] = {
#include "keyword_results.inc"
};

// The value cells (parameters, then results) after one run, as big-endian hex per cell.
std::string RunCells(const KeywordCase &c, const std::vector<ld> &input, int32_t handle) {
    QUOB_FunctionRecord record;
    if (GetFunction(handle, &record) != 1) return "no record";
    const bool integer = c.kind == 'i';
    for (size_t p = 0; p < input.size(); ++p) {
        void *cell = AccessParam(handle, static_cast<int32_t>(p));
        if (integer) {
            const auto v = static_cast<int32_t>(input[p]);
            std::memcpy(cell, &v, 4);
        } else {
            std::memcpy(cell, &input[p], 10);
        }
    }
    LaunchFunction(handle);
    const int width = integer ? 4 : 10;
    const auto *block = reinterpret_cast<const uint8_t *>(uintptr_t{record.Block});
    std::string hex;
    for (int32_t k = 0; k < record.ParamCount + record.ResultCount; ++k) {
        if (!hex.empty()) hex += ' ';
        for (int b = width - 1; b >= 0; --b) {
            char digits[3];
            std::snprintf(digits, sizeof digits, "%02X", block[k * width + b]);
            hex += digits;
        }
    }
    return hex;
}

// The cells of every run of one case; empty when the definition does not compile.
std::vector<std::string> RunCase(const KeywordCase &c) {
    const int32_t handle = c.kind == 'i'   ? CreateIntFunction(c.definition)
                           : c.kind == 'r' ? CreateRealFunction(c.definition)
                                           : CreateRecursiveFunction(c.definition, c.blockLength);
    std::vector<std::string> runs;
    if (handle == 0) return runs;
    for (const std::vector<ld> &input : c.inputs) runs.push_back(RunCells(c, input, handle));
    DeleteFunction(handle);
    return runs;
}

class KeywordResults : public testing::TestWithParam<KeywordCase> {};

TEST_P(KeywordResults, CellsMatchTheTable) {
    const KeywordCase &c = GetParam();
    const std::vector<std::string> runs = RunCase(c);
    ASSERT_EQ(runs.size(), c.inputs.size()) << c.definition << ": " << QUOB_GetLastErrorEx();
    for (size_t run = 0; run < runs.size(); ++run) {
        const Expected *expected = nullptr;
        for (const Expected &e : kExpected)
            if (std::strcmp(e.definition, c.definition) == 0 && e.run == int32_t(run))
                expected = &e;
        ASSERT_NE(expected, nullptr) << c.definition << " run " << run << " is not in the table";
        EXPECT_EQ(runs[run], expected->cells) << c.definition << " run " << run;
    }
}

INSTANTIATE_TEST_SUITE_P(Keywords, KeywordResults, testing::ValuesIn(kCases));

// The table covers every keyword of both sets, and holds no run that no case produces.
TEST(KeywordTable, CoversEveryKeywordAndNothingElse) {
    std::set<std::string> floatWords, intWords;
    size_t runs = 0;
    for (const KeywordCase &c : kCases) {
        quob::TScanner scanner(c.definition);
        for (const char *t = scanner.NextToken(); t[0]; t = scanner.NextToken())
            (c.kind == 'i' ? intWords : floatWords).insert(t);
        runs += c.inputs.size();
    }
    for (int k = 0; k < quob::kFloatKeywordCount; ++k)
        EXPECT_TRUE(floatWords.count(quob::kFloatKeywords[k])) << quob::kFloatKeywords[k];
    for (int k = 0; k < quob::kIntKeywordCount; ++k)
        EXPECT_TRUE(intWords.count(quob::kIntKeywords[k])) << quob::kIntKeywords[k];
    EXPECT_EQ(std::size(kExpected), runs);
}

// Writes the table of this build's results to standard output.
int Generate() {
    if (quob::kHostTarget != quob::Target::X64) {
        std::fprintf(stderr, "the table holds the x86-64 build's results: run the 64-bit build\n");
        return 1;
    }
    std::printf(
        "// Generated by keyword_results_test --generate (x86-64 build): the value cells of\n"
        "// each run of keyword_results_test.cpp's cases. Do not edit.\n");
    for (const KeywordCase &c : kCases) {
        const std::vector<std::string> runs = RunCase(c);
        if (runs.size() != c.inputs.size()) {
            std::fprintf(stderr, "%s: %s\n", c.definition, QUOB_GetLastErrorEx());
            return 1;
        }
        std::string quoted;
        for (const char *p = c.definition; *p; ++p) {
            if (*p == '\\' || *p == '"') quoted += '\\';
            quoted += *p;
        }
        for (size_t run = 0; run < runs.size(); ++run)
            std::printf("{\"%s\", %zu,\n \"%s\"},\n", quoted.c_str(), run, runs[run].c_str());
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc == 2 && std::strcmp(argv[1], "--generate") == 0) return Generate();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
