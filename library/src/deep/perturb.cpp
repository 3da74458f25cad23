// The perturbed form of a fractal formula: every value of its body a pair of a reference value
// and a sample's difference, and what the orbit's records hold for the difference code.
//
// A value V of the body is A + d: A the reference value (computed along the reference orbit in
// arbitrary precision and stored rounded to extended in the orbit's records), d the difference
// of a sample (computed here in extended). Each keyword's difference is written so that it never
// subtracts two nearly equal numbers, whatever the size of d:
//   "+", "-", "neg"      da + db, da - db, -da
//   "*"                  A·db + da·(B + db)
//   "sqr"                (2A + d)·d
//   "/"                  (da - Q·db) / (B + db), Q = A / B the reference quotient
//   "abs"                s·d while A + d keeps the sign s of A, else -s·(2A + d)
//   "sqrt"               d / (sqrt(A + d) + sqrt(A)), 0 where both roots are 0
//   "sin"                cos(A)·sin(d) - 2·sin(A)·sin²(d/2)
//   "cos"                -sin(A)·sin(d) - 2·cos(A)·sin²(d/2)
//   "tan"                sin(d) / (cos(A)·cos(A + d)), cos(A + d) = cos(A) + its difference
//   "exp", "2px"         e^A·(e^d - 1), 2^A·(2^d - 1), with 2^t - 1 = 2^n·(2^f - 1) + (2^n - 1)
//                        for t = n + f, n whole and |f| <= 1/2
//   "scale"              da·2^trunc(B), for an exponent that is the same for every sample
// Constants, and values computed from constants and parameters that do not vary, have the
// difference 0. Keywords whose value jumps ("int", "log2", "\"), "patan", "YxLog2X" and "scale"
// with a varying exponent have no such form: deep rendering refuses a formula where they act on
// a value that varies from sample to sample.
#include "deep/perturb.h"

#include <algorithm>

#include "compile/keywords.h"
#include "quob32.h"

namespace quob {

// ---- the form ----------------------------------------------------------------------------

TPerturbedForm::TPerturbedForm(const TBody &body, int32_t recursionInit) {
    Build(body);
    for (int32_t p = 0; p < params_; ++p) {
        const std::string name = body.params[p];
        start_[p] = name == "x" ? TStart::kRe : name == "y" ? TStart::kIm : TStart::kZero;
        if (p < 2)
            start_[p] = recursionInit != 0 ? TStart::kZero : p == 0 ? TStart::kRe : TStart::kIm;
        // The pixel routine rewrites parameters 0 and 1, "x" and "y" for every sample; another
        // parameter fed back carries the previous sample's value into the next one.
        if (p >= 2 && p < fedBack_ && start_[p] == TStart::kZero) {
            TAbandon refusal{QUOB_ERR_INVALID_EXPRESSION};
            refusal.param = static_cast<int16_t>(p);
            throw refusal;
        }
    }
    Propagate();

    iterateSlot_[0] = AddSlot(TSlot::kRef, 0);
    iterateSlot_[1] = AddSlot(TSlot::kRef, 1);
    glitchSlot_ = AddSlot(TSlot::kGlitch, -1);
    for (std::size_t i = 0; i < nodes_.size(); ++i) {
        const TNode &n = nodes_[i];
        if (!n.live || n.kind != TNode::kKeyword) continue;
        Refuse(n);
        const auto self = static_cast<int32_t>(i);
        switch (n.keyword) {
            case kfMul:
                if (!nodes_[n.b].fixed) AddRefSlot(n.a);
                if (!nodes_[n.a].fixed) AddRefSlot(n.b);
                break;
            case kfSqr:
                AddRefSlot(n.a);
                break;
            case kfDiv:
                if (!nodes_[n.b].fixed) AddSlot(TSlot::kRef, self);
                AddRefSlot(n.b);
                break;
            case kfAbs:
                AddSlot(TSlot::kRef, n.a);
                AddSlot(TSlot::kSign, n.a);
                break;
            case kfSqrt:
                AddSlot(TSlot::kRef, n.a);
                AddSlot(TSlot::kRef, self);
                break;
            case kfSin:
            case kfCos:
            case kfTan:
                AddSlot(TSlot::kSin, n.a);
                AddSlot(TSlot::kCos, n.a);
                break;
            case kfExp:
            case kf2Px:
                AddSlot(TSlot::kRef, self);
                break;
            case kfScale:
                AddSlot(TSlot::kRef, n.b);
                break;
            default:
                break;
        }
    }
}

// The nodes of one iteration, from the body's words by the keywords' stack facts.
void TPerturbedForm::Build(const TBody &body) {
    params_ = body.paramCount;
    if (params_ < 2) throw TAbandon{QUOB_ERR_INVALID_EXPRESSION};  // the filler takes none
    for (int32_t p = 0; p < params_; ++p) {
        TNode n{TNode::kParam};
        n.param = static_cast<int16_t>(p);
        nodes_.push_back(n);
    }
    std::vector<int32_t> stack;  // checked by the front end: never popped when empty
    auto pop = [&] {
        const int32_t v = stack.back();
        stack.pop_back();
        return v;
    };
    auto push = [&](TNode n) {
        nodes_.push_back(n);
        stack.push_back(static_cast<int32_t>(nodes_.size() - 1));
    };
    for (const TWord &w : body.words) {
        if (w.kind == TWord::kParam) {
            stack.push_back(w.index);
            continue;
        }
        if (w.kind == TWord::kLiteral) {
            TNode c{TNode::kConst};
            c.value = w.real;
            push(c);
            continue;
        }
        const TKeywordFacts &k = kFloatFacts[w.index];
        TNode n{TNode::kKeyword};
        n.keyword = static_cast<int8_t>(w.index);
        switch (k.stack) {
            case TStack::kOperation:
                n.a = pop();
                if (k.pops == 2) n.b = pop();
                push(n);
                break;
            case TStack::kConstant:
                n = TNode{TNode::kConst};
                n.value = k.constant();
                push(n);
                break;
            case TStack::kScale:
                n.a = pop();
                n.b = pop();
                stack.push_back(n.b);  // the exponent stays below the result
                push(n);
                break;
            case TStack::kSinCos:
                n.a = pop();
                n.keyword = kfSin;
                push(n);
                n.keyword = kfCos;
                push(n);
                break;
            case TStack::kCopy: {
                const int32_t a = pop();
                stack.insert(stack.end(), {a, a});
                break;
            }
            case TStack::kSwap: {
                const int32_t a = pop(), b = pop();
                stack.insert(stack.end(), {a, b});
                break;
            }
            case TStack::kDrop:
                pop();
                break;
            case TStack::kReturn:
                results_.push_back(pop());
                break;
            case TStack::kNothing:
                break;
        }
    }
    fedBack_ = std::min(params_, static_cast<int32_t>(results_.size()));
    results_.resize(static_cast<std::size_t>(fedBack_));
}

// Which values are the same for every sample, and which differences the iteration needs.
void TPerturbedForm::Propagate() {
    bool paramFixed[kMaxParams];
    for (int32_t p = 0; p < params_; ++p) paramFixed[p] = start_[p] == TStart::kZero;
    for (bool changed = true; changed;) {
        for (TNode &n : nodes_) {
            if (n.kind == TNode::kParam)
                n.fixed = paramFixed[n.param];
            else if (n.kind == TNode::kConst)
                n.fixed = true;
            else
                n.fixed = nodes_[n.a].fixed && (n.b < 0 || nodes_[n.b].fixed);
        }
        changed = false;
        for (int32_t k = 0; k < fedBack_; ++k) {
            if (paramFixed[k] && !nodes_[results_[k]].fixed) {
                paramFixed[k] = false;
                changed = true;
            }
        }
    }
    std::vector<int32_t> pending;
    for (int32_t k = 0; k < fedBack_; ++k) pending.push_back(results_[k]);
    while (!pending.empty()) {
        TNode &n = nodes_[pending.back()];
        pending.pop_back();
        if (n.fixed || n.live) continue;
        n.live = true;
        if (n.a >= 0) pending.push_back(n.a);
        if (n.b >= 0) pending.push_back(n.b);
    }
}

// A keyword that deep rendering cannot follow where it acts on a value that varies.
void TPerturbedForm::Refuse(const TNode &n) const {
    const TDeepForm form = kFloatFacts[n.keyword].deep;
    if (form == TDeepForm::kFollows || (form == TDeepForm::kFixedExponent && nodes_[n.b].fixed))
        return;
    TAbandon refusal{QUOB_ERR_INVALID_EXPRESSION};
    refusal.keyword = n.keyword;
    throw refusal;
}

std::string DeepRefusal(const TAbandon &refusal, const TBody &body) {
    if (refusal.keyword >= 0)
        return std::string("deep rendering cannot follow \"") + kFloatKeywords[refusal.keyword] +
               "\" here: " + DeepRefusalReason(kFloatFacts[refusal.keyword].deep);
    if (refusal.param >= 0)
        return std::string("parameter \"") + body.params[refusal.param] +
               "\" carries a value from one sample to the next, and deep rendering computes every "
               "sample on its own";
    return "the formula's difference iteration is too long for deep rendering";
}

int32_t TPerturbedForm::AddSlot(TSlot::Kind kind, int32_t node) {
    const int32_t known = Slot(kind, node);
    if (known >= 0) return known;
    slots_.push_back({kind, node});
    return static_cast<int32_t>(slots_.size() - 1);
}

// A constant's reference value is in the code itself.
void TPerturbedForm::AddRefSlot(int32_t node) {
    if (nodes_[node].kind != TNode::kConst) AddSlot(TSlot::kRef, node);
}

int32_t TPerturbedForm::Slot(TSlot::Kind kind, int32_t node) const {
    for (std::size_t i = 0; i < slots_.size(); ++i)
        if (slots_[i].kind == kind && slots_[i].node == node) return static_cast<int32_t>(i);
    return -1;
}

}  // namespace quob
