// The filler's sample loop: the passes of a fractal formula and the filler's tests between them,
// in one call per sample.
//
// A pass runs the iterations of the execution copy on the held registers. Where the body's
// magnitudes can be bounded (GuardExponent), the iterations run in groups of kGuardGroup, each
// after a guard that compares the fed-back values with 2^e: within it, the group can compute no
// value beyond extended range, so no overflow, no infinity and no NaN, and a flag test after the
// group sees the only fault left (a denormal operand). When a guard fails, the rest of the pass is
// careful: after every operation that can raise a flag its fault flags are tested, and a product
// or square of operands beyond 2^8192 (finite) is known to overflow before it runs. Either way a
// pass faults exactly when an operation of it raised a fault flag, and the sample leaves at once:
// its colour is EscapeColor whatever the rest of the pass would compute. Bodies whose magnitudes
// cannot be bounded test the flags after every iteration, as the filler's variant does.
//
// Between the passes: the modulus abs(p0) + abs(p1), the escape test against MaxModule, the
// convergence test against Differential with the previous modulus rounded to a float, and the
// pass count, exactly as the filler computes them. Their own flags never reach the next pass's
// tests: they are cleared when one of them is set, as the filler clears them before a pass.
#include "compile/sampleloop.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

#include "compile/floatgen.h"
#include "errors.h"

namespace quob {
namespace {

constexpr int32_t kSampleLoopCapacity = 8192;

// The frame's fields, addressed through EBP.
Mem Frame(std::size_t offset) { return Mem::Based(EBP, static_cast<int32_t>(offset)); }
const Mem kMaxModule = Frame(offsetof(TSampleFrame, maxModule));
const Mem kDifferential = Frame(offsetof(TSampleFrame, differential));
const Mem kPasses = Frame(offsetof(TSampleFrame, passes));
const Mem kOutcome = Frame(offsetof(TSampleFrame, outcome));
const Mem kPrevious = Frame(offsetof(TSampleFrame, previous));
const Mem kGuard = Frame(offsetof(TSampleFrame, guardExponent));
const Mem kScratch = Frame(offsetof(TSampleFrame, scratch));
const Mem kScratchExponent = Frame(offsetof(TSampleFrame, scratch) + 8);

}  // namespace

TSampleFrame SampleFrame(float maxModule, float differential, int32_t passes,
                         const TSampleGuard &guard) {
    constexpr int32_t kBias = 16383;
    TSampleFrame frame{maxModule, differential, passes, kSampleDone, 0, 1, 0, {}};
    if (guard.exponent < 0) return frame;  // no guard: every iteration tests the flags
    frame.guardExponent = guard.exponent + kBias;
    // A pass's values passed the escape test: within the guard's bound when MaxModule is.
    if (maxModule < guard.bound) frame.firstGuard = 0;
    return frame;
}

// A fault exit per number of live registers: it pops them and reports the fault.
struct TFloatHardware::Careful {
    std::map<int32_t, TLabel> exits;
};

bool TFloatHardware::CompileSampleLoop(TCodeBuffer &code, int32_t guardExponent) const {
    if (blockLength_ == 0 || results_ == 0) return false;
    TCodeBuffer attempt(kSampleLoopCapacity);
    Residence residence{{true, true}};
    residence.fedBack = std::min(results_, record_.ParamCount);
    Careful exits;
    try {
        TFloatHardware loop(*this, attempt, residence);
        loop.careful_ = &exits;
        if (!loop.SampleLoop(guardExponent)) return false;
    } catch (const TAbandon &) {
        return false;  // no room in the registers
    }
    if (attempt.Overflowed()) return false;
    code = attempt;
    return true;
}

TLabel TFloatHardware::FaultExit() {
    const int32_t live = Base() + depth_;
    const auto found = careful_->exits.find(live);
    if (found != careful_->exits.end()) return found->second;
    return careful_->exits[live] = emit_.NewLabel();
}

void TFloatHardware::FlagTest(TLabel fault) {
    emit_.fnstsw_ax();
    emit_.test_al_imm8(kFaultFlags);
    emit_.jcc(Cond::NE, fault);
}

void TFloatHardware::Checked() {
    if (!inCareful_) return;
    FlagTest(FaultExit());
}

// Both operands (one for a square) finite and at least 2^8192: the operation overflows. The
// exponents are read as the guard reads them, so that looking raises no flag and never touches an
// infinity or a NaN.
void TFloatHardware::CertainOverflow(int a, int b) {
    if (!inCareful_ || Base() + depth_ + 1 > kX87Registers) return;
    constexpr int32_t kOverflowingExponent = 8192 + 16383;
    const TLabel uncertain = emit_.NewLabel();
    for (const int operand : {a, b}) {
        if (operand < 0) break;
        emit_.fld_st(operand);
        emit_.fstp_m80(kScratch);
        emit_.movzx_r_m16(EAX, kScratchExponent);
        emit_.and_eax_imm32(0x7FFF);
        emit_.cmp_r_imm(EAX, kOverflowingExponent);
        emit_.jcc(Cond::B, uncertain);
        emit_.cmp_r_imm(EAX, 0x7FFF);
        emit_.jcc(Cond::E, uncertain);  // an infinity or a NaN: no overflow flag
    }
    emit_.jmp(FaultExit());
    emit_.Bind(uncertain);
}

// Every fed-back held value below the guard's bound: its biased exponent, read from a copy in
// memory by integer instructions, so that the guard raises no flag whatever the value (an
// infinity or NaN shows the largest exponent and fails; a denormal shows 0 and passes).
void TFloatHardware::Guard(TLabel fail) {
    const Residence &r = *residence_;
    for (int32_t p = 0; p < r.fedBack; ++p) {
        if (r.slot[p] < 0) continue;
        emit_.fld_st(HeldPosition(p));
        emit_.fstp_m80(kScratch);
        emit_.movzx_r_m16(EAX, kScratchExponent);
        emit_.and_eax_imm32(0x7FFF);
        emit_.cmp_r_m(EAX, kGuard);
        emit_.jcc(Cond::AE, fail);
    }
}

void TFloatHardware::ClearFaultFlags() { emit_.clear_flags_if_set(kFaultFlags); }

// Loads parameter p of the iterate as a pass leaves it, with `above` values pushed since the
// pass ended: from its register, or for one the body does not read from its result cell (fed
// back) or its own (not fed back).
void TFloatHardware::LoadIterate(int32_t p, int32_t above) {
    const Residence &r = *residence_;
    if (r.slot[p] >= 0)
        emit_.fld_st(HeldPosition(p) + above);
    else
        emit_.fld_m80(Mem::Cell(p < r.fedBack ? ResultCell(p) : record_.Params[p].Address));
}

// The filler's tests after a pass, on the held registers: on to the next pass, or out.
void TFloatHardware::PassTests(TLabel next, TLabel done, TLabel escaped) {
    const TLabel doneDrop = emit_.NewLabel();
    const TLabel escapedDrop = emit_.NewLabel();
    LoadIterate(0, 0);
    emit_.fabs();
    LoadIterate(1, 1);
    emit_.fabs();
    emit_.faddp();  // m = abs(p0) + abs(p1)
    emit_.fld_m32(kMaxModule);
    emit_.fld_st(1);
    emit_.fucomip_st(1);  // m above MaxModule (never for a NaN)
    emit_.fstp_st(0);
    emit_.jcc(Cond::A, escapedDrop);
    emit_.fld_m32(kPrevious);
    emit_.fsubr_st0_st(1);  // m - previous
    emit_.fabs();
    emit_.fld_m32(kDifferential);
    emit_.fucomip_st(1);  // Differential above abs(m - previous): settled
    emit_.fstp_st(0);
    emit_.jcc(Cond::A, doneDrop);
    emit_.fstp_m32(kPrevious);  // m rounded to a float
    ClearFaultFlags();
    emit_.dec_r(EBX);
    emit_.jcc(Cond::NE, next);
    emit_.jmp(done);
    emit_.Bind(doneDrop);
    emit_.fstp_st(0);
    emit_.jmp(done);
    emit_.Bind(escapedDrop);
    emit_.fstp_st(0);
    emit_.jmp(escaped);
}

bool TFloatHardware::SampleLoop(int32_t guardExponent) {
    Residence &r = *residence_;
    ClearFaultFlags();  // flags left by earlier work
    Hold();
    // The tests after a pass take three registers beyond the held ones, a guard two.
    if (r.held + 3 > kX87Registers) return false;
    const bool guarded = guardExponent >= 0;
    const int32_t n = blockLength_;
    const TLabel pass = emit_.NewLabel(), passEnd = emit_.NewLabel();
    const TLabel done = emit_.NewLabel(), escaped = emit_.NewLabel(), out = emit_.NewLabel();
    const TLabel fault = FaultExit();  // the held registers live
    const TLabel careful = emit_.NewLabel();
    const int32_t groups = n / kGuardGroup, tail = n % kGuardGroup;
    // Where a guard fails: the iterations left go to the careful loop in ECX.
    const TLabel groupFailed = emit_.NewLabel(), tailFailed = emit_.NewLabel();
    // A pass that starts from values the escape test has bounded (only parameters 0 and 1 fed
    // back, MaxModule below the guard's bound) needs no guard before its first iterations: the
    // frame says so.
    bool onlyIterate = true;
    for (int32_t p = 2; p < r.fedBack; ++p) onlyIterate = onlyIterate && r.slot[p] < 0;
    const auto firstGuard = [&](TLabel body) {
        if (!onlyIterate) return;
        emit_.cmp_m_imm8(Frame(offsetof(TSampleFrame, firstGuard)), 0);
        emit_.jcc(Cond::E, body);
    };

    emit_.mov_r_m(EBX, kPasses);
    emit_.Bind(pass);
    if (!guarded) {
        const TLabel loop = emit_.NewLabel();
        emit_.mov_r_imm(EDX, static_cast<uint32_t>(n));
        emit_.Bind(loop);
        Iteration();
        FlagTest(fault);
        emit_.dec_r(EDX);
        emit_.jcc(Cond::NE, loop);
    } else {
        if (groups > 0) {
            const TLabel group = emit_.NewLabel(), body = emit_.NewLabel();
            emit_.mov_r_imm(EDX, static_cast<uint32_t>(groups));
            firstGuard(body);
            emit_.Bind(group);
            Guard(groupFailed);
            emit_.Bind(body);
            for (int32_t i = 0; i < kGuardGroup; ++i) Iteration();
            FlagTest(fault);  // a denormal operand, the only fault a guarded group can raise
            emit_.dec_r(EDX);
            emit_.jcc(Cond::NE, group);
        }
        if (tail > 0) {
            const TLabel body = emit_.NewLabel();
            if (groups == 0) firstGuard(body);
            Guard(tailFailed);
            emit_.Bind(body);
            for (int32_t i = 0; i < tail; ++i) Iteration();
            FlagTest(fault);
        }
    }
    emit_.Bind(passEnd);
    PassTests(pass, done, escaped);

    emit_.Bind(done);
    emit_.mov_m_imm(kOutcome, kSampleDone);
    emit_.jmp(out);
    emit_.Bind(escaped);
    emit_.mov_m_imm(kOutcome, kSampleEscaped);
    emit_.Bind(out);
    emit_.mov_m_r(kPasses, EBX);
    Store();
    emit_.ret();

    if (guarded) {
        // The rest of a pass whose guard failed, after the guard's own flags.
        if (groups > 0) {
            emit_.Bind(groupFailed);
            emit_.imul_r_r_imm(ECX, EDX, kGuardGroup);
            if (tail > 0) emit_.add_r_imm(ECX, tail);
            emit_.jmp(careful);
        }
        if (tail > 0) {
            emit_.Bind(tailFailed);
            emit_.mov_r_imm(ECX, static_cast<uint32_t>(tail));
        }
        const TLabel carefulLoop = emit_.NewLabel();
        emit_.Bind(careful);
        emit_.Bind(carefulLoop);
        inCareful_ = true;
        Iteration();
        inCareful_ = false;
        emit_.dec_r(ECX);
        emit_.jcc(Cond::NE, carefulLoop);
        emit_.jmp(passEnd);
    }
    // The fault exits: the registers live at the fault dropped, the outcome, no cells written.
    for (const auto &[live, label] : careful_->exits) {
        emit_.Bind(label);
        for (int32_t i = 0; i < live; ++i) emit_.fstp_st(0);
        emit_.mov_m_imm(kOutcome, kSampleFault);
        emit_.mov_m_r(kPasses, EBX);
        emit_.ret();
    }
    return true;
}

}  // namespace quob
