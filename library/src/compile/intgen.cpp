// The integer back end: a one-pass code generator over a stack of operand descriptors.
//
// The language's stack lives at compile time as descriptors that say where each value is: in one
// of six general registers, in a spill slot below the stack pointer, in a parameter's cell, or
// known as a constant. Parameters and literals cost no code until an operation uses them,
// operations on constants are folded, and each operation emits the one form its operands' kinds
// call for. Only EAX is ever spilled; the table functions take their operand in EAX.
#include "compile/intgen.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "compile/keywords.h"
#include "compile/tables.h"
#include "errors.h"

namespace quob {
namespace {

// Where one value of the language's stack lives.
struct Operand {
    enum Kind : uint8_t { Register, Slot, Param, Constant };
    Kind kind;
    int32_t value;  // register index, slot index, parameter cell offset or the constant
};

constexpr int kRegisters = 6;
constexpr int kSlots = 1024;
constexpr int kStackCapacity = kIntStack + 1;

// Register indices are the allocation order.
constexpr Reg kRegisterOrder[kRegisters] = {EAX, EBX, ECX, ESI, EDI, EDX};
constexpr int kEax = 0;

Reg R(int index) { return kRegisterOrder[index]; }
Mem SlotMem(int32_t slot) { return Mem::Stack(-4 * (slot + 1)); }

uint32_t Address(const void *p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

// The address of a table's entry 0 (the front end has made sure the table exists).
uint32_t TableAddress(const void *entry) { return Address(entry); }

// One half of the sine sequence: the entry of the low 16 bits of EAX, sign-extended.
void SineHalf(TEmitter &e, uint32_t table) {
    e.and_eax_imm32(0xFFFF);
    e.mov_r16_m(EAX, Mem::Indexed(table, EAX, 2));
    e.cwde();
}

class TIntHardware {
  public:
    TIntHardware(const BackEndInput &in, Target target)
        : body_(in.body), record_(in.record), emit_(in.code, target) {}

    int32_t CompileBody();

  private:
    // ---- descriptors and resources ----
    void Push(Operand x);
    Operand Pop();
    void Mark(const Operand &x, bool used, bool pending);
    void commitReleases();
    int allocateRegister();
    int firstFreeSlot() const;
    void evictEax();
    void load(int r, const Operand &x);
    int intoRegister(const Operand &x);
    Mem memoryOf(const Operand &x) const {
        return x.kind == Operand::Slot ? SlotMem(x.value)
                                       : Mem::Cell(static_cast<uint32_t>(x.value));
    }

    // ---- keywords ----
    void Keyword(int keyword);
    bool Fold(int keyword);
    void AddOrMultiply(bool multiply);
    void Subtract();
    void Negate();
    void Absolute();
    void SquareRoot();
    void TableFunction(int keyword);
    void Copy();
    void Return();

    Operand stack_[kStackCapacity] = {};
    int32_t count_ = 0;
    bool regUsed_[kRegisters] = {};
    bool regPending_[kRegisters] = {};
    bool slotUsed_[kSlots] = {};
    bool slotPending_[kSlots] = {};
    const TBody &body_;
    const QUOB_FunctionRecord record_;  // the back end's private copy
    TEmitter emit_;
    int32_t results_ = 0;  // "ret" words compiled so far
};

void TIntHardware::Mark(const Operand &x, bool used, bool pending) {
    if (x.kind == Operand::Register) {
        regUsed_[x.value] = used;
        regPending_[x.value] = pending;
    } else if (x.kind == Operand::Slot) {
        slotUsed_[x.value] = used;
        slotPending_[x.value] = pending;
    }
}

void TIntHardware::Push(Operand x) {
    Mark(x, true, false);
    stack_[count_++] = x;
}

// The popped operand's register or slot stays in use until the next token, so that nothing
// emitted for the current operation can be handed its resource.
Operand TIntHardware::Pop() {
    const Operand x = stack_[--count_];
    Mark(x, true, true);
    return x;
}

void TIntHardware::commitReleases() {
    for (int r = 0; r < kRegisters; ++r)
        if (regPending_[r]) regUsed_[r] = regPending_[r] = false;
    for (int j = 0; j < kSlots; ++j)
        if (slotPending_[j]) slotUsed_[j] = slotPending_[j] = false;
}

int TIntHardware::firstFreeSlot() const {
    for (int j = 0; j < kSlots; ++j)
        if (!slotUsed_[j]) return j;
    throw TAbandon{QUOB_ERR_OUT_OF_RESOURCES};
}

// Moves the value that lives in EAX to the first free register, else to the first free slot.
// Callers evict only while no popped operand of theirs is in EAX, so EAX, when in use, is named
// by a live descriptor.
void TIntHardware::evictEax() {
    if (!regUsed_[kEax]) return;
    Operand *holder = nullptr;
    for (int i = count_ - 1; i >= 0 && !holder; --i)
        if (stack_[i].kind == Operand::Register && stack_[i].value == kEax) holder = &stack_[i];
    if (!holder) throw TAbandon{QUOB_ERR_OUT_OF_RESOURCES};  // unreachable, see above

    Operand to{Operand::Slot, 0};
    for (int r = 1; r < kRegisters; ++r)
        if (!regUsed_[r]) {
            to = {Operand::Register, r};
            break;
        }
    if (to.kind == Operand::Register) {
        emit_.mov_r_r(R(to.value), EAX);
    } else {
        to.value = firstFreeSlot();
        emit_.mov_m_r(SlotMem(to.value), EAX);
    }
    *holder = to;
    Mark(to, true, false);
    regUsed_[kEax] = regPending_[kEax] = false;
}

// The first free register; EAX after eviction when none is free. The register is marked in use
// only when a descriptor naming it is pushed.
int TIntHardware::allocateRegister() {
    for (int r = 0; r < kRegisters; ++r)
        if (!regUsed_[r]) return r;
    evictEax();
    return kEax;
}

void TIntHardware::load(int r, const Operand &x) {
    switch (x.kind) {
        case Operand::Constant:
            emit_.mov_r_imm(R(r), static_cast<uint32_t>(x.value));
            break;
        case Operand::Register:
            emit_.mov_r_r(R(r), R(x.value));
            break;
        case Operand::Slot:
        case Operand::Param:
            emit_.mov_r_m(R(r), memoryOf(x));
            break;
    }
}

int TIntHardware::intoRegister(const Operand &x) {
    if (x.kind == Operand::Register) return x.value;
    const int r = allocateRegister();
    load(r, x);
    return r;
}

// An operation on constants is a constant: its value as the code would compute it, no code.
bool TIntHardware::Fold(int keyword) {
    const TKeywordFacts &k = kIntFacts[keyword];
    if (!k.fold) return false;
    for (int i = 1; i <= k.pops; ++i)
        if (stack_[count_ - i].kind != Operand::Constant) return false;
    const int32_t top = Pop().value;
    const int32_t second = k.pops == 2 ? Pop().value : 0;
    Push({Operand::Constant, k.fold(top, second)});
    return true;
}

void TIntHardware::Keyword(int keyword) {
    if (Fold(keyword)) return;
    switch (keyword) {
        case kiAdd:
            AddOrMultiply(false);
            break;
        case kiMul:
            AddOrMultiply(true);
            break;
        case kiSub:
            Subtract();
            break;
        case kiNeg:
            Negate();
            break;
        case kiAbs:
            Absolute();
            break;
        case kiSqrt:
            SquareRoot();
            break;
        case kiSqr:
        case kiSin:
        case kiCos:
            TableFunction(keyword);
            break;
        case kiCopy:
            Copy();
            break;
        case kiSwap: {
            std::swap(stack_[count_ - 1], stack_[count_ - 2]);
            break;
        }
        case kiRet:
            Return();
            break;
        default:
            // "/", "\", "shl", "shr", "tan" and "time" are reserved words without an
            // operation: skipped, the stack unchanged.
            break;
    }
}

// "+" and "*": commutative, so only the kinds of the two operands matter.
void TIntHardware::AddOrMultiply(bool multiply) {
    const Operand top = Pop();
    const Operand second = Pop();
    auto is = [&](Operand::Kind k) { return top.kind == k || second.kind == k; };
    auto both = [&](Operand::Kind k) { return top.kind == k && second.kind == k; };
    // The operand of the given kind (the second one when both are), and the other one.
    auto split = [&](Operand::Kind k, Operand &of, Operand &other) {
        of = second.kind == k ? second : top;
        other = second.kind == k ? top : second;
    };
    Operand memory, other;

    if (both(Operand::Register)) {
        const int low = std::min(top.value, second.value);
        const int high = std::max(top.value, second.value);
        multiply ? emit_.imul_r_r(R(low), R(high)) : emit_.add_r_r(R(low), R(high));
        Push({Operand::Register, low});
    } else if (is(Operand::Register) && is(Operand::Constant)) {
        Operand reg, constant;
        split(Operand::Register, reg, constant);
        const Reg r = R(reg.value);
        multiply ? emit_.imul_r_r_imm(r, r, constant.value) : emit_.add_r_imm(r, constant.value);
        Push(reg);
    } else if (is(Operand::Param) || !is(Operand::Constant)) {
        // At least one parameter, or a slot with a register or slot: the other operand (the
        // top when both are of a kind) into a register, the memory operand used in place.
        split(is(Operand::Param) ? Operand::Param : Operand::Slot, memory, other);
        const int r = intoRegister(other);
        multiply ? emit_.imul_r_m(R(r), memoryOf(memory)) : emit_.add_r_m(R(r), memoryOf(memory));
        Push({Operand::Register, r});
    } else {
        // A slot and a constant.
        Operand constant;
        split(Operand::Slot, memory, constant);
        if (multiply) {
            const int r = allocateRegister();
            emit_.imul_r_m_imm(R(r), memoryOf(memory), constant.value);
            Push({Operand::Register, r});
        } else {
            emit_.add_m_imm(memoryOf(memory), constant.value);
            Push(memory);
        }
    }
}

// "-": the top minus the second.
void TIntHardware::Subtract() {
    const Operand t = Pop();
    const Operand s = Pop();
    using K = Operand;
    const auto tk = t.kind;
    const auto sk = s.kind;

    if (tk == K::Register && sk == K::Register) {
        emit_.sub_r_r(R(t.value), R(s.value));
        Push(t);
    } else if ((tk == K::Register || tk == K::Param) && sk == K::Constant) {
        const int r = intoRegister(t);
        emit_.sub_r_imm(R(r), s.value);
        Push({K::Register, r});
    } else if (tk == K::Constant && sk == K::Register) {
        emit_.sub_r_imm(R(s.value), t.value);
        emit_.neg_r(R(s.value));
        Push(s);
    } else if (sk == K::Param || (sk == K::Slot && tk != K::Constant)) {
        const int r = intoRegister(t);
        emit_.sub_r_m(R(r), memoryOf(s));
        Push({K::Register, r});
    } else if (sk == K::Register) {
        // The top is a parameter or a slot.
        emit_.sub_r_m(R(s.value), memoryOf(t));
        emit_.neg_r(R(s.value));
        Push(s);
    } else if (tk == K::Slot) {
        // A slot minus a constant, in place.
        emit_.sub_m_imm(memoryOf(t), s.value);
        Push(t);
    } else {
        // A constant minus a slot, in place.
        emit_.sub_m_imm(memoryOf(s), t.value);
        emit_.neg_m(memoryOf(s));
        Push(s);
    }
}

void TIntHardware::Negate() {
    const Operand x = Pop();
    switch (x.kind) {
        case Operand::Register:
            emit_.neg_r(R(x.value));
            Push(x);
            return;
        case Operand::Slot:
            emit_.neg_m(memoryOf(x));
            Push(x);
            return;
        default: {  // a parameter (constants are folded)
            const int r = intoRegister(x);
            emit_.neg_r(R(r));
            Push({Operand::Register, r});
            return;
        }
    }
}

void TIntHardware::Absolute() {
    const Operand x = Pop();
    switch (x.kind) {
        case Operand::Slot: {
            const Mem m = memoryOf(x);
            const TLabel done = emit_.NewLabel();
            emit_.cmp_m_imm8(m, 0);
            emit_.jcc(Cond::NS, done);
            emit_.neg_m(m);
            emit_.Bind(done);
            Push(x);
            return;
        }
        default: {
            // A register, or a parameter loaded first: its cell keeps its value (constants are
            // folded).
            const int index = intoRegister(x);
            const Reg r = R(index);
            const TLabel done = emit_.NewLabel();
            emit_.cmp_r_imm8(r, 0);
            emit_.jcc(Cond::NS, done);
            emit_.neg_r(r);
            emit_.Bind(done);
            Push({Operand::Register, index});
            return;
        }
    }
}

// "sqrt" on the x87 unit, through a spill slot: FILD, FSQRT, FISTP under the caller's rounding.
void TIntHardware::SquareRoot() {
    const Operand x = Pop();
    switch (x.kind) {
        case Operand::Register: {
            const int j = firstFreeSlot();
            emit_.mov_m_r(SlotMem(j), R(x.value));
            emit_.fild_m32(SlotMem(j));
            emit_.fsqrt();
            emit_.fistp_m32(SlotMem(j));
            Push({Operand::Slot, j});
            return;
        }
        case Operand::Slot:
            emit_.fild_m32(memoryOf(x));
            emit_.fsqrt();
            emit_.fistp_m32(memoryOf(x));
            Push(x);
            return;
        default: {  // a parameter (constants are folded)
            const int j = firstFreeSlot();
            emit_.fild_m32(memoryOf(x));
            emit_.fsqrt();
            emit_.fistp_m32(SlotMem(j));
            Push({Operand::Slot, j});
            return;
        }
    }
}

// "sqr", "sin" and "cos": one table read on the operand in EAX (constants are folded).
void TIntHardware::TableFunction(int keyword) {
    const Operand x = Pop();
    const uint32_t table =
        keyword == kiSqr ? TableAddress(SquareTable()) : TableAddress(SineTable());
    if (!(x.kind == Operand::Register && x.value == kEax)) {
        evictEax();
        load(kEax, x);
    }
    if (keyword == kiSqr) {
        emit_.cwde();
        emit_.mov_r_m(EAX, Mem::Indexed(table, EAX, 4));
    } else {
        if (keyword == kiCos) emit_.add_eax_imm32(32768);  // a quarter turn ahead
        // Bit 16 selects the half turn: the second half is the first one negated.
        const TLabel secondHalf = emit_.NewLabel();
        const TLabel done = emit_.NewLabel();
        emit_.test_eax_imm32(0x10000);
        emit_.jcc(Cond::NE, secondHalf);
        SineHalf(emit_, table);
        emit_.jmp(done);
        emit_.Bind(secondHalf);
        SineHalf(emit_, table);
        emit_.neg_r(EAX);
        emit_.Bind(done);
    }
    Push({Operand::Register, kEax});
}

// "copy": two descriptors never share a register or a slot, so a register or slot is copied
// into a register; parameters and constants are duplicated without code.
void TIntHardware::Copy() {
    const Operand x = Pop();
    Push(x);
    if (x.kind == Operand::Param || x.kind == Operand::Constant) {
        Push(x);
        return;
    }
    // Allocation may evict the operand itself from EAX to a slot: EAX then still holds the value.
    const int r = allocateRegister();
    if (x.kind == Operand::Slot)
        emit_.mov_r_m(R(r), memoryOf(x));
    else if (r != x.value)
        emit_.mov_r_r(R(r), R(x.value));
    Push({Operand::Register, r});
}

// "ret": stores the top as the next result.
void TIntHardware::Return() {
    const Operand x = Pop();
    const Mem cell = Mem::Cell(static_cast<uint32_t>(kIntWidth * (record_.ParamCount + results_)));
    switch (x.kind) {
        case Operand::Constant:
            emit_.mov_m_imm(cell, static_cast<uint32_t>(x.value));
            break;
        case Operand::Register:
            emit_.mov_m_r(cell, R(x.value));
            break;
        case Operand::Slot:
        case Operand::Param: {
            const int r = allocateRegister();
            load(r, x);
            emit_.mov_m_r(cell, R(r));
            break;
        }
    }
    ++results_;
}

int32_t TIntHardware::CompileBody() {
    for (const TWord &word : body_.words) {
        commitReleases();
        switch (word.kind) {
            case TWord::kKeyword:
                Keyword(word.index);
                break;
            case TWord::kParam:
                Push({Operand::Param, static_cast<int32_t>(record_.Params[word.index].Address)});
                break;
            case TWord::kLiteral:
                Push({Operand::Constant, word.integer});
                break;
        }
    }
    return results_;
}

}  // namespace

int32_t CompileIntegerBody(const BackEndInput &in, Target target) {
    const std::unique_ptr<TIntHardware> hardware(new (std::nothrow) TIntHardware(in, target));
    if (!hardware) throw TAbandon{QUOB_ERR_OUT_OF_RESOURCES};
    return hardware->CompileBody();
}

}  // namespace quob
