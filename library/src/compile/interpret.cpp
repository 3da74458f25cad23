// The x87 instructions of a real body, on a stack of extended values as the record's code keeps
// them (the language's stack, a pending exchange of its two top values, the same instructions in
// the same operand roles). Each instruction takes the unit's own result where its operands are
// ordinary, and the result the unit's rules give (with every exception masked, rounding to
// nearest) where an operand is an infinity or a NaN, or where a product or quotient of ordinary
// values certainly overflows. Anything else (denormals, the encodings the unit does not support,
// two NaNs, the operations whose special cases are not written out here) runs on the unit.
#include "compile/interpret.h"

#include <cmath>
#include <cstring>
#include <utility>

#include "compile/keywords.h"

namespace quob {
namespace {

using ld = long double;

// ---- extended values as their bits, and their classes as the unit tells them ---------------

// The stack keeps the values' bits: the rules read and write them without the x87 unit (whose
// stores of 80 bits the processor cannot forward to the integer loads that read them).
struct TBits {
    uint64_t significand;
    uint16_t signExponent;
};

TBits BitsOf(ld v) {
    TBits b;
    std::memcpy(&b.significand, &v, 8);
    std::memcpy(&b.signExponent, reinterpret_cast<const uint8_t *>(&v) + 8, 2);
    return b;
}

ld ValueOf(TBits b) {
    ld v = 0;
    std::memcpy(&v, &b.significand, 8);
    std::memcpy(reinterpret_cast<uint8_t *>(&v) + 8, &b.signExponent, 2);
    return v;
}

constexpr uint64_t kInteger = 0x8000000000000000ull;
constexpr uint64_t kQuiet = 0x4000000000000000ull;

enum class TClass { kZero, kNormal, kInfinity, kNaN, kOther };

TClass ClassOf(TBits b) {
    const uint16_t e = b.signExponent & 0x7FFF;
    if (e == 0) return b.significand == 0 ? TClass::kZero : TClass::kOther;  // denormals
    if (!(b.significand & kInteger)) return TClass::kOther;  // unsupported encodings
    if (e != 0x7FFF) return TClass::kNormal;
    return b.significand == kInteger ? TClass::kInfinity : TClass::kNaN;
}

bool Negative(TBits b) { return b.signExponent & 0x8000; }
int32_t ExponentOf(TBits b) { return (b.signExponent & 0x7FFF) - 16383; }  // a normal value
TBits Infinity(bool negative) {
    return {kInteger, static_cast<uint16_t>(negative ? 0xFFFF : 0x7FFF)};
}
TBits Zero(bool negative) { return {0, static_cast<uint16_t>(negative ? 0x8000 : 0)}; }
TBits MinusOne() { return {kInteger, 0xBFFF}; }
// The unit's default NaN (negative, quiet, the integer bit and the quiet bit alone).
TBits Indefinite() { return {kInteger | kQuiet, 0xFFFF}; }
TBits Quieted(TBits nan) { return {nan.significand | kQuiet, nan.signExponent}; }

// ---- the unit's own instructions --------------------------------------------------------

// ST(1) op ST(0), popping: FADDP, FMULP, FSUBP, FSUBRP, FDIVP, FDIVRP by their second byte.
template <uint8_t kModRm>
ld Popping(ld st1, ld st0) {
    ld r;
    asm(".byte 0xDE, %c3" : "=t"(r) : "0"(st0), "u"(st1), "i"(kModRm) : "st(1)");
    return r;
}
// An instruction on ST(0) alone (D9 xx, or D8 C8 for FMUL ST(0),ST(0)).
template <uint8_t kFirst, uint8_t kSecond>
ld OnTop(ld st0) {
    asm(".byte %c1, %c2" : "+t"(st0) : "i"(kFirst), "i"(kSecond));
    return st0;
}
// An instruction on ST(0) and ST(1) that leaves ST(1): FPREM, FSCALE.
template <uint8_t kSecond>
ld WithSecond(ld st0, ld st1) {
    ld r;
    asm(".byte 0xD9, %c3" : "=t"(r) : "0"(st0), "u"(st1), "i"(kSecond));
    return r;
}

enum TOp : uint8_t {
    kAdd = 0xC1,
    kMul = 0xC9,
    kSub = 0xE9,
    kSubR = 0xE1,
    kDiv = 0xF9,
    kDivR = 0xF1
};

TBits Unit(TOp op, TBits b1, TBits b0) {
    const ld st1 = ValueOf(b1), st0 = ValueOf(b0);
    switch (op) {
        case kAdd:
            return BitsOf(Popping<kAdd>(st1, st0));
        case kMul:
            return BitsOf(Popping<kMul>(st1, st0));
        case kSub:
            return BitsOf(Popping<kSub>(st1, st0));
        case kSubR:
            return BitsOf(Popping<kSubR>(st1, st0));
        case kDiv:
            return BitsOf(Popping<kDiv>(st1, st0));
        case kDivR:
            return BitsOf(Popping<kDivR>(st1, st0));
    }
    return {};
}

// ---- the results of the unit's rules ------------------------------------------------------

// a + b or a - b (a the minuend); the unit's result where neither is special.
TBits Sum(TOp op, TBits st1, TBits st0, TBits a, TBits b, bool subtract) {
    const TClass ca = ClassOf(a), cb = ClassOf(b);
    if (ca == TClass::kOther || cb == TClass::kOther) return Unit(op, st1, st0);
    if (ca == TClass::kNaN && cb == TClass::kNaN) return Unit(op, st1, st0);
    if (ca == TClass::kNaN) return Quieted(a);
    if (cb == TClass::kNaN) return Quieted(b);
    const bool nb = Negative(b) != subtract;  // the sign b is added with
    if (ca == TClass::kInfinity && cb == TClass::kInfinity)
        return Negative(a) == nb ? a : Indefinite();
    if (ca == TClass::kInfinity) return a;
    if (cb == TClass::kInfinity) return Infinity(nb);
    return Unit(op, st1, st0);
}

// a * b, or a / b.
TBits Product(TOp op, TBits st1, TBits st0, TBits a, TBits b, bool divide) {
    const TClass ca = ClassOf(a), cb = ClassOf(b);
    if (ca == TClass::kOther || cb == TClass::kOther) return Unit(op, st1, st0);
    if (ca == TClass::kNaN && cb == TClass::kNaN) return Unit(op, st1, st0);
    if (ca == TClass::kNaN) return Quieted(a);
    if (cb == TClass::kNaN) return Quieted(b);
    const bool negative = Negative(a) != Negative(b);
    const bool ia = ca == TClass::kInfinity, ib = cb == TClass::kInfinity;
    const bool za = ca == TClass::kZero, zb = cb == TClass::kZero;
    if (!divide) {
        if ((ia && zb) || (ib && za)) return Indefinite();
        if (ia || ib) return Infinity(negative);
        if (!za && !zb && ExponentOf(a) + ExponentOf(b) >= 16384) return Infinity(negative);
        return Unit(op, st1, st0);
    }
    if (ia && ib) return Indefinite();
    if (ia) return Infinity(negative);
    if (ib) return Zero(negative);
    if (zb) return za ? Indefinite() : Infinity(negative);
    if (!za && ExponentOf(a) - ExponentOf(b) >= 16385) return Infinity(negative);
    return Unit(op, st1, st0);
}

class TMachine {
  public:
    explicit TMachine(const ld *params) : params_(params) {}
    bool Run(const TBody &body, ld *results);

  private:
    TBits &Top(int i = 0) { return st_[depth_ - 1 - i]; }
    void Push(TBits v) { st_[depth_++] = v; }
    void Push(ld v) { st_[depth_++] = BitsOf(v); }
    TBits Pop() { return st_[--depth_]; }
    void Resolve() {
        if (pending_ && depth_ > 1) std::swap(Top(0), Top(1));
        pending_ = false;
    }
    // ST(1) op ST(0), popped, as the instruction of that operation computes it.
    void Arithmetic(TOp op) {
        const TBits st0 = Pop(), st1 = Pop();
        switch (op) {
            case kAdd:
                Push(Sum(op, st1, st0, st1, st0, false));
                return;
            case kSub:
                Push(Sum(op, st1, st0, st1, st0, true));
                return;
            case kSubR:
                Push(Sum(op, st1, st0, st0, st1, true));
                return;
            case kMul:
                Push(Product(op, st1, st0, st1, st0, false));
                return;
            case kDiv:
                Push(Product(op, st1, st0, st1, st0, true));
                return;
            case kDivR:
                Push(Product(op, st1, st0, st0, st1, true));
                return;
        }
    }
    void Keyword(int keyword);
    void Exp();
    // FPTAN and FSINCOS take finite operands below 2^63.
    static bool Trigonometric(TBits v) {
        const TClass c = ClassOf(v);
        return c == TClass::kZero || (c == TClass::kNormal && ExponentOf(v) < 63);
    }

    const ld *params_;
    TBits st_[kFloatStack];  // the x87 registers: the front end has bounded the stack by them
    int depth_ = 0;
    bool pending_ = false;
    bool failed_ = false;
    ld *results_ = nullptr;
    int32_t result_ = 0;
};

void TMachine::Keyword(int keyword) {
    switch (keyword) {
        case kfAdd:
        case kfMul:
            pending_ = false;
            Arithmetic(keyword == kfAdd ? kAdd : kMul);
            return;
        case kfSub:
            Arithmetic(pending_ ? kSub : kSubR);
            pending_ = false;
            return;
        case kfDiv:
            Arithmetic(pending_ ? kDiv : kDivR);
            pending_ = false;
            return;
        case kfSwap:
            pending_ = !pending_;
            return;
        default:
            break;
    }
    Resolve();
    const TKeywordFacts &k = kFloatFacts[keyword];
    if (k.stack == TStack::kConstant) {
        Push(k.constant());
        return;
    }
    TBits &top = Top();
    const TClass c = ClassOf(top);
    // An instruction of the unit on the top value.
    const auto unit = [&](ld (*instruction)(ld)) { top = BitsOf(instruction(ValueOf(top))); };
    switch (keyword) {
        case kfNeg:
            top.signExponent ^= 0x8000;
            return;
        case kfAbs:
            top.signExponent &= 0x7FFF;
            return;
        case kfSqr:
            top = Product(kMul, top, top, top, top, false);  // FMUL ST(0),ST(0), as FMULP
            return;
        case kfSqrt:
            if (c == TClass::kNaN)
                top = Quieted(top);
            else if (c == TClass::kInfinity)
                top = Negative(top) ? Indefinite() : top;
            else
                unit(OnTop<0xD9, 0xFA>);
            return;
        case kfSin:
        case kfCos:
            if (c == TClass::kNaN)
                top = Quieted(top);
            else if (c == TClass::kInfinity)
                top = Indefinite();
            else
                unit(keyword == kfSin ? OnTop<0xD9, 0xFE> : OnTop<0xD9, 0xFF>);
            return;
        case kf2Px:
            if (c == TClass::kNaN)
                top = Quieted(top);
            else if (c == TClass::kInfinity)
                top = Negative(top) ? MinusOne() : top;
            else
                unit(OnTop<0xD9, 0xF0>);
            return;
        case kfInt:
            if (c == TClass::kNaN)
                top = Quieted(top);
            else if (c != TClass::kInfinity)
                unit(OnTop<0xD9, 0xFC>);
            return;
        case kfRem: {
            const TBits r = BitsOf(WithSecond<0xF8>(ValueOf(Top(0)), ValueOf(Top(1))));
            Pop();  // FPREM, then FSTP ST(1)
            Top() = r;
            return;
        }
        case kfScale:
            Top() = BitsOf(WithSecond<0xFD>(ValueOf(Top(0)), ValueOf(Top(1))));
            return;
        case kfPatan:
        case kfYxLog2X: {
            const ld st0 = ValueOf(Pop()), st1 = ValueOf(Pop());
            ld r;
            if (keyword == kfPatan)
                asm("fpatan" : "=t"(r) : "0"(st0), "u"(st1) : "st(1)");
            else
                asm("fyl2x" : "=t"(r) : "0"(st0), "u"(st1) : "st(1)");
            Push(r);
            return;
        }
        case kfLog2: {
            ld significand, exponent;
            asm("fxtract" : "=t"(significand), "=u"(exponent) : "0"(ValueOf(top)));
            top = BitsOf(exponent);  // FXTRACT's significand is dropped
            return;
        }
        case kfTan: {
            if (!Trigonometric(top)) break;
            ld one, tangent;
            asm("fptan" : "=t"(one), "=u"(tangent) : "0"(ValueOf(top)));
            top = BitsOf(tangent);
            return;
        }
        case kfSinCos: {
            if (!Trigonometric(top)) break;
            ld sine, cosine;
            asm("fsincos" : "=t"(cosine), "=u"(sine) : "0"(ValueOf(top)));
            top = BitsOf(sine);
            Push(cosine);
            return;
        }
        case kfCopy:
            Push(top);
            return;
        case kfDel:
            Pop();
            return;
        case kfRet:
            results_[result_++] = ValueOf(Pop());
            return;
        case kfExp:
            Exp();
            return;
        default:
            return;
    }
    failed_ = true;  // FPTAN or FSINCOS would leave the operand and push nothing
}

// The sequence that "exp" compiles to, instruction by instruction.
void TMachine::Exp() {
    Push(kFloatFacts[kfLog2E].constant());  // FLDL2E
    Arithmetic(kMul);                       // t = x * log2 e
    Push(Top());                            // FLD ST(0)
    Keyword(kfInt);                         // n = FRNDINT
    {
        const TBits n = Top(0), t = Top(1);  // FSUB ST(1),ST(0): f = t - n below n
        Top(1) = Sum(kSub, t, n, t, n, true);
    }
    Push(1.0L);                                                          // FLD1
    Top() = BitsOf(WithSecond<0xFD>(ValueOf(Top(0)), ValueOf(Top(1))));  // FSCALE: 2^n
    Top(1) = Top(0);                                                     // FSTP ST(1)
    Pop();
    std::swap(Top(0), Top(1));  // FXCH ST(1): f on top
    Keyword(kf2Px);             // 2^f - 1
    Push(1.0L);
    Arithmetic(kAdd);  // 2^f
    Arithmetic(kMul);  // 2^f * 2^n
}

bool TMachine::Run(const TBody &body, ld *results) {
    results_ = results;
    for (const TWord &w : body.words) {
        if (w.kind == TWord::kParam) {
            Resolve();
            Push(params_[w.index]);
        } else if (w.kind == TWord::kLiteral) {
            Resolve();
            Push(w.real);
        } else {
            Keyword(w.index);
        }
        if (failed_) return false;
    }
    return true;
}

}  // namespace

bool Interpret(const TBody &body, const long double *params, long double *results) {
    return TMachine(params).Run(body, results);
}

}  // namespace quob
