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
#include "compile/keywords.h"
#include "errors.h"

namespace quob {

namespace {

constexpr int32_t kX87Registers = kFloatStack;

// A constant that a double holds exactly is stored and loaded as one: the load is a single
// operation where an extended one is microcoded.
bool ExactDouble(long double v) { return static_cast<long double>(static_cast<double>(v)) == v; }
constexpr int32_t kDeepCodeCapacity = 16384;

// An expression of differences, reference values and constants.
struct TExpr {
    enum Op : uint8_t {
        kDiff,  // the difference of node `ref`
        kSlot,  // slot `ref` of the current record
        kConst,
        kAdd,
        kSub,
        kMul,
        kDiv,
        kNeg,
        kAbs,
        kTwice,
        kSqr,
        kSin,
        kCos,
        kScale,     // a · 2^trunc(b)
        kExpm1,     // 2^a - 1
        kAbsDiff,   // "abs": a the difference, b the slot of A, c the slot of its sign
        kSqrtDiff,  // "sqrt": a the difference, b the slot of A, c the slot of sqrt(A)
    } op;
    int32_t a = -1, b = -1, c = -1;
    int32_t ref = -1;
    long double value = 0;
};

class TDeepCompiler {
  public:
    TDeepCompiler(const TPerturbedForm &form, TCodeBuffer &code, Target target,
                  TRecordValues values, bool holdInvariants, bool holdState)
        : form_(form), nodes_(form.Nodes()), emit_(code, target), values_(values) {
        const int32_t params = form.ParamCount();
        for (int32_t p = 0; p < params; ++p) {
            const bool state = p < form.FedBack();
            held_[p] = !nodes_[p].fixed && (state ? holdState : holdInvariants);
        }
        forms_.assign(nodes_.size(), -1);
        uses_.assign(nodes_.size(), 0);
        for (std::size_t i = params; i < nodes_.size(); ++i)
            if (nodes_[i].live) forms_[i] = Form(static_cast<int32_t>(i));
        for (int32_t k = 0; k < form.FedBack(); ++k)
            if (!nodes_[k].fixed) ++uses_[form.Result(k)];
    }

    // Emits the iteration; returns the size of the cells (constants and temporaries included).
    uint32_t Compile(std::map<uint32_t, long double> &constants);

  private:
    int32_t New(TExpr e) {
        exprs_.push_back(e);
        return static_cast<int32_t>(exprs_.size() - 1);
    }
    int32_t Diff(int32_t node) {
        if (node >= form_.ParamCount()) ++uses_[node];
        return New({TExpr::kDiff, -1, -1, -1, node});
    }
    int32_t SlotExpr(TSlot::Kind kind, int32_t node) {
        return New({TExpr::kSlot, -1, -1, -1, form_.Slot(kind, node)});
    }
    int32_t Ref(int32_t node) {
        if (nodes_[node].kind == TNode::kConst) return Const(nodes_[node].value);
        return SlotExpr(TSlot::kRef, node);
    }
    int32_t Const(long double v) { return New({TExpr::kConst, -1, -1, -1, -1, v}); }
    int32_t Op(TExpr::Op op, int32_t a, int32_t b = -1) { return New({op, a, b}); }
    int32_t Form(int32_t node);

    bool Inline(int32_t node) const { return node >= form_.ParamCount() && uses_[node] <= 1; }
    bool HeldLeaf(int32_t e) const {
        const TExpr &x = exprs_[e];
        return x.op == TExpr::kDiff && x.ref < form_.ParamCount() && held_[x.ref];
    }
    int32_t Need(int32_t e) const;
    void Emit(int32_t e);
    void Binary(TExpr::Op op, int32_t l, int32_t r);
    void WithRegister(TExpr::Op op, int32_t i, bool reversed);
    void AddOperand(int32_t e);
    void Push();
    void Pop() { stack_.pop_back(); }
    int32_t Position(int32_t id) const {
        for (std::size_t i = stack_.size(); i-- > 0;)
            if (stack_[i] == id) return static_cast<int32_t>(stack_.size() - 1 - i);
        throw TAbandon{};  // not reached: held values are always on the stack
    }
    bool Reads(int32_t e, int32_t param) const;
    Mem Cell(uint32_t offset) const { return Mem::Based(EDI, static_cast<int32_t>(offset)); }
    int32_t ValueWidth() const { return static_cast<int32_t>(values_); }
    void LoadRecord(int32_t slot) {
        const Mem at = Mem::Based(ESI, ValueWidth() * slot);
        values_ == TRecordValues::kDouble ? emit_.fld_m64(at) : emit_.fld_m80(at);
    }
    uint32_t DiffCell(int32_t p) const {
        return TDeepCells::kDiffs + static_cast<uint32_t>(kRealWidth * p);
    }
    template <class Key>
    uint32_t CellOf(std::map<Key, uint32_t> &cells, Key key);
    uint32_t ConstCell(long double v) { return CellOf(constants_, v); }
    uint32_t TempCell(int32_t node) { return CellOf(temps_, node); }

    const TPerturbedForm &form_;
    const std::vector<TNode> &nodes_;
    TEmitter emit_;
    const TRecordValues values_;
    bool held_[kMaxParams] = {};
    std::vector<TExpr> exprs_;
    std::vector<int32_t> forms_;  // per node: the expression of its difference
    std::vector<int32_t> uses_;   // per node: expressions that read its difference
    std::vector<int32_t> stack_;  // x87 registers, bottom first: a parameter, a pending result
                                  // (kPending + k) or a temporary (-1)
    static constexpr int32_t kPending = 100;
    std::map<long double, uint32_t> constants_;
    std::map<int32_t, uint32_t> temps_;
    uint32_t cellsEnd_ = 0;
};

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
        return;
    }
    Emit(e);
    emit_.faddp();
    Pop();
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
        WithRegister(op, Position(exprs_[right ? r : l].ref), !right);
        return;
    }
    const bool leftFirst = Need(l) >= Need(r);
    Emit(leftFirst ? l : r);
    Emit(leftFirst ? r : l);
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
            return;
        case TExpr::kSqr:
            Emit(x.a);
            emit_.fmul_st0_st(0);
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

uint32_t TDeepCompiler::Compile(std::map<uint32_t, long double> &constants) {
    const int32_t params = form_.ParamCount();
    const int32_t fedBack = form_.FedBack();
    cellsEnd_ = TDeepCells::kDiffs + static_cast<uint32_t>(kRealWidth * params);

    emit_.mov_r_cell(EDI, 0);
    emit_.mov_rp_m(ESI, Cell(TDeepCells::kRecord));
    emit_.mov_r_m(EDX, Cell(TDeepCells::kCount));
    for (int32_t p = 0; p < params; ++p) {
        if (!held_[p]) continue;
        Push();
        stack_.back() = p;
        emit_.fld_m80(Cell(DiffCell(p)));
    }
    const TLabel loop = emit_.NewLabel();
    const TLabel done = emit_.NewLabel();
    const TLabel glitch = emit_.NewLabel();
    emit_.Bind(loop);

    // The glitch test on the iterate at the start of the iteration.
    int32_t moduli[2];
    for (int32_t i = 0; i < 2; ++i) {
        const int32_t full = SlotExpr(TSlot::kRef, i);
        moduli[i] = Op(TExpr::kAbs, nodes_[i].fixed ? full : Op(TExpr::kAdd, full, Diff(i)));
    }
    Emit(Op(TExpr::kAdd, moduli[0], moduli[1]));
    Push();
    LoadRecord(form_.GlitchSlot());
    emit_.fucomip_st(1);  // the threshold above the iterate: glitched (never for NaN)
    Pop();
    emit_.fstp_st(0);
    Pop();
    emit_.jcc(Cond::A, glitch, JumpForm::Near);

    // Differences read more than once are computed once, into cells.
    for (std::size_t i = static_cast<std::size_t>(params); i < nodes_.size(); ++i) {
        const auto node = static_cast<int32_t>(i);
        if (!nodes_[node].live || Inline(node)) continue;
        Emit(forms_[node]);
        emit_.fstp_m80(Cell(TempCell(node)));
        Pop();
    }
    // The new differences of the fed-back parameters.
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
    emit_.dec_r(EDX);
    emit_.jcc(Cond::NE, loop, JumpForm::Near);

    emit_.Bind(done);
    for (int32_t p = params; p-- > 0;) {
        if (!held_[p]) continue;
        if (p < fedBack)
            emit_.fstp_m80(Cell(DiffCell(p)));
        else
            emit_.fstp_st(0);
    }
    emit_.mov_m_rp(Cell(TDeepCells::kRecord), ESI);
    emit_.ret();
    emit_.Bind(glitch);
    emit_.mov_m_imm(Cell(TDeepCells::kStatus), 1);
    emit_.jmp(done);

    for (const auto &[value, at] : constants_) constants[at] = value;
    return cellsEnd_;
}

}  // namespace

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
