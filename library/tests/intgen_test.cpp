// The integer back end: the code where the allocation policy shows in no result, outcomes and
// failures of bodies, and random bodies against the reference evaluator (which prove every
// operation over every operand kind).
#include "compile/intgen.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "compile/codebuffer.h"
#include "compile/emitter.h"
#include "compile/frontend.h"
#include "int_support.h"

namespace {

using namespace quob;  // register names
using test::Hex;
using test::IntFunction;
using test::Repeat;

std::string CodeHex(const TCodeBuffer &code) { return Hex(code.Code(), size_t(code.Length())); }

// ---- IA-32 code where the allocation policy shows in no result ------------------------------

// Compiles "params = body" with the integer back end for a target, outside the function table:
// cell addresses stay block offsets (parameter p at 4p, result k at 4(P + k)).
std::string CompileFor(Target target, const std::string &paramsAndBody) {
    const auto body =
        ScanDefinition(("f " + paramsAndBody).c_str(), FunctionKind::Integer, TTableState{});
    QUOB_FunctionRecord record{};
    record.ParamCount = body->paramCount;
    for (int32_t p = 0; p < body->paramCount; ++p) {
        std::strcpy(record.Params[p].Name, body->params[p]);
        record.Params[p].Type = QUOB_VALUE_INT32;
        record.Params[p].Address = 4 * static_cast<uint32_t>(p);
    }
    TCodeBuffer code;
    CompileIntegerBody({*body, code, record}, target);
    return CodeHex(code);
}

// Expected code with its pieces named by letters outside the hex digits.
std::string Expand(std::string code) {
    const std::pair<char, std::string> pieces[] = {
        {'R', "890504000000"},             // MOV [result 0 of one parameter],EAX
        {'Z', "B800000000030500000000"},   // MOV EAX,0; ADD EAX,[x]
        {'T', "DB0500000000D9FADB5C24"}};  // FILD [x]; FSQRT; FISTP [ESP+d8]
    for (const auto &[letter, piece] : pieces)
        for (size_t at; (at = code.find(letter)) != std::string::npos;) code.replace(at, 1, piece);
    return code;
}

struct BodyCode {
    const char *name;
    std::string text;
    const char *expected;
    bool whole;  // false: the expected code is part of the body's code, at a byte boundary
};

class IntBodyCode : public testing::TestWithParam<BodyCode> {};

TEST_P(IntBodyCode, Ia32Bytes) {
    const std::string code = CompileFor(Target::IA32, GetParam().text);
    const std::string expected = Expand(GetParam().expected);
    if (GetParam().whole) {
        EXPECT_EQ(code, expected);
        return;
    }
    size_t at = code.find(expected);
    while (at != std::string::npos && at % 2) at = code.find(expected, at + 1);
    EXPECT_NE(at, std::string::npos) << code;
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, IntBodyCode,
    testing::Values(
        // MOV EAX,[y]; IMUL EAX,[x]; ADD EAX,3; MOV [result],EAX: parameters and literals cost
        // nothing until "*" and "+" need them; the top one of two parameters is loaded.
        BodyCode{"WorkedExample", "x y = x y * 3 + ret",
                 "8B0504000000"
                 "0FAF0500000000"
                 "83C003"
                 "890508000000",
                 true},
        // The slots of "+"'s operands are free again at the next token: the third root
        // reuses slot 0.
        BodyCode{"SlotsFreedAtTheNextToken", "x = x sqrt x sqrt + x sqrt + ret",
                 "TFCTF88B4424F8034424FC"
                 "TFC034424FCR",
                 true},
        BodyCode{"RegistersFreedAtTheNextToken", "x = x 1 + x 2 + + x 3 + + ret",
                 "B801000000030500000000"
                 "BB02000000031D0000000001D8"
                 "BB03000000031D0000000001D8R",
                 true},
        // Seven live values: the seventh allocation spills EAX to slot 0 and continues with EAX.
        BodyCode{"SeventhValueSpillsEaxToSlotZero",
                 "x = x 1 + x 2 + x 3 + x 4 + x 5 + x 6 + x 7 + + + + + + + ret",
                 "894424FCB807000000", false},
        // Slot 32 lies beyond the 8-bit displacement: the jump over NEG grows with it.
        BodyCode{"AbsOfADeepSlotJumpsOverTheLongForm",
                 "x =" + Repeat(" x sqrt", 33) + " abs" + Repeat(" +", 32) + " ret",
                 "83BC247CFFFFFF007907F79C247CFFFFFF", false}),
    [](const testing::TestParamInfo<BodyCode> &info) { return std::string(info.param.name); });

// ---- Outcomes of bodies: results, or the code of the failure ---------------------------------

struct Outcome {
    const char *name;
    std::string text;  // over the parameter x
    int32_t code;      // 9, 10, 12, 13, 14 (see quob32.h); 0: compiles
    int32_t x = 0;
    std::vector<int32_t> results = {};
};

class IntOutcome : public testing::TestWithParam<Outcome> {};

TEST_P(IntOutcome, ResultsOrCode) {
    QUOB_SetLastError(0);
    const IntFunction f(GetParam().text);
    EXPECT_EQ(f.error(), GetParam().code);
    ASSERT_EQ(f.ok(), GetParam().code == 0);
    if (f.ok()) {
        EXPECT_EQ(f.Run({GetParam().x}), GetParam().results);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IntOutcome,
    testing::Values(
        // Folded, "sqr" is the full product; at run time it squares the low 16 bits (-25536).
        Outcome{"SqrFolded", "x = 40000 sqr ret", 0, 0, {1600000000}},
        Outcome{"SqrAtRunTime", "x = x sqr ret", 0, 40000, {652087296}},
        // "abs" of a parameter works on a register: the parameter keeps its value.
        Outcome{"AbsLeavesParam", "x = x abs x + ret", 0, -5, {0}},
        Outcome{"AbsOfMinimum", "x = x abs ret", 0, INT32_MIN, {INT32_MIN}},
        Outcome{"SqrtRoundsToNearest", "x = x sqrt 8 sqrt ret ret", 0, 8, {3, 3}},
        Outcome{"SqrtOfZero", "x = x sqrt 0 sqrt ret ret", 0, 0, {0, 0}},
        Outcome{"SqrtOfNegative", "x = x sqrt -4 sqrt ret ret", 0, -4, {-4, INT32_MIN}},
        Outcome{"HexLowerCase", "x = $ff x + ret", 0, 1, {256}},
        // "-" before "$" is the operator: 1 - x, then + 5.
        Outcome{"MinusBeforeHexIsTheOperator", "x = x 1 -$5 + ret", 0, 1, {5}},
        Outcome{"LongLiteralIsCut", "x = 123456789 ret", 0, 0, {12345678}},
        Outcome{"WrapAround", "x = x 1 + x 2 * ret ret", 0, INT32_MAX, {-2, INT32_MIN}},
        Outcome{"FoldedProductWraps", "x = 65536 65536 * ret", 0, 0, {0}},
        Outcome{"ReservedWordsSkipped", "x = x / \\ 2 shl shr * tan time ret", 0, 21, {42}},
        Outcome{"EightResults", "x = " + Repeat("x ret ", 8), 0, 3, std::vector<int32_t>(8, 3)},
        // Copying EAX with every register taken evicts the original itself to a slot.
        Outcome{"CopyOfEaxWithRegistersFull",
                "x z = " + Repeat("z 0 + ", 6) + "x 0 + copy 1 + - ret + + + + + ret",
                0,
                41,
                {1, 0}},
        // 33 roots: the deepest in slot 32; the integer indefinite of each negative root sums to
        // itself over an odd count.
        Outcome{
            "DeepSlots", "x =" + Repeat(" x sqrt", 33) + Repeat(" +", 32) + " ret", 0, 49, {231}},
        Outcome{"DeepSlotAbs",
                "x =" + Repeat(" x sqrt", 33) + " abs" + Repeat(" +", 32) + " ret",
                0,
                -4,
                {INT32_MIN}},
        Outcome{"AddOnEmpty", "x = +", 12}, Outcome{"SubOnOne", "x = x -", 12},
        Outcome{"SwapOnOne", "x = x swap ret", 12}, Outcome{"CopyOnEmpty", "x = copy", 12},
        Outcome{"SqrOnEmpty", "x = sqr", 12}, Outcome{"RetOnEmpty", "x = x ret ret", 12},
        Outcome{"LeftOver", "x = x 1", 13}, Outcome{"LeftOverAfterRet", "x = x ret 1", 13},
        Outcome{"DivisionIsSkipped", "x = x 3 / ret", 13},
        Outcome{"ValueLeftWithoutRet", "x = x neg 1 - 2 * abs", 13},
        Outcome{"EmptyBody", "x =", 10}, Outcome{"OnlyReserved", "x = time", 10},
        Outcome{"RealLiteral", "x = x 1.5 + ret", 10},
        Outcome{"DigitsThenLetter", "x = 12x ret", 10},
        Outcome{"HexWithoutDigits", "x = $ ret", 10}, Outcome{"HexBadDigit", "x = $1G ret", 10},
        Outcome{"UnknownName", "x = y ret", 10}, Outcome{"CaseSensitive", "x = X ret", 10},
        Outcome{"FurtherEquals", "x = x = ret", 10},
        Outcome{"NineResults", "x = " + Repeat("x ret ", 9), 14},
        // 1023 descriptors fit; the 1024th does not.
        Outcome{"DescriptorStackFull", "x = " + Repeat("1 ", 1024) + Repeat("+ ", 1023) + "ret", 9},
        Outcome{"CodeBufferFull", "x = " + Repeat("x 1000 * ", 60) + Repeat("+ ", 59) + "ret", 9}),
    [](const testing::TestParamInfo<Outcome> &info) { return std::string(info.param.name); });

TEST(IntLimits, FullDescriptorStackOfConstantsFoldsToNothing) {
    const IntFunction f("x = " + Repeat("1 ", 1023) + Repeat("+ ", 1022) + "ret");
    ASSERT_TRUE(f.ok()) << f.error();
    EXPECT_EQ(f.Run({0}), std::vector<int32_t>{1023});
    QUOB_FunctionRecord r;
    ASSERT_EQ(GetFunction(f.handle(), &r), 1);
    // Two cells, MOV [result], imm32 and RET.
    EXPECT_EQ(r.BlockSize, 8u + (kHostTarget == Target::X64 ? 11u : 10u) + 1u);
}

// The stack and allocation state belong to one compilation: a failed body leaves nothing behind.
TEST(IntLimits, FailureDoesNotAffectTheNextCompilation) {
    { const IntFunction bad("x = " + Repeat("x 0 + ", 40)); }
    const IntFunction f("x = x 0 + x 1 + + ret");
    ASSERT_TRUE(f.ok());
    EXPECT_EQ(CompileFor(Target::IA32, "x = x 0 + ret"), Expand("ZR"));
    EXPECT_EQ(f.Run({5}), std::vector<int32_t>{11});
}

// ---- Random bodies, deep enough to spill, against the reference evaluator --------------------

TEST(IntDifferential, RandomBodiesMatchTheReference) {
    std::mt19937 rng(20240611);
    static const char *const kReserved[] = {"/", "\\", "shl", "shr", "tan", "time"};
    int compiled = 0, tooLong = 0, deep = 0;
    for (int i = 0; i < 3000; ++i) {
        const int maxDepth = 2 + static_cast<int>(rng() % 18);
        std::vector<std::string> body = test::RandomIntBody(rng, 8 + int(rng() % 70), maxDepth);
        if (rng() % 8 == 0)
            body.insert(body.begin() + long(rng() % body.size()), kReserved[rng() % 6]);
        const std::string text = "a b c = " + test::Join(body);
        const IntFunction f(text);
        if (!f.ok()) {
            // Only a body whose code exceeds the buffer may fail.
            ASSERT_EQ(f.error(), QUOB_ERR_OUT_OF_RESOURCES) << text;
            ++tooLong;
            continue;
        }
        ++compiled;
        deep += maxDepth >= 8;
        for (int run = 0; run < 4; ++run) {
            std::vector<int32_t> params(3);
            for (int32_t &p : params)
                p = run == 0 ? int32_t(rng() % 200) - 100 : static_cast<int32_t>(rng());
            const auto expected = test::EvaluateIntBody(body, {"a", "b", "c"}, params);
            ASSERT_TRUE(expected) << text;
            ASSERT_EQ(f.Run(params), *expected)
                << text << "\n a=" << params[0] << " b=" << params[1] << " c=" << params[2];
        }
    }
    EXPECT_GT(compiled, 2400) << tooLong << " bodies exceeded the code buffer";
    EXPECT_GT(deep, 1000);
}

}  // namespace
