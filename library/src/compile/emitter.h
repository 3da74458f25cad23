// TEmitter: x86 instructions by mnemonic over a TCodeBuffer, for IA-32 or x86-64.
//
// Back ends call these methods and never write opcode bytes themselves. Every encoding detail
// lives here; the only difference between the targets, the form of a memory operand, is decided
// in one function (Op). Generated x86-64 code is the IA-32 code re-expressed:
//   - an absolute [disp32] operand takes the SIB form (04 25 disp32), since mod 00 r/m 101 is
//     RIP-relative in 64-bit mode;
//   - an indexed table read [disp32 + reg*scale] takes the address-size prefix 67, so the index
//     wraps in 32 bits exactly as on IA-32;
//   - DEC r32 is FF /1 (48..4F are REX prefixes).
//
// Jumps go to labels. A jump to a label that is not bound yet holds back the code after it until
// every such label is bound; then each jump takes its short form (rel8) where the displacement
// fits and its near form (rel32) elsewhere, and the held code goes to the buffer.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "compile/codebuffer.h"

namespace quob {

enum class Target : uint8_t { IA32, X64 };

#if defined(__x86_64__)
constexpr Target kHostTarget = Target::X64;
#else
constexpr Target kHostTarget = Target::IA32;
#endif

// General registers by their encoding number.
enum Reg : uint8_t { EAX = 0, ECX = 1, EDX = 2, EBX = 3, ESP = 4, EBP = 5, ESI = 6, EDI = 7 };

// A memory operand.
struct Mem {
    enum class Kind : uint8_t {
        Cell,      // [disp32], disp32 an offset into the function's block (relocated)
        Absolute,  // [disp32], a fixed address (a lookup table)
        Stack,     // [ESP + disp] (spill slots below the stack pointer: disp < 0)
        Indexed,   // [disp32 + index * scale], disp32 a fixed address
        Based,     // [base + disp]: a pointer-sized register (index) plus a displacement
    };
    Kind kind;
    int32_t disp;
    Reg index = EAX;
    uint8_t scale = 1;

    static Mem Cell(uint32_t offset) { return {Kind::Cell, static_cast<int32_t>(offset)}; }
    static Mem Absolute(uint32_t address) {
        return {Kind::Absolute, static_cast<int32_t>(address)};
    }
    static Mem Stack(int32_t disp) { return {Kind::Stack, disp}; }
    static Mem Indexed(uint32_t address, Reg index, uint8_t scale) {
        return {Kind::Indexed, static_cast<int32_t>(address), index, scale};
    }
    // base must not be ESP (whose r/m code means a SIB byte follows).
    static Mem Based(Reg base, int32_t disp) { return {Kind::Based, disp, base}; }
};

// A place in the code that jumps go to; made by NewLabel, bound once by Bind.
struct TLabel {
    int32_t id;
};

// Conditions of Jcc by their encoding (70+cc, 0F 80+cc).
// A and B (above, below) test CF and ZF as FUCOMIP leaves them.
enum class Cond : uint8_t {
    B = 0x2,
    AE = 0x3,
    E = 0x4,
    NE = 0x5,
    BE = 0x6,
    A = 0x7,
    S = 0x8,
    NS = 0x9
};

// Shortest: rel8 where the displacement fits. Near: always rel32.
enum class JumpForm : uint8_t { Shortest, Near };

class TEmitter {
  public:
    TEmitter(TCodeBuffer &code, Target target) : code_(code), target_(target) {}

    Target target() const { return target_; }

    // ---- x87 ----------------------------------------------------------------------------
    void fld_m80(const Mem &m) { Op({0xDB}, 5, m); }
    void fstp_m80(const Mem &m) { Op({0xDB}, 7, m); }
    void fld_m32(const Mem &m) { Op({0xD9}, 0, m); }
    void fld_m64(const Mem &m) { Op({0xDD}, 0, m); }
    void fstp_m32(const Mem &m) { Op({0xD9}, 3, m); }
    // ST(0) = ST(0) op m32, the reversed ones m32 - ST(0), m32 / ST(0) (D8 /0, /1, /4 to /7).
    void fadd_m32(const Mem &m) { Op({0xD8}, 0, m); }
    void fmul_m32(const Mem &m) { Op({0xD8}, 1, m); }
    void fsub_m32(const Mem &m) { Op({0xD8}, 4, m); }
    void fsubr_m32(const Mem &m) { Op({0xD8}, 5, m); }
    void fdiv_m32(const Mem &m) { Op({0xD8}, 6, m); }
    void fdivr_m32(const Mem &m) { Op({0xD8}, 7, m); }
    void fld_st(int i) { Bytes({0xD9, uint8_t(0xC0 + i)}); }    // FLD ST(i)
    void fxch_st(int i) { Bytes({0xD9, uint8_t(0xC8 + i)}); }   // FXCH ST(i)
    void fstp_st(int i) { Bytes({0xDD, uint8_t(0xD8 + i)}); }   // FSTP ST(i)
    void ffree_st(int i) { Bytes({0xDD, uint8_t(0xC0 + i)}); }  // FFREE ST(i)
    void faddp() { Bytes({0xDE, 0xC1}); }                       // FADDP ST(1),ST
    void fmulp() { Bytes({0xDE, 0xC9}); }                       // FMULP ST(1),ST
    void fsubp() { Bytes({0xDE, 0xE9}); }                       // FSUBP ST(1),ST: ST1-ST0
    void fsubrp() { Bytes({0xDE, 0xE1}); }                      // FSUBRP ST(1),ST: ST0-ST1
    void fdivp() { Bytes({0xDE, 0xF9}); }                       // FDIVP ST(1),ST: ST1/ST0
    void fdivrp() { Bytes({0xDE, 0xF1}); }                      // FDIVRP ST(1),ST: ST0/ST1
    // Register forms with ST(0) as destination: ST(0) = ST(0) op ST(i); FSUBR and FDIVR
    // reverse the operands: ST(0) = ST(i) - ST(0), ST(i) / ST(0).
    void fadd_st0_st(int i) { Bytes({0xD8, uint8_t(0xC0 + i)}); }
    void fmul_st0_st(int i) { Bytes({0xD8, uint8_t(0xC8 + i)}); }
    void fsubr_st0_st(int i) { Bytes({0xD8, uint8_t(0xE8 + i)}); }
    void fdivr_st0_st(int i) { Bytes({0xD8, uint8_t(0xF8 + i)}); }
    void fsub_st0_st(int i) { Bytes({0xD8, uint8_t(0xE0 + i)}); }  // ST(0) = ST(0) - ST(i)
    void fdiv_st0_st(int i) { Bytes({0xD8, uint8_t(0xF0 + i)}); }  // ST(0) = ST(0) / ST(i)
    void fsub_st1_st0() { Bytes({0xDC, 0xE9}); }                   // FSUB ST(1),ST(0)
    // Register forms with ST(i) as destination, and their popping forms: ST(i) = ST(i) op ST(0);
    // the reversed ones ST(i) = ST(0) - ST(i), ST(0) / ST(i).
    void fadd_st_st0(int i, bool pop) {
        Bytes({pop ? uint8_t(0xDE) : uint8_t(0xDC), uint8_t(0xC0 + i)});
    }
    void fmul_st_st0(int i, bool pop) {
        Bytes({pop ? uint8_t(0xDE) : uint8_t(0xDC), uint8_t(0xC8 + i)});
    }
    void fsub_st_st0(int i, bool pop) {
        Bytes({pop ? uint8_t(0xDE) : uint8_t(0xDC), uint8_t(0xE8 + i)});
    }
    void fsubr_st_st0(int i, bool pop) {
        Bytes({pop ? uint8_t(0xDE) : uint8_t(0xDC), uint8_t(0xE0 + i)});
    }
    void fdiv_st_st0(int i, bool pop) {
        Bytes({pop ? uint8_t(0xDE) : uint8_t(0xDC), uint8_t(0xF8 + i)});
    }
    void fdivr_st_st0(int i, bool pop) {
        Bytes({pop ? uint8_t(0xDE) : uint8_t(0xDC), uint8_t(0xF0 + i)});
    }
    // Compares ST(0) with ST(i) into ZF, PF and CF, and pops; unordered sets all three.
    void fucomip_st(int i) { Bytes({0xDF, uint8_t(0xE8 + i)}); }
    void fnstsw_ax() { Bytes({0xDF, 0xE0}); }
    void fnclex() { Bytes({0xDB, 0xE2}); }
    void fchs() { Bytes({0xD9, 0xE0}); }
    void fabs() { Bytes({0xD9, 0xE1}); }
    void fld1() { Bytes({0xD9, 0xE8}); }
    void fldl2t() { Bytes({0xD9, 0xE9}); }
    void fldl2e() { Bytes({0xD9, 0xEA}); }
    void fldpi() { Bytes({0xD9, 0xEB}); }
    void fldlg2() { Bytes({0xD9, 0xEC}); }
    void fldln2() { Bytes({0xD9, 0xED}); }
    void fldz() { Bytes({0xD9, 0xEE}); }
    void f2xm1() { Bytes({0xD9, 0xF0}); }
    void fyl2x() { Bytes({0xD9, 0xF1}); }
    void fptan() { Bytes({0xD9, 0xF2}); }
    void fpatan() { Bytes({0xD9, 0xF3}); }
    void fxtract() { Bytes({0xD9, 0xF4}); }
    void fincstp() { Bytes({0xD9, 0xF7}); }
    void fprem() { Bytes({0xD9, 0xF8}); }
    void fsqrt() { Bytes({0xD9, 0xFA}); }
    void fsincos() { Bytes({0xD9, 0xFB}); }
    void frndint() { Bytes({0xD9, 0xFC}); }
    void fscale() { Bytes({0xD9, 0xFD}); }
    void fsin() { Bytes({0xD9, 0xFE}); }
    void fcos() { Bytes({0xD9, 0xFF}); }

    // ---- general registers --------------------------------------------------------------
    void mov_r_imm(Reg r, uint32_t imm);          // B8+r imm32
    void mov_r_cell(Reg r, uint32_t cellOffset);  // B8+r, relocated address of a block cell
    void movzx_r_m16(Reg r, const Mem &m) { Op({0x0F, 0xB7}, r, m); }
    void dec_r(Reg r);  // IA-32 48+r, x86-64 FF /1
    void rep_movsw() { Bytes({0x66, 0xF3, 0xA5}); }
    // 64-bit and 16-bit moves between a register and memory, x86-64 only (REX.W 8B/89; 66 89).
    void mov_r64_m(Reg r, const Mem &m) { Op({0x48, 0x8B}, r, m); }
    void mov_m_r64(const Mem &m, Reg r) { Op({0x48, 0x89}, r, m); }
    void mov_m_r16(const Mem &m, Reg r) { Op({0x66, 0x89}, r, m); }
    // Pointer-sized loads, stores and additions: 64-bit (REX.W) on x86-64, 32-bit on IA-32.
    void mov_rp_m(Reg r, const Mem &m);
    void mov_m_rp(const Mem &m, Reg r);
    void add_rp_imm(Reg r, int32_t imm);
    void ret() { Byte(0xC3); }

    // ---- 32-bit integer arithmetic (integer back end) ------------------------------------
    // Forms with an immediate take the sign-extended 8-bit encoding (83, 6B) when the value
    // lies in -128..127, else the 32-bit one (81, 69).
    void mov_r_r(Reg dst, Reg src) { RegRm({0x8B}, dst, src); }  // 8B /r
    void mov_r_m(Reg r, const Mem &m) { Op({0x8B}, r, m); }
    void mov_m_r(const Mem &m, Reg r) { Op({0x89}, r, m); }
    void mov_m_imm(const Mem &m, uint32_t imm);  // C7 /0 imm32
    // 16-bit load into r's low half.
    void mov_r16_m(Reg r, const Mem &m) { Op({0x66, 0x8B}, r, m); }
    void add_r_r(Reg dst, Reg src) { RegRm({0x01}, src, dst); }  // 01 /r
    void add_r_m(Reg r, const Mem &m) { Op({0x03}, r, m); }
    void add_r_imm(Reg r, int32_t imm) { Group1(0, r, imm); }
    void add_m_imm(const Mem &m, int32_t imm) { Group1(0, m, imm); }
    void add_eax_imm32(uint32_t imm);                            // 05 imm32
    void sub_r_r(Reg dst, Reg src) { RegRm({0x29}, src, dst); }  // 29 /r
    void cmp_r_r(Reg dst, Reg src) { RegRm({0x39}, src, dst); }  // 39 /r: flags of dst - src
    void sub_r_m(Reg r, const Mem &m) { Op({0x2B}, r, m); }
    void sub_r_imm(Reg r, int32_t imm) { Group1(5, r, imm); }
    void sub_m_imm(const Mem &m, int32_t imm) { Group1(5, m, imm); }
    void imul_r_r(Reg dst, Reg src) { RegRm({0x0F, 0xAF}, dst, src); }
    void imul_r_m(Reg r, const Mem &m) { Op({0x0F, 0xAF}, r, m); }
    void imul_r_r_imm(Reg dst, Reg src, int32_t imm);
    void imul_r_m_imm(Reg r, const Mem &m, int32_t imm);
    void neg_r(Reg r) { RegRm({0xF7}, 3, r); }
    void neg_m(const Mem &m) { Op({0xF7}, 3, m); }
    void cmp_r_imm8(Reg r, int8_t imm);  // 83 /7 ib
    void cmp_m_imm8(const Mem &m, int8_t imm);
    void cmp_r_imm(Reg r, int32_t imm) { Group1(7, r, imm); }
    void cmp_r_m(Reg r, const Mem &m) { Op({0x3B}, r, m); }
    void and_eax_imm32(uint32_t imm);   // 25 imm32
    void test_eax_imm32(uint32_t imm);  // A9 imm32
    void test_al_imm8(uint8_t imm) { Bytes({0xA8, imm}); }
    void cwde() { Byte(0x98); }
    void fild_m32(const Mem &m) { Op({0xDB}, 0, m); }
    void fistp_m32(const Mem &m) { Op({0xDB}, 3, m); }

    // ---- labels and jumps ------------------------------------------------------------------
    TLabel NewLabel();
    void Bind(TLabel label);
    // The label's position in the code; valid once it is bound and no jump before it waits for
    // a label.
    int32_t Position(TLabel label) const { return labels_[label.id].position; }
    void jmp(TLabel target, JumpForm form = JumpForm::Shortest) { Jump(0xEB, target, form); }
    void jcc(Cond cond, TLabel target, JumpForm form = JumpForm::Shortest) {
        Jump(static_cast<uint8_t>(cond), target, form);
    }

    // ---- sequences ----------------------------------------------------------------------
    // The language's "exp" of ST(0): t = ST(0) log2 e, n = round(t), 2^(t - n) 2^n, with two
    // registers above ST(0) on the way.
    void exp_st0();
    // FNCLEX where one of `flags` is set (FNSTSW AX, TEST AL): FNCLEX waits for the whole unit.
    void clear_flags_if_set(uint8_t flags);

    // ---- raw data (inline constants) ---------------------------------------------------
    void Data(const void *bytes, int count);

  private:
    // Emits prefix, opcode bytes, ModRM (with regField) and the addressing bytes of m.
    void Op(std::initializer_list<uint8_t> opcode, uint8_t regField, const Mem &m);
    void Bytes(std::initializer_list<uint8_t> bytes);
    // Every byte goes through these: to the buffer, or held back behind an unresolved jump.
    void Byte(uint8_t b);
    void Dword(uint32_t value);
    void Address(uint32_t offset);  // a relocated 32-bit field: an offset into the block
    // opcode: EB for JMP, else the condition of a Jcc.
    void Jump(uint8_t opcode, TLabel target, JumpForm form);
    // Chooses the form of every held jump and writes the held code to the buffer.
    void Flush();

    // Opcode and a register-direct ModRM (mod 11).
    void RegRm(std::initializer_list<uint8_t> opcode, uint8_t regField, Reg rm);
    // ADD/SUB (group 1, /ext) with an immediate on a register or a memory operand.
    void Group1(uint8_t ext, Reg r, int32_t imm);
    void Group1(uint8_t ext, const Mem &m, int32_t imm);
    void Immediate(int32_t imm, bool short8);

    struct LabelState {
        int32_t position = -1;  // -1 until bound and written
        bool bound = false;
        int32_t waiting = 0;  // held jumps to it while it is unbound
    };
    // Code held back behind a jump to an unbound label.
    struct Held {
        enum Kind : uint8_t { kByte, kAddress, kJump, kBind } kind;
        uint8_t opcode;  // kByte: the byte; kJump: EB or the condition
        bool near;       // kJump: rel32 form
        int32_t label;   // kJump, kBind
        uint32_t value;  // kAddress: the block offset
    };
    static int32_t Size(const Held &h);

    TCodeBuffer &code_;
    const Target target_;
    std::vector<LabelState> labels_;
    std::vector<Held> held_;
    int32_t unresolved_ = 0;  // held jumps whose label is not bound
};

}  // namespace quob
