// The deep code generator: the difference iteration of a perturbed form compiled to x87 code.
//
// Every value V = A + d of the body is a reference value A, read from the orbit's record of the
// iteration, and a sample's difference d. The differences of the keywords are the forms of
// perturb.cpp, written as expressions of differences, record values and constants; an expression
// is emitted onto the x87 stack with the operand that needs more registers first. The parameters'
// differences stay in registers where the plan allows (the fed-back ones always, those that do
// not vary when there is room), and differences read more than once are computed once into cells.
// One call runs up to a pass of iterations and leaves early at a glitch.
#include "compile/deepgen.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

#include "compile/codebuffer.h"
#include "compile/deepcompiler.h"
#include "compile/keywords.h"
#include "errors.h"

namespace quob {
namespace deepgen {

int32_t TDeepCompiler::Form(int32_t node) {
    const TNode &n = nodes_[node];
    if (n.kind != TNode::kKeyword) return -1;
    const bool fa = nodes_[n.a].fixed;
    const bool fb = n.b >= 0 && nodes_[n.b].fixed;
    const auto half = [&](int32_t d) { return Op(TExpr::kMul, d, Const(0.5L)); };
    // sin(d) and -2·sin²(d/2) = cos(d) - 1.
    const auto sinD = [&] { return Op(TExpr::kSin, Diff(n.a)); };
    const auto cosD1 = [&] {
        return Op(TExpr::kNeg,
                  Op(TExpr::kTwice, Op(TExpr::kSqr, Op(TExpr::kSin, half(Diff(n.a))))));
    };
    const auto sinA = [&] { return SlotExpr(TSlot::kSin, n.a); };
    const auto cosA = [&] { return SlotExpr(TSlot::kCos, n.a); };
    switch (n.keyword) {
        case kfAdd:
            if (fa) return Diff(n.b);
            if (fb) return Diff(n.a);
            return Op(TExpr::kAdd, Diff(n.b), Diff(n.a));
        case kfSub:  // top minus second
            if (fa) return Op(TExpr::kNeg, Diff(n.b));
            if (fb) return Diff(n.a);
            return Op(TExpr::kSub, Diff(n.a), Diff(n.b));
        case kfNeg:
            return Op(TExpr::kNeg, Diff(n.a));
        case kfMul:
            if (fa) return Op(TExpr::kMul, Ref(n.a), Diff(n.b));
            if (fb) return Op(TExpr::kMul, Diff(n.a), Ref(n.b));
            return Op(TExpr::kAdd, Op(TExpr::kMul, Ref(n.a), Diff(n.b)),
                      Op(TExpr::kMul, Diff(n.a), Op(TExpr::kAdd, Ref(n.b), Diff(n.b))));
        case kfSqr:
            return Op(TExpr::kMul, Op(TExpr::kAdd, Op(TExpr::kTwice, Ref(n.a)), Diff(n.a)),
                      Diff(n.a));
        case kfDiv: {  // top divided by second
            if (fb) return Op(TExpr::kDiv, Diff(n.a), Ref(n.b));
            const int32_t quotientPart = Op(TExpr::kMul, SlotExpr(TSlot::kRef, node), Diff(n.b));
            const int32_t numerator =
                fa ? Op(TExpr::kNeg, quotientPart) : Op(TExpr::kSub, Diff(n.a), quotientPart);
            return Op(TExpr::kDiv, numerator, Op(TExpr::kAdd, Ref(n.b), Diff(n.b)));
        }
        case kfAbs:
            return New({TExpr::kAbsDiff, Diff(n.a), form_.Slot(TSlot::kRef, n.a),
                        form_.Slot(TSlot::kSign, n.a)});
        case kfSqrt:
            return New({TExpr::kSqrtDiff, Diff(n.a), form_.Slot(TSlot::kRef, n.a),
                        form_.Slot(TSlot::kRef, node)});
        case kfSin:
            return Op(TExpr::kAdd, Op(TExpr::kMul, cosA(), sinD()),
                      Op(TExpr::kMul, sinA(), cosD1()));
        case kfCos:
            return Op(TExpr::kSub, Op(TExpr::kMul, cosA(), cosD1()),
                      Op(TExpr::kMul, sinA(), sinD()));
        case kfTan: {
            const int32_t cosDiff =
                Op(TExpr::kSub, Op(TExpr::kMul, cosA(), cosD1()), Op(TExpr::kMul, sinA(), sinD()));
            return Op(TExpr::kDiv, sinD(),
                      Op(TExpr::kMul, cosA(), Op(TExpr::kAdd, cosA(), cosDiff)));
        }
        case kfExp:
            return Op(TExpr::kMul, SlotExpr(TSlot::kRef, node),
                      Op(TExpr::kExpm1,
                         Op(TExpr::kMul, Diff(n.a), Const(kFloatFacts[kfLog2E].constant()))));
        case kf2Px:
            return Op(TExpr::kMul, Op(TExpr::kAdd, SlotExpr(TSlot::kRef, node), Const(1)),
                      Op(TExpr::kExpm1, Diff(n.a)));
        case kfScale:
            return Op(TExpr::kScale, Diff(n.a), SlotExpr(TSlot::kRef, n.b));
        default:
            return -1;  // refused before
    }
}

int32_t TDeepCompiler::Need(int32_t e) const {
    const TExpr &x = exprs_[e];
    switch (x.op) {
        case TExpr::kDiff:
            return Inline(x.ref) ? Need(forms_[x.ref]) : 1;
        case TExpr::kSlot:
        case TExpr::kConst:
            return 1;
        case TExpr::kNeg:
        case TExpr::kAbs:
        case TExpr::kTwice:
        case TExpr::kSqr:
        case TExpr::kSin:
        case TExpr::kCos:
            return Need(x.a);
        case TExpr::kExpm1:
            return std::max(Need(x.a), 3);
        case TExpr::kAbsDiff:
        case TExpr::kSqrtDiff:
            return 3;
        case TExpr::kScale:
            return std::max(Need(x.b), Need(x.a) + 1);
        default:
            break;
    }
    if (HeldLeaf(x.b)) return Need(x.a);
    if (HeldLeaf(x.a)) return Need(x.b);
    const int32_t l = Need(x.a), r = Need(x.b);
    return std::min(std::max(l, r + 1), std::max(r, l + 1));
}

// True when expression e, inline differences expanded, reads the difference of a parameter.
bool TDeepCompiler::Reads(int32_t e, int32_t param) const {
    if (e < 0) return false;
    const TExpr &x = exprs_[e];
    if (x.op == TExpr::kDiff) {
        if (x.ref == param) return true;
        return Inline(x.ref) && Reads(forms_[x.ref], param);
    }
    return Reads(x.a, param) ||
           (x.op != TExpr::kAbsDiff && x.op != TExpr::kSqrtDiff && Reads(x.b, param));
}

// abs(re) + abs(im) of the full iterate at the current record, on top of the stack.
void TDeepCompiler::Modulus() {
    int32_t moduli[2];
    for (int32_t i = 0; i < 2; ++i) {
        const int32_t full = SlotExpr(TSlot::kRef, i);
        moduli[i] = Op(TExpr::kAbs, nodes_[i].fixed ? full : Op(TExpr::kAdd, full, Diff(i)));
    }
    Emit(Op(TExpr::kAdd, moduli[0], moduli[1]));
}

// The glitch test at the start of an iteration; with a careful label, also the guard: an iterate
// at or beyond the guard's bound (or a NaN) goes on carefully.
void TDeepCompiler::GlitchTest(TLabel glitch, const TLabel *careful) {
    Modulus();
    Push();
    LoadRecord(form_.GlitchSlot());
    emit_.fucomip_st(1);  // the threshold above the iterate: glitched (never for NaN)
    Pop();
    if (careful) {
        const TLabel lost = emit_.NewLabel(), kept = emit_.NewLabel();
        emit_.jcc(Cond::A, lost);
        Push();
        emit_.fld_m64(Cell(TDeepCells::kGuard));
        emit_.fucomip_st(1);
        Pop();
        emit_.fstp_st(0);
        Pop();
        emit_.jcc(Cond::BE, *careful, JumpForm::Near);
        emit_.jmp(kept);
        emit_.Bind(lost);
        emit_.fstp_st(0);  // the iterate's modulus
        emit_.jmp(glitch, JumpForm::Near);
        emit_.Bind(kept);
        return;
    }
    emit_.fstp_st(0);
    Pop();
    emit_.jcc(Cond::A, glitch, JumpForm::Near);
}

// The differences of the iteration: the ones read more than once into cells, then the fed-back
// parameters' new differences; the record pointer moves on.
void TDeepCompiler::Body() {
    const int32_t params = form_.ParamCount();
    const int32_t fedBack = form_.FedBack();
    for (std::size_t i = static_cast<std::size_t>(params); i < nodes_.size(); ++i) {
        const auto node = static_cast<int32_t>(i);
        if (!nodes_[node].live || Inline(node)) continue;
        Emit(forms_[node]);
        emit_.fstp_m80(Cell(TempCell(node)));
        Pop();
    }
    std::vector<int32_t> statements(static_cast<std::size_t>(fedBack), -1);
    for (int32_t k = 0; k < fedBack; ++k)
        if (!nodes_[k].fixed && !nodes_[form_.Result(k)].fixed)
            statements[k] = New({TExpr::kDiff, -1, -1, -1, form_.Result(k)});
    std::vector<int32_t> pending;
    for (int32_t k = 0; k < fedBack; ++k) {
        if (nodes_[k].fixed) continue;
        if (statements[k] < 0) {
            Push();
            emit_.fldz();
        } else {
            Emit(statements[k]);
        }
        bool readLater = false;
        for (int32_t j = k + 1; j < fedBack; ++j) readLater = readLater || Reads(statements[j], k);
        if (readLater) {
            stack_.back() = kPending + k;
            pending.push_back(k);
            continue;
        }
        if (held_[k]) {
            emit_.fstp_st(Position(k));
            Pop();
        } else {
            emit_.fstp_m80(Cell(DiffCell(k)));
            Pop();
        }
    }
    while (!pending.empty()) {
        const int32_t k = pending.back();
        pending.pop_back();
        if (held_[k]) {
            emit_.fstp_st(Position(k));
        } else {
            emit_.fstp_m80(Cell(DiffCell(k)));
        }
        Pop();
    }
    emit_.add_rp_imm(ESI, ValueWidth() * static_cast<int32_t>(form_.Slots().size()));
    if (values_ == TRecordValues::kDouble)
        emit_.add_rp_imm(EBP, kRealWidth * static_cast<int32_t>(form_.Slots().size()));
    emit_.dec_r(ECX);
}

// The filler's tests after a pass, on the full iterate at the record reached, and on to the next
// pass (`next`) or out (`between`: the records cannot hold the next pass).
void TDeepCompiler::PassTests(TLabel next, TLabel glitch, TLabel escaped, TLabel done,
                              TLabel between) {
    constexpr uint8_t kDeepFaultFlags = 0x0D;  // invalid, zero divide, overflow
    const TLabel lost = emit_.NewLabel(), escapedDrop = emit_.NewLabel();
    const TLabel doneDrop = emit_.NewLabel(), clean = emit_.NewLabel();
    emit_.fnstsw_ax();
    emit_.test_al_imm8(kDeepFaultFlags);
    emit_.jcc(Cond::NE, FaultExit(), JumpForm::Near);
    extendedRecords_ = true;
    Modulus();
    Push();
    LoadRecord(form_.GlitchSlot());
    extendedRecords_ = false;
    emit_.fucomip_st(1);
    Pop();
    emit_.jcc(Cond::A, lost, JumpForm::Near);
    Push();
    emit_.fld_m32(Cell(TDeepCells::kMaxModule));
    Push();
    emit_.fld_st(1);
    emit_.fucomip_st(1);  // m above MaxModule
    Pop();
    emit_.fstp_st(0);
    Pop();
    emit_.jcc(Cond::A, escapedDrop, JumpForm::Near);
    Push();
    emit_.fld_m32(Cell(TDeepCells::kPrevious));
    emit_.fsubr_st0_st(1);  // m - previous
    emit_.fabs();
    Push();
    emit_.fld_m32(Cell(TDeepCells::kDifferential));
    emit_.fucomip_st(1);  // Differential above abs(m - previous): settled
    Pop();
    emit_.fstp_st(0);
    Pop();
    emit_.jcc(Cond::A, doneDrop, JumpForm::Near);
    emit_.fstp_m32(Cell(TDeepCells::kPrevious));  // m rounded to a float
    Pop();
    // The tests' own flags never reach the next pass's fault test.
    emit_.fnstsw_ax();
    emit_.test_al_imm8(kDeepFaultFlags);
    emit_.jcc(Cond::E, clean);
    emit_.fnclex();
    emit_.Bind(clean);
    emit_.dec_r(EBX);
    emit_.jcc(Cond::E, done, JumpForm::Near);
    emit_.mov_r_m(EDX, Cell(TDeepCells::kBlockLength));
    emit_.cmp_r_r(ECX, EDX);
    emit_.jcc(Cond::BE, between, JumpForm::Near);  // records for a pass and its tests: N + 1
    emit_.jmp(next, JumpForm::Near);
    emit_.Bind(lost);
    emit_.fstp_st(0);
    emit_.jmp(glitch, JumpForm::Near);
    emit_.Bind(escapedDrop);
    emit_.fstp_st(0);
    emit_.jmp(escaped, JumpForm::Near);
    emit_.Bind(doneDrop);
    emit_.fstp_st(0);
    emit_.jmp(done, JumpForm::Near);
}

uint32_t TDeepCompiler::Compile(std::map<uint32_t, long double> &constants) {
    const int32_t params = form_.ParamCount();
    const int32_t fedBack = form_.FedBack();
    cellsEnd_ = TDeepCells::kDiffs + static_cast<uint32_t>(kRealWidth * params);

    emit_.mov_r_cell(EDI, 0);
    emit_.mov_rp_m(ESI, Cell(TDeepCells::kRecord));
    emit_.mov_r_m(EDX, Cell(TDeepCells::kCount));
    emit_.mov_r_m(ECX, Cell(TDeepCells::kRecords));
    emit_.mov_r_m(EBX, Cell(TDeepCells::kPasses));
    if (values_ == TRecordValues::kDouble) emit_.mov_rp_m(EBP, Cell(TDeepCells::kExtendedRecord));
    for (int32_t p = 0; p < params; ++p) {
        if (!held_[p]) continue;
        Push();
        stack_.back() = p;
        emit_.fld_m80(Cell(DiffCell(p)));
    }
    const TLabel loop = emit_.NewLabel(), passEnd = emit_.NewLabel();
    const TLabel glitch = emit_.NewLabel(), escaped = emit_.NewLabel(), done = emit_.NewLabel();
    const TLabel between = emit_.NewLabel(), out = emit_.NewLabel();
    const TLabel careful = emit_.NewLabel();
    const bool guarded = DeepGuardExponent(form_) >= 0;
    (void)FaultExit();  // the exit with the held registers live

    emit_.Bind(loop);
    GlitchTest(glitch, guarded ? &careful : nullptr);
    Body();
    emit_.dec_r(EDX);
    emit_.jcc(Cond::NE, loop, JumpForm::Near);
    emit_.Bind(passEnd);
    emit_.cmp_m_imm8(Cell(TDeepCells::kLoop), 0);
    emit_.jcc(Cond::E, out, JumpForm::Near);  // one pass: its tests are the caller's
    PassTests(loop, glitch, escaped, done, between);

    emit_.Bind(between);
    emit_.mov_m_imm(Cell(TDeepCells::kStatus), kDeepPass);
    emit_.jmp(out);
    emit_.Bind(glitch);
    emit_.mov_m_imm(Cell(TDeepCells::kStatus), kDeepGlitch);
    emit_.jmp(out);
    emit_.Bind(escaped);
    emit_.mov_m_imm(Cell(TDeepCells::kStatus), kDeepEscaped);
    emit_.jmp(out);
    emit_.Bind(done);
    emit_.mov_m_imm(Cell(TDeepCells::kStatus), kDeepDone);
    emit_.Bind(out);
    for (int32_t p = params; p-- > 0;) {
        if (!held_[p]) continue;
        if (p < fedBack)
            emit_.fstp_m80(Cell(DiffCell(p)));
        else
            emit_.fstp_st(0);
    }
    emit_.mov_m_rp(Cell(TDeepCells::kRecord), ESI);
    emit_.mov_m_r(Cell(TDeepCells::kCount), EDX);
    emit_.mov_m_r(Cell(TDeepCells::kPasses), EBX);
    emit_.ret();

    if (guarded) {
        // The rest of the pass, careful.
        const TLabel again = emit_.NewLabel();
        emit_.Bind(careful);
        careful_ = true;
        Body();
        emit_.dec_r(EDX);
        emit_.jcc(Cond::E, passEnd, JumpForm::Near);
        emit_.Bind(again);
        GlitchTest(glitch, nullptr);
        Body();
        emit_.dec_r(EDX);
        emit_.jcc(Cond::NE, again, JumpForm::Near);
        emit_.jmp(passEnd, JumpForm::Near);
        careful_ = false;
    }
    // The fault exits: the registers live dropped, no difference kept.
    for (const auto &[live, label] : faultExits_) {
        emit_.Bind(label);
        for (int32_t i = 0; i < live; ++i) emit_.fstp_st(0);
        emit_.mov_m_imm(Cell(TDeepCells::kStatus), kDeepFault);
        emit_.mov_m_rp(Cell(TDeepCells::kRecord), ESI);
        emit_.ret();
    }
    for (const auto &[value, at] : constants_) constants[at] = value;
    return cellsEnd_;
}

}  // namespace deepgen

int32_t DeepGuardExponent(const TPerturbedForm &form) {
    // Bounds of the exponents of the reference values and differences of every node from a
    // bound e on the iterate's: the parameters' within e + 21 (a full iterate below 2^e that
    // passed the glitch test holds a reference below 2^(e + 20)), two bits more a keyword for
    // the forms' own factors (2A + d, B + db).
    const std::vector<TNode> &nodes = form.Nodes();
    for (std::size_t i = static_cast<std::size_t>(form.ParamCount()); i < nodes.size(); ++i) {
        const TNode &n = nodes[i];
        if (!n.live || n.kind != TNode::kKeyword) continue;
        const TGrowth g = kFloatFacts[n.keyword].growth;
        if (g != TGrowth::kSum && g != TGrowth::kProduct && g != TGrowth::kSquare &&
            g != TGrowth::kKeeps)
            return -1;
    }
    // Only the iterate is fed back: the other parameters do not change along a pass.
    if (form.FedBack() > 2) return -1;
    auto largest = [&](double e) {
        std::vector<double> bound(nodes.size(), e + 21);
        double most = e + 21;
        for (std::size_t i = static_cast<std::size_t>(form.ParamCount()); i < nodes.size(); ++i) {
            const TNode &n = nodes[i];
            double v = 0;
            if (n.kind == TNode::kConst) {
                v = n.value == 0 ? 0 : std::log2(std::fabs(static_cast<double>(n.value)));
            } else {
                const double a = bound[n.a], b = n.b >= 0 ? bound[n.b] : 0;
                switch (kFloatFacts[n.keyword].growth) {
                    case TGrowth::kSum:
                        v = std::max(a, b) + 3;
                        break;
                    case TGrowth::kProduct:
                        v = a + b + 2;
                        break;
                    case TGrowth::kSquare:
                        v = 2 * a + 2;
                        break;
                    default:
                        v = a + 2;
                        break;
                }
            }
            bound[i] = v;
            most = std::max(most, v);
        }
        return most;
    };
    constexpr double kLimit = 16000;
    if (largest(0) >= kLimit) return -1;
    int32_t low = 0, high = 16000;
    while (low < high) {
        const int32_t mid = low + (high - low + 1) / 2;
        if (largest(mid) < kLimit)
            low = mid;
        else
            high = mid - 1;
    }
    return low;
}

using deepgen::ExactDouble;
using deepgen::kDeepCodeCapacity;
using deepgen::TDeepCompiler;

std::unique_ptr<TCompiledFunction> CompileDeepCode(const TPerturbedForm &form, Target target,
                                                   TRecordValues values) {
    // From the fastest plan to the one that needs the fewest registers.
    static constexpr bool kPlans[][2] = {{true, true}, {false, true}, {false, false}};
    for (const auto &plan : kPlans) {
        TCodeBuffer code(kDeepCodeCapacity);
        std::map<uint32_t, long double> constants;
        uint32_t cells;
        try {
            cells = TDeepCompiler(form, code, target, values, plan[0], plan[1]).Compile(constants);
        } catch (const TAbandon &) {
            continue;
        }
        if (code.Overflowed()) break;
        std::unique_ptr<TCompiledFunction> function =
            TCompiledFunction::Place(FunctionKind::Real, cells, code, nullptr, nullptr);
        if (!function) throw std::bad_alloc();
        for (const auto &[at, value] : constants) {
            const double narrow = static_cast<double>(value);
            if (ExactDouble(value))
                std::memcpy(function->Cell(at), &narrow, sizeof narrow);
            else
                std::memcpy(function->Cell(at), &value, kRealWidth);
        }
        return function;
    }
    throw TAbandon{QUOB_ERR_OUT_OF_RESOURCES};  // does not fit: no deep rendering
}

}  // namespace quob
