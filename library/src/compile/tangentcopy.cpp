// The tangent's execution copy. One iteration is first written as a graph of values: the body's,
// word by word with the instruction the record's code uses, and then their derivatives by the
// rules of tangent.cpp, each an operation of the same operands in the same roles as the record's.
// Only where a value lives differs, and an x87 value is the same whether it stayed in a register
// or went to an 80-bit cell and came back, so every value and every flag is the record's.
//
// The values are then placed: a simulated x87 stack tells where each one is; an operation takes
// its operands from any register (FLD ST(i) where an operand is still needed, FXCH where it dies
// here), and when the eight are full the value needed last leaves them (dropped where a cell holds
// it, else stored to a spill cell of its own). The loop's values (the fed-back parameters and
// their derivatives, then the parameters that never change) wait for the next iteration in the
// registers at the bottom of the stack, as many of them as pays; the rest stay in their cells.
// A single literal, 0 or 1 is an instruction's memory operand where it is in no register (the
// conversion is exact, and raises what FLD raises). Derivatives that no later iteration reads are
// left out: they could only raise flags, which the record clears.
//
// The careful iteration computes the body, tests its flags, then the derivatives, and clears
// theirs, as the record does. Between guards (TPasses) the iterations look at no flag, and each
// body value is computed just before its first use, the results last.
#include "compile/tangentcopy.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <functional>
#include <vector>

#include "compile/bounds.h"
#include "compile/emitter.h"
#include "compile/keywords.h"
#include "compile/sampleloop.h"
#include "compile/tangent.h"

namespace quob {
namespace {

constexpr int32_t kW = 10;
constexpr int32_t kRegisters = 8;
constexpr uint8_t kFaultFlags = 0x0F;
constexpr int32_t kTemporary = -2;  // a register an operation is about to overwrite
constexpr int32_t kTestRegisters = 3;

enum class K : uint8_t {
    Cell80,  // a value in a cell the loop never writes: a literal, a constant, a parameter
    Cell32,  // a single literal
    State,   // a fed-back parameter or derivative as the iteration starts
    Zero,    // FLDZ, FLD1, FLDL2E, FLDLN2
    One,
    Log2E,
    Ln2,
    Add,  // a + b, a - b, a · b, a / b
    Sub,
    Mul,
    Div,
    Rem,  // with a in ST(0) and b in ST(1): FPREM, FSCALE, FPATAN (atan(b / a)), FYL2X (b log2 a)
    Scale,
    Patan,
    YxLog2X,
    Neg,  // on a in ST(0)
    Abs,
    Sqrt,
    Sqr,
    Double,
    Sin,
    Cos,
    F2xm1,
    Int,
    Log2,
    Exp,
    SignOf,  // a with the sign of b, as the rule of "abs" gives it
    Touch,   // loads a denormal single literal where the record's code does: the flag it raises
};

bool IsSourceKind(K k) { return k <= K::Ln2; }
bool IsSingle(K k) { return k == K::Cell32 || k == K::Zero || k == K::One; }
bool IsLoadedByInstruction(K k) { return k >= K::Zero && k <= K::Ln2; }

struct TNode {
    K kind;
    int32_t a = -1, b = -1;
    uint32_t cell = 0;  // sources in a cell: the cell
};

// One iteration's values. The loop's slots: each fed-back parameter's value, then their
// derivatives, then the other parameters' values and derivatives.
struct TGraph {
    std::vector<TNode> nodes;
    std::vector<int32_t> order;  // the computed values in the order they are computed
    std::size_t bodyEnd = 0;     // order[0, bodyEnd): the body's values; then the fault test
    std::vector<int32_t> start;  // each slot's value as the iteration starts
    std::vector<int32_t> next;   // each slot's value for the next iteration
    std::vector<uint32_t> cell;  // each slot's cell
    int32_t stateSlots = 0;      // slots [0, stateSlots) change from iteration to iteration

    int32_t Source(K kind, uint32_t cell = 0) {
        nodes.push_back({kind, -1, -1, cell});
        return static_cast<int32_t>(nodes.size() - 1);
    }
    int32_t Op(K kind, int32_t a, int32_t b = -1) {
        nodes.push_back({kind, a, b, 0});
        order.push_back(static_cast<int32_t>(nodes.size() - 1));
        return order.back();
    }
};

// A value of the language's stack: its node, and whether it depends on the point.
struct TValue {
    int32_t value = -1;
    bool dependent = false;
};

// A keyword's operands (a the top, b the second) and value.
struct TStepOf {
    int16_t keyword;
    TValue a, b, r;
};

// The derivative by one part of the point with which the filler starts parameter p when it is not
// fed back: 1 for "x" by the real part and "y" by the imaginary part, else 0; -1 for parameters 0
// and 1, which it starts as the iterate (or at 0) where they are not fed back.
int8_t StartTangent(const TBody &body, int32_t p, int32_t part) {
    if (p < 2) return -1;
    return static_cast<int8_t>(p == body.Param(part == 0 ? "x" : "y"));
}

// Builds the graph of an iteration; the literals' and constants' cells from `cellsEnd` on.
class TGraphBuilder {
  public:
    TGraphBuilder(const TBody &body, uint32_t &cellsEnd, std::map<uint32_t, long double> &constants,
                  std::map<uint32_t, float> &singles)
        : body_(body), cellsEnd_(cellsEnd), constants_(constants), singles_(singles) {}

    void Build(TGraph &g, bool sweep);

  private:
    uint32_t NewCell() {
        const uint32_t at = cellsEnd_;
        cellsEnd_ += kW;
        return at;
    }
    void Word(TGraph &g, const TWord &w);
    int32_t &Derivative(int32_t node, int32_t part) {
        if (derived_.size() <= static_cast<std::size_t>(node))
            derived_.resize(static_cast<std::size_t>(node) + 1, {-1, -1});
        return derived_[static_cast<std::size_t>(node)][static_cast<std::size_t>(part)];
    }
    int32_t Rule(TGraph &g, const TStepOf &s, int32_t part);

    const TBody &body_;
    uint32_t &cellsEnd_;
    std::map<uint32_t, long double> &constants_;
    std::map<uint32_t, float> &singles_;
    std::vector<TValue> stack_, results_, params_;
    std::vector<TStepOf> steps_;
    std::vector<std::array<int32_t, 2>> derived_;  // each dependent node's derivatives
    int32_t zero_ = -1, one_ = -1, log2e_ = -1, ln2_ = -1;
};

void TGraphBuilder::Build(TGraph &g, bool sweep) {
    const int32_t p = body_.paramCount;
    const int32_t fedBack = std::min(p, body_.results);
    g.stateSlots = 3 * fedBack;
    // 0 and 1 also as singles, for the instructions that take an operand from memory.
    const uint32_t zero = NewCell(), one = NewCell();
    singles_[zero] = 0.0f;
    singles_[one] = 1.0f;
    zero_ = g.Source(K::Zero, zero);
    one_ = g.Source(K::One, one);
    log2e_ = g.Source(K::Log2E);
    ln2_ = g.Source(K::Ln2);
    auto addSlot = [&](uint32_t cell, bool state) {
        g.cell.push_back(cell);
        g.start.push_back(g.Source(state ? K::State : K::Cell80, cell));
    };
    for (int32_t k = 0; k < fedBack; ++k) addSlot(TTangentCells::kParams + kW * k, true);
    for (int32_t k = 0; k < fedBack; ++k)
        for (int32_t part = 0; part < 2; ++part) addSlot(TTangentCells::Tangent(p, k, part), true);
    for (int32_t k = fedBack; k < p; ++k) addSlot(TTangentCells::kParams + kW * k, false);
    for (int32_t k = fedBack; k < p; ++k)
        for (int32_t part = 0; part < 2; ++part) {
            addSlot(TTangentCells::Tangent(p, k, part), false);
            // The filler's start: the identity for "x" and "y", 0 for the rest.
            const int8_t known = StartTangent(body_, k, part);
            if (known >= 0) g.start.back() = known ? one_ : zero_;
        }
    auto valueSlot = [&](int32_t k) { return k < fedBack ? k : g.stateSlots + (k - fedBack); };
    auto tangentSlot = [&](int32_t k, int32_t part) {
        return k < fedBack ? fedBack + 2 * k + part
                           : g.stateSlots + (p - fedBack) + 2 * (k - fedBack) + part;
    };
    // Every parameter has its derivatives.
    for (int32_t k = 0; k < p; ++k) {
        const int32_t v = g.start[static_cast<std::size_t>(valueSlot(k))];
        for (int32_t part = 0; part < 2; ++part)
            Derivative(v, part) = g.start[static_cast<std::size_t>(tangentSlot(k, part))];
        params_.push_back({v, true});
    }
    for (const TWord &w : body_.words) Word(g, w);
    g.bodyEnd = g.order.size();

    // The derivatives: keyword by keyword, both parts, or part by part over all the keywords.
    auto run = [&](const TStepOf &s, int32_t part) {
        if (s.r.dependent) Derivative(s.r.value, part) = Rule(g, s, part);
    };
    if (sweep) {
        for (int32_t part = 0; part < 2; ++part)
            for (const TStepOf &s : steps_) run(s, part);
    } else {
        for (const TStepOf &s : steps_)
            for (int32_t part = 0; part < 2; ++part) run(s, part);
    }

    g.next = g.start;
    for (int32_t k = 0; k < fedBack; ++k) {
        const TValue &r = results_[static_cast<std::size_t>(k)];
        g.next[static_cast<std::size_t>(valueSlot(k))] = r.value;
        // The derivative of a result that does not depend on the point is 0.
        for (int32_t part = 0; part < 2; ++part)
            g.next[static_cast<std::size_t>(tangentSlot(k, part))] =
                r.dependent ? Derivative(r.value, part) : zero_;
    }
}

void TGraphBuilder::Word(TGraph &g, const TWord &w) {
    if (w.kind == TWord::kParam) {
        stack_.push_back(params_[static_cast<std::size_t>(w.index)]);
        return;
    }
    if (w.kind == TWord::kLiteral) {
        const uint32_t at = NewCell();
        if (w.extended) {
            constants_[at] = w.real;
            stack_.push_back({g.Source(K::Cell80, at)});
        } else {
            singles_[at] = static_cast<float>(w.real);
            stack_.push_back({g.Source(K::Cell32, at)});
            if (std::fpclassify(static_cast<float>(w.real)) == FP_SUBNORMAL)
                g.nodes[static_cast<std::size_t>(g.Op(K::Touch, -1))].cell = at;
        }
        return;
    }
    const TKeywordFacts &k = kFloatFacts[w.index];
    auto pop = [&] {
        const TValue v = stack_.back();
        stack_.pop_back();
        return v;
    };
    switch (k.stack) {
        case TStack::kConstant: {
            const uint32_t at = NewCell();
            constants_[at] = k.constant();
            stack_.push_back({g.Source(K::Cell80, at)});
            return;
        }
        case TStack::kCopy:
            stack_.push_back(stack_.back());
            return;
        case TStack::kSwap:
            std::swap(stack_[stack_.size() - 1], stack_[stack_.size() - 2]);
            return;
        case TStack::kDrop:
            stack_.pop_back();
            return;
        case TStack::kReturn:
            results_.push_back(pop());
            return;
        default:
            break;
    }
    TStepOf s{w.index, pop(), {}, {}};
    if (k.pops == 2) s.b = pop();
    static const std::map<int, K> kinds = {
        {kfAdd, K::Add},   {kfMul, K::Mul},     {kfSub, K::Sub},     {kfDiv, K::Div},
        {kfRem, K::Rem},   {kfScale, K::Scale}, {kfPatan, K::Patan}, {kfYxLog2X, K::YxLog2X},
        {kfNeg, K::Neg},   {kfAbs, K::Abs},     {kfSqrt, K::Sqrt},   {kfSqr, K::Sqr},
        {kfSin, K::Sin},   {kfCos, K::Cos},     {kf2Px, K::F2xm1},   {kfInt, K::Int},
        {kfLog2, K::Log2}, {kfExp, K::Exp}};
    s.r.value = g.Op(kinds.at(w.index), s.a.value, k.pops == 2 ? s.b.value : -1);
    // The scaled value's derivative is its operand's scaled: the exponent's steps.
    s.r.dependent = w.index == kfScale ? s.a.dependent : s.a.dependent || s.b.dependent;
    if (w.index == kfScale) stack_.push_back(s.b);
    stack_.push_back(s.r);
    steps_.push_back(s);
}

// The derivative of a step's value by one part of the point, as the record's rule computes it.
int32_t TGraphBuilder::Rule(TGraph &g, const TStepOf &s, int32_t part) {
    const int32_t a = s.a.value, b = s.b.value, r = s.r.value;
    const int32_t da = s.a.dependent ? Derivative(a, part) : -1;
    const int32_t db = s.b.dependent ? Derivative(b, part) : -1;
    switch (s.keyword) {
        case kfAdd:
            return da >= 0 && db >= 0 ? g.Op(K::Add, da, db) : da >= 0 ? da : db;
        case kfSub:
            return da >= 0 && db >= 0 ? g.Op(K::Sub, da, db) : da >= 0 ? da : g.Op(K::Neg, db);
        case kfNeg:
            return g.Op(K::Neg, da);
        case kfMul: {
            const int32_t first = da >= 0 ? g.Op(K::Mul, da, b) : -1;
            const int32_t second = db >= 0 ? g.Op(K::Mul, db, a) : -1;
            return first >= 0 && second >= 0 ? g.Op(K::Add, first, second)
                   : first >= 0              ? first
                                             : second;
        }
        case kfSqr:
            return g.Op(K::Mul, g.Op(K::Double, a), da);
        case kfDiv: {  // (da - r db) / b
            int32_t top = da;
            if (db >= 0) {
                const int32_t rdb = g.Op(K::Mul, db, r);
                top = da >= 0 ? g.Op(K::Sub, da, rdb) : g.Op(K::Neg, rdb);
            }
            return g.Op(K::Div, top, b);
        }
        case kfRem: {  // da - q db, q = (a - r) / b rounded
            if (db < 0) return da;
            const int32_t q = g.Op(K::Int, g.Op(K::Div, g.Op(K::Sub, a, r), b));
            const int32_t qdb = g.Op(K::Mul, q, db);
            return da >= 0 ? g.Op(K::Sub, da, qdb) : g.Op(K::Neg, qdb);
        }
        case kfAbs:
            return g.Op(K::SignOf, da, a);
        case kfScale:
            return g.Op(K::Scale, da, b);
        case kfSqrt:
            return g.Op(K::Div, da, g.Op(K::Double, r));
        case kfSin:
            return g.Op(K::Mul, g.Op(K::Cos, a), da);
        case kfCos:
            return g.Op(K::Mul, g.Op(K::Neg, g.Op(K::Sin, a)), da);
        case kf2Px:
            return g.Op(K::Mul, g.Op(K::Mul, g.Op(K::Add, r, one_), ln2_), da);
        case kfExp:
            return g.Op(K::Mul, r, da);
        case kfPatan: {  // (a db - b da) / (a² + b²)
            const int32_t adb = db >= 0 ? g.Op(K::Mul, db, a) : -1;
            int32_t top = adb;
            if (da >= 0) {
                const int32_t bda = g.Op(K::Mul, da, b);
                top = adb >= 0 ? g.Op(K::Sub, adb, bda) : g.Op(K::Neg, bda);
            }
            return g.Op(K::Div, top, g.Op(K::Add, g.Op(K::Sqr, a), g.Op(K::Sqr, b)));
        }
        case kfYxLog2X: {  // db log2(a) + b log2(e) da / a
            const int32_t first = db >= 0 ? g.Op(K::Mul, g.Op(K::YxLog2X, a, one_), db) : -1;
            const int32_t second =
                da >= 0 ? g.Op(K::Div, g.Op(K::Mul, g.Op(K::Mul, da, b), log2e_), a) : -1;
            return first >= 0 && second >= 0 ? g.Op(K::Add, first, second)
                   : first >= 0              ? first
                                             : second;
        }
        default:  // "int", "log2": the value steps, its derivative is 0
            return zero_;
    }
}

// Places a graph's values in the registers and emits the passes. `held` tells the slots that
// wait in the registers between iterations (bottom first in slot order).
class TPlacer {
  public:
    TPlacer(const TGraph &g, const std::vector<bool> &held, TEmitter &emit, uint32_t &cellsEnd);

    // The held slots from their cells into the registers.
    void Enter();
    // One iteration from the held registers back to them. Careful: the body's flags are tested
    // before the derivatives (a fault goes to an exit that FaultExits emits) and the
    // derivatives' own cleared. Otherwise no flag is looked at.
    void Iteration(bool careful);
    // The held slots [from, to), top first, to their cells (those that never change dropped).
    void StoreHeld(int32_t from, int32_t to);
    void PassTests(TLabel next, TLabel escaped, TLabel done);
    void FaultExits();

    int32_t Held() const { return static_cast<int32_t>(canonical_.size()); }
    // Where held slot k is with `above` values pushed on the held ones; -1 for one not held.
    int32_t HeldPosition(int32_t slot, int32_t above) const {
        for (std::size_t k = 0; k < canonical_.size(); ++k)
            if (canonical_[k] == slot) return Held() - 1 - static_cast<int32_t>(k) + above;
        return -1;
    }
    bool Failed() const { return failed_; }
    // The cost of what was emitted since the last call.
    double TakeCost() {
        const double c = cost_;
        cost_ = 0;
        return c;
    }

  private:
    int32_t Depth() const { return static_cast<int32_t>(st_.size()); }
    int32_t &At(int32_t i) { return st_[st_.size() - 1 - static_cast<std::size_t>(i)]; }
    int32_t Pos(int32_t id) const {
        for (int32_t i = 0; i < Depth(); ++i)
            if (st_[st_.size() - 1 - static_cast<std::size_t>(i)] == id) return i;
        return -1;
    }
    // The position in the iteration of the value's next use after the current operation.
    int32_t NextUse(int32_t id) const {
        const auto &u = uses_[static_cast<std::size_t>(id)];
        const auto it = std::upper_bound(u.begin(), u.end(), t_);
        return it == u.end() ? INT_MAX : *it;
    }
    bool Dies(int32_t id) const { return NextUse(id) == INT_MAX; }
    bool FromSingle(int32_t id) const {
        return IsSingle(g_.nodes[static_cast<std::size_t>(id)].kind);
    }
    void Count(double c) {
        if (counting_) cost_ += c;
    }

    void Load(int32_t id);
    void Fxch(int32_t i);
    void Free(int32_t i);
    void Evict(int32_t i);
    void MakeRoom(int32_t n, std::initializer_list<int32_t> keep);
    void FreeDead();
    void TakeTop(int32_t id);
    void PushCopy(int32_t id);
    void Place(int32_t id);
    void Arithmetic(const TNode &n, int32_t id);
    void FixedPair(const TNode &n, int32_t id);
    void EndOfIteration();
    void Uses(const std::vector<int32_t> &order);

    const TGraph &g_;
    const std::vector<bool> &held_;
    std::vector<int32_t> canonical_;  // the held slots, bottom first
    TEmitter &emit_;
    uint32_t &cellsEnd_;
    std::vector<int32_t> st_;  // the simulated x87 stack, bottom first
    std::vector<std::vector<int32_t>> uses_;
    std::vector<uint8_t> inCell_;
    std::vector<int32_t> carefulOrder_, fastOrder_;
    std::vector<uint32_t> cellOf_;
    int32_t t_ = 0;
    bool failed_ = false, counting_ = true;
    double cost_ = 0;
    std::map<int32_t, TLabel> faultExits_;  // by the registers in use at the fault
};

// The costs that pick a placement: memory traffic in 80-bit cells above all.
constexpr double kLoad80 = 3, kStore80 = 6, kLoad32 = 1, kRegisterOp = 0.5, kOperation = 1;

void TPlacer::Load(int32_t id) {
    const TNode &n = g_.nodes[static_cast<std::size_t>(id)];
    switch (n.kind) {
        case K::Zero:
            emit_.fldz();
            break;
        case K::One:
            emit_.fld1();
            break;
        case K::Log2E:
            emit_.fldl2e();
            break;
        case K::Ln2:
            emit_.fldln2();
            break;
        case K::Cell32:
            emit_.fld_m32(Mem::Cell(n.cell));
            break;
        default:
            if (!inCell_[static_cast<std::size_t>(id)]) {
                failed_ = true;
                return;
            }
            emit_.fld_m80(Mem::Cell(cellOf_[static_cast<std::size_t>(id)]));
            Count(kLoad80);
            st_.push_back(id);
            return;
    }
    Count(n.kind == K::Cell32 ? kLoad32 : kRegisterOp);
    st_.push_back(id);
}

void TPlacer::Fxch(int32_t i) {
    if (i == 0) return;
    emit_.fxch_st(i);
    std::swap(At(0), At(i));
    Count(0.1);
}

// Removes ST(i): FSTP ST(i) leaves the top's value in its place.
void TPlacer::Free(int32_t i) {
    emit_.fstp_st(i);
    if (i != 0) At(i) = At(0);
    st_.pop_back();
    Count(kRegisterOp);
}

// Takes ST(i) out of the registers: dropped where a cell holds it or an instruction loads it,
// else stored to its spill cell.
void TPlacer::Evict(int32_t i) {
    const auto id = static_cast<std::size_t>(At(i));
    const K kind = g_.nodes[id].kind;
    if (inCell_[id] || IsLoadedByInstruction(kind) || kind == K::Cell32) {
        Free(i);
        return;
    }
    if (cellOf_[id] == 0) {
        cellOf_[id] = cellsEnd_;
        cellsEnd_ += kW;
    }
    Fxch(i);
    emit_.fstp_m80(Mem::Cell(cellOf_[id]));
    Count(kStore80);
    st_.pop_back();
    inCell_[id] = 1;
}

// Room for n more registers: the values needed last leave, except those kept.
void TPlacer::MakeRoom(int32_t n, std::initializer_list<int32_t> keep) {
    while (!failed_ && Depth() + n > kRegisters) {
        int32_t victim = -1, latest = -1;
        for (int32_t i = 0; i < Depth(); ++i) {
            const int32_t id = At(i);
            if (id < 0 || std::find(keep.begin(), keep.end(), id) != keep.end()) continue;
            if (NextUse(id) > latest) {
                latest = NextUse(id);
                victim = i;
            }
        }
        if (victim < 0) {
            failed_ = true;
            return;
        }
        Evict(victim);
    }
}

void TPlacer::FreeDead() {
    for (int32_t i = 0; i < Depth();)
        if (At(i) >= 0 && Dies(At(i)))
            Free(i);
        else
            ++i;
}

// Puts a register that the operation may overwrite, holding the value, on top: the value's own
// where it dies here, else a copy. The room is made.
void TPlacer::TakeTop(int32_t id) {
    if (const int32_t i = Pos(id); i >= 0 && Dies(id))
        Fxch(i);
    else
        PushCopy(id);
    if (!failed_) At(0) = kTemporary;
}

// Pushes a copy of the value: from its register, else loaded.
void TPlacer::PushCopy(int32_t id) {
    if (const int32_t i = Pos(id); i >= 0) {
        emit_.fld_st(i);
        st_.push_back(id);
        Count(kRegisterOp);
    } else {
        Load(id);
    }
}

void TPlacer::Arithmetic(const TNode &n, int32_t id) {
    const int32_t a = n.a, b = n.b;
    if (a == b) {
        MakeRoom(Pos(a) >= 0 && Dies(a) ? 0 : 1, {a});
        TakeTop(a);
        switch (n.kind) {
            case K::Add:
                emit_.fadd_st0_st(0);
                break;
            case K::Sub:
                emit_.fsub_st0_st(0);
                break;
            case K::Mul:
                emit_.fmul_st0_st(0);
                break;
            default:
                emit_.fdiv_st0_st(0);
                break;
        }
    } else if (const int32_t y = FromSingle(a) ? a : FromSingle(b) ? b : -1; y >= 0 && Pos(y) < 0) {
        // A single, 0 or 1 as the instruction's memory operand: converted exactly, as FLD would.
        const int32_t x = y == a ? b : a;
        MakeRoom(Pos(x) >= 0 && Dies(x) ? 0 : 1, {x});
        TakeTop(x);
        if (failed_) return;
        const Mem m = Mem::Cell(g_.nodes[static_cast<std::size_t>(y)].cell);
        switch (n.kind) {
            case K::Add:
                emit_.fadd_m32(m);
                break;
            case K::Mul:
                emit_.fmul_m32(m);
                break;
            case K::Sub:
                y == b ? emit_.fsub_m32(m) : emit_.fsubr_m32(m);
                break;
            default:
                y == b ? emit_.fdiv_m32(m) : emit_.fdivr_m32(m);
                break;
        }
        Count(kOperation + kLoad32 / 2);
    } else if (const int32_t ia = Pos(a), ib = Pos(b);
               ia >= 0 && ib >= 0 && (ia == 0 || ib == 0) && Dies(ia == 0 ? b : a)) {
        // One operand on top, the other dying below it: the value takes the other's register, and
        // the top goes where it dies too.
        const bool topIsA = ia == 0;
        const int32_t i = topIsA ? ib : ia;
        const bool pop = Dies(topIsA ? a : b);
        switch (n.kind) {
            case K::Add:
                emit_.fadd_st_st0(i, pop);
                break;
            case K::Mul:
                emit_.fmul_st_st0(i, pop);
                break;
            case K::Sub:
                topIsA ? emit_.fsubr_st_st0(i, pop) : emit_.fsub_st_st0(i, pop);
                break;
            default:
                topIsA ? emit_.fdivr_st_st0(i, pop) : emit_.fdiv_st_st0(i, pop);
                break;
        }
        At(i) = id;
        if (pop) st_.pop_back();
        Count(kOperation);
        return;
    } else {
        // The operand overwritten: one that dies here and is in a register, else one to load.
        const bool aFree = Pos(a) >= 0 && Dies(a), bFree = Pos(b) >= 0 && Dies(b);
        const bool overA = aFree || (!bFree && (Pos(a) < 0 || Pos(b) >= 0));
        const int32_t x = overA ? a : b, y = overA ? b : a;
        const bool xInPlace = overA ? aFree : bFree;
        MakeRoom((Pos(y) < 0 ? 1 : 0) + (xInPlace ? 0 : 1), {a, b});
        if (Pos(y) < 0) Load(y);
        TakeTop(x);
        if (failed_) return;
        const int32_t iy = Pos(y);
        switch (n.kind) {
            case K::Add:
                emit_.fadd_st0_st(iy);
                break;
            case K::Mul:
                emit_.fmul_st0_st(iy);
                break;
            case K::Sub:
                overA ? emit_.fsub_st0_st(iy) : emit_.fsubr_st0_st(iy);
                break;
            default:
                overA ? emit_.fdiv_st0_st(iy) : emit_.fdivr_st0_st(iy);
                break;
        }
    }
    Count(kOperation);
    At(0) = id;
}

// An operation of a in ST(0) and b in ST(1), on copies of them.
void TPlacer::FixedPair(const TNode &n, int32_t id) {
    const int32_t a = n.a, b = n.b;
    MakeRoom(2, {a, b});
    for (const int32_t v : {b, a}) {
        PushCopy(v);
        if (failed_) return;
        At(0) = kTemporary;
    }
    switch (n.kind) {
        case K::Rem:
            emit_.fprem();
            emit_.fstp_st(1);
            break;
        case K::Scale:
            emit_.fscale();
            emit_.fstp_st(1);
            break;
        case K::Patan:
            emit_.fpatan();
            break;
        default:
            emit_.fyl2x();
            break;
    }
    st_.pop_back();
    Count(kOperation * 2);
    At(0) = id;
}

void TPlacer::Place(int32_t id) {
    const TNode &n = g_.nodes[static_cast<std::size_t>(id)];
    switch (n.kind) {
        case K::Add:
        case K::Sub:
        case K::Mul:
        case K::Div:
            Arithmetic(n, id);
            break;
        case K::Rem:
        case K::Scale:
        case K::Patan:
        case K::YxLog2X:
            FixedPair(n, id);
            break;
        case K::Touch:
            MakeRoom(1, {});
            emit_.fld_m32(Mem::Cell(n.cell));
            emit_.fstp_st(0);
            Count(kLoad32);
            break;
        case K::SignOf: {  // the record's: a with b's sign, b compared with 0
            MakeRoom((Pos(n.a) >= 0 && Dies(n.a) ? 0 : 1) + 2, {n.a, n.b});
            TakeTop(n.a);
            if (failed_) return;
            emit_.fldz();
            st_.push_back(kTemporary);
            const int32_t i = Pos(n.b);
            if (i < 0) {
                Load(n.b);
            } else {
                emit_.fld_st(i);
                st_.push_back(kTemporary);
            }
            if (failed_) return;
            const TLabel positive = emit_.NewLabel();
            emit_.fucomip_st(1);  // b below 0
            emit_.fstp_st(0);
            st_.pop_back();
            st_.pop_back();
            emit_.jcc(Cond::AE, positive);
            emit_.fchs();
            emit_.Bind(positive);
            Count(kOperation * 4);
            At(0) = id;
            break;
        }
        default: {  // on a in ST(0), with the registers the instructions use besides
            const int32_t scratch = n.kind == K::Exp ? 2 : n.kind == K::Log2 ? 1 : 0;
            MakeRoom((Pos(n.a) >= 0 && Dies(n.a) ? 0 : 1) + scratch, {n.a});
            TakeTop(n.a);
            if (failed_) return;
            switch (n.kind) {
                case K::Neg:
                    emit_.fchs();
                    break;
                case K::Abs:
                    emit_.fabs();
                    break;
                case K::Sqrt:
                    emit_.fsqrt();
                    break;
                case K::Sqr:
                    emit_.fmul_st0_st(0);
                    break;
                case K::Double:
                    emit_.fadd_st0_st(0);
                    break;
                case K::Sin:
                    emit_.fsin();
                    break;
                case K::Cos:
                    emit_.fcos();
                    break;
                case K::F2xm1:
                    emit_.f2xm1();
                    break;
                case K::Int:
                    emit_.frndint();
                    break;
                case K::Log2:
                    emit_.fxtract();
                    emit_.ffree_st(0);
                    emit_.fincstp();
                    break;
                default:  // "exp", as the record's code computes it
                    emit_.exp_st0();
                    break;
            }
            Count(kOperation * (n.kind == K::Exp ? 8 : 1));
            At(0) = id;
            break;
        }
    }
}

// The values of the next iteration to their places: the slots not held to their cells, the held
// ones to the registers in their order, nothing else left.
void TPlacer::EndOfIteration() {
    const std::size_t slots = g_.next.size();
    // A value that only a fed-back slot's cell holds is read before the cells are written, and
    // from then on those cells hold no value of this iteration.
    auto inOwnCell = [&](int32_t v) {
        const auto id = static_cast<std::size_t>(v);
        const TNode &n = g_.nodes[id];
        return n.kind == K::State && inCell_[id] && cellOf_[id] == n.cell;
    };
    for (std::size_t s = 0; s < slots && !failed_; ++s) {
        const int32_t v = g_.next[s];
        if (inOwnCell(v) && Pos(v) < 0) {
            MakeRoom(1, {});
            Load(v);
        }
    }
    for (std::size_t s = 0; s < static_cast<std::size_t>(g_.stateSlots); ++s)
        if (inOwnCell(g_.start[s])) inCell_[static_cast<std::size_t>(g_.start[s])] = 0;
    for (std::size_t s = 0; s < static_cast<std::size_t>(g_.stateSlots) && !failed_; ++s) {
        if (held_[s]) continue;
        const int32_t v = g_.next[s];
        bool later = false;  // wanted again: by a held slot or a later one
        for (std::size_t o = 0; o < slots; ++o)
            if (o != s && g_.next[o] == v && (held_[o] || o > s)) later = true;
        const int32_t i = Pos(v);
        if (i >= 0 && !later) {
            Fxch(i);
        } else {
            MakeRoom(1, {v});
            if (failed_) return;
            PushCopy(v);
        }
        if (failed_) return;
        emit_.fstp_m80(Mem::Cell(g_.cell[s]));
        Count(kStore80);
        st_.pop_back();
        // The slot's cell now holds the next iteration's value.
        inCell_[static_cast<std::size_t>(g_.start[s])] = 0;
    }
    // The held slots' values, each as often as the slots want it, and nothing else.
    std::vector<int32_t> wanted;
    for (const int32_t s : canonical_) wanted.push_back(g_.next[static_cast<std::size_t>(s)]);
    for (int32_t i = 0; i < Depth();) {
        const int32_t id = At(i);
        const auto want = std::count(wanted.begin(), wanted.end(), id);
        const auto have = std::count(st_.begin(), st_.end(), id);
        if (have > want)
            Free(i);
        else
            ++i;
    }
    for (const int32_t v : wanted) {
        if (std::count(st_.begin(), st_.end(), v) >= std::count(wanted.begin(), wanted.end(), v))
            continue;
        if (Depth() >= kRegisters) {
            failed_ = true;
            return;
        }
        PushCopy(v);
        if (failed_) return;
    }
    // In order, bottom up: each place gets its value from one of those above it.
    const auto h = static_cast<int32_t>(wanted.size());
    for (int32_t i = h - 1; i >= 1; --i) {
        const int32_t want = wanted[static_cast<std::size_t>(h - 1 - i)];
        if (At(i) == want) continue;
        int32_t j = 0;
        while (At(j) != want) ++j;
        Fxch(j);
        Fxch(i);
    }
}

// Stores the held slots [from, to) from the registers, top first, to their cells (those that
// never change are dropped).
void TPlacer::StoreHeld(int32_t from, int32_t to) {
    for (int32_t k = to - 1; k >= from; --k) {
        const auto s = static_cast<std::size_t>(canonical_[static_cast<std::size_t>(k)]);
        if (static_cast<int32_t>(s) < g_.stateSlots)
            emit_.fstp_m80(Mem::Cell(g_.cell[s]));
        else
            emit_.fstp_st(0);
    }
}

// After a pass, as the record tests it: the pass counted, the iterate's modulus abs(re) + abs(im)
// against MaxModule and, as a float, against the last pass's (Differential); on to `next` while
// passes are left. The held slots that leave no room for the tests wait in their cells meanwhile
// (the escaped and done exits find them there).
void TPlacer::PassTests(TLabel next, TLabel escaped, TLabel done) {
    const auto h = static_cast<int32_t>(canonical_.size());
    const int32_t kept = std::min(h, kRegisters - kTestRegisters);
    StoreHeld(kept, h);
    const int32_t depth = kept;
    auto value = [&](int32_t p, int32_t above) {
        const auto slot = static_cast<int32_t>(p < g_.stateSlots / 3 ? p : -1);
        for (int32_t k = 0; k < kept; ++k)
            if (slot >= 0 && canonical_[static_cast<std::size_t>(k)] == slot) {
                emit_.fld_st(depth - 1 - k + above);
                return;
            }
        emit_.fld_m80(Mem::Cell(TTangentCells::kParams + static_cast<uint32_t>(kW * p)));
    };
    const TLabel reload = emit_.NewLabel(), leaveEscaped = emit_.NewLabel();
    const TLabel leaveDone = emit_.NewLabel();
    EmitTangentPassTests(emit_, value, reload, leaveEscaped, leaveDone);
    emit_.Bind(reload);
    for (int32_t k = kept; k < h; ++k)
        emit_.fld_m80(
            Mem::Cell(g_.cell[static_cast<std::size_t>(canonical_[static_cast<std::size_t>(k)])]));
    emit_.jmp(next, JumpForm::Near);
    emit_.Bind(leaveDone);
    StoreHeld(0, kept);
    emit_.jmp(done, JumpForm::Near);
    emit_.Bind(leaveEscaped);
    StoreHeld(0, kept);
    emit_.jmp(escaped, JumpForm::Near);
}

TPlacer::TPlacer(const TGraph &g, const std::vector<bool> &held, TEmitter &emit, uint32_t &cellsEnd)
    : g_(g), held_(held), emit_(emit), cellsEnd_(cellsEnd) {
    for (std::size_t s = 0; s < held.size(); ++s)
        if (held[s]) canonical_.push_back(static_cast<int32_t>(s));
    const std::size_t nodes = g_.nodes.size();
    cellOf_.assign(nodes, 0);
    // Every value of the body is computed (its flags decide the faults), of the derivatives only
    // those the next iteration reads: the rest could only raise flags that are cleared.
    std::vector<uint8_t> live(nodes, 0);
    for (const int32_t v : g_.next) live[static_cast<std::size_t>(v)] = 1;
    for (std::size_t t = g_.order.size(); t-- > 0;) {
        const auto id = static_cast<std::size_t>(g_.order[t]);
        if (t < g_.bodyEnd) live[id] = 1;
        if (!live[id]) continue;
        for (const int32_t v : {g_.nodes[id].a, g_.nodes[id].b})
            if (v >= 0) live[static_cast<std::size_t>(v)] = 1;
    }
    // Careful: the body, then the derivatives. Otherwise each body value just before its first
    // use, the results last, so that fewer values wait in the registers.
    for (const int32_t id : g_.order)
        if (live[static_cast<std::size_t>(id)]) carefulOrder_.push_back(id);
    std::vector<uint8_t> placed(nodes, 0);
    std::function<void(int32_t)> place = [&](int32_t id) {
        const auto at = static_cast<std::size_t>(id);
        if (placed[at]) return;
        placed[at] = 1;
        for (const int32_t v : {g_.nodes[at].a, g_.nodes[at].b})
            if (v >= 0 && !IsSourceKind(g_.nodes[static_cast<std::size_t>(v)].kind)) place(v);
        fastOrder_.push_back(id);
    };
    for (std::size_t t = g_.bodyEnd; t < carefulOrder_.size(); ++t) place(carefulOrder_[t]);
    for (std::size_t t = 0; t < g_.bodyEnd; ++t) place(carefulOrder_[t]);
}

// The uses of every value in the order of an iteration, the next iteration's at its end.
void TPlacer::Uses(const std::vector<int32_t> &order) {
    uses_.assign(g_.nodes.size(), {});
    const auto end = static_cast<int32_t>(order.size());
    for (int32_t t = 0; t < end; ++t) {
        const auto id = static_cast<std::size_t>(order[static_cast<std::size_t>(t)]);
        for (const int32_t v : {g_.nodes[id].a, g_.nodes[id].b})
            if (v >= 0) uses_[static_cast<std::size_t>(v)].push_back(t);
    }
    for (const int32_t v : g_.next) uses_[static_cast<std::size_t>(v)].push_back(end);
}

void TPlacer::Enter() {
    for (const int32_t s : canonical_)
        emit_.fld_m80(Mem::Cell(g_.cell[static_cast<std::size_t>(s)]));
}

void TPlacer::Iteration(bool careful) {
    const std::size_t nodes = g_.nodes.size();
    inCell_.assign(nodes, 0);
    for (std::size_t id = 0; id < nodes; ++id) {
        const TNode &n = g_.nodes[id];
        if (n.kind == K::Cell80 || n.kind == K::State) {
            inCell_[id] = 1;
            cellOf_[id] = n.cell;
        }
    }
    st_.clear();
    for (const int32_t s : canonical_) {
        const int32_t v = g_.start[static_cast<std::size_t>(s)];
        st_.push_back(v);
        // A fed-back slot held in a register has no cell of its own from the second iteration on.
        if (s < g_.stateSlots) inCell_[static_cast<std::size_t>(v)] = 0;
    }
    const std::vector<int32_t> &order = careful ? carefulOrder_ : fastOrder_;
    Uses(order);
    const auto end = static_cast<int32_t>(order.size());
    t_ = -1;
    FreeDead();
    auto faultTest = [&] {
        // The body's flags decide the sample: a fault ends the pass.
        emit_.fnstsw_ax();
        emit_.test_al_imm8(kFaultFlags);
        auto found = faultExits_.find(Depth());
        if (found == faultExits_.end())
            found = faultExits_.emplace(Depth(), emit_.NewLabel()).first;
        emit_.jcc(Cond::NE, found->second, JumpForm::Near);
        Count(kOperation * 4);
    };
    for (int32_t t = 0; t < end && !failed_; ++t) {
        if (careful && static_cast<std::size_t>(t) == g_.bodyEnd) faultTest();
        t_ = t;
        Place(order[static_cast<std::size_t>(t)]);
        FreeDead();
    }
    if (careful) {
        if (g_.bodyEnd == order.size()) faultTest();
        // The derivatives' own flags are no faults.
        emit_.clear_flags_if_set(kFaultFlags);
        Count(kOperation * 4);
    }
    t_ = end;
    EndOfIteration();
}

void TPlacer::FaultExits() {
    for (const auto &[depth, label] : faultExits_) {
        emit_.Bind(label);
        for (int32_t i = 0; i < depth; ++i) emit_.fstp_st(0);
        emit_.mov_m_imm(Mem::Cell(TTangentCells::kStatus), kTangentFault);
        emit_.ret();
    }
}

// The passes, each of `blockLength` iterations. Where the body's magnitudes can be bounded
// (GuardExponent), a pass runs its iterations in groups of kGuardGroup, each after a guard that
// compares the fed-back values (and once a sample its other parameters) with the bound: within
// it the body can compute no value beyond extended range, so its iterations run without looking
// at the flags, and one test after the group finds every flag of the body and of the
// derivatives. Where it finds one, the group's body alone runs again from the values saved by the
// guard, and its flags tell whether the body faulted (the sample ends) or only the derivatives
// raised them (the group's results stand). A guard that fails, or a body without a bound, runs the
// careful iterations, which test the body's flags after each.
class TPasses {
  public:
    TPasses(const TGraph &g, const TGraph &body, const std::vector<bool> &held, TEmitter &emit,
            uint32_t &cellsEnd, int32_t guard)
        : g_(g),
          emit_(emit),
          main_(g, held, emit, cellsEnd),
          none_(held.size(), false),
          body_(body, none_, emit, cellsEnd),
          guard_(guard) {}

    // Emits them; false where the values do not fit the registers. `cost` is an iteration's, with
    // a group's and a pass's own work shared among their iterations.
    bool Compile(int32_t blockLength, const std::vector<uint32_t> &saved, uint32_t guardOff,
                 double &cost);

  private:
    void Group(int32_t n, const std::vector<uint32_t> &saved, TLabel careful, double &cost);

    const TGraph &g_;
    TEmitter &emit_;
    TPlacer main_;
    std::vector<bool> none_;
    TPlacer body_;
    int32_t guard_;
    std::vector<std::pair<TLabel, TLabel>> resolve_;  // a group's flags found: where, back to
    std::vector<int32_t> resolveLength_;
};

constexpr int32_t kBias = 16383;

// The guard and the fast iterations of one group of n; a flag found goes to its resolution.
void TPasses::Group(int32_t n, const std::vector<uint32_t> &saved, TLabel careful, double &cost) {
    const int32_t fedBack = g_.stateSlots / 3;
    for (int32_t k = 0; k < fedBack; ++k) {
        const int32_t at = main_.HeldPosition(k, 0);
        const Mem save = Mem::Cell(saved[static_cast<std::size_t>(k)]);
        at >= 0 ? emit_.fld_st(at) : emit_.fld_m80(Mem::Cell(g_.cell[static_cast<std::size_t>(k)]));
        emit_.fstp_m80(save);
        emit_.movzx_r_m16(EAX, Mem::Cell(saved[static_cast<std::size_t>(k)] + 8));
        emit_.and_eax_imm32(0x7FFF);
        emit_.cmp_r_imm(EAX, guard_ + kBias);
        emit_.jcc(Cond::AE, careful, JumpForm::Near);
    }
    cost += (kStore80 + 4) * fedBack / n;
    const TLabel loop = emit_.NewLabel(), found = emit_.NewLabel(), back = emit_.NewLabel();
    if (n > 1) emit_.mov_r_imm(ECX, static_cast<uint32_t>(n));
    emit_.Bind(loop);
    main_.Iteration(false);
    cost += main_.TakeCost();
    if (n > 1) {
        emit_.dec_r(ECX);
        emit_.jcc(Cond::NE, loop, JumpForm::Near);
    }
    emit_.fnstsw_ax();
    emit_.test_al_imm8(kFaultFlags);
    emit_.jcc(Cond::NE, found, JumpForm::Near);
    emit_.Bind(back);
    cost += kOperation * 4 / n;
    resolve_.push_back({found, back});
    resolveLength_.push_back(n);
}

bool TPasses::Compile(int32_t blockLength, const std::vector<uint32_t> &saved, uint32_t guardOff,
                      double &cost) {
    const TLabel pass = emit_.NewLabel(), escaped = emit_.NewLabel(), done = emit_.NewLabel();
    const TLabel careful = emit_.NewLabel(), tests = emit_.NewLabel();
    emit_.mov_m_imm(Mem::Cell(TTangentCells::kStatus), kTangentDone);
    // The flags of what ran before the sample are no faults of it.
    emit_.mov_m_imm(Mem::Cell(TTangentCells::kPrevious), 0);
    emit_.clear_flags_if_set(kFaultFlags);
    const bool guarded = guard_ >= 0;
    if (guarded) {
        // The parameters that never change: within the bound, or no group runs in this sample.
        const TLabel off = emit_.NewLabel(), on = emit_.NewLabel();
        const int32_t fedBack = g_.stateSlots / 3;
        for (std::size_t s = static_cast<std::size_t>(g_.stateSlots);
             s < static_cast<std::size_t>(g_.stateSlots) + (g_.cell.size() - g_.stateSlots) / 3;
             ++s) {
            emit_.movzx_r_m16(EAX, Mem::Cell(g_.cell[s] + 8));
            emit_.and_eax_imm32(0x7FFF);
            emit_.cmp_r_imm(EAX, guard_ + kBias);
            emit_.jcc(Cond::AE, off);
        }
        (void)fedBack;
        emit_.mov_m_imm(Mem::Cell(guardOff), 0);
        emit_.jmp(on);
        emit_.Bind(off);
        emit_.mov_m_imm(Mem::Cell(guardOff), 1);
        emit_.Bind(on);
    }
    main_.Enter();
    main_.TakeCost();
    emit_.Bind(pass);
    emit_.mov_r_imm(EDX, static_cast<uint32_t>(blockLength));
    double iteration = 0;
    if (guarded) {
        const TLabel group = emit_.NewLabel(), tail = emit_.NewLabel();
        const int32_t whole = blockLength / kGuardGroup, rest = blockLength % kGuardGroup;
        emit_.Bind(group);
        emit_.cmp_m_imm8(Mem::Cell(guardOff), 0);
        emit_.jcc(Cond::NE, careful, JumpForm::Near);
        if (whole > 0) {
            if (rest > 0) {
                emit_.cmp_r_imm(EDX, kGuardGroup);
                emit_.jcc(Cond::B, tail, JumpForm::Near);
            }
            Group(kGuardGroup, saved, careful, iteration);
            emit_.sub_r_imm(EDX, kGuardGroup);
            emit_.jcc(Cond::NE, group, JumpForm::Near);
            emit_.jmp(tests, JumpForm::Near);
        }
        emit_.Bind(tail);
        if (rest > 0) {
            double tailCost = 0;
            Group(rest, saved, careful, tailCost);
            if (whole == 0) iteration = tailCost;
            emit_.jmp(tests, JumpForm::Near);
        }
    }
    emit_.Bind(careful);
    const TLabel carefulLoop = emit_.NewLabel();
    emit_.Bind(carefulLoop);
    main_.Iteration(true);
    const double carefulCost = main_.TakeCost();
    emit_.dec_r(EDX);
    emit_.jcc(Cond::NE, carefulLoop, JumpForm::Near);
    emit_.Bind(tests);
    cost = (guarded ? iteration : carefulCost);
    main_.PassTests(pass, escaped, done);
    cost += main_.TakeCost() / blockLength;
    emit_.Bind(done);
    emit_.ret();
    emit_.Bind(escaped);
    emit_.mov_m_imm(Mem::Cell(TTangentCells::kStatus), kTangentEscaped);
    emit_.ret();
    // A group whose flags were found: its body alone again, from the values the guard saved.
    const TLabel fault = emit_.NewLabel();
    for (std::size_t r = 0; r < resolve_.size(); ++r) {
        emit_.Bind(resolve_[r].first);
        main_.StoreHeld(0, main_.Held());
        emit_.fnclex();
        const TLabel again = emit_.NewLabel();
        if (resolveLength_[r] > 1) emit_.mov_r_imm(ECX, static_cast<uint32_t>(resolveLength_[r]));
        emit_.Bind(again);
        body_.Iteration(false);
        if (resolveLength_[r] > 1) {
            emit_.dec_r(ECX);
            emit_.jcc(Cond::NE, again, JumpForm::Near);
        }
        emit_.fnstsw_ax();
        emit_.test_al_imm8(kFaultFlags);
        emit_.jcc(Cond::NE, fault, JumpForm::Near);
        emit_.fnclex();
        main_.Enter();
        emit_.jmp(resolve_[r].second, JumpForm::Near);
    }
    emit_.Bind(fault);
    emit_.mov_m_imm(Mem::Cell(TTangentCells::kStatus), kTangentFault);
    emit_.ret();
    main_.FaultExits();
    return !main_.Failed() && !body_.Failed();
}

// The body's iterations alone, for a group's second look: the derivatives left out and the
// fed-back values in the cells the guard saved them to.
TGraph BodyAlone(const TGraph &g, std::vector<uint32_t> &saved, uint32_t &cellsEnd) {
    TGraph body = g;
    body.order.resize(g.bodyEnd);
    const int32_t fedBack = g.stateSlots / 3;
    for (std::size_t s = static_cast<std::size_t>(fedBack); s < g.next.size(); ++s)
        body.next[s] = body.start[s];
    for (int32_t k = 0; k < fedBack; ++k) {
        saved.push_back(cellsEnd);
        cellsEnd += kW;
        const auto slot = static_cast<std::size_t>(k);
        body.cell[slot] = saved.back();
        body.nodes[static_cast<std::size_t>(body.start[slot])].cell = saved.back();
    }
    return body;
}

// Emits the passes with the values placed as chosen; false where they do not fit.
bool Emit(const TBody &body, bool sweep, const std::vector<bool> &held, int32_t blockLength,
          int32_t guard, TCodeBuffer &code, uint32_t &cellsEnd,
          std::map<uint32_t, long double> &constants, std::map<uint32_t, float> &singles,
          double &cost) {
    TGraph g;
    TGraphBuilder(body, cellsEnd, constants, singles).Build(g, sweep);
    std::vector<uint32_t> saved;
    const TGraph alone = BodyAlone(g, saved, cellsEnd);
    const uint32_t guardOff = cellsEnd;
    cellsEnd += 4;
    TEmitter emit(code, kHostTarget);
    return TPasses(g, alone, held, emit, cellsEnd, guard)
               .Compile(blockLength, saved, guardOff, cost) &&
           !code.Overflowed();
}

}  // namespace

bool CompileTangentCopy(const TBody &body, int32_t blockLength, TCodeBuffer &code,
                        uint32_t &cellsEnd, std::map<uint32_t, long double> &constants,
                        std::map<uint32_t, float> &singles) {
    // The two orders of the derivatives, and the slots held: a prefix of the values first or of
    // every slot in order, as many as the registers take (with a guard, one left for its look).
    struct TChoice {
        bool sweep;
        std::vector<bool> held;
    };
    const int32_t guard = GuardExponent(body, kGuardGroup);
    std::vector<TChoice> choices;
    const int32_t p = body.paramCount, fedBack = std::min(p, body.results);
    const auto slots = static_cast<std::size_t>(3 * p);
    std::vector<std::size_t> valuesFirst;
    for (int32_t k = 0; k < fedBack; ++k) valuesFirst.push_back(static_cast<std::size_t>(k));
    for (int32_t k = fedBack; k < p; ++k)
        valuesFirst.push_back(static_cast<std::size_t>(3 * fedBack + (k - fedBack)));
    for (std::size_t s = 0; s < slots; ++s)
        if (std::find(valuesFirst.begin(), valuesFirst.end(), s) == valuesFirst.end())
            valuesFirst.push_back(s);
    // The derivatives the filler starts at a constant are loaded by instruction, never held.
    std::vector<std::size_t> inOrder;
    for (std::size_t s = 0; s < slots; ++s) inOrder.push_back(s);
    for (std::vector<std::size_t> *list : {&valuesFirst, &inOrder})
        list->erase(
            std::remove_if(list->begin(), list->end(),
                           [&](std::size_t s) {
                               const auto first = static_cast<std::size_t>(2 * fedBack + p);
                               if (s < first) return false;
                               const auto k = static_cast<int32_t>(fedBack + (s - first) / 2);
                               return StartTangent(body, k,
                                                   static_cast<int32_t>((s - first) % 2)) >= 0;
                           }),
            list->end());
    const std::size_t most = std::min<std::size_t>(slots, guard >= 0 ? kRegisters - 1 : kRegisters);
    for (const bool sweep : {false, true})
        for (int32_t first = 0; first < 2; ++first)
            for (std::size_t h = 0; h <= std::min(most, inOrder.size()); ++h) {
                std::vector<bool> held(slots, false);
                for (std::size_t i = 0; i < h; ++i)
                    held[first ? valuesFirst[i] : inOrder[i]] = true;
                choices.push_back({sweep, held});
            }
    double best = HUGE_VAL;
    const TChoice *chosen = nullptr;
    for (const TChoice &c : choices) {
        uint32_t cells = cellsEnd;
        std::map<uint32_t, long double> k;
        std::map<uint32_t, float> s;
        TCodeBuffer trial(code.Capacity());
        double cost = 0;
        if (!Emit(body, c.sweep, c.held, blockLength, guard, trial, cells, k, s, cost)) continue;
        if (cost < best) {
            best = cost;
            chosen = &c;
        }
    }
    if (!chosen) return false;
    double cost = 0;
    return Emit(body, chosen->sweep, chosen->held, blockLength, guard, code, cellsEnd, constants,
                singles, cost);
}

}  // namespace quob
