// The deep code generator's own types: expressions of differences, record values and constants,
// and the compiler that turns a perturbed form's iteration into them and them into x87 code.
// Shared by deepgen.cpp (the iteration, its forms and the pass loop) and deepemit.cpp (the
// expressions as instructions).
#pragma once
#include <cstdint>
#include <map>
#include <vector>

#include "compile/deepgen.h"

namespace quob::deepgen {

constexpr int32_t kX87Registers = kFloatStack;

// A constant that a double holds exactly is stored and loaded as one: the load is a single
// operation where an extended one is microcoded.
inline bool ExactDouble(long double v) {
    return static_cast<long double>(static_cast<double>(v)) == v;
}
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
    // Careful iterations: the fault test after an operation, and a product or square whose
    // operands make it overflow found before it runs (operands as ST indices; b -1 for one).
    void Checked();
    void CertainOverflow(int32_t a, int32_t b);
    TLabel FaultExit();
    // The iteration's parts: the full iterate's modulus on the stack, the differences' new values.
    void Modulus();
    void GlitchTest(TLabel glitch, const TLabel *careful);
    void Body();
    void PassTests(TLabel next, TLabel glitch, TLabel escaped, TLabel done, TLabel between);
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
        if (extendedRecords_) {
            emit_.fld_m80(
                Mem::Based(values_ == TRecordValues::kDouble ? EBP : ESI, kRealWidth * slot));
            return;
        }
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
    bool careful_ = false;                  // careful iterations are being emitted
    bool extendedRecords_ = false;          // the tests after a pass read the extended records
    std::map<int32_t, TLabel> faultExits_;  // by the number of registers live at the fault
    std::map<long double, uint32_t> constants_;
    std::map<int32_t, uint32_t> temps_;
    uint32_t cellsEnd_ = 0;
};

}  // namespace quob::deepgen
