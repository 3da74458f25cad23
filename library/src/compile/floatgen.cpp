// The floating-point back end: straight-line x87 code for real functions, the counted loop of
// recursive functions, and the register-resident execution copies of both.
//
// The execution copy. The record's code loads every parameter from its cell (an 80-bit FLD) and
// stores every result into its cell (an 80-bit FSTP), and its loop copies the results over the
// parameters: microcoded memory traffic on every iteration. The copy keeps the parameters that
// the body reads in x87 registers below the language's stack, loaded once before the loop; the
// body reads them with FLD ST(i), or as the operand of the register form of "+", "-", "*" or "/"
// that follows the read; a fed-back result replaces its parameter's register (FSTP ST(i)) when
// the rest of the body no longer reads the parameter, or else waits until the iteration ends, in
// a register (when it is the only value on the language's stack) or in its cell. After the last
// iteration the registers go to the cells, which then hold exactly what the record's code leaves
// there.
//
// Why the results are the same to the bit: every arithmetic instruction of the record's code is
// executed in the same order on the same 80-bit values, in the same operand roles (destination
// and source). An 80-bit load, from memory or from a register, and an 80-bit store convert nothing
// and raise no exception, so the status flags are the same too. Two things the copy cannot follow:
// FPTAN and FSINCOS push nothing for an operand beyond 2^63, which shifts the language's stack
// onto the held registers, so bodies with "tan" or "sincos" keep the record's code; and a body
// whose held registers plus its own deepest point exceed the eight x87 registers keeps it too.
#include "compile/floatgen.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "compile/keywords.h"
#include "errors.h"

namespace quob {
TFloatHardware::TFloatHardware(const BackEndInput &in, Target target)
    : body_(in.body),
      record_(in.record),
      emit_(in.code, target),
      literalAt_(in.body.words.size()) {}

TFloatHardware::TFloatHardware(const TFloatHardware &compiled, TCodeBuffer &code,
                               Residence &residence)
    : body_(compiled.body_),
      record_(compiled.record_),
      emit_(code, compiled.emit_.target()),
      codeStart_(compiled.codeStart_),
      blockLength_(compiled.blockLength_),
      literalAt_(compiled.literalAt_),
      residence_(&residence) {}

int32_t TFloatHardware::Base() const {
    return residence_ ? residence_->held + residence_->waitingCount : 0;
}

// The front end has checked the body against the eight registers, so only an execution copy,
// whose held values take registers below the language's stack, can run out of them.
void TFloatHardware::Room(int n) const {
    if (Base() + depth_ + n > kX87Registers) throw TAbandon{};
}

void TFloatHardware::Resolve() {
    if (pendingExchange_ && depth_ > 1) emit_.fxch_st(1);
    pendingExchange_ = false;
}

int32_t TFloatHardware::HeldPosition(int32_t p) const {
    const Residence &r = *residence_;
    return depth_ + r.waitingCount + r.held - 1 - r.slot[p];
}

// Emits a keyword's code. Its facts say how the stack moves and what room it needs; the cases
// differ only in the instructions.
void TFloatHardware::Keyword(int keyword) {
    const TKeywordFacts &k = kFloatFacts[keyword];
    Room(k.pushes - k.pops + k.temporaries);
    if (keyword == kfMul) CertainOverflow(0, 1);
    switch (keyword) {
        case kfAdd:
        case kfMul:
            pendingExchange_ = false;  // commutative: the order does not matter
            keyword == kfAdd ? emit_.faddp() : emit_.fmulp();
            break;
        case kfSub:
        case kfDiv:
            // Top minus (divided by) second: with the pair exchanged, the plain form does it.
            if (keyword == kfSub)
                pendingExchange_ ? emit_.fsubp() : emit_.fsubrp();
            else
                pendingExchange_ ? emit_.fdivp() : emit_.fdivrp();
            pendingExchange_ = false;
            break;
        case kfRem:
            Resolve();
            emit_.fprem();
            emit_.fstp_st(1);
            break;
        case kfNeg:
            Resolve();
            emit_.fchs();
            break;
        case kfAbs:
            Resolve();
            emit_.fabs();
            break;
        case kfSqrt:
            Resolve();
            emit_.fsqrt();
            break;
        case kfSqr:
            Resolve();
            CertainOverflow(0, -1);
            emit_.fmul_st0_st(0);
            break;
        case kfSin:
            Resolve();
            emit_.fsin();
            break;
        case kfCos:
            Resolve();
            emit_.fcos();
            break;
        case kf2Px:
            Resolve();
            emit_.f2xm1();
            break;
        case kfInt:
            Resolve();
            emit_.frndint();
            break;
        case kfScale:
            Resolve();
            emit_.fscale();
            break;
        case kfSinCos:
            Resolve();
            emit_.fsincos();
            break;
        case kfCopy:
            Resolve();
            emit_.fld_st(0);
            break;
        case kfTan:
        case kfLog2:
            Resolve();
            keyword == kfTan ? emit_.fptan() : emit_.fxtract();
            emit_.ffree_st(0);  // drop FPTAN's 1.0, or FXTRACT's significand
            emit_.fincstp();
            break;
        case kfPatan:
        case kfYxLog2X:
            Resolve();
            keyword == kfPatan ? emit_.fpatan() : emit_.fyl2x();
            break;
        case kfSwap:
            pendingExchange_ = !pendingExchange_;
            break;
        case kfPi:
            Resolve();
            emit_.fldpi();
            break;
        case kfZero:
            Resolve();
            emit_.fldz();
            break;
        case kfOne:
            Resolve();
            emit_.fld1();
            break;
        case kfLog2Ten:
            Resolve();
            emit_.fldl2t();
            break;
        case kfLog2E:
            Resolve();
            emit_.fldl2e();
            break;
        case kfLog10Two:
            Resolve();
            emit_.fldlg2();
            break;
        case kfLnTwo:
            Resolve();
            emit_.fldln2();
            break;
        case kfRet:
            Return();  // moves the depth itself
            return;
        case kfDel:
            Resolve();
            emit_.ffree_st(0);
            emit_.fincstp();
            break;
        case kfExp:
            Resolve();
            emit_.exp_st0();
            break;
    }
    depth_ += k.pushes - k.pops;
    // Moving values, loading constants and changing signs raise no flag.
    if (k.growth != TGrowth::kKeeps && k.growth != TGrowth::kConstant) Checked();
}

void TFloatHardware::Return() {
    Resolve();
    const int32_t k = results_;
    const Mem cell = Mem::Cell(static_cast<uint32_t>(kRealWidth * (record_.ParamCount + k)));
    Residence *r = residence_;
    if (r && k < r->fedBack && r->slot[k] >= 0) {
        if (r->lastRead[k] <= static_cast<int32_t>(r->word)) {
            emit_.fstp_st(HeldPosition(k));  // its parameter is not read again this iteration
        } else if (r->plan.waitInRegisters && depth_ == 1) {
            r->waiting[r->waitingCount++] = k;  // it stays where it is
        } else {
            emit_.fstp_m80(cell);
            r->stored[r->storedCount++] = k;
        }
    } else {
        emit_.fstp_m80(cell);
    }
    ++results_;
    --depth_;
}

void TFloatHardware::Param(int32_t p) {
    if (residence_ && residence_->slot[p] >= 0) {
        const int32_t at = HeldPosition(p);
        Room(1);
        ++depth_;
        Resolve();
        emit_.fld_st(at);
        return;
    }
    Room(1);
    ++depth_;
    Resolve();
    emit_.fld_m80(Mem::Cell(record_.Params[p].Address));
}

// A held parameter read as the operand of the operation right after it: the register form with
// ST(0), the value below the parameter, as destination, and the parameter as source; the same
// roles and the same result as the load followed by the popping form.
void TFloatHardware::FusedParam(int32_t p, int keyword) {
    Resolve();
    const int32_t at = HeldPosition(p);
    if (keyword == kfMul) CertainOverflow(0, at);
    switch (keyword) {
        case kfAdd:
            emit_.fadd_st0_st(at);
            break;
        case kfMul:
            emit_.fmul_st0_st(at);
            break;
        case kfSub:
            emit_.fsubr_st0_st(at);
            break;  // the parameter minus the value below it
        default:
            emit_.fdivr_st0_st(at);
            break;
    }
    Checked();
}

std::size_t TFloatHardware::Word(std::size_t i) {
    const std::vector<TWord> &words = body_.words;
    const TWord &w = words[i];
    switch (w.kind) {
        case TWord::kKeyword:
            Keyword(w.index);
            return 1;
        case TWord::kParam:
            if (residence_ && residence_->slot[w.index] >= 0 && depth_ >= 1 &&
                i + 1 < words.size()) {
                const TWord &next = words[i + 1];
                if (next.kind == TWord::kKeyword && (next.index == kfAdd || next.index == kfMul ||
                                                     next.index == kfSub || next.index == kfDiv)) {
                    FusedParam(w.index, next.index);
                    return 2;
                }
            }
            Param(w.index);
            return 1;
        case TWord::kLiteral:
            Literal(i);
            return 1;
    }
    return 1;
}

// The record's code holds the constant inline behind a short jump, addressed by its position in
// the code plus the code's start offset in the block; the execution copy loads it where it lies.
void TFloatHardware::Literal(std::size_t i) {
    const TWord &w = body_.words[i];
    Room(1);
    ++depth_;
    Resolve();
    if (!residence_) {
        uint8_t bytes[10];
        const float single = static_cast<float>(w.real);
        if (w.extended)
            std::memcpy(bytes, &w.real, 10);
        else
            std::memcpy(bytes, &single, 4);
        const TLabel value = emit_.NewLabel();
        const TLabel after = emit_.NewLabel();
        emit_.jmp(after);
        emit_.Bind(value);
        emit_.Data(bytes, w.extended ? 10 : 4);
        emit_.Bind(after);
        literalAt_[i] = codeStart_ + static_cast<uint32_t>(emit_.Position(value));
    }
    const Mem at = Mem::Cell(literalAt_[i]);
    w.extended ? emit_.fld_m80(at) : emit_.fld_m32(at);
    // Loading a single raises the denormal flag when it is one; an 80-bit load raises none.
    if (!w.extended && std::fpclassify(static_cast<float>(w.real)) == FP_SUBNORMAL) Checked();
}

int32_t TFloatHardware::CompileBody() {
    // The code's start offset in the block, which inline constants are addressed by, depends on
    // the number of results.
    codeStart_ = static_cast<uint32_t>(kRealWidth * (record_.ParamCount + body_.results));
    for (std::size_t i = 0; i < body_.words.size(); ++i) Word(i);
    return results_;
}

int32_t TFloatHardware::CompileRecursive(int32_t blockLength) {
    blockLength_ = blockLength;
    emit_.mov_r_imm(EAX, static_cast<uint32_t>(blockLength));
    const TLabel loop = emit_.NewLabel();
    emit_.Bind(loop);
    const int32_t results = CompileBody();
    const int32_t fed = std::min(results, record_.ParamCount);
    const uint32_t resultsAt = static_cast<uint32_t>(kRealWidth * record_.ParamCount);
    if (emit_.target() == Target::IA32) {
        // REP MOVSW copies results 0..K-1 over parameters 0..K-1, 10 bytes each.
        emit_.mov_r_cell(EDI, 0);
        emit_.mov_r_cell(ESI, resultsAt);
        emit_.mov_r_imm(ECX, static_cast<uint32_t>(5 * fed));
        emit_.rep_movsw();
    } else {
        // Each value moves as 8 + 2 bytes through RCX: the next iteration's 80-bit loads then
        // take their data straight from these stores, which the 2-byte stores of REP MOVSW
        // prevent.
        for (int32_t k = 0; k < fed; ++k)
            CopyCell(resultsAt + static_cast<uint32_t>(kRealWidth * k),
                     static_cast<uint32_t>(kRealWidth * k));
    }
    emit_.dec_r(EAX);
    emit_.jcc(Cond::NE, loop, JumpForm::Near);
    return results;
}

// Copies a value cell through ECX: 8 + 2 bytes on x86-64, 4 + 4 + 2 on IA-32.
void TFloatHardware::CopyCell(uint32_t from, uint32_t to) {
    if (emit_.target() == Target::X64) {
        emit_.mov_r64_m(ECX, Mem::Cell(from));
        emit_.mov_m_r64(Mem::Cell(to), ECX);
    } else {
        for (uint32_t half = 0; half < 8; half += 4) {
            emit_.mov_r_m(ECX, Mem::Cell(from + half));
            emit_.mov_m_r(Mem::Cell(to + half), ECX);
        }
    }
    emit_.movzx_r_m16(ECX, Mem::Cell(from + 8));
    emit_.mov_m_r16(Mem::Cell(to + 8), ECX);
}

bool TFloatHardware::CompileExecutionCopy(TCodeBuffer &code, bool leaveOnFault) const {
    if (results_ == 0 || (leaveOnFault && blockLength_ == 0)) return false;
    static constexpr Plan kPlans[] = {{true, true}, {false, true}, {true, false}, {false, false}};
    for (const Plan &plan : kPlans) {
        TCodeBuffer attempt;
        Residence residence{plan};
        if (blockLength_ > 0) residence.fedBack = std::min(results_, record_.ParamCount);
        try {
            TFloatHardware(*this, attempt, residence).Translate(leaveOnFault);
            if (!attempt.Overflowed()) {
                code = attempt;
                return true;
            }
        } catch (const TAbandon &) {
            // Not with this plan.
        }
        if (blockLength_ == 0) break;  // a real function holds its repeated parameters or nothing
    }
    return false;
}

// Decides which parameters the copy holds in registers and loads them.
void TFloatHardware::Hold() {
    Residence &r = *residence_;
    const bool recursive = blockLength_ > 0;
    int32_t reads[kMaxParams] = {};
    std::fill(std::begin(r.lastRead), std::end(r.lastRead), -1);
    for (std::size_t i = 0; i < body_.words.size(); ++i) {
        const TWord &w = body_.words[i];
        if (w.kind == TWord::kKeyword && (w.index == kfTan || w.index == kfSinCos))
            throw TAbandon{};
        if (w.kind == TWord::kParam) {
            ++reads[w.index];
            r.lastRead[w.index] = static_cast<int32_t>(i);
        }
    }
    // A loop holds what its body reads; straight-line code only what it reads more than once.
    for (int32_t p = 0; p < record_.ParamCount; ++p) {
        const bool hold =
            recursive ? reads[p] > 0 && (r.plan.holdConstants || p < r.fedBack) : reads[p] > 1;
        r.slot[p] = static_cast<int8_t>(hold ? r.held++ : -1);
    }
    if (r.held > kX87Registers || (!recursive && r.held == 0)) throw TAbandon{};
    for (int32_t p = 0; p < record_.ParamCount; ++p)
        if (r.slot[p] >= 0) emit_.fld_m80(Mem::Cell(record_.Params[p].Address));
}

// One iteration of the body on the held registers; fed-back results end in their parameters'
// registers (or, for parameters not held, in their result cells).
void TFloatHardware::Iteration() {
    Residence &r = *residence_;
    depth_ = 0;
    results_ = 0;
    pendingExchange_ = false;
    r.waitingCount = r.storedCount = 0;
    for (std::size_t i = 0; i < body_.words.size();) {
        r.word = i;
        i += Word(i);
    }
    if (blockLength_ == 0) return;
    // The waiting results replace their parameters.
    while (r.waitingCount > 0) {
        emit_.fstp_st(HeldPosition(r.waiting[r.waitingCount - 1]));
        --r.waitingCount;
    }
    for (int32_t j = 0; j < r.storedCount; ++j) {
        if (r.held >= kX87Registers) throw TAbandon{};
        const int32_t k = r.stored[j];
        emit_.fld_m80(Mem::Cell(ResultCell(k)));
        emit_.fstp_st(r.held - r.slot[k]);
    }
}

uint32_t TFloatHardware::ResultCell(int32_t k) const {
    return static_cast<uint32_t>(kRealWidth * (record_.ParamCount + k));
}

void TFloatHardware::Translate(bool leaveOnFault) {
    Hold();
    const bool recursive = blockLength_ > 0;
    const TLabel loop = emit_.NewLabel();
    const TLabel done = emit_.NewLabel();
    if (recursive) {
        emit_.mov_r_imm(EDX, static_cast<uint32_t>(blockLength_));
        emit_.Bind(loop);
    }
    Iteration();
    if (recursive) {
        if (leaveOnFault) {
            emit_.fnstsw_ax();
            emit_.test_al_imm8(kFaultFlags);
            emit_.jcc(Cond::NE, done);
        }
        emit_.dec_r(EDX);
        emit_.jcc(Cond::NE, loop);
        emit_.Bind(done);
    }
    Store();
}

// The held registers go back to the cells, the top first: a fed-back value into its parameter's
// cell, with an 80-bit store, from which the caller's and the next call's 80-bit loads take their
// data at once (they could not from the two parts of a copy), and from there into its result
// cell; the others are dropped. A fed-back value that was not held is in its result cell and
// goes to its parameter's.
void TFloatHardware::Store() {
    Residence &r = *residence_;
    for (int32_t s = r.held - 1; s >= 0; --s) {
        int32_t p = 0;
        while (r.slot[p] != s) ++p;
        if (p < r.fedBack)
            emit_.fstp_m80(Mem::Cell(record_.Params[p].Address));
        else
            emit_.fstp_st(0);
    }
    for (int32_t k = 0; k < r.fedBack; ++k) {
        if (r.slot[k] >= 0)
            CopyCell(record_.Params[k].Address, ResultCell(k));
        else
            CopyCell(ResultCell(k), record_.Params[k].Address);
    }
}

}  // namespace quob
