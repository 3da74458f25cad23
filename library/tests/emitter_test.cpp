// The emitter: the encodings that differ between IA-32 and x86-64, and jumps to labels, byte for
// byte.
#include "compile/emitter.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "compile/codebuffer.h"
#include "int_support.h"

namespace {

using namespace quob;  // register names
using test::Hex;
using test::Repeat;

std::string CodeHex(const TCodeBuffer &code) { return Hex(code.Code(), size_t(code.Length())); }

// ---- Emitter: forms that differ between IA-32 and x86-64, and jumps to labels ---------------

struct Encoding {
    const char *name;
    std::function<void(TEmitter &)> emit;
    std::string ia32, x64;  // x64 empty: same as IA-32
};

class Encodings : public testing::TestWithParam<Encoding> {};

TEST_P(Encodings, Bytes) {
    for (Target target : {Target::IA32, Target::X64}) {
        TCodeBuffer code;
        TEmitter e(code, target);
        GetParam().emit(e);
        const bool x64 = target == Target::X64 && !GetParam().x64.empty();
        EXPECT_EQ(CodeHex(code), x64 ? GetParam().x64 : GetParam().ia32);
    }
}

const Mem kCellY = Mem::Cell(4);
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
    Forms, Encodings,
    testing::Values(
        Encoding{"mov_r_cell", E(mov_r_m(EAX, kCellY)), "8B0504000000", "8B042504000000"},
        Encoding{"mov_cell_imm", E(mov_m_imm(Mem::Cell(8), 5)), "C7050800000005000000",
                 "C704250800000005000000"},
        Encoding{"add_r_cell", E(add_r_m(EDX, kCellY)), "031504000000", "03142504000000"},
        Encoding{"imul_r_cell", E(imul_r_m(EAX, Mem::Cell(0))), "0FAF0500000000",
                 "0FAF042500000000"},
        Encoding{"square_read", E(mov_r_m(EAX, Mem::Indexed(0x20000, EAX, 4))), "8B048500000200",
                 "678B048500000200"},
        Encoding{"sine_read", E(mov_r16_m(EAX, Mem::Indexed(0x30000, EAX, 2))), "668B044500000300",
                 "67668B044500000300"},
        // The deep code's record reads through a pointer register, and its pointer moves.
        Encoding{"fld_based", E(fld_m80(Mem::Based(ESI, 20))), "DB6E14", ""},
        Encoding{"fld_based_far", E(fld_m64(Mem::Based(EDI, 200))), "DD87C8000000", ""},
        Encoding{"mov_rp_based", E(mov_rp_m(ESI, Mem::Based(EDI, 0))), "8B7700", "488B7700"},
        Encoding{"add_rp_imm", E(add_rp_imm(ESI, 36)), "83C624", "4883C624"},
        Encoding{"dec_r", E(dec_r(EDX)), "4A", "FFCA"},
        // ST(i) = ST(i) - ST(0) popping; ST(i) = ST(0) / ST(i); ST(0) = ST(0) * m32.
        Encoding{"fsubp_st", E(fsub_st_st0(3, true)), "DEEB", ""},
        Encoding{"fdivr_st", E(fdivr_st_st0(2, false)), "DCF2", ""},
        Encoding{"fmul_m32", E(fmul_m32(kCellY)), "D80D04000000", "D80C2504000000"},
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
TEST(Labels, HeldCodeKeepsItsAddressFields) {
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

}  // namespace
