// TCodeBuffer: fixed capacity without partial writes, relocation of address fields, copy out; and
// the compilation of a body whose code does not fit.
#include "compile/codebuffer.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "int_support.h"
#include "quob32.h"

namespace quob {
namespace {

enum class Emit { Byte, Word, Dword, Relocatable };

int EmitOne(TCodeBuffer &code, Emit kind) {
    switch (kind) {
        case Emit::Byte:
            return code.EmitByte(0xEE);
        case Emit::Word:
            return code.EmitWord(0xEEEE);
        case Emit::Dword:
            return code.EmitDword(0xEEEEEEEE);
        case Emit::Relocatable:
            return code.EmitRelocatable(0xEEEEEEEE);
    }
    return -1;
}

int Size(Emit kind) { return kind == Emit::Byte ? 1 : kind == Emit::Word ? 2 : 4; }

struct CapacityCase {
    int32_t length;  // filled with single bytes before the emit
    Emit emit;
    bool fits;
};

std::ostream &operator<<(std::ostream &os, const CapacityCase &c) {
    return os << "length " << c.length << ", emit of " << Size(c.emit) << " bytes"
              << (c.emit == Emit::Relocatable ? " (relocatable)" : "");
}

class CodeBufferCapacity : public testing::TestWithParam<CapacityCase> {};

TEST_P(CodeBufferCapacity, EmitsWholeOrNothing) {
    const CapacityCase &c = GetParam();
    auto code = std::make_unique<TCodeBuffer>();
    for (int32_t i = 0; i < c.length; ++i) ASSERT_EQ(code->EmitByte(static_cast<uint8_t>(i)), 1);
    std::array<uint8_t, TCodeBuffer::kCapacity> before;
    std::memcpy(before.data(), code->Code(), before.size());

    EXPECT_EQ(EmitOne(*code, c.emit), c.fits ? 1 : 0);
    if (c.fits) {
        EXPECT_EQ(code->Length(), c.length + Size(c.emit));
        EXPECT_FALSE(code->Overflowed());
        EXPECT_EQ(code->Code()[c.length], 0xEE);
        EXPECT_EQ(code->RelocationCount(), c.emit == Emit::Relocatable ? 1 : 0);
    } else {
        EXPECT_EQ(code->Length(), c.length);
        EXPECT_EQ(code->RelocationCount(), 0);
        EXPECT_TRUE(code->Overflowed());
        EXPECT_EQ(std::memcmp(before.data(), code->Code(), before.size()), 0) << "partial write";
        EXPECT_EQ(code->EmitByte(1) == 1, c.length < TCodeBuffer::kCapacity);
        EXPECT_TRUE(code->Overflowed()) << "the overflow is remembered";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, CodeBufferCapacity,
    testing::Values(CapacityCase{0, Emit::Dword, true}, CapacityCase{1023, Emit::Byte, true},
                    CapacityCase{1024, Emit::Byte, false},
                    CapacityCase{1024, Emit::Relocatable, false},
                    CapacityCase{1022, Emit::Word, true}, CapacityCase{1023, Emit::Word, false},
                    CapacityCase{1020, Emit::Dword, true}, CapacityCase{1021, Emit::Dword, false},
                    CapacityCase{1020, Emit::Relocatable, true},
                    CapacityCase{1021, Emit::Relocatable, false}));

TEST(CodeBuffer, TheTwoHundredFiftySixthAddressFieldIsRefusedEvenWithRoom) {
    auto code = std::make_unique<TCodeBuffer>();
    for (int i = 0; i < 255; ++i)
        ASSERT_EQ(code->EmitRelocatable(static_cast<uint32_t>(i)), 1) << i;
    ASSERT_EQ(code->Length(), 1020);
    EXPECT_FALSE(code->Overflowed());
    EXPECT_EQ(code->EmitRelocatable(0), 0);
    EXPECT_EQ(code->Length(), 1020);
    EXPECT_EQ(code->RelocationCount(), 255);
    EXPECT_TRUE(code->Overflowed());
    EXPECT_EQ(code->EmitDword(7), 1) << "plain code still fits";
}

uint32_t FieldAt(const TCodeBuffer &code, int32_t position) {
    uint32_t value;
    std::memcpy(&value, code.Code() + position, 4);
    return value;
}

TEST(CodeBuffer, StoresLittleEndianAndRelocatesRecordedFieldsOnly) {
    TCodeBuffer code;
    code.EmitByte(0xDB);
    code.EmitRelocatable(20);  // at 1
    code.EmitDword(20);        // at 5: the same value, but no address
    code.EmitWord(0xC9D9);
    code.EmitRelocatable(0xFFFFFFF0);  // at 11: wraps modulo 2^32
    code.EmitByte(0xC3);
    ASSERT_EQ(code.Length(), 16);
    const std::array<uint8_t, 16> before = {0xDB, 20,   0,    0,    0,    20,   0,    0,
                                            0,    0xD9, 0xC9, 0xF0, 0xFF, 0xFF, 0xFF, 0xC3};
    EXPECT_EQ(std::memcmp(before.data(), code.Code(), before.size()), 0);

    constexpr uint32_t kBase = 0x40001000;
    code.Relocate(kBase);
    EXPECT_EQ(FieldAt(code, 1), kBase + 20);
    EXPECT_EQ(FieldAt(code, 11), kBase - 16);
    for (int32_t i : {0, 5, 6, 7, 8, 9, 10, 15})
        EXPECT_EQ(code.Code()[i], before[i]) << "byte " << i;

    code.Relocate(kBase);
    EXPECT_EQ(FieldAt(code, 1), 2 * kBase + 20);
    EXPECT_EQ(FieldAt(code, 5), 20u);
    EXPECT_EQ(code.Length(), 16);
}

TEST(CodeBuffer, CopyOutWritesExactlyTheCode) {
    std::array<uint8_t, 32> block;
    block.fill(0x5A);
    TCodeBuffer empty;
    empty.CopyOut(block.data(), 8);
    for (uint8_t b : block) EXPECT_EQ(b, 0x5A);

    TCodeBuffer code;
    code.EmitDword(0x04030201);
    code.EmitByte(0xC3);
    code.CopyOut(block.data(), 8);
    const uint8_t expected[] = {1, 2, 3, 4, 0xC3};
    EXPECT_EQ(std::memcmp(block.data() + 8, expected, 5), 0);
    for (int i = 0; i < 32; ++i) {
        if (i < 8 || i >= 13) {
            EXPECT_EQ(block[i], 0x5A) << "byte " << i;
        }
    }
}

// "x x + x + ... ret": one parameter load and one addition per pair, so the code grows with the
// number of pairs and its result tells whether every pair ran. The longest body that fits
// compiles and runs whole; one pair more fails with code 9 and creates nothing.
std::string LongBody(const char *name, int pairs) {
    return std::string(name) + " x = x" + test::Repeat(" x +", pairs) + " ret";
}

TEST(CodeBufferInCompilation, TheLongestFittingBodyRunsWholeAndOneMoreFails) {
    int pairs = 0;
    int32_t handle = 0;
    for (int n = 1; n < 300; ++n) {
        // The previous one is still alive: alternate the names.
        const int32_t h = CreateRealFunction(LongBody(n % 2 ? "f" : "g", n).c_str());
        if (!h) {
            EXPECT_EQ(QUOB_GetLastError(), QUOB_ERR_OUT_OF_RESOURCES) << n << " pairs";
            break;
        }
        if (handle) DeleteFunction(handle);
        handle = h, pairs = n;
    }
    ASSERT_GT(pairs, 50);
    ASSERT_LT(pairs, 299);
    EXPECT_EQ(test::LiveFunctions(), 1);
    EXPECT_EQ(CreateRecursiveFunction(LongBody("h", pairs + 1).c_str(), 3), 0);
    EXPECT_EQ(QUOB_GetLastError(), QUOB_ERR_OUT_OF_RESOURCES);
    EXPECT_EQ(test::LiveFunctions(), 1);
    QUOB_FunctionRecord record;
    ASSERT_TRUE(GetFunction(handle, &record));
    EXPECT_GT(record.BlockSize - 20, 1000u) << "the code nearly fills the buffer";
    EXPECT_LE(record.BlockSize - 20, 1024u);
    const long double x = 1.5L;
    std::memcpy(AccessParam(handle, 0), &x, 10);
    long double result = 0;
    std::memcpy(&result, LaunchFunction(handle), 10);
    EXPECT_EQ(result, (pairs + 1) * x);
    EXPECT_EQ(DeleteFunction(handle), 1);
}

}  // namespace
}  // namespace quob
