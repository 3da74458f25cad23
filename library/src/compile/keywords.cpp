// The facts of every keyword, in the order of the scanner's keyword sets.
#include "compile/keywords.h"

#include <cmath>

#include "compile/tables.h"

namespace quob {
namespace {

// The constants as the x87 unit loads them (rounded to nearest).
long double Pi() {
    long double v;
    asm("fldpi" : "=t"(v));
    return v;
}
long double Log2Ten() {
    long double v;
    asm("fldl2t" : "=t"(v));
    return v;
}
long double Log2E() {
    long double v;
    asm("fldl2e" : "=t"(v));
    return v;
}
long double Log10Two() {
    long double v;
    asm("fldlg2" : "=t"(v));
    return v;
}
long double LnTwo() {
    long double v;
    asm("fldln2" : "=t"(v));
    return v;
}
long double Zero() { return 0; }
long double One() { return 1; }

uint32_t U(int32_t v) { return static_cast<uint32_t>(v); }
int32_t I(uint32_t v) { return static_cast<int32_t>(v); }

// Integer folds, as the integer code computes on the same values: arithmetic modulo 2^32.
int32_t Add(int32_t top, int32_t second) { return I(U(second) + U(top)); }
int32_t Subtract(int32_t top, int32_t second) { return I(U(top) - U(second)); }
int32_t Multiply(int32_t top, int32_t second) { return I(U(second) * U(top)); }
int32_t Negate(int32_t v, int32_t) { return I(0u - U(v)); }
int32_t Absolute(int32_t v, int32_t) { return v < 0 ? I(0u - U(v)) : v; }
// The square root as the x87 unit rounds it in the default mode; values below 1 stay as they are.
int32_t SquareRoot(int32_t v, int32_t) {
    if (v <= 0) return v;
    return static_cast<int32_t>(std::lrint(std::sqrt(static_cast<long double>(v))));
}
// The whole constant is squared (at run time only its low 16 bits are).
int32_t Square(int32_t v, int32_t) { return I(U(v) * U(v)); }
int32_t Sine(int32_t v, int32_t) { return SineLookup(v); }
int32_t Cosine(int32_t v, int32_t) { return SineLookup(I(U(v) + 32768u)); }

constexpr TKeywordFacts kUnary{1, 1};
constexpr TKeywordFacts kBinary{2, 1};

}  // namespace

const TKeywordFacts kFloatFacts[kFloatKeywordCount] = {
    /* +        */ kBinary,
    /* -        */ kBinary,
    /* neg      */ kUnary,
    /* *        */ kBinary,
    /* /        */ kBinary,
    /* \        */ {2, 1, 0, TStack::kOperation, nullptr, TDeepForm::kJumps},
    /* abs      */ kUnary,
    /* scale    */ {2, 2, 0, TStack::kScale, nullptr, TDeepForm::kFixedExponent},
    /* sqrt     */ kUnary,
    /* sqr      */ kUnary,
    /* sin      */ kUnary,
    /* cos      */ kUnary,
    /* sincos   */ {1, 2, 0, TStack::kSinCos},
    /* tan      */ {1, 1, 1},  // FPTAN pushes a 1.0, dropped at once
    /* patan    */ {2, 1, 0, TStack::kOperation, nullptr, TDeepForm::kNoForm},
    /* copy     */ {1, 2, 0, TStack::kCopy},
    /* swap     */ {2, 2, 0, TStack::kSwap},
    /* pi       */ {0, 1, 0, TStack::kConstant, Pi},
    /* 0        */ {0, 1, 0, TStack::kConstant, Zero},
    /* 1        */ {0, 1, 0, TStack::kConstant, One},
    /* ret      */ {1, 0, 0, TStack::kReturn},
    /* log2(10) */ {0, 1, 0, TStack::kConstant, Log2Ten},
    /* log2(e)  */ {0, 1, 0, TStack::kConstant, Log2E},
    /* log10{2) */ {0, 1, 0, TStack::kConstant, Log10Two},
    /* ln(2)    */ {0, 1, 0, TStack::kConstant, LnTwo},
    /* 2px      */ kUnary,
    /* int      */ {1, 1, 0, TStack::kOperation, nullptr, TDeepForm::kJumps},
    /* YxLog2X  */ {2, 1, 0, TStack::kOperation, nullptr, TDeepForm::kNoForm},
    /* del      */ {1, 0, 0, TStack::kDrop},
    /* log2     */ {1, 1, 1, TStack::kOperation, nullptr, TDeepForm::kJumps},  // FXTRACT's pair
    /* exp      */ {1, 1, 2},  // 2^n and the fraction beside the operand
};

const TKeywordFacts kIntFacts[kIntKeywordCount] = {
    /* +    */ {2, 1, 0, TStack::kOperation, nullptr, TDeepForm::kFollows, Add},
    /* -    */ {2, 1, 0, TStack::kOperation, nullptr, TDeepForm::kFollows, Subtract},
    /* neg  */ {1, 1, 0, TStack::kOperation, nullptr, TDeepForm::kFollows, Negate},
    /* *    */ {2, 1, 0, TStack::kOperation, nullptr, TDeepForm::kFollows, Multiply},
    /* /    */ {0, 0, 0, TStack::kNothing},
    /* \    */ {0, 0, 0, TStack::kNothing},
    /* abs  */ {1, 1, 0, TStack::kOperation, nullptr, TDeepForm::kFollows, Absolute},
    /* shl  */ {0, 0, 0, TStack::kNothing},
    /* shr  */ {0, 0, 0, TStack::kNothing},
    /* sqrt */ {1, 1, 0, TStack::kOperation, nullptr, TDeepForm::kFollows, SquareRoot},
    /* sqr  */ {1, 1, 0, TStack::kOperation, nullptr, TDeepForm::kFollows, Square, TTable::kSquare},
    /* sin  */ {1, 1, 0, TStack::kOperation, nullptr, TDeepForm::kFollows, Sine, TTable::kSine},
    /* cos  */ {1, 1, 0, TStack::kOperation, nullptr, TDeepForm::kFollows, Cosine, TTable::kSine},
    /* tan  */ {0, 0, 0, TStack::kNothing},
    /* copy */ {1, 2, 0, TStack::kCopy},
    /* swap */ {2, 2, 0, TStack::kSwap},
    /* time */ {0, 0, 0, TStack::kNothing},
    /* ret  */ {1, 0, 0, TStack::kReturn},
};

const char *DeepRefusalReason(TDeepForm form) {
    switch (form) {
        case TDeepForm::kJumps:
            return "its value jumps where the operand crosses a step";
        case TDeepForm::kNoForm:
            return "deep rendering has no form for its difference";
        case TDeepForm::kFixedExponent:
            return "its exponent varies from sample to sample";
        case TDeepForm::kFollows:
            break;
    }
    return "";
}

}  // namespace quob
