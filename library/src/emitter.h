// TEmitter: x86 instructions by mnemonic over a TCodeBuffer, for IA-32 or x86-64.
//
// Back ends call these methods and never write opcode bytes themselves. Every encoding detail
// lives here; the only difference between the targets, the form of a memory operand, is decided
// in one function (Operand). Generated x86-64 code is the IA-32 code re-expressed:
//   - an absolute [disp32] operand takes the SIB form (04 25 disp32), since mod 00 r/m 101 is
//     RIP-relative in 64-bit mode;
//   - an indexed table read [disp32 + reg*scale] takes the address-size prefix 67, so the index
//     wraps in 32 bits exactly as on IA-32;
//   - DEC r32 is FF /1 (48..4F are REX prefixes).
#pragma once
#include <cstdint>
#include <initializer_list>

#include "codebuffer.h"

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
};

class TEmitter {
public:
    TEmitter(TCodeBuffer &code, Target target) : code_(code), target_(target) {}

    Target target() const { return target_; }
    int32_t Length() const { return code_.Length(); }

    // ---- x87 ----------------------------------------------------------------------------
    void fld_m80(const Mem &m) { Op({0xDB}, 5, m); }
    void fstp_m80(const Mem &m) { Op({0xDB}, 7, m); }
    void fld_m32(const Mem &m) { Op({0xD9}, 0, m); }
    void fld_st(int i) { Bytes({0xD9, uint8_t(0xC0 + i)}); }   // FLD ST(i)
    void fxch_st(int i) { Bytes({0xD9, uint8_t(0xC8 + i)}); }  // FXCH ST(i)
    void fstp_st(int i) { Bytes({0xDD, uint8_t(0xD8 + i)}); }  // FSTP ST(i)
    void ffree_st(int i) { Bytes({0xDD, uint8_t(0xC0 + i)}); } // FFREE ST(i)
    void faddp() { Bytes({0xDE, 0xC1}); }                      // FADDP ST(1),ST
    void fmulp() { Bytes({0xDE, 0xC9}); }                      // FMULP ST(1),ST
    void fsubp() { Bytes({0xDE, 0xE9}); }                      // FSUBP ST(1),ST: ST1-ST0
    void fsubrp() { Bytes({0xDE, 0xE1}); }                     // FSUBRP ST(1),ST: ST0-ST1
    void fdivp() { Bytes({0xDE, 0xF9}); }                      // FDIVP ST(1),ST: ST1/ST0
    void fdivrp() { Bytes({0xDE, 0xF1}); }                     // FDIVRP ST(1),ST: ST0/ST1
    void fmul_st0_st0() { Bytes({0xD8, 0xC8}); }               // FMUL ST(0),ST(0)
    void fsub_st1_st0() { Bytes({0xDC, 0xE9}); }               // FSUB ST(1),ST(0)
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
    void and_r_imm(Reg r, uint32_t imm);
    void cmp_r_imm(Reg r, uint32_t imm);
    void dec_r(Reg r);                            // IA-32 48+r, x86-64 FF /1
    void rep_movsw() { Bytes({0x66, 0xF3, 0xA5}); }
    // 64-bit and 16-bit moves between a register and memory, x86-64 only (REX.W 8B/89; 66 89).
    void mov_r64_m(Reg r, const Mem &m) { Op({0x48, 0x8B}, r, m); }
    void mov_m_r64(const Mem &m, Reg r) { Op({0x48, 0x89}, r, m); }
    void mov_m_r16(const Mem &m, Reg r) { Op({0x66, 0x89}, r, m); }
    void ret() { Byte(0xC3); }

    // ---- 32-bit integer arithmetic (integer back end) ------------------------------------
    // Forms with an immediate take the sign-extended 8-bit encoding (83, 6B) when the value
    // lies in -128..127, else the 32-bit one (81, 69).
    void mov_r_r(Reg dst, Reg src) { RegRm({0x8B}, dst, src); }  // 8B /r
    void mov_r_m(Reg r, const Mem &m) { Op({0x8B}, r, m); }
    void mov_m_r(const Mem &m, Reg r) { Op({0x89}, r, m); }
    void mov_m_imm(const Mem &m, uint32_t imm);   // C7 /0 imm32
    void mov_r16_m(Reg r, const Mem &m) { Op({0x66, 0x8B}, r, m); }  // 16-bit load into r's low half
    void add_r_r(Reg dst, Reg src) { RegRm({0x01}, src, dst); }  // 01 /r
    void add_r_m(Reg r, const Mem &m) { Op({0x03}, r, m); }
    void add_r_imm(Reg r, int32_t imm) { Group1(0, r, imm); }
    void add_m_imm(const Mem &m, int32_t imm) { Group1(0, m, imm); }
    void add_eax_imm32(uint32_t imm);             // 05 imm32
    void sub_r_r(Reg dst, Reg src) { RegRm({0x29}, src, dst); }  // 29 /r
    void sub_r_m(Reg r, const Mem &m) { Op({0x2B}, r, m); }
    void sub_r_imm(Reg r, int32_t imm) { Group1(5, r, imm); }
    void sub_m_imm(const Mem &m, int32_t imm) { Group1(5, m, imm); }
    void imul_r_r(Reg dst, Reg src) { RegRm({0x0F, 0xAF}, dst, src); }
    void imul_r_m(Reg r, const Mem &m) { Op({0x0F, 0xAF}, r, m); }
    void imul_r_r_imm(Reg dst, Reg src, int32_t imm);
    void imul_r_m_imm(Reg r, const Mem &m, int32_t imm);
    void neg_r(Reg r) { RegRm({0xF7}, 3, r); }
    void neg_m(const Mem &m) { Op({0xF7}, 3, m); }
    void cmp_r_imm8(Reg r, int8_t imm);           // 83 /7 ib
    void cmp_m_imm8(const Mem &m, int8_t imm);
    void and_eax_imm32(uint32_t imm);             // 25 imm32
    void test_eax_imm32(uint32_t imm);            // A9 imm32
    void cwde() { Byte(0x98); }
    void fild_m32(const Mem &m) { Op({0xDB}, 0, m); }
    void fistp_m32(const Mem &m) { Op({0xDB}, 3, m); }

    // ---- jumps: displacements computed from the current length ------------------------
    void jmp_short(int8_t disp) { Bytes({0xEB, uint8_t(disp)}); }
    void jnz_short(int8_t disp) { Bytes({0x75, uint8_t(disp)}); }
    void jns_short(int8_t disp) { Bytes({0x79, uint8_t(disp)}); }
    void jnz_rel32_to(int32_t target);  // 0F 85, to a code offset already emitted
    // A forward jump whose length is known: JE rel8 / JE rel32 by distance from the end of the
    // instruction.
    void je_rel8(int8_t disp) { Bytes({0x74, uint8_t(disp)}); }
    void je_rel32(int32_t disp) {
        Bytes({0x0F, 0x84});
        code_.EmitDword(static_cast<uint32_t>(disp));
    }

    // The length of the code that emit(TEmitter &) produces for this target, measured in a
    // scratch buffer: the displacement of a short forward jump over that code.
    template <class Emit>
    int8_t Measure(Emit &&emit) const {
        TCodeBuffer scratch;
        TEmitter e(scratch, target_);
        emit(e);
        return static_cast<int8_t>(scratch.Length());
    }

    // ---- raw data (inline constants) ---------------------------------------------------
    void Data(const void *bytes, int count);

    // Emits prefix, opcode bytes, ModRM (with regField) and the addressing bytes of m. Public
    // so that every back end shares the one encoder of memory operands.
    void Op(std::initializer_list<uint8_t> opcode, uint8_t regField, const Mem &m);
    void Byte(uint8_t b) { code_.EmitByte(b); }
    void Bytes(std::initializer_list<uint8_t> bytes);

private:
    // Opcode and a register-direct ModRM (mod 11).
    void RegRm(std::initializer_list<uint8_t> opcode, uint8_t regField, Reg rm);
    // ADD/SUB (group 1, /ext) with an immediate on a register or a memory operand.
    void Group1(uint8_t ext, Reg r, int32_t imm);
    void Group1(uint8_t ext, const Mem &m, int32_t imm);
    void Immediate(int32_t imm, bool short8);

    TCodeBuffer &code_;
    const Target target_;
};

}  // namespace quob
