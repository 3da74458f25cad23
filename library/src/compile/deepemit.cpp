// The deep code generator's expressions as x87 instructions: each onto the register stack, the
// operand that needs more registers first, held differences read in place.
#include <algorithm>
#include <cmath>

#include "compile/codebuffer.h"
#include "compile/deepcompiler.h"
#include "errors.h"

namespace quob::deepgen {

TLabel TDeepCompiler::FaultExit() {
    const auto live = static_cast<int32_t>(stack_.size());
    const auto found = faultExits_.find(live);
    if (found != faultExits_.end()) return found->second;
    return faultExits_[live] = emit_.NewLabel();
}

// In careful iterations, an operation's fault flags (invalid, zero divide, overflow) end the
// sample at once: the pass faults whatever the rest of it computes.
void TDeepCompiler::Checked() {
    if (!careful_) return;
    emit_.fnstsw_ax();
    emit_.test_al_imm8(0x0D);
    emit_.jcc(Cond::NE, FaultExit(), JumpForm::Near);
}

// In careful iterations: both operands (one for a square) finite and at least 2^8192, told by
// their exponents read as integers (which raises no flag): the product overflows, a fault.
void TDeepCompiler::CertainOverflow(int32_t a, int32_t b) {
    if (!careful_) return;
    constexpr int32_t kOverflowingExponent = 8192 + 16383;
    const TLabel uncertain = emit_.NewLabel();
    for (const int32_t operand : {a, b}) {
        if (operand < 0) break;
        Push();
        emit_.fld_st(operand);
        emit_.fstp_m80(Cell(TDeepCells::kScratch));
        Pop();
        emit_.movzx_r_m16(EAX, Cell(TDeepCells::kScratch + 8));
        emit_.and_eax_imm32(0x7FFF);
        emit_.cmp_r_imm(EAX, kOverflowingExponent);
        emit_.jcc(Cond::B, uncertain);
        emit_.cmp_r_imm(EAX, 0x7FFF);
        emit_.jcc(Cond::E, uncertain);  // an infinity or a NaN: no overflow flag
    }
    emit_.jmp(FaultExit(), JumpForm::Near);
    emit_.Bind(uncertain);
}

void TDeepCompiler::Push() {
    // More than the eight registers: the next plan keeps fewer values in them.
    if (static_cast<int32_t>(stack_.size()) >= kX87Registers) throw TAbandon{};
    stack_.push_back(-1);
}

// The cell of a key in a map of cells, a new one after the others for a new key.
template <class Key>
uint32_t TDeepCompiler::CellOf(std::map<Key, uint32_t> &cells, Key key) {
    const auto [it, added] = cells.try_emplace(key, cellsEnd_);
    if (added) cellsEnd_ += kRealWidth;
    return it->second;
}

// Adds the value of e to the top.
void TDeepCompiler::AddOperand(int32_t e) {
    if (HeldLeaf(e)) {
        emit_.fadd_st0_st(Position(exprs_[e].ref));
        Checked();
        return;
    }
    Emit(e);
    emit_.faddp();
    Pop();
    Checked();
}

// ST(0) = ST(0) op ST(i), or with the operands reversed ST(i) op ST(0).
void TDeepCompiler::WithRegister(TExpr::Op op, int32_t i, bool reversed) {
    switch (op) {
        case TExpr::kAdd:
            emit_.fadd_st0_st(i);
            return;
        case TExpr::kMul:
            emit_.fmul_st0_st(i);
            return;
        case TExpr::kSub:
            reversed ? emit_.fsubr_st0_st(i) : emit_.fsub_st0_st(i);
            return;
        default:
            reversed ? emit_.fdivr_st0_st(i) : emit_.fdiv_st0_st(i);
            return;
    }
}

void TDeepCompiler::Binary(TExpr::Op op, int32_t l, int32_t r) {
    // A held operand is read in place, as the source of the register form.
    if (HeldLeaf(r) || HeldLeaf(l)) {
        const bool right = HeldLeaf(r);
        Emit(right ? l : r);
        const int32_t at = Position(exprs_[right ? r : l].ref);
        if (op == TExpr::kMul) CertainOverflow(0, at);
        WithRegister(op, at, !right);
        Checked();
        return;
    }
    const bool leftFirst = Need(l) >= Need(r);
    Emit(leftFirst ? l : r);
    Emit(leftFirst ? r : l);
    if (op == TExpr::kMul) CertainOverflow(0, 1);
    switch (op) {
        case TExpr::kAdd:
            emit_.faddp();
            break;
        case TExpr::kMul:
            emit_.fmulp();
            break;
        case TExpr::kSub:  // l - r: ST(1) - ST(0) with l below, else ST(0) - ST(1)
            leftFirst ? emit_.fsubp() : emit_.fsubrp();
            break;
        default:
            leftFirst ? emit_.fdivp() : emit_.fdivrp();
            break;
    }
    Pop();
    Checked();
}

void TDeepCompiler::Emit(int32_t e) {
    const TExpr x = exprs_[e];
    switch (x.op) {
        case TExpr::kDiff: {
            const int32_t node = x.ref;
            if (node < form_.ParamCount()) {
                if (held_[node]) {
                    const int32_t at = Position(node);
                    Push();
                    emit_.fld_st(at);
                } else {
                    Push();
                    emit_.fld_m80(Cell(DiffCell(node)));
                }
            } else if (Inline(node)) {
                Emit(forms_[node]);
            } else {
                Push();
                emit_.fld_m80(Cell(TempCell(node)));
            }
            return;
        }
        case TExpr::kSlot:
            Push();
            LoadRecord(x.ref);
            return;
        case TExpr::kConst:
            Push();
            if (x.value == 0 && !std::signbit(x.value))
                emit_.fldz();
            else if (x.value == 1)
                emit_.fld1();
            else if (ExactDouble(x.value))
                emit_.fld_m64(Cell(ConstCell(x.value)));
            else
                emit_.fld_m80(Cell(ConstCell(x.value)));
            return;
        case TExpr::kAdd:
        case TExpr::kSub:
        case TExpr::kMul:
        case TExpr::kDiv:
            Binary(x.op, x.a, x.b);
            return;
        case TExpr::kNeg:
            Emit(x.a);
            emit_.fchs();
            return;
        case TExpr::kAbs:
            Emit(x.a);
            emit_.fabs();
            return;
        case TExpr::kTwice:
            Emit(x.a);
            emit_.fadd_st0_st(0);
            Checked();
            return;
        case TExpr::kSqr:
            Emit(x.a);
            CertainOverflow(0, -1);
            emit_.fmul_st0_st(0);
            Checked();
            return;
        case TExpr::kSin:
            Emit(x.a);
            emit_.fsin();
            return;
        case TExpr::kCos:
            Emit(x.a);
            emit_.fcos();
            return;
        case TExpr::kScale:
            Emit(x.b);
            Emit(x.a);
            emit_.fscale();
            emit_.fstp_st(1);  // drop the exponent
            Pop();
            return;
        case TExpr::kExpm1:
            // t = n + f: 2^n·(2^f - 1) + (2^n - 1), each part without cancellation.
            Emit(x.a);  // t
            Push();
            emit_.fld_st(0);
            emit_.frndint();       // n, t
            emit_.fsub_st1_st0();  // n, f
            Push();
            emit_.fld1();
            emit_.fscale();    // 2^n, n, f
            emit_.fstp_st(1);  // 2^n, f
            Pop();
            emit_.fxch_st(1);  // f, 2^n
            emit_.f2xm1();
            emit_.fmul_st0_st(1);  // (2^f - 1)·2^n, 2^n
            emit_.fxch_st(1);
            Push();
            emit_.fld1();
            emit_.fsubp();  // 2^n - 1, (2^f - 1)·2^n
            Pop();
            emit_.faddp();
            Pop();
            return;
        case TExpr::kAbsDiff: {
            // s·(A + d) >= 0: the sign stays and the difference is s·d; else -s·(2A + d).
            const TLabel changed = emit_.NewLabel();
            const TLabel done = emit_.NewLabel();
            Push();
            LoadRecord(x.b);
            AddOperand(x.a);
            Push();
            LoadRecord(x.c);
            emit_.fmulp();
            Pop();
            Checked();
            Push();
            emit_.fldz();
            emit_.fucomip_st(1);  // 0 above s·(A + d): the sign changed
            Pop();
            emit_.fstp_st(0);
            Pop();
            emit_.jcc(Cond::A, changed);
            const std::vector<int32_t> before = stack_;
            Emit(x.a);
            Push();
            LoadRecord(x.c);
            emit_.fmulp();
            Pop();
            Checked();
            emit_.jmp(done);
            emit_.Bind(changed);
            stack_ = before;
            Push();
            LoadRecord(x.b);
            emit_.fadd_st0_st(0);
            AddOperand(x.a);
            Push();
            LoadRecord(x.c);
            emit_.fmulp();
            Pop();
            Checked();
            emit_.fchs();
            emit_.Bind(done);
            return;
        }
        case TExpr::kSqrtDiff: {
            const TLabel done = emit_.NewLabel();
            Push();
            LoadRecord(x.b);
            AddOperand(x.a);
            emit_.fsqrt();
            Push();
            LoadRecord(x.c);
            emit_.faddp();
            Pop();
            Push();
            emit_.fldz();
            emit_.fucomip_st(1);  // both roots 0: so is the difference, the sum on the stack
            Pop();
            emit_.jcc(Cond::E, done);
            Emit(x.a);
            emit_.fdivrp();  // d / (sqrt(A + d) + sqrt(A))
            Pop();
            emit_.Bind(done);
            return;
        }
    }
}

}  // namespace quob::deepgen
