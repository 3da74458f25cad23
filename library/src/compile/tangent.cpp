// The tangent back end. Each iteration computes the body's values first, on the x87 stack as the
// record's code does, word by word with the instruction that code uses (so every value, and every
// flag that decides a fault, is the body's), keeping a copy of each keyword's value in a cell of
// its own; then tests the fault flags; then the derivatives from those values by the keywords'
// rules, whose own flags it clears: they never decide a fault.
//
// The rules, for a keyword's value r of the top a and the second b, per part of the point:
//   "+", "-", "neg"       da + db, da - db, -da
//   "*", "sqr"            b·da + a·db, 2a·da
//   "/"                   (da - r·db) / b
//   "\"                   da - q·db, q = (a - r) / b (whole)
//   "abs"                 da with a's sign
//   "sqrt"                da / 2r
//   "sin", "cos"          cos(a)·da, -sin(a)·da
//   "2px", "exp"          ln 2·(r + 1)·da, r·da
//   "scale"               da·2^trunc(b)
//   "patan"               (a·db - b·da) / (a² + b²)
//   "YxLog2X"             db·log2(a) + b·log2(e)·da / a
//   "int", "log2", constants: 0
#include "compile/tangent.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <vector>

#include "compile/codebuffer.h"
#include "compile/emitter.h"
#include "compile/keywords.h"
#include "compile/tangentcopy.h"

namespace quob {
namespace {

constexpr int32_t kW = 10;  // an extended value cell
constexpr int32_t kTangentCodeCapacity = 65536;

// A value of the body in the tangent function: the cell of its value and of its two derivatives
// (-1: it does not depend on the point).
struct TEntry {
    uint32_t value;
    int64_t tangent = -1;
    bool single = false;  // a single literal, loaded as the record's code loads it
};

class TTangentCompiler {
  public:
    TTangentCompiler(const TBody &body, TCodeBuffer &code) : body_(body), emit_(code, kHostTarget) {
        const int32_t p = body.paramCount;
        resultsAt_ = static_cast<uint32_t>(TTangentCells::kParams + 3 * kW * p);
        cellsEnd_ = resultsAt_ + static_cast<uint32_t>(3 * kW * body.results);
    }

    // Emits the code; returns the block's data size. The constants go to `constants`.
    uint32_t Compile(int32_t blockLength, TTangentCall call,
                     std::map<uint32_t, long double> &constants,
                     std::map<uint32_t, float> &singles);

  private:
    Mem At(uint32_t cell) const { return Mem::Cell(cell); }
    uint32_t NewCell(int32_t width) {
        const uint32_t at = cellsEnd_;
        cellsEnd_ += static_cast<uint32_t>(width);
        return at;
    }
    uint32_t ParamTangent(int32_t p) const {
        return TTangentCells::Tangent(body_.paramCount, p, 0);
    }
    uint32_t ResultValue(int32_t k) const { return resultsAt_ + static_cast<uint32_t>(kW * k); }
    uint32_t ResultTangent(int32_t k) const {
        return resultsAt_ + static_cast<uint32_t>(kW * (body_.results + 2 * k));
    }
    void Load(const TEntry &e) {
        e.single ? emit_.fld_m32(At(e.value)) : emit_.fld_m80(At(e.value));
    }
    void LoadTangent(const TEntry &e, int32_t part) {
        emit_.fld_m80(At(static_cast<uint32_t>(e.tangent) + static_cast<uint32_t>(kW * part)));
    }
    void StoreTangent(uint32_t at, int32_t part) {
        emit_.fstp_m80(At(at + static_cast<uint32_t>(kW * part)));
    }
    void Value(const TWord &w, std::vector<TEntry> &stack);
    void PassTests(TLabel next, TLabel escaped, TLabel done);
    // The derivatives of one keyword's values (the operands before it, the results after).
    struct TStep {
        int keyword;
        TEntry a, b, r, r2;
    };
    void Tangent(const TStep &s);
    // The derivatives by one part of the point on the x87 stack: the body's words again, each
    // value that depends on the point holding its derivative in a register, the others none.
    bool SweepFits() const;
    void Sweep(int32_t part);
    void Rule(const TStep &s);

    const TBody &body_;
    TEmitter emit_;
    uint32_t resultsAt_, cellsEnd_;
    std::vector<TStep> steps_;
    std::vector<std::pair<uint32_t, int32_t>> returns_;  // result cells' entries: value, tangent
    std::vector<TEntry> results_;
    std::map<uint32_t, long double> constants_;
    std::map<uint32_t, float> singles_;
};

// The body's value of one word on the x87 stack, which holds the language's stack as the
// record's code holds it; `stack` tells the cell of each value's copy (and of its derivatives).
void TTangentCompiler::Value(const TWord &w, std::vector<TEntry> &stack) {
    if (w.kind == TWord::kParam) {
        const int32_t p = w.index;
        stack.push_back({static_cast<uint32_t>(TTangentCells::kParams + kW * p),
                         static_cast<int64_t>(ParamTangent(p))});
        Load(stack.back());
        return;
    }
    if (w.kind == TWord::kLiteral) {
        TEntry e{NewCell(kW)};
        if (w.extended) {
            constants_[e.value] = w.real;
        } else {
            e.single = true;
            singles_[e.value] = static_cast<float>(w.real);
        }
        stack.push_back(e);
        Load(e);
        return;
    }
    const TKeywordFacts &k = kFloatFacts[w.index];
    auto pop = [&] {
        const TEntry e = stack.back();
        stack.pop_back();
        return e;
    };
    TStep s{w.index, {}, {}, {}, {}};
    switch (k.stack) {
        case TStack::kConstant: {
            TEntry e{NewCell(kW)};
            constants_[e.value] = k.constant();
            stack.push_back(e);
            Load(e);
            return;
        }
        case TStack::kCopy:
            stack.push_back(stack.back());
            emit_.fld_st(0);
            return;
        case TStack::kSwap:
            std::swap(stack[stack.size() - 1], stack[stack.size() - 2]);
            emit_.fxch_st(1);
            return;
        case TStack::kDrop:
            stack.pop_back();
            emit_.fstp_st(0);
            return;
        case TStack::kReturn: {
            const TEntry e = pop();
            const auto at = static_cast<int32_t>(results_.size());
            emit_.fstp_m80(At(ResultValue(at)));
            results_.push_back(e);
            return;
        }
        default:
            break;
    }
    s.a = pop();
    if (k.pops == 2) s.b = pop();
    s.r = {NewCell(kW)};
    switch (w.index) {
        case kfAdd:
            emit_.faddp();
            break;
        case kfMul:
            emit_.fmulp();
            break;
        case kfSub:
            emit_.fsubrp();  // the top minus the second
            break;
        case kfDiv:
            emit_.fdivrp();
            break;
        case kfRem:
            emit_.fprem();
            emit_.fstp_st(1);
            break;
        case kfScale:
            emit_.fscale();  // the exponent stays below the scaled value
            break;
        case kfPatan:
            emit_.fpatan();
            break;
        case kfYxLog2X:
            emit_.fyl2x();
            break;
        case kfNeg:
            emit_.fchs();
            break;
        case kfAbs:
            emit_.fabs();
            break;
        case kfSqrt:
            emit_.fsqrt();
            break;
        case kfSqr:
            emit_.fmul_st0_st(0);
            break;
        case kfSin:
            emit_.fsin();
            break;
        case kfCos:
            emit_.fcos();
            break;
        case kf2Px:
            emit_.f2xm1();
            break;
        case kfInt:
            emit_.frndint();
            break;
        case kfLog2:
            emit_.fxtract();
            emit_.ffree_st(0);
            emit_.fincstp();
            break;
        case kfExp:
            emit_.exp_st0();
            break;
        default:
            break;
    }
    if (w.index == kfScale) stack.push_back(s.b);
    // The value's copy for the rules: from a register of its own where one is free (the stack
    // holds the language's values and the value itself).
    if (stack.size() + 1 < kFloatStack) {
        emit_.fld_st(0);
        emit_.fstp_m80(At(s.r.value));
    } else {
        emit_.fstp_m80(At(s.r.value));
        emit_.fld_m80(At(s.r.value));
    }
    // The scaled value's derivative is its operand's scaled: the exponent's steps.
    const bool dependent = w.index == kfScale
                               ? s.a.tangent >= 0
                               : s.a.tangent >= 0 || (k.pops == 2 && s.b.tangent >= 0);
    if (dependent) s.r.tangent = NewCell(2 * kW);
    stack.push_back(s.r);
    steps_.push_back(s);
}

void TTangentCompiler::Tangent(const TStep &s) {
    if (s.r.tangent < 0) return;
    const bool da = s.a.tangent >= 0, db = s.b.tangent >= 0;
    const auto r = static_cast<uint32_t>(s.r.tangent);
    for (int32_t part = 0; part < 2; ++part) {
        switch (s.keyword) {
            case kfAdd:
            case kfSub:
                if (da) LoadTangent(s.a, part);
                if (db) {
                    LoadTangent(s.b, part);
                    if (da)
                        s.keyword == kfAdd ? emit_.faddp() : emit_.fsubp();
                    else if (s.keyword == kfSub)
                        emit_.fchs();
                }
                break;
            case kfNeg:
                LoadTangent(s.a, part);
                emit_.fchs();
                break;
            case kfMul:
                if (da) {
                    LoadTangent(s.a, part);
                    Load(s.b);
                    emit_.fmulp();
                }
                if (db) {
                    LoadTangent(s.b, part);
                    Load(s.a);
                    emit_.fmulp();
                    if (da) emit_.faddp();
                }
                break;
            case kfSqr:
                Load(s.a);
                emit_.fadd_st0_st(0);
                LoadTangent(s.a, part);
                emit_.fmulp();
                break;
            case kfDiv:  // (da - r db) / b
                if (da) LoadTangent(s.a, part);
                if (db) {
                    LoadTangent(s.b, part);
                    Load(s.r);
                    emit_.fmulp();
                    da ? emit_.fsubp() : emit_.fchs();
                }
                Load(s.b);
                emit_.fdivp();
                break;
            case kfRem:  // da - q db, q = (a - r) / b rounded
                if (da) LoadTangent(s.a, part);
                if (db) {
                    Load(s.a);
                    Load(s.r);
                    emit_.fsubp();
                    Load(s.b);
                    emit_.fdivp();
                    emit_.frndint();
                    LoadTangent(s.b, part);
                    emit_.fmulp();
                    da ? emit_.fsubp() : emit_.fchs();
                }
                break;
            case kfAbs: {  // da with a's sign
                const TLabel positive = emit_.NewLabel();
                emit_.fldz();
                Load(s.a);
                emit_.fucomip_st(1);  // a below 0
                emit_.fstp_st(0);
                LoadTangent(s.a, part);
                emit_.jcc(Cond::AE, positive);
                emit_.fchs();
                emit_.Bind(positive);
                break;
            }
            case kfScale:  // da 2^trunc(b); the value depends on the point through a alone
                Load(s.b);
                LoadTangent(s.a, part);
                emit_.fscale();
                emit_.fstp_st(1);
                break;
            case kfSqrt:
                LoadTangent(s.a, part);
                Load(s.r);
                emit_.fadd_st0_st(0);
                emit_.fdivp();
                break;
            case kfSin:
            case kfCos:
                Load(s.a);
                s.keyword == kfSin ? emit_.fcos() : emit_.fsin();
                if (s.keyword == kfCos) emit_.fchs();
                LoadTangent(s.a, part);
                emit_.fmulp();
                break;
            case kf2Px:
                Load(s.r);
                emit_.fld1();
                emit_.faddp();
                emit_.fldln2();
                emit_.fmulp();
                LoadTangent(s.a, part);
                emit_.fmulp();
                break;
            case kfExp:
                Load(s.r);
                LoadTangent(s.a, part);
                emit_.fmulp();
                break;
            case kfPatan:  // (a db - b da) / (a² + b²)
                if (db) {
                    LoadTangent(s.b, part);
                    Load(s.a);
                    emit_.fmulp();
                }
                if (da) {
                    LoadTangent(s.a, part);
                    Load(s.b);
                    emit_.fmulp();
                    db ? emit_.fsubp() : emit_.fchs();
                }
                Load(s.a);
                emit_.fmul_st0_st(0);
                Load(s.b);
                emit_.fmul_st0_st(0);
                emit_.faddp();
                emit_.fdivp();
                break;
            case kfYxLog2X:  // db log2(a) + b log2(e) da / a
                if (db) {
                    emit_.fld1();
                    Load(s.a);
                    emit_.fyl2x();
                    LoadTangent(s.b, part);
                    emit_.fmulp();
                }
                if (da) {
                    LoadTangent(s.a, part);
                    Load(s.b);
                    emit_.fmulp();
                    emit_.fldl2e();
                    emit_.fmulp();
                    Load(s.a);
                    emit_.fdivp();
                    if (db) emit_.faddp();
                }
                break;
            default:  // "int", "log2": the value steps, its derivative is 0
                emit_.fldz();
                break;
        }
        StoreTangent(r, part);
    }
}

bool TTangentCompiler::SweepFits() const {
    std::vector<uint8_t> live;  // whether each value of the stack has a derivative
    std::size_t step = 0, most = 0;
    auto count = [&] { return static_cast<std::size_t>(std::count(live.begin(), live.end(), 1)); };
    for (const TWord &w : body_.words) {
        if (w.kind == TWord::kParam || w.kind == TWord::kLiteral) {
            live.push_back(w.kind == TWord::kParam);
            most = std::max(most, count());
            continue;
        }
        const TKeywordFacts &k = kFloatFacts[w.index];
        switch (k.stack) {
            case TStack::kConstant:
                live.push_back(false);
                break;
            case TStack::kCopy:
                live.push_back(live.back());
                break;
            case TStack::kSwap:
                std::swap(live[live.size() - 1], live[live.size() - 2]);
                break;
            case TStack::kDrop:
            case TStack::kReturn:
                live.pop_back();
                break;
            default: {
                const TStep &s = steps_[step++];
                most = std::max(most, count() + 2);  // the rules' own values
                for (int32_t i = 0; i < k.pops; ++i) live.pop_back();
                if (w.index == kfScale) live.push_back(s.b.tangent >= 0);
                live.push_back(s.r.tangent >= 0);
                break;
            }
        }
        most = std::max(most, count());
    }
    return most <= 8;
}

// One keyword's rule on the registers: the operands' derivatives on top (the second's below the
// top's, those without one absent), replaced by the value's (absent when it has none).
void TTangentCompiler::Rule(const TStep &s) {
    const bool da = s.a.tangent >= 0, db = s.b.tangent >= 0;
    switch (s.keyword) {
        case kfAdd:
            if (da && db) emit_.faddp();
            break;
        case kfSub:  // da - db
            if (da && db)
                emit_.fsubrp();
            else if (db)
                emit_.fchs();
            break;
        case kfNeg:
            emit_.fchs();
            break;
        case kfMul:  // da b + db a
            if (da) {
                Load(s.b);
                emit_.fmulp();
            }
            if (db) {
                if (da) emit_.fxch_st(1);
                Load(s.a);
                emit_.fmulp();
                if (da) emit_.faddp();
            }
            break;
        case kfSqr:
            Load(s.a);
            emit_.fadd_st0_st(0);
            emit_.fmulp();
            break;
        case kfDiv:  // (da - r db) / b
            if (db) {
                if (da) emit_.fxch_st(1);
                Load(s.r);
                emit_.fmulp();
                da ? emit_.fsubp() : emit_.fchs();
            }
            Load(s.b);
            emit_.fdivp();
            break;
        case kfRem:  // da - q db, q = (a - r) / b rounded
            if (db) {
                if (da) emit_.fxch_st(1);
                Load(s.a);
                Load(s.r);
                emit_.fsubp();
                Load(s.b);
                emit_.fdivp();
                emit_.frndint();
                emit_.fmulp();
                da ? emit_.fsubp() : emit_.fchs();
            }
            break;
        case kfAbs: {  // da with a's sign
            const TLabel positive = emit_.NewLabel();
            emit_.fldz();
            Load(s.a);
            emit_.fucomip_st(1);  // a below 0
            emit_.fstp_st(0);
            emit_.jcc(Cond::AE, positive);
            emit_.fchs();
            emit_.Bind(positive);
            break;
        }
        case kfScale:  // da 2^trunc(b); the exponent keeps its own
            if (da) {
                Load(s.b);
                emit_.fxch_st(1);
                emit_.fscale();
                emit_.fstp_st(1);
            }
            break;
        case kfSqrt:
            Load(s.r);
            emit_.fadd_st0_st(0);
            emit_.fdivp();
            break;
        case kfSin:
        case kfCos:
            Load(s.a);
            s.keyword == kfSin ? emit_.fcos() : emit_.fsin();
            if (s.keyword == kfCos) emit_.fchs();
            emit_.fmulp();
            break;
        case kf2Px:
            Load(s.r);
            emit_.fld1();
            emit_.faddp();
            emit_.fldln2();
            emit_.fmulp();
            emit_.fmulp();
            break;
        case kfExp:
            Load(s.r);
            emit_.fmulp();
            break;
        case kfPatan:  // (a db - b da) / (a² + b²)
            if (da) {
                Load(s.b);
                emit_.fmulp();
                if (db)
                    emit_.fxch_st(1);
                else
                    emit_.fchs();
            }
            if (db) {
                Load(s.a);
                emit_.fmulp();
                if (da) emit_.fsubrp();
            }
            Load(s.a);
            emit_.fmul_st0_st(0);
            Load(s.b);
            emit_.fmul_st0_st(0);
            emit_.faddp();
            emit_.fdivp();
            break;
        case kfYxLog2X:  // db log2(a) + b log2(e) da / a
            if (da) {
                Load(s.b);
                emit_.fmulp();
                emit_.fldl2e();
                emit_.fmulp();
                Load(s.a);
                emit_.fdivp();
                if (db) emit_.fxch_st(1);
            }
            if (db) {
                emit_.fld1();
                Load(s.a);
                emit_.fyl2x();
                emit_.fmulp();
                if (da) emit_.faddp();
            }
            break;
        default:  // "int", "log2": the value steps, its derivative is 0
            emit_.fstp_st(0);
            emit_.fldz();
            break;
    }
}

void TTangentCompiler::Sweep(int32_t part) {
    std::vector<uint8_t> live;  // whether each value of the stack has a derivative
    std::size_t step = 0;
    int32_t returned = 0;
    for (const TWord &w : body_.words) {
        if (w.kind == TWord::kParam) {
            emit_.fld_m80(At(ParamTangent(w.index) + static_cast<uint32_t>(kW * part)));
            live.push_back(true);
            continue;
        }
        if (w.kind == TWord::kLiteral) {
            live.push_back(false);
            continue;
        }
        const TKeywordFacts &k = kFloatFacts[w.index];
        switch (k.stack) {
            case TStack::kConstant:
                live.push_back(false);
                break;
            case TStack::kCopy:
                if (live.back()) emit_.fld_st(0);
                live.push_back(live.back());
                break;
            case TStack::kSwap:
                if (live[live.size() - 1] && live[live.size() - 2]) emit_.fxch_st(1);
                std::swap(live[live.size() - 1], live[live.size() - 2]);
                break;
            case TStack::kDrop:
                if (live.back()) emit_.fstp_st(0);
                live.pop_back();
                break;
            case TStack::kReturn:
                if (!live.back()) emit_.fldz();
                StoreTangent(ResultTangent(returned++), part);
                live.pop_back();
                break;
            default: {
                const TStep &s = steps_[step++];
                // A value of values without derivatives has none; a scaled one follows its operand.
                if (s.r.tangent >= 0) Rule(s);
                for (int32_t i = 0; i < k.pops; ++i) live.pop_back();
                if (w.index == kfScale) live.push_back(s.b.tangent >= 0);
                live.push_back(s.r.tangent >= 0);
                break;
            }
        }
    }
    for (const uint8_t l : live)
        if (l) emit_.fstp_st(0);
}

void TTangentCompiler::PassTests(TLabel next, TLabel escaped, TLabel done) {
    EmitTangentPassTests(
        emit_,
        [&](int32_t p, int32_t) {
            emit_.fld_m80(At(TTangentCells::kParams + static_cast<uint32_t>(kW * p)));
        },
        next, escaped, done);
}

uint32_t TTangentCompiler::Compile(int32_t blockLength, TTangentCall call,
                                   std::map<uint32_t, long double> &constants,
                                   std::map<uint32_t, float> &singles) {
    constexpr uint8_t kFaultFlags = 0x0F;
    const TLabel pass = emit_.NewLabel(), loop = emit_.NewLabel(), fault = emit_.NewLabel();
    const TLabel escaped = emit_.NewLabel(), done = emit_.NewLabel();
    emit_.mov_m_imm(At(TTangentCells::kStatus), kTangentDone);
    if (call == TTangentCall::kPasses) {
        // The flags of what ran before the sample are no faults of it.
        emit_.mov_m_imm(At(TTangentCells::kPrevious), 0);
        emit_.clear_flags_if_set(kFaultFlags);
    }
    emit_.Bind(pass);
    emit_.mov_r_imm(EDX, static_cast<uint32_t>(blockLength));
    emit_.Bind(loop);
    std::vector<TEntry> stack;
    for (const TWord &w : body_.words) Value(w, stack);
    for (std::size_t i = 0; i < stack.size(); ++i) emit_.fstp_st(0);  // values left unreturned
    // The body's flags decide the sample: a fault ends the pass.
    emit_.fnstsw_ax();
    emit_.test_al_imm8(kFaultFlags);
    emit_.jcc(Cond::NE, fault, JumpForm::Near);
    const bool sweeps = SweepFits();
    if (sweeps) {
        Sweep(0);
        Sweep(1);
    } else {
        for (const TStep &s : steps_) Tangent(s);
    }
    // The derivatives' own flags are no faults.
    emit_.clear_flags_if_set(kFaultFlags);
    // The fed-back results and their derivatives become the parameters of the next iteration.
    const int32_t fedBack = std::min(body_.paramCount, body_.results);
    for (int32_t k = 0; k < fedBack && !sweeps; ++k) {
        for (int32_t part = 0; part < 2; ++part) {
            if (results_[k].tangent >= 0)
                LoadTangent(results_[k], part);
            else
                emit_.fldz();
            StoreTangent(ResultTangent(k), part);
        }
    }
    for (int32_t k = 0; k < fedBack; ++k) {
        emit_.fld_m80(At(ResultValue(k)));
        emit_.fstp_m80(At(static_cast<uint32_t>(TTangentCells::kParams + kW * k)));
        for (int32_t part = 0; part < 2; ++part) {
            emit_.fld_m80(At(ResultTangent(k) + static_cast<uint32_t>(kW * part)));
            StoreTangent(ParamTangent(k), part);
        }
    }
    emit_.dec_r(EDX);
    emit_.jcc(Cond::NE, loop, JumpForm::Near);
    if (call == TTangentCall::kPasses) PassTests(pass, escaped, done);
    emit_.Bind(done);
    emit_.ret();
    emit_.Bind(escaped);
    emit_.mov_m_imm(At(TTangentCells::kStatus), kTangentEscaped);
    emit_.ret();
    emit_.Bind(fault);
    emit_.mov_m_imm(At(TTangentCells::kStatus), kTangentFault);
    emit_.ret();
    constants = constants_;
    singles = singles_;
    return cellsEnd_;
}

}  // namespace

void EmitTangentPassTests(TEmitter &emit, const std::function<void(int32_t, int32_t)> &iterate,
                          TLabel next, TLabel escaped, TLabel done) {
    constexpr uint8_t kFaultFlags = 0x0F;
    const TLabel settled = emit.NewLabel(), notEscaped = emit.NewLabel();
    const Mem passes = Mem::Cell(TTangentCells::kPasses);
    emit.sub_m_imm(passes, 1);
    iterate(0, 0);
    emit.fabs();
    iterate(1, 1);
    emit.fabs();
    emit.faddp();
    emit.fld_m32(Mem::Cell(TTangentCells::kMaxModule));
    emit.fld_st(1);
    emit.fucomip_st(1);  // m above MaxModule
    emit.fstp_st(0);
    emit.jcc(Cond::BE, notEscaped);
    emit.fstp_st(0);
    emit.jmp(escaped, JumpForm::Near);
    emit.Bind(notEscaped);
    emit.fld_m32(Mem::Cell(TTangentCells::kPrevious));
    emit.fsubr_st0_st(1);  // m - previous
    emit.fabs();
    emit.fld_m32(Mem::Cell(TTangentCells::kDifferential));
    emit.fucomip_st(1);  // Differential above abs(m - previous): settled
    emit.fstp_st(0);
    emit.jcc(Cond::A, settled);
    emit.fstp_m32(Mem::Cell(TTangentCells::kPrevious));  // m rounded to a float
    emit.clear_flags_if_set(kFaultFlags);
    emit.cmp_m_imm8(passes, 0);
    emit.jcc(Cond::NE, next, JumpForm::Near);
    emit.jmp(done, JumpForm::Near);
    emit.Bind(settled);
    emit.fstp_st(0);
    emit.jmp(done, JumpForm::Near);
}

std::unique_ptr<TCompiledFunction> CompileTangent(const TBody &body, int32_t blockLength,
                                                  std::string &refusal, TTangentCall call,
                                                  bool executionCopy) {
    for (const TWord &w : body.words)
        if (w.kind == TWord::kKeyword && (w.index == kfTan || w.index == kfSinCos)) {
            refusal = std::string("its \"") + kFloatKeywords[w.index] +
                      "\" leaves an operand beyond 2^63 as it is";
            return nullptr;
        }
    TCodeBuffer code(kTangentCodeCapacity);
    std::map<uint32_t, long double> constants;
    std::map<uint32_t, float> singles;
    uint32_t cells = TTangentCompiler(body, code).Compile(blockLength, call, constants, singles);
    if (code.Overflowed()) {
        refusal = "its tangent iteration is too long";
        return nullptr;
    }
    // The filler's passes run the register-resident copy where one fits.
    TCodeBuffer copy(kTangentCodeCapacity);
    const bool copied = executionCopy && call == TTangentCall::kPasses &&
                        CompileTangentCopy(body, blockLength, copy, cells, constants, singles);
    std::unique_ptr<TCompiledFunction> function = TCompiledFunction::Place(
        FunctionKind::Real, cells, code, copied ? &copy : nullptr, nullptr);
    if (!function) throw std::bad_alloc();
    for (const auto &[at, value] : constants) std::memcpy(function->Cell(at), &value, kW);
    for (const auto &[at, value] : singles) std::memcpy(function->Cell(at), &value, 4);
    return function;
}

}  // namespace quob
