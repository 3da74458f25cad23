#include "compile/emitter.h"

namespace quob {

void TEmitter::Byte(uint8_t b) {
    if (held_.empty())
        code_.EmitByte(b);
    else
        held_.push_back({Held::kByte, b, false, 0, 0});
}

void TEmitter::Dword(uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) Byte(static_cast<uint8_t>(value >> shift));
}

void TEmitter::Address(uint32_t offset) {
    if (held_.empty())
        code_.EmitRelocatable(offset);
    else
        held_.push_back({Held::kAddress, 0, false, 0, offset});
}

void TEmitter::Bytes(std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes) Byte(b);
}

void TEmitter::Data(const void *bytes, int count) {
    const auto *p = static_cast<const uint8_t *>(bytes);
    for (int i = 0; i < count; ++i) Byte(p[i]);
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
                Address(static_cast<uint32_t>(m.disp));
            else
                Dword(static_cast<uint32_t>(m.disp));
            break;
        case Mem::Kind::Stack:
            if (m.disp >= -128 && m.disp <= 127) {
                Bytes({uint8_t(0x44 | reg), 0x24, uint8_t(int8_t(m.disp))});  // [ESP+disp8]
            } else {
                Bytes({uint8_t(0x84 | reg), 0x24});  // [ESP+disp32]
                Dword(static_cast<uint32_t>(m.disp));
            }
            break;
        case Mem::Kind::Based:
            if (m.disp >= -128 && m.disp <= 127) {
                Bytes({uint8_t(0x40 | reg | m.index), uint8_t(int8_t(m.disp))});  // [base+disp8]
            } else {
                Byte(static_cast<uint8_t>(0x80 | reg | m.index));  // [base+disp32]
                Dword(static_cast<uint32_t>(m.disp));
            }
            break;
        case Mem::Kind::Indexed: {
            const uint8_t ss = m.scale == 8 ? 3 : m.scale == 4 ? 2 : m.scale == 2 ? 1 : 0;
            Byte(0x04 | reg);  // SIB with no base: [disp32 + index*scale]
            Byte(static_cast<uint8_t>(ss << 6 | (m.index & 7) << 3 | 5));
            Dword(static_cast<uint32_t>(m.disp));
            break;
        }
    }
}

void TEmitter::mov_r_imm(Reg r, uint32_t imm) {
    Byte(static_cast<uint8_t>(0xB8 + r));
    Dword(imm);
}

void TEmitter::mov_r_cell(Reg r, uint32_t cellOffset) {
    Byte(static_cast<uint8_t>(0xB8 + r));
    Address(cellOffset);
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
        Dword(static_cast<uint32_t>(imm));
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
    Dword(imm);
}

void TEmitter::add_eax_imm32(uint32_t imm) {
    Byte(0x05);
    Dword(imm);
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
    Dword(imm);
}

void TEmitter::test_eax_imm32(uint32_t imm) {
    Byte(0xA9);
    Dword(imm);
}

void TEmitter::mov_rp_m(Reg r, const Mem &m) {
    target_ == Target::X64 ? mov_r64_m(r, m) : mov_r_m(r, m);
}

void TEmitter::mov_m_rp(const Mem &m, Reg r) {
    target_ == Target::X64 ? mov_m_r64(m, r) : mov_m_r(m, r);
}

void TEmitter::add_rp_imm(Reg r, int32_t imm) {
    if (target_ == Target::X64) Byte(0x48);
    Group1(0, r, imm);
}

void TEmitter::dec_r(Reg r) {
    if (target_ == Target::IA32)
        Byte(static_cast<uint8_t>(0x48 + r));
    else
        Bytes({0xFF, uint8_t(0xC8 | r)});
}

namespace {
constexpr uint8_t kJmpShort = 0xEB;
}  // namespace

TLabel TEmitter::NewLabel() {
    labels_.emplace_back();
    return {static_cast<int32_t>(labels_.size() - 1)};
}

int32_t TEmitter::Size(const Held &h) {
    switch (h.kind) {
        case Held::kByte:
            return 1;
        case Held::kAddress:
            return 4;
        case Held::kJump:
            return !h.near ? 2 : h.opcode == kJmpShort ? 5 : 6;
        case Held::kBind:
            break;
    }
    return 0;
}

void TEmitter::Jump(uint8_t opcode, TLabel target, JumpForm form) {
    LabelState &label = labels_[target.id];
    const bool near = form == JumpForm::Near;
    if (held_.empty() && label.bound) {
        // Backwards to code already written: the displacement is known now.
        const int32_t from = code_.Length();
        if (!near && FitsInt8(label.position - (from + 2))) {
            Bytes({opcode == kJmpShort ? kJmpShort : uint8_t(0x70 + opcode),
                   uint8_t(label.position - (from + 2))});
        } else if (opcode == kJmpShort) {
            Byte(0xE9);
            Dword(static_cast<uint32_t>(label.position - (from + 5)));
        } else {
            Bytes({0x0F, uint8_t(0x80 + opcode)});
            Dword(static_cast<uint32_t>(label.position - (from + 6)));
        }
        return;
    }
    if (!label.bound) {
        ++label.waiting;
        ++unresolved_;
    }
    held_.push_back({Held::kJump, opcode, near, target.id, 0});
}

void TEmitter::Bind(TLabel target) {
    LabelState &label = labels_[target.id];
    label.bound = true;
    if (held_.empty()) {
        label.position = code_.Length();
        return;
    }
    held_.push_back({Held::kBind, 0, false, target.id, 0});
    unresolved_ -= label.waiting;
    label.waiting = 0;
    if (unresolved_ == 0) Flush();
}

void TEmitter::Flush() {
    // Every jump starts short unless it must be near; a jump whose displacement does not fit
    // grows, which may push others out of reach, until nothing changes. Jumps only grow, so
    // this ends.
    for (bool grew = true; grew;) {
        int32_t at = code_.Length();
        for (const Held &h : held_) {
            if (h.kind == Held::kBind) labels_[h.label].position = at;
            at += Size(h);
        }
        grew = false;
        at = code_.Length();
        for (Held &h : held_) {
            at += Size(h);
            if (h.kind == Held::kJump && !h.near && !FitsInt8(labels_[h.label].position - at)) {
                h.near = true;
                grew = true;
            }
        }
    }
    std::vector<Held> held;
    held.swap(held_);  // from here on Byte and Address write to the buffer
    for (const Held &h : held) {
        switch (h.kind) {
            case Held::kByte:
                Byte(h.opcode);
                break;
            case Held::kAddress:
                Address(h.value);
                break;
            case Held::kJump: {
                const int32_t end = code_.Length() + Size(h);
                const int32_t disp = labels_[h.label].position - end;
                if (!h.near) {
                    Bytes({h.opcode == kJmpShort ? kJmpShort : uint8_t(0x70 + h.opcode),
                           uint8_t(disp)});
                } else {
                    if (h.opcode == kJmpShort)
                        Byte(0xE9);
                    else
                        Bytes({0x0F, uint8_t(0x80 + h.opcode)});
                    Dword(static_cast<uint32_t>(disp));
                }
                break;
            }
            case Held::kBind:
                break;
        }
    }
}

void TEmitter::exp_st0() {
    fldl2e();
    fmulp();  // t = x log2 e
    fld_st(0);
    frndint();       // n
    fsub_st1_st0();  // f = t - n, below n
    fld1();
    fscale();    // 2^n
    fstp_st(1);  // drop n
    fxch_st(1);
    f2xm1();  // 2^f - 1
    fld1();
    faddp();  // 2^f
    fmulp();  // 2^f 2^n
}

void TEmitter::clear_flags_if_set(uint8_t flags) {
    const TLabel clean = NewLabel();
    fnstsw_ax();
    test_al_imm8(flags);
    jcc(Cond::E, clean);
    fnclex();
    Bind(clean);
}

}  // namespace quob
