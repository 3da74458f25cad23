#include "emitter.h"

namespace quob {

void TEmitter::Bytes(std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes) code_.EmitByte(b);
}

void TEmitter::Data(const void *bytes, int count) {
    const auto *p = static_cast<const uint8_t *>(bytes);
    for (int i = 0; i < count; ++i) code_.EmitByte(p[i]);
}

void TEmitter::Op(std::initializer_list<uint8_t> opcode, uint8_t regField, const Mem &m) {
    const uint8_t reg = static_cast<uint8_t>((regField & 7) << 3);
    if (m.kind == Mem::Kind::Indexed && target_ == Target::X64) Byte(0x67);
    Bytes(opcode);
    switch (m.kind) {
        case Mem::Kind::Cell:
        case Mem::Kind::Absolute:
            if (target_ == Target::IA32) {
                Byte(0x05 | reg);  // mod 00, r/m 101: [disp32]
            } else {
                Byte(0x04 | reg);  // mod 00, r/m 100: SIB follows
                Byte(0x25);        // no index, no base: [disp32]
            }
            if (m.kind == Mem::Kind::Cell)
                code_.EmitRelocatable(static_cast<uint32_t>(m.disp));
            else
                code_.EmitDword(static_cast<uint32_t>(m.disp));
            break;
        case Mem::Kind::Stack:
            if (m.disp >= -128 && m.disp <= 127) {
                Bytes({uint8_t(0x44 | reg), 0x24, uint8_t(int8_t(m.disp))});  // [ESP+disp8]
            } else {
                Bytes({uint8_t(0x84 | reg), 0x24});  // [ESP+disp32]
                code_.EmitDword(static_cast<uint32_t>(m.disp));
            }
            break;
        case Mem::Kind::Indexed: {
            const uint8_t ss = m.scale == 8 ? 3 : m.scale == 4 ? 2 : m.scale == 2 ? 1 : 0;
            Byte(0x04 | reg);  // SIB with no base: [disp32 + index*scale]
            Byte(static_cast<uint8_t>(ss << 6 | (m.index & 7) << 3 | 5));
            code_.EmitDword(static_cast<uint32_t>(m.disp));
            break;
        }
    }
}

void TEmitter::mov_r_imm(Reg r, uint32_t imm) {
    Byte(static_cast<uint8_t>(0xB8 + r));
    code_.EmitDword(imm);
}

void TEmitter::mov_r_cell(Reg r, uint32_t cellOffset) {
    Byte(static_cast<uint8_t>(0xB8 + r));
    code_.EmitRelocatable(cellOffset);
}

void TEmitter::and_r_imm(Reg r, uint32_t imm) {
    Bytes({0x81, uint8_t(0xE0 | r)});
    code_.EmitDword(imm);
}

void TEmitter::cmp_r_imm(Reg r, uint32_t imm) {
    Bytes({0x81, uint8_t(0xF8 | r)});
    code_.EmitDword(imm);
}

void TEmitter::RegRm(std::initializer_list<uint8_t> opcode, uint8_t regField, Reg rm) {
    Bytes(opcode);
    Byte(static_cast<uint8_t>(0xC0 | (regField & 7) << 3 | rm));
}

namespace {
bool FitsInt8(int32_t v) { return v >= -128 && v <= 127; }
}  // namespace

void TEmitter::Immediate(int32_t imm, bool short8) {
    if (short8)
        Byte(static_cast<uint8_t>(static_cast<int8_t>(imm)));
    else
        code_.EmitDword(static_cast<uint32_t>(imm));
}

void TEmitter::Group1(uint8_t ext, Reg r, int32_t imm) {
    const bool short8 = FitsInt8(imm);
    RegRm({uint8_t(short8 ? 0x83 : 0x81)}, ext, r);
    Immediate(imm, short8);
}

void TEmitter::Group1(uint8_t ext, const Mem &m, int32_t imm) {
    const bool short8 = FitsInt8(imm);
    Op({uint8_t(short8 ? 0x83 : 0x81)}, ext, m);
    Immediate(imm, short8);
}

void TEmitter::mov_m_imm(const Mem &m, uint32_t imm) {
    Op({0xC7}, 0, m);
    code_.EmitDword(imm);
}

void TEmitter::add_eax_imm32(uint32_t imm) {
    Byte(0x05);
    code_.EmitDword(imm);
}

void TEmitter::imul_r_r_imm(Reg dst, Reg src, int32_t imm) {
    const bool short8 = FitsInt8(imm);
    RegRm({uint8_t(short8 ? 0x6B : 0x69)}, dst, src);
    Immediate(imm, short8);
}

void TEmitter::imul_r_m_imm(Reg r, const Mem &m, int32_t imm) {
    const bool short8 = FitsInt8(imm);
    Op({uint8_t(short8 ? 0x6B : 0x69)}, r, m);
    Immediate(imm, short8);
}

void TEmitter::cmp_r_imm8(Reg r, int8_t imm) {
    RegRm({0x83}, 7, r);
    Byte(static_cast<uint8_t>(imm));
}

void TEmitter::cmp_m_imm8(const Mem &m, int8_t imm) {
    Op({0x83}, 7, m);
    Byte(static_cast<uint8_t>(imm));
}

void TEmitter::and_eax_imm32(uint32_t imm) {
    Byte(0x25);
    code_.EmitDword(imm);
}

void TEmitter::test_eax_imm32(uint32_t imm) {
    Byte(0xA9);
    code_.EmitDword(imm);
}

void TEmitter::dec_r(Reg r) {
    if (target_ == Target::IA32)
        Byte(static_cast<uint8_t>(0x48 + r));
    else
        Bytes({0xFF, uint8_t(0xC8 | r)});
}

void TEmitter::jnz_rel32_to(int32_t target) {
    Bytes({0x0F, 0x85});
    code_.EmitDword(static_cast<uint32_t>(target - (code_.Length() + 4)));
}

}  // namespace quob
