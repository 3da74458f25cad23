// The integer back end: instruction encodings, the IA-32 code of integer bodies, the results of
// compiled code for every operation over every operand kind, failures, and random bodies against
// the reference evaluator.
#include "intgen.h"

#include <gtest/gtest.h>

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

using namespace quob;  // register names
using test::Hex;
using test::IntFunction;
using test::Repeat;

std::string CodeHex(const TCodeBuffer &code) { return Hex(code.Code(), size_t(code.Length())); }

// ---- Emitter: integer instruction forms, IA-32 and x86-64 ----------------------------------

struct Encoding {
    const char *name;
    std::function<void(TEmitter &)> emit;
    std::string ia32, x64;  // x64 empty: same as IA-32
};

class IntEncoding : public testing::TestWithParam<Encoding> {};

TEST_P(IntEncoding, Bytes) {
    for (Target target : {Target::IA32, Target::X64}) {
        TCodeBuffer code;
        TEmitter e(code, target);
        GetParam().emit(e);
        const bool x64 = target == Target::X64 && !GetParam().x64.empty();
        EXPECT_EQ(CodeHex(code), x64 ? GetParam().x64 : GetParam().ia32);
    }
}

const Mem kSlot0 = Mem::Stack(-4), kSlot32 = Mem::Stack(-132), kCellY = Mem::Cell(4);
#define E(call) [](TEmitter &e) { e.call; }

// Code with labels, from steps: L bind label n; D n zero bytes; j JMP, n JNZ, s JNS to label n;
// N JNZ to label n in its rel32 form.
std::function<void(TEmitter &)> Jumps(int labels, std::vector<std::pair<char, int>> steps) {
    return [=](TEmitter &e) {
        std::vector<TLabel> l;
        for (int i = 0; i < labels; ++i) l.push_back(e.NewLabel());
        const uint8_t zeros[256] = {};
        for (const auto &[step, n] : steps) {
            if (step == 'L') e.Bind(l[n]);
            if (step == 'D') e.Data(zeros, n);
            if (step == 'j') e.jmp(l[n]);
            if (step == 'n') e.jcc(Cond::NE, l[n]);
            if (step == 's') e.jcc(Cond::NS, l[n]);
            if (step == 'N') e.jcc(Cond::NE, l[n], JumpForm::Near);
        }
    };
}

INSTANTIATE_TEST_SUITE_P(
    Forms, IntEncoding,
    testing::Values(
        Encoding{"mov_r_r", E(mov_r_r(EBX, EAX)), "8BD8", ""},
        Encoding{"mov_r_cell", E(mov_r_m(EAX, kCellY)), "8B0504000000", "8B042504000000"},
        Encoding{"mov_r_slot0", E(mov_r_m(ECX, kSlot0)), "8B4C24FC", ""},
        Encoding{"mov_slot0_eax", E(mov_m_r(kSlot0, EAX)), "894424FC", ""},
        Encoding{"mov_slot32_eax", E(mov_m_r(kSlot32, EAX)), "8984247CFFFFFF", ""},
        Encoding{"mov_cell_imm", E(mov_m_imm(Mem::Cell(8), 5)), "C7050800000005000000",
                 "C704250800000005000000"},
        Encoding{"mov_r_imm", E(mov_r_imm(EDI, 0x12345678)), "BF78563412", ""},
        Encoding{"add_r_r", E(add_r_r(EAX, EBX)), "01D8", ""},
        Encoding{"add_r_cell", E(add_r_m(EDX, kCellY)), "031504000000", "03142504000000"},
        Encoding{"add_r_imm8", E(add_r_imm(EAX, 3)), "83C003", ""},
        Encoding{"add_r_imm8_min", E(add_r_imm(ESI, -128)), "83C680", ""},
        Encoding{"add_r_imm32", E(add_r_imm(EAX, 128)), "81C080000000", ""},
        Encoding{"add_slot_imm8", E(add_m_imm(kSlot0, 127)), "834424FC7F", ""},
        Encoding{"add_slot32_imm32", E(add_m_imm(kSlot32, -129)), "8184247CFFFFFF7FFFFFFF", ""},
        Encoding{"add_eax_imm32", E(add_eax_imm32(32768)), "0500800000", ""},
        Encoding{"sub_r_r", E(sub_r_r(ECX, EDI)), "29F9", ""},
        Encoding{"sub_r_slot", E(sub_r_m(EBX, kSlot0)), "2B5C24FC", ""},
        Encoding{"sub_r_imm8", E(sub_r_imm(EAX, 3)), "83E803", ""},
        Encoding{"sub_r_imm32", E(sub_r_imm(EBX, -129)), "81EB7FFFFFFF", ""},
        Encoding{"sub_slot_imm8", E(sub_m_imm(kSlot0, 5)), "836C24FC05", ""},
        Encoding{"imul_r_r", E(imul_r_r(EAX, EBX)), "0FAFC3", ""},
        Encoding{"imul_r_cell", E(imul_r_m(EAX, Mem::Cell(0))), "0FAF0500000000",
                 "0FAF042500000000"},
        Encoding{"imul_r_r_imm8", E(imul_r_r_imm(ECX, ECX, 10)), "6BC90A", ""},
        Encoding{"imul_r_r_imm32", E(imul_r_r_imm(ECX, ECX, 1000)), "69C9E8030000", ""},
        Encoding{"imul_r_slot_imm8", E(imul_r_m_imm(EAX, kSlot0, -2)), "6B4424FCFE", ""},
        Encoding{"neg_r", E(neg_r(EAX)), "F7D8", ""},
        Encoding{"neg_slot", E(neg_m(kSlot0)), "F75C24FC", ""},
        Encoding{"cmp_r_0", E(cmp_r_imm8(EDX, 0)), "83FA00", ""},
        Encoding{"cmp_slot_0", E(cmp_m_imm8(kSlot0, 0)), "837C24FC00", ""},
        Encoding {
            "fild_fsqrt_fistp", E(fild_m32(kSlot0); e.fsqrt(); e.fistp_m32(kSlot0)),
                "DB4424FCD9FADB5C24FC", ""
        },
        Encoding{"square_read", E(mov_r_m(EAX, Mem::Indexed(0x20000, EAX, 4))), "8B048500000200",
                 "678B048500000200"},
        Encoding{"sine_read", E(mov_r16_m(EAX, Mem::Indexed(0x30000, EAX, 2))), "668B044500000300",
                 "67668B044500000300"},
        Encoding {
            "cwde_test_and", E(cwde(); e.test_eax_imm32(0x10000); e.and_eax_imm32(0xFFFF)),
                "98A90000010025FFFF0000", ""
        },
        // Jumps to labels: rel8 where the displacement fits, else rel32 (or rel32 on request).
        Encoding{"jump_back_short", Jumps(2, {{'L', 0}, {'D', 3}, {'n', 0}}), "00000075FB", ""},
        Encoding{"jump_back_near", Jumps(1, {{'L', 0}, {'D', 200}, {'j', 0}}),
                 "00" + Repeat("00", 199) + "E933FFFFFF", ""},
        Encoding{"jump_back_near_on_request", Jumps(1, {{'L', 0}, {'N', 0}}), "0F85FAFFFFFF", ""},
        Encoding{"jump_forward_short", Jumps(1, {{'s', 0}, {'D', 2}, {'L', 0}}),
                 "790200"
                 "00",
                 ""},
        Encoding{"jump_forward_near", Jumps(1, {{'j', 0}, {'D', 130}, {'L', 0}}),
                 "E982000000" + Repeat("00", 130), ""},
        // The sine's shape: a jump over code that holds a jump of its own.
        Encoding{"jumps_nested",
                 Jumps(2, {{'n', 0}, {'D', 3}, {'j', 1}, {'L', 0}, {'D', 1}, {'L', 1}}),
                 "7505000000EB0100", ""},
        // The second jump needs rel32, which puts the first one's label out of rel8 reach.
        Encoding{"jumps_grow_each_other",
                 Jumps(2, {{'n', 0}, {'D', 124}, {'j', 1}, {'L', 0}, {'D', 130}, {'L', 1}}),
                 "0F8581000000" + Repeat("00", 124) + "E982000000" + Repeat("00", 130), ""}),
    [](const testing::TestParamInfo<Encoding> &info) { return std::string(info.param.name); });

// Code held behind a jump keeps its address fields: the buffer records them where they land.
TEST(IntEncodingLabels, HeldCodeKeepsItsAddressFields) {
    TCodeBuffer code;
    TEmitter e(code, Target::IA32);
    const TLabel done = e.NewLabel();
    e.jcc(Cond::E, done);
    e.mov_r_m(EAX, kCellY);
    EXPECT_EQ(code.Length(), 0);  // held until the label is bound
    e.Bind(done);
    EXPECT_EQ(CodeHex(code), "74068B0504000000");
    ASSERT_EQ(code.RelocationCount(), 1);
    EXPECT_EQ(code.Relocation(0), 4);
    EXPECT_EQ(e.Position(done), 8);
}

// ---- IA-32 code of whole bodies --------------------------------------------------------------

struct Compiled {
    int32_t results;
    std::string code;
};

// Compiles "params = body" with the integer back end for a target, outside the function table:
// cell addresses stay block offsets (parameter p at 4p, result k at 4(P + k)).
Compiled CompileFor(Target target, const std::string &paramsAndBody) {
    QUOB_FunctionRecord record{};
    TScanner scanner(paramsAndBody.c_str());
    for (const char *t = scanner.NextToken(); std::strcmp(t, "=") != 0; t = scanner.NextToken()) {
        auto &p = record.Params[record.ParamCount];
        std::strcpy(p.Name, t);
        p.Type = QUOB_VALUE_INT32;
        p.Address = 4 * static_cast<uint32_t>(record.ParamCount++);
    }
    TCodeBuffer code;
    const int32_t results = CompileIntegerBody({scanner, code, record}, target);
    return {results, CodeHex(code)};
}

// Whether the hex of `part` is in `code` at a byte boundary.
bool Contains(const std::string &code, const std::string &part) {
    for (size_t at = code.find(part); at != std::string::npos; at = code.find(part, at + 1))
        if (at % 2 == 0) return true;
    return false;
}

std::string Le32(const void *address) {
    const auto v = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(address));
    const uint8_t b[] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    return Hex(b, 4);
}

// Expected code with its pieces named by letters outside the hex digits; the tables' addresses
// are known only at run time.
std::string Expand(std::string code) {
    const std::string half = "25FFFF0000668B0445" + Le32(SineTable()) + "98";
    const std::pair<char, std::string> pieces[] = {
        {'X', "8B0500000000"},                    // MOV EAX,[x]
        {'R', "890504000000"},                    // MOV [result 0 of one parameter],EAX
        {'Z', "B800000000030500000000"},          // MOV EAX,0; ADD EAX,[x]
        {'T', "DB0500000000D9FADB5C24"},          // FILD [x]; FSQRT; FISTP [ESP+d8]
        {'L', "8B4424FC"},                        // MOV EAX,[ESP-4]
        {'Q', "988B0485" + Le32(SquareTable())},  // CWDE; MOV EAX,[square + 4*EAX]
        {'S', "A9000001007510" + half + "EB10" + half + "F7D8"}};  // the sine lookup
    for (const auto &[letter, piece] : pieces)
        for (size_t at; (at = code.find(letter)) != std::string::npos;) code.replace(at, 1, piece);
    return code;
}

struct BodyCode {
    const char *name, *text, *expected;
};

class IntBodyCode : public testing::TestWithParam<BodyCode> {};

TEST_P(IntBodyCode, Ia32Bytes) {
    const Compiled c = CompileFor(Target::IA32, GetParam().text);
    ASSERT_GE(c.results, 1);
    EXPECT_EQ(c.code, Expand(GetParam().expected));
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
                 "890508000000"},
        BodyCode{"FoldedDifference", "x = 2 3 - ret", "C7050400000001000000"},
        BodyCode{"ConstantMinusParam", "x = x 3 - ret", "B8030000002B0500000000R"},
        BodyCode{"ParamMinusConstant", "x = 3 x - ret", "X83E803R"},
        BodyCode{"ImmediateBeyondEightBits", "x = x 200 + 200 * ret",
                 "B8C8000000030500000000"
                 "69C0C8000000R"},
        BodyCode{"ConstantMinusRegister", "x = x 0 + 5 - ret", "Z83E805F7D8R"},
        BodyCode{"TwoRegistersIntoTheLowerIndexed", "x = x 0 + x 1 + swap * ret",
                 "ZBB01000000031D00000000"
                 "0FAFC3R"},
        BodyCode{"AbsOfParamLoadsIt", "x = x abs ret", "X83F8007902F7D8R"},
        BodyCode{"NegOfParamLoadsIt", "x = x neg ret", "XF7D8R"},
        // sqrt of a parameter lands in slot 0; ret loads a slot into a fresh register.
        BodyCode{"SqrtOfParam", "x = x sqrt ret", "TFCLR"},
        BodyCode{"SqrtOfRegister", "x = x 1 + sqrt ret",
                 "B801000000030500000000"
                 "894424FC"
                 "DB4424FCD9FADB5C24FCLR"},
        BodyCode{"AbsNegOfSlotInPlace", "x = x sqrt abs neg ret",
                 "TFC"
                 "837C24FC007904F75C24FC"
                 "F75C24FCLR"},
        // The copy of a slot goes to a register; the slot stays in use by the value below it.
        BodyCode{"CopyOfSlot", "x = x sqrt copy + ret", "TFCL034424FCR"},
        // The slots of "+"'s operands are free again at the next token: the third root
        // reuses slot 0.
        BodyCode{"SlotsFreedAtTheNextToken", "x = x sqrt x sqrt + x sqrt + ret",
                 "TFCTF88B4424F8034424FC"
                 "TFC034424FCR"},
        BodyCode{"RegistersFreedAtTheNextToken", "x = x 1 + x 2 + + x 3 + + ret",
                 "B801000000030500000000"
                 "BB02000000031D0000000001D8"
                 "BB03000000031D0000000001D8R"},
        BodyCode{"SlotPlusConstantInPlace", "x = x sqrt 5 + ret", "TFC834424FC05LR"},
        BodyCode{"ConstantMinusSlotInPlace", "x = x sqrt 5 - ret", "TFC836C24FC05F75C24FCLR"},
        BodyCode{"SlotTimesConstant", "x = x sqrt 3 * ret", "TFC6B4424FC03R"},
        BodyCode{"Square", "x = x sqr ret", "XQR"}, BodyCode{"Sine", "x = x sin ret", "XSR"},
        BodyCode{"Cosine", "x = x cos ret", "X0500800000SR"},
        BodyCode{"ConstantResultAndReservedWords", "x = 7 / \\ shl shr tan time ret",
                 "C7050400000007000000"}),
    [](const testing::TestParamInfo<BodyCode> &info) { return std::string(info.param.name); });

// Seven live values: the seventh allocation spills EAX to slot 0 and continues with EAX; the
// sums then meet the spilled value as a memory operand.
TEST(IntSpill, SeventhValueSpillsEaxToSlotZero) {
    const std::string text = "x = x 1 + x 2 + x 3 + x 4 + x 5 + x 6 + x 7 + + + + + + + ret";
    const Compiled c = CompileFor(Target::IA32, text);
    ASSERT_EQ(c.results, 1);
    EXPECT_TRUE(Contains(c.code, "894424FCB807000000")) << c.code;
    EXPECT_TRUE(Contains(c.code, "01D0")) << c.code;      // ADD EAX, EDX
    EXPECT_TRUE(Contains(c.code, "034424FC")) << c.code;  // ADD EAX, [ESP-4]
    const IntFunction f(text);
    ASSERT_TRUE(f.ok()) << f.error();
    EXPECT_EQ(f.Run({100}), std::vector<int32_t>{728});
}

// Slot 32 lies beyond the 8-bit displacement: the jump over NEG grows with it.
TEST(IntSpill, AbsOfADeepSlotJumpsOverTheLongForm) {
    const std::string text = "x =" + Repeat(" x sqrt", 33) + " abs" + Repeat(" +", 32) + " ret";
    const Compiled c = CompileFor(Target::IA32, text);
    ASSERT_EQ(c.results, 1);
    EXPECT_TRUE(Contains(c.code, "83BC247CFFFFFF007907F79C247CFFFFFF")) << c.code;
    const IntFunction f(text);
    ASSERT_TRUE(f.ok()) << f.error();
    EXPECT_EQ(f.Run({49}), std::vector<int32_t>{33 * 7});
    // The integer indefinite of each negative root: an odd count of them sums to itself.
    EXPECT_EQ(f.Run({-4}), std::vector<int32_t>{INT32_MIN});
}

// ---- Results of compiled code: each operation over each operand kind -----------------------

enum class Kind { Constant, Register, Slot, Param };
const char *const kKindNames[] = {"Const", "Reg", "Slot", "Param"};
const Kind kKinds[] = {Kind::Constant, Kind::Register, Kind::Slot, Kind::Param};

// Six registers hold zeros (parameter z); the value of "p 0 +" then lands in EAX with every
// register taken, and "z ret" needs a scratch register, which evicts it to a slot. A register
// operand below a slot maker must stay out of EAX: it takes the last register after five pads.
const std::string kPad = "z 0 + ";

struct Operands {
    std::string text;   // leaves the operands on top, above the pads
    int pads = 0;       // zero values below them, to be consumed after the operation
    int extraRets = 0;  // results stored before the operation's ("z ret" of a slot maker)
};

std::string Produce(Kind k, const char *param, const std::string &literal) {
    if (k == Kind::Constant) return literal + " ";
    return param + std::string(k == Kind::Param      ? " "
                               : k == Kind::Register ? " 0 + "
                                                     : " 0 + z ret ");
}

// The operands `second` below `top` (top absent for one operand), from a and b or the literals;
// checks the operation's result and that no pad was overwritten.
void CheckOperation(const std::string &op, Kind second, std::optional<Kind> top,
                    const std::string &la, const std::string &lb,
                    const std::vector<std::vector<int32_t>> &runs,
                    const std::function<int32_t(int32_t, int32_t)> &expected) {
    Operands o;
    const bool anySlot = second == Kind::Slot || top == Kind::Slot;
    if (anySlot) o.pads = second == Kind::Register && top == Kind::Slot ? 5 : 6;
    o.text = Repeat(kPad, o.pads) + Produce(second, "a", la) + (top ? Produce(*top, "b", lb) : "");
    o.extraRets = (second == Kind::Slot) + (top == Kind::Slot);
    const std::string text =
        "a b z = " + o.text + op + " ret " + (o.pads ? Repeat("+ ", o.pads - 1) + "ret" : "");
    const IntFunction f(text);
    ASSERT_TRUE(f.ok()) << text << " code " << f.error();
    for (const std::vector<int32_t> &ab : runs) {
        const std::vector<int32_t> r = f.Run({ab[0], ab[1], 0});
        ASSERT_EQ(r.size(), size_t(o.extraRets + 1 + (o.pads ? 1 : 0))) << text;
        EXPECT_EQ(r[o.extraRets], expected(ab[0], ab[1]))
            << text << " a=" << ab[0] << " b=" << ab[1];
        if (o.pads) {
            EXPECT_EQ(r.back(), 0) << "a pad was overwritten: " << text;
        }
    }
}

const std::vector<int32_t> kValues = {0,    1,    -1,    5,        127,      128,
                                      -128, -129, 40000, -9999999, 99999999, 0xFFFFFFF};
const std::vector<int32_t> kRuntimeOnly = {INT32_MIN, INT32_MAX, 0x12345678, -65536};

struct BinaryCase {
    const char *op;
    Kind second, top;
};

class IntBinary : public testing::TestWithParam<BinaryCase> {};

TEST_P(IntBinary, MatchesWrapAroundArithmetic) {
    const BinaryCase &c = GetParam();
    std::vector<int32_t> runtime = kValues;
    runtime.insert(runtime.end(), kRuntimeOnly.begin(), kRuntimeOnly.end());
    const bool secondConst = c.second == Kind::Constant, topConst = c.top == Kind::Constant;
    auto apply = [&](int32_t second, int32_t top) {
        const uint32_t a = uint32_t(top), b = uint32_t(second);
        return int32_t(c.op[0] == '+' ? b + a : c.op[0] == '-' ? a - b : a * b);
    };
    // One compilation per pair of literals; a non-constant operand runs over all its values.
    for (int32_t x : secondConst ? kValues : std::vector<int32_t>{0})
        for (int32_t y : topConst ? kValues : std::vector<int32_t>{0}) {
            std::vector<std::vector<int32_t>> runs;
            for (int32_t a : secondConst ? std::vector<int32_t>{x} : runtime)
                for (int32_t b : topConst ? std::vector<int32_t>{y} : runtime)
                    runs.push_back({a, b});
            CheckOperation(c.op, c.second, c.top, *test::IntLiteral(x), *test::IntLiteral(y), runs,
                           apply);
        }
}

std::vector<BinaryCase> AllBinaryCases() {
    std::vector<BinaryCase> cases;
    for (const char *op : {"+", "-", "*"})
        for (Kind s : kKinds)
            for (Kind t : kKinds) cases.push_back({op, s, t});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(AllKinds, IntBinary, testing::ValuesIn(AllBinaryCases()),
                         [](const testing::TestParamInfo<BinaryCase> &info) {
                             const char op = info.param.op[0];
                             return std::string(op == '+'   ? "Add"
                                                : op == '-' ? "Sub"
                                                            : "Mul") +
                                    kKindNames[int(info.param.second)] + "_" +
                                    kKindNames[int(info.param.top)];
                         });

struct UnaryCase {
    const char *op;
    Kind kind;
};

class IntUnary : public testing::TestWithParam<UnaryCase> {};

// Each one-operand keyword against the reference evaluator, which folds constants as the
// compiler does (sqr of the whole value, sqrt below 1 unchanged).
TEST_P(IntUnary, MatchesReference) {
    const UnaryCase &c = GetParam();
    const bool constant = c.kind == Kind::Constant;
    std::vector<int32_t> values = kValues;
    for (int32_t extra : {32768, 65536, 65536 + 16384, 131072, -32768, 1 << 20})
        values.push_back(extra);
    if (!constant) values.insert(values.end(), kRuntimeOnly.begin(), kRuntimeOnly.end());
    for (int32_t v : values) {
        const auto literal = test::IntLiteral(v);
        if (constant && !literal) continue;
        auto reference = [&](int32_t a, int32_t) {
            return constant ? (*test::EvaluateIntBody({*literal, c.op, "ret"}, {}, {}))[0]
                            : (*test::EvaluateIntBody({"a", c.op, "ret"}, {"a"}, {a}))[0];
        };
        CheckOperation(c.op, c.kind, std::nullopt, literal.value_or(""), "", {{v, 0}}, reference);
    }
}

std::vector<UnaryCase> AllUnaryCases() {
    std::vector<UnaryCase> cases;
    for (const char *op : {"neg", "abs", "sqrt", "sqr", "sin", "cos"})
        for (Kind k : kKinds) cases.push_back({op, k});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(AllKinds, IntUnary, testing::ValuesIn(AllUnaryCases()),
                         [](const testing::TestParamInfo<UnaryCase> &info) {
                             return std::string(info.param.op) + kKindNames[int(info.param.kind)];
                         });

// "copy" and "swap" over each kind, with the copies changed independently afterwards.
TEST(IntCopy, CopiesAreIndependent) {
    for (auto [producer, v] : {std::pair{"7", 7}, {"a", 9}, {"a 0 +", 9}, {"a sqrt", 3}}) {
        const IntFunction f(std::string("a = ") + producer + " copy 1 + swap 2 * ret ret");
        ASSERT_TRUE(f.ok()) << producer;
        EXPECT_EQ(f.Run({9}), (std::vector<int32_t>{2 * v, v + 1})) << producer;
    }
}

// Copying the value in EAX while every register is taken evicts the original itself: it moves
// to a slot and the copy stays in EAX.
TEST(IntCopy, CopyOfEaxWithRegistersFull) {
    const std::string text = "a z = " + Repeat(kPad, 6) + "a 0 + copy 1 + - ret + + + + + ret";
    const Compiled c = CompileFor(Target::IA32, text);
    ASSERT_EQ(c.results, 2);
    // Pad 0 to slot 0 for a's register; then a itself from EAX to slot 1, with no MOV.
    EXPECT_TRUE(Contains(c.code, "894424F883C001")) << c.code;
    const IntFunction f(text);
    ASSERT_TRUE(f.ok());
    EXPECT_EQ(f.Run({41, 0}), (std::vector<int32_t>{1, 0}));
}

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
        Outcome{"HexLiteral", "x = $FF ret", 0, 0, {255}},
        Outcome{"HexLowerCase", "x = $ff x + ret", 0, 1, {256}},
        Outcome{"LargestHex", "x = $FFFFFFF ret", 0, 0, {268435455}},
        Outcome{"LargestDecimal", "x = 99999999 ret", 0, 0, {99999999}},
        Outcome{"SmallestDecimal", "x = -9999999 ret", 0, 0, {-9999999}},
        // "-" before "$" is the operator: 1 - x, then + 5.
        Outcome{"MinusBeforeHexIsTheOperator", "x = x 1 -$5 + ret", 0, 1, {5}},
        Outcome{"LongLiteralIsCut", "x = 123456789 ret", 0, 0, {12345678}},
        Outcome{"WrapAround", "x = x 1 + x 2 * ret ret", 0, INT32_MAX, {-2, INT32_MIN}},
        Outcome{"FoldedProductWraps", "x = 65536 65536 * ret", 0, 0, {0}},
        Outcome{"ReservedWordsSkipped", "x = x / \\ 2 shl shr * tan time ret", 0, 21, {42}},
        Outcome{"EightResults", "x = " + Repeat("x ret ", 8), 0, 3, std::vector<int32_t>(8, 3)},
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
    EXPECT_EQ(CompileFor(Target::IA32, "x = x 0 + ret").code, Expand("ZR"));
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
