// The floating-point back end: the loop tail of recursive functions on both targets, the feedback
// and the filler's early-leaving variant, and randomised differential tests: bodies against the
// reference evaluator, execution copies against the record's code.
#include "compile/floatgen.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "compile/codebuffer.h"
#include "compile/frontend.h"
#include "compile/functions.h"
#include "compile/interpret.h"
#include "compile/sampleloop.h"
#include "int_support.h"
#include "platform/platform.h"
#include "x87_reference.h"

namespace {

using quob::Target;
using ld = long double;
using Function = x87::RealFunction;

// Compiles a body with parameters x (offset 0) and y (offset 10) for a target; returns the code
// as hex.
std::string Emit(const std::string &body, Target target, int blockLength = 0) {
    QUOB_FunctionRecord record{};
    record.ParamCount = 2;
    std::strcpy(record.Params[0].Name, "x");
    std::strcpy(record.Params[1].Name, "y");
    record.Params[1].Address = 10;
    const auto kind = blockLength ? quob::FunctionKind::Recursive : quob::FunctionKind::Real;
    const auto checked = quob::ScanDefinition(("f x y = " + body).c_str(), kind, {});
    quob::TCodeBuffer code;
    quob::TFloatHardware hw({*checked, code, record}, target);
    blockLength ? hw.CompileRecursive(blockLength) : hw.CompileBody();
    return quob::test::Hex(code.Code(), size_t(code.Length()));
}

// The loop tail of a recursive function copies the K fed-back results into the parameters. The
// IA-32 forms (REP MOVSW, DEC EAX as 48) are the bytes that x86-64 reads as other instructions, so
// only the 32-bit build runs them; x86-64 copies 8 + 2 bytes through RCX. "x ret" with the
// parameters x at [0] and y at [10]: result 0 lies at [20], K = 1.
struct LoopTail {
    Target target;
    const char *load, *tail;
};

class RecursiveLoopTail : public testing::TestWithParam<LoopTail> {};

TEST_P(RecursiveLoopTail, CopiesTheFedBackResults) {
    const std::string code = Emit("x ret", GetParam().target, 3);
    EXPECT_EQ(code.rfind(std::string("B803000000") + GetParam().load, 0), 0u) << code;
    const size_t at = code.find(GetParam().tail);
    EXPECT_EQ(at, code.size() - std::strlen(GetParam().tail) - 8) << code;  // rel32 follows
}

INSTANTIATE_TEST_SUITE_P(Targets, RecursiveLoopTail,
                         testing::Values(LoopTail{Target::IA32, "DB2D00000000DB3D14000000",
                                                  "BF00000000"  // MOV EDI,param 0
                                                  "BE14000000"  // MOV ESI,result 0
                                                  "B905000000"  // MOV ECX,5*K
                                                  "66F3A5"      // REP MOVSW
                                                  "48"          // DEC EAX
                                                  "0F85"},      // JNZ
                                         LoopTail{
                                             Target::X64, "DB2C2500000000DB3C2514000000",
                                             "488B0C2514000000"  // MOV RCX,[result 0]
                                             "48890C2500000000"  // MOV [x],RCX
                                             "0FB70C251C000000"  // MOVZX ECX,WORD [result 0 + 8]
                                             "66890C2508000000"  // MOV [x + 8],CX
                                             "FFC8"              // DEC EAX
                                             "0F85"}));          // JNZ

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

// ---- the filler's sample loop against passes of the record's code ------------------------------

struct SampleOutcome {
    int32_t outcome, passesLeft;
    std::string iterate;  // the cells of parameters 0 and 1 where the colour formula reads them
    bool operator==(const SampleOutcome &) const = default;
    friend void PrintTo(const SampleOutcome &o, std::ostream *os) {
        *os << "outcome " << o.outcome << " passes left " << o.passesLeft << " iterate "
            << quob::test::Hex(reinterpret_cast<const uint8_t *>(o.iterate.data()),
                               o.iterate.size());
    }
};

// The filler's semantics, a pass at a time through the record's code: the fault flags after a
// pass, then the escape and convergence tests with the previous modulus as a float.
SampleOutcome PassesOfTheRecord(const void *record, const QUOB_FunctionRecord &r,
                                const quob::TSampleFrame &frame) {
    auto *block = reinterpret_cast<uint8_t *>(uintptr_t{r.Block});
    ld cell[2];
    float previous = 0;
    int32_t passes = frame.passes, outcome = quob::kSampleDone;
    for (;;) {
        uint16_t status;
        __asm__ volatile("fnclex");
        quob::quob_call_generated(record);
        __asm__ volatile("fnstsw %0" : "=m"(status));
        if (status & 0x0F) return {quob::kSampleFault, 0, ""};
        std::memcpy(&cell[0], block, 10);
        std::memcpy(&cell[1], block + 10, 10);
        const ld m = std::fabs(cell[0]) + std::fabs(cell[1]);
        if (m > frame.maxModule) {
            outcome = quob::kSampleEscaped;
            break;
        }
        if (std::fabs(m - previous) < frame.differential) break;
        previous = static_cast<float>(m);
        if (--passes == 0) break;
    }
    return {outcome, passes, std::string(reinterpret_cast<char *>(block), 20)};
}

// Random bodies over the iterate, the point and a constant, polynomial ones (which run guarded
// groups and careful passes) and any (which test the flags after every iteration), from special
// and ordinary starts with thresholds of every kind: the sample loop faults exactly when a pass
// of the record's code raises a fault flag, and otherwise leaves the same iterate, outcome and
// passes. The guard's decision shows in no result, only in the time taken.
TEST(SampleLoop, MatchesPassesOfTheRecordsCode) {
    std::mt19937 rng(20261209);
    const std::vector<std::string> names = {"a", "b", "x", "y", "c"};
    const float thresholds[] = {2, 4, 1e30f, __builtin_inff(), __builtin_nanf(""), 1e-40f};
    const float differentials[] = {0, 0.001f, 1e-30f, 1e10f};
    int looped = 0, guarded = 0, outcomes[3] = {};
    for (int round = 0; round < 1500; ++round) {
        const bool polynomial = round % 3 != 0;
        const std::string body = x87::RandomBody(rng, names, 1 + int(rng() % 8), 30, polynomial);
        const int32_t blockLength = rng() % 2 ? 1 + int(rng() % 12) : 13 + int(rng() % 200);
        const std::string text = "s a b x y c = " + body;
        Function f(
            quob::CreateFunction(text.c_str(), {quob::FunctionKind::Recursive, blockLength, true}));
        ASSERT_NE(f.handle, 0) << text << ": " << QUOB_GetLastErrorEx();
        const quob::TCompiledFunction &compiled = *quob::CompiledFunction(f.handle);
        const void *loop = compiled.SampleLoopEntry();
        if (!loop) continue;
        ++looped;
        guarded += compiled.SampleLoopGuard().exponent >= 0;
        QUOB_FunctionRecord r;
        ASSERT_EQ(GetFunction(f.handle, &r), 1);
        const size_t length = r.BlockSize - (r.Entry - r.Block);
        void *record = quob::platform::CreateExecutionCopy(
            reinterpret_cast<void *>(uintptr_t{r.Entry}), length);
        ASSERT_NE(record, nullptr);
        for (int trial = 0; trial < 4; ++trial) {
            // The point and the start: ordinary values mostly, so that samples escape, settle
            // and overflow within their passes; special ones now and then.
            ld start[4];
            for (ld &v : start)
                v = rng() % 5 ? ld(std::uniform_real_distribution<double>(-2.5, 2.5)(rng))
                              : x87::SpecialValue(rng);
            const float maxModule = thresholds[rng() % 6];
            const quob::TSampleGuard &guard = compiled.SampleLoopGuard();
            quob::TSampleFrame frame = quob::SampleFrame(maxModule, differentials[rng() % 4],
                                                         1 + int32_t(rng() % 40), guard);
            for (const ld v : start) quob::BoundBeforeTheLoop(frame, guard, v);
            auto *block = reinterpret_cast<uint8_t *>(uintptr_t{r.Block});
            auto write = [&] {
                std::memset(block, 0, size_t(r.Entry - r.Block));
                for (int p = 0; p < 4; ++p) std::memcpy(block + 10 * p, &start[p], 10);
            };
            const quob::platform::TX87Control control(0x033F,
                                                      quob::platform::TX87Control::kEnvironment);
            write();
            const SampleOutcome expected = PassesOfTheRecord(record, r, frame);
            write();
            quob::quob_call_sample_loop(loop, &frame);
            SampleOutcome got{frame.outcome, frame.passes,
                              std::string(reinterpret_cast<char *>(block), 20)};
            if (got.outcome == quob::kSampleFault) got.passesLeft = 0, got.iterate.clear();
            ASSERT_EQ(got, expected)
                << text << " N=" << blockLength << " max " << maxModule << " start " << start[0]
                << " " << start[1] << " " << start[2] << " " << start[3];
            ++outcomes[expected.outcome];
        }
        quob::platform::FreeExecutionCopy(record, length);
    }
    EXPECT_GT(looped, 1000);
    EXPECT_GT(guarded, 700);
    for (const int n : outcomes) EXPECT_GT(n, 300) << guarded << " guarded of " << looped;
}

// ---- the software evaluation of bodies on special values ------------------------------------

// Random real bodies of every keyword on special values, huge ones (whose products and squares
// overflow) and ordinary ones: the software evaluation gives every result of the compiled code
// bit for bit, wherever it follows the body.
TEST(Interpret, MatchesTheCompiledCodeBitForBit) {
#ifdef QUOB_EMULATED_X87
    GTEST_SKIP() << "the emulated x87 unit's results on special operands are not the processor's";
#endif
    std::mt19937 rng(20261210);
    const std::vector<std::string> names = {"x", "y", "z"};
    int compared = 0, special = 0;
    for (int round = 0; round < 3000; ++round) {
        const std::string body = x87::RandomBody(rng, names, 1 + int(rng() % 8), 30);
        Function f(CreateRealFunction(("i x y z = " + body).c_str()));
        ASSERT_NE(f.handle, 0) << body << ": " << QUOB_GetLastErrorEx();
        const quob::TBody &checked = *quob::CompiledFunction(f.handle)->Body();
        for (int trial = 0; trial < 3; ++trial) {
            ld params[3];
            for (ld &v : params) {
                const int kind = int(rng() % 3);
                v = kind == 0   ? x87::SpecialValue(rng)
                    : kind == 1 ? std::ldexp(ld(std::uniform_real_distribution<double>(-2, 2)(rng)),
                                             int(8000 + rng() % 8380))
                                : ld(std::uniform_real_distribution<double>(-3, 3)(rng));
                special += !std::isfinite(v) || std::fabs(v) > 0x1p8000L;
            }
            ld results[8];
            bool followed;
            {
                const quob::platform::TX87Control control(
                    0x033F, quob::platform::TX87Control::kEnvironment);
                followed = quob::Interpret(checked, params, results);
            }
            if (!followed) continue;
            for (int p = 0; p < 3; ++p) f.Param(p) = params[p];
            LaunchFunction(f.handle);
            for (int32_t k = 0; k < checked.results; ++k)
                ASSERT_EQ(x87::Bits(results[k]), x87::Bits(f.Result(k)))
                    << body << " result " << k << " on " << params[0] << ", " << params[1] << ", "
                    << params[2];
            ++compared;
        }
    }
    EXPECT_GT(compared, 8000);
    EXPECT_GT(special, 4000);
}

}  // namespace
