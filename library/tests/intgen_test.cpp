// The integer back end: instruction encodings, the IA-32 code of integer bodies, and the results
// of compiled code for every operation over every operand kind.
#include "intgen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "codebuffer.h"
#include "emitter.h"
#include "int_support.h"
#include "scanner.h"
#include "tables.h"

namespace {

using quob::Mem;
using quob::Target;
using quob::TEmitter;
using quob::test::IntFunction;
using Bytes = std::vector<uint8_t>;

std::string Hex(const Bytes &b) {
    std::string s;
    char buf[4];
    for (uint8_t x : b) {
        std::snprintf(buf, sizeof buf, "%02X ", x);
        s += buf;
    }
    return s;
}

Bytes Le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes &p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// ---- Emitter: integer instruction forms, IA-32 and x86-64 ----------------------------------

struct Encoding {
    const char *name;
    std::function<void(TEmitter &)> emit;
    Bytes ia32;
    Bytes x64;  // empty: same as IA-32
};

class IntEncoding : public testing::TestWithParam<Encoding> {};

Bytes EmitFor(Target target, const std::function<void(TEmitter &)> &emit) {
    quob::TCodeBuffer code;
    TEmitter e(code, target);
    emit(e);
    return Bytes(code.Code(), code.Code() + code.Length());
}

TEST_P(IntEncoding, Bytes) {
    const Encoding &c = GetParam();
    EXPECT_EQ(Hex(EmitFor(Target::IA32, c.emit)), Hex(c.ia32));
    EXPECT_EQ(Hex(EmitFor(Target::X64, c.emit)), Hex(c.x64.empty() ? c.ia32 : c.x64));
}

using namespace quob;  // register names
const Mem kSlot0 = Mem::Stack(-4);
const Mem kSlot32 = Mem::Stack(-132);
const Mem kCellY = Mem::Cell(4);

INSTANTIATE_TEST_SUITE_P(
    Forms, IntEncoding,
    testing::Values(
        Encoding{"mov_r_r", [](TEmitter &e) { e.mov_r_r(EBX, EAX); }, {0x8B, 0xD8}, {}},
        Encoding{"mov_r_cell", [](TEmitter &e) { e.mov_r_m(EAX, kCellY); },
                 {0x8B, 0x05, 4, 0, 0, 0}, {0x8B, 0x04, 0x25, 4, 0, 0, 0}},
        Encoding{"mov_r_slot0", [](TEmitter &e) { e.mov_r_m(ECX, kSlot0); },
                 {0x8B, 0x4C, 0x24, 0xFC}, {}},
        Encoding{"mov_slot0_eax", [](TEmitter &e) { e.mov_m_r(kSlot0, EAX); },
                 {0x89, 0x44, 0x24, 0xFC}, {}},
        Encoding{"mov_slot32_eax", [](TEmitter &e) { e.mov_m_r(kSlot32, EAX); },
                 {0x89, 0x84, 0x24, 0x7C, 0xFF, 0xFF, 0xFF}, {}},
        Encoding{"mov_cell_imm", [](TEmitter &e) { e.mov_m_imm(Mem::Cell(8), 5); },
                 {0xC7, 0x05, 8, 0, 0, 0, 5, 0, 0, 0}, {0xC7, 0x04, 0x25, 8, 0, 0, 0, 5, 0, 0, 0}},
        Encoding{"mov_r_imm", [](TEmitter &e) { e.mov_r_imm(EDI, 0x12345678); },
                 {0xBF, 0x78, 0x56, 0x34, 0x12}, {}},
        Encoding{"add_r_r", [](TEmitter &e) { e.add_r_r(EAX, EBX); }, {0x01, 0xD8}, {}},
        Encoding{"add_r_cell", [](TEmitter &e) { e.add_r_m(EDX, kCellY); },
                 {0x03, 0x15, 4, 0, 0, 0}, {0x03, 0x14, 0x25, 4, 0, 0, 0}},
        Encoding{"add_r_imm8", [](TEmitter &e) { e.add_r_imm(EAX, 3); }, {0x83, 0xC0, 0x03}, {}},
        Encoding{"add_r_imm8_min", [](TEmitter &e) { e.add_r_imm(ESI, -128); },
                 {0x83, 0xC6, 0x80}, {}},
        Encoding{"add_r_imm32", [](TEmitter &e) { e.add_r_imm(EAX, 128); },
                 {0x81, 0xC0, 0x80, 0, 0, 0}, {}},
        Encoding{"add_slot_imm8", [](TEmitter &e) { e.add_m_imm(kSlot0, 127); },
                 {0x83, 0x44, 0x24, 0xFC, 0x7F}, {}},
        Encoding{"add_slot32_imm32", [](TEmitter &e) { e.add_m_imm(kSlot32, -129); },
                 {0x81, 0x84, 0x24, 0x7C, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF}, {}},
        Encoding{"add_eax_imm32", [](TEmitter &e) { e.add_eax_imm32(32768); },
                 {0x05, 0, 0x80, 0, 0}, {}},
        Encoding{"sub_r_r", [](TEmitter &e) { e.sub_r_r(ECX, EDI); }, {0x29, 0xF9}, {}},
        Encoding{"sub_r_slot", [](TEmitter &e) { e.sub_r_m(EBX, kSlot0); },
                 {0x2B, 0x5C, 0x24, 0xFC}, {}},
        Encoding{"sub_r_imm8", [](TEmitter &e) { e.sub_r_imm(EAX, 3); }, {0x83, 0xE8, 0x03}, {}},
        Encoding{"sub_r_imm32", [](TEmitter &e) { e.sub_r_imm(EBX, -129); },
                 {0x81, 0xEB, 0x7F, 0xFF, 0xFF, 0xFF}, {}},
        Encoding{"sub_slot_imm8", [](TEmitter &e) { e.sub_m_imm(kSlot0, 5); },
                 {0x83, 0x6C, 0x24, 0xFC, 0x05}, {}},
        Encoding{"imul_r_r", [](TEmitter &e) { e.imul_r_r(EAX, EBX); }, {0x0F, 0xAF, 0xC3}, {}},
        Encoding{"imul_r_cell", [](TEmitter &e) { e.imul_r_m(EAX, Mem::Cell(0)); },
                 {0x0F, 0xAF, 0x05, 0, 0, 0, 0}, {0x0F, 0xAF, 0x04, 0x25, 0, 0, 0, 0}},
        Encoding{"imul_r_r_imm8", [](TEmitter &e) { e.imul_r_r_imm(ECX, ECX, 10); },
                 {0x6B, 0xC9, 0x0A}, {}},
        Encoding{"imul_r_r_imm32", [](TEmitter &e) { e.imul_r_r_imm(ECX, ECX, 1000); },
                 {0x69, 0xC9, 0xE8, 0x03, 0, 0}, {}},
        Encoding{"imul_r_slot_imm8", [](TEmitter &e) { e.imul_r_m_imm(EAX, kSlot0, -2); },
                 {0x6B, 0x44, 0x24, 0xFC, 0xFE}, {}},
        Encoding{"neg_r", [](TEmitter &e) { e.neg_r(EAX); }, {0xF7, 0xD8}, {}},
        Encoding{"neg_slot", [](TEmitter &e) { e.neg_m(kSlot0); }, {0xF7, 0x5C, 0x24, 0xFC}, {}},
        Encoding{"neg_slot32", [](TEmitter &e) { e.neg_m(kSlot32); },
                 {0xF7, 0x9C, 0x24, 0x7C, 0xFF, 0xFF, 0xFF}, {}},
        Encoding{"cmp_r_0", [](TEmitter &e) { e.cmp_r_imm8(EDX, 0); }, {0x83, 0xFA, 0x00}, {}},
        Encoding{"cmp_slot_0", [](TEmitter &e) { e.cmp_m_imm8(kSlot0, 0); },
                 {0x83, 0x7C, 0x24, 0xFC, 0x00}, {}},
        Encoding{"fild_fsqrt_fistp", [](TEmitter &e) {
                     e.fild_m32(kSlot0);
                     e.fsqrt();
                     e.fistp_m32(kSlot0);
                 },
                 {0xDB, 0x44, 0x24, 0xFC, 0xD9, 0xFA, 0xDB, 0x5C, 0x24, 0xFC}, {}},
        Encoding{"fild_cell", [](TEmitter &e) { e.fild_m32(Mem::Cell(0)); },
                 {0xDB, 0x05, 0, 0, 0, 0}, {0xDB, 0x04, 0x25, 0, 0, 0, 0}},
        Encoding{"square_read", [](TEmitter &e) { e.mov_r_m(EAX, Mem::Indexed(0x20000, EAX, 4)); },
                 {0x8B, 0x04, 0x85, 0, 0, 2, 0}, {0x67, 0x8B, 0x04, 0x85, 0, 0, 2, 0}},
        Encoding{"sine_read", [](TEmitter &e) { e.mov_r16_m(EAX, Mem::Indexed(0x30000, EAX, 2)); },
                 {0x66, 0x8B, 0x04, 0x45, 0, 0, 3, 0}, {0x67, 0x66, 0x8B, 0x04, 0x45, 0, 0, 3, 0}},
        Encoding{"cwde_test_and", [](TEmitter &e) {
                     e.cwde();
                     e.test_eax_imm32(0x10000);
                     e.and_eax_imm32(0xFFFF);
                 },
                 {0x98, 0xA9, 0, 0, 1, 0, 0x25, 0xFF, 0xFF, 0, 0}, {}},
        Encoding{"short_jumps", [](TEmitter &e) {
                     e.jns_short(2);
                     e.jnz_short(16);
                     e.jmp_short(16);
                 },
                 {0x79, 0x02, 0x75, 0x10, 0xEB, 0x10}, {}}),
    [](const testing::TestParamInfo<Encoding> &info) { return std::string(info.param.name); });

TEST(IntEncodingMeasure, MeasuresForTheTarget) {
    quob::TCodeBuffer code;
    TEmitter ia32(code, Target::IA32), x64(code, Target::X64);
    auto read = [](TEmitter &e) { e.mov_r_m(EAX, Mem::Indexed(0x1000, EAX, 4)); };
    EXPECT_EQ(ia32.Measure(read), 7);
    EXPECT_EQ(x64.Measure(read), 8);
    EXPECT_EQ(code.Length(), 0);  // measuring emits nothing
}

// ---- IA-32 code of whole bodies --------------------------------------------------------------

struct Compiled {
    int32_t results;
    Bytes code;
};

// Compiles "params = body" with the integer back end for a target, outside the function table:
// cell addresses stay block offsets (parameter p at 4p, result k at 4(P + k)).
Compiled CompileFor(Target target, const char *paramsAndBody) {
    QUOB_FunctionRecord record{};
    TScanner scanner(paramsAndBody);
    for (const char *t = scanner.NextToken(); std::strcmp(t, "=") != 0; t = scanner.NextToken()) {
        std::strcpy(record.Params[record.ParamCount].Name, t);
        record.Params[record.ParamCount].Type = QUOB_VALUE_INT32;
        record.Params[record.ParamCount].Address = 4 * static_cast<uint32_t>(record.ParamCount);
        ++record.ParamCount;
    }
    quob::TCodeBuffer code;
    const quob::BackEndInput in{scanner, code, record};
    const int32_t results = quob::CompileIntegerBody(in, target);
    return {results, Bytes(code.Code(), code.Code() + code.Length())};
}

bool Contains(const Bytes &code, const Bytes &part) {
    return std::search(code.begin(), code.end(), part.begin(), part.end()) != code.end();
}

struct BodyCode {
    const char *name;
    const char *text;
    std::function<Bytes()> expected;  // the table addresses are known only at run time
};

class IntBodyCode : public testing::TestWithParam<BodyCode> {};

TEST_P(IntBodyCode, Ia32Bytes) {
    const Compiled c = CompileFor(Target::IA32, GetParam().text);
    ASSERT_GE(c.results, 1);
    EXPECT_EQ(Hex(c.code), Hex(GetParam().expected()));
}

uint32_t SquareZero() { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(SquareTable())); }
uint32_t Sines() { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(SineTable())); }

Bytes SineSequence(uint32_t table) {
    const Bytes half = Cat({{0x25, 0xFF, 0xFF, 0, 0, 0x66, 0x8B, 0x04, 0x45}, Le32(table), {0x98}});
    return Cat({{0xA9, 0, 0, 1, 0, 0x75, 0x10}, half, {0xEB, 0x10}, half, {0xF7, 0xD8}});
}

const Bytes kMovEaxX = {0x8B, 0x05, 0, 0, 0, 0};
const Bytes kRetEax1 = {0x89, 0x05, 4, 0, 0, 0};  // MOV [result 0 of a 1-parameter body], EAX

INSTANTIATE_TEST_SUITE_P(
    Bodies, IntBodyCode,
    testing::Values(
        // Parameters and literals cost nothing until "*" and "+" need them; the top one of two
        // parameters is loaded.
        BodyCode{"WorkedExample", "x y = x y * 3 + ret",
                 [] {
                     return Bytes{0x8B, 0x05, 4,    0,    0,    0,    0x0F, 0xAF, 0x05, 0, 0,
                                  0,    0,    0x83, 0xC0, 0x03, 0x89, 0x05, 8,    0,    0, 0};
                 }},
        BodyCode{"FoldedDifference", "x = 2 3 - ret",
                 [] { return Bytes{0xC7, 0x05, 4, 0, 0, 0, 1, 0, 0, 0}; }},
        BodyCode{"ConstantMinusParam", "x = x 3 - ret",
                 [] {
                     return Cat({{0xB8, 3, 0, 0, 0, 0x2B, 0x05, 0, 0, 0, 0}, kRetEax1});
                 }},
        BodyCode{"ParamMinusConstant", "x = 3 x - ret",
                 [] {
                     return Cat({kMovEaxX, {0x83, 0xE8, 0x03}, kRetEax1});
                 }},
        BodyCode{"ImmediateBeyondEightBits", "x = x 200 + 200 * ret",
                 [] {
                     return Cat({{0xB8, 200, 0, 0, 0, 0x03, 0x05, 0, 0, 0, 0},
                                 {0x69, 0xC0, 200, 0, 0, 0},
                                 kRetEax1});
                 }},
        BodyCode{"ConstantMinusRegister", "x = x 0 + 5 - ret",
                 [] {
                     return Cat({{0xB8, 0, 0, 0, 0, 0x03, 0x05, 0, 0, 0, 0},
                                 {0x83, 0xE8, 0x05, 0xF7, 0xD8},
                                 kRetEax1});
                 }},
        BodyCode{"TwoRegistersIntoTheLowerIndexed", "x = x 0 + x 1 + swap * ret",
                 [] {
                     return Cat({{0xB8, 0, 0, 0, 0, 0x03, 0x05, 0, 0, 0, 0},
                                 {0xBB, 1, 0, 0, 0, 0x03, 0x1D, 0, 0, 0, 0},
                                 {0x0F, 0xAF, 0xC3},
                                 kRetEax1});
                 }},
        BodyCode{"AbsOfParamLoadsIt", "x = x abs ret",
                 [] {
                     return Cat({kMovEaxX, {0x83, 0xF8, 0x00, 0x79, 0x02, 0xF7, 0xD8}, kRetEax1});
                 }},
        BodyCode{"NegOfParamLoadsIt", "x = x neg ret",
                 [] {
                     return Cat({kMovEaxX, {0xF7, 0xD8}, kRetEax1});
                 }},
        // sqrt of a parameter lands in slot 0; ret loads a slot into a fresh register.
        BodyCode{"SqrtOfParam", "x = x sqrt ret",
                 [] {
                     return Cat({{0xDB, 0x05, 0, 0, 0, 0, 0xD9, 0xFA, 0xDB, 0x5C, 0x24, 0xFC},
                                 {0x8B, 0x44, 0x24, 0xFC},
                                 kRetEax1});
                 }},
        BodyCode{"SqrtOfRegister", "x = x 1 + sqrt ret",
                 [] {
                     return Cat({{0xB8, 1, 0, 0, 0, 0x03, 0x05, 0, 0, 0, 0},
                                 {0x89, 0x44, 0x24, 0xFC, 0xDB, 0x44, 0x24, 0xFC, 0xD9, 0xFA, 0xDB,
                                  0x5C, 0x24, 0xFC},
                                 {0x8B, 0x44, 0x24, 0xFC},
                                 kRetEax1});
                 }},
        BodyCode{"AbsNegOfSlotInPlace", "x = x sqrt abs neg ret",
                 [] {
                     return Cat({{0xDB, 0x05, 0, 0, 0, 0, 0xD9, 0xFA, 0xDB, 0x5C, 0x24, 0xFC},
                                 {0x83, 0x7C, 0x24, 0xFC, 0x00, 0x79, 0x04, 0xF7, 0x5C, 0x24, 0xFC},
                                 {0xF7, 0x5C, 0x24, 0xFC},
                                 {0x8B, 0x44, 0x24, 0xFC},
                                 kRetEax1});
                 }},
        // The copy of a slot goes to a register; the slot stays in use by the value below it.
        BodyCode{"CopyOfSlot", "x = x sqrt copy + ret",
                 [] {
                     return Cat({{0xDB, 0x05, 0, 0, 0, 0, 0xD9, 0xFA, 0xDB, 0x5C, 0x24, 0xFC},
                                 {0x8B, 0x44, 0x24, 0xFC, 0x03, 0x44, 0x24, 0xFC},
                                 kRetEax1});
                 }},
        // The slots of "+"'s operands are free again at the next token: the third root
        // reuses slot 0.
        BodyCode{"SlotsFreedAtTheNextToken", "x = x sqrt x sqrt + x sqrt + ret",
                 [] {
                     const Bytes root = {0xDB, 0x05, 0, 0, 0, 0, 0xD9, 0xFA, 0xDB, 0x5C, 0x24};
                     return Cat({root,
                                 {0xFC},
                                 root,
                                 {0xF8},
                                 {0x8B, 0x44, 0x24, 0xF8, 0x03, 0x44, 0x24, 0xFC},
                                 root,
                                 {0xFC},
                                 {0x03, 0x44, 0x24, 0xFC},
                                 kRetEax1});
                 }},
        BodyCode{"RegistersFreedAtTheNextToken", "x = x 1 + x 2 + + x 3 + + ret",
                 [] {
                     const Bytes ebx = {0x03, 0x1D, 0,    0,
                                        0,    0,    0x01, 0xD8};  // ADD EBX,[x]; ADD EAX,EBX
                     return Cat({{0xB8, 1, 0, 0, 0, 0x03, 0x05, 0, 0, 0, 0},
                                 {0xBB, 2, 0, 0, 0},
                                 ebx,
                                 {0xBB, 3, 0, 0, 0},
                                 ebx,
                                 kRetEax1});
                 }},
        BodyCode{"SlotPlusConstantInPlace", "x = x sqrt 5 + ret",
                 [] {
                     return Cat({{0xDB, 0x05, 0, 0, 0, 0, 0xD9, 0xFA, 0xDB, 0x5C, 0x24, 0xFC},
                                 {0x83, 0x44, 0x24, 0xFC, 0x05},
                                 {0x8B, 0x44, 0x24, 0xFC},
                                 kRetEax1});
                 }},
        BodyCode{"ConstantMinusSlotInPlace", "x = x sqrt 5 - ret",
                 [] {
                     return Cat({{0xDB, 0x05, 0, 0, 0, 0, 0xD9, 0xFA, 0xDB, 0x5C, 0x24, 0xFC},
                                 {0x83, 0x6C, 0x24, 0xFC, 0x05, 0xF7, 0x5C, 0x24, 0xFC},
                                 {0x8B, 0x44, 0x24, 0xFC},
                                 kRetEax1});
                 }},
        BodyCode{"SlotTimesConstant", "x = x sqrt 3 * ret",
                 [] {
                     return Cat({{0xDB, 0x05, 0, 0, 0, 0, 0xD9, 0xFA, 0xDB, 0x5C, 0x24, 0xFC},
                                 {0x6B, 0x44, 0x24, 0xFC, 0x03},
                                 kRetEax1});
                 }},
        BodyCode{"Square", "x = x sqr ret",
                 [] {
                     return Cat({kMovEaxX, {0x98, 0x8B, 0x04, 0x85}, Le32(SquareZero()), kRetEax1});
                 }},
        BodyCode{"Sine", "x = x sin ret",
                 [] {
                     return Cat({kMovEaxX, SineSequence(Sines()), kRetEax1});
                 }},
        BodyCode{"Cosine", "x = x cos ret",
                 [] {
                     return Cat({kMovEaxX, {0x05, 0, 0x80, 0, 0}, SineSequence(Sines()), kRetEax1});
                 }},
        BodyCode{"ConstantResultAndReservedWords", "x = 7 / \\ shl shr tan time ret",
                 [] { return Bytes{0xC7, 0x05, 4, 0, 0, 0, 7, 0, 0, 0}; }}),
    [](const testing::TestParamInfo<BodyCode> &info) { return std::string(info.param.name); });

// Seven live values: the seventh allocation spills EAX to slot 0 and continues with EAX; the
// sums then meet the spilled value as a memory operand.
TEST(IntSpill, SeventhValueSpillsEaxToSlotZero) {
    const Compiled c =
        CompileFor(Target::IA32, "x = x 1 + x 2 + x 3 + x 4 + x 5 + x 6 + x 7 + + + + + + + ret");
    ASSERT_EQ(c.results, 1);
    EXPECT_TRUE(Contains(c.code, {0x89, 0x44, 0x24, 0xFC, 0xB8, 7, 0, 0, 0})) << Hex(c.code);
    EXPECT_TRUE(Contains(c.code, {0x01, 0xD0})) << Hex(c.code);              // ADD EAX, EDX
    EXPECT_TRUE(Contains(c.code, {0x03, 0x44, 0x24, 0xFC})) << Hex(c.code);  // ADD EAX, [ESP-4]

    const IntFunction f("x = x 1 + x 2 + x 3 + x 4 + x 5 + x 6 + x 7 + + + + + + + ret");
    ASSERT_TRUE(f.ok()) << f.error();
    EXPECT_EQ(f.Run({100}), std::vector<int32_t>{728});
}

// Slot 32 lies beyond the 8-bit displacement: the jump over NEG grows with it.
TEST(IntSpill, AbsOfADeepSlotJumpsOverTheLongForm) {
    std::string text = "x =";
    for (int i = 0; i < 33; ++i) text += " x sqrt";
    text += " abs";
    for (int i = 0; i < 32; ++i) text += " +";
    text += " ret";
    const Compiled c = CompileFor(Target::IA32, text.c_str());
    ASSERT_EQ(c.results, 1);
    EXPECT_TRUE(Contains(c.code, {0x83, 0xBC, 0x24, 0x7C, 0xFF, 0xFF, 0xFF, 0x00, 0x79, 0x07, 0xF7,
                                  0x9C, 0x24, 0x7C, 0xFF, 0xFF, 0xFF}))
        << Hex(c.code);

    const IntFunction f(text);
    ASSERT_TRUE(f.ok()) << f.error();
    EXPECT_EQ(f.Run({49}), std::vector<int32_t>{33 * 7});
    // The integer indefinite of each negative root: an odd count of them sums to itself.
    EXPECT_EQ(f.Run({-4}), std::vector<int32_t>{INT32_MIN});
}

// ---- Results of compiled code: each operation over each operand kind -----------------------

enum class Kind { Constant, Register, Slot, Param };
const char *KindName(Kind k) {
    switch (k) {
        case Kind::Constant:
            return "Const";
        case Kind::Register:
            return "Reg";
        case Kind::Slot:
            return "Slot";
        case Kind::Param:
            return "Param";
    }
    return "";
}

// Six registers hold zeros (parameter z); the value of "p 0 +" then lands in EAX with every
// register taken, and "z ret" needs a scratch register, which evicts it to a slot.
constexpr const char *kPads6 = "z 0 + z 0 + z 0 + z 0 + z 0 + z 0 + ";
constexpr const char *kPads5 = "z 0 + z 0 + z 0 + z 0 + z 0 + ";

struct Operands {
    std::string text;   // leaves the operands on top, above the pads
    int pads = 0;       // zero values below them, to be consumed after the operation
    int extraRets = 0;  // results stored before the operation's ("z ret" of a slot maker)
};

std::string Produce(Kind k, const char *param, const std::string &literal) {
    switch (k) {
        case Kind::Constant:
            return literal + " ";
        case Kind::Param:
            return std::string(param) + " ";
        case Kind::Register:
            return std::string(param) + " 0 + ";
        case Kind::Slot:
            return std::string(param) + " 0 + z ret ";
    }
    return "";
}

// Operands of the given kinds: `second` below `top`, from parameters a and b or the literals.
Operands Arrange(Kind second, Kind top, const std::string &la, const std::string &lb) {
    Operands o;
    const bool anySlot = second == Kind::Slot || top == Kind::Slot;
    if (anySlot) {
        // A register operand below a slot maker must stay out of EAX: it takes the last
        // register after five pads.
        const bool registerBelow = second == Kind::Register && top == Kind::Slot;
        o.text = registerBelow ? kPads5 : kPads6;
        o.pads = registerBelow ? 5 : 6;
    }
    o.text += Produce(second, "a", la) + Produce(top, "b", lb);
    o.extraRets = (second == Kind::Slot) + (top == Kind::Slot);
    return o;
}

std::string Consume(int pads) {
    if (pads == 0) return "";
    std::string text;
    for (int i = 1; i < pads; ++i) text += "+ ";
    return text + "ret";
}

struct BinaryCase {
    const char *op;
    Kind second, top;
};

class IntBinary : public testing::TestWithParam<BinaryCase> {};

const int32_t kValues[] = {0, 1, -1, 5, 127, 128, -128, -129, 40000, -9999999, 99999999, 0xFFFFFFF};
const int32_t kRuntimeOnly[] = {INT32_MIN, INT32_MAX, 0x12345678, -65536};

int32_t Apply(const char *op, int32_t second, int32_t top) {
    const uint32_t a = static_cast<uint32_t>(top), b = static_cast<uint32_t>(second);
    const uint32_t r = op[0] == '+' ? b + a : op[0] == '-' ? a - b : a * b;
    return static_cast<int32_t>(r);
}

TEST_P(IntBinary, MatchesWrapAroundArithmetic) {
    const BinaryCase &c = GetParam();
    std::vector<int32_t> values(std::begin(kValues), std::end(kValues));
    std::vector<int32_t> runtime = values;
    runtime.insert(runtime.end(), std::begin(kRuntimeOnly), std::end(kRuntimeOnly));
    const auto &secondValues = c.second == Kind::Constant ? values : runtime;
    const auto &topValues = c.top == Kind::Constant ? values : runtime;
    // One compilation per pair of literals; a non-constant operand runs over all its values.
    const bool secondConst = c.second == Kind::Constant, topConst = c.top == Kind::Constant;
    for (int32_t x : secondConst ? secondValues : std::vector<int32_t>{0})
        for (int32_t y : topConst ? topValues : std::vector<int32_t>{0}) {
            const Operands o = Arrange(c.second, c.top, *test::IntLiteral(x), *test::IntLiteral(y));
            const std::string text = "a b z = " + o.text + c.op + " ret " + Consume(o.pads);
            const IntFunction f(text);
            ASSERT_TRUE(f.ok()) << text << " code " << f.error();
            for (int32_t a : secondConst ? std::vector<int32_t>{x} : secondValues)
                for (int32_t b : topConst ? std::vector<int32_t>{y} : topValues) {
                    const std::vector<int32_t> r = f.Run({a, b, 0});
                    ASSERT_EQ(r.size(), size_t(o.extraRets + 1 + (o.pads ? 1 : 0))) << text;
                    EXPECT_EQ(r[o.extraRets], Apply(c.op, a, b))
                        << text << " a=" << a << " b=" << b;
                    if (o.pads) {
                        EXPECT_EQ(r.back(), 0) << "a pad was overwritten: " << text;
                    }
                }
        }
}

std::vector<BinaryCase> AllBinaryCases() {
    std::vector<BinaryCase> cases;
    for (const char *op : {"+", "-", "*"})
        for (Kind s : {Kind::Constant, Kind::Register, Kind::Slot, Kind::Param})
            for (Kind t : {Kind::Constant, Kind::Register, Kind::Slot, Kind::Param})
                cases.push_back({op, s, t});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(AllKinds, IntBinary, testing::ValuesIn(AllBinaryCases()),
                         [](const testing::TestParamInfo<BinaryCase> &info) {
                             const char *op = info.param.op[0] == '+'   ? "Add"
                                              : info.param.op[0] == '-' ? "Sub"
                                                                        : "Mul";
                             return std::string(op) + KindName(info.param.second) + "_" +
                                    KindName(info.param.top);
                         });

struct UnaryCase {
    const char *op;
    Kind kind;
};

class IntUnary : public testing::TestWithParam<UnaryCase> {};

// Run-time meaning of each one-operand keyword (constants fold to the same, except sqr and
// sqrt below 1, which have tests of their own).
int32_t ApplyUnary(const std::string &op, int32_t v, bool folded) {
    const std::vector<std::string> body = {"a", op, "ret"};
    if (folded) return (*test::EvaluateIntBody({*test::IntLiteral(v), op, "ret"}, {}, {}))[0];
    return (*test::EvaluateIntBody(body, {"a"}, {v}))[0];
}

TEST_P(IntUnary, MatchesReference) {
    const UnaryCase &c = GetParam();
    std::vector<int32_t> values(std::begin(kValues), std::end(kValues));
    for (int32_t extra : {32768, 65536, 65536 + 16384, 131072, -32768, 1 << 20})
        values.push_back(extra);
    if (c.kind != Kind::Constant)
        values.insert(values.end(), std::begin(kRuntimeOnly), std::end(kRuntimeOnly));
    const std::string op = c.op;
    for (int32_t v : values) {
        const auto literal = test::IntLiteral(v);
        if (c.kind == Kind::Constant && !literal) continue;
        Operands o;
        if (c.kind == Kind::Slot) {
            o.text = std::string(kPads6) + "a 0 + z ret ";
            o.pads = 6;
            o.extraRets = 1;
        } else {
            o.text = Produce(c.kind, "a", literal.value_or(""));
        }
        const std::string text = "a z = " + o.text + op + " ret " + Consume(o.pads);
        const IntFunction f(text);
        ASSERT_TRUE(f.ok()) << text << " code " << f.error();
        const std::vector<int32_t> r = f.Run({v, 0});
        ASSERT_EQ(r.size(), size_t(o.extraRets + 1 + (o.pads ? 1 : 0))) << text;
        EXPECT_EQ(r[o.extraRets], ApplyUnary(op, v, c.kind == Kind::Constant))
            << text << " a=" << v;
        if (o.pads) {
            EXPECT_EQ(r.back(), 0) << "a pad was overwritten: " << text;
        }
    }
}

std::vector<UnaryCase> AllUnaryCases() {
    std::vector<UnaryCase> cases;
    for (const char *op : {"neg", "abs", "sqrt", "sqr", "sin", "cos"})
        for (Kind k : {Kind::Constant, Kind::Register, Kind::Slot, Kind::Param})
            cases.push_back({op, k});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(AllKinds, IntUnary, testing::ValuesIn(AllUnaryCases()),
                         [](const testing::TestParamInfo<UnaryCase> &info) {
                             return std::string(info.param.op) + KindName(info.param.kind);
                         });

// "copy" and "swap" over each kind, with the copies changed independently afterwards.
TEST(IntCopy, CopiesAreIndependent) {
    for (const char *producer : {"7", "a", "a 0 +", "a sqrt"}) {
        const std::string text = std::string("a = ") + producer + " copy 1 + swap 2 * ret ret";
        const IntFunction f(text);
        ASSERT_TRUE(f.ok()) << text;
        const int32_t v = std::string(producer) == "7"        ? 7
                          : std::string(producer) == "a sqrt" ? 3
                                                              : 9;
        EXPECT_EQ(f.Run({9}), (std::vector<int32_t>{2 * v, v + 1})) << text;
    }
}

// Copying the value in EAX while every register is taken evicts the original itself: it moves
// to a slot and the copy stays in EAX.
TEST(IntCopy, CopyOfEaxWithRegistersFull) {
    const std::string text = std::string("a z = ") + kPads6 + "a 0 + copy 1 + - ret + + + + + ret";
    const Compiled c = CompileFor(Target::IA32, text.c_str());
    ASSERT_EQ(c.results, 2);
    // Pad 0 to slot 0 for a's register; then a itself from EAX to slot 1, with no MOV.
    EXPECT_TRUE(Contains(c.code, {0x89, 0x44, 0x24, 0xF8, 0x83, 0xC0, 0x01})) << Hex(c.code);
    const IntFunction f(text);
    ASSERT_TRUE(f.ok());
    EXPECT_EQ(f.Run({41, 0}), (std::vector<int32_t>{1, 0}));
}

// ---- Edge cases of the language's integer arithmetic -----------------------------------------

struct EdgeCase {
    const char *name;
    const char *text;  // over the parameter x
    int32_t x;
    std::vector<int32_t> results;
};

class IntEdge : public testing::TestWithParam<EdgeCase> {};

TEST_P(IntEdge, Results) {
    const IntFunction f(GetParam().text);
    ASSERT_TRUE(f.ok()) << "code " << f.error();
    EXPECT_EQ(f.Run({GetParam().x}), GetParam().results);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IntEdge,
    testing::Values(
        EdgeCase{"FoldedDifference", "x = 2 3 - ret", 0, {1}},
        EdgeCase{"LiteralMinusParam", "x = x 3 - ret", 10, {-7}},
        EdgeCase{"ParamMinusLiteral", "x = 3 x - ret", 10, {7}},
        // Folded, "sqr" is the full product; at run time it squares the low 16 bits (-25536).
        EdgeCase{"SqrFolded", "x = 40000 sqr ret", 0, {1600000000}},
        EdgeCase{"SqrAtRunTime", "x = x sqr ret", 40000, {652087296}},
        EdgeCase{"SinQuarterTurn", "x = 32768 sin x sin ret ret", 32768, {32767, 32767}},
        EdgeCase{"SinHalfTurnIsNegatedZero", "x = 65536 sin x sin ret ret", 65536, {0, 0}},
        EdgeCase{"SinThreeEighths", "x = 81920 sin x sin ret ret", 81920, {-23170, -23170}},
        EdgeCase{"SinPeriod", "x = 131072 sin x sin ret ret", 131072 + 16384, {23170, 0}},
        EdgeCase{"CosZero", "x = 0 cos x cos ret ret", 0, {32767, 32767}},
        EdgeCase{"CosHalfTurn", "x = 65536 cos x cos ret ret", 65536, {-32767, -32767}},
        // "abs" of a parameter works on a register: the parameter keeps its value.
        EdgeCase{"AbsLeavesParam", "x = x abs x + ret", -5, {0}},
        EdgeCase{"AbsOfMinimum", "x = x abs ret", INT32_MIN, {INT32_MIN}},
        EdgeCase{"SqrtRoundsToNearest", "x = x sqrt 8 sqrt ret ret", 8, {3, 3}},
        EdgeCase{"SqrtOfZero", "x = x sqrt 0 sqrt ret ret", 0, {0, 0}},
        EdgeCase{"SqrtOfNegative", "x = x sqrt -4 sqrt ret ret", -4, {-4, INT32_MIN}},
        EdgeCase{"HexLiteral", "x = $FF ret", 0, {255}},
        EdgeCase{"HexLowerCase", "x = $ff x + ret", 1, {256}},
        EdgeCase{"LargestHex", "x = $FFFFFFF ret", 0, {268435455}},
        EdgeCase{"LargestDecimal", "x = 99999999 ret", 0, {99999999}},
        EdgeCase{"SmallestDecimal", "x = -9999999 ret", 0, {-9999999}},
        // "-" before "$" is the operator: 1 - x, then + 5.
        EdgeCase{"MinusBeforeHexIsTheOperator", "x = x 1 -$5 + ret", 1, {5}},
        EdgeCase{"LongLiteralIsCut", "x = 123456789 ret", 0, {12345678}},
        EdgeCase{"WrapAround", "x = x 1 + x 2 * ret ret", INT32_MAX, {-2, INT32_MIN}},
        EdgeCase{"FoldedProductWraps", "x = 65536 65536 * ret", 0, {0}},
        EdgeCase{"ReservedWordsSkipped", "x = x / \\ 2 shl shr * tan time ret", 21, {42}},
        EdgeCase{"EightResults",
                 "x = x ret x ret x ret x ret x ret x ret x ret x ret",
                 3,
                 {3, 3, 3, 3, 3, 3, 3, 3}}),
    [](const testing::TestParamInfo<EdgeCase> &info) { return std::string(info.param.name); });

// ---- Failures and their codes ----------------------------------------------------------------

struct FailureCase {
    const char *name;
    std::string text;
    int32_t code;
};

class IntFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(IntFailure, RecordsCode) {
    QUOB_SetLastError(0);
    const IntFunction f(GetParam().text);
    EXPECT_FALSE(f.ok());
    EXPECT_EQ(f.error(), GetParam().code);
}

std::string Repeat(const std::string &s, int n) {
    std::string r;
    for (int i = 0; i < n; ++i) r += s;
    return r;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IntFailure,
    testing::Values(
        FailureCase{"AddOnEmpty", "x = +", QUOB_ERR_NOT_ENOUGH_PARAMETERS},
        FailureCase{"SubOnOne", "x = x -", QUOB_ERR_NOT_ENOUGH_PARAMETERS},
        FailureCase{"SwapOnOne", "x = x swap ret", QUOB_ERR_NOT_ENOUGH_PARAMETERS},
        FailureCase{"CopyOnEmpty", "x = copy", QUOB_ERR_NOT_ENOUGH_PARAMETERS},
        FailureCase{"SqrOnEmpty", "x = sqr", QUOB_ERR_NOT_ENOUGH_PARAMETERS},
        FailureCase{"RetOnEmpty", "x = x ret ret", QUOB_ERR_NOT_ENOUGH_PARAMETERS},
        FailureCase{"LeftOver", "x = x 1", QUOB_ERR_STACK_NOT_EMPTY},
        FailureCase{"LeftOverAfterRet", "x = x ret 1", QUOB_ERR_STACK_NOT_EMPTY},
        FailureCase{"DivisionIsSkipped", "x = x 3 / ret", QUOB_ERR_STACK_NOT_EMPTY},
        FailureCase{"EmptyBody", "x =", QUOB_ERR_INVALID_EXPRESSION},
        FailureCase{"ValueLeftWithoutRet", "x = x neg 1 - 2 * abs", QUOB_ERR_STACK_NOT_EMPTY},
        FailureCase{"OnlyReserved", "x = time", QUOB_ERR_INVALID_EXPRESSION},
        FailureCase{"RealLiteral", "x = x 1.5 + ret", QUOB_ERR_INVALID_EXPRESSION},
        FailureCase{"DigitsThenLetter", "x = 12x ret", QUOB_ERR_INVALID_EXPRESSION},
        FailureCase{"HexWithoutDigits", "x = $ ret", QUOB_ERR_INVALID_EXPRESSION},
        FailureCase{"HexBadDigit", "x = $1G ret", QUOB_ERR_INVALID_EXPRESSION},
        FailureCase{"UnknownName", "x = y ret", QUOB_ERR_INVALID_EXPRESSION},
        FailureCase{"CaseSensitive", "x = X ret", QUOB_ERR_INVALID_EXPRESSION},
        FailureCase{"FurtherEquals", "x = x = ret", QUOB_ERR_INVALID_EXPRESSION},
        FailureCase{"NineResults", "x = " + Repeat("x ret ", 9), QUOB_ERR_TOO_MANY_RESULTS},
        // 1023 descriptors fit; the 1024th does not.
        FailureCase{"DescriptorStackFull", "x = " + Repeat("1 ", 1024) + Repeat("+ ", 1023) + "ret",
                    QUOB_ERR_OUT_OF_RESOURCES},
        FailureCase{"CodeBufferFull", "x = " + Repeat("x 1000 * ", 60) + Repeat("+ ", 59) + "ret",
                    QUOB_ERR_OUT_OF_RESOURCES}),
    [](const testing::TestParamInfo<FailureCase> &info) { return std::string(info.param.name); });

TEST(IntLimits, FullDescriptorStackOfConstantsFoldsToNothing) {
    const IntFunction f("x = " + Repeat("1 ", 1023) + Repeat("+ ", 1022) + "ret");
    ASSERT_TRUE(f.ok()) << f.error();
    EXPECT_EQ(f.Run({0}), std::vector<int32_t>{1023});
    QUOB_FunctionRecord r;
    ASSERT_EQ(GetFunction(f.handle(), &r), 1);
    // Two cells, MOV [result], imm32 and RET.
    EXPECT_EQ(r.BlockSize, 8u + (quob::kHostTarget == Target::X64 ? 11u : 10u) + 1u);
}

// The stack and allocation state belong to one compilation: a failed body leaves nothing behind.
TEST(IntLimits, FailureDoesNotAffectTheNextCompilation) {
    { const IntFunction bad("x = " + Repeat("x 0 + ", 40)); }
    const IntFunction f("x = x 0 + x 1 + + ret");
    ASSERT_TRUE(f.ok());
    const Compiled c = CompileFor(Target::IA32, "x = x 0 + ret");
    EXPECT_EQ(Hex(c.code), Hex(Cat({{0xB8, 0, 0, 0, 0, 0x03, 0x05, 0, 0, 0, 0}, kRetEax1})));
    EXPECT_EQ(f.Run({5}), std::vector<int32_t>{11});
}

}  // namespace
