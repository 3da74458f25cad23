// Function objects: records, addresses, the access operations and LaunchFunction's contract.
#include "compile/functions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "compile/emitter.h"
#include "quob32.h"
#include "x87_reference.h"

namespace {

uintptr_t Addr(void *p) { return reinterpret_cast<uintptr_t>(p); }

struct Layout {
    const char *kind;
    int32_t width;
};

class RecordLayout : public testing::TestWithParam<Layout> {};

TEST_P(RecordLayout, CellsLieInHeaderThenRetOrder) {
    const bool integer = GetParam().width == 4;
    const char *text = "f x y = x y * ret y ret";
    const int32_t h = integer ? CreateIntFunction(text) : CreateRealFunction(text);
    if (integer && h == 0) GTEST_SKIP() << "integer back end not available";
    ASSERT_NE(h, 0) << QUOB_GetLastErrorEx();
    QUOB_FunctionRecord r;
    std::memset(&r, 0xAB, sizeof r);
    ASSERT_EQ(GetFunction(h, &r), 1);
    const uint32_t w = static_cast<uint32_t>(GetParam().width);
    EXPECT_STREQ(r.Name, "f");
    EXPECT_EQ(r.ParamCount, 2);
    EXPECT_EQ(r.ResultCount, 2);
    EXPECT_NE(r.Block, 0u);
    // x86-64 keeps blocks in the first 2 GiB; on IA-32 every address fits the record's fields.
    if (quob::kHostTarget == quob::Target::X64) {
        EXPECT_LT(r.Block, 0x80000000u);
    }
    EXPECT_EQ(r.Params[0].Address, r.Block);
    EXPECT_EQ(r.Params[1].Address, r.Block + w);
    EXPECT_EQ(r.Results[0].Address, r.Block + 2 * w);
    EXPECT_EQ(r.Results[1].Address, r.Block + 3 * w);
    EXPECT_EQ(r.Entry, r.Block + 4 * w);
    EXPECT_EQ(Addr(LaunchFunction(h)), r.Block + 2 * w);
    EXPECT_EQ(Addr(AccessParam(h, 1)), r.Block + w);
    EXPECT_EQ(Addr(AccessResult(h, 1)), r.Block + 3 * w);
    EXPECT_EQ(Addr(AccessParamByName(h, "y")), r.Block + w);
    const int32_t type = integer ? QUOB_VALUE_INT32 : QUOB_VALUE_EXTENDED;
    EXPECT_EQ(r.Params[0].Type, type);
    EXPECT_EQ(r.Results[1].Type, type);
    EXPECT_STREQ(r.Params[1].Name, "y");
    EXPECT_STREQ(r.Results[0].Name, "");
    // Beyond P and R: type 0 and empty names, and the code ends with RET.
    EXPECT_EQ(r.Params[2].Type, QUOB_VALUE_NONE);
    EXPECT_STREQ(r.Params[2].Name, "");
    EXPECT_EQ(r.Results[2].Type, QUOB_VALUE_NONE);
    EXPECT_EQ(reinterpret_cast<const uint8_t *>(uintptr_t{r.Block})[r.BlockSize - 1], 0xC3);
    // Name fields are written up to their NUL only: the bytes after it are the caller's.
    EXPECT_EQ(static_cast<uint8_t>(r.Name[2]), 0xAB);
    EXPECT_EQ(DeleteFunction(h), 1);
}

INSTANTIATE_TEST_SUITE_P(Kinds, RecordLayout,
                         testing::Values(Layout{"real", 10}, Layout{"integer", 4}),
                         [](const auto &info) { return std::string(info.param.kind); });

TEST(AccessOperations, DataCellsStartAtZero) {
    const x87::RealFunction f(CreateRealFunction("f a b = a b + ret"));
    ASSERT_NE(f.handle, 0);
    EXPECT_EQ(*static_cast<long double *>(LaunchFunction(f.handle)), 0.0L);
}

uint16_t ControlWord() {
    uint16_t cw;
    __asm__ volatile("fnstcw %0" : "=m"(cw));
    return cw;
}
void LoadControlWord(uint16_t cw) { __asm__ volatile("fldcw %0" : : "m"(cw)); }

TEST(Launch, LeavesTheCallersX87StateAndTrapsNothing) {
    const int32_t h = CreateRealFunction("f x = 0 x / ret 0 1 / ret x sqrt ret");
    ASSERT_NE(h, 0);
    *static_cast<long double *>(AccessParam(h, 0)) = -1;
    // The library's historical control word unmasks invalid, zero-divide and overflow faults;
    // generated code must neither trap under it nor change it.
    const uint16_t before = ControlWord();
    __asm__ volatile("fnclex");
    LoadControlWord(0x1332);
    const uint16_t trapping = ControlWord();  // as the unit reports it (reserved bits set)
    void *result = LaunchFunction(h);
    const uint16_t during = ControlWord();
    uint16_t status;
    __asm__ volatile("fnstsw %0" : "=m"(status));
    LoadControlWord(before);
    EXPECT_EQ(result, AccessResult(h, 0));
    EXPECT_EQ(during, trapping);
    EXPECT_EQ(status & 0x3F, 0) << "exception flags leaked to the caller";
    EXPECT_EQ((status >> 11) & 7, 0) << "x87 stack top moved";
    EXPECT_TRUE(std::isinf(*static_cast<long double *>(AccessResult(h, 0))));
    EXPECT_TRUE(std::isnan(*static_cast<long double *>(AccessResult(h, 2))));
    // Long double arithmetic of the caller still works on an intact x87 stack.
    volatile long double a = 1.5L, b = 2.25L;
    EXPECT_EQ(a * b, 3.375L);
    DeleteFunction(h);
}

TEST(Launch, RoundsToNearestWhateverTheCallersMode) {
    const int32_t h = CreateRealFunction("f x = x int ret");
    ASSERT_NE(h, 0);
    *static_cast<long double *>(AccessParam(h, 0)) = 2.7L;
    const uint16_t before = ControlWord();
    LoadControlWord(static_cast<uint16_t>((before & ~0x0C00) | 0x0400));  // round down
    const long double r = *static_cast<long double *>(LaunchFunction(h));
    LoadControlWord(before);
    EXPECT_EQ(r, 3.0L);
    DeleteFunction(h);
}

TEST(Launch, ExecutionCopyIsSeparateFromTheBlock) {
    const int32_t h = CreateRealFunction("f x = x ret");
    ASSERT_NE(h, 0);
    QUOB_FunctionRecord r;
    GetFunction(h, &r);
    const auto copy = reinterpret_cast<uintptr_t>(quob::CompiledFunction(h)->Entry());
    EXPECT_NE(copy, uintptr_t{r.Entry});
    // The copy runs the same bytes in a page of its own, away from the stores into the cells.
    EXPECT_EQ(
        std::memcmp(reinterpret_cast<void *>(copy), reinterpret_cast<void *>(uintptr_t{r.Entry}),
                    r.BlockSize - (r.Entry - r.Block)),
        0);
    EXPECT_TRUE(copy / 4096 != r.Block / 4096 && copy / 4096 != (r.Block + r.BlockSize) / 4096);
    // Calling the record's entry directly works too.
    *static_cast<long double *>(AccessParam(h, 0)) = 42;
    quob::quob_call_generated(reinterpret_cast<void *>(uintptr_t{r.Entry}));
    EXPECT_EQ(*static_cast<long double *>(AccessResult(h, 0)), 42);
    DeleteFunction(h);
}

// The clone's counterpart of a cell of the original function.
template <class T>
T *In(const quob::TCompiledFunction &clone, const quob::TCompiledFunction &original, void *cell) {
    return reinterpret_cast<T *>(clone.Cell(static_cast<uint32_t>(Addr(cell)) - original.Base()));
}

TEST(Clone, RunsOnItsOwnCellsWithTheSameResults) {
    const int32_t h = quob::CreateFunction("c a b x = a a * x + ret b 2 * ret",
                                           {quob::FunctionKind::Recursive, 5, true});
    ASSERT_NE(h, 0);
    auto cell = [](void *p) { return static_cast<long double *>(p); };
    *cell(AccessParam(h, 0)) = 0.5L, *cell(AccessParam(h, 1)) = 1, *cell(AccessParam(h, 2)) = 0.25L;
    const quob::TCompiledFunction &original = *quob::CompiledFunction(h);
    const auto clone = original.Clone();
    ASSERT_NE(clone, nullptr);
    EXPECT_NE(clone->Base(), original.Base());
    auto in = [&](void *p) { return In<long double>(*clone, original, p); };
    for (const void *entry : {clone->Entry(), clone->FillerEntry()}) {
        *in(AccessParam(h, 0)) = 0.5L;
        *in(AccessParam(h, 1)) = 1;
        quob::quob_call_generated(entry);
        EXPECT_EQ(*in(AccessParam(h, 1)), 32);
    }
    // The original's cells are untouched; run it and both agree.
    EXPECT_EQ(*cell(AccessParam(h, 1)), 1);
    LaunchFunction(h);
    EXPECT_EQ(*cell(AccessParam(h, 0)), *in(AccessParam(h, 0)));
    EXPECT_EQ(quob::CompiledFunction(0), nullptr);
    DeleteFunction(h);
}

TEST(Clone, IntegerTableReadsKeepTheirAddresses) {
    const int32_t h = CreateIntFunction("s a = a sin ret a sqr ret");
    ASSERT_NE(h, 0);
    *static_cast<int32_t *>(AccessParam(h, 0)) = 16384;
    LaunchFunction(h);
    const quob::TCompiledFunction &original = *quob::CompiledFunction(h);
    const auto clone = original.Clone();
    ASSERT_NE(clone, nullptr);
    auto in = [&](void *p) { return In<int32_t>(*clone, original, p); };
    *in(AccessParam(h, 0)) = 16384;
    *in(AccessResult(h, 0)) = 0;
    quob::quob_call_generated(clone->Entry());
    EXPECT_EQ(*in(AccessResult(h, 0)), *static_cast<int32_t *>(AccessResult(h, 0)));
    EXPECT_EQ(*in(AccessResult(h, 1)), *static_cast<int32_t *>(AccessResult(h, 1)));
    DeleteFunction(h);
}

}  // namespace
