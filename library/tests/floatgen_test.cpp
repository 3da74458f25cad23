// The floating-point back end: emitted bytes, keyword results, depth rules, the recursive loop,
// and a randomised differential test against the reference evaluator.
#include "floatgen.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "codebuffer.h"
#include "errors.h"
#include "int_support.h"
#include "platform.h"
#include "scanner.h"
#include "x87_reference.h"

namespace {

using quob::Target;
using ld = long double;
using Function = x87::RealFunction;

// Compiles a body with parameters x (offset 0) and y (offset 10) for a target; returns the code
// as hex, or "fail:<code>".
std::string Emit(const std::string &body, Target target, int blockLength = 0) {
    QUOB_FunctionRecord record{};
    record.ParamCount = 2;
    std::strcpy(record.Params[0].Name, "x");
    std::strcpy(record.Params[1].Name, "y");
    record.Params[1].Address = 10;
    quob::TScanner scanner(body.c_str());
    quob::TCodeBuffer code;
    quob::TFloatHardware hw({scanner, code, record}, target);
    try {
        blockLength ? hw.CompileRecursive(blockLength) : hw.CompileBody();
    } catch (const quob::TAbandon &failure) {
        return "fail:" + std::to_string(failure.code);
    }
    return quob::test::Hex(code.Code(), size_t(code.Length()));
}

struct BytesCase {
    const char *body;
    const char *ia32;  // IA-32 code, without the final RET of the driver
};

// x at [0], y at [10]; with one result it lies at [20] (14h).
constexpr const char *kLdX = "DB2D00000000";
constexpr const char *kLdY = "DB2D0A000000";
constexpr const char *kRet0 = "DB3D14000000";

class KeywordBytes : public testing::TestWithParam<BytesCase> {};

TEST_P(KeywordBytes, MatchesTheInstructionSequence) {
    std::string expected = GetParam().ia32;
    for (auto [key, value] : {std::pair{"X", kLdX}, {"Y", kLdY}, {"R", kRet0}})
        for (size_t at; (at = expected.find(key)) != std::string::npos;)
            expected.replace(at, 1, value);
    EXPECT_EQ(Emit(GetParam().body, Target::IA32), expected);
}

INSTANTIATE_TEST_SUITE_P(
    FloatKeywords, KeywordBytes,
    testing::Values(
        BytesCase{"x y + ret", "XYDEC1R"}, BytesCase{"x y - ret", "XYDEE1R"},
        BytesCase{"x y swap - ret", "XYDEE9R"}, BytesCase{"x y * ret", "XYDEC9R"},
        BytesCase{"x y / ret", "XYDEF1R"}, BytesCase{"x y swap / ret", "XYDEF9R"},
        BytesCase{"x y swap + ret", "XYDEC1R"}, BytesCase{"x y \\ ret", "XYD9F8DDD9R"},
        BytesCase{"x y swap \\ ret", "XYD9C9D9F8DDD9R"}, BytesCase{"x neg ret", "XD9E0R"},
        BytesCase{"x abs ret", "XD9E1R"}, BytesCase{"x y scale del ret", "XYD9FDDDC0D9F7R"},
        BytesCase{"x sqrt ret", "XD9FAR"}, BytesCase{"x sqr ret", "XD8C8R"},
        BytesCase{"x sin ret", "XD9FER"}, BytesCase{"x cos ret", "XD9FFR"},
        BytesCase{"x sincos + ret", "XD9FBDEC1R"}, BytesCase{"x tan ret", "XD9F2DDC0D9F7R"},
        BytesCase{"x y patan ret", "XYD9F3R"}, BytesCase{"x copy * ret", "XD9C0DEC9R"},
        BytesCase{"pi ret", "D9EBR"}, BytesCase{"0 ret", "D9EER"}, BytesCase{"1 ret", "D9E8R"},
        BytesCase{"log2(10) ret", "D9E9R"}, BytesCase{"log2(e) ret", "D9EAR"},
        BytesCase{"log10{2) ret", "D9ECR"}, BytesCase{"ln(2) ret", "D9EDR"},
        BytesCase{"x 2px ret", "XD9F0R"}, BytesCase{"x int ret", "XD9FCR"},
        BytesCase{"x y YxLog2X ret", "XYD9F1R"}, BytesCase{"x log2 ret", "XD9F4DDC0D9F7R"},
        BytesCase{"x exp ret", "XD9EADEC9D9C0D9FCDCE9D9E8D9FDDDD9D9C9D9F0D9E8DEC1DEC9R"},
        // swap then pi: the exchange is resolved before the constant is loaded
        BytesCase{"x y swap pi + + ret", "XYD9C9D9EBDEC1DEC1R"},
        // swap then ret: resolved first, so the stored value is the second one
        BytesCase{"x y swap ret ret", "XYD9C9DB3D14000000DB3D1E000000"},
        // a constant inline behind a short jump: 2.0 as a single at code offset 2, code at [30]
        BytesCase{"2 ret",
                  "EB0400000040D9052000000"
                  "0DB3D14000000"},
        // extended: 2.5 as 10 bytes at code offset 2
        BytesCase{"2.5! ret", "EB0A00000000000000A00040DB2D20000000DB3D14000000"}));

TEST(FloatBytes, X64UsesTheSibFormForAbsoluteOperands) {
    EXPECT_EQ(Emit("x ret", Target::X64), "DB2C2500000000DB3C2514000000");
    EXPECT_EQ(Emit("x ret", Target::IA32), "DB2D00000000DB3D14000000");
}

// The default fractal formula's parameters: tx, ty, x, y; P = 4, R = 2, K = 2.
QUOB_FunctionRecord DefaultFractalRecord() {
    QUOB_FunctionRecord record{};
    record.ParamCount = 4;
    const char *names[] = {"tx", "ty", "x", "y"};
    for (int p = 0; p < 4; ++p) {
        std::strcpy(record.Params[p].Name, names[p]);
        record.Params[p].Address = 10 * p;
    }
    return record;
}
constexpr const char *kDefaultBody = "x ty sqr tx sqr -+ret y 2 tx ty **+ret";

TEST(FloatBytes, RecursiveWrapperOfTheDefaultFractal) {
    const QUOB_FunctionRecord record = DefaultFractalRecord();
    quob::TScanner scanner(kDefaultBody);
    quob::TCodeBuffer code;
    ASSERT_EQ(quob::TFloatHardware({scanner, code, record}, Target::IA32).CompileRecursive(1000),
              2);
    const uint8_t expected[] = {
        0xB8, 0xE8, 0x03,    0x00, 0x00,                    // MOV EAX,1000
        0xDB, 0x2D, 20,      0,    0,    0,                 // FLD x
        0xDB, 0x2D, 10,      0,    0,    0,    0xD8, 0xC8,  // FLD ty; FMUL ST,ST
        0xDB, 0x2D, 0,       0,    0,    0,    0xD8, 0xC8,  // FLD tx; FMUL ST,ST
        0xDE, 0xE1, 0xDE,    0xC1,                          // FSUBRP; FADDP
        0xDB, 0x3D, 40,      0,    0,    0,                 // FSTP result 0
        0xDB, 0x2D, 30,      0,    0,    0,                 // FLD y
        0xEB, 0x04, 0x00,    0x00, 0x00, 0x40,              // JMP +4; 2.0f
        0xD9, 0x05, 60 + 45, 0,    0,    0,                 // FLD DWORD [code start + 45]
        0xDB, 0x2D, 0,       0,    0,    0,    0xDB, 0x2D, 10, 0, 0, 0,  // FLD tx; FLD ty
        0xDE, 0xC9, 0xDE,    0xC9, 0xDE, 0xC1,                           // FMULP; FMULP; FADDP
        0xDB, 0x3D, 50,      0,    0,    0,                              // FSTP result 1
        0xBF, 0,    0,       0,    0,                                    // MOV EDI,param 0
        0xBE, 40,   0,       0,    0,                                    // MOV ESI,result 0
        0xB9, 10,   0,       0,    0,                                    // MOV ECX,5*K
        0x66, 0xF3, 0xA5,                                                // REP MOVSW
        0x48,                                                            // DEC EAX
        0x0F, 0x85};                                                     // JNZ back to offset 5
    ASSERT_EQ(code.Length(), int(sizeof expected) + 4);
    EXPECT_EQ(0, std::memcmp(code.Code(), expected, sizeof expected));
    int32_t disp;
    std::memcpy(&disp, code.Code() + sizeof expected, 4);
    EXPECT_EQ(disp, 1 - int32_t(sizeof expected));
    EXPECT_EQ(int32_t(sizeof expected) + 4 + disp, 5);
    // 6 address fields in the body... each FLD/FSTP and constant load, plus EDI and ESI.
    EXPECT_EQ(code.RelocationCount(), 11);
}

TEST(FloatBytes, X64LoopTailCopiesEightPlusTwoBytes) {
    // x at [0], y at [10], result 0 at [20]: K = 1.
    const std::string code = Emit("x ret", Target::X64, 3);
    const std::string tail =
        "488B0C2514000000"  // MOV RCX,[result 0]
        "48890C2500000000"  // MOV [x],RCX
        "0FB70C251C000000"  // MOVZX ECX,WORD [result 0 + 8]
        "66890C2508000000"  // MOV [x + 8],CX
        "FFC8"              // DEC EAX
        "0F85";             // JNZ
    EXPECT_NE(code.find(tail), std::string::npos) << code;
    EXPECT_EQ(code.find("F3A5"), std::string::npos) << code;
}

// The execution copy of the default formula: the four parameters in registers (tx deepest, y
// on top), loaded once; FLD ST(i) for reads, "ty *" as FMUL ST(0),ST(i); result 1 replaces ty at
// once, result 0 waits in a register for the end of the iteration, as tx is still read; the
// constant 2 is the record's inline constant; after the loop the values go to their cells, the
// fed-back ones with 80-bit stores into the parameters' cells and from there into the results'.
TEST(FloatBytes, ExecutionCopyOfTheDefaultFractalKeepsItsValuesInRegisters) {
    const QUOB_FunctionRecord record = DefaultFractalRecord();
    quob::TScanner scanner(kDefaultBody);
    quob::TCodeBuffer code, copy, variant;
    quob::TFloatHardware hw({scanner, code, record}, Target::IA32);
    ASSERT_EQ(hw.CompileRecursive(1000), 2);
    ASSERT_TRUE(hw.CompileExecutionCopy(copy, false));
    ASSERT_TRUE(hw.CompileExecutionCopy(variant, true));
    const std::string loads = "DB2D00000000DB2D0A000000DB2D14000000DB2D1E000000BAE8030000";
    const std::string body =
        "D9C1D9C3D8C8D9C5D8C8DEE1DEC1"  // x ty sqr tx sqr - +
        "D9C1D90569000000D9C6D8CE"      // y 2 tx, ty * fused
        "DEC9DEC1DDDCDDDC";             // * + ret, then result 0
    const std::string stores =
        "DDD8DDD8DB3D0A000000DB3D00000000"
        "8B0D00000000890D280000008B0D04000000890D2C000000"
        "0FB70D0800000066890D30000000"
        "8B0D0A000000890D320000008B0D0E000000890D36000000"
        "0FB70D1200000066890D3A000000";
    EXPECT_EQ(quob::test::Hex(copy.Code(), size_t(copy.Length())),
              loads + body + "4A75DB" + stores);
    // The variant tests the fault flags after each iteration: FNSTSW AX, TEST AL,0Fh, JNZ out.
    EXPECT_EQ(quob::test::Hex(variant.Code(), size_t(variant.Length())),
              loads + body + "DFE0A80F7503" + "4A75D5" + stores);
}

// ---- compiled behaviour --------------------------------------------------------------------

// Results of definitions over the parameters a and b (as many as the header names).
struct ResultCase {
    const char *definition;
    ld a, b;
    ld expected;
};

class KeywordResults : public testing::TestWithParam<ResultCase> {};

TEST_P(KeywordResults, ComputeTheLanguagesOperandOrder) {
    Function f(CreateRealFunction(GetParam().definition));
    ASSERT_NE(f.handle, 0) << QUOB_GetLastErrorEx();
    QUOB_FunctionRecord record;
    GetFunction(f.handle, &record);
    for (int p = 0; p < record.ParamCount; ++p) f.Param(p) = p ? GetParam().b : GetParam().a;
    EXPECT_EQ(*static_cast<ld *>(LaunchFunction(f.handle)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Operands, KeywordResults,
    testing::Values(
        ResultCase{"f a b = a b - ret", 1, 3, 2}, ResultCase{"f a b = a b swap - ret", 1, 3, -2},
        ResultCase{"f a b = a b / ret", 2, 6, 3},
        ResultCase{"f a b = a b swap / ret", 2, 6, 1.0L / 3},
        ResultCase{"f a b = a 1 - ret", 5, 0, -4}, ResultCase{"f a b = 1 a - ret", 5, 0, 4},
        ResultCase{"f a b = a b swap pi + - ret", 1, 3, 1 + 3.14159265358979323851L - 3},
        ResultCase{"f a b = a b \\ ret", 3, 7, 1}, ResultCase{"f a b = a b \\ ret", 3, -7, -1},
        ResultCase{"f a b = a b scale swap del ret", 3, 5, 40},
        ResultCase{"f a b = a sincos del del 1 ret", 0, 0, 1},
        ResultCase{"f a b = a 0.5 * ret", 3, 0, 1.5},
        ResultCase{"f a b = a 2 YxLog2X ret", 3, 0, 3}, ResultCase{"f a b = a log2 ret", 10, 0, 3},
        ResultCase{"f a b = a int ret", 2.5, 0, 2},
        ResultCase{"f a b = a copy ret b del ret", 7, 8, 7},
        ResultCase{"f a b = 0 a - ret", 4, 0, 4}, ResultCase{"f x = 1 ret", 5, 0, 1},
        ResultCase{"f x = x 0.1 * ret", 1, 0, 0.1f}, ResultCase{"f x = x 0.1! * ret", 1, 0, 0.1L},
        ResultCase{"f x = x 0.12345! * ret", 1, 0, 0.12345L},
        ResultCase{"f x = x 0.123456! * ret", 1, 0, 0.123456f},  // "!" is cut off
        ResultCase{"f x = 1e39! ret", 0, 0, 1e39L}, ResultCase{"f x = 2 -1 * ret", 0, 0, -2},
        ResultCase{"f abcdefghij = abcdefghxyz ret", 3, 0, 3},
        ResultCase{"time x = x x * ret", 3, 0, 9}));

TEST(Recursive, FeedsBackTheFirstKResults) {
    // P = 3, R = 2: the third parameter is never overwritten.
    Function f(CreateRecursiveFunction("r a b c = a 1 + ret b c + ret", 3));
    ASSERT_NE(f.handle, 0);
    f.Param(0) = 0, f.Param(1) = 0, f.Param(2) = 5;
    LaunchFunction(f.handle);
    EXPECT_EQ(f.Param(0), 3);
    EXPECT_EQ(f.Param(1), 15);
    EXPECT_EQ(f.Param(2), 5);
    // P = 2, R = 3: only the first two results are fed back.
    Function g(CreateRecursiveFunction("s a b = a 1 + ret b 2 * ret a b + ret", 1));
    ASSERT_NE(g.handle, 0);
    g.Param(0) = 1, g.Param(1) = 3;
    LaunchFunction(g.handle);
    EXPECT_EQ(g.Param(0), 2);
    EXPECT_EQ(g.Param(1), 6);
    EXPECT_EQ(g.Result(2), 4);
    LaunchFunction(g.handle);  // one iteration per call: it continues from the fed-back values
    EXPECT_EQ(g.Param(0), 3);
    EXPECT_EQ(g.Result(2), 8);
}

TEST(Recursive, MandelbrotIterationMatchesLongDouble) {
    Function f(CreateRecursiveFunction("m tx ty x y = x ty sqr tx sqr -+ret y 2 tx ty **+ret", 7));
    ASSERT_NE(f.handle, 0);
    const ld cx = -0.75L, cy = 0.1L;
    f.Param(0) = 0, f.Param(1) = 0, f.Param(2) = cx, f.Param(3) = cy;
    LaunchFunction(f.handle);
    ld tx = 0, ty = 0;
    for (int i = 0; i < 7; ++i) {
        const ld nx = cx + (tx * tx - ty * ty), ny = (2.0L * tx) * ty + cy;
        tx = nx, ty = ny;
    }
    EXPECT_EQ(x87::Bits(f.Param(0)), x87::Bits(tx));
    EXPECT_EQ(x87::Bits(f.Param(1)), x87::Bits(ty));
}

TEST(Recursive, FillerVariantLeavesAtTheFirstFault) {
    const char *text = "v b a = b 1 + ret a a * ret";
    const int32_t h = quob::CreateFunction(text, {quob::FunctionKind::Recursive, 20, true});
    ASSERT_NE(h, 0);
    Function f(h);
    const quob::TCompiledFunction &compiled = *quob::CompiledFunction(h);
    ASSERT_NE(compiled.FillerEntry(), compiled.Entry());
    auto run = [&](const void *entry, ld start) {
        f.Param(0) = 0, f.Param(1) = start;
        __asm__ volatile("fnclex");
        quob::quob_call_generated(entry);
        return f.Param(0);
    };
    // Squaring 1e300 overflows the extended range in the fifth iteration: the variant stops
    // right after it (the counter b shows how far it got); the execution copy runs all 20.
    EXPECT_EQ(run(compiled.FillerEntry(), 1e300L), 5);
    EXPECT_TRUE(std::isinf(f.Param(1)));
    EXPECT_EQ(run(compiled.Entry(), 1e300L), 20);
    // An infinity that raises no flag: the whole block.
    EXPECT_EQ(run(compiled.FillerEntry(), INFINITY), 20);
    // With finite values both run the whole block and agree bit for bit.
    volatile long double squared = 1.0000001L;
    for (int i = 0; i < 20; ++i) squared = squared * squared;
    for (const auto entry : {compiled.FillerEntry(), compiled.Entry()}) {
        EXPECT_EQ(run(entry, 1.0000001L), 20);
        EXPECT_EQ(x87::Bits(f.Param(1)), x87::Bits(squared));
    }
}

// ---- randomised differential test ----------------------------------------------------------

TEST(Differential, RandomBodiesMatchTheReferenceBitForBit) {
    std::mt19937 rng(20261208);
    std::uniform_real_distribution<double> value(-3.0, 3.0);
    int compared = 0;
    for (int round = 0; round < 3000; ++round) {
        const std::string body = x87::RandomBody(rng, {"x", "y", "z"});
        Function f(CreateRealFunction(("d x y z = " + body).c_str()));
        ASSERT_NE(f.handle, 0) << body << ": " << QUOB_GetLastErrorEx();
        const ld x = value(rng), y = value(rng), z = ld(value(rng)) / 3;
        const auto expected = x87::Evaluate(body, {"x", "y", "z"}, {x, y, z});
        if (!expected) continue;  // "tan" or "sincos" outside the x87 range
        f.Param(0) = x, f.Param(1) = y, f.Param(2) = z;
        LaunchFunction(f.handle);
        QUOB_FunctionRecord record;
        ASSERT_EQ(GetFunction(f.handle, &record), 1);
        ASSERT_EQ(record.ResultCount, int32_t(expected->results.size())) << body;
        for (size_t k = 0; k < expected->results.size(); ++k)
            ASSERT_EQ(x87::Bits(f.Result(int(k))), x87::Bits(expected->results[k]))
                << body << " result " << k << " x=" << double(x) << " y=" << double(y);
        ++compared;
    }
    EXPECT_GT(compared, 2700);
}

// ---- the execution copy against the record's code -----------------------------------------

// What a run leaves: every value cell, and the x87 status word (exception flags, stack fault,
// TOP; the condition codes describe only the last instruction) and tag word.
struct RunState {
    std::string cells;
    uint16_t status, tags;
    bool operator==(const RunState &) const = default;
    friend void PrintTo(const RunState &s, std::ostream *os) {
        *os << "status " << std::hex << s.status << " tags " << s.tags << " cells "
            << quob::test::Hex(reinterpret_cast<const uint8_t *>(s.cells.data()), s.cells.size());
    }
};

// Runs code under LaunchFunction's environment on the given parameter values.
RunState RunCode(const void *entry, const QUOB_FunctionRecord &r, const std::vector<ld> &params) {
    auto *block = reinterpret_cast<uint8_t *>(uintptr_t{r.Block});
    const size_t cells = size_t(r.Entry - r.Block);
    std::memset(block, 0x5A, cells);
    for (size_t p = 0; p < params.size(); ++p) std::memcpy(block + 10 * p, &params[p], 10);
    struct {
        uint16_t control, unused1, status, unused2, tags, rest[9];
    } saved, after;
    constexpr uint16_t kControl = 0x037F;
    // Eight zeros first: a body whose stack shifts ("tan" beyond 2^63) reads registers that
    // FNINIT only tags empty, and an emulator that does not fault on that reads their old
    // contents.
    __asm__ volatile(
        "fnstenv %0\n\tfldz\n\tfldz\n\tfldz\n\tfldz\n\tfldz\n\tfldz\n\tfldz\n\t"
        "fldz\n\tfninit\n\tfldcw %1"
        : "=m"(saved)
        : "m"(kControl));
    quob::quob_call_generated(entry);
    __asm__ volatile("fnstenv %0\n\tfldenv %1" : "=m"(after) : "m"(saved));
    return {std::string(reinterpret_cast<char *>(block), cells), uint16_t(after.status & 0x38FF),
            after.tags};
}

// Random recursive and real bodies over up to six parameters (every keyword, stack depths up to
// 8, so that held registers and the body's own depth meet the limit from both sides), block
// lengths 1 to 1000 and special values: the execution copy leaves every cell and the status bit
// for bit as the record's code does. The filler's variant does too, unless a fault flag was
// raised, when it must raise one as well.
TEST(ExecutionCopy, MatchesTheRecordsCodeBitForBit) {
    std::mt19937 rng(20240917);
    const std::vector<std::string> allNames = {"a", "b", "c", "d", "e", "f"};
    int translated = 0, faulted = 0, leftEarly = 0;
    for (int round = 0; round < 2500; ++round) {
        const bool recursive = rng() % 4 != 0;
        const std::vector<std::string> names(allNames.begin(),
                                             allNames.begin() + 1 + long(rng() % 6));
        const std::string body = x87::RandomBody(rng, names, 1 + int(rng() % 8), 30);
        const int32_t blockLength = !recursive       ? 1
                                    : rng() % 10 < 6 ? 1 + int(rng() % 10)
                                    : rng() % 4 != 0 ? 11 + int(rng() % 90)
                                                     : 101 + int(rng() % 900);
        std::string text = "e";
        for (const std::string &n : names) text += " " + n;
        text += " = " + body;
        Function f(quob::CreateFunction(
            text.c_str(), {recursive ? quob::FunctionKind::Recursive : quob::FunctionKind::Real,
                           blockLength, recursive}));
        ASSERT_NE(f.handle, 0) << text << ": " << QUOB_GetLastErrorEx();
        QUOB_FunctionRecord r;
        ASSERT_EQ(GetFunction(f.handle, &r), 1);
        // The record's code, run from a page of its own so that its stores do not hit it.
        const size_t length = r.BlockSize - (r.Entry - r.Block);
        void *record = quob::platform::CreateExecutionCopy(
            reinterpret_cast<void *>(uintptr_t{r.Entry}), length);
        ASSERT_NE(record, nullptr);
        const void *copy = quob::CompiledFunction(f.handle)->Entry();
        const void *variant = quob::CompiledFunction(f.handle)->FillerEntry();
        translated += std::memcmp(copy, record, length) != 0;
        for (int trial = 0; trial < 3; ++trial) {
            std::vector<ld> params;
            for (size_t p = 0; p < names.size(); ++p) params.push_back(x87::SpecialValue(rng));
            const RunState expected = RunCode(record, r, params);
            ASSERT_EQ(RunCode(copy, r, params), expected) << text << " N=" << blockLength;
            if (variant == copy) continue;
            const RunState early = RunCode(variant, r, params);
            if ((expected.status & 0x0F) == 0) {
                ASSERT_EQ(early, expected) << text << " N=" << blockLength;
            } else {
                ++faulted;
                ASSERT_NE(early.status & 0x0F, 0) << text << " N=" << blockLength;
                leftEarly += early.cells != expected.cells;
            }
        }
        quob::platform::FreeExecutionCopy(record, length);
    }
    EXPECT_GT(translated, 1000) << "most bodies should run register-resident";
    EXPECT_GT(leftEarly, 100) << "the variant should often leave early";
    EXPECT_GT(faulted, leftEarly);
}

}  // namespace
